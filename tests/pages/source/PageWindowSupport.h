#pragma once
// Sub-pages under test live as child dialogs of a plain top-level window of this thread (the page
// host, constructed first, brings the application object the framework's windows need).
#include <gtest/gtest.h>
#include <windows.h>

#include "framework/Dialog.h"

namespace page_test {

inline void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message != WM_QUIT) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
}

// A shown, topmost frame for one sub-page.
class CPageFrame
{
public:
    CPageFrame()
    {
        m_hwnd = CreateWindowExW(WS_EX_TOPMOST, L"#32770", L"Page test", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0,
                                 640, 480, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        const DWORD error = GetLastError();
        EXPECT_TRUE(m_hwnd) << "the page frame was not made (error " << error << ")";
    }
    ~CPageFrame() { DestroyWindow(m_hwnd); }
    CPageFrame(const CPageFrame&) = delete;
    CPageFrame& operator=(const CPageFrame&) = delete;

    // Creates the page in the frame's client area and shows it.
    bool Place(CBasePage& page)
    {
        if (!m_hwnd || !page.CreateDialogWindow(m_hwnd))
            return false;
        RECT client;
        GetClientRect(m_hwnd, &client);
        SetWindowPos(page.m_hWnd, HWND_TOP, 0, 0, client.right, client.bottom, SWP_SHOWWINDOW);
        Pump();
        return true;
    }
    HWND Handle() const { return m_hwnd; }

private:
    HWND m_hwnd = nullptr;
};

}  // namespace page_test
