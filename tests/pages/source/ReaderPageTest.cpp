#include <gtest/gtest.h>

#include "config/TransferDoc.h"
#include "pages/source/ReaderPage.h"
#include "resources/resource.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/PageWindowTest.h"
#include "tests/support/WindowPicture.h"

namespace {

// A reader page in a frame, with a counter of what the document tells other observers.
class ReaderPageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host.tableSettings.mainToolTip = &frame.tips;
        token = Doc().Observe(this, [](void* key, CDocument*, const uint32_t* bits) {
            auto* self = static_cast<ReaderPageTest*>(key);
            self->notes.push_back(bits[0]);
        });
    }
    void Open() { ASSERT_TRUE(frame.Show(page)); }

    CTransferDoc& Doc() { return host.GetTransferDoc(); }
    HWND Item(int id) { return GetDlgItem(page.m_hWnd, id); }
    int Selection(int id) { return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
    void Type(int id, const wchar_t* text, bool leave)
    {
        SetDlgItemTextW(page.m_hWnd, id, text);
        if (leave)
            SendControlCommand(page.m_hWnd, id, EN_KILLFOCUS);
    }
    // What the frame's idle pass does after the page asked for it.
    void Idle() { page.OnIdleUpdate(); }

    CFakePageHost host;
    CPageFrame frame;
    CReaderPage page{host};
    CObserverToken token;
    std::vector<uint32_t> notes;
};

} // namespace

TEST(ReaderPageNumbers, EditTextsAreReadAsWholeNumbersOnly)
{
    struct Case {
        const wchar_t* text;
        bool isSigned;
        bool valid;
        int32_t value;
    } cases[] = {
        {L"1500", true, true, 1500},       {L" -1 ", true, true, -1},           {L"2147483647", true, true, INT32_MAX},
        {L"2147483648", true, false, 0},  {L"-2147483648", true, true, INT32_MIN}, {L"abc", true, false, 0},
        {L"12a", true, false, 0},         {L"", true, false, 0},               {L"0", false, true, 0},
        {L"4294967295", false, true, -1}, {L"4294967296", false, false, 0},    {L"-1", false, false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(c.valid, ParseEditNumber(c.text, c.isSigned, value)) << c.text;
        if (c.valid) {
            EXPECT_EQ(c.value, value) << c.text;
        }
    }
}

TEST_F(ReaderPageTest, StoredSpeedSelectsItsEntryOrNone)
{
    Open();
    struct Case {
        uint32_t speed;
        int entry;
    } cases[] = {{0, 0}, {9600, 1}, {115200, 5}, {230400, 6}, {4800, -1}, {1, -1}};
    for (const Case& c : cases) {
        Doc().SetReaderSpeed(c.speed);
        EXPECT_EQ(c.entry, Selection(IDC_READER_SPEED)) << c.speed;
    }
    ChooseComboEntry(page.m_hWnd, IDC_READER_SPEED, 3);
    EXPECT_EQ(38400u, Doc().reader.speed);
    ChooseComboEntry(page.m_hWnd, IDC_READER_SPEED, 0);
    EXPECT_EQ(0u, Doc().reader.speed);
}

TEST_F(ReaderPageTest, ModelChoiceRaisesOnlyARealChangeAndShowsWiegandForAutoAndBase)
{
    Open();
    struct Case {
        int stored;   // set from outside first
        int chosen;
        bool raised;
        bool wiegand;
    } cases[] = {{0, 7, true, true}, {7, 7, false, true}, {3, 3, false, false}, {3, 0, true, true}, {0, 6, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        Doc().EditReaderSettings()->model = c.stored;
        Idle();
        notes.clear();
        ChooseComboEntry(page.m_hWnd, IDC_READER_MODEL, c.chosen);
        EXPECT_EQ(c.chosen, Doc().reader.model);
        EXPECT_EQ(c.raised, !notes.empty() && (notes[0] & TDC_READER));
        EXPECT_EQ(c.wiegand, IsWindowVisible(Item(IDC_READER_WIEGAND)) != FALSE);
    }
    // The same model again still re-evaluates: a model stored from outside left the box stale.
    ChooseComboEntry(page.m_hWnd, IDC_READER_MODEL, 7);
    Doc().EditReaderSettings()->model = 3;
    ASSERT_TRUE(IsWindowVisible(Item(IDC_READER_WIEGAND)));
    notes.clear();
    ChooseComboEntry(page.m_hWnd, IDC_READER_MODEL, 3);
    EXPECT_TRUE(notes.empty());
    EXPECT_FALSE(IsWindowVisible(Item(IDC_READER_WIEGAND)));
}

TEST_F(ReaderPageTest, TimingEditsStoreOnFocusLossAndOnlyNumbers)
{
    Open();
    struct Case {
        int id;
        const wchar_t* text;
        bool leave;
        int32_t ReaderSettings::*field;
        int32_t expected;
    } cases[] = {
        {IDC_READER_CONNECT_PERIOD, L"1500", false, &ReaderSettings::connectPeriod, 3000},
        {IDC_READER_CONNECT_PERIOD, L"1500", true, &ReaderSettings::connectPeriod, 1500},
        {IDC_READER_RECEIVE_TIMEOUT, L"abc", true, &ReaderSettings::receiveTimeout, 3000},
        {IDC_READER_CHECKIN_PERIOD, L"-1", true, &ReaderSettings::checkInPeriod, -1},
        {IDC_READER_MAX_TRIES, L"0", true, &ReaderSettings::maxTries, 0},
        {IDC_READER_MAX_TRIES, L"-2", true, &ReaderSettings::maxTries, 0},
        {IDC_SEARCH_TRIES, L"5", true, &ReaderSettings::searchMaxTries, 5},
        {IDC_READER_CONNECT_TIMEOUT, L"9999999999", true, &ReaderSettings::connectTimeout, 10000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Type(c.id, c.text, c.leave);
        EXPECT_EQ(c.expected, Doc().reader.*c.field);
    }
    // Saving the page takes what the edits hold, the unleft one included.
    Type(IDC_READER_RECEIVE_TIMEOUT, L"700", false);
    page.ExchangeData(true);
    EXPECT_EQ(700, Doc().reader.receiveTimeout);
    EXPECT_EQ(1500, Doc().reader.connectPeriod);
}

TEST_F(ReaderPageTest, ClearedVirtualPortsDisableTheFiltersAndKeepTheirBits)
{
    Open();
    Idle();
    ASSERT_TRUE(IsWindowEnabled(Item(IDC_SEARCH_FILTER_VIDPID)));
    ClickButton(page.m_hWnd, IDC_SEARCH_VCOM);
    EXPECT_EQ(SEARCH_FILTER_VIDPID | SEARCH_FILTER_DESC | SEARCH_CCID, Doc().reader.searchFlags);
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_SEARCH_FILTER_VIDPID)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_SEARCH_FILTER_DESC)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_SEARCH_TIMEOUT)));
    ClickButton(page.m_hWnd, IDC_SEARCH_IP);
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_SEARCH_TRIES)));
    ClickButton(page.m_hWnd, IDC_READER_TO_KEYLIST);
    EXPECT_EQ(READER_BINARY | READER_TO_KEYLIST, Doc().reader.flags);
}

TEST_F(ReaderPageTest, PageDefaultChangesOnlyWhatDiffers)
{
    Open();
    notes.clear();
    SendControlCommand(page.m_hWnd, ID_PAGE_DEFAULT, 0);
    EXPECT_TRUE(notes.empty());     // model 0 and every value already at its default
    EXPECT_FALSE(Doc().IsUnsaved());

    Doc().EditReaderSettings()->model = 5;
    Doc().SetReaderSpeed(9600);
    notes.clear();
    SendControlCommand(page.m_hWnd, ID_PAGE_DEFAULT, 0);
    ASSERT_EQ(1u, notes.size());    // one change scope
    EXPECT_EQ(ReaderSettings{}, Doc().reader);
    EXPECT_EQ(0, Selection(IDC_READER_MODEL));   // the page hears its own defaults
    EXPECT_EQ(0, Selection(IDC_READER_SPEED));
}

TEST_F(ReaderPageTest, TipsComeFromTheControlsStrings)
{
    Open();
    EXPECT_EQ(21, frame.tips.GetToolCount());
    struct Case {
        int id;
        const wchar_t* tip;
    } cases[] = {
        {IDC_READER_CONNECT_PERIOD,
         L"The period between attempts to connect to the reader, in milliseconds.\r\nIf -1, automatic reconnection is "
         L"not called"},
        {IDC_READER_STOPBITS, L"Number of stop bits to connect via com-port"},
        {IDC_SEARCH_TIMEOUT,
         L"Timeout waiting for the response of the converter to the search query, in milliseconds (the command "
         L"\"SEEK Q510IP\")"},
    };
    for (const Case& c : cases) {
        NMTTDISPINFOW info{};
        info.hdr.hwndFrom = frame.tips.m_hWnd;
        info.hdr.idFrom = reinterpret_cast<UINT_PTR>(Item(c.id));
        info.hdr.code = TTN_GETDISPINFOW;
        info.uFlags = TTF_IDISHWND;
        SendMessageW(page.m_hWnd, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
        ASSERT_NE(nullptr, info.lpszText) << c.id;
        EXPECT_STREQ(c.tip, info.lpszText) << c.id;
    }
    page.Destroy();
    EXPECT_EQ(0, frame.tips.GetToolCount());
}

TEST_F(ReaderPageTest, PictureShowsTheFilledControls)
{
    Doc().SetReaderSpeed(4800);
    Open();
    Idle();
    const CWindowPicture picture(page.m_hWnd, L"ReaderPage.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const COLORREF face = GetSysColor(COLOR_WINDOW);
    EXPECT_EQ(face, picture.Dominant(ClientRectInWindowPicture(page.m_hWnd, page.m_hWnd)));
    // The model box shows "Auto"; the edits their numbers; the speed box, with 4800 stored, nothing.
    struct Field {
        int id;
        int leastInk;
        int mostInk;
    } fields[] = {{IDC_READER_MODEL, 20, 100000}, {IDC_READER_RECEIVE_TIMEOUT, 15, 100000}, {IDC_READER_SPEED, 0, 8}};
    for (const Field& f : fields) {
        RECT r = ClientRectInWindowPicture(page.m_hWnd, Item(f.id));
        r.right -= GetSystemMetrics(SM_CXVSCROLL) + 2;   // not the drop-down button
        InflateRect(&r, -3, -3);
        const int ink = picture.InkPixels(r, GetSysColor(COLOR_WINDOW));
        EXPECT_GE(ink, f.leastInk) << f.id;
        EXPECT_LE(ink, f.mostInk) << f.id;
    }
}
