// The full parameter list in the running program: a value set through its editor takes effect
// where its row says.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/MainFrame.h"
#include "pages/options/AdvAllPage.h"
#include "pages/options/AdvancedPage.h"
#include "tests/app/AppTestSupport.h"

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring RunValue()
{
    wchar_t data[1024] = L"";
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Norvane2", RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"<none>";
    return data;
}

class AdvancedPageApp : public AppTest
{
protected:
    CAdvAllPage& ShowAll()
    {
        App().GetSettings().SetAdvancedShowAll(true);
        EXPECT_TRUE(App().ShowPage(PAGE_ADVANCED));
        auto* page = static_cast<CAdvancedPage*>(Frame()->GetCurrentPageObject());
        return *static_cast<CAdvAllPage*>(page->View(1));
    }
    void SetYesNo(CAdvAllPage& all, int index, bool yes)
    {
        const auto& rows = all.Rows();
        int row = -1;
        for (size_t i = 0; i < rows.size(); ++i)
            if (!rows[i].node->IsGroup() && rows[i].node->id == index)
                row = static_cast<int>(i);
        ASSERT_GE(row, 0);
        HWND list = GetDlgItem(all.m_hWnd, IDC_PARAM_LIST);
        ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
        ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
        all.Flush();
        SendDlgItemMessageW(all.m_hWnd, yes ? IDC_PARAM_YES : IDC_PARAM_NO, BM_CLICK, 0, 0);
    }
};

}  // namespace

TEST_F(AdvancedPageApp, ValuesTakeEffectWhereTheirRowsSay)
{
    ASSERT_EQ(kStartContinue, Start());
    CAdvAllPage& all = ShowAll();

    // "Always On Top": Wine keeps no WS_EX_TOPMOST without a window manager; the frame's button
    // that applying it checks shows the same.
    HWND toolbar = GetDlgItem(FrameWindow(), IDC_PAGE_TOOLBAR);
    for (bool on : {true, false}) {
        SetYesNo(all, 12, on);
        EXPECT_EQ(on, App().GetSettings().view.topMost);
        EXPECT_TRUE(Frame()->DirtyBits() & MFD_TOPMOST);
        Frame()->IdleUpdate();
        EXPECT_EQ(on, SendMessageW(toolbar, TB_ISBUTTONCHECKED, ID_TOPMOST, 0) != 0);
    }

    SetYesNo(all, 1, true);  // "Autorun with Windows"
    const std::wstring value = RunValue();
    EXPECT_NE(value.find(L"\" /autorun"), std::wstring::npos) << std::string(value.begin(), value.end());
    SetYesNo(all, 1, false);
    EXPECT_EQ(RunValue(), L"<none>");

    SetYesNo(all, 29, true);  // "Exit Norvane" asks first
    EXPECT_TRUE(App().GetSettings().GetConfirmFlags() & CONFIRM_EXIT);
    SetYesNo(all, 29, false);
    ShutDown();
}
