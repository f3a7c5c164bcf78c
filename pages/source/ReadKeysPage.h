#pragma once
// The reading keys page: a tab control whose sub-pages are created the first time their tab is
// shown, and its general sub-page (the key types passed on and the Vell-4 scan mode).
#include <array>
#include <memory>

#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/Layout.h"
#include "framework/ListCtrl.h"
#include "pages/KeyTypesLvData.h"
#include "pages/source/ReadKeysSubPages.h"

class CTransferDoc;

class CReadKeysPage : public CBasePage
{
public:
    explicit CReadKeysPage(IPageHost& host);

    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnIdleUpdate() override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;

    // Shows tab n's sub-page, creating it first; false when it cannot be shown.
    bool ShowSubPage(int n);
    void PlaceSubPage(int width = -1, int height = -1, HDWP* batch = nullptr);
    void UpdateTabImages();
    void RestoreDefaults() override;

    int GetShownIndex() const { return m_shown; }
    CBasePage* GetSubPage(int n) const { return n >= 0 && n < kReadKeysTabCount ? m_subPages[n].get() : nullptr; }

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void DeleteSubPages();
    CTransferDoc& Doc() const;

    HWND m_tab = nullptr;
    CImageList m_images;
    std::array<std::unique_ptr<CBasePage, DestroyWindowFirst>, kReadKeysTabCount> m_subPages;
    int m_shown = -1;
};

class CReadKeysGeneralPage : public CBasePage
{
public:
    explicit CReadKeysGeneralPage(IPageHost& host);

    bool OnCommand(int id, int code, HWND control) override;
    void ExchangeData(bool save) override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;

    void ChangeKeyTypes(uint32_t clear, uint32_t set);

    const CKeyTypesLvData& GetData() const { return m_data; }

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    bool OnContextMenu(HWND window, POINT at) override;
    void OnDestroy() override;
    void RefreshList();
    void StoreKeyTypes(uint32_t mask);
    void ToggleSelectedTypes();
    void ToggleRowType(int row);
    CTransferDoc& Doc() const;
    static int OnDataEvent(void* context, CVirtualListViewData* sender, int arg);

    AnchorLayout m_layout;
    CKeyTypesLvData m_data;
    CListCtrl m_list;
};
