// The readers of binary dialogues and the thread's time: a quiet reader lets the thread sleep
// until something is due, and a device that never stops talking holds no wait.
#include <winsock2.h>
#include <windows.h>
#include <thread>
#include "core/ResultCodes.h"
#include "tests/reader/DialogueTestFixture.h"

namespace {

enum class Dialogue { Escaped, EscapedMute, Byte, ByteBadMode };

// Bytes as fast as the line takes them, until the object goes.
class CFlood {
public:
    CFlood(CReaderSim& sim, char fill) : m_chunk(16384, fill)
    {
        m_thread = std::thread([this, &sim] {
            // A breath between chunks lets the simulator's own answers through.
            while (WaitForSingleObject(m_enough, 1) == WAIT_TIMEOUT)
                sim.SendRaw(m_chunk);
        });
    }
    ~CFlood()
    {
        SetEvent(m_enough);
        m_thread.join();
        CloseHandle(m_enough);
    }
    CFlood(const CFlood&) = delete;
    CFlood& operator=(const CFlood&) = delete;

private:
    std::string m_chunk;
    HANDLE m_enough = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread m_thread;
};

} // namespace

TEST_F(DialogueReaderTest, AQuietReaderWakesTheThreadOnlyWhenSomethingIsDue)
{
    const wchar_t kBadMode[] = L"Reader mode 5 is not one the reader knows: the modes are 0, 1 and 2.";
    const struct {
        Dialogue dialogue;
        uint32_t least, most;   // wakes in two seconds
    } cases[] = {
        {Dialogue::Escaped, 5, 20},      // a poll every 333 ms and its reply
        {Dialogue::EscapedMute, 1, 8},   // polls that wait for their time-out
        {Dialogue::Byte, 0, 1},          // armed for 15 s, no key to expire
        {Dialogue::ByteBadMode, 0, 1},   // nothing to send until the mode changes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.dialogue));
        Restart();
        if (c.dialogue == Dialogue::Escaped || c.dialogue == Dialogue::EscapedMute) {
            escaped = std::make_unique<CEscapedSim>(*sim);
            ASSERT_NO_FATAL_FAILURE(UseLine(Line::Tcp, 0));
        } else {
            byteSim = std::make_unique<CByteSim>(*sim, 6);
            SetMode(c.dialogue == Dialogue::Byte ? 1 : 5);
            ASSERT_NO_FATAL_FAILURE(UseLine(Line::Tcp, READER_PROT_VELL4));
        }
        reader->Start();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        if (c.dialogue == Dialogue::Byte) {
            ASSERT_TRUE(WaitFor([&] { return byteSim->Started(); }));
        } else if (c.dialogue == Dialogue::ByteBadMode) {
            ASSERT_TRUE(WaitFor([&] { return !Errors().empty(); }));
        } else if (c.dialogue == Dialogue::EscapedMute) {
            sim->SetMute(true);
        }
        WaitFor([] { return false; }, 300);   // the network events of the connection settle
        const uint32_t before = reader->GetWakeCount();
        WaitFor([] { return false; }, 2000);
        const uint32_t wakes = reader->GetWakeCount() - before;
        EXPECT_GE(wakes, c.least);
        EXPECT_LE(wakes, c.most);
        if (c.dialogue == Dialogue::EscapedMute) {
            // Said once, however many rounds fail.
            EXPECT_GE(escaped->RawRequests().size(), 5u);
            EXPECT_EQ((std::vector<HRESULT>{KV_E_RESPONSE_TIMEOUT}), Errors());
            continue;
        }
        if (c.dialogue != Dialogue::ByteBadMode) {
            EXPECT_TRUE(Errors().empty());
            continue;
        }
        // The hand-edited mode is refused with its reason, once, and no byte went out; the
        // next mode arms the reader.
        EXPECT_EQ((std::vector<HRESULT>{KV_E_INDEX_RANGE}), Errors());
        EXPECT_EQ(kBadMode, seen.back().text);
        EXPECT_TRUE(Logged(std::wstring(L"Error (code 0x80040203): ") + kBadMode));
        EXPECT_TRUE(byteSim->Units().empty());
        SetMode(2);
        ASSERT_TRUE(WaitFor([&] { return byteSim->Started() && byteSim->ArmedMode() == 2; }));
    }
}

TEST_F(DialogueReaderTest, EndlessInputHoldsNoWaitAndStopEndsIt)
{
    for (const Dialogue d : {Dialogue::Escaped, Dialogue::Byte}) {
        SCOPED_TRACE(static_cast<int>(d));
        Restart();
        if (d == Dialogue::Escaped) {
            escaped = std::make_unique<CEscapedSim>(*sim);
            ASSERT_NO_FATAL_FAILURE(UseLine(Line::Tcp, 0));
            reader->Start();
            ASSERT_TRUE(WaitFor([&] { return Connected(); }));
        } else {
            ASSERT_NO_FATAL_FAILURE(ConnectArmed(Line::Tcp, 1));
        }
        // Bytes that hold no frame end, or units that are dropped, faster than the thread
        // takes them while it logs each read.
        const int overflows = LogCount(L"Receive buffer overflow");
        const CFlood flood(*sim, d == Dialogue::Escaped ? '\x55' : '\x01');
        ASSERT_TRUE(WaitFor([&] { return LogCount(L"Receive buffer overflow") > overflows; }));
        if (d == Dialogue::Escaped) {
            // Polls go on, each wait ending at its time-out.
            const int polls = escaped->Polls();
            EXPECT_TRUE(WaitFor([&] { return escaped->Polls() >= polls + 3; }, 8000));
        } else {
            // The thread still takes its requests: a new mode sets off the arming.
            const int resets = byteSim->Resets();
            SetMode(0);
            EXPECT_TRUE(WaitFor([&] { return byteSim->Resets() > resets; }, 8000));
        }
        const DWORD start = GetTickCount();
        reader->Stop();
        EXPECT_LE(GetTickCount() - start, 1500u);
    }
}
