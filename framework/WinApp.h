#pragma once
// Base of the program's single application object: the window map and current message of the
// dispatch, the main window, the message pump and the hooks through which the framework asks the
// program for help, pre-translation and handler-exception results. It is also the application
// context of the core services (the debug log's lock, path and sources).
#include <windows.h>
#include <exception>
#include <unordered_map>
#include "core/AppContext.h"
#include "framework/Wnd.h"

class CWinApp : public CObject, public CAppContext
{
public:
    CWinApp();
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The help topic of a dialog or command (0: the help's default topic); false when no help
    // file is there.
    virtual bool ShowHelp(int helpId) = 0;
    // The message result to use when a handler of msg threw; the base logs the failure as an
    // error entry and answers -1 for WM_CREATE, 0 with the window validated for WM_PAINT, else 0.
    virtual LRESULT OnHandlerException(const std::exception& e, const MSG& msg);
    virtual void OnInitMenuPopup(HMENU menu, int index, bool isSystemMenu);
    // Pumps one message; false on WM_QUIT (the pumped message then holds it).
    virtual bool ProcessNextMessage();
    virtual bool PreTranslate(MSG* msg) = 0;
    // True when the pumped message re-arms the idle passes.
    virtual bool ResetsIdle(const MSG& msg);

    // True when a message waits in the queue (peeked into the pumped message, not removed).
    bool IsMessageWaiting();

    // Starts Winsock once; throws COSException with WSAStartup's code on failure. The version is
    // a parameter only so that the failure path can be exercised.
    void StartWinsock(WORD version = MAKEWORD(2, 2));
    bool IsWinsockStarted() const { return m_winsockStarted; }

    void RemoveWindowHandle(CWnd* object);
    HWND GetMainWindowHandle() const;
    HWND GetMainFrameWindow() const override { return GetMainWindowHandle(); }

    MSG m_pumpedMessage{};
    MSG CurrentMessage{};
    std::unordered_map<HWND, CWnd*> WindowMap;
    CWnd* m_pMainWnd = nullptr;
    HICON m_hIcon = nullptr;
    HMODULE m_hRichEdit = nullptr;
    COLORREF m_highlightColor;
    COLORREF m_highlightTextColor;

private:
    bool m_winsockStarted = false;
};

// The answer to a message whose handler threw: -1 for WM_CREATE (creation fails), 0 with the
// window validated for WM_PAINT (no repaint loop), 0 otherwise.
LRESULT HandlerExceptionResult(const MSG& msg) noexcept;

// The application object; null before it is constructed and after it is destroyed.
CWinApp* GetApp();

// The module that holds a resource: the resource module when it has it, else the program module.
HMODULE FindResourceModule(LPCWSTR name, LPCWSTR type);
// An icon of the resources at the given size, from the module that holds it; null when none.
HICON LoadResourceIcon(int id, int size);
