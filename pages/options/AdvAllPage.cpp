#include "pages/options/AdvAllPage.h"

#include <windowsx.h>
#include <shlobj.h>

#include <algorithm>

#include "config/ActionCatalogue.h"
#include "config/AppSettings.h"
#include "config/FormatEngine.h"
#include "config/KeyNumber.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "framework/Controls.h"
#include "framework/MessageBox.h"
#include "framework/SysFunctions.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/PageTable.h"
#include "resources/resource.h"

namespace {

constexpr int kColumnName = 0;
constexpr int kColumnValue = 1;
const std::vector<int> kColumnTitles = {IDS_PARAM_COL_NAME, IDS_PARAM_COL_VALUE};
constexpr int kPendingEditor = 2;
constexpr int kPendingRebuild = 4;
constexpr uint32_t kWatchedChanges = 0x3D408;
constexpr uint32_t kWatchedUi = 0x167F;
constexpr COLORREF kMask = RGB(255, 0, 255);

std::wstring ShortPart(UINT id)
{
    std::wstring text;
    LoadResString(id, text);
    const size_t lf = text.find(L'\n');
    return lf == std::wstring::npos ? text : text.substr(0, lf);
}

void ShowControl(HWND page, int id, bool show)
{
    ShowWindow(GetDlgItem(page, id), show ? SW_SHOWNA : SW_HIDE);
}

void AddComboItem(HWND combo, const std::wstring& text, LPARAM data, int image = -1)
{
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT | CBEIF_LPARAM | (image >= 0 ? CBEIF_IMAGE | CBEIF_SELECTEDIMAGE : 0);
    item.iItem = -1;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    item.lParam = data;
    item.iImage = item.iSelectedImage = image;
    SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

LPARAM ComboData(HWND combo, int index)
{
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_LPARAM;
    item.iItem = index;
    return SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) ? item.lParam : -1;
}

int ComboSelection(HWND combo)
{
    return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
}


bool HasNv2Extension(const std::wstring& path)
{
    return path.size() >= 4 && _wcsicmp(path.c_str() + path.size() - 4, L".nv2") == 0;
}

}  // namespace

// ---- rows ----

int CTParamsLvData::GetItemCount()
{
    return static_cast<int>(m_page.m_rows.size());
}

void CTParamsLvData::MakeRow(int row, TParamsDisplayItem& item)
{
    item = TParamsDisplayItem{};
    item.row = row;
    if (row < 0 || row >= GetItemCount() || !m_page.ValueColumnVisible())
        return;
    const ParamNode* node = m_page.m_rows[static_cast<size_t>(row)].node;
    if (node->IsGroup())
        return;
    ParamValue value;
    GetParamValue(*m_page.m_host, node->id, value);
    item.display = FormatParamValue(*m_page.m_host, node->id, value);
}

void CTParamsLvData::GetDispInfo(LVITEMW* item)
{
    if (item->iItem < 0 || item->iItem >= GetItemCount())
        return;
    const ParamRow& row = m_page.m_rows[static_cast<size_t>(item->iItem)];
    const std::vector<int>& map = m_page.m_list.GetVisibleMap();
    const int column = item->iSubItem >= 0 && item->iSubItem < static_cast<int>(map.size()) ? map[item->iSubItem] : -1;
    if (column == kColumnName) {
        if ((item->mask & LVIF_TEXT) && item->cchTextMax > 0)
            lstrcpynW(item->pszText, row.node->name.c_str(), item->cchTextMax);
        if (item->mask & LVIF_IMAGE)
            item->iImage = row.glyph;
        if (item->iSubItem == 0) {
            item->mask |= LVIF_INDENT;
            item->iIndent = row.depth;
        }
    } else if (column == kColumnValue) {
        const TParamsDisplayItem& cell = Cached(item->iItem);
        if ((item->mask & LVIF_TEXT) && item->cchTextMax > 0)
            lstrcpynW(item->pszText, cell.display.text.c_str(), item->cchTextMax);
        if (item->mask & LVIF_IMAGE) {
            int image = -1;
            if (!row.node->IsGroup() && cell.display.image >= 0)
                image = row.node->kind == PK_YESNO ? m_page.m_checkBase + (cell.display.image == 0 ? 1 : 0)
                                                   : m_page.m_flagBase + cell.display.image;
            item->iImage = image;
        }
    }
}

// ---- page ----

CAdvAllPage::CAdvAllPage(IPageHost& host) : CAdvPage(IDD_ADV_ALL, &host)
{
    m_rowList = &m_list;
}

bool CAdvAllPage::ValueColumnVisible() const
{
    const std::vector<ColumnDesc>& columns = m_list.GetColumns();
    return columns.size() > kColumnValue && columns[kColumnValue].IsVisible();
}

std::wstring CAdvAllPage::GroupHeading(const std::wstring& name)
{
    const int length = static_cast<int>(name.size());
    if (length >= 30)
        return name;
    const int d = (30 - length) / 2;
    if (d < 1)
        return name;
    const std::wstring hyphens(static_cast<size_t>(d), L'-');
    return hyphens + L" " + name + L" " + hyphens;
}

bool CAdvAllPage::OnInitDialog()
{
    CAppSettings& settings = m_host->GetSettings();
    m_actions = m_host->GetActionCatalogue();
    m_tree = LoadParamCatalogue();

    HWND list = Item(IDC_PARAM_LIST);
    m_list.Attach(list);
    const DWORD exStyle = LVS_EX_LABELTIP | LVS_EX_INFOTIP | LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP |
                          LVS_EX_SUBITEMIMAGES;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, exStyle, exStyle);
    HMODULE module = FindResourceModule(MAKEINTRESOURCEW(IDB_PARAM_TREE), RT_BITMAP);
    m_images.Attach(ImageList_LoadImageW(module, MAKEINTRESOURCEW(IDB_PARAM_TREE), 16, 8, kMask, IMAGE_BITMAP,
                                         LR_CREATEDIBSECTION));
    if (m_images.Get()) {
        for (UINT bitmapId : {IDB_CHECK_IMAGES, IDB_FLAGS}) {
            LPCWSTR name = MAKEINTRESOURCEW(bitmapId);
            HBITMAP bitmap = static_cast<HBITMAP>(
                LoadImageW(FindResourceModule(name, RT_BITMAP), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
            if (bitmapId == IDB_FLAGS)
                m_flagBase = ImageList_GetImageCount(m_images.Get());
            else
                m_checkBase = ImageList_GetImageCount(m_images.Get());
            if (bitmap) {
                ImageList_AddMasked(m_images.Get(), bitmap, kMask);
                DeleteObject(bitmap);
            }
        }
    }
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_images.Get()));
    ITableSettings& tableSettings = m_host->GetTableSettings();
    m_list.SetSettings(&tableSettings);
    m_list.SetHeaderTips(tableSettings.GetMainToolTip(), false);
    m_list.ApplyLook(TABLE_LOOK_ALTERNATE);
    LOGFONTW font{};
    if (GetObjectW(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof(font), &font)) {
        font.lfWeight = FW_BOLD;
        m_bold.Attach(CreateFontIndirectW(&font));
    }
    m_data = std::make_unique<CTParamsLvData>(*this);
    m_data->SetEventCallback(this, &CAdvAllPage::OnDataChanged);
    m_list.SetData(m_data.get());
    m_list.events.selectionChanged = [this](int, int, bool) { ScheduleEditorRefresh(); };
    m_list.events.activate = [this](int row, POINT) { OnActivate(row); };
    m_list.events.keyDown = [this](WORD key, unsigned) { return OnListKey(key); };
    m_list.tableEvents.drawItem = [this](NMLVCUSTOMDRAW* draw, LRESULT* result) { DrawValueBold(draw, result); };
    m_list.tableEvents.columnsChanged = [this](int, int) {
        StoreColumns();
        RefreshList(false);
    };
    AnswerTableDefaults(m_list, COLS_ADVANCED, false);

    HWND tools = Item(IDC_PARAM_TOOLS);
    HWND bar = Item(IDC_PARAM_BAR);
    for (HWND toolbar : {tools, bar})
        SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(tools, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_host->GetImageList(HostImages::Small)));
    SendMessageW(bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_host->GetImageList(HostImages::Large)));
    SetBarButtons(false);

    m_layout.parent = m_hWnd;
    m_layout.Add(IDC_PARAM_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_PARAM_YES, IDC_PARAM_NO, IDC_PARAM_NUMBER, IDC_PARAM_SPIN})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    for (int id : {IDC_PARAM_FOLDER, IDC_PARAM_CHOICE})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_BOTTOM | ANCHOR_RIGHT);
    for (int id : {IDC_PARAM_TOOLS, IDC_PARAM_BAR})
        m_layout.Add(id, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    CaptureLayout(m_layout);
    SendItem(IDC_PARAM_SPIN, UDM_SETRANGE32, static_cast<WPARAM>(-1), 2147483647);

    Observe(settings);
    Observe(m_host->GetTransferDoc());
    ExchangeData(false);
    return true;
}

void CAdvAllPage::ApplySavedColumns()
{
    ::ApplySavedColumns(m_list, m_host->GetSettings(), COLS_ADVANCED, kColumnTitles);
}

void CAdvAllPage::ExchangeData(bool save)
{
    if (save || !m_list.m_hWnd)
        return;
    ApplySavedColumns();
    RefreshList(true);
    m_list.ApplyLook(TABLE_LOOK_GRID);
    m_editorKind = -1;  // the controls are set up again
    RefreshEditor();
}

bool CAdvAllPage::IsCollapsed(uint16_t group) const
{
    const std::vector<uint16_t>& set = m_host->GetSettings().advancedCollapsed;
    return std::binary_search(set.begin(), set.end(), group);
}

void CAdvAllPage::AddRows(const ParamNode& group, int depth, uint16_t parent)
{
    ParamRow row;
    row.parent = parent;
    row.node = &group;
    row.depth = static_cast<int16_t>(depth);
    const bool collapsed = IsCollapsed(group.id);
    row.glyph = collapsed ? GLYPH_COLLAPSED : GLYPH_EXPANDED;
    m_rows.push_back(row);
    if (collapsed)
        return;
    for (size_t i = 0; i < group.children.size(); ++i) {
        const ParamNode& child = group.children[i];
        if (child.IsGroup()) {
            AddRows(child, depth + 1, group.id);
            continue;
        }
        ParamRow param;
        param.parent = group.id;
        param.node = &child;
        param.depth = static_cast<int16_t>(depth + 1);
        param.glyph = i + 1 == group.children.size() ? GLYPH_LAST_BRANCH : GLYPH_BRANCH;
        m_rows.push_back(param);
    }
}

void CAdvAllPage::RebuildRows()
{
    m_rows.clear();
    for (const ParamNode& group : m_tree)
        AddRows(group, 0, 0);
    m_pending &= ~kPendingRebuild;
}

void CAdvAllPage::RefreshList(bool rebuild)
{
    if (!m_data)
        return;
    if (rebuild || (m_pending & kPendingRebuild))
        RebuildRows();
    m_data->Refill();
    m_data->FireEvent();
}

int CAdvAllPage::OnDataChanged(void* context, CVirtualListViewData* sender, int)
{
    auto* self = static_cast<CAdvAllPage*>(context);
    RefreshPageTable(self->m_list, sender->GetItemCount(), *self->m_host);
    return 0;
}

std::vector<int> CAdvAllPage::SelectedRows() const
{
    std::vector<int> rows;
    for (int row = -1;;) {
        row = static_cast<int>(SendMessageW(m_list.m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED));
        if (row < 0)
            break;
        rows.push_back(row);
    }
    return rows;
}

void CAdvAllPage::SelectRows(const std::vector<int>& rows)
{
    LVITEMW clear{};
    clear.stateMask = LVIS_SELECTED;
    SendMessageW(m_list.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    LVITEMW set{};
    set.stateMask = LVIS_SELECTED;
    set.state = LVIS_SELECTED;
    for (int row : rows)
        SendMessageW(m_list.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&set));
    if (!rows.empty()) {
        LVITEMW focus{};
        focus.stateMask = LVIS_FOCUSED;
        focus.state = LVIS_FOCUSED;
        SendMessageW(m_list.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(rows.front()), reinterpret_cast<LPARAM>(&focus));
    }
}

void CAdvAllPage::CollectGroups(const std::vector<ParamNode>& nodes, std::vector<uint16_t>& out) const
{
    for (const ParamNode& node : nodes)
        if (node.IsGroup()) {
            out.push_back(node.id);
            CollectGroups(node.children, out);
        }
}

void CAdvAllPage::ChangeCollapsed(const std::vector<uint16_t>& groups, int mode)
{
    // The selection is matched again by kind and id, so that a group and a parameter with the
    // same number are told apart.
    std::vector<std::pair<bool, uint16_t>> selected;
    for (int row : SelectedRows())
        selected.emplace_back(m_rows[static_cast<size_t>(row)].node->IsGroup(), m_rows[static_cast<size_t>(row)].node->id);
    CAppSettings& settings = m_host->GetSettings();
    {
        CDocUpdateScope scope(settings, ObserverKey());
        auto edit = settings.EditAdvancedCollapsed();
        std::vector<uint16_t>& set = *edit;
        if (mode == 1) {
            set.clear();
            CollectGroups(m_tree, set);
            std::sort(set.begin(), set.end());
            set.erase(std::unique(set.begin(), set.end()), set.end());
        } else if (mode == 2) {
            set.clear();
        } else {
            for (uint16_t group : groups) {
                auto at = std::lower_bound(set.begin(), set.end(), group);
                if (at != set.end() && *at == group)
                    set.erase(at);
                else
                    set.insert(at, group);
            }
        }
        if (!settings.IsUnsaved())
            settings.SetModified(ASC_UNSAVED);
    }
    RefreshList(true);
    std::vector<int> again;
    for (size_t row = 0; row < m_rows.size(); ++row) {
        const ParamNode* node = m_rows[row].node;
        if (std::find(selected.begin(), selected.end(), std::make_pair(node->IsGroup(), node->id)) != selected.end())
            again.push_back(static_cast<int>(row));
    }
    SelectRows(again);
    ScheduleEditorRefresh();
}

void CAdvAllPage::ScheduleEditorRefresh()
{
    m_pending |= kPendingEditor;
    m_host->MarkDirty(HostUpdate::PageIdle);
}

void CAdvAllPage::Flush()
{
    if (m_pending & kPendingRebuild)
        RefreshList(true);
    if (m_pending & kPendingEditor)
        RefreshEditor();
}

void CAdvAllPage::OnIdleUpdate()
{
    Flush();
}

void CAdvAllPage::SetBarButtons(bool withApply)
{
    HWND bar = Item(IDC_PARAM_BAR);
    while (SendMessageW(bar, TB_DELETEBUTTON, 0, 0)) {
    }
    static std::wstring apply, deflt;
    apply = ShortPart(ID_PARAM_APPLY);
    deflt = ShortPart(ID_PARAM_DEFAULT);
    std::vector<TBBUTTON> buttons;
    auto add = [&buttons](int command, int image, const std::wstring* text) {
        TBBUTTON b = ToolButton(command, image);
        b.fsStyle = command ? static_cast<BYTE>(BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT) : static_cast<BYTE>(BTNS_SEP);
        b.iString = text ? reinterpret_cast<INT_PTR>(text->c_str()) : -1;
        buttons.push_back(b);
    };
    if (withApply) {
        add(0, 0, nullptr);
        add(ID_PARAM_APPLY, 5, &apply);
    }
    add(0, 0, nullptr);
    add(ID_PARAM_DEFAULT, 6, &deflt);
    SendMessageW(bar, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    FitToolbar(bar, 4 | 8);
    m_applyShown = withApply;
}

void CAdvAllPage::SetToolButtons(int kind)
{
    HWND tools = Item(IDC_PARAM_TOOLS);
    while (SendMessageW(tools, TB_DELETEBUTTON, 0, 0)) {
    }
    std::vector<TBBUTTON> buttons;
    if (kind == PK_FOLDER)
        buttons = {ToolButton(ID_BROWSE_DOC_FOLDER, 3), ToolButton(ID_GO_DOC_FOLDER, 4)};
    else if (kind == PK_CONFIGURATION)
        buttons = {ToolButton(ID_CONFIG_NEW, 0), ToolButton(ID_CONFIG_DELETE, 2)};
    if (!buttons.empty()) {
        SendMessageW(tools, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
        FitToolbar(tools, 4 | 8);
    }
    ShowControl(m_hWnd, IDC_PARAM_TOOLS, !buttons.empty());
}

void CAdvAllPage::FillFolder()
{
    HWND combo = Item(IDC_PARAM_FOLDER);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    const CAppSettings& settings = m_host->GetSettings();
    AddComboItem(combo, settings.GetDataFolder(), 0);
    for (int csidl : {CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        wchar_t path[MAX_PATH];
        if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
            AddComboItem(combo, std::wstring(path) + L"\\Norvane2", csidl);
    }
    SetWindowTextW(combo, settings.GetDocumentsFolderSetting().c_str());
}

void CAdvAllPage::FillChoice(int kind, const ParamValue& value, bool mixed)
{
    HWND combo = Item(IDC_PARAM_CHOICE);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    const CAppSettings& settings = m_host->GetSettings();
    if (kind == PK_LANGUAGE && !m_flags.Get()) {
        LPCWSTR name = MAKEINTRESOURCEW(IDB_FLAGS);
        m_flags.Attach(ImageList_LoadImageW(FindResourceModule(name, RT_BITMAP), name, 16, 10, kMask, IMAGE_BITMAP,
                                            LR_CREATEDIBSECTION));
    }
    SendMessageW(combo, CBEM_SETIMAGELIST, 0, kind == PK_LANGUAGE ? reinterpret_cast<LPARAM>(m_flags.Get()) : 0);
    int select = -1;
    switch (kind) {
    case PK_LANGUAGE: {
        AddComboItem(combo, LanguageDisplayName(settings, 0), 0,
                     LangIdToLanguageIndex(LANGIDFROMLCID(GetSystemDefaultLCID())));
        for (size_t i = 0; i < settings.languages.size(); ++i)
            AddComboItem(combo, LanguageDisplayName(settings, static_cast<int>(i) + 1), static_cast<LPARAM>(i) + 1,
                         LangIdToLanguageIndex(settings.languages[i].value));
        select = settings.GetLanguage().empty() ? 0 : settings.FindLanguage(settings.GetLanguage()) + 1;
        break;
    }
    case PK_CONFIGURATION: {
        AddComboItem(combo, ConfigurationDisplayName(L""), 0);
        for (size_t i = 0; i < settings.configFiles.size(); ++i)
            AddComboItem(combo, settings.configFiles[i], static_cast<LPARAM>(i) + 1);
        const std::wstring& path = settings.GetTransferDoc().GetPathName();
        if (path.empty())
            select = 0;
        else if (HasNv2Extension(path)) {
            const int found = settings.FindConfigFile(OpenConfigurationName(settings));
            select = found >= 0 ? found + 1 : -1;
        }
        break;
    }
    case PK_MOUSE_COMMAND: {
        AddComboItem(combo, FormatParamValue(*m_host, 21, ParamValue{}).text, 0);
        int group = 0;
        if (m_actions) {
            for (const ActionEntry& action : m_actions->actions) {
                if (action.group != group && action.group != 0 &&
                    action.group <= static_cast<int>(m_actions->groups.size()))
                    AddComboItem(combo, GroupHeading(m_actions->groups[action.group - 1]), -1);
                group = action.group;
                AddComboItem(combo, action.name, action.command);
            }
        }
        break;
    }
    case PK_SEPARATOR:
        for (wchar_t c : {L',', L';', L'\t'}) {
            std::wstring text;
            EscapeControlChars(text, &c, 1);
            AddComboItem(combo, text, c);
        }
        break;
    case PK_ENCODING:
        AddComboItem(combo, FormatParamValue(*m_host, 51, [] { ParamValue v; v.number = 1; return v; }()).text, 1);
        AddComboItem(combo, FormatParamValue(*m_host, 51, [] { ParamValue v; v.number = 2; return v; }()).text, 2);
        break;
    case PK_LOG_LEVEL:
        for (int level = 1; level <= 6; ++level)
            AddComboItem(combo, LogLevelName(level), level);
        break;
    default:
        break;
    }
    if (kind == PK_MOUSE_COMMAND || kind == PK_SEPARATOR || kind == PK_ENCODING || kind == PK_LOG_LEVEL)
        select = mixed ? -1 : FindComboItemByParam(combo, value.number);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(select), 0);
    if (kind == PK_CONFIGURATION)
        SendMessageW(Item(IDC_PARAM_TOOLS), TB_ENABLEBUTTON, ID_CONFIG_DELETE, MAKELPARAM(select > 0, 0));
}

void CAdvAllPage::RefreshEditor()
{
    m_pending &= ~kPendingEditor;
    int kind = -1;
    int count = 0;
    bool mixed = false;
    bool allDefault = true;
    ParamValue first;
    for (int row : SelectedRows()) {
        const ParamNode* node = m_rows[static_cast<size_t>(row)].node;
        if (node->IsGroup())
            continue;
        ParamValue value;
        GetParamValue(*m_host, node->id, value);
        if (count++ == 0) {
            kind = node->kind;
            first = value;
        } else if (node->kind != kind) {
            kind = 0;
        } else if (kind > 0) {
            const bool differs = kind == PK_YESNO ? value.flag != first.flag
                                 : (kind == PK_LANGUAGE || kind == PK_FOLDER || kind == PK_CONFIGURATION)
                                     ? value.text != first.text
                                     : value.number != first.number;
            mixed = mixed || differs;
        }
        allDefault = allDefault && !ParamDiffersFromDefault(node->id, value);
    }
    if (count == 0)
        kind = 0;
    m_editorState = (mixed ? 1 : 0) | (allDefault ? 2 : 0);

    HWND bar = Item(IDC_PARAM_BAR);
    const bool withApply = count > 0 && kind >= PK_LANGUAGE;
    if (kind != m_editorKind || withApply != m_applyShown) {
        SetBarButtons(withApply);
        SetToolButtons(kind);
    }
    ShowControl(m_hWnd, IDC_PARAM_BAR, count > 0);
    SendMessageW(bar, TB_ENABLEBUTTON, ID_PARAM_DEFAULT, MAKELPARAM(!allDefault, 0));
    m_editorKind = kind;

    {
        UpdatingScope updating(m_hWnd);
        ShowControl(m_hWnd, IDC_PARAM_YES, kind == PK_YESNO);
        ShowControl(m_hWnd, IDC_PARAM_NO, kind == PK_YESNO);
        if (kind == PK_YESNO) {
            CheckItem(IDC_PARAM_YES, !mixed && first.flag);
            CheckItem(IDC_PARAM_NO, !mixed && !first.flag);
        }
        ShowControl(m_hWnd, IDC_PARAM_NUMBER, kind == PK_NUMBER);
        ShowControl(m_hWnd, IDC_PARAM_SPIN, kind == PK_NUMBER);
        if (kind == PK_NUMBER)
            SetItemText(IDC_PARAM_NUMBER, mixed ? L"" : std::to_wstring(first.number).c_str());
        if (kind == PK_FOLDER)
            FillFolder();
        ShowControl(m_hWnd, IDC_PARAM_FOLDER, kind == PK_FOLDER);
        const bool choice = kind == PK_LANGUAGE || (kind >= PK_CONFIGURATION && kind <= PK_ENCODING) ||
                            kind == PK_LOG_LEVEL;
        if (choice)
            FillChoice(kind, first, mixed);
        ShowControl(m_hWnd, IDC_PARAM_CHOICE, choice);
    }
}

bool CAdvAllPage::ReadEditor(ParamValue& value)
{
    value = ParamValue{};
    const CAppSettings& settings = m_host->GetSettings();
    HWND choice = Item(IDC_PARAM_CHOICE);
    const int selected = ComboSelection(choice);
    switch (m_editorKind) {
    case PK_YESNO:
        if (IsItemChecked(IDC_PARAM_YES))
            value.flag = 1;
        else if (!IsItemChecked(IDC_PARAM_NO))
            return false;
        return true;
    case PK_LANGUAGE:
        if (selected < 0)
            return false;
        value.number = selected;
        if (selected > 0 && selected - 1 < static_cast<int>(settings.languages.size()))
            value.text = settings.languages[static_cast<size_t>(selected - 1)].name;
        return true;
    case PK_FOLDER: {
        wchar_t text[MAX_PATH] = L"";
        GetWindowTextW(Item(IDC_PARAM_FOLDER), text, MAX_PATH);
        value.text = text;
        return true;
    }
    case PK_CONFIGURATION:
        if (selected < 0)
            return false;
        if (selected > 0 && selected - 1 < static_cast<int>(settings.configFiles.size()))
            value.text = settings.configFiles[static_cast<size_t>(selected - 1)];
        return true;
    case PK_NUMBER: {
        BOOL ok = FALSE;
        value.number = static_cast<int32_t>(GetDlgItemInt(m_hWnd, IDC_PARAM_NUMBER, &ok, TRUE));
        return ok != FALSE;
    }
    case PK_MOUSE_COMMAND:
    case PK_SEPARATOR:
    case PK_ENCODING:
    case PK_LOG_LEVEL: {
        if (selected < 0)
            return false;
        const LPARAM data = ComboData(choice, selected);
        if (data < 0)
            return false;
        value.number = static_cast<int32_t>(data);
        return true;
    }
    default:
        return false;
    }
}

void CAdvAllPage::ApplyToSelection(const std::function<bool(int index, ParamValue& value)>& make)
{
    bool applied = false;
    {
        CDocUpdateScope scope(m_host->GetSettings(), ObserverKey());
        for (int row : SelectedRows()) {
            const ParamNode* node = m_rows[static_cast<size_t>(row)].node;
            ParamValue value;
            if (node->IsGroup() || !make(node->id, value))
                continue;
            ApplyParamValue(*m_host, ObserverKey(), node->id, value);
            applied = true;
        }
    }
    if (!applied)
        return;
    if (m_list.m_hWnd) {
        // What was stored may change the look of this list too.
        m_list.ApplyLook(TABLE_LOOK_ALTERNATE | TABLE_LOOK_GRID);
    }
    RefreshList(false);
}

void CAdvAllPage::ApplyEditor()
{
    ParamValue value;
    if (!ReadEditor(value))
        return;
    const int kind = m_editorKind;
    ApplyToSelection([&value, kind](int index, ParamValue& out) {
        if (ParamKindOf(index) != kind)
            return false;
        out = value;
        return true;
    });
    RefreshEditor();
}

void CAdvAllPage::FlipYesNo(const std::vector<int>& rows)
{
    if (rows.empty())
        return;
    ApplyToSelection([this](int index, ParamValue& out) {
        if (ParamKindOf(index) != PK_YESNO)
            return false;
        GetParamValue(*m_host, index, out);
        out.flag = !out.flag;
        return true;
    });
    if (m_editorKind == PK_YESNO)
        RefreshEditor();
}

void CAdvAllPage::SelectGroup()
{
    std::vector<int> rows;
    const std::vector<int> selected = SelectedRows();
    std::vector<uint16_t> groups;
    for (int row : selected) {
        const ParamRow& r = m_rows[static_cast<size_t>(row)];
        groups.push_back(r.node->IsGroup() ? r.node->id : r.parent);
    }
    // A row belongs to a chosen group when the group is the row's own (a group row) or one of
    // its ancestors; the rows are in tree order, so one walk with a depth stack finds them.
    std::vector<std::pair<int16_t, bool>> stack;  // group depth, chosen
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const ParamRow& r = m_rows[i];
        while (!stack.empty() && stack.back().first >= r.depth)
            stack.pop_back();
        bool inside = !stack.empty() && stack.back().second;
        if (r.node->IsGroup()) {
            const bool chosen = inside || std::find(groups.begin(), groups.end(), r.node->id) != groups.end();
            stack.emplace_back(r.depth, chosen);
            inside = chosen;
        }
        if (inside)
            rows.push_back(static_cast<int>(i));
    }
    SelectRows(rows);
    ScheduleEditorRefresh();
}

void CAdvAllPage::FocusEditor()
{
    int target = 0;
    switch (m_editorKind) {
    case PK_YESNO: target = IsItemChecked(IDC_PARAM_NO) ? IDC_PARAM_NO : IDC_PARAM_YES; break;
    case PK_FOLDER: target = IDC_PARAM_FOLDER; break;
    case PK_LANGUAGE:
    case PK_CONFIGURATION:
    case PK_MOUSE_COMMAND:
    case PK_SEPARATOR:
    case PK_ENCODING: target = IDC_PARAM_CHOICE; break;
    default: break;
    }
    if (target)
        SetFocus(Item(target));
}

void CAdvAllPage::OnListMenu(POINT at)
{
    Flush();
    TrackMenu(IDM_PARAM_LIST, at, [this](HMENU popup) {
        EnableMenuItem(popup, ID_PARAM_DEFAULT, MF_BYCOMMAND | ((m_editorState & 2) ? MF_GRAYED : MF_ENABLED));
    });
}

void CAdvAllPage::StoreColumns()
{
    StoreTableColumns(m_list, m_host->GetSettings(), COLS_ADVANCED, ObserverKey());
}

void CAdvAllPage::RestoreDefaults()
{
    CAppSettings& settings = m_host->GetSettings();
    CDocUpdateScope scope(settings);
    RestoreSharedDefaults(settings, [](AppViewOptions& view) {
        view.snapToEdges = true;
        view.taskbarButton = true;
        view.altListBkColor = true;
    });
    settings.SetTrayIconFlags(0);
    settings.SetTrayClickCommands({ID_SHOW_MINIMIZE, 0, 0, 0});
    settings.SetPanels(9);
    settings.SetPageListPages(0x700001);
    settings.SetEventLogEnabled(false);
    settings.ResetEventLogLimit();
    settings.SetDocumentsFolder(L"");
    settings.SetHistoryFlags(kDefaultHistory);
    {
        auto csv = settings.EditCsv();
        csv->delimiter = L';';
        csv->encoding = 1;
    }
    if (!settings.advancedCollapsed.empty())
        settings.EditAdvancedCollapsed()->clear();
    *settings.EditColumns(COLS_ADVANCED) = GetDefaultColumns(COLS_ADVANCED);
    settings.RaisePageStateChange(ASP_LOADED, true);
}

bool CAdvAllPage::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_PARAM_YES:
    case IDC_PARAM_NO:
        if (code == BN_CLICKED)
            ApplyEditor();
        return true;
    case ID_PARAM_APPLY:
        ApplyEditor();
        return true;
    case IDC_PARAM_CHOICE:
        if (code == CBN_SELCHANGE) {
            const int selected = ComboSelection(Item(IDC_PARAM_CHOICE));
            if (m_editorKind == PK_CONFIGURATION)
                SendMessageW(Item(IDC_PARAM_TOOLS), TB_ENABLEBUTTON, ID_CONFIG_DELETE,
                             MAKELPARAM(selected > 0, 0));
            if (m_editorKind == PK_MOUSE_COMMAND)
                SendMessageW(Item(IDC_PARAM_BAR), TB_ENABLEBUTTON, ID_PARAM_APPLY,
                             MAKELPARAM(selected >= 0 && ComboData(Item(IDC_PARAM_CHOICE), selected) >= 0, 0));
        }
        return true;
    case ID_BROWSE_DOC_FOLDER: {
        wchar_t path[MAX_PATH] = L"";
        GetWindowTextW(Item(IDC_PARAM_FOLDER), path, MAX_PATH);
        if (BrowseForFolder(m_hWnd, path))
            SetWindowTextW(Item(IDC_PARAM_FOLDER), path);
        return true;
    }
    case ID_GO_DOC_FOLDER: {
        wchar_t path[MAX_PATH] = L"";
        GetWindowTextW(Item(IDC_PARAM_FOLDER), path, MAX_PATH);
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            ShellOpen(path);
        return true;
    }
    case ID_PARAM_SELECT_ALL: {
        std::vector<int> all(m_rows.size());
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = static_cast<int>(i);
        SelectRows(all);
        ScheduleEditorRefresh();
        return true;
    }
    case ID_COLLAPSE_ALL:
        ChangeCollapsed({}, 1);
        return true;
    case ID_EXPAND_ALL:
        ChangeCollapsed({}, 2);
        return true;
    case ID_PARAM_DEFAULT:
        ApplyToSelection([](int index, ParamValue& out) {
            GetParamDefault(index, out);
            return true;
        });
        RefreshEditor();
        return true;
    case ID_SELECT_GROUP:
        SelectGroup();
        return true;
    default:
        return CAdvPage::OnCommand(id, code, control);
    }
}

void CAdvAllPage::DrawValueBold(NMLVCUSTOMDRAW* draw, LRESULT* result)
{
    if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        *result |= CDRF_NOTIFYSUBITEMDRAW;
        return;
    }
    const int row = static_cast<int>(draw->nmcd.dwItemSpec);
    const std::vector<int>& map = m_list.GetVisibleMap();
    const int column = draw->iSubItem >= 0 && draw->iSubItem < static_cast<int>(map.size()) ? map[draw->iSubItem] : -1;
    const bool bold = column == kColumnValue && m_bold.Get() && m_data && m_data->Cached(row).display.bold;
    SelectObject(draw->nmcd.hdc, bold ? m_bold.Get() : reinterpret_cast<HGDIOBJ>(m_list.Send(WM_GETFONT)));
    *result = CDRF_NEWFONT;
}

void CAdvAllPage::OnActivate(int row)
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return;
    if (m_rows[static_cast<size_t>(row)].node->IsGroup())
        ChangeCollapsed({m_rows[static_cast<size_t>(row)].node->id}, 0);
    else {
        Flush();
        FocusEditor();
    }
}

// Enter folds the selected groups or, on parameters, opens the editor; Space flips yes/no values.
bool CAdvAllPage::OnListKey(WORD key)
{
    if (key == VK_RETURN) {
        std::vector<uint16_t> groups;
        for (int row : SelectedRows())
            if (m_rows[static_cast<size_t>(row)].node->IsGroup())
                groups.push_back(m_rows[static_cast<size_t>(row)].node->id);
        if (!groups.empty())
            ChangeCollapsed(groups, 0);
        else {
            Flush();
            FocusEditor();
        }
        return true;
    }
    if (key == VK_SPACE) {
        FlipYesNo(SelectedRows());
        return true;
    }
    return false;
}

bool CAdvAllPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (id != IDC_PARAM_LIST || !m_data)
        return CBasePage::OnNotify(id, nmh, result);
    switch (nmh->code) {
    case LVN_GETINFOTIPW: {
        auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(nmh);
        if (tip->iItem >= 0 && tip->iItem < static_cast<int>(m_rows.size())) {
            const std::wstring& hint = m_rows[static_cast<size_t>(tip->iItem)].node->hint;
            if (!hint.empty() && tip->cchTextMax > 0)
                lstrcpynW(tip->pszText, hint.c_str(), tip->cchTextMax);
        }
        return true;
    }
    case NM_CLICK: {
        const auto* click = reinterpret_cast<NMITEMACTIVATE*>(nmh);
        LVHITTESTINFO hit{};
        hit.pt = click->ptAction;
        if (SendMessageW(m_list.m_hWnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 || hit.iItem < 0 ||
            !(hit.flags & LVHT_ONITEMICON))
            return true;
        const ParamRow& row = m_rows[static_cast<size_t>(hit.iItem)];
        const std::vector<int>& map = m_list.GetVisibleMap();
        const int column = hit.iSubItem < static_cast<int>(map.size()) ? map[hit.iSubItem] : -1;
        if (row.node->IsGroup() && column == kColumnName)
            ChangeCollapsed({row.node->id}, 0);
        else if (!row.node->IsGroup() && column == kColumnValue && row.node->kind == PK_YESNO)
            FlipYesNo(SelectedRows());
        return true;
    }
    default:
        return CBasePage::OnNotify(id, nmh, result);
    }
}

void CAdvAllPage::OnDocumentChanged(CDocument* doc, const uint32_t* bits)
{
    CAppSettings& settings = m_host->GetSettings();
    if (doc == &settings) {
        const AppSettingsDetails& details = settings.GetDetails();
        const uint32_t change = bits[0];
        const bool ui = (change & ASC_UI) && (details.ui & kWatchedUi);
        const bool page = (change & ASC_PAGE) && (details.page & (ASP_LOADED | ASP_ADVANCED_COLLAPSED));
        const bool configs = (change & ASC_STATE) && (details.state & ASS_CONFIG_FILES);
        if (!(change & kWatchedChanges) && !ui && !page && !configs)
            return;
        if (page && (details.page & ASP_LOADED))
            ApplySavedColumns();
        RefreshList(page || (m_pending & kPendingRebuild));
        if (change & ASC_UI) {
            m_list.ApplyLook(TableLookChanges(details.ui) & (TABLE_LOOK_ALTERNATE | TABLE_LOOK_GRID));
        }
        if (m_editorKind == PK_YESNO || (configs && m_editorKind == PK_CONFIGURATION))
            ScheduleEditorRefresh();
    } else if (bits[0] & 2) {
        RefreshList(false);
        if (m_editorKind == PK_CONFIGURATION)
            ScheduleEditorRefresh();
    }
}

void CAdvAllPage::OnSize(UINT, int width, int height)
{
    if (m_layout.parent)
        ApplyLayout(m_layout, width, height);
}

void CAdvAllPage::OnDestroy()
{
    if (m_data)
        m_data->SetEventCallback(nullptr, nullptr);
    m_list.RemoveHeaderTips();
    m_list.Destroy();
    m_images.Destroy();
    m_flags.Destroy();
    m_actions.reset();
}
