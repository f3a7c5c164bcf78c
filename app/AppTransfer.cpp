#include <winsock2.h>

#include "app/AppTransfer.h"

#include <exception>

#include "app/AppLogCommands.h"
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "config/AppSettings.h"
#include "config/KeyNumber.h"
#include "core/AppLog.h"
#include "core/Document.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "reader/Reader.h"
#include "reader/ReaderModels.h"
#include "resources/resource.h"
#include "transfer/HttpDest.h"
#include "transfer/Portavo.h"
#include "transfer/TransferLog.h"

namespace
{

constexpr int kEventInformation = 1;
constexpr int kEventError = 3;

// A record that cannot be written is the debug log's news, never the transfer's.
void LogRecordFailure(CAppContext* log, const wchar_t* what, const char* text)
{
    if (log && log->IsLogged(LOG_THRESHOLD_ERROR))
        LogMessage(log, nullptr, LOG_ERROR, L"%s: %hs", what, text);
}

template <class Write>
void WriteRecord(CAppContext* log, const wchar_t* what, Write write)
{
    try
    {
        write();
    }
    catch (const std::exception& e)
    {
        LogRecordFailure(log, what, e.what());
    }
    catch (...)
    {
        LogRecordFailure(log, what, "unknown error");
    }
}

void RecordFailure(const TransferShell& shell, const CTimeValue& time, int keyType, const std::wstring& keyText,
                   HRESULT result, const TransferTexts& texts)
{
    CAppSettings& settings = *shell.settings;
    if (settings.IsSoundsEnabled() && shell.playSound)
        shell.playSound(kTransferSoundFailure);
    if (settings.GetEventLog().IsOpen())
        WriteRecord(shell.log, L"Event table", [&] {
            LogEvent(settings, shell.log, time.GetTime(), kEventError, IDS_EVENT_TRANSFER_ERROR, nullptr,
                     KeyTypeCode(keyType), keyText, texts.formatName, static_cast<unsigned>(result), texts.error);
        });
    if (shell.log && shell.log->IsLogged(LOG_THRESHOLD_ERROR))
        LogMessage(shell.log, nullptr, LOG_ERROR, L"Transfer fail: %s", texts.error.c_str());
}

void RecordSuccess(const TransferShell& shell, const CTimeValue& time, int keyType, const _KEY_NUMBER& key,
                   const std::wstring& keyText, int destinationType, TransferTexts& texts)
{
    CAppSettings& settings = *shell.settings;
    if (settings.IsSoundsEnabled() && shell.playSound)
        shell.playSound(kTransferSoundSuccess);
    if ((settings.GetTrayIconFlags() & TRAY_BALLOON_HINT) && shell.showBalloon)
    {
        std::wstring title;
        LoadResString(IDS_TRANSFERRED_KEY, title);
        shell.showBalloon(title.substr(0, kBalloonTitleRoom), texts.output.substr(0, kBalloonTextRoom));
    }
    if (texts.destination.empty() && destinationType >= DEST_KEYBOARD && destinationType <= DEST_HTTP)
        LoadResString(IDS_DEST_NAME_BASE + destinationType, texts.destination);
    if (settings.transferLog)
        WriteRecord(shell.log, L"Transfer log", [&] {
            WriteTransferLog(settings, time, keyType, key, texts.formatName, texts.output, texts.destination);
        });
    if (settings.GetEventLog().IsOpen())
        WriteRecord(shell.log, L"Event table", [&] {
            LogEvent(settings, shell.log, time.GetTime(), kEventInformation, IDS_EVENT_TRANSFER_OK, nullptr,
                     texts.output, texts.destination, KeyTypeCode(keyType), keyText, texts.formatName);
        });
    if (shell.log && shell.log->IsLogged(LOG_THRESHOLD_INFO))
        LogMessage(shell.log, nullptr, LOG_INFO, L"Transfer ok");
}

}  // namespace

HRESULT RunKeyTransfer(const TransferShell& given, int keyType, const _KEY_NUMBER& key, uint32_t extra)
{
    TransferShell shell = given;
    if (!shell.log)
        shell.log = GetAppContext();
    CAppSettings& settings = *shell.settings;
    // Observers of the settings hear of the whole transfer once, when it is over.
    CDocUpdateScope scope(settings);

    TransferTexts texts;
    const CTransferDoc& doc = settings.GetTransferDoc();
    const HRESULT result = DeliverKey(doc, keyType, key, shell.targets, texts);
    const CTimeValue time(SystemServices().CurrentTime());

    if (SUCCEEDED(result))
        settings.SetTransferCounter(settings.GetLastTransfer().counter + 1);
    else if (texts.error.empty())
        texts.error = TransferErrorText(result, texts.httpStatus);

    settings.SetLastTransferInfo(time, keyType, key, extra, nullptr, result, texts.error.c_str(),
                                 texts.formatName.c_str(), texts.output.c_str(), texts.destination.c_str());

    std::wstring keyText;
    KeyToHex(keyText, key);
    if (FAILED(result))
        RecordFailure(shell, time, keyType, keyText, result, texts);
    else
        RecordSuccess(shell, time, keyType, key, keyText, doc.GetDestinationType(), texts);
    return result;
}

TransferShellRequests& GetTransferShellRequests()
{
    static TransferShellRequests requests;
    return requests;
}

void CNorvaneApp::RequestSound(int soundEvent)
{
    TransferShellRequests& requests = GetTransferShellRequests();
    ++requests.sounds;
    requests.lastSound = soundEvent;
    if (mainFrame && mainFrame->m_hWnd)
        mainFrame->PlayEventSound(soundEvent);
}

HRESULT CNorvaneApp::TransferKey(int keyType, const _KEY_NUMBER& key, uint32_t extra)
{
    TransferShell shell;
    shell.settings = &settings;
    shell.log = this;
    shell.targets.mainWindow = GetMainFrameWindow();
    shell.targets.bridge = bridgeLink.get();
    shell.targets.http = inetSession.get();
    ReaderIdentity identity;
    if (reader) {
        const ReaderStatus status = reader->GetStatus();
        if (status.model > kReaderModelUnknown && status.model < kReaderModelCount)
            identity.modelName = ReaderModelName(status.model);
        identity.serialNumber = status.serial;
        shell.targets.reader = &identity;
    }
    shell.playSound = [this](int soundEvent) { RequestSound(soundEvent); };
    shell.showBalloon = [this](const std::wstring& title, const std::wstring& text) {
        TransferShellRequests& requests = GetTransferShellRequests();
        ++requests.balloons;
        requests.balloonTitle = title;
        requests.balloonText = text;
        if (mainFrame && mainFrame->m_hWnd)
            mainFrame->ShowBalloon(title, text);
    };
    return RunKeyTransfer(shell, keyType, key, extra);
}
