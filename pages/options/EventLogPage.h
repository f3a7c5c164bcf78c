#pragma once
// The event-log page: the event table as an owner-data list, newest event first, with a
// context menu that switches writing on and off, clears the table, copies the selected lines
// and opens or clears the transfer log.
#include <memory>
#include <string>
#include <vector>

#include "config/EventLogDb.h"
#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/TableCtrl.h"

class CAppSettings;

// One row as the list shows it.
struct EventLogDisplayItem
{
    int level = EVENT_NONE;
    std::wstring time;
    std::wstring sender;
    std::wstring message;
};

class CEventLogLvData : public CCachedListData<EventLogDisplayItem>
{
public:
    CEventLogLvData(CAppSettings& settings, const CTableCtrl& table) : m_settings(settings), m_table(table) {}

    int GetItemCount() override;
    void GetDispInfo(LVITEMW* item) override;

    // The record row `row` shows: 1..count, 0 when there is none.
    static int RecordOfRow(int row, int ringPosition, int count);

private:
    // Reads the record a row shows.
    void MakeRow(int row, EventLogDisplayItem& item) override;

    CAppSettings& m_settings;
    const CTableCtrl& m_table;
};

class CEventLogPage : public CBasePage
{
public:
    explicit CEventLogPage(IPageHost& host);

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;

    // The selected rows' lines: time TAB sender TAB message CR LF each.
    std::wstring SelectedText();
    CTableCtrl& GetList() { return m_list; }

private:
    void OnSize(UINT type, int width, int height) override;
    bool OnInitDialog() override;
    void OnDestroy() override;
    void ApplySavedColumns();
    void RefreshList();
    void Copy();
    void OnListMenu(POINT at) override;
    void EnableWrite(bool on);
    void RestoreDefaults() override;
    void StoreColumns();
    static int OnDataChanged(void* context, CVirtualListViewData* sender, int arg);

    CTableCtrl m_list;
    std::unique_ptr<CEventLogLvData> m_data;
    CImageList m_levels;
};

std::unique_ptr<CBasePage> CreateEventLogPage(IPageHost& host);
