#pragma once
// A transfer as the application records it: the key goes through the dispatcher, then the
// outcome is counted, stored as the last transfer, sounded, shown in the tray balloon,
// written to the transfer log, the event table and the debug log. UI thread only.
#include <windows.h>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "transfer/TransferDispatch.h"

class CAppSettings;
class CAppContext;

// Sound events of a transfer.
constexpr int kTransferSoundSuccess = 0;
constexpr int kTransferSoundFailure = 1;

// Longest balloon title and text; longer ones are cut.
constexpr size_t kBalloonTitleRoom = 63;
constexpr size_t kBalloonTextRoom = 255;

// What a transfer needs of the application around it.
struct TransferShell
{
    CAppSettings* settings = nullptr;
    CAppContext* log = nullptr;  // the debug log's context; null: the process's
    TransferTargets targets;
    // Plays a sound event; null: none. Asked only while sounds are on.
    std::function<void(int soundEvent)> playSound;
    // Shows the tray balloon; null: none. Asked only while "balloonHint" is set.
    std::function<void(const std::wstring& title, const std::wstring& text)> showBalloon;
};

// The whole transfer of one key. Returns its result code; the records never change it.
HRESULT RunKeyTransfer(const TransferShell& shell, int keyType, const _KEY_NUMBER& key, uint32_t extra);

// A count of the sound and balloon requests of the application's transfers, which the main
// window plays and shows as they come.
struct TransferShellRequests
{
    int sounds = 0;           // requests so far
    int lastSound = -1;
    int balloons = 0;
    std::wstring balloonTitle;
    std::wstring balloonText;
};
TransferShellRequests& GetTransferShellRequests();
