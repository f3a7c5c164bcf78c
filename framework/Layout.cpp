#include "framework/Layout.h"
#include <commctrl.h>

void AnchorLayout::Add(int controlId, int flags)
{
    AnchorItem item;
    item.controlId = controlId;
    item.flags = flags;
    item.window = parent ? GetDlgItem(parent, controlId) : nullptr;
    items.push_back(item);
}

void CaptureLayout(AnchorLayout& layout)
{
    if (!layout.parent)
        return;
    GetClientRect(layout.parent, &layout.client);
    POINT origin{0, 0};
    ClientToScreen(layout.parent, &origin);
    for (AnchorItem& item : layout.items) {
        if (!item.window)
            continue;
        GetWindowRect(item.window, &item.rect);
        OffsetRect(&item.rect, -origin.x, -origin.y);
    }
}

HDWP ApplyLayout(const AnchorLayout& layout, int width, int height, HDWP batch)
{
    if (!layout.parent)
        return batch;
    const bool ownBatch = batch == nullptr;
    if (ownBatch) {
        batch = BeginDeferWindowPos(static_cast<int>(layout.items.size()));
        if (!batch)
            return nullptr;
    }
    const int dx = width - (layout.client.right - layout.client.left);
    const int dy = height - (layout.client.bottom - layout.client.top);
    const int scrollX = GetScrollPos(layout.parent, SB_HORZ);
    const int scrollY = GetScrollPos(layout.parent, SB_VERT);

    for (const AnchorItem& item : layout.items) {
        if (!item.window)
            continue;
        RECT rc = item.rect;
        const int w = rc.right - rc.left;
        const int h = rc.bottom - rc.top;
        if (item.flags & ANCHOR_RIGHT)
            rc.right += dx;
        if (item.flags & ANCHOR_BOTTOM)
            rc.bottom += dy;
        if (!(item.flags & ANCHOR_TOP))
            rc.top = rc.bottom - h;
        if (!(item.flags & ANCHOR_LEFT))
            rc.left = rc.right - w;
        OffsetRect(&rc, -scrollX, -scrollY);
        UINT swp = SWP_NOZORDER | SWP_NOACTIVATE;
        if (item.flags & ANCHOR_NOCOPYBITS)
            swp |= SWP_NOCOPYBITS;
        // The batch may be reallocated; a failure has already freed it.
        batch = DeferWindowPos(batch, item.window, nullptr, rc.left, rc.top, rc.right - rc.left,
                               rc.bottom - rc.top, swp);
        if (!batch)
            return nullptr;
    }
    if (ownBatch) {
        EndDeferWindowPos(batch);
        return nullptr;
    }
    return batch;
}

void FitToolbar(HWND toolbar, int alignFlags)
{
    SIZE size{};
    SendMessageW(toolbar, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    RECT old;
    GetWindowRect(toolbar, &old);
    POINT corner{old.left, old.top};
    ScreenToClient(toolbar, &corner); // the non-client offset, as a negative position
    const int width = size.cx - corner.x + 2;
    const int height = size.cy - corner.y;

    if ((alignFlags & 5) == 1 || (alignFlags & 0xA) == 2) {
        SetWindowPos(toolbar, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    MapWindowPoints(nullptr, GetParent(toolbar), reinterpret_cast<POINT*>(&old), 2);
    const int oldWidth = old.right - old.left;
    const int oldHeight = old.bottom - old.top;
    const int x = (alignFlags & 5) == 4 ? old.right - width : old.left + (oldWidth - width) / 2;
    const int y = (alignFlags & 0xA) == 8 ? old.bottom - height : old.top + (oldHeight - height) / 2;
    SetWindowPos(toolbar, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}
