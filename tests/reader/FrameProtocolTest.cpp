// The binary frame protocol end to end: the reader thread against the simulated Mifare
// readers, over a COM port pair and over TCP alike.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include <vector>
#include "core/ResultCodes.h"
#include "reader/Reader.h"
#include "tests/reader/ReaderTestFixture.h"
#include "tests/support/PortPairs.h"
#include "tests/support/ReaderTestPeer.h"
#include "tools/readersim/ReaderSim.h"

namespace {

enum class Line { Com, Tcp };

std::string LineName(const ::testing::TestParamInfo<Line>& info) { return info.param == Line::Com ? "Com" : "Tcp"; }

std::string S(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

std::string HexOf(const std::string& bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        out += buf;
    }
    return out;
}

// Sixteen bytes that tell one block from another.
std::string Block(int n)
{
    std::string b;
    for (int i = 0; i < 16; ++i)
        b += static_cast<char>(n * 16 + i);
    return b;
}

FrameSimCard Card(BYTE sak, WORD atqa, const std::string& uid, int sectors = 16)
{
    FrameSimCard c;
    c.sak = sak;
    c.atqa = atqa;
    c.uid = uid;
    c.sectors = sectors;
    return c;
}

ReaderSimIdentity Identity(int model)
{
    switch (model) {
    case 4: return {"Oblon III Net", 0x903, 32, "2.5", "", 3};
    case 5: return {"CP-Vell-4MF", 0xF11, 33, "1.2", "", 3};
    case 11: return {"Vell-4 USB MF-I", 0x811, 34, "1.8", "", 3};
    default: return {"Vell-4 USB MF", 0x811, 31, "1.5", "", 3};
    }
}

const std::string kLongAts = S({0x09, 0x78, 0x77, 0x80, 0x02, 0x80, 0x31, 0x80, 0x66});
const std::string kPlusAts = S({0x0C, 0x75, 0x77, 0x80, 0x02, 0xC1, 0x05, 0x2F, 0x2F, 0x01, 0xBC, 0xD6});
const std::string kProbeOk = S({0x00, 0x90});
const std::string kPlusVersion4K = S({0x04, 0x00, 0x02, 0x01, 0x01, 0x00, 0x18, 0x05});

class FrameReaderTest : public ReaderThreadTest, public ::testing::WithParamInterface<Line> {
protected:
    void SetUp() override
    {
        ReaderThreadTest::SetUp();
        if (HasFatalFailure())
            return;
        if (GetParam() == Line::Com) {
            NV_REQUIRE_SERIAL_PAIRS();
            const SerialPairInfo* pair = GetSerialPair(1);
            ASSERT_TRUE(pair);
            ASSERT_TRUE(sim->OpenCom(pair->farName));
            SetPort(pair->nearName);
        } else {
            const uint16_t port = sim->ListenTcp();
            ASSERT_NE(0, port);
            SetPort(L"127.0.0.1:" + std::to_wstring(port));
        }
        Configure([](ReaderSettings& s) {
            s.receiveTimeout = 400;
            s.maxTries = 1;
            s.connectTimeout = 2000;
            s.connectPeriod = 3000;
            s.flags = READER_BINARY;
        });
    }

    CFrameSim& Binary() { return sim->Binary(); }

    void Connect(int model)
    {
        sim->SetIdentity(Identity(model));
        Binary().SetModel(model);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    }

    int Rounds() { return Binary().Count(0x23); }
    // Waits until n more rounds have begun: the last of them began after the call.
    bool WaitRounds(int n)
    {
        const int target = Rounds() + n;
        return WaitFor([&] { return Rounds() >= target; });
    }
    // Waits for one more key or error notification than there were.
    bool WaitReport(size_t before)
    {
        return WaitFor([&] { return static_cast<size_t>(Count(RDMSG_KEY) + Count(RDMSG_ERROR)) > before; });
    }
    size_t Reports() { return static_cast<size_t>(Count(RDMSG_KEY) + Count(RDMSG_ERROR)); }

    // The payloads of the frames with that code the reader sent from frame index from on.
    std::vector<std::string> Payloads(BYTE code, size_t from = 0)
    {
        std::vector<std::string> out;
        const auto frames = sim->Frames();
        for (size_t i = from; i < frames.size(); ++i)
            if (frames[i].code == code)
                out.push_back(frames[i].payload);
        return out;
    }
    // The frames of the card-memory reads from frame index from on: code, then payload.
    std::vector<std::string> Reads(size_t from)
    {
        std::vector<std::string> out;
        const auto frames = sim->Frames();
        for (size_t i = from; i < frames.size(); ++i)
            if (frames[i].code == 0x50 || frames[i].code == 0x51 || frames[i].code == 0x60 || frames[i].code == 0x61)
                out.push_back(std::string(1, static_cast<char>(frames[i].code)) + frames[i].payload);
        return out;
    }
    // Requests that examine or read a card rather than list it.
    int CardWork()
    {
        int n = 0;
        for (BYTE code : {0x46, 0x48, 0x50, 0x51, 0x60, 0x61, 0x6E})
            n += Binary().Count(code);
        return n;
    }
};

} // namespace

TEST_P(FrameReaderTest, ConnectTakesTheCardsThereAndReportsOnlyThosePlacedLater)
{
    const FrameSimCard lying = Card(0x08, 0x0004, S({0x04, 0x11, 0x22, 0x33}));
    const FrameSimCard placed = Card(0x10, 0x0004, S({0x04, 0xA1, 0xB2, 0xC3}), 32);
    Binary().SetField({lying});
    ASSERT_NO_FATAL_FAILURE(Connect(3));

    // After the version query: binary mode at the speed kept, the search ended, a round.
    EXPECT_EQ(S({'i', 0x02, 0x01, 0x08, 0x2F, 0x01, 0x80, 0xBB, 0x00}), sim->ReceivedText().substr(0, 9));
    auto frames = sim->Frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(0x24, frames[1].code);
    EXPECT_EQ(S({0x00}), frames[1].payload);
    EXPECT_EQ(0x23, frames[2].code);
    EXPECT_EQ(S({0x00, 0x0A, 0x00}), frames[2].payload);
    ASSERT_TRUE(WaitRounds(2));
    EXPECT_EQ(0u, Reports());

    const size_t from = sim->Frames().size();
    Binary().SetField({lying, placed});
    ASSERT_TRUE(WaitReport(0));
    ASSERT_TRUE(WaitRounds(2));
    ASSERT_EQ(1, Count(RDMSG_KEY));
    const Seen& key = seen.back();
    EXPECT_EQ(15, key.keyType);     // Mifare Plus 2K in security level 2
    EXPECT_EQ("04A1B2C3", key.key);
    EXPECT_EQ(41u, key.extra);
    EXPECT_EQ((std::vector<std::string>{S({0x8E, 0x01}), S({0xBE, 0x01}), S({0x20, 0x01})}), Payloads(0x20, from));

    // Taken away, it leaves after the next round; put back, it is new again.
    Binary().SetField({lying});
    ASSERT_TRUE(WaitFor([&] { return LogCount(L"Lost key M+2K") == 1; }));
    EXPECT_EQ(0, LogCount(L"Lost key M1K"));
    Binary().SetField({lying, placed});
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_KEY) == 2; }));

    // Leaving: the indication, then text mode at 9600 Bd, though this reader keeps its speed.
    reader->Stop();
    frames = sim->Frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(0x20, frames[frames.size() - 2].code);
    EXPECT_EQ(S({0x95, 0x01}), frames[frames.size() - 2].payload);
    EXPECT_EQ(0x2F, frames.back().code);
    EXPECT_EQ(S({0x00, 0x00}), frames.back().payload);
    EXPECT_TRUE(WaitFor([&] { return !Binary().BinaryMode(); }));
    EXPECT_EQ(0, Count(RDMSG_ERROR));
}

TEST_P(FrameReaderTest, EachCardIsReportedWithItsTypeAndExtraValue)
{
    struct Row {
        const char* what;
        FrameSimCard card;
        bool activate;
        int type;
        uint32_t extra;
    };
    auto iso = [](BYTE sak, WORD atqa, int sectors, bool plus, const std::string& probe2) {
        FrameSimCard c = Card(sak, atqa, std::string(), sectors);
        c.ats = kLongAts;
        c.probe2 = probe2;
        c.classic = !plus;
        c.plus = plus;
        return c;
    };
    const Row rows[] = {
        {"Classic 2K", Card(0x19, 0x0002, "", 32), true, 11, 0},
        {"Mini", Card(0x09, 0x0004, "", 5), true, 21, 0},
        {"Smart MX 1K", Card(0x28, 0x0004, ""), true, 17, 0},
        {"Smart MX 4K", Card(0x38, 0x0002, "", 40), true, 18, 0},
        {"Plus SL3 2K by its key addresses", iso(0x20, 0x0008, 32, true, kProbeOk), true, 15, 0x39},
        {"Plus SL1 4K by block 0x91", iso(0x20, 0x0008, 40, false, ""), true, 16, 0x19},
        // Last: the reader's refusal is kept for the connection.
        {"DESFire, the reader refusing 0x48", Card(0x20, 0x0344, ""), false, 19, 0},
    };
    ASSERT_NO_FATAL_FAILURE(Connect(11));
    int i = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        FrameSimCard card = r.card;
        card.uid = S({0x04, 0x50 + i++, 0x61, 0x72, 0x83, 0x94, 0x80});
        Binary().SetAtsSupported(r.activate);
        const size_t before = Reports();
        const int lost = LogCount(L"Lost key");
        Binary().SetField({card});
        ASSERT_TRUE(WaitReport(before));
        ASSERT_EQ(RDMSG_KEY, seen.back().type);
        EXPECT_EQ(r.type, seen.back().keyType);
        EXPECT_EQ(r.extra, seen.back().extra);
        EXPECT_EQ(HexOf(card.uid), seen.back().key);
        Binary().SetField({});
        ASSERT_TRUE(WaitFor([&] { return LogCount(L"Lost key") == lost + 1; }));
    }
    EXPECT_EQ(0, Count(RDMSG_ERROR));
}

TEST_P(FrameReaderTest, CardMemoryIsReadOnceWithTheSettingsOfTheRound)
{
    const _KEY_NUMBER classicKey = DefaultMifareClassicKey(), plusKey = DefaultMifarePlusKey();
    auto classic = [&](int sector, int block, uint32_t flags, uint32_t mask) {
        ReadKeysSettings s;
        s.classic.enabled = true;
        s.classic.sector = sector;
        s.classic.block = block;
        s.classic.flags = flags;
        s.classic.mask = mask;
        s.classic.key = classicKey;
        return s;
    };
    auto ultralight = [](int page, int count) {
        ReadKeysSettings s;
        s.ultralight.enabled = true;
        s.ultralight.page = page;
        s.ultralight.count = count;
        return s;
    };
    ReadKeysSettings plus;
    plus.plus.enabled = true;
    plus.plus.sector = 2;
    plus.plus.block = 1;
    plus.plus.key = plusKey;

    FrameSimCard classic4k = Card(0x18, 0x0002, S({0x04, 0x4B, 0x00, 0x01}), 40);
    classic4k.blocks[133] = Block(133);
    FrameSimCard classic1k = Card(0x08, 0x0004, S({0x04, 0x1B, 0x00, 0x02}));
    classic1k.blocks[5] = Block(5);
    std::string pages;
    for (int i = 0; i < 64; ++i)
        pages += static_cast<char>(0xC0 + i);
    FrameSimCard ultra = Card(0x00, 0x0044, S({0x04, 0x0C, 0x00, 0x03, 0x14, 0x25, 0x80}), 0);
    ultra.pages = pages;
    FrameSimCard plusCard = Card(0x20, 0x0002, S({0x04, 0x9C, 0x00, 0x04, 0x15, 0x26, 0x80}), 40);
    plusCard.ats = kPlusAts;
    plusCard.version = kPlusVersion4K;
    plusCard.classic = false;
    plusCard.plus = true;
    plusCard.blocks[9] = Block(9);

    const std::string classicKeyBytes(reinterpret_cast<const char*>(classicKey.bytes), 6);
    const std::string plusKeyBytes(reinterpret_cast<const char*>(plusKey.bytes), 16);
    struct Row {
        const char* what;
        ReadKeysSettings settings;
        FrameSimCard card;
        int authStatus;             // the reader's answer to 0x50; -1 its own
        std::string number;         // hex of the number reported, or empty for an error
        HRESULT error;
        std::vector<std::string> reads;
    };
    const Row rows[] = {
        {"sector 32 block 5 is block 133", classic(32, 5, 0, 0), classic4k, -1, HexOf(Block(133)), S_OK,
         {"\x50" + S({0x02, 0x85}) + classicKeyBytes, S({0x51, 0x85})}},
        {"by mask: the slots, no key", classic(1, 1, MIFARE_BY_MASK, 0x5), classic1k, -1, HexOf(Block(5)), S_OK,
         {S({0x50, 0x00, 0x05, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00}), S({0x51, 0x05})}},
        {"Ultralight page 4, one page", ultralight(4, 1), ultra, -1, HexOf(pages.substr(16, 4)), S_OK, {S({0x51, 0x04})}},
        {"a count above 4 reads four pages", ultralight(4, 5), ultra, -1, HexOf(pages.substr(16, 16)), S_OK,
         {S({0x51, 0x04})}},
        {"Plus block: key address 0x4004", plus, plusCard, -1, HexOf(Block(9)), S_OK,
         {"\x60" + S({0x02, 0x04, 0x40}) + plusKeyBytes, S({0x61, 0x07, 0x09, 0x00, 0x01})}},
        {"a key refused", classic(32, 5, 0, 0), classic4k, 8, "", KV_E_KEY_AUTH,
         {"\x50" + S({0x02, 0x85}) + classicKeyBytes}},
        {"a negative block reads nothing", classic(1, -1, 0, 0), classic1k, -1, "", E_INVALIDARG, {}},
    };

    ASSERT_NO_FATAL_FAILURE(Connect(4));
    // The key of slot 2 for the reads by mask, written into the reader's memory.
    std::vector<_KEY_NUMBER> slots(3);
    slots[2] = classicKey;
    reader->StartJob(RDJOB_WRITE_KEYS, 0, slots, 1);
    reader->Wake();
    ASSERT_TRUE(WaitFor([&] { return reader->GetJob().state != RDJOB_PENDING; }));
    ASSERT_EQ(S_OK, reader->GetJob().state);
    EXPECT_EQ(classicKeyBytes, Binary().KeySlots(false)[2]);

    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        reader->SetCardReading(r.settings);
        // Every round that may see the card began after the settings were given.
        ASSERT_TRUE(WaitRounds(2));
        Binary().SetStatus(0x50, r.authStatus);
        const size_t from = sim->Frames().size(), before = Reports();
        const int lost = LogCount(L"Lost key");
        Binary().SetField({r.card});
        ASSERT_TRUE(WaitReport(before));
        const Seen report = seen.back();
        if (r.number.empty()) {
            EXPECT_EQ(RDMSG_ERROR, report.type);
            EXPECT_EQ(r.error, report.code);
            if (r.error == KV_E_KEY_AUTH) {
                EXPECT_EQ(L"Key authorization error.", report.text);
            }
        } else {
            EXPECT_EQ(RDMSG_KEY, report.type);
            EXPECT_EQ(r.number, report.key);
        }
        // Present, the card is neither examined nor read again.
        ASSERT_TRUE(WaitRounds(1));
        const int work = CardWork();
        ASSERT_TRUE(WaitRounds(2));
        EXPECT_EQ(work, CardWork());
        EXPECT_EQ(before + 1, Reports());
        EXPECT_EQ(r.reads, Reads(from));

        Binary().SetField({});
        Binary().SetStatus(0x50, -1);
        ASSERT_TRUE(WaitFor([&] { return LogCount(L"Lost key") == lost + 1; }));
    }
    EXPECT_TRUE(Logged(L"reading mifare classic"));
}

TEST_P(FrameReaderTest, SettingsChangedDuringARoundWaitForTheNext)
{
    Configure([](ReaderSettings& s) { s.receiveTimeout = 3000; });
    FrameSimCard card = Card(0x08, 0x0004, S({0x04, 0x77, 0x00, 0x05}));
    card.blocks[4] = Block(4);
    card.blocks[9] = Block(9);
    ReadKeysSettings first;
    first.classic.enabled = true;
    first.classic.sector = 1;
    first.classic.block = 0;
    first.classic.key = DefaultMifareClassicKey();
    ReadKeysSettings second = first;
    second.classic.sector = 2;
    second.classic.block = 1;
    reader->SetCardReading(first);
    ASSERT_NO_FATAL_FAILURE(Connect(5));

    // The authentication's reply comes late; meanwhile the owner asks for another block.
    Binary().AddFault({FrameFault::Split, 0x50, 1, 0, 600});
    const size_t from = sim->Frames().size();
    Binary().SetField({card});
    ASSERT_TRUE(WaitFor([&] { return Binary().Count(0x50) == 1; }));
    reader->SetCardReading(second);
    ASSERT_TRUE(WaitReport(0));
    EXPECT_EQ(HexOf(Block(4)), seen.back().key);
    EXPECT_EQ(S({0x04}), Payloads(0x51, from).at(0));

    Binary().SetField({});
    ASSERT_TRUE(WaitFor([&] { return LogCount(L"Lost key") == 1; }));
    Binary().SetField({card});
    ASSERT_TRUE(WaitReport(1));
    EXPECT_EQ(HexOf(Block(9)), seen.back().key);
}

TEST_P(FrameReaderTest, BytesOutsideATransactionAreDropped)
{
    reader->SetPolling(false);
    ASSERT_NO_FATAL_FAILURE(Connect(5));
    // A reply that no request asked for, under the sequence number of the next request.
    const BYTE next = static_cast<BYTE>(sim->Frames().back().seq + 1);
    const size_t logged = LogText().size();
    sim->SendRaw(BuildSimFrame(next, 0x5F, S({0x01})));
    auto receivedSince = [&] {
        const std::wstring log = LogText().substr(logged);
        int total = 0;
        for (size_t p = log.find(L">> ("); p != std::wstring::npos; p = log.find(L">> (", p + 1))
            total += static_cast<int>(std::wcstol(log.c_str() + p + 4, nullptr, 10));
        return total;
    };
    ASSERT_TRUE(WaitFor([&] { return receivedSince() >= 7; }));

    reader->StartJob(RDJOB_WRITE_KEYS, 0, {DefaultMifareClassicKey()}, 1);
    reader->Wake();
    ASSERT_TRUE(WaitFor([&] { return reader->GetJob().state != RDJOB_PENDING; }));
    EXPECT_EQ(S_OK, reader->GetJob().state);
    EXPECT_EQ(1u, Binary().KeySlots(false).size());
}

TEST_P(FrameReaderTest, AFailedSetUpLeavesTheReaderInTextMode)
{
    Configure([](ReaderSettings& s) { s.connectPeriod = 300; });
    Binary().AddFault({FrameFault::Silence, 0x24, 1});
    ASSERT_NO_FATAL_FAILURE(Connect(3));
    EXPECT_EQ((std::vector<HRESULT>{KV_E_RESPONSE_TIMEOUT}), Errors());
    EXPECT_EQ(L"Unable to connect to the reader. Timeout response data from the port.", seen[0].text);
    EXPECT_EQ(2, sim->QueryCount());
    const auto frames = sim->Frames();
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(S({0x00, 0x00}), frames[2].payload);      // 2F: back to text mode at 9600 Bd
    EXPECT_EQ(0x2F, frames[3].code);                    // the second connection
    EXPECT_EQ(1, frames[3].seq);
}

TEST_P(FrameReaderTest, KeepAliveAfterEighteenQuietSecondsAndOneRoundPerPollPeriod)
{
    reader->SetPolling(false);
    ASSERT_NO_FATAL_FAILURE(Connect(3));
    // The connect round is the last traffic: its indications end it.
    ASSERT_TRUE(sim->WaitUntil([&] { return Binary().Count(0x20) == 2; }, 3000));
    const size_t quietFrom = sim->Frames().size();
    const uint32_t wakes = reader->GetWakeCount();
    ASSERT_TRUE(sim->WaitUntil([&] { return sim->Frames().size() > quietFrom; }, 25000));
    const auto frames = sim->Frames();
    EXPECT_EQ(0x2F, frames[quietFrom].code);
    EXPECT_EQ(S({0x01, 0x80}), frames[quietFrom].payload);
    // Timed by the program's own stamps of what it sent: the keep-alive and the frame before it.
    // The thread's wait ends when the keep-alive is due; a thread that woke later than a poll
    // period (333 ms) would miss its poll rounds too, so a poll period is the margin each way.
    std::vector<std::wstring> sent;
    ASSERT_TRUE(WaitFor([&] {
        sent = LogLinesWith(L"<< (");
        return sent.size() >= 2 && sent.back().find(L" 2F 01 80 ") != std::wstring::npos;
    }));
    const int passed = LogGap(sent[sent.size() - 2], sent.back());
    EXPECT_GE(passed, 18000 - 333) << sent[sent.size() - 2];
    EXPECT_LE(passed, 18000 + 333) << sent.back();
    // Wine's serial driver ends its comm wait every few milliseconds, a turn of the loop each
    // time: the turns are counted on TCP only.
    const bool countTurns = GetParam() == Line::Tcp;
    if (countTurns) {
        EXPECT_LE(reader->GetWakeCount() - wakes, 4u) << "the thread slept through the quiet";
    }

    // Polling: a round a poll period, and no turn of the loop beyond what the rounds need.
    reader->SetPolling(true);
    reader->Wake();
    ASSERT_TRUE(WaitRounds(1));
    const int rounds = Rounds();
    const uint32_t before = reader->GetWakeCount();
    const DWORD start = GetTickCount();
    WaitFor([] { return false; }, 2000);
    const DWORD took = GetTickCount() - start;
    const int made = Rounds() - rounds;
    EXPECT_GE(made, 2);
    EXPECT_LE(made, static_cast<int>(took / 333) + 1);
    if (countTurns) {
        EXPECT_LE(reader->GetWakeCount() - before, static_cast<uint32_t>(8 * made + 8));
    }
}

// One transaction on a bare port, through every fault of the line.
TEST_P(FrameReaderTest, EachLineFaultEndsTheTransactionAsItShould)
{
    logSettings.logLevel = 2;  // the flood would fill the log
    ReaderConnectParams p;
    p.portName = reader->GetPortName();
    p.connectTimeout = 3000;
    CReaderTestPeer::OpenPort(*reader, p);
    if (GetParam() == Line::Tcp) {
        ASSERT_TRUE(sim->WaitUntil([&] { return sim->PeerCount() == 1; }, 3000));
    }
    CFrameLink& link = CReaderTestPeer::UseFrameLink(*reader);

    using F = FrameSimFault;
    struct Row {
        const char* what;
        std::vector<FrameSimFault> faults;
        BYTE command;
        int tries;
        bool speedChanged;
        int status;         // the reader's status for the command; -1 its own
        bool ok;
        int sends;
        DWORD least, most;  // how long it took (0: not checked)
    };
    const Row rows[] = {
        {"a right sum under another sequence number", {F{FrameFault::WrongSeq}}, 0x24, 1, false, -1, false, 1, 380, 1500},
        {"a search reply whatever its sum", {F{FrameFault::WrongSum}}, 0x23, 1, false, -1, true, 1, 0, 0},
        {"a reply without status byte", {F{FrameFault::NoStatus}}, 0x24, 2, false, -1, true, 2, 0, 0},
        {"no tries", {}, 0x24, 0, false, -1, false, 0, 0, 0},
        {"garbage first", {F{FrameFault::Garbage}}, 0x24, 1, false, -1, true, 1, 0, 0},
        {"length byte 0 first", {F{FrameFault::ShortLength, 0, 1, 0}}, 0x24, 1, false, -1, true, 1, 0, 0},
        {"length byte 5 first", {F{FrameFault::ShortLength, 0, 1, 5}}, 0x24, 1, false, -1, true, 1, 0, 0},
        {"a bad sum first", {F{FrameFault::BadSumFirst}}, 0x24, 1, false, -1, true, 1, 0, 0},
        {"split in two", {F{FrameFault::Split, 0, 1, 0, 100}}, 0x24, 1, false, -1, true, 1, 0, 0},
        {"joined to others", {F{FrameFault::Joined}}, 0x24, 1, false, -1, true, 1, 0, 0},
        // The frame joined after the last reply carries this request's sequence number.
        {"the next request takes its own reply", {}, 0x24, 1, false, 7, true, 1, 0, 0},
        {"silence", {F{FrameFault::Silence, 0, 2}}, 0x24, 2, false, -1, false, 2, 760, 2800},
        {"after a speed change", {F{FrameFault::Silence, 0x24, 2}}, 0x24, 1, true, -1, true, 4, 0, 0},
        {"a flood without a frame", {F{FrameFault::Flood, 0, 1, 0, 3000}}, 0x24, 1, false, -1, false, 1, 380, 1900},
    };
    BYTE seq = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ++seq;
        Binary().ClearFaults();
        for (const FrameSimFault& f : r.faults)
            Binary().AddFault(f);
        if (r.status >= 0)
            Binary().SetStatus(r.command, r.status);
        CReaderTestPeer::SetLimits(*reader, r.tries, 400);
        if (r.speedChanged)
            CReaderTestPeer::SetSpeedChanged(*reader);
        const std::string payload = r.command == 0x23 ? S({0x00, 0x0A, 0x00}) : S({0x00});
        BYTE status = 0;
        std::vector<BYTE> data;
        const DWORD start = GetTickCount();
        const bool ok = link.SendReaderFrame(r.command, reinterpret_cast<const BYTE*>(payload.data()), payload.size(),
                                             &status, &data);
        const DWORD took = GetTickCount() - start;
        EXPECT_EQ(r.ok, ok);
        if (ok) {
            EXPECT_EQ(r.status >= 0 ? r.status : 0x55, status);
        } else {
            EXPECT_EQ(KV_E_RESPONSE_TIMEOUT, CReaderTestPeer::LastError(*reader));
        }
        auto sends = [&] {
            int n = 0;
            for (const auto& f : sim->Frames())
                n += f.seq == seq;
            return n;
        };
        EXPECT_TRUE(sim->WaitUntil([&] { return sends() >= r.sends; }, 2000));
        EXPECT_EQ(r.sends, sends());
        if (r.least) {
            EXPECT_GE(took, r.least);
        }
        if (r.most) {
            EXPECT_LT(took, r.most);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Line, FrameReaderTest, ::testing::Values(Line::Com, Line::Tcp), LineName);
