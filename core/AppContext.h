#pragma once
// The part of the application object that core services need: the debug log's lock, its cached
// file path, the objects that name log sources, and the main window for the shell helpers.
// The application object derives from it (beside CWinApp), so callers pass the application
// object itself wherever a CAppContext* is asked for.
#include <windows.h>
#include <functional>
#include <string>

// The "debugLog" settings the log reads at each entry.
struct DebugLogSettings
{
    bool enabled = false;
    int logLevel = 0;       // 1-6; an entry is written when logLevel is above the caller's threshold
    int maxSize = -1;       // megabytes, -1 for no limit
    bool clearOnStartup = false;

    bool operator==(const DebugLogSettings&) const = default;
};

// What the log needs of the application settings; the settings document provides it.
class ILogSettingsSource
{
public:
    // The documents folder as the settings resolve it, created when missing; empty on failure.
    virtual std::wstring ResolveLogFolder() = 0;
    virtual DebugLogSettings GetDebugLogSettings() = 0;

protected:
    ~ILogSettingsSource() = default;
};

// Thresholds callers compare "logLevel" with.
enum LogThreshold : int
{
    LOG_THRESHOLD_ERROR = 1,
    LOG_THRESHOLD_WARNING = 2,
    LOG_THRESHOLD_INFO = 3,
    LOG_THRESHOLD_TRACE = 4,
};

// Entry kinds, written as the letters I, W and E.
enum LogKind : int
{
    LOG_INFO = 1,
    LOG_WARNING = 2,
    LOG_ERROR = 3,
};

class CAppContext
{
public:
    CAppContext();
    virtual ~CAppContext();
    CAppContext(const CAppContext&) = delete;
    CAppContext& operator=(const CAppContext&) = delete;

    // The main window, owner of shell and message windows; null while there is none.
    virtual HWND GetMainFrameWindow() const { return nullptr; }

    // Writes one entry of the debug log (members in core/AppLog.cpp).
    void WriteLogLine(int kind, const wchar_t* source, const wchar_t* text, int length = -1);
    // The caller's filter: "enabled" and "logLevel" above the threshold.
    bool IsLogged(int threshold);
    // The source text of an entry: the reader's port name, "Portavo", "CCID", or null.
    const wchar_t* LogSourceText(const void* source, std::wstring& buffer) const;
    // The cached log file path (empty until the first entry).
    std::wstring GetLogPath();

    // Set up by the application object. The reader's port name is asked for at each entry.
    ILogSettingsSource* LogSettings = nullptr;
    const void* Reader = nullptr;
    std::function<std::wstring()> ReaderPortName;
    const void* BridgeLink = nullptr;
    const void* CcidWatcher = nullptr;

private:
    CRITICAL_SECTION m_logLock;
    std::wstring m_logPath;
};

// The process's application context: the first one constructed and not yet destroyed.
CAppContext* GetAppContext();
