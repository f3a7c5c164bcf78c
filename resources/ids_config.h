#pragma once
// Resource ids of config/.

// Strings
#define IDS_DEFAULT_FORMAT_NAME 134
#define IDS_DEFAULT_FILTER_NAME 152
#define IDS_NEW_TOOL 300
#define IDS_FIELD_REQUIRED 107          // "Field must be filled in."
#define IDS_SUCCESSFULLY 123            // "Successfully."
#define IDS_INVALID_NAME_CHARS 131      // "Name contains invalid characters: %s"
#define IDS_SETTINGS_OPEN_FILTER 262    // the import's file types
#define IDS_SETTINGS_SAVE_FILTER 265    // the export's file type
#define IDS_SETTINGS_DAMAGED 880          // the settings import's refusals: "%s" the file
#define IDS_SETTINGS_NEWER 881
#define IDS_SETTINGS_FOREIGN 882
#define IDS_SETTINGS_FOLDER 883
#define IDS_SETTINGS_DEVICE 884          // "%s" the file, "%s" the device it names

// Data
#define IDR_PRESETS 803     // RCDATA: the built-in formats and key filters
#define IDR_SETTINGS_GROUPS 835  // RCDATA: the names of the settings groups, one a line
#define IDR_EXT_TOOLS 838   // RCDATA: the built-in external tools

// The import and export settings dialog
#define IDD_MANAGE_SETTINGS 971
#define IDM_MANAGE_SETTINGS 835         // the group list's context menu
#define IDC_MS_IMPORT 1234
#define IDC_MS_EXPORT 1235
#define IDC_MS_RESET 1236
#define IDC_MS_ACTION_GROUP 1237
#define IDC_MS_PARAMS_GROUP 1238
#define IDC_MS_LIST 1239
#define IDC_MS_FILE 1240
#define IDC_MS_TOOLBAR 1241
#define IDC_MS_FILE_GROUP 1242
