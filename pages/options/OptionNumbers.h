#pragma once
// The number fields of the destination pages: what a typed text stores, if anything. A field
// that holds no valid number in its range stores nothing, so a slip of the keyboard never
// turns into a setting nobody typed.
#include <cstdint>
#include <optional>
#include <string>

// Decimal digits with an optional sign (allowSign), blanks around allowed, inside [low, high].
std::optional<int64_t> ParseNumberField(const std::wstring& text, bool allowSign, int64_t low, int64_t high);

// A typing delay in milliseconds: 0 to 2147483647, no sign.
inline std::optional<int64_t> ParseDelayField(const std::wstring& text)
{
    return ParseNumberField(text, false, 0, INT32_MAX);
}
// A TCP port: 1 to 65535.
inline std::optional<int64_t> ParsePortField(const std::wstring& text)
{
    return ParseNumberField(text, true, 1, 65535);
}
// A signed 32-bit setting (the connection period, -1 included; the connection count).
inline std::optional<int64_t> ParseInt32Field(const std::wstring& text)
{
    return ParseNumberField(text, true, INT32_MIN, INT32_MAX);
}
