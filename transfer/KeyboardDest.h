#pragma once
// The keyboard destination: types a rendered text into another program's window. Key codes
// and pauses of the template stand in the text as U+0001, each taking the next entry of the
// key vector (bit 31 set: a pause of the remaining bits in ms; else bits 0-7 the virtual key
// and bits 8-11 the modifiers). UI thread only; everything runs synchronously.
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "config/FormatEngine.h"

struct _TRANS_DST_KEYBOARD;

// File name of the external typing library, looked for beside the program.
extern const wchar_t kAutoItLibraryName[];

// Chooses the target (the foreground window, or by the settings' window filter), brings it to
// the front, types by the settings' method and gives the foreground back. mainWindow is the
// program's own main window (never a target; null when there is none). destination receives
// the target's title. 0, KV_E_WINDOW_NOT_FOUND (filter on) or KV_E_NO_INPUT_FIELD (filter
// off) when there is no target, the Win32 error as a result code when the system refuses the
// input or a character has no key in any layout (method 2), or the codes of the library method.
HRESULT TypeToTargetWindow(const _TRANS_DST_KEYBOARD& settings, HWND mainWindow, const std::wstring& text,
                           const KeyVector& keys, std::wstring& destination);

// The first visible top-level window from start (the foreground window when null) downward
// in stacking order, other than mainWindow, whose class, title and process image path match
// the masks ("*" skips a test; case-sensitive wildcards). Null when none.
HWND FindTargetWindow(const wchar_t* classMask, const wchar_t* titleMask, const wchar_t* fileMask, HWND start,
                      HWND mainWindow);

// Methods 1 and 2 throw COSException when the system refuses an event (typing stops there);
// method 2 also when a character has no key in either layout (nothing is typed then).
// Method 1: Unicode keystrokes.
void TypeUnicodeText(const std::wstring& text, const KeyVector& keys, DWORD pressDelay,
                     DWORD releaseDelay);
// Method 2: virtual keys of the target's keyboard layout, else of the US layout.
void TypeLayoutKeys(const std::wstring& text, const KeyVector& keys, DWORD pressDelay,
                    DWORD releaseDelay, HWND target);
// Method 3: the external typing library.
HRESULT TypeWithAutoIt(const std::wstring& text, const KeyVector& keys, DWORD pressDelay,
                       DWORD releaseDelay);

// The library's name of a virtual key ("{ENTER}", "{F5}", "7", "{a}"); empty when it has none.
std::wstring AutoItKeyName(UINT vk);
