// The commands of the main frame, its hotkeys and pre-translation, and the hand-over of a second
// instance's command line.
#include <winsock2.h>

#include "app/MainFrame.h"

#include <algorithm>

#include "app/AppLogCommands.h"
#include "app/CommandLine.h"
#include "app/CommandTexts.h"
#include "app/Configurations.h"
#include "app/ExtTools.h"
#include "app/ExtToolsDialog.h"
#include "app/ManageSettingsCommand.h"
#include "app/NorvaneApp.h"
#include "app/ShellServices.h"
#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "core/SystemServices.h"
#include "reader/Reader.h"
#include "transfer/Portavo.h"

namespace {

// The four modifier bits of a hotkey word and the byte of its key.
constexpr UINT kHotkeyModifierMask = MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN;

CAppSettings& Settings()
{
    return App().settings;
}

bool AskToSaveConfiguration()
{
    return (Settings().GetConfirmFlags() & CONFIRM_SAVE_CONFIG) != 0;
}

} // namespace

// ---- Pre-translation and hotkeys ----

bool CMainFrame::PreTranslate(MSG* msg)
{
    const bool keyboard = msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST;
    const bool mouse = msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSEHWHEEL;
    if (!keyboard && !mouse)
        return false;
    if (keyboard && accelTable && TranslateAcceleratorW(m_hWnd, accelTable, msg))
        return true;
    return IsDialogMessageW(m_hWnd, msg) != FALSE;
}

void CMainFrame::UnregisterHotkeys()
{
    for (; hotkeyCount > 0; --hotkeyCount)
        UnregisterHotKey(m_hWnd, hotkeyCount);
    if (accelTable) {
        DestroyAcceleratorTable(accelTable);
        accelTable = nullptr;
    }
}

void CMainFrame::RegisterHotkeys(bool enable)
{
    UnregisterHotkeys();
    const CAppSettings& settings = Settings();
    GetCommandHotkeys().Rebuild(settings.hotkeys, settings.IsHotkeysEnabled());
    if (!enable)
        return;
    std::vector<ACCEL> accels;
    for (uint32_t entry : settings.hotkeys) {
        const UINT key = entry & 0xFF;
        const UINT modifiers = (entry >> 8) & kHotkeyModifierMask;
        if (entry & HOTKEY_GLOBAL) {
            // One that another program holds is simply not active; the next takes the next id.
            if (RegisterHotKey(m_hWnd, hotkeyCount + 1, modifiers, key))
                ++hotkeyCount;
        } else if (!(entry & HOTKEY_MOD_WIN)) {
            ACCEL accel{};
            accel.fVirt = FVIRTKEY;
            if (entry & HOTKEY_MOD_CTRL)
                accel.fVirt |= FCONTROL;
            if (entry & HOTKEY_MOD_SHIFT)
                accel.fVirt |= FSHIFT;
            if (entry & HOTKEY_MOD_ALT)
                accel.fVirt |= FALT;
            accel.key = static_cast<WORD>(key);
            accel.cmd = HotkeyEntryCommand(entry);
            accels.push_back(accel);
        }
    }
    if (!accels.empty())
        accelTable = CreateAcceleratorTableW(accels.data(), static_cast<int>(accels.size()));
}

void CMainFrame::OnHotkey(UINT modifiers, UINT key)
{
    // Only the four modifier bits take part: MOD_NOREPEAT and whatever else the system adds
    // would match no entry.
    const uint16_t wanted =
        static_cast<uint16_t>((((modifiers & kHotkeyModifierMask) | 0x80) << 8) | (key & 0xFF));
    for (uint32_t entry : Settings().hotkeys) {
        if (HotkeyEntryWord(entry) == wanted)
            PostMessageW(m_hWnd, WM_COMMAND, HotkeyEntryCommand(entry), 0);
    }
}

// ---- Commands ----

bool CMainFrame::OnCommand(int id, int code, HWND control)
{
    // Commands of the menus (code 0), accelerators (1), toolbar buttons and hotkeys reach the
    // current page first; notifications of the frame's own controls do not. The page gets no
    // control, so that it cannot reflect the command into one of the frame's children.
    if (code == 0 || code == 1) {
        if (CBasePage* page = GetCurrentPageObject(); page && page->OnCommand(id, code, nullptr))
            return true;
    }
    CNorvaneApp& app = App();
    CAppSettings& settings = app.settings;
    if (id >= ID_PAGE_FIRST && id <= ID_PAGE_LAST) {
        ShowPageCommand(kPageCommandPages[id - ID_PAGE_FIRST]);
        return true;
    }
    if (id >= ID_CONFIG_USER1 && id <= ID_CONFIG_USER3) {
        OpenUserConfiguration(id - ID_CONFIG_USER1);
        return true;
    }
    if (id >= ID_EXT_TOOL_FIRST && id <= ID_EXT_TOOL_LAST) {
        RunExternalTool(id - ID_EXT_TOOL_FIRST);
        return true;
    }
    switch (id) {
    case ID_ACTIVATE_TARGET:
        ActivateTargetWindow();
        return true;
    case ID_APP_ABOUT:
        ShowAboutDialog(m_hWnd);
        return true;
    case ID_APP_EXIT:
        if (CanClose())
            DestroyWindow(m_hWnd);
        return true;
    case ID_EXIT_NO_SAVE:
        ExitWithoutSaving();
        return true;
    case ID_REFRESH_PORT_LIST: {
        CDocUpdateScope scope(settings);
        {
            auto readers = settings.EditKnownReaders();
            for (KnownReader& reader : *readers)
                reader.present = 0;
        }
        app.RefreshPortList(false);
        return true;
    }

    // Transfer.
    case ID_TRANSFER_START:
        app.StartTransfer(true);
        return true;
    case ID_TRANSFER_STOP:
        app.StopTransfer();
        return true;
    case ID_TRANSFER_RESTART:
        app.RestartTransfer(true);
        return true;
    case ID_TRANSFER_TOGGLE:
        if (settings.IsTransferEnabled())
            app.StopTransfer();
        else
            app.StartTransfer(true);
        return true;
    case ID_REPEAT_LAST:
        RepeatLastKey();
        return true;
    case ID_NEXT_KEY:
        app.TransferNextKey();
        return true;
    case ID_KEYLIST_TIMER: {
        CTransferDoc& doc = settings.GetTransferDoc();
        doc.SetKeyListTimerEnabled(!doc.keyListTimerEnabled);
        return true;
    }
    case ID_RESET_COUNTER:
        settings.SetTransferCounter(0);
        return true;
    case ID_RECONNECT_READER:
        if (app.reader && app.reader->IsRunning())
            app.reader->Reconnect();
        return true;
    case ID_RECONNECT_PORTAVO:
        if (app.bridgeLink && app.bridgeLink->IsRunning())
            app.bridgeLink->Reconnect();
        return true;
    case ID_COPY_LAST_KEY: {
        const std::wstring text = LastKeyText();
        SetClipboardText(text.c_str());
        return true;
    }
    case ID_LAST_KEY:
        App().ShowLastKeyDialog(m_hWnd);
        return true;
    case ID_SOUNDS_ON:
        settings.SetSoundsEnabled(!settings.IsSoundsEnabled());
        return true;
    case ID_TRANSFER_LOG_ON:
        ToggleLogSwitch(false);
        return true;
    case ID_DEBUG_LOG_ON:
        ToggleLogSwitch(true);
        return true;
    case ID_OPEN_TRANSFER_LOG:
        OpenTransferLog(settings);
        return true;
    case ID_GO_TRANSFER_LOG:
        GoLog(kTransferLogFileName);
        return true;
    case ID_CLEAR_TRANSFER_LOG:
        ClearTransferLog(settings, m_hWnd);
        return true;
    case ID_OPEN_APP_LOG:
        OpenAppLog(settings);
        return true;
    case ID_GO_APP_LOG:
        GoLog(kLogFileName);
        return true;
    case ID_CLEAR_APP_LOG:
        ClearAppLog(settings, m_hWnd);
        return true;

    // Reader jobs.
    case ID_INIT_TEMIC:
        InitializeTemic((settings.GetConfirmFlags() & CONFIRM_TEMIC) != 0);
        return true;
    case ID_WRITE_KEYS: {
        // The Plus list only where only Plus cards are read; everywhere else the Classic one.
        const ReadKeysSettings& reading = settings.GetTransferDoc().readKeys;
        const bool plus = reading.plus.enabled && !reading.classic.enabled;
        WriteKeysToReader(plus, 0xFFFFFFFF, (settings.GetConfirmFlags() & CONFIRM_WRITE_KEYS) != 0);
        return true;
    }

    // Configurations and formats.
    case ID_CONFIG_SAVE:
        SaveConfiguration();
        return true;
    case ID_CONFIG_NEW:
        NewConfiguration();
        return true;
    case ID_CONFIG_OPEN:
        OpenConfigurationDialog();
        return true;
    case ID_CONFIG_DELETE:
        DeleteConfiguration();
        return true;
    case ID_MANAGE_SETTINGS:
        RunManageSettingsDialog(*this);
        return true;
    case ID_FORMAT_NEW:
        if (CBasePage* formats = pages[PAGE_FORMATS].get(); formats && formats->m_hWnd)
            SendMessageW(formats->m_hWnd, WM_COMMAND, ID_FORMAT_NEW, 0);
        else
            App().ShowNewFormatDialog(nullptr, m_hWnd);
        return true;

    // Window, pages and panels.
    case ID_MAIN_MENU:
        ShowMainMenu();
        return true;
    case ID_SHOW_MINIMIZE:
        ShowOrMinimize();
        return true;
    case ID_SHOW_WINDOW:
        ShowMainWindow(true);
        return true;
    case ID_MINIMIZE_WINDOW:
        ShowMainWindow(false);
        return true;
    case ID_SHOW_SOURCE:
        ShowPageCommand(PAGE_SOURCE);
        return true;
    case ID_SHOW_DESTINATION:
        ShowPageCommand(PAGE_DESTINATION);
        return true;
    case ID_PREVIOUS_PAGE:
        if (settings.GetPreviousPage() >= 0)
            settings.SetCurrentPage(settings.GetPreviousPage());
        return true;
    case ID_PAGE_DEFAULT:
        if (CBasePage* page = GetCurrentPageObject())
            SendMessageW(page->m_hWnd, WM_COMMAND, ID_PAGE_DEFAULT, 0);
        return true;
    case ID_TOPMOST:
        ToggleView(&AppViewOptions::topMost);
        return true;
    case ID_SNAP_TO_EDGES:
        ToggleView(&AppViewOptions::snapToEdges);
        return true;
    case ID_VERSION_TITLE:
        ToggleView(&AppViewOptions::versionTitle);
        dirty |= MFD_CAPTION;
        return true;
    case ID_VIEW_STATUSBAR:
        TogglePanel(PANEL_STATUSBAR);
        return true;
    case ID_VIEW_PAGELIST:
        TogglePanel(PANEL_PAGELIST);
        return true;
    case ID_VIEW_TOOLBAR:
        TogglePanel(PANEL_TOOLBAR);
        return true;
    case ID_VIEW_HEADER:
        TogglePanel(PANEL_HEADER);
        return true;

    // Help, tools and elevation.
    case ID_HELP_CONTENTS:
        app.ShowHelp(0);
        return true;
    case ID_PAGE_HELP: {
        const PageTableEntry* page = FindPage(currentPage);
        app.ShowHelp(page ? page->helpId : 0);
        return true;
    }
    case ID_EXT_TOOLS:
        RunExtToolsDialog(m_hWnd);
        return true;
    case ID_RUN_AS_ADMIN: {
        bool elevated = false;
        if (IsWindowsVistaOrLater() && SUCCEEDED(SystemServices().CheckElevation(elevated)) && !elevated)
            RestartElevated(L"/N");
        return true;
    }
    default:
        // The menu items made for placeholders count from 10000, below every command of the
        // table.
        if (id >= kFirstDynamicCommand && OnDynamicCommand(id))
            return true;
        return CWnd::OnCommand(id, code, control);
    }
}

bool CMainFrame::OnDynamicCommand(int id)
{
    const size_t index = static_cast<size_t>(id - kFirstDynamicCommand);
    if (index >= dynCommands.size())
        return false;
    const DynCommand command = dynCommands[index];
    CNorvaneApp& app = App();
    CAppSettings& settings = app.settings;
    switch (command.kind) {
    case DYN_CONFIGURATION:
        if (command.value == 0)
            app.OpenConfiguration(std::wstring(), AskToSaveConfiguration());
        else if (static_cast<size_t>(command.value) <= settings.configFiles.size())
            app.OpenConfiguration(settings.configFiles[command.value - 1] + L".nv2", AskToSaveConfiguration());
        return true;
    case DYN_LANGUAGE:
        if (command.value < 0)
            settings.SetLanguage(std::wstring());
        else if (static_cast<size_t>(command.value) < settings.languages.size())
            settings.SetLanguage(settings.languages[command.value].name);
        return true;
    case DYN_PAGE:
        ShowPageCommand(command.value);
        return true;
    default:
        return false;
    }
}

void CMainFrame::ShowPageCommand(int pageId)
{
    ShowMainWindow(true);
    Settings().SetCurrentPage(pageId);
}

void CMainFrame::OpenUserConfiguration(int index)
{
    const std::vector<std::wstring>& names = Settings().configFiles;
    if (static_cast<size_t>(index) < names.size())
        App().OpenConfiguration(names[index] + L".nv2", AskToSaveConfiguration());
}

void CMainFrame::RepeatLastKey()
{
    CNorvaneApp& app = App();
    const _LAST_TRANSFER last = app.settings.GetLastTransfer();
    if (!app.settings.IsTransferEnabled() || last.keyNumber.length == 0)
        return;
    if (app.IsLogged(LOG_THRESHOLD_INFO))
        LogMessage(&app, nullptr, LOG_INFO, L"Repeat last key");
    app.TransferKey(last.keyType, last.keyNumber, last.keyExtra);
}

void CMainFrame::ToggleLogSwitch(bool debugLog)
{
    CAppSettings& settings = Settings();
    if (debugLog)
        settings.EditDebugLog()->enabled = !settings.debugLog.enabled;
    else
        settings.SetTransferLog(!settings.transferLog);
}

void CMainFrame::ToggleView(bool AppViewOptions::*option)
{
    CAppSettings& settings = Settings();
    AppViewOptions view = settings.view;
    view.*option = !(view.*option);
    settings.SetViewOptions(view);
}

void CMainFrame::TogglePanel(uint32_t bit)
{
    CAppSettings& settings = Settings();
    settings.SetPanels(settings.GetPanels() ^ bit);
}

void CMainFrame::GoLog(const wchar_t* fileName)
{
    std::wstring folder;
    Settings().ResolveDocumentsFolder(folder, false);
    const std::wstring arguments = L"/select, \"" + folder + L"\\" + fileName + L"\"";
    SHELLEXECUTEINFOW info{sizeof(info)};
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE;
    info.hwnd = m_hWnd;
    info.lpVerb = L"open";
    info.lpFile = L"explorer.exe";
    info.lpParameters = arguments.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!SystemServices().ExecuteShell(info))
        ThrowOSError(GetLastError());
}

void CMainFrame::ShowOrMinimize()
{
    bool show = IsIconic(m_hWnd) != FALSE;
    // A window of the same layer above the frame hides it at least in part: bring it up.
    const bool topMost = (GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    for (HWND above = GetWindow(m_hWnd, GW_HWNDPREV); above && !show; above = GetWindow(above, GW_HWNDPREV)) {
        const LONG_PTR style = GetWindowLongPtrW(above, GWL_STYLE);
        const bool aboveTopMost = (GetWindowLongPtrW(above, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        show = IsWindowVisible(above) && (style & WS_CAPTION) == WS_CAPTION && aboveTopMost == topMost;
    }
    ShowMainWindow(show);
}

void CMainFrame::ExitWithoutSaving()
{
    // The teardown stores nothing: whatever is unsaved stays unsaved on disk.
    DestroyWindow(m_hWnd);
}

// ---- Hand-over ----

bool CMainFrame::OnHandOver(const wchar_t* commandLine)
{
    _CMDLINE_INFO info;
    if (ParseCommandLine(commandLine, info) != 0)
        return false;
    CNorvaneApp& app = App();
    CAppSettings& settings = app.settings;

    // 1. An elevated copy takes over; nothing else is applied here.
    bool elevated = false;
    if (info.Has(CMDF_ADMIN) && SUCCEEDED(SystemServices().CheckElevation(elevated)) && !elevated) {
        RestartElevated((std::wstring(commandLine) + L" /N").c_str());
        return true;
    }
    // 2.-3. Language and documents folder.
    if (info.Has(CMDF_LANGUAGE) && info.language != settings.GetLanguage())
        settings.SetLanguage(info.language);
    if (info.Has(CMDF_DOCDIR))
        settings.SetDocumentsFolder(info.docDir);
    // 4. The configuration, relative to the documents folder when it lies inside.
    if (info.Has(CMDF_CONFIG)) {
        std::wstring folder;
        settings.ResolveDocumentsFolder(folder, false);
        const wchar_t* relative = GetRelativeSubPath(info.configFile.c_str(), folder.c_str());
        const std::wstring name = *relative ? std::wstring(relative) : info.configFile;
        app.OpenConfiguration(name, AskToSaveConfiguration());
    }
    // 5. The action.
    switch (info.action) {
    case CMDA_START:
        app.StartTransfer(true);
        break;
    case CMDA_STOP:
        app.StopTransfer();
        break;
    case CMDA_RESTART:
        app.RestartTransfer(true);
        break;
    default:
        break;
    }
    return true;
}
