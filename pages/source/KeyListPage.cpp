#include "pages/source/KeyListPage.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <algorithm>

#include "config/AppSettings.h"
#include "core/TextUtil.h"
#include "framework/PrivateMessages.h"
#include "pages/PageHost.h"
#include "pages/KeyDialog.h"
#include "pages/source/KeyListIo.h"
#include "pages/PageTable.h"
#include "resources/resource.h"

namespace {

// Column titles by column id.
const std::vector<int> kColumnTitles = {IDS_KEYLIST_COL_INDEX, IDS_KEYLIST_COL_TYPE,   IDS_KEYLIST_COL_NUMBER,
                                        IDS_KEYLIST_COL_SIZE,  IDS_KEYLIST_COL_FORMAT, IDS_KEYLIST_COL_TEXT};
constexpr UINT kQuestionStyle = 0x21;
constexpr UINT kInformationStyle = 0x40;
constexpr int kDefaultInterval = 1000;

bool IsProgIdRegistered(const wchar_t* progId)
{
    CLSID clsid;
    return SUCCEEDED(CLSIDFromProgID(progId, &clsid));
}

bool AnyVisible(const std::vector<ColumnDesc>& columns, int from, int to)
{
    for (int c = from; c <= to && c < static_cast<int>(columns.size()); ++c)
        if (columns[static_cast<size_t>(c)].IsVisible())
            return true;
    return false;
}

bool IsColumnVisible(const std::vector<ColumnDesc>& columns, int column)
{
    return AnyVisible(columns, column, column);
}

} // namespace

std::unique_ptr<CBasePage> CreateKeyListPage(IPageHost& host)
{
    return std::make_unique<CKeyListPage>(host);
}

CKeyListPage::CKeyListPage(IPageHost& host)
    : CBasePage(IDD_KEYLIST_PAGE, &host), m_data(host.GetTransferDoc(), host.GetKeyTypeNames())
{
    m_rowList = &m_list;
}

CKeyListPage::~CKeyListPage() = default;

// ---- Creation ----

void CKeyListPage::OnSize(UINT, int width, int height)
{
    if (m_layout.parent)
        ApplyLayout(m_layout, width, height);
}

bool CKeyListPage::CountRows(int& selected, int& total)
{
    selected = static_cast<int>(SelectedRows().size());
    total = m_data.GetItemCount();
    return true;
}

bool CKeyListPage::OnInitDialog()
{
    HWND spin = Item(IDC_KEYLIST_INTERVAL_SPIN);
    SendMessageW(spin, UDM_SETRANGE32, 0, 2147483647);
    UDACCEL accel{0, 10};
    SendMessageW(spin, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));

    CreateToolbar();

    HWND list = Item(IDC_KEYLIST_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_LABELTIP,
                 LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_LABELTIP);
    m_list.SetSettings(&m_host->GetTableSettings());
    m_list.Attach(list);
    m_list.SetHeaderTips(m_host->GetTableSettings().GetMainToolTip(), false);
    m_data.columns = &m_list.GetColumns();
    m_data.visibleMap = &m_list.GetVisibleMap();
    m_data.SetEventCallback(this, &CKeyListPage::OnDataEvent);
    m_list.SetData(&m_data);
    m_list.events.selectionChanged = [this](int from, int to, bool selected) { OnSelectionChanged(from, to, selected); };
    m_list.events.activate = [this](int row, POINT at) { OnActivate(row, at); };
    m_list.tableEvents.drawItem = [this](NMLVCUSTOMDRAW* draw, LRESULT*) { DrawTransferredRow(draw); };
    m_list.tableEvents.sortRequest = [this](int key) {
        SortBy(key);
        return true;
    };
    m_list.events.keyDown = [this](WORD key, unsigned modifiers) { return OnListKey(key, modifiers); };
    m_list.tableEvents.columnsChanged = [this](int what, int) { OnColumnsChanged(what); };
    m_list.tableEvents.dragBegin = [this] { return !SelectedRows().empty(); };
    m_list.tableEvents.drop = [this](int before) { DropSelectedRowsAt(before); };
    AnswerTableDefaults(m_list, COLS_KEYLIST);

    m_layout = {};
    m_layout.parent = m_hWnd;
    m_layout.Add(IDC_KEYLIST_TOOLBAR, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_layout.Add(IDC_KEYLIST_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {static_cast<int>(ID_NEXT_KEY), static_cast<int>(ID_KEYLIST_TIMER), IDC_KEYLIST_INTERVAL,
                   IDC_KEYLIST_INTERVAL_SPIN, IDC_KEYLIST_INTERVAL_UNIT})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    CaptureLayout(m_layout);

    ExchangeData(false);
    m_list.UpdateHeaderTips();
    Observe(m_host->GetSettings());
    Observe(m_host->GetTransferDoc());
    return true;
}

void CKeyListPage::OnDestroy()
{
    m_list.RemoveHeaderTips();
    m_list.Destroy();
    if (m_toolbar) {
        DestroyWindow(m_toolbar);
        m_toolbar = nullptr;
    }
}

void CKeyListPage::CreateToolbar()
{
    m_toolbar = Item(IDC_KEYLIST_TOOLBAR);
    if (!m_toolbar)
        return;
    SendMessageW(m_toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(m_toolbar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS | TBSTYLE_EX_MIXEDBUTTONS);
    if (HIMAGELIST images = m_host->GetImageList(HostImages::Large))
        SendMessageW(m_toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    struct Button
    {
        int image;
        int command;
        BYTE style;
    };
    static const Button kButtons[] = {
        {0, ID_KEY_ADD, BTNS_BUTTON | BTNS_SHOWTEXT},
        {1, ID_KEY_CHANGE, BTNS_BUTTON | BTNS_SHOWTEXT},
        {2, ID_KEY_DELETE, BTNS_BUTTON | BTNS_SHOWTEXT},
        {0, 0, BTNS_SEP},
        {3, ID_KEYLIST_IMPORT, BTNS_DROPDOWN | BTNS_SHOWTEXT},
        {4, ID_KEYLIST_EXPORT, BTNS_DROPDOWN | BTNS_SHOWTEXT},
        {0, 0, BTNS_SEP},
        {7, ID_KEYLIST_FILTER_ON, BTNS_CHECK | BTNS_DROPDOWN | BTNS_SHOWTEXT},
    };
    // The button texts are the short names of the commands.
    static std::wstring texts[std::size(kButtons)];
    TBBUTTON buttons[std::size(kButtons)] = {};
    for (size_t i = 0; i < std::size(kButtons); ++i) {
        buttons[i].iBitmap = kButtons[i].command ? kButtons[i].image : 0;
        buttons[i].idCommand = kButtons[i].command;
        buttons[i].fsState = TBSTATE_ENABLED;
        buttons[i].fsStyle = kButtons[i].style;
        if (kButtons[i].command) {
            LoadResString(static_cast<UINT>(kButtons[i].command), texts[i]);
            texts[i] = texts[i].substr(0, texts[i].find(L'\n'));
            texts[i].erase(std::remove(texts[i].begin(), texts[i].end(), L'&'), texts[i].end());
            buttons[i].iString = reinterpret_cast<INT_PTR>(texts[i].c_str());
        }
    }
    SendMessageW(m_toolbar, TB_ADDBUTTONSW, std::size(buttons), reinterpret_cast<LPARAM>(buttons));
    FitToolbar(m_toolbar, 1 | 2 | 4);
    ShowWindow(m_toolbar, SW_SHOW);
}

void CKeyListPage::LoadColumns()
{
    m_columns = m_host->GetSettings().Columns(COLS_KEYLIST);
    if (m_columns.size() != kColumnTitles.size())
        m_columns = GetDefaultColumns(COLS_KEYLIST);
    m_list.SetColumns(m_columns, kColumnTitles);
    m_list.ApplyColumns();
    m_columnsChanged = false;
}

// ---- Data exchange and refresh ----

void CKeyListPage::ExchangeData(bool save)
{
    CAppSettings& settings = m_host->GetSettings();
    CTransferDoc& doc = m_host->GetTransferDoc();
    if (!save) {
        UpdatingScope updating(m_hWnd);
        CheckItem(ID_KEYLIST_TIMER, doc.keyListTimerEnabled);
        SetDlgItemInt(m_hWnd, IDC_KEYLIST_INTERVAL, static_cast<UINT>(doc.keyListTimerInterval), FALSE);
        LoadColumns();
        m_data.filter = settings.GetKeyListFilter();
        m_data.viewForm = settings.GetKeyViewFormat();
        m_list.ApplyLook();
        QueueData(KLD_ROWS | (AnyVisible(m_list.GetColumns(), 2, 5) ? KLD_CACHE : 0));
        UpdateToolbar();
        return;
    }
    if (m_columnsChanged) {
        m_columnsChanged = false;
        CDocUpdateScope scope(settings, ObserverKey());
        auto edit = settings.EditColumns(COLS_KEYLIST);
        std::vector<ColumnDesc>& stored = *edit;
        stored = m_list.GetColumns();
        for (ColumnDesc& c : stored)
            c.titleId = 0;
    }
    StoreInterval();
}

void CKeyListPage::StoreInterval()
{
    BOOL valid = FALSE;
    const UINT value = GetDlgItemInt(m_hWnd, IDC_KEYLIST_INTERVAL, &valid, FALSE);
    if (!valid || value > 2147483647u)
        return;
    CTransferDoc& doc = m_host->GetTransferDoc();
    CDocUpdateScope scope(doc, ObserverKey());
    doc.SetKeyListTimerInterval(static_cast<int32_t>(value));
}

void CKeyListPage::QueueData(uint32_t work)
{
    m_data.Queue(work);
    if (m_hWnd)
        m_data.Update();
}

int CKeyListPage::OnDataEvent(void* context, CVirtualListViewData*, int)
{
    static_cast<CKeyListPage*>(context)->Refresh();
    return 0;
}

void CKeyListPage::Refresh()
{
    if (!m_list.m_hWnd)
        return;
    m_inRefresh = true;
    HWND list = m_list.m_hWnd;
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(m_data.GetItemCount()),
                 LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    m_list.SetSortColumn(m_host->GetTransferDoc().keyListSort, true);

    LVITEMW clear{};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    const std::vector<KvKeyPtr>& keys = m_host->GetTransferDoc().GetKeys();
    const std::vector<size_t>& rows = m_data.RowMap();
    int revealRow = -1;
    for (size_t row = 0; row < rows.size(); ++row) {
        const KvKeyPtr& entry = keys[rows[row]];
        if (entry == m_reveal)
            revealRow = static_cast<int>(row);
        if (entry->flags & KVKEY_SELECTED) {
            LVITEMW select{};
            select.stateMask = select.state = LVIS_SELECTED;
            SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&select));
        }
    }
    m_reveal.reset();
    if (revealRow >= 0) {
        m_list.SelectOnly(revealRow, true);
        m_focused = m_data.EntryAt(revealRow);
    } else {
        const int focusRow = m_focused ? m_data.RowOf(m_focused.get()) : -1;
        if (focusRow >= 0) {
            LVITEMW focus{};
            focus.stateMask = focus.state = LVIS_FOCUSED;
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(focusRow), reinterpret_cast<LPARAM>(&focus));
        } else {
            m_focused.reset();
        }
    }
    InvalidateRect(list, nullptr, FALSE);
    m_inRefresh = false;
    m_host->MarkDirty(HostUpdate::StatusBar);
}

std::vector<KvKeyPtr> CKeyListPage::ShownKeys() const
{
    std::vector<KvKeyPtr> shown;
    const std::vector<KvKeyPtr>& keys = m_host->GetTransferDoc().GetKeys();
    shown.reserve(m_data.RowMap().size());
    for (size_t index : m_data.RowMap())
        shown.push_back(keys[index]);
    return shown;
}

std::vector<int> CKeyListPage::SelectedRows() const
{
    std::vector<int> rows;
    if (m_list.m_hWnd)
        m_list.GetSelectedItems(rows);
    return rows;
}

std::vector<KvKeyPtr> CKeyListPage::SelectedKeys() const
{
    std::vector<KvKeyPtr> keys;
    for (int row : SelectedRows())
        if (KvKeyPtr entry = m_data.EntryAt(row))
            keys.push_back(entry);
    return keys;
}

// ---- Idle and document changes ----

void CKeyListPage::OnIdleUpdate()
{
    const uint32_t dirty = m_dirty;
    m_dirty = 0;
    if (dirty & KLP_REFRESH)
        QueueData(KLD_NOTIFY);
    if (dirty & KLP_TOOLBAR)
        UpdateToolbar();
}

void CKeyListPage::UpdateToolbar()
{
    if (!m_toolbar)
        return;
    const bool selected = !SelectedRows().empty();
    const CTransferDoc& doc = m_host->GetTransferDoc();
    SendMessageW(m_toolbar, TB_ENABLEBUTTON, ID_KEY_CHANGE, selected);
    SendMessageW(m_toolbar, TB_ENABLEBUTTON, ID_KEY_DELETE, selected);
    SendMessageW(m_toolbar, TB_CHECKBUTTON, ID_KEYLIST_FILTER_ON, (m_data.filter & KLF_ENABLED) != 0);
    EnableItem(ID_NEXT_KEY, doc.GetSourceState() == 1 && doc.GetDestinationState() == 1);
}

void CKeyListPage::OnDocumentChanged(CDocument* changed, const uint32_t* bits)
{
    CAppSettings& settings = m_host->GetSettings();
    CTransferDoc& doc = m_host->GetTransferDoc();
    const uint32_t change = bits[0];
    uint32_t work = 0;
    if (changed == &settings) {
        const uint32_t ui = (change & ASC_UI) ? settings.GetDetails().ui : 0;
        if (ui & ASU_KEYLIST_COLUMNS) {
            LoadColumns();
            work |= KLD_CACHE;
        }
        if (ui & ASU_KEYLIST_FILTER) {
            m_data.filter = settings.GetKeyListFilter();
            work |= KLD_ROWS;
            UpdateToolbar();
        }
        if ((ui & ASU_KEY_VIEW_FORMAT) && m_data.viewForm != settings.GetKeyViewFormat()) {
            m_data.viewForm = settings.GetKeyViewFormat();
            if (IsColumnVisible(m_list.GetColumns(), KLC_NUMBER))
                work |= KLD_CACHE;
            work |= KLD_NOTIFY;
        }
        m_list.ApplyLook(TableLookChanges(ui));
        if (change & ASC_KEYLIST_SELECTION)
            work |= KLD_NOTIFY;
    } else if (changed == &doc) {
        const TransferDetailWords& details = doc.GetDetails();
        if (change & TDC_KEYLIST) {
            if (details.keyList & (TDK_ADDED | TDK_REMOVED | TDK_BLOCK_REPLACED | 0x3))
                work |= KLD_ROWS;
            if ((details.keyList & TDK_TRANSFERRED) && (m_data.filter & KLF_ENABLED) &&
                !(m_data.filter & KLF_SHOW_TRANSFERRED))
                work |= KLD_ROWS;
            work |= KLD_CACHE;
        }
        if (change & TDC_KEYLIST_SORT)
            work |= KLD_NOTIFY;
        if (change & TDC_FORMATS) {
            // Names and texts of the entries come from the formats.
            for (const KvKeyPtr& key : doc.GetKeys())
                key->flags &= ~(KVKEY_FORMAT_NAME_CURRENT | KVKEY_OUTPUT_CURRENT);
            if (details.formats & TDF_FORMAT_LIST) {
                if (AnyVisible(m_list.GetColumns(), KLC_FORMAT, KLC_TEXT))
                    work |= KLD_CACHE;
                const int column = std::abs(doc.keyListSort) - 1;
                if (column == KLC_FORMAT || column == KLC_TEXT) {
                    CDocUpdateScope scope(doc, ObserverKey());
                    doc.SetKeyListSort(0);
                }
            }
            if (details.formats & TDF_KEY_FILTERS)
                work |= KLD_ROWS;
        }
        if (change & (TDC_KEYLIST_TIMER)) {
            UpdatingScope updating(m_hWnd);
            CheckItem(ID_KEYLIST_TIMER, doc.keyListTimerEnabled);
            SetDlgItemInt(m_hWnd, IDC_KEYLIST_INTERVAL, static_cast<UINT>(doc.keyListTimerInterval), FALSE);
        }
        if (change & (TDC_SOURCE | TDC_STATE))
            UpdateToolbar();
    }
    if (work)
        QueueData(work | KLD_NOTIFY);
}

// ---- Commands ----

bool CKeyListPage::OnCommand(int id, int code, HWND control)
{
    CAppSettings& settings = m_host->GetSettings();
    CTransferDoc& doc = m_host->GetTransferDoc();
    switch (id) {
    case ID_KEY_ADD:
        AddKey();
        return true;
    case ID_KEY_CHANGE:
        ChangeSelectedKeys();
        return true;
    case ID_KEY_DELETE:
        DeleteSelectedKeys((GetKeyState(VK_SHIFT) & 0x8000) != 0);
        return true;
    case ID_KEY_SELECT_ALL: {
        LVITEMW all{};
        all.stateMask = all.state = LVIS_SELECTED;
        SendMessageW(m_list.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all));
        return true;
    }
    case ID_KEYLIST_FILTER_ON:
        ToggleFilter(KLF_ENABLED);
        return true;
    case ID_KEYLIST_SHOW_TRANSFERRED:
        ToggleFilter(KLF_SHOW_TRANSFERRED);
        return true;
    case ID_KEYLIST_SHOW_NO_FORMAT:
        ToggleFilter(KLF_SHOW_NO_FORMAT);
        return true;
    case ID_KEYLIST_IMPORT:
        RunImport(0);
        return true;
    case ID_KEYLIST_IMPORT_CSV: RunImport(KEY_IMPORT_CSV); return true;
    case ID_KEYLIST_IMPORT_CARD_BASE: RunImport(KEY_IMPORT_CARD_BASE); return true;
    case ID_KEYLIST_IMPORT_CARD_DB: RunImport(KEY_IMPORT_CARD_DATABASE); return true;
    case ID_KEYLIST_IMPORT_LOG: RunImport(KEY_IMPORT_TRANSFER_LOG); return true;
    case ID_KEYLIST_IMPORT_EXCEL: RunImport(KEY_IMPORT_EXCEL); return true;
    case ID_KEYLIST_IMPORT_CALC: RunImport(KEY_IMPORT_CALC); return true;
    case ID_KEYLIST_EXPORT: RunExport(0); return true;
    case ID_KEYLIST_EXPORT_CSV: RunExport(KEY_EXPORT_CSV); return true;
    case ID_KEYLIST_EXPORT_CARD_BASE: RunExport(KEY_EXPORT_CARD_BASE); return true;
    case ID_KEYLIST_EXPORT_EXCEL:
        RunExport(settings.GetKeyListExport() == KEY_EXPORT_EXCEL97 ? KEY_EXPORT_EXCEL97 : KEY_EXPORT_EXCEL);
        return true;
    case ID_KEYLIST_EXPORT_EXCEL_OPEN: RunExport(KEY_EXPORT_EXCEL_OPEN); return true;
    case ID_KEYLIST_EXPORT_CALC: RunExport(KEY_EXPORT_CALC); return true;
    case ID_KEYLIST_EXPORT_CALC_OPEN: RunExport(KEY_EXPORT_CALC_OPEN); return true;
    case ID_NEXT_KEY:
        m_host->RunFrameCommand(ID_NEXT_KEY);
        return true;
    case ID_KEYLIST_TIMER: {
        CDocUpdateScope scope(doc, ObserverKey());
        doc.SetKeyListTimerEnabled(IsItemChecked(ID_KEYLIST_TIMER));
        return true;
    }
    case IDC_KEYLIST_INTERVAL:
        if (code == EN_KILLFOCUS)
            StoreInterval();
        return true;
    case ID_KEYLIST_NO_SAVE: {
        CDocUpdateScope scope(settings, ObserverKey());
        settings.SetHistoryFlags(settings.GetHistoryFlags() ^ HIST_KEYLIST);
        return true;
    }
    case ID_KEYLIST_NO_DUPLICATES:
        SetNoDuplicates();
        return true;
    case ID_KEY_CLEAR_TRANSFERRED:
        ClearTransferredFlags();
        return true;
    case ID_KEY_MAKE_LAST:
        MakeLastKey();
        return true;
    case ID_KEYLIST_REMOVE_DUPLICATES:
        RemoveDuplicates();
        return true;
    default:
        if (id >= ID_KEY_VIEW_AUTO && id <= ID_KEY_VIEW_LONG) {
            CDocUpdateScope scope(settings);
            settings.SetKeyViewFormat(id - ID_KEY_VIEW_AUTO);
            return true;
        }
        return CBasePage::OnCommand(id, code, control);
    }
}

bool CKeyListPage::AddKey()
{
    CKeyDialog dialog(*m_host);
    dialog.keyList = &m_host->GetTransferDoc().Keys();
    return dialog.RunModal(m_hWnd) == IDOK;
}

bool CKeyListPage::ChangeSelectedKeys()
{
    std::vector<KvKeyPtr> selected = SelectedKeys();
    if (selected.empty())
        return false;
    CKeyDialog dialog(*m_host);
    dialog.keyList = &m_host->GetTransferDoc().Keys();
    dialog.selection = std::move(selected);
    return dialog.RunModal(m_hWnd) == IDOK;
}

void CKeyListPage::DeleteSelectedKeys(bool withoutAsking)
{
    const std::vector<KvKeyPtr> selected = SelectedKeys();
    if (selected.empty())
        return;
    CAppSettings& settings = m_host->GetSettings();
    if (!withoutAsking && (settings.GetConfirmFlags() & CONFIRM_DELETE)) {
        std::wstring question;
        if (selected.size() == 1) {
            std::wstring number;
            const _KV_KEY& key = *selected.front();
            KeyToText(number, key.keyNumber, ResolveKeyViewFormat(KEY_VIEW_AUTO, key.keyType));
            FormatResString(question, IDS_REMOVE_FILE_QUESTION, number.c_str());
        } else {
            FormatResString(question, IDS_REMOVE_ITEMS_QUESTION, static_cast<int>(selected.size()));
        }
        bool dontAsk = false;
        const int answer = m_host->ShowMessageBox(question, kQuestionStyle, &dontAsk);
        if (dontAsk) {
            CDocUpdateScope scope(settings, ObserverKey());
            settings.SetConfirmFlags(settings.GetConfirmFlags() & ~CONFIRM_DELETE);
        }
        if (answer != IDOK)
            return;
    }
    for (const KvKeyPtr& key : selected)
        key->flags |= KVKEY_DELETE;
    CTransferDoc& doc = m_host->GetTransferDoc();
    CDocUpdateScope scope(doc);
    doc.DeleteMarkedKeys();
}

void CKeyListPage::SortBy(int sortKey)
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    CDocUpdateScope scope(doc);
    if (std::abs(sortKey) != 1) {
        SortKeyList(doc.Keys(), doc, sortKey, m_data.viewForm);
        doc.RaiseKeyListChange(TDK_BLOCK_REPLACED, true);
    }
    doc.SetKeyListSort(sortKey);
}

void CKeyListPage::DropSelectedRowsAt(int targetRow)
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty())
        return;
    const int count = m_data.GetItemCount();
    if (targetRow < 0 || targetRow > count)
        targetRow = count;
    if (rows.back() - rows.front() + 1 == static_cast<int>(rows.size()) && targetRow >= rows.front() &&
        targetRow <= rows.back() + 1)
        return;
    CTransferDoc& doc = m_host->GetTransferDoc();
    std::vector<size_t> chosen;
    for (int row : rows)
        chosen.push_back(m_data.RowMap()[static_cast<size_t>(row)]);
    const size_t target = targetRow < count ? m_data.RowMap()[static_cast<size_t>(targetRow)] : doc.GetKeys().size();
    CDocUpdateScope scope(doc);
    if (MoveKeysBefore(doc.Keys(), chosen, target))
        doc.RaiseKeyListChange(TDK_BLOCK_REPLACED, true);
}

void CKeyListPage::ToggleFilter(uint32_t bit)
{
    CAppSettings& settings = m_host->GetSettings();
    CDocUpdateScope scope(settings);
    settings.SetKeyListFilter(settings.GetKeyListFilter() ^ bit);
}

void CKeyListPage::RemoveDuplicates()
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    size_t removed;
    {
        CDocUpdateScope scope(doc);
        removed = doc.DeleteDuplicateKeys();
    }
    std::wstring text;
    if (removed == 0)
        LoadResString(IDS_NO_DUPLICATES, text);
    else
        FormatResString(text, IDS_KEYS_DELETED, static_cast<int>(removed));
    m_host->ShowMessageBox(text, kInformationStyle, nullptr);
}

void CKeyListPage::SetNoDuplicates()
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    CDocUpdateScope scope(doc);
    if (doc.keyListNoDuplicates & 1) {
        doc.SetKeyListNoDuplicates(doc.keyListNoDuplicates & ~1u);
        return;
    }
    doc.DeleteDuplicateKeys();
    doc.SetKeyListNoDuplicates(doc.keyListNoDuplicates | 1u);
}

void CKeyListPage::ClearTransferredFlags()
{
    bool any = false;
    for (const KvKeyPtr& key : SelectedKeys()) {
        any = any || (key->flags & KVKEY_TRANSFERRED);
        key->flags &= ~KVKEY_TRANSFERRED;
    }
    CTransferDoc& doc = m_host->GetTransferDoc();
    if (any) {
        CDocUpdateScope scope(doc);
        doc.RaiseKeyListChange(TDK_TRANSFERRED, false);
        if (doc.IsSavedPart(SAVED_KEYLIST))
            doc.SetUnsaved(true);
    }
    QueueData(KLD_ROWS);
}

void CKeyListPage::MakeLastKey()
{
    const std::vector<KvKeyPtr> selected = SelectedKeys();
    if (selected.empty())
        return;
    CAppSettings& settings = m_host->GetSettings();
    CTimeValue now;
    now.SetCurrentTime();
    CDocUpdateScope scope(settings);
    settings.SetLastTransferInfo(now, selected.front()->keyType, selected.front()->keyNumber, 0, nullptr, 0, nullptr,
                                 nullptr, nullptr, nullptr);
}

void CKeyListPage::RestoreDefaults()
{
    CAppSettings& settings = m_host->GetSettings();
    CTransferDoc& doc = m_host->GetTransferDoc();
    {
        CDocUpdateScope scope(settings);
        settings.SetKeyListFilter(KLF_SHOW_NO_FORMAT);
        settings.SetKeyListImport(1);
        settings.SetKeyListExport(1);
        auto edit = settings.EditColumns(COLS_KEYLIST);
        *edit = GetDefaultColumns(COLS_KEYLIST);
    }
    // Emptying the list loses the keys: it is asked first, as any deletion.
    bool empty = true;
    const size_t count = doc.GetKeys().size();
    if (count != 0 && (settings.GetConfirmFlags() & CONFIRM_DELETE)) {
        std::wstring question;
        FormatResString(question, IDS_REMOVE_ITEMS_QUESTION, static_cast<int>(count));
        bool dontAsk = false;
        empty = m_host->ShowMessageBox(question, kQuestionStyle, &dontAsk) == IDOK;
        if (dontAsk) {
            CDocUpdateScope scope(settings, ObserverKey());
            settings.SetConfirmFlags(settings.GetConfirmFlags() & ~CONFIRM_DELETE);
        }
    }
    CDocUpdateScope scope(doc);
    if (empty && count != 0) {
        for (const KvKeyPtr& key : doc.GetKeys())
            key->flags |= KVKEY_DELETE;
        doc.DeleteMarkedKeys();
        doc.RaiseKeyListChange(TDK_REMOVED, true);
    }
    doc.SetKeyListTimerEnabled(false);
    doc.SetKeyListTimerInterval(kDefaultInterval);
    doc.SetKeyListNoDuplicates(0);
}

void CKeyListPage::RunImport(int kind)
{
    const KeyListIoContext context{m_host->GetSettings(), m_host->GetTransferDoc(), m_host->GetKeyTypeNames()};
    CTableFileUi ui(m_hWnd);
    ImportKeys(context, ui, kind);
}

void CKeyListPage::RunExport(int kind)
{
    const KeyListIoContext context{m_host->GetSettings(), m_host->GetTransferDoc(), m_host->GetKeyTypeNames()};
    KeyListView view;
    view.entries = ShownKeys();
    const std::vector<ColumnDesc>& columns = m_list.GetColumns();
    for (int c = 0; c < static_cast<int>(columns.size()); ++c)
        if (columns[static_cast<size_t>(c)].IsVisible())
            view.columns.push_back(c);
    CTableFileUi ui(m_hWnd);
    ExportKeys(context, view, ui, kind);
}

// ---- Menus ----

void CKeyListPage::PrepareMenu(HMENU menu)
{
    const CAppSettings& settings = m_host->GetSettings();
    const CTransferDoc& doc = m_host->GetTransferDoc();
    const bool selected = !SelectedRows().empty();
    for (UINT id : {ID_KEY_CHANGE, ID_KEY_DELETE, ID_KEY_CLEAR_TRANSFERRED, ID_KEY_MAKE_LAST})
        EnableMenuItem(menu, id, MF_BYCOMMAND | (selected ? MF_ENABLED : MF_GRAYED));
    const uint32_t filter = m_data.filter;
    CheckMenuItem(menu, ID_KEYLIST_FILTER_ON, MF_BYCOMMAND | ((filter & KLF_ENABLED) ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, ID_KEYLIST_SHOW_TRANSFERRED,
                  MF_BYCOMMAND | ((filter & KLF_SHOW_TRANSFERRED) ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, ID_KEYLIST_SHOW_NO_FORMAT,
                  MF_BYCOMMAND | ((filter & KLF_SHOW_NO_FORMAT) ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, ID_KEYLIST_NO_SAVE,
                  MF_BYCOMMAND | (settings.IsHistory(HIST_KEYLIST) ? MF_UNCHECKED : MF_CHECKED));
    CheckMenuItem(menu, ID_KEYLIST_NO_DUPLICATES,
                  MF_BYCOMMAND | ((doc.keyListNoDuplicates & 1) ? MF_CHECKED : MF_UNCHECKED));
    const bool excel = IsProgIdRegistered(L"Excel.Application");
    const bool calc = IsProgIdRegistered(L"com.sun.star.ServiceManager");
    for (UINT id : {ID_KEYLIST_IMPORT_EXCEL, ID_KEYLIST_EXPORT_EXCEL, ID_KEYLIST_EXPORT_EXCEL_OPEN})
        EnableMenuItem(menu, id, MF_BYCOMMAND | (excel ? MF_ENABLED : MF_GRAYED));
    for (UINT id : {ID_KEYLIST_EXPORT_CALC, ID_KEYLIST_EXPORT_CALC_OPEN})
        EnableMenuItem(menu, id, MF_BYCOMMAND | (calc ? MF_ENABLED : MF_GRAYED));
    const int view = std::clamp(settings.GetKeyViewFormat(), 0, 5);
    CheckMenuRadioItem(menu, ID_KEY_VIEW_AUTO, ID_KEY_VIEW_LONG, ID_KEY_VIEW_AUTO + view, MF_BYCOMMAND);
    SetMenuDefaultItem(menu, ID_KEY_CHANGE, FALSE);
}

void CKeyListPage::OnListMenu(POINT at)
{
    TrackMenu(IDM_KEYLIST_CONTEXT, ContextMenuPoint(m_list.m_hWnd, at), [this](HMENU popup) { PrepareMenu(popup); },
              TPM_LEFTALIGN | TPM_RIGHTBUTTON);
}

void CKeyListPage::ShowDropDownMenu(int buttonId)
{
    const int menuId = buttonId == ID_KEYLIST_IMPORT   ? IDM_KEYLIST_IMPORT
                       : buttonId == ID_KEYLIST_EXPORT ? IDM_KEYLIST_EXPORT
                                                       : IDM_KEYLIST_FILTER;
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    PrepareMenu(popup);
    SetMenuDefaultItem(popup, static_cast<UINT>(-1), FALSE);
    RECT r{};
    SendMessageW(m_toolbar, TB_GETRECT, static_cast<WPARAM>(buttonId), reinterpret_cast<LPARAM>(&r));
    MapWindowPoints(m_toolbar, nullptr, reinterpret_cast<POINT*>(&r), 2);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.bottom, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
}

// ---- Notifications ----

bool CKeyListPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (m_toolbar && nmh->code == TTN_GETDISPINFOW &&
        nmh->hwndFrom == reinterpret_cast<HWND>(SendMessageW(m_toolbar, TB_GETTOOLTIPS, 0, 0))) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(nmh);
        wchar_t tip[256] = {};
        m_host->GetCommandTipText(static_cast<UINT>(nmh->idFrom), tip, 256);
        m_tip = tip;
        info->lpszText = m_tip.data();
        return true;
    }
    if (nmh->hwndFrom == m_toolbar) {
        if (nmh->code == TBN_DROPDOWN) {
            ShowDropDownMenu(reinterpret_cast<NMTOOLBARW*>(nmh)->iItem);
            *result = TBDDRET_DEFAULT;
            return true;
        }
        return CBasePage::OnNotify(id, nmh, result);
    }
    if (nmh->hwndFrom != m_list.m_hWnd)
        return CBasePage::OnNotify(id, nmh, result);

    switch (nmh->code) {
    case LVN_ITEMCHANGED: {
        // The focused row is kept here; the selection goes on to the list's own event.
        const auto* item = reinterpret_cast<NMLISTVIEW*>(nmh);
        if ((item->uChanged & LVIF_STATE) && ((item->uNewState ^ item->uOldState) & (LVIS_SELECTED | LVIS_FOCUSED)) &&
            item->iItem >= 0 && (item->uNewState & LVIS_FOCUSED) && !m_inRefresh)
            m_focused = m_data.EntryAt(item->iItem);
        return CBasePage::OnNotify(id, nmh, result);
    }
    case NM_RETURN:
        if (!SelectedRows().empty())
            ChangeSelectedKeys();
        return true;
    default:
        return CBasePage::OnNotify(id, nmh, result);
    }
}

void CKeyListPage::OnSelectionChanged(int from, int to, bool selected)
{
    if (m_inRefresh)
        return;
    const std::vector<KvKeyPtr>& keys = m_host->GetTransferDoc().GetKeys();
    if (from < 0) {
        for (const KvKeyPtr& key : keys)
            key->flags = selected ? (key->flags | KVKEY_SELECTED) : (key->flags & ~KVKEY_SELECTED);
        if (selected) {
            // Only the shown entries can be selected.
            for (const KvKeyPtr& key : keys)
                key->flags &= ~KVKEY_SELECTED;
            for (size_t index : m_data.RowMap())
                keys[index]->flags |= KVKEY_SELECTED;
        }
    } else {
        for (int row = from; row <= to; ++row)
            if (KvKeyPtr key = m_data.EntryAt(row))
                key->flags = selected ? (key->flags | KVKEY_SELECTED) : (key->flags & ~KVKEY_SELECTED);
    }
    CAppSettings& settings = m_host->GetSettings();
    CDocUpdateScope scope(settings, ObserverKey());
    settings.RaiseChange(ASC_KEYLIST_SELECTION, 0, false);
    m_dirty |= KLP_TOOLBAR;
    m_host->MarkDirty(HostUpdate::PageIdle);
    m_host->MarkDirty(HostUpdate::StatusBar);
}

bool CKeyListPage::OnListKey(WORD key, unsigned modifiers)
{
    if (key == VK_INSERT && !modifiers)
        AddKey();
    else if (key == VK_DELETE && !(modifiers & (LIST_KEY_CTRL | LIST_KEY_ALT)))
        DeleteSelectedKeys((modifiers & LIST_KEY_SHIFT) != 0);
    else
        return false;
    return true;
}

void CKeyListPage::OnActivate(int row, POINT at)
{
    if (row < 0)
        return;
    LVHITTESTINFO hit{};
    hit.pt = at;
    m_list.Send(LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (!(hit.flags & LVHT_ONITEMSTATEICON))
        ChangeSelectedKeys();
}

void CKeyListPage::DrawTransferredRow(NMLVCUSTOMDRAW* draw)
{
    if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT)
        return;
    const int row = static_cast<int>(draw->nmcd.dwItemSpec);
    if (m_list.Send(LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED)
        return;
    const KvKeyPtr entry = m_data.EntryAt(row);
    if (entry && (entry->flags & KVKEY_TRANSFERRED))
        draw->clrText = kTransferredKeyColor;
}

void CKeyListPage::OnColumnsChanged(int what)
{
    m_columnsChanged = true;
    CAppSettings& settings = m_host->GetSettings();
    if (!settings.IsUnsaved()) {
        CDocUpdateScope scope(settings, ObserverKey());
        settings.RaiseChange(0, 0, true);
    }
    if (what & TCC_VISIBILITY)
        QueueData(KLD_CACHE | KLD_NOTIFY);
}
