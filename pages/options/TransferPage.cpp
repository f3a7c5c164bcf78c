// The Transfer page.
#include "pages/options/TransferPage.h"

#include <commctrl.h>

#include <algorithm>

#include "config/KeyNumber.h"
#include "config/TransferDoc.h"
#include "core/TextUtil.h"
#include "framework/Controls.h"
#include "framework/Holders.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/PageRegistry.h"
#include "pages/options/DestinationDialogs.h"
#include "pages/options/FormatsPage.h"
#include "reader/ReaderModels.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kModelGap[] = L"    ";
constexpr int32_t kFormatNotSpecified = static_cast<int32_t>(0x8004023E);
constexpr int kCell = 18;
constexpr int kGridColumns = 16;
constexpr int kSmallImageMenu = 15;
constexpr int kSmallImageReset = 16;
constexpr int kEditId = 1001;  // the edit of a drop-down combo box

// A value the port list stores for "not told": an unidentified reader has serial 0 and
// firmware -1, so neither may show as a number.
bool IsToldValue(int32_t value)
{
    return value != 0 && value != -1;
}

std::wstring WindowText(HWND hwnd)
{
    std::wstring text;
    GetWindowString(hwnd, text);
    return text;
}

} // namespace

std::wstring TransferSourceLine(const KnownReader& reader)
{
    std::wstring line = reader.name;
    if (reader.model == kReaderModelUnknown)
        return line;
    line += kModelGap;
    line += ReaderModelName(reader.model);
    if (IsToldValue(reader.serial)) {
        std::wstring serial;
        FormatResString(serial, IDS_SERIAL_NUMBER, reader.serial);
        line += L" " + serial;
    }
    if (IsToldValue(reader.firmware))
        line += L" v" + VersionToString(static_cast<PackedVersion>(reader.firmware));
    return line;
}

std::wstring CutPortName(const std::wstring& text)
{
    const size_t gap = text.find(kModelGap);
    return gap == std::wstring::npos ? text : text.substr(0, gap);
}

std::wstring LastTransferKeyText(const _LAST_TRANSFER& last, const std::wstring& keyTypeName)
{
    if (last.keyNumber.length == 0)
        return last.keyText.empty() ? std::wstring() : L"<" + last.keyText + L">";
    std::wstring hex, facility;
    KeyToHex(hex, last.keyNumber);
    KeyToFacilityText(facility, last.keyNumber, 0);
    std::wstring text = keyTypeName + L" [" + hex + L"] " + facility;
    const uint32_t extra = last.keyExtra;
    if (extra & ~1u)
        text += kModelGap;
    if (extra & LTX_PLUS_VARIANT_KNOWN)
        text += (extra & LTX_PLUS_X) ? L" X" : L" S";
    if (extra & LTX_LEVEL_KNOWN)
        text += L" SL" + std::to_wstring((extra & LTX_LEVEL_MASK) >> LTX_LEVEL_SHIFT);
    return text;
}

std::wstring LastTransferFormatText(const _LAST_TRANSFER& last)
{
    if (last.errorCode == kFormatNotSpecified)
        return L"<" + last.errorText + L">";
    return last.formatName;
}

std::wstring LastTransferWhereText(const _LAST_TRANSFER& last)
{
    if (last.errorCode < 0)
        return last.where + L" | " + last.errorText;
    return last.where;
}

bool DestinationShowsWhere(int destType)
{
    return destType == DEST_KEYBOARD || destType == DEST_PORTAVO || destType == DEST_HTTP;
}

// ---- The page ----

CTransferPage::CTransferPage(IPageHost& host) : CBasePage(IDD_TRANSFER_PAGE, &host) {}

CAppSettings& CTransferPage::Settings() const
{
    return m_host->GetSettings();
}

CTransferDoc& CTransferPage::Doc() const
{
    return m_host->GetTransferDoc();
}

LRESULT CTransferPage::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DRAWITEM:
        if (wParam == IDC_TP_BYTES) {
            DrawByteGrid(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
    case WM_INITMENUPOPUP:
        if (!HIWORD(lParam))
            m_host->PrepareMenu(reinterpret_cast<HMENU>(wParam));
        return 0;
    default:
        break;
    }
    return CBasePage::HandleMessage(hwnd, message, wParam, lParam);
}

void CTransferPage::OnSize(UINT, int width, int height)
{
    ApplyLayout(m_layout, width, height);
}

void CTransferPage::OnDestroy()
{
    m_sourceEdit.reset();
    for (int id : {IDC_TP_SOURCE_BAR, IDC_TP_DEST_BAR, IDC_TP_COUNTER_BAR})
        DestroyWindow(Item(id));
}

bool CTransferPage::OnInitDialog()
{
    SetWindowLongPtrW(Item(IDC_TP_METHOD_GROUP), GWL_STYLE,
                      GetWindowLongPtrW(Item(IDC_TP_METHOD_GROUP), GWL_STYLE) | WS_CLIPSIBLINGS);
    SetUpToolbar(IDC_TP_SOURCE_BAR, ID_TP_SOURCE_MENU, kSmallImageMenu);
    SetUpToolbar(IDC_TP_DEST_BAR, ID_TP_DEST_MENU, kSmallImageMenu);
    SetUpToolbar(IDC_TP_COUNTER_BAR, ID_RESET_COUNTER, kSmallImageReset);

    m_layout.parent = m_hWnd;
    constexpr int wide = ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT;
    for (int id : {IDC_TP_SOURCE, IDC_TP_METHOD_GROUP, IDC_TP_METHOD_FIRST, IDC_TP_METHOD_FIRST + 1,
                   IDC_TP_METHOD_FIRST + 2, IDC_TP_LAST_GROUP, IDC_TP_TIME, IDC_TP_KEY, IDC_TP_FORMAT,
                   IDC_TP_TRANSFERRED, IDC_TP_WHERE})
        m_layout.Add(id, wide);
    m_layout.Add(IDC_TP_BYTES, wide | ANCHOR_NOCOPYBITS);
    for (int id : {IDC_TP_SOURCE_BAR, IDC_TP_DEST_BAR, IDC_TP_COUNTER_BAR, IDC_TP_COUNTER_LABEL, IDC_TP_COUNTER})
        m_layout.Add(id, ANCHOR_TOP | ANCHOR_RIGHT);
    CaptureLayout(m_layout);

    COMBOBOXINFO info{sizeof(info)};
    HWND edit = GetComboBoxInfo(Item(IDC_TP_SOURCE), &info) ? info.hwndItem : GetDlgItem(Item(IDC_TP_SOURCE), kEditId);
    if (edit) {
        m_sourceEdit = std::make_unique<CSourceEdit>(*this);
        m_sourceEdit->Attach(edit);
    }
    ExchangeData(false);
    Observe(Settings());
    Observe(Doc());
    return true;
}

void CTransferPage::SetUpToolbar(int toolbarId, int command, int image)
{
    HWND bar = Item(toolbarId);
    if (!bar)
        return;
    SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_host->GetImageList(HostImages::Small)));
    const TBBUTTON button = ToolButton(command, image);
    SendMessageW(bar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
}

// ---- Documents to controls ----

void CTransferPage::ExchangeData(bool save)
{
    if (save) {
        CommitSource();
        return;
    }
    UpdatingScope updating(m_hWnd);
    CheckItem(IDC_TP_ENABLED, Settings().IsTransferEnabled());
    FillSourceList();
    ShowDestination();
    RefreshLastTransfer();
}

void CTransferPage::FillSourceList()
{
    UpdatingScope updating(m_hWnd);
    HWND box = Item(IDC_TP_SOURCE);
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    const std::vector<KnownReader>& readers = Settings().knownReaders;
    for (const KnownReader& reader : readers)
        SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(TransferSourceLine(reader).c_str()));
    m_readerCount = static_cast<int>(readers.size());
    std::wstring keyList;
    LoadResString(IDS_SOURCE_KEYLIST, keyList);
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(keyList.c_str()));
    ShowCurrentSource();
}

void CTransferPage::ShowCurrentSource()
{
    UpdatingScope updating(m_hWnd);
    HWND box = Item(IDC_TP_SOURCE);
    const CTransferDoc& doc = Doc();
    if (doc.GetSourceKind() == SOURCE_KEYLIST) {
        SendMessageW(box, CB_SETCURSEL, m_readerCount, 0);
        return;
    }
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    std::wstring text = doc.GetSourceValue();
    if (doc.GetSourceKind() == SOURCE_READER) {
        const std::vector<KnownReader>& readers = Settings().knownReaders;
        const auto known = std::find_if(readers.begin(), readers.end(),
                                        [&text](const KnownReader& r) { return r.name == text; });
        if (known != readers.end() && known->model != kReaderModelUnknown)
            text = TransferSourceLine(*known);
    }
    SetWindowTextW(box, text.c_str());
}

void CTransferPage::CommitSource()
{
    HWND box = Item(IDC_TP_SOURCE);
    const std::wstring text = WindowText(box);
    const LRESULT found = SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(text.c_str()));
    if (found != CB_ERR) {
        StoreSourceAt(static_cast<int>(found));
        return;
    }
    const std::wstring port = CutPortName(text);
    CDocUpdateScope scope(Doc(), ObserverKey());
    Doc().SetSource(port, port.empty() ? SOURCE_NONE : SOURCE_READER);
}

void CTransferPage::StoreSourceAt(int index)
{
    const std::vector<KnownReader>& readers = Settings().knownReaders;
    CDocUpdateScope scope(Doc(), ObserverKey());
    if (index >= 0 && index < m_readerCount && index < static_cast<int>(readers.size()))
        Doc().SetSource(readers[index].name, SOURCE_READER);
    else if (index == m_readerCount)
        Doc().SetSource(std::wstring(), SOURCE_KEYLIST);
}

void CTransferPage::ShowDestination()
{
    const int type = Doc().GetDestinationType();
    CheckRadioButton(m_hWnd, IDC_TP_METHOD_FIRST, IDC_TP_METHOD_LAST, IDC_TP_METHOD_FIRST + type - 1);
    UpdateWhereVisibility();
}

void CTransferPage::StoreDestination(int type)
{
    std::wstring text;
    if (type == DEST_PORTAVO) {
        const _TRANS_DST_PORTAVO& bridge = Doc().Portavo();
        if (bridge.mode == PORTAVO_CLIENT)
            text = bridge.address;
        else if (bridge.mode == PORTAVO_SERVER)
            text = std::to_wstring(bridge.port);
    }
    {
        CDocUpdateScope scope(Doc(), ObserverKey());
        Doc().SetDestination(text, type);
    }
    UpdateWhereVisibility();
}

void CTransferPage::UpdateWhereVisibility()
{
    HWND where = Item(IDC_TP_WHERE);
    const int show = DestinationShowsWhere(Doc().GetDestinationType()) ? SW_SHOWNOACTIVATE : SW_HIDE;
    ShowWindow(where, show);
    if (HWND label = GetWindow(where, GW_HWNDPREV))
        ShowWindow(label, show);
}

void CTransferPage::RefreshLastTransfer()
{
    const _LAST_TRANSFER& last = Settings().GetLastTransfer();
    std::wstring time;
    if (last.time.GetTime() != 0)
        last.time.Format(L"%x %X", time);
    SetItemText(IDC_TP_TIME, time.c_str());
    const std::wstring key = LastTransferKeyText(last, KeyTypeName(*m_host, last.keyType));
    SetItemText(IDC_TP_KEY, key.c_str());
    SetItemText(IDC_TP_FORMAT, LastTransferFormatText(last).c_str());
    SetItemText(IDC_TP_TRANSFERRED, last.transferred.c_str());
    SetItemText(IDC_TP_WHERE, LastTransferWhereText(last).c_str());
    SetItemText(IDC_TP_COUNTER, std::to_wstring(static_cast<uint32_t>(last.counter)).c_str());
    InvalidateRect(Item(IDC_TP_BYTES), nullptr, TRUE);
}

void CTransferPage::OnDocumentChanged(CDocument* doc, const uint32_t* bits)
{
    if (!m_hWnd)
        return;
    const uint32_t change = bits[0];
    if (doc == &Settings()) {
        const AppSettingsDetails& details = Settings().GetDetails();
        if (change & ASC_TRANSFER_ON)
            CheckItem(IDC_TP_ENABLED, Settings().IsTransferEnabled());
        if ((change & ASC_STATE) && (details.state & ASS_KNOWN_READERS))
            FillSourceList();
        if (((change & ASC_STATE) && (details.state & (ASS_LAST_TRANSFER | ASS_COUNTER))) ||
            ((change & ASC_UI) && (details.ui & ASU_KEY_VIEW_FORMAT)))
            RefreshLastTransfer();
        return;
    }
    if (change & TDC_SOURCE)
        ShowCurrentSource();
    if (change & TDC_DESTINATION)
        ShowDestination();
}

// ---- The byte grid ----

void CTransferPage::DrawByteGrid(const DRAWITEMSTRUCT* item) const
{
    HDC dc = item->hDC;
    CGdiObject frame(CreatePen(PS_SOLID, 1, RGB(0xAB, 0xAD, 0xB3)));
    HGDIOBJ oldPen = SelectObject(dc, frame.Get());
    HGDIOBJ oldBrush = SelectObject(dc, GetSysColorBrush(COLOR_WINDOW));
    const RECT& all = item->rcItem;
    Rectangle(dc, all.left, all.top, all.right, all.bottom);
    RECT inner = all;
    InflateRect(&inner, -1, -1);

    RECT header = inner;
    header.bottom = header.top + kCell;
    FillRect(dc, &header, GetSysColorBrush(COLOR_BTNFACE));
    CGdiObject headerLines(CreatePen(PS_SOLID, 1, RGB(0xDC, 0xDC, 0xDC)));
    SelectObject(dc, headerLines.Get());
    for (int i = 1; i <= kGridColumns; ++i) {
        const int x = inner.left + i * kCell - 1;
        MoveToEx(dc, x, inner.top, nullptr);
        LineTo(dc, x, inner.top + kCell - 1);
    }
    MoveToEx(dc, inner.left, inner.top + kCell - 1, nullptr);
    LineTo(dc, inner.right, inner.top + kCell - 1);
    CGdiObject cellLines(CreatePen(PS_SOLID, 1, RGB(0xF0, 0xF0, 0xF0)));
    SelectObject(dc, cellLines.Get());
    for (int i = 1; i <= kGridColumns; ++i) {
        const int x = inner.left + i * kCell - 1;
        MoveToEx(dc, x, inner.top + kCell, nullptr);
        LineTo(dc, x, inner.top + 2 * kCell - 1);
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);

    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    SIZE digit{};
    GetTextExtentPoint32W(dc, L"0", 1, &digit);
    const int shift = (kCell - digit.cy) / 2;
    auto cell = [&](int column, int row) {
        RECT rc{inner.left + column * kCell, inner.top + row * kCell + shift, inner.left + (column + 1) * kCell,
                inner.top + (row + 1) * kCell};
        return rc;
    };
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    for (int i = 0; i < kGridColumns; ++i) {
        RECT rc = cell(i, 0);
        DrawTextW(dc, &kDigits[i], 1, &rc, DT_NOCLIP | DT_CENTER | DT_SINGLELINE);
    }
    const _KEY_NUMBER& key = Settings().GetLastTransfer().keyNumber;
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    for (int i = 0; i < std::min<int>(key.length, kGridColumns); ++i) {
        const wchar_t pair[2] = {kDigits[key.bytes[i] >> 4], kDigits[key.bytes[i] & 0xF]};
        RECT rc = cell(i, 1);
        DrawTextW(dc, pair, 2, &rc, DT_NOCLIP | DT_CENTER | DT_SINGLELINE);
    }
    SelectObject(dc, oldFont);
}

// ---- Commands ----

bool CTransferPage::OnCommand(int id, int code, HWND control)
{
    if (id == IDC_TP_SOURCE && control) {
        switch (code) {
        case CBN_SELCHANGE:
            StoreSourceAt(static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0)));
            return true;
        case CBN_KILLFOCUS:
            CommitSource();
            return true;
        case CBN_DROPDOWN:
            m_host->StartReaderSearch();
            return true;
        default:
            return false;
        }
    }
    if (id >= IDC_TP_METHOD_FIRST && id <= IDC_TP_METHOD_LAST && control) {
        if (code == BN_CLICKED) {
            StoreDestination(id - IDC_TP_METHOD_FIRST + 1);
            return true;
        }
        if (code == BN_DOUBLECLICKED) {
            switch (id - IDC_TP_METHOD_FIRST + 1) {
            case DEST_KEYBOARD: m_host->ShowPage(PAGE_KEYBOARD); break;
            case DEST_PORTAVO: m_host->ShowPage(PAGE_PORTAVO); break;
            case DEST_CMDLINE: RunDestinationDialog(*m_host, DEST_CMDLINE); break;
            case DEST_HTTP: RunDestinationDialog(*m_host, DEST_HTTP); break;
            default: break;
            }
            return true;
        }
        return false;
    }
    if (code == STN_DBLCLK && control) {
        switch (id) {
        case IDC_TP_TIME_LABEL: m_host->ShowPage(PAGE_EVENT_LOG); return true;
        case IDC_TP_FORMAT_LABEL: ShowFormatOfLastTransfer(); return true;
        case IDC_TP_KEY_LABEL: ConfigureSource(); return true;
        case IDC_TP_TRANSFERRED_LABEL: ConfigureDestination(); return true;
        default: return false;
        }
    }
    switch (id) {
    case IDC_TP_ENABLED:
        if (code == BN_CLICKED)
            OnEnabledClicked();
        return true;
    case ID_TP_SOURCE_MENU:
        ShowMenu(IDM_TRANSFER_SOURCE, IDC_TP_SOURCE_BAR);
        return true;
    case ID_TP_DEST_MENU:
        ShowMenu(IDM_TRANSFER_DEST, IDC_TP_DEST_BAR);
        return true;
    case ID_RESET_COUNTER:
        // Only from the page's own button; the frame's command resets it the same way.
        if (!control)
            return false;
        ResetCounter();
        return true;
    default:
        return CBasePage::OnCommand(id, code, control);
    }
}

void CTransferPage::OnEnabledClicked()
{
    if (Settings().IsTransferEnabled()) {
        m_host->RunFrameCommand(ID_TRANSFER_STOP);
        return;
    }
    if (!m_host->StartTransfer(true)) {
        CheckItem(IDC_TP_ENABLED, false);
        SetFocus(Item(IDC_TP_SOURCE));
    }
}

void CTransferPage::ShowFormatOfLastTransfer()
{
    if (!m_host->ShowPage(PAGE_FORMATS))
        return;
    // The formats page is a sibling of this one under the main window.
    for (HWND w = GetWindow(GetParent(m_hWnd), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        if (auto* formats = dynamic_cast<CFormatsPage*>(FindWindowObject(w))) {
            formats->SelectFormatNamed(Settings().GetLastTransfer().formatName);
            return;
        }
    }
}

void CTransferPage::ConfigureSource()
{
    switch (Doc().GetSourceKind()) {
    case SOURCE_READER: m_host->ShowPage(PAGE_READER); break;
    case SOURCE_KEYLIST: m_host->ShowPage(PAGE_KEY_LIST); break;
    default: break;
    }
}

void CTransferPage::ConfigureDestination()
{
    switch (Doc().GetDestinationType()) {
    case DEST_KEYBOARD: m_host->ShowPage(PAGE_KEYBOARD); break;
    case DEST_PORTAVO: m_host->ShowPage(PAGE_PORTAVO); break;
    case DEST_CMDLINE: RunDestinationDialog(*m_host, DEST_CMDLINE); break;
    case DEST_HTTP: RunDestinationDialog(*m_host, DEST_HTTP); break;
    default: break;
    }
}

void CTransferPage::ShowMenu(int menuId, int toolbarId)
{
    const wchar_t* name = MAKEINTRESOURCEW(menuId);
    CMenu menu(LoadMenuW(FindResourceModule(name, RT_MENU), name));
    HMENU popup = menu.Get() ? GetSubMenu(menu.Get(), 0) : nullptr;
    if (!popup)
        return;
    if (menuId == IDM_TRANSFER_SOURCE) {
        EnableMenuItem(popup, ID_SHOW_SOURCE,
                       MF_BYCOMMAND | (Doc().GetSourceKind() == SOURCE_NONE ? MF_GRAYED : MF_ENABLED));
        CheckMenuRadioItem(popup, ID_VELL4_DALLAS, ID_VELL4_QM100, ID_VELL4_DALLAS + Doc().readKeys.vell4Mode,
                           MF_BYCOMMAND);
    } else {
        EnableMenuItem(popup, ID_SHOW_DESTINATION,
                       MF_BYCOMMAND | (Doc().GetDestinationType() == DEST_CLIPBOARD ? MF_GRAYED : MF_ENABLED));
    }
    (void)toolbarId;
    POINT at{};
    GetCursorPos(&at);
    SetForegroundWindow(m_hWnd);
    // The choice comes back here rather than as WM_COMMAND, so that the two "configure" items
    // act on this page's source and destination while their hotkeys keep showing pages. The
    // menu's WM_INITMENUPOPUP brings in the external tools and the hotkey texts.
    const int chosen = TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y, 0, m_hWnd, nullptr);
    if (chosen)
        RunMenuCommand(chosen);
}

void CTransferPage::RunMenuCommand(int id)
{
    switch (id) {
    case ID_SHOW_SOURCE:
        ConfigureSource();
        break;
    case ID_SHOW_DESTINATION:
        ConfigureDestination();
        break;
    case ID_VELL4_DALLAS:
    case ID_VELL4_EMMARINE:
    case ID_VELL4_QM100: {
        CDocUpdateScope scope(Doc(), ObserverKey());
        Doc().SetVell4Mode(id - ID_VELL4_DALLAS);
        break;
    }
    case ID_REFRESH_PORT_LIST:
        // Not the main window's command, which clears every reader's present mark first.
        m_host->RefreshPortsAndSearch();
        break;
    default:
        // Key reading and the external tools are the main window's commands.
        m_host->RunFrameCommand(id);
        break;
    }
}

void CTransferPage::ResetCounter()
{
    if (Settings().GetLastTransfer().counter == 0)
        return;
    {
        CDocUpdateScope scope(Settings());
        Settings().SetTransferCounter(0);
    }
    RefreshLastTransfer();
}

void CTransferPage::RestoreDefaults()
{
    CAppSettings& settings = Settings();
    {
        CDocUpdateScope scope(settings);
        settings.SetTransferEnabled(false);
        settings.SetLastTransferInfo(CTimeValue(), 0, _KEY_NUMBER{}, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
        if (settings.GetLastTransfer().counter != 0)
            settings.SetTransferCounter(0);
    }
    {
        CDocUpdateScope scope(Doc());
        Doc().SetSource(std::wstring(), SOURCE_NONE);
        Doc().SetDestination(std::wstring(), DEST_KEYBOARD);
    }
}

// ---- The source box's edit ----

LRESULT CTransferPage::CSourceEdit::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETDLGCODE && wParam == VK_RETURN)
        return DefaultProc() | DLGC_WANTALLKEYS;
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        m_page.CommitSource();
        return 0;
    }
    return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
}

std::unique_ptr<CBasePage> CreateTransferPage(IPageHost& host)
{
    return std::make_unique<CTransferPage>(host);
}
