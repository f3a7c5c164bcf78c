#include "core/AppLog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "core/File.h"
#include "core/SysUtil.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "resources/ids_core.h"

const wchar_t kLogFileName[] = L"Norvane.log";

namespace
{

constexpr size_t kLogTextRoom = 4096;

wchar_t KindLetter(int kind)
{
    static const wchar_t letters[] = L" IWE";
    return kind >= 0 && kind <= 3 ? letters[kind] : L'?';
}

void AppendPrefix(std::wstring& out, const SYSTEMTIME& t)
{
    AppendFormatString(out, L"%.2d:%.2d:%.2d.%.3d ", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

void AppendVersionLine(std::wstring& out, const SYSTEMTIME& t)
{
    std::wstring exePath, exeVersion, kernelVersion, line;
    if (GetModuleFilePath(exePath))
        VersionToString(GetFilePackedVersion(exePath.c_str()), exeVersion);
    VersionToString(GetFilePackedVersion(L"kernel32.dll"), kernelVersion);
    FormatResString(line, IDS_LOG_VERSION_LINE, t.wDay, t.wMonth, t.wYear, exeVersion.c_str(), kernelVersion.c_str());
    AppendPrefix(out, t);
    out += L"[I] ";
    out += line;
    out += L"\r\n";
}

bool IsExistingFile(const std::wstring& path)
{
    DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

void TruncateFile(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

void LogFormatted(CAppContext* app, const void* source, int kind, const wchar_t* format, va_list args)
{
    if (!app)
        app = GetAppContext();
    if (!app || !format)
        return;
    std::wstring sourceBuffer;
    const wchar_t* sourceText = app->LogSourceText(source, sourceBuffer);
    // Room for 4096 characters, more when the text needs it: a long trace keeps its text
    // instead of turning into an empty entry.
    va_list measure;
    va_copy(measure, args);
    int needed = _vscwprintf(format, measure);
    va_end(measure);
    std::wstring text;
    text.reserve(std::max(kLogTextRoom, needed > 0 ? static_cast<size_t>(needed) + 1 : 0));
    AppendFormatStringV(text, format, args);
    app->WriteLogLine(kind, sourceText, text.c_str(), static_cast<int>(text.size()));
}

}  // namespace

void LogMessageById(CAppContext* app, const void* source, int kind, UINT id, ...)
{
    std::wstring format;
    LoadResString(id, format);
    va_list args;
    va_start(args, id);
    LogFormatted(app, source, kind, format.c_str(), args);
    va_end(args);
}

void LogMessage(CAppContext* app, const void* source, int kind, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    LogFormatted(app, source, kind, format, args);
    va_end(args);
}

const wchar_t* CAppContext::LogSourceText(const void* source, std::wstring& buffer) const
{
    if (!source)
        return nullptr;
    if (source == Reader)
    {
        buffer = ReaderPortName ? ReaderPortName() : std::wstring();
        return buffer.c_str();
    }
    if (source == BridgeLink)
        return L"Portavo";
    if (source == CcidWatcher)
        return L"CCID";
    return nullptr;
}

bool CAppContext::IsLogged(int threshold)
{
    if (!LogSettings)
        return false;
    DebugLogSettings s = LogSettings->GetDebugLogSettings();
    return s.enabled && s.logLevel > threshold;
}

std::wstring CAppContext::GetLogPath()
{
    EnterCriticalSection(&m_logLock);
    std::wstring path = m_logPath;
    LeaveCriticalSection(&m_logLock);
    return path;
}

void CAppContext::WriteLogLine(int kind, const wchar_t* source, const wchar_t* text, int length)
{
    SYSTEMTIME now;
    SystemServices().LocalTime(now);

    CCriticalSectionLock lock(&m_logLock);
    if (!LogSettings)
        return;
    DebugLogSettings settings = LogSettings->GetDebugLogSettings();
    std::wstring out;
    if (m_logPath.empty())
    {
        std::wstring folder = LogSettings->ResolveLogFolder();
        if (folder.empty())
            return;  // no place for the log: the entry is lost, the next one tries again
        if (folder.back() != L'\\' && folder.back() != L'/')
            folder.push_back(L'\\');
        m_logPath = folder + kLogFileName;
        AppendVersionLine(out, now);
        if (settings.clearOnStartup && IsExistingFile(m_logPath))
            TruncateFile(m_logPath);
    }

    AppendPrefix(out, now);
    out.push_back(L'[');
    out.push_back(KindLetter(kind));
    if (source)
    {
        out.push_back(L' ');
        out += source;
    }
    out += L"] ";
    if (text)
        out.append(text, length < 0 ? wcslen(text) : static_cast<size_t>(length));
    out += L"\r\n";

    std::string bytes;
    WStringToMultiByte(out.c_str(), static_cast<int>(out.size()), bytes, CP_ACP);
    // A failed append loses the entry; the log has nowhere to report it.
    AppendToLogFile(bytes.c_str(), m_logPath, static_cast<int>(bytes.size()), settings.maxSize);
}
