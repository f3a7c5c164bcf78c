#include "app/PageListBar.h"

#include <shlwapi.h>
#include <windowsx.h>
#include <algorithm>
#include <cstring>
#include <string>

#include "config/AppSettings.h"
#include "core/TextUtil.h"
#include "framework/WinApp.h"
#include "resources/resource.h"

namespace {

constexpr COLORREF kArrowMask = RGB(255, 0, 255);
constexpr int kArrowWidth = 4;
constexpr int kArrowHeight = 7;
constexpr WORD kTreeHue = 143;
constexpr WORD kTreeSaturation = 125;

int WidthOf(HWND hwnd)
{
    RECT rc{};
    GetWindowRect(hwnd, &rc);
    return rc.right - rc.left;
}

// The left edge of a child inside its parent's client area.
int LeftIn(HWND child, HWND parent)
{
    RECT rc{};
    GetWindowRect(child, &rc);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
    return rc.left;
}

} // namespace

CPageListBar::CPageListBar(CAppSettings& settings) : CDialog(IDD_PAGE_LIST), m_settings(settings)
{
}

CPageListBar::~CPageListBar()
{
    // While the object is whole, so that WM_DESTROY still reaches OnDestroy.
    Destroy();
}

bool CPageListBar::Create(HWND parent)
{
    if (!CreateDialogWindow(parent))
        return false;
    SetWindowLongPtrW(m_hWnd, GWLP_ID, IDD_PAGE_LIST);
    ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    return true;
}

LRESULT CPageListBar::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        OnSize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_DRAWITEM:
        if (wParam == IDC_PAGE_LIST_STRIP) {
            DrawStrip(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == m_tree) {
            OnContextMenu(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            return TRUE;
        }
        break;
    }
    return CDialog::HandleMessage(hwnd, message, wParam, lParam);
}

bool CPageListBar::OnInitDialog()
{
    // A control inside the main window, not a dialog of its own.
    LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    style &= ~static_cast<LONG_PTR>(WS_CAPTION | WS_BORDER | WS_DLGFRAME | WS_THICKFRAME | WS_DISABLED);
    style |= DS_CONTROL;
    SetWindowLongPtrW(m_hWnd, GWL_STYLE, style);
    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE,
                      GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) & ~static_cast<LONG_PTR>(WS_EX_DLGMODALFRAME));
    SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    m_tree = GetDlgItem(m_hWnd, IDC_PAGE_LIST_TREE);
    m_strip = GetDlgItem(m_hWnd, IDC_PAGE_LIST_STRIP);

    LPCWSTR name = MAKEINTRESOURCEW(IDB_PAGE_LIST_ARROWS);
    m_arrows = ImageList_LoadImageW(FindResourceModule(name, RT_BITMAP), name, kArrowWidth, 2, kArrowMask, IMAGE_BITMAP,
                                    LR_CREATEDIBSECTION);

    COLORREF old = static_cast<COLORREF>(SendMessageW(m_tree, TVM_GETBKCOLOR, 0, 0));
    if (old == CLR_NONE || old == CLR_INVALID)
        old = GetSysColor(COLOR_WINDOW);
    WORD hue = 0, luminance = 0, saturation = 0;
    ColorRGBToHLS(old, &hue, &luminance, &saturation);
    const COLORREF tinted = ColorHLSToRGB(kTreeHue, luminance < 120 ? 9 : 231, kTreeSaturation);
    SendMessageW(m_tree, TVM_SETBKCOLOR, 0, static_cast<LPARAM>(tinted));

    m_observer = m_settings.Observe(this, &CPageListBar::OnSettingsChanged);
    BuildTree();
    return false; // the bar takes no focus of its own
}

void CPageListBar::OnDestroy()
{
    m_observer.Reset();
    if (m_strip) {
        DestroyWindow(m_strip);
        m_strip = nullptr;
    }
    if (m_arrows) {
        ImageList_Destroy(m_arrows);
        m_arrows = nullptr;
    }
    m_tree = nullptr;
    m_items.fill(nullptr);
}

void CPageListBar::BuildTree()
{
    if (!m_tree)
        return;
    m_building = true;
    SendMessageW(m_tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    m_items.fill(nullptr);
    const uint32_t listed = m_settings.GetPageListPages();
    HTREEITEM lastTop = nullptr;
    for (const PageTableEntry& page : kPageRegistry) {
        if (!(listed & (1u << page.id)))
            continue;
        const int head = page.groupHead;
        const bool nested = head >= 0 && (listed & (1u << head)) && lastTop;
        std::wstring title;
        LoadResString(page.titleId, title);
        TVINSERTSTRUCTW insert{};
        insert.hParent = nested ? lastTop : TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
        insert.item.state = insert.item.stateMask = TVIS_EXPANDED;
        insert.item.pszText = title.data();
        insert.item.lParam = page.id;
        HTREEITEM item = reinterpret_cast<HTREEITEM>(
            SendMessageW(m_tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        m_items[page.id] = item;
        if (nested)
            SendMessageW(m_tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(lastTop));
        else
            lastTop = item;
    }
    SelectCurrentPage();
    m_building = false;
    m_expandedWidth = -1;
    ApplyCollapsed();
}

void CPageListBar::SelectCurrentPage()
{
    if (!m_tree)
        return;
    const int page = m_settings.GetCurrentPage();
    HTREEITEM item = page >= 0 && page < kPageSlotCount ? m_items[page] : nullptr;
    SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void CPageListBar::MeasureWidth()
{
    int widest = 0;
    for (HTREEITEM item : m_items) {
        if (!item)
            continue;
        RECT rc{};
        // The item goes in where the rectangle comes out.
        memcpy(&rc, &item, sizeof item);
        if (SendMessageW(m_tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rc)))
            widest = std::max(widest, static_cast<int>(rc.right));
    }
    const int offset = LeftIn(m_tree, m_hWnd);
    m_expandedWidth = std::max(widest + 2 * offset + 2, kPageListMinTreeWidth) + WidthOf(m_strip);
}

int CPageListBar::DesiredWidth() const
{
    return m_collapsed || m_expandedWidth < 0 ? WidthOf(m_strip) : m_expandedWidth;
}

void CPageListBar::ApplyCollapsed()
{
    if (!m_tree)
        return;
    m_collapsed = m_settings.IsPageListCollapsed();
    if (!m_collapsed && m_expandedWidth < 0) {
        // The items are measured where they stand: the tree shows while it is measured.
        ShowWindow(m_tree, SW_SHOWNA);
        MeasureWidth();
    }
    ShowWindow(m_tree, m_collapsed ? SW_HIDE : SW_SHOWNA);
    InvalidateRect(m_strip, nullptr, TRUE);
    ApplyWidth();
}

void CPageListBar::ApplyWidth()
{
    RECT rc{};
    GetWindowRect(m_hWnd, &rc);
    const int width = DesiredWidth();
    if (width == rc.right - rc.left)
        return;
    SetWindowPos(m_hWnd, nullptr, 0, 0, width, rc.bottom - rc.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    NMHDR nmh{};
    nmh.hwndFrom = m_hWnd;
    nmh.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(m_hWnd));
    nmh.code = PLN_WIDTH_CHANGED;
    SendMessageW(GetParent(m_hWnd), WM_NOTIFY, nmh.idFrom, reinterpret_cast<LPARAM>(&nmh));
}

void CPageListBar::OnSize(int width, int height)
{
    if (!m_strip)
        return;
    SetWindowPos(m_strip, nullptr, 0, 0, WidthOf(m_strip), height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (!m_collapsed) {
        const int left = LeftIn(m_tree, m_hWnd);
        SetWindowPos(m_tree, nullptr, 0, 0, std::max(0, width - left), height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CPageListBar::DrawStrip(const DRAWITEMSTRUCT* item)
{
    FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_BTNFACE));
    if (m_arrows)
        ImageList_Draw(m_arrows, m_collapsed ? 1 : 0, item->hDC, 0,
                       (item->rcItem.top + item->rcItem.bottom - kArrowHeight) / 2, ILD_TRANSPARENT);
}

HMENU CPageListBar::BuildMenu() const
{
    LPCWSTR name = MAKEINTRESOURCEW(IDM_PAGE_LIST);
    HMENU menu = LoadMenuW(FindResourceModule(name, RT_MENU), name);
    if (!menu)
        return nullptr;
    HMENU popup = GetSubMenu(menu, 0);
    RemoveMenu(menu, 0, MF_BYPOSITION);
    DestroyMenu(menu);
    const uint32_t listed = m_settings.GetPageListPages();
    for (int n = 0; n < kPageCount; ++n) {
        const PageTableEntry& page = kPageRegistry[n];
        std::wstring title;
        LoadResString(page.titleId, title);
        if (page.groupHead >= 0)
            title.insert(0, L"    ");
        const UINT flags = MF_BYPOSITION | MF_STRING | ((listed & (1u << page.id)) ? MF_CHECKED : MF_UNCHECKED);
        InsertMenuW(popup, static_cast<UINT>(n), flags, static_cast<UINT_PTR>(kFirstPageListCommand + n),
                    title.c_str());
    }
    return popup;
}

void CPageListBar::OnContextMenu(int x, int y)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetCurrentThreadId(), &info) && (info.flags & (GUI_INMENUMODE | GUI_INMOVESIZE)))
        return;
    if (x == -1 && y == -1) {
        RECT rc{};
        GetWindowRect(m_tree, &rc);
        x = rc.left;
        y = rc.top;
    }
    HMENU menu = BuildMenu();
    if (!menu)
        return;
    const int id = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, x, y, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
    if (id)
        OnCommand(id, 0, nullptr);
}

bool CPageListBar::OnCommand(int id, int code, HWND control)
{
    if (id >= kFirstPageListCommand && id < kFirstPageListCommand + kPageCount) {
        m_settings.SetPageListPages(m_settings.GetPageListPages() ^ (1u << kPageRegistry[id - kFirstPageListCommand].id));
        return true;
    }
    switch (id) {
    case ID_PAGELIST_CHECK_ALL:
        m_settings.SetPageListPages(kPageListAll);
        return true;
    case ID_PAGELIST_UNCHECK_ALL:
        m_settings.SetPageListPages(0);
        return true;
    case ID_PAGELIST_DEFAULT:
        m_settings.SetPageListPages(kPageListDefault);
        BuildTree();
        return true;
    case IDC_PAGE_LIST_STRIP:
        if (code == STN_CLICKED || code == STN_DBLCLK) {
            m_settings.SetPageListCollapsed(!m_settings.IsPageListCollapsed());
            ApplyCollapsed();
            return true;
        }
        break;
    }
    return CDialog::OnCommand(id, code, control);
}

bool CPageListBar::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (id != IDC_PAGE_LIST_TREE)
        return CDialog::OnNotify(id, nmh, result);
    switch (nmh->code) {
    case TVN_ITEMEXPANDINGW:
    case TVN_ITEMEXPANDINGA: {
        const UINT action = reinterpret_cast<NMTREEVIEWW*>(nmh)->action & 0xFF;
        // Groups stay open: their heads are pages too, and a folded group would hide its pages.
        *result = (action == TVE_COLLAPSE || action == TVE_TOGGLE) ? TRUE : FALSE;
        return true;
    }
    case TVN_ITEMEXPANDEDW:
    case TVN_ITEMEXPANDEDA: {
        // Some tree controls fold a group on a double click whatever the answer above was.
        const NMTREEVIEWW* tv = reinterpret_cast<NMTREEVIEWW*>(nmh);
        if (!(tv->itemNew.state & TVIS_EXPANDED))
            PostMessageW(m_tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(tv->itemNew.hItem));
        return true;
    }
    case TVN_SELCHANGEDW:
    case TVN_SELCHANGEDA: {
        if (m_building)
            return false;
        const TVITEMW& item = reinterpret_cast<NMTREEVIEWW*>(nmh)->itemNew;
        m_settings.SetCurrentPage(item.hItem ? static_cast<int32_t>(item.lParam) : -1);
        return true;
    }
    case NM_CUSTOMDRAW:
        *result = OnCustomDraw(reinterpret_cast<NMTVCUSTOMDRAW*>(nmh));
        return true;
    }
    return CDialog::OnNotify(id, nmh, result);
}

LRESULT CPageListBar::OnCustomDraw(NMTVCUSTOMDRAW* draw)
{
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        // The tinted background would swallow the tree's own colours of an unfocused selection.
        if (draw->nmcd.uItemState & CDIS_SELECTED) {
            draw->clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
            draw->clrTextBk = GetSysColor(COLOR_HIGHLIGHT);
        }
        return CDRF_DODEFAULT;
    }
    return CDRF_DODEFAULT;
}

void CPageListBar::OnSettingsChanged(void* key, CDocument*, const uint32_t* bits)
{
    auto* bar = static_cast<CPageListBar*>(key);
    if (!(bits[0] & ASC_UI))
        return;
    const uint32_t ui = bar->m_settings.GetDetails().ui;
    if (ui & ASU_CURRENT_PAGE) {
        bar->m_building = true;
        bar->SelectCurrentPage();
        bar->m_building = false;
    }
    if (ui & ASU_PAGELIST_PAGES)
        bar->BuildTree();
    else if (ui & ASU_PAGELIST_COLLAPSED)
        bar->ApplyCollapsed();
}
