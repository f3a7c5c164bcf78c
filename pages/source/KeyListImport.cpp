// The key list's imports: tables (CSV and spreadsheets), the dBASE card base, the JSON card
// database and the transfer log; and the import command.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <unordered_map>
#include <unordered_set>

#include "config/AppSettings.h"
#include "config/KeyNumber.h"
#include "config/TransferDoc.h"
#include "core/Dbf.h"
#include "core/File.h"
#include "core/Json.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "pages/CsvTable.h"
#include "pages/source/KeyListIo.h"
#include "pages/SpreadsheetTables.h"
#include "resources/ids_pages.h"
#include "transfer/TransferLog.h"

const int DbfCardTypeCodes[kKeyTypeNameCount] = {0, 1, 2, 3, 10, 9, 12, 11, 18, 4, 5, 19, 6, 13, 14, 15, 16, 20, 21, 7, 8, 17};

int KeyTypeFromDbfCardCode(int code)
{
    const int* found = std::find(std::begin(DbfCardTypeCodes), std::end(DbfCardTypeCodes), code);
    return found != std::end(DbfCardTypeCodes) ? static_cast<int>(found - std::begin(DbfCardTypeCodes)) : 0;
}

namespace {

struct ImportedKey
{
    int32_t keyType = 0;
    _KEY_NUMBER number{};
};

// Key type and number as one identity: the duplicate test of "noDuplicates" in constant time.
struct KeyIdentity
{
    int32_t keyType;
    const _KEY_NUMBER* number;

    bool operator==(const KeyIdentity& other) const
    {
        return keyType == other.keyType && CompareKeys(*number, *other.number) == 0;
    }
};

struct KeyIdentityHash
{
    size_t operator()(const KeyIdentity& key) const noexcept
    {
        uint32_t h = 0x811C9DC5u;
        auto mix = [&h](uint8_t b) {
            h ^= b;
            h *= 0x01000193u;
        };
        for (int i = 0; i < 4; ++i)
            mix(static_cast<uint8_t>(static_cast<uint32_t>(key.keyType) >> (8 * i)));
        mix(key.number->length);
        for (int i = 0; i < key.number->length; ++i)
            mix(key.number->bytes[i]);
        return h;
    }
};

bool NoDuplicates(const CTransferDoc& doc)
{
    return (doc.keyListNoDuplicates & 1) != 0;
}

_KV_KEY MakeEntry(const ImportedKey& key)
{
    _KV_KEY entry;
    entry.keyType = key.keyType;
    entry.keyNumber = key.number;
    return entry;
}

// Empties the list (the sort goes with it).
void RemoveAllKeys(CTransferDoc& doc)
{
    if (doc.GetKeys().empty())
        return;
    for (const KvKeyPtr& key : doc.GetKeys())
        key->flags |= KVKEY_DELETE;
    doc.DeleteMarkedKeys();
    doc.RaiseKeyListChange(TDK_REMOVED, true);
}

// The keys of a file that was read whole: replacing or appending, skipping keys already in the
// list under "noDuplicates".
void ApplyImportedKeys(CTransferDoc& doc, const std::vector<ImportedKey>& keys, bool replace)
{
    CDocUpdateScope scope(doc, doc.GetCurrentSender());
    if (replace)
        RemoveAllKeys(doc);
    const bool noDuplicates = NoDuplicates(doc);
    std::unordered_set<KeyIdentity, KeyIdentityHash> present;
    if (noDuplicates) {
        present.reserve(doc.GetKeys().size() + keys.size());
        for (const KvKeyPtr& entry : doc.GetKeys())
            present.insert({entry->keyType, &entry->keyNumber});
    }
    for (const ImportedKey& key : keys) {
        if (noDuplicates && !present.insert({key.keyType, &key.number}).second)
            continue;
        doc.AddKey(MakeEntry(key));
    }
}

// The card database's way: replacing marks every entry, an entry the file also holds (under
// "noDuplicates") loses its mark and stays in its place, and the marked ones go at the end.
void ApplyCardDatabaseKeys(CTransferDoc& doc, const std::vector<ImportedKey>& keys, bool replace)
{
    CDocUpdateScope scope(doc, doc.GetCurrentSender());
    if (replace) {
        for (const KvKeyPtr& entry : doc.GetKeys())
            entry->flags |= KVKEY_DELETE;
    }
    const bool noDuplicates = NoDuplicates(doc);
    // The first entry of each identity; entries added below are kept alive by the document.
    std::unordered_map<KeyIdentity, KvKeyPtr, KeyIdentityHash> present;
    if (noDuplicates) {
        for (const KvKeyPtr& entry : doc.GetKeys())
            present.emplace(KeyIdentity{entry->keyType, &entry->keyNumber}, entry);
    }
    for (const ImportedKey& key : keys) {
        if (noDuplicates) {
            auto found = present.find({key.keyType, &key.number});
            if (found != present.end()) {
                found->second->flags &= ~KVKEY_DELETE;
                continue;
            }
        }
        const size_t index = doc.AddKey(MakeEntry(key));
        if (noDuplicates) {
            const KvKeyPtr& added = doc.GetKeys()[index];
            present.emplace(KeyIdentity{added->keyType, &added->keyNumber}, added);
        }
    }
    if (replace)
        doc.DeleteMarkedKeys();
}

_KEY_NUMBER KeyFromReversedHex(const std::wstring& text)
{
    _KEY_NUMBER key;
    ParseKeyText(text, KEY_TEXT_HEX, key);
    return key;
}

int FindKeyTypeName(const KeyTypeNameList& names, const std::wstring& text)
{
    const auto found = std::find(names.begin(), names.end(), text);
    return found != names.end() ? static_cast<int>(found - names.begin()) : 0;
}

// ---- Tables

enum class CellRole { None, Type, Number };

std::vector<ImportedKey> ReadKeyTable(const KeyTypeNameList& names, const std::wstring& file, CBTableImport& table)
{
    std::vector<ImportedKey> keys;
    table.Open(file.c_str());
    const int columns = table.GetColumnCount();
    if (table.GetRowCount() < 1 || columns < 1)
        return keys;

    std::wstring typeTitle, numberTitle, text;
    LoadResString(IDS_KEYLIST_COL_TYPE, typeTitle);
    LoadResString(IDS_KEYLIST_COL_NUMBER, numberTitle);
    std::vector<CellRole> roles(static_cast<size_t>(columns), CellRole::None);
    bool mapped = false;
    for (int c = 0; c < columns; ++c) {
        if (c > 0 && !table.MoveColumn(1))
            break;
        if (!table.GetText(text))
            continue;
        if (text == typeTitle) {
            roles[c] = CellRole::Type;
            mapped = true;
        } else if (text == numberTitle) {
            roles[c] = CellRole::Number;
            mapped = true;
        }
    }
    if (mapped) {
        if (!table.NextRow())
            return keys;
    } else {
        // No header: row 0 is data, read from its first column again.
        table.MoveColumn(-table.GetColumn());
        if (columns > 1)
            roles[1] = CellRole::Type;
        if (columns > 2)
            roles[2] = CellRole::Number;
    }

    do {
        ImportedKey key;
        for (int c = 0; c < columns; ++c) {
            if (c > 0 && !table.MoveColumn(1))
                break;
            if (roles[c] == CellRole::None)
                continue;
            if (!table.GetText(text))
                text.clear();
            if (roles[c] == CellRole::Type)
                key.keyType = FindKeyTypeName(names, text);
            else
                ParseKeyText(text, ClassifyKeyText(text), key.number);
        }
        if (key.number.length != 0)
            keys.push_back(key);
    } while (table.NextRow() && table.GetRow() < table.GetRowCount());
    return keys;
}

// ---- dBASE card base

constexpr int kDbfTypeField = 2;
constexpr int kDbfKeyField = 4;

bool FieldNamed(const CDbf& table, int index, const char* name)
{
    const DbfFieldDescriptor& field = table.GetField(index);
    return std::strncmp(field.name, name, sizeof field.name) == 0;
}

std::vector<ImportedKey> ReadDbfCardBase(const std::wstring& file)
{
    std::vector<ImportedKey> keys;
    CDbf table;
    try {
        table.Open(file, true);
    } catch (const CDbfException&) {
        throw CTableFileException(IDS_IMPORT_DAMAGED, file);
    }
    if (table.IsCutShort())
        throw CTableFileException(IDS_IMPORT_DAMAGED, file);
    if (table.GetFieldCount() < 5 || !FieldNamed(table, kDbfTypeField, "TYPE") ||
        !FieldNamed(table, kDbfKeyField, "KEYNUM"))
        throw CTableFileException(IDS_IMPORT_NOT_CARD_BASE, file);

    const int count = static_cast<int>(table.GetRecordCount());
    keys.reserve(count > 1 ? static_cast<size_t>(count - 1) : 0);
    // Record 0 is the card base's header record.
    for (int r = 1; r < count; ++r) {
        table.ReadRecord(r);
        if (table.IsRecordDeleted())
            continue;
        char value[17];
        ImportedKey key;
        table.GetFieldValue(kDbfTypeField, value, sizeof value);
        key.keyType = KeyTypeFromDbfCardCode(std::atoi(value));
        table.GetFieldValue(kDbfKeyField, value, sizeof value);
        key.number = KeyFromReversedHex(MultiByteToWString(value, CP_ACP));
        keys.push_back(key);
    }
    table.Close();
    return keys;
}

// ---- JSON card database

int CardDatabaseKeyType(const JsonValue& root, int keyViewFormat)
{
    switch (keyViewFormat) {
    case KEY_VIEW_SHORT:
        return 2;   // HID
    case KEY_VIEW_HEX:
        return 7;   // Dallas
    case KEY_VIEW_AUTO: {
        const JsonValue* info = root.FindMember(L"ctrInfo", JSON_OBJECT);
        int64_t flags = 0;
        if (info == nullptr || !info->GetInt64(L"ctrFlags", flags))
            return 1;
        return (flags & 2) != 0 ? 1 : 7;
    }
    default:
        return 1;   // Em-Marine
    }
}

std::vector<ImportedKey> ReadCardDatabase(const std::wstring& file, int keyViewFormat)
{
    CMemJson json;
    if (!json.LoadFromFile(file))
        throw CTableFileException(IDS_IMPORT_DAMAGED, file);
    std::vector<ImportedKey> keys;
    const int keyType = CardDatabaseKeyType(json.Root, keyViewFormat);
    const JsonValue* list = json.Root.FindMember(L"keys", JSON_ARRAY);
    if (list == nullptr)
        return keys;
    for (const JsonValue& element : *list->ArrayPtr()) {
        std::wstring text;
        if (!element.GetString(L"key", text))
            continue;
        ImportedKey key;
        key.keyType = keyType;
        key.number = KeyFromReversedHex(text);
        if (key.number.length != 0)
            keys.push_back(key);
    }
    return keys;
}

// ---- Transfer log

constexpr UINT kLogBlockSize = 1023;
constexpr size_t kLogTimeLength = 20;   // "05.03.2025 09:07:03 "

void ReadTransferLogLine(const std::string& bytes, std::vector<ImportedKey>& keys)
{
    const std::wstring line = MultiByteToWString(bytes, CP_ACP);
    if (line.size() <= kLogTimeLength)
        return;
    const size_t open = line.find(L'[', kLogTimeLength);
    if (open == std::wstring::npos)
        return;
    const wchar_t* cursor = line.c_str() + open + 1;
    std::wstring field;
    ReadTransferLogField(field, cursor);
    const size_t blank = field.find(L' ');
    if (blank == std::wstring::npos || blank + 1 >= field.size())
        return;
    const size_t digits = field.find_first_not_of(L' ', blank);
    ImportedKey key;
    key.number = KeyFromReversedHex(digits == std::wstring::npos ? std::wstring() : field.substr(digits));
    if (key.number.length == 0)
        return;
    std::wstring code = field.substr(0, blank);
    for (wchar_t& c : code)
        c = static_cast<wchar_t>(std::towupper(c));
    for (int type = 1; type < kKeyTypeCodeCount; ++type) {
        if (code == KeyTypeCodes[type]) {
            key.keyType = type;
            break;
        }
    }
    keys.push_back(key);
}

std::vector<ImportedKey> ReadTransferLog(const std::wstring& file)
{
    CFile log;
    CFileException error;
    if (!log.Open(file.c_str(), CFile::modeRead | CFile::shareReadWrite, &error))
        throw error;
    std::vector<ImportedKey> keys;
    std::string line;   // a line that a block boundary cut is carried into the next block
    char block[kLogBlockSize];
    for (;;) {
        const UINT got = log.Read(block, kLogBlockSize);
        if (got == 0)
            break;
        for (UINT i = 0; i < got; ++i) {
            const char c = block[i];
            if (c == '\r' || c == '\n') {
                if (!line.empty())
                    ReadTransferLogLine(line, keys);
                line.clear();
            } else {
                line.push_back(c);
            }
        }
    }
    if (!line.empty())
        ReadTransferLogLine(line, keys);
    return keys;
}

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix)
{
    const size_t n = wcslen(suffix);
    return text.size() >= n && _wcsicmp(text.c_str() + text.size() - n, suffix) == 0;
}

}  // namespace

bool ReadTransferLogField(std::wstring& field, const wchar_t*& cursor)
{
    field.clear();
    if (*cursor == L' ')
        ++cursor;
    bool quoted = false;
    while (*cursor != 0) {
        const wchar_t c = *cursor;
        if (c == L'\\') {
            ++cursor;
            if (*cursor == 0)
                break;
            field += *cursor == L'n' ? L'\n' : *cursor == L'r' ? L'\r' : *cursor;
            ++cursor;
            continue;
        }
        if (c == L'"') {
            ++cursor;
            if (quoted)
                break;
            quoted = true;
            continue;
        }
        if (!quoted && c == L',') {
            ++cursor;
            break;
        }
        if (!quoted && c == L']')
            break;
        field += c;
        ++cursor;
    }
    return !field.empty();
}

void ImportKeyTable(const KeyListIoContext& context, const std::wstring& file, CBTableImport& importer, bool replace)
{
    const std::vector<ImportedKey> keys = ReadKeyTable(context.keyTypeNames, file, importer);
    ApplyImportedKeys(context.doc, keys, replace);
}

void ImportDbfCardBase(const KeyListIoContext& context, const std::wstring& file, bool replace)
{
    const std::vector<ImportedKey> keys = ReadDbfCardBase(file);
    ApplyImportedKeys(context.doc, keys, replace);
}

void ImportCardDatabase(const KeyListIoContext& context, const std::wstring& file, bool replace)
{
    const std::vector<ImportedKey> keys = ReadCardDatabase(file, context.settings.GetKeyViewFormat());
    ApplyCardDatabaseKeys(context.doc, keys, replace);
}

void ImportTransferLog(const KeyListIoContext& context, const std::wstring& file, bool replace)
{
    const std::vector<ImportedKey> keys = ReadTransferLog(file);
    ApplyImportedKeys(context.doc, keys, replace);
}

void ImportKeysFromFile(const KeyListIoContext& context, int kind, const std::wstring& file, bool replace)
{
    switch (kind) {
    case KEY_IMPORT_CSV: {
        CCsvTableImport csv(context.settings.csv);
        ImportKeyTable(context, file, csv, replace);
        break;
    }
    case KEY_IMPORT_CARD_BASE:
        ImportDbfCardBase(context, file, replace);
        break;
    case KEY_IMPORT_CARD_DATABASE:
        ImportCardDatabase(context, file, replace);
        break;
    case KEY_IMPORT_TRANSFER_LOG:
        ImportTransferLog(context, file, replace);
        break;
    case KEY_IMPORT_EXCEL:
    case KEY_IMPORT_CALC: {
        CComInitScope com;
        // Destroyed before COM goes: it closes its application.
        std::unique_ptr<CAutomationTableImport> table =
            kind == KEY_IMPORT_EXCEL ? CreateExcelTableImport() : CreateCalcTableImport();
        const std::vector<ImportedKey> keys = ReadKeyTable(context.keyTypeNames, file, *table);
        // Without its application the table is empty: that must not empty the list.
        if (table->IsApplicationMissing())
            ThrowSpreadsheetMissing();
        ApplyImportedKeys(context.doc, keys, replace);
        break;
    }
    default:
        break;
    }
}

bool ImportKeys(const KeyListIoContext& context, ITableFileUi& ui, int kind)
{
    const bool replace = !ui.IsAppendHeld();
    int filterIndex = kind != 0 ? kind : context.settings.GetKeyListImport();
    std::wstring path;
    if (!ui.ChooseFile(false, IDS_KEYLIST_IMPORT_FILTER, filterIndex, path))
        return false;
    context.settings.SetKeyListImport(filterIndex);
    kind = filterIndex;
    if (EndsWithNoCase(path, L".csv"))
        kind = KEY_IMPORT_CSV;
    else if (EndsWithNoCase(path, L".xlsx"))
        kind = KEY_IMPORT_EXCEL;
    else if (EndsWithNoCase(path, L".wd2ctr"))
        kind = KEY_IMPORT_CARD_DATABASE;
    else if (EndsWithNoCase(path, L".log"))
        kind = KEY_IMPORT_TRANSFER_LOG;
    ImportKeysFromFile(context, kind, path, replace);
    return true;
}
