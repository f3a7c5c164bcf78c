#pragma once
// Tables under test: a top-level window that hosts a CTableCtrl over numbered rows, answers and
// records its TN_ notifications, settings that stand in for the application's, mouse and key
// input through the system, and a script that acts inside the modal loops and menus a test
// starts (run from a thread timer on the UI thread).
#include <windows.h>
#include <commctrl.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Document.h"
#include "framework/Controls.h"
#include "framework/TableCtrl.h"

// Rows "r<row>c<column>"; records what the list asked for.
class CNumberedRows : public CVirtualListViewData
{
public:
    explicit CNumberedRows(int count) : m_count(count) {}
    int GetItemCount() override { return m_count; }
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int from, int to) override;

    int m_count;
    std::vector<int> asked;                   // rows of GetDispInfo
    std::vector<std::pair<int, int>> hints;   // CacheHint ranges
    std::wstring m_text;
};

// What the parent received, copied out of the notification.
struct TableNote
{
    UINT code = 0;
    TableDragInfo drag{};
    int sortKey = 0;
    int what = 0;
    int index = 0;
    bool columnsGiven = false;
    bool flag = false;
};

class CTableHost : public CWnd
{
public:
    // A table of `rows` rows with the columns, in a window whose client is width x height.
    CTableHost(int rows, std::vector<ColumnDesc> columns, int width = 420, int height = 300,
               DWORD listStyle = LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS);
    ~CTableHost() override;

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    int Count(UINT code) const;
    const TableNote* Last(UINT code) const;
    // Pumps until the predicate holds; false after the time-out.
    static bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

    CTableCtrl table;
    CNumberedRows rows;
    std::vector<TableNote> notes;
    std::pair<WPARAM, HWND> lastCommand{}; // the last WM_COMMAND: wParam and control
    // Answers; a null one answers 0.
    std::function<LRESULT(TableDragInfo&)> onDrag;
    std::function<LRESULT(TableSortRequest&)> onSort;
    std::function<LRESULT(TableColumnSet&)> onDefaults;
    std::function<void(HMENU)> onHeaderMenu;
};

ColumnDesc Col(int width, int order, int format = COLFMT_LEFT, int flags = COLF_VISIBLE, int titleId = 0);

class CFakeTableSettings : public ITableSettings
{
public:
    bool GetNoSortHeader() override { return noSortHeader; }
    void SetNoSortHeader(bool on) override { noSortHeader = on; ++noSortChanges; }
    bool GetTableGrid() override { return grid; }
    bool GetAlternateRows() override { return alternate; }
    std::vector<ColumnDesc> GetChooserColumns() override { return chooserColumns; }
    void StoreChooserColumns(const std::vector<ColumnDesc>& columns) override;
    CDocument* GetSettingsDocument() override { return &document; }
    void ExchangeChooserPlacement(bool save, HWND dialog) override;
    CToolTipCtrl* GetMainToolTip() override { return tips; }

    bool noSortHeader = false;
    int noSortChanges = 0;
    bool grid = false;
    bool alternate = false;
    std::vector<ColumnDesc> chooserColumns;
    int chooserStores = 0;
    CDocument document;
    std::vector<bool> placements; // save flags, in order
    CToolTipCtrl* tips = nullptr;
};

// Where the table tests put their windows: the bottom right corner of the screen, which the
// other tests of the folder, running beside them, leave alone; size is the window's.
POINT TableCornerFor(SIZE size);

// The mouse through the system's input queue (screen coordinates), pumped after each step.
void MouseMoveTo(POINT screen);
// A press waits until a window of this thread is under the cursor (another test's window may
// lie there for a moment).
void MouseButton(bool left, bool down);
POINT ToScreen(HWND window, POINT client);
// A key pressed and released on the window with the modifiers held in this thread's key
// state: no other window, focused or not, can take it.
void PressKey(HWND window, WORD key, std::initializer_list<WORD> modifiers = {});

// Steps run one after another on the UI thread from a thread timer; a step that returns false
// runs again at the next tick. After the time-out the script ends every menu and closes the
// thread's dialogs, so that no test hangs.
class CUiScript
{
public:
    explicit CUiScript(std::vector<std::function<bool()>> steps, DWORD timeoutMs = 10000);
    ~CUiScript();
    CUiScript(const CUiScript&) = delete;
    CUiScript& operator=(const CUiScript&) = delete;
    bool Finished() const { return m_next >= m_steps.size(); }
    bool TimedOut() const { return m_timedOut; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);
    void Run();

    std::vector<std::function<bool()>> m_steps;
    size_t m_next = 0;
    UINT_PTR m_timer = 0;
    ULONGLONG m_deadline;
    bool m_running = false;
    bool m_timedOut = false;
};

// The thread's visible dialog with that caption (not `except`), or null.
HWND FindThreadDialog(const wchar_t* caption, HWND except = nullptr);
// The popup menu shown now, or null.
HMENU ShownMenu();
