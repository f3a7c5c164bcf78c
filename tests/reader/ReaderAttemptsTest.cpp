#include "tests/reader/ReaderTestFixture.h"

// "maxTries" comes from a number edit that takes a typed 0 and from files written by hand: the
// reader must still ask, or it would never connect.
TEST_F(ReaderThreadTest, ZeroAttemptsStillAskOnce)
{
    UseTcp();
    Configure([](ReaderSettings& s) { s.maxTries = 0; });
    reader->Start();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_EQ(RDST_CONNECTED, reader->GetStatus().state);
    EXPECT_EQ("ir\n", sim->ReceivedText());
}
