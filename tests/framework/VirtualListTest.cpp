// A list of 100,000 owner-data rows: what it asks its data for, scrolling a row to the top or
// near the middle, the selection keys, and the data's change event.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <stdexcept>

#include "tests/framework/FrameworkTestSupport.h"
#include "tests/framework/TableTestSupport.h"

namespace {

constexpr int kRows = 100000;

std::vector<ColumnDesc> TwoColumns()
{
    return {Col(120, 0, COLFMT_LEFT, COLF_VISIBLE, IDS_TEST_ALPHA), Col(120, 1, COLFMT_LEFT, COLF_VISIBLE, IDS_TEST_BETA)};
}

int TopRow(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
}

int PerPage(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
}

int SelectedCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
}

bool IsSelected(HWND list, int row)
{
    return SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) != 0;
}

} // namespace

TEST(VirtualRows, DataIsAskedOnlyForHintedRowsThatAreShown)
{
    CTableHost host(kRows, TwoColumns());
    HWND list = host.table.m_hWnd;
    ASSERT_TRUE(host.table.ScrollRowToTop(50000));
    DrainMessages();
    host.rows.asked.clear();
    host.rows.hints.clear();
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);

    const int top = TopRow(list), last = top + PerPage(list); // one partly shown row below the page
    ASSERT_EQ(50000, top);
    ASSERT_FALSE(host.rows.asked.empty());
    for (int row : host.rows.asked) {
        EXPECT_TRUE(row >= top && row <= last) << row << " is not shown";
        const bool hinted = std::any_of(host.rows.hints.begin(), host.rows.hints.end(),
                                        [row](const auto& h) { return row >= h.first && row <= h.second; });
        EXPECT_TRUE(hinted) << row << " outside every cache hint";
    }
}

TEST(VirtualRows, ScrollRowToTopAndSelectOnly)
{
    CTableHost host(kRows, TwoColumns());
    HWND list = host.table.m_hWnd;
    const int perPage = PerPage(list), half = perPage / 2, lastTop = kRows - perPage;
    ASSERT_GT(perPage, 4);

    struct Scroll {
        int row, top;
    } const scrolls[] = {{50000, 50000}, {kRows - 1, lastTop}, {-5, 0}, {10, 10}, {0, 0}};
    for (const Scroll& s : scrolls) {
        EXPECT_TRUE(host.table.ScrollRowToTop(s.row)) << s.row;
        EXPECT_EQ(s.top, TopRow(list)) << s.row;
    }

    // A row before the middle of the page brings row - half + 1 into view (it becomes the top
    // row), any other row brings row + half into view (it becomes the last whole row).
    struct Select {
        int fromTop, row, top;
    } const selects[] = {
        {0, 50000, 50000 + half - perPage + 1},
        {50000, 10, 10 - half + 1},
        {0, kRows - 1, lastTop},
        {0, 2, 0},
        {50000, 50000 + half - 1, 50000 + half - 1 - half + 1},
    };
    for (const Select& s : selects) {
        host.table.ScrollRowToTop(s.fromTop);
        host.table.SelectOnly(s.row, true);
        EXPECT_EQ(s.top, TopRow(list)) << s.row;
        std::vector<int> selected;
        EXPECT_EQ(1, host.table.GetSelectedItems(selected));
        EXPECT_EQ(std::vector<int>{s.row}, selected);
        EXPECT_EQ(s.row, SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    }
    host.table.SelectOnly(-1, true);
    EXPECT_EQ(0, SelectedCount(list));
    EXPECT_EQ(-1, SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

TEST(VirtualRows, CtrlASelectsAllAndKeypadStarInverts)
{
    CTableHost host(kRows, TwoColumns());
    HWND list = host.table.m_hWnd;
    EXPECT_TRUE(SendMessageW(list, WM_GETDLGCODE, VK_RETURN, 0) & DLGC_WANTALLKEYS) << "Enter reaches the list";

    PressKey(list, 'A', {VK_CONTROL, VK_SHIFT});
    EXPECT_EQ(0, SelectedCount(list)) << "Ctrl+Shift+A is not select-all";
    PressKey(list, 'A', {VK_CONTROL});
    EXPECT_EQ(kRows, SelectedCount(list));
    PressKey(list, VK_MULTIPLY);
    EXPECT_EQ(0, SelectedCount(list));

    host.table.SelectOnly(5, false);
    PressKey(list, VK_MULTIPLY);
    EXPECT_EQ(kRows - 1, SelectedCount(list));
    EXPECT_FALSE(IsSelected(list, 5));
    EXPECT_TRUE(IsSelected(list, 4));
    EXPECT_TRUE(IsSelected(list, kRows - 1));
}

TEST(VirtualRows, TheOwnerTakesKeysFirstAndSpaceTogglesTheSelectedChecks)
{
    CTableHost host(kRows, TwoColumns());
    HWND list = host.table.m_hWnd;
    std::vector<std::pair<WORD, unsigned>> keys;
    std::vector<int> toggled;
    host.table.events.keyDown = [&keys](WORD key, unsigned modifiers) {
        keys.emplace_back(key, modifiers);
        return key == 'A';
    };
    host.table.events.toggleCheck = [&toggled](int row) { toggled.push_back(row); };

    PressKey(list, 'A', {VK_CONTROL});
    EXPECT_EQ(0, SelectedCount(list)) << "the owner took Ctrl+A";
    PressKey(list, VK_DELETE, {VK_SHIFT, VK_CONTROL});
    EXPECT_EQ((std::vector<std::pair<WORD, unsigned>>{{'A', LIST_KEY_CTRL}, {VK_DELETE, LIST_KEY_SHIFT | LIST_KEY_CTRL}}), keys);

    host.table.SelectOnly(2, false);
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 6, reinterpret_cast<LPARAM>(&item));
    PressKey(list, VK_SPACE);
    EXPECT_EQ((std::vector<int>{2, 6}), toggled);
}

TEST(VirtualRows, FireEventAnswersTheOwnerAndSwallowsItsFailure)
{
    struct Owner {
        int calls = 0;
        CVirtualListViewData* sender = nullptr;
    } owner;
    CNumberedRows rows(3);
    EXPECT_EQ(0, rows.FireEvent()) << "no owner yet";

    rows.SetEventCallback(&owner, [](void* context, CVirtualListViewData* sender, int arg) {
        auto* o = static_cast<Owner*>(context);
        ++o->calls;
        o->sender = sender;
        return 7 + arg;
    });
    EXPECT_EQ(7, rows.FireEvent());
    EXPECT_EQ(1, owner.calls);
    EXPECT_EQ(&rows, owner.sender);

    rows.SetEventCallback(&owner, [](void*, CVirtualListViewData*, int) -> int {
        throw std::runtime_error("refresh failed");
    });
    EXPECT_EQ(0, rows.FireEvent());
}
