#pragma once
// What tests of single pages and page dialogs need around them: an application object for the
// framework's dialog procedure, a parent window standing in for the main window, pumping until
// something observable holds, and a picture of a window for sampling.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/WinApp.h"

class CPageTestApp final : public CWinApp
{
public:
    void ShowHelp(int) override {}
    bool PreTranslate(MSG* msg) override
    {
        for (HWND w = msg->hwnd; w; w = GetParent(w)) {
            if (CWnd* object = FindWindowObject(w); object && object->PreTranslate(msg))
                return true;
            if (!(GetWindowLongW(w, GWL_STYLE) & WS_CHILD))
                break;
        }
        return false;
    }
};

inline CPageTestApp& PageTestApp()
{
    static CPageTestApp app;
    return app;
}

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
    CPageFrame(int x = 20, int y = 20, int width = 720, int height = 620)
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
        if (!page.CreateDialogWindow(m_hWnd))
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

// Writes a 24-bit BMP of the window's picture on the screen; true on success.
inline bool SavePageBitmap(HWND hwnd, const std::wstring& path)
{
    RECT rc;
    if (!GetWindowRect(hwnd, &rc))
        return false;
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    BITMAPINFOHEADER bih{sizeof(bih)};
    bih.biWidth = width;
    bih.biHeight = height;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP dib = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, dib);
    const bool drawn = BitBlt(mem, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY) != FALSE;
    GdiFlush();
    bool written = false;
    if (drawn && bits) {
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        bih.biSizeImage = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof(fh) + sizeof(bih);
        fh.bfSize = fh.bfOffBits + bih.biSizeImage;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            written = WriteFile(file, &fh, sizeof fh, &done, nullptr) && WriteFile(file, &bih, sizeof bih, &done, nullptr) &&
                      WriteFile(file, bits, bih.biSizeImage, &done, nullptr);
            CloseHandle(file);
        }
    }
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(nullptr, screen);
    return written;
}

// The folder of the running test exe.
inline std::wstring TestExeDirectory()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

// A window's client rectangle as it lies in the window's picture.
inline RECT ClientRectInPicture(HWND window, HWND part)
{
    RECT outer, r;
    GetWindowRect(window, &outer);
    GetClientRect(part, &r);
    MapWindowPoints(part, nullptr, reinterpret_cast<POINT*>(&r), 2);
    OffsetRect(&r, -outer.left, -outer.top);
    return r;
}
