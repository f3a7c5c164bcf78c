#include "transfer/Portavo.h"

#include <ws2tcpip.h>

#include <algorithm>

#include "config/TransferRecords.h"
#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/TextUtil.h"
#include "framework/Socket.h"
#include "framework/SysFunctions.h"
#include "resources/resource.h"

namespace
{

// A refused connection fails at once: without a floor a short period would spin the thread.
constexpr DWORD kMinRetryPeriod = 100;
// After an error the worker rests this long before it starts over.
constexpr DWORD kErrorRest = 100;
constexpr int kListenBacklog = 5;
constexpr DWORD kMaxAddressText = 256;

HRESULT ResultFromWin32(DWORD error)
{
    return error ? static_cast<HRESULT>(0x80070000u | (error & 0xFFFF)) : E_FAIL;
}

std::wstring AnsiBytesToText(const std::vector<BYTE>& bytes)
{
    std::wstring text;
    if (!bytes.empty())
        MultiByteToWString(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), text, CP_ACP);
    return EscapeLineBreaks(text.c_str(), static_cast<int>(text.size()));
}

// The text of a port failure: what went wrong, and on which port.
std::wstring PortErrorText(const CKvPortException& e)
{
    std::wstring text = GetResultCodeText(e.GetCode());
    if (!e.GetText().empty())
    {
        if (!text.empty())
            text += L' ';
        text += L'(';
        text += e.GetText();
        text += L')';
    }
    return text;
}

// The errors of a peer that closed its end before it was accepted or named.
bool IsPeerGone(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENOTCONN;
}

// "127.0.0.1:50123" of a connected socket's peer.
bool PeerAddressText(SOCKET s, std::wstring& out, int& error)
{
    sockaddr_storage addr = {};
    int length = sizeof(addr);
    if (getpeername(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
    {
        error = WSAGetLastError();
        return false;
    }
    for (DWORD room = 64;; room *= 2)
    {
        room = std::min(room, kMaxAddressText);
        std::wstring buffer(room, L'\0');
        DWORD size = room;
        if (WSAAddressToStringW(reinterpret_cast<sockaddr*>(&addr), static_cast<DWORD>(length), nullptr,
                                buffer.data(), &size) == 0)
        {
            buffer.resize(wcsnlen(buffer.c_str(), room));
            out = buffer;
            return true;
        }
        error = WSAGetLastError();
        if (error != WSAEFAULT || room >= kMaxAddressText)
            return false;
    }
}

}  // namespace

PortavoSettings::PortavoSettings(const _TRANS_DST_PORTAVO& dst)
    : type(dst.mode), nvt(dst.nvt), address(dst.address), connectPeriod(dst.connectPeriod), port(dst.port),
      maxConnections(dst.maxConnections)
{
}

CPortavo::CPortavo(CAppContext* app, const PortavoSettings& settings)
    : m_app(app ? app : GetAppContext()), m_settings(settings), m_channel(*m_lock.Get(), WM_BRIDGE_NOTIFY)
{
    m_channel.SetWindowSource([this] { return m_app ? m_app->GetMainFrameWindow() : nullptr; });
    for (CEvent* e : {&m_cancel, &m_wake, &m_network})
        if (!e->Create(true, false))
            ThrowOSError(::GetLastError());
    WSADATA data;
    m_winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (m_app)
        m_app->BridgeLink = this;
}

CPortavo::~CPortavo()
{
    Stop();
    m_client.Reset();
    m_connections.clear();
    if (m_app && m_app->BridgeLink == this)
        m_app->BridgeLink = nullptr;
    if (m_winsock)
        WSACleanup();
}

// ---- UI side ----

void CPortavo::Start()
{
    {
        CCriticalSectionLock lock(m_lock);
        m_requests |= PTV_REQUEST_RESTART;
    }
    CThread::Start();
}

void CPortavo::Stop()
{
    if (IsStarted())
    {
        // The run flag first: a worker that resets the cancel event after this sees it cleared.
        RequestStop();
        SetEvent(m_cancel);
        SetEvent(m_wake);
        CThread::Stop();
    }
    CloseAll();
}

void CPortavo::Reconnect()
{
    if (!IsStarted())
    {
        Start();
        return;
    }
    {
        CCriticalSectionLock lock(m_lock);
        m_requests |= PTV_REQUEST_RESTART;
    }
    SetEvent(m_cancel);
    SetEvent(m_wake);
}

PortavoSettings CPortavo::GetSettings()
{
    CCriticalSectionLock lock(m_lock);
    return m_settings;
}

void CPortavo::SetSettings(const PortavoSettings& settings)
{
    CCriticalSectionLock lock(m_lock);
    m_settings = settings;
    m_requests |= PTV_REQUEST_SETTINGS;
    SetEvent(m_wake);
}

void CPortavo::SetLanguage(LANGID language)
{
    CCriticalSectionLock lock(m_lock);
    m_language = language;
    m_requests |= PTV_REQUEST_LANGUAGE;
    SetEvent(m_wake);
}

void CPortavo::AppendToSendBuffer(const void* bytes, size_t length)
{
    if (!bytes || length == 0)
        return;
    CCriticalSectionLock lock(m_lock);
    const BYTE* p = static_cast<const BYTE*>(bytes);
    m_sendBuffer.insert(m_sendBuffer.end(), p, p + length);
    SetEvent(m_wake);
}

int CPortavo::GetState()
{
    CCriticalSectionLock lock(m_lock);
    return m_state;
}

int CPortavo::GetActiveMode()
{
    CCriticalSectionLock lock(m_lock);
    return m_activeMode;
}

UINT CPortavo::TakeChanges()
{
    CCriticalSectionLock lock(m_lock);
    UINT changes = m_changes;
    m_changes = 0;
    return changes;
}

bool CPortavo::PopNotification(std::unique_ptr<CTNMsg>& msg)
{
    return m_channel.PopNotification(msg);
}

void CPortavo::GetLastError(HRESULT& code, std::wstring& text)
{
    CCriticalSectionLock lock(m_lock);
    code = m_lastError;
    text = m_lastErrorText;
}

void CPortavo::GetConnections(std::vector<std::wstring>& out)
{
    out.clear();
    CCriticalSectionLock lock(m_lock);
    for (const PortPtr& c : m_connections)
        out.push_back(c->Name());
}

// ---- Worker ----

DWORD CPortavo::Run()
{
    while (IsRunning())
    {
        try
        {
            RunPass();
        }
        catch (const CKvPortException& e)
        {
            HandleError(e.GetCode(), PortErrorText(e));
        }
        catch (const COSException& e)
        {
            HandleError(ResultFromWin32(e.GetCode()), MultiByteToWString(e.what(), CP_ACP));
        }
        catch (const std::exception& e)
        {
            HandleError(E_FAIL, MultiByteToWString(e.what(), CP_ACP));
        }
    }
    return 0;
}

void CPortavo::RunPass()
{
    HandleRequests();
    if (!IsRunning())
        return;
    {
        // A request that came in while the last ones were handled goes first.
        CCriticalSectionLock lock(m_lock);
        if (m_requests)
            return;
    }

    DWORD wait = INFINITE;
    if (m_activeMode == PORTAVO_CLIENT)
        ClientStep(wait);
    else if (m_activeMode == PORTAVO_SERVER)
        ServerStep(wait);

    HANDLE handles[2] = {m_wake, m_network};
    DWORD r = WaitForMultipleObjects(2, handles, FALSE, wait);
    if (r == WAIT_TIMEOUT)
        return;
    if (r == WAIT_FAILED)
        ThrowOSError(::GetLastError());
    if (r == WAIT_OBJECT_0)
    {
        ResetEvent(m_wake);
        m_woken = true;
        return;
    }
    if (r == WAIT_OBJECT_0 + 1)
    {
        ResetEvent(m_network);
        OnNetworkEvent();
    }
}

void CPortavo::HandleRequests()
{
    UINT requests = 0;
    LANGID language = 0;
    int type = 0;
    {
        CCriticalSectionLock lock(m_lock);
        requests = m_requests;
        m_requests = 0;
        language = m_language;
        type = m_settings.type;
    }
    if (requests)
        m_woken = true;
    if ((requests & PTV_REQUEST_LANGUAGE) && language)
        SetThreadLanguage(language, false);
    if (requests & PTV_REQUEST_RESTART)
    {
        CloseAll();
        // That wake is the worker's own: it must not count as a wake for a period of -1. What
        // the UI thread wants after this point is seen through the request word and the buffer.
        ResetEvent(m_wake);
        CCriticalSectionLock lock(m_lock);
        m_activeMode = type;
        m_attempted = false;
    }
    // Reset on every pass, before the caller looks at the run flag and the request word again:
    // a stop or restart that set it after this point aborts the next blocking call.
    ResetEvent(m_cancel);
}

DWORD CPortavo::RetryWait(int32_t period) const
{
    if (period < 0)
        return INFINITE;  // only a wake brings the next attempt
    return std::max(static_cast<DWORD>(period), kMinRetryPeriod);
}

bool CPortavo::InRetryPeriod(DWORD& wait)
{
    int32_t period;
    {
        CCriticalSectionLock lock(m_lock);
        period = m_settings.connectPeriod;
    }
    if (!m_attempted)
        return false;
    if (period < 0)
        return !m_woken;  // no retry of its own: socket activity alone brings none either
    DWORD full = RetryWait(period);
    DWORD elapsed = GetTickCount() - m_lastAttempt;
    if (elapsed >= full)
        return false;
    wait = std::min(wait, full - elapsed);
    return true;
}

void CPortavo::ClientStep(DWORD& wait)
{
    if (!m_client || !m_client->IsOpen())
    {
        if (InRetryPeriod(wait))
            return;
        if (!Connect())
        {
            CCriticalSectionLock lock(m_lock);
            wait = std::min(wait, RetryWait(m_settings.connectPeriod));
            return;
        }
    }

    std::vector<BYTE> bytes = TakeSendBuffer();
    if (bytes.empty())
        return;
    const std::wstring name = m_client->Name();
    HRESULT hr = m_client->Purge(true, false);
    if (SUCCEEDED(hr))
        hr = m_client->Write(bytes.data(), bytes.size(), 0);
    if (FAILED(hr))
    {
        LogLostText(hr, bytes, name);
        ThrowPortError(hr, name.c_str());
    }
    LogSent(bytes, name);
}

bool CPortavo::Connect()
{
    m_attempted = true;
    m_woken = false;
    m_lastAttempt = GetTickCount();
    SetState(PTV_STATE_CONNECTING);

    std::wstring address;
    bool nvt;
    {
        CCriticalSectionLock lock(m_lock);
        address = m_settings.address;
        nvt = m_settings.nvt != 0;
    }
    // A changed address takes effect here: the port keeps the name it was made with.
    if (!m_client || m_client->Name() != address)
    {
        m_client.Reset(new CKvTcpPort);
        m_client->Init(address.c_str(), m_cancel, nullptr, nullptr, m_network);
    }
    m_client->SetTelnetMode(nvt);

    HRESULT hr = m_client->Open(INFINITE);
    if (FAILED(hr))
    {
        if (hr != E_ABORT)
        {
            std::wstring text = GetResultCodeText(hr);
            {
                CCriticalSectionLock lock(m_lock);
                m_lastError = hr;
                m_lastErrorText = text;
            }
            if (IsLogged(LOG_THRESHOLD_ERROR))
                LogMessageById(m_app, this, LOG_ERROR, IDS_PTV_CONNECT_ERROR, static_cast<unsigned>(hr),
                               EscapeLineBreaks(text.c_str()).c_str());
        }
        // Not left at "connecting" until the next attempt, which may never come (-1).
        SetState(PTV_STATE_DISCONNECTED);
        return false;
    }
    if (IsLogged(LOG_THRESHOLD_TRACE))
        LogMessageById(m_app, this, LOG_INFO, IDS_PTV_CONNECTED, m_client->Name().c_str());
    SetState(PTV_STATE_CONNECTED);
    return true;
}

void CPortavo::ServerStep(DWORD& wait)
{
    if (m_listen == INVALID_SOCKET)
    {
        if (InRetryPeriod(wait))
            return;
        if (!Listen())
        {
            // Tried again after the period, as a refused client connection is.
            CCriticalSectionLock lock(m_lock);
            wait = std::min(wait, RetryWait(m_settings.connectPeriod));
            return;
        }
    }

    std::vector<BYTE> bytes = TakeSendBuffer();
    bool removed = false;
    for (size_t i = m_connections.size(); i-- > 0;)
    {
        CKvTcpPort* c = m_connections[i].Get();
        if (c->IsOpen() && !bytes.empty())
        {
            HRESULT hr = c->Purge(true, false);
            if (SUCCEEDED(hr))
                hr = c->Write(bytes.data(), bytes.size(), 0);
            if (FAILED(hr))
            {
                LogLostText(hr, bytes, c->Name());
                {
                    CCriticalSectionLock lock(m_lock);
                    m_lastError = hr;
                    m_lastErrorText = GetResultCodeText(hr);
                }
                MarkChanged(PTV_CHANGE_ERROR);
                DropConnection(*c);
            }
            else
                LogSent(bytes, c->Name());
        }
        if (!c->IsOpen())
        {
            PortPtr gone;
            {
                CCriticalSectionLock lock(m_lock);
                gone = std::move(m_connections[i]);
                m_connections.erase(m_connections.begin() + static_cast<std::ptrdiff_t>(i));
            }
            removed = true;
        }
    }
    if (!removed)
        return;
    MarkChanged(PTV_CHANGE_CONNECTIONS);
    if (m_connections.empty())
        SetState(PTV_STATE_DISCONNECTED);
    // A peer that waited in the backlog for the freed slot gets no new accept event.
    if (AcceptWaiting())
        SetEvent(m_network);
}

bool CPortavo::Listen()
{
    m_attempted = true;
    m_woken = false;
    m_lastAttempt = GetTickCount();
    uint16_t port;
    {
        CCriticalSectionLock lock(m_lock);
        port = m_settings.port;
    }

    CSocket s(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED));
    int error = 0;
    if (!s.IsValid())
        error = WSAGetLastError();
    else
    {
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        addr.sin_port = htons(port);
        if (bind(s.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
            listen(s.Get(), kListenBacklog) != 0 || WSAEventSelect(s.Get(), m_network, FD_ACCEPT) != 0)
            error = WSAGetLastError();
    }
    if (error)
    {
        HRESULT hr = ResultFromWin32(static_cast<DWORD>(error));
        std::wstring text = GetResultCodeText(hr);
        {
            CCriticalSectionLock lock(m_lock);
            m_lastError = hr;
            m_lastErrorText = text;
        }
        if (IsLogged(LOG_THRESHOLD_ERROR))
            LogMessageById(m_app, this, LOG_ERROR, IDS_PTV_LISTEN_FAILED, static_cast<unsigned>(hr),
                           EscapeLineBreaks(text.c_str()).c_str());
        return false;
    }
    if (m_listen != INVALID_SOCKET)
        closesocket(m_listen);
    m_listen = s.Detach();
    if (IsLogged(LOG_THRESHOLD_TRACE))
        LogMessageById(m_app, this, LOG_INFO, IDS_PTV_LISTEN_OPEN);
    return true;
}

bool CPortavo::AcceptWaiting()
{
    bool any = false;
    while (m_listen != INVALID_SOCKET && AcceptOne())
        any = true;
    return any;
}

bool CPortavo::AcceptOne()
{
    int32_t maxConnections;
    bool nvt;
    {
        CCriticalSectionLock lock(m_lock);
        maxConnections = m_settings.maxConnections;
        nvt = m_settings.nvt != 0;
    }
    if (maxConnections >= 0 && m_connections.size() >= static_cast<size_t>(maxConnections))
    {
        // The peer stays in the listen backlog until a slot frees.
        if (IsLogged(LOG_THRESHOLD_WARNING))
            LogMessageById(m_app, this, LOG_WARNING, IDS_PTV_REJECTED, static_cast<int>(maxConnections));
        return false;
    }

    CSocket s(WSAAccept(m_listen, nullptr, nullptr, nullptr, 0));
    if (!s.IsValid())
    {
        int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            return false;
        if (!IsPeerGone(error))
            ThrowOSError(static_cast<DWORD>(error));
        // That peer gave up before it was taken: the others stay, the next one may wait.
        LogPeerGone(error);
        return true;
    }

    std::wstring peer;
    int error = 0;
    if (!PeerAddressText(s.Get(), peer, error))
    {
        // One peer's failure ends only that peer; one that connected and left at once (a port
        // scan, a probe) is no error of the link's.
        if (IsPeerGone(error))
            LogPeerGone(error);
        else
            ReportError(PortResultFromSocketError(error), std::wstring());
        return true;
    }
    PortPtr port(new CKvTcpPort);
    port->Init(peer.c_str(), m_cancel, nullptr, nullptr, m_network);
    port->SetTelnetMode(nvt);
    HRESULT hr = port->Attach(s.Detach());
    if (FAILED(hr))
    {
        ReportError(hr, GetResultCodeText(hr) + L" (" + peer + L")");
        return true;
    }

    {
        CCriticalSectionLock lock(m_lock);
        m_connections.push_back(port);
    }
    MarkChanged(PTV_CHANGE_CONNECTIONS);
    SetState(PTV_STATE_CONNECTED);
    if (IsLogged(LOG_THRESHOLD_TRACE))
        LogMessageById(m_app, this, LOG_INFO, IDS_PTV_CONNECTED, peer.c_str());
    QueueConnectMessage(PTVMSG_CONNECTED, peer);
    return true;
}

void CPortavo::LogPeerGone(int error)
{
    if (IsLogged(LOG_THRESHOLD_TRACE))
        LogMessage(m_app, this, LOG_INFO, L"A peer left before it was taken (code 0x%.8X)",
                   static_cast<unsigned>(ResultFromWin32(static_cast<DWORD>(error))));
}

void CPortavo::OnNetworkEvent()
{
    if (m_activeMode == PORTAVO_CLIENT)
    {
        if (m_state == PTV_STATE_CONNECTED && m_client)
        {
            HRESULT hr = m_client->CompleteEvent();
            if (FAILED(hr))
                ThrowPortError(hr, m_client->Name().c_str());
            // Nothing the peer sends is read: dropped at once, so it cannot pile up.
            m_client->Purge(true, false);
        }
        return;
    }
    if (m_activeMode != PORTAVO_SERVER)
        return;

    if (m_listen != INVALID_SOCKET)
    {
        WSANETWORKEVENTS events = {};
        if (WSAEnumNetworkEvents(m_listen, nullptr, &events) != 0)
            ThrowOSError(static_cast<DWORD>(WSAGetLastError()));
        if (events.lNetworkEvents & FD_ACCEPT)
            AcceptWaiting();
    }
    for (const PortPtr& c : m_connections)
    {
        if (!c->IsOpen())
            continue;
        if (FAILED(c->CompleteEvent()))
            DropConnection(*c.Get());
        else
            c->Purge(true, false);
    }
}

void CPortavo::DropConnection(CKvTcpPort& port)
{
    port.Close();
    QueueConnectMessage(PTVMSG_DISCONNECTED, port.Name());
    if (IsLogged(LOG_THRESHOLD_TRACE))
        LogMessageById(m_app, this, LOG_INFO, IDS_PTV_BROKEN, port.Name().c_str());
}

void CPortavo::CloseClientPort()
{
    if (!m_client)
        return;
    if (m_client->IsOpen())
    {
        m_client->Close();
        if (IsLogged(LOG_THRESHOLD_TRACE))
            LogMessageById(m_app, this, LOG_INFO, IDS_PTV_BROKEN, m_client->Name().c_str());
    }
    m_client.Reset();
}

void CPortavo::CloseAll()
{
    SetEvent(m_cancel);
    SetEvent(m_wake);
    CloseClientPort();

    std::vector<PortPtr> closed;
    {
        CCriticalSectionLock lock(m_lock);
        closed.swap(m_connections);
    }
    for (const PortPtr& c : closed)
        c->Close();
    if (!closed.empty())
        MarkChanged(PTV_CHANGE_CONNECTIONS);
    closed.clear();

    if (m_listen != INVALID_SOCKET)
    {
        closesocket(m_listen);
        m_listen = INVALID_SOCKET;
        if (IsLogged(LOG_THRESHOLD_TRACE))
            LogMessageById(m_app, this, LOG_INFO, IDS_PTV_LISTEN_CLOSED);
    }
    SetState(PTV_STATE_DISCONNECTED);
}

void CPortavo::ReportError(HRESULT code, const std::wstring& text)
{
    std::wstring stored = text.empty() ? GetResultCodeText(code) : text;
    {
        CCriticalSectionLock lock(m_lock);
        m_lastError = code;
        m_lastErrorText = stored;
    }
    if (IsLogged(LOG_THRESHOLD_ERROR))
        LogMessageById(m_app, this, LOG_ERROR, IDS_LOG_ERROR, static_cast<unsigned>(code),
                       EscapeLineBreaks(stored.c_str()).c_str());
    MarkChanged(PTV_CHANGE_ERROR);
}

void CPortavo::HandleError(HRESULT code, const std::wstring& text)
{
    if (code == E_ABORT)
        return;  // a stop or a restart cancelled the operation
    ReportError(code, text);
    CloseAll();
    Sleep(kErrorRest);
}

// ---- Shared state ----

void CPortavo::SetState(int state)
{
    CCriticalSectionLock lock(m_lock);
    if (m_state == state)
        return;
    m_state = state;
    m_changes |= PTV_CHANGE_STATE;
    PostToMain();
}

void CPortavo::MarkChanged(UINT bits)
{
    CCriticalSectionLock lock(m_lock);
    m_changes |= bits;
    PostToMain();
}

void CPortavo::PostToMain()
{
    if (HWND window = m_app ? m_app->GetMainFrameWindow() : nullptr)
        PostMessageW(window, WM_BRIDGE_NOTIFY, 0, 0);
}

void CPortavo::QueueConnectMessage(int type, const std::wstring& address)
{
    m_channel.Push(std::make_unique<CPtvConnectMsg>(type, address), nullptr);
}

std::vector<BYTE> CPortavo::TakeSendBuffer()
{
    std::vector<BYTE> bytes;
    CCriticalSectionLock lock(m_lock);
    bytes.swap(m_sendBuffer);
    return bytes;
}

bool CPortavo::IsLogged(int threshold)
{
    return m_app && m_app->IsLogged(threshold);
}

void CPortavo::LogSent(const std::vector<BYTE>& bytes, const std::wstring& name)
{
    if (IsLogged(LOG_THRESHOLD_TRACE))
        LogMessageById(m_app, this, LOG_INFO, IDS_PTV_SENT, AnsiBytesToText(bytes).c_str(), name.c_str());
}

void CPortavo::LogLostText(HRESULT code, const std::vector<BYTE>& bytes, const std::wstring& name)
{
    // The transfer already reported this text as delivered: the log is where the loss shows.
    if (IsLogged(LOG_THRESHOLD_ERROR))
        LogMessageById(m_app, this, LOG_ERROR, IDS_PTV_NOT_SENT, static_cast<unsigned>(code),
                       AnsiBytesToText(bytes).c_str(), name.c_str());
}
