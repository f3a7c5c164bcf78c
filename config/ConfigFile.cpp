#include "config/ConfigFile.h"

#include <algorithm>

#include "core/Exceptions.h"
#include "core/File.h"

bool IsExistingSettingsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void CConfigFile::Load()
{
    m_modified = false;
    m_version = 0;
    m_damaged = false;
    Root.FreePayload();
    if (!LoadFromFile(m_path)) {
        // What a broken file yields is only part of the settings: reading it would let the
        // next save replace the whole file by that part. Keep the file and read nothing.
        KeepDamagedCopy();
        Clear();
        m_damaged = true;
        return;
    }
    ReadHeader();
}

bool CConfigFile::LoadText(std::wstring_view text, size_t* errorOffset)
{
    m_modified = false;
    m_version = 0;
    m_damaged = false;
    Root.FreePayload();
    const bool parsed = LoadFromText(text);
    size_t stop = std::min(ParseStopOffset(), text.size());
    if (parsed) {
        while (stop < text.size() && (text[stop] == L' ' || text[stop] == L'\t' || text[stop] == L'\r' || text[stop] == L'\n'))
            ++stop;
    }
    if (!parsed || stop < text.size()) {
        if (errorOffset)
            *errorOffset = stop;
        Clear();
        return false;
    }
    ReadHeader();
    return true;
}

void CConfigFile::KeepDamagedCopy()
{
    const std::wstring copy = GetDamagedCopyPath();
    if (!CopyFileW(m_path.c_str(), copy.c_str(), FALSE))
        ThrowFileExceptionFromOSError(static_cast<LONG>(GetLastError()), copy);
}

void CConfigFile::ReadHeader()
{
    const JsonValue* info = Root.FindMember(L"info", JSON_OBJECT);
    if (info == nullptr)
        return;
    std::wstring name;
    if (!info->GetString(L"name", name) || name != kSettingsFormatName)
        return;
    std::wstring version;
    if (!info->GetString(L"version", version))
        return;
    PackedVersion parsed = 0;
    if (ParseVersion(version.c_str(), parsed))
        m_version = parsed;
}

void CConfigFile::Save()
{
    std::wstring text;
    Root.Serialize(text, m_pretty ? std::wstring(L"\r\n") : std::wstring());
    WriteUtf8TextFile(m_path, text);
    m_modified = false;
}

void CConfigFile::StampHeader()
{
    if (m_version == kSettingsFormatVersion)
        return;
    m_version = kSettingsFormatVersion;
    Root.SetType(JSON_OBJECT);
    JsonValue& info = Root.Member(L"info");
    info.SetType(JSON_OBJECT);
    info.SetString(L"name", kSettingsFormatName);
    info.SetString(L"version", VersionToString(kSettingsFormatVersion));
    m_modified = true;
}

void CConfigFile::Clear()
{
    Root.FreePayload();
    m_version = 0;
}

bool CConfigFile::PrepareSave(bool wholeRewrite)
{
    if (!wholeRewrite && IsExistingSettingsFile(m_path)) {
        Load();
        const bool keep = IsCurrentVersion();
        if (!keep)
            Clear();
        StampHeader();
        return keep;
    }
    Clear();
    StampHeader();
    return true;
}

JsonValue* CConfigFile::FindObject(JsonValue& parent, std::wstring_view key)
{
    return parent.FindMember(key, JSON_OBJECT);
}

const JsonValue* CConfigFile::FindObject(const JsonValue& parent, std::wstring_view key)
{
    return parent.FindMember(key, JSON_OBJECT);
}

JsonValue& CConfigFile::WriteObject(JsonValue& parent, std::wstring_view key)
{
    JsonValue& member = parent.Member(key);
    member.SetType(JSON_OBJECT);
    m_modified = true;
    return member;
}

JsonArray& CConfigFile::WriteArray(JsonValue& parent, std::wstring_view key)
{
    JsonValue& member = parent.Member(key);
    member.SetType(JSON_ARRAY);
    JsonArray& array = *member.ArrayPtr();
    array.clear();
    m_modified = true;
    return array;
}

void CConfigFile::WriteString(JsonValue& parent, std::wstring_view key, std::wstring text)
{
    parent.SetString(key, std::move(text));
    m_modified = true;
}

void CConfigFile::WriteInt64(JsonValue& parent, std::wstring_view key, int64_t value)
{
    parent.SetInt64(key, value);
    m_modified = true;
}

void CConfigFile::WriteBool(JsonValue& parent, std::wstring_view key, bool value)
{
    parent.SetBool(key, value);
    m_modified = true;
}

void CConfigFile::WriteDouble(JsonValue& parent, std::wstring_view key, double value)
{
    parent.SetDouble(key, value);
    m_modified = true;
}
