#include "app/AppSystemServices.h"

#include "app/NorvaneApp.h"
#include "app/PortList.h"
#include "framework/MessageBox.h"

namespace {

// The PC/SC watcher owns the application's smart-card context; without the service there is
// none, and the refresh lists serial ports only.
SCARDCONTEXT ApplicationPcscContext()
{
    return App().Ccid().GetContext();
}

} // namespace

CAppSystemServices::CAppSystemServices() : m_previous(SetApplicationSystemServices(this))
{
}

CAppSystemServices::~CAppSystemServices()
{
    SetApplicationSystemServices(m_previous);
}

int CAppSystemServices::AskUser(const std::wstring& text, UINT style, HWND owner, bool* dontAsk)
{
    return ShowMessage(text, style, owner, dontAsk);
}

void CAppSystemServices::ListPcscReaders(std::vector<std::wstring>& names)
{
    ListSmartCardReaders(ApplicationPcscContext(), names);
}
