#include "pages/SpreadsheetTables.h"

#include <cmath>
#include <cwchar>
#include <initializer_list>
#include <new>
#include <objbase.h>

#include "core/SysUtil.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "resources/ids_pages.h"

namespace {

const wchar_t* const kExcelProgId = L"Excel.Application";
const wchar_t* const kCalcProgId = L"com.sun.star.ServiceManager";
constexpr WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

void Check(HRESULT hr)
{
    if (hr == E_OUTOFMEMORY)
        throw std::bad_alloc();
    if (FAILED(hr))
        ThrowComError(hr);
}

VARIANT Bool(bool value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT Int(int value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// The text lives as long as the holder.
struct CText
{
    explicit CText(const wchar_t* text) : bstr(SysAllocString(text ? text : L""))
    {
        if (!bstr)
            throw std::bad_alloc();
    }
    explicit CText(const std::wstring& text) : bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (!bstr)
            throw std::bad_alloc();
    }
    ~CText() { SysFreeString(bstr); }
    CText(const CText&) = delete;
    CText& operator=(const CText&) = delete;
    VARIANT Arg() const
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = bstr;
        return v;
    }
    BSTR bstr;
};

VARIANT Object(IDispatch* object)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = object;
    return v;
}

VARIANT Array(SAFEARRAY* array)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = array;
    return v;
}

// Arguments in the callee's order; DispatchInvoke wants them last first.
HRESULT InvokeByName(WORD flags, VARIANT* result, IDispatch* object, const wchar_t* name,
                     std::initializer_list<VARIANT> args)
{
    std::vector<VARIANT> list(args.begin(), args.end());
    std::vector<VARIANT> reversed(list.rbegin(), list.rend());
    return DispatchInvokeArgs(flags, result, object, name, static_cast<int>(reversed.size()),
                              reversed.empty() ? nullptr : reversed.data());
}

void Method(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args = {})
{
    CVariant result;
    Check(InvokeByName(DISPATCH_METHOD, &result.v, object, name, args));
}

void Put(IDispatch* object, const wchar_t* name, VARIANT value)
{
    Check(DispatchInvoke(DISPATCH_PROPERTYPUT, nullptr, object, name, value));
}

void Get(IDispatch* object, const wchar_t* name, VARIANT& out, std::initializer_list<VARIANT> args = {})
{
    VariantClear(&out);
    Check(InvokeByName(kGet, &out, object, name, args));
}

// The object a member gives; a result that is no object is a type mismatch.
IDispatch* GetObject(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args = {})
{
    CVariant result;
    Get(object, name, result.v, args);
    if (result.v.vt != VT_DISPATCH || !result.v.pdispVal)
        ThrowComError(DISP_E_TYPEMISMATCH);
    IDispatch* found = result.v.pdispVal;
    found->AddRef();
    return found;
}

int GetInt(IDispatch* object, const wchar_t* name)
{
    CVariant result;
    Get(object, name, result.v);
    Check(VariantChangeType(&result.v, &result.v, 0, VT_I4));
    return result.v.lVal;
}

SAFEARRAY* MakeVector(LONG count)
{
    SAFEARRAYBOUND bound{static_cast<ULONG>(count), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (!array)
        throw std::bad_alloc();
    return array;
}

struct CArrayHolder
{
    explicit CArrayHolder(SAFEARRAY* a) : array(a) {}
    ~CArrayHolder()
    {
        if (array)
            SafeArrayDestroy(array);
    }
    CArrayHolder(const CArrayHolder&) = delete;
    CArrayHolder& operator=(const CArrayHolder&) = delete;
    SAFEARRAY* array;
};

SAFEARRAY* ArrayOf(const VARIANT& value)
{
    if (value.vt == (VT_ARRAY | VT_VARIANT))
        return value.parray;
    if (value.vt == (VT_BYREF | VT_ARRAY | VT_VARIANT) && value.pparray)
        return *value.pparray;
    return nullptr;
}

// The array's data accessed and held; the previous array held is let go of first.
void Access(SAFEARRAY* array, CAccessedArray& held)
{
    held.reset();
    void* data = nullptr;
    Check(SafeArrayAccessData(array, &data));
    held.reset(array);
}

// The elements of an accessed array; null for none.
const VARIANT* Cells(const CAccessedArray& held)
{
    return held ? static_cast<const VARIANT*>(held->pvData) : nullptr;
}

LONG Elements(SAFEARRAY* array, UINT dimension)
{
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, dimension, &lower)) || FAILED(SafeArrayGetUBound(array, dimension, &upper)))
        return 0;
    return upper >= lower ? upper - lower + 1 : 0;
}

// The sheet's columns first to last, each from the "Columns" collection by its item method
// (the applications number them differently).
template <class Step>
void ForEachColumn(IDispatch* sheet, const wchar_t* item, int first, int last, Step step)
{
    CDispatchRef columns;
    columns.Reset(GetObject(sheet, L"Columns"));
    for (int n = first; n <= last; ++n) {
        CDispatchRef column;
        column.Reset(GetObject(columns.Get(), item, {Int(n)}));
        step(column.Get());
    }
}

// A method that ends the object (quit, close, terminate), called on a reference taken out of
// its holder first: the holder is empty whatever the call does. Nothing when it is empty.
void CallDetached(CDispatchRef& holder, const wchar_t* name, std::initializer_list<VARIANT> args = {})
{
    if (!holder)
        return;
    CDispatchRef object;
    object.Reset(holder.Get());
    object.Get()->AddRef();
    holder.Reset();
    Method(object.Get(), name, args);
}

}  // namespace

// ---- Holders and helpers

void CDispatchRef::Reset(IDispatch* object)
{
    if (m_object)
        m_object->Release();
    m_object = object;
}

std::wstring MakeFileUrl(const wchar_t* fileName)
{
    std::wstring url = L"file://localhost/";
    for (const wchar_t* p = fileName ? fileName : L""; *p; ++p) {
        if (*p == L' ')
            url += L"%20";
        else
            url += *p == L'\\' ? L'/' : *p;
    }
    return url;
}

void ThrowSpreadsheetMissing()
{
    std::wstring text;
    LoadResString(IDS_SPREADSHEET_MISSING, text);
    throw CException(WStringToMultiByte(text, CP_ACP));
}

// ---- Applications

bool CAutomationApp::Create()
{
    ReleaseAll();
    IDispatch* server = nullptr;
    if (FAILED(SystemServices().CreateAutomationObject(m_progId, &server)) || !server)
        return false;
    m_server.Reset(server);
    try {
        Attach();
    } catch (...) {
        ReleaseAll();
        return false;
    }
    return true;
}

void CAutomationApp::ReleaseBelowServer()
{
    m_range.Reset();
    m_sheet.Reset();
    ReleaseObjects();
}

void CAutomationApp::ReleaseAll()
{
    ReleaseBelowServer();
    m_server.Reset();
}

void CAutomationApp::QuitQuietly()
{
    try {
        if (IsAttached())
            Quit();
    } catch (const std::exception&) {
        // The table is done with the application; how it quits changes nothing of it.
    }
    ReleaseAll();
}

// ---- Excel

CExcelAuto::CExcelAuto() : CAutomationApp(kExcelProgId) {}

void CExcelAuto::Attach()
{
    m_application.Reset(GetObject(m_server.Get(), L"Application"));
    m_workbooks.Reset(GetObject(m_application.Get(), L"Workbooks"));
}

void CExcelAuto::OpenWorkbook(bool hidden, const wchar_t* fileName)
{
    Put(m_server.Get(), L"Visible", Bool(!hidden));
    if (fileName) {
        CText name(fileName);
        m_workbook.Reset(GetObject(m_workbooks.Get(), L"Open", {name.Arg()}));
    } else {
        m_workbook.Reset(GetObject(m_workbooks.Get(), L"Add"));
    }
    m_sheet.Reset(GetObject(m_workbook.Get(), L"ActiveSheet"));
}

void CExcelAuto::SelectRange(int left, int top, int right, int bottom)
{
    CDispatchRef cells, first, second;
    cells.Reset(GetObject(m_sheet.Get(), L"Cells"));
    first.Reset(GetObject(cells.Get(), L"Item", {Int(top), Int(left)}));
    second.Reset(GetObject(cells.Get(), L"Item", {Int(bottom), Int(right)}));
    m_range.Reset(GetObject(m_sheet.Get(), L"Range", {Object(first.Get()), Object(second.Get())}));
}

void CExcelAuto::AutoFitColumns(int count)
{
    ForEachColumn(m_sheet.Get(), L"Item", 1, count, [](IDispatch* column) { Method(column, L"AutoFit"); });
}

void CExcelAuto::SaveAs(const wchar_t* fileName, int fileFormat)
{
    Put(m_server.Get(), L"DisplayAlerts", Bool(false));
    CText name(fileName);
    if (fileFormat != 0)
        Method(m_workbook.Get(), L"SaveAs", {name.Arg(), Int(fileFormat)});
    else
        Method(m_workbook.Get(), L"SaveAs", {name.Arg()});
}

void CExcelAuto::EnableEvents(bool enable)
{
    Put(m_application.Get(), L"EnableEvents", Bool(enable));
}

void CExcelAuto::NewTable(bool hidden)
{
    OpenWorkbook(hidden, nullptr);
    EnableEvents(false);
}

bool CExcelAuto::ResumeUpdates()
{
    if (HasWorkbook())
        EnableEvents(true);
    return true;
}

void CExcelAuto::Quit()
{
    ReleaseBelowServer();
    CallDetached(m_server, L"Quit");
}

void CExcelAuto::ReleaseObjects()
{
    m_workbook.Reset();
    m_workbooks.Reset();
    m_application.Reset();
}

// ---- Calc

COOCalcAuto::COOCalcAuto() : CAutomationApp(kCalcProgId) {}

void COOCalcAuto::Attach()
{
    CText name(L"com.sun.star.frame.Desktop");
    m_desktop.Reset(GetObject(m_server.Get(), L"CreateInstance", {name.Arg()}));
}

void COOCalcAuto::LoadDocument(bool hidden, const wchar_t* fileName)
{
    CText url(fileName && *fileName ? MakeFileUrl(fileName) : std::wstring(L"private:factory/scalc"));
    CText target(L"_blank");
    CArrayHolder arguments(MakeVector(hidden ? 1 : 0));
    if (hidden) {
        CText type(L"com.sun.star.beans.PropertyValue");
        CDispatchRef property;
        property.Reset(GetObject(m_server.Get(), L"Bridge_GetStruct", {type.Arg()}));
        CText name(L"Hidden");
        Put(property.Get(), L"Name", name.Arg());
        Put(property.Get(), L"Value", Bool(true));
        LONG at = 0;
        VARIANT element = Object(property.Get());
        Check(SafeArrayPutElement(arguments.array, &at, &element));
    }
    m_document.Reset(GetObject(m_desktop.Get(), L"LoadComponentFromURL",
                               {url.Arg(), target.Arg(), Int(0), Array(arguments.array)}));
    m_sheets.Reset(GetObject(m_document.Get(), L"getSheets"));
}

void COOCalcAuto::SelectFirstSheet()
{
    m_sheet.Reset(GetObject(m_sheets.Get(), L"getByIndex", {Int(0)}));
}

void COOCalcAuto::GetUsedArea(int& startColumn, int& startRow, int& endColumn, int& endRow)
{
    CDispatchRef cursor, address;
    cursor.Reset(GetObject(m_sheet.Get(), L"createCursor"));
    Method(cursor.Get(), L"gotoStartOfUsedArea", {Bool(false)});
    Method(cursor.Get(), L"gotoEndOfUsedArea", {Bool(true)});
    address.Reset(GetObject(cursor.Get(), L"getRangeAddress"));
    startColumn = GetInt(address.Get(), L"StartColumn");
    startRow = GetInt(address.Get(), L"StartRow");
    endColumn = GetInt(address.Get(), L"EndColumn");
    endRow = GetInt(address.Get(), L"EndRow");
}

void COOCalcAuto::SelectRange(int left, int top, int right, int bottom)
{
    m_range.Reset(GetObject(m_sheet.Get(), L"getCellRangeByPosition", {Int(left), Int(top), Int(right), Int(bottom)}));
}

void COOCalcAuto::SetOptimalWidths(int lastColumn)
{
    ForEachColumn(m_sheet.Get(), L"getByIndex", 0, lastColumn,
                  [](IDispatch* column) { Put(column, L"OptimalWidth", Bool(true)); });
}

void COOCalcAuto::StoreAsUrl(const wchar_t* fileName)
{
    CText url(MakeFileUrl(fileName));
    CArrayHolder none(MakeVector(0));
    Method(m_document.Get(), L"storeAsURL", {url.Arg(), Array(none.array)});
}

void COOCalcAuto::LockControllers(bool unlock)
{
    Method(m_document.Get(), unlock ? L"unLockControllers" : L"lockControllers");
    Method(m_document.Get(), unlock ? L"removeActionLock" : L"addActionLock");
}

void COOCalcAuto::NewTable(bool hidden)
{
    LoadDocument(hidden, nullptr);
    SelectFirstSheet();
    LockControllers(false);
}

bool COOCalcAuto::ResumeUpdates()
{
    if (!HasDocument())
        return false;
    LockControllers(true);
    return true;
}

void COOCalcAuto::Quit()
{
    m_range.Reset();
    m_sheet.Reset();
    m_sheets.Reset();
    CallDetached(m_document, L"close", {Bool(true)});
    CallDetached(m_desktop, L"terminate");
}

void COOCalcAuto::ReleaseObjects()
{
    m_sheets.Reset();
    m_document.Reset();
    m_desktop.Reset();
}

// ---- Cell conversions

bool CAutomationTableImport::GetText(std::wstring& out)
{
    out.clear();
    const VARIANT* cell = CurrentCell();
    if (!cell)
        return false;
    wchar_t buffer[400];
    switch (cell->vt) {
    case VT_I4: out = std::to_wstring(cell->lVal); return true;
    case VT_UI4: out = std::to_wstring(cell->ulVal); return true;
    case VT_I8: out = std::to_wstring(cell->llVal); return true;
    case VT_UI8: out = std::to_wstring(cell->ullVal); return true;
    case VT_R4:
    case VT_R8:
        swprintf(buffer, 400, L"%f", cell->vt == VT_R4 ? static_cast<double>(cell->fltVal) : cell->dblVal);
        out = buffer;
        return true;
    case VT_BSTR:
        out.assign(cell->bstrVal ? cell->bstrVal : L"", SysStringLen(cell->bstrVal));
        if (WidensLoneCr())
            for (size_t i = 0; i < out.size(); ++i)
                if (out[i] == L'\r' && (i + 1 == out.size() || out[i + 1] != L'\n'))
                    out.insert(++i, 1, L'\n');
        return true;
    default:
        return false;
    }
}

bool CAutomationTableImport::GetDouble(double& out)
{
    const VARIANT* cell = CurrentCell();
    switch (cell ? cell->vt : static_cast<VARTYPE>(VT_EMPTY)) {
    case VT_I4: out = cell->lVal; return true;
    case VT_UI4: out = cell->ulVal; return true;
    case VT_R4: out = cell->fltVal; return true;
    case VT_R8: out = cell->dblVal; return true;
    case VT_I8: out = static_cast<double>(cell->llVal); return true;
    case VT_UI8: out = static_cast<double>(cell->ullVal); return true;
    default:
        return CBTableImport::GetDouble(out);
    }
}

bool CAutomationTableImport::GetInt64(int64_t& out)
{
    const VARIANT* cell = CurrentCell();
    auto truncated = [&out](double value) {
        // Outside the 64-bit range (or not a number) there is no integer to give.
        if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0))
            return false;
        out = static_cast<int64_t>(value);
        return true;
    };
    switch (cell ? cell->vt : static_cast<VARTYPE>(VT_EMPTY)) {
    case VT_I4: out = cell->lVal; return true;
    case VT_UI4: out = cell->ulVal; return true;
    case VT_R4: return truncated(cell->fltVal);
    case VT_R8: return truncated(cell->dblVal);
    case VT_I8: out = cell->llVal; return true;
    case VT_UI8: out = static_cast<int64_t>(cell->ullVal); return true;
    default:
        return CBTableImport::GetInt64(out);
    }
}

// ---- Imports

void CAutomationTableImport::Open(const wchar_t* fileName)
{
    Release();
    m_column = m_row = m_columnCount = m_rowCount = 0;
    m_missing = !m_app.Create();
    if (!m_missing)
        Load(fileName);
}

bool CAutomationTableImport::NextRow()
{
    if (m_row + 1 >= m_rowCount)
        return false;
    ++m_row;
    m_column = 0;
    return true;
}

void CExcelTableImport::Release()
{
    m_cells.reset();
    m_isSingle = false;
    VariantClear(&m_values.v);
    VariantClear(&m_single.v);
}

void CExcelTableImport::Load(const wchar_t* fileName)
{
    m_auto.OpenWorkbook(true, fileName);
    m_auto.SetRange(GetObject(m_auto.Sheet(), L"UsedRange"));
    Get(m_auto.Range(), L"Value", m_values.v);

    SAFEARRAY* array = ArrayOf(m_values.v);
    if (array && SafeArrayGetDim(array) == 2) {
        const LONG rows = Elements(array, 1), columns = Elements(array, 2);
        if (rows > 0 && columns > 0) {
            Access(array, m_cells);
            m_rowCount = rows;
            m_columnCount = columns;
        }
    } else if (!array && m_values.v.vt != VT_EMPTY && m_values.v.vt != VT_NULL) {
        // The value of a range of one cell is that cell.
        Check(VariantCopy(&m_single.v, &m_values.v));
        m_isSingle = true;
        m_rowCount = m_columnCount = 1;
    }
}

const VARIANT* CExcelTableImport::CurrentCell() const
{
    if (m_row < 0 || m_row >= m_rowCount || m_column < 0 || m_column >= m_columnCount)
        return nullptr;
    if (m_isSingle)
        return &m_single.v;
    // Column by column: the rows of a column lie together.
    const VARIANT* cells = Cells(m_cells);
    return cells ? &cells[static_cast<size_t>(m_column) * static_cast<size_t>(m_rowCount) + m_row] : nullptr;
}

void COOCalcTableImport::Release()
{
    m_rowCells.reset();
    m_rowCellCount = 0;
    m_rows.reset();
    VariantClear(&m_data.v);
}

void COOCalcTableImport::Load(const wchar_t* fileName)
{
    m_auto.LoadDocument(true, fileName);
    m_auto.SelectFirstSheet();
    int startColumn = 0, startRow = 0, endColumn = 0, endRow = 0;
    m_auto.GetUsedArea(startColumn, startRow, endColumn, endRow);
    if (endColumn < startColumn || endRow < startRow)
        return;
    m_columnCount = endColumn - startColumn + 1;
    m_rowCount = endRow - startRow + 1;
    m_auto.SelectRange(startColumn, startRow, endColumn, endRow);
    Get(m_auto.Range(), L"getDataArray", m_data.v);

    SAFEARRAY* rows = ArrayOf(m_data.v);
    if (rows && SafeArrayGetDim(rows) == 1) {
        Access(rows, m_rows);
        AccessRow();
    }
}

void COOCalcTableImport::AccessRow()
{
    m_rowCells.reset();
    m_rowCellCount = 0;
    if (!m_rows || m_row >= Elements(m_rows.get(), 1))
        return;
    const VARIANT& element = Cells(m_rows)[m_row];
    SAFEARRAY* cells = ArrayOf(element);
    if (!cells || SafeArrayGetDim(cells) != 1)
        return;   // no array of cells: the row reads as empty cells
    Access(cells, m_rowCells);
    m_rowCellCount = Elements(cells, 1);
}

bool COOCalcTableImport::NextRow()
{
    if (!CAutomationTableImport::NextRow())
        return false;
    AccessRow();
    return true;
}

const VARIANT* COOCalcTableImport::CurrentCell() const
{
    if (!m_rowCells || m_column < 0 || m_column >= m_rowCellCount || m_column >= m_columnCount)
        return nullptr;
    return &Cells(m_rowCells)[m_column];
}

// ---- Exports

CAutomationTableExport::~CAutomationTableExport()
{
    FreeCells();
}

void CAutomationTableExport::FreeCells()
{
    if (m_cells) {
        SafeArrayDestroy(m_cells);
        m_cells = nullptr;
    }
}

bool CAutomationTableExport::CreateTable(int columns, int rows, const wchar_t* fileName)
{
    m_fileName = fileName ? fileName : L"";
    m_columnCount = columns;
    m_rowCount = rows;
    m_column = m_row = 0;
    FreeCells();
    if (!m_app.Create())
        return false;
    m_app.NewTable(!m_fileName.empty());
    if (columns > 0 && rows > 0)
        MakeCells(columns, rows);
    return true;
}

void CAutomationTableExport::Create(int columns, int rows, const wchar_t* fileName)
{
    if (!CreateTable(columns, rows, fileName))
        ThrowSpreadsheetMissing();
}

void CAutomationTableExport::MakeCells(int columns, int rows)
{
    FreeCells();
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), 1}, {static_cast<ULONG>(columns), 1}};
    m_cells = SafeArrayCreate(VT_VARIANT, 2, bounds);
    if (!m_cells)
        throw std::bad_alloc();
}

void CAutomationTableExport::PutCell(VARIANT& cell)
{
    if (m_cells) {
        LONG at[2] = {m_row + 1, m_column + 1};
        const HRESULT hr = SafeArrayPutElement(m_cells, at, &cell);
        VariantClear(&cell);
        Check(hr);
    } else {
        VariantClear(&cell);
    }
    ++m_column;
}

bool CAutomationTableExport::PutInt64(int64_t value)
{
    if (m_column >= m_columnCount || m_row >= m_rowCount)
        return false;
    VARIANT cell;
    VariantInit(&cell);
    MakeNumber(value, cell);
    PutCell(cell);
    return true;
}

bool CAutomationTableExport::PutText(const wchar_t* text)
{
    if (m_column >= m_columnCount || m_row >= m_rowCount)
        return false;
    VARIANT cell;
    VariantInit(&cell);
    cell.vt = VT_BSTR;
    cell.bstrVal = SysAllocString(text ? text : L"");
    if (!cell.bstrVal)
        throw std::bad_alloc();
    PutCell(cell);
    return true;
}

bool CAutomationTableExport::EndRow()
{
    if (m_row >= m_rowCount)
        return false;
    ++m_row;
    m_column = 0;
    return true;
}

void CAutomationTableExport::Close(bool discard)
{
    FreeCells();
    if (!m_app.IsAttached())
        return;
    if (m_app.ResumeUpdates()) {
        if (discard) {
            m_app.Quit();
        } else if (!m_fileName.empty()) {
            Save();
            m_app.Quit();
        }
    }
    m_app.ReleaseAll();
}

void CAutomationTableExport::Discard()
{
    try {
        Close(true);
    } catch (const std::exception&) {
        // Thrown away already; what the application says about it changes nothing.
    }
    m_app.ReleaseAll();
}

void CExcelTableExport::Save()
{
    m_auto.SaveAs(m_fileName.c_str(), m_fileFormat);
}

void CExcelTableExport::MakeNumber(int64_t value, VARIANT& cell)
{
    cell.vt = VT_I8;
    cell.llVal = value;
}

void CExcelTableExport::Flush()
{
    if (!m_auto.HasWorkbook() || !m_cells)
        return;
    const int formatted = std::min(m_columnCount, static_cast<int>(m_numberFormats.size()));
    for (int column = 1; column <= formatted && m_rowCount >= 2; ++column) {
        const std::wstring& format = m_numberFormats[static_cast<size_t>(column - 1)];
        if (format.empty())
            continue;
        m_auto.SelectRange(column, 2, column, m_rowCount);
        CText text(format);
        Put(m_auto.Range(), L"NumberFormat", text.Arg());
    }
    m_auto.SelectRange(1, 1, m_columnCount, m_rowCount);
    Put(m_auto.Range(), L"Value", Array(m_cells));
    m_auto.AutoFitColumns(m_columnCount);
}

void COOCalcTableExport::Save()
{
    m_auto.StoreAsUrl(m_fileName.c_str());
}

void COOCalcTableExport::MakeNumber(int64_t value, VARIANT& cell)
{
    cell.vt = VT_R8;
    cell.dblVal = static_cast<double>(value);
}

void COOCalcTableExport::Flush()
{
    if (!m_auto.HasDocument() || !m_cells)
        return;
    // Calc takes an array of rows, each an array of cells, both from 0.
    CArrayHolder rows(MakeVector(m_rowCount));
    for (LONG r = 0; r < m_rowCount; ++r) {
        CArrayHolder cells(MakeVector(m_columnCount));
        for (LONG c = 0; c < m_columnCount; ++c) {
            LONG from[2] = {r + 1, c + 1};
            CVariant cell;
            Check(SafeArrayGetElement(m_cells, from, &cell.v));
            Check(SafeArrayPutElement(cells.array, &c, &cell.v));
        }
        VARIANT row = Array(cells.array);
        Check(SafeArrayPutElement(rows.array, &r, &row));
    }
    m_auto.SelectRange(0, 0, m_columnCount - 1, m_rowCount - 1);
    Method(m_auto.Range(), L"setDataArray", {Array(rows.array)});
    m_auto.SetOptimalWidths(m_columnCount - 1);
}

// ---- Factories and COM

std::unique_ptr<CAutomationTableImport> CreateExcelTableImport()
{
    return std::make_unique<CExcelTableImport>();
}

std::unique_ptr<CAutomationTableImport> CreateCalcTableImport()
{
    return std::make_unique<COOCalcTableImport>();
}

std::unique_ptr<CExcelTableExport> CreateExcelTableExport(int fileFormat, const std::vector<int>& textColumns)
{
    auto table = std::make_unique<CExcelTableExport>(fileFormat);
    std::vector<std::wstring> formats;
    for (int column : textColumns) {
        if (column < 0)
            continue;
        if (formats.size() <= static_cast<size_t>(column))
            formats.resize(static_cast<size_t>(column) + 1);
        formats[static_cast<size_t>(column)] = L"@";
    }
    table->SetNumberFormats(std::move(formats));
    return table;
}

std::unique_ptr<COOCalcTableExport> CreateCalcTableExport()
{
    return std::make_unique<COOCalcTableExport>();
}

void WriteExcelTable(int fileFormat, const std::vector<int>& textColumns,
                     const std::function<void(CBTableExport& table)>& write)
{
    CComInitScope com;
    write(*CreateExcelTableExport(fileFormat, textColumns));
}

void WriteCalcTable(const std::function<void(CBTableExport& table)>& write)
{
    CComInitScope com;
    write(*CreateCalcTableExport());
}

CComInitScope::CComInitScope()
{
    const HRESULT hr = CoInitialize(nullptr);
    if (hr == E_OUTOFMEMORY)
        throw std::bad_alloc();
    if (FAILED(hr))
        ThrowComError(hr);
}

CComInitScope::~CComInitScope()
{
    CoUninitialize();
}
