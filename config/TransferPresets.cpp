// The built-in presets (RCDATA "Norvane.Presets"): ready-made formats merged into the
// configuration for the interface language, and the preset key filters.
#include <algorithm>
#include "config/ConfigMembers.h"
#include "config/TransferDoc.h"
#include "core/Json.h"
#include "resources/resource.h"

namespace {

constexpr uint16_t kEnglishUs = 1033;

// The "presets" object of the resource; false when the resource is missing, damaged or
// has none, so that nothing of the configuration is touched.
bool LoadPresetsObject(CMemJson& json, const JsonValue*& presets)
{
    try {
        if (!json.LoadFromResource(IDR_PRESETS))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    presets = json.Root.FindMember(L"presets", JSON_OBJECT);
    return presets != nullptr;
}

bool SameKeyFilters(const std::vector<KeyFilter>& a, const std::vector<KeyFilter>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const KeyFilter& x, const KeyFilter& y) {
        return x.id == y.id && x.name == y.name && x.keyTypes == y.keyTypes && x.keySize == y.keySize &&
               x.flags == y.flags && x.formatId == y.formatId;
    });
}

// The preset key filters, numbered by position from 1; false without a list.
bool ReadPresetKeyFilters(const JsonValue& presets, std::vector<KeyFilter>& filters)
{
    const JsonArray* list = cfg::FindArray(&presets, L"keyFilters");
    if (!list)
        return false;
    filters.clear();
    for (const JsonValue& element : *list) {
        // Ids are bits of a format's mask: a longer list (a language library's) stops there.
        if (filters.size() >= kLastKeyFilterId)
            break;
        KeyFilter filter;
        if (!cfg::ReadString(&element, L"name", filter.name) || filter.name.empty())
            continue;
        filter.id = static_cast<uint32_t>(filters.size() + 1);
        filter.flags = KEYFILTER_VISIBLE;
        filter.formatId = 0;
        cfg::ReadUInt32(&element, L"keyTypes", filter.keyTypes);
        cfg::ReadInt32(&element, L"keySize", filter.keySize);
        filters.push_back(std::move(filter));
    }
    return true;
}

// One preset format of the resource: flagged as a preset, its name led by a line feed.
_KV_FORMAT ReadPresetFormat(const JsonValue& element)
{
    _KV_FORMAT format;
    format.flags = KVF_PRESET;
    cfg::ReadUInt32(&element, L"id", format.id);
    cfg::ReadString(&element, L"name", format.name);
    cfg::ReadString(&element, L"template", format.templ);
    cfg::ReadString(&element, L"params", format.params);
    cfg::ReadString(&element, L"comment", format.comment);
    format.keyFilterMask = -1;
    cfg::ReadInt32(&element, L"keyFilters", format.keyFilterMask);
    format.name.insert(0, 1, L'\n');
    return format;
}

}  // namespace

uint16_t GetPresetsLanguage()
{
    if (!FindResourceW(GetResourceModule(), MAKEINTRESOURCEW(IDR_PRESETS), RT_RCDATA))
        return kEnglishUs;
    using GetLanguageFn = LANGID(WINAPI*)();
    FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadUILanguage");
    if (proc) {
        if (LANGID language = reinterpret_cast<GetLanguageFn>(reinterpret_cast<void*>(proc))())
            return language;
    }
    return LANGIDFROMLCID(GetThreadLocale());
}

// The name goes to the keeper; a format that bore it so far gets a unique one. Only the
// merge needs this: presets may trade names between versions of the resource.
void CTransferDoc::GiveUpName(const std::wstring& name, const KvFormatPtr& keeper)
{
    auto holder = m_formatsByName.find(name);
    if (holder == m_formatsByName.end() || holder->second == keeper)
        return;
    KvFormatPtr other = holder->second;
    std::wstring unique;
    if (!MakeUniqueName(m_formatsByName, name.c_str(), unique))
        return;
    _KV_FORMAT renamed;
    renamed.name = unique;
    UpdateFormat(KVF_FIELD_NAME, renamed, other);
}

// Gives a format the next free user id, so that a preset can take its id; the key filters
// and the default that named it follow it.
bool CTransferDoc::RenumberFormat(const KvFormatPtr& format)
{
    const uint32_t oldId = format->id;
    const uint32_t id = NextFormatId();
    if (id == 0)
        return false;
    m_formatsById.emplace(id, format);
    m_formatsById.erase(oldId);
    format->id = id;
    bool filtersChanged = false;
    for (KeyFilter& filter : m_keyFilters) {
        if (filter.formatId == oldId) {
            filter.formatId = id;
            filtersChanged = true;
        }
    }
    if (filtersChanged)
        RaiseFormatsChange(TDF_KEY_FILTERS, true);
    if (defaultId == oldId) {
        defaultId = id;
        RaiseFormatsChange(TDF_DEFAULT_ID, true);
    }
    FormatListChanged(TDL_ADDED);
    return true;
}

void CTransferDoc::MergePresetFormats(const JsonValue& presets, uint16_t language)
{
    const JsonArray* list = cfg::FindArray(&presets, L"formats");
    if (!list)
        return;
    for (const KvFormatPtr& format : m_formats)
        if (format->IsPreset())
            format->flags |= KVF_DELETE;

    for (const JsonValue& element : *list) {
        if (element.GetType() != JSON_OBJECT)
            continue;
        _KV_FORMAT preset = ReadPresetFormat(element);
        if (preset.id == 0)
            continue;
        KvFormatPtr existing = FindFormatById(preset.id);
        // A user's own format never becomes a preset: it moves to an id of its own.
        if (existing && !existing->IsPreset()) {
            if (!RenumberFormat(existing))
                continue;
            existing = nullptr;
        }
        GiveUpName(preset.name, existing);
        if (!existing) {
            AddFormat(preset);
            continue;
        }
        existing->flags &= ~KVF_DELETE;
        // The user's comment and key-filter choice of a preset stay.
        UpdateFormat(KVF_FIELD_NAME | KVF_FIELD_TEMPLATE | KVF_FIELD_PARAMS, preset, existing);
    }
    DeleteMarkedFormats();

    if (presetsVersion != kPresetsVersion || presetsLanguage != language) {
        presetsVersion = kPresetsVersion;
        presetsLanguage = language;
        RaiseFormatsChange(TDF_PRESETS, true);
    }
}

void CTransferDoc::LoadPresets(bool withKeyFilters)
{
    const uint16_t language = GetPresetsLanguage();
    const bool current = presetsVersion >= kPresetsVersion && presetsLanguage == language;
    if (current && !withKeyFilters)
        return;
    CMemJson json;
    const JsonValue* presets = nullptr;
    if (!LoadPresetsObject(json, presets))
        return;

    CDocUpdateScope scope(*this, GetCurrentSender());
    if (!current)
        MergePresetFormats(*presets, language);
    std::vector<KeyFilter> filters;
    if (withKeyFilters && ReadPresetKeyFilters(*presets, filters)) {
        keyFilterNewId = static_cast<uint32_t>(filters.size() + 1);
        // Observers hear of it only when the list is not the preset one already, so a
        // repeated merge stays silent.
        if (!SameKeyFilters(filters, m_keyFilters)) {
            m_keyFilters = std::move(filters);
            RaiseFormatsChange(TDF_KEY_FILTERS, false);
        }
    }
}

bool ParsePresetKeyFilters(const JsonValue& presets, std::vector<KeyFilter>& filters)
{
    return ReadPresetKeyFilters(presets, filters);
}

bool LoadPresetKeyFilters(std::vector<KeyFilter>& filters)
{
    CMemJson json;
    const JsonValue* presets = nullptr;
    return LoadPresetsObject(json, presets) && ReadPresetKeyFilters(*presets, filters);
}

void CTransferDoc::ResetKeyFiltersToPresets()
{
    CMemJson json;
    const JsonValue* presets = nullptr;
    if (!LoadPresetsObject(json, presets))
        return;
    std::vector<KeyFilter> filters;
    if (!ReadPresetKeyFilters(*presets, filters))
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_keyFilters = std::move(filters);
    keyFilterNewId = static_cast<uint32_t>(m_keyFilters.size() + 1);
    RaiseFormatsChange(TDF_KEY_FILTERS, false);
}
