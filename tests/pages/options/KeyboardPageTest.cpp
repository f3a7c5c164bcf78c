// The keyboard page: its number fields, the typing library's radio, the window picker over a
// window of another process, and the flash of the found window.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "config/TransferDoc.h"
#include "framework/SysFunctions.h"
#include "pages/options/KeyboardPage.h"
#include "resources/resource.h"
#include "tests/pages/options/OptionPageTestSupport.h"
#include "tests/support/ChildJob.h"
#include "tests/support/WindowPicture.h"

namespace {

// Wine's notepad: a top-level window of another process.
class CNotepad
{
public:
    CNotepad()
    {
        STARTUPINFOW si{sizeof(si)};
        if (!CChildJob::Instance().Start(nullptr, L"notepad.exe", nullptr, si, m_process))
            return;
        WaitForInputIdle(m_process.hProcess, 10000);
        PumpUntil([this] {
            EnumWindows(
                [](HWND hwnd, LPARAM self) {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(hwnd, &pid);
                    auto* notepad = reinterpret_cast<CNotepad*>(self);
                    if (pid == notepad->m_process.dwProcessId && IsWindowVisible(hwnd) && !GetWindow(hwnd, GW_OWNER))
                        notepad->window = hwnd;
                    return notepad->window ? FALSE : TRUE;
                },
                reinterpret_cast<LPARAM>(this));
            return window != nullptr;
        });
        if (window)
            SetWindowPos(window, HWND_TOP, 640, 60, 360, 260, SWP_NOACTIVATE);
    }
    ~CNotepad()
    {
        if (m_process.hProcess) {
            TerminateProcess(m_process.hProcess, 0);
            WaitForSingleObject(m_process.hProcess, 5000);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
    }
    POINT Centre() const
    {
        RECT r;
        GetWindowRect(window, &r);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    HWND window = nullptr;

private:
    PROCESS_INFORMATION m_process{};
};

void MouseTo(POINT at)
{
    INPUT input{INPUT_MOUSE};
    input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof(input));
}

void MouseButton(bool down)
{
    INPUT input{INPUT_MOUSE};
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof(input));
}

void Key(WORD vk)
{
    INPUT input[2] = {{INPUT_KEYBOARD}, {INPUT_KEYBOARD}};
    input[0].ki.wVk = input[1].ki.wVk = vk;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
}

// The screen centre of a toolbar button.
POINT ButtonCentre(HWND toolbar, int command)
{
    RECT r{};
    SendMessageW(toolbar, TB_GETRECT, command, reinterpret_cast<LPARAM>(&r));
    POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(toolbar, &at);
    return at;
}

// True when a lies above b in the stacking order of the top-level windows.
bool Above(HWND a, HWND b)
{
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
        if (w == a)
            return true;
        if (w == b)
            return false;
    }
    return false;
}

// Steps run from a thread timer while the picker's own loop runs; each returns true when done.
std::vector<std::function<bool()>> PickerSteps;

void CALLBACK RunPickerStep(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (PickerSteps.empty()) {
        KillTimer(nullptr, timer);
        return;
    }
    if (PickerSteps.front()())
        PickerSteps.erase(PickerSteps.begin());
}

class KeyboardPage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(t.created);
        ASSERT_TRUE(notepad.window) << "notepad did not start";
        SetForegroundWindow(t.frame);
        PumpWaiting();
    }
    CTransferDoc& Doc() { return t.host.GetTransferDoc(); }
    HWND Toolbar() { return t.Item(IDC_KBD_WINDOW_BAR); }
    void EnableFilter()
    {
        SendMessageW(t.Item(IDC_KBD_FILTER_ON), BM_CLICK, 0, 0);
        ASSERT_TRUE(Doc().Keyboard().filterEnabled);
    }
    // Presses "Select window" and runs the steps while the picker runs; false when the picker
    // did not end in time.
    bool Pick(std::vector<std::function<bool()>> steps)
    {
        PickerSteps = std::move(steps);
        const UINT_PTR timer = SetTimer(nullptr, 0, 30, RunPickerStep);
        MouseTo(ButtonCentre(Toolbar(), ID_KBD_SELECT_WINDOW));
        MouseButton(true);
        const bool ended = PumpUntil([this] { return PickerSteps.empty() && !t.page->IsPicking(); }, 10000);
        KillTimer(nullptr, timer);
        if (t.page->IsPicking())
            ReleaseCapture();  // never leave a test hanging in the picker
        MouseButton(false);
        PumpWaiting();
        return ended;
    }
    bool PickerOver(HWND window) { return t.page->IsPicking() && t.page->HighlightedWindow() == window; }

    CPageUnderTest<CKeyboardPage> t;
    CNotepad notepad;
};

} // namespace

TEST_F(KeyboardPage, DelaysStoreOnlyValidNumbersInRange)
{
    const struct {
        const wchar_t* typed;
        uint32_t stored;
    } cases[] = {
        {L"-5", 400},          {L"x", 400},           {L"0", 0},          {L"2147483647", 2147483647u},
        {L"2147483648", 2147483647u}, {L"4294967295", 2147483647u}, {L" 25 ", 25}, {L"", 25},
    };
    for (const auto& c : cases) {
        TypeAndLeave(t.Item(IDC_KBD_ACTIVATE_DELAY), c.typed, t.Item(IDC_KBD_PRESS_DELAY));
        EXPECT_EQ(c.stored, Doc().Keyboard().afterActivateDelay) << c.typed;
    }
    TypeAndLeave(t.Item(IDC_KBD_RELEASE_DELAY), L"0", t.Item(IDC_KBD_PRESS_DELAY));
    TypeAndLeave(t.Item(IDC_KBD_PRESS_DELAY), L"-1", t.Item(IDC_KBD_RELEASE_DELAY));
    EXPECT_EQ(0u, Doc().Keyboard().afterReleaseDelay);
    EXPECT_EQ(5u, Doc().Keyboard().afterPressDelay);

    // Restoring the defaults refills the fields.
    SendMessageW(t.page->m_hWnd, WM_COMMAND, ID_PAGE_DEFAULT, 0);
    EXPECT_EQ(L"400", WindowText(t.Item(IDC_KBD_ACTIVATE_DELAY)));
    EXPECT_EQ(L"5", WindowText(t.Item(IDC_KBD_RELEASE_DELAY)));
}

TEST_F(KeyboardPage, TypingLibraryRadioFollowsTheLibraryBesideTheProgram)
{
    const std::wstring beside = CKeyboardPage::TypingLibraryPath();
    DeleteFileW(beside.c_str());
    const struct {
        bool library;
        int32_t method;
    } cases[] = {{false, KEYBOARD_METHOD_LIBRARY}, {true, KEYBOARD_METHOD_KEYSTROKES}};
    for (const auto& c : cases) {
        if (c.library) {
            ASSERT_TRUE(CopyFileW((ToolsFolder() + L"\\autoit\\AutoItX3.dll").c_str(), beside.c_str(), FALSE));
        }
        Doc().SetKeyboardMethod(c.method);
        CPageUnderTest<CKeyboardPage> page;
        page.host.GetTransferDoc().SetKeyboardMethod(c.method);
        page.page->ExchangeData(false);
        EXPECT_EQ(c.library, IsWindowEnabled(page.Item(IDC_KBD_AUTOIT)) != FALSE);
        EXPECT_EQ(c.method == KEYBOARD_METHOD_LIBRARY, IsDlgButtonChecked(page.page->m_hWnd, IDC_KBD_AUTOIT) == BST_CHECKED)
            << "a stored method shows checked even without the library";
    }
    DeleteFileW(beside.c_str());
}

TEST_F(KeyboardPage, SelectWindowStartsNothingWhileActivateWindowIsOff)
{
    ASSERT_FALSE(Doc().Keyboard().filterEnabled);
    EXPECT_FALSE(SendMessageW(Toolbar(), TB_ISBUTTONENABLED, ID_KBD_SELECT_WINDOW, 0));
    EXPECT_FALSE(IsWindowEnabled(t.Item(IDC_KBD_CLASS)));
    // Even a press that reaches the page starts no picker.
    NMMOUSE press{};
    press.hdr = NMHDR{Toolbar(), IDC_KBD_WINDOW_BAR, NM_LDOWN};
    press.dwItemSpec = ID_KBD_SELECT_WINDOW;
    SendMessageW(t.page->m_hWnd, WM_NOTIFY, IDC_KBD_WINDOW_BAR, reinterpret_cast<LPARAM>(&press));
    EXPECT_FALSE(t.page->IsPicking());
    EXPECT_EQ(nullptr, GetCapture());
    EXPECT_EQ(L"*", Doc().Keyboard().filterClass);
}

TEST_F(KeyboardPage, PickerReleasedOverAnotherProcessStoresItsClassTitleAndImage)
{
    EnableFilter();
    bool mainBelow = false;
    ASSERT_TRUE(Pick({
        [&] { return t.page->IsPicking() ? (MouseTo(notepad.Centre()), true) : false; },
        [&] {
            if (!PickerOver(notepad.window))
                return false;
            mainBelow = Above(notepad.window, t.frame);
            MouseButton(false);
            return true;
        },
    }));
    wchar_t className[261], title[261], image[MAX_PATH] = {};
    GetClassNameW(notepad.window, className, 261);
    GetWindowTextW(notepad.window, title, 261);
    DWORD pid = 0;
    GetWindowThreadProcessId(notepad.window, &pid);
    ASSERT_GT(GetProcessImagePath(pid, image), 0u);
    EXPECT_EQ(className, Doc().Keyboard().filterClass);
    EXPECT_EQ(title, Doc().Keyboard().filterTitle);
    EXPECT_EQ(image, Doc().Keyboard().filterFile);
    EXPECT_EQ(className, WindowText(t.Item(IDC_KBD_CLASS)));
    EXPECT_EQ(image, WindowText(t.Item(IDC_KBD_FILE)));
    EXPECT_TRUE(mainBelow) << "the main window stood back while picking";
    EXPECT_TRUE(Above(t.frame, notepad.window)) << "and came back to the top";
    EXPECT_EQ(nullptr, GetCapture());
}

TEST_F(KeyboardPage, EscapeChangesNothingAndRestoresTheMainWindowsPlace)
{
    EnableFilter();
    AppViewOptions view = t.host.GetSettings().view;
    view.topMost = true;
    t.host.GetSettings().SetViewOptions(view);
    SetWindowPos(t.frame, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    bool wasTopmost = true;
    ASSERT_TRUE(Pick({
        [&] { return t.page->IsPicking() ? (MouseTo(notepad.Centre()), true) : false; },
        [&] {
            if (!PickerOver(notepad.window))
                return false;
            wasTopmost = (GetWindowLongPtrW(t.frame, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
            Key(VK_ESCAPE);
            return true;
        },
    }));
    EXPECT_EQ(L"*", Doc().Keyboard().filterClass);
    EXPECT_EQ(L"*", Doc().Keyboard().filterTitle);
    EXPECT_EQ(L"*", WindowText(t.Item(IDC_KBD_FILE)));
    EXPECT_FALSE(wasTopmost) << "not topmost while picking";
    EXPECT_TRUE(Above(t.frame, notepad.window));
}

TEST_F(KeyboardPage, QuitDuringThePickerReachesTheLoopAroundIt)
{
    EnableFilter();
    ASSERT_TRUE(Pick({[&] { return t.page->IsPicking() ? (PostQuitMessage(7), true) : false; }}));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
    EXPECT_EQ(L"*", Doc().Keyboard().filterClass);
}

TEST_F(KeyboardPage, GoToWindowFlashesTheFoundWindowForElevenTicks)
{
    EnableFilter();
    TypeAndLeave(t.Item(IDC_KBD_TITLE), L"*Notepad*", t.Item(IDC_KBD_CLASS));
    HWND target = CreateOptionFrame();
    SetWindowPos(target, HWND_TOP, 640, 380, 300, 200, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    PumpWaiting();
    t.host.targetWindow = target;
    const DWORD start = GetTickCount();
    MouseTo(ButtonCentre(Toolbar(), ID_ACTIVATE_TARGET));
    MouseButton(true);
    MouseButton(false);
    ASSERT_TRUE(PumpUntil([this] { return t.page->IsFlashing(); }));
    EXPECT_EQ(L"*Notepad*", Doc().Keyboard().filterTitle);
    EXPECT_EQ(std::vector<std::wstring>{L"ActivateTargetWindow"}, t.host.calls);
    const int first = t.page->FlashCount();
    EXPECT_GE(first, 10);
    // The hatched frame on a yellow ground shows on the window's edge at an even count. It is
    // drawn over the window outside its painting: the picture is taken as the window stands.
    ASSERT_TRUE(PumpUntil([this] { return t.page->IsFlashing() && t.page->FlashCount() % 2 == 0; }));
    const CWindowPicture picture(target, L"WindowFlash.bmp", CWindowPicture::Paint::kAsDrawn);
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    EXPECT_GT(picture.Count(RECT{0, 1, picture.Width(), 2}, RGB(255, 255, 0)), 10) << "the highlight is drawn";
    ASSERT_TRUE(PumpUntil([this] { return !t.page->IsFlashing(); }, 5000));
    EXPECT_EQ(0, t.page->FlashCount());
    EXPECT_GE(GetTickCount() - start, 900u) << "ten more ticks of 100 ms";

    // Nothing found: no flash.
    t.host.targetWindow = nullptr;
    SendMessageW(t.page->m_hWnd, WM_COMMAND, ID_ACTIVATE_TARGET, reinterpret_cast<LPARAM>(Toolbar()));
    EXPECT_FALSE(t.page->IsFlashing());
    DestroyWindow(target);
}

TEST_F(KeyboardPage, PageIsDrawn)
{
    EnableFilter();
    const RECT group = ClientRectInWindowPicture(t.frame, t.Item(IDC_KBD_WINDOW_GROUP));
    EXPECT_GT(PictureInk(t.frame, group, L"KeyboardPage.bmp"), 300);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(t.page->m_hWnd, IDC_KBD_UNICODE));
}
