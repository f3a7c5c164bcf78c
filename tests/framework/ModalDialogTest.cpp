#include <gtest/gtest.h>
#include <windows.h>
#include <memory>
#include <stdexcept>
#include "framework/Holders.h"
#include "resources/ids_commands.h"
#include "tests/framework/FrameworkTestSupport.h"

namespace {

class ModalLoop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DrainMessages();
        ASSERT_TRUE(owner.CreateTop(L"Owner"));
        ShowWindow(owner.m_hWnd, SW_SHOWNOACTIVATE);
        DrainMessages();
    }
    void TearDown() override
    {
        TestApp().preTranslateHook = nullptr;
        TestApp().m_pMainWnd = nullptr;
        owner.Destroy();
        DrainMessages();
    }
    // The WM_ENTERIDLE messages the owner got, each checked for its parameters.
    int EnterIdleCount(HWND dialog)
    {
        int n = 0;
        for (const auto& e : enterIdle) {
            EXPECT_EQ(WPARAM(MSGF_DIALOGBOX), e.first);
            EXPECT_EQ(reinterpret_cast<LPARAM>(dialog), e.second);
            ++n;
        }
        return n;
    }
    void RecordEnterIdle()
    {
        owner.onMessage = [this](HWND, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
            if (m == WM_ENTERIDLE)
                enterIdle.emplace_back(w, l);
            return std::nullopt;
        };
    }

    CScriptWnd owner;
    std::vector<std::pair<WPARAM, LPARAM>> enterIdle;
};

bool QuitWaiting(WPARAM* code)
{
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        return false;
    *code = msg.wParam;
    return true;
}

} // namespace

TEST_F(ModalLoop, KickIdleCountsUntilTheDialogAnswersZero)
{
    RecordEnterIdle();
    CScriptDialog dlg(IDD_TEST_DIALOG);
    HWND dialogHandle = nullptr;
    bool ownerDisabledWhileRunning = false;
    int rounds = 0;
    dlg.onMessage = [&](HWND h, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE) {
            dialogHandle = h;
            ownerDisabledWhileRunning = !IsWindowEnabled(owner.m_hWnd);
            if (l == 0 && ++rounds == 2) {
                dlg.EndModal(IDOK);
                return 0;
            }
            if (l < 3)
                return 1;
            PostMessageW(h, WM_USER + 5, 0, 0); // re-arms the idle phase
            return 0;
        }
        return std::nullopt;
    };
    EXPECT_EQ(IDOK, dlg.RunModal(owner.m_hWnd));
    EXPECT_EQ((std::vector<LPARAM>{0, 1, 2, 3, 0}), dlg.kickIdle);
    EXPECT_EQ(2, EnterIdleCount(dialogHandle)) << "once for the first call of each idle phase";
    EXPECT_TRUE(ownerDisabledWhileRunning);
    EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
    EXPECT_EQ(nullptr, dlg.m_hWnd) << "destroyed after the loop";
    EXPECT_FALSE(IsWindow(dialogHandle));
}

TEST_F(ModalLoop, AWaitingMessageEndsTheIdlePhase)
{
    RecordEnterIdle();
    CScriptDialog dlg(IDD_TEST_DIALOG);
    int posted = 0;
    dlg.onMessage = [&](HWND h, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE && l == 2) {
            if (++posted == 2)
                dlg.EndModal(IDCANCEL);
            else
                PostMessageW(h, WM_USER + 6, 0, 0);
        }
        if (m == WM_KICKIDLE)
            return 1; // always more idle work
        return std::nullopt;
    };
    EXPECT_EQ(IDCANCEL, dlg.RunModal(owner.m_hWnd));
    // The second round ends by EndModal's WM_NULL arriving.
    EXPECT_EQ((std::vector<LPARAM>{0, 1, 2, 0, 1, 2}), dlg.kickIdle);
    EXPECT_EQ(2, static_cast<int>(enterIdle.size()));
}

TEST_F(ModalLoop, NoIdleMessageStyleSendsNoEnterIdle)
{
    RecordEnterIdle();
    CScriptDialog dlg(IDD_TEST_NOIDLE);
    dlg.onMessage = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE)
            dlg.EndModal(IDOK);
        return std::nullopt;
    };
    EXPECT_EQ(IDOK, dlg.RunModal(owner.m_hWnd));
    EXPECT_EQ((std::vector<LPARAM>{0}), dlg.kickIdle);
    EXPECT_TRUE(enterIdle.empty());
}

TEST_F(ModalLoop, PaintDoesNotReArmTheIdlePhaseButOtherMessagesDo)
{
    CScriptDialog dlg(IDD_TEST_DIALOG);
    enum { Waiting, Invalidated, Painted, TimerSeen } stage = Waiting;
    std::vector<UINT> afterInvalidate;
    dlg.onMessage = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (stage != Waiting && (m == WM_KICKIDLE || m == WM_PAINT || m == WM_TIMER))
            afterInvalidate.push_back(m);
        switch (m) {
        case WM_KICKIDLE:
            if (stage == Waiting) {
                InvalidateRect(h, nullptr, TRUE);
                stage = Invalidated;
            } else if (stage == TimerSeen) {
                dlg.EndModal(IDOK);
            }
            return 0;
        case WM_PAINT:
            if (stage == Invalidated) {
                // A re-armed idle phase would run at once, long before this timer is due.
                SetTimer(h, 1, 30, nullptr);
                stage = Painted;
            }
            return std::nullopt;
        case WM_TIMER:
            KillTimer(h, 1);
            stage = TimerSeen;
            return 0;
        default:
            return std::nullopt;
        }
    };
    EXPECT_EQ(IDOK, dlg.RunModal(owner.m_hWnd));
    EXPECT_EQ((std::vector<UINT>{WM_PAINT, WM_TIMER, WM_KICKIDLE}), afterInvalidate);
}

TEST_F(ModalLoop, ButtonEndsTheLoop)
{
    CScriptDialog dlg(IDD_TEST_DIALOG);
    bool visibleWhileRunning = false;
    dlg.onMessage = [&](HWND h, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE && l == 0 && dlg.kickIdle.size() == 1) {
            visibleWhileRunning = IsWindowVisible(h) != FALSE;
            PostMessageW(GetDlgItem(h, IDOK), BM_CLICK, 0, 0);
        }
        return m == WM_KICKIDLE ? std::optional<LRESULT>(0) : std::nullopt;
    };
    EXPECT_EQ(IDOK, dlg.RunModal(owner.m_hWnd));
    EXPECT_TRUE(visibleWhileRunning) << "the loop shows a dialog whose template is not visible";
    EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
}

TEST_F(ModalLoop, EndModalRefusesTheRunningMarker)
{
    CScriptDialog dlg(IDD_TEST_DIALOG);
    bool refused = false;
    dlg.onMessage = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE && dlg.kickIdle.size() == 1) {
            refused = !dlg.EndModal(-1) && dlg.m_result == -1;
            EXPECT_TRUE(dlg.EndModal(0)) << "0 is an ordinary result";
        }
        return m == WM_KICKIDLE ? std::optional<LRESULT>(0) : std::nullopt;
    };
    EXPECT_EQ(0, dlg.RunModal(owner.m_hWnd));
    EXPECT_TRUE(refused);
}

TEST_F(ModalLoop, QuitEndsEveryNestedLoopAndIsPostedAgainWithItsCode)
{
    CScriptDialog outer(IDD_TEST_DIALOG), inner(IDD_TEST_VISIBLE);
    int innerResult = 0;
    inner.onMessage = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE) {
            PostQuitMessage(9);
            return 0;
        }
        return std::nullopt;
    };
    outer.onMessage = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE && outer.kickIdle.size() == 1) {
            innerResult = inner.RunModal(h);
            return 0;
        }
        return std::nullopt;
    };
    EXPECT_EQ(-1, outer.RunModal(owner.m_hWnd));
    EXPECT_EQ(-1, innerResult);
    WPARAM code = 0;
    ASSERT_TRUE(QuitWaiting(&code)) << "the main loop must still see the quit";
    EXPECT_EQ(9u, code);
    EXPECT_FALSE(QuitWaiting(&code)) << "posted once, not once per loop";
    EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
    EXPECT_EQ(nullptr, outer.m_hWnd);
    EXPECT_EQ(nullptr, inner.m_hWnd);
}

TEST_F(ModalLoop, EndedWhileCreatedEndsWithoutIdlePasses)
{
    CScriptDialog dlg(IDD_TEST_DIALOG);
    dlg.onMessage = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_INITDIALOG)
            dlg.EndModal(IDCANCEL); // e.g. nothing to show
        return std::nullopt;
    };
    EXPECT_EQ(IDCANCEL, dlg.RunModal(owner.m_hWnd));
    EXPECT_TRUE(dlg.kickIdle.empty());
    EXPECT_EQ(0, std::count(dlg.messages.begin(), dlg.messages.end(), UINT(WM_SHOWWINDOW))) << "never shown";
    EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
}

TEST_F(ModalLoop, MissingTemplateGivesMinusOneWithoutALoop)
{
    CScriptDialog dlg(8999);
    EXPECT_EQ(-1, dlg.RunModal(owner.m_hWnd));
    EXPECT_TRUE(dlg.messages.empty());
    EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
    int result = 5;
    EXPECT_EQ(-1, RunModalLoop(nullptr, result));
    EXPECT_EQ(-1, result);
}

TEST_F(ModalLoop, OwnersAreEnabledAgainWhenTheLoopThrows)
{
    CScriptWnd mainWnd;
    ASSERT_TRUE(mainWnd.CreateTop(L"Main"));
    TestApp().m_pMainWnd = &mainWnd;
    CScriptDialog dlg(IDD_TEST_DIALOG);
    bool bothDisabled = false;
    dlg.onMessage = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE && dlg.kickIdle.size() == 1) {
            bothDisabled = !IsWindowEnabled(owner.m_hWnd) && !IsWindowEnabled(mainWnd.m_hWnd);
            PostMessageW(h, WM_USER + 7, 0, 0);
        }
        return m == WM_KICKIDLE ? std::optional<LRESULT>(0) : std::nullopt;
    };
    TestApp().preTranslateHook = [](MSG* msg) -> bool {
        if (msg->message == WM_USER + 7)
            throw std::runtime_error("pre-translation failed");
        return false;
    };
    EXPECT_EQ(-1, dlg.RunModal(owner.m_hWnd));
    EXPECT_TRUE(bothDisabled);
    EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
    EXPECT_TRUE(IsWindowEnabled(mainWnd.m_hWnd));
    EXPECT_EQ(nullptr, dlg.m_hWnd);
}

TEST_F(ModalLoop, HandlerExceptionInsideTheLoopLeavesItRunning)
{
    CScriptDialog dlg(IDD_TEST_DIALOG);
    dlg.onMessage = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE && dlg.kickIdle.size() == 1)
            PostMessageW(h, WM_USER + 8, 0, 0);
        if (m == WM_USER + 8) {
            PostMessageW(h, WM_COMMAND, IDOK, 0);
            throw std::runtime_error("handler failed");
        }
        return m == WM_KICKIDLE ? std::optional<LRESULT>(0) : std::nullopt;
    };
    TestApp().exceptionMessages.clear();
    EXPECT_EQ(IDOK, dlg.RunModal(owner.m_hWnd));
    EXPECT_EQ((std::vector<UINT>{WM_USER + 8}), TestApp().exceptionMessages);
    EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
}

TEST_F(ModalLoop, VisibleTemplateIsShownOnce)
{
    for (int id : {IDD_TEST_VISIBLE, IDD_TEST_DIALOG}) {
        CScriptDialog dlg(id);
        dlg.onMessage = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (m == WM_KICKIDLE)
                dlg.EndModal(IDOK);
            return std::nullopt;
        };
        EXPECT_EQ(IDOK, dlg.RunModal(owner.m_hWnd));
        int shows = 0;
        for (size_t i = 0; i < dlg.messages.size(); ++i)
            shows += dlg.messages[i] == WM_SHOWWINDOW;
        EXPECT_EQ(1, shows) << "template " << id;
    }
}

TEST_F(ModalLoop, HelpAndIconOfAModalDialog)
{
    TestApp().helpIds.clear();
    HICON icon = static_cast<HICON>(CopyImage(LoadIconW(nullptr, IDI_APPLICATION), IMAGE_ICON, 16, 16, 0));
    TestApp().m_hIcon = icon;
    CScriptDialog dlg(IDD_TEST_DIALOG);
    LRESULT helpResult = 0;
    bool contextHelpStyle = false;
    HICON smallIcon = nullptr;
    dlg.onMessage = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_KICKIDLE && dlg.kickIdle.size() == 1) {
            contextHelpStyle = (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_CONTEXTHELP) != 0;
            smallIcon = reinterpret_cast<HICON>(SendMessageW(h, WM_GETICON, ICON_SMALL, 0));
            helpResult = SendMessageW(h, WM_HELP_QUERY, 0, 0);
            SendMessageW(h, WM_SYSCOMMAND, SC_CONTEXTHELP, 0);
            dlg.EndModal(IDCANCEL);
        }
        return std::nullopt;
    };
    EXPECT_EQ(IDCANCEL, dlg.RunModal(owner.m_hWnd));
    TestApp().m_hIcon = nullptr;
    DestroyIcon(icon);
    EXPECT_TRUE(contextHelpStyle);
    EXPECT_EQ(icon, smallIcon);
    EXPECT_EQ(1, helpResult);
    EXPECT_EQ((std::vector<int>{IDD_TEST_DIALOG, IDD_TEST_DIALOG}), TestApp().helpIds);
}

// ---- pages ----

namespace {

class CTestPage : public CBasePage
{
public:
    CTestPage() : CBasePage(IDD_TEST_PAGE) {}
    bool OnCommand(int id, int code, HWND) override
    {
        if (code == EN_CHANGE)
            commands.push_back(id);
        return true;
    }
    void ExchangeData(bool save) override
    {
        if (save) {
            GetItemText(IDC_TEST_EDIT, saved);
            return;
        }
        UpdatingScope scope(m_hWnd);
        SetDlgItemTextW(m_hWnd, IDC_TEST_EDIT, L"filled"); // EN_CHANGE reaches no handler
        CheckDlgButton(m_hWnd, IDC_TEST_CHECK, BST_CHECKED);
    }
    std::vector<int> commands;
    std::wstring saved;
};

} // namespace

TEST_F(ModalLoop, PageBecomesABorderlessControlParent)
{
    CTestPage page;
    ASSERT_TRUE(page.CreateDialogWindow(owner.m_hWnd));
    const LONG style = GetWindowLongW(page.m_hWnd, GWL_STYLE);
    EXPECT_EQ(0, style & WS_CAPTION);
    EXPECT_EQ(0, style & WS_DISABLED);
    EXPECT_EQ(LONG(WS_CLIPSIBLINGS | DS_CONTROL | WS_CHILD), style & (WS_CLIPSIBLINGS | DS_CONTROL | WS_CHILD));
    EXPECT_NE(0, GetWindowLongW(page.m_hWnd, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    EXPECT_EQ(&page, FindWindowObject(page.m_hWnd));

    page.ExchangeData(false);
    EXPECT_TRUE(page.commands.empty());
    std::wstring text;
    EXPECT_EQ(6, page.GetItemText(IDC_TEST_EDIT, text));
    EXPECT_EQ(L"filled", text);
    text = L"x";
    EXPECT_EQ(0, page.GetItemText(4242, text));
    EXPECT_EQ(L"", text);
    SetDlgItemTextW(page.m_hWnd, IDC_TEST_EDIT, L"typed");
    EXPECT_EQ((std::vector<int>{IDC_TEST_EDIT}), page.commands) << "outside the scope the handler runs";
    page.ExchangeData(true);
    EXPECT_EQ(L"typed", page.saved);

    HDC dc = CreateCompatibleDC(nullptr);
    SetBkMode(dc, OPAQUE);
    SetTextColor(dc, RGB(1, 2, 3));
    HWND label = GetDlgItem(page.m_hWnd, IDC_TEST_LABEL);
    const LRESULT brush = SendMessageW(page.m_hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(label));
    EXPECT_EQ(reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)), brush);
    EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), GetTextColor(dc));
    EXPECT_EQ(reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)),
              SendMessageW(page.m_hWnd, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), 0));
    DeleteDC(dc);

    HWND handle = page.m_hWnd;
    page.Destroy();
    EXPECT_EQ(nullptr, FindWindowObject(handle));
}

namespace {

// Records which hook each message reached; the edit stands in for the page's list of rows.
class CHookPage : public CBasePage
{
public:
    CHookPage() : CBasePage(IDD_TEST_PAGE)
    {
        m_rowList = &edit;
        m_minTrackSize = {321, 123};
    }
    bool OnInitDialog() override
    {
        edit.m_hWnd = Item(IDC_TEST_EDIT);
        return true;
    }
    void OnListMenu(POINT at) override { hooks.push_back(L"menu " + std::to_wstring(at.x) + L"," + std::to_wstring(at.y)); }
    void RestoreDefaults() override { hooks.push_back(L"defaults"); }
    bool OnCommand(int id, int, HWND) override
    {
        hooks.push_back(L"command " + std::to_wstring(id));
        return true;
    }
    void OnDestroy() override
    {
        hooks.push_back(IsWindow(Item(IDC_TEST_EDIT)) ? L"destroy with controls" : L"destroy");
        edit.m_hWnd = nullptr; // the edit dies with the page
    }

    CWnd edit;
    std::vector<std::wstring> hooks;
};

} // namespace

TEST_F(ModalLoop, PageMessagesReachTheirHooks)
{
    CHookPage page;
    ASSERT_TRUE(page.CreateDialogWindow(owner.m_hWnd));
    HWND edit = page.Item(IDC_TEST_EDIT);
    HWND check = page.Item(IDC_TEST_CHECK);
    MINMAXINFO limits{};
    const struct {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT result;
        const wchar_t* hook; // null: none
    } cases[] = {
        {WM_CONTEXTMENU, reinterpret_cast<WPARAM>(edit), MAKELPARAM(40, 50), TRUE, L"menu 40,50"},
        {WM_CONTEXTMENU, reinterpret_cast<WPARAM>(edit), -1, TRUE, L"menu -1,-1"},
        {WM_CONTEXTMENU, reinterpret_cast<WPARAM>(check), MAKELPARAM(40, 50), 0, nullptr},
        {WM_COMMAND, ID_PAGE_DEFAULT, 0, 1, L"defaults"},
        {WM_COMMAND, IDOK, 0, 1, L"command 1"},
        {WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits), 0, nullptr},
    };
    for (const auto& c : cases) {
        page.hooks.clear();
        EXPECT_EQ(c.result, SendMessageW(page.m_hWnd, c.message, c.wParam, c.lParam)) << c.message;
        EXPECT_EQ(c.hook ? std::vector<std::wstring>{c.hook} : std::vector<std::wstring>{}, page.hooks) << c.message;
    }
    EXPECT_EQ(321, limits.ptMinTrackSize.x);
    EXPECT_EQ(123, limits.ptMinTrackSize.y);

    page.hooks.clear();
    page.Destroy();
    EXPECT_EQ(std::vector<std::wstring>{L"destroy with controls"}, page.hooks);
}

TEST_F(ModalLoop, AHeldPageLetGoOfReachesItsDestroyHookWithItsControls)
{
    // What the page's hooks saw, read as its own destructor runs.
    struct CReportingPage : CHookPage
    {
        std::vector<std::wstring>* seen = nullptr;
        ~CReportingPage() override { *seen = hooks; }
    };
    std::vector<std::wstring> seen;
    std::unique_ptr<CReportingPage, DestroyWindowFirst> page(new CReportingPage);
    page->seen = &seen;
    ASSERT_TRUE(page->CreateDialogWindow(owner.m_hWnd));
    const HWND window = page->m_hWnd;
    page->hooks.clear();
    page.reset();
    EXPECT_EQ(std::vector<std::wstring>{L"destroy with controls"}, seen);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ModalLoop, PagePreTranslationAsksTheMainWindowFirst)
{
    CScriptWnd mainWnd;
    ASSERT_TRUE(mainWnd.CreateTop(L"Main"));
    std::vector<UINT> offered;
    bool mainConsumes = true;
    mainWnd.onPreTranslate = [&](MSG* m) {
        offered.push_back(m->message);
        return mainConsumes;
    };
    TestApp().m_pMainWnd = &mainWnd;
    CTestPage page;
    ASSERT_TRUE(page.CreateDialogWindow(mainWnd.m_hWnd));
    HWND edit = GetDlgItem(page.m_hWnd, IDC_TEST_EDIT);

    struct Case {
        UINT message;
        bool mainConsumes;
        bool consumed;
        bool offeredToMain;
    } cases[] = {
        {WM_KEYDOWN, true, true, true},
        {WM_MOUSEMOVE, true, true, true},
        {WM_KEYDOWN, false, true, true}, // the dialog manager takes the Tab key
        {WM_TIMER, true, false, false},  // neither keyboard nor mouse
        {WM_PAINT, true, false, false},
    };
    for (const Case& c : cases) {
        offered.clear();
        mainConsumes = c.mainConsumes;
        MSG msg{edit, c.message, c.message == WM_KEYDOWN ? WPARAM(VK_TAB) : 0, 0};
        EXPECT_EQ(c.consumed, page.PreTranslate(&msg)) << std::hex << c.message;
        EXPECT_EQ(c.offeredToMain, !offered.empty()) << std::hex << c.message;
    }
    // A modal dialog goes to the dialog manager only.
    CScriptDialog dlg(IDD_TEST_DIALOG);
    ASSERT_TRUE(dlg.CreateDialogWindow(owner.m_hWnd));
    offered.clear();
    MSG tab{GetDlgItem(dlg.m_hWnd, IDC_TEST_EDIT), WM_KEYDOWN, VK_TAB, 0};
    EXPECT_TRUE(dlg.PreTranslate(&tab));
    MSG timer{dlg.m_hWnd, WM_TIMER, 1, 0};
    EXPECT_FALSE(dlg.PreTranslate(&timer));
    EXPECT_TRUE(offered.empty());
    dlg.Destroy();
    page.Destroy();
}
