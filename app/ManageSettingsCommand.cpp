#include "app/ManageSettingsCommand.h"

#include "app/CommandTexts.h"
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "config/ManageSettingsDialog.h"

namespace {

// What the dialog reaches of the application: the image list, command tips and placements.
class CManageSettingsHost final : public IManageSettingsHost
{
public:
    explicit CManageSettingsHost(CNorvaneApp& app) : m_app(app) {}

    HIMAGELIST GetSmallImageList() override { return m_app.GetSmallImageList(); }
    int GetCommandTipText(UINT command, wchar_t* buffer, int room) override
    {
        return ::GetCommandTipText(command, buffer, room);
    }
    bool ExchangeWindowPlacement(bool save, HWND window, int slot, int showStateSlot) override
    {
        return m_app.ExchangeWindowPlacement(save, window, slot, showStateSlot);
    }

private:
    CNorvaneApp& m_app;
};

} // namespace

void RunManageSettingsDialog(CMainFrame& frame)
{
    frame.StorePageEdits();
    CNorvaneApp& app = App();
    CManageSettingsHost host(app);
    CManageSettingsDialog dialog(app.GetSettings(), host);
    dialog.RunModal(frame.m_hWnd);
}
