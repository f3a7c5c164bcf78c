// The shell operations whose full forms come with the configurations, the languages and help.
// These keep start-up and shutdown whole meanwhile.
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"

void CNorvaneApp::ShowHelp(int)
{
}

void CNorvaneApp::ListConfigurations()
{
}

void CNorvaneApp::ApplyLanguage()
{
    settings.GetTransferDoc().SetInterfaceLanguageApplied(true);
}
