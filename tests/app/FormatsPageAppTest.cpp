// The formats page inside the running program: the frame's add-format command reaches the page's
// format dialog, and a template changed in that dialog renders the next key that a simulated
// reader on a serial pair sends, on the clipboard.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "pages/PageRegistry.h"
#include "pages/options/FormatsPage.h"
#include "reader/Reader.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TransferTestSupport.h"
#include "tests/support/PortPairs.h"
#include "tools/readersim/ReaderSim.h"

namespace {

const char kKeyA[] = "Em-Marine[0055] 085,12345";  // bytes 39 30 55 55 00
const char kKeyB[] = "Em-Marine[0011] 017,00042";  // bytes 2A 00 11 11 00

class FormatsPageApp : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(kStartContinue, Start());
        _KV_FORMAT format;
        format.name = L"First";
        format.templ = L"%d";
        format.params = L"x[0]";
        Doc().SetDefaultFormatId(Doc().GetFormats()[Doc().AddFormat(format)]->id);
        App().GetSettings().SetFormatsFilter(0);
        ASSERT_TRUE(App().ShowPage(PAGE_FORMATS));
        page = dynamic_cast<CFormatsPage*>(Frame()->GetPage(PAGE_FORMATS));
        ASSERT_TRUE(page && page->m_hWnd);
    }
    void TearDown() override
    {
        App().StopTransfer();
        sim.reset();
        AppTest::TearDown();
    }
    static CTransferDoc& Doc() { return App().GetSettings().GetTransferDoc(); }
    int RowOf(const std::wstring& name)
    {
        const auto& formats = Doc().GetFormats();
        for (size_t i = 0; i < formats.size(); ++i)
            if (formats[i]->name == name)
                return page->Data().RowOf(formats[i]);
        return -1;
    }
    // Types into the format dialog and presses OK, from a robot thread while the dialog runs.
    static std::unique_ptr<CBoxRobot> FillFormatDialog(const wchar_t* templ, const wchar_t* params)
    {
        return std::make_unique<CBoxRobot>([](HWND d) { return GetDlgItem(d, IDC_FORMAT_TEMPLATE) != nullptr; },
                                           [=](HWND d) {
                                               SendMessageW(GetDlgItem(d, IDC_FORMAT_TEMPLATE), WM_SETTEXT, 0,
                                                            reinterpret_cast<LPARAM>(templ));
                                               SendMessageW(GetDlgItem(d, IDC_FORMAT_PARAMS), WM_SETTEXT, 0,
                                                            reinterpret_cast<LPARAM>(params));
                                               PressButton(d, IDOK);
                                           });
    }

    CFormatsPage* page = nullptr;
    std::unique_ptr<CReaderSim> sim;
};

} // namespace

TEST_F(FormatsPageApp, FrameAddCommandAppendsAndSelectsTheFormat)
{
    // The first start brings the presets in beside "First": the new format comes after them all.
    const size_t before = Doc().GetFormats().size();
    auto robot = FillFormatDialog(L"%X", L"x[0]");
    SendMessageW(FrameWindow(), WM_COMMAND, MAKEWPARAM(ID_FORMAT_NEW, 0), 0);
    robot->Join();
    ASSERT_TRUE(robot->found);
    ASSERT_EQ(before + 1, Doc().GetFormats().size());
    EXPECT_EQ(L"Format", Doc().GetFormats().back()->name);
    EXPECT_EQ(L"%X", Doc().GetFormats().back()->templ);
    Frame()->IdleUpdate();
    std::vector<int> rows;
    page->Table().GetSelectedItems(rows);
    EXPECT_EQ(std::vector<int>{RowOf(L"Format")}, rows);
}

TEST_F(FormatsPageApp, ATemplateChangedInTheDialogRendersTheNextKey)
{
    NV_REQUIRE_SERIAL_PAIRS();
    const SerialPairInfo* pair = GetSerialPair(1);
    ASSERT_TRUE(pair);
    sim = std::make_unique<CReaderSim>();
    ASSERT_TRUE(sim->OpenCom(pair->farName));
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    Doc().SetSource(pair->nearName, SOURCE_READER);
    ASSERT_TRUE(App().StartTransfer(false));
    ASSERT_TRUE(PumpUntil([] { return App().GetReader() && App().GetReader()->GetState() == RDST_CONNECTED; }));
    sim->SendLine(kKeyA);
    ASSERT_TRUE(PumpUntil([] { return App().GetSettings().GetLastTransfer().counter == 1; }));
    EXPECT_EQ(L"57", transfer_test::ClipboardText());

    page->Table().SelectOnly(RowOf(L"First"), false);
    auto robot = FillFormatDialog(L"K%05d", L"x[1]*256+x[0]");
    SendMessageW(page->m_hWnd, WM_COMMAND, MAKEWPARAM(ID_FORMAT_EDIT, 0), 0);
    robot->Join();
    ASSERT_TRUE(robot->found);
    const auto& formats = Doc().GetFormats();
    const auto first = std::find_if(formats.begin(), formats.end(), [](const auto& f) { return f->name == L"First"; });
    ASSERT_NE(first, formats.end());
    EXPECT_EQ(L"K%05d", (*first)->templ);

    sim->SendLine(kKeyB);
    ASSERT_TRUE(PumpUntil([] { return App().GetSettings().GetLastTransfer().counter == 2; }));
    EXPECT_EQ(L"K00042", transfer_test::ClipboardText());
}

// "Format:" on the Transfer page shows the formats page on the last transfer's format, alone
// selected and focused, with half a page of rows after it when the list scrolled down to it.
TEST_F(FormatsPageApp, TransferPageFormatLabelSelectsTheLastTransfersFormat)
{
    for (int i = 0; i < 60; ++i) {
        _KV_FORMAT format;
        format.name = L"F" + std::to_wstring(100 + i);
        format.templ = L"%d";
        format.params = L"x[0]";
        Doc().AddFormat(format);
    }
    const auto& formats = Doc().GetFormats();
    const auto preset = std::find_if(formats.begin(), formats.end(), [](const auto& f) { return f->name[0] == L'\n'; });
    ASSERT_NE(preset, formats.end());
    const struct {
        std::wstring shown;  // as the transfer records it
        std::wstring name;   // as the format list holds it
    } cases[] = {{L"F150", L"F150"}, {L"[P] " + (*preset)->name.substr(1), (*preset)->name}};
    for (const auto& c : cases) {
        ASSERT_TRUE(App().ShowPage(PAGE_TRANSFER));
        Frame()->IdleUpdate();
        page->Table().SelectOnly(0, false);
        App().GetSettings().SetLastTransferInfo(CTimeValue(), 1, _KEY_NUMBER{}, 0, nullptr, 0, nullptr, c.shown.c_str(),
                                           nullptr, nullptr);
        HWND transfer = Frame()->GetPage(PAGE_TRANSFER)->m_hWnd;
        SendMessageW(transfer, WM_COMMAND, MAKEWPARAM(IDC_TP_FORMAT_LABEL, STN_DBLCLK),
                     reinterpret_cast<LPARAM>(GetDlgItem(transfer, IDC_TP_FORMAT_LABEL)));
        EXPECT_EQ(PAGE_FORMATS, Frame()->GetCurrentPage());
        const int row = RowOf(c.name);
        ASSERT_GE(row, 0) << c.shown;
        std::vector<int> rows;
        page->Table().GetSelectedItems(rows);
        EXPECT_EQ(std::vector<int>{row}, rows) << c.shown;
        HWND list = page->Table().m_hWnd;
        EXPECT_EQ(row, static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)));
        const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
        const int perPage = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
        const int count = page->Table().GetItemCount();
        EXPECT_TRUE(row >= top && row < top + perPage) << c.shown;
        if (row > perPage) {  // scrolled down to it: half a page follows
            EXPECT_GE(top + perPage - 1, std::min(row + perPage / 2, count - 1)) << c.shown;
        }
    }
}
