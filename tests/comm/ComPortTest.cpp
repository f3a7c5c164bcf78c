// The serial port against pseudo-terminal pairs; the test plays the reader on the far end.
#include "tests/support/PortPairs.h"

#include <thread>

namespace {

std::string Text(const std::vector<BYTE>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Waits until the port reports at least count bytes (they take a few ms through the pty).
bool WaitAvailable(IKvPort* port, int count, DWORD timeout = 3000)
{
    const DWORD start = GetTickCount();
    for (;;) {
        int n = 0;
        if (FAILED(port->GetBytesAvailable(&n)))
            return false;
        if (n >= count)
            return true;
        if (GetTickCount() - start > timeout)
            return false;
        Sleep(2);
    }
}

class ComPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        NV_REQUIRE_SERIAL_PAIRS();
        ASSERT_TRUE(pair.Init());
    }

    ComPair pair{0};
};

}  // namespace

TEST(ComPortOpen, MissingAndRefusedPortsGiveTheirCodes)
{
    NV_REQUIRE_SERIAL_PAIRS();
    struct Case
    {
        std::wstring name;
        HRESULT expected;
    } cases[] = {
        {L"COM99", KV_E_PORT_NOT_EXISTS},
        {GetDeniedComPort(), KV_E_PORT_BUSY},
    };
    CTestPortEvents events;
    for (const Case& c : cases) {
        ASSERT_FALSE(c.name.empty());
        CKvPortPtr<CKvComPort> port(new CKvComPort);
        port->Init(c.name.c_str(), events.cancel, events.writeDone, events.readDone, events.comm);
        EXPECT_EQ(c.expected, port->Open(0)) << std::string(c.name.begin(), c.name.end());
        EXPECT_FALSE(port->IsOpen());
        EXPECT_EQ(0, port->GetIoFlags());
    }
}

TEST_F(ComPortTest, SecondOpenOfTheSameDeviceIsBusy)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    CKvPortPtr<CKvComPort> second(new CKvComPort);
    CTestPortEvents events;
    second->Init(pair.Info().nearName.c_str(), events.cancel, events.writeDone, events.readDone, events.comm);
    HRESULT hr = second->Open(0);
    if (RunningUnderWine() && hr == S_OK)
        GTEST_SKIP() << "Wine lets a second handle open a serial device; the busy code is shown with the refused port";
    EXPECT_EQ(KV_E_PORT_BUSY, hr);
    EXPECT_FALSE(second->IsOpen());
}

TEST_F(ComPortTest, OpenTwiceOnOneObjectIsHarmless)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    EXPECT_EQ(S_OK, pair.Port()->Open(0));
    EXPECT_TRUE(pair.Port()->IsOpen());
}

TEST_F(ComPortTest, SpeedZeroKeepsTheDeviceSpeed)
{
    ASSERT_EQ(S_OK, pair.OpenPort(19200, KV_STOPBITS_2));
    pair.Port()->Close();
    ASSERT_EQ(S_OK, pair.OpenPort(0, KV_STOPBITS_1));
    DWORD speed = 0;
    BYTE stopBits = 9, eventChar = 9;
    pair.Port()->GetParams(&speed, &stopBits, &eventChar);
    EXPECT_EQ(19200u, speed);
    EXPECT_EQ(KV_STOPBITS_1, stopBits);
    EXPECT_EQ(0, eventChar);
    // The port still carries data at that speed.
    ASSERT_TRUE(pair.Far().Write("ok"));
    std::vector<BYTE> out;
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 2, 3000));
    EXPECT_EQ("ok", Text(out));
}

TEST_F(ComPortTest, ReadWithTimeoutZeroReturnsWhatIsBuffered)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    std::vector<BYTE> out;
    DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 10, 0));
    EXPECT_TRUE(out.empty());

    ASSERT_TRUE(pair.Far().Write("abc"));
    ASSERT_TRUE(WaitAvailable(pair.Port(), 3));
    // A read that waited for its ten bytes would be given the rest by the far end after 5 s
    // and come back with all ten; one that does not wait is back long before, with three.
    HANDLE returned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread rest([&] {
        if (WaitForSingleObject(returned, 5000) == WAIT_TIMEOUT)
            pair.Far().Write("defghij");
    });
    start = GetTickCount();
    const HRESULT hr = pair.Port()->Read(out, 10, 0);
    const DWORD took = GetTickCount() - start;
    SetEvent(returned);
    rest.join();
    CloseHandle(returned);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ("abc", Text(out)) << "a read with time-out 0 must not wait (it took " << took << " ms)";
}

TEST_F(ComPortTest, ReadWithTimeoutZeroGetsBytesAnOutstandingReadIsTaking)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    // Where the driver keeps a read outstanding, a byte can sit between the driver's queue
    // and that read: it still counts as buffered.
    int misses = 0;
    for (int i = 0; i < 100; ++i) {
        std::vector<BYTE> out;
        ASSERT_EQ(S_OK, pair.Port()->Read(out, 1, 0));
        ASSERT_TRUE(pair.Far().Write("x"));
        ASSERT_TRUE(WaitAvailable(pair.Port(), 1));
        out.clear();
        ASSERT_EQ(S_OK, pair.Port()->Read(out, 10, 0));
        if (out.size() != 1) {
            ++misses;
            pair.Port()->Read(out, 10, 200);
        }
    }
    EXPECT_EQ(0, misses);
}

// The reader's safety net against a driver that stops signalling: bytes lying in the driver
// count as missed input until a read takes them.
TEST_F(ComPortTest, InputLyingInTheDriverIsReportedUntilRead)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    bool arrived = true;
    EXPECT_EQ(S_OK, pair.Port()->CheckMissedInput(&arrived));
    EXPECT_FALSE(arrived);

    ASSERT_TRUE(pair.Far().Write("key\r\n"));
    ASSERT_TRUE(WaitAvailable(pair.Port(), 5));
    EXPECT_EQ(S_OK, pair.Port()->CheckMissedInput(&arrived));
    EXPECT_TRUE(arrived);
    std::vector<BYTE> out;
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 10, 0));
    EXPECT_EQ("key\r\n", Text(out));
    EXPECT_EQ(S_OK, pair.Port()->CheckMissedInput(&arrived));
    EXPECT_FALSE(arrived);
}

TEST_F(ComPortTest, ReadCollectsExactlyTheCountAsked)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    struct Case
    {
        const char* first;
        const char* second;  // sent once the first has arrived
        size_t count;
        const char* expected;
        const char* left;  // what the next read finds
    } cases[] = {
        {"ABC", "DE", 5, "ABCDE", ""},
        {"ABC", "DEFGH", 5, "ABCDE", "FGH"},
        {"ABCDEFG", "", 5, "ABCDE", "FG"},
        {"A", "BCDEFGHIJ", 2, "AB", "CDEFGHIJ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        pair.Drain();
        std::vector<BYTE> out = {'>'};
        ASSERT_TRUE(pair.Far().Write(c.first));
        // Whether the second piece comes before or during the read, the count is the same.
        std::thread later([&] {
            Sleep(30);
            if (*c.second)
                pair.Far().Write(c.second);
        });
        HRESULT hr = pair.Port()->Read(out, c.count, 3000);
        later.join();
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(std::string(">") + c.expected, Text(out));
        std::vector<BYTE> rest;
        EXPECT_EQ(S_OK, pair.Port()->Read(rest, strlen(c.left), 2000));
        EXPECT_EQ(S_OK, pair.Port()->Read(rest, 1, 50));
        EXPECT_EQ(c.left, Text(rest));
    }
}

TEST_F(ComPortTest, CancelEndsAWaitingReadWithinOneWaitSlice)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    // A slice far longer than the cancel takes: a read that saw the cancel only when its slice
    // ended would come back 20 s later.
    pair.Port()->SetWaitSlice(20000);
    DWORD signalled = 0;
    std::thread canceller([&] {
        Sleep(100);
        signalled = GetTickCount();
        SetEvent(pair.Events().cancel);
    });
    std::vector<BYTE> out;
    HRESULT hr = pair.Port()->Read(out, 5, 60000);
    DWORD returned = GetTickCount();
    canceller.join();
    EXPECT_EQ(E_ABORT, hr);
    EXPECT_LT(returned - signalled, 10000u);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(pair.Events().cancel, 0)) << "the read consumes the cancel";
}

TEST_F(ComPortTest, SignalledCancelAbortsAWriteThatMustWait)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    SetEvent(pair.Events().cancel);
    // A write that completes at once needs no wait and is not aborted; one that has to wait
    // is. Either way the bytes are not lost.
    HRESULT hr = pair.Port()->Write("xyz", 3, 1000);
    EXPECT_TRUE(hr == S_OK || hr == E_ABORT) << std::hex << hr;
    ResetEvent(pair.Events().cancel);
    EXPECT_EQ(S_OK, pair.Port()->Write("", 0, 3000));
    EXPECT_EQ("xyz", pair.Far().Read(3, 3000));
}

TEST_F(ComPortTest, PurgeEmptiesTheBuffers)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    ASSERT_TRUE(pair.Far().Write("old bytes"));
    ASSERT_TRUE(WaitAvailable(pair.Port(), 9));
    std::vector<BYTE> out;
    // Takes a part into the port's own buffer and leaves a read outstanding where the
    // driver keeps one.
    ASSERT_EQ(S_OK, pair.Port()->Read(out, 3, 0));
    ASSERT_EQ(S_OK, pair.Port()->Purge(true, true));
    EXPECT_EQ(0, pair.Port()->GetIoFlags() & (KV_IO_READ_PENDING | KV_IO_WRITE_PENDING));
    int available = -1;
    EXPECT_EQ(S_OK, pair.Port()->GetBytesAvailable(&available));
    EXPECT_EQ(0, available);

    ASSERT_TRUE(pair.Far().Write("new"));
    out.clear();
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 3, 3000));
    EXPECT_EQ("new", Text(out));
}

TEST_F(ComPortTest, WriteReachesTheFarEndInOrder)
{
    ASSERT_EQ(S_OK, pair.OpenPort(115200));
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        std::string piece = "piece " + std::to_string(i) + ";";
        expected += piece;
        ASSERT_EQ(S_OK, pair.Port()->Write(piece.data(), piece.size(), 0));
    }
    // A write with a time-out completes everything queued before it.
    ASSERT_EQ(S_OK, pair.Port()->Write("!", 1, 3000));
    expected += "!";
    EXPECT_EQ(expected, pair.Far().Read(expected.size(), 3000));
}

TEST_F(ComPortTest, EventCharacterIsKeptButReadsDoNotDependOnIt)
{
    ASSERT_EQ(S_OK, pair.OpenPort(9600, KV_STOPBITS_1, '\n'));
    BYTE eventChar = 0;
    pair.Port()->GetParams(nullptr, nullptr, &eventChar);
    EXPECT_EQ('\n', eventChar);

    // No line end: the read loop alone frames the bytes.
    ASSERT_TRUE(pair.Far().Write("12345"));
    std::vector<BYTE> out;
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 5, 5000));
    EXPECT_EQ("12345", Text(out));

    // Switching the character on the open port.
    ASSERT_EQ(S_OK, pair.Port()->SetParams(9600, KV_STOPBITS_1, 0));
    pair.Port()->GetParams(nullptr, nullptr, &eventChar);
    EXPECT_EQ(0, eventChar);
    ASSERT_TRUE(pair.Far().Write("line\n"));
    out.clear();
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 5, 5000));
    EXPECT_EQ("line\n", Text(out));
}

TEST_F(ComPortTest, SetParamsOnAnOpenPortChangesTheDevice)
{
    ASSERT_EQ(S_OK, pair.OpenPort(9600));
    ASSERT_EQ(S_OK, pair.Port()->SetParams(57600, KV_STOPBITS_2, 0));
    pair.Port()->Close();
    // Speed 0 reads back what the device was set to.
    ASSERT_EQ(S_OK, pair.OpenPort(0));
    DWORD speed = 0;
    pair.Port()->GetParams(&speed, nullptr, nullptr);
    EXPECT_EQ(57600u, speed);
}

TEST_F(ComPortTest, ModemLinesAreSetOrRefusedWithTheMappedCode)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    // A pseudo-terminal has no modem lines: the driver refuses with ERROR_NOT_SUPPORTED.
    for (HRESULT hr : {pair.Port()->SetDtr(true), pair.Port()->SetRts(false)})
        EXPECT_TRUE(hr == S_OK || hr == HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)) << std::hex << hr;
}

TEST_F(ComPortTest, CloseLetsGoOfAnOutstandingReadBeforeReturning)
{
    ASSERT_EQ(S_OK, pair.OpenPort());
    std::vector<BYTE> out;
    ASSERT_EQ(S_OK, pair.Port()->Read(out, 1, 0));
    bool pending = (pair.Port()->GetIoFlags() & KV_IO_READ_PENDING) != 0;
    pair.Port()->Close();
    EXPECT_FALSE(pair.Port()->IsOpen());
    EXPECT_EQ(0, pair.Port()->GetIoFlags());
    if (pending) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pair.Events().readDone, 0))
            << "the cancelled read must have completed when Close returns";
    }
    // Bytes arriving now have no buffer to land in; the port opens again cleanly.
    ASSERT_TRUE(pair.Far().Write("after"));
    ASSERT_EQ(S_OK, pair.Port()->Open(0));
    out.clear();
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 5, 3000));
    EXPECT_EQ("after", Text(out));
}

TEST_F(ComPortTest, DestroyingAPortWithIoOutstandingIsSafe)
{
    {
        CTestPortEvents events;
        CKvPortPtr<CKvComPort> port(new CKvComPort);
        port->Init(pair.Info().nearName.c_str(), events.cancel, events.writeDone, events.readDone, events.comm);
        ASSERT_EQ(S_OK, port->Open(0));
        std::vector<BYTE> out;
        ASSERT_EQ(S_OK, port->Read(out, 1, 0));
    }
    // The system must not write into the freed port now.
    std::vector<std::string> filler(64, std::string(1024, 'f'));
    ASSERT_TRUE(pair.Far().Write("late bytes"));
    Sleep(30);
    for (const std::string& f : filler)
        EXPECT_EQ(std::string(1024, 'f'), f);
}

TEST(ComPortClosed, CallsOnAClosedPortFailCleanly)
{
    CTestPortEvents events;
    CKvPortPtr<CKvComPort> port(new CKvComPort);
    port->Init(L"COM11", events.cancel, events.writeDone, events.readDone, events.comm);
    std::vector<BYTE> out;
    int available = -1;
    EXPECT_FALSE(port->IsOpen());
    EXPECT_TRUE(FAILED(port->Read(out, 1, 0)));
    EXPECT_TRUE(FAILED(port->Write("x", 1, 0)));
    EXPECT_TRUE(FAILED(port->SetDtr(true)));
    EXPECT_EQ(S_OK, port->GetBytesAvailable(&available));
    EXPECT_EQ(0, available);
    EXPECT_EQ(S_OK, port->Purge(true, true));
    EXPECT_EQ(S_OK, port->CompleteRead());
    EXPECT_EQ(S_OK, port->CompleteWrite());
    EXPECT_EQ(S_OK, port->CompleteEvent());
    EXPECT_EQ(S_OK, port->Close());
    // Closed, SetParams only stores.
    EXPECT_EQ(S_OK, port->SetParams(4800, KV_STOPBITS_1_5, 'x'));
    DWORD speed = 0;
    BYTE stopBits = 0, eventChar = 0;
    port->GetParams(&speed, &stopBits, &eventChar);
    EXPECT_EQ(4800u, speed);
    EXPECT_EQ(KV_STOPBITS_1_5, stopBits);
    EXPECT_EQ('x', eventChar);
    std::wstring name;
    port->GetName(name);
    EXPECT_EQ(L"COM11", name);
}
