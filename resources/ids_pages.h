#pragma once
// Resource ids of pages/. A page's dialog id is also its title string and its help id.

// Dialogs
#define IDD_EVENTLOG_PAGE 950
#define IDD_FORMATS_PAGE 952
#define IDD_KEYBOARD_PAGE 953
#define IDD_PORTAVO_PAGE 954
#define IDD_READER_PAGE 955
#define IDD_HOTKEYS_PAGE 956
#define IDD_SOUNDS_PAGE 958
#define IDD_READKEYS_PAGE 962
#define IDD_KEYLIST_PAGE 963
#define IDD_TRANSFER_PAGE 968
#define IDD_ADVANCED_PAGE 972
#define IDD_SOURCE_PAGE 974
#define IDD_DESTINATION_PAGE 975

// Strings of the key list's import and export
#define IDS_KEYLIST_IMPORT_FILTER 258   // the open dialog's filter, kinds 1 to 6
#define IDS_KEYLIST_EXPORT_FILTER 259   // the save dialog's filter, kinds 1, 2, 3, 4 and 6
#define IDS_KEYLIST_COL_INDEX 280       // column titles by column id 0 to 5: 280, 281, 282, 285, 283, 284
#define IDS_KEYLIST_COL_TYPE 281
#define IDS_KEYLIST_COL_NUMBER 282
#define IDS_KEYLIST_COL_FORMAT 283
#define IDS_KEYLIST_COL_TEXT 284
#define IDS_KEYLIST_COL_SIZE 285
#define IDS_IMPORT_DAMAGED 286          // "%s": the file
#define IDS_IMPORT_NOT_CARD_BASE 287
#define IDS_CSV_OPEN_QUOTE 288
#define IDS_CARD_BASE_KEY_TOO_LONG 289  // "%s": the key's type and number
#define IDS_SPREADSHEET_MISSING 293

// Event-log page
#define IDC_EVENTLOG_LIST 1010
#define IDB_EVENT_LEVELS 714            // information, warning, error; 16 px, mask 0xFF00FF
#define IDM_EVENTLOG 811
#define IDS_EVENTLOG_COL_TIME 240       // column titles by column id 0 to 2
#define IDS_EVENTLOG_COL_SENDER 241
#define IDS_EVENTLOG_COL_MESSAGE 242
#define IDS_WRITE_ENABLED 515           // also the empty list's text
#define IDS_WRITE_DISABLED 516

// Parameter catalogue (the Advanced page's full list)
#define IDR_ADVANCED_PARAMS 847         // RCDATA: the groups and parameters, JSON
#define IDS_PARAM_YES 424
#define IDS_PARAM_NO 425
#define IDS_COMMAND_DISABLED 429        // a mouse click bound to nothing
#define IDS_ENCODING_ANSI 486
#define IDS_ENCODING_UTF8 487
#define IDS_LOG_LEVEL_NAMES 526         // log levels 1-6, separated by ";"

// Advanced page: the host, the full parameter list and the simple view
#define IDD_ADV_SIMPLE 957
#define IDD_ADV_ALL 959
#define IDB_FLAGS 711                   // the languages' flags, 16 px, mask 0xFF00FF
#define IDB_PARAM_TREE 717              // collapsed, expanded, last branch, branch
#define IDM_CONFIG_TOOLS 809
#define IDM_CONFIRM_BOXES 810
#define IDM_PARAM_LIST 834
#define IDS_PARAM_COL_NAME 456
#define IDS_PARAM_COL_VALUE 457
#define IDC_ADV_SIMPLE 1265
#define IDC_ADV_ALL 1266
#define IDC_ADV_PLACE 1267
#define IDC_PARAM_LIST 1221
#define IDC_PARAM_BAR 1222
#define IDC_PARAM_YES 1223
#define IDC_PARAM_NO 1224
#define IDC_PARAM_FOLDER 1226
#define IDC_PARAM_TOOLS 1227
#define IDC_PARAM_CHOICE 1228
#define IDC_PARAM_NUMBER 1246
#define IDC_PARAM_SPIN 1247
#define IDC_SIMPLE_LANGUAGE 1076
#define IDC_SIMPLE_SET_LANGUAGE 1077
#define IDC_SIMPLE_AUTORUN 1080
#define IDC_SIMPLE_TOPMOST 1081
#define IDC_SIMPLE_TRAY_MINIMIZE 1083
#define IDC_SIMPLE_TRAY_ALWAYS 1084
#define IDC_SIMPLE_AUTOSTART 1085
#define IDC_SIMPLE_TRANSFER_LOG 1089
#define IDC_SIMPLE_DEBUG_LOG 1090
#define IDC_SIMPLE_CONFIG 1101
#define IDC_SIMPLE_CONFIG_BAR 1102
#define IDC_SIMPLE_VERSION_TITLE 1232
#define IDC_SIMPLE_CONFIRM_EXIT 1248
#define IDC_SIMPLE_CONFIRM_SAVE 1249
#define IDC_SIMPLE_CONFIRM_DELETE 1250
#define IDC_SIMPLE_CONFIRM_REPLACE 1251
#define IDC_SIMPLE_CONFIRM_READER 1252
#define IDC_SIMPLE_CONFIRM_PRESET 1253
#define IDC_SIMPLE_UI_FRAME 1228
#define IDC_SIMPLE_LANGUAGE_FRAME 1202
#define IDC_SIMPLE_CONFIG_FRAME 1203
#define IDC_SIMPLE_CONFIRM_FRAME 1204
#define IDC_SIMPLE_TRAY_FRAME 1230
#define IDC_SIMPLE_GENERAL_FRAME 1231

// Transfer page
#define IDM_TRANSFER_SOURCE 830         // popup: configuring the source
#define IDM_TRANSFER_DEST 831           // popup: configuring the destination
#define IDC_TP_ENABLED 1180
#define IDC_TP_SOURCE 1181
#define IDC_TP_METHOD_GROUP 1185
#define IDC_TP_LAST_GROUP 1186
#define IDC_TP_BYTES 1188               // owner-drawn byte grid of the last key
#define IDC_TP_FORMAT 1189
#define IDC_TP_TRANSFERRED 1190
#define IDC_TP_WHERE 1191
#define IDC_TP_SOURCE_BAR 1192
#define IDC_TP_KEY 1193
#define IDC_TP_TIME 1194
#define IDC_TP_FORMAT_LABEL 1195
#define IDC_TP_TIME_LABEL 1196
#define IDC_TP_KEY_LABEL 1197
#define IDC_TP_TRANSFERRED_LABEL 1198
#define IDC_TP_DEST_BAR 1199
#define IDC_TP_COUNTER 1200
#define IDC_TP_COUNTER_BAR 1201
#define IDC_TP_METHOD_FIRST 1271        // radios 1271 to 1275: destination types 1 to 5
#define IDC_TP_METHOD_LAST 1275
#define ID_TP_SOURCE_MENU 32943
#define ID_TP_DEST_MENU 32944
#define ID_VELL4_DALLAS 33071           // 33071 to 33073: "vell4Mode" 0 to 2
#define ID_VELL4_EMMARINE 33072
#define ID_VELL4_QM100 33073
// The destination page, the keyboard page and the bridge link pages
#define IDD_HTTP_REQUEST 976
#define IDD_CMDLINE 977
#define IDD_PTV_SERVER 960
#define IDD_PTV_CLIENT 961
#define IDM_HTTP_ARGUMENTS 840
#define IDM_CMDLINE_ARGUMENTS 841
#define IDCUR_WINDOW_PICKER 709
#define IDC_DST_LIST 1312
#define IDC_CMD_PROGRAM 1268
#define IDC_CMD_PROGRAM_BAR 1269
#define IDC_CMD_ARGUMENTS 1270
#define IDC_CMD_ARGUMENTS_BAR 1302
#define IDC_CMD_INITIAL_DIR 1314
#define IDC_CMD_INITIAL_DIR_BAR 1303
#define IDC_HTTP_ADDRESS 1285
#define IDC_HTTP_ADDRESS_BAR 1301
#define IDC_DST_APPLY 1298
#define IDC_KBD_METHOD_GROUP 1260
#define IDC_KBD_UNICODE 1261
#define IDC_KBD_VKEYS 1262
#define IDC_KBD_AUTOIT 1263
#define IDC_KBD_TYPING_GROUP 1138
#define IDC_KBD_ACTIVATE_DELAY 1065
#define IDC_KBD_ACTIVATE_SPIN 1066
#define IDC_KBD_PRESS_DELAY 1061
#define IDC_KBD_PRESS_SPIN 1062
#define IDC_KBD_RELEASE_DELAY 1063
#define IDC_KBD_RELEASE_SPIN 1064
#define IDC_KBD_START_ADMIN 1091
#define IDC_KBD_WINDOW_GROUP 1139
#define IDC_KBD_FILTER_ON 1134
#define IDC_KBD_WINDOW_BAR 1141
#define IDC_KBD_CLASS 1135
#define IDC_KBD_TITLE 1140
#define IDC_KBD_FILE 1137
#define IDC_KBD_CLASS_LABEL 1144
#define IDC_KBD_TITLE_LABEL 1145
#define IDC_KBD_FILE_LABEL 1146
#define IDC_PTV_CLIENT 1115
#define IDC_PTV_SERVER 1116
#define IDC_PTV_NVT 1119
#define IDC_PTV_AREA 1120
#define IDC_PTV_CLIENT_GROUP 1121
#define IDC_PTV_HOST 1129
#define IDC_PTV_PORT 1117
#define IDC_PTV_PORT_SPIN 1118
#define IDC_PTV_PERIOD 1119
#define IDC_PTV_PERIOD_SPIN 1120
#define IDC_PTV_SERVER_GROUP 1123
#define IDC_PTV_LOCAL_PORT 1124
#define IDC_PTV_LOCAL_PORT_SPIN 1125
#define IDC_PTV_MAX_CONNECTIONS 1126
#define IDC_PTV_MAX_SPIN 1127
#define IDC_PTV_CONNECTIONS 1128
#define IDS_CMD_PROGRAM_FILTER 266     // "Programs|*.exe;*.bat|All files (*.*)|*.*"
#define IDS_DST_COL_CHOICE 390         // column titles by column id 0 to 4
#define IDS_DST_COL_NUMBER 391
#define IDS_DST_COL_NAME 392
#define IDS_DST_COL_TYPE 393
#define IDS_DST_COL_PARAMETERS 394
#define IDS_KBD_PRESS_TIP 1061         // tool tips: the part after the line feed
#define IDS_KBD_RELEASE_TIP 1063
#define IDS_KBD_START_ADMIN_TIP 1091
#define IDS_KBD_AUTOIT_TIP 1263
#define IDS_PTV_CLIENT_TIP 1115
#define IDS_PTV_SERVER_TIP 1116
#define IDS_KBD_GO_WINDOW 1147         // the label and the tip of the "Go to window" button
#define ID_KBD_SELECT_WINDOW 1142      // "Select window": the picker
#define ID_CMD_BROWSE_PROGRAM 33035
#define ID_CMD_SHOW_PROGRAM 33036
#define ID_HTTP_ARGUMENTS_MENU 33057
#define ID_HTTP_KEY_NUMBER 33058
#define ID_CMD_ARGUMENTS_MENU 33059
#define ID_CMD_KEY_NUMBER 33060
#define ID_CMD_BROWSE_DIR 33069
#define ID_CMD_SHOW_DIR 33070
#define ID_HTTP_READER_MODEL 33080
#define ID_HTTP_READER_SN 33081
#define IDS_KBD_METHOD_BASE 394        // + method 1 to 3: its name in the destination list
#define IDS_KBD_METHOD_UNICODE 395
#define IDS_KBD_METHOD_VKEYS 396
#define IDS_KBD_METHOD_AUTOIT 397
