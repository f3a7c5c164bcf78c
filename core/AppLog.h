#pragma once
// The debug log "Norvane.log" in the documents folder: one ANSI line per entry,
// "hh:mm:ss.mmm [K SRC] text", from any thread, rotated to "Norvane_old.log" at the size limit.
// Filtering is the caller's: test app->IsLogged(threshold) first.
#include <windows.h>

#include "core/AppContext.h"

// source: the reader, bridge-link or PC/SC watcher object (or anything else for no source).
// The text is the string resource `id` (or the literal format) formatted printf-style.
void LogMessageById(CAppContext* app, const void* source, int kind, UINT id, ...);
void LogMessage(CAppContext* app, const void* source, int kind, const wchar_t* format, ...);

// Name of the log file inside the documents folder.
extern const wchar_t kLogFileName[];
