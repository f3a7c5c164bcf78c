// The byte-level pieces of the escaped frame and single-byte protocols, exact bytes in and out.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "reader/ByteUnits.h"
#include "reader/EscapedFrames.h"

namespace {

// "61 0B C0" -> bytes.
std::vector<BYTE> B(const std::string& hex)
{
    std::vector<BYTE> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 3)
        out.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string H(const BYTE* bytes, size_t count)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    return s;
}
std::string H(const std::vector<BYTE>& v) { return H(v.data(), v.size()); }
std::string H(const _KEY_NUMBER& k) { return H(k.bytes, k.length); }

} // namespace

TEST(EscapedFrames, RequestsGoOutEscapedWithTheSumTakenBefore)
{
    const struct {
        BYTE command;
        const char* payload;
        const char* frame;
    } cases[] = {
        {0x61, "0B 64 03", "61 0B 64 03 2D C0"},
        {0x02, "0C 05", "02 0C 05 ED C0"},
        {0x02, "02 00", "02 02 00 FC C0"},
        {0x02, "01 00", "02 01 00 FD C0"},
        {0x02, "C0", "02 DB 01 3E C0"},
        {0x02, "DB", "02 DB DD 23 C0"},
        {0x40, "", "40 DB 01 C0"},          // a checksum 0xC0 is escaped too
        {0xC0, "DB", "DB 01 DB DD 65 C0"},
    };
    for (const auto& c : cases) {
        const std::vector<BYTE> payload = B(c.payload);
        EXPECT_EQ(c.frame, H(BuildEscapedFrame(c.command, payload.data(), payload.size()))) << c.frame;
    }
}

TEST(EscapedFrames, RepliesAreCheckedAndUnescaped)
{
    const struct {
        const char* before;   // the bytes before the closing 0xC0
        bool valid;
        BYTE code;
        const char* data;
    } cases[] = {
        {"02 AA 54", true, 0x02, "AA"},
        {"61 AA DB 01 DB DD 12 48", true, 0x61, "AA C0 DB 12"},    // summed once unescaped
        {"61 AA DB 01 19", true, 0x61, "AA C0"},                   // summed as received
        {"02 AA 54 DB", true, 0x02, "AA"},                          // a trailing 0xDB gives nothing
        {"61 9F", true, 0x61, ""},                                  // a reply without data
        {"02 AA 55", false, 0, ""},                                 // bad sum
        {"00", false, 0, ""},                                       // too short
        {"", false, 0, ""},
        {"DB 25", false, 0, ""},                                    // sums to 0 but holds nothing
        {"5A A5 13", false, 0, ""},
    };
    for (const auto& c : cases) {
        const std::vector<BYTE> bytes = B(c.before);
        BYTE code = 0;
        std::vector<BYTE> data;
        EXPECT_EQ(c.valid, CheckEscapedReply(bytes.data(), bytes.size(), code, data)) << c.before;
        if (c.valid) {
            EXPECT_EQ(c.code, code) << c.before;
            EXPECT_EQ(c.data, H(data)) << c.before;
        }
    }
}

TEST(EscapedFrames, PollAnswersGiveTheNumbersInTheField)
{
    const struct {
        bool success;
        const char* data;
        const char* emMarine;
        const char* temic;
    } cases[] = {
        {true, "20 01 02 03 04 05 06 07 08 11 22 33 44 55", "11 22 33 44 55", "01 02 03 04 05 06 07 08"},
        {true, "20 00 00 00 00 00 00 00 00 11 22 33 44 55", "11 22 33 44 55", ""},
        {true, "00 01 02 03 04 05 06 07 08 00 00 00 00 00", "", "01 02 03 04 05 06 07 08"},
        {true, "00 01 02 03 04 05 06 07 08 11 22 33 44", "", "01 02 03 04 05 06 07 08"},   // 13 bytes
        {true, "00 01 02 03 04 05 06 07", "", ""},
        {false, "20 11 22 33 44 55", "11 22 33 44 55", ""},
        {false, "1F 11 22 33 44 55", "", ""},
        {false, "20 11 22 33 44", "", ""},
    };
    for (const auto& c : cases) {
        _KEY_NUMBER em, temic;
        ParseEscapedPoll(c.success, B(c.data), em, temic);
        EXPECT_EQ(c.emMarine, H(em)) << c.data;
        EXPECT_EQ(c.temic, H(temic)) << c.data;
    }
}

TEST(ByteUnits, CommandUnitsCarryTheirCheckByte)
{
    const struct {
        BYTE command;
        const char* unit;
    } cases[] = {{0x11, "11 95"}, {0x12, "12 94"}, {0x1A, "1A 8C"}, {0x13, "13 93"}, {0x00, "00"}};
    std::vector<BYTE> unit{0x77};
    for (const auto& c : cases) {
        BuildByteCommand(unit, c.command);
        EXPECT_EQ(c.unit, H(unit));
    }
    const int badModes[] = {-1, 3, 255};
    BYTE command = 0;
    for (int mode : badModes)
        EXPECT_FALSE(ByteArmingCommand(mode, command)) << mode;
}

TEST(ByteUnits, UnitsAreTakenOnlyWhenComplete)
{
    const struct {
        int mode;
        const char* received;
        std::vector<std::string> units;
        const char* left;
    } cases[] = {
        {1, "AA 55 AB F0 F1", {"AA", "55", "AB", "F0", "F1"}, ""},
        {1, "01 77 AA 13", {"AA"}, ""},                                    // other bytes dropped
        {1, "CC 20 75 66 55 44 33 22 11", {}, "CC 20 75 66 55 44 33 22 11"},
        {1, "CC 21 75 66 55 44 33 22 11 01 AA", {"CC 21 75 66 55 44 33 22 11 01", "AA"}, ""},
        {0, "CC", {}, "CC"},
        {0, "CC 55 AA", {"CC 55", "AA"}, ""},
        {0, "CC 40 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AA",
         {"CC 40 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AA"},
         ""},
        {2, "CC 2A 01 02 03", {}, "CC 2A 01 02 03"},
        {2, "CC 20 01 02 03 04 AA", {"CC 20 01 02 03 04", "AA"}, ""},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> received = B(c.received), unit;
        std::vector<std::string> units;
        while (TakeByteUnit(received, c.mode, unit))
            units.push_back(H(unit));
        EXPECT_EQ(c.units, units) << c.received;
        EXPECT_EQ(c.left, H(received)) << c.received;
    }
}

TEST(ByteUnits, KeyFramesGiveTheirKeys)
{
    const struct {
        int mode;
        bool qm100;
        const char* frame;
        int keyType;    // -1: no key
        const char* key;
    } cases[] = {
        {1, false, "CC 20 75 66 55 44 33 22 11 01", 1, "11 22 33 44 55"},
        {0, false, "CC 20 75 66 55 44 33 22 11 01", 7, "11 22 33 44 55 66"},
        {0, false, "CC 21 75 66 55 44 33 22 11 01", 7, "11 22 33 44 55 66"},
        {1, false, "CC 20 76 66 55 44 33 22 11 01", -1, ""},      // wrong check byte
        {0, false, "CC 55", -1, ""},
        {2, false, "CC 2A 01 02 AB CD", 5, "01 02 AB CD"},
        {2, false, "CC 2B 01 02 AB CD", 6, "01 02 AB CD"},
        {2, false, "CC 20 01 02 AB CD", 0, "01 02 AB CD"},
        {2, true, "CC 2A 01 02 AB CD", 5, "01 02 DB CA"},
    };
    for (const auto& c : cases) {
        int type = -1;
        _KEY_NUMBER key;
        const bool found = DecodeByteKeyFrame(B(c.frame), c.mode, c.qm100, type, key);
        EXPECT_EQ(c.keyType >= 0, found) << c.frame;
        if (found) {
            EXPECT_EQ(c.keyType, type) << c.frame;
            EXPECT_EQ(c.key, H(key)) << c.frame;
        }
    }
    std::vector<BYTE> longFrame(35, 0);
    longFrame[0] = 0xCC;
    longFrame[1] = 0x40;
    int type = -1;
    _KEY_NUMBER key;
    EXPECT_FALSE(DecodeByteKeyFrame(longFrame, 1, false, type, key));
}
