// The shell operations whose full forms come with the languages and help.
// These keep start-up and shutdown whole meanwhile.
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"

void CNorvaneApp::ShowHelp(int)
{
}

void CNorvaneApp::ApplyLanguage()
{
    settings.GetTransferDoc().SetInterfaceLanguageApplied(true);
}
