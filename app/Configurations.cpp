// The configuration list and switching, saving, creating and deleting configurations.
#include "app/Configurations.h"

#include <algorithm>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "config/ConfigFile.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "framework/SysFunctions.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kConfigExtension[] = L".nv2";

void StorePageEdits(CNorvaneApp& app)
{
    if (!app.GetMainFrame())
        return;
    app.GetMainFrame()->StorePageEdits();
}

void BringMainWindowForward(CNorvaneApp& app)
{
    BringWindowForward(app.GetMainFrameWindow());
}

// A question whose "Do not ask" box clears the confirmation bit.
int Ask(CAppSettings& settings, const std::wstring& text, UINT style, uint32_t confirmBit)
{
    bool dontAsk = false;
    const int answer = SystemServices().AskUser(text, style, App().GetMainFrameWindow(), &dontAsk);
    if (dontAsk)
        settings.SetConfirmFlags(settings.GetConfirmFlags() & ~confirmBit);
    return answer;
}

// Writes the current configuration where it lives: its own file, or the main settings file.
void SaveCurrentConfiguration(CAppSettings& settings)
{
    CTransferDoc& doc = settings.GetTransferDoc();
    if (!doc.GetPathName().empty())
        doc.Save(false);
    else
        settings.Save(true, true);
}

// A file that does not parse would open as the defaults and be overwritten by the next save,
// so it is refused before anything changes.
void CheckConfigurationFile(const std::wstring& path)
{
    if (!IsExistingSettingsFile(path))
        return;
    CAppCfgFile file(path);
    file.Load();
    if (file.IsDamaged() || !file.IsReadable()) {
        // The copy the load keeps aside is of no use here: the file itself stays untouched.
        if (file.IsDamaged())
            DeleteFileW(file.GetDamagedCopyPath().c_str());
        std::wstring text;
        FormatResString(text, IDS_CONFIG_UNREADABLE, path.c_str());
        throw CException(WStringToMultiByte(text, CP_UTF8));
    }
}

void ShowError(const std::exception& e)
{
    std::wstring text = MultiByteToWString(e.what(), CP_UTF8);
    SystemServices().AskUser(text, MB_OK | MB_ICONERROR, App().GetMainFrameWindow(), nullptr);
}

} // namespace

UINT CheckConfigurationName(const std::wstring& name)
{
    if (name.empty())
        return IDS_FIELD_REQUIRED;
    if (name.find_first_of(L"<>:\"/\\|?*") != std::wstring::npos)
        return IDS_INVALID_NAME_CHARS;
    if (name.back() == L'.' || name.back() == L' ')
        return IDS_INVALID_NAME_CHARS;
    for (wchar_t c : name)
        if (c < 32)
            return IDS_INVALID_NAME_CHARS;
    // The name itself and the file made of it: the system decides which of them open a device.
    if (IsReservedDeviceName(name) || IsReservedDeviceName(name + kConfigExtension))
        return IDS_INVALID_NAME_CHARS;
    return 0;
}

void CNorvaneApp::ListConfigurations()
{
    std::vector<std::wstring> names;
    std::wstring folder;
    settings.ResolveDocumentsFolder(folder, false);
    CFindFile find;
    const std::wstring pattern = folder + L"\\*" + kConfigExtension;
    for (bool found = find.FindFirst(pattern.c_str()); found; found = find.FindNext()) {
        const WIN32_FIND_DATAW& data = find.GetData();
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        // The pattern also matches longer extensions through short names (".nv2x" as "NV2~1.NV2"):
        // only an exact ".nv2" counts.
        std::wstring name = data.cFileName;
        if (name.size() <= 4 || _wcsicmp(name.c_str() + name.size() - 4, kConfigExtension) != 0)
            continue;
        name.resize(name.size() - 4);
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    CDocUpdateScope scope(settings, settings.GetCurrentSender());
    *settings.EditConfigFiles() = std::move(names);
    settings.RaiseStateChange(ASS_CONFIG_FILES, false);
}

bool CNorvaneApp::OpenConfiguration(const std::wstring& name, bool ask)
{
    StorePageEdits(*this);
    CTransferDoc& doc = settings.GetTransferDoc();
    std::wstring path;
    settings.MakeDocumentPath(name, path, !name.empty());
    if (_wcsicmp(path.c_str(), doc.GetPathName().c_str()) == 0)
        return true;
    if (!path.empty())
        CheckConfigurationFile(path);

    if (doc.IsUnsaved()) {
        int answer = IDYES;
        if (ask) {
            std::wstring display, text;
            settings.GetConfigDisplayPath(display);
            FormatResString(text, IDS_SAVE_CONFIG_QUESTION, display.c_str());
            answer = Ask(settings, text, MB_YESNOCANCEL | MB_ICONQUESTION, CONFIRM_SAVE_CONFIG);
        }
        if (answer == IDCANCEL)
            return false;
        if (answer == IDYES)
            SaveCurrentConfiguration(settings);
    }

    CDocUpdateScope scope(settings, settings.GetCurrentSender());
    CDocUpdateScope transferScope(doc, doc.GetCurrentSender());
    doc.Close(false);
    // What the new configuration's file does not hold comes from the defaults, not from the
    // configuration before it.
    doc.SetDefaults();
    doc.SetPathName(path);
    settings.RaiseChange(0, 0, true);
    if (!path.empty())
        doc.Open();
    else if (IsExistingSettingsFile(settings.GetSettingsPath()))
        settings.Load(false, true);
    return true;
}

bool SaveConfiguration()
{
    CNorvaneApp& app = App();
    StorePageEdits(app);
    try {
        SaveCurrentConfiguration(app.GetSettings());
    } catch (const std::exception& e) {
        ShowError(e);
        return false;
    }
    std::wstring text;
    LoadResString(IDS_SUCCESSFULLY, text);
    SystemServices().AskUser(text, MB_OK | MB_ICONINFORMATION, app.GetMainFrameWindow(), nullptr);
    return true;
}

void DeleteConfiguration()
{
    CNorvaneApp& app = App();
    CAppSettings& settings = app.GetSettings();
    if (settings.GetConfirmFlags() & CONFIRM_DELETE) {
        std::wstring display, text;
        settings.GetConfigDisplayPath(display);
        FormatResString(text, IDS_REMOVE_FILE_QUESTION, display.c_str());
        if (Ask(settings, text, MB_OKCANCEL | MB_ICONQUESTION, CONFIRM_DELETE) != IDOK)
            return;
    }
    StorePageEdits(app);
    CTransferDoc& doc = settings.GetTransferDoc();
    const std::wstring path = doc.GetPathName();
    if (path.empty())
        return;
    if (IsExistingSettingsFile(path) && !DeleteFileW(path.c_str()))
        throw COSException(GetLastError());
    {
        CDocUpdateScope scope(doc, doc.GetCurrentSender());
        doc.SetUnsaved(false);
    }
    app.OpenConfiguration(std::wstring(), false);
    app.ListConfigurations();
}

std::wstring DefaultNewConfigurationName()
{
    std::wstring folder;
    App().GetSettings().ResolveDocumentsFolder(folder, false);
    std::wstring name;
    for (int n = 1;; ++n) {
        FormatResString(name, IDS_NEW_CONFIG_NAME, n);
        if (GetFileAttributesW((folder + L"\\" + name + kConfigExtension).c_str()) == INVALID_FILE_ATTRIBUTES)
            return name;
    }
}

bool NewConfiguration()
{
    CNorvaneApp& app = App();
    BringMainWindowForward(app);
    StorePageEdits(app);
    CConfigurationDialog dialog(app.GetSettings(), app.GetSettings().GetCloneNewConfig());
    const int result = dialog.RunModal(app.GetMainFrameWindow());
    app.GetSettings().SetCloneNewConfig(dialog.m_copyCurrent);
    if (result != IDOK)
        return false;
    return app.OpenConfiguration(dialog.m_name + kConfigExtension, (app.GetSettings().GetConfirmFlags() & CONFIRM_SAVE_CONFIG) != 0);
}

bool OpenConfigurationDialog()
{
    CNorvaneApp& app = App();
    BringMainWindowForward(app);
    std::wstring display;
    app.GetSettings().GetConfigDisplayPath(display);
    const size_t dot = display.rfind(L'.');
    const size_t separator = display.find_last_of(L"\\:");
    if (dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator))
        display.resize(dot);
    const int preselected = display.empty() ? -1 : app.GetSettings().FindConfigFile(display);
    COpenConfigDialog dialog(app.GetSettings(), preselected);
    if (dialog.RunModal(app.GetMainFrameWindow()) != IDOK)
        return false;
    const std::wstring name =
        dialog.m_chosen < 0 ? std::wstring() : app.GetSettings().configFiles.at(dialog.m_chosen) + kConfigExtension;
    return app.OpenConfiguration(name, (app.GetSettings().GetConfirmFlags() & CONFIRM_SAVE_CONFIG) != 0);
}
