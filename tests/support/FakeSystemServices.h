#pragma once
// Tests stand in for the system services with a scoped object: in force from its construction
// to its destruction, and gone again also when the test leaves by an exception.
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "core/SystemServices.h"

// Puts the services in force for the life of the object, then restores the ones it replaced.
class CScopedSystemServices
{
public:
    explicit CScopedSystemServices(ISystemServices& services);
    ~CScopedSystemServices();
    CScopedSystemServices(const CScopedSystemServices&) = delete;
    CScopedSystemServices& operator=(const CScopedSystemServices&) = delete;

    // What was in force before: the test's services below these, else the application's services.
    ISystemServices& Replaced() const;

private:
    ISystemServices* m_replaced;
};

// A stand-in made of the test's functions. Each call goes to the function the test set, and
// to the services it stands over when none is set.
class CFakeSystemServices final : public ISystemServices
{
public:
    CFakeSystemServices() = default;
    CFakeSystemServices(const CFakeSystemServices&) = delete;
    CFakeSystemServices& operator=(const CFakeSystemServices&) = delete;

    std::function<void(SYSTEMTIME& now)> localTime;
    std::function<__time64_t()> currentTime;
    std::function<std::wstring()> programPath;
    std::function<bool(const std::wstring& from, const std::wstring& to)> moveFileOver;
    std::function<bool(const wchar_t* commandLine)> writeAutorun;
    std::function<BOOL(SHELLEXECUTEINFOW* info)> executeShell;
    std::function<void(HWND owner, const wchar_t* target)> openLink;
    std::function<HRESULT(bool* elevated)> checkElevation;
    std::function<bool(DWORD message, NOTIFYICONDATAW& data)> notifyIcon;
    std::function<bool(const wchar_t* file, DWORD flags)> playWave;
    std::function<DWORD(const wchar_t* command, HWND notify)> sendMediaString;
    std::function<int(const std::wstring& text, UINT style, HWND owner, bool* dontAsk)> askUser;
    std::function<void(UINT type)> beep;
    std::function<HDEVNOTIFY(HWND window, const GUID& interfaceClass)> watchDeviceInterfaces;
    std::function<void(std::vector<std::wstring>& names)> listPcscReaders;
    std::function<HRESULT(const wchar_t* progId, IDispatch** object)> createAutomationObject;
    std::function<HWND(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data)> showHtmlHelp;
    std::function<HRESULT(HWND window, bool shown)> showTaskbarTab;

    void LocalTime(SYSTEMTIME& now) override;
    __time64_t CurrentTime() override;
    std::wstring ProgramPath() override;
    bool MoveFileOver(const std::wstring& from, const std::wstring& to) override;
    bool WriteAutorun(const wchar_t* commandLine) override;
    bool ExecuteShell(SHELLEXECUTEINFOW& info) override;
    void OpenLink(HWND owner, const wchar_t* target) override;
    HRESULT CheckElevation(bool& elevated) override;
    bool NotifyIcon(DWORD message, NOTIFYICONDATAW& data) override;
    bool PlayWave(const wchar_t* file, DWORD flags) override;
    DWORD SendMediaString(const wchar_t* command, HWND notify) override;
    int AskUser(const std::wstring& text, UINT style, HWND owner, bool* dontAsk) override;
    void Beep(UINT type) override;
    HDEVNOTIFY WatchDeviceInterfaces(HWND window, const GUID& interfaceClass) override;
    void ListPcscReaders(std::vector<std::wstring>& names) override;
    HRESULT CreateAutomationObject(const wchar_t* progId, IDispatch** object) override;
    HWND ShowHtmlHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data) override;
    HRESULT ShowTaskbarTab(HWND window, bool shown) override;

private:
    // Declared after the functions, so that they are gone only once the fake is out of force.
    CScopedSystemServices m_scope{*this};
};
