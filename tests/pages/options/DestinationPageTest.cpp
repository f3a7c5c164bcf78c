// The destination page's table and its two dialogs, driven through their controls.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "config/TransferDoc.h"
#include "core/TextUtil.h"
#include "pages/options/DestinationDialogs.h"
#include "pages/options/DestinationPage.h"
#include "resources/resource.h"
#include "tests/pages/options/OptionPageTestSupport.h"
#include "tests/support/WindowPicture.h"
#include "tests/support/TempFolder.h"

namespace {

std::wstring Cell(HWND list, int row, int column)
{
    wchar_t text[256] = {};
    ListView_GetItemText(list, row, column, text, 256);
    return text;
}

bool Checked(HWND list, int row)
{
    return (ListView_GetItemState(list, row, LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void Click(HWND dialog, int id)
{
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

} // namespace

TEST(DestinationPage, TableChecksTheCurrentDestinationAndShowsNamesAndMainSettings)
{
    CPageUnderTest<CDestinationPage> t;
    ASSERT_TRUE(t.created);
    CTransferDoc& doc = t.host.GetTransferDoc();
    doc.SetCmdLineProgram(L"C:\\tools\\door.exe");
    doc.SetHttpAddress(L"http://h/?k=%KeyNum%");
    doc.SetPortavoType(PORTAVO_SERVER);
    doc.SetPortavoServer(4100, 2);
    doc.SetDestination(L"", DEST_CMDLINE);
    PumpWaiting();
    HWND list = t.Item(IDC_DST_LIST);
    ASSERT_EQ(5, ListView_GetItemCount(list));
    const struct {
        const wchar_t* number;
        const wchar_t* name;
        const wchar_t* parameters;
        bool checked;
    } rows[] = {
        {L"1", L"Keyboard emulation", L"Unicode", false},  {L"2", L"Copy to Clipboard", L"", false},
        {L"3", L"Portavo", L"4100", false},                {L"4", L"Command Line", L"C:\\tools\\door.exe", true},
        {L"5", L"Http request", L"http://h/?k=%KeyNum%", false},
    };
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(rows[row].number, Cell(list, row, DSTCOL_NUMBER)) << row;
        EXPECT_EQ(rows[row].name, Cell(list, row, DSTCOL_NAME)) << row;
        EXPECT_EQ(L"", Cell(list, row, DSTCOL_TYPE)) << row;
        EXPECT_EQ(rows[row].parameters, Cell(list, row, DSTCOL_PARAMETERS)) << row;
        EXPECT_EQ(rows[row].checked, Checked(list, row)) << row;
    }
    // The check follows the destination; the bridge as a client shows its address.
    doc.SetDestination(L"", DEST_PORTAVO);
    doc.SetPortavoType(PORTAVO_CLIENT);
    PumpWaiting();
    EXPECT_TRUE(Checked(list, 2));
    EXPECT_FALSE(Checked(list, 3));
    EXPECT_EQ(L"127.0.0.1:25000", Cell(list, 2, DSTCOL_PARAMETERS));

    int selected = -1, total = -1;
    SendMessageW(t.page->m_hWnd, WM_PAGE_QUERY, reinterpret_cast<WPARAM>(&selected), reinterpret_cast<LPARAM>(&total));
    EXPECT_EQ(0, selected);
    EXPECT_EQ(5, total);

    const RECT table = ClientRectInWindowPicture(t.frame, list);
    const RECT rowsArea{table.left, table.top + 20, table.right, table.top + 110};
    EXPECT_GT(PictureInk(t.frame, rowsArea, L"DestinationPage.bmp"), 200) << "the rows are drawn";
}

TEST(DestinationPage, ColumnLayoutIsStoredOnlyAfterTheUserChangedIt)
{
    CPageUnderTest<CDestinationPage> t;
    ASSERT_TRUE(t.created);
    CAppSettings& settings = t.host.GetSettings();
    const std::vector<ColumnDesc> before = settings.Columns(COLS_DESTINATION);
    t.page->ExchangeData(true);
    EXPECT_EQ(before, settings.Columns(COLS_DESTINATION)) << "nothing changed, nothing stored";

    ListView_SetColumnWidth(t.Item(IDC_DST_LIST), 2, 222);
    t.page->Table().NotifyColumnsChanged(TCC_WIDTHS, 2);
    EXPECT_TRUE(settings.IsUnsaved());
    t.page->ExchangeData(true);
    EXPECT_EQ(222, settings.Columns(COLS_DESTINATION)[2].width);
}

TEST(HttpRequestDialog, AddressIsStoredTrimmedOfSpacesOnly)
{
    const struct {
        const wchar_t* typed;
        const wchar_t* stored;
    } cases[] = {
        {L"  http://h/?k=%KeyNum%  ", L"http://h/?k=%KeyNum%"},
        {L"   ", L""},
        {L" http://h/a b ", L"http://h/a b"},
        {L"\thttp://h/\t", L"\thttp://h/\t"},
    };
    for (const auto& c : cases) {
        CFakePageHost host;
        CHttpRequestDialog dialog(host);
        bool applyBefore = true, applyAfter = true;
        const int result = RunScripted(dialog, nullptr, [&](HWND d) {
            applyBefore = IsWindowEnabled(GetDlgItem(d, IDC_DST_APPLY));
            SetDlgItemTextW(d, IDC_HTTP_ADDRESS, c.typed);
            Click(d, IDC_DST_APPLY);
            applyAfter = IsWindowEnabled(GetDlgItem(d, IDC_DST_APPLY));
            SetDlgItemTextW(d, IDC_HTTP_ADDRESS, L"http://changed/");
            Click(d, IDCANCEL);
        });
        EXPECT_EQ(IDCANCEL, result);
        EXPECT_FALSE(applyBefore);
        EXPECT_FALSE(applyAfter);
        EXPECT_EQ(c.stored, host.GetTransferDoc().HttpRequest().address) << "cancel after Apply keeps it";
        EXPECT_EQ((std::vector<std::wstring>{L"RestorePlacement|6", L"SavePlacement|6"}), host.calls);
    }
}

TEST(DestinationDialogs, PlaceholderItemsReplaceTheSelection)
{
    const struct {
        bool http;
        int command;
        const wchar_t* expected;
    } cases[] = {
        {true, ID_HTTP_KEY_NUMBER, L"http://h/?k=%KeyNum%&x"},
        {true, ID_HTTP_READER_MODEL, L"http://h/?k=%ReaderModel%&x"},
        {true, ID_HTTP_READER_SN, L"http://h/?k=%ReaderSn%&x"},
        {false, ID_CMD_KEY_NUMBER, L"http://h/?k=%KeyNum%&x"},
    };
    for (const auto& c : cases) {
        CFakePageHost host;
        std::unique_ptr<CModalDialog> dialog;
        if (c.http)
            dialog = std::make_unique<CHttpRequestDialog>(host);
        else
            dialog = std::make_unique<CCmdLineDialog>(host);
        const int edit = c.http ? IDC_HTTP_ADDRESS : IDC_CMD_ARGUMENTS;
        RunScripted(*dialog, nullptr, [&](HWND d) {
            SetDlgItemTextW(d, edit, L"http://h/?k=SEL&x");
            SendDlgItemMessageW(d, edit, EM_SETSEL, 12, 15);
            SendMessageW(d, WM_COMMAND, MAKEWPARAM(c.command, 0), 0);
            Click(d, IDOK);
        });
        const std::wstring stored =
            c.http ? host.GetTransferDoc().HttpRequest().address : host.GetTransferDoc().CmdLine().arguments;
        EXPECT_EQ(c.expected, stored) << c.command;
    }
}

TEST(CmdLineDialog, TypedFolderIsExpandedForBrowsingAndStoredAsTyped)
{
    CTempFolder folder;
    wchar_t temp[MAX_PATH];
    GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
    const struct {
        std::wstring typed;
        std::wstring resolved;
    } cases[] = {
        {L"%TEMP%", temp},
        {folder.Path(), folder.Path()},
        {L"C:\\no such folder", L"C:\\no such folder"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.resolved, ResolveTypedFolder(c.typed)) << c.typed;

    CFakePageHost host;
    host.GetTransferDoc().SetUnsaved(false);
    CCmdLineDialog dialog(host);
    RunScripted(dialog, nullptr, [](HWND d) {
        SetDlgItemTextW(d, IDC_CMD_INITIAL_DIR, L"%TEMP%");
        Click(d, IDOK);
    });
    EXPECT_EQ(L"%TEMP%", host.GetTransferDoc().CmdLine().initialDir);
    EXPECT_TRUE(host.GetTransferDoc().IsUnsaved());
}

TEST(DestinationDialogs, BothDialogsAreDrawnWithTheirTexts)
{
    CFakePageHost host;
    host.GetTransferDoc().SetHttpAddress(L"http://127.0.0.1/key?n=%KeyNum%");
    host.GetTransferDoc().SetCmdLineProgram(L"C:\\doors\\open.exe");
    const struct {
        bool http;
        const wchar_t* file;
        const wchar_t* caption;
        int edit;
    } cases[] = {
        {true, L"HttpRequestDialog.bmp", L"Http request properties", IDC_HTTP_ADDRESS},
        {false, L"CmdLineDialog.bmp", L"CommandLine properties", IDC_CMD_PROGRAM},
    };
    for (const auto& c : cases) {
        std::unique_ptr<CModalDialog> dialog;
        if (c.http)
            dialog = std::make_unique<CHttpRequestDialog>(host);
        else
            dialog = std::make_unique<CCmdLineDialog>(host);
        int ink = 0;
        std::wstring caption;
        MINMAXINFO limits{};
        RunScripted(*dialog, nullptr, [&](HWND d) {
            caption = WindowText(d);
            SendMessageW(d, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
            SetForegroundWindow(d);
            ink = PictureInk(d, GetDlgItem(d, c.edit), c.file);
            Click(d, IDCANCEL);
        });
        EXPECT_EQ(c.caption, caption);
        EXPECT_GT(ink, 40) << c.file << ": the stored text shows";
        EXPECT_EQ(c.http ? 300 : 350, limits.ptMinTrackSize.x);
        EXPECT_EQ(c.http ? 170 : 250, limits.ptMinTrackSize.y);
    }
}
