#pragma once
// Resource ids shared by the .rc files and the code.

#define IDI_MAINFRAME 100

// config/
#define IDS_NEW_TOOL 300
