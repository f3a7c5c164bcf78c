#include "framework/ListCtrl.h"

#include <algorithm>

#include "core/AppLog.h"
#include "framework/WinApp.h"

// ---- CVirtualListViewData ----

int CVirtualListViewData::FireEvent()
{
    if (!m_eventCallback)
        return 0;
    try {
        return m_eventCallback(m_eventContext, this, 0);
    } catch (const std::exception& e) {
        CWinApp* app = GetApp();
        if (app && app->IsLogged(LOG_THRESHOLD_ERROR))
            LogMessage(app, this, LOG_ERROR, L"Exception in CVirtualListViewData::FireEvent(): %hs", e.what());
        return 0;
    }
}

// ---- CListCtrl ----

namespace {

bool IsKeyDown(int key)
{
    return (GetKeyState(key) & 0x8000) != 0;
}

void SetRowState(HWND list, int row, UINT state, UINT mask)
{
    LVITEMW item{};
    item.stateMask = mask;
    item.state = state;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

} // namespace

LRESULT CListCtrl::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETDLGCODE) {
        LRESULT code = DefaultProc();
        if (wParam == VK_RETURN)
            code |= DLGC_WANTALLKEYS;
        return code;
    }
    return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
}

bool CListCtrl::OnReflected(UINT message, WPARAM, LPARAM lParam, LRESULT* result)
{
    auto* nmh = reinterpret_cast<NMHDR*>(lParam);
    if (message == WM_NOTIFY && nmh && nmh->code == LVN_KEYDOWN)
        return OnKeyDown(reinterpret_cast<NMLVKEYDOWN*>(lParam), result);
    return false;
}

bool CListCtrl::OnKeyDown(const NMLVKEYDOWN* key, LRESULT* result)
{
    const bool ctrl = IsKeyDown(VK_CONTROL), shift = IsKeyDown(VK_SHIFT), alt = IsKeyDown(VK_MENU);
    if (key->wVKey == 'A' && ctrl && !shift && !alt)
        SetRowState(m_hWnd, -1, LVIS_SELECTED, LVIS_SELECTED);
    else if (key->wVKey == VK_MULTIPLY && !ctrl && !shift && !alt)
        InvertSelection();
    else
        return false;
    if (result)
        *result = 1;
    return true;
}

void CListCtrl::InvertSelection()
{
    // Selecting all and clearing the rows that were selected toggles every row with messages
    // for the selected ones only: a list of many rows has few of them.
    std::vector<int> selected;
    GetSelectedItems(selected);
    SetRowState(m_hWnd, -1, LVIS_SELECTED, LVIS_SELECTED);
    for (int row : selected)
        SetRowState(m_hWnd, row, 0, LVIS_SELECTED);
}

void CListCtrl::SelectOnly(int row, bool centre)
{
    SetRowState(m_hWnd, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row == -1)
        return;
    SetRowState(m_hWnd, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    if (!centre)
        return;
    const int top = static_cast<int>(SendMessageW(m_hWnd, LVM_GETTOPINDEX, 0, 0));
    const int half = static_cast<int>(SendMessageW(m_hWnd, LVM_GETCOUNTPERPAGE, 0, 0)) / 2;
    const int target = row < top + half ? std::max(0, row - half + 1) : std::min(row + half, GetItemCount() - 1);
    SendMessageW(m_hWnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(target), TRUE);
}

int CListCtrl::GetSelectedItems(std::vector<int>& rows) const
{
    rows.clear();
    for (int row = -1;;) {
        row = static_cast<int>(SendMessageW(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED));
        if (row < 0)
            break;
        rows.push_back(row);
    }
    return static_cast<int>(rows.size());
}

bool CListCtrl::ScrollRowToTop(int row)
{
    RECT bounds{LVIR_BOUNDS};
    if (!SendMessageW(m_hWnd, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds)))
        return GetItemCount() == 0;
    SCROLLINFO si{sizeof(si), SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS};
    if (!GetScrollInfo(m_hWnd, SB_VERT, &si))
        return true; // every row fits: nothing to scroll
    const int last = std::max(si.nMin, si.nMax - std::max<int>(static_cast<int>(si.nPage), 1) + 1);
    row = std::clamp(row, si.nMin, last);
    if (row == si.nTrackPos)
        return true;
    const int height = bounds.bottom - bounds.top;
    return SendMessageW(m_hWnd, LVM_SCROLL, 0, static_cast<LPARAM>(height) * (row - si.nTrackPos)) != FALSE;
}

void CListCtrl::SetNoSortHeader(bool on)
{
    const LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    const LONG_PTR wanted = on ? (style | LVS_NOSORTHEADER) : (style & ~static_cast<LONG_PTR>(LVS_NOSORTHEADER));
    if (wanted != style)
        SetWindowLongPtrW(m_hWnd, GWL_STYLE, wanted);
    if (HWND header = GetHeader()) {
        const LONG_PTR hs = GetWindowLongPtrW(header, GWL_STYLE);
        const LONG_PTR hwanted = on ? (hs & ~static_cast<LONG_PTR>(HDS_BUTTONS)) : (hs | HDS_BUTTONS);
        if (hwanted != hs)
            SetWindowLongPtrW(header, GWL_STYLE, hwanted);
    }
}

int CListCtrl::GetItemCount() const
{
    return static_cast<int>(SendMessageW(m_hWnd, LVM_GETITEMCOUNT, 0, 0));
}

HWND CListCtrl::GetHeader() const
{
    return reinterpret_cast<HWND>(SendMessageW(m_hWnd, LVM_GETHEADER, 0, 0));
}
