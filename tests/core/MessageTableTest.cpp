#include <gtest/gtest.h>
#include <windows.h>
#include "core/ResultCodes.h"

// The message table is linked into every test exe, as into the program.
TEST(MessageTable, ProgramCodeHasItsText)
{
    wchar_t buf[256] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, GetModuleHandleW(nullptr),
                             static_cast<DWORD>(KV_E_NO_PORTAVO), 0, buf, 256, nullptr);
    ASSERT_GT(n, 0u);
    EXPECT_STREQ(L"No connection with Portavo.\r\n", buf);
}
