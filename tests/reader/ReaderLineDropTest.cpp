// A Mifare reader that the program left where a fresh connection does not look (at another
// speed, in binary frames at its own speed, or in text lines at another speed) keeps that when
// its line drops; the program must find it there again, and a reader that stays away must not
// cost each connect round more than the one place the program left it. Over the simulator's own
// TCP port in telnet mode, over a serial pair broken and made again, and through Debian's ser2net
// restarted in front of the simulator's serial line. Times are read from the program's own log
// stamps, which do not count how late the test saw what happened.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>
#include "reader/Reader.h"
#include "reader/ReaderFrame.h"
#include "tests/reader/ReaderTestFixture.h"
#include "tests/support/PortPairs.h"
#include "tools/readersim/ReaderSim.h"

namespace {

enum class Line { Tcp, Com, Converter };

const char* LineName(Line line)
{
    return line == Line::Tcp ? "Tcp" : line == Line::Com ? "Com" : "Converter";
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

// The port lines a list of speeds gives: the first opens the port, the others reconfigure it.
std::vector<std::wstring> PortLines(const std::vector<DWORD>& speeds)
{
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < speeds.size(); ++i)
        lines.push_back((i == 0 ? L"Port opened (" : L"Port reconfigured (") + std::to_wstring(speeds[i]) +
                        L",N,8,1).");
    return lines;
}

// The text of a log line after its stamp and source: "hh:mm:ss.fff [source] text".
std::wstring LineText(const std::wstring& line)
{
    const size_t close = line.find(L"] ");
    std::wstring text = close == std::wstring::npos ? line : line.substr(close + 2);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
    return text;
}

constexpr int kConnectPeriod = 1500;
// Wine now and then leaves a cancelled serial read pending, and the serial port waits out its
// bound on that (CKvComPort) before it goes on: on the serial pair a reply wait may end this
// much later than its time-out.
constexpr int kSerialCancelBound = 1000;
constexpr DWORD kKeptAway = 38400;    // the speed a reader is asked for and does not take

// The Mifare reader of the rows: model 3 at a firmware, the program's "binary" and "speed".
struct MifareReader {
    const char* firmware;
    bool binary;
    DWORD speed;
};

class LineDropFixture : public ReaderThreadTest {
protected:
    virtual Line TheLine() const = 0;

    void TearDown() override
    {
        ReaderThreadTest::TearDown();
        if (converting)
            SerialPairControl("unconvert " + std::to_string(kUnplugPairIndex));
        if (TheLine() != Line::Tcp && SerialPairsAvailable(why))
            SerialPairControl("plug " + std::to_string(kUnplugPairIndex));
    }

    // A fresh reader answers at 9600 Bd, whichever line it is on.
    void Open()
    {
        sim->SetAnswerSpeed(9600);
        if (TheLine() == Line::Tcp) {
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
        // The pair's far end does not show the speed of its near end: the supervisor reads it.
        sim->SetLineSpeedProbe([] { return SerialPairSpeed(kUnplugPairIndex); });
        ASSERT_TRUE(sim->OpenCom(farName));
        if (TheLine() == Line::Com) {
            SetPort(pair->nearName);
            return;
        }
        converterPort = FreeTcpPort();
        ASSERT_NE(0, converterPort);
        ASSERT_EQ("", Convert());
        SetPort(L"127.0.0.1:" + std::to_wstring(converterPort));
    }

    // Model 3 at its firmware on the line, the program set up as the row says.
    void Configure(const MifareReader& r, int receiveTimeout)
    {
        const bool telnet = TheLine() != Line::Com;
        sim->SetIdentity({"Vell-4 USB MF", 0x811, 9, r.firmware, "", 3});
        sim->Binary().SetModel(3);
        ReaderThreadTest::Configure([&](ReaderSettings& s) {
            s.receiveTimeout = receiveTimeout;
            s.maxTries = 1;
            s.connectTimeout = 2000;
            s.connectPeriod = kConnectPeriod;
            s.flags = (r.binary ? READER_BINARY : 0) | (telnet ? READER_NVT : 0);
            s.speed = r.speed;
        });
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
        switch (TheLine()) {
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

    // The debug-log lines, in order, from the first that holds text on.
    std::vector<std::wstring> LogLinesFrom(const std::wstring& text)
    {
        std::vector<std::wstring> all = LogLinesWith(L"");
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].find(text) != std::wstring::npos)
                return std::vector<std::wstring>(all.begin() + static_cast<std::ptrdiff_t>(i), all.end());
        return {};
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

    // The mode-and-speed payloads from frame from on, a repeat (the knock after a speed
    // change, a text-mode command heard nowhere) counted once.
    std::vector<std::string> ModesFrom(size_t from)
    {
        std::vector<std::string> modes;
        const auto frames = sim->Frames();
        for (size_t i = from; i < frames.size(); ++i)
            if (frames[i].code == 0x2F && (modes.empty() || modes.back() != frames[i].payload))
                modes.push_back(frames[i].payload);
        return modes;
    }

    // The waits among lines (from line from to line to) that the serial port's bounded cancel
    // lengthened: a gap between two lines a whole bound longer than the reply time-out after a
    // send, or than nothing after anything else; the connect period, which ends in opening
    // the port, is no such gap.
    int SerialStalls(const std::vector<std::wstring>& lines, size_t from, size_t to, int replyTimeout) const
    {
        if (TheLine() != Line::Com)
            return 0;
        int n = 0;
        for (size_t i = from; i < to && i + 1 < lines.size(); ++i) {
            if (LineText(lines[i + 1]).compare(0, 11, L"Port opened") == 0)
                continue;
            const int expected = LineText(lines[i]).compare(0, 3, L"<< ") == 0 ? replyTimeout : 0;
            if (LogGap(lines[i], lines[i + 1]) - expected >= kSerialCancelBound - 50)
                ++n;
        }
        return n;
    }

    // The error notifications of failed connect attempts.
    std::vector<HRESULT> ConnectFailures() const
    {
        std::vector<HRESULT> codes;
        for (const auto& s : seen)
            if (s.type == RDMSG_ERROR && s.text.compare(0, 31, L"Unable to connect to the reader") == 0)
                codes.push_back(s.code);
        return codes;
    }

    std::string why;
    std::wstring farName;
    uint16_t converterPort = 0;
    bool converting = false;
};

// Lost lines ---------------------------------------------------------------------------------

// What the program did to the reader after setting it up, before the line dropped.
enum class Then {
    Nothing,
    Refused,    // asked it for 38400, which it refused
    Unheard,    // asked it for 38400, which it never heard: no reply came
};

struct DropRow {
    const char* name;
    MifareReader reader;
    Then then;
    // From the drop on: the port's speeds (opened, then reconfigured), the mode-and-speed
    // commands, and the speed the reader runs at in the end.
    std::vector<DWORD> speeds;
    std::vector<std::string> modes;
    DWORD ends;
};

void PrintTo(const DropRow& r, std::ostream* os) { *os << r.name; }

const std::string kTextKeep = S({0, 0x80}), kBinaryKeep = S({1, 0x80}), kBinary38400 = S({1, 2});

const DropRow kDropRows[] = {
    // Asked at 9600 and 115200 in vain, then where the program left it: back to text lines at
    // that speed for the version query, binary again, and already at the speed wanted.
    {"SwitchedTo57600", {"1.8", true, 57600}, Then::Nothing, {9600, 115200, 57600, 57600},
     {kTextKeep, kBinaryKeep}, 57600},
    // Switched to binary frames at its own speed: the firmware allows no other, or the
    // setting asks for none.
    {"BinaryAt9600Firmware15", {"1.5", true, 9600}, Then::Nothing, {9600, 115200, 9600, 9600},
     {kTextKeep, kBinaryKeep}, 9600},
    {"BinaryAt9600Firmware18", {"1.8", true, 9600}, Then::Nothing, {9600, 115200, 9600, 9600},
     {kTextKeep, kBinaryKeep}, 9600},
    // Found where it stayed, then switched as the setting asks, which it takes now.
    {"RefusedSwitch", {"1.8", true, 57600}, Then::Refused, {9600, 115200, 57600, 57600, 38400},
     {kTextKeep, kBinaryKeep, kBinary38400}, 38400},
    // Where it was sent first: no answer to the text-mode command, so no version query there.
    {"UnheardSwitch", {"1.8", true, 57600}, Then::Unheard, {9600, 115200, 38400, 57600, 57600, 38400},
     {kTextKeep, kBinaryKeep, kBinary38400}, 38400},
    // Switched in text lines: asked at its speed without a text-mode command.
    {"TextLinesAt57600", {"1.8", false, 57600}, Then::Nothing, {9600, 115200, 57600, 57600, 57600}, {}, 57600},
};

class ReaderLineDropTest : public LineDropFixture,
                           public ::testing::WithParamInterface<std::tuple<DropRow, Line>> {
protected:
    Line TheLine() const override { return std::get<1>(GetParam()); }

    // The card lies on the reader, and stays there while the line is away.
    void LayCard(const std::string& uid, bool binary, bool alone)
    {
        if (binary) {
            std::vector<FrameSimCard> field;
            if (!alone)
                field.push_back(Card(S({0x04, 0x11, 0x22, 0x33})));
            field.push_back(Card(uid));
            sim->Binary().SetField(field);
            return;
        }
        std::string line = "Mifare[";
        static const char hex[] = "0123456789ABCDEF";
        for (char c : uid) {
            line += hex[static_cast<BYTE>(c) >> 4];
            line += hex[static_cast<BYTE>(c) & 15];
        }
        sim->PresentKey(line + "] 1k");
    }

    // Asks for another speed while the reader refuses, or does not hear, the switch.
    void AskAnotherSpeed(Then then)
    {
        if (then == Then::Refused)
            sim->Binary().SetStatus(0x2F, 0x01);
        else
            sim->Binary().AddFault({FrameFault::Silence, 0x2F, 1});
        const int rounds = sim->Binary().Count(0x23);
        const int switches = sim->Binary().Count(0x2F);
        ReaderThreadTest::Configure([](ReaderSettings& s) { s.speed = kKeptAway; });
        reader->Wake();
        // A poll round after the request: the program has taken the reply, or its absence.
        ASSERT_TRUE(WaitFor([&] { return sim->Binary().Count(0x23) >= rounds + 2; }));
        sim->Binary().SetStatus(0x2F, -1);
        sim->Binary().ClearFaults();
        EXPECT_EQ(switches + 1, sim->Binary().Count(0x2F));
        EXPECT_EQ(57600u, sim->AnswerSpeed());
        EXPECT_TRUE(sim->Binary().BinaryMode());
    }
};

} // namespace

TEST_P(ReaderLineDropTest, AReaderSwitchedToAnotherSpeedIsFoundThereAfterTheLineDrops)
{
    const DropRow& row = std::get<0>(GetParam());
    if (TheLine() != Line::Tcp)
        NV_REQUIRE_SERIAL_PAIRS();
    ASSERT_NO_FATAL_FAILURE(Open());
    Configure(row.reader, 300);
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    const std::string first = S({0x04, 0x11, 0x22, 0x33}), second = S({0x04, 0xA1, 0xB2, 0xC3});
    LayCard(first, row.reader.binary, true);
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 1; }));
    if (row.then != Then::Nothing) {
        ASSERT_NO_FATAL_FAILURE(AskAnotherSpeed(row.then));
    }

    const size_t logged = LogLinesWith(L"").size();
    ASSERT_NO_FATAL_FAILURE(Drop());
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_DISCONNECT) == 1; }));
    const size_t from = sim->Frames().size();
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_CONNECT) == 2; }, 4 * kConnectPeriod));
    ASSERT_TRUE(WaitFor([&] { return sim->AnswerSpeed() == row.ends && Logged(L"Port reconfigured (" +
                                                                             std::to_wstring(row.ends)); }));
    // From the first line the program wrote on the drop to the one that says it is back.
    const auto after = LogLinesWith(L"");
    size_t dropSeen = logged, back = 0;
    while (dropSeen < after.size() && after[dropSeen].find(L"Port error") == std::wstring::npos &&
           after[dropSeen].find(L"Reader disconnected") == std::wstring::npos)
        ++dropSeen;
    for (size_t i = dropSeen; i < after.size() && !back; ++i)
        if (after[i].find(L"Reader connected") != std::wstring::npos)
            back = i;
    ASSERT_NE(0u, back);
    const int stalls = SerialStalls(after, dropSeen, back, 300);
    EXPECT_LT(LogGap(after[dropSeen], after[back]), 2 * kConnectPeriod + stalls * kSerialCancelBound)
        << LineText(after[dropSeen]) << " ... " << LineText(after[back]) << ", " << stalls << " stalled waits";
    EXPECT_EQ(row.reader.binary, sim->Binary().BinaryMode());
    EXPECT_EQ(PortLines(row.speeds), PortLinesSinceDisconnect());
    EXPECT_EQ(row.modes, ModesFrom(from));
    EXPECT_EQ(row.ends, sim->LineSpeed());

    // The card lying there is not news; the next one arrives once.
    LayCard(second, row.reader.binary, false);
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 2; }));
    if (row.reader.binary) {
        const int rounds = sim->Binary().Count(0x23) + 2;
        ASSERT_TRUE(WaitFor([&] { return sim->Binary().Count(0x23) >= rounds; }));
    } else {
        WaitFor([] { return false; }, 500);
    }
    EXPECT_EQ((std::vector<std::string>{"04112233", "04A1B2C3"}), Keys());
    EXPECT_EQ(1, Count(RDMSG_DISCONNECT));
}

INSTANTIATE_TEST_SUITE_P(Line, ReaderLineDropTest,
                         ::testing::Combine(::testing::ValuesIn(kDropRows),
                                            ::testing::Values(Line::Tcp, Line::Com, Line::Converter)),
                         [](const ::testing::TestParamInfo<std::tuple<DropRow, Line>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    LineName(std::get<1>(info.param));
                         });

// A reader that stays away ---------------------------------------------------------------------

namespace {

// Long enough that a round with one stage more than the bound allows cannot pass for one.
constexpr int kAwayReplyTimeout = 800;
constexpr int kAwayConnectPeriod = 500;
// What a round may take beyond its reply waits: opening and reconfiguring the port, the log.
constexpr int kRoundSlack = 400;
// The knock after a speed change: three sends with a 30 ms wait each, then a 50 ms pause.
constexpr int kKnock = 3 * 30 + 50;

struct AwayRow {
    const char* name;
    bool mifare;            // model 3 at 1.8 switched to 57600 in binary frames; else model 1
    // One round's lines, reduced to what they say: "open" and "speed" lines with their speed,
    // the version query "i", the text-mode command "text", the failure "failed".
    std::vector<std::string> round;
    int waits;              // reply waits in a round
    int knocks;
    int todayWaits;         // those of a round before the text-mode command's silence was heeded
};

void PrintTo(const AwayRow& r, std::ostream* os) { *os << r.name; }

const AwayRow kAwayRows[] = {
    // The two queries of every connect, then the place the program left the reader: the text-mode
    // command, no answer, so no version query there.
    {"SwitchedMifare", true, {"open 9600", "i", "speed 115200", "i", "speed 57600", "text", "failed"}, 3, 1, 4},
    // Never switched: exactly the two queries of every connect.
    {"NeverSwitchedText", false, {"open 9600", "i", "speed 115200", "i", "failed"}, 2, 0, 2},
};

class ReaderStaysAwayTest : public LineDropFixture,
                            public ::testing::WithParamInterface<std::tuple<AwayRow, Line>> {
protected:
    Line TheLine() const override { return std::get<1>(GetParam()); }
};

// What one line of a connect round says, or empty for a line the round's shape leaves out.
std::string RoundStep(const std::wstring& line)
{
    const std::wstring text = LineText(line);
    auto speedOf = [&](size_t at) { return std::to_string(std::wcstoul(text.c_str() + at, nullptr, 10)); };
    if (text.compare(0, 13, L"Port opened (") == 0)
        return "open " + speedOf(13);
    if (text.compare(0, 19, L"Port reconfigured (") == 0)
        return "speed " + speedOf(19);
    if (text == L"<< (1) i")
        return "i";
    // The text-mode command, knocked or not, counted once below.
    if (text.find(L"<< (8) 02 ") == 0 && text.find(L" 2F 00 80 ") != std::wstring::npos)
        return "text";
    if (text.find(L"Failed to connect to reader") == 0)
        return "failed";
    if (text.compare(0, 3, L"<< ") == 0)
        return "sent " + std::string(text.begin() + 3, text.end());
    return std::string();
}

} // namespace

TEST_P(ReaderStaysAwayTest, EachRoundAsksOnceAtEachPlaceAndTakesNoLongerThanItsWaits)
{
    const AwayRow& row = std::get<0>(GetParam());
    if (TheLine() != Line::Tcp)
        NV_REQUIRE_SERIAL_PAIRS();
    ASSERT_NO_FATAL_FAILURE(Open());
    CommandedLine noted;
    ASSERT_FALSE(FindCommandedLine(reader->GetPortName(), noted)) << "a fresh process has commanded nothing";
    if (row.mifare)
        Configure({"1.8", true, 57600}, kAwayReplyTimeout);
    else
        sim->SetIdentity(ReaderSimIdentity());
    ReaderThreadTest::Configure([&](ReaderSettings& s) {
        s.receiveTimeout = kAwayReplyTimeout;
        s.maxTries = 1;
        s.connectTimeout = 2000;
        s.connectPeriod = kAwayConnectPeriod;
        if (!row.mifare)
            s.flags = TheLine() != Line::Com ? READER_NVT : 0;
    });
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }, 3 * kAwayReplyTimeout));
    ASSERT_EQ(row.mifare, FindCommandedLine(reader->GetPortName(), noted));

    // The line comes back without the reader for three connect rounds.
    const int bound = row.waits * kAwayReplyTimeout + row.knocks * kKnock + kRoundSlack;
    sim->SetAway(true);
    ASSERT_NO_FATAL_FAILURE(Drop());
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_DISCONNECT) == 1; }));
    ASSERT_TRUE(WaitFor([&] { return ConnectFailures().size() >= 3; }, 4 * (bound + kAwayConnectPeriod)));
    sim->SetAway(false);
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_CONNECT) == 2; }, 2 * (bound + kAwayConnectPeriod)));

    // The rounds: from each "Port opened" after the drop to its failure line.
    const auto lines = LogLinesFrom(L"Reader disconnected");
    std::vector<std::vector<std::string>> rounds;
    std::vector<int> lengths, stalls;
    size_t opened = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string step = RoundStep(lines[i]);
        if (step.compare(0, 5, "open ") == 0) {
            rounds.emplace_back();
            opened = i;
        }
        if (rounds.empty() || step.empty() || (step == "text" && rounds.back().back() == "text"))
            continue;
        rounds.back().push_back(step);
        if (step == "failed") {
            lengths.push_back(LogGap(lines[opened], lines[i]));
            stalls.push_back(SerialStalls(lines, opened, i, kAwayReplyTimeout));
        }
    }
    ASSERT_GE(rounds.size(), 4u);
    ASSERT_GE(lengths.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("round " + std::to_string(i + 1));
        EXPECT_EQ(row.round, rounds[i]);
        // What the round's own time-outs took, without the serial port's stalled cancels.
        const int own = lengths[i] - stalls[i] * kSerialCancelBound;
        EXPECT_GE(own, row.waits * kAwayReplyTimeout - 50);
        EXPECT_LE(own, bound);
        std::printf("round %zu: %d ms (%d stalled cancels; bound %d ms, before: at least %d ms)\n", i + 1,
                    lengths[i], stalls[i], bound, row.todayWaits * kAwayReplyTimeout + row.knocks * kKnock);
    }
    EXPECT_EQ(std::vector<HRESULT>(3, KV_E_RESPONSE_TIMEOUT), ConnectFailures());
}

INSTANTIATE_TEST_SUITE_P(Line, ReaderStaysAwayTest,
                         ::testing::Combine(::testing::ValuesIn(kAwayRows),
                                            ::testing::Values(Line::Tcp, Line::Com, Line::Converter)),
                         [](const ::testing::TestParamInfo<std::tuple<AwayRow, Line>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    LineName(std::get<1>(info.param));
                         });
