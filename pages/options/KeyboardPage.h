#pragma once
// The keyboard page: the typing method, the three delays, the admin restart and the filter of
// the target window, with two tools for the filter: a picker that fills it from a window chosen
// with the mouse, and a test that finds the window it describes and flashes a frame on it.
#include <windows.h>
#include <string>

#include "framework/Dialog.h"
#include "framework/Layout.h"
#include "pages/options/OptionTips.h"

class IPageHost;

class CKeyboardPage : public CBasePage
{
public:
    explicit CKeyboardPage(IPageHost& host);

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;

    // The picker: captures the mouse and runs until the button is released (a window taken) or
    // Escape is pressed or the capture is lost (nothing changes). True when a window was taken.
    bool RunPicker();
    // Finds the filter's window, brings it forward and starts the flash; false when none.
    bool GoToWindow();

    bool IsPicking() const { return m_picking; }
    HWND HighlightedWindow() const { return m_highlighted; }
    bool IsFlashing() const { return m_flashing; }
    int FlashCount() const { return m_flashCount; }

    // Where the page looks for the typing library: beside the program.
    static std::wstring TypingLibraryPath();

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void UpdateFilterControls();
    void StoreDelay(int editId);
    void StoreFilterText(int editId);
    void RestoreDefaults() override;
    void EndPicker();
    void AcceptWindow(HWND window);
    void SetHighlight(HWND window);
    void StopFlash();
    void OnFlashTick();

    AnchorLayout m_layout;
    COptionTips m_tips;
    bool m_picking = false;
    HCURSOR m_pickerCursor = nullptr;
    HCURSOR m_oldCursor = nullptr;
    HWND m_highlighted = nullptr;
    bool m_flashing = false;
    int m_flashCount = 0;
    std::wstring m_goLabel;
    std::wstring m_selectLabel;
};

// Draws (a yellow-backed black cross-hatched frame 3 pixels wide) the highlight on a window;
// throws CResourceException when the window's DC cannot be had.
void DrawWindowHighlight(HWND window);
// Erases it again.
void EraseWindowHighlight(HWND window);
