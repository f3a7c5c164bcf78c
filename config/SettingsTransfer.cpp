// Settings export, import and reset over the chosen groups of both documents.
#include "config/SettingsTransfer.h"

#include <initializer_list>

#include "config/ConfigFile.h"
#include "config/TransferDoc.h"
#include "core/File.h"
#include "core/TextUtil.h"
#include "resources/resource.h"

namespace {

// The nine page objects of "ui" whose "columns" the column group holds, in the export's order.
const wchar_t* const kColumnPages[] = {L"eventLog", L"formats", L"keyFilters", L"sounds",  L"hotkeys",
                                       L"openConfig", L"keyList", L"columnList", L"advanced"};
const AppColumnList kColumnLists[] = {COLS_EVENTLOG, COLS_FORMATS,    COLS_KEYFILTERS, COLS_SOUNDS,  COLS_HOTKEYS,
                                      COLS_OPENCONFIG, COLS_KEYLIST, COLS_COLUMNLIST, COLS_ADVANCED};
// The members of "ui" that "Other settings" holds besides the pages' own settings.
const wchar_t* const kGeneralUiMembers[] = {L"language",      L"topMost",        L"page",      L"versionTitle",
                                            L"snapToEdges",   L"taskbarButton",  L"altListBkColor",
                                            L"tableGrid",     L"noSortHeader",   L"keyViewFormat",
                                            L"keyEditFormat"};

std::wstring FormatText(UINT id, const std::wstring& fileName)
{
    std::wstring text;
    FormatResString(text, id, fileName.c_str());
    return text;
}

// The writers of the documents write the key list and the Mifare key lists only when they are
// parts of the stored configuration; an export holds them whatever.
class CAllPartsSaved
{
public:
    explicit CAllPartsSaved(CTransferDoc& doc) : m_doc(doc), m_saved(doc.GetSavedParts())
    {
        doc.SetSavedParts(kSavedPartsAll);
    }
    ~CAllPartsSaved() { m_doc.SetSavedParts(m_saved); }
    CAllPartsSaved(const CAllPartsSaved&) = delete;
    CAllPartsSaved& operator=(const CAllPartsSaved&) = delete;

private:
    CTransferDoc& m_doc;
    uint32_t m_saved;
};

JsonValue& ObjectMember(JsonValue& parent, const wchar_t* key)
{
    JsonValue& member = parent.Member(key);
    member.SetType(JSON_OBJECT);
    return member;
}

// A member of `from` copied into `to`: at its place when `to` has it already, else at the end.
void CopyMember(JsonValue& to, const JsonValue* from, const wchar_t* key)
{
    if (const JsonValue* value = from ? from->FindMember(key) : nullptr)
        to.Member(key) = *value;
}

void CopySelected(JsonValue& to, const JsonValue* from, const wchar_t* key, std::initializer_list<const wchar_t*> members)
{
    const JsonValue* source = from ? from->FindMember(key, JSON_OBJECT) : nullptr;
    if (!source)
        return;
    JsonValue& target = ObjectMember(to, key);
    for (const wchar_t* member : members)
        CopyMember(target, source, member);
}

// Parses the import text whole; a damaged text is refused with where it fails.
void LoadImportText(CAppCfgFile& file, const std::wstring& text)
{
    const std::wstring& path = file.GetPath();
    size_t offset = 0;
    if (!file.LoadText(text, &offset)) {
        unsigned line = 1, column = 1;
        for (size_t i = 0; i < offset && i < text.size(); ++i) {
            if (text[i] == L'\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        std::wstring message;
        FormatResString(message, IDS_SETTINGS_DAMAGED, path.c_str(), line, column);
        throw CSettingsFileException(message);
    }
}

// A member path of a group: up to three keys below the root.
struct GroupMember
{
    bool configuration;
    uint32_t group;
    const wchar_t* keys[3];
};

const GroupMember kGroupMembers[] = {
    {true, CG_SOURCE, {L"transfer", L"source"}},
    {true, CG_READER, {L"reader"}},
    {true, CG_KEYLIST, {L"keyList"}},
    {true, CG_DESTINATION, {L"transfer", L"destination"}},
    {true, CG_KEYBOARD, {L"keyboard"}},
    {true, CG_PORTAVO, {L"portavo"}},
    {true, CG_CMDLINE, {L"cmdline"}},
    {true, CG_HTTP, {L"httpRequest"}},
    {true, CG_KEYFILTERS, {L"keyFilters"}},
    {true, CG_KEYFILTERS, {L"ui", L"formatFilters"}},
    {true, CG_FORMATS, {L"formats"}},
    {true, CG_READKEYS, {L"readKeys"}},
    {true, CG_MIFARE_KEYS, {L"mifareCKeys"}},
    {true, CG_MIFARE_KEYS, {L"mifarePKeys"}},
    {true, CG_MIFARE_KEYS, {L"mifareKeys"}},
    {false, AG_SOUNDS, {L"sounds"}},
    {false, AG_HOTKEYS, {L"hotkeys"}},
    {false, AG_CONFIRM, {L"ui", L"confirm"}},
    {false, AG_WINDOWS, {L"ui", L"formPos"}},
    {false, AG_TRAY, {L"ui", L"trayIcon"}},
    {false, AG_PANELS, {L"ui", L"panels"}},
    {false, AG_PAGELIST, {L"ui", L"pageList"}},
    {false, AG_EXT_TOOLS, {L"extTools"}},
    {false, AG_OTHER, {L"main"}},
    {false, AG_OTHER, {L"debugLog"}},
    {false, AG_OTHER, {L"transfer", L"enabled"}},
    {false, AG_OTHER, {L"transfer", L"transferLog"}},
    {false, AG_OTHER, {L"transfer", L"autoStart"}},
    {false, AG_OTHER, {L"lastTransferInfo"}},
    {false, AG_OTHER, {L"eventLog"}},
    {false, AG_OTHER, {L"csv"}},
    {false, AG_OTHER, {L"ui", L"language"}},
};

bool HasPath(const JsonValue& root, const wchar_t* const* keys)
{
    const JsonValue* value = &root;
    for (int i = 0; i < 3 && keys[i]; ++i) {
        value = value->FindMember(keys[i]);
        if (!value)
            return false;
    }
    return true;
}

} // namespace

CSettingsFileException::CSettingsFileException(std::wstring text)
    : CException(WStringToMultiByte(text, CP_ACP)), m_text(std::move(text))
{
}

bool HoldsSettingsGroups(const JsonValue& root, uint32_t configGroups, uint32_t appGroups)
{
    for (const GroupMember& m : kGroupMembers) {
        if ((m.group & (m.configuration ? configGroups : appGroups)) && HasPath(root, m.keys))
            return true;
    }
    if (appGroups & AG_COLUMNS) {
        if (const JsonValue* ui = root.FindMember(L"ui", JSON_OBJECT))
            for (const wchar_t* page : kColumnPages)
                if (const JsonValue* object = ui->FindMember(page, JSON_OBJECT); object && object->FindMember(L"columns"))
                    return true;
    }
    return false;
}

// ---- export ----

void ExportSettings(CAppSettings& settings, const std::wstring& path, uint32_t configGroups, uint32_t appGroups)
{
    CTransferDoc& doc = settings.GetTransferDoc();
    CAppCfgFile appPart;
    settings.WriteSettings(appPart);
    CAppCfgFile configPart;
    {
        CAllPartsSaved all(doc);
        SaveTransferConfig(doc, configPart);
    }
    const JsonValue& app = appPart.Root;
    const JsonValue& config = configPart.Root;

    CAppCfgFile out(path);
    out.StampHeader();
    JsonValue& root = out.Root;
    const uint32_t cg = configGroups;
    const uint32_t ag = appGroups;

    if (cg & (CG_SOURCE | CG_DESTINATION)) {
        const JsonValue* transfer = config.FindMember(L"transfer", JSON_OBJECT);
        JsonValue& target = ObjectMember(root, L"transfer");
        if (cg & CG_SOURCE)
            CopyMember(target, transfer, L"source");
        if (cg & CG_DESTINATION)
            CopyMember(target, transfer, L"destination");
    }
    static const struct {
        uint32_t group;
        const wchar_t* key;
    } wholeGroups[] = {{CG_READER, L"reader"},     {CG_KEYLIST, L"keyList"}, {CG_KEYBOARD, L"keyboard"},
                       {CG_PORTAVO, L"portavo"},   {CG_CMDLINE, L"cmdline"}, {CG_HTTP, L"httpRequest"}};
    for (const auto& g : wholeGroups)
        if (cg & g.group)
            CopyMember(root, &config, g.key);
    if (cg & CG_FORMATS)
        CopySelected(root, &config, L"formats", {L"sort", L"defaultId", L"newId", L"formats"});
    if (cg & CG_KEYFILTERS)
        CopySelected(root, &config, L"keyFilters", {L"sort", L"newId", L"keyFilters"});
    if (cg & CG_READKEYS)
        CopySelected(root, &config, L"readKeys", {L"keyTypes", L"mifareClassic", L"mifarePlus", L"mifareUL", L"temic"});
    if (cg & CG_MIFARE_KEYS) {
        CopyMember(root, &config, L"mifareCKeys");
        CopyMember(root, &config, L"mifarePKeys");
    }

    if (ag & AG_SOUNDS)
        CopyMember(root, &app, L"sounds");
    if (ag & AG_HOTKEYS)
        CopyMember(root, &app, L"hotkeys");
    const JsonValue* appUi = app.FindMember(L"ui", JSON_OBJECT);
    if (ag & kUiPartGroups) {
        JsonValue& ui = ObjectMember(root, L"ui");
        if (ag & AG_CONFIRM)
            CopyMember(ui, appUi, L"confirm");
        if (ag & AG_WINDOWS)
            CopyMember(ui, appUi, L"formPos");
        if (ag & AG_TRAY)
            CopyMember(ui, appUi, L"trayIcon");
        if (ag & AG_PANELS)
            CopyMember(ui, appUi, L"panels");
        if (ag & AG_PAGELIST)
            CopyMember(ui, appUi, L"pageList");
        if (ag & AG_COLUMNS)
            for (const wchar_t* page : kColumnPages)
                CopySelected(ui, appUi, page, {L"columns"});
    }
    if (ag & AG_EXT_TOOLS)
        CopyMember(root, &app, L"extTools");
    if (ag & AG_OTHER) {
        CopyMember(root, &app, L"main");
        CopyMember(root, &app, L"debugLog");
        // "enabled" goes out whatever "history" says, so that the import finds it.
        JsonValue& transfer = ObjectMember(root, L"transfer");
        transfer.SetBool(L"enabled", settings.IsTransferEnabled());
        transfer.SetBool(L"transferLog", settings.transferLog);
        transfer.SetBool(L"autoStart", settings.autoStart);
        CopyMember(root, &app, L"lastTransferInfo");
        CopyMember(root, &app, L"eventLog");
        JsonValue& ui = ObjectMember(root, L"ui");
        for (const wchar_t* key : kGeneralUiMembers)
            CopyMember(ui, appUi, key);
        CopySelected(ui, appUi, L"formats", {L"filter", L"import", L"export"});
        CopySelected(ui, appUi, L"hotkeys", {L"filterFlags"});
        CopySelected(ui, appUi, L"keyList", {L"filter", L"import", L"export"});
        CopySelected(ui, appUi, L"readKeys", {L"showMifareKeys"});
        CopySelected(ui, appUi, L"advanced", {L"showAll", L"collapsed"});
        CopyMember(root, &app, L"csv");
    }
    out.Save();
}

// ---- import ----

void ImportSettings(CAppSettings& settings, const std::wstring& path, uint32_t configGroups, uint32_t appGroups)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw CSettingsFileException(FormatText(IDS_SETTINGS_FOLDER, path));
    std::wstring text;
    ReadUtf8TextFile(path, text);
    ImportSettingsText(settings, text, path, configGroups, appGroups);
}

void ImportSettingsText(CAppSettings& settings, const std::wstring& text, const std::wstring& path,
                        uint32_t configGroups, uint32_t appGroups)
{
    configGroups &= kAllConfigGroups;
    appGroups &= kAllAppGroups;
    CAppCfgFile file(path);
    LoadImportText(file, text);
    const PackedVersion version = file.GetVersion();
    if ((version & 0xFF) > 1) {
        std::wstring versionText;
        if (const JsonValue* info = file.Root.FindMember(L"info", JSON_OBJECT))
            info->GetString(L"version", versionText);
        std::wstring message;
        FormatResString(message, IDS_SETTINGS_NEWER, path.c_str(), versionText.c_str());
        throw CSettingsFileException(message);
    }
    // Read as version 0 it would put every chosen group to its defaults and call that a success.
    if (version == 0 && !HoldsSettingsGroups(file.Root, configGroups, appGroups))
        throw CSettingsFileException(FormatText(IDS_SETTINGS_FOREIGN, path));
    // Opening a device as the configuration would close the current one and end in an error
    // about a copy of that device.
    if (appGroups & AG_OTHER) {
        std::wstring docDir, configuration;
        if (const JsonValue* main = file.Root.FindMember(L"main", JSON_OBJECT)) {
            main->GetString(L"docDir", docDir);
            main->GetString(L"configuration", configuration);
        }
        if (settings.NamesDevice(docDir, configuration)) {
            std::wstring message;
            FormatResString(message, IDS_SETTINGS_DEVICE, path.c_str(), configuration.c_str());
            throw CSettingsFileException(message);
        }
    }

    CTransferDoc& transfer = settings.GetTransferDoc();
    CDocUpdateScope transferScope(transfer, transfer.GetCurrentSender());
    settings.ImportGroups(file.Root, version, appGroups);
    ImportTransferConfig(transfer, file.Root, version, configGroups);
}

// ---- reset ----

namespace {

void ResetApplicationGroups(CAppSettings& s, uint32_t groups)
{
    if (groups & AG_OTHER) {
        s.SetHistoryFlags(kDefaultHistory);
        s.SetDocumentsFolder(std::wstring());
        if (!s.GetTransferDoc().GetPathName().empty())
            s.ReopenConfiguration(std::wstring());
        s.SetLanguage(std::wstring());
        s.SetViewOptions(AppViewOptions());
        s.SetSingleInstance(true);
        s.SetTransferLog(false);
        *s.EditDebugLog() = kDefaultDebugLog;
        s.SetEventLogEnabled(false);
        s.ResetEventLogLimit();
        *s.EditCsv() = CsvOptions();
        if (s.GetAdvancedShowAll()) {
            s.SetAdvancedShowAll(false);
            s.RaisePageStateChange(ASP_ADVANCED_COLLAPSED, false);
        }
        s.SetFormatsFilter(5);
        s.SetFormatsImport(1);
        s.SetFormatsExport(1);
        s.SetKeyListFilter(4);
        s.SetKeyListImport(1);
        s.SetKeyListExport(1);
        s.SetCloneNewConfig(true);
        s.SetTransferEnabled(false);
        s.SetLastTransferInfo(CTimeValue(), 0, _KEY_NUMBER(), 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
        s.SetTransferCounter(0);
        s.SetCurrentPage(0);
        s.SetNoSortHeader(false);
        s.SetKeyViewFormat(KEY_VIEW_HEX);
        s.SetKeyEditFormat(3);
        s.SetHotkeysFilterFlags(0);
        s.SetReadKeysViewFlags(0);
    }
    if (groups & AG_SOUNDS) {
        s.SetSoundsEnabled(false);
        for (int i = 0; i < kSoundEventCount; ++i)
            s.SetSoundFile(i, GetDefaultSoundFile(i));
    }
    if (groups & AG_HOTKEYS) {
        s.SetHotkeysEnabled(true);
        SetDefaultHotkeys(*s.EditHotkeys());
    }
    if (groups & AG_CONFIRM)
        s.SetConfirmFlags(kDefaultConfirm);
    if (groups & AG_WINDOWS) {
        for (int i = 0; i < kWindowSlotCount; ++i)
            s.SetWindowSlot(i, WindowSlot());
        for (int i = 0; i < kShowStateSlotCount; ++i)
            s.SetShowState(i, 0);
    }
    if (groups & AG_TRAY) {
        s.SetTrayIconFlags(0);
        s.SetTrayClickCommands({ID_SHOW_MINIMIZE, 0, 0, 0});
    }
    if (groups & AG_PANELS)
        s.SetPanels(9);
    if (groups & AG_PAGELIST) {
        s.SetPageListCollapsed(false);
        s.SetPageListPages(kDefaultPageListPages);
    }
    if (groups & AG_COLUMNS)
        for (AppColumnList list : kColumnLists)
            *s.EditColumns(list) = GetDefaultColumns(list);
    if (groups & AG_EXT_TOOLS)
        LoadDefaultExtTools(*s.EditExtTools());
    // Last: the registry may refuse, and everything else is in place by then.
    if (groups & AG_OTHER) {
        s.SetAutoStart(false);
        s.SetAutorun(false);
    }
}

void ResetConfigurationGroups(CTransferDoc& d, uint32_t groups)
{
    if (groups & CG_SOURCE)
        d.SetSource(std::wstring(), SOURCE_NONE);
    if (groups & CG_DESTINATION)
        d.SetDestination(std::wstring(), DEST_KEYBOARD);
    if (groups & CG_READER)
        *d.EditReaderSettings() = ReaderSettings();
    if (groups & CG_KEYLIST) {
        for (const KvKeyPtr& key : d.GetKeys())
            key->flags |= KVKEY_DELETE;
        if (d.DeleteMarkedKeys() != 0)
            d.RaiseKeyListChange(TDK_REMOVED, true);
        d.SetKeyListSort(0);
        d.SetKeyListNoDuplicates(0);
        d.SetKeyListTimerInterval(1000);
        d.SetKeyListTimerEnabled(false);
    }
    if (groups & CG_KEYBOARD) {
        d.SetKeyboardMethod(KEYBOARD_METHOD_KEYSTROKES);
        d.SetAfterActivateDelay(400);
        d.SetAfterPressDelay(5);
        d.SetAfterReleaseDelay(5);
        d.SetKeyboardStartAdmin(false);
        d.SetWindowFilterEnabled(false);
        d.SetWindowFilterClass(L"*");
        d.SetWindowFilterTitle(L"*");
        d.SetWindowFilterFile(L"*");
    }
    if (groups & CG_PORTAVO) {
        d.SetPortavoType(1);
        d.SetPortavoNvt(true);
        d.SetPortavoServer(1000, 4);
        d.SetPortavoClient(L"127.0.0.1:25000", 1000);
    }
    if (groups & CG_CMDLINE) {
        // The initial folder stays.
        d.SetCmdLineProgram(std::wstring());
        d.SetCmdLineArguments(std::wstring());
    }
    if (groups & CG_HTTP)
        d.SetHttpAddress(std::wstring());
    if (groups & CG_FORMATS) {
        for (const KvFormatPtr& format : d.GetFormats())
            format->flags |= KVF_DELETE;
        d.DeleteMarkedFormats();
        if (d.presetsVersion != 0) {
            d.presetsVersion = 0;
            d.RaiseFormatsChange(TDF_PRESETS, true);
        }
        d.SetDefaultFormatId(0);
        d.FormatListChanged(TDL_LOADED);
        d.SetFormatsSort(0);
    }
    if (groups & CG_KEYFILTERS) {
        d.SetKeyFiltersSort(0);
        if (!d.GetKeyFilters().empty()) {
            d.KeyFilters().clear();
            d.KeyFiltersChanged(true);
        }
    }
    if (groups & (CG_FORMATS | CG_KEYFILTERS))
        d.LoadPresets((groups & CG_KEYFILTERS) != 0);
    if (groups & CG_READKEYS) {
        const ReadKeysSettings defaults;
        d.SetReadKeyTypes(defaults.keyTypes);
        d.SetMifareClassicEnabled(false);
        d.SetMifareClassicFlags(0);
        d.SetMifareClassicSector(0);
        d.SetMifareClassicBlock(1);
        d.SetMifareClassicMask(0xFFFFFFFF);
        d.SetMifareClassicKey(defaults.classic.key);
        d.SetTemicEnabled(false);
        d.SetTemicFlags(0);
        d.EditTemicSettings()->params = defaults.temic.params;
    }
    if (groups & CG_MIFARE_KEYS) {
        if (!d.GetMifareClassicKeys().empty()) {
            d.MifareClassicKeys().clear();
            d.MifareClassicKeysChanged();
        }
        if (!d.GetMifarePlusKeys().empty()) {
            d.MifarePlusKeys().clear();
            d.MifarePlusKeysChanged();
        }
    }
}

} // namespace

void ResetSettings(CAppSettings& settings, uint32_t configGroups, uint32_t appGroups)
{
    CTransferDoc& transfer = settings.GetTransferDoc();
    CDocUpdateScope transferScope(transfer, transfer.GetCurrentSender());
    {
        CDocUpdateScope scope(settings, settings.GetCurrentSender());
        ResetApplicationGroups(settings, appGroups & kAllAppGroups);
    }
    ResetConfigurationGroups(transfer, configGroups & kAllConfigGroups);
}
