// "Transfer >>" on the key list page of the running application: the clipboard gets the selected
// row's text, and the selection moves down the rows the page shows.
#include <winsock2.h>

#include <gtest/gtest.h>
#include <commctrl.h>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/StartUp.h"
#include "pages/source/KeyListPage.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TransferTestSupport.h"

namespace {

constexpr int kEmMarine = 1;

class KeyListTransfer : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(kStartContinue, Start());
        CTransferDoc& doc = Doc();
        _KV_FORMAT format;
        format.name = L"First byte";
        format.templ = L"%d";
        format.params = L"x[0]";
        doc.SetDefaultFormatId(doc.GetFormats()[doc.AddFormat(format)]->id);
        doc.SetDestination(L"", DEST_CLIPBOARD);
        doc.SetReadKeyTypes(1u << kEmMarine);
    }
    void TearDown() override
    {
        App().StopTransfer();
        AppTest::TearDown();
    }
    static CTransferDoc& Doc() { return App().GetSettings().GetTransferDoc(); }
    static void AddKeys(int count, int transferredEvery = 0)
    {
        for (int i = 1; i <= count; ++i) {
            _KV_KEY key;
            key.keyType = kEmMarine;
            const uint8_t byte = static_cast<uint8_t>(i);
            key.keyNumber = MakeKeyNumber(&byte, 1);
            key.flags = transferredEvery && i % transferredEvery == 0 ? KVKEY_TRANSFERRED : 0;
            Doc().AddKey(key);
        }
    }
    void StartOnThePage()
    {
        Doc().SetSource(L"List of keys", SOURCE_KEYLIST);
        ASSERT_TRUE(App().StartTransfer(false));
        App().GetSettings().SetCurrentPage(PAGE_KEY_LIST);
        m_page = dynamic_cast<CKeyListPage*>(Frame()->GetPage(PAGE_KEY_LIST));
        ASSERT_TRUE(m_page);
        Frame()->IdleUpdate();
    }
    HWND List() const { return m_page->List().m_hWnd; }
    void PressTransfer()
    {
        HWND button = GetDlgItem(m_page->m_hWnd, ID_NEXT_KEY);
        ASSERT_TRUE(IsWindowEnabled(button));
        SendMessageW(button, BM_CLICK, 0, 0);
    }
    // The selected row's number text (hexadecimal view), or "" with none or several.
    std::wstring SelectedRowText() const
    {
        if (SendMessageW(List(), LVM_GETSELECTEDCOUNT, 0, 0) != 1)
            return L"";
        const int row = static_cast<int>(SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        wchar_t text[64] = {};
        LVITEMW item{};
        item.iSubItem = 2;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(List(), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        // Within the page of rows the list shows now.
        const int top = static_cast<int>(SendMessageW(List(), LVM_GETTOPINDEX, 0, 0));
        const int page = static_cast<int>(SendMessageW(List(), LVM_GETCOUNTPERPAGE, 0, 0));
        return row >= top && row < top + page ? text : L"<hidden row>";
    }

    CKeyListPage* m_page = nullptr;
};

} // namespace

TEST_F(KeyListTransfer, TransferButtonWalksTheShownRowsToTheEnd)
{
    AddKeys(40);
    ASSERT_NO_FATAL_FAILURE(StartOnThePage());
    EXPECT_EQ(L"01", SelectedRowText());
    EXPECT_EQ(L"40", Frame()->StatusText(3));
    for (int i = 1; i <= 40; ++i) {
        ASSERT_NO_FATAL_FAILURE(PressTransfer());
        EXPECT_EQ(std::to_wstring(i), transfer_test::ClipboardText());
        EXPECT_TRUE(Doc().GetKeys()[static_cast<size_t>(i - 1)]->flags & KVKEY_TRANSFERRED);
        if (i < 40) {
            // The next row is selected and scrolled into view, and the status bar counts down.
            wchar_t hex[8];
            swprintf(hex, 8, L"%.2X", i + 1);
            EXPECT_EQ(hex, SelectedRowText()) << i;
            EXPECT_EQ(std::to_wstring(40 - i), Frame()->StatusText(3));
        }
    }
    // Past the last row the source is no longer ready and the button waits.
    EXPECT_EQ(0, Doc().GetSourceState());
    m_page->OnIdleUpdate();
    Frame()->IdleUpdate();
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(m_page->m_hWnd, ID_NEXT_KEY)));
}

TEST_F(KeyListTransfer, HiddenRowsAreSkippedAndTransferredRowsVanish)
{
    // Every third key was transferred before; the filter hides transferred keys.
    AddKeys(9, 3);
    App().GetSettings().SetKeyListFilter(0x1 | 0x4);
    ASSERT_NO_FATAL_FAILURE(StartOnThePage());
    ASSERT_EQ(6, SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0));
    const std::vector<std::wstring> expected = {L"1", L"2", L"4", L"5", L"7", L"8"};
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NO_FATAL_FAILURE(PressTransfer());
        EXPECT_EQ(expected[i], transfer_test::ClipboardText());
        // The row goes as it is transferred; a hidden entry is never selected.
        EXPECT_EQ(static_cast<LRESULT>(5 - i), SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0));
        for (const KvKeyPtr& key : Doc().GetKeys())
            EXPECT_FALSE((key->flags & KVKEY_SELECTED) && (key->flags & KVKEY_TRANSFERRED)) << i;
    }
    EXPECT_EQ(0, Doc().GetSourceState());
}
