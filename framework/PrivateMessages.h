#pragma once
// Every private window message of the program, one name per value, so that a worker of any
// layer and the window that receives its posts agree on the number. tools/idcheck fails the
// tests on a second name for a value here, or on WM_USER+n written anywhere else.
#include <windows.h>

// Posted to the main window after a worker pushed to its queue or set a change bit. A table
// control posts WM_USER+1 and WM_USER+2 to itself for its width and order passes under names
// of its own (framework/TableCtrl.h).
constexpr UINT WM_READER_NOTIFY = WM_USER + 1;   // the reader thread
constexpr UINT WM_BRIDGE_NOTIFY = WM_USER + 2;   // the bridge link
constexpr UINT WM_TRAY_NOTIFY = WM_USER + 3;     // the notification-area icon's callback
constexpr UINT WM_SEARCH_NOTIFY = WM_USER + 4;   // the reader search found readers
constexpr UINT WM_CCID_READERS = WM_USER + 5;    // the PC/SC watcher's reader list changed

// Sent by the status bar to the current page: wParam and lParam point to an int each for the
// position and the total, preset to -1; a page that leaves the total at -1 shows nothing.
constexpr UINT WM_PAGE_QUERY = WM_USER + 1000;

// Below WM_USER, in the range the framework keeps for itself.
constexpr UINT WM_HELP_QUERY = 0x365;            // help for the window's own help id; non-zero when shown
constexpr UINT WM_KICKIDLE = 0x36A;              // idle pass of a modal loop; lParam = idle count
