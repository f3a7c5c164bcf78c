// The key list page over 100,000 keys: the row map filled and counted by the real list, sorted by
// "Number" and by "Formatted number" through the table's sort request, the filter's rebuild, and
// one screen of cells read from the list. Prints the time of each step; a step that does not do
// its work fails the bench.
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <string>

#include "bench/BenchClock.h"
#include "pages/source/KeyListPage.h"
#include "tests/support/FakePageHost.h"

namespace {

constexpr int kKeys = 100000;

int Fail(const char* what, long long got = -1)
{
    if (got >= 0)
        std::printf("  FAILED: %s (%lld)\n", what, got);
    else
        std::printf("  FAILED: %s (error %lu)\n", what, GetLastError());
    std::fflush(stdout);
    return 1;
}

void Sort(CKeyListPage& page, int key)
{
    TableSortRequest request{};
    request.key = key;
    page.List().NotifyParent(TN_SORTREQUEST, &request.hdr);
}

int Rows(CKeyListPage& page)
{
    return static_cast<int>(SendMessageW(page.List().m_hWnd, LVM_GETITEMCOUNT, 0, 0));
}

} // namespace

int main()
{
    CFakePageHost host;  // with the application object the windows need
    CTransferDoc& doc = host.GetTransferDoc();
    {
        _KV_FORMAT format;
        format.name = L"Card";
        format.templ = L"%d";
        format.params = L"w01";
        CDocUpdateScope scope(doc);
        doc.SetDefaultFormatId(doc.GetFormats()[doc.AddFormat(format)]->id);
    }
    host.settings.SetKeyViewFormat(KEY_VIEW_AUTO);

    HWND window = CreateWindowExW(0, L"STATIC", L"Key list bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    CKeyListPage page(host);
    if (!window || !page.CreateDialogWindow(window))
        return Fail("no page");
    MoveWindow(page.m_hWnd, 0, 0, 780, 560, TRUE);
    ShowWindow(page.m_hWnd, SW_SHOW);
    std::printf("key list page of %d keys\n", kKeys);

    double start = NowMs();
    {
        std::vector<KvKeyPtr>& keys = doc.Keys();
        keys.reserve(kKeys);
        for (int i = 0; i < kKeys; ++i) {
            auto key = std::make_shared<_KV_KEY>();
            const int kind = i % 3;
            key->keyType = kind == 0 ? 1 : kind == 1 ? 2 : 7;
            const uint32_t value = static_cast<uint32_t>(i) * 2654435761u;
            const uint8_t bytes[5] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                      static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24),
                                      static_cast<uint8_t>(i)};
            key->keyNumber = MakeKeyNumber(bytes, 5);
            keys.push_back(std::move(key));
        }
        CDocUpdateScope scope(doc);
        doc.RaiseKeyListChange(TDK_ADDED, true);
    }
    if (Rows(page) != kKeys)
        return Fail("row map fill: rows", Rows(page));
    std::printf("  row map fill: %.1f ms\n", NowMs() - start);

    start = NowMs();
    Sort(page, 3);
    if (doc.keyListSort != 3 || doc.GetKeys().front()->keyType != 1 || doc.GetKeys().back()->keyType != 7)
        return Fail("sort by Number: sort key", doc.keyListSort);
    std::printf("  sort by Number: %.1f ms\n", NowMs() - start);

    start = NowMs();
    Sort(page, 6);
    if (doc.keyListSort != 6 || doc.GetKeys().front()->outputText > doc.GetKeys().back()->outputText)
        return Fail("sort by Formatted number: sort key", doc.keyListSort);
    std::printf("  sort by Formatted number (texts rendered): %.1f ms\n", NowMs() - start);

    for (size_t i = 0; i < doc.GetKeys().size(); i += 2)
        doc.GetKeys()[i]->flags |= KVKEY_TRANSFERRED;
    start = NowMs();
    host.settings.SetKeyListFilter(KLF_ENABLED | KLF_SHOW_NO_FORMAT);
    if (Rows(page) != kKeys / 2)
        return Fail("filter rebuild: rows", Rows(page));
    std::printf("  filter rebuild: %.1f ms\n", NowMs() - start);

    HWND list = page.List().m_hWnd;
    const int perPage = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    const int top = Rows(page) - perPage;
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(Rows(page) - 1), FALSE);
    start = NowMs();
    int cells = 0;
    for (int row = top; row < top + perPage; ++row) {
        for (int column = 0; column < 6; ++column) {
            wchar_t text[128] = {};
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = 128;
            cells += SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) > 0;
        }
    }
    if (perPage <= 0 || cells < perPage * 5)
        return Fail(perPage <= 0 ? "one screen of cells: rows per page" : "one screen of cells: cells read",
                    perPage <= 0 ? perPage : cells);
    std::printf("  one screen (%d rows x 6 columns): %.2f ms\n", perPage, NowMs() - start);

    page.Destroy();
    DestroyWindow(window);
    return 0;
}
