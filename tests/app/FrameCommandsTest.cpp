// The frame's commands as WM_COMMAND brings them, the menus with their placeholders, and the
// hand-over of a second instance's command line.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <functional>

#include "config/KeyNumber.h"
#include "tests/app/FrameProbe.h"
#include "tests/app/TransferTestSupport.h"

using namespace frame_probe;

namespace {

class FrameCommands : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(kStartContinue, Start());
        TakeNotedCalls();
    }
    void TearDown() override
    {
        App().StopTransfer();
        AppTest::TearDown();
    }
    LRESULT Command(int id) { return SendMessageW(FrameWindow(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    CLauncherDialogCloser m_launcherCloser;
    static CAppSettings& Settings() { return App().GetSettings(); }
    static CTransferDoc& Doc() { return App().GetSettings().GetTransferDoc(); }

    // A menu holding the placeholder, opened as the system opens it.
    HMENU OpenPlaceholder(CMenu& holder, int placeholder)
    {
        holder.Attach(CreatePopupMenu());
        AppendMenuW(holder.Get(), MF_STRING, placeholder, L"placeholder");
        SendMessageW(FrameWindow(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(holder.Get()), 0);
        return holder.Get();
    }
};

const _KEY_NUMBER kKey = [] {
    const uint8_t bytes[] = {0x39, 0x30, 0x55, 0x55, 0x00};  // Em-Marine 085,12345
    return MakeKeyNumber(bytes, 5);
}();

} // namespace

TEST_F(FrameCommands, CommandsThatReachTheirTargets)
{
    CMainFrame& frame = *Frame();
    *Settings().EditConfigFiles() = {L"Alpha"};
    m_system.executeShell = [](SHELLEXECUTEINFOW* info) -> BOOL {
        NotedCalls().push_back(std::wstring(L"shell|") + info->lpVerb + L"|" + info->lpFile + L"|" +
                                 info->lpParameters);
        return TRUE;
    };
    // Help and the tools reach the system through its services.
    m_system.showHtmlHelp = [](HWND, const wchar_t* file, UINT command, DWORD_PTR data) {
        NotedCalls().push_back(L"help|" + std::wstring(file ? file : L"") + L"|" + std::to_wstring(command) +
                                 L"|" + std::to_wstring(data));
        return HWND{};
    };
    ASSERT_TRUE(CreateDirectoryW(m_folder.File(L"Help").c_str(), nullptr));
    const std::wstring helpFile = m_folder.File(L"Help\\Norvane_RUS.chm");
    WriteFileBytes(helpFile, "help");
    *Settings().EditExtTools() = {{L"One", L"one.exe"}, {L"Two", L"two.exe", L"%KeyNum% x"}};
    const std::wstring docs = m_folder.Path();
    const struct {
        int id;
        std::vector<std::wstring> calls;
    } cases[] = {
        {ID_FORMAT_NEW, {L"NewFormatDialog"}},
        {ID_LAST_KEY, {L"LastKeyDialog"}},
        // No transfer yet: %KeyNum% is empty.
        {ID_EXT_TOOL_FIRST + 1, {L"shell|open|two.exe| x"}},
        {ID_HELP_CONTENTS, {L"help|" + helpFile + L"|0|0"}},
        {ID_PAGE_HELP, {L"help|" + helpFile + L"|15|" + std::to_wstring(0x20000 + 968)}},
        // "Go log" of the log menus shows the log in its folder, the documents folder.
        {ID_GO_TRANSFER_LOG, {L"shell|open|explorer.exe|/select, \"" + docs + L"\\Transfer.log\""}},
        {ID_GO_APP_LOG, {L"shell|open|explorer.exe|/select, \"" + docs + L"\\Norvane.log\""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(1, Command(c.id)) << c.id;
        EXPECT_EQ(c.calls, TakeNotedCalls()) << c.id;
    }
    // "User 1" opens the first configuration of the list; "User 2" with one does nothing.
    EXPECT_EQ(1, Command(ID_CONFIG_USER1));
    EXPECT_EQ(docs + L"\\Alpha.nv2", Doc().GetPathName());
    EXPECT_EQ(1, Command(ID_CONFIG_USER2));
    EXPECT_EQ(docs + L"\\Alpha.nv2", Doc().GetPathName());
    // Ids the table does not list are not handled.
    for (int id : {32790, 9999, 10000, 10001, 32826, 33034, 33039, 40000})
        EXPECT_EQ(0, Command(id)) << id;
    EXPECT_EQ(0u, frame.DynamicCommandCount());
}

TEST_F(FrameCommands, TheCatalogueAndLogMenuCommandsComeFromOtherProgramsToo)
{
    TakePostedCommands(FrameWindow());
    for (int id : {ID_SHOW_SOURCE, ID_SHOW_DESTINATION, ID_KEYLIST_TIMER, ID_RESET_COUNTER, ID_GO_TRANSFER_LOG,
                   ID_GO_APP_LOG}) {
        SendMessageW(FrameWindow(), WM_TCARD, kExternalCommandTag, kExternalCommandBase + id);
        EXPECT_EQ(std::vector<WPARAM>{static_cast<WPARAM>(id)}, TakePostedCommands(FrameWindow())) << id;
    }
}

TEST_F(FrameCommands, CommandsThatSwitchSettingsBackAndForth)
{
    CAppSettings& settings = Settings();
    const struct {
        int id;
        std::function<bool()> state;
    } cases[] = {
        {ID_VIEW_STATUSBAR, [&] { return (settings.GetPanels() & PANEL_STATUSBAR) && GetDlgItem(FrameWindow(), IDC_STATUS_BAR); }},
        {ID_VIEW_PAGELIST, [&] { return (settings.GetPanels() & PANEL_PAGELIST) != 0; }},
        {ID_VIEW_TOOLBAR, [&] { return (settings.GetPanels() & PANEL_TOOLBAR) != 0; }},
        {ID_VIEW_HEADER, [&] { return (settings.GetPanels() & PANEL_HEADER) && GetDlgItem(FrameWindow(), IDC_PAGE_HEADER); }},
        {ID_TOPMOST, [&] { return settings.view.topMost; }},
        {ID_SNAP_TO_EDGES, [&] { return settings.view.snapToEdges; }},
        {ID_VERSION_TITLE, [&] { return settings.view.versionTitle; }},
        {ID_SOUNDS_ON, [&] { return settings.IsSoundsEnabled(); }},
        {ID_TRANSFER_LOG_ON, [&] { return settings.transferLog; }},
        {ID_DEBUG_LOG_ON, [&] { return settings.debugLog.enabled; }},
        {ID_KEYLIST_TIMER, [&] { return Doc().keyListTimerEnabled; }},
    };
    for (const auto& c : cases) {
        const bool before = c.state();
        EXPECT_EQ(1, Command(c.id)) << c.id;
        EXPECT_NE(before, c.state()) << c.id;
        EXPECT_EQ(1, Command(c.id)) << c.id;
        EXPECT_EQ(before, c.state()) << c.id;
    }
    // The version title reaches the caption at the next idle pass.
    Command(ID_VERSION_TITLE);
    EXPECT_TRUE(Frame()->DirtyBits() & MFD_CAPTION);
}

TEST_F(FrameCommands, PageCommandsShowTheirPages)
{
    const int pages[] = {0, 1, 3, 4, 20, 11, 12, 22, 23, 24, 21};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(1, Command(ID_PAGE_FIRST + i));
        EXPECT_EQ(pages[i], Frame()->GetCurrentPage()) << ID_PAGE_FIRST + i;
    }
    // The catalogue's "Source" and "Destination" pages.
    Command(ID_SHOW_SOURCE);
    EXPECT_EQ(PAGE_SOURCE, Frame()->GetCurrentPage());
    Command(ID_SHOW_DESTINATION);
    EXPECT_EQ(PAGE_DESTINATION, Frame()->GetCurrentPage());
    Command(ID_PREVIOUS_PAGE);
    EXPECT_EQ(PAGE_SOURCE, Frame()->GetCurrentPage());
    // A hidden frame comes back with its page.
    ShowWindow(FrameWindow(), SW_HIDE);
    Command(ID_PAGE_FIRST);
    EXPECT_TRUE(IsWindowVisible(FrameWindow()));
    EXPECT_EQ(PAGE_TRANSFER, Frame()->GetCurrentPage());
}

TEST_F(FrameCommands, LastKeyCommandsCounterAndExit)
{
    CAppSettings& settings = Settings();
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    _KV_FORMAT format;
    format.name = L"Std";
    format.templ = L"%d";
    format.params = L"x[0]";
    Doc().SetDefaultFormatId(Doc().GetFormats()[Doc().AddFormat(format)]->id);
    settings.SetLastTransferInfo(CTimeValue(transfer_test::FixedTime()), 1, kKey, 0, nullptr, 0, nullptr, nullptr,
                                 nullptr, nullptr);

    // 32947: part 4 of the status bar.
    settings.SetKeyViewFormat(KEY_VIEW_AUTO);
    EXPECT_EQ(1, Command(ID_COPY_LAST_KEY));
    EXPECT_EQ(L"Em-Marine 085,12345", transfer_test::ClipboardText());
    // 32880: only while running; then the last key goes out again.
    Command(ID_REPEAT_LAST);
    EXPECT_EQ(0, settings.GetLastTransfer().counter);
    Doc().SetSource(L"List of keys", SOURCE_KEYLIST);
    ASSERT_TRUE(App().StartTransfer(false));
    Command(ID_REPEAT_LAST);
    EXPECT_EQ(1, settings.GetLastTransfer().counter);
    EXPECT_EQ(L"57", transfer_test::ClipboardText());
    // 32879 stops and starts; 32948 resets the counter.
    Command(ID_TRANSFER_TOGGLE);
    EXPECT_FALSE(settings.IsTransferEnabled());
    Command(ID_RESET_COUNTER);
    EXPECT_EQ(0, settings.GetLastTransfer().counter);
    Command(ID_TRANSFER_TOGGLE);
    EXPECT_TRUE(settings.IsTransferEnabled());

    // 33003: the window goes without a question, and nothing unsaved reaches the disk.
    settings.SetConfirmFlags(0x03);
    settings.SetLanguage(L"Unsaved");
    Command(ID_EXIT_NO_SAVE);
    EXPECT_FALSE(FrameWindow());
    EXPECT_EQ(0, RunLoop());
    EXPECT_FALSE(FileExists(SettingsPath()));
}

TEST_F(FrameCommands, ADynamicIdWorksUntilTheIdlePassAfterItsMenu)
{
    CMenu holder;
    OpenPlaceholder(holder, ID_PAGE_LIST);
    ASSERT_EQ(13u, Frame()->DynamicCommandCount());
    SendMessageW(FrameWindow(), WM_EXITMENULOOP, 0, 0);
    EXPECT_EQ(1, Command(kFirstDynamicCommand + 5));  // the sixth page of the list: 10
    EXPECT_EQ(PAGE_DESTINATION, Frame()->GetCurrentPage());
    Frame()->IdleUpdate();
    EXPECT_TRUE(Frame()->DynamicCommandCount() == 0);
    EXPECT_EQ(0, Command(kFirstDynamicCommand + 2));
    EXPECT_EQ(PAGE_DESTINATION, Frame()->GetCurrentPage());
}

TEST_F(FrameCommands, PlaceholdersBecomeTheirItems)
{
    CAppSettings& settings = Settings();
    Frame()->ShowPage(PAGE_KEYBOARD);
    CMenu pages;
    EXPECT_EQ((std::vector<std::wstring>{L"Transfer", L"Event Log", L"Source", L"    Reader", L"    List of keys",
                                         L"Destination", L"    Keyboard*", L"    Portavo", L"Formats",
                                         L"Reading keys", L"Advanced", L"    Sounds", L"    Hotkeys"}),
              Items(OpenPlaceholder(pages, ID_PAGE_LIST)));

    *settings.EditLanguages() = {{L"<internal>", L"English", 1033}, {L"de-de", L"German (Deutsch)", 1031},
                                 {L"fr-fr", L"French (français)", 1036}};
    const struct {
        const wchar_t* language;
        std::vector<std::wstring> items;
    } languages[] = {
        {L"", {L"Auto*", L"Internal [English]", L"-", L"German (Deutsch)", L"French (français)"}},
        {L"<INTERNAL>", {L"Auto", L"Internal [English]*", L"-", L"German (Deutsch)", L"French (français)"}},
        {L"fr-fr", {L"Auto", L"Internal [English]", L"-", L"German (Deutsch)", L"French (français)*"}},
    };
    for (const auto& l : languages) {
        settings.SetLanguage(l.language);
        CMenu menu;
        EXPECT_EQ(l.items, Items(OpenPlaceholder(menu, ID_LANGUAGE_LIST))) << l.language;
    }
    // Their commands: the language of the item, none for "Auto".
    const int first = static_cast<int>(Frame()->DynamicCommandCount()) - 4;
    Command(kFirstDynamicCommand + first + 2);
    EXPECT_EQ(L"de-de", settings.GetLanguage());
    Command(kFirstDynamicCommand + first + 1);
    EXPECT_EQ(L"<internal>", settings.GetLanguage());
    Command(kFirstDynamicCommand + first);
    EXPECT_EQ(L"", settings.GetLanguage());

    *settings.EditConfigFiles() = {L"Alpha", L"Beta"};
    Doc().SetPathName(m_folder.File(L"beta.nv2"));
    CMenu configurations;
    EXPECT_EQ((std::vector<std::wstring>{L"<Norvane>", L"Alpha", L"Beta*"}),
              Items(OpenPlaceholder(configurations, ID_CONFIG_LIST)));
    // Their commands open the configuration, asking about unsaved changes as "confirm" says.
    std::vector<std::wstring> questions;
    m_system.askUser = [&questions](const std::wstring& text, UINT, HWND, bool*) {
        questions.push_back(text);
        return IDNO;
    };
    const int beta = static_cast<int>(Frame()->DynamicCommandCount()) - 1;
    settings.SetConfirmFlags(CONFIRM_SAVE_CONFIG);
    Command(kFirstDynamicCommand + beta - 1);
    EXPECT_EQ(m_folder.File(L"Alpha.nv2"), Doc().GetPathName());
    {
        CDocUpdateScope scope(Doc());
        Doc().RaiseChange(TDC_SOURCE, 0, true);  // unsaved changes
    }
    Command(kFirstDynamicCommand + beta - 2);
    EXPECT_EQ(L"", Doc().GetPathName());
    EXPECT_EQ(std::vector<std::wstring>{L"Save the changes to the configuration \"Alpha.nv2\"?"}, questions);
    m_system.askUser = nullptr;

    CMenu tools;
    ASSERT_GT(settings.extTools.size(), 1u);
    HMENU toolMenu = OpenPlaceholder(tools, ID_EXT_TOOL_LIST);
    ASSERT_EQ(static_cast<int>(settings.extTools.size()), GetMenuItemCount(toolMenu));
    EXPECT_EQ(L"Windows Device Manager", Items(toolMenu)[0]);
    EXPECT_EQ(static_cast<UINT>(ID_EXT_TOOL_FIRST + 1), GetMenuItemID(toolMenu, 1));
}

// The menus of the Transfer page's Source and Destination buttons, read while they are open.
TEST_F(FrameCommands, TransferPageMenusListTheToolsWithTheirHotkeyTexts)
{
    CAppSettings& settings = Settings();
    *settings.EditExtTools() = {{L"One", L"one.exe"}, {L"Two", L"two.exe"}};
    settings.EditHotkeys()->push_back(MakeHotkeyEntry(ID_REFRESH_PORT_LIST, HOTKEY_MOD_CTRL | VK_F9));
    Frame()->IdleUpdate();
    settings.SetCurrentPage(PAGE_TRANSFER);
    CBasePage* page = Frame()->GetPage(PAGE_TRANSFER);
    ASSERT_TRUE(page && page->m_hWnd);
    const struct {
        int button;
        std::vector<std::wstring> items;
    } cases[] = {
        {ID_TP_SOURCE_MENU,
         {L"Configure the selected source", L"Configure key reading", L"Scan Mode Vell-4 (Vell-4 Base, Vell-4 EHR)",
          L"-", L"Refresh port list\tCtrl+F9", L"-", L"One", L"Two"}},
        {ID_TP_DEST_MENU, {L"Configure the selected transfer method", L"-", L"One", L"Two"}},
    };
    for (const auto& c : cases) {
        ShownMenu().clear();
        const UINT_PTR timer = SetTimer(nullptr, 0, 20, &ReadShownMenu);
        SendMessageW(page->m_hWnd, WM_COMMAND, MAKEWPARAM(c.button, 0), 0);
        KillTimer(nullptr, timer);
        EXPECT_EQ(c.items, ShownMenu()) << c.button;
    }
}

TEST_F(FrameCommands, MainMenuStatesAndHotkeyTexts)
{
    CAppSettings& settings = Settings();
    Frame()->IdleUpdate();  // the default hotkeys are registered and named
    const LPCWSTR name = MAKEINTRESOURCEW(IDM_MAIN_POPUP);
    CMenu resource(LoadMenuW(GetModuleHandleW(nullptr), name));
    HMENU menu = GetSubMenu(resource.Get(), 0);
    ASSERT_TRUE(menu);
    auto state = [menu](UINT id) { return GetMenuState(menu, id, MF_BYCOMMAND); };
    const struct {
        bool running, unsaved;
        uint32_t panels;
        bool topMost;
    } cases[] = {{false, false, PANEL_STATUSBAR | PANEL_HEADER, true}, {true, true, PANEL_TOOLBAR | PANEL_PAGELIST, false}};
    for (const auto& c : cases) {
        settings.SetPanels(c.panels);
        AppViewOptions view = settings.view;
        view.topMost = c.topMost;
        settings.SetViewOptions(view);
        settings.SetTransferEnabled(c.running);
        if (c.unsaved)
            settings.SetLanguage(L"changed");
        else
            settings.Save(true, true);
        ASSERT_EQ(c.unsaved, settings.IsUnsaved() || Doc().IsUnsaved());
        Frame()->SetMainMenuStates(menu);
        EXPECT_EQ(!c.unsaved, (state(ID_CONFIG_SAVE) & MF_GRAYED) != 0);
        EXPECT_EQ(c.running, (state(ID_TRANSFER_START) & MF_GRAYED) != 0);
        EXPECT_EQ(!c.running, (state(ID_TRANSFER_STOP) & MF_GRAYED) != 0);
        EXPECT_EQ(!c.running, (state(ID_TRANSFER_RESTART) & MF_GRAYED) != 0);
        const std::pair<UINT, bool> checks[] = {{ID_VIEW_TOOLBAR, (c.panels & PANEL_TOOLBAR) != 0},
                                                {ID_VIEW_PAGELIST, (c.panels & PANEL_PAGELIST) != 0},
                                                {ID_VIEW_STATUSBAR, (c.panels & PANEL_STATUSBAR) != 0},
                                                {ID_VIEW_HEADER, (c.panels & PANEL_HEADER) != 0},
                                                {ID_TOPMOST, c.topMost},
                                                {ID_SNAP_TO_EDGES, settings.view.snapToEdges},
                                                {ID_VERSION_TITLE, settings.view.versionTitle}};
        for (const auto& [id, checked] : checks)
            EXPECT_EQ(checked, (state(id) & MF_CHECKED) != 0) << id;
    }
    settings.SetTransferEnabled(false);

    // Opening it names the hotkeys after the items and fills its submenus' placeholders.
    SendMessageW(FrameWindow(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
    const std::pair<UINT, const wchar_t*> texts[] = {
        {ID_TRANSFER_START, L"S&tart\tF5"}, {ID_TRANSFER_STOP, L"St&op\tAlt+F5"},
        {ID_TRANSFER_RESTART, L"&Restart\tCtrl+Alt+F5"}, {ID_CONFIG_SAVE, L"&Save\tCtrl+S"}, {ID_APP_EXIT, L"E&xit"}};
    for (const auto& [id, text] : texts) {
        wchar_t buffer[64] = {};
        GetMenuStringW(menu, id, buffer, 64, MF_BYCOMMAND);
        EXPECT_STREQ(text, buffer);
    }
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
        if (HMENU sub = GetSubMenu(menu, i))
            SendMessageW(FrameWindow(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sub), i);
    for (UINT placeholder : {ID_CONFIG_LIST, ID_LANGUAGE_LIST, ID_PAGE_LIST, ID_EXT_TOOL_LIST})
        EXPECT_EQ(static_cast<UINT>(-1), GetMenuState(menu, placeholder, MF_BYCOMMAND)) << placeholder;
}

TEST_F(FrameCommands, HandOverFromASecondProcess)
{
    CAppSettings& settings = Settings();
    Doc().SetSource(L"List of keys", SOURCE_KEYLIST);
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    auto handOver = [this](const std::wstring& line) {
        COPYDATASTRUCT cds{101, static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t)),
                           const_cast<wchar_t*>(line.c_str())};
        return SendMessageW(FrameWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    };
    EXPECT_EQ(TRUE, handOver(L"/language=x /start"));
    EXPECT_EQ(L"x", settings.GetLanguage());
    EXPECT_TRUE(settings.IsTransferEnabled());
    EXPECT_EQ(TRUE, handOver(L"/stop"));
    EXPECT_FALSE(settings.IsTransferEnabled());

    const std::wstring docs = m_folder.Path();
    const struct {
        std::wstring line;
        std::wstring display;  // the configuration as the caption names it
    } configurations[] = {
        {L"cfg.nv2", L"cfg.nv2"},
        {L"\"" + docs + L"\\Sites\\Gate.nv2\"", L"Sites\\Gate.nv2"},
        {L"C:\\Elsewhere\\Far.nv2", L"C:\\Elsewhere\\Far.nv2"},
    };
    for (const auto& c : configurations) {
        handOver(c.line);
        std::wstring display;
        settings.GetConfigDisplayPath(display);
        EXPECT_EQ(c.display, display) << c.line;
    }
    // The documents folder is the "docdir" value, not the configuration's text.
    const std::wstring other = docs + L"\\Other";
    EXPECT_EQ(TRUE, handOver(L"/docdir=" + other + L" other.nv2"));
    EXPECT_EQ(other, settings.GetDocumentsFolderSetting());
    EXPECT_EQ(other + L"\\other.nv2", Doc().GetPathName());

    // "/admin": an elevated copy with " /N"; declined at the prompt, this one goes on.
    std::vector<std::wstring> starts;
    m_system.checkElevation = [](bool* elevated) -> HRESULT {
        *elevated = false;
        return S_FALSE;
    };
    BOOL accept = FALSE;
    m_system.executeShell = [&](SHELLEXECUTEINFOW* info) -> BOOL {
        starts.push_back(std::wstring(info->lpVerb) + L"|" + info->lpParameters);
        SetLastError(accept ? 0 : ERROR_CANCELLED);
        return accept;
    };
    settings.SetConfirmFlags(0);
    EXPECT_EQ(TRUE, handOver(L"/admin /language=y"));
    EXPECT_TRUE(IsWindow(FrameWindow()));
    EXPECT_NE(L"y", settings.GetLanguage()) << "nothing else is applied";
    accept = TRUE;
    EXPECT_EQ(TRUE, handOver(L"/admin"));
    EXPECT_FALSE(FrameWindow());
    EXPECT_EQ(0, RunLoop());
    EXPECT_EQ((std::vector<std::wstring>{L"runas|/admin /language=y /N", L"runas|/admin /N"}), starts);
}
