#pragma once
// Resource ids shared by the .rc files and the code.

#define IDI_MAINFRAME 100

// config/
#define IDS_NEW_TOOL 300

// framework/
#define IDS_APP_NAME 102
#define IDS_DONT_ASK 500
#define IDS_BUTTON_BASE 500 // + IDOK, IDCANCEL, ... : the button texts
