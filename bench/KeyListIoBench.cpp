// The key list's import and export at 100,000 keys: a CSV import with and without
// "noDuplicates" (the duplicate test must not walk the list for every key), and the CSV and
// card base exports of that list. An import that loses or invents a key fails the bench.
#include <windows.h>
#include <cstdio>
#include <filesystem>
#include <string>

#include "BenchClock.h"
#include "config/AppSettings.h"
#include "core/File.h"
#include "core/TextUtil.h"
#include "pages/CsvTable.h"
#include "pages/source/KeyListIo.h"

namespace {

constexpr uint32_t kKeys = 100000;

const KeyTypeNameList kNames = {
    L"Unknown", L"Em-Marine", L"HID", L"iCode", L"Cod433 (QM-100)", L"Cod433 Fix (QM-100)", L"CAME", L"Dallas",
    L"Temic (T5557)", L"Mifare UltraLight", L"Mifare Classic 1K", L"Mifare Classic 2K", L"Mifare Classic 4K",
    L"Mifare Plus", L"Mifare Plus 1K", L"Mifare Plus 2K", L"Mifare Plus 4K", L"Smart MX with MIFARE 1K",
    L"Smart MX with MIFARE 4K", L"Mifare DESFire", L"Mifare ProX", L"Mifare Mini"};

// A CSV file of count rows, every fourth key repeating the one before it.
void WriteCsv(const std::wstring& path, uint32_t count)
{
    std::string text = "#;Type;Number\r\n";
    text.reserve(count * 32);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t value = i % 4 == 3 ? i - 1 : i;
        char line[64];
        std::snprintf(line, sizeof line, "%u;Mifare Classic 1K;04%08X\r\n", i + 1, value);
        text += line;
    }
    CFile file;
    file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    file.Write(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

int main()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"nv_keylist_bench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring input = folder + L"\\in.csv";
    WriteCsv(input, kKeys);

    bool ok = true;
    CAppSettings settings;
    CTransferDoc& doc = settings.GetTransferDoc();
    const KeyListIoContext context{settings, doc, kNames};
    for (uint32_t noDuplicates : {0u, 1u}) {
        doc.SetKeyListNoDuplicates(noDuplicates);
        const double start = NowMs();
        CCsvTableImport csv;
        ImportKeyTable(context, input, csv, true);
        const double ms = NowMs() - start;
        const size_t expected = noDuplicates ? kKeys - kKeys / 4 : kKeys;
        if (doc.GetKeys().size() != expected) {
            std::printf("KeyListIo: FAILED: %zu keys imported, %zu expected\n", doc.GetKeys().size(), expected);
            ok = false;
        }
        std::printf("KeyListIo: CSV import of %u rows, noDuplicates %u: %zu keys, %8.1f ms\n", kKeys, noDuplicates,
                    doc.GetKeys().size(), ms);
    }

    doc.SetKeyListNoDuplicates(0);
    CCsvTableImport again;
    ImportKeyTable(context, input, again, true);
    const KeyListView view{doc.GetKeys(), {0, 1, 2, 3, 4, 5}};

    double start = NowMs();
    CCsvTableExport csv;
    csv.SetSeparator(L";");
    WriteKeyTable(context, view, (folder + L"\\out.csv").c_str(), csv);
    std::printf("KeyListIo: CSV export of %zu keys: %8.1f ms\n", view.entries.size(), NowMs() - start);

    start = NowMs();
    ExportDbfCardBase(context, view, folder + L"\\out.dbf");
    std::printf("KeyListIo: card base export of %zu keys: %8.1f ms\n", view.entries.size(), NowMs() - start);

    start = NowMs();
    ImportDbfCardBase(context, folder + L"\\out.dbf", true);
    std::printf("KeyListIo: card base import of %zu keys: %8.1f ms\n", doc.GetKeys().size(), NowMs() - start);
    if (doc.GetKeys().size() != kKeys) {
        std::printf("KeyListIo: FAILED: %zu keys back from the card base\n", doc.GetKeys().size());
        ok = false;
    }

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return ok ? 0 : 1;
}
