#include "pages/options/AdvPage.h"

#include "config/AppSettings.h"
#include "pages/PageHost.h"

void CAdvPage::RestoreSharedDefaults(CAppSettings& settings, const std::function<void(AppViewOptions&)>& ownView)
{
    m_host->OpenConfiguration(L"", false);
    settings.SetLanguage(L"");
    AppViewOptions view = settings.view;
    view.topMost = false;
    view.versionTitle = false;
    ownView(view);
    settings.SetViewOptions(view);
    settings.SetConfirmFlags(kDefaultConfirm);
    settings.SetAutorun(false);
    settings.SetAutoStart(false);
    settings.SetSingleInstance(true);
    settings.SetTransferLog(false);
    if (settings.debugLog.enabled)
        settings.EditDebugLog()->enabled = false;
}
