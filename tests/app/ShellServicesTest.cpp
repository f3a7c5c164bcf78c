// Shell services through the running program: the caption of a failed message handler, the
// elevated restart and its declined prompt, the target window's activation, the About dialog and
// the key-type names.
#include <windows.h>
#include <commctrl.h>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/ShellServices.h"
#include "core/Exceptions.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"

namespace {

constexpr UINT WM_TEST_THROW = WM_USER + 77;

// A framework window whose handlers throw on demand.
class CThrowingWnd : public CWnd
{
public:
    UINT throwOn = WM_TEST_THROW;
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == throwOn)
            throw std::runtime_error("Reader table is damaged");
        return CWnd::HandleMessage(hwnd, message, wParam, lParam);
    }
};

const wchar_t kThrowingClass[] = L"NvThrowingTestWindow";

bool CreateThrowing(CThrowingWnd& wnd)
{
    static const ATOM atom = RegisterWndClass(kThrowingClass, 0, nullptr, nullptr, nullptr, nullptr);
    (void)atom;
    return wnd.Create(0, kThrowingClass, L"throwing", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr);
}

std::wstring MainCaption(HWND main)
{
    std::wstring text;
    GetWindowString(main, text);
    return text;
}

bool QuitPosted()
{
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

std::vector<std::wstring> g_shellCalls;

} // namespace

class ShellServices : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        g_shellCalls.clear();
    }
    CAppSettings& Settings() { return App().GetSettings(); }
};

// ---- Exceptions that escape message handlers ----

TEST_F(ShellServices, AFailedHandlerPutsItsTextIntoTheCaptionAndTheLog)
{
    ASSERT_EQ(kStartContinue, Start());
    *Settings().EditDebugLog() = DebugLogSettings{true, 6, -1, false};
    CThrowingWnd wnd;
    ASSERT_TRUE(CreateThrowing(wnd));
    EXPECT_EQ(0, SendMessageW(wnd.m_hWnd, WM_TEST_THROW, 0, 0));
    EXPECT_EQ(L"Reader table is damaged", MainCaption(FrameWindow()));
    EXPECT_TRUE(IsWindow(FrameWindow())) << "not fatal";
    const std::string log = ReadFileBytes(m_folder.File(L"Norvane.log"));
    EXPECT_NE(std::string::npos, log.find("Message 0x044D failed: Reader table is damaged")) << log;

    // A failed paint is validated, so it does not come back for ever.
    wnd.throwOn = WM_PAINT;
    ShowWindow(wnd.m_hWnd, SW_SHOWNA);
    InvalidateRect(wnd.m_hWnd, nullptr, TRUE);
    UpdateWindow(wnd.m_hWnd);
    EXPECT_FALSE(GetUpdateRect(wnd.m_hWnd, nullptr, FALSE));
    wnd.Destroy();

    // A failed creation makes the window fail to be created.
    CThrowingWnd failing;
    failing.throwOn = WM_CREATE;
    EXPECT_FALSE(CreateThrowing(failing));
    EXPECT_EQ(nullptr, failing.m_hWnd);
}

// ---- Elevated restart ----

TEST_F(ShellServices, DeclinedElevationPromptLeavesTheProgramRunning)
{
    ASSERT_EQ(kStartContinue, Start());
    Settings().SetConfirmFlags(0);
    m_system.executeShell = [](SHELLEXECUTEINFOW* info) -> BOOL {
        g_shellCalls.push_back(std::wstring(info->lpVerb) + L"|" + info->lpFile + L"|" + info->lpParameters + L"|" +
                               std::to_wstring(info->fMask) + L"|" + std::to_wstring(info->nShow));
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    };
    EXPECT_FALSE(RestartElevated(L"/N /start"));
    ASSERT_EQ(1u, g_shellCalls.size());
    EXPECT_EQ(L"runas|" + m_programPath + L"|/N /start|17408|1", g_shellCalls[0]);
    EXPECT_TRUE(IsWindow(FrameWindow()));
    EXPECT_TRUE(IsWindowVisible(FrameWindow()));
    EXPECT_FALSE(QuitPosted()) << "the message loop goes on";
    EXPECT_TRUE(FileExists(SettingsPath())) << "closing saved the settings before the prompt";
}

TEST_F(ShellServices, OtherStartFailuresAreRaisedAndTheProgramGoesOn)
{
    ASSERT_EQ(kStartContinue, Start());
    Settings().SetConfirmFlags(0);
    m_system.executeShell = [](SHELLEXECUTEINFOW*) -> BOOL {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    };
    try {
        RestartElevated(L"");
        ADD_FAILURE() << "no exception";
    } catch (const COSException& e) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), e.GetCode());
    }
    EXPECT_TRUE(IsWindow(FrameWindow()));
    EXPECT_FALSE(QuitPosted());
}

TEST_F(ShellServices, StartedElevatedCopyEndsThisInstance)
{
    ASSERT_EQ(kStartContinue, Start());
    Settings().SetConfirmFlags(0);
    m_system.executeShell = [](SHELLEXECUTEINFOW*) -> BOOL { return TRUE; };
    HWND main = FrameWindow();
    EXPECT_TRUE(RestartElevated(L"/N /start"));
    EXPECT_FALSE(IsWindow(main));
    EXPECT_TRUE(QuitPosted());
    EXPECT_EQ(0, RunLoop());
}

TEST_F(ShellServices, RefusingToCloseStartsNothing)
{
    ASSERT_EQ(kStartContinue, Start());
    Settings().SetConfirmFlags(0x01);  // "Exit?"
    m_system.executeShell = [](SHELLEXECUTEINFOW*) -> BOOL {
        g_shellCalls.push_back(L"called");
        return TRUE;
    };
    CBoxRobot robot([](HWND d) { return HasText(d, L"Exit?"); }, [](HWND d) { PressButton(d, IDCANCEL); });
    EXPECT_FALSE(RestartElevated(L"/N /start"));
    robot.Join();
    EXPECT_TRUE(robot.found);
    EXPECT_TRUE(g_shellCalls.empty());
    EXPECT_TRUE(IsWindow(FrameWindow()));
}

// ---- Target window ----

TEST_F(ShellServices, TargetWindowIsRestoredAndBroughtForward)
{
    ASSERT_EQ(kStartContinue, Start());
    static const ATOM atom = RegisterWndClass(L"NvTargetTestWindow", 0, nullptr, nullptr, nullptr, nullptr);
    (void)atom;
    CWnd target;
    ASSERT_TRUE(target.Create(0, L"NvTargetTestWindow", L"Card reader target 4711", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                              10, 300, 200, nullptr, nullptr));
    ShowWindow(target.m_hWnd, SW_MINIMIZE);
    SetForegroundWindow(FrameWindow());
    _TRANS_DST_KEYBOARD& keyboard = Settings().GetTransferDoc().Keyboard();
    keyboard.filterClass = L"NvTargetTestWindow";
    keyboard.filterTitle = L"Card reader target *";
    keyboard.filterFile = L"*";
    HWND found = nullptr;
    EXPECT_TRUE(ActivateTargetWindow(&found));
    EXPECT_EQ(target.m_hWnd, found);
    EXPECT_FALSE(IsIconic(target.m_hWnd));
    EXPECT_EQ(target.m_hWnd, GetForegroundWindow());

    // Gone: the error box, and false.
    target.Destroy();
    std::wstring boxText;
    CBoxRobot robot([](HWND d) { return HasText(d, L"The window is not found."); },
                    [](HWND d) { PressButton(d, IDOK); });
    found = nullptr;
    EXPECT_FALSE(ActivateTargetWindow(&found));
    robot.Join();
    EXPECT_TRUE(robot.found);
    EXPECT_EQ(nullptr, found);
}

// ---- About ----

TEST_F(ShellServices, AboutShowsTheNameInItsFontTheVersionAndOpensItsLinks)
{
    ASSERT_EQ(kStartContinue, Start());
    static std::vector<std::wstring> opened;
    opened.clear();
    m_system.openLink = [](HWND, const wchar_t* target) { opened.push_back(target); };
    ShowWindow(FrameWindow(), SW_MINIMIZE);

    std::wstring name, version;
    LOGFONTW font{};
    bool mainRestored = false, mainDisabled = false;
    CBoxRobot robot([](HWND d) { return GetDlgItem(d, IDC_ABOUT_VERSION) != nullptr; },
                    [&](HWND d) {
                        const std::vector<std::wstring> texts = DialogTexts(d);
                        name = HasText(d, L"Norvane") ? L"Norvane" : L"";
                        wchar_t text[256] = {};
                        SendMessageTimeoutW(GetDlgItem(d, IDC_ABOUT_VERSION), WM_GETTEXT, 256,
                                            reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000, nullptr);
                        version = text;
                        DWORD_PTR hfont = 0;
                        SendMessageTimeoutW(GetDlgItem(d, IDC_ABOUT_NAME), WM_GETFONT, 0, 0, SMTO_BLOCK, 2000, &hfont);
                        GetObjectW(reinterpret_cast<HFONT>(hfont), sizeof(font), &font);
                        mainRestored = !IsIconic(App().GetMainFrameWindow());
                        mainDisabled = !IsWindowEnabled(App().GetMainFrameWindow());
                        // Links without a target of their own open the program's addresses.
                        for (int id : {IDC_ABOUT_LINK_WEB, IDC_ABOUT_LINK_MAIL}) {
                            NMLINK link{};
                            link.hdr.hwndFrom = GetDlgItem(d, id);
                            link.hdr.idFrom = static_cast<UINT_PTR>(id);
                            link.hdr.code = NM_CLICK;
                            SendMessageTimeoutW(d, WM_NOTIFY, id, reinterpret_cast<LPARAM>(&link), SMTO_BLOCK, 2000,
                                                nullptr);
                        }
                        NMLINK own{};
                        own.hdr.hwndFrom = GetDlgItem(d, IDC_ABOUT_LINK_WEB);
                        own.hdr.idFrom = IDC_ABOUT_LINK_WEB;
                        own.hdr.code = NM_RETURN;
                        wcscpy(own.item.szUrl, L"https://quillmark.example/changes");
                        SendMessageTimeoutW(d, WM_NOTIFY, IDC_ABOUT_LINK_WEB, reinterpret_cast<LPARAM>(&own),
                                            SMTO_BLOCK, 2000, nullptr);
                        PressButton(d, IDOK);
                    });
    ShowAboutDialog(nullptr);
    robot.Join();
    ASSERT_TRUE(robot.found);
    EXPECT_EQ(L"Norvane", name);
    std::wstring fileVersion, date;
    VersionToString(GetFilePackedVersion(TestExeFolder().append(L"\\test_app.exe").c_str()), fileVersion);
    CTimeValue(CAboutDialog::BuildTime()).Format(L"%x", date);
    EXPECT_EQ(fileVersion + L" (" + date + L")", version);
    EXPECT_FALSE(date.empty());
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(-(18 * dpi / 72), font.lfHeight);
    EXPECT_EQ(FW_BOLD, font.lfWeight);
    EXPECT_STREQ(L"Arial", font.lfFaceName);
    EXPECT_TRUE(mainRestored) << "the main window is brought forward first";
    EXPECT_TRUE(mainDisabled) << "and owns the modal dialog";
    EXPECT_EQ((std::vector<std::wstring>{L"https://quillmark.example/norvane",
                                         L"mailto:support@quillmark.example?subject=Norvane",
                                         L"https://quillmark.example/changes"}),
              opened);
    EXPECT_TRUE(IsWindowEnabled(FrameWindow()));
}

TEST(AboutBuildTime, TheBuildStampIsTheCompilersDate)
{
    SYSTEMTIME st{};
    ASSERT_TRUE(CTimeValue(CAboutDialog::BuildTime()).GetSystemTime(st));
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char date[16];
    snprintf(date, sizeof date, "%s %2d %d", months[st.wMonth - 1], st.wDay, st.wYear);
    // The program's stamp and this file's may differ by the build's duration, not by a month.
    EXPECT_EQ(std::string(__DATE__).substr(0, 3), std::string(date).substr(0, 3));
    EXPECT_EQ(std::string(__DATE__).substr(7), std::string(date).substr(7));
}

// ---- Key-type names ----

TEST(KeyTypeNames, TheProgramsTwentyTwoNames)
{
    CNorvaneApp& app = App();
    app.LoadKeyTypeNames();
    const std::array<std::wstring, kKeyTypeCount> expected = {
        L"Unknown", L"Em-Marine", L"HID", L"iCode", L"Cod433 (QM-100)", L"Cod433 Fix (QM-100)", L"CAME", L"Dallas",
        L"Temic (T5557)", L"Mifare UltraLight", L"Mifare Classic 1K", L"Mifare Classic 2K", L"Mifare Classic 4K",
        L"Mifare Plus", L"Mifare Plus 1K", L"Mifare Plus 2K", L"Mifare Plus 4K", L"Smart MX with MIFARE 1K",
        L"Smart MX with MIFARE 4K", L"Mifare DESFire", L"Mifare ProX", L"Mifare Mini"};
    EXPECT_EQ(expected, app.GetKeyTypeNames());
    // Loaded once: a later call leaves what is there.
    EXPECT_FALSE(app.LoadKeyTypeNames());
    EXPECT_EQ(expected, app.GetKeyTypeNames());
}

TEST(KeyTypeNames, LineEndsMarksAndShortOrLongResources)
{
    struct {
        const char* what;
        std::string bytes;
        std::vector<std::wstring> names;  // the first ones; the rest must be empty
    } cases[] = {
        {"UTF-8 with its mark, CR LF", "\xEF\xBB\xBF" "Unknown\r\nEm-Marine\r\nD\xC3\xBCsseldorf",
         {L"Unknown", L"Em-Marine", L"D\u00FCsseldorf"}},
        {"lone CR", "A\rB\r\nC", {L"A", L"B", L"C"}},
        {"a trailing line end adds no name", "A\r\nB\r\n", {L"A", L"B"}},
        {"empty lines keep their places", "A\r\n\r\nC", {L"A", L"", L"C"}},
        {"a lone LF is part of a name", "A\nB\r\nC", {L"A\nB", L"C"}},
        {"empty resource", "", {}},
        {"only the mark", "\xEF\xBB\xBF", {}},
    };
    for (const auto& c : cases) {
        std::array<std::wstring, kKeyTypeCount> names;
        names.fill(L"stale");
        SplitKeyTypeNames(c.bytes.data(), c.bytes.size(), names);
        for (size_t i = 0; i < names.size(); ++i)
            EXPECT_EQ(i < c.names.size() ? c.names[i] : L"", names[i]) << c.what << " #" << i;
    }

    // Without the mark the bytes are ANSI.
    const std::string ansi = "Caf\xE9\r\nX";
    std::array<std::wstring, kKeyTypeCount> names;
    SplitKeyTypeNames(ansi.data(), ansi.size(), names);
    EXPECT_EQ(MultiByteToWString(std::string("Caf\xE9"), CP_ACP), names[0]);
    EXPECT_EQ(L"X", names[1]);

    // More lines than key types: the rest is dropped.
    std::string many;
    for (int i = 0; i < 30; ++i)
        many += "T" + std::to_string(i) + "\r\n";
    SplitKeyTypeNames(many.data(), many.size(), names);
    EXPECT_EQ(L"T0", names[0]);
    EXPECT_EQ(L"T21", names[21]);
}
