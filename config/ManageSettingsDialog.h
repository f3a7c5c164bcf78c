#pragma once
// The modal dialog "Import and Export Settings": an action (import, export, reset), the groups
// of settings it applies to and, for import and export, the file. It remembers the action and
// both group masks in the settings and its placement in slot 4 of the application's table.
#include <windows.h>
#include <commctrl.h>
#include <cstdint>
#include <string>
#include <vector>

#include "config/AppSettings.h"
#include "framework/Dialog.h"
#include "framework/Layout.h"

// What the dialog needs of the application, which implements it.
class IManageSettingsHost
{
public:
    // The shared 16-pixel image list (the toolbar's images 3 and 4).
    virtual HIMAGELIST GetSmallImageList() = 0;
    // A command's tip text into the buffer (room in characters, terminator included).
    virtual int GetCommandTipText(UINT command, wchar_t* buffer, int room) = 0;
    // Saves (true) or restores (false) the window's placement in a slot of the settings.
    virtual bool ExchangeWindowPlacement(bool save, HWND window, int slot, int showStateSlot) = 0;

protected:
    ~IManageSettingsHost() = default;
};

constexpr int kManageSettingsPlacementSlot = 4;

// Actions of the dialog ("ui" "manageSettings" "mode").
constexpr int MSA_IMPORT = 1;
constexpr int MSA_EXPORT = 2;
constexpr int MSA_RESET = 3;

// Dirty bits of the dialog's idle update.
constexpr uint32_t MSD_STATES = 0x1;   // the control states need refreshing
constexpr uint32_t MSD_COLUMN = 0x2;   // the list's column needs fitting

class CManageSettingsDialog;

// The file-name box: Enter takes its text into the dialog and never presses OK.
class CMsFileEdit : public CSubclassedWnd
{
public:
    explicit CMsFileEdit(CManageSettingsDialog& dialog) : m_dialog(dialog) {}
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    CManageSettingsDialog& m_dialog;
};

// The group list: Space toggles the check of every selected item, Ctrl+A selects all items,
// the numeric pad's "*" inverts the selection.
class CMsGroupList : public CSubclassedWnd
{
public:
    explicit CMsGroupList(CManageSettingsDialog& dialog) : m_dialog(dialog) {}
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void InvertSelection();
    void SelectAll();

private:
    CManageSettingsDialog& m_dialog;
};

class CManageSettingsDialog : public CModalDialog
{
public:
    CManageSettingsDialog(CAppSettings& settings, IManageSettingsHost& host);

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    int GetAction() const { return m_action; }
    uint32_t GetConfigMask() const { return m_configMask; }
    uint32_t GetAppMask() const { return m_appMask; }
    const std::wstring& GetFileName() const { return m_fileName; }
    uint32_t GetDirty() const { return m_dirty; }
    // The bit of a list item: which mask and which bit.
    static bool ItemBit(int item, bool& configuration, uint32_t& bit);

    // The edit's text when it was modified; its modified flag cleared.
    void TakeFileName();
    // Space on the list: every selected item's check and bit toggled.
    void ToggleSelectedChecks();

protected:
    // The file dialog of Browse: the chosen name (in and out); false when it was cancelled.
    virtual bool ChooseFile(bool save, UINT filterId, DWORD flags, std::wstring& name);

private:
    bool OnInitDialog() override;
    void OnDestroy() override;
    void FillGroupList();
    void SetItemChecks();
    void RefreshControlStates();
    void FitColumn();
    bool IsOkAllowed() const;
    void SetAction(int action);
    void Browse();
    void ShowFile();
    void OnOK();
    void SetAllChecks(bool checked);
    void SetItemCheck(int item, bool checked);
    void OnItemChanged(const NMLISTVIEW& change);
    void ShowContextMenu();
    void ShowError(const std::wstring& text, bool focusFile);

    CAppSettings& m_settings;
    IManageSettingsHost& m_host;
    int m_action = 0;
    uint32_t m_configMask = 0xFFF;
    uint32_t m_appMask = 0x3FF;
    std::wstring m_fileName;
    uint32_t m_dirty = 0;
    CMsGroupList m_list;
    CMsFileEdit m_fileEdit;
    HWND m_toolbar = nullptr;
    AnchorLayout m_layout;
    wchar_t m_tipText[256] = {};
};

// The characters of the name that a file name may not hold, each once, in their order.
std::wstring FindInvalidNameChars(const std::wstring& name);
