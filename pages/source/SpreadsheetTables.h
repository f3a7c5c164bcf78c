#pragma once
// Where the Excel and OpenOffice Calc back-ends of the table interfaces are made. Callers hold
// COM (CComInitScope) around the back-end's whole life, since destroying one closes or
// releases its application.
#include <windows.h>
#include <memory>
#include <vector>

#include "pages/source/TableIo.h"

// Excel file formats of CreateExcelTableExport.
constexpr int kExcelFormatDefault = 0;   // the application's own (".xlsx")
constexpr int kExcelFormat97 = 56;       // Excel 97-2003 (".xls")

// Each throws when the back-end cannot be made.
std::unique_ptr<CBTableImport> CreateExcelTableImport();
std::unique_ptr<CBTableImport> CreateCalcTableImport();
// textColumns: the columns (0-based positions) whose cells Excel must keep as text.
std::unique_ptr<CBTableExport> CreateExcelTableExport(int fileFormat, const std::vector<int>& textColumns);
std::unique_ptr<CBTableExport> CreateCalcTableExport();

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
