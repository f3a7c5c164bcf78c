#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/framework/FrameworkTestSupport.h"

// The picture helper every picture test goes through: a window that draws is pictured as it
// drew; one covered by another window of the test, one that never paints and one that draws
// nothing are not ok, and the helper says which.
TEST(WindowPicture, VerdictsOnDrawnCoveredUnpaintedAndBlankWindows)
{
    enum Kind { kDrawn, kCovered, kUnpainted, kBlank };
    const struct {
        const char* name;
        Kind kind;
        const char* problem;
    } cases[] = {
        {"a window that draws its mark", kDrawn, ""},
        {"the same window under another", kCovered, "is covered by NorvaneTestWnd \"Cover\""},
        {"a window that never paints", kUnpainted, "has not painted: it keeps a part to paint after 3 paints"},
        {"a window that draws nothing", kBlank, "is blank (every pixel RGB(255,255,255)) after 3 paints"},
    };
    const RECT mark{20, 20, 120, 60};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DrainMessages();
        CScriptWnd window;
        window.onMessage = [&](HWND hwnd, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (message != WM_PAINT)
                return std::nullopt;
            if (c.kind == kUnpainted)
                return 0;  // leaves its update region as it was
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT client;
            GetClientRect(hwnd, &client);
            FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            if (c.kind != kBlank)
                FillRect(dc, &mark, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            EndPaint(hwnd, &ps);
            return 0;
        };
        ASSERT_TRUE(window.CreatePopup(L"Picture", RECT{200, 200, 440, 360}));
        CScriptWnd cover;
        if (c.kind == kCovered) {
            ASSERT_TRUE(cover.CreatePopup(L"Cover", RECT{300, 300, 500, 400}, WS_EX_TOPMOST));
        }

        const CWindowPicture picture(window.m_hWnd, L"WindowPicture.bmp");
        EXPECT_EQ(c.kind == kDrawn, picture.Ok()) << picture.Problem();
        EXPECT_NE(std::string::npos, picture.Problem().find(c.problem)) << picture.Problem();
        if (c.kind == kDrawn || c.kind == kCovered) {
            EXPECT_EQ(100 * 40, picture.Count(picture.All(), RGB(0, 0, 0))) << "the mark as drawn, under a cover too";
            EXPECT_EQ(RGB(0, 0, 0), picture.Pixel(mark.left, mark.top));
            EXPECT_EQ(RGB(255, 255, 255), picture.Pixel(mark.right, mark.bottom));
        }
        cover.Destroy();
        window.Destroy();
    }
}
