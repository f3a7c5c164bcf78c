#pragma once
// Shared pieces of the settings document tests: a settings document over a temporary data
// folder, file helpers and an observer that records what it is told.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/TempFolder.h"
#include "config/AppSettings.h"
#include "core/File.h"
#include "core/TextUtil.h"

namespace settings_test {

inline std::string ReadBytes(const std::wstring& path)
{
    CFile f;
    if (!f.Open(path.c_str(), CFile::modeRead | CFile::shareRead))
        return "<missing>";
    std::string data(static_cast<size_t>(f.GetLength()), '\0');
    if (!data.empty())
        f.Read(data.data(), static_cast<UINT>(data.size()));
    return data;
}

inline void WriteBytes(const std::wstring& path, const std::string& data)
{
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    if (!data.empty())
        f.Write(data.data(), static_cast<UINT>(data.size()));
}

inline std::vector<std::wstring> Keys(const JsonValue* v)
{
    std::vector<std::wstring> keys;
    if (const JsonObject* o = v != nullptr ? v->ObjectPtr() : nullptr)
        for (size_t i = 0; i < o->Count(); ++i)
            keys.push_back(o->At(i).key);
    return keys;
}

// The build passes a Unix path, which Wine reaches through drive Z:.
inline std::wstring GoldenPath(const wchar_t* name)
{
    std::wstring path = MultiByteToWString(std::string(NORVANE_TEST_DATA), CP_UTF8);
    if (!path.empty() && path[0] == L'/')
        path = L"Z:" + path;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path + L"\\" + name;
}

// A settings file: the header of the given version, then the members given as JSON text.
inline std::string SettingsText(const std::string& members, const char* version = "1.6")
{
    std::string text = std::string("{\"info\": {\"name\": \"Norvane\", \"version\": \"") + version + "\"}";
    if (!members.empty())
        text += ", " + members;
    return text + "}";
}

// Records every delivery of one document.
struct Recorder
{
    int calls = 0;
    uint32_t word1 = 0;
    AppSettingsDetails details;  // OR over the deliveries
    std::vector<uint32_t> words;

    static void Callback(void* key, CDocument* doc, const uint32_t* bits)
    {
        Recorder& r = *static_cast<Recorder*>(key);
        ++r.calls;
        r.word1 |= bits[0];
        r.words.push_back(bits[0]);
        if (auto* settings = dynamic_cast<CAppSettings*>(doc)) {
            r.details.state |= settings->GetDetails().state;
            r.details.ui |= settings->GetDetails().ui;
            r.details.page |= settings->GetDetails().page;
        }
    }
    void Reset() { *this = Recorder(); }
};

class SettingsFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings.SetDataFolder(dir.Path(), false);
        observer = settings.AddObserver(&recorder, &Recorder::Callback);
    }
    void TearDown() override { settings.RemoveObserver(observer); }

    const std::wstring& SettingsPath() const { return settings.GetSettingsPath(); }
    void WriteSettings(const std::string& members, const char* version = "1.6")
    {
        WriteBytes(SettingsPath(), SettingsText(members, version));
    }
    // Loads a file of the given members into the fresh document.
    void LoadMembers(const std::string& members, const char* version = "1.6")
    {
        WriteSettings(members, version);
        settings.Load(true, true);
    }

    CTempFolder dir;
    CAppSettings settings;
    Recorder recorder;
    int observer = -1;
};

}  // namespace settings_test
