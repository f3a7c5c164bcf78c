// Interface languages and help: the list of language libraries, applying one (and a broken or
// missing one keeping the built-in texts), and which help file and topic the viewer is asked for.
#include <windows.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Languages.h"
#include "app/NorvaneApp.h"
#include "core/TextUtil.h"
#include "tests/app/AppTestSupport.h"

namespace {

std::wstring TestLanguageLibrary()
{
    return MultiByteToWString(std::string(NORVANE_TOOLS_DIR) + "/NorvaneTestLang.dll", CP_ACP);
}

void Touch(const std::wstring& path)
{
    WriteFileBytes(path, "not a library");
}

struct HelpCall
{
    std::wstring file;
    UINT command;
    DWORD_PTR data;
};

} // namespace

TEST(Languages, LibrariesAreListedAfterTheBuiltInEntry)
{
    CTempFolder folder;
    EXPECT_EQ(FindLanguages(folder.Path()).size(), 1u);  // no "Languages" folder
    ASSERT_TRUE(CreateDirectoryW(folder.File(L"Languages").c_str(), nullptr));
    const std::vector<LanguageInfo> none = FindLanguages(folder.Path());
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].name, L"<internal>");
    EXPECT_EQ(none[0].value, 1033u);

    ASSERT_TRUE(CopyFileW(TestLanguageLibrary().c_str(), folder.File(L"Languages\\DE-DE.dll").c_str(), FALSE));
    Touch(folder.File(L"Languages\\zz-bogus.dll"));
    const std::vector<LanguageInfo> found = FindLanguages(folder.Path());
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[1].name, L"de-de");
    EXPECT_EQ(found[1].value, 0x0407u);
    EXPECT_EQ(found[1].text.rfind(L"German", 0), 0u) << found[1].text;
    EXPECT_EQ(found[2].name, L"zz-bogus");
    EXPECT_EQ(found[2].value, 0u);
    EXPECT_EQ(found[2].text, L"zz-bogus");

    HMODULE good = LoadLanguageModule(folder.Path(), L"de-de");
    EXPECT_NE(good, nullptr);
    if (good)
        FreeLibrary(good);
    EXPECT_EQ(LoadLanguageModule(folder.Path(), L"zz-bogus"), nullptr);
    EXPECT_EQ(LoadLanguageModule(folder.Path(), L"fr-fr"), nullptr);
}

TEST(Languages, HelpFileOfTheLanguageElseTheRussianOne)
{
    CTempFolder folder;
    const std::wstring help = folder.File(L"Help");
    EXPECT_EQ(FindHelpFile(folder.Path(), L"DEU"), L"");
    ASSERT_TRUE(CreateDirectoryW(help.c_str(), nullptr));
    Touch(help + L"\\Norvane_RUS.chm");
    EXPECT_EQ(FindHelpFile(folder.Path(), L"DEU"), help + L"\\Norvane_RUS.chm");
    Touch(help + L"\\Norvane_DEU.chm");
    EXPECT_EQ(FindHelpFile(folder.Path(), L"DEU"), help + L"\\Norvane_DEU.chm");
    // A folder of that name is no help file.
    ASSERT_TRUE(CreateDirectoryW((help + L"\\Norvane_ENU.chm").c_str(), nullptr));
    EXPECT_EQ(FindHelpFile(folder.Path(), L"ENU"), help + L"\\Norvane_RUS.chm");
}

using LanguageAppTest = AppTest;

TEST_F(LanguageAppTest, ChosenLibraryIsAppliedAndABrokenOneKeepsTheBuiltInTexts)
{
    ASSERT_TRUE(CreateDirectoryW(m_folder.File(L"Languages").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(TestLanguageLibrary().c_str(), m_folder.File(L"Languages\\de-de.dll").c_str(), FALSE));
    Touch(m_folder.File(L"Languages\\zz-bogus.dll"));
    ASSERT_EQ(Start(), 0);
    CNorvaneApp& app = App();
    ASSERT_EQ(app.GetSettings().languages.size(), 3u);
    EXPECT_TRUE(app.GetSettings().GetTransferDoc().IsInterfaceLanguageApplied());

    app.GetSettings().SetLanguage(L"de-de");
    EXPECT_EQ(app.AppliedLanguage(), 1);
    EXPECT_NE(app.LanguageModule(), nullptr);
    EXPECT_EQ(GetResourceModule(), app.LanguageModule());

    app.GetSettings().SetLanguage(L"zz-bogus");
    EXPECT_EQ(app.AppliedLanguage(), 0);
    EXPECT_EQ(app.LanguageModule(), nullptr);
    EXPECT_EQ(GetResourceModule(), GetProgramModule());

    // The library removed: the setting falls back and the built-in texts stay.
    ASSERT_TRUE(DeleteFileW(m_folder.File(L"Languages\\de-de.dll").c_str()));
    app.GetSettings().SetLanguage(L"de-de");
    EXPECT_EQ(app.LanguageModule(), nullptr);
    EXPECT_EQ(GetResourceModule(), GetProgramModule());
    ShutDown();
}

TEST_F(LanguageAppTest, HelpAsksTheViewerForTheTopicOfTheFileFound)
{
    std::vector<HelpCall> calls;
    m_system.showHtmlHelp = [&](HWND, const wchar_t* file, UINT command, DWORD_PTR data) {
        calls.push_back({file ? file : L"", command, data});
        return HWND{};
    };
    ASSERT_EQ(Start(), 0);
    CNorvaneApp& app = App();
    EXPECT_FALSE(app.ShowHelp(952));  // no help file at all
    EXPECT_TRUE(calls.empty());

    const std::wstring help = m_folder.File(L"Help");
    ASSERT_TRUE(CreateDirectoryW(help.c_str(), nullptr));
    Touch(help + L"\\Norvane_RUS.chm");
    EXPECT_TRUE(app.ShowHelp(952));
    EXPECT_TRUE(app.ShowHelp(0));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].file, help + L"\\Norvane_RUS.chm");
    EXPECT_EQ(calls[0].command, 0x000Fu);  // HH_HELP_CONTEXT
    EXPECT_EQ(calls[0].data, static_cast<DWORD_PTR>(0x20000 + 952));
    EXPECT_EQ(calls[1].command, 0x0000u);  // HH_DISPLAY_TOPIC

    // Another file closes the windows of the one shown before.
    wchar_t abbreviation[16] = {};
    GetLocaleInfoW(MAKELCID(GetThreadUILanguage(), SORT_DEFAULT), LOCALE_SABBREVLANGNAME, abbreviation, 16);
    Touch(help + L"\\Norvane_" + abbreviation + L".chm");
    calls.clear();
    EXPECT_TRUE(app.ShowHelp(905));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].command, 0x0012u);  // HH_CLOSE_ALL
    EXPECT_EQ(calls[1].file, help + L"\\Norvane_" + abbreviation + L".chm");
    EXPECT_EQ(calls[1].data, static_cast<DWORD_PTR>(0x20000 + 905));
    // The main window's end closes the help windows.
    calls.clear();
    ShutDown();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].command, 0x0012u);  // HH_CLOSE_ALL
}

TEST_F(LanguageAppTest, SwitchRebuildsTheMainWindowWhereItWasAndTheTransferGoesOn)
{
    ASSERT_TRUE(CreateDirectoryW(m_folder.File(L"Languages").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(TestLanguageLibrary().c_str(), m_folder.File(L"Languages\\de-de.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TestLanguageLibrary().c_str(), m_folder.File(L"Languages\\fr-fr.dll").c_str(), FALSE));
    ASSERT_EQ(Start(), 0);
    CNorvaneApp& app = App();
    app.GetSettings().GetTransferDoc().SetSource(L"List of keys", SOURCE_KEYLIST);
    ASSERT_TRUE(app.StartTransfer(false));
    HWND before = app.GetMainFrameWindow();
    MoveWindow(before, 40, 50, 760, 650, TRUE);
    RECT placed;
    GetWindowRect(before, &placed);

    const struct {
        const wchar_t* language;
        bool rebuilt;
        const wchar_t* text602;
    } cases[] = {
        {L"de-de", true, L"Missing: %s (test language)."},
        {L"de-de", false, L"Missing: %s (test language)."},  // the one applied: nothing happens
        {L"fr-fr", true, L"Missing: %s (test language)."},
        {L"<internal>", true, nullptr},
    };
    for (const auto& c : cases) {
        HMODULE previous = app.LanguageModule();
        app.GetSettings().SetLanguage(c.language);
        HWND after = app.GetMainFrameWindow();
        ASSERT_TRUE(IsWindow(after)) << c.language;
        EXPECT_EQ(c.rebuilt, after != before) << c.language;
        RECT now;
        GetWindowRect(after, &now);
        EXPECT_TRUE(EqualRect(&placed, &now)) << c.language;
        EXPECT_TRUE(app.GetSettings().IsTransferEnabled()) << c.language;
        MSG quit;
        EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << c.language;
        std::wstring text;
        LoadResString(602, text);
        if (c.text602)
            EXPECT_EQ(c.text602, text) << c.language;
        else
            EXPECT_NE(L"Missing: %s (test language).", text);
        // The library a switch replaced is freed once the new window stands.
        if (c.rebuilt && previous) {
            wchar_t name[MAX_PATH];
            EXPECT_EQ(0u, GetModuleFileNameW(previous, name, MAX_PATH)) << c.language;
        }
        before = after;
    }
    app.StopTransfer();
    ShutDown();
}

TEST_F(LanguageAppTest, FirstStartMergesTheBuiltInPresetsAndTheFileKeepsTheirVersion)
{
    ASSERT_FALSE(FileExists(SettingsPath()));
    ASSERT_EQ(Start(), 0);
    const CTransferDoc& doc = App().GetSettings().GetTransferDoc();
    EXPECT_FALSE(doc.GetFormats().empty());
    EXPECT_FALSE(doc.GetKeyFilters().empty());
    EXPECT_EQ(kPresetsVersion, doc.presetsVersion);
    App().GetSettings().Save(true, true);
    const std::string text = ReadFileBytes(SettingsPath());
    const size_t presets = text.find("\"presets\"");
    ASSERT_NE(std::string::npos, presets) << text;
    const size_t version = text.find("\"version\"", presets);
    ASSERT_NE(std::string::npos, version);
    const size_t value = text.find_first_of("0123456789", version);
    EXPECT_EQ(0u, text.compare(value, 2, "26")) << text.substr(presets, 80);
    ShutDown();
}
