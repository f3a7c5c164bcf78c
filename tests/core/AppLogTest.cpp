#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/AppLog.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "tests/support/FakeSystemServices.h"
#include "tests/support/TempFolder.h"

namespace
{

class CTestLogSettings : public ILogSettingsSource
{
public:
    std::wstring ResolveLogFolder() override { return folder; }
    DebugLogSettings GetDebugLogSettings() override { return settings; }

    std::wstring folder;
    DebugLogSettings settings{true, 4, -1, false};
};

void FixedClock(SYSTEMTIME& now)
{
    now = SYSTEMTIME{};
    now.wYear = 2024;
    now.wMonth = 3;
    now.wDay = 5;
    now.wHour = 14;
    now.wMinute = 3;
    now.wSecond = 7;
    now.wMilliseconds = 45;
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Narrow(const std::wstring& w)
{
    return WStringToMultiByte(w, CP_ACP);
}

class AppLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings.folder = dir.Path();
        app.LogSettings = &settings;
        system.localTime = FixedClock;
        app.Reader = &reader;
        app.ReaderPortName = [] { return std::wstring(L"COM3"); };
        app.BridgeLink = &bridge;
        app.CcidWatcher = &ccid;
    }
    std::wstring LogPath() const { return dir.File(L"Norvane.log"); }
    std::wstring OldPath() const { return dir.File(L"Norvane_old.log"); }

    // The version line that starts every run, as the log must write it.
    std::string VersionLine() const
    {
        wchar_t exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring line = L"14:03:07.045 [I] Log 05.03.2024 (Norvane v" +
                            VersionToString(GetFilePackedVersion(exe)) + L", Windows v" +
                            VersionToString(GetFilePackedVersion(L"kernel32.dll")) + L")\r\n";
        return Narrow(line);
    }

    CFakeSystemServices system;
    CTempFolder dir;
    CTestLogSettings settings;
    CAppContext app;
    int reader = 0, bridge = 0, ccid = 0, other = 0;
};

}  // namespace

TEST_F(AppLogTest, FirstEntryOfRunWritesVersionLineFirst)
{
    LogMessage(&app, &reader, LOG_ERROR, L"%s", L"text");
    LogMessage(&app, &reader, LOG_ERROR, L"second %d", 2);
    EXPECT_EQ(VersionLine() + "14:03:07.045 [E COM3] text\r\n" + "14:03:07.045 [E COM3] second 2\r\n",
              ReadBytes(LogPath()));
    EXPECT_EQ(LogPath(), app.GetLogPath());
    // The version line carries real version numbers.
    EXPECT_EQ(std::string::npos, VersionLine().find("v,")) << VersionLine();
}

TEST_F(AppLogTest, ClearOnStartupLeavesOnlyThisRun)
{
    WriteBytes(LogPath(), "old line\r\n");
    settings.settings.clearOnStartup = true;
    LogMessage(&app, nullptr, LOG_INFO, L"started");
    EXPECT_EQ(VersionLine() + "14:03:07.045 [I] started\r\n", ReadBytes(LogPath()));
    // Only the first entry of a run clears.
    LogMessage(&app, nullptr, LOG_INFO, L"next");
    EXPECT_EQ(VersionLine() + "14:03:07.045 [I] started\r\n14:03:07.045 [I] next\r\n", ReadBytes(LogPath()));
}

TEST_F(AppLogTest, WithoutClearOnStartupOldLinesStay)
{
    WriteBytes(LogPath(), "old line\r\n");
    LogMessage(&app, nullptr, LOG_INFO, L"started");
    EXPECT_EQ("old line\r\n" + VersionLine() + "14:03:07.045 [I] started\r\n", ReadBytes(LogPath()));
}

TEST_F(AppLogTest, KindAndSourceTags)
{
    struct Case
    {
        const void* source;
        int kind;
        const char* line;
    } cases[] = {
        {nullptr, LOG_INFO, "14:03:07.045 [I] text\r\n"},
        {&ccid, LOG_INFO, "14:03:07.045 [I CCID] text\r\n"},
        {&bridge, LOG_WARNING, "14:03:07.045 [W Portavo] text\r\n"},
        {&reader, LOG_ERROR, "14:03:07.045 [E COM3] text\r\n"},
        {&other, LOG_ERROR, "14:03:07.045 [E] text\r\n"},  // an unknown object names no source
        {nullptr, 0, "14:03:07.045 [ ] text\r\n"},
        // Kinds outside the letters must not read past them.
        {nullptr, 4, "14:03:07.045 [?] text\r\n"},
        {&ccid, -1, "14:03:07.045 [? CCID] text\r\n"},
        {nullptr, 1000000, "14:03:07.045 [?] text\r\n"},
    };
    LogMessage(&app, nullptr, LOG_INFO, L"first");
    for (const Case& c : cases)
    {
        std::string before = ReadBytes(LogPath());
        LogMessage(&app, c.source, c.kind, L"text");
        EXPECT_EQ(before + c.line, ReadBytes(LogPath())) << c.line;
    }
}

TEST_F(AppLogTest, TextFromStringResourceAndLongTexts)
{
    LogMessageById(&app, nullptr, LOG_INFO, 200, 1, 2, 2003, L"A", L"B");
    std::wstring longText(6000, L'x');
    LogMessage(&app, &ccid, LOG_INFO, L"%s!", longText.c_str());
    app.WriteLogLine(LOG_WARNING, L"SRC", L"abcdef", 3);
    EXPECT_EQ(VersionLine() + "14:03:07.045 [I] Log 01.02.2003 (Norvane vA, Windows vB)\r\n" +
                  "14:03:07.045 [I CCID] " + std::string(6000, 'x') + "!\r\n" + "14:03:07.045 [W SRC] abc\r\n",
              ReadBytes(LogPath()));
}

TEST_F(AppLogTest, TextGoesOutInAnsiCodePage)
{
    LogMessage(&app, nullptr, LOG_INFO, L"caf\u00e9 \u0416");
    std::string expected = Narrow(L"14:03:07.045 [I] caf\u00e9 \u0416\r\n");
    std::string bytes = ReadBytes(LogPath());
    EXPECT_EQ(expected, bytes.substr(bytes.size() - expected.size()));
    if (GetACP() == 1252)
    {
        EXPECT_EQ(std::string("14:03:07.045 [I] caf\xe9 ?\r\n"), expected);
    }
}

TEST_F(AppLogTest, RotatesAtSizeLimit)
{
    struct Case
    {
        size_t existing;
        int maxSize;
        bool rotates;
    } cases[] = {
        {1048576, 1, true},
        {1048575, 1, false},
        {1048576, -1, false},
        {10, 0, true},  // a limit of 0 rotates before every append
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.existing);
        CTempFolder folder;
        CTestLogSettings s;
        s.folder = folder.Path();
        s.settings.maxSize = c.maxSize;
        CAppContext ctx;
        ctx.LogSettings = &s;
        const std::wstring log = folder.File(L"Norvane.log"), old = folder.File(L"Norvane_old.log");
        const std::string content(c.existing, 'a');
        WriteBytes(log, content);
        WriteBytes(old, "previous old file");
        LogMessage(&ctx, nullptr, LOG_INFO, L"entry");
        const std::string entry = VersionLine() + "14:03:07.045 [I] entry\r\n";
        if (c.rotates)
        {
            EXPECT_EQ(entry, ReadBytes(log));
            EXPECT_EQ(content, ReadBytes(old));  // a previous old file is replaced
        }
        else
        {
            EXPECT_EQ(content + entry, ReadBytes(log));
            EXPECT_EQ("previous old file", ReadBytes(old));
        }
    }
}

TEST_F(AppLogTest, NoFolderLosesEntryAndRetriesLater)
{
    settings.folder.clear();
    LogMessage(&app, nullptr, LOG_INFO, L"lost");
    EXPECT_EQ(L"", app.GetLogPath());
    settings.folder = dir.Path() + L"\\";  // a trailing separator gives no double one
    LogMessage(&app, nullptr, LOG_INFO, L"kept");
    EXPECT_EQ(LogPath(), app.GetLogPath());
    EXPECT_EQ(VersionLine() + "14:03:07.045 [I] kept\r\n", ReadBytes(LogPath()));
}

TEST_F(AppLogTest, CallerFilterFollowsSettings)
{
    struct Case
    {
        bool enabled;
        int level;
        int threshold;
        bool logged;
    } cases[] = {
        {true, 2, LOG_THRESHOLD_ERROR, true},   {true, 1, LOG_THRESHOLD_ERROR, false},
        {true, 4, LOG_THRESHOLD_INFO, true},    {true, 4, LOG_THRESHOLD_TRACE, false},
        {true, 5, LOG_THRESHOLD_TRACE, true},   {false, 6, LOG_THRESHOLD_ERROR, false},
    };
    for (const Case& c : cases)
    {
        settings.settings.enabled = c.enabled;
        settings.settings.logLevel = c.level;
        EXPECT_EQ(c.logged, app.IsLogged(c.threshold)) << c.level << " " << c.threshold;
    }
    CAppContext bare;
    EXPECT_FALSE(bare.IsLogged(LOG_THRESHOLD_ERROR));
}

TEST_F(AppLogTest, FourThreadsNeverInterleaveLines)
{
    system.localTime = nullptr;  // the real clock
    constexpr int kThreads = 4, kEntries = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            const void* sources[] = {&reader, &bridge, &ccid, nullptr};
            for (int i = 0; i < kEntries; ++i)
                LogMessage(&app, sources[t], LOG_WARNING, L"thread %d entry %d %s", t, i,
                           std::wstring(80 + t * 10, L'a' + t).c_str());
        });
    for (auto& th : threads)
        th.join();

    std::istringstream in(ReadBytes(LogPath()));
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(std::string::npos, line.find("[I] Log ")) << line;
    const std::regex entry(R"(\d\d:\d\d:\d\d\.\d\d\d \[W( COM3| Portavo| CCID)?\] thread (\d) entry (\d+) ([a-d]+)\r)");
    int next[kThreads] = {};
    int lines = 0;
    while (std::getline(in, line))
    {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, entry)) << line;
        int t = std::stoi(m[2]);
        EXPECT_EQ(next[t]++, std::stoi(m[3]));  // each thread's entries in its own order
        EXPECT_EQ(std::string(80 + t * 10, static_cast<char>('a' + t)), m[4].str());
        ++lines;
    }
    EXPECT_EQ(kThreads * kEntries, lines);
}
