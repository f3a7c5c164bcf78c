#pragma once
// The application settings document: the application part of "Norvane.json", the run-time
// state that pages and the main window share, and the owner of the current configuration
// (CTransferDoc) and of the event table object. One instance lives from before the entry
// point to exit. UI thread only.
#include <windows.h>
#include <array>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/ConfigFile.h"
#include "config/KeyNumber.h"
#include "config/TransferDoc.h"
#include "core/AppContext.h"
#include "core/Document.h"
#include "core/SysUtil.h"
#include "framework/ColumnDesc.h"
#include "config/EventLogDb.h"

constexpr const wchar_t* kSettingsFileName = L"Norvane.json";

// Change word 1 of the settings document.
constexpr uint32_t ASC_UNSAVED = 0x1;
constexpr uint32_t ASC_PATH = 0x2;            // the settings file path
constexpr uint32_t ASC_STATE = 0x4;           // run-time state, see the state detail word
constexpr uint32_t ASC_DOCDIR = 0x8;
constexpr uint32_t ASC_UI = 0x10;             // interface options, see the interface detail word
constexpr uint32_t ASC_PAGE = 0x20;           // page state, see the page detail word
constexpr uint32_t ASC_SOUNDS_ON = 0x40;
constexpr uint32_t ASC_SOUND_FILES = 0x80;
constexpr uint32_t ASC_HOTKEYS_ON = 0x100;
constexpr uint32_t ASC_HOTKEYS = 0x200;
constexpr uint32_t ASC_CSV = 0x400;
constexpr uint32_t ASC_FILE_TYPES = 0x800;    // file types last chosen for imports and exports
constexpr uint32_t ASC_HISTORY = 0x1000;
constexpr uint32_t ASC_TRANSFER_ON = 0x2000;
constexpr uint32_t ASC_EVENTLOG_ON = 0x4000;
constexpr uint32_t ASC_EVENTLOG_LIMIT = 0x8000;
constexpr uint32_t ASC_LOG_SWITCHES = 0x10000;  // debug log and transfer log switches
constexpr uint32_t ASC_AUTORUN = 0x20000;     // also "singleInstance" and "autoStart"
constexpr uint32_t ASC_KEYLIST_SELECTION = 0x40000;  // the key list page's selection; not stored
constexpr uint32_t ASC_EXT_TOOLS = 0x80000;

// State detail word (with ASC_STATE).
constexpr uint32_t ASS_HOTKEY_EDITING = 0x1;  // a hotkey field took or lost the focus
constexpr uint32_t ASS_SOUND_PLAYING = 0x2;
constexpr uint32_t ASS_KNOWN_READERS = 0x4;
constexpr uint32_t ASS_READER_JOB = 0x8;      // a reader job started or ended
constexpr uint32_t ASS_LAST_TRANSFER = 0x10;
constexpr uint32_t ASS_COUNTER = 0x20;
constexpr uint32_t ASS_BRIDGE_CONNECTIONS = 0x40;
constexpr uint32_t ASS_EVENT_TABLE = 0x80;
constexpr uint32_t ASS_CONFIG_FILES = 0x100;
constexpr uint32_t ASS_LANGUAGES = 0x200;
constexpr uint32_t ASS_EXT_TOOLS_EMPTIED = 0x400;

// Interface detail word (with ASC_UI).
constexpr uint32_t ASU_LANGUAGE = 0x1;
constexpr uint32_t ASU_CONFIRM = 0x2;
constexpr uint32_t ASU_TOPMOST = 0x4;
constexpr uint32_t ASU_SNAP_TO_EDGES = 0x8;
constexpr uint32_t ASU_TASKBAR_BUTTON = 0x10;
constexpr uint32_t ASU_VERSION_TITLE = 0x20;
constexpr uint32_t ASU_PANELS = 0x40;
constexpr uint32_t ASU_PAGELIST_PAGES = 0x80;
constexpr uint32_t ASU_PAGELIST_COLLAPSED = 0x100;
constexpr uint32_t ASU_ALT_LIST_COLOR = 0x200;
constexpr uint32_t ASU_TABLE_GRID = 0x400;
constexpr uint32_t ASU_NO_SORT_HEADER = 0x800;
constexpr uint32_t ASU_TRAY = 0x1000;
constexpr uint32_t ASU_CURRENT_PAGE = 0x2000;
constexpr uint32_t ASU_SOUNDS_COLUMNS = 0x10000;
constexpr uint32_t ASU_HOTKEYS_COLUMNS = 0x20000;
constexpr uint32_t ASU_HOTKEYS_FILTER = 0x40000;
constexpr uint32_t ASU_KEYLIST_COLUMNS = 0x100000;
constexpr uint32_t ASU_KEYLIST_FILTER = 0x200000;
constexpr uint32_t ASU_KEY_VIEW_FORMAT = 0x400000;
constexpr uint32_t ASU_FORMATS_COLUMNS = 0x800000;
constexpr uint32_t ASU_FORMATS_FILTER = 0x2000000;
constexpr uint32_t ASU_KEYFILTERS_COLUMNS = 0x20000000;
constexpr uint32_t ASU_EVENTLOG_COLUMNS = 0x80000000;
constexpr uint32_t ASU_LOADED = 0xA2FF5EFF;   // everything a load covers

// Page detail word (with ASC_PAGE).
constexpr uint32_t ASP_LOADED = 0x1;
constexpr uint32_t ASP_ADVANCED_COLLAPSED = 0x2;
constexpr uint32_t ASP_READKEYS_FLAGS = 0x4;
constexpr uint32_t ASP_DESTINATION_COLUMNS = 0x8;

// "history" bits: which states are remembered between runs. A clear bit also means that
// changing the state does not make the settings unsaved.
constexpr uint32_t HIST_POSITIONS = 1u << 0;
constexpr uint32_t HIST_SIZES = 1u << 1;
constexpr uint32_t HIST_PAGE = 1u << 2;
constexpr uint32_t HIST_PARAM_FROM = 1u << 3;
constexpr uint32_t HIST_PARAM_TO = 1u << 4;
constexpr uint32_t HIST_KEYLIST = 1u << 5;
constexpr uint32_t HIST_MIFARE_KEYS = 1u << 6;
constexpr uint32_t HIST_TRANSFER_ON = 1u << 7;
constexpr uint32_t HIST_LAST_TRANSFER = 1u << 8;
constexpr uint32_t HIST_SHOW_STATES = 1u << 9;
constexpr uint32_t HIST_PAGELIST = 1u << 10;
constexpr uint32_t HIST_ADVANCED = 1u << 11;
constexpr uint32_t HIST_KEYFILTERS_SORT = 1u << 12;
constexpr uint32_t HIST_EVENT_RECORDS = 1u << 13;
constexpr uint32_t kDefaultHistory = 7291;

// Hotkey word: virtual-key code in the low byte, RegisterHotKey's modifiers shifted left by 8,
// and the global bit. A hotkey entry holds the command id in its high half.
constexpr uint32_t HOTKEY_MOD_ALT = 0x100;
constexpr uint32_t HOTKEY_MOD_CTRL = 0x200;
constexpr uint32_t HOTKEY_MOD_SHIFT = 0x400;
constexpr uint32_t HOTKEY_MOD_WIN = 0x800;
constexpr uint32_t HOTKEY_GLOBAL = 0x8000;
constexpr uint32_t MakeHotkeyEntry(uint16_t command, uint16_t hotkey)
{
    return (static_cast<uint32_t>(command) << 16) | hotkey;
}
constexpr uint16_t HotkeyEntryCommand(uint32_t entry) { return static_cast<uint16_t>(entry >> 16); }
constexpr uint16_t HotkeyEntryWord(uint32_t entry) { return static_cast<uint16_t>(entry & 0xFFFF); }

// "panels" bits.
constexpr uint32_t PANEL_PAGELIST = 0x01;
constexpr uint32_t PANEL_STATUSBAR = 0x02;
constexpr uint32_t PANEL_TOOLBAR = 0x04;
constexpr uint32_t PANEL_HEADER = 0x08;

// "trayIcon" flags.
constexpr uint32_t TRAY_SHOW_MINIMIZED = 0x1;
constexpr uint32_t TRAY_SHOW_ALWAYS = 0x2;
constexpr uint32_t TRAY_BALLOON_HINT = 0x4;

// "confirm" bits: the questions that are asked; the "Do not ask" box of each clears its bit.
constexpr uint32_t CONFIRM_EXIT = 0x1;
constexpr uint32_t CONFIRM_SAVE_CONFIG = 0x2;
constexpr uint32_t CONFIRM_TEMIC = 0x4;
constexpr uint32_t CONFIRM_WRITE_KEYS = 0x8;
constexpr uint32_t CONFIRM_PRESET_TO_FORMAT = 0x10;
constexpr uint32_t CONFIRM_DELETE = 0x100;
constexpr uint32_t CONFIRM_REPLACE = 0x10000;
constexpr uint32_t kDefaultConfirm = CONFIRM_TEMIC | CONFIRM_WRITE_KEYS | CONFIRM_PRESET_TO_FORMAT | CONFIRM_DELETE |
                                     CONFIRM_REPLACE;  // 65820

constexpr int kMaxExtTools = 8;
constexpr int kWindowSlotCount = 10;       // slots 1 to 10
constexpr int kShowStateSlotCount = 2;     // slots 1 and 2 keep a show state
constexpr int kSoundEventCount = 4;
constexpr int kMaxPageId = 24;
// "pageList" "pages" by default: Transfer, Formats, Reading keys and Advanced (bit = page id).
constexpr uint32_t kDefaultPageListPages = 0x700001;
constexpr int32_t kNoWindowPos = INT_MIN;  // a position or size that was never stored

// Column lists of the pages. All but the Destination page's are stored.
enum AppColumnList : int
{
    COLS_EVENTLOG = 0,
    COLS_FORMATS,
    COLS_KEYFILTERS,
    COLS_SOUNDS,
    COLS_HOTKEYS,
    COLS_OPENCONFIG,
    COLS_KEYLIST,
    COLS_ADVANCED,
    COLS_COLUMNLIST,
    COLS_DESTINATION,
    COLS_COUNT
};
// The page's default columns.
std::vector<ColumnDesc> GetDefaultColumns(AppColumnList list);

// Key-extra flags of the last transfer: what the reader told of a Mifare Plus card. Bit 0 is
// the card's own attribute and shows nothing.
constexpr uint32_t LTX_PLUS_VARIANT_KNOWN = 0x02;
constexpr uint32_t LTX_PLUS_X = 0x04;           // variant X, else S
constexpr uint32_t LTX_LEVEL_KNOWN = 0x08;
constexpr uint32_t LTX_LEVEL_MASK = 0x30;       // the security level, shifted by LTX_LEVEL_SHIFT
constexpr int LTX_LEVEL_SHIFT = 4;

// The last transfer, shown on the Transfer page.
struct _LAST_TRANSFER
{
    CTimeValue time;            // 0: none
    int32_t keyType = 0;
    _KEY_NUMBER keyNumber{};
    uint32_t keyExtra = 0;      // LTX_* flags; not stored
    std::wstring keyText;       // e.g. the reader's connect text while no key was transferred; not stored
    std::wstring formatName;
    std::wstring transferred;
    std::wstring where;
    int32_t errorCode = 0;      // result code, 0 on success
    std::wstring errorText;
    int32_t counter = 0;
};

// A reader port or PC/SC reader that the port list refresh found, and what the reader told of
// itself. Run-time state only: nothing of it is stored.
struct _KNOWN_READER
{
    std::wstring name;          // port name, or the PC/SC reader's name
    int32_t portValue = 0;      // the port enumeration's value; 4096 for a PC/SC reader
    uint8_t present = 0;        // 1: a PC/SC reader, or a port whose reader identified itself
    int32_t kind = 0;           // port source (1 registry, 2 device), 4 PC/SC
    int32_t model = 0;          // index into the reader models, 0 unknown
    int32_t firmware = -1;      // packed firmware version, -1 unknown
    int32_t serial = 0;         // serial number
    std::wstring versionText;   // the model text the reader reported

    bool operator==(const _KNOWN_READER&) const = default;
};
using KnownReader = _KNOWN_READER;

// An interface language the shell found.
struct LanguageInfo
{
    std::wstring name;
    std::wstring text;
    uint32_t value = 0;

    bool operator==(const LanguageInfo&) const = default;
};

constexpr uint32_t EXTTOOL_START_ADMIN = 0x1;

struct _EXT_TOOL
{
    std::wstring name;
    std::wstring command;
    std::wstring arguments;
    std::wstring initialDir;
    uint32_t flags = 0;  // EXTTOOL_*

    bool operator==(const _EXT_TOOL&) const = default;
};

// Reads the "extTools" array of a group object into tools (at most 8, elements that are not
// objects skipped). False, with tools emptied, when the array is missing.
bool ReadExtToolList(const JsonValue* group, std::vector<_EXT_TOOL>& tools);
// The built-in list of resource 838.
void LoadDefaultExtTools(std::vector<_EXT_TOOL>& tools);
// The seven built-in hotkeys.
void SetDefaultHotkeys(std::vector<uint32_t>& hotkeys);

// Window slot placements; kNoWindowPos where nothing is stored.
struct WindowSlot
{
    int32_t left = kNoWindowPos;
    int32_t top = kNoWindowPos;
    int32_t width = kNoWindowPos;
    int32_t height = kNoWindowPos;

    bool operator==(const WindowSlot&) const = default;
};

// "debugLog": logLevel 1 to 6, maxSize in megabytes (-1 no limit).
constexpr DebugLogSettings kDefaultDebugLog = {false, 5, -1, true};

struct AppViewOptions
{
    bool topMost = false;
    bool snapToEdges = true;
    bool taskbarButton = true;
    bool versionTitle = false;
    bool altListBkColor = true;
    bool tableGrid = false;

    bool operator==(const AppViewOptions&) const = default;
};

struct CsvOptions
{
    wchar_t delimiter = L';';
    int32_t encoding = 1;       // 1 or 2 (UTF-8)

    bool operator==(const CsvOptions&) const = default;
};

struct ManageSettingsState
{
    int32_t mode = 0;
    int32_t tParams = -1;       // configuration groups, -1 all
    int32_t aParams = -1;       // application groups, -1 all

    bool operator==(const ManageSettingsState&) const = default;
};

// Detail words that observers read during a notification.
struct AppSettingsDetails
{
    uint32_t state = 0;
    uint32_t ui = 0;
    uint32_t page = 0;
};

// What the change of a settings group raises: change word 1, with the bit of the state,
// interface or page detail word when the change is ASC_STATE, ASC_UI or ASC_PAGE; and whether
// it makes the settings unsaved: always, under a "history" bit, or never (run-time state).
struct SettingsChange
{
    uint32_t change = 0;
    uint32_t detail = 0;
    uint32_t storedUnder = 0;   // kAlwaysStored, a HIST_* bit, or 0
};
constexpr uint32_t kAlwaysStored = ~0u;

class CAppSettings;
// An edit of a settings group without a setter of its own (CDocEdit).
template <class T>
using CSettingsEdit = CDocEdit<CAppSettings, T>;

// The sound file of an event (0 to 3) that a settings file without sounds starts with.
std::wstring GetDefaultSoundFile(int index);

// Group lookups shared with the settings import and export: with create, the member is
// created when missing and made an object; without, it is returned only when it is an object.
JsonValue* GetSettingsGroup(JsonValue& parent, const wchar_t* name, bool create);
// The key-filters page object of "ui": "formatFilters" in files older than 1.4 (never
// created), "keyFilters" from 1.4 on.
JsonValue* GetKeyFiltersPageGroup(JsonValue& ui, PackedVersion version, bool create);
// The array "keyFilters" of an object; with create, made an array when missing.
JsonArray* GetKeyFilterArray(JsonValue& parent, bool create);

class CAppSettings : public CDocument, public ILogSettingsSource
{
public:
    CAppSettings();
    ~CAppSettings() override;

    // Every default; the unsaved flag cleared. Raises nothing.
    void SetDefaults();
    // The four sound files as a settings file's reading starts them.
    void SetDefaultSounds();

    // The data folder (where "Norvane.json" lies) and whether the program runs portable.
    void SetDataFolder(const std::wstring& folder, bool portable);
    const std::wstring& GetDataFolder() const { return m_dataFolder; }
    bool IsPortable() const { return m_portable; }
    const std::wstring& GetSettingsPath() const { return m_settingsPath; }
    void SetSettingsPath(const std::wstring& path);

    bool IsUnsaved() const { return m_unsaved; }

    // Start-up: Load(true, configuration). Without a settings file, or with one that could
    // not be read, the defaults stay and the built-in tools come in (unsaved).
    void LoadOrDefaults(bool configuration);
    // Reads the settings file: the application part with main, and, while the current
    // configuration has no file of its own, the configuration part. Errors propagate; false
    // when the file was not read (no header, another major version, or damaged).
    bool Load(bool main, bool configuration);
    // Writes the settings file by the save rules. Errors propagate.
    void Save(bool main, bool configuration);
    // The application part, for a file of major version 1. An unsaved configuration is
    // saved before anything is read when the file names another one.
    void ReadSettings(CAppCfgFile& file);
    void WriteSettings(CAppCfgFile& file);
    // The settings import: the chosen application groups (AG_* of config/SettingsGroups.h) of a
    // loaded file, each set to its defaults, its change raised and its members read by the
    // version rules; the settings are marked unsaved and told once. "Other settings" that name
    // another configuration open it first (the current one saved when it is unsaved).
    void ImportGroups(const JsonValue& root, PackedVersion version, uint32_t groups);
    // Saves the current configuration when it is unsaved, closes it and opens the one at path;
    // an empty path reads the configuration of the main settings file again.
    void ReopenConfiguration(const std::wstring& path);

    // The documents folder: "docDir" expanded, or the data folder; relative ones below the
    // program folder (portable) or the data folder. With create, missing folders are made
    // (COSException on failure).
    void ResolveDocumentsFolder(std::wstring& out, bool create) const;
    // An empty name gives an empty path; an absolute one stays; a relative one goes below
    // the documents folder.
    void MakeDocumentPath(const std::wstring& name, std::wstring& out, bool create) const;
    // The "configuration" text: empty without an own file, else relative to the documents
    // folder when below it, else the full path.
    void GetConfigDisplayPath(std::wstring& out) const;
    // True when a "configuration" text names a device, as it stands or as the path it is
    // opened at below the documents folder that docDir names. Such a name is never opened.
    bool NamesDevice(const std::wstring& docDir, const std::wstring& name) const;
    // The device that the settings file named as the configuration at the last load, when the
    // default configuration was read instead; empty when none. Handed out once.
    std::wstring TakeRefusedDevice() { return std::exchange(m_refusedDevice, std::wstring()); }

    int FindConfigFile(const std::wstring& name) const;
    // count -1 (or above the size): all records.
    int FindReader(const std::wstring& name, int count = -1) const;
    int FindLanguage(const std::wstring& name) const;

    // What the debug log reads: the documents folder (created; empty when that fails) and
    // the "debugLog" group.
    std::wstring ResolveLogFolder() override;
    DebugLogSettings GetDebugLogSettings() override { return debugLog; }

    // Change raising, inside an update scope.
    void RaiseChange(uint32_t word1, uint32_t word2, bool markUnsaved);
    void RaiseStateChange(uint32_t mask, bool markUnsaved);
    void RaiseUiChange(uint32_t mask, bool markUnsaved);
    void RaisePageStateChange(uint32_t mask, bool markUnsaved);

    void SetModified(uint32_t word1, uint32_t word2 = 0) override;
    void NotifyObservers() override;
    // The detail words of the notification being delivered.
    const AppSettingsDetails& GetDetails() const { return m_notified; }

    // Setters: an equal value changes nothing.
    void SetHistoryFlags(uint32_t flags);
    void SetDocumentsFolder(const std::wstring& folder);
    void SetCloneNewConfig(bool clone);
    // Writes or deletes the autorun value with the program's path. A registry failure is
    // thrown as COSException after the change is raised (observers re-read the registry).
    void SetAutorun(bool on);
    void SetTransferEnabled(bool enabled);
    // Null texts stand for empty ones. A record that differs only in its time takes the
    // time silently.
    void SetLastTransferInfo(const CTimeValue& time, int32_t keyType, const _KEY_NUMBER& key, uint32_t keyExtra,
                             const wchar_t* keyText, int32_t errorCode, const wchar_t* errorText,
                             const wchar_t* formatName, const wchar_t* transferred, const wchar_t* where);
    // The transfer counter of the last transfer; unsaved only under "history" bit 8, as
    // the record it belongs to.
    void SetTransferCounter(int32_t counter);
    void SetKeyViewFormat(int32_t format);
    void SetKeyEditFormat(int32_t format);
    void SetKeyListImport(int32_t type);
    void SetKeyListExport(int32_t type);
    void SetKeyListFilter(uint32_t filter);
    void SetFormatsImport(int32_t type);
    void SetFormatsExport(int32_t type);
    void SetFormatsFilter(uint32_t filter);
    void SetReadKeysViewFlags(uint32_t flags);
    void SetSoundsEnabled(bool enabled);
    void SetSoundFile(int index, const std::wstring& file);
    void SetHotkeysEnabled(bool enabled);
    void SetHotkeysFilterFlags(uint32_t flags);
    void SetEventLogEnabled(bool enabled);
    void ResetEventLogLimit();
    void SetAdvancedShowAll(bool showAll);
    void SetLanguage(const std::wstring& language);
    void SetTrayIconFlags(uint32_t flags);
    void SetTrayClickCommands(const std::array<uint16_t, 4>& commands);
    void SetCurrentPage(int32_t page);
    void ResetExtTools();
    // The built-in tools when a load left none: ASC_EXT_TOOLS, and the settings stay saved.
    void RestoreDefaultExtTools();
    void SetConfirmFlags(uint32_t flags);
    void SetNoSortHeader(bool noSortHeader);
    void SetPanels(uint32_t panels);
    void SetPageListPages(uint32_t pages);
    void SetPageListCollapsed(bool collapsed);

    // Getters of the setter-governed values.
    uint32_t GetHistoryFlags() const { return m_history; }
    uint32_t GetSavedHistoryFlags() const { return m_savedHistory; }
    bool IsHistory(uint32_t bit) const { return (m_history & bit) != 0; }
    const std::wstring& GetDocumentsFolderSetting() const { return m_docDir; }
    bool GetCloneNewConfig() const { return m_cloneNewConfig; }
    bool IsTransferEnabled() const { return m_transferOn; }
    const _LAST_TRANSFER& GetLastTransfer() const { return m_lastTransfer; }
    int32_t GetKeyViewFormat() const { return m_keyViewFormat; }
    int32_t GetKeyEditFormat() const { return m_keyEditFormat; }
    int32_t GetKeyListImport() const { return m_keyListImport; }
    int32_t GetKeyListExport() const { return m_keyListExport; }
    uint32_t GetKeyListFilter() const { return m_keyListFilter; }
    int32_t GetFormatsImport() const { return m_formatsImport; }
    int32_t GetFormatsExport() const { return m_formatsExport; }
    uint32_t GetFormatsFilter() const { return m_formatsFilter; }
    uint32_t GetReadKeysViewFlags() const { return m_readKeysFlags; }
    bool IsSoundsEnabled() const { return m_soundsEnabled; }
    const std::wstring& GetSoundFile(int index) const { return m_soundFiles.at(index); }
    bool IsHotkeysEnabled() const { return m_hotkeysEnabled; }
    uint32_t GetHotkeysFilterFlags() const { return m_hotkeysFilter; }
    bool IsEventLogEnabled() const { return m_eventLogEnabled; }
    int32_t GetEventLogLimit() const { return m_eventLogLimit; }
    bool GetAdvancedShowAll() const { return m_advancedShowAll; }
    const std::wstring& GetLanguage() const { return m_language; }
    uint32_t GetTrayIconFlags() const { return m_trayFlags; }
    const std::array<uint16_t, 4>& GetTrayClickCommands() const { return m_trayCommands; }
    int32_t GetCurrentPage() const { return m_currentPage; }
    int32_t GetPreviousPage() const { return m_previousPage; }
    uint32_t GetConfirmFlags() const { return m_confirm; }
    bool GetNoSortHeader() const { return m_noSortHeader; }
    uint32_t GetPanels() const { return m_panels; }
    uint32_t GetPageListPages() const { return m_pageListPages; }
    bool IsPageListCollapsed() const { return m_pageListCollapsed; }

    CTransferDoc& GetTransferDoc() { return m_transfer; }
    const CTransferDoc& GetTransferDoc() const { return m_transfer; }
    CEventLogDb& GetEventLog() { return m_eventLog; }

    // Raises what a change of a settings group raises, inside an update scope (CDocEdit).
    using EditChange = SettingsChange;
    void RaiseEditChange(const SettingsChange& change);

    // "main" "singleInstance" and "transfer" "autoStart" (ASC_AUTORUN), "transfer"
    // "transferLog" (ASC_LOG_SWITCHES); each marks the settings unsaved.
    void SetSingleInstance(bool on);
    void SetAutoStart(bool on);
    void SetTransferLog(bool on);
    // "topMost" ... "tableGrid": each field that differs raises its own interface detail bit.
    void SetViewOptions(const AppViewOptions& options);
    // A window slot (index = slot - 1) and a show state (slots 1 and 2). Each marks the settings
    // unsaved only while "history" remembers it: positions, sizes and show states by their bits.
    void SetWindowSlot(int index, const WindowSlot& slot);
    void SetShowState(int index, int32_t state);
    // The last key typed in the key dialog; run-time only, raises nothing.
    void SetLastTypedKey(int32_t keyType, const _KEY_NUMBER& key);

    // Edits of the groups and lists without setters (CSettingsEdit): what each raises.
    CSettingsEdit<DebugLogSettings> EditDebugLog();                 // ASC_LOG_SWITCHES
    CSettingsEdit<CsvOptions> EditCsv();                            // ASC_CSV
    CSettingsEdit<ManageSettingsState> EditManageSettings();        // only the unsaved mark
    CSettingsEdit<std::vector<uint32_t>> EditHotkeys();             // ASC_HOTKEYS
    CSettingsEdit<std::vector<_EXT_TOOL>> EditExtTools();           // ASC_EXT_TOOLS
    CSettingsEdit<std::vector<uint16_t>> EditAdvancedCollapsed();   // page detail ASP_ADVANCED_COLLAPSED
    // Run-time lists the shell keeps: state details, never unsaved.
    CSettingsEdit<std::vector<KnownReader>> EditKnownReaders();     // ASS_KNOWN_READERS
    CSettingsEdit<std::vector<std::wstring>> EditConfigFiles();     // ASS_CONFIG_FILES
    CSettingsEdit<std::vector<LanguageInfo>> EditLanguages();       // ASS_LANGUAGES
    // A page's column list: its interface detail bit where it has one, else only the unsaved mark.
    CSettingsEdit<std::vector<ColumnDesc>> EditColumns(AppColumnList list);
    const std::vector<ColumnDesc>& Columns(AppColumnList list) const { return m_columns.at(list); }

private:
    DebugLogSettings m_debugLog = kDefaultDebugLog;
    bool m_singleInstance = true;
    bool m_transferLog = false;
    bool m_autoStart = false;
    AppViewOptions m_view;
    CsvOptions m_csv;
    ManageSettingsState m_manageSettings;
    std::vector<std::wstring> m_configFiles;
    std::vector<KnownReader> m_knownReaders;
    std::vector<LanguageInfo> m_languages;
    std::vector<uint32_t> m_hotkeys;
    std::vector<_EXT_TOOL> m_extTools;
    std::vector<uint16_t> m_advancedCollapsed;
    std::array<WindowSlot, kWindowSlotCount> m_windowSlots{};
    std::array<int32_t, kShowStateSlotCount> m_showStates{};
    int32_t m_lastKeyType = 1;
    _KEY_NUMBER m_lastKey{};

public:
    // Read-only views of the groups above; they change through the setters and edits.
    const bool& singleInstance = m_singleInstance;          // "main"
    const bool& transferLog = m_transferLog;                // "transfer"
    const bool& autoStart = m_autoStart;
    const DebugLogSettings& debugLog = m_debugLog;
    const AppViewOptions& view = m_view;
    const CsvOptions& csv = m_csv;
    const ManageSettingsState& manageSettings = m_manageSettings;
    const std::vector<std::wstring>& configFiles = m_configFiles;  // "*.nv2" names without extension, sorted by the shell
    const std::vector<KnownReader>& knownReaders = m_knownReaders;
    const std::vector<LanguageInfo>& languages = m_languages;
    const std::vector<uint32_t>& hotkeys = m_hotkeys;       // hotkey entries
    const std::vector<_EXT_TOOL>& extTools = m_extTools;
    const std::vector<uint16_t>& advancedCollapsed = m_advancedCollapsed;
    const std::array<WindowSlot, kWindowSlotCount>& windowSlots = m_windowSlots;  // index slot - 1
    const std::array<int32_t, kShowStateSlotCount>& showStates = m_showStates;
    const int32_t& lastKeyType = m_lastKeyType;             // the last key typed in the key dialog
    const _KEY_NUMBER& lastKey = m_lastKey;

private:
    class CSchemaReader;
    class CSchemaWriter;

    void SetUnsaved(bool unsaved);
    void ResetColumns();
    // The documents folder that a given "docDir" text names.
    void ResolveFolderFor(const std::wstring& docDir, std::wstring& out) const;
    std::wstring MakeDocumentPathFor(const std::wstring& docDir, const std::wstring& name) const;
    // The configuration path that a settings file names (its "main" "docDir" and "configuration").
    std::wstring ConfigPathNamedBy(const JsonValue& root) const;
    // Saves an unsaved configuration that is about to be replaced by the one at newPath.
    void SaveConfigurationBefore(const std::wstring& newPath);

    std::wstring m_settingsPath;
    std::wstring m_dataFolder;
    bool m_portable = false;
    bool m_unsaved = false;
    uint32_t m_history = kDefaultHistory;
    bool m_cloneNewConfig = true;
    std::wstring m_docDir;
    std::wstring m_refusedDevice;
    bool m_transferOn = false;
    _LAST_TRANSFER m_lastTransfer;
    int32_t m_keyViewFormat = KEY_VIEW_HEX;
    int32_t m_keyEditFormat = 3;
    int32_t m_keyListImport = 1;
    int32_t m_keyListExport = 1;
    uint32_t m_keyListFilter = 4;
    int32_t m_formatsImport = 1;
    int32_t m_formatsExport = 1;
    uint32_t m_formatsFilter = 5;
    uint32_t m_readKeysFlags = 0;
    bool m_soundsEnabled = false;
    std::array<std::wstring, kSoundEventCount> m_soundFiles;
    bool m_hotkeysEnabled = true;
    uint32_t m_hotkeysFilter = 0;
    bool m_eventLogEnabled = false;
    int32_t m_eventLogLimit = kEventLogNoLimit;
    CEventLogDb m_eventLog;
    bool m_advancedShowAll = false;
    std::wstring m_language;
    uint32_t m_trayFlags = 0;
    std::array<uint16_t, 4> m_trayCommands{};
    int32_t m_currentPage = 0;
    int32_t m_previousPage = -1;
    uint32_t m_confirm = kDefaultConfirm;
    bool m_pageListCollapsed = false;
    bool m_noSortHeader = false;
    uint32_t m_panels = 9;
    uint32_t m_pageListPages = kDefaultPageListPages;
    std::array<std::vector<ColumnDesc>, COLS_COUNT> m_columns;

    CTransferDoc m_transfer;

    uint32_t m_savedHistory = kDefaultHistory;
    uint32_t m_pending1 = 0;
    uint32_t m_pending2 = 0;
    AppSettingsDetails m_details;
    AppSettingsDetails m_notified;
};
