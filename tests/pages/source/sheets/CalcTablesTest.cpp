// The OpenOffice Calc back-ends against the stand-in: file URLs, the calls of an export, the
// live spreadsheet, line breaks in cells, data arrays of the wrong shape, a key list round trip.
#include <gtest/gtest.h>

#include "../KeyListTestSupport.h"
#include "SheetTestSupport.h"
#include "config/TransferDoc.h"

using namespace sheet_test;
using Lines = std::vector<std::wstring>;
using Rows = std::vector<std::vector<std::wstring>>;

namespace {

void WriteSample(CBTableExport& table, const wchar_t* file)
{
    table.Create(2, 3, file);
    for (const wchar_t* cell : {L"N", L"Text"})
        table.PutText(cell);
    table.EndRow();
    table.PutInt64(7);
    table.PutText(L"a \"b\"");
    table.EndRow();
    table.PutInt64(-8);
    table.PutText(L"0012");
    table.EndRow();
    table.Flush();
    table.Close(false);
}

}  // namespace

TEST(MakeFileUrl, BlanksAndBackslashes)
{
    const struct
    {
        const wchar_t* name;
        const wchar_t* url;
    } cases[] = {
        {L"C:\\My Files\\k.ods", L"file://localhost/C:/My%20Files/k.ods"},
        {L"", L"file://localhost/"},
        {L"\\\\srv\\a  b\\%x.ods", L"file://localhost///srv/a%20%20b/%x.ods"},
        {L"C:/already/k#1.ods", L"file://localhost/C:/already/k#1.ods"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MakeFileUrl(c.name), c.url) << c.name;
}

TEST_F(SheetFixture, CalcExportCallsInOrderAndTheFileReadsBack)
{
    env.UseInProcess();
    const std::wstring file = env.File(L"t.ods");
    {
        COOCalcTableExport table;
        WriteSample(table, file.c_str());
    }
    const Lines expected = {
        L"ServiceManager.CreateInstance(\"com.sun.star.frame.Desktop\")",
        L"ServiceManager.Bridge_GetStruct(\"com.sun.star.beans.PropertyValue\")",
        L"PropertyValue(=empty).Name = \"Hidden\"",
        L"PropertyValue(Hidden=empty).Value = true",
        L"Desktop.LoadComponentFromURL(\"private:factory/scalc\", \"_blank\", i4:0, "
        L"array(0..0)[PropertyValue(Hidden=true)])",
        L"Document.getSheets()",
        L"Sheets.getByIndex(i4:0)",
        L"Document.lockControllers()",
        L"Document.addActionLock()",
        L"Sheet.getCellRangeByPosition(i4:0, i4:0, i4:1, i4:2)",
        L"CellRange[A1:B3].setDataArray(array(0..2)[array(0..1)[\"N\", \"Text\"], array(0..1)[r8:7, \"a \\\"b\\\"\"], "
        L"array(0..1)[r8:-8, \"0012\"]])",
        L"Sheet.Columns()",
        L"Columns.getByIndex(i4:0)",
        L"Column[A].OptimalWidth = true",
        L"Columns.getByIndex(i4:1)",
        L"Column[B].OptimalWidth = true",
        L"Document.unlockControllers()",
        L"Document.removeActionLock()",
        L"Document.storeAsURL(" + Quoted(MakeFileUrl(file.c_str())) + L", array(0..-1)[])",
        L"Document.close(true)",
        L"Desktop.terminate()",
    };
    EXPECT_EQ(env.Log(), expected);

    COOCalcTableImport import;
    import.Open(file.c_str());
    EXPECT_EQ(ReadAll(import), (Rows{{L"N", L"Text"}, {L"7.000000", L"a \"b\""}, {L"-8.000000", L"0012"}}));
    EXPECT_EQ(Calls(env.Log(), L"LoadComponentFromURL").back(),
              L"Desktop.LoadComponentFromURL(" + Quoted(MakeFileUrl(file.c_str())) +
                  L", \"_blank\", i4:0, array(0..0)[PropertyValue(Hidden=true)])");
}

TEST_F(SheetFixture, CalcLiveExportStaysOpen)
{
    env.UseInProcess();
    {
        COOCalcTableExport table;
        WriteSample(table, nullptr);
    }
    const Lines log = env.Log();
    EXPECT_EQ(Calls(log, L"LoadComponentFromURL"),
              Lines{L"Desktop.LoadComponentFromURL(\"private:factory/scalc\", \"_blank\", i4:0, array(0..-1)[])"});
    EXPECT_TRUE(Calls(log, L"Bridge_GetStruct").empty());
    for (const wchar_t* member : {L"storeAsURL", L"close", L"terminate"})
        EXPECT_TRUE(Calls(log, member).empty()) << member;
    EXPECT_EQ(log.back(), L"Document.removeActionLock()");
}

TEST_F(SheetFixture, CalcTextCellsWidenALoneCr)
{
    env.UseInProcess();
    WriteSheet(env.File(L"cr.ods"), {{1, 1, Text(L"a\rb")}, {1, 2, Text(L"c\r\nd")}, {1, 3, Text(L"e\r")},
                                     {1, 4, Text(L"\r\r\n\n")}});
    COOCalcTableImport import;
    import.Open(env.File(L"cr.ods").c_str());
    EXPECT_EQ(ReadAll(import), (Rows{{L"a\r\nb", L"c\r\nd", L"e\r\n", L"\r\n\r\n\n"}}));
}

TEST_F(SheetFixture, CalcDataArraysOfTheWrongShapeReadAsEmptyCells)
{
    env.UseInProcess();
    WriteSheet(env.File(L"s.ods"), {{1, 1, Text(L"a")}, {1, 2, Text(L"b")}, {2, 1, Text(L"c")}, {2, 2, Text(L"d")}});
    const struct
    {
        const wchar_t* shape;
        Rows rows;
    } cases[] = {
        {L"", {{L"a", L"b"}, {L"c", L"d"}}},
        {L"short", {{L"a", L"b"}, {L"c", L""}}},
        {L"flat", {{L"", L""}, {L"", L""}}},
    };
    for (const auto& c : cases) {
        CSheetEnv::Shape(c.shape);
        COOCalcTableImport import;
        import.Open(env.File(L"s.ods").c_str());
        EXPECT_EQ(ReadAll(import), c.rows) << c.shape;
        EXPECT_FALSE(import.MoveColumn(1)) << c.shape;
    }
}

class KeyListCalcTest : public keylist_test::KeyListFixture
{
protected:
    CSheetEnv env;
};

TEST_F(KeyListCalcTest, KeyListThroughOdsKeepsEveryKey)
{
    RegisterStandIn();
    AddKeys({L"1:0C0B0A0908", L"7:00AA", L"12:04112233445566", L"2:0100000001", L"0:01"});
    const auto keys = List();
    const std::wstring file = env.File(L"keys list.ods");
    ExportKeysToCalc(Context(), AllShown(), file.c_str());
    EXPECT_EQ(Calls(env.Log(), L"storeAsURL").size(), 1u);
    AddKeys({L"3:01"});
    ImportKeysFromFile(Context(), KEY_IMPORT_CALC, file, true);
    EXPECT_EQ(List(), keys);
}
