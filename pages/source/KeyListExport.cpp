// The key list's exports: tables (CSV and spreadsheets) and the dBASE card base; and the
// export command.
#include <algorithm>

#include "config/AppSettings.h"
#include "config/KeyNumber.h"
#include "config/TransferDoc.h"
#include "core/Dbf.h"
#include "core/File.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "pages/source/KeyListIo.h"
#include "pages/SpreadsheetTables.h"
#include "resources/ids_pages.h"
#include "transfer/TransferLog.h"

namespace {

constexpr UINT kColumnTitles[KLC_COUNT] = {IDS_KEYLIST_COL_INDEX,  IDS_KEYLIST_COL_TYPE,   IDS_KEYLIST_COL_NUMBER,
                                           IDS_KEYLIST_COL_SIZE,   IDS_KEYLIST_COL_FORMAT, IDS_KEYLIST_COL_TEXT};

// The visible columns in the order of their ids.
std::vector<int> ExportedColumns(const KeyListView& view)
{
    std::vector<int> columns;
    for (int id : view.columns) {
        if (id >= 0 && id < KLC_COUNT)
            columns.push_back(id);
    }
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    return columns;
}

std::wstring KeyTypeName(const KeyListIoContext& context, int keyType)
{
    return keyType >= 0 && keyType < kKeyTypeNameCount ? context.keyTypeNames[keyType] : std::wstring();
}

void PutEntryCell(const KeyListIoContext& context, CBTableExport& table, int column, int64_t row, _KV_KEY& entry,
                  const KvFormatPtr& format)
{
    std::wstring text;
    switch (column) {
    case KLC_INDEX:
        table.PutInt64(row);
        return;
    case KLC_TYPE:
        text = KeyTypeName(context, entry.keyType);
        break;
    case KLC_NUMBER:
        KeyToText(text, entry.keyNumber, ResolveKeyViewFormat(context.settings.GetKeyViewFormat(), entry.keyType));
        break;
    case KLC_SIZE:
        table.PutInt64(entry.keyNumber.length);
        return;
    case KLC_FORMAT:
        if (format)
            text = MakeFormatDisplayName(format->name);
        break;
    case KLC_TEXT:
        if (format) {
            context.doc.UpdateKeyText(entry);
            text = entry.outputText;
        }
        break;
    default:
        break;
    }
    table.PutText(text.c_str());
}

// The Excel back-end keeps these columns as text, not as numbers it guesses.
std::vector<int> TextColumnPositions(const std::vector<int>& columns)
{
    std::vector<int> positions;
    for (size_t i = 0; i < columns.size(); ++i) {
        const int id = columns[i];
        if (id == KLC_TYPE || id == KLC_NUMBER || id == KLC_FORMAT || id == KLC_TEXT)
            positions.push_back(static_cast<int>(i));
    }
    return positions;
}

// ---- dBASE card base

constexpr int kCardBaseKeyBytes = 8;

const DbfFieldDescriptor kCardBaseFields[CDbf::kCreateFieldCount] = {
    MakeDbfField("ID", 'N', 12),       MakeDbfField("ATTR", 'N', 4),     MakeDbfField("TYPE", 'N', 4),
    MakeDbfField("SHORTNUM", 'N', 1),  MakeDbfField("KEYNUM", 'C', 16),  MakeDbfField("COMMENT", 'C', 100),
    MakeDbfField("CREATE", 'C', 16),
};
enum CardBaseField { CBF_ID, CBF_ATTR, CBF_TYPE, CBF_SHORTNUM, CBF_KEYNUM, CBF_COMMENT, CBF_CREATE };

void CheckCardBaseKeys(const KeyListIoContext& context, const KeyListView& view)
{
    for (const KvKeyPtr& entry : view.entries) {
        if (entry->keyNumber.length <= kCardBaseKeyBytes)
            continue;
        std::wstring hex;
        KeyToHex(hex, entry->keyNumber);
        const std::wstring name = KeyTypeName(context, entry->keyType);
        throw CTableFileException(IDS_CARD_BASE_KEY_TOO_LONG, name.empty() ? hex : name + L" " + hex);
    }
}

int CardCodeOf(int keyType)
{
    return keyType >= 0 && keyType < kKeyTypeNameCount ? DbfCardTypeCodes[keyType] : 0;
}

void WriteCardBase(const std::wstring& path, const KeyListView& view)
{
    SYSTEMTIME now{};
    SystemServices().LocalTime(now);
    std::wstring created;
    FormatString(created, L"%.2d.%.2d.%.4d %.2d:%.2d", now.wDay, now.wMonth, now.wYear, now.wHour, now.wMinute);

    CDbf table;
    table.Create(path, kCardBaseFields);
    table.AppendBlankRecords(1);
    table.SetFieldValue(CBF_KEYNUM, L"002E");
    int id = 0;
    for (const KvKeyPtr& entry : view.entries) {
        std::wstring hex;
        KeyToHex(hex, entry->keyNumber);
        table.AppendBlankRecords(1);
        table.SetFieldValue(CBF_ID, IntToWString(++id));
        table.SetFieldValue(CBF_ATTR, L"1");
        table.SetFieldValue(CBF_TYPE, IntToWString(CardCodeOf(entry->keyType)));
        table.SetFieldValue(CBF_SHORTNUM, L"0");
        table.SetFieldValue(CBF_KEYNUM, WStringToMultiByte(hex, CP_ACP).c_str());
        table.SetFieldValue(CBF_CREATE, created);
    }
    table.FlushRecord();
    table.Close();
}

}  // namespace

void WriteKeyTable(const KeyListIoContext& context, const KeyListView& view, const wchar_t* file,
                   CBTableExport& exporter)
{
    const std::vector<int> columns = ExportedColumns(view);
    exporter.Create(static_cast<int>(columns.size()), static_cast<int>(view.entries.size() + 1), file);
    try {
        std::wstring title;
        for (int id : columns) {
            LoadResString(kColumnTitles[id], title);
            exporter.PutText(title.c_str());
        }
        exporter.EndRow();
        for (int row = 1; row < exporter.GetRowCount(); ++row) {
            _KV_KEY& entry = *view.entries[static_cast<size_t>(row - 1)];
            const KvFormatPtr format = context.doc.FindFormatForKey(entry.keyType, entry.keyNumber.length);
            for (int id : columns)
                PutEntryCell(context, exporter, id, row, entry, format);
            exporter.EndRow();
        }
        exporter.Flush();
        exporter.Close(false);
    } catch (...) {
        try {
            exporter.Close(true);
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
}

void ExportDbfCardBase(const KeyListIoContext& context, const KeyListView& view, const std::wstring& file)
{
    CheckCardBaseKeys(context, view);
    // Written under a temporary name that takes the file's place when complete.
    CTempFileGuard temp(MakeTempFileBeside(file));
    try {
        WriteCardBase(temp.Path(), view);
    } catch (CFileException& error) {
        error.m_fileName = file;
        throw;
    } catch (const CDbfException& error) {
        throw CDbfException(file, error.GetCause());
    }
    if (!SystemServices().MoveFileOver(temp.Path(), file))
        ThrowFileExceptionFromOSError(static_cast<LONG>(GetLastError()), file);
    temp.Release();
}

void ExportKeysToExcel(const KeyListIoContext& context, const KeyListView& view, const wchar_t* file, bool excel97)
{
    WriteExcelTable(excel97 ? kExcelFormat97 : kExcelFormatDefault, TextColumnPositions(ExportedColumns(view)),
                    [&](CBTableExport& table) { WriteKeyTable(context, view, file, table); });
}

void ExportKeysToCalc(const KeyListIoContext& context, const KeyListView& view, const wchar_t* file)
{
    WriteCalcTable([&](CBTableExport& table) { WriteKeyTable(context, view, file, table); });
}

bool ExportKeys(const KeyListIoContext& context, const KeyListView& view, ITableFileUi& ui, int kind)
{
    // By kind (KeyExportKind; row 0 unused), and the kind by filter index of the save dialog.
    static const TableExportKind kKinds[] = {
        {0, L"", TET_OTHER},    {1, L".csv", TET_CSV},      {2, L".dbf", TET_OTHER}, {3, L".xlsx", TET_EXCEL},
        {4, L".xls", TET_EXCEL97}, {0, L"", TET_EXCEL},     {5, L".ods", TET_CALC},  {0, L"", TET_CALC},
    };
    static const int kKindOfFilter[] = {0, KEY_EXPORT_CSV, KEY_EXPORT_CARD_BASE, KEY_EXPORT_EXCEL, KEY_EXPORT_EXCEL97,
                                        KEY_EXPORT_CALC};

    CAppSettings& settings = context.settings;
    const TableExportWriter writer{
        [&](CBTableExport& table, const wchar_t* file) { WriteKeyTable(context, view, file, table); },
        TextColumnPositions(ExportedColumns(view)), settings.csv,
        [&](int, const wchar_t* file) { ExportDbfCardBase(context, view, file); }};
    return RunTableExport(ui, {IDS_KEYLIST_EXPORT_FILTER, kKinds, kKindOfFilter},
                          kind != 0 ? kind : settings.GetKeyListExport(),
                          [&](int chosen) { settings.SetKeyListExport(chosen); }, writer);
}
