#include "reader/KeyLine.h"
#include <cstring>
#include <cwctype>
#include <string>
#include "core/SysUtil.h"
#include "reader/ReaderModels.h"

int CardTypeFromSak(BYTE sak, WORD atqa, uint32_t* extra)
{
    uint32_t x = 0;
    int type;
    const bool b01 = sak & 0x01, b08 = sak & 0x08, b10 = sak & 0x10, b20 = sak & 0x20;
    if (sak & 0x02)
        type = 0;
    else if (b08 && b10)
        type = b01 ? 11 : !b20 ? 12 : (x = 1, 18);
    else if (b08)
        type = b01 ? 21 : !b20 ? 10 : (x = 1, 17);
    else if (b10)
        type = b01 ? 16 : 15, x = 41;
    else if (!b20)
        type = 9;
    else if (atqa == 0x0002 || atqa == 0x0042)
        type = 16, x = 1;
    else if (atqa == 0x0004 || atqa == 0x0044)
        type = 15, x = 1;
    else if (atqa == 0x0344)
        type = 19;
    else
        type = 13, x = 1;
    if (extra)
        *extra = x;
    return type;
}

namespace {

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return 0;    // readers send hex only; anything else counts as 0
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads an unsigned number of the given base from s at pos; false without a digit.
bool ReadNumber(std::wstring_view s, size_t& pos, int base, uint32_t& value)
{
    size_t start = pos;
    uint64_t v = 0;
    while (pos < s.size()) {
        wchar_t c = s[pos];
        int d;
        if (IsDigit(c))
            d = c - L'0';
        else if (base == 16 && std::iswxdigit(c))
            d = HexValue(c);
        else
            break;
        if (v < 0x100000000ull)
            v = v * base + d;
        ++pos;
    }
    value = static_cast<uint32_t>(v);
    return pos > start;
}

int MifareTypeByWord(const std::wstring& word)
{
    static const struct { const wchar_t* word; int type; } words[] = {
        {L"ul", 9}, {L"1k", 10}, {L"4k", 12}, {L"df", 19}, {L"px", 20}};
    for (const auto& w : words)
        if (word == w.word)
            return w.type;
    return -1;
}

struct KeyLineParts {
    std::wstring name;
    BYTE le[19] = {};      // bracketed bytes, the last pair of the text first
    int count = 0;
    bool hasPair = false;  // "(x,y)": ATQA x, SAK y
    uint32_t atqa = 0, sak = 0;
    bool hasDecimals = false;
    uint32_t a = 0, b = 0;
    std::wstring word;

    // Byte i counted in text order (the first pair of the text is 0).
    BYTE TextOrder(int i) const { return le[count - 1 - i]; }
};

bool SplitKeyLine(std::wstring_view line, KeyLineParts& p)
{
    size_t open = line.find(L'[');
    if (open == std::wstring_view::npos || open > 15)
        return false;
    size_t close = line.find(L']', open + 1);
    if (close == std::wstring_view::npos)
        return false;
    for (size_t i = 0; i < open; ++i)
        p.name += static_cast<wchar_t>(std::towlower(line[i]));

    // From the last digit backwards, two digits a byte; a lone first digit is dropped.
    for (size_t end = close; end >= open + 3 && p.count < 19; end -= 2)
        p.le[p.count++] = static_cast<BYTE>(HexValue(line[end - 2]) << 4 | HexValue(line[end - 1]));

    bool seenWord = false;
    size_t pos = close + 1;
    while (pos < line.size()) {
        if (line[pos] == L' ' || line[pos] == L'\t') {
            ++pos;
            continue;
        }
        size_t end = line.find_first_of(L" \t", pos);
        if (end == std::wstring_view::npos)
            end = line.size();
        std::wstring_view tok = line.substr(pos, end - pos);
        pos = end;
        std::wstring lower;
        for (wchar_t c : tok)
            lower += static_cast<wchar_t>(std::towlower(c));
        // "1k" and "4k" begin with a digit but are words.
        const bool knownWord = MifareTypeByWord(lower) >= 0;
        if (tok[0] == L'(') {
            size_t q = 1;
            uint32_t x, y;
            if (!p.hasPair && ReadNumber(tok, q, 16, x) && q + 1 < tok.size() && (++q, ReadNumber(tok, q, 16, y)) &&
                q < tok.size() && tok[q] == L')') {
                p.hasPair = true;
                p.atqa = x & 0xFFFF;
                p.sak = y & 0xFF;
            }
        } else if (IsDigit(tok[0]) && !knownWord) {
            size_t q = 0;
            uint32_t a = 0, b = 0;
            if (!p.hasDecimals && ReadNumber(tok, q, 10, a)) {
                if (q + 1 < tok.size()) {
                    size_t r = q + 1;
                    ReadNumber(tok, r, 10, b);
                }
                p.hasDecimals = true;
                p.a = a;
                p.b = b;
            }
        } else if (!seenWord) {
            seenWord = true;
            p.word = lower;
        }
    }
    return true;
}

void PutCardNumber(_KEY_NUMBER& key, uint32_t number, uint32_t facility)
{
    key.bytes[0] = static_cast<BYTE>(number);
    key.bytes[1] = static_cast<BYTE>(number >> 8);
    key.bytes[2] = static_cast<BYTE>(facility);
}

} // namespace

bool ParseKeyLine(std::wstring_view line, int& keyType, _KEY_NUMBER& key, uint32_t& extra, int model,
                  PackedVersion firmware, bool qm100)
{
    key = _KEY_NUMBER{};
    keyType = 0;
    extra = 0;
    KeyLineParts p;
    if (!SplitKeyLine(line, p))
        return false;
    const int n = p.count;
    const uint32_t dialect = ReaderModelFlags(model, firmware);

    if (p.name == L"em-marine") {
        if (!p.hasDecimals)
            return false;
        keyType = 1;
        PutCardNumber(key, p.b, p.a);
        for (int i = 0; i < 2 && i < n; ++i)
            key.bytes[3 + i] = p.le[i];
        key.length = 5;
    } else if (p.name == L"hid") {
        if (!p.hasDecimals)
            return false;
        keyType = 2;
        key.bytes[0] = static_cast<BYTE>(p.a);
        key.bytes[1] = static_cast<BYTE>(p.a >> 8);
        if (dialect & MODEL_HID_TEXT_ORDER) {
            for (int i = 0; i < n && i < 6; ++i)
                key.bytes[i] = p.TextOrder(i);
        } else {
            for (int i = 0; i < n && i < 4; ++i)
                key.bytes[2 + i] = p.le[i];
        }
        key.length = 6;
    } else if (p.name == L"mifare") {
        if (n == 0)
            return false;   // the bracket is the whole key: an empty one is no key
        keyType = MifareTypeByWord(p.word);
        if (keyType < 0)
            keyType = p.hasPair ? CardTypeFromSak(static_cast<BYTE>(p.sak), static_cast<WORD>(p.atqa), nullptr) : 0;
        // Most readers print a long UID with its first four bytes last.
        const bool rotate = !(dialect & MODEL_MIFARE_TEXT_ORDER) && n > 4;
        for (int i = 0; i < n; ++i)
            key.bytes[i] = p.TextOrder(rotate ? (i + 4) % n : i);
        key.length = static_cast<BYTE>(n);
    } else if (p.name == L"icode") {
        if (!p.hasDecimals)
            return false;
        keyType = 3;
        PutCardNumber(key, p.b, p.a);
        int more = n >= 4 ? n - 3 : 0;
        if (more > 16)
            more = 16;
        for (int i = 0; i < more; ++i)
            key.bytes[3 + i] = p.le[3 + i];
        key.length = static_cast<BYTE>(3 + more);
    } else if (p.name == L"cod433" || p.name == L"cod433 fix") {
        if (n == 0)
            return false;
        keyType = p.name == L"cod433" ? 4 : 5;
        PutCardNumber(key, p.b, p.a);
        key.bytes[3] = n == 4 ? static_cast<BYTE>((p.le[0] & 0xF0) | (p.le[1] >> 4)) : p.le[0];
        key.length = 4;
        // 433 MHz remotes put the nibbles of the code in one of two orders.
        if (((dialect & MODEL_OTHER_QM100) != 0) != qm100) {
            const BYTE b2 = key.bytes[2], b3 = key.bytes[3];
            key.bytes[3] = static_cast<BYTE>((b3 & 0xF0) | (b2 >> 4));
            key.bytes[2] = static_cast<BYTE>((b3 << 4) | (b2 & 0x0F));
        }
    } else if (p.name == L"came433") {
        if (!p.hasDecimals)
            return false;
        keyType = 6;
        PutCardNumber(key, p.b, p.a);
        key.length = 3;
    } else if (p.name == L"dallas") {
        if (n == 0)
            return false;
        keyType = 7;
        if (n == 8 && p.le[7] == DallasCrc8(p.le, 7)) {
            // A 1-Wire serial number: family code and CRC are not part of the key.
            std::memcpy(key.bytes, p.le + 1, 6);
            key.length = 6;
        } else {
            std::memcpy(key.bytes, p.le, n);
            key.length = static_cast<BYTE>(n);
        }
    } else {
        return false;
    }
    if (keyType == 0)
        key = _KEY_NUMBER{};
    return keyType != 0;
}

bool IsNoCardLine(std::wstring_view line)
{
    return line.size() >= 7 && _wcsnicmp(std::wstring(line.substr(0, 7)).c_str(), L"No card", 7) == 0;
}

bool IsKeyLine(std::wstring_view line)
{
    return line.find(L'[') != std::wstring_view::npos && line.find(L':') == std::wstring_view::npos;
}
