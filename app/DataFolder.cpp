// The data folder: beside the program in portable mode, else the per-user roaming folder
// (moved from its older name the first time).
#include <windows.h>
#include <shellapi.h>

#include "app/StartUp.h"
#include "core/File.h"

namespace {

const wchar_t kSettingsFile[] = L"Norvane.json";
const wchar_t kPortableMarker[] = L"portable_mode_enabled";
const wchar_t kDataSubFolder[] = L"\\Quillmark\\Norvane";
const wchar_t kOldDataSubFolder[] = L"\\Tarnwell\\Norvane2";
// Silent, no confirmation, undo allowed, no confirmation for new folders, no error dialogs.
constexpr FILEOP_FLAGS kMoveFlags = 0x654;

bool IsFile(const std::wstring& path)
{
    const DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

// The shell's move wants lists ending in two zeros.
std::wstring DoubleTerminated(const std::wstring& path)
{
    std::wstring s = path;
    s.push_back(L'\0');
    return s;
}

void MoveOldDataFolder(const std::wstring& from, const std::wstring& to, HWND owner)
{
    // The shell makes missing parents itself, but not every shell does so silently.
    std::wstring parent = to;
    StripFileName(parent);
    CreateDirectoryPath(parent);
    const std::wstring source = DoubleTerminated(from);
    const std::wstring target = DoubleTerminated(to);
    SHFILEOPSTRUCTW op{};
    op.hwnd = owner;
    op.wFunc = FO_MOVE;
    op.pFrom = source.c_str();
    op.pTo = target.c_str();
    op.fFlags = kMoveFlags;
    // Only the folder test afterwards judges the move.
    SHFileOperationW(&op);
}

} // namespace

std::wstring GetProgramFolderOf(const std::wstring& programPath)
{
    const size_t cut = programPath.find_last_of(L"\\:");
    if (cut == std::wstring::npos)
        return std::wstring();
    if (programPath[cut] == L':')
        return programPath.substr(0, cut + 1) + L"\\";
    return programPath.substr(0, cut + 1);
}

bool IsPortableFolder(const std::wstring& programFolder)
{
    return IsFile(programFolder + kSettingsFile) || IsFile(programFolder + kPortableMarker);
}

bool ChooseDataFolder(const std::wstring& programPath, const std::wstring& roamingFolder, HWND owner,
                      std::wstring& dataFolder, bool& portable)
{
    const std::wstring programFolder = GetProgramFolderOf(programPath);
    if (!programFolder.empty() && IsPortableFolder(programFolder)) {
        portable = true;
        dataFolder = programFolder.substr(0, programFolder.size() - 1);
        return true;
    }
    portable = false;
    if (roamingFolder.empty())
        return false;
    dataFolder = roamingFolder + kDataSubFolder;
    const std::wstring oldFolder = roamingFolder + kOldDataSubFolder;
    if (!IsFolder(dataFolder) && IsFolder(oldFolder))
        MoveOldDataFolder(oldFolder, dataFolder, owner);
    if (!IsFolder(dataFolder) && !CreateDirectoryPath(dataFolder))
        return false;
    return IsFolder(dataFolder);
}
