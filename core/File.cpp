// CFile and CFindFile of core/File.h.
#include "core/File.h"
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
