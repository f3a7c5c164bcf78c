#pragma once
// Window objects: every window of the program is driven by a CWnd bound to its handle, and every
// message reaches the object's virtual handlers through one dispatch routine.
#include <windows.h>
#include <string>
#include "core/Object.h"

class CWnd : public CObject
{
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    ~CWnd() override;

    virtual bool Create(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                        int width, int height, HWND parent, HMENU menuOrId);
    virtual void Destroy();
    // True when the message was consumed before translation and dispatch.
    virtual bool PreTranslate(MSG* msg);
    virtual LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    virtual bool OnCommand(int id, int code, HWND control);
    virtual bool OnNotify(int id, NMHDR* nmh, LRESULT* result);
    // The default processing of the message being dispatched (the application's CurrentMessage).
    virtual LRESULT DefaultProc();
    // A message that the parent hands down to this control's object.
    virtual bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // The common entry of all windows, dialogs and attached controls.
    LRESULT Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    int GetText(std::wstring& text) const;
    void CenterOnOwner();
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return SendMessageW(m_hWnd, message, wParam, lParam);
    }

    HWND m_hWnd = nullptr;
};

// A standard control driven by the framework through a replaced window procedure.
class CSubclassedWnd : public CWnd
{
public:
    CSubclassedWnd() = default;
    ~CSubclassedWnd() override;

    bool Create(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                int height, HWND parent, HMENU menuOrId) override;
    void Destroy() override;
    LRESULT DefaultProc() override;

    // Binds the object to a control that already exists (a control of a dialog template).
    void Attach(HWND control);

    WNDPROC m_savedProc = nullptr;

private:
    void RestoreProc();
};

// The window that is filling its own controls: its WM_COMMAND and WM_NOTIFY reach no handler.
extern HWND UpdatingWindow;

class UpdatingScope
{
public:
    explicit UpdatingScope(HWND hwnd);
    ~UpdatingScope();
    UpdatingScope(const UpdatingScope&) = delete;
    UpdatingScope& operator=(const UpdatingScope&) = delete;

private:
    static HWND NotChanged() { return reinterpret_cast<HWND>(-1); }
    HWND m_previous; // the window to put back, or NotChanged()
};

LRESULT CALLBACK FrameworkWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

ATOM RegisterWndClass(LPCWSTR className, UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon,
                      HICON smallIcon);

// The object bound to a window, or null.
CWnd* FindWindowObject(HWND hwnd);
void RemoveWindowHandle(CWnd* object);

int GetWindowString(HWND hwnd, std::wstring& text);
HWND FindRootWindow(HWND hwnd);
HWND FindChildObject(HWND parent, int controlId);
void BroadcastToChildren(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool objectMode);
