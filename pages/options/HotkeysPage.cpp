#include "pages/options/HotkeysPage.h"

#include <windowsx.h>

#include <algorithm>

#include "config/AppSettings.h"
#include "core/TextUtil.h"
#include "framework/KeyNames.h"
#include "framework/WinApp.h"
#include "config/ActionCatalogue.h"
#include "pages/PageHost.h"
#include "pages/PageTable.h"
#include "resources/resource.h"

namespace {

constexpr COLORREF kGroupColor = RGB(0, 0, 255);
constexpr WORD kModifiers = HOTKEY_MOD_ALT | HOTKEY_MOD_CTRL | HOTKEY_MOD_SHIFT | HOTKEY_MOD_WIN;
constexpr uint32_t kHideUnassigned = 0x1;

const std::vector<int> kColumnTitles = {IDS_HOTKEYS_COL_ACTION, IDS_HOTKEYS_COL_SHORTCUT, IDS_HOTKEYS_COL_GLOBAL};

// Capture fields that have the focus, in the whole process.
int g_focusedCaptures = 0;

bool IsModifierKey(UINT key)
{
    return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_LWIN || key == VK_RWIN ||
           key == VK_APPS || key == VK_LSHIFT || key == VK_RSHIFT || key == VK_LCONTROL || key == VK_RCONTROL ||
           key == VK_LMENU || key == VK_RMENU;
}

WORD HeldModifiers()
{
    WORD modifiers = 0;
    if (GetKeyState(VK_CONTROL) < 0)
        modifiers |= HOTKEY_MOD_CTRL;
    if (GetKeyState(VK_MENU) < 0)
        modifiers |= HOTKEY_MOD_ALT;
    if (GetKeyState(VK_SHIFT) < 0)
        modifiers |= HOTKEY_MOD_SHIFT;
    if (GetKeyState(VK_LWIN) < 0 || GetKeyState(VK_RWIN) < 0)
        modifiers |= HOTKEY_MOD_WIN;
    return modifiers;
}

} // namespace

// ---- Rows ----

void CHotKeysLvData::Rebuild(bool hideUnassigned)
{
    m_rows.clear();
    int lastGroup = 0;
    for (size_t i = 0; i < m_catalogue->actions.size(); ++i) {
        const ActionEntry& action = m_catalogue->actions[i];
        if (hideUnassigned && EntryOf(action.command) < 0)
            continue;
        if (action.group != lastGroup) {
            lastGroup = action.group;
            if (lastGroup != 0)
                m_rows.push_back(-lastGroup);
        }
        m_rows.push_back(static_cast<int>(i));
    }
}

int CHotKeysLvData::ActionOf(int row) const
{
    return row >= 0 && row < GetCount() && m_rows[row] >= 0 ? m_rows[row] : -1;
}

int CHotKeysLvData::CommandOf(int row) const
{
    const int action = ActionOf(row);
    return action >= 0 ? m_catalogue->actions[action].command : 0;
}

int CHotKeysLvData::RowOf(int command) const
{
    for (int row = 0; row < GetCount(); ++row)
        if (command != 0 && CommandOf(row) == command)
            return row;
    return -1;
}

int CHotKeysLvData::EntryOf(int command) const
{
    const std::vector<uint32_t>& hotkeys = m_settings.hotkeys;
    for (size_t i = 0; i < hotkeys.size(); ++i)
        if (HotkeyEntryCommand(hotkeys[i]) == command)
            return static_cast<int>(i);
    return -1;
}

std::wstring CHotKeysLvData::ActionName(int action) const
{
    const ActionEntry& entry = m_catalogue->actions[action];
    // Every tool command, the eighth included, shows its tool's title.
    const int tool = entry.command - ID_EXT_TOOL_FIRST;
    if (tool >= 0 && tool < kMaxExtTools && tool < static_cast<int>(m_settings.extTools.size()))
        return m_settings.extTools[tool].name;
    return entry.name;
}

void CHotKeysLvData::GetDispInfo(LVITEMW* item)
{
    if (item->iItem < 0 || item->iItem >= GetCount())
        return;
    const int value = m_rows[item->iItem];
    const int entry = value >= 0 ? EntryOf(m_catalogue->actions[value].command) : -1;
    if (item->mask & LVIF_TEXT) {
        m_text.clear();
        if (item->iSubItem == 0) {
            if (value < 0) {
                const size_t group = static_cast<size_t>(-value - 1);
                if (group < m_catalogue->groups.size())
                    m_text = m_catalogue->groups[group];
            } else {
                m_text = ActionName(value);
            }
        } else if (item->iSubItem == 1 && entry >= 0) {
            HotkeyText(m_text, HotkeyEntryWord(m_settings.hotkeys[entry]) & ~HOTKEY_GLOBAL);
        }
        item->pszText = const_cast<wchar_t*>(m_text.c_str());
    }
    if (item->mask & LVIF_IMAGE) {
        item->iImage = -1;
        if (item->iSubItem == 2 && entry >= 0)
            item->iImage = (m_settings.hotkeys[entry] & HOTKEY_GLOBAL) ? 1 : 0;
    }
}

// ---- Capture ----

std::wstring CaptureText(WORD shortcut)
{
    std::wstring text;
    if (shortcut & HOTKEY_MOD_CTRL)
        text += L"Ctrl + ";
    if (shortcut & HOTKEY_MOD_SHIFT)
        text += L"Shift + ";
    if (shortcut & HOTKEY_MOD_ALT)
        text += L"Alt + ";
    if (shortcut & HOTKEY_MOD_WIN)
        text += L"Win + ";
    if (const UINT key = shortcut & 0xFF) {
        std::wstring name;
        if (KeyNameText(name, key) > 0)
            text += name;
    }
    return text;
}

UINT HotkeyWarning(WORD shortcut)
{
    const UINT key = shortcut & 0xFF;
    const WORD modifiers = shortcut & kModifiers;
    if (key == 0)
        return 0;
    // Control characters (Backspace, Tab, Enter, Escape) type nothing.
    if ((modifiers == 0 || modifiers == HOTKEY_MOD_SHIFT) && (MapVirtualKeyW(key, MAPVK_VK_TO_CHAR) & 0x7FFFFFFF) >= 0x20)
        return modifiers == 0 ? IDS_HOTKEY_PRINTABLE : IDS_HOTKEY_SHIFT_PRINTABLE;
    if (modifiers == 0) {
        switch (key) {
        case VK_BACK: case VK_TAB: case VK_RETURN: case VK_ESCAPE: case VK_PRIOR: case VK_NEXT:
        case VK_END: case VK_HOME: case VK_LEFT: case VK_UP: case VK_RIGHT: case VK_DOWN:
        case VK_INSERT: case VK_DELETE:
            return IDS_HOTKEY_EDITING_KEY;
        default:
            break;
        }
    }
    return 0;
}

LRESULT CHotkeyCaptureEdit::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETDLGCODE:
        // Tab still moves the focus; Ctrl+Tab is a shortcut like any other.
        if (lParam) {
            const MSG* msg = reinterpret_cast<const MSG*>(lParam);
            if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0)
                return DefaultProc();
        }
        return DLGC_WANTALLKEYS | DefaultProc();
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
        if (page && page->OnCaptureKey(message, wParam))
            return 0;
        return DefaultProc();
    case WM_CHAR:
    case WM_SYSCHAR:
    case WM_RBUTTONDOWN:
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
        const LRESULT result = DefaultProc();
        if (page)
            page->OnCaptureFocus(message == WM_SETFOCUS);
        return result;
    }
    default:
        return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
    }
}

// ---- Page ----

std::unique_ptr<CBasePage> CreateHotkeysPage(IPageHost& host)
{
    return std::make_unique<CHotkeysPage>(host);
}

CHotkeysPage::CHotkeysPage(IPageHost& host) : CBasePage(IDD_HOTKEYS_PAGE, &host)
{
    m_capture.page = this;
    m_rowList = &m_list;
}

CHotkeysPage::~CHotkeysPage()
{
    if (m_captureFocused)
        OnCaptureFocus(false);
    if (m_balloon)
        DestroyWindow(m_balloon);
    if (m_images)
        ImageList_Destroy(m_images);
    if (m_boldFont)
        DeleteObject(m_boldFont);
}

CAppSettings& CHotkeysPage::Settings()
{
    return m_host->GetSettings();
}

bool CHotkeysPage::OnInitDialog()
{
    m_layout.parent = m_hWnd;
    m_layout.Add(IDC_HOTKEYS_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_HOTKEYS_CAPTURE, IDC_HOTKEYS_GLOBAL, IDC_HOTKEYS_ASSIGN, IDC_HOTKEYS_REMOVE,
                   IDC_HOTKEYS_UNASSIGNED, IDC_HOTKEYS_UNASSIGNED_LABEL})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    CaptureLayout(m_layout);

    m_data = std::make_unique<CHotKeysLvData>(Settings(), m_host->GetActionCatalogue());
    m_list.Attach(Item(IDC_HOTKEYS_LIST));
    m_list.SetSettings(&m_host->GetTableSettings());
    m_list.SetData(m_data.get());
    m_list.events.activate = [this](int, POINT) { FocusCapture(); };
    m_list.events.keyDown = [this](WORD key, unsigned modifiers) {
        if (!m_data || key != VK_DELETE || (modifiers & (LIST_KEY_CTRL | LIST_KEY_ALT)))
            return false;
        Remove();
        return true;
    };
    m_list.tableEvents.drawItem = [this](NMLVCUSTOMDRAW* draw, LRESULT* result) { DrawGroupRow(draw, result); };
    m_list.tableEvents.columnsChanged = [this](int, int) { *Settings().EditColumns(COLS_HOTKEYS) = m_list.GetColumns(); };
    AnswerTableDefaults(m_list, COLS_HOTKEYS, false);
    ListView_SetExtendedListViewStyle(m_list.m_hWnd, LVS_EX_LABELTIP | LVS_EX_FULLROWSELECT |
                                                          LVS_EX_HEADERDRAGDROP | LVS_EX_SUBITEMIMAGES);
    LPCWSTR bitmap = MAKEINTRESOURCEW(IDB_CHECK_IMAGES);
    m_images = ImageList_LoadImageW(FindResourceModule(bitmap, RT_BITMAP), bitmap, 16, 0, RGB(255, 0, 255),
                                    IMAGE_BITMAP, LR_CREATEDIBSECTION);
    ListView_SetImageList(m_list.m_hWnd, m_images, LVSIL_SMALL);
    LOGFONTW font{};
    if (GetObjectW(reinterpret_cast<HFONT>(m_list.Send(WM_GETFONT)), sizeof font, &font)) {
        font.lfWeight = FW_BOLD;
        m_boldFont = CreateFontIndirectW(&font);
    }
    m_capture.Attach(Item(IDC_HOTKEYS_CAPTURE));
    ExchangeData(false);
    Observe(Settings());
    return true;
}

void CHotkeysPage::OnSize(UINT, int width, int height)
{
    ApplyLayout(m_layout, width, height);
}

void CHotkeysPage::FocusCapture()
{
    if (IsWindowEnabled(m_capture.m_hWnd))
        SetFocus(m_capture.m_hWnd);
}

void CHotkeysPage::DrawGroupRow(NMLVCUSTOMDRAW* draw, LRESULT* result)
{
    if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT || !m_data->IsGroupRow(static_cast<int>(draw->nmcd.dwItemSpec)))
        return;
    if (m_boldFont)
        SelectObject(draw->nmcd.hdc, m_boldFont);
    if (IsWindowEnabled(m_list.m_hWnd))
        draw->clrText = kGroupColor;
    *result = CDRF_NEWFONT;
}

void CHotkeysPage::OnDestroy()
{
    HideWarning();
    if (m_captureFocused)
        OnCaptureFocus(false);
}

void CHotkeysPage::ExchangeData(bool save)
{
    if (save || !m_hWnd)
        return;
    UpdatingScope updating(m_hWnd);
    CAppSettings& settings = Settings();
    CheckItem(IDC_HOTKEYS_ENABLED, settings.IsHotkeysEnabled());
    const bool hide = (settings.GetHotkeysFilterFlags() & kHideUnassigned) != 0;
    CheckItem(IDC_HOTKEYS_UNASSIGNED, !(hide));
    m_list.ApplyLook(TABLE_LOOK_NOSORT | TABLE_LOOK_GRID);
    RebuildRows(true);
    EnableWindow(m_list.m_hWnd, settings.IsHotkeysEnabled());
    UpdateSelection();
}

void CHotkeysPage::RebuildRows(bool columns)
{
    if (columns) {
        m_list.SetColumns(Settings().Columns(COLS_HOTKEYS), kColumnTitles);
        m_list.ApplyColumns();
    }
    const int top = ListView_GetTopIndex(m_list.m_hWnd);
    std::vector<int> rows;
    m_list.GetSelectedItems(rows);
    if (rows.size() == 1 && m_data->CommandOf(rows[0]) != 0)
        m_keepCommand = m_data->CommandOf(rows[0]);
    m_data->Rebuild((Settings().GetHotkeysFilterFlags() & kHideUnassigned) != 0);
    ListView_SetItemCountEx(m_list.m_hWnd, m_data->GetItemCount(), LVSICF_NOSCROLL);
    const int keep = m_data->RowOf(m_keepCommand);
    if (keep >= 0)
        m_list.SelectOnly(keep, false);
    m_list.ScrollRowToTop(top);
    InvalidateRect(m_list.m_hWnd, nullptr, FALSE);
    m_selectionChanged = true;
    m_host->MarkDirty(HostUpdate::PageIdle);
}

std::vector<int> CHotkeysPage::SelectedActionRows()
{
    std::vector<int> rows;
    m_list.GetSelectedItems(rows);
    std::erase_if(rows, [&](int row) { return m_data->ActionOf(row) < 0; });
    return rows;
}

void CHotkeysPage::OnIdleUpdate()
{
    if (m_selectionChanged)
        UpdateSelection();
}

void CHotkeysPage::UpdateSelection()
{
    m_selectionChanged = false;
    HideWarning();
    const std::vector<int> rows = SelectedActionRows();
    const CAppSettings& settings = Settings();
    HWND global = Item(IDC_HOTKEYS_GLOBAL);
    auto isGlobal = [&](int row) {
        const int entry = m_data->EntryOf(m_data->CommandOf(row));
        return entry >= 0 && (settings.hotkeys[entry] & HOTKEY_GLOBAL) != 0;
    };
    m_selectionMode = 0;
    if (rows.empty()) {
        EnableWindow(m_capture.m_hWnd, FALSE);
        m_stored = 0;
        SetCaptured(0);
        SendMessageW(global, BM_SETSTYLE, BS_AUTOCHECKBOX, TRUE);
        CheckItem(IDC_HOTKEYS_GLOBAL, false);
        EnableWindow(global, FALSE);
    } else {
        const bool first = isGlobal(rows[0]);
        const bool agree = std::all_of(rows.begin(), rows.end(), [&](int row) { return isGlobal(row) == first; });
        m_selectionMode = (rows.size() == 1 ? 1 : 0) | (agree ? 2 : 0);
        if (rows.size() == 1) {
            const int entry = m_data->EntryOf(m_data->CommandOf(rows[0]));
            m_stored = entry >= 0 ? HotkeyEntryWord(settings.hotkeys[entry]) & ~HOTKEY_GLOBAL : 0;
            EnableWindow(m_capture.m_hWnd, TRUE);
            SetCaptured(m_stored);
        } else {
            m_stored = 0;
            SetCaptured(0);
            EnableWindow(m_capture.m_hWnd, FALSE);
        }
        SendMessageW(global, BM_SETSTYLE, agree ? BS_AUTOCHECKBOX : BS_AUTO3STATE, TRUE);
        SetItemCheckState(IDC_HOTKEYS_GLOBAL, agree ? (first ? BST_CHECKED : BST_UNCHECKED) : BST_INDETERMINATE);
        EnableWindow(global, agree);
    }
    EnableItem(IDC_HOTKEYS_ASSIGN, m_captured != 0);
    EnableItem(IDC_HOTKEYS_REMOVE, !rows.empty());
}

void CHotkeysPage::SetCaptured(WORD shortcut)
{
    m_captured = shortcut;
    const std::wstring text = CaptureText(shortcut);
    SetWindowTextW(m_capture.m_hWnd, text.c_str());
    SendMessageW(m_capture.m_hWnd, EM_SETSEL, text.size(), text.size());
}

void CHotkeysPage::FinishCapture()
{
    if ((m_captured & 0xFF) == 0 && m_captured != 0)
        SetCaptured(0);
    ShowWarning();
    EnableItem(IDC_HOTKEYS_ASSIGN, m_captured != 0);
}

bool CHotkeysPage::OnCaptureKey(UINT message, WPARAM key)
{
    if (message == WM_KEYUP || message == WM_SYSKEYUP) {
        if (m_captured & 0xFF) {
            FinishCapture();
        } else {
            m_captured = HeldModifiers();
            SetCaptured(m_captured);
            FinishCapture();
        }
        return true;
    }
    const WORD modifiers = HeldModifiers();
    if (modifiers == 0) {
        switch (key) {
        case VK_BACK:
            SetCaptured(0);
            FinishCapture();
            return true;
        case VK_RETURN:
            FinishCapture();
            if (m_captured != 0)
                Assign();
            else
                Remove();
            return true;
        case VK_ESCAPE:
            SetCaptured(m_stored);
            FinishCapture();
            return true;
        default:
            break;
        }
    }
    WORD value = modifiers;
    if (!IsModifierKey(static_cast<UINT>(key)))
        value |= static_cast<WORD>(key & 0xFF);
    SetCaptured(value);
    ShowWarning();
    return true;
}

void CHotkeysPage::OnCaptureFocus(bool focused)
{
    if (focused == m_captureFocused)
        return;
    m_captureFocused = focused;
    const int before = g_focusedCaptures;
    g_focusedCaptures = std::max(0, g_focusedCaptures + (focused ? 1 : -1));
    if ((before == 0) != (g_focusedCaptures == 0))
        m_host->SetHotkeyCapture(focused);
    if (!focused && m_hWnd)
        FinishCapture();
}

void CHotkeysPage::ShowWarning()
{
    UINT warning = HotkeyWarning(m_captured);
    // A local shortcut with Win never reaches the main window's accelerators.
    if (warning == 0 && (m_captured & HOTKEY_MOD_WIN) && (m_captured & 0xFF) &&
        GetItemCheckState(IDC_HOTKEYS_GLOBAL) == BST_UNCHECKED)
        warning = IDS_HOTKEY_WIN_LOCAL;
    if (warning == 0) {
        HideWarning();
        return;
    }
    if (warning == m_warning)
        return;
    m_warning = warning;
    if (!m_balloon) {
        m_balloon = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                    WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, nullptr, nullptr);
        if (!m_balloon)
            return;
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_TRACK | TTF_CENTERTIP | TTF_TRANSPARENT | TTF_IDISHWND;
        tool.hwnd = m_hWnd;
        tool.uId = reinterpret_cast<UINT_PTR>(m_capture.m_hWnd);
        tool.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(m_balloon, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(m_balloon, TTM_SETMAXTIPWIDTH, 0, 300);
    }
    std::wstring text;
    LoadResString(warning, text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(m_capture.m_hWnd);
    tool.lpszText = text.data();
    SendMessageW(m_balloon, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    RECT rc;
    GetWindowRect(m_capture.m_hWnd, &rc);
    SendMessageW(m_balloon, TTM_TRACKPOSITION, 0, MAKELPARAM(rc.left, (rc.top + rc.bottom) / 2));
    SendMessageW(m_balloon, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
}

void CHotkeysPage::HideWarning()
{
    m_warning = 0;
    if (!m_balloon)
        return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(m_capture.m_hWnd);
    SendMessageW(m_balloon, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
}

void CHotkeysPage::Assign()
{
    if (m_selectionMode == 0)
        return;
    const UINT box = GetItemCheckState(IDC_HOTKEYS_GLOBAL);
    const bool applyGlobal = box != BST_INDETERMINATE;
    const bool global = box == BST_CHECKED;
    const std::vector<int> rows = SelectedActionRows();
    CAppSettings& settings = Settings();
    {
        CSettingsEdit<std::vector<uint32_t>> hotkeys = settings.EditHotkeys();
        for (int row : rows) {
            const int command = m_data->CommandOf(row);
            const int entry = m_data->EntryOf(command);
            if (entry >= 0) {
                uint32_t value = (*hotkeys)[entry];
                if (m_selectionMode & 1)
                    value = (value & ~0x7FFFu) | (m_captured & 0x7FFF);
                if (applyGlobal)
                    value = global ? (value | HOTKEY_GLOBAL) : (value & ~HOTKEY_GLOBAL);
                (*hotkeys)[entry] = value;
            } else if ((m_selectionMode & 1) && m_captured != 0) {
                hotkeys->push_back(MakeHotkeyEntry(static_cast<uint16_t>(command),
                                                   static_cast<uint16_t>((m_captured & 0x7FFF) | (global ? HOTKEY_GLOBAL : 0))));
            }
        }
    }
}

void CHotkeysPage::Remove()
{
    const std::vector<int> rows = SelectedActionRows();
    if (rows.empty())
        return;
    CSettingsEdit<std::vector<uint32_t>> hotkeys = Settings().EditHotkeys();
    for (int row : rows) {
        const int command = m_data->CommandOf(row);
        std::erase_if(*hotkeys, [&](uint32_t entry) { return HotkeyEntryCommand(entry) == command; });
    }
}

void CHotkeysPage::ToggleUnassigned()
{
    CAppSettings& settings = Settings();
    settings.SetHotkeysFilterFlags(settings.GetHotkeysFilterFlags() ^ kHideUnassigned);
    SetItemCheckState(IDC_HOTKEYS_UNASSIGNED,
                   (settings.GetHotkeysFilterFlags() & kHideUnassigned) ? BST_UNCHECKED : BST_CHECKED);
    RebuildRows(false);
}

void CHotkeysPage::OnListMenu(POINT at)
{
    TrackMenu(IDM_HOTKEYS, ContextMenuPoint(m_list.m_hWnd, at), [this](HMENU popup) {
        std::vector<int> rows;
        EnableMenuItem(popup, ID_HOTKEYS_DELETE, m_list.GetSelectedItems(rows) ? MF_ENABLED : MF_GRAYED);
        CheckMenuItem(popup, ID_HOTKEYS_SHOW_UNASSIGNED,
                      (Settings().GetHotkeysFilterFlags() & kHideUnassigned) ? MF_UNCHECKED : MF_CHECKED);
        m_host->PrepareMenu(popup);
    }, TPM_LEFTALIGN | TPM_RIGHTBUTTON);
}

bool CHotkeysPage::OnCommand(int id, int code, HWND control)
{
    CAppSettings& settings = Settings();
    switch (id) {
    case IDC_HOTKEYS_ENABLED:
        settings.SetHotkeysEnabled(!settings.IsHotkeysEnabled());
        EnableWindow(m_list.m_hWnd, settings.IsHotkeysEnabled());
        return true;
    case IDC_HOTKEYS_ASSIGN:
        Assign();
        return true;
    case IDC_HOTKEYS_REMOVE:
    case ID_HOTKEYS_DELETE:
        Remove();
        return true;
    case IDC_HOTKEYS_UNASSIGNED:
    case ID_HOTKEYS_SHOW_UNASSIGNED:
        ToggleUnassigned();
        return true;
    case ID_HOTKEYS_SELECT_ALL:
        ListView_SetItemState(m_list.m_hWnd, -1, LVIS_SELECTED, LVIS_SELECTED);
        return true;
    case IDC_HOTKEYS_GLOBAL:
        if (IsWindowVisible(m_balloon) || (m_captured & HOTKEY_MOD_WIN)) {
            m_warning = 0;
            ShowWarning();
        }
        return true;
    default:
        return CBasePage::OnCommand(id, code, control);
    }
}

void CHotkeysPage::RestoreDefaults()
{
    CAppSettings& settings = Settings();
    CDocUpdateScope scope(settings);
    {
        CSettingsEdit<std::vector<uint32_t>> hotkeys = settings.EditHotkeys();
        SetDefaultHotkeys(*hotkeys);
    }
    settings.SetHotkeysEnabled(true);
    settings.SetHotkeysFilterFlags(0);
    *settings.EditColumns(COLS_HOTKEYS) = GetDefaultColumns(COLS_HOTKEYS);
    settings.RaiseUiChange(ASU_HOTKEYS_COLUMNS, true);
}

bool CHotkeysPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (id != IDC_HOTKEYS_LIST || !m_data)
        return CBasePage::OnNotify(id, nmh, result);
    switch (nmh->code) {
    case LVN_ITEMCHANGED:
        m_selectionChanged = true;
        m_host->MarkDirty(HostUpdate::PageIdle);
        return true;
    case NM_CLICK: {
        const auto* click = reinterpret_cast<NMITEMACTIVATE*>(nmh);
        LVHITTESTINFO hit{};
        hit.pt = click->ptAction;
        if (ListView_SubItemHitTest(m_list.m_hWnd, &hit) >= 0 && (hit.flags & LVHT_ONITEMICON) &&
            hit.iSubItem >= 0 && hit.iSubItem < static_cast<int>(m_list.GetVisibleMap().size()) &&
            m_list.GetVisibleMap()[hit.iSubItem] == 2) {
            const int entry = m_data->EntryOf(m_data->CommandOf(hit.iItem));
            if (entry >= 0) {
                CSettingsEdit<std::vector<uint32_t>> hotkeys = Settings().EditHotkeys();
                (*hotkeys)[entry] ^= HOTKEY_GLOBAL;
            }
        }
        return true;
    }
    case NM_RETURN:
        FocusCapture();
        return true;
    default:
        return CBasePage::OnNotify(id, nmh, result);
    }
}

void CHotkeysPage::OnDocumentChanged(CDocument*, const uint32_t* bits)
{
    if (!m_hWnd)
        return;
    CAppSettings& settings = Settings();
    const uint32_t change = bits[0];
    const uint32_t ui = settings.GetDetails().ui;
    if (change & ASC_HOTKEYS_ON) {
        CheckItem(IDC_HOTKEYS_ENABLED, settings.IsHotkeysEnabled());
        EnableWindow(m_list.m_hWnd, settings.IsHotkeysEnabled());
    }
    const bool columns = (change & ASC_UI) && (ui & ASU_HOTKEYS_COLUMNS);
    if ((change & (ASC_HOTKEYS | ASC_EXT_TOOLS)) || ((change & ASC_UI) && (ui & (ASU_HOTKEYS_COLUMNS | ASU_HOTKEYS_FILTER)))) {
        if ((change & ASC_UI) && (ui & ASU_HOTKEYS_FILTER))
            SetItemCheckState(IDC_HOTKEYS_UNASSIGNED,
                           (settings.GetHotkeysFilterFlags() & kHideUnassigned) ? BST_UNCHECKED : BST_CHECKED);
        RebuildRows(columns);
    }
    if (change & ASC_UI)
        m_list.ApplyLook(TableLookChanges(ui) & (TABLE_LOOK_NOSORT | TABLE_LOOK_GRID));
}
