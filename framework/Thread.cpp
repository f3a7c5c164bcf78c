#include "framework/Thread.h"

#include <exception>
#include <string>

#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/TextUtil.h"

CThread::~CThread()
{
    Stop();
}

void CThread::Start()
{
    if (m_hThread)
        return;
    HANDLE h = CreateThread(nullptr, 0, StartRoutine, this, CREATE_SUSPENDED, nullptr);
    if (!h)
        ThrowOSError(GetLastError());
    m_hThread = h;
    m_run.store(true, std::memory_order_release);
    ResumeThread(h);
}

void CThread::Stop()
{
    if (!m_hThread)
        return;
    m_run.store(false, std::memory_order_release);
    WaitForSingleObject(m_hThread, INFINITE);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
}

DWORD WINAPI CThread::StartRoutine(void* object)
{
    auto* self = static_cast<CThread*>(object);
    // An escaping exception would end the whole process; the worker ends alone, with a log line.
    try
    {
        return self->Run();
    }
    catch (const std::exception& e)
    {
        CAppContext* app = GetAppContext();
        if (app && app->IsLogged(LOG_THRESHOLD_ERROR))
        {
            std::wstring text;
            MultiByteToWString(e.what(), -1, text, CP_ACP);
            LogMessage(app, self, LOG_ERROR, L"Worker thread ended by an exception: %s", text.c_str());
        }
    }
    catch (...)
    {
        CAppContext* app = GetAppContext();
        if (app && app->IsLogged(LOG_THRESHOLD_ERROR))
            LogMessage(app, self, LOG_ERROR, L"Worker thread ended by an unknown exception");
    }
    return static_cast<DWORD>(E_UNEXPECTED);
}
