// Settings export, import and reset: golden exports, the round trip, the import and reset
// rules of single groups, files the import refuses, and mutated export files.
#include "AppSettingsTestSupport.h"

#include <functional>
#include <random>

#include "config/SettingsTransfer.h"
#include "resources/resource.h"
#include "tests/support/FakeSystemServices.h"

using namespace settings_test;

namespace {

std::vector<std::wstring> FolderListing(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

// Where two texts part: the line number and both lines.
std::string FirstDifference(const std::string& a, const std::string& b)
{
    size_t line = 1, start = 0;
    for (size_t i = 0; i < a.size() && i < b.size() && a[i] == b[i]; ++i)
        if (a[i] == '\n') {
            ++line;
            start = i + 1;
        }
    auto lineOf = [start](const std::string& text) {
        const size_t end = text.find('\n', start);
        return start >= text.size() ? std::string("<end>") : text.substr(start, end == std::string::npos ? end : end - start);
    };
    return "line " + std::to_string(line) + ": [" + lineOf(a) + "] vs [" + lineOf(b) + "]";
}

class SettingsTransfer : public SettingsFixture
{
protected:
    void SetUp() override
    {
        SettingsFixture::SetUp();
        transferObserver = settings.GetTransferDoc().AddObserver(&transferRecorder, &Recorder::Callback);
    }
    void TearDown() override
    {
        settings.GetTransferDoc().RemoveObserver(transferObserver);
        SettingsFixture::TearDown();
    }

    // A configuration with something in every group, and application settings away from
    // their defaults.
    static void Fill(CAppSettings& s)
    {
        CAppCfgFile file(GoldenPath(L"full.nv2"));
        file.Load();
        LoadTransferConfig(s.GetTransferDoc(), file);
        s.GetTransferDoc().LoadPresets(false);
        s.SetDocumentsFolder(L"Docs");
        s.SetSoundsEnabled(true);
        s.SetSoundFile(2, L"C:\\Sounds\\ready.wav");
        s.SetTrayIconFlags(TRAY_SHOW_ALWAYS | TRAY_BALLOON_HINT);
        s.SetTrayClickCommands({ID_SHOW_MINIMIZE, ID_TRANSFER_START, 0, 0});
        s.SetConfirmFlags(0x11C);
        s.SetPanels(3);
        s.SetPageListPages(0x700003);
        s.SetFormatsImport(2);
        s.SetFormatsExport(3);
        s.SetHotkeysFilterFlags(1);
        s.SetKeyViewFormat(2);
        s.SetLanguage(L"ru");
        s.SetTransferEnabled(true);
        s.SetTransferLog(true);
        *s.EditCsv() = CsvOptions{L',', 2};
        (*s.EditColumns(COLS_KEYFILTERS))[0].width = 33;
        s.SetWindowSlot(0, WindowSlot{10, 20, 300, 200});
        s.ResetExtTools();
    }

    std::string Export(CAppSettings& s, uint32_t configGroups, uint32_t appGroups)
    {
        const std::wstring path = dir.File(L"probe.json");
        ExportSettings(s, path, configGroups, appGroups);
        std::string bytes = ReadBytes(path);
        DeleteFileW(path.c_str());
        return bytes;
    }

    // The golden file's bytes; a differing export is left beside the test for a look.
    void ExpectGolden(const wchar_t* name, const std::string& bytes)
    {
        const std::string golden = ReadBytes(GoldenPath(name));
        EXPECT_TRUE(golden == bytes) << WStringToMultiByte(name, CP_UTF8) << ": " << FirstDifference(golden, bytes);
        if (golden != bytes)
            WriteBytes(std::wstring(name) + L".actual", bytes);
    }

    void ResetRecorders()
    {
        recorder.Reset();
        transferRecorder.Reset();
    }

    Recorder transferRecorder;
    int transferObserver = -1;
};

} // namespace

TEST_F(SettingsTransfer, ExportsMatchTheirGoldenFiles)
{
    Fill(settings);
    const struct {
        const wchar_t* golden;
        uint32_t configGroups, appGroups;
    } cases[] = {
        {L"export_all.json", kAllConfigGroups, kAllAppGroups},
        {L"export_tray.json", 0, AG_TRAY},                   // only "ui" "trayIcon"
        {L"export_columns.json", 0, AG_COLUMNS},             // nine "columns", "keyFilters" among them
        {L"export_destination.json", CG_DESTINATION, 0},     // only "transfer" "destination"
        {L"export_other_keyfilters.json", CG_KEYFILTERS, AG_OTHER | AG_CONFIRM},
    };
    for (const auto& c : cases)
        ExpectGolden(c.golden, Export(settings, c.configGroups, c.appGroups));
}

TEST_F(SettingsTransfer, ExportImportExportGivesTheSameBytes)
{
    Fill(settings);
    const std::wstring path = dir.File(L"all.json");
    ExportSettings(settings, path, kAllConfigGroups, kAllAppGroups);
    const std::string first = ReadBytes(path);

    CTempFolder other;
    CAppSettings fresh;
    fresh.SetDataFolder(other.Path(), false);
    Recorder freshRecorder, freshTransfer;
    int o1 = fresh.AddObserver(&freshRecorder, &Recorder::Callback);
    int o2 = fresh.GetTransferDoc().AddObserver(&freshTransfer, &Recorder::Callback);
    ImportSettings(fresh, path, kAllConfigGroups, kAllAppGroups);
    EXPECT_EQ(1, freshRecorder.calls) << "one callback for the settings";
    EXPECT_EQ(1, freshTransfer.calls) << "one callback for the configuration";
    EXPECT_TRUE(fresh.IsUnsaved());
    EXPECT_TRUE(fresh.GetTransferDoc().IsUnsaved());
    const std::string second = Export(fresh, kAllConfigGroups, kAllAppGroups);
    EXPECT_TRUE(first == second) << FirstDifference(first, second);
    fresh.RemoveObserver(o1);
    fresh.GetTransferDoc().RemoveObserver(o2);
}

TEST_F(SettingsTransfer, ImportAndResetRulesOfSingleGroups)
{
    CTransferDoc& doc = settings.GetTransferDoc();
    const struct {
        const char* name;
        std::string file;           // the settings file; empty: a reset instead of an import
        uint32_t configGroups, appGroups;
        std::function<void()> before;
        std::function<void()> check;
    } cases[] = {
        {"keyTypes come back, Ultralight and the key list's duplicates stay",
         SettingsText(R"("readKeys": {"keyTypes": 1023, "mifareUL": {"page": 9}})"), CG_READKEYS, 0,
         [&] {
             doc.SetReadKeyTypes(5);
             doc.SetKeyListNoDuplicates(1);
             doc.SetMifareULCount(3);
         },
         [&] {
             EXPECT_EQ(1023u, doc.readKeys.keyTypes);
             EXPECT_EQ(9, doc.readKeys.ultralight.page);
             EXPECT_EQ(3, doc.readKeys.ultralight.count);
             EXPECT_EQ(1u, doc.keyListNoDuplicates);
             EXPECT_EQ(TDC_MIFARE_PLUS | TDC_MIFARE_UL, transferRecorder.word1 & (TDC_MIFARE_PLUS | TDC_MIFARE_UL));
         }},
        {"no keyTypes gives every key type", SettingsText(R"("readKeys": {})"), CG_READKEYS, 0,
         [&] { doc.SetReadKeyTypes(5); }, [&] { EXPECT_EQ(0x3FFFFFu, doc.readKeys.keyTypes); }},
        {"formats without presets merge the built-in presets",
         SettingsText(R"("formats": {"newId": 1003, "formats": [{"id": 1002, "name": "Mine", "template": "%u"}]})"),
         CG_FORMATS, 0, [] {},
         [&] {
             EXPECT_EQ(kPresetsVersion, doc.presetsVersion);
             EXPECT_NE(-1, doc.FindFormatByName(L"Mine"));
             EXPECT_GT(doc.GetFormats().size(), 1u);
         }},
        {"a file without \"reader\" gives the reader defaults", SettingsText(R"("keyboard": {})"), CG_READER, 0,
         [&] { doc.SetConnectTimeout(77); },
         [&] { EXPECT_EQ(ReaderSettings(), doc.reader); }},
        {"only \"Other settings\" leaves the external tools", SettingsText(R"("main": {"history": 7291})"), 0,
         AG_OTHER, [&] { settings.ResetExtTools(); },
         [&] {
             std::vector<_EXT_TOOL> tools;
             LoadDefaultExtTools(tools);
             EXPECT_EQ(tools, settings.extTools);
         }},
        {"\"Other settings\" bring the page settings",
         SettingsText(R"("ui": {"formats": {"import": 2, "export": 5}, "hotkeys": {"filterFlags": 1}})"), 0, AG_OTHER,
         [] {},
         [&] {
             EXPECT_EQ(2, settings.GetFormatsImport());
             EXPECT_EQ(5, settings.GetFormatsExport());
             EXPECT_EQ(1u, settings.GetHotkeysFilterFlags());
         }},
        {"key filters of a 1.3 file come from \"ui\" \"formatFilters\", numbered from 1",
         SettingsText(R"("ui": {"formatFilters": {"sort": 2, "formatFilters": [{"id": 9, "name": "A"}, {"id": 4, "name": "B"}]}})",
                      "1.3"),
         CG_KEYFILTERS, 0, [] {},
         [&] {
             ASSERT_EQ(2u, doc.GetKeyFilters().size());
             EXPECT_EQ(1u, doc.GetKeyFilters()[0].id);
             EXPECT_EQ(L"B", doc.GetKeyFilters()[1].name);
             EXPECT_EQ(2u, doc.GetKeyFilters()[1].id);
             EXPECT_EQ(3u, doc.keyFilterNewId);
             EXPECT_EQ(2, doc.keyFiltersSort);
         }},
        {"the key-filter counter keeps the value it reached",
         SettingsText(R"("keyFilters": {"newId": 5, "keyFilters": [{"id": 0, "name": "A"}]})"), CG_KEYFILTERS, 0,
         [] {},
         [&] {
             ASSERT_EQ(1u, doc.GetKeyFilters().size());
             EXPECT_EQ(5u, doc.GetKeyFilters()[0].id);
             EXPECT_EQ(6u, doc.keyFilterNewId);
         }},
        {"keys are added, the sort read after them",
         SettingsText(R"("keyList": {"sort": -3, "keys": [{"keyType": 1, "keyNumber": "05002A"}, {"keyNumber": ""}]})"),
         CG_KEYLIST, 0, [] {},
         [&] {
             ASSERT_EQ(1u, doc.GetKeys().size());
             EXPECT_EQ(-3, doc.keyListSort);
         }},
        {"resetting the command line keeps the initial folder", "", CG_CMDLINE, 0,
         [&] {
             doc.SetCmdLineProgram(L"a.exe");
             doc.CmdLine().initialDir = L"C:\\Work";
         },
         [&] {
             EXPECT_EQ(L"", doc.CmdLine().program);
             EXPECT_EQ(L"C:\\Work", doc.CmdLine().initialDir);
         }},
        {"resetting the tray", "", 0, AG_TRAY, [&] { settings.SetTrayIconFlags(7); },
         [&] {
             EXPECT_EQ(0u, settings.GetTrayIconFlags());
             EXPECT_EQ(uint16_t(ID_SHOW_MINIMIZE), settings.GetTrayClickCommands()[0]);
         }},
        {"resetting the key list empties it", "", CG_KEYLIST, 0,
         [&] {
             _KV_KEY key;
             key.keyNumber = MakeKeyNumber(reinterpret_cast<const uint8_t*>("\x01\x02"), 2);
             doc.AddKey(key);
             doc.SetKeyListTimerInterval(50);
         },
         [&] {
             EXPECT_TRUE(doc.GetKeys().empty());
             EXPECT_EQ(1000, doc.keyListTimerInterval);
         }},
    };
    const std::wstring path = dir.File(L"import.json");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        ResetRecorders();
        if (c.file.empty()) {
            ResetSettings(settings, c.configGroups, c.appGroups);
        } else {
            WriteBytes(path, c.file);
            ImportSettings(settings, path, c.configGroups, c.appGroups);
            if (c.appGroups) {
                EXPECT_EQ(1, recorder.calls);
            }
            if (c.configGroups) {
                EXPECT_EQ(1, transferRecorder.calls);
            }
        }
        c.check();
    }
}

TEST_F(SettingsTransfer, OtherSettingsNamingAnotherConfigurationSaveTheCurrentOneFirst)
{
    CTransferDoc& doc = settings.GetTransferDoc();
    const std::wstring current = dir.File(L"current.nv2");
    doc.SetPathName(current);
    doc.Open();
    doc.SetHttpAddress(L"http://door/");
    ASSERT_TRUE(doc.IsUnsaved());
    WriteBytes(dir.File(L"other.nv2"), SettingsText(R"("httpRequest": {"address": "http://gate/"})"));
    const std::wstring path = dir.File(L"switch.json");
    WriteBytes(path, SettingsText(R"("main": {"configuration": "other.nv2"})"));

    ImportSettings(settings, path, 0, AG_OTHER);
    EXPECT_NE(std::string::npos, ReadBytes(current).find("http:\\/\\/door\\/")) << "the unsaved changes went to their file";
    EXPECT_EQ(dir.File(L"other.nv2"), doc.GetPathName());
    EXPECT_EQ(L"http://gate/", doc.HttpRequest().address);
    EXPECT_FALSE(doc.IsUnsaved());
}

TEST_F(SettingsTransfer, ResetOfEverythingLeavesNothingToExportButDefaults)
{
    Fill(settings);
    CFakeSystemServices system;
    std::vector<bool> autorun;
    system.writeAutorun = [&](const wchar_t* line) { autorun.push_back(line != nullptr); return true; };
    ResetSettings(settings, kAllConfigGroups, kAllAppGroups);
    EXPECT_EQ(std::vector<bool>{false}, autorun) << "the autorun value is removed";

    CTempFolder other;
    CAppSettings fresh;
    fresh.SetDataFolder(other.Path(), false);
    fresh.ResetExtTools();
    for (int i = 0; i < kSoundEventCount; ++i)
        fresh.SetSoundFile(i, GetDefaultSoundFile(i));
    fresh.GetTransferDoc().LoadPresets(true);
    fresh.GetTransferDoc().CmdLine().initialDir = settings.GetTransferDoc().CmdLine().initialDir;
    // The format id counter, Mifare Plus, Ultralight and the Temic block stay what they were.
    const uint32_t most = kAllConfigGroups & ~(CG_FORMATS | CG_READKEYS);
    const std::string expected = Export(fresh, most, kAllAppGroups);
    const std::string reset = Export(settings, most, kAllAppGroups);
    EXPECT_TRUE(expected == reset) << FirstDifference(expected, reset);
    const CTransferDoc& doc = settings.GetTransferDoc();
    const ReadKeysSettings defaults;
    EXPECT_EQ(defaults.keyTypes, doc.readKeys.keyTypes);
    EXPECT_FALSE(doc.readKeys.classic.enabled);
    EXPECT_TRUE(KeysEqual(defaults.classic.key, doc.readKeys.classic.key));
    EXPECT_EQ(defaults.temic.params, doc.readKeys.temic.params);
    EXPECT_TRUE(doc.readKeys.plus.enabled) << "Mifare Plus stays";
    EXPECT_EQ(0u, doc.defaultId);
    EXPECT_EQ(fresh.GetTransferDoc().GetFormats().size(), doc.GetFormats().size());
}

TEST_F(SettingsTransfer, BrokenFilesChangeNothingAndSayWhy)
{
    Fill(settings);
    const std::wstring good = dir.File(L"good.json");
    ExportSettings(settings, good, kAllConfigGroups, kAllAppGroups);
    const std::string text = ReadBytes(good);
    const std::string before = Export(settings, kAllConfigGroups, kAllAppGroups);
    CreateDirectoryW(dir.File(L"folder.json").c_str(), nullptr);

    const struct {
        const wchar_t* name;
        std::string bytes;  // empty: the file is not written
        const char* cause;
    } cases[] = {
        {L"truncated.json", text.substr(0, text.size() / 2), "damaged at line "},
        {L"garbage.json", std::string("\x01\xFF garbage \x80", 12), "damaged at line 1, column 1"},
        {L"tail.json", text + "}", "damaged at line "},
        {L"newer.json", SettingsText(R"("reader": {})", "2.0"), "format 2.0"},
        // A version text far longer than a string resource still gives the whole message.
        {L"long_version.json", SettingsText(R"("reader": {})", ("2." + std::string(3000, '7')).c_str()),
         "7777, which this version of Norvane cannot read."},
        // A device is no configuration: the current one stays, and no copy of the device is kept.
        {L"device.json", SettingsText(R"("main": {"configuration": "NUL"})"), "names the device \"NUL\" as its configuration"},
        {L"com.json", SettingsText(R"("main": {"configuration": "Ports\\com7 .nv2"})"), "the device \"Ports\\com7 .nv2\""},
        // The system decides what a device is: the classic spellings, a blank before the
        // extension, the console, and device paths typed as such.
        {L"nul_colon.json", SettingsText(R"("main": {"configuration": "NUL:"})"), "the device \"NUL:\""},
        {L"com1_colon.json", SettingsText(R"("main": {"configuration": "COM1:"})"), "the device \"COM1:\""},
        {L"aux_blank.json", SettingsText(R"("main": {"configuration": "aux .nv2"})"), "the device \"aux .nv2\""},
        {L"conin.json", SettingsText(R"("main": {"configuration": "CONIN$"})"), "the device \"CONIN$\""},
        {L"com11.json", SettingsText(R"("main": {"configuration": "\\\\.\\COM11"})"), "the device \"\\\\.\\COM11\""},
        {L"pipe.json", SettingsText(R"("main": {"configuration": "\\\\.\\pipe\\x"})"), "the device \"\\\\.\\pipe\\x\""},
        // Behind "\\?\" or "\??\" the object manager takes the name unparsed: a device unless a
        // drive, a share or a volume follows.
        {L"verbatim_nul.json", SettingsText(R"("main": {"configuration": "\\\\?\\NUL"})"), "the device \"\\\\?\\NUL\""},
        {L"verbatim_com1.json", SettingsText(R"("main": {"configuration": "\\\\?\\COM1"})"), "the device \"\\\\?\\COM1\""},
        {L"globalroot.json", SettingsText(R"("main": {"configuration": "\\\\?\\GLOBALROOT\\Device\\Null"})"),
         "the device \"\\\\?\\GLOBALROOT\\Device\\Null\""},
        {L"nt_globalroot.json", SettingsText(R"("main": {"configuration": "\\??\\GLOBALROOT\\Device\\Null"})"),
         "the device \"\\??\\GLOBALROOT\\Device\\Null\""},
        // The system makes "\\?\" of any other mix of slashes in that prefix.
        {L"slash_nul.json", SettingsText(R"("main": {"configuration": "\\\\?/NUL"})"), "the device \"\\\\?/NUL\""},
        {L"slash_com1.json", SettingsText(R"("main": {"configuration": "\\\\?/COM1"})"), "the device \"\\\\?/COM1\""},
        {L"slash_globalroot.json", SettingsText(R"("main": {"configuration": "/\\?\\GLOBALROOT\\Device\\Null"})"),
         "the device \"/\\?\\GLOBALROOT\\Device\\Null\""},
        // A "pipe" or "mailslot" share is no file share (Wine opens neither, Windows both).
        {L"unc_pipe.json", SettingsText(R"("main": {"configuration": "\\\\localhost\\pipe\\x"})"),
         "the device \"\\\\localhost\\pipe\\x\""},
        {L"unc_mailslot.json", SettingsText(R"("main": {"configuration": "\\\\?\\UNC\\server\\MAILSLOT\\x"})"),
         "the device \"\\\\?\\UNC\\server\\MAILSLOT\\x\""},
        // The row follows the system's full path, which Wine 8 makes "\\.\nul" of NUL in any
        // folder and with any extension (though its CreateFileW opens this one as a file, as
        // Windows 11 does).
        {L"nul_txt.json", SettingsText(R"("main": {"configuration": "C:\\dir\\nul.txt"})"), "the device \"C:\\dir\\nul.txt\""},
        {L"foreign.json", R"({"name": "x", "servers": [1, 2]})", "not a Norvane settings file"},
        {L"missing.json", "", "was not found"},
        {L"folder.json", "", "is a folder"},
    };
    for (const auto& c : cases) {
        const std::wstring path = dir.File(c.name);
        if (!c.bytes.empty())
            WriteBytes(path, c.bytes);
        const std::vector<std::wstring> listing = FolderListing(dir.Path());
        ResetRecorders();
        std::string message;
        try {
            ImportSettings(settings, path, kAllConfigGroups, kAllAppGroups);
        } catch (const std::exception& e) {
            message = e.what();
        }
        const std::string name = WStringToMultiByte(c.name, CP_ACP);
        EXPECT_NE(std::string::npos, message.find(name)) << name << ": " << message;
        EXPECT_NE(std::string::npos, message.find(c.cause)) << name << ": " << message;
        EXPECT_EQ(0, recorder.calls + transferRecorder.calls) << name;
        EXPECT_EQ(listing, FolderListing(dir.Path())) << name << ": nothing written beside it";
        const std::string after = Export(settings, kAllConfigGroups, kAllAppGroups);
        EXPECT_TRUE(before == after) << name << ": " << FirstDifference(before, after);
    }

    // Files, however close to a device name, are taken as the configuration. Wine 8 opens the
    // superscript "COM\u00b9" as a file, where Windows reserves it.
    const struct {
        const char* json;
        const wchar_t* configuration;
    } files[] = {
        {R"("C:\\dir\\x.nv2")", L"C:\\dir\\x.nv2"},
        {R"("COM10.nv2")", L"COM10.nv2"},
        {R"("\\\\?\\C:\\dir\\x.nv2")", L"\\\\?\\C:\\dir\\x.nv2"},
        {R"("\\\\?\\UNC\\server\\share\\x.nv2")", L"\\\\?\\UNC\\server\\share\\x.nv2"},
        {R"("//?/C:\\dir\\x.nv2")", L"//?/C:\\dir\\x.nv2"},
        {R"("\\\\server\\pipes\\x.nv2")", L"\\\\server\\pipes\\x.nv2"},
        {R"("COM\u00b9")", L"COM\u00b9"},
    };
    for (const auto& f : files) {
        const std::wstring path = dir.File(L"file.json");
        WriteBytes(path, SettingsText(std::string(R"("main": {"configuration": )") + f.json + "}"));
        CAppSettings fresh;  // nothing unsaved to write to the folder of the row before
        fresh.SetDataFolder(dir.Path(), false);
        EXPECT_NO_THROW(ImportSettings(fresh, path, kAllConfigGroups, kAllAppGroups)) << f.json;
        std::wstring opened;
        fresh.MakeDocumentPath(f.configuration, opened, false);
        EXPECT_EQ(opened, fresh.GetTransferDoc().GetPathName()) << f.json;
    }
}

TEST_F(SettingsTransfer, FailedExportLeavesTheOldFileWhole)
{
    const std::wstring path = dir.File(L"settings.json");
    WriteBytes(path, "old content");
    CFakeSystemServices system;
    system.moveFileOver = [](const std::wstring&, const std::wstring&) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    };
    EXPECT_THROW(ExportSettings(settings, path, kAllConfigGroups, kAllAppGroups), CFileException);
    EXPECT_EQ("old content", ReadBytes(path));
    EXPECT_EQ(std::vector<std::wstring>({L".", L"..", L"settings.json"}), FolderListing(dir.Path()));
}

TEST_F(SettingsTransfer, TenThousandMutatedExportFilesNeverCrash)
{
    Fill(settings);
    const std::wstring good = dir.File(L"good.json");
    ExportSettings(settings, good, kAllConfigGroups, kAllAppGroups);
    const std::string text = ReadBytes(good);
    CMemJson parsed;
    ASSERT_TRUE(parsed.LoadFromText(MultiByteToWString(text.substr(3), CP_UTF8)));

    std::mt19937 rng(27);
    auto below = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    const std::wstring path = dir.File(L"mutated.json");
    int imported = 0, refused = 0;
    for (int round = 0; round < 10000; ++round) {
        std::string bytes;
        if (round % 2 == 0) {
            // Bytes: flipped, dropped, repeated or cut.
            bytes = text;
            for (int n = 1 + static_cast<int>(below(4)); n > 0 && !bytes.empty(); --n) {
                const size_t at = below(bytes.size());
                switch (below(4)) {
                case 0: bytes[at] = static_cast<char>(rng()); break;
                case 1: bytes.erase(at, 1 + below(8)); break;
                case 2: bytes.insert(at, bytes.substr(at, 1 + below(16))); break;
                default: bytes.resize(at); break;
                }
            }
        } else {
            // Values: a member of a group replaced by a value of another type.
            JsonValue root = parsed.Root;
            JsonObject& members = *root.ObjectPtr();
            JsonValue* value = &members.At(1 + below(members.Count() - 1)).value;
            while (below(3) != 0) {
                if (JsonObject* o = value->ObjectPtr(); o && o->Count() > 0)
                    value = &o->At(below(o->Count())).value;
                else if (JsonArray* a = value->ArrayPtr(); a && !a->empty())
                    value = &(*a)[below(a->size())];
                else
                    break;
            }
            switch (below(6)) {
            case 0: value->AssignInt64(static_cast<int64_t>(rng()) - 0x80000000LL); break;
            case 1: value->AssignString(std::wstring(below(40), L'z')); break;
            case 2: value->AssignObject(); break;
            case 3: value->AssignArray().emplace_back().AssignInt64(-1); break;
            case 4: value->AssignDouble(0.5); break;
            default: value->FreePayload(); break;
            }
            std::wstring serialized;
            root.Serialize(serialized, L"\r\n");
            bytes = WStringToMultiByte(serialized, CP_UTF8);
        }
        try {
            // Files are slow under the test bench: most rounds hand the decoded text over, and
            // leave out "Other settings", whose configuration switch goes to the disk too.
            if (round % 500 == 0) {
                WriteBytes(path, bytes);
                ImportSettings(settings, path, kAllConfigGroups, kAllAppGroups);
            } else {
                const bool bom = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
                const std::wstring decoded = MultiByteToWString(bytes.substr(bom ? 3 : 0), CP_UTF8);
                ImportSettingsText(settings, decoded, path, kAllConfigGroups, kAllAppGroups & ~AG_OTHER);
            }
            ++imported;
        } catch (const CException&) {
            ++refused;
        }
    }
    EXPECT_EQ(10000, imported + refused);
    EXPECT_GT(imported, 4000);
    EXPECT_GT(refused, 1000);
}
