#pragma once
// Debug-log entries of the application shell (no source object).
#include <windows.h>

// An error entry: string `id` formatted with the Win32 code, when the log takes errors.
void LogShellError(UINT id, DWORD code);
// A warning entry with the same rule.
void LogShellWarning(UINT id, DWORD code);
