#pragma once
#define IDS_SAVE 301
#define ID_SAVE 301                 // the command whose string it is
#define IDS_SAVE_AGAIN (IDS_SAVE + 1)
#define IDD_MAIN 900
#define IDC_MAIN_NAME 1000
#define IDD_OTHER 901
#define IDC_OTHER_NAME 1000         // controls are one space per dialog
