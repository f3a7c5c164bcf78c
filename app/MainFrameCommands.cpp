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
#include "pages/KeyDialog.h"
#include "pages/options/FormatDialog.h"
#include "reader/Reader.h"
#include "transfer/Portavo.h"

namespace {

// The four modifier bits of a hotkey word and the byte of its key.
constexpr UINT kHotkeyModifierMask = MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN;

CAppSettings& Settings()
{
    return App().GetSettings();
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

// The frame's static commands: what each does and, where the toolbars show it, its state.
// Rows are sorted by id and do not overlap; external marks what another program may post.
const CMainFrame::FrameCommand CMainFrame::s_commands[] = {
    {ID_ACTIVATE_TARGET, ID_ACTIVATE_TARGET, true, [](CMainFrame&, int) { ActivateTargetWindow(); }},
    {ID_APP_ABOUT, ID_APP_ABOUT, true, [](CMainFrame& f, int) { ShowAboutDialog(f.m_hWnd); }},
    {ID_APP_EXIT, ID_APP_EXIT, true,
     [](CMainFrame& f, int) {
         if (f.CanClose())
             DestroyWindow(f.m_hWnd);
     }},
    {ID_REFRESH_PORT_LIST, ID_REFRESH_PORT_LIST, true, [](CMainFrame& f, int) { f.RefreshPortListCommand(); }},
    {ID_TRANSFER_START, ID_TRANSFER_START, true, [](CMainFrame& f, int) { f.m_app.StartTransfer(true); },
     [](const CAppSettings& s) { return CommandState{!s.IsTransferEnabled(), false}; }},
    {ID_TRANSFER_STOP, ID_TRANSFER_STOP, true, [](CMainFrame& f, int) { f.m_app.StopTransfer(); },
     [](const CAppSettings& s) { return CommandState{s.IsTransferEnabled(), false}; }},
    {ID_TRANSFER_RESTART, ID_TRANSFER_RESTART, true, [](CMainFrame& f, int) { f.m_app.RestartTransfer(true); },
     [](const CAppSettings& s) { return CommandState{s.IsTransferEnabled(), false}; }},
    {ID_TOPMOST, ID_TOPMOST, true, [](CMainFrame& f, int) { f.ToggleView(&AppViewOptions::topMost); },
     [](const CAppSettings& s) { return CommandState{true, s.view.topMost}; }},
    {ID_MAIN_MENU, ID_MAIN_MENU, true, [](CMainFrame& f, int) { f.ShowMainMenu(); }},
    {ID_CONFIG_SAVE, ID_CONFIG_SAVE, true, [](CMainFrame&, int) { SaveConfiguration(); }},
    {ID_CONFIG_NEW, ID_CONFIG_NEW, true, [](CMainFrame&, int) { NewConfiguration(); }},
    {ID_CONFIG_DELETE, ID_CONFIG_DELETE, false, [](CMainFrame&, int) { DeleteConfiguration(); }},
    {ID_SHOW_MINIMIZE, ID_SHOW_MINIMIZE, true, [](CMainFrame& f, int) { f.ShowOrMinimize(); }},
    {ID_SOUNDS_ON, ID_SOUNDS_ON, true,
     [](CMainFrame&, int) { Settings().SetSoundsEnabled(!Settings().IsSoundsEnabled()); }},
    {ID_OPEN_TRANSFER_LOG, ID_OPEN_TRANSFER_LOG, true, [](CMainFrame&, int) { OpenTransferLog(Settings()); }},
    {ID_GO_TRANSFER_LOG, ID_GO_TRANSFER_LOG, true, [](CMainFrame& f, int) { f.GoLog(kTransferLogFileName); }},
    {ID_CLEAR_TRANSFER_LOG, ID_CLEAR_TRANSFER_LOG, true,
     [](CMainFrame& f, int) { ClearTransferLog(Settings(), f.m_hWnd); }},
    {ID_OPEN_APP_LOG, ID_OPEN_APP_LOG, true, [](CMainFrame&, int) { OpenAppLog(Settings()); }},
    {ID_GO_APP_LOG, ID_GO_APP_LOG, true, [](CMainFrame& f, int) { f.GoLog(kLogFileName); }},
    {ID_CLEAR_APP_LOG, ID_CLEAR_APP_LOG, true, [](CMainFrame& f, int) { ClearAppLog(Settings(), f.m_hWnd); }},
    {ID_HELP_CONTENTS, ID_HELP_CONTENTS, true, [](CMainFrame& f, int) { f.m_app.ShowHelp(0); }},
    {ID_FORMAT_NEW, ID_FORMAT_NEW, true, [](CMainFrame& f, int) { f.NewFormatCommand(); }},
    {ID_RECONNECT_READER, ID_RECONNECT_READER, true, [](CMainFrame& f, int) { f.m_app.ReconnectReader(); }},
    {ID_RECONNECT_PORTAVO, ID_RECONNECT_PORTAVO, true, [](CMainFrame& f, int) { f.m_app.ReconnectBridgeLink(); }},
    {ID_TRANSFER_TOGGLE, ID_TRANSFER_TOGGLE, true,
     [](CMainFrame& f, int) {
         if (Settings().IsTransferEnabled())
             f.m_app.StopTransfer();
         else
             f.m_app.StartTransfer(true);
     }},
    {ID_REPEAT_LAST, ID_REPEAT_LAST, true, [](CMainFrame& f, int) { f.RepeatLastKey(); }},
    {ID_CONFIG_OPEN, ID_CONFIG_OPEN, true, [](CMainFrame&, int) { OpenConfigurationDialog(); }},
    {ID_CONFIG_USER1, ID_CONFIG_USER3, true, [](CMainFrame& f, int id) { f.OpenUserConfiguration(id - ID_CONFIG_USER1); }},
    {ID_PAGE_FIRST, ID_SHOW_DESTINATION, true, [](CMainFrame& f, int id) { f.ShowPageCommand(PageOfCommand(id)); }},
    {ID_NEXT_KEY, ID_NEXT_KEY, true, [](CMainFrame& f, int) { f.m_app.TransferNextKey(); }},
    {ID_KEYLIST_TIMER, ID_KEYLIST_TIMER, true,
     [](CMainFrame&, int) {
         CTransferDoc& doc = Settings().GetTransferDoc();
         doc.SetKeyListTimerEnabled(!doc.keyListTimerEnabled);
     }},
    {ID_VIEW_STATUSBAR, ID_VIEW_STATUSBAR, true, [](CMainFrame& f, int) { f.TogglePanel(PANEL_STATUSBAR); }},
    {ID_VIEW_PAGELIST, ID_VIEW_PAGELIST, true, [](CMainFrame& f, int) { f.TogglePanel(PANEL_PAGELIST); }},
    {ID_LAST_KEY, ID_LAST_KEY, true, [](CMainFrame& f, int) { ShowLastKeyDialog(f.m_app, f.m_hWnd); }},
    {ID_VERSION_TITLE, ID_VERSION_TITLE, true,
     [](CMainFrame& f, int) {
         f.ToggleView(&AppViewOptions::versionTitle);
         f.MarkDirty(MFD_CAPTION);
     }},
    {ID_VIEW_TOOLBAR, ID_VIEW_TOOLBAR, true, [](CMainFrame& f, int) { f.TogglePanel(PANEL_TOOLBAR); }},
    {ID_DEBUG_LOG_ON, ID_DEBUG_LOG_ON, true, [](CMainFrame& f, int) { f.ToggleLogSwitch(true); }},
    {ID_TRANSFER_LOG_ON, ID_TRANSFER_LOG_ON, true, [](CMainFrame& f, int) { f.ToggleLogSwitch(false); }},
    {ID_COPY_LAST_KEY, ID_COPY_LAST_KEY, true, [](CMainFrame& f, int) { SetClipboardText(f.m_hWnd, f.LastKeyText().c_str()); }},
    {ID_RESET_COUNTER, ID_RESET_COUNTER, true, [](CMainFrame&, int) { Settings().SetTransferCounter(0); }},
    {ID_INIT_TEMIC, ID_INIT_TEMIC, true,
     [](CMainFrame& f, int) { f.InitializeTemic((Settings().GetConfirmFlags() & CONFIRM_TEMIC) != 0); }},
    {ID_WRITE_KEYS, ID_WRITE_KEYS, true, [](CMainFrame& f, int) { f.WriteKeysCommand(); }},
    {ID_VIEW_HEADER, ID_VIEW_HEADER, true, [](CMainFrame& f, int) { f.TogglePanel(PANEL_HEADER); }},
    {ID_PREVIOUS_PAGE, ID_PREVIOUS_PAGE, true,
     [](CMainFrame&, int) {
         CAppSettings& settings = Settings();
         if (settings.GetPreviousPage() >= 0)
             settings.SetCurrentPage(settings.GetPreviousPage());
     }},
    {ID_PAGE_HELP, ID_PAGE_HELP, true,
     [](CMainFrame& f, int) {
         const PageTableEntry* page = f.FindPage(f.currentPage);
         f.m_app.ShowHelp(page ? page->helpId : 0);
     }},
    {ID_SNAP_TO_EDGES, ID_SNAP_TO_EDGES, true, [](CMainFrame& f, int) { f.ToggleView(&AppViewOptions::snapToEdges); }},
    {ID_PAGE_DEFAULT, ID_PAGE_DEFAULT, true,
     [](CMainFrame& f, int) {
         if (CBasePage* page = f.GetCurrentPageObject())
             SendMessageW(page->m_hWnd, WM_COMMAND, ID_PAGE_DEFAULT, 0);
     }},
    {ID_MANAGE_SETTINGS, ID_MANAGE_SETTINGS, true, [](CMainFrame& f, int) { RunManageSettingsDialog(f); }},
    {ID_EXIT_NO_SAVE, ID_EXIT_NO_SAVE, true, [](CMainFrame& f, int) { f.ExitWithoutSaving(); }},
    {ID_SHOW_WINDOW, ID_SHOW_WINDOW, true, [](CMainFrame& f, int) { f.ShowMainWindow(true); }},
    {ID_MINIMIZE_WINDOW, ID_MINIMIZE_WINDOW, true, [](CMainFrame& f, int) { f.ShowMainWindow(false); }},
    {ID_RUN_AS_ADMIN, ID_RUN_AS_ADMIN, true,
     [](CMainFrame&, int) {
         bool elevated = false;
         if (IsWindowsVistaOrLater() && SUCCEEDED(SystemServices().CheckElevation(elevated)) && !elevated)
             RestartElevated(L"/N");
     }},
    {ID_EXT_TOOLS, ID_EXT_TOOLS, true, [](CMainFrame& f, int) { RunExtToolsDialog(f.m_hWnd); }},
    {ID_EXT_TOOL_FIRST, ID_EXT_TOOL_LAST, true, [](CMainFrame&, int id) { RunExternalTool(id - ID_EXT_TOOL_FIRST); }},
};

const CMainFrame::FrameCommand* CMainFrame::FindCommand(int id)
{
    const auto it = std::lower_bound(std::begin(s_commands), std::end(s_commands), id,
                                     [](const FrameCommand& row, int wanted) { return row.last < wanted; });
    return it != std::end(s_commands) && it->first <= id ? it : nullptr;
}

bool IsExternalCommandAllowed(int commandId)
{
    const CMainFrame::FrameCommand* command = CMainFrame::FindCommand(commandId);
    return command && command->external;
}

bool CMainFrame::OnCommand(int id, int code, HWND control)
{
    // Commands of the menus (code 0), accelerators (1), toolbar buttons and hotkeys reach the
    // current page first; notifications of the frame's own controls do not. The page gets no
    // control, so that it cannot reflect the command into one of the frame's children.
    if (code == 0 || code == 1) {
        if (CBasePage* page = GetCurrentPageObject(); page && page->OnCommand(id, code, nullptr))
            return true;
    }
    return RunOwnCommand(id) || CWnd::OnCommand(id, code, control);
}

bool CMainFrame::RunOwnCommand(int id)
{
    if (const FrameCommand* command = FindCommand(id)) {
        command->run(*this, id);
        return true;
    }
    // The menu items made for placeholders count from 10000, above every command of the table.
    return id >= kFirstDynamicCommand && OnDynamicCommand(id);
}

void CMainFrame::RefreshPortListCommand()
{
    CAppSettings& settings = Settings();
    CDocUpdateScope scope(settings);
    {
        auto readers = settings.EditKnownReaders();
        for (KnownReader& reader : *readers)
            reader.present = 0;
    }
    m_app.RefreshPortList(false);
}

void CMainFrame::NewFormatCommand()
{
    if (CBasePage* formats = GetPage(PAGE_FORMATS); formats && formats->m_hWnd)
        SendMessageW(formats->m_hWnd, WM_COMMAND, ID_FORMAT_NEW, 0);
    else
        ShowNewFormatDialog(m_app, nullptr, m_hWnd);
}

void CMainFrame::WriteKeysCommand()
{
    // The Plus list only where only Plus cards are read; everywhere else the Classic one.
    const CAppSettings& settings = Settings();
    const ReadKeysSettings& reading = settings.GetTransferDoc().readKeys;
    const bool plus = reading.plus.enabled && !reading.classic.enabled;
    WriteKeysToReader(plus, 0xFFFFFFFF, (settings.GetConfirmFlags() & CONFIRM_WRITE_KEYS) != 0);
}

bool CMainFrame::OnDynamicCommand(int id)
{
    const size_t index = static_cast<size_t>(id - kFirstDynamicCommand);
    if (index >= dynCommands.size())
        return false;
    const DynCommand command = dynCommands[index];
    CNorvaneApp& app = m_app;
    CAppSettings& settings = app.GetSettings();
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
        m_app.OpenConfiguration(names[index] + L".nv2", AskToSaveConfiguration());
}

void CMainFrame::RepeatLastKey()
{
    CNorvaneApp& app = m_app;
    const _LAST_TRANSFER last = app.GetSettings().GetLastTransfer();
    if (!app.GetSettings().IsTransferEnabled() || last.keyNumber.length == 0)
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
    CNorvaneApp& app = m_app;
    CAppSettings& settings = app.GetSettings();

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
