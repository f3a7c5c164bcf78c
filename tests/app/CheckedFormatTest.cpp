#include "app/CheckedFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CheckedFormat, ConversionsThatFitTheirArguments)
{
    const struct {
        const wchar_t* format;
        std::vector<FormatArg> args;
        const wchar_t* expected;
    } cases[] = {
        {L"\"%s\" -> \"%s\"", {L"123", L"Copy to Clipboard"}, L"\"123\" -> \"Copy to Clipboard\""},
        {L"%d items", {5}, L"5 items"},
        {L"(code 0x%.8X)", {static_cast<long>(0x8004023E)}, L"(code 0x8004023E)"},
        {L"%u", {-1}, L"4294967295"},
        {L"%x", {-1}, L"ffffffff"},
        {L"%d", {4294967296LL + 7}, L"7"},                    // cut to the conversion's width
        {L"%I64d|%lld", {1LL << 40, -5LL}, L"1099511627776|-5"},
        {L"%hd|%hu", {70000, -1}, L"4464|65535"},
        {L"%5s|%-5s|", {L"ab", L"cd"}, L"   ab|cd   |"},
        {L"%*d|%-*d|", {4, 7, 3, 8}, L"   7|8  |"},
        {L"%.*s", {2, L"abcdef"}, L"ab"},
        {L"%03d", {7}, L"007"},
        {L"%c%C", {L'Z', 'y'}, L"Zy"},
        {L"%S and %ls", {L"wide", L"long"}, L"wide and long"},
        {L"%.2f|%g", {1.5, 0.25}, L"1.50|0.25"},
        {L"100%% %s", {L"sure"}, L"100% sure"},
        {L"no conversions", {}, L"no conversions"},
        {L"%d", {1, 2}, L"1"},                                // arguments left over are fine
        {L"%s", {static_cast<const wchar_t*>(nullptr)}, L"(null)"},
        {L"Norvane v%s (Windows v%s)", {L"2.6", L"6.1.7601"}, L"Norvane v2.6 (Windows v6.1.7601)"},
    };
    for (const auto& c : cases) {
        std::wstring out;
        EXPECT_TRUE(FormatChecked(out, c.format, c.args.data(), c.args.size())) << c.format;
        EXPECT_EQ(out, c.expected) << c.format;
    }
}

TEST(CheckedFormat, ConversionsThatDoNotFitAreRefused)
{
    const struct {
        const wchar_t* format;
        std::vector<FormatArg> args;
    } cases[] = {
        {L"%s", {}},
        {L"%s %s", {L"one"}},
        {L"%d", {L"text"}},
        {L"%s", {5}},
        {L"%f", {5}},
        {L"%c", {L"c"}},
        {L"%n", {5}},
        {L"%hn", {5}},
        {L"%k", {5}},
        {L"ends with %", {5}},
        {L"%99999d", {1}},
        {L"%.5000s", {L"x"}},
        {L"%*d", {L"width", 1}},
        {L"%*d", {2000, 1}},
        {L"%.*s", {3}},
        {L"%s", {static_cast<const void*>("narrow")}},
    };
    for (const auto& c : cases) {
        std::wstring out = L"stale";
        EXPECT_FALSE(FormatChecked(out, c.format, c.args.data(), c.args.size())) << c.format;
        EXPECT_TRUE(out.empty()) << c.format;
    }
}

TEST(CheckedFormat, LongArgumentsComeWhole)
{
    // An output or URL of any length reaches the event text in full.
    const std::wstring thousand(1000, L'k');
    const std::wstring url = L"http://h/?k=" + std::wstring(5000, L'7');
    const struct {
        const wchar_t* format;
        std::vector<FormatArg> args;
        std::wstring expected;
    } cases[] = {
        {L"\"%s\" -> \"%s\"", {thousand, L"Copy to Clipboard"}, L"\"" + thousand + L"\" -> \"Copy to Clipboard\""},
        {L"%s", {url}, url},
        {L"%-1000s|", {L"x"}, L"x" + std::wstring(999, L' ') + L"|"},
        {L"%.3s%s", {thousand, thousand}, L"kkk" + thousand},
    };
    for (const auto& c : cases) {
        std::wstring out;
        EXPECT_TRUE(FormatChecked(out, c.format, c.args.data(), c.args.size())) << c.format;
        EXPECT_EQ(out, c.expected) << c.format;
    }
}

} // namespace
