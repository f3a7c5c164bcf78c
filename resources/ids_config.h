#pragma once
// Resource ids of config/.

// Strings
#define IDS_DEFAULT_FORMAT_NAME 134
#define IDS_DEFAULT_FILTER_NAME 152
#define IDS_NEW_TOOL 300

// Data
#define IDR_PRESETS 803     // RCDATA: the built-in formats and key filters
#define IDR_EXT_TOOLS 838   // RCDATA: the built-in external tools
