#include <gtest/gtest.h>

#include "config/TransferDoc.h"
#include "pages/source/ReadKeysPage.h"
#include "resources/resource.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/PageWindowTest.h"
#include "tests/support/WindowPicture.h"

namespace {

class ReadKeysPageTest : public ::testing::Test
{
protected:
    void Open() { ASSERT_TRUE(frame.Show(page)); }
    CTransferDoc& Doc() { return host.GetTransferDoc(); }
    CReadKeysGeneralPage& General() { return *static_cast<CReadKeysGeneralPage*>(page.GetSubPage(0)); }
    HWND List() { return GetDlgItem(General().m_hWnd, IDC_KEY_TYPES_LIST); }
    int TabImage(int tab)
    {
        TCITEMW item{};
        item.mask = TCIF_IMAGE;
        SendDlgItemMessageW(page.m_hWnd, IDC_READKEYS_TAB, TCM_GETITEMW, tab, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
    void SelectRows(std::initializer_list<int> rows)
    {
        LVITEMW clear{};
        clear.stateMask = LVIS_SELECTED;
        SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
        for (int row : rows) {
            LVITEMW item{};
            item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(List(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        }
    }
    // A left click at a point of the list, through the list's own mouse handling.
    void ClickList(POINT at)
    {
        const LPARAM where = MAKELPARAM(at.x, at.y);
        PostMessageW(List(), WM_LBUTTONDOWN, MK_LBUTTON, where);
        PostMessageW(List(), WM_LBUTTONUP, 0, where);
        PumpPending();
    }
    RECT RowRect(int row, int part)
    {
        RECT r{};
        r.left = part;
        SendMessageW(List(), LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
        return r;
    }

    CFakePageHost host;
    CPageFrame frame;
    CReadKeysPage page{host};
};

} // namespace

TEST(KeyTypesLvData, RowsShowTheirTypeAndStateWhateverTheCacheHint)
{
    CFakePageHost host;
    CKeyTypesLvData data(host);
    data.checkedMask = 0x2;
    data.allowedMask = ~0x4u;
    struct Case {
        int hintFrom, hintTo, row;
        const wchar_t* text;
        UINT state;
    } cases[] = {
        {0, 21, 1, L"Em-Marine", KEYTYPE_STATE_CHECKED},
        {0, 21, 2, L"HID", KEYTYPE_STATE_MIXED},       // not allowed: mixed whatever its bit
        {0, 21, 21, L"Mifare Mini", KEYTYPE_STATE_UNCHECKED},
        {18, 30, 20, L"Mifare ProX", KEYTYPE_STATE_UNCHECKED},
        {18, 30, 25, L"", KEYTYPE_STATE_UNCHECKED},    // past the last type: nothing to name
        {25, 40, 30, L"", KEYTYPE_STATE_UNCHECKED},    // a hint wholly past the list
        {25, 40, 3, L"iCode", KEYTYPE_STATE_UNCHECKED},
        {-5, 2, 1, L"Em-Marine", KEYTYPE_STATE_CHECKED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        data.CacheHint(c.hintFrom, c.hintTo);
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_STATE;
        item.iItem = c.row;
        data.GetDispInfo(&item);
        ASSERT_NE(nullptr, item.pszText);
        EXPECT_STREQ(c.text, item.pszText);
        EXPECT_EQ(c.state, item.state & LVIS_STATEIMAGEMASK);
    }
    EXPECT_EQ(22, data.GetItemCount());
}

TEST_F(ReadKeysPageTest, GeneralTabIsShownAndTheOthersAwaitTheirSubPages)
{
    Open();
    ASSERT_EQ(5, SendDlgItemMessageW(page.m_hWnd, IDC_READKEYS_TAB, TCM_GETITEMCOUNT, 0, 0));
    ASSERT_EQ(0, page.GetShownIndex());
    CBasePage* general = page.GetSubPage(0);
    ASSERT_NE(nullptr, general);
    EXPECT_TRUE(IsWindowVisible(general->m_hWnd));
    EXPECT_TRUE(page.ShowSubPage(0));   // the shown tab again: the same window, nothing new
    EXPECT_EQ(general, page.GetSubPage(0));
    // A tab without a sub-page: none shown.
    EXPECT_FALSE(page.ShowSubPage(kReadKeysTabCount));
    EXPECT_EQ(-1, page.GetShownIndex());
    EXPECT_FALSE(IsWindowVisible(general->m_hWnd));
    // Never created, so the page's exchange passes them by.
    page.ExchangeData(false);
    page.ExchangeData(true);
    for (int tab = 1; tab < 5; ++tab)
        EXPECT_EQ(nullptr, page.GetSubPage(tab));
    // The card-memory tabs make their sub-pages when first shown.
    for (int tab = 1; tab < 5; ++tab) {
        EXPECT_TRUE(page.ShowSubPage(tab)) << tab;
        EXPECT_EQ(tab, page.GetShownIndex());
        ASSERT_NE(nullptr, page.GetSubPage(tab));
        EXPECT_TRUE(IsWindowVisible(page.GetSubPage(tab)->m_hWnd));
        EXPECT_FALSE(IsWindowVisible(general->m_hWnd));
    }
    EXPECT_TRUE(page.ShowSubPage(0));
    EXPECT_TRUE(IsWindowVisible(general->m_hWnd));
}

TEST_F(ReadKeysPageTest, CheckAllAndUncheckAllKeepBitsAboveTheKeyTypes)
{
    Open();
    struct Case {
        uint32_t stored;
        int command;
        uint32_t expected;
    } cases[] = {
        {0x80000001u, ID_CHECK_ALL, 0x803FFFFFu},
        {0x80000001u, ID_UNCHECK_ALL, 0x80000000u},
        {0x00000005u, ID_CHECK_ALL, 0x003FFFFFu},
        {0x003FFFFFu, ID_UNCHECK_ALL, 0u},
    };
    for (const Case& c : cases) {
        Doc().SetReadKeyTypes(c.stored);
        EXPECT_EQ(c.stored, General().GetData().checkedMask);
        SendControlCommand(General().m_hWnd, c.command, 0);
        EXPECT_EQ(c.expected, Doc().readKeys.keyTypes) << std::hex << c.stored;
        EXPECT_EQ(c.expected, General().GetData().checkedMask);
    }
}

TEST_F(ReadKeysPageTest, SpaceTogglesEachSelectedRowAndTextClicksDoNothing)
{
    Open();
    Doc().SetReadKeyTypes(0x0A);   // Em-Marine and iCode on, HID off
    SetFocus(List());
    SelectRows({1, 2, 3});
    SendMessageW(List(), WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(List(), WM_KEYUP, VK_SPACE, 0xC0000001);
    PumpPending();
    EXPECT_EQ(0x04u, Doc().readKeys.keyTypes);

    SelectRows({1});
    const RECT label = RowRect(1, LVIR_LABEL);
    ClickList({label.left + 20, (label.top + label.bottom) / 2});
    EXPECT_EQ(0x04u, Doc().readKeys.keyTypes);

    const RECT bounds = RowRect(1, LVIR_BOUNDS);
    const RECT icon = RowRect(1, LVIR_ICON);
    ClickList({(bounds.left + icon.left) / 2 + 1, (bounds.top + bounds.bottom) / 2});
    EXPECT_EQ(0x06u, Doc().readKeys.keyTypes);   // the check box of Em-Marine
}

TEST_F(ReadKeysPageTest, Vell4ModeFollowsTheRadiosBothWays)
{
    Open();
    ClickButton(General().m_hWnd, IDC_VELL4_QM100);
    EXPECT_EQ(2, Doc().readKeys.vell4Mode);
    Doc().SetVell4Mode(1);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(General().m_hWnd, IDC_VELL4_EMMARINE));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(General().m_hWnd, IDC_VELL4_QM100));
}

TEST_F(ReadKeysPageTest, PageDefaultSwitchesTheCardKindsOffAndTheTabImagesFollow)
{
    Open();
    {
        CDocUpdateScope scope(Doc());
        Doc().SetMifareClassicEnabled(true);
        Doc().SetMifarePlusEnabled(true);
        Doc().SetMifareULEnabled(true);
        Doc().SetTemicEnabled(true);
        Doc().SetMifareClassicSector(5);
        Doc().SetReadKeyTypes(0x10);
        Doc().EditTemicSettings()->params = {PackTemicParam(1, 1, 1)};
    }
    const int expectedOn[] = {-1, 1, 1, 1, 1};
    for (int tab = 0; tab < 5; ++tab)
        EXPECT_EQ(expectedOn[tab], TabImage(tab)) << tab;

    SendControlCommand(page.m_hWnd, ID_PAGE_DEFAULT, 0);
    const ReadKeysSettings& r = Doc().readKeys;
    EXPECT_FALSE(r.classic.enabled || r.plus.enabled || r.ultralight.enabled || r.temic.enabled);
    EXPECT_EQ(0, r.classic.sector);
    EXPECT_EQ(kAllKeyTypes, r.keyTypes);
    EXPECT_EQ(DefaultTemicParams(), r.temic.params);
    EXPECT_EQ(0, CompareKeys(DefaultMifarePlusKey(), r.plus.key));
    const int expectedOff[] = {-1, 0, 0, 0, 0};
    for (int tab = 0; tab < 5; ++tab)
        EXPECT_EQ(expectedOff[tab], TabImage(tab)) << tab;
    EXPECT_EQ(kAllKeyTypes, General().GetData().checkedMask);
}

TEST_F(ReadKeysPageTest, PictureShowsTabsAndTheKeyTypeList)
{
    Doc().SetReadKeyTypes(0x2);
    Open();
    const CWindowPicture picture(page.m_hWnd, L"ReadKeysPage.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    // The list follows the page's right edge.
    RECT listRect, pageRect;
    GetWindowRect(List(), &listRect);
    GetWindowRect(page.m_hWnd, &pageRect);
    EXPECT_LT(pageRect.right - listRect.right, 60);
    RECT list = ClientRectInWindowPicture(page.m_hWnd, List());
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), picture.Dominant(list));
    EXPECT_GE(picture.InkPixels(list, GetSysColor(COLOR_WINDOW)), 400);   // names and check boxes
    // The tab strip carries the five texts above the sub-page.
    RECT strip = ClientRectInWindowPicture(page.m_hWnd, GetDlgItem(page.m_hWnd, IDC_READKEYS_TAB));
    strip.bottom = strip.top + 20;
    EXPECT_GE(picture.InkPixels(strip, GetSysColor(COLOR_BTNFACE)), 150);
}
