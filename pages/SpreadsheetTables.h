#pragma once
// The Excel and OpenOffice Calc back-ends of the table interfaces. Both applications are
// driven by late binding (IDispatch, through DispatchInvoke): Excel as "Excel.Application",
// Calc as "com.sun.star.ServiceManager". Callers hold COM (CComInitScope) around a back-end's
// whole life, since destroying one closes or releases its application.
//
// A failed automation call throws CComException with its code (std::bad_alloc for
// E_OUTOFMEMORY). An application that cannot be created throws nothing: an import then holds
// an empty table and says so through IsApplicationMissing, an export's CreateTable is false.
#include <windows.h>
#include <oaidl.h>
#include <memory>
#include <string>
#include <vector>

#include "core/Object.h"
#include "pages/TableIo.h"

// Excel file formats of CreateExcelTableExport.
constexpr int kExcelFormatDefault = 0;   // the application's own (".xlsx")
constexpr int kExcelFormat97 = 56;       // Excel 97-2003 (".xls")

// One automation interface pointer, released when replaced or destroyed.
class CDispatchRef
{
public:
    CDispatchRef() = default;
    ~CDispatchRef() { Reset(); }
    CDispatchRef(const CDispatchRef&) = delete;
    CDispatchRef& operator=(const CDispatchRef&) = delete;

    IDispatch* Get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    // Takes over the reference the pointer carries.
    void Reset(IDispatch* object = nullptr);

private:
    IDispatch* m_object = nullptr;
};

// "file://localhost/" + the file name with every blank as "%20" and every backslash as "/".
std::wstring MakeFileUrl(const wchar_t* fileName);

// Excel: the server object, Application, Workbooks, the workbook, the active sheet and the
// current range.
class CExcelAuto : public CObject
{
public:
    // False, with nothing held, when the application cannot be created.
    bool Create();
    // Hidden or visible; opens the file, or adds a new workbook when fileName is null.
    void OpenWorkbook(bool hidden, const wchar_t* fileName);
    // 1-based corners; the range becomes the current one.
    void SelectRange(int left, int top, int right, int bottom);
    void AutoFitColumns(int count);
    // fileFormat 0: the application's default for the name, given without the argument.
    void SaveAs(const wchar_t* fileName, int fileFormat);
    void EnableEvents(bool enable);
    void Quit();
    void ReleaseAll();

    bool IsAttached() const { return static_cast<bool>(m_server); }
    bool HasWorkbook() const { return static_cast<bool>(m_workbook); }
    IDispatch* Sheet() const { return m_sheet.Get(); }
    IDispatch* Range() const { return m_range.Get(); }
    void SetRange(IDispatch* range) { m_range.Reset(range); }

private:
    CDispatchRef m_server, m_application, m_workbooks, m_workbook, m_sheet, m_range;
};

// Calc: the service manager, the desktop, the document, the sheets, the sheet and the
// current cell range.
class COOCalcAuto : public CObject
{
public:
    bool Create();
    // Hidden with the "Hidden" load argument; a new spreadsheet when fileName is null or empty.
    void LoadDocument(bool hidden, const wchar_t* fileName);
    void SelectFirstSheet();
    // 0-based, inclusive.
    void GetUsedArea(int& startColumn, int& startRow, int& endColumn, int& endRow);
    void SelectRange(int left, int top, int right, int bottom);
    void SetOptimalWidths(int lastColumn);
    void StoreAsUrl(const wchar_t* fileName);
    void LockControllers(bool unlock);
    void Quit();
    void ReleaseAll();

    bool IsAttached() const { return static_cast<bool>(m_manager); }
    bool HasDocument() const { return static_cast<bool>(m_document); }
    IDispatch* Document() const { return m_document.Get(); }
    IDispatch* Range() const { return m_range.Get(); }

private:
    CDispatchRef m_manager, m_desktop, m_document, m_sheets, m_sheet, m_range;
};

// What both importers share: the cell conversions over the current cell's VARIANT.
class CAutomationTableImport : public CBTableImport
{
public:
    // After Open: the application could not be created, so the table is empty.
    bool IsApplicationMissing() const { return m_missing; }

    bool GetText(std::wstring& out) override;
    bool GetDouble(double& out) override;
    bool GetInt64(int64_t& out) override;

protected:
    // The current cell; null when the position holds none (a short row, past the end).
    virtual const VARIANT* CurrentCell() const = 0;
    // Calc gives a lone CR for a line break inside a cell.
    virtual bool WidensLoneCr() const { return false; }

    bool m_missing = false;
};

class CExcelTableImport final : public CAutomationTableImport
{
public:
    CExcelTableImport();
    ~CExcelTableImport() override;

    void Open(const wchar_t* fileName) override;
    bool MoveColumn(int relative) override;
    bool NextRow() override;

protected:
    const VARIANT* CurrentCell() const override;

private:
    void Release();

    CExcelAuto m_auto;
    VARIANT m_values;          // the used range's "Value"
    SAFEARRAY* m_array = nullptr;   // its cells, column by column, while accessed
    const VARIANT* m_cells = nullptr;
    VARIANT m_single;          // a lone used cell, read as a 1 x 1 table
    bool m_isSingle = false;
};

class COOCalcTableImport final : public CAutomationTableImport
{
public:
    COOCalcTableImport();
    ~COOCalcTableImport() override;

    void Open(const wchar_t* fileName) override;
    bool MoveColumn(int relative) override;
    bool NextRow() override;

protected:
    const VARIANT* CurrentCell() const override;
    bool WidensLoneCr() const override { return true; }

private:
    // The cells of row m_row: the row element's array, when it is one.
    void AccessRow();
    void ReleaseRow();
    void Release();

    COOCalcAuto m_auto;
    VARIANT m_data;             // "getDataArray": an array of rows, each an array of cells
    SAFEARRAY* m_rows = nullptr;      // accessed
    SAFEARRAY* m_rowCells = nullptr;  // the current row's cells, accessed
    LONG m_rowCellCount = 0;
};

// What both exporters share: the cell array and the table-level Create over CreateTable.
class CAutomationTableExport : public CBTableExport
{
public:
    CAutomationTableExport();
    ~CAutomationTableExport() override;

    // False when the application cannot be created; nothing is touched then.
    virtual bool CreateTable(int columns, int rows, const wchar_t* fileName) = 0;
    // CreateTable, and an error naming the applications when it is false.
    void Create(int columns, int rows, const wchar_t* fileName) override;
    bool PutInt64(int64_t value) override;
    bool PutText(const wchar_t* text) override;
    bool EndRow() override;

protected:
    // Rows x columns, both from 1, when both are positive.
    void MakeCells(int columns, int rows);
    void PutCell(VARIANT& cell);   // takes the value over
    virtual void MakeNumber(int64_t value, VARIANT& cell) = 0;
    void FreeCells();

    std::wstring m_fileName;    // empty: a live table left to the user
    SAFEARRAY* m_cells = nullptr;
};

class CExcelTableExport final : public CAutomationTableExport
{
public:
    // fileFormat: kExcelFormatDefault or kExcelFormat97.
    explicit CExcelTableExport(int fileFormat = kExcelFormatDefault);
    ~CExcelTableExport() override;

    // One number format per column (empty: none), for the data rows below the header.
    void SetNumberFormats(std::vector<std::wstring> formats) { m_numberFormats = std::move(formats); }

    bool CreateTable(int columns, int rows, const wchar_t* fileName) override;
    void Flush() override;
    void Close(bool discard) override;

protected:
    void MakeNumber(int64_t value, VARIANT& cell) override;

private:
    std::vector<std::wstring> m_numberFormats;
    CExcelAuto m_auto;
    int m_fileFormat;
};

class COOCalcTableExport final : public CAutomationTableExport
{
public:
    COOCalcTableExport() = default;
    ~COOCalcTableExport() override;

    bool CreateTable(int columns, int rows, const wchar_t* fileName) override;
    void Flush() override;
    void Close(bool discard) override;

protected:
    // Calc numbers are doubles.
    void MakeNumber(int64_t value, VARIANT& cell) override;

private:
    COOCalcAuto m_auto;
};

// The back-ends by kind; the key list and the formats page use these.
std::unique_ptr<CAutomationTableImport> CreateExcelTableImport();
std::unique_ptr<CAutomationTableImport> CreateCalcTableImport();
// textColumns: the columns (0-based positions) whose cells Excel must keep as text.
std::unique_ptr<CExcelTableExport> CreateExcelTableExport(int fileFormat, const std::vector<int>& textColumns);
std::unique_ptr<COOCalcTableExport> CreateCalcTableExport();

// The error of a table whose application cannot be created.
[[noreturn]] void ThrowSpreadsheetMissing();

// COM for the calling thread while the object lives: a failure throws CComException, or
// std::bad_alloc for E_OUTOFMEMORY.
class CComInitScope
{
public:
    CComInitScope();
    ~CComInitScope();
    CComInitScope(const CComInitScope&) = delete;
    CComInitScope& operator=(const CComInitScope&) = delete;
};
