// The frame's "Settings..." command: the pages give their edits first, then the import and
// export settings dialog runs modal with the application's image list, tips and placements.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <optional>

#include "app/MainFrame.h"
#include "app/ShellServices.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PageTestIds.h"
#include "tests/support/WindowPicture.h"

namespace {

// A page that counts the times it is asked to store its edits.
class CSavingPage : public CBasePage
{
public:
    explicit CSavingPage(IPageHost& host) : CBasePage(IDD_PROBE_PAGE, &host) {}
    void ExchangeData(bool save) override { saves += save ? 1 : 0; }
    int saves = 0;
};

class ManageSettingsCommand : public AppTest
{
};

} // namespace

TEST_F(ManageSettingsCommand, PagesStoreFirstThenTheDialogRunsAndKeepsItsPlacement)
{
    ASSERT_EQ(kStartContinue, Start());
    auto page = std::make_unique<CSavingPage>(App());
    ASSERT_TRUE(page->CreateDialogWindow(FrameWindow()));
    CSavingPage* saving = page.get();
    Frame()->AdoptPage(7, std::move(page));  // a slot without a row of its own

    int savesWhenShown = -1;
    int items = 0, toolbarButtons = 0;
    std::optional<CWindowPicture> picture;
    RECT listRect{}, clientRect{};
    CBoxRobot robot([](HWND d) { return HasText(d, L"3. Choose file"); },
                    [&](HWND d) {
                        savesWhenShown = saving->saves;
                        HWND list = GetDlgItem(d, IDC_MS_LIST);
                        items = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
                        toolbarButtons = static_cast<int>(SendMessageW(GetDlgItem(d, IDC_MS_TOOLBAR), TB_BUTTONCOUNT, 0, 0));
                        picture.emplace(d, L"ManageSettingsDialog.bmp");
                        listRect = ClientRectInWindowPicture(d, list);
                        clientRect = ClientRectInWindowPicture(d, d);
                        PressButton(d, IDCANCEL);
                    });
    PostMessageW(FrameWindow(), WM_COMMAND, ID_MANAGE_SETTINGS, 0);
    PumpWaitingMessages();
    robot.Join();
    ASSERT_TRUE(robot.found);
    EXPECT_EQ(1, savesWhenShown) << "the page stored its edits before the dialog came";
    EXPECT_EQ(22, items);
    EXPECT_EQ(2, toolbarButtons);

    // The dialog's face, and the list's white field with the ink of the group names. Wine may
    // draw no group headers; the items are enough ink.
    ASSERT_TRUE(picture);
    ASSERT_TRUE(picture->Ok()) << picture->Problem();
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), picture->Dominant(clientRect));
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), picture->Dominant(listRect));
    EXPECT_GE(picture->InkPixels(listRect, GetSysColor(COLOR_WINDOW)), 600);

    const WindowSlot& slot = App().GetSettings().windowSlots[kPlacementSettingsTransfer];
    EXPECT_NE(kNoWindowPos, slot.left) << "the placement went into slot 4";
    EXPECT_GE(slot.width, 336);
    EXPECT_GE(slot.height, 515);
}
