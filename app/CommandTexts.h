#pragma once
// Texts of commands: a command's string resource holds its short name (menus, buttons,
// jump list) and, after the first line feed, its long description (tooltips, status line).
// Menus and tooltips also show the hotkey bound to a command. UI thread only.
#include <windows.h>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The hotkeys that command texts show.
struct CommandHotkeys
{
    // Command id -> the whole hotkey entry (command in the high half, hotkey word in the low
    // half). Empty while hotkeys are switched off.
    std::map<uint16_t, uint32_t> byCommand;
    bool enabled = false;
    // Local shortcuts a page shows in the menu it is about to open (Insert, Delete, ...), as
    // hotkey entries; written into the menu whether or not hotkeys are enabled.
    std::vector<uint32_t> menuShortcuts;

    // Refills the map from the settings' hotkey list; a later entry for a command replaces an
    // earlier one.
    void Rebuild(const std::vector<uint32_t>& entries, bool hotkeysEnabled);
};

// The application's instance, read by the functions below.
CommandHotkeys& GetCommandHotkeys();

// The part before the first line feed (the whole text without one); returns its length.
int LoadStringShortPart(UINT id, std::wstring& out);
// The part after the first line feed (the whole text without one). The text lives in one
// shared buffer: the pointer is valid until the next call of this or GetCommandTipText.
const wchar_t* LoadStringLongPart(UINT id);
// The long part, and " (hotkey)" when the command has a hotkey, cut to the buffer's room
// (characters, terminator included). Returns the characters written; 0 without a text.
int GetCommandTipText(UINT command, wchar_t* buffer, int room);
int GetCommandTipText(UINT command, wchar_t* buffer, int room, const CommandHotkeys& hotkeys);

// Brings the hotkey texts after the TAB of each item of the menu in line with the hotkeys:
// an item with a hotkey shows it, every other item loses its TAB part, and the menu
// shortcuts are written last.
void UpdateMenuHotkeyTexts(HMENU menu);
void UpdateMenuHotkeyTexts(HMENU menu, const CommandHotkeys& hotkeys);
