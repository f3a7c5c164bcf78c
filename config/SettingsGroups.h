#pragma once
// The groups of settings that the import, export and reset choose from: bits of the
// configuration mask ("ui" "manageSettings" "tParams") and of the application mask ("aParams").
#include <cstdint>

// Configuration groups, held by the transfer document.
constexpr uint32_t CG_SOURCE = 0x001;        // "transfer" "source"
constexpr uint32_t CG_READER = 0x002;        // "reader"
constexpr uint32_t CG_KEYLIST = 0x004;       // "keyList"
constexpr uint32_t CG_DESTINATION = 0x008;   // "transfer" "destination"
constexpr uint32_t CG_KEYBOARD = 0x010;      // "keyboard"
constexpr uint32_t CG_PORTAVO = 0x020;       // "portavo"
constexpr uint32_t CG_CMDLINE = 0x040;       // "cmdline"
constexpr uint32_t CG_HTTP = 0x080;          // "httpRequest"
constexpr uint32_t CG_KEYFILTERS = 0x100;    // "keyFilters"
constexpr uint32_t CG_FORMATS = 0x200;       // "formats"
constexpr uint32_t CG_READKEYS = 0x400;      // "readKeys"
constexpr uint32_t CG_MIFARE_KEYS = 0x800;   // "mifareCKeys", "mifarePKeys"
constexpr uint32_t kAllConfigGroups = 0xFFF;
constexpr int kConfigGroupCount = 12;

// Application groups, held by the settings document.
constexpr uint32_t AG_SOUNDS = 0x001;        // "sounds"
constexpr uint32_t AG_HOTKEYS = 0x002;       // "hotkeys"
constexpr uint32_t AG_CONFIRM = 0x004;       // "ui" "confirm"
constexpr uint32_t AG_WINDOWS = 0x008;       // "ui" "formPos"
constexpr uint32_t AG_TRAY = 0x010;          // "ui" "trayIcon"
constexpr uint32_t AG_PANELS = 0x020;        // "ui" "panels"
constexpr uint32_t AG_PAGELIST = 0x040;      // "ui" "pageList"
constexpr uint32_t AG_COLUMNS = 0x080;       // "columns" of the nine page objects of "ui"
constexpr uint32_t AG_EXT_TOOLS = 0x100;     // "extTools"
constexpr uint32_t AG_OTHER = 0x200;         // "main", "debugLog", "transfer", ... the rest
constexpr uint32_t kAllAppGroups = 0x3FF;
constexpr uint32_t kUiPartGroups = AG_CONFIRM | AG_WINDOWS | AG_TRAY | AG_PANELS | AG_PAGELIST | AG_COLUMNS;
constexpr int kAppGroupCount = 10;
