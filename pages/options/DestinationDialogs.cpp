// The command-line and HTTP request dialogs.
#include "pages/options/DestinationDialogs.h"

#include <commctrl.h>
#include <shlobj.h>
#include <memory>
#include <vector>

#include "config/TransferDoc.h"
#include "core/File.h"
#include "framework/Holders.h"
#include "framework/MessageBox.h"
#include "framework/SysFunctions.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "resources/resource.h"

namespace {

// Placement slots of the application's table.
constexpr int kHttpRequestSlot = 6;
constexpr int kCmdLineSlot = 8;

constexpr int kImageBrowse = 3;
constexpr int kImageShow = 4;
constexpr int kImageMenu = 15;

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::wstring ResolveTypedFolder(const std::wstring& typed)
{
    if (IsFolder(typed))
        return typed;
    std::wstring expanded;
    return ExpandEnvStrings(typed.c_str(), expanded) ? expanded : typed;
}

std::wstring TrimSpaces(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

void ShowInExplorer(const std::wstring& path)
{
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(init))
        return;
    PIDLIST_ABSOLUTE item = nullptr;
    if (SUCCEEDED(SHParseDisplayName(path.c_str(), nullptr, &item, 0, nullptr)) && item) {
        SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
        CoTaskMemFree(item);
    }
    CoUninitialize();
}

// ---- CDestinationDialog ----

CDestinationDialog::CDestinationDialog(int templateId, IPageHost& host, int placementSlot, SIZE minTrack)
    : CModalDialog(templateId), m_host(host), m_placementSlot(placementSlot)
{
    m_minTrackSize = minTrack;
    m_commandTips = &host;
}

bool CDestinationDialog::OnInitDialog()
{
    m_layout.parent = m_hWnd;
    OnInitFields();
    CaptureLayout(m_layout);
    SetModified(false);
    m_host.ExchangeWindowPlacement(false, m_hWnd, m_placementSlot);
    return true;
}

void CDestinationDialog::OnSize(UINT, int width, int height)
{
    if (m_layout.parent)
        ApplyLayout(m_layout, width, height);
}

void CDestinationDialog::OnDestroy()
{
    m_host.ExchangeWindowPlacement(true, m_hWnd, m_placementSlot);
}

bool CDestinationDialog::OnCommand(int id, int code, HWND control)
{
    if (code == EN_CHANGE) {
        SetModified(true);
        return true;
    }
    if (m_placeholderButton && id == m_placeholderButton) {
        TrackMenu(m_placeholderMenu, POINT{-1, -1}, {}, TPM_LEFTALIGN | TPM_RIGHTBUTTON);
        return true;
    }
    for (const Placeholder& placeholder : m_placeholders) {
        if (id == placeholder.command) {
            InsertIntoEdit(m_placeholderEdit, placeholder.text);
            return true;
        }
    }
    switch (id) {
    case IDC_DST_APPLY:
        Apply();
        return true;
    default:
        return CModalDialog::OnCommand(id, code, control);
    }
}

bool CDestinationDialog::OnAccept()
{
    if (m_modified)
        Apply();
    return true;
}

void CDestinationDialog::SetupToolbar(int toolbarId, const ToolButton* buttons, int count)
{
    HWND toolbar = Item(toolbarId);
    SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_host.GetImageList(HostImages::Small)));
    std::vector<TBBUTTON> items;
    for (int i = 0; i < count; ++i)
        items.push_back(TBBUTTON{buttons[i].image, buttons[i].command, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_AUTOSIZE, {}, 0, 0});
    SendMessageW(toolbar, TB_ADDBUTTONSW, items.size(), reinterpret_cast<LPARAM>(items.data()));
    FitToolbar(toolbar, ANCHOR_RIGHT);
    ShowWindow(toolbar, SW_SHOWNA);
    m_layout.Add(toolbarId, ANCHOR_TOP | ANCHOR_RIGHT);
}

void CDestinationDialog::SetModified(bool modified)
{
    m_modified = modified;
    EnableItem(IDC_DST_APPLY, modified);
}

void CDestinationDialog::InsertIntoEdit(int editId, const wchar_t* text)
{
    HWND edit = Item(editId);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
    SendMessageW(edit, EM_SETMODIFY, TRUE, 0);
    SetModified(true);
}

// ---- CCmdLineDialog ----

CCmdLineDialog::CCmdLineDialog(IPageHost& host) : CDestinationDialog(IDD_CMDLINE, host, kCmdLineSlot, SIZE{350, 250})
{
    m_placeholderEdit = IDC_CMD_ARGUMENTS;
    m_placeholderButton = ID_CMD_ARGUMENTS_MENU;
    m_placeholderMenu = IDM_CMDLINE_ARGUMENTS;
    m_placeholders = {{ID_CMD_KEY_NUMBER, L"%KeyNum%"}};
}

void CCmdLineDialog::OnInitFields()
{
    static const ToolButton program[] = {{kImageBrowse, ID_CMD_BROWSE_PROGRAM}, {kImageShow, ID_CMD_SHOW_PROGRAM}};
    static const ToolButton arguments[] = {{kImageMenu, ID_CMD_ARGUMENTS_MENU}};
    static const ToolButton folder[] = {{kImageBrowse, ID_CMD_BROWSE_DIR}, {kImageShow, ID_CMD_SHOW_DIR}};
    SetupToolbar(IDC_CMD_PROGRAM_BAR, program, 2);
    SetupToolbar(IDC_CMD_ARGUMENTS_BAR, arguments, 1);
    SetupToolbar(IDC_CMD_INITIAL_DIR_BAR, folder, 2);
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (id == IDOK || id == IDCANCEL || id == IDC_DST_APPLY)
            m_layout.Add(id, ANCHOR_RIGHT | ANCHOR_BOTTOM);
        else if (id != IDC_CMD_PROGRAM_BAR && id != IDC_CMD_ARGUMENTS_BAR && id != IDC_CMD_INITIAL_DIR_BAR)
            m_layout.Add(id, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    }
    const _TRANS_DST_CMDLINE& record = m_host.GetTransferDoc().CmdLine();
    m_program = record.program;
    m_arguments = record.arguments;
    m_initialDir = record.initialDir;
    UpdatingScope updating(m_hWnd);
    SetItemText(IDC_CMD_PROGRAM, m_program.c_str());
    SetItemText(IDC_CMD_ARGUMENTS, m_arguments.c_str());
    SetItemText(IDC_CMD_INITIAL_DIR, m_initialDir.c_str());
}

bool CCmdLineDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case ID_CMD_BROWSE_PROGRAM:
        BrowseProgram();
        return true;
    case ID_CMD_SHOW_PROGRAM:
        if (const std::wstring program = ItemText(IDC_CMD_PROGRAM); IsFile(program))
            ShowInExplorer(program);
        return true;
    case ID_CMD_BROWSE_DIR:
        BrowseFolder();
        return true;
    case ID_CMD_SHOW_DIR: {
        const std::wstring typed = ItemText(IDC_CMD_INITIAL_DIR);
        if (typed.empty())
            return true;
        if (const std::wstring folder = ResolveTypedFolder(typed); IsFolder(folder))
            ShowInExplorer(folder);
        return true;
    }
    default:
        return CDestinationDialog::OnCommand(id, code, control);
    }
}

void CCmdLineDialog::BrowseProgram()
{
    std::vector<std::wstring> names{ItemText(IDC_CMD_PROGRAM)};
    if (!ShowFileDialog(names, nullptr, false, IDS_CMD_PROGRAM_FILTER, m_hWnd,
                        OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ENABLESIZING) ||
        names.empty())
        return;
    SetItemText(IDC_CMD_PROGRAM, names.front().c_str());
}

void CCmdLineDialog::BrowseFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetDlgItemTextW(m_hWnd, IDC_CMD_INITIAL_DIR, path, MAX_PATH);
    const std::wstring start = ResolveTypedFolder(path);
    lstrcpynW(path, start.c_str(), MAX_PATH);
    if (!BrowseForFolder(m_hWnd, path))
        return;
    SetItemText(IDC_CMD_INITIAL_DIR, path);
    SendItem(IDC_CMD_INITIAL_DIR, EM_SETMODIFY, TRUE, 0);
    SetModified(true);
}

bool CCmdLineDialog::Apply()
{
    m_program = ItemText(IDC_CMD_PROGRAM);
    m_arguments = ItemText(IDC_CMD_ARGUMENTS);
    m_initialDir = ItemText(IDC_CMD_INITIAL_DIR);
    CTransferDoc& doc = m_host.GetTransferDoc();
    {
        CDocUpdateScope scope(doc, this);
        doc.SetCmdLineProgram(m_program);
        doc.SetCmdLineArguments(m_arguments);
        // The folder has no setter: it is stored as typed, variables unexpanded.
        if (doc.CmdLine().initialDir != m_initialDir) {
            doc.CmdLine().initialDir = m_initialDir;
            doc.RaiseChange(TDC_CMDLINE, 0, true);
        }
    }
    SetModified(false);
    return true;
}

// ---- CHttpRequestDialog ----

CHttpRequestDialog::CHttpRequestDialog(IPageHost& host)
    : CDestinationDialog(IDD_HTTP_REQUEST, host, kHttpRequestSlot, SIZE{300, 170})
{
    m_placeholderEdit = IDC_HTTP_ADDRESS;
    m_placeholderButton = ID_HTTP_ARGUMENTS_MENU;
    m_placeholderMenu = IDM_HTTP_ARGUMENTS;
    m_placeholders = {{ID_HTTP_KEY_NUMBER, L"%KeyNum%"}, {ID_HTTP_READER_MODEL, L"%ReaderModel%"},
                      {ID_HTTP_READER_SN, L"%ReaderSn%"}};
}

void CHttpRequestDialog::OnInitFields()
{
    static const ToolButton address[] = {{kImageMenu, ID_HTTP_ARGUMENTS_MENU}};
    SetupToolbar(IDC_HTTP_ADDRESS_BAR, address, 1);
    m_layout.Add(IDC_HTTP_ADDRESS, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    for (int id : {IDOK, IDCANCEL, IDC_DST_APPLY})
        m_layout.Add(id, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_address = m_host.GetTransferDoc().HttpRequest().address;
    UpdatingScope updating(m_hWnd);
    SetItemText(IDC_HTTP_ADDRESS, m_address.c_str());
}

bool CHttpRequestDialog::Apply()
{
    m_address = TrimSpaces(ItemText(IDC_HTTP_ADDRESS));
    CTransferDoc& doc = m_host.GetTransferDoc();
    {
        CDocUpdateScope scope(doc, this);
        doc.SetHttpAddress(m_address);
    }
    SetModified(false);
    return true;
}

bool RunDestinationDialog(IPageHost& host, int destinationType)
{
    std::unique_ptr<CDestinationDialog> dialog;
    if (destinationType == DEST_CMDLINE)
        dialog = std::make_unique<CCmdLineDialog>(host);
    else if (destinationType == DEST_HTTP)
        dialog = std::make_unique<CHttpRequestDialog>(host);
    else
        return false;
    HWND main = host.GetMainWindow();
    BringWindowForward(main);
    return dialog->RunModal(main) == IDOK;
}
