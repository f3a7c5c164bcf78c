// The Advanced page in a window of the test with a fake host: the full parameter list's tree,
// selection and editors, every parameter set through its editor, the simple view's boxes and
// configuration combo, and both page defaults.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/AppSettings.h"
#include "pages/options/AdvAllPage.h"
#include "pages/options/AdvSimplePage.h"
#include "pages/options/AdvancedPage.h"
#include "resources/resource.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowPicture.h"

namespace {

class AdvancedPageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_USEREX_CLASSES |
                                                  ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
    }

    void SetUp() override
    {
        host.settings.SetDataFolder(folder.Path(), true);
        host.settings.SetSettingsPath(folder.File(L"Norvane.json"));
        parent = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0,
                                 720, 560, nullptr, nullptr, nullptr, nullptr);
        const DWORD error = GetLastError();
        ASSERT_TRUE(parent) << "the page's window was not made (error " << error << ")";
    }

    void TearDown() override
    {
        page.reset();
        DestroyWindow(parent);
    }

    void Show(bool all)
    {
        host.settings.SetAdvancedShowAll(all);
        page = std::make_unique<CAdvancedPage>(host);
        ASSERT_TRUE(page->CreateDialogWindow(parent));
        RECT client{};
        GetClientRect(parent, &client);
        SetWindowPos(page->m_hWnd, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_SHOWWINDOW);
        ASSERT_EQ(page->CurrentView(), all ? 1 : 0);
    }

    CAdvAllPage& All() { return *static_cast<CAdvAllPage*>(page->View(1)); }
    HWND AllWnd() { return All().m_hWnd; }
    HWND List() { return GetDlgItem(AllWnd(), IDC_PARAM_LIST); }
    HWND SimpleWnd() { return page->View(0)->m_hWnd; }

    int RowOfParam(int index)
    {
        const auto& rows = All().Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (!rows[i].node->IsGroup() && rows[i].node->id == index)
                return static_cast<int>(i);
        return -1;
    }
    int RowOfGroup(int id)
    {
        const auto& rows = All().Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].node->IsGroup() && rows[i].node->id == id)
                return static_cast<int>(i);
        return -1;
    }
    void Select(const std::vector<int>& rows)
    {
        LVITEMW none{};
        none.stateMask = LVIS_SELECTED;
        SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
        LVITEMW on{};
        on.stateMask = LVIS_SELECTED;
        on.state = LVIS_SELECTED;
        for (int row : rows)
            SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&on));
        All().Flush();
    }
    std::vector<int> Selected()
    {
        std::vector<int> rows;
        for (int row = -1; (row = static_cast<int>(SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                                                 LVNI_SELECTED))) >= 0;)
            rows.push_back(row);
        return rows;
    }
    bool Visible(HWND page, int id) { return IsWindowVisible(GetDlgItem(page, id)) != FALSE; }
    void Command(HWND window, int id, int code = BN_CLICKED)
    {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    }
    std::wstring Cell(int row, int column)
    {
        wchar_t text[300] = L"";
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 300;
        SendMessageW(List(), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return text;
    }
    // Picks the combo item whose data is `data` and applies it.
    void ApplyChoice(LPARAM data)
    {
        HWND combo = GetDlgItem(AllWnd(), IDC_PARAM_CHOICE);
        const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            COMBOBOXEXITEMW item{};
            item.mask = CBEIF_LPARAM;
            item.iItem = i;
            SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
            if (item.lParam == data) {
                SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
                Command(AllWnd(), ID_PARAM_APPLY);
                return;
            }
        }
        ADD_FAILURE() << "no item with data " << data;
    }

    CTempFolder folder;
    CFakePageHost host;
    HWND parent = nullptr;
    std::unique_ptr<CAdvancedPage> page;
};

}  // namespace

TEST_F(AdvancedPageTest, EveryParameterIsSetThroughItsEditorAndShowsBold)
{
    Show(true);
    ASSERT_EQ(All().Rows().size(), 12u + 51u);
    for (int index = 2; index <= kParamCount; ++index) {
        if (index == 4 || index == 11)
            continue;  // the configuration and the language have their own tests
        const int row = RowOfParam(index);
        ASSERT_GE(row, 0) << index;
        Select({row});
        const int kind = ParamKindOf(index);
        ASSERT_EQ(All().EditorKind(), kind) << index;
        ParamValue before;
        GetParamValue(host, index, before);
        switch (kind) {
        case PK_YESNO: {
            const int radio = before.flag ? IDC_PARAM_NO : IDC_PARAM_YES;
            ASSERT_TRUE(Visible(AllWnd(), radio)) << index;
            SendMessageW(GetDlgItem(AllWnd(), radio), BM_CLICK, 0, 0);
            break;
        }
        case PK_FOLDER:
            SetWindowTextW(GetDlgItem(AllWnd(), IDC_PARAM_FOLDER), L"Docs");
            Command(AllWnd(), ID_PARAM_APPLY);
            break;
        case PK_NUMBER:
            ASSERT_TRUE(Visible(AllWnd(), IDC_PARAM_NUMBER));
            SetDlgItemTextW(AllWnd(), IDC_PARAM_NUMBER, L"12");
            Command(AllWnd(), ID_PARAM_APPLY);
            break;
        case PK_MOUSE_COMMAND: ApplyChoice(index == 21 ? 0 : ID_SHOW_MINIMIZE); break;
        case PK_SEPARATOR: ApplyChoice(L'\t'); break;
        case PK_ENCODING: ApplyChoice(2); break;
        case PK_LOG_LEVEL: ApplyChoice(2); break;
        default: FAIL() << index;
        }
        ParamValue after;
        GetParamValue(host, index, after);
        EXPECT_TRUE(ParamDiffersFromDefault(index, after)) << "parameter " << index;
        EXPECT_NE(Cell(row, 1), L"") << "parameter " << index;
    }
    EXPECT_EQ(host.settings.debugLog.maxSize, 12);
    EXPECT_EQ(host.settings.csv.delimiter, L'\t');
    EXPECT_EQ(Cell(RowOfParam(50), 1), L"\\t");
    EXPECT_EQ(host.settings.GetDocumentsFolderSetting(), L"Docs");
    EXPECT_TRUE(host.settings.view.topMost);
    // Stored in the settings file too.
    host.settings.Save(true, false);
    CFakePageHost reloaded;
    reloaded.settings.SetDataFolder(folder.Path(), true);
    reloaded.settings.SetSettingsPath(folder.File(L"Norvane.json"));
    ASSERT_TRUE(reloaded.settings.Load(true, false));
    EXPECT_EQ(reloaded.settings.debugLog.logLevel, 2);
    EXPECT_EQ(reloaded.settings.GetTrayClickCommands()[1], ID_SHOW_MINIMIZE);
    EXPECT_EQ(reloaded.settings.GetConfirmFlags(), host.settings.GetConfirmFlags());
    EXPECT_EQ(reloaded.settings.GetHistoryFlags(), host.settings.GetHistoryFlags());

    // The number editor in the picture.
    Select({RowOfParam(9)});
    const CWindowPicture picture(parent, L"AdvancedAll.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    HWND number = GetDlgItem(AllWnd(), IDC_PARAM_NUMBER);
    ASSERT_TRUE(IsWindowVisible(number));
    const RECT edit = ClientRectInWindowPicture(parent, number);
    EXPECT_GT(edit.right - edit.left, 20);
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), picture.Dominant(edit));
    EXPECT_GE(picture.InkPixels(edit, GetSysColor(COLOR_WINDOW)), 10) << "the value 12 in the editor";
    EXPECT_GE(picture.Ink(ClientRectInWindowPicture(parent, List())), 300) << "the parameters' rows";
}

TEST_F(AdvancedPageTest, TheEditorFollowsTheSelection)
{
    Show(true);
    // Two kinds: no editor. Only group rows: no editor and no toolbar.
    Select({RowOfParam(2), RowOfParam(9)});
    EXPECT_EQ(All().EditorKind(), 0);
    EXPECT_FALSE(Visible(AllWnd(), IDC_PARAM_YES));
    EXPECT_FALSE(Visible(AllWnd(), IDC_PARAM_NUMBER));
    EXPECT_TRUE(Visible(AllWnd(), IDC_PARAM_BAR));
    Select({RowOfGroup(1), RowOfGroup(5)});
    EXPECT_EQ(All().EditorKind(), 0);
    EXPECT_FALSE(Visible(AllWnd(), IDC_PARAM_BAR));

    // Yes/no rows that disagree: neither radio; "Yes" sets all of them.
    host.settings.SetConfirmFlags(CONFIRM_EXIT);
    Select({RowOfParam(29), RowOfParam(30)});
    EXPECT_EQ(All().EditorKind(), PK_YESNO);
    EXPECT_EQ(All().EditorState() & 1, 1);
    EXPECT_EQ(IsDlgButtonChecked(AllWnd(), IDC_PARAM_YES), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(AllWnd(), IDC_PARAM_NO), BST_UNCHECKED);
    SendMessageW(GetDlgItem(AllWnd(), IDC_PARAM_YES), BM_CLICK, 0, 0);
    EXPECT_EQ(host.settings.GetConfirmFlags(), CONFIRM_EXIT | CONFIRM_SAVE_CONFIG);

    // "Default" on "Log level" sets 5; the page default leaves the log level alone.
    host.settings.EditDebugLog()->logLevel = 2;
    Select({RowOfParam(8)});
    Command(AllWnd(), ID_PARAM_DEFAULT);
    EXPECT_EQ(host.settings.debugLog.logLevel, 5);
    host.settings.EditDebugLog()->logLevel = 3;
    host.settings.SetPanels(2);
    Command(page->m_hWnd, ID_PAGE_DEFAULT);
    EXPECT_EQ(host.settings.debugLog.logLevel, 3);
    EXPECT_EQ(host.settings.GetPanels(), 9u);
    EXPECT_EQ(host.calls.back(), L"OpenConfiguration||0");
}

TEST_F(AdvancedPageTest, GroupsFoldAndTheSelectionIsKeptByKindAndId)
{
    Show(true);
    const int startup = RowOfGroup(1);
    Select({startup, RowOfParam(1), RowOfParam(2)});
    Command(AllWnd(), ID_COLLAPSE_ALL);
    EXPECT_EQ(All().Rows().size(), 7u);  // the top-level groups only
    EXPECT_EQ(Selected(), std::vector<int>{RowOfGroup(1)});
    Command(AllWnd(), ID_EXPAND_ALL);
    EXPECT_EQ(All().Rows().size(), 63u);
    // Parameter 101 has the index 1 like the group: only the group comes back selected.
    EXPECT_EQ(Selected(), std::vector<int>{RowOfGroup(1)});
    EXPECT_TRUE(host.settings.advancedCollapsed.empty());

    // "Select group" on "UI": the group, its three subgroups and everything in them.
    Select({RowOfGroup(5)});
    Command(AllWnd(), ID_SELECT_GROUP);
    std::vector<int> expected;
    for (int id : {5, 6, 7, 8})
        expected.push_back(RowOfGroup(id));
    for (int index = 11; index <= 35; ++index)
        expected.push_back(RowOfParam(index));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Selected(), expected);

    // Headings of the mouse-command list.
    EXPECT_EQ(CAdvAllPage::GroupHeading(L"Window"), std::wstring(12, L'-') + L" Window " + std::wstring(12, L'-'));
    EXPECT_EQ(CAdvAllPage::GroupHeading(std::wstring(28, L'x')), L"- " + std::wstring(28, L'x') + L" -");
    EXPECT_EQ(CAdvAllPage::GroupHeading(std::wstring(29, L'x')), std::wstring(29, L'x'));
    EXPECT_EQ(CAdvAllPage::GroupHeading(std::wstring(31, L'x')), std::wstring(31, L'x'));

    // Keys in the list: Space flips each selected yes/no value, Enter folds the selected groups.
    HWND list = All().GetList().m_hWnd;
    host.settings.SetConfirmFlags(CONFIRM_EXIT);
    Select({RowOfParam(29), RowOfParam(30)});
    SendMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(host.settings.GetConfirmFlags(), CONFIRM_SAVE_CONFIG);
    Select({RowOfGroup(1)});
    SendMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(host.settings.advancedCollapsed, std::vector<uint16_t>{1});
}

TEST_F(AdvancedPageTest, TheConfigurationIsChosenThroughTheHost)
{
    *host.settings.EditConfigFiles() = {L"Gate", L"Yard"};
    host.settings.GetTransferDoc().SetPathName(folder.File(L"Yard.nv2"));
    Show(false);
    HWND combo = GetDlgItem(SimpleWnd(), IDC_SIMPLE_CONFIG);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
    // "<Norvane>" chosen, the save question cancelled: the old name comes back.
    host.openConfigurationResult = false;
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    Command(SimpleWnd(), IDC_SIMPLE_CONFIG, CBN_SELCHANGE);
    EXPECT_EQ(host.calls.back(), L"OpenConfiguration||0");
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
    // Another extension than ".nv2": no selection.
    host.settings.GetTransferDoc().SetPathName(folder.File(L"Yard.cfg"));
    page->ExchangeData(false);
    Command(SimpleWnd(), ID_CONFIG_REFRESH);
    EXPECT_EQ(host.calls.back(), L"ListConfigurations");
}

TEST_F(AdvancedPageTest, SimpleViewBoxesAndDefaults)
{
    host.settings.SetConfirmFlags(CONFIRM_TEMIC);  // 0x4 set, 0x8 clear
    Show(false);
    HWND reader = GetDlgItem(SimpleWnd(), IDC_SIMPLE_CONFIRM_READER);
    EXPECT_EQ(IsDlgButtonChecked(SimpleWnd(), IDC_SIMPLE_CONFIRM_READER), BST_INDETERMINATE);
    const uint32_t steps[] = {0, CONFIRM_TEMIC | CONFIRM_WRITE_KEYS, CONFIRM_TEMIC};
    for (uint32_t expected : steps) {
        SendMessageW(reader, BM_CLICK, 0, 0);
        EXPECT_EQ(host.settings.GetConfirmFlags() & (CONFIRM_TEMIC | CONFIRM_WRITE_KEYS), expected);
    }
    Command(SimpleWnd(), ID_CONFIRM_CHECK_ALL);
    EXPECT_EQ(host.settings.GetConfirmFlags(), 0x1011Fu);
    EXPECT_EQ(IsDlgButtonChecked(SimpleWnd(), IDC_SIMPLE_CONFIRM_READER), BST_CHECKED);

    // Boxes store at once.
    SendDlgItemMessageW(SimpleWnd(), IDC_SIMPLE_TOPMOST, BM_CLICK, 0, 0);
    EXPECT_TRUE(host.settings.view.topMost);
    SendDlgItemMessageW(SimpleWnd(), IDC_SIMPLE_TRAY_ALWAYS, BM_CLICK, 0, 0);
    EXPECT_EQ(host.settings.GetTrayIconFlags(), 2u);

    // Switching views stores the choice.
    SendDlgItemMessageW(page->m_hWnd, IDC_ADV_ALL, BM_CLICK, 0, 0);
    EXPECT_EQ(page->CurrentView(), 1);
    EXPECT_TRUE(host.settings.GetAdvancedShowAll());
    SendDlgItemMessageW(page->m_hWnd, IDC_ADV_SIMPLE, BM_CLICK, 0, 0);
    EXPECT_EQ(page->CurrentView(), 0);
    EXPECT_FALSE(host.settings.GetAdvancedShowAll());

    // Both views are child controls of the page, painted in the window colour.
    for (int n : {0, 1}) {
        HWND view = page->View(n)->m_hWnd;
        const LONG style = GetWindowLongW(view, GWL_STYLE);
        EXPECT_EQ(style & (WS_CHILD | DS_CONTROL | WS_CAPTION | WS_DISABLED), WS_CHILD | DS_CONTROL) << n;
        EXPECT_TRUE(GetWindowLongW(view, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) << n;
        HDC dc = GetDC(view);
        for (UINT message : {WM_CTLCOLORDLG, WM_CTLCOLORSTATIC})
            EXPECT_EQ(reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)),
                      SendMessageW(view, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(view)))
                << n << " " << message;
        ReleaseDC(view, dc);
    }

    {
        const CWindowPicture picture(parent, L"AdvancedSimple.bmp");
        ASSERT_TRUE(picture.Ok()) << picture.Problem();
        ASSERT_TRUE(IsWindowVisible(SimpleWnd()));
        EXPECT_FALSE(IsWindowVisible(AllWnd())) << "one view at a time";
        const RECT box = ClientRectInWindowPicture(parent, GetDlgItem(SimpleWnd(), IDC_SIMPLE_TOPMOST));
        EXPECT_GE(picture.Ink(box), 30) << "the ticked box and its label";
    }

    // Defaults leave the panels, tray clicks, history and CSV alone.
    host.settings.SetPanels(3);
    host.settings.SetTrayClickCommands({1, 2, 3, 4});
    host.settings.SetHistoryFlags(5);
    host.settings.EditCsv()->delimiter = L',';
    Command(page->m_hWnd, ID_PAGE_DEFAULT);
    EXPECT_EQ(host.settings.GetConfirmFlags(), kDefaultConfirm);
    EXPECT_FALSE(host.settings.view.topMost);
    EXPECT_EQ(host.settings.GetTrayIconFlags(), 0u);
    EXPECT_EQ(host.settings.GetPanels(), 3u);
    EXPECT_EQ(host.settings.GetTrayClickCommands()[3], 4);
    EXPECT_EQ(host.settings.GetHistoryFlags(), 5u);
    EXPECT_EQ(host.settings.csv.delimiter, L',');
    EXPECT_EQ(IsDlgButtonChecked(SimpleWnd(), IDC_SIMPLE_TOPMOST), BST_UNCHECKED);
}
