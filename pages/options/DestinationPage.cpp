// The destination page.
#include "pages/options/DestinationPage.h"

#include <commctrl.h>
#include <algorithm>

#include "config/AppSettings.h"
#include "config/TransferDoc.h"
#include "core/TextUtil.h"
#include "pages/PageHost.h"
#include "pages/PageTable.h"
#include "pages/PageRegistry.h"
#include "resources/resource.h"

namespace {

constexpr int kTitleIds[DSTCOL_COUNT] = {IDS_DST_COL_CHOICE, IDS_DST_COL_NUMBER, IDS_DST_COL_NAME, IDS_DST_COL_TYPE,
                                         IDS_DST_COL_PARAMETERS};

std::wstring ResText(UINT id)
{
    std::wstring text;
    LoadResString(id, text);
    return text;
}

} // namespace

std::vector<ColumnDesc> DestinationDefaultColumns()
{
    std::vector<ColumnDesc> columns = GetDefaultColumns(COLS_DESTINATION);
    for (size_t i = 0; i < columns.size() && i < DSTCOL_COUNT; ++i)
        columns[i].titleId = kTitleIds[i];
    return columns;
}

// ---- CDestinationLvData ----

int CDestinationLvData::GetItemCount()
{
    return kDestinationCount;
}

std::wstring CDestinationLvData::CellText(int row, int column) const
{
    const int type = row + 1;
    const std::shared_ptr<_TRANS_DST> record = m_doc.GetDestination(type);
    if (!record)
        return {};
    switch (column) {
    case DSTCOL_NUMBER:
        return std::to_wstring(row + 1);
    case DSTCOL_NAME:
        // The record's own name when it has one, else the destination's.
        return record->text.empty() ? ResText(IDS_DEST_NAME_BASE + type) : record->text;
    case DSTCOL_PARAMETERS:
        switch (type) {
        case DEST_KEYBOARD:
            return ResText(IDS_KBD_METHOD_BASE + std::clamp(m_doc.Keyboard().method, 1, 3));
        case DEST_PORTAVO: {
            const _TRANS_DST_PORTAVO& bridge = m_doc.Portavo();
            if (bridge.mode == PORTAVO_CLIENT)
                return bridge.address;
            return bridge.mode == PORTAVO_SERVER ? std::to_wstring(bridge.port) : std::wstring();
        }
        case DEST_CMDLINE:
            return m_doc.CmdLine().program;
        case DEST_HTTP:
            return m_doc.HttpRequest().address;
        default:
            return {};
        }
    default:
        return {};
    }
}

void CDestinationLvData::GetDispInfo(LVITEMW* item)
{
    const int row = item->iItem;
    if (row < 0 || row >= kDestinationCount)
        return;
    if (item->mask & LVIF_STATE) {
        const bool current = m_doc.GetDestinationType() == row + 1;
        item->state = INDEXTOSTATEIMAGEMASK(current ? 2 : 1);
        item->stateMask = LVIS_STATEIMAGEMASK;
    }
    if (!(item->mask & LVIF_TEXT) || !item->pszText || item->cchTextMax <= 0)
        return;
    const int column = m_visibleMap && item->iSubItem >= 0 && item->iSubItem < static_cast<int>(m_visibleMap->size())
                           ? (*m_visibleMap)[item->iSubItem]
                           : item->iSubItem;
    if (column == DSTCOL_NUMBER && row >= m_first && row - m_first < static_cast<int>(m_cache.size()))
        m_text = m_cache[row - m_first].number;
    else
        m_text = CellText(row, column);
    lstrcpynW(item->pszText, m_text.c_str(), item->cchTextMax);
}

void CDestinationLvData::CacheHint(int from, int to)
{
    if (from >= m_first && to < m_first + static_cast<int>(m_cache.size()))
        return;
    m_cache.clear();
    m_first = from;
    for (int row = from; row <= to; ++row)
        m_cache.push_back(CachedRow{row, std::to_wstring(row + 1)});
}

// ---- CDestinationPage ----

CDestinationPage::CDestinationPage(IPageHost& host) : CBasePage(IDD_DESTINATION_PAGE, &host), m_data(host.GetTransferDoc())
{
    m_rowList = &m_table;
}

std::unique_ptr<CBasePage> CreateDestinationPage(IPageHost& host)
{
    return std::make_unique<CDestinationPage>(host);
}

bool CDestinationPage::OnInitDialog()
{
    m_table.Attach(Item(IDC_DST_LIST));
    const DWORD ex = LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_LABELTIP | LVS_EX_CHECKBOXES;
    m_table.Send(LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
    m_table.Send(LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    m_table.SetSettings(&m_host->GetTableSettings());
    m_table.SetHeaderTips(m_host->GetTableSettings().GetMainToolTip(), false);
    m_table.SetData(&m_data);
    m_table.tableEvents.columnsChanged = [this](int, int) { OnColumnsChanged(); };
    m_table.tableEvents.defaultColumns = [](std::vector<ColumnDesc>* columns, bool) {
        if (columns)
            *columns = DestinationDefaultColumns();
        return true;
    };
    m_data.m_visibleMap = &m_table.GetVisibleMap();
    m_data.SetEventCallback(this, &CDestinationPage::OnRowsChanged);
    ExchangeData(false);
    Observe(m_host->GetSettings());
    Observe(m_host->GetTransferDoc());
    return true;
}

void CDestinationPage::OnSize(UINT, int width, int height)
{
    if (m_table.m_hWnd)
        MoveWindow(m_table.m_hWnd, 0, 0, width, height, TRUE);
}

void CDestinationPage::OnDestroy()
{
    m_table.RemoveHeaderTips();
    m_table.Destroy();
}

void CDestinationPage::OnColumnsChanged()
{
    CAppSettings& settings = m_host->GetSettings();
    if (!settings.IsUnsaved()) {
        CDocUpdateScope scope(settings, ObserverKey());
        settings.RaiseChange(ASC_UNSAVED, 0, true);
    }
    m_columnsChanged = true;
}

void CDestinationPage::RestoreDefaults()
{
    m_table.ApplyDefaultColumns();
    ExchangeData(true);
}

void CDestinationPage::ExchangeData(bool save)
{
    CAppSettings& settings = m_host->GetSettings();
    if (save) {
        if (!m_columnsChanged)
            return;
        m_columnsChanged = false;
        m_table.ReadColumnOrder();
        std::vector<ColumnDesc> columns = m_table.GetColumns();
        // The widths as the list shows them now: a drag may not have reached the descriptors.
        const std::vector<int>& shown = m_table.GetVisibleMap();
        for (size_t v = 0; v < shown.size(); ++v)
            columns[shown[v]].width = static_cast<int>(SendMessageW(m_table.m_hWnd, LVM_GETCOLUMNWIDTH, v, 0));
        CDocUpdateScope scope(settings, ObserverKey());
        *settings.EditColumns(COLS_DESTINATION) = columns;
        return;
    }
    UpdatingScope updating(m_hWnd);
    std::vector<ColumnDesc> stored = settings.Columns(COLS_DESTINATION);
    if (stored.size() != DSTCOL_COUNT)
        stored = DestinationDefaultColumns();
    m_table.SetColumns(stored, std::vector<int>(std::begin(kTitleIds), std::end(kTitleIds)));
    m_table.ApplyColumns();
    m_columnsChanged = false;
    m_data.DropCache();
    Refresh();
    const DWORD grid = settings.view.tableGrid ? LVS_EX_GRIDLINES : 0;
    SendMessageW(m_table.m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES, grid);
    m_table.SetAlternateRows(settings.view.altListBkColor);
}

void CDestinationPage::OnDocumentChanged(CDocument* doc, const uint32_t* bits)
{
    // The check and the parameters follow the destination settings.
    constexpr uint32_t kShown = TDC_DESTINATION | TDC_KEYBOARD | TDC_PORTAVO | TDC_CMDLINE | TDC_HTTP;
    if (doc == &m_host->GetTransferDoc() && (bits[0] & kShown))
        m_data.FireEvent();
}

int CDestinationPage::OnRowsChanged(void* context, CVirtualListViewData*, int)
{
    static_cast<CDestinationPage*>(context)->Refresh();
    return 0;
}

void CDestinationPage::Refresh()
{
    HWND list = m_table.m_hWnd;
    if (!list)
        return;
    const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    SendMessageW(list, LVM_SETITEMCOUNT, m_data.GetItemCount(), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    m_table.ShowSortArrow();
    m_table.ScrollRowToTop(top);
    InvalidateRect(list, nullptr, TRUE);
    m_host->MarkDirty(HostUpdate::StatusBar);
}
