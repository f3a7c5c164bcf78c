// Placement slots: the remembered positions, sizes and show states of the main window and
// the dialogs, saved into the settings and restored from them.
#include <windows.h>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/ShellServices.h"

namespace {

int32_t ShowStateOf(HWND window, const WINDOWPLACEMENT& wp)
{
    if (IsIconic(window) || wp.showCmd == SW_SHOWMINIMIZED || wp.showCmd == SW_MINIMIZE)
        return (wp.flags & WPF_RESTORETOMAXIMIZED) ? (SHOW_STATE_MINIMIZED | SHOW_STATE_MAXIMIZED)
                                                    : SHOW_STATE_MINIMIZED;
    if (IsZoomed(window) || wp.showCmd == SW_SHOWMAXIMIZED)
        return SHOW_STATE_MAXIMIZED;
    return SHOW_STATE_NORMAL;
}

// Normal positions are in workspace coordinates: relative to the work area of the primary
// monitor, which differs from the screen when a taskbar sits at the top or the left.
POINT WorkspaceOrigin()
{
    MONITORINFO mi{sizeof(mi)};
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &mi);
    return POINT{mi.rcWork.left - mi.rcMonitor.left, mi.rcWork.top - mi.rcMonitor.top};
}

RECT ToScreen(RECT r, POINT origin)
{
    OffsetRect(&r, origin.x, origin.y);
    return r;
}

RECT ToWorkspace(RECT r, POINT origin)
{
    OffsetRect(&r, -origin.x, -origin.y);
    return r;
}

RECT PrimaryWorkArea()
{
    MONITORINFO mi{sizeof(mi)};
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &mi);
    return mi.rcWork;
}

RECT WorkAreaNear(const RECT& r)
{
    MONITORINFO mi{sizeof(mi)};
    if (!GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTOPRIMARY), &mi))
        return PrimaryWorkArea();
    return mi.rcWork;
}

bool IntersectsSomeWorkArea(const RECT& screenRect)
{
    HMONITOR monitor = MonitorFromRect(&screenRect, MONITOR_DEFAULTTONULL);
    if (!monitor)
        return false;
    MONITORINFO mi{sizeof(mi)};
    RECT common;
    return GetMonitorInfoW(monitor, &mi) && IntersectRect(&common, &screenRect, &mi.rcWork);
}

// What a window without a stored position is centred on, and the work area it stays in.
void CentringReference(bool mainWindow, RECT& reference, RECT& workArea)
{
    HWND main = App().GetMainFrameWindow();
    if (!mainWindow && main && IsWindowVisible(main) && !IsIconic(main) && GetWindowRect(main, &reference)) {
        workArea = WorkAreaNear(reference);
        return;
    }
    reference = workArea = PrimaryWorkArea();
}

} // namespace

RECT CenterInWorkArea(SIZE size, const RECT& reference, const RECT& workArea)
{
    LONG left = reference.left + ((reference.right - reference.left) - size.cx) / 2;
    LONG top = reference.top + ((reference.bottom - reference.top) - size.cy) / 2;
    if (left + size.cx > workArea.right)
        left = workArea.right - size.cx;
    if (left < workArea.left)
        left = workArea.left;
    if (top + size.cy > workArea.bottom)
        top = workArea.bottom - size.cy;
    if (top < workArea.top)
        top = workArea.top;
    return RECT{left, top, left + size.cx, top + size.cy};
}

bool CNorvaneApp::ExchangeWindowPlacement(bool save, HWND window, int slot, int showStateSlot)
{
    if (slot < 0 || slot >= kWindowSlotCount || showStateSlot >= kShowStateSlotCount)
        return false;
    WINDOWPLACEMENT wp{sizeof(wp)};
    if (!window || !GetWindowPlacement(window, &wp))
        return false;
    const WindowSlot& stored = settings.windowSlots[slot];
    const POINT origin = WorkspaceOrigin();

    if (save) {
        // Each part marks the settings unsaved only while "history" remembers it.
        CDocUpdateScope scope(settings);
        if (showStateSlot >= 0)
            settings.SetShowState(showStateSlot, ShowStateOf(window, wp));
        const RECT& r = wp.rcNormalPosition;
        settings.SetWindowSlot(slot, WindowSlot{r.left, r.top, r.right - r.left, r.bottom - r.top});
        return true;
    }

    // 1. The size: stored, else the window's own.
    SIZE size{wp.rcNormalPosition.right - wp.rcNormalPosition.left,
              wp.rcNormalPosition.bottom - wp.rcNormalPosition.top};
    if (stored.width != kNoWindowPos && stored.height != kNoWindowPos && stored.width > 0 && stored.height > 0)
        size = SIZE{stored.width, stored.height};
    // 2. The position: stored, unless it lies on no monitor any more (one that was unplugged or
    // a resolution that shrank), else centred.
    RECT placed{};
    bool centre = stored.left == kNoWindowPos || stored.top == kNoWindowPos;
    if (!centre) {
        placed = RECT{stored.left, stored.top, stored.left + size.cx, stored.top + size.cy};
        centre = !IntersectsSomeWorkArea(ToScreen(placed, origin));
    }
    if (centre) {
        RECT reference, workArea;
        CentringReference(slot == kPlacementMainWindow, reference, workArea);
        placed = ToWorkspace(CenterInWorkArea(size, reference, workArea), origin);
    }
    wp.rcNormalPosition = placed;
    // 3. The show state.
    if (showStateSlot < 0) {
        if (!IsWindowVisible(window))
            wp.showCmd = SW_HIDE;  // moved and sized only; its owner shows it
    } else {
        const int32_t state = settings.showStates[showStateSlot];
        wp.flags &= ~WPF_RESTORETOMAXIMIZED;
        if (state & SHOW_STATE_MINIMIZED) {
            wp.showCmd = SW_SHOWMINIMIZED;
            if (state & SHOW_STATE_MAXIMIZED)
                wp.flags |= WPF_RESTORETOMAXIMIZED;
        } else {
            wp.showCmd = (state & SHOW_STATE_MAXIMIZED) ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
        }
    }
    if (!SetWindowPlacement(window, &wp))
        return false;
    // 4. A main window that starts minimised goes to the tray when the settings say so.
    if (slot == kPlacementMainWindow && showStateSlot >= 0 && (settings.showStates[showStateSlot] & SHOW_STATE_MINIMIZED)) {
        if (mainFrame && mainFrame->m_hWnd == window)
            mainFrame->MarkDirty(MFD_TRAY);
        if (settings.GetTrayIconFlags() & TRAY_SHOW_MINIMIZED)
            ShowWindow(window, SW_HIDE);
    }
    return true;
}
