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

// A list view repaints every row of a change to all rows (-1) one by one, which takes seconds
// for many rows; with its redrawing off the change ends in one repaint.
class CBulkStateChange
{
public:
    explicit CBulkStateChange(HWND list) : m_list(list), m_locked(IsWindowVisible(list) != FALSE)
    {
        if (m_locked)
            SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
    }
    ~CBulkStateChange()
    {
        if (!m_locked)
            return;
        SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(m_list, nullptr, TRUE);
    }
    CBulkStateChange(const CBulkStateChange&) = delete;
    CBulkStateChange& operator=(const CBulkStateChange&) = delete;

private:
    HWND m_list;
    bool m_locked;
};

void SetAllRowsState(HWND list, UINT state, UINT mask)
{
    CBulkStateChange bulk(list);
    SetRowState(list, -1, state, mask);
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
    if (message != WM_NOTIFY || !nmh)
        return false;
    LRESULT ignored = 0;
    if (nmh->code == LVN_KEYDOWN)
        return OnKeyDown(reinterpret_cast<NMLVKEYDOWN*>(lParam), result ? result : &ignored);
    return OnListNotify(nmh, result ? result : &ignored);
}

bool CListCtrl::OnListNotify(NMHDR* nmh, LRESULT*)
{
    switch (nmh->code) {
    case LVN_GETDISPINFOW:
        if (!m_data)
            return false;
        m_data->GetDispInfo(&reinterpret_cast<NMLVDISPINFOW*>(nmh)->item);
        return true;
    case LVN_ODCACHEHINT: {
        if (!m_data)
            return false;
        const auto* hint = reinterpret_cast<const NMLVCACHEHINT*>(nmh);
        m_data->CacheHint(hint->iFrom, hint->iTo);
        return true;
    }
    case NM_CLICK: {
        const int row = events.toggleCheck ? StateIconRow(*reinterpret_cast<const NMITEMACTIVATE*>(nmh)) : -1;
        if (row < 0)
            return false;
        events.toggleCheck(row);
        return true;
    }
    case LVN_ITEMCHANGED: {
        if (!events.selectionChanged)
            return false;
        const auto* item = reinterpret_cast<const NMLISTVIEW*>(nmh);
        if ((item->uChanged & LVIF_STATE) && ((item->uNewState ^ item->uOldState) & LVIS_SELECTED))
            events.selectionChanged(item->iItem, item->iItem, (item->uNewState & LVIS_SELECTED) != 0);
        return true;
    }
    case LVN_ODSTATECHANGED: {
        if (!events.selectionChanged)
            return false;
        const auto* range = reinterpret_cast<const NMLVODSTATECHANGE*>(nmh);
        if ((range->uNewState ^ range->uOldState) & LVIS_SELECTED)
            events.selectionChanged(range->iFrom, range->iTo, (range->uNewState & LVIS_SELECTED) != 0);
        return true;
    }
    case NM_DBLCLK: {
        if (!events.activate)
            return false;
        const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(nmh);
        events.activate(click->iItem, click->ptAction);
        return true;
    }
    default:
        return false;
    }
}

bool CListCtrl::OnKeyDown(const NMLVKEYDOWN* key, LRESULT* result)
{
    const bool ctrl = IsKeyDown(VK_CONTROL), shift = IsKeyDown(VK_SHIFT), alt = IsKeyDown(VK_MENU);
    const unsigned modifiers = (ctrl ? LIST_KEY_CTRL : 0) | (shift ? LIST_KEY_SHIFT : 0) | (alt ? LIST_KEY_ALT : 0);
    if (events.keyDown && events.keyDown(key->wVKey, modifiers)) {
        // the owner's
    } else if (key->wVKey == VK_SPACE && events.toggleCheck) {
        std::vector<int> rows;
        GetSelectedItems(rows);
        for (int row : rows)
            events.toggleCheck(row);
    } else if (key->wVKey == 'A' && ctrl && !shift && !alt) {
        SetAllRowsState(m_hWnd, LVIS_SELECTED, LVIS_SELECTED);
    } else if (key->wVKey == VK_MULTIPLY && !ctrl && !shift && !alt) {
        InvertSelection();
    } else {
        return false;
    }
    if (result)
        *result = 1;
    return true;
}

void CListCtrl::InvertSelection()
{
    // One change of all rows, and single changes for the smaller part only.
    std::vector<int> selected;
    const int count = GetItemCount();
    GetSelectedItems(selected);
    CBulkStateChange bulk(m_hWnd);
    if (static_cast<int>(selected.size()) * 2 <= count) {
        SetRowState(m_hWnd, -1, LVIS_SELECTED, LVIS_SELECTED);
        for (int row : selected)
            SetRowState(m_hWnd, row, 0, LVIS_SELECTED);
        return;
    }
    SetRowState(m_hWnd, -1, 0, LVIS_SELECTED);
    size_t next = 0;
    for (int row = 0; row < count; ++row) {
        if (next < selected.size() && selected[next] == row)
            ++next;
        else
            SetRowState(m_hWnd, row, LVIS_SELECTED, LVIS_SELECTED);
    }
}

void CListCtrl::SelectOnly(int row, bool centre)
{
    ClearSelectionAndFocus();
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

void CListCtrl::ClearSelectionAndFocus()
{
    std::vector<int> selected;
    if (GetSelectedItems(selected) * 2 > GetItemCount()) {
        SetAllRowsState(m_hWnd, 0, LVIS_SELECTED | LVIS_FOCUSED);
        return;
    }
    for (int row : selected)
        SetRowState(m_hWnd, row, 0, LVIS_SELECTED);
    const int focused = static_cast<int>(SendMessageW(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    if (focused >= 0)
        SetRowState(m_hWnd, focused, 0, LVIS_FOCUSED);
}

int CListCtrl::StateIconRow(const NMITEMACTIVATE& click) const
{
    if (click.iItem < 0)
        return -1;
    LVHITTESTINFO hit{};
    hit.pt = click.ptAction;
    Send(LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    return (hit.flags & 0x0E) == LVHT_ONITEMSTATEICON ? hit.iItem : -1;
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
