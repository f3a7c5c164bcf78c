// Placement slots: save and restore of positions, sizes and show states through real windows,
// the centring of windows without a usable stored position, and the unsaved marks.
#include <windows.h>
#include <string>

#include <gtest/gtest.h>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/ShellServices.h"
#include "tests/app/AppTestSupport.h"

namespace {

const wchar_t kTestClass[] = L"NvPlacementTestWindow";

// A plain resizable top-level window, created hidden.
class CTestWindow
{
public:
    CTestWindow()
    {
        static const ATOM atom = [] {
            WNDCLASSEXW wc{sizeof(wc)};
            wc.lpfnWndProc = DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kTestClass;
            return RegisterClassExW(&wc);
        }();
        (void)atom;
        hwnd = CreateWindowExW(0, kTestClass, L"placement", WS_OVERLAPPEDWINDOW, 30, 40, 320, 240, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }
    ~CTestWindow() { DestroyWindow(hwnd); }
    HWND hwnd;
};

RECT NormalRect(HWND hwnd)
{
    WINDOWPLACEMENT wp{sizeof(wp)};
    GetWindowPlacement(hwnd, &wp);
    return wp.rcNormalPosition;
}

RECT WorkArea()
{
    RECT r{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
    return r;
}

::testing::AssertionResult RectIs(const RECT& r, LONG left, LONG top, LONG width, LONG height)
{
    if (r.left == left && r.top == top && r.right - r.left == width && r.bottom - r.top == height)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << r.left << "," << r.top << " " << (r.right - r.left) << "x"
                                         << (r.bottom - r.top) << ", want " << left << "," << top << " " << width
                                         << "x" << height;
}

void PumpBriefly()
{
    PumpWaitingMessages();
}

} // namespace

// Windows with no main window around: the main window's absence makes the work area the
// reference for every slot.
class Placement : public ::testing::Test
{
protected:
    void SetUp() override
    {
        App().GetSettings().SetDefaults();  // no slot stored, settings saved
    }
    CAppSettings& Settings() { return App().GetSettings(); }
    // The slot as the settings file brings it: stored, and the settings stay saved.
    void LoadSlot(int index, const WindowSlot& slot)
    {
        const std::wstring text = L"{\"ui\": {\"formPos\": [{\"id\": " + std::to_wstring(index + 1) + L", \"pos\": [" +
                                  std::to_wstring(slot.left) + L", " + std::to_wstring(slot.top) + L", " +
                                  std::to_wstring(slot.width) + L", " + std::to_wstring(slot.height) + L"]}]}}";
        CAppCfgFile file;
        ASSERT_TRUE(file.LoadFromText(text));
        CDocUpdateScope scope(Settings());
        Settings().ReadSettings(file);
    }
};

TEST_F(Placement, SaveAndRestoreRoundTripInEveryShowState)
{
    struct {
        const char* what;
        int show;            // how the window is left before saving
        int32_t state;       // the stored show state
        bool iconic, zoomed; // after restoring on a fresh window
    } cases[] = {
        {"normal", SW_SHOWNORMAL, SHOW_STATE_NORMAL, false, false},
        {"maximized", SW_SHOWMAXIMIZED, SHOW_STATE_MAXIMIZED, false, true},
        {"minimized", SW_SHOWMINIMIZED, SHOW_STATE_MINIMIZED, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            CTestWindow w;
            ShowWindow(w.hwnd, SW_SHOWNORMAL);
            MoveWindow(w.hwnd, 101, 122, 403, 304, TRUE);
            ShowWindow(w.hwnd, c.show);
            PumpBriefly();
            ASSERT_TRUE(App().ExchangeWindowPlacement(true, w.hwnd, kPlacementFormat, kShowStateFormat));
        }
        const WindowSlot& slot = Settings().windowSlots[kPlacementFormat];
        EXPECT_EQ(101, slot.left);
        EXPECT_EQ(122, slot.top);
        EXPECT_EQ(403, slot.width);
        EXPECT_EQ(304, slot.height);
        EXPECT_EQ(c.state, Settings().showStates[kShowStateFormat]);

        CTestWindow again;
        ASSERT_TRUE(App().ExchangeWindowPlacement(false, again.hwnd, kPlacementFormat, kShowStateFormat));
        PumpBriefly();
        EXPECT_TRUE(RectIs(NormalRect(again.hwnd), 101, 122, 403, 304));
        EXPECT_TRUE(IsWindowVisible(again.hwnd));
        EXPECT_EQ(c.iconic, IsIconic(again.hwnd) != FALSE);
        EXPECT_EQ(c.zoomed, IsZoomed(again.hwnd) != FALSE);
    }
}

TEST_F(Placement, MinimizedFromMaximizedRestoresToMaximized)
{
    {
        CTestWindow w;
        ShowWindow(w.hwnd, SW_SHOWMAXIMIZED);
        ShowWindow(w.hwnd, SW_MINIMIZE);
        PumpBriefly();
        ASSERT_TRUE(App().ExchangeWindowPlacement(true, w.hwnd, kPlacementFormat, kShowStateFormat));
    }
    EXPECT_EQ(SHOW_STATE_MINIMIZED | SHOW_STATE_MAXIMIZED, Settings().showStates[kShowStateFormat]);

    CTestWindow again;
    ASSERT_TRUE(App().ExchangeWindowPlacement(false, again.hwnd, kPlacementFormat, kShowStateFormat));
    EXPECT_TRUE(IsIconic(again.hwnd));
    WINDOWPLACEMENT wp{sizeof(wp)};
    GetWindowPlacement(again.hwnd, &wp);
    EXPECT_TRUE(wp.flags & WPF_RESTORETOMAXIMIZED);
    ShowWindow(again.hwnd, SW_RESTORE);
    EXPECT_TRUE(IsZoomed(again.hwnd));
}

TEST_F(Placement, PositionOnAMonitorThatIsGoneIsCentredInstead)
{
    const RECT work = WorkArea();
    const LONG cx = 400, cy = 300;
    const LONG centredLeft = work.left + ((work.right - work.left) - cx) / 2;
    const LONG centredTop = work.top + ((work.bottom - work.top) - cy) / 2;
    struct {
        const char* what;
        int32_t left, top;
        bool kept;
    } cases[] = {
        {"right of the screen", work.right + 2000, 100, false},
        {"below the screen", 100, work.bottom + 500, false},
        {"left and above", -5000, -4000, false},
        {"partly on the screen", work.right - 50, 100, true},
        {"on the screen", 10, 20, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Settings().SetWindowSlot(kPlacementKeyDialog, WindowSlot{c.left, c.top, cx, cy});
        CTestWindow w;
        ASSERT_TRUE(App().ExchangeWindowPlacement(false, w.hwnd, kPlacementKeyDialog, -1));
        if (c.kept)
            EXPECT_TRUE(RectIs(NormalRect(w.hwnd), c.left, c.top, cx, cy));
        else
            EXPECT_TRUE(RectIs(NormalRect(w.hwnd), centredLeft, centredTop, cx, cy));
        EXPECT_FALSE(IsWindowVisible(w.hwnd)) << "without a show state the window's owner shows it";
        EXPECT_EQ(c.left, Settings().windowSlots[kPlacementKeyDialog].left) << "restoring stores nothing";
    }
}

TEST_F(Placement, NothingStoredKeepsTheSizeAndCentres)
{
    const RECT work = WorkArea();
    CTestWindow w;  // 320 x 240
    ASSERT_TRUE(App().ExchangeWindowPlacement(false, w.hwnd, kPlacementMainWindow, kShowStateMainWindow));
    EXPECT_TRUE(RectIs(NormalRect(w.hwnd), work.left + ((work.right - work.left) - 320) / 2,
                       work.top + ((work.bottom - work.top) - 240) / 2, 320, 240));
    EXPECT_TRUE(IsWindowVisible(w.hwnd));

    // A stored size with no position: the size is used, the position centred.
    Settings().SetWindowSlot(kPlacementCmdLine, WindowSlot{kNoWindowPos, 5, 500, 200});
    CTestWindow sized;
    ASSERT_TRUE(App().ExchangeWindowPlacement(false, sized.hwnd, kPlacementCmdLine, -1));
    EXPECT_TRUE(RectIs(NormalRect(sized.hwnd), work.left + ((work.right - work.left) - 500) / 2,
                       work.top + ((work.bottom - work.top) - 200) / 2, 500, 200));
}

TEST_F(Placement, CentringKeepsTheWindowInsideTheWorkArea)
{
    const RECT work{0, 0, 1280, 1000};
    struct {
        const char* what;
        RECT reference;
        SIZE size;
        LONG left, top;
    } cases[] = {
        {"inside", {100, 100, 500, 400}, {200, 100}, 200, 200},
        {"near the right edge: ends at the edge", {1100, 100, 1280, 300}, {400, 100}, 880, 150},
        {"near the bottom edge", {100, 900, 300, 1000}, {100, 300}, 150, 700},
        {"near the left and top", {-100, -100, 50, 50}, {300, 300}, 0, 0},
        {"larger than the work area: its left and top edges stay visible", {0, 0, 1280, 1000}, {1500, 1200}, 0, 0},
    };
    for (const auto& c : cases) {
        const RECT r = CenterInWorkArea(c.size, c.reference, work);
        EXPECT_TRUE(RectIs(r, c.left, c.top, c.size.cx, c.size.cy)) << c.what;
    }
}

TEST_F(Placement, OnlyChangesThatTheHistoryKeepsMarkTheSettingsUnsaved)
{
    // The defaults remember positions and sizes but not show states.
    ASSERT_TRUE(Settings().IsHistory(HIST_POSITIONS));
    ASSERT_TRUE(Settings().IsHistory(HIST_SIZES));
    ASSERT_FALSE(Settings().IsHistory(HIST_SHOW_STATES));
    ASSERT_FALSE(Settings().IsUnsaved());
    CTestWindow w;
    ShowWindow(w.hwnd, SW_SHOWNORMAL);
    MoveWindow(w.hwnd, 50, 60, 300, 200, TRUE);
    // First save: a new position and size.
    ASSERT_TRUE(App().ExchangeWindowPlacement(true, w.hwnd, kPlacementMainWindow, kShowStateMainWindow));
    EXPECT_TRUE(Settings().IsUnsaved());

    Settings().SetDefaults();  // saved again
    LoadSlot(kPlacementMainWindow, WindowSlot{50, 60, 300, 200});
    ShowWindow(w.hwnd, SW_SHOWMAXIMIZED);
    ASSERT_TRUE(App().ExchangeWindowPlacement(true, w.hwnd, kPlacementMainWindow, kShowStateMainWindow));
    EXPECT_EQ(SHOW_STATE_MAXIMIZED, Settings().showStates[kShowStateMainWindow]);
    EXPECT_FALSE(Settings().IsUnsaved()) << "the show state alone is not remembered";

    ShowWindow(w.hwnd, SW_SHOWNORMAL);
    ASSERT_TRUE(App().ExchangeWindowPlacement(true, w.hwnd, kPlacementMainWindow, kShowStateMainWindow));
    EXPECT_FALSE(Settings().IsUnsaved()) << "same position and size";
}

TEST_F(Placement, AWindowThatCannotBeReadLeavesTheSettingsAlone)
{
    LoadSlot(kPlacementHttpRequest, WindowSlot{1, 2, 3, 4});
    CTestWindow w;
    HWND gone = w.hwnd;
    DestroyWindow(gone);
    w.hwnd = nullptr;
    EXPECT_FALSE(App().ExchangeWindowPlacement(true, gone, kPlacementHttpRequest, -1));
    EXPECT_FALSE(App().ExchangeWindowPlacement(false, gone, kPlacementHttpRequest, -1));
    EXPECT_FALSE(App().ExchangeWindowPlacement(true, nullptr, kPlacementHttpRequest, -1));
    const WindowSlot& s = Settings().windowSlots[kPlacementHttpRequest];
    EXPECT_TRUE(s.left == 1 && s.top == 2 && s.width == 3 && s.height == 4);
    EXPECT_FALSE(Settings().IsUnsaved());
}

// With the program's own main window.
class MainWindowPlacement : public AppTest
{
protected:
    CAppSettings& Settings() { return App().GetSettings(); }
};

TEST_F(MainWindowPlacement, DialogsCentreOnTheVisibleMainWindowAndStayInTheWorkArea)
{
    ASSERT_EQ(kStartContinue, Start());
    HWND main = FrameWindow();
    ASSERT_TRUE(IsWindowVisible(main));
    RECT frame;
    GetWindowRect(main, &frame);
    CTestWindow dialog;  // 320 x 240
    ASSERT_TRUE(App().ExchangeWindowPlacement(false, dialog.hwnd, kPlacementKeyFilters, -1));
    EXPECT_TRUE(RectIs(NormalRect(dialog.hwnd), frame.left + ((frame.right - frame.left) - 320) / 2,
                       frame.top + ((frame.bottom - frame.top) - 240) / 2, 320, 240));

    // The main window pushed against the right edge: the dialog ends at the work area's edge.
    const RECT work = WorkArea();
    SetWindowPos(main, nullptr, work.right - 400, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Settings().SetWindowSlot(kPlacementKeyFilters, WindowSlot{kNoWindowPos, kNoWindowPos, 700, 240});
    CTestWindow wide;
    ASSERT_TRUE(App().ExchangeWindowPlacement(false, wide.hwnd, kPlacementKeyFilters, -1));
    EXPECT_EQ(work.right, NormalRect(wide.hwnd).right);

    // A minimised main window is no reference: the work area is.
    ShowWindow(main, SW_MINIMIZE);
    CTestWindow third;
    ASSERT_TRUE(App().ExchangeWindowPlacement(false, third.hwnd, kPlacementColumnList, -1));
    EXPECT_TRUE(RectIs(NormalRect(third.hwnd), work.left + ((work.right - work.left) - 320) / 2,
                       work.top + ((work.bottom - work.top) - 240) / 2, 320, 240));
}

TEST_F(MainWindowPlacement, ClosingSavesWhatTheNextStartRestores)
{
    ASSERT_EQ(kStartContinue, Start());
    HWND main = FrameWindow();
    SetWindowPos(main, nullptr, 60, 70, 800, 650, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(main, SW_MAXIMIZE);
    Settings().SetHistoryFlags(Settings().GetHistoryFlags() | HIST_SHOW_STATES);
    Settings().SetConfirmFlags(0);  // no questions
    ASSERT_TRUE(Frame()->CanClose());
    const WindowSlot& slot = Settings().windowSlots[kPlacementMainWindow];
    EXPECT_TRUE(slot.left == 60 && slot.top == 70 && slot.width == 800 && slot.height == 650);
    EXPECT_EQ(SHOW_STATE_MAXIMIZED, Settings().showStates[kShowStateMainWindow]);
    ShutDown();

    // The settings file that closing wrote brings the window back maximised over the same place.
    App().GetSettings().SetDefaults();
    ASSERT_EQ(kStartContinue, Start());
    EXPECT_TRUE(IsZoomed(FrameWindow()));
    EXPECT_TRUE(RectIs(NormalRect(FrameWindow()), 60, 70, 800, 650));
}

TEST_F(MainWindowPlacement, StartedMinimizedWithTheTrayIconGoesToTheTray)
{
    struct {
        const char* what;
        uint32_t tray;
        bool visible;
    } cases[] = {
        {"tray when minimized: hidden", 0x1, false},
        {"no tray icon: hidden all the same, as started", 0x0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        App().GetSettings().SetDefaults();
        App().GetSettings().SetTrayIconFlags(c.tray);
        ASSERT_EQ(kStartContinue, Start(L"/n", SW_SHOWMINNOACTIVE));
        HWND main = FrameWindow();
        EXPECT_EQ(c.visible, IsWindowVisible(main) != FALSE);
        EXPECT_TRUE(IsIconic(main)) << "minimised, so the tray icon leads back to it";
        EXPECT_TRUE(Frame()->DirtyBits() & MFD_TRAY);
        ShutDown();
    }
}
