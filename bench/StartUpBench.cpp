// Start-up of the program to its shown main window, and its shutdown, measured on real
// processes: "cold" is the first start in a fresh portable folder (no settings file yet), "warm"
// the starts after it. Beside it, through the same harness and in turn with it, the floor:
// tools/barewindow, which only registers a class and shows a window of the main window's size.
// The ratio of the two is what the program adds; it is a figure to read, not a limit (timings
// of a shared machine vary). Prints milliseconds.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr size_t kWarmRuns = 7;

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

struct FindArgs {
    DWORD pid;
    const wchar_t* windowClass;
    HWND found;
};

BOOL CALLBACK FindShownWindow(HWND hwnd, LPARAM lParam)
{
    auto* a = reinterpret_cast<FindArgs*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (pid == a->pid && wcscmp(cls, a->windowClass) == 0 && IsWindowVisible(hwnd)) {
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

// A program of the bench and the class of the window whose showing ends its start.
struct Subject {
    std::wstring path;
    const wchar_t* windowClass;
};

Run StartOnce(const Subject& subject)
{
    const std::wstring& program = subject.path;
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
    FindArgs args{pi.dwProcessId, subject.windowClass, nullptr};
    for (int i = 0; i < 30000 && !args.found; ++i) {
        EnumWindows(&FindShownWindow, reinterpret_cast<LPARAM>(&args));
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

// Cold start, then the warm starts in turn with the other subject's, so that both see the same
// load of the machine.
struct Series {
    Run cold;
    std::vector<double> warm;
    double closeSum = 0;

    void Add(const Run& r)
    {
        if (r.startMs >= 0) {
            warm.push_back(r.startMs);
            closeSum += r.closeMs;
        }
    }
    double Median() const
    {
        std::vector<double> sorted = warm;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    bool Whole() const { return cold.startMs >= 0 && warm.size() == kWarmRuns; }
};

void Describe(const char* name, const char* coldNote, Series& s)
{
    std::printf("%s cold%s: %.1f ms to the shown window, %.1f ms to close\n", name, coldNote, s.cold.startMs,
                s.cold.closeMs);
    if (s.warm.empty())
        return;
    std::sort(s.warm.begin(), s.warm.end());
    std::printf("%s warm (%zu runs): median %.1f ms, best %.1f ms, worst %.1f ms; close %.1f ms on average\n", name,
                s.warm.size(), s.Median(), s.warm.front(), s.warm.back(), s.closeSum / s.warm.size());
}

} // namespace

int main()
{
    const std::wstring built = ExeFolder() + L"\\..\\Norvane.exe";
    const std::wstring builtBare = ExeFolder() + L"\\..\\tools\\barewindow.exe";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"nv_startbench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const Subject program{folder + L"\\Norvane.exe", L"Norvane2"};
    const Subject bare{folder + L"\\barewindow.exe", L"Norvane2Bare"};
    if (!CopyFileW(built.c_str(), program.path.c_str(), FALSE)) {
        std::printf("start-up: Norvane.exe not found beside the benchmarks (error %lu)\n", GetLastError());
        return 1;
    }
    if (!CopyFileW(builtBare.c_str(), bare.path.c_str(), FALSE)) {
        std::printf("start-up: tools\\barewindow.exe not found beside the benchmarks (error %lu)\n", GetLastError());
        DeleteFileW(program.path.c_str());
        RemoveDirectoryW(folder.c_str());
        return 1;
    }
    HANDLE marker = CreateFileW((folder + L"\\portable_mode_enabled").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(marker);

    Series norvane, floor;
    norvane.cold = StartOnce(program);
    floor.cold = StartOnce(bare);
    for (size_t i = 0; i < kWarmRuns; ++i) {
        norvane.Add(StartOnce(program));
        floor.Add(StartOnce(bare));
    }
    Describe("start-up", " (no settings file)", norvane);
    Describe("bare window (tools/barewindow)", "", floor);
    if (norvane.Whole() && floor.Whole())
        std::printf("start-up ratio: Norvane/bare window %.2f warm at the median (%.1f / %.1f ms), %.2f cold\n",
                    norvane.Median() / floor.Median(), norvane.Median(), floor.Median(),
                    norvane.cold.startMs / floor.cold.startMs);
    else
        std::printf("start-up ratio: none, the bench could not do its work\n");

    DeleteFileW(program.path.c_str());
    DeleteFileW(bare.path.c_str());
    DeleteFileW((folder + L"\\portable_mode_enabled").c_str());
    DeleteFileW((folder + L"\\Norvane.json").c_str());
    DeleteFileW((folder + L"\\Norvane.log").c_str());
    RemoveDirectoryW(folder.c_str());
    // Every start must show its window: one that does not is a failure, not a slower sample.
    auto whole = [](const char* name, const Series& s) {
        if (!s.Whole())
            std::printf("start-up: FAILED: %s: %s, %zu of %zu warm starts showed the window\n", name,
                        s.cold.startMs >= 0 ? "the cold start showed it" : "the cold start showed no window",
                        s.warm.size(), kWarmRuns);
        return s.Whole();
    };
    const bool ok = whole("Norvane", norvane) & whole("the bare window", floor);
    return ok ? 0 : 1;
}
