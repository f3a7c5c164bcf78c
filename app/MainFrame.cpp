#include "app/MainFrame.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <windowsx.h>
#include <cwchar>

#include "app/NorvaneApp.h"
#include "app/StartUp.h"
#include "core/TextUtil.h"

namespace {

bool IsVisibleEnabled(HWND hwnd)
{
    return hwnd && IsWindow(hwnd) && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd);
}

// Sends the help query from a window up through its parents; true when one answered.
bool SendHelpQueryUp(HWND hwnd)
{
    for (; hwnd; hwnd = GetParent(hwnd)) {
        if (SendMessageW(hwnd, WM_HELP_QUERY, 0, 0) != 0)
            return true;
    }
    return false;
}

} // namespace

CMainFrame::CMainFrame(CNorvaneApp& app) : m_app(app)
{
    NOTIFYICONDATAW& nid = trayIcon.m_data;
    nid.uID = kTrayIconId;
    nid.uFlags = NIF_MESSAGE;
    nid.uCallbackMessage = WM_TRAY_NOTIFY;
    nid.uTimeout = 10000;
}

CMainFrame::~CMainFrame()
{
    if (idleIcon)
        DestroyIcon(idleIcon);
    if (accelTable)
        DestroyAcceleratorTable(accelTable);
}

LRESULT CMainFrame::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_DESTROY:
        OnDestroy();
        return DefaultProc();
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED)
            RecalcLayout(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_ACTIVATE: {
        const LRESULT r = DefaultProc();
        if (LOWORD(wParam) == WA_INACTIVE) {
            prevFocus = GetFocus();
        } else {
            if (IsVisibleEnabled(prevFocus))
                SetFocus(prevFocus);
            dirty |= MFD_TRAY;
        }
        return r;
    }
    case WM_CLOSE:
        // Every way of closing passes here (the window menu, Alt+F4, other programs), so none
        // loses unsaved settings.
        if (CanClose())
            DestroyWindow(hwnd);
        return 0;
    case WM_QUERYENDSESSION:
        return CanClose() ? TRUE : FALSE;
    case WM_SHOWWINDOW: {
        const LRESULT r = DefaultProc();
        dirty |= MFD_TRAY;
        return r;
    }
    case WM_GETMINMAXINFO: {
        auto* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
        mmi->ptMinTrackSize.x = kMinTrackWidth;
        mmi->ptMinTrackSize.y = kMinTrackHeight;
        return 0;
    }
    case WM_DRAWITEM:
        if (wParam == IDC_PAGE_HEADER) {
            DrawHeader(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        return CWnd::HandleMessage(hwnd, message, wParam, lParam);
    case WM_NOTIFY: {
        const auto* nmh = reinterpret_cast<const NMHDR*>(lParam);
        if (nmh && wParam == IDD_PAGE_LIST && nmh->code == PLN_WIDTH_CHANGED) {
            RecalcLayout();
            return 0;
        }
        return CWnd::HandleMessage(hwnd, message, wParam, lParam);
    }
    case WM_COPYDATA:
        return OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_TCARD:
        OnExternalCommand(wParam, lParam);
        return 0;
    case WM_HELP:
        OnHelp();
        return TRUE;
    case WM_SYSCOMMAND:
        return OnSysCommand(wParam);
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_ENTERMENULOOP:
        m_menuOpen = true;
        return DefaultProc();
    case WM_EXITMENULOOP: {
        const LRESULT r = DefaultProc();
        m_menuOpen = false;
        dirty |= MFD_MENU_END;
        return r;
    }
    case WM_INITMENUPOPUP: {
        const LRESULT r = DefaultProc();
        if (!HIWORD(lParam))
            OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
        return r;
    }
    case WM_CONTEXTMENU:
        if (m_menuOpen)
            return 0;
        if (OnContextMenu(reinterpret_cast<HWND>(wParam), {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}))
            return 0;
        return DefaultProc();
    case WM_HOTKEY:
        OnHotkey(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_ENTERSIZEMOVE:
        OnEnterSizeMove();
        return DefaultProc();
    case WM_MOVING:
        if (m_app.GetSettings().view.snapToEdges) {
            OnMoving(reinterpret_cast<RECT*>(lParam));
            return TRUE;
        }
        return DefaultProc();
    case WM_DEVICECHANGE:
        return OnDeviceChange(wParam, lParam);
    default:
        if (LRESULT result = 0; OnNoticeMessage(message, wParam, lParam, result))
            return result;
        return CWnd::HandleMessage(hwnd, message, wParam, lParam);
    }
}

bool CMainFrame::OnNoticeMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    switch (message) {
    case WM_TRAY_NOTIFY:
        result = OnTrayNotify(static_cast<UINT>(wParam), static_cast<UINT>(lParam));
        return true;
    case MM_MCINOTIFY:
        OnMediaNotify();
        return true;
    case WM_HELP_QUERY: {
        const PageTableEntry* page = FindPage(currentPage);
        m_app.ShowHelp(page ? page->helpId : 0);
        result = 1;
        return true;
    }
    case WM_CCID_READERS:
        m_app.RefreshPortList(false);
        return true;
    case WM_READER_NOTIFY:
        m_app.ProcessReaderMessages();
        result = 1;
        return true;
    case WM_BRIDGE_NOTIFY:
        m_app.ProcessBridgeMessages();
        result = 1;
        return true;
    case WM_SEARCH_NOTIFY:
        OnSearchResults();
        return true;
    default:
        if (message == m_taskbarCreated && m_taskbarCreated) {
            if (trayIcon.m_data.hIcon)
                trayIcon.Add();
            dirty |= MFD_TRAY;
            return true;
        }
        return false;
    }
}

LRESULT CMainFrame::OnSysCommand(WPARAM command)
{
    switch (command & 0xFFF0) {
    case SC_MINIMIZE:
        ShowMainWindow(false);
        return 0;
    case SC_CLOSE:
        // The default sends WM_CLOSE, which asks.
        return DefaultProc();
    case SC_RESTORE:
        if (!IsWindowVisible(m_hWnd)) {
            ShowMainWindow(true);
            return 0;
        }
        return DefaultProc();
    default:
        if (command == ID_APP_ABOUT) {
            OnCommand(ID_APP_ABOUT, 0, nullptr);
            return 0;
        }
        return DefaultProc();
    }
}

void CMainFrame::OnExternalCommand(WPARAM tag, LPARAM value)
{
    // Other programs may post only the commands of the static table; a dynamic id would name
    // whatever the last opened menu held.
    if (tag == kExternalCommandTag && value > kExternalCommandBase) {
        const LPARAM id = value - kExternalCommandBase;
        if (id <= 0xFFFF && IsExternalCommandAllowed(static_cast<int>(id)))
            PostMessageW(m_hWnd, WM_COMMAND, static_cast<WPARAM>(id), 0);
    }
}

void CMainFrame::OnEnterSizeMove()
{
    if (!m_app.GetSettings().view.snapToEdges)
        return;
    RECT rc;
    POINT cursor;
    GetWindowRect(m_hWnd, &rc);
    GetCursorPos(&cursor);
    m_dragOffset = {cursor.x - rc.left, cursor.y - rc.top};
}

LRESULT CMainFrame::OnCopyData(const COPYDATASTRUCT* data)
{
    if (!data || data->dwData != kHandOverDataId)
        return FALSE;
    // A UTF-16 line: whole characters, at least the terminator, and the terminator last.
    const DWORD size = data->cbData;
    if (!data->lpData || size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0)
        return FALSE;
    const auto* text = static_cast<const wchar_t*>(data->lpData);
    const size_t count = size / sizeof(wchar_t);
    if (text[count - 1] != L'\0')
        return FALSE;
    return OnHandOver(text) ? TRUE : FALSE;
}

LRESULT CMainFrame::OnDeviceChange(WPARAM event, LPARAM data)
{
    switch (event) {
    case DBT_DEVNODES_CHANGED:
        dirty |= MFD_SERIAL_PORTS;
        break;
    case DBT_DEVICEARRIVAL:
    case DBT_DEVICEREMOVECOMPLETE: {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
        if (header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
            header->dbch_size >= sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)) {
            const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
            // The name is as long as the record says; copy it so a missing terminator can't run on.
            const size_t room = (header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) /
                                sizeof(wchar_t);
            std::wstring name(iface->dbcc_name, wcsnlen(iface->dbcc_name, room));
            if (IsWatchedSerialAdapter(name.c_str()))
                dirty |= MFD_SERIAL_PORTS;
        }
        break;
    }
    default:
        break;
    }
    return 0;
}

void CMainFrame::OnHelp()
{
    if (SendHelpQueryUp(GetFocus()))
        return;
    HWND top = GetAncestor(m_hWnd, GA_ROOT);
    HWND popup = GetLastActivePopup(top ? top : m_hWnd);
    SendHelpQueryUp(popup);
}

void CMainFrame::OnMoving(RECT* rect)
{
    POINT cursor;
    GetCursorPos(&cursor);
    const int width = rect->right - rect->left;
    const int height = rect->bottom - rect->top;
    rect->left = cursor.x - m_dragOffset.x;
    rect->top = cursor.y - m_dragOffset.y;
    MONITORINFO mi{sizeof(mi)};
    if (GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &mi)) {
        const RECT& work = mi.rcWork;
        if (std::abs(rect->left - work.left) < kSnapDistance)
            rect->left = work.left;
        else if (std::abs(rect->left + width - work.right) < kSnapDistance)
            rect->left = work.right - width;
        if (std::abs(rect->top - work.top) < kSnapDistance)
            rect->top = work.top;
        else if (std::abs(rect->top + height - work.bottom) < kSnapDistance)
            rect->top = work.bottom - height;
    }
    rect->right = rect->left + width;
    rect->bottom = rect->top + height;
}

void CMainFrame::OnTimer(UINT_PTR id)
{
    switch (id) {
    case 1:
        m_app.TransferNextKey();
        break;
    case 2:
        OnJobTimer();
        break;
    case 3:
    case 4:
        // Tray single clicks: the double-click time has passed without a second click.
        KillTimer(id);
        {
            const auto& commands = m_app.GetSettings().GetTrayClickCommands();
            const uint16_t command = commands[id == 3 ? 0 : 2];
            if (command)
                PostMessageW(m_hWnd, WM_COMMAND, command, 0);
        }
        break;
    default:
        KillTimer(id);
        break;
    }
}

bool CMainFrame::SetTimer(UINT_PTR id, UINT milliseconds)
{
    KillTimer(id);
    if (!::SetTimer(m_hWnd, id, milliseconds, nullptr))
        return false;
    timerMask |= 1u << id;
    return true;
}

void CMainFrame::KillTimer(UINT_PTR id)
{
    if (timerMask & (1u << id)) {
        ::KillTimer(m_hWnd, id);
        timerMask &= ~(1u << id);
    }
}
