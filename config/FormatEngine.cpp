#include "config/FormatEngine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "config/KeyNumber.h"
#include "core/TextUtil.h"
#include "config/KvParser.h"

namespace {

// Widths and precisions beyond the longest result change nothing that is kept.
constexpr int kFieldCap = static_cast<int>(kMaxRenderedLength) + 1;

const wchar_t* const kPrefixes[] = {L"ll", L"I32", L"I64", L"h", L"l", L"w", L"I"};
enum { PFX_NONE = -1, PFX_LL, PFX_I32, PFX_I64, PFX_H, PFX_L, PFX_W, PFX_I };

struct SpecText
{
    size_t offset = 0;    // index of the "%"
    size_t convPos = 0;   // index of the conversion character (the text's end when none)
    size_t end = 0;       // index past the specifier
    bool left = false, plus = false, space = false, alt = false, zero = false;
    bool widthStar = false, precisionStar = false;
    int width = 0;
    int precision = -1;   // -1: none
    int prefix = PFX_NONE;
    wchar_t conv = 0;     // 0 at the end of the text
    int cls = TSC_UNSUPPORTED;
};

int ClassOf(wchar_t conv, int prefix)
{
    switch (conv)
    {
    case L'c': return prefix == PFX_H ? TSC_CHAR : TSC_WCHAR;
    case L'C': return prefix == PFX_L || prefix == PFX_W ? TSC_WCHAR : TSC_CHAR;
    case L'd': case L'i': case L'o': case L'u': case L'x': case L'X':
        if (prefix == PFX_H)
            return TSC_SHORT;
        if (prefix == PFX_I32 || prefix == PFX_L || prefix == PFX_I)
            return TSC_INT32;
        return TSC_INT64;
    case L'e': case L'E': case L'f': case L'g': case L'G': case L'a': case L'A': return TSC_DOUBLE;
    case L'n': return TSC_COUNT;
    case L'p': return TSC_POINTER;
    case L's': return prefix == PFX_H ? TSC_STRING : TSC_WSTRING;
    case L'S': return prefix == PFX_L || prefix == PFX_W ? TSC_WSTRING : TSC_STRING;
    default: return TSC_UNSUPPORTED;
    }
}

size_t ReadDigits(const wchar_t* s, size_t n, size_t i, int& value)
{
    value = 0;
    for (; i < n && s[i] >= L'0' && s[i] <= L'9'; ++i)
        value = std::min(value * 10 + (s[i] - L'0'), kFieldCap);
    return i;
}

// Reads the specifier whose "%" stands at i (not a "%%" pair).
SpecText ReadSpec(const wchar_t* s, size_t n, size_t i)
{
    SpecText specText;
    specText.offset = i++;
    for (; i < n; ++i)
    {
        if (s[i] == L'-') specText.left = true;
        else if (s[i] == L'+') specText.plus = true;
        else if (s[i] == L'0') specText.zero = true;
        else if (s[i] == L' ') specText.space = true;
        else if (s[i] == L'#') specText.alt = true;
        else break;
    }
    if (i < n && s[i] == L'*')
        specText.widthStar = true, ++i;
    else
        i = ReadDigits(s, n, i, specText.width);
    if (i < n && s[i] == L'.')
    {
        ++i;
        if (i < n && s[i] == L'*')
            specText.precisionStar = true, ++i;
        else
            i = ReadDigits(s, n, i, specText.precision);
    }
    for (int p = 0; p < static_cast<int>(std::size(kPrefixes)); ++p)
    {
        const size_t len = wcslen(kPrefixes[p]);
        if (n - i >= len && wmemcmp(s + i, kPrefixes[p], len) == 0)
        {
            specText.prefix = p;
            i += len;
            break;
        }
    }
    specText.convPos = i;
    specText.conv = i < n ? s[i] : 0;
    specText.end = i < n ? i + 1 : n;
    specText.cls = ClassOf(specText.conv, specText.prefix);
    return specText;
}

// Walks a template: plain text, "%%" pairs and specifiers, in order.
template <class Visitor>
void ScanTemplate(const wchar_t* s, size_t n, Visitor& visitor)
{
    size_t i = 0;
    while (i < n)
    {
        const wchar_t* percent = wmemchr(s + i, L'%', n - i);
        const size_t at = percent ? static_cast<size_t>(percent - s) : n;
        if (at > i && !visitor.Text(s + i, at - i))
            return;
        if (at >= n)
            return;
        if (at + 1 < n && s[at + 1] == L'%')
        {
            if (!visitor.Percent())
                return;
            i = at + 2;
            continue;
        }
        const SpecText specText = ReadSpec(s, n, at);
        if (!visitor.Specifier(specText, s))
            return;
        i = specText.end;
    }
}

// --- printing --------------------------------------------------------------------------

// The rendered text, never longer than the limit.
class CLimitedText
{
public:
    explicit CLimitedText(std::wstring& text) : m_text(text) { m_text.clear(); }
    bool Full() const { return m_text.size() >= kMaxRenderedLength; }
    void Put(wchar_t c, size_t count = 1) { m_text.append(std::min(count, Room()), c); }
    void Put(std::wstring_view s) { m_text.append(s.substr(0, std::min(s.size(), Room()))); }

private:
    size_t Room() const { return kMaxRenderedLength - std::min(m_text.size(), kMaxRenderedLength); }
    std::wstring& m_text;
};

struct Field
{
    bool left = false;
    bool zeroPad = false;
    int width = 0;
};

// prefix (sign, "0x"), extra zeros, body, padded to the width.
void PutField(CLimitedText& out, const Field& f, std::wstring_view prefix, size_t zeros, std::wstring_view body)
{
    const size_t total = prefix.size() + zeros + body.size();
    const size_t pad = f.width > 0 && static_cast<size_t>(f.width) > total ? f.width - total : 0;
    if (f.left)
    {
        out.Put(prefix), out.Put(L'0', zeros), out.Put(body), out.Put(L' ', pad);
    }
    else if (f.zeroPad)
    {
        out.Put(prefix), out.Put(L'0', zeros + pad), out.Put(body);
    }
    else
    {
        out.Put(L' ', pad), out.Put(prefix), out.Put(L'0', zeros), out.Put(body);
    }
}

void PutInteger(CLimitedText& out, const SpecText& specText, Field f, int precision, int64_t value)
{
    const bool isSigned = specText.conv == L'd' || specText.conv == L'i';
    bool negative = false;
    uint64_t magnitude;
    if (isSigned)
    {
        const int64_t v = specText.cls == TSC_SHORT ? static_cast<int16_t>(value)
                        : specText.cls == TSC_INT32 ? static_cast<int32_t>(value) : value;
        negative = v < 0;
        magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    }
    else
    {
        magnitude = specText.cls == TSC_SHORT ? static_cast<uint16_t>(value)
                  : specText.cls == TSC_INT32 ? static_cast<uint32_t>(value) : static_cast<uint64_t>(value);
    }
    const unsigned base = specText.conv == L'o' ? 8 : (specText.conv == L'x' || specText.conv == L'X') ? 16 : 10;
    const wchar_t* digitSet = specText.conv == L'X' ? L"0123456789ABCDEF" : L"0123456789abcdef";

    wchar_t buffer[24];
    wchar_t* end = buffer + std::size(buffer);
    wchar_t* p = end;
    for (uint64_t m = magnitude; m; m /= base)
        *--p = digitSet[m % base];
    if (magnitude == 0 && precision != 0)
        *--p = L'0';
    const size_t digits = static_cast<size_t>(end - p);

    wchar_t prefix[2];
    size_t prefixLength = 0;
    if (negative)
        prefix[prefixLength++] = L'-';
    else if (isSigned && specText.plus)
        prefix[prefixLength++] = L'+';
    else if (isSigned && specText.space)
        prefix[prefixLength++] = L' ';
    if (specText.alt && base == 16 && magnitude != 0)
    {
        prefix[prefixLength++] = L'0';
        prefix[prefixLength++] = specText.conv;
    }
    size_t zeros = precision > 0 && static_cast<size_t>(precision) > digits ? precision - digits : 0;
    if (specText.alt && base == 8 && zeros == 0 && (digits == 0 || *p != L'0'))
        zeros = 1;
    f.zeroPad = f.zeroPad && precision < 0;
    PutField(out, f, std::wstring_view(prefix, prefixLength), zeros, std::wstring_view(p, digits));
}

// Inserts a decimal point after the first digit when the body has none (the "#" flag).
void ForcePoint(std::string& body, size_t exponentAt)
{
    if (body.find('.') == std::string::npos)
        body.insert(std::min(exponentAt, body.size()), 1, '.');
}

void PutDouble(CLimitedText& out, const SpecText& specText, Field f, int precision, int64_t value)
{
    const double v = static_cast<double>(value);
    const double a = std::fabs(v);
    const wchar_t conv = specText.conv;
    const bool upper = conv == L'E' || conv == L'G' || conv == L'A';
    char buffer[kFieldCap + 64];
    char* const last = buffer + sizeof(buffer);
    std::string body;
    auto print = [&](std::chars_format format, int digits) {
        std::to_chars_result r = digits < 0 ? std::to_chars(buffer, last, a, format)
                                            : std::to_chars(buffer, last, a, format, digits);
        body.assign(buffer, r.ptr);
    };
    auto exponentAt = [&](char letter) { return std::min(body.find(letter), body.size()); };

    switch (conv)
    {
    case L'f':
        print(std::chars_format::fixed, precision < 0 ? 6 : precision);
        if (specText.alt)
            ForcePoint(body, body.size());
        break;
    case L'e': case L'E':
        print(std::chars_format::scientific, precision < 0 ? 6 : precision);
        if (specText.alt)
            ForcePoint(body, 1);
        break;
    case L'g': case L'G':
    {
        const int p = precision < 0 ? 6 : precision == 0 ? 1 : precision;
        if (!specText.alt)
        {
            print(std::chars_format::general, p);
            break;
        }
        // "#" keeps the trailing zeros, so the choice of style is made here.
        print(std::chars_format::scientific, p - 1);
        const int x = std::atoi(body.c_str() + exponentAt('e') + 1);
        if (p > x && x >= -4)
            print(std::chars_format::fixed, p - 1 - x);
        ForcePoint(body, exponentAt('e'));
        break;
    }
    default:  // a, A
        print(std::chars_format::hex, precision);
        if (specText.alt)
            ForcePoint(body, 1);
        break;
    }

    std::wstring wide(body.begin(), body.end());
    if (upper)
        for (wchar_t& c : wide)
            c = static_cast<wchar_t>(towupper(c));
    wchar_t prefix[3];
    size_t prefixLength = 0;
    if (std::signbit(v))
        prefix[prefixLength++] = L'-';
    else if (specText.plus)
        prefix[prefixLength++] = L'+';
    else if (specText.space)
        prefix[prefixLength++] = L' ';
    if (conv == L'a' || conv == L'A')
    {
        prefix[prefixLength++] = L'0';
        prefix[prefixLength++] = conv == L'A' ? L'X' : L'x';
    }
    PutField(out, f, std::wstring_view(prefix, prefixLength), 0, wide);
}

wchar_t NarrowCharToWide(int64_t value)
{
    const char c = static_cast<char>(value & 0xFF);
    wchar_t w = 0;
    if (c != 0 && MultiByteToWideChar(CP_ACP, 0, &c, 1, &w, 1) != 1)
        w = L'?';
    return w;
}

class CPrinter
{
public:
    CPrinter(std::wstring& out, const std::vector<int64_t>& values, bool keyboard)
        : m_out(out), m_values(values), m_keyboard(keyboard) {}

    bool Text(const wchar_t* s, size_t n)
    {
        m_out.Put(std::wstring_view(s, n));
        return !m_out.Full();
    }
    bool Percent()
    {
        m_out.Put(L'%');
        return !m_out.Full();
    }
    bool Specifier(const SpecText& specText, const wchar_t* s)
    {
        Field f;
        f.left = specText.left;
        f.width = specText.width;
        int precision = specText.precision;
        if (specText.widthStar)
        {
            const int32_t w = static_cast<int32_t>(Next());
            if (w < 0)
                f.left = true;
            f.width = static_cast<int>(std::min<int64_t>(std::abs(static_cast<int64_t>(w)), kFieldCap));
        }
        if (specText.precisionStar)
        {
            const int32_t p = static_cast<int32_t>(Next());
            precision = p < 0 ? -1 : std::min<int32_t>(p, kFieldCap);
        }
        const int64_t value = Next();
        f.zeroPad = specText.zero && !f.left;

        switch (specText.cls)
        {
        case TSC_SHORT:
        case TSC_INT32:
        case TSC_INT64:
            PutInteger(m_out, specText, f, precision, value);
            break;
        case TSC_DOUBLE:
            PutDouble(m_out, specText, f, precision, value);
            break;
        case TSC_CHAR:
        case TSC_WCHAR:
        {
            const wchar_t c = specText.cls == TSC_CHAR ? NarrowCharToWide(value) : static_cast<wchar_t>(value & 0xFFFF);
            // As in the template: a U+0001 of a value would take a key-vector entry.
            const size_t length = m_keyboard && c == KEYVEC_CHAR ? 0 : 1;
            PutField(m_out, f, {}, 0, std::wstring_view(&c, length));
            break;
        }
        case TSC_STRING:
        case TSC_WSTRING:
        {
            std::wstring text;
            Int64ToWString(value, text);
            if (precision >= 0 && static_cast<size_t>(precision) < text.size())
                text.resize(static_cast<size_t>(precision));
            PutField(m_out, f, {}, 0, text);
            break;
        }
        case TSC_COUNT:
            break;  // the count is never written anywhere
        case TSC_POINTER:
            PutField(m_out, f, {}, 0, L"00000000");
            break;
        default:
            // Shown as written, so the user sees what was not understood.
            m_out.Put(std::wstring_view(s + specText.offset, specText.end - specText.offset));
            break;
        }
        return !m_out.Full();
    }

private:
    int64_t Next()
    {
        const size_t slot = m_slot++;
        return slot < m_values.size() ? m_values[slot] : 0;
    }

    CLimitedText m_out;
    const std::vector<int64_t>& m_values;
    bool m_keyboard;
    size_t m_slot = 0;
};

// Collects the slot classes, the "%" of each slot's specifier and the rewritten template.
class CSpecCollector
{
public:
    std::vector<int> classes;
    std::vector<int> slotOffsets;
    std::vector<int>* offsets = nullptr;
    std::wstring* rewritten = nullptr;

    bool Text(const wchar_t* s, size_t n)
    {
        if (rewritten)
            rewritten->append(s, n);
        return true;
    }
    bool Percent()
    {
        if (rewritten)
            rewritten->append(L"%%");
        return true;
    }
    bool Specifier(const SpecText& specText, const wchar_t* s)
    {
        if (specText.widthStar)
            AddSlot(TSC_INT32, specText.offset);
        if (specText.precisionStar)
            AddSlot(TSC_INT32, specText.offset);
        AddSlot(specText.cls, specText.offset);
        if (offsets)
            offsets->push_back(static_cast<int>(specText.offset));
        if (rewritten)
        {
            rewritten->append(s + specText.offset, specText.convPos - specText.offset);
            if (specText.prefix == PFX_NONE && specText.cls == TSC_INT64)
                rewritten->append(L"ll");
            rewritten->append(s + specText.convPos, specText.end - specText.convPos);
        }
        return true;
    }

private:
    void AddSlot(int cls, size_t offset)
    {
        classes.push_back(cls);
        slotOffsets.push_back(static_cast<int>(offset));
    }
};

bool IsDecimal(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsOctal(wchar_t c) { return c >= L'0' && c <= L'7'; }
bool IsHex(wchar_t c) { return IsDecimal(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }
unsigned DigitValue(wchar_t c)
{
    if (IsDecimal(c))
        return c - L'0';
    return (c | 0x20) - L'a' + 10;
}

// Reads up to maxDigits digits of a base at i; returns how many were read.
size_t ReadEscapeNumber(const std::wstring& s, size_t i, size_t maxDigits, unsigned base, uint32_t& value)
{
    value = 0;
    size_t count = 0;
    for (; count < maxDigits && i + count < s.size(); ++count)
    {
        const wchar_t c = s[i + count];
        const bool ok = base == 16 ? IsHex(c) : base == 8 ? IsOctal(c) : IsDecimal(c);
        if (!ok)
            break;
        value = value * base + DigitValue(c);
    }
    return count;
}

// In keyboard mode every U+0001 takes the next key-vector entry, so one that came from the
// template itself (not from "\k" or "\p") would shift all later keys and pauses: it is dropped.
void PutUnescaped(std::wstring& out, const KeyVector* keys, wchar_t c)
{
    if (c != KEYVEC_CHAR || !keys)
        out += c;
}

}  // namespace

void AnalyzeTemplateSpecs(std::vector<int>& classes, const std::wstring& templ, std::wstring* rewritten,
                          std::vector<int>* offsets)
{
    CSpecCollector collector;
    collector.rewritten = rewritten;
    collector.offsets = offsets;
    if (rewritten)
        rewritten->clear();
    if (offsets)
        offsets->clear();
    ScanTemplate(templ.data(), templ.size(), collector);
    classes = std::move(collector.classes);
}

void UnescapeTemplate(std::wstring& out, KeyVector* keys, const std::wstring& templ)
{
    out.clear();
    out.reserve(templ.size());
    const size_t n = templ.size();
    size_t i = 0;
    while (i < n)
    {
        const wchar_t c = templ[i++];
        if (c != L'\\')
        {
            PutUnescaped(out, keys, c);
            continue;
        }
        if (i >= n)
            break;  // a lone trailing backslash is dropped
        const wchar_t e = templ[i];
        uint32_t value;
        size_t digits;
        switch (e)
        {
        case L'"': case L'\'': case L'?': case L'\\': out += e; ++i; break;
        case L'n': out += L'\n'; ++i; break;
        case L'r': out += L'\r'; ++i; break;
        case L't': out += L'\t'; ++i; break;
        case L'a': case L'b': case L'f': case L'v': ++i; break;
        case L'#':
            digits = ReadEscapeNumber(templ, ++i, 3, 10, value);
            if (digits)
                PutUnescaped(out, keys, static_cast<wchar_t>(value));
            i += digits;
            break;
        case L'$':
        case L'x':
            digits = ReadEscapeNumber(templ, ++i, 4, 16, value);
            if (digits)
                PutUnescaped(out, keys, static_cast<wchar_t>(value));
            i += digits;
            break;
        case L'k':
        case L'p':
            digits = ReadEscapeNumber(templ, ++i, e == L'k' ? 3 : 4, e == L'k' ? 16 : 10, value);
            if (digits && keys)
            {
                keys->push_back(e == L'k' ? value : (value | KEYVEC_PAUSE));
                out += KEYVEC_CHAR;
            }
            i += digits;
            break;
        default:
            if (IsOctal(e))
            {
                i += ReadEscapeNumber(templ, i, 3, 8, value);
                PutUnescaped(out, keys, static_cast<wchar_t>(value));
            }
            // Any other character stays and is read again as ordinary text.
            break;
        }
    }
}

void EscapeControlChars(std::wstring& out, const wchar_t* text, int length)
{
    out.clear();
    if (!text)
        return;
    const size_t n = length < 0 ? wcslen(text) : static_cast<size_t>(length);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i)
    {
        switch (const wchar_t c = text[i])
        {
        case L'\t': out += L"\\t"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'"': out += L"\\\""; break;
        case L'\'': out += L"\\'"; break;
        default: out += c; break;
        }
    }
}

void RenderFormat(std::wstring& out, KeyVector* keys, const std::wstring& templ, const std::wstring& params,
                  const BYTE* keyBytes, int keyLength)
{
    CKvParser parser;
    std::wstring text;
    UnescapeTemplate(text, keys, templ);
    // A "\0" escape ends the template, as the terminator of the printed text.
    const size_t terminator = text.find(L'\0');
    if (terminator != std::wstring::npos)
        text.resize(terminator);
    parser.Parse(params);
    const std::vector<int64_t>& values = parser.Evaluate(keyBytes, keyLength);
    CPrinter printer(out, values, keys != nullptr);
    ScanTemplate(text.data(), text.size(), printer);
}

void RenderFormat(std::wstring& out, KeyVector* keys, const std::wstring& templ, const std::wstring& params,
                  const _KEY_NUMBER& key)
{
    RenderFormat(out, keys, templ, params, key.bytes, std::min<int>(key.length, KEY_NUMBER_MAX_BYTES));
}

HRESULT ValidateFormat(const std::wstring& params, const std::wstring& templ, int* position, std::wstring* message)
{
    if (position)
        *position = -1;
    if (message)
        message->clear();

    CSpecCollector collector;
    ScanTemplate(templ.data(), templ.size(), collector);
    const std::vector<int>& classes = collector.classes;

    HRESULT result = S_OK;
    int at = -1;
    for (int refused : {TSC_UNSUPPORTED, TSC_COUNT})
    {
        auto it = std::find(classes.begin(), classes.end(), refused);
        if (it != classes.end())
        {
            result = KV_E_TEMPLATE_SPEC;
            at = collector.slotOffsets[static_cast<size_t>(it - classes.begin())];
            break;
        }
    }
    if (result == S_OK)
    {
        CKvParser parser;
        try
        {
            parser.Parse(params);
        }
        catch (const CKvParserException& e)
        {
            if (position)
                *position = e.GetPosition();
            if (message)
                *message = MultiByteToWString(e.what(), CP_ACP);
            return e.GetCode();
        }
        if (parser.GetCount() < classes.size())
            result = KV_E_NOT_ENOUGH_PARAMS;
    }
    if (result != S_OK)
    {
        if (position)
            *position = at;
        if (message)
            GetSystemMessageText(*message, GetResourceModule(), static_cast<DWORD>(result));
    }
    return result;
}
