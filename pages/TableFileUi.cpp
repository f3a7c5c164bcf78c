#include "pages/TableFileUi.h"

#include <vector>

#include "core/File.h"
#include "framework/MessageBox.h"
#include "pages/CsvTable.h"
#include "pages/SpreadsheetTables.h"

bool CTableFileUi::IsAppendHeld()
{
    return GetKeyState(VK_SHIFT) < 0;
}

bool CTableFileUi::ChooseFile(bool save, UINT filterId, int& filterIndex, std::wstring& path)
{
    // One file: a choice of several would import only the first of them.
    const DWORD flags =
        OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    std::vector<std::wstring> names;
    if (!ShowFileDialog(names, &filterIndex, save, filterId, m_owner, flags) || names.empty())
        return false;
    path = names.front();
    return true;
}

bool RunTableExport(ITableFileUi& ui, const TableExportKinds& kinds, int kind, const std::function<void(int)>& store,
                    const TableExportWriter& writer)
{
    if (kind < 1 || static_cast<size_t>(kind) >= kinds.kinds.size())
        return true;
    int filterIndex = kinds.kinds[static_cast<size_t>(kind)].filterIndex;
    std::wstring path;
    if (filterIndex != 0) {
        if (!ui.ChooseFile(true, kinds.filterId, filterIndex, path))
            return false;
        if (filterIndex < 1 || static_cast<size_t>(filterIndex) >= kinds.kindOfFilter.size())
            return true;
        kind = kinds.kindOfFilter[static_cast<size_t>(filterIndex)];
    }
    store(kind);
    const TableExportKind& chosen = kinds.kinds[static_cast<size_t>(kind)];
    const wchar_t* file = nullptr;
    if (filterIndex != 0) {
        if (*FindExtension(path.c_str()) == 0)
            path += chosen.extension;
        file = path.c_str();
    }
    const auto writeTable = [&](CBTableExport& table) { writer.writeTable(table, file); };
    switch (chosen.target) {
    case TET_CSV: {
        CCsvTableExport csv(writer.csv);
        writeTable(csv);
        break;
    }
    case TET_EXCEL:
    case TET_EXCEL97:
        WriteExcelTable(chosen.target == TET_EXCEL97 ? kExcelFormat97 : kExcelFormatDefault, writer.excelTextColumns,
                        writeTable);
        break;
    case TET_CALC:
        WriteCalcTable(writeTable);
        break;
    case TET_OTHER:
        writer.writeOther(kind, file);
        break;
    }
    return true;
}
