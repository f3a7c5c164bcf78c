#pragma once
// The base of the Advanced page's two views, the simple view and the full parameter list. The
// page base already makes each a child control of the Advanced page at WM_INITDIALOG and paints
// its background and static texts in the window colour, and the Advanced page hands its
// page-default command to the current view's RestoreDefaults; this base names what the two
// views are, so the Advanced page holds nothing else, and does what both views share.
#include <functional>

#include "framework/Dialog.h"

class CAppSettings;
struct AppViewOptions;

class CAdvPage : public CBasePage
{
public:
    using CBasePage::CBasePage;

    // The configuration tools both views show are the main window's own commands.
    bool OnCommand(int id, int code, HWND control) override;

protected:
    // The defaults of the options both views show: the default configuration, the language,
    // the window's top-most and version-title options (with the view's own window options
    // set by ownView), confirmations, start-up and the logs. Called inside the view's update
    // scope of the settings.
    void RestoreSharedDefaults(CAppSettings& settings, const std::function<void(AppViewOptions&)>& ownView);
};
