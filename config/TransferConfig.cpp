// The configuration part of a settings file: reading it into the transfer document and
// writing it back, member by member, with the version rules of older files.
#include "config/TransferConfig.h"
#include <algorithm>
#include <unordered_set>
#include "config/ConfigFile.h"
#include "config/ConfigMembers.h"
#include "config/SettingsGroups.h"
#include "config/TransferDoc.h"
#include "core/AppLog.h"
#include "core/TextUtil.h"

using namespace cfg;

namespace {

constexpr PackedVersion kVersion1_1 = 0x0101;
constexpr PackedVersion kVersion1_2 = 0x0201;
constexpr PackedVersion kVersion1_4 = 0x0401;
constexpr PackedVersion kVersion1_6 = 0x0601;

constexpr int64_t kLastReaderModel = 12;  // the PC/SC reader closes the model list
constexpr int64_t kLastKeyType = 21;
constexpr int kClassicKeyBytes = 6;

bool ReadRanged(const JsonValue* parent, const wchar_t* key, int64_t low, int64_t high, int64_t& out)
{
    int64_t value;
    if (!ReadInt64(parent, key, value) || value < low || value > high)
        return false;
    out = value;
    return true;
}

// Mifare Classic key as a file integer: the first key byte in the least significant byte.
int64_t PackClassicKey(const _KEY_NUMBER& key)
{
    uint64_t value = 0;
    int count = std::min<int>(key.length, 8);
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | key.bytes[i];
    return static_cast<int64_t>(value);
}

_KEY_NUMBER UnpackClassicKey(int64_t packed)
{
    uint8_t bytes[kClassicKeyBytes];
    uint64_t value = static_cast<uint64_t>(packed);
    for (uint8_t& byte : bytes) {
        byte = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
    return MakeKeyNumber(bytes, 6);
}

// Hex in key-number order (last byte first).
_KEY_NUMBER KeyFromReversedHex(const std::wstring& text)
{
    uint8_t bytes[KEY_NUMBER_MAX_BYTES] = {};
    int count = HexToBytesReversed(text.c_str(), static_cast<int>(text.size()), bytes, KEY_NUMBER_MAX_BYTES);
    return MakeKeyNumber(bytes, count);
}

// A Classic key of the old hex text. The file's integer form holds 6 key bytes, so a longer
// text keeps its first 6 (the last 12 digits) already here: the first save then reads back
// as it was read.
_KEY_NUMBER ClassicKeyFromOldText(const std::wstring& text)
{
    const _KEY_NUMBER read = KeyFromReversedHex(text);
    if (read.length <= kClassicKeyBytes)
        return read;
    const _KEY_NUMBER key = UnpackClassicKey(PackClassicKey(read));
    CAppContext* app = GetAppContext();
    if (app && app->IsLogged(LOG_THRESHOLD_WARNING)) {
        std::wstring kept;
        KeyToHex(kept, key);
        LogMessage(app, nullptr, LOG_WARNING,
                   L"Mifare Classic key %s of an old settings file has %d bytes: its first 6 bytes %s are kept.",
                   text.c_str(), static_cast<int>(read.length), kept.c_str());
    }
    return key;
}

// Hex in key order (first byte first).
_KEY_NUMBER KeyFromHex(const std::wstring& text)
{
    uint8_t bytes[KEY_NUMBER_MAX_BYTES] = {};
    int count = HexToBytes(text.c_str(), static_cast<int>(text.size()), bytes, KEY_NUMBER_MAX_BYTES);
    return MakeKeyNumber(bytes, count);
}

std::wstring KeyToForwardHex(const _KEY_NUMBER& key)
{
    wchar_t buffer[2 * KEY_NUMBER_MAX_BYTES + 1] = {};
    int length = BytesToHex(key.bytes, std::min<int>(key.length, KEY_NUMBER_MAX_BYTES), buffer,
                            static_cast<int>(std::size(buffer)));
    return std::wstring(buffer, length);
}

// One "%d" of the runtime's scanner: blanks, an optional sign, at least one digit; the value
// wraps to 32 bits.
bool ScanDecimal(const wchar_t*& p, const wchar_t* end, int32_t& out)
{
    const wchar_t* s = p;
    while (s < end && (*s == L' ' || (*s >= L'\t' && *s <= L'\r')))
        ++s;
    bool negative = false;
    if (s < end && (*s == L'+' || *s == L'-'))
        negative = *s++ == L'-';
    if (s == end || *s < L'0' || *s > L'9')
        return false;
    uint32_t value = 0;
    while (s < end && *s >= L'0' && *s <= L'9')
        value = value * 10 + static_cast<uint32_t>(*s++ - L'0');
    out = static_cast<int32_t>(negative ? 0u - value : value);
    p = s;
    return true;
}

}  // namespace

std::vector<uint32_t> ReadTemicParamsText(const std::wstring& text)
{
    std::vector<uint32_t> params;
    size_t start = 0;
    while (start <= text.size()) {
        size_t stop = text.find(L';', start);
        if (stop == std::wstring::npos)
            stop = text.size();
        const wchar_t* p = text.c_str() + start;
        const wchar_t* end = text.c_str() + stop;
        int32_t numbers[3] = {0, 0, 0};
        int count = 0;
        while (count < 3 && ScanDecimal(p, end, numbers[count])) {
            ++count;
            if (count == 3 || p == end || *p != L',')
                break;
            ++p;
        }
        if (count >= 2)
            params.push_back(PackTemicParam(static_cast<uint32_t>(numbers[0]), static_cast<uint32_t>(numbers[1]),
                                            static_cast<uint32_t>(numbers[2])));
        start = stop + 1;
    }
    return params;
}

std::wstring FormatTemicParams(const std::vector<uint32_t>& params)
{
    std::wstring text;
    for (uint32_t word : params) {
        text += std::to_wstring(word & 0xFF);
        text += L',';
        text += std::to_wstring((word >> 8) & 0xFF);
        text += L',';
        text += std::to_wstring(word >> 16);
        text += L';';
    }
    return text;
}

// Reads the configuration part, part by part; each part is set to its defaults first.
class CTransferConfigReader
{
public:
    CTransferConfigReader(CTransferDoc& doc, const JsonValue& root, PackedVersion version)
        : m_doc(doc), m_version(version), m_root(&root)
    {
    }

    bool Run()
    {
        CDocUpdateScope scope(m_doc, m_doc.GetCurrentSender());
        ReadSourceAndDestination();
        ReadReader();
        ReadKeyList();
        ReadKeyboard();
        ReadPortavo();
        ReadCmdLineAndHttp();
        ReadFormats();
        bool keyFiltersRead = ReadKeyFilters();
        if (m_doc.IsInterfaceLanguageApplied() && (m_doc.presetsVersion < kPresetsVersion || !keyFiltersRead))
            m_doc.LoadPresets(!keyFiltersRead);
        ReadCardReading();
        ReadMifareKeyLists();
        return keyFiltersRead;
    }

    // The chosen groups (CG_*) of an imported file: each from its defaults, its change raised,
    // whatever the saved parts say.
    void Import(uint32_t groups)
    {
        CDocUpdateScope scope(m_doc, m_doc.GetCurrentSender());
        m_doc.RaiseChange(0, 0, true);
        const JsonValue* transfer = FindObject(m_root, L"transfer");
        if (groups & CG_SOURCE)
            ReadSource(transfer);
        if (groups & CG_DESTINATION)
            ReadDestination(transfer);
        if (groups & CG_READER)
            ReadReader();
        if (groups & CG_KEYLIST)
            ImportKeyList();
        if (groups & CG_KEYBOARD)
            ReadKeyboard();
        if (groups & CG_PORTAVO)
            ReadPortavo();
        if (groups & CG_CMDLINE)
            ReadCmdLine();
        if (groups & CG_HTTP)
            ReadHttp();
        if (groups & CG_FORMATS)
            ImportFormats();
        const bool keyFiltersRead = (groups & CG_KEYFILTERS) == 0 || ImportKeyFilters();
        if (m_doc.presetsVersion < kPresetsVersion || !keyFiltersRead)
            m_doc.LoadPresets(!keyFiltersRead);
        if (groups & CG_READKEYS)
            ImportReadKeys();
        if (groups & CG_MIFARE_KEYS)
            ReadMifareKeyLists(true);
    }

private:
    bool AtMost(PackedVersion gate) const { return CompareVersions(m_version, gate) <= 0; }
    bool AtLeast(PackedVersion gate) const { return CompareVersions(m_version, gate) >= 0; }

    void ReadSourceAndDestination()
    {
        const JsonValue* transfer = FindObject(m_root, L"transfer");
        if (m_doc.IsSavedPart(SAVED_SOURCE))
            ReadSource(transfer);
        if (m_doc.IsSavedPart(SAVED_DESTINATION))
            ReadDestination(transfer);
    }

    void ReadSource(const JsonValue* transfer)
    {
        m_doc.RaiseChange(TDC_SOURCE, 0, false);
        m_doc.m_sourceKind = SOURCE_NONE;
        m_doc.m_sourceValue.clear();
        m_doc.m_sourceState = 0;
        std::wstring text;
        if (ReadString(transfer, L"source", text))
            ParseKindValueText(text, kSourceKindNames, 2, m_doc.m_sourceKind, m_doc.m_sourceValue);
    }

    void ReadDestination(const JsonValue* transfer)
    {
        m_doc.RaiseChange(TDC_DESTINATION, 0, false);
        m_doc.m_destType = DEST_KEYBOARD;
        m_doc.m_destText.clear();
        m_doc.m_destState = 0;
        std::wstring text;
        if (ReadString(transfer, L"destination", text))
            ParseKindValueText(text, kDestinationKindNames, 5, m_doc.m_destType, m_doc.m_destText);
    }

    void ReadReader()
    {
        m_doc.RaiseChange(TDC_READER, 0, false);
        ReaderSettings& r = m_doc.m_reader;
        r = ReaderSettings();
        const JsonValue* reader = FindObject(m_root, L"reader");
        if (!reader)
            return;
        const bool oldLayout = m_version == kVersion1_1;
        ReadFlag(reader, L"wiegand", r.flags, READER_WIEGAND);
        ReadFlag(reader, L"binary", r.flags, READER_BINARY);
        if (oldLayout) {
            bool correct;
            if (ReadBool(reader, L"correctQM100", correct))
                r.flags = correct ? r.flags & ~READER_DIFFERENT_QM100 : r.flags | READER_DIFFERENT_QM100;
        } else {
            ReadFlag(reader, L"differentQM100", r.flags, READER_DIFFERENT_QM100);
        }
        ReadFlag(reader, L"toKeylist", r.flags, READER_TO_KEYLIST);
        ReadFlag(reader, L"nvt", r.flags, READER_NVT);
        ReadFlag(reader, L"protVell4", r.flags, READER_PROT_VELL4);

        int64_t model;
        if (ReadRanged(reader, L"model", 0, kLastReaderModel, model))
            r.model = static_cast<int32_t>(model);
        ReadUInt32(reader, L"speed", r.speed);
        uint32_t stopBits;
        if (ReadUInt32(reader, L"stopBits", stopBits))
            r.stopBits = static_cast<uint8_t>(stopBits);
        ReadInt32(reader, L"connectTimeout", r.connectTimeout);
        ReadInt32(reader, L"checkInPeriod", r.checkInPeriod);
        ReadInt32(reader, L"receiveTimeout", r.receiveTimeout);
        ReadInt32(reader, L"maxTries", r.maxTries);
        ReadInt32(reader, L"connectPeriod", r.connectPeriod);

        const JsonValue* findIP = nullptr;
        if (oldLayout) {
            ReadUInt32(reader, L"searchFlags", r.searchFlags);
            findIP = FindObject(reader, L"findIP");
        } else if (const JsonValue* search = FindObject(reader, L"search")) {
            ReadFlag(search, L"stdCom", r.searchFlags, SEARCH_STD_COM);
            ReadFlag(search, L"vCom", r.searchFlags, SEARCH_VCOM);
            ReadFlag(search, L"ccid", r.searchFlags, SEARCH_CCID);
            ReadFlag(search, L"ip", r.searchFlags, SEARCH_IP);
            const JsonValue* findVCom = FindObject(search, L"findVCom");
            ReadFlag(findVCom, L"filterVidPid", r.searchFlags, SEARCH_FILTER_VIDPID);
            ReadFlag(findVCom, L"filterDesc", r.searchFlags, SEARCH_FILTER_DESC);
            findIP = FindObject(search, L"findIP");
        }
        ReadInt32(findIP, L"receiveTimeout", r.searchReceiveTimeout);
        ReadInt32(findIP, L"maxTries", r.searchMaxTries);
    }

    void ReadKeyList()
    {
        m_doc.RaiseChange(TDC_KEYLIST_TIMER | TDC_KEYLIST_NODUPS, 0, false);
        m_doc.m_details.keyList |= TDK_LOADED;
        m_doc.keyListNoDuplicates = 0;
        m_doc.keyListTimerEnabled = false;
        m_doc.keyListTimerInterval = 1000;
        const bool withKeys = m_doc.IsSavedPart(SAVED_KEYLIST);
        if (withKeys) {
            m_doc.RaiseChange(TDC_KEYLIST | TDC_KEYLIST_SORT, 0, false);
            m_doc.m_keys.clear();
            m_doc.keyListSort = 0;
        }
        const JsonValue* keyList = FindObject(m_root, L"keyList");
        if (!keyList)
            return;
        ReadFlag(keyList, L"noDuplicates", m_doc.keyListNoDuplicates, 0x1);
        const JsonValue* timer = FindObject(keyList, L"timer");
        if (ReadBool(timer, L"enabled", m_doc.keyListTimerEnabled)) {
            uint32_t interval;
            if (ReadUInt32(timer, L"interval", interval))
                m_doc.keyListTimerInterval = static_cast<int32_t>(interval);
        }
        if (!withKeys)
            return;
        ReadInt32(keyList, L"sort", m_doc.keyListSort);
        const JsonArray* keys = FindArray(keyList, L"keys");
        if (!keys)
            return;
        for (const JsonValue& element : *keys) {
            _KV_KEY key;
            if (ReadKeyElement(element, key))
                m_doc.m_keys.push_back(std::make_shared<_KV_KEY>(std::move(key)));
        }
    }

    // False for an element without a key number.
    static bool ReadKeyElement(const JsonValue& element, _KV_KEY& key)
    {
        int64_t keyType;
        if (ReadRanged(&element, L"keyType", 0, kLastKeyType, keyType))
            key.keyType = static_cast<int32_t>(keyType);
        std::wstring number;
        if (ReadString(&element, L"keyNumber", number))
            key.keyNumber = KeyFromReversedHex(number);
        return key.keyNumber.length != 0;
    }

    // The keys go in through the document's add operation; the sort comes last, since adding
    // a key resets it.
    void ImportKeyList()
    {
        m_doc.RaiseChange(TDC_KEYLIST | TDC_KEYLIST_SORT | TDC_KEYLIST_TIMER | TDC_KEYLIST_NODUPS, 0, false);
        m_doc.keyListNoDuplicates = 0;
        m_doc.keyListTimerEnabled = false;
        m_doc.keyListTimerInterval = 1000;
        if (!m_doc.m_keys.empty()) {
            m_doc.m_keys.clear();
            m_doc.RaiseKeyListChange(TDK_REMOVED, false);
        }
        m_doc.keyListSort = 0;
        const JsonValue* keyList = FindObject(m_root, L"keyList");
        if (!keyList)
            return;
        ReadFlag(keyList, L"noDuplicates", m_doc.keyListNoDuplicates, 0x1);
        const JsonValue* timer = FindObject(keyList, L"timer");
        if (ReadBool(timer, L"enabled", m_doc.keyListTimerEnabled)) {
            uint32_t interval;
            if (ReadUInt32(timer, L"interval", interval))
                m_doc.keyListTimerInterval = static_cast<int32_t>(interval);
        }
        if (const JsonArray* keys = FindArray(keyList, L"keys")) {
            for (const JsonValue& element : *keys) {
                _KV_KEY key;
                if (ReadKeyElement(element, key))
                    m_doc.AddKey(key);
            }
        }
        ReadInt32(keyList, L"sort", m_doc.keyListSort);
    }

    void ReadKeyboard()
    {
        m_doc.RaiseChange(TDC_KEYBOARD, 0, false);
        _TRANS_DST_KEYBOARD& k = m_doc.Keyboard();
        k.SetDefaults();
        const JsonValue* keyboard = FindObject(m_root, L"keyboard");
        if (!keyboard)
            return;
        int64_t method;
        if (ReadRanged(keyboard, L"method", KEYBOARD_METHOD_KEYSTROKES, KEYBOARD_METHOD_LIBRARY, method))
            k.method = static_cast<int32_t>(method);
        if (ReadUInt32(keyboard, L"afterActivateDelay", k.afterActivateDelay) &&
            ReadUInt32(keyboard, L"afterPressDelay", k.afterPressDelay))
            ReadUInt32(keyboard, L"afterReleaseDelay", k.afterReleaseDelay);
        ReadBool(keyboard, L"startAdmin", k.startAdmin);
        if (ReadBool(keyboard, L"enabled", k.filterEnabled) && ReadString(keyboard, L"class", k.filterClass) &&
            ReadString(keyboard, L"title", k.filterTitle))
            ReadString(keyboard, L"file", k.filterFile);
    }

    void ReadPortavo()
    {
        m_doc.RaiseChange(TDC_PORTAVO, 0, false);
        _TRANS_DST_PORTAVO& p = m_doc.Portavo();
        p.SetDefaults();
        const JsonValue* portavo = FindObject(m_root, L"portavo");
        if (!portavo)
            return;
        int64_t value;
        if (ReadRanged(portavo, L"type", PORTAVO_OFF, PORTAVO_SERVER, value))
            p.mode = static_cast<int32_t>(value);
        ReadBool(portavo, L"nvt", p.nvt);
        if (ReadString(portavo, L"address", p.address)) {
            uint32_t period;
            if (ReadUInt32(portavo, L"connectPeriod", period))
                p.connectPeriod = static_cast<int32_t>(period);
        }
        if (ReadRanged(portavo, L"port", 1, 65534, value))
            p.port = static_cast<uint16_t>(value);
        if (ReadInt32(portavo, L"maxConnections", p.maxConnections))
            p.maxConnections = ClampMaxConnections(p.maxConnections);
    }

    void ReadCmdLineAndHttp()
    {
        ReadCmdLine();
        ReadHttp();
    }

    void ReadCmdLine()
    {
        m_doc.RaiseChange(TDC_CMDLINE, 0, false);
        _TRANS_DST_CMDLINE& c = m_doc.CmdLine();
        c.SetDefaults();
        const JsonValue* cmdline = FindObject(m_root, L"cmdline");
        ReadString(cmdline, L"program", c.program);
        ReadString(cmdline, L"arguments", c.arguments);
        ReadString(cmdline, L"initialDir", c.initialDir);
    }

    void ReadHttp()
    {
        m_doc.RaiseChange(TDC_HTTP, 0, false);
        _TRANS_DST_HTTPREQUEST& h = m_doc.HttpRequest();
        h.SetDefaults();
        ReadString(FindObject(m_root, L"httpRequest"), L"address", h.address);
    }

    void ReadFormats()
    {
        m_doc.RaiseFormatsChange(TDF_FORMAT_LIST | TDF_PRESETS | TDF_FORMATS_SORT | TDF_DEFAULT_ID, false);
        m_doc.m_details.formatList |= TDL_LOADED;
        m_doc.presetsVersion = 0;
        m_doc.presetsLanguage = 0;
        m_doc.ClearFormats();
        m_doc.newId = kFirstFormatId;
        m_doc.defaultId = 0;
        m_doc.formatsSort = 0;
        const JsonValue* formats = FindObject(m_root, L"formats");
        if (!formats)
            return;
        const JsonValue* presets = FindObject(formats, L"presets");
        ReadUInt32(presets, L"version", m_doc.presetsVersion);
        uint32_t language;
        if (ReadUInt32(presets, L"language", language))
            m_doc.presetsLanguage = static_cast<uint16_t>(language);
        ReadUInt32(formats, L"newId", m_doc.newId);
        ReadUInt32(formats, L"defaultId", m_doc.defaultId);
        ReadInt32(formats, L"sort", m_doc.formatsSort);
        if (const JsonArray* list = FindArray(formats, L"formats"))
            ReadFormatList(*list);
    }

    // The formats "sort", "defaultId" and "newId" keep their values unless the file holds them;
    // the presets stamp comes only with a list of formats.
    void ImportFormats()
    {
        m_doc.RaiseFormatsChange(TDF_FORMAT_LIST | TDF_PRESETS | TDF_FORMATS_SORT | TDF_DEFAULT_ID, false);
        m_doc.m_details.formatList |= TDL_LOADED;
        m_doc.ClearFormats();
        m_doc.formatsSort = 0;
        m_doc.presetsVersion = 0;
        m_doc.presetsLanguage = 0;
        const JsonValue* formats = FindObject(m_root, L"formats");
        ReadInt32(formats, L"sort", m_doc.formatsSort);
        ReadUInt32(formats, L"defaultId", m_doc.defaultId);
        ReadUInt32(formats, L"newId", m_doc.newId);
        const JsonArray* list = FindArray(formats, L"formats");
        if (!list)
            return;
        const JsonValue* presets = FindObject(formats, L"presets");
        ReadUInt32(presets, L"version", m_doc.presetsVersion);
        uint32_t language;
        if (ReadUInt32(presets, L"language", language))
            m_doc.presetsLanguage = static_cast<uint16_t>(language);
        ReadFormatList(*list);
    }

    void ReadFormatList(const JsonArray& list)
    {
        for (const JsonValue& element : list) {
            auto format = std::make_shared<_KV_FORMAT>();
            ReadUInt32(&element, L"id", format->id);
            bool preset = false;
            if (ReadBool(&element, L"preset", preset) && preset)
                format->flags |= KVF_PRESET;
            ReadString(&element, L"name", format->name);
            ReadString(&element, L"template", format->templ);
            ReadString(&element, L"params", format->params);
            ReadString(&element, L"comment", format->comment);
            uint32_t mask;
            if (ReadUInt32(&element, L"keyFilters", mask))
                format->keyFilterMask = static_cast<int32_t>(mask);
            if (format->id == 0 || format->name.empty())
                continue;
            // Key filters and the default format refer to formats by id: a repeated id
            // would make them ambiguous, so the first format with an id keeps it.
            if (m_doc.m_formatsById.count(format->id) != 0)
                continue;
            if (preset)
                format->name.insert(0, 1, L'\n');
            // Names are unique too (the name map holds every format): a repeated one is
            // numbered rather than dropped, so the user's format survives the load.
            if (m_doc.m_formatsByName.count(format->name) != 0) {
                std::wstring unique;
                if (!MakeUniqueName(m_doc.m_formatsByName, format->name.c_str(), unique))
                    continue;
                format->name = std::move(unique);
            }
            m_doc.m_formatsById.emplace(format->id, format);
            m_doc.m_formatsByName.emplace(format->name, format);
            m_doc.m_formats.push_back(std::move(format));
        }
    }

    // The id counter ends where the reading left it, as it does after the old layout, the
    // presets and an import: the "newId" a save writes is the one the next load gives back.
    bool ReadKeyFilters()
    {
        if (!AtLeast(kVersion1_4))
            return false;
        ClearKeyFilters();
        return ReadKeyFilterObject(FindObject(m_root, L"keyFilters"));
    }

    void ClearKeyFilters()
    {
        m_doc.RaiseFormatsChange(TDF_KEY_FILTERS | TDF_SELECTED_FILTER | TDF_KEY_FILTERS_SORT, false);
        m_doc.selectedKeyFilter = 0;
        m_doc.m_keyFilters.clear();
        m_doc.keyFiltersSort = 0;
        m_doc.keyFilterNewId = 1;
    }

    // Files older than 1.4 kept the key filters under "ui" "formatFilters", numbered by their
    // order. False when the file holds neither.
    bool ImportKeyFilters()
    {
        ClearKeyFilters();
        if (AtLeast(kVersion1_4))
            return ReadKeyFilterObject(FindObject(m_root, L"keyFilters"));
        const JsonValue* page = FindObject(FindObject(m_root, L"ui"), L"formatFilters");
        const JsonArray* list = FindArray(page, L"formatFilters");
        if (!list)
            return false;
        for (const JsonValue& element : *list) {
            if (element.GetType() != JSON_OBJECT || m_doc.m_keyFilters.size() >= kLastKeyFilterId)
                continue;
            KeyFilter filter;
            ReadKeyFilterElement(element, filter);
            filter.id = static_cast<uint32_t>(m_doc.m_keyFilters.size() + 1);
            m_doc.m_keyFilters.push_back(std::move(filter));
        }
        m_doc.keyFilterNewId = static_cast<uint32_t>(m_doc.m_keyFilters.size() + 1);
        ReadInt32(page, L"sort", m_doc.keyFiltersSort);
        return true;
    }

    // "newId" seeds the id counter, which ends where the numbering left it.
    bool ReadKeyFilterObject(const JsonValue* keyFilters)
    {
        if (!keyFilters)
            return false;
        uint32_t counter = 1;
        ReadUInt32(keyFilters, L"newId", counter);
        if (const JsonArray* list = FindArray(keyFilters, L"keyFilters")) {
            std::unordered_set<uint32_t> used;
            for (const JsonValue& element : *list) {
                // Something other than an object is no filter; it would only show as an
                // empty one that matches nothing.
                if (element.GetType() != JSON_OBJECT)
                    continue;
                KeyFilter filter;
                ReadKeyFilterElement(element, filter);
                // A repeated id would make two filters one for the formats that list them:
                // the later one is numbered anew.
                if (filter.id == 0 || used.count(filter.id) != 0)
                    filter.id = NextFreeKeyFilterId([&used](uint32_t id) { return used.count(id) != 0; }, counter);
                if (filter.id == 0)
                    continue;
                used.insert(filter.id);
                m_doc.m_keyFilters.push_back(std::move(filter));
            }
        }
        m_doc.keyFilterNewId = counter;
        ReadInt32(keyFilters, L"sort", m_doc.keyFiltersSort);
        return true;
    }

    void ReadMifareSettings(const JsonValue* object, MifareReadSettings& m, bool plus)
    {
        if (!object)
            return;
        ReadBool(object, L"enabled", m.enabled);
        ReadFlag(object, L"keyB", m.flags, MIFARE_KEY_B);
        ReadFlag(object, L"byMask", m.flags, MIFARE_BY_MASK);
        ReadUInt32(object, L"mask", m.mask);
        ReadClassicOrPlusKey(object, L"key", m.key, plus);
        ReadInt32(object, L"sector", m.sector);
        ReadInt32(object, L"block", m.block);
    }

    // One stored authorization key; false (key untouched) for a missing or mistyped member.
    bool ReadKeyValue(const JsonValue& value, _KEY_NUMBER& key, bool plus) const
    {
        if (plus || AtMost(kVersion1_2)) {
            const std::wstring* text = value.StringPtr();
            if (!text)
                return false;
            key = plus ? KeyFromHex(*text) : ClassicKeyFromOldText(*text);
            return true;
        }
        if (value.GetType() != JSON_INT64)
            return false;
        key = UnpackClassicKey(value.Int64Value());
        return true;
    }

    void ReadClassicOrPlusKey(const JsonValue* object, const wchar_t* name, _KEY_NUMBER& key, bool plus)
    {
        if (const JsonValue* value = object->FindMember(name))
            ReadKeyValue(*value, key, plus);
    }

    void ReadCardReading()
    {
        m_doc.RaiseChange(TDC_KEYTYPES | TDC_VELL4MODE | TDC_MIFARE_CLASSIC | TDC_MIFARE_PLUS | TDC_MIFARE_UL |
                              TDC_TEMIC | TDC_CARD_KIND_SWITCH,
                          0, false);
        ReadKeysSettings& s = m_doc.m_readKeys;
        s = ReadKeysSettings();
        const JsonValue* readKeys = FindObject(m_root, L"readKeys");
        if (!readKeys)
            return;
        if (AtLeast(kVersion1_6))
            ReadUInt32(readKeys, L"keyTypes", s.keyTypes);
        ReadInt32(readKeys, L"vell4Mode", s.vell4Mode);
        ReadCardKinds(readKeys, s);
    }

    // Key types, Mifare Classic and Temic from their defaults; Mifare Plus and Ultralight are
    // read over what they are, and "vell4Mode" stays.
    void ImportReadKeys()
    {
        m_doc.RaiseChange(TDC_KEYTYPES | TDC_MIFARE_CLASSIC | TDC_MIFARE_PLUS | TDC_MIFARE_UL | TDC_TEMIC |
                              TDC_CARD_KIND_SWITCH,
                          0, false);
        ReadKeysSettings& s = m_doc.m_readKeys;
        const ReadKeysSettings defaults;
        s.keyTypes = defaults.keyTypes;
        s.classic = defaults.classic;
        s.temic = defaults.temic;
        const JsonValue* readKeys = FindObject(m_root, L"readKeys");
        if (!readKeys)
            return;
        ReadUInt32(readKeys, L"keyTypes", s.keyTypes);
        ReadCardKinds(readKeys, s);
    }

    void ReadCardKinds(const JsonValue* readKeys, ReadKeysSettings& s)
    {
        ReadMifareSettings(FindObject(readKeys, L"mifareClassic"), s.classic, false);
        ReadMifareSettings(FindObject(readKeys, L"mifarePlus"), s.plus, true);
        if (const JsonValue* ul = FindObject(readKeys, L"mifareUL")) {
            ReadBool(ul, L"enabled", s.ultralight.enabled);
            ReadInt32(ul, L"page", s.ultralight.page);
            ReadInt32(ul, L"count", s.ultralight.count);
        }
        if (const JsonValue* temic = FindObject(readKeys, L"temic")) {
            TemicSettings& t = s.temic;
            ReadBool(temic, L"enabled", t.enabled);
            int64_t mode;
            if (ReadInt64(temic, L"mode", mode))
                t.flags = mode != 0 ? t.flags | TEMIC_DATA_MODE : t.flags & ~TEMIC_DATA_MODE;
            ReadFlag(temic, L"readAllBytes", t.flags, TEMIC_READ_ALL_BYTES);
            ReadInt32(temic, L"block", t.block);
            ReadInt32(temic, L"count", t.count);
            ReadFlag(temic, L"usePassword", t.flags, TEMIC_USE_PASSWORD);
            ReadUInt32(temic, L"password", t.password);
            // A text without any entry keeps the default list, as the empty text that an empty
            // list is written as does.
            std::wstring text;
            if (ReadString(temic, L"params", text)) {
                std::vector<uint32_t> params = ReadTemicParamsText(text);
                if (!params.empty())
                    t.params = std::move(params);
            }
        }
        ClampCardReadSettings(s);
    }

    // Up to 32 keys; an element of the wrong type keeps the default key in its slot.
    void ReadAuthKeyList(const JsonValue* holder, std::vector<_KEY_NUMBER>& list, bool plus)
    {
        const JsonArray* keys = FindArray(holder, L"keys");
        if (!keys)
            return;
        const _KEY_NUMBER defaultKey = plus ? DefaultMifarePlusKey() : DefaultMifareClassicKey();
        size_t count = std::min<size_t>(keys->size(), kMifareKeySlots);
        list.assign(count, defaultKey);
        for (size_t i = 0; i < count; ++i)
            ReadKeyValue((*keys)[i], list[i], plus);
    }

    // anySavedParts: read whatever the saved parts say (an import).
    void ReadMifareKeyLists(bool anySavedParts = false)
    {
        if (!anySavedParts && !m_doc.IsSavedPart(SAVED_MIFARE_KEYS))
            return;
        m_doc.RaiseChange(TDC_MIFARE_CKEYS, 0, false);
        m_doc.m_mifareCKeys.clear();
        ReadAuthKeyList(FindObject(m_root, AtMost(kVersion1_2) ? L"mifareKeys" : L"mifareCKeys"),
                        m_doc.m_mifareCKeys, false);
        m_doc.RaiseChange(TDC_MIFARE_PKEYS, 0, false);
        m_doc.m_mifarePKeys.clear();
        ReadAuthKeyList(FindObject(m_root, L"mifarePKeys"), m_doc.m_mifarePKeys, true);
    }

    CTransferDoc& m_doc;
    PackedVersion m_version;
    const JsonValue* m_root;
};

// Writes every member in its fixed order; objects are created when missing.
class CTransferConfigWriter
{
public:
    CTransferConfigWriter(CTransferDoc& doc, CConfigFile& file) : m_doc(doc), m_root(file.Root), m_w(file) {}

    void Run()
    {
        WriteTransfer();
        WriteReader();
        WriteKeyList();
        WriteDestinations();
        WriteFormats();
        WriteKeyFilters();
        WriteReadKeys();
        if (m_doc.IsSavedPart(SAVED_MIFARE_KEYS)) {
            WriteKeyArray(m_w.Object(m_root, L"mifareCKeys"), m_doc.m_mifareCKeys, false);
            WriteKeyArray(m_w.Object(m_root, L"mifarePKeys"), m_doc.m_mifarePKeys, true);
        }
    }

private:
    void WriteTransfer()
    {
        JsonValue& transfer = m_w.Object(m_root, L"transfer");
        if (m_doc.IsSavedPart(SAVED_SOURCE))
            m_w.String(transfer, L"source",
                       MakeKindValueText(m_doc.m_sourceKind, m_doc.m_sourceValue, kSourceKindNames, 2));
        if (m_doc.IsSavedPart(SAVED_DESTINATION))
            m_w.String(transfer, L"destination",
                       MakeKindValueText(m_doc.m_destType, m_doc.m_destText, kDestinationKindNames, 5));
    }

    void WriteReader()
    {
        const ReaderSettings& r = m_doc.m_reader;
        JsonValue& reader = m_w.Object(m_root, L"reader");
        m_w.Flag(reader, L"wiegand", r.flags, READER_WIEGAND);
        m_w.Flag(reader, L"binary", r.flags, READER_BINARY);
        m_w.Flag(reader, L"differentQM100", r.flags, READER_DIFFERENT_QM100);
        m_w.Flag(reader, L"toKeylist", r.flags, READER_TO_KEYLIST);
        m_w.Flag(reader, L"nvt", r.flags, READER_NVT);
        m_w.Flag(reader, L"protVell4", r.flags, READER_PROT_VELL4);
        m_w.Int(reader, L"model", r.model);
        m_w.UInt(reader, L"speed", r.speed);
        m_w.UInt(reader, L"stopBits", r.stopBits);
        m_w.Int(reader, L"connectTimeout", r.connectTimeout);
        m_w.Int(reader, L"checkInPeriod", r.checkInPeriod);
        m_w.Int(reader, L"receiveTimeout", r.receiveTimeout);
        m_w.Int(reader, L"maxTries", r.maxTries);
        m_w.Int(reader, L"connectPeriod", r.connectPeriod);
        JsonValue& search = m_w.Object(reader, L"search");
        m_w.Flag(search, L"stdCom", r.searchFlags, SEARCH_STD_COM);
        m_w.Flag(search, L"vCom", r.searchFlags, SEARCH_VCOM);
        m_w.Flag(search, L"ccid", r.searchFlags, SEARCH_CCID);
        m_w.Flag(search, L"ip", r.searchFlags, SEARCH_IP);
        JsonValue& findVCom = m_w.Object(search, L"findVCom");
        m_w.Flag(findVCom, L"filterVidPid", r.searchFlags, SEARCH_FILTER_VIDPID);
        m_w.Flag(findVCom, L"filterDesc", r.searchFlags, SEARCH_FILTER_DESC);
        JsonValue& findIP = m_w.Object(search, L"findIP");
        m_w.Int(findIP, L"receiveTimeout", r.searchReceiveTimeout);
        m_w.Int(findIP, L"maxTries", r.searchMaxTries);
    }

    void WriteKeyList()
    {
        JsonValue& keyList = m_w.Object(m_root, L"keyList");
        m_w.Flag(keyList, L"noDuplicates", m_doc.keyListNoDuplicates, 0x1);
        JsonValue& timer = m_w.Object(keyList, L"timer");
        m_w.Bool(timer, L"enabled", m_doc.keyListTimerEnabled);
        m_w.UInt(timer, L"interval", static_cast<uint32_t>(m_doc.keyListTimerInterval));
        if (!m_doc.IsSavedPart(SAVED_KEYLIST))
            return;
        m_w.Int(keyList, L"sort", m_doc.keyListSort);
        JsonArray& keys = m_w.NewArray(keyList, L"keys");
        keys.reserve(m_doc.m_keys.size());
        std::wstring hex;
        for (const KvKeyPtr& key : m_doc.m_keys) {
            JsonValue& element = keys.emplace_back();
            m_w.Int(element, L"keyType", key->keyType);
            KeyToHex(hex, key->keyNumber);
            m_w.String(element, L"keyNumber", hex);
        }
    }

    void WriteDestinations()
    {
        const _TRANS_DST_KEYBOARD& k = m_doc.Keyboard();
        JsonValue& keyboard = m_w.Object(m_root, L"keyboard");
        m_w.Int(keyboard, L"method", k.method);
        m_w.UInt(keyboard, L"afterActivateDelay", k.afterActivateDelay);
        m_w.UInt(keyboard, L"afterPressDelay", k.afterPressDelay);
        m_w.UInt(keyboard, L"afterReleaseDelay", k.afterReleaseDelay);
        m_w.Bool(keyboard, L"startAdmin", k.startAdmin);
        m_w.Bool(keyboard, L"enabled", k.filterEnabled);
        m_w.String(keyboard, L"class", k.filterClass);
        m_w.String(keyboard, L"title", k.filterTitle);
        m_w.String(keyboard, L"file", k.filterFile);

        const _TRANS_DST_PORTAVO& p = m_doc.Portavo();
        JsonValue& portavo = m_w.Object(m_root, L"portavo");
        m_w.Int(portavo, L"type", p.mode);
        m_w.Bool(portavo, L"nvt", p.nvt);
        m_w.String(portavo, L"address", p.address);
        m_w.UInt(portavo, L"connectPeriod", static_cast<uint32_t>(p.connectPeriod));
        m_w.UInt(portavo, L"port", p.port);
        m_w.Int(portavo, L"maxConnections", p.maxConnections);

        const _TRANS_DST_CMDLINE& c = m_doc.CmdLine();
        JsonValue& cmdline = m_w.Object(m_root, L"cmdline");
        m_w.String(cmdline, L"program", c.program);
        m_w.String(cmdline, L"arguments", c.arguments);
        m_w.String(cmdline, L"initialDir", c.initialDir);

        m_w.String(m_w.Object(m_root, L"httpRequest"), L"address", m_doc.HttpRequest().address);
    }

    void WriteFormats()
    {
        JsonValue& formats = m_w.Object(m_root, L"formats");
        JsonValue& presets = m_w.Object(formats, L"presets");
        m_w.UInt(presets, L"version", m_doc.presetsVersion);
        m_w.UInt(presets, L"language", m_doc.presetsLanguage);
        m_w.UInt(formats, L"defaultId", m_doc.defaultId);
        m_w.UInt(formats, L"newId", m_doc.newId);
        m_w.Int(formats, L"sort", m_doc.formatsSort);
        JsonArray& list = m_w.NewArray(formats, L"formats");
        list.reserve(m_doc.m_formats.size());
        for (const KvFormatPtr& format : m_doc.m_formats) {
            JsonValue& element = list.emplace_back();
            const bool preset = format->IsPreset();
            m_w.UInt(element, L"id", format->id);
            m_w.Bool(element, L"preset", preset);
            // A preset's name carries a line feed in memory only.
            const bool marked = preset && !format->name.empty() && format->name[0] == L'\n';
            m_w.String(element, L"name", marked ? format->name.substr(1) : format->name);
            m_w.String(element, L"template", format->templ);
            m_w.String(element, L"params", format->params);
            m_w.String(element, L"comment", format->comment);
            m_w.UInt(element, L"keyFilters", static_cast<uint32_t>(format->keyFilterMask));
        }
    }

    void WriteKeyFilters()
    {
        JsonValue& keyFilters = m_w.Object(m_root, L"keyFilters");
        m_w.UInt(keyFilters, L"newId", m_doc.keyFilterNewId);
        JsonArray& list = m_w.NewArray(keyFilters, L"keyFilters");
        list.reserve(m_doc.m_keyFilters.size());
        for (const KeyFilter& filter : m_doc.m_keyFilters)
            WriteKeyFilterElement(m_w, list.emplace_back(), filter);
        m_w.Int(keyFilters, L"sort", m_doc.keyFiltersSort);
    }

    void WriteMifare(JsonValue& object, const MifareReadSettings& m, bool plus)
    {
        m_w.Bool(object, L"enabled", m.enabled);
        m_w.Flag(object, L"keyB", m.flags, MIFARE_KEY_B);
        m_w.Flag(object, L"byMask", m.flags, MIFARE_BY_MASK);
        m_w.UInt(object, L"mask", m.mask);
        if (plus)
            m_w.String(object, L"key", KeyToForwardHex(m.key));
        else
            m_w.Int64(object, L"key", PackClassicKey(m.key));
        m_w.Int(object, L"sector", m.sector);
        m_w.Int(object, L"block", m.block);
    }

    void WriteReadKeys()
    {
        const ReadKeysSettings& s = m_doc.m_readKeys;
        JsonValue& readKeys = m_w.Object(m_root, L"readKeys");
        m_w.UInt(readKeys, L"keyTypes", s.keyTypes);
        m_w.Int(readKeys, L"vell4Mode", s.vell4Mode);
        WriteMifare(m_w.Object(readKeys, L"mifareClassic"), s.classic, false);
        WriteMifare(m_w.Object(readKeys, L"mifarePlus"), s.plus, true);
        JsonValue& ul = m_w.Object(readKeys, L"mifareUL");
        m_w.Bool(ul, L"enabled", s.ultralight.enabled);
        m_w.Int(ul, L"page", s.ultralight.page);
        m_w.Int(ul, L"count", s.ultralight.count);
        const TemicSettings& t = s.temic;
        JsonValue& temic = m_w.Object(readKeys, L"temic");
        m_w.Bool(temic, L"enabled", t.enabled);
        m_w.Int(temic, L"mode", (t.flags & TEMIC_DATA_MODE) != 0 ? 1 : 0);
        m_w.Flag(temic, L"readAllBytes", t.flags, TEMIC_READ_ALL_BYTES);
        m_w.Int(temic, L"block", t.block);
        m_w.Int(temic, L"count", t.count);
        m_w.Flag(temic, L"usePassword", t.flags, TEMIC_USE_PASSWORD);
        m_w.UInt(temic, L"password", t.password);
        m_w.String(temic, L"params", FormatTemicParams(t.params));
    }

    void WriteKeyArray(JsonValue& holder, const std::vector<_KEY_NUMBER>& list, bool plus)
    {
        JsonArray& keys = m_w.NewArray(holder, L"keys");
        keys.reserve(list.size());
        for (const _KEY_NUMBER& key : list) {
            JsonValue& element = keys.emplace_back();
            if (plus)
                element.AssignString(KeyToForwardHex(key));
            else
                element.AssignInt64(PackClassicKey(key));
        }
    }

    CTransferDoc& m_doc;
    JsonValue& m_root;
    CMemberWriter m_w;
};

bool LoadTransferConfig(CTransferDoc& doc, CConfigFile& file)
{
    return CTransferConfigReader(doc, file.Root, file.GetVersion()).Run();
}

bool LoadTransferConfig(CTransferDoc& doc, const JsonValue& root, PackedVersion version)
{
    return CTransferConfigReader(doc, root, version).Run();
}

void ImportTransferConfig(CTransferDoc& doc, const JsonValue& root, PackedVersion version, uint32_t groups)
{
    if ((groups & kAllConfigGroups) != 0)
        CTransferConfigReader(doc, root, version).Import(groups & kAllConfigGroups);
}

void SaveTransferConfig(CTransferDoc& doc, CConfigFile& file)
{
    CTransferConfigWriter(doc, file).Run();
}
