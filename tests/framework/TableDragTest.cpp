// Row dragging with the system's mouse: what the parent is told, what it may change, the
// auto-scroll below the rows and the ways a drag ends.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "tests/framework/FrameworkTestSupport.h"
#include "tests/framework/TableTestSupport.h"

namespace {

std::vector<ColumnDesc> TwoColumns()
{
    return {Col(120, 0, COLFMT_LEFT, COLF_VISIBLE, IDS_TEST_ALPHA), Col(120, 1, COLFMT_LEFT, COLF_VISIBLE, IDS_TEST_BETA)};
}

RECT RowRect(HWND list, int row)
{
    RECT r{LVIR_BOUNDS};
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    return r;
}

// A point in the row, `at` of its height below its top, in its second column.
POINT InRow(HWND list, int row, double at)
{
    const RECT r = RowRect(list, row);
    return POINT{r.left + 180, r.top + static_cast<int>((r.bottom - r.top) * at)};
}

// Presses on the row and moves far enough for the list to begin a drag.
void StartDrag(CTableHost& host, int row)
{
    const POINT start = ToScreen(host.table.m_hWnd, InRow(host.table.m_hWnd, row, 0.5));
    MouseMoveTo(start);
    MouseButton(true, true);
    MouseMoveTo(POINT{start.x, start.y + 6});
    CTableHost::PumpUntil([&] { return host.table.GetDragState() != nullptr; }, 2000);
}

// Black pixels on the row's left edge: a frame has them, a line between rows has none. The mark
// is drawn over the list outside its painting: the picture is taken as the list stands.
int BlackOnLeftEdge(HWND list, int row)
{
    const CWindowPicture picture(list, {}, CWindowPicture::Paint::kAsDrawn);
    EXPECT_TRUE(picture.Ok()) << picture.Problem();
    const RECT client = ClientRectInWindowPicture(list, list);
    const RECT r = RowRect(list, row);
    const RECT edge{client.left + r.left, client.top + r.top + 4, client.left + r.left + 1, client.top + r.bottom - 4};
    return picture.Count(edge, RGB(0, 0, 0));
}

} // namespace

TEST(TableDrag, NotificationsCarryTheTargetAndEveryWayItEnds)
{
    enum End { Release, Escape };
    struct Case {
        const char* name;
        double toAt;         // where in row 5 the mouse ends
        LRESULT moveAnswer;  // the parent's answer to TN_DRAGMOVE
        bool noDrop;         // the parent sets cursor 0 on every move
        End end;
        bool after, onItem, cancelled;
    } const cases[] = {
        {"lower middle: after, on the item", 0.6, 1, false, Release, true, true, false},
        {"top quarter: before, between rows", 0.1, 1, false, Release, false, false, false},
        {"moves answered 0 get lines only", 0.6, 0, false, Release, true, false, false},
        {"cursor 0 at the drop cancels", 0.6, 1, true, Release, true, true, true},
        {"Esc cancels", 0.6, 1, false, Escape, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTableHost host(20, TwoColumns());
        HWND list = host.table.m_hWnd;
        host.onDrag = [&](TableDragInfo& info) -> LRESULT {
            if (info.hdr.code == TN_DRAGMOVE && c.noDrop)
                info.cursor = DRAG_CURSOR_NODROP;
            return info.hdr.code == TN_DRAGMOVE ? c.moveAnswer : 1;
        };
        StartDrag(host, 2);
        ASSERT_TRUE(host.table.GetDragState());
        EXPECT_EQ(list, GetCapture());
        const TableNote* begin = host.Last(TN_DRAGBEGIN);
        ASSERT_TRUE(begin);
        EXPECT_EQ(2, begin->drag.row);
        EXPECT_EQ(DRAG_CURSOR_MOVE, begin->drag.cursor);
        EXPECT_FALSE(begin->drag.flag);

        MouseMoveTo(ToScreen(list, InRow(list, 5, c.toAt)));
        const TableNote* move = host.Last(TN_DRAGMOVE);
        ASSERT_TRUE(move);
        EXPECT_EQ(5, move->drag.row);
        EXPECT_EQ(c.toAt > 0.25, move->drag.onItem) << "as the table found it";
        EXPECT_EQ(c.onItem, BlackOnLeftEdge(list, 5) > 2) << "a frame only when on the item";

        if (c.end == Release) {
            MouseButton(true, false);
        } else {
            PressKey(list, VK_ESCAPE);
            MouseButton(true, false);
        }
        ASSERT_EQ(1, host.Count(TN_DRAGEND));
        const TableDragInfo& end = host.Last(TN_DRAGEND)->drag;
        EXPECT_EQ(5, end.row);
        EXPECT_EQ(c.after, end.after);
        EXPECT_EQ(c.onItem, end.onItem);
        EXPECT_EQ(c.cancelled, end.flag);
        EXPECT_FALSE(host.table.GetDragState());
        EXPECT_NE(list, GetCapture());
    }
}

TEST(TableDrag, TwoRowHeightsBelowScrollsEvery83MsUntilTheLastRow)
{
    CTableHost host(30, TwoColumns(), 300, 200);
    HWND list = host.table.m_hWnd;
    host.onDrag = [](TableDragInfo&) -> LRESULT { return 1; };
    const int perPage = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_LT(perPage, 30) << "rows must be hidden below";
    StartDrag(host, 1);
    ASSERT_TRUE(host.table.GetDragState());

    RECT client;
    GetClientRect(list, &client);
    const int h = RowRect(list, 0).bottom - RowRect(list, 0).top;
    MouseMoveTo(ToScreen(list, POINT{180, client.bottom + 2 * h + h / 2}));
    ASSERT_TRUE(host.table.GetDragState());
    EXPECT_EQ(83, host.table.GetDragState()->interval);
    EXPECT_EQ(kRowAfterLast, host.Last(TN_DRAGMOVE)->drag.row);

    ASSERT_TRUE(CTableHost::PumpUntil([&] { return host.table.GetDragState()->interval == 0; }, 10000));
    EXPECT_EQ(30 - perPage, SendMessageW(list, LVM_GETTOPINDEX, 0, 0)) << "scrolled to the last row";
    EXPECT_EQ(kRowAfterLast, host.table.GetDragState()->row);
    EXPECT_FALSE(host.table.GetDragState()->after);
    EXPECT_FALSE(host.table.GetDragState()->onItem);

    MouseButton(true, false);
    ASSERT_TRUE(host.Last(TN_DRAGEND));
    EXPECT_EQ(kRowAfterLast, host.Last(TN_DRAGEND)->drag.row);
    EXPECT_FALSE(host.Last(TN_DRAGEND)->drag.flag);
}

TEST(TableDrag, DestroyingTheListMidDragReleasesTheCaptureAndSaysNothing)
{
    CTableHost host(20, TwoColumns());
    host.onDrag = [](TableDragInfo&) -> LRESULT { return 1; };
    StartDrag(host, 3);
    ASSERT_TRUE(host.table.GetDragState());
    HWND list = host.table.m_hWnd;
    ASSERT_EQ(list, GetCapture());

    DestroyWindow(list);
    EXPECT_EQ(nullptr, GetCapture());
    EXPECT_FALSE(host.table.GetDragState());
    MouseButton(true, false);
    EXPECT_EQ(0, host.Count(TN_DRAGEND));
}

TEST(TableDrag, HitTestOutsideTheRows)
{
    CTableHost empty(0, TwoColumns(), 300, 200);
    CTableHost full(30, TwoColumns(), 300, 200);
    SendMessageW(full.table.m_hWnd, LVM_ENSUREVISIBLE, 15, FALSE); // rows hidden above and below
    RECT client;
    GetClientRect(full.table.m_hWnd, &client);
    RECT header;
    GetWindowRect(full.table.GetHeader(), &header);
    MapWindowPoints(nullptr, full.table.m_hWnd, reinterpret_cast<POINT*>(&header), 2);
    const int top = header.bottom, bottom = client.bottom;
    const int h = RowRect(full.table.m_hWnd, 0).bottom - RowRect(full.table.m_hWnd, 0).top;
    ASSERT_GT(h, 0);

    struct Case {
        const char* name;
        CTableHost* host;
        POINT at;
        int row, interval;
    } const cases[] = {
        {"no row height below: row 0, no scrolling", &empty, {40, bottom + 3 * h}, 0, 0},
        {"no row height above: row 0, no scrolling", &empty, {40, top - 3 * h}, 0, 0},
        {"just above: 250 ms up", &full, {40, top - h / 2}, 0, -250},
        {"two and a half rows above: 83 ms up", &full, {40, top - 2 * h - h / 2}, 0, -83},
        {"just below: 250 ms down", &full, {40, bottom + h / 2}, kRowAfterLast, 250},
        {"two and a half rows below: 83 ms down", &full, {40, bottom + 2 * h + h / 2}, kRowAfterLast, 83},
        {"level with the rows, beside them", &full, {client.right + 20, top + 2 * h}, -1, 0},
    };
    for (const Case& c : cases) {
        const CTableCtrl::DragHit hit = c.host->table.DragHitTest(c.at, true);
        EXPECT_EQ(c.row, hit.row) << c.name;
        EXPECT_EQ(c.interval, hit.interval) << c.name;
    }
}
