#include "config/ConfigMembers.h"
#include "config/ConfigFile.h"

namespace cfg {

const JsonValue* FindObject(const JsonValue* parent, const wchar_t* key)
{
    return parent ? CConfigFile::FindObject(*parent, key) : nullptr;
}

const JsonArray* FindArray(const JsonValue* parent, const wchar_t* key)
{
    const JsonValue* member = parent ? parent->FindMember(key, JSON_ARRAY) : nullptr;
    return member ? member->ArrayPtr() : nullptr;
}

bool ReadBool(const JsonValue* parent, const wchar_t* key, bool& out)
{
    return parent && parent->GetBool(key, out);
}

bool ReadInt64(const JsonValue* parent, const wchar_t* key, int64_t& out)
{
    return parent && parent->GetInt64(key, out);
}

bool ReadInt32(const JsonValue* parent, const wchar_t* key, int32_t& out)
{
    int64_t value;
    if (!ReadInt64(parent, key, value))
        return false;
    out = static_cast<int32_t>(static_cast<uint32_t>(value));
    return true;
}

bool ReadUInt32(const JsonValue* parent, const wchar_t* key, uint32_t& out)
{
    int64_t value;
    if (!ReadInt64(parent, key, value))
        return false;
    out = static_cast<uint32_t>(value);
    return true;
}

bool ReadString(const JsonValue* parent, const wchar_t* key, std::wstring& out)
{
    return parent && parent->GetString(key, out);
}

bool ReadFlag(const JsonValue* parent, const wchar_t* key, uint32_t& flags, uint32_t bit)
{
    bool value;
    if (!ReadBool(parent, key, value))
        return false;
    flags = value ? flags | bit : flags & ~bit;
    return true;
}

JsonValue& CMemberWriter::Object(JsonValue& parent, const wchar_t* key)
{
    return m_file.WriteObject(parent, key);
}

JsonArray& CMemberWriter::NewArray(JsonValue& parent, const wchar_t* key)
{
    return m_file.WriteArray(parent, key);
}

void CMemberWriter::Bool(JsonValue& parent, const wchar_t* key, bool value)
{
    m_file.WriteBool(parent, key, value);
}

void CMemberWriter::Int(JsonValue& parent, const wchar_t* key, int32_t value)
{
    Int64(parent, key, value);
}

void CMemberWriter::UInt(JsonValue& parent, const wchar_t* key, uint32_t value)
{
    Int64(parent, key, static_cast<int64_t>(value));
}

void CMemberWriter::Int64(JsonValue& parent, const wchar_t* key, int64_t value)
{
    m_file.WriteInt64(parent, key, value);
}

void CMemberWriter::String(JsonValue& parent, const wchar_t* key, const std::wstring& value)
{
    m_file.WriteString(parent, key, value);
}

}  // namespace cfg

const wchar_t* const kSourceKindNames[2] = {L"reader", L"keylist"};
const wchar_t* const kDestinationKindNames[5] = {L"keyboard", L"clipboard", L"portavo", L"cmdline", L"http"};

void ParseKindValueText(const std::wstring& text, const wchar_t* const* names, int nameCount, int32_t& kind,
                        std::wstring& value)
{
    kind = 0;
    value.clear();
    size_t colon = text.find(L':');
    if (colon == std::wstring::npos)
        return;
    std::wstring name = text.substr(0, colon);
    for (int i = 0; i < nameCount; ++i) {
        if (name == names[i]) {
            kind = i + 1;
            break;
        }
    }
    value = text.substr(colon + 1);
}

std::wstring MakeKindValueText(int32_t kind, const std::wstring& value, const wchar_t* const* names,
                               int nameCount)
{
    if (kind < 1 || kind > nameCount)
        return std::wstring();
    return std::wstring(names[kind - 1]) + L":" + value;
}

void ReadKeyFilterElement(const JsonValue& element, KeyFilter& filter)
{
    cfg::ReadUInt32(&element, L"id", filter.id);
    cfg::ReadFlag(&element, L"visible", filter.flags, KEYFILTER_VISIBLE);
    cfg::ReadString(&element, L"name", filter.name);
    cfg::ReadUInt32(&element, L"keyTypes", filter.keyTypes);
    cfg::ReadInt32(&element, L"keySize", filter.keySize);
    cfg::ReadUInt32(&element, L"formatId", filter.formatId);
}

void WriteKeyFilterElement(cfg::CMemberWriter& writer, JsonValue& element, const KeyFilter& filter)
{
    writer.UInt(element, L"id", filter.id);
    writer.Flag(element, L"visible", filter.flags, KEYFILTER_VISIBLE);
    writer.String(element, L"name", filter.name);
    writer.UInt(element, L"keyTypes", filter.keyTypes);
    writer.Int(element, L"keySize", filter.keySize);
    writer.UInt(element, L"formatId", filter.formatId);
}
