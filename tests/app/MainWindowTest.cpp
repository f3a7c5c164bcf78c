#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <vector>

#include "app/MainFrame.h"
#include "core/TextUtil.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/WindowPicture.h"

namespace {

class MainWindow : public AppTest
{
protected:
    std::wstring WindowText() const
    {
        std::wstring text;
        GetWindowString(FrameWindow(), text);
        return text;
    }
    // The WM_COMMAND ids waiting for the frame (taken from the queue).
    std::vector<WPARAM> TakeCommands()
    {
        std::vector<WPARAM> ids;
        MSG msg;
        while (PeekMessageW(&msg, FrameWindow(), WM_COMMAND, WM_COMMAND, PM_REMOVE))
            ids.push_back(msg.wParam);
        return ids;
    }
};

// A device-interface broadcast record with room for its name.
struct DeviceRecord {
    DEV_BROADCAST_DEVICEINTERFACE_W header;
    wchar_t room[128];
};

DeviceRecord MakeDeviceRecord(const wchar_t* name)
{
    DeviceRecord r{};
    const size_t length = wcslen(name);
    r.header.dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                                            (length + 1) * sizeof(wchar_t));
    r.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    wcscpy(r.header.dbcc_name, name);
    return r;
}

// One interface option changed through the settings' setter.
void SetViewOption(CAppSettings& settings, bool AppViewOptions::*option, bool value)
{
    AppViewOptions view = settings.view;
    view.*option = value;
    settings.SetViewOptions(view);
}

} // namespace

TEST_F(MainWindow, CreatedWithItsClassSizeStylesOwnerAndMenu)
{
    ASSERT_EQ(kStartContinue, Start());
    HWND hwnd = FrameWindow();
    ASSERT_TRUE(hwnd);
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    EXPECT_STREQ(L"Norvane2", cls);
    EXPECT_EQ(hwnd, FindWindowW(L"Norvane2", nullptr));
    EXPECT_EQ(0x02CF0000u, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)) & ~(WS_VISIBLE | WS_MAXIMIZE | WS_MINIMIZE | WS_CLIPSIBLINGS));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW) << "taskbarButton is on by default";
    RECT rc;
    GetWindowRect(hwnd, &rc);
    // Created 725 wide; placing it for the first show keeps the minimum tracking width.
    EXPECT_EQ(kMinTrackWidth, rc.right - rc.left);
    EXPECT_EQ(642, rc.bottom - rc.top);
    EXPECT_EQ(L"Norvane", WindowText());

    // Owned by the hidden tool window.
    HWND owner = GetWindow(hwnd, GW_OWNER);
    ASSERT_TRUE(owner);
    GetClassNameW(owner, cls, 32);
    EXPECT_STREQ(L"Norvane2_Base", cls);
    EXPECT_TRUE(GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_FALSE(IsWindowVisible(owner));

    // The menu bar.
    HMENU menu = GetMenu(hwnd);
    ASSERT_TRUE(menu);
    const wchar_t* tops[] = {L"&File", L"&Transfer", L"&View", L"&Help"};
    ASSERT_EQ(4, GetMenuItemCount(menu));
    for (int i = 0; i < 4; ++i) {
        wchar_t text[32] = {};
        GetMenuStringW(menu, i, text, 32, MF_BYPOSITION);
        EXPECT_STREQ(tops[i], text);
    }
    EXPECT_NE(-1, GetMenuState(menu, ID_APP_EXIT, MF_BYCOMMAND));
    // The system menu ends with the About item.
    HMENU system = GetSystemMenu(hwnd, FALSE);
    wchar_t about[64] = {};
    GetMenuStringW(system, ID_APP_ABOUT, about, 64, MF_BYCOMMAND);
    EXPECT_STREQ(L"&About Norvane...", about);

    // Page toolbar: four buttons, top right; the header shows the current page's title.
    HWND toolbar = GetDlgItem(hwnd, IDC_PAGE_TOOLBAR);
    ASSERT_TRUE(toolbar);
    EXPECT_EQ(0x4000294Eu, static_cast<DWORD>(GetWindowLongW(toolbar, GWL_STYLE)) & ~WS_VISIBLE);
    EXPECT_EQ(4, SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
    for (int id : {ID_TOPMOST, ID_PAGE_HELP, ID_MAIN_MENU})
        EXPECT_NE(-1, SendMessageW(toolbar, TB_COMMANDTOINDEX, id, 0)) << id;
    HWND header = GetDlgItem(hwnd, IDC_PAGE_HEADER);
    ASSERT_TRUE(header) << "panels 9 include the page header";
    EXPECT_EQ(0x5480020Du, static_cast<DWORD>(GetWindowLongW(header, GWL_STYLE)));
    std::wstring title;
    GetWindowString(header, title);
    EXPECT_EQ(L"Transfer", title);
    RECT client, bar;
    GetClientRect(hwnd, &client);
    GetWindowRect(toolbar, &bar);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&bar), 2);
    EXPECT_EQ(client.right - 1, bar.right);
    EXPECT_EQ(1, bar.top);
    EXPECT_FALSE(GetDlgItem(hwnd, IDC_STATUS_BAR)) << "panels 9 leave the status bar off";
    RECT tip;
    GetWindowRect(Frame()->RichTip().m_hWnd, &tip);
    EXPECT_EQ(200, tip.bottom - tip.top) << "the rich tip as made, before a page sizes it";

    // A picture for a person to look at, sampled: the header's title and the toolbar's images
    // stand out from their backgrounds.
    PumpWaitingMessages();
    const CWindowPicture picture(hwnd, L"MainWindow.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const struct {
        HWND part;
        int leastInk;   // about a third of what they show
    } parts[] = {{header, 150}, {toolbar, 80}};
    for (const auto& p : parts) {
        const RECT r = ClientRectInWindowPicture(hwnd, p.part);
        EXPECT_GE(picture.InkPixels(r, picture.Dominant(r)), p.leastInk) << GetDlgCtrlID(p.part);
    }
}

TEST_F(MainWindow, MinimumTrackSize)
{
    ASSERT_EQ(kStartContinue, Start());
    MINMAXINFO mmi{};
    SendMessageW(FrameWindow(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    EXPECT_EQ(750, mmi.ptMinTrackSize.x);
    EXPECT_EQ(642, mmi.ptMinTrackSize.y);
    // Sizing below it is held at it.
    MoveWindow(FrameWindow(), 10, 10, 300, 200, TRUE);
    RECT rc;
    GetWindowRect(FrameWindow(), &rc);
    EXPECT_EQ(750, rc.right - rc.left);
    EXPECT_EQ(642, rc.bottom - rc.top);
}

TEST_F(MainWindow, CaptionForConfigurationsWithAndWithoutTheirOwnFile)
{
    ASSERT_EQ(kStartContinue, Start());
    CAppSettings& settings = App().GetSettings();
    CTransferDoc& transfer = settings.GetTransferDoc();
    const std::wstring docs = m_folder.Path();
    struct Case {
        const char* what;
        std::wstring path;
        bool unsaved;
        bool version;
        bool running;
        const wchar_t* caption;
    } cases[] = {
        {"default configuration", L"", false, false, false, L"Norvane"},
        {"default, unsaved: no mark without a name", L"", true, false, false, L"Norvane"},
        {"own file", docs + L"\\Office.nv2", false, false, false, L"Norvane - [Office]"},
        {"own file, unsaved", docs + L"\\Office.nv2", true, false, false, L"Norvane - [Office*]"},
        {"in a sub-folder the extension stays", docs + L"\\Sites\\Gate.nv2", false, false, false,
         L"Norvane - [Sites\\Gate.nv2]"},
        {"outside the documents folder", L"C:\\Other\\Far.nv2", true, false, false, L"Norvane - [C:\\Other\\Far.nv2*]"},
        {"version title", L"", false, true, false, L"Norvane v2.6"},
        {"running", docs + L"\\A.b.nv2", false, false, true, L"Norvane (Running) - [A.b]"},
        {"everything", docs + L"\\Office.nv2", true, true, true, L"Norvane v2.6 (Running) - [Office*]"},
    };
    for (const Case& c : cases) {
        {
            CDocUpdateScope scope(settings);
            CDocUpdateScope tscope(transfer);
            transfer.SetPathName(c.path);
            transfer.Close(false);
            transfer.Open();  // no file there: saved defaults
            if (c.unsaved)
                transfer.RaiseChange(TDC_SOURCE, 0, true);
            SetViewOption(settings, &AppViewOptions::versionTitle, c.version);
            settings.SetTransferEnabled(c.running);
        }
        std::wstring caption;
        Frame()->BuildCaption(caption);
        EXPECT_EQ(std::wstring(c.caption), caption) << c.what;
        // The observers mark the caption; the idle update puts it up.
        Frame()->MarkDirty(MFD_CAPTION);
        Frame()->IdleUpdate();
        EXPECT_EQ(std::wstring(c.caption), WindowText()) << c.what;
    }
    DeleteFileW((docs + L"\\Office.nv2").c_str());
}

TEST_F(MainWindow, DocumentChangesMarkTheCaptionForTheIdlePass)
{
    ASSERT_EQ(kStartContinue, Start());
    CTransferDoc& transfer = App().GetSettings().GetTransferDoc();
    Frame()->ClearDirty();
    transfer.SetPathName(m_folder.File(L"Lab.nv2"));
    EXPECT_EQ(MFD_CAPTION | MFD_TRAY, Frame()->DirtyBits() & (MFD_CAPTION | MFD_TRAY));
    EXPECT_EQ(L"Norvane", WindowText()) << "nothing is drawn before the idle pass";
    Frame()->IdleUpdate();
    EXPECT_EQ(L"Norvane - [Lab]", WindowText());
    EXPECT_EQ(0u, Frame()->DirtyBits() & MFD_CAPTION);
}

TEST_F(MainWindow, ExternalCommandsThroughTCard)
{
    ASSERT_EQ(kStartContinue, Start());
    TakeCommands();
    struct {
        WPARAM tag;
        LPARAM value;
        std::vector<WPARAM> posted;
    } cases[] = {
        {5555, 0x10000 + 32785, {32785}},
        {5555, 0x10000 + 32786, {32786}},
        {5555, 0x10000, {}},                 // at or below 0xFFFF nothing happens
        {5555, 0xFFFF, {}},
        {5555, 32785, {}},
        {5554, 0x10000 + 32785, {}},         // another tag
        {5555, 0x10000 + 10000, {}},         // a dynamic menu id
        {5555, 0x10000 + 10003, {}},
        {5555, 0x10000 + 12345, {}},         // no command at all
        {5555, 0x10000 + 0x10000 + 32785, {}},  // beyond 16 bits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(0, SendMessageW(FrameWindow(), WM_TCARD, c.tag, c.value));
        EXPECT_EQ(c.posted, TakeCommands()) << c.tag << " " << std::hex << c.value;
    }
}

TEST_F(MainWindow, DeviceChangesOfTheReadersAdaptersRefreshThePortList)
{
    ASSERT_EQ(kStartContinue, Start());
    struct {
        WPARAM event;
        const wchar_t* name;
        bool refresh;
    } cases[] = {
        {DBT_DEVICEARRIVAL, L"\\\\?\\USB#VID_0403&PID_6001#A600XYZA#{4d36e978-e325-11ce-bfc1-08002be10318}", true},
        {DBT_DEVICEREMOVECOMPLETE, L"\\\\?\\USB#VID_0403&PID_6001#A600XYZA#{4d36e978-e325-11ce-bfc1-08002be10318}",
         true},
        {DBT_DEVICEARRIVAL, L"\\\\?\\USB#VID_0403&PID_6010#A600XYZA#{4d36e978-e325-11ce-bfc1-08002be10318}", false},
        {DBT_DEVICEARRIVAL, L"\\\\?\\USB#VID_3168&PID_0106#1#{4d36e978-e325-11ce-bfc1-08002be10318}", true},
        {DBT_DEVICEQUERYREMOVE, L"\\\\?\\USB#VID_0403&PID_6001#A600XYZA#{guid}", false},
        {DBT_DEVNODES_CHANGED, nullptr, true},
    };
    for (const auto& c : cases) {
        Frame()->ClearDirty();
        DeviceRecord record = MakeDeviceRecord(c.name ? c.name : L"");
        const LPARAM data = c.name ? reinterpret_cast<LPARAM>(&record) : 0;
        EXPECT_EQ(0, SendMessageW(FrameWindow(), WM_DEVICECHANGE, c.event, data));
        EXPECT_EQ(c.refresh ? MFD_SERIAL_PORTS : 0u, Frame()->DirtyBits()) << (c.name ? c.name : L"nodes changed");
    }
    // A record of another kind, and one whose size does not hold a name, are ignored.
    DEV_BROADCAST_HDR volume{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
    Frame()->ClearDirty();
    SendMessageW(FrameWindow(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
    DeviceRecord cut = MakeDeviceRecord(L"\\\\?\\USB#VID_0403&PID_6001#A600XYZA#{guid}");
    cut.header.dbcc_size = sizeof(DEV_BROADCAST_HDR);
    SendMessageW(FrameWindow(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&cut));
    EXPECT_EQ(0u, Frame()->DirtyBits());
}

TEST_F(MainWindow, HandOverDataMustBeATerminatedUtf16Line)
{
    ASSERT_EQ(kStartContinue, Start());
    wchar_t good[] = L"/language=Deutsch";
    wchar_t unterminated[] = {L'/', L's', L't'};
    struct {
        const char* what;
        ULONG_PTR id;
        void* data;
        DWORD size;
        LRESULT result;
    } cases[] = {
        {"valid", 101, good, sizeof(good), TRUE},
        {"another data id", 100, good, sizeof(good), FALSE},
        {"odd size", 101, good, sizeof(good) - 1, FALSE},
        {"no terminator", 101, unterminated, sizeof(unterminated), FALSE},
        {"terminator not last", 101, good, sizeof(good) - 2, FALSE},
        {"empty", 101, good, 0, FALSE},
        {"no data", 101, nullptr, 4, FALSE},
        {"just the terminator", 101, good + 17, 2, TRUE},
    };
    for (const auto& c : cases) {
        COPYDATASTRUCT cds{c.id, c.size, c.data};
        EXPECT_EQ(c.result, SendMessageW(FrameWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds))) << c.what;
    }
    EXPECT_EQ(L"Deutsch", App().GetSettings().GetLanguage()) << "the valid line was applied";
}

TEST_F(MainWindow, UnsavedConfigurationAsksAndCancelKeepsTheWindow)
{
    ASSERT_EQ(kStartContinue, Start());
    CAppSettings& settings = App().GetSettings();
    CTransferDoc& transfer = settings.GetTransferDoc();
    settings.SetConfirmFlags(settings.GetConfirmFlags() | 0x02);
    transfer.SetPathName(m_folder.File(L"Night shift.nv2"));
    {
        CDocUpdateScope scope(transfer);
        transfer.RaiseChange(TDC_SOURCE, 0, true);
    }
    ASSERT_TRUE(transfer.IsUnsaved());
    const std::wstring question = L"Save the changes to the configuration \"Night shift.nv2\"?";

    bool asked = false;
    {
        CBoxRobot robot([&](HWND d) { return HasText(d, question); },
                        [&](HWND d) {
                            asked = true;
                            PressButton(d, IDCANCEL);
                        });
        PostMessageW(FrameWindow(), WM_CLOSE, 0, 0);
        PumpWaitingMessages();
        robot.Join();
    }
    EXPECT_TRUE(asked);
    ASSERT_TRUE(IsWindow(FrameWindow())) << "Cancel keeps the window";
    EXPECT_TRUE(transfer.IsUnsaved());
    EXPECT_FALSE(FileExists(m_folder.File(L"Night shift.nv2")));

    // Yes saves the configuration into its own file and closes.
    const int threadsBefore = CountProcessThreads();
    asked = false;
    CBoxRobot robot([&](HWND d) { return HasText(d, question); },
                    [&](HWND d) {
                        asked = true;
                        PressButton(d, IDYES);
                    });
    PostMessageW(FrameWindow(), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, RunLoop());
    robot.Join();
    EXPECT_TRUE(asked);
    EXPECT_FALSE(FrameWindow());
    EXPECT_FALSE(transfer.IsUnsaved());
    EXPECT_TRUE(FileExists(m_folder.File(L"Night shift.nv2")));
    ShutDownApplication();
    EXPECT_LE(CountProcessThreads(), threadsBefore) << "no worker thread is left";
}

TEST_F(MainWindow, ClosingWritesTheSettingsFile)
{
    ASSERT_EQ(kStartContinue, Start());
    ASSERT_FALSE(FileExists(SettingsPath()));
    CAppSettings& settings = App().GetSettings();
    settings.SetConfirmFlags(0);  // no questions
    settings.SetLanguage(L"Italiano");  // a main setting that is now unsaved
    PostMessageW(FrameWindow(), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, RunLoop());
    EXPECT_FALSE(FrameWindow());
    ShutDownApplication();
    const std::string text = ReadFileBytes(SettingsPath());
    EXPECT_NE(std::string::npos, text.find("\"Italiano\"")) << text.substr(0, 300);
    EXPECT_NE(std::string::npos, text.find("\"info\""));
    EXPECT_FALSE(FindWindowW(L"Norvane2", nullptr));
    EXPECT_FALSE(FindWindowW(L"Norvane2_Base", nullptr));
}

TEST_F(MainWindow, ExitQuestionWhenAskedFor)
{
    ASSERT_EQ(kStartContinue, Start());
    App().GetSettings().SetConfirmFlags(0x01);
    for (int button : {IDCANCEL, IDOK}) {
        bool asked = false;
        CBoxRobot robot([&](HWND d) { return HasText(d, L"Exit?"); },
                        [&](HWND d) {
                            asked = true;
                            PressButton(d, button);
                        });
        EXPECT_EQ(button == IDOK, Frame()->CanClose());
        robot.Join();
        EXPECT_TRUE(asked);
    }
}

TEST_F(MainWindow, QuietProgramMakesNoWakeUps)
{
    ASSERT_EQ(kStartContinue, Start());
    // Let start-up's own messages settle.
    PumpWaitingMessages();
    Frame()->IdleUpdate();
    // The messages taken on this thread in the quiet period: the quit message alone.
    static std::vector<UINT> taken;
    taken.clear();
    HHOOK hook = SetWindowsHookExW(
        WH_GETMESSAGE,
        [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (code == HC_ACTION && wParam == PM_REMOVE)
                taken.push_back(reinterpret_cast<const MSG*>(lParam)->message);
            return CallNextHookEx(nullptr, code, wParam, lParam);
        },
        nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hook);
    const DWORD ui = GetCurrentThreadId();
    // The quiet period itself is what is measured.
    std::thread quitter([ui] {
        Sleep(400);
        PostThreadMessageW(ui, WM_QUIT, 5, 0);
    });
    EXPECT_EQ(5, RunLoop());
    quitter.join();
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(std::vector<UINT>{WM_QUIT}, taken);
    EXPECT_EQ(0u, Frame()->TimerMask());
}

TEST_F(MainWindow, FailedDeviceNotificationIsLoggedAndTheWindowStillComes)
{
    m_system.watchDeviceInterfaces = [](HWND, const GUID&) -> HDEVNOTIFY {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    };
    // A settings file that turns the debug log on.
    WriteFileBytes(SettingsPath(), "{\"info\":{\"name\":\"Norvane\",\"version\":\"1.6\"},"
                                   "\"debugLog\":{\"enabled\":true,\"logLevel\":6,\"clearOnStartup\":false}}");
    const int rc = Start();
    m_system.watchDeviceInterfaces = nullptr;
    ASSERT_EQ(kStartContinue, rc);
    EXPECT_TRUE(IsWindow(FrameWindow()));
    EXPECT_FALSE(Frame()->DeviceNotification());
    const std::string log = ReadFileBytes(m_folder.File(L"Norvane.log"));

    EXPECT_NE(std::string::npos,
              log.find("[E] Device notifications of the serial ports are not available (error 13)."))
        << log;
}

TEST_F(MainWindow, DeclinedElevatedRestartContinuesTheStartUp)
{
    static std::vector<std::wstring> calls;
    calls.clear();
    m_system.checkElevation = [](bool* elevated) -> HRESULT {
        *elevated = false;
        return S_FALSE;
    };
    m_system.executeShell = [](SHELLEXECUTEINFOW* info) -> BOOL {
        calls.push_back(std::wstring(info->lpVerb) + L"|" + info->lpFile + L"|" + info->lpParameters + L"|" +
                        std::to_wstring(info->fMask) + L"|" + std::to_wstring(info->nShow));
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    };
    ASSERT_EQ(kStartContinue, Start(L"/admin /n"));
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"runas|" + m_programPath + L"|/admin /n|17408|1", calls[0]);
    EXPECT_TRUE(IsWindow(FrameWindow())) << "the declined restart leaves this instance running";
}

TEST_F(MainWindow, StartedElevatedCopyEndsThisInstance)
{
    m_system.checkElevation = [](bool* elevated) -> HRESULT {
        *elevated = false;
        return S_FALSE;
    };
    m_system.executeShell = [](SHELLEXECUTEINFOW*) -> BOOL { return TRUE; };
    EXPECT_EQ(kStartEnd, Start(L"/admin /n"));
    EXPECT_FALSE(FrameWindow());
    // Already elevated, or the test not answering: no restart is tried.
    m_system.checkElevation = [](bool* elevated) -> HRESULT {
        *elevated = true;
        return S_OK;
    };
    m_system.executeShell = [](SHELLEXECUTEINFOW*) -> BOOL {
        ADD_FAILURE() << "no restart when elevated";
        return TRUE;
    };
    EXPECT_EQ(kStartContinue, Start(L"/admin /n"));
    ShutDown();
    m_system.checkElevation = [](bool*) -> HRESULT { return E_FAIL; };
    EXPECT_EQ(kStartContinue, Start(L"/admin /n"));
}

TEST_F(MainWindow, PanelsComeAndGoAndThePageToolbarFollows)
{
    ASSERT_EQ(kStartContinue, Start());
    CAppSettings& settings = App().GetSettings();
    HWND hwnd = FrameWindow();
    HWND toolbar = GetDlgItem(hwnd, IDC_PAGE_TOOLBAR);

    settings.SetPanels(PANEL_STATUSBAR);
    EXPECT_FALSE(GetDlgItem(hwnd, IDC_PAGE_HEADER));
    HWND status = GetDlgItem(hwnd, IDC_STATUS_BAR);
    ASSERT_TRUE(status);
    RECT client;
    GetClientRect(hwnd, &client);
    int parts[8] = {};
    ASSERT_EQ(6, SendMessageW(status, SB_GETPARTS, 8, reinterpret_cast<LPARAM>(parts)));
    const int w = client.right;
    const int expected[6] = {w - 370, w - 345, w - 320, w - 280, w - 80, -1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(expected[i], parts[i]) << i;
    RECT bar;
    GetWindowRect(status, &bar);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&bar), 2);
    EXPECT_EQ(client.bottom, bar.bottom);

    // Without the header the page toolbar shows only on some pages.
    settings.SetPanels(0);
    EXPECT_FALSE(GetDlgItem(hwnd, IDC_STATUS_BAR));
    struct {
        int page;
        bool visible;
    } pages[] = {{0, true}, {1, false}, {12, true}, {2, false}, {21, true}, {22, true}, {23, true},
                 {24, true}, {3, false}, {20, false}, {-1, false}};
    for (const auto& p : pages) {
        Frame()->ShowPage(p.page);
        EXPECT_EQ(p.page, Frame()->GetCurrentPage());
        EXPECT_EQ(p.visible, IsWindowVisible(toolbar) != FALSE) << p.page;
    }
    // The transfer toolbar alone brings it onto every page, in the corner above that toolbar.
    settings.SetPanels(PANEL_TOOLBAR);
    EXPECT_TRUE(IsWindowVisible(toolbar)) << "page -1";
    Frame()->ShowPage(1);
    EXPECT_TRUE(IsWindowVisible(toolbar)) << "page 1";
    // With the header back it always shows, and the header names the page.
    settings.SetPanels(PANEL_HEADER);
    EXPECT_TRUE(IsWindowVisible(toolbar));
    Frame()->ShowPage(20);
    std::wstring title;
    GetWindowString(GetDlgItem(hwnd, IDC_PAGE_HEADER), title);
    EXPECT_EQ(L"Formats", title);
}

// The view options reach the frame through their interface detail bits.
TEST_F(MainWindow, TopmostCommandAndTaskbarOptionReachTheFrame)
{
    ASSERT_EQ(kStartContinue, Start());
    CAppSettings& settings = App().GetSettings();
    HWND hwnd = FrameWindow();
    HWND toolbar = GetDlgItem(hwnd, IDC_PAGE_TOOLBAR);
    for (bool on : {true, false}) {
        SendMessageW(hwnd, WM_COMMAND, ID_TOPMOST, 0);
        EXPECT_EQ(on, settings.view.topMost);
        EXPECT_TRUE(Frame()->DirtyBits() & MFD_TOPMOST) << on;
        // Wine keeps no WS_EX_TOPMOST on a window of a desktop without a window manager; the
        // button that ApplyTopmost checks shows the same.
        Frame()->IdleUpdate();
        EXPECT_FALSE(Frame()->DirtyBits() & MFD_TOPMOST) << on;
        EXPECT_EQ(on, SendMessageW(toolbar, TB_ISBUTTONCHECKED, ID_TOPMOST, 0) != 0) << on;
        EXPECT_TRUE(settings.IsUnsaved());
    }
    std::vector<std::pair<HWND, bool>> tabs;
    m_system.showTaskbarTab = [&](HWND window, bool shown) {
        tabs.emplace_back(window, shown);
        return S_OK;
    };
    SetViewOption(settings, &AppViewOptions::taskbarButton, false);
    EXPECT_FALSE(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    SetViewOption(settings, &AppViewOptions::taskbarButton, true);
    EXPECT_TRUE(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(tabs, (std::vector<std::pair<HWND, bool>>{{hwnd, false}, {hwnd, true}}));
}

TEST_F(MainWindow, MinimizingFollowsTheTrayAndTaskbarSettings)
{
    ASSERT_EQ(kStartContinue, Start());
    CAppSettings& settings = App().GetSettings();
    struct {
        uint32_t tray;
        bool taskbarButton;
        bool visible;
    } cases[] = {{0, true, true}, {0, false, true}, {1, true, false}, {2, true, true}, {2, false, false},
                 {3, true, false}};
    for (const auto& c : cases) {
        settings.SetTrayIconFlags(c.tray);
        SetViewOption(settings, &AppViewOptions::taskbarButton, c.taskbarButton);
        Frame()->ShowMainWindow(false);
        EXPECT_TRUE(IsIconic(FrameWindow())) << c.tray;
        EXPECT_EQ(c.visible, IsWindowVisible(FrameWindow()) != FALSE) << c.tray << " " << c.taskbarButton;
        Frame()->ShowMainWindow(true);
        EXPECT_FALSE(IsIconic(FrameWindow()));
        EXPECT_TRUE(IsWindowVisible(FrameWindow()));
    }
}

TEST_F(MainWindow, MovingSnapsToTheWorkAreaEdges)
{
    ASSERT_EQ(kStartContinue, Start());
    SetViewOption(App().GetSettings(), &AppViewOptions::snapToEdges, true);
    HWND hwnd = FrameWindow();
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = 760, height = 650;
    struct {
        int x, y;
        int snappedX, snappedY;
    } cases[] = {
        {work.left + 5, work.top + 9, work.left, work.top},
        {work.left + 10, work.top + 10, work.left + 10, work.top + 10},  // 10 pixels away: no snap
        {work.right - width - 3, work.bottom - height - 1, work.right - width, work.bottom - height},
        {work.left - 4, work.top + 200, work.left, work.top + 200},
    };
    for (const auto& c : cases) {
        MoveWindow(hwnd, c.x, c.y, width, height, FALSE);
        SendMessageW(hwnd, WM_ENTERSIZEMOVE, 0, 0);
        RECT rc{c.x, c.y, c.x + width, c.y + height};
        EXPECT_EQ(TRUE, SendMessageW(hwnd, WM_MOVING, WMSZ_TOP, reinterpret_cast<LPARAM>(&rc)));
        EXPECT_EQ(c.snappedX, rc.left) << c.x;
        EXPECT_EQ(c.snappedY, rc.top) << c.y;
        EXPECT_EQ(width, rc.right - rc.left);
        EXPECT_EQ(height, rc.bottom - rc.top);
        SendMessageW(hwnd, WM_EXITSIZEMOVE, 0, 0);
    }
}

TEST_F(MainWindow, StartIsRecordedInTheEventTable)
{
    WriteFileBytes(SettingsPath(), "{\"info\":{\"name\":\"Norvane\",\"version\":\"1.6\"},"
                                   "\"eventLog\":{\"enabled\":true,\"limit\":100}}");
    ASSERT_EQ(kStartContinue, Start());
    ASSERT_TRUE(App().GetSettings().GetEventLog().IsOpen());
    App().GetSettings().GetEventLog().Close();  // written back, so the file can be read here
    const std::string table = ReadFileBytes(m_folder.File(L"EventLog.dbf"));
    EXPECT_NE(std::string::npos, table.find("Norvane v2.6 (Windows v")) << table.size();
}

TEST_F(MainWindow, ADeviceNamedAsTheConfigurationStartsTheDefaultOneAndTheEventTableSaysWhy)
{
    WriteFileBytes(SettingsPath(), R"({"info":{"name":"Norvane","version":"1.6"},)"
                                   R"("main":{"configuration":"\\\\.\\NUL"},"eventLog":{"enabled":true,"limit":100}})");
    ASSERT_EQ(kStartContinue, Start());
    EXPECT_EQ(L"", App().GetSettings().GetTransferDoc().GetPathName());
    CEventLogDb& table = App().GetSettings().GetEventLog();
    ASSERT_TRUE(table.IsOpen());
    std::vector<std::wstring> warnings;
    for (int n = 1; n <= static_cast<int>(table.GetEventCount()); ++n) {
        _EVENT_RECORD event;
        table.ReadEvent(n, event);
        if (event.level == EVENT_WARNING)
            warnings.push_back(event.message);
    }
    EXPECT_EQ(std::vector<std::wstring>{SettingsPath() + L" names the device \"\\\\.\\NUL\" as its configuration; "
                                        L"a configuration must be a file."},
              warnings);
}
