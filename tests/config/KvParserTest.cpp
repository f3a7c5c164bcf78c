#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/ResultCodes.h"
#include "config/KvParser.h"

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

const BYTE kKey[] = {0x12, 0x34, 0x56};
const BYTE kLongKey[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};

struct ValueCase
{
    const wchar_t* text;
    std::vector<int64_t> values;
};

std::vector<int64_t> Run(const std::wstring& text, const BYTE* key, int length)
{
    CKvParser parser;
    parser.Parse(text);
    return parser.Evaluate(key, length);
}

void ExpectValues(const ValueCase* cases, size_t count, const BYTE* key, int length)
{
    for (size_t i = 0; i < count; ++i)
    {
        const ValueCase& c = cases[i];
        try
        {
            EXPECT_EQ(c.values, Run(c.text, key, length)) << "text '" << testing::PrintToString(c.text) << "'";
        }
        catch (const CKvParserException& e)
        {
            ADD_FAILURE() << "text " << testing::PrintToString(c.text) << " failed: " << e.what();
        }
    }
}

}  // namespace

TEST(KvParser, ValueListsAndNumbers)
{
    const ValueCase cases[] = {
        {L"", {}},
        {L"   ", {}},
        {L"1,2,3", {1, 2, 3}},
        {L"1 2 3", {1, 2, 3}},
        {L"1,", {1}},
        {L"09", {0, 9}},
        {L"08", {0, 8}},
        {L"0", {0}},
        {L"017", {15}},
        {L"0x1f", {31}},
        {L"0XaB", {0xAB}},
        {L"0b101", {5}},
        {L"0B11", {3}},
        {L"0b2", {0, 2}},  // the empty text of "0b" reads as 0, the digit as the next value
        {L"0xFFFFFFFFFFFFFFFF", {kMax}},
        {L"0x7FFFFFFFFFFFFFFF", {kMax}},
        {L"0x8000000000000000", {kMax}},
        {L"9223372036854775807", {kMax}},
        {L"99999999999999999999999", {kMax}},
        {L"-9223372036854775807", {-kMax}},
        {L"0777777777777777777777777", {kMax}},
        {L"\t1\r\n2 ", {1, 2}},
    };
    ExpectValues(cases, std::size(cases), kKey, 3);
}

TEST(KvParser, KeyByteVariables)
{
    const ValueCase cases[] = {
        {L"b0", {0x12}},
        {L"w01", {0x3412}},
        {L"w10", {0x1234}},
        {L"b9", {0}},
        {L"bf", {0}},
        {L"bl", {3}},
        {L"bz", {0}},
        {L"w0", {0x12}},
        {L"B0Q", {0x12}},
        {L"W2", {0x56}},
        {L"w2", {0x56}},
        {L"i012", {0x563412}},
        {L"l0123", {0x563412}},
        {L"m01234567", {0x563412}},
        {L"m2222222", {0x56565656565656}},
        {L"wl0", {0x1203}},
        {L"bx", {0x42}},
        {L"by", {0x42}},
        {L"h0", {2}},
        {L"h1", {1}},
        {L"h5", {5}},
        {L"h6", {0}},
        {L"hl", {3}},
        {L"hz", {0}},
        {L"bh01", {0x12}},
        {L"bh10", {0x21}},
        {L"bh", {0}},
        {L"wh0123", {0x3412}},
        {L"ih01234567", {0x563412}},
        {L"lhl", {3}},
        {L"mh0123456789abcdef", {0x563412}},
        {L"bhxy", {0x22}},
        {L"b0 b1 b2", {0x12, 0x34, 0x56}},
        {L"b0+b1", {0x46}},
    };
    ExpectValues(cases, std::size(cases), kKey, 3);
}

TEST(KvParser, CrcIndexesOverLongKey)
{
    const ValueCase cases[] = {
        {L"bx", {0x3D}},  // 01 12 34 56 78 9A BC
        {L"by", {0x42}},  // 01 12 34 56 00 00 00
        {L"bhxy", {0x2D}},
        {L"b6", {0xDE}},
        {L"bl", {7}},
        {L"x[6]", {0xDE}},
        {L"x[7]", {0}},
    };
    ExpectValues(cases, std::size(cases), kLongKey, 7);

    const ValueCase empty[] = {{L"bx by bl b0 h0 x[0]", {0, 0, 0, 0, 0, 0}}};
    ExpectValues(empty, std::size(empty), nullptr, 0);
}

TEST(KvParser, OperatorsAndPrecedence)
{
    const ValueCase cases[] = {
        {L"1+2*3", {7}},
        {L"(1+2)*3", {9}},
        {L"1-2-3", {-4}},
        {L"100/10/5", {2}},
        {L"7/2, -7/2, -7%2, 7%-2", {3, -3, -1, 1}},  // "1 -2" is one difference
        {L"1|2^3&4", {3}},
        {L"6&3 6^3 6|3", {2, 5, 7}},
        {L"1<<2+1", {8}},
        {L"2||0&&0", {1}},
        {L"0||0 0||3 3&&4 3&&0", {0, 1, 1, 0}},
        {L"!0 !5 ~0, --5, +-+5, -+-5", {1, 0, -1, 5, -5, 5}},
        {L"1 -2", {-1}},
        {L"-b0", {-0x12}},
        {L"1 << 64", {0}},
        {L"-8 >> 70", {-1}},
        {L"8 >> 70", {0}},
        {L"1 << 257", {2}},
        {L"1 << 63", {kMin}},
        {L"-1 >> 63", {-1}},
        {L"1 << -1", {0}},  // low 8 bits of the count: 255
        {L"-16 >> 2", {-4}},
        {L"9223372036854775807+1", {kMin}},
        {L"-(-9223372036854775807-1)", {kMin}},
        {L"9223372036854775807*2", {-2}},
        {L"5/0 5%0 0/0", {0, 0, 0}},
        {L"(-9223372036854775807-1)/-1", {kMin}},
        {L"(-9223372036854775807-1)%-1", {0}},
        {L"7%-1, -7/-1", {0, 7}},
    };
    ExpectValues(cases, std::size(cases), kKey, 3);
}

TEST(KvParser, Functions)
{
    const int64_t w26Marks = (1LL << 26) | (1LL << 37);
    const ValueCase cases[] = {
        {L"x[1]", {0x34}},
        {L"x[-1]", {0}},
        {L"x[3]", {0}},
        {L"x[1+1]", {0x56}},
        {L"x[0x100000000]", {0x12}},  // the index is taken as a signed 32-bit value
        {L"0 && get(1)", {0}},
        {L"0 && set(1,7), get(1)", {0, 0}},
        {L"1 || set(1,7), get(1)", {1, 0}},
        {L"set(1,5), get(1)+1", {5, 6}},
        {L"get(2)", {0}},
        {L"set(1,5), set(1,9), get(1)", {5, 9, 9}},
        {L"set(0x100000001,4), get(1)", {4, 4}},
        {L"set(1), get(1), get()", {0, 0, 0}},
        {L"log10(0)", {-1}},
        {L"log10(999)", {2}},
        {L"log10(1000)", {3}},
        {L"log10(5)", {0}},
        {L"log10(999999999999999999)", {17}},
        {L"log10(9223372036854775807)", {18}},
        {L"log10(-5)", {kMin}},
        {L"log10()", {0}},
        {L"rbit(1,1)", {128}},
        {L"rbit(2,1)", {32768}},
        {L"rbit(1,0x102)", {0x140}},
        {L"rbit(8,1)", {kMin}},
        {L"rbit(0,1) rbit(9,1) rbit(1)", {0, 0, 0}},
        {L"cbit(1,511)", {8}},
        {L"cbit(2,511)", {9}},
        {L"cbit(8,-1)", {64}},
        {L"cbit(0,1) cbit(9,1)", {0, 0}},
        {L"ds(1,0x31,0x32,0x33,0x34,0x35,0x36,0x37,0x38,0x39)", {0xA1}},
        {L"ds(1,0x12,0x34) ds(2,0x3412) ds(3,0x563412)", {0xA2, 0xA2, 0x15}},
        {L"ds(1) ds(0,5) ds(8,5) ds()", {0, 0, 0, 0}},
        {L"w(26,3,0)", {1 | w26Marks}},
        {L"w2(26,3,0)", {1}},
        {L"w2(26,3,0x123456)", {0x2468AC}},
        {L"w(26,3,0x123456)", {0x2468AC | w26Marks}},
        {L"w2(26,3,1)", {2}},
        {L"w2(26,3,0x800000)", {0x3000001}},
        {L"w2(26,1,0x56,0x34,0x12)", {0x2468AC}},
        {L"w2(35,4,0x1FFFFFFFF)", {0x1FFFFFFFE}},
        {L"w2(35,4,0xFFFFFFFF,1)", {0x7FFFFFFFE}},
        {L"w(35,4,0xFFFFFFFF,1)", {0x7FFFFFFFE | (1LL << 35) | (1LL << 37)}},
        {L"w(37,4,0)", {1}},
        {L"w2(64,1,0)", {1}},
        {L"w2(64,7,-1,-1)", {-2}},
        {L"w(0,3,1) w(65,3,1) w(26,0,1) w(26,8,1) w(26,3) w()", {0, 0, 0, 0, 0, 0}},
        {L"w2(2,1,0) w2(1,1,0)", {1, 1}},
    };
    ExpectValues(cases, std::size(cases), kKey, 3);
}

TEST(KvParser, VariableTableLivesFromParseToParse)
{
    CKvParser parser;
    parser.Parse(L"set(1, get(1) + 1)");
    EXPECT_EQ(std::vector<int64_t>{1}, parser.Evaluate(kKey, 3));
    EXPECT_EQ(std::vector<int64_t>{2}, parser.Evaluate(kKey, 3));
    parser.Parse(L"get(1)");  // a new text starts with an empty table
    EXPECT_EQ(std::vector<int64_t>{0}, parser.Evaluate(kKey, 3));
}

struct ErrorCase
{
    const wchar_t* text;
    HRESULT code;
    int position;
    const char* message;
};

TEST(KvParser, SyntaxErrors)
{
    const ErrorCase cases[] = {
        {L"1,,2", KV_E_UNEXPECTED_OPERATOR, 2, "Unexpected operator. \",\""},
        {L"0x", KV_E_UNEXPECTED_END, 2, "Unexpected end of expression. \"\""},
        {L"0b", KV_E_UNEXPECTED_END, 2, "Unexpected end of expression. \"\""},
        {L"0xg", KV_E_BAD_SUFFIX, 2, "Bad suffix on number. \"g\""},
        {L"1 + 0x ", KV_E_BAD_SUFFIX, 6, "Bad suffix on number. \" \""},
        {L"x(1)", KV_E_EXPECTED_OPEN, 2, "Expected '(' or '['. \"\""},
        {L"log10[5]", KV_E_EXPECTED_OPEN, 6, "Expected '(' or '['. \"\""},
        {L"log10 (5)", KV_E_UNKNOWN_KEYWORD, 0, "Unknown keyword. \"log10\""},
        {L"a", KV_E_UNKNOWN_KEYWORD, 0, "Unknown keyword. \"a\""},
        {L"  A", KV_E_UNKNOWN_KEYWORD, 2, "Unknown keyword. \"a\""},
        {L"b", KV_E_UNKNOWN_KEYWORD, 0, "Unknown keyword. \"b\""},
        {L"q1", KV_E_UNKNOWN_KEYWORD, 0, "Unknown keyword. \"q1\""},
        {L"bq", KV_E_UNKNOWN_KEYWORD, 0, "Unknown keyword. \"bq\""},
        {L"hh", KV_E_UNKNOWN_KEYWORD, 0, "Unknown keyword. \"hh\""},
        {L"w0g", KV_E_UNKNOWN_KEYWORD, 0, "Unknown keyword. \"w0g\""},
        {L"12ab", KV_E_UNKNOWN_KEYWORD, 2, "Unknown keyword. \"ab\""},
        {L"set", KV_E_UNKNOWN_KEYWORD, 0, "Unknown keyword. \"set\""},
        {L"x", KV_E_UNKNOWN_KEYWORD, 0, "Unknown keyword. \"x\""},
        {L"b0;", KV_E_UNKNOWN_SYMBOL, 2, "Unknown symbol. \";\""},
        {L"1 = 2", KV_E_UNKNOWN_SYMBOL, 2, "Unknown symbol. \"=\""},
        {L"_", KV_E_UNKNOWN_SYMBOL, 0, "Unknown symbol. \"_\""},
        {L"(1", KV_E_EXPECTED_CLOSE, 2, "Expected ')' or ']'. \"\""},
        {L"(1 2)", KV_E_EXPECTED_CLOSE, 3, "Expected ')' or ']'. \"2\""},
        {L"x[1)", KV_E_EXPECTED_CLOSE, 4, "Expected ')' or ']'. \"\""},
        {L"ds(1,2", KV_E_EXPECTED_CLOSE, 6, "Expected ')' or ']'. \"\""},
        {L"ds(1 b0)", KV_E_EXPECTED_CLOSE, 5, "Expected ')' or ']'. \"b0\""},
        {L"1+", KV_E_UNEXPECTED_END, 2, "Unexpected end of expression. \"\""},
        {L"-", KV_E_UNEXPECTED_END, 1, "Unexpected end of expression. \"\""},
        {L")", KV_E_UNEXPECTED_OPERATOR, 0, "Unexpected operator. \")\""},
        {L"1 * * 2", KV_E_UNEXPECTED_OPERATOR, 4, "Unexpected operator. \"*\""},
        {L"1 && || 2", KV_E_UNEXPECTED_OPERATOR, 5, "Unexpected operator. \"||\""},
        {L"ds(,1)", KV_E_UNEXPECTED_OPERATOR, 3, "Unexpected operator. \",\""},
        {L"1]", KV_E_UNEXPECTED_OPERATOR, 1, "Unexpected operator. \"]\""},
    };
    for (const ErrorCase& c : cases)
    {
        CKvParser parser;
        try
        {
            parser.Parse(c.text);
            ADD_FAILURE() << testing::PrintToString(c.text) << " parsed";
        }
        catch (const CKvParserException& e)
        {
            EXPECT_EQ(c.code, e.GetCode()) << testing::PrintToString(c.text);
            EXPECT_EQ(c.position, e.GetPosition()) << testing::PrintToString(c.text);
            EXPECT_STREQ(c.message, e.what()) << testing::PrintToString(c.text);
            EXPECT_EQ(0u, parser.GetCount());
        }
    }
}

TEST(KvParser, FailedParseLeavesNoRoots)
{
    CKvParser parser;
    parser.Parse(L"1, 2");
    ASSERT_EQ(2u, parser.GetCount());
    EXPECT_THROW(parser.Parse(L"3, 4, 5 +"), CKvParserException);
    EXPECT_EQ(0u, parser.GetCount());
    EXPECT_TRUE(parser.Evaluate(kKey, 3).empty());
}

// Texts that would exhaust the stack as recursion are refused at a bound no real format
// reaches; wide flat texts are fine.
TEST(KvParser, HostileDepthIsRefused)
{
    struct DepthCase
    {
        std::wstring text;
        bool ok;
        int position;
    } cases[] = {
        {std::wstring(128, L'(') + L"1" + std::wstring(128, L')'), true, 0},
        {std::wstring(100000, L'(') + L"1", false, 128},
        {std::wstring(100000, L'-') + L"1", false, 128},
        {std::wstring(100000, L'~') + L"1", false, 128},
        {std::wstring(100000, L'+') + L"1", true, 0},
        {L"1" + [] { std::wstring s; for (int i = 0; i < 255; ++i) s += L"+1"; return s; }(), true, 0},
        {L"1" + [] { std::wstring s; for (int i = 0; i < 100000; ++i) s += L"+1"; return s; }(), false, 511},
        {[] { std::wstring s; for (int i = 0; i < 100000; ++i) s += L"x["; return s; }(), false, 257},
        {[] { std::wstring s = L"ds(1"; for (int i = 0; i < 100000; ++i) s += L",1"; return s + L")"; }(), true, 0},
        {[] { std::wstring s; for (int i = 0; i < 100000; ++i) s += L"1 "; return s; }(), true, 0},
    };
    for (const DepthCase& c : cases)
    {
        CKvParser parser;
        try
        {
            parser.Parse(c.text);
            EXPECT_TRUE(c.ok) << testing::PrintToString(c.text.substr(0, 20));
            parser.Evaluate(kKey, 3);
        }
        catch (const CKvParserException& e)
        {
            EXPECT_FALSE(c.ok) << e.what();
            EXPECT_EQ(KV_E_UNEXPECTED_OPERATOR, e.GetCode());
            EXPECT_EQ(c.position, e.GetPosition());
        }
    }
}
