#include "core/AppContext.h"

#include <atomic>

namespace
{
std::atomic<CAppContext*> g_context{nullptr};
}

CAppContext::CAppContext()
{
    InitializeCriticalSection(&m_logLock);
    CAppContext* expected = nullptr;
    g_context.compare_exchange_strong(expected, this);
}

CAppContext::~CAppContext()
{
    CAppContext* expected = this;
    g_context.compare_exchange_strong(expected, nullptr);
    DeleteCriticalSection(&m_logLock);
}

CAppContext* GetAppContext()
{
    return g_context.load();
}
