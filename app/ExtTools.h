#pragma once
// The external tools of the Tools menu: starting one, and their editor (dialog 905).
#include <windows.h>
#include <string>

#include "config/AppSettings.h"

// Starts tool `index` of the settings with the last transfer's text for %KeyNum%. False when
// there is no such tool or its command is empty. A failed start throws COSException.
bool RunExternalTool(int index);

// Starts a tool record as the Tools menu does: %KeyNum% becomes keyText, quoted as the
// command-line destination quotes it; command and folder have their environment variables
// expanded unless they already name what exists. False for an empty command.
bool StartExternalTool(const _EXT_TOOL& tool, const std::wstring& keyText);
