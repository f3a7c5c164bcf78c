// Row dragging of the table control: the drop mark, the auto-scroll and the TN_DRAG*
// notifications that leave every decision to the parent.
#include <windowsx.h>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "framework/Holders.h"
#include "framework/TableCtrl.h"

namespace {

constexpr UINT_PTR kAutoScrollTimer = 1;
constexpr int kAutoScrollBaseMs = 250;
constexpr int kIndentPixels = 16;

// The no-drop, move and copy cursors are those of the system's drag and drop (cursors 1 to 3
// of ole32.dll), read from the library as a data file.
bool LoadDragCursors(HCURSOR (&cursors)[3])
{
    HMODULE library = LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!library)
        return false;
    bool all = true;
    for (int i = 0; i < 3; ++i) {
        cursors[i] = static_cast<HCURSOR>(LoadImageW(library, MAKEINTRESOURCEW(i + 1), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
        all = all && cursors[i];
    }
    FreeLibrary(library);
    return all;
}

RECT ItemBounds(HWND list, int row, bool& ok)
{
    RECT r{LVIR_BOUNDS};
    ok = SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r)) != FALSE;
    return r;
}

class CPenSelection
{
public:
    CPenSelection(HDC dc, HPEN pen) : m_dc(dc), m_pen(pen), m_old(SelectObject(dc, pen)) {}
    ~CPenSelection()
    {
        SelectObject(m_dc, m_old);
        DeleteObject(m_pen);
    }
    CPenSelection(const CPenSelection&) = delete;
    CPenSelection& operator=(const CPenSelection&) = delete;

private:
    HDC m_dc;
    HPEN m_pen;
    HGDIOBJ m_old;
};

} // namespace

TableDragState::~TableDragState()
{
    for (HCURSOR& c : cursors) {
        if (c)
            DestroyCursor(c);
        c = nullptr;
    }
}

CTableCtrl::DragHit CTableCtrl::DragHitTest(POINT point, bool withInterval) const
{
    RECT area{};
    GetClientRect(m_hWnd, &area);
    HWND header = GetHeader();
    if (header && IsWindowVisible(header)) {
        RECT hr{};
        GetWindowRect(header, &hr);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&hr), 2);
        area.top = std::max(area.top, hr.bottom);
    }

    DragHit hit;
    if (PtInRect(&area, point)) {
        LVHITTESTINFO info{};
        info.pt = point;
        const int row = static_cast<int>(SendMessageW(m_hWnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info)));
        bool ok = false;
        const RECT r = row >= 0 ? ItemBounds(m_hWnd, row, ok) : RECT{};
        if (!ok) {
            hit.row = kRowAfterLast;
            return hit;
        }
        const int h = r.bottom - r.top;
        hit.row = row;
        hit.found = true;
        hit.after = point.y >= r.top + h / 2;
        hit.onItem = point.y >= r.top + h / 4 && point.y < r.bottom - h / 4;
        return hit;
    }

    bool ok = false;
    const RECT first = ItemBounds(m_hWnd, 0, ok);
    const int h = ok ? first.bottom - first.top : 0;
    if (h <= 0) {
        // No row height to measure distances by: no auto-scroll.
        hit.row = 0;
        return hit;
    }
    const bool above = point.y < area.top, below = point.y >= area.bottom;
    hit.row = above ? 0 : below ? kRowAfterLast : -1;
    if (!withInterval || !(GetWindowLongPtrW(m_hWnd, GWL_STYLE) & WS_VSCROLL))
        return hit;
    const int top = static_cast<int>(SendMessageW(m_hWnd, LVM_GETTOPINDEX, 0, 0));
    const int perPage = static_cast<int>(SendMessageW(m_hWnd, LVM_GETCOUNTPERPAGE, 0, 0));
    // Faster with every further row height away from the edge.
    if (above && top > 0)
        hit.interval = kAutoScrollBaseMs / ((point.y - area.top) / h - 1);
    else if (below && top + perPage < GetItemCount())
        hit.interval = kAutoScrollBaseMs / ((point.y - area.bottom) / h + 1);
    return hit;
}

void CTableCtrl::BeginDrag(POINT point)
{
    const DragHit hit = DragHitTest(point, false);
    TableDragInfo info{};
    info.point = point;
    info.row = hit.row;
    info.after = hit.after;
    info.onItem = hit.onItem;
    info.cursor = hit.found ? DRAG_CURSOR_MOVE : DRAG_CURSOR_NODROP;
    if (!NotifyParent(TN_DRAGBEGIN, &info.hdr))
        return;
    auto state = std::make_unique<TableDragState>();
    if (!LoadDragCursors(state->cursors))
        return;
    state->point = info.point;
    state->cursor = info.cursor;
    m_drag = std::move(state);
    SetFocus(m_hWnd);
    SetCapture(m_hWnd);
    DragUpdate(info.row, info.after, info.onItem, info.cursor, 0, true);
}

void CTableCtrl::OnDragMouseMove(POINT point)
{
    m_drag->point = point;
    const DragHit hit = DragHitTest(point, true);
    TableDragInfo info{};
    info.point = point;
    info.row = hit.row;
    info.after = hit.after;
    info.onItem = hit.onItem;
    info.cursor = hit.found ? DRAG_CURSOR_MOVE : m_drag->cursor;
    if (!NotifyParent(TN_DRAGMOVE, &info.hdr))
        info.onItem = false;
    if (m_drag) // the parent may have ended it
        DragUpdate(info.row, info.after, info.onItem, info.cursor, hit.interval, false);
}

LRESULT CTableCtrl::OnDragMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    switch (message) {
    case WM_SETCURSOR:
        SetCursor(m_drag->cursors[std::clamp(m_drag->cursor, 0, 2)]);
        handled = true;
        return 1;
    case WM_TIMER:
        if (wParam != kAutoScrollTimer)
            return 0;
        AutoScrollStep();
        handled = true;
        return 0;
    case WM_MOUSEMOVE:
        OnDragMouseMove(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_LBUTTONUP:
        EndDrag(m_drag->cursor == DRAG_CURSOR_NODROP, true);
        return 0;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != m_hWnd)
            EndDrag(true, true);
        return 0;
    default:
        return 0;
    }
}

void CTableCtrl::DragUpdate(int row, bool after, bool onItem, int cursor, int interval, bool forceCursor)
{
    TableDragState& s = *m_drag;
    if (cursor != s.cursor || forceCursor) {
        s.cursor = std::clamp(cursor, 0, 2);
        SetCursor(s.cursors[s.cursor]);
    }
    bool redrawn = false;
    if (row != s.row || after != s.after || onItem != s.onItem) {
        DrawDropMark(row, after, onItem, s.row);
        s.row = row;
        s.after = after;
        s.onItem = onItem;
        redrawn = true;
    }
    if (interval != 0 && interval != s.interval) {
        SetTimer(m_hWnd, kAutoScrollTimer, static_cast<UINT>(std::abs(interval)), nullptr);
        s.interval = interval;
        AutoScrollStep();
    } else if (interval == 0 && s.interval != 0) {
        KillTimer(m_hWnd, kAutoScrollTimer);
        s.interval = 0;
        if (!redrawn)
            DrawDropMark(s.row, s.after, s.onItem, s.row);
    }
}

void CTableCtrl::AutoScrollStep()
{
    if (!m_drag || m_drag->interval == 0)
        return;
    TableDragState& s = *m_drag;
    const bool down = s.interval > 0;
    const int before = GetScrollPos(m_hWnd, SB_VERT);
    SendMessageW(m_hWnd, WM_VSCROLL, down ? SB_LINEDOWN : SB_LINEUP, 0);
    if (GetScrollPos(m_hWnd, SB_VERT) != before) {
        // The scroll moved the mark's pixels with the rows: draw it where its row is now.
        DrawDropMark(s.row, s.after, s.onItem, s.row);
        return;
    }
    KillTimer(m_hWnd, kAutoScrollTimer);
    s.interval = 0;
    const int row = down ? kRowAfterLast : 0;
    DrawDropMark(row, false, false, s.row);
    s.row = row;
    s.after = false;
    s.onItem = false;
}

void CTableCtrl::DrawDropMark(int row, bool after, bool onItem, int oldRow)
{
    if (oldRow == kRowAfterLast) {
        InvalidateRect(m_hWnd, nullptr, TRUE);
        UpdateWindow(m_hWnd);
    } else if (oldRow >= 0) {
        SendMessageW(m_hWnd, LVM_REDRAWITEMS, static_cast<WPARAM>(oldRow), static_cast<LPARAM>(oldRow));
        UpdateWindow(m_hWnd);
    }
    if (row == -1)
        return;

    const int count = GetItemCount();
    const bool afterLast = row == kRowAfterLast || row >= count;
    if (afterLast && count == 0)
        return; // no row to draw beside
    bool ok = false;
    RECT r = ItemBounds(m_hWnd, afterLast ? count - 1 : row, ok);
    if (!ok)
        return;
    if (!afterLast) {
        LVITEMW item{};
        item.mask = LVIF_INDENT;
        item.iItem = row;
        if (SendMessageW(m_hWnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
            r.left += item.iIndent * kIndentPixels;
    }

    CClientDC dc(m_hWnd);
    if (onItem && !afterLast) {
        CPenSelection pen(dc, CreatePen(PS_DOT, 1, RGB(0, 0, 0)));
        const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        const int oldMode = SetBkMode(dc, TRANSPARENT);
        Rectangle(dc, r.left, r.top, r.right, r.bottom);
        SetBkMode(dc, oldMode);
        SelectObject(dc, oldBrush);
        return;
    }
    constexpr int kPenWidth = 2;
    CPenSelection pen(dc, CreatePen(PS_SOLID, kPenWidth, RGB(0, 0, 0)));
    const int y = (after || afterLast) ? r.bottom - kPenWidth / 2 : r.top + kPenWidth / 2;
    MoveToEx(dc, r.left, y, nullptr);
    LineTo(dc, r.right, y);
}

void CTableCtrl::EndDrag(bool cancelled, bool notify)
{
    if (!m_drag)
        return;
    // Freed first: the capture's release and the parent's answer find no drag running.
    const TableDragState& s = *m_drag;
    TableDragInfo info{};
    info.point = s.point;
    info.row = s.row;
    info.after = s.after;
    info.onItem = s.onItem;
    info.cursor = s.cursor;
    info.flag = cancelled;
    const bool timer = s.interval != 0;
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    m_drag.reset();
    if (timer)
        KillTimer(m_hWnd, kAutoScrollTimer);
    if (GetCapture() == m_hWnd)
        ReleaseCapture();
    DrawDropMark(-1, false, false, info.row);
    if (notify)
        NotifyParent(TN_DRAGEND, &info.hdr);
}
