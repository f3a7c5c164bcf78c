#pragma once
// Connected port pairs for tests: a serial port with its far end (pseudo-terminal pairs set
// up by tools/test-services.sh), and a TCP port with the accepted far end of a listener on
// 127.0.0.1. The test plays the reader on the far end.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "comm/ComPort.h"
#include "comm/TcpPort.h"

// ---------------------------------------------------------------------------------------
// Serial pairs

struct SerialPairInfo
{
    int index = -1;
    std::wstring nearName;  // the port under test, COM11
    std::wstring farName;   // the reader's side, COM12
};

// The pair reserved for unplugging (closing both ends under a test and bringing them back).
constexpr int kUnplugPairIndex = 3;

// True when tools/test-services.sh has set up the pairs for this build; otherwise why
// receives the reason. Once they were set up, a missing pair is a failure, not a skip.
bool SerialPairsAvailable(std::string& why);
// The first take of a pair in a test drains both its ends.
const SerialPairInfo* GetSerialPair(int index);
// A COM port that exists but that the system refuses to open (access denied).
std::wstring GetDeniedComPort();
// True under Wine, which differs from Windows in a few serial details.
bool RunningUnderWine();
// Sends one command to the pair supervisor ("unplug 3", "plug 3"); empty on success, else
// the reason.
std::string SerialPairControl(const std::string& command);
// The speed the near end of a pair is set to now (by the program, or by a converter in front
// of it), as the supervisor reads it off the pseudo-terminal; 0 when it cannot tell.
DWORD SerialPairSpeed(int index);

#define NV_REQUIRE_SERIAL_PAIRS()                  \
    do {                                           \
        std::string nvWhy_;                        \
        if (!SerialPairsAvailable(nvWhy_))         \
            GTEST_SKIP() << nvWhy_;                \
    } while (0)

// The five manual-reset events a reader owns for its port.
class CTestPortEvents
{
public:
    CTestPortEvents();
    ~CTestPortEvents();
    CTestPortEvents(const CTestPortEvents&) = delete;
    CTestPortEvents& operator=(const CTestPortEvents&) = delete;

    HANDLE cancel, wake, writeDone, readDone, comm;
};

// The reader's side of a serial pair: a plain overlapped handle, 9600 baud, raw.
class CFarComEnd
{
public:
    ~CFarComEnd() { Close(); }
    ::testing::AssertionResult Open(const std::wstring& name);
    void Close();
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    bool Write(const void* data, size_t length);
    bool Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
    // Reads until count bytes arrived or timeout ms passed; returns what arrived.
    std::string Read(size_t count, DWORD timeout);
    // Drops whatever is buffered on either side.
    void Purge();

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_event = nullptr;
};

// A serial port under test (not opened yet) joined to its far end (opened).
class ComPair
{
public:
    explicit ComPair(int index = 0) : m_index(index) {}
    ~ComPair();
    // Opens the far end and makes the port object. For the unplug pair it first makes sure
    // the pair is plugged in.
    ::testing::AssertionResult Init();
    HRESULT OpenPort(DWORD speed = 9600, BYTE stopBits = KV_STOPBITS_1, BYTE eventChar = 0);
    // Empties both sides.
    void Drain();

    CKvComPort* Port() const { return m_port.Get(); }
    CFarComEnd& Far() { return m_far; }
    CTestPortEvents& Events() { return m_events; }
    const SerialPairInfo& Info() const { return m_info; }

private:
    int m_index;
    SerialPairInfo m_info;
    CTestPortEvents m_events;
    CKvPortPtr<CKvComPort> m_port;
    CFarComEnd m_far;
};

// ---------------------------------------------------------------------------------------
// TCP pairs

// Winsock started for the life of the object.
class CWinsock
{
public:
    CWinsock();
    ~CWinsock();
    bool Ok() const { return m_ok; }

private:
    bool m_ok;
};

// The far end of a TCP connection: blocking socket calls with time-outs.
class CFarSocket
{
public:
    CFarSocket() = default;
    explicit CFarSocket(SOCKET s) : m_socket(s) {}
    ~CFarSocket() { Close(); }
    CFarSocket(CFarSocket&& o) noexcept : m_socket(o.m_socket) { o.m_socket = INVALID_SOCKET; }
    CFarSocket& operator=(CFarSocket&& o) noexcept;

    bool IsOpen() const { return m_socket != INVALID_SOCKET; }
    SOCKET Get() const { return m_socket; }
    bool Send(const void* data, size_t length);
    bool Send(const std::string& bytes) { return Send(bytes.data(), bytes.size()); }
    // Receives until count bytes arrived, the peer closed or timeout ms passed.
    std::string Receive(size_t count, DWORD timeout);
    // Orderly close, or an abortive one (RST) with reset.
    void Close(bool reset = false);

private:
    SOCKET m_socket = INVALID_SOCKET;
};

// A listening socket on 127.0.0.1 with an ephemeral port.
class CTestListener
{
public:
    ~CTestListener();
    bool Listen(int backlog = 4);
    std::wstring Name() const;  // 127.0.0.1:port
    USHORT Port() const { return m_port; }
    // Waits up to timeout ms for a connection.
    CFarSocket Accept(DWORD timeout);
    void Close();

private:
    CWinsock m_winsock;
    SOCKET m_socket = INVALID_SOCKET;
    USHORT m_port = 0;
};

// A TCP port under test connected to a listener, with the accepted far end.
class TcpPair
{
public:
    ~TcpPair();
    // Listens, opens the port (telnet mode and speed as given) and accepts its connection.
    ::testing::AssertionResult Connect(bool telnet = false, DWORD speed = 0);

    CKvTcpPort* Port() const { return m_port.Get(); }
    CFarSocket& Far() { return m_far; }
    CTestListener& Listener() { return m_listener; }
    CTestPortEvents& Events() { return m_events; }

private:
    CTestListener m_listener;
    CTestPortEvents m_events;
    CKvPortPtr<CKvTcpPort> m_port;
    CFarSocket m_far;
};

// A loopback port number on which nothing listens (bound, read and released).
USHORT UnusedLoopbackPort();

// Bytes as text for comparisons: "41 FF 42".
std::string HexBytes(const std::string& bytes);
std::string HexBytes(const std::vector<BYTE>& bytes);
