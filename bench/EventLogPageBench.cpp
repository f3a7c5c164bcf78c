// The event-log page over a full table of 100,000 events: the page's fill, a screen of rows
// drawn at the top and at the end, Select All + Copy of every row, and Clear. A copy that does
// not hold every row, or a Clear that leaves rows, fails the bench.
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <string>

#include "bench/BenchClock.h"
#include "config/AppSettings.h"
#include "pages/options/EventLogPage.h"
#include "resources/resource.h"
#include "tests/support/FakePageHost.h"

namespace {

constexpr int kEvents = 100000;

size_t ClipboardLines()
{
    size_t lines = 0;
    if (!OpenClipboard(nullptr))
        return 0;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
            for (; *p; ++p)
                lines += *p == L'\n';
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return lines;
}

void Paint(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

}  // namespace

int main()
{
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"nv_bench_EventLogPage.dbf";
    DeleteFileW(path.c_str());
    int rc = 0;
    try {
        CFakePageHost host;
        CEventLogDb& table = host.settings.GetEventLog();
        table.SetRecordLimit(kEvents);
        table.Open(path);
        _EVENT_RECORD event;
        event.stringId = 204;
        event.attribute = L"COM3";
        for (int i = 0; i < kEvents + 500; ++i) {  // the ring wrapped: rows cross its seam
            event.level = 1 + i % 3;
            event.time = 1741165623 + i;
            event.message = L"\"" + std::to_wstring(1000000 + i) + L"\" -> \"Copy to Clipboard\" (EM 0A0B0C, \"Std\")";
            table.AddEvent(event);
        }

        HWND parent = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 700,
                                      nullptr, nullptr, nullptr, nullptr);
        CEventLogPage page(host);
        double start = NowMs();
        if (!page.CreateDialogWindow(parent)) {
            std::printf("event-log page: FAILED, the page was not created\n");
            return 1;
        }
        SetWindowPos(page.m_hWnd, nullptr, 0, 0, 780, 660, SWP_NOZORDER | SWP_SHOWWINDOW);
        Paint(parent);
        const double fill = NowMs() - start;
        HWND list = GetDlgItem(page.m_hWnd, IDC_EVENTLOG_LIST);
        const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));

        start = NowMs();
        SendMessageW(list, LVM_ENSUREVISIBLE, 0, FALSE);
        Paint(parent);
        const double top = NowMs() - start;
        start = NowMs();
        SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count - 1), FALSE);
        Paint(parent);
        const double end = NowMs() - start;

        start = NowMs();
        SendMessageW(page.m_hWnd, WM_COMMAND, ID_SELECT_ALL_ROWS, 0);
        SendMessageW(page.m_hWnd, WM_COMMAND, ID_COPY_ROWS, 0);
        const double copy = NowMs() - start;
        const size_t lines = ClipboardLines();

        start = NowMs();
        SendMessageW(page.m_hWnd, WM_COMMAND, ID_EVENTLOG_CLEAR, 0);
        Paint(parent);
        const double clear = NowMs() - start;
        const int left = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));

        std::printf("event-log page, %d events\n", count);
        std::printf("  fill (create, columns, first screen): %.1f ms\n", fill);
        std::printf("  a screen of rows at the top: %.1f ms, at the end: %.1f ms\n", top, end);
        std::printf("  Select All + Copy: %.1f ms (%zu lines)\n", copy, lines);
        std::printf("  Clear: %.1f ms\n", clear);
        if (count != kEvents || lines != static_cast<size_t>(kEvents) || left != 0) {
            std::printf("  FAILED: %d rows shown, %zu lines copied, %d rows after Clear\n", count, lines, left);
            rc = 1;
        }
        page.Destroy();
        DestroyWindow(parent);
        table.Close();
    } catch (const std::exception& e) {
        std::printf("event-log page: FAILED: %s\n", e.what());
        rc = 1;
    }
    DeleteFileW(path.c_str());
    return rc;
}
