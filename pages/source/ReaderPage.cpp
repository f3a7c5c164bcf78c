#include "pages/source/ReaderPage.h"

#include <commctrl.h>
#include <climits>
#include <cwchar>
#include <cwctype>
#include <iterator>

#include "config/TransferDoc.h"
#include "core/TextUtil.h"
#include "framework/Controls.h"
#include "framework/TableCtrl.h"
#include "pages/PageHost.h"
#include "pages/PageRegistry.h"
#include "reader/ReaderModels.h"
#include "resources/resource.h"

namespace {

struct NumberEdit
{
    int id;
    bool isSigned;
};
// In the order the page stores them.
constexpr NumberEdit kNumberEdits[] = {
    {IDC_READER_CONNECT_TIMEOUT, true}, {IDC_READER_CHECKIN_PERIOD, true}, {IDC_READER_RECEIVE_TIMEOUT, true},
    {IDC_READER_MAX_TRIES, false},      {IDC_READER_CONNECT_PERIOD, true}, {IDC_SEARCH_TIMEOUT, true},
    {IDC_SEARCH_TRIES, false},
};

constexpr int kTipControls[] = {
    IDC_READER_MODEL,     IDC_READER_SPEED,         IDC_READER_STOPBITS,    IDC_READER_CONNECT_TIMEOUT,
    IDC_READER_RECEIVE_TIMEOUT, IDC_READER_MAX_TRIES, IDC_READER_CHECKIN_PERIOD, IDC_READER_CONNECT_PERIOD,
    IDC_READER_WIEGAND,   IDC_READER_BINARY,        IDC_READER_QM100,       IDC_READER_TO_KEYLIST,
    IDC_READER_NVT,       IDC_READER_VELL4,         IDC_SEARCH_STD_COM,     IDC_SEARCH_VCOM,
    IDC_SEARCH_FILTER_VIDPID, IDC_SEARCH_FILTER_DESC, IDC_SEARCH_IP,        IDC_SEARCH_TIMEOUT,
    IDC_SEARCH_TRIES,
};

struct FlagCheck
{
    int id;
    uint32_t bit;
};
constexpr FlagCheck kReaderChecks[] = {
    {IDC_READER_WIEGAND, READER_WIEGAND}, {IDC_READER_BINARY, READER_BINARY},
    {IDC_READER_QM100, READER_DIFFERENT_QM100}, {IDC_READER_TO_KEYLIST, READER_TO_KEYLIST},
    {IDC_READER_NVT, READER_NVT}, {IDC_READER_VELL4, READER_PROT_VELL4},
};
constexpr FlagCheck kSearchChecks[] = {
    {IDC_SEARCH_STD_COM, SEARCH_STD_COM}, {IDC_SEARCH_VCOM, SEARCH_VCOM},
    {IDC_SEARCH_FILTER_VIDPID, SEARCH_FILTER_VIDPID}, {IDC_SEARCH_FILTER_DESC, SEARCH_FILTER_DESC},
    {IDC_SEARCH_CCID, SEARCH_CCID}, {IDC_SEARCH_IP, SEARCH_IP},
};

constexpr int kModelWithWiegand = 7;  // "Vell-4 Base"

uint32_t WithBit(uint32_t word, uint32_t bit, bool on)
{
    return on ? word | bit : word & ~bit;
}

void SetSpinRange(HWND page, int id, int low, int high)
{
    SendDlgItemMessageW(page, id, UDM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}

void SetEditNumber(HWND page, int id, int32_t value, bool isSigned)
{
    const std::wstring text =
        isSigned ? IntToWString(value) : std::to_wstring(static_cast<uint32_t>(value));
    SetDlgItemTextW(page, id, text.c_str());
}

// The combo's new choice after a CBN_SELCHANGE when it is one below limit; -1 otherwise.
int ChosenIndex(int code, HWND combo, int limit = INT_MAX)
{
    if (code != CBN_SELCHANGE)
        return -1;
    const int index = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    return index < limit ? index : -1;
}

} // namespace

bool ParseEditNumber(const std::wstring& text, bool isSigned, int32_t& value)
{
    size_t start = 0, end = text.size();
    while (start < end && iswspace(text[start]))
        ++start;
    while (end > start && iswspace(text[end - 1]))
        --end;
    if (start == end)
        return false;
    size_t i = start;
    const bool negative = text[i] == L'-';
    if (negative || text[i] == L'+')
        ++i;
    if (i == end || (negative && !isSigned))
        return false;
    uint64_t magnitude = 0;
    for (; i < end; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - L'0');
        if (magnitude > 0xFFFFFFFFull)
            return false;
    }
    if (isSigned) {
        if (negative ? magnitude > 0x80000000ull : magnitude > 0x7FFFFFFFull)
            return false;
        value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
    } else {
        value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    }
    return true;
}

bool OnControlTipNotify(NMHDR* nmh, CToolTipCtrl* tips, std::wstring& buffer)
{
    if (nmh->code != TTN_GETDISPINFOW || !tips || nmh->hwndFrom != tips->m_hWnd)
        return false;
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(nmh);
    const HWND tool = (info->uFlags & TTF_IDISHWND) ? reinterpret_cast<HWND>(nmh->idFrom) : nullptr;
    const int id = tool ? GetDlgCtrlID(tool) : static_cast<int>(nmh->idFrom);
    LoadResString(static_cast<UINT>(id), buffer);
    const size_t feed = buffer.find(L'\n');
    if (feed != std::wstring::npos)
        buffer.erase(0, feed + 1);
    info->lpszText = buffer.data();
    return true;
}

// ---- CSourcePage ----

CSourcePage::CSourcePage(IPageHost& host) : CBasePage(IDD_SOURCE_PAGE, &host) {}

bool CSourcePage::OnInitDialog()
{
    ExchangeData(false);
    return true;
}

// ---- CReaderPage ----

CReaderPage::CReaderPage(IPageHost& host) : CStatesPage(IDD_READER_PAGE, &host) {}

CTransferDoc& CReaderPage::Doc() const
{
    return m_host->GetTransferDoc();
}

CToolTipCtrl* CReaderPage::MainToolTip() const
{
    return m_host->GetTableSettings().GetMainToolTip();
}

void CReaderPage::OnDestroy()
{
    if (CToolTipCtrl* tips = MainToolTip()) {
        for (int id : kTipControls)
            tips->RemoveTool(Item(id), 0);
    }
}

bool CReaderPage::OnInitDialog()
{
    for (int id : {IDC_READER_CONNECT_PERIOD_SPIN, IDC_READER_CHECKIN_PERIOD_SPIN, IDC_READER_RECEIVE_TIMEOUT_SPIN,
                   IDC_READER_CONNECT_TIMEOUT_SPIN, IDC_SEARCH_TIMEOUT_SPIN})
        SetSpinRange(m_hWnd, id, -1, 0x7FFFFFFF);
    for (int id : {IDC_READER_MAX_TRIES_SPIN, IDC_SEARCH_TRIES_SPIN})
        SetSpinRange(m_hWnd, id, 1, 0x7FFFFFFF);

    std::wstring autoText;
    LoadResString(IDS_LANGUAGE_AUTO, autoText);
    HWND models = Item(IDC_READER_MODEL);
    SendMessageW(models, CB_RESETCONTENT, 0, 0);
    SendMessageW(models, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(autoText.c_str()));
    for (int model = 1; model < kReaderModelCount; ++model)
        SendMessageW(models, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ReaderModelNames[model]));
    HWND speeds = Item(IDC_READER_SPEED);
    SendMessageW(speeds, CB_RESETCONTENT, 0, 0);
    SendMessageW(speeds, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(autoText.c_str()));
    for (DWORD speed : ReaderSpeeds)
        SendMessageW(speeds, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_wstring(speed).c_str()));
    HWND stopBits = Item(IDC_READER_STOPBITS);
    SendMessageW(stopBits, CB_RESETCONTENT, 0, 0);
    for (const wchar_t* text : {L"1", L"1.5", L"2"})
        SendMessageW(stopBits, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));

    if (CToolTipCtrl* tips = MainToolTip()) {
        for (int id : kTipControls)
            tips->AddWindowTool(Item(id));
    }
    ExchangeData(false);
    Observe(Doc());
    return true;
}

void CReaderPage::ExchangeData(bool save)
{
    if (!save) {
        UpdatingScope updating(m_hWnd);
        FillReaderGroup();
        FillSearchGroup();
        return;
    }
    CDocUpdateScope scope(Doc(), ObserverKey());
    for (const NumberEdit& edit : kNumberEdits)
        StoreEdit(edit.id);
}

void CReaderPage::FillReaderGroup()
{
    UpdatingScope updating(m_hWnd);
    const ReaderSettings& r = Doc().reader;
    SendItem(IDC_READER_MODEL, CB_SETCURSEL, static_cast<WPARAM>(r.model), 0);
    int speed = -1;
    if (r.speed == 0)
        speed = 0;
    else if (const int index = ReaderSpeedIndex(r.speed); index >= 0)
        speed = index + 1;
    SendItem(IDC_READER_SPEED, CB_SETCURSEL, static_cast<WPARAM>(speed), 0);
    SendItem(IDC_READER_STOPBITS, CB_SETCURSEL, r.stopBits, 0);
    for (const FlagCheck& check : kReaderChecks)
        CheckItem(check.id, (r.flags & check.bit));
    SetEditNumber(m_hWnd, IDC_READER_CONNECT_TIMEOUT, r.connectTimeout, true);
    SetEditNumber(m_hWnd, IDC_READER_CHECKIN_PERIOD, r.checkInPeriod, true);
    SetEditNumber(m_hWnd, IDC_READER_RECEIVE_TIMEOUT, r.receiveTimeout, true);
    SetEditNumber(m_hWnd, IDC_READER_MAX_TRIES, r.maxTries, false);
    SetEditNumber(m_hWnd, IDC_READER_CONNECT_PERIOD, r.connectPeriod, true);
    MarkStatesStale();
}

void CReaderPage::FillSearchGroup()
{
    UpdatingScope updating(m_hWnd);
    const ReaderSettings& r = Doc().reader;
    for (const FlagCheck& check : kSearchChecks)
        CheckItem(check.id, (r.searchFlags & check.bit));
    SetEditNumber(m_hWnd, IDC_SEARCH_TIMEOUT, r.searchReceiveTimeout, true);
    SetEditNumber(m_hWnd, IDC_SEARCH_TRIES, r.searchMaxTries, false);
    MarkStatesStale();
}

void CReaderPage::UpdateControlStates()
{
    const ReaderSettings& r = Doc().reader;
    const bool vcom = (r.searchFlags & SEARCH_VCOM) != 0;
    for (int id : {IDC_SEARCH_FILTER_VIDPID, IDC_SEARCH_FILTER_DESC})
        EnableItem(id, vcom);
    const bool ip = (r.searchFlags & SEARCH_IP) != 0;
    for (int id : {IDC_SEARCH_TIMEOUT_LABEL, IDC_SEARCH_TIMEOUT, IDC_SEARCH_TIMEOUT_SPIN, IDC_SEARCH_TRIES_LABEL,
                   IDC_SEARCH_TRIES, IDC_SEARCH_TRIES_SPIN})
        EnableItem(id, ip);
    const bool wiegand = r.model == 0 || r.model == kModelWithWiegand;
    ShowWindow(Item(IDC_READER_WIEGAND), wiegand ? SW_SHOWNA : SW_HIDE);
}

void CReaderPage::StoreModel(int model)
{
    if (Doc().reader.model == model)
        return;
    auto edit = Doc().EditReaderSettings();
    edit->model = model;
}

void CReaderPage::StoreEdit(int id)
{
    const NumberEdit* edit = nullptr;
    for (const NumberEdit& e : kNumberEdits)
        if (e.id == id)
            edit = &e;
    if (!edit)
        return;
    std::wstring text;
    int32_t value = 0;
    GetItemText(id, text);
    if (!ParseEditNumber(text, edit->isSigned, value))
        return;
    CTransferDoc& doc = Doc();
    switch (id) {
    case IDC_READER_CONNECT_TIMEOUT: doc.SetConnectTimeout(value); break;
    case IDC_READER_CHECKIN_PERIOD: doc.SetCheckInPeriod(value); break;
    case IDC_READER_RECEIVE_TIMEOUT: doc.SetReceiveTimeout(value); break;
    case IDC_READER_MAX_TRIES: doc.SetMaxTries(value); break;
    case IDC_READER_CONNECT_PERIOD: doc.SetConnectPeriod(value); break;
    case IDC_SEARCH_TIMEOUT: doc.SetSearchReceiveTimeout(value); break;
    case IDC_SEARCH_TRIES: doc.SetSearchMaxTries(value); break;
    default: break;
    }
}

bool CReaderPage::OnCommand(int id, int code, HWND control)
{
    CTransferDoc& doc = Doc();
    switch (id) {
    case IDC_READER_MODEL:
        if (const int model = ChosenIndex(code, control, kReaderModelCount); model >= 0) {
            {
                CDocUpdateScope scope(doc, ObserverKey());
                StoreModel(model);
            }
            UpdateControlStates();
        }
        return true;
    case IDC_READER_SPEED:
        if (const int index = ChosenIndex(code, control); index >= 0) {
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetReaderSpeed(index >= 1 && index <= kReaderSpeedCount ? ReaderSpeeds[index - 1] : 0);
        }
        return true;
    case IDC_READER_STOPBITS:
        if (const int index = ChosenIndex(code, control); index >= 0) {
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetReaderStopBits(static_cast<uint8_t>(index));
        }
        return true;
    default:
        break;
    }
    for (const NumberEdit& edit : kNumberEdits) {
        if (edit.id == id) {
            if (code == EN_KILLFOCUS) {
                CDocUpdateScope scope(doc, ObserverKey());
                StoreEdit(id);
            }
            return true;
        }
    }
    const bool checked = control && SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    for (const FlagCheck& check : kReaderChecks) {
        if (check.id == id) {
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetReaderFlags(WithBit(doc.reader.flags, check.bit, checked));
            return true;
        }
    }
    for (const FlagCheck& check : kSearchChecks) {
        if (check.id == id) {
            {
                CDocUpdateScope scope(doc, ObserverKey());
                doc.SetSearchFlags(WithBit(doc.reader.searchFlags, check.bit, checked));
            }
            if (id == IDC_SEARCH_VCOM || id == IDC_SEARCH_IP)
                UpdateControlStates();
            return true;
        }
    }
    return false;
}

void CReaderPage::RestoreDefaults()
{
    CTransferDoc& doc = Doc();
    const ReaderSettings defaults;
    CDocUpdateScope scope(doc);
    StoreModel(0);
    doc.SetReaderSpeed(0);
    doc.SetReaderStopBits(0);
    doc.SetReaderFlags(defaults.flags);
    doc.SetConnectTimeout(10000);
    doc.SetReceiveTimeout(3000);
    doc.SetMaxTries(2);
    doc.SetConnectPeriod(3000);
    doc.SetCheckInPeriod(-1);
    doc.SetSearchFlags(defaults.searchFlags);
    doc.SetSearchReceiveTimeout(3000);
    doc.SetSearchMaxTries(1);
}

bool CReaderPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (OnControlTipNotify(nmh, MainToolTip(), m_tip))
        return true;
    return CBasePage::OnNotify(id, nmh, result);
}

bool CReaderPage::ShowChange(CDocument*, const uint32_t* bits)
{
    if (bits[0] & TDC_READER) {
        UpdatingScope updating(m_hWnd);
        FillReaderGroup();
        FillSearchGroup();
    }
    return false;  // the groups mark the states as they fill
}

std::unique_ptr<CBasePage> CreateSourcePage(IPageHost& host)
{
    return std::make_unique<CSourcePage>(host);
}

std::unique_ptr<CBasePage> CreateReaderPage(IPageHost& host)
{
    return std::make_unique<CReaderPage>(host);
}
