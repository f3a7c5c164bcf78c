// The editor of the external tools (dialog 905): a working copy of the tools, stored back with
// Apply or OK.
#include "app/ExtToolsDialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>

#include "app/CommandTexts.h"
#include "app/ExtTools.h"
#include "app/NorvaneApp.h"
#include "config/KeyNumber.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "core/SysUtil.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "resources/resource.h"

namespace {

constexpr int kPlacementSlot = 7;
constexpr SIZE kMinTrackSize = {320, 450};

struct BarButton
{
    int command;
    int image;
};

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Expanded(const std::wstring& text)
{
    std::wstring out;
    return ExpandEnvStrings(text.c_str(), out) ? out : text;
}

void FillBar(HWND bar, std::initializer_list<BarButton> buttons)
{
    SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(App().GetSmallImageList()));
    for (const BarButton& b : buttons) {
        TBBUTTON button{};
        button.iBitmap = b.image;
        button.idCommand = b.command;
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON;
        SendMessageW(bar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
    }
}

} // namespace

std::wstring ResolveToolCommand(const std::wstring& command)
{
    if (IsFile(command))
        return command;
    std::wstring resolved = Expanded(command);
    if (IsFile(resolved) || resolved.find(L'\\') != std::wstring::npos)
        return resolved;
    wchar_t found[MAX_PATH] = {};
    if (SearchPathW(nullptr, resolved.c_str(), L".exe", MAX_PATH, found, nullptr) > 0 && IsFile(found))
        return found;
    std::wstring registered;
    if (FindAppPath(resolved.c_str(), registered) && IsFile(registered))
        return registered;
    return resolved;
}

CExtToolsDialog::CExtToolsDialog() : CModalDialog(IDD_EXT_TOOLS)
{
}

LRESULT CExtToolsDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {kMinTrackSize.cx, kMinTrackSize.cy};
        return 0;
    case WM_SIZE:
        if (m_layout.parent)
            ApplyLayout(m_layout, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_HELP:
        // F1 anywhere in the dialog: the dialog's own topic.
        GetApp()->ShowHelp(m_templateId);
        return TRUE;
    case WM_DESTROY:
        App().ExchangeWindowPlacement(true, hwnd, kPlacementSlot, -1);
        return CModalDialog::HandleMessage(hwnd, message, wParam, lParam);
    default:
        return CModalDialog::HandleMessage(hwnd, message, wParam, lParam);
    }
}

bool CExtToolsDialog::OnInitDialog()
{
    m_tools = App().GetSettings().extTools;
    FillBar(GetDlgItem(m_hWnd, IDC_ET_COMMAND_BAR), {{ID_ET_RUN, 5}, {ID_ET_BROWSE_PROGRAM, 3}, {ID_ET_GO_PROGRAM, 4}});
    FillBar(GetDlgItem(m_hWnd, IDC_ET_ARGUMENTS_BAR), {{ID_ET_CONFIGURE, 15}});
    FillBar(GetDlgItem(m_hWnd, IDC_ET_FOLDER_BAR), {{ID_ET_BROWSE_FOLDER, 3}, {ID_ET_GO_FOLDER, 4}});

    m_layout.parent = m_hWnd;
    m_layout.Add(IDC_ET_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_ET_ADD, IDC_ET_DELETE, IDC_ET_UP, IDC_ET_DOWN})
        m_layout.Add(id, ANCHOR_RIGHT | ANCHOR_TOP);
    for (int id : {IDC_ET_TITLE, IDC_ET_COMMAND, IDC_ET_ARGUMENTS, IDC_ET_FOLDER})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_ET_COMMAND_BAR, IDC_ET_ARGUMENTS_BAR, IDC_ET_FOLDER_BAR, IDOK, IDCANCEL, IDC_ET_APPLY})
        m_layout.Add(id, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_layout.Add(IDC_ET_ADMIN, ANCHOR_LEFT | ANCHOR_BOTTOM);
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) == -1) {
            RECT rc;
            GetWindowRect(child, &rc);
            MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
            AnchorItem item;
            item.controlId = -1;
            item.window = child;
            // The labels of the edits stay with them at the bottom; the list's label at the top.
            item.flags = rc.top < 20 ? ANCHOR_LEFT | ANCHOR_TOP : ANCHOR_LEFT | ANCHOR_BOTTOM;
            m_layout.items.push_back(item);
        }
    CaptureLayout(m_layout);
    App().ExchangeWindowPlacement(false, m_hWnd, kPlacementSlot, -1);

    FillList();
    Select(m_tools.empty() ? -1 : 0);
    return true;
}

void CExtToolsDialog::FillList()
{
    HWND list = GetDlgItem(m_hWnd, IDC_ET_LIST);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const _EXT_TOOL& tool : m_tools)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(tool.name.c_str()));
}

void CExtToolsDialog::Select(int index)
{
    m_selected = index;
    SendMessageW(GetDlgItem(m_hWnd, IDC_ET_LIST), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    const _EXT_TOOL none{};
    const _EXT_TOOL& tool = index >= 0 ? m_tools[index] : none;
    m_filling = true;
    SetDlgItemTextW(m_hWnd, IDC_ET_TITLE, tool.name.c_str());
    SetDlgItemTextW(m_hWnd, IDC_ET_COMMAND, tool.command.c_str());
    SetDlgItemTextW(m_hWnd, IDC_ET_ARGUMENTS, tool.arguments.c_str());
    SetDlgItemTextW(m_hWnd, IDC_ET_FOLDER, tool.initialDir.c_str());
    CheckItem(IDC_ET_ADMIN, (tool.flags & EXTTOOL_START_ADMIN) != 0);
    m_filling = false;
    m_commandChanged = false;
    m_edit = tool;
    UpdateStates();
}

void CExtToolsDialog::UpdateStates()
{
    const int count = static_cast<int>(m_tools.size());
    EnableWindow(GetDlgItem(m_hWnd, IDC_ET_ADD), count < kMaxExtTools);
    EnableWindow(GetDlgItem(m_hWnd, IDC_ET_DELETE), count > 0);
    EnableWindow(GetDlgItem(m_hWnd, IDC_ET_UP), m_selected > 0);
    EnableWindow(GetDlgItem(m_hWnd, IDC_ET_DOWN), m_selected >= 0 && m_selected < count - 1);
    EnableWindow(GetDlgItem(m_hWnd, IDC_ET_APPLY), m_modified);
    for (int id : {IDC_ET_TITLE, IDC_ET_COMMAND, IDC_ET_ARGUMENTS, IDC_ET_FOLDER, IDC_ET_ADMIN})
        EnableWindow(GetDlgItem(m_hWnd, id), m_selected >= 0);
}

void CExtToolsDialog::SetModified()
{
    m_modified = true;
    UpdateStates();
}

void CExtToolsDialog::ReadEdits()
{
    m_edit.name = ItemText(IDC_ET_TITLE);
    m_edit.command = ItemText(IDC_ET_COMMAND);
    m_edit.arguments = ItemText(IDC_ET_ARGUMENTS);
    m_edit.initialDir = ItemText(IDC_ET_FOLDER);
    m_edit.flags = IsItemChecked(IDC_ET_ADMIN) ? EXTTOOL_START_ADMIN : 0;
}

bool CExtToolsDialog::Refuse(int focusId, UINT stringId)
{
    if (stringId) {
        std::wstring text;
        LoadResString(stringId, text);
        SystemServices().AskUser(text, MB_OK | MB_ICONERROR, m_hWnd, nullptr);
    }
    SetFocus(GetDlgItem(m_hWnd, focusId));
    return false;
}

bool CExtToolsDialog::StoreEdits()
{
    if (m_selected < 0)
        return true;
    ReadEdits();
    if (m_edit.name.empty())
        return Refuse(IDC_ET_TITLE, IDS_FIELD_REQUIRED);
    if (m_commandChanged) {
        if (m_edit.command.empty())
            return Refuse(IDC_ET_COMMAND, IDS_FIELD_REQUIRED);
        if (!IsFile(ResolveToolCommand(m_edit.command))) {
            std::wstring text;
            LoadResString(IDS_ET_NOT_EXECUTABLE, text);
            if (SystemServices().AskUser(text, MB_OKCANCEL | MB_ICONWARNING, m_hWnd, nullptr) != IDOK)
                return Refuse(IDC_ET_COMMAND, 0);
        }
        m_commandChanged = false;
    }
    _EXT_TOOL& tool = m_tools[m_selected];
    if (tool.name != m_edit.name || tool.command != m_edit.command || tool.arguments != m_edit.arguments ||
        tool.initialDir != m_edit.initialDir) {
        const bool renamed = tool.name != m_edit.name;
        tool.name = m_edit.name;
        tool.command = m_edit.command;
        tool.arguments = m_edit.arguments;
        tool.initialDir = m_edit.initialDir;
        if (renamed) {
            HWND list = GetDlgItem(m_hWnd, IDC_ET_LIST);
            SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(m_selected), 0);
            SendMessageW(list, LB_INSERTSTRING, static_cast<WPARAM>(m_selected), reinterpret_cast<LPARAM>(tool.name.c_str()));
            SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(m_selected), 0);
        }
        SetModified();
    }
    return true;
}

void CExtToolsDialog::Add()
{
    if (!StoreEdits() || static_cast<int>(m_tools.size()) >= kMaxExtTools)
        return;
    std::vector<std::wstring> names;
    for (const _EXT_TOOL& tool : m_tools)
        names.push_back(tool.name);
    _EXT_TOOL tool;
    MakeUniqueToolName(names, tool.name);
    m_tools.push_back(tool);
    FillList();
    Select(static_cast<int>(m_tools.size()) - 1);
    SetModified();
}

void CExtToolsDialog::Delete()
{
    if (m_selected < 0)
        return;
    m_tools.erase(m_tools.begin() + m_selected);
    FillList();
    Select(std::min(m_selected, static_cast<int>(m_tools.size()) - 1));
    SetModified();
}

void CExtToolsDialog::Move(int by)
{
    const int other = m_selected + by;
    if (m_selected < 0 || other < 0 || other >= static_cast<int>(m_tools.size()) || !StoreEdits())
        return;
    std::swap(m_tools[m_selected], m_tools[other]);
    FillList();
    Select(other);
    SetModified();
}

bool CExtToolsDialog::Apply()
{
    if (!StoreEdits())
        return false;
    CAppSettings& settings = App().GetSettings();
    {
        CSettingsEdit<std::vector<_EXT_TOOL>> tools = settings.EditExtTools();
        *tools = m_tools;
    }
    m_modified = false;
    UpdateStates();
    return true;
}

void CExtToolsDialog::Run()
{
    ReadEdits();
    if (m_edit.command.empty())
        return;
    StartExternalTool(m_edit, App().GetSettings().GetLastTransfer().transferred);
}

void CExtToolsDialog::BrowseProgram()
{
    std::vector<std::wstring> names = {ResolveToolCommand(ItemText(IDC_ET_COMMAND))};
    if (!ShowFileDialog(names, nullptr, false, IDS_ET_PROGRAM_FILTER, m_hWnd,
                        OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ENABLESIZING | OFN_EXPLORER) ||
        names.empty())
        return;
    SetDlgItemTextW(m_hWnd, IDC_ET_COMMAND, names[0].c_str());
    m_commandChanged = true;
    SetModified();
}

void CExtToolsDialog::GoProgram()
{
    const std::wstring path = ResolveToolCommand(ItemText(IDC_ET_COMMAND));
    if (!IsFile(path))
        return;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    PIDLIST_ABSOLUTE item = nullptr;
    if (SUCCEEDED(SHParseDisplayName(path.c_str(), nullptr, &item, 0, nullptr)) && item) {
        SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
        CoTaskMemFree(item);
    }
    if (SUCCEEDED(com))
        CoUninitialize();
}

void CExtToolsDialog::InsertKeyNumber()
{
    HWND edit = GetDlgItem(m_hWnd, IDC_ET_ARGUMENTS);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"%KeyNum%"));
    SetModified();
}

void CExtToolsDialog::BrowseFolder()
{
    std::wstring start = ItemText(IDC_ET_FOLDER);
    if (!IsFolder(start))
        start = Expanded(start);
    wchar_t path[MAX_PATH] = {};
    lstrcpynW(path, start.c_str(), MAX_PATH);
    if (!::BrowseForFolder(m_hWnd, path))
        return;
    SetDlgItemTextW(m_hWnd, IDC_ET_FOLDER, path);
    SetModified();
}

void CExtToolsDialog::GoFolder()
{
    std::wstring folder = ItemText(IDC_ET_FOLDER);
    if (!IsFolder(folder))
        folder = Expanded(folder);
    if (IsFolder(folder))
        ShellOpen(L"explorer.exe", (L"\"" + folder + L"\"").c_str());
}

bool CExtToolsDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_ET_LIST:
        if (code == LBN_SELCHANGE) {
            const int now = static_cast<int>(SendMessageW(control, LB_GETCURSEL, 0, 0));
            if (now != m_selected) {
                if (StoreEdits())
                    Select(now);
                else
                    SendMessageW(control, LB_SETCURSEL, static_cast<WPARAM>(m_selected), 0);
            }
        }
        return true;
    case IDC_ET_ADD:
        Add();
        return true;
    case IDC_ET_DELETE:
        Delete();
        return true;
    case IDC_ET_UP:
        Move(-1);
        return true;
    case IDC_ET_DOWN:
        Move(1);
        return true;
    case IDC_ET_TITLE:
    case IDC_ET_COMMAND:
    case IDC_ET_ARGUMENTS:
    case IDC_ET_FOLDER:
        if (code == EN_CHANGE && !m_filling) {
            if (id == IDC_ET_COMMAND)
                m_commandChanged = true;
            SetModified();
        }
        return true;
    case IDC_ET_ADMIN:
        if (m_selected >= 0) {
            uint32_t& flags = m_tools[m_selected].flags;
            flags = IsItemChecked(IDC_ET_ADMIN) ? (flags | EXTTOOL_START_ADMIN)
                                                                           : (flags & ~EXTTOOL_START_ADMIN);
            SetModified();
        }
        return true;
    case IDC_ET_APPLY:
        Apply();
        return true;
    case ID_ET_RUN:
        Run();
        return true;
    case ID_ET_BROWSE_PROGRAM:
        BrowseProgram();
        return true;
    case ID_ET_GO_PROGRAM:
        GoProgram();
        return true;
    case ID_ET_CONFIGURE: {
        LPCWSTR name = MAKEINTRESOURCEW(IDM_ET_ARGUMENTS);
        if (HMENU menu = LoadMenuW(FindResourceModule(name, RT_MENU), name)) {
            POINT at;
            GetCursorPos(&at);
            TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
            DestroyMenu(menu);
        }
        return true;
    }
    case ID_ET_KEY_NUMBER:
        InsertKeyNumber();
        return true;
    case ID_ET_BROWSE_FOLDER:
        BrowseFolder();
        return true;
    case ID_ET_GO_FOLDER:
        GoFolder();
        return true;
    default:
        return CModalDialog::OnCommand(id, code, control);
    }
}

bool CExtToolsDialog::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->code == TTN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(nmh);
        GetCommandTipText(static_cast<UINT>(nmh->idFrom), info->szText, static_cast<int>(std::size(info->szText)));
        return true;
    }
    return CModalDialog::OnNotify(id, nmh, result);
}

INT_PTR RunExtToolsDialog(HWND owner)
{
    CExtToolsDialog dialog;
    return dialog.RunModal(owner);
}
