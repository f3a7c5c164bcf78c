// The text-line protocol: its command bytes and answer forms, and the reader thread speaking
// it with the simulated reader over TCP and over a COM port pair.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include "core/ResultCodes.h"
#include "reader/Reader.h"
#include "reader/TextProtocol.h"
#include "tests/reader/ReaderTestFixture.h"

// Drives the thread's receive path directly, on a port of its own.
class CTextProtocolTestPeer : public CReaderTestPeer {
public:
    static void OpenPort(CReader& r, const std::wstring& name, int checkInPeriod)
    {
        ReaderConnectParams p;
        p.portName = name;
        p.connectTimeout = 3000;
        p.receiveTimeout = 500;
        p.maxTries = 1;
        p.checkInPeriod = checkInPeriod;
        CReaderTestPeer::OpenPort(r, p);
        UseTextProtocol(r);
    }
};

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

// 16 pages counting up from 01 at page 4: page 4 holds 01 02 03 04, page 15 2D 2E 2F 30.
std::string CountingPages()
{
    std::string pages;
    for (int i = 0; i < 64; ++i)
        pages += static_cast<char>(((i - 16) & 0xFF) + 1);
    return pages;
}

const char kUltralight[] = "Mifare[04A1B2C3D4E5F6] ul";

} // namespace

// Command bytes and answer forms ----------------------------------------------------------------

TEST(TextCommands, AreSentByteForByte)
{
    EXPECT_EQ(std::string("r\n"), kReadOnceCommand);
    EXPECT_EQ("get 04\r", UltralightReadCommand(4));
    EXPECT_EQ("get 0f\r", UltralightReadCommand(15));
    EXPECT_EQ("get 00\r", UltralightReadCommand(0));
    EXPECT_EQ("tFMTEm-Marine[%.2X%.2X] %.3d,%.5d\\r\\n\r\n", OutputTemplateLine("Em-Marine[%.2X%.2X] %.3d,%.5d\\r\\n"));
    EXPECT_EQ("tARGb4 b3 b2 w01\r\n", OutputArgumentLine("b4 b3 b2 w01"));
    // N, o, blank, c, a, r, d, backslash, r, backslash, n: the reader expands them itself.
    const std::string noCard = kNoCardProgramLine;
    EXPECT_EQ("tNOC" "No card\\r\\n" "\r\n", noCard);
    EXPECT_EQ(4u + 11u + 2u, noCard.size());
}

TEST(TextCommands, UltralightAnswersFillSixteenBytes)
{
    const struct {
        const char* answer;
        bool ok;
        const char* bytes;
    } cases[] = {
        {"ok\r\n04: 01 02 03 04\r\n05: 05 06 07 08\r\n06: 09 0a 0b 0c\r\n07: 0d 0e 0f 10\r\n", true,
         "0102030405060708090A0B0C0D0E0F10"},
        // The status after the pages, upper-case digits, lines ended by CR alone.
        {"04: A1 B2 C3 D4\r05: 0 1 2 3\r06: ff fe fd fc\r07: 10 20 30 40\rok\r", true,
         "A1B2C3D400010203FFFEFDFC10203040"},
        // Other lines in between are passed over.
        {"ok\r\n04: 01 02 03 04\r\nnoise\r\n05: 05 06 07 08\r\n06: 09 0a 0b 0c\r\n07: 0d 0e 0f 10\r\n", true,
         "0102030405060708090A0B0C0D0E0F10"},
        {"ok\r\n04: 01 02 03 04\r\n05: 05 06 07 08\r\n06: 09 0a 0b 0c\r\n", false, ""},     // three pages
        {"ok\r\n04: 01 02 03\r\n05: 05 06 07 08\r\n06: 09 0a 0b 0c\r\n07: 0d 0e 0f 10\r\n", false, ""},
        {"ok\r\n04: 01 02 03 104\r\n05: 05 06 07 08\r\n06: 09 0a 0b 0c\r\n07: 0d 0e 0f 10\r\n", false, ""},
        {"ok\r\n04 01 02 03 04\r\n05 05 06 07 08\r\n06 09 0a 0b 0c\r\n07 0d 0e 0f 10\r\n", false, ""},  // no colon
        {"", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        BYTE pages[16] = {};
        EXPECT_EQ(c.ok, ParseUltralightPages(c.answer, pages));
        if (c.ok) {
            EXPECT_EQ(c.bytes, HexOf(pages, 16));
        }
    }
}

TEST(TextCommands, UltralightPageCountIsCappedAtOneRead)
{
    const int cases[][2] = {{-1, 0}, {0, 0}, {1, 4}, {2, 8}, {4, 16}, {5, 16}, {1000, 16}};
    for (const auto& c : cases)
        EXPECT_EQ(c[1], UltralightMemoryBytes(c[0])) << c[0];
}

// The reader thread over the simulated reader --------------------------------------------------

class TextProtocolTest : public ReaderThreadTest {
protected:
    template <class F>
    void CardReading(F f)
    {
        ReadKeysSettings k = reader->GetCardReading();
        f(k);
        reader->SetCardReading(k);
    }

    void Restart()
    {
        TearDown();
        seen.clear();
        SetUp();
    }

    // Keys and errors in the order they came, as text.
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

    void WaitForReceived(const std::string& tail)
    {
        ASSERT_TRUE(sim->WaitUntil([&] {
            const std::string r = sim->ReceivedText();
            return r.size() >= tail.size() && r.compare(r.size() - tail.size(), tail.size(), tail) == 0;
        }, 3000)) << sim->ReceivedText();
    }

    // Keys on the reader, a no-card line, two lines in one chunk, a partial line, a key type
    // that is not read and an unrecognised line, on whichever port the settings name.
    std::vector<std::string> RunLineScenario()
    {
        CardReading([](ReadKeysSettings& k) { k.keyTypes = kAllKeyTypes & ~(1u << 2); });   // no HID
        sim->SetFieldKey(kKeyA);
        reader->Start();
        if (!WaitFor([&] { return Connected(); }))
            return {"not connected"};
        EXPECT_EQ("ir\n", sim->ReceivedText());
        sim->SendLine(kKeyA);                              // on the reader since the connection
        sim->SendLine("NO CARD xyz");
        sim->SendRaw(std::string(kKeyB) + "\r\n" + kKeyA + "\r\n");
        if (!WaitFor([&] { return Keys().size() == 2; }))
            return Notifications();
        const int partials = LogCount(L"034,0777");
        sim->SendRaw("No card\r\nEm-Marine[0022] 034,0777");
        // The partial line is in the reader's hands before its end comes.
        if (!WaitFor([&] { return LogCount(L"034,0777") > partials; }))
            return {"partial line not received"};
        sim->SendRaw("7\r\n");
        sim->SendLine("HID[0A0B0C] 12345,0");             // a key type that is not read
        sim->SendLine("Reader: status [1]");              // a colon: not a key line
        sim->SendLine("Reader: status [2]");
        sim->SendLine("No card");
        sim->SendLine(kKeyA);
        WaitFor([&] { return Keys().size() == 4; });
        return Notifications();
    }
};

TEST_F(TextProtocolTest, LinesGiveTheSameNotificationsOverTcpAndTheComPair)
{
    const std::vector<std::string> expected = {
        "key 1 2A00111100", "key 1 3930555500", "key 1 611E222200", "error 8004021F", "key 1 3930555500"};
    UseTcp();
    const std::vector<std::string> tcp = RunLineScenario();
    EXPECT_EQ(expected, tcp);
    EXPECT_EQ(1, sim->ReadOnceCount());

    NV_REQUIRE_SERIAL_PAIRS();
    Restart();
    const SerialPairInfo* pair = GetSerialPair(2);
    ASSERT_TRUE(pair);
    ASSERT_TRUE(sim->OpenCom(pair->farName));
    SetPort(pair->nearName);
    Configure([&](ReaderSettings& s) {
        s.receiveTimeout = 1000;
        s.maxTries = 2;
    });
    EXPECT_EQ(tcp, RunLineScenario());
    EXPECT_TRUE(Logged(L"Port opened (9600,N,8,1)."));
}

TEST_F(TextProtocolTest, UltralightPagesBecomeTheKeyNumber)
{
    const struct {
        int page, count;
        const char* answer;          // in place of the simulator's own; nullptr: its own
        const char* sent;            // after "ir\n"
        const char* notification;
    } cases[] = {
        {4, 1, nullptr, "get 04\r", "key 9 01020304"},
        {4, 2, nullptr, "get 04\r", "key 9 0102030405060708"},
        // More pages than one read brings: the 16 bytes of the read, never more.
        {4, 5, nullptr, "get 04\r", "key 9 0102030405060708090A0B0C0D0E0F10"},
        {15, 1, nullptr, "get 0f\r", "key 9 2D2E2F30"},
        {16, 1, nullptr, "", "error 80070057"},
        {-1, 1, nullptr, "", "error 80070057"},
        {4, 0, nullptr, "", "error 80070057"},
        {4, 1, "04: 11 12 13 14\r\n05: 0 0 0 0\r\n06: 0 0 0 0\r\n07: 0 0 0 0\r\nOK\r\n", "get 04\r", "key 9 11121314"},
        {4, 1, "No card\r\n", "get 04\r", "error 8004021A"},
        {4, 1, "ERR 3\r\n", "get 04\r", "error 80040219"},
        {4, 1, "ok\r\n04: 01 02 03 04\r\n05: 05 06 07 08\r\n06: 09 0a 0b 0c\r\n", "get 04\r", "error 80040218"},
        {4, 1, "done\r\n04: 01 02 03 04\r\n05: 05 06 07 08\r\n06: 09 0a 0b 0c\r\n07: 0 0 0 0\r\n", "get 04\r",
         "error 80040218"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.page) + "/" + std::to_string(c.count) + " " + (c.answer ? c.answer : ""));
        Restart();
        UseTcp();
        CardReading([&](ReadKeysSettings& k) {
            k.ultralight.enabled = true;
            k.ultralight.page = c.page;
            k.ultralight.count = c.count;
        });
        sim->SetUltralightPages(CountingPages());
        if (c.answer)
            sim->SetAnswer(c.page == 15 ? "get 0f" : "get 04", c.answer);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        sim->PresentKey(kUltralight);
        ASSERT_TRUE(WaitFor([&] { return !Notifications().empty(); }));
        WaitForReceived(c.sent);
        EXPECT_EQ(std::string("ir\n") + c.sent, sim->ReceivedText());
        EXPECT_EQ(std::vector<std::string>{c.notification}, Notifications());
    }
}

TEST_F(TextProtocolTest, UltralightReadingOffReportsTheCardNumber)
{
    UseTcp();
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    sim->PresentKey(kUltralight);
    ASSERT_TRUE(WaitFor([&] { return !Keys().empty(); }));
    EXPECT_EQ((std::vector<std::string>{"key 9 D4E5F604A1B2C3"}), Notifications());
    EXPECT_EQ("ir\n", sim->ReceivedText());
}

TEST_F(TextProtocolTest, AnUltralightCardOnTheReaderAtConnectIsReadButNotReported)
{
    UseTcp();
    CardReading([](ReadKeysSettings& k) { k.ultralight.enabled = true; });
    sim->SetUltralightPages(CountingPages());
    sim->SetFieldKey(kUltralight);
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_EQ("ir\nget 04\r", sim->ReceivedText());
    sim->SendLine(kUltralight);     // still the same card: its pages are read again, silently
    sim->SendLine(kKeyB);
    ASSERT_TRUE(WaitFor([&] { return !Keys().empty(); }));
    EXPECT_EQ((std::vector<std::string>{"key 1 2A00111100"}), Notifications());
}

TEST_F(TextProtocolTest, Model7IsProgrammedOnEveryConnection)
{
    const struct {
        uint32_t flags;
        std::string lines;
    } cases[] = {
        {READER_WIEGAND,
         "tFMTEm-Marine[%.2X%.2X] %.3d,%.5d\\r\\n\r\ntARGb4 b3 b2 w01\r\ntNOCNo card\\r\\n\r\n"},
        {0,
         "tFMTDALLAS[%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X] 000,00000\\r\\n\r\n"
         "tARGb7 b6 b5 b4 b3 b2 b1 b0\r\ntNOCNo card\\r\\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        Restart();
        UseTcp(c.flags);
        sim->SetIdentity({"Vell-4 Base", 0x303, 31, "2.0", "", 3});
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        const std::string once = "i" + c.lines + "r\n";
        EXPECT_EQ(once, sim->ReceivedText());
        reader->Reconnect();
        ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_CONNECT) == 2; }));
        EXPECT_EQ(once + once, sim->ReceivedText());
        EXPECT_EQ(0, Count(RDMSG_ERROR));
    }
}

TEST_F(TextProtocolTest, Model7ProgrammingErrorsEndTheAttempt)
{
    const struct {
        const char* command;
        const char* answer;
        std::string sent;
        HRESULT code;
    } cases[] = {
        {"tARGb7 b6 b5 b4 b3 b2 b1 b0", "Err: arguments\r\n",
         "itFMTDALLAS[%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X] 000,00000\\r\\n\r\ntARGb7 b6 b5 b4 b3 b2 b1 b0\r\n",
         KV_E_READER_ERROR},
        // No answer at all: the reply time-out.
        {"tNOCNo card\\r\\n", "\r\n",
         "itFMTDALLAS[%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X] 000,00000\\r\\n\r\n"
         "tARGb7 b6 b5 b4 b3 b2 b1 b0\r\ntNOCNo card\\r\\n\r\n",
         KV_E_RESPONSE_TIMEOUT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Restart();
        UseTcp(0);
        Configure([](ReaderSettings& s) { s.connectPeriod = -1; });
        sim->SetIdentity({"Vell-4 Base", 0x303, 31, "2.0", "", 3});
        sim->SetAnswer(c.command, c.answer);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return !Errors().empty(); }));
        EXPECT_EQ(c.code, Errors()[0]);
        EXPECT_EQ(0, Count(RDMSG_CONNECT));
        EXPECT_EQ(c.sent, sim->ReceivedText());
    }
}

TEST_F(TextProtocolTest, MifareClassicCardsNeedTheBinaryMode)
{
    const struct {
        uint32_t code;          // hardware code of the reader
        const char* firmware;
        bool classic;           // Mifare Classic reading on
        const char* line;
        const char* notification;
    } cases[] = {
        {0x811, "1.2", true, "Mifare[04A1B2C3] 1k", "error 80040221"},
        {0x811, "1.2", true, "Mifare[04A1B2C3] 4K", "error 80040221"},
        {0x811, "1.2", true, "Mifare[04A1B2C3] (0004,08)", "error 80040221"},     // SAK 08: Classic 1K
        {0x811, "1.2", true, "Mifare[04A1B2C3] (0004,09)", "error 80040221"},     // Mini
        {0x811, "1.2", true, "Mifare[04A1B2C3D4E5F6] ul", "key 9 D4E5F604A1B2C3"},
        {0x811, "1.2", false, "Mifare[04A1B2C3] 1k", "key 10 04A1B2C3"},
        {0x301, "106", true, "Mifare[04A1B2C3] 1k", "key 10 04A1B2C3"},           // not a Mifare reader model
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Restart();
        UseTcp(0);   // text mode
        sim->SetIdentity({"Reader", c.code, 9, c.firmware, "", 3});
        CardReading([&](ReadKeysSettings& k) { k.classic.enabled = c.classic; });
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        sim->SendLine(c.line);
        sim->SendLine(kKeyB);
        ASSERT_TRUE(WaitFor([&] { return !Keys().empty() && Keys().back() == kHexB; }));
        EXPECT_EQ((std::vector<std::string>{c.notification, "key 1 2A00111100"}), Notifications());
    }
}

TEST_F(TextProtocolTest, EmptyBracketLinesAreUnrecognisedNotKeys)
{
    // Once per connection, as every other line that is no key; no key of length 0 or zeros.
    UseTcp(0);
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    sim->SendLine("Mifare[] 1k");
    sim->SendLine("Dallas[]");
    sim->SendLine("Cod433[]");
    sim->SendLine(kKeyB);
    ASSERT_TRUE(WaitFor([&] { return !Keys().empty(); }));
    EXPECT_EQ((std::vector<std::string>{"error 8004021F", "key 1 2A00111100"}), Notifications());
}

TEST_F(TextProtocolTest, TheReadOnceAnswerIsCheckedAndRetried)
{
    const struct {
        const char* answer;
        int tries;
        bool connects;
        HRESULT code;
        int polls;
    } cases[] = {
        {"NO CARD\r\n", 2, true, S_OK, 1},
        {"garbage\r\n", 2, false, KV_E_RESPONSE_TIMEOUT, 2},   // invalid each time, tries used up
        {"Em-Marine[55]\r\n", 1, false, KV_E_RESPONSE_TIMEOUT, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        Restart();
        UseTcp();
        Configure([&](ReaderSettings& s) {
            s.maxTries = c.tries;
            s.connectPeriod = -1;
        });
        sim->SetAnswer("r", c.answer);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected() || !Errors().empty(); }));
        EXPECT_EQ(c.connects, Connected());
        if (!c.connects) {
            EXPECT_EQ(c.code, Errors()[0]);
        }
        EXPECT_EQ(c.polls, sim->CommandCount("r"));
    }
}

// The receive path with and without check-in ---------------------------------------------------

class TextReceiveTest : public ::testing::Test {
protected:
    void Open(int checkInPeriod)
    {
        ASSERT_TRUE(winsock.Ok());
        const uint16_t port = sim.ListenTcp();
        ASSERT_NE(0, port);
        reader.CreateEvents();
        const int peers = sim.PeerCount();
        CTextProtocolTestPeer::OpenPort(reader, L"127.0.0.1:" + std::to_wstring(port), checkInPeriod);
        ASSERT_TRUE(sim.WaitUntil([&] { return sim.PeerCount() == peers + 1; }, 3000));
    }
    void TearDown() override { CTextProtocolTestPeer::Close(reader); }

    // Waits until the port holds n bytes.
    bool WaitForBytes(int n)
    {
        const DWORD start = GetTickCount();
        while (CTextProtocolTestPeer::Available(reader) < n) {
            if (GetTickCount() - start > 3000)
                return false;
            WaitForSingleObject(reader.events[CReader::EV_COMM], 10);
            ResetEvent(reader.events[CReader::EV_COMM]);
        }
        return true;
    }

    static std::string KeyLines(int first, int count)
    {
        std::string s;
        char buf[64];
        for (int i = first; i < first + count; ++i) {
            std::snprintf(buf, sizeof buf, "Em-Marine[00%02X] 001,%05d\r\n", i & 0xFF, i);
            s += buf;
        }
        return s;
    }

    CWinsock winsock;
    CReaderSim sim;
    CReader reader;
};

TEST_F(TextReceiveTest, OneReceiveTakesEveryWaitingLine)
{
    for (int checkIn : {-1, 1000}) {
        SCOPED_TRACE(checkIn);
        TearDown();
        Open(checkIn);
        // Ten lines, far more than one 64-byte chunk, and the start of another.
        const std::string lines = KeyLines(checkIn < 0 ? 0 : 100, 10);
        sim.SendRaw(lines + "Em-Mar");
        ASSERT_TRUE(WaitForBytes(static_cast<int>(lines.size()) + 6));
        const size_t before = CTextProtocolTestPeer::KeysInField(reader);
        CTextProtocolTestPeer::ReceiveLines(reader);
        EXPECT_EQ(before + 10, CTextProtocolTestPeer::KeysInField(reader));
        EXPECT_EQ(6u, CTextProtocolTestPeer::Buffered(reader));
        sim.Stop();
    }
}

TEST_F(TextReceiveTest, ACheckInReadEndsWhileBytesKeepComing)
{
    Open(1000);
    // The talker goes on until the read has ended (or for 30 s): a read that waits for a pause
    // would end only with the talker, however loaded the machine.
    std::atomic<bool> stop{false};
    std::atomic<bool> gaveUp{false};
    std::thread talker([&] {
        const std::string burst = KeyLines(0, 40);
        const DWORD start = GetTickCount();
        while (!stop && GetTickCount() - start < 30000)
            sim.SendRaw(burst);
        gaveUp = !stop;
    });
    ASSERT_TRUE(WaitForBytes(64));
    const DWORD start = GetTickCount();
    CTextProtocolTestPeer::ReceiveLines(reader);
    const DWORD took = GetTickCount() - start;
    const bool talkerStillSending = !gaveUp;
    stop = true;
    talker.join();
    EXPECT_TRUE(talkerStillSending) << "the read ended only when the bytes stopped, after " << took << " ms";
    EXPECT_LT(took, 10000u) << "ten check-in periods";
    EXPECT_GT(CTextProtocolTestPeer::KeysInField(reader), 0u);
}
