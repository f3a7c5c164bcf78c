#pragma once
// Pictures of windows for the screenshot tests, saved beside the test executable.
#include <windows.h>
#include <string>

// Writes a 24-bit BMP of the window as shown (or as it paints itself when covered); true on
// success.
bool SaveWindowBitmap(HWND hwnd, const std::wstring& path);
// The folder of the running test executable.
std::wstring TestExeFolder();
