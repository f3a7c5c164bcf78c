#include "config/KeyNumber.h"

#include "core/TextUtil.h"
#include "resources/resource.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

// Bytes beyond the length read as zero even when a record was filled carelessly.
unsigned KeyByte(const _KEY_NUMBER& key, int i)
{
    return i < key.length && i < KEY_NUMBER_MAX_BYTES ? key.bytes[i] : 0u;
}

unsigned KeyWord(const _KEY_NUMBER& key)
{
    return KeyByte(key, 0) | (KeyByte(key, 1) << 8);
}

bool IsBlank(wchar_t c) { return c == L' '; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsHexDigit(wchar_t c)
{
    return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Decimal text without the runtime's printf, so that 64-bit values print the same with every
// C runtime of both targets.
void AppendDecimal(std::wstring& out, uint64_t value, int minDigits)
{
    wchar_t digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = n; i < minDigits; ++i)
        out += L'0';
    while (n > 0)
        out += digits[--n];
}

// "[" + hex of bytes first..first+count-1, last byte first + "] "
void AppendBracketHex(std::wstring& out, const _KEY_NUMBER& key, int first, int count)
{
    uint8_t bytes[KEY_NUMBER_MAX_BYTES] = {};
    count = std::clamp(count, 0, KEY_NUMBER_MAX_BYTES - first);
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(KeyByte(key, first + i));
    wchar_t hex[2 * KEY_NUMBER_MAX_BYTES + 1];
    BytesToHexReversed(bytes, count, hex, static_cast<int>(std::size(hex)));
    out += L'[';
    out.append(hex, 2 * count);
    out += L"] ";
}

void AppendFacility(std::wstring& out, const _KEY_NUMBER& key)
{
    AppendDecimal(out, KeyByte(key, 2), 3);
    out += L',';
    AppendDecimal(out, KeyWord(key), 5);
}

// Decimal number as the runtime's conversions read it: leading blanks, an optional sign,
// digits up to the first other character. Wraps modulo 2^64, of which callers keep low bits.
struct DecimalRead {
    uint64_t value = 0;
    bool digits = false;
    bool overflow = false;
    const wchar_t* end = nullptr;
};

DecimalRead ReadDecimal(const wchar_t* p)
{
    DecimalRead r;
    while (*p == L' ' || *p == L'\t')
        ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-')
        negative = *p++ == L'-';
    for (; IsDigit(*p); ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - L'0');
        if (r.value > (UINT64_MAX - digit) / 10)
            r.overflow = true;
        r.value = r.value * 10 + digit;
        r.digits = true;
    }
    if (negative) {
        r.value = 0 - r.value;
        r.overflow = r.overflow || r.value != 0;
    }
    r.end = p;
    return r;
}

// The text between "[" and a "]" after it, when both stand in the text.
bool FindBracketPart(const wchar_t* text, const wchar_t*& open, const wchar_t*& close)
{
    open = std::wcschr(text, L'[');
    if (open == nullptr)
        return false;
    close = std::wcschr(open + 1, L']');
    return close != nullptr;
}

int ReadBracketBytes(const wchar_t* open, const wchar_t* close, uint8_t* out, int room)
{
    const int length = static_cast<int>(close - open - 1);
    if (length <= 0)
        return 0;
    return HexToBytesReversed(open + 1, length, out, room);
}

// Shared by the short and the long form: the bracket bytes go to byte `first` onward, then a
// blank, then the number.
bool ParseNumberKeyText(const wchar_t* text, int first, bool wide, _KEY_NUMBER& key)
{
    if (text == nullptr)
        return false;
    _KEY_NUMBER result;
    const wchar_t* number = text;
    const wchar_t *open, *close;
    if (FindBracketPart(text, open, close)) {
        const int count = ReadBracketBytes(open, close, result.bytes + first, KEY_NUMBER_MAX_BYTES - first);
        result.length = static_cast<uint8_t>(first + count);
        number = std::wcschr(close + 1, L' ');
        if (number == nullptr)
            return false;   // "]" without the blank before the number: no key at all
        ++number;
    } else {
        result.length = static_cast<uint8_t>(wide ? 8 : 3);
    }
    const DecimalRead r = ReadDecimal(number);
    if (!r.digits)
        return false;
    if (wide) {
        if (r.overflow)
            return false;   // more than 64 bits cannot be a card number
        for (int i = 0; i < 8; ++i)
            result.bytes[i] = static_cast<uint8_t>(r.value >> (8 * i));
    } else {
        result.bytes[0] = static_cast<uint8_t>(r.value);
        result.bytes[1] = static_cast<uint8_t>(r.value >> 8);
    }
    key = result;
    return true;
}

} // namespace

// Key records ---------------------------------------------------------------------------------

int CompareKeys(const _KEY_NUMBER& a, const _KEY_NUMBER& b)
{
    const int la = std::min<int>(a.length, KEY_NUMBER_MAX_BYTES);
    const int lb = std::min<int>(b.length, KEY_NUMBER_MAX_BYTES);
    const int common = std::min(la, lb);
    for (int i = 0; i < common; ++i) {
        if (a.bytes[i] != b.bytes[i])
            return a.bytes[i] < b.bytes[i] ? -1 : 1;
    }
    return la == lb ? 0 : (la < lb ? -1 : 1);
}

bool KeysEqual(const _KEY_NUMBER& a, const _KEY_NUMBER& b)
{
    return CompareKeys(a, b) == 0;
}

uint64_t KeyToUInt64(const _KEY_NUMBER& key)
{
    uint64_t value = 0;
    for (int i = std::min<int>(key.length, 8) - 1; i >= 0; --i)
        value = (value << 8) | key.bytes[i];
    return value;
}

_KEY_NUMBER MakeKeyNumber(const uint8_t* bytes, size_t count)
{
    _KEY_NUMBER key;
    key.length = static_cast<uint8_t>(std::min<size_t>(count, KEY_NUMBER_MAX_BYTES));
    if (key.length != 0)
        std::memcpy(key.bytes, bytes, key.length);
    return key;
}

// Text forms ----------------------------------------------------------------------------------

int ResolveKeyViewFormat(int viewId, int keyType)
{
    if (viewId != KEY_VIEW_AUTO)
        return viewId;
    if (keyType == 1)
        return KEY_VIEW_FACILITY;
    if (keyType == 2)
        return KEY_VIEW_SHORT;
    return KEY_VIEW_HEX;
}

void KeyToText(std::wstring& out, const _KEY_NUMBER& key, int viewId)
{
    switch (viewId) {
    case KEY_VIEW_FACILITY:
        KeyToFacilityText(out, key, 0);
        return;
    case KEY_VIEW_FACILITY_CODE:
        KeyToFacilityText(out, key, -1);
        return;
    case KEY_VIEW_SHORT:
        // No empty case: an empty key shows as 00000.
        out.clear();
        if (key.length > 2)
            AppendBracketHex(out, key, 2, key.length - 2);
        AppendDecimal(out, KeyWord(key), 5);
        return;
    case KEY_VIEW_LONG:
        KeyToLongText(out, key);
        return;
    default:
        KeyToHex(out, key);
        return;
    }
}

void KeyToFacilityText(std::wstring& out, const _KEY_NUMBER& key, int hexCount)
{
    out.clear();
    if (key.length == 0)
        return;
    if (hexCount < 0)
        hexCount = key.length > 3 ? key.length - 3 : 0;
    if (hexCount > 0)
        AppendBracketHex(out, key, 3, hexCount);
    AppendFacility(out, key);
}

void KeyToLongText(std::wstring& out, const _KEY_NUMBER& key)
{
    out.clear();
    if (key.length == 0)
        return;
    if (key.length > 8)
        AppendBracketHex(out, key, 8, key.length - 8);
    AppendDecimal(out, KeyToUInt64(key), 1);
}

void KeyToHex(std::wstring& out, const _KEY_NUMBER& key)
{
    out.clear();
    const int count = std::min<int>(key.length, KEY_NUMBER_MAX_BYTES);
    if (count == 0)
        return;
    wchar_t hex[2 * KEY_NUMBER_MAX_BYTES + 1];
    BytesToHexReversed(key.bytes, count, hex, static_cast<int>(std::size(hex)));
    out.assign(hex, 2 * count);
}

void KeyToHexString(const _KEY_NUMBER& key, std::wstring& out)
{
    KeyToHex(out, key);
}

// Parsers -------------------------------------------------------------------------------------

int ClassifyKeyText(const wchar_t* text)
{
    if (text == nullptr)
        return KEY_TEXT_HEX;
    while (IsBlank(*text))
        ++text;
    if (*text == 0)
        return KEY_TEXT_HEX;

    bool hex = true;        // only hex digits and blanks
    bool plain = true;      // facility form without a bracket part
    bool facility = true;   // facility form with or without a bracket part
    bool number = true;     // number form
    enum { Between, InBrackets, InDigits, AfterDigits } state = Between;

    for (; *text != 0; ++text) {
        const wchar_t c = *text;
        if (!IsBlank(c) && !IsHexDigit(c))
            hex = false;
        if (plain || facility || number) {
            auto notDecimal = [&] { plain = facility = number = false; };
            switch (state) {
            case Between:
                if (c == L'[') {
                    hex = plain = false;
                    state = InBrackets;
                } else if (IsDigit(c)) {
                    state = InDigits;
                } else if (!IsBlank(c)) {
                    notDecimal();
                }
                break;
            case InBrackets:
                if (c == L']')
                    state = Between;
                else if (!IsBlank(c) && !IsHexDigit(c))
                    return KEY_TEXT_NONE;
                break;
            case InDigits:
                if (IsBlank(c))
                    state = AfterDigits;
                else if ((c == L',' || c == L'.') && number)
                    hex = number = false;
                else if (!IsDigit(c))
                    notDecimal();
                break;
            case AfterDigits:
                if (!IsBlank(c))
                    notDecimal();
                break;
            }
        }
        if (!hex && !plain && !facility && !number)
            return KEY_TEXT_NONE;
    }
    if (hex)
        return KEY_TEXT_HEX;
    if (plain)
        return KEY_TEXT_FACILITY;
    if (number)
        return KEY_TEXT_SHORT;
    if (facility)
        return KEY_TEXT_FACILITY;
    return KEY_TEXT_NONE;
}

bool ParseFacilityKeyText(const wchar_t* text, _KEY_NUMBER& key)
{
    if (text == nullptr)
        return false;
    const wchar_t* sep = std::wcschr(text, L',');
    if (sep == nullptr)
        sep = std::wcschr(text, L'.');
    if (sep == nullptr || sep == text)
        return false;

    _KEY_NUMBER result;
    const uint64_t card = ReadDecimal(sep + 1).value;
    result.bytes[0] = static_cast<uint8_t>(card);
    result.bytes[1] = static_cast<uint8_t>(card >> 8);

    const wchar_t* run = sep;
    while (run > text && IsDigit(run[-1]))
        --run;
    uint64_t facility = 0;
    for (const wchar_t* p = run; p < sep; ++p)
        facility = facility * 10 + static_cast<uint64_t>(*p - L'0');
    result.bytes[2] = static_cast<uint8_t>(facility);

    result.length = 3;
    const wchar_t *open, *close;
    if (FindBracketPart(text, open, close))
        result.length = static_cast<uint8_t>(3 + ReadBracketBytes(open, close, result.bytes + 3, 16));
    key = result;
    return true;
}

bool ParseShortKeyText(const wchar_t* text, _KEY_NUMBER& key)
{
    return ParseNumberKeyText(text, 2, false, key);
}

bool ParseLongKeyText(const wchar_t* text, _KEY_NUMBER& key)
{
    return ParseNumberKeyText(text, 8, true, key);
}

bool ParseKeyText(const wchar_t* text, int kind, _KEY_NUMBER& key)
{
    _KEY_NUMBER result;
    bool ok = false;
    switch (kind) {
    case KEY_TEXT_NONE:
        break;
    case KEY_TEXT_FACILITY:
        ok = ParseFacilityKeyText(text, result);
        break;
    case KEY_TEXT_SHORT:
        ok = ParseShortKeyText(text, result);
        break;
    case KEY_TEXT_LONG:
        ok = ParseLongKeyText(text, result);
        break;
    default:
        if (text != nullptr) {
            result.length = static_cast<uint8_t>(
                HexToBytesReversed(text, -1, result.bytes, KEY_NUMBER_MAX_BYTES));
            ok = true;
        }
        break;
    }
    key = ok ? result : _KEY_NUMBER{};
    return key.length != 0;
}

// Other utilities -----------------------------------------------------------------------------

int ClassifyPortName(const wchar_t* name)
{
    if (name == nullptr || *name == 0)
        return PORT_NAME_EMPTY;
    if (IsDigit(*name))
        return PORT_NAME_NETWORK;
    if (std::towupper(name[0]) != L'C' || std::towupper(name[1]) != L'O' || std::towupper(name[2]) != L'M')
        return PORT_NAME_OTHER;
    const long number = std::wcstol(name + 3, nullptr, 10);
    if (number <= 0)
        return PORT_NAME_OTHER;
    return number <= 2 ? PORT_NAME_COM_LOW : PORT_NAME_COM;
}

bool SplitAddressPort(const std::wstring& text, std::wstring& address, int& port)
{
    const size_t colon = text.rfind(L':');
    if (colon == std::wstring::npos) {
        address = text;
        port = DEFAULT_BRIDGE_PORT;
        return true;
    }
    address = text.substr(0, colon);
    port = static_cast<int>(std::wcstol(text.c_str() + colon + 1, nullptr, 10));
    return true;
}

bool ParseTemicParams(const wchar_t* text, std::vector<uint32_t>& values)
{
    values.clear();
    if (text == nullptr)
        return true;
    const std::wstring all(text);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(L';', start);
        if (end == std::wstring::npos)
            end = all.size();
        const std::wstring group = all.substr(start, end - start);
        start = end + 1;
        if (group.find_first_not_of(L" \t") == std::wstring::npos)
            continue;   // empty group
        int a = 0, b = 0, c = 0;
        const int read = std::swscanf(group.c_str(), L"%d,%d,%d", &a, &b, &c);
        if (read < 2)
            return false;
        uint32_t value = static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8);
        if (read >= 3)
            value += static_cast<uint32_t>(c) << 16;
        values.push_back(value);
    }
    return true;
}

int LangIdToLanguageIndex(unsigned languageId)
{
    switch (languageId) {
    case 1049: return 0;
    case 1033: return 1;
    case 1028: case 2052: return 2;
    case 1040: return 3;
    case 1045: return 4;
    case 1026: return 5;
    case 1029: return 6;
    case 1036: return 7;
    case 1031: return 8;
    case 1034: case 3082: return 9;
    default: return -1;
    }
}

void ExpandKeyTemplate(const std::wstring& templ, const std::wstring& keyText, std::wstring& out)
{
    out.clear();
    size_t pos = 0;
    while (pos < templ.size()) {
        const size_t open = templ.find(L'%', pos);
        if (open == std::wstring::npos) {
            out.append(templ, pos, std::wstring::npos);
            break;
        }
        out.append(templ, pos, open - pos);
        const size_t close = templ.find(L'%', open + 1);
        if (close == std::wstring::npos)
            break;   // an unclosed macro name is dropped
        std::wstring name = templ.substr(open + 1, close - open - 1);
        for (wchar_t& c : name)
            c = static_cast<wchar_t>(std::towlower(c));
        if (name.empty())
            out += L'%';
        else if (name == L"keynum")
            out += keyText;
        pos = close + 1;
    }
}

bool MakeUniqueName(const std::wstring& base, const std::vector<std::wstring>& taken, std::wstring& out)
{
    auto isTaken = [&](const std::wstring& name) {
        return std::find(taken.begin(), taken.end(), name) != taken.end();
    };
    if (!isTaken(base)) {
        out = base;
        return true;
    }
    for (int n = 1; n < INT32_MAX; ++n) {
        std::wstring name = base + L' ';
        AppendDecimal(name, static_cast<uint64_t>(n), 1);
        if (!isTaken(name)) {
            out = name;
            return true;
        }
    }
    out.clear();
    return false;
}

bool MakeUniqueToolName(const std::vector<std::wstring>& toolNames, std::wstring& out)
{
    std::wstring base;
    LoadResString(IDS_NEW_TOOL, base);
    return MakeUniqueName(base, toolNames, out);
}
