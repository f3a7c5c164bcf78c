// The spreadsheet back-ends are not part of this build yet: making one fails with a text that
// says so, before any table or list is touched.
#include "pages/source/SpreadsheetTables.h"

#include <new>
#include <objbase.h>

#include "resources/ids_pages.h"

namespace {

[[noreturn]] void ThrowMissing()
{
    std::wstring text;
    LoadResString(IDS_SPREADSHEET_MISSING, text);
    throw CException(WStringToMultiByte(text, CP_ACP));
}

}  // namespace

std::unique_ptr<CBTableImport> CreateExcelTableImport()
{
    ThrowMissing();
}

std::unique_ptr<CBTableImport> CreateCalcTableImport()
{
    ThrowMissing();
}

std::unique_ptr<CBTableExport> CreateExcelTableExport(int, const std::vector<int>&)
{
    ThrowMissing();
}

std::unique_ptr<CBTableExport> CreateCalcTableExport()
{
    ThrowMissing();
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
