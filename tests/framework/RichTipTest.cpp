#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "framework/RichTip.h"
#include "tests/framework/FrameworkTestSupport.h"
#include "tests/support/WindowPicture.h"

namespace {

class RichTip : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DrainMessages();
        GetCursorPos(&cursorBefore);
        ASSERT_TRUE(CRichTip::RegisterWindowClass());
        ASSERT_TRUE(owner.CreateTop(L"Rich tip owner"));
        owner.onMessage = [this](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
            if (m != WM_NOTIFY || reinterpret_cast<NMHDR*>(l)->hwndFrom != tip.m_hWnd)
                return std::nullopt;
            const auto* n = reinterpret_cast<NMRICHTIP*>(l);
            codes.push_back(n->hdr.code);
            positions.push_back(n->position);
            if (n->hdr.code == RTN_SHOWING) {
                tip.SetVariable(L"port", L"COM3", 1);
                tip.SetVariable(L"serial", L"123456", 0);
                return tip.LoadContent(IDR_TEST_TIP) ? 1 : 0;
            }
            return 0;
        };
        ASSERT_TRUE(tip.CreateTip(owner.m_hWnd));
    }
    void TearDown() override
    {
        tip.Destroy();
        owner.Destroy();
        // A cursor left where a later test's window comes up would send that window messages.
        SetCursorPos(cursorBefore.x, cursorBefore.y);
        DrainMessages();
    }
    std::wstring Text() { return tip.GetRichEdit().GetTextRange(0, tip.GetRichEdit().GetTextLength()); }
    void Render(const wchar_t* page)
    {
        tip.GetRichEdit().SetTextEx(page, 1200, ST_DEFAULT);
        tip.RenderMarkup();
    }
    CHARFORMAT2W FormatAt(LONG position)
    {
        tip.GetRichEdit().SetSel(position, position + 1);
        CHARFORMAT2W format{};
        format.cbSize = sizeof(format);
        SendMessageW(tip.GetRichEdit().m_hWnd, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        return format;
    }
    // Pumps until the condition holds or the time is up; the elapsed milliseconds.
    template <class Done>
    ULONGLONG PumpUntil(Done done, DWORD timeoutMs)
    {
        const ULONGLONG start = GetTickCount64();
        while (!done() && GetTickCount64() - start < timeoutMs) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (!TestApp().PreTranslate(&msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
        }
        return GetTickCount64() - start;
    }
    POINT Center(HWND window)
    {
        RECT r;
        GetWindowRect(window, &r);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }

    POINT cursorBefore{};
    CScriptWnd owner;
    CRichTip tip;
    std::vector<UINT> codes;
    std::vector<int32_t> positions;
};

} // namespace

TEST_F(RichTip, MarkupBecomesTextAndNothingElse)
{
    tip.SetVariable(L"v1", L"new", 1);
    tip.SetVariable(L"v0", L"new", 0);
    tip.SetVariable(L"self", L"<arg name=\"self\"/>", 1);
    tip.SetVariable(L"rtf", L"{\\rtf1 X}", 1);
    tip.SetVariable(L"lines", L"a\r\nb", 1);
    struct {
        const wchar_t* page;
        const wchar_t* shown;
    } cases[] = {
        {L"Plain text, no tags", L"Plain text, no tags"},
        {L"A <arg name=\"v1\">old</arg> B", L"A new B"},
        {L"A <arg name=\"v0\">old</arg> B", L"A newold B"},
        {L"A <arg name=\"missing\">old</arg> B", L"A  B"},
        {L"A <arg name=v1/> B", L"A new B"},
        {L"<arg name=\"self\"/>!", L"<arg name=\"self\"/>!"},  // inserted text is not searched again
        {L"value: <arg name=\"rtf\"/>", L"value: {\\rtf1 X}"},  // plain text, never RTF
        {L"<arg name=\"lines\"/><b>c</b>", L"a\rbc"},
        {L"x < y", L"x < y"},                                    // no ">": the pass ends
        {L"<b>bold</b> <i>open", L"bold <i>open"},               // no closing tag: the pass ends
        {L"</stray>ok", L"ok"},
        {L"<B>upper</b>", L"upper"},
    };
    // A pass ends after a bounded number of tags.
    std::wstring many;
    for (int i = 0; i < 131; ++i)
        many += L"<x/>";
    Render(many.c_str());
    EXPECT_EQ(L"<x/><x/><x/>", Text());
    for (const auto& c : cases) {
        Render(c.page);
        EXPECT_EQ(c.shown, Text()) << c.page;
    }
    EXPECT_TRUE(tip.GetLinks().empty());
}

TEST_F(RichTip, FontParaAndLinkTagsFormatTheirRange)
{
    const std::wstring longFace(40, L'F');
    Render((L"<font size=0>a</font><font size=14>b</font><font size=-3>c</font><font color=0000FF>d</font>"
            L"<font face=\"" + longFace + L"\">e</font><a href=\"config\">link</a>")
               .c_str());
    ASSERT_EQ(L"abcdelink", Text());
    const LONG plainSize = FormatAt(0).yHeight;
    EXPECT_EQ(280, FormatAt(1).yHeight);
    EXPECT_EQ(plainSize, FormatAt(2).yHeight) << "a size of 0 or less keeps the size";
    EXPECT_EQ(COLORREF(0x0000FF), FormatAt(3).crTextColor);
    EXPECT_EQ(longFace.substr(0, 31), std::wstring(FormatAt(4).szFaceName));
    EXPECT_TRUE(FormatAt(5).dwEffects & CFE_LINK);
    EXPECT_FALSE(FormatAt(4).dwEffects & CFE_LINK);
    ASSERT_EQ(1u, tip.GetLinks().size());
    EXPECT_EQ(5, tip.GetLinks().begin()->first);
    EXPECT_EQ(L"config", tip.GetLinks().begin()->second);

    Render(L"<para spaceafter=6>first</para>\rsecond");
    PARAFORMAT2 para{};
    para.cbSize = sizeof(para);
    tip.GetRichEdit().SetSel(0, 0);
    SendMessageW(tip.GetRichEdit().m_hWnd, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&para));
    EXPECT_EQ(120, para.dySpaceAfter);

    tip.ClearContent();
    EXPECT_EQ(L"", Text());
    EXPECT_TRUE(tip.GetLinks().empty());
}

TEST_F(RichTip, ShownAfterTheDoubleClickTimeAndHiddenWhenTheCursorLeaves)
{
    ShowWindow(owner.m_hWnd, SW_SHOWNOACTIVATE);
    SetCursorPos(Center(owner.m_hWnd).x, Center(owner.m_hWnd).y);
    const UINT wait = GetDoubleClickTime();
    tip.RequestShow(owner.m_hWnd, 7);
    const ULONGLONG shownAfter = PumpUntil([&] { return IsWindowVisible(tip.m_hWnd) != FALSE; }, 5000);
    ASSERT_TRUE(IsWindowVisible(tip.m_hWnd));
    EXPECT_GE(shownAfter + 20, wait);
    EXPECT_EQ(std::vector<UINT>{RTN_SHOWING}, codes);
    EXPECT_EQ(L"Reader on COM3\rSerial number: 123456\rReader settings", Text());
    EXPECT_TRUE(FormatAt(0).dwEffects & CFE_BOLD) << "effects 1 makes its range bold";
    EXPECT_FALSE(FormatAt(7).dwEffects & CFE_BOLD);
    EXPECT_FALSE(FormatAt(10).dwEffects & CFE_BOLD);

    // The picture of the tip: the info background with the ink of its text.
    const CWindowPicture picture(tip.m_hWnd, L"RichTip.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    RECT client;
    GetClientRect(tip.m_hWnd, &client);
    EXPECT_GE(client.right, 390);
    EXPECT_EQ(GetSysColor(COLOR_INFOBK), picture.Dominant(RECT{2, 2, picture.Width() - 2, picture.Height() - 2}));
    EXPECT_GE(picture.InkPixels(RECT{2, 2, picture.Width() - 2, picture.Height() - 2}, GetSysColor(COLOR_INFOBK)), 100);

    // A click on the link reaches the owner with the link's start.
    ASSERT_EQ(1u, tip.GetLinks().size());
    const LONG linkStart = tip.GetLinks().begin()->first;
    POINTL at{};
    SendMessageW(tip.GetRichEdit().m_hWnd, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), linkStart + 2);
    const LPARAM where = MAKELPARAM(at.x + 1, at.y + 3);
    SendMessageW(tip.GetRichEdit().m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, where);
    SendMessageW(tip.GetRichEdit().m_hWnd, WM_LBUTTONUP, 0, where);
    ASSERT_EQ(2u, codes.size());
    EXPECT_EQ(RTN_LINKCLICK, codes[1]);
    EXPECT_EQ(linkStart, positions[1]);

    // Hiding polls the cursor: on the tip it stays, off the tip it goes at the next poll.
    const POINT onTip = Center(tip.m_hWnd);
    SetCursorPos(onTip.x, onTip.y);
    tip.RequestHide(owner.m_hWnd, 0, false);
    PumpUntil([] { return false; }, wait / 5 * 3);
    EXPECT_TRUE(IsWindowVisible(tip.m_hWnd)) << "the cursor rests on the tip";
    RECT tipRect;
    GetWindowRect(tip.m_hWnd, &tipRect);
    SetCursorPos(tipRect.right + 40, tipRect.bottom + 40);
    const ULONGLONG hiddenAfter = PumpUntil([&] { return !IsWindowVisible(tip.m_hWnd); }, 5000);
    EXPECT_FALSE(IsWindowVisible(tip.m_hWnd));
    EXPECT_LT(hiddenAfter, wait) << "a poll, not a show delay";
    EXPECT_EQ(RTN_HIDDEN, codes.back());
    EXPECT_EQ(L"", Text()) << "the content goes with the tip";
}

TEST_F(RichTip, EscapeDismissesAndTheSameToolAtTheSamePointIsNotAskedAgain)
{
    ShowWindow(owner.m_hWnd, SW_SHOWNOACTIVATE);
    SetCursorPos(Center(owner.m_hWnd).x, Center(owner.m_hWnd).y);
    tip.RequestShow(owner.m_hWnd, 3);
    PumpUntil([&] { return IsWindowVisible(tip.m_hWnd) != FALSE; }, 5000);
    ASSERT_TRUE(tip.IsShown());

    MSG escape{owner.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0};
    EXPECT_TRUE(tip.PreTranslate(&escape)) << "consumed while the tip was shown";
    EXPECT_FALSE(IsWindowVisible(tip.m_hWnd));
    EXPECT_EQ(RTN_HIDDEN, codes.back());
    EXPECT_FALSE(tip.PreTranslate(&escape)) << "passed on when nothing was shown";

    codes.clear();
    tip.RequestShow(owner.m_hWnd, 3);
    EXPECT_FALSE(tip.IsRequestPending()) << "the cursor has not moved since the dismissal";
    tip.RequestShow(owner.m_hWnd, 4);
    EXPECT_TRUE(tip.IsRequestPending()) << "another tool forgets the dismissal";
    tip.RequestHide(owner.m_hWnd, 4, false);
    EXPECT_FALSE(tip.IsRequestPending());
    PumpUntil([] { return false; }, GetDoubleClickTime() + 100);
    EXPECT_TRUE(codes.empty()) << "a cancelled request asks nothing";

    EXPECT_GT(GetCursorVisibleHeight(LoadCursorW(nullptr, IDC_ARROW)), 0);
    EXPECT_EQ(0, GetCursorVisibleHeight(nullptr));
}
