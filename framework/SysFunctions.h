#pragma once
// Stateless helpers of the framework: control items by parameter, hotkey texts in menus,
// process image paths, line-break escapes for log lines, spaced hex, and the "/admin" shell link.
#include <windows.h>
#include <shobjidl.h>
#include <string>

// Index of the first tab whose item parameter is value; -1 when none.
int FindTabByParam(HWND tabControl, LPARAM value);
// Index of the first ComboBoxEx item whose item parameter is value; -1 when none.
int FindComboItemByParam(HWND comboBoxEx, LPARAM value);

// Restores a minimised window, shows a hidden one and brings it to the foreground; null: nothing.
void BringWindowForward(HWND window);

// Each entry: hotkey word in the low 16 bits, menu command id in the high 16 bits. Each item's
// text gets TAB and the hotkey's text after its last TAB (an item already showing it is left
// alone). False as soon as an item cannot be read or written; the rest are not processed.
bool SetMenuHotkeyTexts(HMENU menu, const DWORD* entries, int count);

// Full image path of a process into a buffer of MAX_PATH characters; its length, or 0 with the
// Win32 error as last error.
DWORD GetProcessImagePath(DWORD processId, wchar_t* buffer);

// CR becomes the two characters \r, LF the two characters \n; everything else is copied, the
// backslash included. length -1: up to the terminating zero. The narrow form widens each byte
// to the character of the same code.
std::wstring EscapeLineBreaks(const wchar_t* text, int length = -1);
std::wstring EscapeLineBreaksA(const char* text, int length = -1);

// Two upper-case hex digits a byte, separated by one blank.
std::wstring BytesToHexSpaced(const BYTE* bytes, int count);

// An in-memory shell link that starts this program with "/admin", titled for the jump list.
// A null title gives E_INVALIDARG.
HRESULT CreateAdminShellLink(const wchar_t* title, const wchar_t* iconPath, int iconIndex, IShellLinkW** link);
