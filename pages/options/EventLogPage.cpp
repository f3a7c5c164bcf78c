#include "pages/options/EventLogPage.h"

#include <windowsx.h>

#include <algorithm>
#include <climits>

#include "config/AppSettings.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/PageTable.h"
#include "resources/resource.h"
#include "transfer/TransferLog.h"

namespace {

// Makes the list ask for its empty text again; missing from the headers at hand.
constexpr UINT kListResetEmptyText = LVM_FIRST + 84;

constexpr int kColumnTime = 0;
constexpr int kColumnSender = 1;
constexpr int kColumnMessage = 2;
const std::vector<int> kColumnTitles = {IDS_EVENTLOG_COL_TIME, IDS_EVENTLOG_COL_SENDER, IDS_EVENTLOG_COL_MESSAGE};

bool ColumnVisible(const CTableCtrl& table, int column)
{
    const std::vector<ColumnDesc>& columns = table.GetColumns();
    return column < static_cast<int>(columns.size()) && columns[column].IsVisible();
}

}  // namespace

// ---- rows ----

int CEventLogLvData::GetItemCount()
{
    const CEventLogDb& table = m_settings.GetEventLog();
    return table.IsOpen() ? static_cast<int>(std::min<uint32_t>(table.GetEventCount(), INT_MAX)) : 0;
}

int CEventLogLvData::RecordOfRow(int row, int ringPosition, int count)
{
    if (row < 0 || row >= count)
        return 0;
    // A ring position outside 1..count+1 (a damaged header) is taken at its nearest end, so
    // that no row ever names a record the table does not have.
    const int64_t position = std::clamp<int64_t>(ringPosition, 1, static_cast<int64_t>(count) + 1);
    int64_t record = position - 1 - row;
    if (record <= 0)
        record += count;
    return static_cast<int>(record);
}

void CEventLogLvData::MakeRow(int row, EventLogDisplayItem& item)
{
    item = EventLogDisplayItem{};
    CEventLogDb& table = m_settings.GetEventLog();
    if (!table.IsOpen())
        return;
    const int record = RecordOfRow(row, table.GetRingPosition(), GetItemCount());
    if (record == 0)
        return;
    _EVENT_RECORD event;
    try {
        table.ReadEvent(record, event);
    } catch (const std::exception&) {
        // A record that cannot be read shows as blank; the list is drawn from a notification
        // that must not throw.
        return;
    }
    item.level = event.level;
    if (ColumnVisible(m_table, kColumnTime)) {
        const bool withDate = m_settings.IsHistory(HIST_EVENT_RECORDS);
        CTimeValue(event.time).Format(withDate ? L"%c" : L"%X", item.time);
    }
    if (ColumnVisible(m_table, kColumnSender))
        item.sender = event.attribute;
    if (ColumnVisible(m_table, kColumnMessage))
        item.message = event.message;
}

void CEventLogLvData::GetDispInfo(LVITEMW* item)
{
    const EventLogDisplayItem& row = Cached(item->iItem);
    const std::vector<int>& map = m_table.GetVisibleMap();
    const int column = item->iSubItem >= 0 && item->iSubItem < static_cast<int>(map.size()) ? map[item->iSubItem] : -1;
    if (item->mask & LVIF_TEXT) {
        const std::wstring* text = nullptr;
        switch (column) {
        case kColumnTime: text = &row.time; break;
        case kColumnSender: text = &row.sender; break;
        case kColumnMessage: text = &row.message; break;
        default: break;
        }
        if (text && item->cchTextMax > 0)
            lstrcpynW(item->pszText, text->c_str(), item->cchTextMax);
    }
    if ((item->mask & LVIF_IMAGE) && column == kColumnTime && row.level >= EVENT_INFO && row.level <= EVENT_ERROR)
        item->iImage = row.level - 1;
}

// ---- page ----

CEventLogPage::CEventLogPage(IPageHost& host) : CBasePage(IDD_EVENTLOG_PAGE, &host)
{
    m_rowList = &m_list;
}

std::unique_ptr<CBasePage> CreateEventLogPage(IPageHost& host)
{
    return std::make_unique<CEventLogPage>(host);
}

bool CEventLogPage::OnInitDialog()
{
    CAppSettings& settings = m_host->GetSettings();
    HWND list = Item(IDC_EVENTLOG_LIST);
    m_list.Attach(list);
    const DWORD exStyle = LVS_EX_LABELTIP | LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, exStyle, exStyle);
    LPCWSTR bitmap = MAKEINTRESOURCEW(IDB_EVENT_LEVELS);
    m_levels.Attach(ImageList_LoadImageW(FindResourceModule(bitmap, RT_BITMAP), bitmap, 16, 3, RGB(255, 0, 255),
                                         IMAGE_BITMAP, LR_CREATEDIBSECTION));
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_levels.Get()));

    ITableSettings& tableSettings = m_host->GetTableSettings();
    m_list.SetSettings(&tableSettings);
    m_list.SetHeaderTips(tableSettings.GetMainToolTip(), false);
    m_list.ApplyLook(TABLE_LOOK_ALTERNATE);
    m_data = std::make_unique<CEventLogLvData>(settings, m_list);
    m_data->SetEventCallback(this, &CEventLogPage::OnDataChanged);
    m_list.SetData(m_data.get());
    m_list.events.selectionChanged = [this](int, int, bool) { m_host->MarkDirty(HostUpdate::StatusBar); };
    m_list.events.keyDown = [this](WORD key, unsigned modifiers) {
        if (key != 'C' || modifiers != LIST_KEY_CTRL)
            return false;
        Copy();
        return true;
    };
    m_list.tableEvents.columnsChanged = [this](int, int) {
        StoreColumns();
        RefreshList();
    };
    AnswerTableDefaults(m_list, COLS_EVENTLOG, false);
    ExchangeData(false);
    Observe(settings);
    return true;
}

void CEventLogPage::ApplySavedColumns()
{
    ::ApplySavedColumns(m_list, m_host->GetSettings(), COLS_EVENTLOG, kColumnTitles);
}

void CEventLogPage::ExchangeData(bool save)
{
    if (save || !m_list.m_hWnd)
        return;
    ApplySavedColumns();
    m_list.ApplyLook(TABLE_LOOK_GRID);
    RefreshList();
}

void CEventLogPage::RefreshList()
{
    if (!m_data)
        return;
    m_data->Refill();
    m_data->FireEvent();
}

int CEventLogPage::OnDataChanged(void* context, CVirtualListViewData* sender, int)
{
    auto* self = static_cast<CEventLogPage*>(context);
    RefreshPageTable(self->m_list, sender->GetItemCount(), *self->m_host);
    return 0;
}

std::wstring CEventLogPage::SelectedText()
{
    std::vector<int> rows;
    m_list.GetSelectedItems(rows);
    std::wstring text;
    for (int row : rows) {
        const EventLogDisplayItem& item = m_data->Cached(row);
        text += item.time;
        text += L'\t';
        text += item.sender;
        text += L'\t';
        text += item.message;
        text += L"\r\n";
    }
    return text;
}

void CEventLogPage::Copy()
{
    const std::wstring text = SelectedText();
    SetClipboardText(m_hWnd, text.c_str(), static_cast<int>(text.size()));
}

void CEventLogPage::EnableWrite(bool on)
{
    CAppSettings& settings = m_host->GetSettings();
    if (settings.IsEventLogEnabled() == on)
        return;
    if (on) {
        settings.SetEventLogEnabled(true);
        m_host->UpdateEventLog();
        m_host->LogPageEvent(EVENT_INFO, IDS_WRITE_ENABLED);
    } else {
        // The last record says why the table ends here.
        m_host->LogPageEvent(EVENT_INFO, IDS_WRITE_DISABLED);
        settings.SetEventLogEnabled(false);
        m_host->UpdateEventLog();
    }
    // The table was opened or closed whether or not anyone announced it.
    RefreshList();
}

void CEventLogPage::RestoreDefaults()
{
    CAppSettings& settings = m_host->GetSettings();
    CDocUpdateScope scope(settings);
    settings.SetEventLogEnabled(false);
    settings.ResetEventLogLimit();
    *settings.EditColumns(COLS_EVENTLOG) = GetDefaultColumns(COLS_EVENTLOG);
    settings.RaiseUiChange(ASU_EVENTLOG_COLUMNS, true);
}

void CEventLogPage::StoreColumns()
{
    StoreTableColumns(m_list, m_host->GetSettings(), COLS_EVENTLOG, ObserverKey());
}

void CEventLogPage::OnListMenu(POINT at)
{
    TrackMenu(IDM_EVENTLOG, at, [this](HMENU popup) {
        CAppSettings& settings = m_host->GetSettings();
        DeleteMenu(popup, settings.IsEventLogEnabled() ? ID_EVENTLOG_ENABLE : ID_EVENTLOG_DISABLE, MF_BYCOMMAND);
        const bool selected = SendMessageW(m_list.m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0) > 0;
        EnableMenuItem(popup, ID_COPY_ROWS, MF_BYCOMMAND | (selected ? MF_ENABLED : MF_GRAYED));
        std::wstring path;
        settings.ResolveDocumentsFolder(path, false);
        path += L'\\';
        path += kTransferLogFileName;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        const bool logExists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        for (UINT id : {ID_OPEN_TRANSFER_LOG, ID_CLEAR_TRANSFER_LOG})
            EnableMenuItem(popup, id, MF_BYCOMMAND | (logExists ? MF_ENABLED : MF_GRAYED));
    });
}

bool CEventLogPage::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case ID_EVENTLOG_ENABLE:
        EnableWrite(true);
        return true;
    case ID_EVENTLOG_DISABLE:
        EnableWrite(false);
        return true;
    case ID_EVENTLOG_CLEAR:
        m_host->GetSettings().GetEventLog().Clear();
        RefreshList();
        return true;
    case ID_COPY_ROWS:
        Copy();
        return true;
    case ID_OPEN_TRANSFER_LOG:
    case ID_CLEAR_TRANSFER_LOG:
        m_host->RunFrameCommand(id);
        return true;
    case ID_SELECT_ALL_ROWS:
        SendMessageW(m_list.m_hWnd, WM_SETREDRAW, FALSE, 0);
        {
            LVITEMW state{};
            state.stateMask = LVIS_SELECTED;
            state.state = LVIS_SELECTED;
            SendMessageW(m_list.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
        }
        SendMessageW(m_list.m_hWnd, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(m_list.m_hWnd, nullptr, FALSE);
        return true;
    default:
        return CBasePage::OnCommand(id, code, control);
    }
}

bool CEventLogPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (id != IDC_EVENTLOG_LIST || !m_data)
        return CBasePage::OnNotify(id, nmh, result);
    switch (nmh->code) {
    case LVN_GETEMPTYMARKUP: {
        auto* markup = reinterpret_cast<NMLVEMPTYMARKUP*>(nmh);
        std::wstring text;
        if (LoadResString(m_host->GetSettings().IsEventLogEnabled() ? IDS_WRITE_ENABLED : IDS_WRITE_DISABLED, text) == 0) {
            *result = FALSE;
            return true;
        }
        markup->dwFlags = EMF_CENTERED;
        lstrcpynW(markup->szMarkup, text.c_str(), L_MAX_URL_LENGTH);
        *result = TRUE;
        return true;
    }
    default:
        return CBasePage::OnNotify(id, nmh, result);
    }
}

void CEventLogPage::OnDocumentChanged(CDocument*, const uint32_t* bits)
{
    CAppSettings& settings = m_host->GetSettings();
    const AppSettingsDetails& details = settings.GetDetails();
    const uint32_t change = bits[0];
    if (change & ASC_UI) {
        if (details.ui & ASU_EVENTLOG_COLUMNS) {
            ApplySavedColumns();
            RefreshList();
        }
        m_list.ApplyLook(TableLookChanges(details.ui) & (TABLE_LOOK_ALTERNATE | TABLE_LOOK_GRID));
    }
    if ((change & ASC_STATE) && (details.state & ASS_EVENT_TABLE))
        RefreshList();
    if (change & ASC_EVENTLOG_ON) {
        SendMessageW(m_list.m_hWnd, kListResetEmptyText, 0, 0);
        RefreshList();
    }
}

void CEventLogPage::OnSize(UINT, int width, int height)
{
    if (m_list.m_hWnd)
        SetWindowPos(m_list.m_hWnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CEventLogPage::OnDestroy()
{
    if (m_data)
        m_data->SetEventCallback(nullptr, nullptr);
    m_list.RemoveHeaderTips();
    m_list.Destroy();
    m_levels.Destroy();
}
