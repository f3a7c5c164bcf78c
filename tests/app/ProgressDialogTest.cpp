// The Progress dialog of reader jobs: shown modally, fed by the reader's job record, ended by
// the job's end, by its owner, or by Cancel, which aborts the job.
#include <windows.h>
#include <commctrl.h>
#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/ProgressDialog.h"
#include "core/SysUtil.h"
#include "reader/Reader.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/ReaderTestPeer.h"

namespace {

// The reader thread's side of the job.
void SetJob(CReader& reader, int type, HRESULT state, int progress, int total)
{
    CReaderTestPeer::SetJob(reader, type, state, progress, total);
}

HRESULT JobState(CReader& reader) { return reader.GetJob().state; }

bool IsProgressDialog(HWND hwnd)
{
    wchar_t title[64] = {};
    GetWindowTextW(hwnd, title, 64);
    return std::wstring(title) == L"Progress" && GetDlgItem(hwnd, IDC_PROGRESS_BAR);
}

std::wstring ItemText(HWND dialog, int id)
{
    wchar_t text[256] = {};
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000,
                        nullptr);
    return text;
}

LRESULT SendBar(HWND dialog, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, IDC_PROGRESS_BAR), message, wParam, lParam, SMTO_BLOCK, 2000, &result);
    return static_cast<LRESULT>(result);
}

// Waits (on the robot's thread) until the bar shows the position.
bool WaitForPosition(HWND dialog, int position, DWORD timeoutMs = 3000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end) {
        if (SendBar(dialog, PBM_GETPOS) == position)
            return true;
        Sleep(20);
    }
    return false;
}

bool g_finished = false;
int g_ticksAfterFinish = 0;

// Counts the timer messages the Progress dialog takes from the queue once Finish was called.
LRESULT CALLBACK CountTicksAfterFinish(int code, WPARAM removal, LPARAM message)
{
    const MSG* m = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && g_finished && m->message == WM_TIMER && m->hwnd &&
        IsProgressDialog(m->hwnd))
        ++g_ticksAfterFinish;
    return CallNextHookEx(nullptr, code, removal, message);
}

// The modal loop runs in the application object.
class ProgressDialog : public ::testing::Test
{
protected:
    void SetUp() override { App(); }
};

} // namespace

TEST_F(ProgressDialog, CountsTheKeysWrittenAndEndsWithTheJob)
{
    CReader reader;
    SetJob(reader, RDJOB_WRITE_KEYS, RDJOB_PENDING, 1, 4);
    CProgressDialog dialog;
    std::wstring text;
    PBRANGE range{};
    bool marquee = true, advanced = false;
    CBoxRobot robot(IsProgressDialog, [&](HWND box) {
        text = ItemText(box, IDC_PROGRESS_TEXT);
        SendBar(box, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        marquee = (GetWindowLongW(GetDlgItem(box, IDC_PROGRESS_BAR), GWL_STYLE) & PBS_MARQUEE) != 0;
        // The reader thread's side of the job.
        SetJob(reader, RDJOB_WRITE_KEYS, RDJOB_PENDING, 3, 4);
        advanced = WaitForPosition(box, 3);
        SetJob(reader, RDJOB_WRITE_KEYS, S_OK, 4, 4);
    });
    EXPECT_EQ(IDOK, dialog.Run(nullptr, reader));
    robot.Join();
    ASSERT_TRUE(robot.found);
    EXPECT_EQ(L"To execute the command \"Write keys to the reader memory\"...", text);
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(4, range.iHigh);
    EXPECT_FALSE(marquee);
    EXPECT_TRUE(advanced) << "the tick shows the reader's position";
    EXPECT_FALSE(dialog.IsOpen());
    EXPECT_EQ(S_OK, JobState(reader)) << "a finished job keeps its result";
}

TEST_F(ProgressDialog, TemicJobRunsAsMarqueeAndEndsOnFailureToo)
{
    CReader reader;
    SetJob(reader, RDJOB_TEMIC_INIT, RDJOB_PENDING, 0, 1);
    CProgressDialog dialog;
    std::wstring text;
    bool marquee = false;
    CBoxRobot robot(IsProgressDialog, [&](HWND box) {
        text = ItemText(box, IDC_PROGRESS_TEXT);
        marquee = (GetWindowLongW(GetDlgItem(box, IDC_PROGRESS_BAR), GWL_STYLE) & PBS_MARQUEE) != 0;
        SetJob(reader, RDJOB_TEMIC_INIT, E_FAIL, 0, 1);
    });
    EXPECT_EQ(IDOK, dialog.Run(nullptr, reader)) << "the job's outcome is reported by its owner, not here";
    robot.Join();
    EXPECT_EQ(L"To execute the command \"Initializing Temic\"...", text);
    EXPECT_TRUE(marquee);
    EXPECT_EQ(E_FAIL, JobState(reader));
}

TEST_F(ProgressDialog, CancelAbortsThePendingJobAndStopsTheWait)
{
    CReader reader;
    SetJob(reader, RDJOB_WRITE_KEYS, RDJOB_PENDING, 2, 10);
    CProgressDialog dialog;
    int stopped = 0;
    HRESULT stateWhenStopped = S_OK;
    CBoxRobot robot(IsProgressDialog, [&](HWND box) { PressButton(box, IDCANCEL); });
    EXPECT_EQ(IDCANCEL, dialog.Run(nullptr, reader, [&] {
        ++stopped;
        stateWhenStopped = JobState(reader);
    }));
    robot.Join();
    EXPECT_EQ(E_ABORT, JobState(reader));
    EXPECT_EQ(1, stopped);
    EXPECT_EQ(E_ABORT, stateWhenStopped) << "the owner is told after the job is marked";
}

TEST_F(ProgressDialog, EscapeCancelsLikeTheButton)
{
    CReader reader;
    SetJob(reader, RDJOB_TEMIC_INIT, RDJOB_PENDING, 0, 1);
    CProgressDialog dialog;
    CBoxRobot robot(IsProgressDialog, [&](HWND box) { PostMessageW(box, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_EQ(IDCANCEL, dialog.Run(nullptr, reader));
    robot.Join();
    EXPECT_EQ(E_ABORT, JobState(reader));
}

TEST_F(ProgressDialog, AJobThatEndedBeforeTheDialogShowsNoTextAndCloses)
{
    CReader reader;
    SetJob(reader, RDJOB_WRITE_KEYS, S_OK, 5, 5);
    CProgressDialog dialog;
    std::wstring text = L"unread";
    CBoxRobot robot(IsProgressDialog, [&](HWND box) { text = ItemText(box, IDC_PROGRESS_TEXT); });
    EXPECT_EQ(IDOK, dialog.Run(nullptr, reader));
    robot.Join();
    if (robot.found) {
        EXPECT_EQ(L"", text);
    }
}

TEST_F(ProgressDialog, OwnerFinishesItBeforeTheNextTick)
{
    CReader reader;
    SetJob(reader, RDJOB_WRITE_KEYS, RDJOB_PENDING, 0, 3);
    CProgressDialog dialog;
    static CProgressDialog* target;
    target = &dialog;
    // The frame learns of the job's end from the reader's notification and ends the dialog.
    static UINT_PTR finishTimer;
    finishTimer = SetTimer(nullptr, 0, 30, [](HWND, UINT, UINT_PTR, DWORD) {
        KillTimer(nullptr, finishTimer);
        g_finished = true;
        target->Finish();
    });
    // Ends at once, not at the dialog's next tick: no timer message reaches it after Finish,
    // however late the timers come on a loaded machine.
    g_finished = false;
    g_ticksAfterFinish = 0;
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &CountTicksAfterFinish, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hook);
    EXPECT_EQ(IDOK, dialog.Run(nullptr, reader));
    UnhookWindowsHookEx(hook);
    EXPECT_TRUE(g_finished);
    EXPECT_EQ(0, g_ticksAfterFinish) << "ended by Finish, not by the tick";
    EXPECT_EQ(RDJOB_PENDING, JobState(reader)) << "Finish does not touch the job";
    dialog.Finish();  // closed already: nothing happens
}
