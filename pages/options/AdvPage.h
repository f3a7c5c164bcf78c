#pragma once
// The base of the Advanced page's two views, the simple view and the full parameter list. The
// page base already makes each a child control of the Advanced page at WM_INITDIALOG and paints
// its background and static texts in the window colour, and the Advanced page hands its
// page-default command to the current view's RestoreDefaults; this base names what the two
// views are, so the Advanced page holds nothing else.
#include "framework/Dialog.h"

class CAdvPage : public CBasePage
{
public:
    using CBasePage::CBasePage;
};
