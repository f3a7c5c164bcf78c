// The shell operations whose full forms come with the format and last-key dialogs. These keep
// the commands whole meanwhile.
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

bool ShowNewFormatDialog(int* index, HWND owner)
{
    Note(L"ShowNewFormatDialog");
    CNorvaneApp& app = *static_cast<CNorvaneApp*>(GetApp());
    return RunNewFormatDialog(app, index, owner ? owner : app.GetMainFrameWindow());
}
