#include "core/SysUtil.h"

#include <shellapi.h>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <memory>
#include <type_traits>
#include <locale.h>
#include <vector>

#include "core/AppContext.h"
#include "core/Exceptions.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"

const wchar_t kAutorunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kAutorunValueName[] = L"Norvane2";

// ---- CTimeValue ----

CTimeValue::CTimeValue(const SYSTEMTIME& st)
{
    if (st.wYear < 1900)
        return;
    tm t{};
    t.tm_sec = st.wSecond;
    t.tm_min = st.wMinute;
    t.tm_hour = st.wHour;
    t.tm_mday = st.wDay;
    t.tm_mon = st.wMonth - 1;
    t.tm_year = st.wYear - 1900;
    t.tm_isdst = -1;
    m_time = _mktime64(&t);
}

CTimeValue& CTimeValue::SetCurrentTime()
{
    m_time = SystemServices().CurrentTime();
    return *this;
}

bool CTimeValue::SetSystemTime(const SYSTEMTIME& st)
{
    if (st.wDay < 1 || st.wDay > 31 || st.wMonth < 1 || st.wMonth > 12 || st.wYear < 1900)
        return false;
    CTimeValue v(st);
    if (v.m_time == -1)
        return false;
    m_time = v.m_time;
    return true;
}

bool CTimeValue::GetSystemTime(SYSTEMTIME& st) const
{
    tm t{};
    if (_localtime64_s(&t, &m_time) != 0)
        return false;
    st.wYear = static_cast<WORD>(t.tm_year + 1900);
    st.wMonth = static_cast<WORD>(t.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(t.tm_wday);
    st.wDay = static_cast<WORD>(t.tm_mday);
    st.wHour = static_cast<WORD>(t.tm_hour);
    st.wMinute = static_cast<WORD>(t.tm_min);
    st.wSecond = static_cast<WORD>(t.tm_sec);
    st.wMilliseconds = 0;
    return true;
}

int CTimeValue::Format(const wchar_t* format, std::wstring& out) const
{
    out.clear();
    tm t{};
    if (!format || _localtime64_s(&t, &m_time) != 0)
        return 0;
    wchar_t buf[128];
    size_t n = wcsftime(buf, 128, format, &t);
    out.assign(buf, n);
    return static_cast<int>(n);
}

// ---- CModule ----

bool CModule::Load(const wchar_t* path, DWORD flags)
{
    Free();
    m_module = LoadLibraryExW(path, nullptr, flags);
    return m_module != nullptr;
}

void CModule::Free()
{
    if (m_module)
    {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
}

HMODULE CModule::Detach()
{
    HMODULE m = m_module;
    m_module = nullptr;
    return m;
}

// ---- Shell, clipboard, paths ----

namespace
{

// Both shell starts go through the system services, so that tests see what would start.
void ShellExecuteVerb(const wchar_t* verb, const wchar_t* file, const wchar_t* parameters, const wchar_t* directory)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE;
    CAppContext* app = GetAppContext();
    info.hwnd = app ? app->GetMainFrameWindow() : nullptr;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = SW_SHOWNORMAL;
    if (!SystemServices().ExecuteShell(info))
        ThrowOSError(GetLastError());
}

} // namespace

void ShellOpen(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory)
{
    ShellExecuteVerb(L"open", file, parameters, directory);
}

void RunProgram(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory)
{
    ShellExecuteVerb(IsWindowsVistaOrLater() ? L"runas" : L"open", file, parameters, directory);
}

namespace
{

// Fails the clipboard call with the error of the failing step, kept across CloseClipboard.
bool ClipboardFailure()
{
    DWORD error = GetLastError();
    CloseClipboard();
    SetLastError(error);
    return false;
}

// Clipboard viewers and managers open the clipboard for a moment after every change, and
// nothing announces when they close it again: the open is tried a few times, about 100 ms in
// all, before the holder's error is reported.
constexpr int kClipboardOpenTries = 10;
constexpr DWORD kClipboardRetryMs = 10;

bool OpenClipboardWithRetry(HWND owner)
{
    for (int attempt = 1;; ++attempt)
    {
        if (OpenClipboard(owner))
            return true;
        const DWORD error = GetLastError();
        if (attempt == kClipboardOpenTries)
        {
            SetLastError(error ? error : ERROR_ACCESS_DENIED);
            return false;
        }
        Sleep(kClipboardRetryMs);
    }
}

struct WindowCloser
{
    void operator()(HWND window) const { DestroyWindow(window); }
};

}  // namespace

bool SetClipboardText(HWND owner, const wchar_t* text, int length)
{
    if (!text)
        text = L"";
    size_t count = length < 0 ? wcslen(text) : static_cast<size_t>(length);
    // The clipboard is always opened for a window: after an open without one, Windows lets
    // SetClipboardData fail, and Wine lets another thread's open without one take the open
    // clipboard over between our EmptyClipboard and SetClipboardData.
    std::unique_ptr<std::remove_pointer_t<HWND>, WindowCloser> ownWindow;
    if (!owner)
    {
        ownWindow.reset(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
        if (!ownWindow)
            return false;
        owner = ownWindow.get();
    }
    if (!OpenClipboardWithRetry(owner))
        return false;
    if (!EmptyClipboard())
        return ClipboardFailure();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (count + 1) * sizeof(wchar_t));
    if (!block)
        return ClipboardFailure();
    auto* dest = static_cast<wchar_t*>(GlobalLock(block));
    if (!dest)
    {
        DWORD error = GetLastError();
        GlobalFree(block);
        SetLastError(error);
        return ClipboardFailure();
    }
    memcpy(dest, text, count * sizeof(wchar_t));
    dest[count] = 0;
    GlobalUnlock(block);
    if (!SetClipboardData(CF_UNICODETEXT, block))
    {
        DWORD error = GetLastError();
        GlobalFree(block);  // the clipboard did not take it
        SetLastError(error);
        return ClipboardFailure();
    }
    CloseClipboard();
    return true;
}

bool GetModuleFilePath(std::wstring& out)
{
    out.clear();
    std::vector<wchar_t> buf;
    for (DWORD size = MAX_PATH; size <= 16640; size *= 2)
    {
        buf.resize(size);
        DWORD n = GetModuleFileNameW(GetProgramModule(), buf.data(), size);
        if (n == 0)
            return false;
        if (n < size)
        {
            out.assign(buf.data(), n);
            return true;
        }
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
}

// ---- Automation ----

HRESULT DispatchInvokeArgs(WORD flags, VARIANT* result, IDispatch* object, const wchar_t* name, int count,
                           const VARIANT* args)
{
    if (!object || !name || count < 0 || (count > 0 && !args))
        return E_INVALIDARG;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    // Copies by value: the caller keeps ownership of what the variants point to.
    std::vector<VARIANT> list(args, args + count);
    DISPID namedPut = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.cArgs = static_cast<UINT>(count);
    params.rgvarg = count ? list.data() : nullptr;
    if (flags & DISPATCH_PROPERTYPUT)
    {
        params.cNamedArgs = 1;
        params.rgdispidNamedArgs = &namedPut;
    }
    EXCEPINFO info{};
    UINT argError = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, flags, &params, result, &info, &argError);
    // The exception record's texts belong to the caller of Invoke.
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return hr;
}

// ---- System state ----

bool IsWindowsVistaOrLater()
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = 6;
    DWORDLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION, mask) != FALSE;
}

HRESULT IsProcessElevated(bool* elevated)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return E_FAIL;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    if (!ok)
        return E_FAIL;
    bool yes = elevation.TokenIsElevated != 0;
    if (elevated)
        *elevated = yes;
    return yes ? S_OK : S_FALSE;
}

bool SetThreadLanguage(LANGID languageId, bool globalLocale)
{
    LCID lcid = MAKELCID(languageId, SORT_DEFAULT);
    wchar_t language[256], country[256];
    bool localeSet = false;
    if (GetLocaleInfoW(lcid, LOCALE_SENGLANGUAGE, language, 256) && GetLocaleInfoW(lcid, LOCALE_SENGCOUNTRY, country, 256))
    {
        std::wstring name = std::wstring(language) + L"_" + country;
        // The C++ library knows only the "C" locale by name here, so the runtime's own call sets
        // it; a name the runtime does not know leaves the locale as it was. A worker switches its
        // own thread to a locale of its own first, so the UI thread's stays untouched.
        if (globalLocale || _configthreadlocale(_ENABLE_PER_THREAD_LOCALE) != -1)
            localeSet = _wsetlocale(LC_ALL, name.c_str()) != nullptr;
    }
    if (IsWindowsVistaOrLater())
        SetThreadUILanguage(languageId);
    else
        SetThreadLocale(lcid);
    return localeSet;
}

// ---- Autostart ----

bool QueryAutorunValue(bool& present)
{
    present = false;
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, kAutorunKeyPath, 0, KEY_QUERY_VALUE, &key);
    if (rc == ERROR_FILE_NOT_FOUND)
        return true;
    if (rc != ERROR_SUCCESS)
    {
        SetLastError(rc);
        return false;
    }
    DWORD type = 0;
    rc = RegQueryValueExW(key, kAutorunValueName, nullptr, &type, nullptr, nullptr);
    RegCloseKey(key);
    if (rc == ERROR_FILE_NOT_FOUND)
        return true;
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
    {
        SetLastError(rc);
        return false;
    }
    present = type == REG_SZ;
    return true;
}

bool WriteAutorunValue(const wchar_t* commandLine)
{
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, kAutorunKeyPath, 0, KEY_SET_VALUE, &key);
    if (rc != ERROR_SUCCESS)
    {
        SetLastError(rc);
        return false;
    }
    if (commandLine)
        rc = RegSetValueExW(key, kAutorunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(commandLine),
                            static_cast<DWORD>((wcslen(commandLine) + 1) * sizeof(wchar_t)));
    else
    {
        rc = RegDeleteValueW(key, kAutorunValueName);
        if (rc == ERROR_FILE_NOT_FOUND)
            rc = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
    {
        SetLastError(rc);
        return false;
    }
    return true;
}

// ---- Checksums ----

BYTE DallasCrc8(const BYTE* bytes, int length)
{
    BYTE crc = 0;
    for (int i = 0; i < length; ++i)
    {
        BYTE b = bytes[i];
        for (int bit = 0; bit < 8; ++bit, b >>= 1)
            crc = ((crc ^ b) & 1) ? static_cast<BYTE>((crc >> 1) ^ 0x8C) : static_cast<BYTE>(crc >> 1);
    }
    return crc;
}
