// Formats and key filters of the transfer document: the list and its two maps, ids, the
// format a key gets, editing with change hints, and unique names.
#include <algorithm>
#include <functional>
#include "config/TransferDoc.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "resources/resource.h"

namespace {

bool HoldsKeyType(uint32_t keyTypes, int32_t keyType)
{
    return keyType >= 0 && keyType < 32 && ((keyTypes >> keyType) & 1u) != 0;
}

// " (n)" at the end of a name, n at most 0x7FFFFFFE: true with n and the blank's position.
bool ReadNumberSuffix(const std::wstring& name, uint32_t& number, size_t& blank)
{
    blank = name.rfind(L' ');
    if (blank == std::wstring::npos || name.size() < blank + 4 || name[blank + 1] != L'(' || name.back() != L')')
        return false;
    uint64_t value = 0;
    for (size_t i = blank + 2; i + 1 < name.size(); ++i) {
        const wchar_t c = name[i];
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - L'0');
        if (value > 0x7FFFFFFE)
            return false;
    }
    number = static_cast<uint32_t>(value);
    return true;
}

bool MakeUniqueNameWith(const std::function<bool(const std::wstring&)>& taken, const wchar_t* baseName,
                        UINT defaultBaseId, std::wstring& out)
{
    std::wstring base;
    if (baseName && *baseName)
        base = baseName;
    else
        LoadResString(defaultBaseId, base);

    uint32_t start = 2;
    uint32_t number = 0;
    size_t blank = 0;
    if (ReadNumberSuffix(base, number, blank)) {
        base.resize(blank);
        start = number + 1;
    }
    if (!taken(base)) {
        out = base;
        return true;
    }
    auto numbered = [&base](uint32_t n) { return base + L" (" + std::to_wstring(n) + L")"; };
    for (uint32_t n = start;; ++n) {
        std::wstring name = numbered(n);
        if (!taken(name)) {
            out = std::move(name);
            return true;
        }
        if (n == 0xFFFFFFFE)
            break;
    }
    for (uint32_t n = 2; n < start; ++n) {
        std::wstring name = numbered(n);
        if (!taken(name)) {
            out = std::move(name);
            return true;
        }
    }
    return false;
}

}  // namespace

KvFormatPtr CTransferDoc::FindFormatById(uint32_t id) const
{
    auto it = m_formatsById.find(id);
    return it == m_formatsById.end() ? nullptr : it->second;
}

int CTransferDoc::FindFormatByName(const std::wstring& name) const
{
    for (size_t i = 0; i < m_formats.size(); ++i) {
        const std::wstring& other = m_formats[i]->name;
        if (CompareStringOrdinal(other.c_str(), static_cast<int>(other.size()), name.c_str(),
                                 static_cast<int>(name.size()), TRUE) == CSTR_EQUAL)
            return static_cast<int>(i);
    }
    return -1;
}

int FindKeyFilterForKey(const std::vector<KeyFilter>& filters, int32_t keyType, int keySize)
{
    for (size_t i = 0; i < filters.size(); ++i) {
        const KeyFilter& filter = filters[i];
        if (HoldsKeyType(filter.keyTypes, keyType) && (filter.keySize == 0 || filter.keySize == keySize))
            return static_cast<int>(i);
    }
    return -1;
}

KvFormatPtr CTransferDoc::FindFormatForKey(int32_t keyType, int keySize) const
{
    uint32_t id = 0;
    const int index = FindKeyFilterForKey(m_keyFilters, keyType, keySize);
    if (index >= 0)
        id = m_keyFilters[index].formatId;
    if (id == 0)
        id = defaultId;
    // A filter naming a deleted format gives none: falling back to the default would send
    // the key out in a form the user did not choose for it.
    return id == 0 ? nullptr : FindFormatById(id);
}

uint32_t CTransferDoc::NextFormatId()
{
    const uint32_t start = newId;
    // Upward from newId; each id tried moves newId past it.
    if (start != 0xFFFFFFFF) {
        for (uint32_t id = start; id <= 0xFFFFFFFE; ++id) {
            newId = id + 1;
            if (m_formatsById.find(id) == m_formatsById.end())
                return id;
            if (id == 0xFFFFFFFE)
                break;
        }
    }
    // Range used up: wrap to the first user id and search below where we started.
    newId = kFirstFormatId;
    const uint32_t limit = std::max(start, kFirstFormatId);
    for (uint32_t id = kFirstFormatId; id < limit; ++id) {
        newId = id + 1;
        if (m_formatsById.find(id) == m_formatsById.end())
            return id;
    }
    return 0;
}

void CTransferDoc::EraseFormatFromMaps(const KvFormatPtr& format)
{
    auto byId = m_formatsById.find(format->id);
    if (byId != m_formatsById.end() && byId->second == format)
        m_formatsById.erase(byId);
    auto byName = m_formatsByName.find(format->name);
    if (byName != m_formatsByName.end() && byName->second == format)
        m_formatsByName.erase(byName);
}

size_t CTransferDoc::PlaceFormat(size_t index, const _KV_FORMAT& format)
{
    // Key filters and the default format refer to formats by id, and the name map and the
    // formats page by name: both must stay unique.
    if (format.id != 0 && m_formatsById.count(format.id) != 0)
        throw CComException(E_INVALIDARG);
    if (m_formatsByName.count(format.name) != 0)
        throw CComException(KV_E_FORMAT_NAME_EXISTS);
    auto copy = std::make_shared<_KV_FORMAT>(format);
    if (copy->id == 0)
        copy->id = NextFormatId();
    if (copy->id == 0)
        throw CComException(KV_E_INDEX_RANGE);

    index = std::min(index, m_formats.size());
    CDocUpdateScope scope(*this, GetCurrentSender());
    try {
        m_formatsById.emplace(copy->id, copy);
        m_formatsByName.emplace(copy->name, copy);
        m_formats.insert(m_formats.begin() + static_cast<std::ptrdiff_t>(index), copy);
    } catch (...) {
        EraseFormatFromMaps(copy);
        throw;
    }
    FormatListChanged(TDL_ADDED);
    return index;
}

size_t CTransferDoc::AddFormat(const _KV_FORMAT& format)
{
    return PlaceFormat(m_formats.size(), format);
}

size_t CTransferDoc::InsertFormat(size_t index, const _KV_FORMAT& format)
{
    return PlaceFormat(index, format);
}

bool CTransferDoc::UpdateFormat(uint32_t fields, const _KV_FORMAT& source, const KvFormatPtr& target)
{
    uint32_t changed = 0;
    if ((fields & KVF_FIELD_NAME) && source.name != target->name)
        changed |= KVF_FIELD_NAME;
    if ((fields & KVF_FIELD_TEMPLATE) && source.templ != target->templ)
        changed |= KVF_FIELD_TEMPLATE;
    if ((fields & KVF_FIELD_PARAMS) && source.params != target->params)
        changed |= KVF_FIELD_PARAMS;
    if ((fields & KVF_FIELD_COMMENT) && source.comment != target->comment)
        changed |= KVF_FIELD_COMMENT;
    if ((fields & KVF_FIELD_KEYFILTERS) && source.keyFilterMask != target->keyFilterMask)
        changed |= KVF_FIELD_KEYFILTERS;
    if (changed == 0)
        return false;

    CDocUpdateScope scope(*this, GetCurrentSender());
    if (changed & KVF_FIELD_NAME) {
        auto holder = m_formatsByName.find(source.name);
        if (holder != m_formatsByName.end() && holder->second != target)
            throw CComException(KV_E_FORMAT_NAME_EXISTS);
        m_formatsByName.emplace(source.name, target);
        auto old = m_formatsByName.find(target->name);
        if (old != m_formatsByName.end() && old->second == target)
            m_formatsByName.erase(old);
        target->name = source.name;
    }
    if (changed & KVF_FIELD_TEMPLATE)
        target->templ = source.templ;
    if (changed & KVF_FIELD_PARAMS)
        target->params = source.params;
    if (changed & KVF_FIELD_COMMENT)
        target->comment = source.comment;
    if (changed & KVF_FIELD_KEYFILTERS)
        target->keyFilterMask = source.keyFilterMask;
    if (changed & (KVF_FIELD_TEMPLATE | KVF_FIELD_PARAMS))
        target->flags &= ~KVF_SAMPLE_CURRENT;
    FormatListChanged(changed);
    return true;
}

void CTransferDoc::DeleteFormat(size_t index)
{
    if (index >= m_formats.size())
        throw CComException(KV_E_INDEX_RANGE);
    CDocUpdateScope scope(*this, GetCurrentSender());
    EraseFormatFromMaps(m_formats[index]);
    m_formats.erase(m_formats.begin() + static_cast<std::ptrdiff_t>(index));
    FormatListChanged(TDL_REMOVED);
}

void CTransferDoc::SwapFormats(size_t first, size_t second)
{
    if (first >= m_formats.size() || second >= m_formats.size())
        throw CComException(KV_E_INDEX_RANGE);
    if (first == second)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    std::swap(m_formats[first], m_formats[second]);
    FormatListChanged(TDL_ORDER);
}

size_t CTransferDoc::DeleteMarkedFormats()
{
    auto marked = [](const KvFormatPtr& format) { return (format->flags & KVF_DELETE) != 0; };
    const size_t count = static_cast<size_t>(std::count_if(m_formats.begin(), m_formats.end(), marked));
    if (count == 0)
        return 0;
    CDocUpdateScope scope(*this, GetCurrentSender());
    for (const KvFormatPtr& format : m_formats)
        if (marked(format))
            EraseFormatFromMaps(format);
    m_formats.erase(std::remove_if(m_formats.begin(), m_formats.end(), marked), m_formats.end());
    FormatListChanged(TDL_REMOVED);
    return count;
}

void CTransferDoc::KeyFiltersChanged(bool checkSelection)
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    RaiseFormatsChange(TDF_KEY_FILTERS, true);
    keyFiltersSort = 0;
    if (checkSelection && selectedKeyFilter != 0) {
        const bool present = std::any_of(m_keyFilters.begin(), m_keyFilters.end(),
                                         [this](const KeyFilter& filter) { return filter.id == selectedKeyFilter; });
        if (!present) {
            selectedKeyFilter = 0;
            RaiseFormatsChange(TDF_SELECTED_FILTER, true);
        }
    }
}

uint32_t NextKeyFilterId(const std::vector<KeyFilter>& filters, uint32_t& counter)
{
    return NextFreeKeyFilterId(
        [&filters](uint32_t id) {
            return std::any_of(filters.begin(), filters.end(), [id](const KeyFilter& filter) { return filter.id == id; });
        },
        counter);
}

bool MakeUniqueName(const FormatsByName& formats, const wchar_t* baseName, std::wstring& out)
{
    return MakeUniqueNameWith([&formats](const std::wstring& name) { return formats.count(name) != 0; }, baseName,
                              IDS_DEFAULT_FORMAT_NAME, out);
}

bool MakeUniqueKeyFilterName(const std::vector<KeyFilter>& filters, const wchar_t* baseName, std::wstring& out)
{
    return MakeUniqueNameWith(
        [&filters](const std::wstring& name) {
            return std::any_of(filters.begin(), filters.end(),
                               [&name](const KeyFilter& filter) { return filter.name == name; });
        },
        baseName, IDS_DEFAULT_FILTER_NAME, out);
}
