#include "framework/EditCtrls.h"

namespace {

struct StreamSource
{
    const BYTE* bytes;
    LONG left;
};

DWORD CALLBACK ReadStreamSource(DWORD_PTR cookie, LPBYTE buffer, LONG room, LONG* got)
{
    auto* source = reinterpret_cast<StreamSource*>(cookie);
    const LONG n = source->left < room ? source->left : room;
    memcpy(buffer, source->bytes, static_cast<size_t>(n));
    source->bytes += n;
    source->left -= n;
    *got = n;
    return 0;
}

} // namespace

void CRichEditCtrl::ReplaceSelPlain(const std::wstring& text)
{
    StreamSource source{reinterpret_cast<const BYTE*>(text.data()), static_cast<LONG>(text.size() * sizeof(wchar_t))};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, &ReadStreamSource};
    SendMessageW(m_hWnd, EM_STREAMIN, SF_TEXT | SF_UNICODE | SFF_SELECTION, reinterpret_cast<LPARAM>(&stream));
}
