#pragma once
// The bridge link: carries transferred texts over TCP to the Portavo bridge program, as a
// client of one configured address or as a server for up to "maxConnections" peers. A worker
// thread does all socket work; the UI thread appends to the send buffer, copies settings in
// and drains the change word, the notification queue and the last error after each
// WM_BRIDGE_NOTIFY (WM_USER+2). Data from the peers is discarded.
#include <winsock2.h>
#include <windows.h>
#include <memory>
#include <string>
#include <vector>

#include "core/Handle.h"
#include "core/SysUtil.h"
#include "framework/Thread.h"
#include "comm/Notify.h"
#include "comm/TcpPort.h"

class CAppContext;
struct _TRANS_DST_PORTAVO;

// Notification types of the link's queue.
constexpr int PTVMSG_CONNECTED = 2;
constexpr int PTVMSG_DISCONNECTED = 3;

// A peer connected or went away (server mode).
class CPtvConnectMsg : public CTNMsg
{
public:
    CPtvConnectMsg(int type, std::wstring address) : CTNMsg(type), m_address(std::move(address)) {}

    std::wstring m_address;  // "127.0.0.1:50123"
};

// Link states.
constexpr int PTV_STATE_DISCONNECTED = 0;
constexpr int PTV_STATE_CONNECTED = 1;
constexpr int PTV_STATE_CONNECTING = 2;

// Request bits (UI thread to worker).
constexpr UINT PTV_REQUEST_RESTART = 1;   // close all, take "type" as the mode, connect at once
constexpr UINT PTV_REQUEST_SETTINGS = 2;  // new settings: they apply at the next connect or listen
constexpr UINT PTV_REQUEST_LANGUAGE = 4;

// Change bits (worker to UI thread).
constexpr UINT PTV_CHANGE_STATE = 1;
constexpr UINT PTV_CHANGE_CONNECTIONS = 2;
constexpr UINT PTV_CHANGE_ERROR = 4;

// The settings copy the worker runs with.
struct PortavoSettings
{
    int32_t type = 1;                          // 0 off, 1 client, 2 server
    bool nvt = true;                           // telnet mode of every connection
    std::wstring address = L"127.0.0.1:25000"; // client: host:port
    int32_t connectPeriod = 1000;              // ms between attempts; -1 only when woken
    uint16_t port = 1000;                      // server: listening port
    int32_t maxConnections = 4;                // server: -1 unlimited

    PortavoSettings() = default;
    explicit PortavoSettings(const _TRANS_DST_PORTAVO& dst);
};

class CPortavo : public CThread
{
public:
    // app: where the log goes and whose main window hears of changes (null: the process's).
    // Creates the three events; throws COSException when it cannot.
    explicit CPortavo(CAppContext* app = nullptr, const PortavoSettings& settings = PortavoSettings());
    ~CPortavo() override;

    // Restart request, then the thread when there is none; throws COSException when it cannot
    // be created.
    void Start();
    // Ends the thread (aborting a blocking connect) and closes every connection.
    void Stop();
    // Restart request to a running thread; else Start.
    void Reconnect();

    // ---- UI side, each under the lock ----
    PortavoSettings GetSettings();
    // Stores new settings and wakes the worker (request bit 2).
    void SetSettings(const PortavoSettings& settings);
    void SetLanguage(LANGID language);
    // Appends the text bytes and wakes the worker; the write happens on the worker.
    void AppendToSendBuffer(const void* bytes, size_t length);
    int GetState();
    int GetActiveMode();
    // Swaps the change word to zero.
    UINT TakeChanges();
    bool PopNotification(std::unique_ptr<CTNMsg>& msg);
    void GetLastError(HRESULT& code, std::wstring& text);
    // The peer address of every connection.
    void GetConnections(std::vector<std::wstring>& out);

    HANDLE CancelEvent() const { return m_cancel; }
    HANDLE WakeEvent() const { return m_wake; }

protected:
    DWORD Run() override;

private:
    using PortPtr = CKvPortPtr<CKvTcpPort>;

    void HandleRequests();
    void RunPass();
    void ClientStep(DWORD& wait);
    void ServerStep(DWORD& wait);
    void OnNetworkEvent();
    bool Connect();
    bool Listen();
    // Accepts peers while slots are free; true when any was taken.
    bool AcceptWaiting();
    bool AcceptOne();
    void DropConnection(CKvTcpPort& port);
    // A trace line for a peer that left before it was taken (a Winsock error).
    void LogPeerGone(int error);
    void CloseAll();
    void CloseClientPort();
    // Last error, its log line and change bit; the link goes on.
    void ReportError(HRESULT code, const std::wstring& text);
    // ReportError, then everything is closed and opened again after a short rest.
    void HandleError(HRESULT code, const std::wstring& text);
    // The period before the next attempt; INFINITE for -1.
    DWORD RetryWait(int32_t period) const;
    // True (wait shortened) while the period since the last attempt runs; with period -1 until
    // the worker is woken.
    bool InRetryPeriod(DWORD& wait);

    void SetState(int state);
    void MarkChanged(UINT bits);
    void PostToMain();
    void QueueConnectMessage(int type, const std::wstring& address);
    std::vector<BYTE> TakeSendBuffer();
    void LogSent(const std::vector<BYTE>& bytes, const std::wstring& name);
    void LogLostText(HRESULT code, const std::vector<BYTE>& bytes, const std::wstring& name);
    bool IsLogged(int threshold);

    CAppContext* m_app;
    PortavoSettings m_settings;
    CCriticalSection m_lock;
    CTNMsgChannel m_channel;
    LANGID m_language = 0;
    CEvent m_cancel;
    CEvent m_wake;
    CEvent m_network;
    UINT m_requests = 0;
    bool m_attempted = false;
    bool m_woken = false;  // the wake event or a request came since the last attempt
    DWORD m_lastAttempt = 0;
    int m_state = PTV_STATE_DISCONNECTED;
    HRESULT m_lastError = S_OK;
    std::wstring m_lastErrorText;
    int m_activeMode = 0;
    PortPtr m_client;
    SOCKET m_listen = INVALID_SOCKET;
    std::vector<PortPtr> m_connections;
    std::vector<BYTE> m_sendBuffer;
    UINT m_changes = 0;
    bool m_winsock = false;
};
