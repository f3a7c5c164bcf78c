#pragma once
// The base of the Advanced page's two views, the simple view and the full parameter list. The
// page base makes each a child control of the Advanced page at WM_INITDIALOG and paints its
// background and static texts in the window colour; the page-default command of the Advanced
// page reaches the current view through Defaults.
#include "framework/Dialog.h"

class CAdvPage : public CBasePage
{
public:
    using CBasePage::CBasePage;

    // The view's own options back to their defaults.
    virtual void Defaults() = 0;
};
