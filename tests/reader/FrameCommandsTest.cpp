// The pieces of the binary frame protocol that need no port: frame bytes, reply results,
// sector arithmetic, and the classification of simulated cards over an in-process line.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>
#include "core/ResultCodes.h"
#include "reader/FrameCodec.h"
#include "reader/FrameCommands.h"
#include "tools/readersim/FrameSim.h"

namespace {

std::vector<BYTE> B(std::initializer_list<int> bytes)
{
    std::vector<BYTE> v;
    for (int b : bytes)
        v.push_back(static_cast<BYTE>(b));
    return v;
}

std::vector<BYTE> Cat(std::vector<BYTE> a, const std::vector<BYTE>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string S(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

// The simulated reader answering in-process, one frame per request.
class CSimLine : public IFrameTransport {
public:
    bool Transact(BYTE command, const BYTE* payload, size_t length, BYTE& status, std::vector<BYTE>& data) override
    {
        sent.push_back(Cat({command}, std::vector<BYTE>(payload, payload + length)));
        ++seq;
        std::vector<BYTE> in;
        FrameSimLine line;
        line.write = [&](const std::string& bytes) {
            in.insert(in.end(), bytes.begin(), bytes.end());
            return true;
        };
        sim.Reply(seq, command, std::string(payload, payload + length), line);
        std::vector<BYTE> reply;
        bool seen = false;
        if (!TakeReaderFrame(in, seq, reply, seen) || reply.empty()) {
            SetLastError(KV_E_RESPONSE_TIMEOUT);
            return false;
        }
        status = reply[0];
        data.assign(reply.begin() + 1, reply.end());
        return true;
    }
    void SetLastError(HRESULT code) override { last = code; }
    HRESULT LastError() override { return last; }
    void Pause(DWORD) override {}
    int Tries() override { return tries; }
    int ReplyTimeout() override { return timeout; }
    void SetLimits(int t, int ms) override
    {
        tries = t;
        timeout = ms;
    }
    void LogInfo(const wchar_t*) override {}

    CFrameSim sim;
    BYTE seq = 0;
    HRESULT last = S_OK;
    int tries = 2, timeout = 3000;
    std::vector<std::vector<BYTE>> sent;
};

} // namespace

TEST(FrameCodec, ARequestFrameCarriesItsLengthAndSum)
{
    const BYTE keep[2] = {0x01, 0x80};
    EXPECT_EQ(B({0x02, 0x01, 0x08, 0x2F, 0x01, 0x80, 0xBB, 0x00}), BuildReaderFrame(1, 0x2F, keep, 2));
    EXPECT_EQ(B({0x02, 0xFF, 0x06, 0x43, 0x4A, 0x01}), BuildReaderFrame(0xFF, 0x43, nullptr, 0));
}

TEST(FrameCodec, TheReplyIsFoundBehindWhatPrecedesItAndWhatFollowsStays)
{
    const std::vector<BYTE> good = BuildReaderFrame(7, 0x45, B({0x55, 0x04, 0x00}).data(), 3);
    std::vector<BYTE> badSum = good;
    badSum.back() ^= 1;
    const std::vector<BYTE> otherSeq = BuildReaderFrame(8, 0x45, B({0x55}).data(), 1);
    std::vector<BYTE> searchBadSum = BuildReaderFrame(7, 0x23, B({0x55}).data(), 1);
    searchBadSum.back() ^= 0x77;
    const struct {
        const char* what;
        std::vector<BYTE> in;
        bool found;
        std::vector<BYTE> payload;
        std::vector<BYTE> left;
    } cases[] = {
        {"garbage first", Cat(B({0x13, 0xA5, 0xFF}), good), true, B({0x55, 0x04, 0x00}), {}},
        {"length byte 0", Cat(B({0x02, 0x07, 0x00, 0x45}), good), true, B({0x55, 0x04, 0x00}), {}},
        {"length byte 5", Cat(B({0x02, 0x07, 0x05, 0x45}), good), true, B({0x55, 0x04, 0x00}), {}},
        {"bad sum first", Cat(badSum, good), true, B({0x55, 0x04, 0x00}), {}},
        {"stray start with a long length", Cat(B({0x02, 0x02, 0x45}), good), true, B({0x55, 0x04, 0x00}), {}},
        {"bytes after it stay", Cat(good, B({0x02, 0x09})), true, B({0x55, 0x04, 0x00}), B({0x02, 0x09})},
        {"another sequence only", otherSeq, false, {}, {}},
        {"bad sum only", badSum, false, {}, {}},
        {"search reply, no valid sum", searchBadSum, true, B({0x55}), {}},
        {"incomplete", B({0x13, 0x02, 0x07, 0x09, 0x45}), false, {}, B({0x02, 0x07, 0x09, 0x45})},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> buffer = c.in, payload;
        bool seen = false;
        EXPECT_EQ(c.found, TakeReaderFrame(buffer, 7, payload, seen)) << c.what;
        EXPECT_EQ(c.payload, payload) << c.what;
        EXPECT_EQ(c.left, buffer) << c.what;
    }
}

TEST(FrameCommands, EachReplyStatusGivesItsResult)
{
    const struct {
        FrameOp op;
        BYTE status;
        size_t data;
        HRESULT result;
    } cases[] = {
        {FOP_INDICATION, 0x55, 1, S_OK},           {FOP_INDICATION, 0x55, 0, KV_E_INVALID_RESPONSE},
        {FOP_INDICATION, 0x01, 1, KV_E_READER_ERROR}, {FOP_BEGIN_SEARCH, 0x55, 0, S_OK},
        {FOP_BEGIN_SEARCH, 0x09, 0, KV_E_READER_ERROR}, {FOP_END_SEARCH, 0x02, 0, KV_E_READER_ERROR},
        {FOP_FIND_CARD, 0x55, 3, S_OK},            {FOP_FIND_CARD, 0x55, 2, KV_E_INVALID_RESPONSE},
        {FOP_FIND_CARD, 0x09, 0, S_OK},            {FOP_FIND_CARD, 0x05, 0, KV_E_READER_ERROR},
        {FOP_SELECT_CARD, 0x09, 0, KV_E_NO_KEY},   {FOP_ACTIVATE, 0x02, 0, KV_E_READER_ERROR},
        {FOP_CLASSIC_AUTH_KEY, 0x05, 0, KV_E_NO_KEY}, {FOP_CLASSIC_AUTH_KEY, 0x08, 0, KV_E_KEY_AUTH},
        {FOP_CLASSIC_AUTH_KEY, 0x0D, 0, KV_E_MIFARE_BLOCK_ADDR}, {FOP_CLASSIC_AUTH_SLOTS, 0x55, 0, KV_E_INVALID_RESPONSE},
        {FOP_CLASSIC_AUTH_SLOTS, 0x0D, 0, KV_E_READER_ERROR}, {FOP_READ16, 0x55, 15, KV_E_INVALID_RESPONSE},
        {FOP_READ16, 0x06, 0, KV_E_NO_KEY},        {FOP_PLUS_AUTH_SLOTS, 0x08, 0, KV_E_KEY_AUTH},
        {FOP_PLUS_AUTH_KEY, 0x0D, 0, KV_E_MIFARE_BLOCK_ADDR}, {FOP_PLUS_READ, 0x55, 16, S_OK},
        {FOP_WRITE_KEY, 0x08, 0, KV_E_READER_ERROR}, {FOP_CARD_COMMAND, 0x55, 0, S_OK},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, FrameReplyResult(c.op, c.status, c.data))
            << "op " << c.op << " status " << int(c.status) << " data " << c.data;
}

TEST(FrameCommands, SectorAndBlockGiveTheBlockRead)
{
    const struct {
        int keyType, sector, block, address;
    } cases[] = {
        {12, 32, 5, 133}, {12, 0, 1, 1}, {12, 3, 6, 14}, {12, 39, 15, 255}, {12, 40, 0, -1},
        {10, 15, 3, 63},  {10, 16, 0, -1}, {11, 31, 3, 127}, {11, 32, 0, -1}, {21, 4, 1, 17}, {21, 5, 0, -1},
        {12, 1, -1, -1},  {12, -1, 0, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.address, MifareBlockAddress(MifareClassicSectors(c.keyType), c.sector, c.block))
            << c.keyType << " " << c.sector << " " << c.block;
    EXPECT_EQ(0, MifarePlusSectors(13));
    EXPECT_EQ(-1, MifareBlockAddress(MifarePlusSectors(13), 0, 1));
    EXPECT_EQ(133, MifareBlockAddress(MifarePlusSectors(16), 32, 5));
}

TEST(FrameCommands, EachCardIsClassifiedByItsAnswers)
{
    const std::string plusAts = S({0x0C, 0x75, 0x77, 0x80, 0x02, 0xC1, 0x05, 0x2F, 0x2F, 0x01, 0xBC, 0xD6});
    const std::string plusAtsX = S({0x0C, 0x75, 0x77, 0x80, 0x02, 0xC1, 0x05, 0x2F, 0x2F, 0x00, 0x35, 0xC7});
    const std::string sl1Ats = S({0x0C, 0x75, 0x77, 0x80, 0x02, 0xC1, 0x05, 0x21, 0x30, 0x10, 0xF6, 0xD1});
    const std::string longAts = S({0x09, 0x78, 0x77, 0x80, 0x02, 0x80, 0x31, 0x80, 0x66});
    const std::string shortAts = S({0x06, 0x75, 0x77, 0x81, 0x02, 0x80});
    auto version = [](int type, int size) { return S({0x04, 0x00, type, 0x01, 0x01, 0x00, size, 0x05}); };
    const std::string ok = S({0x00, 0x90});
    struct Row {
        const char* what;
        BYTE sak;
        WORD atqa;
        std::string ats, ver, probe1, probe2;
        int sectors;
        bool classic, plus, activate;
        int type;
        uint32_t extra;
    };
    const Row rows[] = {
        {"Classic 2K", 0x19, 0x0002, "", "", "", "", 32, true, false, true, 11, 0},
        {"Mini", 0x09, 0x0004, "", "", "", "", 5, true, false, true, 21, 0},
        {"Smart MX 1K", 0x28, 0x0004, "", "", "", "", 16, true, false, true, 17, 0},
        {"Smart MX 4K", 0x38, 0x0002, "", "", "", "", 40, true, false, true, 18, 0},
        {"DESFire, no activation", 0x20, 0x0344, "", "", "", "", 0, false, false, false, 19, 0},
        {"Plus, no activation", 0x20, 0x0042, "", "", "", "", 0, false, false, false, 16, 1},
        {"Classic 1K", 0x08, 0x0004, "", "", "", "", 16, true, false, true, 10, 0},
        {"Classic 4K", 0x18, 0x0002, "", "", "", "", 40, true, false, true, 12, 0},
        {"4K SL1 by version", 0x18, 0x0002, plusAts, version(2, 24), "", "", 40, true, false, true, 16, 0x19},
        {"4K SL1 history X", 0x18, 0x0002, plusAtsX, "", "", "", 40, true, false, true, 16, 0x1B},
        {"4K SL1 history S", 0x18, 0x0002, plusAts, "", "", "", 40, true, false, true, 16, 0x1F},
        {"4K ISO, probe 1", 0x18, 0x0002, longAts, "", ok, "", 40, true, false, true, 13, 0x09},
        {"2K SL1 by version", 0x08, 0x0004, plusAts, version(130, 22), "", "", 32, true, false, true, 15, 0x19},
        {"Plus 1K SL1", 0x08, 0x0004, sl1Ats, "", "", ok, 16, true, false, true, 14, 0x39},
        {"2K history X", 0x08, 0x0004, plusAtsX, "", "", "", 32, true, false, true, 15, 0x1B},
        {"Plus SL2 2K", 0x10, 0x0004, "", "", "", "", 32, true, false, true, 15, 41},
        {"Plus SL2 4K", 0x11, 0x0002, "", "", "", "", 40, true, false, true, 16, 41},
        {"DESFire", 0x20, 0x0344, longAts, version(1, 24), "", "", 0, false, false, true, 19, 0},
        {"Plus SL3 by version", 0x20, 0x0002, plusAts, version(2, 24), "", "", 40, false, true, true, 16, 0x39},
        {"Plus SL3 history S", 0x20, 0x0002, plusAts, "", "", "", 40, false, true, true, 16, 0x3F},
        {"Plus SL3 history X", 0x20, 0x0004, plusAtsX, "", "", "", 32, false, true, true, 15, 0x3B},
        {"SL3 by address, 4K", 0x20, 0x0008, longAts, "", "", ok, 40, false, true, true, 16, 0x39},
        {"SL3 by address, 2K", 0x20, 0x0008, longAts, "", "", ok, 32, false, true, true, 15, 0x39},
        {"SL3 by address, 1K", 0x20, 0x0008, longAts, "", "", ok, 16, false, true, true, 14, 0x39},
        {"SL1 by block, 4K", 0x20, 0x0008, longAts, "", "", "", 40, true, false, true, 16, 0x19},
        {"SL1 by block, 1K", 0x20, 0x0008, longAts, "", "", "", 16, true, false, true, 14, 0x19},
        {"ISO card by SAK", 0x20, 0x0004, longAts, "", ok, "", 0, false, false, true, 15, 0x09},
        {"Ultralight", 0x00, 0x0044, "", "", "", "", 0, false, false, true, 9, 0},
        {"Ultralight by version", 0x00, 0x0044, "", version(3, 11), "", "", 0, false, false, true, 9, 0},
        {"Other type 2 card", 0x00, 0x0044, "", version(4, 15), "", "", 0, false, false, true, 0, 0},
        {"By block, 4K", 0x01, 0x0004, "", "", "", "", 40, true, false, true, 12, 0},
        {"By block, 1K", 0x01, 0x0004, "", "", "", "", 16, true, false, true, 10, 0},
        {"No Mifare", 0x02, 0x0004, "", "", "", "", 0, false, false, true, 0, 0},
    };
    for (const Row& r : rows) {
        CSimLine line;
        FrameSimCard card;
        card.sak = r.sak;
        card.atqa = r.atqa;
        card.uid = S({0x04, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x80});
        card.ats = r.ats;
        card.version = r.ver;
        card.probe1 = r.probe1;
        card.probe2 = r.probe2;
        card.sectors = r.sectors;
        card.classic = r.classic;
        card.plus = r.plus;
        line.sim.SetField({card});
        line.sim.SetAtsSupported(r.activate);
        CFrameCommands commands(line);
        FrameCardClass found;
        ASSERT_TRUE(commands.ClassifyCard(found, nullptr)) << r.what;
        EXPECT_EQ(r.type, found.keyType) << r.what;
        EXPECT_EQ(r.extra, found.extra) << r.what;
        EXPECT_EQ(B({0x04, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x80}),
                  std::vector<BYTE>(found.key.bytes, found.key.bytes + found.key.length)) << r.what;
        EXPECT_EQ(2, line.tries) << r.what;
    }
}

TEST(FrameCommands, TheConnectionsTriesComeBackWhenAPortErrorEndsTheExamination)
{
    // The port fails at the answer to select, in the middle of the examination.
    class CFailingLine : public CSimLine {
    public:
        bool Transact(BYTE command, const BYTE* payload, size_t length, BYTE& status, std::vector<BYTE>& data) override
        {
            if (command == 0x48)
                throw std::runtime_error("port gone");
            return CSimLine::Transact(command, payload, length, status, data);
        }
    };
    CFailingLine line;
    line.timeout = 1234;
    FrameSimCard card;
    card.sak = 0x18;
    line.sim.SetField({card});
    CFrameCommands commands(line);
    FrameCardClass found;
    EXPECT_THROW(commands.ClassifyCard(found, nullptr), std::runtime_error);
    EXPECT_EQ(2, line.tries);
    EXPECT_EQ(1234, line.timeout);
}
