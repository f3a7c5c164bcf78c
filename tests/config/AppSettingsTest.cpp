// The settings document: start-up without a file, the golden first save, load and save
// rules, the configuration in its own file, paths, look-ups, change bits and autorun.
#include "AppSettingsTestSupport.h"

#include <cstdlib>
#include <functional>

#include "core/Exceptions.h"
#include "core/Json.h"
#include "resources/resource.h"
#include "tests/support/FakeSystemServices.h"

using namespace settings_test;

namespace {

const wchar_t* const kAppPart[] = {L"info",   L"main",    L"debugLog", L"transfer", L"eventLog", L"ui",
                                   L"sounds", L"hotkeys", L"csv",      L"extTools"};
const wchar_t* const kConfigPart[] = {L"transfer",    L"reader",  L"keyList",    L"keyboard",
                                      L"portavo",     L"cmdline", L"httpRequest", L"formats",
                                      L"keyFilters",  L"readKeys", L"mifareCKeys", L"mifarePKeys"};

std::vector<std::wstring> ListOf(std::initializer_list<const wchar_t*> names)
{
    return std::vector<std::wstring>(names.begin(), names.end());
}

template <size_t N>
std::vector<std::wstring> ListOf(const wchar_t* const (&names)[N])
{
    return std::vector<std::wstring>(names, names + N);
}

CMemJson LoadJson(const std::wstring& path)
{
    CMemJson json;
    EXPECT_TRUE(json.LoadFromFile(path)) << WStringToMultiByte(path, CP_UTF8);
    return json;
}

class AppSettingsTest : public SettingsFixture
{
};

// Start-up and the golden file -------------------------------------------------------------

TEST_F(AppSettingsTest, NoSettingsFileGivesDefaultsBuiltInToolsAndUnsaved)
{
    settings.LoadOrDefaults(true);
    EXPECT_TRUE(settings.IsUnsaved());
    EXPECT_EQ(recorder.calls, 1);
    EXPECT_EQ(recorder.word1, ASC_UNSAVED | ASC_EXT_TOOLS);

    const struct { const wchar_t* name; const wchar_t* command; bool admin; } tools[] = {
        {L"Windows Device Manager", L"devmgmt.msc", true},
        {L"Notepad", L"notepad.exe", false},
        {L"Portavo", L"%PROGRAMFILES(x86)%\\Quillmark\\Portavo\\Portavo.exe", false},
        {L"Windows character map", L"charmap.exe", false},
        {L"Calculator", L"calc.exe", false},
        {L"Remote Desktop Connection", L"mstsc.exe", false},
    };
    // The resource's own layout: its "info" and the tools inside "extTools" "extTools".
    CMemJson resource;
    ASSERT_TRUE(resource.LoadFromResource(IDR_EXT_TOOLS));
    const JsonValue* info = resource.Root.FindMember(L"info", JSON_OBJECT);
    std::wstring name, version;
    ASSERT_TRUE(info && info->GetString(L"name", name) && info->GetString(L"version", version));
    EXPECT_EQ(name, L"Norvane.ExtTools");
    EXPECT_EQ(version, L"1.0");
    ASSERT_EQ(settings.extTools.size(), std::size(tools));
    for (size_t i = 0; i < std::size(tools); ++i) {
        const _EXT_TOOL& t = settings.extTools[i];
        EXPECT_EQ(t.name, tools[i].name);
        EXPECT_EQ(t.command, tools[i].command);
        EXPECT_EQ(t.arguments, L"");
        EXPECT_EQ(t.initialDir, L"");
        EXPECT_EQ(t.flags, tools[i].admin ? EXTTOOL_START_ADMIN : 0u) << i;
    }
    // Without a file the sound files stay empty; a file's reading starts them from the
    // system sounds.
    for (int i = 0; i < kSoundEventCount; ++i)
        EXPECT_EQ(settings.GetSoundFile(i), L"");
    EXPECT_EQ(settings.GetHistoryFlags(), 7291u);
    EXPECT_EQ(settings.GetKeyViewFormat(), 4);
    EXPECT_EQ(settings.GetKeyEditFormat(), 3);
    EXPECT_EQ(settings.GetConfirmFlags(), 65820u);
    EXPECT_EQ(settings.GetPanels(), 9u);
    EXPECT_EQ(settings.GetPageListPages(), 0x700001u);
    EXPECT_EQ(settings.GetTrayClickCommands()[0], 32820);
    EXPECT_EQ(settings.GetEventLogLimit(), 2147483647);
    EXPECT_EQ(settings.GetPreviousPage(), -1);
    EXPECT_EQ(settings.csv.delimiter, L';');
    EXPECT_EQ(settings.debugLog.logLevel, 5);
    EXPECT_EQ(settings.debugLog.maxSize, -1);
    EXPECT_FALSE(settings.GetEventLog().IsOpen());
    EXPECT_EQ(settings.GetEventLog().GetRecordLimit(), 2147483647);
    EXPECT_EQ(settings.windowSlots[9].left, kNoWindowPos);
    EXPECT_EQ(settings.windowSlots[9].height, kNoWindowPos);
}

TEST_F(AppSettingsTest, FirstSaveMatchesGoldenAndReloadSavesIdentically)
{
    settings.LoadOrDefaults(true);
    settings.Save(true, true);
    EXPECT_FALSE(settings.IsUnsaved());
    const std::string golden = ReadBytes(GoldenPath(L"Norvane_defaults.json"));
    const std::string written = ReadBytes(SettingsPath());
    EXPECT_EQ(written, golden);

    CAppSettings again;
    again.SetDataFolder(dir.Path(), false);
    again.LoadOrDefaults(true);
    EXPECT_FALSE(again.IsUnsaved());
    EXPECT_EQ(again.extTools.size(), 6u);
    again.Save(true, true);
    EXPECT_EQ(ReadBytes(SettingsPath()), golden);
}

TEST_F(AppSettingsTest, PopulatedSettingsSaveLoadSaveIsByteIdentical)
{
    settings.LoadOrDefaults(true);
    settings.SetHistoryFlags(0x3FFF);
    settings.SetDocumentsFolder(L"Docs");
    settings.SetTransferEnabled(true);
    SYSTEMTIME st = {2024, 2, 0, 29, 23, 59, 58, 0};
    settings.SetLastTransferInfo(CTimeValue(st), 1, MakeKeyNumber((const uint8_t*)"\x2A\x00\x05", 3), 1001,
                                 L"status", -2147220991, L"bad \"thing\"", L"Wiegand 26", L"005,00042",
                                 L"Keyboard");
    settings.SetKeyViewFormat(2);
    settings.SetCurrentPage(12);
    settings.SetPageListCollapsed(true);
    settings.SetSoundsEnabled(true);
    settings.SetSoundFile(2, L"C:\\Sounds\\on.wav");
    settings.SetLanguage(L"Deutsch");
    settings.SetTrayClickCommands({32820, 1, 2, 3});
    settings.EditHotkeys()->push_back(MakeHotkeyEntry(33000, HOTKEY_GLOBAL | HOTKEY_MOD_WIN | 'K'));
    *settings.EditAdvancedCollapsed() = {3, 7};
    settings.SetWindowSlot(0, {10, 20, 640, 480});
    settings.SetWindowSlot(4, {-5, -6, 70, 80});
    settings.SetShowState(0, 3);
    settings.SetShowState(1, 1);
    {
        auto columns = settings.EditColumns(COLS_KEYLIST);
        (*columns)[2].width = 222;
        (*columns)[3].flags = COLF_AUTOSIZE;
    }
    *settings.EditCsv() = {L'\t', 2};
    *settings.EditManageSettings() = {2, 0x15, 0x3};
    settings.Save(true, true);
    const std::string first = ReadBytes(SettingsPath());

    CAppSettings again;
    again.SetDataFolder(dir.Path(), false);
    again.LoadOrDefaults(true);
    EXPECT_EQ(again.GetLastTransfer().formatName, L"Wiegand 26");
    EXPECT_EQ(again.GetLastTransfer().errorCode, -2147220991);
    SYSTEMTIME back = {};
    ASSERT_TRUE(again.GetLastTransfer().time.GetSystemTime(back));
    EXPECT_EQ(back.wDay, 29);
    EXPECT_EQ(back.wSecond, 58);
    EXPECT_EQ(again.GetCurrentPage(), 12);
    EXPECT_EQ(again.hotkeys.back(), MakeHotkeyEntry(33000, 0x8800 | 'K'));
    EXPECT_EQ(again.windowSlots[4].left, -5);
    EXPECT_EQ(again.showStates[0], 3);
    EXPECT_EQ(again.csv.delimiter, L'\t');
    again.Save(true, true);
    EXPECT_EQ(ReadBytes(SettingsPath()), first);
}

// Every member of `read` (but the header) stands in `saved` with the same value; the path of
// the first one that does not, else empty.
std::string FirstChangedMember(const JsonValue& read, const JsonValue& saved, const std::string& path = "")
{
    const JsonObject* object = read.ObjectPtr();
    if (!object || saved.GetType() != JSON_OBJECT) {
        std::wstring a, b;
        read.Serialize(a, L"");
        saved.Serialize(b, L"");
        return a == b ? std::string() : path;
    }
    for (size_t i = 0; i < object->Count(); ++i) {
        const std::wstring& key = object->At(i).key;
        const std::string where = path + "/" + WStringToMultiByte(key, CP_UTF8);
        if (path.empty() && key == L"info")
            continue;
        const JsonValue* other = saved.FindMember(key);
        if (!other)
            return where;
        std::string changed = FirstChangedMember(object->At(i).value, *other, where);
        if (!changed.empty())
            return changed;
    }
    return std::string();
}

// Whatever the reader takes in, the first save writes a file that the next start reads as it
// was written, so the next exit writes the same bytes again.
TEST_F(AppSettingsTest, SaveOfAnythingReadIsAFixedPoint)
{
    const std::vector<uint32_t> defaultTemic = ReadKeysSettings().temic.params;
    struct Case
    {
        const char* name;
        std::string bytes;
        const char* firstSaveHolds;                      // or null
        std::function<void(const CAppSettings&)> check;  // of both reads; null: every member keeps its value
    };
    const Case cases[] = {
        {"a Classic key of 8 bytes in \"mifareKeys\"",
         SettingsText(R"("mifareKeys": {"keys": ["1122334455\u00e9\u00e9\u00e966"]})", "1.0"), "\t38707408142438\r\n",
         [](const CAppSettings& s) {
             const std::vector<_KEY_NUMBER>& keys = s.GetTransferDoc().GetMifareClassicKeys();
             ASSERT_EQ(1u, keys.size());
             const uint8_t first6[] = {0x66, 0x00, 0x50, 0x45, 0x34, 0x23};
             EXPECT_TRUE(KeysEqual(MakeKeyNumber(first6, 6), keys[0]));
         }},
        {"Temic params without an entry", SettingsText(R"("readKeys": {"temic": {"params": ";"}})"),
         "\"params\": \"2,0,0;1,1,0;2,1,0;1,0,0;255,0,1000;\"",
         [&](const CAppSettings& s) { EXPECT_EQ(defaultTemic, s.GetTransferDoc().readKeys.temic.params); }},
        {"key filters of the old layout",
         R"({"info":{"name":"Norvane","version":"1"},"ui":{"formatFilters":{"":2,"formatFilters":[{"":""},{"":4,"":""}]}}})",
         nullptr,
         [](const CAppSettings& s) {
             const CTransferDoc& doc = s.GetTransferDoc();
             EXPECT_FALSE(doc.GetKeyFilters().empty());
             EXPECT_EQ(doc.GetKeyFilters().size() + 1, doc.keyFilterNewId);
         }},
        {"a device as the configuration", SettingsText(R"("main": {"configuration": "NUL"})"), nullptr,
         [](const CAppSettings& s) { EXPECT_EQ(L"", s.GetTransferDoc().GetPathName()); }},
        {"Norvane_defaults.json", ReadBytes(GoldenPath(L"Norvane_defaults.json")), nullptr, nullptr},
        {"default.nv2", ReadBytes(GoldenPath(L"default.nv2")), nullptr, nullptr},
        {"full.nv2", ReadBytes(GoldenPath(L"full.nv2")), nullptr, nullptr},
        {"export_all.json", ReadBytes(GoldenPath(L"export_all.json")), nullptr, nullptr},
        {"export_columns.json", ReadBytes(GoldenPath(L"export_columns.json")), nullptr, nullptr},
        {"export_destination.json", ReadBytes(GoldenPath(L"export_destination.json")), nullptr, nullptr},
        {"export_other_keyfilters.json", ReadBytes(GoldenPath(L"export_other_keyfilters.json")), nullptr, nullptr},
        {"export_tray.json", ReadBytes(GoldenPath(L"export_tray.json")), nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTempFolder folder;
        CAppSettings first;
        first.SetDataFolder(folder.Path(), false);
        WriteBytes(first.GetSettingsPath(), c.bytes);
        std::string saves[2];
        for (std::string& save : saves) {
            CAppSettings s;
            s.SetDataFolder(folder.Path(), false);
            s.Load(true, true);
            if (c.check)
                c.check(s);
            s.Save(true, true);
            save = ReadBytes(s.GetSettingsPath());
        }
        EXPECT_EQ(saves[0], saves[1]);
        if (c.firstSaveHolds)
            EXPECT_NE(std::string::npos, saves[0].find(c.firstSaveHolds));
        if (!c.check) {
            CMemJson read, saved;
            ASSERT_TRUE(read.LoadFromText(MultiByteToWString(c.bytes.substr(3), CP_UTF8)));
            ASSERT_TRUE(saved.LoadFromText(MultiByteToWString(saves[0].substr(3), CP_UTF8)));
            EXPECT_EQ("", FirstChangedMember(read.Root, saved.Root));
        }
    }
}

// Load and save rules ------------------------------------------------------------------------

TEST_F(AppSettingsTest, UnsavedAfterLoadFollowsTheFileVersion)
{
    const struct { const char* version; bool read; bool unsaved; } cases[] = {
        {"1.6", true, false}, {"1.6.0", true, false}, {"1.5", true, true},
        {"1.9", true, true},  {"2.0", false, true},   {"x", false, true},
    };
    for (const auto& c : cases) {
        CAppSettings s;
        s.SetDataFolder(dir.Path(), false);
        WriteBytes(s.GetSettingsPath(), SettingsText(R"("csv": {"encoding": 2})", c.version));
        EXPECT_EQ(s.Load(true, true), c.read) << c.version;
        EXPECT_EQ(s.IsUnsaved(), c.unsaved) << c.version;
        EXPECT_EQ(s.GetTransferDoc().IsUnsaved(), c.unsaved) << c.version;
        EXPECT_EQ(s.csv.encoding, c.read ? 2 : 1) << c.version;
    }
}

TEST_F(AppSettingsTest, SaveKeepsUnknownMembersOfCurrentFileOnly)
{
    const std::string members = R"("foreign": {"a": 1}, "csv": {"delimiter": ","})";
    WriteSettings(members, "1.6");
    settings.Load(true, true);
    settings.Save(true, false);
    CMemJson kept = LoadJson(SettingsPath());
    std::vector<std::wstring> keys = Keys(&kept.Root);
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(keys[1], L"foreign");  // in its place
    EXPECT_EQ(keys[2], L"csv");
    // Only the application part was asked for: no configuration members came in.
    EXPECT_EQ(kept.Root.FindMember(L"reader"), nullptr);

    WriteSettings(members, "1.5");
    settings.Load(true, true);
    settings.Save(true, false);  // another version: rewritten whole with both parts
    CMemJson rewritten = LoadJson(SettingsPath());
    EXPECT_EQ(rewritten.Root.FindMember(L"foreign"), nullptr);
    EXPECT_NE(rewritten.Root.FindMember(L"reader"), nullptr);
    EXPECT_FALSE(settings.IsUnsaved());
    EXPECT_FALSE(settings.GetTransferDoc().IsUnsaved());
}

TEST_F(AppSettingsTest, DamagedFileIsKeptAsideAndNotReadAndNextSaveIsComplete)
{
    const std::string damaged = SettingsText("").substr(0, 30) + R"(, "main": {"docDir": "Lost")";
    WriteBytes(SettingsPath(), damaged);
    settings.LoadOrDefaults(true);
    EXPECT_TRUE(settings.IsUnsaved());
    EXPECT_EQ(settings.GetDocumentsFolderSetting(), L"");
    EXPECT_EQ(settings.extTools.size(), 6u);  // as without a file
    EXPECT_EQ(ReadBytes(SettingsPath() + L".bad"), damaged);

    settings.Save(true, true);
    EXPECT_EQ(ReadBytes(SettingsPath()), ReadBytes(GoldenPath(L"Norvane_defaults.json")));
    EXPECT_EQ(ReadBytes(SettingsPath() + L".bad"), damaged);
}

TEST_F(AppSettingsTest, LoadErrorsPropagateAndSaveWithNothingToDoWritesNothing)
{
    EXPECT_THROW(settings.Load(true, true), CFileException);  // no file
    settings.GetTransferDoc().SetPathName(dir.File(L"Own.nv2"));
    settings.Save(false, true);                                 // the configuration has its own file
    EXPECT_EQ(ReadBytes(SettingsPath()), "<missing>");
}

TEST_F(AppSettingsTest, ConfigurationInItsOwnFile)
{
    settings.LoadOrDefaults(true);
    std::wstring docs;
    settings.ResolveDocumentsFolder(docs, true);
    const std::wstring own = docs + L"\\Work.nv2";
    CTransferDoc& transfer = settings.GetTransferDoc();
    transfer.SetPathName(own);
    settings.Save(true, true);
    transfer.Save(false);

    CMemJson main = LoadJson(SettingsPath());
    EXPECT_EQ(Keys(&main.Root), ListOf(kAppPart));
    EXPECT_EQ(Keys(main.Root.FindMember(L"transfer")), ListOf({L"transferLog", L"autoStart"}));
    std::wstring configuration;
    main.Root.FindMember(L"main")->GetString(L"configuration", configuration);
    EXPECT_EQ(configuration, L"Work.nv2");

    CMemJson config = LoadJson(own);
    std::vector<std::wstring> expected = {L"info"};
    for (const wchar_t* key : kConfigPart)
        expected.push_back(key);
    EXPECT_EQ(Keys(&config.Root), expected);
    EXPECT_EQ(Keys(config.Root.FindMember(L"transfer")), ListOf({L"source", L"destination"}));

    CAppSettings again;
    again.SetDataFolder(dir.Path(), false);
    again.LoadOrDefaults(true);
    EXPECT_EQ(again.GetTransferDoc().GetPathName(), own);
    std::wstring display;
    again.GetConfigDisplayPath(display);
    EXPECT_EQ(display, L"Work.nv2");
}

TEST_F(AppSettingsTest, MainFileConfigurationIsReadAndSaved)
{
    LoadMembers(R"("transfer": {"source": "reader:COM3", "destination": "clipboard:"}, "reader": {"speed": 9600})");
    const CTransferDoc& transfer = settings.GetTransferDoc();
    EXPECT_EQ(transfer.GetSourceKind(), 1);
    EXPECT_EQ(transfer.GetSourceValue(), L"COM3");
    EXPECT_EQ(transfer.GetDestinationType(), 2);
    EXPECT_EQ(transfer.reader.speed, 9600u);

    // Switching back to the configuration of the main file reads only that part.
    CAppSettings other;
    other.SetDataFolder(dir.Path(), false);
    other.EditCsv()->encoding = 2;
    other.Load(false, true);
    EXPECT_EQ(other.GetTransferDoc().GetSourceValue(), L"COM3");
    EXPECT_EQ(other.csv.encoding, 2);
}

// An unsaved configuration that the loaded file replaces is saved before anything is read:
// its own notification comes first, the load's after it, and a failing save leaves both
// documents untouched.
TEST_F(AppSettingsTest, ReplacedConfigurationIsSavedBeforeTheLoadScope)
{
    CTransferDoc& transfer = settings.GetTransferDoc();
    const std::wstring oldPath = dir.File(L"Old.nv2");
    transfer.SetPathName(oldPath);
    {
        CDocUpdateScope scope(transfer);
        transfer.RaiseChange(TDC_READER, 0, true);
    }
    ASSERT_TRUE(transfer.IsUnsaved());
    Recorder transferRecorder;
    int slot = transfer.AddObserver(&transferRecorder, &Recorder::Callback);
    WriteSettings(R"("main": {"docDir": "", "configuration": "New.nv2"}, "csv": {"encoding": 2})");

    settings.Load(true, true);
    transfer.RemoveObserver(slot);
    EXPECT_NE(ReadBytes(oldPath), "<missing>");
    EXPECT_EQ(transfer.GetPathName(), dir.File(L"New.nv2"));
    ASSERT_EQ(transferRecorder.words.size(), 2u);
    EXPECT_EQ(transferRecorder.words[0], TDC_UNSAVED);
    EXPECT_TRUE(transferRecorder.words[1] & TDC_PATH);

    // The same with a save that cannot succeed.
    CAppSettings failing;
    failing.SetDataFolder(dir.Path(), false);
    Recorder failingRecorder;
    int failingSlot = failing.AddObserver(&failingRecorder, &Recorder::Callback);
    CTransferDoc& t2 = failing.GetTransferDoc();
    t2.SetPathName(dir.File(L"missing\\folder\\Old.nv2"));
    {
        CDocUpdateScope scope(t2);
        t2.RaiseChange(TDC_READER, 0, true);
    }
    failingRecorder.Reset();
    EXPECT_THROW(failing.Load(true, true), CFileException);
    EXPECT_EQ(failingRecorder.calls, 0);
    EXPECT_EQ(failing.csv.encoding, 1);
    EXPECT_EQ(t2.GetPathName(), dir.File(L"missing\\folder\\Old.nv2"));
    EXPECT_TRUE(t2.IsUnsaved());
    failing.RemoveObserver(failingSlot);
}

TEST_F(AppSettingsTest, ReplacedConfigurationOfTheMainFileIsSavedThere)
{
    settings.LoadOrDefaults(true);
    settings.Save(true, true);
    CTransferDoc& transfer = settings.GetTransferDoc();
    transfer.EditReaderSettings()->speed = 19200;
    // Someone points the main file at a configuration file meanwhile.
    CAppCfgFile file(SettingsPath());
    file.Load();
    file.WriteString(*file.Root.FindMember(L"main"), L"configuration", L"Elsewhere.nv2");
    file.Save();

    settings.Load(true, true);
    EXPECT_FALSE(transfer.IsUnsaved());
    EXPECT_EQ(transfer.GetPathName(), dir.File(L"Elsewhere.nv2"));
    CMemJson saved = LoadJson(SettingsPath());
    int64_t speed = 0;
    ASSERT_NE(saved.Root.FindMember(L"reader"), nullptr);
    saved.Root.FindMember(L"reader")->GetInt64(L"speed", speed);
    EXPECT_EQ(speed, 19200);
}

// Paths ------------------------------------------------------------------------------------

TEST_F(AppSettingsTest, DocumentsFolderResolution)
{
    SetEnvironmentVariableW(L"NV_TEST_DOCS", L"C:\\Shared\\Docs");
    std::wstring program;
    ASSERT_TRUE(GetModuleFilePath(program));
    StripFileName(program);
    const std::wstring data = dir.Path();
    const struct { const wchar_t* docDir; bool portable; std::wstring expected; } cases[] = {
        {L"", false, data},
        {L"Configs", false, data + L"\\Configs"},
        {L"Configs", true, program + L"\\Configs"},
        {L"%NV_TEST_DOCS%\\Sub", false, L"C:\\Shared\\Docs\\Sub"},
        {L"%NV_TEST_DOCS%", true, L"C:\\Shared\\Docs"},
        {L"D:", false, L"D:"},
        {L"\\\\server\\share", false, L"\\\\server\\share"},
        {L"\\\\", false, data + L"\\\\\\"},
        {L"\\Rooted", false, data + L"\\\\Rooted"},
    };
    for (const auto& c : cases) {
        CAppSettings s;
        s.SetDataFolder(data, c.portable);
        s.SetDocumentsFolder(c.docDir);
        std::wstring out;
        s.ResolveDocumentsFolder(out, false);
        EXPECT_EQ(out, c.expected) << WStringToMultiByte(c.docDir, CP_UTF8) << " portable " << c.portable;
    }
    SetEnvironmentVariableW(L"NV_TEST_DOCS", nullptr);
}

TEST_F(AppSettingsTest, DocumentPathsAndFolderCreation)
{
    settings.SetDocumentsFolder(L"A\\B");
    std::wstring out = L"x";
    settings.MakeDocumentPath(L"", out, true);
    EXPECT_EQ(out, L"");
    settings.MakeDocumentPath(L"C:\\abs\\x.nv2", out, false);
    EXPECT_EQ(out, L"C:\\abs\\x.nv2");
    settings.MakeDocumentPath(L"x.nv2", out, false);
    EXPECT_EQ(out, dir.Path() + L"\\A\\B\\x.nv2");
    EXPECT_EQ(GetFileAttributesW((dir.Path() + L"\\A").c_str()), INVALID_FILE_ATTRIBUTES);
    settings.MakeDocumentPath(L"x.nv2", out, true);
    EXPECT_NE(GetFileAttributesW((dir.Path() + L"\\A\\B").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

    EXPECT_EQ(settings.ResolveLogFolder(), dir.Path() + L"\\A\\B");

    // A file where a folder must go.
    WriteBytes(dir.File(L"blocker"), "x");
    settings.SetDocumentsFolder(L"blocker\\sub");
    EXPECT_EQ(settings.ResolveLogFolder(), L"");
    try {
        settings.ResolveDocumentsFolder(out, true);
        ADD_FAILURE() << "no exception";
    } catch (const COSException& e) {
        EXPECT_NE(e.GetCode(), 0u);
    }
}

TEST_F(AppSettingsTest, ConfigDisplayPath)
{
    std::wstring out = L"x";
    settings.GetConfigDisplayPath(out);
    EXPECT_EQ(out, L"");
    settings.GetTransferDoc().SetPathName(dir.Path() + L"\\Sub\\A.nv2");
    settings.GetConfigDisplayPath(out);
    EXPECT_EQ(out, L"Sub\\A.nv2");
    settings.GetTransferDoc().SetPathName(dir.Path() + L"x\\A.nv2");  // a sibling folder is not below
    settings.GetConfigDisplayPath(out);
    EXPECT_EQ(out, dir.Path() + L"x\\A.nv2");
}

// Look-ups ---------------------------------------------------------------------------------

TEST_F(AppSettingsTest, FindHelpers)
{
    *settings.EditConfigFiles() = {L"Alpha", L"Beta"};
    *settings.EditKnownReaders() = {{.name = L"COM3"}, {.name = L"COM4"}, {.name = L"COM3", .portValue = 4096, .versionText = L"dup"}};
    *settings.EditLanguages() = {{L"English", L"", 0}, {L"Deutsch", L"", 1}};
    const struct { int got; int expected; } cases[] = {
        {settings.FindConfigFile(L"beta"), 1},   {settings.FindConfigFile(L"Gamma"), -1},
        {settings.FindReader(L"COM4", 0), -1},   {settings.FindReader(L"COM4", 1), -1},
        {settings.FindReader(L"COM4", 2), 1},    {settings.FindReader(L"COM4", -1), 1},
        {settings.FindReader(L"COM4", 99), 1},   {settings.FindReader(L"com3"), -1},
        {settings.FindReader(L"COM3"), 0},       {settings.FindLanguage(L"Deutsch"), 1},
        {settings.FindLanguage(L"deutsch"), -1},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].got, cases[i].expected) << "case " << i;
}

// Change bits ------------------------------------------------------------------------------

TEST_F(AppSettingsTest, HistoryGatedSettersChangeWithoutUnsaved)
{
    const struct {
        const char* name;
        uint32_t historyBit;
        void (*set)(CAppSettings&);
        uint32_t word1;
        uint32_t uiDetail;
    } cases[] = {
        {"page", HIST_PAGE, [](CAppSettings& s) { s.SetCurrentPage(5); }, ASC_UI, ASU_CURRENT_PAGE},
        {"transfer", HIST_TRANSFER_ON, [](CAppSettings& s) { s.SetTransferEnabled(true); }, ASC_TRANSFER_ON, 0},
        {"collapsed", HIST_PAGELIST, [](CAppSettings& s) { s.SetPageListCollapsed(true); }, ASC_UI,
         ASU_PAGELIST_COLLAPSED},
        {"last", HIST_LAST_TRANSFER,
         [](CAppSettings& s) { s.SetLastTransferInfo(CTimeValue(), 2, _KEY_NUMBER(), 0, L"x", 0, nullptr, nullptr, nullptr, nullptr); },
         ASC_STATE, 0},
        {"counter", HIST_LAST_TRANSFER, [](CAppSettings& s) { s.SetTransferCounter(4); }, ASC_STATE, 0},
    };
    for (const auto& c : cases) {
        for (bool bitSet : {false, true}) {
            CAppSettings s;
            s.SetDataFolder(dir.Path(), false);
            WriteBytes(s.GetSettingsPath(),
                       SettingsText(std::string(R"("main": {"history": )") + (bitSet ? "4294967295" : "0") + "}"));
            s.Load(true, false);
            ASSERT_FALSE(s.IsUnsaved());
            ASSERT_EQ(s.IsHistory(c.historyBit), bitSet);
            Recorder r;
            int slot = s.AddObserver(&r, &Recorder::Callback);
            c.set(s);
            EXPECT_EQ(r.calls, 1) << c.name;
            EXPECT_EQ(r.word1, c.word1 | (bitSet ? ASC_UNSAVED : 0)) << c.name << " bit " << bitSet;
            EXPECT_EQ(r.details.ui, c.uiDetail) << c.name;
            EXPECT_EQ(s.IsUnsaved(), bitSet) << c.name;
            s.RemoveObserver(slot);
        }
    }
}

TEST_F(AppSettingsTest, SetCurrentPageKeepsThePreviousPage)
{
    settings.SetCurrentPage(3);
    settings.SetCurrentPage(7);
    EXPECT_EQ(settings.GetCurrentPage(), 7);
    EXPECT_EQ(settings.GetPreviousPage(), 3);
    recorder.Reset();
    settings.SetCurrentPage(7);
    EXPECT_EQ(recorder.calls, 0);
}

TEST_F(AppSettingsTest, LastTransferDifferingOnlyInTimeIsStoredSilently)
{
    const _KEY_NUMBER key = MakeKeyNumber((const uint8_t*)"\x01\x02", 2);
    settings.SetLastTransferInfo(CTimeValue(1000), 1, key, 5, nullptr, 0, nullptr, L"F", L"T", L"W");
    EXPECT_EQ(recorder.calls, 1);
    EXPECT_EQ(recorder.details.state, ASS_LAST_TRANSFER);
    recorder.Reset();
    settings.SetLastTransferInfo(CTimeValue(2000), 1, key, 5, L"", 0, L"", L"F", L"T", L"W");
    EXPECT_EQ(recorder.calls, 0);
    EXPECT_EQ(settings.GetLastTransfer().time.GetTime(), 2000);
    settings.SetLastTransferInfo(CTimeValue(3000), 1, key, 5, nullptr, 0, nullptr, L"F", L"T2", L"W");
    EXPECT_EQ(recorder.calls, 1);
    EXPECT_EQ(settings.GetLastTransfer().transferred, L"T2");
    EXPECT_EQ(settings.GetLastTransfer().time.GetTime(), 3000);
}

TEST_F(AppSettingsTest, SettersInOneScopeGiveOneCallbackAndSenderIsNotTold)
{
    {
        CDocUpdateScope scope(settings);
        settings.SetKeyViewFormat(1);
        settings.SetSoundsEnabled(true);
        settings.SetPanels(3);
        settings.SetReadKeysViewFlags(1);
        EXPECT_EQ(recorder.calls, 0);
    }
    EXPECT_EQ(recorder.calls, 1);
    EXPECT_EQ(recorder.word1, ASC_UNSAVED | ASC_UI | ASC_SOUNDS_ON | ASC_PAGE);
    EXPECT_EQ(recorder.details.ui, ASU_KEY_VIEW_FORMAT | ASU_PANELS);
    EXPECT_EQ(recorder.details.page, ASP_READKEYS_FLAGS);
    EXPECT_EQ(settings.GetDetails().ui, 0u);  // valid only inside the notification

    recorder.Reset();
    {
        CDocUpdateScope scope(settings, &recorder);
        settings.SetSoundsEnabled(false);
    }
    EXPECT_EQ(recorder.calls, 0);
}

TEST_F(AppSettingsTest, SetterChangeBitsTable)
{
    const struct {
        const char* name;
        void (*set)(CAppSettings&);
        uint32_t word1;
        AppSettingsDetails details;
    } cases[] = {
        {"history", [](CAppSettings& s) { s.SetHistoryFlags(1); }, ASC_HISTORY, {}},
        {"docDir", [](CAppSettings& s) { s.SetDocumentsFolder(L"X"); }, ASC_DOCDIR, {}},
        {"clone", [](CAppSettings& s) { s.SetCloneNewConfig(false); }, 0, {}},
        {"editFormat", [](CAppSettings& s) { s.SetKeyEditFormat(1); }, 0, {}},
        {"klImport", [](CAppSettings& s) { s.SetKeyListImport(2); }, ASC_FILE_TYPES, {}},
        {"klExport", [](CAppSettings& s) { s.SetKeyListExport(2); }, ASC_FILE_TYPES, {}},
        {"klFilter", [](CAppSettings& s) { s.SetKeyListFilter(1); }, ASC_UI, {0, ASU_KEYLIST_FILTER, 0}},
        {"fImport", [](CAppSettings& s) { s.SetFormatsImport(2); }, ASC_FILE_TYPES, {}},
        {"fExport", [](CAppSettings& s) { s.SetFormatsExport(2); }, ASC_FILE_TYPES, {}},
        {"fFilter", [](CAppSettings& s) { s.SetFormatsFilter(1); }, ASC_UI, {0, ASU_FORMATS_FILTER, 0}},
        {"soundFile", [](CAppSettings& s) { s.SetSoundFile(3, L"a.wav"); }, ASC_SOUND_FILES, {}},
        {"hotkeysOn", [](CAppSettings& s) { s.SetHotkeysEnabled(false); }, ASC_HOTKEYS_ON, {}},
        {"hkFilter", [](CAppSettings& s) { s.SetHotkeysFilterFlags(1); }, ASC_UI, {0, ASU_HOTKEYS_FILTER, 0}},
        {"eventLog", [](CAppSettings& s) { s.SetEventLogEnabled(true); }, ASC_EVENTLOG_ON, {}},
        {"showAll", [](CAppSettings& s) { s.SetAdvancedShowAll(true); }, 0, {}},
        {"language", [](CAppSettings& s) { s.SetLanguage(L"X"); }, ASC_UI, {0, ASU_LANGUAGE, 0}},
        {"tray", [](CAppSettings& s) { s.SetTrayIconFlags(2); }, ASC_UI, {0, ASU_TRAY, 0}},
        {"trayCmds", [](CAppSettings& s) { s.SetTrayClickCommands({1, 2, 3, 4}); }, ASC_UI, {0, ASU_TRAY, 0}},
        {"tools", [](CAppSettings& s) { s.ResetExtTools(); }, ASC_EXT_TOOLS, {}},
        {"confirm", [](CAppSettings& s) { s.SetConfirmFlags(0); }, ASC_UI, {0, ASU_CONFIRM, 0}},
        {"noSort", [](CAppSettings& s) { s.SetNoSortHeader(true); }, ASC_UI, {0, ASU_NO_SORT_HEADER, 0}},
        {"pages", [](CAppSettings& s) { s.SetPageListPages(1); }, ASC_UI, {0, ASU_PAGELIST_PAGES, 0}},
    };
    for (const auto& c : cases) {
        CAppSettings s;
        Recorder r;
        int slot = s.AddObserver(&r, &Recorder::Callback);
        c.set(s);
        EXPECT_EQ(r.calls, 1) << c.name;
        EXPECT_EQ(r.word1, c.word1 | ASC_UNSAVED) << c.name;
        EXPECT_EQ(r.details.ui, c.details.ui) << c.name;
        EXPECT_TRUE(s.IsUnsaved()) << c.name;
        r.Reset();
        if (std::string(c.name) != "tools") {  // the tool reset does not compare
            c.set(s);
            EXPECT_EQ(r.calls, 0) << c.name << " again";
        }
        s.RemoveObserver(slot);
    }
}

template <bool AppViewOptions::*Option, bool Value>
void SetView(CAppSettings& s)
{
    AppViewOptions view = s.view;
    view.*Option = Value;
    s.SetViewOptions(view);
}

// The groups without setters of their own change through edits; each raises its group's change,
// and only run-time lists leave the settings saved.
TEST_F(AppSettingsTest, GroupSettersAndEditsRaiseTheirGroupsChange)
{
    const struct {
        const char* name;
        void (*change)(CAppSettings&);
        uint32_t word1;
        AppSettingsDetails details;
        bool unsaved;
    } cases[] = {
        {"singleInstance", [](CAppSettings& s) { s.SetSingleInstance(false); }, ASC_AUTORUN, {}, true},
        {"autoStart", [](CAppSettings& s) { s.SetAutoStart(true); }, ASC_AUTORUN, {}, true},
        {"transferLog", [](CAppSettings& s) { s.SetTransferLog(true); }, ASC_LOG_SWITCHES, {}, true},
        {"topMost", &SetView<&AppViewOptions::topMost, true>, ASC_UI, {0, ASU_TOPMOST, 0}, true},
        {"snapToEdges", &SetView<&AppViewOptions::snapToEdges, false>, ASC_UI, {0, ASU_SNAP_TO_EDGES, 0}, true},
        {"taskbarButton", &SetView<&AppViewOptions::taskbarButton, false>, ASC_UI, {0, ASU_TASKBAR_BUTTON, 0}, true},
        {"versionTitle", &SetView<&AppViewOptions::versionTitle, true>, ASC_UI, {0, ASU_VERSION_TITLE, 0}, true},
        {"altListBkColor", &SetView<&AppViewOptions::altListBkColor, false>, ASC_UI, {0, ASU_ALT_LIST_COLOR, 0}, true},
        {"tableGrid", &SetView<&AppViewOptions::tableGrid, true>, ASC_UI, {0, ASU_TABLE_GRID, 0}, true},
        {"debugLog", [](CAppSettings& s) { s.EditDebugLog()->logLevel = 2; }, ASC_LOG_SWITCHES, {}, true},
        {"csv", [](CAppSettings& s) { s.EditCsv()->delimiter = L','; }, ASC_CSV, {}, true},
        {"manageSettings", [](CAppSettings& s) { s.EditManageSettings()->mode = 2; }, 0, {}, true},
        {"hotkeys", [](CAppSettings& s) { *s.EditHotkeys() = {MakeHotkeyEntry(32785, 0x70)}; }, ASC_HOTKEYS, {}, true},
        {"extTools", [](CAppSettings& s) { *s.EditExtTools() = {_EXT_TOOL{L"T", L"t.exe"}}; }, ASC_EXT_TOOLS, {}, true},
        {"collapsed", [](CAppSettings& s) { *s.EditAdvancedCollapsed() = {3}; }, ASC_PAGE,
         {0, 0, ASP_ADVANCED_COLLAPSED}, true},
        {"knownReaders", [](CAppSettings& s) { *s.EditKnownReaders() = {KnownReader{L"COM3"}}; }, ASC_STATE,
         {ASS_KNOWN_READERS, 0, 0}, false},
        {"configFiles", [](CAppSettings& s) { *s.EditConfigFiles() = {L"Gate"}; }, ASC_STATE, {ASS_CONFIG_FILES, 0, 0},
         false},
        {"languages", [](CAppSettings& s) { *s.EditLanguages() = {LanguageInfo{L"Deutsch"}}; }, ASC_STATE,
         {ASS_LANGUAGES, 0, 0}, false},
        {"keyListColumns", [](CAppSettings& s) { s.EditColumns(COLS_KEYLIST)->at(0).width = 99; }, ASC_UI,
         {0, ASU_KEYLIST_COLUMNS, 0}, true},
        {"advancedColumns", [](CAppSettings& s) { s.EditColumns(COLS_ADVANCED)->at(0).width = 99; }, 0, {}, true},
        {"destinationColumns", [](CAppSettings& s) { s.EditColumns(COLS_DESTINATION)->at(0).width = 99; }, ASC_PAGE,
         {0, 0, ASP_DESTINATION_COLUMNS}, true},
    };
    for (const auto& c : cases) {
        CAppSettings s;
        Recorder r;
        int slot = s.AddObserver(&r, &Recorder::Callback);
        c.change(s);
        EXPECT_EQ(r.calls, 1) << c.name;
        EXPECT_EQ(r.word1, c.word1 | (c.unsaved ? ASC_UNSAVED : 0)) << c.name;
        EXPECT_EQ(r.details.state, c.details.state) << c.name;
        EXPECT_EQ(r.details.ui, c.details.ui) << c.name;
        EXPECT_EQ(r.details.page, c.details.page) << c.name;
        EXPECT_EQ(s.IsUnsaved(), c.unsaved) << c.name;
        r.Reset();
        c.change(s);  // the same value again
        EXPECT_EQ(r.calls, 0) << c.name << " again";
        s.RemoveObserver(slot);
    }
}

TEST_F(AppSettingsTest, EditsInOneScopeReachEachObserverOnceAndSpareTheSender)
{
    Recorder sender;
    int senderSlot = settings.AddObserver(&sender, &Recorder::Callback);
    {
        CDocUpdateScope scope(settings, &sender);
        settings.EditCsv()->encoding = 2;
        settings.EditHotkeys()->clear();
        settings.SetTransferLog(true);
    }
    EXPECT_EQ(recorder.calls, 1);
    EXPECT_EQ(recorder.word1, ASC_UNSAVED | ASC_CSV | ASC_HOTKEYS | ASC_LOG_SWITCHES);
    EXPECT_EQ(sender.calls, 0);
    settings.RemoveObserver(senderSlot);
}

// Positions, sizes and show states are stored whatever "history" says, and make the settings
// unsaved only where it remembers them.
TEST_F(AppSettingsTest, WindowSlotsMarkUnsavedOnlyWhatTheHistoryRemembers)
{
    const WindowSlot moved{10, 20, kNoWindowPos, kNoWindowPos};
    const WindowSlot resized{kNoWindowPos, kNoWindowPos, 300, 200};
    const struct {
        const char* name;
        uint32_t history;
        const WindowSlot* slot;
        int32_t state;
        bool unsaved;
    } cases[] = {
        {"moved, positions kept", HIST_POSITIONS, &moved, 0, true},
        {"moved, sizes kept", HIST_SIZES, &moved, 0, false},
        {"resized, sizes kept", HIST_SIZES, &resized, 0, true},
        {"resized, positions kept", HIST_POSITIONS, &resized, 0, false},
        {"minimized, states kept", HIST_SHOW_STATES, nullptr, 1, true},
        {"minimized, positions and sizes kept", HIST_POSITIONS | HIST_SIZES, nullptr, 1, false},
    };
    for (const auto& c : cases) {
        CAppSettings s;
        s.SetDataFolder(dir.Path(), false);
        WriteBytes(s.GetSettingsPath(), SettingsText(R"("main": {"history": )" + std::to_string(c.history) + "}"));
        s.Load(true, false);
        ASSERT_FALSE(s.IsUnsaved()) << c.name;
        {
            CDocUpdateScope scope(s);
            if (c.slot)
                s.SetWindowSlot(2, *c.slot);
            s.SetShowState(1, c.state);
        }
        EXPECT_EQ(s.IsUnsaved(), c.unsaved) << c.name;
        EXPECT_TRUE(s.windowSlots[2] == (c.slot ? *c.slot : WindowSlot())) << c.name;
        EXPECT_EQ(s.showStates[1], c.state) << c.name;
    }
}

TEST_F(AppSettingsTest, EventLogLimitResetAndDocumentsFolderCompareIgnoringCase)
{
    LoadMembers(R"("main": {"docDir": "Docs"}, "eventLog": {"limit": 500})");
    recorder.Reset();
    settings.SetDocumentsFolder(L"DOCS");
    EXPECT_EQ(recorder.calls, 0);
    settings.ResetEventLogLimit();
    EXPECT_EQ(recorder.word1, ASC_EVENTLOG_LIMIT | ASC_UNSAVED);
    EXPECT_EQ(settings.GetEventLogLimit(), 2147483647);
}

TEST_F(AppSettingsTest, SavedHistoryCopyFollowsAtNotification)
{
    uint32_t seenSaved = 0;
    struct Probe
    {
        uint32_t* seen;
        static void Callback(void* key, CDocument* doc, const uint32_t*)
        {
            *static_cast<Probe*>(key)->seen = static_cast<CAppSettings*>(doc)->GetSavedHistoryFlags();
        }
    } probe{&seenSaved};
    int slot = settings.AddObserver(&probe, &Probe::Callback);
    {
        CDocUpdateScope scope(settings);
        settings.SetHistoryFlags(5);
        EXPECT_EQ(settings.GetSavedHistoryFlags(), 7291u);
    }
    EXPECT_EQ(seenSaved, 5u);
    settings.RemoveObserver(slot);
}

TEST_F(AppSettingsTest, LoadNotifiesOnceWithEverythingItCovers)
{
    LoadMembers(R"("main": {"history": 7295})");
    EXPECT_EQ(recorder.calls, 1);
    const uint32_t expected = ASC_DOCDIR | ASC_HISTORY | ASC_LOG_SWITCHES | ASC_AUTORUN | ASC_EVENTLOG_ON |
                              ASC_EVENTLOG_LIMIT | ASC_UI | ASC_PAGE | ASC_FILE_TYPES | ASC_SOUNDS_ON |
                              ASC_SOUND_FILES | ASC_HOTKEYS_ON | ASC_HOTKEYS | ASC_CSV | ASC_EXT_TOOLS | ASC_STATE;
    EXPECT_EQ(recorder.word1, expected);
    EXPECT_EQ(recorder.details.ui, ASU_LOADED | ASU_CURRENT_PAGE | ASU_PAGELIST_COLLAPSED);
    EXPECT_EQ(recorder.details.page, ASP_LOADED | ASP_READKEYS_FLAGS | ASP_ADVANCED_COLLAPSED);
    EXPECT_EQ(recorder.details.state, ASS_EXT_TOOLS_EMPTIED);
    EXPECT_FALSE(settings.IsUnsaved());
}

// Autorun ----------------------------------------------------------------------------------

std::vector<std::wstring> g_autorunCalls;
DWORD g_autorunError = 0;

bool RecordingWriter(const wchar_t* commandLine)
{
    g_autorunCalls.push_back(commandLine != nullptr ? commandLine : L"<delete>");
    if (g_autorunError != 0) {
        SetLastError(g_autorunError);
        return false;
    }
    return true;
}

std::wstring ReadRunValue(bool& present)
{
    HKEY key;
    present = false;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return {};
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    present = RegQueryValueExW(key, L"Norvane2", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) ==
                  ERROR_SUCCESS &&
              type == REG_SZ;
    RegCloseKey(key);
    return buffer;
}

TEST_F(AppSettingsTest, AutorunWritesTheRegistryText)
{
    std::wstring program;
    ASSERT_TRUE(GetModuleFilePath(program));
    settings.SetAutorun(true);
    bool present = false;
    EXPECT_EQ(ReadRunValue(present), L"\"" + program + L"\" /autorun");
    EXPECT_TRUE(present);
    EXPECT_EQ(recorder.word1, ASC_AUTORUN);
    EXPECT_FALSE(settings.IsUnsaved());
    settings.SetAutorun(false);
    ReadRunValue(present);
    EXPECT_FALSE(present);
    settings.SetAutorun(false);  // a missing value is no failure
}

TEST_F(AppSettingsTest, AutorunRegistryFailureIsReported)
{
    CFakeSystemServices system;
    system.writeAutorun = &RecordingWriter;
    g_autorunCalls.clear();
    g_autorunError = ERROR_ACCESS_DENIED;
    try {
        settings.SetAutorun(true);
        ADD_FAILURE() << "no exception";
    } catch (const COSException& e) {
        EXPECT_EQ(e.GetCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(recorder.word1, ASC_AUTORUN);  // observers re-read the registry
    EXPECT_THROW(settings.SetAutorun(false), COSException);
    g_autorunError = 0;
    settings.SetAutorun(false);
    system.writeAutorun = nullptr;
    ASSERT_EQ(g_autorunCalls.size(), 3u);
    EXPECT_EQ(g_autorunCalls[0].substr(0, 1), L"\"");
    EXPECT_EQ(g_autorunCalls[0].substr(g_autorunCalls[0].size() - 10), L"\" /autorun");
    EXPECT_EQ(g_autorunCalls[1], L"<delete>");
}

}  // namespace
