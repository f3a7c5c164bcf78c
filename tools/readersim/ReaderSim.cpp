#include "tools/readersim/ReaderSim.h"
#include "tools/readersim/SimDialogue.h"
#include <ws2tcpip.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr BYTE kIac = 0xFF, kSb = 0xFA, kSe = 0xF0;

std::string Hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v));
    return buf;
}

} // namespace

std::string MakeVersionReply(const ReaderSimIdentity& id)
{
    std::string r = id.name + " S/N: " + std::to_string(id.serial) + " [" + Hex(id.code) + "]\r\n";
    static const char* const fillers[] = {"Reader of contactless keys", "Interfaces: USB, RS-485",
                                          "Output: text lines", "Made by Tarnwell", "Keys: 125 kHz"};
    for (int i = 0; i < id.fillerLines; ++i)
        r += std::string(fillers[i % 5]) + "\r\n";
    if (!id.firmware.empty())
        r += "Software version: " + id.firmware + (id.build.empty() ? "" : ", Build " + id.build) + "\r\n";
    else if (!id.build.empty())
        r += "Build " + id.build + "\r\n";
    return r;
}

std::string BuildSimFrame(BYTE seq, BYTE code, const std::string& payload)
{
    std::string f;
    f += '\x02';
    f += static_cast<char>(seq);
    f += static_cast<char>(payload.size() + 6);
    f += static_cast<char>(code);
    f += payload;
    unsigned sum = 0;
    for (unsigned char c : f)
        sum += c;
    f += static_cast<char>(sum & 0xFF);
    f += static_cast<char>((sum >> 8) & 0xFF);
    return f;
}

CReaderSim::CReaderSim()
{
    m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_versionReply = MakeVersionReply(ReaderSimIdentity{});
}

CReaderSim::~CReaderSim()
{
    Stop();
    if (m_stop)
        CloseHandle(m_stop);
    if (m_wsa)
        WSACleanup();
}

uint16_t CReaderSim::ListenTcp(uint16_t port)
{
    if (m_thread.joinable())
        return 0;
    if (!m_wsa) {
        WSADATA wd;
        if (WSAStartup(MAKEWORD(2, 2), &wd) != 0)
            return 0;
        m_wsa = true;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    int len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        closesocket(s);
        return 0;
    }
    m_listen = s;
    ResetEvent(m_stop);
    m_thread = std::thread([this] { RunTcp(); });
    return ntohs(a.sin_port);
}

bool CReaderSim::OpenCom(const std::wstring& name)
{
    if (m_thread.joinable())
        return false;
    std::wstring path = L"\\\\.\\" + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.fBinary = TRUE;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 0};
    if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &t)) {
        CloseHandle(h);
        return false;
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    m_com = h;
    ResetEvent(m_stop);
    m_thread = std::thread([this] { RunCom(); });
    return true;
}

void CReaderSim::Stop()
{
    if (m_thread.joinable()) {
        SetEvent(m_stop);
        m_thread.join();
    }
    std::lock_guard<std::mutex> w(m_writeMutex);
    if (m_peer != INVALID_SOCKET)
        closesocket(m_peer), m_peer = INVALID_SOCKET;
    if (m_listen != INVALID_SOCKET)
        closesocket(m_listen), m_listen = INVALID_SOCKET;
    if (m_com != INVALID_HANDLE_VALUE)
        CloseHandle(m_com), m_com = INVALID_HANDLE_VALUE;
}

void CReaderSim::SetIdentity(const ReaderSimIdentity& id) { SetVersionReply(MakeVersionReply(id)); }

void CReaderSim::SetVersionReply(const std::string& reply)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_versionReply = reply;
}

void CReaderSim::SetAnswerSpeed(DWORD speed)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_answerSpeed = speed;
}

void CReaderSim::SetLineSpeedProbe(std::function<DWORD()> probe)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_speedProbe = std::move(probe);
}

void CReaderSim::SetAway(bool on)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_away = on;
}

void CReaderSim::SetTelnet(bool on)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_telnet = on;
}

void CReaderSim::SetMute(bool on)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_mute = on;
}

void CReaderSim::SetDialogue(CReaderSimDialogue* dialogue)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_dialogue = dialogue;
}

void CReaderSim::SendRaw(const std::string& bytes) { WriteOut(bytes); }

void CReaderSim::SendLine(const std::string& line) { WriteOut(line + "\r\n"); }

void CReaderSim::PresentKey(const std::string& keyLine)
{
    SetFieldKey(keyLine);
    SendLine(keyLine);
}

void CReaderSim::RemoveKey()
{
    SetFieldKey(std::string());
    SendLine("No card");
}

void CReaderSim::SetFieldKey(const std::string& keyLine)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_fieldKey = keyLine;
}

void CReaderSim::DropPeer()
{
    std::lock_guard<std::mutex> w(m_writeMutex);
    if (m_peer != INVALID_SOCKET) {
        shutdown(m_peer, SD_BOTH);
        closesocket(m_peer);
        m_peer = INVALID_SOCKET;
    }
    Notify();
}

int CReaderSim::QueryCount() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_queries;
}

int CReaderSim::ReadOnceCount() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_readOnce;
}

std::vector<ReaderSimFrame> CReaderSim::Frames() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_frames;
}

std::string CReaderSim::ReceivedText() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_received;
}

DWORD CReaderSim::LineSpeed() const
{
    std::function<DWORD()> probe;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        if (m_telnet || !m_speedProbe)
            return m_lineSpeed;
        probe = m_speedProbe;
    }
    return probe();
}

DWORD CReaderSim::AnswerSpeed() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_answerSpeed;
}

bool CReaderSim::Connected() const
{
    std::lock_guard<std::mutex> w(m_writeMutex);
    return m_peer != INVALID_SOCKET || m_com != INVALID_HANDLE_VALUE;
}

int CReaderSim::PeerCount() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_peers;
}

bool CReaderSim::WaitUntil(const std::function<bool()>& cond, DWORD timeout) const
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    std::unique_lock<std::mutex> l(m_mutex);
    while (true) {
        l.unlock();
        bool ok = cond();
        l.lock();
        if (ok)
            return true;
        if (m_changed.wait_until(l, deadline) == std::cv_status::timeout) {
            l.unlock();
            return cond();
        }
    }
}

void CReaderSim::Notify()
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_changed.notify_all();
}

void CReaderSim::SetUltralightPages(const std::string& bytes)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_pages = bytes;
    m_pages.resize(64, '\0');
}

void CReaderSim::SetTemicCard(const ReaderSimTemicCard* card)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_temicPresent = card != nullptr;
    if (card)
        m_temic = *card;
}

void CReaderSim::SetAnswer(const std::string& command, const std::string& answer)
{
    std::lock_guard<std::mutex> l(m_mutex);
    for (auto it = m_answers.begin(); it != m_answers.end(); ++it)
        if (it->first == command) {
            m_answers.erase(it);
            break;
        }
    if (!answer.empty())
        m_answers.emplace_back(command, answer);
}

std::vector<std::string> CReaderSim::CommandLines() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_lines;
}

int CReaderSim::CommandCount(const std::string& command) const
{
    std::lock_guard<std::mutex> l(m_mutex);
    int n = 0;
    for (const auto& line : m_lines)
        n += line == command;
    return n;
}

namespace {

// The hexadecimal numbers of a command after its first `skip` words.
std::vector<unsigned> CommandNumbers(const std::string& line, int skip)
{
    std::vector<unsigned> out;
    size_t pos = 0;
    int word = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        size_t end = line.find(' ', pos);
        if (end == std::string::npos)
            end = line.size();
        if (end > pos && word++ >= skip)
            out.push_back(static_cast<unsigned>(std::strtoul(line.substr(pos, end - pos).c_str(), nullptr, 16)));
        pos = end;
    }
    return out;
}

std::string HexLine(const BYTE* b, size_t n)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        s += buf;
    }
    return s + "\r\n";
}

} // namespace

std::string CReaderSim::OnTextLine(const std::string& line)
{
    std::lock_guard<std::mutex> l(m_mutex);
    for (const auto& a : m_answers)
        if (a.first == line)
            return a.second;
    if (line == "r") {
        ++m_readOnce;
        return (m_fieldKey.empty() ? std::string("No card") : m_fieldKey) + "\r\n";
    }
    if (line.compare(0, 4, "tFMT") == 0 || line.compare(0, 4, "tARG") == 0 || line.compare(0, 4, "tNOC") == 0)
        return "ok\r\n";
    if (line.compare(0, 4, "get ") == 0) {
        const std::vector<unsigned> n = CommandNumbers(line, 1);
        if (n.size() != 1)
            return "err\r\n";
        if (m_fieldKey.empty())
            return "No card\r\n";
        std::string r = "ok\r\n";
        char buf[40];
        for (unsigned i = 0; i < 4; ++i) {
            const unsigned page = (n[0] + i) & 15;
            const auto* p = reinterpret_cast<const BYTE*>(m_pages.data()) + 4 * page;
            std::snprintf(buf, sizeof buf, "%02x: %02x %02x %02x %02x\r\n", page, p[0], p[1], p[2], p[3]);
            r += buf;
        }
        return r;
    }
    if (line.compare(0, 4, "t57 ") == 0) {
        const std::vector<unsigned> n = CommandNumbers(line, 1);
        if (n.empty())
            return "err\r\n";
        switch (n[0]) {
        case 0x00:
            return n.size() == 1 ? "ok\r\n" : "err\r\n";
        case 0x01:
            if (n.size() != 8)
                return "err\r\n";
            return m_temicPresent ? "ok\r\n" : "err no t5557\r\n";
        case 0x05:
        case 0x06: {
            const bool withPassword = n[0] == 0x06;
            if (n.size() != (withPassword ? 8u : 4u))
                return "err\r\n";
            const unsigned block = n[1];
            const unsigned p1 = n[n.size() - 2], p2 = n[n.size() - 1];
            const uint32_t password = withPassword ? n[2] | n[3] << 8 | n[4] << 16 | n[5] << 24 : 0;
            const ReaderSimTemicCard& c = m_temic;
            if (!m_temicPresent || (c.p1 >= 0 && static_cast<unsigned>(c.p1) != p1) ||
                (c.p2 >= 0 && static_cast<unsigned>(c.p2) != p2) || c.usePassword != withPassword ||
                (withPassword && c.password != password))
                return "err no t5557\r\n";
            if (block == 0x81)
                return HexLine(c.id1, 4);
            if (block == 0x82)
                return HexLine(c.id2, 4);
            if (block < 8)
                return HexLine(c.data[block], 4);
            return "err\r\n";
        }
        default:
            return "err\r\n";
        }
    }
    return std::string();
}

std::string CReaderSim::OnFrame(const ReaderSimFrame& frame)
{
    // At another speed than its own the reader hears garbage: it neither answers nor obeys.
    if (!AtOwnSpeed())
        return std::string();
    FrameSimLine line;
    line.write = [this](const std::string& bytes) {
        Answer(bytes);
        return WaitForSingleObject(m_stop, 0) != WAIT_OBJECT_0;
    };
    // A speed change is seen where the line shows its speed (telnet, or a probe).
    line.speed = [this](DWORD speed) {
        std::lock_guard<std::mutex> l(m_mutex);
        if (m_telnet || m_speedProbe)
            m_answerSpeed = speed;
    };
    m_binary.Reply(frame.seq, frame.code, frame.payload, line);
    return std::string();
}

bool CReaderSim::AtOwnSpeed() const
{
    std::function<DWORD()> probe;
    DWORD own = 0;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        own = m_answerSpeed;
        if (own == 0)
            return true;
        if (m_telnet)
            return m_lineSpeed == own;
        probe = m_speedProbe;
    }
    // A line that does not show its speed, or a probe that cannot tell, is taken as right.
    if (!probe)
        return true;
    const DWORD line = probe();
    return line == 0 || line == own;
}

std::string CReaderSim::TelnetFilter(const char* data, size_t n)
{
    m_telnetRaw.append(data, n);
    std::string out;
    std::string& r = m_telnetRaw;
    size_t i = 0;
    while (i < r.size()) {
        BYTE c = static_cast<BYTE>(r[i]);
        if (c != kIac) {
            out += r[i++];
            continue;
        }
        if (i + 1 >= r.size())
            break;
        BYTE cmd = static_cast<BYTE>(r[i + 1]);
        if (cmd == kIac) {
            out += r[i];
            i += 2;
        } else if (cmd == kSb) {
            // Collect the subnegotiation up to IAC SE; IAC IAC inside stands for 0xFF.
            std::string body;
            size_t j = i + 2;
            bool done = false;
            while (j + 1 < r.size()) {
                if (static_cast<BYTE>(r[j]) == kIac) {
                    if (static_cast<BYTE>(r[j + 1]) == kIac) {
                        body += r[j];
                        j += 2;
                        continue;
                    }
                    done = true;
                    j += 2;
                    break;
                }
                body += r[j++];
            }
            if (!done)
                break;
            if (body.size() == 6 && body[0] == 44 && body[1] == 1) {
                m_lineSpeed = static_cast<DWORD>(static_cast<BYTE>(body[2])) << 24 |
                              static_cast<DWORD>(static_cast<BYTE>(body[3])) << 16 |
                              static_cast<DWORD>(static_cast<BYTE>(body[4])) << 8 | static_cast<BYTE>(body[5]);
            }
            i = j;
        } else if (cmd >= 251 && cmd <= 254) {
            if (i + 2 >= r.size())
                break;
            i += 3;
        } else {
            i += 2;
        }
    }
    r.erase(0, i);
    return out;
}

void CReaderSim::OnBytes(const char* data, size_t n)
{
    {
        std::lock_guard<std::mutex> l(m_mutex);
        std::string clean = m_telnet ? TelnetFilter(data, n) : std::string(data, n);
        if (!m_away) {
            m_received += clean;
            m_input += clean;
        }
    }
    ProcessInput();
    Notify();
}

void CReaderSim::ProcessInput()
{
    for (;;) {
        std::unique_lock<std::mutex> l(m_mutex);
        std::string& in = m_input;
        if (in.empty())
            return;
        if (m_dialogue && m_queries > 0 && in[0] != 'i') {
            const size_t before = in.size();
            std::string answer;
            m_dialogue->Take(in, answer);
            const bool progress = in.size() != before;
            l.unlock();
            Answer(answer);
            if (!progress)
                return;
            continue;
        }
        if (in[0] == '\x02') {
            if (in.size() < 3)
                return;
            size_t len = static_cast<BYTE>(in[2]);
            if (len < 6) {
                in.erase(0, 1);
                continue;
            }
            if (in.size() < len)
                return;
            unsigned sum = 0;
            for (size_t i = 0; i + 2 < len; ++i)
                sum += static_cast<BYTE>(in[i]);
            unsigned got = static_cast<BYTE>(in[len - 2]) | static_cast<BYTE>(in[len - 1]) << 8;
            if ((sum & 0xFFFF) != got) {
                in.erase(0, 1);
                continue;
            }
            ReaderSimFrame f;
            f.seq = static_cast<BYTE>(in[1]);
            f.code = static_cast<BYTE>(in[3]);
            f.payload = in.substr(4, len - 6);
            in.erase(0, len);
            m_frames.push_back(f);
            l.unlock();
            Answer(OnFrame(f));
            continue;
        }
        if (m_binary.BinaryMode()) {
            // In binary mode the reader hears frames only.
            const size_t start = in.find('\x02');
            in.erase(0, start == std::string::npos ? in.size() : start);
            continue;
        }
        if (in[0] == 'i') {
            in.erase(0, 1);
            ++m_queries;
            if (m_dialogue)
                m_dialogue->OnQuery();
            std::string reply = m_versionReply;
            l.unlock();
            Answer(reply);
            continue;
        }
        size_t eol = in.find_first_of("\r\n");
        if (eol == std::string::npos) {
            if (in.size() > 4096)
                in.clear();
            return;
        }
        std::string line = in.substr(0, eol);
        size_t skip = eol + 1;
        if (in[eol] == '\r' && skip < in.size() && in[skip] == '\n')
            ++skip;
        in.erase(0, skip);
        if (line.empty())
            continue;
        m_lines.push_back(line);
        l.unlock();
        Answer(OnTextLine(line));
    }
}

void CReaderSim::Answer(const std::string& bytes)
{
    if (bytes.empty())
        return;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        if (m_mute)
            return;
    }
    if (!AtOwnSpeed())
        return;
    WriteOut(bytes);
}

void CReaderSim::WriteOut(const std::string& bytes)
{
    std::string out;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        if (m_telnet) {
            for (char c : bytes) {
                out += c;
                if (static_cast<BYTE>(c) == kIac)
                    out += c;
            }
        } else {
            out = bytes;
        }
    }
    std::lock_guard<std::mutex> w(m_writeMutex);
    if (m_peer != INVALID_SOCKET) {
        size_t sent = 0;
        while (sent < out.size()) {
            int n = send(m_peer, out.data() + sent, static_cast<int>(out.size() - sent), 0);
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
                // A peer that reads no more holds the write until the simulator stops.
                if (WaitForSingleObject(m_stop, 1) == WAIT_OBJECT_0)
                    break;
            } else {
                break;
            }
        }
    } else if (m_com != INVALID_HANDLE_VALUE) {
        OVERLAPPED ov{};
        ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD n = 0;
        if (WriteFile(m_com, out.data(), static_cast<DWORD>(out.size()), &n, &ov) ||
            GetLastError() == ERROR_IO_PENDING) {
            HANDLE waits[2] = {ov.hEvent, m_stop};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
                CancelIoEx(m_com, &ov);
            GetOverlappedResult(m_com, &ov, &n, TRUE);
        }
        CloseHandle(ov.hEvent);
    }
}

void CReaderSim::RunTcp()
{
    HANDLE evListen = WSACreateEvent(), evPeer = WSACreateEvent();
    WSAEventSelect(m_listen, evListen, FD_ACCEPT);
    SOCKET current = INVALID_SOCKET;
    for (;;) {
        // A peer dropped by DropPeer is forgotten here.
        {
            std::lock_guard<std::mutex> w(m_writeMutex);
            if (current != INVALID_SOCKET && m_peer != current) {
                current = INVALID_SOCKET;
                WSAResetEvent(evPeer);
            }
        }
        HANDLE hs[3] = {m_stop, evListen, evPeer};
        DWORD r = WaitForMultipleObjects(current != INVALID_SOCKET ? 3 : 2, hs, FALSE, 50);
        if (r == WAIT_OBJECT_0)
            break;
        if (r == WAIT_OBJECT_0 + 1) {
            WSAResetEvent(evListen);
            SOCKET s = accept(m_listen, nullptr, nullptr);
            if (s != INVALID_SOCKET) {
                std::lock_guard<std::mutex> w(m_writeMutex);
                if (m_peer != INVALID_SOCKET)
                    closesocket(m_peer);
                m_peer = current = s;
                WSAEventSelect(s, evPeer, FD_READ | FD_CLOSE);
                {
                    std::lock_guard<std::mutex> l(m_mutex);
                    ++m_peers;
                    m_input.clear();
                    m_telnetRaw.clear();
                }
            }
            Notify();
        } else if (r == WAIT_OBJECT_0 + 2) {
            WSANETWORKEVENTS ne{};
            bool closed = false;
            {
                std::lock_guard<std::mutex> w(m_writeMutex);
                if (m_peer != current || WSAEnumNetworkEvents(current, evPeer, &ne) != 0)
                    continue;
            }
            char buf[1024];
            for (;;) {
                int n = recv(current, buf, sizeof buf, 0);
                if (n > 0) {
                    OnBytes(buf, static_cast<size_t>(n));
                    continue;
                }
                if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
                    closed = true;
                break;
            }
            if (closed || (ne.lNetworkEvents & FD_CLOSE)) {
                std::lock_guard<std::mutex> w(m_writeMutex);
                if (m_peer == current) {
                    closesocket(m_peer);
                    m_peer = INVALID_SOCKET;
                }
                current = INVALID_SOCKET;
                Notify();
            }
        }
    }
    WSACloseEvent(evListen);
    WSACloseEvent(evPeer);
}

void CReaderSim::RunCom()
{
    // One read outstanding at a time. Where a pending read waits for more than what is there,
    // it is settled every few milliseconds, so bytes never wait long and Stop is seen.
    OVERLAPPED rd{};
    rd.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char buf[1024];
    for (;;) {
        ResetEvent(rd.hEvent);
        DWORD n = 0;
        if (!ReadFile(m_com, buf, sizeof buf, &n, &rd)) {
            if (GetLastError() != ERROR_IO_PENDING)
                break;
            HANDLE hs[2] = {m_stop, rd.hEvent};
            const DWORD r = WaitForMultipleObjects(2, hs, FALSE, 10);
            if (r != WAIT_OBJECT_0 + 1)
                CancelIoEx(m_com, &rd);
            n = 0;
            GetOverlappedResult(m_com, &rd, &n, TRUE);
            if (n)
                OnBytes(buf, n);
            if (r == WAIT_OBJECT_0)
                break;
            continue;
        }
        if (n)
            OnBytes(buf, n);
        else if (WaitForSingleObject(m_stop, 10) == WAIT_OBJECT_0)
            break;
    }
    CloseHandle(rd.hEvent);
}
