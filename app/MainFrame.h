#pragma once
// The main window (class "Norvane2"): hosts the panels and the current page, collects deferred
// work in its dirty-bit word for the idle passes, and owns the tool tips, the rich tip and the
// tray icon. Panels and pages that are not built yet stay empty slots.
#include <windows.h>
#include <dbt.h>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/IdleLoop.h"
#include "app/PageListBar.h"
#include "config/KeyNumber.h"
#include "core/Document.h"
#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/PrivateMessages.h"
#include "framework/RichTip.h"
#include "pages/PageRegistry.h"
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

// "panels" bits.
constexpr uint32_t PANEL_PAGELIST = 0x01;
constexpr uint32_t PANEL_STATUSBAR = 0x02;
constexpr uint32_t PANEL_TOOLBAR = 0x04;
constexpr uint32_t PANEL_HEADER = 0x08;

// The tray icon's id among the frame's notification-area icons.
constexpr UINT kTrayIconId = 109;
// WM_TCARD from other programs: wParam 5555, lParam 0x10000 + command id.
constexpr WPARAM kExternalCommandTag = 5555;
constexpr LPARAM kExternalCommandBase = 0x10000;

// Menu ids from here on are the dynamic entries of a menu that is open.
constexpr int kFirstDynamicCommand = 10000;

constexpr int kMinTrackWidth = 750;
constexpr int kMinTrackHeight = 642;
constexpr int kSnapDistance = 10;

// Whether a device interface name is one of the USB serial adapters whose arrival or removal
// refreshes the port list.
bool IsWatchedSerialAdapter(const wchar_t* interfaceName);
// Whether an id may be posted by another program through WM_TCARD: a command of the static
// command table (menus, toolbars, accelerators), never a dynamic menu id.
bool IsExternalCommandAllowed(int commandId);

// A menu entry made while a menu with placeholders opens (id = 10000 + index).
struct DynCommand
{
    int32_t kind;  // 0 configuration, 1 language, 2 page
    int32_t value;
};

class CProgressDialog;

class CMainFrame : public CWnd, public IIdleTarget
{
public:
    CMainFrame();
    ~CMainFrame() override;

    bool PreTranslate(MSG* msg) override;
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;

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
    void OnSearchResults();
    bool CanClose();
    // The WM_COPYDATA 101 text, already checked to be a terminated UTF-16 line.
    bool OnHandOver(const wchar_t* commandLine);
    void UnregisterHotkeys();

    static void OnSettingsChanged(void* key, CDocument* doc, const uint32_t* bits);
    static void OnTransferDocChanged(void* key, CDocument* doc, const uint32_t* bits);

    HWND prevFocus = nullptr;
    uint32_t dirty = 0;
    HWND pageToolbar = nullptr;
    CGdiObject uiFont;
    HWND header = nullptr;
    CGdiObject headerFont;
    CToolTipCtrl toolTip;
    CSubclassedWnd statusBar;
    std::unique_ptr<CPageListBar> pageListBar;
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
    std::array<int32_t, 2> soundState{-1, -1};
    uint32_t timerMask = 0;
    int settingsObserver = -1;
    int transferObserver = -1;
    std::vector<DynCommand> dynCommands;
    // The reader job's progress dialog while it runs modally (timer 2); null otherwise.
    CProgressDialog* progressDialog = nullptr;

private:
    LRESULT OnCreate();
    void OnDestroy();
    LRESULT OnDeviceChange(WPARAM event, LPARAM data);
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
    void UpdatePageToolbarVisibility();
    void UpdateHeaderText();
    void SetToolbarStates();
    void UpdateTrayIcon();
    bool SaveOnClose(bool saveConfiguration);

    POINT m_dragOffset{};          // the cursor's offset in the window while it is moved
    UINT m_taskbarCreated = 0;
    UINT m_keyListPeriod = 0;      // period of the running key-list timer
};
