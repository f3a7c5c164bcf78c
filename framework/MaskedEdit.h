#pragma once
// A single-line edit that accepts only text matching a mask. Mask characters: D digit, d digit or
// blank, C letter, c letter or blank, A letter or digit, a letter, digit or blank, + "+", "-" or
// blank, * any printable character; any other mask character marks a literal. The literal
// template holds "_" at every editable position. The text lives in the object; every change made
// through the window is tested against the mask and undone with a beep when it does not fit.
#include <string>
#include "framework/EditCtrls.h"

class CMaskedEdit : public CEdit
{
public:
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    // Whether the character may stand at a position of that mask character.
    virtual bool IsValidChar(wchar_t ch, wchar_t maskChar) const;

    // The template also becomes the current text; null valid characters empty that set.
    void SetMask(const std::wstring& mask, const std::wstring& literalTemplate, wchar_t prompt,
                 const wchar_t* validChars);
    // The text with its literals, or only the characters of the editable positions. False (and
    // nothing changed) when it does not fit the mask.
    bool SetText(const std::wstring& text, bool withLiterals);
    // With a mask, the characters at the editable positions (prompts included); else the text.
    void GetText(std::wstring& text) const;
    const std::wstring& GetCurrentText() const { return m_text; }
    bool CanInsert(wchar_t ch, int position) const;
    // The field at or after the position (forward) or before it; false when there is none.
    // end is one past the field's last position.
    bool FindField(int position, bool forward, int& start, int& end) const;

    // WM_GETTEXT and WM_GETTEXTLENGTH deliver only the editable positions (default on).
    bool getEditableOnly = true;
    // WM_SETTEXT and pasted texts hold only the editable positions (default off).
    bool setEditableOnly = false;
    // The caret and selection stay inside the fields (default on).
    bool caretToField = true;

protected:
    void OnChar(wchar_t ch);
    void DeleteBackward();
    void DeleteForward();
    // Takes the window's text after the edit control changed it; a text that does not fit is
    // undone with a beep and the selection put back.
    void Revalidate(int selStart, int selEnd);

private:
    bool IsMasked() const { return !m_mask.empty(); }
    bool IsEditable(int position) const;
    bool HasEditablePosition() const;
    bool InsideField(int start, int end) const;
    // The run of editable positions around position with the same mask character.
    void FindSection(int position, int& start, int& end) const;
    // The characters [from, to) of the section removed, the rest shifted left, prompts at its end.
    bool DeleteInSection(int from, int to);
    // The next caret position inside the fields from position, or -1.
    int NextCaret(int position, bool forward) const;
    int FirstFieldStart() const;
    int LastFieldEnd() const;
    int MoveIntoNextField(int position) const;

    void Beep() const;
    void ShowText();
    std::wstring ReadWindowText();
    // Passes the current message to the edit control and re-validates the result.
    LRESULT PassAndRevalidate();
    bool OnKeyDown(UINT key);
    void MoveCaret(UINT key, bool shift, bool ctrl);
    LRESULT OnCutOrClear();
    LRESULT OnPaste();
    LRESULT OnSetText(const wchar_t* text);
    LRESULT OnGetText(WPARAM room, wchar_t* buffer) const;
    std::wstring DeliveredText() const;

    std::wstring m_text;
    std::wstring m_mask;
    std::wstring m_template;
    wchar_t m_prompt = L'_';
    std::wstring m_valid;
    bool m_changing = false;
    bool m_inSetText = false;
    int m_anchor = -1;   // the fixed end of a selection extended with Shift and the arrows
};
