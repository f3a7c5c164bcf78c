// The Excel back-ends against the stand-in: the calls an export makes, a file written and read
// back, the cell conversions, the live table, and an application that is missing or fails.
#include <gtest/gtest.h>

#include "../KeyListTestSupport.h"
#include "SheetTestSupport.h"
#include "config/TransferDoc.h"

using namespace sheet_test;
using Lines = std::vector<std::wstring>;
using Rows = std::vector<std::vector<std::wstring>>;

namespace {

// Header and three rows; columns 1 and 2 are kept as text.
void WriteSample(CBTableExport& table, const wchar_t* file)
{
    table.Create(3, 4, file);
    for (const wchar_t* title : {L"N", L"Code", L"Note"})
        EXPECT_TRUE(table.PutText(title));
    EXPECT_TRUE(table.EndRow());
    const wchar_t* codes[] = {L"007", L"12", L"0x1"};
    const wchar_t* notes[] = {L"x;\"y\"", L"", L"a\r\nb"};
    for (int r = 0; r < 3; ++r) {
        EXPECT_TRUE(table.PutInt64(r + 1));
        EXPECT_TRUE(table.PutText(codes[r]));
        EXPECT_TRUE(table.PutText(notes[r]));
        EXPECT_FALSE(table.PutText(L"one too many"));
        EXPECT_TRUE(table.EndRow());
    }
    EXPECT_FALSE(table.EndRow());
    table.Flush();
    table.Close(false);
}

const Rows kSampleBack = {{L"N", L"Code", L"Note"},
                          {L"1.000000", L"007", L"x;\"y\""},
                          {L"2.000000", L"12", L""},
                          {L"3.000000", L"0x1", L"a\r\nb"}};

}  // namespace

TEST_F(SheetFixture, ExcelExportCallsInOrderAndTheFileReadsBackByRowsThroughTheLocalServer)
{
    RegisterStandIn();
    const std::wstring file = env.File(L"t.xlsx");
    {
        auto table = CreateExcelTableExport(kExcelFormatDefault, {1, 2});
        WriteSample(*table, file.c_str());
    }
    const std::wstring cells = L"Range[A1:XFD1048576]";
    const Lines expected = {
        L"Application.Application()",
        L"Application.Workbooks()",
        L"Application.Visible = false",
        L"Workbooks.Add()",
        L"Workbook.ActiveSheet()",
        L"Application.EnableEvents = false",
        L"Sheet.Cells()",
        cells + L".Item(i4:2, i4:2)",
        cells + L".Item(i4:4, i4:2)",
        L"Sheet.Range(Range[B2], Range[B4])",
        L"Range[B2:B4].NumberFormat = \"@\"",
        L"Sheet.Cells()",
        cells + L".Item(i4:2, i4:3)",
        cells + L".Item(i4:4, i4:3)",
        L"Sheet.Range(Range[C2], Range[C4])",
        L"Range[C2:C4].NumberFormat = \"@\"",
        L"Sheet.Cells()",
        cells + L".Item(i4:1, i4:1)",
        cells + L".Item(i4:4, i4:3)",
        L"Sheet.Range(Range[A1], Range[C4])",
        L"Range[A1:C4].Value = array(1..4,1..3)[\"N\", \"Code\", \"Note\"; i8:1, \"007\", \"x;\\\"y\\\"\"; "
        L"i8:2, \"12\", \"\"; i8:3, \"0x1\", \"a\\r\\nb\"]",
        L"Sheet.Columns()",
        L"Columns.Item(i4:1)",
        L"Range[A1:A1048576].AutoFit()",
        L"Columns.Item(i4:2)",
        L"Range[B1:B1048576].AutoFit()",
        L"Columns.Item(i4:3)",
        L"Range[C1:C1048576].AutoFit()",
        L"Application.EnableEvents = true",
        L"Application.DisplayAlerts = false",
        L"Workbook.SaveAs(" + Quoted(file) + L")",
        L"Application.Quit()",
    };
    EXPECT_EQ(env.Log(), expected);

    CExcelTableImport import;
    import.Open(file.c_str());
    EXPECT_FALSE(import.IsApplicationMissing());
    EXPECT_EQ(import.GetRowCount(), 4);
    EXPECT_EQ(import.GetColumnCount(), 3);
    EXPECT_EQ(ReadAll(import), kSampleBack);
}

TEST_F(SheetFixture, ExcelFileFormatsAndTheLiveTable)
{
    env.UseInProcess();
    struct Case
    {
        const wchar_t* file;
        int format;
        Lines tail;   // the calls after the last AutoFit
    };
    const std::wstring xls = env.File(L"old.xls");
    const Case cases[] = {
        {L"old.xls", kExcelFormat97,
         {L"Application.EnableEvents = true", L"Application.DisplayAlerts = false",
          L"Workbook.SaveAs(" + Quoted(xls) + L", i4:56)", L"Application.Quit()"}},
        // No file: the new workbook stays open and visible, nothing saved, nothing quit.
        {nullptr, kExcelFormatDefault, {L"Application.EnableEvents = true"}},
    };
    for (const Case& c : cases) {
        DeleteFileW(env.LogPath().c_str());
        const std::wstring file = c.file ? env.File(c.file) : L"";
        {
            auto table = CreateExcelTableExport(c.format, {});
            WriteSample(*table, c.file ? file.c_str() : nullptr);
        }
        const Lines log = env.Log();
        EXPECT_EQ(Calls(log, L"Visible"), Lines{c.file ? L"Application.Visible = false" : L"Application.Visible = true"});
        EXPECT_TRUE(Calls(log, L"NumberFormat").empty());
        size_t last = 0;
        for (size_t i = 0; i < log.size(); ++i)
            if (log[i].find(L"AutoFit") != std::wstring::npos)
                last = i + 1;
        EXPECT_EQ(Lines(log.begin() + static_cast<long>(last), log.end()), c.tail) << (c.file ? c.file : L"live");
        EXPECT_EQ(GetFileAttributesW(xls.c_str()) != INVALID_FILE_ATTRIBUTES, true);
    }
    EXPECT_EQ(SheetStandInObjectCount(), 0) << "every object released";
}

TEST_F(SheetFixture, ExcelCellsConvertByTheirType)
{
    env.UseInProcess();
    const std::wstring file = env.File(L"cells.xlsx");
    std::vector<SheetFileCell> cells = {{1, 1, Number(42)},      {1, 2, Int32(-5)},       {1, 3, Boolean(true)},
                                        {1, 4, Text(L"17")},     {1, 5, Number(-2.75)},   {1, 6, Number(1e20)},
                                        {1, 7, Text(L"abc")},    {2, 2, Text(L"below")}};
    cells.push_back({1, 8, {}});
    VariantInit(&cells.back().value);
    cells.back().value.vt = VT_I8;
    cells.back().value.llVal = -9000000000LL;
    WriteSheet(file, cells);

    struct Expect
    {
        const wchar_t* text;
        bool textOk;
        double number;
        bool numberOk;
        int64_t integer;
        bool integerOk;
    };
    const Expect expected[] = {
        {L"42.000000", true, 42, true, 42, true},
        {L"-5", true, -5, true, -5, true},
        {L"", false, 0, false, 0, false},               // a boolean is no cell value
        {L"17", true, 17, true, 17, true},              // text read as a number
        {L"-2.750000", true, -2.75, true, -2, true},    // truncated toward zero
        {L"100000000000000000000.000000", true, 1e20, true, 0, false},                  // past the 64-bit range
        {L"abc", true, 0, false, 0, false},
        {L"-9000000000", true, -9e9, true, -9000000000LL, true},
    };
    CExcelTableImport import;
    import.Open(file.c_str());
    ASSERT_EQ(import.GetColumnCount(), 8);
    ASSERT_EQ(import.GetRowCount(), 2);
    for (int c = 0; c < 8; ++c) {
        const Expect& e = expected[c];
        if (c > 0) {
            ASSERT_TRUE(import.MoveColumn(1));
        }
        std::wstring text = L"stale";
        double number = 0;
        int64_t integer = 0;
        EXPECT_EQ(import.GetText(text), e.textOk) << c;
        EXPECT_EQ(text, e.text) << c;
        EXPECT_EQ(import.GetDouble(number), e.numberOk) << c;
        if (e.numberOk) {
            EXPECT_EQ(number, e.number) << c;
        }
        EXPECT_EQ(import.GetInt64(integer), e.integerOk) << c;
        if (e.integerOk) {
            EXPECT_EQ(integer, e.integer) << c;
        }
    }
    EXPECT_FALSE(import.MoveColumn(1));
    EXPECT_EQ(import.GetColumn(), 7);
    ASSERT_TRUE(import.NextRow());
    std::wstring text;
    EXPECT_FALSE(import.GetText(text)) << "an empty cell";
    EXPECT_FALSE(import.NextRow());
}

TEST_F(SheetFixture, ExcelSheetOfOneCellIsATableOfOneAndAnEmptySheetNone)
{
    env.UseInProcess();
    WriteSheet(env.File(L"one.xlsx"), {{3, 2, Text(L"lone")}});
    WriteSheet(env.File(L"none.xlsx"), {});
    CExcelTableImport one;
    one.Open(env.File(L"one.xlsx").c_str());
    EXPECT_EQ(ReadAll(one), (Rows{{L"lone"}}));
    CExcelTableImport none;
    none.Open(env.File(L"none.xlsx").c_str());
    EXPECT_EQ(none.GetRowCount(), 0);
    EXPECT_EQ(none.GetColumnCount(), 0);
    EXPECT_FALSE(none.NextRow());
}

TEST_F(SheetFixture, WithoutTheApplicationAnImportIsEmptyAndAnExportIsNotMade)
{
    env.UseUnregistered();
    CExcelTableImport excel;
    EXPECT_NO_THROW(excel.Open(env.File(L"a.xlsx").c_str()));
    EXPECT_TRUE(excel.IsApplicationMissing());
    EXPECT_EQ(excel.GetRowCount(), 0);
    COOCalcTableImport calc;
    EXPECT_NO_THROW(calc.Open(env.File(L"a.ods").c_str()));
    EXPECT_TRUE(calc.IsApplicationMissing());
    EXPECT_EQ(calc.GetRowCount(), 0);

    CExcelTableExport excelOut;
    EXPECT_FALSE(excelOut.CreateTable(2, 2, env.File(L"b.xlsx").c_str()));
    excelOut.PutText(L"x");
    excelOut.Flush();
    excelOut.Close(false);
    COOCalcTableExport calcOut;
    EXPECT_FALSE(calcOut.CreateTable(2, 2, nullptr));
    calcOut.Flush();
    calcOut.Close(true);
    EXPECT_EQ(keylist_test::FolderNames(env.folder.Path()), Lines{}) << "no log, no file";
}

class KeyListSheetTest : public keylist_test::KeyListFixture
{
protected:
    CSheetEnv env;
};

TEST_F(KeyListSheetTest, KeyListThroughExcelFileKeepsEveryKey)
{
    RegisterStandIn();
    AddKeys({L"1:0C0B0A0908", L"7:00AA", L"12:04112233445566", L"2:0100000001"});
    const auto keys = List();
    const std::wstring file = env.File(L"keys.xlsx");
    ExportKeysToExcel(Context(), AllShown(), file.c_str(), false);
    const Lines formats = Calls(env.Log(), L"NumberFormat");
    EXPECT_EQ(formats, (Lines{L"Range[B2:B5].NumberFormat = \"@\"", L"Range[C2:C5].NumberFormat = \"@\"",
                              L"Range[E2:E5].NumberFormat = \"@\"", L"Range[F2:F5].NumberFormat = \"@\""}));
    AddKeys({L"3:01"});
    ImportKeysFromFile(Context(), KEY_IMPORT_EXCEL, file, true);
    EXPECT_EQ(List(), keys);
}

TEST_F(KeyListSheetTest, FailingOpenReachesTheCallerWithItsCodeAndTheListStays)
{
    RegisterStandIn();
    CSheetEnv::FailMember(L"Open=0x800A03EC");
    AddKeys({L"1:0A"});
    try {
        ImportKeysFromFile(Context(), KEY_IMPORT_EXCEL, env.File(L"any.xlsx"), true);
        ADD_FAILURE() << "no error";
    } catch (const CComException& e) {
        EXPECT_EQ(e.GetCode(), static_cast<HRESULT>(0x800A03EC));
    }
    EXPECT_EQ(List(), Lines{L"1:0A"});
    EXPECT_EQ(notifications, 0);
    const Lines log = env.Log();
    EXPECT_EQ(Calls(log, L"Open"), Lines{L"Workbooks.Open(" + Quoted(env.File(L"any.xlsx")) + L")"});
    EXPECT_EQ(Calls(log, L"Quit"), Lines{L"Application.Quit()"}) << "the application is not left behind";
}
