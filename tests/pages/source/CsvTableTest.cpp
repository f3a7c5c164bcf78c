// The CSV dialect and back-ends: what files read as, the exact bytes written, round trips and
// the user's list separator.
#include <gtest/gtest.h>

#include "KeyListTestSupport.h"
#include "pages/CsvTable.h"

using namespace keylist_test;

namespace {

using Rows = std::vector<std::vector<std::wstring>>;

// Every row of a file through the import interface, each as wide as the header.
Rows ReadTable(CCsvTableImport& table, const std::wstring& path)
{
    Rows rows;
    table.Open(path.c_str());
    if (table.GetRowCount() == 0)
        return rows;
    do {
        std::vector<std::wstring>& row = rows.emplace_back();
        for (int c = 0; c < table.GetColumnCount(); ++c) {
            EXPECT_TRUE(c == 0 || table.MoveColumn(1));
            EXPECT_TRUE(table.GetText(row.emplace_back()));
        }
    } while (table.NextRow());
    return rows;
}

const std::string kBom = "\xEF\xBB\xBF";

}  // namespace

class CsvTableTest : public ::testing::Test
{
protected:
    std::wstring Put(const std::string& bytes)
    {
        const std::wstring path = folder.File(L"t.csv");
        WriteBytes(path, bytes);
        return path;
    }
    CTempFolder folder;
};

TEST_F(CsvTableTest, FilesReadAsRecordsAndCells)
{
    const struct {
        const char* text;
        Rows rows;
    } cases[] = {
        {"a;b\r\n1;2\r\n", {{L"a", L"b"}, {L"1", L"2"}}},
        {"a;b\n1;2", {{L"a", L"b"}, {L"1", L"2"}}},                  // the last line needs no break
        {"x,y\r\n1;2\r\n3;4\r\n", {{L"x", L"y"}, {L"1", L"2"}, {L"3", L"4"}}},  // header and data apart
        {"\"a;b\";c\r\n", {{L"a;b", L"c"}}},
        {"\"\"\"hi\"\"\";x\r\n", {{L"\"hi\"", L"x"}}},
        {"\"ab\" ;c\r\n", {{L"ab", L"c"}}},                           // blanks after the quote go
        {"a,b;c\r\n", {{L"a,b", L"c"}}},                              // ambiguous: the default
        {"\"l1\r\nl2\";x\r\ny;z\r\n", {{L"l1\r\nl2", L"x"}, {L"y", L"z"}}},
        {"a;\"b\"\nc;\"d\"\n", {{L"a", L"b"}, {L"c", L"d"}}},
        {"\r\n\r\na;b\r\n\n\n1;2\r\n", {{L"a", L"b"}, {L"1", L"2"}}},
        {"a;;b;\r\n", {{L"a", L"", L"b"}}},                            // no empty cell after the last
        {"\xEF\xBB\xBF\xC3\xA4;\xE2\x82\xAC\r\n", {{L"\u00E4", L"\u20AC"}}},  // UTF-8 by its mark alone
        {"", {}},
        {"\r\n\r\n", {}},
    };
    for (const auto& c : cases) {
        CCsvTableImport table;
        EXPECT_EQ(ReadTable(table, Put(c.text)), c.rows) << c.text;
    }
    // No separator at all ("delimiter" 0) reads as ';' instead of matching everywhere.
    CCsvTableImport table;
    table.SetDefaultSeparator(CsvSeparatorFromChar(0));
    EXPECT_EQ(ReadTable(table, Put("a,b;c\r\nx\r\n")), (Rows{{L"a,b", L"c"}, {L"x", L""}}));
}

TEST_F(CsvTableTest, ColumnMovesStayInsideTheHeader)
{
    CCsvTableImport table;
    table.Open(Put("a;b\r\n1;2;3\r\n").c_str());
    EXPECT_FALSE(table.MoveColumn(-1));
    EXPECT_EQ(table.GetColumn(), 0);
    EXPECT_TRUE(table.MoveColumn(1));
    EXPECT_FALSE(table.MoveColumn(1));
    ASSERT_TRUE(table.NextRow());
    EXPECT_EQ(table.GetColumn(), 0);
    int64_t number = 0;
    double value = 0;
    EXPECT_TRUE(table.GetInt64(number));
    EXPECT_EQ(number, 1);
    EXPECT_TRUE(table.GetDouble(value));
    EXPECT_FALSE(table.NextRow());
}

TEST_F(CsvTableTest, AQuoteNeverClosedIsAnErrorNamingTheFile)
{
    CCsvTableImport table;
    const std::wstring path = Put("a;b\r\n\"open;x\r\ny;z\r\n");
    table.Open(path.c_str());
    try {
        table.NextRow();
        FAIL() << "no error";
    } catch (const CTableFileException& e) {
        EXPECT_EQ(Ansi(e.what()), L"A quoted cell in " + path + L" is not closed before the end of the file.");
    }
}

TEST_F(CsvTableTest, ExportWritesExactBytes)
{
    const struct {
        const wchar_t* separator;
        bool utf8;
        Rows rows;
        std::string bytes;
    } cases[] = {
        {L";", true, {{L"1;2", L"x"}}, kBom + "\"1;2\";x\r\n"},
        {L";", false, {{L"a\rb", L""}, {L"q\"q", L" s "}}, "\"a\rb\";\r\n\"q\"\"q\"; s \r\n"},
        {L"\t", true, {{L"a;b", L"c\td"}, {L"\u20AC", L"e"}}, kBom + "a;b\t\"c\td\"\r\n\xE2\x82\xAC\te\r\n"},
        {L"", false, {{L"a", L"b"}}, "a;b\r\n"},                       // no separator: ';'
    };
    for (const auto& c : cases) {
        const std::wstring path = folder.File(L"out.csv");
        CCsvTableExport table;
        table.SetSeparator(c.separator);
        table.SetUtf8(c.utf8);
        table.Create(2, static_cast<int>(c.rows.size()), path.c_str());
        for (const auto& row : c.rows) {
            for (const auto& cell : row)
                EXPECT_TRUE(table.PutText(cell.c_str()));
            EXPECT_FALSE(table.PutText(L"extra"));
            EXPECT_TRUE(table.EndRow());
        }
        EXPECT_FALSE(table.EndRow());    // past the row count: nothing written
        table.Close(false);
        EXPECT_EQ(ReadBytes(path), c.bytes) << c.bytes;
    }
}

TEST_F(CsvTableTest, ARowEndsEmptyAndADiscardedTableLeavesNoFile)
{
    const std::wstring path = folder.File(L"out.csv");
    {
        CCsvTableExport table;
        table.SetSeparator(L",");
        table.Create(2, 2, path.c_str());
        table.PutText(L"a");
        table.PutInt64(-12);
        table.EndRow();
        table.PutText(L"b");             // the second cell is not the row before's
        table.EndRow();
        table.Close(false);
    }
    EXPECT_EQ(ReadBytes(path), kBom + "a,-12\r\nb,\r\n");
    for (bool closed : {true, false}) {
        CCsvTableExport table;
        table.Create(1, 1, folder.File(L"gone.csv").c_str());
        table.PutText(L"x");
        table.EndRow();
        if (closed)
            table.Close(true);
    }
    EXPECT_EQ(FolderNames(folder.Path()), std::vector<std::wstring>{L"out.csv"});
}

TEST_F(CsvTableTest, EveryCellReadsBackAsWritten)
{
    const std::vector<std::wstring> cells = {
        L"plain", L"", L" outer blanks ", L"\"quoted\"", L"a;b", L"a,b", L"tab\there", L"cr\rin", L"lf\nin",
        L"crlf\r\nin", L"\"", L"\"\"", L"\u00E4\u20AC\u4E2D", L"end\"", L"last"};
    for (const wchar_t* separator : {L";", L",", L"\t"}) {
        for (bool utf8 : {true, false}) {
            const std::wstring path = folder.File(L"round.csv");
            const size_t width = 3;
            Rows rows;
            for (size_t i = 0; i < cells.size(); ++i)
                rows.push_back({cells[i], cells[(i + 5) % cells.size()], L"x"});
            rows.insert(rows.begin(), {L"h1", L"h2", L"h3"});
            {
                CCsvTableExport table;
                table.SetSeparator(separator);
                table.SetUtf8(utf8);
                table.Create(static_cast<int>(width), static_cast<int>(rows.size()), path.c_str());
                for (const auto& row : rows) {
                    for (const auto& cell : row)
                        table.PutText(cell.c_str());
                    table.EndRow();
                }
                table.Close(false);
            }
            if (!utf8) {
                // What the ANSI code page cannot hold is not expected back.
                for (auto& row : rows)
                    for (auto& cell : row)
                        cell = MultiByteToWString(WStringToMultiByte(cell, CP_ACP), CP_ACP);
            }
            CCsvTableImport table;
            table.SetDefaultSeparator(separator);
            table.SetUtf8(utf8);
            EXPECT_EQ(ReadTable(table, path), rows) << separator << utf8;
        }
    }
}

// The user's list separator, read under a registry of the test's own: HKEY_CURRENT_USER is
// mapped to a private key for this process only.
TEST(CsvListSeparator, ComesFromTheUsersRegistryWhenUsable)
{
    HKEY root = nullptr;
    const std::wstring rootName = L"Software\\NorvaneTests\\ListSeparator" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, rootName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, root), ERROR_SUCCESS);
    const struct {
        DWORD type;
        std::wstring data;       // the bytes stored, as characters
        size_t bytes;            // how many of them; -1: no value at all
        const wchar_t* expected;
    } cases[] = {
        {REG_SZ, std::wstring(L"\t", 2), 4, L"\t"},
        {REG_EXPAND_SZ, std::wstring(L"|", 2), 4, L"|"},
        {REG_SZ, std::wstring(L";;", 3), 6, L";;"},
        {REG_SZ, std::wstring(), 0, L";"},                     // no bytes at all
        {REG_SZ, std::wstring(L"\0", 1), 2, L";"},             // an empty text
        {REG_SZ, std::wstring(L"abc"), 4, L";"},               // no terminating NUL (none follows in memory either)
        {REG_BINARY, std::wstring(L",", 2), 4, L";"},
        {REG_SZ, std::wstring(300, L','), 600, L";"},          // longer than 512 bytes
        {REG_SZ, std::wstring(), static_cast<size_t>(-1), L";"},
    };
    for (const auto& c : cases) {
        RegDeleteTreeW(root, L"Control Panel");
        if (c.bytes != static_cast<size_t>(-1)) {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExW(root, L"Control Panel\\International", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &key, nullptr),
                      ERROR_SUCCESS);
            RegSetValueExW(key, L"sList", 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                           static_cast<DWORD>(c.bytes));
            RegCloseKey(key);
        }
        EXPECT_EQ(ReadUserListSeparator(), c.expected) << c.bytes;
        EXPECT_EQ(CCsvTableExport().GetSeparator(), c.expected);
    }
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(root);
    RegDeleteTreeW(HKEY_CURRENT_USER, rootName.c_str());
}
