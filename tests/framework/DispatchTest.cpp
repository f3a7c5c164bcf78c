#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <stdexcept>
#include "tests/framework/FrameworkTestSupport.h"

namespace {

HWND CreatePlain(const wchar_t* cls, HWND parent, int id, DWORD style = WS_CHILD | WS_VISIBLE)
{
    return CreateWindowExW(0, cls, L"", style, 0, 0, 50, 20, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

class Dispatch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DrainMessages();
        TestApp().exceptionMessages.clear();
        ASSERT_TRUE(top.CreateTop());
    }
    void TearDown() override
    {
        top.Destroy();
        DrainMessages();
        EXPECT_EQ(nullptr, UpdatingWindow);
    }
    CScriptWnd top;
};

} // namespace

TEST_F(Dispatch, CommandInsideUpdatingScopeIsAnsweredWithoutHandler)
{
    EXPECT_EQ(0, SendMessageW(top.m_hWnd, WM_COMMAND, MAKEWPARAM(7, 0), 0)); // no handler consumed it
    ASSERT_EQ(1u, top.commands.size());
    {
        UpdatingScope outer(top.m_hWnd);
        EXPECT_EQ(1, SendMessageW(top.m_hWnd, WM_COMMAND, MAKEWPARAM(8, 0), 0));
        {
            UpdatingScope inner(top.m_hWnd);
            EXPECT_EQ(1, SendMessageW(top.m_hWnd, WM_COMMAND, MAKEWPARAM(9, 0), 0));
        }
        // The inner scope for the same window put nothing back.
        EXPECT_EQ(top.m_hWnd, UpdatingWindow);
        EXPECT_EQ(1, SendMessageW(top.m_hWnd, WM_COMMAND, MAKEWPARAM(10, 0), 0));
        NMHDR nmh{top.m_hWnd, 11, NM_CLICK};
        SendMessageW(top.m_hWnd, WM_NOTIFY, 11, reinterpret_cast<LPARAM>(&nmh));
    }
    EXPECT_EQ(nullptr, UpdatingWindow);
    EXPECT_EQ(1u, top.commands.size()) << "no command or notify handler ran inside the scope";
    SendMessageW(top.m_hWnd, WM_COMMAND, MAKEWPARAM(12, 0), 0);
    EXPECT_EQ((std::vector<int>{7, 12}), top.commands);
}

TEST_F(Dispatch, ScopesOfDifferentWindowsRestoreInOrder)
{
    CScriptWnd other;
    ASSERT_TRUE(other.CreateChild(top.m_hWnd, 5, 0, 0, 10, 10));
    {
        UpdatingScope a(top.m_hWnd);
        {
            UpdatingScope b(other.m_hWnd);
            EXPECT_EQ(other.m_hWnd, UpdatingWindow);
            // Only the updating window is muted.
            EXPECT_EQ(0, SendMessageW(top.m_hWnd, WM_COMMAND, MAKEWPARAM(3, 0), 0));
            EXPECT_EQ(1, SendMessageW(other.m_hWnd, WM_COMMAND, MAKEWPARAM(4, 0), 0));
        }
        EXPECT_EQ(top.m_hWnd, UpdatingWindow);
    }
    EXPECT_EQ((std::vector<int>{3}), top.commands);
    EXPECT_TRUE(other.commands.empty());
}

TEST_F(Dispatch, SubclassedControlReachesItsClassProcedureAndIsRestoredOnDestroy)
{
    CScriptControl edit;
    ASSERT_TRUE(edit.Create(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, top.m_hWnd,
                            reinterpret_cast<HMENU>(101)));
    HWND hwnd = edit.m_hWnd;
    EXPECT_EQ(&edit, FindWindowObject(hwnd));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&FrameworkWndProc), GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    EXPECT_NE(nullptr, edit.m_savedProc);
    EXPECT_EQ(WM_NCCREATE, edit.messages.front()) << "the hook binds before the first message";

    SetWindowTextW(hwnd, L"12345");
    EXPECT_EQ(1, edit.Count(WM_SETTEXT));
    std::wstring text;
    EXPECT_EQ(5, GetWindowString(hwnd, text)); // only the edit class stores the text
    EXPECT_EQ(L"12345", text);

    edit.Destroy();
    EXPECT_EQ(nullptr, edit.m_hWnd);
    EXPECT_EQ(nullptr, edit.m_savedProc);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(nullptr, FindWindowObject(hwnd));
    EXPECT_EQ(0, edit.Count(WM_DESTROY)) << "the last messages went to the class procedure";
    EXPECT_EQ(0, edit.Count(WM_NCDESTROY));
}

TEST_F(Dispatch, AttachBindsAnExistingControlOnce)
{
    HWND plain = CreatePlain(L"EDIT", top.m_hWnd, 102);
    const LONG_PTR classProc = GetWindowLongPtrW(plain, GWLP_WNDPROC);
    {
        CScriptControl edit;
        edit.Attach(plain);
        EXPECT_EQ(&edit, FindWindowObject(plain));
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(&FrameworkWndProc), GetWindowLongPtrW(plain, GWLP_WNDPROC));
        EXPECT_EQ(classProc, reinterpret_cast<LONG_PTR>(edit.m_savedProc));
        edit.Attach(plain); // a second attach must not save our own procedure as the class's
        EXPECT_EQ(classProc, reinterpret_cast<LONG_PTR>(edit.m_savedProc));
        SetWindowTextW(plain, L"ab");
        EXPECT_EQ(1, edit.Count(WM_SETTEXT));
        std::wstring text;
        EXPECT_EQ(2, GetWindowString(plain, text));
    }
    EXPECT_FALSE(IsWindow(plain));
    EXPECT_EQ(nullptr, FindWindowObject(plain));
}

TEST_F(Dispatch, HookBindsOnlyTheFirstWindowCreated)
{
    CScriptControl combo;
    ASSERT_TRUE(combo.Create(0, WC_COMBOBOXW, L"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWN, 0, 0, 100, 200, top.m_hWnd,
                             reinterpret_cast<HMENU>(103)));
    EXPECT_EQ(&combo, FindWindowObject(combo.m_hWnd));
    HWND innerEdit = GetWindow(combo.m_hWnd, GW_CHILD);
    ASSERT_NE(nullptr, innerEdit);
    EXPECT_EQ(nullptr, FindWindowObject(innerEdit));
    EXPECT_NE(reinterpret_cast<LONG_PTR>(&FrameworkWndProc), GetWindowLongPtrW(innerEdit, GWLP_WNDPROC));
    // Later windows are not bound either: the hook is gone.
    HWND later = CreatePlain(L"STATIC", top.m_hWnd, 104);
    EXPECT_EQ(nullptr, FindWindowObject(later));
    EXPECT_NE(reinterpret_cast<LONG_PTR>(&FrameworkWndProc), GetWindowLongPtrW(later, GWLP_WNDPROC));
}

TEST_F(Dispatch, SubclassingAFrameworkClassKeepsNoSavedProcedure)
{
    CScriptControl own;
    ASSERT_TRUE(own.Create(0, TestWndClass, L"own", WS_CHILD, 0, 0, 10, 10, top.m_hWnd, nullptr));
    EXPECT_EQ(nullptr, own.m_savedProc);
    EXPECT_EQ(&own, FindWindowObject(own.m_hWnd));
    SetWindowTextW(own.m_hWnd, L"xyz"); // DefWindowProcW stores it
    std::wstring text;
    own.GetText(text);
    EXPECT_EQ(L"xyz", text);
}

TEST_F(Dispatch, ThrowInCreateFailsTheCreation)
{
    CScriptWnd failing;
    failing.onMessage = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_CREATE)
            throw std::runtime_error("create failed");
        return std::nullopt;
    };
    EXPECT_FALSE(failing.CreateChild(top.m_hWnd, 9, 0, 0, 10, 10));
    EXPECT_EQ(nullptr, failing.m_hWnd);
    EXPECT_EQ((std::vector<UINT>{WM_CREATE}), TestApp().exceptionMessages);
    EXPECT_EQ("create failed", TestApp().lastExceptionText);
    EXPECT_EQ(1, failing.Count(WM_NCDESTROY));
    for (const auto& entry : TestApp().WindowMap)
        EXPECT_NE(&failing, entry.second);
}

TEST_F(Dispatch, ThrowInPaintValidatesTheWindow)
{
    int paints = 0;
    top.onMessage = [&paints](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_PAINT) {
            ++paints;
            throw std::runtime_error("paint failed");
        }
        return std::nullopt;
    };
    ShowWindow(top.m_hWnd, SW_SHOWNOACTIVATE);
    DrainMessages();
    paints = 0;
    InvalidateRect(top.m_hWnd, nullptr, FALSE);
    UpdateWindow(top.m_hWnd);
    EXPECT_EQ(1, paints);
    EXPECT_FALSE(GetUpdateRect(top.m_hWnd, nullptr, FALSE));
    DrainMessages();
    EXPECT_EQ(1, paints) << "no repaint loop";
}

TEST_F(Dispatch, ExceptionsOfEveryKindStopAtTheDispatch)
{
    struct NotAStdException {};
    struct Case {
        std::function<void()> thrower;
        const char* text;
    } cases[] = {
        {[] { throw std::logic_error("logic"); }, "logic"},
        {[] { throw 42; }, "Unknown exception in a message handler"},
        {[] { throw NotAStdException{}; }, "Unknown exception in a message handler"},
    };
    for (const Case& c : cases) {
        top.onMessage = [&c](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (m == WM_USER + 3)
                c.thrower();
            return std::nullopt;
        };
        TestApp().exceptionMessages.clear();
        const MSG before = TestApp().CurrentMessage;
        EXPECT_EQ(0, SendMessageW(top.m_hWnd, WM_USER + 3, 1, 2)) << c.text;
        EXPECT_EQ((std::vector<UINT>{WM_USER + 3}), TestApp().exceptionMessages) << c.text;
        EXPECT_EQ(c.text, TestApp().lastExceptionText);
        EXPECT_EQ(before.message, TestApp().CurrentMessage.message) << "the current message is restored";
        EXPECT_EQ(before.hwnd, TestApp().CurrentMessage.hwnd);
    }
}

TEST_F(Dispatch, NestedSendSeesItsOwnCurrentMessage)
{
    CScriptWnd inner;
    ASSERT_TRUE(inner.CreateChild(top.m_hWnd, 6, 0, 0, 10, 10));
    MSG seenInner{}, seenOuterAfter{};
    inner.onMessage = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER + 2) {
            seenInner = TestApp().CurrentMessage;
            return 22;
        }
        return std::nullopt;
    };
    top.onMessage = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER + 1) {
            EXPECT_EQ(22, SendMessageW(inner.m_hWnd, WM_USER + 2, 5, 6));
            seenOuterAfter = TestApp().CurrentMessage;
            return 11;
        }
        return std::nullopt;
    };
    const MSG before = TestApp().CurrentMessage;
    EXPECT_EQ(11, SendMessageW(top.m_hWnd, WM_USER + 1, 3, 4));
    EXPECT_EQ(inner.m_hWnd, seenInner.hwnd);
    EXPECT_EQ(WM_USER + 2u, seenInner.message);
    EXPECT_EQ(5u, seenInner.wParam);
    EXPECT_EQ(6, seenInner.lParam);
    EXPECT_EQ(top.m_hWnd, seenOuterAfter.hwnd);
    EXPECT_EQ(WM_USER + 1u, seenOuterAfter.message);
    EXPECT_EQ(3u, seenOuterAfter.wParam);
    EXPECT_EQ(4, seenOuterAfter.lParam);
    EXPECT_EQ(before.message, TestApp().CurrentMessage.message);
}

TEST_F(Dispatch, OwnerDrawAndCommandsAreReflectedToTheControl)
{
    CScriptControl button;
    button.onReflected = [](UINT m, WPARAM, LPARAM, LRESULT*) { return m == WM_DRAWITEM; };
    ASSERT_TRUE(button.Create(0, L"BUTTON", L"Draw", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 10, 10, 80, 24, top.m_hWnd,
                              reinterpret_cast<HMENU>(105)));
    ShowWindow(top.m_hWnd, SW_SHOWNOACTIVATE);
    RedrawWindow(button.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_GE(top.Count(WM_DRAWITEM), 1);
    EXPECT_NE(std::find(button.reflected.begin(), button.reflected.end(), UINT(WM_DRAWITEM)), button.reflected.end());

    button.reflected.clear();
    SendMessageW(top.m_hWnd, WM_COMMAND, MAKEWPARAM(105, BN_CLICKED), reinterpret_cast<LPARAM>(button.m_hWnd));
    EXPECT_EQ((std::vector<UINT>{WM_COMMAND}), button.reflected);

    button.reflected.clear();
    button.onReflected = [](UINT m, WPARAM, LPARAM, LRESULT* result) {
        if (m == WM_NOTIFY && result)
            *result = 77;
        return m == WM_NOTIFY;
    };
    NMHDR nmh{button.m_hWnd, 105, NM_CLICK};
    EXPECT_EQ(77, SendMessageW(top.m_hWnd, WM_NOTIFY, 105, reinterpret_cast<LPARAM>(&nmh)));
    NMHDR anonymous{nullptr, 105, NM_CLICK};
    EXPECT_EQ(0, SendMessageW(top.m_hWnd, WM_NOTIFY, 105, reinterpret_cast<LPARAM>(&anonymous)));
    EXPECT_EQ((std::vector<UINT>{WM_NOTIFY}), button.reflected) << "a notification without sender is not reflected";
}

TEST_F(Dispatch, ParentNotifyOfCreationReachesTheChild)
{
    CScriptControl child;
    ASSERT_TRUE(child.Create(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, top.m_hWnd, reinterpret_cast<HMENU>(106)));
    EXPECT_EQ((std::vector<UINT>{WM_PARENTNOTIFY}), child.reflected);
}

TEST_F(Dispatch, MessagesBeforeNcCreateGoToTheDefaultProcedure)
{
    // A top-level window gets WM_GETMINMAXINFO before WM_NCCREATE; the object starts at WM_NCCREATE.
    EXPECT_EQ(WM_NCCREATE, top.messages.front());
    EXPECT_EQ(&top, FindWindowObject(top.m_hWnd));
}

TEST_F(Dispatch, DestroyedWithItsParentTheChildForgetsItsHandle)
{
    CScriptWnd parent, child;
    ASSERT_TRUE(parent.CreateChild(top.m_hWnd, 1, 0, 0, 100, 100));
    ASSERT_TRUE(child.CreateChild(parent.m_hWnd, 2, 0, 0, 10, 10));
    HWND childHandle = child.m_hWnd;
    parent.Destroy();
    EXPECT_EQ(nullptr, child.m_hWnd) << "a stale handle could later name another window";
    EXPECT_EQ(nullptr, FindWindowObject(childHandle));
    EXPECT_EQ(1, child.Count(WM_NCDESTROY));
}

TEST_F(Dispatch, FindChildObjectSearchOrder)
{
    // top
    //   static id 5 (no object)        -> mapped grandchild id 5 wins over nothing
    //     mapped id 5
    //   static id 7 (no object)
    //     mapped id 8
    HWND s5 = CreatePlain(L"STATIC", top.m_hWnd, 5);
    CScriptWnd inner5, deep8;
    ASSERT_TRUE(inner5.CreateChild(s5, 5, 0, 0, 5, 5));
    HWND s7 = CreatePlain(L"STATIC", top.m_hWnd, 7);
    ASSERT_TRUE(deep8.CreateChild(s7, 8, 0, 0, 5, 5));
    CScriptWnd direct9;
    ASSERT_TRUE(direct9.CreateChild(top.m_hWnd, 9, 0, 0, 5, 5));

    struct Case {
        int id;
        HWND expected;
    } cases[] = {{5, inner5.m_hWnd}, {8, deep8.m_hWnd}, {9, direct9.m_hWnd}, {7, nullptr}, {1234, nullptr}};
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, FindChildObject(top.m_hWnd, c.id)) << "id " << c.id;
}

TEST_F(Dispatch, BroadcastVisitsDescendantsDepthFirst)
{
    std::vector<HWND> order;
    auto record = [&order](UINT wanted) {
        return [&order, wanted](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (m == wanted)
                order.push_back(h);
            return std::nullopt;
        };
    };
    CScriptWnd a, a1, s1, b;
    ASSERT_TRUE(a.CreateChild(top.m_hWnd, 1, 0, 0, 50, 50));
    ASSERT_TRUE(a1.CreateChild(a.m_hWnd, 2, 0, 0, 5, 5));
    HWND s = CreatePlain(L"STATIC", top.m_hWnd, 3);
    ASSERT_TRUE(s1.CreateChild(s, 4, 0, 0, 5, 5));
    ASSERT_TRUE(b.CreateChild(top.m_hWnd, 5, 0, 0, 5, 5));
    for (CScriptWnd* w : {&a, &a1, &s1, &b})
        w->onMessage = record(WM_USER + 9);
    const std::vector<HWND> expected{a.m_hWnd, a1.m_hWnd, s1.m_hWnd, b.m_hWnd};

    BroadcastToChildren(top.m_hWnd, WM_USER + 9, 0, 0, false);
    EXPECT_EQ(expected, order);
    order.clear();
    BroadcastToChildren(top.m_hWnd, WM_USER + 9, 0, 0, true);
    EXPECT_EQ(expected, order) << "object mode reaches mapped windows below an unmapped one";

    // The base handler of a top-level window forwards these to its descendants.
    order.clear();
    for (CScriptWnd* w : {&a, &a1, &s1, &b})
        w->onMessage = record(WM_DEVMODECHANGE);
    EXPECT_EQ(0, SendMessageW(top.m_hWnd, WM_DEVMODECHANGE, 0, 0));
    EXPECT_EQ(expected, order);
    order.clear();
    EXPECT_EQ(0, SendMessageW(a.m_hWnd, WM_DEVMODECHANGE, 0, 0)) << "a child answers 0 and forwards nothing";
    EXPECT_EQ(std::vector<HWND>{a.m_hWnd}, order);
    order.clear();
    for (CScriptWnd* w : {&a, &a1, &s1, &b})
        w->onMessage = record(WM_SYSCOLORCHANGE);
    SendMessageW(top.m_hWnd, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(expected, order);
}

TEST_F(Dispatch, CreateAndRegisterFailures)
{
    CScriptWnd none;
    EXPECT_FALSE(none.Create(0, L"NoSuchClassAnywhere", L"", WS_CHILD, 0, 0, 1, 1, top.m_hWnd, nullptr));
    EXPECT_EQ(nullptr, none.m_hWnd);
    EXPECT_EQ(0, RegisterWndClass(TestWndClass, 0, nullptr, nullptr, nullptr, nullptr)) << "already registered";
    WNDCLASSEXW wc{sizeof(wc)};
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), TestWndClass, &wc));
    EXPECT_EQ(&FrameworkWndProc, wc.lpfnWndProc);
    EXPECT_EQ(0, wc.cbWndExtra);
}

TEST_F(Dispatch, CenterOnOwner)
{
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    struct Case {
        int ownerX, ownerY, ownerW, ownerH;
        int popupW, popupH;
        int expectX, expectY;
    } cases[] = {
        {100, 100, 400, 300, 201, 101, 100 + 200 - 100, 100 + 150 - 50},                    // centred, halves truncated
        {int(work.right) - 100, 200, 200, 200, 300, 100, int(work.right) - 300, 200 + 100 - 50}, // kept inside on the right
        {int(work.left) - 150, int(work.top) - 150, 200, 200, 300, 300, int(work.left), int(work.top)},
    };
    for (const Case& c : cases) {
        SetWindowPos(top.m_hWnd, nullptr, c.ownerX, c.ownerY, c.ownerW, c.ownerH, SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(top.m_hWnd, SW_SHOWNOACTIVATE);
        CWnd popup;
        popup.m_hWnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, c.popupW, c.popupH, top.m_hWnd, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
        popup.CenterOnOwner();
        RECT rc;
        GetWindowRect(popup.m_hWnd, &rc);
        EXPECT_EQ(c.expectX, rc.left) << c.ownerX;
        EXPECT_EQ(c.expectY, rc.top) << c.ownerY;
        EXPECT_EQ(c.popupW, rc.right - rc.left);
    }

    // A child is centred in its parent's client area.
    RECT client;
    GetClientRect(top.m_hWnd, &client);
    CWnd child;
    child.m_hWnd = CreatePlain(L"STATIC", top.m_hWnd, 1);
    SetWindowPos(child.m_hWnd, nullptr, 0, 0, 40, 20, SWP_NOMOVE | SWP_NOZORDER);
    child.CenterOnOwner();
    RECT rc;
    GetWindowRect(child.m_hWnd, &rc);
    MapWindowPoints(nullptr, top.m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(client.right / 2 - 20, rc.left);
    EXPECT_EQ(client.bottom / 2 - 10, rc.top);

    // A minimised owner is not the reference: the work area is (there is no main window).
    ShowWindow(top.m_hWnd, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(top.m_hWnd));
    CWnd popup;
    popup.m_hWnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 60, top.m_hWnd, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
    popup.CenterOnOwner();
    GetWindowRect(popup.m_hWnd, &rc);
    EXPECT_EQ((work.left + work.right) / 2 - 50, rc.left);
    EXPECT_EQ((work.top + work.bottom) / 2 - 30, rc.top);
}

TEST_F(Dispatch, WindowTextHelpers)
{
    std::wstring text = L"stale";
    EXPECT_EQ(0, GetWindowString(nullptr, text));
    EXPECT_EQ(L"", text);
    SetWindowTextW(top.m_hWnd, L"Caption text");
    EXPECT_EQ(12, top.GetText(text));
    EXPECT_EQ(L"Caption text", text);
    EXPECT_EQ(top.m_hWnd, FindRootWindow(top.m_hWnd));
    HWND child = CreatePlain(L"STATIC", top.m_hWnd, 1);
    HWND grandchild = CreatePlain(L"STATIC", child, 2);
    EXPECT_EQ(top.m_hWnd, FindRootWindow(grandchild));
}
