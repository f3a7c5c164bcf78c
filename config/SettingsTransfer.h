#pragma once
// Settings export, import and reset: a chosen subset of the configuration groups (CG_*) and the
// application groups (AG_*) written to a settings file, read back from one, or put back to
// their defaults. UI thread only.
#include <cstdint>
#include <string>

#include "config/AppSettings.h"
#include "config/SettingsGroups.h"
#include "core/Exceptions.h"

// A file the import refuses: damaged text, a newer format, a file of another program, a folder.
// The text names the file and the cause.
class CSettingsFileException : public CException
{
public:
    explicit CSettingsFileException(std::wstring text);
    const std::wstring& GetText() const { return m_text; }

private:
    std::wstring m_text;
};

// Writes a new settings file with the "info" header and the members of the chosen groups. The
// old file stays whole when the write fails (CFileException).
void ExportSettings(CAppSettings& settings, const std::wstring& path, uint32_t configGroups, uint32_t appGroups);

// Reads the file and changes the chosen groups of both documents: each from its defaults, then
// from the file by its version's rules. A file that cannot be read, is damaged, has a major
// format version above 1, or has no header of ours and none of the chosen groups changes
// nothing and throws (CFileException, CSettingsFileException).
void ImportSettings(CAppSettings& settings, const std::wstring& path, uint32_t configGroups, uint32_t appGroups);
// The same over the text of a file already read; fileName stands for the file in the errors.
void ImportSettingsText(CAppSettings& settings, const std::wstring& text, const std::wstring& fileName,
                        uint32_t configGroups, uint32_t appGroups);

// Puts the chosen groups back to their defaults through the documents' setters.
void ResetSettings(CAppSettings& settings, uint32_t configGroups, uint32_t appGroups);

// Whether the root holds a member of one of the chosen groups.
bool HoldsSettingsGroups(const JsonValue& root, uint32_t configGroups, uint32_t appGroups);
