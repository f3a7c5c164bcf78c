#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "framework/Thread.h"
#include "tests/framework/FrameworkTestSupport.h"
#include "tests/support/TempFolder.h"

namespace
{

// Waits on its wake event in slices of `slice` ms while the run flag is set.
class CSliceWorker : public CThread
{
public:
    explicit CSliceWorker(DWORD slice)
        : m_slice(slice), m_wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          m_waiting(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~CSliceWorker() override
    {
        RequestStop();
        Wake();
        Stop();
        CloseHandle(m_wake);
        CloseHandle(m_waiting);
    }
    void Wake() { SetEvent(m_wake); }
    // Returns once the worker sits in its wait.
    void WaitUntilWaiting() { WaitForSingleObject(m_waiting, INFINITE); }

    std::atomic<int> runs{0};
    std::atomic<int> wakes{0};
    std::atomic<bool> ended{false};

protected:
    DWORD Run() override
    {
        ++runs;
        while (IsRunning())
        {
            SetEvent(m_waiting);
            if (WaitForSingleObject(m_wake, m_slice) == WAIT_OBJECT_0)
                ++wakes;
        }
        ended = true;
        return 42;
    }

private:
    DWORD m_slice;
    HANDLE m_wake;
    HANDLE m_waiting;
};

class CThrowingWorker : public CThread
{
public:
    explicit CThrowingWorker(bool standard) : m_standard(standard) {}
    ~CThrowingWorker() override { Stop(); }

protected:
    DWORD Run() override
    {
        if (m_standard)
            throw CException("reader port vanished");
        throw 17;
    }

private:
    bool m_standard;
};

class CLogSettings : public ILogSettingsSource
{
public:
    std::wstring ResolveLogFolder() override { return folder; }
    DebugLogSettings GetDebugLogSettings() override { return {true, 2, -1, false}; }
    std::wstring folder;
};

std::string ReadAll(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(Thread, NeverStartedWorkerIsDestroyedAtOnce)
{
    DWORD t0 = GetTickCount();
    {
        CSliceWorker worker(INFINITE);  // would never leave its wait if it ran
        EXPECT_FALSE(worker.IsStarted());
        EXPECT_FALSE(worker.IsRunning());
    }
    EXPECT_LT(GetTickCount() - t0, 1000u);
}

TEST(Thread, StartTwiceMakesOneThread)
{
    CSliceWorker worker(20);
    worker.Start();
    HANDLE first = worker.GetThreadHandle();
    ASSERT_NE(nullptr, first);
    EXPECT_TRUE(worker.IsRunning());
    worker.Start();
    EXPECT_EQ(first, worker.GetThreadHandle());
    worker.Stop();
    EXPECT_EQ(1, worker.runs.load());
    EXPECT_TRUE(worker.ended.load());
    EXPECT_FALSE(worker.IsStarted());
    EXPECT_FALSE(worker.IsRunning());
}

TEST(Thread, StopEndsWorkerWithinItsWaitSlice)
{
    // The worker is not woken: it must notice the cleared flag when its slice ends.
    for (DWORD slice : {1u, 50u, 200u})
    {
        CSliceWorker worker(slice);
        worker.Start();
        worker.WaitUntilWaiting();
        DWORD t0 = GetTickCount();
        worker.Stop();
        DWORD took = GetTickCount() - t0;
        EXPECT_TRUE(worker.ended.load());
        EXPECT_LT(took, slice + 1000) << slice;
    }
}

TEST(Thread, WakeEventEndsEndlessWait)
{
    // The flag alone cannot end an endless wait: clear it, wake the worker, then wait for it.
    CSliceWorker worker(INFINITE);
    worker.Start();
    worker.WaitUntilWaiting();
    worker.RequestStop();
    EXPECT_FALSE(worker.IsRunning());
    worker.Wake();
    worker.Stop();
    EXPECT_TRUE(worker.ended.load());
    EXPECT_EQ(1, worker.wakes.load());
}

TEST(Thread, ExitCodeIsRunResult)
{
    CSliceWorker worker(5);
    worker.Start();
    HANDLE dup = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), worker.GetThreadHandle(), GetCurrentProcess(), &dup, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    worker.Stop();
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(dup, &code));
    EXPECT_EQ(42u, code);
    CloseHandle(dup);
}

TEST(Thread, EscapingExceptionIsLoggedNotFatal)
{
    CTempFolder dir;
    CLogSettings settings;
    settings.folder = dir.Path();
    // The test exe's application object is the process's context; an earlier entry of this
    // process may already have fixed the log's path.
    CAppContext& app = TestApp();
    ASSERT_EQ(&app, GetAppContext());
    app.LogSettings = &settings;
    for (bool standard : {true, false})
    {
        CThrowingWorker worker(standard);
        worker.Start();
        HANDLE dup = nullptr;
        DuplicateHandle(GetCurrentProcess(), worker.GetThreadHandle(), GetCurrentProcess(), &dup, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        worker.Stop();
        DWORD code = 0;
        GetExitCodeThread(dup, &code);
        CloseHandle(dup);
        EXPECT_EQ(static_cast<DWORD>(E_UNEXPECTED), code);
    }
    app.LogSettings = nullptr;
    std::string log = ReadAll(app.GetLogPath());
    EXPECT_NE(std::string::npos, log.find("[E] Worker thread ended by an exception: reader port vanished\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("[E] Worker thread ended by an unknown exception\r\n")) << log;
}

TEST(Thread, RestartAfterStop)
{
    CSliceWorker worker(10);
    worker.Start();
    worker.Stop();
    worker.Start();
    EXPECT_TRUE(worker.IsRunning());
    worker.Wake();
    worker.Stop();
    EXPECT_EQ(2, worker.runs.load());
}
