#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "framework/MaskedEdit.h"
#include "tests/framework/FrameworkTestSupport.h"
#include "tests/support/FakeSystemServices.h"

// The key dialog's Em-Marine form: three digits, a comma, five digits.
namespace {

class MaskedEdit : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DrainMessages();
        system.beep = [this](UINT) { ++beeps; };
        ASSERT_TRUE(host.CreateTop(L"Masked edit host"));
        ASSERT_TRUE(edit.Create(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10, 10, 200, 24,
                                host.m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(1))));
        edit.SetMask(L"ddd,ddddd", L"___,_____", L'_', L"0123456789");
        edit.SetSel(0, 0);
    }
    void TearDown() override
    {
        edit.Destroy();
        host.Destroy();
        DrainMessages();
    }
    void Type(const std::wstring& text)
    {
        for (wchar_t c : text)
            SendMessageW(edit.m_hWnd, WM_CHAR, c, 1);
    }
    void Key(UINT key) { SendMessageW(edit.m_hWnd, WM_KEYDOWN, key, 1); }
    // What the window itself shows, literals included.
    std::wstring Shown()
    {
        edit.getEditableOnly = false;
        std::wstring text;
        GetWindowString(edit.m_hWnd, text);
        edit.getEditableOnly = true;
        return text;
    }
    int Caret()
    {
        int s, e;
        edit.GetSel(s, e);
        return s == e ? s : -1;
    }
    void Fill(const wchar_t* withLiterals, int caret)
    {
        ASSERT_TRUE(SetWindowTextW(edit.m_hWnd, withLiterals));
        edit.SetSel(caret, caret);
        beeps = 0;
    }

    CFakeSystemServices system;
    int beeps = 0;
    CScriptWnd host;
    CMaskedEdit edit;
};

} // namespace

TEST_F(MaskedEdit, TypingFillsFieldsAndRefusesWhatTheMaskOrTheValidSetDoesNot)
{
    struct {
        const wchar_t* typed;
        const wchar_t* shown;
        int caret;
        int beeps;
    } cases[] = {
        {L"123", L"123,_____", 4, 0},       // the caret jumps over the comma
        {L"12345678", L"123,45678", 9, 0},
        {L"1a", L"1__,_____", 1, 1},         // a letter beeps
        {L"1 ", L"1__,_____", 1, 1},         // "d" takes a blank, the valid set does not
        {L"123456789", L"123,45678", 9, 1},  // nothing after the last field
        {L",", L"___,_____", 0, 1},
    };
    for (const auto& c : cases) {
        Fill(L"___,_____", 0);
        Type(c.typed);
        EXPECT_EQ(c.shown, Shown()) << c.typed;
        EXPECT_EQ(c.caret, Caret()) << c.typed;
        EXPECT_EQ(c.beeps, beeps) << c.typed;
    }
}

TEST_F(MaskedEdit, SetTextAndGetTextMessages)
{
    struct {
        const wchar_t* text;
        BOOL result;
        const wchar_t* shown;
    } sets[] = {
        {L"123,45678", TRUE, L"123,45678"},
        {L"123x45678", FALSE, L"123,45678"},   // the fourth character must be the comma
        {L"123,456789", FALSE, L"123,45678"},  // longer than the mask
        {L"12a,45678", FALSE, L"123,45678"},
        {L"98", TRUE, L"98_,_____"},           // a short text leaves prompts
        {L"123,_5__8", TRUE, L"123,_5__8"},    // prompts pass the valid set
    };
    for (const auto& s : sets) {
        EXPECT_EQ(s.result, SendMessageW(edit.m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s.text))) << s.text;
        EXPECT_EQ(s.shown, Shown()) << s.text;
    }

    Fill(L"123,45678", 0);
    wchar_t buffer[16];
    wmemset(buffer, L'#', 16);
    EXPECT_EQ(8, SendMessageW(edit.m_hWnd, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(buffer)));
    EXPECT_STREQ(L"12345678", buffer) << "the editable positions only";
    EXPECT_EQ(8, SendMessageW(edit.m_hWnd, WM_GETTEXTLENGTH, 0, 0));
    wmemset(buffer, L'#', 16);
    EXPECT_EQ(3, SendMessageW(edit.m_hWnd, WM_GETTEXT, 4, reinterpret_cast<LPARAM>(buffer)));
    EXPECT_EQ(std::wstring(L"123\0##", 6), std::wstring(buffer, 6)) << "cut and terminated inside the buffer";
    wmemset(buffer, L'#', 16);
    EXPECT_EQ(0, SendMessageW(edit.m_hWnd, WM_GETTEXT, 1, reinterpret_cast<LPARAM>(buffer)));
    EXPECT_EQ(L'\0', buffer[0]);
    EXPECT_EQ(L'#', buffer[1]);

    edit.setEditableOnly = true;
    EXPECT_TRUE(SendMessageW(edit.m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"87654321")));
    EXPECT_EQ(L"876,54321", Shown());
}

TEST_F(MaskedEdit, DeletingShiftsOnlyItsOwnSection)
{
    struct {
        UINT key;
        int selStart, selEnd;
        const wchar_t* shown;
        int caret;
        int beeps;
    } cases[] = {
        {VK_BACK, 6, 6, L"123,4678_", 5, 0},
        {VK_BACK, 4, 4, L"12_,45678", 2, 0},   // from the start of a field into the one before
        {VK_BACK, 0, 0, L"123,45678", 0, 1},
        {VK_DELETE, 4, 4, L"123,5678_", 4, 0},
        {VK_DELETE, 3, 3, L"123,5678_", 4, 0},  // the literal is skipped
        {VK_DELETE, 1, 2, L"13_,45678", 1, 0},
        {VK_DELETE, 9, 9, L"123,45678", 9, 1},
        {VK_BACK, 5, 7, L"123,478__", 5, 0},
    };
    for (const auto& c : cases) {
        Fill(L"123,45678", 0);
        edit.SetSel(c.selStart, c.selEnd);
        Key(c.key);
        EXPECT_EQ(c.shown, Shown()) << c.key << " at " << c.selStart;
        EXPECT_EQ(c.caret, Caret()) << c.key << " at " << c.selStart;
        EXPECT_EQ(c.beeps, beeps) << c.key << " at " << c.selStart;
    }
    // The backspace character that follows the key in a real message loop changes nothing.
    Fill(L"123,45678", 2);
    SendMessageW(edit.m_hWnd, WM_CHAR, L'\b', 1);
    EXPECT_EQ(L"123,45678", Shown());
}

TEST_F(MaskedEdit, TypingOverASelectionAndMovingTheCaret)
{
    Fill(L"123,45678", 0);
    edit.SetSel(4, 6);
    Type(L"9");
    EXPECT_EQ(L"123,9678_", Shown());
    EXPECT_EQ(5, Caret());

    edit.SetSel(2, 5);  // over the comma: outside the fields, so the field is selected
    Type(L"7");
    EXPECT_EQ(1, beeps);
    EXPECT_EQ(L"123,9678_", Shown());
    int s, e;
    edit.GetSel(s, e);
    EXPECT_EQ(0, s);
    EXPECT_EQ(3, e);

    struct {
        int from;
        UINT key;
        int to;  // -1: a beep, the caret stays
    } moves[] = {
        {3, VK_RIGHT, 4}, {4, VK_LEFT, 3}, {2, VK_RIGHT, 3}, {9, VK_RIGHT, -1},
        {0, VK_LEFT, -1}, {6, VK_HOME, 0}, {1, VK_END, 9},   {1, VK_DOWN, 2},
    };
    for (const auto& m : moves) {
        edit.SetSel(m.from, m.from);
        beeps = 0;
        Key(m.key);
        EXPECT_EQ(m.to < 0 ? m.from : m.to, Caret()) << m.from << " " << m.key;
        EXPECT_EQ(m.to < 0 ? 1 : 0, beeps) << m.from << " " << m.key;
    }
}

TEST_F(MaskedEdit, PasteOverwritesTheFieldsItCovers)
{
    Fill(L"1__,_____", 1);
    ASSERT_TRUE(OpenClipboard(host.m_hWnd));
    EmptyClipboard();
    const wchar_t text[] = L"23,456";
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(text));
    memcpy(GlobalLock(memory), text, sizeof(text));
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();

    SendMessageW(edit.m_hWnd, WM_PASTE, 0, 0);
    EXPECT_EQ(L"123,456__", Shown());
    EXPECT_EQ(7, Caret());
    EXPECT_EQ(0, beeps);

    edit.SetSel(5, 5);  // a literal where a digit must go
    SendMessageW(edit.m_hWnd, WM_PASTE, 0, 0);
    EXPECT_EQ(1, beeps);
    EXPECT_EQ(L"123,456__", Shown()) << "the refused paste is undone";
}
