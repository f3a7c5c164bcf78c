#include "tests/support/WindowPicture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

// A window that does not paint keeps its update region; one that stays blank is drawing
// nothing. Either is taken again after this many paints at most.
constexpr int kPaints = 3;

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// The window as a message names it: its class and its title.
std::string Describe(HWND window)
{
    wchar_t cls[64] = L"";
    wchar_t title[80] = L"";
    GetClassNameW(window, cls, 64);
    GetWindowTextW(window, title, 80);
    return Narrow(cls) + " \"" + Narrow(title) + "\"";
}

std::string DescribeRect(const RECT& r)
{
    char text[80];
    snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", static_cast<long>(r.left), static_cast<long>(r.top),
             static_cast<long>(r.right), static_cast<long>(r.bottom));
    return text;
}

// Runs what was posted to this thread (layouts and fills a window asks for itself). Paints are
// left to RedrawWindow, so that a window that never validates cannot hold the pump; timers and
// input are left to the test, which may be running in one of its own timers.
void PumpPosted()
{
    constexpr UINT kPosted = PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;
    constexpr UINT kSysTimer = 0x0118;  // the caret's blink
    MSG msg;
    for (int n = 0; n < 10000; ++n) {
        if (!PeekMessageW(&msg, nullptr, 0, WM_TIMER - 1, kPosted) &&
            !PeekMessageW(&msg, nullptr, WM_TIMER + 1, kSysTimer - 1, kPosted) &&
            !PeekMessageW(&msg, nullptr, kSysTimer + 1, 0xFFFFFFFF, kPosted))
            return;
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// The window itself or a shown descendant that still has something to paint.
HWND LeftUnpainted(HWND window)
{
    if (GetUpdateRect(window, nullptr, FALSE))
        return window;
    HWND found = nullptr;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM param) -> BOOL {
            if (!IsWindowVisible(child) || !GetUpdateRect(child, nullptr, FALSE))
                return TRUE;
            *reinterpret_cast<HWND*>(param) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// A shown top-level window of this process in front of window's root that overlaps window.
HWND CoveringWindow(HWND window)
{
    struct Search {
        HWND root;
        RECT rect;
        HWND cover;
    } search{GetAncestor(window, GA_ROOT), {}, nullptr};
    GetWindowRect(window, &search.rect);
    EnumWindows(
        [](HWND top, LPARAM param) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(param);
            if (top == s.root)
                return FALSE;  // the rest lie behind it
            DWORD process = 0;
            GetWindowThreadProcessId(top, &process);
            RECT r, overlap;
            if (process != GetCurrentProcessId() || !IsWindowVisible(top) || !GetWindowRect(top, &r) ||
                !IntersectRect(&overlap, &r, &s.rect))
                return TRUE;
            s.cover = top;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.cover;
}

bool OnScreen(const RECT& r)
{
    const RECT screen{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                      GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                      GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    return r.left >= screen.left && r.top >= screen.top && r.right <= screen.right && r.bottom <= screen.bottom;
}

bool SaveBmp(const std::wstring& path, int width, int height, const std::vector<COLORREF>& pixels)
{
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    std::vector<unsigned char> image(imageSize, 0);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = image.data() + stride * static_cast<DWORD>(height - 1 - y);  // bottom-up
        for (int x = 0; x < width; ++x) {
            const COLORREF c = pixels[static_cast<size_t>(y) * width + x];
            row[x * 3] = GetBValue(c);
            row[x * 3 + 1] = GetGValue(c);
            row[x * 3 + 2] = GetRValue(c);
        }
    }
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = width;
    ih.biHeight = height;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biCompression = BI_RGB;
    ih.biSizeImage = imageSize;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;  // "BM"
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + imageSize;
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    bool written = fwrite(&fh, sizeof fh, 1, f) == 1 && fwrite(&ih, sizeof ih, 1, f) == 1 &&
                   fwrite(image.data(), 1, imageSize, f) == imageSize;
    written = fclose(f) == 0 && written;
    return written;
}

}  // namespace

CWindowPicture::CWindowPicture(HWND window, const std::wstring& fileName, Paint paint) : m_window(window)
{
    const std::string name = IsWindow(window) ? Describe(window) : "";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    RECT rect{};
    GetWindowRect(window, &rect);
    if (!IsWindow(window)) {
        m_problem = "there is no window to take a picture of";
        return;
    }
    if (process != GetCurrentProcessId()) {
        m_problem = name + " belongs to another process: its picture cannot be taken";
        return;
    }
    if (!IsWindowVisible(window) || IsIconic(window)) {
        m_problem = name + " is not shown";
        return;
    }

    HWND unpainted = nullptr;
    bool blank = true;
    int paints = 0;
    if (paint == Paint::kAsDrawn) {
        unpainted = LeftUnpainted(window);
        if (!Grab())
            return;
        blank = Count(All(), Pixel(0, 0)) == m_width * m_height;
    } else {
        while (paints < kPaints && (paints == 0 || unpainted || blank)) {
            ++paints;
            PumpPosted();
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
            GdiFlush();
            unpainted = LeftUnpainted(window);
            if (!Grab())
                return;
            blank = Count(All(), Pixel(0, 0)) == m_width * m_height;
        }
    }
    const bool saved = fileName.empty() || SaveBmp(TestExeFolder() + L"\\" + fileName, m_width, m_height, m_pixels);

    const std::string after = paint == Paint::kAsDrawn ? " as drawn" : " after " + std::to_string(paints) + " paints";
    if (!OnScreen(rect)) {
        m_problem = name + " lies partly off the screen at " + DescribeRect(rect) + ": that part is never drawn";
    } else if (HWND cover = CoveringWindow(window)) {
        RECT over{};
        GetWindowRect(cover, &over);
        m_problem = name + " is covered by " + Describe(cover) + " at " + DescribeRect(over);
    } else if (unpainted) {
        m_problem = name + " has not painted: " + (unpainted == window ? "it" : Describe(unpainted)) +
                    " keeps a part to paint" + after;
    } else if (blank) {
        const COLORREF c = Pixel(0, 0);
        m_problem = "the picture of " + name + " is blank (every pixel RGB(" + std::to_string(GetRValue(c)) + "," +
                    std::to_string(GetGValue(c)) + "," + std::to_string(GetBValue(c)) + "))" + after;
    } else if (!saved) {
        m_problem = "the picture of " + name + " could not be saved as " + Narrow(fileName);
    }
}

bool CWindowPicture::Grab()
{
    RECT rect;
    GetWindowRect(m_window, &rect);
    m_width = rect.right - rect.left;
    m_height = rect.bottom - rect.top;
    m_pixels.clear();
    if (m_width <= 0 || m_height <= 0) {
        m_width = m_height = 0;
        m_problem = Describe(m_window) + " has no area";
        return false;
    }
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = m_width;
    bi.bmiHeader.biHeight = -m_height;  // rows from the top
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC source = GetDCEx(m_window, nullptr, DCX_WINDOW | DCX_CACHE);
    void* bits = nullptr;
    HBITMAP dib = source ? CreateDIBSection(source, &bi, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    HDC memory = dib ? CreateCompatibleDC(source) : nullptr;
    bool copied = false;
    if (memory) {
        HGDIOBJ old = SelectObject(memory, dib);
        copied = BitBlt(memory, 0, 0, m_width, m_height, source, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        if (copied) {
            const auto* p = static_cast<const DWORD*>(bits);
            m_pixels.reserve(static_cast<size_t>(m_width) * m_height);
            for (size_t i = 0; i < static_cast<size_t>(m_width) * m_height; ++i)
                m_pixels.push_back(RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF));
        }
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    if (dib)
        DeleteObject(dib);
    if (source)
        ReleaseDC(m_window, source);
    if (!copied) {
        m_width = m_height = 0;
        m_problem = "the content of " + Describe(m_window) + " could not be read (error " +
                    std::to_string(GetLastError()) + ")";
    }
    return copied;
}

template <typename F>
void CWindowPicture::ForEach(RECT r, F f) const
{
    for (int y = std::max<int>(0, r.top); y < std::min<int>(m_height, r.bottom); ++y)
        for (int x = std::max<int>(0, r.left); x < std::min<int>(m_width, r.right); ++x)
            f(m_pixels[static_cast<size_t>(y) * m_width + x]);
}

COLORREF CWindowPicture::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return CLR_INVALID;
    return m_pixels[static_cast<size_t>(y) * m_width + x];
}

COLORREF CWindowPicture::Dominant(RECT r) const
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

int CWindowPicture::InkPixels(RECT r, COLORREF background) const
{
    int n = 0;
    ForEach(r, [&](COLORREF c) {
        const int d = std::abs(GetRValue(c) - GetRValue(background)) + std::abs(GetGValue(c) - GetGValue(background)) +
                      std::abs(GetBValue(c) - GetBValue(background));
        n += d > 96;
    });
    return n;
}

int CWindowPicture::Count(RECT r, COLORREF color) const
{
    int n = 0;
    ForEach(r, [&](COLORREF c) { n += c == color; });
    return n;
}

RECT ClientRectInWindowPicture(HWND window, HWND part)
{
    RECT client, frame;
    GetClientRect(part, &client);
    MapWindowPoints(part, nullptr, reinterpret_cast<POINT*>(&client), 2);
    GetWindowRect(window, &frame);
    OffsetRect(&client, -frame.left, -frame.top);
    return client;
}

std::wstring TestExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    const size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : folder.substr(0, slash);
}
