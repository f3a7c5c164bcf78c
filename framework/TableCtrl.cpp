#include "framework/TableCtrl.h"

#include <shlwapi.h>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/TextUtil.h"
#include "framework/ColumnChooser.h"
#include "framework/Controls.h"
#include "framework/Holders.h"
#include "framework/WinApp.h"
#include "resources/resource.h"

bool HeaderTracking = false;

namespace {

constexpr int kMinColumnWidth = 10;
constexpr int kTipMargin = 12; // pixels a title needs beside its text before it is cut off

int ListColumnFormat(int format)
{
    switch (format) {
    case COLFMT_RIGHT: return LVCFMT_RIGHT;
    case COLFMT_CENTER: return LVCFMT_CENTER;
    default: return LVCFMT_LEFT;
    }
}

std::wstring TitleOf(const ColumnDesc& c)
{
    std::wstring title;
    if (c.titleId != 0)
        LoadResString(static_cast<UINT>(c.titleId), title);
    return title;
}

// Removes the messages of one kind still waiting for the window.
void RemoveWaiting(HWND hwnd, UINT message)
{
    MSG msg;
    while (PeekMessageW(&msg, hwnd, message, message, PM_REMOVE | PM_NOYIELD)) {
    }
}

int HeaderFormat(HWND header, int item)
{
    HDITEMW hi{};
    hi.mask = HDI_FORMAT;
    return SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&hi)) ? hi.fmt : 0;
}

void SetHeaderFormat(HWND header, int item, int fmt)
{
    HDITEMW hi{};
    hi.mask = HDI_FORMAT;
    hi.fmt = fmt;
    SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&hi));
}

class CSelection
{
public:
    CSelection(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(SelectObject(dc, object)) {}
    ~CSelection() { SelectObject(m_dc, m_old); }
    CSelection(const CSelection&) = delete;
    CSelection& operator=(const CSelection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

} // namespace

void KeepColumnTitles(std::vector<ColumnDesc>& filled, const std::vector<ColumnDesc>& before)
{
    for (size_t i = 0; i < filled.size() && i < before.size(); ++i) {
        if (filled[i].titleId == 0)
            filled[i].titleId = before[i].titleId;
    }
}

COLORREF ShadingColorFor(COLORREF background)
{
    WORD hue = 0, luminance = 0, saturation = 0;
    ColorRGBToHLS(background, &hue, &luminance, &saturation);
    luminance = static_cast<WORD>(luminance < 120 ? luminance + 5 : luminance - 5);
    return ColorHLSToRGB(hue, luminance, saturation);
}

CTableCtrl::CTableCtrl() = default;

CTableCtrl::~CTableCtrl()
{
    // The window outlives no object: its last messages must not reach a half-destroyed table.
    if (m_drag)
        EndDrag(true, false);
}

// ---- columns ----

void CTableCtrl::SetColumns(const std::vector<ColumnDesc>& records, const std::vector<int>& titleIds)
{
    std::vector<ColumnDesc> columns(records);
    for (size_t i = 0; i < columns.size(); ++i)
        columns[i].titleId = i < titleIds.size() ? titleIds[i] : 0;
    SetColumns(columns);
}

void CTableCtrl::SetColumns(const std::vector<ColumnDesc>& columns)
{
    m_columns = columns;
    // Widths come from the settings file unchecked; a negative one would upset the shares.
    for (ColumnDesc& c : m_columns)
        c.width = std::max(c.width, 0);
    m_visibleMap.clear();
}

void CTableCtrl::ApplyColumns()
{
    HWND header = GetHeader();
    for (int n = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0; n > 0; --n)
        SendMessageW(m_hWnd, LVM_DELETECOLUMN, static_cast<WPARAM>(n - 1), 0);
    m_visibleMap.clear();
    if (m_columns.empty())
        return;

    // The first column of a list is always left-aligned; a placeholder takes that place while
    // the real columns go in, so that the first of them may be right-aligned or centred.
    LVCOLUMNW placeholder{};
    placeholder.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    placeholder.fmt = LVCFMT_LEFT;
    placeholder.pszText = const_cast<wchar_t*>(L"");
    SendMessageW(m_hWnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&placeholder));
    for (int d = 0; d < static_cast<int>(m_columns.size()); ++d) {
        const ColumnDesc& c = m_columns[d];
        if (!c.IsVisible())
            continue;
        std::wstring title = TitleOf(c);
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = ListColumnFormat(c.format);
        column.cx = std::max(c.width, kMinColumnWidth);
        column.pszText = title.data();
        const int at = static_cast<int>(m_visibleMap.size()) + 1;
        SendMessageW(m_hWnd, LVM_INSERTCOLUMNW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&column));
        m_visibleMap.push_back(d);
    }
    SendMessageW(m_hWnd, LVM_DELETECOLUMN, 0, 0);

    ApplyColumnOrder();
    AutoSizeColumns();
    if (m_headerTips)
        UpdateHeaderTips();
    ShowSortArrow();
}

void CTableCtrl::ApplyColumnOrder()
{
    const int n = static_cast<int>(m_visibleMap.size());
    if (n == 0)
        return;
    // Entry i is the list column with the i-th smallest key; equal keys keep descriptor order.
    std::vector<int> order(n);
    for (int v = 0; v < n; ++v)
        order[v] = v;
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return m_columns[m_visibleMap[a]].order < m_columns[m_visibleMap[b]].order;
    });
    SendMessageW(m_hWnd, LVM_SETCOLUMNORDERARRAY, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(order.data()));
}

void CTableCtrl::ReadColumnOrder()
{
    const int n = static_cast<int>(m_visibleMap.size());
    if (n == 0)
        return;
    std::vector<int> order(n, -1);
    if (!SendMessageW(m_hWnd, LVM_GETCOLUMNORDERARRAY, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(order.data())))
        return;
    // The visible columns share the keys they had; hidden ones keep theirs.
    std::vector<int> keys;
    for (int d : m_visibleMap)
        keys.push_back(m_columns[d].order);
    std::sort(keys.begin(), keys.end());
    for (int position = 0; position < n; ++position) {
        const int v = order[position];
        if (v >= 0 && v < n)
            m_columns[m_visibleMap[v]].order = keys[position];
    }
}

void CTableCtrl::AutoSizeColumns()
{
    AutoSizeColumnsExcept(-1);
}

void CTableCtrl::AutoSizeColumnsExcept(int fixed)
{
    RECT client{};
    GetClientRect(m_hWnd, &client);
    // 64 bits: a stored width times the free width overflows 32.
    long long freeWidth = client.right - client.left;
    long long sum = 0;
    int n = 0;
    auto isAuto = [fixed](const ColumnDesc& c, int d) { return (c.flags & COLF_AUTOSIZE) && d != fixed; };
    for (int d : m_visibleMap) {
        const ColumnDesc& c = m_columns[d];
        if (isAuto(c, d)) {
            ++n;
            sum += c.width;
        } else {
            freeWidth -= c.width;
        }
    }
    if (n == 0)
        return;
    freeWidth = std::clamp<long long>(freeWidth, INT_MIN, INT_MAX);
    if (sum <= 0)
        sum = freeWidth / n;
    for (int v = 0; v < static_cast<int>(m_visibleMap.size()); ++v) {
        const int d = m_visibleMap[v];
        const ColumnDesc& c = m_columns[d];
        if (!isAuto(c, d))
            continue;
        long long width = (c.width != 0 && sum > 0) ? c.width * freeWidth / sum : sum;
        width = std::clamp<long long>(width, kMinColumnWidth, INT_MAX);
        SendMessageW(m_hWnd, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(v), static_cast<LPARAM>(width));
    }
}

int CTableCtrl::VisibleIndexOf(int d) const
{
    if (d < 0 || d >= static_cast<int>(m_columns.size()) || !m_columns[d].IsVisible())
        return -1;
    return static_cast<int>(std::count_if(m_columns.begin(), m_columns.begin() + d,
                                          [](const ColumnDesc& c) { return c.IsVisible(); }));
}

// ---- sort arrow ----

int CTableCtrl::GetHeaderArrow(bool& ascending) const
{
    ascending = true;
    HWND header = GetHeader();
    const int n = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    for (int i = 0; i < n; ++i) {
        const int fmt = HeaderFormat(header, i);
        if (fmt & (HDF_SORTUP | HDF_SORTDOWN)) {
            ascending = !(fmt & HDF_SORTDOWN);
            return i;
        }
    }
    return -1;
}

void CTableCtrl::SetHeaderArrow(int column, bool ascending)
{
    HWND header = GetHeader();
    if (!header)
        return;
    const int fmt = HeaderFormat(header, column) & ~(HDF_SORTUP | HDF_SORTDOWN);
    SetHeaderFormat(header, column, fmt | (ascending ? HDF_SORTUP : HDF_SORTDOWN));
}

void CTableCtrl::ShowSortArrow()
{
    bool ascending = true;
    const int current = GetHeaderArrow(ascending);
    const int wanted = m_sortKey != 0 ? VisibleIndexOf(std::abs(m_sortKey) - 1) : -1;
    const bool wantedAscending = m_sortKey > 0;
    if (current == wanted && (wanted == -1 || ascending == wantedAscending))
        return;
    if (current != -1) {
        HWND header = GetHeader();
        SetHeaderFormat(header, current, HeaderFormat(header, current) & ~(HDF_SORTUP | HDF_SORTDOWN));
    }
    if (wanted != -1)
        SetHeaderArrow(wanted, wantedAscending);
}

void CTableCtrl::SetSortColumn(int key, bool moveArrow)
{
    if (key != m_sortKey)
        m_sortKey = key;
    if (moveArrow)
        ShowSortArrow();
}

// ---- header tips ----

void CTableCtrl::SetHeaderTips(CToolTipCtrl* tips, bool addNow)
{
    if (tips == m_headerTips)
        return;
    RemoveHeaderTips();
    m_headerTips = tips;
    if (addNow)
        UpdateHeaderTips();
}

void CTableCtrl::UpdateHeaderTips()
{
    HWND header = GetHeader();
    if (!m_headerTips || !m_headerTips->m_hWnd || !header)
        return;
    const size_t count = m_columns.size();
    for (size_t d = count; d < m_tipFlags.size(); ++d) {
        if (m_tipFlags[d])
            m_headerTips->RemoveTool(header, d + 1);
    }
    m_tipFlags.resize(count, false);

    CClientDC dc(header);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(header, WM_GETFONT, 0, 0));
    CSelection selected(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    for (size_t d = 0; d < count; ++d) {
        const int column = VisibleIndexOf(static_cast<int>(d));
        RECT item{};
        bool cut = false;
        std::wstring title;
        if (column >= 0 &&
            SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item))) {
            title = TitleOf(m_columns[d]);
            SIZE extent{};
            GetTextExtentPoint32W(dc, title.c_str(), static_cast<int>(title.size()), &extent);
            cut = extent.cx + kTipMargin > item.right - item.left;
        }
        TTTOOLINFOW ti{sizeof(ti)};
        ti.hwnd = header;
        ti.uId = d + 1;
        if (cut) {
            ti.rect = item;
            ti.hinst = GetResourceModule();
            ti.lpszText = title.data();
            SendMessageW(m_headerTips->m_hWnd, m_tipFlags[d] ? TTM_NEWTOOLRECTW : TTM_ADDTOOLW, 0,
                         reinterpret_cast<LPARAM>(&ti));
            m_tipFlags[d] = true;
        } else if (m_tipFlags[d]) {
            m_headerTips->RemoveTool(header, d + 1);
            m_tipFlags[d] = false;
        }
    }
}

void CTableCtrl::RemoveHeaderTips()
{
    HWND header = GetHeader();
    if (m_headerTips && m_headerTips->m_hWnd && header) {
        for (size_t d = 0; d < m_tipFlags.size(); ++d) {
            if (m_tipFlags[d])
                m_headerTips->RemoveTool(header, d + 1);
        }
    }
    m_tipFlags.clear();
}

// ---- shading ----

void CTableCtrl::SetAlternateRows(bool on)
{
    if (on == (m_altColor != CLR_INVALID))
        return;
    if (on) {
        COLORREF background = static_cast<COLORREF>(SendMessageW(m_hWnd, LVM_GETBKCOLOR, 0, 0));
        if (background == CLR_NONE)
            background = GetSysColor(COLOR_WINDOW);
        m_altColor = ShadingColorFor(background);
    } else {
        m_altColor = CLR_INVALID;
    }
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CTableCtrl::ApplyLook(unsigned parts)
{
    if (!m_settings)
        return;
    if (parts & TABLE_LOOK_NOSORT)
        SetNoSortHeader(m_settings->GetNoSortHeader());
    if (parts & TABLE_LOOK_ALTERNATE)
        SetAlternateRows(m_settings->GetAlternateRows());
    if (parts & TABLE_LOOK_GRID)
        SendMessageW(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES, m_settings->GetTableGrid() ? LVS_EX_GRIDLINES : 0);
}

// ---- notifications to the parent ----

LRESULT CTableCtrl::NotifyParent(UINT code, NMHDR* hdr) const
{
    hdr->hwndFrom = m_hWnd;
    hdr->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(m_hWnd));
    hdr->code = code;
    HWND parent = GetParent(m_hWnd);
    bool answered = false;
    const LRESULT answer = AnswerByEvents(hdr, parent, answered);
    if (answered)
        return answer;
    return parent ? SendMessageW(parent, WM_NOTIFY, hdr->idFrom, reinterpret_cast<LPARAM>(hdr)) : 0;
}

LRESULT CTableCtrl::AnswerByEvents(NMHDR* hdr, HWND parent, bool& answered) const
{
    const TableEvents& e = tableEvents;
    answered = (hdr->code == TN_SORTREQUEST && e.sortRequest) || (hdr->code == TN_COLUMNSCHANGED && e.columnsChanged) ||
               (hdr->code == TN_DEFAULTCOLUMNS && e.defaultColumns) || (hdr->code == TN_HEADERMENU && e.headerMenu) ||
               ((hdr->code == TN_DRAGBEGIN || hdr->code == TN_DRAGMOVE) && e.dragBegin) || (hdr->code == TN_DRAGEND && e.drop);
    // The parent's WM_NOTIFY reaches no handler while the parent fills its controls: nor do these.
    if (!answered || (parent && parent == UpdatingWindow))
        return 0;
    switch (hdr->code) {
    case TN_SORTREQUEST:
        return e.sortRequest(reinterpret_cast<TableSortRequest*>(hdr)->key) ? 1 : 0;
    case TN_COLUMNSCHANGED: {
        const auto* change = reinterpret_cast<TableColumnsChange*>(hdr);
        e.columnsChanged(change->what, change->index);
        return 0;
    }
    case TN_DEFAULTCOLUMNS: {
        const auto* set = reinterpret_cast<TableColumnSet*>(hdr);
        return e.defaultColumns(set->columns, set->flag) ? 1 : 0;
    }
    case TN_DRAGBEGIN:
        return e.dragBegin() ? 1 : 0;
    case TN_DRAGMOVE:
        return e.dropOnRows ? 1 : 0;
    case TN_DRAGEND: {
        const auto* drag = reinterpret_cast<TableDragInfo*>(hdr);
        if (drag->flag || drag->row == -1)
            return 0;
        const int count = GetItemCount();
        e.drop(drag->row == kRowAfterLast ? count : std::min(drag->row + (drag->after ? 1 : 0), count));
        return 0;
    }
    default:
        e.headerMenu(reinterpret_cast<TableMenuInfo*>(hdr)->menu);
        return 0;
    }
}

void CTableCtrl::NotifyColumnsChanged(int what, int index) const
{
    TableColumnsChange change{};
    change.what = what;
    change.index = index;
    NotifyParent(TN_COLUMNSCHANGED, &change.hdr);
}

// ---- header menu and its commands ----

void CTableCtrl::ShowHeaderMenu()
{
    LPCWSTR name = MAKEINTRESOURCEW(IDM_TABLE_HEADER);
    CMenu menu(LoadMenuW(FindResourceModule(name, RT_MENU), name));
    HMENU popup = menu.Get() ? GetSubMenu(menu.Get(), 0) : nullptr;
    if (!popup)
        return;
    for (int d = 0; d < static_cast<int>(m_columns.size()); ++d) {
        const std::wstring title = TitleOf(m_columns[d]);
        const UINT check = m_columns[d].IsVisible() ? MF_CHECKED : MF_UNCHECKED;
        InsertMenuW(popup, static_cast<UINT>(d), MF_BYPOSITION | MF_STRING | check,
                    static_cast<UINT_PTR>(ID_TABLE_COLUMN_BASE + d), title.c_str());
    }
    TableColumnSet question{};
    question.flag = true;
    const bool hasDefaults = NotifyParent(TN_DEFAULTCOLUMNS, &question.hdr) != 0;
    EnableMenuItem(popup, ID_DEFAULT_COLUMNS, MF_BYCOMMAND | (hasDefaults ? MF_ENABLED : MF_GRAYED));
    const bool noSort = m_settings && m_settings->GetNoSortHeader();
    CheckMenuItem(popup, ID_NO_SORT_HEADER, MF_BYCOMMAND | (noSort ? MF_CHECKED : MF_UNCHECKED));
    TableMenuInfo info{};
    info.menu = popup;
    NotifyParent(TN_HEADERMENU, &info.hdr);
    POINT at{};
    GetCursorPos(&at);
    TrackPopupMenu(popup, TPM_LEFTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
}

bool CTableCtrl::OnCommand(int id, int code, HWND)
{
    switch (id) {
    case ID_CUSTOMIZE_COLUMNS:
        RunColumnChooser();
        return true;
    case ID_DEFAULT_COLUMNS:
        ApplyDefaultColumns();
        return true;
    case ID_NO_SORT_HEADER:
        if (m_settings)
            m_settings->SetNoSortHeader(!m_settings->GetNoSortHeader());
        return true;
    default:
        break;
    }
    if (id >= ID_TABLE_COLUMN_BASE && id < ID_TABLE_COLUMN_BASE + static_cast<int>(m_columns.size())) {
        ToggleColumn(id - ID_TABLE_COLUMN_BASE);
        return true;
    }
    SendMessageW(GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(m_hWnd));
    return true;
}

void CTableCtrl::ToggleColumn(int d)
{
    ColumnDesc& c = m_columns[d];
    if (!c.IsVisible()) {
        c.flags |= COLF_VISIBLE;
        ApplyColumns();
    } else {
        const int column = VisibleIndexOf(d);
        c.flags &= ~COLF_VISIBLE;
        if (column >= 0) {
            SendMessageW(m_hWnd, LVM_DELETECOLUMN, static_cast<WPARAM>(column), 0);
            m_visibleMap.erase(m_visibleMap.begin() + column);
        }
        AutoSizeColumns();
        UpdateHeaderTips();
    }
    NotifyColumnsChanged(TCC_VISIBILITY, d);
}

void CTableCtrl::ApplyDefaultColumns()
{
    std::vector<ColumnDesc> columns = m_columns;
    TableColumnSet set{};
    set.columns = &columns;
    set.flag = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    if (!NotifyParent(TN_DEFAULTCOLUMNS, &set.hdr))
        return;
    KeepColumnTitles(columns, m_columns);
    SetColumns(columns);
    ApplyColumns();
    NotifyColumnsChanged(TCC_ALL, -1);
}

void CTableCtrl::RunColumnChooser()
{
    // Auto-size columns open in the chooser with the widths they show.
    for (int v = 0; v < static_cast<int>(m_visibleMap.size()); ++v) {
        ColumnDesc& c = m_columns[m_visibleMap[v]];
        if (c.flags & COLF_AUTOSIZE)
            c.width = static_cast<int>(SendMessageW(m_hWnd, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(v), 0));
    }
    CColumnListDialog chooser(*this);
    chooser.RunModal(m_hWnd);
}

// ---- messages ----

bool CTableCtrl::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->hwndFrom == GetHeader() && OnHeaderNotify(nmh, result))
        return true;
    return CListCtrl::OnNotify(id, nmh, result);
}

bool CTableCtrl::OnHeaderNotify(NMHDR* nmh, LRESULT* result)
{
    switch (nmh->code) {
    case HDN_BEGINTRACKW:
    case HDN_BEGINTRACKA:
        HeaderTracking = true;
        *result = 0;
        return true;
    case HDN_ENDTRACKW:
    case HDN_ENDTRACKA: {
        // HDITEMA and HDITEMW agree up to the width.
        const auto* nm = reinterpret_cast<const NMHEADERW*>(nmh);
        if (nm->iItem >= 0 && nm->iItem < static_cast<int>(m_visibleMap.size())) {
            const int d = m_visibleMap[nm->iItem];
            if (nm->pitem && (nm->pitem->mask & HDI_WIDTH))
                m_columns[d].width = std::max(nm->pitem->cxy, 0);
            AutoSizeColumnsExcept(d);
            UpdateHeaderTips();
            NotifyColumnsChanged(TCC_WIDTHS, d);
            PostMessageW(m_hWnd, WM_TABLE_WIDTHS, 0, 0);
        }
        HeaderTracking = false;
        return false;
    }
    case HDN_DIVIDERDBLCLICKW:
    case HDN_DIVIDERDBLCLICKA:
        PostMessageW(m_hWnd, WM_TABLE_WIDTHS, 0, 0);
        return false;
    case HDN_ENDDRAG:
        PostMessageW(m_hWnd, WM_TABLE_ORDER, 0, 0);
        return false;
    case NM_RCLICK:
        ShowHeaderMenu();
        *result = 1;
        return true;
    default:
        return false;
    }
}

LRESULT CTableCtrl::OnWidthPass()
{
    RemoveWaiting(m_hWnd, WM_TABLE_WIDTHS);
    int changed = 0, index = -1;
    for (int v = 0; v < static_cast<int>(m_visibleMap.size()); ++v) {
        const int d = m_visibleMap[v];
        ColumnDesc& c = m_columns[d];
        if (c.flags & COLF_AUTOSIZE)
            continue;
        const int width = static_cast<int>(SendMessageW(m_hWnd, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(v), 0));
        if (width == c.width)
            continue;
        c.width = width;
        index = ++changed == 1 ? d : -1;
    }
    AutoSizeColumns();
    UpdateHeaderTips();
    if (changed)
        NotifyColumnsChanged(TCC_WIDTHS, index);
    return 0;
}

LRESULT CTableCtrl::OnOrderPass()
{
    RemoveWaiting(m_hWnd, WM_TABLE_ORDER);
    ReadColumnOrder();
    UpdateHeaderTips();
    NotifyColumnsChanged(TCC_ORDER, -1);
    return 0;
}

LRESULT CTableCtrl::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TABLE_WIDTHS:
        return OnWidthPass();
    case WM_TABLE_ORDER:
        return OnOrderPass();
    case WM_SIZE:
        DefaultProc();
        if (!HeaderTracking)
            PostMessageW(hwnd, WM_TABLE_WIDTHS, 0, 0);
        return 0;
    case WM_SYSCOLORCHANGE:
        CWnd::HandleMessage(hwnd, message, wParam, lParam);
        if (m_altColor != CLR_INVALID) {
            m_altColor = CLR_INVALID;
            SetAlternateRows(true);
        }
        return 0;
    case WM_SETFONT:
        DefaultProc();
        UpdateHeaderTips();
        return 0;
    case WM_GETDLGCODE: {
        LRESULT code = DefaultProc();
        if (m_drag || wParam == VK_RETURN)
            code |= DLGC_WANTALLKEYS;
        return code;
    }
    case WM_SETCURSOR:
    case WM_TIMER:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED: {
        bool handled = false;
        const LRESULT result = m_drag ? OnDragMessage(message, wParam, lParam, handled) : 0;
        return handled ? result : DefaultProc();
    }
    case WM_DESTROY:
        EndDrag(true, false);
        RemoveHeaderTips();
        m_columns.clear();
        m_visibleMap.clear();
        return DefaultProc();
    default:
        return CListCtrl::HandleMessage(hwnd, message, wParam, lParam);
    }
}

bool CTableCtrl::OnReflected(UINT message, WPARAM, LPARAM lParam, LRESULT* result)
{
    LRESULT ignored = 0;
    return message == WM_NOTIFY && lParam && OnReflectedNotify(reinterpret_cast<NMHDR*>(lParam), result ? result : &ignored);
}

bool CTableCtrl::OnReflectedNotify(NMHDR* nmh, LRESULT* result)
{
    switch (nmh->code) {
    case LVN_KEYDOWN: {
        const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(nmh);
        if (m_drag && key->wVKey == VK_ESCAPE) {
            EndDrag(true, true);
            return true;
        }
        return OnKeyDown(key, result);
    }
    case LVN_BEGINDRAG:
        BeginDrag(reinterpret_cast<const NMLISTVIEW*>(nmh)->ptAction);
        return true;
    case LVN_COLUMNCLICK: {
        bool handled = false;
        OnColumnClick(reinterpret_cast<const NMLISTVIEW*>(nmh)->iSubItem, result, handled);
        return handled;
    }
    case NM_CUSTOMDRAW:
        return OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(nmh), result);
    default:
        return OnListNotify(nmh, result);
    }
}

void CTableCtrl::OnColumnClick(int column, LRESULT* result, bool& handled)
{
    if (column < 0 || column >= static_cast<int>(m_visibleMap.size()))
        return;
    const int key = m_visibleMap[column] + 1;
    TableSortRequest request{};
    request.key = m_sortKey == key ? -key : key;
    handled = NotifyParent(TN_SORTREQUEST, &request.hdr) != 0;
    if (handled)
        *result = 0;
}

bool CTableCtrl::OnCustomDraw(NMLVCUSTOMDRAW* draw, LRESULT* result)
{
    const DWORD stage = draw->nmcd.dwDrawStage;
    const bool handled = DrawRowLook(draw, result);
    if (!tableEvents.drawItem)
        return handled;
    if (stage == CDDS_PREPAINT) {
        *result = CDRF_NOTIFYITEMDRAW;
        return true;
    }
    if (stage != CDDS_ITEMPREPAINT && stage != (CDDS_ITEMPREPAINT | CDDS_SUBITEM))
        return handled;
    if (!handled)
        *result = CDRF_DODEFAULT;
    tableEvents.drawItem(draw, result);
    return true;
}

bool CTableCtrl::DrawRowLook(NMLVCUSTOMDRAW* draw, LRESULT* result)
{
    if (m_visibleMap.empty() && m_altColor == CLR_INVALID)
        return false;
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        *result = CDRF_NOTIFYITEMDRAW;
        return true;
    case CDDS_ITEMPREPAINT: {
        const int row = static_cast<int>(draw->nmcd.dwItemSpec);
        if (m_altColor != CLR_INVALID && (row & 1))
            draw->clrTextBk = m_altColor;
        // The selection looks the same with and without the focus.
        if (draw->nmcd.uItemState & CDIS_SELECTED) {
            draw->nmcd.uItemState &= ~CDIS_SELECTED;
            if (SendMessageW(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) {
                draw->clrText = GetApp()->m_highlightTextColor;
                draw->clrTextBk = GetApp()->m_highlightColor;
            }
        }
        *result = CDRF_DODEFAULT;
        return true;
    }
    default:
        return false;
    }
}
