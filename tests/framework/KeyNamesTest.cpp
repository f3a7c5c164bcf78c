#include <gtest/gtest.h>
#include <windows.h>
#include "framework/KeyNames.h"

namespace {

// The keyboard layout's own name of a key, asked for the way a user-facing name is asked for.
std::wstring SystemName(UINT vk, bool extended)
{
    LONG param = static_cast<LONG>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
    if (extended)
        param |= 1L << 24;
    wchar_t buf[256] = {};
    const int n = GetKeyNameTextW(param, buf, 256);
    return std::wstring(buf, n > 0 ? n : 0);
}

} // namespace

TEST(KeyNames, HotkeyTextOfModifiersAndKey)
{
    const std::wstring f5 = SystemName(VK_F5, false);
    ASSERT_FALSE(f5.empty());
    const std::wstring a = SystemName('A', false);
    ASSERT_FALSE(a.empty());
    struct Case {
        WORD hotkey;
        std::wstring expected;
    } cases[] = {
        {0x0674, L"Ctrl+Shift+" + f5},
        {0x0174, L"Alt+" + f5},
        {0x0241, L"Ctrl+" + a},
        {0x0841, L"Win+" + a},
        {0x0F41, L"Ctrl+Shift+Alt+Win+" + a}, // fixed order, whatever the bit order
        {0x0041, a},
        {0x0000, L""},
        {0x0F00, L""}, // modifiers without a key
        {0x1041, a},   // bits above the four modifiers add nothing
    };
    for (const Case& c : cases) {
        std::wstring text = L"stale";
        EXPECT_EQ(static_cast<int>(c.expected.size()), HotkeyText(text, c.hotkey)) << std::hex << c.hotkey;
        EXPECT_EQ(c.expected, text) << std::hex << c.hotkey;
    }
}

TEST(KeyNames, ExtendedKeysAreNamedAsThemselves)
{
    // Without the extended bit these scan codes name the numeric keypad's keys.
    for (UINT vk : {UINT(VK_DELETE), UINT(VK_INSERT), UINT(VK_HOME), UINT(VK_END), UINT(VK_PRIOR), UINT(VK_NEXT),
                    UINT(VK_LEFT), UINT(VK_UP), UINT(VK_RIGHT), UINT(VK_DOWN), UINT(VK_DIVIDE), UINT(VK_RCONTROL),
                    UINT(VK_RMENU)}) {
        const std::wstring expected = SystemName(vk, true);
        if (expected.empty())
            continue; // the layout has no name: the fallback is checked below
        std::wstring text;
        KeyNameText(text, vk);
        EXPECT_EQ(expected, text) << std::hex << vk;
    }
    std::wstring del, decimal;
    KeyNameText(del, VK_DELETE);
    KeyNameText(decimal, VK_DECIMAL);
    EXPECT_NE(del, decimal) << "Delete must not read as the keypad's decimal key";
}

TEST(KeyNames, FallbackNames)
{
    struct Case {
        UINT vk;
        const wchar_t* expected;
    } cases[] = {
        {0x13, L"Pause"},  {0x14, L"Caps Lock"}, {0x29, L"Select"}, {0x2A, L"Print"},
        {0x2B, L"Execute"}, {0x2F, L"Help"},     {0x5D, L"Apps"},   {0x5F, L"Sleep"},
        {0x6C, L"Sep"},    {0x07, L"0x07"},      {0xE8, L"0xE8"},   {0xFF, L"0xFF"},
        {0x0A, L"0x0A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, FallbackKeyName(c.vk)) << std::hex << c.vk;
        // Through KeyNameText whenever the layout itself has no name for the key.
        if (SystemName(c.vk, false).empty() && SystemName(c.vk, true).empty()) {
            std::wstring text;
            EXPECT_EQ(static_cast<int>(wcslen(c.expected)), KeyNameText(text, c.vk));
            EXPECT_EQ(c.expected, text) << std::hex << c.vk;
        }
    }
    // A reserved code has no scan code, so no layout names it.
    std::wstring text;
    KeyNameText(text, 0xE8);
    EXPECT_EQ(L"0xE8", text);
    EXPECT_EQ(L"Ctrl+0xE8", (HotkeyText(text, 0x02E8), text));
}
