#pragma once
// The program's single application object: owner of the settings document (with the current
// configuration inside it), the main frame, the hidden owner window and the shared image
// lists. The operations of each area live in their own source files of app/.
#include <windows.h>
#include <commctrl.h>
#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/AppLogCommands.h"
#include "app/AppSystemServices.h"
#include "config/AppSettings.h"
#include "core/AppContext.h"
#include "core/SysUtil.h"
#include "framework/Holders.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "reader/CcidConnection.h"
#include "reader/ReaderModels.h"

class CMainFrame;
class CActionHdBk;
class CReader;
class CPortavo;
class HttpClient;
class CTNMsg;
class CRdErrorMsg;

// The hidden tool window that owns the main window, so that the main window has a taskbar
// button only through WS_EX_APPWINDOW.
class CBaseAppWnd : public CWnd
{
public:
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
};

// Window class names; the main window's class is also how a second instance finds the first.
extern const wchar_t kMainWindowClass[];   // "Norvane2"
extern const wchar_t kOwnerWindowClass[];  // "Norvane2_Base"

// CWinApp is also the core services' application context (CAppContext); the pages' host is the
// application too (its own operations below, the rest in app/AppPageHost.cpp).
class CNorvaneApp : public CWinApp, public IPageHost
{
public:
    CNorvaneApp();
    ~CNorvaneApp() override;

    // CWinApp
    bool ShowHelp(int helpId) override;
    // Closes the help windows when help was shown, and forgets the help file.
    void CloseHelp();
    // An exception that escaped a window's message handler: its text becomes the main window's
    // caption and the debug log records it.
    LRESULT OnHandlerException(const std::exception& e, const MSG& msg) override;
    bool PreTranslate(MSG* msg) override;
    // CAppContext (through CWinApp)
    HWND GetMainFrameWindow() const override;

    // Owner window, window classes and main window (created hidden); false on any failure.
    bool CreateMainWindow();
    void DestroyOwnerWindow();
    // Registers the application as observer of both documents (once).
    void AddObservers();
    void RemoveObservers();

    // Shared image lists of bitmaps 712 (16 px) and 713 (32 px), made on first use.
    HIMAGELIST GetSmallImageList();
    HIMAGELIST GetLargeImageList();

    // ---- The pages' host (app/AppPageHost.cpp) ----
    CAppSettings& GetSettings() override { return settings; }
    HIMAGELIST GetImageList(HostImages size) override
    {
        return size == HostImages::Large ? GetLargeImageList() : GetSmallImageList();
    }
    // The reader jobs and the search run on the main frame; without it they do nothing.
    void InitializeTemic(bool confirm) override;
    void WriteKeysToReader(bool plus, uint32_t slotMask, bool confirm) override;
    bool CanStartReaderJob() override;
    void PrepareMenuShortcuts(HMENU menu, const std::vector<uint32_t>& shortcuts) override;
    bool StartReaderSearch() override;
    void RefreshPortsAndSearch() override;
    bool ShowPage(int pageId) override;
    void MarkDirty(HostUpdate what) override;
    // (app/TableSettings.cpp)
    ITableSettings& GetTableSettings() override;

    int ShowMessageBox(const std::wstring& text, UINT style, bool* dontAsk) override;
    // The event table for the pages (app/AppLogCommands.cpp).
    void LogPageEvent(int level, UINT stringId) override;
    void RunFrameCommand(int command) override;
    int GetCommandTipText(UINT command, wchar_t* buffer, int room) override;
    void PrepareMenu(HMENU menu) override;
    HWND GetMainWindow() override { return GetMainFrameWindow(); }
    HWND ActivateTargetWindow() override;
    bool GetBridgeConnections(std::vector<std::wstring>& peers) override;
    const std::array<std::wstring, 22>& GetKeyTypeNames() override;
    void SetHotkeyCapture(bool focused) override;
    void TryEventSound(int soundEvent) override;
    int GetPlayingSound() override;

    // The command-line and the HTTP destination's editors over the main window; true after OK.
    bool ShowCmdLineDialog();
    bool ShowHttpRequestDialog();

    // ---- Transfer control (app/TransferControl.cpp) ----
    // False when the transfer did not start (no source, an elevated restart, an error).
    bool StartTransfer(bool interactive) override;
    void StopTransfer();
    bool RestartTransfer(bool interactive);
    // The first selected eligible row of the key list: transferred, marked, and the selection
    // moved on. False when nothing was transferred or the transfer failed.
    bool TransferNextKey();
    // The two ready words of the configuration, recomputed; a change raises state change 4.
    void UpdateSourceState();
    void UpdateDestinationState();

    // ---- Reader and bridge link workers (app/AppReader.cpp, app/AppBridge.cpp) ----
    // Creates the reader for the source's port (replacing one of another port), copies the
    // settings into it and wakes or starts it. connect false keeps it from polling.
    void ApplyReaderSettings(bool logStart, bool connect);
    void ReleaseReader(bool logStop);
    // Drops the reader's connection and connects again, when its thread runs.
    void ReconnectReader();
    // Drains the reader's change word and queue (WM_USER+1).
    void ProcessReaderMessages();
    void OnReaderError(const CRdErrorMsg& message);
    void OnReaderConnected(const CTNMsg& message);
    void ApplyBridgeLink(bool logStart);
    // Drops the bridge link's connections and makes them again, when its thread runs.
    void ReconnectBridgeLink();
    // Stops and deletes the bridge link; logStop writes its debug entry.
    void ReleaseBridgeLink(bool logStop);
    // Drains the bridge link's change word and queue (WM_USER+2).
    void ProcessBridgeMessages();
    // The HTTP client record, made on first use.
    HttpClient& EnsureInetSession();
    // Asks for a sound event; the main window plays the requests.
    void RequestSound(int soundEvent);

    // ---- Reactions to document changes (app/AppDocChanges.cpp) ----
    // Brings the reader worker and the bridge link in line with the running state, then the
    // two ready words.
    void ApplyTransferState();
    void ApplySourceLink();
    void ApplyDestinationLinks();
    // The key list's selection (KVKEY_SELECTED of its entries, kept for the key-list page).
    bool HasSelectedKey() const;

    // Port list and configuration list (app/Configurations.cpp): the "*.nv2" names of the
    // documents folder in code-unit order, raising state change ASS_CONFIG_FILES.
    void RefreshPortList(bool serialOnly);
    void ListConfigurations() override;
    // Switches to a configuration (a name relative to the documents folder, an absolute path, or
    // empty for the default one), asking whether to save an unsaved one when ask is set, else
    // saving it. False only when the user cancelled. A file that cannot be read throws and
    // changes nothing.
    bool OpenConfiguration(const std::wstring& name, bool ask) override;
    // A window's placement slot (and show-state slot, -1 none): save (true) into the settings,
    // or restore (false) from them, centring what has no stored position or a position on no
    // monitor. False when the placement cannot be read or applied; the settings stay untouched.
    bool ExchangeWindowPlacement(bool save, HWND window, int slot, int showStateSlot = -1) override;
    // The key-type names of RCDATA 800, once; names the resource lacks stay empty.
    // True when this call read them (false: they were there already).
    bool LoadKeyTypeNames();
    // Opens or closes the event table as "eventLog" "enabled" says.
    void UpdateEventLog() override;
    // The start event: the program's and the system's versions; then the warning about a device
    // that the settings named as the configuration, so the user sees why the default one was read.
    void RecordStartEvent();
    // The built-in language and the libraries of "Languages" beside the program (app/Languages.cpp).
    void ListLanguages();
    // Applies the settings' language: its library becomes the resource module (the built-in
    // texts when it is missing or broken) and the presets are merged for it.
    void ApplyLanguage();

    // Event table (app/AppLogCommands.cpp): open and close with the history rule; one event
    // of string `id` printed with the arguments, only while the table is open.
    bool OpenEventLog();
    void CloseEventLog();
    template <class... Args>
    void LogEvent(__time64_t time, int level, UINT id, const wchar_t* attribute, const Args&... args)
    {
        ::LogEvent(settings, this, time, level, id, attribute, args...);
    }

    // Keyboard destination (app/AppKeyboard.cpp): the first visible top-level window from
    // start (the foreground window when null) downward, other than the main window, whose class,
    // title and process image path match the masks.
    HWND FindTargetWindow(const wchar_t* classMask, const wchar_t* titleMask, const wchar_t* fileMask,
                          HWND start = nullptr) const;

    // Document observers.
    static void OnSettingsChanged(void* key, CDocument* doc, const uint32_t* bits);
    static void OnConfigurationChanged(void* key, CDocument* doc, const uint32_t* bits);
    // The PC/SC watcher's reader list changed (its thread): WM_USER+5 to the main window.
    static void OnCcidReadersChanged(void* owner, CCcidConnection* watcher, uint32_t value);

    // ---- Key transfer and action catalogue (app/AppTransfer.cpp, app/AppPageHost.cpp) ----
    // Renders the key through its format, hands the text to the destination and records the
    // outcome. The extra value travels with the last-transfer record only. The result code.
    HRESULT TransferKey(int keyType, const _KEY_NUMBER& key, uint32_t extra);
    // The commands that hotkeys can be bound to, read from the resource on first use.
    std::shared_ptr<CActionHdBk> GetActionCatalogue() override;

    // ---- The application's parts as the rest of app/ sees them ----
    // The main frame (null before it is made and after the end).
    CMainFrame* GetMainFrame() const { return mainFrame.get(); }
    // Destroys the main window and its frame object.
    void DestroyMainFrame();
    // The reader worker (null while no reader source needs it), the bridge link (null while the
    // transfer does not run to it), the HTTP client (null before its first use).
    CReader* GetReader() const { return reader.get(); }
    // Puts a reader of the caller's making in place of the one there is (null: none).
    void SetReader(std::unique_ptr<CReader> worker);
    CPortavo* GetBridgeLink() const { return bridgeLink.get(); }
    HttpClient* GetInetSession() const { return inetSession.get(); }
    CCcidConnection& Ccid() { return cccid; }
    // Where the PC/SC watcher's list changes go (the main window while it exists; null none).
    void SetCcidNotifyWindow(HWND window) { ccidNotifyWindow = window; }
    // The capture fields that have the focus now.
    int HotkeyCaptures() const { return hotkeyCaptures; }
    // The loaded language library (null: the built-in texts) and its index in the settings'
    // languages.
    HMODULE LanguageModule() const { return languageModule; }
    int AppliedLanguage() const { return appliedLanguage; }
    // Set while a language switch rebuilds the main window: its teardown then keeps the
    // transfer, the reader and the bridge link, and does not end the program.
    bool IsRecreatingMainWindow() const { return recreatingMainWindow; }
    // The next help request opens the help file again.
    void ForgetHelpFile() { helpFile.clear(); }

private:
    // The capture fields that have the focus now.
    int hotkeyCaptures = 0;
    // The loaded language library (null: the built-in texts), its index in the settings'
    // languages, and the help file last shown.
    HMODULE languageModule = nullptr;
    // Set while a language switch rebuilds the main window: its teardown then keeps the
    // transfer, the reader and the bridge link, and does not end the program.
    bool recreatingMainWindow = false;
    // The frame object of a window a language switch replaced: the switch may come from that
    // window's own handler, so the object lives on until the next switch or the end.
    std::unique_ptr<CMainFrame> retiredFrame;
    int appliedLanguage = 0;
    std::wstring helpFile;
    // In force while the application lives; declared first of the members so that what the
    // others do while they are destroyed still goes through it.
    CAppSystemServices systemServices;
    std::unique_ptr<CMainFrame> mainFrame;
    ATOM mainClassAtom = 0;
    ATOM ownerClassAtom = 0;
    CBaseAppWnd ownerWnd;
    std::array<std::wstring, kKeyTypeCount> keyTypeNames;  // index = key type; LoadKeyTypeNames
    bool keyTypeNamesLoaded = false;
    // The reader worker while a reader source needs it (or a reader job runs), the bridge link
    // while the transfer runs to it, the HTTP client from its first use. Their threads log
    // through the settings, so the destructor stops and frees them before the settings go.
    std::unique_ptr<CReader> reader;
    std::unique_ptr<CPortavo> bridgeLink;
    std::unique_ptr<HttpClient> inetSession;
    CAppSettings settings;
    int settingsObserver = -1;
    int configObserver = -1;
    CCriticalSection lock;
    // The PC/SC watcher; after the settings, so that it stops before they go (its thread logs).
    CCcidConnection cccid;
    // Where the watcher's list changes go: the main window from its creation to its end.
    std::atomic<HWND> ccidNotifyWindow{nullptr};
    std::shared_ptr<CActionHdBk> actionCatalogue;

    void DrainReader(CReader& worker);
    // The reader whose queue is being drained (also one already taken out to be released).
    CReader* m_drainedReader = nullptr;
    void DrainBridge(CPortavo& link);
    void WireReader(CReader& worker);
    void ReleaseWorkers();

    CImageList m_smallImages;
    CImageList m_largeImages;
    HICON m_classIcon = nullptr;
    HICON m_classSmallIcon = nullptr;

};

// Sound events.
constexpr int kSoundTransferOk = 0;
constexpr int kSoundTransferFailed = 1;
constexpr int kSoundReaderConnected = 2;
constexpr int kSoundReaderDisconnected = 3;

// What the reader is given to read: the configuration's card reading, with every key type
// while "toKeylist" is on.
ReadKeysSettings ReaderCardReading(const CTransferDoc& doc);

// The application object (static storage, constructed before wWinMain).
CNorvaneApp& App();
