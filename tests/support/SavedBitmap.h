#pragma once
// A 24-bit BMP file as the screenshot tests save it, read back so that a test can sample its
// pixels: a window that is blank, black or covered saves a file of the right size too.
#include <windows.h>

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

class CSavedBitmap
{
public:
    explicit CSavedBitmap(const std::wstring& path)
    {
        std::ifstream in(path.c_str(), std::ios::binary);
        m_bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        BITMAPFILEHEADER fh;
        BITMAPINFOHEADER ih;
        if (m_bytes.size() < sizeof fh + sizeof ih)
            return;
        memcpy(&fh, m_bytes.data(), sizeof fh);
        memcpy(&ih, m_bytes.data() + sizeof fh, sizeof ih);
        if (fh.bfType != 0x4D42 || ih.biBitCount != 24 || ih.biCompression != BI_RGB || ih.biWidth <= 0 ||
            ih.biHeight == 0)
            return;
        m_width = ih.biWidth;
        m_height = std::abs(ih.biHeight);
        m_bottomUp = ih.biHeight > 0;
        m_stride = (static_cast<size_t>(m_width) * 3 + 3) & ~static_cast<size_t>(3);
        m_offset = fh.bfOffBits;
        if (m_offset + m_stride * static_cast<size_t>(m_height) > m_bytes.size())
            m_width = m_height = 0;
    }

    bool Valid() const { return m_width > 0 && m_height > 0; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // The pixel at x, y counted from the top left, as a COLORREF.
    COLORREF Pixel(int x, int y) const
    {
        const int row = m_bottomUp ? m_height - 1 - y : y;
        const unsigned char* p =
            reinterpret_cast<const unsigned char*>(m_bytes.data()) + m_offset + m_stride * static_cast<size_t>(row) +
            static_cast<size_t>(x) * 3;
        return RGB(p[2], p[1], p[0]);
    }

    // The most frequent colour inside r (clipped to the picture).
    COLORREF Dominant(RECT r) const
    {
        std::map<COLORREF, int> counts;
        ForEach(r, [&](COLORREF c) { ++counts[c]; });
        COLORREF best = CLR_INVALID;
        int most = 0;
        for (const auto& [color, n] : counts)
            if (n > most)
                best = color, most = n;
        return best;
    }

    // Pixels inside r that stand out from the background: the ink of text, lines and marks.
    int InkPixels(RECT r, COLORREF background) const
    {
        int n = 0;
        ForEach(r, [&](COLORREF c) {
            const int d = std::abs(GetRValue(c) - GetRValue(background)) + std::abs(GetGValue(c) - GetGValue(background)) +
                          std::abs(GetBValue(c) - GetBValue(background));
            n += d > 96;
        });
        return n;
    }

private:
    template <typename F>
    void ForEach(RECT r, F f) const
    {
        for (int y = std::max<int>(0, r.top); y < std::min<int>(m_height, r.bottom); ++y)
            for (int x = std::max<int>(0, r.left); x < std::min<int>(m_width, r.right); ++x)
                f(Pixel(x, y));
    }

    std::string m_bytes;
    int m_width = 0;
    int m_height = 0;
    bool m_bottomUp = true;
    size_t m_stride = 0;
    size_t m_offset = 0;
};

// The client area of a child (or of the window itself) in the coordinates of the window's
// picture, which starts at the window's top left corner.
inline RECT ClientRectInWindowPicture(HWND window, HWND child)
{
    RECT client, frame;
    GetClientRect(child, &client);
    MapWindowPoints(child, nullptr, reinterpret_cast<POINT*>(&client), 2);
    GetWindowRect(window, &frame);
    OffsetRect(&client, -frame.left, -frame.top);
    return client;
}
