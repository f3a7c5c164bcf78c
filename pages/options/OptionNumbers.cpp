// Number fields of the destination pages.
#include "pages/options/OptionNumbers.h"

std::optional<int64_t> ParseNumberField(const std::wstring& text, bool allowSign, int64_t low, int64_t high)
{
    size_t i = text.find_first_not_of(L" \t");
    const size_t end = text.find_last_not_of(L" \t");
    if (i == std::wstring::npos)
        return std::nullopt;
    bool negative = false;
    if (allowSign && (text[i] == L'-' || text[i] == L'+'))
        negative = text[i++] == L'-';
    if (i > end)
        return std::nullopt;
    int64_t value = 0;
    for (; i <= end; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return std::nullopt;
        value = value * 10 + (text[i] - L'0');
        if (value > INT64_C(1) << 40)  // far beyond every range: no overflow
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < low || value > high)
        return std::nullopt;
    return value;
}
