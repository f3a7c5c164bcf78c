#pragma once
// Key numbers (a length byte and up to 19 key bytes) and the text forms in which the user sees
// and types them; a few small text utilities shared by the pages, the reader and the
// destinations. All free functions without state.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int KEY_NUMBER_MAX_BYTES = 19;

#pragma pack(push, 1)
struct _KEY_NUMBER {
    uint8_t length = 0;                         // valid key bytes, 0 to 19
    uint8_t bytes[KEY_NUMBER_MAX_BYTES] = {};   // byte 0 first; zero beyond the length
};
#pragma pack(pop)
static_assert(sizeof(_KEY_NUMBER) == 20, "the key record is stored and compared as 20 bytes");

// Ids of the "View key" forms.
enum KeyViewFormat {
    KEY_VIEW_AUTO = 0,
    KEY_VIEW_FACILITY = 1,        // 005,00042
    KEY_VIEW_FACILITY_CODE = 2,   // [0201] 005,00042
    KEY_VIEW_SHORT = 3,           // [05] 00042
    KEY_VIEW_HEX = 4,             // 05002A
    KEY_VIEW_LONG = 5,            // [BBAA] 327722
};

// Results of ClassifyKeyText.
enum KeyTextKind {
    KEY_TEXT_NONE = 0,
    KEY_TEXT_FACILITY = 1,
    KEY_TEXT_SHORT = 3,
    KEY_TEXT_HEX = 4,
    KEY_TEXT_LONG = 5,            // never returned by ClassifyKeyText; accepted by ParseKeyText
};

// Key records ---------------------------------------------------------------------------------

// -1, 0 or 1: bytes as unsigned from byte 0 over the shorter length; on an equal common part
// the shorter key is the smaller.
int CompareKeys(const _KEY_NUMBER& a, const _KEY_NUMBER& b);
bool KeysEqual(const _KEY_NUMBER& a, const _KEY_NUMBER& b);
// The first min(length, 8) bytes as a little-endian number.
uint64_t KeyToUInt64(const _KEY_NUMBER& key);
// A key of the given bytes (at most 19 taken), zero beyond them.
_KEY_NUMBER MakeKeyNumber(const uint8_t* bytes, size_t count);

// The first entry at or after start with an equal key type and key number. Entries are
// records or pointers to records with the members keyType and keyNumber.
template <class List>
typename List::const_iterator FindKeyInList(const List& list, int keyType, const _KEY_NUMBER& key,
                                            typename List::const_iterator start)
{
    for (auto it = start; it != list.end(); ++it) {
        const auto& entry = *it;
        if constexpr (requires { entry->keyType; }) {
            if (entry && entry->keyType == keyType && CompareKeys(entry->keyNumber, key) == 0)
                return it;
        } else {
            if (entry.keyType == keyType && CompareKeys(entry.keyNumber, key) == 0)
                return it;
        }
    }
    return list.end();
}

template <class List>
typename List::const_iterator FindKeyInList(const List& list, int keyType, const _KEY_NUMBER& key)
{
    return FindKeyInList(list, keyType, key, list.begin());
}

// Text forms ----------------------------------------------------------------------------------

// The form that "Auto" stands for with a key type: Em-Marine (1) facility, HID (2) short,
// every other type hexadecimal. Other ids are returned unchanged.
int ResolveKeyViewFormat(int viewId, int keyType);

// The form of the view id; any id other than 1, 2, 3 and 5 gives hexadecimal.
void KeyToText(std::wstring& out, const _KEY_NUMBER& key, int viewId);
// hexCount bytes from byte 3 in brackets (0 none; -1 all beyond the third), then "%.3u,%.5u"
// of byte 2 and bytes 0-1. Empty for length 0.
void KeyToFacilityText(std::wstring& out, const _KEY_NUMBER& key, int hexCount);
// Bytes 8 onward in brackets (only beyond 8 bytes), then bytes 0-7 as one decimal number.
void KeyToLongText(std::wstring& out, const _KEY_NUMBER& key);
// Upper-case hex, last byte first; empty for length 0.
void KeyToHex(std::wstring& out, const _KEY_NUMBER& key);
void KeyToHexString(const _KEY_NUMBER& key, std::wstring& out);

// Parsers -------------------------------------------------------------------------------------

// Which form a typed or imported text has: 1, 3, 4 or 0 (never 2 or 5).
int ClassifyKeyText(const wchar_t* text);
inline int ClassifyKeyText(const std::wstring& text) { return ClassifyKeyText(text.c_str()); }

// Each returns true on success, having replaced the whole record; on failure key is unchanged.
bool ParseFacilityKeyText(const wchar_t* text, _KEY_NUMBER& key);   // forms 1 and 2
bool ParseShortKeyText(const wchar_t* text, _KEY_NUMBER& key);      // form 3, a plain number
bool ParseLongKeyText(const wchar_t* text, _KEY_NUMBER& key);       // form 5, a plain 64-bit number
inline bool ParseFacilityKeyText(const std::wstring& t, _KEY_NUMBER& k) { return ParseFacilityKeyText(t.c_str(), k); }
inline bool ParseShortKeyText(const std::wstring& t, _KEY_NUMBER& k) { return ParseShortKeyText(t.c_str(), k); }
inline bool ParseLongKeyText(const std::wstring& t, _KEY_NUMBER& k) { return ParseLongKeyText(t.c_str(), k); }

// Reads a key in the form of kind (a ClassifyKeyText result, or 5): 1 facility, 3 short,
// 5 long, any other non-zero kind reversed hex into at most 19 bytes. Kind 0 and a failed
// parse leave an empty key; the result says whether a key of non-zero length was read.
bool ParseKeyText(const wchar_t* text, int kind, _KEY_NUMBER& key);
inline bool ParseKeyText(const std::wstring& t, int kind, _KEY_NUMBER& k) { return ParseKeyText(t.c_str(), kind, k); }

// Other utilities -----------------------------------------------------------------------------

enum PortNameKind {
    PORT_NAME_EMPTY = 0,
    PORT_NAME_COM_LOW = 1,     // COM1, COM2
    PORT_NAME_COM = 2,         // COM3 and up
    PORT_NAME_NETWORK = 3,     // begins with a digit
    PORT_NAME_OTHER = 4,
};
int ClassifyPortName(const wchar_t* name);
inline int ClassifyPortName(const std::wstring& name) { return ClassifyPortName(name.c_str()); }

constexpr int DEFAULT_BRIDGE_PORT = 25000;
// Splits at the last ':'; without one the port is 25000. Always true.
bool SplitAddressPort(const std::wstring& text, std::wstring& address, int& port);

// Groups "a,b[,c]" separated by ';' packed as a | b << 8 | c << 16. False at the first
// malformed group, the groups before it kept.
bool ParseTemicParams(const wchar_t* text, std::vector<uint32_t>& values);
inline bool ParseTemicParams(const std::wstring& t, std::vector<uint32_t>& v) { return ParseTemicParams(t.c_str(), v); }

template <class T>
bool IntVectorsEqual(const std::vector<T>& a, const std::vector<T>& b)
{
    return a == b;
}

// Position of the language's entry in the program's language list, -1 when unknown.
int LangIdToLanguageIndex(unsigned languageId);

// "%KeyNum%" (any case) becomes keyText, "%%" one percent sign, any other macro nothing.
void ExpandKeyTemplate(const std::wstring& templ, const std::wstring& keyText, std::wstring& out);

// "New Tool", or "New Tool n" with the first n from 1 that no tool bears.
bool MakeUniqueName(const std::wstring& base, const std::vector<std::wstring>& taken, std::wstring& out);
bool MakeUniqueToolName(const std::vector<std::wstring>& toolNames, std::wstring& out);

// Tools are records or pointers to records with the member name.
template <class Tools>
bool MakeUniqueToolName(const Tools& tools, std::wstring& out)
{
    std::vector<std::wstring> names;
    for (const auto& tool : tools) {
        if constexpr (requires { tool->name; })
            names.push_back(tool->name);
        else
            names.push_back(tool.name);
    }
    return MakeUniqueToolName(names, out);
}
