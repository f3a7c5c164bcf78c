// A Mifare reader that the program switched to another speed, in binary mode, keeps both when
// its line drops; the program must find it there again. Over the simulator's own TCP port in
// telnet mode, over a serial pair broken and made again, and through Debian's ser2net
// restarted in front of the simulator's serial line.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "reader/Reader.h"
#include "tests/reader/ReaderTestFixture.h"
#include "tests/support/PortPairs.h"
#include "tools/readersim/ReaderSim.h"

namespace {

enum class Line { Tcp, Com, Converter };

std::string LineName(const ::testing::TestParamInfo<Line>& info)
{
    return info.param == Line::Tcp ? "Tcp" : info.param == Line::Com ? "Com" : "Converter";
}

std::string S(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

FrameSimCard Card(const std::string& uid)
{
    FrameSimCard c;
    c.uid = uid;
    return c;
}

// A port nobody listens on now, for the converter to take.
uint16_t FreeTcpPort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    uint16_t port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    closesocket(s);
    return port;
}

constexpr int kConnectPeriod = 1500;

class ReaderLineDropTest : public ReaderThreadTest, public ::testing::WithParamInterface<Line> {
protected:
    void TearDown() override
    {
        ReaderThreadTest::TearDown();
        if (converting)
            SerialPairControl("unconvert " + std::to_string(kUnplugPairIndex));
        if (GetParam() != Line::Tcp && SerialPairsAvailable(why))
            SerialPairControl("plug " + std::to_string(kUnplugPairIndex));
    }

    void Open()
    {
        if (GetParam() == Line::Tcp) {
            sim->SetTelnet(true);
            const uint16_t port = sim->ListenTcp();
            ASSERT_NE(0, port);
            SetPort(L"127.0.0.1:" + std::to_wstring(port));
            return;
        }
        ASSERT_EQ("", SerialPairControl("plug " + std::to_string(kUnplugPairIndex)));
        const SerialPairInfo* pair = GetSerialPair(kUnplugPairIndex);
        ASSERT_TRUE(pair);
        farName = pair->farName;
        ASSERT_TRUE(sim->OpenCom(farName));
        if (GetParam() == Line::Com) {
            SetPort(pair->nearName);
            return;
        }
        converterPort = FreeTcpPort();
        ASSERT_NE(0, converterPort);
        ASSERT_EQ("", Convert());
        SetPort(L"127.0.0.1:" + std::to_wstring(converterPort));
    }

    std::string Convert()
    {
        converting = true;
        return SerialPairControl("convert " + std::to_string(kUnplugPairIndex) + " " + std::to_string(converterPort));
    }

    // The line goes and comes back; the simulated reader stays as it was.
    void Drop()
    {
        const std::string n = std::to_string(kUnplugPairIndex);
        switch (GetParam()) {
        case Line::Tcp:
            sim->DropPeer();
            break;
        case Line::Com:
            ASSERT_EQ("", SerialPairControl("unplug " + n));
            sim->Stop();
            ASSERT_EQ("", SerialPairControl("plug " + n));
            ASSERT_TRUE(sim->OpenCom(farName));
            break;
        case Line::Converter:
            ASSERT_EQ("", SerialPairControl("unconvert " + n));
            ASSERT_EQ("", Convert());
            break;
        }
    }

    // The port lines of the log from the last "Reader disconnected" on.
    std::vector<std::wstring> PortLinesSinceDisconnect()
    {
        const std::wstring log = LogText();
        size_t at = log.rfind(L"Reader disconnected");
        std::vector<std::wstring> out;
        if (at == std::wstring::npos)
            return out;
        for (size_t p = log.find(L"Port ", at); p != std::wstring::npos; p = log.find(L"Port ", p + 1)) {
            const size_t end = log.find(L')', p);
            if (end != std::wstring::npos && (log.compare(p, 11, L"Port opened") == 0 ||
                                              log.compare(p, 17, L"Port reconfigured") == 0))
                out.push_back(log.substr(p, end + 2 - p));
        }
        return out;
    }

    std::string why;
    std::wstring farName;
    uint16_t converterPort = 0;
    bool converting = false;
};

} // namespace

TEST_P(ReaderLineDropTest, AReaderSwitchedToAnotherSpeedIsFoundThereAfterTheLineDrops)
{
    if (GetParam() != Line::Tcp)
        NV_REQUIRE_SERIAL_PAIRS();
    ASSERT_NO_FATAL_FAILURE(Open());
    const bool telnet = GetParam() != Line::Com;
    sim->SetIdentity({"Vell-4 USB MF", 0x811, 9, "1.8", "", 3});
    sim->Binary().SetModel(3);
    Configure([&](ReaderSettings& s) {
        s.receiveTimeout = 300;
        s.maxTries = 1;
        s.connectTimeout = 2000;
        s.connectPeriod = kConnectPeriod;
        s.flags = READER_BINARY | (telnet ? READER_NVT : 0);
        s.speed = 57600;
    });
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    ASSERT_GE(sim->Frames().size(), 2u);
    EXPECT_EQ(S({1, 3}), sim->Frames()[1].payload);
    const FrameSimCard first = Card(S({0x04, 0x11, 0x22, 0x33}));
    sim->Binary().SetField({first});
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 1; }));

    // The card stays on the reader while the line is away.
    const DWORD dropped = GetTickCount();
    ASSERT_NO_FATAL_FAILURE(Drop());
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_DISCONNECT) == 1; }));
    const size_t from = sim->Frames().size();
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_CONNECT) == 2; }, 3 * kConnectPeriod));
    EXPECT_LT(GetTickCount() - dropped, static_cast<DWORD>(2 * kConnectPeriod));
    EXPECT_TRUE(sim->Binary().BinaryMode());
    if (GetParam() == Line::Tcp) {
        EXPECT_EQ(57600u, sim->LineSpeed());
    }
    // Asked at 9600 and 115200 in vain, then where the program left it: back to text lines at
    // that speed for the version query, binary again, and already at the speed wanted.
    EXPECT_EQ((std::vector<std::wstring>{L"Port opened (9600,N,8,1).", L"Port reconfigured (115200,N,8,1).",
                                         L"Port reconfigured (57600,N,8,1).", L"Port reconfigured (57600,N,8,1)."}),
              PortLinesSinceDisconnect());
    std::vector<std::string> modes;
    const auto frames = sim->Frames();
    for (size_t i = from; i < frames.size(); ++i)
        // A repeat is the knock after the speed change.
        if (frames[i].code == 0x2F && (modes.empty() || modes.back() != frames[i].payload))
            modes.push_back(frames[i].payload);
    EXPECT_EQ((std::vector<std::string>{S({0, 0x80}), S({1, 0x80})}), modes);

    // The card lying there is not news; the next one arrives once.
    sim->Binary().SetField({Card(S({0x04, 0xA1, 0xB2, 0xC3}))});
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 2; }));
    const int rounds = sim->Binary().Count(0x23) + 2;
    ASSERT_TRUE(WaitFor([&] { return sim->Binary().Count(0x23) >= rounds; }));
    EXPECT_EQ((std::vector<std::string>{"04112233", "04A1B2C3"}), Keys());
    EXPECT_EQ(1, Count(RDMSG_DISCONNECT));
}

INSTANTIATE_TEST_SUITE_P(Line, ReaderLineDropTest, ::testing::Values(Line::Tcp, Line::Com, Line::Converter),
                         LineName);
