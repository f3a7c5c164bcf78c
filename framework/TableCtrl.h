#pragma once
// The table control: an owner-data report list whose columns follow an array of column
// descriptors, kept in step with what the user does to them (hiding, showing, dragging, sizing),
// with a sort arrow the owner drives, shaded rows, header tips for cut-off titles and row
// dragging. What the table cannot decide itself it asks its parent with the TN_ notifications.
#include <windows.h>
#include <commctrl.h>
#include <climits>
#include <functional>
#include <memory>
#include <vector>

#include "framework/ColumnDesc.h"
#include "framework/ListCtrl.h"
#include "framework/PrivateMessages.h"

class CDocument;
class CToolTipCtrl;

// Codes of the WM_NOTIFY messages a table sends its parent (idFrom: the table's id).
enum : UINT {
    TN_DRAGBEGIN = 1,      // TableDragInfo; non-zero starts the drag
    TN_DRAGMOVE = 2,       // TableDragInfo; zero clears the on-item flag
    TN_DRAGEND = 3,        // TableDragInfo, flag = cancelled
    TN_SORTREQUEST = 4,    // TableSortRequest; non-zero = handled
    TN_HEADERMENU = 5,     // TableMenuInfo; the parent may change the menu
    TN_COLUMNSCHANGED = 6, // TableColumnsChange
    TN_DEFAULTCOLUMNS = 7, // TableColumnSet; non-zero: the parent has (null) or filled in its defaults
};

// Passes a table posts to itself; each first removes the same messages still waiting, so that a
// burst of size changes or column drags gives one pass. Their numbers are those of the workers'
// posts to the main window, which never reach a table.
constexpr UINT WM_TABLE_WIDTHS = WM_READER_NOTIFY;
constexpr UINT WM_TABLE_ORDER = WM_BRIDGE_NOTIFY;

// TableColumnsChange::what.
constexpr int TCC_WIDTHS = 0x1;
constexpr int TCC_ORDER = 0x4;
constexpr int TCC_VISIBILITY = 0x8;
constexpr int TCC_ALL = 0x1F;

// TableDragInfo::row beyond the last row.
constexpr int kRowAfterLast = INT_MAX;

// Cursor indexes of a row drag.
enum : int { DRAG_CURSOR_NODROP = 0, DRAG_CURSOR_MOVE = 1, DRAG_CURSOR_COPY = 2 };

struct TableDragInfo
{
    NMHDR hdr;
    POINT point;     // client coordinates of the table
    int row;         // kRowAfterLast after the last row, -1 no target
    bool after;      // the mark is below the row
    bool onItem;     // the mark is a frame around the row
    int cursor;      // DRAG_CURSOR_*
    bool flag;       // TN_DRAGEND: cancelled
};

struct TableSortRequest
{
    NMHDR hdr;
    int key; // +(d+1) ascending, -(d+1) descending on descriptor d
};

struct TableMenuInfo
{
    NMHDR hdr;
    HMENU menu;
};

struct TableColumnsChange
{
    NMHDR hdr;
    int what;  // TCC_*
    int index; // the descriptor, or -1
};

struct TableColumnSet
{
    NMHDR hdr;
    std::vector<ColumnDesc>* columns; // null: only the question whether defaults exist
    bool flag;
};

// What tables and the column chooser use of the application: its settings and windows. The
// owner of a table hands it one; without it the table keeps to itself.
class ITableSettings
{
public:
    // "noSortHeader": the header menu shows it checked and toggles it; the pages apply it.
    virtual bool GetNoSortHeader() = 0;
    virtual void SetNoSortHeader(bool on) = 0;
    // "tableGrid": grid lines in the tables and the chooser's list.
    virtual bool GetTableGrid() = 0;
    // "altListBkColor": odd rows shaded.
    virtual bool GetAlternateRows() = 0;
    // The chooser's own list layout ("columnList"); storing marks the settings unsaved.
    virtual std::vector<ColumnDesc> GetChooserColumns() = 0;
    virtual void StoreChooserColumns(const std::vector<ColumnDesc>& columns) = 0;
    // The document whose change scope holds one Apply of the chooser (its observers are told
    // once); null for none.
    virtual CDocument* GetSettingsDocument() = 0;
    // The chooser's window placement: restored when it opens, saved when it closes.
    virtual void ExchangeChooserPlacement(bool save, HWND dialog) = 0;
    // The main window's tool-tip control for header tips; null for none.
    virtual CToolTipCtrl* GetMainToolTip() = 0;

protected:
    ~ITableSettings() = default;
};

// The state of a running row drag.
struct TableDragState
{
    TableDragState() = default;
    ~TableDragState();
    TableDragState(const TableDragState&) = delete;
    TableDragState& operator=(const TableDragState&) = delete;

    HCURSOR cursors[3] = {};
    POINT point{};      // the last mouse point, client coordinates
    int row = -1;       // the marked row, -1 none, kRowAfterLast after the last
    bool after = false;
    bool onItem = false;
    int cursor = DRAG_CURSOR_NODROP;
    int interval = 0;   // auto-scroll, ms: negative up, positive down, 0 no timer
};

// What the owner of a table decides. A TN_ question with an answer here does not go to the parent
// (and, as its WM_NOTIFY would, reaches no answer while the parent fills its controls).
struct TableEvents
{
    // TN_SORTREQUEST: the owner sorts its rows and calls SetSortColumn; true when it did.
    std::function<bool(int key)> sortRequest;
    // TN_COLUMNSCHANGED: what (TCC_*) changed of which descriptor (-1: several).
    std::function<void(int what, int index)> columnsChanged;
    // TN_DEFAULTCOLUMNS: fills in the default columns (null: only whether there are any).
    std::function<bool(std::vector<ColumnDesc>* columns, bool shift)> defaultColumns;
    // TN_HEADERMENU: the header menu before it shows.
    std::function<void(HMENU menu)> headerMenu;
    // NM_CUSTOMDRAW after the table's own shading and selection colours, at the item stage and
    // (when the item stage asked for it) the sub-item stage; result holds the answer so far.
    std::function<void(NMLVCUSTOMDRAW* draw, LRESULT* result)> drawItem;
    // Row dragging. TN_DRAGBEGIN: whether the selected rows may be dragged; TN_DRAGMOVE then
    // answers dropOnRows (a mark may frame a row, else it stays between rows). TN_DRAGEND of a
    // drag that was not cancelled and has a target: the index the dragged rows go before (the
    // row count: after the last row).
    std::function<bool()> dragBegin;
    bool dropOnRows = false;
    std::function<void(int before)> drop;
};

// Which parts of the settings' look ApplyLook applies.
enum : unsigned {
    TABLE_LOOK_GRID = 0x1,      // "tableGrid"
    TABLE_LOOK_ALTERNATE = 0x2, // "altListBkColor"
    TABLE_LOOK_NOSORT = 0x4,    // "noSortHeader"
    TABLE_LOOK_ALL = 0x7,
};

// Set while a header divider of any table is dragged: no width pass runs meanwhile.
extern bool HeaderTracking;

class CTableCtrl : public CListCtrl
{
public:
    CTableCtrl();
    ~CTableCtrl() override;

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    // Replaces the descriptors: width, order, format and flags of the records (a negative width
    // becomes 0), the titles from titleIds (0 beyond its end). ApplyColumns follows.
    void SetColumns(const std::vector<ColumnDesc>& records, const std::vector<int>& titleIds);
    // Replaces the descriptors as they stand (titles included).
    void SetColumns(const std::vector<ColumnDesc>& columns);
    void ApplyColumns();
    void ApplyColumnOrder();
    void ReadColumnOrder();
    void AutoSizeColumns();
    void ShowSortArrow();
    // The header item that shows an arrow (-1 none), and whether it points up.
    int GetHeaderArrow(bool& ascending) const;
    void SetHeaderArrow(int column, bool ascending);
    // The list column of descriptor d, -1 when it is hidden.
    int VisibleIndexOf(int d) const;
    void SetSortColumn(int key, bool moveArrow);
    void SetHeaderTips(CToolTipCtrl* tips, bool addNow);
    void UpdateHeaderTips();
    void RemoveHeaderTips();
    void SetAlternateRows(bool on);
    void ApplyDefaultColumns();
    void ShowHeaderMenu();

    void SetSettings(ITableSettings* settings) { m_settings = settings; }
    // Grid lines, shading and the header's sort buttons as the settings say (the parts asked).
    void ApplyLook(unsigned parts = TABLE_LOOK_ALL);
    ITableSettings* GetSettings() const { return m_settings; }
    const std::vector<ColumnDesc>& GetColumns() const { return m_columns; }
    const std::vector<int>& GetVisibleMap() const { return m_visibleMap; }
    int GetSortColumn() const { return m_sortKey; }
    COLORREF GetAlternateColor() const { return m_altColor; }
    CToolTipCtrl* GetHeaderTips() const { return m_headerTips; }
    // The running row drag, null when none.
    const TableDragState* GetDragState() const { return m_drag.get(); }

    // Sends a TN_ notification to the parent; its answer.
    LRESULT NotifyParent(UINT code, NMHDR* hdr) const;
    void NotifyColumnsChanged(int what, int index) const;

    // Row dragging.
    struct DragHit
    {
        int row = -1;
        bool after = false;
        bool onItem = false;
        bool found = false; // a row lies under the point
        int interval = 0;
    };
    DragHit DragHitTest(POINT point, bool withInterval) const;
    void DragUpdate(int row, bool after, bool onItem, int cursor, int interval, bool forceCursor);
    void AutoScrollStep();
    void DrawDropMark(int row, bool after, bool onItem, int oldRow);
    void EndDrag(bool cancelled, bool notify);

protected:
    bool OnHeaderNotify(NMHDR* nmh, LRESULT* result);
    bool OnReflectedNotify(NMHDR* nmh, LRESULT* result);
    LRESULT OnWidthPass();
    LRESULT OnOrderPass();
    bool OnCustomDraw(NMLVCUSTOMDRAW* draw, LRESULT* result);
    bool DrawRowLook(NMLVCUSTOMDRAW* draw, LRESULT* result);
    LRESULT AnswerByEvents(NMHDR* hdr, HWND parent, bool& answered) const;
    void OnColumnClick(int column, LRESULT* result, bool& handled);
    void ToggleColumn(int d);
    void RunColumnChooser();
    void AutoSizeColumnsExcept(int fixed);

    // Row dragging.
    void BeginDrag(POINT point);
    void OnDragMouseMove(POINT point);
    LRESULT OnDragMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);

    std::unique_ptr<TableDragState> m_drag;
    CToolTipCtrl* m_headerTips = nullptr;   // not owned
    std::vector<bool> m_tipFlags;           // a tool exists for the descriptor
    std::vector<ColumnDesc> m_columns;
    int m_sortKey = 0;
    std::vector<int> m_visibleMap;          // list column -> descriptor
    COLORREF m_altColor = CLR_INVALID;      // shading of odd rows, CLR_INVALID off
    ITableSettings* m_settings = nullptr;   // not owned

public:
    TableEvents tableEvents;
};

// A parent fills in its default columns as records (width, order, format, flags): where it
// leaves a title 0, the column keeps the title it had.
void KeepColumnTitles(std::vector<ColumnDesc>& filled, const std::vector<ColumnDesc>& before);

// The shading of odd rows on a background: its luminance moved 5 toward the middle.
COLORREF ShadingColorFor(COLORREF background);
