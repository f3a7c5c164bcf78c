#include <winsock2.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/TextUtil.h"
#include "tests/framework/FrameworkTestSupport.h"

namespace {

// Whether Winsock is started for the process (a socket can be made).
bool WinsockUsable()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return WSAGetLastError() != WSANOTINITIALISED;
    closesocket(s);
    return true;
}

} // namespace

TEST(WinApp, TheFirstApplicationObjectIsTheApplication)
{
    EXPECT_EQ(&TestApp(), GetApp());
    {
        CTestApp second;
        EXPECT_EQ(&TestApp(), GetApp());
    }
    EXPECT_EQ(&TestApp(), GetApp()) << "a second object's end does not unregister the first";
}

TEST(WinApp, ProcessNextMessageDispatchesTranslatesAndStopsAtQuit)
{
    DrainMessages();
    CScriptWnd wnd;
    ASSERT_TRUE(wnd.CreateTop());
    PostMessageW(wnd.m_hWnd, WM_USER + 1, 0, 0);
    EXPECT_TRUE(TestApp().ProcessNextMessage());
    EXPECT_EQ(1, wnd.Count(WM_USER + 1));

    // A consumed message is neither translated nor dispatched.
    TestApp().preTranslateHook = [](MSG* m) { return m->message == WM_USER + 2; };
    PostMessageW(wnd.m_hWnd, WM_USER + 2, 0, 0);
    EXPECT_TRUE(TestApp().ProcessNextMessage());
    EXPECT_EQ(0, wnd.Count(WM_USER + 2));
    TestApp().preTranslateHook = nullptr;

    // A key press is translated into a character message.
    PostMessageW(wnd.m_hWnd, WM_KEYDOWN, 'A', 0x001E0001);
    EXPECT_TRUE(TestApp().ProcessNextMessage());
    EXPECT_EQ(1, wnd.Count(WM_KEYDOWN));
    EXPECT_TRUE(TestApp().IsMessageWaiting());
    EXPECT_TRUE(TestApp().ProcessNextMessage());
    EXPECT_EQ(1, wnd.Count(WM_CHAR));

    PostMessageW(wnd.m_hWnd, WM_USER + 3, 0, 0);
    PostQuitMessage(4);
    EXPECT_TRUE(TestApp().ProcessNextMessage());
    EXPECT_FALSE(TestApp().ProcessNextMessage());
    EXPECT_EQ(UINT(WM_QUIT), TestApp().m_pumpedMessage.message);
    EXPECT_EQ(4u, TestApp().m_pumpedMessage.wParam);
    EXPECT_FALSE(TestApp().IsMessageWaiting());
    wnd.Destroy();
}

TEST(WinApp, OnlyPaintLeavesTheIdlePassesDisarmed)
{
    struct Case {
        UINT message;
        bool resets;
    } cases[] = {{WM_PAINT, false}, {WM_NULL, true},      {WM_TIMER, true},       {WM_USER, true},
                 {WM_USER + 1, true}, {WM_MOUSEMOVE, true}, {WM_KEYDOWN, true}, {WM_NCPAINT, true}};
    for (const Case& c : cases) {
        MSG msg{};
        msg.message = c.message;
        EXPECT_EQ(c.resets, TestApp().ResetsIdle(msg)) << std::hex << c.message;
    }
}

TEST(WinApp, BaseHandlerExceptionResults)
{
    CScriptWnd wnd;
    ASSERT_TRUE(wnd.CreateTop());
    ShowWindow(wnd.m_hWnd, SW_SHOWNOACTIVATE);
    InvalidateRect(wnd.m_hWnd, nullptr, FALSE);
    ASSERT_TRUE(GetUpdateRect(wnd.m_hWnd, nullptr, FALSE));
    const std::runtime_error e("failure");
    struct Case {
        UINT message;
        LRESULT result;
    } cases[] = {{WM_CREATE, -1}, {WM_PAINT, 0}, {WM_COMMAND, 0}, {WM_USER, 0}};
    for (const Case& c : cases) {
        MSG msg{wnd.m_hWnd, c.message, 0, 0};
        EXPECT_EQ(c.result, TestApp().CWinApp::OnHandlerException(e, msg)) << std::hex << c.message;
    }
    EXPECT_FALSE(GetUpdateRect(wnd.m_hWnd, nullptr, FALSE)) << "WM_PAINT validated the window";
    wnd.Destroy();
    DrainMessages();
}

TEST(WinApp, WinsockStartsOnceAndCleansUpOnce)
{
    // Our own start keeps Winsock's count at one, so the application's share can be counted.
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    {
        CTestApp app;
        EXPECT_FALSE(app.IsWinsockStarted());
        app.StartWinsock();
        app.StartWinsock();
        EXPECT_TRUE(app.IsWinsockStarted());
    }
    EXPECT_TRUE(WinsockUsable()) << "the application cleaned up more than it started";
    WSACleanup();
    EXPECT_FALSE(WinsockUsable()) << "the application started Winsock more than once";
}

TEST(WinApp, WinsockFailureCarriesWsaStartupsCode)
{
    CTestApp app;
    SetLastError(ERROR_FILE_NOT_FOUND); // what a GetLastError-based report would wrongly carry
    try {
        app.StartWinsock(MAKEWORD(0, 0));
        FAIL() << "version 0.0 must be refused";
    } catch (const COSException& e) {
        EXPECT_EQ(DWORD(WSAVERNOTSUPPORTED), e.GetCode());
    }
    EXPECT_FALSE(app.IsWinsockStarted());
    app.StartWinsock(); // a later call tries again
    EXPECT_TRUE(app.IsWinsockStarted());
}

TEST(WinApp, ResourcesComeFromTheResourceModuleFirst)
{
    HMODULE program = GetProgramModule();
    const LPCWSTR dialog = MAKEINTRESOURCEW(IDD_TEST_DIALOG);
    EXPECT_EQ(program, FindResourceModule(dialog, RT_DIALOG));
    // A language library without the template: the program's own is used.
    HMODULE library = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, library);
    SetResourceModule(library);
    EXPECT_EQ(program, FindResourceModule(dialog, RT_DIALOG));
    // shell32 holds dialog templates of its own; one it holds is taken from it.
    ULONG_PTR heldId = 0;
    EnumResourceNamesW(
        library, RT_DIALOG,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
            if (!IS_INTRESOURCE(name))
                return TRUE;
            *reinterpret_cast<ULONG_PTR*>(param) = reinterpret_cast<ULONG_PTR>(name);
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&heldId));
    if (heldId) {
        EXPECT_EQ(library, FindResourceModule(MAKEINTRESOURCEW(heldId), RT_DIALOG));
    }
    SetResourceModule(nullptr);
    FreeLibrary(library);
}

TEST(WinApp, HandlerExceptionsAreLoggedAsErrors)
{
    struct Settings : ILogSettingsSource {
        std::wstring folder;
        std::wstring ResolveLogFolder() override { return folder; }
        DebugLogSettings GetDebugLogSettings() override { return {true, 2, -1, false}; }
    } settings;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    settings.folder = std::wstring(temp) + L"nv_framework_log_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(settings.folder.c_str(), nullptr);
    // An earlier entry of this process may have fixed the log's path: read what is added.
    const std::wstring cached = TestApp().GetLogPath();
    const bool firstEntry = cached.empty();
    if (firstEntry)
        DeleteFileW((settings.folder + L"\\Norvane.log").c_str()); // left by an earlier process
    std::error_code ec;
    const auto offset = firstEntry ? 0 : std::filesystem::file_size(std::filesystem::path(cached), ec);

    CScriptWnd wnd;
    ASSERT_TRUE(wnd.CreateTop());
    wnd.onMessage = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER + 4)
            throw std::runtime_error("broken handler");
        if (m == WM_USER + 5)
            throw 5;
        return std::nullopt;
    };
    TestApp().LogSettings = &settings;
    SendMessageW(wnd.m_hWnd, WM_USER + 4, 0, 0);
    SendMessageW(wnd.m_hWnd, WM_USER + 5, 0, 0);
    TestApp().LogSettings = nullptr;
    SendMessageW(wnd.m_hWnd, WM_USER + 4, 0, 0); // logging off: no line
    wnd.Destroy();

    std::ifstream in(std::filesystem::path(TestApp().GetLogPath()), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<std::string> entries;
    std::string line;
    while (std::getline(in, line))
        entries.push_back(line.substr(13)); // after "hh:mm:ss.mmm "
    if (firstEntry) {
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ("[I] Log", entries[0].substr(0, 7)) << "the version line of a new log";
        entries.erase(entries.begin());
    }
    EXPECT_EQ((std::vector<std::string>{"[E] Message 0x0404 failed: broken handler\r",
                                        "[E] Message 0x0405 failed: Unknown exception in a message handler\r"}),
              entries);
}
