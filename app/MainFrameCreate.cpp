// Creation and teardown of the main frame.
#include "app/MainFrame.h"

#include <algorithm>

#include <commctrl.h>
#include <initguid.h>

#include "app/NorvaneApp.h"
#include "app/ShellLog.h"
#include "core/AppLog.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "framework/Layout.h"
#include "resources/resource.h"

namespace {

// The ports device class: serial adapters appear and vanish under it.
const GUID kPortsClassGuid = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

constexpr DWORD kPageToolbarStyle = 0x4000294E;

} // namespace

LRESULT CMainFrame::OnCreate()
{
    CNorvaneApp& app = m_app;
    CAppSettings& settings = app.GetSettings();

    // 1. Fonts.
    currentPage = -1;
    // The window was made before it could answer WM_GETMINMAXINFO. Held at its minimum tracking
    // size now, as its first placing would hold it, the panels and the page are laid out once, at
    // the size they are shown at, instead of again when the window is placed.
    RECT rc{};
    GetWindowRect(m_hWnd, &rc);
    if (rc.right - rc.left < kMinTrackWidth || rc.bottom - rc.top < kMinTrackHeight)
        SetWindowPos(m_hWnd, nullptr, 0, 0, std::max<int>(rc.right - rc.left, kMinTrackWidth),
                     std::max<int>(rc.bottom - rc.top, kMinTrackHeight), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    NONCLIENTMETRICSW ncm{sizeof(ncm)};
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0))
        uiFont.Attach(CreateFontIndirectW(&ncm.lfMessageFont));

    // 2. Tray record and the About item of the system menu.
    trayIcon.m_data.hWnd = m_hWnd;
    std::wstring about;
    if (LoadResString(IDS_ABOUT_MENU, about) > 0) {
        HMENU system = GetSystemMenu(m_hWnd, FALSE);
        AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(system, MF_STRING, ID_APP_ABOUT, about.c_str());
    }

    // 3. Common controls and the rich tip.
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_USEREX_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    CRichTip::RegisterWindowClass();
    if (!richTip.CreateTip(m_hWnd))
        return -1;

    // 4. Tool tips.
    if (toolTip.Create(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr)) {
        SendMessageW(toolTip.m_hWnd, TTM_SETMAXTIPWIDTH, 0, 400);
        SendMessageW(toolTip.m_hWnd, TTM_ACTIVATE, TRUE, 0);
    }

    // 5. Page toolbar.
    pageToolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, kPageToolbarStyle, 0, 0, 100, 24, m_hWnd,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PAGE_TOOLBAR)),
                                  GetProgramModule(), nullptr);
    if (!pageToolbar)
        return -1;
    SendMessageW(pageToolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(pageToolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(app.GetSmallImageList()));
    TBBUTTON buttons[] = {
        {11, ID_TOPMOST, TBSTATE_ENABLED, BTNS_CHECK, {}, 0, 0},
        {0, 0, 0, BTNS_SEP, {}, 0, 0},
        {12, ID_PAGE_HELP, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
        {13, ID_MAIN_MENU, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
    };
    SendMessageW(pageToolbar, TB_ADDBUTTONSW, ARRAYSIZE(buttons), reinterpret_cast<LPARAM>(buttons));
    FitToolbar(pageToolbar, 4);
    ShowWindow(pageToolbar, SW_SHOWNOACTIVATE);

    // 6. The tray icon of a stopped transfer.
    idleIcon = LoadResourceIcon(IDI_IDLE_ICON, GetSystemMetrics(SM_CXSMICON));

    // 7. Serial adapters coming and going. Without the notification the port list is still
    // refreshed by DBT_DEVNODES_CHANGED and on request, so the window goes on without it.
    devNotify = SystemServices().WatchDeviceInterfaces(m_hWnd, kPortsClassGuid);
    if (!devNotify)
        LogShellError(IDS_LOG_DEVNOTIFY_FAILED, GetLastError());

    // 8. PC/SC readers coming and going, when the search options ask for them.
    app.SetCcidNotifyWindow(m_hWnd);
    if (settings.GetTransferDoc().reader.searchFlags & SEARCH_CCID)
        app.Ccid().EnablePnpWatch(true);

    // 9. Observers.
    if (toolTip.m_hWnd)
        SetWindowPos(toolTip.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    settingsObserver = settings.AddObserver(this, &CMainFrame::OnSettingsChanged);
    transferObserver = settings.GetTransferDoc().AddObserver(this, &CMainFrame::OnTransferDocChanged);
    m_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");

    // 10. Panels, topmost, caption and toolbar states now.
    dirty |= MFD_STATUS | MFD_HOTKEYS | MFD_TRAY;
    ApplyPanels();
    ApplyTopmost();
    std::wstring caption;
    BuildCaption(caption);
    SetWindowTextW(m_hWnd, caption.c_str());
    dirty &= ~MFD_CAPTION;
    SetToolbarStates();
    dirty &= ~MFD_TOOLBAR;

    // 11. The page of the settings.
    if (settings.GetCurrentPage() != currentPage)
        ShowPage(settings.GetCurrentPage());
    RecalcLayout();
    return 0;
}

void CMainFrame::OnDestroy()
{
    CNorvaneApp& app = m_app;
    app.GetSettings().GetTransferDoc().RemoveObserver(transferObserver);
    app.GetSettings().RemoveObserver(settingsObserver);
    // A language switch makes the window again at once: the transfer and its links go on, and
    // the workers post to the new window.
    const bool recreating = app.IsRecreatingMainWindow();
    if (!recreating) {
        app.StopTransfer();
        // A reader kept for a pending job goes too: no worker outlives the window.
        app.ReleaseReader(true);
        app.ReleaseBridgeLink(false);
    }
    UnregisterHotkeys();
    if (devNotify) {
        UnregisterDeviceNotification(devNotify);
        devNotify = nullptr;
    }
    KillTimer(1);
    KillTimer(2);
    KillTimer(3);
    KillTimer(4);
    StopEventSound();
    transToolBar.reset();
    statusBar.Destroy();
    richTip.Destroy();
    CRichTip::UnregisterWindowClass();
    app.CloseHelp();
    searchThread.reset();
    app.SetCcidNotifyWindow(nullptr);
    app.Ccid().Shutdown();
    trayIcon.Remove();
    for (auto& page : pages) {
        if (page)
            page->Destroy();
        page.reset();
    }
    currentPage = -1;
    pageListBar.reset();
    if (pageToolbar) {
        DestroyWindow(pageToolbar);
        pageToolbar = nullptr;
    }
    if (header) {
        DestroyWindow(header);
        header = nullptr;
    }
    headerFont.Delete();
    toolTip.Destroy();
    if (idleIcon) {
        DestroyIcon(idleIcon);
        idleIcon = nullptr;
    }
    uiFont.Delete();
    if (!recreating)
        PostQuitMessage(0);
}
