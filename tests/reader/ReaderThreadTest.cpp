// The reader thread end to end, against the simulated reader on a TCP socket (and on a COM
// port pair where the machine has them).
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "core/ResultCodes.h"
#include "reader/Reader.h"
#include "tests/support/PortPairs.h"
#include "tools/readersim/ReaderSim.h"
#include "tests/reader/ReaderTestFixture.h"

namespace {

// The thread's own reply reader, for the timing rules of multi-line replies.
void OpenBarePort(CReader& r, const std::wstring& name)
{
    ReaderConnectParams p;
    p.portName = name;
    p.connectTimeout = 3000;
    CReaderTestPeer::OpenPort(r, p);
}

} // namespace


TEST_F(ReaderThreadTest, ConnectsToModel1AndReportsItOnce)
{
    UseTcp();
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_TRUE(Logged(L"[I 127.0.0.1:"));
    EXPECT_TRUE(Logged(L"Reader connected (Vell-4 USB s/n 12345 FW v106)."));
    EXPECT_TRUE(Logged(L"<< (1) i"));
    EXPECT_TRUE(Logged(L"<< (2) r\\n"));
    EXPECT_TRUE(Logged(L">> ("));
    EXPECT_GE(posts, 1);
    EXPECT_EQ(1, Count(RDMSG_CONNECT));
    EXPECT_EQ(0, Count(RDMSG_ERROR));
    EXPECT_EQ("ir\n", sim->ReceivedText());
    const ReaderStatus status = reader->GetStatus();
    EXPECT_EQ(RDST_CONNECTED, status.state);
    EXPECT_EQ(1, status.model);
    EXPECT_EQ(12345, status.serial);
    EXPECT_EQ(106u, status.version);
    EXPECT_EQ(L"Vell-4 USB S/N: 12345 [301]\r\nReader of contactless keys\r\nInterfaces: USB, RS-485\r\n"
              L"Output: text lines\r\nSoftware version: 106\r\n",
              status.versionText);
    EXPECT_NE(0u, reader->TakeChanges() & RDCHG_STATE);
}

TEST_F(ReaderThreadTest, ConnectsOverASerialPortPair)
{
    NV_REQUIRE_SERIAL_PAIRS();
    const SerialPairInfo* pair = GetSerialPair(1);
    ASSERT_TRUE(pair);
    ASSERT_TRUE(sim->OpenCom(pair->farName));
    SetPort(pair->nearName);
    Configure([&](ReaderSettings& s) {
        s.receiveTimeout = 1000;
        s.maxTries = 2;
    });
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_TRUE(Logged(L"Port opened (9600,N,8,1)."));
    EXPECT_TRUE(Logged(L"Reader connected (Vell-4 USB s/n 12345 FW v106)."));
    sim->PresentKey(kKeyA);
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 1; }));
    EXPECT_EQ(kHexA, Keys()[0]);
    reader->Stop();
    EXPECT_TRUE(Logged(L"Port closed."));
    Drain();
    EXPECT_EQ(1, Count(RDMSG_DISCONNECT));
}

TEST_F(ReaderThreadTest, AKeyInTheFieldIsReportedOnce)
{
    UseTcp();
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    for (int i = 0; i < 5; ++i)
        sim->SendLine(kKeyA);
    sim->SendLine(kKeyB);   // marks the end of the repeats
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 2; }));
    sim->SendLine("No card");
    sim->SendLine(kKeyA);
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 3; }));
    sim->SendLine(kKeyA);
    sim->SendLine("NO CARD and more");
    sim->SendLine(kKeyB);
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 4; }));
    EXPECT_EQ((std::vector<std::string>{kHexA, kHexB, kHexA, kHexB}), Keys());
    EXPECT_TRUE(Logged(L"Found key EM 085,12345"));
    EXPECT_TRUE(Logged(L"Lost key EM 017,00042"));
    EXPECT_EQ(0, Count(RDMSG_ERROR));
}

TEST_F(ReaderThreadTest, EndlessNewKeysDoNotGrowTheFieldWithoutEnd)
{
    UseTcp();
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    for (int i = 0; i < 70; ++i)
        sim->SendLine("Em-Marine[00] 001," + std::to_string(i + 1));
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 70; }));
    // The first keys gave way to the newest: seen again, they are new again.
    sim->SendLine("Em-Marine[00] 001,1");
    sim->SendLine("Em-Marine[00] 001,70");
    sim->SendLine("Em-Marine[00] 001,99");
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 72; }));
    EXPECT_EQ("0100010000", Keys()[70]);
    EXPECT_EQ("6300010000", Keys()[71]);
    EXPECT_EQ(8, LogCount(L"Lost key EM"));   // six for keys 65 to 70, one for each new key after
}

TEST_F(ReaderThreadTest, AKeyOnTheReaderAtConnectIsNotReported)
{
    UseTcp();
    sim->SetFieldKey(kKeyA);
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    sim->SendLine(kKeyA);
    sim->SendLine(kKeyB);
    ASSERT_TRUE(WaitFor([&] { return !Keys().empty(); }));
    EXPECT_EQ((std::vector<std::string>{kHexB}), Keys());
    EXPECT_EQ(1, sim->ReadOnceCount());
}

TEST_F(ReaderThreadTest, UnrecognisedLinesAreReportedOncePerConnection)
{
    UseTcp();
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    sim->SendLine("Hello: [1234]");
    sim->SendLine("Garbage");
    sim->SendLine("Em-Marine[0055]");   // no decimals: not a key
    sim->SendLine(kKeyB);
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 1; }));
    EXPECT_EQ((std::vector<HRESULT>{KV_E_UNRECOGNIZED_MSG}), Errors());
}

TEST_F(ReaderThreadTest, AReaderOnlyAt115200IsFoundAfterThe9600TimeOut)
{
    UseTcp(READER_BINARY | READER_NVT);
    sim->SetTelnet(true);
    sim->SetAnswerSpeed(115200);
    // A reply time-out no loaded machine outlasts: the try at 115200 cannot miss its answer, and
    // the try at 9600 waits all of it out.
    const DWORD timeout = 5000;
    Configure([&](ReaderSettings& s) { s.receiveTimeout = static_cast<int>(timeout); });
    const DWORD start = GetTickCount();
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }, 3 * timeout));
    // Less the tick counter's coarse steps.
    EXPECT_GE(GetTickCount() - start, timeout - 100);
    EXPECT_EQ(115200u, sim->LineSpeed());
    EXPECT_TRUE(Logged(L"Port opened (9600,N,8,1)."));
    EXPECT_EQ(1, LogCount(L"Port reconfigured (")) << "the line changed speed once, to 115200";
    EXPECT_TRUE(Logged(L"Port reconfigured (115200,N,8,1)."));
    // The reader was never switched to another speed: one query at 9600, one at 115200.
    EXPECT_EQ(2, sim->QueryCount());
    EXPECT_EQ(0, Count(RDMSG_ERROR));
}

TEST_F(ReaderThreadTest, BadVersionRepliesEndTheAttempt)
{
    const struct {
        std::string reply;
        HRESULT code;
        const wchar_t* text;
        int queries;
    } cases[] = {
        // Four lines only: rejected at 9600 and again at 115200.
        {"Vell-4 USB S/N: 1 [301]\r\nInterfaces: USB\r\nOutput: text\r\nSoftware version: 106\r\n",
         KV_E_INVALID_RESPONSE, L"Unable to connect to the reader. Reader sent an invalid response.", 2},
        // No "S/N:" in the first line: the tries run out.
        {"Vell-4 USB [301]\r\na1\r\na2\r\na3\r\nSoftware version: 106\r\n", KV_E_RESPONSE_TIMEOUT,
         L"Unable to connect to the reader. Timeout response data from the port.", 2},
        // A model the program does not know: no further attempts.
        {MakeVersionReply({"Mystery", 0x123, 7, "1.0", "", 3}), E_FAIL,
         L"Unable to connect to the reader. Reader model (0x123) is not supported.", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        TearDown();
        seen.clear();
        SetUp();
        UseTcp();
        Configure([](ReaderSettings& s) { s.connectPeriod = 100; });
        sim->SetVersionReply(c.reply);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return !Errors().empty(); }));
        EXPECT_EQ(c.code, Errors()[0]);
        EXPECT_EQ(c.text, seen.back().text);
        EXPECT_TRUE(sim->WaitUntil([&] { return sim->QueryCount() == c.queries; }, 1000));
        EXPECT_EQ(0, Count(RDMSG_CONNECT));
        if (c.code == E_FAIL) {
            // Five connect periods later nothing more was tried; a reconnect request tries again.
            WaitFor([] { return false; }, 500);
            EXPECT_EQ(1, sim->QueryCount());
            EXPECT_EQ(1u, Errors().size());
            reader->Reconnect();
            ASSERT_TRUE(WaitFor([&] { return Errors().size() == 2; }));
            EXPECT_EQ(2, sim->QueryCount());
        }
    }
}

TEST_F(ReaderThreadTest, ABuildDateStandsForTheVersion)
{
    UseTcp();
    sim->SetIdentity({"Oblon V", 0x802, 5, "", "Nov 16 2010 10:20:30", 3});
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_TRUE(Logged(L"Reader connected (Oblon V s/n 5 FW v9.99)."));
    const ReaderStatus status = reader->GetStatus();
    EXPECT_EQ(8, status.model);
    EXPECT_EQ(0x6309u, status.version);
}

TEST_F(ReaderThreadTest, AClosedFarEndDisconnectsAndRetriesAfterTheConnectPeriod)
{
    UseTcp();
    Configure([](ReaderSettings& s) { s.connectPeriod = 300; });
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    WaitFor([] { return false; }, 400);   // the retry counts from the last attempt
    // Taken before the drop: the disconnect, and the period after it, come later whatever the
    // load, while the moment the notification is seen may come late.
    const DWORD lost = GetTickCount();
    sim->DropPeer();
    // The disconnect is told before the error that caused it.
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_DISCONNECT) == 1 && Count(RDMSG_ERROR) == 1; }));
    EXPECT_EQ((std::vector<HRESULT>{KV_E_PORT_DISCONNECTED}), Errors());
    EXPECT_TRUE(Logged(L"Reader disconnected"));
    EXPECT_TRUE(Logged(L"Port error (code 0x80040213): Port is disconnected."));
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_CONNECT) == 2; }));
    EXPECT_GE(GetTickCount() - lost, 250u);
    EXPECT_EQ(2, sim->PeerCount());
    EXPECT_EQ(RDST_CONNECTED, State());
}

TEST_F(ReaderThreadTest, ConnectPeriodMinusOneMakesExactlyOneAttempt)
{
    UseTcp();
    sim->SetMute(true);
    Configure([](ReaderSettings& s) {
        s.connectPeriod = -1;
        s.receiveTimeout = 150;
        s.maxTries = 2;
    });
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return !Errors().empty(); }));
    WaitFor([] { return false; }, 800);
    // Two tries at 9600, two at 115200, one error notification; a reader never switched is
    // looked for nowhere else.
    EXPECT_EQ(4, sim->QueryCount());
    EXPECT_EQ(1, LogCount(L"Port opened (9600,N,8,1)."));
    EXPECT_EQ((std::vector<std::wstring>{L"Port reconfigured (115200,N,8,1)."}), [&] {
        std::vector<std::wstring> texts;
        for (const auto& line : LogLinesWith(L"Port reconfigured ("))
            texts.push_back(line.substr(line.find(L"Port reconfigured (")));
        for (auto& t : texts)
            while (!t.empty() && (t.back() == L'\r' || t.back() == L'\n'))
                t.pop_back();
        return texts;
    }());
    EXPECT_EQ((std::vector<HRESULT>{KV_E_RESPONSE_TIMEOUT}), Errors());
    EXPECT_EQ(RDST_DISCONNECTED, State());
    EXPECT_TRUE(Logged(L"Failed to connect to reader (code 0x80040217): Timeout response data from the port."));
}

TEST_F(ReaderThreadTest, StopDuringConnectReportsNoError)
{
    UseTcp();
    sim->SetMute(true);
    Configure([](ReaderSettings& s) { s.receiveTimeout = 20000; });
    reader->Start();
    ASSERT_TRUE(sim->WaitUntil([&] { return sim->QueryCount() == 1; }, 5000));
    const DWORD start = GetTickCount();
    reader->Stop();
    EXPECT_LT(GetTickCount() - start, 2000u);
    Drain();
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(RDST_DISCONNECTED, State());
}

TEST_F(ReaderThreadTest, ReconnectDuringAReplyWaitReportsNoError)
{
    UseTcp();
    sim->SetMute(true);
    Configure([](ReaderSettings& s) { s.receiveTimeout = 20000; });
    reader->Start();
    ASSERT_TRUE(sim->WaitUntil([&] { return sim->QueryCount() == 1; }, 5000));
    sim->SetMute(false);
    reader->Reconnect();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }, 3000));
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(2, sim->QueryCount());
}

TEST_F(ReaderThreadTest, AnEndlessLineIsCappedAndReportedOnce)
{
    UseTcp();
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    const std::string junk(5000, 'x');
    sim->SendRaw(junk);
    ASSERT_TRUE(WaitFor([&] { return !Errors().empty(); }));
    sim->SendRaw(junk);
    sim->SendRaw(junk);
    sim->SendLine("");
    sim->SendLine(kKeyA);
    ASSERT_TRUE(WaitFor([&] { return !Keys().empty(); }));
    EXPECT_EQ((std::vector<std::string>{kHexA}), Keys());
    const std::vector<HRESULT> errors = Errors();
    EXPECT_EQ(KV_E_INVALID_RESPONSE, errors[0]);
    // What is left of the last run ends with the empty line: at most one unrecognised line.
    EXPECT_LE(errors.size(), 2u);
    EXPECT_EQ(1, static_cast<int>(std::count(errors.begin(), errors.end(), KV_E_INVALID_RESPONSE)));
}

TEST_F(ReaderThreadTest, AnIdleReaderWakesByItsCheckInPeriodOnly)
{
    const struct { int checkIn; uint32_t most; uint32_t least; } cases[] = {
        {-1, 1, 0},     // nothing to do: the thread sleeps
        {500, 6, 2},    // about four check-ins in two seconds
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.checkIn);
        TearDown();
        seen.clear();
        SetUp();
        UseTcp();
        Configure([&](ReaderSettings& s) { s.checkInPeriod = c.checkIn; });
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        WaitFor([] { return false; }, 300);   // the network events of the connection settle
        const uint32_t before = reader->GetWakeCount();
        WaitFor([] { return false; }, 2000);
        const uint32_t wakes = reader->GetWakeCount() - before;
        EXPECT_LE(wakes, c.most);
        EXPECT_GE(wakes, c.least);
    }
}

TEST_F(ReaderThreadTest, RepeatingLoopErrorsBackOff)
{
    // A reader whose wait handles are gone fails its wait on every turn.
    UseTcp();
    Configure([](ReaderSettings& s) { s.connectPeriod = -1; });
    HANDLE wake = reader->events[CReader::EV_WAKE].Detach();
    reader->Start();
    WaitFor([] { return false; }, 1500);
    const uint32_t wakes = reader->GetWakeCount();
    const std::vector<HRESULT> errors = Errors();
    reader->Stop();
    CloseHandle(wake);
    ASSERT_FALSE(errors.empty());
    EXPECT_TRUE(FAILED(errors.back()));
    EXPECT_LE(errors.size(), 2u);
    EXPECT_LE(wakes, 8u);
    EXPECT_GE(wakes, 2u);
}

namespace {

std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int x : b)
        s += static_cast<char>(x);
    return s;
}

} // namespace

TEST_F(ReaderThreadTest, WriteKeysJobSendsBankAndSlotPerKey)
{
    UseTcp(READER_BINARY);
    sim->SetIdentity({"CP-Vell-4MF", 0xF11, 77, "1.2", "", 3});
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    auto frames = sim->Frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(0x2F, frames[0].code);
    EXPECT_EQ(Bytes({1, 0x80}), frames[0].payload);
    EXPECT_EQ(0x24, frames[1].code);

    std::vector<_KEY_NUMBER> keys(20);
    for (int i = 0; i < 20; ++i) {
        const BYTE b[6] = {static_cast<BYTE>(i), 1, 2, 3, 4, 5};
        keys[i] = i == 5 ? _KEY_NUMBER{} : MakeKeyNumber(b, 6);
    }
    reader->StartJob(RDJOB_WRITE_KEYS, 0, keys, 19);
    reader->Wake();
    ASSERT_TRUE(WaitFor([&] { return reader->GetJob().state != RDJOB_PENDING; }));
    std::vector<std::string> sent;
    for (const auto& f : sim->Frames())
        if (f.code == 0x5F)
            sent.push_back(f.payload);
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i)
        if (i != 5)
            expected.push_back(Bytes({i > 15 ? 1 : 0, i > 15 ? i - 16 : i, i, 1, 2, 3, 4, 5}));
    EXPECT_EQ(expected, sent);
    const ReaderJob job = reader->GetJob();
    EXPECT_EQ(S_OK, job.state);
    EXPECT_EQ(19, job.progress);
    EXPECT_NE(0u, reader->TakeChanges() & RDCHG_JOB);
}

TEST_F(ReaderThreadTest, WriteKeysJobNeedsTheBinaryProtocol)
{
    UseTcp();
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    reader->StartJob(RDJOB_WRITE_KEYS, 0,
                     std::vector<_KEY_NUMBER>(3, MakeKeyNumber(reinterpret_cast<const uint8_t*>("abcdef"), 6)), 3);
    reader->Wake();
    ASSERT_TRUE(WaitFor([&] { return reader->GetJob().state != RDJOB_PENDING; }));
    EXPECT_EQ(KV_E_NOT_SUPPORTED, reader->GetJob().state);
}

TEST_F(ReaderThreadTest, SpeedIsSwitchedOnCommand)
{
    UseTcp(READER_BINARY | READER_NVT);
    sim->SetTelnet(true);
    sim->SetIdentity({"Vell-4 USB MF", 0x811, 9, "1.8", "", 3});
    Configure([](ReaderSettings& s) { s.speed = 57600; });
    // No poll rounds: the last frame is the one the speed setting asked for.
    reader->SetPolling(false);
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_EQ(57600u, sim->LineSpeed());
    EXPECT_TRUE(Logged(L"Port reconfigured (57600,N,8,1)."));
    auto frames = sim->Frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(Bytes({1, 0x80}), frames[0].payload);
    EXPECT_EQ(0x2F, frames[1].code);
    EXPECT_EQ(Bytes({1, 3}), frames[1].payload);

    // Automatic speed: the highest the model allows.
    Configure([](ReaderSettings& s) { s.speed = 0; });
    reader->Wake();
    ASSERT_TRUE(sim->WaitUntil([&] { return sim->LineSpeed() == 115200; }, 5000));
    frames = sim->Frames();
    EXPECT_EQ(Bytes({1, 4}), frames.back().payload);

    // Leaving puts the reader back into text mode at 9600 Bd. The simulator reads the two
    // frames of leaving on its own thread, after Stop has returned.
    const size_t framesBeforeStop = sim->Frames().size();
    reader->Stop();
    ASSERT_TRUE(sim->WaitUntil([&] { return sim->Frames().size() >= framesBeforeStop + 2; }, 3000));
    frames = sim->Frames();
    EXPECT_EQ(0x20, frames[frames.size() - 2].code);
    EXPECT_EQ(Bytes({0x95, 1}), frames[frames.size() - 2].payload);
    EXPECT_EQ(Bytes({0, 0}), frames.back().payload);
    EXPECT_TRUE(sim->WaitUntil([&] { return sim->LineSpeed() == 9600; }, 3000));
}

TEST(ReaderReplyLines, TheNextLineTimeOutCountsFromTheLastLine)
{
    // The gaps stay far from the half second either way, so that a loaded machine, which
    // only makes things late, keeps the outcome.
    CWinsock winsock;
    const struct { DWORD gap; int lines; bool ok; } cases[] = {
        {100, 8, true},     // 700 ms in all, never 500 ms without a line
        {2000, 2, false},   // the second line comes far too late
    };
    for (const auto& c : cases) {
        CReaderSim sim;
        uint16_t port = sim.ListenTcp();
        ASSERT_NE(0, port);
        CReader reader;
        reader.CreateEvents();
        OpenBarePort(reader, L"127.0.0.1:" + std::to_wstring(port));
        ASSERT_TRUE(sim.WaitUntil([&] { return sim.PeerCount() == 1; }, 3000));
        std::atomic<DWORD> firstSent{0}, lastSent{0};
        std::thread talker([&] {
            for (int i = 0; i < c.lines; ++i) {
                if (i)
                    Sleep(c.gap);
                const DWORD now = GetTickCount();
                if (i == 0)
                    firstSent = now;
                lastSent = now;
                sim.SendLine("line " + std::to_string(i));
            }
        });
        std::string out;
        const bool ok = CReaderTestPeer::ReadLines(reader, out, c.lines, 10000);
        const DWORD ended = GetTickCount();
        const DWORD lastBefore = lastSent;
        talker.join();
        EXPECT_EQ(c.ok, ok) << c.gap;
        if (c.ok) {
            std::string expected;
            for (int i = 0; i < c.lines; ++i)
                expected += "line " + std::to_string(i) + "\r\n";
            EXPECT_EQ(expected, out);
        } else {
            // Given up half a second after the first line, before the second was sent.
            EXPECT_EQ("line 0\r\n", out);
            EXPECT_GE(ended - firstSent, 450u);
            EXPECT_LT(ended - firstSent, 1500u) << "a second of slack over the half second";
            EXPECT_EQ(firstSent.load(), lastBefore) << "the read was still waiting when the second line came";
        }
        CReaderTestPeer::Close(reader);
    }
}
