// The shell operations whose full forms come with the transfer control, the port list, the
// configurations, the window services, the event table, the languages and help, and the
// reactions to document changes. These keep start-up and shutdown whole meanwhile.
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"

void CNorvaneApp::ShowHelp(int)
{
}

void CNorvaneApp::StartTransfer(bool)
{
}

void CNorvaneApp::StopTransfer()
{
}

void CNorvaneApp::RestartTransfer(bool)
{
}

void CNorvaneApp::ApplyTransferState()
{
}

void CNorvaneApp::ListConfigurations()
{
}

void CNorvaneApp::ApplyLanguage()
{
    settings.GetTransferDoc().SetInterfaceLanguageApplied(true);
}

void CNorvaneApp::OnSettingsChanged(void*, CDocument*, const uint32_t*)
{
}

void CNorvaneApp::OnConfigurationChanged(void*, CDocument*, const uint32_t*)
{
}
