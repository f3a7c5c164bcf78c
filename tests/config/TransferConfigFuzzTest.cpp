#include <gtest/gtest.h>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>
#include "tests/config/TransferTestUtil.h"

using namespace transfer_test;

namespace {

class CMutator
{
public:
    explicit CMutator(uint32_t seed) : m_rng(seed) {}

    int Below(int n) { return static_cast<int>(m_rng() % static_cast<uint32_t>(n)); }

    JsonValue RandomValue()
    {
        static const int64_t numbers[] = {0,          -1,         1,          2,          12,         13,
                                          21,         22,         31,         32,         39,         40,
                                          255,        256,        1000,       65534,      65535,      65536,
                                          2147483647, -2147483648LL, 4294967295LL, 4294967296LL,
                                          std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()};
        static const wchar_t* const texts[] = {L"",           L"x",          L"0102",        L"3C917A5E08D4",
                                               L"reader:COM3", L"keylist:",   L":",           L"http:",
                                               L"\n",          L"zz",         L"1,2;3,4,5;",  L";;;",
                                               L"\\",          L"\"",         L"\xD800",      L"%KeyNum%",
                                               L"1.6",         L"Norvane",    L"-1,-1,-1;"};
        JsonValue value;
        switch (Below(9)) {
        case 0:
            value.AssignInt64(numbers[Below(static_cast<int>(std::size(numbers)))]);
            break;
        case 1:
            value.AssignInt64(static_cast<int64_t>((static_cast<uint64_t>(m_rng()) << 32) | m_rng()));
            break;
        case 2:
            value.AssignString(texts[Below(static_cast<int>(std::size(texts)))]);
            break;
        case 3:
            value.AssignString(std::wstring(1 + Below(3000), static_cast<wchar_t>(L'0' + Below(80))));
            break;
        case 4:
            value.AssignBool(Below(2) != 0);
            break;
        case 5:
            value.AssignDouble(Below(2) ? 1.5 : 3.0);
            break;
        case 6:
            value.AssignObject();
            break;
        case 7:
            value.AssignArray();
            break;
        default:
            break;  // null
        }
        return value;
    }

    // Changes a few nodes of the tree: new values, grown or emptied arrays, extra members.
    void MutateTree(JsonValue& root)
    {
        static const wchar_t* const keys[] = {L"id", L"name", L"keys", L"keyFilters", L"formats", L"key",
                                              L"keyType", L"keyNumber", L"params", L"sector", L"block",
                                              L"model", L"port", L"enabled", L"preset", L"newId", L"search"};
        int changes = 1 + Below(4);
        for (int n = 0; n < changes; ++n) {
            std::vector<JsonValue*> nodes;
            Collect(root, nodes);
            JsonValue* node = nodes[Below(static_cast<int>(nodes.size()))];
            if (JsonArray* array = node->ArrayPtr(); array && !array->empty() && Below(2)) {
                if (Below(3) == 0) {
                    array->clear();
                } else {
                    JsonValue copy = (*array)[Below(static_cast<int>(array->size()))];
                    int repeat = 1 + Below(50);
                    for (int i = 0; i < repeat; ++i)
                        array->push_back(copy);
                }
            } else if (node->GetType() == JSON_OBJECT && Below(2)) {
                node->Member(keys[Below(static_cast<int>(std::size(keys)))]) = RandomValue();
            } else if (node != &root) {
                *node = RandomValue();
            }
        }
    }

    // Breaks the text: cuts, deletions, inserted JSON punctuation, changed digits.
    void MutateText(std::wstring& text)
    {
        static const wchar_t punctuation[] = L"{}[],:\"\\0123456789-+.eExtfn ";
        int changes = 1 + Below(3);
        for (int n = 0; n < changes && !text.empty(); ++n) {
            size_t at = static_cast<size_t>(m_rng() % text.size());
            switch (Below(4)) {
            case 0:
                text.resize(at);
                break;
            case 1:
                text.erase(at, 1 + Below(20));
                break;
            case 2:
                text.insert(at, 1, punctuation[Below(static_cast<int>(std::size(punctuation)) - 1)]);
                break;
            default:
                text[at] = static_cast<wchar_t>(L'0' + Below(10));
                break;
            }
        }
    }

    const wchar_t* RandomVersion()
    {
        static const wchar_t* const versions[] = {L"1.1", L"1.2", L"1.3", L"1.4", L"1.5", L"1.6", L"1.6", L"1.6"};
        return versions[Below(static_cast<int>(std::size(versions)))];
    }

private:
    static void Collect(JsonValue& value, std::vector<JsonValue*>& nodes)
    {
        nodes.push_back(&value);
        if (JsonObject* object = value.ObjectPtr()) {
            for (size_t i = 0; i < object->Count(); ++i)
                Collect(object->At(i).value, nodes);
        } else if (JsonArray* array = value.ArrayPtr()) {
            for (JsonValue& element : *array)
                Collect(element, nodes);
        }
    }

    std::mt19937 m_rng;
};

std::wstring Serialize(const JsonValue& value)
{
    std::wstring text;
    value.Serialize(text, L"\r\n");
    return text;
}

// The saved text is one complete JSON value followed by the final line break, and writing
// what it parses to gives the same text.
void ExpectValidJson(const std::wstring& saved)
{
    JsonValue parsed;
    JsonParseResult result = JsonParse(saved, parsed);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(std::wstring(L"\r\n"), std::wstring(result.stop, saved.c_str() + saved.size()));
    ASSERT_EQ(JSON_OBJECT, parsed.GetType());
    ASSERT_EQ(saved, Serialize(parsed));
}

}  // namespace

TEST(TransferConfigFuzz, MutatedConfigurationsLoadAndSaveToValidJson)
{
    std::string bytes = ReadBytes(DataPath(L"full.nv2"));
    ASSERT_GT(bytes.size(), 3u);
    const std::wstring baseText = MultiByteToWString(bytes.substr(3), CP_UTF8);
    JsonValue base;
    ASSERT_TRUE(JsonParse(baseText, base).ok);

    CMutator mutator(0x5EED0005);
    const int kRounds = 20000;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        std::wstring text;
        if (round % 4 == 0) {
            text = baseText;
            mutator.MutateText(text);
        } else {
            JsonValue tree = base;
            tree.Member(L"info").SetString(L"version", mutator.RandomVersion());
            mutator.MutateTree(tree);
            text = Serialize(tree);
        }
        const uint32_t parts = mutator.Below(4) == 0 ? static_cast<uint32_t>(mutator.Below(0x80)) : kSavedPartsAll;

        CTransferDoc doc;
        doc.SetSavedParts(parts);
        LoadText(doc, text);
        const std::wstring saved = SaveText(doc);
        ExpectValidJson(saved);
        if (HasFatalFailure())
            return;

        // What was saved reads back into the same configuration.
        if (round % 5 == 0) {
            CTransferDoc second;
            second.SetSavedParts(parts);
            LoadText(second, saved);
            const std::wstring again = SaveText(second);
            CTransferDoc third;
            third.SetSavedParts(parts);
            LoadText(third, again);
            ASSERT_EQ(again, SaveText(third));
        }
    }
}
