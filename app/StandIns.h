#pragma once
// Operations of work still to come that the shell already calls: the last-key dialog and the
// external tools. Until they are built each one notes its call here (its name and arguments,
// "Name|arg|arg") and does nothing else; help and the new-format launcher note their calls too.
#include <windows.h>
#include <string>
#include <vector>

std::vector<std::wstring>& StandInCalls();

// The format dialog for a new format, owned by the window or the main window. index: the new
// format's index when one was added.
bool ShowNewFormatDialog(int* index, HWND owner);
void ShowLastKeyDialog(HWND owner);
bool RunExternalTool(int index);
// The external tools dialog, run modally.
INT_PTR RunExtToolsDialog(HWND owner);
