#pragma once
// The Hotkeys page: a shortcut for each action of the catalogue, global (registered with the
// system) or local (an accelerator of the main window), captured from the keys pressed in a
// field of its own.
#include <windows.h>
#include <commctrl.h>
#include <memory>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Layout.h"
#include "framework/TableCtrl.h"

class CActionHdBk;
class CAppSettings;
class IPageHost;

// The rows: every action of the catalogue in its order (those without a shortcut left out while
// they are hidden), a group row before each run of actions of another group.
class CHotKeysLvData : public CVirtualListViewData
{
public:
    CHotKeysLvData(CAppSettings& settings, std::shared_ptr<CActionHdBk> catalogue)
        : m_settings(settings), m_catalogue(std::move(catalogue))
    {
    }

    void Rebuild(bool hideUnassigned);
    int GetItemCount() override { return static_cast<int>(m_rows.size()); }
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int, int) override {}

    // The action's index in the catalogue, -1 for a group row or no row.
    int ActionOf(int row) const;
    bool IsGroupRow(int row) const { return row >= 0 && row < GetCount() && m_rows[row] < 0; }
    // The command of an action row, 0 otherwise.
    int CommandOf(int row) const;
    // The row showing the command, -1 when it is not shown.
    int RowOf(int command) const;
    // The command's entry in the settings' hotkey list, -1 when it has none.
    int EntryOf(int command) const;
    // The action's display name: an external tool's command shows the tool's title.
    std::wstring ActionName(int action) const;

private:
    int GetCount() const { return static_cast<int>(m_rows.size()); }

    CAppSettings& m_settings;
    std::shared_ptr<CActionHdBk> m_catalogue;
    std::vector<int> m_rows;  // action index, or -group for a group row
    std::wstring m_text;
};

// The capture field: every key goes into the shortcut, not into the text.
class CHotkeyCaptureEdit : public CSubclassedWnd
{
public:
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    class CHotkeysPage* page = nullptr;
};

// What a captured shortcut risks: no warning, or the string that warns of it.
UINT HotkeyWarning(WORD shortcut);
// The capture field's text: "Ctrl + ", "Shift + ", "Alt + ", "Win + " (those present), then the key's
// name; empty for no shortcut.
std::wstring CaptureText(WORD shortcut);

class CHotkeysPage : public CBasePage
{
public:
    explicit CHotkeysPage(IPageHost& host);
    ~CHotkeysPage() override;

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnIdleUpdate() override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;
    void RestoreDefaults() override;

    // The capture field's keys (CHotkeyCaptureEdit).
    bool OnCaptureKey(UINT message, WPARAM key);
    void OnCaptureFocus(bool focused);

    WORD GetCaptured() const { return m_captured; }
    // The warning string shown in the balloon, 0 none.
    UINT GetWarning() const { return m_warning; }
    HWND GetBalloon() const { return m_balloon; }
    CTableCtrl& GetList() { return m_list; }
    CHotKeysLvData* GetData() { return m_data.get(); }

    void Assign();
    void Remove();

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void FocusCapture();
    // Group rows in bold and the group colour.
    void DrawGroupRow(NMLVCUSTOMDRAW* draw, LRESULT* result);
    CAppSettings& Settings();
    void RebuildRows(bool columns);
    void UpdateSelection();
    void SetCaptured(WORD shortcut);
    void FinishCapture();
    void ShowWarning();
    void HideWarning();
    void ToggleUnassigned();
    void OnListMenu(POINT at) override;
    std::vector<int> SelectedActionRows();

    CTableCtrl m_list;
    CHotkeyCaptureEdit m_capture;
    std::unique_ptr<CHotKeysLvData> m_data;
    AnchorLayout m_layout;
    HIMAGELIST m_images = nullptr;
    HFONT m_boldFont = nullptr;
    HWND m_balloon = nullptr;
    WORD m_captured = 0;
    WORD m_stored = 0;        // the selection's shortcut, back with Escape
    int m_selectionMode = 0;  // bit 0: one row; bit 1: the rows agree on the global flag
    UINT m_warning = 0;
    bool m_selectionChanged = false;
    bool m_captureFocused = false;
    int m_keepCommand = 0;    // the row to select again after a refresh
};

std::unique_ptr<CBasePage> CreateHotkeysPage(IPageHost& host);
