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
#include <functional>
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

// A VARIANT that clears itself.
struct CVariant
{
    CVariant() { VariantInit(&v); }
    ~CVariant() { VariantClear(&v); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
    VARIANT v;
};

// A SAFEARRAY whose data is accessed while it is held: unaccessed when replaced or destroyed.
struct CArrayUnaccess
{
    void operator()(SAFEARRAY* array) const { SafeArrayUnaccessData(array); }
};
using CAccessedArray = std::unique_ptr<SAFEARRAY, CArrayUnaccess>;

// "file://localhost/" + the file name with every blank as "%20" and every backslash as "/".
std::wstring MakeFileUrl(const wchar_t* fileName);

// One automation application: the server object its ProgID creates, the objects below it, and
// the sheet and the current range that a table works on.
class CAutomationApp : public CObject
{
public:
    // False, with nothing held, when the application cannot be created.
    bool Create();
    // Closes what is open and ends the application; the references go first, so that nothing
    // is held whatever the application answers.
    virtual void Quit() = 0;
    void ReleaseAll();
    // Quit when attached, then ReleaseAll: the end of a table that is done with its
    // application, so what the application answers is dropped.
    void QuitQuietly();
    // A new table, hidden while it is filled for a file, its updates held until
    // ResumeUpdates.
    virtual void NewTable(bool hidden) = 0;
    // Lets the application react and draw again; false when it holds no table to save or
    // close.
    virtual bool ResumeUpdates() = 0;

    bool IsAttached() const { return static_cast<bool>(m_server); }
    IDispatch* Sheet() const { return m_sheet.Get(); }
    IDispatch* Range() const { return m_range.Get(); }
    void SetRange(IDispatch* range) { m_range.Reset(range); }

protected:
    explicit CAutomationApp(const wchar_t* progId) : m_progId(progId) {}
    // The objects below the server, once it was created; throws when one cannot be had.
    virtual void Attach() = 0;
    // The range, the sheet, then the objects Attach and the document calls took, last first.
    void ReleaseBelowServer();
    virtual void ReleaseObjects() = 0;

    CDispatchRef m_server, m_sheet, m_range;

private:
    const wchar_t* m_progId;
};

// Excel: the server object, Application, Workbooks, the workbook, the active sheet and the
// current range.
class CExcelAuto final : public CAutomationApp
{
public:
    CExcelAuto();

    // Hidden or visible; opens the file, or adds a new workbook when fileName is null.
    void OpenWorkbook(bool hidden, const wchar_t* fileName);
    // 1-based corners; the range becomes the current one.
    void SelectRange(int left, int top, int right, int bottom);
    void AutoFitColumns(int count);
    // fileFormat 0: the application's default for the name, given without the argument.
    void SaveAs(const wchar_t* fileName, int fileFormat);
    void EnableEvents(bool enable);
    void Quit() override;
    void NewTable(bool hidden) override;
    // Without a workbook Excel still quits on a discard: true.
    bool ResumeUpdates() override;

    bool HasWorkbook() const { return static_cast<bool>(m_workbook); }

protected:
    void Attach() override;
    void ReleaseObjects() override;

private:
    CDispatchRef m_application, m_workbooks, m_workbook;
};

// Calc: the service manager, the desktop, the document, the sheets, the sheet and the
// current cell range.
class COOCalcAuto final : public CAutomationApp
{
public:
    COOCalcAuto();

    // Hidden with the "Hidden" load argument; a new spreadsheet when fileName is null or empty.
    void LoadDocument(bool hidden, const wchar_t* fileName);
    void SelectFirstSheet();
    // 0-based, inclusive.
    void GetUsedArea(int& startColumn, int& startRow, int& endColumn, int& endRow);
    void SelectRange(int left, int top, int right, int bottom);
    void SetOptimalWidths(int lastColumn);
    void StoreAsUrl(const wchar_t* fileName);
    void LockControllers(bool unlock);
    void Quit() override;
    void NewTable(bool hidden) override;
    bool ResumeUpdates() override;

    bool HasDocument() const { return static_cast<bool>(m_document); }

protected:
    void Attach() override;
    void ReleaseObjects() override;

private:
    CDispatchRef m_desktop, m_document, m_sheets;
};

// What both importers share: creating the application on Open, the row steps and the cell
// conversions over the current cell's VARIANT.
class CAutomationTableImport : public CBTableImport
{
public:
    // After Open: the application could not be created, so the table is empty.
    bool IsApplicationMissing() const { return m_missing; }

    void Open(const wchar_t* fileName) final;
    bool NextRow() override;
    bool GetText(std::wstring& out) override;
    bool GetDouble(double& out) override;
    bool GetInt64(int64_t& out) override;

protected:
    // The application lives in the back-end; only its reference is taken here.
    explicit CAutomationTableImport(CAutomationApp& app) : m_app(app) {}

    // With the application created: the used cells of the file's first sheet.
    virtual void Load(const wchar_t* fileName) = 0;
    // Lets go of the cells Load took.
    virtual void Release() = 0;
    // The current cell; null when the position holds none (a short row, past the end).
    virtual const VARIANT* CurrentCell() const = 0;
    // Calc gives a lone CR for a line break inside a cell.
    virtual bool WidensLoneCr() const { return false; }

private:
    CAutomationApp& m_app;
    bool m_missing = false;
};

// An importer that owns its application: the application outlives the back-end's cells and
// quits when the back-end goes. The table was read; an application that does not quit cleanly
// changes nothing of it.
template <class TAuto>
class CAutomationImportOn : public CAutomationTableImport
{
protected:
    CAutomationImportOn() : CAutomationTableImport(m_auto) {}
    ~CAutomationImportOn() override { m_auto.QuitQuietly(); }

    TAuto m_auto;
};

class CExcelTableImport final : public CAutomationImportOn<CExcelAuto>
{
protected:
    void Load(const wchar_t* fileName) override;
    void Release() override;
    const VARIANT* CurrentCell() const override;

private:
    CVariant m_values;          // the used range's "Value"
    CAccessedArray m_cells;     // its cells, column by column
    CVariant m_single;          // a lone used cell, read as a 1 x 1 table
    bool m_isSingle = false;
};

class COOCalcTableImport final : public CAutomationImportOn<COOCalcAuto>
{
public:
    bool NextRow() override;

protected:
    void Load(const wchar_t* fileName) override;
    void Release() override;
    const VARIANT* CurrentCell() const override;
    bool WidensLoneCr() const override { return true; }

private:
    // The cells of row m_row: the row element's array, when it is one.
    void AccessRow();

    CVariant m_data;            // "getDataArray": an array of rows, each an array of cells
    CAccessedArray m_rows;
    CAccessedArray m_rowCells;  // the current row's cells
    LONG m_rowCellCount = 0;
};

// What both exporters share: the cell array, and the table's life over the application
// (creating it with CreateTable, saving or discarding it on Close).
class CAutomationTableExport : public CBTableExport
{
public:
    ~CAutomationTableExport() override;

    // False when the application cannot be created; nothing is touched then.
    bool CreateTable(int columns, int rows, const wchar_t* fileName);
    // CreateTable, and an error naming the applications when it is false.
    void Create(int columns, int rows, const wchar_t* fileName) override;
    bool PutInt64(int64_t value) override;
    bool PutText(const wchar_t* text) override;
    bool EndRow() override;
    void Close(bool discard) override;

protected:
    // The application lives in the back-end; only its reference is taken here.
    explicit CAutomationTableExport(CAutomationApp& app) : m_app(app) {}

    // Saves the table as m_fileName.
    virtual void Save() = 0;
    virtual void MakeNumber(int64_t value, VARIANT& cell) = 0;
    // Close(true), and the application let go of even when that fails; the table was thrown
    // away already, what the application says changes nothing.
    void Discard();

    std::wstring m_fileName;    // empty: a live table left to the user
    SAFEARRAY* m_cells = nullptr;   // rows x columns, both from 1

private:
    void MakeCells(int columns, int rows);
    void PutCell(VARIANT& cell);   // takes the value over
    void FreeCells();

    CAutomationApp& m_app;
};

// An exporter that owns its application; a table never closed is thrown away when the
// back-end goes.
template <class TAuto>
class CAutomationExportOn : public CAutomationTableExport
{
protected:
    CAutomationExportOn() : CAutomationTableExport(m_auto) {}
    ~CAutomationExportOn() override { Discard(); }

    TAuto m_auto;
};

class CExcelTableExport final : public CAutomationExportOn<CExcelAuto>
{
public:
    // fileFormat: kExcelFormatDefault or kExcelFormat97.
    explicit CExcelTableExport(int fileFormat = kExcelFormatDefault) : m_fileFormat(fileFormat) {}

    // One number format per column (empty: none), for the data rows below the header.
    void SetNumberFormats(std::vector<std::wstring> formats) { m_numberFormats = std::move(formats); }

    void Flush() override;

protected:
    void Save() override;
    void MakeNumber(int64_t value, VARIANT& cell) override;

private:
    std::vector<std::wstring> m_numberFormats;
    int m_fileFormat;
};

class COOCalcTableExport final : public CAutomationExportOn<COOCalcAuto>
{
public:
    void Flush() override;

protected:
    void Save() override;
    // Calc numbers are doubles.
    void MakeNumber(int64_t value, VARIANT& cell) override;
};

// The back-ends by kind; the key list and the formats page use these.
std::unique_ptr<CAutomationTableImport> CreateExcelTableImport();
std::unique_ptr<CAutomationTableImport> CreateCalcTableImport();
// textColumns: the columns (0-based positions) whose cells Excel must keep as text.
std::unique_ptr<CExcelTableExport> CreateExcelTableExport(int fileFormat, const std::vector<int>& textColumns);
std::unique_ptr<COOCalcTableExport> CreateCalcTableExport();

// With COM held: a new Excel (Calc) table that write fills and closes; the table goes before
// COM, since it lets go of its application.
void WriteExcelTable(int fileFormat, const std::vector<int>& textColumns,
                     const std::function<void(CBTableExport& table)>& write);
void WriteCalcTable(const std::function<void(CBTableExport& table)>& write);

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
