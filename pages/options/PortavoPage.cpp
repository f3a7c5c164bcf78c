// The bridge link page and its client and server sub-pages.
#include "pages/options/PortavoPage.h"

#include <commctrl.h>

#include "config/AppSettings.h"
#include "config/KeyNumber.h"
#include "config/TransferDoc.h"
#include "pages/PageHost.h"
#include "pages/PageRegistry.h"
#include "pages/options/OptionNumbers.h"
#include "resources/resource.h"

namespace {

std::wstring JoinAddress(const std::wstring& host, int port)
{
    return host + L":" + std::to_wstring(port);
}

} // namespace

// ---- CPtvPage ----

CPtvPage::CPtvPage(int templateId, CPortavoPage& owner) : CDialog(templateId), m_owner(owner)
{
}

bool CPtvPage::OnInitDialog()
{
    LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    style = (style & ~static_cast<LONG_PTR>(WS_CAPTION | WS_DISABLED)) | DS_CONTROL;
    SetWindowLongPtrW(m_hWnd, GWL_STYLE, style);
    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    m_layout.parent = m_hWnd;
    OnInitPage();
    CaptureLayout(m_layout);
    ExchangeData(false);
    return true;
}

void CPtvPage::OnSize(UINT, int width, int height)
{
    if (m_layout.parent)
        ApplyLayout(m_layout, width, height);
}

LRESULT CPtvPage::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLORDLG:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    default:
        return CDialog::HandleMessage(hwnd, message, wParam, lParam);
    }
}

void CPtvPage::StoreNumber(int editId, std::optional<int64_t> (*parse)(const std::wstring&),
                           const std::function<void(CTransferDoc& doc, int64_t typed)>& store)
{
    const std::optional<int64_t> typed = parse(ItemText(editId));
    if (!typed)
        return;
    CTransferDoc& doc = m_owner.Host().GetTransferDoc();
    CDocUpdateScope scope(doc, m_owner.ObserverKey());
    store(doc, *typed);
}

bool CPtvPage::OnCommand(int id, int code, HWND control)
{
    if (code == EN_CHANGE)
        MarkTyping();
    else if (code == EN_KILLFOCUS)
        StoreEdit(id);
    else
        return CDialog::OnCommand(id, code, control);
    return true;
}

void CPtvPage::MarkTyping()
{
    CTransferDoc& doc = m_owner.Host().GetTransferDoc();
    if (doc.IsUnsaved())
        return;
    CDocUpdateScope scope(doc, m_owner.ObserverKey());
    doc.SetUnsaved(true);
}

// ---- CPtvClientPage ----

CPtvClientPage::CPtvClientPage(CPortavoPage& owner) : CPtvPage(IDD_PTV_CLIENT, owner)
{
}

void CPtvClientPage::OnInitPage()
{
    SendItem(IDC_PTV_PORT_SPIN, UDM_SETRANGE32, 1, 65535);
    SendItem(IDC_PTV_PERIOD_SPIN, UDM_SETRANGE32, static_cast<WPARAM>(-1), INT32_MAX);
    m_layout.Add(IDC_PTV_CLIENT_GROUP, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
}

void CPtvClientPage::ExchangeData(bool save)
{
    if (save) {
        StorePort();
        StoreHost();
        StorePeriod();
        return;
    }
    const _TRANS_DST_PORTAVO& bridge = m_owner.Host().GetTransferDoc().Portavo();
    std::wstring host;
    int port = 0;
    SplitAddressPort(bridge.address, host, port);
    UpdatingScope updating(m_hWnd);
    SetItemText(IDC_PTV_HOST, host.c_str());
    SetItemText(IDC_PTV_PORT, std::to_wstring(port).c_str());
    // Signed: -1 is a period the field accepts and must show as typed.
    SetItemText(IDC_PTV_PERIOD, std::to_wstring(bridge.connectPeriod).c_str());
}

void CPtvClientPage::StoreHost()
{
    CTransferDoc& doc = m_owner.Host().GetTransferDoc();
    std::wstring host;
    int port = 0;
    SplitAddressPort(doc.Portavo().address, host, port);
    const std::wstring typed = ItemText(IDC_PTV_HOST);
    if (typed == host)
        return;
    CDocUpdateScope scope(doc, m_owner.ObserverKey());
    doc.SetPortavoClient(JoinAddress(typed, port), doc.Portavo().connectPeriod);
}

void CPtvClientPage::StorePort()
{
    StoreNumber(IDC_PTV_PORT, ParsePortField, [](CTransferDoc& doc, int64_t typed) {
        std::wstring host;
        int port = 0;
        SplitAddressPort(doc.Portavo().address, host, port);
        if (typed != port)
            doc.SetPortavoClient(JoinAddress(host, static_cast<int>(typed)), doc.Portavo().connectPeriod);
    });
}

void CPtvClientPage::StorePeriod()
{
    StoreNumber(IDC_PTV_PERIOD, ParseInt32Field, [](CTransferDoc& doc, int64_t typed) {
        doc.SetPortavoClient(doc.Portavo().address, static_cast<int32_t>(typed));
    });
}

void CPtvClientPage::StoreEdit(int editId)
{
    editId == IDC_PTV_HOST ? StoreHost() : editId == IDC_PTV_PORT ? StorePort() : StorePeriod();
}

// ---- CPtvServerPage ----

CPtvServerPage::CPtvServerPage(CPortavoPage& owner) : CPtvPage(IDD_PTV_SERVER, owner)
{
}

void CPtvServerPage::OnInitPage()
{
    SendItem(IDC_PTV_LOCAL_PORT_SPIN, UDM_SETRANGE32, 1, 65535);
    SendItem(IDC_PTV_MAX_SPIN, UDM_SETRANGE32, 1, 8);
    m_layout.Add(IDC_PTV_SERVER_GROUP, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_layout.Add(IDC_PTV_CONNECTIONS, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
}

void CPtvServerPage::ExchangeData(bool save)
{
    if (save) {
        StorePort();
        StoreMaxConnections();
        return;
    }
    const _TRANS_DST_PORTAVO& bridge = m_owner.Host().GetTransferDoc().Portavo();
    {
        UpdatingScope updating(m_hWnd);
        SetItemText(IDC_PTV_LOCAL_PORT, std::to_wstring(bridge.port).c_str());
        SetItemText(IDC_PTV_MAX_CONNECTIONS, std::to_wstring(bridge.maxConnections).c_str());
    }
    RefreshConnections();
}

void CPtvServerPage::StorePort()
{
    StoreNumber(IDC_PTV_LOCAL_PORT, ParsePortField, [](CTransferDoc& doc, int64_t typed) {
        doc.SetPortavoServer(static_cast<uint16_t>(typed), doc.Portavo().maxConnections);
    });
}

void CPtvServerPage::StoreMaxConnections()
{
    StoreNumber(IDC_PTV_MAX_CONNECTIONS, ParseInt32Field, [](CTransferDoc& doc, int64_t typed) {
        doc.SetPortavoServer(doc.Portavo().port, static_cast<int32_t>(typed));
    });
}

void CPtvServerPage::RefreshConnections()
{
    HWND list = Item(IDC_PTV_CONNECTIONS);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    std::vector<std::wstring> peers;
    if (!m_owner.Host().GetBridgeConnections(peers))
        return;
    for (const std::wstring& peer : peers)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(peer.c_str()));
}

void CPtvServerPage::StoreEdit(int editId)
{
    editId == IDC_PTV_LOCAL_PORT ? StorePort() : StoreMaxConnections();
}

// ---- CPortavoPage ----

CPortavoPage::CPortavoPage(IPageHost& host) : CBasePage(IDD_PORTAVO_PAGE, &host)
{
}

CPortavoPage::~CPortavoPage() = default;

std::unique_ptr<CBasePage> CreatePortavoPage(IPageHost& host)
{
    return std::make_unique<CPortavoPage>(host);
}

CPtvPage* CPortavoPage::ShownSubPage() const
{
    return m_shown >= 0 ? m_subPages[m_shown].get() : nullptr;
}

CPtvServerPage* CPortavoPage::ServerPage() const
{
    return static_cast<CPtvServerPage*>(m_subPages[1].get());
}

bool CPortavoPage::OnInitDialog()
{
    RECT area{};
    GetWindowRect(Item(IDC_PTV_AREA), &area);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&area), 2);
    m_areaTop = area.top;
    ExchangeData(false);
    m_tips.Add(*m_host, m_hWnd, {IDC_PTV_CLIENT, IDC_PTV_SERVER});
    Observe(m_host->GetSettings());
    return true;
}

void CPortavoPage::OnSize(UINT, int, int)
{
    if (CPtvPage* page = ShownSubPage())
        PlaceSubPage(*page);
}

void CPortavoPage::OnDestroy()
{
    m_tips.Remove();
    for (auto& page : m_subPages) {
        if (page)
            page->Destroy();
        page.reset();
    }
    m_shown = -1;
}

void CPortavoPage::ExchangeData(bool save)
{
    if (save) {
        for (auto& page : m_subPages)
            if (page && page->m_hWnd)
                page->ExchangeData(true);
        return;
    }
    const _TRANS_DST_PORTAVO& bridge = m_host->GetTransferDoc().Portavo();
    {
        UpdatingScope updating(m_hWnd);
        CheckItem(IDC_PTV_NVT, bridge.nvt);
    }
    ChooseType(bridge.mode);
    for (auto& page : m_subPages)
        if (page && page->m_hWnd)
            page->ExchangeData(false);
}

void CPortavoPage::ChooseType(int type)
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    {
        CDocUpdateScope scope(doc, ObserverKey());
        doc.SetPortavoType(type);
    }
    const int index = type - 1;
    if (index == m_shown)
        return;
    if (CPtvPage* old = ShownSubPage())
        ShowWindow(old->m_hWnd, SW_HIDE);
    m_shown = -1;
    UpdatingScope updating(m_hWnd);
    if (index < 0 || index > 1) {
        CheckItem(IDC_PTV_CLIENT, false);
        CheckItem(IDC_PTV_SERVER, false);
        return;
    }
    std::unique_ptr<CPtvPage>& page = m_subPages[index];
    if (!page) {
        if (index == 0)
            page = std::make_unique<CPtvClientPage>(*this);
        else
            page = std::make_unique<CPtvServerPage>(*this);
        if (!page->CreateDialogWindow(m_hWnd)) {
            page.reset();
            return;
        }
    }
    m_shown = index;
    PlaceSubPage(*page);
    ShowWindow(page->m_hWnd, SW_SHOWNA);
    CheckRadioButton(m_hWnd, IDC_PTV_CLIENT, IDC_PTV_SERVER, type + 1114);
}

void CPortavoPage::PlaceSubPage(CPtvPage& page)
{
    RECT client;
    GetClientRect(m_hWnd, &client);
    SetWindowPos(page.m_hWnd, nullptr, 0, m_areaTop, client.right, std::max<int>(0, client.bottom - m_areaTop),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CPortavoPage::OnCommand(int id, int code, HWND control)
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    switch (id) {
    case IDC_PTV_CLIENT:
    case IDC_PTV_SERVER:
        if (code == BN_CLICKED)
            ChooseType(id == IDC_PTV_CLIENT ? PORTAVO_CLIENT : PORTAVO_SERVER);
        return true;
    case IDC_PTV_NVT:
        if (code == BN_CLICKED) {
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetPortavoNvt(IsItemChecked(id));
        }
        return true;
    default:
        return CBasePage::OnCommand(id, code, control);
    }
}

void CPortavoPage::RestoreDefaults()
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    const _TRANS_DST_PORTAVO defaults;
    {
        CDocUpdateScope scope(doc);
        doc.SetPortavoType(defaults.mode);
        doc.SetPortavoNvt(defaults.nvt);
        doc.SetPortavoServer(defaults.port, defaults.maxConnections);
        doc.SetPortavoClient(defaults.address, defaults.connectPeriod);
    }
    ExchangeData(false);
}

bool CPortavoPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    return m_tips.Answer(m_hWnd, nmh) || CBasePage::OnNotify(id, nmh, result);
}

void CPortavoPage::OnDocumentChanged(CDocument* doc, const uint32_t* bits)
{
    CAppSettings& settings = m_host->GetSettings();
    if (doc != &settings)
        return;
    const bool refresh = (bits[0] & ASC_TRANSFER_ON) ||
                         ((bits[0] & ASC_STATE) && (settings.GetDetails().state & ASS_BRIDGE_CONNECTIONS));
    if (refresh)
        if (CPtvServerPage* server = ServerPage(); server && server->m_hWnd)
            server->RefreshConnections();
}
