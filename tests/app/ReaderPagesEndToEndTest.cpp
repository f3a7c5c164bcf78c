// The reader page and the reading keys page in the running program: their controls change what
// the connected reader and the transfer do.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "framework/PrivateMessages.h"
#include "pages/options/KeyFiltersDialog.h"
#include "pages/source/ReadKeysPage.h"
#include "reader/Reader.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TransferTestSupport.h"
#include "tools/readersim/ReaderSim.h"

namespace {

const char kKeyA[] = "Em-Marine[0055] 085,12345";  // first byte 0x39: "57"
const char kKeyB[] = "Em-Marine[0011] 017,00042";  // first byte 0x2A: "42"
const char kKeyHid[] = "HID[0A0B0C] 12345,0";         // first byte 0x0A: "10"

// A drop-down entry chosen the way the user does: the selection, then CBN_SELCHANGE.
void ChooseComboEntry(HWND dialog, int id, int index)
{
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class ReaderPagesEndToEndTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(kStartContinue, Start());
        CTransferDoc& doc = Doc();
        doc.SetReceiveTimeout(400);
        doc.SetMaxTries(1);
        doc.SetConnectTimeout(2000);
        doc.SetConnectPeriod(300);
        _KV_FORMAT format;
        format.name = L"First";
        format.templ = L"%d";
        format.params = L"x[0]";
        doc.SetDefaultFormatId(doc.GetFormats()[doc.AddFormat(format)]->id);
        doc.SetDestination(L"", DEST_CLIPBOARD);
        const uint16_t port = sim.ListenTcp();
        ASSERT_NE(0, port);
        doc.SetSource(L"127.0.0.1:" + std::to_wstring(port), SOURCE_READER);
        ASSERT_TRUE(App().StartTransfer(false));
        ASSERT_TRUE(PumpUntil([] { return App().GetReader() && App().GetReader()->GetState() == RDST_CONNECTED; }));
    }
    void TearDown() override
    {
        App().StopTransfer();
        AppTest::TearDown();
    }

    static CTransferDoc& Doc() { return App().GetSettings().GetTransferDoc(); }
    static int Counter() { return App().GetSettings().GetLastTransfer().counter; }
    CBasePage* ShowPage(int id)
    {
        EXPECT_TRUE(App().ShowPage(id));
        return Frame()->GetPage(id);
    }
    int Queries() const { return transfer_test::CountOf(sim.ReceivedText(), "i"); }

    CReaderSim sim;
};

} // namespace

TEST_F(ReaderPagesEndToEndTest, AnotherModelReconnectsTheReaderAndASpeedDoesNot)
{
    CBasePage* page = ShowPage(PAGE_READER);
    ASSERT_TRUE(page && page->m_hWnd);
    ASSERT_EQ(1, Queries());
    // The speed first: had it reconnected, the model's reconnection would make a third query.
    ChooseComboEntry(page->m_hWnd, IDC_READER_SPEED, 2);
    EXPECT_EQ(19200u, Doc().reader.speed);
    ChooseComboEntry(page->m_hWnd, IDC_READER_MODEL, 1);
    ASSERT_TRUE(PumpUntil([&] { return Queries() >= 2 && App().GetReader()->GetState() == RDST_CONNECTED; }));
    sim.PresentKey(kKeyA);
    ASSERT_TRUE(PumpUntil([] { return Counter() == 1; }));
    EXPECT_EQ(2, Queries());
}

TEST_F(ReaderPagesEndToEndTest, PassToKeyListSendsTheNextKeyIntoTheList)
{
    CBasePage* page = ShowPage(PAGE_READER);
    ASSERT_TRUE(page && page->m_hWnd);
    SendDlgItemMessageW(page->m_hWnd, IDC_READER_TO_KEYLIST, BM_CLICK, 0, 0);
    ASSERT_NE(0u, Doc().reader.flags & READER_TO_KEYLIST);
    sim.PresentKey(kKeyA);
    ASSERT_TRUE(PumpUntil([] { return Doc().GetKeys().size() == 1; }));
    EXPECT_EQ(0, Counter());
}

TEST_F(ReaderPagesEndToEndTest, UntickedEmMarineStopsItsKeysAndCheckAllRestoresThem)
{
    auto* page = static_cast<CReadKeysPage*>(ShowPage(PAGE_READ_KEYS));
    ASSERT_TRUE(page && page->m_hWnd);
    CBasePage* general = page->GetSubPage(0);
    ASSERT_TRUE(general);
    HWND list = GetDlgItem(general->m_hWnd, IDC_KEY_TYPES_LIST);
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
    SetFocus(list);
    SendMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
    ASSERT_EQ(kAllKeyTypes & ~0x2u, Doc().readKeys.keyTypes);

    // Keys come in order: once the HID key is through, the Em-Marine key before it was dropped.
    sim.PresentKey(kKeyA);
    sim.PresentKey(kKeyHid);
    ASSERT_TRUE(PumpUntil([] { return Counter() >= 1; }));
    EXPECT_EQ(L"10", transfer_test::ClipboardText());
    EXPECT_EQ(1, Counter());

    SendMessageW(general->m_hWnd, WM_COMMAND, ID_CHECK_ALL, 0);
    ASSERT_EQ(kAllKeyTypes, Doc().readKeys.keyTypes);
    sim.PresentKey(kKeyB);
    ASSERT_TRUE(PumpUntil([] { return Counter() >= 2; }));
    EXPECT_EQ(L"42", transfer_test::ClipboardText());
}

TEST_F(ReaderPagesEndToEndTest, TheKeyFiltersOrderDecidesTheFormatOfTheNextKey)
{
    CTransferDoc& doc = Doc();
    _KV_FORMAT format;
    format.params = L"x[0]";
    format.name = L"Letter A";
    format.templ = L"A%d";
    const uint32_t a = doc.GetFormats()[doc.AddFormat(format)]->id;
    format.name = L"Letter B";
    format.templ = L"B%d";
    const uint32_t b = doc.GetFormats()[doc.AddFormat(format)]->id;
    KeyFilter any, five;
    any.id = 1;
    any.name = L"Em-Marine";
    any.keyTypes = 0x2;
    any.formatId = a;
    five = any;
    five.id = 2;
    five.name = L"Em-Marine 5";
    five.keySize = 5;
    five.formatId = b;
    doc.KeyFilters() = {any, five};
    doc.KeyFiltersChanged(false);
    sim.PresentKey(kKeyA);
    ASSERT_TRUE(PumpUntil([] { return Counter() == 1; }));
    EXPECT_EQ(L"A57", transfer_test::ClipboardText());

    CKeyFiltersDialog dialog(App());
    ASSERT_TRUE(dialog.CreateDialogWindow(FrameWindow()));
    HWND list = GetDlgItem(dialog.m_hWnd, IDC_KF_LIST);
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
    SendMessageW(dialog.m_hWnd, WM_KICKIDLE, 0, 0);
    for (int id : {IDC_KF_MOVE_UP, IDC_KF_APPLY}) {
        HWND button = GetDlgItem(dialog.m_hWnd, id);
        SendMessageW(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
    dialog.Destroy();

    sim.PresentKey(kKeyB);
    ASSERT_TRUE(PumpUntil([] { return Counter() == 2; }));
    EXPECT_EQ(L"B42", transfer_test::ClipboardText());
}
