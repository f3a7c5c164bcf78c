#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <thread>
#include <vector>

#include "app/JumpList.h"
#include "app/StartUp.h"
#include "core/TextUtil.h"
#include "framework/Wnd.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/ChildJob.h"

namespace {

// Stands for a first instance: a hidden window of the program's class that records what a
// second instance hands it.
class CFirstInstance : public CWnd
{
public:
    CFirstInstance()
    {
        EXPECT_TRUE(RegisterWndClass(L"Norvane2", 0, nullptr, nullptr, nullptr, nullptr));
        Create(0, L"Norvane2", L"First", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr);
    }
    ~CFirstInstance() override
    {
        Destroy();
        // The class goes with it, so the program's own start-up in a later test can register it.
        UnregisterClassW(L"Norvane2", GetProgramModule());
    }
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_COPYDATA) {
            const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            Received r{cds->dwData, cds->cbData,
                       std::string(static_cast<const char*>(cds->lpData), cds->cbData)};
            received.push_back(r);
            return TRUE;
        }
        return CWnd::HandleMessage(hwnd, message, wParam, lParam);
    }
    struct Received {
        ULONG_PTR id;
        DWORD size;
        std::string bytes;
    };
    std::vector<Received> received;
};

// Runs the real program with the command line and serves this thread's windows until it ends;
// its exit code.
DWORD RunSecondInstance(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    if (!CChildJob::Instance().Start(program.c_str(), commandLine, nullptr, si, pi)) {
        ADD_FAILURE() << "could not start " << GetLastError();
        return 0;
    }
    CloseHandle(pi.hThread);
    const ULONGLONG deadline = GetTickCount64() + 60000;
    for (;;) {
        const DWORD left = static_cast<DWORD>(deadline > GetTickCount64() ? deadline - GetTickCount64() : 0);
        const DWORD w = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, left, QS_ALLINPUT);
        if (w == WAIT_OBJECT_0)
            break;
        if (w != WAIT_OBJECT_0 + 1) {
            ADD_FAILURE() << "the second instance did not end";
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
        PumpWaitingMessages();
    }
    PumpWaitingMessages();
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return code;
}

class SecondInstance : public ::testing::Test
{
protected:
    void SetUp() override
    {
        App();  // the windows of this process need the application object, as the program's do
        // The program runs portable from a folder of its own, so it touches no other data.
        const std::wstring built = TestExeFolder() + L"\\..\\Norvane.exe";
        m_program = m_folder.File(L"Norvane.exe");
        ASSERT_TRUE(CopyFileW(built.c_str(), m_program.c_str(), FALSE)) << GetLastError();
        WriteFileBytes(m_folder.File(L"portable_mode_enabled"), "");
    }
    CTempFolder m_folder;
    std::wstring m_program;
};

std::string Utf16Bytes(const std::wstring& s)
{
    return std::string(reinterpret_cast<const char*>(s.c_str()), (s.size() + 1) * sizeof(wchar_t));
}

} // namespace

TEST_F(SecondInstance, HandsItsCommandLineToTheFirstAndEnds)
{
    CFirstInstance first;
    ASSERT_TRUE(first.m_hWnd);
    ASSERT_FALSE(IsWindowVisible(first.m_hWnd));
    EXPECT_EQ(0xFFFFFFFFu, RunSecondInstance(m_program, L"/o /start"));
    ASSERT_EQ(1u, first.received.size());
    const auto& r = first.received[0];
    EXPECT_EQ(101u, r.id);
    EXPECT_EQ(0u, r.size % 2) << "whole UTF-16 characters";
    EXPECT_EQ(Utf16Bytes(L"/o /start"), r.bytes) << "the line with its terminator";
    EXPECT_TRUE(IsWindowVisible(first.m_hWnd)) << "the first instance is brought forward";
    EXPECT_FALSE(FileExists(m_folder.File(L"Norvane.json"))) << "the second instance saved nothing";
    first.Destroy();
}

TEST_F(SecondInstance, EmptyCommandLineShowsTheFirstButSendsNothing)
{
    CFirstInstance first;
    ASSERT_TRUE(first.m_hWnd);
    // "singleInstance" is on by default, so a plain start hands over too.
    EXPECT_EQ(0xFFFFFFFFu, RunSecondInstance(m_program, L""));
    EXPECT_TRUE(first.received.empty());
    EXPECT_TRUE(IsWindowVisible(first.m_hWnd));
    first.Destroy();
}

TEST_F(SecondInstance, AutorunSendsTheLineButLeavesTheWindowAlone)
{
    CFirstInstance first;
    ASSERT_TRUE(first.m_hWnd);
    EXPECT_EQ(0xFFFFFFFFu, RunSecondInstance(m_program, L"/o /autorun"));
    ASSERT_EQ(1u, first.received.size());
    EXPECT_EQ(Utf16Bytes(L"/o /autorun"), first.received[0].bytes);
    EXPECT_FALSE(IsWindowVisible(first.m_hWnd)) << "an autorun start does not bring the window forward";
    first.Destroy();
}

TEST_F(SecondInstance, NewInstanceSwitchNeverHandsOver)
{
    CFirstInstance first;
    ASSERT_TRUE(first.m_hWnd);
    // With "/n" the program starts on its own; a closing message ends it again.
    std::thread closer([] {
        for (int i = 0; i < 2000; ++i) {
            HWND w = nullptr;
            while ((w = FindWindowExW(nullptr, w, L"Norvane2", nullptr)) != nullptr) {
                wchar_t title[32] = {};
                GetWindowTextW(w, title, 32);
                if (wcscmp(title, L"Norvane") == 0 && IsWindowVisible(w)) {
                    PostMessageW(w, WM_CLOSE, 0, 0);
                    return;
                }
            }
            Sleep(10);  // waiting for another process's window to appear
        }
    });
    EXPECT_EQ(0u, RunSecondInstance(m_program, L"/o /n"));
    closer.join();
    EXPECT_TRUE(first.received.empty());
    EXPECT_FALSE(IsWindowVisible(first.m_hWnd));
    EXPECT_TRUE(FileExists(m_folder.File(L"Norvane.json"))) << "the closed instance wrote its settings";
    first.Destroy();
}

TEST(InstanceMutex, WaitIsBoundedAndAnAbandonedMutexIsOwned)
{
    const wchar_t* name = L"NorvaneTestMutex_bounded";
    // Held by a living thread: the wait ends at its bound.
    HANDLE held = nullptr;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        held = CreateMutexW(nullptr, TRUE, name);
        SetEvent(taken);
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(held);
        CloseHandle(held);
    });
    WaitForSingleObject(taken, INFINITE);
    {
        CInstanceMutex mutex;
        ASSERT_TRUE(mutex.Create(name));
        const ULONGLONG t0 = GetTickCount64();
        EXPECT_FALSE(mutex.Acquire(100));
        EXPECT_LT(GetTickCount64() - t0, 5000u);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), mutex.GetLastWaitResult());
        EXPECT_FALSE(mutex.IsOwned());
    }
    SetEvent(release);
    holder.join();

    // Its owner ended without releasing it: the next one owns it.
    const wchar_t* abandonedName = L"NorvaneTestMutex_abandoned";
    HANDLE left = nullptr;
    std::thread dying([&] { left = CreateMutexW(nullptr, TRUE, abandonedName); });  // ends holding it
    dying.join();
    ASSERT_TRUE(left);
    CInstanceMutex mutex;
    ASSERT_TRUE(mutex.Create(abandonedName));
    EXPECT_TRUE(mutex.Acquire(5000));
    EXPECT_EQ(static_cast<DWORD>(WAIT_ABANDONED), mutex.GetLastWaitResult());
    EXPECT_TRUE(mutex.IsOwned());
    mutex.Release();
    EXPECT_FALSE(mutex.IsOwned());
    EXPECT_TRUE(mutex.Acquire(0)) << "released, it can be taken again";
    mutex.Close();
    CloseHandle(left);
    CloseHandle(release);
    CloseHandle(taken);
}

TEST(StartUpShow, ShowModeAutorunAndRememberedStates)
{
    _CMDLINE_INFO plain, autorun;
    ParseCommandLine(L"/autorun", autorun);
    struct {
        const char* what;
        const _CMDLINE_INFO* info;
        int showMode;
        uint32_t history;
        int32_t stateIn;
        bool show;
        int32_t stateOut;
    } cases[] = {
        {"normal", &plain, SW_SHOWNORMAL, 0, 0, true, 0},
        {"default", &plain, SW_SHOWDEFAULT, 0, 0, true, 0},
        {"maximized", &plain, SW_SHOWMAXIMIZED, 0, 0, true, 2},
        {"minimized", &plain, SW_SHOWMINIMIZED, 0, 0, false, 1},
        {"minimize", &plain, SW_MINIMIZE, 0, 2, false, 3},
        {"shortcut set to minimized", &plain, SW_SHOWMINNOACTIVE, 0, 0, false, 1},
        {"remembered states: shown whatever the mode", &plain, SW_SHOWMINNOACTIVE, 0x200, 0, true, 0},
        {"remembered maximized", &plain, SW_SHOWNORMAL, 0x200, 2, true, 2},
        {"autorun: hidden, minimized", &autorun, SW_SHOWNORMAL, 0x200, 0, false, 1},
        {"autorun maximized", &autorun, SW_SHOWMAXIMIZED, 0, 2, false, 3},
    };
    for (const auto& c : cases) {
        int32_t state = c.stateIn;
        EXPECT_EQ(c.show, DecideMainWindowShow(*c.info, c.showMode, c.history, state)) << c.what;
        EXPECT_EQ(c.stateOut, state) << c.what;
    }
}

TEST(JumpList, MissingShellClassesAreSkippedSilently)
{
    // Wine has neither the destination list nor the object collection; nothing may show or throw.
    const ULONGLONG t0 = GetTickCount64();
    AddJumpListTasks();
    AddJumpListTasks();
    EXPECT_LT(GetTickCount64() - t0, 10000u);
    // Dialogs of this process only: other test programs may show theirs meanwhile.
    struct Found
    {
        HWND dialog = nullptr;
    } found;
    EnumWindows(
        [](HWND hwnd, LPARAM l) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            wchar_t cls[16] = {};
            GetClassNameW(hwnd, cls, 16);
            if (pid != GetCurrentProcessId() || wcscmp(cls, L"#32770") != 0)
                return TRUE;
            reinterpret_cast<Found*>(l)->dialog = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    EXPECT_EQ(nullptr, found.dialog);
}
