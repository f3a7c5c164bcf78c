#pragma once
// Small control wrappers: the tool-tip control, the notification-area icon, a redraw lock for
// rich-edit controls and a toolbar's plain button.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include "framework/Wnd.h"

// A tool-tip window (class "tooltips_class32") created by its owner; destroyed with the object.
class CToolTipCtrl : public CWnd
{
public:
    // A tool for the whole child, text by callback (the child's parent answers TTN_GETDISPINFOW).
    bool AddWindowTool(HWND child);
    // Deletes the tool (window, id); id 0 deletes the window-handle tool of the child `window`.
    void RemoveTool(HWND window, UINT_PTR id);
    int GetToolCount() const;
};

// The program's icon in the notification area; the owner fills m_data before Add.
class CTrayIcon
{
public:
    CTrayIcon();
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // Shell_NotifyIconW with the record (through the system services).
    bool Notify(DWORD message);
    bool Add();
    bool Modify();
    // Deletes the icon when one is shown; window and icon are cleared whether the shell agreed
    // or not.
    bool Remove();

    NOTIFYICONDATAW m_data;
};

// A toolbar button of a command and its picture in the bar's image list: enabled, without text.
TBBUTTON ToolButton(int command, int image);

// Turns a control's redrawing and rich-edit notifications off for its lifetime, so that filling
// it causes neither paints nor change notifications; repaints the whole control at the end.
class CRedrawLock
{
public:
    explicit CRedrawLock(HWND control);
    ~CRedrawLock();
    CRedrawLock(const CRedrawLock&) = delete;
    CRedrawLock& operator=(const CRedrawLock&) = delete;

private:
    HWND m_control;
    LRESULT m_eventMask; // 0 = none saved
};
