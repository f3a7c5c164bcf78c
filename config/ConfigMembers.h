#pragma once
// Member access for the settings files, with the lenient reading rules: a member is taken
// only when present with the expected type; integers give their low 32 bits; a number with
// a fraction never matches an integer. Writers create what is missing, replace values in
// place and mark the file modified. Also the member formats that the application part and
// the configuration part share: "kind:value" texts and the key-filter element.
#include <cstdint>
#include <string>
#include "config/TransferRecords.h"
#include "core/Json.h"

class CConfigFile;

namespace cfg {

// Readers: false (output untouched) when the member is missing or of another type.
const JsonValue* FindObject(const JsonValue* parent, const wchar_t* key);
const JsonArray* FindArray(const JsonValue* parent, const wchar_t* key);
bool ReadBool(const JsonValue* parent, const wchar_t* key, bool& out);
bool ReadInt64(const JsonValue* parent, const wchar_t* key, int64_t& out);
bool ReadInt32(const JsonValue* parent, const wchar_t* key, int32_t& out);
bool ReadUInt32(const JsonValue* parent, const wchar_t* key, uint32_t& out);
bool ReadString(const JsonValue* parent, const wchar_t* key, std::wstring& out);
// A bool member sets or clears one bit of a flag word.
bool ReadFlag(const JsonValue* parent, const wchar_t* key, uint32_t& flags, uint32_t bit);

// Writers over one settings file; every write marks it modified.
class CMemberWriter
{
public:
    explicit CMemberWriter(CConfigFile& file) : m_file(file) {}

    // The member made an object (kept when it is one already).
    JsonValue& Object(JsonValue& parent, const wchar_t* key);
    // The member replaced by an empty array.
    JsonArray& NewArray(JsonValue& parent, const wchar_t* key);
    void Bool(JsonValue& parent, const wchar_t* key, bool value);
    // Signed values are written as such; unsigned ones as their 32-bit unsigned value.
    void Int(JsonValue& parent, const wchar_t* key, int32_t value);
    void UInt(JsonValue& parent, const wchar_t* key, uint32_t value);
    void Int64(JsonValue& parent, const wchar_t* key, int64_t value);
    void String(JsonValue& parent, const wchar_t* key, const std::wstring& value);
    void Flag(JsonValue& parent, const wchar_t* key, uint32_t flags, uint32_t bit)
    {
        Bool(parent, key, (flags & bit) != 0);
    }

private:
    CConfigFile& m_file;
};

}  // namespace cfg

// "kind:value" texts of "source" and "destination". Reading splits at the first ':' and
// compares the kind name exactly; no ':' or an unknown name gives kind 0.
extern const wchar_t* const kSourceKindNames[2];       // kinds 1, 2
extern const wchar_t* const kDestinationKindNames[5];  // kinds 1 to 5
void ParseKindValueText(const std::wstring& text, const wchar_t* const* names, int nameCount, int32_t& kind,
                        std::wstring& value);
// Empty for kind 0 (or a kind without a name).
std::wstring MakeKindValueText(int32_t kind, const std::wstring& value, const wchar_t* const* names,
                               int nameCount);

// Key-filter element {"id", "visible", "name", "keyTypes", "keySize", "formatId"}: each member
// is taken when it has its type; the filter keeps its other fields.
void ReadKeyFilterElement(const JsonValue& element, KeyFilter& filter);
void WriteKeyFilterElement(cfg::CMemberWriter& writer, JsonValue& element, const KeyFilter& filter);
