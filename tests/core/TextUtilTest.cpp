#include <gtest/gtest.h>
#include <climits>
#include <cstring>
#include <vector>
#include "core/Exceptions.h"
#include "core/TextUtil.h"

// ---- formatting

TEST(FormatString, GrowsToFitTextsOfAnyLength)
{
    // A cut or emptied text would turn an error message with a long path into nothing.
    struct Case
    {
        size_t chars;
        int expected;
    } cases[] = {{0, 0}, {1, 1}, {510, 510}, {511, 511}, {512, 512}, {513, 513}, {2000, 2000}, {7000, 7000}};
    for (const Case& c : cases)
    {
        std::wstring arg(c.chars, L'x');
        std::wstring out = L"old";
        int n = FormatString(out, L"%s", arg.c_str());
        EXPECT_EQ(c.expected, n) << c.chars;
        EXPECT_EQ(static_cast<size_t>(c.expected), out.size()) << c.chars;
        EXPECT_EQ(arg, out) << c.chars;
    }
    std::wstring out;
    EXPECT_EQ(6007, FormatString(out, L"<%s|%d>", std::wstring(6000, L'w').c_str(), 1234));
    EXPECT_EQ(L"<" + std::wstring(6000, L'w') + L"|1234>", out);
}

TEST(FormatString, LargerCapacityRaisesTheLimit)
{
    std::wstring out;
    out.reserve(2000);
    std::wstring arg(1500, L'y');
    EXPECT_EQ(1500, FormatString(out, L"%s", arg.c_str()));
    EXPECT_EQ(arg, out);
}

TEST(FormatString, TextsAtTheRoomsEdgeAreWholeAndTerminated)
{
    // The runtime reports -1 or fills the buffer without a terminator when the text reaches
    // the room's end; either way the text is formatted again into room enough.
    std::wstring out;
    std::wstring arg(512, L'z');
    EXPECT_EQ(512, FormatString(out, L"%s", arg.c_str()));
    EXPECT_EQ(arg, out);
    EXPECT_EQ(L'\0', out.c_str()[512]);
    EXPECT_EQ(512, FormatString(out, L"%s!", std::wstring(511, L'z').c_str()));
    EXPECT_EQ(std::wstring(511, L'z') + L"!", out);
}

TEST(FormatString, ConvertsLikeTheRuntime)
{
    struct Case
    {
        const wchar_t* expected;
        std::wstring actual;
    };
    std::wstring s;
    std::vector<Case> cases;
    FormatString(s, L"%d|%5d|%-3d|", -42, 7, 1);
    cases.push_back({L"-42|    7|1  |", s});
    FormatString(s, L"%#.8x", 0x80040218u);
    cases.push_back({L"0x80040218", s});
    FormatString(s, L"%lld %llu", -9223372036854775807LL - 1, 18446744073709551615ULL);
    cases.push_back({L"-9223372036854775808 18446744073709551615", s});
    FormatString(s, L"%s=%c", L"key", L'v');
    cases.push_back({L"key=v", s});
    FormatString(s, L"%.2d.%.2d.%.4d", 9, 12, 2024);
    cases.push_back({L"09.12.2024", s});
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, c.actual);
}

TEST(FormatString, ArgumentMayBeTheOutputItself)
{
    std::wstring s = L"abc";
    FormatString(s, L"[%s]", s.c_str());
    EXPECT_EQ(L"[abc]", s);
}

TEST(AppendFormatString, AppendsAndReturnsTheNewLength)
{
    std::wstring s = L"ab";
    EXPECT_EQ(5, AppendFormatString(s, L"%d", 123));
    EXPECT_EQ(L"ab123", s);
    EXPECT_EQ(5, AppendFormatString(s, L""));
    EXPECT_EQ(L"ab123", s);
}

TEST(AppendFormatString, AppendsTextsLongerThanItsRoom)
{
    std::wstring prefix(3000, L'p');
    std::wstring s = prefix;
    s.shrink_to_fit();
    std::wstring arg(1023, L'q');
    EXPECT_EQ(4023, AppendFormatString(s, L"%s", arg.c_str()));
    EXPECT_EQ(prefix + arg, s);

    std::wstring t = L"keep";
    t.shrink_to_fit();
    std::wstring longer(t.capacity() + 5000, L'r');
    EXPECT_EQ(static_cast<int>(4 + longer.size()), AppendFormatString(t, L"%s", longer.c_str()));
    EXPECT_EQ(L"keep" + longer, t);
}

// ---- string resources and the language library

namespace {
// The build folder is a host path; under Wine the host's root is drive Z:.
std::wstring TestLangPath()
{
    std::wstring path = MultiByteToWString(std::string(NORVANE_TOOLS_DIR) + "/NorvaneTestLang.dll", CP_ACP);
    if (!path.empty() && path[0] == L'/')
        path.insert(0, L"Z:");
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

// Loads the test language library as the program loads one, and restores the built-in
// language afterwards.
class LanguageLibrary : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_module = LoadLibraryExW(TestLangPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, m_module) << "error " << GetLastError();
        SetResourceModule(m_module);
    }
    void TearDown() override
    {
        SetResourceModule(nullptr);
        if (m_module)
            FreeLibrary(m_module);
    }
    HMODULE m_module = nullptr;
};
}  // namespace

TEST(LoadResString, BuiltInTextsAndMissingIds)
{
    std::wstring s = L"stale";
    EXPECT_EQ(23, LoadResString(409, s));
    EXPECT_EQ(L"System error. Code: %d.", s);
    s = L"stale";
    EXPECT_EQ(0, LoadResString(59999, s));
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(0, FormatResString(s, 59999, 1));
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(20, FormatResString(s, 602, L"a.txt"));
    EXPECT_EQ(L"a.txt was not found.", s);
    s = L">";
    EXPECT_EQ(33, AppendFormatResString(s, 613, L"x.bin"));
    EXPECT_EQ(L">Disk full while accessing x.bin.", s);
    EXPECT_EQ(1, AppendFormatResString(s = L">", 59999, L"x"));
}

TEST_F(LanguageLibrary, ResourceModuleFirstThenProgramModule)
{
    std::wstring s;
    // The library has its own 602 ...
    LoadResString(602, s);
    EXPECT_EQ(L"Missing: %s (test language).", s);
    FormatResString(s, 602, L"k.json");
    EXPECT_EQ(L"Missing: k.json (test language).", s);
    // ... and lacks 603, which comes from the program.
    LoadResString(603, s);
    EXPECT_EQ(L"%s contains an incorrect path.", s);
    // Only from the library: nothing.
    EXPECT_EQ(0, LoadResStringFrom(m_module, 603, s));
    // File errors follow the language.
    EXPECT_STREQ("Missing: C:\\n.json (test language).",
                 CFileException(CFileException::fileNotFound, 2, L"C:\\n.json").what());
    EXPECT_STREQ("C:\\n.json contains an incorrect path.",
                 CFileException(CFileException::badPath, 3, L"C:\\n.json").what());
}

TEST_F(LanguageLibrary, ResultCodeTextsComeFromTheGivenModule)
{
    std::wstring s;
    ASSERT_TRUE(GetSystemMessageText(s, GetResourceModule(), static_cast<DWORD>(KV_E_INVALID_RESPONSE)));
    EXPECT_EQ(L"Invalid reply (test language).", s);
    EXPECT_STREQ("COM error 0x80040218Invalid reply (test language).", CComException(KV_E_INVALID_RESPONSE).what());
    EXPECT_STREQ("COM error 0x80040218Reader sent an invalid response.",
                 CComException(KV_E_INVALID_RESPONSE, GetProgramModule()).what());
    // The library's table lacks this code: no text from the library alone.
    s = L"unchanged";
    EXPECT_FALSE(GetSystemMessageText(s, GetResourceModule(), static_cast<DWORD>(KV_E_NO_PORTAVO)));
    EXPECT_EQ(L"unchanged", s);
}

// ---- code pages

TEST(CodePages, ConversionsBothWays)
{
    std::wstring w;
    EXPECT_EQ(3, MultiByteToWString("\xD0\x96\xC3\xA9z", -1, w, CP_UTF8));
    EXPECT_EQ(L"\u0416\u00e9z", w);
    EXPECT_EQ(2, MultiByteToWString("abc", 2, w, CP_UTF8));
    EXPECT_EQ(L"ab", w);
    EXPECT_EQ(1, MultiByteToWString("\x86", 1, w, 866));
    EXPECT_EQ(L"\u0416", w);

    std::string n;
    EXPECT_EQ(5, WStringToMultiByte(L"\u0416\u00e9z", -1, n, CP_UTF8));
    EXPECT_EQ("\xD0\x96\xC3\xA9z", n);
    EXPECT_EQ(1, WStringToMultiByte(L"\u0416", 1, n, 866));
    EXPECT_EQ("\x86", n);
    EXPECT_EQ("\xE2\x82\xAC", WStringToMultiByte(std::wstring(L"\u20ac"), CP_UTF8));
}

TEST(CodePages, FailuresGiveEmptyOutput)
{
    std::wstring w = L"old";
    EXPECT_EQ(0, MultiByteToWString("", -1, w, CP_UTF8));
    EXPECT_TRUE(w.empty());
    w = L"old";
    EXPECT_EQ(0, MultiByteToWString("abc", 3, w, 12345));  // no such code page
    EXPECT_TRUE(w.empty());
    w = L"old";
    EXPECT_EQ(0, MultiByteToWString(nullptr, -1, w, CP_UTF8));
    EXPECT_TRUE(w.empty());
    std::string n = "old";
    EXPECT_EQ(0, WStringToMultiByte(L"abc", 0, n, CP_UTF8));
    EXPECT_TRUE(n.empty());
    n = "old";
    EXPECT_EQ(0, WStringToMultiByte(L"abc", 3, n, 12345));
    EXPECT_TRUE(n.empty());
}

// ---- unquoting

TEST(UnquoteString, Cases)
{
    struct Case
    {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"", L""},
        {L"\"", L"\""},
        {L"'", L"'"},
        {L"\"\"", L""},
        {L"''", L""},
        {L"\"abc\"", L"abc"},
        {L"'abc'", L"abc"},
        {L"\"'abc'\"", L"abc"},
        {L"'\"abc\"'", L"abc"},
        {L"'a\"", L"'a\""},
        {L"\"abc'", L"\"abc'"},
        {L"\"'a\"", L"'a"},
        {L"\"x", L"\"x"},
        {L"a\"b\"c", L"a\"b\"c"},
        {L"\"\"\"", L"\""},
        {L"\"'\"", L"'"},
        {L"\"''\"", L""},
        {L" \"a\" ", L" \"a\" "},
    };
    for (const Case& c : cases)
    {
        std::wstring s = c.in;
        EXPECT_EQ(c.out, UnquoteString(s)) << c.in;
        EXPECT_EQ(c.out, s) << c.in;
    }
}

// ---- hex

TEST(BytesToHex, DigitsAndOrder)
{
    const BYTE bytes[] = {0x01, 0xAB, 0x7F, 0x00, 0xF0};
    struct Case
    {
        int count;
        int room;
        const wchar_t* forward;
        const wchar_t* reversed;
        int result;
    } cases[] = {
        {5, 11, L"01AB7F00F0", L"F0007FAB01", 10},
        {5, 64, L"01AB7F00F0", L"F0007FAB01", 10},
        {1, 3, L"01", L"01", 2},
        {2, 5, L"01AB", L"AB01", 4},
        {0, 8, L"", L"", 0},
        // Short buffers: at most room - 1 digits, always terminated.
        {5, 10, L"01AB7F00F", L"F0007FAB0", 9},
        {5, 4, L"01A", L"F00", 3},
        {5, 1, L"", L"", 0},
    };
    for (const Case& c : cases)
    {
        wchar_t buf[64];
        wmemset(buf, L'#', 64);
        EXPECT_EQ(c.result, BytesToHex(bytes, c.count, buf, c.room)) << c.forward;
        EXPECT_STREQ(c.forward, buf);
        EXPECT_EQ(L'#', buf[c.room < 64 ? c.room : 63 ]) << "wrote past the room";
        wmemset(buf, L'#', 64);
        EXPECT_EQ(c.result, BytesToHexReversed(bytes, c.count, buf, c.room)) << c.reversed;
        EXPECT_STREQ(c.reversed, buf);
        if (c.room < 64)
        {
            EXPECT_EQ(L'#', buf[c.room]);
        }
    }
    wchar_t untouched = L'#';
    EXPECT_EQ(0, BytesToHex(bytes, 5, &untouched, 0));
    EXPECT_EQ(L'#', untouched);
}

TEST(HexToBytes, Cases)
{
    struct Case
    {
        const wchar_t* hex;
        int length;
        int room;
        std::vector<BYTE> forward;
        std::vector<BYTE> reversed;
    } cases[] = {
        {L"12345", -1, 8, {0x12, 0x34, 0x50}, {0x45, 0x23, 0x01}},
        {L"ABC", -1, 2, {0xAB, 0xC0}, {0xBC, 0x0A}},
        {L"abcdef", -1, 8, {0xAB, 0xCD, 0xEF}, {0xEF, 0xCD, 0xAB}},
        {L"0g", -1, 8, {0x00}, {0x00}},
        {L"zz", -1, 8, {0x00}, {0x00}},
        {L"F", -1, 8, {0xF0}, {0x0F}},
        {L"", -1, 8, {}, {}},
        {L"1234", 2, 8, {0x12}, {0x12}},
        {L"123456", -1, 1, {0x12}, {0x56}},
        {L"123456", -1, 0, {}, {}},
        {L"1A2b", -1, 8, {0x1A, 0x2B}, {0x2B, 0x1A}},
    };
    for (const Case& c : cases)
    {
        BYTE buf[8];
        memset(buf, 0xCC, sizeof(buf));
        int n = HexToBytes(c.hex, c.length, buf, c.room);
        EXPECT_EQ(c.forward, std::vector<BYTE>(buf, buf + n)) << c.hex;
        EXPECT_EQ(0xCC, buf[n]) << c.hex;
        memset(buf, 0xCC, sizeof(buf));
        n = HexToBytesReversed(c.hex, c.length, buf, c.room);
        EXPECT_EQ(c.reversed, std::vector<BYTE>(buf, buf + n)) << c.hex;
        EXPECT_EQ(0xCC, buf[n]) << c.hex;
    }
}

// ---- integers

TEST(IntToWString, Limits)
{
    EXPECT_EQ(L"0", IntToWString(0));
    EXPECT_EQ(L"-1", IntToWString(-1));
    EXPECT_EQ(L"2147483647", IntToWString(INT_MAX));
    EXPECT_EQ(L"-2147483648", IntToWString(INT_MIN));
    EXPECT_EQ(L"9223372036854775807", Int64ToWString(INT64_MAX));
    EXPECT_EQ(L"-9223372036854775808", Int64ToWString(INT64_MIN));
    std::wstring out;
    EXPECT_EQ(L"4294967296", Int64ToWString(4294967296LL, out));
    EXPECT_EQ(L"4294967296", out);
}

// ---- wildcards

TEST(WildcardMatch, Cases)
{
    struct Case
    {
        const wchar_t* pattern;
        const wchar_t* text;
        bool match;
    } cases[] = {
        {L"*.txt", L"a.txt", true},
        {L"*.txt", L".txt", true},
        {L"*.txt", L"a.txt.bak", false},
        {L"*.txt", L"a.TXT", false},
        {L"a?c*", L"abcdef", true},
        {L"a?c*", L"ac", false},
        {L"A*", L"abc", false},
        {L"", L"", true},
        {L"", L"a", false},
        {L"*", L"", true},
        {L"*", L"anything at all", true},
        {L"**", L"x", true},
        {L"?", L"", false},
        {L"?", L"x", true},
        {L"??", L"x", false},
        {L"abc", L"abc", true},
        {L"abc", L"abcd", false},
        {L"abcd", L"abc", false},
        {L"*b*", L"aaabaaa", true},
        {L"*ab", L"aaab", true},
        {L"*ab", L"abab", true},
        {L"*ab", L"abac", false},
        {L"a*b*c", L"axxbyyc", true},
        {L"a*b*c", L"axxbyy", false},
        {L"*?", L"", false},
        {L"*?", L"q", true},
        {L"COM*", L"COM12", true},
        {L"*\\*.wav", L"C:\\snd\\ok.wav", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.match, WildcardMatch(c.pattern, c.text)) << "'" << c.pattern << "' vs '" << c.text << "'";
}

// ---- versions

TEST(ParseVersion, Cases)
{
    struct Case
    {
        const wchar_t* text;
        bool ok;
        PackedVersion version;
        size_t endOffset;
    } cases[] = {
        {L"1.6", true, 0x0601, 3},
        {L"300", true, (300u << 8) | 0xFF, 3},
        {L"1.300", true, 0x2C01, 5},
        {L"255", true, (255u << 8) | 0xFF, 3},
        {L"254", true, 254, 3},
        {L"300.1", true, (300u << 8) | 0xFF, 3},
        {L"1.2.3.4", true, 0x04030201, 7},
        {L"1.2.3.4.5", true, 0x04030201, 7},
        {L"2.6.0.0", true, 0x0602, 7},
        {L"1.", true, 1, 2},
        {L"1.x", true, 1, 2},
        {L"1.0.3", true, 0x030001, 5},
        {L" 7", true, 7, 2},
        {L"3 beta", true, 3, 1},
        {L"a", false, 0xDEAD, 0},
        {L"", false, 0xDEAD, 0},
        {L".5", false, 0xDEAD, 0},
    };
    for (const Case& c : cases)
    {
        PackedVersion v = 0xDEAD;
        const wchar_t* end = nullptr;
        EXPECT_EQ(c.ok, ParseVersion(c.text, v, &end)) << c.text;
        EXPECT_EQ(c.version, v) << c.text;
        if (c.ok)
        {
            EXPECT_EQ(c.endOffset, static_cast<size_t>(end - c.text)) << c.text;
        }
    }
    PackedVersion v = 0;
    EXPECT_TRUE(ParseVersion(L"1.6", v));
}

TEST(VersionToString, Cases)
{
    struct Case
    {
        PackedVersion version;
        const wchar_t* text;
    } cases[] = {
        {0, L""},
        {0x0601, L"1.6"},
        {(300u << 8) | 0xFF, L"300"},
        {0x00030001, L"1.0.3"},
        {0x04030201, L"1.2.3.4"},
        {0x00000001, L"1"},
        {0x00000100, L"0.1"},
        {0xFE000000, L"0.0.0.254"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, VersionToString(c.version)) << std::hex << c.version;
}

TEST(CompareVersions, Cases)
{
    struct Case
    {
        PackedVersion a, b;
        int result;
    } cases[] = {
        {0x0601, 0x0501, 1},
        {0x0501, 0x0601, -1},
        {0x0601, 0x0601, 0},
        {0, 0, 0},
        {0x0601, 0x0602, -1},  // 1.6 against 2.6: the first number leads
        {0x0602, 0x0701, 1},   // 2.6 against 1.7
        {0x010601, 0x0601, 1},  // 1.6.1 after 1.6
        {0x0601, 0x010601, -1},
        {1, 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, CompareVersions(c.a, c.b)) << std::hex << c.a << " " << c.b;
}

TEST(GetFilePackedVersion, ReadsTheFixedFileVersion)
{
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    // The test exe links the program's version resource, 2.6.0.0.
    EXPECT_EQ(0x0602u, GetFilePackedVersion(self));
    // The language library has no version resource; a missing file has none either.
    EXPECT_EQ(0u, GetFilePackedVersion(TestLangPath().c_str()));
    EXPECT_EQ(0u, GetFilePackedVersion(L"C:\\no\\such\\file.exe"));
}
