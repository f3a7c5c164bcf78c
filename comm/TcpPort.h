#pragma once
// TCP port: a reader behind a network converter, or one connection of the bridge link.
// Non-blocking socket driven by WSAEventSelect on the owner's network event. In telnet mode
// it speaks enough of the COM-port control option (RFC 2217) to set the converter's speed.
// Winsock users: include <winsock2.h> before this header's <windows.h>.
#include <deque>
#include "comm/Port.h"

// Telnet bytes.
constexpr BYTE TELNET_IAC = 0xFF;
constexpr BYTE TELNET_SB = 0xFA;
constexpr BYTE TELNET_SE = 0xF0;
constexpr BYTE TELNET_WILL = 0xFB;
constexpr BYTE TELNET_DONT = 0xFE;
constexpr BYTE TELNET_COM_PORT_OPTION = 44;
constexpr BYTE TELNET_SET_BAUDRATE = 1;

// Strips telnet commands from received bytes. Keeps only its state between pieces (an IAC
// at the end of one piece, an unfinished option or sub-negotiation), never the bytes of a
// sub-negotiation, so no peer can make it grow.
class CTelnetDecoder
{
public:
    void Feed(const BYTE* bytes, size_t count, std::vector<BYTE>& out);
    void Reset() { m_state = State::data; }

private:
    enum class State { data, iac, option, sub, subIac };
    State m_state = State::data;
};

// The SET-BAUDRATE sub-negotiation for speed, 0xFF doubled between SB and the closing IAC.
std::vector<BYTE> MakeTelnetBaudRateRequest(DWORD speed);
// Data for the wire in telnet mode: every 0xFF doubled.
void AppendTelnetEscaped(std::vector<BYTE>& out, const BYTE* data, size_t length);

class CKvTcpPort : public CKvPort
{
public:
    static constexpr DWORD kReceiveChunk = 1024;

    CKvTcpPort();

    HRESULT Init(const wchar_t* name, HANDLE cancel, HANDLE writeDone, HANDLE readDone, HANDLE commEvent) override;
    HRESULT SetParams(DWORD speed, BYTE stopBits, BYTE eventChar) override;
    HRESULT Open(DWORD timeout) override;
    HRESULT Close() override;
    bool IsOpen() override { return m_socket != INVALID_SOCKET; }
    HRESULT GetBytesAvailable(int* count) override;
    HRESULT Read(std::vector<BYTE>& out, size_t count, DWORD timeout) override;
    HRESULT Write(const void* data, size_t length, DWORD timeout) override;
    HRESULT Purge(bool receive, bool transmit) override;
    HRESULT CompleteEvent() override;

    // Set by the owner before Open; the port never changes it.
    void SetTelnetMode(bool on) { m_telnet = on; }
    bool GetTelnetMode() const { return m_telnet; }
    // Queues one baud-rate request and sends what the socket takes.
    HRESULT SendBaudRate(DWORD speed);
    // Takes over a connected socket (an accepted bridge connection); the port closes it.
    HRESULT Attach(SOCKET socket);

protected:
    ~CKvTcpPort() override;

private:
    HRESULT KeepAlive();
    HRESULT Select(long events);
    HRESULT Connected();
    HRESULT Send();
    HRESULT Receive();
    void Deliver(const BYTE* bytes, size_t count);
    void Take(std::vector<BYTE>& out, size_t& remaining);
    void ResetConnectionState();

    int m_startup = -1;  // WSAStartup result; 0 = Winsock ready
    SOCKET m_socket = INVALID_SOCKET;
    long m_selected = 0;  // network events currently selected
    bool m_peerClosed = false;
    std::vector<BYTE> m_chunk;
    std::vector<BYTE> m_received;
    CTelnetDecoder m_decoder;
    std::deque<std::vector<BYTE>> m_sendQueue;
    size_t m_frontSent = 0;  // bytes of the front piece that the socket already took
    bool m_telnet = false;
};
