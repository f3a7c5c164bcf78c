// The key list page on its own host: rows as another program reads them from the list, sorting,
// filtering, dragging, deleting, duplicates and "Page default" through the page's controls and
// notifications.
#include <gtest/gtest.h>

#include "pages/source/KeyListPage.h"
#include "resources/resource.h"
#include "tests/pages/source/KeyListPageSupport.h"
#include "tests/support/WindowPicture.h"

using namespace keylist_page_test;

namespace {

class KeyListPage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureApp();
        m_window = CreateHostWindow(640, 420);
        ASSERT_TRUE(m_window);
        m_page = std::make_unique<CKeyListPage>(m_host);
        ASSERT_TRUE(m_page->CreateDialogWindow(m_window));
        RECT client;
        GetClientRect(m_window, &client);
        MoveWindow(m_page->m_hWnd, 0, 0, client.right, client.bottom, TRUE);
        ShowWindow(m_page->m_hWnd, SW_SHOW);
        m_token = Doc().Observe(this, [](void* self, CDocument* doc, const uint32_t*) {
            static_cast<KeyListPage*>(self)->m_keyListDetails.push_back(
                static_cast<CTransferDoc*>(doc)->GetDetails().keyList);
        });
    }
    void TearDown() override
    {
        m_token = {};
        if (m_page)
            m_page->Destroy();
        m_page.reset();
        DestroyWindow(m_window);
        PumpPending();
    }

    CTransferDoc& Doc() { return m_host.GetTransferDoc(); }
    CAppSettings& Settings() { return m_host.settings; }
    HWND List() { return m_page->List().m_hWnd; }
    int Rows() { return static_cast<int>(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0)); }
    std::vector<std::wstring> Column(int column)
    {
        std::vector<std::wstring> texts;
        for (int row = 0; row < Rows(); ++row)
            texts.push_back(ListText(List(), row, column));
        return texts;
    }
    void Select(std::initializer_list<int> rows)
    {
        LVITEMW none{};
        none.stateMask = LVIS_SELECTED;
        SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
        for (int row : rows) {
            LVITEMW one{};
            one.stateMask = one.state = LVIS_SELECTED;
            SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&one));
        }
    }
    void Command(int id) { SendMessageW(m_page->m_hWnd, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    // A key pressed in the list with Shift held or not.
    void PressInList(WORD key, bool shift)
    {
        BYTE state[256];
        GetKeyboardState(state);
        const BYTE saved = state[VK_SHIFT];
        state[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(state);
        SendMessageW(List(), WM_KEYDOWN, key, 0);
        state[VK_SHIFT] = saved;
        SetKeyboardState(state);
    }
    // Em-Marine 005,00042, HID 00042 and Dallas keys in that order, from one number each.
    void AddThree()
    {
        AddKey(Doc(), 7, {0x03, 0x00});
        AddKey(Doc(), 2, {0x02, 0x00, 0x01});
        AddKey(Doc(), 1, {0x01, 0x00, 0x05});
    }

    CFakePageHost m_host;
    HWND m_window = nullptr;
    std::unique_ptr<CKeyListPage> m_page;
    CObserverToken m_token;
    std::vector<uint32_t> m_keyListDetails;
};

} // namespace

TEST_F(KeyListPage, RowsShowTypeNumberAndSizeInTheViewForm)
{
    Settings().SetKeyViewFormat(KEY_VIEW_AUTO);
    AddThree();
    ASSERT_EQ(3, Rows());
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"2", L"3"}), Column(0));
    EXPECT_EQ((std::vector<std::wstring>{L"Dallas", L"HID", L"Em-Marine"}), Column(1));
    EXPECT_EQ((std::vector<std::wstring>{L"0003", L"[01] 00002", L"005,00001"}), Column(2));
    EXPECT_EQ((std::vector<std::wstring>{L"2", L"3", L"3"}), Column(3));
    // The view form of the context menu changes the numbers shown.
    Command(ID_KEY_VIEW_HEX);
    EXPECT_EQ((std::vector<std::wstring>{L"0003", L"010002", L"050001"}), Column(2));

    // The status bar's question: selected rows through wParam, all rows through lParam.
    Select({0, 2});
    int selected = -1, total = -1;
    SendMessageW(m_page->m_hWnd, WM_PAGE_QUERY, reinterpret_cast<WPARAM>(&selected), reinterpret_cast<LPARAM>(&total));
    EXPECT_EQ(2, selected);
    EXPECT_EQ(3, total);
    EXPECT_EQ(KVKEY_SELECTED, Doc().GetKeys()[2]->flags & KVKEY_SELECTED);
    EXPECT_EQ(0u, Doc().GetKeys()[1]->flags & KVKEY_SELECTED);
}

TEST_F(KeyListPage, SortFilterAndDrag)
{
    Settings().SetKeyViewFormat(KEY_VIEW_AUTO);
    AddThree();
    TableSortRequest sort{};
    // "#" stores the key and moves nothing.
    sort.key = 1;
    m_page->List().NotifyParent(TN_SORTREQUEST, &sort.hdr);
    EXPECT_EQ(1, Doc().keyListSort);
    EXPECT_EQ((std::vector<std::wstring>{L"Dallas", L"HID", L"Em-Marine"}), Column(1));
    // "Number" with the automatic view: Em-Marine, HID, the rest.
    sort.key = 3;
    m_page->List().NotifyParent(TN_SORTREQUEST, &sort.hdr);
    EXPECT_EQ(3, Doc().keyListSort);
    EXPECT_EQ((std::vector<std::wstring>{L"Em-Marine", L"HID", L"Dallas"}), Column(1));

    // A block dropped on its own first row changes nothing; elsewhere it moves.
    Select({0, 1});
    m_keyListDetails.clear();
    TableDragInfo drag{};
    drag.row = 0;
    m_page->List().NotifyParent(TN_DRAGEND, &drag.hdr);
    EXPECT_TRUE(m_keyListDetails.empty());
    EXPECT_EQ(3, Doc().keyListSort);
    drag.row = kRowAfterLast;
    m_page->List().NotifyParent(TN_DRAGEND, &drag.hdr);
    ASSERT_EQ(1u, m_keyListDetails.size());
    EXPECT_EQ(TDK_BLOCK_REPLACED, m_keyListDetails[0] & TDK_BLOCK_REPLACED);
    EXPECT_EQ(0, Doc().keyListSort);
    EXPECT_EQ((std::vector<std::wstring>{L"Dallas", L"Em-Marine", L"HID"}), Column(1));

    // The filter without "Show transferred" hides transferred keys; with it they come back.
    Doc().GetKeys()[1]->flags |= KVKEY_TRANSFERRED;
    Settings().SetKeyListFilter(KLF_ENABLED | KLF_SHOW_NO_FORMAT);
    EXPECT_EQ((std::vector<std::wstring>{L"Dallas", L"HID"}), Column(1));
    EXPECT_TRUE(SendMessageW(m_page->Toolbar(), TB_ISBUTTONCHECKED, ID_KEYLIST_FILTER_ON, 0));
    Command(ID_KEYLIST_SHOW_TRANSFERRED);
    EXPECT_EQ(3, Rows());
    EXPECT_EQ(KLF_ENABLED | KLF_SHOW_TRANSFERRED | KLF_SHOW_NO_FORMAT, Settings().GetKeyListFilter());
}

TEST_F(KeyListPage, DeletingAsksAsTheConfirmWordSays)
{
    Settings().SetKeyViewFormat(KEY_VIEW_AUTO);
    const struct {
        std::initializer_list<int> rows;
        bool shift;
        int answer;
        bool tickDontAsk;
        const wchar_t* question;  // null: none asked
        int rowsLeft;
        uint32_t confirmDelete;
    } cases[] = {
        {{2}, false, IDCANCEL, false, L"Remove \"005,00001\"?", 3, CONFIRM_DELETE},
        {{0, 1}, false, IDOK, false, L"Remove 2 items?", 1, CONFIRM_DELETE},
        {{0}, true, IDOK, false, nullptr, 2, CONFIRM_DELETE},
        {{1, 2}, false, IDOK, true, L"Remove 2 items?", 1, 0},
    };
    for (const auto& c : cases) {
        for (const KvKeyPtr& key : Doc().GetKeys())
            key->flags |= KVKEY_DELETE;
        Doc().DeleteMarkedKeys();
        AddThree();
        Settings().SetConfirmFlags(kDefaultConfirm);
        m_host.messages.clear();
        m_host.answers = {c.answer};
        m_host.tickDontAsk = c.tickDontAsk;
        Select(c.rows);
        PressInList(VK_DELETE, c.shift);
        if (c.question)
            EXPECT_EQ(std::vector<std::wstring>{c.question}, m_host.messages);
        else
            EXPECT_TRUE(m_host.messages.empty());
        EXPECT_EQ(c.rowsLeft, Rows());
        EXPECT_EQ(c.confirmDelete, Settings().GetConfirmFlags() & CONFIRM_DELETE);
    }
}

TEST_F(KeyListPage, DuplicatesAndPageDefault)
{
    AddThree();
    AddKey(Doc(), 2, {0x02, 0x00, 0x01});
    // "Do not allow duplicates" switched on removes those present.
    Command(ID_KEYLIST_NO_DUPLICATES);
    EXPECT_EQ(1u, Doc().keyListNoDuplicates & 1);
    EXPECT_EQ(3, Rows());
    Command(ID_KEYLIST_REMOVE_DUPLICATES);
    EXPECT_EQ(std::vector<std::wstring>{L"No duplicates."}, m_host.messages);
    Command(ID_KEYLIST_NO_DUPLICATES);
    EXPECT_EQ(0u, Doc().keyListNoDuplicates & 1);
    AddKey(Doc(), 7, {0x03, 0x00});
    m_host.messages.clear();
    Command(ID_KEYLIST_REMOVE_DUPLICATES);
    EXPECT_EQ(std::vector<std::wstring>{L"Deleted items: 1."}, m_host.messages);

    // "Page default" asks before it empties the list; Cancel keeps the keys, the settings reset.
    Settings().SetKeyListFilter(KLF_ENABLED);
    {
        CDocUpdateScope scope(Doc());
        Doc().SetKeyListTimerInterval(250);
    }
    m_host.messages.clear();
    m_host.answers = {IDCANCEL};
    Command(ID_PAGE_DEFAULT);
    EXPECT_EQ(std::vector<std::wstring>{L"Remove 3 items?"}, m_host.messages);
    EXPECT_EQ(3u, Doc().GetKeys().size());
    EXPECT_EQ(KLF_SHOW_NO_FORMAT, Settings().GetKeyListFilter());
    EXPECT_EQ(1000, Doc().keyListTimerInterval);
    m_host.answers = {IDOK};
    Command(ID_PAGE_DEFAULT);
    EXPECT_TRUE(Doc().GetKeys().empty());
    EXPECT_EQ(0, Rows());
}

TEST_F(KeyListPage, TransferredRowsAreDrawnInTheirColourAndThePictureIsLeft)
{
    Settings().SetKeyViewFormat(KEY_VIEW_AUTO);
    for (int i = 0; i < 8; ++i)
        AddKey(Doc(), 1 + i % 2, {static_cast<uint8_t>(i), 0x00, 0x05}, i % 2 ? KVKEY_TRANSFERRED : 0);
    ShowWindow(m_window, SW_SHOWNORMAL);
    SetWindowPos(m_window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    // Row 1 (transferred) carries the transferred colour as ink; row 0 does not.
    RECT row0{LVIR_BOUNDS}, row1{LVIR_BOUNDS};
    SendMessageW(List(), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row0));
    SendMessageW(List(), LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row1));
    const RECT list = ClientRectInWindowPicture(m_window, List());
    OffsetRect(&row0, list.left, list.top);
    OffsetRect(&row1, list.left, list.top);
    const CWindowPicture picture(m_window, L"KeyListPage.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    EXPECT_GT(picture.Count(row1, kTransferredKeyColor), 20);
    EXPECT_EQ(0, picture.Count(row0, kTransferredKeyColor));
    EXPECT_GT(picture.InkPixels(list, GetSysColor(COLOR_WINDOW)), 400);
}

TEST_F(KeyListPage, MenuStatesFollowSelectionFilterViewAndSpreadsheets)
{
    AddThree();
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_KEYLIST_CONTEXT));
    ASSERT_TRUE(menu);
    HMENU popup = GetSubMenu(menu, 0);
    auto state = [&](UINT id) { return GetMenuState(popup, id, MF_BYCOMMAND); };
    // Excel and Calc items are greyed exactly when their automation servers are unknown.
    auto known = [](const wchar_t* progId) {
        CLSID clsid;
        return SUCCEEDED(CLSIDFromProgID(progId, &clsid));
    };
    const struct {
        std::initializer_list<int> rows;
        uint32_t filter;
        int view;
    } cases[] = {
        {{}, KLF_SHOW_TRANSFERRED, KEY_VIEW_AUTO},
        {{1}, KLF_ENABLED | KLF_SHOW_NO_FORMAT, KEY_VIEW_LONG},
    };
    for (const auto& c : cases) {
        Settings().SetKeyListFilter(c.filter);
        Settings().SetKeyViewFormat(c.view);
        Select(c.rows);
        m_page->PrepareMenu(popup);
        const UINT selectedState = c.rows.size() ? 0u : MF_GRAYED;
        for (UINT id : {ID_KEY_CHANGE, ID_KEY_DELETE, ID_KEY_CLEAR_TRANSFERRED, ID_KEY_MAKE_LAST})
            EXPECT_EQ(selectedState, state(id) & MF_GRAYED) << id;
        EXPECT_EQ(0u, state(ID_KEY_ADD) & MF_GRAYED);
        EXPECT_EQ(c.filter & KLF_ENABLED ? MF_CHECKED : 0u, state(ID_KEYLIST_FILTER_ON) & MF_CHECKED);
        EXPECT_EQ(c.filter & KLF_SHOW_TRANSFERRED ? MF_CHECKED : 0u, state(ID_KEYLIST_SHOW_TRANSFERRED) & MF_CHECKED);
        EXPECT_EQ(c.filter & KLF_SHOW_NO_FORMAT ? MF_CHECKED : 0u, state(ID_KEYLIST_SHOW_NO_FORMAT) & MF_CHECKED);
        for (int view = 0; view <= 5; ++view)
            EXPECT_EQ(view == c.view ? MF_CHECKED : 0u, state(ID_KEY_VIEW_AUTO + view) & MF_CHECKED) << view;
        EXPECT_EQ(known(L"Excel.Application") ? 0u : MF_GRAYED, state(ID_KEYLIST_EXPORT_EXCEL) & MF_GRAYED);
        EXPECT_EQ(known(L"com.sun.star.ServiceManager") ? 0u : MF_GRAYED, state(ID_KEYLIST_EXPORT_CALC_OPEN) & MF_GRAYED);
    }
    // "Do not save the list on exit" is checked while the list is not kept; "Do not allow
    // duplicates" while the list forbids them.
    EXPECT_EQ(Settings().IsHistory(HIST_KEYLIST) ? 0u : MF_CHECKED, state(ID_KEYLIST_NO_SAVE) & MF_CHECKED);
    Command(ID_KEYLIST_NO_SAVE);
    m_page->PrepareMenu(popup);
    EXPECT_EQ(Settings().IsHistory(HIST_KEYLIST) ? 0u : MF_CHECKED, state(ID_KEYLIST_NO_SAVE) & MF_CHECKED);
    EXPECT_EQ(0u, state(ID_KEYLIST_NO_DUPLICATES) & MF_CHECKED);
    DestroyMenu(menu);

    // The toolbar's tips are the commands' tips, as the application words them.
    wchar_t tip[128] = {};
    NMTBGETINFOTIPW info{};
    info.hdr.hwndFrom = m_page->Toolbar();
    info.hdr.idFrom = IDC_KEYLIST_TOOLBAR;
    info.hdr.code = TBN_GETINFOTIPW;
    info.iItem = ID_KEY_ADD;
    info.pszText = tip;
    info.cchTextMax = 128;
    SendMessageW(m_page->m_hWnd, WM_NOTIFY, IDC_KEYLIST_TOOLBAR, reinterpret_cast<LPARAM>(&info));
    EXPECT_STREQ(L"tip 32900", tip);
}

TEST_F(KeyListPage, TimerCheckAndIntervalFollowTheDocumentBothWays)
{
    HWND check = GetDlgItem(m_page->m_hWnd, ID_KEYLIST_TIMER);
    HWND interval = GetDlgItem(m_page->m_hWnd, IDC_KEYLIST_INTERVAL);
    SendMessageW(check, BM_CLICK, 0, 0);
    EXPECT_TRUE(Doc().keyListTimerEnabled);
    SetWindowTextW(interval, L"100");
    SendMessageW(m_page->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_KEYLIST_INTERVAL, EN_KILLFOCUS),
                 reinterpret_cast<LPARAM>(interval));
    EXPECT_EQ(100, Doc().keyListTimerInterval);
    {
        CDocUpdateScope scope(Doc());
        Doc().SetKeyListTimerEnabled(false);
        Doc().SetKeyListTimerInterval(2500);
    }
    EXPECT_EQ(BST_UNCHECKED, SendMessageW(check, BM_GETCHECK, 0, 0));
    wchar_t text[16] = {};
    GetWindowTextW(interval, text, 16);
    EXPECT_STREQ(L"2500", text);
}
