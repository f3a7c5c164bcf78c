// A PC/SC reader through the real program: Norvane.exe reads the cards of a virtual reader of
// the smart-card library stand-in, scripted over its loopback channel, and sends each to a
// loopback HTTP server; with the system's own library it goes on without PC/SC.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/ProgramRun.h"
#include "tests/support/ScardStandIn.h"
#include "tests/support/TempFolder.h"

using program_run::CLoopbackPeer;
using program_run::CProgramProcess;
using program_run::RunSettings;

namespace {

constexpr DWORD kStartMs = 20000;
constexpr DWORD kKeyMs = 10000;
const char kReader[] = "Vell-4 MF CCID 0";
const char kAtr[] = "3B8F8001804F0CA000000306030001000000006A";

// The stand-in's channel named in the environment the program inherits, for the test's life.
class CChannelEnvironment
{
public:
    explicit CChannelEnvironment(int port)
    {
        SetEnvironmentVariableW(L"NORVANE_SCARD_CONTROL", std::to_wstring(port).c_str());
    }
    ~CChannelEnvironment() { SetEnvironmentVariableW(L"NORVANE_SCARD_CONTROL", nullptr); }
};

class PcscEndToEnd : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        ASSERT_NE(m_server.Port(), 0);
        m_settings.source = L"reader:" + std::wstring(kReader, kReader + sizeof kReader - 1);
        m_settings.destination = L"http:";
        m_settings.members = "\"httpRequest\": {\"address\": \"http://127.0.0.1:" + std::to_string(m_server.Port()) +
                             "/key?text=%KeyNum%\"},";
        m_settings.templ = L"%02X%02X%02X%02X";
        m_settings.params = L"b0, b1, b2, b3";
    }
    void TearDown() override
    {
        const std::string log = program_run::ReadWholeFile(m_program.File(L"Norvane.log"));
        EXPECT_TRUE(m_program.Close()) << "the program did not close by itself; its log:\n" << log;
        if (HasFailure())
            std::printf("%s\n", log.c_str());
    }
    bool WaitForLog(const std::string& text) const { return m_program.WaitForFileText(L"Norvane.log", text, kStartMs); }
    std::string Script(const std::string& line) { return m_channel.Command(line); }
    // Until the log holds the text n times, read again every 50 ms.
    bool WaitForCount(const std::string& text, size_t n) const
    {
        const ULONGLONG end = GetTickCount64() + kKeyMs;
        for (;;) {
            const std::string log = program_run::ReadWholeFile(m_program.File(L"Norvane.log"));
            size_t count = 0;
            for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
                ++count;
            if (count >= n)
                return true;
            if (GetTickCount64() >= end)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
    }

    CTempFolder m_folder;
    CLoopbackPeer m_server{true};
    scard_standin::CChannel m_channel;
    CChannelEnvironment m_environment{m_channel.Port()};
    RunSettings m_settings;
    CProgramProcess m_program{m_folder.Path()};
};

} // namespace

TEST_P(PcscEndToEnd, EachCardReachesTheServerOnce)
{
    const bool readBlock = GetParam();
    if (readBlock)
        m_settings.readKeys = ", \"mifareClassic\": {\"enabled\": true, \"sector\": 0, \"block\": 1}";
    ASSERT_EQ("", m_program.Prepare(m_settings));
    ASSERT_TRUE(m_program.Start());
    ASSERT_TRUE(m_channel.Accept(kStartMs)) << "the program's smart-card library never connected";
    ASSERT_EQ("ok", Script(std::string("add|") + kReader));
    ASSERT_EQ("ok", Script(std::string("write|") + kReader + "|16|0102030405060708090A0B0C0D0E0F10"));
    ASSERT_TRUE(WaitForLog("Reader connected (Vell-4 MF CCID)"));

    const std::string expected = readBlock ? "/key?text=01020304" : "/key?text=04A1B2C3";
    for (size_t n = 1; n <= 2; ++n) {
        ASSERT_EQ("ok", Script(std::string("insert|") + kReader + "|" + kAtr + "|04A1B2C3|classic"));
        ASSERT_TRUE(m_server.WaitForArrivals(n, kKeyMs)) << "card " << n << " never arrived";
        ASSERT_EQ("ok", Script(std::string("eject|") + kReader));
        // The removal is seen before the card comes again.
        ASSERT_TRUE(WaitForCount("{!} Card lost", n));
    }
    const auto arrivals = m_server.Arrivals();
    ASSERT_EQ(2u, arrivals.size());
    EXPECT_EQ(expected, arrivals[0].text);
    EXPECT_EQ(expected, arrivals[1].text);
}

INSTANTIATE_TEST_SUITE_P(Card, PcscEndToEnd, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Block" : "Uid"; });

TEST(PcscWithoutService, TheProgramRunsOn)
{
    CTempFolder folder;
    RunSettings settings;
    settings.source = L"reader:Vell-4 MF CCID 0";
    settings.destination = L"keyboard:";
    settings.scardStandIn = false;
    CProgramProcess program(folder.Path());
    ASSERT_EQ("", program.Prepare(settings));
    ASSERT_TRUE(program.Start());
    HWND window = program.WaitForMainWindow(kStartMs);
    ASSERT_TRUE(window);
    EXPECT_TRUE(program.WaitForFileText(L"Norvane.log", "Failed to connect to reader (code 0x80004005)", kStartMs))
        << program_run::ReadWholeFile(program.File(L"Norvane.log"));
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result));
    EXPECT_TRUE(program.Running());
    EXPECT_TRUE(program.Close());
}
