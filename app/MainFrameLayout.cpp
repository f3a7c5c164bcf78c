// Panels, layout and pages of the main frame.
#include "app/MainFrame.h"

#include <commctrl.h>

#include "app/NorvaneApp.h"
#include "core/TextUtil.h"

namespace {

constexpr DWORD kHeaderStyle = 0x5480020D;  // child, visible, clip siblings, border, centred, owner draw
// Right edges of the status bar's parts, counted from the right border (the last one -1).
constexpr int kStatusPartOffsets[] = {370, 345, 320, 280, 80};

int WindowHeight(HWND hwnd)
{
    RECT rc{};
    if (hwnd)
        GetWindowRect(hwnd, &rc);
    return rc.bottom - rc.top;
}

SIZE WindowSize(HWND hwnd)
{
    RECT rc{};
    GetWindowRect(hwnd, &rc);
    return {rc.right - rc.left, rc.bottom - rc.top};
}

} // namespace

void CMainFrame::CreateHeader()
{
    HWND h = CreateWindowExW(0, L"Static", nullptr, kHeaderStyle, 0, 0, 100, 20, m_hWnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PAGE_HEADER)), GetProgramModule(),
                             nullptr);
    if (!h)
        return;
    header = h;
    LOGFONTW gui{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(gui), &gui);
    LOGFONTW lf{};
    HDC dc = GetDC(m_hWnd);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    int points = 12;
    if (gui.lfHeight < 0)
        points = MulDiv(-gui.lfHeight, 72, dpi) + 4;
    lf.lfHeight = -MulDiv(points, dpi, 72);
    lf.lfWeight = FW_BOLD;
    lf.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(lf.lfFaceName, L"Segoe UI");
    headerFont.Attach(CreateFontIndirectW(&lf));
    SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(headerFont.Get()), FALSE);
    HGDIOBJ old = SelectObject(dc, headerFont.Get());
    SIZE letter{};
    GetTextExtentPoint32W(dc, L"W", 1, &letter);
    SelectObject(dc, old);
    ReleaseDC(m_hWnd, dc);
    const int height = std::max(WindowHeight(pageToolbar) + 2, static_cast<int>(letter.cy) + 4);
    SetWindowPos(header, nullptr, 0, 0, 100, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateHeaderText();
}

void CMainFrame::UpdateHeaderText()
{
    if (!header)
        return;
    std::wstring title;
    if (const PageTableEntry* page = FindPage(currentPage))
        LoadResString(page->titleId, title);
    SetWindowTextW(header, title.c_str());
    InvalidateRect(header, nullptr, TRUE);
}

void CMainFrame::DrawHeader(const DRAWITEMSTRUCT* item)
{
    FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_HIGHLIGHT));
    std::wstring text;
    GetWindowString(item->hwndItem, text);
    RECT rc = item->rcItem;
    rc.left += 8;
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextColor(item->hDC, GetSysColor(COLOR_HIGHLIGHTTEXT));
    HGDIOBJ old = headerFont.Get() ? SelectObject(item->hDC, headerFont.Get()) : nullptr;
    DrawTextW(item->hDC, text.c_str(), static_cast<int>(text.size()), &rc, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (old)
        SelectObject(item->hDC, old);
}

void CMainFrame::CreateStatusBar()
{
    if (!statusBar.Create(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, m_hWnd,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR))))
        return;
    statusBar.toolTip = &toolTip;
    statusBar.hotPart = -1;
    SendMessageW(statusBar.m_hWnd, WM_SIZE, 0, 0);
    dirty |= MFD_STATUS;
}

void CMainFrame::ApplyPanels()
{
    const uint32_t panels = m_app.GetSettings().GetPanels();
    bool changed = false;
    if ((panels & PANEL_TOOLBAR) && !transToolBar) {
        auto bar = std::make_unique<CTransToolBar>(m_app.GetSettings(), richTip);
        if (bar->Create(m_hWnd)) {
            transToolBar = std::move(bar);
            changed = true;
            SetToolbarStates();
        }
    } else if (!(panels & PANEL_TOOLBAR) && transToolBar) {
        transToolBar.reset();
        changed = true;
    }
    if ((panels & PANEL_PAGELIST) && !pageListBar) {
        auto bar = std::make_unique<CPageListBar>(m_app.GetSettings());
        if (bar->Create(m_hWnd)) {
            pageListBar = std::move(bar);
            changed = true;
        }
    } else if (!(panels & PANEL_PAGELIST) && pageListBar) {
        pageListBar.reset();
        changed = true;
    }
    if ((panels & PANEL_HEADER) && !header) {
        CreateHeader();
        changed = true;
    } else if (!(panels & PANEL_HEADER) && header) {
        DestroyWindow(header);
        header = nullptr;
        headerFont.Delete();
        changed = true;
    }
    if ((panels & PANEL_STATUSBAR) && !statusBar.m_hWnd) {
        CreateStatusBar();
        changed = true;
    } else if (!(panels & PANEL_STATUSBAR) && statusBar.m_hWnd) {
        statusBar.Destroy();
        changed = true;
    }
    if (!changed)
        return;
    UpdatePageToolbarVisibility();
    dirty |= MFD_LAYOUT;
}

int CMainFrame::PageListWidth() const
{
    return pageListBar && pageListBar->m_hWnd ? WindowSize(pageListBar->m_hWnd).cx : 0;
}

int CMainFrame::TransToolBarHeight() const
{
    return transToolBar && transToolBar->m_hWnd ? WindowSize(transToolBar->m_hWnd).cy : 0;
}

void CMainFrame::UpdatePageToolbarVisibility()
{
    if (!pageToolbar)
        return;
    const PageTableEntry* row = FindPageEntry(currentPage);
    const bool show = (transToolBar && transToolBar->m_hWnd) || header != nullptr || (row && row->pageToolbar);
    ShowWindow(pageToolbar, show ? SW_SHOWNOACTIVATE : SW_HIDE);
    if (show)
        InvalidateRect(pageToolbar, nullptr, TRUE);
}

void CMainFrame::RecalcLayout(int width, int height)
{
    dirty &= ~MFD_LAYOUT;
    if (!m_hWnd)
        return;
    if (width < 0 || height < 0) {
        RECT rc;
        GetClientRect(m_hWnd, &rc);
        width = rc.right;
        height = rc.bottom;
    }
    HDWP batch = BeginDeferWindowPos(6);
    auto place = [&batch](HWND hwnd, int x, int y, int w, int h) {
        if (batch)
            batch = DeferWindowPos(batch, hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
        else
            SetWindowPos(hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    int top = 0, bottom = height, left = 0;
    // In the top right corner, on the transfer toolbar when it is there, else on the header;
    // above both, so that neither covers it.
    if (pageToolbar) {
        const SIZE s = WindowSize(pageToolbar);
        if (batch)
            batch = DeferWindowPos(batch, pageToolbar, HWND_TOP, width - s.cx - 1, 1, s.cx, s.cy, SWP_NOACTIVATE);
        else
            SetWindowPos(pageToolbar, HWND_TOP, width - s.cx - 1, 1, s.cx, s.cy, SWP_NOACTIVATE);
    }
    if (transToolBar && transToolBar->m_hWnd) {
        top = TransToolBarHeight();
        place(transToolBar->m_hWnd, 0, 0, width, top);
    }
    if (statusBar.m_hWnd) {
        const int h = WindowHeight(statusBar.m_hWnd);
        bottom -= h;
        place(statusBar.m_hWnd, 0, bottom, width, h);
        int parts[6];
        for (int i = 0; i < 5; ++i)
            parts[i] = width - kStatusPartOffsets[i];
        parts[5] = -1;
        SendMessageW(statusBar.m_hWnd, SB_SETPARTS, 6, reinterpret_cast<LPARAM>(parts));
    }
    // The page list runs from under the toolbar down to the status bar; the header and the
    // page take the rest.
    if (pageListBar && pageListBar->m_hWnd) {
        left = PageListWidth();
        place(pageListBar->m_hWnd, 0, top, left, std::max(0, bottom - top));
    }
    if (header) {
        const int h = WindowHeight(header);
        place(header, left, top, width - left, h);
        top += h;
    }
    if (batch)
        EndDeferWindowPos(batch);
    LayoutPage(width, height);
}

CBasePage* CMainFrame::GetCurrentPageObject() const
{
    CBasePage* page = currentPage >= 0 && currentPage < kPageSlotCount ? pages[currentPage].get() : nullptr;
    return page && page->m_hWnd ? page : nullptr;
}

void CMainFrame::LayoutPage(int width, int height)
{
    CBasePage* page = GetCurrentPageObject();
    if (!page)
        return;
    if (width < 0 || height < 0) {
        RECT rc;
        GetClientRect(m_hWnd, &rc);
        width = rc.right;
        height = rc.bottom;
    }
    const int left = PageListWidth();
    const int top = TransToolBarHeight() + (header ? WindowHeight(header) : 0);
    const int bottom = height - (statusBar.m_hWnd ? WindowHeight(statusBar.m_hWnd) : 0);
    SetWindowPos(page->m_hWnd, nullptr, left, top, std::max(0, width - left), std::max(0, bottom - top),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CMainFrame::CreatePage(int pageId)
{
    const PageTableEntry* entry = FindPage(pageId);
    if (!entry || !entry->create || pageId < 0 || pageId >= kPageSlotCount)
        return false;
    std::unique_ptr<CBasePage> page = entry->create(m_app);
    if (!page)
        return false;
    HWND focus = GetFocus();
    if (!page->CreateDialogWindow(m_hWnd))
        return false;
    pages[pageId] = std::move(page);
    if (focus && IsWindow(focus))
        SetFocus(focus);
    return true;
}

bool CMainFrame::ShowPage(int pageId)
{
    if (pageId == currentPage)
        return true;
    if (CBasePage* old = GetCurrentPageObject()) {
        if (!old->OnLeave())
            return false;
        ShowWindow(old->m_hWnd, SW_HIDE);
    }
    if (pageId >= 0 && pageId < kPageSlotCount && !pages[pageId])
        CreatePage(pageId);
    // The new page may decide the toolbar's states otherwise.
    dirty |= MFD_STATUS | MFD_TOOLBAR;
    currentPage = pageId;
    UpdatePageToolbarVisibility();
    CBasePage* page = GetCurrentPageObject();
    if (page) {
        LayoutPage();
        ShowWindow(page->m_hWnd, SW_SHOWNOACTIVATE);
        SetFocus(page->m_hWnd);
    }
    UpdateHeaderText();
    if (page)
        page->OnShow();
    return true;
}
