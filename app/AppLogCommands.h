#pragma once
// The log commands (open and clear the transfer log and the debug log) and the application's
// side of the event table: when it is opened and closed, and how an event is written. UI thread.
#include <windows.h>
#include <ctime>
#include <string>

#include "app/CheckedFormat.h"
#include "transfer/TransferLog.h"  // kTransferLogFileName

class CAppSettings;
class CAppContext;

// Open the log in the documents folder with the shell's program for it; COSException when
// the start fails.
void OpenTransferLog(const CAppSettings& settings);
void OpenAppLog(const CAppSettings& settings);
// Asks first while "confirm" bit 0x100 is set (ticking "Do not ask" clears it), then removes
// the file when it exists. False when the question was declined; COSException when the file
// cannot be removed.
bool ClearTransferLog(CAppSettings& settings, HWND owner);
bool ClearAppLog(CAppSettings& settings, HWND owner);

// The event table's operations report the table's failures only to the debug log of `log`
// (the application object), never to the user.

// Opens "EventLog.dbf" in the data folder with the limit of the settings; false, with the
// table closed and nothing reported, when it cannot be opened. Unless "history" bit 0x2000
// is set the events of the last run are dropped.
bool OpenEventLog(CAppSettings& settings, CAppContext* log);
// Only while open: drops the events unless kept between runs, writes back and closes.
void CloseEventLog(CAppSettings& settings, CAppContext* log);
// Opens or closes the table as "eventLog" "enabled" says and applies a changed limit.
void UpdateEventLog(CAppSettings& settings, CAppContext* log);

// Writes one event (only while the table is open): the message is string resource `id` used
// as a printf format with the arguments, checked against them (a translation that does not
// fit falls back to the program's own text, then to the text unformatted). A failure of the
// table is written to the debug log and goes no further. Raises state change 0x80 after a
// written event.
void LogEventArgs(CAppSettings& settings, CAppContext* log, __time64_t time, int level, UINT id,
                  const wchar_t* attribute, const FormatArg* args, size_t count);

// The same with a message composed by the caller; id is the string the record names.
void LogEventText(CAppSettings& settings, CAppContext* log, __time64_t time, int level, UINT id,
                  const wchar_t* attribute, const std::wstring& message);

template <class... Args>
void LogEvent(CAppSettings& settings, CAppContext* log, __time64_t time, int level, UINT id,
              const wchar_t* attribute, const Args&... args)
{
    if constexpr (sizeof...(Args) == 0) {
        LogEventArgs(settings, log, time, level, id, attribute, nullptr, 0);
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        LogEventArgs(settings, log, time, level, id, attribute, list, sizeof...(Args));
    }
}
