#include <gtest/gtest.h>
#include <vector>
#include "config/TransferConfig.h"
#include "tests/config/TransferTestUtil.h"

using namespace transfer_test;

namespace {

// Records every delivery of the document: change word and the detail words seen meanwhile.
struct Recorder
{
    struct Call
    {
        uint32_t word;
        TransferDetailWords details;
    };
    explicit Recorder(CTransferDoc& d) : doc(d) { slot = doc.AddObserver(this, &Recorder::OnChange); }
    ~Recorder() { doc.RemoveObserver(slot); }
    static void OnChange(void* key, CDocument* document, const uint32_t* bits)
    {
        auto* self = static_cast<Recorder*>(key);
        self->calls.push_back({bits[0], static_cast<CTransferDoc*>(document)->GetDetails()});
    }
    CTransferDoc& doc;
    int slot = -1;
    std::vector<Call> calls;
};

std::wstring Hex(const _KEY_NUMBER& key)
{
    std::wstring text;
    KeyToHex(text, key);
    return text;
}

}  // namespace

TEST(TransferDoc, NewDocumentHoldsTheDefaultsThatAreNotStored)
{
    CTransferDoc doc;
    EXPECT_TRUE(doc.GetPathName().empty());
    EXPECT_FALSE(doc.IsUnsaved());
    EXPECT_FALSE(doc.IsOpen());
    EXPECT_EQ(0, doc.GetSourceState());
    EXPECT_EQ(0, doc.GetDestinationState());
    EXPECT_EQ(0x3FFFu, doc.GetSavedParts());
    for (int32_t type = 1; type <= kDestinationCount; ++type)
        EXPECT_EQ(type, doc.GetDestination(type)->type) << type;
    EXPECT_EQ(nullptr, doc.GetDestination(0));
    EXPECT_EQ(nullptr, doc.GetDestination(6));
    EXPECT_GE(doc.GetFormatsById().bucket_count(), 8u);
    EXPECT_EQ(1.0f, doc.GetFormatsById().max_load_factor());
}

// The default keys show (and are typed) as the hex text of key numbers, last byte first; the
// file integer of a Classic key holds the first key byte in its low byte, and a Plus key's file
// text runs first byte first.
TEST(TransferDoc, DefaultMifareKeysKeepTheKeyNumberByteOrder)
{
    CTransferDoc doc;
    const _KEY_NUMBER& classic = doc.readKeys.classic.key;
    EXPECT_EQ(6, classic.length);
    EXPECT_EQ(L"3C917A5E08D4", Hex(classic));
    EXPECT_EQ(0xD4, classic.bytes[0]);
    EXPECT_EQ(0x3C, classic.bytes[5]);

    const _KEY_NUMBER& plus = doc.readKeys.plus.key;
    EXPECT_EQ(16, plus.length);
    EXPECT_EQ(L"6B21E0945F3AC708D27E41B90C65F31A", Hex(plus));
    EXPECT_EQ(0x1A, plus.bytes[0]);
    EXPECT_EQ(0x6B, plus.bytes[15]);
    for (int i = 16; i < KEY_NUMBER_MAX_BYTES; ++i)
        EXPECT_EQ(0, plus.bytes[i]);

    std::wstring text = SaveText(doc);
    EXPECT_NE(std::wstring::npos, text.find(L"\"key\": 66595520907476,"));  // 0x3C917A5E08D4
    EXPECT_NE(std::wstring::npos, text.find(L"\"key\": \"1AF3650CB9417ED208C73A5F94E0216B\""));
}

TEST(TransferDoc, FileFromDefaultsMatchesTheGoldenFile)
{
    TempFolder folder;
    CTransferDoc doc;
    doc.SaveToFile(folder.File(L"new.nv2"), true);
    std::string expected = ReadBytes(DataPath(L"default.nv2"));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, ReadBytes(folder.File(L"new.nv2")));
}

TEST(TransferDoc, LoadThenSaveIsByteIdentical)
{
    for (const wchar_t* name : {L"default.nv2", L"full.nv2"}) {
        SCOPED_TRACE(testing::Message() << Utf8(name));
        TempFolder folder;
        CTransferDoc doc;
        doc.SetPathName(DataPath(name));
        doc.Open();
        EXPECT_FALSE(doc.IsUnsaved());
        doc.SaveToFile(folder.File(L"copy.nv2"), true);
        EXPECT_EQ(ReadBytes(DataPath(name)), ReadBytes(folder.File(L"copy.nv2")));
        // Saving over a current file keeps it as it is, too.
        doc.SetPathName(folder.File(L"copy.nv2"));
        doc.Save(false);
        EXPECT_EQ(ReadBytes(DataPath(name)), ReadBytes(folder.File(L"copy.nv2")));
    }
}

TEST(TransferDoc, FullConfigurationLoadsEveryPart)
{
    CTransferDoc doc;
    doc.SetPathName(DataPath(L"full.nv2"));
    doc.Open();
    EXPECT_EQ(SOURCE_READER, doc.GetSourceKind());
    EXPECT_EQ(L"COM3", doc.GetSourceValue());
    EXPECT_EQ(DEST_HTTP, doc.GetDestinationType());
    EXPECT_EQ(L"http://127.0.0.1:8080/key", doc.GetDestinationText());
    EXPECT_EQ(0x3Du, doc.reader.flags);
    EXPECT_EQ(0x11u, doc.reader.searchFlags);
    ASSERT_EQ(3u, doc.GetKeys().size());
    EXPECT_EQ(L"05002A", Hex(doc.GetKeys()[0]->keyNumber));
    EXPECT_EQ(19, doc.GetKeys()[1]->keyNumber.length);
    EXPECT_EQ(0x45, doc.GetKeys()[1]->keyNumber.bytes[0]);
    EXPECT_EQ(21, doc.GetKeys()[1]->keyType);
    EXPECT_EQ(-3, doc.keyListSort);
    EXPECT_EQ(0xFFFFFFFFu, doc.Keyboard().afterActivateDelay);
    EXPECT_EQ(L"C:\\Windows\\notepad.exe", doc.Keyboard().filterFile);
    EXPECT_EQ(65534, doc.Portavo().port);
    EXPECT_EQ(-1, doc.Portavo().maxConnections);
    EXPECT_EQ(-1, doc.Portavo().connectPeriod);
    ASSERT_EQ(3u, doc.GetFormats().size());
    EXPECT_EQ(L"\nDALLAS", doc.GetFormats()[0]->name);
    EXPECT_EQ(KVF_PRESET, doc.GetFormats()[0]->flags);
    EXPECT_EQ(-1, doc.GetFormats()[1]->keyFilterMask);
    EXPECT_EQ(doc.GetFormats()[1], doc.FindFormatById(1001));
    EXPECT_EQ(doc.GetFormats()[0], doc.GetFormatsByName().at(L"\nDALLAS"));
    EXPECT_EQ(2, doc.formatsSort);
    EXPECT_EQ(1049, doc.presetsLanguage);
    ASSERT_EQ(2u, doc.GetKeyFilters().size());
    EXPECT_EQ(0u, doc.GetKeyFilters()[1].flags);
    EXPECT_EQ(1, doc.keyFiltersSort);
    EXPECT_EQ(TEMIC_DATA_MODE | TEMIC_READ_ALL_BYTES | TEMIC_USE_PASSWORD, doc.readKeys.temic.flags);
    EXPECT_EQ((std::vector<uint32_t>{0x1, PackTemicParam(255, 255, 65535), PackTemicParam(2, 1, 500)}),
              doc.readKeys.temic.params);
    ASSERT_EQ(4u, doc.GetMifareClassicKeys().size());
    EXPECT_EQ(L"3C917A5E08D4", Hex(doc.GetMifareClassicKeys()[0]));
    EXPECT_EQ(L"000000000001", Hex(doc.GetMifareClassicKeys()[3]));
    ASSERT_EQ(3u, doc.GetMifarePlusKeys().size());
    EXPECT_EQ(0x00, doc.GetMifarePlusKeys()[1].bytes[0]);
    EXPECT_EQ(0x0F, doc.GetMifarePlusKeys()[1].bytes[15]);
    EXPECT_EQ(0, doc.GetMifarePlusKeys()[2].length);
}

TEST(TransferDoc, OpenOfAMissingFileKeepsTheDefaultsAndCountsAsSaved)
{
    TempFolder folder;
    for (const std::wstring& path : {folder.File(L"missing.nv2"), folder.Path()}) {
        CTransferDoc doc;
        doc.SetPathName(path);
        Recorder recorder(doc);
        doc.Open();
        EXPECT_TRUE(doc.IsOpen());
        EXPECT_FALSE(doc.IsUnsaved());
        // The key filters come from the presets, quietly: the document stays saved.
        ASSERT_EQ(1u, recorder.calls.size());
        EXPECT_EQ(TDC_STATE | TDC_FORMATS, recorder.calls[0].word);
        EXPECT_EQ(TDS_OPEN, recorder.calls[0].details.state);
        EXPECT_EQ(TDF_KEY_FILTERS, recorder.calls[0].details.formats);
        EXPECT_EQ(6u, doc.GetKeyFilters().size());
        CTransferDoc fresh;
        fresh.ResetKeyFiltersToPresets();
        EXPECT_EQ(SaveText(fresh), SaveText(doc));
        // A second Open of an open document does nothing.
        doc.Open();
        EXPECT_EQ(1u, recorder.calls.size());
    }
}

TEST(TransferDoc, OpenMarksFilesOfOtherVersionsUnsavedAndReadsOnlyMajorVersionOne)
{
    struct Case
    {
        const char* version;
        bool read;
        bool unsaved;
    } cases[] = {
        {"1.6", true, false}, {"1.6.0", true, false}, {"1.5", true, true}, {"1.9", true, true},
        {"1", true, true},    {"2.0", false, true},   {"300", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        TempFolder folder;
        std::wstring path = folder.File(L"c.nv2");
        WriteBytes(path, std::string("{\"info\": {\"name\": \"Norvane\", \"version\": \"") + c.version +
                             "\"}, \"httpRequest\": {\"address\": \"x\"}}");
        CTransferDoc doc;
        doc.SetPathName(path);
        Recorder recorder(doc);
        doc.Open();
        EXPECT_EQ(c.read ? L"x" : L"", doc.HttpRequest().address);
        EXPECT_EQ(c.unsaved, doc.IsUnsaved());
        ASSERT_EQ(1u, recorder.calls.size());
        EXPECT_EQ(c.unsaved, (recorder.calls[0].word & TDC_UNSAVED) != 0);
    }
}

TEST(TransferDoc, LoadRaisesEveryPartOnceWithoutMarkingUnsaved)
{
    CTransferDoc doc;
    Recorder recorder(doc);
    LoadMembers(doc, L"1.6", L"\"keyFilters\": {}");
    ASSERT_EQ(1u, recorder.calls.size());
    const Recorder::Call& call = recorder.calls[0];
    const uint32_t parts = TDC_SOURCE | TDC_DESTINATION | TDC_READER | TDC_KEYLIST | TDC_KEYLIST_SORT |
                           TDC_KEYLIST_TIMER | TDC_KEYLIST_NODUPS | TDC_KEYBOARD | TDC_PORTAVO | TDC_CMDLINE |
                           TDC_HTTP | TDC_FORMATS | 0x4FC0000 | TDC_MIFARE_CKEYS | TDC_MIFARE_PKEYS;
    EXPECT_EQ(0x7FC7FF8u, parts);
    EXPECT_EQ(parts, call.word);
    EXPECT_EQ(0x7Fu, call.details.formats);
    EXPECT_EQ(TDK_LOADED, call.details.keyList);
    EXPECT_EQ(TDL_LOADED, call.details.formatList);
    EXPECT_FALSE(doc.IsUnsaved());
    // Outside a delivery the detail words read as zero.
    EXPECT_EQ(0u, doc.GetDetails().formats);
}

TEST(TransferDoc, SavedPartsDecideWhatIsLoadedAndSaved)
{
    const std::wstring members =
        L"\"transfer\": {\"source\": \"keylist:\", \"destination\": \"clipboard:\"},"
        L"\"keyList\": {\"sort\": 4, \"keys\": [{\"keyType\": 2, \"keyNumber\": \"0A0B\"}]},"
        L"\"mifareCKeys\": {\"keys\": [1, 2]}, \"mifarePKeys\": {\"keys\": [\"01\"]}";
    struct Case
    {
        uint32_t parts;
        bool source, destination, keys, mifareKeys;
    } cases[] = {
        {kSavedPartsAll, true, true, true, true},
        {kSavedPartsAll & ~SAVED_SOURCE, false, true, true, true},
        {kSavedPartsAll & ~SAVED_DESTINATION, true, false, true, true},
        {kSavedPartsAll & ~SAVED_KEYLIST, true, true, false, true},
        {kSavedPartsAll & ~SAVED_MIFARE_KEYS, true, true, true, false},
        {0, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.parts);
        CTransferDoc doc;
        // What the document held before the load.
        _KV_KEY held;
        held.keyNumber = MakeKeyNumber(reinterpret_cast<const uint8_t*>("\x07"), 1);
        doc.AddKey(held);
        doc.keyListSort = 9;
        doc.MifareClassicKeys().push_back(DefaultMifareClassicKey());
        doc.SetSavedParts(c.parts);
        LoadMembers(doc, L"1.6", members);

        EXPECT_EQ(c.source ? SOURCE_KEYLIST : SOURCE_NONE, doc.GetSourceKind());
        EXPECT_EQ(c.destination ? DEST_CLIPBOARD : DEST_KEYBOARD, doc.GetDestinationType());
        ASSERT_EQ(1u, doc.GetKeys().size());
        EXPECT_EQ(c.keys ? 2 : 0, doc.GetKeys()[0]->keyType);
        EXPECT_EQ(c.keys ? 4 : 9, doc.keyListSort);
        EXPECT_EQ(c.mifareKeys ? 2u : 1u, doc.GetMifareClassicKeys().size());
        EXPECT_EQ(c.mifareKeys ? 1u : 0u, doc.GetMifarePlusKeys().size());

        std::wstring text = SaveText(doc);
        EXPECT_EQ(c.source, text.find(L"\"source\"") != std::wstring::npos);
        EXPECT_EQ(c.destination, text.find(L"\"destination\"") != std::wstring::npos);
        EXPECT_EQ(c.keys, text.find(L"\"keys\": [\r\n\t\t\t{") != std::wstring::npos);
        EXPECT_EQ(c.keys, text.find(L"\"sort\": ") < text.find(L"\"keyboard\""));
        EXPECT_EQ(c.mifareKeys, text.find(L"\"mifareCKeys\"") != std::wstring::npos);
        EXPECT_EQ(c.mifareKeys, text.find(L"\"mifarePKeys\"") != std::wstring::npos);
    }
}

TEST(TransferDoc, SaveIntoAnExistingFileKeepsForeignMembersOnlyInACurrentFile)
{
    const std::string body = "\"extra\": [1, 2], \"reader\": {\"own\": true, \"model\": 3}}";
    struct Case
    {
        const char* version;
        bool whole;
        bool kept;
    } cases[] = {{"1.6", false, true}, {"1.5", false, false}, {"1.6", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.version << " whole " << c.whole);
        TempFolder folder;
        std::wstring path = folder.File(L"c.nv2");
        WriteBytes(path, std::string("{\"info\": {\"name\": \"Norvane\", \"version\": \"") + c.version + "\"}, " + body);
        CTransferDoc doc;
        doc.SaveToFile(path, c.whole);
        std::string saved = ReadBytes(path);
        ASSERT_EQ(0, saved.compare(0, 3, "\xEF\xBB\xBF"));
        EXPECT_NE(std::string::npos, saved.find("\"version\": \"1.6\""));
        EXPECT_EQ(c.kept, saved.find("\"extra\"") != std::string::npos);
        EXPECT_EQ(c.kept, saved.find("\"reader\": {\r\n\t\t\"own\": true,\r\n\t\t\"model\": 0,") != std::string::npos);
        // A current file keeps its member order: "extra" stays in front of the parts.
        if (c.kept) {
            EXPECT_LT(saved.find("\"extra\""), saved.find("\"transfer\""));
        }
    }
}

TEST(TransferDoc, SaveAndCloseClearTheUnsavedFlag)
{
    TempFolder folder;
    CTransferDoc doc;
    doc.SetPathName(folder.File(L"c.nv2"));
    doc.Open();
    {
        CDocUpdateScope scope(doc);
        doc.HttpRequest().address = L"http://h/%KeyNum%";
        doc.RaiseChange(TDC_HTTP, 0, true);
    }
    EXPECT_TRUE(doc.IsUnsaved());
    Recorder recorder(doc);
    doc.Close(true);
    EXPECT_FALSE(doc.IsOpen());
    EXPECT_FALSE(doc.IsUnsaved());
    ASSERT_EQ(1u, recorder.calls.size());
    EXPECT_EQ(TDC_UNSAVED | TDC_STATE, recorder.calls[0].word);
    EXPECT_NE(std::string::npos, ReadBytes(folder.File(L"c.nv2")).find("http:\\/\\/h\\/%KeyNum%"));

    // Closing without saving drops the flag and writes nothing.
    CTransferDoc other;
    other.SetPathName(folder.File(L"other.nv2"));
    other.Open();
    other.RaiseChange(TDC_HTTP, 0, true);
    other.Close(false);
    EXPECT_FALSE(other.IsUnsaved());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.File(L"other.nv2").c_str()));
}

TEST(TransferDoc, FailedSaveThrowsAndKeepsTheDocumentUnsaved)
{
    TempFolder folder;
    CTransferDoc doc;
    doc.SetPathName(folder.File(L"no such folder\\c.nv2"));
    doc.RaiseChange(TDC_HTTP, 0, true);
    EXPECT_THROW(doc.Save(false), CFileException);
    EXPECT_TRUE(doc.IsUnsaved());
}

TEST(TransferDoc, StatesRaiseTheirDetailBitsOnlyOnChange)
{
    CTransferDoc doc;
    Recorder recorder(doc);
    doc.SetSourceState(1);
    doc.SetSourceState(1);
    doc.SetDestinationState(1);
    ASSERT_EQ(2u, recorder.calls.size());
    EXPECT_EQ(TDS_SOURCE_STATE, recorder.calls[0].details.state);
    EXPECT_EQ(TDS_DEST_STATE, recorder.calls[1].details.state);
    EXPECT_EQ(TDC_STATE, recorder.calls[1].word);
    EXPECT_FALSE(doc.IsUnsaved());
    // Loading the source clears its state.
    LoadMembers(doc, L"1.6", L"");
    EXPECT_EQ(0, doc.GetSourceState());
    EXPECT_EQ(0, doc.GetDestinationState());
}

TEST(TransferDoc, NextFormatIdSearchesUpwardThenWraps)
{
    struct Case
    {
        uint32_t newId;
        std::vector<uint32_t> taken;
        uint32_t id;
        uint32_t newIdAfter;
    } cases[] = {
        {1001, {1001, 1002, 1003}, 1004, 1005},
        {1001, {}, 1001, 1002},
        {5, {5}, 6, 7},
        {0xFFFFFFFE, {0xFFFFFFFE}, 1001, 1002},
        {0xFFFFFFFF, {1001}, 1002, 1003},
        {0xFFFFFFFE, {0xFFFFFFFE, 1001}, 1002, 1003},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.newId);
        CTransferDoc doc;
        for (uint32_t id : c.taken) {
            _KV_FORMAT format;
            format.id = id;
            format.name = L"f" + std::to_wstring(id);
            doc.AddFormat(format);
        }
        doc.newId = c.newId;
        EXPECT_EQ(c.id, doc.NextFormatId());
        EXPECT_EQ(c.newIdAfter, doc.newId);
    }
}

TEST(TransferDoc, AddFormatRefusesATakenIdAndKeepsTheMapsInStep)
{
    CTransferDoc doc;
    _KV_FORMAT format;
    format.name = L"A";
    EXPECT_EQ(0u, doc.AddFormat(format));
    EXPECT_EQ(1001u, doc.GetFormats()[0]->id);
    format.id = 1001;
    format.name = L"B";
    EXPECT_THROW(doc.AddFormat(format), CComException);
    EXPECT_EQ(1u, doc.GetFormats().size());
    EXPECT_EQ(1u, doc.GetFormatsByName().size());
    EXPECT_EQ(1u, doc.GetFormatsById().size());
    EXPECT_TRUE(doc.IsUnsaved());
}

// A file cut short would otherwise give only part of the configuration, which the next save
// would write over the whole file.
TEST(TransferDoc, DamagedFileIsKeptAsideAndNotRead)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"c.nv2");
    std::string full = ReadBytes(DataPath(L"full.nv2"));
    std::string cut = full.substr(0, full.find("\"keyboard\""));
    WriteBytes(path, cut);
    CTransferDoc doc;
    doc.SetPathName(path);
    doc.Open();
    EXPECT_TRUE(doc.IsOpen());
    EXPECT_TRUE(doc.IsUnsaved());
    EXPECT_EQ(SOURCE_NONE, doc.GetSourceKind());
    EXPECT_TRUE(doc.GetKeys().empty());
    EXPECT_EQ(cut, ReadBytes(path + L".bad"));
    doc.Save(false);
    EXPECT_FALSE(doc.IsUnsaved());
    // Nothing of the damaged file was read: the defaults with the preset key filters.
    CTransferDoc fresh;
    fresh.ResetKeyFiltersToPresets();
    fresh.SaveToFile(path + L".fresh", true);
    EXPECT_EQ(ReadBytes(path + L".fresh"), ReadBytes(path));
}

// A page that changes the document inside its own scope is not told of its change; the
// document's operations keep the page as the sender.
TEST(TransferDoc, OperationsKeepTheCurrentSender)
{
    CTransferDoc doc;
    Recorder page(doc);
    Recorder other(doc);
    {
        CDocUpdateScope scope(doc, &page);
        doc.SetDestinationState(1);
        LoadMembers(doc, L"1.6", L"");
    }
    EXPECT_TRUE(page.calls.empty());
    ASSERT_EQ(1u, other.calls.size());
    EXPECT_EQ(TDS_DEST_STATE, other.calls[0].details.state);
}

// An observer that adds a key while it is told of another change: the observers after it learn
// of the key in the same pass, and the detail words they read name the addition.
TEST(TransferDoc, AChangeRaisedDuringAPassReachesLaterObserversWithItsDetails)
{
    CTransferDoc doc;
    struct Adder
    {
        CTransferDoc& doc;
        bool done = false;
        static void OnChange(void* key, CDocument*, const uint32_t* bits)
        {
            auto* self = static_cast<Adder*>(key);
            if (self->done || !(bits[0] & TDC_SOURCE))
                return;
            self->done = true;
            _KV_KEY entry;
            entry.keyType = 1;
            self->doc.AddKey(entry);
        }
    } adder{doc};
    int slot = doc.AddObserver(&adder, &Adder::OnChange);
    Recorder later(doc);
    {
        CDocUpdateScope scope(doc);
        doc.SetSource(L"List of keys", SOURCE_KEYLIST);
    }
    uint32_t keyListDetail = 0;
    for (const Recorder::Call& call : later.calls)
        if (call.word & TDC_KEYLIST)
            keyListDetail |= call.details.keyList;
    EXPECT_EQ(TDK_ADDED, keyListDetail & TDK_ADDED);
    EXPECT_EQ(1u, doc.GetKeys().size());
    doc.RemoveObserver(slot);
}
