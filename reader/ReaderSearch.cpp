#include <winsock2.h>
#include <ws2tcpip.h>

#include "reader/ReaderSearch.h"

#include <algorithm>
#include <cwctype>

#include "comm/ComPort.h"
#include "comm/TcpPort.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/TextUtil.h"
#include "reader/ReaderModels.h"

const char kSeekPacket[] = "SEEK Q510IP";

namespace {

constexpr DWORD kMaskLowSpeed = 0xDFE;    // models asked at 9600 Bd
constexpr DWORD kMaskHighSpeed = 0x208;   // models asked at 115200 Bd
constexpr BYTE kQueryEventChar = 10;
constexpr size_t kSocketBuffer = 1024;
constexpr size_t kMaxReplyBytes = 4096;   // a port that never stops talking is no reader

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

bool IsSerialName(const std::wstring& name)
{
    return name.size() >= 3 && _wcsnicmp(name.c_str(), L"COM", 3) == 0;
}

DWORD TimeLeft(DWORD start, DWORD limit)
{
    const DWORD spent = TicksSince(start);
    return spent >= limit ? 0 : limit - spent;
}

DWORD Limit(int value)
{
    return static_cast<DWORD>(std::max(value, 0));
}

} // namespace

// ---- The machine ----

void CSearchPlatform::LocalAddresses(std::vector<ULONG>& out)
{
    char host[256] = {};
    if (gethostname(host, sizeof host) != 0)
        ThrowOSError(static_cast<DWORD>(WSAGetLastError()));
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* found = nullptr;
    if (int rc = getaddrinfo(host, nullptr, &hints, &found))
        ThrowOSError(static_cast<DWORD>(rc));
    for (addrinfo* a = found; a; a = a->ai_next) {
        const ULONG address = reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        if (address != htonl(INADDR_LOOPBACK))
            out.push_back(address);
    }
    freeaddrinfo(found);
}

void CSearchPlatform::BroadcastTarget(ULONG& address, USHORT& port)
{
    address = htonl(INADDR_BROADCAST);
    port = htons(kSeekPort);
}

IKvPort* CSearchPlatform::MakePort(const std::wstring& name)
{
    if (IsSerialName(name))
        return new CKvComPort();
    return new CKvTcpPort();
}

// ---- Replies of the converters ----

bool ParseSeekReply(const char* data, size_t length, SeekReply& out)
{
    out = SeekReply();
    std::vector<std::string> tokens;
    std::string token;
    for (size_t i = 0; i <= length; ++i) {
        if (i == length || data[i] == ' ') {
            if (!token.empty())
                tokens.push_back(token);
            token.clear();
        } else {
            token += data[i];
        }
    }
    if (tokens.size() < 6)
        return false;
    for (int t = 2; t < 6; ++t)
        if (tokens[static_cast<size_t>(t)].size() < 9)
            return false;
    for (int ch = 0; ch < 2; ++ch) {
        const std::string digits = tokens[static_cast<size_t>(2 + ch)].substr(9);
        if (digits.empty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
            return false;
        out.port[ch] = static_cast<unsigned>(std::stoul(digits));
        if (out.port[ch] > 65535)
            return false;
        out.ip[ch] = tokens[static_cast<size_t>(4 + ch)].substr(9);
    }
    return true;
}

CSearchRdException::CSearchRdException()
{
    std::wstring text;
    if (!GetSystemMessageText(text, GetResourceModule(), static_cast<DWORD>(E_ABORT)))
        text = L"Operation aborted";
    m_text = WStringToMultiByte(text, CP_ACP);
}

SearchSocket::SearchSocket() : socket(INVALID_SOCKET)
{
    buffer.reserve(kSocketBuffer);
}

SearchSocket::~SearchSocket()
{
    if (socket != INVALID_SOCKET)
        closesocket(socket);
}

// ---- The engine ----

CSearchReaders::CSearchReaders() = default;

CSearchReaders::~CSearchReaders()
{
    // The ports and sockets go before the events they signal.
    m_probes.clear();
    m_sockets.clear();
    for (CEvent& e : m_events)
        e.Close();
    if (m_winsock)
        WSACleanup();
}

void CSearchReaders::Init(const SearchSettings& settings, const std::vector<_PORT_INFO>* ports, HANDLE cancel,
                          ISearchPlatform* platform)
{
    m_settings = settings;
    m_settings.tries = std::max(settings.tries, 1);
    m_cancel = cancel;
    m_platform = platform ? platform : &m_machine;
    std::vector<_PORT_INFO> enumerated;
    if (!ports) {
        EnumComPorts(enumerated, settings.flags);
        ports = &enumerated;
    }
    for (CEvent& e : m_events) {
        e.Close();
        if (!e.Create(true, false))
            ThrowOSError(GetLastError());
    }
    if (settings.flags & PORT_SEARCH_NETWORK) {
        WSADATA data;
        if (int rc = WSAStartup(MAKEWORD(2, 2), &data))
            ThrowOSError(static_cast<DWORD>(rc));
        m_winsock = true;
        std::vector<ULONG> addresses;
        m_platform->LocalAddresses(addresses);
        for (ULONG a : addresses) {
            auto s = std::make_unique<SearchSocket>();
            s->address = a;
            m_sockets.push_back(std::move(s));
        }
    }
    for (const _PORT_INFO& p : *ports)
        AddProbe(p.name, p.source, p.modelMask);
}

void CSearchReaders::AddProbe(const std::wstring& name, DWORD kind, DWORD modelMask)
{
    const std::wstring key = Upper(name);
    if (name.empty() || m_probedNames.count(key))
        return;
    auto probe = std::make_unique<SearchProbe>();
    probe->port.Reset(m_platform->MakePort(name));
    if (!probe->port || FAILED(probe->port->Init(name.c_str(), m_cancel, m_events[0], m_events[1], m_events[2])))
        return;
    probe->name = name;
    probe->kind = kind;
    probe->modelMask = modelMask;
    m_probedNames.insert(key);
    m_probes.push_back(std::move(probe));
}

HRESULT CSearchReaders::Next(_FOUND_READER& out)
{
    while (m_found.empty()) {
        DWORD pending = INFINITE;
        for (size_t i = 0; i < m_sockets.size();) {
            StepSocket(*m_sockets[i], pending);
            if (m_sockets[i]->state == 5)
                m_sockets.erase(m_sockets.begin() + static_cast<ptrdiff_t>(i));
            else
                ++i;
        }
        for (size_t i = 0; i < m_probes.size();) {
            StepProbe(*m_probes[i], pending);
            if (m_probes[i]->state == PROBE_FINISHED)
                m_probes.erase(m_probes.begin() + static_cast<ptrdiff_t>(i));
            else
                ++i;
        }
        if (!m_found.empty() || (m_probes.empty() && m_sockets.empty()))
            break;
        Wait(pending);
    }
    if (m_found.empty())
        return KV_E_NO_MORE_READERS;
    out = std::move(m_found.front());
    m_found.erase(m_found.begin());
    return S_OK;
}

void CSearchReaders::Wait(DWORD timeout)
{
    // The cancel event first: it wins over every port's signal.
    HANDLE handles[4];
    DWORD n = 0;
    if (m_cancel)
        handles[n++] = m_cancel;
    const DWORD first = n;
    for (HANDLE e : m_events)
        handles[n++] = e;
    const DWORD r = WaitForMultipleObjects(n, handles, FALSE, timeout);
    if (r == WAIT_TIMEOUT)
        return;
    if (r == WAIT_FAILED)
        ThrowOSError(GetLastError());
    const DWORD index = r - WAIT_OBJECT_0;
    if (m_cancel && index == 0)
        throw CSearchRdException();
    if (index >= first && index < n)
        ResetEvent(handles[index]);
}

// ---- Probes ----

void CSearchReaders::StepProbe(SearchProbe& p, DWORD& pending)
{
    try {
        // Each failed try or change of speed goes on at once; both are counted, so this ends.
        for (;;) {
            RunProbeState(p);
            if (p.state == PROBE_FAILED_TRY) {
                FailTry(p);
                continue;
            }
            if (p.state == PROBE_OPEN)
                continue;
            if (p.state == PROBE_FINISHED)
                return;
            const DWORD limit = Limit(p.state == PROBE_OPENING ? m_settings.connectTimeout : m_settings.replyTimeout);
            DWORD left = TimeLeft(p.stateTick, limit);
            if (left == 0) {
                FailTry(p);
                continue;
            }
            if (p.state == PROBE_AWAITING && m_settings.readPoll >= 0)
                left = std::min(left, static_cast<DWORD>(m_settings.readPoll));
            pending = std::min(pending, left);
            return;
        }
    } catch (const std::exception&) {
        p.state = PROBE_FINISHED;
    }
}

void CSearchReaders::RunProbeState(SearchProbe& p)
{
    HRESULT hr = S_OK;
    switch (p.state) {
    case PROBE_OPEN:
        OpenAtSpeed(p);
        break;
    case PROBE_OPENING:
        hr = p.port->CompleteEvent();
        if (FAILED(hr))
            p.state = PROBE_FAILED_TRY;
        else if (!(p.port->GetIoFlags() & KV_IO_CONNECT_PENDING))
            SendQuery(p);
        break;
    case PROBE_SENDING:
        hr = p.port->CompleteWrite();
        if (SUCCEEDED(hr))
            hr = p.port->CompleteEvent();
        if (FAILED(hr))
            p.state = PROBE_FAILED_TRY;
        else if (!(p.port->GetIoFlags() & KV_IO_WRITE_PENDING))
            ReadReply(p);
        break;
    case PROBE_AWAITING:
        hr = p.port->CompleteRead();
        if (SUCCEEDED(hr))
            hr = p.port->CompleteEvent();
        if (FAILED(hr))
            p.state = PROBE_FAILED_TRY;
        else
            ReadReply(p);
        break;
    default:
        break;
    }
}

void CSearchReaders::OpenAtSpeed(SearchProbe& p)
{
    DWORD speed = 0;
    for (; p.speedIndex <= 1 && !speed; ) {
        if (p.speedIndex == 0 && (p.modelMask & kMaskLowSpeed))
            speed = 9600;
        else if (p.speedIndex == 1 && (p.modelMask & kMaskHighSpeed))
            speed = 115200;
        else
            ++p.speedIndex;
    }
    if (!speed) {
        p.state = PROBE_FINISHED;
        return;
    }
    if (auto* port = dynamic_cast<CKvPort*>(p.port.Get()))
        port->SetWaitSlice(m_settings.readPoll < 0 ? KV_NO_WAIT_SLICE : static_cast<DWORD>(m_settings.readPoll));
    HRESULT hr = p.port->SetParams(speed, m_settings.stopBits, kQueryEventChar);
    if (SUCCEEDED(hr))
        hr = p.port->IsOpen() ? p.port->Purge(true, true) : p.port->Open(0);
    if (FAILED(hr)) {
        p.state = PROBE_FAILED_TRY;
        return;
    }
    p.stateTick = GetTickCount();
    if (p.port->GetIoFlags() & KV_IO_CONNECT_PENDING)
        p.state = PROBE_OPENING;
    else
        SendQuery(p);
}

void CSearchReaders::SendQuery(SearchProbe& p)
{
    // Whatever lies in the port already (a device's chatter, what an earlier user left) is
    // no reply to this query.
    if (FAILED(p.port->Purge(true, false)) || FAILED(p.port->Write("i", 1, 0))) {
        p.state = PROBE_FAILED_TRY;
        return;
    }
    p.stateTick = GetTickCount();
    p.replyBytes.clear();
    p.replyText.clear();
    p.snSeen = false;
    if (p.port->GetIoFlags() & KV_IO_WRITE_PENDING)
        p.state = PROBE_SENDING;
    else
        ReadReply(p);
}

void CSearchReaders::ReadReply(SearchProbe& p)
{
    p.state = PROBE_AWAITING;
    int waiting = 0;
    if (FAILED(p.port->GetBytesAvailable(&waiting))) {
        p.state = PROBE_FAILED_TRY;
        return;
    }
    std::vector<BYTE> bytes;
    if (waiting > 0 && FAILED(p.port->Read(bytes, static_cast<size_t>(waiting), 0))) {
        p.state = PROBE_FAILED_TRY;
        return;
    }
    if (bytes.empty())
        return;
    p.replyBytes.append(bytes.begin(), bytes.end());
    if (p.snSeen || p.replyBytes.find("S/N:") != std::string::npos) {
        p.snSeen = true;
        p.replyText += MultiByteToWString(p.replyBytes, CP_ACP);
        p.replyBytes.clear();
        uint32_t code = 0;
        int serial = 0;
        PackedVersion version = 0;
        bool incomplete = false;
        if (ParseReaderVersion(p.replyText, code, serial, version, &incomplete)) {
            if (const int model = ReaderModelFromCode(code))
                m_found.push_back(_FOUND_READER{p.name, p.kind, model, serial, static_cast<uint32_t>(version), p.replyText});
            p.state = PROBE_FINISHED;
        } else if (!incomplete || p.replyText.size() > kMaxReplyBytes) {
            p.state = PROBE_FINISHED;
        }
        return;
    }
    // A reply may come in pieces: bytes without "S/N:" are kept until a whole line has come
    // without it (or the time-out), and only then is the query repeated.
    if (p.replyBytes.find('\n') == std::string::npos && p.replyBytes.size() <= kMaxReplyBytes)
        return;
    p.replyBytes.clear();
    if (++p.tries < m_settings.tries)
        SendQuery(p);
    else
        NextSpeed(p);
}

void CSearchReaders::FailTry(SearchProbe& p)
{
    p.state = PROBE_OPEN;
    if (++p.tries >= m_settings.tries)
        NextSpeed(p);
}

void CSearchReaders::NextSpeed(SearchProbe& p)
{
    ++p.speedIndex;
    p.tries = 0;
    p.state = PROBE_OPEN;
}

// ---- Network converters ----

void CSearchReaders::StepSocket(SearchSocket& s, DWORD& pending)
{
    for (;;) {
        try {
            if (s.state == 0)
                Broadcast(s);
            if (s.state == 3)
                ReceiveReplies(s);
            if (s.state == 3) {
                const DWORD left = TimeLeft(s.sendTick, Limit(m_settings.networkReplyTimeout));
                if (left > 0) {
                    pending = std::min(pending, left);
                    return;
                }
                s.state = 5;
            }
        } catch (const std::exception&) {
            s.state = 5;
        }
        // The cycle is over: another broadcast while cycles remain.
        if (++s.cycles >= m_settings.networkTries)
            return;
        s.state = 0;
    }
}

void CSearchReaders::Broadcast(SearchSocket& s)
{
    if (s.socket == INVALID_SOCKET) {
        SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (sock == INVALID_SOCKET)
            ThrowOSError(static_cast<DWORD>(WSAGetLastError()));
        s.socket = sock;
        const BOOL on = TRUE;
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = s.address;
        if (setsockopt(sock, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
            bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            WSAEventSelect(sock, m_events[2], FD_READ) != 0)
            ThrowOSError(static_cast<DWORD>(WSAGetLastError()));
    }
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    m_platform->BroadcastTarget(target.sin_addr.s_addr, target.sin_port);
    const int length = static_cast<int>(sizeof kSeekPacket - 1);
    if (sendto(s.socket, kSeekPacket, length, 0, reinterpret_cast<sockaddr*>(&target), sizeof target) != length)
        ThrowOSError(static_cast<DWORD>(WSAGetLastError()));
    s.sendTick = GetTickCount();
    s.state = 3;
}

void CSearchReaders::ReceiveReplies(SearchSocket& s)
{
    // Without an event: the shared event is the loop's to reset.
    WSANETWORKEVENTS events = {};
    if (WSAEnumNetworkEvents(s.socket, nullptr, &events) != 0 ||
        ((events.lNetworkEvents & FD_READ) && events.iErrorCode[FD_READ_BIT])) {
        s.state = 5;
        return;
    }
    for (;;) {
        u_long waiting = 0;
        if (ioctlsocket(s.socket, FIONREAD, &waiting) != 0) {
            s.state = 5;
            return;
        }
        if (waiting == 0)
            return;
        s.buffer.resize(kSocketBuffer);
        sockaddr_in from = {};
        int fromLength = sizeof from;
        const int n = recvfrom(s.socket, s.buffer.data(), static_cast<int>(s.buffer.size()), 0,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                return;
            s.state = 5;   // an oversized datagram among them
            return;
        }
        SeekReply reply;
        if (!ParseSeekReply(s.buffer.data(), static_cast<size_t>(n), reply)) {
            s.state = 5;
            return;
        }
        const BYTE* a = reinterpret_cast<const BYTE*>(&from.sin_addr.s_addr);
        for (int ch = 0; ch < 2; ++ch) {
            if (reply.port[ch] == 0 || (!reply.ip[ch].empty() && reply.ip[ch] != "0.0.0.0"))
                continue;
            if (m_networkProbes >= kMaxNetworkProbes)
                continue;
            std::wstring name;
            FormatString(name, L"%u.%u.%u.%u:%u", a[0], a[1], a[2], a[3], reply.port[ch]);
            const size_t before = m_probes.size();
            AddProbe(name, PORT_SOURCE_NETWORK, PORT_ANY_MODEL);
            if (m_probes.size() > before)
                ++m_networkProbes;
        }
    }
}

// ---- The thread ----

CSearchReadersThread::CSearchReadersThread()
{
    if (!m_cancel.Create(true, false))
        ThrowOSError(GetLastError());
}

CSearchReadersThread::~CSearchReadersThread()
{
    m_cancel.Set();
    Stop();
}

void CSearchReadersThread::SetTarget(HWND window, UINT message)
{
    m_window = window;
    m_message = message;
}

bool CSearchReadersThread::TakeFound(std::vector<_FOUND_READER>& out)
{
    CCriticalSectionLock lock(m_lock);
    out.insert(out.end(), std::make_move_iterator(m_found.begin()), std::make_move_iterator(m_found.end()));
    m_found.clear();
    return m_done;
}

DWORD CSearchReadersThread::Run()
{
    while (IsRunning()) {
        _FOUND_READER found;
        HRESULT hr;
        try {
            hr = m_engine.Next(found);
        } catch (const std::exception&) {
            break;
        }
        if (hr != S_OK)
            break;
        CCriticalSectionLock lock(m_lock);
        m_found.push_back(std::move(found));
        PostMessageW(m_window, m_message, 0, 0);
    }
    // Done before the last post: the window that takes this message knows the search is over.
    CCriticalSectionLock lock(m_lock);
    m_done = true;
    PostMessageW(m_window, m_message, 0, 0);
    return 0;
}
