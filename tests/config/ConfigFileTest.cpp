#include "config/ConfigFile.h"

#include "core/Exceptions.h"
#include "core/File.h"
#include "tests/support/FakeSystemServices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string ReadBytes(const std::wstring& path)
{
    CFile f;
    if (!f.Open(path.c_str(), CFile::modeRead | CFile::shareRead))
        return "<missing>";
    std::string data(static_cast<size_t>(f.GetLength()), '\0');
    if (!data.empty())
        f.Read(data.data(), static_cast<UINT>(data.size()));
    return data;
}

void WriteBytes(const std::wstring& path, const std::string& data)
{
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    if (!data.empty())
        f.Write(data.data(), static_cast<UINT>(data.size()));
}

std::vector<std::wstring> Keys(const JsonValue& v)
{
    std::vector<std::wstring> keys;
    if (const JsonObject* o = v.ObjectPtr())
        for (size_t i = 0; i < o->Count(); ++i)
            keys.push_back(o->At(i).key);
    return keys;
}

const std::string kBom = "\xEF\xBB\xBF";
const std::string kHeaderText = "{\r\n\t\"info\": {\r\n\t\t\"name\": \"Norvane\",\r\n\t\t\"version\": \"1.6\"\r\n\t}";

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir = std::wstring(temp) + L"nv_cfg_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir.c_str(), nullptr);
        path = dir + L"\\Norvane.json";
    }
    void TearDown() override
    {
        DeleteFileW(path.c_str());
        DeleteFileW((path + L".bad").c_str());
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring dir, path;
};

TEST_F(ConfigFileTest, FreshFileIsBomAndHeader)
{
    CAppCfgFile file(path);
    EXPECT_EQ(file.GetVersion(), 0u);
    EXPECT_TRUE(file.IsPretty());
    EXPECT_TRUE(file.PrepareSave());     // no file: only the caller's parts
    EXPECT_TRUE(file.IsModified());
    EXPECT_EQ(file.GetVersion(), 0x0601u);
    file.Save();
    EXPECT_FALSE(file.IsModified());
    EXPECT_EQ(ReadBytes(path), kBom + kHeaderText + "\r\n}\r\n");
}

TEST_F(ConfigFileTest, HeaderVersionTable)
{
    const struct { const char* root; PackedVersion version; bool readable; bool current; } cases[] = {
        {R"({"info": {"name": "Norvane", "version": "1.6"}})", 0x0601, true, true},
        {R"({"info": {"name": "Norvane", "version": "1.6.0"}})", 0x0601, true, true},
        {R"({"info": {"name": "Norvane", "version": "1.6 beta"}})", 0x0601, true, true},
        {R"({"info": {"name": "Norvane", "version": "1.9"}})", 0x0901, true, false},
        {R"({"info": {"name": "Norvane", "version": "1.5"}})", 0x0501, true, false},
        {R"({"info": {"name": "Norvane", "version": "1"}})", 0x0001, true, false},
        {R"({"info": {"name": "Norvane", "version": "2.0"}})", 0x0002, false, false},
        {R"({"info": {"name": "Norvane", "version": "300"}})", (300u << 8) | 0xFF, false, false},
        {R"({"info": {"name": "Norvane", "version": "v1.6"}})", 0, false, false},
        {R"({"info": {"name": "Norvane", "version": ""}})", 0, false, false},
        {R"({"info": {"name": "Norvane", "version": 1.6}})", 0, false, false},
        {R"({"info": {"name": "Norvane"}})", 0, false, false},
        {R"({"info": {"name": "norvane", "version": "1.6"}})", 0, false, false},
        {R"({"info": {"name": "Norvane ", "version": "1.6"}})", 0, false, false},
        {R"({"info": {"name": 7, "version": "1.6"}})", 0, false, false},
        {R"({"info": {"version": "1.6"}})", 0, false, false},
        {R"({"info": "Norvane 1.6"})", 0, false, false},
        {R"({"main": {}})", 0, false, false},
        {R"([{"info": {"name": "Norvane", "version": "1.6"}}])", 0, false, false},
        {R"({"main": {}, "info": {"version": "1.6", "name": "Norvane"}})", 0x0601, true, true},
    };
    for (const auto& c : cases) {
        WriteBytes(path, c.root);
        CAppCfgFile file(path);
        file.SetModified();
        file.Load();
        EXPECT_EQ(file.GetVersion(), c.version) << c.root;
        EXPECT_EQ(file.IsReadable(), c.readable) << c.root;
        EXPECT_EQ(file.IsCurrentVersion(), c.current) << c.root;
        EXPECT_FALSE(file.IsModified());
        EXPECT_FALSE(file.IsDamaged());
    }
}

TEST_F(ConfigFileTest, SavingIntoCurrentFileKeepsUnknownMembersInPlace)
{
    WriteBytes(path, kBom + R"({"info": {"name": "Norvane", "version": "1.6"},
        "zeta": {"keep": [1, 2]}, "main": {"x": 1, "y": 2}, "tail": "t"})");
    CAppCfgFile file(path);
    ASSERT_TRUE(file.PrepareSave());
    JsonValue& main = file.WriteObject(file.Root, L"main");
    file.WriteInt64(main, L"x", 5);
    file.WriteString(main, L"z", L"new");
    file.Save();

    CAppCfgFile back(path);
    back.Load();
    EXPECT_TRUE(back.IsCurrentVersion());
    EXPECT_EQ(Keys(back.Root), (std::vector<std::wstring>{L"info", L"zeta", L"main", L"tail"}));
    const JsonValue* m = CConfigFile::FindObject(back.Root, L"main");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(Keys(*m), (std::vector<std::wstring>{L"x", L"y", L"z"}));
    int64_t x = 0;
    EXPECT_TRUE(m->GetInt64(L"x", x));
    EXPECT_EQ(x, 5);
    ASSERT_NE(CConfigFile::FindObject(back.Root, L"zeta"), nullptr);
    EXPECT_EQ(CConfigFile::FindObject(back.Root, L"tail"), nullptr);   // not an object
}

TEST_F(ConfigFileTest, SavingIntoOtherVersionsRewritesWhole)
{
    const char* roots[] = {
        R"({"info": {"name": "Norvane", "version": "1.5"}, "zeta": 1, "main": {"y": 2}})",
        R"({"info": {"name": "Norvane", "version": "1.9"}, "zeta": 1})",
        R"({"info": {"name": "Norvane", "version": "2.0"}, "zeta": 1})",
        R"({"info": "x", "zeta": 1})",
        R"({"zeta": 1})",
        R"(["zeta"])",
    };
    for (const char* root : roots) {
        WriteBytes(path, root);
        CAppCfgFile file(path);
        EXPECT_FALSE(file.PrepareSave()) << root;   // every part is to be written
        EXPECT_EQ(Keys(file.Root), (std::vector<std::wstring>{L"info"})) << root;
        file.WriteInt64(file.WriteObject(file.Root, L"main"), L"x", 1);
        file.Save();
        EXPECT_EQ(ReadBytes(path), kBom + kHeaderText + ",\r\n\t\"main\": {\r\n\t\t\"x\": 1\r\n\t}\r\n}\r\n") << root;
    }
}

TEST_F(ConfigFileTest, WholeRewriteSkipsLoading)
{
    WriteBytes(path, R"({"info": {"name": "Norvane", "version": "1.6"}, "zeta": 1})");
    CAppCfgFile file(path);
    EXPECT_TRUE(file.PrepareSave(true));
    EXPECT_EQ(Keys(file.Root), (std::vector<std::wstring>{L"info"}));
    file.Save();
    EXPECT_EQ(ReadBytes(path), kBom + kHeaderText + "\r\n}\r\n");
}

TEST_F(ConfigFileTest, BrokenFileIsKeptAsideAndNotRead)
{
    const std::string broken[] = {
        kBom + R"({"info": {"name": "Norvane", "version": "1.6"}, "main": {"a": 1)",   // cut short
        R"({"info": {"name": "Norvane", "version": "1.6"}, "main": {"a": 1,}})",       // syntax
        "",                                                                            // empty
        kBom,
    };
    for (const std::string& text : broken) {
        DeleteFileW((path + L".bad").c_str());
        WriteBytes(path, text);
        CAppCfgFile file(path);
        file.Load();
        EXPECT_TRUE(file.IsDamaged());
        EXPECT_EQ(file.GetVersion(), 0u);
        EXPECT_FALSE(file.IsReadable());
        EXPECT_TRUE(file.Root.IsNull());
        EXPECT_EQ(file.GetDamagedCopyPath(), path + L".bad");
        EXPECT_EQ(ReadBytes(path + L".bad"), text);
        EXPECT_EQ(ReadBytes(path), text);            // the original stays until a save

        // The next save writes a complete file; the copy keeps the old text.
        CAppCfgFile save(path);
        EXPECT_FALSE(save.PrepareSave());
        save.WriteInt64(save.WriteObject(save.Root, L"main"), L"a", 2);
        save.Save();
        CAppCfgFile back(path);
        back.Load();
        EXPECT_FALSE(back.IsDamaged());
        EXPECT_TRUE(back.IsCurrentVersion());
        EXPECT_EQ(Keys(back.Root), (std::vector<std::wstring>{L"info", L"main"}));
        EXPECT_EQ(ReadBytes(path + L".bad"), text);
    }
}

TEST_F(ConfigFileTest, MissingFileThrows)
{
    CAppCfgFile file(path);
    try {
        file.Load();
        FAIL() << "loaded a missing file";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    }
    EXPECT_FALSE(IsExistingSettingsFile(path));
    EXPECT_FALSE(IsExistingSettingsFile(dir));   // a folder is no settings file
}

std::wstring g_hookTarget;
std::string g_seenTarget;
std::wstring g_seenTemp;

bool FailBeforeReplace(const std::wstring& tempPath, const std::wstring&)
{
    g_seenTemp = tempPath;
    g_seenTarget = ReadBytes(g_hookTarget);
    throw CFileException(CFileException::diskFull, -1, g_hookTarget);
}

TEST_F(ConfigFileTest, SaveGoesThroughTemporaryFileBeside)
{
    const std::string old = R"({"info": {"name": "Norvane", "version": "1.6"}, "main": {"a": 1}})";
    WriteBytes(path, old);
    g_hookTarget = path;
    CFakeSystemServices system;
    system.moveFileOver = &FailBeforeReplace;
    CAppCfgFile file(path);
    file.PrepareSave();
    file.WriteInt64(file.WriteObject(file.Root, L"main"), L"a", 2);
    EXPECT_THROW(file.Save(), CFileException);
    system.moveFileOver = nullptr;

    EXPECT_EQ(g_seenTarget, old);                // complete temporary, untouched target
    EXPECT_EQ(g_seenTemp.substr(0, dir.size() + 1), dir + L"\\");
    EXPECT_EQ(ReadBytes(path), old);             // a failed save leaves the old file
    EXPECT_EQ(ReadBytes(g_seenTemp), "<missing>");
    EXPECT_TRUE(file.IsModified());

    file.Save();
    CAppCfgFile back(path);
    back.Load();
    int64_t a = 0;
    EXPECT_TRUE(CConfigFile::FindObject(back.Root, L"main")->GetInt64(L"a", a));
    EXPECT_EQ(a, 2);
}

TEST_F(ConfigFileTest, WritersKeepPositionAndMarkModified)
{
    WriteBytes(path, R"({"info": {"name": "Norvane", "version": "1.6"}, "a": 1, "b": [1], "c": {"k": 1}})");
    CAppCfgFile file(path);
    file.Load();
    EXPECT_FALSE(file.IsModified());
    JsonValue& a = file.WriteObject(file.Root, L"a");     // replaces the number in place
    EXPECT_TRUE(file.IsModified());
    file.WriteBool(a, L"on", true);
    file.WriteDouble(a, L"ratio", 0.5);
    JsonArray& b = file.WriteArray(file.Root, L"b");
    EXPECT_TRUE(b.empty());
    b.push_back(JsonValue::Create(JSON_STRING));
    JsonValue& c = file.WriteObject(file.Root, L"c");     // an object stays as it is
    EXPECT_EQ(Keys(c), (std::vector<std::wstring>{L"k"}));
    file.WriteString(file.Root, L"d", L"x");
    EXPECT_EQ(Keys(file.Root), (std::vector<std::wstring>{L"info", L"a", L"b", L"c", L"d"}));
    file.StampHeader();                                   // 1.6 already: nothing changes
    EXPECT_EQ(Keys(file.Root), (std::vector<std::wstring>{L"info", L"a", L"b", L"c", L"d"}));
    file.Save();
    EXPECT_FALSE(file.IsModified());
    EXPECT_EQ(ReadBytes(path), kBom + kHeaderText +
                                   ",\r\n\t\"a\": {\r\n\t\t\"on\": true,\r\n\t\t\"ratio\": 0.5\r\n\t},"
                                   "\r\n\t\"b\": [\r\n\t\t\"\"\r\n\t],\r\n\t\"c\": {\r\n\t\t\"k\": 1\r\n\t},"
                                   "\r\n\t\"d\": \"x\"\r\n}\r\n");
}

TEST_F(ConfigFileTest, StampHeaderOnForeignRoot)
{
    WriteBytes(path, R"({"info": "old", "x": 1})");
    CAppCfgFile file(path);
    file.Load();
    file.StampHeader();
    EXPECT_TRUE(file.IsModified());
    EXPECT_EQ(Keys(file.Root), (std::vector<std::wstring>{L"info", L"x"}));
    std::wstring name, version;
    const JsonValue* info = CConfigFile::FindObject(file.Root, L"info");
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->GetString(L"name", name));
    EXPECT_TRUE(info->GetString(L"version", version));
    EXPECT_EQ(name, L"Norvane");
    EXPECT_EQ(version, L"1.6");
}

} // namespace
