#pragma once
// The reader search: every port of a list is asked for its version ("i") until a reader
// answers with its "S/N:" reply, and converters of the local network are found by a UDP
// broadcast and probed the same way. One thread drives every probe and socket: each probe is a
// small state machine over the ports' overlapped operations, and one wait on three shared
// events (write done, read done, comm or network event) wakes them all.
//
// CSearchReadersThread runs the engine and hands each find to a window by a posted message;
// the window takes the finds under the thread's lock.
#include <windows.h>
#include <cstdint>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "comm/Port.h"
#include "core/Handle.h"
#include "core/SysUtil.h"
#include "framework/Thread.h"
#include "reader/ComEnum.h"

// A port kind beside the enumeration's sources: a port a network converter reported.
constexpr DWORD PORT_SOURCE_NETWORK = 3;

// The converters' search packet goes to this UDP port.
constexpr USHORT kSeekPort = 9000;
extern const char kSeekPacket[];   // "SEEK Q510IP"

struct _FOUND_READER {
    std::wstring portName;
    uint32_t portKind = 0;      // PORT_SOURCE_*
    int model = 0;              // reader model index
    int serial = 0;
    uint32_t firmware = 0;      // packed version
    std::wstring text;          // the version reply
};

// What the search takes from the machine. The tests give loopback addresses of their own.
class ISearchPlatform {
public:
    virtual ~ISearchPlatform() = default;
    // IPv4 addresses (network order) to broadcast from. Failures throw COSException.
    virtual void LocalAddresses(std::vector<ULONG>& out) = 0;
    // Where the search packet goes: address and port, network order.
    virtual void BroadcastTarget(ULONG& address, USHORT& port) = 0;
    // A new port object for the name: serial for "COM..." (any case), TCP for host:port.
    virtual IKvPort* MakePort(const std::wstring& name) = 0;
};

// The machine's: the local host name's addresses without 127.0.0.1, 255.255.255.255:9000.
class CSearchPlatform : public ISearchPlatform {
public:
    void LocalAddresses(std::vector<ULONG>& out) override;
    void BroadcastTarget(ULONG& address, USHORT& port) override;
    IKvPort* MakePort(const std::wstring& name) override;
};

// A converter's reply: the TCP ports and IP texts of its two channels.
struct SeekReply {
    unsigned port[2] = {};
    std::string ip[2];
};
// False when a token is missing, shorter than its 9-character label, or a port is no number.
bool ParseSeekReply(const char* data, size_t length, SeekReply& out);

// The end of a cancelled search: E_ABORT with its message text.
class CSearchRdException : public std::exception {
public:
    CSearchRdException();
    const char* what() const noexcept override { return m_text.c_str(); }
    HRESULT GetCode() const { return E_ABORT; }

private:
    std::string m_text;
};

// The shell's numbers for a search.
struct SearchSettings {
    uint32_t flags = PORT_SEARCH_DEFAULT;  // 0x10 network search, the rest for EnumComPorts
    BYTE stopBits = KV_STOPBITS_1;
    int connectTimeout = 10000;
    int readPoll = -1;              // -1 none
    int replyTimeout = 3000;
    int tries = 2;                  // per speed
    int networkReplyTimeout = 3000;
    int networkTries = 1;
};

enum SearchProbeState : int {
    PROBE_OPEN = 0,         // choose the speed and open
    PROBE_OPENING = 1,
    PROBE_SENDING = 2,
    PROBE_AWAITING = 3,
    PROBE_FAILED_TRY = 4,
    PROBE_FINISHED = 5,
};

struct SearchProbe {
    CKvPortPtr<IKvPort> port;
    std::wstring name;
    DWORD kind = 0;
    int tries = 0;
    std::string replyBytes;
    std::wstring replyText;
    int state = PROBE_OPEN;
    DWORD stateTick = 0;
    bool snSeen = false;
    DWORD modelMask = 0;
    int speedIndex = 0;
};

// One local address's UDP socket and its broadcast cycles.
struct SearchSocket {
    ULONG address = 0;
    UINT_PTR socket;            // INVALID_SOCKET until first used
    std::vector<char> buffer;
    DWORD sendTick = 0;
    int state = 0;              // 0 send, 3 receiving, 5 cycle over
    int cycles = 0;

    SearchSocket();
    ~SearchSocket();
    SearchSocket(const SearchSocket&) = delete;
    SearchSocket& operator=(const SearchSocket&) = delete;
};

class CSearchReaders {
public:
    // Probes a network reply may add in one search: a flood of replies cannot grow it further.
    static constexpr size_t kMaxNetworkProbes = 32;

    CSearchReaders();
    ~CSearchReaders();
    CSearchReaders(const CSearchReaders&) = delete;
    CSearchReaders& operator=(const CSearchReaders&) = delete;

    // ports null: the serial ports EnumComPorts finds by the flags. platform null: the
    // machine's. Event and socket failures throw COSException.
    void Init(const SearchSettings& settings, const std::vector<_PORT_INFO>* ports, HANDLE cancel,
              ISearchPlatform* platform = nullptr);
    // S_OK with the oldest find, or KV_E_NO_MORE_READERS once nothing is left to try. Throws
    // CSearchRdException when the cancel event is signalled.
    HRESULT Next(_FOUND_READER& out);

private:
    void AddProbe(const std::wstring& name, DWORD kind, DWORD modelMask);
    void StepProbe(SearchProbe& p, DWORD& pending);
    void RunProbeState(SearchProbe& p);
    void OpenAtSpeed(SearchProbe& p);
    void SendQuery(SearchProbe& p);
    void ReadReply(SearchProbe& p);
    void FailTry(SearchProbe& p);
    void NextSpeed(SearchProbe& p);
    void StepSocket(SearchSocket& s, DWORD& pending);
    void Broadcast(SearchSocket& s);
    void ReceiveReplies(SearchSocket& s);
    void Wait(DWORD timeout);

    SearchSettings m_settings;
    HANDLE m_cancel = nullptr;
    CEvent m_events[3];             // write done, read done, comm/network event
    ISearchPlatform* m_platform = nullptr;
    CSearchPlatform m_machine;
    bool m_winsock = false;
    std::vector<std::unique_ptr<SearchProbe>> m_probes;
    std::vector<std::unique_ptr<SearchSocket>> m_sockets;
    std::set<std::wstring> m_probedNames;   // upper-cased
    size_t m_networkProbes = 0;
    std::vector<_FOUND_READER> m_found;     // oldest first
};

// The search on a thread of its own. The window's message carries no parameters; the window
// takes the finds with TakeFound and deletes the object once IsDone says the search is over.
class CSearchReadersThread : public CThread {
public:
    CSearchReadersThread();
    // Cancels the search and waits for the thread.
    ~CSearchReadersThread() override;

    CSearchReaders& Engine() { return m_engine; }
    HANDLE CancelEvent() const { return m_cancel; }
    void SetTarget(HWND window, UINT message);

    // UI thread: the finds not taken yet, oldest first; true once the search is over (the
    // finds before its end are in the list by then).
    bool TakeFound(std::vector<_FOUND_READER>& out);

protected:
    DWORD Run() override;

private:
    CSearchReaders m_engine;
    CEvent m_cancel;
    HWND m_window = nullptr;
    UINT m_message = 0;
    CCriticalSection m_lock;
    bool m_done = false;
    std::vector<_FOUND_READER> m_found;
};
