#pragma once
// Resource ids of framework/.

// Strings
#define IDS_APP_NAME 102
#define IDS_RESOURCE_UNAVAILABLE 182  // "A required resource was unavailable."
#define IDS_DONT_ASK 500
#define IDS_BUTTON_BASE 500           // + IDOK, IDCANCEL, ... IDNO: the button texts 501..507

// The table control's header menu and the column chooser
#define IDS_ALIGN_LEFT 406
#define IDS_ALIGN_RIGHT 407
#define IDS_ALIGN_CENTER 408
#define IDS_COLUMN_NUMBER 510         // "#"
#define IDS_COLUMN_NAME 511
#define IDS_COLUMN_ALIGN 512
#define IDS_COLUMN_AUTOSIZE 513
#define IDS_COLUMN_VISIBLE 514        // also how a chooser knows a chooser's list
#define IDB_CHECK_IMAGES 718          // unchecked, checked, indeterminate: 16 pixels each, mask 0xFF00FF
#define IDM_TABLE_HEADER 825
#define IDM_COLUMN_CHOOSER 826
#define IDD_COLUMN_CHOOSER 966
#define IDC_COLUMN_LIST 1169
#define IDC_COLUMN_NAME 1170
#define IDC_COLUMN_ALIGN 1171
#define IDC_COLUMN_VISIBLE 1172
#define IDC_COLUMN_AUTOSIZE 1173
#define IDC_COLUMN_APPLY 1298
