#pragma once
// Turns a key number into the text a destination receives: a format's template (printf-
// like, with backslash escapes) is printed with the values of its params expressions.
// Templates come from users, imported files and presets, so they are never handed to the
// runtime's printf: the specifiers are printed here, and "%n" writes nothing.
// UI thread; no state between calls.

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

struct _KEY_NUMBER;

// Entries produced by "\k" (key code: bits 0-7 virtual key, bits 8-11 modifiers) and "\p"
// (KEYVEC_PAUSE | milliseconds); each stands for one U+0001 in the rendered text.
using KeyVector = std::vector<uint32_t>;
constexpr uint32_t KEYVEC_PAUSE = 0x80000000u;
constexpr wchar_t KEYVEC_CHAR = L'\x0001';

// The argument class of one slot of a template: what a specifier (or its "*" width or
// precision) takes from the params values.
enum TemplateSpecClass
{
    TSC_UNSUPPORTED = 0,  // printed as it stands
    TSC_SHORT = 1,        // "h" integer
    TSC_INT32 = 2,        // "I32", "l", "I" integer, and every "*"
    TSC_INT64 = 3,        // integer without prefix, "ll", "I64", "w"
    TSC_DOUBLE = 4,       // e E f g G a A
    TSC_CHAR = 5,         // narrow character (ANSI code page)
    TSC_WCHAR = 6,        // wide character
    TSC_STRING = 7,       // narrow string: the value's decimal text
    TSC_WSTRING = 8,      // wide string: the value's decimal text
    TSC_COUNT = 9,        // "n": prints nothing, writes nothing
    TSC_POINTER = 10      // "p": prints a null pointer
};

// Longest rendered text; longer results are cut.
constexpr size_t kMaxRenderedLength = 4095;

// Renders the key through template and params. With keys, "\k" and "\p" append their
// entries to it (the caller empties it first); without, they give nothing.
// Errors of the params leave as CKvParserException.
void RenderFormat(std::wstring& out, KeyVector* keys, const std::wstring& templ, const std::wstring& params,
                  const _KEY_NUMBER& key);
void RenderFormat(std::wstring& out, KeyVector* keys, const std::wstring& templ, const std::wstring& params,
                  const BYTE* keyBytes, int keyLength);

// Checks a template (as stored) and params pair: 0, KV_E_TEMPLATE_SPEC with the index of
// the offending "%", a parser code with its position, or KV_E_NOT_ENOUGH_PARAMS. position
// is -1 where none applies; message gets the text of a failure (empty on success).
HRESULT ValidateFormat(const std::wstring& params, const std::wstring& templ, int* position, std::wstring* message);

// The specifier scan: one class per argument slot (width slot, precision slot, then the
// specifier's own). rewritten gets the template with "ll" put in front of every bare
// 64-bit integer conversion; offsets the index of each specifier's "%".
void AnalyzeTemplateSpecs(std::vector<int>& classes, const std::wstring& templ, std::wstring* rewritten,
                          std::vector<int>* offsets);

// Resolves the backslash escapes of a template.
void UnescapeTemplate(std::wstring& out, KeyVector* keys, const std::wstring& templ);

// One-line display form: TAB, LF, CR and both quotes become backslash escapes; a
// backslash stays one backslash. length -1 reads up to the terminator.
void EscapeControlChars(std::wstring& out, const wchar_t* text, int length = -1);
