// Seeded generated and mutated params and templates: the parser, the check and the
// rendering must neither crash, hang nor grow past their limits on any of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "config/FormatEngine.h"
#include "config/KvParser.h"

namespace {

class CGenerator
{
public:
    explicit CGenerator(uint32_t seed) : m_rng(seed) {}

    uint32_t Below(uint32_t n) { return n ? m_rng() % n : 0; }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    template <size_t N>
    const wchar_t* Pick(const wchar_t* const (&items)[N]) { return items[Below(N)]; }

    std::wstring Expression(int depth)
    {
        static const wchar_t* const binary[] = {L"+", L"-", L"*", L"/", L"%", L"<<", L">>", L"&", L"^", L"|", L"&&", L"||"};
        static const wchar_t* const unary[] = {L"-", L"+", L"!", L"~"};
        static const wchar_t* const funcs[] = {L"log10", L"rbit", L"cbit", L"set", L"get", L"ds", L"w", L"w2"};
        const uint32_t choice = depth <= 0 ? Below(3) : Below(8);
        switch (choice)
        {
        case 0: return Number();
        case 1: return Variable();
        case 2: return L"x[" + (depth > 0 ? Expression(depth - 1) : Number()) + L"]";
        case 3:
        case 4: return Expression(depth - 1) + Space() + Pick(binary) + Space() + Expression(depth - 1);
        case 5: return std::wstring(Pick(unary)) + Expression(depth - 1);
        case 6: return L"(" + Expression(depth - 1) + L")";
        default:
        {
            std::wstring call = std::wstring(Pick(funcs)) + L"(";
            const uint32_t args = Below(5);
            for (uint32_t i = 0; i < args; ++i)
                call += (i ? L"," : L"") + Expression(depth - 1);
            return call + L")";
        }
        }
    }

    std::wstring Params()
    {
        std::wstring text;
        const uint32_t count = Below(6);
        for (uint32_t i = 0; i < count; ++i)
            text += (i ? (Chance(70) ? L", " : L" ") : L"") + Expression(static_cast<int>(Below(5)));
        return text;
    }

    std::wstring Template()
    {
        static const wchar_t* const literals[] = {L"ab", L" ", L"-", L"%%", L"\\n", L"\\t", L"\\\\", L"\\\"", L"\\",
                                                  L"\\k0D", L"\\k1", L"\\p250", L"\\x41", L"\\$263a", L"\\#66",
                                                  L"\\101", L"\\0", L"\\q", L"\\a", L"\\k", L"\\p", L"\\x"};
        std::wstring text;
        const uint32_t pieces = Below(8);
        for (uint32_t i = 0; i < pieces; ++i)
            text += Chance(50) ? std::wstring(Pick(literals)) : Specifier();
        return text;
    }

    std::wstring Specifier()
    {
        static const wchar_t* const flags[] = {L"", L"-", L"+", L"0", L" ", L"#", L"-0", L"+ #0"};
        static const wchar_t* const widths[] = {L"", L"5", L"*", L"12", L"0", L"4100", L"99999999999"};
        static const wchar_t* const precisions[] = {L"", L".", L".0", L".3", L".*", L".4200", L".99999999999"};
        static const wchar_t* const prefixes[] = {L"", L"", L"ll", L"I32", L"I64", L"h", L"l", L"w", L"I", L"hh", L"L"};
        static const wchar_t* const convs[] = {L"c", L"C", L"d", L"i", L"o", L"u", L"x", L"X", L"e", L"E", L"f",
                                               L"g", L"G", L"a", L"A", L"n", L"p", L"s", L"S", L"Z", L"q", L"%", L""};
        return std::wstring(L"%") + Pick(flags) + Pick(widths) + Pick(precisions) + Pick(prefixes) + Pick(convs);
    }

    // Random edits: insertions of odd characters, deletions, swaps, truncation.
    std::wstring Mutate(std::wstring text)
    {
        static const wchar_t pool[] = L"()[],+-*/%<>&|^!~0123456789xXbBlhmwiyzq \t\\\"'#$kpnsSdZ;=_.\x00e9\xd800\xffff\x0660";
        const uint32_t edits = 1 + Below(4);
        for (uint32_t e = 0; e < edits; ++e)
        {
            const size_t at = text.empty() ? 0 : Below(static_cast<uint32_t>(text.size() + 1));
            switch (Below(5))
            {
            case 0:
            case 1: text.insert(text.begin() + static_cast<ptrdiff_t>(at), pool[Below(std::size(pool) - 1)]); break;
            case 2: if (at < text.size()) text.erase(at, 1 + Below(3)); break;
            case 3: if (at < text.size()) text[at] = static_cast<wchar_t>(Below(0x10000)); break;
            default: text.resize(at); break;
            }
        }
        return text;
    }

    std::vector<BYTE> Key()
    {
        std::vector<BYTE> key(Below(20));
        for (BYTE& b : key)
            b = static_cast<BYTE>(Below(256));
        return key;
    }

private:
    std::wstring Number()
    {
        static const wchar_t* const forms[] = {L"0", L"7", L"255", L"0x1F", L"0b101", L"017", L"65", L"-1",
                                               L"0xFFFFFFFFFFFFFFFF", L"9223372036854775807", L"64", L"3", L"26"};
        return Pick(forms);
    }

    std::wstring Variable()
    {
        static const wchar_t* const prefixes[] = {L"b", L"w", L"i", L"l", L"m", L"h", L"bh", L"wh", L"ih", L"mh"};
        static const wchar_t index[] = L"0123456789abcdefxyzl";
        std::wstring v = Pick(prefixes);
        const uint32_t n = 1 + Below(8);
        for (uint32_t i = 0; i < n; ++i)
            v += index[Below(std::size(index) - 1)];
        return v;
    }

    std::wstring Space() { return Chance(50) ? L" " : L""; }

    std::mt19937 m_rng;
};

size_t CountKeyChars(const std::wstring& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), KEYVEC_CHAR));
}

}  // namespace

TEST(FormatRobustness, GeneratedAndMutatedInputs)
{
    CGenerator gen(20240611);
    size_t parsed = 0, rejected = 0, rendered = 0;
    constexpr int kRounds = 200000;
    for (int round = 0; round < kRounds; ++round)
    {
        std::wstring params = gen.Params();
        std::wstring templ = gen.Template();
        if (round % 2)
            params = gen.Mutate(params);
        if (round % 3 == 0)
            templ = gen.Mutate(templ);
        const std::vector<BYTE> key = gen.Key();

        int position = 0;
        std::wstring message;
        const HRESULT check = ValidateFormat(params, templ, &position, &message);
        ASSERT_GE(position, -1);
        ASSERT_LE(position, static_cast<int>(std::max(params.size(), templ.size())));
        ASSERT_EQ(check == S_OK, message.empty());

        std::wstring unescaped;
        KeyVector unescapeKeys;
        UnescapeTemplate(unescaped, &unescapeKeys, templ);
        ASSERT_EQ(unescapeKeys.size(), CountKeyChars(unescaped));

        try
        {
            std::wstring out;
            KeyVector keys;
            RenderFormat(out, &keys, templ, params, key.data(), static_cast<int>(key.size()));
            ASSERT_LE(out.size(), kMaxRenderedLength);
            ASSERT_EQ(unescapeKeys, keys);
            ++rendered;
            ++parsed;
        }
        catch (const CKvParserException& e)
        {
            ASSERT_GE(e.GetPosition(), 0);
            ASSERT_LE(e.GetPosition(), static_cast<int>(params.size()));
            ASSERT_NE(nullptr, e.what());
            ++rejected;
        }
        std::wstring display;
        EscapeControlChars(display, templ.c_str(), static_cast<int>(templ.size()));
        ASSERT_GE(display.size(), templ.size());
    }
    EXPECT_EQ(static_cast<size_t>(kRounds), parsed + rejected);
    // The generator must reach both sides, or it proves little.
    EXPECT_GT(rendered, static_cast<size_t>(kRounds / 4));
    EXPECT_GT(rejected, static_cast<size_t>(kRounds / 20));
}

// The formatter against mingw's own C99 printf (linked into this test, not the Windows
// runtime's) for integer and floating specifiers the test generates itself, never a user's.
TEST(FormatRobustness, SpecifiersMatchC99Printf)
{
    CGenerator gen(77);
    static const char* const flags[] = {"", "-", "+", "0", " ", "#", "-0", "+0", "# ", "-+ #0"};
    static const char* const widths[] = {"", "1", "5", "12", "25"};
    static const char* const precisions[] = {"", ".", ".0", ".1", ".5", ".21"};
    // "g" is left to the tables: mingw's printf drops the padding of "%-12.21g".
    static const char* const convs[] = {"d", "i", "o", "u", "x", "X", "f", "e", "E"};
    static const int64_t values[] = {0, 1, -1, 7, -42, 255, 65535, 65536, 0x7FFFFFFF, -0x80000000LL,
                                     0x123456789ABCLL, INT64_MAX, INT64_MIN, 15, 125, 999999, 1000000};
    for (int round = 0; round < 20000; ++round)
    {
        const char conv = *convs[gen.Below(std::size(convs))];
        std::string flag = flags[gen.Below(std::size(flags))];
        const std::string rest = std::string(widths[gen.Below(std::size(widths))]) + precisions[gen.Below(std::size(precisions))];
        const std::string head = "%" + flag + rest;
        // "+" and " " belong to signed conversions; mingw's printf applies them to unsigned ones too.
        if (strchr("ouxX", conv))
            flag.erase(std::remove_if(flag.begin(), flag.end(), [](char c) { return c == '+' || c == ' '; }), flag.end());
        const std::string refHead = "%" + flag + rest;
        // "%#.0o" of 0 is "0"; mingw's printf prints nothing (the conversion table covers it).
        if (conv == 'o' && flag.find('#') != std::string::npos && rest.find('.') != std::string::npos)
            continue;
        const int64_t value = values[gen.Below(std::size(values))];
        const bool floating = strchr("feE", conv) != nullptr;
        const uint32_t size = floating ? 0 : gen.Below(3);  // 0: bare (64-bit), 1: "h", 2: "l"
        const std::string ours = head + (size == 1 ? "h" : size == 2 ? "l" : "") + conv;

        char expected[128];
        const std::string ref = refHead + (size == 1 ? "h" : size == 0 && !floating ? "ll" : "") + conv;
        if (floating)
            __mingw_snprintf(expected, sizeof(expected), ref.c_str(), static_cast<double>(value));
        else if (size == 0)
            __mingw_snprintf(expected, sizeof(expected), ref.c_str(), static_cast<long long>(value));
        else
            __mingw_snprintf(expected, sizeof(expected), ref.c_str(), static_cast<int>(value));

        // The smallest value has no literal: its magnitude saturates.
        const std::wstring params = value == INT64_MIN ? L"-9223372036854775807-1" : std::to_wstring(value);
        std::wstring out;
        RenderFormat(out, nullptr, std::wstring(ours.begin(), ours.end()), params, nullptr, 0);
        ASSERT_EQ(std::string(expected), std::string(out.begin(), out.end())) << ours << " of " << value;
    }
}
