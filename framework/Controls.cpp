#include "framework/Controls.h"

#include <commctrl.h>
#include <richedit.h>
#include "core/SystemServices.h"
#include "core/TextUtil.h"

// ---- CToolTipCtrl ----

bool CToolTipCtrl::AddWindowTool(HWND child)
{
    TTTOOLINFOW ti{sizeof(ti)};
    ti.uFlags = TTF_IDISHWND;
    ti.hwnd = GetParent(child);
    ti.uId = reinterpret_cast<UINT_PTR>(child);
    ti.hinst = GetResourceModule();
    ti.lpszText = LPSTR_TEXTCALLBACKW;
    return SendMessageW(m_hWnd, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)) != FALSE;
}

void CToolTipCtrl::RemoveTool(HWND window, UINT_PTR id)
{
    TTTOOLINFOW ti{sizeof(ti)};
    if (id == 0) {
        ti.uFlags = TTF_IDISHWND;
        ti.hwnd = GetParent(window);
        ti.uId = reinterpret_cast<UINT_PTR>(window);
    } else {
        ti.hwnd = window;
        ti.uId = id;
    }
    SendMessageW(m_hWnd, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

int CToolTipCtrl::GetToolCount() const
{
    return static_cast<int>(SendMessageW(m_hWnd, TTM_GETTOOLCOUNT, 0, 0));
}

// ---- CTrayIcon ----

CTrayIcon::CTrayIcon() : m_data{}
{
    m_data.cbSize = sizeof(m_data);
}

CTrayIcon::~CTrayIcon()
{
    Remove();
}

bool CTrayIcon::Notify(DWORD message)
{
    return SystemServices().NotifyIcon(message, m_data);
}

bool CTrayIcon::Add()
{
    return Notify(NIM_ADD);
}

bool CTrayIcon::Modify()
{
    return Notify(NIM_MODIFY);
}

bool CTrayIcon::Remove()
{
    if (!m_data.hWnd || !m_data.hIcon)
        return false;
    const bool removed = Notify(NIM_DELETE);
    m_data.hIcon = nullptr;
    m_data.hWnd = nullptr;
    return removed;
}

// ---- CRedrawLock ----

CRedrawLock::CRedrawLock(HWND control) : m_control(control)
{
    SendMessageW(m_control, WM_SETREDRAW, FALSE, 0);
    m_eventMask = SendMessageW(m_control, EM_SETEVENTMASK, 0, 0);
}

CRedrawLock::~CRedrawLock()
{
    if (m_eventMask) {
        SendMessageW(m_control, EM_SETEVENTMASK, 0, m_eventMask);
        SendMessageW(m_control, EM_REQUESTRESIZE, 0, 0);
    }
    SendMessageW(m_control, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(m_control, nullptr, TRUE);
}

TBBUTTON ToolButton(int command, int image)
{
    TBBUTTON button{};
    button.iBitmap = image;
    button.idCommand = command;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = BTNS_BUTTON;
    button.iString = -1;
    return button;
}
