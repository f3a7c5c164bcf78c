// The shell operations whose full forms come with the languages, help, the format and last-key
// dialogs and the external tools. These keep start-up, shutdown and the commands whole meanwhile.
#include "app/StandIns.h"

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "pages/options/FormatDialog.h"

namespace {

void Note(std::wstring call)
{
    StandInCalls().push_back(std::move(call));
}

} // namespace

std::vector<std::wstring>& StandInCalls()
{
    static std::vector<std::wstring> calls;
    return calls;
}

void CNorvaneApp::ShowHelp(int helpId)
{
    Note(L"ShowHelp|" + std::to_wstring(helpId));
}

void CNorvaneApp::ApplyLanguage()
{
    settings.GetTransferDoc().SetInterfaceLanguageApplied(true);
}

bool ShowNewFormatDialog(int* index, HWND owner)
{
    Note(L"ShowNewFormatDialog");
    CNorvaneApp& app = *static_cast<CNorvaneApp*>(GetApp());
    return RunNewFormatDialog(app, index, owner ? owner : app.GetMainFrameWindow());
}

bool RunExternalTool(int index)
{
    Note(L"RunExternalTool|" + std::to_wstring(index));
    return false;
}

INT_PTR RunExtToolsDialog(HWND)
{
    Note(L"RunExtToolsDialog");
    return IDCANCEL;
}
