// Closing the main frame: the questions, then saving the placement, the pages' edits, the
// settings and the configuration.
#include "app/MainFrame.h"

#include <exception>

#include "app/NorvaneApp.h"
#include "app/ShellServices.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "resources/resource.h"

namespace {

constexpr UINT MB_STYLE_YES_NO_CANCEL_QUESTION = 0x23;
constexpr UINT MB_STYLE_OK_CANCEL_QUESTION = 0x21;
constexpr UINT MB_STYLE_OK_CANCEL_ERROR = 0x11;

} // namespace

bool CMainFrame::CanClose()
{
    CAppSettings& settings = m_app.GetSettings();
    CTransferDoc& transfer = settings.GetTransferDoc();
    const uint32_t confirm = settings.GetConfirmFlags();
    bool saveConfiguration = transfer.IsUnsaved();

    // 1. Unsaved configuration: ask, unless the question was switched off (then it is saved).
    if (saveConfiguration && (confirm & CONFIRM_SAVE_CONFIG)) {
        std::wstring name, text;
        settings.GetConfigDisplayPath(name);
        if (name.empty())
            LoadResString(IDS_DEFAULT_CONFIG_NAME, name);
        FormatResString(text, IDS_SAVE_CONFIG_QUESTION, name.c_str());
        bool dontAsk = false;
        const int answer = ShowMessage(text, MB_STYLE_YES_NO_CANCEL_QUESTION, m_hWnd, &dontAsk);
        if (dontAsk)
            settings.SetConfirmFlags(settings.GetConfirmFlags() & ~CONFIRM_SAVE_CONFIG);
        if (answer == IDCANCEL)
            return false;
        if (answer == IDNO)
            saveConfiguration = false;
    } else if (confirm & CONFIRM_EXIT) {
        // 2. Exit question.
        std::wstring text;
        LoadResString(IDS_EXIT_QUESTION, text);
        bool dontAsk = false;
        const int answer = ShowMessage(text, MB_STYLE_OK_CANCEL_QUESTION, m_hWnd, &dontAsk);
        if (dontAsk)
            settings.SetConfirmFlags(settings.GetConfirmFlags() & ~CONFIRM_EXIT);
        if (answer != IDOK)
            return false;
    }
    return SaveOnClose(saveConfiguration);
}

void CMainFrame::StorePageEdits()
{
    for (auto& page : pages) {
        if (page && page->m_hWnd)
            page->ExchangeData(true);
    }
}

bool CMainFrame::SaveOnClose(bool saveConfiguration)
{
    CNorvaneApp& app = m_app;
    CAppSettings& settings = app.GetSettings();
    CTransferDoc& transfer = settings.GetTransferDoc();
    try {
        // 3. Placement and the pages' pending edits.
        app.ExchangeWindowPlacement(true, m_hWnd, kPlacementMainWindow, kShowStateMainWindow);
        StorePageEdits();
        // 4. The settings file and the configuration's own file.
        const bool ownFile = !transfer.GetPathName().empty();
        if (!settings.IsUnsaved()) {
            if (!saveConfiguration)
                return true;
            if (ownFile) {
                transfer.Save(true);
                return true;
            }
        }
        settings.Save(settings.IsUnsaved(), saveConfiguration && !ownFile);
        if (saveConfiguration && ownFile)
            transfer.Save(true);
        return true;
    } catch (const std::exception& e) {
        // 5. A failed save: the user decides whether to quit all the same.
        std::wstring text;
        LoadResString(IDS_SAVE_FAILED_QUIT, text);
        text += L"\n\n";
        text += MultiByteToWString(e.what(), CP_ACP);
        return ShowMessage(text, MB_STYLE_OK_CANCEL_ERROR, m_hWnd) == IDOK;
    }
}
