#include "core/File.h"
#include <shlobj.h>
#include <shlwapi.h>

namespace {

DWORD AccessFromMode(UINT mode)
{
    switch (mode & CFile::modeAccessMask)
    {
    case CFile::modeRead: return GENERIC_READ;
    case CFile::modeWrite: return GENERIC_WRITE;
    case CFile::modeReadWrite: return GENERIC_READ | GENERIC_WRITE;
    default: return 0;
    }
}

DWORD ShareFromMode(UINT mode)
{
    switch (mode & CFile::shareMask)
    {
    case CFile::shareRead: return FILE_SHARE_READ;
    case CFile::shareWrite: return FILE_SHARE_WRITE;
    case CFile::shareReadWrite: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;
    }
}

DWORD CreationFromMode(UINT mode)
{
    if (!(mode & CFile::modeCreate))
        return OPEN_EXISTING;
    return (mode & CFile::modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
}

DWORD FlagsFromMode(UINT mode)
{
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (mode & CFile::osNoBuffer)
        flags |= FILE_FLAG_NO_BUFFERING;
    if (mode & CFile::osWriteThrough)
        flags |= FILE_FLAG_WRITE_THROUGH;
    if (mode & CFile::osRandomAccess)
        flags |= FILE_FLAG_RANDOM_ACCESS;
    if (mode & CFile::osSequentialScan)
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
    return flags;
}

void FillError(CFileException* error, int cause, LONG osError, const wchar_t* path)
{
    if (!error)
        return;
    error->m_cause = cause;
    error->m_osError = osError;
    error->m_fileName = path ? path : L"";
}

void FillErrorFromLastError(CFileException* error, const wchar_t* path)
{
    LONG code = static_cast<LONG>(GetLastError());
    FillError(error, CFileException::OsErrorToCause(code), code, path);
}

// Makes the full path of an open request; 260-character buffers, longer results refused.
bool MakeFullPath(const wchar_t* path, std::wstring& full, CFileException* error)
{
    wchar_t buffer[MAX_PATH];
    DWORD n = GetFullPathNameW(path, MAX_PATH, buffer, nullptr);
    if (n == 0)
    {
        FillErrorFromLastError(error, path);
        return false;
    }
    if (n >= MAX_PATH)
    {
        FillError(error, CFileException::badPath, -1, path);
        return false;
    }
    wchar_t root[MAX_PATH];
    lstrcpynW(root, buffer, MAX_PATH);
    PathStripToRootW(root);
    if (PathIsUNCW(root))
    {
        full = buffer;
        return true;
    }
    DWORD flags = 0;
    if (!GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    {
        FillErrorFromLastError(error, path);
        return false;
    }
    if (!(flags & FILE_CASE_PRESERVED_NAMES))
        CharUpperW(buffer);
    full = buffer;
    if (!(flags & FILE_UNICODE_ON_DISK))
    {
        // Take the name as the directory stores it.
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW(buffer, &data);
        if (h != INVALID_HANDLE_VALUE)
        {
            FindClose(h);
            size_t slash = full.find_last_of(L'\\');
            if (slash == std::wstring::npos || slash + 1 == full.size())
            {
                FillError(error, CFileException::badPath, -1, path);
                return false;
            }
            full.replace(slash + 1, std::wstring::npos, data.cFileName);
            if (full.size() >= MAX_PATH)
            {
                FillError(error, CFileException::badPath, -1, path);
                return false;
            }
        }
    }
    return true;
}

// Closes a raw handle on every exit path.
class CHandleHolder
{
public:
    explicit CHandleHolder(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~CHandleHolder() { Close(); }
    CHandleHolder(const CHandleHolder&) = delete;
    CHandleHolder& operator=(const CHandleHolder&) = delete;
    void Reset(HANDLE h)
    {
        Close();
        m_h = h;
    }
    void Close()
    {
        if (m_h != INVALID_HANDLE_VALUE && m_h != nullptr)
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }
    HANDLE Get() const { return m_h; }
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

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

}  // namespace

// ---- CFile

CFile::~CFile()
{
    if (m_handle != INVALID_HANDLE_VALUE)
        CloseHandle(m_handle);
}

void CFile::ThrowLastError() const
{
    ThrowFileExceptionFromOSError(static_cast<LONG>(GetLastError()), m_path);
}

bool CFile::Open(const wchar_t* path, UINT mode, CFileException* error)
{
    try
    {
        Close();
    }
    catch (const CFileException& e)
    {
        if (error)
            *error = e;
        return false;
    }
    m_path.clear();
    if (!path || wcslen(path) >= MAX_PATH)
    {
        FillError(error, CFileException::badPath, -1, path);
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::wstring full;
    if (!MakeFullPath(path, full, error))
        return false;
    m_path = full;

    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, (mode & modeNoInherit) ? FALSE : TRUE};
    HANDLE h = CreateFileW(m_path.c_str(), AccessFromMode(mode), ShareFromMode(mode), &sa, CreationFromMode(mode),
                           FlagsFromMode(mode), nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        DWORD code = GetLastError();
        FillError(error, CFileException::OsErrorToCause(static_cast<LONG>(code)), static_cast<LONG>(code), path);
        m_path.clear();
        SetLastError(code);
        return false;
    }
    m_handle = h;
    return true;
}

void CFile::Close()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return;
    HANDLE h = m_handle;
    std::wstring path;
    path.swap(m_path);
    m_handle = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h))
        ThrowFileExceptionFromOSError(static_cast<LONG>(GetLastError()), path);
}

ULONGLONG CFile::GetPosition() const
{
    LARGE_INTEGER zero = {}, pos = {};
    if (!SetFilePointerEx(m_handle, zero, &pos, FILE_CURRENT))
        ThrowLastError();
    return static_cast<ULONGLONG>(pos.QuadPart);
}

ULONGLONG CFile::GetLength() const
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(m_handle, &size))
        ThrowLastError();
    return static_cast<ULONGLONG>(size.QuadPart);
}

void CFile::SetLength(ULONGLONG length)
{
    Seek(static_cast<LONGLONG>(length), FILE_BEGIN);
    if (!SetEndOfFile(m_handle))
        ThrowLastError();
}

ULONGLONG CFile::Seek(LONGLONG offset, DWORD origin)
{
    LARGE_INTEGER distance, pos = {};
    distance.QuadPart = offset;
    if (!SetFilePointerEx(m_handle, distance, &pos, origin))
        ThrowLastError();
    return static_cast<ULONGLONG>(pos.QuadPart);
}

UINT CFile::Read(void* buffer, UINT count)
{
    if (count == 0)
        return 0;
    DWORD read = 0;
    if (!ReadFile(m_handle, buffer, count, &read, nullptr))
        ThrowLastError();
    return read;
}

void CFile::Write(const void* buffer, UINT count)
{
    if (count == 0)
        return;
    DWORD written = 0;
    if (!WriteFile(m_handle, buffer, count, &written, nullptr))
        ThrowLastError();
    if (written != count)
        ThrowFileException(CFileException::diskFull, -1, m_path);
}

void CFile::LockRange(ULONGLONG position, ULONGLONG count)
{
    if (!LockFile(m_handle, static_cast<DWORD>(position), static_cast<DWORD>(position >> 32), static_cast<DWORD>(count),
                  static_cast<DWORD>(count >> 32)))
        ThrowLastError();
}

void CFile::UnlockRange(ULONGLONG position, ULONGLONG count)
{
    if (!UnlockFile(m_handle, static_cast<DWORD>(position), static_cast<DWORD>(position >> 32),
                    static_cast<DWORD>(count), static_cast<DWORD>(count >> 32)))
        ThrowLastError();
}

void CFile::Flush()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return;
    if (!FlushFileBuffers(m_handle))
        ThrowLastError();
}

// ---- CFindFile

bool CFindFile::FindFirst(const wchar_t* pattern)
{
    Close();
    m_handle = FindFirstFileW(pattern, &m_data);
    return m_handle != INVALID_HANDLE_VALUE;
}

bool CFindFile::FindNext()
{
    return m_handle != INVALID_HANDLE_VALUE && FindNextFileW(m_handle, &m_data);
}

void CFindFile::Close()
{
    if (m_handle != INVALID_HANDLE_VALUE)
    {
        FindClose(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
}

bool CFindFile::IsDots() const
{
    const wchar_t* n = m_data.cFileName;
    return n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0));
}

// ---- path helpers

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

namespace {
bool IsDirectory(const std::wstring& path)
{
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

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

// ---- text files

bool DetectUtf8Bom(CFile& file, int& encoding, int& bomSize)
{
    file.SeekToBegin();
    BYTE bom[3] = {};
    UINT n = file.Read(bom, 3);
    if (n == 3 && bom[0] == 0xEF && bom[1] == 0xBB && bom[2] == 0xBF)
    {
        encoding = 1;
        bomSize = 3;
        return true;
    }
    bomSize = 0;
    return false;
}

void ReadUtf8TextFile(const std::wstring& path, std::wstring& out)
{
    CFile file;
    CFileException error;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareRead, &error))
        throw error;
    ULONGLONG size = file.GetLength();
    if (size > 0x7FFFFFFF)
        ThrowFileException(CFileException::genericException, -1, path);
    std::string data(static_cast<size_t>(size), '\0');
    UINT n = file.Read(data.data(), static_cast<UINT>(size));
    data.resize(n);
    file.Close();
    size_t skip = (data.size() >= 3 && static_cast<BYTE>(data[0]) == 0xEF && static_cast<BYTE>(data[1]) == 0xBB &&
                   static_cast<BYTE>(data[2]) == 0xBF)
                      ? 3
                      : 0;
    out.clear();
    if (data.size() > skip)
        MultiByteToWString(data.data() + skip, static_cast<int>(data.size() - skip), out, CP_UTF8);
}

namespace {

WriteStepHook g_writeStepHook = nullptr;

// Deletes the temporary file unless it was moved into place.
class CTempFileGuard
{
public:
    explicit CTempFileGuard(std::wstring path) : m_path(std::move(path)) {}
    ~CTempFileGuard()
    {
        if (!m_path.empty())
            DeleteFileW(m_path.c_str());
    }
    CTempFileGuard(const CTempFileGuard&) = delete;
    CTempFileGuard& operator=(const CTempFileGuard&) = delete;
    void Release() { m_path.clear(); }

private:
    std::wstring m_path;
};

// A unique file name in the target's own folder, so that the final move is a rename on one
// volume. The file is created empty.
std::wstring MakeTempFileBeside(const std::wstring& path)
{
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (n == 0)
        ThrowFileExceptionFromOSError(static_cast<LONG>(GetLastError()), path);
    if (n >= MAX_PATH)
        ThrowFileException(CFileException::badPath, -1, path);
    std::wstring folder = full;
    size_t slash = folder.find_last_of(L'\\');
    folder.erase(slash == std::wstring::npos ? 0 : slash + 1);
    wchar_t temp[MAX_PATH];
    if (folder.size() >= MAX_PATH - 14 || !GetTempFileNameW(folder.c_str(), L"nv", 0, temp))
    {
        DWORD code = GetLastError();
        ThrowFileExceptionFromOSError(static_cast<LONG>(code ? code : ERROR_FILENAME_EXCED_RANGE), path);
    }
    return temp;
}

}  // namespace

void SetUtf8WriteStepHook(WriteStepHook hook)
{
    g_writeStepHook = hook;
}

void WriteUtf8TextFile(const std::wstring& path, const wchar_t* text, int length)
{
    int count = text ? (length < 0 ? static_cast<int>(wcslen(text)) : length) : 0;
    std::string utf8;
    if (count > 0 && WStringToMultiByte(text, count, utf8, CP_UTF8) == 0)
        ThrowFileExceptionFromOSError(static_cast<LONG>(GetLastError()), path);

    std::wstring tempPath = MakeTempFileBeside(path);
    CTempFileGuard guard(tempPath);
    {
        CFile file;
        CFileException error;
        if (!file.Open(tempPath.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareRead, &error))
            throw error;
        if (!utf8.empty())
        {
            static const BYTE bom[3] = {0xEF, 0xBB, 0xBF};
            file.Write(bom, 3);
            file.Write(utf8.data(), static_cast<UINT>(utf8.size()));
        }
        // The content must be on disk before the name points at it.
        file.Flush();
        file.Close();
    }
    if (g_writeStepHook)
        g_writeStepHook(tempPath);
    if (!MoveFileExW(tempPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ThrowFileExceptionFromOSError(static_cast<LONG>(GetLastError()), path);
    guard.Release();
}

// ---- log append

std::wstring GetRotatedLogName(const std::wstring& path)
{
    size_t sep = path.find_last_of(L"\\:");
    size_t dot = path.find_last_of(L'.');
    std::wstring base = (dot != std::wstring::npos && (sep == std::wstring::npos || dot > sep)) ? path.substr(0, dot) : path;
    return base + L"_old.log";
}

namespace {
HANDLE OpenLogFile(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}
}  // namespace

bool AppendToLogFile(const char* bytes, const std::wstring& path, int length, int limitMegabytes)
{
    CHandleHolder file(OpenLogFile(path));
    if (!file.IsValid())
        return false;
    LARGE_INTEGER size = {};
    if (limitMegabytes >= 0 && GetFileSizeEx(file.Get(), &size) && size.QuadPart / 1048576 >= limitMegabytes)
    {
        file.Close();
        std::wstring old = GetRotatedLogName(path);
        DWORD attributes = GetFileAttributesW(old.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW(old.c_str());
        // A failed rename keeps appending to the full file rather than losing the line.
        MoveFileW(path.c_str(), old.c_str());
        file.Reset(OpenLogFile(path));
        if (!file.IsValid())
            return false;
    }
    DWORD count = bytes ? static_cast<DWORD>(length < 0 ? strlen(bytes) : static_cast<size_t>(length)) : 0;
    LARGE_INTEGER zero = {}, end = {};
    if (!SetFilePointerEx(file.Get(), zero, &end, FILE_END))
        return false;
    bool locked = count > 0 && LockFile(file.Get(), end.LowPart, static_cast<DWORD>(end.HighPart), count, 0);
    DWORD written = 0;
    BOOL ok = count == 0 || WriteFile(file.Get(), bytes, count, &written, nullptr);
    DWORD writeError = ok ? ERROR_SUCCESS : GetLastError();
    if (locked)
        UnlockFile(file.Get(), end.LowPart, static_cast<DWORD>(end.HighPart), count, 0);
    file.Close();
    if (!ok || written != count)
    {
        SetLastError(ok ? ERROR_DISK_FULL : writeError);
        return false;
    }
    return true;
}
