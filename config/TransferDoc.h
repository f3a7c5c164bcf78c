#pragma once
// The transfer document: the current configuration (source, destinations, reader, key list,
// formats, key filters, card reading, Mifare key lists). Stored either in the main settings
// file or in a configuration file of its own. UI thread only.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>
#include "config/Format.h"
#include "config/KeyNumber.h"
#include "config/TransferRecords.h"
#include "core/Document.h"
#include "core/TextUtil.h"

class CConfigFile;
class JsonValue;

using KvFormatPtr = std::shared_ptr<_KV_FORMAT>;

// Change bits of the transfer document (change word 1; word 2 stays 0).
constexpr uint32_t TDC_UNSAVED = 0x1;
constexpr uint32_t TDC_PATH = 0x2;
constexpr uint32_t TDC_STATE = 0x4;
constexpr uint32_t TDC_SOURCE = 0x8;
constexpr uint32_t TDC_DESTINATION = 0x10;
constexpr uint32_t TDC_READER = 0x20;
constexpr uint32_t TDC_KEYLIST = 0x40;
constexpr uint32_t TDC_KEYLIST_SORT = 0x80;
constexpr uint32_t TDC_KEYLIST_TIMER = 0x100;
constexpr uint32_t TDC_KEYLIST_NODUPS = 0x200;
constexpr uint32_t TDC_KEYBOARD = 0x400;
constexpr uint32_t TDC_PORTAVO = 0x800;
constexpr uint32_t TDC_CMDLINE = 0x1000;
constexpr uint32_t TDC_HTTP = 0x2000;
constexpr uint32_t TDC_FORMATS = 0x4000;
constexpr uint32_t TDC_KEYTYPES = 0x40000;
constexpr uint32_t TDC_VELL4MODE = 0x80000;
constexpr uint32_t TDC_MIFARE_CLASSIC = 0x100000;
constexpr uint32_t TDC_MIFARE_PLUS = 0x200000;
constexpr uint32_t TDC_MIFARE_UL = 0x400000;
constexpr uint32_t TDC_TEMIC = 0x800000;
constexpr uint32_t TDC_MIFARE_CKEYS = 0x1000000;
constexpr uint32_t TDC_MIFARE_PKEYS = 0x2000000;
constexpr uint32_t TDC_CARD_KIND_SWITCH = 0x4000000;

// Formats detail word.
constexpr uint32_t TDF_FORMAT_LIST = 0x1;
constexpr uint32_t TDF_PRESETS = 0x2;
constexpr uint32_t TDF_FORMATS_SORT = 0x4;
constexpr uint32_t TDF_KEY_FILTERS = 0x8;
constexpr uint32_t TDF_SELECTED_FILTER = 0x10;
constexpr uint32_t TDF_DEFAULT_ID = 0x20;
constexpr uint32_t TDF_KEY_FILTERS_SORT = 0x40;

// State detail word.
constexpr uint32_t TDS_OPEN = 0x1;
constexpr uint32_t TDS_SOURCE_STATE = 0x2;
constexpr uint32_t TDS_DEST_STATE = 0x4;
constexpr uint32_t TDS_READER_JOB = 0x8;      // a reader job started or ended, with TDS_SOURCE_STATE

// Key-list detail word. The key list page raises bits of its own besides these.
constexpr uint32_t TDK_ADDED = 0x4007;
constexpr uint32_t TDK_TRANSFERRED = 0x4;     // "Next key" marked an entry transferred; the sort stays
constexpr uint32_t TDK_BLOCK_REPLACED = 0x2000;
constexpr uint32_t TDK_REMOVED = 0x8000;
constexpr uint32_t TDK_LOADED = 0xE007;

// Format-list detail word.
constexpr uint32_t TDL_ORDER = 0x2000;
constexpr uint32_t TDL_ADDED = 0x403E;
constexpr uint32_t TDL_REMOVED = 0x8000;
constexpr uint32_t TDL_LOADED = 0xE03E;

// Saved-parts bits: which parts belong to the stored configuration.
constexpr uint32_t SAVED_SOURCE = 1u << 3;
constexpr uint32_t SAVED_DESTINATION = 1u << 4;
constexpr uint32_t SAVED_KEYLIST = 1u << 5;
constexpr uint32_t SAVED_MIFARE_KEYS = 1u << 6;
// The saved parts are the settings document's copy of its "history" word; bit 12 says
// whether the key-filter sort column is remembered.
constexpr uint32_t SAVED_KEYFILTERS_SORT = 1u << 12;
constexpr uint32_t kSavedPartsAll = 0x3FFF;

// Version of the built-in presets this program brings.
constexpr uint32_t kPresetsVersion = 26;
constexpr uint32_t kFirstFormatId = 1001;
// Key-filter ids are bits of a format's key-filter mask (bit 0 is the unfiltered list).
constexpr uint32_t kLastKeyFilterId = 31;

// Format fields of CTransferDoc::UpdateFormat; the same bits go into the format-list detail.
constexpr uint32_t KVF_FIELD_NAME = 0x2;
constexpr uint32_t KVF_FIELD_TEMPLATE = 0x4;
constexpr uint32_t KVF_FIELD_PARAMS = 0x8;
constexpr uint32_t KVF_FIELD_COMMENT = 0x10;
constexpr uint32_t KVF_FIELD_KEYFILTERS = 0x20;

struct TransferDetailWords
{
    uint32_t formats = 0;
    uint32_t state = 0;
    uint32_t keyList = 0;
    uint32_t formatList = 0;
};

// FNV-1a over the id's four bytes, lowest first.
struct FormatIdHash
{
    size_t operator()(uint32_t id) const noexcept
    {
        uint32_t h = 0x811C9DC5u;
        for (int i = 0; i < 4; ++i) {
            h ^= (id >> (8 * i)) & 0xFF;
            h *= 0x01000193u;
        }
        return h;
    }
};

using FormatsByName = std::map<std::wstring, KvFormatPtr>;
using FormatsById = std::unordered_map<uint32_t, KvFormatPtr, FormatIdHash>;

class CTransferDoc : public CDocument
{
public:
    CTransferDoc();
    ~CTransferDoc() override;

    // Every member back to its default without raising changes.
    void SetDefaults();

    const std::wstring& GetPathName() const { return m_path; }
    void SetPathName(const std::wstring& path);
    bool IsUnsaved() const { return m_unsaved; }
    // Raises TDC_UNSAVED when the flag changes. The settings document sets it after loading
    // or saving a configuration that lives in the main settings file.
    void SetUnsaved(bool unsaved);
    bool IsOpen() const { return m_open; }

    // Loads the configuration file at the path; a missing file leaves the defaults.
    // Read errors throw.
    void Open();
    // Writes to the own path and clears the unsaved flag; throws on failure.
    void Save(bool whole);
    // Writes the configuration part into a settings file: whole gives a fresh file, else
    // the file's other members are kept when it is a current one. Throws on failure.
    void SaveToFile(const std::wstring& path, bool whole);
    // Ends the open state, saving first when asked and unsaved.
    void Close(bool save);

    // Which parts belong to the stored configuration (SAVED_*).
    uint32_t GetSavedParts() const { return m_savedParts; }
    bool IsSavedPart(uint32_t bit) const { return (m_savedParts & bit) != 0; }
    void SetSavedParts(uint32_t mask) { m_savedParts = mask; }

    // The application shell says when the interface language has been applied; presets are
    // merged at a load only after that.
    void SetInterfaceLanguageApplied(bool applied) { m_languageApplied = applied; }
    bool IsInterfaceLanguageApplied() const { return m_languageApplied; }

    // Change raising, inside an update scope. With markUnsaved and the document saved, the
    // unsaved flag is set and TDC_UNSAVED goes out with the change.
    void RaiseChange(uint32_t word1, uint32_t word2, bool markUnsaved);
    void RaiseStateChange(uint32_t mask);
    void RaiseFormatsChange(uint32_t mask, bool markUnsaved);
    void RaiseKeyListChange(uint32_t mask, bool resetSort);
    void FormatListChanged(uint32_t mask);

    void SetModified(uint32_t word1, uint32_t word2 = 0) override;
    void NotifyObservers() override;

    // Detail words of the notification being delivered (all zero outside one).
    const TransferDetailWords& GetDetails() const;
    // Change words raised since the last notification.
    uint32_t GetPendingChanges() const { return m_pending1; }

    // Source and destination.
    int32_t GetSourceKind() const { return m_sourceKind; }
    const std::wstring& GetSourceValue() const { return m_sourceValue; }
    int32_t GetDestinationType() const { return m_destType; }
    const std::wstring& GetDestinationText() const { return m_destText; }
    // Connection states kept here by the application shell (1 ready); not stored.
    int32_t GetSourceState() const { return m_sourceState; }
    int32_t GetDestinationState() const { return m_destState; }
    void SetSourceState(int32_t state);
    void SetDestinationState(int32_t state);

    // Destination records by type 1 to 5 (none for other types).
    std::shared_ptr<_TRANS_DST> GetDestination(int32_t type) const;
    _TRANS_DST_KEYBOARD& Keyboard() const;
    _TRANS_DST_PORTAVO& Portavo() const;
    _TRANS_DST_CMDLINE& CmdLine() const;
    _TRANS_DST_HTTPREQUEST& HttpRequest() const;

    // Setters: an equal value does nothing; a change raises its bit and marks the document
    // unsaved unless the part is not stored.
    void SetSource(const std::wstring& value, int32_t kind);
    void SetDestination(const std::wstring& text, int32_t type);

    void SetReaderSpeed(uint32_t value);
    void SetReaderStopBits(uint8_t value);
    void SetConnectTimeout(int32_t ms);
    void SetCheckInPeriod(int32_t ms);
    void SetReceiveTimeout(int32_t ms);
    void SetMaxTries(int32_t count);
    void SetConnectPeriod(int32_t ms);
    void SetReaderFlags(uint32_t flags);
    void SetSearchFlags(uint32_t flags);
    void SetSearchReceiveTimeout(int32_t ms);
    void SetSearchMaxTries(int32_t count);

    void SetKeyListSort(int32_t column);
    // Only bit 0 is a setting of its own (TDC_KEYLIST_NODUPS); other bits are stored quietly.
    void SetKeyListNoDuplicates(uint32_t flags);
    void SetKeyListTimerEnabled(bool enabled);
    void SetKeyListTimerInterval(int32_t ms);

    // Methods outside 1 to 3 are ignored.
    void SetKeyboardMethod(int32_t method);
    void SetAfterActivateDelay(uint32_t ms);
    void SetAfterPressDelay(uint32_t ms);
    void SetAfterReleaseDelay(uint32_t ms);
    void SetKeyboardStartAdmin(bool admin);
    void SetWindowFilterEnabled(bool enabled);
    void SetWindowFilterClass(const std::wstring& mask);
    void SetWindowFilterTitle(const std::wstring& mask);
    void SetWindowFilterFile(const std::wstring& mask);

    // Types outside 0 to 2 are ignored.
    void SetPortavoType(int32_t type);
    void SetPortavoNvt(bool nvt);
    void SetPortavoServer(uint16_t port, int32_t maxConnections);
    void SetPortavoClient(const std::wstring& address, int32_t connectPeriod);

    void SetCmdLineProgram(const std::wstring& program);
    void SetCmdLineArguments(const std::wstring& arguments);
    void SetHttpAddress(const std::wstring& address);

    bool SetReadKeyTypes(uint32_t mask);
    void SetVell4Mode(int32_t mode);
    void SetMifareClassicEnabled(bool enabled);
    void SetMifareClassicFlags(uint32_t flags);
    void SetMifareClassicSector(int32_t sector);
    void SetMifareClassicBlock(int32_t block);
    void SetMifareClassicKey(const _KEY_NUMBER& key);
    void SetMifareClassicMask(uint32_t mask);
    void SetMifarePlusEnabled(bool enabled);
    void SetMifarePlusFlags(uint32_t flags);
    void SetMifarePlusSector(int32_t sector);
    void SetMifarePlusBlock(int32_t block);
    void SetMifarePlusKey(const _KEY_NUMBER& key);
    void SetMifarePlusMask(uint32_t mask);
    void SetMifareULEnabled(bool enabled);
    void SetMifareULPage(int32_t page);
    void SetMifareULCount(int32_t count);
    void SetTemicEnabled(bool enabled);
    void SetTemicFlags(uint32_t flags);
    // Called after editing an authorization-key list in place.
    void MifareClassicKeysChanged();
    void MifarePlusKeysChanged();

    // Key list: a copy of the record is appended; returns its index.
    size_t AddKey(const _KV_KEY& key);
    const std::vector<KvKeyPtr>& GetKeys() const { return m_keys; }
    // The key list page reorders the list in place and then raises the key-list change.
    std::vector<KvKeyPtr>& Keys() { return m_keys; }
    // Removes the entries carrying KVKEY_DELETE; returns how many went.
    size_t DeleteMarkedKeys();
    // Removes every later entry equal (key type and key number) to an earlier one; the first
    // of equal entries stays. Returns how many went.
    size_t DeleteDuplicateKeys();
    // Renders the entry's output text through the format of its key, unless it is current.
    void UpdateKeyText(_KV_KEY& key) const;

    // Formats: a shared copy is appended and entered in both maps (an id of 0 first gets a
    // new one); returns its index. A taken id throws E_INVALIDARG, a taken name
    // KV_E_FORMAT_NAME_EXISTS, no free id KV_E_INDEX_RANGE; the document is then unchanged.
    size_t AddFormat(const _KV_FORMAT& format);
    // The same at a list position (appended past the end); returns the position.
    size_t InsertFormat(size_t index, const _KV_FORMAT& format);
    // Copies the fields (KVF_FIELD_*) of source that differ into target, a format of this
    // document. True when anything changed. A name that another format has throws
    // KV_E_FORMAT_NAME_EXISTS and changes nothing.
    bool UpdateFormat(uint32_t fields, const _KV_FORMAT& source, const KvFormatPtr& target);
    void DeleteFormat(size_t index);
    // Exchanges the formats at two list positions (the maps stay right); an order change.
    void SwapFormats(size_t first, size_t second);
    // Removes the formats carrying KVF_DELETE; returns how many went.
    size_t DeleteMarkedFormats();
    // A free format id from newId upward, or 0.
    uint32_t NextFormatId();
    const std::vector<KvFormatPtr>& GetFormats() const { return m_formats; }
    // The formats page reorders the list in place (the same records: the maps stay right) and
    // then reports FormatListChanged.
    std::vector<KvFormatPtr>& ReorderableFormats() { return m_formats; }
    const FormatsByName& GetFormatsByName() const { return m_formatsByName; }
    const FormatsById& GetFormatsById() const { return m_formatsById; }
    KvFormatPtr FindFormatById(uint32_t id) const;
    // Index of the first format whose name equals this one without regard to case, or -1.
    int FindFormatByName(const std::wstring& name) const;
    // The format a key gets: its key filter's format, else the default one; none when that
    // id names no format.
    KvFormatPtr FindFormatForKey(int32_t keyType, int keySize) const;

    void SetFormatsSort(int32_t column);
    void SetDefaultFormatId(uint32_t id);
    // The key filter whose formats the formats page lists; 0 all.
    void SetFormatsKeyFilter(uint32_t id);
    void SetKeyFiltersSort(int32_t column);
    // Pages edit the key filters in place and then call this.
    void KeyFiltersChanged(bool checkSelection);

    // Built-in presets: merges the preset formats for the interface language when they are
    // not current, and with withKeyFilters replaces the key filters by the preset ones.
    void LoadPresets(bool withKeyFilters);
    void ResetKeyFiltersToPresets();

    // Pages edit these lists in place and then report the change.
    const std::vector<KeyFilter>& GetKeyFilters() const { return m_keyFilters; }
    std::vector<KeyFilter>& KeyFilters() { return m_keyFilters; }
    const std::vector<_KEY_NUMBER>& GetMifareClassicKeys() const { return m_mifareCKeys; }
    std::vector<_KEY_NUMBER>& MifareClassicKeys() { return m_mifareCKeys; }
    const std::vector<_KEY_NUMBER>& GetMifarePlusKeys() const { return m_mifarePKeys; }
    std::vector<_KEY_NUMBER>& MifarePlusKeys() { return m_mifarePKeys; }

    // The reader settings and the Temic reading settings that pages store field by field
    // (the reader model, the Temic block, count, password and parameters): the edit raises
    // TDC_READER or TDC_TEMIC and marks the document unsaved when the group changed (CDocEdit).
    using EditChange = uint32_t;
    void RaiseEditChange(uint32_t change) { RaiseChange(change, 0, true); }
    CDocEdit<CTransferDoc, ReaderSettings> EditReaderSettings() { return {*this, m_reader, TDC_READER}; }
    CDocEdit<CTransferDoc, TemicSettings> EditTemicSettings() { return {*this, m_readKeys.temic, TDC_TEMIC}; }

private:
    ReaderSettings m_reader;
    ReadKeysSettings m_readKeys;

public:
    // Read by the pages and the reader; they change through the setters and the edits above.
    const ReaderSettings& reader = m_reader;
    const ReadKeysSettings& readKeys = m_readKeys;

    // Values with setters of their own.
    int32_t keyListSort = 0;
    bool keyListTimerEnabled = false;
    int32_t keyListTimerInterval = 1000;
    uint32_t keyListNoDuplicates = 0;

    uint32_t newId = kFirstFormatId;
    uint32_t presetsVersion = 0;
    uint16_t presetsLanguage = 0;
    int32_t formatsSort = 0;
    int32_t keyFiltersSort = 0;
    uint32_t keyFilterNewId = 1;
    uint32_t selectedKeyFilter = 0;
    uint32_t defaultId = 0;

private:
    friend class CTransferConfigReader;
    friend class CTransferConfigWriter;

    void ClearFormats();

    // Compares, stores and raises: the common body of the setters.
    template <class T, class V>
    bool ChangeValue(T& member, const V& value, uint32_t change, bool markUnsaved);
    size_t PlaceFormat(size_t index, const _KV_FORMAT& format);
    void EraseFormatFromMaps(const KvFormatPtr& format);
    void MergePresetFormats(const JsonValue& presets, uint16_t language);
    void GiveUpName(const std::wstring& name, const KvFormatPtr& keeper);
    bool RenumberFormat(const KvFormatPtr& format);

    std::wstring m_path;
    bool m_unsaved = false;
    bool m_open = false;
    int32_t m_sourceKind = SOURCE_NONE;
    std::wstring m_sourceValue;
    int32_t m_destType = DEST_KEYBOARD;
    std::wstring m_destText;
    int32_t m_sourceState = 0;
    int32_t m_destState = 0;

    std::vector<KvKeyPtr> m_keys;
    std::array<std::shared_ptr<_TRANS_DST>, kDestinationCount> m_destinations;

    std::vector<KvFormatPtr> m_formats;
    FormatsByName m_formatsByName;
    FormatsById m_formatsById;

    std::vector<KeyFilter> m_keyFilters;
    std::vector<_KEY_NUMBER> m_mifareCKeys;
    std::vector<_KEY_NUMBER> m_mifarePKeys;

    uint32_t m_pending1 = 0;
    uint32_t m_pending2 = 0;
    TransferDetailWords m_details;
    const TransferDetailWords* m_snapshot = nullptr;
    mutable TransferDetailWords m_passDetails;  // what GetDetails hands out during a pass
    uint32_t m_savedParts = kSavedPartsAll;
    bool m_languageApplied = false;
};

// A free key-filter id from the counter upward (the counter moves past it), or 0.
uint32_t NextKeyFilterId(const std::vector<KeyFilter>& filters, uint32_t& counter);

// The same search over any test of the ids in use. Ids run from 1 to 31, since a format
// lists its key filters as bits of a 32-bit mask: upward from the counter to 31, then from 1
// up to below where it started; a counter outside 1 to 31 starts at 1. The counter ends one
// past the id returned; 0 when all 31 are taken.
template <class InUse>
uint32_t NextFreeKeyFilterId(InUse inUse, uint32_t& counter)
{
    const uint32_t start = counter >= 1 && counter <= kLastKeyFilterId ? counter : 1;
    for (uint32_t id = start; id <= kLastKeyFilterId; ++id) {
        counter = id + 1;
        if (!inUse(id))
            return id;
    }
    for (uint32_t id = 1; id < start; ++id) {
        counter = id + 1;
        if (!inUse(id))
            return id;
    }
    counter = 1;
    return 0;
}

// Index of the first key filter whose key types hold the key type and whose size is 0 or
// the key's size, or -1. Hidden filters match too.
int FindKeyFilterForKey(const std::vector<KeyFilter>& filters, int32_t keyType, int keySize);

// A name that no format (key filter) bears, built from the base name (string "Format" or
// "Filter" when null or empty): the base without its " (n)" suffix when that is free, else
// with " (n)" counted from n + 1 (or 2). False when every number is taken.
bool MakeUniqueName(const FormatsByName& formats, const wchar_t* baseName, std::wstring& out);
bool MakeUniqueKeyFilterName(const std::vector<KeyFilter>& filters, const wchar_t* baseName, std::wstring& out);

// The preset key filters of the resource module, ids from 1 in list order, at most
// kLastKeyFilterId of them; false when it brings no list.
bool LoadPresetKeyFilters(std::vector<KeyFilter>& filters);
// The same over a "presets" object read elsewhere.
bool ParsePresetKeyFilters(const JsonValue& presets, std::vector<KeyFilter>& filters);

// The language the presets are merged for: the thread's interface language while the
// resource module brings the presets, else US English.
uint16_t GetPresetsLanguage();

// Reads the configuration part of a loaded settings file into the document, part by part,
// in one update scope. Returns true when the file brought key filters of its own.
bool LoadTransferConfig(CTransferDoc& doc, CConfigFile& file);
// The same over a root value read elsewhere, with the format version of its file.
bool LoadTransferConfig(CTransferDoc& doc, const JsonValue& root, PackedVersion version);
// The settings import: the chosen configuration groups (CG_* of config/SettingsGroups.h) of a
// loaded file, each set to its defaults, its change raised and its members read whatever the
// saved parts say; the document is marked unsaved and told once.
void ImportTransferConfig(CTransferDoc& doc, const JsonValue& root, PackedVersion version, uint32_t groups);
// Writes the configuration part into the file's JSON document.
void SaveTransferConfig(CTransferDoc& doc, CConfigFile& file);
