#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "reader/KeyLine.h"

namespace {


std::string KeyHex(const _KEY_NUMBER& k)
{
    std::string s;
    char buf[4];
    for (int i = 0; i < k.length; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", k.bytes[i]);
        s += buf;
    }
    return s;
}

} // namespace

TEST(KeyLine, ParsesEveryCardName)
{
    const struct {
        const wchar_t* line;
        int model;
        PackedVersion fw;
        bool qm100;
        int type;         // 0: rejected
        const char* key;  // key bytes from byte 0
    } cases[] = {
        // Em-Marine: card number b, facility a, then the two lowest bracketed bytes.
        {L"Em-Marine[55] 085,123", 1, 106, false, 1, "7B00555500"},
        {L"Em-Marine[1234] 085,123", 1, 106, false, 1, "7B00553412"},
        {L"Em-Marine[AABBCC] 1,2", 1, 106, false, 1, "020001CCBB"},
        {L"EM-MARINE[55] 085", 1, 106, false, 1, "0000555500"},
        {L"Em-Marine[155] 1.2", 1, 106, false, 1, "0200015500"},    // a lone first digit is dropped
        {L"Em-Marine[5G] 1,2", 1, 106, false, 1, "0200015000"},     // a stray character counts as 0
        {L"Em-Marine[55]", 1, 106, false, 0, ""},
        {L"Em-Marine[55] (0004,08)", 1, 106, false, 0, ""},
        // HID: number a in bytes 0-1, bracketed bytes after it, lowest first.
        {L"HID[0A0B0C] 12345,0", 1, 105, false, 2, "39300C0B0A00"},
        {L"HID[0102030405] 1,0", 2, 1, false, 2, "010005040302"},
        {L"HID[0A0B0C] 12345,0", 1, 106, false, 2, "0A0B0C000000"},    // this firmware prints the raw code
        {L"HID[0A0B0C]", 1, 105, false, 0, ""},
        // Mifare: word, then (ATQA,SAK); long UIDs printed with their first four bytes last.
        {L"Mifare[04A1B2C3] 1k", 3, 1, false, 10, "04A1B2C3"},
        {L"Mifare[04A1B2C3D4E5F6] ul", 3, 1, false, 9, "D4E5F604A1B2C3"},
        {L"Mifare[04A1B2C3D4E5F6] UL", 11, 1, false, 9, "04A1B2C3D4E5F6"},
        {L"Mifare[04A1B2C3] (0004,08)", 1, 1, false, 10, "04A1B2C3"},
        {L"Mifare[04A1B2C3] (0044,20)", 1, 1, false, 15, "04A1B2C3"},
        {L"Mifare[04A1B2C3] (0344,20)", 1, 1, false, 19, "04A1B2C3"},
        {L"Mifare[04A1B2C3] 4K (0004,08)", 1, 1, false, 12, "04A1B2C3"},
        {L"Mifare[04A1B2C3] (0004,08) 4k", 1, 1, false, 12, "04A1B2C3"},
        {L"Mifare[04A1B2C3] xx (0004,18)", 1, 1, false, 12, "04A1B2C3"},
        {L"Mifare[0102] df", 1, 1, false, 19, "0102"},
        {L"mifare[04A1B2C3] px", 1, 1, false, 20, "04A1B2C3"},
        {L"Mifare[04A1B2C3]", 1, 1, false, 0, ""},
        {L"Mifare[04A1B2C3] (0004,02)", 1, 1, false, 0, ""},
        // iCode: bytes from the fourth-lowest on follow number and facility.
        {L"iCode[0102030405060708] 12,345", 1, 1, false, 3, "59010C0504030201"},
        {L"iCode[010203] 1,2", 1, 1, false, 3, "020001"},
        {L"icode[0102030405]", 1, 1, false, 0, ""},
        // 433 MHz codes and the nibble order of the QM-100.
        {L"Cod433[12345678] 18,4660", 1, 1, false, 4, "34121275"},
        {L"Cod433[12345678] 18,4660", 1, 1, true, 4, "34125271"},
        {L"Cod433[12345678] 18,4660", 6, 1, false, 4, "34125271"},
        {L"Cod433[12345678] 18,4660", 6, 1, true, 4, "34121275"},
        {L"Cod433[12345678] 18,4660", 6, 2, false, 4, "34121275"},
        {L"Cod433[12345678] 18,4660", 8, 10, false, 4, "34125271"},
        {L"Cod433[12345678] 18,4660", 8, 9, false, 4, "34121275"},
        {L"Cod433 Fix[AB] 1,2", 1, 1, false, 5, "020001AB"},
        {L"COD433[AB]", 1, 1, false, 4, "000000AB"},
        // CAME.
        {L"CAME433[00] 5,6", 1, 1, false, 6, "060005"},
        {L"came433[00]", 1, 1, false, 0, ""},
        // Dallas: a 1-Wire ROM code with a good CRC loses family code and CRC.
        {L"DALLAS[A200000001B81C02] 000,00000", 7, 1, false, 7, "1CB801000000"},
        {L"DALLAS[A300000001B81C02] 000,00000", 7, 1, false, 7, "021CB801000000A3"},
        {L"Dallas[00000001B81C02]", 7, 1, false, 7, "021CB801000000"},
        {L"Dallas[0102030405060708090A0B0C0D0E0F1011121314]", 7, 1, false, 7,
         "14131211100F0E0D0C0B0A0908070605040302"},
        // An empty bracket where the bracket is the key: no key, an unrecognised line.
        {L"Mifare[] 1k", 3, 1, false, 0, ""},
        {L"Dallas[]", 7, 1, false, 0, ""},
        {L"Cod433[]", 1, 1, false, 0, ""},
        {L"Cod433 Fix[] 1,2", 1, 1, false, 0, ""},
        {L"Mifare[4] (0004,08)", 1, 1, false, 0, ""},   // a lone digit makes no byte
        // Not key lines.
        {L"Unknown[1234] 1,2", 1, 1, false, 0, ""},
        {L"Em-Marine 085,123", 1, 1, false, 0, ""},
        {L"Em-Marine[55 085,123", 1, 1, false, 0, ""},
        {L"Em-Marine-Extended-Name[55] 085,123", 1, 1, false, 0, ""},
        {L" Em-Marine[55] 085,123", 1, 1, false, 0, ""},
        {L"", 1, 1, false, 0, ""},
    };
    for (const auto& c : cases) {
        int type = -1;
        _KEY_NUMBER key;
        key.length = 3;
        key.bytes[5] = 0xEE;
        uint32_t extra = 99;
        const bool ok = ParseKeyLine(c.line, type, key, extra, c.model, c.fw, c.qm100);
        EXPECT_EQ(c.type != 0, ok) << c.line;
        EXPECT_EQ(c.type, type) << c.line;
        EXPECT_EQ(c.key, KeyHex(key)) << c.line;
        EXPECT_EQ(0u, extra) << c.line;
        for (int i = key.length; i < 19; ++i)
            EXPECT_EQ(0, key.bytes[i]) << c.line << " byte " << i;
    }
}

TEST(KeyLine, CardTypeBySakAndAtqa)
{
    const struct { BYTE sak; WORD atqa; int type; uint32_t extra; } cases[] = {
        {0x02, 0x0004, 0, 0},  {0x0A, 0x0004, 0, 0},   {0x19, 0x0002, 11, 0}, {0x39, 0x0002, 11, 0},
        {0x18, 0x0002, 12, 0}, {0x38, 0x0002, 18, 1},  {0x09, 0x0004, 21, 0}, {0x29, 0x0004, 21, 0},
        {0x08, 0x0004, 10, 0}, {0x88, 0x0004, 10, 0},  {0x28, 0x0004, 17, 1}, {0x10, 0x0004, 15, 41},
        {0x11, 0x0004, 16, 41}, {0x30, 0x0004, 15, 41}, {0x00, 0x0044, 9, 0}, {0x01, 0x0044, 9, 0},
        {0x04, 0x0344, 9, 0},  {0x20, 0x0002, 16, 1},  {0x20, 0x0042, 16, 1}, {0x21, 0x0042, 16, 1},
        {0x20, 0x0004, 15, 1}, {0x20, 0x0044, 15, 1},  {0x20, 0x0344, 19, 0}, {0x24, 0x0344, 19, 0},
        {0x20, 0x0008, 13, 1}, {0x20, 0x0000, 13, 1},
    };
    for (const auto& c : cases) {
        uint32_t extra = 1234;
        EXPECT_EQ(c.type, CardTypeFromSak(c.sak, c.atqa, &extra)) << std::hex << int(c.sak) << " " << c.atqa;
        EXPECT_EQ(c.extra, extra) << std::hex << int(c.sak) << " " << c.atqa;
        EXPECT_EQ(c.type, CardTypeFromSak(c.sak, c.atqa, nullptr));
    }
}
