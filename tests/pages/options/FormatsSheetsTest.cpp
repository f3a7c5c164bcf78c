// The formats through the spreadsheet back-ends, with the stand-in application made in this
// process: the columns Excel keeps as text, and the rows read back from the file in order.
#include "tests/pages/options/FormatsTestSupport.h"

#include <algorithm>

#include "core/Exceptions.h"
#include "core/TextUtil.h"
#include "pages/SpreadsheetTables.h"
#include "pages/options/FormatsIo.h"
#include "tests/support/FakeSystemServices.h"
#include "tests/support/TempFolder.h"
#include "tools/sheet-standin/SheetStandIn.h"

using namespace formats_test;

namespace {

std::vector<std::wstring> LogLines(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::string bytes(static_cast<size_t>(GetFileSize(file, nullptr)), '\0');
    DWORD got = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    const std::wstring text = MultiByteToWString(bytes, CP_UTF8);
    for (size_t at = 0, end; (end = text.find(L'\n', at)) != std::wstring::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

class FormatsSheets : public FormatsPageFixture
{
};

} // namespace

TEST_F(FormatsSheets, FormatsThroughExcelAndCalcFilesComeBackInOrder)
{
    CTempFolder folder;
    SheetStandInOptions options;
    options.logPath = folder.File(L"calls.log");
    CFakeSystemServices services;
    services.createAutomationObject = [&options](const wchar_t* progId, IDispatch** object) {
        const SheetFlavour flavour = std::wstring(progId) == L"Excel.Application" ? SheetFlavour::Excel : SheetFlavour::Calc;
        return CreateSheetStandIn(flavour, options, object);
    };
    CComInitScope com;

    FormatsTableView view;
    view.rows = {Add(MakeFormat(L"Quote", L"say \"%d\"\\n;", L"x[0]")), Add(MakeFormat(L"\nPre", L"%X")),
                 Add(MakeFormat(L"Plain", L"%u", L"x[1]", 2))};
    view.columns = {FCOL_NUMBER, FCOL_CHOICE, FCOL_ID, FCOL_NAME, FCOL_TEMPLATE, FCOL_PARAMS, FCOL_COMMENT,
                    FCOL_LAST_KEY, FCOL_VISIBLE};
    const struct {
        const wchar_t* file;
        bool excel;
        std::vector<std::wstring> lines;  // the log holds each
    } cases[] = {
        {L"f.xlsx", true,
         {L"Range[D2:D4].NumberFormat = \"@\"", L"Range[E2:E4].NumberFormat = \"@\"",
          L"Range[F2:F4].NumberFormat = \"@\"", L"Range[G2:G4].NumberFormat = \"@\"",
          L"Range[H2:H4].NumberFormat = \"@\"", L"Application.Quit()"}},
        {L"f.ods", false, {L"Desktop.terminate()"}},
    };
    for (const auto& c : cases) {
        DeleteFileW(options.logPath.c_str());
        const std::wstring file = folder.File(c.file);
        if (c.excel)
            ExportFormatsToExcel(view, file.c_str(), false);
        else
            ExportFormatsToCalc(view, file.c_str());
        const std::vector<std::wstring> log = LogLines(options.logPath);
        for (const std::wstring& line : c.lines)
            EXPECT_NE(log.end(), std::find(log.begin(), log.end(), line)) << c.file << ": " << line;
        const auto textColumns = std::count_if(log.begin(), log.end(), [](const std::wstring& l) {
            return l.find(L".NumberFormat = ") != std::wstring::npos;
        });
        EXPECT_EQ(c.excel ? 5 : 0, textColumns) << c.file;

        // Into a configuration that has none of them, replacing: the rows come back in order.
        CTransferDoc doc;
        _KV_FORMAT stranger = MakeFormat(L"Stranger");
        stranger.id = 4000;
        doc.AddFormat(stranger);
        std::unique_ptr<CAutomationTableImport> table = c.excel ? CreateExcelTableImport() : CreateCalcTableImport();
        ReadFormatsTable(doc, *table, file.c_str(), true, 0, nullptr);
        ASSERT_EQ(3u, doc.GetFormats().size()) << c.file;
        const wchar_t* names[] = {L"Quote", L"Pre", L"Plain"};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(names[i], doc.GetFormats()[i]->name) << c.file;
            EXPECT_EQ(view.rows[i]->templ, doc.GetFormats()[i]->templ) << c.file;
            EXPECT_EQ(view.rows[i]->id, doc.GetFormats()[i]->id) << c.file;
        }
        EXPECT_EQ(1, doc.GetFormats()[0]->keyFilterMask);
        EXPECT_EQ(0, doc.GetFormats()[2]->keyFilterMask);
    }
}

TEST_F(FormatsSheets, LiveExportsStayOpenAndFailuresReachTheBox)
{
    CTempFolder folder;
    SheetStandInOptions options;
    options.logPath = folder.File(L"calls.log");
    CFakeSystemServices services;
    bool registered = true;
    services.createAutomationObject = [&](const wchar_t* progId, IDispatch** object) -> HRESULT {
        if (!registered)
            return REGDB_E_CLASSNOTREG;
        const SheetFlavour flavour = std::wstring(progId) == L"Excel.Application" ? SheetFlavour::Excel : SheetFlavour::Calc;
        return CreateSheetStandIn(flavour, options, object);
    };
    Add(MakeFormat(L"Only"));
    Settings().SetFormatsFilter(0);
    Open();
    CChosenFile ui;
    page->SetFileUi(&ui);

    // Live tables are neither saved nor closed.
    const struct {
        int kind;
        std::vector<std::wstring> absent;
    } live[] = {{4, {L".SaveAs(", L".Quit("}}, {6, {L".storeAsURL(", L".terminate(", L".close("}}};
    for (const auto& c : live) {
        DeleteFileW(options.logPath.c_str());
        ASSERT_TRUE(page->ExportFormats(c.kind));
        EXPECT_EQ(c.kind, Settings().GetFormatsExport());
        const std::vector<std::wstring> log = LogLines(options.logPath);
        EXPECT_FALSE(log.empty()) << c.kind;
        for (const std::wstring& member : c.absent)
            EXPECT_TRUE(std::none_of(log.begin(), log.end(),
                                     [&](const std::wstring& l) { return l.find(member) != std::wstring::npos; }))
                << c.kind << member;
    }
    EXPECT_TRUE(ui.asked.empty());

    // "Open" failing: its code reaches the message box, the formats stay.
    options.failures = {{L"Open", static_cast<HRESULT>(0x800A03EC)}};
    ui.path = folder.File(L"in.xlsx");
    ui.index = 2;
    ASSERT_TRUE(page->ImportFormats(2));
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(MultiByteToWString(CComException(static_cast<HRESULT>(0x800A03EC)).what(), CP_ACP), host.messages.back());
    EXPECT_EQ(std::vector<std::wstring>{L"Only"}, StoredNames());

    // Without the application: an empty table, no error, nothing removed.
    registered = false;
    const size_t shown = host.messages.size();
    ASSERT_TRUE(page->ImportFormats(2));
    EXPECT_EQ(shown, host.messages.size());
    EXPECT_EQ(std::vector<std::wstring>{L"Only"}, StoredNames());
    EXPECT_EQ(0u, Doc().GetFormats()[0]->flags & KVF_DELETE);
}
