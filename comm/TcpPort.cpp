#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include "comm/TcpPort.h"

#include <algorithm>
#include <memory>

namespace {

// One Receive call takes at most this much, so a flooding peer cannot keep the owner's
// thread in the loop; FD_READ is recorded again for what is left.
constexpr size_t kReceiveBurst = 64 * 1024;

HRESULT LastSocketError()
{
    return PortResultFromSocketError(WSAGetLastError());
}

struct AddrInfoDeleter
{
    void operator()(ADDRINFOW* p) const { FreeAddrInfoW(p); }
};

}  // namespace

void CTelnetDecoder::Feed(const BYTE* bytes, size_t count, std::vector<BYTE>& out)
{
    for (size_t i = 0; i < count; ++i) {
        BYTE b = bytes[i];
        switch (m_state) {
        case State::data:
            if (b == TELNET_IAC)
                m_state = State::iac;
            else
                out.push_back(b);
            break;
        case State::iac:
            if (b == TELNET_IAC) {
                out.push_back(TELNET_IAC);
                m_state = State::data;
            } else if (b == TELNET_SB)
                m_state = State::sub;
            else if (b >= TELNET_WILL && b <= TELNET_DONT)
                m_state = State::option;
            else
                m_state = State::data;
            break;
        case State::option:
            m_state = State::data;
            break;
        case State::sub:
            if (b == TELNET_IAC)
                m_state = State::subIac;
            break;
        case State::subIac:
            // IAC IAC is a data 0xFF inside; any other byte closes the sub-negotiation.
            m_state = b == TELNET_IAC ? State::sub : State::data;
            break;
        }
    }
}

void AppendTelnetEscaped(std::vector<BYTE>& out, const BYTE* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        out.push_back(data[i]);
        if (data[i] == TELNET_IAC)
            out.push_back(TELNET_IAC);
    }
}

std::vector<BYTE> MakeTelnetBaudRateRequest(DWORD speed)
{
    std::vector<BYTE> piece = {TELNET_IAC, TELNET_SB};
    const BYTE body[] = {TELNET_COM_PORT_OPTION, TELNET_SET_BAUDRATE, static_cast<BYTE>(speed >> 24),
                         static_cast<BYTE>(speed >> 16), static_cast<BYTE>(speed >> 8), static_cast<BYTE>(speed)};
    AppendTelnetEscaped(piece, body, sizeof(body));
    piece.push_back(TELNET_IAC);
    piece.push_back(TELNET_SE);
    return piece;
}

CKvTcpPort::CKvTcpPort()
{
    WSADATA data;
    m_startup = WSAStartup(MAKEWORD(2, 2), &data);
}

CKvTcpPort::~CKvTcpPort()
{
    Close();
    if (m_startup == 0)
        WSACleanup();
}

HRESULT CKvTcpPort::Init(const wchar_t* name, HANDLE cancel, HANDLE writeDone, HANDLE readDone, HANDLE commEvent)
{
    CKvPort::Init(name, cancel, writeDone, readDone, commEvent);
    m_chunk.resize(kReceiveChunk);
    return S_OK;
}

HRESULT CKvTcpPort::SetParams(DWORD speed, BYTE stopBits, BYTE eventChar)
{
    m_stopBits = stopBits;
    m_eventChar = eventChar;
    // Speed 0 keeps the converter's speed: nothing to request.
    if (!IsOpen() || !m_telnet || speed == 0 || speed == m_speed) {
        m_speed = speed;
        return S_OK;
    }
    HRESULT hr = SendBaudRate(speed);
    if (SUCCEEDED(hr))
        m_speed = speed;
    return hr;
}

void CKvTcpPort::ResetConnectionState()
{
    m_ioFlags = 0;
    m_selected = 0;
    m_peerClosed = false;
    m_received.clear();
    m_decoder.Reset();
    m_sendQueue.clear();
    m_frontSent = 0;
}

HRESULT CKvTcpPort::Select(long events)
{
    if (events == m_selected)
        return S_OK;
    // Re-selecting clears the socket's record of events not yet enumerated: do it only on
    // a real change.
    if (WSAEventSelect(m_socket, m_commEvent, events) != 0)
        return LastSocketError();
    m_selected = events;
    return S_OK;
}

HRESULT CKvTcpPort::KeepAlive()
{
    // A converter that vanished without a word is noticed within about a minute.
    tcp_keepalive keepAlive = {1, 60000, 10000};
    DWORD returned = 0;
    if (WSAIoctl(m_socket, SIO_KEEPALIVE_VALS, &keepAlive, sizeof(keepAlive), nullptr, 0, &returned, nullptr, nullptr) != 0)
        return LastSocketError();
    return S_OK;
}

HRESULT CKvTcpPort::Open(DWORD timeout)
{
    if (IsOpen())
        return S_OK;
    if (m_startup != 0)
        return m_startup == WSAVERNOTSUPPORTED ? KV_E_WINSOCK_VERSION : PortResultFromSocketError(m_startup);

    size_t colon = m_name.rfind(L':');
    if (colon == std::wstring::npos || colon == 0 || colon + 1 == m_name.size())
        return E_INVALIDARG;
    std::wstring host = m_name.substr(0, colon), service = m_name.substr(colon + 1);

    ADDRINFOW hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* found = nullptr;
    int rc = GetAddrInfoW(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        if (rc == WSAEFAULT)
            return E_INVALIDARG;
        if (rc == WSAHOST_NOT_FOUND)
            return KV_E_PORT_NOT_EXISTS;
        return PortResultFromSocketError(rc);
    }
    std::unique_ptr<ADDRINFOW, AddrInfoDeleter> list(found);
    const ADDRINFOW* addr = list.get();  // only the first address is tried

    SOCKET s = WSASocketW(addr->ai_family, addr->ai_socktype, addr->ai_protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET)
        return LastSocketError();
    m_socket = s;
    ResetConnectionState();
    if (m_commEvent)
        ResetEvent(m_commEvent);

    HRESULT hr = KeepAlive();
    if (SUCCEEDED(hr))
        hr = Select(FD_CONNECT);
    if (FAILED(hr)) {
        Close();
        return hr;
    }
    if (WSAConnect(s, addr->ai_addr, static_cast<int>(addr->ai_addrlen), nullptr, nullptr, nullptr, nullptr) == 0)
        return Connected();
    int e = WSAGetLastError();
    if (e != WSAEWOULDBLOCK) {
        Close();
        return PortResultFromSocketError(e);
    }
    if (timeout == 0) {
        m_ioFlags |= KV_IO_CONNECT_PENDING;
        return S_OK;
    }

    const DWORD start = GetTickCount();
    for (;;) {
        DWORD wait = RemainingWait(start, timeout, false);
        HANDLE handles[2] = {m_commEvent, m_cancel};
        DWORD r = wait == 0 ? WAIT_TIMEOUT : WaitForMultipleObjects(m_cancel ? 2 : 1, handles, FALSE, wait);
        if (r == WAIT_TIMEOUT) {
            Close();
            return KV_E_TCP_CONNECT_TIMEOUT;
        }
        if (r == WAIT_OBJECT_0 + 1) {
            ResetEvent(m_cancel);
            Close();
            return E_ABORT;
        }
        if (r != WAIT_OBJECT_0) {
            hr = PortResultFromWin32(GetLastError());
            Close();
            return hr;
        }
        ResetEvent(m_commEvent);
        WSANETWORKEVENTS events = {};
        if (WSAEnumNetworkEvents(s, nullptr, &events) != 0) {
            hr = LastSocketError();
            Close();
            return hr;
        }
        // A wake without FD_CONNECT is not a connection: wait on.
        if (!(events.lNetworkEvents & FD_CONNECT))
            continue;
        if (int error = events.iErrorCode[FD_CONNECT_BIT]) {
            Close();
            return PortResultFromSocketError(error);
        }
        return Connected();
    }
}

HRESULT CKvTcpPort::Connected()
{
    if (m_telnet && m_speed != 0)
        m_sendQueue.push_front(MakeTelnetBaudRateRequest(m_speed));
    // Also sends what was written while the connection was still being made.
    HRESULT hr = Send();
    if (FAILED(hr))
        Close();
    return hr;
}

HRESULT CKvTcpPort::Attach(SOCKET socket)
{
    Close();
    if (socket == INVALID_SOCKET)
        return E_INVALIDARG;
    m_socket = socket;
    ResetConnectionState();
    if (m_commEvent)
        ResetEvent(m_commEvent);
    HRESULT hr = KeepAlive();
    if (SUCCEEDED(hr))
        hr = Select(FD_READ | FD_CLOSE);
    if (FAILED(hr))
        Close();
    return hr;
}

HRESULT CKvTcpPort::Close()
{
    if (IsOpen()) {
        shutdown(m_socket, SD_BOTH);
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    m_selected = 0;
    m_ioFlags = 0;
    return S_OK;
}

HRESULT CKvTcpPort::SendBaudRate(DWORD speed)
{
    m_sendQueue.push_back(MakeTelnetBaudRateRequest(speed));
    return Send();
}

HRESULT CKvTcpPort::Send()
{
    if (!IsOpen() || (m_ioFlags & (KV_IO_WRITE_PENDING | KV_IO_CONNECT_PENDING)))
        return S_OK;
    while (!m_sendQueue.empty()) {
        std::vector<BYTE>& piece = m_sendQueue.front();
        if (m_frontSent >= piece.size()) {
            m_sendQueue.pop_front();
            m_frontSent = 0;
            continue;
        }
        WSABUF buf;
        buf.len = static_cast<ULONG>(piece.size() - m_frontSent);
        buf.buf = reinterpret_cast<char*>(piece.data() + m_frontSent);
        DWORD sent = 0;
        if (WSASend(m_socket, &buf, 1, &sent, 0, nullptr, nullptr) == 0) {
            // The socket may take only part of it: the rest stays at the front.
            m_frontSent += sent;
            continue;
        }
        int e = WSAGetLastError();
        if (e != WSAEWOULDBLOCK)
            return PortResultFromSocketError(e);
        m_ioFlags |= KV_IO_WRITE_PENDING;
        // Reading goes on while the peer is not reading: both sides waiting on each other
        // would stall.
        return Select(FD_READ | FD_WRITE | FD_CLOSE);
    }
    return Select(FD_READ | FD_CLOSE);
}

void CKvTcpPort::Deliver(const BYTE* bytes, size_t count)
{
    size_t before = m_received.size();
    if (m_telnet)
        m_decoder.Feed(bytes, count, m_received);
    else
        m_received.insert(m_received.end(), bytes, bytes + count);
    if (m_eventChar && m_commEvent && m_received.size() > before &&
        std::find(m_received.begin() + before, m_received.end(), m_eventChar) != m_received.end())
        SetEvent(m_commEvent);
}

HRESULT CKvTcpPort::Receive()
{
    if (!IsOpen())
        return S_OK;
    if (m_peerClosed)
        return KV_E_PORT_DISCONNECTED;
    if (m_ioFlags & (KV_IO_READ_PENDING | KV_IO_CONNECT_PENDING))
        return S_OK;
    for (size_t total = 0; total < kReceiveBurst;) {
        WSABUF buf;
        buf.len = static_cast<ULONG>(m_chunk.size());
        buf.buf = reinterpret_cast<char*>(m_chunk.data());
        DWORD got = 0, flags = 0;
        if (WSARecv(m_socket, &buf, 1, &got, &flags, nullptr, nullptr) == 0) {
            if (got == 0) {
                // Orderly close by the peer.
                m_peerClosed = true;
                return KV_E_PORT_DISCONNECTED;
            }
            Deliver(m_chunk.data(), std::min<size_t>(got, m_chunk.size()));
            total += got;
            continue;
        }
        int e = WSAGetLastError();
        if (e == WSAEWOULDBLOCK) {
            m_ioFlags |= KV_IO_READ_PENDING;
            return S_OK;
        }
        return PortResultFromSocketError(e);
    }
    return S_OK;
}

HRESULT CKvTcpPort::CompleteEvent()
{
    if (!IsOpen())
        return S_OK;
    WSANETWORKEVENTS events = {};
    if (WSAEnumNetworkEvents(m_socket, nullptr, &events) != 0)
        return LastSocketError();
    HRESULT hr = S_OK;
    if (events.lNetworkEvents & FD_CONNECT) {
        m_ioFlags &= ~KV_IO_CONNECT_PENDING;
        if (int error = events.iErrorCode[FD_CONNECT_BIT])
            return PortResultFromSocketError(error);
        hr = Connected();
        if (FAILED(hr))
            return hr;
    }
    if (events.lNetworkEvents & FD_WRITE) {
        m_ioFlags &= ~KV_IO_WRITE_PENDING;
        if (int error = events.iErrorCode[FD_WRITE_BIT])
            hr = PortResultFromSocketError(error);
        if (SUCCEEDED(hr))
            hr = Send();
    }
    if (events.lNetworkEvents & FD_READ) {
        m_ioFlags &= ~KV_IO_READ_PENDING;
        if (int error = events.iErrorCode[FD_READ_BIT])
            hr = SUCCEEDED(hr) ? PortResultFromSocketError(error) : hr;
        if (SUCCEEDED(hr))
            hr = Receive();
    }
    if (events.lNetworkEvents & FD_CLOSE) {
        // Take what the peer sent before it closed, then report the close.
        m_ioFlags &= ~KV_IO_READ_PENDING;
        Receive();
        m_peerClosed = true;
        int error = events.iErrorCode[FD_CLOSE_BIT];
        hr = (error == 0 || error == WSAECONNABORTED || error == WSAECONNRESET) ? KV_E_PORT_DISCONNECTED
                                                                               : HRESULT_FROM_WIN32(error);
    }
    return hr;
}

HRESULT CKvTcpPort::GetBytesAvailable(int* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    if (IsOpen()) {
        HRESULT hr = CompleteEvent();
        if (FAILED(hr))
            return hr;
    }
    *count = static_cast<int>(m_received.size());
    return S_OK;
}

void CKvTcpPort::Take(std::vector<BYTE>& out, size_t& remaining)
{
    size_t move = std::min(remaining, m_received.size());
    out.insert(out.end(), m_received.begin(), m_received.begin() + move);
    m_received.erase(m_received.begin(), m_received.begin() + move);
    remaining -= move;
}

HRESULT CKvTcpPort::Read(std::vector<BYTE>& out, size_t count, DWORD timeout)
{
    if (!IsOpen())
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    size_t remaining = count;
    HRESULT hr = S_OK;
    if (m_ioFlags & KV_IO_READ_PENDING)
        hr = CompleteEvent();
    const DWORD start = GetTickCount();
    for (;;) {
        if (SUCCEEDED(hr))
            hr = Receive();
        // Bytes that arrived before a failure are handed out first.
        Take(out, remaining);
        if (remaining == 0)
            return S_OK;
        if (FAILED(hr))
            return hr;
        if (TicksSince(start) >= timeout)
            return S_OK;
        HANDLE handles[2] = {m_commEvent, m_cancel};
        DWORD r = WaitForMultipleObjects(m_cancel ? 2 : 1, handles, FALSE, RemainingWait(start, timeout, true));
        if (r == WAIT_TIMEOUT)
            continue;
        if (r == WAIT_OBJECT_0 + 1)
            return E_ABORT;
        if (r != WAIT_OBJECT_0)
            return PortResultFromWin32(GetLastError());
        ResetEvent(m_commEvent);
        hr = CompleteEvent();
    }
}

HRESULT CKvTcpPort::Write(const void* data, size_t length, DWORD timeout)
{
    if (!IsOpen())
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    const DWORD start = GetTickCount();
    const BYTE* bytes = static_cast<const BYTE*>(data);
    if (length) {
        std::vector<BYTE> piece;
        if (m_telnet)
            AppendTelnetEscaped(piece, bytes, length);
        else
            piece.assign(bytes, bytes + length);
        m_sendQueue.push_back(std::move(piece));
    }
    HRESULT hr = S_OK;
    if (m_ioFlags & KV_IO_WRITE_PENDING) {
        hr = CompleteEvent();
        if (FAILED(hr))
            return hr;
    }
    hr = Send();
    while (SUCCEEDED(hr) && (m_ioFlags & KV_IO_WRITE_PENDING)) {
        if (timeout == 0)
            return hr;
        DWORD wait = RemainingWait(start, timeout, false);
        if (wait == 0)
            return KV_E_SEND_TIMEOUT;
        HANDLE handles[2] = {m_commEvent, m_cancel};
        DWORD r = WaitForMultipleObjects(m_cancel ? 2 : 1, handles, FALSE, wait);
        if (r == WAIT_TIMEOUT)
            continue;
        if (r == WAIT_OBJECT_0 + 1)
            return E_ABORT;
        if (r != WAIT_OBJECT_0)
            return PortResultFromWin32(GetLastError());
        ResetEvent(m_commEvent);
        hr = CompleteEvent();
        if (SUCCEEDED(hr))
            hr = Send();
    }
    return hr;
}

HRESULT CKvTcpPort::Purge(bool receive, bool transmit)
{
    if (receive) {
        m_received.clear();
        m_decoder.Reset();
    }
    if (transmit) {
        m_sendQueue.clear();
        m_frontSent = 0;
    }
    return S_OK;
}
