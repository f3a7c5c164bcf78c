#include "core/TextUtil.h"
#include <algorithm>
#include <cwchar>
#include <new>
#include <vector>

namespace {

HMODULE g_resourceModule = nullptr;
HMODULE g_programModule = nullptr;

// The runtime's wide vsnprintf returns -1 when the text does not fit, and when it fits
// exactly it leaves no terminator: both count as overflow here, and the buffer is always
// terminated.
int FormatInto(wchar_t* buffer, size_t room, const wchar_t* format, va_list args)
{
    if (room == 0)
        return -1;
    int n = _vsnwprintf(buffer, room, format, args);
    if (n < 0 || static_cast<size_t>(n) >= room)
    {
        buffer[0] = L'\0';
        return -1;
    }
    buffer[n] = L'\0';
    return n;
}

// Formats into a buffer of at least room characters, grown to the text's own length when it
// does not fit there: a message that carries a long path or text is never cut to nothing.
// -1 only when the runtime cannot format it at all.
int FormatGrowing(std::vector<wchar_t>& buffer, size_t room, const wchar_t* format, va_list args)
{
    if (!format)
        return -1;
    buffer.resize(std::max<size_t>(room, 1));
    va_list first;
    va_copy(first, args);
    int n = FormatInto(buffer.data(), buffer.size(), format, first);
    va_end(first);
    if (n >= 0)
        return n;
    va_list measure;
    va_copy(measure, args);
    const int needed = _vscwprintf(format, measure);
    va_end(measure);
    if (needed < 0)
        return -1;
    buffer.resize(static_cast<size_t>(needed) + 1);
    va_list again;
    va_copy(again, args);
    n = FormatInto(buffer.data(), buffer.size(), format, again);
    va_end(again);
    return n;
}

const wchar_t kHexDigits[] = L"0123456789ABCDEF";

int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return 0;
}

int HexLength(const wchar_t* hex, int length)
{
    if (!hex)
        return 0;
    return length < 0 ? static_cast<int>(wcslen(hex)) : length;
}

// Frees a GlobalAlloc block on every exit path.
class CGlobalBlock
{
public:
    explicit CGlobalBlock(SIZE_T size) : m_p(GlobalAlloc(GPTR, size)) {}
    ~CGlobalBlock()
    {
        if (m_p)
            GlobalFree(m_p);
    }
    CGlobalBlock(const CGlobalBlock&) = delete;
    CGlobalBlock& operator=(const CGlobalBlock&) = delete;
    void* Get() const { return m_p; }

private:
    HGLOBAL m_p;
};

}  // namespace

HMODULE GetResourceModule()
{
    return g_resourceModule ? g_resourceModule : GetProgramModule();
}

void SetResourceModule(HMODULE module)
{
    g_resourceModule = module;
}

HMODULE GetProgramModule()
{
    return g_programModule ? g_programModule : GetModuleHandleW(nullptr);
}

void SetProgramModule(HMODULE module)
{
    g_programModule = module;
}

int LoadResStringFrom(HMODULE module, UINT id, std::wstring& out)
{
    out.resize(kResStringRoom);
    int n = LoadStringW(module, id, out.data(), kResStringRoom);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return static_cast<int>(out.size());
}

int LoadResString(UINT id, std::wstring& out)
{
    HMODULE resource = GetResourceModule();
    if (LoadResStringFrom(resource, id, out) > 0)
        return static_cast<int>(out.size());
    HMODULE program = GetProgramModule();
    if (program != resource)
        LoadResStringFrom(program, id, out);
    return static_cast<int>(out.size());
}

int FormatStringV(std::wstring& out, const wchar_t* format, va_list args)
{
    // A separate buffer: an argument may point into out itself.
    std::vector<wchar_t> buffer;
    int n = FormatGrowing(buffer, std::max<size_t>(kResStringRoom, out.capacity()), format, args);
    if (n < 0)
    {
        out.clear();
        return 0;
    }
    out.assign(buffer.data(), static_cast<size_t>(n));
    return n;
}

int FormatString(std::wstring& out, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = FormatStringV(out, format, args);
    va_end(args);
    return n;
}

int FormatResString(std::wstring& out, UINT id, ...)
{
    std::wstring format;
    LoadResString(id, format);
    va_list args;
    va_start(args, id);
    int n = FormatStringV(out, format.c_str(), args);
    va_end(args);
    return n;
}

int AppendFormatStringV(std::wstring& s, const wchar_t* format, va_list args)
{
    size_t length = s.size();
    std::vector<wchar_t> buffer;
    int n = FormatGrowing(buffer, std::max(s.capacity(), length + 1024) - length, format, args);
    if (n > 0)
        s.append(buffer.data(), static_cast<size_t>(n));
    return static_cast<int>(s.size());
}

int AppendFormatString(std::wstring& s, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = AppendFormatStringV(s, format, args);
    va_end(args);
    return n;
}

int AppendFormatResString(std::wstring& s, UINT id, ...)
{
    std::wstring format;
    LoadResString(id, format);
    va_list args;
    va_start(args, id);
    int n = AppendFormatStringV(s, format.c_str(), args);
    va_end(args);
    return n;
}

int MultiByteToWString(const char* bytes, int count, std::wstring& out, UINT codePage)
{
    out.clear();
    if (!bytes)
        return 0;
    int needed = MultiByteToWideChar(codePage, 0, bytes, count, nullptr, 0);
    if (needed <= 0)
        return 0;
    out.resize(static_cast<size_t>(needed));
    int n = MultiByteToWideChar(codePage, 0, bytes, count, out.data(), needed);
    if (n <= 0)
    {
        out.clear();
        return 0;
    }
    // With count -1 the terminator is converted too.
    if (count < 0 && n > 0 && out[static_cast<size_t>(n) - 1] == L'\0')
        --n;
    out.resize(static_cast<size_t>(n));
    return n;
}

int WStringToMultiByte(const wchar_t* text, int count, std::string& out, UINT codePage)
{
    out.clear();
    if (!text)
        return 0;
    int needed = WideCharToMultiByte(codePage, 0, text, count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return 0;
    out.resize(static_cast<size_t>(needed));
    int n = WideCharToMultiByte(codePage, 0, text, count, out.data(), needed, nullptr, nullptr);
    if (n <= 0)
    {
        out.clear();
        return 0;
    }
    if (count < 0 && n > 0 && out[static_cast<size_t>(n) - 1] == '\0')
        --n;
    out.resize(static_cast<size_t>(n));
    return n;
}

std::wstring MultiByteToWString(const std::string& bytes, UINT codePage)
{
    std::wstring out;
    if (!bytes.empty())
        MultiByteToWString(bytes.data(), static_cast<int>(bytes.size()), out, codePage);
    return out;
}

std::string WStringToMultiByte(const std::wstring& text, UINT codePage)
{
    std::string out;
    if (!text.empty())
        WStringToMultiByte(text.data(), static_cast<int>(text.size()), out, codePage);
    return out;
}

std::wstring& UnquoteString(std::wstring& s)
{
    if (s.size() < 2)
        return s;
    size_t left = 0, right = s.size() - 1;
    while (left < right && (s[left] == L'"' || s[left] == L'\'') && s[right] == s[left])
    {
        ++left;
        --right;
    }
    if (left > 0)
        s = left > right ? std::wstring() : s.substr(left, right - left + 1);
    return s;
}

int BytesToHex(const BYTE* bytes, int count, wchar_t* out, int room)
{
    if (!out || room <= 0)
        return 0;
    int digits = std::min(count > 0 ? 2 * count : 0, room - 1);
    for (int i = 0; i < digits; ++i)
    {
        BYTE b = bytes[i / 2];
        out[i] = kHexDigits[(i % 2 == 0) ? (b >> 4) : (b & 0x0F)];
    }
    out[digits] = L'\0';
    return digits;
}

int BytesToHexReversed(const BYTE* bytes, int count, wchar_t* out, int room)
{
    if (!out || room <= 0)
        return 0;
    int digits = std::min(count > 0 ? 2 * count : 0, room - 1);
    for (int i = 0; i < digits; ++i)
    {
        BYTE b = bytes[count - 1 - i / 2];
        out[i] = kHexDigits[(i % 2 == 0) ? (b >> 4) : (b & 0x0F)];
    }
    out[digits] = L'\0';
    return digits;
}

int HexToBytes(const wchar_t* hex, int length, BYTE* out, int room)
{
    int len = HexLength(hex, length);
    int count = std::min((len + 1) / 2, room);
    for (int i = 0; i < count; ++i)
    {
        int high = HexDigitValue(hex[2 * i]);
        int low = 2 * i + 1 < len ? HexDigitValue(hex[2 * i + 1]) : 0;
        out[i] = static_cast<BYTE>((high << 4) | low);
    }
    return count > 0 ? count : 0;
}

int HexToBytesReversed(const wchar_t* hex, int length, BYTE* out, int room)
{
    int len = HexLength(hex, length);
    int count = std::min((len + 1) / 2, room);
    for (int i = 0; i < count; ++i)
    {
        int lowPos = len - 1 - 2 * i;
        int low = HexDigitValue(hex[lowPos]);
        int high = lowPos >= 1 ? HexDigitValue(hex[lowPos - 1]) : 0;
        out[i] = static_cast<BYTE>((high << 4) | low);
    }
    return count > 0 ? count : 0;
}

std::wstring& IntToWString(int32_t value, std::wstring& out)
{
    wchar_t buffer[12];
    swprintf(buffer, 12, L"%d", static_cast<int>(value));
    out = buffer;
    return out;
}

std::wstring& Int64ToWString(int64_t value, std::wstring& out)
{
    wchar_t buffer[24];
    swprintf(buffer, 24, L"%lld", static_cast<long long>(value));
    out = buffer;
    return out;
}

std::wstring IntToWString(int32_t value)
{
    std::wstring out;
    return IntToWString(value, out);
}

std::wstring Int64ToWString(int64_t value)
{
    std::wstring out;
    return Int64ToWString(value, out);
}

bool WildcardMatch(const wchar_t* pattern, const wchar_t* text)
{
    const wchar_t* p = pattern;
    const wchar_t* t = text;
    while (*t && *p != L'*')
    {
        if (*p != *t && *p != L'?')
            return false;
        ++p;
        ++t;
    }
    // One back-tracking point: the pattern after the last star and the text position the
    // star should absorb next.
    const wchar_t* starPattern = p;
    const wchar_t* starText = t;
    while (*t)
    {
        if (*p == L'*')
        {
            if (!*++p)
                return true;
            starPattern = p;
            starText = t + 1;
        }
        else if (*p == *t || *p == L'?')
        {
            ++p;
            ++t;
        }
        else
        {
            p = starPattern;
            t = starText++;
        }
    }
    while (*p == L'*')
        ++p;
    return !*p;
}

std::wstring& VersionToString(PackedVersion version, std::wstring& out)
{
    out.clear();
    if (version == 0)
        return out;
    if ((version & 0xFF) == 0xFF)
        return IntToWString(static_cast<int32_t>(version >> 8), out);
    int parts = 4;
    while (parts > 1 && ((version >> (8 * (parts - 1))) & 0xFF) == 0)
        --parts;
    for (int i = 0; i < parts; ++i)
    {
        if (i > 0)
            out += L'.';
        out += std::to_wstring((version >> (8 * i)) & 0xFF);
    }
    return out;
}

std::wstring VersionToString(PackedVersion version)
{
    std::wstring out;
    return VersionToString(version, out);
}

bool ParseVersion(const wchar_t* text, PackedVersion& version, const wchar_t** end)
{
    if (!text)
        return false;
    wchar_t* stop = nullptr;
    unsigned long first = static_cast<unsigned long>(wcstol(text, &stop, 10));
    if (stop == text)
        return false;
    const wchar_t* pos = stop;
    PackedVersion v;
    if (first > 254)
        v = static_cast<PackedVersion>((first << 8) | 0xFF);
    else
    {
        v = static_cast<PackedVersion>(first);
        for (int part = 1; part < 4 && *pos == L'.'; ++part)
        {
            const wchar_t* start = pos + 1;
            long n = wcstol(start, &stop, 10);
            if (stop == start)
            {
                pos = start;
                break;
            }
            v |= static_cast<PackedVersion>(n & 0xFF) << (8 * part);
            pos = stop;
        }
    }
    version = v;
    if (end)
        *end = pos;
    return true;
}

int CompareVersions(PackedVersion a, PackedVersion b)
{
    while (a != 0 || b != 0)
    {
        unsigned x = a & 0xFF, y = b & 0xFF;
        if (x > y)
            return 1;
        if (x < y)
            return -1;
        a >>= 8;
        b >>= 8;
    }
    return 0;
}

PackedVersion GetFilePackedVersion(const wchar_t* path)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return 0;
    CGlobalBlock block(size);
    if (!block.Get())
        throw std::bad_alloc();
    if (!GetFileVersionInfoW(path, 0, size, block.Get()))
        return 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VerQueryValueW(block.Get(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return 0;
    return (HIWORD(info->dwFileVersionMS) & 0xFF) | (LOWORD(info->dwFileVersionMS) & 0xFF) << 8 |
           (HIWORD(info->dwFileVersionLS) & 0xFF) << 16 | static_cast<PackedVersion>(LOWORD(info->dwFileVersionLS) & 0xFF) << 24;
}
