// The key dialog through its controls: the number typed in each input form and size, switching
// forms and sizes, several entries at once, duplicates, and the last-key use.
#include <gtest/gtest.h>

#include "pages/KeyDialog.h"
#include "resources/resource.h"
#include "tests/pages/source/KeyListPageSupport.h"
#include "tests/support/WindowPicture.h"

using namespace keylist_page_test;

namespace {

// The dialog with its number edit in reach.
class CTestKeyDialog : public CKeyDialog
{
public:
    using CKeyDialog::CKeyDialog;
    std::wstring Shown() const { return m_numberEdit.GetCurrentText(); }
    HWND NumberEdit() const { return m_numberEdit.m_hWnd; }
};

class KeyDialog : public ::testing::Test
{
protected:
    void SetUp() override { EnsureApp(); }
    void TearDown() override
    {
        if (m_dialog && m_dialog->m_hWnd)
            m_dialog->Destroy();
        PumpPending();
    }

    CTransferDoc& Doc() { return m_host.GetTransferDoc(); }
    // Opens the dialog modeless, as a key list page opens it, on the chosen rows.
    CTestKeyDialog& Open(std::initializer_list<int> selected = {}, bool withList = true)
    {
        m_dialog = std::make_unique<CTestKeyDialog>(m_host);
        if (withList)
            m_dialog->keyList = &Doc().Keys();
        for (int i : selected)
            m_dialog->selection.push_back(Doc().GetKeys()[static_cast<size_t>(i)]);
        EXPECT_TRUE(m_dialog->CreateDialogWindow(nullptr));
        return *m_dialog;
    }
    HWND Item(int id) { return GetDlgItem(m_dialog->m_hWnd, id); }
    void ChooseFormat(int format)
    {
        SendMessageW(Item(IDC_KEY_INPUT_FORMAT), CB_SETCURSEL, static_cast<WPARAM>(format - 1), 0);
        SendMessageW(m_dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_KEY_INPUT_FORMAT, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Item(IDC_KEY_INPUT_FORMAT)));
    }
    // The edit sends EN_CHANGE itself.
    void TypeSize(unsigned size) { SetDlgItemInt(m_dialog->m_hWnd, IDC_KEY_SIZE, size, FALSE); }
    void TypeNumber(const std::wstring& withLiterals)
    {
        SendMessageW(m_dialog->NumberEdit(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(withLiterals.c_str()));
    }
    int PressOk()
    {
        SendMessageW(m_dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(Item(IDOK)));
        return m_dialog->m_result;
    }
    std::wstring ComboText(int id, int index)
    {
        wchar_t text[128] = {};
        SendMessageW(Item(id), CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
        return text;
    }
    static std::vector<uint8_t> Bytes(const _KEY_NUMBER& key) { return {key.bytes, key.bytes + key.length}; }

    CFakePageHost m_host;
    std::unique_ptr<CTestKeyDialog> m_dialog;
};

} // namespace

TEST_F(KeyDialog, OneTableOverTheFourInputFormsAndSizes)
{
    const struct {
        int format;
        unsigned size;
        const wchar_t* mask;   // a zero number as shown
        const wchar_t* typed;  // with its literals
        std::vector<uint8_t> bytes;
    } cases[] = {
        {KEY_INPUT_FACILITY, 3, L"000,00000", L"005,00042", {0x2A, 0x00, 0x05}},
        {KEY_INPUT_FACILITY, 5, L"[0000] 000,00000", L"[0201] 005,00042", {0x2A, 0x00, 0x05, 0x01, 0x02}},
        {KEY_INPUT_SHORT, 3, L"[00] 00000", L"[05] 00042", {0x2A, 0x00, 0x05}},
        {KEY_INPUT_HEX, 3, L"000000", L"05002A", {0x2A, 0x00, 0x05}},
        {KEY_INPUT_LONG, 3, L"0", L"327722", {0x2A, 0x00, 0x05}},
        {KEY_INPUT_LONG, 10, L"[0000] 00000000000000000000", L"[BBAA] 00000000000000000001",
         {0x01, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        for (const KvKeyPtr& key : Doc().GetKeys())
            key->flags |= KVKEY_DELETE;
        Doc().DeleteMarkedKeys();
        m_host.settings.SetLastTypedKey(1, _KEY_NUMBER{});
        Open();
        ChooseFormat(c.format);
        TypeSize(c.size);
        EXPECT_EQ(c.mask, m_dialog->Shown());
        TypeNumber(c.typed);
        EXPECT_EQ(c.typed, m_dialog->Shown());
        ASSERT_EQ(IDOK, PressOk());
        ASSERT_EQ(1u, Doc().GetKeys().size());
        EXPECT_EQ(c.bytes, Bytes(Doc().GetKeys()[0]->keyNumber));
        EXPECT_EQ(c.format, m_host.settings.GetKeyEditFormat());
        m_dialog->Destroy();
    }
}

TEST_F(KeyDialog, SwitchingFormAndSizeKeepsTheNumber)
{
    m_host.settings.SetLastTypedKey(1, Key({0x0E, 0x0D, 0x0C, 0x0B, 0x0A}));
    m_host.settings.SetKeyEditFormat(KEY_INPUT_HEX);
    Open();
    EXPECT_EQ(L"0A0B0C0D0E", m_dialog->Shown());
    ChooseFormat(KEY_INPUT_FACILITY);
    EXPECT_EQ(L"[0A0B] 012,03342", m_dialog->Shown());
    ChooseFormat(KEY_INPUT_HEX);
    EXPECT_EQ(L"0A0B0C0D0E", m_dialog->Shown());
    TypeSize(3);
    EXPECT_EQ(L"0C0D0E", m_dialog->Shown());
    // A size past the record is held to 16 bytes.
    TypeSize(50);
    EXPECT_EQ(std::wstring(26, L'0') + L"0C0D0E", m_dialog->Shown());
    ASSERT_EQ(IDOK, PressOk());
    EXPECT_EQ(16, Doc().GetKeys()[0]->keyNumber.length);
}

TEST_F(KeyDialog, AnUnreadableNumberKeepsTheDialogOpen)
{
    Open();
    ChooseFormat(KEY_INPUT_LONG);
    TypeSize(8);
    TypeNumber(L"18446744073709551616");
    EXPECT_EQ(-1, PressOk());
    EXPECT_EQ(std::vector<std::wstring>{L"The number \"18446744073709551616\" cannot be read in this input format."},
              m_host.messages);
    EXPECT_TRUE(Doc().GetKeys().empty());
    EXPECT_EQ(m_dialog->NumberEdit(), GetFocus());
    // An empty number is a missing one.
    TypeNumber(L"");
    m_host.messages.clear();
    EXPECT_EQ(-1, PressOk());
    EXPECT_EQ(std::vector<std::wstring>{L"Field must be filled in."}, m_host.messages);
}

TEST_F(KeyDialog, SeveralEntriesDuplicatesAndTheLastKey)
{
    AddKey(Doc(), 1, {0x2A, 0x00, 0x05});
    AddKey(Doc(), 2, {0x2A, 0x00, 0x05});
    AddKey(Doc(), 3, {0x01, 0x02, 0x03});
    // Mixed types: "*" first and chosen; OK keeps each entry's type.
    Open({0, 1, 2});
    EXPECT_EQ(L"*", ComboText(IDC_KEY_TYPE, 0));
    EXPECT_EQ(L"Em-Marine", ComboText(IDC_KEY_TYPE, 2));
    EXPECT_EQ(0, SendMessageW(Item(IDC_KEY_TYPE), CB_GETCURSEL, 0, 0));
    // The sizes agree: the label shows, not the check box; the numbers differ: the check box.
    EXPECT_FALSE(GetWindowLongW(Item(IDC_KEY_SIZE_CHECK), GWL_STYLE) & WS_VISIBLE);
    EXPECT_TRUE(GetWindowLongW(Item(IDC_KEY_NUMBER_CHECK), GWL_STYLE) & WS_VISIBLE);
    ASSERT_EQ(IDOK, PressOk());
    EXPECT_EQ(1, Doc().GetKeys()[0]->keyType);
    EXPECT_EQ(2, Doc().GetKeys()[1]->keyType);
    EXPECT_EQ(3, Doc().GetKeys()[2]->keyType);
    m_dialog->Destroy();

    // A key longer than can be typed keeps its bytes when only its type changes.
    AddKey(Doc(), 10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    Open({3});
    SendMessageW(Item(IDC_KEY_TYPE), CB_SETCURSEL, 2, 0);
    SendMessageW(m_dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_KEY_TYPE, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Item(IDC_KEY_TYPE)));
    ASSERT_EQ(IDOK, PressOk());
    EXPECT_EQ(2, Doc().GetKeys()[3]->keyType);
    EXPECT_EQ(19, Doc().GetKeys()[3]->keyNumber.length);
    EXPECT_EQ(19, Doc().GetKeys()[3]->keyNumber.bytes[18]);
    m_dialog->Destroy();
    {
        CDocUpdateScope scope(Doc());
        Doc().GetKeys()[3]->flags |= KVKEY_DELETE;
        Doc().DeleteMarkedKeys();
    }

    // Two selected without duplicates allowed: one number cannot serve both.
    {
        CDocUpdateScope scope(Doc());
        Doc().SetKeyListNoDuplicates(1);
    }
    Open({0, 1});
    EXPECT_FALSE(IsWindowEnabled(m_dialog->NumberEdit()));
    m_dialog->Destroy();

    // Adding an existing key asks, replaces it and puts the new entry last, selected.
    m_host.settings.SetLastTypedKey(1, Key({0x2A, 0x00, 0x05}));
    m_host.settings.SetKeyEditFormat(KEY_INPUT_FACILITY);
    Open();
    m_host.answers = {IDCANCEL};
    EXPECT_EQ(-1, PressOk());
    EXPECT_EQ(std::vector<std::wstring>{L"Item \"05002A\" already exists. Replace?"}, m_host.messages);
    EXPECT_EQ(3u, Doc().GetKeys().size());
    ASSERT_EQ(IDOK, PressOk());
    ASSERT_EQ(3u, Doc().GetKeys().size());
    EXPECT_EQ(2, Doc().GetKeys()[0]->keyType);
    EXPECT_EQ(1, Doc().GetKeys()[2]->keyType);
    EXPECT_EQ(KVKEY_SELECTED, Doc().GetKeys()[2]->flags & KVKEY_SELECTED);
    EXPECT_EQ(0u, Doc().GetKeys()[0]->flags & KVKEY_SELECTED);
    m_dialog->Destroy();

    // The last-key use closes on OK even with an empty number, and leaves the list alone.
    m_host.settings.SetKeyEditFormat(KEY_INPUT_LONG);
    auto& lastKey = Open({}, false);
    lastKey.SetKey(2, _KEY_NUMBER{});
    m_dialog->Destroy();
    m_dialog = std::make_unique<CTestKeyDialog>(m_host);
    m_dialog->SetKey(2, _KEY_NUMBER{});
    ASSERT_TRUE(m_dialog->CreateDialogWindow(nullptr));
    TypeNumber(L"");
    EXPECT_EQ(IDOK, PressOk());
    EXPECT_EQ(3u, Doc().GetKeys().size());
    EXPECT_EQ(2, m_dialog->keyType);
}

TEST_F(KeyDialog, PictureIsLeft)
{
    AddKey(Doc(), 1, {0x2A, 0x00, 0x05, 0x01, 0x02});
    m_host.settings.SetKeyEditFormat(KEY_INPUT_FACILITY);
    Open({0});
    ShowWindow(m_dialog->m_hWnd, SW_SHOWNORMAL);
    SetWindowPos(m_dialog->m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    const CWindowPicture picture(m_dialog->m_hWnd, L"KeyDialog.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const RECT edit = ClientRectInWindowPicture(m_dialog->m_hWnd, m_dialog->NumberEdit());
    const COLORREF field = GetSysColor(COLOR_WINDOW);
    EXPECT_EQ(field, picture.Dominant(edit));
    EXPECT_GT(picture.InkPixels(edit, field), 60);
    EXPECT_EQ(L"[0201] 005,00042", m_dialog->Shown());
}
