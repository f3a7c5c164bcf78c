#pragma once
// Resource ids of core/.

// Strings
#define IDS_COM_ERROR 139           // "COM error %#.8x"
#define IDS_LOG_VERSION_LINE 200    // "Log %.2d.%.2d.%.4d (Norvane v%s, Windows v%s)"
#define IDS_SYSTEM_ERROR 409        // "System error. Code: %d."
#define IDS_FILE_ERROR_BASE 600     // + file exception cause 0..13; "%s" receives the file name
