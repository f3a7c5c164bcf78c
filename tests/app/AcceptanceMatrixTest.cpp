// The acceptance matrix: each kind of reader (text lines, binary frames, escaped frames, single
// bytes, a PC/SC reader) to each destination (keystrokes, clipboard, bridge link, command line,
// HTTP), through the real Norvane.exe. Every cell presents one key and checks its text at the
// destination byte for byte, its line in Transfer.log, its record in the event table and the
// debug log's "Transfer ok". Each reader's row is printed with the time of every cell.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "config/EventLogDb.h"
#include "tests/app/TransferTestSupport.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/ScardStandIn.h"
#include "tests/support/TempFolder.h"
#include "tools/readersim/ByteSim.h"
#include "tools/readersim/EscapedSim.h"
#include "tools/readersim/FrameSim.h"
#include "tools/readersim/ReaderSim.h"

using program_run::CLoopbackPeer;
using program_run::CProgramProcess;
using program_run::RunSettings;

namespace {

constexpr DWORD kStartMs = 20000;
constexpr DWORD kKeyMs = 10000;
const wchar_t kTargetTitle[] = L"Norvane acceptance target";
const char kPcscReader[] = "Vell-4 MF CCID 0";
const char kPcscAtr[] = "3B8F8001804F0CA000000306030001000000006A";

enum class Reader { Text, Frame, Escaped, Byte, Pcsc };
enum class Dest { Keyboard, Clipboard, Bridge, CmdLine, Http };
const Dest kDestinations[] = {Dest::Keyboard, Dest::Clipboard, Dest::Bridge, Dest::CmdLine, Dest::Http};

const char* ReaderName(Reader r)
{
    switch (r) {
    case Reader::Text: return "text-line";
    case Reader::Frame: return "binary-frame";
    case Reader::Escaped: return "escaped-frame";
    case Reader::Byte: return "single-byte";
    default: return "PC/SC";
    }
}

const char* DestName(Dest d)
{
    switch (d) {
    case Dest::Keyboard: return "keyboard";
    case Dest::Clipboard: return "clipboard";
    case Dest::Bridge: return "bridge";
    case Dest::CmdLine: return "cmdline";
    default: return "http";
    }
}

std::wstring ClipboardText()
{
    std::wstring text;
    if (!OpenClipboard(nullptr))
        return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void ClearClipboard()
{
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

bool WaitFor(const std::function<bool()>& done, DWORD ms)
{
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() >= end)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// One cell: the reader's simulator, the destination's far end and the program between them.
class CCell
{
public:
    CCell(Reader reader, Dest dest) : m_reader(reader), m_dest(dest) {}

    // The text the key becomes.
    std::string Expected() const { return m_reader == Reader::Frame || m_reader == Reader::Pcsc ? "04A1B2C3" : "12345"; }

    void Run()
    {
        m_settings.history |= 0x2000;  // the event records outlive the program, to be read here
        ASSERT_NO_FATAL_FAILURE(SetUpReader());
        ASSERT_NO_FATAL_FAILURE(SetUpDestination());
        ASSERT_EQ(m_program.Prepare(m_settings), "");
        ASSERT_TRUE(m_program.Start()) << GetLastError();
        ASSERT_NO_FATAL_FAILURE(Connect());
        if (m_dest == Dest::Keyboard) {
            // Made after the program's window, so that it is the foreground window.
            m_target = std::make_unique<transfer_test::CTypingTarget>(kTargetTitle);
            ASSERT_TRUE(m_target->MakeForeground());
        }
        if (m_dest == Dest::Bridge) {
            ASSERT_TRUE(m_program.WaitForFileText(L"Norvane.log", "Connection is established (", kStartMs)) << Log();
        }
        ASSERT_NO_FATAL_FAILURE(PresentKey());
        ASSERT_NO_FATAL_FAILURE(CheckDestination());
        const std::string expected = "\"" + Expected() + "\" -> ";
        ASSERT_TRUE(m_program.WaitForFileText(L"Transfer.log", expected, kKeyMs))
            << program_run::ReadWholeFile(m_program.File(L"Transfer.log")) << "\nthe program's log ends:\n" << Log();
        ASSERT_TRUE(m_program.WaitForFileText(L"Norvane.log", "Transfer ok", kKeyMs)) << Log();
        const std::string log = Log();
        EXPECT_TRUE(m_program.Close()) << "the program did not close by itself; its log ends:\n" << log;
        // The event table, read once the program has let it go.
        CEventLogDb table;
        table.Open(m_program.File(L"EventLog.dbf"));
        bool recorded = false;
        for (uint32_t n = 1; n <= table.GetEventCount(); ++n) {
            _EVENT_RECORD event;
            table.ReadEvent(static_cast<int>(n), event);
            recorded = recorded || event.message.find(std::wstring(expected.begin(), expected.end())) == 0;
        }
        EXPECT_TRUE(recorded) << "no event record of the transfer";
    }

    ~CCell() { m_program.Close(); }

private:
    std::string Log() const
    {
        const std::string log = program_run::ReadWholeFile(m_program.File(L"Norvane.log"));
        return log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
    }

    void SetUpReader()
    {
        if (m_reader == Reader::Pcsc) {
            m_channel = std::make_unique<scard_standin::CChannel>();
            SetEnvironmentVariableW(L"NORVANE_SCARD_CONTROL", std::to_wstring(m_channel->Port()).c_str());
            m_settings.source = L"reader:" + std::wstring(kPcscReader, kPcscReader + sizeof kPcscReader - 1);
        } else {
            const uint16_t port = m_sim.ListenTcp(0);
            ASSERT_NE(port, 0);
            m_settings.source = L"reader:127.0.0.1:" + std::to_wstring(port);
        }
        if (m_reader == Reader::Frame || m_reader == Reader::Pcsc) {
            m_settings.templ = L"%02X%02X%02X%02X";
            m_settings.params = L"b0 b1 b2 b3";
        }
        switch (m_reader) {
        case Reader::Frame:
            m_sim.SetIdentity({"Vell-4 USB MF", 0x811, 3003, "1.5", "", 3});
            m_sim.Binary().SetModel(3);
            break;
        case Reader::Escaped:
            m_escaped = std::make_unique<CEscapedSim>(m_sim);
            break;
        case Reader::Byte:
            m_bytes = std::make_unique<CByteSim>(m_sim, 6);
            m_settings.reader += ", \"protVell4\": true";
            m_settings.readKeys = ", \"vell4Mode\": 1";
            break;
        default:
            break;
        }
    }

    void SetUpDestination()
    {
        switch (m_dest) {
        case Dest::Keyboard:
            m_settings.destination = L"keyboard:";
            m_settings.members = std::string("\"keyboard\": {\"afterActivateDelay\": 100, \"afterPressDelay\": 2, "
                                             "\"afterReleaseDelay\": 2, \"enabled\": true, \"class\": \"*\", "
                                             "\"title\": ") +
                                 program_run::JsonText(kTargetTitle) + ", \"file\": \"*\"},";
            break;
        case Dest::Clipboard:
            ClearClipboard();
            m_settings.destination = L"clipboard:";
            break;
        case Dest::Bridge:
            m_peer = std::make_unique<CLoopbackPeer>(false);
            ASSERT_NE(m_peer->Port(), 0);
            m_settings.destination = L"portavo:";
            m_settings.members = "\"portavo\": {\"type\": 1, \"nvt\": false, \"address\": \"127.0.0.1:" +
                                 std::to_string(m_peer->Port()) + "\", \"connectPeriod\": 1000},";
            break;
        case Dest::CmdLine:
            m_echo = std::make_unique<transfer_test::CArgEcho>(m_folder);
            ASSERT_TRUE(m_echo->Ready());
            m_settings.destination = L"cmdline:";
            m_settings.members = "\"cmdline\": {\"program\": " + program_run::JsonText(m_echo->Program()) +
                                 ", \"arguments\": \"k=%KeyNum%\"},";
            break;
        case Dest::Http:
            m_peer = std::make_unique<CLoopbackPeer>(true);
            ASSERT_NE(m_peer->Port(), 0);
            m_settings.destination = L"http:";
            m_settings.members = "\"httpRequest\": {\"address\": \"http://127.0.0.1:" + std::to_string(m_peer->Port()) +
                                 "/key?text=%KeyNum%\"},";
            break;
        }
    }

    void Connect()
    {
        std::string name;
        switch (m_reader) {
        case Reader::Pcsc:
            ASSERT_TRUE(m_channel->Accept(kStartMs)) << "the program's smart-card library never connected";
            ASSERT_EQ("ok", m_channel->Command(std::string("add|") + kPcscReader));
            name = "Vell-4 MF CCID";
            break;
        case Reader::Frame: name = "Vell-4 USB MF s/n "; break;
        case Reader::Escaped: name = "KR-5040"; break;
        case Reader::Byte: name = "Vell-4 EHR"; break;
        default: break;
        }
        ASSERT_TRUE(m_program.WaitForFileText(L"Norvane.log", "Reader connected (" + name, kStartMs)) << Log();
    }

    void PresentKey()
    {
        switch (m_reader) {
        case Reader::Text: m_sim.PresentKey("Em-Marine[0055] 085,12345"); break;
        case Reader::Escaped: m_escaped->SetEmMarine(std::string("\x39\x30\x55\x55\x00", 5)); break;
        case Reader::Byte: m_bytes->SetKey(std::string("\x39\x30\x55\x55\x00\x00", 6)); break;
        case Reader::Frame: {
            // The cards lying there when the reader connects are taken as there and never
            // reported: the card comes once a poll round after the connect round has begun.
            ASSERT_TRUE(m_sim.WaitUntil([&] { return m_sim.Binary().Count(0x23) >= 2; }, kStartMs)) << Log();
            FrameSimCard card;
            card.sak = 0x08;
            card.uid = std::string("\x04\xA1\xB2\xC3", 4);
            m_sim.Binary().SetField({card});
            break;
        }
        case Reader::Pcsc:
            m_channel->Command(std::string("insert|") + kPcscReader + "|" + kPcscAtr + "|04A1B2C3|classic");
            break;
        }
    }

    void CheckDestination()
    {
        const std::string text = Expected();
        const std::wstring wide(text.begin(), text.end());
        switch (m_dest) {
        case Dest::Keyboard:
            EXPECT_TRUE(WaitFor([&] { return m_target->EditText() == wide; }, kKeyMs))
                << program_run::Utf8(m_target->EditText());
            break;
        case Dest::Clipboard:
            EXPECT_TRUE(WaitFor([&] { return ClipboardText() == wide; }, kKeyMs)) << program_run::Utf8(ClipboardText());
            break;
        case Dest::Bridge:
            EXPECT_TRUE(m_peer->WaitUntil([&] { return m_peer->Received() == text; }, kKeyMs)) << m_peer->Received();
            break;
        case Dest::CmdLine:
            EXPECT_EQ(m_echo->WaitForArguments(), std::vector<std::wstring>{L"k=" + wide});
            break;
        case Dest::Http:
            ASSERT_TRUE(m_peer->WaitForArrivals(1, kKeyMs)) << "no request";
            EXPECT_EQ(m_peer->Arrivals()[0].text, "/key?text=" + text);
            break;
        }
    }

    Reader m_reader;
    Dest m_dest;
    CTempFolder m_folder;
    CReaderSim m_sim;
    std::unique_ptr<CEscapedSim> m_escaped;
    std::unique_ptr<CByteSim> m_bytes;
    std::unique_ptr<scard_standin::CChannel> m_channel;
    std::unique_ptr<CLoopbackPeer> m_peer;
    std::unique_ptr<transfer_test::CArgEcho> m_echo;
    std::unique_ptr<transfer_test::CTypingTarget> m_target;
    RunSettings m_settings;
    CProgramProcess m_program{m_folder.Path()};
};

class AcceptanceMatrix : public ::testing::TestWithParam<Reader>
{
protected:
    void TearDown() override { SetEnvironmentVariableW(L"NORVANE_SCARD_CONTROL", nullptr); }
};

std::string MatrixName(const ::testing::TestParamInfo<Reader>& info)
{
    switch (info.param) {
    case Reader::Text: return "TextLine";
    case Reader::Frame: return "BinaryFrame";
    case Reader::Escaped: return "EscapedFrame";
    case Reader::Byte: return "SingleByte";
    default: return "Pcsc";
    }
}

}  // namespace

TEST_P(AcceptanceMatrix, OneKeyReachesEveryDestination)
{
    std::string row = std::string(ReaderName(GetParam())) + ":";
    for (Dest dest : kDestinations) {
        const double start = program_run::NowMs();
        // The cell's failures are gathered to mark the cell, then reported as they came.
        ::testing::TestPartResultArray failures;
        {
            ::testing::ScopedFakeTestPartResultReporter gather(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
            CCell cell(GetParam(), dest);
            cell.Run();
        }
        for (int i = 0; i < failures.size(); ++i) {
            const ::testing::TestPartResult& f = failures.GetTestPartResult(i);
            ADD_FAILURE_AT(f.file_name() ? f.file_name() : "?", f.line_number())
                << ReaderName(GetParam()) << " -> " << DestName(dest) << ": " << f.message();
        }
        char cellText[64];
        std::snprintf(cellText, sizeof cellText, " %s %s %.1f s |", DestName(dest),
                      failures.size() == 0 ? "ok" : "FAILED", (program_run::NowMs() - start) / 1000.0);
        row += cellText;
    }
    std::printf("acceptance matrix %s\n", row.c_str());
}

INSTANTIATE_TEST_SUITE_P(Readers, AcceptanceMatrix,
                         ::testing::Values(Reader::Text, Reader::Frame, Reader::Escaped, Reader::Byte, Reader::Pcsc),
                         MatrixName);
