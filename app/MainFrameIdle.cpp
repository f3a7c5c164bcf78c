// Deferred work of the main frame (the idle update), its caption, topmost state and showing,
// and its reactions to document changes.
#include "app/MainFrame.h"

#include <commctrl.h>

#include "app/NorvaneApp.h"
#include "core/File.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "resources/resource.h"

namespace {

CAppSettings& Settings()
{
    return App().GetSettings();
}

} // namespace

void CMainFrame::IdleUpdate()
{
    if (dirty & MFD_PAGES) {
        dirty &= ~MFD_PAGES;
        for (auto& page : pages) {
            if (page && page->m_hWnd)
                page->OnIdleUpdate();
        }
    }
    if (dirty & MFD_CAPTION) {
        dirty &= ~MFD_CAPTION;
        std::wstring caption;
        BuildCaption(caption);
        SetWindowTextW(m_hWnd, caption.c_str());
    }
    if (dirty & MFD_ALL_PORTS) {
        RefreshAllPorts();
    } else if (dirty & MFD_SERIAL_PORTS) {
        dirty &= ~MFD_SERIAL_PORTS;
        m_app.RefreshPortList(true);
    }
    if (dirty & MFD_TRAY) {
        dirty &= ~MFD_TRAY;
        UpdateTrayIcon(WantsTrayIcon());
    }
    if (dirty & MFD_TOOLBAR) {
        dirty &= ~MFD_TOOLBAR;
        SetToolbarStates();
    }
    if (dirty & MFD_HOTKEYS) {
        dirty &= ~MFD_HOTKEYS;
        const CAppSettings& settings = Settings();
        RegisterHotkeys(settings.IsHotkeysEnabled() && !settings.hotkeys.empty() && m_app.HotkeyCaptures() == 0);
    }
    if (dirty & MFD_TOPMOST)
        ApplyTopmost();
    if (dirty & MFD_LAYOUT)
        RecalcLayout();
    if (dirty & MFD_STATUS)
        UpdateStatusBar();
    if (dirty & MFD_MENU_END) {
        dirty &= ~MFD_MENU_END;
        dynCommands.clear();
    }
}

void CMainFrame::BuildCaption(std::wstring& out) const
{
    const CAppSettings& settings = Settings();
    std::wstring name;
    settings.GetConfigDisplayPath(name);
    // A plain file name is shown without its extension; a path keeps it.
    if (name.find(L'\\') == std::wstring::npos) {
        const size_t cut = name.find_last_of(L".:\\");
        if (cut != std::wstring::npos && name[cut] == L'.')
            name.resize(cut);
    }
    LoadResString(IDS_APP_NAME, out);
    if (settings.view.versionTitle) {
        std::wstring path, version;
        if (GetModuleFilePath(path))
            VersionToString(GetFilePackedVersion(path.c_str()), version);
        out += L" v";
        out += version;
    }
    if (settings.IsTransferEnabled()) {
        std::wstring running;
        LoadResString(IDS_RUNNING, running);
        out += L" (" + running + L")";
    }
    if (!name.empty()) {
        out += L" - [" + name;
        if (settings.GetTransferDoc().IsUnsaved())
            out += L"*";
        out += L"]";
    }
}

void CMainFrame::ApplyTopmost()
{
    dirty &= ~MFD_TOPMOST;
    const bool topMost = Settings().view.topMost;
    SetWindowPos(m_hWnd, topMost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (pageToolbar) {
        UpdatingScope updating(m_hWnd);
        // The current page may show the button otherwise.
        const bool checked = QueryCommandState(ID_TOPMOST).checked;
        SendMessageW(pageToolbar, TB_CHECKBUTTON, ID_TOPMOST, MAKELPARAM(checked ? TRUE : FALSE, 0));
    }
}

CommandState CMainFrame::QueryCommandState(int commandId)
{
    CommandState state;
    if (CBasePage* page = GetCurrentPageObject(); page && page->QueryCommandState(commandId, state))
        return state;
    const FrameCommand* command = FindCommand(commandId);
    return command && command->state ? command->state(Settings()) : state;
}

void CMainFrame::SetToolbarStates()
{
    UpdatingScope updating(m_hWnd);
    if (transToolBar && transToolBar->m_hWnd) {
        for (int id : {ID_TRANSFER_START, ID_TRANSFER_STOP, ID_TRANSFER_RESTART}) {
            const CommandState state = QueryCommandState(id);
            SendMessageW(transToolBar->m_hWnd, TB_ENABLEBUTTON, id, MAKELPARAM(state.enabled ? TRUE : FALSE, 0));
        }
    }
    if (!pageToolbar)
        return;
    const int count = static_cast<int>(SendMessageW(pageToolbar, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TBBUTTON button{};
        if (!SendMessageW(pageToolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button)) ||
            (button.fsStyle & BTNS_SEP))
            continue;
        const CommandState state = QueryCommandState(button.idCommand);
        SendMessageW(pageToolbar, TB_ENABLEBUTTON, button.idCommand, MAKELPARAM(state.enabled ? TRUE : FALSE, 0));
        if (button.fsStyle & BTNS_CHECK)
            SendMessageW(pageToolbar, TB_CHECKBUTTON, button.idCommand, MAKELPARAM(state.checked ? TRUE : FALSE, 0));
    }
}

void CMainFrame::ShowMainWindow(bool show)
{
    if (show) {
        if (IsIconic(m_hWnd))
            ShowWindow(m_hWnd, SW_RESTORE);
        else if (!IsWindowVisible(m_hWnd))
            ShowWindow(m_hWnd, SW_SHOW);
        SetForegroundWindow(m_hWnd);
        return;
    }
    const CAppSettings& settings = Settings();
    ShowWindow(m_hWnd, SW_MINIMIZE);
    const uint32_t flags = settings.GetTrayIconFlags();
    if ((flags & TRAY_SHOW_MINIMIZED) || ((flags & TRAY_SHOW_ALWAYS) && !settings.view.taskbarButton))
        ShowWindow(m_hWnd, SW_HIDE);
}

void CMainFrame::OnSettingsChanged(void* key, CDocument*, const uint32_t* bits)
{
    auto* frame = static_cast<CMainFrame*>(key);
    CAppSettings& settings = Settings();
    const uint32_t change = bits[0];
    const uint32_t ui = settings.GetDetails().ui;
    if (change & ASC_UI) {
        // A page that refuses to be left keeps the frame, and the setting follows the frame.
        if ((ui & ASU_CURRENT_PAGE) && !frame->ShowPage(settings.GetCurrentPage()))
            settings.SetCurrentPage(frame->currentPage);
        if (ui & ASU_VERSION_TITLE)
            frame->dirty |= MFD_CAPTION | MFD_TRAY;
        if (ui & ASU_TOPMOST)
            frame->dirty |= MFD_TOPMOST;
        if (ui & ASU_TRAY)
            frame->dirty |= MFD_TRAY;
        if (ui & ASU_PANELS)
            frame->ApplyPanels();
        if (ui & ASU_TASKBAR_BUTTON) {
            const LONG_PTR ex = GetWindowLongPtrW(frame->m_hWnd, GWL_EXSTYLE);
            const LONG_PTR want = settings.view.taskbarButton ? (ex | WS_EX_APPWINDOW) : (ex & ~WS_EX_APPWINDOW);
            if (want != ex)
                SetWindowLongPtrW(frame->m_hWnd, GWL_EXSTYLE, want);
            // The style alone reaches the taskbar only when the window is shown again.
            SystemServices().ShowTaskbarTab(frame->m_hWnd, settings.view.taskbarButton);
        }
    }
    if (change & ASC_UNSAVED)
        frame->dirty |= MFD_CAPTION | MFD_TRAY;
    if ((change & (ASC_HOTKEYS_ON | ASC_HOTKEYS)) ||
        ((change & ASC_STATE) && (settings.GetDetails().state & ASS_HOTKEY_EDITING)))
        frame->dirty |= MFD_HOTKEYS;
    if ((change & ASC_SOUNDS_ON) && !settings.IsSoundsEnabled())
        frame->StopEventSound();
    if (change & ASC_TRANSFER_ON)
        frame->dirty |= MFD_CAPTION | MFD_TRAY | MFD_TOOLBAR;
    const bool keyListSource = settings.GetTransferDoc().GetSourceKind() == SOURCE_KEYLIST;
    if (frame->statusBar.m_hWnd &&
        ((change & (ASC_TRANSFER_ON | ASC_LOG_SWITCHES)) || ((change & ASC_UI) && (ui & ASU_KEY_VIEW_FORMAT)) ||
         ((change & ASC_STATE) && (settings.GetDetails().state & (ASS_LAST_TRANSFER | ASS_READER_JOB))) ||
         ((change & ASC_KEYLIST_SELECTION) && keyListSource)))
        frame->dirty |= MFD_STATUS;
    if (frame->dirty & MFD_LAYOUT)
        frame->RecalcLayout();
}

void CMainFrame::OnTransferDocChanged(void* key, CDocument* doc, const uint32_t* bits)
{
    auto* frame = static_cast<CMainFrame*>(key);
    const auto* transfer = static_cast<const CTransferDoc*>(doc);
    const uint32_t change = bits[0];
    if (change & (TDC_UNSAVED | TDC_PATH))
        frame->dirty |= MFD_CAPTION | MFD_TRAY;
    const bool keyListSource = transfer->GetSourceKind() == SOURCE_KEYLIST;
    if (frame->statusBar.m_hWnd &&
        ((change & TDC_SOURCE) || ((change & TDC_STATE) && (transfer->GetDetails().state & TDS_READER_JOB)) ||
         ((change & TDC_KEYLIST) && keyListSource)))
        frame->dirty |= MFD_STATUS;
    const uint32_t state = transfer->GetDetails().state;
    if ((change & TDC_KEYLIST_TIMER) ||
        (transfer->keyListTimerEnabled &&
         ((change & TDC_SOURCE) || ((change & TDC_STATE) && (state & (TDS_SOURCE_STATE | TDS_DEST_STATE))) ||
          ((change & TDC_READER) && transfer->GetSourceKind() == SOURCE_READER))))
        frame->UpdateKeyListTimer();
}
