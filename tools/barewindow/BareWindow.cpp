// The least a program can do to show a window like the main window: register a class, create a
// window of the main window's style and size and show it. The start-up bench times it beside
// Norvane through the same harness, so the bench shows what the program adds to Wine's cost of
// starting a process and showing a window. Its class is not the main window's, so that no
// instance of the program takes it for a running Norvane. Closing the window ends it.
#include <windows.h>

namespace {

const wchar_t kBareWindowClass[] = L"Norvane2Bare";

LRESULT CALLBACK BareWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showMode)
{
    WNDCLASSEXW wc{sizeof(wc)};
    wc.style = CS_VREDRAW | CS_HREDRAW;
    wc.lpfnWndProc = BareWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kBareWindowClass;
    if (!RegisterClassExW(&wc))
        return 1;
    HWND window = CreateWindowExW(0, kBareWindowClass, L"Norvane", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 725, 642, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, showMode);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
