#pragma once
// Interface languages (resource-only libraries in "Languages" beside the program) and the help
// files (in "Help" beside the program).
#include <windows.h>
#include <string>
#include <vector>

#include "config/AppSettings.h"

// Entry 0 the built-in English ("<internal>", 1033), then one entry per "*.dll" of the folder's
// "Languages", named after the file in lower case and sorted by display text. A file whose name
// is no locale name is listed with id 0.
std::vector<LanguageInfo> FindLanguages(const std::wstring& programFolder);

// "Languages\<name>.dll" of the folder loaded as data; null when missing or not loadable.
HMODULE LoadLanguageModule(const std::wstring& programFolder, const std::wstring& name);

// "Help\Norvane_<abbreviation>.chm" of the folder, else its "RUS" file; empty when neither is
// there.
std::wstring FindHelpFile(const std::wstring& programFolder, const std::wstring& abbreviation);
