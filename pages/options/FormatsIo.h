#pragma once
// The formats list through the table back-ends: the page's view written as a table of its shown
// columns, and a table read back into the format list (merged, or replacing the regular
// formats). The routines take the documents and a view of the page, not the page.
#include <windows.h>
#include <string>
#include <vector>

#include "config/TransferDoc.h"
#include "pages/TableFileUi.h"
#include "pages/TableIo.h"

class CAppSettings;

// Import kinds (the open dialog's filter index) and export kinds, as the settings keep them.
enum FormatsImportKind : int { FIMPORT_CSV = 1, FIMPORT_EXCEL = 2, FIMPORT_CALC = 3 };
enum FormatsExportKind : int
{
    FEXPORT_CSV = 1,
    FEXPORT_EXCEL = 2,        // ".xlsx"
    FEXPORT_EXCEL97 = 3,      // ".xls"
    FEXPORT_EXCEL_OPEN = 4,   // a new workbook left open, no file
    FEXPORT_CALC = 5,         // ".ods"
    FEXPORT_CALC_OPEN = 6,    // a new spreadsheet left open, no file
};

// What the page shows: its rows in display order and its shown data columns in display order.
struct FormatsTableView
{
    std::vector<KvFormatPtr> rows;
    std::vector<int> columns;
    uint32_t keyFilterId = 0;
    uint32_t chosenId = 0;
    _KEY_NUMBER lastKey{};
};

// The view as a table: a header of the column titles, a row per shown format. file may be null
// for a back-end that leaves its table open. A failure discards the table.
void WriteFormatsTable(const FormatsTableView& view, const wchar_t* file, CBTableExport& table);
// Merges a table into the format list in one update scope of the sender; replace removes the
// regular formats that no row names. What was merged before a failure stays; nothing is removed
// then.
void ReadFormatsTable(CTransferDoc& doc, CBTableImport& table, const wchar_t* file, bool replace,
                      uint32_t keyFilterId, const void* sender);
void ExportFormatsToExcel(const FormatsTableView& view, const wchar_t* file, bool excel97);
void ExportFormatsToCalc(const FormatsTableView& view, const wchar_t* file);

// Kind 0: the stored kind. False when the file dialog was cancelled.
bool ImportFormatsFile(CAppSettings& settings, ITableFileUi& ui, int kind, uint32_t keyFilterId,
                       const void* sender);
bool ExportFormatsFile(CAppSettings& settings, const FormatsTableView& view, ITableFileUi& ui, int kind);
