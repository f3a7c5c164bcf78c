#pragma once
// Pictures of windows for the tests that look at what a window draws. A picture is the window's
// own content, read through its window DC: under Wine that reads the window's surface, which
// holds what the window and its child controls painted whatever lies over it on the screen, with
// no wait for the display to show it (PrintWindow and WM_PRINT draw no child control there).
// The window paints first; a picture of a window that is hidden, covered by another window of
// the test, off the screen, left unpainted or blank is not ok and says why.
#include <windows.h>

#include <string>
#include <vector>

class CWindowPicture
{
public:
    enum class Paint {
        kFresh,    // the window and its children are painted anew first
        kAsDrawn,  // taken as the window stands: for marks drawn on it outside its painting
    };

    // Takes the picture of window; with a file name, saves it beside the test executable as a
    // 24-bit BMP for a person to look at. A blank picture is taken again after a fresh paint, a
    // few times at most.
    explicit CWindowPicture(HWND window, const std::wstring& fileName = {}, Paint paint = Paint::kFresh);

    bool Ok() const { return m_problem.empty(); }
    // What keeps the picture from showing the window as drawn, naming the window; empty when ok.
    const std::string& Problem() const { return m_problem; }

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    RECT All() const { return RECT{0, 0, m_width, m_height}; }

    // The pixel at x, y from the window's top left corner; CLR_INVALID outside the picture.
    COLORREF Pixel(int x, int y) const;
    // The most frequent colour inside r (clipped to the picture); CLR_INVALID for an empty r.
    COLORREF Dominant(RECT r) const;
    // Pixels inside r that stand out from background: the ink of text, lines and marks.
    int InkPixels(RECT r, COLORREF background) const;
    // Ink against the area's own most frequent colour.
    int Ink(RECT r) const { return InkPixels(r, Dominant(r)); }
    // Pixels of exactly color inside r.
    int Count(RECT r, COLORREF color) const;

private:
    bool Grab();
    template <typename F>
    void ForEach(RECT r, F f) const;

    HWND m_window;
    int m_width = 0;
    int m_height = 0;
    std::vector<COLORREF> m_pixels;  // rows from the top
    std::string m_problem;
};

// The client area of part (the window itself or one of its descendants) in the coordinates of
// the window's picture, which starts at the window's top left corner.
RECT ClientRectInWindowPicture(HWND window, HWND part);
// The folder of the running test executable.
std::wstring TestExeFolder();
