// Stand-in for the format engine while it is not part of the build; it drops out by itself
// once transfer/FormatEngine.h exists.
#if !__has_include("transfer/FormatEngine.h")
#include "config/FormatRender.h"
#include "core/Exceptions.h"

void RenderFormat(std::wstring& out, KeyVector* /*keys*/, const std::wstring& /*templ*/,
                  const std::wstring& /*params*/, const BYTE* /*keyBytes*/, int /*keyLength*/)
{
    out.clear();
    throw CComException(E_NOTIMPL);
}

void EscapeControlChars(std::wstring& out, const wchar_t* text, int length)
{
    out.clear();
    if (length < 0)
        length = static_cast<int>(wcslen(text));
    for (int i = 0; i < length; ++i) {
        switch (wchar_t c = text[i]) {
        case L'\t': out += L"\\t"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'"': out += L"\\\""; break;
        case L'\'': out += L"\\'"; break;
        default: out += c; break;
        }
    }
}
#endif
