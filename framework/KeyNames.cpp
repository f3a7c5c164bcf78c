#include "framework/KeyNames.h"
#include <cwchar>

namespace {

// Keys whose scan code needs the extended-key bit to be named as the key itself and not as
// its numeric-keypad twin.
bool IsExtendedKey(UINT vk)
{
    return (vk >= VK_PRIOR && vk <= VK_DOWN) || vk == VK_INSERT || vk == VK_DELETE ||
           (vk >= VK_LWIN && vk <= VK_APPS) || vk == VK_DIVIDE || vk == VK_NUMLOCK || vk == VK_RSHIFT ||
           vk == VK_RCONTROL || vk == VK_RMENU;
}

} // namespace

std::wstring FallbackKeyName(UINT vk)
{
    switch (vk) {
    case 0x13: return L"Pause";
    case 0x14: return L"Caps Lock";
    case 0x29: return L"Select";
    case 0x2A: return L"Print";
    case 0x2B: return L"Execute";
    case 0x2F: return L"Help";
    case 0x5D: return L"Apps";
    case 0x5F: return L"Sleep";
    case 0x6C: return L"Sep";
    default: {
        wchar_t buf[8];
        swprintf(buf, 8, L"0x%.2X", vk & 0xFFu);
        return buf;
    }
    }
}

int KeyNameText(std::wstring& text, UINT vk)
{
    LONG param = static_cast<LONG>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC) & 0xFF) << 16;
    if (IsExtendedKey(vk))
        param |= 1L << 24;
    wchar_t buf[256];
    const int n = GetKeyNameTextW(param, buf, 256);
    if (n > 0)
        text.assign(buf, static_cast<size_t>(n));
    else
        text = FallbackKeyName(vk);
    return static_cast<int>(text.size());
}

int HotkeyText(std::wstring& text, WORD hotkey)
{
    text.clear();
    const UINT vk = hotkey & 0xFF;
    if (vk == 0)
        return 0;
    if (hotkey & HOTKEYWORD_CTRL)
        text += L"Ctrl+";
    if (hotkey & HOTKEYWORD_SHIFT)
        text += L"Shift+";
    if (hotkey & HOTKEYWORD_ALT)
        text += L"Alt+";
    if (hotkey & HOTKEYWORD_WIN)
        text += L"Win+";
    std::wstring name;
    if (KeyNameText(name, vk) == 0) {
        text.clear();
        return 0;
    }
    text += name;
    return static_cast<int>(text.size());
}
