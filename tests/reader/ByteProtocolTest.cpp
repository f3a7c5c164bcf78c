// The Vell-4 EHR and Vell-4 Base in single bytes against the simulated reader: the units that
// arm it for each mode, the key frames of each mode, spoiled and split frames, how long a key
// stays, and the restart of a reader that does not answer its reset.
#include <winsock2.h>
#include <windows.h>
#include "core/ResultCodes.h"
#include "tests/reader/DialogueTestFixture.h"

namespace {

std::vector<std::string> SpacedUnits(const std::vector<std::string>& units)
{
    std::vector<std::string> out;
    for (const std::string& u : units)
        out.push_back(HexBytes(u));
    return out;
}

class ByteReader : public DialogueReaderTest, public ::testing::WithParamInterface<Line> {};

} // namespace

TEST_P(ByteReader, EachModeIsArmedAndItsKeyFramesGiveItsKeys)
{
    ASSERT_NO_FATAL_FAILURE(ConnectArmed(GetParam(), 1));
    if (IsSkipped())
        return;
    EXPECT_TRUE(Logged(L"Reader connected (Vell-4 EHR s/n 4006 FW v3.2)."));
    EXPECT_TRUE(Logged(L"Port reconfigured (38400,N,8,1)."));
    // The mode the reader was started with is the one it is armed for.
    EXPECT_EQ((std::vector<std::string>{"00", "12 94", "13 93"}), SpacedUnits(byteSim->Units()));

    const struct {
        int mode;
        bool qm100;
        const char* number;   // r8 down to r3, or the fob code
        BYTE kind;
        const char* arming;
        const char* key;
    } cases[] = {
        // The frame CC 20 75 66 55 44 33 22 11 01.
        {1, false, "11 22 33 44 55 66", 0, "12 94", "1:1122334455"},
        {0, false, "11 22 33 44 55 66", 0, "11 95", "7:112233445566"},
        {2, false, "01 02 AB CD", 0x2A, "1A 8C", "5:0102ABCD"},
        {2, false, "01 02 AB CD", 0x2B, "1A 8C", "6:0102ABCD"},
        {2, true, "01 02 AB CD", 0x2A, "1A 8C", "5:0102DBCA"},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        byteSim->SetKey(std::string());
        if (c.qm100) {
            // As the application hands over its settings.
            ReaderSettings s = reader->GetSettings();
            s.flags |= READER_DIFFERENT_QM100;
            reader->Configure(s, reader->GetCardReading(), true);
            reader->Wake();
            ASSERT_TRUE(WaitFor([&] { return RequestsTaken(); }));
        }
        SetMode(c.mode);
        ASSERT_TRUE(WaitFor([&] { return byteSim->Started() && byteSim->ArmedMode() == c.mode; }));
        const std::vector<std::string> units = SpacedUnits(byteSim->Units());
        EXPECT_EQ((std::vector<std::string>{"00", c.arming, "13 93"}),
                  std::vector<std::string>(units.end() - 3, units.end()));
        byteSim->SetKey(BytesOfHex(c.number), c.kind);
        expected.push_back(c.key);
        ASSERT_TRUE(WaitFor([&] { return TypedKeys().size() == expected.size(); }));
        EXPECT_EQ(expected, TypedKeys());
    }
    EXPECT_TRUE(Errors().empty());
}

TEST_P(ByteReader, AnUnansweredResetRestartsTheReader)
{
    byteSim = std::make_unique<CByteSim>(*sim, 7);
    byteSim->SilenceResets(11);
    ASSERT_NO_FATAL_FAILURE(UseLine(GetParam(), READER_PROT_VELL4));
    if (IsSkipped())
        return;
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_TRUE(Logged(L"Reader connected (Vell-4 Base s/n 4007 FW v3.2)."));
    ASSERT_TRUE(WaitFor([&] { return byteSim->Started(); }, 12000));
    const std::vector<DWORD> ticks = byteSim->ResetTicks();
    ASSERT_GE(ticks.size(), 12u);
    // The reset with the reply time-out (400 ms), ten short retries 200 ms apart, and the
    // twelfth reset after the restart, timed by the program's own stamps of what it sent: each
    // gap is a wait of its own, short by at most a step of the tick counter it counts in (16 ms).
    const std::vector<std::wstring> resets = LogLinesWith(L"<< (1) 00");
    ASSERT_GE(resets.size(), 11u);
    EXPECT_GE(LogGap(resets[0], resets[1]), 400 - 20);
    for (size_t i = 2; i <= 10; ++i)
        EXPECT_GE(LogGap(resets[i - 1], resets[i]), 200 - 20) << i;
    if (GetParam() == Line::Tcp) {
        // A converter has no lines to fail: the restart's pause, and the reader answers.
        ASSERT_GE(resets.size(), 12u);
        EXPECT_GE(LogGap(resets[10], resets[11]), 200 + 2000 - 20);
        EXPECT_EQ(12u, ticks.size());
        EXPECT_TRUE(Errors().empty());
        EXPECT_EQ(1, Count(RDMSG_CONNECT));
    } else {
        // A pseudo-terminal refuses the lines: a port error, and the reader is found again.
        const std::vector<HRESULT> errors = Errors();
        ASSERT_EQ(1u, errors.size());
        EXPECT_TRUE(Logged(L"Port error (code 0x"));
        EXPECT_EQ(1, Count(RDMSG_DISCONNECT));
        EXPECT_EQ(2, Count(RDMSG_CONNECT));
        EXPECT_EQ(2, sim->QueryCount());
    }
}

INSTANTIATE_TEST_SUITE_P(Line, ByteReader, ::testing::Values(Line::Com, Line::Tcp), LineName);

TEST_F(DialogueReaderTest, ByteKeyFramesStayWhileTheyComeAndSpoiledOnesAreSkipped)
{
    ASSERT_NO_FATAL_FAILURE(ConnectArmed(Line::Tcp, 1));

    // Frames every 500 ms keep the key; it leaves a second after the last.
    byteSim->SetFramePeriod(500);
    byteSim->SetKey(BytesOfHex("11 22 33 44 55 66"));
    ASSERT_TRUE(WaitFor([&] { return byteSim->FramesSent() >= 5; }));
    EXPECT_EQ((std::vector<std::string>{"1:1122334455"}), TypedKeys());
    EXPECT_EQ(0, LogCount(L"Lost key"));
    byteSim->SetKey(std::string());
    ASSERT_TRUE(WaitFor([&] { return LogCount(L"Lost key") == 1; }));
    const DWORD gone = GetTickCount() - byteSim->LastFrameTick();
    EXPECT_GE(gone, 950u);
    EXPECT_LE(gone, 2000u);

    const struct {
        ByteFault fault;
        int frames;   // sent up to the one that gives the key
    } cases[] = {
        {ByteFault::SplitFrame, 1},   // taken once its second part came
        {ByteFault::WrongCrc, 2},     // ignored without an error
        {ByteFault::LongFrame, 1},
        {ByteFault::ShortFrame, 1},
    };
    byteSim->SetFramePeriod(400);
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        const int frames = byteSim->FramesSent();
        const size_t keys = Keys().size();
        byteSim->Inject(c.fault);
        byteSim->SetKey(std::string("\x21\x22\x23\x24", 4) + static_cast<char>(0x30 + (&c - cases)) + '\x00');
        ASSERT_TRUE(WaitFor([&] { return Keys().size() == keys + 1; }));
        EXPECT_EQ(c.frames, byteSim->FramesSent() - frames);
        byteSim->SetKey(std::string());
    }
    EXPECT_TRUE(Errors().empty());
}
