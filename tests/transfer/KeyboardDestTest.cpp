// Typing into real windows of the test process under the test display. The windows belong to
// the test thread, so the injected keys are processed by pumping its queue right after each
// event, while the focus is still where the typing put it (another program would pump its own).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/TransferRecords.h"
#include "core/ResultCodes.h"
#include "tests/support/KeyInputRecorder.h"
#include "tests/support/PumpingInput.h"
#include "config/FormatEngine.h"
#include "transfer/KeyboardDest.h"
#include "transfer/KeySender.h"

namespace
{

constexpr wchar_t kTargetClass[] = L"NvKbdTarget";
constexpr wchar_t kFrontClass[] = L"NvKbdFront";

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETFOCUS)
    {
        // Activation gives the focus to the frame: pass it on to the edit, as a form would.
        if (HWND edit = GetWindow(window, GW_CHILD))
            SetFocus(edit);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterClasses()
{
    static bool done = false;
    if (done)
        return;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = TargetProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kTargetClass;
    RegisterClassW(&wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = kFrontClass;
    RegisterClassW(&wc);
    done = true;
}

class CTestWindow
{
public:
    CTestWindow(const wchar_t* cls, const wchar_t* title, bool visible, bool withEdit)
    {
        RegisterClasses();
        m_window = CreateWindowExW(0, cls, title, WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 40, 40, 400, 200,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (withEdit)
            m_edit = CreateWindowExW(0, L"EDIT", L"",
                                     WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL, 0, 0, 380,
                                     150, m_window, nullptr, GetModuleHandleW(nullptr), nullptr);
        // A window activated while it was being created had no edit to hand the focus to.
        if (m_edit && GetFocus() == m_window)
            SetFocus(m_edit);
        // Each new window goes to the top of the stacking order.
        // Each new window goes to the top of the stacking order (Wine keeps hidden ones below
        // the visible ones).
        SetWindowPos(m_window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    ~CTestWindow()
    {
        if (m_window)
            DestroyWindow(m_window);
        PumpPending();
    }
    CTestWindow(const CTestWindow&) = delete;
    CTestWindow& operator=(const CTestWindow&) = delete;

    HWND Get() const { return m_window; }
    std::wstring EditText() const
    {
        wchar_t text[256] = {};
        GetWindowTextW(m_edit, text, 256);
        return text;
    }

private:
    HWND m_window = nullptr;
    HWND m_edit = nullptr;
};

_TRANS_DST_KEYBOARD Settings(int method, bool filter = false, const wchar_t* classMask = L"*")
{
    _TRANS_DST_KEYBOARD s;
    s.method = method;
    s.afterActivateDelay = kSettleMs;
    s.afterPressDelay = 0;
    s.afterReleaseDelay = 0;
    s.filterEnabled = filter;
    s.filterClass = classMask;
    return s;
}

bool MakeForeground(HWND window)
{
    SetForegroundWindow(window);
    PumpFor(kSettleMs);
    return GetForegroundWindow() == window;
}

TEST(KeyboardTyping, EachMethodTypesIntoTheForegroundEdit)
{
    struct Case
    {
        int method;
        std::wstring text;
        std::vector<uint32_t> keys;
        std::wstring expected;
    } cases[] = {
        {KEYBOARD_METHOD_KEYSTROKES, L"12345", {}, L"12345"},
        {KEYBOARD_METHOD_US_VKEYS, L"Aa1", {}, L"Aa1"},
    };
    for (const Case& c : cases)
    {
        CTestWindow target(kTargetClass, L"Typing Target", true, true);
        ASSERT_TRUE(MakeForeground(target.Get()));
        CPumpingInput input;
        std::wstring destination;
        EXPECT_EQ(TypeToTargetWindow(Settings(c.method), nullptr, c.text, c.keys, destination), S_OK);
        PumpPending();
        EXPECT_EQ(target.EditText(), c.expected) << "method " << c.method;
        EXPECT_EQ(destination, L"Typing Target");
        EXPECT_EQ(GetForegroundWindow(), target.Get());
    }
}

TEST(KeyboardTyping, RenderedKeyCodeArrivesAsEnter)
{
    for (int method : {KEYBOARD_METHOD_KEYSTROKES, KEYBOARD_METHOD_US_VKEYS})
    {
        std::wstring text;
        KeyVector keys;
        UnescapeTemplate(text, &keys, L"12\\k0Dxy");
        ASSERT_EQ(keys, KeyVector{0x0D});
        CTestWindow target(kTargetClass, L"Enter Target", true, true);
        ASSERT_TRUE(MakeForeground(target.Get()));
        CPumpingInput input;
        std::wstring destination;
        EXPECT_EQ(TypeToTargetWindow(Settings(method), nullptr, text, keys, destination), S_OK);
        PumpPending();
        EXPECT_EQ(target.EditText(), L"12\r\nxy") << "method " << method;
    }
}

TEST(KeyboardTyping, FilterFindsTargetByClassAndGivesTheForegroundBack)
{
    CTestWindow target(kTargetClass, L"Filtered Target", true, true);
    CTestWindow front(kFrontClass, L"Front", true, false);
    ASSERT_TRUE(MakeForeground(front.Get()));
    CPumpingInput input;
    std::wstring destination;
    EXPECT_EQ(TypeToTargetWindow(Settings(KEYBOARD_METHOD_KEYSTROKES, true, kTargetClass), nullptr, L"777", {},
                                 destination),
              S_OK);
    PumpPending();
    EXPECT_EQ(target.EditText(), L"777");
    EXPECT_EQ(destination, L"Filtered Target");
    EXPECT_EQ(GetForegroundWindow(), front.Get());
}

TEST(KeyboardTyping, OwnMainWindowInFrontTypesIntoTheNextVisibleWindow)
{
    // With the filter off, and with the filter on and every mask "*".
    for (bool filter : {false, true})
    {
        CTestWindow hidden(kTargetClass, L"Hidden", false, true);
        CTestWindow target(kTargetClass, L"Below", true, true);
        CTestWindow main(kFrontClass, L"Main", true, false);
        ASSERT_TRUE(MakeForeground(main.Get()));
        CPumpingInput input;
        std::wstring destination;
        EXPECT_EQ(TypeToTargetWindow(Settings(KEYBOARD_METHOD_KEYSTROKES, filter), main.Get(), L"42", {}, destination),
                  S_OK);
        PumpPending();
        EXPECT_EQ(destination, L"Below") << "filter " << filter;
        EXPECT_EQ(target.EditText(), L"42");
        EXPECT_EQ(hidden.EditText(), L"");
        EXPECT_EQ(GetForegroundWindow(), main.Get());
    }
}

TEST(KeyboardTyping, NoTargetGivesTheFilterStatesCodeAndTypesNothing)
{
    CTestWindow front(kFrontClass, L"Front", true, false);
    ASSERT_TRUE(MakeForeground(front.Get()));
    CKeyInputRecorder rec;
    std::wstring destination = L"unchanged";
    EXPECT_EQ(TypeToTargetWindow(Settings(KEYBOARD_METHOD_KEYSTROKES, true, L"NoSuchClass"), nullptr, L"1", {},
                                 destination),
              KV_E_WINDOW_NOT_FOUND);
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(destination, L"unchanged");
    EXPECT_EQ(GetForegroundWindow(), front.Get());
}

TEST(KeyboardTyping, ActivationDelayAfterBringingTheTargetForward)
{
    CTestWindow target(kTargetClass, L"Target", true, true);
    CTestWindow front(kFrontClass, L"Front", true, false);
    ASSERT_TRUE(MakeForeground(front.Get()));
    _TRANS_DST_KEYBOARD s = Settings(KEYBOARD_METHOD_KEYSTROKES, true, kTargetClass);
    s.afterActivateDelay = 30;
    CKeyInputRecorder rec;
    std::wstring destination;
    EXPECT_EQ(TypeToTargetWindow(s, nullptr, L"", {}, destination), S_OK);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"pause 30", "block on", "block off"}));
    EXPECT_EQ(GetForegroundWindow(), front.Get());
}

TEST(FindTargetWindow, MasksVisibilityStartAndMainWindow)
{
    CTestWindow two(kTargetClass, L"Target Two", true, false);
    CTestWindow hidden(kTargetClass, L"Hidden", false, false);
    CTestWindow one(kTargetClass, L"Target One", true, false);
    CTestWindow front(kFrontClass, L"Front", true, false);
    ASSERT_TRUE(MakeForeground(front.Get()));
    ASSERT_EQ(GetWindow(front.Get(), GW_HWNDNEXT), one.Get());
    ASSERT_EQ(GetWindow(one.Get(), GW_HWNDNEXT), two.Get());

    const HWND none = nullptr;
    struct Case
    {
        const wchar_t* cls;
        const wchar_t* title;
        const wchar_t* file;
        HWND start, main, expected;
    } cases[] = {
        {kTargetClass, L"*", L"*", none, none, one.Get()},
        {kTargetClass, L"*Two", L"*", none, none, two.Get()},
        {kTargetClass, L"Target ?ne", L"*", none, none, one.Get()},
        {L"NvKbd*", L"*", L"*", none, none, front.Get()},
        {L"NvKbd*", L"*", L"*", none, front.Get(), one.Get()},
        {L"*", L"Hidden", L"*", none, none, none},
        {L"*", L"target one", L"*", none, none, none},
        {L"nvkbdtarget", L"*", L"*", none, none, none},
        {L"NvKbd*", L"*", L"*\\test_transfer.exe", none, none, front.Get()},
        {L"NvKbd*", L"*", L"*\\elsewhere.exe", none, none, none},
        {kTargetClass, L"*", L"*", one.Get(), none, one.Get()},
        {kTargetClass, L"*", L"*", two.Get(), none, two.Get()},
        {kTargetClass, L"Target One", L"*", two.Get(), none, none},
        {kTargetClass, L"Hidden", L"*", hidden.Get(), none, none},
    };
    int row = 0;
    for (const Case& c : cases)
    {
        EXPECT_EQ(FindTargetWindow(c.cls, c.title, c.file, c.start, c.main), c.expected) << "row " << row;
        ++row;
    }
}

}  // namespace
