#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/MainFrame.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/WindowPicture.h"

namespace {

class PageListBar : public AppTest
{
protected:
    void StartWithList()
    {
        ASSERT_EQ(kStartContinue, Start());
        App().GetSettings().SetPanels(PANEL_PAGELIST | PANEL_HEADER | PANEL_STATUSBAR);
        ASSERT_TRUE(Frame()->PageListBar());
        bar = Frame()->PageListBar();
        tree = bar->Tree();
    }
    // The tree as "Title" per root item and "  Title" per child, joined by "|".
    std::wstring Outline() const
    {
        std::wstring out;
        for (HTREEITEM root = TreeView_GetRoot(tree); root; root = TreeView_GetNextSibling(tree, root)) {
            Append(out, root, L"");
            for (HTREEITEM c = TreeView_GetChild(tree, root); c; c = TreeView_GetNextSibling(tree, c))
                Append(out, c, L"  ");
        }
        return out;
    }
    void Append(std::wstring& out, HTREEITEM item, const wchar_t* indent) const
    {
        wchar_t text[64] = {};
        TVITEMW tv{};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = 64;
        TreeView_GetItem(tree, &tv);
        if (!out.empty())
            out += L"|";
        out += indent;
        out += text;
    }
    HTREEITEM ItemOf(int pageId) const
    {
        for (HTREEITEM root = TreeView_GetRoot(tree); root; root = TreeView_GetNextSibling(tree, root)) {
            for (HTREEITEM i = root; i; i = i == root ? TreeView_GetChild(tree, root) : TreeView_GetNextSibling(tree, i)) {
                TVITEMW tv{};
                tv.mask = TVIF_PARAM;
                tv.hItem = i;
                TreeView_GetItem(tree, &tv);
                if (tv.lParam == pageId)
                    return i;
            }
        }
        return nullptr;
    }
    RECT RectIn(HWND child) const
    {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, FrameWindow(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    int StripWidth() const { return RectIn(bar->Strip()).right - RectIn(bar->Strip()).left; }
    int BarWidth() const { return RectIn(bar->m_hWnd).right - RectIn(bar->m_hWnd).left; }

    CPageListBar* bar = nullptr;
    HWND tree = nullptr;
};

TEST_F(PageListBar, ListsTheChosenPagesInOrderUnderTheirGroupHeads)
{
    StartWithList();
    CAppSettings& settings = App().GetSettings();
    const std::wstring all =
        L"Transfer|Event Log|Source|  Reader|  List of keys|Destination|  Keyboard|  Portavo|Formats|Reading keys|"
        L"Advanced|  Sounds|  Hotkeys";
    const struct {
        int command;       // 0: set "pages" to the mask instead
        uint32_t pages;
        const wchar_t* outline;
    } cases[] = {
        {ID_PAGELIST_DEFAULT, 0x700001, L"Transfer|Formats|Reading keys|Advanced"},
        {ID_PAGELIST_CHECK_ALL, 0x1F03C1F, all.c_str()},
        {ID_PAGELIST_UNCHECK_ALL, 0, L""},
        {0, (1u << PAGE_READER) | (1u << PAGE_HOTKEYS) | (1u << PAGE_ADVANCED), L"Reader|Advanced|  Hotkeys"},
        {kFirstPageListCommand + 3, (1u << PAGE_HOTKEYS) | (1u << PAGE_ADVANCED), L"Advanced|  Hotkeys"},
        {kFirstPageListCommand + 2, (1u << PAGE_SOURCE) | (1u << PAGE_HOTKEYS) | (1u << PAGE_ADVANCED),
         L"Source|Advanced|  Hotkeys"},
    };
    for (const auto& c : cases) {
        if (c.command)
            SendMessageW(bar->m_hWnd, WM_COMMAND, static_cast<WPARAM>(c.command), 0);
        else
            settings.SetPageListPages(c.pages);
        EXPECT_EQ(c.pages, settings.GetPageListPages()) << c.command;
        EXPECT_EQ(std::wstring(c.outline), Outline()) << c.command;
    }

    // An empty list is the least tree wide, and the page and header start right of the bar.
    settings.SetPageListPages(0);
    EXPECT_EQ(kPageListMinTreeWidth + StripWidth(), BarWidth());
    EXPECT_EQ(BarWidth(), RectIn(GetDlgItem(FrameWindow(), IDC_PAGE_HEADER)).left);

    // The menu: the thirteen pages in list order, indented under their heads, checked when listed.
    settings.SetPageListPages(kPageListDefault);
    HMENU menu = bar->BuildMenu();
    ASSERT_TRUE(menu);
    ASSERT_EQ(17, GetMenuItemCount(menu));
    const int expectIds[] = {kFirstPageListCommand, kFirstPageListCommand + 12, 0, ID_PAGELIST_CHECK_ALL,
                             ID_PAGELIST_UNCHECK_ALL, ID_PAGELIST_DEFAULT};
    const int positions[] = {0, 12, 13, 14, 15, 16};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(static_cast<UINT>(expectIds[i]), GetMenuItemID(menu, positions[i])) << positions[i];
    wchar_t text[64];
    GetMenuStringW(menu, 3, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(L"    Reader", text);
    EXPECT_TRUE(GetMenuState(menu, 0, MF_BYPOSITION) & MF_CHECKED);
    EXPECT_FALSE(GetMenuState(menu, 1, MF_BYPOSITION) & MF_CHECKED);
    EXPECT_TRUE(GetMenuState(menu, 8, MF_BYPOSITION) & MF_CHECKED);
    DestroyMenu(menu);
}

TEST_F(PageListBar, SelectingAnItemShowsItsPageAndGroupsStayOpen)
{
    StartWithList();
    CAppSettings& settings = App().GetSettings();
    SendMessageW(bar->m_hWnd, WM_COMMAND, ID_PAGELIST_CHECK_ALL, 0);
    for (int page : {PAGE_FORMATS, PAGE_READER, PAGE_TRANSFER}) {
        ASSERT_TRUE(TreeView_SelectItem(tree, ItemOf(page)));
        EXPECT_EQ(page, settings.GetCurrentPage());
        EXPECT_EQ(page, Frame()->GetCurrentPage());
    }
    // The frame's page moves the selection along.
    Frame()->ShowPage(PAGE_SOUNDS);
    settings.SetCurrentPage(PAGE_SOUNDS);
    EXPECT_EQ(ItemOf(PAGE_SOUNDS), TreeView_GetSelection(tree));

    // A double click on a group head does not fold its group.
    HTREEITEM head = ItemOf(PAGE_SOURCE);
    RECT r{};
    TreeView_GetItemRect(tree, head, &r, TRUE);
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(tree, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageW(tree, WM_LBUTTONUP, 0, at);
    PumpWaitingMessages();
    EXPECT_TRUE(TreeView_GetItemState(tree, head, TVIS_EXPANDED) & TVIS_EXPANDED);
    EXPECT_TRUE(TreeView_GetNextVisible(tree, head) == ItemOf(PAGE_READER));
}

TEST_F(PageListBar, StripFoldsTheBarAndTheLayoutFollows)
{
    StartWithList();
    CAppSettings& settings = App().GetSettings();
    HWND frame = FrameWindow();
    RECT client;
    GetClientRect(frame, &client);
    const RECT status = RectIn(GetDlgItem(frame, IDC_STATUS_BAR));
    // At the left, from the top (no toolbar) down to the status bar.
    RECT r = RectIn(bar->m_hWnd);
    EXPECT_EQ(0, r.left);
    EXPECT_EQ(0, r.top);
    EXPECT_EQ(status.top, r.bottom);
    const int expanded = BarWidth();
    EXPECT_GT(expanded, kPageListMinTreeWidth);
    EXPECT_EQ(r.right, RectIn(GetDlgItem(frame, IDC_PAGE_HEADER)).left);

    for (bool collapsed : {true, false, true}) {
        SendMessageW(bar->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_PAGE_LIST_STRIP, STN_CLICKED),
                     reinterpret_cast<LPARAM>(bar->Strip()));
        EXPECT_EQ(collapsed, settings.IsPageListCollapsed());
        EXPECT_EQ(collapsed ? StripWidth() : expanded, BarWidth());
        EXPECT_EQ(!collapsed, IsWindowVisible(tree) != FALSE);
        EXPECT_EQ(BarWidth(), RectIn(GetDlgItem(frame, IDC_PAGE_HEADER)).left);
    }
    // The bar comes back folded as the setting says, and goes with its panel.
    settings.SetPanels(PANEL_HEADER | PANEL_STATUSBAR);
    EXPECT_FALSE(Frame()->PageListBar());
    EXPECT_FALSE(GetDlgItem(frame, IDD_PAGE_LIST));
    EXPECT_EQ(0, RectIn(GetDlgItem(frame, IDC_PAGE_HEADER)).left);
    settings.SetPanels(PANEL_PAGELIST | PANEL_HEADER | PANEL_STATUSBAR);
    ASSERT_TRUE(Frame()->PageListBar());
    bar = Frame()->PageListBar();
    EXPECT_EQ(StripWidth(), BarWidth());
    EXPECT_EQ(BarWidth(), RectIn(GetDlgItem(frame, IDC_PAGE_HEADER)).left);
}

TEST_F(PageListBar, PictureShowsTheTintedTreeWithItsTitlesAndTheStripArrow)
{
    StartWithList();
    HWND frame = FrameWindow();
    SendMessageW(bar->m_hWnd, WM_COMMAND, ID_PAGELIST_CHECK_ALL, 0);
    PumpWaitingMessages();
    const CWindowPicture picture(frame, L"PageListBar.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const RECT treeRect = ClientRectInWindowPicture(frame, tree);
    const COLORREF background = picture.Dominant(treeRect);
    EXPECT_EQ(TreeView_GetBkColor(tree), background);
    // Thirteen titles leave plenty of ink on the tint.
    EXPECT_GE(picture.InkPixels(treeRect, background), 300);
    // The strip is button face with its arrow in the middle.
    const RECT stripRect = ClientRectInWindowPicture(frame, bar->Strip());
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), picture.Dominant(stripRect));
    EXPECT_GE(picture.InkPixels(stripRect, GetSysColor(COLOR_BTNFACE)), 10);
}

} // namespace
