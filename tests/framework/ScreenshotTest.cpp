#include <gtest/gtest.h>
#include <windows.h>
#include "framework/Dialog.h"
#include "tests/framework/FrameworkTestSupport.h"

// Renders a test dialog under the test display and leaves its picture in the build folder for a
// person to look at (framework_dialog.bmp beside the test exe); no pixels are compared.
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
    UpdateWindow(dialog.m_hWnd);
    RedrawWindow(dialog.m_hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    DrainMessages(); // lets the display catch up with the painted surface

    const std::wstring path = TestExeFolder() + L"\\framework_dialog.bmp";
    DeleteFileW(path.c_str());
    ASSERT_TRUE(SaveWindowBitmap(dialog.m_hWnd, path));
    WIN32_FILE_ATTRIBUTE_DATA info{};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info));
    RECT rc;
    GetWindowRect(dialog.m_hWnd, &rc);
    const DWORD stride = (static_cast<DWORD>(rc.right - rc.left) * 3 + 3) & ~3u;
    EXPECT_EQ(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + stride * (rc.bottom - rc.top), info.nFileSizeLow);
    dialog.Destroy();
}
