#pragma once
// The option pages under test: a top-level window standing in for the main window with one
// page inside it on a fake host, typing into the page's edits as the user does, modal dialogs
// driven by a script from a thread timer, and window pictures.
#include <windows.h>
#include <functional>
#include <memory>
#include <string>

#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/WindowPicture.h"

// Dispatches what waits in the queue; a quit stays in it.
void PumpWaiting();
// Pumps until the condition holds; false after the time-out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 8000);
// The ink in the control's area of the window's picture (saved as fileName); a picture that is
// not ok fails the test.
int PictureInk(HWND window, HWND control, const wchar_t* fileName);
// The same for a rectangle of the window's picture.
int PictureInk(HWND window, RECT area, const wchar_t* fileName);
std::wstring WindowText(HWND window);
// Types the text into the edit (focused first, its old text replaced) and moves the focus on.
void TypeAndLeave(HWND edit, const std::wstring& text, HWND next);
// The folder of the build's tools (argecho, the typing-library stand-in), as a Windows path.
std::wstring ToolsFolder();

// Runs the dialog modal; the script runs on the UI thread once the dialog is shown and must end
// it. The dialog's result.
int RunScripted(CModalDialog& dialog, HWND owner, std::function<void(HWND)> script);

// One page inside a frame window of 560 x 460 pixels.
template <class Page>
class CPageUnderTest
{
public:
    CPageUnderTest()
    {
        frame = CreateFrameWindow();
        host.mainWindow = frame;
        page = std::make_unique<Page>(host);
        created = page->CreateDialogWindow(frame);
        if (created) {
            RECT client;
            GetClientRect(frame, &client);
            SetWindowPos(page->m_hWnd, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER);
            ShowWindow(page->m_hWnd, SW_SHOW);
        }
        ShowWindow(frame, SW_SHOW);
        SetForegroundWindow(frame);
        UpdateWindow(frame);
        PumpWaiting();
    }
    ~CPageUnderTest()
    {
        if (page)
            page->Destroy();
        page.reset();
        DestroyWindow(frame);
        PumpWaiting();
    }
    HWND Item(int id) const { return GetDlgItem(page->m_hWnd, id); }

    CFakePageHost host;
    HWND frame = nullptr;
    std::unique_ptr<Page> page;
    bool created = false;

private:
    static HWND CreateFrameWindow();
};

HWND CreateOptionFrame();
template <class Page>
HWND CPageUnderTest<Page>::CreateFrameWindow()
{
    return CreateOptionFrame();
}
