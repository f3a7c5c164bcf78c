#pragma once
// The "Customize Columns" dialog: edits a table's column descriptors on a working copy (shown,
// hidden, alignment, auto size, order by sorting or dragging rows) that OK or Apply gives back
// to the table. Its own list is a table whose rows are the customised table's columns.
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/Layout.h"
#include "framework/TableCtrl.h"

// The rows of the chooser's list: one per descriptor of the working copy.
class CColumnsLvData : public CVirtualListViewData
{
public:
    struct Row
    {
        std::wstring number; // row + 1
        std::wstring title;
        int descriptor = -1;
    };

    int GetItemCount() override;
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int from, int to) override;

    // Builds the cache for exactly the rows from..to (clipped to the rows).
    void FillCache(int from, int to);
    // Puts each descriptor at the row of its order key; keys outside the range are skipped.
    void RebuildRowMap();

    std::vector<ColumnDesc>* m_columns = nullptr;         // the working copy
    std::vector<int> m_rows;                              // row -> descriptor
    const std::vector<ColumnDesc>* m_listColumns = nullptr; // the chooser list's own columns
    const std::vector<int>* m_listMap = nullptr;          // its visible map: column -> kind
    int m_cacheFirst = 0;
    std::vector<Row> m_cache;
    Row m_spare; // a row asked for outside the cache

private:
    void BuildRow(int row, Row& out) const;
};

// Kinds of the chooser list's columns (its descriptor indexes).
enum : int { CHOOSER_VISIBLE = 0, CHOOSER_NUMBER = 1, CHOOSER_NAME = 2, CHOOSER_ALIGN = 3, CHOOSER_AUTOSIZE = 4 };

// The chooser list's own default layout and its titles.
std::vector<ColumnDesc> ChooserDefaultColumns();

// Renumbers the order keys 0, 1, 2 ... in descriptor order when one lies outside 0..count-1 or
// occurs twice; true when it did.
bool RenumberBrokenOrderKeys(std::vector<ColumnDesc>& columns);

class CColumnListDialog : public CModalDialog
{
public:
    explicit CColumnListDialog(CTableCtrl& table);

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    bool OnInitDialog() override;
    void UpdateSelectionSummary();
    void OnAlignChanged();
    void OnVisibleChanged();
    void OnAutoSizeChanged();
    void SortRows(int key);
    void MoveSelectedRows(const TableDragInfo& drop);
    void ApplyChanges();
    // Whether descriptor a goes before b in a sort by title with the current key.
    bool CompareTitles(int a, int b) const;
    static int OnDataChanged(void* context, CVirtualListViewData* sender, int arg);
    void RefreshList();

    const std::vector<ColumnDesc>& GetWorkingCopy() const { return m_columns; }
    bool IsModified() const { return m_modified; }

private:
    // Fields of the summary's masks.
    enum : int { FIELD_ALIGN = 0x1, FIELD_VISIBLE = 0x2, FIELD_AUTOSIZE = 0x4 };

    void SetModified();
    void DropSortOn(int kind);
    void RefreshData();
    void OnFlagChanged(int controlId, int field, int flag, int kind);
    void ToggleSelectedVisible();
    bool OnCheckClick(const NMITEMACTIVATE* click);
    void ShowContextMenu();
    bool OnAccept() override;
    bool ParentHasDefaults() const;
    void ResetToDefault();
    void OnOwnTableNotify(NMHDR* nmh, LRESULT* result);
    void ShowSummaryControls();

    CTableCtrl& m_table;                 // the customised table
    std::vector<ColumnDesc> m_columns;   // the working copy
    int m_sortKey = 0;                   // of the chooser's own list
    bool m_modified = false;
    CColumnsLvData m_data;
    unsigned m_state = 0;                // bit 0: the selection changed since the last summary
    AnchorLayout m_layout;
    CTableCtrl m_list;                   // the chooser's own list

    struct Summary
    {
        int count = 0;
        int same = 0;     // FIELD_* in which all selected columns agree
        int applied = 0;  // FIELD_* whose control shows a definite value
        int align = COLFMT_LEFT;
        bool visible = true;
        bool autoSize = false;
    } m_summary;
    CImageList m_images;
};
