#include "app/CommandTexts.h"

#include <algorithm>

#include "core/TextUtil.h"
#include "framework/KeyNames.h"
#include "framework/SysFunctions.h"

namespace
{

// Menu item texts are read up to this many characters.
constexpr int kMenuTextRoom = 256;

std::wstring& SharedTextBuffer()
{
    static std::wstring buffer;
    return buffer;
}

// The hotkey text of a command, empty when it has none.
std::wstring CommandHotkeyText(const CommandHotkeys& hotkeys, UINT command)
{
    std::wstring text;
    if (command > 0xFFFF)
        return text;
    auto it = hotkeys.byCommand.find(static_cast<uint16_t>(command));
    if (it != hotkeys.byCommand.end())
        HotkeyText(text, static_cast<WORD>(it->second & 0xFFFF));
    return text;
}

bool SetItemText(HMENU menu, UINT position, std::wstring& text)
{
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text.data();
    return SetMenuItemInfoW(menu, position, TRUE, &info) != FALSE;
}

}  // namespace

void CommandHotkeys::Rebuild(const std::vector<uint32_t>& entries, bool hotkeysEnabled)
{
    byCommand.clear();
    enabled = hotkeysEnabled;
    if (!enabled)
        return;
    for (uint32_t entry : entries)
        byCommand[static_cast<uint16_t>(entry >> 16)] = entry;
}

CommandHotkeys& GetCommandHotkeys()
{
    static CommandHotkeys hotkeys;
    return hotkeys;
}

int LoadStringShortPart(UINT id, std::wstring& out)
{
    LoadResString(id, out);
    size_t lf = out.find(L'\n');
    if (lf != std::wstring::npos)
        out.resize(lf);
    return static_cast<int>(out.size());
}

const wchar_t* LoadStringLongPart(UINT id)
{
    std::wstring& buffer = SharedTextBuffer();
    LoadResString(id, buffer);
    size_t lf = buffer.find(L'\n');
    return lf == std::wstring::npos ? buffer.c_str() : buffer.c_str() + lf + 1;
}

int GetCommandTipText(UINT command, wchar_t* buffer, int room)
{
    return GetCommandTipText(command, buffer, room, GetCommandHotkeys());
}

int GetCommandTipText(UINT command, wchar_t* buffer, int room, const CommandHotkeys& hotkeys)
{
    if (!buffer || room <= 0)
        return 0;
    std::wstring tip = LoadStringLongPart(command);
    std::wstring key = CommandHotkeyText(hotkeys, command);
    if (!key.empty())
        tip += L" (" + key + L")";
    size_t count = std::min(tip.size(), static_cast<size_t>(room - 1));
    std::copy_n(tip.begin(), count, buffer);
    buffer[count] = L'\0';
    return static_cast<int>(count);
}

void UpdateMenuHotkeyTexts(HMENU menu)
{
    UpdateMenuHotkeyTexts(menu, GetCommandHotkeys());
}

void UpdateMenuHotkeyTexts(HMENU menu, const CommandHotkeys& hotkeys)
{
    const int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position)
    {
        wchar_t buf[kMenuTextRoom] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STRING | MIIM_ID | MIIM_SUBMENU;
        info.dwTypeData = buf;
        info.cch = kMenuTextRoom;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info))
            continue;
        // Separators and popups carry no command of their own.
        if (info.wID == 0 || info.wID >= 0xFFFF || info.hSubMenu)
            continue;
        std::wstring text(buf);
        const size_t tab = text.rfind(L'\t');
        std::wstring key = hotkeys.enabled ? CommandHotkeyText(hotkeys, info.wID) : std::wstring();
        if (!key.empty())
        {
            if (tab != std::wstring::npos && text.compare(tab + 1, std::wstring::npos, key) == 0)
                continue;
            if (tab != std::wstring::npos)
                text.resize(tab);
            text += L'\t';
            text += key;
            text.resize(std::min<size_t>(text.size(), kMenuTextRoom - 1));
            SetItemText(menu, static_cast<UINT>(position), text);
        }
        else if (tab != std::wstring::npos)
        {
            text.resize(tab);
            SetItemText(menu, static_cast<UINT>(position), text);
        }
    }
    // One entry at a time: a shortcut whose item is not in this menu must not stop the others.
    for (uint32_t entry : hotkeys.menuShortcuts)
    {
        const DWORD one = entry;
        SetMenuHotkeyTexts(menu, &one, 1);
    }
}
