#include "framework/ColumnChooser.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "core/Document.h"
#include "core/TextUtil.h"
#include "framework/WinApp.h"
#include "resources/resource.h"

namespace {

constexpr unsigned STATE_SELECTION_CHANGED = 0x1;
constexpr int kCheckImageWidth = 16;
constexpr COLORREF kCheckImageMask = RGB(0xFF, 0x00, 0xFF);
constexpr int kMinTrackWidth = 440;
constexpr int kMinTrackHeight = 250;

int AlignOf(const ColumnDesc& c)
{
    return (c.format == COLFMT_RIGHT || c.format == COLFMT_CENTER) ? c.format : COLFMT_LEFT;
}

// "Left", "Right", "Center", loaded once for every chooser.
const std::wstring& AlignName(int align)
{
    static const std::array<std::wstring, 3> names = [] {
        std::array<std::wstring, 3> n;
        const UINT ids[] = {IDS_ALIGN_LEFT, IDS_ALIGN_RIGHT, IDS_ALIGN_CENTER};
        for (size_t i = 0; i < n.size(); ++i) {
            if (LoadResString(ids[i], n[i]) == 0)
                n[i] = L"?";
        }
        return n;
    }();
    return names[static_cast<size_t>(std::clamp(align, 0, 2))];
}

std::wstring TitleText(const ColumnDesc& c)
{
    std::wstring title;
    if (c.titleId != 0)
        LoadResString(static_cast<UINT>(c.titleId), title);
    return title;
}

bool IsMarked(const ColumnDesc& c)
{
    return (c.flags & COLF_CHOOSER_MARK) != 0;
}

} // namespace

std::vector<ColumnDesc> ChooserDefaultColumns()
{
    struct Default
    {
        int title, width, format;
    };
    const Default defaults[] = {{IDS_COLUMN_VISIBLE, 20, COLFMT_LEFT},
                                {IDS_COLUMN_NUMBER, 35, COLFMT_LEFT},
                                {IDS_COLUMN_NAME, 150, COLFMT_LEFT},
                                {IDS_COLUMN_ALIGN, 95, COLFMT_LEFT},
                                {IDS_COLUMN_AUTOSIZE, 20, COLFMT_CENTER}};
    std::vector<ColumnDesc> columns;
    for (const Default& d : defaults) {
        ColumnDesc c;
        c.titleId = d.title;
        c.width = d.width;
        c.format = d.format;
        c.order = static_cast<int>(columns.size());
        c.flags = COLF_VISIBLE;
        columns.push_back(c);
    }
    return columns;
}

bool RenumberBrokenOrderKeys(std::vector<ColumnDesc>& columns)
{
    const int n = static_cast<int>(columns.size());
    std::vector<bool> seen(static_cast<size_t>(n), false);
    bool broken = false;
    for (const ColumnDesc& c : columns) {
        if (c.order < 0 || c.order >= n || seen[static_cast<size_t>(c.order)]) {
            broken = true;
            break;
        }
        seen[static_cast<size_t>(c.order)] = true;
    }
    if (broken) {
        for (int d = 0; d < n; ++d)
            columns[static_cast<size_t>(d)].order = d;
    }
    return broken;
}

// ---- CColumnsLvData ----

int CColumnsLvData::GetItemCount()
{
    return static_cast<int>(m_rows.size());
}

void CColumnsLvData::BuildRow(int row, Row& out) const
{
    out.descriptor = m_rows[static_cast<size_t>(row)];
    out.number = std::to_wstring(row + 1);
    const bool valid = out.descriptor >= 0 && out.descriptor < static_cast<int>(m_columns->size());
    out.title = valid ? TitleText((*m_columns)[static_cast<size_t>(out.descriptor)]) : std::wstring();
}

void CColumnsLvData::FillCache(int from, int to)
{
    const int count = GetItemCount();
    from = std::max(from, 0);
    to = std::min(to, count - 1);
    m_cacheFirst = from;
    m_cache.clear();
    for (int row = from; row <= to; ++row) {
        Row r;
        BuildRow(row, r);
        m_cache.push_back(std::move(r));
    }
}

void CColumnsLvData::CacheHint(int from, int to)
{
    if (from >= m_cacheFirst && to < m_cacheFirst + static_cast<int>(m_cache.size()))
        return;
    FillCache(from, to);
}

void CColumnsLvData::GetDispInfo(LVITEMW* item)
{
    const int row = item->iItem;
    if (!m_columns || row < 0 || row >= GetItemCount())
        return;
    const Row* r = nullptr;
    if (row >= m_cacheFirst && row < m_cacheFirst + static_cast<int>(m_cache.size())) {
        r = &m_cache[static_cast<size_t>(row - m_cacheFirst)];
    } else {
        BuildRow(row, m_spare);
        r = &m_spare;
    }
    const int kind = (m_listMap && item->iSubItem >= 0 && item->iSubItem < static_cast<int>(m_listMap->size()))
                         ? (*m_listMap)[static_cast<size_t>(item->iSubItem)]
                         : -1;
    const ColumnDesc* c = (r->descriptor >= 0 && r->descriptor < static_cast<int>(m_columns->size()))
                              ? &(*m_columns)[static_cast<size_t>(r->descriptor)]
                              : nullptr;
    if (item->mask & LVIF_TEXT) {
        const wchar_t* text = L"";
        if (kind == CHOOSER_NUMBER)
            text = r->number.c_str();
        else if (kind == CHOOSER_NAME)
            text = r->title.c_str();
        else if (kind == CHOOSER_ALIGN && c)
            text = AlignName(AlignOf(*c)).c_str();
        if (item->pszText && item->cchTextMax > 0)
            lstrcpynW(item->pszText, text, item->cchTextMax);
        else
            item->pszText = const_cast<wchar_t*>(text);
    }
    if (item->mask & LVIF_IMAGE) {
        item->iImage = -1;
        if (c && kind == CHOOSER_VISIBLE)
            item->iImage = c->IsVisible() ? 1 : 0;
        else if (c && kind == CHOOSER_AUTOSIZE)
            item->iImage = (c->flags & COLF_AUTOSIZE) ? 1 : 0;
    }
}

void CColumnsLvData::RebuildRowMap()
{
    const int n = static_cast<int>(m_columns->size());
    m_rows.assign(static_cast<size_t>(n), -1);
    for (int d = 0; d < n; ++d) {
        const int key = (*m_columns)[static_cast<size_t>(d)].order;
        if (key >= 0 && key < n)
            m_rows[static_cast<size_t>(key)] = d;
    }
    m_cache.clear();
    m_cacheFirst = 0;
}

// ---- CColumnListDialog ----

CColumnListDialog::CColumnListDialog(CTableCtrl& table) : CModalDialog(IDD_COLUMN_CHOOSER), m_table(table)
{
}

bool CColumnListDialog::OnInitDialog()
{
    ITableSettings* settings = m_table.GetSettings();
    m_columns = m_table.GetColumns();
    RenumberBrokenOrderKeys(m_columns);

    m_layout.parent = m_hWnd;
    m_layout.Add(IDC_COLUMN_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_COLUMN_NAME, IDC_COLUMN_ALIGN}) {
        AnchorItem label; // the label stands just before its field
        label.flags = ANCHOR_LEFT | ANCHOR_BOTTOM;
        label.window = GetWindow(GetDlgItem(m_hWnd, id), GW_HWNDPREV);
        m_layout.items.push_back(label);
    }
    for (int id : {IDC_COLUMN_ALIGN, IDC_COLUMN_VISIBLE, IDC_COLUMN_AUTOSIZE})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_layout.Add(IDC_COLUMN_NAME, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDOK, IDCANCEL, IDC_COLUMN_APPLY})
        m_layout.Add(id, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    CaptureLayout(m_layout);

    HWND list = GetDlgItem(m_hWnd, IDC_COLUMN_LIST);
    m_list.Attach(list);
    const DWORD grid = settings && settings->GetTableGrid() ? LVS_EX_GRIDLINES : 0;
    const DWORD exStyle = LVS_EX_SUBITEMIMAGES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, exStyle | LVS_EX_GRIDLINES, exStyle | grid);
    LPCWSTR bitmap = MAKEINTRESOURCEW(IDB_CHECK_IMAGES);
    m_images.Attach(ImageList_LoadImageW(FindResourceModule(bitmap, RT_BITMAP), bitmap, kCheckImageWidth, 0,
                                         kCheckImageMask, IMAGE_BITMAP, LR_CREATEDIBSECTION));
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_images.Get()));

    m_list.SetSettings(settings);
    m_list.SetHeaderTips(settings ? settings->GetMainToolTip() : nullptr, false);
    const std::vector<ColumnDesc> defaults = ChooserDefaultColumns();
    std::vector<ColumnDesc> layout = settings ? settings->GetChooserColumns() : defaults;
    if (layout.size() != defaults.size())
        layout = defaults;
    std::vector<int> titles;
    for (const ColumnDesc& c : defaults)
        titles.push_back(c.titleId);
    m_list.SetColumns(layout, titles);
    m_list.SetSortColumn(0, false);
    m_list.ApplyColumns();

    m_data.m_columns = &m_columns;
    m_data.m_listColumns = &m_list.GetColumns();
    m_data.m_listMap = &m_list.GetVisibleMap();
    m_data.RebuildRowMap();
    m_data.SetEventCallback(this, &CColumnListDialog::OnDataChanged);
    RefreshList();
    UpdateSelectionSummary();
    EnableWindow(GetDlgItem(m_hWnd, IDC_COLUMN_APPLY), FALSE);
    if (settings)
        settings->ExchangeChooserPlacement(false, m_hWnd);
    return true;
}

void CColumnListDialog::UpdateSelectionSummary()
{
    m_state &= ~STATE_SELECTION_CHANGED;
    std::vector<int> selected;
    m_list.GetSelectedItems(selected);
    for (ColumnDesc& c : m_columns)
        c.flags &= ~COLF_CHOOSER_MARK;
    Summary s;
    s.count = static_cast<int>(selected.size());
    bool first = true;
    for (int row : selected) {
        const int d = row < static_cast<int>(m_data.m_rows.size()) ? m_data.m_rows[static_cast<size_t>(row)] : -1;
        if (d < 0)
            continue;
        ColumnDesc& c = m_columns[static_cast<size_t>(d)];
        c.flags |= COLF_CHOOSER_MARK;
        const bool visible = c.IsVisible(), autoSize = (c.flags & COLF_AUTOSIZE) != 0;
        if (first) {
            s.align = AlignOf(c);
            s.visible = visible;
            s.autoSize = autoSize;
            s.same = FIELD_ALIGN | FIELD_VISIBLE | FIELD_AUTOSIZE;
            first = false;
            continue;
        }
        if (AlignOf(c) != s.align)
            s.same &= ~FIELD_ALIGN;
        if (visible != s.visible)
            s.same &= ~FIELD_VISIBLE;
        if (autoSize != s.autoSize)
            s.same &= ~FIELD_AUTOSIZE;
    }
    s.applied = s.same;
    m_summary = s;
    ShowSummaryControls();
}

void CColumnListDialog::ShowSummaryControls()
{
    UpdatingScope updating(m_hWnd);
    const Summary& s = m_summary;

    std::wstring name = L"*";
    if (s.count == 1) {
        const auto it = std::find_if(m_columns.begin(), m_columns.end(), IsMarked);
        if (it != m_columns.end())
            name = TitleText(*it);
    }
    SetDlgItemTextW(m_hWnd, IDC_COLUMN_NAME, name.c_str());

    HWND combo = GetDlgItem(m_hWnd, IDC_COLUMN_ALIGN);
    const bool star = !(s.same & FIELD_ALIGN);
    const int items = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    const bool hasStar = items == 4;
    if (items <= 0 || hasStar != star) {
        SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        if (star)
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"*"));
        for (int a = 0; a < 3; ++a)
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(AlignName(a).c_str()));
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(star ? 0 : s.align), 0);

    struct
    {
        int id, field;
        bool value;
    } const checks[] = {{IDC_COLUMN_VISIBLE, FIELD_VISIBLE, s.visible}, {IDC_COLUMN_AUTOSIZE, FIELD_AUTOSIZE, s.autoSize}};
    for (const auto& check : checks) {
        HWND box = GetDlgItem(m_hWnd, check.id);
        const bool differs = !(s.same & check.field);
        const LONG_PTR type = differs ? BS_AUTO3STATE : BS_AUTOCHECKBOX;
        if ((GetWindowLongPtrW(box, GWL_STYLE) & BS_TYPEMASK) != type)
            SendMessageW(box, BM_SETSTYLE, static_cast<WPARAM>(type), TRUE);
        CheckDlgButton(m_hWnd, check.id, differs ? BST_INDETERMINATE : check.value ? BST_CHECKED : BST_UNCHECKED);
    }

    const BOOL enable = s.count > 0;
    for (int id : {IDC_COLUMN_NAME, IDC_COLUMN_ALIGN}) {
        HWND field = GetDlgItem(m_hWnd, id);
        EnableWindow(field, enable);
        EnableWindow(GetWindow(field, GW_HWNDPREV), enable);
    }
    EnableWindow(GetDlgItem(m_hWnd, IDC_COLUMN_VISIBLE), enable);
    EnableWindow(GetDlgItem(m_hWnd, IDC_COLUMN_AUTOSIZE), enable);
}

void CColumnListDialog::SetModified()
{
    m_modified = true;
    EnableWindow(GetDlgItem(m_hWnd, IDC_COLUMN_APPLY), TRUE);
}

void CColumnListDialog::DropSortOn(int kind)
{
    if (std::abs(m_sortKey) != kind + 1)
        return;
    m_sortKey = 0;
    m_list.SetSortColumn(0, true);
}

void CColumnListDialog::RefreshData()
{
    const int top = static_cast<int>(SendMessageW(m_list.m_hWnd, LVM_GETTOPINDEX, 0, 0));
    const int perPage = static_cast<int>(SendMessageW(m_list.m_hWnd, LVM_GETCOUNTPERPAGE, 0, 0));
    m_data.FillCache(top, top + perPage);
    m_data.FireEvent();
}

void CColumnListDialog::RefreshList()
{
    RefreshData();
    HWND list = m_list.m_hWnd;
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED;
    for (int row = 0; row < static_cast<int>(m_data.m_rows.size()); ++row) {
        const int d = m_data.m_rows[static_cast<size_t>(row)];
        if (d >= 0 && IsMarked(m_columns[static_cast<size_t>(d)]))
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    }
}

int CColumnListDialog::OnDataChanged(void* context, CVirtualListViewData* sender, int)
{
    auto* self = static_cast<CColumnListDialog*>(context);
    HWND list = self->m_list.m_hWnd;
    const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    const int before = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    const int count = sender->GetItemCount();
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    self->m_list.SetSortColumn(self->m_sortKey, true);
    self->m_list.ScrollRowToTop(top);
    if (count == before)
        InvalidateRect(list, nullptr, FALSE);
    return 0;
}

void CColumnListDialog::OnAlignChanged()
{
    HWND combo = GetDlgItem(m_hWnd, IDC_COLUMN_ALIGN);
    int chosen = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    if (SendMessageW(combo, CB_GETCOUNT, 0, 0) == 4)
        --chosen;
    if (chosen < COLFMT_LEFT || chosen > COLFMT_CENTER) {
        m_summary.applied &= ~FIELD_ALIGN;
        return;
    }
    m_summary.applied |= FIELD_ALIGN;
    m_summary.align = chosen;
    bool changed = false;
    for (ColumnDesc& c : m_columns) {
        if (IsMarked(c) && c.format != chosen) {
            c.format = chosen;
            changed = true;
        }
    }
    if (!changed)
        return;
    DropSortOn(CHOOSER_ALIGN);
    SetModified();
    RefreshData();
}

void CColumnListDialog::OnFlagChanged(int controlId, int field, int flag, int kind)
{
    const UINT state = IsDlgButtonChecked(m_hWnd, controlId);
    if (state != BST_CHECKED && state != BST_UNCHECKED)
        return;
    const bool on = state == BST_CHECKED;
    m_summary.applied |= field;
    (field == FIELD_VISIBLE ? m_summary.visible : m_summary.autoSize) = on;
    bool changed = false;
    for (ColumnDesc& c : m_columns) {
        if (IsMarked(c) && ((c.flags & flag) != 0) != on) {
            c.flags ^= flag;
            changed = true;
        }
    }
    if (!changed)
        return;
    DropSortOn(kind);
    SetModified();
    RefreshData();
}

void CColumnListDialog::OnVisibleChanged()
{
    OnFlagChanged(IDC_COLUMN_VISIBLE, FIELD_VISIBLE, COLF_VISIBLE, CHOOSER_VISIBLE);
}

void CColumnListDialog::OnAutoSizeChanged()
{
    OnFlagChanged(IDC_COLUMN_AUTOSIZE, FIELD_AUTOSIZE, COLF_AUTOSIZE, CHOOSER_AUTOSIZE);
}

void CColumnListDialog::ToggleSelectedVisible()
{
    std::vector<int> selected;
    if (m_list.GetSelectedItems(selected) == 0)
        return;
    for (int row : selected) {
        const int d = m_data.m_rows[static_cast<size_t>(row)];
        if (d >= 0)
            m_columns[static_cast<size_t>(d)].flags ^= COLF_VISIBLE;
    }
    SendMessageW(m_list.m_hWnd, LVM_REDRAWITEMS, static_cast<WPARAM>(selected.front()), selected.back());
    DropSortOn(CHOOSER_VISIBLE);
    UpdateSelectionSummary();
    SetModified();
}

bool CColumnListDialog::OnCheckClick(const NMITEMACTIVATE* click)
{
    LVHITTESTINFO hit{};
    hit.pt = click->ptAction;
    if (SendMessageW(m_list.m_hWnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 || hit.iItem < 0)
        return false;
    RECT image{};
    image.top = hit.iSubItem;
    image.left = LVIR_ICON;
    if (!SendMessageW(m_list.m_hWnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(hit.iItem), reinterpret_cast<LPARAM>(&image)) ||
        !PtInRect(&image, hit.pt))
        return false;
    // The cell's kind, wherever the user has put or hidden the chooser's own columns.
    const std::vector<int>& map = m_list.GetVisibleMap();
    const int kind = hit.iSubItem < static_cast<int>(map.size()) ? map[static_cast<size_t>(hit.iSubItem)] : -1;
    const int flag = kind == CHOOSER_VISIBLE ? COLF_VISIBLE : kind == CHOOSER_AUTOSIZE ? COLF_AUTOSIZE : 0;
    const int d = hit.iItem < static_cast<int>(m_data.m_rows.size()) ? m_data.m_rows[static_cast<size_t>(hit.iItem)] : -1;
    if (!flag || d < 0)
        return false;
    m_columns[static_cast<size_t>(d)].flags ^= flag;
    DropSortOn(kind);
    RefreshData();
    UpdateSelectionSummary();
    SetModified();
    return true;
}

bool CColumnListDialog::CompareTitles(int a, int b) const
{
    const std::wstring ta = TitleText(m_columns[static_cast<size_t>(a)]);
    const std::wstring tb = TitleText(m_columns[static_cast<size_t>(b)]);
    return m_sortKey > 0 ? ta < tb : tb < ta;
}

void CColumnListDialog::SortRows(int key)
{
    m_sortKey = key;
    const int kind = std::abs(key) - 1;
    auto field = [this, kind](int d) {
        const ColumnDesc& c = m_columns[static_cast<size_t>(d)];
        switch (kind) {
        case CHOOSER_VISIBLE: return c.IsVisible() ? 1 : 0;
        case CHOOSER_ALIGN: return AlignOf(c);
        case CHOOSER_AUTOSIZE: return (c.flags & COLF_AUTOSIZE) ? 1 : 0;
        default: return 0;
        }
    };
    std::vector<int>& rows = m_data.m_rows;
    if (kind == CHOOSER_NAME) {
        std::stable_sort(rows.begin(), rows.end(), [this](int a, int b) { return CompareTitles(a, b); });
    } else if (kind == CHOOSER_VISIBLE || kind == CHOOSER_ALIGN || kind == CHOOSER_AUTOSIZE) {
        std::stable_sort(rows.begin(), rows.end(), [&field, key](int a, int b) {
            return key > 0 ? field(a) < field(b) : field(b) < field(a);
        });
    }
    RefreshList();
    SetModified();
}

void CColumnListDialog::MoveSelectedRows(const TableDragInfo& drop)
{
    std::vector<int>& rows = m_data.m_rows;
    const int count = static_cast<int>(rows.size());
    if (drop.row < 0)
        return;
    const int at = drop.row == kRowAfterLast ? count : std::min(drop.row + (drop.after ? 1 : 0), count);
    std::vector<int> selected;
    if (m_list.GetSelectedItems(selected) == 0)
        return;
    const bool block = selected.back() - selected.front() + 1 == static_cast<int>(selected.size());
    if (block && at >= selected.front() && at <= selected.back() + 1)
        return; // dropped on itself

    for (ColumnDesc& c : m_columns)
        c.flags &= ~COLF_CHOOSER_MARK;
    std::vector<int> taken;
    for (int row : selected) {
        const int d = rows[static_cast<size_t>(row)];
        taken.push_back(d);
        if (d >= 0)
            m_columns[static_cast<size_t>(d)].flags |= COLF_CHOOSER_MARK;
    }
    const int above = static_cast<int>(std::count_if(selected.begin(), selected.end(), [at](int r) { return r < at; }));
    for (auto it = selected.rbegin(); it != selected.rend(); ++it)
        rows.erase(rows.begin() + *it);
    rows.insert(rows.begin() + (at - above), taken.begin(), taken.end());

    m_sortKey = 0;
    m_list.SetSortColumn(0, true);
    RefreshList();
    SetModified();
}

void CColumnListDialog::ApplyChanges()
{
    const std::vector<int>& rows = m_data.m_rows;
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        if (rows[static_cast<size_t>(row)] >= 0)
            m_columns[static_cast<size_t>(rows[static_cast<size_t>(row)])].order = row;
    }
    std::vector<ColumnDesc> result = m_columns;
    for (ColumnDesc& c : result)
        c.flags &= ~COLF_CHOOSER_MARK;
    auto apply = [this, &result] {
        m_table.SetColumns(result);
        m_table.ApplyColumns();
        m_table.NotifyColumnsChanged(TCC_ALL, -1);
    };
    // One scope: the parent stores the layout and the observers hear of it once.
    ITableSettings* settings = m_table.GetSettings();
    if (CDocument* doc = settings ? settings->GetSettingsDocument() : nullptr) {
        CDocUpdateScope scope(*doc);
        apply();
    } else {
        apply();
    }
    m_modified = false;
    EnableWindow(GetDlgItem(m_hWnd, IDC_COLUMN_APPLY), FALSE);
}

bool CColumnListDialog::ParentHasDefaults() const
{
    TableColumnSet question{};
    question.flag = true;
    return m_table.NotifyParent(TN_DEFAULTCOLUMNS, &question.hdr) != 0;
}

void CColumnListDialog::ResetToDefault()
{
    std::vector<ColumnDesc> columns = m_columns;
    TableColumnSet set{};
    set.columns = &columns;
    set.flag = true;
    if (!m_table.NotifyParent(TN_DEFAULTCOLUMNS, &set.hdr))
        return;
    KeepColumnTitles(columns, m_columns);
    // Keys the parent gave twice or out of range would put one column on two rows.
    RenumberBrokenOrderKeys(columns);
    m_columns = columns;
    m_sortKey = 0;
    m_list.SetSortColumn(0, true);
    m_data.RebuildRowMap();
    RefreshList();
    SetModified();
}

void CColumnListDialog::ShowContextMenu()
{
    if (InMenuMode())
        return;
    TrackMenu(IDM_COLUMN_CHOOSER, POINT{-1, -1}, [this](HMENU popup) {
        EnableMenuItem(popup, ID_RESET_COLUMNS, MF_BYCOMMAND | (ParentHasDefaults() ? MF_ENABLED : MF_GRAYED));
    });
}

void CColumnListDialog::OnOwnTableNotify(NMHDR* nmh, LRESULT* result)
{
    *result = 0;
    switch (nmh->code) {
    case TN_HEADERMENU: {
        // A chooser opened from this one would customise a chooser list: no third one.
        const std::vector<ColumnDesc>& customised = m_table.GetColumns();
        if (!customised.empty() && customised.front().titleId == IDS_COLUMN_VISIBLE)
            EnableMenuItem(reinterpret_cast<TableMenuInfo*>(nmh)->menu, ID_CUSTOMIZE_COLUMNS, MF_BYCOMMAND | MF_GRAYED);
        break;
    }
    case TN_COLUMNSCHANGED:
        if (ITableSettings* settings = m_table.GetSettings())
            settings->StoreChooserColumns(m_list.GetColumns());
        if (reinterpret_cast<TableColumnsChange*>(nmh)->what & TCC_VISIBILITY)
            RefreshList();
        break;
    case TN_DEFAULTCOLUMNS:
        if (auto* set = reinterpret_cast<TableColumnSet*>(nmh); set->columns)
            *set->columns = ChooserDefaultColumns();
        *result = 1;
        break;
    case TN_SORTREQUEST:
        SortRows(reinterpret_cast<TableSortRequest*>(nmh)->key);
        *result = 1;
        break;
    case TN_DRAGBEGIN:
        *result = 1;
        break;
    case TN_DRAGEND:
        if (auto* drop = reinterpret_cast<TableDragInfo*>(nmh); !drop->flag)
            MoveSelectedRows(*drop);
        break;
    default:
        break;
    }
}

bool CColumnListDialog::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->hwndFrom == m_list.m_hWnd) {
        switch (nmh->code) {
        case TN_DRAGBEGIN:
        case TN_DRAGEND:
        case TN_SORTREQUEST:
        case TN_HEADERMENU:
        case TN_COLUMNSCHANGED:
        case TN_DEFAULTCOLUMNS:
            OnOwnTableNotify(nmh, result);
            return true;
        case LVN_GETDISPINFOW:
            m_data.GetDispInfo(&reinterpret_cast<NMLVDISPINFOW*>(nmh)->item);
            return true;
        case LVN_ODCACHEHINT: {
            const auto* hint = reinterpret_cast<const NMLVCACHEHINT*>(nmh);
            m_data.CacheHint(hint->iFrom, hint->iTo);
            return true;
        }
        case LVN_ITEMCHANGED: {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(nmh);
            if ((change->uChanged & LVIF_STATE) && ((change->uOldState ^ change->uNewState) & LVIS_SELECTED))
                m_state |= STATE_SELECTION_CHANGED;
            break;
        }
        case LVN_ODSTATECHANGED:
            m_state |= STATE_SELECTION_CHANGED;
            break;
        case LVN_KEYDOWN:
            if (reinterpret_cast<const NMLVKEYDOWN*>(nmh)->wVKey == VK_SPACE) {
                ToggleSelectedVisible();
                return true;
            }
            break;
        case NM_CLICK:
            if (OnCheckClick(reinterpret_cast<const NMITEMACTIVATE*>(nmh)))
                return true;
            break;
        default:
            break;
        }
    }
    return CModalDialog::OnNotify(id, nmh, result);
}

bool CColumnListDialog::OnAccept()
{
    if (m_modified)
        ApplyChanges();
    return true;
}

bool CColumnListDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_COLUMN_APPLY:
        ApplyChanges();
        return true;
    case ID_SELECT_ALL: {
        LVITEMW all{};
        all.stateMask = LVIS_SELECTED;
        all.state = LVIS_SELECTED;
        SendMessageW(m_list.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all));
        return true;
    }
    case ID_RESET_COLUMNS:
        ResetToDefault();
        return true;
    case IDC_COLUMN_ALIGN:
        if (code != CBN_SELCHANGE)
            break;
        OnAlignChanged();
        return true;
    case IDC_COLUMN_VISIBLE:
    case IDC_COLUMN_AUTOSIZE:
        if (code != BN_CLICKED)
            break;
        id == IDC_COLUMN_VISIBLE ? OnVisibleChanged() : OnAutoSizeChanged();
        return true;
    default:
        break;
    }
    return CModalDialog::OnCommand(id, code, control);
}

LRESULT CColumnListDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) != m_list.m_hWnd)
            break;
        ShowContextMenu();
        return 1;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED)
            ApplyLayout(m_layout, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{kMinTrackWidth, kMinTrackHeight};
        return 0;
    case WM_KICKIDLE:
        if (m_state & STATE_SELECTION_CHANGED)
            UpdateSelectionSummary();
        return 0;
    case WM_DESTROY:
        if (ITableSettings* settings = m_table.GetSettings())
            settings->ExchangeChooserPlacement(true, hwnd);
        m_data.SetEventCallback(nullptr, nullptr);
        m_list.RemoveHeaderTips();
        m_list.Destroy();
        m_images.Destroy();
        break;
    default:
        break;
    }
    return CModalDialog::HandleMessage(hwnd, message, wParam, lParam);
}
