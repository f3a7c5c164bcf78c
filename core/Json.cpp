// JSON value model and writer.
#include "core/Json.h"

#include <charconv>
#include <cmath>
#include <utility>

// ---- JsonValue: payload ownership ----

JsonValue::JsonValue(const JsonValue& src) : m_type(JSON_NULL)
{
    m_u.i = 0;
    switch (src.m_type)
    {
    case JSON_OBJECT: m_u.obj = new JsonObject(*src.m_u.obj); break;
    case JSON_ARRAY: m_u.arr = new JsonArray(*src.m_u.arr); break;
    case JSON_STRING: m_u.str = new std::wstring(*src.m_u.str); break;
    default: m_u = src.m_u; break;
    }
    m_type = src.m_type;
}

JsonValue::JsonValue(JsonValue&& src) noexcept : m_type(src.m_type), m_u(src.m_u)
{
    src.m_type = JSON_NULL;
    src.m_u.i = 0;
}

JsonValue& JsonValue::operator=(JsonValue src) noexcept
{
    Swap(src);
    return *this;
}

void JsonValue::Swap(JsonValue& other) noexcept
{
    std::swap(m_type, other.m_type);
    std::swap(m_u, other.m_u);
}

JsonValue JsonValue::Create(int type)
{
    JsonValue v;
    v.SetType(type);
    return v;
}

void JsonValue::FreePayload() noexcept
{
    switch (m_type)
    {
    case JSON_OBJECT: delete m_u.obj; break;
    case JSON_ARRAY: delete m_u.arr; break;
    case JSON_STRING: delete m_u.str; break;
    default: break;
    }
    m_type = JSON_NULL;
    m_u.i = 0;
}

void JsonValue::SetType(int type)
{
    if (type == m_type)
        return;
    FreePayload();
    switch (type)
    {
    case JSON_OBJECT: m_u.obj = new JsonObject(); break;
    case JSON_ARRAY: m_u.arr = new JsonArray(); break;
    case JSON_STRING: m_u.str = new std::wstring(); break;
    case JSON_BOOL:
    case JSON_INT64:
    case JSON_DOUBLE: break;
    default: return;  // unknown types stay null
    }
    m_type = type;
}

JsonObject& JsonValue::AssignObject()
{
    SetType(JSON_OBJECT);
    return *m_u.obj;
}

JsonArray& JsonValue::AssignArray()
{
    SetType(JSON_ARRAY);
    return *m_u.arr;
}

void JsonValue::AssignString(std::wstring text)
{
    SetType(JSON_STRING);
    *m_u.str = std::move(text);
}

void JsonValue::AssignBool(bool value)
{
    SetType(JSON_BOOL);
    m_u.i = 0;
    m_u.b = value;
}

void JsonValue::AssignInt64(int64_t value)
{
    SetType(JSON_INT64);
    m_u.i = value;
}

void JsonValue::AssignDouble(double value)
{
    SetType(JSON_DOUBLE);
    m_u.d = value;
}

// ---- JsonValue: members ----

JsonValue* JsonValue::FindMember(std::wstring_view key, int type)
{
    return const_cast<JsonValue*>(std::as_const(*this).FindMember(key, type));
}

const JsonValue* JsonValue::FindMember(std::wstring_view key, int type) const
{
    const JsonObject* obj = ObjectPtr();
    if (!obj)
        return nullptr;
    const JsonMember* m = obj->Find(key);
    if (!m || (type != JSON_ANY && m->value.GetType() != type))
        return nullptr;
    return &m->value;
}

JsonValue& JsonValue::Member(std::wstring_view key)
{
    return AssignObject().Insert(key).value;
}

bool JsonValue::GetString(std::wstring_view key, std::wstring& out) const
{
    const JsonValue* v = FindMember(key, JSON_STRING);
    if (!v)
        return false;
    out = *v->m_u.str;
    return true;
}

bool JsonValue::GetInt64(std::wstring_view key, int64_t& out) const
{
    const JsonValue* v = FindMember(key, JSON_INT64);
    if (!v)
        return false;
    out = v->m_u.i;
    return true;
}

bool JsonValue::GetBool(std::wstring_view key, bool& out) const
{
    const JsonValue* v = FindMember(key, JSON_BOOL);
    if (!v)
        return false;
    out = v->m_u.b;
    return true;
}

bool JsonValue::GetDouble(std::wstring_view key, double& out) const
{
    const JsonValue* v = FindMember(key, JSON_DOUBLE);
    if (!v)
        return false;
    out = v->m_u.d;
    return true;
}

void JsonValue::SetString(std::wstring_view key, std::wstring text)
{
    Member(key).AssignString(std::move(text));
}

void JsonValue::SetInt64(std::wstring_view key, int64_t value)
{
    Member(key).AssignInt64(value);
}

void JsonValue::SetBool(std::wstring_view key, bool value)
{
    Member(key).AssignBool(value);
}

void JsonValue::SetDouble(std::wstring_view key, double value)
{
    Member(key).AssignDouble(value);
}

// ---- JsonObject ----

JsonObject::JsonObject(const JsonObject& src)
{
    m_order.reserve(src.m_order.size());
    for (const auto& m : src.m_order)
        Insert(m->key).value = m->value;
}

JsonObject& JsonObject::operator=(const JsonObject& src)
{
    if (this != &src)
    {
        JsonObject copy(src);
        *this = std::move(copy);
    }
    return *this;
}

JsonMember& JsonObject::Insert(std::wstring_view key)
{
    auto it = m_map.find(key);
    if (it != m_map.end())
        return *it->second;
    m_order.reserve(m_order.size() + 1);  // no throw between the two insertions below
    auto member = std::make_unique<JsonMember>(key);
    JsonMember* m = member.get();
    m_map.emplace(std::wstring_view(m->key), m);
    m_order.push_back(std::move(member));
    return *m;
}

JsonMember* JsonObject::Find(std::wstring_view key)
{
    auto it = m_map.find(key);
    return it == m_map.end() ? nullptr : it->second;
}

const JsonMember* JsonObject::Find(std::wstring_view key) const
{
    auto it = m_map.find(key);
    return it == m_map.end() ? nullptr : it->second;
}

// ---- Writer ----

namespace
{

void AppendAscii(std::wstring& out, const char* first, const char* last)
{
    for (; first != last; ++first)
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*first)));
}

// Integral values below 2^53 as plain integers ("%.f"), everything else with 17 significant
// digits ("%.17g"); always with '.', whatever the runtime locale. A value that is not finite
// has no JSON form and would make the file unreadable: it is written as null.
void WriteDouble(std::wstring& out, double d)
{
    if (!std::isfinite(d))
    {
        out += L"null";
        return;
    }
    char buf[64];
    std::to_chars_result r;
    if (std::fabs(d) < 9007199254740992.0 && d == std::trunc(d))
        r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 0);
    else
        r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 17);
    AppendAscii(out, buf, r.ptr);
}

void WriteString(std::wstring& out, const std::wstring& s)
{
    static const wchar_t hex[] = L"0123456789abcdef";
    out.push_back(L'"');
    for (wchar_t c : s)
    {
        switch (c)
        {
        case 0x08: out += L"\\b"; break;
        case 0x09: out += L"\\t"; break;
        case 0x0A: out += L"\\n"; break;
        case 0x0C: out += L"\\f"; break;
        case 0x0D: out += L"\\r"; break;
        case L'"': out += L"\\\""; break;
        case L'/': out += L"\\/"; break;
        case L'\\': out += L"\\\\"; break;
        default:
            if (c < 0x20 || c == 0x7F)
            {
                out += L"\\u00";
                out.push_back(hex[(c >> 4) & 0xF]);
                out.push_back(hex[c & 0xF]);
            }
            else
                out.push_back(c);
        }
    }
    out.push_back(L'"');
}

}  // namespace

void JsonValue::Serialize(std::wstring& out, std::wstring indent) const
{
    SerializeTo(out, indent);
}

void JsonValue::SerializeTo(std::wstring& out, std::wstring& indent) const
{
    switch (m_type)
    {
    case JSON_NULL: out += L"null"; break;
    case JSON_BOOL: out += m_u.b ? L"true" : L"false"; break;
    case JSON_INT64:
    {
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, m_u.i);
        AppendAscii(out, buf, r.ptr);
        break;
    }
    case JSON_DOUBLE: WriteDouble(out, m_u.d); break;
    case JSON_STRING: WriteString(out, *m_u.str); break;
    case JSON_OBJECT:
    case JSON_ARRAY:
    {
        const bool isObject = m_type == JSON_OBJECT;
        const size_t count = isObject ? m_u.obj->Count() : m_u.arr->size();
        out.push_back(isObject ? L'{' : L'[');
        if (count)
        {
            if (!indent.empty())
                indent.push_back(L'\t');
            out += indent;
            for (size_t i = 0; i < count; ++i)
            {
                if (i)
                {
                    out.push_back(L',');
                    out += indent;
                }
                if (isObject)
                {
                    const JsonMember& m = m_u.obj->At(i);
                    WriteString(out, m.key);
                    out.push_back(L':');
                    if (!indent.empty())
                        out.push_back(L' ');
                    m.value.SerializeTo(out, indent);
                }
                else
                    (*m_u.arr)[i].SerializeTo(out, indent);
            }
            if (!indent.empty())
                indent.pop_back();
            out += indent;
        }
        out.push_back(isObject ? L'}' : L']');
        break;
    }
    }
    // With the initial "\r\n" this ends the top-level value with one line break.
    if (indent.size() == 2)
        out += indent;
}
