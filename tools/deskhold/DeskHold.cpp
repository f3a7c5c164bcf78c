// Holds Wine's default desktop open for a whole test run. The wineserver closes a desktop one
// second after its last user process ends and its explorer.exe then quits; a program that starts
// in that moment meets a desktop being torn down, and a test or benchmark dies at its start or
// cannot create its windows. A process with a window on the desktop is a user, so while this
// one lives the desktop never closes. It prints "ready" once its window exists and lives until
// the wineserver ends it.
#include <windows.h>

#include <cstdio>

int wmain()
{
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NorvaneDeskHold";
    // Never shown: no test sees it, and it takes neither focus nor a place on the screen.
    if (!RegisterClassExW(&wc) || !CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                                   wc.hInstance, nullptr)) {
        std::printf("deskhold: no window (error %lu)\n", GetLastError());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
