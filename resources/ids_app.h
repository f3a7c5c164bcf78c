#pragma once
// Resource ids of app/: the main window, the shell dialogs, transfer control and the reader jobs.

// Strings
#define IDS_TEMIC_SCANNING 119      // "Scanning Temic... (%d/%d: type %d, speed %d, delay %d)"
#define IDS_ABOUT_MENU 103
#define IDS_REMOVE_FILE_QUESTION 106
#define IDS_SAVE_FAILED_QUIT 108
#define IDS_REALLY 121
#define IDS_NO_SOURCE 126
#define IDS_NEW_CONFIG_NAME 130       // "Configuration %d"
#define IDS_ITEM_EXISTS_REPLACE 132
#define IDS_CONFIG_UNREADABLE 147    // 133 is the replace question of several items; 135 to 138 name the sound events
#define IDS_SAVE_CONFIG_QUESTION 180
#define IDS_EXIT_QUESTION 181
#define IDS_JOB_PROGRESS 188        // "To execute the command "%s"..."
#define IDS_JOB_SUCCEEDED 189
#define IDS_SOURCE_NAME_BASE 189    // + source kind 2..4: the source's name
#define IDS_JOB_FAILED 190
#define IDS_SOURCE_KEYLIST 191
#define IDS_JOB_TEMIC_INIT 192
#define IDS_JOB_WRITE_KEYS 193
#define IDS_TRANSFER_STARTED 201
#define IDS_TRANSFER_STOPPED 202
#define IDS_TRANSFER_RESTARTED 203
#define IDS_LOG_READER_START 232
#define IDS_LOG_READER_STOP 233
#define IDS_LOG_READER_RECONNECT 234
#define IDS_EVENT_STARTED 246
#define IDS_PTV_CLIENT 249
#define IDS_PTV_SERVER 250
#define IDS_DEFAULT_CONFIG_NAME 252
#define IDS_LANGUAGE_AUTO 255
#define IDS_COL_CONFIG_NUMBER 290    // the open-configuration list's columns "#", "Name", "Changed"
#define IDS_COL_CONFIG_NAME 291
#define IDS_COL_CONFIG_CHANGED 292
#define IDS_LOG_DEVNOTIFY_FAILED 296
#define IDS_LOG_MUTEX_TIMEOUT 297
#define IDS_LOG_ELEVATION_FAILED 298
#define IDS_ABOUT_WEB 400           // the program's web address
#define IDS_ABOUT_MAIL 401          // the support mail address with a subject
#define IDS_LANGUAGE_INTERNAL 412
#define IDS_RUNNING 430
#define IDS_TIP_LAST_KEY 431
#define IDS_TIP_KEYS_LEFT 432
#define IDS_TIP_PAGE_ITEMS 433
#define IDS_TIP_TRANSFER_LOG 434    // "Transfer log: %s" with IDS_ON or IDS_OFF
#define IDS_TIP_DEBUG_LOG 435
#define IDS_ON 436
#define IDS_OFF 437
#define IDS_STATUS_TRANSFER_LOG 438 // "TL"
#define IDS_STATUS_DEBUG_LOG 439    // "DL"
#define IDS_LOG_SOUND_NAME 441      // a sound file name the media interface cannot take
#define IDS_KEY_TYPES_OFF 519
#define IDS_NO_KEYS_TO_WRITE 521

// Menus, icons, bitmaps and data
#define IDM_MAIN_MENU 109
#define IDI_APP_ICON 700
#define IDI_IDLE_ICON 701           // the tray icon while the transfer is stopped
#define IDB_SMALL_IMAGE_LIST 712
#define IDB_LARGE_IMAGE_LIST 713
#define IDB_PAGE_LIST_ARROWS 719   // the page list strip: fold and unfold, 4 pixels each
#define IDM_PAGE_LIST 829           // the page list's context menu
#define IDR_KEY_TYPES 800           // RCDATA: the key-type names, one a line
#define IDM_MAIN_POPUP 805          // the main-menu popup of the page toolbar
#define IDM_TRAY 806
#define IDR_ACTIONS 808             // RCDATA: the commands that hotkeys can be bound to
#define IDM_TRANSFER_LOG 812
#define IDM_APP_LOG 813
#define IDM_LAST_KEY 824
#define IDM_PAGE 833                // the page header's menu

// Dialogs and their controls
#define IDD_ABOUT 900
#define IDC_ABOUT_NAME 1000
#define IDC_ABOUT_VERSION 1001
#define IDC_ABOUT_LINK_WEB 1002
#define IDC_ABOUT_LINK_MAIL 1003
#define IDC_ABOUT_ICON 1283
#define IDD_CONFIGURATION 904        // "Configuration properties"
#define IDC_CONFIG_NAME 1106
#define IDC_CONFIG_COPY_CURRENT 1107
#define IDD_OPEN_CONFIG 964
#define IDC_CONFIG_LIST 1156
#define IDD_PROGRESS 970
#define IDC_PROGRESS_TEXT 1218
#define IDC_PROGRESS_BAR 1219
#define IDD_PAGE_LIST 951           // also the bar's control id in the main window
#define IDC_PAGE_LIST_TREE 1154
#define IDC_PAGE_LIST_STRIP 1243

// Children of the main window
#define IDC_TRANSFER_TOOLBAR 1004
#define IDC_PAGE_TOOLBAR 1005
#define IDC_STATUS_BAR 1168
#define IDC_PAGE_HEADER 1220

// Transfer toolbar
#define IDS_TIP_DEFAULT_FORMAT 104      // "Default"
#define IDS_FORMATS_SEVERAL 153         // "Several %d"
#define IDS_FORMATS_NONE 154            // "Not chosen"
#define IDS_LINK_DISCONNECTED 185       // a reader's or the bridge link's state: 0, 1, 2
#define IDS_LINK_CONNECTED 186
#define IDS_LINK_CONNECTING 187
#define IDS_PORTAVO_NOT_FOUND 402
#define IDS_FORMAT_NOT_SPECIFIED 496
#define IDI_TRANS_ARROW 702
#define IDB_TRANS_SOURCES 715           // source images: 2 a kind (idle, active), kinds 1 to 4, the key list
#define IDB_TRANS_DESTINATIONS 716      // destination images: 2 a type (idle, active)
#define IDR_TIP_KEYBOARD 814            // tip pages of the transfer toolbar (RTF)
#define IDR_TIP_CLIPBOARD 815
#define IDR_TIP_PORTAVO 816
#define IDR_TIP_READER 817
#define IDR_TIP_CMDLINE 819
#define IDR_TIP_KEYLIST 823
#define IDR_TIP_HTTP 837
#define IDC_TRANS_ARROW1 1006
#define IDC_TRANS_SOURCE 1007
#define IDC_TRANS_ARROW2 1008
#define IDC_TRANS_DESTINATION 1009

// External tools dialog
#define IDD_EXT_TOOLS 905
#define IDC_ET_LIST 1288
#define IDC_ET_ADD 1289
#define IDC_ET_DELETE 1290
#define IDC_ET_UP 1291
#define IDC_ET_DOWN 1292
#define IDC_ET_TITLE 1293
#define IDC_ET_COMMAND 1294
#define IDC_ET_ARGUMENTS 1296
#define IDC_ET_ADMIN 1297
#define IDC_ET_APPLY 1298
#define IDC_ET_COMMAND_BAR 1299
#define IDC_ET_ARGUMENTS_BAR 1300
#define IDC_ET_FOLDER_BAR 1301
#define IDC_ET_FOLDER 1313
#define IDM_ET_ARGUMENTS 839
#define ID_ET_BROWSE_PROGRAM 33048
#define ID_ET_GO_PROGRAM 33049
#define ID_ET_RUN 33050
#define ID_ET_CONFIGURE 33051
#define ID_ET_KEY_NUMBER 33052
#define ID_ET_BROWSE_FOLDER 33067
#define ID_ET_GO_FOLDER 33068
#define IDS_ET_PROGRAM_FILTER 267
#define IDS_ET_NOT_EXECUTABLE 301
