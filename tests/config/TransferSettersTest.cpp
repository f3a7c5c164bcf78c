#include <gtest/gtest.h>
#include <functional>
#include "tests/config/TransferTestUtil.h"

using namespace transfer_test;

namespace {

struct SetterCase
{
    const char* name;
    std::function<void(CTransferDoc&)> apply;
    uint32_t change;          // without TDC_UNSAVED
    uint32_t formatsDetail;
    bool unsaved;
    uint32_t clearedPart = 0;  // saved-parts bit taken away before the call
    bool repeats = false;      // no value to compare: a second call raises again
};

_KEY_NUMBER ShortClassicKey()
{
    _KEY_NUMBER key = DefaultMifareClassicKey();
    key.length = 5;  // bytes unchanged: the record still differs
    return key;
}

const std::vector<SetterCase>& SetterCases()
{
    using D = CTransferDoc;
    static const std::vector<SetterCase> cases = {
        {"SetSource", [](D& d) { d.SetSource(L"COM3", SOURCE_READER); }, TDC_SOURCE, 0, true},
        {"SetSource kind only", [](D& d) { d.SetSource(L"", SOURCE_KEYLIST); }, TDC_SOURCE, 0, true},
        {"SetSource not stored", [](D& d) { d.SetSource(L"COM3", SOURCE_READER); }, TDC_SOURCE, 0, false,
         SAVED_SOURCE},
        {"SetDestination", [](D& d) { d.SetDestination(L"x", DEST_CLIPBOARD); }, TDC_DESTINATION, 0, true},
        {"SetDestination not stored", [](D& d) { d.SetDestination(L"", DEST_HTTP); }, TDC_DESTINATION, 0, false,
         SAVED_DESTINATION},
        {"SetReaderSpeed", [](D& d) { d.SetReaderSpeed(9600); }, TDC_READER, 0, true},
        {"SetReaderStopBits", [](D& d) { d.SetReaderStopBits(2); }, TDC_READER, 0, true},
        {"SetConnectTimeout", [](D& d) { d.SetConnectTimeout(1); }, TDC_READER, 0, true},
        {"SetCheckInPeriod", [](D& d) { d.SetCheckInPeriod(0); }, TDC_READER, 0, true},
        {"SetReceiveTimeout", [](D& d) { d.SetReceiveTimeout(1); }, TDC_READER, 0, true},
        {"SetMaxTries", [](D& d) { d.SetMaxTries(5); }, TDC_READER, 0, true},
        {"SetConnectPeriod", [](D& d) { d.SetConnectPeriod(1); }, TDC_READER, 0, true},
        {"SetReaderFlags", [](D& d) { d.SetReaderFlags(0); }, TDC_READER, 0, true},
        {"SetSearchFlags", [](D& d) { d.SetSearchFlags(0x3F); }, TDC_READER, 0, true},
        {"SetSearchReceiveTimeout", [](D& d) { d.SetSearchReceiveTimeout(1); }, TDC_READER, 0, true},
        {"SetSearchMaxTries", [](D& d) { d.SetSearchMaxTries(3); }, TDC_READER, 0, true},
        {"SetKeyListSort", [](D& d) { d.SetKeyListSort(-2); }, TDC_KEYLIST_SORT, 0, true},
        {"SetKeyListSort not stored", [](D& d) { d.SetKeyListSort(2); }, TDC_KEYLIST_SORT, 0, false, SAVED_KEYLIST},
        {"SetKeyListNoDuplicates", [](D& d) { d.SetKeyListNoDuplicates(1); }, TDC_KEYLIST_NODUPS, 0, true},
        {"SetKeyListTimerEnabled", [](D& d) { d.SetKeyListTimerEnabled(true); }, TDC_KEYLIST_TIMER, 0, true},
        {"SetKeyListTimerInterval", [](D& d) { d.SetKeyListTimerInterval(50); }, TDC_KEYLIST_TIMER, 0, true},
        {"SetKeyboardMethod", [](D& d) { d.SetKeyboardMethod(3); }, TDC_KEYBOARD, 0, true},
        {"SetKeyboardMethod out of range", [](D& d) { d.SetKeyboardMethod(4); }, 0, 0, false},
        {"SetAfterActivateDelay", [](D& d) { d.SetAfterActivateDelay(0); }, TDC_KEYBOARD, 0, true},
        {"SetAfterPressDelay", [](D& d) { d.SetAfterPressDelay(0); }, TDC_KEYBOARD, 0, true},
        {"SetAfterReleaseDelay", [](D& d) { d.SetAfterReleaseDelay(0); }, TDC_KEYBOARD, 0, true},
        {"SetKeyboardStartAdmin", [](D& d) { d.SetKeyboardStartAdmin(true); }, TDC_KEYBOARD, 0, true},
        {"SetWindowFilterEnabled", [](D& d) { d.SetWindowFilterEnabled(true); }, TDC_KEYBOARD, 0, true},
        {"SetWindowFilterClass", [](D& d) { d.SetWindowFilterClass(L"Edit"); }, TDC_KEYBOARD, 0, true},
        {"SetWindowFilterTitle", [](D& d) { d.SetWindowFilterTitle(L"*pad"); }, TDC_KEYBOARD, 0, true},
        {"SetWindowFilterFile same", [](D& d) { d.SetWindowFilterFile(L"*"); }, 0, 0, false},
        {"SetWindowFilterFile", [](D& d) { d.SetWindowFilterFile(L"a.EXE"); }, TDC_KEYBOARD, 0, true},
        {"SetPortavoType", [](D& d) { d.SetPortavoType(PORTAVO_SERVER); }, TDC_PORTAVO, 0, true},
        {"SetPortavoType out of range", [](D& d) { d.SetPortavoType(3); }, 0, 0, false},
        {"SetPortavoNvt", [](D& d) { d.SetPortavoNvt(false); }, TDC_PORTAVO, 0, true},
        {"SetPortavoServer port", [](D& d) { d.SetPortavoServer(2000, 4); }, TDC_PORTAVO, 0, true},
        {"SetPortavoServer connections", [](D& d) { d.SetPortavoServer(1000, -1); }, TDC_PORTAVO, 0, true},
        {"SetPortavoClient address", [](D& d) { d.SetPortavoClient(L"10.0.0.1:25000", 1000); }, TDC_PORTAVO, 0,
         true},
        {"SetPortavoClient period", [](D& d) { d.SetPortavoClient(L"127.0.0.1:25000", 5); }, TDC_PORTAVO, 0, true},
        {"SetCmdLineProgram", [](D& d) { d.SetCmdLineProgram(L"a.exe"); }, TDC_CMDLINE, 0, true},
        {"SetCmdLineArguments", [](D& d) { d.SetCmdLineArguments(L"%KeyNum%"); }, TDC_CMDLINE, 0, true},
        {"SetHttpAddress", [](D& d) { d.SetHttpAddress(L"http://h/"); }, TDC_HTTP, 0, true},
        {"SetReadKeyTypes", [](D& d) { d.SetReadKeyTypes(0x2); }, TDC_KEYTYPES, 0, true},
        {"SetVell4Mode", [](D& d) { d.SetVell4Mode(1); }, TDC_VELL4MODE, 0, true},
        {"SetMifareClassicEnabled", [](D& d) { d.SetMifareClassicEnabled(true); },
         TDC_MIFARE_CLASSIC | TDC_CARD_KIND_SWITCH, 0, true},
        {"SetMifareClassicFlags", [](D& d) { d.SetMifareClassicFlags(MIFARE_KEY_B); }, TDC_MIFARE_CLASSIC, 0, true},
        {"SetMifareClassicSector", [](D& d) { d.SetMifareClassicSector(3); }, TDC_MIFARE_CLASSIC, 0, true},
        {"SetMifareClassicBlock", [](D& d) { d.SetMifareClassicBlock(2); }, TDC_MIFARE_CLASSIC, 0, true},
        {"SetMifareClassicKey length", [](D& d) { d.SetMifareClassicKey(ShortClassicKey()); }, TDC_MIFARE_CLASSIC,
         0, true},
        {"SetMifareClassicKey same", [](D& d) { d.SetMifareClassicKey(DefaultMifareClassicKey()); }, 0, 0, false},
        {"SetMifareClassicMask", [](D& d) { d.SetMifareClassicMask(1); }, TDC_MIFARE_CLASSIC, 0, true},
        {"SetMifarePlusEnabled", [](D& d) { d.SetMifarePlusEnabled(true); }, TDC_MIFARE_PLUS | TDC_CARD_KIND_SWITCH,
         0, true},
        {"SetMifarePlusFlags", [](D& d) { d.SetMifarePlusFlags(MIFARE_BY_MASK); }, TDC_MIFARE_PLUS, 0, true},
        {"SetMifarePlusSector", [](D& d) { d.SetMifarePlusSector(1); }, TDC_MIFARE_PLUS, 0, true},
        {"SetMifarePlusBlock", [](D& d) { d.SetMifarePlusBlock(0); }, TDC_MIFARE_PLUS, 0, true},
        {"SetMifarePlusKey", [](D& d) { d.SetMifarePlusKey(Key({1, 2, 3})); }, TDC_MIFARE_PLUS, 0, true},
        {"SetMifarePlusMask", [](D& d) { d.SetMifarePlusMask(0); }, TDC_MIFARE_PLUS, 0, true},
        {"SetMifareULEnabled", [](D& d) { d.SetMifareULEnabled(true); }, TDC_MIFARE_UL | TDC_CARD_KIND_SWITCH, 0,
         true},
        {"SetMifareULPage", [](D& d) { d.SetMifareULPage(5); }, TDC_MIFARE_UL, 0, true},
        {"SetMifareULCount", [](D& d) { d.SetMifareULCount(4); }, TDC_MIFARE_UL, 0, true},
        {"SetTemicEnabled", [](D& d) { d.SetTemicEnabled(true); }, TDC_TEMIC | TDC_CARD_KIND_SWITCH, 0, true},
        {"SetTemicFlags", [](D& d) { d.SetTemicFlags(TEMIC_USE_PASSWORD); }, TDC_TEMIC, 0, true},
        // Groups that pages store field by field go through an edit that raises when it ends.
        {"EditReaderSettings model", [](D& d) { d.EditReaderSettings()->model = 6; }, TDC_READER, 0, true},
        {"EditReaderSettings same", [](D& d) { d.EditReaderSettings()->model = 0; }, 0, 0, false},
        {"EditTemicSettings block and password",
         [](D& d) {
             auto temic = d.EditTemicSettings();
             temic->block = 3;
             temic->password = 0x1234;
         },
         TDC_TEMIC, 0, true},
        {"EditTemicSettings params", [](D& d) { d.EditTemicSettings()->params.push_back(7); }, TDC_TEMIC, 0, true, 0,
         true},
        {"MifareClassicKeysChanged", [](D& d) { d.MifareClassicKeysChanged(); }, TDC_MIFARE_CKEYS, 0, true, 0, true},
        {"MifareClassicKeysChanged not stored", [](D& d) { d.MifareClassicKeysChanged(); }, TDC_MIFARE_CKEYS, 0,
         false, SAVED_MIFARE_KEYS, true},
        {"MifarePlusKeysChanged", [](D& d) { d.MifarePlusKeysChanged(); }, TDC_MIFARE_PKEYS, 0, true, 0, true},
        {"SetFormatsSort", [](D& d) { d.SetFormatsSort(3); }, TDC_FORMATS, TDF_FORMATS_SORT, true},
        {"SetDefaultFormatId", [](D& d) { d.SetDefaultFormatId(1001); }, TDC_FORMATS, TDF_DEFAULT_ID, true},
        {"SetFormatsKeyFilter", [](D& d) { d.SetFormatsKeyFilter(2); }, TDC_FORMATS, TDF_SELECTED_FILTER, true},
        {"SetKeyFiltersSort", [](D& d) { d.SetKeyFiltersSort(-1); }, TDC_FORMATS, TDF_KEY_FILTERS_SORT, true},
        {"SetKeyFiltersSort not remembered", [](D& d) { d.SetKeyFiltersSort(2); }, TDC_FORMATS,
         TDF_KEY_FILTERS_SORT, false, SAVED_KEYFILTERS_SORT},
    };
    return cases;
}

}  // namespace

TEST(TransferSetters, EachSetterRaisesItsBitOnceAndNothingForAnEqualValue)
{
    for (const SetterCase& c : SetterCases()) {
        SCOPED_TRACE(c.name);
        CTransferDoc doc;
        doc.SetSavedParts(kSavedPartsAll & ~c.clearedPart);
        ChangeLog log(doc);
        c.apply(doc);
        EXPECT_EQ(c.unsaved, doc.IsUnsaved());
        if (c.change == 0) {
            EXPECT_TRUE(log.calls.empty());
            continue;
        }
        ASSERT_EQ(1u, log.calls.size());
        EXPECT_EQ(c.change | (c.unsaved ? TDC_UNSAVED : 0), log.calls[0].word);
        EXPECT_EQ(c.formatsDetail, log.calls[0].details.formats);
        EXPECT_EQ(0u, log.calls[0].details.state | log.calls[0].details.keyList | log.calls[0].details.formatList);

        // The same value again: nothing.
        const size_t before = log.calls.size();
        c.apply(doc);
        EXPECT_EQ(before + (c.repeats ? 1 : 0), log.calls.size());
        if (c.repeats) {
            EXPECT_EQ(c.change, log.calls.back().word);
        }
    }
}

TEST(TransferSetters, ReadKeyTypesTellsWhetherItChanged)
{
    CTransferDoc doc;
    EXPECT_FALSE(doc.SetReadKeyTypes(kAllKeyTypes));
    EXPECT_TRUE(doc.SetReadKeyTypes(0x6));
    EXPECT_FALSE(doc.SetReadKeyTypes(0x6));
    EXPECT_EQ(0x6u, doc.readKeys.keyTypes);
}

TEST(TransferSetters, NoDuplicatesRaisesItsBitOnlyWhenBitZeroChanges)
{
    struct Case
    {
        uint32_t from, to, word;
    } cases[] = {
        {1, 3, TDC_UNSAVED},
        {2, 3, TDC_UNSAVED | TDC_KEYLIST_NODUPS},
        {0, 1, TDC_UNSAVED | TDC_KEYLIST_NODUPS},
        {3, 0, TDC_UNSAVED | TDC_KEYLIST_NODUPS},
        {3, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        CTransferDoc doc;
        doc.keyListNoDuplicates = c.from;
        ChangeLog log(doc);
        doc.SetKeyListNoDuplicates(c.to);
        EXPECT_EQ(c.to, doc.keyListNoDuplicates);
        EXPECT_EQ(c.word != 0, doc.IsUnsaved());
        ASSERT_EQ(c.word != 0 ? 1u : 0u, log.calls.size());
        if (c.word) {
            EXPECT_EQ(c.word, log.calls[0].word);
        }
    }
}

TEST(TransferSetters, SettersInsideOneScopeReachEachObserverOnce)
{
    CTransferDoc doc;
    ChangeLog first(doc);
    ChangeLog second(doc);
    {
        CDocUpdateScope scope(doc);
        doc.SetReaderSpeed(115200);
        doc.SetHttpAddress(L"http://h/%KeyNum%");
        doc.SetFormatsSort(2);
    }
    for (ChangeLog* log : {&first, &second}) {
        ASSERT_EQ(1u, log->calls.size());
        EXPECT_EQ(TDC_UNSAVED | TDC_READER | TDC_HTTP | TDC_FORMATS, log->calls[0].word);
        EXPECT_EQ(TDF_FORMATS_SORT, log->calls[0].details.formats);
    }
    // The detail words were handed out and cleared.
    doc.SetReaderSpeed(9600);
    EXPECT_EQ(0u, first.calls.back().details.formats);
}

// The sender of a page's own scope is not told of its changes.
TEST(TransferSetters, TheChangingPageIsNotTold)
{
    CTransferDoc doc;
    ChangeLog page(doc);
    ChangeLog other(doc);
    {
        CDocUpdateScope scope(doc, &page);
        doc.SetMifareClassicEnabled(true);
    }
    EXPECT_TRUE(page.calls.empty());
    ASSERT_EQ(1u, other.calls.size());
    EXPECT_EQ(TDC_UNSAVED | 0x4100000u, other.calls[0].word);
}

TEST(TransferKeyList, AddKeyCopiesTheRecordAndResetsTheSortInTheSameCall)
{
    CTransferDoc doc;
    doc.keyListSort = 3;
    ChangeLog log(doc);
    _KV_KEY key;
    key.keyType = 4;
    key.keyNumber = Key({0x2A, 0x00, 0x05});
    key.flags = KVKEY_TRANSFERRED;
    key.text = L"t";
    key.outputText = L"o";
    EXPECT_EQ(0u, doc.AddKey(key));
    EXPECT_EQ(1u, doc.AddKey(key));
    ASSERT_EQ(2u, log.calls.size());
    EXPECT_EQ(TDC_UNSAVED | TDC_KEYLIST | TDC_KEYLIST_SORT, log.calls[0].word);
    EXPECT_EQ(TDK_ADDED, log.calls[0].details.keyList);
    EXPECT_EQ(TDC_KEYLIST, log.calls[1].word);
    EXPECT_EQ(0, doc.keyListSort);

    const _KV_KEY& stored = *doc.GetKeys()[0];
    EXPECT_EQ(4, stored.keyType);
    EXPECT_TRUE(KeysEqual(key.keyNumber, stored.keyNumber));
    EXPECT_EQ(KVKEY_TRANSFERRED, stored.flags);
    EXPECT_EQ(L"t", stored.text);
    EXPECT_EQ(L"o", stored.outputText);
    // Each entry is a record of its own.
    EXPECT_NE(doc.GetKeys()[0], doc.GetKeys()[1]);
}

TEST(TransferKeyList, AddingWithTheKeyListNotStoredKeepsTheDocumentSaved)
{
    CTransferDoc doc;
    doc.SetSavedParts(kSavedPartsAll & ~SAVED_KEYLIST);
    doc.keyListSort = 1;
    ChangeLog log(doc);
    doc.AddKey(_KV_KEY());
    EXPECT_FALSE(doc.IsUnsaved());
    ASSERT_EQ(1u, log.calls.size());
    EXPECT_EQ(TDC_KEYLIST | TDC_KEYLIST_SORT, log.calls[0].word);
}

// Removing entries changes the stored list: unsaved, unless the list is not stored. A page's
// own detail bits outside 0xE007 never make it unsaved.
TEST(TransferKeyList, RemovalsMarkOnlyAStoredListUnsaved)
{
    struct Case
    {
        uint32_t parts;
        uint32_t word;
    } cases[] = {{kSavedPartsAll, TDC_KEYLIST | TDC_UNSAVED}, {kSavedPartsAll & ~SAVED_KEYLIST, TDC_KEYLIST}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.parts);
        CTransferDoc doc;
        LoadMembers(doc, L"1.6",
                    L"\"keyList\": {\"keys\": [{\"keyType\": 0, \"keyNumber\": \"01\"}, {\"keyType\": 0, "
                    L"\"keyNumber\": \"02\"}, {\"keyType\": 0, \"keyNumber\": \"03\"}, {\"keyType\": 0, "
                    L"\"keyNumber\": \"04\"}]}");
        ASSERT_EQ(4u, doc.GetKeys().size());
        doc.SetSavedParts(c.parts);
        ChangeLog log(doc);
        doc.RaiseKeyListChange(0x10, false);
        EXPECT_FALSE(doc.IsUnsaved());
        for (const KvKeyPtr& key : doc.GetKeys())
            key->flags = (key->keyNumber.bytes[0] % 2) ? KVKEY_DELETE : 0;
        EXPECT_EQ(2u, doc.DeleteMarkedKeys());
        ASSERT_EQ(2u, log.calls.size());
        EXPECT_EQ(TDC_KEYLIST, log.calls[0].word);
        EXPECT_EQ(c.word, log.calls[1].word);
        EXPECT_EQ(TDK_REMOVED, log.calls[1].details.keyList);
        ASSERT_EQ(2u, doc.GetKeys().size());
        EXPECT_EQ(2, doc.GetKeys()[0]->keyNumber.bytes[0]);
        EXPECT_EQ(4, doc.GetKeys()[1]->keyNumber.bytes[0]);
        // Nothing marked: nothing raised.
        EXPECT_EQ(0u, doc.DeleteMarkedKeys());
        EXPECT_EQ(2u, log.calls.size());
    }
}

TEST(TransferKeyList, DeleteDuplicateKeysKeepsTheFirstOfEqualEntries)
{
    struct Entry
    {
        int32_t type;
        _KEY_NUMBER key;
    };
    const _KEY_NUMBER a = Key({0xAA, 0x01}), b = Key({0xBB}), aShort = Key({0xAA});
    struct Case
    {
        const char* name;
        std::vector<Entry> list;
        size_t removed;
        std::vector<size_t> kept;  // positions of the input that stay
    } cases[] = {
        {"A B A A", {{1, a}, {1, b}, {1, a}, {1, a}}, 2, {0, 1}},
        {"no duplicates", {{1, a}, {1, b}, {2, a}, {1, aShort}}, 0, {0, 1, 2, 3}},
        {"runs of two kinds", {{1, b}, {1, a}, {1, b}, {2, a}, {1, a}, {2, a}}, 3, {0, 1, 3}},
        {"empty list", {}, 0, {}},
        {"zero-length keys", {{0, _KEY_NUMBER{}}, {0, _KEY_NUMBER{}}}, 1, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTransferDoc doc;
        for (const Entry& e : c.list) {
            _KV_KEY key;
            key.keyType = e.type;
            key.keyNumber = e.key;
            key.flags = KVKEY_DUPLICATE | KVKEY_TRANSFERRED;  // a stale mark from before
            doc.AddKey(key);
        }
        const std::vector<KvKeyPtr> before = doc.GetKeys();
        ChangeLog log(doc);
        EXPECT_EQ(c.removed, doc.DeleteDuplicateKeys());
        ASSERT_EQ(c.kept.size(), doc.GetKeys().size());
        for (size_t i = 0; i < c.kept.size(); ++i) {
            EXPECT_EQ(before[c.kept[i]], doc.GetKeys()[i]) << i;
            EXPECT_EQ(KVKEY_TRANSFERRED, doc.GetKeys()[i]->flags) << i;
        }
        ASSERT_EQ(c.removed ? 1u : 0u, log.calls.size());
        if (c.removed) {
            EXPECT_EQ(TDC_KEYLIST, log.calls[0].word);
            EXPECT_EQ(TDK_REMOVED, log.calls[0].details.keyList);
        }
    }
}

TEST(TransferKeyList, OutputTextIsRenderedOnceThroughTheKeysFormat)
{
    CTransferDoc doc;
    _KV_FORMAT format;
    format.name = L"broken";
    format.templ = L"%u";
    format.params = L"(";
    const uint32_t broken = doc.GetFormats()[doc.AddFormat(format)]->id;
    format.name = L"decimal";
    format.params = L"b0";
    const uint32_t decimal = doc.GetFormats()[doc.AddFormat(format)]->id;
    doc.KeyFilters().push_back(KeyFilter{1, L"t1", 0x2, 0, 0, broken});

    _KV_KEY key;
    key.keyType = 1;
    key.keyNumber = Key({5});
    key.outputText = L"stale";
    doc.UpdateKeyText(key);
    EXPECT_EQ(L"", key.outputText);
    EXPECT_EQ(KVKEY_OUTPUT_CURRENT, key.flags);

    // Current: not rendered again, whatever the formats now say.
    doc.SetDefaultFormatId(decimal);
    doc.KeyFilters()[0].formatId = 0;
    key.outputText = L"kept";
    doc.UpdateKeyText(key);
    EXPECT_EQ(L"kept", key.outputText);

    // No format at all: empty, and current too.
    _KV_KEY other;
    other.keyType = 1;
    other.keyNumber = Key({7});
    doc.SetDefaultFormatId(0);
    doc.UpdateKeyText(other);
    EXPECT_EQ(L"", other.outputText);
    EXPECT_EQ(KVKEY_OUTPUT_CURRENT, other.flags);

    // Rendered in the one-line form.
    doc.SetDefaultFormatId(decimal);
    key.flags = 0;
    doc.UpdateKeyText(key);
    EXPECT_EQ(L"5", key.outputText);
    doc.GetFormats()[1]->templ = L"%u\\t\\r'";
    key.flags = 0;
    doc.UpdateKeyText(key);
    EXPECT_EQ(L"5\\t\\r\\'", key.outputText);
}
