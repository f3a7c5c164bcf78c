// The last-key launcher: the key dialog without a key list.
#include <winsock2.h>

#include "app/NorvaneApp.h"
#include "pages/source/KeyDialog.h"

void CNorvaneApp::ShowLastKeyDialog(HWND owner)
{
    const _LAST_TRANSFER& last = settings.GetLastTransfer();
    _KEY_NUMBER key = last.keyNumber;
    if (key.length == 0)
        key.length = 5;

    CKeyDialog dialog(*this);
    dialog.SetKey(last.keyType, key);
    if (dialog.RunModal(owner) != IDOK)
        return;
    CTimeValue now;
    now.SetCurrentTime();
    CDocUpdateScope scope(settings);
    settings.SetLastTransferInfo(now, dialog.keyType, dialog.number, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
}
