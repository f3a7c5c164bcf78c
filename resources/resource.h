#pragma once
// Resource ids shared by the .rc files and the code.

#define IDI_MAINFRAME 100

// config/
#define IDS_NEW_TOOL 300
#define IDR_EXT_TOOLS 838 // RCDATA: the built-in external tools
#define IDS_DEFAULT_FORMAT_NAME 134
#define IDS_DEFAULT_FILTER_NAME 152
#define IDR_PRESETS 803 // RCDATA: the built-in formats and key filters

// framework/
#define IDS_APP_NAME 102
#define IDS_DONT_ASK 500
#define IDS_BUTTON_BASE 500 // + IDOK, IDCANCEL, ... : the button texts

// reader/
#define IDS_UNABLE_TO_CONNECT 120
#define IDS_FIRMWARE_VERSION 150
#define IDS_LOG_ERROR 206
#define IDS_LOG_PORT_OPENED 207
#define IDS_LOG_PORT_OPEN_FAILED 208
#define IDS_LOG_PORT_CLOSED 209
#define IDS_LOG_PORT_ERROR 210
#define IDS_LOG_RECEIVED 211
#define IDS_LOG_SENT 212
#define IDS_LOG_PORT_RECONFIGURED 213
#define IDS_LOG_PORT_RECONFIG_FAILED 214
#define IDS_LOG_READER_CONNECTED 215
#define IDS_LOG_CONNECT_FAILED 216
#define IDS_LOG_READER_DISCONNECTED 217
#define IDS_LOG_FOUND_KEY 218
#define IDS_LOG_LOST_KEY 219
#define IDS_LOG_SCARD_DISCONNECT 236
#define IDS_MODEL_NOT_SUPPORTED 245
#define IDS_SERIAL_NUMBER 254

// app/
#define IDS_ABOUT_MENU 103
#define IDS_SAVE_FAILED_QUIT 108
#define IDM_MAIN_MENU 109
#define IDS_SAVE_CONFIG_QUESTION 180
#define IDS_EXIT_QUESTION 181
#define IDS_DEFAULT_CONFIG_NAME 252
#define IDS_LOG_DEVNOTIFY_FAILED 290
#define IDS_LOG_MUTEX_TIMEOUT 291
#define IDS_LOG_ELEVATION_FAILED 292
#define IDS_EVENT_STARTED 246
#define IDS_RUNNING 430
#define IDI_APP_ICON 700
#define IDI_IDLE_ICON 701
#define IDB_SMALL_IMAGE_LIST 712
#define IDB_LARGE_IMAGE_LIST 713
#define IDS_RUN_AS_ADMIN 33028

// app/: shell dialogs and window services
#define IDR_KEY_TYPES 800           // RCDATA: the key-type names, one a line
#define IDD_ABOUT 900
#define IDC_ABOUT_NAME 1000
#define IDC_ABOUT_VERSION 1001
#define IDC_ABOUT_LINK_WEB 1002
#define IDC_ABOUT_LINK_MAIL 1003
#define IDC_ABOUT_ICON 1283
#define IDS_ABOUT_WEB 400           // the program's web address
#define IDS_ABOUT_MAIL 401          // the support mail address with a subject
#define IDD_PROGRESS 970
#define IDC_PROGRESS_TEXT 1218
#define IDC_PROGRESS_BAR 1219
#define IDS_JOB_PROGRESS 188        // "To execute the command "%s"..."
#define IDS_JOB_SUCCEEDED 189
#define IDS_JOB_FAILED 190
#define IDS_JOB_TEMIC_INIT 192
#define IDS_JOB_WRITE_KEYS 193

// app/: transfer control and the reader jobs
#define IDS_REALLY 121
#define IDS_NO_SOURCE 126
#define IDS_SOURCE_NAME_BASE 189    // + source kind 2..4: the source's name
#define IDS_SOURCE_KEYLIST 191
#define IDS_TRANSFER_STARTED 201
#define IDS_TRANSFER_STOPPED 202
#define IDS_TRANSFER_RESTARTED 203
#define IDS_LOG_READER_START 232
#define IDS_LOG_READER_STOP 233
#define IDS_LOG_READER_RECONNECT 234
#define IDS_PTV_CLIENT 249
#define IDS_PTV_SERVER 250
#define IDS_KEY_TYPES_OFF 519
#define IDS_NO_KEYS_TO_WRITE 521

// app/: log commands and the event table
#define IDS_REMOVE_FILE_QUESTION 106

// transfer/ (dispatcher and transfer log)
#define IDS_PRESET_PREFIX 183       // "[P] " before a preset format's name
#define IDS_DEST_NAME_BASE 194      // + destination type 1..5: the destination's name
#define IDS_DEST_KEYBOARD 195
#define IDS_DEST_CLIPBOARD 196
#define IDS_DEST_PORTAVO 197
#define IDS_DEST_CMDLINE 198
#define IDS_DEST_HTTP 199
#define IDS_EVENT_TRANSFER_OK 204
#define IDS_EVENT_TRANSFER_ERROR 205
#define IDS_TRANSFER_LOG_TEXTS 239
#define IDS_TRANSFERRED_KEY 489

// app/ (action catalogue)
#define IDR_ACTIONS 808 // RCDATA: the commands that hotkeys can be bound to

// transfer/
#define IDS_PTV_START 220
#define IDS_PTV_STOP 221
#define IDS_PTV_RESTART 222
#define IDS_PTV_LISTEN_OPEN 223
#define IDS_PTV_LISTEN_FAILED 224
#define IDS_PTV_LISTEN_CLOSED 225
#define IDS_PTV_CONNECTED 226
#define IDS_PTV_BROKEN 227
#define IDS_PTV_REJECTED 228
#define IDS_PTV_CONNECT_ERROR 229
#define IDS_PTV_SENT 230
#define IDS_PTV_NOT_SENT 231
