#pragma once
// What the application tests share: a portable program folder of their own around an in-process
// start-up of the program, a robot that answers the program's message boxes, window pictures and
// small file helpers.
#include <windows.h>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/NorvaneApp.h"
#include "app/StartUp.h"
#include "tests/support/FakeSystemServices.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowPicture.h"

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// The threads of this process.
int CountProcessThreads();
// Dispatches what waits in the queue (no idle passes).
void PumpWaitingMessages();

// Pumps the thread's messages until cond holds; false when timeout ms pass first.
template <class F>
bool PumpUntil(F cond, DWORD timeout = 8000)
{
    const DWORD start = GetTickCount();
    for (;;) {
        PumpWaitingMessages();
        if (cond())
            return true;
        if (GetTickCount() - start > timeout)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Answers the first visible dialog of the UI thread for which `ready` holds, on a thread of its
// own. On a time-out it closes every dialog of the thread so that no test hangs.
class CBoxRobot
{
public:
    CBoxRobot(std::function<bool(HWND)> ready, std::function<void(HWND)> act, DWORD timeoutMs = 10000);
    ~CBoxRobot();
    void Join();
    std::atomic<bool> found{false};

private:
    std::thread m_thread;
};

// The texts of a dialog's descendants, in window order.
std::vector<std::wstring> DialogTexts(HWND dialog);
bool HasText(HWND dialog, const std::wstring& text);
void PressButton(HWND dialog, int id);

// A program folder holding the portable marker; the in-process program runs from it, so its
// settings file is this folder's "Norvane.json".
class AppTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // StartApplication with the command line and show mode.
    int Start(const wchar_t* commandLine = L"/n", int showMode = SW_SHOWNORMAL);
    CMainFrame* Frame() const;
    HWND FrameWindow() const;
    // Runs the program's message loop until WM_QUIT; its code.
    int RunLoop();
    // Ends a frame that is still there without any question, then shuts down.
    void ShutDown();
    std::wstring SettingsPath() const { return m_folder.File(L"Norvane.json"); }

    CTempFolder m_folder;
    std::wstring m_programPath;
    // In force for the whole test; the program path is the folder's.
    CFakeSystemServices m_system;
};
