// The reader search over serial pairs with simulated readers, and over loopback with a
// simulated network converter answering its broadcast.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>

#include "core/ResultCodes.h"
#include "reader/ReaderModels.h"
#include "reader/ReaderSearch.h"
#include "tests/support/PortPairs.h"
#include "tools/readersim/ConverterSim.h"
#include "tools/readersim/ReaderSim.h"

namespace {

// What the search did with its ports: the speeds it set, the ports it made, the bytes it read.
struct SearchRecord {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<std::wstring, DWORD>> speeds;
    std::vector<std::wstring> made;
    size_t bytesRead = 0;

    std::vector<DWORD> SpeedsOf(const std::wstring& name)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<DWORD> out;
        for (const auto& s : speeds)
            if (s.first == name)
                out.push_back(s.second);
        return out;
    }
};

// A real port that tells the record what is done with it.
class CRecordingPort : public IKvPort {
public:
    CRecordingPort(IKvPort* inner, SearchRecord& record) : m_inner(inner), m_record(record) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT Init(const wchar_t* name, HANDLE c, HANDLE w, HANDLE r, HANDLE e) override
    {
        m_name = name;
        return m_inner->Init(name, c, w, r, e);
    }
    HRESULT GetName(std::wstring& name) override { return m_inner->GetName(name); }
    HRESULT SetParams(DWORD speed, BYTE stopBits, BYTE eventChar) override
    {
        {
            std::lock_guard<std::mutex> lock(m_record.mutex);
            m_record.speeds.emplace_back(m_name, speed);
        }
        return m_inner->SetParams(speed, stopBits, eventChar);
    }
    HRESULT GetParams(DWORD* s, BYTE* b, BYTE* e) override { return m_inner->GetParams(s, b, e); }
    HRESULT Open(DWORD timeout) override { return m_inner->Open(timeout); }
    HRESULT Close() override { return m_inner->Close(); }
    bool IsOpen() override { return m_inner->IsOpen(); }
    int GetIoFlags() override { return m_inner->GetIoFlags(); }
    HRESULT GetBytesAvailable(int* count) override { return m_inner->GetBytesAvailable(count); }
    HRESULT Read(std::vector<BYTE>& out, size_t count, DWORD timeout) override
    {
        const size_t before = out.size();
        const HRESULT hr = m_inner->Read(out, count, timeout);
        {
            std::lock_guard<std::mutex> lock(m_record.mutex);
            m_record.bytesRead += out.size() - before;
        }
        m_record.changed.notify_all();
        return hr;
    }
    HRESULT Write(const void* data, size_t length, DWORD timeout) override { return m_inner->Write(data, length, timeout); }
    HRESULT Purge(bool r, bool t) override { return m_inner->Purge(r, t); }
    HRESULT SetDtr(bool on) override { return m_inner->SetDtr(on); }
    HRESULT SetRts(bool on) override { return m_inner->SetRts(on); }
    HRESULT CompleteRead() override { return m_inner->CompleteRead(); }
    HRESULT CompleteWrite() override { return m_inner->CompleteWrite(); }
    HRESULT CompleteEvent() override { return m_inner->CompleteEvent(); }
    HRESULT CheckMissedInput(bool* arrived) override { return m_inner->CheckMissedInput(arrived); }

private:
    ~CRecordingPort() override = default;

    CKvPortPtr<IKvPort> m_inner;
    SearchRecord& m_record;
    std::wstring m_name;
    volatile LONG m_refs = 0;
};

// Broadcasts from 127.0.0.1 to the converter simulator; every port recorded.
class CLoopbackPlatform : public ISearchPlatform {
public:
    explicit CLoopbackPlatform(uint16_t converterPort = 0) : m_converterPort(converterPort) {}
    void LocalAddresses(std::vector<ULONG>& out) override { out.push_back(htonl(INADDR_LOOPBACK)); }
    void BroadcastTarget(ULONG& address, USHORT& port) override
    {
        address = htonl(INADDR_LOOPBACK);
        port = htons(m_converterPort);
    }
    IKvPort* MakePort(const std::wstring& name) override
    {
        {
            std::lock_guard<std::mutex> lock(record.mutex);
            record.made.push_back(name);
        }
        return new CRecordingPort(m_machine.MakePort(name), record);
    }
    SearchRecord record;

private:
    CSearchPlatform m_machine;
    uint16_t m_converterPort;
};

SearchSettings FastSearch(uint32_t flags = 0)
{
    SearchSettings s;
    s.flags = flags;
    s.connectTimeout = 2000;
    s.replyTimeout = 2000;
    s.tries = 2;
    s.networkReplyTimeout = 1500;
    s.networkTries = 1;
    return s;
}

std::wstring Near(int pair)
{
    const SerialPairInfo* info = GetSerialPair(pair);
    return info ? info->nearName : std::wstring();
}

std::wstring Far(int pair)
{
    const SerialPairInfo* info = GetSerialPair(pair);
    return info ? info->farName : std::wstring();
}

// Every find until the end of the search, and the code that ended it.
std::vector<_FOUND_READER> FindAll(CSearchReaders& search, HRESULT& end)
{
    std::vector<_FOUND_READER> found;
    _FOUND_READER f;
    while ((end = search.Next(f)) == S_OK)
        found.push_back(f);
    return found;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

} // namespace

TEST(SeekReply, SixTokensWithNineCharacterLabels)
{
    struct Case {
        const char* reply;
        bool valid;
        unsigned port1, port2;
        const char *ip1, *ip2;
    } cases[] = {
        {"A B PORT1====4001 PORT2====0 IP1======0.0.0.0 IP2======0.0.0.0", true, 4001, 0, "0.0.0.0", "0.0.0.0"},
        {"Q510 V2 PORT1====4001 PORT2====4002 IP1====== IP2======10.0.0.9 more", true, 4001, 4002, "", "10.0.0.9"},
        {"A B 12345678 PORT2====0 IP1======0.0.0.0 IP2======0.0.0.0", false, 0, 0, "", ""},
        {"A B PORT1====4001 PORT2====0 IP1======0.0.0.0", false, 0, 0, "", ""},
        {"A B PORT1====40x1 PORT2====0 IP1======0.0.0.0 IP2======0.0.0.0", false, 0, 0, "", ""},
        {"A B PORT1====99999 PORT2====0 IP1======0.0.0.0 IP2======0.0.0.0", false, 0, 0, "", ""},
        {"", false, 0, 0, "", ""},
    };
    for (const Case& c : cases) {
        SeekReply r;
        EXPECT_EQ(c.valid, ParseSeekReply(c.reply, strlen(c.reply), r)) << c.reply;
        if (!c.valid)
            continue;
        EXPECT_EQ(c.port1, r.port[0]) << c.reply;
        EXPECT_EQ(c.port2, r.port[1]) << c.reply;
        EXPECT_EQ(c.ip1, r.ip[0]) << c.reply;
        EXPECT_EQ(c.ip2, r.ip[1]) << c.reply;
    }
}

TEST(ReaderSearch, TwoSerialReadersThenNoMore)
{
    NV_REQUIRE_SERIAL_PAIRS();
    CReaderSim first, second;
    ReaderSimIdentity a, b;
    a.serial = 111;
    b.serial = 222;
    b.code = 0x811;
    b.firmware = "1.25";
    first.SetIdentity(a);
    second.SetIdentity(b);
    ASSERT_TRUE(first.OpenCom(Far(0)));
    ASSERT_TRUE(second.OpenCom(Far(1)));
    CLoopbackPlatform platform;
    CSearchReaders search;
    const std::vector<_PORT_INFO> ports = {{Near(0), PORT_SOURCE_REGISTRY, PORT_ANY_MODEL},
                                           {Near(1), PORT_SOURCE_DEVICE, PORT_ANY_MODEL}};
    search.Init(FastSearch(), &ports, nullptr, &platform);
    HRESULT end = S_OK;
    std::vector<_FOUND_READER> found = FindAll(search, end);
    EXPECT_EQ(KV_E_NO_MORE_READERS, end);
    ASSERT_EQ(2u, found.size());
    std::sort(found.begin(), found.end(), [](const auto& x, const auto& y) { return x.serial < y.serial; });
    struct Expect {
        std::wstring port;
        uint32_t kind, code;
        int serial;
        const wchar_t* firmware;
        ReaderSimIdentity id;
    } expected[] = {{Near(0), PORT_SOURCE_REGISTRY, 0x301, 111, L"106", a},
                    {Near(1), PORT_SOURCE_DEVICE, 0x811, 222, L"1.25", b}};
    for (int i = 0; i < 2; ++i) {
        const Expect& e = expected[i];
        PackedVersion version = 0;
        ASSERT_TRUE(ParseVersion(e.firmware, version));
        EXPECT_EQ(e.port, found[i].portName);
        EXPECT_EQ(e.kind, found[i].portKind);
        EXPECT_EQ(ReaderModelFromCode(e.code), found[i].model);
        EXPECT_NE(0, found[i].model);
        EXPECT_EQ(e.serial, found[i].serial);
        EXPECT_EQ(version, found[i].firmware);
        EXPECT_EQ(MakeVersionReply(e.id), Narrow(found[i].text));
    }
    EXPECT_EQ(1, first.QueryCount());
    EXPECT_EQ(1, second.QueryCount());
}

// An earlier user of the port left bytes in it: they are no part of the reader's reply.
TEST(ReaderSearch, BytesLeftInThePortAreNoPartOfTheReply)
{
    NV_REQUIRE_SERIAL_PAIRS();
    const std::string stale = "late bytes";
    {
        ComPair earlier(0);
        ASSERT_TRUE(earlier.Init());
        ASSERT_EQ(S_OK, earlier.OpenPort());
        ASSERT_TRUE(earlier.Far().Write(stale));
        // Seen by the port, then left there unread.
        int waiting = 0;
        const DWORD start = GetTickCount();
        while (SUCCEEDED(earlier.Port()->GetBytesAvailable(&waiting)) && waiting < static_cast<int>(stale.size()) &&
               GetTickCount() - start < 3000)
            Sleep(2);
        ASSERT_EQ(static_cast<int>(stale.size()), waiting);
    }
    CReaderSim sim;
    ASSERT_TRUE(sim.OpenCom(Far(0)));
    CLoopbackPlatform platform;
    CSearchReaders search;
    const std::vector<_PORT_INFO> ports = {{Near(0), PORT_SOURCE_REGISTRY, PORT_ANY_MODEL}};
    search.Init(FastSearch(), &ports, nullptr, &platform);
    HRESULT end = S_OK;
    const std::vector<_FOUND_READER> found = FindAll(search, end);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(MakeVersionReply(ReaderSimIdentity{}), Narrow(found[0].text));
    EXPECT_EQ(1, sim.QueryCount());
}

TEST(ReaderSearch, SpeedsByModelMaskAndRepliesWithoutSerialNumber)
{
    NV_REQUIRE_SERIAL_PAIRS();
    struct Case {
        const char* what;
        DWORD mask;
        const char* reply;      // nullptr: the reader's own
        std::vector<DWORD> speeds;
        int queries;
        bool found;
    } cases[] = {
        {"asked again, then at 115200", PORT_ANY_MODEL, "Hello\r\n", {9600, 115200}, 4, false},
        {"mask 0x200: 115200 only", 0x200, nullptr, {115200}, 1, true},
        {"mask 0x002: 9600 only", 0x002, "Hello\r\n", {9600}, 2, false},
        {"a mask of no speed", 0x001, nullptr, {}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CReaderSim sim;
        if (c.reply)
            sim.SetVersionReply(c.reply);
        ASSERT_TRUE(sim.OpenCom(Far(0)));
        CLoopbackPlatform platform;
        CSearchReaders search;
        const std::vector<_PORT_INFO> ports = {{Near(0), PORT_SOURCE_REGISTRY, c.mask}};
        search.Init(FastSearch(), &ports, nullptr, &platform);
        HRESULT end = S_OK;
        EXPECT_EQ(c.found ? 1u : 0u, FindAll(search, end).size());
        EXPECT_EQ(KV_E_NO_MORE_READERS, end);
        EXPECT_EQ(c.speeds, platform.record.SpeedsOf(Near(0)));
        EXPECT_EQ(c.queries, sim.QueryCount());
    }
}

TEST(ReaderSearch, AReplyInPiecesIsWaitedForWithoutANewQuery)
{
    NV_REQUIRE_SERIAL_PAIRS();
    CFarComEnd readerEnd;
    ASSERT_TRUE(readerEnd.Open(Far(0)));
    CLoopbackPlatform platform;
    CSearchReaders search;
    const std::vector<_PORT_INFO> ports = {{Near(0), PORT_SOURCE_REGISTRY, PORT_ANY_MODEL}};
    search.Init(FastSearch(), &ports, nullptr, &platform);
    auto result = std::async(std::launch::async, [&] {
        HRESULT end = S_OK;
        auto found = FindAll(search, end);
        return std::make_pair(found, end);
    });
    ASSERT_EQ("i", readerEnd.Read(1, 3000));
    const std::string reply = MakeVersionReply(ReaderSimIdentity{});
    const size_t cut = 9;   // "Vell-4 US": no "S/N:", no line end yet
    ASSERT_TRUE(readerEnd.Write(reply.substr(0, cut)));
    {
        std::unique_lock<std::mutex> lock(platform.record.mutex);
        ASSERT_TRUE(platform.record.changed.wait_for(lock, std::chrono::seconds(3),
                                                     [&] { return platform.record.bytesRead >= cut; }));
    }
    ASSERT_TRUE(readerEnd.Write(reply.substr(cut)));
    const auto [found, end] = result.get();
    EXPECT_EQ(KV_E_NO_MORE_READERS, end);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(12345, found[0].serial);
    EXPECT_EQ(reply, Narrow(found[0].text));
    EXPECT_EQ("", readerEnd.Read(1, 200)) << "the query was not repeated";
}

TEST(ReaderSearch, NothingToSearchEndsAtOnce)
{
    CSearchReaders search;
    const std::vector<_PORT_INFO> none;
    // Time-outs far past the bound below, which a search that waits on any of them, or on its
    // read poll, cannot keep; a call with nothing to do keeps it on a loaded machine.
    SearchSettings settings = FastSearch();
    settings.connectTimeout = settings.replyTimeout = settings.networkReplyTimeout = 30000;
    settings.readPoll = 30000;
    search.Init(settings, &none, nullptr);
    const DWORD start = GetTickCount();
    _FOUND_READER f;
    EXPECT_EQ(KV_E_NO_MORE_READERS, search.Next(f));
    EXPECT_LT(GetTickCount() - start, 1000u) << "the search waited for one of its time-outs";
}

TEST(ReaderSearch, ConvertersOfTheLocalNetwork)
{
    CReaderSim sim;
    const uint16_t simPort = sim.ListenTcp();
    ASSERT_NE(0, simPort);
    const std::string good = "A B PORT1====" + std::to_string(simPort) + " PORT2====0 IP1======0.0.0.0 IP2======0.0.0.0";
    std::vector<std::string> flood;
    for (int port = 1; port <= 40; ++port)
        flood.push_back("A B PORT1====" + std::to_string(port) + " PORT2====0 IP1======0.0.0.0 IP2======10.1.1.1");
    struct Case {
        const char* what;
        std::vector<std::string> replies;
        int tries;
        int replyLimit;
        size_t probes;
        bool found;
        int queries;
    } cases[] = {
        {"a channel on the sender's address, named twice", {good, good}, 1, 1500, 1, true, 1},
        {"an 8-character token ends each cycle at once", {"A B 12345678 PORT2====0 IP1======0.0.0.0 IP2======"}, 2, 5000,
         0, false, 2},
        {"a flood of replies is capped", flood, 1, 1500, CSearchReaders::kMaxNetworkProbes, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CConverterSim converter;
        ASSERT_NE(0, converter.Port());
        converter.SetReplies(c.replies);
        CLoopbackPlatform platform(converter.Port());
        SearchSettings settings = FastSearch(PORT_SEARCH_NETWORK);
        settings.networkTries = c.tries;
        settings.networkReplyTimeout = c.replyLimit;
        settings.tries = 1;
        CSearchReaders search;
        const std::vector<_PORT_INFO> none;
        search.Init(settings, &none, nullptr, &platform);
        const DWORD start = GetTickCount();
        HRESULT end = S_OK;
        const std::vector<_FOUND_READER> found = FindAll(search, end);
        EXPECT_EQ(KV_E_NO_MORE_READERS, end);
        EXPECT_EQ(c.queries, converter.Queries());
        EXPECT_EQ(c.probes, platform.record.made.size());
        ASSERT_EQ(c.found ? 1u : 0u, found.size());
        if (c.found) {
            EXPECT_EQ(L"127.0.0.1:" + std::to_wstring(simPort), found[0].portName);
            EXPECT_EQ(PORT_SOURCE_NETWORK, found[0].portKind);
            EXPECT_EQ(12345, found[0].serial);
            EXPECT_EQ(std::vector<DWORD>{9600}, platform.record.SpeedsOf(found[0].portName));
        }
        if (c.tries > 1) {
            EXPECT_LT(GetTickCount() - start, 4000u) << "the invalid replies ended their cycles early";
        }
    }
}
