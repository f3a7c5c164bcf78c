#include "app/CheckedFormat.h"

#include <cwchar>
#include <vector>

namespace {

constexpr int kMostWidth = 1000;

enum Length { lenNone, lenHH, lenH, lenL, lenLL, lenLongDouble, lenSize };

bool IsFlag(wchar_t c)
{
    return c == L'-' || c == L'+' || c == L' ' || c == L'#' || c == L'0';
}

// Reads "*" or digits; -1 when neither is there.
bool ReadNumber(const wchar_t*& p, const FormatArg* args, size_t count, size_t& next, int& value)
{
    value = -1;
    if (*p == L'*') {
        ++p;
        if (next >= count || args[next].GetKind() != FormatArg::kInteger)
            return false;
        const int64_t v = args[next++].Integer();
        value = v < 0 ? 0 : v > kMostWidth ? kMostWidth + 1 : static_cast<int>(v);
        return value <= kMostWidth;
    }
    if (*p < L'0' || *p > L'9')
        return true;
    int64_t v = 0;
    while (*p >= L'0' && *p <= L'9') {
        v = v * 10 + (*p++ - L'0');
        if (v > kMostWidth)
            return false;
    }
    value = static_cast<int>(v);
    return true;
}

Length ReadLength(const wchar_t*& p)
{
    if (p[0] == L'h')
        return p[1] == L'h' ? (p += 2, lenHH) : (p += 1, lenH);
    if (p[0] == L'l')
        return p[1] == L'l' ? (p += 2, lenLL) : (p += 1, lenL);
    if (p[0] == L'w')
        return ++p, lenL;
    if (p[0] == L'L')
        return ++p, lenLongDouble;
    if (p[0] == L'j' || p[0] == L'q')
        return ++p, lenLL;
    if (p[0] == L'z' || p[0] == L't')
        return ++p, lenSize;
    if (p[0] == L'I') {
        if (p[1] == L'6' && p[2] == L'4')
            return p += 3, lenLL;
        if (p[1] == L'3' && p[2] == L'2')
            return p += 3, lenL;
        return ++p, lenSize;
    }
    return lenNone;
}

// The integer as the conversion reads it: cut to its width, signed for d and i.
int64_t CutInteger(int64_t v, Length length, bool isSigned)
{
    switch (length) {
    case lenHH: return isSigned ? static_cast<int64_t>(static_cast<signed char>(v)) : static_cast<unsigned char>(v);
    case lenH: return isSigned ? static_cast<int64_t>(static_cast<short>(v)) : static_cast<unsigned short>(v);
    case lenLL: return v;
    case lenSize:
        if (sizeof(void*) == 8)
            return v;
        [[fallthrough]];
    default: return isSigned ? static_cast<int64_t>(static_cast<int32_t>(v)) : static_cast<uint32_t>(v);
    }
}

// The conversion's text, however long: a string argument has no length limit of its own.
bool AppendPrinted(std::wstring& out, const std::wstring& specText, auto value)
{
    const int n = _scwprintf(specText.c_str(), value);
    if (n < 0)
        return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1);
    if (_snwprintf(buffer.data(), buffer.size(), specText.c_str(), value) != n)
        return false;
    out.append(buffer.data(), static_cast<size_t>(n));
    return true;
}

} // namespace

bool FormatChecked(std::wstring& out, const wchar_t* format, const FormatArg* args, size_t count)
{
    out.clear();
    if (format == nullptr)
        return true;
    size_t next = 0;
    for (const wchar_t* p = format; *p != L'\0';) {
        if (*p != L'%') {
            out += *p++;
            continue;
        }
        ++p;
        if (*p == L'%') {
            out += *p++;
            continue;
        }
        std::wstring flags;
        while (IsFlag(*p))
            flags += *p++;
        int width = -1, precision = -1;
        if (!ReadNumber(p, args, count, next, width))
            return out.clear(), false;
        bool hasPrecision = false;
        if (*p == L'.') {
            ++p;
            hasPrecision = true;
            if (!ReadNumber(p, args, count, next, precision))
                return out.clear(), false;
            if (precision < 0)
                precision = 0;
        }
        const Length length = ReadLength(p);
        const wchar_t conversion = *p;
        if (conversion == L'\0')
            return out.clear(), false;
        ++p;

        std::wstring specText = L"%" + flags;
        if (width >= 0)
            specText += std::to_wstring(width);
        if (hasPrecision)
            specText += L"." + std::to_wstring(precision);
        if (next >= count)
            return out.clear(), false;
        const FormatArg& arg = args[next++];
        bool printed = false;
        switch (conversion) {
        case L'd': case L'i': case L'o': case L'u': case L'x': case L'X': {
            if (arg.GetKind() != FormatArg::kInteger)
                return out.clear(), false;
            const bool isSigned = conversion == L'd' || conversion == L'i';
            printed = AppendPrinted(out, specText + L"I64" + conversion,
                                    static_cast<long long>(CutInteger(arg.Integer(), length, isSigned)));
            break;
        }
        case L'c': case L'C':
            if (arg.GetKind() != FormatArg::kInteger)
                return out.clear(), false;
            // Wide character; "hc" and "C" name a narrow one, taken as its code.
            printed = AppendPrinted(out, specText + L"c", static_cast<wint_t>(arg.Integer() & 0xFFFF));
            break;
        case L's': case L'S':
            if (arg.GetKind() != FormatArg::kString)
                return out.clear(), false;
            printed = AppendPrinted(out, specText + L"ls", arg.String());
            break;
        case L'e': case L'E': case L'f': case L'F': case L'g': case L'G': case L'a': case L'A':
            if (arg.GetKind() != FormatArg::kDouble)
                return out.clear(), false;
            printed = AppendPrinted(out, specText + (conversion == L'F' ? L'f' : conversion), arg.Double());
            break;
        case L'p':
            if (arg.GetKind() == FormatArg::kPointer)
                printed = AppendPrinted(out, specText + L"p", arg.Pointer());
            else if (arg.GetKind() == FormatArg::kInteger)
                printed = AppendPrinted(out, specText + L"p",
                                        reinterpret_cast<const void*>(static_cast<uintptr_t>(arg.Integer())));
            else
                return out.clear(), false;
            break;
        default:   // %n and anything unknown
            return out.clear(), false;
        }
        if (!printed)
            return out.clear(), false;
    }
    return true;
}
