// A table of 100,000 owner-data rows on the screen: filled, sorted twice through the header's
// sort request, filtered (rows rebuilt, the data's change event), scrolled to the end page by
// page, and every row selected and the selection inverted. Prints the time of each step; a
// step that does not do its work fails the bench.
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "framework/TableCtrl.h"
#include "framework/WinApp.h"

namespace {

constexpr int kRows = 100000;

class CBenchApp : public CWinApp
{
public:
    bool ShowHelp(int) override { return false; }
    bool PreTranslate(MSG*) override { return false; }
};

// Key-list-like records behind the table; the view is the rows shown, in their order.
class CRecords : public CVirtualListViewData
{
public:
    struct Record
    {
        std::wstring number, name;
    };

    int GetItemCount() override { return static_cast<int>(view.size()); }
    void GetDispInfo(LVITEMW* item) override
    {
        if (!(item->mask & LVIF_TEXT) || item->iItem < 0 || item->iItem >= GetItemCount())
            return;
        const bool cached = item->iItem >= m_first && item->iItem < m_first + static_cast<int>(m_cache.size());
        const Record& r = cached ? *m_cache[static_cast<size_t>(item->iItem - m_first)]
                                 : records[static_cast<size_t>(view[static_cast<size_t>(item->iItem)])];
        const std::wstring& text = item->iSubItem == 0 ? r.number : r.name;
        lstrcpynW(item->pszText, text.c_str(), item->cchTextMax);
    }
    void CacheHint(int from, int to) override
    {
        m_first = from;
        m_cache.clear();
        for (int row = from; row <= to && row < GetItemCount(); ++row)
            m_cache.push_back(&records[static_cast<size_t>(view[static_cast<size_t>(row)])]);
    }

    std::vector<Record> records;
    std::vector<int> view;

private:
    int m_first = 0;
    std::vector<const Record*> m_cache;
};

class CBenchWindow : public CWnd
{
public:
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override
    {
        if (nmh->hwndFrom == table.m_hWnd) {
            switch (nmh->code) {
            case LVN_GETDISPINFOW:
                data.GetDispInfo(&reinterpret_cast<NMLVDISPINFOW*>(nmh)->item);
                return true;
            case LVN_ODCACHEHINT: {
                const auto* hint = reinterpret_cast<NMLVCACHEHINT*>(nmh);
                data.CacheHint(hint->iFrom, hint->iTo);
                return true;
            }
            case TN_SORTREQUEST:
                Sort(reinterpret_cast<TableSortRequest*>(nmh)->key);
                *result = 1;
                return true;
            default:
                break;
            }
        }
        return CWnd::OnNotify(id, nmh, result);
    }

    void Sort(int key)
    {
        const bool byName = std::abs(key) == 2;
        auto field = [this, byName](int i) -> const std::wstring& {
            return byName ? data.records[static_cast<size_t>(i)].name : data.records[static_cast<size_t>(i)].number;
        };
        std::stable_sort(data.view.begin(), data.view.end(),
                         [&](int a, int b) { return key > 0 ? field(a) < field(b) : field(b) < field(a); });
        data.FireEvent();
        table.SetSortColumn(key, true);
    }

    static int OnDataChanged(void* context, CVirtualListViewData* sender, int)
    {
        auto* self = static_cast<CBenchWindow*>(context);
        SendMessageW(self->table.m_hWnd, LVM_SETITEMCOUNT, static_cast<WPARAM>(sender->GetItemCount()), 0);
        InvalidateRect(self->table.m_hWnd, nullptr, TRUE);
        return 0;
    }

    CTableCtrl table;
    CRecords data;
};

void Pump(HWND window)
{
    UpdateWindow(window);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// A header click as the list reports it to its parent.
void ClickColumn(CBenchWindow& window, int column)
{
    NMLISTVIEW click{};
    click.hdr.hwndFrom = window.table.m_hWnd;
    click.hdr.idFrom = 1;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    SendMessageW(window.m_hWnd, WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&click));
}

int Fail(const char* what)
{
    std::printf("  FAILED: %s\n", what);
    return 1;
}

} // namespace

int main()
{
    CBenchApp app;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    RegisterWndClass(L"NorvaneTableBench", 0, LoadCursorW(nullptr, IDC_ARROW), reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1),
                     nullptr, nullptr);
    CBenchWindow window;
    if (!window.Create(0, L"NorvaneTableBench", L"Table bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 500, 600,
                       nullptr, nullptr))
        return Fail("no window");
    RECT client;
    GetClientRect(window.m_hWnd, &client);
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS,
                                0, 0, client.right, client.bottom, window.m_hWnd, reinterpret_cast<HMENU>(1),
                                GetModuleHandleW(nullptr), nullptr);
    window.table.Attach(list);
    ColumnDesc number, name;
    number.width = 150;
    name.width = 0;
    name.order = 1;
    name.flags = COLF_VISIBLE | COLF_AUTOSIZE;
    window.table.SetColumns({number, name});
    window.table.ApplyColumns();
    window.table.SetAlternateRows(true);
    window.data.SetEventCallback(&window, &CBenchWindow::OnDataChanged);
    std::printf("table of %d owner-data rows\n", kRows);

    // 1. Fill.
    double start = NowMs();
    window.data.records.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        wchar_t key[16];
        swprintf(key, 16, L"%010X", static_cast<unsigned>(i) * 2654435761u);
        window.data.records.push_back({key, L"Key " + std::to_wstring(kRows - i)});
        window.data.view.push_back(i);
    }
    window.data.FireEvent();
    Pump(window.m_hWnd);
    std::printf("  fill: %.1f ms\n", NowMs() - start);
    if (window.table.GetItemCount() != kRows)
        return Fail("the list does not hold every row");

    // 2. Sort through the header's request, ascending and then descending.
    for (int round = 0; round < 2; ++round) {
        start = NowMs();
        ClickColumn(window, 0);
        Pump(window.m_hWnd);
        std::printf("  sort %s: %.1f ms\n", round == 0 ? "ascending" : "descending", NowMs() - start);
    }
    const auto& records = window.data.records;
    const auto& view = window.data.view;
    const std::wstring& first = records[static_cast<size_t>(view[0])].number;
    if (window.table.GetSortColumn() != -1 || first < records[static_cast<size_t>(view[1])].number)
        return Fail("the rows are not sorted descending");

    // 3. Filter: the rows whose number holds a 7, rebuilt and announced by the data's event.
    start = NowMs();
    std::vector<int> kept;
    for (int i = 0; i < kRows; ++i) {
        if (records[static_cast<size_t>(i)].number.find(L'7') != std::wstring::npos)
            kept.push_back(i);
    }
    window.data.view.swap(kept);
    window.data.FireEvent();
    Pump(window.m_hWnd);
    const int filtered = window.table.GetItemCount();
    std::printf("  filter (%d rows left): %.1f ms\n", filtered, NowMs() - start);
    if (filtered != static_cast<int>(window.data.view.size()) || filtered == 0 || filtered == kRows)
        return Fail("the filter left the wrong rows");

    // 4. To the end, page by page.
    start = NowMs();
    int pages = 0;
    for (int top = -1; top != static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0)); ++pages) {
        top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
        SendMessageW(list, WM_VSCROLL, SB_PAGEDOWN, 0);
        Pump(window.m_hWnd);
    }
    const double scroll = NowMs() - start;
    std::printf("  scroll to the end: %d pages, %.0f ms (%.2f ms per page)\n", pages, scroll, scroll / pages);
    const int perPage = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    if (SendMessageW(list, LVM_GETTOPINDEX, 0, 0) != filtered - perPage)
        return Fail("the last page is not shown");

    // 5. Every row selected, then the selection inverted (Ctrl+A and the keypad's *).
    window.data.view.resize(static_cast<size_t>(kRows));
    for (int i = 0; i < kRows; ++i)
        window.data.view[static_cast<size_t>(i)] = i;
    window.data.FireEvent();
    Pump(window.m_hWnd);
    window.table.SelectOnly(5, false);
    start = NowMs();
    window.table.InvertSelection();
    Pump(window.m_hWnd);
    const double invert = NowMs() - start;
    const int selected = static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
    start = NowMs();
    window.table.SelectOnly(-1, false);
    Pump(window.m_hWnd);
    std::printf("  invert one selected row: %.1f ms; clear %d selected: %.1f ms\n", invert, selected, NowMs() - start);
    if (selected != kRows - 1 || SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) != 0)
        return Fail("the selection was not inverted and cleared");

    window.Destroy();
    return 0;
}
