// Path and folder helpers of core/File.h.
#include "core/File.h"
#include <shlobj.h>

namespace {

class CRegKey
{
public:
    CRegKey() = default;
    ~CRegKey()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    LSTATUS Open(HKEY parent, const wchar_t* name) { return RegOpenKeyExW(parent, name, 0, KEY_READ, &m_key); }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

bool IsDirectory(const std::wstring& path)
{
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void ListFilesByExtension(std::vector<std::wstring>& out, const std::wstring& folder,
                          const wchar_t* const extensions[3])
{
    std::wstring pattern = folder + L"\\*";
    if (pattern.size() >= MAX_PATH)
        return;
    CFindFile find;
    if (!find.FindFirst(pattern.c_str()))
        return;
    do
    {
        std::wstring path = folder.empty() ? std::wstring(find.GetFileName()) : folder + L"\\" + find.GetFileName();
        if (path.size() >= MAX_PATH)
            continue;  // beyond what the callers' 260-character paths can name
        if (find.IsDirectory())
        {
            if (!find.IsDots())
                ListFilesByExtension(out, folder + L"\\" + find.GetFileName(), extensions);
            continue;
        }
        if (extensions)
        {
            const wchar_t* ext = FindExtension(find.GetFileName());
            bool match = false;
            for (int i = 0; i < 3 && !match; ++i)
                match = extensions[i] && _wcsicmp(ext, extensions[i]) == 0;
            if (!match)
                continue;
        }
        out.push_back(path);
    } while (find.FindNext());
}

bool ComparePathsByComponent(const wchar_t* a, const wchar_t* b)
{
    for (;;)
    {
        const wchar_t* sa = wcschr(a, L'\\');
        const wchar_t* sb = wcschr(b, L'\\');
        if (!sa && !sb)
            return _wcsicmp(a, b) < 0;
        if (!sa)
            return false;
        if (!sb)
            return true;
        size_t la = static_cast<size_t>(sa - a), lb = static_cast<size_t>(sb - b);
        int c = _wcsnicmp(a, b, la < lb ? la : lb);
        if (c != 0)
            return c < 0;
        if (la != lb)
            return la < lb;
        a = sa + 1;
        b = sb + 1;
    }
}

const wchar_t* FindExtension(const wchar_t* path)
{
    const wchar_t* dot = nullptr;
    const wchar_t* p = path;
    for (; *p; ++p)
    {
        if (*p == L'\\')
            dot = nullptr;
        else if (*p == L'.')
            dot = p;
    }
    return dot ? dot : p;
}

const wchar_t* GetRelativeSubPath(const wchar_t* path, const wchar_t* base)
{
    size_t n = wcslen(base);
    while (n > 0 && base[n - 1] == L'\\')
        --n;
    size_t len = wcslen(path);
    if (len > n && path[n] == L'\\' && _wcsnicmp(path, base, n) == 0)
        return path + n + 1;
    return path + len;
}

void GetDriveAndDirectory(const wchar_t* path, std::wstring& out)
{
    out.clear();
    if (!path)
        return;
    std::wstring p = path;
    std::wstring drive;
    size_t start = 0;
    if (p.size() >= 2 && p[1] == L':')
    {
        drive = p.substr(0, 2);
        start = 2;
    }
    size_t last = p.find_last_of(L"\\/");
    std::wstring dir = (last != std::wstring::npos && last >= start) ? p.substr(start, last + 1 - start) : std::wstring();
    // The runtime's splitting holds at most 255 directory characters and gives nothing
    // when a part does not fit.
    if (dir.size() > 255)
        return;
    out = drive + dir;
}

void StripFileName(std::wstring& path)
{
    size_t pos = path.find_last_of(L"\\:");
    if (pos == std::wstring::npos)
        return;
    path.erase(path[pos] == L':' ? pos + 1 : pos);
}

namespace {

// Whether the share behind the server that rest begins with is "pipe" or "mailslot", any case.
bool IsPipeOrMailslotShare(const wchar_t* rest)
{
    const wchar_t* share = wcschr(rest, L'\\');
    if (!share)
        return false;
    ++share;
    const size_t n = wcscspn(share, L"\\");
    return (n == 4 && _wcsnicmp(share, L"pipe", 4) == 0) || (n == 8 && _wcsnicmp(share, L"mailslot", 8) == 0);
}

// "\\.\" is the device namespace. "\\?\" (and "\??\", which the system passes on as it stands)
// hands what follows to the object manager unparsed, where a device is as reachable as a file:
// only a drive, a UNC share or a volume behind the prefix names a file. A UNC share "pipe" or
// "mailslot" is that computer's pipe or mailslot file system, never a file share.
bool IsDevicePath(const std::wstring& path)
{
    if (path.size() < 4 || path[0] != L'\\')
        return false;
    if (path[1] == L'\\' && path[2] == L'.' && path[3] == L'\\')
        return true;
    const bool verbatim = (path[1] == L'\\' || path[1] == L'?') && path[2] == L'?' && path[3] == L'\\';
    if (!verbatim)
        return path[1] == L'\\' && IsPipeOrMailslotShare(path.c_str() + 2);
    const wchar_t* rest = path.c_str() + 4;
    const wchar_t drive = static_cast<wchar_t>(rest[0] | 0x20);
    if (drive >= L'a' && drive <= L'z' && rest[1] == L':' && rest[2] == L'\\')
        return false;
    if (_wcsnicmp(rest, L"UNC\\", 4) == 0)
        return IsPipeOrMailslotShare(rest + 4);
    if (_wcsnicmp(rest, L"Volume{", 7) == 0) {
        const wchar_t* close = wcschr(rest, L'}');
        if (close && close[1] == L'\\')
            return false;
    }
    return true;
}

} // namespace

bool IsReservedDeviceName(const std::wstring& path)
{
    // Which names open a device differs between Windows versions (Windows 11 opens "nul.txt"
    // as a file), so the running system's own full form decides, by the same rule as the path
    // as given: the system puts a drive before "\??\", and makes "\\?\" of any other mix of
    // slashes in that prefix ("\\?/NUL", "//?/COM1").
    if (path.empty())
        return false;
    if (IsDevicePath(path))
        return true;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return false;
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n);
    }
    return IsDevicePath(full);
}

bool ExpandEnvStrings(const wchar_t* text, std::wstring& out)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;)
    {
        DWORD n = ExpandEnvironmentStringsW(text, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return false;
        if (n <= buffer.size())
        {
            buffer.resize(n - 1);
            out = std::move(buffer);
            return true;
        }
        buffer.resize(n);
    }
}

void GetRoamingAppDataPath(std::wstring& out)
{
    out.clear();
    PWSTR p = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &p)) && p)
        out = p;
    CoTaskMemFree(p);
}

bool CreateDirectoryPath(const std::wstring& path)
{
    if (path.empty() || IsDirectory(path))
        return true;
    std::wstring p = path;
    while (!p.empty() && p.back() == L'\\')
        p.pop_back();
    size_t slash = p.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return true;
    std::wstring parent = p.substr(0, slash);
    if (!IsDirectory(parent) && !CreateDirectoryPath(parent))
        return false;
    return CreateDirectoryW(p.c_str(), nullptr) != FALSE;
}

bool FindAppPath(const wchar_t* exeName, std::wstring& out)
{
    static const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (HKEY root : roots)
    {
        CRegKey appPaths;
        if (appPaths.Open(root, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths") != ERROR_SUCCESS)
            continue;
        for (DWORD i = 0;; ++i)
        {
            wchar_t name[256];
            DWORD nameLen = 256;
            LSTATUS rc = RegEnumKeyExW(appPaths.Get(), i, name, &nameLen, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
            if (rc != ERROR_SUCCESS)
            {
                SetLastError(static_cast<DWORD>(rc));
                return false;
            }
            if (_wcsicmp(name, exeName) != 0)
                continue;
            CRegKey app;
            if (app.Open(appPaths.Get(), name) != ERROR_SUCCESS)
                continue;
            wchar_t value[520];
            DWORD type = 0, size = sizeof(value);
            if (RegQueryValueExW(app.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
                ERROR_SUCCESS)
                continue;
            if (type != REG_SZ && type != REG_EXPAND_SZ)
                continue;
            size_t chars = size / sizeof(wchar_t);
            if (chars == 0)
            {
                out.clear();
                return true;
            }
            if (value[chars - 1] != L'\0')
                continue;
            out.assign(value, chars - 1);
            return true;
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
}
