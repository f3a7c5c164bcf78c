// The Transfer page on real controls with a test host: what its source box, method radios,
// labels, buttons and byte grid store and show, and the texts of its last-transfer fields.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "config/TransferDoc.h"
#include "framework/WinApp.h"
#include "pages/options/TransferPage.h"
#include "resources/resource.h"
#include "tests/pages/options/FormatsTestSupport.h"
#include "tests/support/FakePageHost.h"

namespace {

KnownReader Reader(const wchar_t* name, int model, int serial, int firmware)
{
    KnownReader r;
    r.name = name;
    r.model = model;
    r.serial = serial;
    r.firmware = firmware;
    return r;
}

TEST(TransferPageTexts, SourceLinesShowOnlyWhatTheReaderTold)
{
    const std::wstring usb = L"COM3    Vell-4 USB";
    const struct {
        KnownReader reader;
        std::wstring line;
    } rows[] = {
        {Reader(L"COM3", 0, 1234, 0x04030201), L"COM3"},  // no model: nothing else either
        {Reader(L"COM3", 1, 0, -1), usb},                 // never identified: no " s/n 0 v255..."
        {Reader(L"COM3", 1, -1, 0), usb},
        {Reader(L"COM3", 1, 77, -1), usb + L" s/n 77"},
        {Reader(L"COM3", 1, 0, 0x04030201), usb + L" v1.2.3.4"},
        {Reader(L"COM3", 1, 77, 0x04030201), usb + L" s/n 77 v1.2.3.4"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.line, TransferSourceLine(row.reader)) << row.line;
}

TEST(TransferPageTexts, TypedSourceIsCutAtTheFirstFourBlanks)
{
    const struct {
        const wchar_t* typed;
        const wchar_t* port;
    } rows[] = {{L"COM5    x", L"COM5"}, {L"com3    Vell-4 USB    s", L"com3"}, {L"COM5   x", L"COM5   x"},
                {L"", L""}, {L"    x", L""}, {L"10.0.0.2:1000", L"10.0.0.2:1000"}};
    for (const auto& row : rows)
        EXPECT_EQ(row.port, CutPortName(row.typed)) << row.typed;
}

TEST(TransferPageTexts, LastTransferFields)
{
    _LAST_TRANSFER key;
    key.keyNumber.length = 3;
    key.keyNumber.bytes[0] = 0x39;
    key.keyNumber.bytes[1] = 0x30;
    key.keyNumber.bytes[2] = 0x7B;
    const std::wstring base = L"EM [7B3039] 123,12345";
    const struct {
        uint32_t extra;
        std::wstring text;
    } extras[] = {{0, base},
                  {0x01, base},                     // the card's own attribute shows nothing
                  {0x29, base + L"     SL2"},       // level known, level 2
                  {0x06, base + L"     X"},
                  {0x02, base + L"     S"},
                  {0x3E, base + L"     X SL3"}};
    for (const auto& row : extras) {
        key.keyExtra = row.extra;
        EXPECT_EQ(row.text, LastTransferKeyText(key, L"EM")) << row.extra;
    }
    _LAST_TRANSFER text;
    text.keyText = L"Connected COM3";
    EXPECT_EQ(L"<Connected COM3>", LastTransferKeyText(text, L"EM"));
    EXPECT_EQ(L"", LastTransferKeyText(_LAST_TRANSFER{}, L"EM"));

    const struct {
        int32_t code;
        std::wstring format, where;
    } results[] = {{0, L"Wiegand", L"Notepad"},
                   {static_cast<int32_t>(0x8004023E), L"<Format is not specified.>",
                    L"Notepad | Format is not specified."},
                   {static_cast<int32_t>(0x80004005), L"Wiegand", L"Notepad | Format is not specified."},
                   {5, L"Wiegand", L"Notepad"}};
    for (const auto& row : results) {
        _LAST_TRANSFER last;
        last.errorCode = row.code;
        last.formatName = L"Wiegand";
        last.where = L"Notepad";
        last.errorText = L"Format is not specified.";
        EXPECT_EQ(row.format, LastTransferFormatText(last)) << row.code;
        EXPECT_EQ(row.where, LastTransferWhereText(last)) << row.code;
    }
}

class TransferPage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Readers({Reader(L"COM3", 1, 0, -1), Reader(L"COM4", 0, 0, -1)});
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        frame = CreateWindowExW(0, L"Static", L"Transfer page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 700, 560,
                                nullptr, nullptr, nullptr, nullptr);
        page = std::make_unique<CTransferPage>(host);
        ASSERT_TRUE(page->CreateDialogWindow(frame));
        SetWindowPos(page->m_hWnd, nullptr, 0, 0, 680, 520, SWP_NOZORDER);
        ShowWindow(page->m_hWnd, SW_SHOWNORMAL);
        box = Item(IDC_TP_SOURCE);
        COMBOBOXINFO info{sizeof(info)};
        GetComboBoxInfo(box, &info);
        edit = info.hwndItem;
        watch = Doc().Observe(this, [](void* key, CDocument*, const uint32_t* bits) {
            static_cast<TransferPage*>(key)->heard.push_back(bits[0]);
        });
    }
    void TearDown() override
    {
        watch = CObserverToken();
        if (page)
            page->Destroy();
        DestroyWindow(frame);
    }
    void Readers(std::vector<KnownReader> list)
    {
        CDocUpdateScope scope(host.settings);
        *host.settings.EditKnownReaders() = std::move(list);
    }
    CTransferDoc& Doc() { return host.settings.GetTransferDoc(); }
    HWND Item(int id) { return GetDlgItem(page->m_hWnd, id); }
    std::wstring Text(HWND hwnd)
    {
        std::wstring s;
        GetWindowString(hwnd, s);
        return s;
    }
    void Notify(int id, int code) { SendMessageW(page->m_hWnd, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id))); }
    void TypeAndEnter(const wchar_t* text)
    {
        SetWindowTextW(edit, text);
        SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    }
    bool Visible(int id) { return IsWindowVisible(Item(id)) != FALSE; }

    CFakePageHost host;
    std::unique_ptr<CTransferPage> page;
    HWND frame = nullptr, box = nullptr, edit = nullptr;
    CObserverToken watch;
    std::vector<uint32_t> heard;
};

TEST_F(TransferPage, SourceBoxStoresWhatIsTypedOrChosen)
{
    ASSERT_EQ(3, SendMessageW(box, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(DLGC_WANTALLKEYS, SendMessageW(edit, WM_GETDLGCODE, VK_RETURN, 0) & DLGC_WANTALLKEYS);
    const struct {
        const wchar_t* typed;
        const wchar_t* value;
        int32_t kind;
    } rows[] = {
        {L"COM5    x", L"COM5", SOURCE_READER},
        {L"com7", L"com7", SOURCE_READER},  // stored as typed
        {L"", L"", SOURCE_NONE},
        {L"COM3    Vell-4 USB", L"COM3", SOURCE_READER},  // the known reader's own line
        {L"List of keys", L"", SOURCE_KEYLIST},
    };
    for (const auto& row : rows) {
        TypeAndEnter(row.typed);
        EXPECT_EQ(row.value, Doc().GetSourceValue()) << row.typed;
        EXPECT_EQ(row.kind, Doc().GetSourceKind()) << row.typed;
    }
    SendMessageW(box, CB_SETCURSEL, 1, 0);
    Notify(IDC_TP_SOURCE, CBN_SELCHANGE);
    EXPECT_EQ(L"COM4", Doc().GetSourceValue());
    // The page does not hear its own change: the typed text stays as it was typed.
    TypeAndEnter(L"COM9    spare");
    EXPECT_EQ(L"COM9    spare", Text(edit));
    EXPECT_FALSE(heard.empty());
    // Another's change reaches the box: a known reader with a model shows its whole line.
    {
        CDocUpdateScope scope(Doc());
        Doc().SetSource(L"COM3", SOURCE_READER);
    }
    EXPECT_EQ(L"COM3    Vell-4 USB", Text(edit));
    Notify(IDC_TP_SOURCE, CBN_DROPDOWN);
    EXPECT_EQ(L"StartReaderSearch", host.calls.back());
}

TEST_F(TransferPage, EnabledStartsAndStopsAndARefusedStartFocusesTheSource)
{
    host.transferResult = false;
    CheckDlgButton(page->m_hWnd, IDC_TP_ENABLED, BST_CHECKED);
    Notify(IDC_TP_ENABLED, BN_CLICKED);
    EXPECT_EQ(L"StartTransfer|1", host.calls.back());
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(page->m_hWnd, IDC_TP_ENABLED));
    EXPECT_TRUE(GetFocus() == edit || GetFocus() == box);

    {
        CDocUpdateScope scope(host.settings);
        host.settings.SetTransferEnabled(true);
    }
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page->m_hWnd, IDC_TP_ENABLED));
    Notify(IDC_TP_ENABLED, BN_CLICKED);
    EXPECT_EQ(L"RunFrameCommand|" + std::to_wstring(ID_TRANSFER_STOP), host.calls.back());
}

TEST_F(TransferPage, RadiosStoreTheirMethodAndShowWhereOnlyForSomeTypes)
{
    {
        CDocUpdateScope scope(Doc());
        Doc().SetPortavoType(PORTAVO_SERVER);
        Doc().SetPortavoServer(2101, 4);
    }
    const struct {
        int type;
        const wchar_t* text;
        bool where;
    } rows[] = {{2, L"", false}, {1, L"", true}, {3, L"2101", true}, {4, L"", false}, {5, L"", true}};
    for (const auto& row : rows) {
        Notify(IDC_TP_METHOD_FIRST + row.type - 1, BN_CLICKED);
        EXPECT_EQ(row.type, Doc().GetDestinationType());
        EXPECT_EQ(row.text, Doc().GetDestinationText()) << row.type;
        EXPECT_EQ(row.where, Visible(IDC_TP_WHERE)) << row.type;
        EXPECT_EQ(row.where, IsWindowVisible(GetWindow(Item(IDC_TP_WHERE), GW_HWNDPREV)) != FALSE);
    }
    // A change from elsewhere moves the radios.
    {
        CDocUpdateScope scope(Doc());
        Doc().SetDestination(L"", DEST_CLIPBOARD);
    }
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page->m_hWnd, IDC_TP_METHOD_FIRST + 1));
    EXPECT_FALSE(Visible(IDC_TP_WHERE));
}

TEST_F(TransferPage, DoubleClicksReachTheirPagesAndDialogs)
{
    {
        CDocUpdateScope scope(Doc());
        Doc().SetSource(L"", SOURCE_KEYLIST);
        Doc().SetDestination(L"", DEST_HTTP);
    }
    // A row either asks the host for a page or opens a destination's editor (known by a field
    // of its own), which is cancelled.
    const struct {
        int id, code;
        const wchar_t* call;
        int dialogField;
    } rows[] = {
        {IDC_TP_METHOD_FIRST, BN_DOUBLECLICKED, L"ShowPage|11", 0},
        {IDC_TP_METHOD_FIRST + 2, BN_DOUBLECLICKED, L"ShowPage|12", 0},
        {IDC_TP_METHOD_FIRST + 3, BN_DOUBLECLICKED, nullptr, IDC_CMD_PROGRAM},
        {IDC_TP_METHOD_FIRST + 4, BN_DOUBLECLICKED, nullptr, IDC_HTTP_ADDRESS},
        {IDC_TP_TIME_LABEL, STN_DBLCLK, L"ShowPage|1", 0},
        {IDC_TP_FORMAT_LABEL, STN_DBLCLK, L"ShowPage|20", 0},
        {IDC_TP_KEY_LABEL, STN_DBLCLK, L"ShowPage|4", 0},
        {IDC_TP_TRANSFERRED_LABEL, STN_DBLCLK, nullptr, IDC_HTTP_ADDRESS},
    };
    for (const auto& row : rows) {
        host.calls.clear();
        if (row.dialogField) {
            formats_test::CRobot robot([&](HWND d) { return GetDlgItem(d, row.dialogField) != nullptr; },
                         [](HWND d) { PostMessageW(d, WM_COMMAND, IDCANCEL, 0); });
            Notify(row.id, row.code);
            robot.Join();
            EXPECT_TRUE(robot.found) << row.id;
            continue;
        }
        Notify(row.id, row.code);
        ASSERT_EQ(1u, host.calls.size()) << row.id;
        EXPECT_EQ(row.call, host.calls[0]) << row.id;
    }
    // The clipboard has nothing to configure; neither has the first radio a single click's call.
    host.calls.clear();
    Notify(IDC_TP_METHOD_FIRST + 1, BN_DOUBLECLICKED);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(TransferPage, LastTransferFieldsCounterAndDefaults)
{
    _KEY_NUMBER key{};
    key.length = 3;
    key.bytes[0] = 0x39, key.bytes[1] = 0x30, key.bytes[2] = 0x7B;
    {
        CDocUpdateScope scope(host.settings);
        host.settings.SetLastTransferInfo(CTimeValue(1700000000), 4, key, 0, nullptr, -2147467259, L"Failed.",
                                          L"Wiegand", L"123,12345", L"Notepad");
        host.settings.SetTransferCounter(7);
    }
    std::wstring time;
    CTimeValue(1700000000).Format(L"%x %X", time);
    EXPECT_EQ(time, Text(Item(IDC_TP_TIME)));
    EXPECT_EQ(L"Cod433 (QM-100) [7B3039] 123,12345", Text(Item(IDC_TP_KEY)));
    EXPECT_EQ(L"Wiegand", Text(Item(IDC_TP_FORMAT)));
    EXPECT_EQ(L"123,12345", Text(Item(IDC_TP_TRANSFERRED)));
    EXPECT_EQ(L"Notepad | Failed.", Text(Item(IDC_TP_WHERE)));
    EXPECT_EQ(L"7", Text(Item(IDC_TP_COUNTER)));

    // The counter's own button zeroes it with the counter's state detail.
    uint32_t state = 0;
    CObserverToken counterWatch = host.settings.Observe(&state, [](void* key, CDocument* doc, const uint32_t* bits) {
        if (bits[0] & ASC_STATE)
            *static_cast<uint32_t*>(key) |= static_cast<CAppSettings*>(doc)->GetDetails().state;
    });
    HWND bar = Item(IDC_TP_COUNTER_BAR);
    SendMessageW(page->m_hWnd, WM_COMMAND, MAKEWPARAM(ID_RESET_COUNTER, BN_CLICKED), reinterpret_cast<LPARAM>(bar));
    EXPECT_EQ(0, host.settings.GetLastTransfer().counter);
    EXPECT_EQ(static_cast<uint32_t>(ASS_COUNTER), state & ASS_COUNTER);
    EXPECT_EQ(L"0", Text(Item(IDC_TP_COUNTER)));

    {
        CDocUpdateScope scope(Doc());
        Doc().SetSource(L"COM3", SOURCE_READER);
        Doc().SetDestination(L"", DEST_CMDLINE);
    }
    SendMessageW(page->m_hWnd, WM_COMMAND, ID_PAGE_DEFAULT, 0);
    EXPECT_EQ(SOURCE_NONE, Doc().GetSourceKind());
    EXPECT_EQ(DEST_KEYBOARD, Doc().GetDestinationType());
    EXPECT_EQ(0, host.settings.GetLastTransfer().time.GetTime());
    EXPECT_EQ(L"", Text(Item(IDC_TP_KEY)));
}

// The grid drawn into a bitmap of its own size: the header's 16 digits always, one hex pair a
// cell of the second row for the first 16 bytes of the key.
TEST_F(TransferPage, ByteGridShowsAtMostSixteenBytes)
{
    HWND grid = Item(IDC_TP_BYTES);
    RECT rc;
    GetClientRect(grid, &rc);
    auto inkPerCell = [&](int length) {
        _KEY_NUMBER key{};
        key.length = static_cast<uint8_t>(length);
        for (int i = 0; i < length; ++i)
            key.bytes[i] = static_cast<uint8_t>(0x88 + i);
        {
            CDocUpdateScope scope(host.settings);
            host.settings.SetLastTransferInfo(CTimeValue(1700000000), 4, key, 0, nullptr, 0, nullptr, nullptr,
                                              nullptr, nullptr);
        }
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, rc.right, rc.bottom);
        ReleaseDC(nullptr, screen);
        HGDIOBJ old = SelectObject(dc, bitmap);
        DRAWITEMSTRUCT item{ODT_STATIC, IDC_TP_BYTES, 0, ODA_DRAWENTIRE, 0, grid, dc, rc, 0};
        SendMessageW(page->m_hWnd, WM_DRAWITEM, IDC_TP_BYTES, reinterpret_cast<LPARAM>(&item));
        const COLORREF field = GetSysColor(COLOR_WINDOW);
        std::vector<int> ink(32, 0);
        for (int cell = 0; cell < 32; ++cell) {
            const int left = 1 + (cell % 16) * 18, top = 1 + (cell / 16) * 18;
            for (int y = top + 2; y < top + 16; ++y)
                for (int x = left + 2; x < left + 15 && x < rc.right - 1; ++x) {
                    const COLORREF c = GetPixel(dc, x, y);
                    const COLORREF back = cell < 16 ? GetSysColor(COLOR_BTNFACE) : field;
                    ink[cell] += (abs(GetRValue(c) - GetRValue(back)) + abs(GetGValue(c) - GetGValue(back)) +
                                  abs(GetBValue(c) - GetBValue(back))) > 96;
                }
        }
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        return ink;
    };
    ASSERT_GE(rc.right, 16 * 18 + 2);
    for (int length : {19, 5, 0}) {
        const std::vector<int> ink = inkPerCell(length);
        for (int cell = 0; cell < 16; ++cell) {
            EXPECT_GT(ink[cell], 3) << "header " << cell;
            EXPECT_EQ(cell < length, ink[16 + cell] > 3) << length << " byte " << cell;
        }
    }
}

} // namespace
