#pragma once
// What several commands and dialogs of the shell share: the About dialog, the launchers that
// bring the main window forward and run a modal dialog, the restart with administrator rights,
// the activation of the keyboard destination's target window, and the placement slots.
#include <windows.h>
#include <array>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "reader/ReaderModels.h"

// Placement slots ("formPos") and the show-state slots of the windows that keep one.
constexpr int kPlacementMainWindow = 0;
constexpr int kPlacementKeyFilters = 1;
constexpr int kPlacementFormat = 2;
constexpr int kPlacementColumnList = 3;
constexpr int kPlacementSettingsTransfer = 4;
constexpr int kPlacementKeyDialog = 5;
constexpr int kPlacementHttpRequest = 6;
constexpr int kPlacementExtTools = 7;
constexpr int kPlacementCmdLine = 8;
constexpr int kShowStateMainWindow = 0;
constexpr int kShowStateFormat = 1;

// Show-state word of a slot.
constexpr int32_t SHOW_STATE_NORMAL = 0;
constexpr int32_t SHOW_STATE_MINIMIZED = 1;
constexpr int32_t SHOW_STATE_MAXIMIZED = 2;

// A window of the size centred on the reference rectangle, then moved left (up) so that it ends
// inside the work area, then right (down) so that it begins inside it.
RECT CenterInWorkArea(SIZE size, const RECT& reference, const RECT& workArea);

// Restores the main window when minimised, shows it when hidden and brings it to the front;
// the main window (null when there is none).
HWND BringMainWindowForward();

class CAboutDialog : public CModalDialog
{
public:
    CAboutDialog();
    ~CAboutDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    // "%s (%s)": the program file's version and the build date in the locale's date form.
    static std::wstring VersionText();
    // The build stamp of the program as local time (seconds since 1970).
    static __time64_t BuildTime();

private:
    bool OnInitDialog() override;

    CGdiObject m_titleFont;
    HICON m_icon = nullptr;
};

// Modal launchers; the main window is brought forward and owns the dialog. False (not OK) also
// when the dialog could not be created.
void ShowAboutDialog(HWND owner);

// Closes the main window (after its questions) and starts the program again elevated with the
// arguments. True when the new process was started and this one's main window is gone; false
// when the window refused to close or the user declined the elevation, in which case the
// program goes on. Other failures of the start throw COSException.
bool RestartElevated(const wchar_t* arguments);

// Finds the keyboard destination's target window by its filter and brings it to the front.
// Not found: the error box "The window is not found." and false.
bool ActivateTargetWindow(HWND* found = nullptr);

// The key-type names of a resource's bytes: UTF-8 after a byte-order mark, else the ANSI code
// page; lines end with CR LF or a lone CR; at most kKeyTypeCount names, the rest empty.
void SplitKeyTypeNames(const char* data, size_t size, std::array<std::wstring, kKeyTypeCount>& names);
