#pragma once
// The readers of binary dialogues under test: the KR-5040 in escaped frames and the Vell-4
// EHR and Vell-4 Base in single bytes, played by the simulator on a TCP socket or on a COM
// port pair.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include "tests/reader/ReaderTestFixture.h"
#include "tools/readersim/ByteSim.h"
#include "tools/readersim/EscapedSim.h"

enum class Line { Com, Tcp };

inline std::string LineName(const ::testing::TestParamInfo<Line>& info)
{
    return info.param == Line::Com ? "Com" : "Tcp";
}

// "11 C0" as bytes (HexBytes gives the text back).
inline std::string BytesOfHex(const std::string& spaced)
{
    std::string out;
    for (size_t i = 0; i + 1 < spaced.size(); i += 3)
        out += static_cast<char>(std::stoul(spaced.substr(i, 2), nullptr, 16));
    return out;
}

class DialogueReaderTest : public ReaderThreadTest {
protected:
    void TearDown() override
    {
        // The dialogues go before the simulator, and the reader before them.
        if (reader)
            reader->Stop();
        escaped.reset();
        byteSim.reset();
        ReaderThreadTest::TearDown();
    }

    void Restart()
    {
        TearDown();
        seen.clear();
        SetUp();
    }

    // Fast settings on the line; skips where the machine has no serial pairs.
    void UseLine(Line line, uint32_t flags)
    {
        if (line == Line::Tcp) {
            UseTcp(flags);
        } else {
            NV_REQUIRE_SERIAL_PAIRS();
            const SerialPairInfo* pair = GetSerialPair(2);
            ASSERT_TRUE(pair);
            ASSERT_TRUE(sim->OpenCom(pair->farName));
            SetPort(pair->nearName);
            Configure([&](ReaderSettings& s) {
                s.connectTimeout = 2000;
                s.flags = flags;
            });
        }
        Configure([](ReaderSettings& s) {
            s.receiveTimeout = 400;
            s.maxTries = 2;
            s.connectPeriod = 300;
        });
    }

    void SetMode(int mode)
    {
        ReadKeysSettings k = reader->GetCardReading();
        k.vell4Mode = mode;
        reader->SetCardReading(k);
        reader->Wake();
    }

    // A Vell-4 EHR with "protVell4" in the mode, connected and armed.
    void ConnectArmed(Line line, int mode)
    {
        byteSim = std::make_unique<CByteSim>(*sim, 6);
        byteSim->SetFramePeriod(300);
        SetMode(mode);
        ASSERT_NO_FATAL_FAILURE(UseLine(line, READER_PROT_VELL4));
        if (IsSkipped())
            return;
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        ASSERT_TRUE(WaitFor([&] { return byteSim->Started() && byteSim->ArmedMode() == mode; }));
    }

    // Keys as "type:HEX".
    std::vector<std::string> TypedKeys() const
    {
        std::vector<std::string> keys;
        for (const auto& s : seen)
            if (s.type == RDMSG_KEY)
                keys.push_back(std::to_string(s.keyType) + ":" + s.key);
        return keys;
    }

    // The requests the thread has not taken yet; none once it has.
    bool RequestsTaken() { return CReaderTestPeer::Requests(*reader) == 0; }

    // Polling is held while the simulated field changes, so that no poll sees half of it.
    template <class F>
    void WhilePollingHeld(F change)
    {
        reader->SetPolling(false);
        reader->Wake();
        ASSERT_TRUE(WaitFor([&] { return RequestsTaken(); }));
        change();
        reader->SetPolling(true);
        reader->Wake();
    }

    std::unique_ptr<CEscapedSim> escaped;
    std::unique_ptr<CByteSim> byteSim;
};
