// The Mifare key slots off the page: key texts, the slot rows, and the slots in CSV files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../support/TempFolder.h"
#include "config/AppSettings.h"
#include "config/TransferDoc.h"
#include "core/Exceptions.h"
#include "pages/source/MifareKeySlots.h"
#include "tests/pages/source/KeyListTestSupport.h"

namespace {

using keylist_test::ReadBytes;
using keylist_test::WriteBytes;

std::wstring Text(const _KEY_NUMBER& key)
{
    return std::to_wstring(key.length) + L":" + MifareKeyText(key);
}

_KEY_NUMBER Key(bool plus, const wchar_t* text)
{
    _KEY_NUMBER key{};
    EXPECT_TRUE((plus ? ParseMifarePlusKey : ParseMifareClassicKey)(text, key)) << text;
    return key;
}

}  // namespace

TEST(MifareKeySlots, KeyTextsAreReadLastPairFirstToTheCardKindsLength)
{
    const struct {
        bool plus;
        const wchar_t* text;
        bool ok;
        const wchar_t* stored;   // length:text, last byte first
        uint8_t byte0;
    } cases[] = {
        {false, L"A0A1A2A3A4A5", true, L"6:A0A1A2A3A4A5", 0xA5},
        {false, L"3C917A5E08D4", true, L"6:3C917A5E08D4", 0xD4},
        {false, L"A5", true, L"6:0000000000A5", 0xA5},
        // More than six bytes typed: the six last pairs make the key.
        {false, L"FFA0A1A2A3A4A5", true, L"6:A0A1A2A3A4A5", 0xA5},
        {false, L"", false, L"0:", 0},
        {true, L"6B21E0945F3AC708D27E41B90C65F31A", true, L"16:6B21E0945F3AC708D27E41B90C65F31A", 0x1A},
        {true, L"01", true, L"16:00000000000000000000000000000001", 0x01},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        _KEY_NUMBER key{};
        EXPECT_EQ(c.ok, (c.plus ? ParseMifarePlusKey : ParseMifareClassicKey)(c.text, key));
        EXPECT_EQ(c.stored, Text(key));
        EXPECT_EQ(c.byte0, key.bytes[0]);
    }
    EXPECT_EQ(L"3C917A5E08D4", MifareKeyText(DefaultMifareKey(false)));
    EXPECT_EQ(0xD4, DefaultMifareKey(false).bytes[0]);
    EXPECT_EQ(L"6B21E0945F3AC708D27E41B90C65F31A", MifareKeyText(DefaultMifareKey(true)));
}

TEST(MifareKeySlots, RowsNameCellsOrShowKeysWithAQuestionMarkForEmptySlots)
{
    std::vector<_KEY_NUMBER> keys = {DefaultMifareKey(false), _KEY_NUMBER{}, Key(false, L"A0A1A2A3A4A5")};
    CMCKeysViewData data;
    data.keys = &keys;
    const struct {
        bool show;
        int slot;
        const wchar_t* row;
    } cases[] = {
        {false, 0, L"Cell #0"}, {false, 31, L"Cell #31"},         {true, 0, L"#1: 3C917A5E08D4"},
        {true, 1, L"#2: ?"},    {true, 2, L"#3: A0A1A2A3A4A5"}, {true, 31, L"#32: ?"},
    };
    for (const auto& c : cases) {
        data.showKeys = c.show;
        EXPECT_EQ(c.row, data.FormatSlotRow(c.slot));
    }
    // The list asks for text and check state; rows in and outside the cache answer alike.
    data.showKeys = true;
    data.checkedMask = 0x5;
    data.CacheHint(0, 1);
    for (int row : {0, 1, 2}) {
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_STATE;
        item.iItem = row;
        data.GetDispInfo(&item);
        EXPECT_EQ(data.FormatSlotRow(row), item.pszText);
        EXPECT_EQ(row == 1 ? 0x1000u : 0x2000u, item.state) << row;
    }
    EXPECT_EQ(32, data.GetItemCount());
}

class MifareKeySlotsFile : public ::testing::Test
{
protected:
    CTransferDoc& Doc() { return settings.GetTransferDoc(); }
    std::wstring File(const wchar_t* name) const { return folder.File(name); }

    CAppSettings settings;
    CTempFolder folder;
};

TEST_F(MifareKeySlotsFile, ExportWritesAHeaderAndThirtyTwoRecords)
{
    const std::wstring path = File(L"slots.csv");
    std::vector<_KEY_NUMBER> keys = {DefaultMifareKey(false), _KEY_NUMBER{}, Key(false, L"A0A1A2A3A4A5")};
    ExportMifareKeySlots(path, keys, 0x1, L';', 2);
    std::string expected = "\xEF\xBB\xBF#;Key;Flag\r\n0;3C917A5E08D4;1\r\n1;;0\r\n2;A0A1A2A3A4A5;0\r\n";
    for (int slot = 3; slot < 32; ++slot)
        expected += std::to_string(slot) + ";;0\r\n";
    EXPECT_EQ(expected, ReadBytes(path));
    // ANSI: no byte-order mark; another delimiter.
    ExportMifareKeySlots(path, keys, 0xFFFFFFFF, L',', 1);
    const std::string ansi = "#,Key,Flag\r\n0,3C917A5E08D4,1\r\n1,,1\r\n";
    EXPECT_EQ(ansi, ReadBytes(path).substr(0, ansi.size()));
}

TEST_F(MifareKeySlotsFile, ReplaceImportGivesBackWhatWasExported)
{
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus);
        const std::vector<_KEY_NUMBER> keys = {Key(plus, L"0102030405060708090A0B0C0D0E0F10"), _KEY_NUMBER{},
                                               Key(plus, L"A5"), DefaultMifareKey(plus)};
        const std::wstring path = File(plus ? L"plus.csv" : L"classic.csv");
        ExportMifareKeySlots(path, keys, 0x80000009, L';', 2);
        {
            CDocUpdateScope scope(Doc());
            plus ? Doc().SetMifarePlusMask(0x7) : Doc().SetMifareClassicMask(0x7);
            (plus ? Doc().MifarePlusKeys() : Doc().MifareClassicKeys()).assign(5, DefaultMifareKey(plus));
        }
        EXPECT_EQ(0, plus ? ImportMifarePlusKeys(Doc(), path, L';', 2, true)
                          : ImportMifareClassicKeys(Doc(), path, L';', 2, true));
        const std::vector<_KEY_NUMBER>& now = plus ? Doc().GetMifarePlusKeys() : Doc().GetMifareClassicKeys();
        ASSERT_EQ(keys.size(), now.size());
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_EQ(Text(keys[i]), Text(now[i])) << i;
        EXPECT_EQ(0x80000009u, plus ? Doc().readKeys.plus.mask : Doc().readKeys.classic.mask);
    }
}

TEST_F(MifareKeySlotsFile, ImportReadsNumberingKeysAndFlagsRecordByRecord)
{
    const struct {
        const char* file;
        bool replace;
        uint32_t mask;                      // after the import; the mask starts at 0x3
        std::vector<std::wstring> keys;     // length:text per slot
        int skipped;
    } cases[] = {
        // Numbered from 1: first pair first, slot 0.
        {"#;Key;Flag\r\n1;D4085E7A913C;0\r\n", true, 0x2, {L"6:3C917A5E08D4"}, 0},
        // Numbered from 0: last pair first; record 40 and a negative number are ignored.
        {"0;3C917A5E08D4;1\r\n40;A0A1A2A3A4A5;1\r\n-1;01;1\r\n2;A5;1\r\n", true, 0x7,
         {L"6:3C917A5E08D4", L"0:", L"6:0000000000A5"}, 0},
        // A key of more digits than six bytes is no Classic key: the record is skipped and counted.
        {"0;112233445566778899;0\r\n1;A0A1A2A3A4A5;\r\n", true, 0x3, {L"0:", L"6:A0A1A2A3A4A5"}, 1},
        // Without replace an empty key leaves its slot's flag and the list's other keys alone.
        {"0;;0\r\n5;A5;0\r\n", false, 0x3, {L"6:3C917A5E08D4", L"0:", L"0:", L"0:", L"0:", L"6:0000000000A5"}, 0},
        // With replace an empty key's flag counts.
        {"0;;0\r\n", true, 0x2, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        {
            CDocUpdateScope scope(Doc());
            Doc().SetMifareClassicMask(0x3);
            Doc().MifareClassicKeys().assign(1, DefaultMifareKey(false));
        }
        const std::wstring path = File(L"in.csv");
        WriteBytes(path, c.file);
        EXPECT_EQ(c.skipped, ImportMifareClassicKeys(Doc(), path, L';', 1, c.replace));
        std::vector<std::wstring> keys;
        for (const _KEY_NUMBER& key : Doc().GetMifareClassicKeys())
            keys.push_back(Text(key));
        EXPECT_EQ(c.keys, keys);
        EXPECT_EQ(c.mask, Doc().readKeys.classic.mask);
    }
}

TEST_F(MifareKeySlotsFile, AnUnreadableFileLeavesTheSlotsAsTheyWere)
{
    {
        CDocUpdateScope scope(Doc());
        Doc().SetMifareClassicMask(0x5);
        Doc().MifareClassicKeys().assign(3, DefaultMifareKey(false));
    }
    const struct {
        std::wstring path;
    } cases[] = {{File(L"missing.csv")}, {folder.Path()}};
    for (const auto& c : cases) {
        EXPECT_THROW(ImportMifareClassicKeys(Doc(), c.path, L';', 2, true), CFileException);
        EXPECT_EQ(3u, Doc().GetMifareClassicKeys().size());
        EXPECT_EQ(0x5u, Doc().readKeys.classic.mask);
    }
    // An export into a folder that does not exist fails and leaves nothing behind.
    EXPECT_THROW(ExportMifareKeySlots(File(L"no\\such.csv"), Doc().GetMifareClassicKeys(), 0, L';', 2), CFileException);
}
