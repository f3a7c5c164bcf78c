// The whole test language "de-de" (every text of the program marked "[de] ") chosen in the
// running program: the window made again shows it in its caption, menus, pages and boxes.
#include <gtest/gtest.h>
#include <windows.h>

#include "core/TextUtil.h"
#include "pages/options/SoundPage.h"
#include "tests/app/FrameProbe.h"
#include "tests/support/WindowPicture.h"

using namespace frame_probe;

namespace {

std::wstring WholeTestLanguage()
{
    return MultiByteToWString(std::string(NORVANE_TOOLS_DIR) + "/de-de.dll", CP_ACP);
}

std::wstring Text(HWND window)
{
    std::wstring text;
    GetWindowString(window, text);
    return text;
}

std::wstring MenuBarItem(HWND frame, int position)
{
    wchar_t text[128] = {};
    GetMenuStringW(GetMenu(frame), position, text, 128, MF_BYPOSITION);
    return text;
}

bool Marked(const std::wstring& text)
{
    return text.rfind(L"[de] ", 0) == 0;
}

} // namespace

using LanguageSwitch = AppTest;

TEST_F(LanguageSwitch, MarkedTextsEverywhereAndTheBuiltInOnesWhenTheLibraryIsGone)
{
    std::vector<std::wstring> asked;
    m_system.askUser = [&](const std::wstring& text, UINT, HWND, bool*) {
        asked.push_back(text);
        return IDCANCEL;
    };
    ASSERT_TRUE(CreateDirectoryW(m_folder.File(L"Languages").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(WholeTestLanguage().c_str(), m_folder.File(L"Languages\\de-de.dll").c_str(), FALSE));
    ASSERT_EQ(kStartContinue, Start());
    CNorvaneApp& app = App();
    EXPECT_FALSE(Marked(MenuBarItem(FrameWindow(), 0)));

    app.GetSettings().SetLanguage(L"de-de");
    HWND frame = FrameWindow();
    ASSERT_TRUE(IsWindow(frame));
    EXPECT_TRUE(Marked(Text(frame))) << Text(frame);
    for (int i = 0; i < GetMenuItemCount(GetMenu(frame)); ++i)
        EXPECT_TRUE(Marked(MenuBarItem(frame, i))) << MenuBarItem(frame, i);

    // A page and a question of it.
    app.GetSettings().SetCurrentPage(PAGE_SOUNDS);
    Frame()->IdleUpdate();
    auto* page = dynamic_cast<CSoundPage*>(Frame()->GetCurrentPageObject());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(L"[de] Enabled", Text(GetDlgItem(page->m_hWnd, IDC_SOUNDS_ENABLED)));
    app.GetSettings().SetSoundsEnabled(true);
    app.GetSettings().SetSoundFile(0, L"C:\\a.wav");
    HWND list = page->GetList().m_hWnd;
    ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SetForegroundWindow(frame);
    SetFocus(list);
    ASSERT_TRUE(PumpAppUntil([&] { return GetForegroundWindow() == frame; }));
    ASSERT_GT(PressKeys({VK_DELETE}), 0u);
    ASSERT_TRUE(PumpAppUntil([&] { return !asked.empty(); }));
    EXPECT_EQ(L"[de] Remove 1 items?", asked[0]);

    PumpWaitingMessages();
    const CWindowPicture picture(frame, L"MainFrameDe.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const RECT r = ClientRectInWindowPicture(frame, list);
    EXPECT_GE(picture.InkPixels(r, picture.Dominant(r)), 200);

    // The library gone: the same choice gives the built-in texts.
    app.GetSettings().SetLanguage(L"<internal>");
    ASSERT_TRUE(DeleteFileW(m_folder.File(L"Languages\\de-de.dll").c_str()));
    app.GetSettings().SetLanguage(L"de-de");
    frame = FrameWindow();
    EXPECT_EQ(nullptr, app.LanguageModule());
    EXPECT_FALSE(Marked(Text(frame))) << Text(frame);
    EXPECT_FALSE(Marked(MenuBarItem(frame, 0)));
    ShutDown();
}
