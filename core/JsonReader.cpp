// JSON reader: standard JSON plus a leading '+' and the integer forms 0b.., 0x.. and 0...
#include "core/Json.h"

#include "core/Exceptions.h"
#include "core/File.h"
#include "core/TextUtil.h"

#include <charconv>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>

namespace
{

class CJsonReader
{
public:
    CJsonReader(const wchar_t* first, const wchar_t* last) : m_pos(first), m_end(last) {}

    bool ParseValue(JsonValue& target, int depth);
    const wchar_t* Position() const { return m_pos; }

private:
    bool AtEnd() const { return m_pos == m_end; }
    void SkipBlanks()
    {
        while (m_pos != m_end && (*m_pos == L' ' || *m_pos == L'\t' || *m_pos == L'\r' || *m_pos == L'\n'))
            ++m_pos;
    }
    // Skips blanks and takes `c` when it is next.
    bool Take(wchar_t c)
    {
        SkipBlanks();
        if (m_pos == m_end || *m_pos != c)
            return false;
        ++m_pos;
        return true;
    }
    bool TakeWord(const wchar_t* rest);

    bool ParseString(std::wstring& out);
    bool ParseHex4(unsigned& unit);
    bool ParseArray(JsonValue& target, int depth);
    bool ParseObject(JsonValue& target, int depth);
    bool ParseNumber(JsonValue& target);

    const wchar_t* m_pos;
    const wchar_t* m_end;
};

bool CJsonReader::ParseValue(JsonValue& target, int depth)
{
    SkipBlanks();
    if (AtEnd())
        return false;
    switch (*m_pos)
    {
    case L'"':
        ++m_pos;
        target.FreePayload();
        target.SetType(JSON_STRING);
        return ParseString(*target.StringPtr());
    case L'[':
        ++m_pos;
        return ParseArray(target, depth + 1);
    case L'{':
        ++m_pos;
        return ParseObject(target, depth + 1);
    case L'f':
        ++m_pos;
        if (!TakeWord(L"alse"))
            return false;
        target.AssignBool(false);
        return true;
    case L't':
        ++m_pos;
        if (!TakeWord(L"rue"))
            return false;
        target.AssignBool(true);
        return true;
    case L'n':
        ++m_pos;
        if (!TakeWord(L"ull"))
            return false;
        target.FreePayload();
        return true;
    default:
        return ParseNumber(target);
    }
}

bool CJsonReader::TakeWord(const wchar_t* rest)
{
    for (; *rest; ++rest, ++m_pos)
        if (AtEnd() || *m_pos != *rest)
            return false;
    return true;
}

bool CJsonReader::ParseArray(JsonValue& target, int depth)
{
    // A repeated key re-reads into its member: the old value goes as a whole.
    target.FreePayload();
    JsonArray& arr = target.AssignArray();
    if (depth > kJsonMaxDepth)
        return false;
    if (Take(L']'))
        return true;
    for (;;)
    {
        arr.emplace_back();
        if (!ParseValue(arr.back(), depth))
            return false;
        if (Take(L','))
            continue;
        return Take(L']');
    }
}

bool CJsonReader::ParseObject(JsonValue& target, int depth)
{
    target.FreePayload();
    JsonObject& obj = target.AssignObject();
    if (depth > kJsonMaxDepth)
        return false;
    if (Take(L'}'))
        return true;
    std::wstring key;
    for (;;)
    {
        key.clear();
        if (!Take(L'"') || !ParseString(key) || !Take(L':'))
            return false;
        // A repeated key keeps its first position and takes the last value.
        if (!ParseValue(obj.Insert(key).value, depth))
            return false;
        if (Take(L','))
            continue;
        return Take(L'}');
    }
}

bool CJsonReader::ParseHex4(unsigned& unit)
{
    unit = 0;
    for (int i = 0; i < 4; ++i, ++m_pos)
    {
        if (AtEnd())
            return false;
        wchar_t c = *m_pos;
        unsigned d;
        if (c >= L'0' && c <= L'9')
            d = c - L'0';
        else if (c >= L'a' && c <= L'f')
            d = c - L'a' + 10;
        else if (c >= L'A' && c <= L'F')
            d = c - L'A' + 10;
        else
            return false;
        unit = unit << 4 | d;
    }
    return true;
}

// After the opening quote; stops after the closing one.
bool CJsonReader::ParseString(std::wstring& out)
{
    for (;;)
    {
        if (AtEnd())
            return false;
        wchar_t c = *m_pos++;
        if (c == L'"')
            return true;
        if (c < 0x20)
            return false;
        if (c != L'\\')
        {
            out.push_back(c);
            continue;
        }
        if (AtEnd())
            return false;
        switch (*m_pos++)
        {
        case L'"': out.push_back(L'"'); break;
        case L'/': out.push_back(L'/'); break;
        case L'\\': out.push_back(L'\\'); break;
        case L'b': out.push_back(0x08); break;
        case L'f': out.push_back(0x0C); break;
        case L'n': out.push_back(0x0A); break;
        case L'r': out.push_back(0x0D); break;
        case L't': out.push_back(0x09); break;
        case L'u':
        {
            unsigned unit;
            if (!ParseHex4(unit))
                return false;
            if (unit >= 0xDC00 && unit <= 0xDFFF)
                return false;  // low surrogate without its high one
            if (unit >= 0xD800 && unit <= 0xDBFF)
            {
                unsigned low;
                if (m_end - m_pos < 2 || m_pos[0] != L'\\' || m_pos[1] != L'u')
                    return false;
                m_pos += 2;
                if (!ParseHex4(low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                out.push_back(static_cast<wchar_t>(unit));
                out.push_back(static_cast<wchar_t>(low));
            }
            else
                out.push_back(static_cast<wchar_t>(unit));
            break;
        }
        default: return false;
        }
    }
}

// wcstoll's rule on a whole text: optional sign, at least one digit of the base, no more
// than fits into 64 bits.
bool TextToInt64(const std::string& text, int base, int64_t& value)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    uint64_t magnitude;
    auto r = std::from_chars(text.data() + i, text.data() + text.size(), magnitude, base);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        return false;
    const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
    if (magnitude > limit)
        return false;
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

// Rough decimal magnitude of a number text whose conversion is out of range: decides
// between overflow (infinity, as wcstod gives) and underflow (zero).
bool TextOverflows(const char* first, const char* last)
{
    long exponent = 0;
    bool seenPoint = false, seenDigit = false;
    long intDigits = 0, fracZeros = 0;
    const char* p = first;
    for (; p != last && *p != 'e' && *p != 'E'; ++p)
    {
        if (*p == '.')
            seenPoint = true;
        else if (*p >= '0' && *p <= '9')
        {
            if (*p != '0')
                seenDigit = true;
            if (!seenPoint && seenDigit)
                ++intDigits;
            else if (seenPoint && !seenDigit)
                ++fracZeros;
        }
    }
    // Position of the first significant digit relative to the decimal point.
    long lead = intDigits > 0 ? intDigits : -fracZeros;
    if (p != last)
    {
        ++p;
        bool neg = p != last && *p == '-';
        if (p != last && (*p == '+' || *p == '-'))
            ++p;
        for (; p != last && exponent < 100000; ++p)
            exponent = exponent * 10 + (*p - '0');
        if (neg)
            exponent = -exponent;
    }
    return lead + exponent > 0;
}

// wcstod's rule on a whole text, with '.' as the decimal point whatever the runtime locale.
bool TextToDouble(const std::string& text, double& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-'))
        negative = *first++ == '-';
    if (first == last || *first == '+' || *first == '-')
        return false;
    double d = 0;
    auto r = std::from_chars(first, last, d, std::chars_format::general);
    if (r.ptr != last || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range))
        return false;
    if (r.ec == std::errc::result_out_of_range)
        d = TextOverflows(first, last) ? std::numeric_limits<double>::infinity() : 0.0;
    value = negative ? -d : d;
    return true;
}

bool CJsonReader::ParseNumber(JsonValue& target)
{
    wchar_t c = *m_pos;
    if (!(c >= L'0' && c <= L'9') && c != L'-' && c != L'+')
        return false;
    int base = 10;
    const wchar_t* accepted = L"+-0123456789eE.";
    std::string text;
    if (c == L'0')
    {
        ++m_pos;
        text.push_back('0');
        if (AtEnd())
            base = 8;
        else if (*m_pos == L'b' || *m_pos == L'x')
        {
            base = *m_pos == L'b' ? 2 : 16;
            accepted = base == 2 ? L"01" : L"0123456789ABCDEFabcdef";
            ++m_pos;
            text.clear();  // the prefix is not part of the number
        }
        else if (*m_pos != L'.')
        {
            base = 8;
            accepted = L"+-01234567";
        }
    }
    for (; !AtEnd(); ++m_pos)
    {
        c = *m_pos;
        bool take = c < 0x80 && c != 0 && std::wcschr(accepted, c) != nullptr;
        if (!take && !(base != 10 && c == L'.'))
            break;
        text.push_back(static_cast<char>(c));
    }
    int64_t i;
    if (TextToInt64(text, base, i))
    {
        target.AssignInt64(i);
        return true;
    }
    // Digits of another base that overflow 64 bits must not be read as a decimal number
    // (0x8000000000000000 is not 8e15); only a text with a point falls back to a double.
    double d;
    if ((base == 10 || text.find('.') != std::string::npos) && TextToDouble(text, d))
    {
        target.AssignDouble(d);
        return true;
    }
    return false;
}

}  // namespace

JsonParseResult JsonParse(const wchar_t* first, const wchar_t* last, JsonValue& target)
{
    CJsonReader reader(first, last);
    bool ok = reader.ParseValue(target, 0);
    return {reader.Position(), ok};
}

JsonParseResult JsonParse(std::wstring_view text, JsonValue& target)
{
    return JsonParse(text.data(), text.data() + text.size(), target);
}

bool CMemJson::LoadFromText(std::wstring_view text)
{
    JsonParseResult r = JsonParse(text, Root);
    m_parsedWhole = r.ok;
    m_stopOffset = static_cast<size_t>(r.stop - text.data());
    return r.ok;
}

bool CMemJson::LoadFromResource(UINT id)
{
    HMODULE module = GetResourceModule();
    HRSRC res = module ? FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA) : nullptr;
    if (!res)
    {
        module = GetProgramModule();
        res = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
    }
    HGLOBAL loaded = res ? LoadResource(module, res) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes)
        ThrowOSError(GetLastError());
    DWORD size = SizeofResource(module, res);
    if (size > 2 && memcmp(bytes, "\xEF\xBB\xBF", 3) == 0)
    {
        bytes += 3;
        size -= 3;
    }
    std::wstring text;
    if (size)
        MultiByteToWString(bytes, static_cast<int>(size), text, CP_UTF8);
    return LoadFromText(text);
}

bool CMemJson::LoadFromFile(const std::wstring& path)
{
    std::wstring text;
    ReadUtf8TextFile(path, text);
    return LoadFromText(text);
}
