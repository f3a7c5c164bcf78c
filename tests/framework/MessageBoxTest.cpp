#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <filesystem>
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "tests/framework/FrameworkTestSupport.h"

namespace {

struct ExpectedButton {
    int id;
    const wchar_t* text;
};

bool HasButton(HWND dialog, int id)
{
    return GetDlgItem(dialog, id) != nullptr;
}

// The button a task dialog makes its default: its own DM_GETDEFID, else the push button
// that carries the default style.
int DefaultButton(HWND dialog)
{
    const LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
    if (HIWORD(def) == DC_HASDEFID)
        return LOWORD(def);
    for (int id : {IDOK, IDCANCEL, IDRETRY, IDYES, IDNO}) {
        HWND b = GetDlgItem(dialog, id);
        if (b && (GetWindowLongW(b, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return id;
    }
    return 0;
}

// The text of the selected item of the dialog's tree view.
std::wstring SelectedTreeText(HWND dialog)
{
    HWND tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
    for (HWND child = GetWindow(dialog, GW_CHILD); !tree && child; child = GetWindow(child, GW_HWNDNEXT))
        tree = FindWindowExW(child, nullptr, WC_TREEVIEWW, nullptr);
    if (!tree)
        return L"";
    TVITEMW item{TVIF_TEXT};
    item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    wchar_t text[MAX_PATH] = {};
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    if (!item.hItem || !SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return L"";
    return text;
}

// A folder of this process alone, outside the busy (and hidden) temporary folder: other test
// processes change theirs while a dialog shows ours.
std::wstring TempFolder(const wchar_t* name)
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring folder = std::wstring(windows, 3) + name + L"_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring LastComponent(const std::wstring& path)
{
    return path.substr(path.find_last_of(L'\\') + 1);
}

class MessageBoxes : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DrainMessages();
        ASSERT_TRUE(owner.CreateTop(L"Owner of the boxes"));
        ShowWindow(owner.m_hWnd, SW_SHOWNOACTIVATE);
    }
    void TearDown() override
    {
        TestApp().m_pMainWnd = nullptr;
        owner.Destroy();
        DrainMessages();
    }
    CScriptWnd owner;
};

} // namespace

TEST_F(MessageBoxes, StyleWordBuildsTheTaskDialog)
{
    struct Case {
        UINT style;
        std::vector<ExpectedButton> buttons;
        int defaultButton; // 0: the first
        PCWSTR icon;       // standard icon, or null
        bool questionIcon;
    } cases[] = {
        {0x0134, {{IDYES, L"Yes"}, {IDNO, L"No"}}, IDNO, TD_WARNING_ICON, false},
        {0x0000, {{IDOK, L"OK"}}, 0, nullptr, false},
        {0x0001, {{IDOK, L"OK"}, {IDCANCEL, L"Cancel"}}, 0, nullptr, false},
        {0x0023, {{IDYES, L"Yes"}, {IDNO, L"No"}, {IDCANCEL, L"Cancel"}}, 0, nullptr, true},
        {0x0213, {{IDYES, L"Yes"}, {IDNO, L"No"}, {IDCANCEL, L"Cancel"}}, IDCANCEL, TD_ERROR_ICON, false},
        {0x0235, {{IDRETRY, L"Retry"}, {IDCANCEL, L"Cancel"}}, 0, TD_WARNING_ICON, false}, // index 2 of 2
        {0x0F04, {{IDYES, L"Yes"}, {IDNO, L"No"}}, 0, nullptr, false},
        {0x0144, {{IDYES, L"Yes"}, {IDNO, L"No"}}, IDNO, TD_INFORMATION_ICON, false},
        {0x0080, {{IDOK, L"OK"}}, 0, TD_SHIELD_ICON, false},
        {0x0052, {}, 0, nullptr, false}, // neither the buttons nor the icon are ours
        {0x0006, {}, 0, nullptr, false},
    };
    for (const Case& c : cases) {
        CMessageBoxConfig box(L"Text of the box", c.style, owner.m_hWnd, nullptr);
        const TASKDIALOGCONFIG& cfg = box.config;
        ASSERT_EQ(c.buttons.size(), cfg.cButtons) << std::hex << c.style;
        for (size_t i = 0; i < c.buttons.size(); ++i) {
            EXPECT_EQ(c.buttons[i].id, cfg.pButtons[i].nButtonID) << std::hex << c.style;
            EXPECT_STREQ(c.buttons[i].text, cfg.pButtons[i].pszButtonText) << std::hex << c.style;
        }
        EXPECT_EQ(c.defaultButton, cfg.nDefaultButton) << std::hex << c.style;
        EXPECT_EQ(c.questionIcon, (cfg.dwFlags & TDF_USE_HICON_MAIN) != 0) << std::hex << c.style;
        if (c.questionIcon)
            EXPECT_NE(nullptr, cfg.hMainIcon);
        else
            EXPECT_EQ(c.icon, cfg.pszMainIcon) << std::hex << c.style;
        EXPECT_TRUE(cfg.dwFlags & TDF_POSITION_RELATIVE_TO_WINDOW);
        EXPECT_STREQ(L"Norvane", cfg.pszWindowTitle);
        EXPECT_STREQ(L"Text of the box", cfg.pszContent);
        EXPECT_EQ(owner.m_hWnd, cfg.hwndParent);
        EXPECT_EQ(GetResourceModule(), cfg.hInstance);
        EXPECT_EQ(nullptr, cfg.pszVerificationText);
    }
}

TEST_F(MessageBoxes, DoNotAskBoxAndOwnerOfLastResort)
{
    const bool unchecked = false, checked = true;
    CMessageBoxConfig off(L"t", 0x21, nullptr, &unchecked);
    EXPECT_STREQ(L"Do not ask", off.config.pszVerificationText);
    EXPECT_FALSE(off.config.dwFlags & TDF_VERIFICATION_FLAG_CHECKED);
    CMessageBoxConfig on(L"t", 0x21, nullptr, &checked);
    EXPECT_TRUE(on.config.dwFlags & TDF_VERIFICATION_FLAG_CHECKED);

    EXPECT_EQ(nullptr, off.config.hwndParent) << "no owner and no main window: unowned";
    CScriptWnd mainWnd;
    ASSERT_TRUE(mainWnd.CreateTop(L"Main"));
    TestApp().m_pMainWnd = &mainWnd;
    CMessageBoxConfig toMain(L"t", 0, nullptr, nullptr);
    EXPECT_EQ(mainWnd.m_hWnd, toMain.config.hwndParent);
    CMessageBoxConfig explicitOwner(L"t", 0, owner.m_hWnd, nullptr);
    EXPECT_EQ(owner.m_hWnd, explicitOwner.config.hwndParent);
}

TEST_F(MessageBoxes, YesNoWarningDefaultsToNoAndPressingNoReturnsIt)
{
    std::vector<std::wstring> texts;
    int defaultId = -1;
    HWND boxOwner = nullptr;
    CDialogRobot robot([](HWND d) { return HasButton(d, IDYES) && HasButton(d, IDNO); },
                       [&](HWND d) {
                           texts = ButtonTexts(d);
                           defaultId = DefaultButton(d);
                           boxOwner = GetWindow(d, GW_OWNER);
                           PressButton(d, IDNO);
                       });
    EXPECT_EQ(IDNO, ShowMessage(L"Remove the selected key?", 0x0134, owner.m_hWnd, nullptr));
    robot.Join();
    ASSERT_TRUE(robot.found);
    EXPECT_EQ((std::vector<std::wstring>{L"Yes", L"No"}), texts);
    EXPECT_EQ(IDNO, defaultId);
    EXPECT_EQ(owner.m_hWnd, boxOwner);
}

TEST_F(MessageBoxes, DoNotAskStateGoesInAndComesOut)
{
    struct Case {
        bool before;
        bool toggle;
        bool after;
    } cases[] = {{true, true, false}, {false, true, true}, {true, false, true}, {false, false, false}};
    for (const Case& c : cases) {
        int shownState = -1;
        std::wstring boxText;
        CDialogRobot robot([](HWND d) { return HasButton(d, IDOK) && FindCheckBox(d); },
                           [&](HWND d) {
                               HWND box = FindCheckBox(d);
                               shownState = static_cast<int>(SendMessageW(box, BM_GETCHECK, 0, 0));
                               GetWindowString(box, boxText);
                               if (c.toggle)
                                   SendMessageW(d, TDM_CLICK_VERIFICATION, !c.before, FALSE);
                               PressButton(d, IDOK);
                           });
        bool state = c.before;
        EXPECT_EQ(IDOK, ShowMessageId(IDS_TEST_QUESTION, 0x21, owner.m_hWnd, &state));
        robot.Join();
        ASSERT_TRUE(robot.found);
        EXPECT_EQ(c.before ? BST_CHECKED : BST_UNCHECKED, shownState);
        EXPECT_EQ(L"Do not ask", boxText);
        EXPECT_EQ(c.after, state) << "before " << c.before << " toggle " << c.toggle;
    }
}

TEST_F(MessageBoxes, UnownedWithoutOwnerAndMainWindow)
{
    HWND boxOwner = reinterpret_cast<HWND>(1);
    std::wstring content;
    CDialogRobot robot([](HWND d) { return HasButton(d, IDOK); },
                       [&](HWND d) {
                           boxOwner = GetWindow(d, GW_OWNER);
                           PressButton(d, IDOK);
                       });
    EXPECT_EQ(IDOK, ShowMessage(L"Plain message", 0x40));
    robot.Join();
    EXPECT_EQ(nullptr, boxOwner);
}

// ---- file dialogs ----

TEST_F(MessageBoxes, FileNameBufferHoldsTheNamesAndNeverOverflows)
{
    struct Case {
        std::vector<std::wstring> names;
        size_t size;
    } cases[] = {
        {{}, 4096},
        {{L"a.txt"}, 4096},
        {{L"a.txt", L"b.csv"}, 4096},
        {{std::wstring(4094, L'x')}, 4096},       // name, NUL and final NUL fit exactly
        {{std::wstring(4095, L'x')}, 4097},       // one more grows the buffer
        {{std::wstring(6000, L'y'), L"z"}, 6004},
    };
    for (const Case& c : cases) {
        std::vector<wchar_t> buffer = BuildFileNameBuffer(c.names);
        ASSERT_EQ(c.size, buffer.size());
        size_t at = 0;
        for (const std::wstring& name : c.names) {
            EXPECT_EQ(name, std::wstring(buffer.data() + at));
            at += name.size() + 1;
        }
        EXPECT_EQ(L'\0', buffer[at]) << "the final NUL";
    }
}

TEST_F(MessageBoxes, FileDialogCancelLeavesEverything)
{
    struct Case {
        bool save;
        std::wstring initial;
    } cases[] = {
        {false, L"C:\\initial.txt"},
        {true, L"C:\\" + std::wstring(5000, L'n') + L".txt"}, // longer than the usual buffer
    };
    for (const Case& c : cases) {
        CDialogRobot robot([](HWND d) { return HasButton(d, IDCANCEL) && HasButton(d, IDOK); },
                           [](HWND d) { PressButton(d, IDCANCEL); });
        std::vector<std::wstring> names{c.initial};
        int filterIndex = 2;
        const DWORD flags = c.save ? OFN_ENABLESIZING | OFN_LONGNAMES | OFN_EXPLORER | OFN_OVERWRITEPROMPT
                                   : OFN_ENABLESIZING | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
        EXPECT_FALSE(ShowFileDialog(names, &filterIndex, c.save, IDS_TEST_FILTER, owner.m_hWnd, flags));
        robot.Join();
        EXPECT_EQ(std::vector<std::wstring>{c.initial}, names);
        EXPECT_EQ(2, filterIndex);
    }
}

TEST_F(MessageBoxes, FileDialogOkGivesTheChosenPath)
{
    const std::wstring folder = TempFolder(L"nv_file_dialog");
    const std::wstring path = folder + L"\\chosen.txt";
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    CloseHandle(f);
    CDialogRobot robot([](HWND d) { return HasButton(d, IDCANCEL) && HasButton(d, IDOK); },
                       [](HWND d) { PressButton(d, IDOK); });
    std::vector<std::wstring> names{path, L"ignored-second-name"};
    int filterIndex = 1;
    EXPECT_TRUE(ShowFileDialog(names, &filterIndex, false, IDS_TEST_FILTER, owner.m_hWnd,
                               OFN_ENABLESIZING | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY));
    robot.Join();
    ASSERT_EQ(1u, names.size()) << "exactly the chosen path";
    EXPECT_EQ(0, _wcsicmp(path.c_str(), names[0].c_str())) << std::filesystem::path(names[0]).string();
    EXPECT_EQ(1, filterIndex);
    DeleteFileW(path.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(MessageBoxes, BrowseForFolderPreselectsAndReturnsThePath)
{
    const std::wstring folder = TempFolder(L"nv_browse");
    const std::wstring name = LastComponent(folder);
    {
        // Ready once the preselected folder is the tree's selection.
        std::wstring lastSelected;
        CDialogRobot robot(
            [&lastSelected, &name](HWND d) {
                lastSelected = SelectedTreeText(d);
                return HasButton(d, IDOK) && lastSelected == name;
            },
            [](HWND d) { PressButton(d, IDOK); }, 30000);
        wchar_t path[MAX_PATH];
        wcscpy(path, folder.c_str());
        const ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(BrowseForFolder(owner.m_hWnd, path));
        robot.Join();
        EXPECT_TRUE(robot.found) << "selected: " << std::filesystem::path(lastSelected).string() << " after "
                                 << GetTickCount64() - start << " ms";
        EXPECT_EQ(0, _wcsicmp(folder.c_str(), path)) << std::filesystem::path(path).string();
    }
    for (const std::wstring& start : {folder, std::wstring()}) {
        CDialogRobot robot([](HWND d) { return HasButton(d, IDCANCEL); }, [](HWND d) { PressButton(d, IDCANCEL); });
        wchar_t path[MAX_PATH];
        wcscpy(path, start.c_str());
        EXPECT_FALSE(BrowseForFolder(owner.m_hWnd, path));
        robot.Join();
        EXPECT_EQ(start, std::wstring(path)) << "cancel leaves the buffer";
    }
    RemoveDirectoryW(folder.c_str());
}
