#pragma once
// Base of the background workers (reader, PC/SC watcher, reader search, bridge link). The run
// flag is the stop signal: a worker's Run loops while it is set and leaves within one wait
// after it is cleared; a worker blocked on its own events must also be woken by them.
#include <windows.h>
#include <atomic>

#include "core/Object.h"

class CThread : public CObject
{
public:
    CThread() = default;
    // Stops a thread that still runs. A derived worker stops in its own destructor, before its
    // members go: RequestStop, wake its own waits, then Stop.
    ~CThread() override;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Creates the thread once (suspended, then resumed after the handle and the run flag are
    // set); a thread that exists is left alone. Throws COSException when it cannot be created.
    void Start();
    // Clears the run flag; the worker leaves its loop at its next look at the flag.
    void RequestStop() { m_run.store(false, std::memory_order_release); }
    // Clears the run flag, waits for the thread without limit and closes its handle. Not to be
    // called from the worker's own thread.
    void Stop();

    bool IsStarted() const { return m_hThread != nullptr; }
    // The run flag, read by the worker on its own thread.
    bool IsRunning() const { return m_run.load(std::memory_order_acquire); }
    HANDLE GetThreadHandle() const { return m_hThread; }

protected:
    // The thread body; its result is the thread's exit code. An exception that leaves it is
    // caught and logged by the thread's start routine.
    virtual DWORD Run() = 0;

private:
    static DWORD WINAPI StartRoutine(void* object);

    HANDLE m_hThread = nullptr;
    std::atomic<bool> m_run{false};
};
