#pragma once
// The main window (class "Norvane2"): hosts the panels and the current page, collects deferred
// work in its dirty-bit word for the idle passes, and owns the tool tips, the rich tip and the
// tray icon. A page is made on its first show and lives as long as the window.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/IdleLoop.h"
#include "app/PageListBar.h"
#include "app/TransToolBar.h"
#include "config/KeyNumber.h"
#include "core/Document.h"
#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/PrivateMessages.h"
#include "framework/RichTip.h"
#include "pages/PageRegistry.h"
#include "reader/ReaderSearch.h"
#include "resources/resource.h"

// Dirty bits, worked off by IdleUpdate in the order below.
constexpr uint32_t MFD_PAGES = 0x100;         // pages' own idle updates
constexpr uint32_t MFD_CAPTION = 0x001;
constexpr uint32_t MFD_SERIAL_PORTS = 0x002;  // device change: serial ports only
constexpr uint32_t MFD_ALL_PORTS = 0x004;     // serial and PC/SC, maybe a reader search
constexpr uint32_t MFD_TRAY = 0x008;
constexpr uint32_t MFD_TOOLBAR = 0x010;       // Start/Stop/Restart states
constexpr uint32_t MFD_HOTKEYS = 0x200;
constexpr uint32_t MFD_TOPMOST = 0x400;
constexpr uint32_t MFD_LAYOUT = 0x1000;
constexpr uint32_t MFD_STATUS = 0x800;
constexpr uint32_t MFD_MENU_END = 0x2000;

// The tray icon's id among the frame's notification-area icons.
constexpr UINT kTrayIconId = 109;
// WM_TCARD from other programs: wParam 5555, lParam 0x10000 + command id.
constexpr WPARAM kExternalCommandTag = 5555;
constexpr LPARAM kExternalCommandBase = 0x10000;

// Menu ids from here on are the dynamic entries of a menu that is open.
constexpr int kFirstDynamicCommand = 10000;
// Sound events that a sound is asked for: 0 key transferred, 1 transfer failed, 2 reader
// connected, 3 reader disconnected.
constexpr int kSoundEventCountPlayed = 4;

constexpr int kMinTrackWidth = 750;
constexpr int kMinTrackHeight = 642;
constexpr int kSnapDistance = 10;

// Whether a device interface name is one of the USB serial adapters whose arrival or removal
// refreshes the port list.
bool IsWatchedSerialAdapter(const wchar_t* interfaceName);
// Replaces the placeholder item at position with one item per external tool (ids 33040 and
// on); the items added.
int FillExternalToolsMenu(HMENU menu, int position);
// Whether an id may be posted by another program through WM_TCARD: a command of the static
// command table (menus, toolbars, accelerators), never a dynamic menu id.
bool IsExternalCommandAllowed(int commandId);

// A menu entry made while a menu with placeholders opens (id = 10000 + index).
struct DynCommand
{
    int32_t kind;  // DYN_*
    int32_t value;
};
constexpr int32_t DYN_CONFIGURATION = 0;  // value: list index + 1, 0 the default configuration
constexpr int32_t DYN_LANGUAGE = 1;       // value: language index, -1 follow the system
constexpr int32_t DYN_PAGE = 2;           // value: page id

// The status bar (id 1168): it tells the frame's tooltip control which part the mouse is on.
class CAppStatusBar : public CSubclassedWnd
{
public:
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    // The part under the mouse (1 to 5), -1 none.
    int hotPart = -1;
    CToolTipCtrl* toolTip = nullptr;

private:
    int PartAt(POINT point) const;
};

class CProgressDialog;
class CNorvaneApp;

class CMainFrame : public CWnd, public IIdleTarget
{
public:
    explicit CMainFrame(CNorvaneApp& app);
    ~CMainFrame() override;

    bool PreTranslate(MSG* msg) override;
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    // A command of the frame's own table or a placeholder's menu item, the current page not asked
    // first; false when the id is neither.
    bool RunOwnCommand(int id);
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    // IIdleTarget
    bool HasIdleWork() const override { return dirty != 0; }
    void IdleUpdate() override;

    bool CreatePage(int pageId);
    // False when the current page refused to be left; the frame then stays on it.
    bool ShowPage(int pageId);
    // The current page's object while it has a window; null otherwise.
    CBasePage* GetCurrentPageObject() const;
    // The row of a page id in the frame's page rows; null when it has none.
    const PageTableEntry* FindPage(int pageId) const { return FindPageEntry(pageId, pageRows); }
    // The state of a command now: the current page decides first, then the frame.
    CommandState QueryCommandState(int commandId);

    // A row of the frame's command table: the ids it covers, whether another program may post
    // them (WM_TCARD), what they do and, for the toolbars, their state (null: enabled).
    struct FrameCommand
    {
        int first, last;
        bool external;
        void (*run)(CMainFrame& frame, int id);
        CommandState (*state)(const CAppSettings& settings) = nullptr;
    };
    // The row of a static command id; null for any other id (dynamic menu ids included).
    static const FrameCommand* FindCommand(int id);
    // -1, -1: the current client size.
    void RecalcLayout(int width = -1, int height = -1);
    void LayoutPage(int width = -1, int height = -1);
    void ApplyPanels();
    void BuildCaption(std::wstring& out) const;
    void ApplyTopmost();
    void ShowMainWindow(bool show);
    bool SetTimer(UINT_PTR id, UINT milliseconds);
    void KillTimer(UINT_PTR id);
    // Timer 1 ("Next key" by the key-list timer) runs exactly while its conditions hold.
    void UpdateKeyListTimer();

    // Reader jobs (app/MainFrameReader.cpp). confirm asks first.
    void InitializeTemic(bool confirm);
    // plus: the Mifare Plus keys, else the Mifare Classic keys; slot bit i - 1 for slot i
    // (-1 all).
    void WriteKeysToReader(bool plus, uint32_t slotMask, bool confirm);
    // After the reader's job state changed: the end of the job, its message and its records.
    void PollReaderJob();
    // Reader search; false when there is nothing to search.
    bool StartReaderSearch();
    // What a device change of every kind asks for, at once: the port list with the PC/SC
    // readers, and a reader search when "searchFlags" asks for one and none runs. The port-list
    // dirty bits are done with.
    void RefreshAllPorts();
    void OnSearchResults();
    bool CanClose();
    // Every page that has a window stores its pending edits into the documents.
    void StorePageEdits();
    // The WM_COPYDATA 101 text, already checked to be a terminated UTF-16 line.
    bool OnHandOver(const wchar_t* commandLine);
    // Closes without a question and saves nothing.
    void ExitWithoutSaving();

    // Hotkeys (app/MainFrameCommands.cpp): the global ones registered with ids 1..hotkeyCount,
    // the local ones as the accelerator table; without enable only what was held is given up.
    void RegisterHotkeys(bool enable);
    void UnregisterHotkeys();
    void OnHotkey(UINT modifiers, UINT key);

    // Menus (app/MainFrameMenus.cpp).
    void ShowMainMenu();
    // Fills the placeholders of a menu that is about to open, then its hotkey texts.
    void OnInitMenuPopup(HMENU menu);
    // Each replaces the placeholder item at position with its items; the items added.
    int FillConfigurationsMenu(HMENU menu, int position);
    int FillLanguagesMenu(HMENU menu, int position);
    int FillPagesMenu(HMENU menu, int position);
    // The states and checks of menu 805, 806 and 833 as they are shown.
    void SetMainMenuStates(HMENU menu);
    void SetTrayMenuStates(HMENU menu);
    void SetPageMenuStates(HMENU menu);
    void SetLogMenuStates(HMENU menu, bool debugLog);
    // The log menus (812, 813) and the last-key menu (824) at the cursor.
    void ShowTransferLogMenu();
    void ShowAppLogMenu();
    void ShowLastKeyMenu();
    // WM_CONTEXTMENU on the page header: menu 833. False for everything else.
    bool OnContextMenu(HWND window, POINT screen);

    // Status bar (app/MainFrameStatus.cpp).
    void UpdateStatusBar();
    // The text of part 0 to 5 as UpdateStatusBar sets it.
    std::wstring StatusText(int part);
    // The tip of part 1 to 5 (empty for others).
    std::wstring StatusTip(int part);
    bool OnStatusBarDblClk(const NMMOUSE* notification);

    // Tray icon, balloon and sounds (app/MainFrameTray.cpp).
    // show: the running or the idle icon with the caption as tip; else none. The shell's
    // answer (true when nothing had to change).
    bool UpdateTrayIcon(bool show);
    // Whether the idle pass wants the icon: always, minimized, or a balloon still pending.
    bool WantsTrayIcon() const;
    LRESULT OnTrayNotify(UINT iconId, UINT mouseMessage);
    void ShowBalloon(const std::wstring& title, const std::wstring& text);
    void PlayEventSound(int soundEvent);
    // Stops and closes the loaded sound.
    void StopEventSound();
    void OnMediaNotify();

    static void OnSettingsChanged(void* key, CDocument* doc, const uint32_t* bits);
    static void OnTransferDocChanged(void* key, CDocument* doc, const uint32_t* bits);

    // Deferred work for the next idle pass (MFD_* bits); the one way in from outside the frame.
    void MarkDirty(uint32_t bits) { dirty |= bits; }
    uint32_t DirtyBits() const { return dirty; }
    // Drops the deferred work not yet done (a test starts from a quiet frame).
    void ClearDirty() { dirty = 0; }

    int GetCurrentPage() const { return currentPage; }
    // The page object of a page id (created or not yet); null for an empty slot.
    CBasePage* GetPage(int pageId) const
    {
        return pageId >= 0 && pageId < kPageSlotCount ? pages[pageId].get() : nullptr;
    }
    // Puts a page object into its slot (a page made outside CreatePage), or takes one out.
    void AdoptPage(int pageId, std::unique_ptr<CBasePage> page) { pages[pageId] = std::move(page); }
    std::unique_ptr<CBasePage> TakePage(int pageId) { return std::move(pages[pageId]); }
    // The rows pages are made from: the registry unless the caller gives rows of its own.
    void SetPageRows(std::span<const PageTableEntry> rows) { pageRows = rows; }

    CToolTipCtrl& ToolTip() { return toolTip; }
    CRichTip& RichTip() { return richTip; }
    CAppStatusBar& StatusBar() { return statusBar; }
    CTrayIcon& TrayIcon() { return trayIcon; }
    HICON IdleIcon() const { return idleIcon; }
    CPageListBar* PageListBar() const { return pageListBar.get(); }
    CTransToolBar* TransToolBar() const { return transToolBar.get(); }
    uint32_t TimerMask() const { return timerMask; }
    int HotkeyCount() const { return hotkeyCount; }
    HACCEL AcceleratorTable() const { return accelTable; }
    HDEVNOTIFY DeviceNotification() const { return devNotify; }
    size_t DynamicCommandCount() const { return dynCommands.size(); }
    CProgressDialog* ProgressDialog() const { return progressDialog; }
    CSearchReadersThread* SearchThread() const { return searchThread.get(); }
    // The event whose sound file is loaded, and the one playing through the media interface
    // (-1 none).
    int LoadedSound() const { return loadedSound; }
    int PlayingSound() const { return playingSound; }
    // The Sounds page's play button: stops a media playback that runs, else plays the event.
    void TryEventSound(int soundEvent);

private:
    // The application that owns the frame.
    CNorvaneApp& m_app;
    HWND prevFocus = nullptr;
    uint32_t dirty = 0;
    HWND pageToolbar = nullptr;
    CGdiObject uiFont;
    HWND header = nullptr;
    CGdiObject headerFont;
    CToolTipCtrl toolTip;
    CAppStatusBar statusBar;
    std::unique_ptr<CPageListBar> pageListBar;
    std::unique_ptr<CTransToolBar> transToolBar;
    CRichTip richTip;
    CTrayIcon trayIcon;
    HICON idleIcon = nullptr;
    // The rows pages are made from: the registry (tests give rows of their own pages).
    std::span<const PageTableEntry> pageRows = kPageRegistry;
    std::array<std::unique_ptr<CBasePage>, kPageSlotCount> pages;
    int currentPage = -1;
    int hotkeyCount = 0;
    HACCEL accelTable = nullptr;
    HDEVNOTIFY devNotify = nullptr;
    int loadedSound = -1;    // the event whose sound file is loaded
    int playingSound = -1;   // the event playing through the media interface
    bool loadedWav = false;
    std::wstring loadedSoundFile;
    uint32_t timerMask = 0;
    int settingsObserver = -1;
    int transferObserver = -1;
    std::vector<DynCommand> dynCommands;
    // The reader job's progress dialog while it runs modally (timer 2); null otherwise.
    CProgressDialog* progressDialog = nullptr;
    // The reader search while it runs; its thread posts WM_SEARCH_NOTIFY.
    std::unique_ptr<CSearchReadersThread> searchThread;

    static const FrameCommand s_commands[];

    LRESULT OnCreate();
    void OnDestroy();
    LRESULT OnDeviceChange(WPARAM event, LPARAM data);
    LRESULT OnSysCommand(WPARAM command);
    // WM_TCARD: a static command another program asks for.
    void OnExternalCommand(WPARAM tag, LPARAM value);
    void OnEnterSizeMove();
    // The private messages of the workers, the tray and the shell; false for any other.
    bool OnNoticeMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    LRESULT OnCopyData(const COPYDATASTRUCT* data);
    void OnHelp();
    void OnMoving(RECT* rect);
    void OnTimer(UINT_PTR id);
    void OnJobTimer();
    void StartReaderJob(int kind, bool plus, std::vector<_KEY_NUMBER> keys, int total);
    void DrawHeader(const DRAWITEMSTRUCT* item);
    void CreateHeader();
    void CreateStatusBar();
    // The page list bar's width while it is there; 0 otherwise.
    int PageListWidth() const;
    // The transfer toolbar's height while it is there; 0 otherwise.
    int TransToolBarHeight() const;
    void UpdatePageToolbarVisibility();
    void UpdateHeaderText();
    void SetToolbarStates();
    bool OnDynamicCommand(int id);
    void RefreshPortListCommand();
    void NewFormatCommand();
    void WriteKeysCommand();
    void ShowPageCommand(int pageId);
    void ToggleLogSwitch(bool debugLog);
    void ToggleView(bool AppViewOptions::*option);
    void TogglePanel(uint32_t bit);
    void OpenUserConfiguration(int index);
    void RepeatLastKey();
    void GoLog(const wchar_t* fileName);
    void ShowOrMinimize();
    void TrackMenu(HMENU menu, POINT screen, UINT flags);
    std::wstring LastKeyText() const;
    bool SaveOnClose(bool saveConfiguration);

    POINT m_dragOffset{};          // the cursor's offset in the window while it is moved
    bool m_menuOpen = false;       // between WM_ENTERMENULOOP and WM_EXITMENULOOP
    UINT m_taskbarCreated = 0;
    UINT m_keyListPeriod = 0;      // period of the running key-list timer
};
