#include "tests/support/WindowPicture.h"

#include <cstdio>

bool SaveWindowBitmap(HWND hwnd, const std::wstring& path)
{
    RECT rc;
    if (!GetWindowRect(hwnd, &rc))
        return false;
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = height; // bottom-up, as a BMP file stores it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, dib);
    // The screen holds the picture exactly as shown; PrintWindow is the way for a covered window.
    bool drawn = false;
    if (IsWindowVisible(hwnd))
        drawn = BitBlt(mem, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY) != FALSE;
    if (!drawn)
        drawn = PrintWindow(hwnd, mem, 0) != FALSE;
    GdiFlush();
    bool written = false;
    if (drawn && bits) {
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42; // "BM"
        fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
        fh.bfSize = fh.bfOffBits + imageSize;
        bi.bmiHeader.biSizeImage = imageSize;
        if (FILE* f = _wfopen(path.c_str(), L"wb")) {
            written = fwrite(&fh, sizeof(fh), 1, f) == 1 && fwrite(&bi.bmiHeader, sizeof(bi.bmiHeader), 1, f) == 1 &&
                      fwrite(bits, 1, imageSize, f) == imageSize;
            written = (fclose(f) == 0) && written;
        }
    }
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(nullptr, screen);
    return written;
}


std::wstring TestExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    const size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : folder.substr(0, slash);
}
