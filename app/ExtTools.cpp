#include "app/ExtTools.h"

#include "app/NorvaneApp.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "core/SysUtil.h"
#include "transfer/CmdLineDest.h"

namespace {

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Expanded(const std::wstring& text)
{
    std::wstring out;
    return ExpandEnvStrings(text.c_str(), out) ? out : text;
}

} // namespace

bool StartExternalTool(const _EXT_TOOL& tool, const std::wstring& keyText)
{
    if (tool.command.empty())
        return false;
    const std::wstring command = IsFile(tool.command) ? tool.command : Expanded(tool.command);
    std::wstring folder = tool.initialDir;
    if (!folder.empty() && !IsFolder(folder))
        folder = Expanded(folder);

    // The key text is data: it is quoted into the argument it stands in, and a batch file's
    // shell must not get text it would read as commands.
    std::wstring arguments = tool.arguments;
    if (arguments.find(L'%') != std::wstring::npos &&
        !BuildCommandArguments(tool.arguments, keyText, IsBatchProgram(command), arguments))
        ThrowOSError(ERROR_INVALID_PARAMETER);

    const wchar_t* parameters = arguments.empty() ? nullptr : arguments.c_str();
    const wchar_t* directory = folder.empty() ? nullptr : folder.c_str();
    if (tool.flags & EXTTOOL_START_ADMIN)
        RunProgram(command.c_str(), parameters, directory);
    else
        ShellOpen(command.c_str(), parameters, directory);
    return true;
}

bool RunExternalTool(int index)
{
    CAppSettings& settings = App().GetSettings();
    if (index < 0 || static_cast<size_t>(index) >= settings.extTools.size())
        return false;
    // A copy: the start may pump messages that change the settings.
    const _EXT_TOOL tool = settings.extTools[index];
    return StartExternalTool(tool, settings.GetLastTransfer().transferred);
}
