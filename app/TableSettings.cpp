#include "app/TableSettings.h"

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/ShellServices.h"

bool CAppTableSettings::GetNoSortHeader()
{
    return m_app.GetSettings().GetNoSortHeader();
}

void CAppTableSettings::SetNoSortHeader(bool on)
{
    m_app.GetSettings().SetNoSortHeader(on);
}

bool CAppTableSettings::GetTableGrid()
{
    return m_app.GetSettings().view.tableGrid;
}

bool CAppTableSettings::GetAlternateRows()
{
    return m_app.GetSettings().view.altListBkColor;
}

std::vector<ColumnDesc> CAppTableSettings::GetChooserColumns()
{
    return m_app.GetSettings().Columns(COLS_COLUMNLIST);
}

void CAppTableSettings::StoreChooserColumns(const std::vector<ColumnDesc>& columns)
{
    CSettingsEdit<std::vector<ColumnDesc>> stored = m_app.GetSettings().EditColumns(COLS_COLUMNLIST);
    stored->resize(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        ColumnDesc& c = (*stored)[i];
        c.width = columns[i].width;
        c.order = columns[i].order;
        c.format = columns[i].format;
        c.flags = columns[i].flags & (COLF_VISIBLE | COLF_AUTOSIZE);
    }
}

CDocument* CAppTableSettings::GetSettingsDocument()
{
    return &m_app.GetSettings();
}

void CAppTableSettings::ExchangeChooserPlacement(bool save, HWND dialog)
{
    m_app.ExchangeWindowPlacement(save, dialog, kPlacementColumnList, -1);
}

CToolTipCtrl* CAppTableSettings::GetMainToolTip()
{
    return m_app.GetMainFrame() && m_app.GetMainFrame()->ToolTip().m_hWnd ? &m_app.GetMainFrame()->ToolTip() : nullptr;
}

ITableSettings& CNorvaneApp::GetTableSettings()
{
    static CAppTableSettings tables(*this);
    return tables;
}
