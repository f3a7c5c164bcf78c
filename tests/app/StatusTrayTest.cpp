// The status bar's parts, tips, double clicks and menus; the notification-area icon with its
// tip, clicks, menu and balloon; the event sounds. Shell and sound calls go through the system
// services' seam, each real once.
#include <winsock2.h>

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

#include <functional>
#include <optional>

#include "config/KeyNumber.h"
#include "reader/Reader.h"
#include "tests/app/FrameProbe.h"
#include "tests/app/TransferTestSupport.h"
#include "tests/support/ReaderTestPeer.h"
#include "tests/support/WindowPicture.h"
#include "tools/readersim/ReaderSim.h"

using namespace frame_probe;

namespace {

// Called once with the menu window when a menu of the thread stands shown and idle.
std::function<void(HWND)> OnMenuShown;

LRESULT CALLBACK MenuIdleHook(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == WM_ENTERIDLE && sent->wParam == MSGF_MENU && OnMenuShown) {
        const auto shown = std::move(OnMenuShown);
        OnMenuShown = nullptr;
        shown(reinterpret_cast<HWND>(sent->lParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

const _KEY_NUMBER kKey = [] {
    const uint8_t bytes[] = {0x39, 0x30, 0x55, 0x55, 0x00};
    return MakeKeyNumber(bytes, 5);
}();

class StatusTray : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(kStartContinue, Start());
        Settings().SetPanels(PANEL_STATUSBAR | PANEL_HEADER);
        ASSERT_TRUE(StatusBar());
    }
    void TearDown() override
    {
        App().StopTransfer();
        AppTest::TearDown();
    }
    static CAppSettings& Settings() { return App().GetSettings(); }
    static CTransferDoc& Doc() { return App().GetSettings().GetTransferDoc(); }
    HWND StatusBar() const { return GetDlgItem(FrameWindow(), IDC_STATUS_BAR); }
    std::wstring Part(int part) const
    {
        wchar_t text[256] = {};
        SendMessageW(StatusBar(), SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text));
        return text;
    }
    LRESULT Notify(HWND from, UINT_PTR id, NMHDR& header)
    {
        header.hwndFrom = from;
        header.idFrom = id;
        return SendMessageW(FrameWindow(), WM_NOTIFY, id, reinterpret_cast<LPARAM>(&header));
    }
    static void SetLastKey(int keyType)
    {
        Settings().SetLastTransferInfo(CTimeValue(transfer_test::FixedTime()), keyType, kKey, 0, nullptr, 0, nullptr,
                                       nullptr, nullptr, nullptr);
    }
    static void AddKeys(int count, int selected)
    {
        for (int i = 0; i < count; ++i) {
            _KV_KEY key;
            key.keyType = 1;
            key.keyNumber = kKey;
            key.flags = i == selected ? KVKEY_SELECTED : 0;
            Doc().AddKey(key);
        }
    }

    // The shell's notification-area calls, recorded; the answer is `trayAnswer`.
    void RecordTray()
    {
        m_system.notifyIcon = [this](DWORD message, NOTIFYICONDATAW& data) {
            tray.push_back({message, data.hIcon, data.uFlags, data.szTip, data.szInfoTitle, data.szInfo, data.dwInfoFlags});
            return trayAnswer;
        };
    }
    std::vector<TrayCall> tray;
    bool trayAnswer = true;

    // Sound and media calls, recorded ("wave|file|flags", "media|command|notify window").
    void RecordSounds()
    {
        m_system.playWave = [this](const wchar_t* file, DWORD flags) {
            sounds.push_back(L"wave|" + std::wstring(file ? file : L"<stop>") + L"|" + std::to_wstring(flags));
            return true;
        };
        m_system.sendMediaString = [this](const wchar_t* command, HWND notify) -> DWORD {
            sounds.push_back(std::wstring(L"media|") + command + (notify == FrameWindow() ? L"|frame" : L""));
            return mediaAnswer;
        };
    }
    std::vector<std::wstring> TakeSounds()
    {
        std::vector<std::wstring> taken;
        taken.swap(sounds);
        return taken;
    }
    std::vector<std::wstring> sounds;
    DWORD mediaAnswer = 0;
};

constexpr DWORD kWaveFlags = SND_ASYNC | SND_FILENAME | SND_NODEFAULT;
const std::wstring kWave = L"|" + std::to_wstring(kWaveFlags);

} // namespace

TEST_F(StatusTray, PartsShowWhatTheyStandFor)
{
    CAppSettings& settings = Settings();
    UseRecorderPage(*Frame());
    CReader* reader = nullptr;  // made for part 0: a change of source would release it
    const struct {
        const char* what;
        std::function<void()> arrange;
        int part;
        const wchar_t* text;
    } cases[] = {
        {"transfer log on", [&] { settings.SetTransferLog(true); }, 1, L"TL"},
        {"transfer log off", [&] { settings.SetTransferLog(false); }, 1, L""},
        {"debug log on", [&] { settings.EditDebugLog()->enabled = true; }, 2, L"DL"},
        {"debug log off", [&] { settings.EditDebugLog()->enabled = false; }, 2, L""},
        {"not the key list", [&] { AddKeys(5, 2); }, 3, L""},
        {"rows from the selected one on", [&] { Doc().SetSource(L"", SOURCE_KEYLIST); }, 3, L"3"},
        {"the first row selected", [&] { Doc().GetKeys()[2]->flags = 0, Doc().GetKeys()[0]->flags = KVKEY_SELECTED; }, 3, L"5"},
        {"the last row selected", [&] { Doc().GetKeys()[0]->flags = 0, Doc().GetKeys()[4]->flags = KVKEY_SELECTED; }, 3, L"1"},
        {"no selection", [&] { Doc().GetKeys()[4]->flags = 0; }, 3, L"0"},
        {"no key transferred", [] {}, 4, L""},
        {"auto: Em-Marine in form 1", [&] { settings.SetKeyViewFormat(KEY_VIEW_AUTO), SetLastKey(1); }, 4,
         L"Em-Marine 085,12345"},
        {"auto: HID in form 3", [&] { SetLastKey(2); }, 4, L"HID [005555] 12345"},
        {"auto: others in form 4", [&] { SetLastKey(3); }, 4, L"iCode 0055553039"},
        {"the setting's form", [&] { settings.SetKeyViewFormat(KEY_VIEW_LONG); }, 4, L"iCode 1431646265"},
        {"the page's position", [] { Recorded().position = 2, Recorded().total = 7; }, 5, L"2/7"},
        {"a page without a total", [] { Recorded().total = -1; }, 5, L""},
        {"no reader", [] {}, 0, L""},
        {"no job, no scan", [&] { App().SetReader(std::make_unique<CReader>()), reader = App().GetReader(); }, 0, L""},
        {"a Temic scan", [&] { CReaderTestPeer::SetTemicScan(*reader, 5, 5, (1000u << 16) | 255); }, 0,
         L"Scanning Temic... (5/5: type 255, speed 0, delay 1000)"},
        {"a job before the scan",
         [&] {
             CReaderTestPeer::SetTemicScan(*reader, 2, 5, 0x0101);
             CReaderTestPeer::SetJob(*reader, RDJOB_TEMIC_INIT, RDJOB_PENDING, 0, 1);
         },
         0, L"To execute the command \"Initializing Temic\"..."},
        {"writing keys", [&] { CReaderTestPeer::SetJob(*reader, RDJOB_WRITE_KEYS, RDJOB_PENDING, 1, 4); }, 0,
         L"To execute the command \"Write keys to the reader memory\"..."},
        {"the scan again after the job", [&] { CReaderTestPeer::SetJob(*reader, RDJOB_WRITE_KEYS, S_OK, 4, 4); }, 0,
         L"Scanning Temic... (2/5: type 1, speed 1, delay 0)"},
    };
    for (const auto& c : cases) {
        c.arrange();
        Frame()->UpdateStatusBar();
        EXPECT_EQ(std::wstring(c.text), Part(c.part)) << c.what;
    }
    // A picture for a person to look at, with ink in the parts that show text and none in the
    // empty one.
    App().SetReader(nullptr);
    settings.SetTransferLog(true);
    settings.EditDebugLog()->enabled = true;
    Doc().GetKeys()[1]->flags = KVKEY_SELECTED;
    Recorded().total = 7;
    Frame()->UpdateStatusBar();
    const CWindowPicture picture(FrameWindow(), L"MainWindowStatus.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    // Under the header the page toolbar takes the header's colour.
    const RECT toolbar = ClientRectInWindowPicture(FrameWindow(), GetDlgItem(FrameWindow(), IDC_PAGE_TOOLBAR));
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), picture.Dominant(toolbar));
    for (int part = 0; part <= 5; ++part) {
        RECT r{};
        SendMessageW(StatusBar(), SB_GETRECT, part, reinterpret_cast<LPARAM>(&r));
        MapWindowPoints(StatusBar(), nullptr, reinterpret_cast<POINT*>(&r), 2);
        RECT frame;
        GetWindowRect(FrameWindow(), &frame);
        OffsetRect(&r, -frame.left, -frame.top);
        InflateRect(&r, -3, -3);  // the parts' edges are no text
        const int ink = picture.InkPixels(r, picture.Dominant(r));
        if (part == 0)
            EXPECT_LT(ink, 5);
        else
            EXPECT_GE(ink, 12) << "part " << part;
    }
}

TEST_F(StatusTray, TipsDoubleClicksAndLogMenus)
{
    CAppSettings& settings = Settings();
    CMainFrame& frame = *Frame();
    // Moving over a part makes the one tool of the bar that part's.
    RECT r{};
    SendMessageW(StatusBar(), SB_GETRECT, 2, reinterpret_cast<LPARAM>(&r));
    SendMessageW(StatusBar(), WM_MOUSEMOVE, 0, MAKELPARAM(r.left + 3, r.top + 3));
    EXPECT_EQ(2, frame.StatusBar().hotPart);
    EXPECT_EQ(1, frame.ToolTip().GetToolCount());
    SendMessageW(StatusBar(), WM_MOUSEMOVE, 0, MAKELPARAM(1, r.top + 3));
    EXPECT_EQ(-1, frame.StatusBar().hotPart);
    EXPECT_EQ(0, frame.ToolTip().GetToolCount());

    settings.EditDebugLog()->enabled = true;
    const wchar_t* tips[] = {L"", L"Transfer log: OFF", L"Debug log: ON", L"Left keys to transfer",
                             L"Last transferred key", L"The number of selected items, and total number of items"};
    for (int part = 1; part <= 5; ++part) {
        frame.StatusBar().hotPart = part;
        NMTTDISPINFOW info{};
        info.hdr.code = TTN_GETDISPINFOW;
        Notify(frame.ToolTip().m_hWnd, reinterpret_cast<UINT_PTR>(StatusBar()), info.hdr);
        EXPECT_STREQ(tips[part], info.lpszText ? info.lpszText : L"<none>") << part;
    }

    TakeNotedCalls();
    // The toolbars' tips: the command's, with its hotkey.
    *settings.EditHotkeys() = {MakeHotkeyEntry(ID_TOPMOST, HOTKEY_MOD_CTRL | 'T')};
    frame.IdleUpdate();
    for (const auto& [command, tip] : {std::pair<int, std::wstring>{ID_TOPMOST, L"Keep the main window above the other windows (Ctrl+T)"},
                                       {ID_MAIN_MENU, L"Show the main menu"}}) {
        wchar_t text[128] = L"unchanged";
        NMTBGETINFOTIPW info{};
        info.hdr.code = TBN_GETINFOTIPW;
        info.iItem = command;
        info.pszText = text;
        info.cchTextMax = 128;
        Notify(GetDlgItem(FrameWindow(), IDC_PAGE_TOOLBAR), IDC_PAGE_TOOLBAR, info.hdr);
        EXPECT_EQ(tip, text);
    }
    // The page list bar's change of width lays the frame out at once.
    frame.MarkDirty(MFD_LAYOUT);
    NMHDR resized{};
    resized.code = 1;
    Notify(FrameWindow(), 951, resized);
    EXPECT_FALSE(frame.DirtyBits() & MFD_LAYOUT);

    CLauncherDialogCloser launcherCloser;
    const struct {
        int part;
        std::function<bool()> done;
    } clicks[] = {
        {1, [&] { return settings.transferLog && (frame.DirtyBits() & MFD_STATUS); }},
        {2, [&] { return !settings.debugLog.enabled; }},
        {3, [&] { return frame.GetCurrentPage() == PAGE_KEY_LIST; }},
        {4, [] { return TakeNotedCalls() == std::vector<std::wstring>{L"LastKeyDialog"}; }},
    };
    for (const auto& c : clicks) {
        frame.ClearDirty();
        NMMOUSE mouse{};
        mouse.hdr.code = NM_DBLCLK;
        mouse.dwItemSpec = c.part;
        Notify(StatusBar(), IDC_STATUS_BAR, mouse.hdr);
        EXPECT_TRUE(c.done()) << c.part;
    }

    // The log menus look for the logs in the documents folder.
    settings.SetDocumentsFolder(m_folder.File(L"Docs"));
    std::wstring docs;
    settings.ResolveDocumentsFolder(docs, true);
    WriteFileBytes(m_folder.File(L"Transfer.log"), "in the data folder");
    for (int id : {IDM_TRANSFER_LOG, IDM_APP_LOG}) {
        CMenu resource(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id)));
        HMENU menu = GetSubMenu(resource.Get(), 0);
        const bool debugLog = id == IDM_APP_LOG;
        const UINT open = debugLog ? ID_OPEN_APP_LOG : ID_OPEN_TRANSFER_LOG;
        frame.SetLogMenuStates(menu, debugLog);
        EXPECT_TRUE(GetMenuState(menu, open, MF_BYCOMMAND) & MF_GRAYED) << id;
        WriteFileBytes(docs + (debugLog ? L"\\Norvane.log" : L"\\Transfer.log"), "x");
        frame.SetLogMenuStates(menu, debugLog);
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(GetMenuState(menu, i, MF_BYPOSITION) & MF_GRAYED) << id << " " << i;
    }
}

TEST_F(StatusTray, TrayIconFollowsTheRunningStateWithTheCaptionAsTip)
{
    RecordTray();
    CAppSettings& settings = Settings();
    CMainFrame& frame = *Frame();
    const HICON running = reinterpret_cast<HICON>(GetClassLongPtrW(FrameWindow(), GCLP_HICONSM));
    ASSERT_TRUE(running && frame.IdleIcon() && running != frame.IdleIcon());
    Doc().SetSource(L"", SOURCE_KEYLIST);
    // A caption longer than the tip's room.
    Doc().SetPathName(m_folder.File((std::wstring(140, L'c') + L".nv2").c_str()));
    std::wstring caption;
    const struct {
        std::function<void()> arrange;
        std::vector<std::pair<DWORD, HICON>> calls;
    } cases[] = {
        {[&] { settings.SetTrayIconFlags(2); }, {{NIM_ADD, frame.IdleIcon()}}},
        {[&] { App().StartTransfer(false); }, {{NIM_MODIFY, running}}},
        {[&] { Doc().SetPathName(m_folder.File(L"Short.nv2")); }, {{NIM_MODIFY, running}}},
        {[&] { App().StopTransfer(); }, {{NIM_MODIFY, frame.IdleIcon()}}},
        {[&] { settings.SetTrayIconFlags(1); }, {{NIM_DELETE, frame.IdleIcon()}}},
        {[&] { frame.ShowMainWindow(false); }, {{NIM_ADD, frame.IdleIcon()}}},
    };
    for (const auto& c : cases) {
        tray.clear();
        c.arrange();
        frame.BuildCaption(caption);
        frame.IdleUpdate();
        ASSERT_EQ(c.calls.size(), tray.size());
        for (size_t i = 0; i < tray.size(); ++i) {
            EXPECT_EQ(c.calls[i].first, tray[i].message);
            EXPECT_EQ(c.calls[i].second, tray[i].icon);
            EXPECT_EQ(caption.substr(0, 127), tray[i].tip);
        }
    }
    ASSERT_GT(caption.size(), 0u);
    // A refused call leaves the icon as the shell has it.
    trayAnswer = false;
    frame.ShowMainWindow(true);
    frame.IdleUpdate();
    EXPECT_EQ(frame.IdleIcon(), frame.TrayIcon().m_data.hIcon);

    // Once with the shell itself, on the desktop's notification area.
    m_system.notifyIcon = nullptr;
    ASSERT_TRUE(FindWindowW(L"Shell_TrayWnd", nullptr)) << "no notification area";
    frame.TrayIcon().m_data.hIcon = nullptr;
    EXPECT_TRUE(frame.UpdateTrayIcon(true));
    EXPECT_TRUE(frame.TrayIcon().Modify());
    EXPECT_TRUE(frame.UpdateTrayIcon(false));
    EXPECT_FALSE(frame.TrayIcon().Modify()) << "the icon is gone";
}

TEST_F(StatusTray, TrayClicksWaitForTheDoubleClickOnlyWhenItMeansSomething)
{
    RecordTray();
    UseRecorderPage(*Frame());
    CMainFrame& frame = *Frame();
    auto tray = [this](UINT message, UINT id = kTrayIconId) {
        SendMessageW(FrameWindow(), WM_TRAY_NOTIFY, id, message);
    };
    auto offered = [] {
        std::vector<int> ids;
        for (const auto& c : Recorded().commands)
            ids.push_back(c.first);
        return ids;
    };
    auto waitFor = [&](size_t count) { return PumpUntil([&] { return offered().size() >= count; }); };
    const struct {
        UINT down, dblclk;
        UINT_PTR timer;
        std::array<uint16_t, 4> commands;
    } buttons[] = {{WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, 3, {ID_TRANSFER_START, ID_TRANSFER_STOP, 0, 0}},
                   {WM_MBUTTONDOWN, WM_MBUTTONDBLCLK, 4, {0, 0, ID_TRANSFER_START, ID_TRANSFER_STOP}}};
    for (const auto& b : buttons) {
        const uint16_t click = b.commands[b.down == WM_LBUTTONDOWN ? 0 : 2];
        // Without a double-click command the click acts at once.
        std::array<uint16_t, 4> single = b.commands;
        single[b.down == WM_LBUTTONDOWN ? 1 : 3] = 0;
        Settings().SetTrayClickCommands(single);
        Recorded().commands.clear();
        tray(b.down);
        tray(b.down, kTrayIconId + 1);  // another icon's
        EXPECT_EQ(std::vector<WPARAM>{click}, TakePostedCommands(FrameWindow()));
        // With one, a click acts after the double-click time...
        Settings().SetTrayClickCommands(b.commands);
        tray(b.down);
        EXPECT_TRUE(frame.TimerMask() & (1u << b.timer));
        EXPECT_TRUE(TakePostedCommands(FrameWindow()).empty());
        ASSERT_TRUE(waitFor(1));
        EXPECT_EQ(std::vector<int>{click}, offered());
        EXPECT_FALSE(frame.TimerMask() & (1u << b.timer));
        // ...and a double click runs only its own command.
        Recorded().commands.clear();
        tray(b.down);
        tray(b.dblclk);
        EXPECT_FALSE(frame.TimerMask() & (1u << b.timer));
        ASSERT_TRUE(waitFor(1));
        EXPECT_EQ(std::vector<int>{ID_TRANSFER_STOP}, offered());
    }
    // No click command: nothing.
    Settings().SetTrayClickCommands({0, 0, 0, 0});
    tray(WM_LBUTTONDOWN);
    EXPECT_EQ(0u, frame.TimerMask() & 0x18);
    EXPECT_TRUE(TakePostedCommands(FrameWindow()).empty());
}

TEST_F(StatusTray, TrayMenuAtTheRightClick)
{
    RecordTray();
    CAppSettings& settings = Settings();
    settings.SetSoundsEnabled(true);
    *settings.EditConfigFiles() = {L"Alpha"};
    Frame()->IdleUpdate();  // the hotkeys, named in the menu
    // The menu runs its own loop on this thread and tells its owner when it stands idle, shown:
    // then its items are read, its picture taken and it is closed. No menu, and the right click
    // returns with nothing seen.
    bool seen = false;
    std::vector<std::wstring> items;
    UINT soundState = 0, startState = 0, stopState = 0;
    std::optional<CWindowPicture> picture;
    OnMenuShown = [&](HWND popup) {
        seen = true;
        HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t text[64] = {};
            GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
            items.push_back(text);
        }
        soundState = GetMenuState(menu, ID_SOUNDS_ON, MF_BYCOMMAND);
        startState = GetMenuState(menu, ID_TRANSFER_START, MF_BYCOMMAND);
        stopState = GetMenuState(menu, ID_TRANSFER_STOP, MF_BYCOMMAND);
        picture.emplace(popup, L"TrayMenu.bmp");
        EndMenu();
    };
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, MenuIdleHook, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hook);
    SendMessageW(FrameWindow(), WM_TRAY_NOTIFY, kTrayIconId, WM_RBUTTONUP);
    UnhookWindowsHookEx(hook);
    OnMenuShown = nullptr;
    ASSERT_TRUE(seen) << "no menu came up at the right click";
    EXPECT_EQ((std::vector<std::wstring>{L"&Show Norvane", L"", L"S&tart\tF5", L"St&op\tAlt+F5",
                                         L"&Restart\tCtrl+Alt+F5", L"", L"&Configuration", L"Sound &notification", L"",
                                         L"E&xit Norvane"}),
              items);
    EXPECT_TRUE(soundState & MF_CHECKED);
    EXPECT_FALSE(startState & MF_GRAYED);
    EXPECT_TRUE(stopState & MF_GRAYED);
    ASSERT_TRUE(picture->Ok()) << picture->Problem();
    EXPECT_GE(picture->Ink(picture->All()), 200) << "the items' texts";
}

TEST_F(StatusTray, BalloonOfATransferUntilItTimesOut)
{
    RecordTray();
    CAppSettings& settings = Settings();
    settings.SetTrayIconFlags(4);  // "balloonHint" alone: no icon otherwise
    Frame()->IdleUpdate();
    ASSERT_TRUE(tray.empty());
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    _KV_FORMAT format;
    format.name = L"Long";
    format.templ = std::wstring(300, L'7');
    Doc().SetDefaultFormatId(Doc().GetFormats()[Doc().AddFormat(format)]->id);
    ASSERT_EQ(S_OK, App().TransferKey(1, kKey, 0));
    ASSERT_EQ(2u, tray.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), tray[0].message);
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), tray[1].message);
    EXPECT_TRUE(tray[1].flags & NIF_INFO);
    EXPECT_EQ(L"Transferred key", tray[1].infoTitle);
    EXPECT_EQ(std::wstring(255, L'7'), tray[1].info);
    EXPECT_EQ(static_cast<DWORD>(NIIF_NONE | NIIF_NOSOUND), tray[1].infoFlags) << "no icon, no sound";
    // Pending, the icon stays over idle passes; a caption change does not show it again.
    tray.clear();
    Frame()->MarkDirty(MFD_TRAY);
    Frame()->IdleUpdate();
    ASSERT_EQ(1u, tray.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), tray[0].message);
    EXPECT_FALSE(tray[0].flags & NIF_INFO);
    tray.clear();
    SendMessageW(FrameWindow(), WM_TRAY_NOTIFY, kTrayIconId, NIN_BALLOONTIMEOUT);
    Frame()->IdleUpdate();
    ASSERT_EQ(1u, tray.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), tray[0].message);
}

TEST_F(StatusTray, SoundsByTheirFilesKind)
{
    RecordSounds();
    CAppSettings& settings = Settings();
    CMainFrame& frame = *Frame();
    std::vector<uint32_t> stateChanges;
    int observer = settings.AddObserver(&stateChanges, [](void* key, CDocument*, const uint32_t* bits) {
        if (bits[0] & ASC_STATE)
            static_cast<std::vector<uint32_t>*>(key)->push_back(App().GetSettings().GetDetails().state);
    });
    wchar_t windows[MAX_PATH];
    GetEnvironmentVariableW(L"WINDIR", windows, MAX_PATH);
    const std::wstring win = windows;
    const struct {
        int event;
        std::wstring file;
        std::vector<std::wstring> calls;
        int playing;
    } cases[] = {
        {0, L"%WINDIR%\\ding.WAV", {L"wave|" + win + L"\\ding.WAV" + kWave}, -1},
        {0, L"%WINDIR%\\ding.WAV", {L"wave|" + win + L"\\ding.WAV" + kWave}, -1},
        {1, L"C:\\Sounds\\tune.MID",
         {L"wave|<stop>|0", L"media|open \"C:\\Sounds\\tune.MID\" type sequencer alias media",
          L"media|play media from 0 notify|frame"},
         1},
        {2, L"C:\\Sounds.old\\bell",
         {L"media|close media", L"media|open \"C:\\Sounds.old\\bell\" type mpegvideo alias media",
          L"media|play media from 0 notify|frame"},
         2},
        {3, L"C:\\Sounds\\gong.mp3",
         {L"media|close media", L"media|open \"C:\\Sounds\\gong.mp3\" type mpegvideo alias media",
          L"media|play media from 0 notify|frame"},
         3},
        // A quote would end the media command's name: refused, and the loaded sound plays on.
        {0, L"C:\\Sounds\\a\" type waveaudio alias x.wav", {L"media|close media"}, -1},
        {1, L"", {}, -1},
    };
    *settings.EditDebugLog() = {true, 5, -1, false};
    for (const auto& c : cases) {
        settings.SetSoundFile(c.event, c.file);
        frame.PlayEventSound(c.event);
        EXPECT_EQ(c.calls, TakeSounds()) << c.file;
        EXPECT_EQ(c.playing, frame.PlayingSound()) << c.file;
    }
    EXPECT_NE(std::string::npos, ReadFileBytes(m_folder.File(L"Norvane.log")).find("holds a double quote"));
    // A failed open loads nothing; a failed play leaves nothing playing.
    mediaAnswer = 275;
    frame.PlayEventSound(3);
    EXPECT_EQ(-1, frame.LoadedSound());
    mediaAnswer = 0;
    frame.PlayEventSound(3);
    EXPECT_EQ(3, frame.PlayingSound());
    stateChanges.clear();
    SendMessageW(FrameWindow(), MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 1);
    EXPECT_EQ(-1, frame.PlayingSound());
    EXPECT_EQ(3, frame.LoadedSound());
    ASSERT_EQ(1u, stateChanges.size());
    EXPECT_EQ(0x02u, stateChanges[0] & 0x02);
    // Sounds switched off stop the loaded one.
    TakeSounds();
    settings.SetSoundsEnabled(true);
    settings.SetSoundsEnabled(false);
    EXPECT_EQ(std::vector<std::wstring>{L"media|close media"}, TakeSounds());
    EXPECT_EQ(-1, frame.LoadedSound());
    settings.RemoveObserver(observer);
}

TEST_F(StatusTray, EventsComeFromTransfersAndTheReaderOnlyWhileSoundsAreOn)
{
    RecordSounds();
    CAppSettings& settings = Settings();
    for (int event = 0; event < 4; ++event)
        settings.SetSoundFile(event, L"C:\\e" + std::to_wstring(event) + L".wav");
    CTransferDoc& doc = Doc();
    doc.SetReceiveTimeout(400);
    doc.SetConnectPeriod(300);
    doc.SetDestination(L"", DEST_CLIPBOARD);
    _KV_FORMAT format;
    format.name = L"Key";
    format.templ = L"%d";
    format.params = L"x[0]";
    doc.SetDefaultFormatId(doc.GetFormats()[doc.AddFormat(format)]->id);
    CReaderSim sim;
    const uint16_t port = sim.ListenTcp();
    ASSERT_NE(0, port);
    auto played = [this] {
        std::vector<int> events;
        for (const std::wstring& call : sounds)
            if (const size_t at = call.find(L"\\e"); at != std::wstring::npos)
                events.push_back(call[at + 2] - L'0');
        return events;
    };
    settings.SetEventLogEnabled(true);
    auto events = [](int id) {
        CEventLogDb& table = App().GetSettings().GetEventLog();
        int count = 0;
        for (uint32_t i = 1; i <= table.GetEventCount(); ++i) {
            _EVENT_RECORD event;
            table.ReadEvent(static_cast<int>(i), event);
            count += event.stringId == id;
        }
        return count;
    };

    // Sounds off: a connection, a key, a failure and a disconnection play nothing.
    // Each wait lasts until the notification was handled, which is when a sound would play.
    doc.SetSource(L"127.0.0.1:" + std::to_wstring(port), SOURCE_READER);
    ASSERT_TRUE(App().StartTransfer(false));
    ASSERT_TRUE(PumpUntil([&] { return events(IDS_LOG_READER_CONNECTED) == 1; }));
    const int counter = settings.GetLastTransfer().counter;
    sim.PresentKey("Em-Marine[0055] 085,12345");
    ASSERT_TRUE(PumpUntil([&] { return settings.GetLastTransfer().counter > counter; }));
    sim.DropPeer();
    ASSERT_TRUE(PumpUntil([&] { return events(IDS_LOG_READER_DISCONNECTED) == 1; }));
    EXPECT_TRUE(sounds.empty());

    // On: 2 connected, 0 transferred, 1 failed, 3 disconnected, in that order.
    settings.SetSoundsEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return played().size() == 1; }));
    sim.RemoveKey();
    sim.PresentKey("Em-Marine[0055] 085,12345");
    ASSERT_TRUE(PumpUntil([&] { return played().size() == 2; }));
    format.name = L"Broken";
    format.params = L"x[";
    doc.SetDefaultFormatId(doc.GetFormats()[doc.AddFormat(format)]->id);
    EXPECT_TRUE(FAILED(App().TransferKey(1, kKey, 0)));
    sim.DropPeer();
    ASSERT_TRUE(PumpUntil([&] { return played().size() == 4; }));
    EXPECT_EQ((std::vector<int>{2, 0, 1, 3}), played());
    EXPECT_EQ(L"wave|C:\\e2.wav" + kWave, sounds[0]);
    sim.Stop();
}

TEST_F(StatusTray, ARealWaveSoundReturnsAtOnce)
{
    // Twenty seconds of silence, 8 kHz, 8 bits, mono: played in the caller's time it would hold
    // the call far past the bound below.
    const uint32_t samples = 160000;
    std::string wave = "RIFF";
    auto u32 = [&wave](uint32_t v) { wave.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&wave](uint16_t v) { wave.append(reinterpret_cast<const char*>(&v), 2); };
    u32(36 + samples);
    wave += "WAVEfmt ";
    u32(16), u16(1), u16(1), u32(8000), u32(8000), u16(1), u16(8);
    wave += "data";
    u32(samples);
    wave.append(samples, '\x80');
    const std::wstring file = m_folder.File(L"silence.wav");
    WriteFileBytes(file, wave);
    Settings().SetSoundFile(0, file);
    const DWORD start = GetTickCount();
    Frame()->PlayEventSound(0);
    EXPECT_LT(GetTickCount() - start, 10000u) << "the sound plays on its own";
    EXPECT_EQ(0, Frame()->LoadedSound());
    Frame()->StopEventSound();
    EXPECT_EQ(-1, Frame()->LoadedSound());
}
