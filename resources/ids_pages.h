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
