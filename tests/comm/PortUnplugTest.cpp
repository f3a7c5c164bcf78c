// Far ends that go away in the middle of a read and come back.
#include "tests/support/PortPairs.h"

#include <thread>

namespace {

std::string Text(const std::vector<BYTE>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Brings the pair back even when the test fails halfway.
struct PlugBackOnExit
{
    ~PlugBackOnExit() { SerialPairControl("plug " + std::to_string(kUnplugPairIndex)); }
};

}  // namespace

TEST(PortUnplug, SerialDeviceGoneMidReadIsAPortErrorAndThePortOpensAgain)
{
    NV_REQUIRE_SERIAL_PAIRS();
    PlugBackOnExit plugBack;
    ComPair pair(kUnplugPairIndex);
    ASSERT_TRUE(pair.Init());
    ASSERT_EQ(S_OK, pair.OpenPort());
    ASSERT_TRUE(pair.Far().Write("before"));
    std::vector<BYTE> out;
    ASSERT_EQ(S_OK, pair.Port()->Read(out, 6, 3000));
    ASSERT_EQ("before", Text(out));

    std::string unplugError;
    std::thread unplug([&] {
        Sleep(100);
        unplugError = SerialPairControl("unplug " + std::to_string(kUnplugPairIndex));
    });
    out.clear();
    DWORD start = GetTickCount();
    HRESULT hr = pair.Port()->Read(out, 10, 15000);
    unplug.join();
    ASSERT_EQ("", unplugError);
    EXPECT_TRUE(FAILED(hr)) << "the read went on as if the device were there";
    EXPECT_NE(E_ABORT, hr);
    EXPECT_LT(GetTickCount() - start, 10000u);
    pair.Port()->Close();
    pair.Far().Close();

    // While it is away the port does not open.
    EXPECT_TRUE(FAILED(pair.Port()->Open(0)));
    EXPECT_FALSE(pair.Port()->IsOpen());

    ASSERT_EQ("", SerialPairControl("plug " + std::to_string(kUnplugPairIndex)));
    ASSERT_TRUE(pair.Far().Open(pair.Info().farName));
    ASSERT_EQ(S_OK, pair.OpenPort());
    ASSERT_TRUE(pair.Far().Write("after"));
    out.clear();
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 5, 3000));
    EXPECT_EQ("after", Text(out));
}

TEST(PortUnplug, SerialDeviceGoneIsSeenByTheOwnersEventWait)
{
    NV_REQUIRE_SERIAL_PAIRS();
    PlugBackOnExit plugBack;
    ComPair pair(kUnplugPairIndex);
    ASSERT_TRUE(pair.Init());
    ASSERT_EQ(S_OK, pair.OpenPort());
    ASSERT_EQ("", SerialPairControl("unplug " + std::to_string(kUnplugPairIndex)));
    // The reader thread's way: wait on the port's events, complete what fired.
    HRESULT hr = S_OK;
    const DWORD start = GetTickCount();
    while (SUCCEEDED(hr) && GetTickCount() - start < 10000) {
        HANDLE handles[] = {pair.Events().readDone, pair.Events().comm};
        DWORD r = WaitForMultipleObjects(2, handles, FALSE, 10000);
        ASSERT_NE(WAIT_TIMEOUT, r);
        ResetEvent(handles[r - WAIT_OBJECT_0]);
        hr = r == WAIT_OBJECT_0 ? pair.Port()->CompleteRead() : pair.Port()->CompleteEvent();
    }
    EXPECT_TRUE(FAILED(hr));
}

TEST(PortUnplug, TcpPeerGoneMidReadIsDisconnectedAndThePortConnectsAgain)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Connect());
    std::thread closer([&] {
        Sleep(100);
        pair.Far().Close(true);
    });
    std::vector<BYTE> out;
    HRESULT hr = pair.Port()->Read(out, 10, 10000);
    closer.join();
    EXPECT_EQ(KV_E_PORT_DISCONNECTED, hr);
    pair.Port()->Close();

    ASSERT_EQ(S_OK, pair.Port()->Open(3000));
    CFarSocket peer = pair.Listener().Accept(3000);
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(peer.Send("again"));
    out.clear();
    EXPECT_EQ(S_OK, pair.Port()->Read(out, 5, 3000));
    EXPECT_EQ("again", Text(out));
}
