#pragma once
// The page "List of keys": the key list of the current configuration in a virtual table, edited,
// reordered, sorted, filtered, imported, exported and transferred key by key or by timer.
#include <memory>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Layout.h"
#include "framework/TableCtrl.h"
#include "pages/source/KeyListData.h"

class IPageHost;
class CAppSettings;
class CTransferDoc;

// Rows of transferred keys are drawn in this colour.
constexpr COLORREF kTransferredKeyColor = RGB(0, 128, 64);

// Idle work of the page.
constexpr uint32_t KLP_TOOLBAR = 0x2;
constexpr uint32_t KLP_REFRESH = 0x4;

class CKeyListPage : public CBasePage
{
public:
    explicit CKeyListPage(IPageHost& host);
    ~CKeyListPage() override;

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnIdleUpdate() override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;

    // The entries the list shows, in row order.
    std::vector<KvKeyPtr> ShownKeys() const;
    // The entry becomes the only selected row at the next refresh, scrolled near the middle.
    void RevealEntry(const KvKeyPtr& entry) { m_reveal = entry; }

    // The parts the tests and the transfer reach.
    CTableCtrl& List() { return m_list; }
    CKeyListLvData& Data() { return m_data; }
    HWND Toolbar() const { return m_toolbar; }

    bool AddKey();
    bool ChangeSelectedKeys();
    void DeleteSelectedKeys(bool withoutAsking);
    void SortBy(int sortKey);
    // Moves the selected rows before the target row (kRowAfterLast: to the end).
    void DropSelectedRowsAt(int targetRow);
    void RestoreDefaults() override;
    // The states of the context menu's and the drop-down menus' items.
    void PrepareMenu(HMENU menu);

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    bool CountRows(int& selected, int& total) override;
    void OnDestroy() override;
    void CreateToolbar();
    void LoadColumns();
    void Refresh();
    static int OnDataEvent(void* context, CVirtualListViewData* sender, int arg);
    void UpdateToolbar();
    void OnListMenu(POINT at) override;
    void ShowDropDownMenu(int buttonId);
    void OnSelectionChanged(int from, int to, bool selected);
    bool OnListKey(WORD key, unsigned modifiers);
    // A double click off the check box changes the selected keys.
    void OnActivate(int row, POINT at);
    // Rows of keys already transferred in their own colour (unless selected).
    void DrawTransferredRow(NMLVCUSTOMDRAW* draw);
    void OnColumnsChanged(int what);
    void StoreInterval();
    void ToggleFilter(uint32_t bit);
    void RemoveDuplicates();
    void SetNoDuplicates();
    void ClearTransferredFlags();
    void MakeLastKey();
    void RunImport(int kind);
    void RunExport(int kind);
    // The selected entries in row order.
    std::vector<KvKeyPtr> SelectedKeys() const;
    std::vector<int> SelectedRows() const;
    void QueueData(uint32_t work);

    CTableCtrl m_list;
    AnchorLayout m_layout;
    HWND m_toolbar = nullptr;
    uint32_t m_dirty = 0;
    CKeyListLvData m_data;
    std::vector<ColumnDesc> m_columns;
    bool m_columnsChanged = false;
    bool m_inRefresh = false;
    KvKeyPtr m_focused;
    KvKeyPtr m_reveal;
    std::wstring m_tip;  // the toolbar tip being shown
};

std::unique_ptr<CBasePage> CreateKeyListPage(IPageHost& host);
