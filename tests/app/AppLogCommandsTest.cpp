#include "app/AppLogCommands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../config/AppSettingsTestSupport.h"
#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/TextUtil.h"
#include "config/EventLogDb.h"
#include "tests/support/FakeSystemServices.h"

namespace {

using settings_test::ReadBytes;
using settings_test::SettingsFixture;
using settings_test::WriteBytes;
using Strings = std::vector<std::wstring>;

constexpr UINT kKeyReadId = 61000;   // "Key %s read (%d)", tests/app/AppTest.rc

class EventTableShellTest : public SettingsFixture {
protected:
    void SetUp() override
    {
        SettingsFixture::SetUp();
        tablePath = dir.File(kEventLogFileName);
    }
    void TearDown() override
    {
        CloseEventLog(settings, log);
        SettingsFixture::TearDown();
    }
    void Enable(int32_t limit, bool keepEvents)
    {
        LoadMembers("\"main\": {\"history\": " + std::to_string(keepEvents ? 8192 : 0) +
                    "}, \"eventLog\": {\"enabled\": true, \"limit\": " + std::to_string(limit) + "}");
    }
    void Log(const wchar_t* key, int n = 1)
    {
        LogEvent(settings, log, 1741165623, EVENT_INFO, kKeyReadId, L"COM3", key, n);
    }
    Strings Messages()
    {
        CEventLogDb& table = settings.GetEventLog();
        Strings out;
        for (uint32_t r = 1; r <= table.GetEventCount(); ++r) {
            _EVENT_RECORD e;
            table.ReadEvent(static_cast<int>(r), e);
            out.push_back(e.message);
        }
        return out;
    }
    bool StateRaised() const { return (recorder.details.state & ASS_EVENT_TABLE) != 0; }

    std::wstring tablePath;
    CAppContext* log = nullptr;   // the debug log of the table's failures
};

TEST_F(EventTableShellTest, EnabledTableOpensInTheDataFolderAndEventsReachIt)
{
    Enable(100, false);
    recorder.Reset();
    UpdateEventLog(settings, log);
    ASSERT_TRUE(settings.GetEventLog().IsOpen());
    EXPECT_EQ(settings.GetEventLog().GetPath(), tablePath);
    EXPECT_TRUE(StateRaised());

    recorder.Reset();
    Log(L"0A0B0C", 2);
    EXPECT_TRUE(StateRaised());
    _EVENT_RECORD e;
    settings.GetEventLog().ReadEvent(1, e);
    EXPECT_EQ(e.message, L"Key 0A0B0C read (2)");
    EXPECT_EQ(e.attribute, L"COM3");
    EXPECT_EQ(e.level, EVENT_INFO);
    EXPECT_EQ(e.stringId, static_cast<int32_t>(kKeyReadId));
    EXPECT_EQ(e.time, 1741165623);

    // Switched off: closed, and a closed table takes no events.
    LoadMembers("\"eventLog\": {\"enabled\": false, \"limit\": 100}");
    UpdateEventLog(settings, log);
    EXPECT_FALSE(settings.GetEventLog().IsOpen());
    recorder.Reset();
    Log(L"x");
    EXPECT_FALSE(StateRaised());
    EXPECT_FALSE(settings.GetEventLog().IsOpen());
}

TEST_F(EventTableShellTest, EventsOfTheLastRunGoUnlessTheyAreKept)
{
    for (bool keep : {false, true}) {
        Enable(100, keep);
        ASSERT_TRUE(OpenEventLog(settings, log));
        settings.GetEventLog().Clear();
        Log(L"A");
        Log(L"B");
        CloseEventLog(settings, log);
        EXPECT_FALSE(settings.GetEventLog().IsOpen());
        {
            CEventLogDb look;
            look.Open(tablePath);
            EXPECT_EQ(look.GetEventCount(), keep ? 2u : 0u) << keep;
        }
        ASSERT_TRUE(OpenEventLog(settings, log));
        EXPECT_EQ(Messages(), keep ? (Strings{L"Key A read (1)", L"Key B read (1)"}) : Strings{}) << keep;
        CloseEventLog(settings, log);
    }
}

TEST_F(EventTableShellTest, TableOfAnEarlierRunIsEmptiedOnOpenWithoutTheHistoryBit)
{
    {
        CEventLogDb earlier;
        earlier.Open(tablePath);
        _EVENT_RECORD e;
        e.message = L"from the last run";
        earlier.AddEvent(e);
    }
    Enable(100, false);
    ASSERT_TRUE(OpenEventLog(settings, log));
    EXPECT_EQ(settings.GetEventLog().GetEventCount(), 0u);
}

TEST_F(EventTableShellTest, TableHeldByAnotherProgramFailsQuietly)
{
    Enable(100, true);
    ASSERT_TRUE(OpenEventLog(settings, log));
    Log(L"A");
    CloseEventLog(settings, log);
    const std::string before = ReadBytes(tablePath);

    HANDLE held = CreateFileW(tablePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    recorder.Reset();
    EXPECT_FALSE(OpenEventLog(settings, log));
    EXPECT_FALSE(settings.GetEventLog().IsOpen());
    EXPECT_FALSE(StateRaised());
    UpdateEventLog(settings, log);   // enabled, still held: stays closed, nothing thrown
    EXPECT_FALSE(settings.GetEventLog().IsOpen());
    CloseHandle(held);
    EXPECT_EQ(ReadBytes(tablePath), before);

    settings.SetDataFolder(dir.File(L"no such folder"), false);
    EXPECT_FALSE(OpenEventLog(settings, log));
}

TEST_F(EventTableShellTest, LoweringTheLimitRearrangesAnOpenTableAtOnce)
{
    Enable(10, true);
    UpdateEventLog(settings, log);
    for (const wchar_t* k : {L"1", L"2", L"3", L"4", L"5"})
        Log(k);
    EXPECT_EQ(settings.GetEventLog().GetRecordLimit(), 10);

    LoadMembers("\"main\": {\"history\": 8192}, \"eventLog\": {\"enabled\": true, \"limit\": 2}");
    recorder.Reset();
    UpdateEventLog(settings, log);
    EXPECT_EQ(settings.GetEventLog().GetRecordLimit(), 2);
    EXPECT_EQ(Messages(), (Strings{L"Key 4 read (1)", L"Key 5 read (1)"}));
    EXPECT_EQ(settings.GetEventLog().GetRingPosition(), 1);
    EXPECT_TRUE(StateRaised());

    recorder.Reset();
    UpdateEventLog(settings, log);   // nothing changed: nothing raised
    EXPECT_FALSE(StateRaised());
}

// The process's application context, logging into the documents folder.
class LoggingContext {
public:
    explicit LoggingContext(CAppSettings& settings)
    {
        *settings.EditDebugLog() = DebugLogSettings{true, 6, -1, false};
        context.LogSettings = &settings;
    }
    CAppContext context;
};

TEST_F(EventTableShellTest, TableFailuresGoToTheDebugLogOnly)
{
    LoggingContext logging(settings);
    log = &logging.context;
    Enable(100, true);
    *settings.EditDebugLog() = DebugLogSettings{true, 6, -1, false};
    ASSERT_TRUE(OpenEventLog(settings, log));
    recorder.Reset();
    // A string id the STRID field cannot hold: the table refuses the event.
    EXPECT_NO_THROW(LogEvent(settings, log, 1741165623, EVENT_ERROR, 123456u, nullptr, L"x"));
    EXPECT_EQ(settings.GetEventLog().GetEventCount(), 0u) << (Messages().empty() ? std::wstring() : Messages()[0]);
    EXPECT_FALSE(StateRaised());
    const std::string logText = ReadBytes(dir.File(kLogFileName));
    EXPECT_NE(logText.find("Event table: Bad Value"), std::string::npos) << logText;
    CloseEventLog(settings, log);
    log = nullptr;
}

class LanguageLibrary {
public:
    LanguageLibrary()
    {
        std::wstring path = MultiByteToWString(std::string(NORVANE_TOOLS_DIR) + "/NorvaneEventTestLang.dll", CP_ACP);
        m_module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        m_previous = GetResourceModule();
        if (m_module != nullptr)
            SetResourceModule(m_module);
    }
    ~LanguageLibrary()
    {
        SetResourceModule(m_previous);
        if (m_module != nullptr)
            FreeLibrary(m_module);
    }
    bool Loaded() const { return m_module != nullptr; }

private:
    HMODULE m_module = nullptr;
    HMODULE m_previous = nullptr;
};

TEST_F(EventTableShellTest, TranslationsThatDoNotFitTheirArgumentsAreNotPrintedWithThem)
{
    LanguageLibrary language;
    ASSERT_TRUE(language.Loaded()) << "build the NorvaneEventTestLang tool";
    Enable(100, true);
    ASSERT_TRUE(OpenEventLog(settings, log));
    const struct {
        UINT id;
        const wchar_t* expected;
    } cases[] = {
        {61000, L"Schluessel K1 gelesen (3)"},   // a good translation is used
        {61001, L"Key K1 read 3 times"},         // %d for the text: the program's own string
        {61002, L"Only K1"},                     // three texts asked for: the program's own
        {61003, L"%n kaputt"},                   // neither fits: the text as it stands
    };
    for (const auto& c : cases) {
        settings.GetEventLog().Clear();
        LogEvent(settings, log, 1741165623, EVENT_INFO, c.id, nullptr, L"K1", 3);
        EXPECT_EQ(Messages(), Strings{c.expected}) << c.id;
    }
}

// ---- The log files ----

struct Question {
    int calls = 0;
    std::wstring text;
    UINT style = 0;
    int answer = IDOK;
    bool tick = false;
};
Question g_question;

int RecordQuestion(const std::wstring& text, UINT style, HWND, bool* dontAsk)
{
    ++g_question.calls;
    g_question.text = text;
    g_question.style = style;
    if (dontAsk != nullptr)
        *dontAsk = g_question.tick;
    return g_question.answer;
}

class LogFileCommandsTest : public SettingsFixture {
protected:
    void SetUp() override
    {
        SettingsFixture::SetUp();
        g_question = Question();
        m_system.askUser = &RecordQuestion;
    }
    bool Exists(const wchar_t* name) const { return GetFileAttributesW(dir.File(name).c_str()) != INVALID_FILE_ATTRIBUTES; }
    CFakeSystemServices m_system;
};

TEST_F(LogFileCommandsTest, ClearingAsksWhenAskingIsOnAndRemovesTheFile)
{
    const struct {
        const wchar_t* name;
        bool (*clear)(CAppSettings&, HWND);
    } logs[] = {{L"Transfer.log", ClearTransferLog}, {L"Norvane.log", ClearAppLog}};
    for (const auto& log : logs) {
        settings.SetConfirmFlags(settings.GetConfirmFlags() | 0x100);
        WriteBytes(dir.File(log.name), "line\r\n");

        g_question = Question();
        g_question.answer = IDCANCEL;
        g_question.tick = true;
        EXPECT_FALSE(log.clear(settings, nullptr));
        EXPECT_EQ(g_question.calls, 1);
        EXPECT_EQ(g_question.text, std::wstring(L"Remove \"") + log.name + L"\"?");
        EXPECT_EQ(g_question.style, static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION));
        EXPECT_TRUE(Exists(log.name));
        EXPECT_NE(settings.GetConfirmFlags() & 0x100, 0u);   // a declined question stays

        g_question.answer = IDOK;
        g_question.tick = false;
        EXPECT_TRUE(log.clear(settings, nullptr));
        EXPECT_FALSE(Exists(log.name));
        EXPECT_NE(settings.GetConfirmFlags() & 0x100, 0u);

        // Asked again for a file that is not there: nothing else happens.
        EXPECT_TRUE(log.clear(settings, nullptr));
        EXPECT_EQ(g_question.calls, 3);

        // "Do not ask" with OK: the next clear asks no more.
        WriteBytes(dir.File(log.name), "line\r\n");
        g_question.tick = true;
        EXPECT_TRUE(log.clear(settings, nullptr));
        EXPECT_EQ(settings.GetConfirmFlags() & 0x100, 0u);
        WriteBytes(dir.File(log.name), "line\r\n");
        EXPECT_TRUE(log.clear(settings, nullptr));
        EXPECT_EQ(g_question.calls, 4);
        EXPECT_FALSE(Exists(log.name));
    }
}

TEST_F(LogFileCommandsTest, LogInUseRaisesItsError)
{
    settings.SetConfirmFlags(settings.GetConfirmFlags() & ~0x100u);
    const std::wstring path = dir.File(L"Transfer.log");
    WriteBytes(path, "line\r\n");
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    try {
        ClearTransferLog(settings, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const COSException& e) {
        EXPECT_EQ(e.GetCode(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(held);
    EXPECT_TRUE(Exists(L"Transfer.log"));
    EXPECT_EQ(g_question.calls, 0);
}

TEST_F(LogFileCommandsTest, LogsLieInTheDocumentsFolder)
{
    CreateDirectoryW(dir.File(L"docs").c_str(), nullptr);
    settings.SetDocumentsFolder(dir.File(L"docs"));
    settings.SetConfirmFlags(settings.GetConfirmFlags() & ~0x100u);
    WriteBytes(dir.File(L"docs\\Transfer.log"), "x");
    WriteBytes(dir.File(L"Transfer.log"), "x");
    EXPECT_TRUE(ClearTransferLog(settings, nullptr));
    EXPECT_FALSE(Exists(L"docs\\Transfer.log"));
    EXPECT_TRUE(Exists(L"Transfer.log"));
    // Opening a log that cannot be started raises the start's error.
    settings.SetDocumentsFolder(dir.File(L"missing folder"));
    EXPECT_THROW(OpenTransferLog(settings), COSException);
    EXPECT_THROW(OpenAppLog(settings), COSException);
}

} // namespace
