#include <gtest/gtest.h>

#include "config/TransferDoc.h"
#include "core/Json.h"

// A language library brings its own presets; its key-filter list may be longer than the ids a
// format's mask can name.
TEST(PresetKeyFilters, ListsStopAtTheLastId)
{
    struct Case {
        int entries;
        size_t expected;
    } cases[] = {{6, 6}, {31, 31}, {40, 31}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        std::wstring text = L"{\"keyFilters\":[";
        for (int i = 0; i < c.entries; ++i)
            text += (i ? L"," : L"") + std::wstring(L"{\"name\":\"F") + std::to_wstring(i) + L"\",\"keyTypes\":2}";
        text += L"]}";
        CMemJson json;
        ASSERT_TRUE(json.LoadFromText(text));
        std::vector<KeyFilter> filters;
        ASSERT_TRUE(ParsePresetKeyFilters(json.Root, filters));
        ASSERT_EQ(c.expected, filters.size());
        EXPECT_EQ(1u, filters.front().id);
        EXPECT_EQ(static_cast<uint32_t>(c.expected), filters.back().id);
        EXPECT_EQ(2u, filters.back().keyTypes);
    }
}

TEST(PresetKeyFilters, BuiltInListIsTheSixFilters)
{
    std::vector<KeyFilter> filters;
    ASSERT_TRUE(LoadPresetKeyFilters(filters));
    struct Expected {
        const wchar_t* name;
        uint32_t keyTypes;
        int32_t keySize;
    } expected[] = {{L"Mifare (4 UId)", 4193792, 4}, {L"Mifare (7 UId)", 4193792, 7}, {L"Em-Marine,QM-100", 114, 0},
                    {L"HID", 4, 0},                  {L"iCode", 8, 0},                {L"Temic", 256, 8}};
    ASSERT_EQ(std::size(expected), filters.size());
    for (size_t i = 0; i < filters.size(); ++i) {
        EXPECT_EQ(i + 1, filters[i].id);
        EXPECT_EQ(expected[i].name, filters[i].name);
        EXPECT_EQ(expected[i].keyTypes, filters[i].keyTypes);
        EXPECT_EQ(expected[i].keySize, filters[i].keySize);
        EXPECT_EQ(KEYFILTER_VISIBLE, filters[i].flags);
    }
}
