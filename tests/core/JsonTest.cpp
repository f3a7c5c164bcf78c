#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "core/Exceptions.h"
#include "core/File.h"
#include "core/Json.h"
#include "tests/support/TempFolder.h"

namespace
{

std::wstring Write(const JsonValue& v, const wchar_t* indent = L"\r\n")
{
    std::wstring out;
    v.Serialize(out, indent);
    return out;
}

JsonValue Parse(const std::wstring& text, bool expectOk = true)
{
    JsonValue v;
    JsonParseResult r = JsonParse(text, v);
    EXPECT_EQ(expectOk, r.ok) << "text: " << std::string(text.begin(), text.end());
    return v;
}

// Parses the one element of "[text]".
JsonParseResult ParseElement(const std::wstring& text, JsonValue& element)
{
    JsonValue v;
    std::wstring wrapped = L"[" + text + L"]";
    JsonParseResult r = JsonParse(wrapped, v);
    if (const JsonArray* a = v.ArrayPtr(); a && !a->empty())
        element = (*a)[0];
    return r;
}

}  // namespace

// ---- Model ----

TEST(JsonModel, CreateGivesEmptyPayloadOfEachType)
{
    EXPECT_EQ(L"null", Write(JsonValue::Create(JSON_NULL), L""));
    EXPECT_EQ(L"{}", Write(JsonValue::Create(JSON_OBJECT), L""));
    EXPECT_EQ(L"[]", Write(JsonValue::Create(JSON_ARRAY), L""));
    EXPECT_EQ(L"\"\"", Write(JsonValue::Create(JSON_STRING), L""));
    EXPECT_EQ(L"false", Write(JsonValue::Create(JSON_BOOL), L""));
    EXPECT_EQ(L"0", Write(JsonValue::Create(JSON_INT64), L""));
    EXPECT_EQ(L"0", Write(JsonValue::Create(JSON_DOUBLE), L""));
    EXPECT_EQ(JSON_DOUBLE, JsonValue::Create(JSON_DOUBLE).GetType());
    // A type that does not exist must not leave a tag without its payload.
    for (int bad : {-1, 7, 100})
        EXPECT_EQ(JSON_NULL, JsonValue::Create(bad).GetType());
}

TEST(JsonModel, RepeatedSetKeepsFirstPositionAndNewValue)
{
    JsonValue v;
    v.SetString(L"a", L"1");
    v.SetString(L"b", L"2");
    v.SetString(L"a", L"3");
    EXPECT_EQ(L"{\"a\":\"3\",\"b\":\"2\"}", Write(v, L""));
    v.SetInt64(L"b", 7);  // another type replaces the old value in place
    EXPECT_EQ(L"{\"a\":\"3\",\"b\":7}", Write(v, L""));
}

TEST(JsonModel, InsertionOrderIsNotKeyOrder)
{
    JsonValue v;
    for (const wchar_t* k : {L"zeta", L"Alpha", L"mid", L"alpha", L"\u00e9"})
        v.SetBool(k, true);
    EXPECT_EQ(L"{\"zeta\":true,\"Alpha\":true,\"mid\":true,\"alpha\":true,\"\u00e9\":true}", Write(v, L""));
    EXPECT_EQ(5u, v.ObjectPtr()->Count());
    EXPECT_NE(nullptr, v.FindMember(L"alpha", JSON_BOOL));
    EXPECT_EQ(nullptr, v.FindMember(L"ALPHA"));  // keys are case-sensitive
}

TEST(JsonModel, TypedGettersMatchExactType)
{
    JsonValue v = Parse(L"{\"d\":1.0,\"i\":5,\"s\":\"x\",\"b\":true,\"n\":null}");
    int64_t i = -1;
    double d = -1;
    std::wstring s = L"untouched";
    bool b = false;
    EXPECT_FALSE(v.GetInt64(L"d", i));  // a double never counts as an integer
    EXPECT_EQ(-1, i);
    EXPECT_TRUE(v.GetDouble(L"d", d));
    EXPECT_EQ(1.0, d);
    EXPECT_FALSE(v.GetDouble(L"i", d));
    EXPECT_TRUE(v.GetInt64(L"i", i));
    EXPECT_EQ(5, i);
    EXPECT_FALSE(v.GetString(L"i", s));
    EXPECT_FALSE(v.GetString(L"missing", s));
    EXPECT_EQ(L"untouched", s);
    EXPECT_TRUE(v.GetString(L"s", s));
    EXPECT_EQ(L"x", s);
    EXPECT_TRUE(v.GetBool(L"b", b));
    EXPECT_TRUE(b);
    EXPECT_NE(nullptr, v.FindMember(L"n", JSON_NULL));
    EXPECT_EQ(nullptr, v.FindMember(L"n", JSON_OBJECT));
    // Keyed reads on a value that is not an object.
    JsonValue arr = Parse(L"[1]");
    EXPECT_FALSE(arr.GetInt64(L"0", i));
    EXPECT_EQ(nullptr, arr.FindMember(L"0"));
}

TEST(JsonModel, SetStringOnArrayMakesObjectWithThatMember)
{
    JsonValue v = Parse(L"[1,2,3]");
    v.SetString(L"k", L"v");
    EXPECT_EQ(L"{\"k\":\"v\"}", Write(v, L""));
}

TEST(JsonModel, CopyIsDeepAndLeavesSourceIntact)
{
    const std::wstring text = L"{\"o\":{\"a\":[1,{\"b\":\"s\"}],\"c\":2.5},\"s\":\"t\"}";
    JsonValue src = Parse(text);
    JsonValue copy(src);
    EXPECT_EQ(text, Write(src, L""));
    EXPECT_EQ(text, Write(copy, L""));
    copy.FindMember(L"o")->FindMember(L"a")->ArrayPtr()->at(1).SetString(L"b", L"changed");
    copy.SetInt64(L"new", 1);
    EXPECT_EQ(text, Write(src, L""));
    JsonValue assigned;
    assigned = src;
    EXPECT_EQ(text, Write(assigned, L""));
    EXPECT_EQ(text, Write(src, L""));
    // A copy's map must point to its own members.
    assigned.SetString(L"s", L"u");
    EXPECT_EQ(L"t", *src.FindMember(L"s")->StringPtr());
    JsonValue moved(std::move(assigned));
    EXPECT_TRUE(assigned.IsNull());
    EXPECT_EQ(L"u", *moved.FindMember(L"s")->StringPtr());
    src = src;  // self-assignment keeps the value
    EXPECT_EQ(text, Write(src, L""));
}

TEST(JsonModel, SetTypeKeepsSameTypeAndReplacesOther)
{
    JsonValue v = Parse(L"{\"a\":1}");
    v.SetType(JSON_OBJECT);
    EXPECT_EQ(L"{\"a\":1}", Write(v, L""));
    v.SetType(JSON_ARRAY);
    EXPECT_EQ(L"[]", Write(v, L""));
    v.FreePayload();
    EXPECT_TRUE(v.IsNull());
}

// ---- Writer ----

TEST(JsonWriter, SettingsLayoutByteForByte)
{
    JsonValue root;
    root.Member(L"info").SetString(L"name", L"x");
    root.Member(L"list").AssignArray();
    EXPECT_EQ(L"{\r\n"
              L"\t\"info\": {\r\n"
              L"\t\t\"name\": \"x\"\r\n"
              L"\t},\r\n"
              L"\t\"list\": []\r\n"
              L"}\r\n",
              Write(root));
}

TEST(JsonWriter, NestedArraysAndScalarsLayout)
{
    JsonValue root = Parse(L"{\"a\":[1,[true,null],{}],\"b\":\"\"}");
    EXPECT_EQ(L"{\r\n"
              L"\t\"a\": [\r\n"
              L"\t\t1,\r\n"
              L"\t\t[\r\n"
              L"\t\t\ttrue,\r\n"
              L"\t\t\tnull\r\n"
              L"\t\t],\r\n"
              L"\t\t{}\r\n"
              L"\t],\r\n"
              L"\t\"b\": \"\"\r\n"
              L"}\r\n",
              Write(root));
    EXPECT_EQ(L"42\r\n", Write(Parse(L"42")));
    EXPECT_EQ(L"[]\r\n", Write(Parse(L"[]")));
}

TEST(JsonWriter, CompactOutputHasNoWhitespace)
{
    JsonValue root = Parse(L" { \"a\" : [ 1 , 2 ] ,\r\n \"b\" : { \"c\" : null } } ");
    EXPECT_EQ(L"{\"a\":[1,2],\"b\":{\"c\":null}}", Write(root, L""));
}

TEST(JsonWriter, AppendsAndKeepsCallersIndent)
{
    std::wstring out = L"prefix";
    std::wstring indent = L"\r\n";
    Parse(L"{\"a\":{\"b\":1}}").Serialize(out, indent);
    EXPECT_EQ(L"\r\n", indent);
    EXPECT_EQ(L"prefix{\r\n\t\"a\": {\r\n\t\t\"b\": 1\r\n\t}\r\n}\r\n", out);
}

TEST(JsonWriter, StringEscapes)
{
    struct Case
    {
        std::wstring value;
        const wchar_t* written;
    } cases[] = {
        {L"a/b", L"\"a\\/b\""},
        {L"q\"b\\", L"\"q\\\"b\\\\\""},
        {L"\b\f\n\r\t", L"\"\\b\\f\\n\\r\\t\""},
        {std::wstring(1, L'\x7f'), L"\"\\u007f\""},
        {std::wstring(1, L'\0') + L"\x01\x1f", L"\"\\u0000\\u0001\\u001f\""},
        {L"\x1b[0m", L"\"\\u001b[0m\""},
        {L"\u0416\u00e9\u20ac", L"\"\u0416\u00e9\u20ac\""},  // non-ASCII unchanged
        {L"\xD83D\xDE00", L"\"\xD83D\xDE00\""},
        {L"\x80 ~", L"\"\x80 ~\""},
    };
    for (const Case& c : cases)
    {
        JsonValue v;
        v.AssignString(c.value);
        EXPECT_EQ(c.written, Write(v, L""));
        // And back again.
        JsonValue back = Parse(c.written);
        ASSERT_NE(nullptr, back.StringPtr());
        EXPECT_EQ(c.value, *back.StringPtr());
    }
}

TEST(JsonWriter, DoubleForms)
{
    struct Case
    {
        double value;
        const wchar_t* written;
    } cases[] = {
        {3.0, L"3"},
        {-7.0, L"-7"},
        {1.5, L"1.5"},
        {0.1, L"0.10000000000000001"},
        {-2.5e-5, L"-2.5000000000000001e-05"},
        {1e300, L"1.0000000000000001e+300"},
        {9007199254740991.0, L"9007199254740991"},
        {9007199254740992.0, L"9007199254740992"},  // 2^53 takes the %.17g branch
        {1e16, L"10000000000000000"},
        {1e17, L"1e+17"},
        {123456.75, L"123456.75"},
        {std::numeric_limits<double>::infinity(), L"null"},
        {-std::numeric_limits<double>::infinity(), L"null"},
        {std::numeric_limits<double>::quiet_NaN(), L"null"},
    };
    for (const Case& c : cases)
    {
        JsonValue v;
        v.AssignDouble(c.value);
        EXPECT_EQ(c.written, Write(v, L"")) << c.value;
    }
    JsonValue v;
    v.AssignInt64(INT64_MIN);
    EXPECT_EQ(L"-9223372036854775808", Write(v, L""));
}

TEST(JsonWriter, NonFiniteDoubleKeepsFileReadable)
{
    JsonValue root;
    root.SetDouble(L"x", std::numeric_limits<double>::infinity());
    root.SetDouble(L"y", 2.0);
    std::wstring text = Write(root);
    JsonValue back = Parse(text);
    EXPECT_NE(nullptr, back.FindMember(L"x", JSON_NULL));
    int64_t y = 0;
    EXPECT_TRUE(back.GetInt64(L"y", y));  // an integral double reads back as an integer
    EXPECT_EQ(2, y);
}

TEST(JsonWriter, NumbersIgnoreRuntimeLocale)
{
    std::wstring saved = _wsetlocale(LC_ALL, nullptr);
    const wchar_t* set = _wsetlocale(LC_ALL, L"German_Germany");
    if (!set)
        set = _wsetlocale(LC_ALL, L"French_France");
    ASSERT_NE(nullptr, set) << "no locale with a decimal comma";
    ASSERT_EQ(',', *localeconv()->decimal_point);
    JsonValue v = Parse(L"[1.5,2e3,0.25]");
    _wsetlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(3u, v.ArrayPtr()->size());
    EXPECT_EQ(1.5, (*v.ArrayPtr())[0].DoubleValue());
    EXPECT_EQ(2000.0, (*v.ArrayPtr())[1].DoubleValue());
    _wsetlocale(LC_ALL, L"German_Germany");
    std::wstring text = Write(v, L"");
    _wsetlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(L"[1.5,2000,0.25]", text);
}

// ---- Reader ----

TEST(JsonReader, NumberTable)
{
    struct Case
    {
        const wchar_t* text;
        int type;  // JSON_NULL: the element must fail
        int64_t i;
        double d;
    } cases[] = {
        {L"42", JSON_INT64, 42, 0},
        {L"-7", JSON_INT64, -7, 0},
        {L"+3", JSON_INT64, 3, 0},
        {L"0", JSON_INT64, 0, 0},
        {L"-0", JSON_INT64, 0, 0},
        {L"1.5", JSON_DOUBLE, 0, 1.5},
        {L"0.9", JSON_DOUBLE, 0, 0.9},
        {L"0.25", JSON_DOUBLE, 0, 0.25},
        {L"2e3", JSON_DOUBLE, 0, 2000},
        {L"-1.25E-2", JSON_DOUBLE, 0, -0.0125},
        {L"+.5", JSON_DOUBLE, 0, 0.5},
        {L"5.", JSON_DOUBLE, 0, 5},
        {L"0x1F", JSON_INT64, 31, 0},
        {L"0xff", JSON_INT64, 255, 0},
        {L"0b101", JSON_INT64, 5, 0},
        {L"017", JSON_INT64, 15, 0},
        {L"00", JSON_INT64, 0, 0},
        {L"017.5", JSON_DOUBLE, 0, 17.5},  // the point turns the octal text into a decimal one
        {L"9223372036854775807", JSON_INT64, INT64_MAX, 0},
        {L"-9223372036854775808", JSON_INT64, INT64_MIN, 0},
        {L"9223372036854775808", JSON_DOUBLE, 0, 9223372036854775808.0},
        {L"0x8000000000000000", JSON_NULL, 0, 0},  // no decimal reading of hex digits
        {L"0777777777777777777777777", JSON_NULL, 0, 0},
        {L"0x1.8", JSON_DOUBLE, 0, 1.8},
        {L"1e400", JSON_DOUBLE, 0, std::numeric_limits<double>::infinity()},
        {L"-1e400", JSON_DOUBLE, 0, -std::numeric_limits<double>::infinity()},
        {L"1e-400", JSON_DOUBLE, 0, 0.0},
        {L"08", JSON_NULL, 0, 0},  // 8 is no octal digit: the 8 breaks the array
        {L"1,", JSON_NULL, 0, 0},
        {L"0x", JSON_NULL, 0, 0},
        {L"0b2", JSON_NULL, 0, 0},
        {L"0x-1", JSON_NULL, 0, 0},
        {L"-", JSON_NULL, 0, 0},
        {L"+", JSON_NULL, 0, 0},
        {L"+-1", JSON_NULL, 0, 0},
        {L"--1", JSON_NULL, 0, 0},
        {L"1-2", JSON_NULL, 0, 0},
        {L"1e", JSON_NULL, 0, 0},
        {L"1.2.3", JSON_NULL, 0, 0},
        {L".5", JSON_NULL, 0, 0},
        {L"e5", JSON_NULL, 0, 0},
        {L"1 2", JSON_NULL, 0, 0},
        {L"Infinity", JSON_NULL, 0, 0},
        {L"NaN", JSON_NULL, 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.text, c.text + wcslen(c.text)));
        JsonValue e;
        JsonParseResult r = ParseElement(c.text, e);
        if (c.type == JSON_NULL)
        {
            EXPECT_FALSE(r.ok);
            continue;
        }
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(c.type, e.GetType());
        if (c.type == JSON_INT64)
            EXPECT_EQ(c.i, e.Int64Value());
        else
            EXPECT_EQ(c.d, e.DoubleValue());
    }
}

TEST(JsonReader, ZeroAtEndOfInputIsOctalZero)
{
    JsonValue v;
    std::wstring text = L"0";
    JsonParseResult r = JsonParse(text, v);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(text.data() + 1, r.stop);
    EXPECT_EQ(JSON_INT64, v.GetType());
    EXPECT_EQ(0, v.Int64Value());
}

TEST(JsonReader, IntegralDoubleReadsBackAsInteger)
{
    JsonValue v;
    v.AssignDouble(3.0);
    std::wstring text = Write(v, L"");
    EXPECT_EQ(L"3", text);
    JsonValue back = Parse(text);
    EXPECT_EQ(JSON_INT64, back.GetType());
    EXPECT_EQ(3, back.Int64Value());
}

TEST(JsonReader, StringEscapeTable)
{
    struct Case
    {
        const wchar_t* text;  // JSON string text with its quotes
        bool ok;
        std::wstring value;
    } cases[] = {
        {L"\"\\u0041\"", true, L"A"},
        {L"\"\\u00e9\\u00C9\"", true, L"\u00e9\u00c9"},
        {L"\"\\uD83D\\uDE00\"", true, L"\xD83D\xDE00"},
        {L"\"\\uDE00\"", false, L""},          // lone low surrogate
        {L"\"\\uD83D\"", false, L""},          // high surrogate at the end
        {L"\"\\uD83Dx\"", false, L""},         // high surrogate followed by a letter
        {L"\"\\uD83D\\u0041\"", false, L""},   // high surrogate followed by no low one
        {L"\"\\uD83D\\uD83D\"", false, L""},   // two high surrogates
        {L"\"\\t\"", true, L"\t"},
        {L"\"a\tb\"", false, L""},             // raw TAB
        {L"\"a\nb\"", false, L""},             // raw line feed
        {L"\"\\/\\\\\\\"\"", true, L"/\\\""},
        {L"\"\\b\\f\\n\\r\"", true, L"\b\f\n\r"},
        {L"\"\\a\"", false, L""},
        {L"\"\\x41\"", false, L""},
        {L"\"\\u004\"", false, L""},
        {L"\"\\u00G1\"", false, L""},
        {L"\"\\", false, L""},
        {L"\"abc", false, L""},
        {L"\"\xDE00 raw\"", true, L"\xDE00 raw"},  // unescaped code units pass unchanged
        {L"\"\x7f\"", true, L"\x7f"},
        {L"\"\"", true, L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.text, c.text + wcslen(c.text)));
        JsonValue v;
        JsonParseResult r = JsonParse(std::wstring_view(c.text), v);
        EXPECT_EQ(c.ok, r.ok);
        if (c.ok)
        {
            ASSERT_NE(nullptr, v.StringPtr());
            EXPECT_EQ(c.value, *v.StringPtr());
        }
    }
}

TEST(JsonReader, LiteralsAndStructureTable)
{
    struct Case
    {
        const wchar_t* text;
        bool ok;
        const wchar_t* compact;  // what was built, written compactly
    } cases[] = {
        {L"true", true, L"true"},
        {L"false", true, L"false"},
        {L"null", true, L"null"},
        {L"tru", false, L"null"},
        {L"nul", false, L"null"},
        {L"falsy", false, L"null"},
        {L"True", false, L"null"},
        {L"", false, L"null"},
        {L" \t\r\n ", false, L"null"},
        {L"[]", true, L"[]"},
        {L"[ ]", true, L"[]"},
        {L"{ }", true, L"{}"},
        {L"[1,]", false, L"[1,null]"},
        {L"[,1]", false, L"[null]"},
        {L"[1 2]", false, L"[1]"},
        {L"[1", false, L"[1]"},
        {L"{\"a\":1,}", false, L"{\"a\":1}"},
        {L"{\"a\" 1}", false, L"{}"},  // the member is added only after its colon
        {L"{a:1}", false, L"{}"},
        {L"{'a':1}", false, L"{}"},
        {L"{\"a\":1", false, L"{\"a\":1}"},
        {L"{\"a\":{\"b\":[1,2", false, L"{\"a\":{\"b\":[1,2]}}"},
        {L"{\"a\":1,\"b\":", false, L"{\"a\":1,\"b\":null}"},
        {L"]", false, L"null"},
        {L"@", false, L"null"},
        {L"{\"a\":1,\"b\":2,\"a\":3}", true, L"{\"a\":3,\"b\":2}"},
        {L"{\"a\":{\"x\":1},\"a\":{\"y\":2}}", true, L"{\"a\":{\"y\":2}}"},
        {L"{\"a\":[1,2],\"a\":[3]}", true, L"{\"a\":[3]}"},
        {L"1 trailing", true, L"1"},  // text after the value is not examined
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.text, c.text + wcslen(c.text)));
        JsonValue v;
        JsonParseResult r = JsonParse(std::wstring_view(c.text), v);
        EXPECT_EQ(c.ok, r.ok);
        EXPECT_EQ(c.compact, Write(v, L""));
    }
}

TEST(JsonReader, StopPositionIsReported)
{
    struct Case
    {
        const wchar_t* text;
        bool ok;
        size_t stop;
    } cases[] = {
        {L"{\"a\":1} x", true, 7},
        {L"  42  ", true, 4},
        {L"[1,2,@]", false, 5},
        {L"\"ab", false, 3},
        {L"{\"a\":1,}", false, 7},
    };
    for (const Case& c : cases)
    {
        std::wstring_view text(c.text);
        JsonValue v;
        JsonParseResult r = JsonParse(text, v);
        EXPECT_EQ(c.ok, r.ok) << c.stop;
        EXPECT_EQ(c.stop, static_cast<size_t>(r.stop - text.data())) << c.stop;
    }
}

TEST(JsonReader, RoundTripIsStable)
{
    const wchar_t* inputs[] = {
        L"{\"info\":{\"name\":\"Norvane\",\"version\":\"1.6\"},\"main\":{\"docDir\":\"C:\\\\Data\\/x\"}}",
        L"[1,-2,3.25,1e-7,1.7976931348623157e308,-9223372036854775808,true,false,null,\"\"]",
        L"{\"z\":{},\"y\":[],\"x\":[[],[{}]],\"w\":\"\\u0001\\u007f\\t\\\"\"}",
        L"{\"k\":\"\\uD83D\\uDE00\u0416\",\"n\":0x10,\"b\":0b11,\"o\":010,\"p\":+5}",
        L"{\"d\":[0.1,0.2,0.30000000000000004,123456789.125,5e-324,2.2250738585072014e-308]}",
        L"  {\r\n\t\"spaced\" :\t[ 1 ,\n 2 ]\r\n}  ",
        L"\"just a string\"",
        L"12345678901234567890",
    };
    for (const wchar_t* input : inputs)
    {
        SCOPED_TRACE(std::string(input, input + wcslen(input)));
        for (const wchar_t* indent : {L"\r\n", L""})
        {
            std::wstring first = Write(Parse(input), indent);
            std::wstring second = Write(Parse(first), indent);
            EXPECT_EQ(first, second);
        }
    }
}

TEST(JsonReader, NestingLimit)
{
    auto nested = [](int depth, wchar_t open, wchar_t close) {
        std::wstring s;
        for (int i = 0; i < depth; ++i)
            s += open == L'{' ? std::wstring(L"{\"k\":") : std::wstring(1, open);
        s += L"1";
        s.append(depth, close);
        return s;
    };
    for (auto [open, close] : {std::pair{L'[', L']'}, std::pair{L'{', L'}'}})
    {
        JsonValue v;
        EXPECT_TRUE(JsonParse(nested(kJsonMaxDepth, open, close), v).ok);
        EXPECT_FALSE(JsonParse(nested(kJsonMaxDepth + 1, open, close), v).ok);
        // Far beyond the limit: fails instead of exhausting the stack.
        EXPECT_FALSE(JsonParse(std::wstring(1000000, open), v).ok);
    }
}

TEST(JsonDocument, LoadFromTextReportsPartialRoot)
{
    CMemJson doc;
    EXPECT_FALSE(doc.LoadFromText(L"{\"main\":{\"a\":1},\"transfer\":{\"b\":"));
    EXPECT_FALSE(doc.ParsedWhole());
    EXPECT_EQ(32u, doc.ParseStopOffset());
    // The members read before the break stay available to the caller.
    ASSERT_NE(nullptr, doc.Root.FindMember(L"main", JSON_OBJECT));
    int64_t a = 0;
    EXPECT_TRUE(doc.Root.FindMember(L"main")->GetInt64(L"a", a));
    EXPECT_EQ(1, a);
    EXPECT_TRUE(doc.LoadFromText(L"{\"x\":true}\r\n"));
    EXPECT_TRUE(doc.ParsedWhole());
    EXPECT_EQ(10u, doc.ParseStopOffset());
    EXPECT_EQ(nullptr, doc.Root.FindMember(L"main"));
}

TEST(JsonDocument, ResourceWithAndWithoutBomParseAlike)
{
    CMemJson withBom, plain;
    EXPECT_TRUE(withBom.LoadFromResource(9001));
    EXPECT_TRUE(plain.LoadFromResource(9002));
    const wchar_t* expected = L"{\"name\":\"Norvane\",\"list\":[1,2.5,\"\u0416\"]}";
    EXPECT_EQ(expected, Write(withBom.Root, L""));
    EXPECT_EQ(expected, Write(plain.Root, L""));
}

TEST(JsonDocument, MissingResourceThrowsOSException)
{
    CMemJson doc;
    try
    {
        doc.LoadFromResource(9999);
        FAIL() << "no exception";
    }
    catch (const COSException& e)
    {
        DWORD code = e.GetCode();
        EXPECT_TRUE(code == ERROR_RESOURCE_TYPE_NOT_FOUND || code == ERROR_RESOURCE_NAME_NOT_FOUND) << code;
    }
    EXPECT_TRUE(doc.Root.IsNull());
}

TEST(JsonDocument, FileBrokenInsideObjectKeepsMembersBeforeBreak)
{
    CTempFolder dir;
    std::wstring path = dir.File(L"broken.json");
    WriteUtf8TextFile(path, L"{\"a\": 1, \"b\": \"two\", \"c\": [3, ");
    CMemJson doc;
    EXPECT_FALSE(doc.LoadFromFile(path));
    EXPECT_EQ(L"{\"a\":1,\"b\":\"two\",\"c\":[3,null]}", Write(doc.Root, L""));
    // The written layout reads back whole.
    std::wstring text;
    doc.Root.Serialize(text, L"\r\n");
    WriteUtf8TextFile(path, text);
    EXPECT_TRUE(doc.LoadFromFile(path));
    EXPECT_EQ(L"{\"a\":1,\"b\":\"two\",\"c\":[3,null]}", Write(doc.Root, L""));
    EXPECT_THROW(doc.LoadFromFile(dir.File(L"missing.json")), CFileException);
}

// Seeded mutations and truncations of valid documents: the reader must always return,
// within the text, with a verdict; what it accepts must write and read back stably.
TEST(JsonReader, MutatedInputsNeverCrash)
{
    const std::wstring seeds[] = {
        L"{\r\n\t\"info\": {\r\n\t\t\"name\": \"Norvane\",\r\n\t\t\"version\": \"1.6\"\r\n\t},\r\n"
        L"\t\"list\": [1, -2, 3.5, 0x1F, 0b101, 017, true, false, null],\r\n"
        L"\t\"s\": \"a\\u0041\\uD83D\\uDE00\\n\\/\"\r\n}\r\n",
        L"[[[{\"a\":[{},[]]}]],{\"b\":{\"c\":{\"d\":\"e\"}}},1e5,-0.25]",
        L"{\"keys\":[{\"t\":1,\"n\":\"0102030405\"},{\"t\":2,\"n\":\"FF\"}],\"m\":9223372036854775807}",
    };
    const wchar_t alphabet[] = L"{}[]\":,\\/ \t\r\n0123456789+-.eExXbBuU\"truefalsenull\xD83D\xDE00\x01\x7f";
    std::mt19937 rng(20240611);
    int parsed = 0, failed = 0;
    for (int n = 0; n < 100000; ++n)
    {
        std::wstring s = seeds[n % 3];
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !s.empty(); ++e)
        {
            size_t pos = rng() % s.size();
            wchar_t c = alphabet[rng() % (sizeof alphabet / sizeof(wchar_t) - 1)];
            switch (rng() % 5)
            {
            case 0: s[pos] = c; break;
            case 1: s.insert(s.begin() + pos, c); break;
            case 2: s.erase(pos, 1 + rng() % 3); break;
            case 3: s.resize(pos); break;  // truncation
            case 4: s.insert(pos, s.substr(rng() % s.size(), rng() % 8)); break;
            }
        }
        JsonValue v;
        JsonParseResult r = JsonParse(s, v);
        ASSERT_TRUE(r.stop >= s.data() && r.stop <= s.data() + s.size()) << n;
        if (!r.ok)
        {
            ++failed;
            continue;
        }
        ++parsed;
        std::wstring once = Write(v);
        JsonValue again;
        ASSERT_TRUE(JsonParse(once, again).ok) << n;
        std::wstring twice = Write(again);
        JsonValue third;
        ASSERT_TRUE(JsonParse(twice, third).ok) << n;
        // An integral double may turn into an integer once ("-0" into 0); then it is stable.
        ASSERT_EQ(twice, Write(third)) << n;
    }
    EXPECT_GT(parsed, 1000);
    EXPECT_GT(failed, 1000);
}
