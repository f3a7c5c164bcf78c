#include <winsock2.h>
#include "framework/WinApp.h"
#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/TextUtil.h"

namespace {
CWinApp* TheApp = nullptr;
}

CWinApp* GetApp()
{
    return TheApp;
}

CWinApp::CWinApp()
    : m_highlightColor(GetSysColor(COLOR_HIGHLIGHT)), m_highlightTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT))
{
    // The first application object is the application; a second one (tests) stays unregistered.
    if (!TheApp)
        TheApp = this;
}

CWinApp::~CWinApp()
{
    if (m_hIcon)
        DestroyIcon(m_hIcon);
    if (m_hRichEdit)
        FreeLibrary(m_hRichEdit);
    if (m_winsockStarted)
        WSACleanup();
    if (TheApp == this)
        TheApp = nullptr;
}

LRESULT HandlerExceptionResult(const MSG& msg) noexcept
{
    switch (msg.message) {
    case WM_CREATE:
        return -1; // window creation fails
    case WM_PAINT:
        ValidateRect(msg.hwnd, nullptr); // or the paint message would repeat for ever
        return 0;
    default:
        return 0;
    }
}

LRESULT CWinApp::OnHandlerException(const std::exception& e, const MSG& msg)
{
    if (IsLogged(LOG_THRESHOLD_ERROR))
        LogMessage(this, nullptr, LOG_ERROR, L"Message 0x%04X failed: %hs", msg.message, e.what());
    return HandlerExceptionResult(msg);
}

void CWinApp::OnInitMenuPopup(HMENU, int, bool)
{
}

bool CWinApp::ProcessNextMessage()
{
    if (!GetMessageW(&m_pumpedMessage, nullptr, 0, 0))
        return false;
    if (!PreTranslate(&m_pumpedMessage)) {
        TranslateMessage(&m_pumpedMessage);
        DispatchMessageW(&m_pumpedMessage);
    }
    return true;
}

bool CWinApp::ResetsIdle(const MSG& msg)
{
    return msg.message != WM_PAINT;
}

bool CWinApp::IsMessageWaiting()
{
    return PeekMessageW(&m_pumpedMessage, nullptr, 0, 0, PM_NOREMOVE) != FALSE;
}

void CWinApp::StartWinsock(WORD version)
{
    if (m_winsockStarted)
        return;
    WSADATA data;
    // WSAStartup reports its error as the result; the thread's last error is not set.
    const int rc = WSAStartup(version, &data);
    if (rc != 0)
        throw COSException(static_cast<DWORD>(rc));
    m_winsockStarted = true;
}

void CWinApp::RemoveWindowHandle(CWnd* object)
{
    if (!object || !object->m_hWnd)
        return;
    auto it = WindowMap.find(object->m_hWnd);
    if (it != WindowMap.end() && it->second == object)
        WindowMap.erase(it);
}

HWND CWinApp::GetMainWindowHandle() const
{
    return m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
}

HMODULE FindResourceModule(LPCWSTR name, LPCWSTR type)
{
    HMODULE resources = GetResourceModule();
    if (resources && FindResourceW(resources, name, type))
        return resources;
    return GetProgramModule();
}

HICON LoadResourceIcon(int id, int size)
{
    LPCWSTR name = MAKEINTRESOURCEW(id);
    return static_cast<HICON>(
        LoadImageW(FindResourceModule(name, RT_GROUP_ICON), name, IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}
