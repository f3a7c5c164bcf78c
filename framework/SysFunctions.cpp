#include "framework/SysFunctions.h"

#include <commctrl.h>
#include <propsys.h>
#include <cstring>
#include <type_traits>

#include "core/TextUtil.h"
#include "framework/KeyNames.h"

int FindTabByParam(HWND tabControl, LPARAM value)
{
    int count = static_cast<int>(SendMessageW(tabControl, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
    {
        TCITEMW item{};
        item.mask = TCIF_PARAM;
        if (SendMessageW(tabControl, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item)) && item.lParam == value)
            return i;
    }
    return -1;
}

int FindComboItemByParam(HWND comboBoxEx, LPARAM value)
{
    int count = static_cast<int>(SendMessageW(comboBoxEx, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
    {
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_LPARAM;
        item.iItem = i;
        if (SendMessageW(comboBoxEx, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) && item.lParam == value)
            return i;
    }
    return -1;
}

void BringWindowForward(HWND window)
{
    if (!window)
        return;
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    else if (!IsWindowVisible(window))
        ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
}

bool SetMenuHotkeyTexts(HMENU menu, const DWORD* entries, int count)
{
    constexpr int kRoom = 256;
    for (int i = 0; i < count; ++i)
    {
        const WORD hotkey = LOWORD(entries[i]);
        const UINT command = HIWORD(entries[i]);
        wchar_t buf[kRoom] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STRING;
        info.dwTypeData = buf;
        info.cch = kRoom;
        if (!GetMenuItemInfoW(menu, command, FALSE, &info))
            return false;
        std::wstring text(buf);
        std::wstring tail = L"\t";
        std::wstring keyText;
        HotkeyText(keyText, hotkey);
        tail += keyText;
        size_t tab = text.rfind(L'\t');
        if (tab != std::wstring::npos && text.compare(tab, std::wstring::npos, tail) == 0)
            continue;
        if (tab != std::wstring::npos)
            text.resize(tab);
        text += tail;
        if (text.size() > kRoom - 1)
            text.resize(kRoom - 1);
        MENUITEMINFOW write{};
        write.cbSize = sizeof write;
        write.fMask = MIIM_STRING;
        write.dwTypeData = text.data();
        if (!SetMenuItemInfoW(menu, command, FALSE, &write))
            return false;
    }
    return true;
}

namespace
{

using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
using GetModuleFileNameExFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);

DWORD ImagePathByQuery(DWORD processId, wchar_t* buffer)
{
    HMODULE kernel = GetModuleHandleW(L"Kernel32.dll");
    auto query = kernel ? reinterpret_cast<QueryFullProcessImageNameFn>(
                              reinterpret_cast<void*>(GetProcAddress(kernel, "QueryFullProcessImageNameW")))
                        : nullptr;
    if (!query)
        return 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return 0;
    DWORD size = MAX_PATH;
    DWORD result = query(process, 0, buffer, &size) ? size : 0;
    DWORD error = GetLastError();
    CloseHandle(process);
    SetLastError(error);
    return result;
}

DWORD ImagePathByPsapi(DWORD processId, wchar_t* buffer)
{
    HMODULE psapi = LoadLibraryW(L"Psapi.dll");
    if (!psapi)
        return 0;
    DWORD result = 0;
    auto get = reinterpret_cast<GetModuleFileNameExFn>(
        reinterpret_cast<void*>(GetProcAddress(psapi, "GetModuleFileNameExW")));
    HANDLE process = get ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId) : nullptr;
    if (process)
    {
        result = get(process, nullptr, buffer, MAX_PATH);
        DWORD error = GetLastError();
        CloseHandle(process);
        SetLastError(error);
    }
    DWORD error = GetLastError();
    FreeLibrary(psapi);
    SetLastError(error);
    return result;
}

}  // namespace

DWORD GetProcessImagePath(DWORD processId, wchar_t* buffer)
{
    buffer[0] = 0;
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = 6;
    DWORDLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    if (VerifyVersionInfoW(&info, VER_MAJORVERSION, mask))
        return ImagePathByQuery(processId, buffer);
    return ImagePathByPsapi(processId, buffer);
}

namespace
{

template <class Char>
std::wstring EscapeBreaks(const Char* text, size_t length)
{
    std::wstring out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i)
    {
        wchar_t c = static_cast<wchar_t>(static_cast<std::make_unsigned_t<Char>>(text[i]));
        if (c == L'\r')
            out += L"\\r";
        else if (c == L'\n')
            out += L"\\n";
        else
            out.push_back(c);
    }
    return out;
}

}  // namespace

std::wstring EscapeLineBreaks(const wchar_t* text, int length)
{
    if (!text)
        return std::wstring();
    return EscapeBreaks(text, length < 0 ? wcslen(text) : static_cast<size_t>(length));
}

std::wstring EscapeLineBreaksA(const char* text, int length)
{
    if (!text)
        return std::wstring();
    return EscapeBreaks(text, length < 0 ? strlen(text) : static_cast<size_t>(length));
}

std::wstring BytesToHexSpaced(const BYTE* bytes, int count)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring out;
    for (int i = 0; i < count; ++i)
    {
        if (i)
            out.push_back(L' ');
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0xF]);
    }
    return out;
}

namespace
{

// The title property of shell items ({F29F85E0-4FF9-1068-AB91-08002B27B3D9}, 2).
const PROPERTYKEY kTitleKey = {{0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}}, 2};

template <class T>
class CComPtrHolder
{
public:
    ~CComPtrHolder()
    {
        if (p)
            p->Release();
    }
    T* p = nullptr;
};

}  // namespace

HRESULT CreateAdminShellLink(const wchar_t* title, const wchar_t* iconPath, int iconIndex, IShellLinkW** link)
{
    if (!link)
        return E_POINTER;
    *link = nullptr;
    if (!title)
        return E_INVALIDARG;
    CComPtrHolder<IShellLinkW> shellLink;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&shellLink.p));
    if (FAILED(hr))
        return hr;
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(GetProgramModule(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return HRESULT_FROM_WIN32(n ? ERROR_INSUFFICIENT_BUFFER : GetLastError());
    if (FAILED(hr = shellLink.p->SetPath(path)))
    {
        DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : hr;  // never a failure reported as success
    }
    if (FAILED(hr = shellLink.p->SetArguments(L"/admin")))
        return hr;
    if (iconPath && FAILED(hr = shellLink.p->SetIconLocation(iconPath, iconIndex)))
        return hr;

    CComPtrHolder<IPropertyStore> store;
    if (FAILED(hr = shellLink.p->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store.p))))
        return hr;
    size_t bytes = (wcslen(title) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (!copy)
        return E_OUTOFMEMORY;
    memcpy(copy, title, bytes);
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = copy;
    hr = store.p->SetValue(kTitleKey, value);
    PropVariantClear(&value);
    if (FAILED(hr) || FAILED(hr = store.p->Commit()))
        return hr;
    *link = shellLink.p;
    shellLink.p = nullptr;
    return S_OK;
}
