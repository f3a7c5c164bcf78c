#include "framework/Wnd.h"
#include <commctrl.h>
#include <stdexcept>
#include "core/TextUtil.h"
#include "framework/WinApp.h"

HWND UpdatingWindow = nullptr;

namespace {

// The control whose creation the CBT hook is waiting for, and the hook itself (UI thread only).
CSubclassedWnd* PendingSubclass = nullptr;
HHOOK CreationHook = nullptr;

// Stands in for an exception that does not derive from std::exception, so the application's
// handler gets one shape of argument.
class CUnknownHandlerError : public std::exception
{
public:
    const char* what() const noexcept override { return "Unknown exception in a message handler"; }
};

LRESULT AskApplication(CWinApp* app, const std::exception& e)
{
    try {
        return app->OnHandlerException(e, app->CurrentMessage);
    } catch (...) {
        // The application's handler failed too; the plain answer still keeps the system safe.
        return HandlerExceptionResult(app->CurrentMessage);
    }
}

bool IsSpecialHandle(HWND hwnd)
{
    const auto v = reinterpret_cast<INT_PTR>(hwnd);
    return v == 0 || v == 1 || v == -1 || v == -2;
}

bool IsChildStyle(HWND hwnd)
{
    return (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) != 0;
}

bool ReflectToObject(HWND control, const MSG& msg, LRESULT* result)
{
    CWnd* object = control ? FindWindowObject(control) : nullptr;
    return object && object->OnReflected(msg.message, msg.wParam, msg.lParam, result);
}

void BroadcastLevel(HWND parent, UINT message, WPARAM wParam, LPARAM lParam, bool objectMode)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!objectMode)
            SendMessageW(child, message, wParam, lParam);
        else if (CWnd* object = FindWindowObject(child))
            object->Dispatch(child, message, wParam, lParam);
        BroadcastLevel(child, message, wParam, lParam, objectMode);
    }
}

// Centre a length on ref, kept inside [lo, hi).
int CenterWithin(int refLo, int refHi, int length, int lo, int hi)
{
    int pos = (refLo + refHi) / 2 - length / 2;
    if (pos + length > hi)
        pos = hi - length;
    if (pos < lo)
        pos = lo;
    return pos;
}

RECT MonitorWorkArea(HMONITOR monitor)
{
    MONITORINFO mi{sizeof(mi)};
    if (monitor && GetMonitorInfoW(monitor, &mi))
        return mi.rcWork;
    RECT rc{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0);
    return rc;
}

} // namespace

LRESULT CALLBACK SubclassHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && PendingSubclass) {
        CSubclassedWnd* object = PendingSubclass;
        PendingSubclass = nullptr; // only the first window created after the call is bound
        HWND hwnd = reinterpret_cast<HWND>(wParam);
        object->m_hWnd = hwnd;
        auto old = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FrameworkWndProc)));
        if (old != &FrameworkWndProc)
            object->m_savedProc = old;
    }
    return CallNextHookEx(CreationHook, code, wParam, lParam);
}

// ---- CWnd ----

CWnd::~CWnd()
{
    if (!IsSpecialHandle(m_hWnd)) {
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
}

bool CWnd::Create(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                  int height, HWND parent, HMENU menuOrId)
{
    m_hWnd = CreateWindowExW(exStyle, className, windowName, style, x, y, width, height, parent, menuOrId,
                             GetProgramModule(), this);
    return m_hWnd != nullptr;
}

void CWnd::Destroy()
{
    if (m_hWnd) {
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
}

bool CWnd::PreTranslate(MSG*)
{
    return false;
}

bool CWnd::OnReflected(UINT, WPARAM, LPARAM, LRESULT*)
{
    return false;
}

LRESULT CWnd::DefaultProc()
{
    const MSG& m = GetApp()->CurrentMessage;
    return DefWindowProcW(m.hwnd, m.message, m.wParam, m.lParam);
}

bool CWnd::OnCommand(int, int, HWND control)
{
    return ReflectToObject(control, GetApp()->CurrentMessage, nullptr);
}

bool CWnd::OnNotify(int, NMHDR* nmh, LRESULT* result)
{
    return nmh && ReflectToObject(nmh->hwndFrom, GetApp()->CurrentMessage, result);
}

LRESULT CWnd::Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWinApp* app = GetApp();
    MSG& current = app->CurrentMessage;
    const MSG saved = current;
    current.hwnd = hwnd;
    current.message = message;
    current.wParam = wParam;
    current.lParam = lParam;

    if (message == WM_NCCREATE || message == WM_INITDIALOG)
        app->WindowMap[hwnd] = this;
    else if (message == WM_NCDESTROY)
        app->RemoveWindowHandle(this);

    LRESULT result;
    // Nothing may unwind through the system's frames above us.
    try {
        result = HandleMessage(hwnd, message, wParam, lParam);
    } catch (const std::exception& e) {
        result = AskApplication(app, e);
    } catch (...) {
        result = AskApplication(app, CUnknownHandlerError());
    }

    // The handle dies with WM_NCDESTROY; a stale one could later name another window.
    if (message == WM_NCDESTROY && m_hWnd == hwnd)
        m_hWnd = nullptr;
    current = saved;
    return result;
}

LRESULT CWnd::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const MSG& current = GetApp()->CurrentMessage;
    switch (message) {
    case WM_SYSCOLORCHANGE:
        if (!IsChildStyle(hwnd))
            BroadcastToChildren(hwnd, WM_SYSCOLORCHANGE, 0, 0, false);
        return DefaultProc();
    case WM_WININICHANGE:
        if (!IsChildStyle(hwnd))
            BroadcastToChildren(hwnd, message, wParam, lParam, true);
        return DefaultProc();
    case WM_DEVMODECHANGE:
        if (!IsChildStyle(hwnd))
            BroadcastToChildren(hwnd, message, wParam, lParam, true);
        return 0;
    case WM_DRAWITEM: {
        auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        // A menu item's "window" is a menu handle and must not be looked up as a window.
        if (dis && dis->CtlType != ODT_MENU && ReflectToObject(dis->hwndItem, current, nullptr))
            return 0;
        return DefaultProc();
    }
    case WM_DELETEITEM: {
        auto* dis = reinterpret_cast<DELETEITEMSTRUCT*>(lParam);
        if (dis && ReflectToObject(dis->hwndItem, current, nullptr))
            return 0;
        return DefaultProc();
    }
    case WM_MEASUREITEM: {
        auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (!mis || mis->CtlType == ODT_MENU)
            return DefaultProc();
        if (ReflectToObject(FindChildObject(hwnd, static_cast<int>(mis->CtlID)), current, nullptr))
            return 0;
        return DefaultProc();
    }
    case WM_COMPAREITEM: {
        auto* cis = reinterpret_cast<COMPAREITEMSTRUCT*>(lParam);
        LRESULT result = 0;
        if (cis && ReflectToObject(cis->hwndItem, current, &result))
            return result;
        return DefaultProc();
    }
    case WM_PARENTNOTIFY: {
        const UINT event = LOWORD(wParam);
        if ((event == WM_CREATE || event == WM_DESTROY) &&
            ReflectToObject(reinterpret_cast<HWND>(lParam), current, nullptr))
            return 0;
        return DefaultProc();
    }
    case WM_COMMAND:
        if (hwnd == UpdatingWindow)
            return 1;
        if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)))
            return 1;
        return DefaultProc();
    case WM_NOTIFY: {
        auto* nmh = reinterpret_cast<NMHDR*>(lParam);
        if (hwnd == UpdatingWindow || !nmh || !nmh->hwndFrom)
            return DefaultProc();
        LRESULT result = 0;
        if (OnNotify(static_cast<int>(wParam), nmh, &result))
            return result;
        return DefaultProc();
    }
    default:
        return DefaultProc();
    }
}

int CWnd::GetText(std::wstring& text) const
{
    return GetWindowString(m_hWnd, text);
}

void CWnd::CenterOnOwner()
{
    RECT rc;
    if (!m_hWnd || !GetWindowRect(m_hWnd, &rc))
        return;
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    RECT ref, bounds;
    if (IsChildStyle(m_hWnd)) {
        GetClientRect(GetParent(m_hWnd), &ref);
        bounds = ref;
    } else {
        HWND owner = GetWindow(m_hWnd, GW_OWNER);
        if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
            GetWindowRect(owner, &ref);
            bounds = MonitorWorkArea(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST));
        } else {
            HWND main = GetApp() ? GetApp()->GetMainWindowHandle() : nullptr;
            HMONITOR monitor = main ? MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST)
                                    : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
            bounds = ref = MonitorWorkArea(monitor);
        }
    }
    const int x = CenterWithin(ref.left, ref.right, width, bounds.left, bounds.right);
    const int y = CenterWithin(ref.top, ref.bottom, height, bounds.top, bounds.bottom);
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- CSubclassedWnd ----

CSubclassedWnd::~CSubclassedWnd()
{
    CSubclassedWnd::Destroy();
}

bool CSubclassedWnd::Create(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menuOrId)
{
    if (PendingSubclass != this) {
        if (!CreationHook) {
            CreationHook = SetWindowsHookExW(WH_CBT, &SubclassHookProc, nullptr, GetCurrentThreadId());
            if (!CreationHook)
                throw std::bad_alloc();
        }
        PendingSubclass = this;
    }
    HWND hwnd = CreateWindowExW(exStyle, className, windowName, style, x, y, width, height, parent, menuOrId,
                                GetProgramModule(), this);
    m_hWnd = hwnd;
    if (!hwnd)
        m_savedProc = nullptr; // the window the hook bound (if any) is gone
    if (CreationHook) {
        UnhookWindowsHookEx(CreationHook);
        CreationHook = nullptr;
    }
    PendingSubclass = nullptr;
    return hwnd != nullptr;
}

void CSubclassedWnd::RestoreProc()
{
    if (!m_savedProc)
        return;
    if (m_hWnd)
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_savedProc));
    m_savedProc = nullptr;
    RemoveWindowHandle(this);
}

void CSubclassedWnd::Destroy()
{
    // The control's last messages go to its own class procedure.
    RestoreProc();
    CWnd::Destroy();
}

LRESULT CSubclassedWnd::DefaultProc()
{
    if (!m_savedProc)
        return CWnd::DefaultProc();
    const MSG& m = GetApp()->CurrentMessage;
    return CallWindowProcW(m_savedProc, m.hwnd, m.message, m.wParam, m.lParam);
}

void CSubclassedWnd::Attach(HWND control)
{
    m_hWnd = control;
    if (m_savedProc || !control)
        return;
    GetApp()->WindowMap[control] = this;
    SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_savedProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FrameworkWndProc)));
}

// ---- UpdatingScope ----

UpdatingScope::UpdatingScope(HWND hwnd)
{
    if (hwnd != UpdatingWindow) {
        m_previous = UpdatingWindow;
        UpdatingWindow = hwnd;
    } else {
        m_previous = NotChanged();
    }
}

UpdatingScope::~UpdatingScope()
{
    if (m_previous != NotChanged())
        UpdatingWindow = m_previous;
}

// ---- free functions ----

LRESULT CALLBACK FrameworkWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* object;
    if (message == WM_NCCREATE) {
        object = static_cast<CWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (object) {
            object->m_hWnd = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
        }
    } else {
        object = reinterpret_cast<CWnd*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    // Without an application object there is no window map to dispatch through (process exit).
    if (object && GetApp())
        return object->Dispatch(hwnd, message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

ATOM RegisterWndClass(LPCWSTR className, UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon,
                      HICON smallIcon)
{
    WNDCLASSEXW wc{sizeof(wc)};
    wc.style = classStyle;
    wc.lpfnWndProc = &FrameworkWndProc;
    wc.hInstance = GetProgramModule();
    wc.hIcon = icon;
    wc.hCursor = cursor;
    wc.hbrBackground = background;
    wc.lpszClassName = className;
    wc.hIconSm = smallIcon;
    return RegisterClassExW(&wc);
}

CWnd* FindWindowObject(HWND hwnd)
{
    CWinApp* app = GetApp();
    if (!app || !hwnd)
        return nullptr;
    auto it = app->WindowMap.find(hwnd);
    return it == app->WindowMap.end() ? nullptr : it->second;
}

void RemoveWindowHandle(CWnd* object)
{
    if (CWinApp* app = GetApp())
        app->RemoveWindowHandle(object);
}

int GetWindowString(HWND hwnd, std::wstring& text)
{
    const int length = hwnd ? GetWindowTextLengthW(hwnd) : 0;
    text.resize(static_cast<size_t>(length));
    const int got = length > 0 ? GetWindowTextW(hwnd, text.data(), length + 1) : 0;
    text.resize(static_cast<size_t>(got));
    return got;
}

HWND FindRootWindow(HWND hwnd)
{
    while (HWND parent = GetParent(hwnd))
        hwnd = parent;
    return hwnd;
}

HWND FindChildObject(HWND parent, int controlId)
{
    if (HWND child = GetDlgItem(parent, controlId)) {
        if (HWND inner = FindChildObject(child, controlId))
            return inner;
        if (FindWindowObject(child))
            return child;
    }
    for (HWND child = GetTopWindow(parent); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (HWND found = FindChildObject(child, controlId))
            return found;
    }
    return nullptr;
}

void BroadcastToChildren(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool objectMode)
{
    BroadcastLevel(hwnd, message, wParam, lParam, objectMode);
}
