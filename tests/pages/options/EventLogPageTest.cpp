// The event-log page over a real event table in a temporary folder, hosted by a fake host in a
// window of the test: row order around the ring, copying, the context menu, writing switched
// on and off, and the page default.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "config/AppSettings.h"
#include "core/SysUtil.h"
#include "pages/options/EventLogPage.h"
#include "resources/resource.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowPicture.h"

namespace {

std::wstring ClipboardText()
{
    std::wstring text;
    if (!OpenClipboard(nullptr))
        return L"<no clipboard>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

// The ids of the popup menu that is open on this thread, read from a thread timer inside its
// modal loop; the menu is then closed.
std::vector<UINT> g_menuIds;
std::vector<UINT> g_menuGrayed;
void CALLBACK ReadOpenMenu(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND popup = FindWindowW(L"#32768", nullptr);
    if (!popup)
        return;
    KillTimer(nullptr, id);
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
        const UINT item = GetMenuItemID(menu, i);
        if (item == 0 || item == static_cast<UINT>(-1))
            continue;
        g_menuIds.push_back(item);
        if (GetMenuState(menu, item, MF_BYCOMMAND) & MF_GRAYED)
            g_menuGrayed.push_back(item);
    }
    EndMenu();
}

class EventLogPageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
    }

    void SetUp() override
    {
        host.settings.SetDocumentsFolder(folder.Path());
        parent = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 420,
                                 nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(parent);
    }

    void TearDown() override
    {
        page.reset();
        DestroyWindow(parent);
        host.settings.GetEventLog().Close();
    }

    // A ring of at most `limit` records holding events "e1" ... "e<n>" (the newest overwriting).
    void FillTable(int limit, int n)
    {
        CEventLogDb& table = host.settings.GetEventLog();
        table.SetRecordLimit(limit);
        table.Open(folder.File(L"EventLog.dbf"));
        for (int i = 1; i <= n; ++i) {
            _EVENT_RECORD event;
            event.time = 1700000000 + i;
            event.level = 1 + i % 3;
            event.attribute = L"s" + std::to_wstring(i);
            event.message = L"e" + std::to_wstring(i);
            table.AddEvent(event);
        }
    }

    void ShowPage()
    {
        page = std::make_unique<CEventLogPage>(host);
        ASSERT_TRUE(page->CreateDialogWindow(parent));
        SetWindowPos(page->m_hWnd, nullptr, 0, 0, 620, 380, SWP_NOZORDER | SWP_SHOWWINDOW);
    }

    HWND List() const { return GetDlgItem(page->m_hWnd, IDC_EVENTLOG_LIST); }

    std::wstring Cell(int row, int column)
    {
        wchar_t text[300] = L"";
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 300;
        SendMessageW(List(), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return text;
    }

    int Count() const { return static_cast<int>(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0)); }

    void SelectAll() { SendMessageW(page->m_hWnd, WM_COMMAND, ID_SELECT_ALL_ROWS, 0); }

    std::vector<UINT> OpenMenu()
    {
        g_menuIds.clear();
        g_menuGrayed.clear();
        SetTimer(nullptr, 0, 20, ReadOpenMenu);
        RECT r{};
        GetWindowRect(List(), &r);
        SendMessageW(page->m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(List()), MAKELPARAM(r.left + 20, r.top + 40));
        return g_menuIds;
    }

    CTempFolder folder;
    CFakePageHost host;
    HWND parent = nullptr;
    std::unique_ptr<CEventLogPage> page;
};

TEST(EventLogRows, RowsRunNewestFirstAroundTheRingAndNeverOutsideTheTable)
{
    struct Row { int row, position, count, record; };
    const Row rows[] = {
        {0, 4, 10, 3}, {2, 4, 10, 1}, {3, 4, 10, 10}, {9, 4, 10, 4},   // wrapped
        {0, 11, 10, 10}, {9, 11, 10, 1},                               // not yet wrapped
        {0, 1, 10, 10},                                                // position at the start
        {0, 0, 10, 10}, {0, -7, 10, 10}, {0, 500, 10, 10}, {9, 500, 10, 1},  // damaged positions
        {10, 4, 10, 0}, {-1, 4, 10, 0}, {0, 1, 0, 0},                  // no such row
    };
    for (const Row& r : rows)
        EXPECT_EQ(CEventLogLvData::RecordOfRow(r.row, r.position, r.count), r.record)
            << "row " << r.row << " position " << r.position << " count " << r.count;
}

TEST_F(EventLogPageTest, TenRecordsAtRingPositionFourShowNewestFirst)
{
    FillTable(10, 13);  // events 11-13 overwrote records 1-3: the position is 4
    ASSERT_EQ(host.settings.GetEventLog().GetRingPosition(), 4);
    ShowPage();
    ASSERT_EQ(Count(), 10);
    std::vector<std::wstring> messages;
    for (int row = 0; row < 10; ++row)
        messages.push_back(Cell(row, 2));
    const std::vector<std::wstring> expected = {L"e13", L"e12", L"e11", L"e10", L"e9",
                                                L"e8",  L"e7",  L"e6",  L"e5",  L"e4"};
    EXPECT_EQ(messages, expected);
    EXPECT_EQ(Cell(0, 1), L"s13");

    // The picture: text in the list and the three level pictures beside the times.
    const CWindowPicture picture(parent, L"EventLogPage.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    // Rows 0 to 9 hold events 13 down to 4, of levels 2, 1, 3, 2, 1, 3, ...: each row's picture
    // has ink, rows of one level show the same picture and the three levels three pictures.
    const RECT list = ClientRectInWindowPicture(parent, List());
    std::map<int, std::vector<COLORREF>> levelPictures;
    for (int row = 0; row < 10; ++row) {
        RECT icon{LVIR_ICON};
        SendMessageW(List(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&icon));
        OffsetRect(&icon, list.left, list.top);
        icon.right = icon.left + 16;
        icon.bottom = icon.top + 16;
        EXPECT_GE(picture.InkPixels(icon, GetSysColor(COLOR_WINDOW)), 40) << "row " << row;
        std::vector<COLORREF> pixels;
        for (int y = icon.top; y < icon.bottom; ++y)
            for (int x = icon.left; x < icon.right; ++x)
                pixels.push_back(picture.Pixel(x, y));
        const int level = 1 + (13 - row) % 3;
        if (levelPictures.count(level))
            EXPECT_EQ(levelPictures[level], pixels) << "row " << row;
        else
            levelPictures[level] = pixels;
    }
    ASSERT_EQ(3u, levelPictures.size());
    EXPECT_NE(levelPictures[1], levelPictures[2]);
    EXPECT_NE(levelPictures[2], levelPictures[3]);
    EXPECT_NE(levelPictures[1], levelPictures[3]);

    // The time of day only, unless the event records are remembered: then date and time.
    std::wstring timeOnly, dateAndTime;
    CTimeValue(1700000013).Format(L"%X", timeOnly);
    CTimeValue(1700000013).Format(L"%c", dateAndTime);
    ASSERT_NE(timeOnly, dateAndTime);
    host.settings.SetHistoryFlags(host.settings.GetHistoryFlags() & ~HIST_EVENT_RECORDS);
    page->ExchangeData(false);
    EXPECT_EQ(Cell(0, 0), timeOnly);
    host.settings.SetHistoryFlags(host.settings.GetHistoryFlags() | HIST_EVENT_RECORDS);
    page->ExchangeData(false);
    EXPECT_EQ(Cell(0, 0), dateAndTime);

    SendMessageW(page->m_hWnd, WM_COMMAND, ID_EVENTLOG_CLEAR, 0);
    EXPECT_EQ(Count(), 0);
}

TEST_F(EventLogPageTest, CopyGivesTabbedLinesAndAHiddenColumnAnEmptyField)
{
    FillTable(100, 3);
    {
        auto columns = host.settings.EditColumns(COLS_EVENTLOG);
        *columns = GetDefaultColumns(COLS_EVENTLOG);
        (*columns)[1].flags &= ~COLF_VISIBLE;  // "Sender" hidden
    }
    ShowPage();
    SelectAll();
    SendMessageW(page->m_hWnd, WM_COMMAND, ID_COPY_ROWS, 0);
    std::wstring expected;
    for (int i = 3; i >= 1; --i) {
        std::wstring time;
        CTimeValue(1700000000 + i).Format(host.settings.IsHistory(HIST_EVENT_RECORDS) ? L"%c" : L"%X", time);
        expected += time + L"\t\te" + std::to_wstring(i) + L"\r\n";
    }
    EXPECT_EQ(ClipboardText(), expected);

    // Nothing selected copies an empty text.
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED;
    SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    SendMessageW(page->m_hWnd, WM_COMMAND, ID_COPY_ROWS, 0);
    EXPECT_EQ(ClipboardText(), L"");
}

TEST_F(EventLogPageTest, TheMenuHoldsOnlyTheWriteSwitchThatApplies)
{
    FillTable(100, 2);
    ShowPage();
    std::vector<UINT> ids = OpenMenu();
    EXPECT_NE(std::find(ids.begin(), ids.end(), ID_EVENTLOG_ENABLE), ids.end());
    EXPECT_EQ(std::find(ids.begin(), ids.end(), ID_EVENTLOG_DISABLE), ids.end());
    // No row selected, no transfer log yet: Copy and both transfer-log items are greyed.
    std::vector<UINT> grayed = g_menuGrayed;
    std::sort(grayed.begin(), grayed.end());
    EXPECT_EQ(grayed, (std::vector<UINT>{ID_OPEN_TRANSFER_LOG, ID_CLEAR_TRANSFER_LOG, ID_COPY_ROWS}));

    host.settings.SetEventLogEnabled(true);
    HANDLE log = CreateFileW(folder.File(L"Transfer.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(log);
    SelectAll();
    ids = OpenMenu();
    EXPECT_EQ(std::find(ids.begin(), ids.end(), ID_EVENTLOG_ENABLE), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), ID_EVENTLOG_DISABLE), ids.end());
    EXPECT_TRUE(g_menuGrayed.empty());
}

TEST_F(EventLogPageTest, EnableWritesItsEventAfterOpeningAndDisableBeforeClosing)
{
    ShowPage();
    SendMessageW(page->m_hWnd, WM_COMMAND, ID_EVENTLOG_ENABLE, 0);
    EXPECT_TRUE(host.settings.IsEventLogEnabled());
    SendMessageW(page->m_hWnd, WM_COMMAND, ID_EVENTLOG_ENABLE, 0);  // already on: nothing
    SendMessageW(page->m_hWnd, WM_COMMAND, ID_EVENTLOG_DISABLE, 0);
    EXPECT_FALSE(host.settings.IsEventLogEnabled());
    const std::vector<std::wstring> expected = {L"UpdateEventLog", L"LogPageEvent|1|515",
                                                L"LogPageEvent|1|516", L"UpdateEventLog"};
    EXPECT_EQ(host.calls, expected);
}

TEST_F(EventLogPageTest, PageDefaultSwitchesWritingOffAndRestoresTheColumns)
{
    host.settings.SetEventLogEnabled(true);
    {
        auto columns = host.settings.EditColumns(COLS_EVENTLOG);
        (*columns)[2].width = 400;
        (*columns)[0].flags &= ~COLF_VISIBLE;
    }
    ShowPage();
    SendMessageW(page->m_hWnd, WM_COMMAND, ID_PAGE_DEFAULT, 0);
    EXPECT_FALSE(host.settings.IsEventLogEnabled());
    EXPECT_EQ(host.settings.GetEventLogLimit(), kEventLogNoLimit);
    EXPECT_EQ(host.settings.Columns(COLS_EVENTLOG), GetDefaultColumns(COLS_EVENTLOG));
    // The page follows: three columns again, "Time" first.
    HWND header = ListView_GetHeader(List());
    EXPECT_EQ(Header_GetItemCount(header), 3);
}

}  // namespace
