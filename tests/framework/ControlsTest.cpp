#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include "core/TextUtil.h"
#include "framework/Controls.h"
#include "tests/framework/FrameworkTestSupport.h"

namespace {

class Controls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DrainMessages();
        ASSERT_TRUE(host.CreateTop(L"Controls host"));
    }
    void TearDown() override
    {
        host.Destroy();
        DrainMessages();
    }
    HWND Child(const wchar_t* cls, int id, DWORD style = 0)
    {
        return CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 200, 60, host.m_hWnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    }
    CScriptWnd host;
};

} // namespace

TEST_F(Controls, ToolTipWindowToolsAddAndRemove)
{
    HWND tipWindow = nullptr;
    {
        CToolTipCtrl tips;
        ASSERT_TRUE(tips.Create(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, host.m_hWnd, nullptr));
        tipWindow = tips.m_hWnd;
        HWND edit = Child(L"EDIT", 1);
        HWND button = Child(L"BUTTON", 2);
        EXPECT_TRUE(tips.AddWindowTool(edit));
        EXPECT_TRUE(tips.AddWindowTool(button));
        EXPECT_EQ(2, tips.GetToolCount());

        TTTOOLINFOW ti{sizeof(ti)};
        ti.hwnd = host.m_hWnd;
        ti.uId = reinterpret_cast<UINT_PTR>(edit);
        wchar_t textBuffer[80] = L"x";
        ti.lpszText = textBuffer;
        ASSERT_TRUE(SendMessageW(tips.m_hWnd, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti)));
        EXPECT_TRUE(ti.uFlags & TTF_IDISHWND);
        EXPECT_EQ(LPSTR_TEXTCALLBACKW, ti.lpszText) << "the parent answers the text request";
        EXPECT_EQ(GetResourceModule(), ti.hinst);

        tips.RemoveTool(edit, 0); // the window-handle tool of the child
        EXPECT_EQ(1, tips.GetToolCount());

        TTTOOLINFOW byId{sizeof(byId)};
        byId.hwnd = host.m_hWnd;
        byId.uId = 77;
        byId.lpszText = const_cast<wchar_t*>(L"tip");
        SendMessageW(tips.m_hWnd, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&byId));
        EXPECT_EQ(2, tips.GetToolCount());
        tips.RemoveTool(host.m_hWnd, 77);
        tips.RemoveTool(button, 0);
        EXPECT_EQ(0, tips.GetToolCount());
    }
    EXPECT_FALSE(IsWindow(tipWindow)) << "the object owns its window";
}

TEST_F(Controls, TrayIconRemoveClearsItsState)
{
    CTrayIcon idle;
    EXPECT_FALSE(idle.Remove()) << "nothing shown, nothing removed";

    CTrayIcon tray;
    tray.m_data.hWnd = host.m_hWnd;
    tray.m_data.uID = 109;
    tray.m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray.m_data.uCallbackMessage = WM_USER + 3;
    tray.m_data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wcscpy(tray.m_data.szTip, L"Norvane");
    tray.Add(); // without a notification area (no explorer here) this may fail; Remove must not care
    tray.Remove();
    EXPECT_EQ(nullptr, tray.m_data.hWnd);
    EXPECT_EQ(nullptr, tray.m_data.hIcon);
    EXPECT_FALSE(tray.Remove());
    EXPECT_EQ(109u, tray.m_data.uID) << "the rest stays for the next Add";
}

TEST_F(Controls, RedrawLockMutesRichEditNotifications)
{
    HMODULE richEdit = LoadLibraryW(L"Msftedit.dll");
    ASSERT_NE(nullptr, richEdit);
    HWND edit = Child(MSFTEDIT_CLASS, 5, ES_MULTILINE);
    ASSERT_NE(nullptr, edit);
    const LRESULT mask = ENM_CHANGE | ENM_REQUESTRESIZE;
    SendMessageW(edit, EM_SETEVENTMASK, 0, mask);
    int resizeRequests = 0;
    host.onMessage = [&](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
        if (m == WM_NOTIFY && reinterpret_cast<NMHDR*>(l)->code == EN_REQUESTRESIZE)
            ++resizeRequests;
        return std::nullopt;
    };
    ShowWindow(host.m_hWnd, SW_SHOWNOACTIVATE);
    UpdateWindow(host.m_hWnd);

    host.commands.clear();
    {
        CRedrawLock lock(edit);
        EXPECT_EQ(0, SendMessageW(edit, EM_GETEVENTMASK, 0, 0));
        SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"filled while locked"));
        EXPECT_TRUE(host.commands.empty()) << "no change notification while locked";
        resizeRequests = 0;
    }
    EXPECT_EQ(mask, SendMessageW(edit, EM_GETEVENTMASK, 0, 0));
    EXPECT_GE(resizeRequests, 1) << "a resize notification is asked for at the end";
    EXPECT_TRUE(GetUpdateRect(edit, nullptr, FALSE)) << "the whole control is repainted";
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"typed afterwards"));
    EXPECT_FALSE(host.commands.empty());

    // A control without an event mask gets its redraw back and nothing else.
    HWND plain = Child(L"EDIT", 6);
    {
        CRedrawLock lock(plain);
    }
    EXPECT_TRUE(GetUpdateRect(plain, nullptr, FALSE));
    DestroyWindow(edit);
    FreeLibrary(richEdit);
}
