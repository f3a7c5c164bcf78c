// The start-up sequence, from the data folder to the start action.
#include "app/StartUp.h"

#include <string>

#include "app/JumpList.h"
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/ShellLog.h"
#include "app/ShellServices.h"
#include "core/File.h"
#include "core/SysUtil.h"
#include "core/SystemServices.h"
#include "resources/resource.h"

const wchar_t kInstanceMutexName[] = L"Norvane2";

namespace {

constexpr int32_t kPlacementMinimized = 0x1;
constexpr int32_t kPlacementMaximized = 0x2;
constexpr DWORD kHandOverTimeoutMs = 10000;
// Younger temporary files may belong to a save of another instance that is running now.
constexpr DWORD kStaleTempFileAgeMs = 60000;

void PerformStartAction(const _CMDLINE_INFO& info, bool interactive)
{
    CNorvaneApp& app = App();
    switch (info.action) {
    case CMDA_START:
        app.StartTransfer(interactive);
        break;
    case CMDA_STOP:
        app.StopTransfer();
        break;
    case CMDA_RESTART:
        app.RestartTransfer(interactive);
        break;
    default:
        if (app.GetSettings().autoStart && app.GetSettings().GetTransferDoc().GetSourceKind() != SOURCE_NONE)
            app.StartTransfer(interactive);
        break;
    }
    app.ApplyTransferState();
}

// Steps 2 to 4: the settings file, then what the command line replaces.
void LoadSettings(const _CMDLINE_INFO& info, _CMDLINE_INFO& effective)
{
    CAppSettings& settings = App().GetSettings();
    const std::wstring path = App().GetSettings().GetDataFolder() + L"\\" + kSettingsFileName;
    if (settings.GetSettingsPath() != path)
        settings.SetSettingsPath(path);
    settings.LoadOrDefaults(!info.Has(CMDF_CONFIG));
    if (info.Has(CMDF_DOCDIR))
        settings.SetDocumentsFolder(info.docDir);
    if (info.Has(CMDF_LANGUAGE))
        settings.SetLanguage(info.language);
    if (info.Has(CMDF_CONFIG)) {
        std::wstring configPath;
        settings.MakeDocumentPath(info.configFile, configPath, false);
        settings.GetTransferDoc().SetPathName(configPath);
    }
    effective = info;
    if (!info.Has(CMDF_HANDOVER | CMDF_NEW) && settings.singleInstance)
        effective.flags |= CMDF_HANDOVER;
}

} // namespace

bool DecideMainWindowShow(const _CMDLINE_INFO& info, int showMode, uint32_t history, int32_t& showState)
{
    if (info.Has(CMDF_AUTORUN)) {
        showState |= kPlacementMinimized;
        return false;
    }
    if (history & HIST_SHOW_STATES)  // the show state is remembered, so the window is always shown
        return true;
    switch (showMode) {
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        showState |= kPlacementMinimized;
        return false;
    case SW_SHOWMAXIMIZED:
        showState |= kPlacementMaximized;
        return true;
    default:
        return true;
    }
}

// ---- CInstanceMutex ----

bool CInstanceMutex::Create(const wchar_t* name)
{
    Close();
    m_handle.Attach(CreateMutexW(nullptr, FALSE, name));
    return m_handle.IsValid();
}

bool CInstanceMutex::Acquire(DWORD timeoutMs)
{
    if (!m_handle)
        return false;
    if (m_owned)
        return true;
    m_lastWait = WaitForSingleObject(m_handle, timeoutMs);
    // An abandoned mutex is ours now: its owner died, and nothing it guarded is half done
    // from our point of view (a start-up holds nothing but windows of its own).
    m_owned = m_lastWait == WAIT_OBJECT_0 || m_lastWait == WAIT_ABANDONED;
    return m_owned;
}

void CInstanceMutex::Release()
{
    if (m_owned) {
        ReleaseMutex(m_handle);
        m_owned = false;
    }
}

void CInstanceMutex::Close()
{
    Release();
    m_handle.Close();
}

// ---- Hand-over and elevated restart ----

bool HandOverToRunningInstance(const wchar_t* commandLine, bool autorun)
{
    HWND window = FindWindowW(kMainWindowClass, nullptr);
    if (!window)
        return false;
    if (!autorun) {
        const int show = IsZoomed(window) ? SW_SHOWMAXIMIZED : IsIconic(window) ? SW_RESTORE : SW_SHOW;
        ShowWindow(window, show);
        SetForegroundWindow(window);
    }
    if (commandLine && *commandLine) {
        const size_t length = wcslen(commandLine);
        COPYDATASTRUCT data{};
        data.dwData = kHandOverDataId;
        data.cbData = static_cast<DWORD>((length + 1) * sizeof(wchar_t));
        data.lpData = const_cast<wchar_t*>(commandLine);
        DWORD_PTR result = 0;
        // A hung first instance must not hang the second one too.
        SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                            kHandOverTimeoutMs, &result);
    }
    return true;
}

bool LaunchElevated(const wchar_t* commandLine)
{
    ISystemServices& system = SystemServices();
    const std::wstring program = system.ProgramPath();
    SHELLEXECUTEINFOW info{sizeof(info)};
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE;  // 0x4400
    info.lpVerb = IsWindowsVistaOrLater() ? L"runas" : L"open";
    info.lpFile = program.c_str();
    info.lpParameters = commandLine;
    info.nShow = SW_SHOWNORMAL;
    return system.ExecuteShell(info);
}

// ---- Start-up ----

int StartApplication(const wchar_t* commandLine, int showMode)
{
    CNorvaneApp& app = App();
    std::wstring roaming;
    GetRoamingAppDataPath(roaming);
    std::wstring dataFolder;
    bool portable = false;
    if (!ChooseDataFolder(SystemServices().ProgramPath(), roaming, app.GetMainFrameWindow(), dataFolder, portable))
        return kStartEnd;
    app.GetSettings().SetDataFolder(dataFolder, portable);
    // A save that a crash cut short left its temporary file beside the settings file.
    RemoveStaleTempFiles(dataFolder, kStaleTempFileAgeMs);

    CDocUpdateScope scope(app.GetSettings());
    _CMDLINE_INFO parsed, info;
    ParseCommandLine(commandLine, parsed);
    LoadSettings(parsed, info);

    // 5. The mutex: a second instance started at the same moment waits here until the first
    // has made its main window; a first instance that hangs does not keep it waiting for ever.
    CInstanceMutex mutex;
    if (!mutex.Create())
        return kStartEnd;
    if (!mutex.Acquire())
        LogShellWarning(IDS_LOG_MUTEX_TIMEOUT, mutex.GetLastWaitResult());

    // 6. Hand-over.
    if (info.WantsHandOver() && HandOverToRunningInstance(commandLine, info.Has(CMDF_AUTORUN)))
        return kStartEnd;

    // 7. Elevated restart; when it is declined or fails this instance simply goes on.
    bool elevated = true;
    if (info.Has(CMDF_ADMIN) && SUCCEEDED(SystemServices().CheckElevation(elevated)) && !elevated) {
        mutex.Release();
        if (LaunchElevated(commandLine))
            return kStartEnd;
        LogShellWarning(IDS_LOG_ELEVATION_FAILED, GetLastError());
        mutex.Acquire();
    }

    // 8. The ordered initialisation.
    app.GetSettings().GetTransferDoc().Open();
    app.AddObservers();
    app.Ccid().SetListChangeCallback(&app, &CNorvaneApp::OnCcidReadersChanged);
    app.ListLanguages();
    app.ApplyLanguage();
    if (IsWindowsVistaOrLater())
        AddJumpListTasks();
    if (!app.CreateMainWindow())
        return kStartEnd;

    // 9. Start-up is past the point where a second instance could race it.
    mutex.Close();
    app.RefreshPortList(false);
    app.ListConfigurations();

    // 10. First show.
    int32_t showState = app.GetSettings().showStates[kShowStateMainWindow];
    const bool show = DecideMainWindowShow(info, showMode, app.GetSettings().GetHistoryFlags(), showState);
    app.GetSettings().SetShowState(kShowStateMainWindow, showState);
    HWND mainWindow = app.GetMainFrameWindow();
    app.ExchangeWindowPlacement(false, mainWindow, kPlacementMainWindow, kShowStateMainWindow);
    // Not shown: it stays minimised out of sight, so a tray icon "when minimized" still
    // leads back to it.
    if (!show && IsWindowVisible(mainWindow))
        ShowWindow(mainWindow, SW_HIDE);

    // 11. Event table.
    if (app.GetSettings().IsEventLogEnabled()) {
        app.UpdateEventLog();
        app.RecordStartEvent();
    }

    // 12. Start action.
    PerformStartAction(info, show);
    // The shown window paints all its parts now, in one pass, rather than through a paint
    // message for each of them from the loop.
    if (show)
        UpdateWindow(mainWindow);
    return kStartContinue;
}
