#include "pages/PageTable.h"

#include <windowsx.h>

#include "pages/PageHost.h"
#include "resources/resource.h"

void ApplySavedColumns(CTableCtrl& table, const CAppSettings& settings, AppColumnList list,
                       const std::vector<int>& titles)
{
    std::vector<ColumnDesc> columns = settings.Columns(list);
    if (columns.size() != titles.size())
        columns = GetDefaultColumns(list);
    table.SetColumns(columns, titles);
    table.ApplyColumns();
}

void StoreTableColumns(const CTableCtrl& table, CAppSettings& settings, AppColumnList list, const void* sender)
{
    CDocUpdateScope scope(settings, sender);
    if (!settings.IsUnsaved())
        settings.SetModified(ASC_UNSAVED);
    auto stored = settings.EditColumns(list);
    *stored = table.GetColumns();
    for (ColumnDesc& c : *stored)
        c.titleId = 0;
}

void AnswerTableDefaults(CTableCtrl& table, AppColumnList list, bool sorts)
{
    table.tableEvents.defaultColumns = [list](std::vector<ColumnDesc>* columns, bool) {
        if (columns)
            *columns = GetDefaultColumns(list);
        return true;
    };
    if (!sorts)
        table.tableEvents.headerMenu = [](HMENU menu) { DeleteMenu(menu, ID_NO_SORT_HEADER, MF_BYCOMMAND); };
}

unsigned TableLookChanges(uint32_t uiDetails)
{
    return ((uiDetails & ASU_TABLE_GRID) ? TABLE_LOOK_GRID : 0u) | ((uiDetails & ASU_ALT_LIST_COLOR) ? TABLE_LOOK_ALTERNATE : 0u) |
           ((uiDetails & ASU_NO_SORT_HEADER) ? TABLE_LOOK_NOSORT : 0u);
}

void RefreshPageTable(CTableCtrl& table, int count, IPageHost& host)
{
    HWND list = table.m_hWnd;
    const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    table.ScrollRowToTop(top);
    InvalidateRect(list, nullptr, FALSE);
    host.MarkDirty(HostUpdate::StatusBar);
}

POINT ContextMenuPoint(HWND list, POINT at)
{
    if (at.x == -1 && at.y == -1) {
        RECT rc{};
        GetWindowRect(list, &rc);
        at = {rc.left + 8, rc.top + 8};
    }
    return at;
}
