#include "pages/options/FormatsView.h"

#include <algorithm>

#include "core/TextUtil.h"
#include "resources/resource.h"

std::wstring FormatDisplayName(const _KV_FORMAT& format)
{
    if (format.name.empty() || format.name[0] != L'\n')
        return format.name;
    std::wstring prefix;
    LoadResString(IDS_PRESET_PREFIX, prefix);
    return prefix + format.name.substr(1);
}

std::vector<int> BuildFormatsView(const std::vector<KvFormatPtr>& formats, const FormatsByName& byName,
                                  uint32_t filter, uint32_t keyFilterId)
{
    std::vector<int> view;
    const bool on = (filter & FFILTER_ON) != 0;
    const bool presets = (filter & FFILTER_SHOW_PRESETS) != 0;
    const bool hidden = (filter & FFILTER_SHOW_HIDDEN) != 0;
    const bool sameName = (filter & FFILTER_SAME_NAME) != 0;
    const uint32_t bit = KeyFilterBit(keyFilterId);
    for (size_t i = 0; i < formats.size(); ++i) {
        const _KV_FORMAT& f = *formats[i];
        if (on) {
            if (f.IsPreset() && !presets)
                continue;
            if (!hidden && !(static_cast<uint32_t>(f.keyFilterMask) & bit))
                continue;
            // A preset the user has a regular copy of would show twice under one name.
            if (f.IsPreset() && !sameName && f.name.size() > 1 && f.name[0] == L'\n' &&
                byName.count(f.name.substr(1)) != 0)
                continue;
        }
        view.push_back(static_cast<int>(i));
    }
    return view;
}

uint32_t ChosenFormatId(const CTransferDoc& doc, uint32_t keyFilterId)
{
    if (keyFilterId == 0)
        return doc.defaultId;
    for (const KeyFilter& filter : doc.GetKeyFilters())
        if (filter.id == keyFilterId)
            return filter.formatId;
    return 0;
}

bool SortFormats(std::vector<KvFormatPtr>& formats, int key, uint32_t chosenId, uint32_t keyFilterId,
                 const _KEY_NUMBER& lastKey)
{
    const int column = std::abs(key) - 1;
    if (column == FCOL_NUMBER || column < 0 || column >= FCOL_COUNT)
        return false;
    if (column == FCOL_LAST_KEY)
        for (const KvFormatPtr& f : formats)
            f->UpdateSample(lastKey);
    const uint32_t bit = KeyFilterBit(keyFilterId);
    // -1, 0, 1 in ascending order.
    auto compare = [&](const _KV_FORMAT& a, const _KV_FORMAT& b) -> int {
        auto three = [](const auto& x, const auto& y) { return x < y ? -1 : y < x ? 1 : 0; };
        switch (column) {
        case FCOL_CHOICE: return three(a.id == chosenId, b.id == chosenId);
        case FCOL_ID: return three(a.id, b.id);
        case FCOL_NAME: return three(a.name, b.name);
        case FCOL_TEMPLATE: return three(a.templ, b.templ);
        case FCOL_PARAMS: return three(a.params, b.params);
        case FCOL_COMMENT: return three(a.comment, b.comment);
        case FCOL_LAST_KEY: return three(a.sampleText, b.sampleText);
        default: return three((static_cast<uint32_t>(a.keyFilterMask) & bit) != 0,
                              (static_cast<uint32_t>(b.keyFilterMask) & bit) != 0);
        }
    };
    const bool ascending = key > 0;
    std::stable_sort(formats.begin(), formats.end(), [&](const KvFormatPtr& a, const KvFormatPtr& b) {
        // Regular formats stay above the presets whichever way names are sorted.
        if (column == FCOL_NAME && a->IsPreset() != b->IsPreset())
            return !a->IsPreset();
        const int c = compare(*a, *b);
        return ascending ? c < 0 : c > 0;
    });
    return true;
}

bool MoveFormatRows(std::vector<KvFormatPtr>& formats, const std::vector<int>& view, const std::vector<int>& rows,
                    int drop)
{
    if (rows.empty())
        return false;
    if (std::find(rows.begin(), rows.end(), drop) != rows.end())
        return false;
    std::vector<KvFormatPtr> block;
    for (int row : rows)
        if (row >= 0 && row < static_cast<int>(view.size()))
            block.push_back(formats[view[row]]);
    // The format the block goes before, unless the drop lies past the view.
    KvFormatPtr before;
    for (int row = drop; row >= 0 && row < static_cast<int>(view.size()); ++row) {
        const KvFormatPtr& f = formats[view[row]];
        if (std::find(block.begin(), block.end(), f) == block.end()) {
            before = f;
            break;
        }
    }
    std::vector<KvFormatPtr> rest;
    for (const KvFormatPtr& f : formats)
        if (std::find(block.begin(), block.end(), f) == block.end())
            rest.push_back(f);
    auto at = before ? std::find(rest.begin(), rest.end(), before) : rest.end();
    rest.insert(at, block.begin(), block.end());
    if (rest == formats)
        return false;
    formats = std::move(rest);
    return true;
}
