// The whole road of a key through the real program: Norvane.exe runs as a process of its own
// from a portable folder, reads the simulated reader over a COM port pair or over TCP, and
// delivers each key's text by HTTP to a loopback server, over the bridge link to a loopback
// peer, or as keystrokes into an edit of this test.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "tests/app/TransferTestSupport.h"
#include "tests/support/PortPairs.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"
#include "tools/readersim/ByteSim.h"
#include "tools/readersim/EscapedSim.h"
#include "tools/readersim/ReaderSim.h"

using program_run::CLoopbackPeer;
using program_run::CProgramProcess;
using program_run::RunSettings;

namespace {

const char kKeyLine[] = "Em-Marine[0055] 085,12345";
const char kNextKeyLine[] = "Em-Marine[0055] 085,12346";
constexpr DWORD kStartMs = 20000;
constexpr DWORD kKeyMs = 10000;
const wchar_t kTargetTitle[] = L"Norvane end-to-end target";

enum class Line { Com, Tcp };

// The simulated reader on the far end of the line, the program's source on the near end.
void OpenLine(Line line, CReaderSim& sim, RunSettings& settings)
{
    if (line == Line::Com) {
        NV_REQUIRE_SERIAL_PAIRS();
        const SerialPairInfo* pair = GetSerialPair(2);
        ASSERT_TRUE(pair);
        ASSERT_TRUE(sim.OpenCom(pair->farName));
        settings.source = L"reader:" + pair->nearName;
    } else {
        const uint16_t port = sim.ListenTcp(0);
        ASSERT_NE(port, 0);
        settings.source = L"reader:127.0.0.1:" + std::to_wstring(port);
    }
}

class EndToEnd : public ::testing::TestWithParam<Line>
{
protected:
    void SetUp() override { OpenLine(GetParam(), m_sim, m_settings); }

    // Starts the program and waits until its reader is connected: the version reply is read
    // and key lines are taken as keys from then on.
    void Run()
    {
        const std::string why = m_program.Prepare(m_settings);
        ASSERT_EQ(why, "");
        ASSERT_TRUE(m_program.Start()) << GetLastError();
        ASSERT_TRUE(m_program.WaitForMainWindow(kStartMs)) << "the program shows no main window";
        ASSERT_TRUE(m_sim.WaitUntil([&] { return m_sim.QueryCount() > 0; }, kStartMs))
            << "the program never asked the reader for its version";
        ASSERT_TRUE(WaitForLog("Reader connected (")) << "the reader never connected; the log ends:\n" << LogTail();
    }

    bool WaitForLog(const std::string& text) const { return m_program.WaitForFileText(L"Norvane.log", text, kStartMs); }

    std::string LogTail() const
    {
        const std::string log = program_run::ReadWholeFile(m_program.File(L"Norvane.log"));
        return log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
    }

    std::string TransferLog() const { return program_run::ReadWholeFile(m_program.File(L"Transfer.log")); }

    void TearDown() override
    {
        const std::string log = LogTail();
        EXPECT_TRUE(m_program.Close()) << "the program did not close by itself; its log ends:\n" << log;
    }

    CTempFolder m_folder;
    CReaderSim m_sim;
    RunSettings m_settings;
    CProgramProcess m_program{m_folder.Path()};
};

std::string LineName(const ::testing::TestParamInfo<Line>& info)
{
    return info.param == Line::Com ? "Com" : "Tcp";
}

}  // namespace

TEST_P(EndToEnd, HttpServerReceivesEachKeyInItsGet)
{
    CLoopbackPeer server(true);
    ASSERT_NE(server.Port(), 0);
    m_settings.destination = L"http:";
    m_settings.members = "\"httpRequest\": {\"address\": \"http://127.0.0.1:" + std::to_string(server.Port()) +
                         "/key?text=%KeyNum%&sn=%ReaderSn%\"},";
    ASSERT_NO_FATAL_FAILURE(Run());

    m_sim.PresentKey(kKeyLine);
    ASSERT_TRUE(server.WaitForArrivals(1, kKeyMs)) << "no request";
    m_sim.RemoveKey();
    m_sim.PresentKey(kNextKeyLine);
    ASSERT_TRUE(server.WaitForArrivals(2, kKeyMs)) << "no second request";
    const auto arrivals = server.Arrivals();
    ASSERT_EQ(arrivals.size(), 2u);
    EXPECT_EQ(arrivals[0].text, "/key?text=12345&sn=12345");
    EXPECT_EQ(arrivals[1].text, "/key?text=12346&sn=12345");

    // The transfer log has the record of each, written after the request was answered and in
    // order: the second's record comes last.
    ASSERT_TRUE(m_program.WaitForFileText(L"Transfer.log", "\"12346\" -> ", kKeyMs)) << TransferLog();
    const std::string log = TransferLog();
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/key?text=";
    EXPECT_EQ(transfer_test::CountOf(log, "\r\n"), 2) << log;
    EXPECT_NE(log.find(" [EM 0055553039, \"Key number\"] \"12345\" -> \"" + url + "12345&sn=12345\"\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" [EM 005555303A, \"Key number\"] \"12346\" -> \"" + url + "12346&sn=12345\"\r\n"),
              std::string::npos)
        << log;
}

TEST_P(EndToEnd, BridgePeerReceivesTheTexts)
{
    CLoopbackPeer peer(false);
    ASSERT_NE(peer.Port(), 0);
    m_settings.destination = L"portavo:";
    m_settings.templ = L"<%d>";
    m_settings.members = "\"portavo\": {\"type\": 1, \"nvt\": false, \"address\": \"127.0.0.1:" +
                         std::to_string(peer.Port()) + "\", \"connectPeriod\": 1000},";
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_TRUE(peer.WaitUntil([&] { return peer.Connections() > 0; }, kStartMs)) << "the link never connected";
    // The program's side of the link is up once it says so; a text before then would wait.
    ASSERT_TRUE(WaitForLog("Connection is established (")) << LogTail();

    m_sim.PresentKey(kKeyLine);
    ASSERT_TRUE(peer.WaitUntil([&] { return peer.Received() == "<12345>"; }, kKeyMs)) << peer.Received();
    m_sim.RemoveKey();
    m_sim.PresentKey(kNextKeyLine);
    ASSERT_TRUE(peer.WaitUntil([&] { return peer.Received() == "<12345><12346>"; }, kKeyMs)) << peer.Received();
    EXPECT_EQ(peer.Connections(), 1);
}

TEST_P(EndToEnd, KeystrokesReachTheEditOfTheForegroundWindow)
{
    m_settings.destination = L"keyboard:";
    m_settings.members = std::string("\"keyboard\": {\"afterActivateDelay\": 100, \"afterPressDelay\": 2, "
                                     "\"afterReleaseDelay\": 2, \"enabled\": true, \"class\": \"*\", \"title\": ") +
                         program_run::JsonText(kTargetTitle) + ", \"file\": \"*\"},";
    ASSERT_NO_FATAL_FAILURE(Run());
    // Made after the program's window, so that it is the foreground window the search starts at.
    transfer_test::CTypingTarget target(kTargetTitle);
    ASSERT_TRUE(target.MakeForeground());

    auto waitForText = [&](const std::wstring& text) {
        const ULONGLONG end = GetTickCount64() + kKeyMs;
        while (target.EditText() != text && GetTickCount64() < end)
            PumpFor(20);
        return target.EditText() == text;
    };
    m_sim.PresentKey(kKeyLine);
    EXPECT_TRUE(waitForText(L"12345")) << program_run::Utf8(target.EditText());
    m_sim.RemoveKey();
    m_sim.PresentKey(kNextKeyLine);
    EXPECT_TRUE(waitForText(L"1234512346")) << program_run::Utf8(target.EditText());
    EXPECT_NE(TransferLog().find("-> \"Norvane end-to-end target\""), std::string::npos) << TransferLog();
}

TEST_P(EndToEnd, KeyOfATypeOutsideTheMaskIsNotSent)
{
    CLoopbackPeer server(true);
    m_settings.destination = L"http:";
    m_settings.members = "\"httpRequest\": {\"address\": \"http://127.0.0.1:" + std::to_string(server.Port()) +
                         "/key?text=%KeyNum%\"},";
    m_settings.keyTypes = 1u << 1;   // Em-Marine only
    ASSERT_NO_FATAL_FAILURE(Run());
    m_sim.PresentKey("HID[0012AB34] 018,43828");
    m_sim.RemoveKey();
    m_sim.PresentKey(kKeyLine);
    ASSERT_TRUE(server.WaitForArrivals(1, kKeyMs));
    // Keys are sent and logged in the order read: once the later key's record is in the
    // transfer log, a request for the earlier one would have come and been logged before it.
    ASSERT_TRUE(m_program.WaitForFileText(L"Transfer.log", "\"12345\" -> ", kKeyMs)) << TransferLog();
    EXPECT_EQ(transfer_test::CountOf(TransferLog(), "\r\n"), 1) << TransferLog();
    const auto arrivals = server.Arrivals();
    ASSERT_EQ(arrivals.size(), 1u) << arrivals.back().text;
    EXPECT_EQ(arrivals[0].text, "/key?text=12345");
}

INSTANTIATE_TEST_SUITE_P(Line, EndToEnd, ::testing::Values(Line::Com, Line::Tcp), LineName);

namespace {

// The readers of binary dialogues on the same road: the KR-5040 polled in escaped frames, the
// Vell-4 EHR armed for Em-Marine keys and the Vell-4 Base for Dallas keys in single bytes.
class DialogueEndToEnd : public ::testing::TestWithParam<std::tuple<int, Line>>
{
protected:
    int Model() const { return std::get<0>(GetParam()); }

    void TearDown() override
    {
        const std::string log = program_run::ReadWholeFile(m_program.File(L"Norvane.log"));
        EXPECT_TRUE(m_program.Close()) << "the program did not close by itself; its log ends:\n"
                                       << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
    }

    CTempFolder m_folder;
    CReaderSim m_sim;
    // The dialogues go before the simulator, once the program has closed.
    std::unique_ptr<CEscapedSim> m_escaped;
    std::unique_ptr<CByteSim> m_bytes;
    RunSettings m_settings;
    CProgramProcess m_program{m_folder.Path()};
};

std::string DialogueName(const ::testing::TestParamInfo<std::tuple<int, Line>>& info)
{
    return "Model" + std::to_string(std::get<0>(info.param)) + (std::get<1>(info.param) == Line::Com ? "Com" : "Tcp");
}

}  // namespace

TEST_P(DialogueEndToEnd, TheReaderIsFoundAndItsKeyReachesTheHttpServerOnce)
{
    const char* name = "KR-5040";
    if (Model() == 9) {
        m_escaped = std::make_unique<CEscapedSim>(m_sim);
    } else {
        m_bytes = std::make_unique<CByteSim>(m_sim, Model());
        name = Model() == 6 ? "Vell-4 EHR" : "Vell-4 Base";
        m_settings.reader += ", \"protVell4\": true";
        m_settings.readKeys = Model() == 6 ? ", \"vell4Mode\": 1" : ", \"vell4Mode\": 0";
    }
    ASSERT_NO_FATAL_FAILURE(OpenLine(std::get<1>(GetParam()), m_sim, m_settings));
    if (::testing::Test::IsSkipped())
        return;
    CLoopbackPeer server(true);
    ASSERT_NE(server.Port(), 0);
    m_settings.destination = L"http:";
    m_settings.members = "\"httpRequest\": {\"address\": \"http://127.0.0.1:" + std::to_string(server.Port()) +
                         "/key?text=%KeyNum%\"},";
    ASSERT_EQ(m_program.Prepare(m_settings), "");
    ASSERT_TRUE(m_program.Start()) << GetLastError();
    ASSERT_TRUE(m_program.WaitForFileText(L"Norvane.log", std::string("Reader connected (") + name, kStartMs))
        << program_run::ReadWholeFile(m_program.File(L"Norvane.log"));

    // The key lies on the reader for a while: polled or framed again and again, sent once.
    auto repeats = [&] { return m_escaped ? m_escaped->Polls() : m_bytes->FramesSent(); };
    if (m_escaped)
        m_escaped->SetEmMarine(std::string("\x39\x30\x55\x55\x00", 5));
    else
        m_bytes->SetKey(std::string("\x39\x30\x55\x55\x00\x00", 6));
    ASSERT_TRUE(server.WaitForArrivals(1, kKeyMs)) << "no request";
    const int seen = repeats();
    ASSERT_TRUE(m_sim.WaitUntil([&] { return repeats() >= seen + 4; }, kKeyMs));
    const auto arrivals = server.Arrivals();
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals[0].text, "/key?text=12345");
    const std::string transferLog = program_run::ReadWholeFile(m_program.File(L"Transfer.log"));
    EXPECT_EQ(transfer_test::CountOf(transferLog, "\r\n"), 1) << transferLog;
    EXPECT_NE(transferLog.find(Model() == 7 ? " [DS " : " [EM 0055553039, "), std::string::npos) << transferLog;
}

INSTANTIATE_TEST_SUITE_P(Readers, DialogueEndToEnd,
                         ::testing::Combine(::testing::Values(9, 6, 7), ::testing::Values(Line::Com, Line::Tcp)),
                         DialogueName);
