// The application's side of the pages' host: what runs on the main frame goes there.
#include <winsock2.h>

#include "app/NorvaneApp.h"

#include <algorithm>

#include "app/CommandTexts.h"
#include "app/MainFrame.h"
#include "app/ShellServices.h"
#include "config/ActionCatalogue.h"
#include "core/SystemServices.h"
#include "framework/MessageBox.h"
#include "reader/Reader.h"
#include "transfer/Portavo.h"

void CNorvaneApp::InitializeTemic(bool confirm)
{
    if (mainFrame && mainFrame->m_hWnd)
        mainFrame->InitializeTemic(confirm);
}

void CNorvaneApp::WriteKeysToReader(bool plus, uint32_t slotMask, bool confirm)
{
    if (mainFrame && mainFrame->m_hWnd)
        mainFrame->WriteKeysToReader(plus, slotMask, confirm);
}

bool CNorvaneApp::CanStartReaderJob()
{
    const CTransferDoc& doc = settings.GetTransferDoc();
    if (doc.GetSourceKind() != SOURCE_READER || doc.GetSourceValue().empty())
        return false;
    return !reader || reader->GetJob().state != RDJOB_PENDING;
}

void CNorvaneApp::PrepareMenuShortcuts(HMENU menu, const std::vector<uint32_t>& shortcuts)
{
    CommandHotkeys& hotkeys = GetCommandHotkeys();
    hotkeys.menuShortcuts = shortcuts;
    UpdateMenuHotkeyTexts(menu);
    hotkeys.menuShortcuts.clear();
}

bool CNorvaneApp::StartReaderSearch()
{
    return mainFrame && mainFrame->m_hWnd && mainFrame->StartReaderSearch();
}

void CNorvaneApp::RefreshPortsAndSearch()
{
    if (mainFrame && mainFrame->m_hWnd)
        mainFrame->RefreshAllPorts();
    else
        RefreshPortList(false);
}

bool CNorvaneApp::ShowPage(int pageId)
{
    // Through the setting, so that the page is remembered and becomes the previous one in turn;
    // the frame follows it.
    settings.SetCurrentPage(pageId);
    return mainFrame && mainFrame->m_hWnd && mainFrame->GetCurrentPage() == pageId;
}

void CNorvaneApp::MarkDirty(HostUpdate what)
{
    if (!mainFrame)
        return;
    switch (what) {
    case HostUpdate::PageIdle:
        mainFrame->MarkDirty(MFD_PAGES);
        break;
    case HostUpdate::Toolbar:
        mainFrame->MarkDirty(MFD_TOOLBAR);
        break;
    case HostUpdate::StatusBar:
        mainFrame->MarkDirty(MFD_STATUS);
        break;
    }
}

void CNorvaneApp::SetHotkeyCapture(bool focused)
{
    const int before = hotkeyCaptures;
    hotkeyCaptures = std::max(0, hotkeyCaptures + (focused ? 1 : -1));
    if ((before == 0) != (hotkeyCaptures == 0)) {
        CDocUpdateScope scope(settings);
        settings.RaiseStateChange(ASS_HOTKEY_EDITING, false);
    }
}

void CNorvaneApp::TryEventSound(int soundEvent)
{
    if (mainFrame && mainFrame->m_hWnd)
        mainFrame->TryEventSound(soundEvent);
}

int CNorvaneApp::GetPlayingSound()
{
    return mainFrame ? mainFrame->PlayingSound() : -1;
}

int CNorvaneApp::ShowMessageBox(const std::wstring& text, UINT style, bool* dontAsk)
{
    return SystemServices().AskUser(text, style, GetMainFrameWindow(), dontAsk);
}

std::shared_ptr<CActionHdBk> CNorvaneApp::GetActionCatalogue()
{
    if (!actionCatalogue)
    {
        auto catalogue = std::make_shared<CActionHdBk>();
        catalogue->LoadActionCatalogue();
        actionCatalogue = std::move(catalogue);
    }
    return actionCatalogue;
}

void CNorvaneApp::RunFrameCommand(int command)
{
    if (mainFrame && mainFrame->m_hWnd)
        mainFrame->RunOwnCommand(command);
}

int CNorvaneApp::GetCommandTipText(UINT command, wchar_t* buffer, int room)
{
    return ::GetCommandTipText(command, buffer, room);
}

void CNorvaneApp::PrepareMenu(HMENU menu)
{
    for (int i = GetMenuItemCount(menu) - 1; i >= 0; --i) {
        if (GetMenuItemID(menu, i) == ID_EXT_TOOL_LIST)
            FillExternalToolsMenu(menu, i);
    }
    UpdateMenuHotkeyTexts(menu);
}

HWND CNorvaneApp::ActivateTargetWindow()
{
    HWND found = nullptr;
    return ::ActivateTargetWindow(&found) ? found : nullptr;
}

bool CNorvaneApp::GetBridgeConnections(std::vector<std::wstring>& peers)
{
    peers.clear();
    if (!bridgeLink)
        return false;
    bridgeLink->GetConnections(peers);
    return true;
}

const std::array<std::wstring, 22>& CNorvaneApp::GetKeyTypeNames()
{
    LoadKeyTypeNames();
    return keyTypeNames;
}
