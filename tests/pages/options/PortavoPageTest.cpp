// The bridge link page: the type radios and sub-pages, the client's address and period, the
// server's fields. Its list of peers is shown in the running program (tests/app).
#include <windows.h>

#include <gtest/gtest.h>

#include "config/AppSettings.h"
#include "config/TransferDoc.h"
#include "pages/options/OptionNumbers.h"
#include "pages/options/PortavoPage.h"
#include "resources/resource.h"
#include "tests/pages/options/OptionPageTestSupport.h"
#include "tests/support/WindowPicture.h"

namespace {

struct BridgePage : ::testing::Test
{
    CTransferDoc& Doc() { return page->host.GetTransferDoc(); }
    void Open()
    {
        page = std::make_unique<CPageUnderTest<CPortavoPage>>();
        ASSERT_TRUE(page->created);
    }
    HWND Sub(int id)
    {
        CPtvPage* shown = page->page->ShownSubPage();
        return shown ? GetDlgItem(shown->m_hWnd, id) : nullptr;
    }
    bool Radio(int id) { return IsDlgButtonChecked(page->page->m_hWnd, id) == BST_CHECKED; }

    std::unique_ptr<CPageUnderTest<CPortavoPage>> page;
};

} // namespace

TEST(OptionNumbers, FieldsAcceptOnlyNumbersInTheirRange)
{
    const struct {
        const wchar_t* text;
        int64_t delay, port, int32;  // -99: refused
    } cases[] = {
        {L"0", 0, -99, 0},
        {L"-1", -99, -99, -1},
        {L"25000", 25000, 25000, 25000},
        {L" 80 ", 80, 80, 80},
        {L"65535", 65535, 65535, 65535},
        {L"65536", 65536, -99, 65536},
        {L"70000", 70000, -99, 70000},
        {L"2147483647", 2147483647, -99, 2147483647},
        {L"2147483648", -99, -99, -99},
        {L"-2147483648", -99, -99, INT32_MIN},
        {L"99999999999999999999", -99, -99, -99},
        {L"+7", -99, 7, 7},
        {L"x", -99, -99, -99},
        {L"1 2", -99, -99, -99},
        {L"-", -99, -99, -99},
        {L"", -99, -99, -99},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.delay, ParseDelayField(c.text).value_or(-99)) << c.text;
        EXPECT_EQ(c.port, ParsePortField(c.text).value_or(-99)) << c.text;
        EXPECT_EQ(c.int32, ParseInt32Field(c.text).value_or(-99)) << c.text;
    }
}

TEST_F(BridgePage, TypeChoosesTheSubPageAndItsRadio)
{
    const struct {
        int32_t type;
        bool client, server;
        int shownGroup;  // 0: no sub-page
    } cases[] = {
        {PORTAVO_OFF, false, false, 0},
        {PORTAVO_CLIENT, true, false, IDC_PTV_CLIENT_GROUP},
        {PORTAVO_SERVER, false, true, IDC_PTV_SERVER_GROUP},
    };
    for (const auto& c : cases) {
        page.reset();
        Open();
        Doc().SetPortavoType(c.type);
        page->page->ExchangeData(false);
        EXPECT_EQ(c.client, Radio(IDC_PTV_CLIENT)) << c.type;
        EXPECT_EQ(c.server, Radio(IDC_PTV_SERVER)) << c.type;
        CPtvPage* shown = page->page->ShownSubPage();
        EXPECT_EQ(c.shownGroup != 0, shown != nullptr) << c.type;
        if (shown) {
            EXPECT_TRUE(IsWindowVisible(shown->m_hWnd));
            EXPECT_NE(nullptr, GetDlgItem(shown->m_hWnd, c.shownGroup));
        }
    }
    // A click on the other radio stores the type and swaps the sub-page.
    SendMessageW(page->Item(IDC_PTV_CLIENT), BM_CLICK, 0, 0);
    EXPECT_EQ(PORTAVO_CLIENT, Doc().Portavo().mode);
    EXPECT_TRUE(IsWindowVisible(page->page->ShownSubPage()->m_hWnd));
    EXPECT_FALSE(IsWindowVisible(page->page->ServerPage()->m_hWnd));
    const RECT group = ClientRectInWindowPicture(page->frame, Sub(IDC_PTV_CLIENT_GROUP));
    EXPECT_GT(PictureInk(page->frame, group, L"PortavoPage.bmp"), 200);
}

TEST_F(BridgePage, ClientAddressAndPeriodStoreWhatChanged)
{
    Open();
    Doc().SetPortavoClient(L"bridgehost", 1000);
    page->page->ExchangeData(false);
    EXPECT_EQ(L"bridgehost", WindowText(Sub(IDC_PTV_HOST)));
    EXPECT_EQ(L"25000", WindowText(Sub(IDC_PTV_PORT)));

    const struct {
        int field;
        const wchar_t* typed;
        const wchar_t* address;
        int32_t period;
    } steps[] = {
        {IDC_PTV_PORT, L"25000", L"bridgehost", 1000},          // the same port: nothing stored
        {IDC_PTV_HOST, L"bridgehost", L"bridgehost", 1000},     // the same host: nothing stored
        {IDC_PTV_HOST, L"10.0.0.7", L"10.0.0.7:25000", 1000},
        {IDC_PTV_PORT, L"70000", L"10.0.0.7:25000", 1000},      // beyond a port: refused, not cut
        {IDC_PTV_PORT, L"0", L"10.0.0.7:25000", 1000},
        {IDC_PTV_PORT, L"4001", L"10.0.0.7:4001", 1000},
        {IDC_PTV_PERIOD, L"-1", L"10.0.0.7:4001", -1},
        {IDC_PTV_PERIOD, L"abc", L"10.0.0.7:4001", -1},
        {IDC_PTV_PERIOD, L"4294967295", L"10.0.0.7:4001", -1},
        {IDC_PTV_PERIOD, L"2500", L"10.0.0.7:4001", 2500},
    };
    for (const auto& s : steps) {
        TypeAndLeave(Sub(s.field), s.typed, page->Item(IDC_PTV_NVT));
        EXPECT_EQ(s.address, Doc().Portavo().address) << s.typed;
        EXPECT_EQ(s.period, Doc().Portavo().connectPeriod) << s.typed;
    }
    // A stored -1 shows as typed.
    Doc().SetPortavoClient(L"h:1", -1);
    page->page->ExchangeData(false);
    EXPECT_EQ(L"-1", WindowText(Sub(IDC_PTV_PERIOD)));
}

TEST_F(BridgePage, TypingMarksTheConfigurationUnsavedAtOnce)
{
    Open();
    Doc().SetUnsaved(false);
    SetFocus(Sub(IDC_PTV_HOST));
    SendMessageW(Sub(IDC_PTV_HOST), WM_CHAR, L'x', 1);
    EXPECT_TRUE(Doc().IsUnsaved());
    EXPECT_EQ(L"127.0.0.1:25000", Doc().Portavo().address) << "stored only when the field is left";
}

TEST_F(BridgePage, ServerPortOutsideItsRangeIsNotStoredAndDefaultsComeBack)
{
    Open();
    Doc().SetPortavoType(PORTAVO_SERVER);
    page->page->ExchangeData(false);
    ASSERT_NE(nullptr, Sub(IDC_PTV_CONNECTIONS));
    EXPECT_EQ(0, SendMessageW(Sub(IDC_PTV_CONNECTIONS), LB_GETCOUNT, 0, 0)) << "no link, no peers";
    TypeAndLeave(Sub(IDC_PTV_LOCAL_PORT), L"70000", page->Item(IDC_PTV_NVT));
    EXPECT_EQ(1000, Doc().Portavo().port) << "not cut to 4464";
    TypeAndLeave(Sub(IDC_PTV_LOCAL_PORT), L"4464", page->Item(IDC_PTV_NVT));
    TypeAndLeave(Sub(IDC_PTV_MAX_CONNECTIONS), L"2", page->Item(IDC_PTV_NVT));
    EXPECT_EQ(4464, Doc().Portavo().port);
    EXPECT_EQ(2, Doc().Portavo().maxConnections);

    SendMessageW(page->page->m_hWnd, WM_COMMAND, ID_PAGE_DEFAULT, 0);
    EXPECT_EQ(PORTAVO_CLIENT, Doc().Portavo().mode);
    EXPECT_EQ(1000, Doc().Portavo().port);
    EXPECT_TRUE(Radio(IDC_PTV_CLIENT));
}
