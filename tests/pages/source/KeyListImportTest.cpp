// The key list's imports: what each kind of file adds, the replace and append modes with
// "noDuplicates", and bad files that must leave the list as it was.
#include <gtest/gtest.h>

#include "KeyListTestSupport.h"
#include "core/Dbf.h"
#include "pages/CsvTable.h"
#include "transfer/TransferLog.h"

using namespace keylist_test;

namespace {

using Keys = std::vector<std::wstring>;

// The dialogs of the commands, answered by the test.
struct FakeFileUi final : ITableFileUi
{
    bool append = false;
    std::wstring path;       // empty: cancelled
    int chosenFilter = 0;    // 0: the one offered
    int offeredFilter = -1;

    bool IsAppendHeld() override { return append; }
    bool ChooseFile(bool, UINT, int& filterIndex, std::wstring& chosen) override
    {
        offeredFilter = filterIndex;
        if (path.empty())
            return false;
        if (chosenFilter != 0)
            filterIndex = chosenFilter;
        chosen = path;
        return true;
    }
};

}  // namespace

class KeyListImportTest : public KeyListFixture
{
protected:
    // The text as a file of the folder; returns its path.
    std::wstring Put(const wchar_t* name, const std::string& bytes)
    {
        WriteBytes(File(name), bytes);
        return File(name);
    }
    void ImportCsv(const std::string& text, bool replace = true)
    {
        CCsvTableImport csv;
        ImportKeyTable(Context(), Put(L"keys.csv", text), csv, replace);
    }
};

TEST_F(KeyListImportTest, TablesMapTheirColumnsByHeaderOrPlace)
{
    const struct {
        std::vector<std::vector<std::wstring>> rows;
        Keys keys;
    } cases[] = {
        {{{L"#", L"Type", L"Number", L"Key size (in bytes)"}, {L"1", L"Em-Marine", L"0C0B0A0908", L"5"},
          {L"2", L"Mifare Classic 4K", L"04112233445566", L"7"}},
         {L"1:0C0B0A0908", L"12:04112233445566"}},
        {{{L"Number", L"x", L"Type"}, {L"0102", L"", L"Dallas"}}, {L"7:0102"}},   // any order, by title
        {{{L"Number"}, {L"0A"}}, {L"0:0A"}},                                     // no type column
        {{{L"1", L"HID", L"[05] 00042"}, {L"2", L"Em-Marine", L"005,00042"}, {L"3", L"hid", L"0F"}},
         {L"2:05002A", L"1:05002A", L"0:0F"}},                                   // no header: 1 and 2
        {{{L"1", L"Dallas", L"zz"}, {L"2", L"Dallas", L""}, {L"3", L"Dallas", L"[x] 1"}}, {}},  // no key
        {{{L"type", L"number"}, {L"Dallas", L"01"}}, {}},                      // titles are exact
    };
    for (const auto& c : cases) {
        CMemoryTableImport table(c.rows);
        ImportKeyTable(Context(), L"sheet", table, true);
        EXPECT_EQ(List(), c.keys) << c.rows[0][0];
    }
    // The same through CSV: a header-less file imports every row, its last line included.
    ImportCsv("1;Em-Marine;0C0B0A\r\n2;Dallas;0102\r\n3;HID;0F");
    EXPECT_EQ(List(), (Keys{L"1:0C0B0A", L"7:0102", L"2:0F"}));
}

TEST_F(KeyListImportTest, ShiftAppendsAndNoDuplicatesSkipsKeysInTheList)
{
    const std::wstring path = Put(L"keys.csv", "#;Type;Number\r\n1;Em-Marine;0A\r\n2;HID;0C\r\n3;HID;0C\r\n");
    const struct {
        bool append;
        bool noDuplicates;
        Keys once, twice;
    } cases[] = {
        {false, false, {L"1:0A", L"2:0C", L"2:0C"}, {L"1:0A", L"2:0C", L"2:0C"}},
        {false, true, {L"1:0A", L"2:0C"}, {L"1:0A", L"2:0C"}},
        {true, false, {L"1:0A", L"7:0B", L"1:0A", L"2:0C", L"2:0C"},
         {L"1:0A", L"7:0B", L"1:0A", L"2:0C", L"2:0C", L"1:0A", L"2:0C", L"2:0C"}},
        {true, true, {L"1:0A", L"7:0B", L"2:0C"}, {L"1:0A", L"7:0B", L"2:0C"}},
    };
    for (const auto& c : cases) {
        Doc().SetKeyListNoDuplicates(c.noDuplicates ? 1 : 0);
        for (const KvKeyPtr& key : Doc().GetKeys())
            key->flags |= KVKEY_DELETE;
        Doc().DeleteMarkedKeys();
        AddKeys({L"1:0A", L"7:0B"});
        FakeFileUi ui;
        ui.append = c.append;
        ui.path = path;
        ASSERT_TRUE(ImportKeys(Context(), ui, KEY_IMPORT_CSV));
        EXPECT_EQ(List(), c.once) << c.append << c.noDuplicates;
        EXPECT_EQ(notifications, 1) << "one update scope per import";
        ASSERT_TRUE(ImportKeys(Context(), ui, KEY_IMPORT_CSV));
        EXPECT_EQ(List(), c.twice) << c.append << c.noDuplicates;
    }
}

TEST_F(KeyListImportTest, TheExtensionDecidesOverTheFilterAndCancelChangesNothing)
{
    std::string log = BuildTransferLogLine(CTimeValue(1700000000), 7, MakeKeyNumber((const uint8_t*)"\x01\x02", 2),
                                           L"Std", L"out", L"dest");
    const struct {
        const wchar_t* name;
        std::string bytes;
        int filter;
        Keys keys;
    } cases[] = {
        {L"a.CSV", "1;Dallas;0A\r\n", KEY_IMPORT_CARD_BASE, {L"7:0A"}},
        {L"a.Log", log, KEY_IMPORT_CSV, {L"7:0201"}},
        {L"a.wd2ctr", "{\"keys\": [{\"key\": \"0B\"}]}", KEY_IMPORT_CSV, {L"1:0B"}},
        {L"a.txt", "1;Dallas;0C\r\n", KEY_IMPORT_CSV, {L"7:0C"}},
    };
    settings.SetKeyViewFormat(KEY_VIEW_FACILITY);
    for (const auto& c : cases) {
        FakeFileUi ui;
        ui.path = Put(c.name, c.bytes);
        ui.chosenFilter = c.filter;
        ASSERT_TRUE(ImportKeys(Context(), ui, 0));
        EXPECT_EQ(List(), c.keys) << c.name;
        EXPECT_EQ(settings.GetKeyListImport(), c.filter);
    }
    FakeFileUi cancelled;
    EXPECT_FALSE(ImportKeys(Context(), cancelled, 0));
    EXPECT_EQ(cancelled.offeredFilter, KEY_IMPORT_CSV);
    EXPECT_EQ(List(), Keys{L"7:0C"});
}

TEST_F(KeyListImportTest, CardBasesSkipDeletedRecordsAndUnknownCodes)
{
    const std::wstring path = File(L"base.dbf");
    {
        CDbf table;
        const DbfFieldDescriptor fields[CDbf::kCreateFieldCount] = {
            MakeDbfField("ID", 'N', 12),      MakeDbfField("ATTR", 'N', 4),    MakeDbfField("TYPE", 'N', 4),
            MakeDbfField("SHORTNUM", 'N', 1), MakeDbfField("KEYNUM", 'C', 16), MakeDbfField("COMMENT", 'C', 100),
            MakeDbfField("CREATE", 'C', 16)};
        table.Create(path, fields);
        const struct {
            const char* type;
            const char* key;
            bool deleted;
        } records[] = {{"", "002E", false}, {"6", "0A0B", false}, {"30", "0C", false}, {"1", "0D", true},
                       {"11", "", false}};
        for (const auto& r : records) {
            table.AppendBlankRecords(1);
            table.SetFieldValue(2, r.type);
            table.SetFieldValue(4, r.key);
            table.SetRecordDeleted(r.deleted);
        }
        table.FlushRecord();
    }
    ImportDbfCardBase(Context(), path, true);
    EXPECT_EQ(List(), (Keys{L"12:0A0B", L"0:0C", L"7:"}));
}

TEST_F(KeyListImportTest, CardDatabasesTakeTheirTypeFromTheViewAndTheControllerFlags)
{
    const struct {
        const char* info;
        int view;
        int type;
    } cases[] = {
        {"\"ctrInfo\": {\"ctrFlags\": 2},", KEY_VIEW_AUTO, 1}, {"\"ctrInfo\": {\"ctrFlags\": 0},", KEY_VIEW_AUTO, 7},
        {"", KEY_VIEW_AUTO, 1},          {"\"ctrInfo\": {\"ctrFlags\": \"2\"},", KEY_VIEW_AUTO, 1},
        {"", KEY_VIEW_SHORT, 2},         {"\"ctrInfo\": {\"ctrFlags\": 2},", KEY_VIEW_HEX, 7},
        {"", KEY_VIEW_FACILITY, 1},      {"", KEY_VIEW_LONG, 1},
    };
    for (const auto& c : cases) {
        settings.SetKeyViewFormat(c.view);
        ImportCardDatabase(Context(),
                           Put(L"db.wd2ctr", std::string("{") + c.info +
                                                 "\"keys\": [{\"key\": \"0A0B0C\"}, {\"key\": \"\"}, {\"id\": 1}, 5]}"),
                           true);
        EXPECT_EQ(List(), Keys{std::to_wstring(c.type) + L":0A0B0C"}) << c.info << c.view;
    }
}

TEST_F(KeyListImportTest, ACardDatabaseReplacingKeepsItsKeysInPlace)
{
    settings.SetKeyViewFormat(KEY_VIEW_AUTO);
    Doc().SetKeyListNoDuplicates(1);
    AddKeys({L"7:01", L"1:0A0B0C", L"1:FF", L"1:0D"});
    ImportCardDatabase(Context(), Put(L"db.wd2ctr", R"({"ctrInfo": {"ctrFlags": 2}, "keys": [
        {"key": "0D"}, {"key": "0A0B0C"}, {"key": "0E"}, {"key": "0E"}]})"), true);
    EXPECT_EQ(List(), (Keys{L"1:0A0B0C", L"1:0D", L"1:0E"}));
    EXPECT_EQ(notifications, 1);
}

TEST_F(KeyListImportTest, TransferLogLinesImportTheirKeys)
{
    const _KEY_NUMBER em = MakeKeyNumber((const uint8_t*)"\x0A\x0B\x0C", 3);
    std::string text = "05.03.2025 09:07:03 [EM 0C0B0A, \"Std\"] \"1\" -> \"x\"\r\n"
                       "short [EM 01]\r\n"
                       "05.03.2025 09:07:03 no bracket EM 01\r\n"
                       "05.03.2025 09:07:03 [EM, \"no number\"]\r\n"
                       "05.03.2025 09:07:03 [em  0e0f, x]\n";
    const wchar_t* names[] = {L"say \"hi\", then", L"a]b\\c", L"\nPreset", L""};
    for (int i = 0; i < 4; ++i)
        text += BuildTransferLogLine(CTimeValue(1700000000), 12 + i, em, names[i], L"out\r\n", L"d,]");
    text += "05.03.2025 09:07:03 [XX 1234, \"unknown code\"]";   // no line break at the end
    ImportTransferLog(Context(), Put(L"Transfer.log", text), true);
    EXPECT_EQ(List(), (Keys{L"1:0C0B0A", L"1:0E0F", L"12:0C0B0A", L"13:0C0B0A", L"14:0C0B0A", L"15:0C0B0A", L"0:1234"}));
    EXPECT_EQ(Doc().GetKeys()[0]->keyNumber.length, 3);
    EXPECT_EQ(Doc().GetKeys()[0]->keyNumber.bytes[0], 0x0A);

    // Lines run across the 1023-byte blocks of the reading: every one arrives whole.
    text.clear();
    for (uint32_t i = 0; i < 5000; ++i)
        text += BuildTransferLogLine(CTimeValue(1700000000 + i), 1 + i % 21,
                                     MakeKeyNumber(reinterpret_cast<const uint8_t*>(&i), 4), L"F", L"o", L"d");
    ImportTransferLog(Context(), Put(L"Transfer.log", text), true);
    ASSERT_EQ(Doc().GetKeys().size(), 5000u);
    for (uint32_t i = 0; i < 5000; ++i) {
        ASSERT_EQ(Doc().GetKeys()[i]->keyType, static_cast<int>(1 + i % 21));
        ASSERT_EQ(KeyToUInt64(Doc().GetKeys()[i]->keyNumber), i);
    }
}

TEST_F(KeyListImportTest, ABadFileIsNamedInTheErrorAndLeavesTheListAsItWas)
{
    std::string cardBase;
    {
        AddKeys({L"1:0A", L"2:0B", L"3:0C"});
        ExportDbfCardBase(Context(), AllShown(), File(L"good.dbf"));
        cardBase = ReadBytes(File(L"good.dbf"));
    }
    std::string otherFields = cardBase;
    otherFields.replace(32 * 5, 6, "KEYNO\0", 6);     // the fifth field's name
    const struct {
        const wchar_t* name;
        std::string bytes;   // "-": no file
        int kind;
        const wchar_t* error;
    } cases[] = {
        {L"missing.csv", "-", KEY_IMPORT_CSV, L"%s was not found."},
        {L"cut.dbf", cardBase.substr(0, cardBase.size() - 100), KEY_IMPORT_CARD_BASE,
         L"%s is damaged or is not a file of this kind."},
        {L"header.dbf", cardBase.substr(0, 200), KEY_IMPORT_CARD_BASE, L"%s is damaged or is not a file of this kind."},
        {L"garbage.dbf", "garbage, not a table", KEY_IMPORT_CARD_BASE, L"%s is damaged or is not a file of this kind."},
        {L"fields.dbf", otherFields, KEY_IMPORT_CARD_BASE,
         L"%s is not a card base: it has no fields \"TYPE\" and \"KEYNUM\" in their places."},
        {L"broken.wd2ctr", "{\"keys\": [{\"key\": \"0A\"}", KEY_IMPORT_CARD_DATABASE,
         L"%s is damaged or is not a file of this kind."},
        {L"quote.csv", "1;Dallas;01\r\n2;Dallas;\"02\r\n", KEY_IMPORT_CSV,
         L"A quoted cell in %s is not closed before the end of the file."},
        {L"missing.log", "-", KEY_IMPORT_TRANSFER_LOG, L"%s was not found."},
    };
    Doc().SetKeyListNoDuplicates(1);
    for (bool replace : {true, false}) {
        for (const auto& c : cases) {
            const std::wstring path = File(c.name);
            if (c.bytes != "-")
                WriteBytes(path, c.bytes);
            AddKeys({});
            try {
                ImportKeysFromFile(Context(), c.kind, path, replace);
                ADD_FAILURE() << "no error for " << c.bytes.size();
            } catch (const std::exception& e) {
                std::wstring expected;
                FormatString(expected, c.error, path.c_str());
                EXPECT_EQ(Ansi(e.what()), expected);
            }
            EXPECT_EQ(List(), (Keys{L"1:0A", L"2:0B", L"3:0C"}));
            EXPECT_EQ(notifications, 0);
        }
    }
}
