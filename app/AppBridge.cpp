// The UI thread's side of the bridge link worker and the HTTP client record.
#include <winsock2.h>

#include "app/NorvaneApp.h"

#include "core/AppLog.h"
#include "core/TextUtil.h"
#include "resources/resource.h"
#include "transfer/HttpDest.h"
#include "transfer/Portavo.h"

namespace {

constexpr int kEventInformation = 1;

// "Client 127.0.0.1:25000" or "Server 1000" of the destination's mode.
std::wstring BridgeAddressText(const _TRANS_DST_PORTAVO& destination)
{
    std::wstring text;
    if (destination.mode == PORTAVO_SERVER)
        FormatResString(text, IDS_PTV_SERVER, static_cast<int>(destination.port));
    else
        FormatResString(text, IDS_PTV_CLIENT, destination.address.c_str());
    return text;
}

}  // namespace

void CNorvaneApp::ApplyBridgeLink(bool logStart)
{
    const _TRANS_DST_PORTAVO& destination = settings.GetTransferDoc().Portavo();
    if (!bridgeLink) {
        StartWinsock();
        bridgeLink = std::make_unique<CPortavo>(this, PortavoSettings());
        BridgeLink = bridgeLink.get();
    }

    PortavoSettings current = bridgeLink->GetSettings();
    bool changed = false;
    if (destination.mode == PORTAVO_CLIENT) {
        changed = current.type != PORTAVO_CLIENT || current.address != destination.address ||
                  current.connectPeriod != destination.connectPeriod || current.nvt != destination.nvt;
        current.address = destination.address;
        current.connectPeriod = destination.connectPeriod;
    } else if (destination.mode == PORTAVO_SERVER) {
        changed = current.type != PORTAVO_SERVER || current.port != destination.port ||
                  current.maxConnections != destination.maxConnections || current.nvt != destination.nvt;
        current.port = destination.port;
        current.maxConnections = destination.maxConnections;
    }
    if (changed) {
        current.type = destination.mode;
        current.nvt = destination.nvt;
        bridgeLink->SetSettings(current);
    }

    if (bridgeLink->IsStarted())
        SetEvent(bridgeLink->WakeEvent());
    else
        bridgeLink->Start();

    if (logStart && IsLogged(LOG_THRESHOLD_INFO))
        LogMessageById(this, bridgeLink.get(), LOG_INFO, IDS_PTV_START, BridgeAddressText(destination).c_str());
}

void CNorvaneApp::ReleaseBridgeLink(bool logStop)
{
    if (!bridgeLink)
        return;
    // The last drain may set off observers that ask for the link again; it is out by then.
    std::unique_ptr<CPortavo> link = std::move(bridgeLink);
    link->Stop();
    DrainBridge(*link);
    if (logStop && IsLogged(LOG_THRESHOLD_INFO))
        LogMessageById(this, link.get(), LOG_INFO, IDS_PTV_STOP);
    if (BridgeLink == link.get())
        BridgeLink = nullptr;
}

void CNorvaneApp::ProcessBridgeMessages()
{
    if (bridgeLink)
        DrainBridge(*bridgeLink);
}

void CNorvaneApp::DrainBridge(CPortavo& link)
{
    CDocUpdateScope scope(settings);
    const UINT changes = link.TakeChanges();
    if ((changes & PTV_CHANGE_STATE) && settings.GetTransferDoc().GetDestinationType() == DEST_PORTAVO)
        UpdateDestinationState();
    if (changes & PTV_CHANGE_CONNECTIONS)
        settings.RaiseStateChange(ASS_BRIDGE_CONNECTIONS, false);

    std::wstring sender;
    std::unique_ptr<CTNMsg> msg;
    while (link.PopNotification(msg)) {
        if ((msg->m_type == PTVMSG_CONNECTED || msg->m_type == PTVMSG_DISCONNECTED) &&
            settings.GetEventLog().IsOpen()) {
            if (sender.empty())
                LoadResString(IDS_DEST_PORTAVO, sender);
            const auto& connect = static_cast<const CPtvConnectMsg&>(*msg);
            LogEvent(msg->m_time, kEventInformation,
                     msg->m_type == PTVMSG_CONNECTED ? IDS_PTV_CONNECTED : IDS_PTV_BROKEN, sender.c_str(),
                     connect.m_address);
        }
        msg.reset();
    }
}

HttpClient& CNorvaneApp::EnsureInetSession()
{
    if (!inetSession)
        inetSession = std::make_unique<HttpClient>(kHttpFormHeaders);
    return *inetSession;
}

void CNorvaneApp::ReconnectBridgeLink()
{
    if (bridgeLink && bridgeLink->IsRunning())
        bridgeLink->Reconnect();
}
