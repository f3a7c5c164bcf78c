#include <gtest/gtest.h>

#include "config/TransferDoc.h"
#include "pages/options/KeyFilterList.h"

namespace {

// Filters named by one letter each, ids 1.., the letters in `selected` marked.
KeyFilterList Letters(const std::wstring& names, const std::wstring& selected = L"")
{
    KeyFilterList work;
    uint32_t id = 1;
    for (wchar_t c : names) {
        KeyFilter f;
        f.id = id++;
        f.name = std::wstring(1, c);
        f.keyTypes = 2;
        if (selected.find(c) != std::wstring::npos)
            f.flags |= KEYFILTER_SELECTED;
        work.filters.push_back(f);
    }
    work.counter = id;
    return work;
}

std::wstring Order(const KeyFilterList& work)
{
    std::wstring s;
    for (const KeyFilter& f : work.filters)
        s += f.name;
    return s;
}

} // namespace

TEST(KeyFilterList, MovesKeepASelectedBlockTogether)
{
    struct Case {
        const wchar_t* selected;
        bool up;
        const wchar_t* expected;
        bool allowed;
    } cases[] = {
        {L"AB", true, L"ABCDE", false},  // a top block stays
        {L"CD", true, L"ACDBE", true},
        {L"BD", true, L"BADCE", true},
        {L"DE", false, L"ABCDE", false},
        {L"BC", false, L"ADBCE", true},
        {L"AC", false, L"BADCE", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selected);
        KeyFilterList work = Letters(L"ABCDE", c.selected);
        work.sort = 4;
        EXPECT_EQ(c.allowed, c.up ? work.CanMoveUp() : work.CanMoveDown());
        c.up ? work.MoveUp() : work.MoveDown();
        EXPECT_EQ(c.expected, Order(work));
        EXPECT_EQ(0, work.sort);
    }
}

TEST(KeyFilterList, DropMovesTheSelectionAsABlock)
{
    struct Case {
        const wchar_t* selected;
        int row;
        bool moved;
        const wchar_t* expected;
    } cases[] = {
        {L"BC", 0, true, L"BCADE"},  {L"BC", 2, false, L"ABCDE"}, {L"BC", 3, false, L"ABCDE"},
        {L"BC", 4, true, L"ADBCE"},  {L"BC", 99, true, L"ADEBC"}, {L"AC", 5, true, L"BDEAC"},
        {L"AC", 1, true, L"ACBDE"},
    };
    for (const Case& c : cases) {
        KeyFilterList work = Letters(L"ABCDE", c.selected);
        EXPECT_EQ(c.moved, work.Drop(c.row)) << c.selected << c.row;
        EXPECT_EQ(c.expected, Order(work)) << c.selected << c.row;
    }
}

TEST(KeyFilterList, IdsRunOutAtThirtyOne)
{
    KeyFilterList work = Letters(std::wstring(30, L'x'));
    for (size_t i = 0; i < work.filters.size(); ++i)
        work.filters[i].name = L"F" + std::to_wstring(i);
    work.filters[3].flags |= KEYFILTER_SELECTED;
    work.filters[5].flags |= KEYFILTER_SELECTED;
    EXPECT_FALSE(work.Duplicate());     // one copy fits, the second finds no id
    ASSERT_EQ(31u, work.filters.size());
    EXPECT_EQ(L"F5 (2)", work.filters[6].name);
    EXPECT_EQ(31u, work.filters[6].id);
    EXPECT_EQ(-1, work.Add(L"Filter"));
    EXPECT_EQ(31u, work.filters.size());

    KeyFilterList gap = Letters(L"ABC");
    gap.filters.erase(gap.filters.begin());   // id 1 free again
    gap.counter = 31;
    EXPECT_EQ(2, gap.Add(L"Filter"));
    EXPECT_EQ(31u, gap.filters[2].id);
    EXPECT_EQ(3, gap.Add(L"Filter"));
    EXPECT_EQ(1u, gap.filters[3].id);         // the counter wrapped
    EXPECT_EQ(L"Filter (2)", gap.filters[3].name);
    EXPECT_EQ(kAllKeyTypes, gap.filters[3].keyTypes);
}

TEST(KeyFilterList, SortsTheListItselfByNameCodeUnits)
{
    KeyFilterList work = Letters(L"bBa");
    work.Sort(4);
    EXPECT_EQ(L"Bab", Order(work));
    work.Sort(-4);
    EXPECT_EQ(L"baB", Order(work));
    work.filters[0].keySize = 7;
    work.Sort(6);
    EXPECT_EQ(L"aBb", Order(work));
    work.Sort(2);   // the "#" column only remembers the key
    EXPECT_EQ(L"aBb", Order(work));
    EXPECT_EQ(2, work.sort);
}

TEST(KeyFilterList, ApplyDropsTheFormatsOfRemovedAndRenumberedIds)
{
    CTransferDoc doc;
    KeyFilterList seed = Letters(L"ABC");
    doc.KeyFilters() = seed.filters;
    doc.keyFilterNewId = 4;
    doc.selectedKeyFilter = 2;
    _KV_FORMAT f;
    f.name = L"Plain";
    f.templ = L"%s";
    f.keyFilterMask = 0xF;    // default and filters 1 to 3
    doc.AddFormat(f);
    f.name = L"Everywhere";
    f.keyFilterMask = -1;
    doc.AddFormat(f);
    int deliveries = 0;
    CObserverToken token =
        doc.Observe(&deliveries, [](void* key, CDocument*, const uint32_t*) { ++*static_cast<int*>(key); });

    struct Case {
        const wchar_t* deleted;
        bool reset;
        int32_t mask;
        uint32_t selected;
    } cases[] = {
        {L"B", false, 0xB, 0},      // filter 2 gone, and with it the chosen tab
        {L"", true, 0x1, 0},        // every old id renumbered: only "Default" stays
    };
    for (const Case& c : cases) {
        KeyFilterList work;
        work.CopyFrom(doc);
        for (KeyFilter& filter : work.filters)
            if (std::wstring(c.deleted).find(filter.name) != std::wstring::npos && !filter.name.empty())
                filter.flags |= KEYFILTER_SELECTED;
        if (*c.deleted)
            work.Delete();
        if (c.reset) {
            std::vector<uint32_t> ids;
            for (const KeyFilter& filter : doc.GetKeyFilters())
                ids.push_back(filter.id);
            ASSERT_TRUE(work.ResetToPresets(ids));
            EXPECT_EQ(7u, work.counter);
        }
        deliveries = 0;
        ApplyKeyFilters(doc, work, nullptr);
        EXPECT_EQ(1, deliveries);
        EXPECT_EQ(c.mask, doc.GetFormats()[0]->keyFilterMask);
        EXPECT_EQ(-1, doc.GetFormats()[1]->keyFilterMask);
        EXPECT_EQ(c.selected, doc.selectedKeyFilter);
        for (const KeyFilter& filter : doc.GetKeyFilters())
            EXPECT_EQ(0u, filter.flags & (KEYFILTER_SELECTED | KEYFILTER_MARK));
    }
    EXPECT_EQ(6u, doc.GetKeyFilters().size());
    EXPECT_EQ(7u, doc.keyFilterNewId);
}
