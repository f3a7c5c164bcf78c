#pragma once
// Resource strings, printf-style formatting, code-page conversion, hex text, wildcards and
// dotted version numbers. Nothing here throws for bad input: failures give empty text.
#include <windows.h>
#include <cstdarg>
#include <cstdint>
#include <string>

// Module handles read by the string loaders. The resource module is the loaded language
// library (or the program itself); the program module is the executable. Until set, both
// are the executable that runs.
HMODULE GetResourceModule();
void SetResourceModule(HMODULE module);
HMODULE GetProgramModule();
void SetProgramModule(HMODULE module);

// Longest string resource plus its terminator; texts are cut to 511 characters.
constexpr int kResStringRoom = 512;

// Loads a string resource from the resource module, else from the program module.
// Returns its length; 0 (and an empty string) when neither module has it.
int LoadResString(UINT id, std::wstring& out);
// Loads from one module only (no fallback).
int LoadResStringFrom(HMODULE module, UINT id, std::wstring& out);

// printf-style formatting (Microsoft runtime conventions: %s takes a wide string).
// The result is as long as the text needs: a long argument is never cut, nor the result
// emptied. Only a format the runtime cannot apply gives the empty string and 0.
int FormatString(std::wstring& out, const wchar_t* format, ...);
int FormatStringV(std::wstring& out, const wchar_t* format, va_list args);
int FormatResString(std::wstring& out, UINT id, ...);
// Appends the whole formatted text (nothing for a format the runtime cannot apply).
// Returns the new length.
int AppendFormatString(std::wstring& s, const wchar_t* format, ...);
int AppendFormatStringV(std::wstring& s, const wchar_t* format, va_list args);
int AppendFormatResString(std::wstring& s, UINT id, ...);

// Code-page conversions; count -1 means up to the terminating zero (not converted).
// Return the output length; 0 with empty output on failure.
int MultiByteToWString(const char* bytes, int count, std::wstring& out, UINT codePage);
int WStringToMultiByte(const wchar_t* text, int count, std::string& out, UINT codePage);
// Convenience forms for whole strings.
std::wstring MultiByteToWString(const std::string& bytes, UINT codePage);
std::string WStringToMultiByte(const std::wstring& text, UINT codePage);

// Drops matching pairs of enclosing " or ' from both ends, innermost last.
std::wstring& UnquoteString(std::wstring& s);

// Upper-case hex, two digits a byte; the reversed form writes the last byte first.
// Writes at most room - 1 digits and always a terminator when room > 0.
// Returns min(2 * count, room - 1), 0 when room is 0 or less.
int BytesToHex(const BYTE* bytes, int count, wchar_t* out, int room);
int BytesToHexReversed(const BYTE* bytes, int count, wchar_t* out, int room);
// Hex text to bytes; length -1 means up to the terminating zero. Characters that are not
// hex digits count as 0. Returns the bytes written: ceil(length / 2), at most room.
int HexToBytes(const wchar_t* hex, int length, BYTE* out, int room);
int HexToBytesReversed(const wchar_t* hex, int length, BYTE* out, int room);

std::wstring& IntToWString(int32_t value, std::wstring& out);
std::wstring& Int64ToWString(int64_t value, std::wstring& out);
std::wstring IntToWString(int32_t value);
std::wstring Int64ToWString(int64_t value);

// '*' any run, '?' one character, everything else itself (case-sensitive).
bool WildcardMatch(const wchar_t* pattern, const wchar_t* text);

// Up to four numbers, one a byte, the first in the low byte. A first number above 254 is
// stored alone as (number << 8) | 0xFF. 0 means no version.
using PackedVersion = uint32_t;

std::wstring& VersionToString(PackedVersion version, std::wstring& out);
std::wstring VersionToString(PackedVersion version);
// True when a first number was read; end (optional) gets the first character not consumed.
bool ParseVersion(const wchar_t* text, PackedVersion& version, const wchar_t** end = nullptr);
// -1, 0 or 1, first number most significant.
int CompareVersions(PackedVersion a, PackedVersion b);
// File version of a module file's version resource; 0 when it has none.
PackedVersion GetFilePackedVersion(const wchar_t* path);
