#include "pages/options/KeyFiltersDialog.h"

#include <commctrl.h>
#include <windowsx.h>
#include <algorithm>

#include "config/AppSettings.h"
#include "config/TransferDoc.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "framework/SysFunctions.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/PageTable.h"
#include "reader/ReaderModels.h"
#include "resources/resource.h"

namespace {

constexpr int kPlacementSlot = 1;
constexpr int kStateImageWidth = 16;
constexpr COLORREF kStateImageMask = RGB(255, 0, 255);
constexpr COLORREF kTakenChecked = RGB(255, 0, 0);
constexpr COLORREF kTakenOther = RGB(128, 128, 128);
constexpr int kTypesColumnWidth = 135;
constexpr WORD kHotkeyCtrl = 0x200;

constexpr const wchar_t* kShortTypeNames[] = {
    L"X",    L"EM",   L"HID",  L"IC",   L"COD433", L"COD433F", L"CAME",   L"DS",     L"TEMIC", L"UL", L"M1K", L"M2K",
    L"M4K",  L"M+",   L"M+1K", L"M+2K", L"M+4K",   L"SMXM1K",  L"SMXM4K", L"DF",     L"PX",    L"MINI", L"?",
};
constexpr int kTitleIds[] = {IDS_KF_COL_VISIBLE,   IDS_KF_COL_NUMBER,     IDS_KF_COL_ID,
                             IDS_KF_COL_NAME,      IDS_KF_COL_KEY_TYPES,  IDS_KF_COL_KEY_SIZE};

bool KeyDown(int key)
{
    return (GetKeyState(key) & 0x8000) != 0;
}

std::wstring LoadText(UINT id)
{
    std::wstring text;
    LoadResString(id, text);
    return text;
}

} // namespace

// ---- CKeyFiltersLvData ----

std::wstring KeyTypesText(uint32_t mask, IPageHost& host)
{
    if (mask == kAllKeyTypes)
        return LoadText(IDS_KF_ALL);
    const uint32_t known = mask & ((1u << std::size(kShortTypeNames)) - 1);
    if (known != 0 && (known & (known - 1)) == 0) {
        int type = 0;
        while (!(known & (1u << type)))
            ++type;
        if (type < kKeyTypeCount)
            return KeyTypeName(host, type);
    }
    std::wstring text;
    for (int bit = 0; bit < static_cast<int>(std::size(kShortTypeNames)); ++bit) {
        if (!(mask & (1u << bit)))
            continue;
        if (!text.empty())
            text += L", ";
        text += kShortTypeNames[bit];
    }
    return text;
}

int CKeyFiltersLvData::GetItemCount()
{
    return static_cast<int>(m_work.filters.size());
}

std::wstring CKeyFiltersLvData::CellText(int row, int column) const
{
    if (row < 0 || row >= static_cast<int>(m_work.filters.size()))
        return {};
    const KeyFilter& filter = m_work.filters[static_cast<size_t>(row)];
    switch (column) {
    case 1: return std::to_wstring(row + 1);
    case 2: return std::to_wstring(filter.id);
    case 3: return filter.name;
    case 4: return KeyTypesText(filter.keyTypes, m_host);
    case 5: return filter.keySize == 0 ? LoadText(IDS_KF_ALL) : std::to_wstring(filter.keySize);
    default: return {};
    }
}

void CKeyFiltersLvData::GetDispInfo(LVITEMW* item)
{
    const int row = item->iItem;
    if (row < 0 || row >= static_cast<int>(m_work.filters.size()))
        return;
    if (item->mask & LVIF_TEXT) {
        const std::vector<int>& map = m_table.GetVisibleMap();
        const int column = item->iSubItem >= 0 && item->iSubItem < static_cast<int>(map.size()) ? map[item->iSubItem] : -1;
        m_text = CellText(row, column);
        item->pszText = m_text.data();
    }
    if (item->mask & LVIF_STATE) {
        const bool visible = (m_work.filters[static_cast<size_t>(row)].flags & KEYFILTER_VISIBLE) != 0;
        item->state = (item->state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(visible ? 2 : 1);
        item->stateMask |= LVIS_STATEIMAGEMASK;
    }
}

// ---- CKeyFiltersDialog ----

CKeyFiltersDialog::CKeyFiltersDialog(IPageHost& host)
    : CModalDialog(IDD_KEY_FILTERS), m_host(host), m_listData(m_work, host, m_list), m_typesData(host)
{
    m_minTrackSize = {440, 540};
}

CKeyFiltersDialog::~CKeyFiltersDialog() = default;

CTransferDoc& CKeyFiltersDialog::Doc() const
{
    return m_host.GetTransferDoc();
}

LRESULT CKeyFiltersDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KICKIDLE) {
        if (m_pending) {
            m_pending = false;
            RefreshProperties();
        }
        return 0;
    }
    return CModalDialog::HandleMessage(hwnd, message, wParam, lParam);
}

void CKeyFiltersDialog::OnSize(UINT, int width, int height)
{
    ApplyLayout(m_layout, width, height);
}

void CKeyFiltersDialog::OnDestroy()
{
    m_observer.Reset();
    m_host.ExchangeWindowPlacement(true, m_hWnd, kPlacementSlot);
    m_list.Destroy();
    m_types.Destroy();
    m_typesData.SetEventCallback(nullptr, nullptr);
}

bool CKeyFiltersDialog::OnInitDialog()
{
    m_work.CopyFrom(Doc());
    m_layout.parent = m_hWnd;
    m_layout.Add(IDC_KF_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {ID_ITEM_ADD, ID_ITEM_DELETE, IDC_KF_MOVE_UP, IDC_KF_MOVE_DOWN})
        m_layout.Add(id, ANCHOR_TOP | ANCHOR_RIGHT);
    for (int id : {IDC_KF_NAME_LABEL, IDC_KF_KEY_TYPES_LABEL, IDC_KF_KEY_TYPES})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_layout.Add(IDC_KF_NAME, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_KF_SIZE_LABEL, IDC_KF_SIZE_CHECK, IDC_KF_SIZE, IDC_KF_SIZE_SPIN, IDC_KF_SHOW_TAB})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    for (int id : {IDOK, IDCANCEL, IDC_KF_APPLY})
        m_layout.Add(id, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    CaptureLayout(m_layout);

    LPCWSTR bitmap = MAKEINTRESOURCEW(IDB_CHECK_IMAGES);
    HMODULE module = FindResourceModule(bitmap, RT_BITMAP);
    m_stateImages.Attach(ImageList_LoadImageW(module, bitmap, kStateImageWidth, 0, kStateImageMask, IMAGE_BITMAP,
                                              LR_CREATEDIBSECTION));
    m_typeImages.Attach(ImageList_LoadImageW(module, bitmap, kStateImageWidth, 0, kStateImageMask, IMAGE_BITMAP,
                                             LR_CREATEDIBSECTION));
    SetUpFilterList();
    SetUpTypesList();

    // The size box stands where its label does; the label shows while the box is hidden.
    RECT label;
    GetWindowRect(Item(IDC_KF_SIZE_LABEL), &label);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&label), 2);
    SetWindowPos(Item(IDC_KF_SIZE_CHECK), nullptr, label.left, label.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendItem(IDC_KF_SIZE_SPIN, UDM_SETRANGE32, 0, 65535);
    m_host.ExchangeWindowPlacement(false, m_hWnd, kPlacementSlot);

    RefreshList();
    for (size_t i = 0; i < m_work.filters.size(); ++i)
        if (m_work.filters[i].id == m_work.selectedId)
            m_work.SelectOnly(static_cast<int>(i));
    PushSelection();
    RefreshProperties();
    EnableApply(false);
    m_observer = m_host.GetSettings().Observe(this, &OnSettingsObserver);
    return true;
}

void CKeyFiltersDialog::SetUpFilterList()
{
    HWND list = Item(IDC_KF_LIST);
    m_list.Attach(list);
    const DWORD exStyle =
        LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_SUBITEMIMAGES | LVS_EX_DOUBLEBUFFER;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, exStyle, exStyle);
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(m_stateImages.Get()));
    SendMessageW(list, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    m_list.SetSettings(&m_host.GetTableSettings());
    std::vector<ColumnDesc> columns = m_host.GetSettings().Columns(COLS_KEYFILTERS);
    if (columns.size() != std::size(kTitleIds))
        columns = GetDefaultColumns(COLS_KEYFILTERS);
    m_list.SetColumns(columns, std::vector<int>(std::begin(kTitleIds), std::end(kTitleIds)));
    m_list.SetSortColumn(m_work.sort, false);
    m_list.ApplyColumns();
    m_list.ApplyLook(TABLE_LOOK_NOSORT | TABLE_LOOK_ALTERNATE);
    m_list.SetData(&m_listData);
    m_list.tableEvents.sortRequest = [this](int key) { return SortBy(key); };
    m_list.tableEvents.columnsChanged = [this](int, int) { StoreColumns(); };
    m_list.events.keyDown = [this](WORD key, unsigned modifiers) { return OnFilterListKey(key, modifiers); };
    m_list.tableEvents.dragBegin = [this] {
        ReadSelection();
        return m_work.SelectedCount() > 0 && WriteProperties();
    };
    m_list.tableEvents.dropOnRows = true;
    m_list.tableEvents.drop = [this](int before) {
        ReadSelection();
        if (m_work.Drop(before)) {
            RefreshList();
            PushSelection();
            EnableApply();
        }
    };
    AnswerTableDefaults(m_list, COLS_KEYFILTERS);
}

void CKeyFiltersDialog::SetUpTypesList()
{
    HWND list = Item(IDC_KF_KEY_TYPES);
    m_types.Attach(list);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(m_typeImages.Get()));
    SendMessageW(list, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    m_types.SetData(&m_typesData);
    m_types.events.toggleCheck = [this](int row) { ChangeTypeBit(m_typesData.KeyTypeOfRow(row)); };
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = kTypesColumnWidth;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    m_typesData.SetEventCallback(this, &OnTypesEvent);
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(kKeyTypeCount), 0);
}

int CKeyFiltersDialog::OnTypesEvent(void* context, CVirtualListViewData*, int)
{
    HWND list = static_cast<CKeyFiltersDialog*>(context)->m_types.m_hWnd;
    if (list)
        InvalidateRect(list, nullptr, TRUE);
    return 1;
}

void CKeyFiltersDialog::OnSettingsObserver(void* key, CDocument*, const uint32_t* bits)
{
    static_cast<CKeyFiltersDialog*>(key)->OnSettingsChanged(bits);
}

void CKeyFiltersDialog::OnSettingsChanged(const uint32_t* bits)
{
    if (!(bits[0] & ASC_UI))
        return;
    const uint32_t ui = m_host.GetSettings().GetDetails().ui;
    if (ui & ASU_KEYFILTERS_COLUMNS) {
        std::vector<ColumnDesc> columns = m_host.GetSettings().Columns(COLS_KEYFILTERS);
        if (columns.size() == std::size(kTitleIds) && columns != m_list.GetColumns()) {
            m_list.SetColumns(columns, std::vector<int>(std::begin(kTitleIds), std::end(kTitleIds)));
            m_list.ApplyColumns();
        }
    }
    m_list.ApplyLook();
}

void CKeyFiltersDialog::StoreColumns()
{
    auto edit = m_host.GetSettings().EditColumns(COLS_KEYFILTERS);
    *edit = m_list.GetColumns();
}

void CKeyFiltersDialog::RefreshList()
{
    SendMessageW(m_list.m_hWnd, LVM_SETITEMCOUNT, m_work.filters.size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    InvalidateRect(m_list.m_hWnd, nullptr, TRUE);
    m_list.SetSortColumn(m_work.sort, true);
    UpdateButtons();
}

// The working marks into the list's selection.
void CKeyFiltersDialog::PushSelection()
{
    UpdatingScope updating(m_hWnd);
    LVITEMW clear{};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(m_list.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    int focus = -1;
    for (size_t i = 0; i < m_work.filters.size(); ++i) {
        if (!m_work.IsSelected(i))
            continue;
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED;
        item.state = LVIS_SELECTED;
        if (focus < 0) {
            focus = static_cast<int>(i);
            item.stateMask |= LVIS_FOCUSED;
            item.state |= LVIS_FOCUSED;
        }
        SendMessageW(m_list.m_hWnd, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&item));
    }
    if (focus >= 0)
        SendMessageW(m_list.m_hWnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(focus), FALSE);
    m_pending = true;
}

void CKeyFiltersDialog::ReadSelection()
{
    for (KeyFilter& filter : m_work.filters)
        filter.flags &= ~KEYFILTER_SELECTED;
    for (int row = -1; (row = static_cast<int>(SendMessageW(m_list.m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                                             LVNI_SELECTED))) != -1;)
        if (row < static_cast<int>(m_work.filters.size()))
            m_work.filters[static_cast<size_t>(row)].flags |= KEYFILTER_SELECTED;
}

void CKeyFiltersDialog::RefreshProperties()
{
    ReadSelection();
    m_selected = 0;
    m_agreed = 0;
    m_keyTypes = 0;
    m_determinate = 0xFFFFFFFF;
    m_keySize = 0;
    m_visible = true;
    std::wstring name;
    for (const KeyFilter& filter : m_work.filters) {
        if (!(filter.flags & KEYFILTER_SELECTED))
            continue;
        const bool visible = (filter.flags & KEYFILTER_VISIBLE) != 0;
        if (m_selected++ == 0) {
            m_agreed = PROP_NAME | PROP_TYPES | PROP_SIZE | PROP_VISIBLE;
            name = filter.name;
            m_keyTypes = filter.keyTypes;
            m_keySize = filter.keySize;
            m_visible = visible;
            continue;
        }
        if (filter.name != name)
            m_agreed &= ~PROP_NAME;
        m_determinate &= ~(filter.keyTypes ^ m_keyTypes);
        if (filter.keySize != m_keySize)
            m_agreed &= ~PROP_SIZE;
        if (visible != m_visible)
            m_agreed &= ~PROP_VISIBLE;
    }
    if (m_selected == 0)
        m_keyTypes = 0;
    m_keyTypes &= m_determinate;
    m_agreedAtRefresh = m_determinate;
    m_applied = m_agreed;
    m_referenceSize = m_keySize;

    UpdatingScope updating(m_hWnd);
    SetItemText(IDC_KF_NAME, m_selected == 1 ? name.c_str() : m_selected > 1 ? L"*" : L"");
    for (int id : {IDC_KF_NAME, IDC_KF_NAME_LABEL})
        EnableItem(id, m_selected == 1);
    EnableWindow(m_types.m_hWnd, m_selected > 0);
    const bool sizesDiffer = m_selected > 1 && !(m_agreed & PROP_SIZE);
    CheckItem(IDC_KF_SIZE_CHECK, false);
    ShowWindow(Item(IDC_KF_SIZE_CHECK), sizesDiffer ? SW_SHOWNA : SW_HIDE);
    ShowWindow(Item(IDC_KF_SIZE_LABEL), sizesDiffer ? SW_HIDE : SW_SHOWNA);
    SetItemText(IDC_KF_SIZE, sizesDiffer ? L"" : std::to_wstring(m_keySize).c_str());
    const bool sizeOn = m_selected > 0 && (m_applied & PROP_SIZE);
    for (int id : {IDC_KF_SIZE, IDC_KF_SIZE_SPIN, IDC_KF_SHOW_TAB})
        EnableItem(id, sizeOn);
    HWND showTab = Item(IDC_KF_SHOW_TAB);
    const bool mixed = m_selected > 1 && !(m_agreed & PROP_VISIBLE);
    SendMessageW(showTab, BM_SETSTYLE, mixed ? BS_AUTO3STATE : BS_AUTOCHECKBOX, TRUE);
    SendMessageW(showTab, BM_SETCHECK, mixed ? BST_INDETERMINATE : m_visible ? BST_CHECKED : BST_UNCHECKED, 0);
    m_edited = false;
    ShowTypes();
    UpdateButtons();
}

void CKeyFiltersDialog::ComputeTaken()
{
    m_taken = 0;
    if (m_selected == 0 || !(m_applied & (PROP_TYPES | PROP_SIZE)))
        return;
    for (const KeyFilter& filter : m_work.filters)
        if (!(filter.flags & KEYFILTER_SELECTED) && (filter.keySize == 0 || filter.keySize == m_referenceSize))
            m_taken |= filter.keyTypes;
}

void CKeyFiltersDialog::ShowTypes()
{
    m_typesData.checkedMask = m_keyTypes;
    m_typesData.allowedMask = m_determinate;
    ComputeTaken();
    m_typesData.FillCache();
    m_typesData.FireEvent();
}

void CKeyFiltersDialog::EnableApply(bool on)
{
    m_applyEnabled = on;
    EnableItem(IDC_KF_APPLY, on);
}

void CKeyFiltersDialog::UpdateButtons()
{
    const bool any = m_work.SelectedCount() > 0;
    EnableItem(IDC_KF_MOVE_UP, m_work.CanMoveUp());
    EnableItem(IDC_KF_MOVE_DOWN, m_work.CanMoveDown());
    EnableItem(ID_ITEM_DELETE, any);
}

bool CKeyFiltersDialog::WriteProperties()
{
    // The marks are the selection of the last refresh: the one the edits were made for.
    if (!m_edited)
        return true;
    bool changed = false;
    if ((m_applied & PROP_NAME) && m_selected == 1) {
        std::wstring name;
        GetItemText(IDC_KF_NAME, name);
        HWND edit = Item(IDC_KF_NAME);
        if (name.empty()) {
            m_host.ShowMessageBox(LoadText(IDS_FIELD_REQUIRED), MB_ICONERROR, nullptr);
            SetFocus(edit);
            return false;
        }
        KeyFilter* target = nullptr;
        for (KeyFilter& filter : m_work.filters) {
            if (filter.flags & KEYFILTER_SELECTED)
                target = &filter;
            else if (filter.name == name) {
                std::wstring text;
                FormatResString(text, IDS_KF_NAME_EXISTS, name.c_str());
                m_host.ShowMessageBox(text, MB_ICONERROR, nullptr);
                SetFocus(edit);
                return false;
            }
        }
        if (target && target->name != name) {
            target->name = name;
            m_work.ClearSortBy(KFSORT_NAME);
            changed = true;
        }
    }
    if (m_applied & PROP_SIZE) {
        std::wstring text;
        GetItemText(IDC_KF_SIZE, text);
        const int32_t size = static_cast<int32_t>(std::min<unsigned long>(wcstoul(text.c_str(), nullptr, 10), 65535));
        bool sizeChanged = false;
        for (KeyFilter& filter : m_work.filters)
            if ((filter.flags & KEYFILTER_SELECTED) && filter.keySize != size) {
                filter.keySize = size;
                sizeChanged = true;
            }
        if (sizeChanged) {
            m_work.ClearSortBy(KFSORT_KEY_SIZE);
            changed = true;
        }
    }
    m_edited = false;
    if (changed) {
        EnableApply();
        RefreshList();
    }
    return true;
}

void CKeyFiltersDialog::WriteKeyTypes()
{
    if (!(m_applied & PROP_TYPES))
        return;
    bool changed = false;
    for (KeyFilter& filter : m_work.filters) {
        if (!(filter.flags & KEYFILTER_SELECTED))
            continue;
        const uint32_t types = (filter.keyTypes & ~m_determinate) | (m_keyTypes & m_determinate);
        if (types != filter.keyTypes) {
            filter.keyTypes = types;
            changed = true;
        }
    }
    if (changed) {
        m_work.ClearSortBy(KFSORT_KEY_TYPES);
        EnableApply();
        RefreshList();
    }
}

void CKeyFiltersDialog::ChangeTypeBit(int type)
{
    if (type < 0 || type >= kKeyTypeCount || m_selected == 0)
        return;
    const uint32_t bit = 1u << type;
    if (m_agreedAtRefresh & bit) {
        m_keyTypes ^= bit;
    } else if (!(m_determinate & bit)) {  // mixed -> unchecked
        m_determinate |= bit;
        m_keyTypes &= ~bit;
    } else if (!(m_keyTypes & bit)) {     // unchecked -> checked
        m_keyTypes |= bit;
    } else {                              // checked -> mixed
        m_determinate &= ~bit;
        m_keyTypes &= ~bit;
    }
    m_edited = true;
    WriteKeyTypes();
    ShowTypes();
}

void CKeyFiltersDialog::ToggleVisible()
{
    ReadSelection();
    bool any = false;
    for (KeyFilter& filter : m_work.filters)
        if (filter.flags & KEYFILTER_SELECTED) {
            filter.flags ^= KEYFILTER_VISIBLE;
            any = true;
        }
    if (!any)
        return;
    m_work.ClearSortBy(KFSORT_VISIBLE);
    EnableApply();
    RefreshList();
    m_pending = true;
}

void CKeyFiltersDialog::DoAdd()
{
    if (!WriteProperties())
        return;
    if (m_work.Add(LoadText(IDS_DEFAULT_FILTER_NAME)) < 0)
        return;
    RefreshList();
    PushSelection();
    RefreshProperties();
    EnableApply();
}

void CKeyFiltersDialog::DoDuplicate()
{
    if (!WriteProperties())
        return;
    ReadSelection();
    if (m_work.SelectedCount() == 0)
        return;
    const bool complete = m_work.Duplicate();
    RefreshList();
    PushSelection();
    EnableApply();
    if (!complete)
        m_host.ShowMessageBox(LoadText(IDS_KF_LIMIT), MB_ICONERROR, nullptr);
}

void CKeyFiltersDialog::DoDelete(bool ask)
{
    ReadSelection();
    const int count = m_work.SelectedCount();
    if (count == 0)
        return;
    CAppSettings& settings = m_host.GetSettings();
    if (ask && (settings.GetConfirmFlags() & CONFIRM_DELETE)) {
        std::wstring text;
        if (count == 1) {
            for (const KeyFilter& filter : m_work.filters)
                if (filter.flags & KEYFILTER_SELECTED)
                    FormatResString(text, IDS_REMOVE_FILE_QUESTION, filter.name.c_str());
        } else {
            FormatResString(text, IDS_REMOVE_ITEMS_QUESTION, count);
        }
        bool dontAsk = false;
        const int answer = m_host.ShowMessageBox(text, MB_OKCANCEL | MB_ICONQUESTION, &dontAsk);
        if (dontAsk)
            settings.SetConfirmFlags(settings.GetConfirmFlags() & ~CONFIRM_DELETE);
        if (answer != IDOK)
            return;
    }
    m_work.Delete();
    RefreshList();
    PushSelection();
    EnableApply();
}

void CKeyFiltersDialog::DoReset()
{
    std::vector<uint32_t> ids;
    for (const KeyFilter& filter : Doc().GetKeyFilters())
        ids.push_back(filter.id);
    if (!m_work.ResetToPresets(ids))
        return;
    m_edited = false;
    RefreshList();
    PushSelection();
    EnableApply();
}

void CKeyFiltersDialog::DoMove(bool up)
{
    if (!WriteProperties())
        return;
    ReadSelection();
    if (up ? !m_work.CanMoveUp() : !m_work.CanMoveDown())
        return;
    up ? m_work.MoveUp() : m_work.MoveDown();
    RefreshList();
    PushSelection();
    EnableApply();
}

void CKeyFiltersDialog::DoShowTab()
{
    const LRESULT state = SendItem(IDC_KF_SHOW_TAB, BM_GETCHECK, 0, 0);
    if (state == BST_INDETERMINATE)
        return;
    ReadSelection();
    const bool visible = state == BST_CHECKED;
    bool changed = false;
    for (KeyFilter& filter : m_work.filters)
        if ((filter.flags & KEYFILTER_SELECTED) && ((filter.flags & KEYFILTER_VISIBLE) != 0) != visible) {
            filter.flags ^= KEYFILTER_VISIBLE;
            changed = true;
        }
    SendItem(IDC_KF_SHOW_TAB, BM_SETSTYLE, BS_AUTOCHECKBOX, TRUE);
    if (changed) {
        m_work.ClearSortBy(KFSORT_VISIBLE);
        EnableApply();
        RefreshList();
    }
}

bool CKeyFiltersDialog::Apply()
{
    if (!WriteProperties())
        return false;
    ApplyKeyFilters(Doc(), m_work, this);
    EnableApply(false);
    return true;
}

bool CKeyFiltersDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_KF_APPLY:
        Apply();
        return true;
    case ID_ITEM_ADD:
        DoAdd();
        return true;
    case ID_ITEM_DUPLICATE:
        DoDuplicate();
        return true;
    case ID_ITEM_DELETE:
        DoDelete(!KeyDown(VK_SHIFT));
        return true;
    case ID_KEY_FILTERS_RESET:
        DoReset();
        return true;
    case ID_LIST_SELECT_ALL:
        for (KeyFilter& filter : m_work.filters)
            filter.flags |= KEYFILTER_SELECTED;
        PushSelection();
        return true;
    case IDC_KF_MOVE_UP:
    case IDC_KF_MOVE_DOWN:
        DoMove(id == IDC_KF_MOVE_UP);
        return true;
    case IDC_KF_SHOW_TAB:
        DoShowTab();
        return true;
    case IDC_KF_NAME:
        if (code == EN_CHANGE) {
            m_edited = true;
            EnableApply();
        }
        return true;
    case IDC_KF_SIZE:
        if (code == EN_CHANGE && (m_applied & PROP_SIZE)) {
            std::wstring text;
            GetItemText(IDC_KF_SIZE, text);
            m_referenceSize = static_cast<int32_t>(wcstoul(text.c_str(), nullptr, 10));
            ComputeTaken();
            InvalidateRect(m_types.m_hWnd, nullptr, TRUE);
            m_edited = true;
            EnableApply();
        }
        return true;
    case IDC_KF_SIZE_CHECK: {
        const bool ticked = IsItemChecked(IDC_KF_SIZE_CHECK);
        m_applied = ticked || (m_agreed & PROP_SIZE) ? m_applied | PROP_SIZE : m_applied & ~PROP_SIZE;
        for (int item : {IDC_KF_SIZE, IDC_KF_SIZE_SPIN, IDC_KF_SHOW_TAB})
            EnableItem(item, m_selected > 0 && (m_applied & PROP_SIZE));
        if (ticked)
            m_edited = true;
        EnableApply();
        return true;
    }
    case ID_CHECK_ALL:
    case ID_UNCHECK_ALL:
        if (m_selected == 0)
            return true;
        m_keyTypes = id == ID_CHECK_ALL ? kAllKeyTypes : 0;
        m_determinate = 0xFFFFFFFF;
        WriteKeyTypes();
        ShowTypes();
        return true;
    default:
        return CModalDialog::OnCommand(id, code, control);
    }
}

bool CKeyFiltersDialog::OnContextMenu(HWND window, POINT at)
{
    // Taken whatever the window, so that it goes no further.
    const bool filters = window == m_list.m_hWnd;
    if (!filters && window != m_types.m_hWnd)
        return true;
    if (!filters) {
        TrackMenu(IDM_KEY_TYPES, at);
        return true;
    }
    TrackMenu(IDM_KEY_FILTERS, at, [this](HMENU popup) {
        ReadSelection();
        const UINT grey = m_work.SelectedCount() == 0 ? MF_GRAYED : MF_ENABLED;
        EnableMenuItem(popup, ID_ITEM_DELETE, MF_BYCOMMAND | grey);
        EnableMenuItem(popup, ID_ITEM_DUPLICATE, MF_BYCOMMAND | grey);
        const DWORD hotkeys[] = {(static_cast<DWORD>(ID_ITEM_DELETE) << 16) | VK_DELETE,
                                 (static_cast<DWORD>(ID_ITEM_DUPLICATE) << 16) | kHotkeyCtrl | 'D'};
        SetMenuHotkeyTexts(popup, hotkeys, static_cast<int>(std::size(hotkeys)));
    });
    return true;
}

bool CKeyFiltersDialog::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->hwndFrom == m_list.m_hWnd && m_list.m_hWnd && OnFilterListNotify(nmh))
        return true;
    if (nmh->hwndFrom == m_types.m_hWnd && m_types.m_hWnd && OnTypesListNotify(nmh, result))
        return true;
    return CModalDialog::OnNotify(id, nmh, result);
}

bool CKeyFiltersDialog::SortBy(int key)
{
    if (!WriteProperties())
        return false;
    ReadSelection();
    m_work.Sort(key);
    RefreshList();
    PushSelection();
    EnableApply();
    return true;
}

bool CKeyFiltersDialog::OnFilterListKey(WORD key, unsigned modifiers)
{
    const bool ctrl = modifiers & LIST_KEY_CTRL, shift = modifiers & LIST_KEY_SHIFT, alt = modifiers & LIST_KEY_ALT;
    if (key == VK_SPACE)
        ToggleVisible();
    else if (key == VK_DELETE && !ctrl && !alt)
        DoDelete(!shift);
    else if (key == 'D' && ctrl && !shift && !alt)
        DoDuplicate();
    else if (key != VK_INSERT || modifiers)
        return false;
    // a plain Insert is swallowed
    return true;
}

bool CKeyFiltersDialog::OnFilterListNotify(NMHDR* nmh)
{
    switch (nmh->code) {
    case LVN_ITEMCHANGED:
    case LVN_ODSTATECHANGED:
        // A click on another row must not lose what was typed for the old selection.
        if (!m_pending && m_edited)
            WriteProperties();
        m_pending = true;
        UpdateButtons();
        return false;
    case NM_CLICK: {
        const int row = m_list.StateIconRow(*reinterpret_cast<NMITEMACTIVATE*>(nmh));
        if (row < 0 || row >= static_cast<int>(m_work.filters.size()))
            return false;
        KeyFilter& filter = m_work.filters[static_cast<size_t>(row)];
        filter.flags ^= KEYFILTER_VISIBLE;
        m_work.ClearSortBy(KFSORT_VISIBLE);
        EnableApply();
        SendMessageW(m_list.m_hWnd, LVM_REDRAWITEMS, static_cast<WPARAM>(row), row);
        m_pending = true;
        return true;
    }
    default:
        return false;
    }
}

bool CKeyFiltersDialog::OnTypesListNotify(NMHDR* nmh, LRESULT* result)
{
    switch (nmh->code) {
    case NM_CUSTOMDRAW: {
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(nmh);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
            *result = CDRF_NOTIFYITEMDRAW;
            return true;
        }
        if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            const int type = m_typesData.KeyTypeOfRow(static_cast<int>(draw->nmcd.dwItemSpec));
            const uint32_t bit = type < 0 ? 0 : 1u << type;
            if (bit & m_taken)
                draw->clrText = (m_keyTypes & m_determinate & bit) ? kTakenChecked : kTakenOther;
            *result = CDRF_DODEFAULT;
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

int RunKeyFiltersDialog(HWND owner, IPageHost& host)
{
    CKeyFiltersDialog dialog(host);
    return dialog.RunModal(owner);
}
