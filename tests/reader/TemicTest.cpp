// Temic T5557 cards on the text-line readers: the "t57" command bytes, the cycle over the
// parameter entries, block reads, the key forms and the initialisation job, against the
// simulated reader.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "core/ResultCodes.h"
#include "reader/Reader.h"
#include "reader/TextProtocol.h"
#include "tests/reader/ReaderTestFixture.h"

namespace {

std::string HexOf(const BYTE* b, size_t n)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        s += buf;
    }
    return s;
}

// A card whose blocks are easy to tell apart: block 0x81 A0 A1 A2 A3, block 0x82 B0 B1 B2 B3,
// data block n n0 n1 n2 n3.
ReaderSimTemicCard TestCard()
{
    ReaderSimTemicCard c;
    for (BYTE i = 0; i < 4; ++i) {
        c.id1[i] = static_cast<BYTE>(0xA0 + i);
        c.id2[i] = static_cast<BYTE>(0xB0 + i);
        for (BYTE b = 0; b < 8; ++b)
            c.data[b][i] = static_cast<BYTE>(b << 4 | i);
    }
    return c;
}

std::string DataHex(int first, int count)
{
    std::string s;
    for (int b = first; b < first + count; ++b)
        for (int i = 0; i < 4; ++i) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%02X", b << 4 | i);
            s += buf;
        }
    return s;
}

} // namespace

// Command bytes and answer forms ----------------------------------------------------------------

TEST(TemicCommands, AreSentByteForByte)
{
    EXPECT_EQ(std::string("t57 00\r"), kTemicResetCommand);
    EXPECT_EQ(std::string("t57 01 00 00 14 80 40 02 00\r"), kTemicInitCommand);
    const struct {
        BYTE block, p1, p2;
        uint32_t password;
        bool usePassword;
        const char* command;
    } cases[] = {
        {0x81, 2, 0, 0, false, "t57 05 81 02 00\r"},
        {0x82, 1, 1, 0x12345678, false, "t57 05 82 01 01\r"},   // the password only with its flag
        {7, 0xFF, 0xAB, 0, false, "t57 05 07 ff ab\r"},
        {0x81, 1, 1, 0x12345678, true, "t57 06 81 78 56 34 12 01 01\r"},
        {0, 2, 0, 0xFFFFFFFF, true, "t57 06 00 ff ff ff ff 02 00\r"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.command, TemicReadCommand(c.block, c.p1, c.p2, c.password, c.usePassword));
}

TEST(TemicCommands, BlockAnswersNeedFourWholeBytes)
{
    const struct {
        const char* answer;
        bool ok;
        const char* bytes;
    } cases[] = {
        {"00148040\r\n", true, "00148040"},
        {"a0a1a2a3", true, "A0A1A2A3"},
        {"0014804011223344\r\n", true, "00148040"},   // more digits: the first four bytes
        {"0014804\r\n", false, ""},                    // seven digits
        {"0014 8040\r\n", false, ""},                  // the blank ends the scan
        {" 00148040\r\n", false, ""},
        {"ok\r\n", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        BYTE block[4] = {};
        EXPECT_EQ(c.ok, ParseTemicBlock(c.answer, block));
        if (c.ok) {
            EXPECT_EQ(c.bytes, HexOf(block, 4));
        }
    }
}

TEST(TemicCommands, KeyNumberAndDataBlockCount)
{
    const BYTE b81[4] = {0xA0, 0xA1, 0xA2, 0xA3}, b82[4] = {0xB0, 0xB1, 0xB2, 0xB3};
    const _KEY_NUMBER all = TemicKeyNumber(b81, b82, true);
    EXPECT_EQ("A0A1A2A3B0B1B2B3", HexOf(all.bytes, all.length));
    const _KEY_NUMBER five = TemicKeyNumber(b81, b82, false);
    EXPECT_EQ("A3B0B1B2B3", HexOf(five.bytes, five.length));

    const int counts[][3] = {
        // start, count, blocks read
        {5, 6, 3}, {0, 6, 4}, {0, 4, 4}, {0, 1, 1}, {7, 4, 1}, {6, 2, 2}, {2, 3, 3},
        {0, 0, 0}, {3, -1, 0}, {8, 1, 0}, {-1, 2, 0},
    };
    for (const auto& c : counts)
        EXPECT_EQ(c[2], TemicDataBlockCount(c[0], c[1])) << c[0] << "/" << c[1];
}

// The reader thread over the simulated reader --------------------------------------------------

class TemicTest : public ReaderThreadTest {
protected:
    void Restart()
    {
        TearDown();
        seen.clear();
        SetUp();
    }

    TemicSettings Temic(uint32_t flags, int block, int count, std::vector<uint32_t> params = DefaultTemicParams())
    {
        TemicSettings t;
        t.enabled = true;
        t.flags = flags;
        t.block = block;
        t.count = count;
        t.params = std::move(params);
        return t;
    }

    std::vector<std::string> T57(size_t most = 1000) const
    {
        std::vector<std::string> out;
        for (const auto& line : sim->CommandLines())
            if (line.compare(0, 4, "t57 ") == 0 && out.size() < most)
                out.push_back(line);
        return out;
    }

    bool WaitForT57(size_t count, DWORD timeout = 4000)
    {
        return sim->WaitUntil([&] { return T57().size() >= count; }, timeout);
    }

    std::vector<std::string> Notifications() const
    {
        std::vector<std::string> out;
        char buf[32];
        for (const auto& s : seen) {
            if (s.type == RDMSG_KEY) {
                out.push_back("key " + std::to_string(s.keyType) + " " + s.key);
            } else if (s.type == RDMSG_ERROR) {
                std::snprintf(buf, sizeof buf, "error %08X", static_cast<unsigned>(s.code));
                out.push_back(buf);
            }
        }
        return out;
    }

    void StartJob()
    {
        reader->StartJob(RDJOB_TEMIC_INIT, 0, {}, 1);
        reader->Wake();
    }

    HRESULT JobResult()
    {
        HRESULT r = RDJOB_PENDING;
        WaitFor([&] {
            r = reader->GetJob().state;
            return r != RDJOB_PENDING;
        });
        return r;
    }
};

TEST_F(TemicTest, TheCycleWalksTheTableAndReturnsToTheFirstEntry)
{
    UseTcp();
    reader->SetTemicParams(Temic(0, 1, 1));
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    ASSERT_TRUE(WaitForT57(7));
    // No card: every entry is tried once, the reset entry ends the round.
    EXPECT_EQ((std::vector<std::string>{"t57 05 81 02 00", "t57 05 81 01 01", "t57 05 81 02 01", "t57 05 81 01 00",
                                        "t57 00", "t57 05 81 02 00", "t57 05 81 01 01"}),
              T57(7));
    Drain();
    EXPECT_TRUE(Notifications().empty());
    EXPECT_EQ(RDST_CONNECTED, State());
}

TEST_F(TemicTest, ACardIsReadBlockByBlockAndReportedOnceWhileItStays)
{
    UseTcp();
    ReaderSimTemicCard card = TestCard();
    card.p1 = 1;
    card.p2 = 1;
    sim->SetTemicCard(&card);
    reader->SetTemicParams(Temic(TEMIC_READ_ALL_BYTES | TEMIC_DATA_MODE, 2, 3));
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    // The entry that read the card is tried again; its data blocks are not read twice.
    ASSERT_TRUE(sim->WaitUntil([&] { return sim->CommandCount("t57 05 82 01 01") >= 3; }, 4000));
    EXPECT_EQ((std::vector<std::string>{"t57 05 81 02 00", "t57 05 81 01 01", "t57 05 82 01 01", "t57 05 02 01 01",
                                        "t57 05 03 01 01", "t57 05 04 01 01", "t57 05 81 01 01", "t57 05 82 01 01",
                                        "t57 05 81 01 01", "t57 05 82 01 01"}),
              T57(10));
    Drain();
    EXPECT_EQ((std::vector<std::string>{"key 8 " + DataHex(2, 3)}), Notifications());

    // Taken away, the card leaves at the end of the round; laid down again, it is reported again.
    sim->SetTemicCard(nullptr);
    ASSERT_TRUE(WaitFor([&] { return Logged(L"Lost key TEMIC"); }));
    sim->SetTemicCard(&card);
    ASSERT_TRUE(WaitFor([&] { return Notifications().size() == 2; }));
    EXPECT_EQ("key 8 " + DataHex(2, 3), Notifications()[1]);
}

TEST_F(TemicTest, KeyFormsAndDataBlocks)
{
    const struct {
        uint32_t flags;
        int block, count;
        std::vector<std::string> dataReads;
        std::string notification;
    } cases[] = {
        {0, 1, 1, {}, "key 8 A3B0B1B2B3"},
        {TEMIC_READ_ALL_BYTES, 1, 1, {}, "key 8 A0A1A2A3B0B1B2B3"},
        // Each block at its own address, the count cut to the card's last block.
        {TEMIC_DATA_MODE, 5, 6, {"t57 05 05 01 01", "t57 05 06 01 01", "t57 05 07 01 01"}, "key 8 " + DataHex(5, 3)},
        {TEMIC_DATA_MODE, 0, 6, {"t57 05 00 01 01", "t57 05 01 01 01", "t57 05 02 01 01", "t57 05 03 01 01"},
         "key 8 " + DataHex(0, 4)},
        {TEMIC_DATA_MODE, 7, 1, {"t57 05 07 01 01"}, "key 8 " + DataHex(7, 1)},
        {TEMIC_DATA_MODE, 8, 1, {}, "error 80070057"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notification);
        Restart();
        UseTcp();
        const ReaderSimTemicCard card = TestCard();
        sim->SetTemicCard(&card);
        reader->SetTemicParams(Temic(c.flags, c.block, c.count, {PackTemicParam(1, 1, 0), PackTemicParam(255, 0, 0)}));
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return !Notifications().empty(); }));
        std::vector<std::string> expected = {"t57 05 81 01 01", "t57 05 82 01 01"};
        expected.insert(expected.end(), c.dataReads.begin(), c.dataReads.end());
        EXPECT_EQ(expected, T57(expected.size()));
        EXPECT_EQ(std::vector<std::string>{c.notification}, Notifications());
    }
}

TEST_F(TemicTest, AFailedDataReadIsReportedAndItsLaterSuccessOnce)
{
    UseTcp();
    const ReaderSimTemicCard card = TestCard();
    sim->SetTemicCard(&card);
    sim->SetAnswer("t57 05 03 01 01", "err\r\n");
    reader->SetTemicParams(Temic(TEMIC_DATA_MODE, 2, 3, {PackTemicParam(1, 1, 0), PackTemicParam(255, 0, 0)}));
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return !Notifications().empty(); }));
    // The next turn reads the blocks again and fails again: nothing more is said.
    ASSERT_TRUE(sim->WaitUntil([&] { return sim->CommandCount("t57 05 03 01 01") >= 2; }, 3000));
    EXPECT_EQ(0, sim->CommandCount("t57 05 04 01 01"));
    sim->SetAnswer("t57 05 03 01 01", "");
    ASSERT_TRUE(WaitFor([&] { return Notifications().size() == 2; }));
    ASSERT_TRUE(sim->WaitUntil([&] { return sim->CommandCount("t57 05 81 01 01") >= 5; }, 3000));
    Drain();
    EXPECT_EQ((std::vector<std::string>{"error 80040219", "key 8 " + DataHex(2, 3)}), Notifications());
}

TEST_F(TemicTest, APasswordIsSentLowestByteFirst)
{
    UseTcp();
    ReaderSimTemicCard card = TestCard();
    card.usePassword = true;
    card.password = 0x12345678;
    sim->SetTemicCard(&card);
    TemicSettings t = Temic(TEMIC_USE_PASSWORD, 1, 1, {PackTemicParam(1, 1, 0), PackTemicParam(255, 0, 0)});
    t.password = 0x12345678;
    reader->SetTemicParams(t);
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return !Notifications().empty(); }));
    EXPECT_EQ((std::vector<std::string>{"t57 06 81 78 56 34 12 01 01", "t57 06 82 78 56 34 12 01 01"}), T57(2));
    EXPECT_EQ((std::vector<std::string>{"key 8 A3B0B1B2B3"}), Notifications());
}

TEST_F(TemicTest, TheCycleRunsOnlyWhereItMay)
{
    const struct {
        const char* firmware;
        bool enabled;
        bool suspended;
        uint32_t keyTypes;
        std::vector<uint32_t> params;
        std::vector<std::string> lines;
    } cases[] = {
        {"105", true, false, kAllKeyTypes, DefaultTemicParams(), {}},     // no Temic commands below 106
        {"106", false, false, kAllKeyTypes, DefaultTemicParams(), {}},
        {"106", true, true, kAllKeyTypes, DefaultTemicParams(), {}},      // polling suspended
        {"106", true, false, kAllKeyTypes, {}, {}},                       // an empty list, then one
        // Temic keys not read: only the reset entry speaks.
        {"106", true, false, kAllKeyTypes & ~(1u << 8), {PackTemicParam(2, 0, 0), PackTemicParam(255, 0, 0)},
         {"t57 00", "t57 00"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.firmware) + " " + std::to_string(c.enabled) + " " + std::to_string(c.suspended) +
                     " " + std::to_string(c.params.size()));
        Restart();
        UseTcp();
        sim->SetIdentity({"Vell-4 USB", 0x301, 12345, c.firmware, "", 3});
        TemicSettings t = Temic(0, 1, 1, c.params);
        t.enabled = c.enabled;
        ReadKeysSettings reading = reader->GetCardReading();
        reading.keyTypes = c.keyTypes;
        reader->SetCardReading(reading);
        if (c.suspended)
            reader->SetPolling(false);
        reader->SetTemicParams(t);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        if (c.lines.empty()) {
            WaitFor([] { return false; }, 600);
        } else {
            ASSERT_TRUE(WaitForT57(c.lines.size()));
        }
        EXPECT_EQ(c.lines, T57(c.lines.size()));
        if (c.enabled && !c.suspended && c.params.empty()) {
            // Once a list is given, the stopped cycle starts.
            reader->SetTemicParams(Temic(0, 1, 1));
            SetEvent(reader->events[CReader::EV_WAKE]);
            EXPECT_TRUE(sim->WaitUntil([&] { return sim->CommandCount("t57 05 81 02 00") == 1; }, 3000));
        }
    }
}

TEST_F(TemicTest, TheInitialisationJobWritesTheConfigurationBlock)
{
    const std::string command = "t57 01 00 00 14 80 40 02 00\r";
    const struct {
        uint32_t code;          // reader model code
        bool card;
        const char* answer;     // in place of the simulator's own
        int tries;
        HRESULT result;
        int sent;
    } cases[] = {
        {0x301, true, nullptr, 2, S_OK, 1},
        {0x301, false, nullptr, 2, KV_E_NO_KEY, 1},            // "err no t5557"
        {0x301, true, "ERR 5\r\n", 2, KV_E_READER_ERROR, 1},
        {0x301, true, "what\r\n", 2, KV_E_RESPONSE_TIMEOUT, 2}, // neither: tried again, then given up
        {0x302, true, nullptr, 1, S_OK, 1},                     // model 6
        {0x303, true, nullptr, 2, KV_E_NOT_SUPPORTED, 0},       // model 7 has no Temic commands
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + (c.answer ? c.answer : ""));
        Restart();
        UseTcp(0);
        Configure([&](ReaderSettings& s) { s.maxTries = c.tries; });
        sim->SetIdentity({"Reader", c.code, 5, "106", "", 3});
        const ReaderSimTemicCard card = TestCard();
        sim->SetTemicCard(c.card ? &card : nullptr);
        if (c.answer)
            sim->SetAnswer(command.substr(0, command.size() - 1), c.answer);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        const std::string before = sim->ReceivedText();
        StartJob();
        EXPECT_EQ(c.result, JobResult());
        std::string expected = before;
        for (int i = 0; i < c.sent; ++i)
            expected += command;
        EXPECT_EQ(expected, sim->ReceivedText());
        EXPECT_EQ(RDST_CONNECTED, State());
    }
}

TEST_F(TemicTest, ANoCardLineEmptiesTheFieldAfterTheGrace)
{
    const struct {
        bool temic;
        DWORD least;    // ms from the second "No card" to the key's leaving
    } cases[] = {{false, 0}, {true, 2900}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.temic);
        Restart();
        UseTcp();
        TemicSettings t = Temic(0, 1, 1, {});   // no cycle: the grace alone is seen
        t.enabled = c.temic;
        reader->SetTemicParams(t);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        sim->SendLine(kKeyA);
        ASSERT_TRUE(WaitFor([&] { return Keys().size() == 1; }));
        if (c.temic) {
            // A key line within the grace ends it: the key never left.
            sim->SendLine("No card");
            sim->SendLine(kKeyA);
            sim->SendLine(kKeyB);
            ASSERT_TRUE(WaitFor([&] { return Keys().size() == 2; }));
        }
        const int lost = LogCount(L"Lost key EM 085,12345");
        const DWORD start = GetTickCount();
        sim->SendLine("No card");
        ASSERT_TRUE(WaitFor([&] { return LogCount(L"Lost key EM 085,12345") > lost; }));
        EXPECT_GE(GetTickCount() - start, c.least);
        sim->SendLine(kKeyA);
        ASSERT_TRUE(WaitFor([&] { return Keys().size() == (c.temic ? 3u : 2u); }));
        EXPECT_EQ(kHexA, Keys().back());
        EXPECT_EQ(0, Count(RDMSG_ERROR));
    }
}
