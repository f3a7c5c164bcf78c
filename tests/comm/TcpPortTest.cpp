// The TCP port against a listener on 127.0.0.1; the test plays the converter on the far end.
#include "tests/support/PortPairs.h"

#include <atomic>
#include <thread>

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

std::string Text(const std::vector<BYTE>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

CKvPortPtr<CKvTcpPort> MakePort(const std::wstring& name, CTestPortEvents& events)
{
    CKvPortPtr<CKvTcpPort> port(new CKvTcpPort);
    port->Init(name.c_str(), events.cancel, events.writeDone, events.readDone, events.comm);
    return port;
}

// A block of n bytes whose content tells where it belongs: a counter, 4 bytes at a time.
std::string Pattern(uint32_t first, size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((first + i / 4) >> (8 * (i % 4)));
    return s;
}

// Writes numbered large pieces (a partial send takes part of one) to a far end that does not
// read until the socket's buffers are full and the port has to queue; what was written.
void FillUntilQueued(CKvTcpPort* port, std::string& sent)
{
    const size_t piece = 256 * 1024;
    for (int i = 0; i < 256 && !(port->GetIoFlags() & KV_IO_WRITE_PENDING); ++i) {
        std::string block = Pattern(static_cast<uint32_t>(sent.size() / 4), piece);
        ASSERT_EQ(S_OK, port->Write(block.data(), block.size(), 0));
        sent += block;
    }
    ASSERT_TRUE(port->GetIoFlags() & KV_IO_WRITE_PENDING) << "the far end never pushed back";
}

}  // namespace

TEST(TcpPortOpen, NamesWithoutHostOrPortAreInvalid)
{
    CTestPortEvents events;
    for (const wchar_t* name : {L"10.0.0.5", L":4001", L"127.0.0.1:", L""}) {
        auto port = MakePort(name, events);
        EXPECT_EQ(E_INVALIDARG, port->Open(1000)) << std::string(name, name + wcslen(name));
        EXPECT_FALSE(port->IsOpen());
    }
}

TEST(TcpPortOpen, RefusedConnectionGivesTheWinsockCode)
{
    CTestPortEvents events;
    USHORT free = UnusedLoopbackPort();
    ASSERT_NE(0, free);
    auto port = MakePort(L"127.0.0.1:" + std::to_wstring(free), events);
    EXPECT_EQ(HRESULT_FROM_WIN32(WSAECONNREFUSED), port->Open(3000));
    EXPECT_FALSE(port->IsOpen());
}

TEST(TcpPortOpen, ConnectTimesOutWhenTheListenerNeverAccepts)
{
    CTestListener listener;
    ASSERT_TRUE(listener.Listen(0));
    // Fill the listener's accept queue; the system then drops further connection requests.
    std::vector<SOCKET> fillers;
    bool full = false;
    for (int i = 0; i < 16 && !full; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(listener.Port());
        connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        fillers.push_back(s);
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv = {0, 200000};
        full = select(0, nullptr, &set, nullptr, &tv) == 0;
    }
    ASSERT_TRUE(full) << "the accept queue never filled";

    // Also when the network event is signalled without a connection behind it.
    for (bool spuriousWake : {false, true}) {
        CTestPortEvents events;
        auto port = MakePort(listener.Name(), events);
        std::thread waker([&] {
            if (spuriousWake) {
                Sleep(50);
                SetEvent(events.comm);
            }
        });
        DWORD start = GetTickCount();
        EXPECT_EQ(KV_E_TCP_CONNECT_TIMEOUT, port->Open(300)) << "spurious wake " << spuriousWake;
        EXPECT_GE(GetTickCount() - start, 250u);
        EXPECT_FALSE(port->IsOpen());
        waker.join();
    }
    for (SOCKET s : fillers)
        closesocket(s);
}

TEST(TcpPortOpen, CancelEndsAConnectWait)
{
    CTestListener listener;
    ASSERT_TRUE(listener.Listen(0));
    CTestPortEvents events;
    SetEvent(events.cancel);
    auto port = MakePort(listener.Name(), events);
    HRESULT hr = port->Open(5000);
    // Loopback may connect at once, before there is anything to wait for.
    if (hr != S_OK) {
        EXPECT_EQ(E_ABORT, hr);
        EXPECT_FALSE(port->IsOpen());
    }
}

TEST(TcpPortOpen, TimeoutZeroCompletesTheConnectionThroughCompleteEvent)
{
    CTestListener listener;
    ASSERT_TRUE(listener.Listen());
    CTestPortEvents events;
    auto port = MakePort(listener.Name(), events);
    ASSERT_EQ(S_OK, port->Open(0));
    ASSERT_TRUE(port->IsOpen());
    if (port->GetIoFlags() & KV_IO_CONNECT_PENDING) {
        // Written while connecting: sent once connected.
        ASSERT_EQ(S_OK, port->Write("early", 5, 0));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events.comm, 3000));
        ResetEvent(events.comm);
        EXPECT_EQ(S_OK, port->CompleteEvent());
        EXPECT_EQ(0, port->GetIoFlags() & KV_IO_CONNECT_PENDING);
    } else {
        ASSERT_EQ(S_OK, port->Write("early", 5, 0));
    }
    CFarSocket peer = listener.Accept(3000);
    ASSERT_TRUE(peer.IsOpen());
    EXPECT_EQ("early", peer.Receive(5, 3000));
}

TEST(TcpPortTelnet, BaudRateRequestBytes)
{
    struct Case
    {
        DWORD speed;
        std::string bytes;
    } cases[] = {
        {9600, Bytes({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0})},
        {0x0000FF00, Bytes({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xF0})},
        {0xFFFFFFFF, Bytes({0xFF, 0xFA, 0x2C, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0})},
        {115200, Bytes({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0})},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> made = MakeTelnetBaudRateRequest(c.speed);
        EXPECT_EQ(HexBytes(c.bytes), HexBytes(made)) << c.speed;
    }
}

TEST(TcpPortTelnet, ConnectSendsTheStoredSpeedFirst)
{
    for (DWORD speed : {9600u, 0x0000FF00u}) {
        TcpPair pair;
        ASSERT_TRUE(pair.Connect(true, speed));
        std::vector<BYTE> expected = MakeTelnetBaudRateRequest(speed);
        EXPECT_EQ(HexBytes(expected), HexBytes(pair.Far().Receive(expected.size(), 3000)));
        // Nothing else follows.
        EXPECT_EQ("", pair.Far().Receive(1, 50));
    }
}

TEST(TcpPortTelnet, SetParamsOnAnOpenPortRequestsOnlyAChangedSpeed)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect(true, 9600));
    pair.Far().Receive(10, 3000);
    ASSERT_EQ(S_OK, pair.Port()->SetParams(9600, KV_STOPBITS_1, 0));
    ASSERT_EQ(S_OK, pair.Port()->SetParams(0x0000FF00, KV_STOPBITS_2, 0));
    EXPECT_EQ(HexBytes(MakeTelnetBaudRateRequest(0x0000FF00)), HexBytes(pair.Far().Receive(11, 3000)));
    EXPECT_EQ("", pair.Far().Receive(1, 50));
    DWORD speed = 0;
    BYTE stopBits = 0;
    pair.Port()->GetParams(&speed, &stopBits, nullptr);
    EXPECT_EQ(0x0000FF00u, speed);
    EXPECT_EQ(KV_STOPBITS_2, stopBits);
}

TEST(TcpPortTelnet, NoSpeedRequestWithoutTelnetOrWithoutSpeed)
{
    struct Case
    {
        bool telnet;
        DWORD speed;
    } cases[] = {{false, 9600}, {true, 0}};
    for (const Case& c : cases) {
        TcpPair pair;
        ASSERT_TRUE(pair.Connect(c.telnet, c.speed));
        ASSERT_EQ(S_OK, pair.Port()->SetParams(19200, KV_STOPBITS_1, 0));
        EXPECT_EQ(c.telnet ? HexBytes(MakeTelnetBaudRateRequest(19200)) : "",
                  HexBytes(pair.Far().Receive(10, c.telnet ? 3000 : 100)));
    }
}

TEST(TcpPortTelnet, DecoderStripsCommandsAtEverySplit)
{
    struct Case
    {
        std::string in, out;
    } cases[] = {
        {Bytes({0x41, 0xFF, 0xFF, 0x42}), Bytes({0x41, 0xFF, 0x42})},
        {Bytes({0x41, 0xFF, 0xFB, 0x01, 0x42}), "AB"},                              // WILL ECHO
        {Bytes({0xFF, 0xFD, 0x2C, 0xFF, 0xFE, 0x03, 0x43}), "C"},                   // DO, DONT
        {Bytes({0x41, 0xFF, 0xF1, 0x42}), "AB"},                                    // NOP
        {Bytes({0x41, 0xFF, 0xFA, 0x2C, 0x65, 0x00, 0xFF, 0xF0, 0x42}), "AB"},      // a reply
        {Bytes({0xFF, 0xFA, 0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xF0, 0x44}), "D"},       // IAC IAC inside
        {Bytes({0xFF, 0xFA, 0x01, 0x02, 0xFF, 0x45, 0x46}), "F"},                   // ends at any IAC x
        {Bytes({0xFF, 0xF0, 0x47}), "G"},                                           // stray SE
        {Bytes({0xFF, 0xFF, 0xFF, 0xFF}), Bytes({0xFF, 0xFF})},
    };
    for (const Case& c : cases) {
        // Whole, and cut at every position: the result must not depend on how TCP splits.
        for (size_t cut = 0; cut <= c.in.size(); ++cut) {
            CTelnetDecoder decoder;
            std::vector<BYTE> out;
            auto in = reinterpret_cast<const BYTE*>(c.in.data());
            decoder.Feed(in, cut, out);
            decoder.Feed(in + cut, c.in.size() - cut, out);
            EXPECT_EQ(HexBytes(c.out), HexBytes(out)) << HexBytes(c.in) << " cut at " << cut;
        }
    }
}

TEST(TcpPortTelnet, EndlessSubnegotiationDiscardsInsteadOfGrowing)
{
    CTelnetDecoder decoder;
    std::vector<BYTE> out;
    const BYTE start[] = {0xFF, 0xFA, 0x2C};
    decoder.Feed(start, sizeof(start), out);
    std::vector<BYTE> junk(1 << 20, 0x55);
    for (int i = 0; i < 8; ++i)
        decoder.Feed(junk.data(), junk.size(), out);
    EXPECT_TRUE(out.empty());
    static_assert(sizeof(CTelnetDecoder) <= 8, "the decoder keeps no bytes");
    const BYTE end[] = {0xFF, 0xF0, 'o', 'k'};
    decoder.Feed(end, sizeof(end), out);
    EXPECT_EQ("ok", Text(out));
}

TEST(TcpPortTelnet, IncomingDoubledIacAndALoneTrailingIac)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect(true, 0));
    std::vector<BYTE> out;
    ASSERT_TRUE(pair.Far().Send(Bytes({0x41, 0xFF, 0xFF, 0x42})));
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 3, 3000));
    EXPECT_EQ("41 FF 42", HexBytes(out));

    out.clear();
    ASSERT_TRUE(pair.Far().Send(Bytes({0x43, 0xFF})));
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 1, 3000));
    EXPECT_EQ("43", HexBytes(out));
    // The lone IAC waits for its second half.
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 1, 100));
    EXPECT_EQ("43", HexBytes(out));
    ASSERT_TRUE(pair.Far().Send(Bytes({0xFF, 0x44})));
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 2, 3000));
    EXPECT_EQ("43 FF 44", HexBytes(out));
}

TEST(TcpPortTelnet, OutgoingIacIsDoubled)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect(true, 0));
    std::string data = Bytes({0x41, 0xFF, 0x42, 0xFF});
    ASSERT_EQ(S_OK, pair.Port()->Write(data.data(), data.size(), 3000));
    EXPECT_EQ("41 FF FF 42 FF FF", HexBytes(pair.Far().Receive(6, 3000)));
}

TEST(TcpPortRaw, IacPassesUnchangedBothWays)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect(false, 9600));
    std::string data = Bytes({0xFF, 0x00, 0xFF, 0xFA, 0xFF});
    ASSERT_EQ(S_OK, pair.Port()->Write(data.data(), data.size(), 3000));
    EXPECT_EQ(HexBytes(data), HexBytes(pair.Far().Receive(data.size() + 1, 300)));
    ASSERT_TRUE(pair.Far().Send(data));
    std::vector<BYTE> out;
    EXPECT_EQ(S_OK, pair.Port()->Read(out, data.size(), 3000));
    EXPECT_EQ(HexBytes(data), HexBytes(out));
}

TEST(TcpPortRead, ReadTakesNoMoreThanAskedAndKeepsTheRest)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    ASSERT_TRUE(pair.Far().Send("ABCDEFGH"));
    std::vector<BYTE> out = {'>'};
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 5, 3000));
    EXPECT_EQ(">ABCDE", Text(out));
    int available = 0;
    EXPECT_EQ(S_OK, pair.Port()->GetBytesAvailable(&available));
    EXPECT_EQ(3, available);
    out.clear();
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 10, 0));
    EXPECT_EQ("FGH", Text(out));
}

TEST(TcpPortRead, PiecesArrivingApartMakeOneRead)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    ASSERT_TRUE(pair.Far().Send("ABC"));
    std::thread later([&] {
        Sleep(30);
        pair.Far().Send("DE");
    });
    std::vector<BYTE> out;
    HRESULT hr = pair.Port()->Read(out, 5, 3000);
    later.join();
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ("ABCDE", Text(out));
}

TEST(TcpPortRead, CancelEndsAWaitingRead)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    std::thread canceller([&] {
        Sleep(50);
        SetEvent(pair.Events().cancel);
    });
    std::vector<BYTE> out;
    DWORD start = GetTickCount();
    HRESULT hr = pair.Port()->Read(out, 1, 20000);
    canceller.join();
    EXPECT_EQ(E_ABORT, hr);
    EXPECT_LT(GetTickCount() - start, 5000u);
}

TEST(TcpPortRead, PurgeDropsReceivedBytes)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    ASSERT_TRUE(pair.Far().Send("stale"));
    int available = 0;
    for (DWORD start = GetTickCount(); available < 5 && GetTickCount() - start < 3000; Sleep(2))
        ASSERT_EQ(S_OK, pair.Port()->GetBytesAvailable(&available));
    ASSERT_EQ(5, available);
    EXPECT_EQ(S_OK, pair.Port()->Purge(true, false));
    EXPECT_EQ(S_OK, pair.Port()->GetBytesAvailable(&available));
    EXPECT_EQ(0, available);
    ASSERT_TRUE(pair.Far().Send("new"));
    std::vector<BYTE> out;
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 3, 3000));
    EXPECT_EQ("new", Text(out));
}

TEST(TcpPortClose, FarEndCloseIsPortDisconnected)
{
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        TcpPair pair;
        ASSERT_TRUE(pair.Connect());
        pair.Far().Close(reset);
        std::vector<BYTE> out;
        EXPECT_EQ(KV_E_PORT_DISCONNECTED, pair.Port()->Read(out, 1, 3000));
        // And it stays so.
        EXPECT_EQ(KV_E_PORT_DISCONNECTED, pair.Port()->Read(out, 1, 100));
    }
}

TEST(TcpPortClose, BytesSentBeforeTheCloseAreDeliveredFirst)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    ASSERT_TRUE(pair.Far().Send("bye"));
    pair.Far().Close();
    std::vector<BYTE> out;
    EXPECT_EQ(KV_E_PORT_DISCONNECTED, pair.Port()->Read(out, 10, 3000));
    EXPECT_EQ("bye", Text(out));
}

TEST(TcpPortClose, CloseSeenThroughCompleteEvent)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    pair.Far().Close();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pair.Events().comm, 3000));
    ResetEvent(pair.Events().comm);
    EXPECT_EQ(KV_E_PORT_DISCONNECTED, pair.Port()->CompleteEvent());
}

TEST(TcpPortClose, TheSamePortConnectsAgainAfterClose)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    ASSERT_TRUE(pair.Far().Send("one"));
    std::vector<BYTE> out;
    ASSERT_EQ(S_OK, pair.Port()->Read(out, 3, 3000));
    pair.Far().Close();
    ASSERT_EQ(KV_E_PORT_DISCONNECTED, pair.Port()->Read(out, 1, 3000));
    pair.Port()->Close();
    EXPECT_FALSE(pair.Port()->IsOpen());

    ASSERT_EQ(S_OK, pair.Port()->Open(3000));
    CFarSocket again = pair.Listener().Accept(3000);
    ASSERT_TRUE(again.IsOpen());
    ASSERT_TRUE(again.Send("two"));
    out.clear();
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 3, 3000));
    EXPECT_EQ("two", Text(out));
}

TEST(TcpPortWrite, FarEndThatStopsReadingGetsEverythingLaterInOrder)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    CKvTcpPort* port = pair.Port();
    // Nothing to read yet: the port now waits for the socket to report input.
    std::vector<BYTE> out;
    ASSERT_EQ(S_OK, port->Read(out, 1, 0));
    std::string sent;
    ASSERT_NO_FATAL_FAILURE(FillUntilQueued(port, sent));

    // More data queue behind; waiting for them times out while nobody reads.
    std::string tail = Pattern(static_cast<uint32_t>(sent.size() / 4), 4000);
    EXPECT_EQ(KV_E_SEND_TIMEOUT, port->Write(tail.data(), tail.size(), 100));
    sent += tail;

    // Reading still works while writes are queued.
    ASSERT_TRUE(pair.Far().Send("ping"));
    EXPECT_EQ(S_OK, port->Read(out, 4, 3000));
    EXPECT_EQ("ping", Text(out));

    std::string received;
    std::thread reader([&] { received = pair.Far().Receive(sent.size(), 20000); });
    HRESULT hr = port->Write(nullptr, 0, 20000);
    reader.join();
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(0, port->GetIoFlags() & KV_IO_WRITE_PENDING);
    ASSERT_EQ(sent.size(), received.size());
    EXPECT_TRUE(sent == received) << "bytes lost or out of order";
}

TEST(TcpPortWrite, PurgeDropsQueuedWrites)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    CKvTcpPort* port = pair.Port();
    // The far end does not read, so the purge has queued writes to drop (the port sends only
    // from its own calls).
    std::string sent;
    ASSERT_NO_FATAL_FAILURE(FillUntilQueued(port, sent));
    EXPECT_EQ(S_OK, port->Purge(false, true));

    std::string received;
    std::thread reader([&] { received = pair.Far().Receive(sent.size() + 4, 20000); });
    const HRESULT hr = port->Write("kept", 4, 20000);
    port->Close();   // the far end's read ends with the connection
    reader.join();
    EXPECT_EQ(S_OK, hr);
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ("kept", received.substr(received.size() - 4));
    const std::string before = received.substr(0, received.size() - 4);
    EXPECT_LT(before.size(), sent.size()) << "the queued writes were sent";
    EXPECT_TRUE(sent.compare(0, before.size(), before) == 0) << "what the socket had taken arrives unchanged";
}

TEST(TcpPortClosed, CallsOnAClosedPortFailCleanly)
{
    CTestPortEvents events;
    auto port = MakePort(L"127.0.0.1:1", events);
    std::vector<BYTE> out;
    int available = -1;
    EXPECT_TRUE(FAILED(port->Read(out, 1, 0)));
    EXPECT_TRUE(FAILED(port->Write("x", 1, 0)));
    EXPECT_EQ(S_OK, port->GetBytesAvailable(&available));
    EXPECT_EQ(0, available);
    EXPECT_EQ(S_OK, port->CompleteEvent());
    EXPECT_EQ(S_OK, port->SetDtr(true));
    EXPECT_EQ(S_OK, port->Close());
    EXPECT_EQ(S_OK, port->SetParams(38400, KV_STOPBITS_2, '\r'));
    DWORD speed = 0;
    BYTE stopBits = 0, eventChar = 0;
    port->GetParams(&speed, &stopBits, &eventChar);
    EXPECT_EQ(38400u, speed);
    EXPECT_EQ(KV_STOPBITS_2, stopBits);
    EXPECT_EQ('\r', eventChar);
}
