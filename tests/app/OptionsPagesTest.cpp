// The Hotkeys and Sounds pages in the running program: keys captured through the system's
// input, shortcuts assigned and registered, sound files chosen in place and cleared.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "config/ActionCatalogue.h"
#include "pages/options/HotkeysPage.h"
#include "pages/options/SoundPage.h"
#include "tests/app/FrameProbe.h"
#include "tests/support/WindowPicture.h"

using namespace frame_probe;

namespace {

class OptionsPages : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        // No box may stop a test: each is noted and answered with OK.
        m_system.askUser = [this](const std::wstring& text, UINT, HWND, bool*) {
            m_asked.push_back(text);
            return IDOK;
        };
        ASSERT_EQ(kStartContinue, Start());
    }
    void TearDown() override
    {
        App().StopTransfer();
        ShutDown();
        AppTest::TearDown();
    }
    std::vector<std::wstring> m_asked;

    template <class Page>
    Page& Show(int pageId)
    {
        App().GetSettings().SetCurrentPage(pageId);
        Frame()->IdleUpdate();
        SetForegroundWindow(FrameWindow());
        EXPECT_TRUE(PumpAppUntil([this] { return GetForegroundWindow() == FrameWindow(); }));
        auto* page = dynamic_cast<Page*>(Frame()->GetCurrentPageObject());
        EXPECT_NE(page, nullptr);
        return *page;
    }
    static std::wstring Text(HWND control)
    {
        wchar_t text[256] = {};
        GetWindowTextW(control, text, 256);
        return text;
    }
    static void Click(HWND list, int row, int column)
    {
        RECT cell{};
        ListView_GetSubItemRect(list, row, column, LVIR_BOUNDS, &cell);
        const LPARAM at = MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2);
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(list, WM_LBUTTONUP, 0, at);
    }
    void Picture(HWND page, const wchar_t* name)
    {
        PumpWaitingMessages();
        const CWindowPicture picture(FrameWindow(), name);
        ASSERT_TRUE(picture.Ok()) << picture.Problem();
        HWND list = GetDlgItem(page, IDC_HOTKEYS_LIST) ? GetDlgItem(page, IDC_HOTKEYS_LIST) : GetDlgItem(page, IDC_SOUNDS_LIST);
        const RECT r = ClientRectInWindowPicture(FrameWindow(), list);
        EXPECT_GE(picture.InkPixels(r, picture.Dominant(r)), 300) << name;
    }
};

int RowOfCommand(CHotkeysPage& page, int command)
{
    return page.GetData()->RowOf(command);
}

} // namespace

TEST(HotkeyCapture, WarningsAndTextsOfShortcuts)
{
    const struct {
        WORD shortcut;
        const wchar_t* text;
        UINT warning;
    } cases[] = {
        {'A', L"A", IDS_HOTKEY_PRINTABLE},
        {HOTKEY_MOD_SHIFT | 'A', L"Shift + A", IDS_HOTKEY_SHIFT_PRINTABLE},
        {HOTKEY_MOD_CTRL | 'A', L"Ctrl + A", 0},
        {HOTKEY_MOD_CTRL | HOTKEY_MOD_ALT | VK_F9, L"Ctrl + Alt + F9", 0},
        {HOTKEY_MOD_SHIFT | VK_HOME, L"Shift + Home", 0},
        {VK_F9, L"F9", 0},
        {HOTKEY_MOD_CTRL | HOTKEY_MOD_SHIFT, L"Ctrl + Shift + ", 0},
        {0, L"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, CaptureText(c.shortcut)) << c.shortcut;
        EXPECT_EQ(c.warning, HotkeyWarning(c.shortcut)) << c.shortcut;
    }
    for (WORD key : {VK_BACK, VK_TAB, VK_RETURN, VK_ESCAPE, VK_PRIOR, VK_NEXT, VK_END, VK_HOME, VK_LEFT, VK_UP,
                     VK_RIGHT, VK_DOWN, VK_INSERT, VK_DELETE})
        EXPECT_EQ(static_cast<UINT>(IDS_HOTKEY_EDITING_KEY), HotkeyWarning(key)) << key;
}

TEST_F(OptionsPages, CaptureFieldTakesThePressedKeysAndWarns)
{
    CHotkeysPage& page = Show<CHotkeysPage>(PAGE_HOTKEYS);
    HWND edit = GetDlgItem(page.m_hWnd, IDC_HOTKEYS_CAPTURE);
    const int start = RowOfCommand(page, ID_TRANSFER_START);
    ASSERT_GE(start, 0);
    page.GetList().SelectOnly(start, true);
    page.OnIdleUpdate();
    ASSERT_TRUE(IsWindowEnabled(edit));
    const std::wstring stored = Text(edit);  // Start's built-in shortcut
    SetFocus(edit);

    const struct {
        std::initializer_list<WORD> keys;
        const wchar_t* text;
        UINT warning;
    } cases[] = {
        {{'A'}, L"A", IDS_HOTKEY_PRINTABLE},
        {{VK_SHIFT, 'A'}, L"Shift + A", IDS_HOTKEY_SHIFT_PRINTABLE},
        {{VK_CONTROL, 'A'}, L"Ctrl + A", 0},
        {{VK_DELETE}, L"Delete", IDS_HOTKEY_EDITING_KEY},
        {{VK_BACK}, L"", 0},
        {{VK_CONTROL}, L"", 0},  // a modifier alone is cleared when it is let go
        {{VK_CONTROL, VK_MENU, VK_F9}, L"Ctrl + Alt + F9", 0},
        {{VK_ESCAPE}, stored.c_str(), 0},
    };
    for (const auto& c : cases) {
        ASSERT_GT(PressKeys(c.keys), 0u);
        EXPECT_TRUE(PumpAppUntil([&] { return Text(edit) == c.text; })) << Text(edit) << " for " << c.text;
        EXPECT_EQ(c.warning, page.GetWarning()) << c.text;
        EXPECT_EQ(c.warning != 0, page.GetBalloon() && IsWindowVisible(page.GetBalloon())) << c.text;
    }
    Picture(page.m_hWnd, L"HotkeysPage.bmp");
}

TEST_F(OptionsPages, AssignedGlobalShortcutStartsTheTransferExceptWhileCapturing)
{
    CAppSettings& settings = App().GetSettings();
    settings.GetTransferDoc().SetSource(L"List of keys", SOURCE_KEYLIST);
    CHotkeysPage& page = Show<CHotkeysPage>(PAGE_HOTKEYS);
    HWND edit = GetDlgItem(page.m_hWnd, IDC_HOTKEYS_CAPTURE);
    page.GetList().SelectOnly(RowOfCommand(page, ID_TRANSFER_START), true);
    page.OnIdleUpdate();
    SetFocus(edit);
    ASSERT_GT(PressKeys({VK_CONTROL, VK_MENU, VK_F9}), 0u);
    ASSERT_TRUE(PumpAppUntil([&] { return page.GetCaptured() == (HOTKEY_MOD_CTRL | HOTKEY_MOD_ALT | VK_F9); }));
    CheckDlgButton(page.m_hWnd, IDC_HOTKEYS_GLOBAL, BST_CHECKED);
    SendMessageW(page.m_hWnd, WM_COMMAND, IDC_HOTKEYS_ASSIGN, 0);
    const uint32_t entry = MakeHotkeyEntry(ID_TRANSFER_START, HOTKEY_GLOBAL | HOTKEY_MOD_CTRL | HOTKEY_MOD_ALT | VK_F9);
    EXPECT_EQ(1, std::count(settings.hotkeys.begin(), settings.hotkeys.end(), entry));
    // A local Ctrl+F8 on Stop beside it.
    page.GetList().SelectOnly(RowOfCommand(page, ID_TRANSFER_STOP), true);
    page.OnIdleUpdate();
    ASSERT_GT(PressKeys({VK_CONTROL, VK_F8}), 0u);
    ASSERT_TRUE(PumpAppUntil([&] { return page.GetCaptured() == (HOTKEY_MOD_CTRL | VK_F8); }));
    CheckDlgButton(page.m_hWnd, IDC_HOTKEYS_GLOBAL, BST_UNCHECKED);
    SendMessageW(page.m_hWnd, WM_COMMAND, IDC_HOTKEYS_ASSIGN, 0);

    // While the field has the focus the frame holds no hotkey: the keys only land in the field.
    Frame()->IdleUpdate();
    EXPECT_EQ(1, App().HotkeyCaptures());
    EXPECT_EQ(0, Frame()->HotkeyCount());
    ASSERT_GT(PressKeys({VK_CONTROL, VK_MENU, VK_F9}), 0u);
    ASSERT_TRUE(PumpAppUntil([&] { return Text(edit) == L"Ctrl + Alt + F9"; }));
    PumpAppUntil([] { return false; }, 200);
    EXPECT_FALSE(settings.IsTransferEnabled());

    // Focus elsewhere: the global shortcut is registered and fires Start, the local one Stop.
    SetFocus(page.GetList().m_hWnd);
    EXPECT_EQ(0, App().HotkeyCaptures());
    Frame()->IdleUpdate();
    EXPECT_GE(Frame()->HotkeyCount(), 1);
    ASSERT_GT(PressKeys({VK_CONTROL, VK_MENU, VK_F9}), 0u);
    EXPECT_TRUE(PumpAppUntil([&] { return settings.IsTransferEnabled(); }));
    ASSERT_GT(PressKeys({VK_CONTROL, VK_F8}), 0u);
    EXPECT_TRUE(PumpAppUntil([&] { return !settings.IsTransferEnabled(); }));
    EXPECT_TRUE(m_asked.empty()) << m_asked.front();
}

TEST_F(OptionsPages, RowsGroupsToolTitlesAndDefaults)
{
    CAppSettings& settings = App().GetSettings();
    std::vector<_EXT_TOOL> tools(8);
    for (int i = 0; i < 8; ++i)
        tools[i] = {L"Tool " + std::to_wstring(i + 1), L"t.exe"};
    *settings.EditExtTools() = tools;
    CHotkeysPage& page = Show<CHotkeysPage>(PAGE_HOTKEYS);
    CHotKeysLvData& data = *page.GetData();
    const std::shared_ptr<CActionHdBk> catalogue = App().GetActionCatalogue();
    for (const ActionEntry& action : catalogue->actions) {
        const int tool = action.command - ID_EXT_TOOL_FIRST;
        if (tool >= 0 && tool < 8) {  // the eighth tool too
            EXPECT_EQ(L"Tool " + std::to_wstring(tool + 1), data.ActionName(static_cast<int>(&action - catalogue->actions.data())));
        }
    }
    // Hiding the unassigned actions leaves only rows with entries and the group rows before them.
    SendMessageW(page.m_hWnd, WM_COMMAND, IDC_HOTKEYS_UNASSIGNED, 0);
    EXPECT_EQ(1u, settings.GetHotkeysFilterFlags());
    for (int row = 0; row < data.GetItemCount(); ++row) {
        if (data.IsGroupRow(row))
            EXPECT_FALSE(data.IsGroupRow(row + 1)) << "a group row with no action under it, row " << row;
        else
            EXPECT_GE(data.EntryOf(data.CommandOf(row)), 0) << row;
    }
    // Delete in the list removes the entry; the defaults bring the seven back.
    const int start = RowOfCommand(page, ID_TRANSFER_START);
    page.GetList().SelectOnly(start, true);
    SetFocus(page.GetList().m_hWnd);
    ASSERT_GT(PressKeys({VK_DELETE}), 0u);
    EXPECT_TRUE(PumpAppUntil([&] { return data.EntryOf(ID_TRANSFER_START) < 0; }));
    settings.SetHotkeysEnabled(false);
    SendMessageW(page.m_hWnd, WM_COMMAND, ID_PAGE_DEFAULT, 0);
    std::vector<uint32_t> defaults;
    SetDefaultHotkeys(defaults);
    EXPECT_EQ(defaults, settings.hotkeys);
    EXPECT_EQ(7u, defaults.size());
    EXPECT_TRUE(settings.IsHotkeysEnabled());
    EXPECT_EQ(0u, settings.GetHotkeysFilterFlags());
    EXPECT_TRUE(IsWindowEnabled(page.GetList().m_hWnd));
}

TEST_F(OptionsPages, LocalShortcutWithWinIsWarnedOf)
{
    CHotkeysPage& page = Show<CHotkeysPage>(PAGE_HOTKEYS);
    HWND edit = GetDlgItem(page.m_hWnd, IDC_HOTKEYS_CAPTURE);
    page.GetList().SelectOnly(RowOfCommand(page, ID_TRANSFER_STOP), true);
    page.OnIdleUpdate();
    CheckDlgButton(page.m_hWnd, IDC_HOTKEYS_GLOBAL, BST_UNCHECKED);
    SetFocus(edit);
    ASSERT_GT(PressKeys({VK_LWIN, VK_F7}), 0u);
    ASSERT_TRUE(PumpAppUntil([&] { return page.GetCaptured() == (HOTKEY_MOD_WIN | VK_F7); }));
    EXPECT_EQ(static_cast<UINT>(IDS_HOTKEY_WIN_LOCAL), page.GetWarning());
    // Made global, it works and the warning goes.
    CheckDlgButton(page.m_hWnd, IDC_HOTKEYS_GLOBAL, BST_CHECKED);
    SendMessageW(page.m_hWnd, WM_COMMAND, IDC_HOTKEYS_GLOBAL, 0);
    EXPECT_EQ(0u, page.GetWarning());
}

// ---- Sounds ----

TEST(SoundEntries, MediaFolderListsSoundFilesSortedWithTheirNames)
{
    CTempFolder folder;
    ASSERT_TRUE(CreateDirectoryW(folder.File(L"Sub").c_str(), nullptr));
    for (const wchar_t* name : {L"b.WAV", L"a.mid", L"Sub\\c.mp3", L"notes.txt", L"d.wav.bak"})
        WriteFileBytes(folder.File(name), "x");
    const std::vector<std::wstring> entries = ListMediaSounds(folder.Path());
    ASSERT_EQ(3u, entries.size());
    const std::wstring paths[] = {folder.File(L"Sub\\c.mp3"), folder.File(L"a.mid"), folder.File(L"b.WAV")};
    std::vector<std::wstring> sorted(std::begin(paths), std::end(paths));
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(0u, entries[i].find(sorted[i] + L" \t// ")) << entries[i];
        EXPECT_EQ(sorted[i], SoundEntryPath(entries[i]));
    }
    EXPECT_EQ(L"C:\\x.wav", SoundEntryPath(L"C:\\x.wav"));
}

TEST_F(OptionsPages, SlowSecondClickEditsTheFileInPlaceFromTheMediaFolder)
{
    // Wine has no media folder: a generated one, removed again.
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring media = std::wstring(windows) + L"\\Media";
    const bool made = CreateDirectoryW(media.c_str(), nullptr) != FALSE;
    const std::wstring wav = media + L"\\Norvane test chime.wav";
    const std::wstring mid = media + L"\\Norvane test tune.mid";
    WriteFileBytes(wav, "RIFF");
    WriteFileBytes(mid, "MThd");

    CAppSettings& settings = App().GetSettings();
    settings.SetSoundsEnabled(true);
    CSoundPage& page = Show<CSoundPage>(PAGE_SOUNDS);
    HWND list = page.GetList().m_hWnd;
    HWND combo = GetDlgItem(page.m_hWnd, IDC_SOUNDS_COMBO);
    const int file = page.GetList().VisibleIndexOf(SOUNDCOL_FILE);
    Click(list, 2, file);
    Click(list, 2, file);  // too soon: no edit
    PumpAppUntil([] { return false; }, 700);
    EXPECT_FALSE(IsWindowVisible(combo));
    const DWORD second = GetTickCount();
    Click(list, 2, file);
    ASSERT_TRUE(PumpAppUntil([&] { return IsWindowVisible(combo); }, 3000));
    EXPECT_GE(GetTickCount() - second, 450u);
    Picture(page.m_hWnd, L"SoundsPage.bmp");

    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    LRESULT found = -1;
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[MAX_PATH * 2] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        if (std::wstring(text).rfind(mid + L" \t// ", 0) == 0)
            found = i;
    }
    ASSERT_GE(found, 0);
    SendMessageW(combo, CB_SETCURSEL, found, 0);
    SendMessageW(page.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_SOUNDS_COMBO, CBN_SELENDOK), reinterpret_cast<LPARAM>(combo));
    EXPECT_TRUE(PumpAppUntil([&] { return !page.IsEditing(); }));
    EXPECT_EQ(mid, settings.GetSoundFile(2));
    EXPECT_FALSE(IsWindowVisible(combo));

    // The same path in other capitals stores nothing.
    settings.Save(true, true);
    Click(list, 2, file);
    ASSERT_TRUE(PumpAppUntil([&] { return IsWindowVisible(combo); }, 3000));
    std::wstring upper = mid;
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(towupper(c));
    SetWindowTextW(combo, upper.c_str());
    page.EndEdit(true);
    EXPECT_EQ(mid, settings.GetSoundFile(2));
    EXPECT_FALSE(settings.IsUnsaved());

    DeleteFileW(wav.c_str());
    DeleteFileW(mid.c_str());
    if (made)
        RemoveDirectoryW(media.c_str());
}

TEST_F(OptionsPages, DeleteAsksUnlessShiftPlayReachesTheFrameAndDefaultsSwitchSoundsOff)
{
    CAppSettings& settings = App().GetSettings();
    settings.SetSoundsEnabled(true);
    std::vector<std::wstring> media;
    m_system.sendMediaString = [&](const wchar_t* command, HWND) {
        media.push_back(command);
        return DWORD{0};
    };
    CSoundPage& page = Show<CSoundPage>(PAGE_SOUNDS);
    HWND list = page.GetList().m_hWnd;
    for (int i = 0; i < 4; ++i)
        settings.SetSoundFile(i, L"C:\\tune" + std::to_wstring(i) + L".mid");

    // Play: the media sound starts and its button shows stop until the end is reported.
    Click(list, 1, page.GetList().VisibleIndexOf(SOUNDCOL_PLAY));
    ASSERT_FALSE(media.empty());
    EXPECT_EQ(L"play media from 0 notify", media.back());
    EXPECT_EQ(1, Frame()->PlayingSound());
    LVITEMW item{LVIF_IMAGE, 1, SOUNDCOL_PLAY};
    NMLVDISPINFOW info{};
    info.item = item;
    CSoundsLvData data(settings, App());
    data.GetDispInfo(&info.item);
    EXPECT_EQ(SOUNDIMG_STOP, info.item.iImage);
    SendMessageW(FrameWindow(), MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 0);
    info.item = item;
    data.GetDispInfo(&info.item);
    EXPECT_EQ(SOUNDIMG_PLAY, info.item.iImage);

    // Delete asks "Remove 2 items?"; Cancel keeps the files, Shift+Delete clears without asking.
    std::vector<std::wstring> asked;
    m_system.askUser = [&](const std::wstring& text, UINT, HWND, bool*) {
        asked.push_back(text);
        return IDCANCEL;
    };
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list, 3, LVIS_SELECTED, LVIS_SELECTED);
    SetFocus(list);
    ASSERT_GT(PressKeys({VK_DELETE}), 0u);
    EXPECT_TRUE(PumpAppUntil([&] { return !asked.empty(); }));
    EXPECT_EQ(std::vector<std::wstring>{L"Remove 2 items?"}, asked);
    EXPECT_EQ(L"C:\\tune0.mid", settings.GetSoundFile(0));
    ASSERT_GT(PressKeys({VK_SHIFT, VK_DELETE}), 0u);
    EXPECT_TRUE(PumpAppUntil([&] { return settings.GetSoundFile(0).empty() && settings.GetSoundFile(3).empty(); }));
    EXPECT_EQ(L"C:\\tune1.mid", settings.GetSoundFile(1));

    SendMessageW(page.m_hWnd, WM_COMMAND, ID_PAGE_DEFAULT, 0);
    EXPECT_FALSE(settings.IsSoundsEnabled());
    EXPECT_FALSE(IsWindowEnabled(list));
    EXPECT_EQ(GetDefaultSoundFile(0), settings.GetSoundFile(0));
    EXPECT_EQ(L"", settings.GetSoundFile(2));
}

// The Hotkeys table's header menu goes without "Don't sort by click by column"; both pages' list
// menus show the hotkeys of their commands, as the frame's menus do.
TEST_F(OptionsPages, HotkeysHeaderMenuLacksNoSortAndListMenusShowHotkeyTexts)
{
    CAppSettings& settings = App().GetSettings();
    settings.EditHotkeys()->push_back(MakeHotkeyEntry(ID_SOUND_PLAY, HOTKEY_MOD_CTRL | VK_F9));
    settings.EditHotkeys()->push_back(MakeHotkeyEntry(ID_HOTKEYS_SELECT_ALL, HOTKEY_MOD_CTRL | VK_F8));
    Frame()->IdleUpdate();

    CTableCtrl& table = Show<CHotkeysPage>(PAGE_HOTKEYS).GetList();
    ShownMenu().clear();
    UINT_PTR timer = SetTimer(nullptr, 0, 20, &ReadShownMenu);
    NMHDR click{table.GetHeader(), 0, static_cast<UINT>(NM_RCLICK)};
    SendMessageW(table.m_hWnd, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
    KillTimer(nullptr, timer);
    const std::vector<std::wstring> header = ShownMenu();
    EXPECT_NE(std::find(header.begin(), header.end(), L"Customize columns..."), header.end()) << "the menu was read";
    EXPECT_EQ(std::find(header.begin(), header.end(), L"Don't sort by click by column"), header.end());

    const struct {
        int pageId;
        std::vector<std::wstring> items;
    } menus[] = {
        {PAGE_HOTKEYS, {L"&Delete", L"Select &All\tCtrl+F8", L"Filters"}},
        {PAGE_SOUNDS, {L"Sound choose", L"Sound go", L"Sound play\tCtrl+F9", L"-", L"Select &All"}},
    };
    for (const auto& m : menus) {
        App().GetSettings().SetCurrentPage(m.pageId);
        CBasePage* page = Frame()->GetCurrentPageObject();
        ASSERT_TRUE(page);
        HWND list = GetDlgItem(page->m_hWnd, m.pageId == PAGE_HOTKEYS ? IDC_HOTKEYS_LIST : IDC_SOUNDS_LIST);
        ShownMenu().clear();
        timer = SetTimer(nullptr, 0, 20, &ReadShownMenu);
        SendMessageW(page->m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(-1, -1));
        KillTimer(nullptr, timer);
        EXPECT_EQ(m.items, ShownMenu()) << m.pageId;
    }
}
