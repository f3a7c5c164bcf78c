#include "pages/source/KeyListData.h"

#include <algorithm>

#include "config/TransferDoc.h"
#include "core/TextUtil.h"
#include "resources/resource.h"

namespace {

// Sorting kind of a key in the "Number" column.
int ViewKind(int viewForm, int keyType)
{
    if (viewForm != 0)
        return viewForm;
    return keyType == 1 ? 1 : keyType == 2 ? 3 : 4;
}

int Low16(const _KEY_NUMBER& key)
{
    return key.bytes[0] | (key.bytes[1] << 8);
}

int CompareTexts(const std::wstring& a, const std::wstring& b)
{
    // Code unit by code unit, the shorter first on an equal prefix.
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

std::wstring FormatNameText(const std::wstring& name)
{
    if (name.empty() || name[0] != L'\n')
        return name;
    std::wstring prefix;
    LoadResString(IDS_PRESET_PREFIX, prefix);
    return prefix + name.substr(1);
}

} // namespace

int CompareKeysForView(const _KV_KEY& a, const _KV_KEY& b, int viewForm, int sortKey)
{
    const int kindA = ViewKind(viewForm, a.keyType);
    const int kindB = ViewKind(viewForm, b.keyType);
    int diff = kindA - kindB;
    if (diff == 0) {
        if (kindA == 1)
            diff = a.keyNumber.bytes[2] - b.keyNumber.bytes[2];
        if (diff == 0 && (kindA == 1 || kindA == 4))
            diff = Low16(a.keyNumber) - Low16(b.keyNumber);
        if (diff == 0)
            diff = CompareKeys(a.keyNumber, b.keyNumber);
    }
    return sortKey > 0 ? diff : -diff;
}

const std::wstring& KeyFormatName(CTransferDoc& doc, _KV_KEY& key)
{
    if (!(key.flags & KVKEY_FORMAT_NAME_CURRENT)) {
        const KvFormatPtr format = doc.FindFormatForKey(key.keyType, key.keyNumber.length);
        key.text = format ? format->name : std::wstring();
        key.flags |= KVKEY_FORMAT_NAME_CURRENT;
    }
    return key.text;
}

void SortKeyList(std::vector<KvKeyPtr>& keys, CTransferDoc& doc, int sortKey, int viewForm)
{
    const int column = std::abs(sortKey) - 1;
    if (column <= 0 || column >= 6)
        return;
    const bool ascending = sortKey > 0;
    // Texts are made once, not at every comparison.
    if (column == 4) {
        for (const KvKeyPtr& key : keys)
            KeyFormatName(doc, *key);
    } else if (column == 5) {
        for (const KvKeyPtr& key : keys)
            doc.UpdateKeyText(*key);
    }
    auto difference = [&](const _KV_KEY& a, const _KV_KEY& b) {
        switch (column) {
        case 1: return a.keyType - b.keyType;
        case 2: return CompareKeysForView(a, b, viewForm, 1);
        case 3: return a.keyNumber.length - b.keyNumber.length;
        case 4: return CompareTexts(a.text, b.text);
        default: return CompareTexts(a.outputText, b.outputText);
        }
    };
    std::sort(keys.begin(), keys.end(), [&](const KvKeyPtr& a, const KvKeyPtr& b) {
        const int d = difference(*a, *b);
        return ascending ? d < 0 : d > 0;
    });
}

bool MoveKeysBefore(std::vector<KvKeyPtr>& keys, const std::vector<size_t>& chosen, size_t target)
{
    if (chosen.empty())
        return false;
    std::vector<size_t> sorted = chosen;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    if (sorted.back() >= keys.size())
        return false;
    target = std::min(target, keys.size());
    const bool oneBlock = sorted.back() - sorted.front() + 1 == sorted.size();
    if (oneBlock && target >= sorted.front() && target <= sorted.back() + 1)
        return false;

    std::vector<bool> taken(keys.size(), false);
    std::vector<KvKeyPtr> moving;
    for (size_t i : sorted) {
        taken[i] = true;
        moving.push_back(keys[i]);
    }
    std::vector<KvKeyPtr> result;
    result.reserve(keys.size());
    for (size_t i = 0; i <= keys.size(); ++i) {
        if (i == target)
            result.insert(result.end(), moving.begin(), moving.end());
        if (i < keys.size() && !taken[i])
            result.push_back(keys[i]);
    }
    keys.swap(result);
    return true;
}

// ---- CKeyListLvData ----

CKeyListLvData::CKeyListLvData(CTransferDoc& doc, const std::array<std::wstring, 22>& typeNames)
    : m_doc(doc), m_typeNames(typeNames)
{
}

int CKeyListLvData::GetItemCount()
{
    return static_cast<int>(m_rows.size());
}

bool CKeyListLvData::IsVisible(int column) const
{
    if (!columns || column < 0 || column >= static_cast<int>(columns->size()))
        return columns == nullptr;
    return (*columns)[static_cast<size_t>(column)].IsVisible();
}

void CKeyListLvData::RebuildRows()
{
    const std::vector<KvKeyPtr>& keys = m_doc.GetKeys();
    m_rows.clear();
    m_rows.reserve(keys.size());
    const bool filtered = (filter & KLF_ENABLED) != 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        _KV_KEY& key = *keys[i];
        if (filtered) {
            if ((key.flags & KVKEY_TRANSFERRED) && !(filter & KLF_SHOW_TRANSFERRED))
                continue;
            if (!(filter & KLF_SHOW_NO_FORMAT) && KeyFormatName(m_doc, key).empty())
                continue;
        }
        m_rows.push_back(i);
    }
}

void CKeyListLvData::Update()
{
    const uint32_t work = m_pending;
    m_pending = 0;
    if (work & KLD_ROWS) {
        RebuildRows();
        m_cache.clear();
    } else if (work & KLD_CACHE) {
        m_cache.clear();
    }
    if (work & (KLD_NOTIFY | KLD_ROWS | KLD_CACHE))
        FireEvent();
}

KvKeyPtr CKeyListLvData::EntryAt(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return nullptr;
    const std::vector<KvKeyPtr>& keys = m_doc.GetKeys();
    const size_t index = m_rows[static_cast<size_t>(row)];
    return index < keys.size() ? keys[index] : nullptr;
}

int CKeyListLvData::RowOf(const _KV_KEY* entry) const
{
    const std::vector<KvKeyPtr>& keys = m_doc.GetKeys();
    for (size_t row = 0; row < m_rows.size(); ++row)
        if (m_rows[row] < keys.size() && keys[m_rows[row]].get() == entry)
            return static_cast<int>(row);
    return -1;
}

std::wstring CKeyListLvData::ComputeText(size_t index, int row, int column)
{
    const std::vector<KvKeyPtr>& keys = m_doc.GetKeys();
    if (index >= keys.size())
        return {};
    _KV_KEY& key = *keys[index];
    std::wstring text;
    switch (column) {
    case 0:
        return std::to_wstring(row + 1);
    case 1:
        return key.keyType >= 0 && key.keyType < 22 ? m_typeNames[static_cast<size_t>(key.keyType)] : std::wstring();
    case 2:
        KeyToText(text, key.keyNumber, ResolveKeyViewFormat(viewForm, key.keyType));
        return text;
    case 3:
        return std::to_wstring(key.keyNumber.length);
    case 4:
        return FormatNameText(KeyFormatName(m_doc, key));
    case 5:
        m_doc.UpdateKeyText(key);
        return key.outputText;
    default:
        return {};
    }
}

void CKeyListLvData::FillCache(int from, int to)
{
    m_cache.clear();
    m_cacheFirst = from;
    const std::vector<KvKeyPtr>& keys = m_doc.GetKeys();
    for (int row = from; row <= to && row < static_cast<int>(m_rows.size()); ++row) {
        CachedRow cached;
        cached.index = m_rows[static_cast<size_t>(row)];
        cached.entry = cached.index < keys.size() ? keys[cached.index] : nullptr;
        static constexpr int kCachedColumns[4] = {0, 2, 3, 4};
        for (int i = 0; i < 4; ++i)
            if (IsVisible(kCachedColumns[i]))
                cached.texts[static_cast<size_t>(i)] = ComputeText(cached.index, row, kCachedColumns[i]);
        m_cache.push_back(std::move(cached));
    }
}

void CKeyListLvData::CacheHint(int from, int to)
{
    if (from < 0 || to < from)
        return;
    const int last = m_cacheFirst + static_cast<int>(m_cache.size()) - 1;
    if (!m_cache.empty() && from >= m_cacheFirst && to <= last)
        return;
    FillCache(from, to);
}

std::wstring CKeyListLvData::CellText(int row, int column)
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return {};
    const int slot = column == 0 ? 0 : column == 2 ? 1 : column == 3 ? 2 : column == 4 ? 3 : -1;
    const int offset = row - m_cacheFirst;
    if (slot >= 0 && offset >= 0 && offset < static_cast<int>(m_cache.size()) &&
        m_cache[static_cast<size_t>(offset)].index == m_rows[static_cast<size_t>(row)] && IsVisible(column))
        return m_cache[static_cast<size_t>(offset)].texts[static_cast<size_t>(slot)];
    return ComputeText(m_rows[static_cast<size_t>(row)], row, column);
}

void CKeyListLvData::GetDispInfo(LVITEMW* item)
{
    if (!(item->mask & LVIF_TEXT) || !item->pszText || item->cchTextMax <= 0)
        return;
    int column = item->iSubItem;
    if (visibleMap)
        column = column >= 0 && column < static_cast<int>(visibleMap->size()) ? (*visibleMap)[static_cast<size_t>(column)] : -1;
    m_text = CellText(item->iItem, column);
    const size_t room = static_cast<size_t>(item->cchTextMax) - 1;
    const size_t count = std::min(room, m_text.size());
    std::copy_n(m_text.c_str(), count, item->pszText);
    item->pszText[count] = L'\0';
}
