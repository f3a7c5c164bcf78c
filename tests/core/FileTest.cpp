#include <gtest/gtest.h>
#include "core/File.h"

TEST(Utf8TextFile, RoundTrip)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + L"nv_roundtrip.txt";
    WriteUtf8TextFile(path, L"h\u00e9llo");
    std::wstring back;
    ReadUtf8TextFile(path, back);
    EXPECT_EQ(L"h\u00e9llo", back);
    std::wstring appData;
    GetRoamingAppDataPath(appData);
    EXPECT_FALSE(appData.empty());
    DeleteFileW(path.c_str());
}
