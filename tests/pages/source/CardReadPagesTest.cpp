// The card-memory sub-pages driven through their own controls under the test display: what
// each control stores, what the slot list does with its keys, the calls into the application,
// and a sampled picture of each page and of the key dialog.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../support/FakePageHost.h"
#include "../../support/TempFolder.h"
#include "../../support/WindowPicture.h"
#include "config/TransferDoc.h"
#include "pages/source/CardReadPages.h"
#include "pages/source/MifareKeysPage.h"
#include "resources/ids_commands.h"
#include "resources/ids_pages.h"
#include "tests/pages/source/KeyListTestSupport.h"
#include "tests/pages/source/PageWindowSupport.h"

namespace {

using page_test::Pump;

_KEY_NUMBER Key(bool plus, const wchar_t* text)
{
    _KEY_NUMBER key{};
    (plus ? ParseMifarePlusKey : ParseMifareClassicKey)(text, key);
    return key;
}

class CardPagesTest : public ::testing::Test
{
protected:
    CTransferDoc& Doc() { return host.GetTransferDoc(); }
    static HWND Item(const CBasePage& page, int id) { return GetDlgItem(page.m_hWnd, id); }
    static void Click(const CBasePage& page, int id)
    {
        SendMessageW(Item(page, id), BM_CLICK, 0, 0);
        Pump();
    }
    static void Choose(const CBasePage& page, int id, int index)
    {
        SendMessageW(Item(page, id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(page.m_hWnd, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(page, id)));
    }
    static std::wstring ChosenText(const CBasePage& page, int id)
    {
        wchar_t text[64] = {};
        GetWindowTextW(Item(page, id), text, 64);
        return text;
    }
    static void Command(const CBasePage& page, int id) { SendMessageW(page.m_hWnd, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    static void Type(HWND edit, const std::wstring& text)
    {
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        for (wchar_t c : text)
            SendMessageW(edit, WM_CHAR, c, 1);
        Pump();
    }
    static void SetText(const CBasePage& page, int id, const std::wstring& text)
    {
        SetWindowTextW(Item(page, id), text.c_str());  // the edit tells its page EN_CHANGE
        Pump();
    }
    static void SelectRows(HWND list, std::initializer_list<int> rows)
    {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
        for (int row : rows) {
            item.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        }
    }
    // A key pressed on the list, with Shift held or not.
    static void PressKey(HWND list, UINT key, bool shift = false)
    {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        SetFocus(list);
        SendMessageW(list, WM_KEYDOWN, key, 1);
        SendMessageW(list, WM_KEYUP, key, 0xC0000001);
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
        Pump();
    }
    static std::wstring RowText(HWND list, int row)
    {
        wchar_t text[80] = {};
        LVITEMW item{};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = 80;
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return text;
    }
    static bool RowChecked(HWND list, int row)
    {
        return SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK) == 0x2000;
    }
    static bool Visible(const CBasePage& page, int id) { return IsWindowVisible(Item(page, id)) != FALSE; }
    static bool Enabled(const CBasePage& page, int id) { return IsWindowEnabled(Item(page, id)) != FALSE; }

    // Saves the window's picture under name beside the test and samples it: the window's face
    // and, in each field, ink of at least leastInk pixels.
    static void CheckPicture(HWND window, const wchar_t* name, COLORREF face, std::initializer_list<std::pair<HWND, int>> fields)
    {
        const CWindowPicture picture(window, name);
        ASSERT_TRUE(picture.Ok()) << picture.Problem();
        EXPECT_EQ(face, picture.Dominant(ClientRectInWindowPicture(window, window)));
        for (const auto& [field, leastInk] : fields) {
            const RECT r = ClientRectInWindowPicture(window, field);
            EXPECT_GE(picture.InkPixels(r, picture.Dominant(r)), leastInk) << GetDlgCtrlID(field);
        }
    }

    CFakePageHost host;
    page_test::CPageFrame frame;
};

}  // namespace

TEST_F(CardPagesTest, ClassicSettingsFollowTheControls)
{
    CMifareCPage page(host);
    ASSERT_TRUE(frame.Place(page));
    EXPECT_FALSE(Enabled(page, IDC_MF_SECTOR));
    wchar_t shown[20] = {};
    GetWindowTextW(Item(page, IDC_MF_KEY_EDIT), shown, 20);
    EXPECT_STREQ(L"3C917A5E08D4", shown);
    Click(page, IDC_MF_ENABLED);
    EXPECT_TRUE(Enabled(page, IDC_MF_SECTOR));
    EXPECT_TRUE(Enabled(page, IDC_MF_KEY_EDIT));

    const struct {
        int sector;
        int blocks;
        const wchar_t* text;
    } sectors[] = {{4, 4, L"4  Mini"}, {31, 4, L"31  2K"}, {32, 16, L"32"}, {39, 16, L"39  4K"}};
    for (const auto& s : sectors) {
        Choose(page, IDC_MF_SECTOR, s.sector);
        EXPECT_EQ(s.blocks, SendMessageW(Item(page, IDC_MF_BLOCK), CB_GETCOUNT, 0, 0)) << s.sector;
        EXPECT_EQ(s.text, ChosenText(page, IDC_MF_SECTOR));
    }
    Choose(page, IDC_MF_SECTOR, 32);
    Choose(page, IDC_MF_BLOCK, 5);
    Click(page, IDC_MF_KEY_B);
    Type(Item(page, IDC_MF_KEY_EDIT), L"A0A1A2A3A4A5");

    const MifareReadSettings& classic = Doc().readKeys.classic;
    EXPECT_TRUE(classic.enabled);
    EXPECT_EQ(32, classic.sector);
    EXPECT_EQ(5, classic.block);
    EXPECT_EQ(MIFARE_KEY_B, classic.flags);
    EXPECT_EQ(6, classic.key.length);
    const uint8_t bytes[6] = {0xA5, 0xA4, 0xA3, 0xA2, 0xA1, 0xA0};  // in record order
    EXPECT_EQ(0, memcmp(bytes, classic.key.bytes, 6));
    EXPECT_FALSE(Doc().readKeys.plus.enabled);

    CheckPicture(frame.Handle(), L"MifareClassicPage.bmp", GetSysColor(COLOR_WINDOW),
                 {{Item(page, IDC_MF_KEY_EDIT), 40}, {Item(page, IDC_MF_SECTOR), 20}});
}

TEST_F(CardPagesTest, SlotsAreCheckedWithSpaceAndShownByNumberOrKey)
{
    {
        CDocUpdateScope scope(Doc());
        Doc().SetMifareClassicEnabled(true);
        Doc().MifareClassicKeys() = {DefaultMifareKey(false), _KEY_NUMBER{}, Key(false, L"A0A1A2A3A4A5")};
    }
    CMifareCPage page(host);
    ASSERT_TRUE(frame.Place(page));
    const HWND list = Item(page, IDC_MF_SLOT_LIST);
    EXPECT_TRUE(Visible(page, IDC_MF_KEY_EDIT));
    EXPECT_FALSE(Visible(page, IDC_MF_SLOT_LIST));
    Click(page, IDC_MF_KEY_MEMORY);
    EXPECT_EQ(MIFARE_BY_MASK, Doc().readKeys.classic.flags);
    EXPECT_FALSE(Visible(page, IDC_MF_KEY_EDIT));
    EXPECT_TRUE(Visible(page, IDC_MF_SLOT_LIST));

    Command(page, ID_MFKEYS_CHECK_BASE + 1);
    EXPECT_EQ(0u, Doc().readKeys.classic.mask);
    SelectRows(list, {0, 2});
    PressKey(list, VK_SPACE);
    EXPECT_EQ(0x5u, Doc().readKeys.classic.mask);
    EXPECT_TRUE(RowChecked(list, 0));
    EXPECT_FALSE(RowChecked(list, 1));
    EXPECT_TRUE(RowChecked(list, 2));

    EXPECT_EQ(32, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    EXPECT_EQ(L"Cell #0", RowText(list, 0));
    EXPECT_EQ(L"Cell #31", RowText(list, 31));
    Command(page, ID_MFKEYS_SHOW);
    EXPECT_EQ(1u, host.settings.GetReadKeysViewFlags() & 1);
    const wchar_t* shown[] = {L"#1: 3C917A5E08D4", L"#2: ?", L"#3: A0A1A2A3A4A5", L"#4: ?"};
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(shown[row], RowText(list, row));

    // Another writer of the list (an import, the key dialog) is followed.
    {
        CDocUpdateScope scope(Doc());
        Doc().MifareClassicKeys()[1] = Key(false, L"B0B1B2B3B4B5");
        Doc().MifareClassicKeysChanged();
    }
    EXPECT_EQ(L"#2: B0B1B2B3B4B5", RowText(list, 1));
    Command(page, ID_MFKEYS_CHECK_BASE);
    EXPECT_EQ(0xFFFFFFFFu, Doc().readKeys.classic.mask);
    EXPECT_TRUE(RowChecked(list, 1));
}

TEST_F(CardPagesTest, DeletingSlotsAsksByConfirmBitAndShiftDeletesSilently)
{
    const struct {
        std::initializer_list<int> rows;
        bool shift;
        bool confirm;
        int answer;
        const wchar_t* question;   // nullptr: none asked
        size_t keysLeft;           // of the three slots 0, 1, 2 with keys
    } cases[] = {
        {{0}, false, true, IDOK, L"Remove \"Cell #0\"?", 2},
        {{0, 2}, false, true, IDOK, L"Remove 2 items?", 1},
        {{0, 2}, false, true, IDCANCEL, L"Remove 2 items?", 3},
        {{1}, true, true, IDCANCEL, nullptr, 2},
        {{1}, false, false, IDCANCEL, nullptr, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.question ? c.question : L"(silent)");
        {
            CDocUpdateScope scope(Doc());
            Doc().MifareClassicKeys().assign(3, DefaultMifareKey(false));
            Doc().SetMifareClassicEnabled(true);
            Doc().SetMifareClassicFlags(MIFARE_BY_MASK);
        }
        host.settings.SetConfirmFlags(c.confirm ? CONFIRM_DELETE : 0);
        host.messages.clear();
        host.answers = {c.answer};
        CMifareCPage page(host);
        ASSERT_TRUE(frame.Place(page));
        const HWND list = Item(page, IDC_MF_SLOT_LIST);
        SelectRows(list, c.rows);
        PressKey(list, VK_DELETE, c.shift);
        EXPECT_EQ(c.question ? std::vector<std::wstring>{c.question} : std::vector<std::wstring>{}, host.messages);
        size_t left = 0;
        for (const _KEY_NUMBER& key : Doc().GetMifareClassicKeys())
            left += key.length != 0;
        EXPECT_EQ(c.keysLeft, left);
        page.Destroy();
    }
}

TEST_F(CardPagesTest, WritingSlotsHandsTheSlotMaskToTheReaderJob)
{
    {
        CDocUpdateScope scope(Doc());
        Doc().MifareClassicKeys().assign(18, DefaultMifareKey(false));
        Doc().SetMifareClassicEnabled(true);
        Doc().SetMifareClassicFlags(MIFARE_BY_MASK);
    }
    CMifareCPage page(host);
    ASSERT_TRUE(frame.Place(page));
    const HWND list = Item(page, IDC_MF_SLOT_LIST);
    host.settings.SetConfirmFlags(CONFIRM_WRITE_KEYS);
    Command(page, ID_MFKEYS_WRITE_ALL);
    SelectRows(list, {1, 17});
    Command(page, ID_MFKEYS_WRITE_SELECTED);
    host.settings.SetConfirmFlags(0);
    Command(page, ID_MFKEYS_WRITE_SELECTED);
    SelectRows(list, {});
    Command(page, ID_MFKEYS_WRITE_SELECTED);   // nothing selected: nothing to write
    EXPECT_EQ((std::vector<std::wstring>{L"WriteKeysToReader|0|4294967295|1", L"WriteKeysToReader|0|131074|1",
                                         L"WriteKeysToReader|0|131074|0"}),
              host.calls);

    // The menu as it would open: writing only while a reader job may start.
    const struct {
        bool jobPossible;
        std::initializer_list<int> rows;
        bool change, writeAll, writeSelected;
    } menus[] = {
        {true, {}, false, true, false},
        {true, {3}, true, true, true},
        {false, {3}, true, false, false},
    };
    for (const auto& m : menus) {
        host.readerJobPossible = m.jobPossible;
        SelectRows(list, m.rows);
        HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_MIFARE_KEYS));
        ASSERT_TRUE(menu);
        HMENU popup = GetSubMenu(menu, 0);
        page.PrepareKeysMenu(popup);
        const auto on = [popup](UINT id) { return !(GetMenuState(popup, id, MF_BYCOMMAND) & MF_GRAYED); };
        EXPECT_EQ(m.change, on(ID_MFKEYS_CHANGE));
        EXPECT_EQ(m.change, on(ID_MFKEYS_DELETE));
        EXPECT_EQ(m.writeAll, on(ID_MFKEYS_WRITE_ALL));
        EXPECT_EQ(m.writeSelected, on(ID_MFKEYS_WRITE_SELECTED));
        EXPECT_EQ(static_cast<UINT>(ID_MFKEYS_CHANGE), GetMenuDefaultItem(popup, FALSE, GMDI_USEDISABLED));
        DestroyMenu(menu);
    }
    EXPECT_EQ((std::vector<uint32_t>{0x80BB000D, 0x80D2002E, 0x80BF0241}), host.menuShortcuts);
}

TEST_F(CardPagesTest, PlusPageEditsItsOwnSettingsAndKeys)
{
    CMifarePPage page(host);
    ASSERT_TRUE(frame.Place(page));
    Click(page, IDC_MF_ENABLED);
    Choose(page, IDC_MF_SECTOR, 2);
    Click(page, IDC_MF_KEY_A);
    wchar_t shown[40] = {};
    GetWindowTextW(Item(page, IDC_MF_KEY_EDIT), shown, 40);
    EXPECT_STREQ(L"6B21E0945F3AC708D27E41B90C65F31A", shown);
    Type(Item(page, IDC_MF_KEY_EDIT), L"00112233445566778899AABBCCDDEEFF");
    const MifareReadSettings& plus = Doc().readKeys.plus;
    EXPECT_TRUE(plus.enabled);
    EXPECT_EQ(2, plus.sector);
    EXPECT_EQ(0u, plus.flags);
    EXPECT_EQ(16, plus.key.length);
    EXPECT_EQ(0xFF, plus.key.bytes[0]);
    EXPECT_EQ(0x00, plus.key.bytes[15]);
    EXPECT_FALSE(Doc().readKeys.classic.enabled);

    host.settings.SetConfirmFlags(CONFIRM_WRITE_KEYS);
    Command(page, ID_MFKEYS_WRITE_ALL);
    EXPECT_EQ(std::vector<std::wstring>{L"WriteKeysToReader|1|4294967295|1"}, host.calls);
    CheckPicture(frame.Handle(), L"MifarePlusPage.bmp", GetSysColor(COLOR_WINDOW),
                 {{Item(page, IDC_MF_KEY_EDIT), 60}});
}

TEST_F(CardPagesTest, KeyDialogOfSlotsWithDifferentKeysIsIndeterminateAndChangesNothing)
{
    const std::vector<_KEY_NUMBER> keys = {DefaultMifareKey(false), Key(false, L"A0A1A2A3A4A5"),
                                           Key(false, L"B0B1B2B3B4B5")};
    Doc().MifareClassicKeys() = keys;
    CMfKeyDialog dialog(Doc(), false, {0, 1, 2});
    ASSERT_TRUE(dialog.CreateDialogWindow(frame.Handle()));
    ShowWindow(dialog.m_hWnd, SW_SHOW);
    SetWindowPos(dialog.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Pump();
    const HWND indeterminate = GetDlgItem(dialog.m_hWnd, IDC_MFKEY_INDETERMINATE);
    const HWND edit = GetDlgItem(dialog.m_hWnd, IDC_MFKEY_EDIT);
    EXPECT_TRUE(IsWindowVisible(indeterminate));
    EXPECT_EQ(BST_CHECKED, SendMessageW(indeterminate, BM_GETCHECK, 0, 0));
    EXPECT_FALSE(IsWindowEnabled(edit));
    CheckPicture(dialog.m_hWnd, L"MifareKeyDialog.bmp", GetSysColor(COLOR_BTNFACE), {{indeterminate, 20}});
    SendMessageW(GetDlgItem(dialog.m_hWnd, IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(IDOK, dialog.m_result);
    ASSERT_EQ(keys.size(), Doc().GetMifareClassicKeys().size());
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_TRUE(KeysEqual(keys[i], Doc().GetMifareClassicKeys()[i])) << i;
    dialog.Destroy();
}

TEST_F(CardPagesTest, KeyDialogStoresKeysOfTheCardKindsLength)
{
    const struct {
        bool plus;
        std::vector<int> slots;
        const wchar_t* typed;      // nullptr: the edit left as it opened
        std::vector<std::wstring> keys;   // length:text after OK, the list starting with one default key
    } cases[] = {
        // The edit fills from the left: what was not typed counts as zeros after the digits.
        {false, {0}, L"A5", {L"6:A50000000000"}},
        {false, {2}, L"A0A1A2A3A4A5", {L"6:3C917A5E08D4", L"0:", L"6:A0A1A2A3A4A5"}},
        // Nothing typed into a slot beyond the list: the list does not grow.
        {false, {3}, L"", {L"6:3C917A5E08D4"}},
        {true, {1}, L"0102", {L"16:6B21E0945F3AC708D27E41B90C65F31A", L"16:01020000000000000000000000000000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        std::vector<_KEY_NUMBER>& list = c.plus ? Doc().MifarePlusKeys() : Doc().MifareClassicKeys();
        list.assign(1, DefaultMifareKey(c.plus));
        CMfKeyDialog dialog(Doc(), c.plus, c.slots);
        ASSERT_TRUE(dialog.CreateDialogWindow(frame.Handle()));
        const HWND edit = GetDlgItem(dialog.m_hWnd, IDC_MFKEY_EDIT);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog.m_hWnd, IDC_MFKEY_INDETERMINATE)));
        SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.typed));
        SendMessageW(dialog.m_hWnd, WM_COMMAND, IDOK, 0);
        std::vector<std::wstring> keys;
        for (const _KEY_NUMBER& key : list)
            keys.push_back(std::to_wstring(key.length) + L":" + MifareKeyText(key));
        EXPECT_EQ(c.keys, keys);
        dialog.Destroy();
    }
}

TEST_F(CardPagesTest, PageImportReportsSkippedKeysAndKeepsTheListOnAFailedRead)
{
    CTempFolder folder;
    CMifareCPage page(host);
    ASSERT_TRUE(frame.Place(page));
    Doc().MifareClassicKeys().assign(2, DefaultMifareKey(false));
    EXPECT_FALSE(page.ImportKeys(folder.File(L"missing.csv"), true));
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_NE(std::wstring::npos, host.messages[0].find(L"missing.csv")) << host.messages[0];
    EXPECT_EQ(2u, Doc().GetMifareClassicKeys().size());

    keylist_test::WriteBytes(folder.File(L"long.csv"), "0;A0A1A2A3A4A5;1\r\n1;00A0A1A2A3A4A5;1\r\n2;1122334455667788;1\r\n");
    EXPECT_TRUE(page.ImportKeys(folder.File(L"long.csv"), true));
    ASSERT_EQ(2u, host.messages.size());
    EXPECT_EQ(L"2 records were skipped: their keys have more than 12 digits.", host.messages[1]);
    ASSERT_EQ(1u, Doc().GetMifareClassicKeys().size());
    EXPECT_EQ(L"A0A1A2A3A4A5", MifareKeyText(Doc().GetMifareClassicKeys()[0]));

    EXPECT_TRUE(page.ExportKeys(folder.File(L"out.csv")));
    EXPECT_EQ(0u, keylist_test::ReadBytes(folder.File(L"out.csv")).find("#;Key;Flag\r\n0;A0A1A2A3A4A5;1\r\n"));
}

TEST_F(CardPagesTest, UltralightPageStoresPagesAndFollowsChangesFromElsewhere)
{
    CMifareULPage page(host);
    ASSERT_TRUE(frame.Place(page));
    EXPECT_FALSE(Enabled(page, IDC_UL_PAGE));
    EXPECT_EQ(L"4", ChosenText(page, IDC_UL_PAGE));
    EXPECT_EQ(L"1", ChosenText(page, IDC_UL_COUNT));
    Click(page, IDC_UL_ENABLED);
    EXPECT_TRUE(Enabled(page, IDC_UL_PAGE));
    Choose(page, IDC_UL_PAGE, 6);
    Choose(page, IDC_UL_COUNT, 1);
    const MifareULSettings& ul = Doc().readKeys.ultralight;
    EXPECT_TRUE(ul.enabled);
    EXPECT_EQ(6, ul.page);
    EXPECT_EQ(2, ul.count);
    CheckPicture(frame.Handle(), L"MifareULPage.bmp", GetSysColor(COLOR_WINDOW), {{Item(page, IDC_UL_PAGE), 10}});

    // "Page default" of the Reading keys page, another configuration, an import.
    {
        CDocUpdateScope scope(Doc());
        Doc().SetMifareULEnabled(false);
        Doc().SetMifareULPage(4);
        Doc().SetMifareULCount(1);
    }
    EXPECT_EQ(L"4", ChosenText(page, IDC_UL_PAGE));
    EXPECT_EQ(L"1", ChosenText(page, IDC_UL_COUNT));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(page.m_hWnd, IDC_UL_ENABLED));
    EXPECT_FALSE(Enabled(page, IDC_UL_PAGE));
}

TEST_F(CardPagesTest, TemicScanRequestsAndPasswordAreReadAsTyped)
{
    CTemicPage page(host);
    ASSERT_TRUE(frame.Place(page));
    wchar_t shown[80] = {};
    GetWindowTextW(Item(page, IDC_TEMIC_SCAN), shown, 80);
    EXPECT_STREQ(L"2,0,0;1,1,0;2,1,0;1,0,0;255,0,1000;", shown);
    Click(page, IDC_TEMIC_ENABLED);
    EXPECT_TRUE(Doc().readKeys.temic.enabled);

    const struct {
        const wchar_t* text;
        std::vector<uint32_t> params;
    } scans[] = {
        {L"2,0,0;255,0,500;", {2, 255 | (500u << 16)}},
        {L"2;", {2, 255 | (500u << 16)}},            // a single number: rejected, kept
        {L"1,1,20", {1 | (1u << 8) | (20u << 16)}},
    };
    for (const auto& s : scans) {
        SetText(page, IDC_TEMIC_SCAN, s.text);
        EXPECT_EQ(s.params, Doc().readKeys.temic.params) << s.text;
    }

    Click(page, IDC_TEMIC_USE_PASSWORD);
    EXPECT_TRUE(Enabled(page, IDC_TEMIC_PASSWORD));
    const struct {
        const wchar_t* text;
        uint32_t password;
    } passwords[] = {
        {L"0x0000ABCD", 0xABCD}, {L"1", 0x1}, {L"abcd", 0xABCD}, {L"0XABCD", 0xABCD}, {L"123456789", 0x23456789},
        {L"", 0x23456789}, {L"xyz", 0x23456789}, {L"0x", 0x23456789}, {L"0000ABCD", 0xABCD},
    };
    for (const auto& p : passwords) {
        SetText(page, IDC_TEMIC_PASSWORD, p.text);
        EXPECT_EQ(p.password, Doc().readKeys.temic.password) << p.text;
    }
    EXPECT_EQ(TEMIC_USE_PASSWORD, Doc().readKeys.temic.flags);
    CheckPicture(frame.Handle(), L"TemicPage.bmp", GetSysColor(COLOR_WINDOW),
                 {{Item(page, IDC_TEMIC_SCAN), 20}, {Item(page, IDC_TEMIC_PASSWORD), 20}});
}

TEST_F(CardPagesTest, TemicScanListClearedOnThePageStaysTheList)
{
    const std::vector<uint32_t> list = {PackTemicParam(1, 1, 20), PackTemicParam(255, 0, 500)};
    Doc().SetTemicEnabled(true);
    Doc().EditTemicSettings()->params = list;
    CTemicPage page(host);
    ASSERT_TRUE(frame.Place(page));
    HWND scan = Item(page, IDC_TEMIC_SCAN);
    for (const wchar_t* cleared : {L"\b", L" ;\b"}) {
        Type(scan, cleared);  // every change is read, down to the empty edit
        SetFocus(Item(page, IDC_TEMIC_PASSWORD));
        Pump();
        page.ExchangeData(true);
        EXPECT_EQ(list, Doc().readKeys.temic.params) << testing::PrintToString(std::wstring(cleared));
        page.ExchangeData(false);
        EXPECT_EQ(L"1,1,20;255,0,500;", ChosenText(page, IDC_TEMIC_SCAN));
    }

    CTempFolder folder;
    Doc().SaveToFile(folder.File(L"temic.nv2"), true);
    CTransferDoc reloaded;
    reloaded.SetPathName(folder.File(L"temic.nv2"));
    reloaded.Open();
    EXPECT_EQ(list, reloaded.readKeys.temic.params);
}

TEST_F(CardPagesTest, TemicModeSwapsTheControlsAndTheButtonsCallTheReaderJobs)
{
    {
        CDocUpdateScope scope(Doc());
        Doc().SetTemicEnabled(true);
    }
    CTemicPage page(host);
    ASSERT_TRUE(frame.Place(page));
    EXPECT_TRUE(Visible(page, IDC_TEMIC_READ_ALL));
    EXPECT_FALSE(Visible(page, IDC_TEMIC_BLOCK));
    Click(page, IDC_TEMIC_DATA);
    EXPECT_EQ(TEMIC_DATA_MODE, Doc().readKeys.temic.flags);
    EXPECT_FALSE(Visible(page, IDC_TEMIC_READ_ALL));
    EXPECT_TRUE(Visible(page, IDC_TEMIC_BLOCK));
    EXPECT_TRUE(Visible(page, IDC_TEMIC_COUNT));
    Choose(page, IDC_TEMIC_BLOCK, 3);
    Choose(page, IDC_TEMIC_COUNT, 2);
    EXPECT_EQ(3, Doc().readKeys.temic.block);
    EXPECT_EQ(3, Doc().readKeys.temic.count);
    Click(page, IDC_TEMIC_UID);
    EXPECT_EQ(0u, Doc().readKeys.temic.flags);
    EXPECT_TRUE(Visible(page, IDC_TEMIC_READ_ALL));
    EXPECT_FALSE(Visible(page, IDC_TEMIC_COUNT));

    host.settings.SetConfirmFlags(CONFIRM_TEMIC | CONFIRM_WRITE_KEYS);
    EXPECT_TRUE(Enabled(page, ID_INIT_TEMIC));
    Click(page, ID_INIT_TEMIC);
    Command(page, ID_WRITE_KEYS);
    host.settings.SetConfirmFlags(0);
    Click(page, ID_INIT_TEMIC);
    EXPECT_EQ((std::vector<std::wstring>{L"InitializeTemic|1", L"WriteKeysToReader|0|4294967295|1", L"InitializeTemic|0"}),
              host.calls);

    // The tips of the scan edit and the button: the texts after the first line feed.
    const struct {
        int id;
        const wchar_t* begins;
    } tips[] = {{IDC_TEMIC_SCAN, L"List of requests (separated by ';')"},
                {ID_INIT_TEMIC, L"Writes the standard configuration in Temic (0x40801400)"}};
    for (const auto& t : tips) {
        NMTTDISPINFOW info{};
        info.hdr.hwndFrom = frame.Handle();
        info.hdr.idFrom = reinterpret_cast<UINT_PTR>(Item(page, t.id));
        info.hdr.code = TTN_GETDISPINFOW;
        info.uFlags = TTF_IDISHWND;
        SendMessageW(page.m_hWnd, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
        ASSERT_TRUE(info.lpszText);
        EXPECT_EQ(0u, std::wstring(info.lpszText).find(t.begins)) << info.lpszText;
    }

    // The key list as the source, or a job pending: the host says no, and a source change is
    // followed at the next idle pass.
    host.readerJobPossible = false;
    {
        CDocUpdateScope scope(Doc());
        Doc().SetSource(L"", SOURCE_KEYLIST);
    }
    page.OnIdleUpdate();
    EXPECT_FALSE(Enabled(page, ID_INIT_TEMIC));
}
