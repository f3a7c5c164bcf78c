// Command texts: short and long parts of command strings, tips with hotkeys, hotkey texts in menus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandTexts.h"
#include "config/AppSettings.h"
#include "framework/KeyNames.h"
#include "tests/app/CommandTextsTestIds.h"

namespace {

std::wstring Hotkey(WORD word)
{
    std::wstring text;
    HotkeyText(text, word);
    return text;
}

class CMenuFixture
{
public:
    CMenuFixture() : m_menu(CreatePopupMenu()) {}
    ~CMenuFixture() { DestroyMenu(m_menu); }
    CMenuFixture(const CMenuFixture&) = delete;
    CMenuFixture& operator=(const CMenuFixture&) = delete;

    HMENU Get() const { return m_menu; }
    void Add(UINT id, const std::wstring& text) { AppendMenuW(m_menu, MF_STRING, id, text.c_str()); }
    void AddSeparator() { AppendMenuW(m_menu, MF_SEPARATOR, 0, nullptr); }
    void AddPopup(HMENU popup, const wchar_t* text)
    {
        AppendMenuW(m_menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), text);
    }

    std::wstring TextAt(int position) const
    {
        wchar_t buf[300] = {};
        GetMenuStringW(m_menu, static_cast<UINT>(position), buf, 300, MF_BYPOSITION);
        return buf;
    }

private:
    HMENU m_menu;
};

constexpr WORD kCtrlShiftF5 = HOTKEY_MOD_CTRL | HOTKEY_MOD_SHIFT | VK_F5;
constexpr WORD kAltF9 = HOTKEY_MOD_ALT | VK_F9;

}  // namespace

TEST(CommandTexts, ShortAndLongParts)
{
    struct Case
    {
        UINT id;
        const wchar_t* shortPart;
        const wchar_t* longPart;
    };
    const Case cases[] = {
        {IDS_TEST_SHORT_LONG, L"Save", L"Save changes to the configuration"},
        {IDS_TEST_NO_LINE_FEED, L"Whole text", L"Whole text"},
        {IDS_TEST_ONLY_LONG, L"", L"Only the tip"},
        {IDS_TEST_ONLY_SHORT, L"Name", L""},
        {IDS_TEST_TWO_LINE_FEEDS, L"A", L"B\nC"},
        {IDS_TEST_MISSING, L"", L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.id);
        std::wstring shortPart = L"old";
        EXPECT_EQ(LoadStringShortPart(c.id, shortPart), static_cast<int>(wcslen(c.shortPart)));
        EXPECT_EQ(shortPart, c.shortPart);
        EXPECT_STREQ(LoadStringLongPart(c.id), c.longPart);
    }
}

TEST(CommandTexts, HotkeyMapTakesTheLastEntryOfACommandAndIsEmptyWhileSwitchedOff)
{
    CommandHotkeys hotkeys;
    const std::vector<uint32_t> entries = {MakeHotkeyEntry(ID_TEST_CMD_A, kAltF9),
                                           MakeHotkeyEntry(ID_TEST_CMD_B, kAltF9),
                                           MakeHotkeyEntry(ID_TEST_CMD_A, kCtrlShiftF5 | HOTKEY_GLOBAL)};
    hotkeys.Rebuild(entries, true);
    ASSERT_EQ(hotkeys.byCommand.size(), 2u);
    EXPECT_EQ(hotkeys.byCommand.at(ID_TEST_CMD_A & 0xFFFF),
              MakeHotkeyEntry(ID_TEST_CMD_A, kCtrlShiftF5 | HOTKEY_GLOBAL));
    EXPECT_EQ(hotkeys.byCommand.at(ID_TEST_CMD_B & 0xFFFF), MakeHotkeyEntry(ID_TEST_CMD_B, kAltF9));

    hotkeys.Rebuild(entries, false);
    EXPECT_TRUE(hotkeys.byCommand.empty());
    EXPECT_FALSE(hotkeys.enabled);
}

TEST(CommandTexts, TipTextWithHotkeyAndCutToTheRoom)
{
    CommandHotkeys hotkeys;
    hotkeys.Rebuild({MakeHotkeyEntry(ID_TEST_CMD_A, kCtrlShiftF5 | HOTKEY_GLOBAL),
                     MakeHotkeyEntry(ID_TEST_CMD_C, kAltF9)},
                    true);
    struct Case
    {
        UINT command;
        int room;
        std::wstring expected;
    };
    const Case cases[] = {
        {ID_TEST_CMD_A, 256, L"Start the transfer (" + Hotkey(kCtrlShiftF5) + L")"},
        {ID_TEST_CMD_B, 256, L"Stop the transfer"},
        {ID_TEST_CMD_C, 256, L"Plain tip (" + Hotkey(kAltF9) + L")"},
        {ID_TEST_CMD_LONG, 11, L"0123456789"},
        {ID_TEST_CMD_A, 6, L"Start"},
        {ID_TEST_CMD_A, 1, L""},
        {IDS_TEST_MISSING, 256, L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.expected);
        wchar_t buffer[256];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        EXPECT_EQ(GetCommandTipText(c.command, buffer, c.room, hotkeys), static_cast<int>(c.expected.size()));
        EXPECT_EQ(std::wstring(buffer), c.expected);
        if (c.room < 256)
        {
            EXPECT_EQ(buffer[c.room], L'#') << "written beyond the room";
        }
    }
    wchar_t untouched = L'#';
    EXPECT_EQ(GetCommandTipText(ID_TEST_CMD_A, &untouched, 0, hotkeys), 0);
    EXPECT_EQ(untouched, L'#');
}

TEST(CommandTexts, MenuItemsShowTheirHotkeysAfterATab)
{
    CommandHotkeys hotkeys;
    hotkeys.Rebuild({MakeHotkeyEntry(ID_TEST_CMD_A, kCtrlShiftF5), MakeHotkeyEntry(ID_TEST_CMD_B, kAltF9),
                     MakeHotkeyEntry(ID_TEST_CMD_C, kAltF9)},
                    true);
    CMenuFixture menu;
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, ID_TEST_CMD_D, L"Inner\tX");
    menu.Add(ID_TEST_CMD_A, L"&Start");
    menu.Add(ID_TEST_CMD_B, L"S&top\tOld+Key");
    menu.AddSeparator();
    menu.Add(ID_TEST_CMD_C, L"Plain\t" + Hotkey(kAltF9));
    menu.Add(ID_TEST_CMD_D, L"No hotkey\tCtrl+D");
    menu.Add(ID_TEST_CMD_LONG, L"Two\ttabs\there");
    menu.AddPopup(popup, L"Popup\tP");

    UpdateMenuHotkeyTexts(menu.Get(), hotkeys);
    const std::wstring expected[] = {
        L"&Start\t" + Hotkey(kCtrlShiftF5),
        L"S&top\t" + Hotkey(kAltF9),
        L"",
        L"Plain\t" + Hotkey(kAltF9),
        L"No hotkey",
        L"Two\ttabs",
        L"Popup\tP",
    };
    for (int i = 0; i < static_cast<int>(std::size(expected)); ++i)
        EXPECT_EQ(menu.TextAt(i), expected[i]) << i;
    // Only the menu's own items: the popup's items are updated when the popup opens.
    wchar_t inner[64] = {};
    GetMenuStringW(popup, 0, inner, 64, MF_BYPOSITION);
    EXPECT_STREQ(inner, L"Inner\tX");

    // A second pass changes nothing but the item that still has a tab without a hotkey.
    UpdateMenuHotkeyTexts(menu.Get(), hotkeys);
    for (int i = 0; i < static_cast<int>(std::size(expected)); ++i)
        EXPECT_EQ(menu.TextAt(i), i == 5 ? L"Two" : expected[i]) << i;
}

TEST(CommandTexts, HotkeysSwitchedOffRemoveEveryTabPartButTheMenuShortcuts)
{
    CommandHotkeys hotkeys;
    hotkeys.Rebuild({MakeHotkeyEntry(ID_TEST_CMD_A, kCtrlShiftF5)}, true);
    CMenuFixture menu;
    menu.Add(ID_TEST_CMD_A, L"&Start");
    menu.Add(ID_TEST_CMD_B, L"S&top\tAlt+F9");
    menu.Add(ID_TEST_CMD_C, L"Delete");
    UpdateMenuHotkeyTexts(menu.Get(), hotkeys);
    EXPECT_EQ(menu.TextAt(0), L"&Start\t" + Hotkey(kCtrlShiftF5));

    hotkeys.Rebuild({MakeHotkeyEntry(ID_TEST_CMD_A, kCtrlShiftF5)}, false);
    // A shortcut whose item is not in this menu leaves the others alone.
    hotkeys.menuShortcuts = {MakeHotkeyEntry(ID_TEST_CMD_LONG, VK_INSERT), MakeHotkeyEntry(ID_TEST_CMD_C, VK_DELETE)};
    UpdateMenuHotkeyTexts(menu.Get(), hotkeys);
    EXPECT_EQ(menu.TextAt(0), L"&Start");
    EXPECT_EQ(menu.TextAt(1), L"S&top");
    EXPECT_EQ(menu.TextAt(2), L"Delete\t" + Hotkey(VK_DELETE));
}

TEST(CommandTexts, ProcessWideHotkeysServeTheShortForms)
{
    CommandHotkeys& shared = GetCommandHotkeys();
    const CommandHotkeys saved = shared;
    shared.Rebuild({MakeHotkeyEntry(ID_TEST_CMD_B, kAltF9)}, true);
    wchar_t buffer[128];
    GetCommandTipText(ID_TEST_CMD_B, buffer, 128);
    EXPECT_EQ(std::wstring(buffer), L"Stop the transfer (" + Hotkey(kAltF9) + L")");
    CMenuFixture menu;
    menu.Add(ID_TEST_CMD_B, L"Stop");
    UpdateMenuHotkeyTexts(menu.Get());
    EXPECT_EQ(menu.TextAt(0), L"Stop\t" + Hotkey(kAltF9));
    shared = saved;
}
