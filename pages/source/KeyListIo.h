#pragma once
// The key list's import and export: what each kind of file brings into the key list of the
// transfer document, and how the entries a key list page shows are written out. The routines
// run without the page: they take the documents, the key-type names and a view of the list.
//
// Every import reads its whole file first and changes the list only when that succeeded, in
// one update scope, so a file that fails half-way leaves the list as it was and the observers
// hear of a finished import once.
#include <windows.h>
#include <array>
#include <string>
#include <vector>

#include "config/TransferRecords.h"
#include "pages/TableFileUi.h"
#include "pages/TableIo.h"

class CAppSettings;
class CTransferDoc;

constexpr int kKeyTypeNameCount = 22;
// The card-type list in the interface language, index = key type.
using KeyTypeNameList = std::array<std::wstring, kKeyTypeNameCount>;

// Column ids of the key list.
enum KeyListColumn : int
{
    KLC_INDEX = 0,
    KLC_TYPE = 1,
    KLC_NUMBER = 2,
    KLC_SIZE = 3,
    KLC_FORMAT = 4,
    KLC_TEXT = 5,
    KLC_COUNT = 6
};

// Import kinds: the filter index of the open dialog.
enum KeyImportKind : int
{
    KEY_IMPORT_CSV = 1,
    KEY_IMPORT_CARD_BASE = 2,       // dBASE card base
    KEY_IMPORT_CARD_DATABASE = 3,   // JSON card database ("*.wd2ctr")
    KEY_IMPORT_TRANSFER_LOG = 4,
    KEY_IMPORT_EXCEL = 5,
    KEY_IMPORT_CALC = 6,
};

// Export kinds, stored as the "export" setting.
enum KeyExportKind : int
{
    KEY_EXPORT_CSV = 1,
    KEY_EXPORT_CARD_BASE = 2,
    KEY_EXPORT_EXCEL = 3,
    KEY_EXPORT_EXCEL97 = 4,
    KEY_EXPORT_EXCEL_OPEN = 5,      // a new Excel table left open, no file
    KEY_EXPORT_CALC = 6,
    KEY_EXPORT_CALC_OPEN = 7,       // a new Calc table left open, no file
};

// The documents and texts the routines read besides the file.
struct KeyListIoContext
{
    CAppSettings& settings;         // "csv", "keyViewFormat", the "import" and "export" kinds
    CTransferDoc& doc;              // the key list, "noDuplicates", the formats
    const KeyTypeNameList& keyTypeNames;
};

// What a page shows of the key list.
struct KeyListView
{
    std::vector<KvKeyPtr> entries;  // after the page's filter, in the page's order
    std::vector<int> columns;       // the visible column ids (KeyListColumn), in any order
};

// Card base type codes, by key type; the two directions are inverse.
extern const int DbfCardTypeCodes[kKeyTypeNameCount];
// The key type of a card base code; 0 for a code outside the table.
int KeyTypeFromDbfCardCode(int code);

// ---- The page's commands

// Kind 0: the kind last used. Asks for the file and imports it, replacing the list unless the
// append modifier is held; the file's extension (".csv", ".xlsx", ".wd2ctr", ".log") decides
// over the filter. False when the dialog was cancelled. Errors leave as exceptions, the list
// unchanged.
bool ImportKeys(const KeyListIoContext& context, ITableFileUi& ui, int kind);
// Kind 0: the kind last used. Asks for the file (not for the kinds that leave a table open) and
// exports the view. False when the dialog was cancelled.
bool ExportKeys(const KeyListIoContext& context, const KeyListView& view, ITableFileUi& ui, int kind);

// One import of a known kind and file (KeyImportKind); other kinds do nothing.
void ImportKeysFromFile(const KeyListIoContext& context, int kind, const std::wstring& file, bool replace);

// ---- Imports

// A table with a header row naming the columns "Type" and "Number" (strings of the interface
// language), or without one: then column 1 holds the type and column 2 the number.
void ImportKeyTable(const KeyListIoContext& context, const std::wstring& file, CBTableImport& importer,
                    bool replace);
// The dBASE card base. A table without "TYPE" third and "KEYNUM" fifth is no card base
// (CTableFileException); deleted records are skipped.
void ImportDbfCardBase(const KeyListIoContext& context, const std::wstring& file, bool replace);
// The JSON card database. Replacing keeps the entries the file also holds in their places
// (with "noDuplicates") and removes the others.
void ImportCardDatabase(const KeyListIoContext& context, const std::wstring& file, bool replace);
// The program's transfer log: the key of every line that has one.
void ImportTransferLog(const KeyListIoContext& context, const std::wstring& file, bool replace);

// The first field inside a transfer-log line's bracket, at cursor (just after the "["): one
// blank skipped, backslash escapes resolved, quotes enclosing; ends at a comma (passed) or at
// "]" (kept). True when the field is not empty.
bool ReadTransferLogField(std::wstring& field, const wchar_t*& cursor);

// ---- Exports

// The view through a table back-end: a header row of the column titles, then one row per
// entry. file may be null for a back-end that leaves its table open. A failure discards the
// table.
void WriteKeyTable(const KeyListIoContext& context, const KeyListView& view, const wchar_t* file,
                   CBTableExport& exporter);
// The entries of the view as a dBASE card base. A key longer than 8 bytes does not fit: it is
// named in the error, and no file is written.
void ExportDbfCardBase(const KeyListIoContext& context, const KeyListView& view, const std::wstring& file);
// Through the spreadsheet back-ends; no file leaves the table open to the user.
void ExportKeysToExcel(const KeyListIoContext& context, const KeyListView& view, const wchar_t* file,
                       bool excel97);
void ExportKeysToCalc(const KeyListIoContext& context, const KeyListView& view, const wchar_t* file);
