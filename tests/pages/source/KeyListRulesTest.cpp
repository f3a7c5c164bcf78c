// The key list's rules without windows: the input forms of the key dialog, the "Number" order,
// the moves of dragged rows and the rows a filter leaves.
#include <gtest/gtest.h>

#include "pages/KeyDialog.h"
#include "pages/source/KeyListData.h"
#include "tests/pages/source/KeyListPageSupport.h"

using namespace keylist_page_test;

namespace {

std::vector<uint8_t> Bytes(const _KEY_NUMBER& key)
{
    return std::vector<uint8_t>(key.bytes, key.bytes + key.length);
}

KvKeyPtr Entry(int type, std::initializer_list<uint8_t> bytes, uint32_t flags = 0)
{
    auto entry = std::make_shared<_KV_KEY>();
    entry->keyType = type;
    entry->keyNumber = Key(bytes);
    entry->flags = flags;
    return entry;
}

} // namespace

TEST(KeyInputForms, TextsMasksAndReadingPerFormAndSize)
{
    const struct {
        int format;
        _KEY_NUMBER key;
        const wchar_t* text;
        const wchar_t* mask;
        const wchar_t* templ;
    } cases[] = {
        {KEY_INPUT_FACILITY, Key({0x2A, 0x00, 0x05}), L"005,00042", L"ddd,ddddd", L"___,_____"},
        {KEY_INPUT_FACILITY, Key({0x2A, 0x00, 0x05, 0x01, 0x02}), L"[0201] 005,00042", L" AAAA  ddd,ddddd",
         L"[____] ___,_____"},
        {KEY_INPUT_SHORT, Key({0x2A, 0x00}), L"00042", L"ddddd", L"_____"},
        {KEY_INPUT_SHORT, Key({0x2A, 0x00, 0x05}), L"[05] 00042", L" AA  ddddd", L"[__] _____"},
        {KEY_INPUT_HEX, Key({0x2A, 0x00, 0x05}), L"05002A", L"AAAAAA", L"______"},
        {KEY_INPUT_LONG, Key({0x2A, 0x00, 0x05}), L"327722", L"", L""},
        {KEY_INPUT_LONG, Key({0x01, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB}), L"[BBAA] 00000000000000000001",
         L" AAAA  dddddddddddddddddddd", L"[____] ____________________"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.text, KeyNumberToInputText(c.key, c.format));
        const KeyNumberMask mask = MakeKeyNumberMask(c.format, c.key.length);
        EXPECT_EQ(c.mask, mask.mask);
        EXPECT_EQ(c.templ, mask.templ);
        // What is shown reads back as the same key.
        _KEY_NUMBER read{};
        ASSERT_TRUE(ReadKeyInputText(c.text, c.format, c.key.length, read));
        EXPECT_EQ(Bytes(c.key), Bytes(read));
    }
    EXPECT_EQ(L"", KeyNumberToInputText(_KEY_NUMBER{}, KEY_INPUT_FACILITY));
    EXPECT_EQ(L"", KeyNumberToInputText(_KEY_NUMBER{}, KEY_INPUT_HEX));
}

TEST(KeyInputForms, SizesAreClampedAndUnreadableTextsLeaveTheKey)
{
    const _KEY_NUMBER before = Key({1, 2, 3});
    const struct {
        const wchar_t* text;
        int format;
        unsigned size;
        bool ok;
        std::vector<uint8_t> bytes;
    } cases[] = {
        // A size beyond the record is held to its 19 bytes.
        {L"42", KEY_INPUT_LONG, 50, true, {0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {L"42", KEY_INPUT_LONG, 0, true, {0x2A}},
        // Hex cut from 5 to 3 bytes keeps the first three.
        {L"0A0B0C0D0E", KEY_INPUT_HEX, 3, true, {0x0E, 0x0D, 0x0C}},
        {L"18446744073709551615", KEY_INPUT_LONG, 8, true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // Above 2^64 or no number at all: refused, the key as it was.
        {L"18446744073709551616", KEY_INPUT_LONG, 8, false, {1, 2, 3}},
        {L"", KEY_INPUT_SHORT, 3, false, {1, 2, 3}},
        {L"005", KEY_INPUT_FACILITY, 3, false, {1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        _KEY_NUMBER key = before;
        EXPECT_EQ(c.ok, ReadKeyInputText(c.text, c.format, c.size, key));
        EXPECT_EQ(c.bytes, Bytes(key));
    }
    EXPECT_EQ(16u, ClampKeySize(50));
    EXPECT_EQ(1u, ClampKeySize(0));
}

TEST(KeyListOrder, CompareKeysForViewByKindThenBytes)
{
    const _KV_KEY emLow = *Entry(1, {0x2A, 0x00, 0x05});
    const _KV_KEY emHighFacility = *Entry(1, {0x01, 0x00, 0x06});
    const _KV_KEY hid = *Entry(2, {0x00, 0x00, 0x00});
    const _KV_KEY other = *Entry(7, {0x00, 0x00});
    const _KV_KEY otherHigh = *Entry(7, {0x01, 0x00});
    const struct {
        const _KV_KEY& a;
        const _KV_KEY& b;
        int view;
        int sortKey;
        int sign;
    } cases[] = {
        {emLow, hid, 0, 3, -1},             // Em-Marine before HID
        {hid, other, 0, 3, -1},             // HID before the rest
        {emLow, emHighFacility, 0, 3, -1},  // facility byte first
        {emLow, hid, 0, -3, 1},             // descending turns it round
        {other, otherHigh, 0, 3, -1},
        {emLow, emHighFacility, 4, 3, 1},   // hexadecimal: whole numbers from byte 0
        {emLow, emLow, 0, 3, 0},
    };
    for (const auto& c : cases) {
        const int d = CompareKeysForView(c.a, c.b, c.view, c.sortKey);
        EXPECT_EQ(c.sign, (d > 0) - (d < 0)) << c.view << " " << c.sortKey;
    }

    CAppSettings settings;
    std::vector<KvKeyPtr> keys = {Entry(5, {9}), Entry(2, {1, 0}), Entry(1, {1, 0, 1}), Entry(2, {0, 0}),
                                  Entry(1, {1, 0, 0})};
    SortKeyList(keys, settings.GetTransferDoc(), 3, KEY_VIEW_AUTO);
    std::vector<int> types;
    for (const KvKeyPtr& k : keys)
        types.push_back(k->keyType);
    EXPECT_EQ((std::vector<int>{1, 1, 2, 2, 5}), types);
    EXPECT_EQ(0, keys[0]->keyNumber.bytes[2]);
}

TEST(KeyListOrder, MoveKeysBeforeTarget)
{
    const struct {
        std::vector<size_t> chosen;
        size_t target;
        const char* order;  // after the move; "" nothing moved
    } cases[] = {
        {{1, 2}, 1, ""},        // onto its own first row
        {{1, 2}, 2, ""},        // inside the block
        {{1, 2}, 3, ""},        // right after it
        {{1, 2}, 0, "BCADEF"},
        {{1, 2}, 5, "ADEBCF"},
        {{1, 2}, 99, "ADEFBC"}, // past the end
        {{0, 2}, 1, "ACBDEF"},  // two pieces gather before the target
        {{}, 3, ""},
    };
    for (const auto& c : cases) {
        std::vector<KvKeyPtr> keys;
        for (int i = 0; i < 6; ++i)
            keys.push_back(Entry(i, {static_cast<uint8_t>(i)}));
        const bool moved = MoveKeysBefore(keys, c.chosen, c.target);
        std::string order;
        for (const KvKeyPtr& k : keys)
            order += static_cast<char>('A' + k->keyType);
        EXPECT_EQ(*c.order != 0, moved) << c.target;
        EXPECT_EQ(*c.order ? c.order : "ABCDEF", order) << c.target;
    }
}

TEST(KeyListRows, FilterWordChoosesTheRowsAndCellsFollowTheView)
{
    CAppSettings settings;
    CTransferDoc& doc = settings.GetTransferDoc();
    AddKey(doc, 1, {0x2A, 0x00, 0x05}, KVKEY_TRANSFERRED);
    AddKey(doc, 2, {0x2A, 0x00, 0x05});
    AddKey(doc, 7, {0x2A, 0x00, 0x05}, KVKEY_TRANSFERRED);
    CFakePageHost host;
    const std::array<std::wstring, 22> names = host.GetKeyTypeNames();
    CKeyListLvData data(doc, names);
    const struct {
        uint32_t filter;
        std::vector<size_t> rows;
    } cases[] = {
        {0, {0, 1, 2}},
        {KLF_SHOW_TRANSFERRED, {0, 1, 2}},  // not enabled
        {KLF_ENABLED | KLF_SHOW_NO_FORMAT, {1}},
        {KLF_ENABLED | KLF_SHOW_TRANSFERRED | KLF_SHOW_NO_FORMAT, {0, 1, 2}},
    };
    for (const auto& c : cases) {
        data.filter = c.filter;
        data.Queue(KLD_ROWS);
        data.Update();
        EXPECT_EQ(c.rows, data.RowMap()) << c.filter;
    }
    data.filter = 0;
    data.viewForm = KEY_VIEW_AUTO;
    data.Queue(KLD_ROWS);
    data.Update();
    data.CacheHint(0, 2);
    const std::vector<std::vector<std::wstring>> cells = {
        {L"1", L"Em-Marine", L"005,00042", L"3"},
        {L"2", L"HID", L"[05] 00042", L"3"},
        {L"3", L"Dallas", L"05002A", L"3"},
    };
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column)
            EXPECT_EQ(cells[row][column], data.CellText(row, column)) << row << "," << column;
    // The cache follows a change of the view once it is rebuilt.
    data.viewForm = KEY_VIEW_HEX;
    data.Queue(KLD_CACHE);
    data.Update();
    EXPECT_EQ(L"05002A", data.CellText(0, 2));
}
