#pragma once
// The command-line destination: starts the configured program with its argument template,
// "%KeyNum%" standing for the rendered text. The program is not waited for. UI thread.
#include <windows.h>
#include <string>
#include <vector>

#include "config/TransferRecords.h"

// Starts the program; 0, E_INVALIDARG (no program, or a key text that a batch file's shell
// would read as commands) or the Win32 error of the start as a result code.
HRESULT RunCommandLine(const _TRANS_DST_CMDLINE& destination, const std::wstring& text);

// The argument text for a key text. Macros as in ExpandKeyTemplate; the template's own
// quoting is kept, and each argument that takes key text is written anew by the rules that
// CommandLineToArgvW reads back, so that the key text is always data inside the argument
// it stands in. For a batch target a key text holding one of & | < > ^ " % or a line break
// is refused (false).
bool BuildCommandArguments(const std::wstring& templ, const std::wstring& keyText, bool batchTarget,
                           std::wstring& out);

// Appends one argument in the form CommandLineToArgvW reads back as exactly that text.
void AppendQuotedArgument(std::wstring& out, const std::wstring& argument);

// True for a ".bat" or ".cmd" program, whose command line a command shell interprets.
bool IsBatchProgram(const std::wstring& program);
