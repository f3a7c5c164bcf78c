// A save cut short: the real program is ended (TerminateProcess) at varied moments of the save
// of a large settings file on its way out. Every time the settings file must be the old one or
// the new one, whole; the temporary files the kills leave are removed by a later start.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/AppSettings.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"

using program_run::CProgramProcess;
using program_run::ReadWholeFile;
using program_run::RunSettings;
using program_run::WriteWholeFile;

namespace {

constexpr int kKeys = 10000;
constexpr int kKills = 20;
constexpr DWORD kStartMs = 20000;

// A settings file of an older version (so the program saves it whole on its way out) with a
// key list of kKeys keys.
std::string OldSettings()
{
    RunSettings run;
    std::string keys = "\"keyList\": {\"sort\": 0, \"keys\": [";
    char number[16];
    for (int i = 0; i < kKeys; ++i) {
        std::snprintf(number, sizeof number, "%010X", 0x1000000 + i);
        keys += std::string(i ? ", " : "") + "{\"keyType\": 1, \"keyNumber\": \"" + number + "\"}";
    }
    run.members = keys + "]},";
    std::string json = program_run::MakeSettingsJson(run);
    const std::string current = "\"version\": \"1.6\"";
    json.replace(json.find(current), current.size(), "\"version\": \"1.5\"");
    return json;
}

// Loads the folder's settings file as a start does; the number of keys it gave (-1: unreadable).
int LoadedKeys(const std::wstring& folder)
{
    CAppSettings settings;
    settings.SetDataFolder(folder, true);
    if (!settings.Load(true, true))
        return -1;
    return static_cast<int>(settings.GetTransferDoc().GetKeys().size());
}

std::vector<std::wstring> TempFiles(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\nv*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

void SetWriteTime(const std::wstring& path, ULONGLONG secondsAgo)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= secondsAgo * 10000000ull;
    const FILETIME then{t.LowPart, t.HighPart};
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &then));
    CloseHandle(h);
}

// One run of the program that is asked to close and ended delayMs after its save began (or
// left to end by itself when delayMs is INFINITE). The time from the start of the save to the
// end of the process; -1 when the program did not come up or no save began.
double CloseAndKill(const std::wstring& folder, DWORD delayMs)
{
    CProgramProcess program(folder);
    if (!program.Start(L"/n"))
        return -1;
    HWND window = program.WaitForMainWindow(kStartMs);
    if (!window)
        return -1;
    // The save makes its temporary file first: that change of names is its start.
    HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    if (change == INVALID_HANDLE_VALUE)
        return -1;
    PostMessageW(window, WM_CLOSE, 0, 0);
    const bool saving = WaitForSingleObject(change, kStartMs) == WAIT_OBJECT_0;
    FindCloseChangeNotification(change);
    const double began = program_run::NowMs();
    if (saving && delayMs != INFINITE) {
        // The moment of the kill is what this test varies.
        Sleep(delayMs);
        TerminateProcess(program.Process(), 1);
    }
    WaitForSingleObject(program.Process(), kStartMs);
    const double took = program_run::NowMs() - began;
    return saving ? took : -1;
}

}  // namespace

TEST(SaveKill, TheSettingsFileIsOldOrNewWholeWhereverTheSaveIsCut)
{
    CTempFolder folder;
    const std::wstring settingsPath = folder.File(L"Norvane.json");
    {
        CProgramProcess program(folder.Path());
        ASSERT_EQ(program.Prepare(RunSettings{}), "");
    }
    const std::string old = OldSettings();
    ASSERT_TRUE(WriteWholeFile(settingsPath, old));
    ASSERT_EQ(LoadedKeys(folder.Path()), kKeys);

    // One whole save shows what "new" is and how long saving and closing take.
    const double saveMs = CloseAndKill(folder.Path(), INFINITE);
    ASSERT_GT(saveMs, 0) << "the program did not save on its way out";
    const std::string saved = ReadWholeFile(settingsPath);
    ASSERT_NE(saved, old);
    ASSERT_EQ(LoadedKeys(folder.Path()), kKeys);
    ASSERT_TRUE(TempFiles(folder.Path()).empty());

    int oldKept = 0, newWritten = 0, insideTheSave = 0;
    for (int i = 0; i < kKills; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        ASSERT_TRUE(WriteWholeFile(settingsPath, old));
        const size_t tempsBefore = TempFiles(folder.Path()).size();
        const DWORD delay = static_cast<DWORD>(saveMs * i / kKills);
        ASSERT_GE(CloseAndKill(folder.Path(), delay), 0);
        const std::string now = ReadWholeFile(settingsPath);
        ASSERT_TRUE(now == old || now == saved) << "a settings file of " << now.size() << " bytes after a kill "
                                                << delay << " ms into the save";
        (now == old ? oldKept : newWritten)++;
        // The save had made its temporary file and not yet put it in place: the kill cut it.
        if (now == old && TempFiles(folder.Path()).size() > tempsBefore)
            ++insideTheSave;
        EXPECT_EQ(LoadedKeys(folder.Path()), kKeys);
    }
    std::printf("save and close %.0f ms; %d kills kept the old file (%d of them inside the save), %d found the "
                "new one, %zu temporary files left\n",
                saveMs, oldKept, insideTheSave, newWritten, TempFiles(folder.Path()).size());
    EXPECT_GT(insideTheSave, 0) << "no kill landed inside the save";

    // The next start removes what the kills left once it is older than a minute, and loads the
    // file; a temporary file of a save that may still run is left alone.
    const std::vector<std::wstring> left = TempFiles(folder.Path());
    for (const std::wstring& name : left)
        SetWriteTime(folder.File(name.c_str()), 120);
    ASSERT_TRUE(WriteWholeFile(folder.File(L"nvBEEF.tmp"), "a save in progress"));
    CProgramProcess next(folder.Path());
    ASSERT_TRUE(next.Start(L"/n"));
    ASSERT_TRUE(next.WaitForMainWindow(kStartMs));
    EXPECT_EQ(TempFiles(folder.Path()), std::vector<std::wstring>{L"nvBEEF.tmp"});
    EXPECT_TRUE(next.Close());
    EXPECT_EQ(GetFileAttributesW(folder.File(L"Norvane.json.bad").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LoadedKeys(folder.Path()), kKeys);
}
