#pragma once
// What tests of single pages and page dialogs need around them: a parent window standing in for
// the main window, pumping until something observable holds, and controls driven as the user
// drives them.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/WindowPicture.h"

// Pumps the thread's messages until done holds; false after the time-out.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!PageTestApp().PreTranslate(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        if (done())
            return true;
        if (GetTickCount64() >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

inline void PumpPending()
{
    PumpUntil([] { return true; }, 0);
}

// A top-level window that hosts a page the way the main window does, with a tool-tip control
// for the page's tools.
class CPageFrame
{
public:
    CPageFrame(int x = 0, int y = 0, int width = 720, int height = 620)
    {
        PageTestApp();
        static const ATOM frameClass = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            wc.lpszClassName = L"NorvanePageTestFrame";
            return RegisterClassW(&wc);
        }();
        (void)frameClass;
        m_hWnd = CreateWindowExW(0, L"NorvanePageTestFrame", L"Page test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, width, height,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        const DWORD error = GetLastError();
        EXPECT_TRUE(m_hWnd) << "the page frame was not made (error " << error << ")";
        tips.Create(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, m_hWnd, nullptr);
    }
    ~CPageFrame()
    {
        tips.Destroy();
        if (IsWindow(m_hWnd))
            DestroyWindow(m_hWnd);
    }
    CPageFrame(const CPageFrame&) = delete;
    CPageFrame& operator=(const CPageFrame&) = delete;

    // Creates the page as the frame's child, fills the client with it and shows both.
    bool Show(CBasePage& page)
    {
        if (!m_hWnd || !page.CreateDialogWindow(m_hWnd))
            return false;
        RECT rc;
        GetClientRect(m_hWnd, &rc);
        SetWindowPos(page.m_hWnd, nullptr, 0, 0, rc.right, rc.bottom, SWP_NOZORDER);
        ShowWindow(page.m_hWnd, SW_SHOW);
        SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        SetForegroundWindow(m_hWnd);
        UpdateWindow(m_hWnd);
        PumpPending();
        return true;
    }

    HWND m_hWnd = nullptr;
    CToolTipCtrl tips;
};

// The WM_COMMAND a control sends its parent, as the control itself would send it.
inline void SendControlCommand(HWND dialog, int id, int code)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Chooses a drop-down entry the way the user does: the selection, then CBN_SELCHANGE.
inline void ChooseComboEntry(HWND dialog, int id, int index)
{
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendControlCommand(dialog, id, CBN_SELCHANGE);
}

// A click on a button through its own message (BM_CLICK), so that check boxes change state.
inline void ClickButton(HWND dialog, int id)
{
    SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0);
}

