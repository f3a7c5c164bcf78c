// The external tools editor in the running program: titles of added tools, the checks of a
// command, Apply reaching the Tools menu, its picture and its help topic.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

#include "app/ExtToolsDialog.h"
#include "tests/app/FrameProbe.h"
#include "tests/support/WindowPicture.h"

using namespace frame_probe;

namespace {

class ExtToolsDialogTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        m_system.askUser = [this](const std::wstring& text, UINT, HWND, bool*) {
            m_asked.push_back(text);
            return m_answer;
        };
        ASSERT_EQ(kStartContinue, Start());
    }
    void TearDown() override
    {
        ShutDown();
        AppTest::TearDown();
    }
    static void Press(HWND dialog, int id)
    {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }
    static std::vector<std::wstring> ListTexts(HWND dialog)
    {
        HWND list = GetDlgItem(dialog, IDC_ET_LIST);
        std::vector<std::wstring> texts;
        for (int i = 0; i < SendMessageW(list, LB_GETCOUNT, 0, 0); ++i) {
            wchar_t text[128] = {};
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            texts.push_back(text);
        }
        return texts;
    }

    std::vector<std::wstring> m_asked;
    int m_answer = IDOK;
};

} // namespace

TEST_F(ExtToolsDialogTest, AddedTitlesCommandChecksAndApplyToTheToolsMenu)
{
    CAppSettings& settings = App().GetSettings();
    *settings.EditExtTools() = {{L"One", L"one.exe"}, {L"Two", L"two.exe"}, {L"Three", L"three.exe"},
                                {L"Four", L"four.exe"}, {L"Five", L"five.exe"}, {L"Six", L"six.exe"}};
    CExtToolsDialog dialog;
    ASSERT_TRUE(dialog.CreateDialogWindow(FrameWindow()));
    HWND hwnd = dialog.m_hWnd;
    ShowWindow(hwnd, SW_SHOW);

    Press(hwnd, IDC_ET_ADD);
    Press(hwnd, IDC_ET_ADD);
    const std::vector<std::wstring> titles = ListTexts(hwnd);
    ASSERT_EQ(8u, titles.size());
    EXPECT_EQ(L"New Tool", titles[6]);
    EXPECT_EQ(L"New Tool 1", titles[7]);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDC_ET_ADD))) << "eight tools";
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_ET_APPLY)));

    // The commands of the new tool, as typed; the search path finds "notepad".
    const std::wstring notExecutable = L"The command is not a valid executable. Continue anyway?";
    const struct {
        const wchar_t* title;
        const wchar_t* command;
        int answer;
        bool stored;
        std::vector<std::wstring> asked;
    } cases[] = {
        {L"Editor", L"notepad", IDOK, true, {}},
        {L"Editor", L"nosuch.exe", IDCANCEL, false, {notExecutable}},
        {L"Editor", L"nosuch.exe", IDOK, true, {notExecutable}},
        {L"", L"notepad", IDOK, false, {L"Field must be filled in."}},
        {L"Editor", L"", IDOK, false, {L"Field must be filled in."}},
    };
    for (const auto& c : cases) {
        SetDlgItemTextW(hwnd, IDC_ET_TITLE, c.title);
        SetDlgItemTextW(hwnd, IDC_ET_COMMAND, c.command);
        m_answer = c.answer;
        m_asked.clear();
        EXPECT_EQ(c.stored, dialog.StoreEdits()) << c.command;
        EXPECT_EQ(c.asked, m_asked) << c.command;
        if (c.stored) {
            EXPECT_EQ(c.command, dialog.Tools()[7].command);
        }
    }
    SetDlgItemTextW(hwnd, IDC_ET_TITLE, L"Editor");
    SetDlgItemTextW(hwnd, IDC_ET_COMMAND, L"notepad");
    Press(hwnd, IDC_ET_APPLY);
    ASSERT_EQ(8u, settings.extTools.size());
    EXPECT_EQ(L"Editor", settings.extTools[7].name);
    EXPECT_EQ(L"notepad", settings.extTools[7].command);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDC_ET_APPLY)));

    // The Tools menu lists them all, the eighth included.
    CMenu holder(CreatePopupMenu());
    AppendMenuW(holder.Get(), MF_STRING, ID_EXT_TOOL_LIST, L"placeholder");
    SendMessageW(FrameWindow(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(holder.Get()), 0);
    ASSERT_EQ(8, GetMenuItemCount(holder.Get()));
    wchar_t text[64] = {};
    GetMenuStringW(holder.Get(), ID_EXT_TOOL_LAST, text, 64, MF_BYCOMMAND);
    EXPECT_STREQ(L"Editor", text);

    // A picture: the list's titles stand out from its background.
    PumpWaitingMessages();
    const CWindowPicture picture(hwnd, L"ExtToolsDialog.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const RECT r = ClientRectInWindowPicture(hwnd, GetDlgItem(hwnd, IDC_ET_LIST));
    EXPECT_GE(picture.InkPixels(r, picture.Dominant(r)), 150);

    DestroyWindow(hwnd);
}

TEST_F(ExtToolsDialogTest, TheCommandOpensTheDialogModallyAndF1AsksItsTopic)
{
    std::atomic<DWORD_PTR> topic{0};
    std::atomic<int> calls{0};
    m_system.showHtmlHelp = [&](HWND, const wchar_t*, UINT, DWORD_PTR data) {
        topic = data;
        ++calls;
        return HWND{};
    };
    ASSERT_TRUE(CreateDirectoryW(m_folder.File(L"Help").c_str(), nullptr));
    WriteFileBytes(m_folder.File(L"Help\\Norvane_RUS.chm"), "help");
    CBoxRobot robot([](HWND box) { return GetDlgItem(box, IDC_ET_LIST) != nullptr && GetForegroundWindow() == box; },
                    [&](HWND box) {
                        PressKeys({VK_F1});
                        const DWORD start = GetTickCount();
                        while (calls == 0 && GetTickCount() - start < 5000)
                            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
                        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
                    });
    SendMessageW(FrameWindow(), WM_COMMAND, ID_EXT_TOOLS, 0);
    robot.Join();
    EXPECT_TRUE(robot.found);
    EXPECT_EQ(1, calls.load());
    EXPECT_EQ(static_cast<DWORD_PTR>(0x20000 + 905), topic.load());
}
