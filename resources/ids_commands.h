#pragma once
// Command ids: the menus, toolbars, accelerators, hotkeys and tray clicks of every folder send
// them, and a command's string (same id) holds its short name and its tip.

#define ID_ACTIVATE_TARGET 1143
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
#define ID_CONFIG_LIST 32826        // placeholder: the configurations
#define ID_LANGUAGE_LIST 32827      // placeholder: the languages
#define ID_SOUNDS_ON 32829
#define ID_OPEN_TRANSFER_LOG 32846
#define ID_GO_TRANSFER_LOG 32848
#define ID_CLEAR_TRANSFER_LOG 32850
#define ID_OPEN_APP_LOG 32854
#define ID_GO_APP_LOG 32855
#define ID_CLEAR_APP_LOG 32856
#define ID_HELP_CONTENTS 32872
#define ID_EVENTLOG_CLEAR 32875
#define ID_FORMAT_NEW 32876
#define ID_RECONNECT_READER 32877
#define ID_RECONNECT_PORTAVO 32878
#define ID_TRANSFER_TOGGLE 32879
#define ID_REPEAT_LAST 32880
#define ID_CONFIG_OPEN 32881
#define ID_CONFIG_USER1 32882       // to ID_CONFIG_USER3
#define ID_CONFIG_USER2 32883
#define ID_CONFIG_USER3 32884
#define ID_PAGE_FIRST 32885         // to ID_PAGE_LAST: the pages of kPageCommandPages
#define ID_PAGE_LOG 32886
#define ID_PAGE_READER 32887
#define ID_PAGE_KEYS 32888
#define ID_PAGE_FORMATS 32889
#define ID_PAGE_KEYBOARD 32890
#define ID_PAGE_PORTAVO 32891
#define ID_PAGE_ADVANCED 32892
#define ID_PAGE_SOUNDS 32893
#define ID_PAGE_HOTKEYS 32894
#define ID_PAGE_LAST 32895          // "Reading keys"
#define ID_SHOW_SOURCE 32896
#define ID_SHOW_DESTINATION 32897
#define ID_NEXT_KEY 32914
#define ID_KEYLIST_TIMER 32915
#define ID_VIEW_STATUSBAR 32922
#define ID_VIEW_PAGELIST 32923
#define ID_LAST_KEY 32932           // "Enter last key..."
#define ID_VERSION_TITLE 32939
#define ID_VIEW_TOOLBAR 32941
#define ID_PAGELIST_DEFAULT 32942   // the page list's default pages
#define ID_DEBUG_LOG_ON 32945
#define ID_TRANSFER_LOG_ON 32946
#define ID_COPY_LAST_KEY 32947
#define ID_RESET_COUNTER 32948
#define ID_INIT_TEMIC 32953
#define ID_WRITE_KEYS 32954
#define ID_VIEW_HEADER 32965
#define ID_PREVIOUS_PAGE 32966
#define ID_PAGE_HELP 32967
#define ID_SNAP_TO_EDGES 32968
#define ID_PAGE_DEFAULT 32979
#define ID_MANAGE_SETTINGS 32980
#define ID_COPY_ROWS 32904            // the selected rows as text
#define ID_SELECT_ALL_ROWS 32961
#define ID_EVENTLOG_ENABLE 32994
#define ID_EVENTLOG_DISABLE 32995
#define ID_BROWSE_DOC_FOLDER 32802
#define ID_GO_DOC_FOLDER 32803
#define ID_CONFIG_REFRESH 32817
#define ID_CONFIRM_CHECK_ALL 32836
#define ID_CONFIRM_UNCHECK_ALL 32838
#define ID_PARAM_SELECT_ALL 32969
#define ID_COLLAPSE_ALL 32970
#define ID_EXPAND_ALL 32971
#define ID_PARAM_DEFAULT 32972
#define ID_PARAM_APPLY 32973
#define ID_SELECT_GROUP 32974
#define ID_CONFIG_CONFIGURE 32996
#define ID_MS_BROWSE 32981          // the settings dialog: choose the file
#define ID_MS_SHOW_FILE 32982       // show the file in the shell
#define ID_MS_CHECK_ALL 32983
#define ID_MS_UNCHECK_ALL 32984
#define ID_MS_SELECT_ALL 32985
#define ID_EXIT_NO_SAVE 33003
#define ID_SHOW_WINDOW 33021
#define ID_MINIMIZE_WINDOW 33022
#define ID_RUN_AS_ADMIN 33028
#define ID_PAGELIST_CHECK_ALL 33032
#define ID_PAGELIST_UNCHECK_ALL 33033
#define ID_PAGE_LIST 33034          // placeholder: the pages
#define ID_EXT_TOOLS 33038
#define ID_EXT_TOOL_LIST 33039      // placeholder: the external tools
#define ID_EXT_TOOL_FIRST 33040     // to ID_EXT_TOOL_LAST
#define ID_EXT_TOOL_2 33041
#define ID_EXT_TOOL_3 33042
#define ID_EXT_TOOL_4 33043
#define ID_EXT_TOOL_5 33044
#define ID_EXT_TOOL_6 33045
#define ID_EXT_TOOL_7 33046
#define ID_EXT_TOOL_LAST 33047

// The table control's header menu and the column chooser's menu.
#define ID_CUSTOMIZE_COLUMNS 32925
#define ID_SELECT_ALL 32928
#define ID_DEFAULT_COLUMNS 32977
#define ID_NO_SORT_HEADER 33015
#define ID_RESET_COLUMNS 33064
#define ID_TABLE_COLUMN_BASE 35000    // + descriptor: show or hide that column
// Lists' context menus and buttons
#define ID_CHECK_ALL 32771
#define ID_UNCHECK_ALL 32772
#define ID_ITEM_ADD 32773
#define ID_ITEM_DELETE 32775
#define ID_CUSTOMIZE_TAB 32777      // the formats page's "Customize tab...": the key filters
#define ID_LIST_SELECT_ALL 32863
#define ID_ITEM_DUPLICATE 33061
#define ID_KEY_FILTERS_RESET 33084
