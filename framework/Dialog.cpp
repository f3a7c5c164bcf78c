#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "core/AppLog.h"
#include "framework/WinApp.h"
#include "resources/ids_commands.h"

#include <commctrl.h>
#include <windowsx.h>

namespace {

bool IsKeyboardOrMouse(UINT message)
{
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

// Messages whose dialog-procedure result is the message result itself.
bool ReturnsResultDirectly(UINT message)
{
    return (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) || message == WM_COMPAREITEM ||
           message == WM_VKEYTOITEM || message == WM_CHARTOITEM || message == WM_QUERYDRAGICON ||
           message == WM_INITDIALOG;
}

// The windows a modal loop disables, so it can give them back in order.
struct DisabledOwners {
    HWND top = nullptr;   // the owner's root window, disabled when it is not the owner
    HWND owner = nullptr; // disabled owner
    HWND main = nullptr;  // disabled main window
};

HWND MainWindow()
{
    return GetApp() ? GetApp()->GetMainWindowHandle() : nullptr;
}

DisabledOwners DisableOwners(HWND dialog, HWND& ownerOut)
{
    HWND parent = GetParent(dialog);
    HWND owner = parent ? parent : MainWindow();
    while (owner && (GetWindowLongW(owner, GWL_STYLE) & WS_CHILD))
        owner = GetParent(owner);
    HWND top = owner ? FindRootWindow(owner) : nullptr;
    if (!parent && owner)
        owner = GetLastActivePopup(owner);

    DisabledOwners d;
    if (top && IsWindowEnabled(top) && top != owner) {
        EnableWindow(top, FALSE);
        d.top = top;
    }
    if (owner && owner != GetDesktopWindow() && IsWindowEnabled(owner)) {
        EnableWindow(owner, FALSE);
        d.owner = owner;
    }
    HWND main = MainWindow();
    if (main && IsWindowEnabled(main)) {
        EnableWindow(main, FALSE);
        d.main = main;
    }
    ownerOut = owner;
    return d;
}

void EnableOwners(const DisabledOwners& d, HWND owner, HWND dialog)
{
    if (d.main)
        EnableWindow(d.main, TRUE);
    if (d.owner)
        EnableWindow(d.owner, TRUE);
    if (owner && GetActiveWindow() == dialog)
        SetActiveWindow(owner);
    if (d.top && IsWindow(d.top))
        EnableWindow(d.top, TRUE);
}

// The loop proper; throws whatever the application's hooks throw.
void PumpModal(CWinApp& app, HWND dialog, int& result)
{
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    const bool sendEnterIdle = !(style & DS_NOIDLEMSG);
    bool mustShow = !(style & WS_VISIBLE);
    HWND parent = GetParent(dialog);
    bool idle = true;
    LPARAM idleCount = 0;

    if (result != -1) { // ended while it was being created (WM_INITDIALOG)
        EndDialog(dialog, result);
        return;
    }
    for (;;) {
        while (idle && !app.IsMessageWaiting()) {
            if (mustShow) {
                ShowWindow(dialog, SW_SHOWNORMAL);
                UpdateWindow(dialog);
                mustShow = false;
            }
            if (sendEnterIdle && parent && idleCount == 0)
                SendMessageW(parent, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(dialog));
            if (!SendMessageW(dialog, WM_KICKIDLE, 0, idleCount++))
                idle = false;
        }
        do {
            if (!app.ProcessNextMessage()) {
                // Every enclosing loop must see the quit too, with its exit code.
                PostQuitMessage(static_cast<int>(app.m_pumpedMessage.wParam));
                result = -1;
                return;
            }
            if (result != -1) {
                EndDialog(dialog, result);
                return;
            }
            if (app.ResetsIdle(app.m_pumpedMessage)) {
                idle = true;
                idleCount = 0;
            }
        } while (app.IsMessageWaiting());
    }
}

} // namespace

INT_PTR CALLBACK FrameworkDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* object;
    if (message == WM_INITDIALOG) {
        object = reinterpret_cast<CWnd*>(lParam);
        if (object) {
            object->m_hWnd = hwnd;
            SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(object));
        }
    } else {
        object = reinterpret_cast<CWnd*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!object || !GetApp())
        return FALSE;
    const LRESULT result = object->Dispatch(hwnd, message, wParam, lParam);
    if (result == 0)
        return FALSE;
    if (!ReturnsResultDirectly(message))
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return static_cast<INT_PTR>(result);
}

// ---- CDialog ----

CDialog::~CDialog()
{
    // Destroyed here rather than in ~CWnd, so that the last messages still get the dialog's
    // default processing (the dialog manager's) instead of DefWindowProcW.
    CWnd::Destroy();
}

bool CDialog::CreateDialogWindow(HWND ownerOrParent)
{
    LPCWSTR name = MAKEINTRESOURCEW(m_templateId);
    HWND hwnd = CreateDialogParamW(FindResourceModule(name, RT_DIALOG), name, ownerOrParent, &FrameworkDlgProc,
                                   reinterpret_cast<LPARAM>(this));
    m_hWnd = hwnd;
    return hwnd != nullptr;
}

bool CDialog::PreTranslate(MSG* msg)
{
    if (!IsKeyboardOrMouse(msg->message))
        return false;
    CWnd* main = GetApp() ? GetApp()->m_pMainWnd : nullptr;
    if (main && main != this && main->PreTranslate(msg))
        return true;
    return IsDialogMessageW(m_hWnd, msg) != FALSE;
}

LRESULT CDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITMENUPOPUP:
        GetApp()->OnInitMenuPopup(reinterpret_cast<HMENU>(wParam), LOWORD(lParam), HIWORD(lParam) != 0);
        return 0;
    case WM_HELP_QUERY:
        if (!m_templateId)
            return 0;
        GetApp()->ShowHelp(m_templateId);
        return 1;
    case WM_INITDIALOG:
        return OnInitDialog() ? TRUE : FALSE;
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return DefaultProc();
    case WM_CONTEXTMENU:
        if (OnContextMenu(reinterpret_cast<HWND>(wParam), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}))
            return TRUE;
        return DefaultProc();
    case WM_GETMINMAXINFO:
        if (m_minTrackSize.cx || m_minTrackSize.cy) {
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{m_minTrackSize.cx, m_minTrackSize.cy};
            return 0;
        }
        return DefaultProc();
    default:
        return CWnd::HandleMessage(hwnd, message, wParam, lParam);
    }
}

void CDialog::OnSize(UINT, int, int)
{
}

void CDialog::OnDestroy()
{
}

bool CDialog::OnContextMenu(HWND, POINT)
{
    return false;
}

LRESULT CDialog::DefaultProc()
{
    return 0; // the dialog manager does the default
}

int CDialog::GetItemText(int controlId, std::wstring& text) const
{
    HWND item = m_hWnd ? GetDlgItem(m_hWnd, controlId) : nullptr;
    if (!item) {
        text.clear();
        return 0;
    }
    return GetWindowString(item, text);
}

bool CDialog::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (m_commandTips && nmh && nmh->code == TBN_GETINFOTIPW) {
        auto* tip = reinterpret_cast<NMTBGETINFOTIPW*>(nmh);
        if (tip->pszText && tip->cchTextMax > 0 &&
            m_commandTips->GetCommandTipText(static_cast<UINT>(tip->iItem), tip->pszText, tip->cchTextMax) > 0)
            return true;
    }
    return CWnd::OnNotify(id, nmh, result);
}

std::wstring CDialog::ItemText(int controlId) const
{
    std::wstring text;
    GetItemText(controlId, text);
    return text;
}

void CDialog::TrackMenu(int menuId, POINT at, const std::function<void(HMENU)>& prepare, UINT flags,
                        TPMPARAMS* exclude)
{
    if (m_menuOpen)
        return;
    LPCWSTR name = MAKEINTRESOURCEW(menuId);
    CMenu menu(LoadMenuW(FindResourceModule(name, RT_MENU), name));
    HMENU popup = menu.Get() ? GetSubMenu(menu.Get(), 0) : nullptr;
    if (!popup)
        return;
    if (prepare)
        prepare(popup);
    if (at.x == -1 && at.y == -1)
        GetCursorPos(&at);
    m_menuOpen = true;
    TrackPopupMenuEx(popup, flags, at.x, at.y, m_hWnd, exclude);
    m_menuOpen = false;
}

// ---- CModalDialog ----

int CModalDialog::RunModal(HWND owner)
{
    m_result = -1;
    if (!CreateDialogWindow(owner))
        return -1;
    RunModalLoop(m_hWnd, m_result);
    Destroy();
    return m_result;
}

bool CModalDialog::EndModal(int result)
{
    if (result == -1)
        return false; // the loop could never see the end
    m_result = result;
    if (m_hWnd) {
        PostMessageW(m_hWnd, WM_NULL, 0, 0);
        EndDialog(m_hWnd, result);
    }
    return true;
}

bool CModalDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDOK:
        if (OnAccept())
            EndModal(IDOK);
        return true;
    case IDCANCEL:
        EndModal(IDCANCEL);
        return true;
    default:
        return CDialog::OnCommand(id, code, control);
    }
}

bool CModalDialog::PreTranslate(MSG* msg)
{
    return IsKeyboardOrMouse(msg->message) && IsDialogMessageW(m_hWnd, msg);
}

LRESULT CModalDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        if (HICON icon = GetApp()->m_hIcon)
            SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        if (m_templateId)
            SetWindowLongW(hwnd, GWL_EXSTYLE, GetWindowLongW(hwnd, GWL_EXSTYLE) | WS_EX_CONTEXTHELP);
        return CDialog::HandleMessage(hwnd, message, wParam, lParam);
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CONTEXTHELP && m_templateId) {
            GetApp()->ShowHelp(m_templateId);
            return 1;
        }
        return DefaultProc();
    default:
        return CDialog::HandleMessage(hwnd, message, wParam, lParam);
    }
}

int RunModalLoop(HWND dialog, int& result)
{
    // The result is not reset here: a dialog may end itself while it is created, and that
    // result must end the loop at once. The dialog object starts at -1 (and RunModal resets it).
    CWinApp* app = GetApp();
    if (!dialog || !app)
        return result = -1;
    HWND owner = nullptr;
    const DisabledOwners disabled = DisableOwners(dialog, owner);
    try {
        PumpModal(*app, dialog, result);
    } catch (const std::exception& e) {
        result = -1;
        if (app->IsLogged(LOG_THRESHOLD_ERROR))
            LogMessage(app, nullptr, LOG_ERROR, L"Modal loop ended by an exception: %hs", e.what());
    } catch (...) {
        result = -1;
        if (app->IsLogged(LOG_THRESHOLD_ERROR))
            LogMessage(app, nullptr, LOG_ERROR, L"Modal loop ended by an unknown exception");
    }
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EnableOwners(disabled, owner, dialog);
    return result;
}

// ---- CBasePage ----

LRESULT CBasePage::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        style = (style & ~(WS_CAPTION | WS_DISABLED)) | WS_CLIPSIBLINGS | DS_CONTROL;
        SetWindowLongW(hwnd, GWL_STYLE, style);
        SetWindowLongW(hwnd, GWL_EXSTYLE, GetWindowLongW(hwnd, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
        return CDialog::HandleMessage(hwnd, message, wParam, lParam);
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == ID_PAGE_DEFAULT && hwnd != UpdatingWindow) {
            RestoreDefaults();
            return 1;
        }
        return CDialog::HandleMessage(hwnd, message, wParam, lParam);
    case WM_PAGE_QUERY: {
        int selected = 0;
        int total = 0;
        if (!CountRows(selected, total))
            return DefaultProc();
        if (auto* out = reinterpret_cast<int*>(wParam))
            *out = selected;
        if (auto* out = reinterpret_cast<int*>(lParam))
            *out = total;
        return TRUE;
    }
    case WM_CTLCOLORDLG:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    default:
        return CDialog::HandleMessage(hwnd, message, wParam, lParam);
    }
}

void CBasePage::ExchangeData(bool)
{
}

void CBasePage::OnIdleUpdate()
{
}

void CBasePage::OnShow()
{
}

bool CBasePage::OnLeave()
{
    return true;
}

bool CBasePage::QueryCommandState(int, CommandState&)
{
    return false;
}

void CBasePage::OnDocumentChanged(CDocument*, const uint32_t*)
{
}

void CBasePage::RestoreDefaults()
{
}

bool CBasePage::CountRows(int& selected, int& total)
{
    return m_rowList && CountListRows(m_rowList->m_hWnd, selected, total);
}

void CBasePage::OnListMenu(POINT)
{
}

bool CBasePage::OnContextMenu(HWND window, POINT at)
{
    if (!window || !m_rowList || window != m_rowList->m_hWnd)
        return false;
    OnListMenu(at);
    return true;
}

bool CDialog::InMenuMode()
{
    GUITHREADINFO gui{sizeof gui};
    return GetGUIThreadInfo(GetCurrentThreadId(), &gui) &&
           (gui.flags & (GUI_INMENUMODE | GUI_SYSTEMMENUMODE | GUI_POPUPMENUMODE));
}

bool CBasePage::CountListRows(HWND list, int& selected, int& total)
{
    selected = list ? static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0)) : 0;
    total = list ? static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    return true;
}

void CBasePage::Observe(CDocument& doc)
{
    m_observers.push_back(doc.Observe(const_cast<void*>(ObserverKey()), &CBasePage::OnObservedChange));
}

void CBasePage::OnObservedChange(void* key, CDocument* doc, const uint32_t* bits)
{
    static_cast<CBasePage*>(key)->OnDocumentChanged(doc, bits);
}
