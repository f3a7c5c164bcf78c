#include "pages/options/FormatsPage.h"

#include "pages/options/KeyFiltersDialog.h"

#include <objbase.h>
#include <windowsx.h>
#include <algorithm>

#include "config/AppSettings.h"
#include "core/AppLog.h"
#include "core/TextUtil.h"
#include "framework/SysFunctions.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/KeyDialog.h"
#include "pages/PageTable.h"
#include "pages/options/FormatDialog.h"
#include "resources/resource.h"

namespace {

constexpr int kImageUnchecked = 0;
constexpr int kImageChecked = 1;
constexpr int kImageNotChosen = 3;
constexpr int kImageChosen = 4;
constexpr COLORREF kImageMask = RGB(255, 0, 255);
constexpr int kToolbarRoom = 40;  // pixels below the list for the toolbar

HMENU LoadPopup(CMenu& holder, int menuId)
{
    LPCWSTR name = MAKEINTRESOURCEW(menuId);
    holder.Attach(LoadMenuW(FindResourceModule(name, RT_MENU), name));
    return holder.Get() ? GetSubMenu(holder.Get(), 0) : nullptr;
}

bool ProgIdRegistered(const wchar_t* progId)
{
    CLSID clsid;
    return SUCCEEDED(CLSIDFromProgID(progId, &clsid));
}

void EnableMenuCommand(HMENU menu, int id, bool on)
{
    EnableMenuItem(menu, static_cast<UINT>(id), MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
}

void CheckItem(HMENU menu, int id, bool on)
{
    CheckMenuItem(menu, static_cast<UINT>(id), MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

// Excel and Calc items are grey where their automation server is not registered.
void GreySpreadsheetItems(HMENU menu)
{
    const bool excel = ProgIdRegistered(L"Excel.Application");
    const bool calc = ProgIdRegistered(L"com.sun.star.ServiceManager");
    for (int id : {ID_FORMATS_IMPORT_EXCEL, ID_FORMATS_EXPORT_EXCEL_FILE, ID_FORMATS_EXPORT_EXCEL})
        EnableMenuCommand(menu, id, excel);
    for (int id : {ID_FORMATS_IMPORT_CALC, ID_FORMATS_EXPORT_CALC_FILE, ID_FORMATS_EXPORT_CALC})
        EnableMenuCommand(menu, id, calc);
}

void CheckFilterItems(HMENU menu, uint32_t filter)
{
    CheckItem(menu, ID_FILTER_ENABLED, (filter & FFILTER_ON) != 0);
    CheckItem(menu, ID_FILTER_SHOW_PRESETS, (filter & FFILTER_SHOW_PRESETS) != 0);
    CheckItem(menu, ID_FILTER_SHOW_HIDDEN, (filter & FFILTER_SHOW_HIDDEN) != 0);
    CheckItem(menu, ID_FILTER_SAME_NAME, (filter & FFILTER_SAME_NAME) != 0);
}

std::vector<int> ColumnTitles()
{
    std::vector<int> titles;
    for (int d = 0; d < FCOL_COUNT; ++d)
        titles.push_back(IDS_FORMATS_COL_CHOICE + d);
    return titles;
}

} // namespace

// ---- CFormatsLvData ----

KvFormatPtr CFormatsLvData::FormatAt(int row) const
{
    if (!m_doc || row < 0 || row >= static_cast<int>(m_view.size()))
        return nullptr;
    const auto& formats = m_doc->GetFormats();
    const int index = m_view[row];
    return index < static_cast<int>(formats.size()) ? formats[index] : nullptr;
}

int CFormatsLvData::RowOf(const KvFormatPtr& format) const
{
    for (int row = 0; row < static_cast<int>(m_view.size()); ++row)
        if (FormatAt(row) == format)
            return row;
    return -1;
}

void CFormatsLvData::RebuildView()
{
    m_view = BuildFormatsView(m_doc->GetFormats(), m_doc->GetFormatsByName(), m_filter, m_keyFilter);
    m_flags &= ~kRebuild;
    Recache();
}

void CFormatsLvData::Recache()
{
    m_cache.clear();
    m_cacheFrom = 0;
    m_flags &= ~kRecache;
}

CFormatsLvData::Row CFormatsLvData::MakeRow(int row) const
{
    Row r;
    r.format = FormatAt(row);
    if (!r.format)
        return r;
    r.chosen = r.format->id == m_chosenId && m_chosenId != 0;
    r.number = std::to_wstring(row + 1);
    r.id = std::to_wstring(r.format->id);
    r.name = FormatDisplayName(*r.format);
    return r;
}

const CFormatsLvData::Row& CFormatsLvData::CachedRow(int row)
{
    const int offset = row - m_cacheFrom;
    if (offset >= 0 && offset < static_cast<int>(m_cache.size()) && m_cache[offset].format == FormatAt(row))
        return m_cache[offset];
    m_scratch = MakeRow(row);
    return m_scratch;
}

void CFormatsLvData::CacheHint(int from, int to)
{
    if (from < 0 || to < from)
        return;
    to = std::min(to, static_cast<int>(m_view.size()) - 1);
    m_cache.clear();
    m_cacheFrom = from;
    for (int row = from; row <= to; ++row)
        m_cache.push_back(MakeRow(row));
}

void CFormatsLvData::GetDispInfo(LVITEMW* item)
{
    const Row& row = CachedRow(item->iItem);
    if (!row.format || !m_visibleMap || item->iSubItem < 0 || item->iSubItem >= static_cast<int>(m_visibleMap->size()))
        return;
    const int column = (*m_visibleMap)[item->iSubItem];
    const _KV_FORMAT& f = *row.format;
    if (item->mask & LVIF_TEXT) {
        m_text.clear();
        switch (column) {
        case FCOL_NUMBER: m_text = row.number; break;
        case FCOL_ID: m_text = row.id; break;
        case FCOL_NAME: m_text = row.name; break;
        case FCOL_TEMPLATE: m_text = f.templ; break;
        case FCOL_PARAMS: m_text = f.params; break;
        case FCOL_COMMENT: m_text = f.comment; break;
        case FCOL_LAST_KEY:
            // A repaint must never fail on a format that cannot be rendered.
            try {
                row.format->UpdateSample(m_settings->GetLastTransfer().keyNumber);
                m_text = f.sampleText;
            } catch (...) {
                row.format->sampleText.clear();
                row.format->flags |= KVF_SAMPLE_CURRENT;
            }
            break;
        default: break;
        }
        if (item->pszText && item->cchTextMax > 0)
            lstrcpynW(item->pszText, m_text.c_str(), item->cchTextMax);
    }
    if (item->mask & LVIF_IMAGE) {
        if (column == FCOL_CHOICE)
            item->iImage = row.chosen ? kImageChosen : kImageNotChosen;
        else if (column == FCOL_VISIBLE)
            item->iImage = (static_cast<uint32_t>(f.keyFilterMask) & KeyFilterBit(m_keyFilter)) ? kImageChecked
                                                                                                 : kImageUnchecked;
        else
            item->iImage = I_IMAGENONE;
    }
    // Without the "Choice" column the first column keeps no room for an image.
    if (item->iSubItem == 0 && column != FCOL_CHOICE) {
        item->mask |= LVIF_INDENT;
        item->iIndent = -1;
    }
}

// ---- CFormatsPage ----

CFormatsPage::CFormatsPage(IPageHost& host) : CBasePage(IDD_FORMATS_PAGE, &host)
{
    m_rowList = &m_table;
}

CFormatsPage::~CFormatsPage() = default;

CAppSettings& CFormatsPage::Settings()
{
    return m_host->GetSettings();
}

CTransferDoc& CFormatsPage::Doc()
{
    return m_host->GetTransferDoc();
}

std::unique_ptr<CBasePage> CreateFormatsPage(IPageHost& host)
{
    return std::make_unique<CFormatsPage>(host);
}

void CFormatsPage::OnSize(UINT, int, int)
{
    Relayout();
}

bool CFormatsPage::OnInitDialog()
{
    m_tabs = Item(IDC_FORMATS_TABS);
    m_toolbar = Item(IDC_FORMATS_TOOLBAR);
    // The list and the toolbar lie on the tab control and paint over it.
    SetWindowLongPtrW(m_tabs, GWL_STYLE, GetWindowLongPtrW(m_tabs, GWL_STYLE) | WS_CLIPSIBLINGS);
    SetWindowPos(m_tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    LPCWSTR tabBitmap = MAKEINTRESOURCEW(IDB_CARD_KINDS);
    m_tabImages.Attach(ImageList_LoadImageW(FindResourceModule(tabBitmap, RT_BITMAP), tabBitmap, 16, 0, kImageMask,
                                            IMAGE_BITMAP, LR_CREATEDIBSECTION));
    SendMessageW(m_tabs, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_tabImages.Get()));

    HWND list = Item(IDC_FORMATS_LIST);
    m_table.Attach(list);
    const DWORD exStyle = LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES | LVS_EX_HEADERDRAGDROP | LVS_EX_DOUBLEBUFFER;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, exStyle, exStyle);
    LPCWSTR checks = MAKEINTRESOURCEW(IDB_CHECK_IMAGES);
    m_images.Attach(ImageList_LoadImageW(FindResourceModule(checks, RT_BITMAP), checks, 16, 2, kImageMask,
                                         IMAGE_BITMAP, LR_CREATEDIBSECTION));
    LPCWSTR choice = MAKEINTRESOURCEW(IDB_FORMATS_CHOICE);
    if (HBITMAP more = static_cast<HBITMAP>(
            LoadImageW(FindResourceModule(choice, RT_BITMAP), choice, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))) {
        ImageList_AddMasked(m_images.Get(), more, kImageMask);
        DeleteObject(more);
    }
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_images.Get()));
    m_table.SetSettings(&m_host->GetTableSettings());
    m_table.SetHeaderTips(m_host->GetTableSettings().GetMainToolTip(), false);

    m_data.m_doc = &Doc();
    m_data.m_settings = &Settings();
    m_data.m_visibleMap = &m_table.GetVisibleMap();
    m_table.SetData(&m_data);
    m_table.events.selectionChanged = [this](int from, int to, bool selected) { OnSelectionChange(from, to, selected); };
    m_table.events.activate = [this](int row, POINT) {
        if (row >= 0)
            EditSelected();
    };
    m_table.tableEvents.sortRequest = [this](int key) {
        SortBy(key);
        return true;
    };
    m_table.events.keyDown = [this](WORD key, unsigned modifiers) { return OnListKey(key, modifiers); };
    m_table.tableEvents.columnsChanged = [this](int what, int) { OnColumnsChanged(what); };
    m_table.tableEvents.dragBegin = [] { return true; };
    m_table.tableEvents.drop = [this](int before) { DropRows(before); };
    m_table.tableEvents.defaultColumns = [](std::vector<ColumnDesc>* columns, bool) {
        if (columns) {
            *columns = GetDefaultColumns(COLS_FORMATS);
            for (ColumnDesc& c : *columns)
                c.titleId = 0;
        }
        return true;
    };

    // Toolbar "List".
    SendMessageW(m_toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(m_toolbar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    SendMessageW(m_toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_host->GetImageList(HostImages::Small)));
    const BYTE drop = BTNS_BUTTON | BTNS_DROPDOWN;
    TBBUTTON buttons[] = {
        {0, ID_FORMAT_NEW, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
        {1, ID_FORMAT_EDIT, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
        {2, ID_FORMAT_DELETE, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
        {0, 0, 0, BTNS_SEP, {}, 0, 0},
        {3, ID_FORMATS_IMPORT, TBSTATE_ENABLED, drop, {}, 0, 0},
        {4, ID_FORMATS_EXPORT, TBSTATE_ENABLED, drop, {}, 0, 0},
        {0, 0, 0, BTNS_SEP, {}, 0, 0},
        {7, ID_FILTER_ENABLED, TBSTATE_ENABLED, BTNS_CHECK | BTNS_DROPDOWN, {}, 0, 0},
    };
    SendMessageW(m_toolbar, TB_ADDBUTTONSW, ARRAYSIZE(buttons), reinterpret_cast<LPARAM>(buttons));
    FitToolbar(m_toolbar, 1);

    ExchangeData(false);
    Relayout();
    Observe(Settings());
    Observe(Doc());
    return true;
}

void CFormatsPage::OnDestroy()
{
    m_table.RemoveHeaderTips();
    m_table.Destroy();
    m_data.m_visibleMap = nullptr;
}

void CFormatsPage::Relayout()
{
    if (!m_tabs)
        return;
    RECT client;
    GetClientRect(m_hWnd, &client);
    SetWindowPos(m_tabs, HWND_BOTTOM, 0, 0, client.right, client.bottom, SWP_NOACTIVATE);
    RECT display = client;
    display.bottom = std::max(display.top, display.bottom - kToolbarRoom);
    SendMessageW(m_tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    if (m_table.m_hWnd)
        SetWindowPos(m_table.m_hWnd, nullptr, display.left, display.top, display.right - display.left,
                     std::max(0L, display.bottom - display.top), SWP_NOZORDER | SWP_NOACTIVATE);
    RECT bar;
    GetWindowRect(m_toolbar, &bar);
    const int height = bar.bottom - bar.top;
    SetWindowPos(m_toolbar, HWND_TOP, display.left, client.bottom - (kToolbarRoom + height) / 2 - 4, 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE);
}

// ---- loading ----

void CFormatsPage::ExchangeData(bool save)
{
    if (save) {
        if (m_pageFlags & kColumnsChanged)
            StoreColumns();
        return;
    }
    UpdatingScope updating(m_hWnd);
    FillTabs();
    LoadColumns();
    m_data.m_flags |= CFormatsLvData::kRebuild;
    RefreshKeyFilterState();
    m_table.ApplyLook();
    RefreshView();
    UpdateToolbar();
}

void CFormatsPage::LoadColumns()
{
    std::vector<ColumnDesc> columns = Settings().Columns(COLS_FORMATS);
    if (columns.size() != FCOL_COUNT)
        columns = GetDefaultColumns(COLS_FORMATS);
    m_table.SetColumns(columns, ColumnTitles());
    m_table.SetSortColumn(Doc().formatsSort, false);
    m_table.ApplyColumns();
}

void CFormatsPage::StoreColumns()
{
    std::vector<ColumnDesc> columns = m_table.GetColumns();
    for (ColumnDesc& c : columns)
        c.titleId = 0;
    CDocUpdateScope scope(Settings(), ObserverKey());
    *Settings().EditColumns(COLS_FORMATS) = columns;
    m_pageFlags &= ~kColumnsChanged;
}

void CFormatsPage::FillTabs()
{
    if (!m_tabs)
        return;
    SendMessageW(m_tabs, TCM_DELETEALLITEMS, 0, 0);
    std::wstring title;
    LoadResString(IDS_TIP_DEFAULT_FORMAT, title);
    auto insert = [this](const std::wstring& text, LPARAM param, bool chosen) {
        TCITEMW item{};
        item.mask = TCIF_TEXT | TCIF_IMAGE | TCIF_PARAM;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        item.iImage = chosen ? 1 : 0;
        item.lParam = param;
        const int at = static_cast<int>(SendMessageW(m_tabs, TCM_GETITEMCOUNT, 0, 0));
        SendMessageW(m_tabs, TCM_INSERTITEMW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&item));
    };
    insert(title, 0, Doc().defaultId != 0);
    for (const KeyFilter& filter : Doc().GetKeyFilters())
        if (filter.flags & KEYFILTER_VISIBLE)
            insert(filter.name, static_cast<LPARAM>(filter.id), filter.formatId != 0);
    const int tab = FindTabByParam(m_tabs, static_cast<LPARAM>(Doc().selectedKeyFilter));
    SendMessageW(m_tabs, TCM_SETCURSEL, static_cast<WPARAM>(std::max(tab, 0)), 0);
    Relayout();
}

void CFormatsPage::RefreshTabImages()
{
    const int count = static_cast<int>(SendMessageW(m_tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TCITEMW item{};
        item.mask = TCIF_PARAM;
        SendMessageW(m_tabs, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        item.mask = TCIF_IMAGE;
        item.iImage = ChosenFormatId(Doc(), static_cast<uint32_t>(item.lParam)) != 0 ? 1 : 0;
        SendMessageW(m_tabs, TCM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
}

void CFormatsPage::RefreshKeyFilterState()
{
    const uint32_t keyFilter = Doc().selectedKeyFilter;
    const uint32_t chosen = ChosenFormatId(Doc(), keyFilter);
    const uint32_t filter = Settings().GetFormatsFilter();
    if (keyFilter != m_data.m_keyFilter || chosen != m_data.m_chosenId) {
        m_data.m_keyFilter = keyFilter;
        m_data.m_chosenId = chosen;
        m_data.m_flags |= (filter & FFILTER_ON) ? CFormatsLvData::kRebuild : CFormatsLvData::kRecache;
    }
    if (filter != m_data.m_filter) {
        m_data.m_filter = filter;
        m_data.m_flags |= CFormatsLvData::kRebuild;
    }
    if (m_data.m_flags & (CFormatsLvData::kRebuild | CFormatsLvData::kRecache))
        RefreshView();
}

// The view and the list in step with the flags of the data.
void CFormatsPage::RefreshView()
{
    if (!m_table.m_hWnd)
        return;
    if (m_data.m_flags & CFormatsLvData::kRebuild) {
        const int top = static_cast<int>(SendMessageW(m_table.m_hWnd, LVM_GETTOPINDEX, 0, 0));
        m_data.RebuildView();
        SendMessageW(m_table.m_hWnd, LVM_SETITEMCOUNT, static_cast<WPARAM>(m_data.GetItemCount()),
                     LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
        ApplySelectionMarks();
        m_table.SetSortColumn(Doc().formatsSort, true);
        m_table.ScrollRowToTop(top);
    } else if (m_data.m_flags & CFormatsLvData::kRecache) {
        m_data.Recache();
    }
    InvalidateRect(m_table.m_hWnd, nullptr, FALSE);
    RequestIdle(kIdleToolbar);
}

void CFormatsPage::ApplySelectionMarks()
{
    m_pageFlags |= kRefilling;
    LVITEMW clear{};
    clear.stateMask = LVIS_SELECTED;
    SendMessageW(m_table.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    for (int row = 0; row < m_data.GetItemCount(); ++row) {
        if (!(m_data.FormatAt(row)->flags & KVF_SELECTED))
            continue;
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED;
        item.state = LVIS_SELECTED;
        SendMessageW(m_table.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
    m_pageFlags &= ~kRefilling;
}

void CFormatsPage::RequestIdle(uint32_t flags)
{
    m_idleFlags |= flags;
    m_host->MarkDirty(HostUpdate::PageIdle);
}

void CFormatsPage::UpdateToolbar()
{
    if (!m_toolbar)
        return;
    std::vector<int> rows;
    m_table.GetSelectedItems(rows);
    const bool regular = std::any_of(rows.begin(), rows.end(), [this](int row) {
        KvFormatPtr f = m_data.FormatAt(row);
        return f && !f->IsPreset();
    });
    SendMessageW(m_toolbar, TB_ENABLEBUTTON, ID_FORMAT_EDIT, MAKELPARAM(!rows.empty(), 0));
    SendMessageW(m_toolbar, TB_ENABLEBUTTON, ID_FORMAT_DELETE, MAKELPARAM(regular, 0));
    SendMessageW(m_toolbar, TB_CHECKBUTTON, ID_FILTER_ENABLED,
                 MAKELPARAM((Settings().GetFormatsFilter() & FFILTER_ON) != 0, 0));
}

void CFormatsPage::OnIdleUpdate()
{
    const uint32_t flags = m_idleFlags;
    m_idleFlags = 0;
    if (!m_table.m_hWnd)
        return;
    if (flags & kIdleSelectRemembered) {
        const int row = m_data.RowOf(m_remembered);
        if (row >= 0)
            m_table.SelectOnly(row, true);
    }
    if (flags & kIdleRememberFocused) {
        std::vector<int> rows;
        m_remembered = m_table.GetSelectedItems(rows) ? m_data.FormatAt(rows.front()) : nullptr;
    }
    if (flags & kIdleToolbar)
        UpdateToolbar();
}

// ---- observers ----

void CFormatsPage::OnDocumentChanged(CDocument* doc, const uint32_t* bits)
{
    if (!m_hWnd)
        return;
    if (doc == &Settings()) {
        const AppSettingsDetails& details = Settings().GetDetails();
        if ((bits[0] & ASC_STATE) && (details.state & ASS_LAST_TRANSFER)) {
            m_data.m_flags |= CFormatsLvData::kRecache;
            RefreshView();
        }
        if (bits[0] & ASC_UI) {
            if (details.ui & ASU_FORMATS_COLUMNS) {
                LoadColumns();
                m_data.m_flags |= CFormatsLvData::kRecache;
                RefreshView();
            }
            if (details.ui & ASU_FORMATS_FILTER) {
                RefreshKeyFilterState();
                UpdateToolbar();
            }
            m_table.ApplyLook();
        }
        return;
    }
    if (doc != &Doc() || !(bits[0] & (TDC_FORMATS | TDC_STATE)))
        return;
    const uint32_t detail = Doc().GetDetails().formats;
    if (detail & TDF_KEY_FILTERS)
        FillTabs();
    if (detail & TDF_SELECTED_FILTER) {
        const int tab = FindTabByParam(m_tabs, static_cast<LPARAM>(Doc().selectedKeyFilter));
        SendMessageW(m_tabs, TCM_SETCURSEL, static_cast<WPARAM>(std::max(tab, 0)), 0);
    }
    if (detail & (TDF_FORMAT_LIST | TDF_FORMATS_SORT | TDF_DEFAULT_ID | TDF_KEY_FILTERS)) {
        m_data.m_flags |= CFormatsLvData::kRebuild;
        RefreshTabImages();
    }
    RefreshKeyFilterState();
    RefreshView();
}

// ---- commands ----

bool CFormatsPage::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case ID_FORMAT_NEW: AddFormat(); return true;
    case ID_FORMAT_DUPLICATE: DuplicateSelected(); return true;
    case ID_FORMAT_EDIT: EditSelected(); return true;
    case ID_FORMAT_DELETE: DeleteSelected(true); return true;
    case ID_FORMATS_SELECT_ALL: SelectAll(); return true;
    case ID_FORMATS_IMPORT_CSV: ImportFormats(1); return true;
    case ID_FORMATS_IMPORT_EXCEL: ImportFormats(2); return true;
    case ID_FORMATS_IMPORT_CALC: ImportFormats(3); return true;
    case ID_FORMATS_EXPORT_CSV: ExportFormats(1); return true;
    case ID_FORMATS_EXPORT_EXCEL_FILE: ExportFormats(Settings().GetFormatsExport() == 3 ? 3 : 2); return true;
    case ID_FORMATS_EXPORT_EXCEL: ExportFormats(4); return true;
    case ID_FORMATS_EXPORT_CALC_FILE: ExportFormats(5); return true;
    case ID_FORMATS_EXPORT_CALC: ExportFormats(6); return true;
    case ID_FORMATS_IMPORT: ImportFormats(0); return true;
    case ID_FORMATS_EXPORT: ExportFormats(0); return true;
    case ID_FILTER_ENABLED: ToggleFilter(FFILTER_ON); return true;
    case ID_FILTER_SHOW_PRESETS: ToggleFilter(FFILTER_SHOW_PRESETS); return true;
    case ID_FILTER_SHOW_HIDDEN: ToggleFilter(FFILTER_SHOW_HIDDEN); return true;
    case ID_FILTER_SAME_NAME: ToggleFilter(FFILTER_SAME_NAME); return true;
    case ID_LAST_KEY: ShowLastKeyDialog(*m_host, m_hWnd); return true;
    case ID_TAB_DEFAULT: {
        CDocUpdateScope scope(Doc(), ObserverKey());
        Doc().SetFormatsKeyFilter(0);
        SendMessageW(m_tabs, TCM_SETCURSEL, 0, 0);
        RefreshKeyFilterState();
        return true;
    }
    case ID_CUSTOMIZE_TAB: RunKeyFiltersDialog(); return true;
    default: break;
    }
    const int count = static_cast<int>(Doc().GetKeyFilters().size());
    if (id >= ID_KEY_FILTER_TOGGLE_BASE && id < ID_KEY_FILTER_TOGGLE_BASE + count) {
        ToggleKeyFilter(id - ID_KEY_FILTER_TOGGLE_BASE);
        return true;
    }
    return CBasePage::OnCommand(id, code, control);
}

void CFormatsPage::RunKeyFiltersDialog()
{
    ::RunKeyFiltersDialog(m_hWnd, *m_host);
}

FormatsTableView CFormatsPage::TableView()
{
    FormatsTableView view;
    for (int row = 0; row < m_data.GetItemCount(); ++row)
        view.rows.push_back(m_data.FormatAt(row));
    const std::vector<ColumnDesc>& columns = m_table.GetColumns();
    for (int d = 0; d < static_cast<int>(columns.size()); ++d)
        if (columns[d].IsVisible())
            view.columns.push_back(d);
    std::stable_sort(view.columns.begin(), view.columns.end(),
                     [&columns](int a, int b) { return columns[a].order < columns[b].order; });
    view.keyFilterId = m_data.m_keyFilter;
    view.chosenId = m_data.m_chosenId;
    view.lastKey = Settings().GetLastTransfer().keyNumber;
    return view;
}

template <class F>
void CFormatsPage::RunFileCommand(F command)
{
    try {
        command();
    } catch (const std::exception& e) {
        m_host->ShowMessageBox(MultiByteToWString(e.what(), CP_ACP), MB_OK | MB_ICONERROR, nullptr);
    }
    m_data.m_flags |= CFormatsLvData::kRebuild;
    RefreshTabImages();
    RefreshKeyFilterState();
    RefreshView();
}

bool CFormatsPage::ImportFormats(int kind)
{
    CTableFileUi dialogs(m_hWnd);
    ITableFileUi& ui = m_fileUi ? *m_fileUi : dialogs;
    bool chosen = true;
    RunFileCommand([&] { chosen = ImportFormatsFile(Settings(), ui, kind, m_data.m_keyFilter, ObserverKey()); });
    return chosen;
}

bool CFormatsPage::ExportFormats(int kind)
{
    CTableFileUi dialogs(m_hWnd);
    ITableFileUi& ui = m_fileUi ? *m_fileUi : dialogs;
    bool chosen = true;
    RunFileCommand([&] { chosen = ExportFormatsFile(Settings(), TableView(), ui, kind); });
    return chosen;
}

void CFormatsPage::SelectFormatNamed(const std::wstring& name)
{
    for (int row = 0; row < m_data.GetItemCount(); ++row) {
        const KvFormatPtr format = m_data.FormatAt(row);
        if (format && FormatDisplayName(*format) == name) {
            m_table.SelectOnly(row, true);
            return;
        }
    }
}

bool CFormatsPage::AddFormat()
{
    int index = -1;
    if (!ShowNewFormatDialog(*m_host, &index, m_hWnd))
        return false;
    const auto& formats = Doc().GetFormats();
    if (index >= 0 && index < static_cast<int>(formats.size()))
        m_remembered = formats[index];
    RequestIdle(kIdleSelectRemembered);
    if (IsWindowVisible(m_hWnd))
        SetFocus(m_table.m_hWnd);
    return true;
}

void CFormatsPage::ToggleFilter(uint32_t bit)
{
    {
        CDocUpdateScope scope(Settings(), ObserverKey());
        Settings().SetFormatsFilter(Settings().GetFormatsFilter() ^ bit);
    }
    RefreshKeyFilterState();
    UpdateToolbar();
}

void CFormatsPage::EditSelected()
{
    std::vector<int> rows;
    if (m_table.GetSelectedItems(rows) == 0)
        return;
    CFormatDialog dialog(*m_host);
    dialog.RunModal(m_hWnd);
}

void CFormatsPage::SelectAll()
{
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageW(m_table.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
}

void CFormatsPage::DeleteSelected(bool ask)
{
    std::vector<int> rows;
    if (m_table.GetSelectedItems(rows) == 0)
        return;
    std::vector<KvFormatPtr> doomed;
    for (int row : rows)
        if (KvFormatPtr f = m_data.FormatAt(row); f && !f->IsPreset())
            doomed.push_back(f);
    if (doomed.empty())
        return;
    const uint32_t confirm = Settings().GetConfirmFlags();
    if (ask && (confirm & CONFIRM_DELETE)) {
        std::wstring text;
        if (doomed.size() == 1)
            FormatResString(text, IDS_REMOVE_FILE_QUESTION, doomed.front()->name.c_str());
        else
            FormatResString(text, IDS_REMOVE_ITEMS_QUESTION, static_cast<int>(doomed.size()));
        bool dontAsk = false;
        const int answer = m_host->ShowMessageBox(text, MB_OKCANCEL | MB_ICONQUESTION, &dontAsk);
        if (dontAsk) {
            CDocUpdateScope scope(Settings(), ObserverKey());
            Settings().SetConfirmFlags(confirm & ~CONFIRM_DELETE);
        }
        if (answer != IDOK)
            return;
    }
    {
        CDocUpdateScope scope(Doc(), ObserverKey());
        for (const KvFormatPtr& f : Doc().GetFormats())
            f->flags &= ~KVF_DELETE;
        for (const KvFormatPtr& f : doomed)
            f->flags |= KVF_DELETE;
        Doc().DeleteMarkedFormats();
        Doc().FormatListChanged(TDL_REMOVED);
    }
    for (const KvFormatPtr& f : Doc().GetFormats())
        f->flags &= ~KVF_SELECTED;
    m_data.m_flags |= CFormatsLvData::kRebuild;
    RefreshTabImages();
    RefreshKeyFilterState();
    RefreshView();
}

void CFormatsPage::DuplicateSelected()
{
    CTransferDoc& doc = Doc();
    for (const KvFormatPtr& f : doc.GetFormats()) {
        f->flags &= ~(KVF_MARK_DIALOG | KVF_MARK_PAGE | KVF_SELECTED);
    }
    std::vector<int> rows;
    m_table.GetSelectedItems(rows);
    for (int row : rows)
        if (KvFormatPtr f = m_data.FormatAt(row))
            f->flags |= KVF_MARK_DIALOG;
    std::vector<KvFormatPtr> copies;
    {
        CDocUpdateScope scope(doc, ObserverKey());
        for (size_t i = doc.GetFormats().size(); i-- > 0;) {
            const KvFormatPtr source = doc.GetFormats()[i];
            if (!(source->flags & KVF_MARK_DIALOG))
                continue;
            source->flags &= ~KVF_MARK_DIALOG;
            _KV_FORMAT copy;
            copy.templ = source->templ;
            copy.params = source->params;
            copy.comment = source->comment;
            copy.keyFilterMask = source->keyFilterMask;
            copy.sampleText = source->sampleText;
            copy.flags = (source->flags & KVF_SAMPLE_CURRENT) | KVF_SELECTED;
            const std::wstring base = source->IsPreset() ? source->name.substr(1) : source->name;
            if (!MakeUniqueName(doc.GetFormatsByName(), base.c_str(), copy.name))
                continue;
            const size_t at = doc.InsertFormat(i + 1, copy);
            copies.push_back(doc.GetFormats()[at]);
        }
    }
    m_data.m_flags |= CFormatsLvData::kRebuild;
    RefreshView();
    // The first copy in the view is selected next.
    int first = -1;
    for (const KvFormatPtr& copy : copies) {
        const int row = m_data.RowOf(copy);
        if (row >= 0 && (first < 0 || row < first))
            first = row;
    }
    if (first >= 0) {
        m_remembered = m_data.FormatAt(first);
        RequestIdle(kIdleSelectRemembered);
    }
}

void CFormatsPage::RestoreDefaults()
{
    CTransferDoc& doc = Doc();
    {
        CDocUpdateScope settingsScope(Settings(), ObserverKey());
        *Settings().EditColumns(COLS_FORMATS) = GetDefaultColumns(COLS_FORMATS);
        *Settings().EditColumns(COLS_KEYFILTERS) = GetDefaultColumns(COLS_KEYFILTERS);
        Settings().SetFormatsFilter(FFILTER_ON | FFILTER_SHOW_PRESETS);
        CDocUpdateScope scope(doc, ObserverKey());
        for (const KvFormatPtr& f : doc.GetFormats())
            f->flags |= KVF_DELETE;
        doc.DeleteMarkedFormats();
        doc.FormatListChanged(TDL_LOADED);
        doc.SetFormatsSort(0);
        doc.RaiseFormatsChange(TDF_FORMATS_SORT, true);
        doc.SetFormatsKeyFilter(0);
        doc.SetKeyFiltersSort(0);
        // The merge runs only for presets that are not current: none are left.
        doc.presetsVersion = 0;
        doc.LoadPresets(false);
    }
    ExchangeData(false);
}

void CFormatsPage::ToggleKeyFilter(int index)
{
    CTransferDoc& doc = Doc();
    {
        CDocUpdateScope scope(doc, ObserverKey());
        KeyFilter& filter = doc.KeyFilters()[index];
        filter.flags ^= KEYFILTER_VISIBLE;
        if (filter.flags & KEYFILTER_VISIBLE)
            doc.SetFormatsKeyFilter(filter.id);
        else if (doc.selectedKeyFilter == filter.id)
            doc.SetFormatsKeyFilter(0);
        doc.KeyFiltersChanged(true);
    }
    FillTabs();
    RefreshKeyFilterState();
}

// ---- list actions ----

void CFormatsPage::ToggleChoice(int row)
{
    KvFormatPtr f = m_data.FormatAt(row);
    if (!f)
        return;
    CTransferDoc& doc = Doc();
    const uint32_t keyFilter = m_data.m_keyFilter;
    const uint32_t id = ChosenFormatId(doc, keyFilter) == f->id ? 0 : f->id;
    {
        CDocUpdateScope scope(doc, ObserverKey());
        if (keyFilter == 0) {
            doc.SetDefaultFormatId(id);
        } else {
            for (KeyFilter& filter : doc.KeyFilters())
                if (filter.id == keyFilter)
                    filter.formatId = id;
        }
        doc.RaiseFormatsChange(TDF_DEFAULT_ID, true);
    }
    RefreshTabImages();
    RefreshKeyFilterState();
}

void CFormatsPage::ToggleVisible(const std::vector<int>& rows)
{
    const uint32_t bit = KeyFilterBit(m_data.m_keyFilter);
    {
        CDocUpdateScope scope(Doc(), ObserverKey());
        for (int row : rows)
            if (KvFormatPtr f = m_data.FormatAt(row))
                f->keyFilterMask = static_cast<int32_t>(static_cast<uint32_t>(f->keyFilterMask) ^ bit);
        Doc().FormatListChanged(KVF_FIELD_KEYFILTERS);
    }
    const uint32_t filter = m_data.m_filter;
    m_data.m_flags |= (filter & FFILTER_ON) && !(filter & FFILTER_SHOW_HIDDEN) ? CFormatsLvData::kRebuild
                                                                               : CFormatsLvData::kRecache;
    RefreshView();
}

void CFormatsPage::ActOnSpace()
{
    const std::vector<ColumnDesc>& columns = m_table.GetColumns();
    auto shown = [&](int d) { return d < static_cast<int>(columns.size()) && columns[d].IsVisible(); };
    int column = -1;
    if (shown(FCOL_CHOICE) && shown(FCOL_VISIBLE))
        column = columns[FCOL_CHOICE].order <= columns[FCOL_VISIBLE].order ? FCOL_CHOICE : FCOL_VISIBLE;
    else if (shown(FCOL_CHOICE))
        column = FCOL_CHOICE;
    else if (shown(FCOL_VISIBLE))
        column = FCOL_VISIBLE;
    if (column == FCOL_CHOICE) {
        const int focused = static_cast<int>(
            SendMessageW(m_table.m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
        if (focused >= 0)
            ToggleChoice(focused);
    } else if (column == FCOL_VISIBLE) {
        std::vector<int> rows;
        m_table.GetSelectedItems(rows);
        ToggleVisible(rows);
    }
}

void CFormatsPage::SortBy(int key)
{
    CTransferDoc& doc = Doc();
    {
        CDocUpdateScope scope(doc, ObserverKey());
        if (SortFormats(doc.ReorderableFormats(), key, m_data.m_chosenId, m_data.m_keyFilter,
                        Settings().GetLastTransfer().keyNumber))
            doc.FormatListChanged(0x2000);
        doc.SetFormatsSort(key);
    }
    m_table.SetSortColumn(key, true);
    m_data.m_flags |= CFormatsLvData::kRebuild;
    RefreshView();
}

void CFormatsPage::DropRows(int drop)
{
    std::vector<int> rows;
    m_table.GetSelectedItems(rows);
    std::vector<KvFormatPtr> moved;
    for (int row : rows)
        if (KvFormatPtr f = m_data.FormatAt(row))
            moved.push_back(f);
    CTransferDoc& doc = Doc();
    {
        CDocUpdateScope scope(doc, ObserverKey());
        if (!MoveFormatRows(doc.ReorderableFormats(), m_data.m_view, rows, drop))
            return;
        for (const KvFormatPtr& f : doc.GetFormats())
            f->flags = std::find(moved.begin(), moved.end(), f) != moved.end() ? (f->flags | KVF_SELECTED)
                                                                             : (f->flags & ~KVF_SELECTED);
        doc.FormatListChanged(0x2000);
        doc.RaiseFormatsChange(TDF_FORMAT_LIST, true);
        doc.SetFormatsSort(0);
    }
    m_table.SetSortColumn(0, true);
    m_data.m_flags |= CFormatsLvData::kRebuild;
    RefreshView();
}

// ---- menus ----

void CFormatsPage::OnListMenu(POINT at)
{
    TrackMenu(IDM_FORMATS_LIST, ContextMenuPoint(m_table.m_hWnd, at), [this](HMENU menu) { PrepareListMenu(menu); },
              TPM_LEFTBUTTON | TPM_RIGHTBUTTON);
}

void CFormatsPage::PrepareListMenu(HMENU menu)
{
    std::vector<int> rows;
    m_table.GetSelectedItems(rows);
    const bool regular = std::any_of(rows.begin(), rows.end(), [this](int row) {
        KvFormatPtr f = m_data.FormatAt(row);
        return f && !f->IsPreset();
    });
    EnableMenuCommand(menu, ID_FORMAT_EDIT, !rows.empty());
    EnableMenuCommand(menu, ID_FORMAT_DUPLICATE, !rows.empty());
    EnableMenuCommand(menu, ID_FORMAT_DELETE, regular);
    CheckFilterItems(menu, Settings().GetFormatsFilter());
    GreySpreadsheetItems(menu);
    SetMenuDefaultItem(menu, ID_FORMAT_EDIT, FALSE);
    m_host->PrepareMenuShortcuts(menu, {});
}

void CFormatsPage::ShowTabMenu()
{
    CMenu holder;
    HMENU menu = LoadPopup(holder, IDM_FORMATS_TAB);
    if (!menu)
        return;
    const auto& filters = Doc().GetKeyFilters();
    for (size_t i = 0; i < filters.size(); ++i) {
        const UINT check = (filters[i].flags & KEYFILTER_VISIBLE) ? MF_CHECKED : MF_UNCHECKED;
        InsertMenuW(menu, static_cast<UINT>(i + 1), MF_BYPOSITION | MF_STRING | check,
                    static_cast<UINT_PTR>(ID_KEY_FILTER_TOGGLE_BASE + i), filters[i].name.c_str());
    }
    POINT at{};
    GetCursorPos(&at);
    TrackPopupMenu(menu, TPM_LEFTBUTTON | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
}

void CFormatsPage::ShowDropDown(int command)
{
    const int menuId = command == ID_FORMATS_IMPORT   ? IDM_FORMATS_IMPORT
                       : command == ID_FORMATS_EXPORT ? IDM_FORMATS_EXPORT
                                                      : IDM_FORMATS_FILTER;
    CMenu holder;
    HMENU menu = LoadPopup(holder, menuId);
    if (!menu)
        return;
    GreySpreadsheetItems(menu);
    CheckFilterItems(menu, Settings().GetFormatsFilter());
    RECT button{};
    SendMessageW(m_toolbar, TB_GETRECT, static_cast<WPARAM>(command), reinterpret_cast<LPARAM>(&button));
    MapWindowPoints(m_toolbar, nullptr, reinterpret_cast<POINT*>(&button), 2);
    TPMPARAMS params{sizeof(params), button};
    TrackPopupMenuEx(menu, TPM_LEFTALIGN | TPM_LEFTBUTTON | TPM_VERTICAL, button.left, button.bottom, m_hWnd,
                     &params);
}

// ---- notifications ----

void CFormatsPage::OnSelectionChange(int from, int to, bool selected)
{
    if (m_pageFlags & kRefilling)
        return;
    if (from < 0) {
        for (const KvFormatPtr& f : Doc().GetFormats())
            f->flags = selected ? f->flags : (f->flags & ~KVF_SELECTED);
        if (selected)
            for (int row = 0; row < m_data.GetItemCount(); ++row)
                m_data.FormatAt(row)->flags |= KVF_SELECTED;
    } else {
        for (int row = from; row <= to; ++row)
            if (KvFormatPtr f = m_data.FormatAt(row))
                f->flags = selected ? (f->flags | KVF_SELECTED) : (f->flags & ~KVF_SELECTED);
    }
    RequestIdle(kIdleRememberFocused | kIdleToolbar);
}

void CFormatsPage::OnListClick(const NMITEMACTIVATE* hit)
{
    if (hit->iItem < 0 || hit->iSubItem < 0 || hit->iSubItem >= static_cast<int>(m_table.GetVisibleMap().size()))
        return;
    const int column = m_table.GetVisibleMap()[hit->iSubItem];
    if (column != FCOL_CHOICE && column != FCOL_VISIBLE)
        return;
    // The image is the first 16 pixels of the cell (of the item's icon in the first column).
    RECT icon{};
    icon.top = hit->iSubItem;
    icon.left = hit->iSubItem == 0 ? LVIR_ICON : LVIR_BOUNDS;
    const UINT query = hit->iSubItem == 0 ? LVM_GETITEMRECT : LVM_GETSUBITEMRECT;
    if (!SendMessageW(m_table.m_hWnd, query, static_cast<WPARAM>(hit->iItem), reinterpret_cast<LPARAM>(&icon)))
        return;
    if (hit->iSubItem != 0)
        icon.right = std::min<LONG>(icon.right, icon.left + 20);
    if (!PtInRect(&icon, hit->ptAction))
        return;
    if (column == FCOL_CHOICE)
        ToggleChoice(hit->iItem);
    else
        ToggleVisible({hit->iItem});
}

bool CFormatsPage::OnListKey(WORD key, unsigned modifiers)
{
    const bool ctrl = modifiers & LIST_KEY_CTRL, shift = modifiers & LIST_KEY_SHIFT, alt = modifiers & LIST_KEY_ALT;
    switch (key) {
    case VK_SPACE:
        ActOnSpace();
        return true;
    case VK_INSERT:
        if (ctrl || shift || alt)
            return false;
        AddFormat();
        return true;
    case VK_DELETE:
        if (ctrl || alt)
            return false;
        DeleteSelected(!shift);
        return true;
    case 'D':
        if (!ctrl || shift || alt)
            return false;
        DuplicateSelected();
        return true;
    case VK_RETURN:
        EditSelected();
        return true;
    default:
        return false;
    }
}

void CFormatsPage::OnColumnsChanged(int what)
{
    m_pageFlags |= kColumnsChanged;
    StoreColumns();
    if (what & TCC_VISIBILITY) {
        m_data.m_flags |= CFormatsLvData::kRecache;
        RefreshView();
    }
}

bool CFormatsPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (id == IDC_FORMATS_LIST && nmh->hwndFrom == m_table.m_hWnd) {
        switch (nmh->code) {
        case NM_CLICK:
            OnListClick(reinterpret_cast<NMITEMACTIVATE*>(nmh));
            return true;
        default:
            break;
        }
        return CBasePage::OnNotify(id, nmh, result);
    }
    if (nmh->hwndFrom == m_tabs) {
        if (nmh->code == TCN_SELCHANGE) {
            const int tab = static_cast<int>(SendMessageW(m_tabs, TCM_GETCURSEL, 0, 0));
            TCITEMW item{};
            item.mask = TCIF_PARAM;
            if (tab >= 0 && SendMessageW(m_tabs, TCM_GETITEMW, static_cast<WPARAM>(tab), reinterpret_cast<LPARAM>(&item))) {
                CDocUpdateScope scope(Doc(), ObserverKey());
                Doc().SetFormatsKeyFilter(static_cast<uint32_t>(item.lParam));
            }
            RefreshKeyFilterState();
            return true;
        }
        if (nmh->code == NM_RCLICK) {
            ShowTabMenu();
            *result = 1;
            return true;
        }
    }
    if (nmh->hwndFrom == m_toolbar && nmh->code == TBN_DROPDOWN) {
        ShowDropDown(reinterpret_cast<NMTOOLBARW*>(nmh)->iItem);
        *result = TBDDRET_DEFAULT;
        return true;
    }
    if (nmh->code == TTN_GETDISPINFOW && GetParent(nmh->hwndFrom) != m_table.m_hWnd) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(nmh);
        m_host->GetCommandTipText(static_cast<UINT>(nmh->idFrom), info->szText, ARRAYSIZE(info->szText));
        info->lpszText = info->szText;
        return true;
    }
    return CBasePage::OnNotify(id, nmh, result);
}
