#include "tests/support/FakeSystemServices.h"

CScopedSystemServices::CScopedSystemServices(ISystemServices& services)
    : m_replaced(SwapSystemServices(&services))
{
}

CScopedSystemServices::~CScopedSystemServices()
{
    SwapSystemServices(m_replaced);
}

ISystemServices& CScopedSystemServices::Replaced() const
{
    return m_replaced ? *m_replaced : ApplicationSystemServices();
}

void CFakeSystemServices::LocalTime(SYSTEMTIME& now)
{
    localTime ? localTime(now) : m_scope.Replaced().LocalTime(now);
}

__time64_t CFakeSystemServices::CurrentTime()
{
    return currentTime ? currentTime() : m_scope.Replaced().CurrentTime();
}

std::wstring CFakeSystemServices::ProgramPath()
{
    return programPath ? programPath() : m_scope.Replaced().ProgramPath();
}

bool CFakeSystemServices::MoveFileOver(const std::wstring& from, const std::wstring& to)
{
    return moveFileOver ? moveFileOver(from, to) : m_scope.Replaced().MoveFileOver(from, to);
}

bool CFakeSystemServices::WriteAutorun(const wchar_t* commandLine)
{
    return writeAutorun ? writeAutorun(commandLine) : m_scope.Replaced().WriteAutorun(commandLine);
}

bool CFakeSystemServices::ExecuteShell(SHELLEXECUTEINFOW& info)
{
    return executeShell ? executeShell(&info) != FALSE : m_scope.Replaced().ExecuteShell(info);
}

void CFakeSystemServices::OpenLink(HWND owner, const wchar_t* target)
{
    openLink ? openLink(owner, target) : m_scope.Replaced().OpenLink(owner, target);
}

void CFakeSystemServices::Beep(UINT type)
{
    beep ? beep(type) : m_scope.Replaced().Beep(type);
}

HRESULT CFakeSystemServices::CheckElevation(bool& elevated)
{
    return checkElevation ? checkElevation(&elevated) : m_scope.Replaced().CheckElevation(elevated);
}

bool CFakeSystemServices::NotifyIcon(DWORD message, NOTIFYICONDATAW& data)
{
    return notifyIcon ? notifyIcon(message, data) : m_scope.Replaced().NotifyIcon(message, data);
}

bool CFakeSystemServices::PlayWave(const wchar_t* file, DWORD flags)
{
    return playWave ? playWave(file, flags) : m_scope.Replaced().PlayWave(file, flags);
}

DWORD CFakeSystemServices::SendMediaString(const wchar_t* command, HWND notify)
{
    return sendMediaString ? sendMediaString(command, notify) : m_scope.Replaced().SendMediaString(command, notify);
}

int CFakeSystemServices::AskUser(const std::wstring& text, UINT style, HWND owner, bool* dontAsk)
{
    return askUser ? askUser(text, style, owner, dontAsk) : m_scope.Replaced().AskUser(text, style, owner, dontAsk);
}

HDEVNOTIFY CFakeSystemServices::WatchDeviceInterfaces(HWND window, const GUID& interfaceClass)
{
    return watchDeviceInterfaces ? watchDeviceInterfaces(window, interfaceClass)
                                 : m_scope.Replaced().WatchDeviceInterfaces(window, interfaceClass);
}

void CFakeSystemServices::ListPcscReaders(std::vector<std::wstring>& names)
{
    listPcscReaders ? listPcscReaders(names) : m_scope.Replaced().ListPcscReaders(names);
}

HRESULT CFakeSystemServices::CreateAutomationObject(const wchar_t* progId, IDispatch** object)
{
    return createAutomationObject ? createAutomationObject(progId, object)
                                  : m_scope.Replaced().CreateAutomationObject(progId, object);
}

HWND CFakeSystemServices::ShowHtmlHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data)
{
    return showHtmlHelp ? showHtmlHelp(owner, file, command, data)
                        : m_scope.Replaced().ShowHtmlHelp(owner, file, command, data);
}

HRESULT CFakeSystemServices::ShowTaskbarTab(HWND window, bool shown)
{
    return showTaskbarTab ? showTaskbarTab(window, shown) : m_scope.Replaced().ShowTaskbarTab(window, shown);
}
