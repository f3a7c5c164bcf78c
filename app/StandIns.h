#pragma once
// Operations the shell calls that keep a note of each call (its name and arguments,
// "Name|arg|arg"), for the tests that watch them: the new-format launcher. The last-key launcher
// is built in app/LastKeyDialog.cpp and stays declared here for its callers.
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
