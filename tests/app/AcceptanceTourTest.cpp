// The tour of the program: every page made current through the page list, every tab of a page
// and every view of the Advanced page shown, and every dialog of the resources created; each
// leaves a picture in tests/tour/, and every image index its controls use lies in their lists. A
// page or a tab's content that is not shown or draws nothing, or a dialog that cannot be created,
// fails the tour.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "app/PageListBar.h"
#include "pages/options/DestinationDialogs.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/WindowPicture.h"

namespace {

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// The size of a dialog template in dialog units (DIALOGEX or plain DIALOG); zero when missing.
SIZE TemplateSize(int id)
{
    HRSRC found = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), RT_DIALOG);
    const auto* bytes = found ? static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found))) : nullptr;
    if (!bytes)
        return {};
    const bool ex = reinterpret_cast<const WORD*>(bytes)[1] == 0xFFFF;
    const auto* size = reinterpret_cast<const short*>(bytes + (ex ? 22 : 14));
    return {size[0], size[1]};
}

// Every image a toolbar button, tab or extended combo box item of the window and its descendants
// names that its image list does not hold, as "control id: index / count".
std::vector<std::string> ImagesOutsideTheirLists(HWND root)
{
    std::vector<std::string> outside;
    auto check = [&](HWND control, int index, HIMAGELIST list) {
        const int count = list ? ImageList_GetImageCount(list) : 0;
        if (index >= count)
            outside.push_back(std::to_string(GetDlgCtrlID(control)) + ": " + std::to_string(index) + " / " +
                              std::to_string(count));
    };
    auto visit = [&](HWND w) {
        wchar_t cls[64] = L"";
        GetClassNameW(w, cls, 64);
        if (!lstrcmpiW(cls, TOOLBARCLASSNAMEW)) {
            const auto list = reinterpret_cast<HIMAGELIST>(SendMessageW(w, TB_GETIMAGELIST, 0, 0));
            for (int i = 0; i < static_cast<int>(SendMessageW(w, TB_BUTTONCOUNT, 0, 0)); ++i) {
                TBBUTTON button{};
                SendMessageW(w, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
                if (!(button.fsStyle & BTNS_SEP) && button.iBitmap >= 0)
                    check(w, button.iBitmap, list);
            }
        } else if (!lstrcmpiW(cls, WC_TABCONTROLW)) {
            for (int i = 0; i < TabCtrl_GetItemCount(w); ++i) {
                TCITEMW item{TCIF_IMAGE};
                if (TabCtrl_GetItem(w, i, &item) && item.iImage >= 0)
                    check(w, item.iImage, TabCtrl_GetImageList(w));
            }
        } else if (!lstrcmpiW(cls, WC_COMBOBOXEXW)) {
            const auto list = reinterpret_cast<HIMAGELIST>(SendMessageW(w, CBEM_GETIMAGELIST, 0, 0));
            for (int i = 0; i < static_cast<int>(SendMessageW(w, CB_GETCOUNT, 0, 0)); ++i) {
                COMBOBOXEXITEMW item{CBEIF_IMAGE | CBEIF_SELECTEDIMAGE};
                item.iItem = i;
                if (SendMessageW(w, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
                    if (item.iImage >= 0)
                        check(w, item.iImage, list);
                    if (item.iSelectedImage >= 0)
                        check(w, item.iSelectedImage, list);
                }
            }
        }
    };
    visit(root);
    EnumChildWindows(root, [](HWND w, LPARAM visitor) -> BOOL {
        (*reinterpret_cast<decltype(visit)*>(visitor))(w);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&visit));
    return outside;
}

BOOL CALLBACK CollectDialog(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list)
{
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<int>*>(list)->push_back(static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

class AcceptanceTour : public AppTest
{
protected:
    // A picture of the window in tests/tour/. With a part (a page, or what a tab shows), the
    // part lies shown inside the window's client area and has ink on it: a page that draws
    // nothing fails. A bare dialog template may be as empty as its controls are before their
    // owner fills them.
    void Picture(HWND window, const std::wstring& name, HWND part = nullptr)
    {
        const std::string label(name.begin(), name.end());
        CreateDirectoryW((TestExeFolder() + L"\\tour").c_str(), nullptr);
        const CWindowPicture picture(window, L"tour\\" + name + L".bmp");
        ASSERT_TRUE(picture.Ok()) << label << ": " << picture.Problem();
        if (!part)
            return;
        const RECT area = ClientRectInWindowPicture(window, part);
        const RECT client = ClientRectInWindowPicture(window, window);
        RECT inside{};
        ASSERT_TRUE(IsWindowVisible(part)) << label << ": not shown";
        ASSERT_TRUE(IntersectRect(&inside, &area, &client) && EqualRect(&inside, &area))
            << label << ": not inside the window's client area";
        EXPECT_GE(picture.Ink(area), 50) << label;
    }

    // The child of the page shown in the tab control's display area.
    static HWND TabContent(HWND page, HWND tabs)
    {
        RECT display;
        GetClientRect(tabs, &display);
        TabCtrl_AdjustRect(tabs, FALSE, &display);
        POINT centre{(display.left + display.right) / 2, (display.top + display.bottom) / 2};
        MapWindowPoints(tabs, nullptr, &centre, 1);
        for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            RECT r;
            GetWindowRect(child, &r);
            if (child != tabs && IsWindowVisible(child) && PtInRect(&r, centre))
                return child;
        }
        return nullptr;
    }

    HTREEITEM ItemOf(HWND tree, int pageId) const
    {
        for (HTREEITEM root = TreeView_GetRoot(tree); root; root = TreeView_GetNextSibling(tree, root)) {
            for (HTREEITEM i = root; i; i = i == root ? TreeView_GetChild(tree, root) : TreeView_GetNextSibling(tree, i)) {
                TVITEMW tv{};
                tv.mask = TVIF_PARAM;
                tv.hItem = i;
                TreeView_GetItem(tree, &tv);
                if (tv.lParam == pageId)
                    return i;
            }
        }
        return nullptr;
    }
};

}  // namespace

TEST_F(AcceptanceTour, EveryPageTabViewAndDialogShows)
{
    ASSERT_EQ(kStartContinue, Start());
    CAppSettings& settings = App().GetSettings();
    settings.SetPanels(PANEL_PAGELIST | PANEL_HEADER | PANEL_STATUSBAR | PANEL_TOOLBAR);
    ASSERT_TRUE(Frame()->PageListBar());
    HWND tree = Frame()->PageListBar()->Tree();
    SendMessageW(Frame()->PageListBar()->m_hWnd, WM_COMMAND, ID_PAGELIST_CHECK_ALL, 0);

    for (const PageTableEntry& row : kPageRegistry) {
        const std::wstring name = std::to_wstring(row.id);
        HTREEITEM item = ItemOf(tree, row.id);
        ASSERT_TRUE(item) << "page " << row.id << " is not in the page list";
        ASSERT_TRUE(TreeView_SelectItem(tree, item));
        ASSERT_EQ(row.id, Frame()->GetCurrentPage());
        CBasePage* page = Frame()->GetCurrentPageObject();
        EXPECT_TRUE(page && page->m_hWnd) << "page " << row.id << " is a blank slot";
        if (!page || !page->m_hWnd)
            continue;
        Picture(FrameWindow(), name, page->m_hWnd);
        EXPECT_EQ(std::vector<std::string>{}, ImagesOutsideTheirLists(FrameWindow())) << "page " << row.id;

        // At one and a half times its template the page's controls follow their anchors: the
        // frame grows until the page has that size.
        const SIZE units = TemplateSize(row.dialogId);
        RECT large{0, 0, units.cx * 3 / 2, units.cy * 3 / 2};
        MapDialogRect(page->m_hWnd, &large);
        RECT pageRect, frameRect;
        GetWindowRect(page->m_hWnd, &pageRect);
        GetWindowRect(FrameWindow(), &frameRect);
        SetWindowPos(FrameWindow(), nullptr, 0, 0,
                     frameRect.right - frameRect.left + large.right - (pageRect.right - pageRect.left),
                     frameRect.bottom - frameRect.top + large.bottom - (pageRect.bottom - pageRect.top),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        Picture(page->m_hWnd, name + L"-large");
        if (row.id == PAGE_KEY_LIST) {
            // "ms" stays beside the timer's interval box.
            RECT box, unit;
            GetWindowRect(GetDlgItem(page->m_hWnd, IDC_KEYLIST_INTERVAL_SPIN), &box);
            GetWindowRect(GetDlgItem(page->m_hWnd, IDC_KEYLIST_INTERVAL_UNIT), &unit);
            EXPECT_TRUE(unit.left >= box.right - 2 && unit.left <= box.right + 20) << unit.left << " " << box.right;
            EXPECT_TRUE(unit.top < box.bottom && unit.bottom > box.top) << unit.top << " " << box.top;
        }
        SetWindowPos(FrameWindow(), nullptr, 0, 0, frameRect.right - frameRect.left, frameRect.bottom - frameRect.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

        // Every tab of the page's tab controls, and both views of the Advanced page.
        for (HWND child = GetWindow(page->m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t cls[64] = L"";
            GetClassNameW(child, cls, 64);
            if (lstrcmpiW(cls, WC_TABCONTROLW) != 0)
                continue;
            const int tabs = TabCtrl_GetItemCount(child);
            for (int tab = 0; tab < tabs; ++tab) {
                TabCtrl_SetCurSel(child, tab);
                NMHDR change{child, static_cast<UINT_PTR>(GetDlgCtrlID(child)), static_cast<UINT>(TCN_SELCHANGE)};
                SendMessageW(page->m_hWnd, WM_NOTIFY, change.idFrom, reinterpret_cast<LPARAM>(&change));
                const std::wstring tabName = name + L"-tab" + std::to_wstring(tab);
                HWND content = TabContent(page->m_hWnd, child);
                EXPECT_TRUE(content) << std::string(tabName.begin(), tabName.end()) << " shows nothing";
                Picture(FrameWindow(), tabName, content ? content : page->m_hWnd);
                EXPECT_EQ(std::vector<std::string>{}, ImagesOutsideTheirLists(page->m_hWnd)) << tabName;
            }
        }
        if (row.id == PAGE_ADVANCED) {
            for (int radio : {IDC_ADV_ALL, IDC_ADV_SIMPLE}) {
                SendDlgItemMessageW(page->m_hWnd, radio, BM_CLICK, 0, 0);
                Picture(FrameWindow(), name + (radio == IDC_ADV_ALL ? L"-all" : L"-simple"), page->m_hWnd);
                EXPECT_EQ(std::vector<std::string>{}, ImagesOutsideTheirLists(page->m_hWnd)) << radio;
            }
        }
    }

    // Every dialog template of the program.
    std::vector<int> dialogs;
    EnumResourceNamesW(GetModuleHandleW(nullptr), RT_DIALOG, CollectDialog, reinterpret_cast<LONG_PTR>(&dialogs));
    ASSERT_FALSE(dialogs.empty());
    for (int id : dialogs) {
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), FrameWindow(),
                                         PlainDialogProc, 0);
        EXPECT_TRUE(dialog) << "dialog " << id << " cannot be created (" << GetLastError() << ")";
        if (!dialog)
            continue;
        // Child templates are shown as they are, in a window of their own size.
        LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
        if (style & WS_CHILD) {
            SetWindowLongPtrW(dialog, GWL_STYLE, (style & ~static_cast<LONG_PTR>(WS_CHILD)) | WS_POPUP);
            SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
        }
        EnableWindow(dialog, TRUE);
        ShowWindow(dialog, SW_SHOWNOACTIVATE);
        Picture(dialog, L"dialog" + std::to_wstring(id));
        DestroyWindow(dialog);
    }

    // The dialogs with toolbars once more, opened by their commands so that their owners fill
    // them: each toolbar shows its pictures.
    struct Opened
    {
        int dialog;
        int toolbar;
        std::function<void()> open;
    };
    const Opened opened[] = {
        {IDD_EXT_TOOLS, IDC_ET_COMMAND_BAR, [&] { PostMessageW(FrameWindow(), WM_COMMAND, ID_EXT_TOOLS, 0); }},
        {IDD_MANAGE_SETTINGS, IDC_MS_TOOLBAR, [&] { PostMessageW(FrameWindow(), WM_COMMAND, ID_MANAGE_SETTINGS, 0); }},
        {IDD_FORMAT, IDC_FORMAT_EXAMPLE, [&] { PostMessageW(FrameWindow(), WM_COMMAND, ID_FORMAT_NEW, 0); }},
        {IDD_CMDLINE, IDC_CMD_PROGRAM_BAR, [&] { App().ShowCmdLineDialog(); }},
        {IDD_HTTP_REQUEST, IDC_HTTP_ADDRESS_BAR, [&] { App().ShowHttpRequestDialog(); }},
    };
    for (const Opened& o : opened) {
        int buttons = 0;
        RECT bar{};
        std::optional<CWindowPicture> picture;
        std::vector<std::string> outside;
        CBoxRobot robot([&](HWND d) { return GetDlgItem(d, o.toolbar) != nullptr; },
                        [&](HWND d) {
                            HWND toolbar = GetDlgItem(d, o.toolbar);
                            buttons = static_cast<int>(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
                            outside = ImagesOutsideTheirLists(d);
                            picture.emplace(d, L"tour\\dialog" + std::to_wstring(o.dialog) + L"-open.bmp");
                            bar = ClientRectInWindowPicture(d, toolbar);
                            PressButton(d, IDCANCEL);
                        });
        o.open();
        PumpWaitingMessages();
        robot.Join();
        ASSERT_TRUE(robot.found) << "dialog " << o.dialog << " did not open";
        EXPECT_GE(buttons, 1) << "dialog " << o.dialog;
        EXPECT_EQ(std::vector<std::string>{}, outside) << "dialog " << o.dialog;
        ASSERT_TRUE(picture->Ok()) << "dialog " << o.dialog << ": " << picture->Problem();
        EXPECT_GE(picture->InkPixels(bar, GetSysColor(COLOR_BTNFACE)), 20) << "dialog " << o.dialog << "'s toolbar";
    }
    ShutDown();
}
