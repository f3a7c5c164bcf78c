#include "pages/source/CardReadPages.h"

#include <commctrl.h>
#include <cwctype>
#include <vector>

#include "config/AppSettings.h"
#include "config/KeyNumber.h"
#include "config/TransferDoc.h"
#include "core/TextUtil.h"
#include "framework/Controls.h"
#include "framework/TableCtrl.h"
#include "pages/PageHost.h"
#include "resources/ids_commands.h"
#include "resources/ids_pages.h"

namespace {

constexpr int kTipWidth = 400;

void ShowWithLabel(HWND page, int id, bool show)
{
    HWND control = GetDlgItem(page, id);
    ShowWindow(control, show ? SW_SHOW : SW_HIDE);
    if (HWND label = GetWindow(control, GW_HWNDPREV))
        ShowWindow(label, show ? SW_SHOW : SW_HIDE);
}

void FillNumbers(HWND combo, int from, int to)
{
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (int n = from; n <= to; ++n)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(IntToWString(n).c_str()));
}

}  // namespace

bool ParseTemicPassword(const std::wstring& text, uint32_t& password)
{
    std::wstring digits = text;
    if (digits.size() >= 2 && digits[0] == L'0' && (digits[1] == L'x' || digits[1] == L'X'))
        digits.erase(0, 2);
    bool anyDigit = false;
    for (wchar_t c : digits)
        anyDigit = anyDigit || std::iswxdigit(c);
    if (!anyDigit)
        return false;
    BYTE bytes[4] = {};
    if (HexToBytesReversed(digits.c_str(), -1, bytes, 4) == 0)
        return false;
    password = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

std::wstring TemicParamsText(const std::vector<uint32_t>& params)
{
    std::wstring text;
    for (uint32_t p : params) {
        wchar_t group[40];
        swprintf(group, 40, L"%d,%d,%d;", static_cast<int>(p & 0xFF), static_cast<int>((p >> 8) & 0xFF),
                 static_cast<int>(p >> 16));
        text += group;
    }
    return text;
}

// ---- CMifareULPage

CMifareULPage::CMifareULPage(IPageHost& host) : CBasePage(IDD_READKEYS_MIFARE_UL, &host) {}

bool CMifareULPage::OnInitDialog()
{
    FillNumbers(Item(IDC_UL_PAGE), 0, 15);
    FillNumbers(Item(IDC_UL_COUNT), 1, 4);
    // The values change from elsewhere too: "Page default", another configuration, an import.
    Observe(m_host->GetTransferDoc());
    ExchangeData(false);
    return true;
}

void CMifareULPage::ExchangeData(bool save)
{
    if (save)
        return;
    const MifareULSettings& ul = m_host->GetTransferDoc().readKeys.ultralight;
    UpdatingScope updating(m_hWnd);
    CheckItem(IDC_UL_ENABLED, ul.enabled);
    SendItem(IDC_UL_PAGE, CB_SETCURSEL, static_cast<WPARAM>(ul.page), 0);
    SendItem(IDC_UL_COUNT, CB_SETCURSEL, static_cast<WPARAM>(ul.count - 1), 0);
    UpdateControlStates();
}

void CMifareULPage::OnDocumentChanged(CDocument*, const uint32_t* bits)
{
    if (m_hWnd && IsWindow(m_hWnd) && (bits[0] & TDC_MIFARE_UL))
        ExchangeData(false);
}

void CMifareULPage::UpdateControlStates()
{
    const bool on = m_host->GetTransferDoc().readKeys.ultralight.enabled;
    EnableWithLabel(m_hWnd, IDC_UL_PAGE, on, true);
    EnableWithLabel(m_hWnd, IDC_UL_COUNT, on, true);
}

bool CMifareULPage::OnCommand(int id, int code, HWND control)
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    switch (id) {
    case IDC_UL_ENABLED: {
        {
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetMifareULEnabled(IsItemChecked(IDC_UL_ENABLED));
        }
        UpdateControlStates();
        break;
    }
    case IDC_UL_PAGE:
        if (code == CBN_SELCHANGE) {
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetMifareULPage(static_cast<int32_t>(SendMessageW(control, CB_GETCURSEL, 0, 0)));
        }
        break;
    case IDC_UL_COUNT:
        if (code == CBN_SELCHANGE) {
            const LRESULT selection = SendMessageW(control, CB_GETCURSEL, 0, 0);
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetMifareULCount(selection >= 0 ? static_cast<int32_t>(selection) + 1 : doc.readKeys.ultralight.count);
        }
        break;
    default:
        break;
    }
    return false;
}

// ---- CTemicPage

CTemicPage::CTemicPage(IPageHost& host) : CStatesPage(IDD_READKEYS_TEMIC, &host) {}

void CTemicPage::OnSize(UINT, int width, int height)
{
    ApplyLayout(m_layout, width, height);
}

void CTemicPage::OnDestroy()
{
    ForEachTool(false);
}

bool CTemicPage::OnInitDialog()
{
    SetWindowLongPtrW(Item(IDC_TEMIC_NOTE), GWL_EXSTYLE,
                      GetWindowLongPtrW(Item(IDC_TEMIC_NOTE), GWL_EXSTYLE) | WS_EX_TRANSPARENT);
    FillNumbers(Item(IDC_TEMIC_BLOCK), 0, 7);
    FillNumbers(Item(IDC_TEMIC_COUNT), 1, 4);
    SendItem(IDC_TEMIC_PASSWORD, EM_LIMITTEXT, 10, 0);

    // The check box stands where the block list is: only one of them shows.
    RECT block;
    GetWindowRect(Item(IDC_TEMIC_BLOCK), &block);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&block), 2);
    SetWindowPos(Item(IDC_TEMIC_READ_ALL), nullptr, block.left, block.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    m_layout.parent = m_hWnd;
    m_layout.items.clear();
    m_layout.Add(IDC_TEMIC_NOTE, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_layout.Add(IDC_TEMIC_SCAN, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    CaptureLayout(m_layout);

    ForEachTool(true);
    Observe(m_host->GetTransferDoc());
    Observe(m_host->GetSettings());
    ExchangeData(false);
    return true;
}

void CTemicPage::ForEachTool(bool add)
{
    CToolTipCtrl* tip = m_host->GetTableSettings().GetMainToolTip();
    if (!tip || !tip->m_hWnd)
        return;
    for (int id : {IDC_TEMIC_SCAN, static_cast<int>(ID_INIT_TEMIC)}) {
        HWND control = Item(id);
        if (add)
            tip->AddWindowTool(control);
        else
            tip->RemoveTool(control, 0);
    }
}

void CTemicPage::FillControls()
{
    const TemicSettings& t = m_host->GetTransferDoc().readKeys.temic;
    {
        UpdatingScope updating(m_hWnd);
        CheckItem(IDC_TEMIC_ENABLED, t.enabled);
        SetItemText(IDC_TEMIC_SCAN, TemicParamsText(t.params).c_str());
        SendItem(IDC_TEMIC_SCAN, EM_SETMODIFY, FALSE, 0);
        CheckRadioButton(m_hWnd, IDC_TEMIC_UID, IDC_TEMIC_DATA, (t.flags & TEMIC_DATA_MODE) ? IDC_TEMIC_DATA : IDC_TEMIC_UID);
        CheckItem(IDC_TEMIC_READ_ALL, (t.flags & TEMIC_READ_ALL_BYTES));
        SendItem(IDC_TEMIC_BLOCK, CB_SETCURSEL, static_cast<WPARAM>(t.block), 0);
        SendItem(IDC_TEMIC_COUNT, CB_SETCURSEL, static_cast<WPARAM>(t.count - 1), 0);
        CheckItem(IDC_TEMIC_USE_PASSWORD, (t.flags & TEMIC_USE_PASSWORD));
        wchar_t password[12];
        swprintf(password, 12, L"%08X", static_cast<unsigned>(t.password));
        SetItemText(IDC_TEMIC_PASSWORD, password);
        SendItem(IDC_TEMIC_PASSWORD, EM_SETMODIFY, FALSE, 0);
    }
    UpdateControlStates();
}

void CTemicPage::UpdateControlStates()
{
    const TemicSettings& t = m_host->GetTransferDoc().readKeys.temic;
    const bool on = t.enabled;
    const bool data = (t.flags & TEMIC_DATA_MODE) != 0;
    EnableWithLabel(m_hWnd, IDC_TEMIC_SCAN, on, true);
    EnableWithLabel(m_hWnd, IDC_TEMIC_UID, on, true);
    EnableWithLabel(m_hWnd, IDC_TEMIC_DATA, on, false);
    EnableWithLabel(m_hWnd, IDC_TEMIC_USE_PASSWORD, on, false);
    EnableWithLabel(m_hWnd, IDC_TEMIC_PASSWORD, on && (t.flags & TEMIC_USE_PASSWORD), false);

    ShowWindow(Item(IDC_TEMIC_READ_ALL), data ? SW_HIDE : SW_SHOW);
    EnableItem(IDC_TEMIC_READ_ALL, on && !data);
    for (int id : {IDC_TEMIC_BLOCK, IDC_TEMIC_COUNT}) {
        ShowWithLabel(m_hWnd, id, data);
        EnableWithLabel(m_hWnd, id, on && data, true);
    }
    EnableItem(ID_INIT_TEMIC, m_host->CanStartReaderJob());
}

void CTemicPage::ExchangeData(bool save)
{
    if (!save) {
        FillControls();
        return;
    }
    CDocUpdateScope scope(m_host->GetTransferDoc(), ObserverKey());
    if (SendItem(IDC_TEMIC_SCAN, EM_GETMODIFY, 0, 0))
        ReadScanEdit();
    if (SendItem(IDC_TEMIC_PASSWORD, EM_GETMODIFY, 0, 0))
        ReadPasswordEdit();
}

bool CTemicPage::ShowChange(CDocument* doc, const uint32_t* bits)
{
    CTransferDoc& transferDoc = m_host->GetTransferDoc();
    if (doc != &transferDoc)
        return (bits[0] & ASC_STATE) && (m_host->GetSettings().GetDetails().state & ASS_READER_JOB);
    if (bits[0] & TDC_TEMIC)
        FillControls();
    return (bits[0] & (TDC_SOURCE | TDC_READER)) ||
           ((bits[0] & TDC_STATE) && (transferDoc.GetDetails().state & TDS_READER_JOB));
}

bool CTemicPage::ReadScanEdit()
{
    std::wstring text;
    GetItemText(IDC_TEMIC_SCAN, text);
    std::vector<uint32_t> params;
    CTransferDoc& doc = m_host->GetTransferDoc();
    // A reader needs at least one request; an empty list would also be saved as the empty text
    // that reads back as the default list.
    if (!ParseTemicParams(text, params) || params.empty() || IntVectorsEqual(params, doc.readKeys.temic.params))
        return false;
    CDocUpdateScope scope(doc, ObserverKey());
    doc.EditTemicSettings()->params = std::move(params);
    return true;
}

bool CTemicPage::ReadPasswordEdit()
{
    std::wstring text;
    GetItemText(IDC_TEMIC_PASSWORD, text);
    uint32_t password = 0;
    CTransferDoc& doc = m_host->GetTransferDoc();
    if (!ParseTemicPassword(text, password) || password == doc.readKeys.temic.password)
        return false;
    CDocUpdateScope scope(doc, ObserverKey());
    doc.EditTemicSettings()->password = password;
    return true;
}

void CTemicPage::SetFlag(uint32_t bit, bool on)
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    const uint32_t flags = doc.readKeys.temic.flags;
    CDocUpdateScope scope(doc, ObserverKey());
    doc.SetTemicFlags(on ? (flags | bit) : (flags & ~bit));
}

bool CTemicPage::OnCommand(int id, int code, HWND control)
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    switch (id) {
    case IDC_TEMIC_ENABLED:
        if (code != BN_CLICKED)
            return false;
        {
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetTemicEnabled(IsItemChecked(IDC_TEMIC_ENABLED));
        }
        UpdateControlStates();
        return true;
    case IDC_TEMIC_READ_ALL:
        if (code != BN_CLICKED)
            return false;
        SetFlag(TEMIC_READ_ALL_BYTES, IsItemChecked(IDC_TEMIC_READ_ALL));
        return true;
    case IDC_TEMIC_SCAN:
        if (code == EN_KILLFOCUS && SendMessageW(control, EM_GETMODIFY, 0, 0))
            ReadScanEdit();
        else if (code == EN_CHANGE)
            ReadScanEdit();
        else
            return false;
        return true;
    case IDC_TEMIC_UID:
    case IDC_TEMIC_DATA:
        SetFlag(TEMIC_DATA_MODE, id == IDC_TEMIC_DATA);
        {
            UpdatingScope updating(m_hWnd);
            CheckRadioButton(m_hWnd, IDC_TEMIC_UID, IDC_TEMIC_DATA,
                             (doc.readKeys.temic.flags & TEMIC_DATA_MODE) ? IDC_TEMIC_DATA : IDC_TEMIC_UID);
        }
        UpdateControlStates();
        return true;
    case IDC_TEMIC_BLOCK:
    case IDC_TEMIC_COUNT: {
        if (code != CBN_SELCHANGE)
            return false;
        const int selection = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
        if (selection < 0)
            return true;
        CDocUpdateScope scope(doc, ObserverKey());
        auto edit = doc.EditTemicSettings();
        if (id == IDC_TEMIC_BLOCK)
            edit->block = selection;
        else
            edit->count = selection + 1;
        return true;
    }
    case IDC_TEMIC_USE_PASSWORD:
        SetFlag(TEMIC_USE_PASSWORD, IsItemChecked(IDC_TEMIC_USE_PASSWORD));
        UpdateControlStates();
        return true;
    case IDC_TEMIC_PASSWORD:
        if (code == EN_KILLFOCUS) {
            if (SendMessageW(control, EM_GETMODIFY, 0, 0)) {
                ReadPasswordEdit();
                SendMessageW(control, EM_SETMODIFY, FALSE, 0);
            }
        } else if (code == EN_CHANGE) {
            if (ReadPasswordEdit())
                SendMessageW(control, EM_SETMODIFY, FALSE, 0);
        } else {
            return false;
        }
        return true;
    case ID_INIT_TEMIC:
        m_host->InitializeTemic((m_host->GetSettings().GetConfirmFlags() & CONFIRM_TEMIC) != 0);
        return true;
    case ID_WRITE_KEYS:
        m_host->WriteKeysToReader(false, 0xFFFFFFFF, (m_host->GetSettings().GetConfirmFlags() & CONFIRM_WRITE_KEYS) != 0);
        return true;
    default:
        return false;
    }
}

bool CTemicPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->code == TTN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(nmh);
        const int control = (info->uFlags & TTF_IDISHWND) ? GetDlgCtrlID(reinterpret_cast<HWND>(nmh->idFrom))
                                                           : static_cast<int>(nmh->idFrom);
        std::wstring text;
        LoadResString(static_cast<UINT>(control == IDC_TEMIC_SCAN ? IDS_TEMIC_SCAN_TIP : control), text);
        const size_t lineFeed = text.find(L'\n');
        m_tipText = lineFeed == std::wstring::npos ? text : text.substr(lineFeed + 1);
        info->lpszText = m_tipText.data();
        SendMessageW(nmh->hwndFrom, TTM_SETMAXTIPWIDTH, 0, kTipWidth);
        *result = 0;
        return true;
    }
    return CBasePage::OnNotify(id, nmh, result);
}
