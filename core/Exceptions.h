#pragma once
// The framework's exception family. Every exception carries its text ready for what(),
// in the ANSI code page, so a boundary can log or show it without further lookups.
#include <windows.h>
#include <cstddef>
#include <exception>
#include <string>
#include "core/ResultCodes.h"
#include "core/TextUtil.h"
#include "resources/ids_core.h"  // the exception texts

class CException : public std::exception
{
public:
    CException() = default;
    explicit CException(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }

protected:
    // mutable: CFileException builds its text on demand inside what().
    mutable std::string m_message;
};

// A failed Win32 call; the code is the thread's last error.
class COSException : public CException
{
public:
    explicit COSException(DWORD code);
    DWORD GetCode() const { return m_code; }

private:
    DWORD m_code;
};

// A result code; its text comes from the message table of the given module.
class CComException : public CException
{
public:
    explicit CComException(HRESULT code, HMODULE module = GetResourceModule());
    HRESULT GetCode() const { return m_code; }
    HMODULE GetModule() const { return m_module; }

private:
    HRESULT m_code;
    HMODULE m_module;
};

class CFileException : public CException
{
public:
    enum Cause
    {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };
    // osError -1: the failure is not an OS error.
    explicit CFileException(int cause = none, LONG osError = -1, std::wstring fileName = {})
        : m_cause(cause), m_osError(osError), m_fileName(std::move(fileName))
    {
    }
    const char* what() const noexcept override;
    // Wide form of the same text.
    std::wstring GetErrorText() const;

    // Cause for a Win32 error code (unlisted codes give genericException).
    static int OsErrorToCause(LONG osError);

    int m_cause;
    LONG m_osError;
    std::wstring m_fileName;
};

// Raised by the dBASE table for a field value it cannot store (always badValue there).
class CDbfException : public CException
{
public:
    enum Cause { unknownError = 0, streamError = 1, badValue = 2 };
    explicit CDbfException(const std::wstring& fileName, int cause = badValue);
    CDbfException(int cause, const std::wstring& fileName) : CDbfException(fileName, cause) {}
    int GetCause() const { return m_cause; }
    const std::wstring& GetFileName() const { return m_fileName; }

private:
    int m_cause;
    std::wstring m_fileName;
};

// Message text of a code from the module's message table (and, for codes outside facility
// 4, the system's); trailing CR/LF removed. False leaves out untouched. inserts points at
// insertCount values for %1, %2, ...; with none the text's inserts stay as they stand.
bool GetSystemMessageTextArgs(std::wstring& out, HMODULE module, DWORD code, const DWORD_PTR* inserts,
                           size_t insertCount);

template <class... Inserts>
bool GetSystemMessageText(std::wstring& out, HMODULE module, DWORD code, Inserts... inserts)
{
    if constexpr (sizeof...(Inserts) == 0)
        return GetSystemMessageTextArgs(out, module, code, nullptr, 0);
    else
    {
        const DWORD_PTR args[] = {(DWORD_PTR)(inserts)...};
        return GetSystemMessageTextArgs(out, module, code, args, sizeof...(Inserts));
    }
}

[[noreturn]] void ThrowOSError(DWORD win32Code);
[[noreturn]] void ThrowComError(HRESULT resultCode);
[[noreturn]] void ThrowFileException(int cause, LONG osError, const std::wstring& fileName);
[[noreturn]] void ThrowFileExceptionFromOSError(LONG osError, const std::wstring& fileName);
