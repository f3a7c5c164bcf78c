#pragma once
// What a page may ask of the application. Pages reach the documents, the transfer, the reader
// jobs and the main window only through this interface, never through app/ itself; the
// application object implements it.
#include <windows.h>
#include <commctrl.h>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/AppSettings.h"
#include "framework/Dialog.h"

class CActionHdBk;
class ITableSettings;

// Deferred work of the main window that a page may ask for; the next idle pass does it.
enum class HostUpdate
{
    PageIdle,   // every page's OnIdleUpdate
    Toolbar,    // the command states of the toolbars
    StatusBar,  // the status-bar texts
};

enum class HostImages
{
    Small,  // 16 pixels
    Large,  // 32 pixels
};

class IPageHost : public ICommandTips
{
public:
    // The documents: the application settings, the current configuration in them.
    virtual CAppSettings& GetSettings() = 0;
    CTransferDoc& GetTransferDoc() { return GetSettings().GetTransferDoc(); }

    // Starts the transfer; interactive lets it ask and report in message boxes. Stopping it and
    // the key list's next key are frame commands (ID_TRANSFER_STOP, ID_NEXT_KEY).
    virtual bool StartTransfer(bool interactive) = 0;

    // Reader jobs and the reader search. confirm asks first ("Do not ask" clears its bit).
    virtual void InitializeTemic(bool confirm) = 0;
    // plus: the Mifare Plus keys, else the Mifare Classic keys; bit i - 1 for slot i.
    virtual void WriteKeysToReader(bool plus, uint32_t slotMask, bool confirm) = 0;
    // False when there is nothing to search.
    virtual bool StartReaderSearch() = 0;
    // The port list with the PC/SC readers now (what the main window noted of device changes is
    // done with), and a reader search when "searchFlags" asks for one and none runs.
    virtual void RefreshPortsAndSearch() = 0;
    // A reader job may start now: the source is a reader with a port, and no job is pending.
    virtual bool CanStartReaderJob() = 0;

    // Makes the page current through the settings; false when the frame stays where it is (the
    // current page refused to be left, or there is no main window).
    virtual bool ShowPage(int pageId) = 0;

    // The shared 16 or 32 pixel image list (owned by the application).
    virtual HIMAGELIST GetImageList(HostImages size) = 0;

    virtual void MarkDirty(HostUpdate what) = 0;
    // Writes the hotkey texts into a menu a page is about to open, as the frame's menus show
    // them, and the page's own shortcuts (hotkey entries: command << 16 | hotkey) after them.
    virtual void PrepareMenuShortcuts(HMENU menu, const std::vector<uint32_t>& shortcuts) = 0;

    // What the pages' tables and their column chooser use of the settings and the main window;
    // a page hands it to each table it attaches.
    virtual ITableSettings& GetTableSettings() = 0;

    // The catalogue of the commands that hotkeys and mouse clicks can be bound to, loaded once.
    virtual std::shared_ptr<CActionHdBk> GetActionCatalogue() = 0;
    // The event table: an event of the program's own (level 1-3, a string id) into the open
    // table, and opening or closing the table as "eventLog" "enabled" says.
    virtual void LogPageEvent(int level, UINT stringId) = 0;
    virtual void UpdateEventLog() = 0;

    // Opens a configuration file of the documents folder ("name.nv2"; empty: the default
    // configuration), asking first whether to save the current one when ask is set; false when
    // the switch did not happen.
    virtual bool OpenConfiguration(const std::wstring& name, bool ask) = 0;

    // A command of the main window's own (menus, toolbars; the transfer log's open and clear
    // among them). The current page is not asked first: it may be the one passing it on.
    virtual void RunFrameCommand(int command) = 0;
    // Reads the configuration files of the documents folder into the settings' list.
    virtual void ListConfigurations() = 0;
    // GetCommandTipText: the tips of the main window's commands.


    // A message box owned by the main window (style as framework/MessageBox.h); the id of the
    // button that closed it. dontAsk, when given, shows the "Do not ask" box (in and out).
    virtual int ShowMessageBox(const std::wstring& text, UINT style, bool* dontAsk) = 0;

    // Makes a popup menu of a page ready to open: the external tools in place of their
    // placeholder item, and the hotkeys shown beside the commands.
    virtual void PrepareMenu(HMENU menu) = 0;
    // The main window (null when there is none): the pages' tools move it out of the way.
    virtual HWND GetMainWindow() = 0;
    // Saves (true) or restores (false) a dialog's placement in a placement slot of the settings,
    // and its show state in a show-state slot (-1 none).
    virtual bool ExchangeWindowPlacement(bool save, HWND window, int slot, int showStateSlot = -1) = 0;
    // Finds the keyboard destination's target window by its filter, restores and activates it;
    // null, after the error box, when there is none.
    virtual HWND ActivateTargetWindow() = 0;
    // The peer addresses of the running bridge link, in its order; false when no link runs.
    virtual bool GetBridgeConnections(std::vector<std::wstring>& peers) = 0;
    // The 22 card-type names in the interface language, index = key type.
    virtual const std::array<std::wstring, 22>& GetKeyTypeNames() = 0;
    // A shortcut capture field took (true) or lost the focus. While any has it the main window
    // holds no hotkeys, so that the keys being captured reach the field.
    virtual void SetHotkeyCapture(bool focused) = 0;
    // Tries an event's sound as the Sounds page's play button does: a running media playback
    // is stopped instead; otherwise a loaded sound is closed and the event's sound played.
    virtual void TryEventSound(int soundEvent) = 0;
    // The event whose media playback runs, -1 none (its play button shows stop).
    virtual int GetPlayingSound() = 0;

protected:
    ~IPageHost() = default;
};

// The long name of a key type in the interface language; empty outside the list.
const std::wstring& KeyTypeName(IPageHost& host, int keyType);
