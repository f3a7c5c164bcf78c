// The protocols behind the reader thread: every protocol the model table names has its class,
// and each reader connects in the protocol that its model and settings choose.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include "core/ResultCodes.h"
#include "reader/ReaderProtocol.h"
#include "tests/reader/DialogueTestFixture.h"

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

TEST_F(DialogueReaderTest, EachReaderConnectsInTheProtocolItsSettingsChoose)
{
    const struct {
        int model;
        uint32_t flags;
        const wchar_t* connected;
        const char* heard;   // after the version query
    } cases[] = {
        {9, 0, L"Reader connected (KR-5040 s/n 5040 FW v2.1).", "61 0B 64 03 2D C0 02 01 00 FD C0"},
        {6, READER_PROT_VELL4, L"Reader connected (Vell-4 EHR s/n 4006 FW v3.2).", "00 11 95 13 93"},
        {7, READER_PROT_VELL4, L"Reader connected (Vell-4 Base s/n 4007 FW v3.2).", "00 11 95 13 93"},
        {6, 0, L"Reader connected (Vell-4 EHR s/n 43 FW v2).", "72 0A"},      // its text lines: "r"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.model) + " flags " + std::to_string(c.flags));
        Restart();
        if (c.model == 9)
            escaped = std::make_unique<CEscapedSim>(*sim);
        else if (c.flags)
            byteSim = std::make_unique<CByteSim>(*sim, c.model);
        else
            sim->SetIdentity({"Vell-4 EHR", 0x302, 43, "2.0", "", 3});
        UseTcp(c.flags);
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        EXPECT_EQ(c.model, reader->GetStatus().model);
        EXPECT_TRUE(Logged(c.connected));
        // What it heard first, byte for byte; the escaped reader goes on being polled.
        const std::string heard = std::string("69 ") + c.heard;
        ASSERT_TRUE(WaitFor([&] { return HexBytes(sim->ReceivedText()).size() >= heard.size(); }));
        EXPECT_EQ(heard, HexBytes(sim->ReceivedText()).substr(0, heard.size()));
        EXPECT_TRUE(Errors().empty());
        EXPECT_EQ(RDST_CONNECTED, State());
    }
}
