// The menus of the main frame: the main-menu popup, the tray, page and status-bar menus, and the
// placeholders that become the configurations, languages, pages and external tools when their
// menu opens.
#include "app/MainFrame.h"

#include "app/CommandTexts.h"
#include "app/NorvaneApp.h"
#include "core/AppLog.h"
#include "core/TextUtil.h"
#include "framework/WinApp.h"
#include "transfer/TransferLog.h"

namespace {

const wchar_t kInternalLanguage[] = L"<internal>";

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

bool FileExistsIn(const std::wstring& folder, const wchar_t* name)
{
    const DWORD attributes = GetFileAttributesW((folder + L"\\" + name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A menu resource from the module that holds it; its first submenu is what is shown.
HMENU LoadMenuResource(int id)
{
    const LPCWSTR name = MAKEINTRESOURCEW(id);
    return LoadMenuW(FindResourceModule(name, RT_MENU), name);
}

void EnableItem(HMENU menu, UINT id, bool enabled)
{
    EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void CheckItem(HMENU menu, UINT id, bool checked)
{
    CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void InsertItem(HMENU menu, int position, UINT id, const std::wstring& text, bool radioChecked)
{
    MENUITEMINFOW item{sizeof(item)};
    item.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_STATE;
    item.fType = MFT_STRING | (radioChecked ? MFT_RADIOCHECK : 0);
    item.fState = radioChecked ? MFS_CHECKED : MFS_UNCHECKED;
    item.wID = id;
    item.dwTypeData = const_cast<wchar_t*>(text.c_str());
    InsertMenuItemW(menu, static_cast<UINT>(position), TRUE, &item);
}

void InsertSeparator(HMENU menu, int position)
{
    MENUITEMINFOW item{sizeof(item)};
    item.fMask = MIIM_FTYPE;
    item.fType = MFT_SEPARATOR;
    InsertMenuItemW(menu, static_cast<UINT>(position), TRUE, &item);
}

} // namespace

// ---- Placeholders ----

int FillExternalToolsMenu(HMENU menu, int position)
{
    DeleteMenu(menu, static_cast<UINT>(position), MF_BYPOSITION);
    const std::vector<_EXT_TOOL>& tools = App().GetSettings().extTools;
    const int count = std::min(static_cast<int>(tools.size()), ID_EXT_TOOL_LAST - ID_EXT_TOOL_FIRST + 1);
    for (int i = 0; i < count; ++i)
        InsertItem(menu, position + i, ID_EXT_TOOL_FIRST + i, tools[i].name, false);
    return count;
}

void CMainFrame::OnInitMenuPopup(HMENU menu)
{
    // From the last item to the first, so that the positions still to visit stay where they were.
    for (int position = GetMenuItemCount(menu) - 1; position >= 0; --position) {
        switch (static_cast<int>(GetMenuItemID(menu, position))) {
        case ID_CONFIG_LIST:
            FillConfigurationsMenu(menu, position);
            break;
        case ID_LANGUAGE_LIST:
            FillLanguagesMenu(menu, position);
            break;
        case ID_PAGE_LIST:
            FillPagesMenu(menu, position);
            break;
        case ID_EXT_TOOL_LIST:
            FillExternalToolsMenu(menu, position);
            break;
        default:
            break;
        }
    }
    UpdateMenuHotkeyTexts(menu);
}

int CMainFrame::FillConfigurationsMenu(HMENU menu, int position)
{
    DeleteMenu(menu, static_cast<UINT>(position), MF_BYPOSITION);
    const CAppSettings& settings = m_app.GetSettings();
    std::wstring current;
    settings.GetConfigDisplayPath(current);
    std::wstring name;
    LoadResString(IDS_DEFAULT_CONFIG_NAME, name);
    int added = 0;
    auto add = [&](const std::wstring& text, int32_t value, bool isCurrent) {
        InsertItem(menu, position + added++, kFirstDynamicCommand + static_cast<UINT>(dynCommands.size()), text,
                   isCurrent);
        dynCommands.push_back({DYN_CONFIGURATION, value});
    };
    add(name, 0, current.empty());
    for (size_t i = 0; i < settings.configFiles.size(); ++i) {
        const std::wstring& file = settings.configFiles[i];
        add(file, static_cast<int32_t>(i + 1), !current.empty() && SameText(file + L".nv2", current));
    }
    return added;
}

int CMainFrame::FillLanguagesMenu(HMENU menu, int position)
{
    DeleteMenu(menu, static_cast<UINT>(position), MF_BYPOSITION);
    const CAppSettings& settings = m_app.GetSettings();
    const std::wstring& current = settings.GetLanguage();
    int added = 0;
    auto add = [&](const std::wstring& text, int32_t value, bool isCurrent) {
        InsertItem(menu, position + added++, kFirstDynamicCommand + static_cast<UINT>(dynCommands.size()), text,
                   isCurrent);
        dynCommands.push_back({DYN_LANGUAGE, value});
    };
    std::wstring text;
    LoadResString(IDS_LANGUAGE_AUTO, text);
    add(text, -1, current.empty());
    LoadResString(IDS_LANGUAGE_INTERNAL, text);
    add(text, 0, SameText(current, kInternalLanguage));
    InsertSeparator(menu, position + added++);
    // Entry 0 of the list is the built-in language; the libraries follow it.
    for (size_t i = 1; i < settings.languages.size(); ++i) {
        const LanguageInfo& language = settings.languages[i];
        add(language.text.empty() ? language.name : language.text, static_cast<int32_t>(i),
            !current.empty() && SameText(current, language.name));
    }
    return added;
}

int CMainFrame::FillPagesMenu(HMENU menu, int position)
{
    DeleteMenu(menu, static_cast<UINT>(position), MF_BYPOSITION);
    int added = 0;
    // The registry's order; a page listed under another is indented.
    for (const PageTableEntry& row : kPageRegistry) {
        const int pageId = row.id;
        std::wstring title;
        if (const PageTableEntry* page = FindPage(pageId))
            LoadResString(page->titleId, title);
        if (row.groupHead >= 0)
            title.insert(0, 4, L' ');
        InsertItem(menu, position + added++, kFirstDynamicCommand + static_cast<UINT>(dynCommands.size()), title,
                   pageId == currentPage);
        dynCommands.push_back({DYN_PAGE, pageId});
    }
    return added;
}

// ---- Menus shown ----

void CMainFrame::TrackMenu(HMENU menu, POINT screen, UINT flags)
{
    TrackPopupMenuEx(menu, flags, screen.x, screen.y, m_hWnd, nullptr);
    // The menu closes properly when the user clicks elsewhere only after a message comes in.
    PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

void CMainFrame::SetMainMenuStates(HMENU menu)
{
    const CAppSettings& settings = m_app.GetSettings();
    const bool running = settings.IsTransferEnabled();
    const uint32_t panels = settings.GetPanels();
    EnableItem(menu, ID_CONFIG_SAVE, settings.IsUnsaved() || settings.GetTransferDoc().IsUnsaved());
    EnableItem(menu, ID_TRANSFER_START, !running);
    EnableItem(menu, ID_TRANSFER_STOP, running);
    EnableItem(menu, ID_TRANSFER_RESTART, running);
    CheckItem(menu, ID_VIEW_TOOLBAR, (panels & PANEL_TOOLBAR) != 0);
    CheckItem(menu, ID_VIEW_PAGELIST, (panels & PANEL_PAGELIST) != 0);
    CheckItem(menu, ID_VIEW_STATUSBAR, (panels & PANEL_STATUSBAR) != 0);
    CheckItem(menu, ID_VIEW_HEADER, (panels & PANEL_HEADER) != 0);
    CheckItem(menu, ID_VERSION_TITLE, settings.view.versionTitle);
    CheckItem(menu, ID_TOPMOST, settings.view.topMost);
    CheckItem(menu, ID_SNAP_TO_EDGES, settings.view.snapToEdges);
}

void CMainFrame::ShowMainMenu()
{
    CMenu resource(LoadMenuResource(IDM_MAIN_POPUP));
    HMENU menu = GetSubMenu(resource.Get(), 0);
    if (!menu)
        return;
    SetMainMenuStates(menu);
    RECT button{};
    SendMessageW(pageToolbar, TB_GETRECT, ID_MAIN_MENU, reinterpret_cast<LPARAM>(&button));
    MapWindowPoints(pageToolbar, nullptr, reinterpret_cast<POINT*>(&button), 2);
    TPMPARAMS params{sizeof(params), button};
    TrackPopupMenuEx(menu, TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_VERTICAL | TPM_NOANIMATION, button.right,
                     button.bottom, m_hWnd, &params);
}

void CMainFrame::SetTrayMenuStates(HMENU menu)
{
    const CAppSettings& settings = m_app.GetSettings();
    const bool running = settings.IsTransferEnabled();
    CheckItem(menu, ID_SOUNDS_ON, settings.IsSoundsEnabled());
    EnableItem(menu, ID_TRANSFER_START, !running);
    EnableItem(menu, ID_TRANSFER_STOP, running);
    EnableItem(menu, ID_TRANSFER_RESTART, running);
}

void CMainFrame::SetPageMenuStates(HMENU menu)
{
    EnableItem(menu, ID_PREVIOUS_PAGE, m_app.GetSettings().GetPreviousPage() >= 0);
}

bool CMainFrame::OnContextMenu(HWND window, POINT screen)
{
    // Only a mouse click on the header (which lets the clicks through to the frame).
    if (window != m_hWnd || !header || (screen.x == -1 && screen.y == -1))
        return false;
    RECT area;
    GetWindowRect(header, &area);
    if (!PtInRect(&area, screen))
        return false;
    CMenu resource(LoadMenuResource(IDM_PAGE));
    HMENU menu = GetSubMenu(resource.Get(), 0);
    if (!menu)
        return true;
    SetPageMenuStates(menu);
    SetForegroundWindow(m_hWnd);
    TrackMenu(menu, screen, TPM_LEFTALIGN | TPM_RIGHTBUTTON);
    return true;
}

void CMainFrame::SetLogMenuStates(HMENU menu, bool debugLog)
{
    // Each item only while the log exists. The logs live in the documents folder, which is not
    // always the data folder.
    std::wstring folder;
    m_app.GetSettings().ResolveDocumentsFolder(folder, false);
    const bool exists = FileExistsIn(folder, debugLog ? kLogFileName : kTransferLogFileName);
    const UINT transferItems[] = {ID_OPEN_TRANSFER_LOG, ID_GO_TRANSFER_LOG, ID_CLEAR_TRANSFER_LOG};
    const UINT debugItems[] = {ID_OPEN_APP_LOG, ID_GO_APP_LOG, ID_CLEAR_APP_LOG};
    for (UINT id : debugLog ? debugItems : transferItems)
        EnableItem(menu, id, exists);
}

void CMainFrame::ShowTransferLogMenu()
{
    CMenu resource(LoadMenuResource(IDM_TRANSFER_LOG));
    HMENU menu = GetSubMenu(resource.Get(), 0);
    if (!menu)
        return;
    SetLogMenuStates(menu, false);
    POINT cursor;
    GetCursorPos(&cursor);
    TrackMenu(menu, cursor, TPM_LEFTALIGN | TPM_RIGHTBUTTON);
}

void CMainFrame::ShowAppLogMenu()
{
    CMenu resource(LoadMenuResource(IDM_APP_LOG));
    HMENU menu = GetSubMenu(resource.Get(), 0);
    if (!menu)
        return;
    SetLogMenuStates(menu, true);
    POINT cursor;
    GetCursorPos(&cursor);
    TrackMenu(menu, cursor, TPM_LEFTALIGN | TPM_RIGHTBUTTON);
}

void CMainFrame::ShowLastKeyMenu()
{
    CMenu resource(LoadMenuResource(IDM_LAST_KEY));
    HMENU menu = GetSubMenu(resource.Get(), 0);
    if (!menu)
        return;
    SetMenuDefaultItem(menu, ID_LAST_KEY, FALSE);
    POINT cursor;
    GetCursorPos(&cursor);
    TrackMenu(menu, cursor, TPM_LEFTALIGN | TPM_RIGHTBUTTON);
}
