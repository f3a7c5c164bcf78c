#pragma once
// Programs a test starts belong to one job of the test process that ends them when the test
// process ends, however it ends (a crash, or ctest ending it at its time-out): otherwise they
// would keep a serial pair, a hotkey or screen space from the tests after it. Needs nothing but
// the system, as the benches use it too.
#include <windows.h>

#include <string>

class CChildJob
{
public:
    // The test process's one job, made on first use and closed with the process.
    static CChildJob& Instance()
    {
        static CChildJob job;
        return job;
    }

    CChildJob(const CChildJob&) = delete;
    CChildJob& operator=(const CChildJob&) = delete;
    // The last handle of the job goes: the system ends every process still in it.
    ~CChildJob()
    {
        if (m_job)
            CloseHandle(m_job);
    }

    // CreateProcessW with the process in the job before its first instruction. False with the
    // system's error code set when it could not be started or not be put in the job (then it
    // is ended again).
    bool Start(const wchar_t* application, std::wstring commandLine, const wchar_t* folder, STARTUPINFOW& startup,
               PROCESS_INFORMATION& process)
    {
        if (!m_job)
            return false;
        if (!CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, folder,
                            &startup, &process))
            return false;
        if (!AssignProcessToJobObject(m_job, process.hProcess)) {
            const DWORD error = GetLastError();
            TerminateProcess(process.hProcess, 99);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            process = PROCESS_INFORMATION{};
            SetLastError(error);
            return false;
        }
        ResumeThread(process.hThread);
        return true;
    }

private:
    CChildJob()
    {
        m_job = CreateJobObjectW(nullptr, nullptr);
        if (!m_job)
            return;
        // The programs' own children (the system's desktop process among them) are not held.
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
        if (!SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(m_job);
            m_job = nullptr;
        }
    }

    HANDLE m_job = nullptr;
};
