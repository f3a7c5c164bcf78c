#include "pages/options/AdvPage.h"

#include "config/AppSettings.h"
#include "pages/PageHost.h"
#include "resources/ids_commands.h"

bool CAdvPage::OnCommand(int id, int code, HWND control)
{
    if (id != ID_CONFIG_NEW && id != ID_CONFIG_DELETE)
        return CBasePage::OnCommand(id, code, control);
    m_host->RunFrameCommand(id);
    return true;
}

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
