#pragma once
// In-memory JSON: a tree of JsonValue records. Objects keep their members in insertion order
// (files written back keep the order in which keys were created or read); strings are UTF-16;
// integers are 64-bit and kept apart from doubles.
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Object.h"

enum JsonType : int
{
    JSON_NULL = 0,
    JSON_OBJECT = 1,
    JSON_ARRAY = 2,
    JSON_STRING = 3,
    JSON_BOOL = 4,
    JSON_INT64 = 5,
    JSON_DOUBLE = 6,
};

// FindMember's type argument that accepts a member of any type.
constexpr int JSON_ANY = -1;

class JsonObject;
class JsonArray;

class JsonValue
{
public:
    JsonValue() noexcept : m_type(JSON_NULL) { m_u.i = 0; }
    JsonValue(const JsonValue& src);
    JsonValue(JsonValue&& src) noexcept;
    JsonValue& operator=(JsonValue src) noexcept;
    ~JsonValue() { FreePayload(); }

    // A value of the type with an empty payload: {}, [], "", false, 0 or 0.0.
    static JsonValue Create(int type);

    void Swap(JsonValue& other) noexcept;
    // Frees the object, array or string and makes the value null.
    void FreePayload() noexcept;
    // Nothing when the type is already `type`; otherwise the payload is replaced by an empty
    // one of that type. A type outside 0-6 gives null.
    void SetType(int type);

    int GetType() const { return m_type; }
    bool IsNull() const { return m_type == JSON_NULL; }

    // Typed views: null (or the zero value) when the value has another type.
    JsonObject* ObjectPtr() { return m_type == JSON_OBJECT ? m_u.obj : nullptr; }
    const JsonObject* ObjectPtr() const { return m_type == JSON_OBJECT ? m_u.obj : nullptr; }
    JsonArray* ArrayPtr() { return m_type == JSON_ARRAY ? m_u.arr : nullptr; }
    const JsonArray* ArrayPtr() const { return m_type == JSON_ARRAY ? m_u.arr : nullptr; }
    std::wstring* StringPtr() { return m_type == JSON_STRING ? m_u.str : nullptr; }
    const std::wstring* StringPtr() const { return m_type == JSON_STRING ? m_u.str : nullptr; }
    bool BoolValue() const { return m_type == JSON_BOOL && m_u.b; }
    int64_t Int64Value() const { return m_type == JSON_INT64 ? m_u.i : 0; }
    double DoubleValue() const { return m_type == JSON_DOUBLE ? m_u.d : 0.0; }

    // Change the type as needed and store the value.
    JsonObject& AssignObject();
    JsonArray& AssignArray();
    void AssignString(std::wstring text);
    void AssignBool(bool value);
    void AssignInt64(int64_t value);
    void AssignDouble(double value);

    // The member's value when this is an object holding `key` with a value of `type`
    // (JSON_ANY: of any type); else null.
    JsonValue* FindMember(std::wstring_view key, int type = JSON_ANY);
    const JsonValue* FindMember(std::wstring_view key, int type = JSON_ANY) const;
    // Makes this value an object (discarding any other payload) and returns the member's
    // value, inserted as null at the end when missing.
    JsonValue& Member(std::wstring_view key);

    // Keyed reads: true and the value when the member exists with exactly that type; the
    // output is untouched otherwise. An int64 member is not a double and vice versa.
    bool GetString(std::wstring_view key, std::wstring& out) const;
    bool GetInt64(std::wstring_view key, int64_t& out) const;
    bool GetBool(std::wstring_view key, bool& out) const;
    bool GetDouble(std::wstring_view key, double& out) const;
    // Keyed writes: this value becomes an object; the member is inserted when missing and
    // its old value of any type is replaced.
    void SetString(std::wstring_view key, std::wstring text);
    void SetInt64(std::wstring_view key, int64_t value);
    void SetBool(std::wstring_view key, bool value);
    void SetDouble(std::wstring_view key, double value);

    // Appends the value's text. `indent` is the current line-break-and-indent text: empty
    // for compact output, "\r\n" for the layout of the settings files (CRLF line breaks, one
    // TAB per level, and one CRLF after the top-level value).
    void Serialize(std::wstring& out, std::wstring indent = std::wstring()) const;

private:
    void SerializeTo(std::wstring& out, std::wstring& indent) const;

    int m_type;
    union
    {
        JsonObject* obj;
        JsonArray* arr;
        std::wstring* str;
        bool b;
        int64_t i;
        double d;
    } m_u;
};

struct JsonMember
{
    explicit JsonMember(std::wstring_view k) : key(k) {}
    const std::wstring key;
    JsonValue value;
};

// Members in insertion order plus a map (code-unit order of the keys) for look-ups; the
// object owns its members. Copies are deep.
class JsonObject
{
public:
    JsonObject() = default;
    JsonObject(const JsonObject& src);
    JsonObject& operator=(const JsonObject& src);
    JsonObject(JsonObject&&) noexcept = default;
    JsonObject& operator=(JsonObject&&) noexcept = default;

    // Adds a null member at the end and returns it; an existing member with that key is
    // returned unchanged.
    JsonMember& Insert(std::wstring_view key);
    JsonMember* Find(std::wstring_view key);
    const JsonMember* Find(std::wstring_view key) const;

    size_t Count() const { return m_order.size(); }
    bool Empty() const { return m_order.empty(); }
    // Members in insertion order.
    JsonMember& At(size_t index) { return *m_order[index]; }
    const JsonMember& At(size_t index) const { return *m_order[index]; }

private:
    // The map's keys view the members' own key texts, which never change after insertion.
    std::map<std::wstring_view, JsonMember*, std::less<>> m_map;
    std::vector<std::unique_ptr<JsonMember>> m_order;
};

class JsonArray : public std::vector<JsonValue>
{
public:
    using std::vector<JsonValue>::vector;
};

// Deepest nesting of arrays and objects the reader accepts; deeper text fails instead of
// exhausting the stack.
constexpr int kJsonMaxDepth = 256;

struct JsonParseResult
{
    const wchar_t* stop;  // where reading stopped
    bool ok;              // a complete value was read
};

// Parses one value of [first, last) into target; text after the value is not examined.
// Bad text is never thrown: the result says where it stopped, and target keeps what was
// built up to there (for an object, the members read so far).
// Besides standard JSON it reads a leading '+' and the integer forms 0x1F, 0b101 and 017.
JsonParseResult JsonParse(const wchar_t* first, const wchar_t* last, JsonValue& target);
JsonParseResult JsonParse(std::wstring_view text, JsonValue& target);

// A JSON document: one root value (null when nothing was loaded).
class CMemJson : public CObject
{
public:
    JsonValue Root;

    // The loaders keep whatever the reader built, even from broken text, and tell whether
    // the text was read whole; ParseStopOffset gives where reading stopped.
    // From an RT_RCDATA resource (resource module first, then the program module), UTF-8
    // with or without BOM. A missing resource throws COSException.
    bool LoadFromResource(UINT id);
    // From a UTF-8 text file (with or without BOM); CFileException passes through.
    bool LoadFromFile(const std::wstring& path);
    bool LoadFromText(std::wstring_view text);

    bool ParsedWhole() const { return m_parsedWhole; }
    size_t ParseStopOffset() const { return m_stopOffset; }

private:
    bool m_parsedWhole = false;
    size_t m_stopOffset = 0;
};
