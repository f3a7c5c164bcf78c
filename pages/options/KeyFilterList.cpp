#include "pages/options/KeyFilterList.h"

#include <algorithm>
#include <iterator>

#include "config/TransferDoc.h"

namespace {

bool Selected(const KeyFilter& filter)
{
    return (filter.flags & KEYFILTER_SELECTED) != 0;
}

} // namespace

void KeyFilterList::CopyFrom(const CTransferDoc& doc)
{
    filters = doc.GetKeyFilters();
    for (KeyFilter& filter : filters)
        filter.flags &= ~(KEYFILTER_MARK | KEYFILTER_SELECTED);
    sort = doc.keyFiltersSort;
    counter = doc.keyFilterNewId;
    selectedId = doc.selectedKeyFilter;
    droppedIds.clear();
}

int KeyFilterList::SelectedCount() const
{
    return static_cast<int>(std::count_if(filters.begin(), filters.end(), Selected));
}

void KeyFilterList::SelectOnly(int row)
{
    for (size_t i = 0; i < filters.size(); ++i) {
        if (static_cast<int>(i) == row)
            filters[i].flags |= KEYFILTER_SELECTED;
        else
            filters[i].flags &= ~KEYFILTER_SELECTED;
    }
}

int KeyFilterList::Add(const std::wstring& baseName)
{
    const uint32_t id = NextKeyFilterId(filters, counter);
    if (id == 0)
        return -1;
    KeyFilter filter;
    filter.id = id;
    MakeUniqueKeyFilterName(filters, baseName.c_str(), filter.name);
    filter.keyTypes = kAllKeyTypes;
    filter.keySize = 0;
    filter.flags = KEYFILTER_VISIBLE;
    filter.formatId = 0;
    filters.push_back(filter);
    sort = 0;
    SelectOnly(static_cast<int>(filters.size()) - 1);
    return static_cast<int>(filters.size()) - 1;
}

bool KeyFilterList::Duplicate()
{
    for (KeyFilter& filter : filters)
        filter.flags = Selected(filter) ? (filter.flags | KEYFILTER_MARK) & ~KEYFILTER_SELECTED
                                        : filter.flags & ~KEYFILTER_MARK;
    bool complete = true;
    for (size_t i = filters.size(); i-- > 0;) {
        if (!(filters[i].flags & KEYFILTER_MARK))
            continue;
        filters[i].flags &= ~KEYFILTER_MARK;
        const uint32_t id = NextKeyFilterId(filters, counter);
        if (id == 0) {
            complete = false;
            break;
        }
        KeyFilter copy = filters[i];
        copy.id = id;
        MakeUniqueKeyFilterName(filters, filters[i].name.c_str(), copy.name);
        copy.flags = (copy.flags & ~KEYFILTER_MARK) | KEYFILTER_SELECTED;
        filters.insert(filters.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(copy));
    }
    for (KeyFilter& filter : filters)
        filter.flags &= ~KEYFILTER_MARK;
    return complete;
}

int KeyFilterList::Delete()
{
    int last = -1;
    for (size_t i = 0; i < filters.size(); ++i)
        if (Selected(filters[i]))
            last = static_cast<int>(i);
    if (last < 0)
        return -1;
    for (const KeyFilter& filter : filters)
        if (Selected(filter))
            droppedIds.insert(filter.id);
    std::erase_if(filters, Selected);
    if (selectedId != 0 &&
        std::none_of(filters.begin(), filters.end(), [this](const KeyFilter& f) { return f.id == selectedId; }))
        selectedId = 0;
    const int next = std::min(last, static_cast<int>(filters.size()) - 1);
    SelectOnly(next);
    return next;
}

bool KeyFilterList::CanMoveUp() const
{
    return SelectedCount() > 0 && !IsSelected(0);
}

bool KeyFilterList::CanMoveDown() const
{
    return SelectedCount() > 0 && filters.size() >= 2 && !IsSelected(filters.size() - 1);
}

void KeyFilterList::MoveUp()
{
    // A block at the top stays: its first row has nowhere to go, and each row below it only
    // swaps with a selected neighbour.
    for (size_t i = 1; i < filters.size(); ++i)
        if (Selected(filters[i]) && !Selected(filters[i - 1]))
            std::swap(filters[i], filters[i - 1]);
    sort = 0;
}

void KeyFilterList::MoveDown()
{
    for (size_t i = filters.size(); i-- > 1;)
        if (Selected(filters[i - 1]) && !Selected(filters[i]))
            std::swap(filters[i - 1], filters[i]);
    sort = 0;
}

bool KeyFilterList::Drop(int row)
{
    const int count = static_cast<int>(filters.size());
    row = std::clamp(row, 0, count);
    int first = -1, last = -1;
    for (int i = 0; i < count; ++i)
        if (Selected(filters[i])) {
            if (first < 0)
                first = i;
            last = i;
        }
    if (first < 0 || (row >= first && row <= last + 1 && last - first + 1 == SelectedCount()))
        return false;
    std::vector<KeyFilter> moved, rest;
    int target = row;
    for (int i = 0; i < count; ++i) {
        if (Selected(filters[i])) {
            moved.push_back(filters[i]);
            if (i < row)
                --target;
        } else {
            rest.push_back(filters[i]);
        }
    }
    rest.insert(rest.begin() + target, moved.begin(), moved.end());
    filters = std::move(rest);
    sort = 0;
    return true;
}

void KeyFilterList::Sort(int key)
{
    const bool ascending = key > 0;
    const int column = ascending ? key : -key;
    auto by = [&](auto value) {
        std::stable_sort(filters.begin(), filters.end(), [&](const KeyFilter& a, const KeyFilter& b) {
            return ascending ? value(a) < value(b) : value(b) < value(a);
        });
    };
    switch (column) {
    case KFSORT_VISIBLE: by([](const KeyFilter& f) { return f.flags & KEYFILTER_VISIBLE; }); break;
    case KFSORT_NAME: by([](const KeyFilter& f) { return f.name; }); break;
    case KFSORT_KEY_TYPES: by([](const KeyFilter& f) { return f.keyTypes; }); break;
    case KFSORT_KEY_SIZE: by([](const KeyFilter& f) { return f.keySize; }); break;
    default: break;
    }
    sort = key;
}

void KeyFilterList::ClearSortBy(int key)
{
    if (sort == key || sort == -key)
        sort = 0;
}

bool KeyFilterList::ResetToPresets(const std::vector<uint32_t>& documentIds)
{
    std::vector<KeyFilter> presets;
    if (!LoadPresetKeyFilters(presets))
        return false;
    // Every id the document or this copy had loses its formats: the new filters with the same
    // numbers are other filters.
    droppedIds.insert(documentIds.begin(), documentIds.end());
    for (const KeyFilter& filter : filters)
        droppedIds.insert(filter.id);
    filters = std::move(presets);
    counter = static_cast<uint32_t>(filters.size() + 1);
    if (selectedId != 0 &&
        std::none_of(filters.begin(), filters.end(), [this](const KeyFilter& f) { return f.id == selectedId; }))
        selectedId = 0;
    return true;
}

void ApplyKeyFilters(CTransferDoc& doc, KeyFilterList& work, const void* sender)
{
    CDocUpdateScope scope(doc, sender);
    std::vector<KeyFilter>& filters = doc.KeyFilters();
    filters = work.filters;
    for (KeyFilter& filter : filters)
        filter.flags &= ~(KEYFILTER_MARK | KEYFILTER_SELECTED);
    doc.keyFilterNewId = work.counter;

    uint32_t dropped = 0;
    for (uint32_t id : work.droppedIds)
        if (id >= 1 && id <= kLastKeyFilterId)
            dropped |= 1u << id;
    work.droppedIds.clear();
    bool formatsChanged = false;
    for (const KvFormatPtr& format : doc.GetFormats()) {
        if (format->keyFilterMask == -1)
            continue;   // listed under every filter, whatever its id
        const int32_t mask = static_cast<int32_t>(static_cast<uint32_t>(format->keyFilterMask) & ~dropped);
        if (mask != format->keyFilterMask) {
            format->keyFilterMask = mask;
            formatsChanged = true;
        }
    }
    if (formatsChanged)
        doc.FormatListChanged(KVF_FIELD_KEYFILTERS);

    doc.KeyFiltersChanged(true);
    doc.SetKeyFiltersSort(work.sort);
    // The document may have dropped the chosen filter; the working one is already checked.
    doc.SetFormatsKeyFilter(work.selectedId == 0 || std::any_of(filters.begin(), filters.end(),
                                                                [&](const KeyFilter& f) { return f.id == work.selectedId; })
                                ? work.selectedId
                                : 0);
}
