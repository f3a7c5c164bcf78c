// The key list's exports: the exact bytes of a card base and a CSV table, what a view lets out,
// round trips through the imports, and exports that must not leave a file.
#include <gtest/gtest.h>

#include "../../support/FakeSystemServices.h"
#include "KeyListTestSupport.h"
#include "config/TransferDoc.h"

using namespace keylist_test;

namespace {

using Keys = std::vector<std::wstring>;

struct SaveUi final : ITableFileUi
{
    std::wstring path;
    int chosenFilter = 0;
    int offeredFilter = -1;

    bool IsAppendHeld() override { return false; }
    bool ChooseFile(bool save, UINT, int& filterIndex, std::wstring& chosen) override
    {
        EXPECT_TRUE(save);
        offeredFilter = filterIndex;
        if (chosenFilter != 0)
            filterIndex = chosenFilter;
        chosen = path;
        return true;
    }
};

std::string Field(const char* name, char type, int length)
{
    std::string field(32, '\0');
    field.replace(0, strlen(name), name);
    field[11] = type;
    field[16] = static_cast<char>(length);
    return field;
}

std::string Record(const char* id, const char* type, const char* key, const char* created)
{
    auto right = [](const char* text, size_t width) { return std::string(width - strlen(text), ' ') + text; };
    auto left = [](const char* text, size_t width) { return text + std::string(width - strlen(text), ' '); };
    return " " + right(id, 12) + right(*id ? "1" : "", 4) + right(type, 4) + right(*id ? "0" : "", 1) +
           left(key, 16) + std::string(100, ' ') + left(created, 16);
}

}  // namespace

class KeyListExportTest : public KeyListFixture
{
protected:
    void SetUp() override
    {
        KeyListFixture::SetUp();
        clock.localTime = [](SYSTEMTIME& t) { t = {2025, 3, 3, 5, 9, 7, 3, 0}; };
    }
    CFakeSystemServices clock;
};

TEST_F(KeyListExportTest, ACardBaseIsWrittenByteForByte)
{
    AddKeys({L"1:0C0B0A0908", L"12:04112233445566"});
    ExportDbfCardBase(Context(), AllShown(), File(L"base.dbf"));
    const std::string header = std::string("\x03\x7D\x03\x05\x03\0\0\0\x01\x01\x9A\0", 12) + std::string(17, '\0') +
                               "\x26" + std::string(2, '\0');
    const std::string fields = Field("ID", 'N', 12) + Field("ATTR", 'N', 4) + Field("TYPE", 'N', 4) +
                               Field("SHORTNUM", 'N', 1) + Field("KEYNUM", 'C', 16) + Field("COMMENT", 'C', 100) +
                               Field("CREATE", 'C', 16) + "\r";
    const std::string records = Record("", "", "002E", "") + Record("1", "1", "0C0B0A0908", "05.03.2025 09:07") +
                                Record("2", "6", "04112233445566", "05.03.2025 09:07");
    const std::string bytes = ReadBytes(File(L"base.dbf"));
    EXPECT_EQ(bytes.size(), 257u + 3 * 154);
    EXPECT_EQ(bytes, header + fields + records);

    ImportDbfCardBase(Context(), File(L"base.dbf"), true);
    EXPECT_EQ(List(), (Keys{L"1:0C0B0A0908", L"12:04112233445566"}));

    // An empty list: record 0 alone, which imports nothing.
    ExportDbfCardBase(Context(), KeyListView{{}, {}}, File(L"empty.dbf"));
    EXPECT_EQ(ReadBytes(File(L"empty.dbf")).substr(257), Record("", "", "002E", ""));
    ImportDbfCardBase(Context(), File(L"empty.dbf"), false);
    EXPECT_EQ(List(), (Keys{L"1:0C0B0A0908", L"12:04112233445566"}));
}

TEST_F(KeyListExportTest, EveryKeyTypeCrossesACardBaseAndBack)
{
    Keys keys;
    for (int type = 0; type < kKeyTypeNameCount; ++type)
        keys.push_back(std::to_wstring(type) + L":0102030405060708");
    AddKeys(keys);
    ExportDbfCardBase(Context(), AllShown(), File(L"types.dbf"));
    ImportDbfCardBase(Context(), File(L"types.dbf"), true);
    EXPECT_EQ(List(), keys);
    EXPECT_EQ(DbfCardTypeCodes[12], 6);
    EXPECT_EQ(KeyTypeFromDbfCardCode(6), 12);
    for (int code : {-1, 22, 30})
        EXPECT_EQ(KeyTypeFromDbfCardCode(code), 0) << code;
}

TEST_F(KeyListExportTest, AKeyTooLongForACardBaseIsNamedAndNoFileIsWritten)
{
    WriteBytes(File(L"base.dbf"), "old");
    AddKeys({L"1:0A", L"19:010203040506070809"});
    try {
        ExportDbfCardBase(Context(), AllShown(), File(L"base.dbf"));
        FAIL() << "no error";
    } catch (const CTableFileException& e) {
        EXPECT_STREQ(e.what(),
                     "The key Mifare DESFire 010203040506070809 is longer than 8 bytes and does not fit a card base.");
    }
    EXPECT_EQ(ReadBytes(File(L"base.dbf")), "old");
    EXPECT_EQ(FolderNames(folder.Path()), Keys{L"base.dbf"});
}

TEST_F(KeyListExportTest, ATableHoldsTheShownEntriesInTheVisibleColumns)
{
    _KV_FORMAT format;
    format.name = L"\nStd";
    format.templ = L"K%.2X\\t";
    format.params = L"b0";
    Doc().SetDefaultFormatId(Doc().GetFormats()[Doc().AddFormat(format)]->id);
    settings.SetKeyViewFormat(KEY_VIEW_AUTO);
    AddKeys({L"1:0C0B0A0908", L"7:AA", L"2:05002A", L"12:04112233445566"});

    const auto& all = Doc().GetKeys();
    CMemoryTableExport table;
    WriteKeyTable(Context(), KeyListView{{all[3], all[0], all[2]}, {5, 0, 2, 4}}, L"x", table);
    const std::vector<std::vector<std::wstring>> rows = {
        {L"#", L"Number", L"Format", L"Formatted number"},
        {L"1", L"04112233445566", L"[P] Std", L"K66\\t"},
        {L"2", L"010,02312", L"[P] Std", L"K08\\t"},
        {L"3", L"[05] 00042", L"[P] Std", L"K2A\\t"},
    };
    EXPECT_EQ(table.rows, rows);
    EXPECT_EQ(table.closed, "kept");

    CMemoryTableExport bare;
    WriteKeyTable(Context(), KeyListView{{all[1]}, {3, 1}}, L"x", bare);
    EXPECT_EQ(bare.rows, (std::vector<std::vector<std::wstring>>{{L"Type", L"Key size (in bytes)"}, {L"Dallas", L"1"}}));
}

TEST_F(KeyListExportTest, ACsvExportOfAllColumnsImportsBack)
{
    settings.EditCsv()->delimiter = L',';
    settings.EditCsv()->encoding = 2;
    AddKeys({L"1:0C0B0A0908", L"7:AA", L"12:04112233445566", L"0:01"});
    SaveUi ui;
    ui.path = File(L"list");
    ASSERT_TRUE(ExportKeys(Context(), AllShown(), ui, 0));
    EXPECT_EQ(ui.offeredFilter, 1);
    EXPECT_EQ(ReadBytes(File(L"list.csv")),
              "\xEF\xBB\xBF#,Type,Number,Key size (in bytes),Format,Formatted number\r\n"
              "1,Em-Marine,0C0B0A0908,5,,\r\n2,Dallas,AA,1,,\r\n3,Mifare Classic 4K,04112233445566,7,,\r\n"
              "4,Unknown,01,1,,\r\n");

    const Keys keys = List();
    ImportKeysFromFile(Context(), KEY_IMPORT_CSV, File(L"list.csv"), true);
    EXPECT_EQ(List(), keys);
    EXPECT_EQ(notifications, 1);
}

TEST_F(KeyListExportTest, SpreadsheetKindsFailWithoutTouchingFilesOrTheList)
{
    // Neither application on the machine.
    clock.createAutomationObject = [](const wchar_t*, IDispatch** object) {
        return ApplicationSystemServices().CreateAutomationObject(L"Norvane.NoSuchApplication", object);
    };
    AddKeys({L"1:0A"});
    const std::string text = "The spreadsheet application (Microsoft Excel or OpenOffice Calc) could not be started.";
    SaveUi ui;
    ui.path = File(L"sheet");
    for (int kind : {KEY_EXPORT_EXCEL_OPEN, KEY_EXPORT_CALC_OPEN, KEY_EXPORT_EXCEL, KEY_EXPORT_EXCEL97, KEY_EXPORT_CALC}) {
        try {
            ExportKeys(Context(), AllShown(), ui, kind);
            ADD_FAILURE() << kind;
        } catch (const CException& e) {
            EXPECT_EQ(e.what(), text) << kind;
        }
        EXPECT_EQ(settings.GetKeyListExport(), kind);
    }
    for (int kind : {KEY_IMPORT_EXCEL, KEY_IMPORT_CALC}) {
        try {
            ImportKeysFromFile(Context(), kind, File(L"sheet.xlsx"), true);
            ADD_FAILURE() << kind;
        } catch (const CException& e) {
            EXPECT_EQ(e.what(), text) << kind;
        }
    }
    EXPECT_EQ(List(), Keys{L"1:0A"});
    EXPECT_EQ(notifications, 0);
    EXPECT_TRUE(FolderNames(folder.Path()).empty());
}
