// Tooltips of the option pages.
#include "pages/options/OptionTips.h"

#include "core/TextUtil.h"
#include "framework/Controls.h"
#include "framework/TableCtrl.h"
#include "pages/PageHost.h"

std::wstring LoadLongPart(UINT id)
{
    std::wstring text;
    LoadResString(id, text);
    const size_t feed = text.find(L'\n');
    return feed == std::wstring::npos ? text : text.substr(feed + 1);
}

void COptionTips::Add(IPageHost& host, HWND page, std::initializer_list<int> controlIds)
{
    m_tips = host.GetTableSettings().GetMainToolTip();
    m_page = page;
    m_ids.assign(controlIds.begin(), controlIds.end());
    if (!m_tips || !m_tips->m_hWnd)
        return;
    for (int id : m_ids)
        if (HWND control = GetDlgItem(page, id))
            m_tips->AddWindowTool(control);
}

void COptionTips::Remove()
{
    if (m_tips && m_tips->m_hWnd && m_page) {
        for (int id : m_ids)
            if (HWND control = GetDlgItem(m_page, id))
                m_tips->RemoveTool(control, 0);
    }
    m_tips = nullptr;
}

bool COptionTips::Answer(HWND page, NMHDR* nmh)
{
    if (nmh->code != TTN_GETDISPINFOW || !m_tips || nmh->hwndFrom != m_tips->m_hWnd)
        return false;
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(nmh);
    HWND control = (info->uFlags & TTF_IDISHWND) ? reinterpret_cast<HWND>(nmh->idFrom) : nullptr;
    // The tool may be a window inside the page's direct child.
    while (control && GetParent(control) != page)
        control = GetParent(control);
    if (!control)
        return false;
    m_text = LoadLongPart(static_cast<UINT>(GetDlgCtrlID(control)));
    info->lpszText = m_text.data();
    return true;
}
