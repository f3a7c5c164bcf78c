// The new-configuration and open-configuration dialogs and the open dialog's list rows.
#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "app/Configurations.h"
#include "app/NorvaneApp.h"
#include "config/AppSettings.h"
#include "config/ConfigFile.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "resources/resource.h"

// ---- CConfigsLvData ----

std::wstring FileChangedText(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return {};
    SYSTEMTIME utc, local;
    if (!FileTimeToSystemTime(&data.ftLastWriteTime, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return {};
    std::wstring text;
    FormatString(text, L"%.2d.%.2d.%.4d %.2d:%.2d.%.2d", local.wDay, local.wMonth, local.wYear, local.wHour,
                 local.wMinute, local.wSecond);
    return text;
}

CConfigsLvData::CConfigsLvData(const CAppSettings& settings) : m_settings(settings)
{
    LoadResString(IDS_DEFAULT_CONFIG_NAME, m_defaultName);
}

void CConfigsLvData::Build(int sortKey)
{
    m_rows.clear();
    m_rows.push_back(-1);
    for (int i = 0; i < static_cast<int>(m_settings.configFiles.size()); ++i)
        m_rows.push_back(i);
    const int column = std::abs(sortKey) - 1;
    if (column < 0 || column > 2)
        return;
    // One key per list index (+1): the name, or the file's last write (0 when unreadable).
    std::vector<std::wstring> names(m_rows.size());
    std::vector<uint64_t> times(m_rows.size(), 0);
    for (int index : m_rows) {
        if (column == 1) {
            names[index + 1] = index < 0 ? m_defaultName : m_settings.configFiles[index];
        } else if (column == 2) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (GetFileAttributesExW(FilePath(index).c_str(), GetFileExInfoStandard, &data))
                times[index + 1] = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                   data.ftLastWriteTime.dwLowDateTime;
        }
    }
    auto less = [&](int a, int b) {
        switch (column) {
        case 1:
            return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, names[a + 1].c_str(), -1,
                                  names[b + 1].c_str(), -1) == CSTR_LESS_THAN;
        case 2:
            return times[a + 1] < times[b + 1];
        default:
            return a < b;
        }
    };
    // The default configuration's row stays first whatever the order of the others.
    if (sortKey > 0)
        std::stable_sort(m_rows.begin() + 1, m_rows.end(), less);
    else
        std::stable_sort(m_rows.begin() + 1, m_rows.end(), [&](int a, int b) { return less(b, a); });
}

std::wstring CConfigsLvData::FilePath(int index) const
{
    if (index < 0)
        return m_settings.GetSettingsPath();
    std::wstring folder;
    m_settings.ResolveDocumentsFolder(folder, false);
    return folder + L"\\" + m_settings.configFiles.at(index) + L".nv2";
}

int CConfigsLvData::FindRow(int index) const
{
    for (int row = 0; row < RowCount(); ++row)
        if (m_rows[row] == index)
            return row;
    return 0;
}

void CConfigsLvData::GetDispInfo(LVITEMW* item)
{
    if ((item->mask & LVIF_TEXT) && item->pszText && item->cchTextMax > 0 && item->iItem < RowCount() && visibleMap &&
        item->iSubItem >= 0 && item->iSubItem < static_cast<int>(visibleMap->size())) {
        const std::wstring text = Text(item->iItem, (*visibleMap)[item->iSubItem]);
        lstrcpynW(item->pszText, text.c_str(), item->cchTextMax);
    }
}

std::wstring CConfigsLvData::Text(int row, int column) const
{
    const int index = RowIndex(row);
    switch (column) {
    case 0:
        return IntToWString(index + 1);
    case 1:
        return index < 0 ? m_defaultName : m_settings.configFiles.at(index);
    case 2:
        return FileChangedText(FilePath(index));
    default:
        return {};
    }
}

// ---- CConfigurationDialog ----

CConfigurationDialog::CConfigurationDialog(CAppSettings& settings, bool copyCurrent)
    : CModalDialog(IDD_CONFIGURATION), m_copyCurrent(copyCurrent), m_settings(settings)
{
}

bool CConfigurationDialog::OnInitDialog()
{
    m_name = DefaultNewConfigurationName();
    CheckItem(IDC_CONFIG_COPY_CURRENT, m_copyCurrent);
    HWND combo = Item(IDC_CONFIG_NAME);
    std::wstring text;
    LoadResString(IDS_DEFAULT_CONFIG_NAME, text);
    ComboBox_AddString(combo, text.c_str());
    for (const auto& name : m_settings.configFiles)
        ComboBox_AddString(combo, name.c_str());
    SetWindowTextW(combo, m_name.c_str());
    return true;
}

bool CConfigurationDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_CONFIG_COPY_CURRENT:
        m_copyCurrent = IsItemChecked(IDC_CONFIG_COPY_CURRENT);
        return true;
    case IDOK:
        OnOK();
        return true;
    default:
        return CModalDialog::OnCommand(id, code, control);
    }
}

bool CConfigurationDialog::Refuse(UINT id, const wchar_t* argument)
{
    std::wstring text;
    FormatResString(text, id, argument);
    SystemServices().AskUser(text, MB_OK | MB_ICONERROR, m_hWnd, nullptr);
    SetFocus(Item(IDC_CONFIG_NAME));
    return false;
}

void CConfigurationDialog::OnOK()
{
    GetItemText(IDC_CONFIG_NAME, m_name);
    if (const UINT refusal = CheckConfigurationName(m_name)) {
        Refuse(refusal, L"<>:\"/\\|?*");
        return;
    }
    std::wstring folder;
    m_settings.ResolveDocumentsFolder(folder, true);
    const std::wstring path = folder + L"\\" + m_name + L".nv2";
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
        (m_settings.GetConfirmFlags() & CONFIRM_REPLACE)) {
        std::wstring text;
        FormatResString(text, IDS_ITEM_EXISTS_REPLACE, m_name.c_str());
        bool dontAsk = false;
        const int answer = SystemServices().AskUser(text, MB_OKCANCEL | MB_ICONQUESTION, m_hWnd, &dontAsk);
        if (dontAsk)
            m_settings.SetConfirmFlags(m_settings.GetConfirmFlags() & ~CONFIRM_REPLACE);
        if (answer != IDOK)
            return;
    }
    if (m_copyCurrent) {
        m_settings.GetTransferDoc().SaveToFile(path, true);
    } else {
        CTransferDoc fresh;
        fresh.SetPathName(path);
        fresh.Save(true);
    }
    App().ListConfigurations();
    EndModal(IDOK);
}

// ---- COpenConfigDialog ----

COpenConfigDialog::COpenConfigDialog(CAppSettings& settings, int preselected)
    : CModalDialog(IDD_OPEN_CONFIG), m_chosen(preselected), m_settings(settings), m_data(settings)
{
}

LRESULT COpenConfigDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KICKIDLE) {
        ApplyGrid();
        return 0;
    }
    return CModalDialog::HandleMessage(hwnd, message, wParam, lParam);
}

void COpenConfigDialog::ApplyGrid()
{
    SendMessageW(m_table.m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES,
                 m_settings.view.tableGrid ? LVS_EX_GRIDLINES : 0);
}

bool COpenConfigDialog::OnInitDialog()
{
    HWND list = Item(IDC_CONFIG_LIST);
    m_table.Attach(list);
    const DWORD ex = LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_DOUBLEBUFFER;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
    ApplyGrid();
    m_table.SetSettings(&App().GetTableSettings());
    std::vector<ColumnDesc> columns = m_settings.Columns(COLS_OPENCONFIG);
    if (columns.size() != 3)
        columns = GetDefaultColumns(COLS_OPENCONFIG);
    m_table.SetColumns(columns, {IDS_COL_CONFIG_NUMBER, IDS_COL_CONFIG_NAME, IDS_COL_CONFIG_CHANGED});
    m_table.ApplyColumns();
    m_table.ApplyLook(TABLE_LOOK_ALTERNATE);
    m_data.visibleMap = &m_table.GetVisibleMap();
    m_table.SetData(&m_data);
    m_table.events.activate = [this](int, POINT at) { OnActivate(at); };
    m_table.tableEvents.columnsChanged = [this](int, int) { StoreColumns(); };
    m_table.tableEvents.defaultColumns = [](std::vector<ColumnDesc>* columns, bool) {
        if (columns)
            *columns = OpenConfigDefaultColumns();
        return true;
    };
    m_table.tableEvents.headerMenu = [](HMENU menu) { DeleteMenu(menu, ID_NO_SORT_HEADER, MF_BYCOMMAND); };
    m_table.tableEvents.sortRequest = [this](int key) { return OnSortRequest(key); };
    m_data.Build();
    ListView_SetItemCountEx(list, m_data.RowCount(), LVSICF_NOINVALIDATEALL);

    // Grow to show every row, within the work area.
    RECT listRect, window, work;
    GetWindowRect(list, &listRect);
    GetWindowRect(m_hWnd, &window);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const DWORD needed = ListView_ApproximateViewRect(list, -1, -1, m_data.RowCount());
    const int grow = static_cast<int>(HIWORD(needed)) + 4 - (listRect.bottom - listRect.top);
    if (grow > 0) {
        const int height = std::min<int>(window.bottom - window.top + grow, work.bottom - work.top);
        const int added = height - (window.bottom - window.top);
        SetWindowPos(m_hWnd, nullptr, 0, 0, window.right - window.left, height, SWP_NOMOVE | SWP_NOZORDER);
        SetWindowPos(list, nullptr, 0, 0, listRect.right - listRect.left, listRect.bottom - listRect.top + added,
                     SWP_NOMOVE | SWP_NOZORDER);
        for (int id : {IDOK, IDCANCEL}) {
            HWND button = Item(id);
            RECT r;
            GetWindowRect(button, &r);
            MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
            SetWindowPos(button, nullptr, r.left, r.top + added, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        }
    }

    const int row = m_data.FindRow(m_chosen);
    m_chosen = m_data.RowIndex(row);
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list, row, FALSE);
    UpdateOk();
    return true;
}

void COpenConfigDialog::UpdateOk()
{
    EnableItem(IDOK, ListView_GetSelectedCount(Item(IDC_CONFIG_LIST)) == 1);
}

bool COpenConfigDialog::OnAccept()
{
    return ListView_GetSelectedCount(Item(IDC_CONFIG_LIST)) == 1;
}

std::vector<ColumnDesc> OpenConfigDefaultColumns()
{
    std::vector<ColumnDesc> columns = GetDefaultColumns(COLS_OPENCONFIG);
    for (size_t i = 0; i < columns.size(); ++i)
        columns[i].titleId = IDS_COL_CONFIG_NUMBER + static_cast<int>(i);
    return columns;
}

void COpenConfigDialog::StoreColumns()
{
    // The layout goes back into the settings: widths, order and flags of each column.
    std::vector<ColumnDesc> columns = m_table.GetColumns();
    const std::vector<int>& shown = m_table.GetVisibleMap();
    for (size_t v = 0; v < shown.size(); ++v)
        columns[shown[v]].width = static_cast<int>(m_table.Send(LVM_GETCOLUMNWIDTH, v));
    CDocUpdateScope scope(m_settings);
    *m_settings.EditColumns(COLS_OPENCONFIG) = columns;
}

bool COpenConfigDialog::OnSortRequest(int key)
{
    // The rows take the new order; the chosen configuration stays chosen.
    m_table.SetSortColumn(key, true);
    const int chosen = m_chosen;
    m_data.Build(key);
    const int row = m_data.FindRow(chosen);
    m_table.SelectOnly(row, false);
    ListView_EnsureVisible(m_table.m_hWnd, row, FALSE);
    InvalidateRect(m_table.m_hWnd, nullptr, FALSE);
    return true;
}

void COpenConfigDialog::OnActivate(POINT at)
{
    LVHITTESTINFO hit{};
    hit.pt = at;
    if (ListView_SubItemHitTest(m_table.m_hWnd, &hit) >= 0 && (hit.flags & LVHT_ONITEM) &&
        !(hit.flags & LVHT_ONITEMSTATEICON)) {
        m_chosen = m_data.RowIndex(hit.iItem);
        EndModal(IDOK);
    }
}

bool COpenConfigDialog::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (id != IDC_CONFIG_LIST)
        return CModalDialog::OnNotify(id, nmh, result);
    switch (nmh->code) {
    case LVN_ITEMCHANGED: {
        const NMLISTVIEW& change = *reinterpret_cast<NMLISTVIEW*>(nmh);
        if (change.iItem >= 0 && (change.uChanged & LVIF_STATE)) {
            const UINT both = LVIS_SELECTED | LVIS_FOCUSED;
            if ((change.uNewState & both) == both)
                m_chosen = m_data.RowIndex(change.iItem);
        }
        UpdateOk();
        return true;
    }
    default:
        return CModalDialog::OnNotify(id, nmh, result);
    }
}
