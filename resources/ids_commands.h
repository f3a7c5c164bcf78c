#pragma once
// Command ids: the menus, toolbars, accelerators, hotkeys and tray clicks of every folder send
// them, and a command's string (same id) holds its short name and its tip.

#define ID_APP_ABOUT 32778
#define ID_APP_EXIT 32779
#define ID_REFRESH_PORT_LIST 32782
#define ID_TRANSFER_START 32785
#define ID_TRANSFER_STOP 32786
#define ID_TRANSFER_RESTART 32787
#define ID_TOPMOST 32797
#define ID_MAIN_MENU 32801
#define ID_CONFIG_SAVE 32812
#define ID_CONFIG_NEW 32815
#define ID_CONFIG_DELETE 32816
#define ID_SHOW_MINIMIZE 32820      // "Show/Minimize Norvane"
#define ID_HELP_CONTENTS 32872
#define ID_RECONNECT_READER 32877
#define ID_CONFIG_OPEN 32881
#define ID_NEXT_KEY 32914
#define ID_VIEW_STATUSBAR 32922
#define ID_VIEW_PAGELIST 32923
#define ID_VERSION_TITLE 32939
#define ID_VIEW_TOOLBAR 32941
#define ID_PAGELIST_DEFAULT 32942   // the page list's default pages
#define ID_VIEW_HEADER 32965
#define ID_PREVIOUS_PAGE 32966
#define ID_PAGE_HELP 32967
#define ID_SNAP_TO_EDGES 32968
#define ID_MANAGE_SETTINGS 32980
#define ID_MS_BROWSE 32981          // the settings dialog: choose the file
#define ID_MS_SHOW_FILE 32982       // show the file in the shell
#define ID_MS_CHECK_ALL 32983
#define ID_MS_UNCHECK_ALL 32984
#define ID_MS_SELECT_ALL 32985
#define ID_RUN_AS_ADMIN 33028
#define ID_PAGELIST_CHECK_ALL 33032
#define ID_PAGELIST_UNCHECK_ALL 33033
