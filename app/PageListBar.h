#pragma once
// The page list bar at the left of the main window: a tree of the pages the user chose to list,
// a strip beside it that folds the bar to its own width and back, and a context menu that
// chooses the listed pages. Selecting an item makes its page the current one.
#include <windows.h>
#include <commctrl.h>
#include <array>
#include <cstdint>

#include "core/Document.h"
#include "framework/Dialog.h"
#include "pages/PageRegistry.h"

class CAppSettings;

// WM_NOTIFY code the bar sends its parent when its width changed.
constexpr UINT PLN_WIDTH_CHANGED = 1;
// "pageList" "pages" of the menu's commands: the stored word of "Check all" (pages 0 to 4, 10 to
// 13 and 20 to 24), or the settings' default.
constexpr uint32_t kPageListAll = 0x1F03C1F;
constexpr uint32_t kPageListDefault = kDefaultPageListPages;
static_assert([] {
    for (const PageTableEntry& page : kPageRegistry)
        if (page.id >= 32 || !(kPageListAll & (1u << page.id)))
            return false;
    return (kPageListDefault & ~kPageListAll) == 0;
}(), "\"Check all\" lists every page of the registry, and the default lists only pages");
constexpr int kPageListMinTreeWidth = 75;
// The page entries of the context menu: this id + the entry's position in list order.
constexpr int kFirstPageListCommand = 10000;

class CPageListBar : public CDialog
{
public:
    explicit CPageListBar(CAppSettings& settings);
    ~CPageListBar() override;

    bool Create(HWND parent);
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    HWND Tree() const { return m_tree; }
    HWND Strip() const { return m_strip; }
    // The bar's width as it should be now (collapsed: the strip's).
    int DesiredWidth() const;
    void BuildTree();
    void ApplyCollapsed();
    void SelectCurrentPage();
    // The menu of the tree with the page entries at its top (the caller destroys it).
    HMENU BuildMenu() const;

private:
    bool OnInitDialog() override;
    void OnDestroy() override;
    void OnSize(int width, int height);
    void OnContextMenu(int x, int y);
    void DrawStrip(const DRAWITEMSTRUCT* item);
    void MeasureWidth();
    void ApplyWidth();
    LRESULT OnCustomDraw(NMTVCUSTOMDRAW* draw);
    static void OnSettingsChanged(void* key, CDocument* doc, const uint32_t* bits);

    CAppSettings& m_settings;
    HWND m_tree = nullptr;
    HWND m_strip = nullptr;
    HIMAGELIST m_arrows = nullptr;
    std::array<HTREEITEM, kPageSlotCount> m_items{};
    bool m_collapsed = false;
    int m_expandedWidth = -1;  // -1: to be measured
    bool m_building = false;   // selection changes while the tree is rebuilt are not the user's
    CObserverToken m_observer;
};
