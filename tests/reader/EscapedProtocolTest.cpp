// The KR-5040 in escaped frames against the simulated reader: the bytes on the line, the keys
// that the poll rounds report, the indication of the field, and spoiled answers.
#include <winsock2.h>
#include <windows.h>
#include <algorithm>
#include <set>
#include <utility>
#include "core/ResultCodes.h"
#include "tests/reader/DialogueTestFixture.h"

namespace {

const char kPoll[] = "61 0B 64 03 2D C0";
const char kShowKeys[] = "02 0C 05 ED C0";
const char kShowKeys2[] = "02 02 00 FC C0";
const char kShowEmpty[] = "02 01 00 FD C0";
// Numbers with the bytes that go escaped on the line.
const char kEm[] = "11 C0 33 DB 55";
const char kEm2[] = "21 22 23 24 25";
const char kTemic[] = "C0 DB 03 04 05 06 07 08";

using Indication = std::pair<BYTE, BYTE>;
const std::vector<Indication> kKeysShown = {{12, 5}, {2, 0}};
const std::vector<Indication> kEmptyShown = {{1, 0}};

std::string Typed(int type, const char* spaced)
{
    std::string hex = spaced;
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    return std::to_string(type) + ":" + hex;
}

class EscapedReader : public DialogueReaderTest, public ::testing::WithParamInterface<Line> {};

} // namespace

TEST_P(EscapedReader, PollRoundsReportNewKeysAndShowTheField)
{
    escaped = std::make_unique<CEscapedSim>(*sim);
    escaped->SetEmMarine(BytesOfHex(kEm));
    ASSERT_NO_FATAL_FAILURE(UseLine(GetParam(), 0));
    if (IsSkipped())
        return;
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_TRUE(Logged(L"Reader connected (KR-5040 s/n 5040 FW v2.1)."));
    EXPECT_TRUE(Logged(L"Port reconfigured (115200,N,8,1)."));
    // The key lying there at connect is listed without a report, and shown.
    const std::vector<std::string> first = escaped->RawRequests();
    ASSERT_EQ(3u, first.size());
    EXPECT_EQ(kPoll, HexBytes(first[0]));
    EXPECT_EQ(kShowKeys, HexBytes(first[1]));
    EXPECT_EQ(kShowKeys2, HexBytes(first[2]));

    const struct {
        const char* em;
        const char* temic;
        BYTE status;
        std::vector<std::string> keys;     // reported by the round
        std::vector<Indication> shown;
    } steps[] = {
        {kEm, kTemic, 0xAA, {Typed(8, kTemic)}, kKeysShown},             // only the Temic card is news
        {"", "", 0xAA, {}, kEmptyShown},
        {kEm, kTemic, 0xAA, {Typed(1, kEm), Typed(8, kTemic)}, kKeysShown},   // both in one answer
        {"", kTemic, 0x01, {}, kEmptyShown},                              // another status, no bit 0x20
        {kEm2, kTemic, 0x01, {Typed(1, kEm2)}, kKeysShown},               // another status, bit 0x20
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.em) + " / " + step.temic);
        const size_t keys = TypedKeys().size();
        const size_t shown = escaped->Indications().size();
        ASSERT_NO_FATAL_FAILURE(WhilePollingHeld([&] {
            escaped->SetPollStatus(step.status);
            escaped->SetEmMarine(BytesOfHex(step.em));
            escaped->SetTemic(BytesOfHex(step.temic));
        }));
        ASSERT_TRUE(WaitFor([&] { return escaped->Indications().size() >= shown + step.shown.size(); }));
        const std::vector<Indication> all = escaped->Indications();
        EXPECT_EQ(step.shown, std::vector<Indication>(all.begin() + static_cast<ptrdiff_t>(shown), all.end()));
        const std::vector<std::string> typed = TypedKeys();
        EXPECT_EQ(step.keys, std::vector<std::string>(typed.begin() + static_cast<ptrdiff_t>(keys), typed.end()));
    }
    // Nothing but the poll and the three indications ever went out, byte for byte.
    const std::vector<std::string> raw = escaped->RawRequests();
    std::set<std::string> forms;
    for (const std::string& r : raw)
        forms.insert(HexBytes(r));
    EXPECT_EQ((std::set<std::string>{kPoll, kShowKeys, kShowKeys2, kShowEmpty}), forms);
    EXPECT_EQ(0, escaped->BadRequests());
    EXPECT_TRUE(Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Line, EscapedReader, ::testing::Values(Line::Com, Line::Tcp), LineName);

TEST_F(DialogueReaderTest, SpoiledEscapedAnswersAreDroppedAndTheGoodFrameTaken)
{
    const struct {
        EscapedFault fault;
        int polls;   // of the round that reports the key
    } cases[] = {
        {EscapedFault::GarbageBefore, 1}, {EscapedFault::GarbageInside, 1}, {EscapedFault::TrailingDb, 1},
        {EscapedFault::BadSum, 1},        {EscapedFault::OtherCode, 1},
        {EscapedFault::NoData, 2},        // a reply without data is a failed try
    };
    escaped = std::make_unique<CEscapedSim>(*sim);
    ASSERT_NO_FATAL_FAILURE(UseLine(Line::Tcp, 0));
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        char last[3];
        std::snprintf(last, sizeof last, "%02X", static_cast<unsigned>(&c - cases));
        const std::string number = std::string("31 32 33 34 ") + last;
        const size_t keys = Keys().size();
        int polls = 0;
        ASSERT_NO_FATAL_FAILURE(WhilePollingHeld([&] {
            escaped->SetEmMarine(BytesOfHex(number));
            escaped->Inject(c.fault);
            polls = escaped->Polls();
        }));
        ASSERT_TRUE(WaitFor([&] { return Keys().size() == keys + 1; }));
        EXPECT_EQ(c.polls, escaped->Polls() - polls);
        EXPECT_EQ(std::string("31323334") + last, Keys().back());
    }
    EXPECT_TRUE(Errors().empty());
}
