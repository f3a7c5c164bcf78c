// The commands the main frame handles so far, its pre-translation and the hand-over of a second
// instance's command line.
#include "app/MainFrame.h"

#include "app/CommandLine.h"
#include "app/Configurations.h"
#include "app/ManageSettingsCommand.h"
#include "app/NorvaneApp.h"

bool CMainFrame::PreTranslate(MSG* msg)
{
    const bool keyboard = msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST;
    const bool mouse = msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSEHWHEEL;
    if (!keyboard && !mouse)
        return false;
    if (keyboard && accelTable && TranslateAcceleratorW(m_hWnd, accelTable, msg))
        return true;
    return IsDialogMessageW(m_hWnd, msg) != FALSE;
}

bool CMainFrame::OnCommand(int id, int code, HWND control)
{
    // Commands of the menus (code 0), accelerators (1), toolbar buttons and hotkeys reach the
    // current page first; notifications of the frame's own controls do not. The page gets no
    // control, so that it cannot reflect the command into one of the frame's children.
    if (code == 0 || code == 1) {
        if (CBasePage* page = GetCurrentPageObject(); page && page->OnCommand(id, code, nullptr))
            return true;
    }
    CNorvaneApp& app = App();
    switch (id) {
    case ID_APP_EXIT:
        if (CanClose())
            DestroyWindow(m_hWnd);
        return true;
    case ID_TRANSFER_START:
        app.StartTransfer(true);
        return true;
    case ID_TRANSFER_STOP:
        app.StopTransfer();
        return true;
    case ID_TRANSFER_RESTART:
        app.RestartTransfer(true);
        return true;
    case ID_MANAGE_SETTINGS:
        RunManageSettingsDialog(*this);
        return true;
    case ID_CONFIG_DELETE:
        DeleteConfiguration();
        return true;
    case ID_TOPMOST: {
        AppViewOptions view = app.settings.view;
        view.topMost = !view.topMost;
        app.settings.SetViewOptions(view);
        return true;
    }
    case ID_PAGE_HELP: {
        const PageTableEntry* page = FindPage(currentPage);
        app.ShowHelp(page ? page->helpId : 0);
        return true;
    }
    default:
        return CWnd::OnCommand(id, code, control);
    }
}

bool CMainFrame::OnHandOver(const wchar_t* commandLine)
{
    _CMDLINE_INFO info;
    if (ParseCommandLine(commandLine, info) != 0)
        return false;
    CNorvaneApp& app = App();
    if (info.Has(CMDF_LANGUAGE) && info.language != app.settings.GetLanguage())
        app.settings.SetLanguage(info.language);
    switch (info.action) {
    case CMDA_START:
        app.StartTransfer(true);
        break;
    case CMDA_STOP:
        app.StopTransfer();
        break;
    case CMDA_RESTART:
        app.RestartTransfer(true);
        break;
    default:
        break;
    }
    return true;
}
