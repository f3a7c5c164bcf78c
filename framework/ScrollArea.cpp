#include "framework/ScrollArea.h"
#include <algorithm>

int ScrollArea::MaxPosition(int content, int page)
{
    // The bar's range is 0 to content - 1 with that page, so the last position shows the last
    // pixel at the bottom edge. The bar setup and the scroll handler both use this one limit.
    if (page <= 0 || content <= page)
        return 0;
    return content - page;
}

void ScrollArea::OnVScroll(int code, HWND scrollBar)
{
    if (!window || code > SB_THUMBTRACK)
        return;
    int step = 0;
    switch (code) {
    case SB_LINEUP:
        step = -LineStep;
        break;
    case SB_LINEDOWN:
        step = LineStep;
        break;
    case SB_PAGEUP:
        step = -pageHeight;
        break;
    case SB_PAGEDOWN:
        step = pageHeight;
        break;
    default: { // SB_THUMBPOSITION, SB_THUMBTRACK
        SCROLLINFO si{sizeof(si), SIF_TRACKPOS};
        if (scrollBar)
            GetScrollInfo(scrollBar, SB_CTL, &si);
        else
            GetScrollInfo(window, SB_VERT, &si);
        step = si.nTrackPos - posY;
        break;
    }
    }
    const int newPos = std::clamp(posY + step, 0, MaxPosition(contentHeight, pageHeight));
    if (newPos == posY)
        return;
    const int change = newPos - posY;
    posY = newPos;
    SetScrollPos(window, SB_VERT, posY, TRUE);
    ScrollWindow(window, 0, -change, nullptr, nullptr);
}

void ScrollArea::Update()
{
    if (!window)
        return;
    RECT client, outer;
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    POINT corner{client.right, client.bottom};
    ClientToScreen(window, &corner);
    // The visible size as if there were no scroll bars.
    int visibleWidth = client.right;
    int visibleHeight = client.bottom;
    const int barWidth = GetSystemMetrics(SM_CXVSCROLL);
    const int barHeight = GetSystemMetrics(SM_CYHSCROLL);
    if (outer.right - corner.x >= barWidth)
        visibleWidth += barWidth;
    if (outer.bottom - corner.y >= barHeight)
        visibleHeight += barHeight;

    const int dx = UpdateBar(SB_HORZ, visibleWidth, contentWidth, pageWidth, posX);
    const int dy = UpdateBar(SB_VERT, visibleHeight, contentHeight, pageHeight, posY);
    if (dx || dy)
        ScrollWindow(window, dx, dy, nullptr, nullptr);
}

int ScrollArea::UpdateBar(int bar, int visible, int content, int& page, int& pos)
{
    const int barPos = GetScrollPos(window, bar);
    SCROLLINFO si{sizeof(si), SIF_RANGE | SIF_PAGE | SIF_POS};
    if (visible < content) {
        if (page > 0 && pos > 0)
            pos = static_cast<int>(static_cast<long long>(pos) * visible / page);
        page = visible;
        pos = std::clamp(pos, 0, MaxPosition(content, page));
        si.nMin = 0;
        si.nMax = content - 1;
        si.nPage = static_cast<UINT>(page);
        si.nPos = pos;
        SetScrollInfo(window, bar, &si, TRUE);
        return barPos - pos;
    }
    page = 0;
    pos = 0;
    si.nMin = si.nMax = 0;
    si.nPage = 0;
    si.nPos = 0;
    SetScrollInfo(window, bar, &si, TRUE); // an empty range hides the bar
    return barPos;
}
