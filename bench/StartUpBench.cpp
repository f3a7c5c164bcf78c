// Start-up of the program to its shown main window, and its shutdown, measured on real
// processes: "cold" is the first start in a fresh portable folder (no settings file yet), "warm"
// the starts after it. Prints milliseconds.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr size_t kWarmRuns = 5;

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

struct FindArgs {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindShownMain(HWND hwnd, LPARAM lParam)
{
    auto* a = reinterpret_cast<FindArgs*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (pid == a->pid && wcscmp(cls, L"Norvane2") == 0 && IsWindowVisible(hwnd)) {
        a->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

struct Run {
    double startMs = -1;
    double closeMs = -1;
};

double Ms(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f)
{
    return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

Run StartOnce(const std::wstring& program)
{
    Run run;
    LARGE_INTEGER f, t0, t1, t2;
    QueryPerformanceFrequency(&f);
    std::wstring cmd = L"\"" + program + L"\" /n";
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return run;
    // The process is idle once its loop waits; the window is then up (or it is looked for a
    // little longer, a millisecond at a time, where the system reports idle early).
    WaitForInputIdle(pi.hProcess, 30000);
    FindArgs args{pi.dwProcessId, nullptr};
    for (int i = 0; i < 30000 && !args.found; ++i) {
        EnumWindows(&FindShownMain, reinterpret_cast<LPARAM>(&args));
        if (!args.found) {
            if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0)
                break;
        }
    }
    QueryPerformanceCounter(&t1);
    if (args.found) {
        run.startMs = Ms(t0, t1, f);
        PostMessageW(args.found, WM_CLOSE, 0, 0);
        WaitForSingleObject(pi.hProcess, 30000);
        QueryPerformanceCounter(&t2);
        run.closeMs = Ms(t1, t2, f);
    } else {
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

} // namespace

int main()
{
    const std::wstring built = ExeFolder() + L"\\..\\Norvane.exe";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"nv_startbench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = folder + L"\\Norvane.exe";
    if (!CopyFileW(built.c_str(), program.c_str(), FALSE)) {
        std::printf("start-up: Norvane.exe not found beside the benchmarks (error %lu)\n", GetLastError());
        return 1;
    }
    HANDLE marker = CreateFileW((folder + L"\\portable_mode_enabled").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(marker);

    const Run cold = StartOnce(program);
    std::printf("start-up cold (no settings file): %.1f ms to the shown main window, %.1f ms to close\n",
                cold.startMs, cold.closeMs);
    std::vector<double> warm;
    double closeSum = 0;
    for (size_t i = 0; i < kWarmRuns; ++i) {
        const Run r = StartOnce(program);
        if (r.startMs >= 0) {
            warm.push_back(r.startMs);
            closeSum += r.closeMs;
        }
    }
    if (!warm.empty()) {
        std::sort(warm.begin(), warm.end());
        std::printf("start-up warm (%zu runs): median %.1f ms, best %.1f ms, worst %.1f ms; close %.1f ms on average\n",
                    warm.size(), warm[warm.size() / 2], warm.front(), warm.back(), closeSum / warm.size());
    }
    DeleteFileW(program.c_str());
    DeleteFileW((folder + L"\\portable_mode_enabled").c_str());
    DeleteFileW((folder + L"\\Norvane.json").c_str());
    DeleteFileW((folder + L"\\Norvane.log").c_str());
    RemoveDirectoryW(folder.c_str());
    // Every start must show its window: one that does not is a failure, not a slower sample.
    const bool ok = cold.startMs >= 0 && warm.size() == kWarmRuns;
    if (!ok)
        std::printf("start-up: FAILED: %s, %zu of %zu warm starts showed the main window\n",
                    cold.startMs >= 0 ? "the cold start showed it" : "the cold start showed no main window", warm.size(),
                    kWarmRuns);
    return ok ? 0 : 1;
}
