#pragma once
// Operations of work still to come that the shell already calls: the external tools. Until they
// are built each one notes its call here (its name and arguments, "Name|arg|arg") and does
// nothing else; help notes its calls too. The last-key and new-format launchers are built
// (app/LastKeyDialog.cpp, pages/options/FormatDialog.cpp) and stay declared here for their callers.
#include <windows.h>
#include <string>
#include <vector>

std::vector<std::wstring>& StandInCalls();

// The format dialog for a new format, owned by the window or the main window. index: the new
// format's index when one was added.
bool ShowNewFormatDialog(int* index, HWND owner);
// The key dialog on the last key of the settings (an empty 5-byte key when there is none); on OK
// the key becomes the last transferred one, with the current time.
void ShowLastKeyDialog(HWND owner);
bool RunExternalTool(int index);
// The external tools dialog, run modally.
INT_PTR RunExtToolsDialog(HWND owner);
