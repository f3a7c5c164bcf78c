// The "Customize Columns" dialog as a table's 32925 opens it: steps run inside its modal loop
// (CUiScript) on the real dialog, its list and the table it customises.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "framework/ColumnChooser.h"
#include "framework/WinApp.h"
#include "resources/resource.h"
#include "tests/framework/FrameworkTestSupport.h"
#include "tests/framework/TableTestSupport.h"
#include "tests/support/WindowPicture.h"

namespace {

constexpr int V = COLF_VISIBLE;
const wchar_t kCaption[] = L"Customize Columns";

std::wstring CellText(HWND list, int row, int column)
{
    wchar_t text[128] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 128;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

std::wstring WindowText(HWND hwnd)
{
    std::wstring text;
    GetWindowString(hwnd, text);
    return text;
}

void SelectRows(HWND list, std::initializer_list<int> rows)
{
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED;
    for (int row : rows)
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

// The chooser the script works on: its window, list and object.
struct Chooser {
    HWND dialog = nullptr;
    HWND list = nullptr;
    CColumnListDialog* object = nullptr;

    bool Find(HWND except = nullptr)
    {
        dialog = FindThreadDialog(kCaption, except);
        if (!dialog)
            return false;
        list = GetDlgItem(dialog, IDC_COLUMN_LIST);
        object = dynamic_cast<CColumnListDialog*>(FindWindowObject(dialog));
        return object != nullptr;
    }
    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    void Command(int id, int code = BN_CLICKED) const
    {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
    }
    // The names of the rows, in row order.
    std::wstring Names() const
    {
        std::wstring names;
        const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row)
            names += (row ? L"," : L"") + CellText(list, row, 2);
        return names;
    }
};

// A mouse drag inside the chooser's list, from one row to a point in another.
// x differs between drags that follow each other, so that the second press is no double click.
void DragRows(HWND list, int from, int to, double at, int x)
{
    auto point = [list, x](int row, double f) {
        RECT r{LVIR_BOUNDS};
        SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        return ToScreen(list, POINT{r.left + x, r.top + static_cast<int>((r.bottom - r.top) * f)});
    };
    const POINT start = point(from, 0.5);
    MouseMoveTo(start);
    MouseButton(true, true);
    MouseMoveTo(POINT{start.x, start.y + 6});
    MouseMoveTo(point(to, at));
    MouseButton(true, false);
}

std::vector<int> Orders(const std::vector<ColumnDesc>& columns)
{
    std::vector<int> orders;
    for (const ColumnDesc& c : columns)
        orders.push_back(c.order);
    return orders;
}

class ColumnChooser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DrainMessages();
        settings.chooserColumns = ChooserDefaultColumns();
        for (ColumnDesc& c : settings.chooserColumns)
            c.titleId = 0; // as the settings store them
    }
    // Opens the chooser from the table's command and runs the steps inside it.
    void Run(CTableHost& host, std::vector<std::function<bool()>> steps)
    {
        host.table.SetSettings(&settings);
        CUiScript script(std::move(steps));
        SendMessageW(host.table.m_hWnd, WM_COMMAND, ID_CUSTOMIZE_COLUMNS, 0);
        EXPECT_TRUE(script.Finished());
        EXPECT_FALSE(script.TimedOut());
    }
    CFakeTableSettings settings;
    Chooser chooser;
};

} // namespace

TEST_F(ColumnChooser, OpensRenumberedAndSetsTheAlignmentOfTheSelection)
{
    CTableHost host(3, {Col(80, 0, COLFMT_LEFT, V, IDS_TEST_ALPHA), Col(80, 0, COLFMT_RIGHT, V | COLF_AUTOSIZE, IDS_TEST_BETA),
                        Col(80, 1, COLFMT_LEFT, 0, IDS_TEST_GAMMA)});
    Run(host, {
        [&] { return chooser.Find(); },
        [&] {
            EXPECT_EQ(L"Alpha,Beta,Gamma", chooser.Names());
            EXPECT_EQ((std::vector<int>{0, 1, 2}), Orders(chooser.object->GetWorkingCopy())) << "keys 0, 0, 1";
            EXPECT_FALSE(IsWindowEnabled(chooser.Item(IDC_COLUMN_APPLY)));
            EXPECT_FALSE(IsWindowEnabled(chooser.Item(IDC_COLUMN_ALIGN))) << "nothing selected";
            SelectRows(chooser.list, {0, 1});
            return true;
        },
        [&] { return WindowText(chooser.Item(IDC_COLUMN_NAME)) == L"*"; }, // at the next idle pass
        [&] {
            EXPECT_EQ(L"*", WindowText(chooser.Item(IDC_COLUMN_ALIGN)));
            EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(chooser.dialog, IDC_COLUMN_VISIBLE)) << "both visible";
            EXPECT_EQ(BS_AUTOCHECKBOX, GetWindowLongW(chooser.Item(IDC_COLUMN_VISIBLE), GWL_STYLE) & BS_TYPEMASK);
            EXPECT_EQ(BST_INDETERMINATE, IsDlgButtonChecked(chooser.dialog, IDC_COLUMN_AUTOSIZE)) << "one auto size";
            EXPECT_EQ(BS_AUTO3STATE, GetWindowLongW(chooser.Item(IDC_COLUMN_AUTOSIZE), GWL_STYLE) & BS_TYPEMASK);
            SendMessageW(chooser.Item(IDC_COLUMN_ALIGN), CB_SELECTSTRING, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(L"Right"));
            chooser.Command(IDC_COLUMN_ALIGN, CBN_SELCHANGE);
            EXPECT_TRUE(IsWindowEnabled(chooser.Item(IDC_COLUMN_APPLY)));
            EXPECT_EQ(L"Right", CellText(chooser.list, 0, 3));
            EXPECT_TRUE(host.table.GetColumns()[0].format == COLFMT_LEFT) << "nothing reaches the table before Apply";
            chooser.Command(IDC_COLUMN_APPLY);
            EXPECT_FALSE(IsWindowEnabled(chooser.Item(IDC_COLUMN_APPLY)));
            chooser.Command(IDCANCEL);
            return true;
        },
    });
    const std::vector<ColumnDesc>& applied = host.table.GetColumns();
    EXPECT_EQ(COLFMT_RIGHT, applied[0].format) << "Cancel after Apply keeps what was applied";
    EXPECT_EQ(COLFMT_RIGHT, applied[1].format);
    EXPECT_EQ(COLFMT_LEFT, applied[2].format);
    EXPECT_EQ((std::vector<int>{0, 1, 2}), Orders(applied));
    EXPECT_EQ(0, applied[0].flags & COLF_CHOOSER_MARK) << "the chooser's mark stays in the chooser";
    ASSERT_TRUE(host.Last(TN_COLUMNSCHANGED));
    EXPECT_EQ(TCC_ALL, host.Last(TN_COLUMNSCHANGED)->what);
    EXPECT_EQ((std::vector<bool>{false, true}), settings.placements) << "placement restored, then saved";
}

TEST_F(ColumnChooser, SortByNameThenOkOrdersTheTableAlphabetically)
{
    CTableHost host(3, {Col(80, 0, 0, V, IDS_TEST_GAMMA), Col(80, 1, 0, V, IDS_TEST_ALPHA),
                        Col(80, 2, 0, V, IDS_TEST_DELTA), Col(80, 3, 0, V, IDS_TEST_BETA)});
    Run(host, {
        [&] { return chooser.Find(); },
        [&] {
            RECT name{};
            HWND header = reinterpret_cast<HWND>(SendMessageW(chooser.list, LVM_GETHEADER, 0, 0));
            SendMessageW(header, HDM_GETITEMRECT, CHOOSER_NAME, reinterpret_cast<LPARAM>(&name));
            MouseMoveTo(ToScreen(header, POINT{(name.left + name.right) / 2, (name.top + name.bottom) / 2}));
            MouseButton(true, true);
            MouseButton(true, false);
            return true;
        },
        [&] { return chooser.Names() == L"Alpha,Beta,Delta,Gamma"; },
        [&] {
            chooser.Command(IDOK);
            return true;
        },
    });
    EXPECT_EQ((std::vector<int>{3, 0, 2, 1}), Orders(host.table.GetColumns()));
    std::vector<int> shown(4);
    SendMessageW(host.table.m_hWnd, LVM_GETCOLUMNORDERARRAY, 4, reinterpret_cast<LPARAM>(shown.data()));
    EXPECT_EQ((std::vector<int>{1, 3, 2, 0}), shown) << "Alpha, Beta, Delta, Gamma from the left";
}

TEST_F(ColumnChooser, BlockDroppedOnItselfChangesNothing)
{
    CTableHost host(3, {Col(80, 0, 0, V, IDS_TEST_ALPHA), Col(80, 1, 0, V, IDS_TEST_BETA),
                        Col(80, 2, 0, V, IDS_TEST_GAMMA), Col(80, 3, 0, V, IDS_TEST_DELTA)});
    Run(host, {
        [&] { return chooser.Find(); },
        [&] {
            SelectRows(chooser.list, {1, 2});
            DragRows(chooser.list, 1, 2, 0.75, 240); // after Gamma: inside the block's reach
            EXPECT_EQ(L"Alpha,Beta,Gamma,Delta", chooser.Names());
            EXPECT_FALSE(IsWindowEnabled(chooser.Item(IDC_COLUMN_APPLY)));
            DragRows(chooser.list, 1, 3, 0.75, 290); // after Delta
            EXPECT_EQ(L"Alpha,Delta,Beta,Gamma", chooser.Names());
            EXPECT_TRUE(IsWindowEnabled(chooser.Item(IDC_COLUMN_APPLY)));
            EXPECT_EQ(2, SendMessageW(chooser.list, LVM_GETSELECTEDCOUNT, 0, 0)) << "the moved rows stay selected";
            EXPECT_TRUE(SendMessageW(chooser.list, LVM_GETITEMSTATE, 2, LVIS_SELECTED));
            chooser.Command(IDCANCEL);
            return true;
        },
    });
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), Orders(host.table.GetColumns())) << "Cancel drops the working copy";
}

TEST_F(ColumnChooser, AChooserOpenedFromTheChooserOffersNoThirdOne)
{
    CTableHost host(3, {Col(80, 0, 0, V, IDS_TEST_ALPHA), Col(80, 1, 0, V, IDS_TEST_BETA)});
    Chooser second;
    static NMHDR click; // posted to the list: it must outlive this function's steps
    auto rightClickHeader = [](HWND list) {
        click = NMHDR{reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), 0, static_cast<UINT>(NM_RCLICK)};
        PostMessageW(list, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
    };
    UINT firstState = 0, secondState = 0;
    Run(host, {
        [&] { return chooser.Find(); },
        [&] {
            rightClickHeader(chooser.list);
            return true;
        },
        [&] {
            HMENU menu = ShownMenu();
            if (!menu)
                return false;
            firstState = GetMenuState(menu, ID_CUSTOMIZE_COLUMNS, MF_BYCOMMAND);
            EndMenu();
            PostMessageW(chooser.list, WM_COMMAND, ID_CUSTOMIZE_COLUMNS, 0);
            return true;
        },
        [&] { return second.Find(chooser.dialog); },
        [&] {
            EXPECT_EQ(L"Visible,#,Name,Align,Auto size", second.Names());
            rightClickHeader(second.list);
            return true;
        },
        [&] {
            HMENU menu = ShownMenu();
            if (!menu)
                return false;
            secondState = GetMenuState(menu, ID_CUSTOMIZE_COLUMNS, MF_BYCOMMAND);
            EndMenu();
            second.Command(IDCANCEL);
            return true;
        },
        [&] {
            if (IsWindowVisible(second.dialog))
                return false;
            chooser.Command(IDCANCEL);
            return true;
        },
    });
    EXPECT_FALSE(firstState & MF_GRAYED);
    EXPECT_TRUE(secondState & MF_GRAYED);
}

TEST_F(ColumnChooser, ItsOwnLayoutIsStoredAndResetRenumbersBrokenKeys)
{
    CTableHost host(3, {Col(80, 0, 0, V, IDS_TEST_ALPHA), Col(80, 1, 0, V, IDS_TEST_BETA),
                        Col(80, 2, 0, V, IDS_TEST_GAMMA)});
    host.onDefaults = [](TableColumnSet& set) -> LRESULT {
        if (set.columns)
            *set.columns = {Col(50, 0), Col(50, 0), Col(50, 7)}; // a key twice, one out of range
        return 1;
    };
    std::wstring menuText;
    Run(host, {
        [&] { return chooser.Find(); },
        [&] {
            SendMessageW(chooser.list, LVM_SETCOLUMNWIDTH, CHOOSER_NAME, 180);
            SendMessageW(chooser.list, WM_TABLE_WIDTHS, 0, 0);
            EXPECT_EQ(180, settings.chooserColumns[CHOOSER_NAME].width);
            EXPECT_EQ(1, settings.chooserStores);

            POINT at = ToScreen(chooser.list, POINT{40, 40});
            PostMessageW(chooser.dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(chooser.list), MAKELPARAM(at.x, at.y));
            return true;
        },
        [&] {
            HMENU menu = ShownMenu();
            if (!menu)
                return false;
            for (int i = 0; i < GetMenuItemCount(menu); ++i) {
                wchar_t text[64] = {};
                GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
                menuText += std::wstring(text) + ((GetMenuState(menu, i, MF_BYPOSITION) & MF_GRAYED) ? L" [grayed];" : L";");
            }
            EndMenu();
            chooser.Command(ID_RESET_COLUMNS, 0);
            EXPECT_EQ(L"Alpha,Beta,Gamma", chooser.Names()) << "each column once";
            EXPECT_EQ((std::vector<int>{0, 1, 2}), Orders(chooser.object->GetWorkingCopy()));
            EXPECT_TRUE(IsWindowEnabled(chooser.Item(IDC_COLUMN_APPLY)));
            chooser.Command(IDCANCEL);
            return true;
        },
    });
    EXPECT_EQ(L"Reset to Default;Select &All;", menuText);
}

TEST_F(ColumnChooser, CheckClicksFindTheirColumnByKind)
{
    CTableHost host(3, {Col(80, 0, 0, V, IDS_TEST_ALPHA), Col(80, 1, 0, V, IDS_TEST_BETA)});
    settings.chooserColumns[CHOOSER_VISIBLE].flags = 0; // the Auto size images are in list column 3
    Run(host, {
        [&] { return chooser.Find(); },
        [&] {
            RECT image{};
            image.top = 3;
            image.left = LVIR_ICON;
            SendMessageW(chooser.list, LVM_GETSUBITEMRECT, 0, reinterpret_cast<LPARAM>(&image));
            MouseMoveTo(ToScreen(chooser.list, POINT{(image.left + image.right) / 2, (image.top + image.bottom) / 2}));
            MouseButton(true, true);
            MouseButton(true, false);
            return true;
        },
        [&] { return (chooser.object->GetWorkingCopy()[0].flags & COLF_AUTOSIZE) != 0; },
        [&] {
            EXPECT_TRUE(chooser.object->GetWorkingCopy()[0].flags & COLF_VISIBLE) << "not the Visible flag";
            SelectRows(chooser.list, {1});
            PressKey(chooser.list, VK_SPACE);
            EXPECT_FALSE(chooser.object->GetWorkingCopy()[1].flags & COLF_VISIBLE) << "space hides the selected";
            chooser.Command(IDOK);
            return true;
        },
    });
    EXPECT_TRUE(host.table.GetColumns()[0].flags & COLF_AUTOSIZE);
    EXPECT_FALSE(host.table.GetColumns()[1].IsVisible());
    EXPECT_EQ(1, static_cast<int>(host.table.GetVisibleMap().size()));
}

// ColumnChooser.bmp beside the test exe: the dialog with its check images and a selected row.
TEST_F(ColumnChooser, IsRenderedAndSaved)
{
    CTableHost host(3, {Col(80, 0, 0, V, IDS_TEST_ALPHA), Col(80, 1, COLFMT_RIGHT, 0, IDS_TEST_BETA),
                        Col(80, 2, 0, V | COLF_AUTOSIZE, IDS_TEST_GAMMA)});
    Run(host, {
        [&] { return chooser.Find(); },
        [&] {
            SelectRows(chooser.list, {2});
            return true;
        },
        [&] { return WindowText(chooser.Item(IDC_COLUMN_NAME)) == L"Gamma"; },
        [&] {
            const CWindowPicture picture(chooser.dialog, L"ColumnChooser.bmp");
            EXPECT_TRUE(picture.Ok()) << picture.Problem();
            RECT frame;
            GetWindowRect(chooser.dialog, &frame);
            EXPECT_GE(frame.right - frame.left, 440);
            EXPECT_GE(frame.bottom - frame.top, 250);
            const RECT client = ClientRectInWindowPicture(chooser.dialog, chooser.dialog);
            const RECT ok = ClientRectInWindowPicture(chooser.dialog, chooser.Item(IDOK));
            EXPECT_EQ(GetSysColor(COLOR_BTNFACE), picture.Dominant(RECT{client.left, ok.top, ok.left - 4, client.bottom}))
                << "the dialog's face beside the buttons";
            EXPECT_GE(picture.InkPixels(ClientRectInWindowPicture(chooser.dialog, chooser.Item(IDC_COLUMN_APPLY)),
                                        GetSysColor(COLOR_BTNFACE)), 20) << "Apply is drawn, disabled";
            const RECT list = ClientRectInWindowPicture(chooser.dialog, chooser.list);
            auto cell = [&](int row, int column, int part = LVIR_BOUNDS) {
                RECT r{};
                r.top = column;
                r.left = part;
                SendMessageW(chooser.list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
                OffsetRect(&r, list.left, list.top);
                return r;
            };
            const COLORREF white = GetSysColor(COLOR_WINDOW);
            const int checked = picture.InkPixels(cell(0, CHOOSER_VISIBLE, LVIR_ICON), white);
            const int unchecked = picture.InkPixels(cell(1, CHOOSER_VISIBLE, LVIR_ICON), white);
            EXPECT_GE(unchecked, 30) << "the box";
            EXPECT_GE(checked, unchecked + 15) << "and the tick";
            EXPECT_GE(picture.InkPixels(cell(0, CHOOSER_NAME), white), 15) << "the title";
            EXPECT_EQ(GetApp()->m_highlightColor, picture.Dominant(cell(2, CHOOSER_ALIGN))) << "the selected row";
            chooser.Command(IDCANCEL);
            return true;
        },
    });
}
