#include <gtest/gtest.h>
#include <windows.h>
#include "framework/Dialog.h"
#include "tests/framework/FrameworkTestSupport.h"

// Renders a test dialog under the test display and leaves its picture in the build folder for a
// person to look at (framework_dialog.bmp beside the test exe). The picture is sampled, not
// compared: the dialog's face, and the white fields of the edit and the list with the ink of
// their texts.
TEST(Screenshot, TestDialogIsRenderedAndSaved)
{
    DrainMessages();
    CDialog dialog(IDD_TEST_SHOWCASE);
    ASSERT_TRUE(dialog.CreateDialogWindow(nullptr));
    HWND combo = GetDlgItem(dialog.m_hWnd, IDC_TEST_COMBO);
    for (const wchar_t* port : {L"COM3", L"COM4", L"192.168.0.10:1000"})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port));
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    HWND list = GetDlgItem(dialog.m_hWnd, IDC_TEST_LIST);
    for (const wchar_t* key : {L"000A1B2C3D", L"00FFEE0102", L"0012345678"})
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(key));
    SetDlgItemTextW(dialog.m_hWnd, IDC_TEST_EDIT, L"0012345678");
    CheckDlgButton(dialog.m_hWnd, IDC_TEST_CHECK, BST_CHECKED);
    dialog.CenterOnOwner();
    ShowWindow(dialog.m_hWnd, SW_SHOWNORMAL);

    const std::wstring path = TestExeFolder() + L"\\framework_dialog.bmp";
    DeleteFileW(path.c_str());
    const CWindowPicture picture(dialog.m_hWnd, L"framework_dialog.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    WIN32_FILE_ATTRIBUTE_DATA info{};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info));
    RECT rc;
    GetWindowRect(dialog.m_hWnd, &rc);
    const DWORD stride = (static_cast<DWORD>(rc.right - rc.left) * 3 + 3) & ~3u;
    EXPECT_EQ(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + stride * (rc.bottom - rc.top), info.nFileSizeLow);

    ASSERT_EQ(rc.right - rc.left, picture.Width());
    ASSERT_EQ(rc.bottom - rc.top, picture.Height());
    const COLORREF face = GetSysColor(COLOR_BTNFACE), field = GetSysColor(COLOR_WINDOW);
    EXPECT_EQ(face, picture.Dominant(ClientRectInWindowPicture(dialog.m_hWnd, dialog.m_hWnd)));
    struct {
        int id;
        int leastInk;
    } fields[] = {{IDC_TEST_EDIT, 80}, {IDC_TEST_LIST, 240}};   // about a third of what they show
    for (const auto& f : fields) {
        const RECT r = ClientRectInWindowPicture(dialog.m_hWnd, GetDlgItem(dialog.m_hWnd, f.id));
        EXPECT_EQ(field, picture.Dominant(r)) << f.id;
        EXPECT_GE(picture.InkPixels(r, field), f.leastInk) << f.id;
    }
    dialog.Destroy();
}
