#pragma once
// The key list page and the key dialog under test: a top-level window that holds the page, keys
// made from bytes, and a list's row texts read back the way another program reads them.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "config/AppSettings.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/WindowPicture.h"

namespace keylist_page_test {

// The host brings the application object that dialogs use.
inline void EnsureApp()
{
    PageTestApp();
}

inline _KEY_NUMBER Key(std::initializer_list<uint8_t> bytes)
{
    const std::vector<uint8_t> b(bytes);
    return MakeKeyNumber(b.data(), b.size());
}

inline void AddKey(CTransferDoc& doc, int type, std::initializer_list<uint8_t> bytes, uint32_t flags = 0)
{
    _KV_KEY key;
    key.keyType = type;
    key.keyNumber = Key(bytes);
    key.flags = flags;
    CDocUpdateScope scope(doc);
    doc.AddKey(key);
}

inline std::wstring ListText(HWND list, int row, int column)
{
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

inline void PumpPending()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// A top-level window for a page; the page fills its client area.
inline HWND CreateHostWindow(int width, int height)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"Key list", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, width,
                                  height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    const DWORD error = GetLastError();
    EXPECT_TRUE(window) << "the page's window was not made (error " << error << ")";
    return window;
}

} // namespace keylist_page_test
