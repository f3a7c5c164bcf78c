// The table control's columns, sort arrow, header menu, width passes, header tips and shading,
// on real owner-data list views.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>
#include <climits>

#include "framework/WinApp.h"
#include "resources/resource.h"
#include "tests/framework/FrameworkTestSupport.h"
#include "tests/framework/TableTestSupport.h"
#include "tests/support/WindowPicture.h"

namespace {

constexpr int V = COLF_VISIBLE;
constexpr int VA = COLF_VISIBLE | COLF_AUTOSIZE;

int ListColumnCount(CTableCtrl& table)
{
    return static_cast<int>(SendMessageW(table.GetHeader(), HDM_GETITEMCOUNT, 0, 0));
}

std::vector<int> OrderArray(CTableCtrl& table)
{
    std::vector<int> order(static_cast<size_t>(ListColumnCount(table)));
    SendMessageW(table.m_hWnd, LVM_GETCOLUMNORDERARRAY, order.size(), reinterpret_cast<LPARAM>(order.data()));
    return order;
}

RECT HeaderItem(CTableCtrl& table, int item)
{
    RECT r{};
    SendMessageW(table.GetHeader(), HDM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&r));
    return r;
}

// dx keeps two clicks on one item apart, so that they are no double click.
void ClickHeader(CTableCtrl& table, int item, int dx = 0)
{
    const RECT r = HeaderItem(table, item);
    MouseMoveTo(ToScreen(table.GetHeader(), POINT{(r.left + r.right) / 2 + dx, (r.top + r.bottom) / 2}));
    MouseButton(true, true);
    MouseButton(true, false);
}

bool HasTool(CToolTipCtrl& tips, HWND header, int d)
{
    TTTOOLINFOW ti{sizeof(ti)};
    ti.hwnd = header;
    ti.uId = static_cast<UINT_PTR>(d + 1);
    return SendMessageW(tips.m_hWnd, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti)) != FALSE;
}

} // namespace

TEST(TableColumns, LayoutFollowsTheDescriptors)
{
    struct Case {
        const char* name;
        int clientWidth;
        std::vector<ColumnDesc> columns;
        std::vector<int> formats, widths, order;
        std::vector<int> storedWidths; // empty: as given
    };
    const Case cases[] = {
        {"format 7 shows left; the first column may be right-aligned", 300,
         {Col(80, 0, COLFMT_RIGHT), Col(80, 1, 7), Col(80, 2, COLFMT_CENTER)},
         {LVCFMT_RIGHT, LVCFMT_LEFT, LVCFMT_CENTER}, {80, 80, 80}, {0, 1, 2}, {}},
        {"width 0 and auto size everywhere: the free width shared", 300,
         {Col(0, 0, 0, VA), Col(0, 1, 0, VA), Col(0, 2, 0, VA)}, {0, 0, 0}, {100, 100, 100}, {0, 1, 2}, {}},
        {"a share of 10 or less becomes 10", 300,
         {Col(290, 0), Col(0, 1, 0, VA), Col(0, 2, 0, VA)}, {0, 0, 0}, {290, 10, 10}, {0, 1, 2}, {}},
        {"auto size beside a fixed column keeps its proportions", 400,
         {Col(100, 0), Col(100, 1, 0, VA), Col(300, 2, 0, VA)}, {0, 0, 0}, {100, 75, 225}, {0, 1, 2}, {}},
        {"equal keys keep descriptor order; hidden columns left out", 300,
         {Col(50, 1), Col(50, 0), Col(50, 1, 0, 0), Col(50, 1), Col(50, 0)}, {0, 0, 0, 0}, {50, 50, 50, 50},
         {1, 3, 0, 2}, {}},
        {"negative widths from the settings count as 0", 300,
         {Col(-50, 0, 0, VA), Col(50, 1, 0, VA), Col(0, 2, 0, VA)}, {0, 0, 0}, {50, 300, 50}, {0, 1, 2}, {0, 50, 0}},
        {"stored width times free width beyond 32 bits", 400,
         {Col(INT_MAX, 0, 0, VA), Col(INT_MAX, 1, 0, VA)}, {0, 0}, {200, 200}, {0, 1}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTableHost host(0, c.columns, c.clientWidth + 2); // the list's border takes 2
        CTableCtrl& table = host.table;
        ASSERT_EQ(static_cast<int>(c.widths.size()), ListColumnCount(table));
        for (size_t v = 0; v < c.widths.size(); ++v) {
            LVCOLUMNW column{LVCF_FMT | LVCF_WIDTH};
            ASSERT_TRUE(SendMessageW(table.m_hWnd, LVM_GETCOLUMNW, v, reinterpret_cast<LPARAM>(&column)));
            EXPECT_EQ(c.formats[v], column.fmt & LVCFMT_JUSTIFYMASK) << v;
            EXPECT_EQ(c.widths[v], column.cx) << v;
        }
        EXPECT_EQ(c.order, OrderArray(table));
        for (size_t d = 0; d < c.storedWidths.size(); ++d)
            EXPECT_EQ(c.storedWidths[d], table.GetColumns()[d].width) << "auto size keeps the stored width " << d;
    }
}

TEST(TableSort, ArrowFollowsTheKeyAndClicksAlternate)
{
    CTableHost host(5, {Col(90, 0, 0, V, IDS_TEST_ALPHA), Col(90, 1, 0, 0, IDS_TEST_BETA),
                        Col(90, 2, 0, V, IDS_TEST_GAMMA), Col(90, 3, 0, V, IDS_TEST_DELTA)});
    CTableCtrl& table = host.table;
    struct {
        int key, column;
        bool ascending;
    } const arrows[] = {{1, 0, true}, {-3, 1, false}, {2, -1, true}, {4, 2, true}, {0, -1, true}};
    for (const auto& a : arrows) {
        table.SetSortColumn(a.key, true);
        bool ascending = true;
        EXPECT_EQ(a.column, table.GetHeaderArrow(ascending)) << a.key;
        for (int item = 0; item < 3; ++item) {
            HDITEMW hi{HDI_FORMAT};
            SendMessageW(table.GetHeader(), HDM_GETITEMW, item, reinterpret_cast<LPARAM>(&hi));
            const int expected = item != a.column ? 0 : a.ascending ? HDF_SORTUP : HDF_SORTDOWN;
            EXPECT_EQ(expected, hi.fmt & (HDF_SORTUP | HDF_SORTDOWN)) << a.key << " item " << item;
        }
    }

    host.onSort = [&](TableSortRequest& r) -> LRESULT {
        table.SetSortColumn(r.key, true);
        return 1;
    };
    table.SetSortColumn(3, true);
    ClickHeader(table, 1); // shows descriptor 2, sorted ascending
    ASSERT_TRUE(host.Last(TN_SORTREQUEST));
    EXPECT_EQ(-3, host.Last(TN_SORTREQUEST)->sortKey);
    ClickHeader(table, 1, 20);
    EXPECT_EQ(3, host.Last(TN_SORTREQUEST)->sortKey);
    ClickHeader(table, 2);
    EXPECT_EQ(4, host.Last(TN_SORTREQUEST)->sortKey);

    table.SetNoSortHeader(true);
    EXPECT_TRUE(GetWindowLongPtrW(table.m_hWnd, GWL_STYLE) & LVS_NOSORTHEADER);
    EXPECT_FALSE(GetWindowLongPtrW(table.GetHeader(), GWL_STYLE) & HDS_BUTTONS);
    ClickHeader(table, 0);
    EXPECT_EQ(3, host.Count(TN_SORTREQUEST)) << "a header without buttons requests nothing";
    table.SetNoSortHeader(false);
    EXPECT_TRUE(GetWindowLongPtrW(table.GetHeader(), GWL_STYLE) & HDS_BUTTONS);
}

TEST(TableSort, AnEventTakesTheRequestInsteadOfTheParentExceptWhileTheParentFillsItself)
{
    CTableHost host(5, {Col(90, 0, 0, V, IDS_TEST_ALPHA), Col(90, 1, 0, V, IDS_TEST_BETA)});
    std::vector<int> keys;
    host.table.tableEvents.sortRequest = [&](int key) {
        keys.push_back(key);
        host.table.SetSortColumn(key, true);
        return true;
    };
    ClickHeader(host.table, 1);
    ClickHeader(host.table, 1, 20);
    {
        UpdatingScope updating(host.m_hWnd);
        ClickHeader(host.table, 0, 40);
    }
    EXPECT_EQ((std::vector<int>{2, -2}), keys);
    EXPECT_EQ(0, host.Count(TN_SORTREQUEST));
}

TEST(TableLook, GridShadingAndSortButtonsFollowTheSettingsPartByPart)
{
    CTableHost host(5, {Col(90, 0, 0, V, IDS_TEST_ALPHA)});
    CFakeTableSettings settings;
    settings.grid = settings.alternate = settings.noSortHeader = true;
    host.table.SetSettings(&settings);
    host.table.ApplyLook(TABLE_LOOK_GRID);
    const auto grid = [&] { return (SendMessageW(host.table.m_hWnd, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_GRIDLINES) != 0; };
    EXPECT_TRUE(grid());
    EXPECT_EQ(CLR_INVALID, host.table.GetAlternateColor());
    EXPECT_TRUE(GetWindowLongPtrW(host.table.GetHeader(), GWL_STYLE) & HDS_BUTTONS);
    host.table.ApplyLook();
    EXPECT_NE(CLR_INVALID, host.table.GetAlternateColor());
    EXPECT_FALSE(GetWindowLongPtrW(host.table.GetHeader(), GWL_STYLE) & HDS_BUTTONS);
    settings.grid = settings.alternate = settings.noSortHeader = false;
    host.table.ApplyLook();
    EXPECT_FALSE(grid());
    EXPECT_EQ(CLR_INVALID, host.table.GetAlternateColor());
    EXPECT_TRUE(GetWindowLongPtrW(host.table.GetHeader(), GWL_STYLE) & HDS_BUTTONS);
}

TEST(TableHeaderMenu, ListsEveryColumnAndRunsItsCommands)
{
    CFakeTableSettings settings;
    settings.noSortHeader = true;
    CTableHost host(5, {Col(100, 0, 0, V, IDS_TEST_ALPHA), Col(100, 1, 0, 0, IDS_TEST_BETA)});
    CTableCtrl& table = host.table;
    table.SetSettings(&settings);

    SendMessageW(table.m_hWnd, WM_COMMAND, ID_TABLE_COLUMN_BASE + 0, 0); // hides the only visible column
    EXPECT_TRUE(table.GetVisibleMap().empty());
    EXPECT_EQ(0, ListColumnCount(table));
    ASSERT_TRUE(host.Last(TN_COLUMNSCHANGED));
    EXPECT_EQ(TCC_VISIBILITY, host.Last(TN_COLUMNSCHANGED)->what);
    EXPECT_EQ(0, host.Last(TN_COLUMNSCHANGED)->index);

    std::wstring items; // "id text [checked] [grayed]" per item, separators as "-"
    host.onDefaults = [](TableColumnSet&) -> LRESULT { return 1; };
    host.onHeaderMenu = [&](HMENU menu) {
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            const UINT state = GetMenuState(menu, i, MF_BYPOSITION);
            wchar_t text[80] = {};
            GetMenuStringW(menu, i, text, 80, MF_BYPOSITION);
            items += (state & MF_SEPARATOR) ? L"-" : std::to_wstring(GetMenuItemID(menu, i)) + L" " + text;
            items += (state & MF_CHECKED) ? L" [checked]" : L"";
            items += !(state & MF_SEPARATOR) && (state & MF_GRAYED) ? L" [grayed]" : L"";
            items += L"\n";
        }
    };
    CUiScript closeMenu({[] {
        if (!ShownMenu())
            return false;
        EndMenu();
        return true;
    }});
    NMHDR click{table.GetHeader(), 0, static_cast<UINT>(NM_RCLICK)};
    SendMessageW(table.m_hWnd, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
    EXPECT_TRUE(closeMenu.Finished() && !closeMenu.TimedOut());
    EXPECT_EQ(L"35000 Alpha\n35001 Beta\n-\n33015 Don't sort by click by column [checked]\n-\n"
              L"32977 A set of default columns\n32925 Customize columns...\n",
              items);
    ASSERT_TRUE(host.Last(TN_DEFAULTCOLUMNS));
    EXPECT_FALSE(host.Last(TN_DEFAULTCOLUMNS)->columnsGiven) << "only the question";

    SendMessageW(table.m_hWnd, WM_COMMAND, ID_NO_SORT_HEADER, 0);
    EXPECT_FALSE(settings.noSortHeader);

    host.onDefaults = [](TableColumnSet& set) -> LRESULT {
        *set.columns = {Col(60, 1), Col(70, 0)}; // records: the titles stay the table's
        return 1;
    };
    SendMessageW(table.m_hWnd, WM_COMMAND, ID_DEFAULT_COLUMNS, 0);
    EXPECT_EQ(TCC_ALL, host.Last(TN_COLUMNSCHANGED)->what);
    EXPECT_EQ(-1, host.Last(TN_COLUMNSCHANGED)->index);
    EXPECT_EQ((std::vector<int>{1, 0}), OrderArray(table));
    EXPECT_EQ(IDS_TEST_BETA, table.GetColumns()[1].titleId);

    SendMessageW(table.m_hWnd, WM_COMMAND, MAKEWPARAM(4242, 3), 0);
    EXPECT_EQ(4242, LOWORD(host.lastCommand.first));
    EXPECT_EQ(3, HIWORD(host.lastCommand.first));
    EXPECT_EQ(table.m_hWnd, host.lastCommand.second) << "other commands go to the parent from the table";
}

TEST(TableHeader, DividerDragReportsTheColumnAndNoWidthPassRunsMeanwhile)
{
    CTableHost host(5, {Col(100, 0, 0, V, IDS_TEST_ALPHA), Col(100, 1, 0, V, IDS_TEST_BETA),
                        Col(0, 2, 0, VA, IDS_TEST_GAMMA)}, 402);
    CTableCtrl& table = host.table;
    const RECT first = HeaderItem(table, 0);
    const POINT divider = ToScreen(table.GetHeader(), POINT{first.right - 1, (first.top + first.bottom) / 2});
    MouseMoveTo(divider);
    MouseButton(true, true);
    MouseMoveTo(POINT{divider.x + 30, divider.y});
    EXPECT_TRUE(HeaderTracking);

    RECT frame;
    GetWindowRect(host.m_hWnd, &frame);
    SetWindowPos(host.m_hWnd, nullptr, 0, 0, frame.right - frame.left + 20, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, table.m_hWnd, WM_TABLE_WIDTHS, WM_TABLE_WIDTHS, PM_NOREMOVE))
        << "no width pass while a divider is dragged";

    MouseButton(true, false);
    DrainMessages();
    EXPECT_FALSE(HeaderTracking);
    ASSERT_EQ(1, host.Count(TN_COLUMNSCHANGED));
    EXPECT_EQ(TCC_WIDTHS, host.Last(TN_COLUMNSCHANGED)->what);
    EXPECT_EQ(0, host.Last(TN_COLUMNSCHANGED)->index);
    EXPECT_EQ(130, table.GetColumns()[0].width);
    RECT client;
    GetClientRect(table.m_hWnd, &client);
    EXPECT_EQ(client.right - 230, SendMessageW(table.m_hWnd, LVM_GETCOLUMNWIDTH, 2, 0)) << "the auto-size column follows";
}

TEST(TableHeader, BurstOfSizeChangesIsOneWidthPass)
{
    // Widening only: a pass that narrows the columns may hide a scroll bar, a size change of its own.
    CTableHost host(5, {Col(100, 0), Col(0, 1, 0, VA)});
    for (int width : {440, 460, 480})
        SetWindowPos(host.m_hWnd, nullptr, 0, 0, width, 300, SWP_NOMOVE | SWP_NOZORDER);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, host.table.m_hWnd, WM_TABLE_WIDTHS, WM_TABLE_WIDTHS, PM_REMOVE));
    DispatchMessageW(&msg);
    EXPECT_FALSE(PeekMessageW(&msg, host.table.m_hWnd, WM_TABLE_WIDTHS, WM_TABLE_WIDTHS, PM_NOREMOVE));
}

TEST(TableHeader, CutOffTitleGetsATipAndLosesItWhenWidened)
{
    CTableHost host(5, {Col(40, 0, 0, V, IDS_TEST_LONG_TITLE), Col(200, 1, 0, V, IDS_TEST_ALPHA)});
    CTableCtrl& table = host.table;
    CToolTipCtrl tips;
    ASSERT_TRUE(tips.Create(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, host.m_hWnd, nullptr));
    table.SetHeaderTips(&tips, true);
    EXPECT_TRUE(HasTool(tips, table.GetHeader(), 0));
    EXPECT_FALSE(HasTool(tips, table.GetHeader(), 1));
    EXPECT_EQ(1, tips.GetToolCount());

    SendMessageW(table.m_hWnd, LVM_SETCOLUMNWIDTH, 0, 360);
    SendMessageW(table.m_hWnd, WM_TABLE_WIDTHS, 0, 0);
    EXPECT_FALSE(HasTool(tips, table.GetHeader(), 0));
    EXPECT_EQ(360, table.GetColumns()[0].width);
    EXPECT_EQ(0, host.Last(TN_COLUMNSCHANGED)->index);

    SendMessageW(table.m_hWnd, LVM_SETCOLUMNWIDTH, 0, 30);
    SendMessageW(table.m_hWnd, WM_TABLE_WIDTHS, 0, 0);
    EXPECT_TRUE(HasTool(tips, table.GetHeader(), 0));
    table.SetHeaderTips(nullptr, false);
    EXPECT_EQ(0, tips.GetToolCount()) << "a table leaves no tools behind";
}

// TableCtrl.bmp beside the test exe: shaded odd rows, the sort arrow and the selection drawn in
// the highlight colours while another window has the focus.
TEST(TableShading, LuminanceArrowAndSelectionOnScreen)
{
    CTableHost host(12, {Col(150, 0, 0, V, IDS_TEST_ALPHA), Col(150, 1, 0, V, IDS_TEST_BETA)}, 322, 240);
    CTableCtrl& table = host.table;
    table.SetAlternateRows(true);
    WORD hue = 0, luminance = 0, saturation = 0;
    ColorRGBToHLS(GetSysColor(COLOR_WINDOW), &hue, &luminance, &saturation);
    ASSERT_EQ(240, luminance) << "a white list";
    EXPECT_EQ(ColorHLSToRGB(hue, 235, saturation), table.GetAlternateColor());
    table.SetSortColumn(1, true);
    table.SelectOnly(2, false);
    SetFocus(host.m_hWnd);
    DrainMessages();

    const CWindowPicture picture(host.m_hWnd, L"TableCtrl.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const RECT list = ClientRectInWindowPicture(host.m_hWnd, table.m_hWnd);
    auto rowCells = [&](int row) { // the empty right part of column 1, clear of the text
        RECT r{LVIR_BOUNDS};
        SendMessageW(table.m_hWnd, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
        return RECT{list.left + 230, list.top + r.top + 1, list.left + 295, list.top + r.bottom - 1};
    };
    const COLORREF white = GetSysColor(COLOR_WINDOW);
    EXPECT_EQ(white, picture.Dominant(rowCells(0)));
    EXPECT_EQ(table.GetAlternateColor(), picture.Dominant(rowCells(1)));
    EXPECT_EQ(GetApp()->m_highlightColor, picture.Dominant(rowCells(2))) << "selected, without the focus";
    EXPECT_EQ(table.GetAlternateColor(), picture.Dominant(rowCells(3)));

    auto besideTitle = [&](int item) { // right of the title, where the arrow goes
        RECT r = HeaderItem(table, item);
        MapWindowPoints(table.GetHeader(), table.m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        return RECT{list.left + r.left + 40, list.top + r.top + 2, list.left + r.right - 4, list.top + r.bottom - 2};
    };
    EXPECT_GT(picture.InkPixels(besideTitle(0), picture.Dominant(besideTitle(0))), 6) << "the arrow";
    EXPECT_EQ(0, picture.InkPixels(besideTitle(1), picture.Dominant(besideTitle(1))));

    table.SetAlternateRows(false);
    EXPECT_EQ(CLR_INVALID, table.GetAlternateColor());
}
