// The protocols behind the reader thread: every protocol the model table names has its class,
// and a reader whose protocol is not built yet is refused with its error rather than kept
// connected while its bytes are dropped.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include "core/ResultCodes.h"
#include "reader/ReaderProtocol.h"
#include "tests/reader/ReaderTestFixture.h"

TEST(ReaderProtocols, EveryProtocolOfTheModelTableHasItsClass)
{
    CReader reader;
    for (int model = 0; model < kReaderModelCount; ++model) {
        for (uint32_t flags : {0u, READER_BINARY, READER_PROT_VELL4}) {
            const int id = ReaderProtocolFor(model, flags);
            std::unique_ptr<CReaderProtocol> protocol = CreateReaderProtocol(id, reader);
            if (id == RDPROT_NONE) {
                EXPECT_FALSE(protocol) << "model " << model;
            } else {
                ASSERT_TRUE(protocol) << "model " << model << " protocol " << id;
                EXPECT_EQ(id, protocol->Id());
            }
        }
    }
}

TEST_F(ReaderThreadTest, AReaderWhoseProtocolIsNotBuiltIsRefusedWithItsError)
{
    const wchar_t kText[] = L"The protocol of this reader model is not supported by this version.";
    const struct {
        ReaderSimIdentity identity;
        uint32_t flags;
        int model;
        bool refused;
    } cases[] = {
        {{"KR-5040", 0x821, 40, "1.0", "", 3}, 0, 9, true},                    // escaped frames
        {{"Vell-4 EHR", 0x302, 41, "2.0", "", 3}, READER_PROT_VELL4, 6, true},  // single bytes
        {{"Vell-4 Base", 0x303, 42, "2.0", "", 3}, READER_PROT_VELL4, 7, true},
        {{"Vell-4 EHR", 0x302, 43, "2.0", "", 3}, 0, 6, false},                 // its text lines
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identity.name + " flags " + std::to_string(c.flags));
        TearDown();
        seen.clear();
        SetUp();
        UseTcp(c.flags);
        Configure([](ReaderSettings& s) { s.connectPeriod = 100; });
        sim->SetIdentity(c.identity);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected() || !Errors().empty(); }));
        EXPECT_EQ(c.model, reader->GetStatus().model);
        if (!c.refused) {
            EXPECT_TRUE(Errors().empty());
            EXPECT_EQ(RDST_CONNECTED, State());
            continue;
        }
        EXPECT_EQ((std::vector<HRESULT>{KV_E_PROTOCOL_NOT_SUPPORTED}), Errors());
        // The notification is queued before the thread logs the failure and closes the port.
        ASSERT_TRUE(WaitFor([&] { return Logged(L"Port closed."); }));
        EXPECT_EQ(std::wstring(L"Unable to connect to the reader. ") + kText, seen.back().text);
        EXPECT_TRUE(Logged(std::wstring(L"Failed to connect to reader (code 0x80040223): ") + kText));
        EXPECT_FALSE(Logged(L"Reader connected"));
        EXPECT_EQ(RDST_DISCONNECTED, State());
        // The reader heard its version query and nothing else; the port is closed again.
        EXPECT_EQ("i", sim->ReceivedText());
        EXPECT_TRUE(Logged(L"Port closed."));

        // Five connect periods later nothing more was tried; a reconnect request tries again.
        WaitFor([] { return false; }, 500);
        EXPECT_EQ(1, sim->QueryCount());
        EXPECT_EQ(0, Count(RDMSG_CONNECT));
        reader->Reconnect();
        ASSERT_TRUE(WaitFor([&] { return Errors().size() == 2; }));
        EXPECT_EQ(2, sim->QueryCount());
        EXPECT_EQ(0, Count(RDMSG_CONNECT));
    }
}
