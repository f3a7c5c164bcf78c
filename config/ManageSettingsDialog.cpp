#include "config/ManageSettingsDialog.h"

#include <algorithm>
#include <cwctype>

#include "config/SettingsGroups.h"
#include "config/SettingsTransfer.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"
#include "resources/resource.h"

namespace {

constexpr int kConfigItems = 12;
constexpr int kAppItems = 10;
constexpr int kMinTrackWidth = 336;
constexpr int kMinTrackHeight = 515;
constexpr int kMinColumnWidth = 10;
const wchar_t kInvalidNameChars[] = L"<>\"|?*";

// The list shows From, To, Reader and Key list first; each item selects the bit its label names.
const uint32_t kConfigItemBits[kConfigItems] = {CG_SOURCE,    CG_DESTINATION, CG_READER,     CG_KEYLIST,
                                                CG_KEYBOARD,  CG_PORTAVO,     CG_CMDLINE,    CG_HTTP,
                                                CG_KEYFILTERS, CG_FORMATS,    CG_READKEYS,   CG_MIFARE_KEYS};

const struct {
    int id;
    int flags;
} kAnchors[] = {
    {IDC_MS_ACTION_GROUP, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT},
    {IDC_MS_IMPORT, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT},
    {IDC_MS_EXPORT, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT},
    {IDC_MS_RESET, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT},
    {IDC_MS_PARAMS_GROUP, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM},
    {IDC_MS_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM},
    {IDC_MS_FILE_GROUP, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM},
    {IDC_MS_FILE, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM},
    {IDC_MS_TOOLBAR, ANCHOR_RIGHT | ANCHOR_BOTTOM},
    {IDOK, ANCHOR_RIGHT | ANCHOR_BOTTOM},
    {IDCANCEL, ANCHOR_RIGHT | ANCHOR_BOTTOM},
};

bool KeyDown(int key)
{
    return GetKeyState(key) < 0;
}

// The lines of the group names resource: UTF-8, an optional byte-order mark, lines ended by
// CR LF, a CR or a LF.
std::vector<std::wstring> ReadGroupNames()
{
    std::vector<std::wstring> lines;
    LPCWSTR name = MAKEINTRESOURCEW(IDR_SETTINGS_GROUPS);
    HMODULE module = FindResourceModule(name, RT_RCDATA);
    HRSRC resource = FindResourceW(module, name, RT_RCDATA);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!data)
        return lines;
    std::string bytes(data, SizeofResource(module, resource));
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    const std::wstring text = MultiByteToWString(bytes, CP_UTF8);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, L"\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The path's drive and folder part (without a trailing backslash, except at a drive's root).
std::wstring ParentPath(std::wstring path)
{
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return std::wstring();
    path.resize(slash == 2 && path[1] == L':' ? 3 : slash);
    return path;
}

bool HasJsonExtension(const std::wstring& name)
{
    const size_t dot = name.find_last_of(L'.');
    const size_t slash = name.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return false;
    return _wcsicmp(name.c_str() + dot, L".json") == 0;
}

std::wstring ExceptionText(const std::exception& e)
{
    if (const auto* file = dynamic_cast<const CFileException*>(&e))
        return file->GetErrorText();
    if (const auto* settings = dynamic_cast<const CSettingsFileException*>(&e))
        return settings->GetText();
    return MultiByteToWString(std::string(e.what()), CP_ACP);
}

void Execute(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters)
{
    SHELLEXECUTEINFOW info{sizeof(info)};
    info.hwnd = owner;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    SystemServices().ExecuteShell(info);
}

} // namespace

std::wstring FindInvalidNameChars(const std::wstring& name)
{
    std::wstring found;
    for (wchar_t c : name)
        if (wcschr(kInvalidNameChars, c) && c != L'\0' && found.find(c) == std::wstring::npos)
            found += c;
    return found;
}

// ---- the file box ----

LRESULT CMsFileEdit::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETDLGCODE) {
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg && msg->wParam == VK_RETURN && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR)) {
            if (msg->message == WM_KEYDOWN)
                m_dialog.TakeFileName();
            return DefaultProc() | DLGC_WANTMESSAGE;
        }
    } else if (message == WM_CHAR && wParam == VK_RETURN) {
        return 0; // taken on the key press; a single-line edit would only beep
    }
    return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
}

// ---- the group list ----

LRESULT CMsGroupList::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const bool ctrl = KeyDown(VK_CONTROL), shift = KeyDown(VK_SHIFT), alt = KeyDown(VK_MENU);
    if (message == WM_KEYDOWN) {
        if (wParam == VK_SPACE && !ctrl && !alt) {
            m_dialog.ToggleSelectedChecks();
            return 0;
        }
        if (wParam == 'A' && ctrl && !shift && !alt) {
            SelectAll();
            return 0;
        }
        if (wParam == VK_MULTIPLY && !ctrl && !shift && !alt) {
            InvertSelection();
            return 0;
        }
    } else if (message == WM_CHAR && (wParam == L' ' || wParam == 1)) {
        return 0; // handled as keys above; the list would search for them
    }
    return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
}

void CMsGroupList::InvertSelection()
{
    const int count = ListView_GetItemCount(m_hWnd);
    for (int i = 0; i < count; ++i) {
        const UINT state = ListView_GetItemState(m_hWnd, i, LVIS_SELECTED);
        ListView_SetItemState(m_hWnd, i, state ^ LVIS_SELECTED, LVIS_SELECTED);
    }
}

void CMsGroupList::SelectAll()
{
    ListView_SetItemState(m_hWnd, -1, LVIS_SELECTED, LVIS_SELECTED);
}

// ---- the dialog ----

CManageSettingsDialog::CManageSettingsDialog(CAppSettings& settings, IManageSettingsHost& host)
    : CModalDialog(IDD_MANAGE_SETTINGS), m_settings(settings), m_host(host), m_list(*this), m_fileEdit(*this)
{
}

bool CManageSettingsDialog::ItemBit(int item, bool& configuration, uint32_t& bit)
{
    if (item >= 0 && item < kConfigItems) {
        configuration = true;
        bit = kConfigItemBits[item];
        return true;
    }
    if (item >= kConfigItems && item < kConfigItems + kAppItems) {
        configuration = false;
        bit = 1u << (item - kConfigItems);
        return true;
    }
    return false;
}

LRESULT CManageSettingsDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KICKIDLE:
        if (m_dirty & MSD_STATES)
            RefreshControlStates();
        if (m_dirty & MSD_COLUMN)
            FitColumn();
        return 0;
    case WM_SIZE:
        if (m_layout.parent)
            ApplyLayout(m_layout, LOWORD(lParam), HIWORD(lParam));
        m_dirty |= MSD_COLUMN;
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = POINT{kMinTrackWidth, kMinTrackHeight};
        return 0;
    }
    default:
        return CModalDialog::HandleMessage(hwnd, message, wParam, lParam);
    }
}

bool CManageSettingsDialog::OnInitDialog()
{
    const ManageSettingsState& stored = m_settings.manageSettings;
    m_action = stored.mode >= MSA_IMPORT && stored.mode <= MSA_RESET ? stored.mode : MSA_IMPORT;
    // A stored -1 selects every group.
    m_configMask = static_cast<uint32_t>(stored.tParams) & kAllConfigGroups;
    m_appMask = static_cast<uint32_t>(stored.aParams) & kAllAppGroups;

    m_list.Attach(GetDlgItem(m_hWnd, IDC_MS_LIST));
    FillGroupList();

    m_toolbar = GetDlgItem(m_hWnd, IDC_MS_TOOLBAR);
    SendMessageW(m_toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(m_toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_host.GetSmallImageList()));
    TBBUTTON buttons[] = {
        {3, ID_MS_BROWSE, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
        {4, ID_MS_SHOW_FILE, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
    };
    SendMessageW(m_toolbar, TB_ADDBUTTONSW, ARRAYSIZE(buttons), reinterpret_cast<LPARAM>(buttons));
    FitToolbar(m_toolbar, ANCHOR_RIGHT);
    ShowWindow(m_toolbar, SW_SHOWNA);

    m_layout.parent = m_hWnd;
    for (const auto& anchor : kAnchors)
        m_layout.Add(anchor.id, anchor.flags);
    CaptureLayout(m_layout);

    m_fileEdit.Attach(GetDlgItem(m_hWnd, IDC_MS_FILE));
    CheckRadioButton(m_hWnd, IDC_MS_IMPORT, IDC_MS_RESET, IDC_MS_IMPORT + m_action - MSA_IMPORT);
    SetWindowTextW(m_fileEdit.m_hWnd, m_fileName.c_str());
    RefreshControlStates();
    FitColumn();
    m_host.ExchangeWindowPlacement(false, m_hWnd, kManageSettingsPlacementSlot, -1);
    return true;
}

void CManageSettingsDialog::FillGroupList()
{
    HWND list = m_list.m_hWnd;
    UpdatingScope updating(m_hWnd);
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                                        LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = kMinColumnWidth;
    ListView_InsertColumn(list, 0, &column);
    ListView_EnableGroupView(list, TRUE);

    int group = 1, inGroup = 0, item = 0;
    bool header = true;
    for (std::wstring& line : ReadGroupNames()) {
        if (header) {
            LVGROUP g{};
            g.cbSize = sizeof(g);
            g.mask = LVGF_HEADER | LVGF_GROUPID;
            g.pszHeader = line.data();
            g.iGroupId = group;
            ListView_InsertGroup(list, -1, &g);
            header = false;
            continue;
        }
        if (line.empty()) {
            if (++group > 2)
                break;
            header = true;
            inGroup = 0;
            continue;
        }
        if (inGroup >= (group == 1 ? kConfigItems : kAppItems))
            continue;
        LVITEMW entry{};
        entry.mask = LVIF_TEXT | LVIF_PARAM | LVIF_GROUPID;
        entry.iItem = item++;
        entry.pszText = line.data();
        entry.lParam = (group == 1 ? 0 : kConfigItems) + inGroup++;
        entry.iGroupId = group;
        ListView_InsertItem(list, &entry);
    }
    SetItemChecks();
}

void CManageSettingsDialog::SetItemChecks()
{
    UpdatingScope updating(m_hWnd);
    const int count = ListView_GetItemCount(m_list.m_hWnd);
    for (int i = 0; i < count; ++i) {
        LVITEMW entry{};
        entry.mask = LVIF_PARAM;
        entry.iItem = i;
        ListView_GetItem(m_list.m_hWnd, &entry);
        bool configuration;
        uint32_t bit;
        if (ItemBit(static_cast<int>(entry.lParam), configuration, bit))
            ListView_SetCheckState(m_list.m_hWnd, i, ((configuration ? m_configMask : m_appMask) & bit) != 0);
    }
}

bool CManageSettingsDialog::IsOkAllowed() const
{
    if (m_configMask == 0 && m_appMask == 0)
        return false;
    switch (m_action) {
    case MSA_IMPORT:
        return !m_fileName.empty() && IsExistingSettingsFile(m_fileName);
    case MSA_EXPORT:
        return !m_fileName.empty() && FindInvalidNameChars(m_fileName).empty();
    case MSA_RESET:
        return true;
    default:
        return false;
    }
}

void CManageSettingsDialog::RefreshControlStates()
{
    m_dirty &= ~MSD_STATES;
    const int show = m_action == MSA_IMPORT || m_action == MSA_EXPORT ? SW_SHOWNA : SW_HIDE;
    ShowWindow(GetDlgItem(m_hWnd, IDC_MS_FILE_GROUP), show);
    ShowWindow(m_fileEdit.m_hWnd, show);
    ShowWindow(m_toolbar, show);
    EnableWindow(GetDlgItem(m_hWnd, IDOK), IsOkAllowed());
}

void CManageSettingsDialog::FitColumn()
{
    m_dirty &= ~MSD_COLUMN;
    RECT client;
    GetClientRect(m_list.m_hWnd, &client);
    ListView_SetColumnWidth(m_list.m_hWnd, 0, std::max<int>(client.right, kMinColumnWidth));
}

void CManageSettingsDialog::TakeFileName()
{
    if (SendMessageW(m_fileEdit.m_hWnd, EM_GETMODIFY, 0, 0)) {
        GetWindowString(m_fileEdit.m_hWnd, m_fileName);
        SendMessageW(m_fileEdit.m_hWnd, EM_SETMODIFY, FALSE, 0);
    }
    m_dirty |= MSD_STATES;
}

void CManageSettingsDialog::SetAction(int action)
{
    if (action == m_action)
        return;
    m_action = action;
    m_dirty |= MSD_STATES;
}

void CManageSettingsDialog::SetItemCheck(int item, bool checked)
{
    UpdatingScope updating(m_hWnd);
    ListView_SetCheckState(m_list.m_hWnd, item, checked);
}

void CManageSettingsDialog::SetAllChecks(bool checked)
{
    m_configMask = checked ? kAllConfigGroups : 0;
    m_appMask = checked ? kAllAppGroups : 0;
    SetItemChecks();
    m_dirty |= MSD_STATES;
}

void CManageSettingsDialog::ToggleSelectedChecks()
{
    HWND list = m_list.m_hWnd;
    for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0; i = ListView_GetNextItem(list, i, LVNI_SELECTED)) {
        LVITEMW entry{};
        entry.mask = LVIF_PARAM;
        entry.iItem = i;
        ListView_GetItem(list, &entry);
        bool configuration;
        uint32_t bit;
        if (!ItemBit(static_cast<int>(entry.lParam), configuration, bit))
            continue;
        uint32_t& mask = configuration ? m_configMask : m_appMask;
        mask ^= bit;
        SetItemCheck(i, (mask & bit) != 0);
        ListView_RedrawItems(list, i, i);
    }
    m_dirty |= MSD_STATES;
}

void CManageSettingsDialog::OnItemChanged(const NMLISTVIEW& change)
{
    if (!(change.uChanged & LVIF_STATE) || ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) == 0)
        return;
    LVITEMW entry{};
    entry.mask = LVIF_PARAM;
    entry.iItem = change.iItem;
    if (!ListView_GetItem(m_list.m_hWnd, &entry))
        return;
    bool configuration;
    uint32_t bit;
    if (!ItemBit(static_cast<int>(entry.lParam), configuration, bit))
        return;
    uint32_t& mask = configuration ? m_configMask : m_appMask;
    if ((change.uNewState & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2))
        mask |= bit;
    else
        mask &= ~bit;
    m_dirty |= MSD_STATES;
}

void CManageSettingsDialog::ShowContextMenu()
{
    LPCWSTR name = MAKEINTRESOURCEW(IDM_MANAGE_SETTINGS);
    HMENU menu = LoadMenuW(FindResourceModule(name, RT_MENU), name);
    if (!menu)
        return;
    POINT at;
    GetCursorPos(&at);
    TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
}

bool CManageSettingsDialog::ChooseFile(bool save, UINT filterId, DWORD flags, std::wstring& name)
{
    std::vector<std::wstring> names{name};
    if (!ShowFileDialog(names, nullptr, save, filterId, m_hWnd, flags))
        return false;
    name = names.front();
    return true;
}

void CManageSettingsDialog::Browse()
{
    TakeFileName();
    const bool save = m_action == MSA_EXPORT;
    std::wstring name = m_fileName;
    const DWORD flags = save ? OFN_OVERWRITEPROMPT | OFN_LONGNAMES | OFN_EXPLORER | OFN_ENABLESIZING
                             : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING;
    if (!ChooseFile(save, save ? IDS_SETTINGS_SAVE_FILTER : IDS_SETTINGS_OPEN_FILTER, flags, name))
        return;
    if (save && !HasJsonExtension(name))
        name += L".json";
    m_fileName = name;
    SetWindowTextW(m_fileEdit.m_hWnd, name.c_str());
    SendMessageW(m_fileEdit.m_hWnd, EM_SETMODIFY, FALSE, 0);
    m_dirty |= MSD_STATES;
}

void CManageSettingsDialog::ShowFile()
{
    TakeFileName();
    if (!m_fileName.empty() && !IsExistingSettingsFile(m_fileName)) {
        for (std::wstring path = m_fileName; !path.empty();) {
            if (IsFolder(path)) {
                Execute(m_hWnd, L"open", path.c_str(), nullptr);
                return;
            }
            std::wstring parent = ParentPath(path);
            if (parent.size() >= path.size())
                return;
            path = std::move(parent);
        }
        return;
    }
    const std::wstring arguments = L"/select, \"" + m_fileName + L"\"";
    Execute(m_hWnd, nullptr, L"explorer.exe", arguments.c_str());
}

void CManageSettingsDialog::ShowError(const std::wstring& text, bool focusFile)
{
    SystemServices().AskUser(text, MB_ICONERROR, m_hWnd, nullptr);
    if (focusFile)
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_fileEdit.m_hWnd), TRUE);
}

void CManageSettingsDialog::OnOK()
{
    TakeFileName();
    std::wstring text;
    try {
        switch (m_action) {
        case MSA_IMPORT:
            if (m_fileName.empty()) {
                LoadResString(IDS_FIELD_REQUIRED, text);
                ShowError(text, true);
                return;
            }
            if (!IsExistingSettingsFile(m_fileName)) {
                GetSystemMessageText(text, GetResourceModule(), ERROR_FILE_NOT_FOUND);
                ShowError(text, true);
                return;
            }
            ImportSettings(m_settings, m_fileName, m_configMask, m_appMask);
            break;
        case MSA_EXPORT: {
            if (m_fileName.empty()) {
                LoadResString(IDS_FIELD_REQUIRED, text);
                ShowError(text, true);
                return;
            }
            const std::wstring invalid = FindInvalidNameChars(m_fileName);
            if (!invalid.empty()) {
                FormatResString(text, IDS_INVALID_NAME_CHARS, invalid.c_str());
                ShowError(text, true);
                return;
            }
            ExportSettings(m_settings, m_fileName, m_configMask, m_appMask);
            break;
        }
        case MSA_RESET:
            ResetSettings(m_settings, m_configMask, m_appMask);
            break;
        default:
            return;
        }
    } catch (const std::exception& e) {
        // The dialog stays open with what the user chose; the message says what failed.
        ShowError(ExceptionText(e), false);
        return;
    }
    LoadResString(IDS_SUCCESSFULLY, text);
    SystemServices().AskUser(text, MB_ICONINFORMATION, m_hWnd, nullptr);
    EndModal(IDOK);
}

void CManageSettingsDialog::OnDestroy()
{
    m_host.ExchangeWindowPlacement(true, m_hWnd, kManageSettingsPlacementSlot, -1);
    const ManageSettingsState& stored = m_settings.manageSettings;
    const int storedAction = stored.mode >= MSA_IMPORT && stored.mode <= MSA_RESET ? stored.mode : MSA_IMPORT;
    if (m_action != storedAction || m_configMask != (static_cast<uint32_t>(stored.tParams) & kAllConfigGroups) ||
        m_appMask != (static_cast<uint32_t>(stored.aParams) & kAllAppGroups)) {
        auto edit = m_settings.EditManageSettings();
        edit->mode = m_action;
        edit->tParams = static_cast<int32_t>(m_configMask);
        edit->aParams = static_cast<int32_t>(m_appMask);
    }
    m_fileEdit.Destroy();
    m_list.Destroy();
    if (m_toolbar) {
        DestroyWindow(m_toolbar);
        m_toolbar = nullptr;
    }
}

bool CManageSettingsDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_MS_IMPORT:
    case IDC_MS_EXPORT:
    case IDC_MS_RESET:
        if (code == BN_CLICKED)
            SetAction(MSA_IMPORT + id - IDC_MS_IMPORT);
        return true;
    case IDC_MS_FILE:
        if (code == EN_KILLFOCUS && SendMessageW(m_fileEdit.m_hWnd, EM_GETMODIFY, 0, 0))
            TakeFileName();
        return true;
    case ID_MS_BROWSE:
        Browse();
        return true;
    case ID_MS_SHOW_FILE:
        ShowFile();
        return true;
    case ID_MS_CHECK_ALL:
        SetAllChecks(true);
        return true;
    case ID_MS_UNCHECK_ALL:
        SetAllChecks(false);
        return true;
    case ID_MS_SELECT_ALL:
        m_list.SelectAll();
        return true;
    case IDOK:
        OnOK();
        return true;
    default:
        return CModalDialog::OnCommand(id, code, control);
    }
}

bool CManageSettingsDialog::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->code == TTN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(nmh);
        m_host.GetCommandTipText(static_cast<UINT>(nmh->idFrom), m_tipText, static_cast<int>(std::size(m_tipText)));
        info->lpszText = m_tipText;
        *result = 0;
        return true;
    }
    if (id == IDC_MS_LIST) {
        switch (nmh->code) {
        case LVN_ITEMCHANGED:
            OnItemChanged(*reinterpret_cast<NMLISTVIEW*>(nmh));
            return true;
        case NM_RCLICK:
            ShowContextMenu();
            *result = 1;
            return true;
        default:
            break;
        }
    }
    return CModalDialog::OnNotify(id, nmh, result);
}
