#pragma once
// Names of keys and hotkeys as the user sees them.
#include <windows.h>
#include <string>

// Hotkey word: the virtual-key code in the low byte, the modifiers in the high byte.
enum : WORD {
    HOTKEYWORD_ALT = 0x100,
    HOTKEYWORD_CTRL = 0x200,
    HOTKEYWORD_SHIFT = 0x400,
    HOTKEYWORD_WIN = 0x800,
};

// The layout's name of a key, else a fixed name, else "0x%.2X" of its code; returns the length.
int KeyNameText(std::wstring& text, UINT virtualKey);
// "Ctrl+Shift+Alt+Win+" (those present) and the key's name; empty for key code 0 or an unnamed key.
int HotkeyText(std::wstring& text, WORD hotkey);
// The name used when the keyboard layout has none (never empty).
std::wstring FallbackKeyName(UINT virtualKey);
