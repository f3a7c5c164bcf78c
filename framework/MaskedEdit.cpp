#include "framework/MaskedEdit.h"

#include <algorithm>
#include <cwctype>

#include "core/SystemServices.h"

namespace {

constexpr wchar_t kEditable = L'_';

// Sets a flag for a scope: the window's own text is read and written while it is on.
class CFlagScope
{
public:
    explicit CFlagScope(bool& flag) : m_flag(flag), m_saved(flag) { flag = true; }
    ~CFlagScope() { m_flag = m_saved; }
    CFlagScope(const CFlagScope&) = delete;
    CFlagScope& operator=(const CFlagScope&) = delete;

private:
    bool& m_flag;
    bool m_saved;
};

bool Contains(const std::wstring& set, wchar_t ch)
{
    return set.find(ch) != std::wstring::npos;
}

} // namespace

bool CMaskedEdit::IsValidChar(wchar_t ch, wchar_t maskChar) const
{
    switch (maskChar) {
    case L'D': return iswdigit(ch) != 0;
    case L'd': return iswdigit(ch) || iswspace(ch);
    case L'C': return iswalpha(ch) != 0;
    case L'c': return iswalpha(ch) || iswspace(ch);
    case L'A': return iswalnum(ch) != 0;
    case L'a': return iswalnum(ch) || iswspace(ch);
    case L'+': return ch == L'+' || ch == L'-' || iswspace(ch);
    case L'*': return iswprint(ch) != 0;
    default: return false;
    }
}

void CMaskedEdit::SetMask(const std::wstring& mask, const std::wstring& literalTemplate, wchar_t prompt,
                          const wchar_t* validChars)
{
    m_mask = mask;
    m_template = literalTemplate;
    m_prompt = prompt;
    m_valid = validChars ? validChars : L"";
    m_text = m_template;
    if (m_hWnd)
        ShowText();
}

bool CMaskedEdit::SetText(const std::wstring& text, bool withLiterals)
{
    if (IsMasked()) {
        const size_t limit = withLiterals ? m_mask.size()
                                          : static_cast<size_t>(std::count(m_template.begin(), m_template.end(), kEditable));
        if (text.size() > limit)
            return false;
    }
    if (!m_valid.empty()) {
        for (size_t i = 0; i < text.size(); ++i) {
            if (m_template.empty()) {
                if (!Contains(m_valid, text[i]))
                    return false;
                continue;
            }
            const bool editable = !withLiterals || (i < m_template.size() && m_template[i] == kEditable);
            if (editable && text[i] != m_prompt && !Contains(m_valid, text[i]))
                return false;
        }
    }
    if (!IsMasked()) {
        m_text = text;
        return true;
    }
    std::wstring result = m_template;
    std::replace(result.begin(), result.end(), kEditable, m_prompt);
    size_t t = 0, j = 0;
    while (t < m_template.size() && j < text.size()) {
        if (m_template[t] == kEditable) {
            const wchar_t c = text[j];
            if (c != m_prompt && (t >= m_mask.size() || !IsValidChar(c, m_mask[t])))
                return false;
            result[t++] = c;
            ++j;
        } else if (withLiterals) {
            if (text[j] != m_template[t])
                return false;
            ++t;
            ++j;
        } else {
            ++t;
        }
    }
    m_text = std::move(result);
    return true;
}

void CMaskedEdit::GetText(std::wstring& text) const
{
    if (!IsMasked()) {
        text = m_text;
        return;
    }
    text.clear();
    for (size_t i = 0; i < m_text.size() && i < m_template.size(); ++i)
        if (m_template[i] == kEditable)
            text += m_text[i];
}

bool CMaskedEdit::CanInsert(wchar_t ch, int position) const
{
    if (!IsMasked())
        return m_valid.empty() || Contains(m_valid, ch);
    if (!IsEditable(position) || position >= static_cast<int>(m_mask.size()))
        return false;
    return IsValidChar(ch, m_mask[position]) && (m_valid.empty() || Contains(m_valid, ch));
}

bool CMaskedEdit::FindField(int position, bool forward, int& start, int& end) const
{
    start = end = -1;
    if (m_template.empty()) {
        start = 0;
        end = static_cast<int>(m_text.size());
        return true;
    }
    const int n = static_cast<int>(m_template.size());
    for (int i = 0; i < n;) {
        if (m_template[i] != kEditable) {
            ++i;
            continue;
        }
        int j = i;
        while (j < n && m_template[j] == kEditable)
            ++j;
        if (forward && j > position) {
            start = i;
            end = j;
            return true;
        }
        if (!forward && i < position) {
            start = i;
            end = j;
        }
        i = j;
    }
    return start >= 0;
}

bool CMaskedEdit::IsEditable(int position) const
{
    if (m_template.empty())
        return position >= 0 && position <= static_cast<int>(m_text.size());
    return position >= 0 && position < static_cast<int>(m_template.size()) && m_template[position] == kEditable;
}

bool CMaskedEdit::HasEditablePosition() const
{
    return m_template.empty() || Contains(m_template, kEditable);
}

bool CMaskedEdit::InsideField(int start, int end) const
{
    if (m_template.empty())
        return true;
    int fs, fe;
    // The field that holds the start, or ends at it.
    if (FindField(start, true, fs, fe) && fs <= start && end <= fe)
        return true;
    return FindField(start, false, fs, fe) && start <= fe && end <= fe;
}

void CMaskedEdit::FindSection(int position, int& start, int& end) const
{
    const wchar_t kind = position < static_cast<int>(m_mask.size()) ? m_mask[position] : 0;
    auto same = [&](int i) { return IsEditable(i) && i < static_cast<int>(m_mask.size()) && m_mask[i] == kind; };
    start = position;
    while (start > 0 && same(start - 1))
        --start;
    end = position + 1;
    while (same(end))
        ++end;
}

bool CMaskedEdit::DeleteInSection(int from, int to)
{
    int start, end;
    FindSection(from, start, end);
    to = std::min(to, end);
    if (to <= from)
        return false;
    std::wstring text = m_text;
    int target = from;
    for (int i = to; i < end; ++i, ++target) {
        const wchar_t c = m_text[i];
        if (c != m_prompt && !IsValidChar(c, m_mask[target]))
            return false;
        text[target] = c;
    }
    for (; target < end; ++target)
        text[target] = m_prompt;
    m_text = std::move(text);
    return true;
}

int CMaskedEdit::NextCaret(int position, bool forward) const
{
    int start, end;
    if (forward) {
        if (!FindField(position, true, start, end))
            return -1;
        return position < start ? start : position + 1;
    }
    if (!FindField(position, false, start, end))
        return -1;
    return position > end ? end : position - 1;
}

int CMaskedEdit::FirstFieldStart() const
{
    int start, end;
    return FindField(-1, true, start, end) ? start : 0;
}

int CMaskedEdit::LastFieldEnd() const
{
    int start, end;
    return FindField(static_cast<int>(m_text.size()) + 1, false, start, end) ? end : static_cast<int>(m_text.size());
}

int CMaskedEdit::MoveIntoNextField(int position) const
{
    if (!caretToField || InsideField(position, position))
        return position;
    int start, end;
    return FindField(position, true, start, end) ? start : position;
}

void CMaskedEdit::Beep() const
{
    SystemServices().Beep(MB_OK);
}

void CMaskedEdit::ShowText()
{
    CFlagScope changing(m_changing);
    SetWindowTextW(m_hWnd, m_text.c_str());
}

std::wstring CMaskedEdit::ReadWindowText()
{
    CFlagScope changing(m_changing);
    std::wstring text;
    GetWindowString(m_hWnd, text);
    return text;
}

std::wstring CMaskedEdit::DeliveredText() const
{
    if (!getEditableOnly)
        return m_text;
    std::wstring text;
    GetText(text);
    return text;
}

// ---- typing and deleting ----

void CMaskedEdit::OnChar(wchar_t ch)
{
    const DWORD style = GetStyle();
    if (style & ES_UPPERCASE)
        ch = towupper(ch);
    else if (style & ES_LOWERCASE)
        ch = towlower(ch);
    int s, e;
    GetSel(s, e);
    int fs, fe;
    if (!InsideField(s, e)) {
        Beep();
        if (FindField(s, true, fs, fe) || FindField(s, false, fs, fe))
            SetSel(fs, fe);
        return;
    }
    if (!IsMasked() || (s != e && m_template.empty())) {
        if (!CanInsert(ch, s))
            Beep();
        else
            PassAndRevalidate();
        return;
    }
    if (s == e) {
        int p = s;
        if (FindField(p, false, fs, fe) && p == fe && FindField(p, true, fs, fe))
            p = fs;
        if (!CanInsert(ch, p)) {
            Beep();
            return;
        }
        m_text[p++] = ch;
        ShowText();
        if (FindField(p, false, fs, fe) && p == fe && FindField(p, true, fs, fe))
            p = fs;
        SetSel(p, p);
        return;
    }
    if (!CanInsert(ch, s)) {
        Beep();
        return;
    }
    int ss, se;
    FindSection(s, ss, se);
    if (se - s < e - s) {
        Beep();
        SetSel(s, se);
        return;
    }
    std::wstring section = m_text.substr(static_cast<size_t>(s), static_cast<size_t>(se - s));
    section.erase(0, static_cast<size_t>(e - s));
    section.insert(section.begin(), ch);
    section.append(static_cast<size_t>(e - s - 1), m_prompt);
    m_text.replace(static_cast<size_t>(s), section.size(), section);
    ShowText();
    SetSel(s + 1, s + 1);
}

void CMaskedEdit::DeleteBackward()
{
    if (!IsMasked())
        return; // the edit control deletes with the backspace character, re-validated there
    int s, e;
    GetSel(s, e);
    int p = s;
    if (s == e) {
        int fs, fe;
        if (!FindField(s, false, fs, fe)) {
            Beep();
            return;
        }
        p = s > fe ? fe - 1 : s - 1;
        e = p + 1;
    }
    if (!IsEditable(p) || !DeleteInSection(p, e)) {
        Beep();
        return;
    }
    ShowText();
    SetSel(p, p);
}

void CMaskedEdit::DeleteForward()
{
    if (!IsMasked()) {
        PassAndRevalidate();
        return;
    }
    int s, e;
    GetSel(s, e);
    int p = s;
    if (s == e) {
        int fs, fe;
        if (!FindField(s, true, fs, fe)) {
            Beep();
            return;
        }
        p = std::max(s, fs);
        e = p + 1;
    }
    if (!IsEditable(p) || !DeleteInSection(p, e)) {
        Beep();
        return;
    }
    ShowText();
    SetSel(p, p);
}

void CMaskedEdit::Revalidate(int selStart, int selEnd)
{
    if (m_changing)
        return;
    const std::wstring text = ReadWindowText();
    int s, e;
    GetSel(s, e);
    if (!SetText(text, true)) {
        Beep();
        ShowText();
        SetSel(selStart, selEnd);
        return;
    }
    if (m_text != text) {
        ShowText();
        SetSel(s, e);
    }
}

LRESULT CMaskedEdit::PassAndRevalidate()
{
    int s, e;
    GetSel(s, e);
    const LRESULT result = DefaultProc();
    Revalidate(s, e);
    return result;
}

// ---- keys and the caret ----

bool CMaskedEdit::OnKeyDown(UINT key)
{
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    const bool ctrl = GetKeyState(VK_CONTROL) < 0;
    if (!IsMasked()) {
        if (key == VK_DELETE && !shift) {
            DeleteForward();
            return true;
        }
        return false;
    }
    if (!HasEditablePosition()) {
        Beep();
        return true;
    }
    switch (key) {
    case VK_BACK:
        DeleteBackward();
        return true;
    case VK_DELETE:
        if (shift)
            return false; // cut, through WM_CUT
        DeleteForward();
        return true;
    case VK_INSERT:
        return !ctrl && !shift;
    case VK_HOME:
    case VK_END:
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
        MoveCaret(key, shift, ctrl);
        return true;
    default:
        return false;
    }
}

void CMaskedEdit::MoveCaret(UINT key, bool shift, bool ctrl)
{
    int s, e;
    GetSel(s, e);
    int anchor = s, moving = e;
    if (s != e && m_anchor == e) {
        anchor = e;
        moving = s;
    }
    const bool forward = key == VK_RIGHT || key == VK_DOWN || key == VK_END;
    int target;
    if (key == VK_HOME || key == VK_END) {
        target = forward ? LastFieldEnd() : FirstFieldStart();
    } else if (!shift && s != e) {
        target = forward ? e : s; // an arrow first collapses the selection
    } else if (ctrl) {
        int fs, fe;
        if (forward)
            target = FindField(moving, true, fs, fe) ? (fs > moving ? fs : (FindField(fe, true, fs, fe) ? fs : -1)) : -1;
        else
            target = FindField(moving, false, fs, fe) ? fs : -1;
    } else {
        target = NextCaret(moving, forward);
    }
    if (target < 0) {
        Beep();
        return;
    }
    if (shift) {
        m_anchor = anchor;
        SendMessageW(m_hWnd, EM_SETSEL, anchor, target);
    } else {
        m_anchor = -1;
        SetSel(target, target);
    }
}

// ---- clipboard and text messages ----

LRESULT CMaskedEdit::OnCutOrClear()
{
    int s, e;
    GetSel(s, e);
    LRESULT result;
    {
        CFlagScope changing(m_changing);
        result = DefaultProc();
    }
    if (!SetText(ReadWindowText(), true))
        Beep();
    ShowText();
    const int caret = MoveIntoNextField(s);
    SetSel(caret, caret);
    return result;
}

LRESULT CMaskedEdit::OnPaste()
{
    int s, e;
    GetSel(s, e);
    LRESULT result;
    {
        CFlagScope changing(m_changing);
        result = DefaultProc();
    }
    int caret, unused;
    GetSel(caret, unused);
    const std::wstring window = ReadWindowText();
    std::wstring pasted;
    if (caret > s && static_cast<size_t>(caret) <= window.size())
        pasted = window.substr(static_cast<size_t>(s), static_cast<size_t>(caret - s));

    std::wstring before, rest;
    const int length = static_cast<int>(m_text.size());
    if (setEditableOnly && IsMasked()) {
        size_t skip = pasted.size();
        for (int i = 0; i < length; ++i) {
            if (!IsEditable(i))
                continue;
            if (i < s)
                before += m_text[i];
            else if (i >= e && skip > 0)
                --skip;
            else if (i >= e)
                rest += m_text[i];
        }
    } else {
        before = m_text.substr(0, static_cast<size_t>(std::min(s, length)));
        const size_t from = static_cast<size_t>(e) + (IsMasked() ? pasted.size() : 0);
        if (from < m_text.size())
            rest = m_text.substr(from);
    }
    if (!SetText(before + pasted + rest, !setEditableOnly))
        Beep();
    ShowText();
    const int at = MoveIntoNextField(std::min(s + static_cast<int>(pasted.size()), static_cast<int>(m_text.size())));
    SetSel(at, at);
    return result;
}

LRESULT CMaskedEdit::OnSetText(const wchar_t* text)
{
    const std::wstring given = text ? text : L"";
    if (!SetText(given, !setEditableOnly))
        return FALSE;
    if (m_text == given)
        return DefaultProc();
    CFlagScope inSetText(m_inSetText);
    return SendMessageW(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(m_text.c_str()));
}

LRESULT CMaskedEdit::OnGetText(WPARAM room, wchar_t* buffer) const
{
    if (room == 0 || !buffer)
        return 0;
    const std::wstring text = DeliveredText();
    // Always terminated inside the buffer, even when the text had to be cut.
    const size_t count = std::min<size_t>(text.size(), room - 1);
    std::copy_n(text.data(), count, buffer);
    buffer[count] = L'\0';
    return static_cast<LRESULT>(count);
}

LRESULT CMaskedEdit::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        const LRESULT result = DefaultProc();
        if (result != -1)
            ShowText();
        return result;
    }
    case WM_SETTEXT:
        if (m_inSetText || m_changing)
            return DefaultProc();
        return OnSetText(reinterpret_cast<const wchar_t*>(lParam));
    case WM_GETTEXT:
        return m_changing ? DefaultProc() : OnGetText(wParam, reinterpret_cast<wchar_t*>(lParam));
    case WM_GETTEXTLENGTH:
        return m_changing ? DefaultProc() : static_cast<LRESULT>(DeliveredText().size());
    case WM_CHAR: {
        const auto ch = static_cast<wchar_t>(wParam);
        const bool ctrl = GetKeyState(VK_CONTROL) < 0;
        if (ch >= 0x20 && iswprint(ch) && !ctrl) {
            OnChar(ch);
            return 0;
        }
        if (IsMasked() && (ch == L'\b' || (ctrl && ch == L'.')))
            return 0;
        return PassAndRevalidate();
    }
    case WM_KEYDOWN:
        return OnKeyDown(static_cast<UINT>(wParam)) ? 0 : DefaultProc();
    case WM_LBUTTONUP:
        if (caretToField && !m_template.empty() && HasEditablePosition()) {
            int s, e, fs, fe;
            GetSel(s, e);
            if (!InsideField(s, e) && (FindField(s, true, fs, fe) || FindField(s, false, fs, fe)))
                SetSel(std::clamp(s, fs, fe), std::clamp(e, fs, fe));
        }
        return DefaultProc();
    case WM_CUT:
    case WM_CLEAR:
        return OnCutOrClear();
    case WM_PASTE:
        return OnPaste();
    default:
        return CEdit::HandleMessage(hwnd, message, wParam, lParam);
    }
}
