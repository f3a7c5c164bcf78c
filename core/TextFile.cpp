// Whole-file UTF-8 text and the rotating log append of core/File.h.
#include "core/File.h"

#include <cwchar>
#include <cwctype>

#include "core/AppLog.h"
#include "core/Handle.h"
#include "core/SystemServices.h"

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

void ReadTextFile(const std::wstring& path, bool& utf8, std::wstring& out)
{
    CFile file;
    CFileException error;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareRead, &error))
        throw error;
    ULONGLONG size = file.GetLength();
    if (size > 0x7FFFFFFF)
        ThrowFileException(CFileException::genericException, -1, path);
    std::string data(static_cast<size_t>(size), '\0');
    UINT n = data.empty() ? 0 : file.Read(data.data(), static_cast<UINT>(size));
    data.resize(n);
    file.Close();
    size_t skip = 0;
    if (data.size() >= 3 && static_cast<BYTE>(data[0]) == 0xEF && static_cast<BYTE>(data[1]) == 0xBB &&
        static_cast<BYTE>(data[2]) == 0xBF) {
        utf8 = true;
        skip = 3;
    }
    out.clear();
    if (data.size() > skip)
        MultiByteToWString(data.data() + skip, static_cast<int>(data.size() - skip), out, utf8 ? CP_UTF8 : CP_ACP);
}

void ReadUtf8TextFile(const std::wstring& path, std::wstring& out)
{
    bool utf8 = true;
    ReadTextFile(path, utf8, out);
}

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

namespace {

// The names GetTempFileNameW gives with the prefix "nv": "nv", the unique number in up to
// four hexadecimal digits, ".tmp" (in either case).
bool IsOwnTempFileName(const wchar_t* name)
{
    const size_t length = wcslen(name);
    if (length < 7 || length > 10 || _wcsnicmp(name, L"nv", 2) != 0 || _wcsicmp(name + length - 4, L".tmp") != 0)
        return false;
    for (size_t i = 2; i < length - 4; ++i)
        if (!iswxdigit(name[i]))
            return false;
    return true;
}

ULONGLONG FileTimeValue(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

int RemoveStaleTempFiles(const std::wstring& folder, DWORD minAgeMs)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\nv*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FILETIME nowTime;
    GetSystemTimeAsFileTime(&nowTime);
    const ULONGLONG now = FileTimeValue(nowTime);
    const ULONGLONG minAge = static_cast<ULONGLONG>(minAgeMs) * 10000;  // in 100 ns
    int removed = 0;
    do
    {
        const ULONGLONG written = FileTimeValue(found.ftLastWriteTime);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsOwnTempFileName(found.cFileName) ||
            written > now || now - written <= minAge)
            continue;
        const std::wstring path = folder + L"\\" + found.cFileName;
        if (DeleteFileW(path.c_str()))
        {
            ++removed;
            continue;
        }
        const DWORD error = GetLastError();
        CAppContext* app = GetAppContext();
        if (app && app->IsLogged(LOG_THRESHOLD_WARNING))
            LogMessage(app, nullptr, LOG_WARNING, L"%s not removed (error %lu)", path.c_str(), error);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return removed;
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
    if (!SystemServices().MoveFileOver(tempPath, path))
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
    CHandle file(OpenLogFile(path));
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
        file.Attach(OpenLogFile(path));
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
