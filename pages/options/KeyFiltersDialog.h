#pragma once
// The key filters dialog: edits a working copy of the configuration's key filters (order,
// names, key types, key size, tabs of the formats page) and stores it on Apply or OK.
#include <string>

#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/Layout.h"
#include "framework/TableCtrl.h"
#include "pages/KeyTypesLvData.h"
#include "pages/options/KeyFilterList.h"

class CTransferDoc;

// The rows of the filter list, one per working filter.
class CKeyFiltersLvData : public CVirtualListViewData
{
public:
    CKeyFiltersLvData(KeyFilterList& work, IPageHost& host, const CTableCtrl& table)
        : m_work(work), m_host(host), m_table(table)
    {
    }
    int GetItemCount() override;
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int, int) override {}

    // The text of a data column (0 visible ... 5 key size).
    std::wstring CellText(int row, int column) const;

private:
    KeyFilterList& m_work;
    IPageHost& m_host;
    const CTableCtrl& m_table;
    std::wstring m_text;
};

// The key-types column's text of a mask: "All", one type's long name, or the short names.
std::wstring KeyTypesText(uint32_t mask, IPageHost& host);

class CKeyFiltersDialog : public CModalDialog
{
public:
    explicit CKeyFiltersDialog(IPageHost& host);
    ~CKeyFiltersDialog() override;

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    const KeyFilterList& Work() const { return m_work; }
    uint32_t TakenMask() const { return m_taken; }
    // Writes the edited properties and stores the working copy; false when a property is refused.
    bool Apply();

private:
    // The filters sorted by the key a header click asks for; false when the edits are not valid.
    bool SortBy(int key);
    // Property agreement bits.
    enum : uint32_t { PROP_NAME = 1, PROP_TYPES = 2, PROP_SIZE = 4, PROP_VISIBLE = 8 };

    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    bool OnContextMenu(HWND window, POINT at) override;
    void OnDestroy() override;
    // OK stores the working copy when anything was changed or typed.
    bool OnAccept() override { return !(m_applyEnabled || m_edited) || Apply(); }
    void SetUpFilterList();
    void SetUpTypesList();
    void RefreshList();
    void PushSelection();
    void ReadSelection();
    void RefreshProperties();
    void ShowTypes();
    void ComputeTaken();
    bool WriteProperties();
    void WriteKeyTypes();
    void ChangeTypeBit(int type);
    void ToggleVisible();
    void EnableApply(bool on = true);
    void UpdateButtons();
    bool OnFilterListKey(WORD key, unsigned modifiers);
    bool OnFilterListNotify(NMHDR* nmh);
    bool OnTypesListNotify(NMHDR* nmh, LRESULT* result);
    void DoAdd();
    void DoDuplicate();
    void DoDelete(bool ask);
    void DoReset();
    void DoMove(bool up);
    void DoShowTab();
    void StoreColumns();
    void OnSettingsChanged(const uint32_t* bits);
    static void OnSettingsObserver(void* key, CDocument* doc, const uint32_t* bits);
    static int OnTypesEvent(void* context, CVirtualListViewData* sender, int arg);
    CTransferDoc& Doc() const;

    IPageHost& m_host;
    KeyFilterList m_work;
    AnchorLayout m_layout;
    CTableCtrl m_list;
    CKeyFiltersLvData m_listData;
    CListCtrl m_types;
    CKeyTypesLvData m_typesData;
    CImageList m_stateImages;
    CImageList m_typeImages;
    CObserverToken m_observer;

    bool m_pending = false;
    int m_selected = 0;
    uint32_t m_agreed = 0;
    uint32_t m_applied = 0;
    uint32_t m_keyTypes = 0;
    uint32_t m_determinate = 0;
    uint32_t m_agreedAtRefresh = 0;
    int32_t m_keySize = 0;
    int32_t m_referenceSize = 0;
    bool m_visible = true;
    uint32_t m_taken = 0;
    bool m_edited = false;
    bool m_applyEnabled = false;
};

// Runs the dialog over the host's configuration, owned by the window; the dialog's result (1
// after OK, 2 after Cancel, -1 when it could not be shown).
int RunKeyFiltersDialog(HWND owner, IPageHost& host);
