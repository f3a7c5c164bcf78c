#pragma once
// printf-style formatting of texts that come from outside the code (translated string
// resources): each conversion is checked against the argument it takes, so a translation
// whose specifiers do not match its arguments can neither crash nor read what was not passed.
#include <windows.h>
#include <cstdint>
#include <string>

class FormatArg
{
public:
    enum Kind { kInteger, kDouble, kString, kPointer };

    FormatArg(int v) : m_kind(kInteger), m_integer(v) {}
    FormatArg(unsigned v) : m_kind(kInteger), m_integer(v) {}
    FormatArg(long v) : m_kind(kInteger), m_integer(v) {}
    FormatArg(unsigned long v) : m_kind(kInteger), m_integer(v) {}
    FormatArg(long long v) : m_kind(kInteger), m_integer(v) {}
    FormatArg(unsigned long long v) : m_kind(kInteger), m_integer(static_cast<int64_t>(v)) {}
    FormatArg(double v) : m_kind(kDouble), m_double(v) {}
    FormatArg(const wchar_t* s) : m_kind(kString), m_string(s != nullptr ? s : L"(null)") {}
    FormatArg(const std::wstring& s) : m_kind(kString), m_string(s.c_str()) {}
    FormatArg(const void* p) : m_kind(kPointer), m_pointer(p) {}

    Kind GetKind() const { return m_kind; }
    int64_t Integer() const { return m_integer; }
    double Double() const { return m_double; }
    const wchar_t* String() const { return m_string; }
    const void* Pointer() const { return m_pointer; }

private:
    Kind m_kind;
    int64_t m_integer = 0;
    double m_double = 0;
    const wchar_t* m_string = nullptr;
    const void* m_pointer = nullptr;
};

// Formats with the Microsoft conventions of the wide printf family (%s and %c wide, %S a
// string as well). Integer conversions take any integer argument cut to the conversion's
// width; floating conversions a double; %s a string; %p a pointer or integer; "*" an integer.
// False (out empty) for a conversion whose argument is missing or of another kind, for %n,
// for an unknown conversion and for a width or precision above 1000.
bool FormatChecked(std::wstring& out, const wchar_t* format, const FormatArg* args, size_t count);
