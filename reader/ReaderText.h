#pragma once
// String-table texts as values, for the reader's messages and log lines.
#include <windows.h>
#include <string>

std::wstring LoadResStringText(UINT id);
// The string-table entry of id formatted with printf arguments.
std::wstring FormatResText(UINT id, ...);
