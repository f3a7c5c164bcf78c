#pragma once
// A page host for tests of single pages: it owns its own settings, records what a page asks of
// the application and answers message boxes from a queue (IDOK when the queue is empty). The
// framework's windows need an application object: the host makes sure one exists.
#include <cwchar>
#include <array>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/ShellServices.h"
#include "config/ActionCatalogue.h"
#include "config/AppSettings.h"
#include "framework/TableCtrl.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "resources/resource.h"

class CHostTableSettings final : public ITableSettings
{
public:
    bool GetNoSortHeader() override { return noSortHeader; }
    void SetNoSortHeader(bool on) override { noSortHeader = on; }
    bool GetTableGrid() override { return settings && settings->view.tableGrid; }
    bool GetAlternateRows() override { return settings && settings->view.altListBkColor; }
    std::vector<ColumnDesc> GetChooserColumns() override { return chooserColumns; }
    void StoreChooserColumns(const std::vector<ColumnDesc>& columns) override { chooserColumns = columns; }
    CDocument* GetSettingsDocument() override { return nullptr; }
    void ExchangeChooserPlacement(bool, HWND) override {}
    CToolTipCtrl* GetMainToolTip() override { return mainToolTip; }

    bool noSortHeader = false;
    std::vector<ColumnDesc> chooserColumns;
    CToolTipCtrl* mainToolTip = nullptr;  // the test's own, when a page adds tools
    const CAppSettings* settings = nullptr; // the host's: grid lines and shading
};

// The application object of a page test: help requests recorded, dialog keys handled.
class CPageTestApp final : public CWinApp
{
public:
    bool ShowHelp(int helpId) override
    {
        helpIds.push_back(helpId);
        return true;
    }
    bool PreTranslate(MSG* msg) override
    {
        for (HWND hwnd = msg->hwnd; hwnd; hwnd = GetParent(hwnd)) {
            if (CWnd* object = FindWindowObject(hwnd); object && object->PreTranslate(msg))
                return true;
        }
        return false;
    }

    std::vector<int> helpIds;
};

inline CPageTestApp& PageTestApp()
{
    static CPageTestApp app;
    return app;
}

class CFakePageHost final : public IPageHost
{
public:
    CFakePageHost()
    {
        PageTestApp();
        tableSettings.settings = &settings;
    }

    CAppSettings& GetSettings() override { return settings; }

    bool StartTransfer(bool interactive) override { return Record(L"StartTransfer|" + Flag(interactive)), transferResult; }

    void InitializeTemic(bool confirm) override { Record(L"InitializeTemic|" + Flag(confirm)); }
    void WriteKeysToReader(bool plus, uint32_t slotMask, bool confirm) override
    {
        Record(L"WriteKeysToReader|" + Flag(plus) + L"|" + std::to_wstring(slotMask) + L"|" + Flag(confirm));
    }
    bool StartReaderSearch() override { return Record(L"StartReaderSearch"), true; }
    void RefreshPortsAndSearch() override { Record(L"RefreshPortsAndSearch"); }
    bool CanStartReaderJob() override { return readerJobPossible; }

    bool ShowPage(int pageId) override { return Record(L"ShowPage|" + std::to_wstring(pageId)), true; }

    std::shared_ptr<CActionHdBk> GetActionCatalogue() override
    {
        if (!actions) {
            actions = std::make_shared<CActionHdBk>();
            actions->LoadActionCatalogue();
        }
        return actions;
    }
    void LogPageEvent(int level, UINT stringId) override
    {
        Record(L"LogPageEvent|" + std::to_wstring(level) + L"|" + std::to_wstring(stringId));
    }
    void UpdateEventLog() override { Record(L"UpdateEventLog"); }

    bool OpenConfiguration(const std::wstring& name, bool ask) override
    {
        return Record(L"OpenConfiguration|" + name + L"|" + Flag(ask)), openConfigurationResult;
    }

    void RunFrameCommand(int command) override { Record(L"RunFrameCommand|" + std::to_wstring(command)); }
    void ListConfigurations() override { Record(L"ListConfigurations"); }
    int GetCommandTipText(UINT command, wchar_t* buffer, int room) override
    {
        const std::wstring tip = L"tip " + std::to_wstring(command);
        return room > 0 ? lstrlenW(lstrcpynW(buffer, tip.c_str(), room)) : 0;
    }

    HIMAGELIST GetImageList(HostImages) override { return nullptr; }

    void MarkDirty(HostUpdate what) override { dirty.push_back(what); }
    void PrepareMenuShortcuts(HMENU, const std::vector<uint32_t>& shortcuts) override { menuShortcuts = shortcuts; }
    ITableSettings& GetTableSettings() override { return tableSettings; }

    const std::wstring& GetKeyTypeName(int keyType)
    {
        static const std::wstring none;
        if (keyTypeNames[0].empty()) {
            HMODULE module = GetModuleHandleW(nullptr);
            HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(IDR_KEY_TYPES), MAKEINTRESOURCEW(10));
            HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
            if (const void* data = loaded ? LockResource(loaded) : nullptr)
                SplitKeyTypeNames(static_cast<const char*>(data), SizeofResource(module, info), keyTypeNames);
        }
        return keyType >= 0 && keyType < kKeyTypeCount ? keyTypeNames[keyType] : none;
    }

    void SetHotkeyCapture(bool focused) override { Record(L"SetHotkeyCapture|" + Flag(focused)); }
    void TryEventSound(int soundEvent) override { Record(L"TryEventSound|" + std::to_wstring(soundEvent)); }
    int GetPlayingSound() override { return playingSound; }

    int ShowMessageBox(const std::wstring& text, UINT style, bool* dontAsk) override
    {
        messages.push_back(text);
        if (messageBox)
            return messageBox(text, style, dontAsk);
        if (dontAsk)
            *dontAsk = tickDontAsk;
        if (answers.empty())
            return IDOK;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }

    void PrepareMenu(HMENU) override { Record(L"PrepareMenu"); }
    HWND GetMainWindow() override { return mainWindow; }
    HWND ActivateTargetWindow() override { return Record(L"ActivateTargetWindow"), targetWindow; }
    bool GetBridgeConnections(std::vector<std::wstring>& peers) override
    {
        if (bridgeConnections)
            return peers = bridgeConnections(), true;
        return peers.clear(), false;
    }
    bool ExchangeWindowPlacement(bool save, HWND, int slot, int showStateSlot = -1) override
    {
        if (showStateSlot < 0)
            return Record(std::wstring(save ? L"SavePlacement|" : L"RestorePlacement|") + std::to_wstring(slot)), true;
        Record(L"ExchangeWindowPlacement|" + Flag(save) + L"|" + std::to_wstring(slot) + L"|" +
               std::to_wstring(showStateSlot));
        return true;
    }

    // The real message box instead of the queued answers (its "Do not ask" box included).
    std::function<int(const std::wstring&, UINT, bool*)> messageBox;

    CAppSettings settings;
    std::array<std::wstring, kKeyTypeCount> keyTypeNames;  // from the exe's resource on first use
    const std::array<std::wstring, kKeyTypeCount>& GetKeyTypeNames() override
    {
        GetKeyTypeName(0);  // loads them
        return keyTypeNames;
    }
    CHostTableSettings tableSettings;
    HWND mainWindow = nullptr;
    HWND targetWindow = nullptr;                              // what ActivateTargetWindow finds
    std::function<std::vector<std::wstring>()> bridgeConnections;  // null: no bridge link
    std::vector<std::wstring> calls;     // "Name|arg|..." in order
    std::vector<std::wstring> messages;  // the message boxes' texts
    std::deque<int> answers;             // the buttons that close the next message boxes
    std::vector<HostUpdate> dirty;
    std::shared_ptr<CActionHdBk> actions;  // the built-in catalogue unless a test sets its own
    bool transferResult = true;
    bool openConfigurationResult = true;
    bool tickDontAsk = false;            // the "Do not ask" box as the boxes are closed
    bool readerJobPossible = true;
    std::vector<uint32_t> menuShortcuts;  // what the last menu was given
    int playingSound = -1;

private:
    void Record(std::wstring call) { calls.push_back(std::move(call)); }
    static std::wstring Flag(bool on) { return on ? L"1" : L"0"; }
};
