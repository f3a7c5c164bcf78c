// The application part of the settings file: reading with its defaults and range rules,
// writing in the fixed member order.
#include <algorithm>
#include <cstdio>

#include "config/AppSettings.h"
#include "core/AppLog.h"
#include "core/File.h"
#include "config/ConfigMembers.h"
#include "config/SettingsGroups.h"
#include "resources/resource.h"

namespace {

constexpr PackedVersion kVersion14 = 0x0401;  // "keyFilters" and the formats page filter from here on

struct ColumnDefault
{
    int width;
    int order;
    int format;
    bool visible;
};

constexpr int L = COLFMT_LEFT;
constexpr int R = COLFMT_RIGHT;
constexpr int C = COLFMT_CENTER;

const ColumnDefault kEventLogColumns[] = {{127, 0, L, true}, {60, 1, L, true}, {150, 2, L, true}};
const ColumnDefault kFormatsColumns[] = {{44, 1, L, true},   {35, 0, R, true},   {42, 2, R, false},
                                         {180, 3, L, true},  {50, 4, L, false},  {50, 5, L, false},
                                         {150, 6, L, false}, {150, 7, L, true},  {20, 8, L, false}};
const ColumnDefault kKeyFiltersColumns[] = {{20, 0, L, true},   {35, 1, L, true},  {35, 2, L, false},
                                            {150, 3, L, true},  {100, 4, L, true}, {45, 5, L, true}};
const ColumnDefault kSoundsColumns[] = {{150, 0, L, true}, {200, 1, L, true}, {25, 2, C, true},
                                        {25, 3, C, true},  {25, 4, C, true}};
const ColumnDefault kHotkeysColumns[] = {{200, 0, L, true}, {150, 1, L, true}, {20, 2, L, true}};
const ColumnDefault kOpenConfigColumns[] = {{35, 0, L, true}, {150, 1, L, true}, {150, 2, L, true}};
const ColumnDefault kKeyListColumns[] = {{35, 0, L, true},  {65, 1, L, true},  {150, 2, L, true},
                                         {35, 3, L, true},  {136, 4, L, true}, {141, 5, L, true}};
const ColumnDefault kAdvancedColumns[] = {{300, 0, L, true}, {150, 1, L, true}};
const ColumnDefault kColumnListColumns[] = {{20, 0, L, true}, {35, 1, L, true}, {150, 2, L, true},
                                            {95, 3, L, true}, {20, 4, C, true}};
const ColumnDefault kDestinationColumns[] = {{20, 0, L, true},  {35, 1, L, true}, {150, 2, L, true},
                                             {150, 3, L, true}, {150, 4, L, true}};

template <size_t N>
std::vector<ColumnDesc> MakeColumns(const ColumnDefault (&defaults)[N])
{
    std::vector<ColumnDesc> columns;
    columns.reserve(N);
    for (const ColumnDefault& d : defaults) {
        ColumnDesc c;
        c.width = d.width;
        c.order = d.order;
        c.format = d.format;
        c.flags = d.visible ? COLF_VISIBLE : 0;
        columns.push_back(c);
    }
    return columns;
}

// Where each stored column list lives under "ui".
struct PageColumns
{
    const wchar_t* page;
    AppColumnList list;
};

bool InRange(int32_t value, int32_t low, int32_t high)
{
    return value >= low && value <= high;
}

// An integer member in [low, high] replaces the value; anything else is ignored.
bool ReadRange(const JsonValue* parent, const wchar_t* key, int32_t& out, int32_t low, int32_t high)
{
    int32_t value;
    if (!cfg::ReadInt32(parent, key, value) || !InRange(value, low, high))
        return false;
    out = value;
    return true;
}

bool ReadUInt16(const JsonValue* parent, const wchar_t* key, uint16_t& out)
{
    uint32_t value;
    if (!cfg::ReadUInt32(parent, key, value))
        return false;
    out = static_cast<uint16_t>(value);
    return true;
}

const JsonValue* ObjectOrNull(const JsonValue* parent, const wchar_t* key)
{
    return cfg::FindObject(parent, key);
}

void ReadColumns(const JsonValue* page, std::vector<ColumnDesc>& columns)
{
    const JsonArray* array = cfg::FindArray(page, L"columns");
    if (array == nullptr)
        return;
    const size_t n = std::min(array->size(), columns.size());
    for (size_t i = 0; i < n; ++i) {
        const JsonValue& element = (*array)[i];
        if (element.GetType() != JSON_OBJECT)
            continue;
        ColumnDesc& c = columns[i];
        cfg::ReadInt32(&element, L"width", c.width);
        cfg::ReadInt32(&element, L"order", c.order);
        ReadRange(&element, L"align", c.format, COLFMT_LEFT, COLFMT_CENTER);
        uint32_t flags = static_cast<uint32_t>(c.flags);
        cfg::ReadFlag(&element, L"visible", flags, COLF_VISIBLE);
        cfg::ReadFlag(&element, L"autoSize", flags, COLF_AUTOSIZE);
        c.flags = static_cast<int>(flags);
    }
}

std::wstring FormatTransferTime(const CTimeValue& time)
{
    SYSTEMTIME st;
    std::wstring text;
    if (time.GetTime() != 0 && time.GetSystemTime(st))
        FormatString(text, L"%.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d", st.wDay, st.wMonth, st.wYear, st.wHour,
                     st.wMinute, st.wSecond, 0);
    return text;
}

// All seven numbers of the pattern, each within its field, or the time stays 0.
CTimeValue ParseTransferTime(const std::wstring& text)
{
    int day, month, year, hour, minute, second, ms;
    CTimeValue time;
    if (swscanf(text.c_str(), L"%d.%d.%d %d:%d:%d.%d", &day, &month, &year, &hour, &minute, &second, &ms) != 7)
        return time;
    if (!InRange(hour, 0, 23) || !InRange(minute, 0, 59) || !InRange(second, 0, 59) || !InRange(ms, 0, 999) ||
        !InRange(year, 0, 30827) || !InRange(month, 0, 0xFFFF) || !InRange(day, 0, 0xFFFF))
        return time;
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = static_cast<WORD>(ms);
    time.SetSystemTime(st);
    return time;
}

}  // namespace

std::vector<ColumnDesc> GetDefaultColumns(AppColumnList list)
{
    switch (list) {
    case COLS_EVENTLOG: return MakeColumns(kEventLogColumns);
    case COLS_FORMATS: return MakeColumns(kFormatsColumns);
    case COLS_KEYFILTERS: return MakeColumns(kKeyFiltersColumns);
    case COLS_SOUNDS: return MakeColumns(kSoundsColumns);
    case COLS_HOTKEYS: return MakeColumns(kHotkeysColumns);
    case COLS_OPENCONFIG: return MakeColumns(kOpenConfigColumns);
    case COLS_KEYLIST: return MakeColumns(kKeyListColumns);
    case COLS_ADVANCED: return MakeColumns(kAdvancedColumns);
    case COLS_COLUMNLIST: return MakeColumns(kColumnListColumns);
    case COLS_DESTINATION: return MakeColumns(kDestinationColumns);
    default: return {};
    }
}

void SetDefaultHotkeys(std::vector<uint32_t>& hotkeys)
{
    hotkeys = {
        MakeHotkeyEntry(ID_TRANSFER_START, VK_F5),
        MakeHotkeyEntry(ID_TRANSFER_STOP, HOTKEY_MOD_ALT | VK_F5),
        MakeHotkeyEntry(ID_TRANSFER_RESTART, HOTKEY_MOD_CTRL | HOTKEY_MOD_ALT | VK_F5),
        MakeHotkeyEntry(ID_CONFIG_SAVE, HOTKEY_MOD_CTRL | 'S'),
        MakeHotkeyEntry(ID_APP_ABOUT, HOTKEY_MOD_SHIFT | VK_OEM_2),
        MakeHotkeyEntry(ID_NEXT_KEY, VK_F6),
        MakeHotkeyEntry(ID_PREVIOUS_PAGE, HOTKEY_MOD_CTRL | VK_TAB),
    };
}

bool ReadExtToolList(const JsonValue* group, std::vector<_EXT_TOOL>& tools)
{
    tools.clear();
    const JsonArray* array = cfg::FindArray(group, L"extTools");
    if (array == nullptr)
        return false;
    for (const JsonValue& element : *array) {
        if (tools.size() >= static_cast<size_t>(kMaxExtTools))
            break;
        if (element.GetType() != JSON_OBJECT)
            continue;
        _EXT_TOOL tool;
        cfg::ReadString(&element, L"name", tool.name);
        cfg::ReadString(&element, L"command", tool.command);
        cfg::ReadString(&element, L"arguments", tool.arguments);
        cfg::ReadString(&element, L"initialDir", tool.initialDir);
        cfg::ReadFlag(&element, L"startAdmin", tool.flags, EXTTOOL_START_ADMIN);
        tools.push_back(std::move(tool));
    }
    return true;
}

void LoadDefaultExtTools(std::vector<_EXT_TOOL>& tools)
{
    CMemJson json;
    json.LoadFromResource(IDR_EXT_TOOLS);
    ReadExtToolList(json.Root.FindMember(L"extTools", JSON_OBJECT), tools);
}

JsonValue* GetSettingsGroup(JsonValue& parent, const wchar_t* name, bool create)
{
    if (!create)
        return parent.FindMember(name, JSON_OBJECT);
    JsonValue& member = parent.Member(name);
    member.SetType(JSON_OBJECT);
    return &member;
}

JsonValue* GetKeyFiltersPageGroup(JsonValue& ui, PackedVersion version, bool create)
{
    if (CompareVersions(version, kVersion14) < 0)
        return ui.FindMember(L"formatFilters", JSON_OBJECT);
    return GetSettingsGroup(ui, L"keyFilters", create);
}

JsonArray* GetKeyFilterArray(JsonValue& parent, bool create)
{
    if (!create) {
        JsonValue* member = parent.FindMember(L"keyFilters", JSON_ARRAY);
        return member != nullptr ? member->ArrayPtr() : nullptr;
    }
    JsonValue& member = parent.Member(L"keyFilters");
    member.SetType(JSON_ARRAY);
    return member.ArrayPtr();
}

// Reading ---------------------------------------------------------------------------------------

class CAppSettings::CSchemaReader
{
public:
    CSchemaReader(CAppSettings& settings, CAppCfgFile& file)
        : m_s(settings), m_root(file.Root), m_version(file.GetVersion())
    {
    }
    CSchemaReader(CAppSettings& settings, const JsonValue& root, PackedVersion version)
        : m_s(settings), m_root(root), m_version(version)
    {
    }

    void Run()
    {
        ReadMain();
        ReadDebugLog();
        ReadTransfer();
        ReadLastTransfer();
        ReadEventLog();
        ReadUi();
        ReadSounds();
        ReadHotkeys();
        ReadCsv();
        ReadExtTools();
    }

    // The chosen groups (AG_*) of an imported file: each from its defaults, its change raised.
    void Import(uint32_t groups)
    {
        CAppSettings& s = m_s;
        if (groups & AG_OTHER) {
            ReadDocDir();
            ReadMainFlags();
            ReadDebugLog();
            ReadTransfer(true);
            ReadLastTransfer();
            ReadEventLog();
            ReadUiGeneral(m_root.FindMember(L"ui", JSON_OBJECT));
            s.RaiseUiChange(ASU_LANGUAGE | ASU_TOPMOST | ASU_SNAP_TO_EDGES | ASU_TASKBAR_BUTTON | ASU_VERSION_TITLE |
                                ASU_ALT_LIST_COLOR | ASU_TABLE_GRID | ASU_NO_SORT_HEADER | ASU_CURRENT_PAGE |
                                ASU_HOTKEYS_FILTER | ASU_KEYLIST_FILTER | ASU_KEY_VIEW_FORMAT | ASU_FORMATS_FILTER,
                            false);
            s.RaisePageStateChange(ASP_READKEYS_FLAGS | ASP_ADVANCED_COLLAPSED, false);
            s.RaiseChange(ASC_FILE_TYPES, 0, false);
            ReadCsv();
        }
        if (groups & AG_EXT_TOOLS)
            ReadExtTools();
        if (groups & AG_SOUNDS)
            ReadSounds();
        if (groups & AG_HOTKEYS)
            ReadHotkeys();
        if (!(groups & kUiPartGroups))
            return;
        const JsonValue* ui = m_root.FindMember(L"ui", JSON_OBJECT);
        if (groups & AG_CONFIRM) {
            ReadConfirm(ui);
            s.RaiseUiChange(ASU_CONFIRM, false);
        }
        if (groups & AG_WINDOWS)
            ReadWindowPositions(ui);
        if (groups & AG_TRAY) {
            ReadTrayIcon(ObjectOrNull(ui, L"trayIcon"));
            s.RaiseUiChange(ASU_TRAY, false);
        }
        if (groups & AG_PANELS) {
            ReadPanels(ui);
            s.RaiseUiChange(ASU_PANELS, false);
        }
        if (groups & AG_PAGELIST) {
            ReadPageList(ObjectOrNull(ui, L"pageList"));
            s.RaiseUiChange(ASU_PAGELIST_PAGES | ASU_PAGELIST_COLLAPSED, false);
        }
        if (groups & AG_COLUMNS) {
            ReadAllColumns(ui);
            s.RaiseUiChange(ASU_EVENTLOG_COLUMNS | ASU_FORMATS_COLUMNS | ASU_KEYFILTERS_COLUMNS | ASU_SOUNDS_COLUMNS |
                                ASU_HOTKEYS_COLUMNS | ASU_KEYLIST_COLUMNS,
                            false);
        }
    }

private:
    bool IsOlderThan14() const { return CompareVersions(m_version, kVersion14) < 0; }

    void ReadMain()
    {
        ReadDocDir();
        std::wstring configuration;
        cfg::ReadString(ObjectOrNull(&m_root, L"main"), L"configuration", configuration);
        // A device is no configuration file: opening it would close the configuration and end
        // in an error about a copy of the device. The default configuration stands instead, and
        // the device is kept for the event table, which opens later in the start-up.
        if (m_s.NamesDevice(m_s.m_docDir, configuration)) {
            CAppContext* app = GetAppContext();
            if (app && app->IsLogged(LOG_THRESHOLD_WARNING))
                LogMessage(app, nullptr, LOG_WARNING,
                           L"The settings name the device \"%s\" as the configuration: the default configuration is used.",
                           configuration.c_str());
            m_s.m_refusedDevice = std::move(configuration);
            configuration.clear();
        }
        std::wstring path;
        m_s.MakeDocumentPath(configuration, path, false);
        CTransferDoc& transfer = m_s.m_transfer;
        if (path.size() != transfer.GetPathName().size() ||
            _wcsicmp(path.c_str(), transfer.GetPathName().c_str()) != 0)
            transfer.SetPathName(path);
        ReadMainFlags();
    }

    void ReadDocDir()
    {
        m_s.m_docDir.clear();
        cfg::ReadString(ObjectOrNull(&m_root, L"main"), L"docDir", m_s.m_docDir);
        m_s.RaiseChange(ASC_DOCDIR, 0, false);
    }

    void ReadMainFlags()
    {
        const JsonValue* main = ObjectOrNull(&m_root, L"main");
        m_s.m_singleInstance = true;
        m_s.m_cloneNewConfig = true;
        m_s.m_history = kDefaultHistory;
        cfg::ReadBool(main, L"singleInstance", m_s.m_singleInstance);
        cfg::ReadBool(main, L"cloneNewConfig", m_s.m_cloneNewConfig);
        cfg::ReadUInt32(main, L"history", m_s.m_history);
        m_s.m_savedHistory = m_s.m_history;
        m_s.RaiseChange(ASC_HISTORY | ASC_LOG_SWITCHES | ASC_AUTORUN, 0, false);
    }

    void ReadDebugLog()
    {
        const JsonValue* log = ObjectOrNull(&m_root, L"debugLog");
        DebugLogSettings& o = m_s.m_debugLog;
        o = kDefaultDebugLog;
        cfg::ReadBool(log, L"enabled", o.enabled);
        ReadRange(log, L"logLevel", o.logLevel, 1, 6);
        cfg::ReadInt32(log, L"maxSize", o.maxSize);
        cfg::ReadBool(log, L"clearOnStartup", o.clearOnStartup);
        m_s.RaiseChange(ASC_LOG_SWITCHES | ASC_AUTORUN, 0, false);
    }

    // anyHistory: "enabled" is read whatever "history" says (an import reads what the export
    // writes).
    void ReadTransfer(bool anyHistory = false)
    {
        const JsonValue* transfer = ObjectOrNull(&m_root, L"transfer");
        if (anyHistory || m_s.IsHistory(HIST_TRANSFER_ON)) {
            m_s.m_transferOn = false;
            cfg::ReadBool(transfer, L"enabled", m_s.m_transferOn);
            m_s.RaiseChange(ASC_TRANSFER_ON, 0, false);
        }
        m_s.m_transferLog = false;
        m_s.m_autoStart = false;
        cfg::ReadBool(transfer, L"transferLog", m_s.m_transferLog);
        cfg::ReadBool(transfer, L"autoStart", m_s.m_autoStart);
    }

    void ReadLastTransfer()
    {
        if (!m_s.IsHistory(HIST_LAST_TRANSFER))
            return;
        _LAST_TRANSFER& last = m_s.m_lastTransfer;
        last = _LAST_TRANSFER();
        m_s.RaiseStateChange(ASS_LAST_TRANSFER, false);
        const JsonValue* info = ObjectOrNull(&m_root, L"lastTransferInfo");
        if (info == nullptr)
            return;
        std::wstring text;
        if (cfg::ReadString(info, L"time", text))
            last.time = ParseTransferTime(text);
        ReadRange(info, L"keyType", last.keyType, 0, 21);
        if (cfg::ReadString(info, L"keyNumber", text) && !text.empty())
            last.keyNumber.length = static_cast<uint8_t>(HexToBytesReversed(
                text.c_str(), static_cast<int>(text.size()), last.keyNumber.bytes, KEY_NUMBER_MAX_BYTES));
        cfg::ReadString(info, L"format", last.formatName);
        cfg::ReadString(info, L"transferred", last.transferred);
        cfg::ReadString(info, L"where", last.where);
        cfg::ReadInt32(info, L"errorCode", last.errorCode);
        cfg::ReadString(info, L"errorText", last.errorText);
        cfg::ReadInt32(info, L"counter", last.counter);
    }

    void ReadEventLog()
    {
        const JsonValue* log = ObjectOrNull(&m_root, L"eventLog");
        m_s.m_eventLogEnabled = false;
        m_s.m_eventLogLimit = kEventLogNoLimit;
        cfg::ReadBool(log, L"enabled", m_s.m_eventLogEnabled);
        // A limit below one record would leave the event table's ring without room.
        ReadRange(log, L"limit", m_s.m_eventLogLimit, 1, kEventLogNoLimit);
        m_s.RaiseChange(ASC_EVENTLOG_ON | ASC_EVENTLOG_LIMIT, 0, false);
    }

    // The interface members outside the groups of their own (the language, the view options,
    // the current page and the pages' own settings).
    void ReadUiGeneral(const JsonValue* ui)
    {
        CAppSettings& s = m_s;
        s.m_language.clear();
        s.m_view = AppViewOptions();
        if (s.IsHistory(HIST_PAGE))
            s.m_currentPage = 0;
        s.m_noSortHeader = false;
        s.m_keyViewFormat = KEY_VIEW_HEX;
        s.m_keyEditFormat = 3;
        s.m_formatsFilter = 5;
        s.m_formatsImport = s.m_formatsExport = 1;
        s.m_hotkeysFilter = 0;
        s.m_keyListFilter = 4;
        s.m_keyListImport = s.m_keyListExport = 1;
        s.m_readKeysFlags = 0;
        s.m_advancedShowAll = false;
        if (s.IsHistory(HIST_ADVANCED))
            s.m_advancedCollapsed.clear();
        if (ui == nullptr)
            return;
        cfg::ReadString(ui, L"language", s.m_language);
        cfg::ReadBool(ui, L"topMost", s.m_view.topMost);
        if (s.IsHistory(HIST_PAGE))
            ReadRange(ui, L"page", s.m_currentPage, 0, kMaxPageId);
        cfg::ReadBool(ui, L"versionTitle", s.m_view.versionTitle);
        cfg::ReadBool(ui, L"snapToEdges", s.m_view.snapToEdges);
        cfg::ReadBool(ui, L"taskbarButton", s.m_view.taskbarButton);
        cfg::ReadBool(ui, L"altListBkColor", s.m_view.altListBkColor);
        cfg::ReadBool(ui, L"tableGrid", s.m_view.tableGrid);
        cfg::ReadBool(ui, L"noSortHeader", s.m_noSortHeader);
        ReadClamped(ui, L"keyViewFormat", s.m_keyViewFormat, KEY_VIEW_LONG);
        ReadClamped(ui, L"keyEditFormat", s.m_keyEditFormat, 4);
        ReadPageSettings(*ui);
    }

    void ReadConfirm(const JsonValue* ui)
    {
        m_s.m_confirm = kDefaultConfirm;
        cfg::ReadUInt32(ui, L"confirm", m_s.m_confirm);
    }

    void ReadPanels(const JsonValue* ui)
    {
        m_s.m_panels = 9;
        cfg::ReadUInt32(ui, L"panels", m_s.m_panels);
    }

    void ReadWindowPositions(const JsonValue* ui)
    {
        CAppSettings& s = m_s;
        for (WindowSlot& slot : s.m_windowSlots) {
            if (s.IsHistory(HIST_POSITIONS))
                slot.left = slot.top = kNoWindowPos;
            if (s.IsHistory(HIST_SIZES))
                slot.width = slot.height = kNoWindowPos;
        }
        if (s.IsHistory(HIST_SHOW_STATES))
            s.m_showStates.fill(0);
        ReadFormPos(cfg::FindArray(ui, L"formPos"));
    }

    void ReadUi()
    {
        CAppSettings& s = m_s;
        const JsonValue* ui = m_root.FindMember(L"ui", JSON_OBJECT);
        s.m_columns[COLS_DESTINATION] = GetDefaultColumns(COLS_DESTINATION);
        ReadUiGeneral(ui);
        ReadConfirm(ui);
        ReadTrayIcon(ObjectOrNull(ui, L"trayIcon"));
        ReadPageList(ObjectOrNull(ui, L"pageList"));
        ReadWindowPositions(ui);
        ReadPanels(ui);
        ReadAllColumns(ui);
        if (ui != nullptr) {
            if (IsOlderThan14())
                ReadOldKeyFilters(GetKeyFiltersPageGroup(const_cast<JsonValue&>(*ui), m_version, false));
            ReadManageSettings(ObjectOrNull(ui, L"manageSettings"));
        }
        s.RaiseUiChange(ASU_LOADED, false);
        s.RaisePageStateChange(ASP_LOADED | ASP_READKEYS_FLAGS, false);
        s.RaiseChange(ASC_FILE_TYPES, 0, false);
        if (s.IsHistory(HIST_PAGE))
            s.RaiseUiChange(ASU_CURRENT_PAGE, false);
        if (s.IsHistory(HIST_PAGELIST))
            s.RaiseUiChange(ASU_PAGELIST_COLLAPSED, false);
        if (s.IsHistory(HIST_ADVANCED))
            s.RaisePageStateChange(ASP_ADVANCED_COLLAPSED, false);
    }

    // An integer outside 0 to high becomes 0.
    static void ReadClamped(const JsonValue* parent, const wchar_t* key, int32_t& out, int32_t high)
    {
        if (cfg::ReadInt32(parent, key, out) && !InRange(out, 0, high))
            out = 0;
    }

    void ReadTrayIcon(const JsonValue* tray)
    {
        m_s.m_trayFlags = 0;
        m_s.m_trayCommands = {ID_SHOW_MINIMIZE, 0, 0, 0};
        cfg::ReadFlag(tray, L"showMinimized", m_s.m_trayFlags, 0x1);
        cfg::ReadFlag(tray, L"showAlways", m_s.m_trayFlags, 0x2);
        cfg::ReadFlag(tray, L"balloonHint", m_s.m_trayFlags, TRAY_BALLOON_HINT);
        static const wchar_t* const keys[4] = {L"lClickCmd", L"lDblClkCmd", L"mClickCmd", L"mDblClkCmd"};
        for (int i = 0; i < 4; ++i)
            ReadUInt16(tray, keys[i], m_s.m_trayCommands[i]);
    }

    void ReadPageList(const JsonValue* pageList)
    {
        if (m_s.IsHistory(HIST_PAGELIST))
            m_s.m_pageListCollapsed = false;
        m_s.m_pageListPages = kDefaultPageListPages;
        bool collapsed;
        if (!cfg::ReadBool(pageList, L"collapsed", collapsed))
            return;
        if (m_s.IsHistory(HIST_PAGELIST))
            m_s.m_pageListCollapsed = collapsed;
        cfg::ReadUInt32(pageList, L"pages", m_s.m_pageListPages);
    }

    void ReadFormPos(const JsonArray* formPos)
    {
        if (formPos == nullptr)
            return;
        const bool positions = m_s.IsHistory(HIST_POSITIONS);
        const bool sizes = m_s.IsHistory(HIST_SIZES);
        const bool states = m_s.IsHistory(HIST_SHOW_STATES);
        for (const JsonValue& element : *formPos) {
            int32_t id;
            if (element.GetType() != JSON_OBJECT || !ReadRange(&element, L"id", id, 1, kWindowSlotCount))
                continue;
            WindowSlot& slot = m_s.m_windowSlots[id - 1];
            if (positions || sizes) {
                const JsonArray* pos = cfg::FindArray(&element, L"pos");
                if (pos != nullptr) {
                    int32_t v[4] = {kNoWindowPos, 0, 0, 0};
                    for (size_t i = 0; i < 4 && i < pos->size(); ++i)
                        if ((*pos)[i].GetType() == JSON_INT64)
                            v[i] = static_cast<int32_t>(static_cast<uint32_t>((*pos)[i].Int64Value()));
                    if (positions) {
                        slot.left = v[0];
                        slot.top = v[1];
                    }
                    if (sizes) {
                        slot.width = v[2];
                        slot.height = v[3];
                    }
                }
            }
            if (states && id <= kShowStateSlotCount)
                cfg::ReadInt32(&element, L"state", m_s.m_showStates[id - 1]);
        }
    }

    // The column lists of the nine stored pages, each from its defaults.
    void ReadAllColumns(const JsonValue* ui)
    {
        CAppSettings& s = m_s;
        static const PageColumns plain[] = {{L"eventLog", COLS_EVENTLOG},     {L"sounds", COLS_SOUNDS},
                                            {L"hotkeys", COLS_HOTKEYS},       {L"openConfig", COLS_OPENCONFIG},
                                            {L"keyList", COLS_KEYLIST},       {L"advanced", COLS_ADVANCED},
                                            {L"columnList", COLS_COLUMNLIST}};
        for (const PageColumns& p : plain) {
            s.m_columns[p.list] = GetDefaultColumns(p.list);
            ReadColumns(ObjectOrNull(ui, p.page), s.m_columns[p.list]);
        }
        s.m_columns[COLS_FORMATS] = GetDefaultColumns(COLS_FORMATS);
        if (!IsOlderThan14())
            ReadColumns(ObjectOrNull(ui, L"formats"), s.m_columns[COLS_FORMATS]);
        s.m_columns[COLS_KEYFILTERS] = GetDefaultColumns(COLS_KEYFILTERS);
        if (ui != nullptr)
            ReadColumns(GetKeyFiltersPageGroup(const_cast<JsonValue&>(*ui), m_version, false),
                        s.m_columns[COLS_KEYFILTERS]);
    }

    // What the pages keep besides their columns.
    void ReadPageSettings(const JsonValue& ui)
    {
        CAppSettings& s = m_s;
        const JsonValue* formats = ObjectOrNull(&ui, L"formats");
        if (!IsOlderThan14()) {
            const JsonValue* filter = ObjectOrNull(formats, L"filter");
            cfg::ReadFlag(filter, L"enabled", s.m_formatsFilter, 0x1);
            cfg::ReadFlag(filter, L"showHidden", s.m_formatsFilter, 0x2);
            cfg::ReadFlag(filter, L"showPresets", s.m_formatsFilter, 0x4);
            cfg::ReadFlag(filter, L"showSameNamePresets", s.m_formatsFilter, 0x8);
        }
        ReadRange(formats, L"import", s.m_formatsImport, 1, 3);
        ReadRange(formats, L"export", s.m_formatsExport, 1, 6);

        cfg::ReadUInt32(ObjectOrNull(&ui, L"hotkeys"), L"filterFlags", s.m_hotkeysFilter);

        const JsonValue* keyList = ObjectOrNull(&ui, L"keyList");
        const JsonValue* filter = ObjectOrNull(keyList, L"filter");
        cfg::ReadFlag(filter, L"enabled", s.m_keyListFilter, 0x1);
        cfg::ReadFlag(filter, L"showTransferred", s.m_keyListFilter, 0x2);
        cfg::ReadFlag(filter, L"showWOFormat", s.m_keyListFilter, 0x4);
        ReadRange(keyList, L"import", s.m_keyListImport, 1, 6);
        ReadRange(keyList, L"export", s.m_keyListExport, 1, 7);

        cfg::ReadFlag(ObjectOrNull(&ui, L"readKeys"), L"showMifareKeys", s.m_readKeysFlags, 0x1);

        const JsonValue* advanced = ObjectOrNull(&ui, L"advanced");
        cfg::ReadBool(advanced, L"showAll", s.m_advancedShowAll);
        if (s.IsHistory(HIST_ADVANCED)) {
            if (const JsonArray* collapsed = cfg::FindArray(advanced, L"collapsed"))
                for (const JsonValue& id : *collapsed)
                    if (id.GetType() == JSON_INT64)
                        s.m_advancedCollapsed.push_back(static_cast<uint16_t>(id.Int64Value()));
        }
    }

    // Files older than 1.4 kept the key filters under "ui" "formatFilters".
    void ReadOldKeyFilters(const JsonValue* page)
    {
        const JsonArray* array = cfg::FindArray(page, L"formatFilters");
        CTransferDoc& transfer = m_s.m_transfer;
        if (array != nullptr) {
            std::vector<KeyFilter>& filters = transfer.KeyFilters();
            filters.clear();
            for (const JsonValue& element : *array) {
                if (element.GetType() != JSON_OBJECT)
                    continue;
                KeyFilter filter;
                ReadKeyFilterElement(element, filter);
                filter.id = static_cast<uint32_t>(filters.size() + 1);
                filters.push_back(std::move(filter));
            }
            transfer.keyFilterNewId = static_cast<uint32_t>(filters.size() + 1);
        }
        cfg::ReadInt32(page, L"sort", transfer.keyFiltersSort);
        CDocUpdateScope scope(transfer, transfer.GetCurrentSender());
        transfer.RaiseFormatsChange(TDF_KEY_FILTERS | TDF_KEY_FILTERS_SORT, false);
    }

    void ReadManageSettings(const JsonValue* manage)
    {
        cfg::ReadInt32(manage, L"mode", m_s.m_manageSettings.mode);
        cfg::ReadInt32(manage, L"tParams", m_s.m_manageSettings.tParams);
        cfg::ReadInt32(manage, L"aParams", m_s.m_manageSettings.aParams);
    }

    void ReadSounds()
    {
        m_s.RaiseChange(ASC_SOUNDS_ON | ASC_SOUND_FILES, 0, false);
        m_s.m_soundsEnabled = false;
        m_s.SetDefaultSounds();
        const JsonValue* sounds = ObjectOrNull(&m_root, L"sounds");
        cfg::ReadBool(sounds, L"enabled", m_s.m_soundsEnabled);
        const JsonArray* array = cfg::FindArray(sounds, L"sounds");
        if (array == nullptr)
            return;
        for (std::wstring& file : m_s.m_soundFiles)
            file.clear();
        for (const JsonValue& element : *array) {
            int32_t event;
            if (!ReadRange(&element, L"event", event, 1, kSoundEventCount))
                continue;
            std::wstring& file = m_s.m_soundFiles[event - 1];
            file.clear();
            cfg::ReadString(&element, L"file", file);
        }
    }

    void ReadHotkeys()
    {
        m_s.RaiseChange(ASC_HOTKEYS_ON | ASC_HOTKEYS, 0, false);
        m_s.m_hotkeysEnabled = true;
        SetDefaultHotkeys(m_s.m_hotkeys);
        const JsonValue* group = ObjectOrNull(&m_root, L"hotkeys");
        cfg::ReadBool(group, L"enabled", m_s.m_hotkeysEnabled);
        const JsonArray* array = cfg::FindArray(group, L"hotkeys");
        if (array == nullptr)
            return;
        m_s.m_hotkeys.clear();
        for (const JsonValue& element : *array) {
            uint16_t command = 0;
            uint16_t hotkey = 0;
            if (ReadUInt16(&element, L"command", command) && ReadUInt16(&element, L"hotkey", hotkey) &&
                command != 0 && hotkey != 0)
                m_s.m_hotkeys.push_back(MakeHotkeyEntry(command, hotkey));
        }
    }

    void ReadCsv()
    {
        m_s.RaiseChange(ASC_CSV, 0, false);
        m_s.m_csv = CsvOptions();
        const JsonValue* csv = ObjectOrNull(&m_root, L"csv");
        std::wstring delimiter;
        if (cfg::ReadString(csv, L"delimiter", delimiter) && delimiter.size() == 1)
            m_s.m_csv.delimiter = delimiter[0];
        ReadRange(csv, L"encoding", m_s.m_csv.encoding, 1, 2);
    }

    void ReadExtTools()
    {
        m_s.RaiseChange(ASC_EXT_TOOLS, 0, false);
        if (!ReadExtToolList(ObjectOrNull(&m_root, L"extTools"), m_s.m_extTools))
            m_s.RaiseStateChange(ASS_EXT_TOOLS_EMPTIED, false);
    }

    CAppSettings& m_s;
    const JsonValue& m_root;
    PackedVersion m_version;
};

void CAppSettings::ReadSettings(CAppCfgFile& file)
{
    SaveConfigurationBefore(ConfigPathNamedBy(file.Root));
    CDocUpdateScope scope(*this, GetCurrentSender());
    CDocUpdateScope transferScope(m_transfer, m_transfer.GetCurrentSender());
    CSchemaReader(*this, file).Run();
}

void CAppSettings::ImportGroups(const JsonValue& root, PackedVersion version, uint32_t groups)
{
    groups &= kAllAppGroups;
    if (groups == 0)
        return;
    // The configuration named by the file is opened before anything is read, so that a
    // failing save of the current one leaves this document as it was.
    if (groups & AG_OTHER) {
        const std::wstring path = ConfigPathNamedBy(root);
        if (path.size() != m_transfer.GetPathName().size() ||
            _wcsicmp(path.c_str(), m_transfer.GetPathName().c_str()) != 0)
            ReopenConfiguration(path);
    }
    CDocUpdateScope scope(*this, GetCurrentSender());
    RaiseChange(0, 0, true);
    CSchemaReader(*this, root, version).Import(groups);
}

// Writing ---------------------------------------------------------------------------------------

class CAppSettings::CSchemaWriter
{
public:
    CSchemaWriter(const CAppSettings& settings, CAppCfgFile& file)
        : m_s(settings), m_file(file), m_root(file.Root), m_w(file)
    {
    }

    void Run()
    {
        WriteMain();
        WriteDebugLog();
        WriteTransfer();
        WriteLastTransfer();
        WriteEventLog();
        WriteUi();
        WriteSounds();
        WriteHotkeys();
        WriteCsv();
        WriteExtTools();
    }

private:
    void WriteMain()
    {
        JsonValue& main = m_w.Object(m_root, L"main");
        std::wstring configuration;
        m_s.GetConfigDisplayPath(configuration);
        m_w.String(main, L"docDir", m_s.m_docDir);
        m_w.String(main, L"configuration", configuration);
        m_w.Bool(main, L"singleInstance", m_s.m_singleInstance);
        m_w.Bool(main, L"cloneNewConfig", m_s.m_cloneNewConfig);
        m_w.UInt(main, L"history", m_s.m_history);
    }

    void WriteDebugLog()
    {
        JsonValue& log = m_w.Object(m_root, L"debugLog");
        m_w.Bool(log, L"enabled", m_s.m_debugLog.enabled);
        m_w.Int(log, L"logLevel", m_s.m_debugLog.logLevel);
        m_w.Int(log, L"maxSize", m_s.m_debugLog.maxSize);
        m_w.Bool(log, L"clearOnStartup", m_s.m_debugLog.clearOnStartup);
    }

    void WriteTransfer()
    {
        JsonValue& transfer = m_w.Object(m_root, L"transfer");
        if (m_s.IsHistory(HIST_TRANSFER_ON))
            m_w.Bool(transfer, L"enabled", m_s.m_transferOn);
        m_w.Bool(transfer, L"transferLog", m_s.m_transferLog);
        m_w.Bool(transfer, L"autoStart", m_s.m_autoStart);
    }

    void WriteLastTransfer()
    {
        if (!m_s.IsHistory(HIST_LAST_TRANSFER))
            return;
        const _LAST_TRANSFER& last = m_s.m_lastTransfer;
        JsonValue& info = m_w.Object(m_root, L"lastTransferInfo");
        std::wstring key;
        KeyToHex(key, last.keyNumber);
        m_w.String(info, L"time", FormatTransferTime(last.time));
        m_w.Int(info, L"keyType", last.keyType);
        m_w.String(info, L"keyNumber", key);
        m_w.String(info, L"format", last.formatName);
        m_w.String(info, L"transferred", last.transferred);
        m_w.String(info, L"where", last.where);
        m_w.Int(info, L"errorCode", last.errorCode);
        m_w.String(info, L"errorText", last.errorText);
        m_w.Int(info, L"counter", last.counter);
    }

    void WriteEventLog()
    {
        JsonValue& log = m_w.Object(m_root, L"eventLog");
        m_w.Bool(log, L"enabled", m_s.m_eventLogEnabled);
        m_w.Int(log, L"limit", m_s.m_eventLogLimit);
    }

    void WriteColumns(JsonValue& page, AppColumnList list)
    {
        JsonArray& array = m_w.NewArray(page, L"columns");
        const std::vector<ColumnDesc>& columns = m_s.m_columns[list];
        for (size_t i = 0; i < columns.size(); ++i) {
            const ColumnDesc& c = columns[i];
            JsonValue& element = array.emplace_back();
            m_w.Int(element, L"id", static_cast<int32_t>(i + 1));
            m_w.Int(element, L"width", c.width);
            m_w.Int(element, L"order", c.order);
            m_w.Int(element, L"align", c.format);
            m_w.Bool(element, L"visible", (c.flags & COLF_VISIBLE) != 0);
            m_w.Bool(element, L"autoSize", (c.flags & COLF_AUTOSIZE) != 0);
        }
    }

    JsonValue& PageWithColumns(JsonValue& ui, const wchar_t* name, AppColumnList list)
    {
        JsonValue& page = m_w.Object(ui, name);
        WriteColumns(page, list);
        return page;
    }

    void WriteUi()
    {
        const CAppSettings& s = m_s;
        JsonValue& ui = m_w.Object(m_root, L"ui");
        m_w.String(ui, L"language", s.m_language);
        m_w.Bool(ui, L"topMost", s.m_view.topMost);
        m_w.UInt(ui, L"panels", s.m_panels);
        if (s.IsHistory(HIST_PAGE))
            m_w.Int(ui, L"page", s.m_currentPage);
        m_w.Bool(ui, L"versionTitle", s.m_view.versionTitle);
        m_w.Bool(ui, L"snapToEdges", s.m_view.snapToEdges);
        m_w.Bool(ui, L"taskbarButton", s.m_view.taskbarButton);
        m_w.Bool(ui, L"altListBkColor", s.m_view.altListBkColor);
        m_w.Bool(ui, L"tableGrid", s.m_view.tableGrid);
        m_w.Bool(ui, L"noSortHeader", s.m_noSortHeader);
        m_w.Int(ui, L"keyViewFormat", s.m_keyViewFormat);
        m_w.Int(ui, L"keyEditFormat", s.m_keyEditFormat);
        m_w.UInt(ui, L"confirm", s.m_confirm);
        WriteTrayIcon(m_w.Object(ui, L"trayIcon"));
        JsonValue& pageList = m_w.Object(ui, L"pageList");
        m_w.Bool(pageList, L"collapsed", s.m_pageListCollapsed);
        m_w.UInt(pageList, L"pages", s.m_pageListPages);
        if (s.m_history & (HIST_POSITIONS | HIST_SIZES | HIST_SHOW_STATES))
            WriteFormPos(ui);
        PageWithColumns(ui, L"eventLog", COLS_EVENTLOG);
        WriteFormatsPage(m_w.Object(ui, L"formats"));
        PageWithColumns(ui, L"keyFilters", COLS_KEYFILTERS);
        PageWithColumns(ui, L"sounds", COLS_SOUNDS);
        m_w.UInt(PageWithColumns(ui, L"hotkeys", COLS_HOTKEYS), L"filterFlags", s.m_hotkeysFilter);
        PageWithColumns(ui, L"openConfig", COLS_OPENCONFIG);
        WriteKeyListPage(m_w.Object(ui, L"keyList"));
        m_w.Bool(m_w.Object(ui, L"readKeys"), L"showMifareKeys", (s.m_readKeysFlags & 0x1) != 0);
        WriteAdvancedPage(m_w.Object(ui, L"advanced"));
        PageWithColumns(ui, L"columnList", COLS_COLUMNLIST);
        JsonValue& manage = m_w.Object(ui, L"manageSettings");
        m_w.Int(manage, L"mode", s.m_manageSettings.mode);
        m_w.Int(manage, L"tParams", s.m_manageSettings.tParams);
        m_w.Int(manage, L"aParams", s.m_manageSettings.aParams);
    }

    void WriteTrayIcon(JsonValue& tray)
    {
        m_w.Flag(tray, L"showMinimized", m_s.m_trayFlags, 0x1);
        m_w.Flag(tray, L"showAlways", m_s.m_trayFlags, 0x2);
        m_w.Flag(tray, L"balloonHint", m_s.m_trayFlags, TRAY_BALLOON_HINT);
        static const wchar_t* const keys[4] = {L"lClickCmd", L"lDblClkCmd", L"mClickCmd", L"mDblClkCmd"};
        for (int i = 0; i < 4; ++i)
            m_w.UInt(tray, keys[i], m_s.m_trayCommands[i]);
    }

    // Element i is slot i + 1; what an element holds besides its slot's values stays.
    void WriteFormPos(JsonValue& ui)
    {
        JsonValue& member = ui.Member(L"formPos");
        member.SetType(JSON_ARRAY);
        m_file.SetModified();
        JsonArray& array = *member.ArrayPtr();
        const bool positions = m_s.IsHistory(HIST_POSITIONS);
        const bool sizes = m_s.IsHistory(HIST_SIZES);
        const bool states = m_s.IsHistory(HIST_SHOW_STATES);
        for (int slot = 1; slot <= kWindowSlotCount; ++slot) {
            if (array.size() < static_cast<size_t>(slot))
                array.emplace_back();
            JsonValue& element = array[slot - 1];
            element.SetType(JSON_OBJECT);
            m_w.Int(element, L"id", slot);
            JsonValue& posMember = element.Member(L"pos");
            posMember.SetType(JSON_ARRAY);
            JsonArray& pos = *posMember.ArrayPtr();
            while (pos.size() < 4)
                pos.emplace_back();
            for (size_t i = 0; i < 4; ++i)
                if (pos[i].GetType() != JSON_INT64)
                    pos[i].AssignInt64(kNoWindowPos);
            const WindowSlot& w = m_s.m_windowSlots[slot - 1];
            if (positions) {
                pos[0].AssignInt64(w.left);
                pos[1].AssignInt64(w.top);
            }
            if (sizes) {
                pos[2].AssignInt64(w.width);
                pos[3].AssignInt64(w.height);
            }
            if (states && slot <= kShowStateSlotCount)
                m_w.Int(element, L"state", m_s.m_showStates[slot - 1]);
        }
    }

    void WriteFormatsPage(JsonValue& formats)
    {
        JsonValue& filter = m_w.Object(formats, L"filter");
        m_w.Flag(filter, L"enabled", m_s.m_formatsFilter, 0x1);
        m_w.Flag(filter, L"showHidden", m_s.m_formatsFilter, 0x2);
        m_w.Flag(filter, L"showPresets", m_s.m_formatsFilter, 0x4);
        m_w.Flag(filter, L"showSameNamePresets", m_s.m_formatsFilter, 0x8);
        m_w.Int(formats, L"import", m_s.m_formatsImport);
        m_w.Int(formats, L"export", m_s.m_formatsExport);
        WriteColumns(formats, COLS_FORMATS);
    }

    void WriteKeyListPage(JsonValue& keyList)
    {
        JsonValue& filter = m_w.Object(keyList, L"filter");
        m_w.Flag(filter, L"enabled", m_s.m_keyListFilter, 0x1);
        m_w.Flag(filter, L"showTransferred", m_s.m_keyListFilter, 0x2);
        m_w.Flag(filter, L"showWOFormat", m_s.m_keyListFilter, 0x4);
        m_w.Int(keyList, L"import", m_s.m_keyListImport);
        m_w.Int(keyList, L"export", m_s.m_keyListExport);
        WriteColumns(keyList, COLS_KEYLIST);
    }

    void WriteAdvancedPage(JsonValue& advanced)
    {
        m_w.Bool(advanced, L"showAll", m_s.m_advancedShowAll);
        if (m_s.IsHistory(HIST_ADVANCED)) {
            JsonArray& collapsed = m_w.NewArray(advanced, L"collapsed");
            for (uint16_t id : m_s.m_advancedCollapsed)
                collapsed.emplace_back().AssignInt64(id);
        }
        WriteColumns(advanced, COLS_ADVANCED);
    }

    void WriteSounds()
    {
        JsonValue& sounds = m_w.Object(m_root, L"sounds");
        m_w.Bool(sounds, L"enabled", m_s.m_soundsEnabled);
        JsonArray& array = m_w.NewArray(sounds, L"sounds");
        for (int i = 0; i < kSoundEventCount; ++i) {
            JsonValue& element = array.emplace_back();
            m_w.Int(element, L"event", i + 1);
            m_w.String(element, L"file", m_s.m_soundFiles[i]);
        }
    }

    void WriteHotkeys()
    {
        JsonValue& group = m_w.Object(m_root, L"hotkeys");
        m_w.Bool(group, L"enabled", m_s.m_hotkeysEnabled);
        JsonArray& array = m_w.NewArray(group, L"hotkeys");
        for (uint32_t entry : m_s.m_hotkeys) {
            JsonValue& element = array.emplace_back();
            m_w.UInt(element, L"command", HotkeyEntryCommand(entry));
            m_w.UInt(element, L"hotkey", HotkeyEntryWord(entry));
        }
    }

    void WriteCsv()
    {
        JsonValue& csv = m_w.Object(m_root, L"csv");
        m_w.String(csv, L"delimiter", std::wstring(1, m_s.m_csv.delimiter));
        m_w.Int(csv, L"encoding", m_s.m_csv.encoding);
    }

    void WriteExtTools()
    {
        JsonValue& group = m_w.Object(m_root, L"extTools");
        JsonArray& array = m_w.NewArray(group, L"extTools");
        for (const _EXT_TOOL& tool : m_s.m_extTools) {
            JsonValue& element = array.emplace_back();
            m_w.String(element, L"name", tool.name);
            m_w.String(element, L"command", tool.command);
            m_w.String(element, L"arguments", tool.arguments);
            m_w.String(element, L"initialDir", tool.initialDir);
            m_w.Flag(element, L"startAdmin", tool.flags, EXTTOOL_START_ADMIN);
        }
    }

    const CAppSettings& m_s;
    CAppCfgFile& m_file;
    JsonValue& m_root;
    cfg::CMemberWriter m_w;
};

void CAppSettings::WriteSettings(CAppCfgFile& file)
{
    CSchemaWriter(*this, file).Run();
}
