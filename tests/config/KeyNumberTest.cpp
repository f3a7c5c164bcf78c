#include "config/KeyNumber.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

_KEY_NUMBER Key(std::initializer_list<int> bytes)
{
    std::vector<uint8_t> b;
    for (int v : bytes)
        b.push_back(static_cast<uint8_t>(v));
    return MakeKeyNumber(b.data(), b.size());
}

std::wstring Text(const _KEY_NUMBER& key, int view)
{
    std::wstring out = L"stale";
    KeyToText(out, key, view);
    return out;
}

std::string Bytes(const _KEY_NUMBER& k)
{
    char buf[8];
    std::string s = std::to_string(k.length) + ":";
    for (int i = 0; i < KEY_NUMBER_MAX_BYTES; ++i) {
        snprintf(buf, sizeof buf, "%02X", k.bytes[i]);
        s += buf;
    }
    return s;
}

struct ViewCase {
    _KEY_NUMBER key;
    int view;
    const wchar_t* text;
};

TEST(KeyNumberText, EveryFormOfSampleKeys)
{
    const _KEY_NUMBER k3 = Key({0x2A, 0x00, 0x05});
    const _KEY_NUMBER k5 = Key({0x2A, 0x00, 0x05, 0x01, 0x02});
    const _KEY_NUMBER k10 = Key({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xBB});
    const _KEY_NUMBER k32 = Key({0x00, 0x00, 0x00, 0x00, 0x01});   // just above 32 bits
    const _KEY_NUMBER k2 = Key({0x39, 0x30});
    const _KEY_NUMBER empty;
    const ViewCase cases[] = {
        {k3, 1, L"005,00042"},
        {k3, 2, L"005,00042"},
        {k3, 3, L"[05] 00042"},
        {k3, 4, L"05002A"},
        {k3, 5, L"327722"},
        {k3, 0, L"05002A"},          // unresolved "Auto" and unknown ids: hexadecimal
        {k3, 9, L"05002A"},
        {k3, -1, L"05002A"},
        {k5, 1, L"005,00042"},
        {k5, 2, L"[0201] 005,00042"},
        {k5, 3, L"[020105] 00042"},
        {k5, 4, L"020105002A"},
        {k5, 5, L"8607039530"},
        {k10, 5, L"[BBAA] 18446744073709551615"},
        {k10, 4, L"BBAAFFFFFFFFFFFFFFFF"},
        {k10, 3, L"[BBAAFFFFFFFFFFFF] 65535"},
        {k10, 2, L"[BBAAFFFFFFFFFF] 255,65535"},
        {k32, 5, L"4294967296"},
        {k2, 1, L"000,12345"},       // missing bytes read as zero
        {k2, 2, L"000,12345"},
        {k2, 3, L"12345"},
        {k2, 5, L"12345"},
        {empty, 1, L""},
        {empty, 2, L""},
        {empty, 3, L"00000"},        // the one form without an empty case
        {empty, 4, L""},
        {empty, 5, L""},
    };
    for (const ViewCase& c : cases)
        EXPECT_EQ(Text(c.key, c.view), c.text) << "view " << c.view << " key " << Bytes(c.key);
}

TEST(KeyNumberText, LongestFormFitsAndIgnoresBytesBeyondLength)
{
    _KEY_NUMBER full;
    full.length = 19;
    for (int i = 0; i < 19; ++i)
        full.bytes[i] = 0xFF;
    const std::wstring longest = Text(full, 5);
    EXPECT_EQ(longest, L"[FFFFFFFFFFFFFFFFFFFFFF] 18446744073709551615");
    EXPECT_EQ(longest.size(), 45u);

    _KEY_NUMBER dirty = Key({0x2A});
    dirty.bytes[1] = 0x77;           // garbage past the length must not show
    dirty.bytes[2] = 0x66;
    EXPECT_EQ(Text(dirty, 1), L"000,00042");
    EXPECT_EQ(Text(dirty, 4), L"2A");
    _KEY_NUMBER overlong = full;
    overlong.length = 200;           // a corrupt length stays inside the record
    EXPECT_EQ(Text(overlong, 4), std::wstring(38, L'F'));
}

TEST(KeyNumberText, FacilityTextWithExplicitHexCounts)
{
    const _KEY_NUMBER k5 = Key({0x2A, 0x00, 0x05, 0x01, 0x02});
    const struct { int count; const wchar_t* text; } cases[] = {
        {0, L"005,00042"}, {-1, L"[0201] 005,00042"}, {1, L"[01] 005,00042"},
        {2, L"[0201] 005,00042"}, {4, L"[00000201] 005,00042"},
    };
    for (const auto& c : cases) {
        std::wstring out;
        KeyToFacilityText(out, k5, c.count);
        EXPECT_EQ(out, c.text) << c.count;
    }
    std::wstring out;
    KeyToFacilityText(out, k5, 99);  // clamped to the 16 bytes a record holds past byte 2
    EXPECT_EQ(out, L"[" + std::wstring(28, L'0') + L"0201] 005,00042");
    KeyToFacilityText(out, _KEY_NUMBER{}, 2);
    EXPECT_EQ(out, L"");
}

TEST(KeyNumberText, HexStringAndResolvedAuto)
{
    std::wstring a, b;
    KeyToHex(a, Key({0x0A, 0xBC, 0x01}));
    KeyToHexString(Key({0x0A, 0xBC, 0x01}), b);
    EXPECT_EQ(a, L"01BC0A");
    EXPECT_EQ(b, a);
    EXPECT_EQ(ResolveKeyViewFormat(0, 1), 1);
    EXPECT_EQ(ResolveKeyViewFormat(0, 2), 3);
    EXPECT_EQ(ResolveKeyViewFormat(0, 7), 4);
    EXPECT_EQ(ResolveKeyViewFormat(0, 0), 4);
    EXPECT_EQ(ResolveKeyViewFormat(5, 1), 5);
}

TEST(KeyNumberRecord, CompareEqualAndNumber)
{
    const struct { _KEY_NUMBER a, b; int cmp; } cases[] = {
        {{}, {}, 0},
        {Key({1}), Key({1}), 0},
        {Key({1}), Key({1, 0}), -1},        // shorter first on an equal prefix
        {Key({1, 0}), Key({1}), 1},
        {Key({2}), Key({1, 0xFF}), 1},      // first byte decides
        {Key({0xFF}), Key({0x01}), 1},      // unsigned
        {Key({0x01, 0x80}), Key({0x01, 0x7F}), 1},
        {{}, Key({0}), -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareKeys(c.a, c.b), c.cmp) << Bytes(c.a) << " vs " << Bytes(c.b);
        EXPECT_EQ(KeysEqual(c.a, c.b), c.cmp == 0);
    }
    _KEY_NUMBER junk = Key({1, 2});
    junk.bytes[5] = 9;                      // bytes past the length do not count
    EXPECT_TRUE(KeysEqual(junk, Key({1, 2})));

    EXPECT_EQ(KeyToUInt64({}), 0u);
    EXPECT_EQ(KeyToUInt64(Key({0x2A, 0x00, 0x05})), 327722u);
    EXPECT_EQ(KeyToUInt64(Key({1, 2, 3, 4, 5, 6, 7, 8, 9, 10})), 0x0807060504030201ull);
}

TEST(KeyNumberParse, Classification)
{
    const struct { const wchar_t* text; int kind; } cases[] = {
        {L"", 4}, {L"   ", 4}, {L"05002A", 4}, {L"05 00 2a", 4}, {L"12345", 4},
        {L"005,00042", 1}, {L"5.42", 1}, {L"5,", 1}, {L"005,00042  ", 1},
        {L"[0201] 005,00042", 1}, {L"[01 02] 5,6", 1}, {L"  005,00042", 1},
        {L"[05] 00042", 3}, {L"  [05] 42 ", 3}, {L"[BBAA] 18446744073709551615", 3},
        {L"[05]00042", 3},
        {L"5,4,3", 0}, {L"005, 00042", 0}, {L"[0G] 1", 0}, {L"[05] 00042 x", 0},
        {L"x", 0}, {L"abc,1", 0}, {L"12 34,5", 0}, {L"-5", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassifyKeyText(c.text), c.kind) << "'" << testing::PrintToString(std::wstring(c.text)) << "'";
}

struct ParseCase {
    int parser;            // 1 facility, 3 short, 5 long
    const wchar_t* text;
    bool ok;
    _KEY_NUMBER key;
};

bool RunParser(int parser, const wchar_t* text, _KEY_NUMBER& key)
{
    switch (parser) {
    case 1: return ParseFacilityKeyText(text, key);
    case 3: return ParseShortKeyText(text, key);
    default: return ParseLongKeyText(text, key);
    }
}

TEST(KeyNumberParse, ParsersStoreWholeRecordOrFail)
{
    const _KEY_NUMBER sentinel = Key({0xEE, 0xEE});
    const ParseCase cases[] = {
        {1, L"005,00042", true, Key({0x2A, 0x00, 0x05})},
        {1, L"5.42", true, Key({0x2A, 0x00, 0x05})},
        {1, L"[0201] 005,00042", true, Key({0x2A, 0x00, 0x05, 0x01, 0x02})},
        {1, L"70000,70000", true, Key({0x70, 0x11, 0x70})},   // low 16 and low 8 bits
        {1, L"x5,7", true, Key({7, 0, 5})},                   // facility from the digit run
        {1, L"a,7", true, Key({7, 0, 0})},
        {1, L"5,", true, Key({0, 0, 5})},
        {1, L"[] 5,6", true, Key({6, 0, 5})},
        {1, L",5", false, {}},
        {1, L"abc", false, {}},
        {1, L"", false, {}},
        {3, L"[05] 00042", true, Key({0x2A, 0x00, 0x05})},
        {3, L"42", true, Key({0x2A, 0x00, 0x00})},
        {3, L"  70000", true, Key({0x70, 0x11, 0x00})},
        {3, L"[020105] 00042", true, Key({0x2A, 0x00, 0x05, 0x01, 0x02})},
        {3, L"[05]00042", false, {}},    // "]" not followed by a blank
        {3, L"[05]", false, {}},
        {3, L"[05] ", false, {}},
        {3, L"abc", false, {}},
        {3, L"", false, {}},
        {5, L"327722", true, Key({0x2A, 0x00, 0x05, 0, 0, 0, 0, 0})},
        {5, L"18446744073709551615", true, Key({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        {5, L"[BBAA] 18446744073709551615", true,
            Key({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xBB})},
        {5, L"18446744073709551616", false, {}},   // does not fit 64 bits
        {5, L"-1", false, {}},
        {5, L"[BBAA]5", false, {}},
        {5, L"", false, {}},
    };
    for (const ParseCase& c : cases) {
        _KEY_NUMBER key = sentinel;
        EXPECT_EQ(RunParser(c.parser, c.text, key), c.ok) << testing::PrintToString(std::wstring(c.text));
        const _KEY_NUMBER& want = c.ok ? c.key : sentinel;
        EXPECT_EQ(Bytes(key), Bytes(want)) << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(KeyNumberParse, BracketBytesAreBoundedPerForm)
{
    const std::wstring hex38(38, L'1');
    _KEY_NUMBER key;
    ASSERT_TRUE(ParseFacilityKeyText(L"[" + hex38 + L"] 1,2", key));
    EXPECT_EQ(key.length, 19);
    ASSERT_TRUE(ParseShortKeyText(L"[" + hex38 + L"] 1", key));
    EXPECT_EQ(key.length, 19);
    ASSERT_TRUE(ParseLongKeyText(L"[" + hex38 + L"] 1", key));
    EXPECT_EQ(key.length, 19);
    EXPECT_EQ(key.bytes[8], 0x11);
}

// Text as typed -> key -> text in that form -> key again.
TEST(KeyNumberParse, RoundTripsThroughEveryForm)
{
    const struct { const wchar_t* text; int parser; int view; const wchar_t* shown; } cases[] = {
        {L"005,00042", 1, 1, L"005,00042"},
        {L"5,42", 1, 1, L"005,00042"},
        {L"[0201] 005,00042", 1, 2, L"[0201] 005,00042"},
        {L"255,65535", 1, 2, L"255,65535"},
        {L"[05] 00042", 3, 3, L"[05] 00042"},
        {L"42", 3, 3, L"[00] 00042"},
        {L"[FFEE0102] 65535", 3, 3, L"[FFEE0102] 65535"},
        {L"05002A", 4, 4, L"05002A"},
        {L"5002A", 4, 4, L"05002A"},
        {L"327722", 5, 5, L"327722"},
        {L"[BBAA] 18446744073709551615", 5, 5, L"[BBAA] 18446744073709551615"},
        {L"[0C] 4294967296", 5, 5, L"[0C] 4294967296"},
    };
    for (const auto& c : cases) {
        _KEY_NUMBER first;
        ASSERT_TRUE(ParseKeyText(c.text, c.parser, first)) << testing::PrintToString(std::wstring(c.text));
        const std::wstring shown = Text(first, c.view);
        EXPECT_EQ(shown, c.shown);
        _KEY_NUMBER second;
        ASSERT_TRUE(ParseKeyText(shown, c.parser, second));
        EXPECT_EQ(Bytes(second), Bytes(first)) << testing::PrintToString(shown);
        if (c.parser != 5) {   // the long form classifies as the short one
            _KEY_NUMBER typed;
            EXPECT_TRUE(ParseKeyText(shown, ClassifyKeyText(shown), typed));
            EXPECT_EQ(Bytes(typed), Bytes(first)) << testing::PrintToString(shown);
        }
    }
}

TEST(KeyNumberParse, DispatchByClassification)
{
    const struct { const wchar_t* text; _KEY_NUMBER key; } cases[] = {
        {L"12345", Key({0x45, 0x23, 0x01})},        // a plain decimal number reads as hex
        {L"005,00042", Key({0x2A, 0x00, 0x05})},
        {L"[05] 00042", Key({0x2A, 0x00, 0x05})},
        {L"05002A", Key({0x2A, 0x00, 0x05})},
        {L"5,4,3", {}},                             // no form: empty
        {L"[05]00042", {}},                         // failed parse: empty
        {L"", {}},
    };
    for (const auto& c : cases) {
        _KEY_NUMBER key = Key({9, 9, 9});
        EXPECT_EQ(ParseKeyText(c.text, ClassifyKeyText(c.text), key), c.key.length != 0);
        EXPECT_EQ(Bytes(key), Bytes(c.key)) << testing::PrintToString(std::wstring(c.text));
    }
}

struct ListKey {
    int keyType;
    _KEY_NUMBER keyNumber;
};

TEST(KeyNumberList, FindKeyByTypeAndNumber)
{
    std::vector<std::shared_ptr<ListKey>> list = {
        std::make_shared<ListKey>(ListKey{1, Key({1, 2, 3})}),
        std::make_shared<ListKey>(ListKey{2, Key({1, 2, 3})}),
        nullptr,
        std::make_shared<ListKey>(ListKey{1, Key({1, 2, 3})}),
    };
    EXPECT_EQ(FindKeyInList(list, 1, Key({1, 2, 3})) - list.cbegin(), 0);
    EXPECT_EQ(FindKeyInList(list, 2, Key({1, 2, 3})) - list.cbegin(), 1);
    EXPECT_EQ(FindKeyInList(list, 1, Key({1, 2, 3}), list.cbegin() + 1) - list.cbegin(), 3);
    EXPECT_EQ(FindKeyInList(list, 1, Key({1, 2})), list.cend());
    EXPECT_EQ(FindKeyInList(list, 3, Key({1, 2, 3})), list.cend());

    const std::vector<ListKey> values = {{0, Key({5})}, {0, Key({6})}};
    EXPECT_EQ(FindKeyInList(values, 0, Key({6})) - values.cbegin(), 1);
}

TEST(KeyNumberUtil, PortNameClasses)
{
    const struct { const wchar_t* name; int kind; } cases[] = {
        {L"", 0}, {L"COM1", 1}, {L"com2", 1}, {L"COM3", 2}, {L"COM10", 2}, {L"Com256", 2},
        {L"COM2abc", 1}, {L"COMX", 4}, {L"COM", 4}, {L"COM0", 4}, {L"COM-1", 4},
        {L"192.168.0.10:25000", 3}, {L"10.0.0.1", 3}, {L"LPT1", 4}, {L"CO", 4},
        {L"\\\\.\\COM5", 4}, {L"reader.local:4001", 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassifyPortName(c.name), c.kind) << testing::PrintToString(std::wstring(c.name));
    EXPECT_EQ(ClassifyPortName(nullptr), 0);
}

TEST(KeyNumberUtil, SplitAddressAndPort)
{
    const struct { const wchar_t* text; const wchar_t* address; int port; } cases[] = {
        {L"host", L"host", 25000}, {L"", L"", 25000}, {L"10.0.0.1:1000", L"10.0.0.1", 1000},
        {L"host:", L"host", 0}, {L"a:b:7", L"a:b", 7}, {L"h:x", L"h", 0}, {L":80", L"", 80},
    };
    for (const auto& c : cases) {
        std::wstring address = L"old";
        int port = -5;
        EXPECT_TRUE(SplitAddressPort(c.text, address, port));
        EXPECT_EQ(address, c.address);
        EXPECT_EQ(port, c.port) << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(KeyNumberUtil, TemicParameterGroups)
{
    const struct { const wchar_t* text; bool ok; std::vector<uint32_t> values; } cases[] = {
        {L"255,0,1000", true, {0x03E800FFu}},
        {L"", true, {}},
        {L"2,0,0;1,1,0;2,1,0;1,0,0;255,0,1000;", true, {0x2, 0x101, 0x102, 0x1, 0x03E800FF}},
        {L"1,2;;3,4", true, {0x201, 0x403}},
        {L" 1,2; 3,4 ; ", true, {0x201, 0x403}},
        {L"1,2;5;3,4", false, {0x201}},
        {L"x", false, {}},
        {L";;", true, {}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> values = {77};
        EXPECT_EQ(ParseTemicParams(c.text, values), c.ok) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(values, c.values) << testing::PrintToString(std::wstring(c.text));
        EXPECT_TRUE(IntVectorsEqual(values, c.values));
    }
    EXPECT_FALSE(IntVectorsEqual(std::vector<uint32_t>{1, 2}, std::vector<uint32_t>{2, 1}));
    EXPECT_FALSE(IntVectorsEqual(std::vector<uint32_t>{1}, std::vector<uint32_t>{1, 1}));
}

TEST(KeyNumberUtil, LanguageIndexes)
{
    const struct { unsigned id; int index; } cases[] = {
        {1049, 0}, {1033, 1}, {1028, 2}, {2052, 2}, {1040, 3}, {1045, 4}, {1026, 5},
        {1029, 6}, {1036, 7}, {1031, 8}, {1034, 9}, {3082, 9}, {2057, -1}, {0, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LangIdToLanguageIndex(c.id), c.index) << c.id;
}

TEST(KeyNumberUtil, KeyTemplateMacros)
{
    const struct { const wchar_t* templ; const wchar_t* out; } cases[] = {
        {L"/k %KeyNum% 100%% %other% %keynum", L"/k 005,00042 100%  "},
        {L"%KEYNUM%%kEyNuM%", L"005,00042005,00042"},
        {L"%%%%", L"%%"},
        {L"plain", L"plain"},
        {L"", L""},
        {L"%", L""},
        {L"a%keynum", L"a"},
        {L"%keynum %", L""},
    };
    for (const auto& c : cases) {
        std::wstring out = L"stale";
        ExpandKeyTemplate(c.templ, L"005,00042", out);
        EXPECT_EQ(out, c.out) << testing::PrintToString(std::wstring(c.templ));
    }
}

struct Tool {
    std::wstring name;
};

TEST(KeyNumberUtil, UniqueToolNames)
{
    const struct { std::vector<std::wstring> names; const wchar_t* result; } cases[] = {
        {{}, L"New Tool"},
        {{L"Editor"}, L"New Tool"},
        {{L"New Tool"}, L"New Tool 1"},
        {{L"New Tool", L"New Tool 1"}, L"New Tool 2"},
        {{L"New Tool 1", L"New Tool"}, L"New Tool 2"},
        {{L"new tool"}, L"New Tool"},          // case-sensitive
        {{L"New Tool", L"New Tool 2"}, L"New Tool 1"},
    };
    for (const auto& c : cases) {
        std::wstring out;
        EXPECT_TRUE(MakeUniqueToolName(c.names, out));
        EXPECT_EQ(out, c.result);
    }
    std::vector<Tool> tools = {{L"New Tool"}};
    std::wstring out;
    EXPECT_TRUE(MakeUniqueToolName(tools, out));
    EXPECT_EQ(out, L"New Tool 1");
    std::vector<std::shared_ptr<Tool>> shared = {std::make_shared<Tool>(Tool{L"New Tool"}),
                                                 std::make_shared<Tool>(Tool{L"New Tool 1"})};
    EXPECT_TRUE(MakeUniqueToolName(shared, out));
    EXPECT_EQ(out, L"New Tool 2");
}

} // namespace
