#include "core/SystemServices.h"

#include <dbt.h>
#include <shobjidl.h>
#include <mmsystem.h>
#include <atomic>

#include "core/SysUtil.h"

namespace {

std::atomic<ISystemServices*> g_application{nullptr};
std::atomic<ISystemServices*> g_test{nullptr};

// Made on first use, so that no static of another file can ask for it too early.
CSystemServices& SystemOwnServices()
{
    static CSystemServices services;
    return services;
}

} // namespace

void CSystemServices::LocalTime(SYSTEMTIME& now)
{
    GetLocalTime(&now);
}

__time64_t CSystemServices::CurrentTime()
{
    return _time64(nullptr);
}

std::wstring CSystemServices::ProgramPath()
{
    std::wstring path;
    GetModuleFilePath(path);
    return path;
}

bool CSystemServices::MoveFileOver(const std::wstring& from, const std::wstring& to)
{
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool CSystemServices::WriteAutorun(const wchar_t* commandLine)
{
    return WriteAutorunValue(commandLine);
}

bool CSystemServices::ExecuteShell(SHELLEXECUTEINFOW& info)
{
    return ShellExecuteExW(&info) != FALSE;
}

void CSystemServices::OpenLink(HWND owner, const wchar_t* target)
{
    ShellExecuteW(owner, L"open", target, nullptr, nullptr, SW_SHOWNORMAL);
}

bool CSystemServices::NotifyIcon(DWORD message, NOTIFYICONDATAW& data)
{
    return Shell_NotifyIconW(message, &data) != FALSE;
}

bool CSystemServices::PlayWave(const wchar_t* file, DWORD flags)
{
    return PlaySoundW(file, nullptr, flags) != FALSE;
}

DWORD CSystemServices::SendMediaString(const wchar_t* command, HWND notify)
{
    return mciSendStringW(command, nullptr, 0, notify);
}

HRESULT CSystemServices::CheckElevation(bool& elevated)
{
    return IsProcessElevated(&elevated);
}

void CSystemServices::Beep(UINT type)
{
    MessageBeep(type);
}

int CSystemServices::AskUser(const std::wstring& text, UINT style, HWND owner, bool*)
{
    // The system's box knows the style bits but not the shield, so that bit goes.
    return MessageBoxW(owner, text.c_str(), nullptr, style & 0xF7F);
}

HDEVNOTIFY CSystemServices::WatchDeviceInterfaces(HWND window, const GUID& interfaceClass)
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    return RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void CSystemServices::ListPcscReaders(std::vector<std::wstring>&)
{
}

HRESULT CSystemServices::CreateAutomationObject(const wchar_t* progId, IDispatch** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    CLSID clsid;
    const HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr))
        return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(object));
}

HWND CSystemServices::ShowHtmlHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data)
{
    // The viewer is loaded on first use and stays for the life of the process.
    using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
    static const HtmlHelpFn htmlHelp = [] {
        HMODULE viewer = LoadLibraryW(L"hhctrl.ocx");
        return viewer ? reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(viewer, "HtmlHelpW"))) : nullptr;
    }();
    return htmlHelp ? htmlHelp(owner, file, command, data) : nullptr;
}

HRESULT CSystemServices::ShowTaskbarTab(HWND window, bool shown)
{
    // COM only for the call: the setting changes seldom, and the thread may not have it.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ITaskbarList* list = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList,
                                  reinterpret_cast<void**>(&list));
    if (SUCCEEDED(hr)) {
        hr = list->HrInit();
        if (SUCCEEDED(hr))
            hr = shown ? list->AddTab(window) : list->DeleteTab(window);
        list->Release();
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return hr;
}

ISystemServices& SystemServices()
{
    ISystemServices* test = g_test.load();
    return test ? *test : ApplicationSystemServices();
}

ISystemServices& ApplicationSystemServices()
{
    ISystemServices* application = g_application.load();
    return application ? *application : SystemOwnServices();
}

ISystemServices* SetApplicationSystemServices(ISystemServices* services)
{
    return g_application.exchange(services);
}

ISystemServices* SwapSystemServices(ISystemServices* services)
{
    return g_test.exchange(services);
}
