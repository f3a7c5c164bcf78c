#pragma once
// Start-up of the program: the data folder, the single instance and its hand-over, the elevated
// restart, the ordered initialisation, the first show and the start action; the message loop
// and shutdown that follow it in wWinMain.
#include <windows.h>
#include <shellapi.h>
#include <cstdint>
#include <string>

#include "app/CommandLine.h"
#include "core/Handle.h"

constexpr int kStartContinue = 0;
constexpr int kStartEnd = -1;

constexpr UINT kHandOverDataId = 101;
extern const wchar_t kInstanceMutexName[];   // "Norvane2"
// How long a second instance waits for the first to finish its start-up before going on
// without the mutex.
constexpr DWORD kInstanceMutexWaitMs = 15000;

// Data folder -------------------------------------------------------------------------------

// The folder of a program path with one trailing backslash ("C:" becomes "C:\").
std::wstring GetProgramFolderOf(const std::wstring& programPath);
// A folder that holds "Norvane.json" or "portable_mode_enabled" as a file runs portable.
bool IsPortableFolder(const std::wstring& programFolder);
// The data folder without trailing backslash and whether it is the program folder. The
// per-user folder is "<roaming>\Quillmark\Norvane", moved from "<roaming>\Tarnwell\Norvane2"
// when only that one exists, else created. False when no usable folder results.
bool ChooseDataFolder(const std::wstring& programPath, const std::wstring& roamingFolder, HWND owner,
                      std::wstring& dataFolder, bool& portable);

// Single instance ------------------------------------------------------------------------------

// The named mutex that serialises simultaneous starts.
class CInstanceMutex
{
public:
    CInstanceMutex() = default;
    ~CInstanceMutex() { Close(); }
    CInstanceMutex(const CInstanceMutex&) = delete;
    CInstanceMutex& operator=(const CInstanceMutex&) = delete;

    bool Create(const wchar_t* name = kInstanceMutexName);
    // Waits at most timeoutMs; an abandoned mutex (its last owner died) counts as owned.
    // False on a time-out or failure: start-up then goes on without it.
    bool Acquire(DWORD timeoutMs = kInstanceMutexWaitMs);
    void Release();
    void Close();
    bool IsOwned() const { return m_owned; }
    // The wait's result of the last Acquire (WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT...).
    DWORD GetLastWaitResult() const { return m_lastWait; }

private:
    CHandle m_handle;
    bool m_owned = false;
    DWORD m_lastWait = WAIT_FAILED;
};

// When a window of class "Norvane2" exists: shows it and brings it forward unless autorun,
// sends it the command line by WM_COPYDATA 101 when the line is not empty, and returns true.
bool HandOverToRunningInstance(const wchar_t* commandLine, bool autorun);

// Starts the program again elevated ("runas") with the command line; true when the new
// process was started, false when the start failed or the user declined (GetLastError says
// which).
bool LaunchElevated(const wchar_t* commandLine);

// Whether the main window is shown at start-up; the saved show state (bit 0 minimized, bit 1
// maximized) is adjusted to the way the program was started.
bool DecideMainWindowShow(const _CMDLINE_INFO& info, int showMode, uint32_t history, int32_t& showState);

// Main road --------------------------------------------------------------------------------

// kStartContinue to enter the message loop, kStartEnd to end the process.
int StartApplication(const wchar_t* commandLine, int showMode);
// The message loop with its idle passes; returns the WM_QUIT code.
int RunMessageLoop();
// Everything after the loop: observers, main frame, window classes, event table.
void ShutDownApplication();
// The whole life of the program (what wWinMain does).
int RunApplication(HINSTANCE instance, const wchar_t* commandLine, int showMode);
