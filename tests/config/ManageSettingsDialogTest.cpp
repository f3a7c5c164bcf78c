// The import and export settings dialog on real controls: the group list from its masks, the
// OK state, Enter in the file box, refused names, Browse, showing the file, the export it runs
// and what closing it stores.
#include "AppSettingsTestSupport.h"

#include <commctrl.h>
#include <optional>

#include "config/ManageSettingsDialog.h"
#include "config/SettingsTransfer.h"
#include "framework/WinApp.h"
#include "resources/resource.h"
#include "tests/support/FakeSystemServices.h"

using namespace settings_test;

namespace {

// The application object the framework dispatches through, for the time of one test.
class CDialogTestApp : public CWinApp
{
public:
    bool ShowHelp(int) override { return false; }
    bool PreTranslate(MSG* msg) override
    {
        for (HWND hwnd = msg->hwnd; hwnd; hwnd = GetParent(hwnd))
            if (CWnd* object = FindWindowObject(hwnd); object && object->PreTranslate(msg))
                return true;
        return false;
    }
};

class CFakeHost : public IManageSettingsHost
{
public:
    HIMAGELIST GetSmallImageList() override { return images; }
    int GetCommandTipText(UINT command, wchar_t* buffer, int room) override
    {
        tipCommands.push_back(command);
        return swprintf(buffer, static_cast<size_t>(room), L"tip %u", command);
    }
    bool ExchangeWindowPlacement(bool save, HWND, int slot, int) override
    {
        placements.push_back(save ? slot : -slot);
        return true;
    }
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR24, 5, 0);
    std::vector<UINT> tipCommands;
    std::vector<int> placements;
};

class CTestDialog : public CManageSettingsDialog
{
public:
    using CManageSettingsDialog::CManageSettingsDialog;
    std::optional<std::wstring> chosen;  // none: the file dialog is cancelled
    bool askedSave = false;
    UINT askedFilter = 0;
    DWORD askedFlags = 0;

protected:
    bool ChooseFile(bool save, UINT filterId, DWORD flags, std::wstring& name) override
    {
        askedSave = save;
        askedFilter = filterId;
        askedFlags = flags;
        if (!chosen)
            return false;
        name = *chosen;
        return true;
    }
};

class ManageSettingsDialog : public SettingsFixture
{
protected:
    void SetUp() override
    {
        SettingsFixture::SetUp();
        system.askUser = [this](const std::wstring& text, UINT style, HWND, bool*) {
            messages.push_back(text);
            styles.push_back(style);
            return IDOK;
        };
        system.executeShell = [this](SHELLEXECUTEINFOW* info) {
            shell.push_back(std::wstring(info->lpFile) + L"|" + (info->lpParameters ? info->lpParameters : L""));
            return TRUE;
        };
    }
    void TearDown() override
    {
        if (dialog)
            dialog->Destroy();
        dialog.reset();
        SettingsFixture::TearDown();
    }
    void Open()
    {
        dialog = std::make_unique<CTestDialog>(settings, host);
        ASSERT_TRUE(dialog->CreateDialogWindow(nullptr));
        list = GetDlgItem(dialog->m_hWnd, IDC_MS_LIST);
        edit = GetDlgItem(dialog->m_hWnd, IDC_MS_FILE);
    }
    // What the modal loop's idle pass does.
    void Idle() { SendMessageW(dialog->m_hWnd, WM_KICKIDLE, 0, 0); }
    void Command(int id) { SendMessageW(dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    void Choose(int radio)
    {
        CheckRadioButton(dialog->m_hWnd, IDC_MS_IMPORT, IDC_MS_RESET, radio);
        SendMessageW(dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(radio, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog->m_hWnd, radio)));
    }
    // Typed into the file box, so that it counts as modified.
    void Type(const std::wstring& text)
    {
        SetWindowTextW(edit, L"");
        for (wchar_t c : text)
            SendMessageW(edit, WM_CHAR, c, 1);
        SendMessageW(edit, EM_SETMODIFY, TRUE, 0);
    }
    // A key as the message loop hands it over: pre-translation first.
    void Key(HWND target, UINT key)
    {
        for (UINT message : {WM_KEYDOWN, WM_CHAR}) {
            if (message == WM_CHAR && key != VK_RETURN && key != VK_SPACE)
                continue;
            MSG msg{target, message, key, 1};
            if (!TestApp().PreTranslate(&msg))
                DispatchMessageW(&msg);
        }
    }
    CWinApp& TestApp() { return app; }
    bool OkEnabled() { return IsWindowEnabled(GetDlgItem(dialog->m_hWnd, IDOK)) != FALSE; }
    bool Checked(int item) { return ListView_GetCheckState(list, item) != FALSE; }
    std::wstring EditText()
    {
        std::wstring text;
        GetWindowString(edit, text);
        return text;
    }

    CDialogTestApp app;
    CFakeSystemServices system;
    CFakeHost host;
    std::unique_ptr<CTestDialog> dialog;
    HWND list = nullptr;
    HWND edit = nullptr;
    std::vector<std::wstring> messages;
    std::vector<UINT> styles;
    std::vector<std::wstring> shell;
};

} // namespace

TEST_F(ManageSettingsDialog, ListsTwentyTwoGroupsCheckedFromTheStoredMasks)
{
    const struct {
        int32_t tParams, aParams;
        std::vector<int> checked;
    } cases[] = {
        {-1, -1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}},
        {CG_DESTINATION | CG_MIFARE_KEYS, AG_TRAY | AG_OTHER, {1, 11, 16, 21}},  // "To" is the second item
        {CG_READER, 0, {2}},
    };
    for (const auto& c : cases) {
        {
            auto stored = settings.EditManageSettings();
            stored->tParams = c.tParams;
            stored->aParams = c.aParams;
        }
        Open();
        ASSERT_EQ(22, ListView_GetItemCount(list));
        std::vector<int> checked;
        for (int i = 0; i < 22; ++i)
            if (Checked(i))
                checked.push_back(i);
        EXPECT_EQ(c.checked, checked) << c.tParams;
        dialog->Destroy();
    }
    wchar_t text[64];
    host.placements.clear();
    Open();
    ListView_GetItemText(list, 1, 0, text, 64);
    EXPECT_STREQ(L"Parameter \"To\"", text);
    ListView_GetItemText(list, 21, 0, text, 64);
    EXPECT_STREQ(L"Other settings", text);
    EXPECT_EQ(std::vector<int>{-kManageSettingsPlacementSlot}, host.placements) << "placement restored";
}

TEST_F(ManageSettingsDialog, OkNeedsAGroupAndAFitFileInEveryAction)
{
    const std::wstring existing = dir.File(L"settings.json");
    WriteBytes(existing, SettingsText(""));
    Open();
    const struct {
        int radio;
        std::wstring name;
        bool withGroups, ok;
    } cases[] = {
        {IDC_MS_IMPORT, existing, true, true},  {IDC_MS_IMPORT, existing, false, false},
        {IDC_MS_IMPORT, dir.File(L"none.json"), true, false}, {IDC_MS_IMPORT, dir.Path(), true, false},
        {IDC_MS_EXPORT, L"out.json", true, true}, {IDC_MS_EXPORT, L"out.json", false, false},
        {IDC_MS_EXPORT, L"a|b.json", true, false}, {IDC_MS_EXPORT, L"", true, false},
        {IDC_MS_RESET, L"", true, true},         {IDC_MS_RESET, L"", false, false},
    };
    for (const auto& c : cases) {
        Choose(c.radio);
        Command(c.withGroups ? ID_MS_CHECK_ALL : ID_MS_UNCHECK_ALL);
        Type(c.name);
        SendMessageW(dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_MS_FILE, EN_KILLFOCUS), reinterpret_cast<LPARAM>(edit));
        Idle();
        EXPECT_EQ(c.ok, OkEnabled()) << c.radio << " " << WStringToMultiByte(c.name, CP_UTF8) << " " << c.withGroups;
        EXPECT_EQ(c.radio != IDC_MS_RESET, (GetWindowLongW(edit, GWL_STYLE) & WS_VISIBLE) != 0) << "the file box";
    }
}

TEST_F(ManageSettingsDialog, EnterInTheFileBoxTakesTheNameWithoutClosing)
{
    Open();
    Choose(IDC_MS_EXPORT);
    Idle();
    ASSERT_FALSE(OkEnabled());
    Type(dir.File(L"out.json"));
    Key(edit, VK_RETURN);
    EXPECT_EQ(dir.File(L"out.json"), dialog->GetFileName());
    Idle();
    EXPECT_TRUE(OkEnabled());
    EXPECT_EQ(-1, dialog->m_result) << "still open";
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(IsExistingSettingsFile(dir.File(L"out.json")));
}

TEST_F(ManageSettingsDialog, RefusedNamesAndFilesKeepTheDialogOpen)
{
    WriteBytes(dir.File(L"broken.json"), "{\"info\": ");
    const struct {
        int radio;
        std::wstring name;
        std::wstring message;
        bool focusOnFile;
    } cases[] = {
        {IDC_MS_EXPORT, L"a|b", L"Name contains invalid characters: |", true},
        {IDC_MS_EXPORT, L"<x>|\"y\"", L"Name contains invalid characters: <>|\"", true},
        {IDC_MS_EXPORT, L"", L"Field must be filled in.", true},
        {IDC_MS_IMPORT, dir.File(L"missing.json"), L"", true},  // the system's "file not found"
        {IDC_MS_IMPORT, dir.File(L"broken.json"), dir.File(L"broken.json") + L" cannot be read: its text is damaged at line 1, column 10.", false},
    };
    Open();
    ShowWindow(dialog->m_hWnd, SW_SHOWNORMAL);
    for (const auto& c : cases) {
        messages.clear();
        Choose(c.radio);
        Type(c.name);
        SetFocus(list);
        Command(IDOK);
        ASSERT_EQ(1u, messages.size()) << WStringToMultiByte(c.name, CP_UTF8);
        if (!c.message.empty()) {
            EXPECT_EQ(c.message, messages[0]);
        }
        EXPECT_EQ(UINT(MB_ICONERROR), styles.back());
        EXPECT_EQ(-1, dialog->m_result);
        if (c.focusOnFile) {
            EXPECT_EQ(edit, GetFocus()) << WStringToMultiByte(c.name, CP_UTF8);
        }
    }
}

TEST_F(ManageSettingsDialog, BrowseAddsTheJsonExtensionOnlyWhenExporting)
{
    Open();
    const struct {
        int radio;
        const wchar_t* chosen;
        const wchar_t* shown;
    } cases[] = {
        {IDC_MS_EXPORT, L"cfg", L"cfg.json"},
        {IDC_MS_EXPORT, L"CFG.JSON", L"CFG.JSON"},
        {IDC_MS_EXPORT, L"C:\\a.b\\cfg", L"C:\\a.b\\cfg.json"},
        {IDC_MS_EXPORT, L"cfg.nv2", L"cfg.nv2.json"},
        {IDC_MS_IMPORT, L"cfg", L"cfg"},
    };
    for (const auto& c : cases) {
        Choose(c.radio);
        dialog->chosen = c.chosen;
        Command(ID_MS_BROWSE);
        EXPECT_EQ(c.shown, EditText());
        EXPECT_EQ(c.shown, dialog->GetFileName());
        EXPECT_FALSE(SendMessageW(edit, EM_GETMODIFY, 0, 0));
        EXPECT_EQ(c.radio == IDC_MS_EXPORT, dialog->askedSave);
        EXPECT_EQ(UINT(c.radio == IDC_MS_EXPORT ? IDS_SETTINGS_SAVE_FILTER : IDS_SETTINGS_OPEN_FILTER), dialog->askedFilter);
        EXPECT_EQ(c.radio == IDC_MS_EXPORT, (dialog->askedFlags & OFN_OVERWRITEPROMPT) != 0);
    }
    dialog->chosen.reset();
    Command(ID_MS_BROWSE);
    EXPECT_EQ(L"cfg", EditText()) << "a cancelled choice changes nothing";
}

TEST_F(ManageSettingsDialog, ShowFileOpensTheFolderOrSelectsTheFile)
{
    const std::wstring existing = dir.File(L"here.json");
    WriteBytes(existing, "{}");
    Open();
    const struct {
        std::wstring name;
        std::wstring started;
    } cases[] = {
        {existing, L"explorer.exe|/select, \"" + existing + L"\""},
        {dir.File(L"no\\such\\file.json"), dir.Path() + L"|"},
        {dir.Path(), dir.Path() + L"|"},
    };
    for (const auto& c : cases) {
        shell.clear();
        Type(c.name);
        Command(ID_MS_SHOW_FILE);
        EXPECT_EQ(std::vector<std::wstring>{c.started}, shell) << WStringToMultiByte(c.name, CP_UTF8);
    }
}

TEST_F(ManageSettingsDialog, ExportOfTheSecondItemWritesOnlyTheDestination)
{
    settings.GetTransferDoc().SetDestination(L"notepad", DEST_KEYBOARD);
    Open();
    Choose(IDC_MS_EXPORT);
    Command(ID_MS_UNCHECK_ALL);
    ListView_SetCheckState(list, 1, TRUE);
    EXPECT_EQ(uint32_t(CG_DESTINATION), dialog->GetConfigMask());
    EXPECT_EQ(0u, dialog->GetAppMask());
    // Space toggles every selected item; the numeric pad's "*" inverts the selection.
    ListView_SetItemState(list, 13, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list, 14, LVIS_SELECTED, LVIS_SELECTED);
    Key(list, VK_SPACE);
    EXPECT_EQ(uint32_t(AG_HOTKEYS | AG_CONFIRM), dialog->GetAppMask());
    Key(list, VK_SPACE);
    EXPECT_EQ(0u, dialog->GetAppMask());
    Key(list, VK_MULTIPLY);
    EXPECT_EQ(20u, ListView_GetSelectedCount(list));

    const std::wstring path = dir.File(L"to.json");
    Type(path);
    Command(IDOK);
    EXPECT_EQ(std::vector<std::wstring>{L"Successfully."}, messages);
    EXPECT_EQ(UINT(MB_ICONINFORMATION), styles.back());
    EXPECT_EQ(IDOK, dialog->m_result);
    CMemJson json;
    ASSERT_TRUE(json.LoadFromFile(path));
    EXPECT_EQ(std::vector<std::wstring>({L"info", L"transfer"}), Keys(&json.Root));
    EXPECT_EQ(std::vector<std::wstring>{L"destination"}, Keys(json.Root.FindMember(L"transfer")));
}

TEST_F(ManageSettingsDialog, ClosingStoresTheChoicesOnlyWhenTheyChanged)
{
    Open();
    NMTTDISPINFOW tip{};
    tip.hdr.hwndFrom = GetDlgItem(dialog->m_hWnd, IDC_MS_TOOLBAR);
    tip.hdr.idFrom = ID_MS_BROWSE;
    tip.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(dialog->m_hWnd, WM_NOTIFY, IDC_MS_TOOLBAR, reinterpret_cast<LPARAM>(&tip));
    EXPECT_STREQ(L"tip 32981", tip.lpszText);
    recorder.Reset();
    dialog->Destroy();
    EXPECT_FALSE(settings.IsUnsaved());
    EXPECT_EQ(0, recorder.calls);
    EXPECT_EQ(std::vector<int>({-kManageSettingsPlacementSlot, kManageSettingsPlacementSlot}), host.placements);

    Open();
    Choose(IDC_MS_RESET);
    ListView_SetCheckState(list, 0, FALSE);
    dialog->Destroy();
    EXPECT_TRUE(settings.IsUnsaved());
    EXPECT_EQ(MSA_RESET, settings.manageSettings.mode);
    EXPECT_EQ(int32_t(kAllConfigGroups & ~CG_SOURCE), settings.manageSettings.tParams);
    EXPECT_EQ(int32_t(kAllAppGroups), settings.manageSettings.aParams);
}
