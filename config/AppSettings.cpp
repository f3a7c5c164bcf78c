#include "config/AppSettings.h"

#include <cwctype>

#include "core/Exceptions.h"
#include "core/File.h"
#include "core/SystemServices.h"
#include "resources/ids_commands.h"

namespace {

bool IsAbsolutePath(const std::wstring& path)
{
    if (path.size() >= 2 && iswalpha(path[0]) && path[1] == L':')
        return true;
    return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && _wcsicmp(a.c_str(), b.c_str()) == 0;
}

const std::wstring& TextOrEmpty(const wchar_t* text, std::wstring& buffer)
{
    buffer = text != nullptr ? text : L"";
    return buffer;
}

// The common shape of a setter: an equal value changes nothing; otherwise the value is
// stored and raised inside a scope that keeps the current sender.
template <class T, class V, class Raise>
void ChangeValue(CAppSettings& doc, T& member, const V& value, Raise raise)
{
    if (member == value)
        return;
    CDocUpdateScope scope(doc, doc.GetCurrentSender());
    member = value;
    raise();
}

}  // namespace

CAppSettings::CAppSettings()
{
    m_extTools.reserve(kMaxExtTools);
    SetDefaults();
}

CAppSettings::~CAppSettings() = default;

void CAppSettings::SetDefaults()
{
    m_unsaved = false;
    m_history = kDefaultHistory;
    m_savedHistory = kDefaultHistory;
    m_configFiles.clear();
    m_cloneNewConfig = true;
    m_docDir.clear();
    m_singleInstance = true;
    m_autoStart = false;
    m_transferLog = false;
    m_debugLog = kDefaultDebugLog;
    m_transferOn = false;
    m_lastTransfer = _LAST_TRANSFER();
    m_knownReaders.clear();
    m_keyViewFormat = KEY_VIEW_HEX;
    m_keyEditFormat = 3;
    m_lastKeyType = 1;
    m_lastKey = _KEY_NUMBER();
    m_keyListImport = m_keyListExport = 1;
    m_keyListFilter = 4;
    m_formatsImport = m_formatsExport = 1;
    m_formatsFilter = 5;
    m_readKeysFlags = 0;
    m_soundsEnabled = false;
    for (std::wstring& file : m_soundFiles)
        file.clear();
    m_hotkeysEnabled = true;
    SetDefaultHotkeys(m_hotkeys);
    m_hotkeysFilter = 0;
    m_eventLogEnabled = false;
    m_eventLogLimit = kEventLogNoLimit;
    m_advancedShowAll = false;
    m_advancedCollapsed.clear();
    m_windowSlots.fill(WindowSlot());
    m_showStates.fill(0);
    m_language.clear();
    m_languages.clear();
    m_trayFlags = 0;
    m_trayCommands = {ID_SHOW_MINIMIZE, 0, 0, 0};
    m_manageSettings = ManageSettingsState();
    m_currentPage = 0;
    m_previousPage = -1;
    m_csv = CsvOptions();
    m_extTools.clear();
    m_confirm = kDefaultConfirm;
    m_view = AppViewOptions();
    m_pageListCollapsed = false;
    m_noSortHeader = false;
    m_panels = 9;
    m_pageListPages = kDefaultPageListPages;
    ResetColumns();
}

std::wstring GetDefaultSoundFile(int index)
{
    switch (index) {
    case 0: return L"%WINDIR%\\Media\\Windows Notify.wav";
    case 1: return L"%WINDIR%\\Media\\Windows Error.wav";
    default: return std::wstring();
    }
}

void CAppSettings::SetDefaultSounds()
{
    for (int i = 0; i < kSoundEventCount; ++i)
        m_soundFiles[i] = GetDefaultSoundFile(i);
}

void CAppSettings::ResetColumns()
{
    for (int i = 0; i < COLS_COUNT; ++i)
        m_columns[i] = GetDefaultColumns(static_cast<AppColumnList>(i));
}

// Paths ---------------------------------------------------------------------------------------

void CAppSettings::SetDataFolder(const std::wstring& folder, bool portable)
{
    m_dataFolder = folder;
    while (!m_dataFolder.empty() && m_dataFolder.back() == L'\\')
        m_dataFolder.pop_back();
    m_portable = portable;
    SetSettingsPath(m_dataFolder + L"\\" + kSettingsFileName);
}

void CAppSettings::SetSettingsPath(const std::wstring& path)
{
    if (path == m_settingsPath)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_settingsPath = path;
    RaiseChange(ASC_PATH, 0, false);
}

void CAppSettings::ResolveFolderFor(const std::wstring& docDir, std::wstring& out) const
{
    out.clear();
    if (docDir.empty())
        out = m_dataFolder;
    else if (!ExpandEnvStrings(docDir.c_str(), out))
        out.clear();
    if (IsAbsolutePath(out))
        return;
    std::wstring base;
    if (m_portable) {
        if (GetModuleFilePath(base))
            StripFileName(base);
    } else {
        base = m_dataFolder;
    }
    // A text that expanded to nothing names the base itself, not "base\".
    out = out.empty() ? base : base + L"\\" + out;
}

void CAppSettings::ResolveDocumentsFolder(std::wstring& out, bool create) const
{
    ResolveFolderFor(m_docDir, out);
    if (create && !CreateDirectoryPath(out))
        ThrowOSError(GetLastError());
}

std::wstring CAppSettings::MakeDocumentPathFor(const std::wstring& docDir, const std::wstring& name) const
{
    if (name.empty() || IsAbsolutePath(name))
        return name;
    std::wstring folder;
    ResolveFolderFor(docDir, folder);
    return folder + L"\\" + name;
}

void CAppSettings::MakeDocumentPath(const std::wstring& name, std::wstring& out, bool create) const
{
    out = MakeDocumentPathFor(m_docDir, name);
    if (!create || out.empty())
        return;
    std::wstring folder = out;
    StripFileName(folder);
    if (!CreateDirectoryPath(folder))
        ThrowOSError(GetLastError());
}

std::wstring CAppSettings::ResolveLogFolder()
{
    std::wstring folder;
    try {
        ResolveDocumentsFolder(folder, true);
    } catch (const COSException&) {
        // The log has nowhere to report its own folder; it writes nothing.
        folder.clear();
    }
    return folder;
}

bool CAppSettings::NamesDevice(const std::wstring& docDir, const std::wstring& name) const
{
    return IsReservedDeviceName(name) || IsReservedDeviceName(MakeDocumentPathFor(docDir, name));
}

void CAppSettings::GetConfigDisplayPath(std::wstring& out) const
{
    const std::wstring& path = m_transfer.GetPathName();
    if (path.empty()) {
        out.clear();
        return;
    }
    std::wstring folder;
    ResolveDocumentsFolder(folder, false);
    const wchar_t* sub = GetRelativeSubPath(path.c_str(), folder.c_str());
    out = *sub != L'\0' ? std::wstring(sub) : path;
}

// Look-ups ------------------------------------------------------------------------------------

int CAppSettings::FindConfigFile(const std::wstring& name) const
{
    for (size_t i = 0; i < m_configFiles.size(); ++i)
        if (EqualNoCase(m_configFiles[i], name))
            return static_cast<int>(i);
    return -1;
}

int CAppSettings::FindReader(const std::wstring& name, int count) const
{
    size_t n = m_knownReaders.size();
    if (count >= 0 && static_cast<size_t>(count) < n)
        n = static_cast<size_t>(count);
    for (size_t i = 0; i < n; ++i)
        if (m_knownReaders[i].name == name)
            return static_cast<int>(i);
    return -1;
}

int CAppSettings::FindLanguage(const std::wstring& name) const
{
    for (size_t i = 0; i < m_languages.size(); ++i)
        if (m_languages[i].name == name)
            return static_cast<int>(i);
    return -1;
}

// Change raising ------------------------------------------------------------------------------

void CAppSettings::RaiseChange(uint32_t word1, uint32_t word2, bool markUnsaved)
{
    if (markUnsaved && !m_unsaved) {
        m_unsaved = true;
        word1 |= ASC_UNSAVED;
    }
    SetModified(word1, word2);
}

void CAppSettings::RaiseStateChange(uint32_t mask, bool markUnsaved)
{
    m_details.state |= mask;
    RaiseChange(ASC_STATE, 0, markUnsaved);
}

void CAppSettings::RaiseUiChange(uint32_t mask, bool markUnsaved)
{
    m_details.ui |= mask;
    RaiseChange(ASC_UI, 0, markUnsaved);
}

void CAppSettings::RaisePageStateChange(uint32_t mask, bool markUnsaved)
{
    m_details.page |= mask;
    RaiseChange(ASC_PAGE, 0, markUnsaved);
}

void CAppSettings::SetUnsaved(bool unsaved)
{
    if (unsaved == m_unsaved)
        return;
    m_unsaved = unsaved;
    SetModified(ASC_UNSAVED);
}

void CAppSettings::SetModified(uint32_t word1, uint32_t word2)
{
    m_pending1 |= word1;
    m_pending2 |= word2;
    CDocument::SetModified(word1, word2);
}

void CAppSettings::NotifyObservers()
{
    CDocUpdateScope scope(*this, nullptr);
    const uint32_t taken1 = m_pending1;
    m_pending1 = m_pending2 = 0;
    if (taken1 & ASC_HISTORY)
        m_savedHistory = m_history;
    // Observers read this pass's details while changes they make collect for the next pass.
    const AppSettingsDetails outer = m_notified;
    m_notified = m_details;
    m_details = AppSettingsDetails();
    try {
        CDocument::NotifyObservers();
    } catch (...) {
        m_notified = outer;
        throw;
    }
    m_notified = outer;
}

// Loading and saving --------------------------------------------------------------------------

void CAppSettings::LoadOrDefaults(bool configuration)
{
    // A file that gave nothing starts the program as a missing one does.
    if (!IsExistingSettingsFile(m_settingsPath) || !Load(true, configuration))
        ResetExtTools();
}

std::wstring CAppSettings::ConfigPathNamedBy(const JsonValue& root) const
{
    std::wstring docDir;
    std::wstring name;
    if (const JsonValue* main = root.FindMember(L"main", JSON_OBJECT)) {
        main->GetString(L"docDir", docDir);
        main->GetString(L"configuration", name);
    }
    return MakeDocumentPathFor(docDir, name);
}

void CAppSettings::SaveConfigurationBefore(const std::wstring& newPath)
{
    if (!m_transfer.IsUnsaved() || EqualNoCase(newPath, m_transfer.GetPathName()))
        return;
    // The configuration that lives in the main file is saved there; one with its own file
    // goes to that file.
    if (m_transfer.GetPathName().empty())
        Save(false, true);
    else
        m_transfer.Save(false);
}

void CAppSettings::ReopenConfiguration(const std::wstring& path)
{
    SaveConfigurationBefore(path);
    CDocUpdateScope transferScope(m_transfer, m_transfer.GetCurrentSender());
    m_transfer.Close(false);
    m_transfer.SetPathName(path);
    if (path.empty() && IsExistingSettingsFile(m_settingsPath))
        Load(false, true);
    m_transfer.Open();
}

bool CAppSettings::Load(bool main, bool configuration)
{
    CAppCfgFile file(m_settingsPath);
    file.Load();
    // A failing save must leave both documents as they were, so it runs before any reading.
    if (main && file.IsReadable())
        SaveConfigurationBefore(ConfigPathNamedBy(file.Root));

    CDocUpdateScope scope(*this, GetCurrentSender());
    CDocUpdateScope transferScope(m_transfer, m_transfer.GetCurrentSender());
    if (file.IsReadable()) {
        if (main)
            ReadSettings(file);
        if (configuration && m_transfer.GetPathName().empty()) {
            if (!LoadTransferConfig(m_transfer, file))
                m_transfer.ResetKeyFiltersToPresets();
        }
    }
    const bool unsaved = !file.IsCurrentVersion();
    if (main)
        SetUnsaved(unsaved);
    if (configuration && m_transfer.GetPathName().empty())
        m_transfer.SetUnsaved(unsaved);
    return file.IsReadable();
}

void CAppSettings::Save(bool main, bool configuration)
{
    if (!m_transfer.GetPathName().empty())
        configuration = false;
    if (!main && !configuration)
        return;
    CAppCfgFile file(m_settingsPath);
    if (!file.PrepareSave()) {
        // The file was emptied: it gets every part it is meant to hold.
        main = true;
        configuration = m_transfer.GetPathName().empty();
    }
    CDocUpdateScope scope(*this, GetCurrentSender());
    CDocUpdateScope transferScope(m_transfer, m_transfer.GetCurrentSender());
    if (main)
        WriteSettings(file);
    if (configuration)
        SaveTransferConfig(m_transfer, file);
    file.Save();
    if (main)
        SetUnsaved(false);
    if (configuration)
        m_transfer.SetUnsaved(false);
}

// Setters -------------------------------------------------------------------------------------

void CAppSettings::SetHistoryFlags(uint32_t flags)
{
    ChangeValue(*this, m_history, flags, [this] { RaiseChange(ASC_HISTORY, 0, true); });
}

void CAppSettings::SetDocumentsFolder(const std::wstring& folder)
{
    if (EqualNoCase(folder, m_docDir))
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_docDir = folder;
    RaiseChange(ASC_DOCDIR, 0, true);
}

void CAppSettings::SetCloneNewConfig(bool clone)
{
    ChangeValue(*this, m_cloneNewConfig, clone, [this] { RaiseChange(0, 0, true); });
}

void CAppSettings::SetAutorun(bool on)
{
    ISystemServices& system = SystemServices();
    bool ok;
    if (on) {
        std::wstring program;
        ok = GetModuleFilePath(program);
        if (ok) {
            const std::wstring commandLine = L"\"" + program + L"\" /autorun";
            ok = system.WriteAutorun(commandLine.c_str());
        }
    } else {
        ok = system.WriteAutorun(nullptr);
    }
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    {
        CDocUpdateScope scope(*this, GetCurrentSender());
        RaiseChange(ASC_AUTORUN, 0, false);
    }
    if (!ok)
        ThrowOSError(error != ERROR_SUCCESS ? error : ERROR_CANTWRITE);
}

void CAppSettings::SetTransferEnabled(bool enabled)
{
    ChangeValue(*this, m_transferOn, enabled,
                [this] { RaiseChange(ASC_TRANSFER_ON, 0, IsHistory(HIST_TRANSFER_ON)); });
}

void CAppSettings::SetLastTransferInfo(const CTimeValue& time, int32_t keyType, const _KEY_NUMBER& key,
                                       uint32_t keyExtra, const wchar_t* keyText, int32_t errorCode,
                                       const wchar_t* errorText, const wchar_t* formatName,
                                       const wchar_t* transferred, const wchar_t* where)
{
    std::wstring b1, b2, b3, b4, b5;
    const std::wstring& status = TextOrEmpty(keyText, b1);
    const std::wstring& error = TextOrEmpty(errorText, b2);
    const std::wstring& format = TextOrEmpty(formatName, b3);
    const std::wstring& text = TextOrEmpty(transferred, b4);
    const std::wstring& destination = TextOrEmpty(where, b5);
    _LAST_TRANSFER& last = m_lastTransfer;
    if (last.keyType == keyType && KeysEqual(last.keyNumber, key) && last.keyExtra == keyExtra &&
        last.keyText == status && last.errorCode == errorCode && last.errorText == error &&
        last.formatName == format && last.transferred == text && last.where == destination) {
        last.time = time;
        return;
    }
    CDocUpdateScope scope(*this, GetCurrentSender());
    last.time = time;
    last.keyType = keyType;
    last.keyNumber = key;
    last.keyExtra = keyExtra;
    last.keyText = status;
    last.errorCode = errorCode;
    last.errorText = error;
    last.formatName = format;
    last.transferred = text;
    last.where = destination;
    RaiseStateChange(ASS_LAST_TRANSFER, IsHistory(HIST_LAST_TRANSFER));
}

void CAppSettings::SetTransferCounter(int32_t counter)
{
    ChangeValue(*this, m_lastTransfer.counter, counter,
                [this] { RaiseStateChange(ASS_COUNTER, IsHistory(HIST_LAST_TRANSFER)); });
}

void CAppSettings::SetKeyViewFormat(int32_t value)
{
    ChangeValue(*this, m_keyViewFormat, value, [this] { RaiseUiChange(ASU_KEY_VIEW_FORMAT, true); });
}

void CAppSettings::SetKeyEditFormat(int32_t value)
{
    ChangeValue(*this, m_keyEditFormat, value, [this] { RaiseChange(0, 0, true); });
}

void CAppSettings::SetKeyListImport(int32_t value)
{
    ChangeValue(*this, m_keyListImport, value, [this] { RaiseChange(ASC_FILE_TYPES, 0, true); });
}

void CAppSettings::SetKeyListExport(int32_t value)
{
    ChangeValue(*this, m_keyListExport, value, [this] { RaiseChange(ASC_FILE_TYPES, 0, true); });
}

void CAppSettings::SetKeyListFilter(uint32_t value)
{
    ChangeValue(*this, m_keyListFilter, value, [this] { RaiseUiChange(ASU_KEYLIST_FILTER, true); });
}

void CAppSettings::SetFormatsImport(int32_t value)
{
    ChangeValue(*this, m_formatsImport, value, [this] { RaiseChange(ASC_FILE_TYPES, 0, true); });
}

void CAppSettings::SetFormatsExport(int32_t value)
{
    ChangeValue(*this, m_formatsExport, value, [this] { RaiseChange(ASC_FILE_TYPES, 0, true); });
}

void CAppSettings::SetFormatsFilter(uint32_t value)
{
    ChangeValue(*this, m_formatsFilter, value, [this] { RaiseUiChange(ASU_FORMATS_FILTER, true); });
}

void CAppSettings::SetReadKeysViewFlags(uint32_t value)
{
    ChangeValue(*this, m_readKeysFlags, value, [this] { RaisePageStateChange(ASP_READKEYS_FLAGS, true); });
}

void CAppSettings::SetSoundsEnabled(bool value)
{
    ChangeValue(*this, m_soundsEnabled, value, [this] { RaiseChange(ASC_SOUNDS_ON, 0, true); });
}

void CAppSettings::SetHotkeysEnabled(bool value)
{
    ChangeValue(*this, m_hotkeysEnabled, value, [this] { RaiseChange(ASC_HOTKEYS_ON, 0, true); });
}

void CAppSettings::SetHotkeysFilterFlags(uint32_t value)
{
    ChangeValue(*this, m_hotkeysFilter, value, [this] { RaiseUiChange(ASU_HOTKEYS_FILTER, true); });
}

void CAppSettings::SetEventLogEnabled(bool value)
{
    ChangeValue(*this, m_eventLogEnabled, value, [this] { RaiseChange(ASC_EVENTLOG_ON, 0, true); });
}

void CAppSettings::SetAdvancedShowAll(bool value)
{
    ChangeValue(*this, m_advancedShowAll, value, [this] { RaiseChange(0, 0, true); });
}

void CAppSettings::SetLanguage(const std::wstring& value)
{
    ChangeValue(*this, m_language, value, [this] { RaiseUiChange(ASU_LANGUAGE, true); });
}

void CAppSettings::SetTrayIconFlags(uint32_t value)
{
    ChangeValue(*this, m_trayFlags, value, [this] { RaiseUiChange(ASU_TRAY, true); });
}

void CAppSettings::SetTrayClickCommands(const std::array<uint16_t, 4>& value)
{
    ChangeValue(*this, m_trayCommands, value, [this] { RaiseUiChange(ASU_TRAY, true); });
}

void CAppSettings::SetConfirmFlags(uint32_t value)
{
    ChangeValue(*this, m_confirm, value, [this] { RaiseUiChange(ASU_CONFIRM, true); });
}

void CAppSettings::SetNoSortHeader(bool value)
{
    ChangeValue(*this, m_noSortHeader, value, [this] { RaiseUiChange(ASU_NO_SORT_HEADER, true); });
}

void CAppSettings::SetPanels(uint32_t value)
{
    ChangeValue(*this, m_panels, value, [this] { RaiseUiChange(ASU_PANELS, true); });
}

void CAppSettings::SetPageListPages(uint32_t value)
{
    ChangeValue(*this, m_pageListPages, value, [this] { RaiseUiChange(ASU_PAGELIST_PAGES, true); });
}

void CAppSettings::SetPageListCollapsed(bool value)
{
    ChangeValue(*this, m_pageListCollapsed, value, [this] { RaiseUiChange(ASU_PAGELIST_COLLAPSED, IsHistory(HIST_PAGELIST)); });
}

void CAppSettings::SetSoundFile(int index, const std::wstring& file)
{
    ChangeValue(*this, m_soundFiles.at(index), file, [this] { RaiseChange(ASC_SOUND_FILES, 0, true); });
}

void CAppSettings::ResetEventLogLimit()
{
    if (m_eventLogLimit == kEventLogNoLimit)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_eventLogLimit = kEventLogNoLimit;
    RaiseChange(ASC_EVENTLOG_LIMIT, 0, true);
}

void CAppSettings::SetCurrentPage(int32_t page)
{
    const int32_t old = m_currentPage;
    ChangeValue(*this, m_currentPage, page, [this, old] {
        m_previousPage = old;
        RaiseUiChange(ASU_CURRENT_PAGE, IsHistory(HIST_PAGE));
    });
}

void CAppSettings::ResetExtTools()
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    LoadDefaultExtTools(m_extTools);
    RaiseChange(ASC_EXT_TOOLS, 0, true);
}

void CAppSettings::RestoreDefaultExtTools()
{
    if (!m_extTools.empty())
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    LoadDefaultExtTools(m_extTools);
    RaiseChange(ASC_EXT_TOOLS, 0, false);
}

// Groups without setters of their own ------------------------------------------------------------

void CAppSettings::RaiseEditChange(const SettingsChange& change)
{
    const bool markUnsaved =
        change.storedUnder == kAlwaysStored || (change.storedUnder != 0 && IsHistory(change.storedUnder));
    switch (change.change) {
    case ASC_STATE:
        RaiseStateChange(change.detail, markUnsaved);
        break;
    case ASC_UI:
        RaiseUiChange(change.detail, markUnsaved);
        break;
    case ASC_PAGE:
        RaisePageStateChange(change.detail, markUnsaved);
        break;
    default:
        RaiseChange(change.change, 0, markUnsaved);
        break;
    }
}

void CAppSettings::SetSingleInstance(bool on)
{
    ChangeValue(*this, m_singleInstance, on, [this] { RaiseChange(ASC_AUTORUN, 0, true); });
}

void CAppSettings::SetAutoStart(bool on)
{
    ChangeValue(*this, m_autoStart, on, [this] { RaiseChange(ASC_AUTORUN, 0, true); });
}

void CAppSettings::SetTransferLog(bool on)
{
    ChangeValue(*this, m_transferLog, on, [this] { RaiseChange(ASC_LOG_SWITCHES, 0, true); });
}

void CAppSettings::SetViewOptions(const AppViewOptions& options)
{
    const AppViewOptions& old = m_view;
    const uint32_t changed = (old.topMost != options.topMost ? ASU_TOPMOST : 0) |
                             (old.snapToEdges != options.snapToEdges ? ASU_SNAP_TO_EDGES : 0) |
                             (old.taskbarButton != options.taskbarButton ? ASU_TASKBAR_BUTTON : 0) |
                             (old.versionTitle != options.versionTitle ? ASU_VERSION_TITLE : 0) |
                             (old.altListBkColor != options.altListBkColor ? ASU_ALT_LIST_COLOR : 0) |
                             (old.tableGrid != options.tableGrid ? ASU_TABLE_GRID : 0);
    ChangeValue(*this, m_view, options, [this, changed] { RaiseUiChange(changed, true); });
}

void CAppSettings::SetWindowSlot(int index, const WindowSlot& slot)
{
    WindowSlot& stored = m_windowSlots.at(static_cast<size_t>(index));
    const bool moved = stored.left != slot.left || stored.top != slot.top;
    const bool resized = stored.width != slot.width || stored.height != slot.height;
    if (!moved && !resized)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    stored = slot;
    if ((moved && IsHistory(HIST_POSITIONS)) || (resized && IsHistory(HIST_SIZES)))
        RaiseChange(0, 0, true);
}

void CAppSettings::SetShowState(int index, int32_t state)
{
    ChangeValue(*this, m_showStates.at(static_cast<size_t>(index)), state, [this] {
        if (IsHistory(HIST_SHOW_STATES))
            RaiseChange(0, 0, true);
    });
}

void CAppSettings::SetLastTypedKey(int32_t keyType, const _KEY_NUMBER& key)
{
    m_lastKeyType = keyType;
    m_lastKey = key;
}

CSettingsEdit<DebugLogSettings> CAppSettings::EditDebugLog()
{
    return {*this, m_debugLog, {ASC_LOG_SWITCHES, 0, kAlwaysStored}};
}

CSettingsEdit<CsvOptions> CAppSettings::EditCsv()
{
    return {*this, m_csv, {ASC_CSV, 0, kAlwaysStored}};
}

CSettingsEdit<ManageSettingsState> CAppSettings::EditManageSettings()
{
    return {*this, m_manageSettings, {0, 0, kAlwaysStored}};
}

CSettingsEdit<std::vector<uint32_t>> CAppSettings::EditHotkeys()
{
    return {*this, m_hotkeys, {ASC_HOTKEYS, 0, kAlwaysStored}};
}

CSettingsEdit<std::vector<_EXT_TOOL>> CAppSettings::EditExtTools()
{
    return {*this, m_extTools, {ASC_EXT_TOOLS, 0, kAlwaysStored}};
}

CSettingsEdit<std::vector<uint16_t>> CAppSettings::EditAdvancedCollapsed()
{
    return {*this, m_advancedCollapsed, {ASC_PAGE, ASP_ADVANCED_COLLAPSED, kAlwaysStored}};
}

CSettingsEdit<std::vector<KnownReader>> CAppSettings::EditKnownReaders()
{
    return {*this, m_knownReaders, {ASC_STATE, ASS_KNOWN_READERS, 0}};
}

CSettingsEdit<std::vector<std::wstring>> CAppSettings::EditConfigFiles()
{
    return {*this, m_configFiles, {ASC_STATE, ASS_CONFIG_FILES, 0}};
}

CSettingsEdit<std::vector<LanguageInfo>> CAppSettings::EditLanguages()
{
    return {*this, m_languages, {ASC_STATE, ASS_LANGUAGES, 0}};
}

CSettingsEdit<std::vector<ColumnDesc>> CAppSettings::EditColumns(AppColumnList list)
{
    // The column lists without a detail bit of their own only mark the settings unsaved.
    static constexpr SettingsChange kChanges[COLS_COUNT] = {
        {ASC_UI, ASU_EVENTLOG_COLUMNS, kAlwaysStored},    // COLS_EVENTLOG
        {ASC_UI, ASU_FORMATS_COLUMNS, kAlwaysStored},     // COLS_FORMATS
        {ASC_UI, ASU_KEYFILTERS_COLUMNS, kAlwaysStored},  // COLS_KEYFILTERS
        {ASC_UI, ASU_SOUNDS_COLUMNS, kAlwaysStored},      // COLS_SOUNDS
        {ASC_UI, ASU_HOTKEYS_COLUMNS, kAlwaysStored},     // COLS_HOTKEYS
        {0, 0, kAlwaysStored},                            // COLS_OPENCONFIG
        {ASC_UI, ASU_KEYLIST_COLUMNS, kAlwaysStored},     // COLS_KEYLIST
        {0, 0, kAlwaysStored},                            // COLS_ADVANCED
        {0, 0, kAlwaysStored},                            // COLS_COLUMNLIST
        {ASC_PAGE, ASP_DESTINATION_COLUMNS, kAlwaysStored},  // COLS_DESTINATION
    };
    return {*this, m_columns.at(list), kChanges[list]};
}
