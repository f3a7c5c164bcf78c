#include <gtest/gtest.h>
#include <string>
#include "config/TransferRecords.h"
#include "reader/ReaderModels.h"

TEST(ReaderModels, CodesMapToModels)
{
    const struct { uint32_t code; int model; } cases[] = {
        {0x301, 1}, {0x302, 6}, {0x303, 7}, {0x501, 2}, {0x802, 8}, {0xFFFF, 8}, {0x811, 3}, {0x821, 9},
        {0x903, 4}, {0xF11, 5}, {0x20498, 11},
        {0, 0}, {0x300, 0}, {0x812, 0}, {0x498, 0}, {0x1FFFF, 0}, {0xFFFFFFFF, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.model, ReaderModelFromCode(c.code)) << std::hex << c.code;
}

TEST(ReaderModels, NamesAndShortNames)
{
    EXPECT_STREQ(L"?", ReaderModelName(0));
    EXPECT_STREQ(L"Vell-4 USB", ReaderModelName(1));
    EXPECT_STREQ(L"KR-5040", ReaderModelName(9));
    EXPECT_STREQ(L"Vell-4 MF CCID", ReaderModelName(kReaderModelPcsc));
    EXPECT_STREQ(L"?", ReaderModelName(13));
    EXPECT_STREQ(L"?", ReaderModelName(-1));

    const wchar_t* const shortNames[] = {L"X",   L"EM",   L"HID",  L"IC",     L"COD433", L"COD433F",
                                         L"CAME", L"DS",  L"TEMIC", L"UL",    L"M1K",    L"M2K",
                                         L"M4K", L"M+",   L"M+1K", L"M+2K",   L"M+4K",   L"SMXM1K",
                                         L"SMXM4K", L"DF", L"PX",  L"MINI"};
    for (int t = 0; t < kKeyTypeCount; ++t)
        EXPECT_STREQ(shortNames[t], KeyTypeShortName(t)) << t;
    EXPECT_STREQ(L"X", KeyTypeShortName(22));
    EXPECT_STREQ(L"X", KeyTypeShortName(-3));
}

TEST(ReaderModels, KeyTypeMaskByModel)
{
    const struct { int model; PackedVersion fw; bool wiegand; uint32_t mask; } cases[] = {
        {1, 105, false, 0x1606}, {1, 104, true, 0x1606}, {1, 106, false, 0x1706}, {1, 200, false, 0x1706},
        {2, 300, false, 0x1606}, {3, 0, false, 0x3FFE00}, {4, 0x0A02, false, 0x3FFE00}, {5, 1, false, 0x3FFE00},
        {11, 1, true, 0x3FFE00}, {12, 0, false, 0x3FFE00}, {6, 1, false, 0x1B6}, {7, 1, true, 0x2},
        {7, 1, false, 0x80}, {8, 0x6309, false, 0x72}, {9, 1, false, 0x102}, {10, 1, false, 0x1706},
        {0, 106, false, 0}, {13, 0, false, 0}, {-1, 0, false, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.mask, ReaderKeyTypeMask(c.model, c.fw, c.wiegand)) << c.model << " fw " << c.fw;
}

namespace {
DWORD SpeedFor(int model, PackedVersion fw, int protocol, DWORD wanted, bool lowestOnly)
{
    int i = ChooseReaderSpeedIndex(ReaderAllowedSpeeds(model, fw, protocol), wanted, lowestOnly);
    return i < 0 ? 0 : ReaderSpeeds[i];
}
constexpr PackedVersion v(unsigned major, unsigned minor) { return major | minor << 8; }
} // namespace

TEST(ReaderModels, SpeedChoiceByModel)
{
    const struct { int model; PackedVersion fw; int protocol; DWORD wanted; bool lowestOnly; DWORD speed; } cases[] = {
        // Models that switch speed on command: 9600 to 115200.
        {3, v(1, 8), 1, 57600, false, 57600},  {3, v(1, 8), 2, 0, false, 115200},
        {3, v(1, 8), 2, 230400, false, 115200}, {3, v(1, 8), 2, 50000, false, 38400},
        {3, v(1, 8), 2, 1200, false, 9600},     {3, v(1, 8), 2, 0, true, 9600},
        {11, 1, 2, 19200, false, 19200},        {4, v(3, 0), 2, 0, false, 115200},
        {4, v(2, 10), 2, 0, false, 115200},     {4, v(2, 9), 2, 0, false, 9600},
        {3, v(1, 7), 2, 115200, false, 9600},   {3, v(1, 9), 2, 0, false, 9600},
        // 9600 only.
        {1, 106, 1, 0, false, 9600}, {1, 106, 1, 115200, false, 9600}, {5, 1, 2, 57600, false, 9600},
        {10, 1, 1, 0, false, 9600},
        // Protocol-dependent.
        {6, 1, 1, 0, false, 9600}, {6, 1, 4, 0, false, 38400}, {7, 1, 4, 9600, false, 38400},
        {9, 1, 3, 9600, false, 115200},
        // Not managed.
        {0, 0, 1, 9600, false, 0}, {2, 1, 1, 9600, false, 0}, {8, 1, 1, 0, false, 0}, {12, 0, 0, 0, false, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.speed, SpeedFor(c.model, c.fw, c.protocol, c.wanted, c.lowestOnly))
            << "model " << c.model << " fw " << std::hex << c.fw << std::dec << " wanted " << c.wanted;
    EXPECT_EQ(4, ReaderSpeedIndex(115200));
    EXPECT_EQ(-1, ReaderSpeedIndex(4800));
}

namespace {
const wchar_t kModel1Reply[] =
    L"Vell-4 USB S/N: 12345 [301]\r\nReader of contactless keys\r\nInterfaces: USB\r\nOutput: text\r\n"
    L"Software version: 106\r\n";
}

TEST(ReaderVersion, AcceptedReplies)
{
    const struct { const wchar_t* text; uint32_t code; int serial; PackedVersion version; } cases[] = {
        {kModel1Reply, 0x301, 12345, 106},
        {L"S/N: 7 [0x811] MF-I\r\na\r\nbb\r\ncc\r\nSoftware version: 1.8\r\n", 0x20498, 7, 0x0801},
        {L"S/N: 7 [811]\r\naa\r\nbb\r\ncc\r\nSoftware version: 1.8\r\n", 0x811, 7, 0x0801},
        {L"S/N: 99 [903]\r\naa\r\nbb\r\ncc\r\nSoftware version: 2.10.3.4, Build Jan 02 2015 01:02:03\r\n",
         0x903, 99, 0x04030A02},
        // The build date stands for the version of readers that print none.
        {L"S/N: 5 [802]\r\naa\r\nbb\r\ncc\r\nBuild Nov 16 2010 12:30:45\r\n", 0x802, 5, 0x6309},
        {L"S/N: 5 [FFFF]\r\naa\r\nbb\r\ncc\r\nBuild nov 16 2010 12:30:45\r\n", 0xFFFF, 5, 0x6309},
        {L"S/N: 5 [802]\r\naa\r\nbb\r\ncc\r\nBuild Nov 17 2010 12:30:45\r\n", 0x802, 5, 1},
        {L"S/N: 5 [802]\r\naa\r\nbb\r\ncc\r\nBuild Dec 16 2010 12:30:45\r\n", 0x802, 5, 1},
        {L"S/N: 5 [802]\r\naa\r\nbb\r\ncc\r\nBuild Nov 16 2011\r\n", 0x802, 5, 1},
        // Other models keep version 0 without a version line.
        {L"S/N: 5 [301]\r\naa\r\nbb\r\ncc\r\nBuild Nov 16 2010 12:30:45\r\n", 0x301, 5, 0},
        // Bounded reads: an overlong month name and absurd numbers do not break the scan.
        {L"S/N: 5 [802]\r\naa\r\nbb\r\ncc\r\nBuild Novemberrrrrrrrrrrr 99999999999999 2010\r\n", 0x802, 5, 1},
        {L"S/N: 5 [802]\r\naa\r\nbb\r\ncc\r\nBuild\r\n", 0x802, 5, 0},
        {L"S/N: 5 [12345678901]\r\naa\r\nbb\r\ncc\r\ndd\r\n", 0x12345678, 5, 0},
        {L"S/N: 5 [zz]\r\naa\r\nbb\r\ncc\r\ndd\r\n", 0, 5, 0},
    };
    for (const auto& c : cases) {
        uint32_t code = 1;
        int serial = 0;
        PackedVersion version = 77;
        bool incomplete = true;
        ASSERT_TRUE(ParseReaderVersion(c.text, code, serial, version, &incomplete)) << c.text;
        EXPECT_FALSE(incomplete);
        EXPECT_EQ(c.code, code) << c.text;
        EXPECT_EQ(c.serial, serial) << c.text;
        EXPECT_EQ(c.version, version) << c.text;
    }
}

TEST(ReaderVersion, RejectedReplies)
{
    const struct { const wchar_t* text; bool incomplete; } cases[] = {
        // Four lines of text are not a whole reply; lines of one character do not count.
        {L"S/N: 1 [301]\r\naa\r\nbb\r\nSoftware version: 106\r\n", true},
        {L"S/N: 1 [301]\r\naa\r\nx\n\r\nbb\r\nSoftware version: 106\r\n", true},
        {L"S/N: 1 [301]\r\naa\r\n\r\n\r\nSoftware version: 106\r\n", true},
        {L"S/N: 1 [301]\r\naa\r\nbb\r\ncc\r\nSoftware version: 106", true},
        {L"", true},
        // Complete but without the serial number or the bracketed code.
        {L"Vell-4 USB [301]\r\naa\r\nbb\r\ncc\r\nSoftware version: 106\r\n", false},
        {L"S/N: [301]\r\naa\r\nbb\r\ncc\r\nSoftware version: 106\r\n", false},
        {L"S/N: 1234567890123 [301]\r\naa\r\nbb\r\ncc\r\nSoftware version: 106\r\n", false},
        {L"S/N: 1 301]\r\naa\r\nbb\r\ncc\r\nSoftware version: 106\r\n", false},
        {L"S/N: 1 [301\r\naa\r\nbb\r\ncc\r\nSoftware version: 106\r\n", false},
        {L"[301] S/N: 1\r\naa\r\nbb\r\ncc\r\nSoftware version: 106\r\n", false},
    };
    for (const auto& c : cases) {
        uint32_t code = 0;
        int serial = 0;
        PackedVersion version = 0;
        bool incomplete = !c.incomplete;
        EXPECT_FALSE(ParseReaderVersion(c.text, code, serial, version, &incomplete)) << c.text;
        EXPECT_EQ(c.incomplete, incomplete) << c.text;
    }
}

TEST(ReaderModels, ProtocolByModelAndReaderFlags)
{
    const struct { int model; uint32_t flags; int protocol; } cases[] = {
        {1, READER_BINARY | READER_PROT_VELL4, RDPROT_TEXT}, {2, 0, RDPROT_TEXT}, {8, READER_BINARY, RDPROT_TEXT},
        {10, READER_PROT_VELL4, RDPROT_TEXT},
        // The Mifare readers speak binary frames with the flag "binary" only.
        {3, READER_BINARY, RDPROT_FRAME}, {4, READER_BINARY, RDPROT_FRAME}, {5, READER_BINARY, RDPROT_FRAME},
        {11, READER_BINARY, RDPROT_FRAME}, {3, READER_PROT_VELL4, RDPROT_TEXT}, {11, 0, RDPROT_TEXT},
        // "protVell4" switches the Vell-4 EHR and Base to single bytes.
        {6, READER_PROT_VELL4, RDPROT_BYTE}, {7, READER_PROT_VELL4 | READER_BINARY, RDPROT_BYTE},
        {6, READER_BINARY, RDPROT_TEXT}, {7, 0, RDPROT_TEXT},
        {9, 0, RDPROT_ESCAPED}, {9, READER_BINARY | READER_PROT_VELL4, RDPROT_ESCAPED},
        {12, READER_BINARY, RDPROT_NONE}, {0, READER_BINARY, RDPROT_NONE}, {13, 0, RDPROT_NONE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.protocol, ReaderProtocolFor(c.model, c.flags)) << "model " << c.model << " flags " << c.flags;
}

TEST(ReaderModels, CapabilitiesByModelAndFirmware)
{
    constexpr PackedVersion v18 = 1 | 8 << 8, v17 = 1 | 7 << 8, v210 = 2 | 10 << 8, v29 = 2 | 9 << 8;
    const struct { int model; PackedVersion fw; uint32_t flags; } cases[] = {
        {1, 105, 0}, {1, 106, MODEL_TEMIC | MODEL_HID_TEXT_ORDER}, {1, 107, MODEL_TEMIC}, {2, 106, 0},
        {3, v18, MODEL_BINARY_FRAMES | MODEL_SPEED_SWITCH}, {3, v17, MODEL_BINARY_FRAMES},
        {4, v210, MODEL_BINARY_FRAMES | MODEL_SPEED_SWITCH}, {4, v29, MODEL_BINARY_FRAMES},
        {5, v18, MODEL_BINARY_FRAMES},
        {11, 1, MODEL_BINARY_FRAMES | MODEL_SPEED_SWITCH | MODEL_MIFARE_TEXT_ORDER},
        // The 433 MHz nibble order: odd firmware of the EHR, firmware above 9 of the Oblon V.
        {6, 1, MODEL_TEMIC | MODEL_OTHER_QM100}, {6, 2, MODEL_TEMIC}, {8, 10, MODEL_OTHER_QM100}, {8, 9, 0},
        {7, 1, MODEL_PROGRAM_OUTPUT}, {9, 1, 0}, {10, 1, MODEL_TEMIC}, {12, 0, 0}, {0, 106, 0}, {-1, 106, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.flags, ReaderModelFlags(c.model, c.fw)) << "model " << c.model << " fw " << std::hex << c.fw;
}
