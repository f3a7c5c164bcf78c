// A card on a Mifare reader of binary frames, through the real program: Norvane.exe identifies
// the simulated reader of each model over a COM port pair or over TCP, lists the card in its
// poll rounds and sends its number once to a loopback HTTP server.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "tests/support/PortPairs.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"
#include "tools/readersim/ReaderSim.h"

using program_run::CLoopbackPeer;
using program_run::CProgramProcess;
using program_run::RunSettings;

namespace {

constexpr DWORD kStartMs = 20000;
constexpr DWORD kKeyMs = 10000;

enum class Line { Com, Tcp };

struct Model {
    int index;
    ReaderSimIdentity identity;
    const char* name;   // as the log names it
};

const Model kModels[] = {
    {3, {"Vell-4 USB MF", 0x811, 3003, "1.5", "", 3}, "Vell-4 USB MF"},
    {4, {"Oblon III Net", 0x903, 3004, "2.5", "", 3}, "Oblon III Net"},
    {5, {"CP-Vell-4MF", 0xF11, 3005, "1.2", "", 3}, "CP-Vell-4MF"},
    {11, {"Vell-4 USB MF-I", 0x811, 3011, "1.8", "", 3}, "Vell-4 USB MFI"},
};

class MifareEndToEnd : public ::testing::TestWithParam<std::tuple<Line, int>> {
protected:
    void SetUp() override
    {
        if (std::get<0>(GetParam()) == Line::Com) {
            NV_REQUIRE_SERIAL_PAIRS();
            const SerialPairInfo* pair = GetSerialPair(2);
            ASSERT_TRUE(pair);
            ASSERT_TRUE(m_sim.OpenCom(pair->farName));
            m_settings.source = L"reader:" + pair->nearName;
        } else {
            const uint16_t port = m_sim.ListenTcp(0);
            ASSERT_NE(port, 0);
            m_settings.source = L"reader:127.0.0.1:" + std::to_wstring(port);
        }
    }

    void TearDown() override
    {
        const std::string log = LogTail();
        EXPECT_TRUE(m_program.Close()) << "the program did not close by itself; its log ends:\n" << log;
    }

    std::string LogTail() const
    {
        const std::string log = program_run::ReadWholeFile(m_program.File(L"Norvane.log"));
        return log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
    }

    CTempFolder m_folder;
    CReaderSim m_sim;
    RunSettings m_settings;
    CProgramProcess m_program{m_folder.Path()};
};

std::string ParamName(const ::testing::TestParamInfo<std::tuple<Line, int>>& info)
{
    return std::string(std::get<0>(info.param) == Line::Com ? "Com" : "Tcp") + "_Model" +
           std::to_string(kModels[std::get<1>(info.param)].index);
}

}  // namespace

TEST_P(MifareEndToEnd, TheCardsNumberReachesTheHttpServerOnce)
{
    const Model& model = kModels[std::get<1>(GetParam())];
    m_sim.SetIdentity(model.identity);
    m_sim.Binary().SetModel(model.index);
    CLoopbackPeer server(true);
    ASSERT_NE(server.Port(), 0);
    m_settings.destination = L"http:";
    m_settings.templ = L"%.2X%.2X%.2X%.2X";
    m_settings.params = L"b0 b1 b2 b3";
    m_settings.members = "\"httpRequest\": {\"address\": \"http://127.0.0.1:" + std::to_string(server.Port()) +
                         "/key?text=%KeyNum%&sn=%ReaderSn%\"},";

    ASSERT_EQ(m_program.Prepare(m_settings), "");
    ASSERT_TRUE(m_program.Start()) << GetLastError();
    ASSERT_TRUE(m_program.WaitForMainWindow(kStartMs)) << "the program shows no main window";
    ASSERT_TRUE(m_program.WaitForFileText(L"Norvane.log", std::string("Reader connected (") + model.name + " s/n ",
                                          kStartMs))
        << LogTail();

    FrameSimCard card;
    card.sak = 0x08;
    card.uid = std::string("\x04\xA1\xB2\xC3", 4);
    m_sim.Binary().SetField({card});
    ASSERT_TRUE(server.WaitForArrivals(1, kKeyMs)) << "no request; the log ends:\n" << LogTail();
    // Several rounds later the card, still there, has not been sent again.
    const int rounds = m_sim.Binary().Count(0x23);
    ASSERT_TRUE(m_sim.WaitUntil([&] { return m_sim.Binary().Count(0x23) >= rounds + 3; }, kKeyMs));
    const auto arrivals = server.Arrivals();
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals[0].text, "/key?text=04A1B2C3&sn=" + std::to_string(model.identity.serial));

    // Closed, the program leaves the reader in text mode for the next one.
    const std::string log = LogTail();
    EXPECT_TRUE(m_program.Close()) << "the program did not close by itself; its log ends:\n" << log;
    EXPECT_FALSE(m_sim.Binary().BinaryMode());
    const auto frames = m_sim.Frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames.back().code, 0x2F);
    EXPECT_EQ(frames.back().payload, std::string(2, '\0'));
}

INSTANTIATE_TEST_SUITE_P(Line, MifareEndToEnd,
                         ::testing::Combine(::testing::Values(Line::Com, Line::Tcp), ::testing::Range(0, 4)),
                         ParamName);
