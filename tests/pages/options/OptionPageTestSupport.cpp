// The option pages under test.
#include "tests/pages/options/OptionPageTestSupport.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <string>

#include "core/TextUtil.h"
#include "tests/support/WindowPicture.h"

namespace {

std::function<void(HWND)> PendingScript;
CModalDialog* ScriptedDialog = nullptr;

void CALLBACK RunScript(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (!ScriptedDialog || !ScriptedDialog->m_hWnd || !IsWindowVisible(ScriptedDialog->m_hWnd))
        return;
    KillTimer(nullptr, timer);
    auto script = std::move(PendingScript);
    PendingScript = nullptr;
    script(ScriptedDialog->m_hWnd);
}

} // namespace

void PumpWaiting()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // left for the test to find
            break;
        }
        if (!PageTestApp().PreTranslate(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        PumpWaiting();
        if (done())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

HWND CreateOptionFrame()
{
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    static const ATOM frameClass = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = L"NorvaneOptionFrame";
        return RegisterClassW(&wc);
    }();
    (void)frameClass;
    RECT r{0, 0, 560, 460};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    HWND frame = CreateWindowExW(0, L"NorvaneOptionFrame", L"Option page", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20,
                                 20, r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr),
                                 nullptr);
    const DWORD error = GetLastError();
    EXPECT_TRUE(frame) << "the option frame was not made (error " << error << ")";
    return frame;
}

std::wstring ToolsFolder()
{
    std::wstring tools = MultiByteToWString(std::string(NORVANE_TOOLS_DIR), CP_ACP);
    for (wchar_t& c : tools)
        if (c == L'/')
            c = L'\\';
    return (tools.rfind(L"\\", 0) == 0 ? L"Z:" : L"") + tools;
}

std::wstring WindowText(HWND window)
{
    std::wstring text;
    GetWindowString(window, text);
    return text;
}

void TypeAndLeave(HWND edit, const std::wstring& text, HWND next)
{
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, WM_CLEAR, 0, 0);
    for (wchar_t c : text)
        SendMessageW(edit, WM_CHAR, c, 1);
    SetFocus(next);
    PumpWaiting();
}

int RunScripted(CModalDialog& dialog, HWND owner, std::function<void(HWND)> script)
{
    PendingScript = std::move(script);
    ScriptedDialog = &dialog;
    SetTimer(nullptr, 0, 20, RunScript);
    const int result = dialog.RunModal(owner);
    ScriptedDialog = nullptr;
    PendingScript = nullptr;
    return result;
}

int PictureInk(HWND window, RECT area, const wchar_t* fileName)
{
    const CWindowPicture picture(window, fileName);
    EXPECT_TRUE(picture.Ok()) << picture.Problem();
    return picture.Ink(area);
}

int PictureInk(HWND window, HWND control, const wchar_t* fileName)
{
    return PictureInk(window, ClientRectInWindowPicture(window, control), fileName);
}
