#pragma once
// A settings file in memory: one JSON document whose root begins with the "info" header
// {"name": "Norvane", "version": "1.6"}. Built on the caller's stack for one load or save.
#include <string>
#include <string_view>

#include "core/Json.h"
#include "core/TextUtil.h"

// Format version 1.6: major 1 in the low byte, minor 6 in the next.
constexpr PackedVersion kSettingsFormatVersion = 0x0601;
constexpr PackedVersion kSettingsFileVersion = kSettingsFormatVersion;
constexpr const wchar_t* kSettingsFormatName = L"Norvane";
// Appended to the path of a file that could not be parsed when it is kept aside.
constexpr const wchar_t* kDamagedFileSuffix = L".bad";

class CConfigFile : public CMemJson {
public:
    CConfigFile() = default;
    explicit CConfigFile(std::wstring path) : m_path(std::move(path)) {}
    ~CConfigFile() override = default;

    const std::wstring& GetPath() const { return m_path; }
    void SetPath(std::wstring path) { m_path = std::move(path); }
    bool IsPretty() const { return m_pretty; }
    bool IsModified() const { return m_modified; }
    void SetModified() { m_modified = true; }
    // 0 when the file had no valid header.
    PackedVersion GetVersion() const { return m_version; }
    // Only a file of major version 1 is read into a document.
    bool IsReadable() const { return (m_version & 0xFF) == 1; }
    // A document loaded from any other version counts as unsaved.
    bool IsCurrentVersion() const { return m_version == kSettingsFormatVersion; }
    // The last Load met text it could not parse: the file was copied to GetDamagedCopyPath
    // and counts as version 0, so nothing of it is read and the next save rewrites it whole.
    bool IsDamaged() const { return m_damaged; }
    std::wstring GetDamagedCopyPath() const { return m_path + kDamagedFileSuffix; }

    // Reads the file and its header. A missing file throws CFileException; a wrong or
    // missing header is no error (version 0).
    void Load();
    // Parses a text read elsewhere, and its header, without keeping any copy. False, with the
    // root emptied and version 0, when the text is not one JSON value followed by blanks only;
    // errorOffset then says where in the text the reading failed.
    bool LoadText(std::wstring_view text, size_t* errorOffset = nullptr);
    // Writes the root (CRLF layout) as UTF-8 with BOM through a temporary file that then
    // replaces the target. Throws CFileException.
    void Save();
    // Makes the file a 1.6 file: the root an object, "info" with name and version.
    void StampHeader();
    // Empties the root; the file counts as having no header until stamped again.
    void Clear();

    // The save rules: unless wholeRewrite, an existing file (not a folder) is loaded first.
    // A new or 1.6 file keeps every member and is stamped: the result is true and the caller
    // writes only the parts it saves. Any other file (another version, no header, damaged)
    // is emptied and stamped: the result is false and the caller writes every part the file
    // is meant to hold. With wholeRewrite the file gets the header and the caller's part only.
    bool PrepareSave(bool wholeRewrite = false);

    // Member access for the part readers and writers.
    // The member when parent is an object and the member is an object; else null.
    static JsonValue* FindObject(JsonValue& parent, std::wstring_view key);
    static const JsonValue* FindObject(const JsonValue& parent, std::wstring_view key);
    // Writers make parent an object, create the member at the end when missing (replacing a
    // member of another type, keeping its position), store the value and mark the file
    // modified.
    JsonValue& WriteObject(JsonValue& parent, std::wstring_view key);
    JsonArray& WriteArray(JsonValue& parent, std::wstring_view key);   // emptied
    void WriteString(JsonValue& parent, std::wstring_view key, std::wstring text);
    void WriteInt64(JsonValue& parent, std::wstring_view key, int64_t value);
    void WriteBool(JsonValue& parent, std::wstring_view key, bool value);
    void WriteDouble(JsonValue& parent, std::wstring_view key, double value);

private:
    void ReadHeader();
    void KeepDamagedCopy();

    bool m_pretty = true;
    std::wstring m_path;
    bool m_modified = false;
    PackedVersion m_version = 0;
    bool m_damaged = false;
};

// The class every user constructs.
class CAppCfgFile : public CConfigFile {
public:
    CAppCfgFile() = default;
    explicit CAppCfgFile(std::wstring path) : CConfigFile(std::move(path)) {}
    ~CAppCfgFile() override = default;
};

// True when path names an existing file that is not a folder.
bool IsExistingSettingsFile(const std::wstring& path);
