// A PC/SC reader: the reader thread registers it with the watcher and hears of its cards on
// the watcher's thread.
#include "tests/reader/ReaderTestFixture.h"
#include <atomic>
#include <thread>
#include "core/ResultCodes.h"

namespace {

// Plays the PC/SC watcher. Like the real one, AddReader and RemoveReader first stop the
// watcher's thread, which may be just delivering an event; if the reader held its own lock
// while calling them, that delivery could never finish.
class CFakeCcid : public ICcidWatcher {
public:
    HRESULT AddReader(const wchar_t* name, UINT* id, void* owner, CcidCardCallback callback,
                      CcidReadingSource) override
    {
        StopWatcherThread();
        m_name = name;
        m_owner = owner;
        m_callback = callback;
        ++adds;
        *id = FAILED(addResult) ? 0 : 1;
        if (SUCCEEDED(addResult))
            Deliver(CcidCardEvent{CCID_READER_CHANGED});   // the first pass reports availability
        return addResult;
    }

    void RemoveReader(UINT) override
    {
        StopWatcherThread();
        m_callback = nullptr;
        ++removes;
    }

    bool IsReaderAvailable(UINT id) override { return id == 1 && available; }

    // One event from the watcher's thread.
    void Deliver(const CcidCardEvent& event)
    {
        if (!m_callback)
            return;
        std::thread t([this, event] { m_callback(m_owner, this, &event); });
        t.join();
    }

    void DeliverCard(int type, const std::vector<BYTE>& uid, HRESULT result, const std::vector<BYTE>& data = {})
    {
        CcidCardEvent e{CCID_CARD_READ};
        e.cardType = type;
        e.uid = MakeKeyNumber(uid.data(), uid.size());
        e.data = MakeKeyNumber(data.data(), data.size());
        e.readResult = result;
        Deliver(e);
    }

    std::wstring m_name;
    std::atomic<HRESULT> addResult{S_OK};
    std::atomic<bool> available{true};
    std::atomic<int> adds{0};
    std::atomic<int> removes{0};
    std::atomic<int> stuck{0};

private:
    void StopWatcherThread()
    {
        if (!m_callback)
            return;
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread t([this, done] {
            CcidCardEvent e{CCID_READER_CHANGED};
            m_callback(m_owner, this, &e);
            SetEvent(done);
        });
        if (WaitForSingleObject(done, 2000) == WAIT_OBJECT_0) {
            t.join();
            CloseHandle(done);
        } else {
            // Deadlocked on the reader's lock: it ends once the reader lets go.
            ++stuck;
            t.detach();
        }
    }

    void* m_owner = nullptr;
    CcidCardCallback m_callback = nullptr;
};

class ReaderCcidTest : public ReaderThreadTest {
protected:
    void StartCcid()
    {
        reader->SetCcidWatcher(&ccid);
        SetPort(L"Fake Reader 0");
        Configure([](ReaderSettings& s) { s.connectPeriod = 300; });
        reader->Start();
    }
    bool Found(int n) { return LogCount(L"Found key") >= n; }

    CFakeCcid ccid;
};

const std::vector<BYTE> kUid1 = {0x04, 0xA1, 0xB2, 0xC3};
const std::vector<BYTE> kUid2 = {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

} // namespace

TEST_F(ReaderCcidTest, CardsAreReportedOnceWhileTheyStay)
{
    StartCcid();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_EQ(L"Fake Reader 0", ccid.m_name);
    EXPECT_TRUE(Logged(L"Reader connected (Vell-4 MF CCID)."));

    ccid.DeliverCard(10, kUid1, KEYMEM_REPORT_KEY);
    ccid.DeliverCard(10, kUid1, KEYMEM_REPORT_KEY);                  // still there
    ccid.Deliver(CcidCardEvent{CCID_CARD_LOST});
    ccid.DeliverCard(10, kUid1, KEYMEM_REPORT_KEY);                  // back at once
    ccid.Deliver(CcidCardEvent{CCID_CARD_LOST});
    ccid.DeliverCard(12, kUid2, KV_E_KEY_AUTH);                      // the memory read failed
    ASSERT_TRUE(WaitFor([&] { return seen.size() >= 4; }));
    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ((std::vector<std::string>{"04A1B2C3", "04A1B2C3"}), Keys());
    EXPECT_EQ((std::vector<HRESULT>{KV_E_KEY_AUTH}), Errors());
    EXPECT_EQ(L"Key authorization error.", seen.back().text);
}

TEST_F(ReaderCcidTest, APendingMemoryReadReportsOnlyWhenItEnds)
{
    StartCcid();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    ccid.DeliverCard(10, kUid1, KEYMEM_READING);
    ASSERT_TRUE(WaitFor([&] { return Found(1); }));
    ccid.DeliverCard(10, kUid1, KEYMEM_READING);
    ccid.DeliverCard(10, kUid1, KEYMEM_REPORT_MEMORY, {0xDE, 0xAD, 0xBE, 0xEF});
    ASSERT_TRUE(WaitFor([&] { return !Keys().empty(); }));
    ccid.DeliverCard(10, kUid1, KEYMEM_REPORT_MEMORY, {0xDE, 0xAD, 0xBE, 0xEF});
    ccid.DeliverCard(12, kUid2, KEYMEM_REPORT_KEY);                  // a marker
    ASSERT_TRUE(WaitFor([&] { return Keys().size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"DEADBEEF", "04112233445566"}), Keys());
    EXPECT_TRUE(Errors().empty());
}

TEST_F(ReaderCcidTest, TheWatcherIsNeverCalledUnderTheReaderLock)
{
    StartCcid();
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    // The reader goes away and comes back: a new registration.
    ccid.available = false;
    ccid.Deliver(CcidCardEvent{CCID_READER_CHANGED});
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_DISCONNECT) == 1; }));
    ccid.available = true;
    ASSERT_TRUE(WaitFor([&] { return Count(RDMSG_CONNECT) == 2; }));
    reader->Reconnect();
    ASSERT_TRUE(WaitFor([&] { return ccid.adds == 3; }));
    reader->Stop();
    EXPECT_EQ(3, ccid.removes);
    EXPECT_EQ(0, ccid.stuck);
}

TEST_F(ReaderCcidTest, AFailedRegistrationIsReportedAndRetried)
{
    ccid.addResult = E_FAIL;
    StartCcid();
    ASSERT_TRUE(WaitFor([&] { return Errors().size() == 1; }));
    EXPECT_EQ(E_FAIL, Errors()[0]);
    EXPECT_EQ(0, Count(RDMSG_CONNECT));
    ccid.addResult = S_OK;
    ASSERT_TRUE(WaitFor([&] { return Connected(); }));
    EXPECT_GE(ccid.adds, 2);
}
