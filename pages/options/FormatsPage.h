#pragma once
// The "Formats" page: the formats of the current configuration as a filtered, sortable list with
// a tab per shown key filter, the choice of the format each key filter renders with, and the
// editors of the formats.
#include <memory>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/Layout.h"
#include "framework/TableCtrl.h"
#include "pages/options/FormatsIo.h"
#include "pages/options/FormatsView.h"

class IPageHost;
class CAppSettings;

// The rows of the formats list: the view of the format list and a cache of the hinted rows.
class CFormatsLvData : public CVirtualListViewData
{
public:
    // Bits of m_flags.
    static constexpr uint32_t kNotify = 0x1;
    static constexpr uint32_t kRecache = 0x2;
    static constexpr uint32_t kRebuild = 0x4;

    struct Row
    {
        bool chosen = false;
        std::wstring number, id, name;
        KvFormatPtr format;
    };

    int GetItemCount() override { return static_cast<int>(m_view.size()); }
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int from, int to) override;

    // The format of a view row; null outside the view.
    KvFormatPtr FormatAt(int row) const;
    // The view row of a format, -1 when it is not shown.
    int RowOf(const KvFormatPtr& format) const;
    void RebuildView();
    void Recache();

    CTransferDoc* m_doc = nullptr;
    CAppSettings* m_settings = nullptr;
    const std::vector<int>* m_visibleMap = nullptr;  // list column -> data column
    uint32_t m_filter = 0;
    uint32_t m_keyFilter = 0;
    uint32_t m_chosenId = 0;
    std::vector<int> m_view;
    uint32_t m_flags = 0;

private:
    Row MakeRow(int row) const;
    const Row& CachedRow(int row);

    std::vector<Row> m_cache;
    int m_cacheFrom = 0;
    Row m_scratch;
    std::wstring m_text;
};

class CFormatsPage : public CBasePage
{
public:
    explicit CFormatsPage(IPageHost& host);
    ~CFormatsPage() override;

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnIdleUpdate() override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;

    // The format dialog for a new format; true on OK (the new format is selected at the next
    // idle pass).
    bool AddFormat();
    // Selects and focuses the only row of the format shown under that name, with half a page
    // of rows around it; nothing changes when no row shows it.
    void SelectFormatNamed(const std::wstring& name);
    // The formats import (kind 1 to 3, 0 the stored kind) and export (kind 1 to 6, 0 the stored
    // kind); false when the file dialog was cancelled.
    bool ImportFormats(int kind);
    bool ExportFormats(int kind);
    // The page's rows and shown columns as the exports write them.
    FormatsTableView TableView();
    // The file dialogs and the Shift key the commands ask; null: the real ones.
    void SetFileUi(ITableFileUi* ui) { m_fileUi = ui; }

    CTableCtrl& Table() { return m_table; }
    CFormatsLvData& Data() { return m_data; }
    HWND Tabs() const { return m_tabs; }
    HWND Toolbar() const { return m_toolbar; }

    // Page flags.
    static constexpr uint32_t kRefilling = 0x1;
    static constexpr uint32_t kColumnsChanged = 0x2;
    // Idle flags.
    static constexpr uint32_t kIdleToolbar = 0x2;
    static constexpr uint32_t kIdleSelectRemembered = 0x4;
    static constexpr uint32_t kIdleRememberFocused = 0x8;

private:
    void OnColumnsChanged(int what);
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void Relayout();
    void FillTabs();
    void RefreshTabImages();
    void RefreshKeyFilterState();
    void LoadColumns();
    void StoreColumns();
    void RefreshView();
    void ApplySelectionMarks();
    void UpdateToolbar();
    void RequestIdle(uint32_t flags);

    void ToggleFilter(uint32_t bit);
    void ToggleChoice(int row);
    void ToggleVisible(const std::vector<int>& rows);
    void ActOnSpace();
    void EditSelected();
    void DeleteSelected(bool ask);
    void DuplicateSelected();
    void SelectAll();
    void RestoreDefaults() override;
    void ToggleKeyFilter(int index);
    void SortBy(int key);
    void DropRows(int drop);
    // The key filters dialog comes with its own work; the command is its call point.
    void RunKeyFiltersDialog();
    // Runs an import or export command; its failure is shown, and what it merged stays.
    template <class F>
    void RunFileCommand(F command);

    void OnListMenu(POINT at) override;
    void PrepareListMenu(HMENU menu);
    void ShowTabMenu();
    void ShowDropDown(int command);
    void OnListClick(const NMITEMACTIVATE* hit);
    bool OnListKey(WORD key, unsigned modifiers);
    void OnSelectionChange(int from, int to, bool selected);

    CAppSettings& Settings();
    CTransferDoc& Doc();

    CTableCtrl m_table;
    CFormatsLvData m_data;
    CImageList m_images;
    CImageList m_tabImages;
    HWND m_tabs = nullptr;
    HWND m_toolbar = nullptr;
    ITableFileUi* m_fileUi = nullptr;
    KvFormatPtr m_remembered;
    uint32_t m_pageFlags = 0;
    uint32_t m_idleFlags = 0;
};

std::unique_ptr<CBasePage> CreateFormatsPage(IPageHost& host);
