#include "tests/support/PortPairs.h"

#include <ws2tcpip.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#ifndef NORVANE_TOOLS_DIR
#define NORVANE_TOOLS_DIR ""
#endif

namespace {

struct PairsFile
{
    bool loaded = false;
    bool present = false;
    int controlPort = 0;
    std::vector<SerialPairInfo> pairs;
    std::wstring denied;
};

// The build folder's files as this process sees them: Wine maps / to Z:.
std::string HostPath(const std::string& unixPath)
{
    if (unixPath.empty() || unixPath[0] != '/')
        return unixPath;
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

std::string PairsFilePath()
{
    std::string tools = NORVANE_TOOLS_DIR;
    size_t slash = tools.find_last_of("/\\");
    std::string build = slash == std::string::npos ? tools : tools.substr(0, slash);
    return HostPath(build + "/ptys/pairs.txt");
}

PairsFile& Pairs()
{
    static PairsFile file;
    static std::once_flag once;
    std::call_once(once, [] {
        std::ifstream in(PairsFilePath());
        if (!in)
            return;
        file.present = true;
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string kind;
            words >> kind;
            if (kind == "control")
                words >> file.controlPort;
            else if (kind == "denied") {
                std::string name;
                words >> name;
                file.denied.assign(name.begin(), name.end());
            }
            else if (kind == "pair") {
                SerialPairInfo info;
                std::string a, b;
                words >> info.index >> a >> b;
                info.nearName.assign(a.begin(), a.end());
                info.farName.assign(b.begin(), b.end());
                file.pairs.push_back(info);
            }
        }
    });
    return file;
}

std::string ReceiveLine(SOCKET s)
{
    std::string line;
    char c;
    while (recv(s, &c, 1, 0) == 1 && c != '\n')
        line += c;
    return line;
}

// Empties one end of a pair: PurgeComm, then whatever still comes. A device that is
// unplugged or refuses a second handle is left as it is.
void DrainDevice(const std::wstring& name)
{
    const std::wstring path = L"\\\\.\\" + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(h, &timeouts);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    char buf[1024];
    DWORD n = 0;
    for (int i = 0; i < 64 && ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0; ++i) {
    }
    CloseHandle(h);
}

// Bytes an earlier test left in a pair (ctest runs each test in a process of its own, and the
// pairs outlive them) must not reach this one: both ends are drained the first time a test
// takes the pair.
void DrainOnFirstTake(const SerialPairInfo& pair)
{
    static std::mutex mutex;
    static std::map<int, const ::testing::TestInfo*> drainedFor;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::lock_guard<std::mutex> lock(mutex);
    auto found = drainedFor.find(pair.index);
    if (found != drainedFor.end() && found->second == test)
        return;
    drainedFor[pair.index] = test;
    DrainDevice(pair.farName);
    DrainDevice(pair.nearName);
}

}  // namespace

bool SerialPairsAvailable(std::string& why)
{
    if (Pairs().present && !Pairs().pairs.empty())
        return true;
    why = "serial port pairs are not set up: run tools/test-services.sh start build/x64 (no " + PairsFilePath() + ")";
    return false;
}

const SerialPairInfo* GetSerialPair(int index)
{
    for (const SerialPairInfo& p : Pairs().pairs) {
        if (p.index == index) {
            DrainOnFirstTake(p);
            return &p;
        }
    }
    return nullptr;
}

std::wstring GetDeniedComPort()
{
    return Pairs().denied;
}

bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

namespace {

// One command line to the pair supervisor; its answer line, or why there was none.
std::string AskSupervisor(const std::string& command)
{
    if (!Pairs().controlPort)
        return "no pair supervisor";
    CWinsock winsock;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return "socket failed";
    DWORD limit = 15000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof(limit));
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<USHORT>(Pairs().controlPort));
    std::string reply = "cannot reach the pair supervisor";
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
        std::string line = command + "\n";
        send(s, line.data(), static_cast<int>(line.size()), 0);
        reply = ReceiveLine(s);
        if (reply.empty())
            reply = "no answer from the pair supervisor";
    }
    closesocket(s);
    return reply;
}

} // namespace

std::string SerialPairControl(const std::string& command)
{
    std::string reply = AskSupervisor(command);
    if (reply == "ok")
        reply.clear();
    return reply;
}

DWORD SerialPairSpeed(int index)
{
    const std::string reply = AskSupervisor("speed " + std::to_string(index));
    if (reply.compare(0, 3, "ok ") != 0)
        return 0;
    return static_cast<DWORD>(std::strtoul(reply.c_str() + 3, nullptr, 10));
}

// ---------------------------------------------------------------------------------------

CTestPortEvents::CTestPortEvents()
{
    HANDLE* all[] = {&cancel, &wake, &writeDone, &readDone, &comm};
    for (HANDLE* h : all)
        *h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CTestPortEvents::~CTestPortEvents()
{
    for (HANDLE h : {cancel, wake, writeDone, readDone, comm})
        if (h)
            CloseHandle(h);
}

::testing::AssertionResult CFarComEnd::Open(const std::wstring& name)
{
    Close();
    std::wstring path = L"\\\\.\\" + name;
    m_handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE)
        return ::testing::AssertionFailure() << "cannot open the far end " << std::string(name.begin(), name.end())
                                             << ", error " << GetLastError();
    m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    dcb.fBinary = TRUE;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    if (!SetCommState(m_handle, &dcb) || !SetCommTimeouts(m_handle, &timeouts))
        return ::testing::AssertionFailure() << "cannot set up the far end, error " << GetLastError();
    return ::testing::AssertionSuccess();
}

void CFarComEnd::Close()
{
    if (m_handle != INVALID_HANDLE_VALUE) {
        CancelIoEx(m_handle, nullptr);
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
    if (m_event) {
        CloseHandle(m_event);
        m_event = nullptr;
    }
}

bool CFarComEnd::Write(const void* data, size_t length)
{
    OVERLAPPED ov = {};
    ov.hEvent = m_event;
    ResetEvent(m_event);
    DWORD n = 0;
    if (!WriteFile(m_handle, data, static_cast<DWORD>(length), &n, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        if (!GetOverlappedResult(m_handle, &ov, &n, TRUE))
            return false;
    }
    return n == length;
}

std::string CFarComEnd::Read(size_t count, DWORD timeout)
{
    std::string got;
    const DWORD start = GetTickCount();
    while (got.size() < count) {
        char buf[1024];
        OVERLAPPED ov = {};
        ov.hEvent = m_event;
        ResetEvent(m_event);
        DWORD n = 0;
        DWORD want = static_cast<DWORD>(std::min<size_t>(sizeof(buf), count - got.size()));
        if (!ReadFile(m_handle, buf, want, &n, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING)
                break;
            DWORD elapsed = GetTickCount() - start;
            DWORD rest = elapsed >= timeout ? 0 : timeout - elapsed;
            if (WaitForSingleObject(m_event, rest) != WAIT_OBJECT_0)
                CancelIoEx(m_handle, &ov);
            // Waits for the cancelled read too: ov and buf live on this stack frame.
            if (!GetOverlappedResult(m_handle, &ov, &n, TRUE))
                n = 0;
        } else if (n == 0) {
            DWORD elapsed = GetTickCount() - start;
            if (elapsed >= timeout)
                break;
            // A driver that returns at once: wait for a character before trying again.
            Sleep(1);
            continue;
        }
        got.append(buf, n);
        if (GetTickCount() - start >= timeout)
            break;
    }
    return got;
}

void CFarComEnd::Purge()
{
    PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

ComPair::~ComPair()
{
    if (m_port)
        m_port->Close();
}

::testing::AssertionResult ComPair::Init()
{
    const SerialPairInfo* info = GetSerialPair(m_index);
    if (!info)
        return ::testing::AssertionFailure() << "no serial pair " << m_index << " in the pairs file";
    m_info = *info;
    if (m_index == kUnplugPairIndex) {
        std::string error = SerialPairControl("plug " + std::to_string(m_index));
        if (!error.empty())
            return ::testing::AssertionFailure() << "plug " << m_index << ": " << error;
    }
    auto result = m_far.Open(m_info.farName);
    if (!result)
        return result << " (are the test services running? tools/test-services.sh start build/x64)";
    m_far.Purge();
    m_port.Reset(new CKvComPort);
    m_port->Init(m_info.nearName.c_str(), m_events.cancel, m_events.writeDone, m_events.readDone, m_events.comm);
    return ::testing::AssertionSuccess();
}

HRESULT ComPair::OpenPort(DWORD speed, BYTE stopBits, BYTE eventChar)
{
    m_port->SetParams(speed, stopBits, eventChar);
    HRESULT hr = m_port->Open(0);
    if (SUCCEEDED(hr))
        Drain();
    return hr;
}

void ComPair::Drain()
{
    if (m_port->IsOpen())
        m_port->Purge(true, true);
    m_far.Purge();
    // Bytes left in the pty from an earlier test.
    m_far.Read(1 << 16, 0);
}

// ---------------------------------------------------------------------------------------

CWinsock::CWinsock()
{
    WSADATA data;
    m_ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

CWinsock::~CWinsock()
{
    if (m_ok)
        WSACleanup();
}

CFarSocket& CFarSocket::operator=(CFarSocket&& o) noexcept
{
    if (this != &o) {
        Close();
        m_socket = o.m_socket;
        o.m_socket = INVALID_SOCKET;
    }
    return *this;
}

bool CFarSocket::Send(const void* data, size_t length)
{
    const char* p = static_cast<const char*>(data);
    while (length) {
        int n = send(m_socket, p, static_cast<int>(std::min<size_t>(length, 1 << 20)), 0);
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

std::string CFarSocket::Receive(size_t count, DWORD timeout)
{
    std::string got;
    const DWORD start = GetTickCount();
    while (got.size() < count) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout && timeout != 0)
            break;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_socket, &set);
        DWORD rest = timeout > elapsed ? timeout - elapsed : 0;
        timeval tv = {static_cast<long>(rest / 1000), static_cast<long>((rest % 1000) * 1000)};
        if (select(0, &set, nullptr, nullptr, &tv) <= 0)
            break;
        char buf[65536];
        int n = recv(m_socket, buf, static_cast<int>(std::min<size_t>(sizeof(buf), count - got.size())), 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

void CFarSocket::Close(bool reset)
{
    if (m_socket == INVALID_SOCKET)
        return;
    if (reset) {
        linger l = {1, 0};
        setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l));
    }
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}

CTestListener::~CTestListener()
{
    Close();
}

bool CTestListener::Listen(int backlog)
{
    Close();
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_socket == INVALID_SOCKET)
        return false;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(addr);
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(m_socket, backlog) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&addr), &size) != 0)
        return false;
    m_port = ntohs(addr.sin_port);
    return true;
}

std::wstring CTestListener::Name() const
{
    return L"127.0.0.1:" + std::to_wstring(m_port);
}

CFarSocket CTestListener::Accept(DWORD timeout)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(m_socket, &set);
    timeval tv = {static_cast<long>(timeout / 1000), static_cast<long>((timeout % 1000) * 1000)};
    if (select(0, &set, nullptr, nullptr, &tv) <= 0)
        return CFarSocket();
    SOCKET s = accept(m_socket, nullptr, nullptr);
    if (s != INVALID_SOCKET) {
        BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
    }
    return CFarSocket(s);
}

void CTestListener::Close()
{
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
}

TcpPair::~TcpPair()
{
    if (m_port)
        m_port->Close();
}

::testing::AssertionResult TcpPair::Connect(bool telnet, DWORD speed)
{
    if (!m_listener.Listen())
        return ::testing::AssertionFailure() << "cannot listen on 127.0.0.1, error " << WSAGetLastError();
    m_port.Reset(new CKvTcpPort);
    std::wstring name = m_listener.Name();
    m_port->Init(name.c_str(), m_events.cancel, m_events.writeDone, m_events.readDone, m_events.comm);
    m_port->SetTelnetMode(telnet);
    m_port->SetParams(speed, KV_STOPBITS_1, 0);
    HRESULT hr = m_port->Open(5000);
    if (FAILED(hr))
        return ::testing::AssertionFailure() << "Open failed with " << std::hex << hr;
    m_far = m_listener.Accept(5000);
    if (!m_far.IsOpen())
        return ::testing::AssertionFailure() << "no connection arrived at the listener";
    return ::testing::AssertionSuccess();
}

USHORT UnusedLoopbackPort()
{
    CTestListener probe;
    if (!probe.Listen())
        return 0;
    USHORT port = probe.Port();
    probe.Close();
    return port;
}

std::string HexBytes(const std::string& bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof(buf), out.empty() ? "%02X" : " %02X", c);
        out += buf;
    }
    return out;
}

std::string HexBytes(const std::vector<BYTE>& bytes)
{
    return HexBytes(std::string(bytes.begin(), bytes.end()));
}
