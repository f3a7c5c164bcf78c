#include "app/AppLogCommands.h"
#include "app/NorvaneApp.h"

#include <exception>

#include "config/AppSettings.h"
#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/SysUtil.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "resources/resource.h"
#include "config/EventLogDb.h"

namespace {

std::wstring DocumentPath(const CAppSettings& settings, const wchar_t* name)
{
    std::wstring folder;
    settings.ResolveDocumentsFolder(folder, false);
    return folder + L"\\" + name;
}

bool ClearLogFile(CAppSettings& settings, const wchar_t* name, HWND owner)
{
    const uint32_t confirm = settings.GetConfirmFlags();
    if ((confirm & CONFIRM_DELETE) != 0) {
        std::wstring text;
        FormatResString(text, IDS_REMOVE_FILE_QUESTION, name);
        bool dontAsk = false;
        if (SystemServices().AskUser(text, MB_OKCANCEL | MB_ICONQUESTION, owner, &dontAsk) != IDOK)
            return false;
        // "Do not ask" stands for the answer given, so only an OK stops the question.
        if (dontAsk)
            settings.SetConfirmFlags(confirm & ~CONFIRM_DELETE);
    }
    const std::wstring path = DocumentPath(settings, name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        !DeleteFileW(path.c_str()))
        ThrowOSError(GetLastError());
    return true;
}

// The table's failures reach the debug log only: the event table is a record, not a task
// whose failure the user must answer.
void LogTableError(CAppContext* log, const char* what)
{
    if (log != nullptr && log->IsLogged(LOG_THRESHOLD_ERROR))
        LogMessage(log, nullptr, LOG_ERROR, L"Event table: %s", MultiByteToWString(what, CP_ACP).c_str());
}

void RaiseEventTableChange(CAppSettings& settings)
{
    CDocUpdateScope scope(settings);
    settings.RaiseStateChange(ASS_EVENT_TABLE, false);
}

bool KeepsEvents(const CAppSettings& settings)
{
    return settings.IsHistory(HIST_EVENT_RECORDS);
}

// Applies a changed "limit"; true when it had changed.
bool ApplyLimit(CAppSettings& settings, CAppContext* log)
{
    CEventLogDb& table = settings.GetEventLog();
    if (settings.GetEventLogLimit() == table.GetRecordLimit())
        return false;
    table.SetRecordLimit(settings.GetEventLogLimit());
    if (table.IsOpen()) {
        try {
            table.ApplyMaxRecords();
        } catch (const std::exception& e) {
            LogTableError(log, e.what());
        }
    }
    return true;
}

} // namespace

void OpenTransferLog(const CAppSettings& settings)
{
    ShellOpen(DocumentPath(settings, kTransferLogFileName).c_str());
}

void OpenAppLog(const CAppSettings& settings)
{
    ShellOpen(DocumentPath(settings, kLogFileName).c_str());
}

bool ClearTransferLog(CAppSettings& settings, HWND owner)
{
    return ClearLogFile(settings, kTransferLogFileName, owner);
}

bool ClearAppLog(CAppSettings& settings, HWND owner)
{
    return ClearLogFile(settings, kLogFileName, owner);
}

bool OpenEventLog(CAppSettings& settings, CAppContext* log)
{
    CEventLogDb& table = settings.GetEventLog();
    const std::wstring path = settings.GetDataFolder() + L"\\" + kEventLogFileName;
    ApplyLimit(settings, log);
    try {
        table.Open(path);
    } catch (const std::exception& e) {
        // A missing folder or a table held by another program: the log stays off quietly.
        LogTableError(log, e.what());
        return false;
    }
    if (table.GetEventCount() > 0 && !KeepsEvents(settings)) {
        try {
            table.Clear();
        } catch (const std::exception& e) {
            LogTableError(log, e.what());
        }
    }
    RaiseEventTableChange(settings);
    return true;
}

void CloseEventLog(CAppSettings& settings, CAppContext* log)
{
    CEventLogDb& table = settings.GetEventLog();
    if (!table.IsOpen())
        return;
    const bool heldEvents = table.GetEventCount() > 0;
    if (heldEvents && !KeepsEvents(settings)) {
        try {
            table.Clear();
        } catch (const std::exception& e) {
            LogTableError(log, e.what());
        }
    }
    table.Close();
    if (heldEvents)
        RaiseEventTableChange(settings);
}

void UpdateEventLog(CAppSettings& settings, CAppContext* log)
{
    CEventLogDb& table = settings.GetEventLog();
    if (settings.IsEventLogEnabled() != table.IsOpen()) {
        if (settings.IsEventLogEnabled())
            OpenEventLog(settings, log);
        else
            CloseEventLog(settings, log);
    }
    if (ApplyLimit(settings, log) && table.IsOpen())
        RaiseEventTableChange(settings);
}

namespace {

void AddEventRecord(CAppSettings& settings, CAppContext* log, const _EVENT_RECORD& event)
{
    try {
        settings.GetEventLog().AddEvent(event);
    } catch (const std::exception& e) {
        LogTableError(log, e.what());
        return;
    }
    RaiseEventTableChange(settings);
}

}  // namespace

void LogEventArgs(CAppSettings& settings, CAppContext* log, __time64_t time, int level, UINT id,
                  const wchar_t* attribute, const FormatArg* args, size_t count)
{
    CEventLogDb& table = settings.GetEventLog();
    if (!table.IsOpen())
        return;
    _EVENT_RECORD event;
    event.time = time;
    event.level = level;
    event.stringId = static_cast<int32_t>(id);
    event.attribute = attribute != nullptr ? attribute : L"";

    std::wstring format;
    LoadResString(id, format);
    if (!FormatChecked(event.message, format.c_str(), args, count)) {
        // A translation whose conversions do not fit the arguments: the program's own text.
        std::wstring own;
        LoadResStringFrom(GetProgramModule(), id, own);
        if (!FormatChecked(event.message, own.c_str(), args, count))
            event.message = format;
    }
    AddEventRecord(settings, log, event);
}

void LogEventText(CAppSettings& settings, CAppContext* log, __time64_t time, int level, UINT id,
                  const wchar_t* attribute, const std::wstring& message)
{
    if (!settings.GetEventLog().IsOpen())
        return;
    _EVENT_RECORD event;
    event.time = time;
    event.level = level;
    event.stringId = static_cast<int32_t>(id);
    event.attribute = attribute != nullptr ? attribute : L"";
    event.message = message;
    AddEventRecord(settings, log, event);
}

// ---- The application object's side ----

bool CNorvaneApp::OpenEventLog()
{
    return ::OpenEventLog(settings, this);
}

void CNorvaneApp::CloseEventLog()
{
    ::CloseEventLog(settings, this);
}

void CNorvaneApp::UpdateEventLog()
{
    ::UpdateEventLog(settings, this);
}

void CNorvaneApp::LogPageEvent(int level, UINT stringId)
{
    LogEvent(CTimeValue().SetCurrentTime().GetTime(), level, stringId, nullptr);
}
