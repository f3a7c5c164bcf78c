#include <gtest/gtest.h>
#include <functional>
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "resources/resource.h"
#include "tests/config/TransferTestUtil.h"

using namespace transfer_test;

namespace {

_KV_FORMAT MakeFormat(uint32_t id, const wchar_t* name, const wchar_t* templ = L"%u", uint32_t flags = 0)
{
    _KV_FORMAT format;
    format.id = id;
    format.name = name;
    format.templ = templ;
    format.params = L"b0";
    format.flags = flags;
    return format;
}

HRESULT CodeOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CComException& e) {
        return e.GetCode();
    }
    return S_OK;
}

// Every format of the list is in both maps and nothing else is.
void ExpectMapsInStep(const CTransferDoc& doc)
{
    EXPECT_EQ(doc.GetFormats().size(), doc.GetFormatsById().size());
    EXPECT_EQ(doc.GetFormats().size(), doc.GetFormatsByName().size());
    for (const KvFormatPtr& format : doc.GetFormats()) {
        EXPECT_EQ(format, doc.FindFormatById(format->id)) << format->id;
        auto named = doc.GetFormatsByName().find(format->name);
        ASSERT_NE(named, doc.GetFormatsByName().end());
        EXPECT_EQ(format, named->second);
    }
}

std::wstring Names(const CTransferDoc& doc)
{
    std::wstring text;
    for (const KvFormatPtr& format : doc.GetFormats()) {
        if (!text.empty())
            text += L"|";
        text += std::to_wstring(format->id) + L":" + format->name;
    }
    return text;
}

// The preset key filters as the resource gives them, by position.
struct PresetFilter
{
    const wchar_t* name;
    uint32_t keyTypes;
    int32_t keySize;
} const kPresetFilters[] = {
    {L"Mifare (4 UId)", 0x3FFE00, 4}, {L"Mifare (7 UId)", 0x3FFE00, 7}, {L"Em-Marine,QM-100", 0x72, 0},
    {L"HID", 0x4, 0},                 {L"iCode", 0x8, 0},              {L"Temic", 0x100, 8},
};

void ExpectPresetFilters(const CTransferDoc& doc)
{
    ASSERT_EQ(6u, doc.GetKeyFilters().size());
    for (size_t i = 0; i < 6; ++i) {
        const KeyFilter& filter = doc.GetKeyFilters()[i];
        EXPECT_EQ(i + 1, filter.id);
        EXPECT_EQ(kPresetFilters[i].name, filter.name);
        EXPECT_EQ(kPresetFilters[i].keyTypes, filter.keyTypes) << i;
        EXPECT_EQ(kPresetFilters[i].keySize, filter.keySize) << i;
        EXPECT_EQ(KEYFILTER_VISIBLE, filter.flags);
        EXPECT_EQ(0u, filter.formatId);
    }
    EXPECT_EQ(7u, doc.keyFilterNewId);
}

}  // namespace

TEST(TransferFormats, FormatForKeyFollowsTheFirstMatchingFilterThenTheDefault)
{
    CTransferDoc doc;
    for (uint32_t id : {10u, 11u, 12u})
        doc.AddFormat(MakeFormat(id, (L"f" + std::to_wstring(id)).c_str()));
    auto& filters = doc.KeyFilters();
    filters.push_back(KeyFilter{1, L"hidden", 0x2, 0, 0, 10});             // type 1, any size
    filters.push_back(KeyFilter{2, L"to default", 0x6, 4, 1, 0});          // types 1, 2, size 4
    filters.push_back(KeyFilter{3, L"deleted", 0x8, 0, 1, 99});            // type 3: a gone format
    filters.push_back(KeyFilter{4, L"type 2", 0x4, 0, 1, 11});             // type 2, any size
    filters.push_back(KeyFilter{5, L"high bit", 0x80000000u, 0, 1, 11});   // type 31

    struct Case
    {
        int32_t type;
        int size;
        int filter;
        uint32_t withDefault;  // format id with defaultId 12
        uint32_t noDefault;    // with defaultId 0
    } cases[] = {
        {1, 3, 0, 10, 10},    // a hidden filter still decides
        {1, 4, 0, 10, 10},    // two filters match: the earlier one wins
        {2, 4, 1, 12, 0},     // its format id 0 means the default
        {2, 5, 3, 11, 11},    // size 4 does not match; the next filter does
        {3, 1, 2, 0, 0},      // the filter's format is gone: none, not the default
        {5, 1, -1, 12, 0},    // no filter: the default
        {31, 2, 4, 11, 11},
        {32, 2, -1, 12, 0},   // types outside the mask match nothing
        {-1, 2, -1, 12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " size " << c.size);
        EXPECT_EQ(c.filter, FindKeyFilterForKey(filters, c.type, c.size));
        doc.defaultId = 12;
        KvFormatPtr format = doc.FindFormatForKey(c.type, c.size);
        EXPECT_EQ(c.withDefault, format ? format->id : 0);
        doc.defaultId = 0;
        format = doc.FindFormatForKey(c.type, c.size);
        EXPECT_EQ(c.noDefault, format ? format->id : 0);
    }
    // A default that names no format gives none either.
    doc.defaultId = 500;
    EXPECT_EQ(nullptr, doc.FindFormatForKey(5, 1));
}

TEST(TransferFormats, FindFormatByNameIgnoresCase)
{
    CTransferDoc doc;
    doc.AddFormat(MakeFormat(0, L"\nDALLAS"));
    doc.AddFormat(MakeFormat(0, L"Wiegand Ä"));
    doc.AddFormat(MakeFormat(0, L"wiegand ä"));
    struct Case
    {
        const wchar_t* name;
        int index;
    } cases[] = {{L"\ndallas", 0}, {L"DALLAS", -1}, {L"WIEGAND Ä", 1}, {L"wiegand ä", 1}, {L"", -1}, {L"Wiegand", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(c.index, doc.FindFormatByName(c.name)) << Utf8(c.name);
}

TEST(TransferFormats, AddAndInsertRaiseTheListHintAndResetTheSort)
{
    CTransferDoc doc;
    doc.formatsSort = 4;
    ChangeLog log(doc);
    EXPECT_EQ(0u, doc.AddFormat(MakeFormat(0, L"A")));
    ASSERT_EQ(1u, log.calls.size());
    EXPECT_EQ(TDC_UNSAVED | TDC_FORMATS, log.calls[0].word);
    EXPECT_EQ(TDF_FORMAT_LIST | TDF_FORMATS_SORT, log.calls[0].details.formats);
    EXPECT_EQ(TDL_ADDED, log.calls[0].details.formatList);
    EXPECT_EQ(0, doc.formatsSort);

    EXPECT_EQ(0u, doc.InsertFormat(0, MakeFormat(0, L"B")));
    EXPECT_EQ(2u, doc.InsertFormat(99, MakeFormat(7, L"C")));
    EXPECT_EQ(1u, doc.InsertFormat(1, MakeFormat(0, L"D")));
    EXPECT_EQ(L"1002:B|1003:D|1001:A|7:C", Names(doc));
    EXPECT_EQ(1004u, doc.newId);
    ExpectMapsInStep(doc);
}

// Formats are found by id (key filters, the default) and by name (the name map, the pages):
// a second format with a taken id or name is refused and the document stays as it was.
TEST(TransferFormats, TakenIdsAndNamesAreRefused)
{
    CTransferDoc doc;
    doc.AddFormat(MakeFormat(1001, L"Mine"));
    doc.newId = 1001;
    ChangeLog log(doc);
    struct Case
    {
        _KV_FORMAT format;
        HRESULT code;
    } cases[] = {
        {MakeFormat(1001, L"Other"), E_INVALIDARG},
        {MakeFormat(0, L"Mine"), KV_E_FORMAT_NAME_EXISTS},
        {MakeFormat(5, L"Mine"), KV_E_FORMAT_NAME_EXISTS},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.code, CodeOf([&] { doc.AddFormat(c.format); }));
        EXPECT_EQ(c.code, CodeOf([&] { doc.InsertFormat(0, c.format); }));
    }
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(L"1001:Mine", Names(doc));
    EXPECT_EQ(1001u, doc.newId);
    ExpectMapsInStep(doc);
    // Names differ by case: both are kept apart.
    doc.AddFormat(MakeFormat(0, L"MINE"));
    EXPECT_EQ(L"1001:Mine|1002:MINE", Names(doc));

    CComException e(KV_E_FORMAT_NAME_EXISTS);
    EXPECT_STREQ("COM error 0x80040235Format with the specified name already exists.", e.what());
}

TEST(TransferFormats, UpdateCopiesTheChosenFieldsThatDiffer)
{
    _KV_FORMAT source = MakeFormat(0, L"New", L"%X");
    source.params = L"b1";
    source.comment = L"c";
    source.keyFilterMask = -1;
    struct Case
    {
        uint32_t fields;
        uint32_t changed;
        bool sampleCleared;
    } cases[] = {
        {KVF_FIELD_NAME, KVF_FIELD_NAME, false},
        {KVF_FIELD_TEMPLATE, KVF_FIELD_TEMPLATE, true},
        {KVF_FIELD_PARAMS, KVF_FIELD_PARAMS, true},
        {KVF_FIELD_COMMENT, KVF_FIELD_COMMENT, false},
        {KVF_FIELD_KEYFILTERS, KVF_FIELD_KEYFILTERS, false},
        {0x3E, 0x3E, true},
        {0x3E | 0x1 | 0x40, 0x3E, true},  // bits of no field are ignored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.fields);
        CTransferDoc doc;
        doc.AddFormat(MakeFormat(0, L"Old"));
        const KvFormatPtr target = doc.GetFormats()[0];
        target->flags |= KVF_SAMPLE_CURRENT;
        ChangeLog log(doc);
        EXPECT_TRUE(doc.UpdateFormat(c.fields, source, target));
        ASSERT_EQ(1u, log.calls.size());
        EXPECT_EQ(c.changed, log.calls[0].details.formatList);
        EXPECT_EQ(TDF_FORMAT_LIST, log.calls[0].details.formats);
        EXPECT_EQ(!c.sampleCleared, (target->flags & KVF_SAMPLE_CURRENT) != 0);
        EXPECT_EQ((c.changed & KVF_FIELD_NAME) ? L"New" : L"Old", target->name);
        EXPECT_EQ((c.changed & KVF_FIELD_COMMENT) ? L"c" : L"", target->comment);
        EXPECT_EQ((c.changed & KVF_FIELD_KEYFILTERS) ? -1 : 1, target->keyFilterMask);
        EXPECT_EQ(1001u, target->id);
        ExpectMapsInStep(doc);
        // Again: nothing differs, nothing is raised.
        EXPECT_FALSE(doc.UpdateFormat(c.changed, source, target));
        EXPECT_EQ(1u, log.calls.size());
    }
}

TEST(TransferFormats, RenamingOntoAnotherFormatsNameChangesNothing)
{
    CTransferDoc doc;
    doc.AddFormat(MakeFormat(0, L"A"));
    doc.AddFormat(MakeFormat(0, L"B"));
    const KvFormatPtr b = doc.GetFormats()[1];
    ChangeLog log(doc);
    _KV_FORMAT source = MakeFormat(0, L"A", L"changed");
    EXPECT_EQ(KV_E_FORMAT_NAME_EXISTS,
              CodeOf([&] { doc.UpdateFormat(KVF_FIELD_NAME | KVF_FIELD_TEMPLATE, source, b); }));
    EXPECT_EQ(L"B", b->name);
    EXPECT_EQ(L"%u", b->templ);
    EXPECT_TRUE(log.calls.empty());
    ExpectMapsInStep(doc);
    // Only a change of case is no clash.
    source.name = L"b";
    EXPECT_TRUE(doc.UpdateFormat(KVF_FIELD_NAME, source, b));
    EXPECT_EQ(L"1001:A|1002:b", Names(doc));
    ExpectMapsInStep(doc);
}

TEST(TransferFormats, DeletingKeepsTheOrderAndTheMapsInStep)
{
    CTransferDoc doc;
    for (const wchar_t* name : {L"A", L"B", L"C", L"D", L"E"})
        doc.AddFormat(MakeFormat(0, name));
    ChangeLog log(doc);
    doc.DeleteFormat(1);
    EXPECT_EQ(L"1001:A|1003:C|1004:D|1005:E", Names(doc));
    ASSERT_EQ(1u, log.calls.size());
    EXPECT_EQ(TDL_REMOVED, log.calls[0].details.formatList);
    EXPECT_EQ(KV_E_INDEX_RANGE, CodeOf([&] { doc.DeleteFormat(4); }));

    doc.GetFormats()[0]->flags |= KVF_DELETE;
    doc.GetFormats()[3]->flags |= KVF_DELETE;
    EXPECT_EQ(2u, doc.DeleteMarkedFormats());
    EXPECT_EQ(L"1003:C|1004:D", Names(doc));
    EXPECT_EQ(2u, log.calls.size());
    EXPECT_EQ(0u, doc.DeleteMarkedFormats());
    EXPECT_EQ(2u, log.calls.size());
    ExpectMapsInStep(doc);
    // A deleted id is not handed out again while newId is past it.
    EXPECT_EQ(1006u, doc.NextFormatId());
}

TEST(TransferFormats, KeyFilterChangesCheckTheSelection)
{
    struct Case
    {
        bool check;
        uint32_t selected;
        uint32_t selectedAfter;
        uint32_t details;
    } cases[] = {
        {true, 9, 0, TDF_KEY_FILTERS | TDF_SELECTED_FILTER},
        {true, 2, 2, TDF_KEY_FILTERS},
        {true, 0, 0, TDF_KEY_FILTERS},
        {false, 9, 9, TDF_KEY_FILTERS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.check << " " << c.selected);
        CTransferDoc doc;
        doc.KeyFilters().push_back(KeyFilter{2, L"x"});
        doc.selectedKeyFilter = c.selected;
        doc.keyFiltersSort = 3;
        ChangeLog log(doc);
        doc.KeyFiltersChanged(c.check);
        EXPECT_EQ(c.selectedAfter, doc.selectedKeyFilter);
        EXPECT_EQ(0, doc.keyFiltersSort);
        ASSERT_EQ(1u, log.calls.size());
        EXPECT_EQ(TDC_UNSAVED | TDC_FORMATS, log.calls[0].word);
        EXPECT_EQ(c.details, log.calls[0].details.formats);
    }
}

// Key-filter ids are the bits 1 to 31 of a format's key-filter mask.
TEST(TransferFormats, NextKeyFilterIdStaysWithinTheMaskBits)
{
    std::vector<uint32_t> all;
    for (uint32_t id = 1; id <= 31; ++id)
        all.push_back(id);
    struct Case
    {
        uint32_t counter;
        std::vector<uint32_t> taken;
        uint32_t id;
        uint32_t counterAfter;
    } cases[] = {
        {1, {}, 1, 2},
        {1, {1, 2, 4}, 3, 4},
        {0, {}, 1, 2},
        {31, {}, 31, 32},
        {32, {1}, 2, 3},
        {0xFFFFFFFF, {1}, 2, 3},
        {31, {31}, 1, 2},
        {30, {30, 31, 1}, 2, 3},
        {5, all, 0, 1},
        {5, {40, 100}, 5, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.counter);
        std::vector<KeyFilter> filters;
        for (uint32_t id : c.taken)
            filters.push_back(KeyFilter{id});
        uint32_t counter = c.counter;
        EXPECT_EQ(c.id, NextKeyFilterId(filters, counter));
        EXPECT_EQ(c.counterAfter, counter);
    }
}

TEST(TransferFormats, UniqueNamesCountOnFromASuffix)
{
    struct Case
    {
        std::vector<std::wstring> taken;
        const wchar_t* base;
        const wchar_t* result;
    } cases[] = {
        {{}, nullptr, L"Format"},
        {{}, L"", L"Format"},
        {{L"Format"}, nullptr, L"Format (2)"},
        {{L"Format", L"Format (2)"}, nullptr, L"Format (3)"},
        {{L"format"}, nullptr, L"Format"},
        {{L"X", L"X (3)", L"X (4)"}, L"X (3)", L"X (5)"},
        {{L"X (3)"}, L"X (3)", L"X"},
        {{L"X", L"X (2)"}, L"X", L"X (3)"},
        {{L"X", L"X (5)"}, L"X (4)", L"X (6)"},
        {{L"A (x)"}, L"A (x)", L"A (x) (2)"},
        {{L"A ()", L"A"}, L"A ()", L"A () (2)"},
        {{L"A(3)"}, L"A(3)", L"A(3) (2)"},
        {{L"B"}, L"B (2147483646)", L"B (2147483647)"},
        {{L"B (2147483647)"}, L"B (2147483647)", L"B (2147483647) (2)"},
        {{L"\nDALLAS"}, L"\nDALLAS", L"\nDALLAS (2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << Utf8(c.base ? c.base : L"(none)"));
        FormatsByName byName;
        for (const std::wstring& name : c.taken)
            byName.emplace(name, nullptr);
        std::wstring out;
        EXPECT_TRUE(MakeUniqueName(byName, c.base, out));
        EXPECT_EQ(c.result, out);
    }

    std::vector<KeyFilter> filters{KeyFilter{1, L"Filter"}};
    std::wstring out;
    EXPECT_TRUE(MakeUniqueKeyFilterName(filters, nullptr, out));
    EXPECT_EQ(L"Filter (2)", out);
    filters.push_back(KeyFilter{2, L"HID (2)"});
    EXPECT_TRUE(MakeUniqueKeyFilterName(filters, L"HID (2)", out));
    EXPECT_EQ(L"HID", out);
}

TEST(TransferPresets, ResourceIsTheNamedJsonOfThisVersion)
{
    CMemJson json;
    ASSERT_TRUE(json.LoadFromResource(IDR_PRESETS));
    std::wstring name, version;
    const JsonValue* info = json.Root.FindMember(L"info", JSON_OBJECT);
    ASSERT_NE(nullptr, info);
    EXPECT_TRUE(info->GetString(L"name", name));
    EXPECT_EQ(L"Norvane.Presets", name);
    EXPECT_TRUE(info->GetString(L"version", version));
    EXPECT_EQ(L"1.1", version);
    const JsonValue* presets = json.Root.FindMember(L"presets", JSON_OBJECT);
    ASSERT_NE(nullptr, presets);
    int64_t presetsVersion = 0;
    EXPECT_TRUE(presets->GetInt64(L"version", presetsVersion));
    EXPECT_EQ(kPresetsVersion, presetsVersion);
}

TEST(TransferPresets, FirstMergeBringsFormatsAndKeyFilters)
{
    CTransferDoc doc;
    ChangeLog log(doc);
    doc.LoadPresets(true);
    ASSERT_EQ(1u, log.calls.size());
    EXPECT_EQ(TDC_UNSAVED | TDC_FORMATS, log.calls[0].word);
    EXPECT_EQ(TDF_FORMAT_LIST | TDF_PRESETS | TDF_KEY_FILTERS, log.calls[0].details.formats);
    EXPECT_EQ(kPresetsVersion, doc.presetsVersion);
    EXPECT_EQ(GetPresetsLanguage(), doc.presetsLanguage);
    EXPECT_NE(0, doc.presetsLanguage);

    const KvFormatPtr dallas = doc.FindFormatById(2);
    ASSERT_NE(nullptr, dallas);
    EXPECT_EQ(L"\nDALLAS", dallas->name);
    EXPECT_EQ(KVF_PRESET, dallas->flags);
    EXPECT_EQ(L"%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X", dallas->templ);
    EXPECT_EQ(L"b6 b5 b4 b3 b2 b1 b0 bX", dallas->params);
    EXPECT_EQ(L"Touch Memory", dallas->comment);
    EXPECT_EQ(5, dallas->keyFilterMask);
    const KvFormatPtr decimal = doc.FindFormatById(28);
    ASSERT_NE(nullptr, decimal);
    EXPECT_EQ(L"\nDecimal (max UID8)", decimal->name);
    EXPECT_EQ(L"%u", decimal->templ);
    EXPECT_EQ(L"m01234567", decimal->params);
    EXPECT_EQ(L"UID is no larger than 8 bytes", decimal->comment);
    EXPECT_EQ(63, decimal->keyFilterMask);
    ExpectMapsInStep(doc);
    ExpectPresetFilters(doc);
    // Presets keep their ids: user ids still start at 1001.
    EXPECT_EQ(1001u, doc.NextFormatId());

    // The file carries the names without their line feed.
    std::wstring text = SaveText(doc);
    EXPECT_NE(std::wstring::npos, text.find(L"\"preset\": true,\r\n\t\t\t\t\"name\": \"DALLAS\""));
}

TEST(TransferPresets, MergingAgainUnderTheSameLanguageRaisesNothing)
{
    CTransferDoc doc;
    doc.LoadPresets(true);
    ChangeLog log(doc);
    doc.LoadPresets(false);
    doc.LoadPresets(true);
    EXPECT_TRUE(log.calls.empty());
    ExpectPresetFilters(doc);
}

TEST(TransferPresets, MergeKeepsTheUsersChoicesAndRenewsThePresetsText)
{
    CTransferDoc doc;
    doc.LoadPresets(true);
    const KvFormatPtr dallas = doc.FindFormatById(2);
    const KvFormatPtr decimal = doc.FindFormatById(28);
    dallas->comment = L"my comment";
    dallas->keyFilterMask = 0x40;
    dallas->flags |= KVF_SAMPLE_CURRENT;
    decimal->flags |= KVF_SAMPLE_CURRENT;
    // An older program's preset: another template and name; and a preset the resource no
    // longer has.
    _KV_FORMAT old;
    old.templ = L"%X";
    old.name = L"\nOld DALLAS";
    doc.UpdateFormat(KVF_FIELD_TEMPLATE | KVF_FIELD_NAME, old, dallas);
    dallas->flags |= KVF_SAMPLE_CURRENT;
    doc.AddFormat(MakeFormat(58, L"\nGone", L"%u", KVF_PRESET));
    doc.AddFormat(MakeFormat(0, L"User"));
    doc.presetsVersion = 25;

    ChangeLog log(doc);
    doc.LoadPresets(false);
    ASSERT_EQ(1u, log.calls.size());
    EXPECT_EQ(TDF_FORMAT_LIST | TDF_PRESETS, log.calls[0].details.formats);
    EXPECT_EQ(KVF_FIELD_NAME | KVF_FIELD_TEMPLATE | TDL_REMOVED, log.calls[0].details.formatList);

    EXPECT_EQ(dallas, doc.FindFormatById(2));
    EXPECT_EQ(L"\nDALLAS", dallas->name);
    EXPECT_EQ(L"%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X", dallas->templ);
    EXPECT_EQ(L"my comment", dallas->comment);
    EXPECT_EQ(0x40, dallas->keyFilterMask);
    EXPECT_EQ(KVF_PRESET, dallas->flags);                        // sample no longer current
    EXPECT_EQ(KVF_PRESET | KVF_SAMPLE_CURRENT, decimal->flags);  // unchanged preset keeps it
    EXPECT_EQ(nullptr, doc.FindFormatById(58));
    // The presets keep their places; the user's format stays after them.
    CTransferDoc fresh;
    fresh.LoadPresets(false);
    EXPECT_EQ(Names(fresh) + L"|1001:User", Names(doc));
    EXPECT_EQ(kPresetsVersion, doc.presetsVersion);
    ExpectMapsInStep(doc);
}

TEST(TransferPresets, AnotherLanguageMergesAgain)
{
    CTransferDoc doc;
    doc.LoadPresets(false);
    doc.presetsLanguage = static_cast<uint16_t>(doc.presetsLanguage == 1049 ? 1031 : 1049);
    ChangeLog log(doc);
    doc.LoadPresets(false);
    ASSERT_EQ(1u, log.calls.size());
    EXPECT_EQ(TDF_PRESETS, log.calls[0].details.formats);
    EXPECT_EQ(GetPresetsLanguage(), doc.presetsLanguage);
    EXPECT_EQ(57u, doc.GetFormats().size());
}

// A user's own format never turns into a preset, nor is it overwritten by one.
TEST(TransferPresets, UserFormatWithAPresetIdMovesToAnIdOfItsOwn)
{
    CTransferDoc doc;
    doc.newId = 1001;
    LoadMembers(doc, L"1.6",
                L"\"formats\": {\"defaultId\": 2, \"formats\": [{\"id\": 2, \"name\": \"Mine\", \"template\": \"x%u\","
                L"\"comment\": \"kept\"}, {\"id\": 1001, \"name\": \"\\nDALLAS\", \"template\": \"y\"}]},"
                L"\"keyFilters\": {\"keyFilters\": [{\"id\": 1, \"name\": \"a\", \"formatId\": 2},"
                L"{\"id\": 2, \"name\": \"b\", \"formatId\": 1001}]}");
    ASSERT_EQ(2u, doc.GetFormats().size());
    ChangeLog log(doc);
    doc.LoadPresets(false);

    ASSERT_EQ(1u, log.calls.size());
    EXPECT_EQ(TDF_FORMAT_LIST | TDF_PRESETS | TDF_KEY_FILTERS | TDF_DEFAULT_ID, log.calls[0].details.formats);
    const KvFormatPtr mine = doc.GetFormats()[0];
    EXPECT_EQ(L"Mine", mine->name);
    EXPECT_EQ(L"x%u", mine->templ);
    EXPECT_EQ(L"kept", mine->comment);
    EXPECT_EQ(0u, mine->flags);
    EXPECT_EQ(1002u, mine->id);
    EXPECT_EQ(1002u, doc.defaultId);
    EXPECT_EQ(1002u, doc.GetKeyFilters()[0].formatId);
    EXPECT_EQ(1001u, doc.GetKeyFilters()[1].formatId);
    // The user's format that bore a preset's name gives the name up and stays.
    const KvFormatPtr other = doc.FindFormatById(1001);
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(L"\nDALLAS (2)", other->name);
    EXPECT_EQ(L"y", other->templ);
    EXPECT_EQ(L"\nDALLAS", doc.FindFormatById(2)->name);
    EXPECT_EQ(KVF_PRESET, doc.FindFormatById(2)->flags);
    EXPECT_EQ(2u + 57u, doc.GetFormats().size());
    ExpectMapsInStep(doc);
}

TEST(TransferPresets, PresetKeyFiltersReplaceTheList)
{
    CTransferDoc doc;
    doc.KeyFilters().push_back(KeyFilter{9, L"mine", 0x1, 0, 1, 0});
    doc.keyFilterNewId = 10;
    ChangeLog log(doc);
    doc.ResetKeyFiltersToPresets();
    ExpectPresetFilters(doc);
    ASSERT_EQ(1u, log.calls.size());
    EXPECT_EQ(TDC_FORMATS, log.calls[0].word);
    EXPECT_EQ(TDF_KEY_FILTERS, log.calls[0].details.formats);
    EXPECT_FALSE(doc.IsUnsaved());
    EXPECT_TRUE(doc.GetFormats().empty());

    // With current formats, a merge that asks for the key filters replaces them too.
    doc.LoadPresets(false);
    doc.KeyFilters().pop_back();
    const size_t before = log.calls.size();
    doc.LoadPresets(true);
    ExpectPresetFilters(doc);
    ASSERT_EQ(before + 1, log.calls.size());
    EXPECT_EQ(TDF_KEY_FILTERS, log.calls.back().details.formats);
}

// A configuration without key filters of its own gets the preset ones once the interface
// language is applied; before that, a load keeps exactly what the file holds.
TEST(TransferPresets, LoadMergesOnlyWithTheInterfaceLanguageApplied)
{
    for (bool applied : {false, true}) {
        SCOPED_TRACE(applied);
        CTransferDoc doc;
        doc.SetInterfaceLanguageApplied(applied);
        ChangeLog log(doc);
        const bool filtersRead = LoadMembers(doc, L"1.6", L"\"formats\": {\"formats\": [{\"id\": 1001, \"name\": \"u\"}]}");
        EXPECT_FALSE(filtersRead);
        ASSERT_EQ(1u, log.calls.size());
        EXPECT_EQ(applied ? 6u : 0u, doc.GetKeyFilters().size());
        EXPECT_EQ(applied ? 1u + 57u : 1u, doc.GetFormats().size());
        EXPECT_EQ(applied ? kPresetsVersion : 0u, doc.presetsVersion);
        EXPECT_EQ(applied, doc.IsUnsaved());
    }
    // Key filters of its own and current presets: nothing is merged.
    CTransferDoc doc;
    doc.SetInterfaceLanguageApplied(true);
    LoadMembers(doc, L"1.6",
                L"\"formats\": {\"presets\": {\"version\": 26, \"language\": " + std::to_wstring(GetPresetsLanguage()) +
                    L"}}, \"keyFilters\": {\"keyFilters\": [{\"id\": 3, \"name\": \"own\"}]}");
    EXPECT_TRUE(doc.GetFormats().empty());
    ASSERT_EQ(1u, doc.GetKeyFilters().size());
    EXPECT_FALSE(doc.IsUnsaved());
}
