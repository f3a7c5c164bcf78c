#include "pages/source/StatesPage.h"

#include "pages/PageHost.h"

void CStatesPage::OnIdleUpdate()
{
    if (!m_statesStale)
        return;
    m_statesStale = false;
    UpdateControlStates();
}

void CStatesPage::OnDocumentChanged(CDocument* doc, const uint32_t* bits)
{
    if (m_hWnd && IsWindow(m_hWnd) && ShowChange(doc, bits))
        MarkStatesStale();
}

void CStatesPage::MarkStatesStale()
{
    m_statesStale = true;
    m_host->MarkDirty(HostUpdate::PageIdle);
}

void EnableWithLabel(HWND page, int id, bool enable, bool withLabel)
{
    HWND control = GetDlgItem(page, id);
    EnableWindow(control, enable);
    if (HWND label = withLabel ? GetWindow(control, GW_HWNDPREV) : nullptr)
        EnableWindow(label, enable);
}
