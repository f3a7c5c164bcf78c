#include "app/Languages.h"

#include <algorithm>
#include <cwctype>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/ShellServices.h"
#include "app/StartUp.h"
#include "core/AppLog.h"
#include "core/SysUtil.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"

namespace {

constexpr LANGID kBuiltInLanguage = 1033;
constexpr UINT kHelpContextBase = 0x20000;
// HtmlHelpW commands.
constexpr UINT kHhDisplayTopic = 0x0000;
constexpr UINT kHhHelpContext = 0x000F;
constexpr UINT kHhCloseAll = 0x0012;

std::wstring LocaleText(LCID id, LCTYPE type, int room)
{
    std::wstring text(room, L'\0');
    const int n = GetLocaleInfoW(id, type, text.data(), room);
    text.resize(n > 0 ? n - 1 : 0);
    return text;
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ProgramFolder()
{
    std::wstring folder = GetProgramFolderOf(SystemServices().ProgramPath());
    if (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    return folder;
}

} // namespace

std::vector<LanguageInfo> FindLanguages(const std::wstring& programFolder)
{
    std::vector<LanguageInfo> languages;
    languages.push_back({L"<internal>", LocaleText(kBuiltInLanguage, LOCALE_SNATIVELANGNAME, 86), kBuiltInLanguage});

    const std::wstring pattern = programFolder + L"\\Languages\\*.dll";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            std::wstring name = found.cFileName;
            if (name.size() <= 4)
                continue;
            name.resize(name.size() - 4);
            LanguageInfo language;
            language.value = LANGIDFROMLCID(LocaleNameToLCID(name.c_str(), 0));
            language.text = name;
            if (language.value != 0) {
                const std::wstring english = LocaleText(language.value, LOCALE_SENGLISHLANGUAGENAME, 86);
                const std::wstring native = LocaleText(language.value, LOCALE_SNATIVELANGNAME, 86);
                if (!english.empty())
                    language.text = english;
                if (!native.empty())
                    language.text += L" (" + native + L")";
            }
            for (wchar_t& c : name)
                c = static_cast<wchar_t>(std::towlower(c));
            language.name = name;
            languages.push_back(std::move(language));
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(languages.begin() + 1, languages.end(),
              [](const LanguageInfo& a, const LanguageInfo& b) { return a.text < b.text; });
    return languages;
}

HMODULE LoadLanguageModule(const std::wstring& programFolder, const std::wstring& name)
{
    const std::wstring path = programFolder + L"\\Languages\\" + name + L".dll";
    if (!IsFile(path))
        return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

std::wstring FindHelpFile(const std::wstring& programFolder, const std::wstring& abbreviation)
{
    for (const std::wstring& abbr : {abbreviation, std::wstring(L"RUS")}) {
        const std::wstring path = programFolder + L"\\Help\\Norvane_" + abbr + L".chm";
        if (IsFile(path))
            return path;
    }
    return {};
}

void CNorvaneApp::ListLanguages()
{
    *settings.EditLanguages() = FindLanguages(ProgramFolder());
}

void CNorvaneApp::ApplyLanguage()
{
    const std::vector<LanguageInfo>& languages = settings.languages;
    const std::wstring& setting = settings.GetLanguage();
    CTransferDoc& doc = settings.GetTransferDoc();
    const bool appliedBefore = doc.IsInterfaceLanguageApplied();
    const uint32_t systemLanguage = LANGIDFROMLCID(GetSystemDefaultLCID());
    auto systemIndex = [&] {
        for (size_t i = 0; i < languages.size(); ++i)
            if (languages[i].value == systemLanguage)
                return static_cast<int>(i);
        return 0;
    };

    int index = 0;
    if (setting.empty())
        index = systemIndex();
    else if (_wcsicmp(setting.c_str(), L"<internal>") != 0) {
        index = settings.FindLanguage(setting);
        if (index < 0)
            index = systemIndex();
    }
    // Choosing what is applied changes nothing.
    if (appliedBefore && index == appliedLanguage)
        return;

    // The library of the choice; a missing or broken one leaves the built-in texts.
    HMODULE module = nullptr;
    int applied = 0;
    if (index > 0 && static_cast<size_t>(index) < languages.size()) {
        module = LoadLanguageModule(ProgramFolder(), languages[index].name);
        if (module)
            applied = index;
        else
            LogMessage(this, nullptr, LOG_WARNING, L"Language library \"%s\" could not be loaded; the built-in texts stay",
                       languages[index].name.c_str());
    }

    // The main window is made again from the new texts, where it was; when the texts stay the
    // ones it shows, it stays too.
    const bool rebuild = mainFrame && mainFrame->m_hWnd && !(appliedBefore && applied == appliedLanguage);
    bool wasVisible = false;
    if (rebuild) {
        CMainFrame& frame = *mainFrame;
        wasVisible = IsWindowVisible(frame.m_hWnd) != FALSE;
        ExchangeWindowPlacement(true, frame.m_hWnd, kPlacementMainWindow, kShowStateMainWindow);
        frame.StorePageEdits();
        recreatingMainWindow = true;
        frame.Destroy();
        retiredFrame = std::move(mainFrame);
        m_pMainWnd = nullptr;
    }

    // The replaced library is freed only once nothing reads from it.
    HMODULE previous = languageModule;
    SetResourceModule(module ? module : GetProgramModule());
    languageModule = module;
    appliedLanguage = applied;
    keyTypeNamesLoaded = false;
    keyTypeNames = {};
    if (applied > 0 && languages[applied].value != 0)
        SetThreadLanguage(static_cast<LANGID>(languages[applied].value), false);
    if (appliedLanguage == 0)
        SetThreadLanguage(kBuiltInLanguage, false);

    // The built-in presets are no edit of the user's: they come again at every start.
    const bool unsaved = doc.IsUnsaved();
    doc.SetInterfaceLanguageApplied(true);
    doc.LoadPresets(doc.GetKeyFilters().empty());
    if (!unsaved && doc.IsUnsaved())
        doc.SetUnsaved(false);

    if (rebuild) {
        const bool created = CreateMainWindow();
        recreatingMainWindow = false;
        if (created) {
            HWND window = GetMainFrameWindow();
            ExchangeWindowPlacement(false, window, kPlacementMainWindow, kShowStateMainWindow);
            if (!wasVisible && IsWindowVisible(window))
                ShowWindow(window, SW_HIDE);
        }
    }
    // Nothing holds a text of the replaced library any more.
    if (previous)
        FreeLibrary(previous);
}

bool CNorvaneApp::ShowHelp(int helpId)
{
    LANGID language = LANGIDFROMLCID(GetThreadLocale());
    using GetThreadUILanguageFn = LANGID(WINAPI*)();
    if (HMODULE kernel = GetModuleHandleW(L"Kernel32.dll"))
        if (auto uiLanguage = reinterpret_cast<GetThreadUILanguageFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetThreadUILanguage"))))
            language = uiLanguage();
    const std::wstring abbreviation = LocaleText(MAKELCID(language, SORT_DEFAULT), LOCALE_SABBREVLANGNAME, 16);
    const std::wstring folder = ProgramFolder();
    const std::wstring file = FindHelpFile(folder, abbreviation);
    if (file.empty()) {
        LogMessage(this, nullptr, LOG_WARNING, L"No help file %s\\Help\\Norvane_%s.chm", folder.c_str(),
                   abbreviation.c_str());
        return false;
    }
    ISystemServices& system = SystemServices();
    const HWND owner = GetMainFrameWindow();
    if (!helpFile.empty() && helpFile != file)
        system.ShowHtmlHelp(owner, nullptr, kHhCloseAll, 0);
    helpFile = file;
    if (helpId == 0)
        system.ShowHtmlHelp(owner, file.c_str(), kHhDisplayTopic, 0);
    else
        system.ShowHtmlHelp(owner, file.c_str(), kHhHelpContext, kHelpContextBase + helpId);
    return true;
}

void CNorvaneApp::CloseHelp()
{
    if (helpFile.empty())
        return;
    SystemServices().ShowHtmlHelp(nullptr, nullptr, kHhCloseAll, 0);
    helpFile.clear();
}
