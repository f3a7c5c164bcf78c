#pragma once
// File access: CFile over a Win32 handle (operations throw CFileException), directory
// searches, path helpers, whole-file UTF-8 text and the rotating log append.
#include <windows.h>
#include <string>
#include <vector>
#include "core/Exceptions.h"
#include "core/Object.h"

class CFile : public CObject
{
public:
    // Open-mode word.
    enum OpenFlags : UINT
    {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        modeNoAccess = 0x0003,
        modeAccessMask = 0x0003,
        shareExclusive = 0x0010,
        shareRead = 0x0020,       // others may read
        shareWrite = 0x0030,      // others may write
        shareReadWrite = 0x0040,  // others may read and write
        shareMask = 0x0070,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,      // alone: create or truncate
        modeNoTruncate = 0x2000,  // with modeCreate: open or create
        typeBinary = 0x8000,      // ignored
        osNoBuffer = 0x10000,
        osWriteThrough = 0x20000,
        osRandomAccess = 0x40000,
        osSequentialScan = 0x80000,
    };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile() override;

    // Never throws; on failure fills *error (when given) with the cause, the OS error and
    // the path as given.
    virtual bool Open(const wchar_t* path, UINT mode, CFileException* error = nullptr);
    virtual void Close();
    virtual std::wstring GetFilePath() const { return m_path; }
    virtual void SetFilePath(const std::wstring& path) { m_path = path; }
    virtual ULONGLONG GetPosition() const;
    virtual ULONGLONG GetLength() const;
    virtual void SetLength(ULONGLONG length);
    virtual ULONGLONG Seek(LONGLONG offset, DWORD origin);
    virtual UINT Read(void* buffer, UINT count);
    virtual void Write(const void* buffer, UINT count);
    virtual void LockRange(ULONGLONG position, ULONGLONG count);
    virtual void UnlockRange(ULONGLONG position, ULONGLONG count);
    virtual void Flush();

    void SeekToBegin() { Seek(0, FILE_BEGIN); }
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE GetHandle() const { return m_handle; }

protected:
    [[noreturn]] void ThrowLastError() const;

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::wstring m_path;
};

class CFindFile : public CObject
{
public:
    CFindFile() = default;
    CFindFile(const CFindFile&) = delete;
    CFindFile& operator=(const CFindFile&) = delete;
    ~CFindFile() override { Close(); }

    // Starts a search (closing any open one); false when nothing matches.
    bool FindFirst(const wchar_t* pattern);
    bool FindNext();
    void Close();

    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    const WIN32_FIND_DATAW& GetData() const { return m_data; }
    const wchar_t* GetFileName() const { return m_data.cFileName; }
    bool IsDirectory() const { return (m_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    // "." or ".."
    bool IsDots() const;

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW m_data = {};
};

// Files under folder, recursively; with extensions (three texts, dot included, e.g. ".wav")
// only files whose extension equals one of them, case-insensitively. Paths longer than the
// 260-character limit are skipped.
void ListFilesByExtension(std::vector<std::wstring>& out, const std::wstring& folder,
                          const wchar_t* const extensions[3]);
// Less-than of a path order: component by component, case-insensitive, folders with more
// levels before the plain files of the folder above.
bool ComparePathsByComponent(const wchar_t* a, const wchar_t* b);
inline bool ComparePathsByComponent(const std::wstring& a, const std::wstring& b)
{
    return ComparePathsByComponent(a.c_str(), b.c_str());
}
// The last '.' after the last '\' (dot included), or the end of the text.
const wchar_t* FindExtension(const wchar_t* path);
// Part of path below base (just after its '\'), or the end of path when base is not a prefix.
const wchar_t* GetRelativeSubPath(const wchar_t* path, const wchar_t* base);
void GetDriveAndDirectory(const wchar_t* path, std::wstring& out);
// Cuts at the last '\' (removed) or ':' (kept).
void StripFileName(std::wstring& path);
// True when the running system opens path as a device rather than a file. One rule judges the
// path as given and its full path (GetFullPathNameW, which makes "\\.\NUL" of a DOS device name
// such as "NUL:", "aux .nv2" or "CONIN$", and "\\?\" of "\\?/" or "//?/"): either is a device
// when it begins "\\.\"; when it begins "\\?\" or "\??\" and no drive ("X:\"), "UNC\" or volume
// ("Volume{...}\") follows; or when its share, after "\\server\" or "\\?\UNC\server\", is "pipe"
// or "mailslot" (any case).
bool IsReservedDeviceName(const std::wstring& path);
bool ExpandEnvStrings(const wchar_t* text, std::wstring& out);
void GetRoamingAppDataPath(std::wstring& out);
// Creates the folder and its missing parents.
bool CreateDirectoryPath(const std::wstring& path);
// Registered "App Paths" location of a program file name (HKLM, then HKCU).
bool FindAppPath(const wchar_t* exeName, std::wstring& out);

// Rewinds and reads 3 bytes; true (encoding 1, bomSize 3) for EF BB BF.
bool DetectUtf8Bom(CFile& file, int& encoding, int& bomSize);
// Whole text file: a leading UTF-8 BOM is dropped and sets utf8; without one the bytes are
// UTF-8 when utf8 is set on entry, else in the ANSI code page. Throws CFileException (also
// for a file of 2 GiB or more).
void ReadTextFile(const std::wstring& path, bool& utf8, std::wstring& out);
// Whole UTF-8 text file (a leading BOM dropped); throws CFileException.
void ReadUtf8TextFile(const std::wstring& path, std::wstring& out);
// Writes BOM and UTF-8 text (empty text: empty file, no BOM) to a temporary file beside
// the target and then replaces the target, so the target always holds the old or the new
// content. length -1: up to the terminating zero. Throws CFileException.
void WriteUtf8TextFile(const std::wstring& path, const wchar_t* text, int length = -1);
inline void WriteUtf8TextFile(const std::wstring& path, const std::wstring& text)
{
    WriteUtf8TextFile(path, text.c_str(), static_cast<int>(text.size()));
}
// A unique empty file in the target's own folder ("nv", 1-4 hexadecimal digits, ".tmp"), so
// that moving it over the target is a rename on one volume. Throws CFileException naming the
// target.
std::wstring MakeTempFileBeside(const std::wstring& path);
// Deletes a temporary file when it goes, unless it was moved into place (Release).
class CTempFileGuard
{
public:
    CTempFileGuard() = default;
    explicit CTempFileGuard(std::wstring path) : m_path(std::move(path)) {}
    ~CTempFileGuard() { Delete(); }
    CTempFileGuard(const CTempFileGuard&) = delete;
    CTempFileGuard& operator=(const CTempFileGuard&) = delete;
    void Reset(std::wstring path)
    {
        Delete();
        m_path = std::move(path);
    }
    void Delete() noexcept
    {
        if (!m_path.empty())
            DeleteFileW(m_path.c_str());
        m_path.clear();
    }
    void Release() { m_path.clear(); }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};
// Removes the temporary files of WriteUtf8TextFile ("nv" and 1-4 hexadecimal digits, ".tmp")
// in the folder that were last written more than minAgeMs ago: a save that a crash or a
// kill cut short leaves one behind, and one that young may belong to a save in progress.
// Returns how many were removed.
int RemoveStaleTempFiles(const std::wstring& folder, DWORD minAgeMs);
// Appends bytes (length -1: up to the terminating zero) under a byte-range lock. With a
// limit (megabytes, not -1) a file that has reached it is first renamed to <name>_old.log.
// False on failure with the system's last error set.
bool AppendToLogFile(const char* bytes, const std::wstring& path, int length = -1, int limitMegabytes = -1);
// The name a log file is rotated to: extension dropped, "_old.log" appended.
std::wstring GetRotatedLogName(const std::wstring& path);
