#pragma once
// Anchoring child controls to the edges of a resizable parent, and fitting a toolbar to its buttons.
#include <windows.h>
#include <vector>

// Anchor flags of an item.
enum : int {
    ANCHOR_LEFT = 0x1,       // left edge fixed
    ANCHOR_TOP = 0x2,        // top edge fixed
    ANCHOR_RIGHT = 0x4,      // right edge follows the parent's right edge
    ANCHOR_BOTTOM = 0x8,     // bottom edge follows the parent's bottom edge
    ANCHOR_NOCOPYBITS = 0x10 // the move does not copy the old client bits
};

struct AnchorItem {
    int controlId = 0;
    int flags = 0;
    RECT rect{}; // in parent-client coordinates at capture
    HWND window = nullptr;
};

struct AnchorLayout {
    HWND parent = nullptr;
    std::vector<AnchorItem> items;
    RECT client{}; // the parent's client rectangle at capture

    // Adds the parent's control with that id (its window looked up now).
    void Add(int controlId, int flags);
};

void CaptureLayout(AnchorLayout& layout);
// Moves the anchored controls for a new client size in one deferred batch: the caller's (whose
// possibly renewed handle is returned) or, when null, its own.
HDWP ApplyLayout(const AnchorLayout& layout, int width, int height, HDWP batch = nullptr);

// Alignment flags: 1 left, 2 top, 4 right, 8 bottom.
void FitToolbar(HWND toolbar, int alignFlags);
