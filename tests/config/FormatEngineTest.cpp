#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ResultCodes.h"
#include "config/FormatEngine.h"
#include "config/KvParser.h"

namespace {

const BYTE kKey[] = {0x12, 0x34, 0x56};

struct RenderCase
{
    const wchar_t* templ;
    const wchar_t* params;
    std::wstring expected;
};

std::wstring Render(const std::wstring& templ, const std::wstring& params, const BYTE* key = kKey, int length = 3,
                    KeyVector* keys = nullptr)
{
    std::wstring out;
    RenderFormat(out, keys, templ, params, key, length);
    return out;
}

void ExpectRendered(const RenderCase* cases, size_t count)
{
    for (size_t i = 0; i < count; ++i)
    {
        const RenderCase& c = cases[i];
        try
        {
            EXPECT_EQ(c.expected, Render(c.templ, c.params))
                << "template " << testing::PrintToString(std::wstring(c.templ)) << " params "
                << testing::PrintToString(std::wstring(c.params));
        }
        catch (const CKvParserException& e)
        {
            ADD_FAILURE() << testing::PrintToString(std::wstring(c.params)) << ": " << e.what();
        }
    }
}

}  // namespace

TEST(FormatEngine, RendersExamples)
{
    const BYTE key7B[] = {0x7B};
    EXPECT_EQ(L"123", Render(L"%d", L"x[0]", key7B, 1));

    const RenderCase cases[] = {
        {L"%08X%s", L"m0123, 5", L"005634125"},
        {L"%*d", L"5, 42", L"   42"},
        {L"%*d", L"5", L"    0"},
        {L"100%%", L"", L"100%"},
        {L"%d %d", L"1", L"1 0"},
        {L"%d", L"1, 2", L"1"},
        {L"", L"1", L""},
        {L"plain", L"", L"plain"},
        {L"%d-%d-%d", L"b0 b1 b2", L"18-52-86"},
    };
    ExpectRendered(cases, std::size(cases));
}

TEST(FormatEngine, IntegerConversions)
{
    const RenderCase cases[] = {
        {L"%x", L"-1", L"ffffffffffffffff"},  // a bare conversion takes all 64 bits
        {L"%lx", L"-1", L"ffffffff"},
        {L"%hx", L"-1", L"ffff"},
        {L"%hd", L"70000", L"4464"},
        {L"%hu", L"-1", L"65535"},
        {L"%I32d", L"0x100000005", L"5"},
        {L"%Id", L"0x1FFFFFFFF", L"-1"},
        {L"%I64d %lld %wd", L"-1, -2, -3", L"-1 -2 -3"},
        {L"%wx", L"0x123456789", L"123456789"},
        {L"%llu %u", L"-1, -1", L"18446744073709551615 18446744073709551615"},
        {L"%ld", L"2147483648", L"-2147483648"},
        {L"%i", L"-9223372036854775807-1", L"-9223372036854775808"},
        {L"%o %#o %#o %#.3o", L"8, 8, 0, 8", L"10 010 0 010"},
        {L"%#x %#X %#x", L"255, 255, 0", L"0xff 0XFF 0"},
        {L"%+d % d %+d %+u", L"5, 5, -5, 5", L"+5  5 -5 5"},
        {L"%-5d|%5d|", L"42, 42", L"42   |   42|"},
        {L"%05d %05d %-05d|", L"-42, 42, 42", L"-0042 00042 42   |"},
        {L"%.3d %8.3d %08.3d", L"7, -7, 7", L"007     -007      007"},
        {L"%.0d|%5.0d|%.d|", L"0, 0, 0", L"|     ||"},
        {L"%#010x", L"255", L"0x000000ff"},
        {L"%*d|%.*d|%.*d|%*.*d", L"-4, 7, 3, 7, -1, 7, 6, 3, 7", L"7   |007|7|   007"},
        {L"%020.15X", L"0xABC", L"     000000000000ABC"},
        {L"%1.5ld", L"7", L"00007"},
    };
    ExpectRendered(cases, std::size(cases));
}

TEST(FormatEngine, CharacterStringAndOtherConversions)
{
    const RenderCase cases[] = {
        {L"%c%hc%C%lc%wC", L"65, 0x142, 67, 0x263A, 0x263B", L"ABC\x263A\x263B"},
        {L"%3c|%-3c|", L"65, 66", L"  A|B  |"},
        {L"%s %hs %S %ls %ws", L"-42, 1, 2, 3, 4", L"-42 1 2 3 4"},
        {L"%5s|%-4s|%05s|%.1s", L"42, 7, 42, 42", L"   42|7   |00042|4"},
        {L"%p|%10p|%-10p|", L"", L"00000000|  00000000|00000000  |"},
        {L"a%nb", L"5", L"ab"},  // counts are never written
        {L"%hn%ln%lln|", L"", L"|"},
        {L"%Z|%q|%", L"", L"%Z|%q|%"},
        {L"ab%q", L"", L"ab%q"},
        {L"%*d%Z", L"3, 7", L"  7%Z"},
        {L"%5", L"", L"%5"},
        {L"%hhd %Lf %zd", L"", L"%hhd %Lf %zd"},
        {L"50% off", L"", L"500ff"},  // "% o" is an octal conversion
    };
    ExpectRendered(cases, std::size(cases));
}

TEST(FormatEngine, FloatingConversions)
{
    const RenderCase cases[] = {
        {L"%f", L"3", L"3.000000"},
        {L"%.2f %+.1f %08.2f", L"-3, 2, -3", L"-3.00 +2.0 -0003.00"},
        {L"%#.0f %.0f", L"3, 3", L"3. 3"},
        {L"%e %E", L"12345, 12345", L"1.234500e+04 1.234500E+04"},
        {L"%.3e %.0e %#.0e", L"0, 15, 3", L"0.000e+00 2e+01 3.e+00"},
        {L"%g %g %G %g", L"100000, 1000000, 1000000, 0", L"100000 1e+06 1E+06 0"},
        {L"%g", L"9223372036854775807", L"9.22337e+18"},
        {L"%#g %#g %#g", L"3, 1000000, 0", L"3.00000 1.00000e+06 0.00000"},
        {L"%.3g %.0g", L"1234, 1234", L"1.23e+03 1e+03"},
        {L"%a %A %a", L"1, 255, 0", L"0x1p+0 0X1.FEP+7 0x0p+0"},
        {L"%.1a %#a", L"3, 1", L"0x1.8p+1 0x1.p+0"},
        {L"%12.3e|%-12.3e|% f", L"-5, 5, 1", L"  -5.000e+00|5.000e+00   | 1.000000"},
    };
    ExpectRendered(cases, std::size(cases));
}

TEST(FormatEngine, LongResultsAreCut)
{
    const std::wstring spaces(kMaxRenderedLength, L' ');
    const std::wstring one = L"1" + std::wstring(kMaxRenderedLength - 1, L' ');
    const RenderCase cases[] = {
        {L"%5000d", L"1", spaces},
        {L"%-5000d", L"1", one},
        {L"%*d", L"2147483647, 1", spaces},
        {L"%*d", L"-2147483647-1, 1", one},
        {L"%.5000f", L"1", L"1." + std::wstring(kMaxRenderedLength - 2, L'0')},
        {L"%.999999999999d", L"1", std::wstring(kMaxRenderedLength, L'0')},
        {L"%.5000e", L"1", L"1." + std::wstring(kMaxRenderedLength - 2, L'0')},
        {L"%#.5000g", L"1", L"1." + std::wstring(kMaxRenderedLength - 2, L'0')},
        {L"%.5000a", L"1", L"0x1." + std::wstring(kMaxRenderedLength - 4, L'0')},
    };
    ExpectRendered(cases, std::size(cases));

    EXPECT_EQ(std::wstring(kMaxRenderedLength, L'a'), Render(std::wstring(10000, L'a'), L""));
    std::wstring many;
    for (int i = 0; i < 3000; ++i)
        many += L"%s,";
    const std::wstring out = Render(many, L"12345");
    EXPECT_EQ(kMaxRenderedLength, out.size());
    EXPECT_EQ(L"12345,0,0,", out.substr(0, 10));
}

TEST(FormatEngine, Escapes)
{
    struct EscapeCase
    {
        std::wstring templ;
        std::wstring plain;         // rendered without a key vector
        std::wstring keyboard;      // rendered with one
        std::vector<uint32_t> keys;
    } cases[] = {
        {L"\\k0D", L"", L"\x0001", {0x0D}},
        {L"\\p250x", L"x", L"\x0001x", {0x800000FA}},
        {L"\\k10D\\p5", L"", L"\x0001\x0001", {0x10D, 0x80000005}},
        {L"\\k1FF0", L"0", L"\x0001" L"0", {0x1FF}},
        {L"\\p12345", L"5", L"\x0001" L"5", {0x80000000 | 1234}},
        {L"\\k", L"", L"", {}},
        {L"\\kx", L"x", L"x", {}},
        {L"\\p", L"", L"", {}},
        {L"\\x41\\#66\\1012", L"ABA2", L"ABA2", {}},
        {L"a\\qb", L"aqb", L"aqb", {}},
        {L"a\\ab", L"ab", L"ab", {}},
        {L"\\b\\f\\v", L"", L"", {}},
        {L"ab\\", L"ab", L"ab", {}},
        {L"\\n\\r\\t\\\"\\'\\?\\\\", L"\n\r\t\"'?\\", L"\n\r\t\"'?\\", {}},
        {L"\\#\\#0659", L"A9", L"A9", {}},
        {L"\\x\\xg\\$263a\\x12345", L"g\x263A\x1234" L"5", L"g\x263A\x1234" L"5", {}},
        {L"\\8\\9x", L"89x", L"89x", {}},
        {L"\\777\\0101", L"\x01FF\x0008" L"1", L"\x01FF\x0008" L"1", {}},
        {L"ab\\0cd", L"ab", L"ab", {}},  // "\0" ends the printed text
        {L"\\%d", L"5", L"5", {}},      // the "%" is read again as ordinary text
        {L"\\\\%d", L"\\5", L"\\5", {}},
        // A U+0001 of the template's own would take a key entry and shift the rest.
        {L"\\1\\k0D", L"\x0001", L"\x0001", {0x0D}},
        {L"\x0001\\x1\\#1\\p9", L"\x0001\x0001\x0001", L"\x0001", {0x80000009}},
        {L"%c\\k0D", L"\x0001", L"\x0001", {0x0D}},
    };
    for (const EscapeCase& c : cases)
    {
        const std::wstring params = c.templ.find(L"%c") == 0 ? L"1" : L"5";
        EXPECT_EQ(c.plain, Render(c.templ, params)) << testing::PrintToString(c.templ);
        KeyVector keys;
        EXPECT_EQ(c.keyboard, Render(c.templ, params, kKey, 3, &keys)) << testing::PrintToString(c.templ);
        EXPECT_EQ(c.keys, keys) << testing::PrintToString(c.templ);
    }

    std::wstring out;
    UnescapeTemplate(out, nullptr, L"ab\\0cd");
    EXPECT_EQ(std::wstring(L"ab\0cd", 5), out);
}

TEST(FormatEngine, AnalyzesSpecifiers)
{
    const std::wstring templ = L"%d %5.2hd %*.*ls %I64x %I32u %lld %wd %% %hc %C %-08.3f %n %p %Z";
    std::vector<int> classes, offsets;
    std::wstring rewritten;
    AnalyzeTemplateSpecs(classes, templ, &rewritten, &offsets);
    EXPECT_EQ((std::vector<int>{3, 1, 2, 2, 8, 3, 2, 3, 3, 5, 5, 4, 9, 10, 0}), classes);
    EXPECT_EQ((std::vector<int>{0, 3, 10, 17, 23, 29, 34, 41, 45, 48, 56, 59, 62}), offsets);
    EXPECT_EQ(L"%lld %5.2hd %*.*ls %I64x %I32u %lld %wd %% %hc %C %-08.3f %n %p %Z", rewritten);

    AnalyzeTemplateSpecs(classes, L"%", nullptr, nullptr);
    EXPECT_EQ(std::vector<int>{0}, classes);
    AnalyzeTemplateSpecs(classes, L"%i%o%u%X%e%E%g%G%a%A%s%S%hs%lS%lc%hC", &rewritten, nullptr);
    EXPECT_EQ((std::vector<int>{3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 8, 7, 7, 8, 6, 5}), classes);
    EXPECT_EQ(L"%lli%llo%llu%llX%e%E%g%G%a%A%s%S%hs%lS%lc%hC", rewritten);
}

TEST(FormatEngine, ValidatesTemplateAndParams)
{
    struct ValidateCase
    {
        const wchar_t* params;
        const wchar_t* templ;
        HRESULT code;
        int position;
        const wchar_t* message;
    } cases[] = {
        {L"5, 42", L"%*d", S_OK, -1, L""},
        {L"5", L"%*d", KV_E_NOT_ENOUGH_PARAMS, -1, L"Not enough parameters."},
        {L"", L"%d", KV_E_NOT_ENOUGH_PARAMS, -1, L"Not enough parameters."},
        {L"", L"100%%", S_OK, -1, L""},
        {L"", L"", S_OK, -1, L""},
        {L"1 2 3", L"%d", S_OK, -1, L""},
        {L"x[0]", L"%d", S_OK, -1, L""},
        {L"", L"%Z", KV_E_TEMPLATE_SPEC, 0, L"Template specifier is not supported."},
        {L"", L"%n", KV_E_TEMPLATE_SPEC, 0, L"Template specifier is not supported."},
        {L"", L"ab%q", KV_E_TEMPLATE_SPEC, 2, L"Template specifier is not supported."},
        {L"1,2", L"%*d%Z", KV_E_TEMPLATE_SPEC, 3, L"Template specifier is not supported."},
        {L"1", L"%d%n%Z", KV_E_TEMPLATE_SPEC, 4, L"Template specifier is not supported."},
        {L"", L"abc%", KV_E_TEMPLATE_SPEC, 3, L"Template specifier is not supported."},
        {L"a", L"%Z", KV_E_TEMPLATE_SPEC, 0, L"Template specifier is not supported."},
        {L"1,,2", L"%d", KV_E_UNEXPECTED_OPERATOR, 2, L"Unexpected operator. \",\""},
        {L"0xg", L"%d", KV_E_BAD_SUFFIX, 2, L"Bad suffix on number. \"g\""},
        {L"log10 (5)", L"", KV_E_UNKNOWN_KEYWORD, 0, L"Unknown keyword. \"log10\""},
        {L"1", L"\\x25d%d", S_OK, -1, L""},  // checked as stored, before unescaping
    };
    for (const ValidateCase& c : cases)
    {
        int position = 99;
        std::wstring message = L"stale";
        EXPECT_EQ(c.code, ValidateFormat(c.params, c.templ, &position, &message)) << testing::PrintToString(std::wstring(c.templ));
        EXPECT_EQ(c.position, position) << testing::PrintToString(std::wstring(c.templ));
        EXPECT_EQ(c.message, message) << testing::PrintToString(std::wstring(c.templ));
        EXPECT_EQ(c.code, ValidateFormat(c.params, c.templ, nullptr, nullptr));
    }
}

TEST(FormatEngine, EscapesControlCharacters)
{
    std::wstring out = L"stale";
    EscapeControlChars(out, L"a\tb\rc\nd\"e'f\\g");
    EXPECT_EQ(L"a\\tb\\rc\\nd\\\"e\\'f\\g", out);
    EscapeControlChars(out, L"a\tb", 2);
    EXPECT_EQ(L"a\\t", out);
    EscapeControlChars(out, L"x\0y", 3);
    EXPECT_EQ(std::wstring(L"x\0y", 3), out);
    EscapeControlChars(out, L"");
    EXPECT_EQ(L"", out);
    EscapeControlChars(out, nullptr);
    EXPECT_EQ(L"", out);
}

TEST(FormatEngine, ParamErrorsLeaveAsParserException)
{
    std::wstring out;
    try
    {
        RenderFormat(out, nullptr, L"%d", L"1 +", kKey, 3);
        ADD_FAILURE() << "rendered";
    }
    catch (const CKvParserException& e)
    {
        EXPECT_EQ(KV_E_UNEXPECTED_END, e.GetCode());
        EXPECT_EQ(3, e.GetPosition());
    }
}
