// Reading rules of the application part, as tables of (file members -> resulting setting),
// and the details of writing: hotkey numbers, column lists, window slots, version layouts.
#include "AppSettingsTestSupport.h"

#include <functional>

using namespace settings_test;

namespace {

class AppSettingsSchemaTest : public SettingsFixture
{
};

struct ReadCase
{
    const char* members;
    std::function<bool(const CAppSettings&)> check;
    const char* version = "1.6";
};

std::wstring SourceOf(const CAppSettings& s)
{
    return std::to_wstring(s.GetTransferDoc().GetSourceKind()) + L"|" + s.GetTransferDoc().GetSourceValue();
}

TEST_F(AppSettingsSchemaTest, ReadingRules)
{
    const _KEY_NUMBER key2A = MakeKeyNumber((const uint8_t*)"\x2A\x00\x05", 3);
    const ReadCase cases[] = {
        // Ranges: a value outside becomes 0, or is ignored and keeps the default.
        {R"("ui": {"keyViewFormat": 9})", [](auto& s) { return s.GetKeyViewFormat() == 0; }},
        {R"("ui": {"keyViewFormat": -1})", [](auto& s) { return s.GetKeyViewFormat() == 0; }},
        {R"("ui": {"keyViewFormat": 5})", [](auto& s) { return s.GetKeyViewFormat() == 5; }},
        {R"("ui": {"keyViewFormat": 2.0})", [](auto& s) { return s.GetKeyViewFormat() == 4; }},
        {R"("ui": {"keyEditFormat": 5})", [](auto& s) { return s.GetKeyEditFormat() == 0; }},
        {R"("main": {"history": 7295}, "ui": {"page": 30})", [](auto& s) { return s.GetCurrentPage() == 0; }},
        {R"("main": {"history": 7295}, "ui": {"page": 24})", [](auto& s) { return s.GetCurrentPage() == 24; }},
        {R"("ui": {"page": 7})", [](auto& s) { return s.GetCurrentPage() == 0; }},  // history bit 2 clear
        {R"("debugLog": {"logLevel": 0})", [](auto& s) { return s.debugLog.logLevel == 5; }},
        {R"("debugLog": {"logLevel": 7})", [](auto& s) { return s.debugLog.logLevel == 5; }},
        {R"("debugLog": {"logLevel": 6, "maxSize": -7})",
         [](auto& s) { return s.debugLog.logLevel == 6 && s.debugLog.maxSize == -7; }},
        {R"("debugLog": {"logLevel": 4294967297})", [](auto& s) { return s.debugLog.logLevel == 1; }},  // low 32 bits
        {R"("main": {"history": 7291.0})", [](auto& s) { return s.GetHistoryFlags() == 7291; }},
        {R"("main": {"history": 1e3})", [](auto& s) { return s.GetHistoryFlags() == 7291; }},
        {R"("main": {"history": "7"})", [](auto& s) { return s.GetHistoryFlags() == 7291; }},
        {R"("main": {"history": 3})",
         [](auto& s) { return s.GetHistoryFlags() == 3 && s.GetSavedHistoryFlags() == 3; }},
        {R"("main": {"singleInstance": 0, "cloneNewConfig": false})",
         [](auto& s) { return s.singleInstance && !s.GetCloneNewConfig(); }},
        {R"("eventLog": {"enabled": true, "limit": 1000})",
         [](auto& s) { return s.IsEventLogEnabled() && s.GetEventLogLimit() == 1000; }},
        {R"("eventLog": {"limit": 0})", [](auto& s) { return s.GetEventLogLimit() == 2147483647; }},
        {R"("eventLog": {"limit": -5})", [](auto& s) { return s.GetEventLogLimit() == 2147483647; }},
        // Page list: "pages" only together with a bool "collapsed".
        {R"("ui": {"pageList": {"pages": 5}})", [](auto& s) { return s.GetPageListPages() == 0x700001; }},
        {R"("ui": {"pageList": {"collapsed": 1, "pages": 5}})",
         [](auto& s) { return s.GetPageListPages() == 0x700001; }},
        {R"("ui": {"pageList": {"collapsed": true, "pages": 5}})",
         [](auto& s) { return s.GetPageListPages() == 5 && s.IsPageListCollapsed(); }},
        {R"("main": {"history": 0}, "ui": {"pageList": {"collapsed": true, "pages": 5}})",
         [](auto& s) { return s.GetPageListPages() == 5 && !s.IsPageListCollapsed(); }},
        // Tray icon: each member alone; commands as 16 bits.
        {R"("ui": {"trayIcon": {"showAlways": true, "balloonHint": 1, "lClickCmd": 98356, "mDblClkCmd": 5}})",
         [](auto& s) {
             return s.GetTrayIconFlags() == 2 && s.GetTrayClickCommands() == std::array<uint16_t, 4>{0x8034, 0, 0, 5};
         }},
        // Hotkeys.
        {R"("hotkeys": {"hotkeys": []})", [](auto& s) { return s.hotkeys.empty() && s.IsHotkeysEnabled(); }},
        {R"("csv": {})", [](auto& s) { return s.hotkeys.size() == 7; }},
        {R"("hotkeys": {"enabled": false})", [](auto& s) { return s.hotkeys.size() == 7 && !s.IsHotkeysEnabled(); }},
        {R"("hotkeys": {"hotkeys": [{"command": 0, "hotkey": 5}, {"command": 9, "hotkey": 1.5},
             {"command": 9}, 7, {"command": 32785, "hotkey": 33140}]})",
         [](auto& s) { return s.hotkeys == std::vector<uint32_t>{MakeHotkeyEntry(32785, 0x8174)}; }},
        // External tools.
        {R"("extTools": {"extTools": [{"name": "1"}, {"name": "2"}, 3, {"name": "3"}, {"name": "4"},
             {"name": "5"}, {"name": "6"}, {"name": "7"}, {"name": "8"}, {"name": "9"}, {"name": "10"}]})",
         [](auto& s) { return s.extTools.size() == 8 && s.extTools[2].name == L"3" && s.extTools[7].name == L"8"; }},
        {R"("extTools": {"extTools": [{"name": 5, "command": "c", "startAdmin": "yes"}]})",
         [](auto& s) {
             return s.extTools.size() == 1 && s.extTools[0].name.empty() && s.extTools[0].command == L"c" &&
                    s.extTools[0].flags == 0;
         }},
        {R"("extTools": {})", [](auto& s) { return s.extTools.empty(); }},
        // Text table format: the two members apart.
        {R"("csv": {"delimiter": ",", "encoding": 3})",
         [](auto& s) { return s.csv.delimiter == L',' && s.csv.encoding == 1; }},
        {R"("csv": {"delimiter": ",;", "encoding": 2})",
         [](auto& s) { return s.csv.delimiter == L';' && s.csv.encoding == 2; }},
        {R"("csv": {"delimiter": ""})", [](auto& s) { return s.csv.delimiter == L';'; }},
        // Source texts of the configuration part.
        {R"("transfer": {"source": "reader:COM3"})", [](auto& s) { return SourceOf(s) == L"1|COM3"; }},
        {R"("transfer": {"source": "Reader:COM3"})", [](auto& s) { return SourceOf(s) == L"0|COM3"; }},
        {R"("transfer": {"source": "keylist:"})", [](auto& s) { return SourceOf(s) == L"2|"; }},
        {R"("transfer": {"source": "reader"})", [](auto& s) { return SourceOf(s) == L"0|"; }},
        {R"("transfer": {"source": "reader:10.0.0.5:4001"})",
         [](auto& s) { return SourceOf(s) == L"1|10.0.0.5:4001"; }},
        // Sounds.
        {R"("csv": {})",
         [](auto& s) {
             return s.GetSoundFile(0) == L"%WINDIR%\\Media\\Windows Notify.wav" &&
                    s.GetSoundFile(1) == L"%WINDIR%\\Media\\Windows Error.wav" && s.GetSoundFile(2).empty();
         }},
        {R"("sounds": {"enabled": true, "sounds": [{"event": 2, "file": "x.wav"}, {"event": 5, "file": "y"},
             {"event": 3}, {"event": "4", "file": "z"}]})",
         [](auto& s) {
             return s.IsSoundsEnabled() && s.GetSoundFile(0).empty() && s.GetSoundFile(1) == L"x.wav" &&
                    s.GetSoundFile(2).empty() && s.GetSoundFile(3).empty();
         }},
        // Transfer switches; "enabled" only under history bit 7.
        {R"("transfer": {"enabled": true, "transferLog": true, "autoStart": true})",
         [](auto& s) { return !s.IsTransferEnabled() && s.transferLog && s.autoStart; }},
        {R"("main": {"history": 128}, "transfer": {"enabled": true})", [](auto& s) { return s.IsTransferEnabled(); }},
        // Last transfer, only under history bit 8.
        {R"("main": {"history": 256}, "lastTransferInfo": {"time": "29.02.2024 23:59:58.000", "keyType": 22,
             "keyNumber": "05002A", "format": "F", "errorCode": -5, "counter": 17})",
         [key2A](auto& s) {
             const _LAST_TRANSFER& t = s.GetLastTransfer();
             SYSTEMTIME st = {};
             return t.time.GetSystemTime(st) && st.wYear == 2024 && st.wMonth == 2 && st.wDay == 29 &&
                    st.wHour == 23 && st.wMinute == 59 && st.wSecond == 58 && t.keyType == 0 &&
                    KeysEqual(t.keyNumber, key2A) && t.formatName == L"F" && t.errorCode == -5 &&
                    t.counter == 17 && t.transferred.empty();
         }},
        {R"("main": {"history": 256}, "lastTransferInfo": {"time": "29.02.2024 23:59:58", "keyType": 21})",
         [](auto& s) { return s.GetLastTransfer().time.GetTime() == 0 && s.GetLastTransfer().keyType == 21; }},
        {R"("main": {"history": 256}, "lastTransferInfo": {"time": "31.13.2024 10:00:00.000"})",
         [](auto& s) { return s.GetLastTransfer().time.GetTime() == 0; }},
        {R"("main": {"history": 256}, "lastTransferInfo": {"keyNumber": "0102030405060708090A0B0C0D0E0F10111213141516"})",
         [](auto& s) { return s.GetLastTransfer().keyNumber.length == 19; }},
        {R"("lastTransferInfo": {"format": "F"})", [](auto& s) { return s.GetLastTransfer().formatName.empty(); }},
        // Window slots: positions and sizes by history bits 0 and 1, states by bit 9.
        {R"("ui": {"formPos": [{"id": 1, "pos": [10, 20, 300, 400], "state": 3}, {"id": 11, "pos": [1, 1, 1, 1]},
             5, {"pos": [1, 1, 1, 1]}, {"id": 3, "pos": ["a", 7]}]})",
         [](auto& s) {
             const WindowSlot& a = s.windowSlots[0];
             const WindowSlot& c = s.windowSlots[2];
             return a.left == 10 && a.top == 20 && a.width == 300 && a.height == 400 && s.showStates[0] == 0 &&
                    c.left == kNoWindowPos && c.top == 7 && c.width == 0 && c.height == 0 &&
                    s.windowSlots[9].left == kNoWindowPos;
         }},
        {R"("main": {"history": 513}, "ui": {"formPos": [{"id": 2, "pos": [10, 20, 300, 400], "state": 3}]})",
         [](auto& s) {
             const WindowSlot& b = s.windowSlots[1];
             return b.left == 10 && b.top == 20 && b.width == kNoWindowPos && s.showStates[1] == 3;
         }},
        // Column lists: by position; "id" does nothing; a short list changes only its columns.
        {R"("ui": {"keyList": {"columns": [{"id": 6, "width": 99, "align": 2, "autoSize": true}, 7,
             {"visible": false, "align": 3, "order": 9}]}})",
         [](auto& s) {
             const auto& c = s.Columns(COLS_KEYLIST);
             const auto defaults = GetDefaultColumns(COLS_KEYLIST);
             return c[0].width == 99 && c[0].format == 2 && c[0].flags == (COLF_VISIBLE | COLF_AUTOSIZE) &&
                    c[1] == defaults[1] && c[2].flags == 0 && c[2].format == 0 && c[2].order == 9 &&
                    c[2].width == 150 && std::equal(c.begin() + 3, c.end(), defaults.begin() + 3);
         }},
        {R"("ui": {"advanced": {"columns": [{}, {}, {"width": 1}]}})",
         [](auto& s) { return s.Columns(COLS_ADVANCED) == GetDefaultColumns(COLS_ADVANCED); }},
        // Page objects.
        {R"("ui": {"formats": {"filter": {"showHidden": true, "showPresets": false}, "import": 4, "export": 6}})",
         [](auto& s) { return s.GetFormatsFilter() == 3 && s.GetFormatsImport() == 1 && s.GetFormatsExport() == 6; }},
        {R"("ui": {"keyList": {"filter": {"enabled": true}, "import": 6, "export": 8}, "hotkeys": {"filterFlags": 9},
             "readKeys": {"showMifareKeys": true}})",
         [](auto& s) {
             return s.GetKeyListFilter() == 5 && s.GetKeyListImport() == 6 && s.GetKeyListExport() == 1 &&
                    s.GetHotkeysFilterFlags() == 9 && s.GetReadKeysViewFlags() == 1;
         }},
        {R"("ui": {"advanced": {"showAll": true, "collapsed": [3, "x", 70000, 1.0]}})",
         [](auto& s) {
             return s.GetAdvancedShowAll() && s.advancedCollapsed == std::vector<uint16_t>{3, 4464};
         }},
        {R"("main": {"history": 0}, "ui": {"advanced": {"collapsed": [3]}})",
         [](auto& s) { return s.advancedCollapsed.empty(); }},
        {R"("ui": {"manageSettings": {"mode": 2, "aParams": 6}})",
         [](auto& s) {
             return s.manageSettings.mode == 2 && s.manageSettings.tParams == -1 && s.manageSettings.aParams == 6;
         }},
        // Files older than 1.4: the formats page keeps its filter and columns.
        {R"("ui": {"formats": {"filter": {"showHidden": true}, "columns": [{"width": 1}], "import": 2}})",
         [](auto& s) {
             return s.GetFormatsFilter() == 5 && s.Columns(COLS_FORMATS)[0].width == 44 && s.GetFormatsImport() == 2;
         },
         "1.3"},
        // A file without a valid header is not read at all.
        {R"("csv": {"encoding": 2})", [](auto& s) { return s.csv.encoding == 1 && s.IsUnsaved(); }, "2.0"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        CAppSettings s;
        s.SetDataFolder(dir.Path(), false);
        WriteBytes(s.GetSettingsPath(), SettingsText(cases[i].members, cases[i].version));
        s.Load(true, true);
        EXPECT_TRUE(cases[i].check(s)) << "case " << i << ": " << cases[i].members;
    }
}

// A missing member gives its default, not the value the document held before the load.
TEST_F(AppSettingsSchemaTest, ReloadResetsEachGroupToItsDefaults)
{
    LoadMembers(R"("main": {"history": 8191, "docDir": "D"}, "debugLog": {"enabled": true},
        "ui": {"language": "X", "page": 3, "confirm": 1, "keyList": {"columns": [{"width": 5}]}},
        "hotkeys": {"hotkeys": []}, "csv": {"delimiter": ","}, "extTools": {"extTools": [{}]},
        "ui2": {})");
    ASSERT_EQ(settings.GetCurrentPage(), 3);
    WriteSettings(R"("main": {"history": 8191})");
    settings.Load(true, true);
    EXPECT_EQ(settings.GetDocumentsFolderSetting(), L"");
    EXPECT_FALSE(settings.debugLog.enabled);
    EXPECT_EQ(settings.GetLanguage(), L"");
    EXPECT_EQ(settings.GetCurrentPage(), 0);
    EXPECT_EQ(settings.GetConfirmFlags(), 65820u);
    EXPECT_EQ(settings.Columns(COLS_KEYLIST)[0].width, 35);
    EXPECT_EQ(settings.hotkeys.size(), 7u);
    EXPECT_EQ(settings.csv.delimiter, L';');
    EXPECT_TRUE(settings.extTools.empty());
}

TEST_F(AppSettingsSchemaTest, DefaultHotkeysUseTheModifierBitsOfTheHotkeyWord)
{
    std::vector<uint32_t> hotkeys;
    SetDefaultHotkeys(hotkeys);
    const struct { uint16_t command; uint16_t hotkey; } expected[] = {
        {32785, 0x0074},  // Start: F5
        {32786, 0x0174},  // Stop: Alt+F5
        {32787, 0x0374},  // Restart: Ctrl+Alt+F5
        {32812, 0x0253},  // Save: Ctrl+S
        {32778, 0x04BF},  // About: Shift+"/"
        {32914, 0x0075},  // Next key: F6
        {32966, 0x0209},  // Previous page: Ctrl+Tab
    };
    ASSERT_EQ(hotkeys.size(), std::size(expected));
    for (size_t i = 0; i < hotkeys.size(); ++i) {
        EXPECT_EQ(HotkeyEntryCommand(hotkeys[i]), expected[i].command) << i;
        EXPECT_EQ(HotkeyEntryWord(hotkeys[i]), expected[i].hotkey) << i;
        EXPECT_EQ(hotkeys[i] & HOTKEY_GLOBAL, 0u) << i;
    }
    EXPECT_EQ(HOTKEY_MOD_ALT | HOTKEY_MOD_CTRL | HOTKEY_MOD_SHIFT | HOTKEY_MOD_WIN, 0xF00u);
    EXPECT_EQ(static_cast<uint32_t>(MOD_ALT) << 8, HOTKEY_MOD_ALT);
    EXPECT_EQ(static_cast<uint32_t>(MOD_CONTROL) << 8, HOTKEY_MOD_CTRL);
    EXPECT_EQ(static_cast<uint32_t>(MOD_SHIFT) << 8, HOTKEY_MOD_SHIFT);
    EXPECT_EQ(static_cast<uint32_t>(MOD_WIN) << 8, HOTKEY_MOD_WIN);

    // The file holds the same numbers.
    settings.Save(true, false);
    CMemJson json;
    ASSERT_TRUE(json.LoadFromFile(SettingsPath()));
    const JsonArray* array = json.Root.FindMember(L"hotkeys")->FindMember(L"hotkeys")->ArrayPtr();
    ASSERT_EQ(array->size(), std::size(expected));
    for (size_t i = 0; i < array->size(); ++i) {
        int64_t command = 0, hotkey = 0;
        (*array)[i].GetInt64(L"command", command);
        (*array)[i].GetInt64(L"hotkey", hotkey);
        EXPECT_EQ(command, expected[i].command);
        EXPECT_EQ(hotkey, expected[i].hotkey);
    }
}

TEST_F(AppSettingsSchemaTest, DefaultColumnTables)
{
    const struct { AppColumnList list; size_t count; int width0; int lastFormat; } cases[] = {
        {COLS_EVENTLOG, 3, 127, COLFMT_LEFT},  {COLS_FORMATS, 9, 44, COLFMT_LEFT},
        {COLS_KEYFILTERS, 6, 20, COLFMT_LEFT}, {COLS_SOUNDS, 5, 150, COLFMT_CENTER},
        {COLS_HOTKEYS, 3, 200, COLFMT_LEFT},   {COLS_OPENCONFIG, 3, 35, COLFMT_LEFT},
        {COLS_KEYLIST, 6, 35, COLFMT_LEFT},    {COLS_ADVANCED, 2, 300, COLFMT_LEFT},
        {COLS_COLUMNLIST, 5, 20, COLFMT_CENTER}, {COLS_DESTINATION, 5, 20, COLFMT_LEFT},
    };
    for (const auto& c : cases) {
        const std::vector<ColumnDesc> columns = GetDefaultColumns(c.list);
        ASSERT_EQ(columns.size(), c.count) << c.list;
        EXPECT_EQ(columns[0].width, c.width0) << c.list;
        EXPECT_EQ(columns.back().format, c.lastFormat) << c.list;
        for (const ColumnDesc& d : columns)
            EXPECT_EQ(d.flags & COLF_AUTOSIZE, 0) << c.list;
    }
    const std::vector<ColumnDesc> formats = GetDefaultColumns(COLS_FORMATS);
    const int visible[] = {1, 1, 0, 1, 0, 0, 0, 1, 0};
    for (size_t i = 0; i < formats.size(); ++i)
        EXPECT_EQ(formats[i].flags, visible[i]) << i;
    EXPECT_EQ(formats[0].order, 1);
    EXPECT_EQ(formats[1].order, 0);
    EXPECT_EQ(formats[1].format, COLFMT_RIGHT);

    // The Destination page's list is not stored: a load gives its defaults again.
    settings.EditColumns(COLS_DESTINATION)->at(0).width = 1;
    LoadMembers(R"("ui": {})");
    EXPECT_EQ(settings.Columns(COLS_DESTINATION)[0].width, 20);
}

TEST_F(AppSettingsSchemaTest, OldFileKeyFiltersMoveIntoTheConfiguration)
{
    CTransferDoc& transfer = settings.GetTransferDoc();
    transfer.KeyFilters().push_back(KeyFilter{9, L"old", 1, 0, 1, 0});
    CAppCfgFile file(SettingsPath());
    WriteSettings(R"("ui": {"formatFilters": {"formatFilters": [
            {"id": 7, "name": "A", "keyTypes": 2, "keySize": 3, "formatId": 1001, "visible": false},
            {"name": "B"}, "x", {"id": 0, "keyTypes": 4.0}], "sort": -2, "columns": [{"width": 77}]},
        "keyFilters": {"columns": [{"width": 88}]}})",
                  "1.3");
    file.Load();
    ASSERT_EQ(file.GetVersion(), 0x0301u);
    settings.ReadSettings(file);  // the application part alone, as the load's first step
    const std::vector<KeyFilter>& filters = transfer.GetKeyFilters();
    ASSERT_EQ(filters.size(), 3u);
    EXPECT_EQ(filters[0].id, 1u);
    EXPECT_EQ(filters[0].name, L"A");
    EXPECT_EQ(filters[0].keyTypes, 2u);
    EXPECT_EQ(filters[0].keySize, 3);
    EXPECT_EQ(filters[0].formatId, 1001u);
    EXPECT_EQ(filters[0].flags, 0u);
    EXPECT_EQ(filters[1].id, 2u);
    EXPECT_EQ(filters[1].name, L"B");
    EXPECT_EQ(filters[1].flags, KEYFILTER_VISIBLE);
    EXPECT_EQ(filters[2].id, 3u);
    EXPECT_EQ(filters[2].keyTypes, 0u);
    EXPECT_EQ(transfer.keyFilterNewId, 4u);
    EXPECT_EQ(transfer.keyFiltersSort, -2);
    EXPECT_EQ(settings.Columns(COLS_KEYFILTERS)[0].width, 77);

    // The next save writes the current layout.
    settings.Save(true, true);
    CMemJson json;
    ASSERT_TRUE(json.LoadFromFile(SettingsPath()));
    const JsonValue* ui = json.Root.FindMember(L"ui");
    EXPECT_EQ(ui->FindMember(L"formatFilters"), nullptr);
    const JsonValue* page = ui->FindMember(L"keyFilters", JSON_OBJECT);
    ASSERT_NE(page, nullptr);
    int64_t width = 0;
    (*page->FindMember(L"columns")->ArrayPtr())[0].GetInt64(L"width", width);
    EXPECT_EQ(width, 77);
}

TEST_F(AppSettingsSchemaTest, WindowSlotsAreWrittenInPlace)
{
    // Element 1 holds a foreign member and a short "pos"; element 2 is not an object.
    LoadMembers(R"("main": {"history": 515}, "ui": {"formPos": [
        {"id": 1, "pos": [1, 2], "extra": "kept"}, 9, {"id": 3, "pos": [5, 6, 7, 8, 9]}]})");
    settings.SetWindowSlot(0, {100, 200, 300, 400});
    settings.SetWindowSlot(1, {11, 12, 13, 14});
    settings.SetShowState(0, 2);
    settings.SetShowState(1, 5);
    settings.SetHistoryFlags(HIST_POSITIONS | HIST_SHOW_STATES);
    settings.Save(true, false);
    CMemJson json;
    ASSERT_TRUE(json.LoadFromFile(SettingsPath()));
    const JsonArray& slots = *json.Root.FindMember(L"ui")->FindMember(L"formPos")->ArrayPtr();
    ASSERT_EQ(slots.size(), 10u);
    auto pos = [&](size_t i) {
        std::vector<int64_t> v;
        for (const JsonValue& n : *slots[i].FindMember(L"pos")->ArrayPtr())
            v.push_back(n.Int64Value());
        return v;
    };
    std::wstring extra;
    slots[0].GetString(L"extra", extra);
    EXPECT_EQ(extra, L"kept");
    EXPECT_EQ(pos(0), (std::vector<int64_t>{100, 200, INT_MIN, INT_MIN}));  // sizes not under bit 1
    EXPECT_EQ(pos(1), (std::vector<int64_t>{11, 12, INT_MIN, INT_MIN}));
    EXPECT_EQ(pos(2), (std::vector<int64_t>{5, 6, 7, 8, 9}));  // as loaded, the fifth kept
    int64_t state = 0, id = 0;
    slots[1].GetInt64(L"state", state);
    slots[9].GetInt64(L"id", id);
    EXPECT_EQ(state, 5);
    EXPECT_EQ(id, 10);
    EXPECT_EQ(slots[2].FindMember(L"state"), nullptr);
}

TEST_F(AppSettingsSchemaTest, HistoryBitsDecideWhatIsWritten)
{
    const struct { uint32_t history; bool page; bool enabled; bool last; bool formPos; bool collapsed; } cases[] = {
        {0, false, false, false, false, false},
        {HIST_PAGE, true, false, false, false, false},
        {HIST_TRANSFER_ON | HIST_LAST_TRANSFER, false, true, true, false, false},
        {HIST_SHOW_STATES, false, false, false, true, false},
        {HIST_SIZES | HIST_ADVANCED, false, false, false, true, true},
    };
    for (const auto& c : cases) {
        CAppSettings s;
        s.SetDataFolder(dir.Path(), false);
        s.SetHistoryFlags(c.history);
        DeleteFileW(s.GetSettingsPath().c_str());
        s.Save(true, false);
        CMemJson json;
        ASSERT_TRUE(json.LoadFromFile(s.GetSettingsPath()));
        const JsonValue* ui = json.Root.FindMember(L"ui");
        EXPECT_EQ(ui->FindMember(L"page") != nullptr, c.page) << c.history;
        EXPECT_EQ(json.Root.FindMember(L"transfer")->FindMember(L"enabled") != nullptr, c.enabled) << c.history;
        EXPECT_EQ(json.Root.FindMember(L"lastTransferInfo") != nullptr, c.last) << c.history;
        EXPECT_EQ(ui->FindMember(L"formPos") != nullptr, c.formPos) << c.history;
        EXPECT_EQ(ui->FindMember(L"advanced")->FindMember(L"collapsed") != nullptr, c.collapsed) << c.history;
    }
}

TEST_F(AppSettingsSchemaTest, LastTransferIsWrittenInItsTextForms)
{
    settings.SetHistoryFlags(HIST_LAST_TRANSFER);
    SYSTEMTIME st = {2023, 7, 0, 4, 9, 5, 3, 0};
    settings.SetLastTransferInfo(CTimeValue(st), 1, MakeKeyNumber((const uint8_t*)"\x2A\x00\x05", 3), 0, nullptr,
                                 0, nullptr, L"F", L"T", L"W");
    settings.Save(true, false);
    CMemJson json;
    ASSERT_TRUE(json.LoadFromFile(SettingsPath()));
    const JsonValue* info = json.Root.FindMember(L"lastTransferInfo");
    std::wstring time, key;
    info->GetString(L"time", time);
    info->GetString(L"keyNumber", key);
    EXPECT_EQ(time, L"04.07.2023 09:05:03.000");
    EXPECT_EQ(key, L"05002A");
    EXPECT_EQ(Keys(info), (std::vector<std::wstring>{L"time", L"keyType", L"keyNumber", L"format", L"transferred",
                                                     L"where", L"errorCode", L"errorText", L"counter"}));

    settings.SetLastTransferInfo(CTimeValue(), 0, _KEY_NUMBER(), 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
    settings.Save(true, false);
    ASSERT_TRUE(json.LoadFromFile(SettingsPath()));
    json.Root.FindMember(L"lastTransferInfo")->GetString(L"time", time);
    EXPECT_EQ(time, L"");
}

TEST_F(AppSettingsSchemaTest, GroupLookups)
{
    JsonValue root;
    EXPECT_EQ(GetSettingsGroup(root, L"transfer", false), nullptr);
    JsonValue* created = GetSettingsGroup(root, L"transfer", true);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->GetType(), JSON_OBJECT);
    EXPECT_EQ(GetSettingsGroup(root, L"transfer", false), created);
    root.SetString(L"sounds", L"not an object");
    EXPECT_EQ(GetSettingsGroup(root, L"sounds", false), nullptr);
    EXPECT_EQ(GetSettingsGroup(root, L"sounds", true)->GetType(), JSON_OBJECT);

    JsonValue ui;
    EXPECT_EQ(GetKeyFiltersPageGroup(ui, 0x0301, true), nullptr);  // the old key is never created
    ui.Member(L"formatFilters").SetType(JSON_OBJECT);
    EXPECT_NE(GetKeyFiltersPageGroup(ui, 0x0301, false), nullptr);
    EXPECT_EQ(GetKeyFiltersPageGroup(ui, 0x0401, false), nullptr);
    EXPECT_NE(GetKeyFiltersPageGroup(ui, 0x0601, true), nullptr);
    EXPECT_NE(ui.FindMember(L"keyFilters", JSON_OBJECT), nullptr);

    JsonValue holder;
    EXPECT_EQ(GetKeyFilterArray(holder, false), nullptr);
    ASSERT_NE(GetKeyFilterArray(holder, true), nullptr);
    EXPECT_NE(GetKeyFilterArray(holder, false), nullptr);
}

}  // namespace
