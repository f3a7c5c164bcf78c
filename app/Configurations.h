#pragma once
// Named configurations: each a ".nv2" file of the documents folder named after it, beside the
// default configuration inside the main settings file. The frame's configuration commands and
// the two dialogs that create and choose them.
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/TableCtrl.h"

class CAppSettings;

// The command operations; each brings the main window forward or stores the pages' edits first.
bool NewConfiguration();
bool OpenConfigurationDialog();
bool SaveConfiguration();
void DeleteConfiguration();
// "Configuration n" with the first n whose file the documents folder does not hold.
std::wstring DefaultNewConfigurationName();

// 0 when the name can be a configuration file's name, else the string id that refuses it:
// empty, or one of <>:"/\|?*, a reserved device name (CON, COM1, ... with any extension) or a
// final dot or blank, which the file system would turn into another file.
UINT CheckConfigurationName(const std::wstring& name);

// "dd.mm.yyyy hh:mm.ss" of a file's last write in local time; empty when it cannot be read.
std::wstring FileChangedText(const std::wstring& path);

// Row data of the open-configuration list: the default configuration first (-1), then the
// entries of the configuration list in their order.
class CConfigsLvData : public CVirtualListViewData
{
public:
    CConfigsLvData(const CAppSettings& settings);
    int GetItemCount() override { return RowCount(); }
    // The text of a cell; visibleMap maps the list's columns to the three columns.
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int, int) override {}
    const std::vector<int>* visibleMap = nullptr;
    // The default configuration's row, then the others in the order of the sort key: +(c+1)
    // ascending, -(c+1) descending on column c, 0 the list's own order.
    void Build(int sortKey = 0);
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    // The list index of a row: -1 for the default configuration.
    int RowIndex(int row) const { return m_rows.at(row); }
    int FindRow(int index) const;
    // column: 0 "#", 1 "Name", 2 "Changed".
    std::wstring Text(int row, int column) const;

private:
    // The file of a list index (-1: the main settings file).
    std::wstring FilePath(int index) const;

    const CAppSettings& m_settings;
    std::vector<int> m_rows;
    std::wstring m_defaultName;
};

// "Configuration properties" (904): the new configuration's name and whether it copies the
// current one. OK writes the file before the dialog closes.
class CConfigurationDialog : public CModalDialog
{
public:
    CConfigurationDialog(CAppSettings& settings, bool copyCurrent);
    bool OnCommand(int id, int code, HWND control) override;

    bool m_copyCurrent;
    std::wstring m_name;

private:
    bool OnInitDialog() override;
    void OnOK();
    bool Refuse(UINT id, const wchar_t* argument);

    CAppSettings& m_settings;
};

// "Open configuration" (964): a list of the default configuration and the configuration files.
class COpenConfigDialog : public CModalDialog
{
public:
    // preselected: the list index to select, -1 the default configuration.
    COpenConfigDialog(CAppSettings& settings, int preselected);
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    int m_chosen;  // list index, -1 the default configuration
    CTableCtrl& Table() { return m_table; }

private:
    bool OnInitDialog() override;
    bool OnAccept() override;
    void ApplyGrid();
    void UpdateOk();
    void StoreColumns();
    void OnActivate(POINT at);
    bool OnSortRequest(int key);

    CAppSettings& m_settings;
    CConfigsLvData m_data;
    CTableCtrl m_table;
};

// The open dialog's default columns ("#", "Name", "Changed") with their titles.
std::vector<ColumnDesc> OpenConfigDefaultColumns();
