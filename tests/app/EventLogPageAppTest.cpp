// The event-log page in the running program: switching writing on from the page opens the table
// and its "Write enabled" event is the newest row at once; switching off writes "Write disabled"
// into the table before it closes.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "pages/PageRegistry.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"

namespace {

class EventLogPageApp : public AppTest
{
protected:
    std::wstring Cell(HWND list, int row, int column)
    {
        wchar_t text[300] = L"";
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 300;
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return text;
    }
};

}  // namespace

TEST_F(EventLogPageApp, WriteSwitchedFromThePageShowsItsOwnEvents)
{
    ASSERT_EQ(kStartContinue, Start());
    CNorvaneApp& app = App();
    // Events are kept when the table closes, so that it shows both switches when opened again.
    app.GetSettings().SetHistoryFlags(app.GetSettings().GetHistoryFlags() | HIST_EVENT_RECORDS);
    app.GetSettings().SetEventLogEnabled(false);
    app.UpdateEventLog();
    ASSERT_FALSE(app.GetSettings().GetEventLog().IsOpen());
    ASSERT_TRUE(app.ShowPage(PAGE_EVENT_LOG));
    CBasePage* page = Frame()->GetCurrentPageObject();
    ASSERT_TRUE(page && page->m_hWnd);
    HWND list = GetDlgItem(page->m_hWnd, IDC_EVENTLOG_LIST);
    EXPECT_EQ(0, ListView_GetItemCount(list));

    SendMessageW(page->m_hWnd, WM_COMMAND, ID_EVENTLOG_ENABLE, 0);
    ASSERT_TRUE(app.GetSettings().GetEventLog().IsOpen());
    ASSERT_GE(ListView_GetItemCount(list), 1);
    EXPECT_EQ(L"Write enabled", Cell(list, 0, 2));

    const int before = ListView_GetItemCount(list);
    SendMessageW(page->m_hWnd, WM_COMMAND, ID_EVENTLOG_DISABLE, 0);
    EXPECT_FALSE(app.GetSettings().GetEventLog().IsOpen());
    EXPECT_EQ(0, ListView_GetItemCount(list));

    // Opened again, the table holds both events and the new one, the newest first.
    SendMessageW(page->m_hWnd, WM_COMMAND, ID_EVENTLOG_ENABLE, 0);
    ASSERT_EQ(before + 2, ListView_GetItemCount(list));
    EXPECT_EQ(L"Write enabled", Cell(list, 0, 2));
    EXPECT_EQ(L"Write disabled", Cell(list, 1, 2));
    EXPECT_EQ(L"Write enabled", Cell(list, 2, 2));
    ShutDown();
}

// The page passes its transfer-log commands on to the main window, which hands a menu's command
// to the current page first: the command runs once, asking once.
TEST_F(EventLogPageApp, ClearingTheTransferLogFromItsMenuAsksOnceAndRemovesIt)
{
    ASSERT_EQ(kStartContinue, Start());
    CAppSettings& settings = App().GetSettings();
    ASSERT_TRUE(App().ShowPage(PAGE_EVENT_LOG));
    std::wstring docs;
    settings.ResolveDocumentsFolder(docs, true);
    const std::wstring log = docs + L"\\Transfer.log";
    HANDLE file = CreateFileW(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    settings.SetConfirmFlags(settings.GetConfirmFlags() | CONFIRM_DELETE);
    std::vector<std::wstring> questions;
    m_system.askUser = [&questions](const std::wstring& text, UINT, HWND, bool*) {
        questions.push_back(text);
        return IDOK;
    };
    SendMessageW(FrameWindow(), WM_COMMAND, MAKEWPARAM(ID_CLEAR_TRANSFER_LOG, 0), 0);
    m_system.askUser = nullptr;
    EXPECT_EQ(std::vector<std::wstring>{L"Remove \"Transfer.log\"?"}, questions);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(log.c_str()));
    ShutDown();
}
