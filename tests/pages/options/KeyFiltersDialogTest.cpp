#include <gtest/gtest.h>

#include "config/TransferDoc.h"
#include "framework/PrivateMessages.h"
#include "pages/options/KeyFiltersDialog.h"
#include "resources/resource.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/PageWindowTest.h"
#include "tests/support/WindowPicture.h"

namespace {

KeyFilter Filter(uint32_t id, const wchar_t* name, uint32_t keyTypes, int32_t keySize, uint32_t formatId = 0)
{
    KeyFilter f;
    f.id = id;
    f.name = name;
    f.keyTypes = keyTypes;
    f.keySize = keySize;
    f.formatId = formatId;
    return f;
}

// The dialog created without its modal loop, driven through its controls; the loop's idle
// message is sent where the loop would send it.
class KeyFiltersDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        PageTestApp();
        Doc().KeyFilters() = {Filter(1, L"Mifare", 0x3FFC00, 4), Filter(2, L"Em-Marine", 0x2, 0),
                              Filter(3, L"HID", 0x4, 5)};
        Doc().keyFilterNewId = 4;
        token = Doc().Observe(this, [](void* key, CDocument*, const uint32_t*) {
            ++static_cast<KeyFiltersDialogTest*>(key)->deliveries;
        });
    }
    void TearDown() override { dialog.Destroy(); }

    void Open()
    {
        ASSERT_TRUE(dialog.CreateDialogWindow(nullptr));
        // Top right, beside the pages' frame at the top left.
        RECT rc;
        GetWindowRect(dialog.m_hWnd, &rc);
        SetWindowPos(dialog.m_hWnd, HWND_TOPMOST, GetSystemMetrics(SM_CXSCREEN) - (rc.right - rc.left), 0, 0, 0,
                     SWP_NOSIZE | SWP_SHOWWINDOW);
        Idle();
    }
    CTransferDoc& Doc() { return host.GetTransferDoc(); }
    HWND Item(int id) { return GetDlgItem(dialog.m_hWnd, id); }
    void Idle()
    {
        PumpPending();
        SendMessageW(dialog.m_hWnd, WM_KICKIDLE, 0, 0);
    }
    void Select(std::initializer_list<int> rows)
    {
        LVITEMW clear{};
        clear.stateMask = LVIS_SELECTED;
        SendMessageW(Item(IDC_KF_LIST), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
        for (int row : rows) {
            LVITEMW item{};
            item.stateMask = item.state = LVIS_SELECTED;
            SendMessageW(Item(IDC_KF_LIST), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        }
        Idle();
    }
    void Press(int id) { SendControlCommand(dialog.m_hWnd, id, BN_CLICKED); }
    std::wstring Cell(int row, int column)
    {
        wchar_t text[128] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 128;
        SendMessageW(Item(IDC_KF_LIST), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return text;
    }
    std::wstring Names(const std::vector<KeyFilter>& filters)
    {
        std::wstring s;
        for (const KeyFilter& f : filters)
            s += (s.empty() ? L"" : L"|") + f.name;
        return s;
    }

    CFakePageHost host;
    CKeyFiltersDialog dialog{host};
    CObserverToken token;
    int deliveries = 0;
};

} // namespace

TEST_F(KeyFiltersDialogTest, ListShowsTheFiltersColumns)
{
    Open();
    ASSERT_EQ(3, SendMessageW(Item(IDC_KF_LIST), LVM_GETITEMCOUNT, 0, 0));
    // Visible columns: "Visible", "#", "Name", "Key types", "Key size" (the "ID" column is hidden).
    struct Case {
        int row;
        const wchar_t* cells[4];
    } cases[] = {
        {0, {L"1", L"Mifare", L"M1K, M2K, M4K, M+, M+1K, M+2K, M+4K, SMXM1K, SMXM4K, DF, PX, MINI", L"4"}},
        {1, {L"2", L"Em-Marine", L"Em-Marine", L"All"}},
        {2, {L"3", L"HID", L"HID", L"5"}},
    };
    for (const Case& c : cases)
        for (int column = 1; column <= 4; ++column)
            EXPECT_EQ(c.cells[column - 1], Cell(c.row, column)) << c.row << "," << column;
    EXPECT_EQ(L"All", KeyTypesText(kAllKeyTypes, host));
    EXPECT_EQ(L"X, EM, ?", KeyTypesText(0x400003, host));
}

TEST_F(KeyFiltersDialogTest, DifferentSizesWriteTheSizeOnlyAfterTicking)
{
    Open();
    Select({0, 2});
    EXPECT_TRUE(IsWindowVisible(Item(IDC_KF_SIZE_CHECK)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_KF_SIZE_LABEL)));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog.m_hWnd, IDC_KF_SIZE_CHECK));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_KF_SIZE)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_KF_NAME)));
    std::wstring name;
    dialog.GetItemText(IDC_KF_NAME, name);
    EXPECT_EQ(L"*", name);

    SetDlgItemTextW(dialog.m_hWnd, IDC_KF_SIZE, L"7");
    Press(IDC_KF_APPLY);
    EXPECT_EQ(4, Doc().GetKeyFilters()[0].keySize);
    EXPECT_EQ(5, Doc().GetKeyFilters()[2].keySize);

    ClickButton(dialog.m_hWnd, IDC_KF_SIZE_CHECK);
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_KF_SIZE)));
    SetDlgItemTextW(dialog.m_hWnd, IDC_KF_SIZE, L"7");
    Press(IDC_KF_APPLY);
    EXPECT_EQ(7, Doc().GetKeyFilters()[0].keySize);
    EXPECT_EQ(0, Doc().GetKeyFilters()[1].keySize);   // the unselected one keeps its size
    EXPECT_EQ(7, Doc().GetKeyFilters()[2].keySize);
}

TEST_F(KeyFiltersDialogTest, NamesMustBeFilledAndUniqueExactly)
{
    Open();
    Select({2});
    struct Case {
        const wchar_t* typed;
        const wchar_t* message;   // null: accepted
        const wchar_t* stored;
    } cases[] = {
        {L"Em-Marine", L"Filter named \"Em-Marine\" already exists. The name must be unique.", L"HID"},
        {L"", L"Field must be filled in.", L"HID"},
        {L"em-marine", nullptr, L"em-marine"},
    };
    for (const Case& c : cases) {
        host.messages.clear();
        SetDlgItemTextW(dialog.m_hWnd, IDC_KF_NAME, c.typed);
        Press(IDC_KF_APPLY);
        if (c.message) {
            ASSERT_EQ(1u, host.messages.size()) << c.typed;
            EXPECT_EQ(c.message, host.messages[0]);
            EXPECT_EQ(Item(IDC_KF_NAME), GetFocus());
        } else {
            EXPECT_TRUE(host.messages.empty()) << c.typed;
        }
        EXPECT_EQ(c.stored, Doc().GetKeyFilters()[2].name) << c.typed;
    }
}

TEST_F(KeyFiltersDialogTest, ResetAllGivesThePresetsAndApplyNotifiesOnce)
{
    Doc().selectedKeyFilter = 3;
    Open();
    Press(ID_KEY_FILTERS_RESET);
    EXPECT_EQ(0, deliveries);    // nothing before Apply
    ASSERT_EQ(6, SendMessageW(Item(IDC_KF_LIST), LVM_GETITEMCOUNT, 0, 0));
    Press(IDC_KF_APPLY);
    EXPECT_EQ(1, deliveries);
    EXPECT_EQ(L"Mifare (4 UId)|Mifare (7 UId)|Em-Marine,QM-100|HID|iCode|Temic", Names(Doc().GetKeyFilters()));
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(i + 1, Doc().GetKeyFilters()[i].id);
    EXPECT_EQ(7u, Doc().keyFilterNewId);
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_KF_APPLY)));
}

TEST_F(KeyFiltersDialogTest, DuplicateAtTheLimitSaysSo)
{
    for (uint32_t id = 4; id <= 31; ++id)
        Doc().KeyFilters().push_back(Filter(id, (L"F" + std::to_wstring(id)).c_str(), 2, 0));
    Open();
    Select({1});
    SendMessageW(dialog.m_hWnd, WM_COMMAND, ID_ITEM_DUPLICATE, 0);
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ(L"Key Filters Limit Reached (maximum 31).", host.messages[0]);
    EXPECT_EQ(31, SendMessageW(Item(IDC_KF_LIST), LVM_GETITEMCOUNT, 0, 0));
}

TEST_F(KeyFiltersDialogTest, MovesDeletesAndCancelLeaveTheDocumentAlone)
{
    const std::wstring before = Names(Doc().GetKeyFilters());
    Open();
    Select({0});
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_KF_MOVE_UP)));   // a top block stays
    Press(IDC_KF_MOVE_DOWN);
    Select({2});
    host.answers = {IDOK};
    Press(ID_ITEM_DELETE);
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ(L"Remove \"HID\"?", host.messages[0]);
    EXPECT_EQ(2, SendMessageW(Item(IDC_KF_LIST), LVM_GETITEMCOUNT, 0, 0));
    Press(ID_ITEM_ADD);
    EXPECT_EQ(L"Filter", Cell(2, 2));
    Press(IDCANCEL);
    EXPECT_EQ(IDCANCEL, dialog.m_result);
    EXPECT_EQ(before, Names(Doc().GetKeyFilters()));
    EXPECT_EQ(0, deliveries);
}

TEST_F(KeyFiltersDialogTest, DeletingTheShownTabsFilterLeavesDefault)
{
    Doc().selectedKeyFilter = 2;
    Open();
    Select({1, 2});
    host.answers = {IDOK};
    Press(ID_ITEM_DELETE);
    EXPECT_EQ(L"Remove 2 items?", host.messages.at(0));
    Press(IDOK);
    EXPECT_EQ(IDOK, dialog.m_result);
    EXPECT_EQ(L"Mifare", Names(Doc().GetKeyFilters()));
    EXPECT_EQ(0u, Doc().selectedKeyFilter);
}

TEST_F(KeyFiltersDialogTest, OrderDecidesTheFormatOfAKey)
{
    _KV_FORMAT format;
    format.name = L"Decimal";
    format.templ = L"%s";
    const uint32_t first = Doc().GetFormats()[Doc().AddFormat(format)]->id;
    format.name = L"Hex";
    const uint32_t second = Doc().GetFormats()[Doc().AddFormat(format)]->id;
    Doc().KeyFilters() = {Filter(1, L"Em A", 0x2, 0, first), Filter(2, L"Em B", 0x2, 5, second)};
    ASSERT_EQ(first, Doc().FindFormatForKey(1, 5)->id);
    Open();
    Select({1});
    Press(IDC_KF_MOVE_UP);
    Press(IDC_KF_APPLY);
    EXPECT_EQ(L"Em B|Em A", Names(Doc().GetKeyFilters()));
    EXPECT_EQ(second, Doc().FindFormatForKey(1, 5)->id);
    EXPECT_EQ(first, Doc().FindFormatForKey(1, 4)->id);   // only the sized filter moved ahead
}

TEST_F(KeyFiltersDialogTest, PictureShowsTheListAndTheTakenTypes)
{
    Open();
    Select({2});
    PumpPending();
    EXPECT_EQ(0x2u, dialog.TakenMask());   // Em-Marine of any size takes; Mifare at size 4 does not
    const CWindowPicture picture(dialog.m_hWnd, L"KeyFiltersDialog.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const RECT list = ClientRectInWindowPicture(dialog.m_hWnd, Item(IDC_KF_LIST));
    EXPECT_GE(picture.InkPixels(list, GetSysColor(COLOR_WINDOW)), 300);
    const RECT types = ClientRectInWindowPicture(dialog.m_hWnd, Item(IDC_KF_KEY_TYPES));
    EXPECT_GE(picture.InkPixels(types, GetSysColor(COLOR_WINDOW)), 300);
}
