#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "core/File.h"
#include "tests/core/FileTestFolder.h"

// ---- path helpers

TEST(PathHelpers, FindExtension)
{
    struct Case
    {
        const wchar_t* path;
        const wchar_t* ext;
    } cases[] = {
        {L"C:\\a\\b.txt", L".txt"}, {L"C:\\a.d\\b", L""},   {L"b.tar.gz", L".gz"}, {L".hidden", L".hidden"},
        {L"noext", L""},            {L"C:\\dir\\", L""},    {L"a.", L"."},         {L"", L""},
        {L"C:\\x.wav", L".wav"},    {L"a.b\\c.d\\e", L""},
    };
    for (const Case& c : cases)
    {
        const wchar_t* ext = FindExtension(c.path);
        EXPECT_STREQ(c.ext, ext) << c.path;
        EXPECT_TRUE(ext >= c.path && ext <= c.path + wcslen(c.path));
    }
}

TEST(PathHelpers, GetRelativeSubPath)
{
    struct Case
    {
        const wchar_t* path;
        const wchar_t* base;
        const wchar_t* rest;
    } cases[] = {
        {L"C:\\Data\\x\\y.nv2", L"c:\\data\\", L"x\\y.nv2"},
        {L"C:\\Data\\x\\y.nv2", L"C:\\Dat", L""},
        {L"C:\\Data\\x\\y.nv2", L"C:\\Data\\\\", L"x\\y.nv2"},
        {L"C:\\Data\\x", L"C:\\Data", L"x"},
        {L"C:\\Data", L"C:\\Data", L""},
        {L"C:\\Data\\", L"C:\\Data", L""},
        {L"C:\\Datax\\y", L"C:\\Data", L""},
        {L"D:\\Data\\x", L"C:\\Data", L""},
        {L"C:\\Data\\x", L"C:\\Data\\x\\y", L""},
    };
    for (const Case& c : cases)
    {
        const wchar_t* rest = GetRelativeSubPath(c.path, c.base);
        EXPECT_STREQ(c.rest, rest) << c.path << " / " << c.base;
        EXPECT_TRUE(rest >= c.path && rest <= c.path + wcslen(c.path));
    }
}

TEST(PathHelpers, GetDriveAndDirectory)
{
    struct Case
    {
        std::wstring path;
        std::wstring out;
    } cases[] = {
        {L"C:\\dir\\sub\\file.txt", L"C:\\dir\\sub\\"},
        {L"file.txt", L""},
        {L"C:file", L"C:"},
        {L"C:\\f", L"C:\\"},
        {L"\\\\server\\share\\f", L"\\\\server\\share\\"},
        {L"dir/x.txt", L"dir/"},
        {L"C:\\dir\\", L"C:\\dir\\"},
        {L"C:\\" + std::wstring(253, L'd') + L"\\f", L"C:\\" + std::wstring(253, L'd') + L"\\"},
        {L"C:\\" + std::wstring(254, L'd') + L"\\f", L""},  // directory part beyond 255
    };
    for (const Case& c : cases)
    {
        std::wstring out = L"stale";
        GetDriveAndDirectory(c.path.c_str(), out);
        EXPECT_EQ(c.out, out) << c.path;
    }
}

TEST(PathHelpers, StripFileName)
{
    struct Case
    {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"C:\\dir\\file", L"C:\\dir"}, {L"C:file", L"C:"}, {L"C:\\file", L"C:"}, {L"file", L"file"},
        {L"dir\\", L"dir"},             {L"\\", L""},       {L"", L""},           {L"a\\b:c", L"a\\b:"},
    };
    for (const Case& c : cases)
    {
        std::wstring s = c.in;
        StripFileName(s);
        EXPECT_EQ(c.out, s) << c.in;
    }
}

TEST(PathHelpers, ComparePathsByComponent)
{
    struct Case
    {
        const wchar_t* a;
        const wchar_t* b;
        bool less;
    } cases[] = {
        {L"a", L"b", true},
        {L"b", L"a", false},
        {L"A", L"a", false},
        {L"a", L"A", false},
        {L"x\\y", L"z", true},  // a folder's contents before the plain files above it
        {L"z", L"x\\y", false},
        {L"a\\x", L"ab\\x", true},
        {L"ab\\x", L"a\\x", false},
        {L"Sounds\\b.wav", L"sounds\\A.wav", false},
        {L"sounds\\A.wav", L"Sounds\\b.wav", true},
        {L"a\\b\\c", L"a\\b\\c", false},
        {L"a\\b", L"a\\b\\c", false},
        {L"a\\b\\c", L"a\\b", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.less, ComparePathsByComponent(c.a, c.b)) << c.a << " < " << c.b;

    std::vector<std::wstring> paths = {L"b.txt", L"a\\z.txt", L"A.txt", L"a\\b\\c.txt", L"c\\d.txt"};
    std::sort(paths.begin(), paths.end(),
              [](const std::wstring& x, const std::wstring& y) { return ComparePathsByComponent(x, y); });
    EXPECT_EQ((std::vector<std::wstring>{L"a\\b\\c.txt", L"a\\z.txt", L"c\\d.txt", L"A.txt", L"b.txt"}), paths);
}

TEST(PathHelpers, ExpandEnvStrings)
{
    SetEnvironmentVariableW(L"NV_TEST_SHORT", L"val");
    std::wstring longValue(700, L'L');
    SetEnvironmentVariableW(L"NV_TEST_LONG", longValue.c_str());
    std::wstring out;
    EXPECT_TRUE(ExpandEnvStrings(L"%NV_TEST_SHORT%\\y", out));
    EXPECT_EQ(L"val\\y", out);
    EXPECT_TRUE(ExpandEnvStrings(L"<%NV_TEST_LONG%>", out));
    EXPECT_EQ(L"<" + longValue + L">", out);
    EXPECT_TRUE(ExpandEnvStrings(L"%NV_TEST_UNSET_VAR%", out));
    EXPECT_EQ(L"%NV_TEST_UNSET_VAR%", out);
    EXPECT_TRUE(ExpandEnvStrings(L"", out));
    EXPECT_EQ(L"", out);
}

TEST(PathHelpers, RoamingAppData)
{
    std::wstring path;
    GetRoamingAppDataPath(path);
    ASSERT_FALSE(path.empty());
    DWORD a = GetFileAttributesW(path.c_str());
    EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) << path;
}

// Every mix of slashes in the device prefixes, before two devices that are safe to open (no
// serial line is touched): whatever this system opens as a character device must be refused.
// One way only: a name may be refused that this system does not open.
TEST(PathHelpers, EverySpellingTheSystemOpensAsADeviceIsRefused)
{
    const struct {
        const wchar_t* prefix;
        std::vector<size_t> separators;
    } prefixes[] = {
        {L"\\\\?\\", {0, 1, 3}},
        {L"\\\\.\\", {0, 1, 3}},
        {L"\\??\\", {0, 3}},
    };
    std::vector<std::wstring> opened;
    for (const auto& p : prefixes) {
        for (unsigned mask = 0; mask < (1u << p.separators.size()); ++mask) {
            std::wstring spelling = p.prefix;
            for (size_t i = 0; i < p.separators.size(); ++i)
                if (mask & (1u << i))
                    spelling[p.separators[i]] = L'/';
            for (const wchar_t* device : {L"NUL", L"GLOBALROOT\\Device\\Null"}) {
                const std::wstring name = spelling + device;
                HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
                if (h == INVALID_HANDLE_VALUE)
                    continue;
                const DWORD type = GetFileType(h);
                CloseHandle(h);
                if (type != FILE_TYPE_CHAR)
                    continue;
                opened.push_back(name);
                EXPECT_TRUE(IsReservedDeviceName(name)) << name;
            }
        }
    }
    // The check has something to judge: the plain spellings open the null device.
    for (const wchar_t* plain : {L"\\\\.\\NUL", L"\\\\?\\NUL", L"\\\\?\\GLOBALROOT\\Device\\Null"})
        EXPECT_NE(opened.end(), std::find(opened.begin(), opened.end(), plain)) << plain;
}

using Folders = FileTestFolder;

TEST_F(Folders, CreateDirectoryPath)
{
    EXPECT_TRUE(CreateDirectoryPath(Path(L"a\\b\\c\\")));
    EXPECT_TRUE(Exists(Path(L"a\\b\\c")));
    EXPECT_TRUE(CreateDirectoryPath(Path(L"a\\b\\c")));  // exists
    EXPECT_TRUE(CreateDirectoryPath(Path(L"a\\x")));
    EXPECT_TRUE(CreateDirectoryPath(L""));
    EnterFolder();
    EXPECT_TRUE(CreateDirectoryPath(L"bare"));
    EXPECT_FALSE(Exists(Path(L"bare")));
    LeaveFolder();
    Put(Path(L"file"), "x");
    EXPECT_FALSE(CreateDirectoryPath(Path(L"file\\sub")));
    EXPECT_FALSE(CreateDirectoryPath(Path(L"file")));
}

TEST_F(Folders, ListFilesByExtension)
{
    ASSERT_TRUE(CreateDirectoryPath(Path(L"sub\\deep")));
    ASSERT_TRUE(CreateDirectoryPath(Path(L"empty")));
    for (const wchar_t* n : {L"a.wav", L"b.WAV", L"c.txt", L"sub\\d.wav", L"sub\\deep\\e.mp3", L"f.wav.bak",
                             L"sub\\g", L"h.ogg"})
        Put(Path(n), "");
    const wchar_t* const sounds[3] = {L".wav", L".mp3", L".ogg"};
    std::vector<std::wstring> found;
    ListFilesByExtension(found, m_dir, sounds);
    std::sort(found.begin(), found.end());
    std::vector<std::wstring> expected = {Path(L"a.wav"), Path(L"b.WAV"), Path(L"h.ogg"), Path(L"sub\\d.wav"),
                                          Path(L"sub\\deep\\e.mp3")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, found);

    std::vector<std::wstring> all = {L"kept"};
    ListFilesByExtension(all, m_dir, nullptr);
    EXPECT_EQ(9u, all.size());  // appended to what was there
    EXPECT_EQ(L"kept", all[0]);

    std::vector<std::wstring> none;
    ListFilesByExtension(none, Path(L"no_such_folder"), sounds);
    EXPECT_TRUE(none.empty());
}

TEST_F(Folders, ListFilesByExtensionSkipsOverlongPaths)
{
    // A folder close to the limit holding one name that fits and one that does not.
    std::wstring folder = m_dir + L"\\" + std::wstring(240 - m_dir.size(), L'f');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    Put(folder + L"\\s.wav", "");
    std::wstring longName = L"\\\\?\\" + folder + L"\\" + std::wstring(30, L'l') + L".wav";
    HANDLE h = CreateFileW(longName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
    const wchar_t* const wav[3] = {L".wav", L".wav", L".wav"};
    std::vector<std::wstring> found;
    ListFilesByExtension(found, m_dir, wav);
    EXPECT_EQ(std::vector<std::wstring>{folder + L"\\s.wav"}, found);
    // A folder whose search pattern would not fit is not searched.
    found.clear();
    ListFilesByExtension(found, std::wstring(300, L'x'), wav);
    EXPECT_TRUE(found.empty());
}

TEST(FindAppPath, RegisteredProgramsUnderCurrentUser)
{
    const wchar_t* base = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(base) + L"\\NvTestTool.exe").c_str(), 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    const wchar_t value[] = L"C:\\tools\\nvtest.exe";
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(base) + L"\\NvDword.exe").c_str(), 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    DWORD number = 5;
    RegSetValueExW(key, nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    RegCloseKey(key);

    std::wstring out;
    EXPECT_TRUE(FindAppPath(L"nvtesttool.EXE", out));
    EXPECT_EQ(value, out);
    out = L"stale";
    SetLastError(0);
    EXPECT_FALSE(FindAppPath(L"NvDword.exe", out));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(FindAppPath(L"NoSuchProgram.exe", out));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(base) + L"\\NvTestTool.exe").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(base) + L"\\NvDword.exe").c_str());
}
