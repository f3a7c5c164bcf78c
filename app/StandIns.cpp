// The shell operations whose full forms come with the transfer control, the port list, the
// configurations, the window services, the event table, the languages and help, and the
// reactions to document changes. These keep start-up and shutdown whole meanwhile.
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"

namespace {

constexpr int32_t kPlacementMinimized = 0x1;
constexpr int32_t kPlacementMaximized = 0x2;

} // namespace

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

void CNorvaneApp::RefreshPortList(bool)
{
}

void CNorvaneApp::ListConfigurations()
{
}

void CNorvaneApp::ExchangeWindowPlacement(bool save, bool show)
{
    HWND hwnd = GetMainFrameWindow();
    if (save || !hwnd || !show)
        return;
    const int32_t state = settings.showStates[0];
    ShowWindow(hwnd, (state & kPlacementMinimized) ? SW_SHOWMINIMIZED
                     : (state & kPlacementMaximized) ? SW_SHOWMAXIMIZED
                                                     : SW_SHOWNORMAL);
    UpdateWindow(hwnd);
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
