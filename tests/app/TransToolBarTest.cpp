// The transfer toolbar in the program's window: where the panels go, the Start/Stop/Restart
// states, what its source, format and destination controls store and show, the rich tips with
// their links, and the Transfer page beside it.
#include <winsock2.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "app/MainFrame.h"
#include "config/TransferDoc.h"
#include "pages/options/TransferPage.h"
#include "reader/ReaderModels.h"
#include "tests/app/AppTestSupport.h"
#include "reader/Reader.h"
#include "tests/support/WindowPicture.h"
#include "tools/readersim/ReaderSim.h"

namespace {

constexpr uint32_t kAllPanels = PANEL_PAGELIST | PANEL_STATUSBAR | PANEL_TOOLBAR | PANEL_HEADER;

class TransToolBar : public AppTest
{
protected:
    void StartWithAll()
    {
        ASSERT_EQ(kStartContinue, Start());
        App().GetSettings().SetPanels(kAllPanels);
        ASSERT_TRUE(Frame()->TransToolBar());
        bar = Frame()->TransToolBar();
    }
    CTransferDoc& Doc() { return App().GetSettings().GetTransferDoc(); }
    RECT RectIn(HWND child) const
    {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, FrameWindow(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    bool Enabled(int id) { return SendMessageW(bar->m_hWnd, TB_ISBUTTONENABLED, id, 0) != 0; }
    void Readers(std::vector<KnownReader> list)
    {
        CDocUpdateScope scope(App().GetSettings());
        *App().GetSettings().EditKnownReaders() = std::move(list);
    }
    HWND SourceEdit() { return reinterpret_cast<HWND>(SendMessageW(bar->SourceCombo(), CBEM_GETEDITCONTROL, 0, 0)); }
    void TypeAndEnter(const wchar_t* text)
    {
        HWND edit = SourceEdit();
        SetWindowTextW(edit, text);
        SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
        PumpWaitingMessages();
    }
    void Choose(HWND combo, int index)
    {
        SendMessageW(combo, CB_SETCURSEL, index, 0);
        SendMessageW(bar->m_hWnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
    }
    int Image(HWND combo, int index)
    {
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_IMAGE;
        item.iItem = index;
        SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
    std::wstring Text(HWND hwnd)
    {
        std::wstring s;
        GetWindowString(hwnd, s);
        return s;
    }
    std::wstring TipText()
    {
        std::wstring s = Text(Frame()->RichTip().GetRichEdit().m_hWnd);
        return s;
    }
    static UINT_PTR Tool(int index, int control) { return (static_cast<UINT_PTR>(index) << 16) | control; }

    CTransToolBar* bar = nullptr;
};

KnownReader Reader(const wchar_t* name, int kind, int model, int serial, int firmware, const wchar_t* text = L"")
{
    KnownReader r;
    r.name = name;
    r.kind = kind;
    r.model = model;
    r.serial = serial;
    r.firmware = firmware;
    r.versionText = text;
    return r;
}

TEST_F(TransToolBar, PanelsLayoutAndTransferButtons)
{
    StartWithAll();
    HWND frame = FrameWindow();
    RECT client;
    GetClientRect(frame, &client);
    const RECT top = RectIn(bar->m_hWnd), list = RectIn(Frame()->PageListBar()->m_hWnd),
               header = RectIn(GetDlgItem(frame, IDC_PAGE_HEADER)), status = RectIn(GetDlgItem(frame, IDC_STATUS_BAR));
    EXPECT_EQ(0, top.top);
    EXPECT_EQ(client.right, top.right - top.left);
    EXPECT_EQ(top.bottom, list.top);
    EXPECT_EQ(status.top, list.bottom);
    EXPECT_EQ(list.right, header.left);
    EXPECT_EQ(top.bottom, header.top);
    CBasePage* page = Frame()->GetCurrentPageObject();
    ASSERT_TRUE(page);
    EXPECT_EQ(header.bottom, RectIn(page->m_hWnd).top);

    // Start only while stopped, Stop and Restart only while running.
    EXPECT_TRUE(Enabled(ID_TRANSFER_START));
    EXPECT_FALSE(Enabled(ID_TRANSFER_STOP));
    EXPECT_FALSE(Enabled(ID_TRANSFER_RESTART));
    {
        CDocUpdateScope scope(App().GetSettings());
        App().GetSettings().SetTransferEnabled(true);
    }
    Frame()->IdleUpdate();
    EXPECT_FALSE(Enabled(ID_TRANSFER_START));
    EXPECT_TRUE(Enabled(ID_TRANSFER_STOP));
    EXPECT_TRUE(Enabled(ID_TRANSFER_RESTART));

    PumpWaitingMessages();
    const CWindowPicture picture(frame, L"MainWindowPanels.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const RECT face = ClientRectInWindowPicture(frame, bar->m_hWnd);
    EXPECT_GE(picture.InkPixels(face, picture.Dominant(face)), 200) << "buttons, lists and arrows";

    // 32941 and 32923 take their panels away and bring them back; the layout follows.
    SendMessageW(frame, WM_COMMAND, ID_VIEW_TOOLBAR, 0);
    EXPECT_FALSE(Frame()->TransToolBar());
    EXPECT_EQ(0, RectIn(Frame()->PageListBar()->m_hWnd).top);
    SendMessageW(frame, WM_COMMAND, ID_VIEW_PAGELIST, 0);
    EXPECT_FALSE(Frame()->PageListBar());
    EXPECT_EQ(0, RectIn(GetDlgItem(frame, IDC_PAGE_HEADER)).left);
    SendMessageW(frame, WM_COMMAND, ID_VIEW_TOOLBAR, 0);
    SendMessageW(frame, WM_COMMAND, ID_VIEW_PAGELIST, 0);
    ASSERT_TRUE(Frame()->TransToolBar() && Frame()->PageListBar());
    EXPECT_EQ(RectIn(Frame()->TransToolBar()->m_hWnd).bottom, RectIn(Frame()->PageListBar()->m_hWnd).top);
    EXPECT_EQ(kAllPanels, App().GetSettings().GetPanels());
}

TEST_F(TransToolBar, SourceListStoresWhatIsTypedOrChosen)
{
    StartWithAll();
    Readers({});
    HWND source = bar->SourceCombo();
    ASSERT_EQ(1, SendMessageW(source, CB_GETCOUNT, 0, 0));

    Readers({Reader(L"COM3", 1, 1, 0, -1), Reader(L"10.0.0.5:1000", 3, 0, 0, -1)});
    ASSERT_EQ(3, SendMessageW(source, CB_GETCOUNT, 0, 0));
    const struct {
        const wchar_t* typed;
        const wchar_t* value;
        int32_t kind;
    } rows[] = {
        {L"com3", L"COM3", SOURCE_READER},  // serial names upper-cased
        {L"COM3    Vell-4 USB", L"COM3", SOURCE_READER},
        {L"10.0.0.9:2000", L"10.0.0.9:2000", SOURCE_READER},
        {L"List of keys", L"", SOURCE_KEYLIST},
    };
    for (const auto& row : rows) {
        TypeAndEnter(row.typed);
        EXPECT_EQ(row.value, Doc().GetSourceValue()) << row.typed;
        EXPECT_EQ(row.kind, Doc().GetSourceKind()) << row.typed;
    }
    Choose(source, 1);
    EXPECT_EQ(L"10.0.0.5:1000", Doc().GetSourceValue());
    Choose(source, 2);
    EXPECT_EQ(SOURCE_KEYLIST, Doc().GetSourceKind());

    // The reader's item shows the active image only while its reader is connected.
    Choose(source, 0);
    const struct {
        int state;
        int image;
    } states[] = {{0, 0}, {1, 1}, {2, 0}, {0, 0}};
    for (const auto& s : states) {
        {
            CDocUpdateScope scope(Doc());
            Doc().SetSourceState(s.state);
        }
        EXPECT_EQ(s.image, Image(source, 0)) << s.state;
        EXPECT_EQ(8, Image(source, 2));
    }
}

TEST_F(TransToolBar, FormatButtonAndDestination)
{
    StartWithAll();
    CTransferDoc& doc = Doc();
    uint32_t ids[2] = {};
    {
        CDocUpdateScope scope(doc);
        doc.KeyFilters().clear();
        doc.SetDefaultFormatId(0);
        doc.KeyFiltersChanged(false);
        for (int i = 0; i < 2; ++i) {
            _KV_FORMAT format;
            format.name = i ? L"\nWiegand 26" : L"Plain";
            format.templ = L"%d";
            ids[i] = doc.GetFormats()[doc.AddFormat(format)]->id;
        }
    }
    EXPECT_EQ(L"Not chosen", Text(bar->FormatButton()));
    const struct {
        std::vector<uint32_t> filterFormats;
        uint32_t defaultId;
        const wchar_t* text;
    } rows[] = {
        {{ids[1]}, 0, L"[P] Wiegand 26"},
        {{ids[0], ids[1]}, 0, L"Several 2"},
        {{ids[0], ids[0]}, ids[0], L"Plain"},
        {{}, ids[1], L"[P] Wiegand 26"},
        {{}, 0, L"Not chosen"},
    };
    for (const auto& row : rows) {
        {
            CDocUpdateScope scope(doc);
            doc.KeyFilters().clear();
            uint32_t id = 1;
            for (uint32_t format : row.filterFormats)
                doc.KeyFilters().push_back(KeyFilter{id++, L"f", 1u << 4, 0, KEYFILTER_VISIBLE, format});
            doc.KeyFiltersChanged(false);
            doc.SetDefaultFormatId(row.defaultId);
        }
        EXPECT_EQ(row.text, Text(bar->FormatButton()));
    }
    SendMessageW(bar->m_hWnd, WM_COMMAND, MAKEWPARAM(ID_PAGE_FORMATS, BN_CLICKED),
                 reinterpret_cast<LPARAM>(bar->FormatButton()));
    EXPECT_EQ(PAGE_FORMATS, App().GetSettings().GetCurrentPage());

    {
        CDocUpdateScope scope(doc);
        doc.SetPortavoType(PORTAVO_SERVER);
        doc.SetPortavoServer(2101, 4);
    }
    Choose(bar->DestinationCombo(), 2);
    EXPECT_EQ(DEST_PORTAVO, doc.GetDestinationType());
    EXPECT_EQ(L"2101", doc.GetDestinationText());
    Choose(bar->DestinationCombo(), 1);
    EXPECT_EQ(DEST_CLIPBOARD, doc.GetDestinationType());
}

TEST_F(TransToolBar, ReaderTipShowsOnlyWhatWasToldAndPlantsNoMarkup)
{
    StartWithAll();
    Readers({Reader(L"COM3", 1, 1, 0, -1), Reader(L"<a href=\"config\">COM9</a>", 1, 1, 4711, 0x04030201,
                                                        L"<font effects=01>Vell</font>")});
    const uint32_t mask = ReaderKeyTypeMask(1, 0x04030201, false);
    ASSERT_NE(0u, mask);
    int left = 0;
    while (!(mask & (1u << left)))
        ++left;
    {
        CDocUpdateScope scope(Doc());
        Doc().SetReadKeyTypes(kAllKeyTypes & ~(1u << left));
    }
    CRichTip& tip = Frame()->RichTip();
    ASSERT_TRUE(bar->FillTip(Tool(0, IDC_TRANS_SOURCE)));
    const std::wstring never = TipText();
    EXPECT_NE(std::wstring::npos, never.find(L"Port: COM3"));
    EXPECT_EQ(std::wstring::npos, never.find(L"S/n: 0")) << never;
    EXPECT_EQ(std::wstring::npos, never.find(L"255.255")) << never;
    EXPECT_NE(std::wstring::npos, never.find(L"Disconnected"));
    EXPECT_EQ(3u, tip.GetLinks().size());

    ASSERT_TRUE(bar->FillTip(Tool(1, IDC_TRANS_SOURCE)));
    const std::wstring told = TipText();
    EXPECT_NE(std::wstring::npos, told.find(L"<a href=\"config\">COM9</a>")) << told;
    EXPECT_NE(std::wstring::npos, told.find(L"<font effects=01>Vell</font>")) << told;
    EXPECT_NE(std::wstring::npos, told.find(L"S/n: 4711"));
    EXPECT_NE(std::wstring::npos, told.find(L"Firmware: 1.2.3.4"));
    EXPECT_EQ(3u, tip.GetLinks().size()) << "the port's name planted no link";

    // Key types the transfer leaves out are struck through.
    App().LoadKeyTypeNames();
    const std::wstring first = App().GetKeyTypeNames()[left];
    const size_t at = told.find(L"Keys: ");
    ASSERT_NE(std::wstring::npos, at);
    CRichEditCtrl& edit = tip.GetRichEdit();
    auto struck = [&](size_t position) {
        edit.SetSel(static_cast<LONG>(position), static_cast<LONG>(position) + 1);
        CHARFORMAT2W format{};
        format.cbSize = sizeof(format);
        SendMessageW(edit.m_hWnd, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        return (format.dwEffects & CFE_STRIKEOUT) != 0;
    };
    const size_t name = told.find(first, at);
    ASSERT_NE(std::wstring::npos, name);
    // Positions of the rich edit count a paragraph end as one character, as GetWindowText does not.
    const LONG base = static_cast<LONG>(std::count(told.begin(), told.begin() + name, L'\n'));
    EXPECT_TRUE(struck(name - base));
    EXPECT_FALSE(struck(at - static_cast<LONG>(std::count(told.begin(), told.begin() + at, L'\n'))));

    // "config" shows the reader page.
    bar->OnTipLink(L"config");
    EXPECT_EQ(PAGE_READER, App().GetSettings().GetCurrentPage());
    ASSERT_TRUE(bar->FillTip(Tool(2, IDC_TRANS_SOURCE)));
    bar->OnTipLink(L"config");
    EXPECT_EQ(PAGE_KEY_LIST, App().GetSettings().GetCurrentPage());
}

TEST_F(TransToolBar, DestinationTipsAndTheirLinks)
{
    StartWithAll();
    const struct {
        int index;
        const wchar_t* shows;
        int page;
    } rows[] = {{0, L"Keyboard emulation", PAGE_KEYBOARD}, {1, L"Copy to Clipboard", -1},
                {2, L"Server 2101", PAGE_PORTAVO}};
    {
        CDocUpdateScope scope(Doc());
        Doc().SetPortavoType(PORTAVO_SERVER);
        Doc().SetPortavoServer(2101, 4);
    }
    for (const auto& row : rows) {
        ASSERT_TRUE(bar->FillTip(Tool(row.index, IDC_TRANS_DESTINATION)));
        EXPECT_NE(std::wstring::npos, TipText().find(row.shows)) << TipText();
        if (row.page >= 0) {
            App().GetSettings().SetCurrentPage(PAGE_TRANSFER);
            bar->OnTipLink(L"config");
            EXPECT_EQ(row.page, App().GetSettings().GetCurrentPage());
        }
    }
    // The bridge program is not installed here: the link says so.
    ASSERT_TRUE(BridgeProgramPath().empty() || GetFileAttributesW(BridgeProgramPath().c_str()) == INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(bar->FillTip(Tool(2, IDC_TRANS_DESTINATION)));
    bool told = false;
    CBoxRobot robot([](HWND d) { return HasText(d, L"The program Portavo is not found."); },
                    [&](HWND d) {
                        told = true;
                        PressButton(d, IDOK);
                    });
    bar->OnTipLink(L"portavo");
    robot.Join();
    EXPECT_TRUE(told);

    ASSERT_TRUE(bar->FillTip(Tool(0, ID_PAGE_FORMATS)));
    EXPECT_NE(std::wstring::npos, TipText().find(L"Default"));
    bar->OnTipLink(L"config");
    EXPECT_EQ(PAGE_FORMATS, App().GetSettings().GetCurrentPage());
}

// The tip of a simulated reader while it is connected, and its "reconnect" link.
TEST_F(TransToolBar, ConnectedReaderTipAndReconnect)
{
    StartWithAll();
    CReaderSim sim;
    const uint16_t port = sim.ListenTcp();
    ASSERT_NE(0, port);
    const std::wstring name = L"127.0.0.1:" + std::to_wstring(port);
    {
        CDocUpdateScope scope(Doc());
        Doc().SetSource(name, SOURCE_READER);
        Doc().SetDestination(L"", DEST_CLIPBOARD);
    }
    ASSERT_TRUE(App().StartTransfer(false));
    ASSERT_TRUE(PumpUntil([] { return App().GetReader() && App().GetReader()->GetStatus().model != 0 &&
                                      App().GetReader()->GetState() == RDST_CONNECTED; }));
    ASSERT_TRUE(bar->FillTip(Tool(0xFFFF, IDC_TRANS_SOURCE)));
    const std::wstring tip = TipText();
    const ReaderStatus status = App().GetReader()->GetStatus();
    EXPECT_NE(std::wstring::npos, tip.find(L"Port: " + name)) << tip;
    EXPECT_NE(std::wstring::npos, tip.find(L"Model: " + std::wstring(ReaderModelName(status.model)))) << tip;
    EXPECT_NE(std::wstring::npos, tip.find(L"Status: Connected")) << tip;
    EXPECT_EQ(status.serial != 0 && status.serial != -1,
              tip.find(L"S/n: " + std::to_wstring(status.serial)) != std::wstring::npos) << tip;

    const int peers = sim.PeerCount();
    bar->OnTipLink(L"reconnect");
    EXPECT_TRUE(PumpUntil([&] { return sim.PeerCount() > peers; })) << "a new connection";
    App().StopTransfer();
}

// A change on the page reaches the toolbar, and one on the toolbar the page.
TEST_F(TransToolBar, PageAndToolbarFollowEachOther)
{
    StartWithAll();
    Readers({Reader(L"COM3", 1, 1, 0, -1)});
    App().GetSettings().SetCurrentPage(PAGE_TRANSFER);
    CBasePage* page = Frame()->GetCurrentPageObject();
    ASSERT_TRUE(page);
    HWND pageBox = GetDlgItem(page->m_hWnd, IDC_TP_SOURCE);
    COMBOBOXINFO info{sizeof(info)};
    ASSERT_TRUE(GetComboBoxInfo(pageBox, &info));
    SetWindowTextW(info.hwndItem, L"COM7");
    SendMessageW(info.hwndItem, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(L"COM7", Text(SourceEdit()));

    TypeAndEnter(L"com3");
    EXPECT_EQ(L"COM3    Vell-4 USB", Text(info.hwndItem));
    EXPECT_EQ(L"COM3    Vell-4 USB", Text(SourceEdit()));

    SendMessageW(page->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_TP_METHOD_FIRST + 1, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(page->m_hWnd, IDC_TP_METHOD_FIRST + 1)));
    EXPECT_EQ(1, SendMessageW(bar->DestinationCombo(), CB_GETCURSEL, 0, 0));
    Choose(bar->DestinationCombo(), 4);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page->m_hWnd, IDC_TP_METHOD_LAST));
}

// The Transfer page in the program's window after a transfer to the clipboard.
TEST_F(TransToolBar, TransferPagePicture)
{
    StartWithAll();
    App().GetSettings().SetCurrentPage(PAGE_TRANSFER);
    {
        CDocUpdateScope scope(Doc());
        Doc().SetDestination(L"", DEST_CLIPBOARD);
    }
    _KEY_NUMBER key{};
    key.length = 5;
    for (int i = 0; i < 5; ++i)
        key.bytes[i] = static_cast<uint8_t>(0x11 * (i + 1));
    {
        CDocUpdateScope scope(App().GetSettings());
        App().GetSettings().SetTransferEnabled(true);
    }
    App().TransferKey(4, key, 0);
    CBasePage* page = Frame()->GetCurrentPageObject();
    ASSERT_TRUE(page);
    const _LAST_TRANSFER& last = App().GetSettings().GetLastTransfer();
    ASSERT_NE(0, last.time.GetTime());
    std::wstring time;
    last.time.Format(L"%x %X", time);
    EXPECT_EQ(time, Text(GetDlgItem(page->m_hWnd, IDC_TP_TIME)));
    App().LoadKeyTypeNames();
    EXPECT_EQ(App().GetKeyTypeNames()[4] + L" [5544332211] 051,08721", Text(GetDlgItem(page->m_hWnd, IDC_TP_KEY)));
    EXPECT_EQ(last.transferred, Text(GetDlgItem(page->m_hWnd, IDC_TP_TRANSFERRED)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(page->m_hWnd, IDC_TP_WHERE))) << "no Where line for the clipboard";

    HWND frame = FrameWindow();
    PumpWaitingMessages();
    const CWindowPicture picture(frame, L"TransferPage.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const RECT grid = ClientRectInWindowPicture(frame, GetDlgItem(page->m_hWnd, IDC_TP_BYTES));
    RECT header = grid, bytes = grid;
    header.bottom = header.top + 18;
    bytes.top = header.bottom + 2;  // under the header's line
    bytes.bottom = bytes.top + 15;
    RECT filled = bytes, empty = bytes;
    filled.right = filled.left + 5 * 18;
    empty.left = filled.right + 2;
    empty.right = empty.left + 8 * 18;
    const COLORREF field = GetSysColor(COLOR_WINDOW);
    EXPECT_GE(picture.InkPixels(header, GetSysColor(COLOR_BTNFACE)), 16 * 8) << "the header's digits";
    EXPECT_GE(picture.InkPixels(filled, field), 5 * 10) << "five bytes";
    EXPECT_EQ(0, picture.InkPixels(empty, field)) << "no cells past the key";
    const RECT keyField = ClientRectInWindowPicture(frame, GetDlgItem(page->m_hWnd, IDC_TP_KEY));
    EXPECT_GE(picture.InkPixels(keyField, picture.Dominant(keyField)), 60);
}

} // namespace

// The page toolbar keeps the top right corner: over the transfer toolbar while that is shown,
// else on the header, whose colour it takes; either way no box of another colour frames its
// buttons.
TEST_F(TransToolBar, PageToolbarSitsInTheTopRightCornerOnTheBandBelowIt)
{
    StartWithAll();
    HWND frame = FrameWindow();
    HWND toolbar = GetDlgItem(frame, IDC_PAGE_TOOLBAR);
    const struct {
        uint32_t panels;
        const wchar_t* picture;
    } states[] = {
        {kAllPanels, L"PageToolbarOnTransferToolbar.bmp"},
        {kAllPanels & ~PANEL_TOOLBAR, L"PageToolbarOnHeader.bmp"},
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.picture);
        App().GetSettings().SetPanels(s.panels);
        HWND band = Frame()->TransToolBar() ? Frame()->TransToolBar()->m_hWnd : GetDlgItem(frame, IDC_PAGE_HEADER);
        ASSERT_TRUE(band);
        RECT client;
        GetClientRect(frame, &client);
        const RECT r = RectIn(toolbar), b = RectIn(band);
        EXPECT_TRUE(IsWindowVisible(toolbar));
        EXPECT_EQ(client.right - 1, r.right);
        EXPECT_EQ(1, r.top);
        EXPECT_LE(r.bottom, b.bottom) << "within the band";
        EXPECT_GE(r.left, b.left);

        PumpWaitingMessages();
        const CWindowPicture picture(frame, s.picture);
        ASSERT_TRUE(picture.Ok()) << picture.Problem();
        const RECT face = ClientRectInWindowPicture(frame, toolbar);
        const COLORREF bandColor = picture.Dominant(RECT{face.left - 12, face.top, face.left - 2, face.bottom});
        if (!Frame()->TransToolBar())
            EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), bandColor);
        // The toolbar's edge, all round, is the band's colour: a box would take the whole edge;
        // the last button's image touches it with a pixel or two.
        const RECT edges[] = {{face.left, face.top, face.right, face.top + 1},
                              {face.left, face.bottom - 1, face.right, face.bottom},
                              {face.left, face.top + 1, face.left + 1, face.bottom - 1},
                              {face.right - 1, face.top + 1, face.right, face.bottom - 1}};
        int edge = 0, banded = 0;
        for (const RECT& e : edges) {
            edge += (e.right - e.left) * (e.bottom - e.top);
            banded += picture.Count(e, bandColor);
        }
        EXPECT_GE(banded, edge - 4) << edge;
        EXPECT_GE(picture.InkPixels(face, bandColor), 80) << "the buttons' images";
    }
}
