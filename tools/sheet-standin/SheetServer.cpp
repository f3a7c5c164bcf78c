// The stand-in as a local automation server. "/RegServer" registers it for both program ids,
// "/UnregServer" removes that; started by COM ("-Embedding") it serves one application object
// and ends when that object and everything it gave out are released. After its one object it
// takes its class off the table, so that every client gets a server of its own, started with
// the client's environment (log path, failures). A server ends with the client that started
// it, so that none outlives a client that crashed or was ended.
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>
#include <string>

#include "tools/sheet-standin/SheetStandIn.h"

namespace {

DWORD g_mainThread = 0;
bool g_used = false;
DWORD g_cookies[2] = {0, 0};

void RevokeClasses()
{
    for (DWORD& cookie : g_cookies)
        if (cookie) {
            CoRevokeClassObject(cookie);
            cookie = 0;
        }
}

void OnIdle()
{
    if (g_used)
        PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
}

class CFactory final : public IClassFactory
{
public:
    explicit CFactory(SheetFlavour flavour) : m_flavour(flavour) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Lives as long as the process.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (g_used)
            return CO_E_SERVER_STOPPING;
        IDispatch* object = nullptr;
        HRESULT hr = CreateSheetStandIn(m_flavour, SheetStandInOptionsFromEnvironment(), &object);
        if (FAILED(hr))
            return hr;
        g_used = true;
        RevokeClasses();
        hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    SheetFlavour m_flavour;
};

std::wstring GuidText(const CLSID& clsid)
{
    wchar_t text[64];
    StringFromGUID2(clsid, text, 64);
    return text;
}

bool SetValue(const std::wstring& key, const std::wstring& value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

int Register(bool add)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const struct
    {
        const CLSID& clsid;
        const wchar_t* progId;
    } classes[] = {{CLSID_SheetStandInExcel, kSheetStandInExcelProgId}, {CLSID_SheetStandInCalc, kSheetStandInCalcProgId}};
    bool ok = true;
    for (const auto& c : classes) {
        const std::wstring clsidKey = L"CLSID\\" + GuidText(c.clsid);
        if (add) {
            ok = SetValue(clsidKey, L"Norvane spreadsheet stand-in") &&
                 SetValue(clsidKey + L"\\LocalServer32", L"\"" + std::wstring(path) + L"\"") &&
                 SetValue(clsidKey + L"\\ProgID", c.progId) &&
                 SetValue(std::wstring(c.progId) + L"\\CLSID", GuidText(c.clsid)) && ok;
        } else {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, clsidKey.c_str());
            RegDeleteTreeW(HKEY_CLASSES_ROOT, c.progId);
        }
    }
    return ok ? 0 : 1;
}

// The process that started this one (the client, as the system starts a local server from the
// client's process here), opened to wait on; nullptr when it cannot be found.
HANDLE OpenParentProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return nullptr;
    DWORD parent = 0;
    PROCESSENTRY32W entry{sizeof entry};
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            parent = entry.th32ParentProcessID;
            break;
        }
    CloseHandle(snapshot);
    return parent ? OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    const std::wstring line = commandLine ? commandLine : L"";
    if (line.find(L"RegServer") != std::wstring::npos && line.find(L"Unreg") == std::wstring::npos)
        return Register(true);
    if (line.find(L"UnregServer") != std::wstring::npos)
        return Register(false);

    g_mainThread = GetCurrentThreadId();
    if (FAILED(CoInitialize(nullptr)))
        return 2;
    SetSheetStandInIdleCallback(OnIdle);
    static CFactory excel(SheetFlavour::Excel), calc(SheetFlavour::Calc);
    CoRegisterClassObject(CLSID_SheetStandInExcel, &excel, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &g_cookies[0]);
    CoRegisterClassObject(CLSID_SheetStandInCalc, &calc, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &g_cookies[1]);
    // A server nobody asks for within a minute ends by itself.
    SetTimer(nullptr, 0, 60000, nullptr);
    HANDLE client = OpenParentProcess();
    for (bool serving = true; serving;) {
        const DWORD w = MsgWaitForMultipleObjects(client ? 1 : 0, &client, FALSE, INFINITE, QS_ALLINPUT);
        if (client && w == WAIT_OBJECT_0)
            break;
        MSG msg;
        while (serving && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT || (msg.message == WM_TIMER && msg.hwnd == nullptr && !g_used))
                serving = false;
            else
                DispatchMessageW(&msg);
        }
    }
    if (client)
        CloseHandle(client);
    RevokeClasses();
    CoUninitialize();
    return 0;
}
