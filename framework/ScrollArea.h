#pragma once
// Scrolling of a page that is taller (or wider) than its window.
#include <windows.h>

struct ScrollArea {
    HWND window = nullptr;
    int pageWidth = 0;  // the visible size; 0 while the bar is hidden
    int pageHeight = 0;
    int contentWidth = 0;
    int contentHeight = 0;
    int posX = 0; // pixels
    int posY = 0;

    static constexpr int LineStep = 60;

    void OnVScroll(int code, HWND scrollBar);
    // After a size change or a change of the content size.
    void Update();
    // Sets up one bar for the visible size; returns the amount to scroll the content by.
    int UpdateBar(int bar, int visible, int content, int& page, int& pos);

    // The largest position for a content and page size: 0 while everything fits.
    static int MaxPosition(int content, int page);
};
