#include "pages/options/AdvancedPage.h"

#include "config/AppSettings.h"
#include "pages/PageHost.h"
#include "pages/PageTable.h"
#include "pages/options/AdvAllPage.h"
#include "pages/options/AdvSimplePage.h"
#include "resources/resource.h"

CAdvancedPage::CAdvancedPage(IPageHost& host) : CBasePage(IDD_ADVANCED_PAGE, &host) {}

std::unique_ptr<CBasePage> CreateAdvancedPage(IPageHost& host)
{
    return std::make_unique<CAdvancedPage>(host);
}

void CAdvancedPage::SelectView(int n)
{
    CAppSettings& settings = m_host->GetSettings();
    CDocUpdateScope scope(settings);
    settings.SetAdvancedShowAll(n == 1);
    if (n == m_current)
        return;
    if (m_current >= 0 && View(m_current))
        ShowWindow(View(m_current)->m_hWnd, SW_HIDE);
    if (!m_views[static_cast<size_t>(n)]) {
        std::unique_ptr<CAdvPage> view;
        if (n == 0)
            view = std::make_unique<CAdvSimplePage>(*m_host);
        else
            view = std::make_unique<CAdvAllPage>(*m_host);
        if (!view->CreateDialogWindow(m_hWnd)) {
            m_current = -1;
            return;
        }
        m_views[static_cast<size_t>(n)] = std::move(view);
    }
    m_current = n;
    Layout();
    ShowWindow(View(n)->m_hWnd, SW_SHOW);
    CheckRadioButton(m_hWnd, IDC_ADV_SIMPLE, IDC_ADV_ALL, IDC_ADV_SIMPLE + n);
}

void CAdvancedPage::Layout()
{
    RECT client{};
    GetClientRect(m_hWnd, &client);
    HDWP batch = ApplyLayout(m_layout, client.right, client.bottom, BeginDeferWindowPos(4));
    if (m_current >= 0 && View(m_current) && batch) {
        RECT place{};
        GetWindowRect(Item(IDC_ADV_PLACE), &place);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&place), 2);
        batch = DeferWindowPos(batch, View(m_current)->m_hWnd, nullptr, 0, place.top, client.right,
                               client.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (batch)
        EndDeferWindowPos(batch);
}

void CAdvancedPage::ExchangeData(bool save)
{
    for (const auto& view : m_views)
        if (view)
            view->ExchangeData(save);
}

void CAdvancedPage::OnIdleUpdate()
{
    for (const auto& view : m_views)
        if (view)
            view->OnIdleUpdate();
}

bool CAdvancedPage::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_ADV_SIMPLE:
    case IDC_ADV_ALL:
        if (code == BN_CLICKED)
            SelectView(id - IDC_ADV_SIMPLE);
        return true;
    default:
        return CBasePage::OnCommand(id, code, control);
    }
}

bool CAdvancedPage::OnInitDialog()
{
    m_layout.parent = m_hWnd;
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        // The label before the radios has no id of its own: anchored by its window.
        if (static_cast<WORD>(GetDlgCtrlID(child)) == 0xFFFF) {
            AnchorItem label;
            label.window = child;
            label.flags = ANCHOR_RIGHT | ANCHOR_TOP;
            m_layout.items.push_back(label);
        }
    }
    m_layout.Add(IDC_ADV_SIMPLE, ANCHOR_RIGHT | ANCHOR_TOP);
    m_layout.Add(IDC_ADV_ALL, ANCHOR_RIGHT | ANCHOR_TOP);
    m_layout.Add(IDC_ADV_PLACE, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    CaptureLayout(m_layout);
    ExchangeData(false);
    SelectView(m_host->GetSettings().GetAdvancedShowAll() ? 1 : 0);
    return true;
}

void CAdvancedPage::OnSize(UINT, int, int)
{
    if (m_layout.parent)
        Layout();
}

void CAdvancedPage::RestoreDefaults()
{
    if (m_current >= 0 && View(m_current))
        View(m_current)->RestoreDefaults();
}

bool CAdvancedPage::CountRows(int& selected, int& total)
{
    return m_current == 1 && View(1) && View(1)->CountRows(selected, total);
}

void CAdvancedPage::OnDestroy()
{
    for (auto& view : m_views)
        if (view) {
            view->Destroy();
            view.reset();
        }
}
