#include <gtest/gtest.h>
#include <windows.h>
#include <fstream>

#include "app/StartUp.h"
#include "tests/support/TempFolder.h"

namespace {

void WriteFile(const std::wstring& path, const char* text = "{}")
{
    std::ofstream(path.c_str(), std::ios::binary) << text;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

TEST(DataFolder, ProgramFolderKeepsOneTrailingBackslash)
{
    struct {
        const wchar_t* path;
        const wchar_t* folder;
    } cases[] = {{L"C:\\Program Files\\Norvane\\Norvane.exe", L"C:\\Program Files\\Norvane\\"},
                 {L"C:\\Norvane.exe", L"C:\\"},
                 {L"C:Norvane.exe", L"C:\\"},
                 {L"\\\\server\\share\\n.exe", L"\\\\server\\share\\"},
                 {L"Norvane.exe", L""}};
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(c.folder), GetProgramFolderOf(c.path)) << c.path;
}

TEST(DataFolder, PortableMarkers)
{
    struct {
        const char* what;
        void (*make)(const std::wstring& folder);
        bool portable;
    } cases[] = {
        {"nothing", [](const std::wstring&) {}, false},
        {"settings file", [](const std::wstring& f) { WriteFile(f + L"Norvane.json"); }, true},
        {"settings folder", [](const std::wstring& f) { CreateDirectoryW((f + L"Norvane.json").c_str(), nullptr); },
         false},
        {"marker alone", [](const std::wstring& f) { WriteFile(f + L"portable_mode_enabled", ""); }, true},
        {"marker folder",
         [](const std::wstring& f) { CreateDirectoryW((f + L"portable_mode_enabled").c_str(), nullptr); }, false},
        {"other json", [](const std::wstring& f) { WriteFile(f + L"Norvane.json.bak"); }, false},
    };
    for (const auto& c : cases) {
        CTempFolder program;
        const std::wstring folder = program.Path() + L"\\";
        c.make(folder);
        EXPECT_EQ(c.portable, IsPortableFolder(folder)) << c.what;

        CTempFolder roaming;
        std::wstring data;
        bool portable = !c.portable;
        ASSERT_TRUE(ChooseDataFolder(folder + L"Norvane.exe", roaming.Path(), nullptr, data, portable)) << c.what;
        EXPECT_EQ(c.portable, portable) << c.what;
        EXPECT_EQ(c.portable ? program.Path() : roaming.Path() + L"\\Quillmark\\Norvane", data) << c.what;
        EXPECT_EQ(!c.portable, IsFolder(roaming.Path() + L"\\Quillmark\\Norvane")) << c.what;
    }
}

TEST(DataFolder, OldFolderIsMovedWithItsFiles)
{
    CTempFolder program, roaming;
    const std::wstring old = roaming.Path() + L"\\Tarnwell\\Norvane2";
    ASSERT_TRUE(CreateDirectoryW((roaming.Path() + L"\\Tarnwell").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(old.c_str(), nullptr));
    WriteFile(old + L"\\Norvane.json", "{\"info\":1}");
    std::wstring data;
    bool portable = true;
    ASSERT_TRUE(ChooseDataFolder(program.File(L"Norvane.exe"), roaming.Path(), nullptr, data, portable));
    EXPECT_FALSE(portable);
    EXPECT_EQ(roaming.Path() + L"\\Quillmark\\Norvane", data);
    EXPECT_FALSE(IsFolder(old));
    std::ifstream moved((data + L"\\Norvane.json").c_str(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(moved)), std::istreambuf_iterator<char>());
    EXPECT_EQ("{\"info\":1}", text);
}

TEST(DataFolder, ExistingNewFolderWinsOverTheOldOne)
{
    CTempFolder program, roaming;
    const std::wstring old = roaming.Path() + L"\\Tarnwell\\Norvane2";
    const std::wstring now = roaming.Path() + L"\\Quillmark\\Norvane";
    ASSERT_TRUE(CreateDirectoryW((roaming.Path() + L"\\Tarnwell").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(old.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((roaming.Path() + L"\\Quillmark").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(now.c_str(), nullptr));
    std::wstring data;
    bool portable = false;
    ASSERT_TRUE(ChooseDataFolder(program.File(L"Norvane.exe"), roaming.Path(), nullptr, data, portable));
    EXPECT_EQ(now, data);
    EXPECT_TRUE(IsFolder(old)) << "the old folder is left alone";
}

TEST(DataFolder, NoRoamingFolderOrNoWayToCreateOneFails)
{
    CTempFolder program, roaming;
    std::wstring data;
    bool portable = true;
    EXPECT_FALSE(ChooseDataFolder(program.File(L"Norvane.exe"), L"", nullptr, data, portable));
    EXPECT_FALSE(portable);
    // A file stands where the folder must go.
    WriteFile(roaming.File(L"Quillmark"), "x");
    EXPECT_FALSE(ChooseDataFolder(program.File(L"Norvane.exe"), roaming.Path(), nullptr, data, portable));
}
