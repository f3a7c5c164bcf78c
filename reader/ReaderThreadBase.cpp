#include "reader/ReaderThreadBase.h"
#include "core/Exceptions.h"

CReaderThreadBase::~CReaderThreadBase()
{
    if (m_hThread) {
        m_run = false;
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
}

void CReaderThreadBase::Start()
{
    if (m_hThread)
        return;
    HANDLE h = CreateThread(nullptr, 0, &CReaderThreadBase::StartRoutine, this, CREATE_SUSPENDED, nullptr);
    if (!h)
        ThrowOSError(GetLastError());
    m_hThread = h;
    m_run = true;
    ResumeThread(h);
}

DWORD WINAPI CReaderThreadBase::StartRoutine(void* self)
{
    return static_cast<CReaderThreadBase*>(self)->Run();
}
