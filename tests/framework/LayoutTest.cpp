#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include "framework/Layout.h"
#include "framework/ScrollArea.h"
#include "tests/framework/FrameworkTestSupport.h"

namespace {

RECT ChildRect(HWND child)
{
    RECT rc;
    GetWindowRect(child, &rc);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

std::string Str(const RECT& rc)
{
    return std::to_string(rc.left) + "," + std::to_string(rc.top) + "," + std::to_string(rc.right) + "," +
           std::to_string(rc.bottom);
}

HWND CreateChild(HWND parent, int id, int x, int y, int w, int h, const wchar_t* cls = L"STATIC")
{
    return CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

// A borderless popup whose client area is exactly the given size (a page stand-in).
HWND CreatePage(int w, int h, DWORD extraStyle = 0)
{
    return CreateWindowExW(0, TestWndClass, L"", WS_POPUP | WS_VISIBLE | extraStyle, 50, 50, w, h, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

class Layout : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DrainMessages();
        ASSERT_TRUE(host.CreateTop(L"Layout host")); // registers the test class too
    }
    void TearDown() override
    {
        host.Destroy();
        DrainMessages();
    }
    CScriptWnd host;
};

} // namespace

TEST_F(Layout, AnchorsKeepTheirDistances)
{
    HWND page = CreatePage(400, 300);
    // Every control starts at 20,30 with size 100 x 40; the client grows by 100 x 80.
    struct Case {
        int flags;
        RECT expected;
    } cases[] = {
        {0, {20, 30, 120, 70}},
        {ANCHOR_LEFT | ANCHOR_TOP, {20, 30, 120, 70}},
        {ANCHOR_RIGHT | ANCHOR_BOTTOM, {120, 110, 220, 150}}, // size and distance to the corner kept
        {ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM, {20, 30, 220, 150}}, // all four distances
        {ANCHOR_LEFT | ANCHOR_BOTTOM, {20, 110, 120, 150}},
        {ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM, {20, 110, 220, 150}},
        {ANCHOR_TOP | ANCHOR_RIGHT, {120, 30, 220, 70}},
        {ANCHOR_RIGHT | ANCHOR_BOTTOM | ANCHOR_NOCOPYBITS, {120, 110, 220, 150}},
    };
    AnchorLayout layout;
    layout.parent = page;
    int id = 100;
    for (const Case& c : cases) {
        CreateChild(page, id, 20, 30, 100, 40);
        layout.Add(id++, c.flags);
    }
    layout.Add(999, ANCHOR_RIGHT); // no such control: skipped
    CaptureLayout(layout);
    EXPECT_EQ(400, layout.client.right);
    EXPECT_EQ(300, layout.client.bottom);
    EXPECT_EQ("20,30,120,70", Str(layout.items[0].rect));

    EXPECT_EQ(nullptr, ApplyLayout(layout, 500, 380));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Str(cases[i].expected), Str(ChildRect(layout.items[i].window))) << "flags " << cases[i].flags;

    // Shrinking back restores the captured places.
    ApplyLayout(layout, 400, 300);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ("20,30,120,70", Str(ChildRect(layout.items[i].window))) << "flags " << cases[i].flags;
    DestroyWindow(page);
}

TEST_F(Layout, ScrolledParentShiftsItsControls)
{
    HWND page = CreatePage(400, 300, WS_VSCROLL | WS_HSCROLL);
    HWND control = CreateChild(page, 100, 20, 30, 100, 40);
    AnchorLayout layout;
    layout.parent = page;
    layout.Add(100, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    CaptureLayout(layout);
    SCROLLINFO si{sizeof(si), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 999, 100, 50};
    SetScrollInfo(page, SB_VERT, &si, TRUE);
    si.nPos = 7;
    SetScrollInfo(page, SB_HORZ, &si, TRUE);
    RECT client;
    GetClientRect(page, &client);
    ApplyLayout(layout, client.right, client.bottom);
    const int width = 100 + client.right - layout.client.right;
    EXPECT_EQ(Str(RECT{20 - 7, 30 - 50, 20 - 7 + width, 70 - 50}), Str(ChildRect(control)));
    DestroyWindow(page);
}

TEST_F(Layout, CallersBatchIsUsedAndHandedBack)
{
    HWND page = CreatePage(200, 200);
    HWND a = CreateChild(page, 1, 10, 10, 20, 20);
    HWND b = CreateChild(page, 2, 50, 10, 20, 20);
    AnchorLayout layout;
    layout.parent = page;
    layout.Add(1, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    layout.Add(2, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_BOTTOM);
    CaptureLayout(layout);
    HDWP batch = BeginDeferWindowPos(1); // too small on purpose: the batch grows
    ASSERT_NE(nullptr, batch);
    batch = ApplyLayout(layout, 260, 230, batch);
    ASSERT_NE(nullptr, batch);
    EXPECT_EQ("10,10,30,30", Str(ChildRect(a))) << "nothing moves before the caller ends the batch";
    EXPECT_TRUE(EndDeferWindowPos(batch));
    EXPECT_EQ("70,40,90,60", Str(ChildRect(a)));
    EXPECT_EQ("50,10,70,60", Str(ChildRect(b)));

    AnchorLayout empty; // no parent: nothing, the batch comes back as it was
    EXPECT_EQ(reinterpret_cast<HDWP>(0x1234), ApplyLayout(empty, 10, 10, reinterpret_cast<HDWP>(0x1234)));
    DestroyWindow(page);
}

TEST_F(Layout, ScrollAreaLinesPagesAndTheEnd)
{
    HWND page = CreatePage(300, 200, WS_VSCROLL);
    HWND control = CreateChild(page, 1, 10, 100, 50, 20);
    ScrollArea area;
    area.window = page;
    area.contentHeight = 990;
    area.Update();
    RECT client;
    GetClientRect(page, &client);
    EXPECT_EQ(200, area.pageHeight);
    EXPECT_EQ(0, area.pageWidth) << "the width fits: no horizontal bar";
    SCROLLINFO si{sizeof(si), SIF_ALL};
    ASSERT_TRUE(GetScrollInfo(page, SB_VERT, &si));
    EXPECT_EQ(0, si.nMin);
    EXPECT_EQ(989, si.nMax);
    EXPECT_EQ(200u, si.nPage);
    EXPECT_EQ(0, si.nPos);

    struct Step {
        int code;
        int expectedPos;
    } steps[] = {
        {SB_LINEUP, 0},      {SB_LINEDOWN, 60},    {SB_PAGEDOWN, 260},  {SB_PAGEUP, 60},
        {SB_ENDSCROLL, 60},  {SB_TOP, 60},         {SB_BOTTOM, 60},     {SB_PAGEDOWN, 260},
        {SB_PAGEDOWN, 460},  {SB_PAGEDOWN, 660},   {SB_LINEDOWN, 720},  {SB_LINEDOWN, 780},
        {SB_LINEDOWN, 790}, // 10 pixels before the end scrolls 10
        {SB_LINEDOWN, 790},  {SB_PAGEUP, 590},
    };
    for (const Step& s : steps) {
        area.OnVScroll(s.code, nullptr);
        EXPECT_EQ(s.expectedPos, area.posY) << "code " << s.code;
        EXPECT_EQ(s.expectedPos, GetScrollPos(page, SB_VERT));
        EXPECT_EQ(100 - s.expectedPos, ChildRect(control).top) << "the content moved with the bar";
    }

    // A taller window: the position is scaled, then limited by the same rule OnVScroll uses.
    area.OnVScroll(SB_PAGEDOWN, nullptr);
    ASSERT_EQ(790, area.posY);
    SetWindowPos(page, nullptr, 0, 0, 300, 300, SWP_NOMOVE | SWP_NOZORDER);
    area.Update();
    EXPECT_EQ(300, area.pageHeight);
    EXPECT_EQ(690, area.posY);
    EXPECT_EQ(ScrollArea::MaxPosition(990, 300), area.posY);
    EXPECT_EQ(690, GetScrollPos(page, SB_VERT));
    EXPECT_EQ(100 - 690, ChildRect(control).top);
    area.OnVScroll(SB_LINEDOWN, nullptr);
    EXPECT_EQ(690, area.posY) << "already at the end";

    // Content that fits hides the bar and scrolls back to 0.
    area.contentHeight = 150;
    area.Update();
    EXPECT_EQ(0, area.posY);
    EXPECT_EQ(0, area.pageHeight);
    EXPECT_EQ(100, ChildRect(control).top);
    EXPECT_EQ(0, GetWindowLongW(page, GWL_STYLE) & WS_VSCROLL) << "the bar is hidden";
    area.OnVScroll(SB_LINEDOWN, nullptr);
    EXPECT_EQ(0, area.posY) << "nothing scrolls while everything fits";

    ScrollArea detached; // no window: nothing
    detached.OnVScroll(SB_LINEDOWN, nullptr);
    EXPECT_EQ(0, detached.posY);
    DestroyWindow(page);
}

TEST_F(Layout, ScrollLimitRule)
{
    struct Case {
        int content, page, expected;
    } cases[] = {{990, 200, 790}, {200, 200, 0}, {100, 200, 0}, {990, 0, 0}, {1, 0, 0}, {201, 200, 1}};
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, ScrollArea::MaxPosition(c.content, c.page)) << c.content << "/" << c.page;
}

TEST_F(Layout, FitToolbarSizesAndAligns)
{
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    HWND page = CreatePage(500, 300);
    HWND toolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                                   WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER |
                                       TBSTYLE_FLAT,
                                   10, 10, 300, 60, page, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, toolbar);
    SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    TBBUTTON buttons[3] = {};
    for (int i = 0; i < 3; ++i) {
        buttons[i].iBitmap = I_IMAGENONE;
        buttons[i].idCommand = 100 + i;
        buttons[i].fsState = TBSTATE_ENABLED;
        buttons[i].fsStyle = BTNS_BUTTON;
    }
    SendMessageW(toolbar, TB_ADDBUTTONSW, 3, reinterpret_cast<LPARAM>(buttons));
    SIZE max{};
    SendMessageW(toolbar, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&max));
    ASSERT_GT(max.cx, 0);
    const int w = max.cx + 2, h = max.cy;
    ASSERT_LT(w, 300);
    ASSERT_LT(h, 60);

    struct Case {
        int flags;
        RECT expected;
    } cases[] = {
        {1 | 2, {10, 10, 10 + w, 10 + h}},     // resized only
        {1 | 8, {10, 10, 10 + w, 10 + h}},     // left without right: resized only
        {4 | 2, {10, 10, 10 + w, 10 + h}},     // top without bottom: resized only
        {4 | 8, {310 - w, 70 - h, 310, 70}},   // bottom-right corner
        {0, {10 + (300 - w) / 2, 10 + (60 - h) / 2, 10 + (300 - w) / 2 + w, 10 + (60 - h) / 2 + h}},
        {15, {10 + (300 - w) / 2, 10 + (60 - h) / 2, 10 + (300 - w) / 2 + w, 10 + (60 - h) / 2 + h}},
    };
    for (const Case& c : cases) {
        SetWindowPos(toolbar, nullptr, 10, 10, 300, 60, SWP_NOZORDER | SWP_NOACTIVATE);
        FitToolbar(toolbar, c.flags);
        EXPECT_EQ(Str(c.expected), Str(ChildRect(toolbar))) << "flags " << c.flags;
    }
    DestroyWindow(page);
}
