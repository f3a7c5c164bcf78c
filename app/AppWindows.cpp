// The hidden owner window, the window classes and the main window.
#include <windows.h>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "core/TextUtil.h"
#include "resources/resource.h"

namespace {

constexpr DWORD kMainWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;  // 0x02CF0000
constexpr int kMainWindowWidth = 725;
constexpr int kMainWindowHeight = 642;

} // namespace

bool CNorvaneApp::CreateMainWindow()
{
    // 1. The owner window.
    if (!ownerWnd.m_hWnd) {
        if (!ownerClassAtom)
            ownerClassAtom = RegisterWndClass(kOwnerWindowClass, 0, nullptr, nullptr, nullptr, nullptr);
        if (!ownerClassAtom)
            return false;
        if (!ownerWnd.Create(WS_EX_TOOLWINDOW, kOwnerWindowClass, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr))
            return false;
    }
    // 2. The frame object.
    if (!mainFrame)
        mainFrame = std::make_unique<CMainFrame>(*this);
    // 3. The main window class with the program's icons.
    if (!mainClassAtom) {
        if (!m_classSmallIcon)
            m_classSmallIcon = LoadResourceIcon(IDI_APP_ICON, GetSystemMetrics(SM_CXSMICON));
        if (!m_classIcon)
            m_classIcon = LoadResourceIcon(IDI_APP_ICON, GetSystemMetrics(SM_CXICON));
        mainClassAtom = RegisterWndClass(kMainWindowClass, CS_VREDRAW | CS_HREDRAW, LoadCursorW(nullptr, IDC_ARROW),
                                         reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), m_classIcon, m_classSmallIcon);
        if (!mainClassAtom)
            return false;
    }
    if (!m_hIcon && m_classIcon)
        m_hIcon = CopyIcon(m_classIcon);
    // 4. The frame registers "TaskbarCreated" itself when it is created.
    // 5. The main window, hidden.
    std::wstring title;
    LoadResString(IDS_APP_NAME, title);
    LPCWSTR menuName = MAKEINTRESOURCEW(IDM_MAIN_MENU);
    HMENU menu = LoadMenuW(FindResourceModule(menuName, RT_MENU), menuName);
    m_pMainWnd = mainFrame.get();
    const DWORD exStyle = settings.view.taskbarButton ? WS_EX_APPWINDOW : 0;
    if (!mainFrame->Create(exStyle, kMainWindowClass, title.c_str(), kMainWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                           kMainWindowWidth, kMainWindowHeight, ownerWnd.m_hWnd, menu)) {
        if (menu)
            DestroyMenu(menu);
        m_pMainWnd = nullptr;
        return false;
    }
    return true;
}

void CNorvaneApp::DestroyMainFrame()
{
    if (mainFrame) {
        mainFrame->Destroy();
        mainFrame.reset();
    }
    m_pMainWnd = nullptr;
    if (mainClassAtom) {
        UnregisterClassW(kMainWindowClass, GetProgramModule());
        mainClassAtom = 0;
    }
}

void CNorvaneApp::DestroyOwnerWindow()
{
    ownerWnd.Destroy();
    if (ownerClassAtom) {
        UnregisterClassW(kOwnerWindowClass, GetProgramModule());
        ownerClassAtom = 0;
    }
    if (m_classIcon) {
        DestroyIcon(m_classIcon);
        m_classIcon = nullptr;
    }
    if (m_classSmallIcon) {
        DestroyIcon(m_classSmallIcon);
        m_classSmallIcon = nullptr;
    }
}
