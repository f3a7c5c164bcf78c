#pragma once
// The worker-thread part of the reader: thread handle, run flag and the scoped lock of its
// critical section.
#include <windows.h>
#include <atomic>

class CReaderThreadBase {
public:
    CReaderThreadBase() = default;
    CReaderThreadBase(const CReaderThreadBase&) = delete;
    CReaderThreadBase& operator=(const CReaderThreadBase&) = delete;
    // Joins a running thread; the derived destructor has stopped it already.
    virtual ~CReaderThreadBase();

    // Creates the thread suspended, sets the run flag and resumes it; nothing when a thread
    // exists. A failure throws COSException.
    void Start();

protected:
    virtual DWORD Run() = 0;
    static DWORD WINAPI StartRoutine(void* self);

    HANDLE m_hThread = nullptr;
    std::atomic<bool> m_run{false};
};

class CReaderLock {
public:
    explicit CReaderLock(CRITICAL_SECTION* cs) : m_cs(cs) { EnterCriticalSection(cs); }
    ~CReaderLock() { LeaveCriticalSection(m_cs); }
    CReaderLock(const CReaderLock&) = delete;
    CReaderLock& operator=(const CReaderLock&) = delete;

private:
    CRITICAL_SECTION* m_cs;
};
