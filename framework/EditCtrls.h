#pragma once
// Thin wrappers of the edit and rich-edit controls: subclassed windows with their selection and
// text calls.
#include <windows.h>
#include <richedit.h>
#include <string>
#include "framework/Wnd.h"

class CEdit : public CSubclassedWnd
{
public:
    void GetSel(int& start, int& end) const
    {
        DWORD s = 0, e = 0;
        SendMessageW(m_hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
        start = static_cast<int>(s);
        end = static_cast<int>(e);
    }
    void SetSel(int start, int end) { SendMessageW(m_hWnd, EM_SETSEL, start, end); }
    bool GetModify() const { return SendMessageW(m_hWnd, EM_GETMODIFY, 0, 0) != 0; }
    void SetModify(bool modified) { SendMessageW(m_hWnd, EM_SETMODIFY, modified, 0); }
    DWORD GetStyle() const { return static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
};

class CRichEditCtrl : public CSubclassedWnd
{
public:
    void SetSel(LONG start, LONG end)
    {
        CHARRANGE range{start, end};
        SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    }
    // The position of the text from `from` on, or -1.
    LONG FindText(const wchar_t* text, LONG from) const
    {
        FINDTEXTEXW find{};
        find.chrg.cpMin = from;
        find.chrg.cpMax = -1;
        find.lpstrText = text;
        return static_cast<LONG>(SendMessageW(m_hWnd, EM_FINDTEXTEXW, FR_DOWN, reinterpret_cast<LPARAM>(&find)));
    }
    std::wstring GetTextRange(LONG start, LONG end) const
    {
        if (end <= start)
            return std::wstring();
        std::wstring text(static_cast<size_t>(end - start) + 1, L'\0');
        TEXTRANGEW range{{start, end}, text.data()};
        const LRESULT got = SendMessageW(m_hWnd, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return text;
    }
    LONG GetTextLength() const
    {
        GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
        return static_cast<LONG>(SendMessageW(m_hWnd, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0));
    }
    // Bytes of an RTF document (or plain text) in the code page, for the whole text or the selection.
    void SetTextEx(const void* text, UINT codePage, DWORD flags)
    {
        SETTEXTEX settings{flags, codePage};
        SendMessageW(m_hWnd, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&settings), reinterpret_cast<LPARAM>(text));
    }
    // Plain text into the selection: streamed as text, so that nothing in it is read as RTF.
    void ReplaceSelPlain(const std::wstring& text);
    bool SetSelectionCharFormat(CHARFORMAT2W& format)
    {
        format.cbSize = sizeof(format);
        return SendMessageW(m_hWnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format)) != 0;
    }
    bool SetSelectionParaFormat(PARAFORMAT2& format)
    {
        format.cbSize = sizeof(format);
        return SendMessageW(m_hWnd, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format)) != 0;
    }
};
