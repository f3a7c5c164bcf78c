// Saving and loading the settings file when the configuration in it is large: 10,000 keys
// and 1,000 formats. Prints the times of each step (best of a few rounds).
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <string>

#include "bench/BenchClock.h"
#include "config/AppSettings.h"

namespace {

void Fill(CTransferDoc& doc, int keys, int formats)
{
    CDocUpdateScope scope(doc);
    for (int i = 0; i < keys; ++i) {
        _KV_KEY key;
        key.keyType = 1 + i % 21;
        const uint8_t bytes[5] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i >> 16),
                                  0x5A, static_cast<uint8_t>(i % 7)};
        key.keyNumber = MakeKeyNumber(bytes, 3 + i % 3);
        doc.AddKey(key);
    }
    for (int i = 0; i < formats; ++i) {
        _KV_FORMAT format;
        format.name = L"Format " + std::to_wstring(i);
        format.templ = L"%03u,%05u\\r\\n";
        format.params = L"b2, w0";
        format.comment = L"bench format with a comment of some length";
        format.keyFilterMask = -1;
        doc.AddFormat(format);
    }
}

}  // namespace

int main()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"nv_bench_settings_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const int kKeys = 10000;
    const int kFormats = 1000;
    const int kRounds = 5;

    CAppSettings source;
    source.SetDataFolder(folder, false);
    double t0 = NowMs();
    Fill(source.GetTransferDoc(), kKeys, kFormats);
    const double fillMs = NowMs() - t0;

    double bestSave = 1e30, bestLoad = 1e30, bestResave = 1e30;
    size_t keysLoaded = 0, formatsLoaded = 0;
    for (int round = 0; round < kRounds; ++round) {
        DeleteFileW(source.GetSettingsPath().c_str());
        t0 = NowMs();
        source.Save(true, true);  // a new file: header and both parts
        bestSave = std::min(bestSave, NowMs() - t0);

        CAppSettings loaded;
        loaded.SetDataFolder(folder, false);
        t0 = NowMs();
        loaded.Load(true, true);
        bestLoad = std::min(bestLoad, NowMs() - t0);
        keysLoaded = loaded.GetTransferDoc().GetKeys().size();
        formatsLoaded = loaded.GetTransferDoc().GetFormats().size();

        t0 = NowMs();
        loaded.Save(true, true);  // an existing 1.6 file: loaded first, replaced in place
        bestResave = std::min(bestResave, NowMs() - t0);
    }

    WIN32_FILE_ATTRIBUTE_DATA info = {};
    GetFileAttributesExW(source.GetSettingsPath().c_str(), GetFileExInfoStandard, &info);
    printf("settings bench: %d keys, %d formats, file %lu bytes\n", kKeys, kFormats,
           static_cast<unsigned long>(info.nFileSizeLow));
    printf("  fill document        %8.1f ms\n", fillMs);
    printf("  save (new file)      %8.1f ms (best of %d)\n", bestSave, kRounds);
    printf("  load                 %8.1f ms (best of %d), %zu keys, %zu formats read back\n", bestLoad, kRounds,
           keysLoaded, formatsLoaded);
    printf("  save (existing 1.6)  %8.1f ms (best of %d)\n", bestResave, kRounds);

    DeleteFileW(source.GetSettingsPath().c_str());
    RemoveDirectoryW(folder.c_str());
    const bool ok = keysLoaded == static_cast<size_t>(kKeys) && formatsLoaded == static_cast<size_t>(kFormats);
    if (!ok)
        printf("  MISMATCH: the file did not give back what was saved\n");
    return ok ? 0 : 1;
}
