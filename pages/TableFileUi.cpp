#include "pages/TableFileUi.h"

#include <vector>

#include "core/File.h"
#include "framework/MessageBox.h"

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

bool ChooseExportFile(ITableFileUi& ui, UINT filterId, const TableExportFilters& filters, int& kind,
                      std::wstring& path)
{
    int filterIndex = filters.filterOfKind[static_cast<size_t>(kind)];
    if (!ui.ChooseFile(true, filterId, filterIndex, path))
        return false;
    if (filterIndex < 1 || static_cast<size_t>(filterIndex) >= filters.kindOfFilter.size()) {
        kind = 0;
        return true;
    }
    kind = filters.kindOfFilter[static_cast<size_t>(filterIndex)];
    if (*FindExtension(path.c_str()) == 0)
        path += filters.extensionOfKind[static_cast<size_t>(kind)];
    return true;
}
