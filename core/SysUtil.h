#pragma once
// Small wrappers over the operating system shared by several subsystems: shell open, scoped
// locks, the clipboard, local time values, module holders, the program's path, late-bound
// automation calls, version and elevation tests, the thread language, the autostart value and
// the 1-Wire CRC-8.
#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <ctime>
#include <string>

#include "core/Object.h"

// ---- Locks ----

// A critical section owned by its object (every worker object has one).
class CCriticalSection
{
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    CRITICAL_SECTION* Get() { return &m_cs; }

private:
    CRITICAL_SECTION m_cs;
};

// Enters the section on construction; Unlock (or the destructor) leaves it once.
class CCriticalSectionLock
{
public:
    explicit CCriticalSectionLock(CRITICAL_SECTION* cs) : m_cs(cs), m_held(true) { EnterCriticalSection(m_cs); }
    explicit CCriticalSectionLock(CCriticalSection& cs) : CCriticalSectionLock(cs.Get()) {}
    ~CCriticalSectionLock() { Unlock(); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

    void Unlock()
    {
        if (m_held)
        {
            m_held = false;
            LeaveCriticalSection(m_cs);
        }
    }

private:
    CRITICAL_SECTION* m_cs;
    bool m_held;
};

// ---- Time ----

// Seconds of the runtime library's 64-bit time, converted through local time.
class CTimeValue
{
public:
    CTimeValue() = default;
    explicit CTimeValue(__time64_t t) : m_time(t) {}
    // A year below 1900 gives 0.
    explicit CTimeValue(const SYSTEMTIME& st);

    __time64_t GetTime() const { return m_time; }
    // False (value kept) for a day outside 1-31, a month outside 1-12, a year before 1900 or a
    // time that local time cannot represent.
    bool SetSystemTime(const SYSTEMTIME& st);
    // Local time with milliseconds 0; false when the value cannot be converted.
    bool GetSystemTime(SYSTEMTIME& st) const;
    // wcsftime of the local time into at most 127 characters; returns the count (0: empty).
    int Format(const wchar_t* format, std::wstring& out) const;
    // The system clock's seconds since 1970 (through the system services).
    CTimeValue& SetCurrentTime();

private:
    __time64_t m_time = 0;
};

// ---- Modules ----

class CModule : public CObject
{
public:
    CModule() = default;
    explicit CModule(HMODULE module) : m_module(module) {}
    ~CModule() override { Free(); }
    CModule(const CModule&) = delete;
    CModule& operator=(const CModule&) = delete;

    // LoadLibraryExW; false with the system error as last error.
    bool Load(const wchar_t* path, DWORD flags = 0);
    void Free();
    HMODULE Get() const { return m_module; }
    HMODULE Detach();

private:
    HMODULE m_module = nullptr;
};

// ---- Shell, clipboard, paths ----

// Opens a document or program with the shell's "open" verb (no error UI); the owner is the main
// window when there is one. Throws COSException on failure.
void ShellOpen(const wchar_t* file, const wchar_t* parameters = nullptr, const wchar_t* directory = nullptr);
// The same as administrator: verb "runas" (Windows Vista and later, "open" before). A declined
// elevation prompt throws like any other failure.
void RunProgram(const wchar_t* file, const wchar_t* parameters = nullptr, const wchar_t* directory = nullptr);

// Puts Unicode text on the clipboard, opened for owner (without one, for a message-only window
// made for the call); length < 0: up to the terminating zero. A clipboard that another program
// holds open is tried again for about 100 ms. On failure the error of the failing step is the
// last error and the result is false.
bool SetClipboardText(HWND owner, const wchar_t* text, int length = -1);

// Full path of the program module (up to 16,640 characters); false with empty output.
bool GetModuleFilePath(std::wstring& out);

// ---- Automation ----

// Calls a member of an automation object by name. The arguments are given in the order of the
// call's argument array: the first is argument 0, that is the callee's LAST parameter. With
// DISPATCH_PROPERTYPUT the call carries the one named argument DISPID_PROPERTYPUT.
HRESULT DispatchInvokeArgs(WORD flags, VARIANT* result, IDispatch* object, const wchar_t* name, int count,
                           const VARIANT* args);

template <class... Variants>
HRESULT DispatchInvoke(WORD flags, VARIANT* result, IDispatch* object, const wchar_t* name, const Variants&... args)
{
    if constexpr (sizeof...(Variants) == 0)
        return DispatchInvokeArgs(flags, result, object, name, 0, nullptr);
    else
    {
        const VARIANT list[] = {args...};
        return DispatchInvokeArgs(flags, result, object, name, static_cast<int>(sizeof...(Variants)), list);
    }
}

// ---- System state ----

bool IsWindowsVistaOrLater();
// S_OK elevated, S_FALSE not elevated, E_FAIL when the token cannot be read.
HRESULT IsProcessElevated(bool* elevated = nullptr);

// Sets the thread's user-interface language and the runtime locale named after the language
// ("Russian_Russia"). With globalLocale the runtime locale of the whole process changes (the UI
// thread applying a language); without it only the calling thread's (a worker), so a worker never
// changes the locale under the UI thread: where the runtime has no per-thread locales the worker
// keeps the process locale. Never throws; true when the runtime locale was set.
bool SetThreadLanguage(LANGID languageId, bool globalLocale);

// ---- Autostart ----

// The value "Norvane2" under HKCU\Software\Microsoft\Windows\CurrentVersion\Run. present is true
// only for a REG_SZ value; the result is false only for a registry error other than a missing key
// or value.
bool QueryAutorunValue(bool& present);
// Writes the command line as REG_SZ, or deletes the value for null (a missing value is no failure).
bool WriteAutorunValue(const wchar_t* commandLine);

extern const wchar_t kAutorunKeyPath[];
extern const wchar_t kAutorunValueName[];

// ---- Checksums ----

// Dallas/Maxim 1-Wire CRC-8: reflected polynomial 0x8C, initial 0, no final XOR; 0 for length <= 0.
BYTE DallasCrc8(const BYTE* bytes, int length);
