// The PC/SC watcher through the real smart-card calls, answered by the library stand-in's
// virtual readers and cards: availability, card types by ATR, card memory and its failures,
// slots that come and go. The reader-list watch is shown through the shell (PcscShellTest).
#include "tests/reader/ReaderTestFixture.h"

#include <condition_variable>
#include <thread>

#include "reader/CardAtr.h"
#include "reader/CcidConnection.h"
#include "tests/support/ScardStandIn.h"

namespace {

const char kAtrName0001[] = "3B8F8001804F0CA000000306030001000000006A";

// The storage-card ATR above with another card name at historical bytes 9 and 10.
std::string AtrWithName(const char* name)
{
    std::string atr = kAtrName0001;
    atr.replace(26, 4, name);
    return atr;
}

std::vector<BYTE> Bytes(const std::string& hex)
{
    std::vector<BYTE> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

struct Event {
    uint32_t code;
    bool available;     // the slot's flag as the callback saw it
    int type;
    uint32_t flags;
    std::string uid, data;
    HRESULT result;
};

// A registered reader's owner: every event in order, and the card-reading settings it hands out.
class COwner {
public:
    UINT id = 0;
    ReadKeysSettings reading;
    int readingCopies = 0;

    static void OnEvent(void* owner, ICcidWatcher* watcher, const CcidCardEvent* e)
    {
        auto* self = static_cast<COwner*>(owner);
        Event ev{e->code, watcher->IsReaderAvailable(self->id), e->cardType, e->cardFlags, Hex(e->uid), Hex(e->data),
                 e->readResult};
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_events.push_back(ev);
        self->m_changed.notify_all();
    }
    static void Reading(void* owner, ReadKeysSettings* out)
    {
        auto* self = static_cast<COwner*>(owner);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        *out = self->reading;
        ++self->readingCopies;
    }
    HRESULT Register(CCcidConnection& watcher, const wchar_t* name)
    {
        return watcher.AddReader(name, &id, this, &COwner::OnEvent, &COwner::Reading);
    }
    // Waits until the events hold one of the code; returns them all.
    std::vector<Event> WaitFor(uint32_t code, size_t count = 1, DWORD ms = 5000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            return static_cast<size_t>(std::count_if(m_events.begin(), m_events.end(),
                                                     [&](const Event& e) { return e.code == code; })) >= count;
        });
        return m_events;
    }
    std::vector<Event> Take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::exchange(m_events, {});
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
};

class CcidWatcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        NV_SCARD("reset");
        logSettings.folder = temp.Path();
        app.LogSettings = &logSettings;
        app.CcidWatcher = watcher.get();
        watcher->SetAppContext(&app);
    }
    void TearDown() override
    {
        if (HasFailure())
            std::printf("%s\n", Log().c_str());
        watcher.reset();
        scard_standin::Command("reset");
    }
    std::string Log() { return ReadLog(temp.File(L"Norvane.log")); }
    static std::string ReadLog(const std::wstring& path)
    {
        std::string bytes;
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return bytes;
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n)
            bytes.append(buffer, n);
        CloseHandle(h);
        return bytes;
    }
    // Inserts, waits for the card's event or its absence (the removal comes after it), ejects.
    std::vector<Event> Present(COwner& owner, const std::string& reader, const std::string& atr,
                               const std::string& uid = "04A1B2C3", const char* kind = "classic")
    {
        owner.Take();
        EXPECT_EQ("ok", scard_standin::Command("insert|" + reader + "|" + atr + "|" + uid + "|" + kind));
        EXPECT_TRUE(WaitForLog({"[I CCID] SCardDisconnect", "[E CCID] Function \"SCardConnect\""}));
        EXPECT_EQ("ok", scard_standin::Command("eject|" + reader));
        owner.WaitFor(CCID_CARD_LOST);
        // Only the card's own events: the reader's availability may change meanwhile.
        std::vector<Event> events = owner.Take();
        events.erase(std::remove_if(events.begin(), events.end(),
                                    [](const Event& e) { return e.code == CCID_READER_CHANGED; }),
                     events.end());
        return events;
    }
    // Waits for one of the lines to be logged after what earlier waits found.
    bool WaitForLog(std::initializer_list<std::string> texts, DWORD ms = 5000)
    {
        const DWORD start = GetTickCount();
        for (;;) {
            const std::string log = Log();
            for (const std::string& text : texts) {
                const size_t at = log.find(text, m_logSeen);
                if (at != std::string::npos) {
                    m_logSeen = at + text.size();
                    return true;
                }
            }
            if (GetTickCount() - start > ms)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    CTempFolder temp;
    CTestLogSettings logSettings;
    CAppContext app;
    std::unique_ptr<CCcidConnection> watcher = std::make_unique<CCcidConnection>();
    size_t m_logSeen = 0;
};

} // namespace

TEST(CardAtr, ParsedAndIdentifiedWithoutReadingPastTheEnd)
{
    struct Case {
        std::string atr;
        size_t cut;         // bytes handed over (0: all)
        bool parses;
        int type;
        uint32_t flags;
    } cases[] = {
        {kAtrName0001, 0, true, 10, 0x00},
        {kAtrName0001, 19, true, 10, 0x00},         // without TCK
        {kAtrName0001, 18, false, 0, 0},            // the historical bytes no longer fit
        {AtrWithName("0002"), 0, true, 12, 0x00},
        {AtrWithName("0037"), 0, true, 16, 0x19},
        {AtrWithName("0039"), 0, true, 16, 0x29},
        {AtrWithName("0004"), 0, true, 0, 0},       // a card name of no row
        {"3B888001" "4A434F5033503630" "11", 0, true, 18, 0x01},   // whole historical bytes as the key
        {"3B818001" "80" "00", 0, true, 19, 0x00},
        {"3F8F8001804F0CA000000306030001000000006A", 0, true, 0, 0},   // inverse convention
        {"3BF0", 0, false, 0, 0},                  // TA1 to TD1 announced, none there
        {"3B8080", 0, false, 0, 0},                // TD2 announced, missing
        {"3B00", 0, true, 0, 0},                   // no historical bytes
        {"3A00", 0, false, 0, 0},
        {std::string(68, 'A').replace(0, 4, "3B00"), 0, false, 0, 0},   // 34 bytes
    };
    for (const Case& c : cases) {
        std::vector<BYTE> bytes = Bytes(c.atr);
        const size_t length = c.cut ? c.cut : bytes.size();
        AtrInfo atr;
        EXPECT_EQ(c.parses, ParseAtr(bytes.data(), length, atr)) << c.atr << " cut " << c.cut;
        const CardIdentity id = c.parses ? IdentifyCardFromAtr(atr) : CardIdentity{};
        EXPECT_EQ(c.type, id.cardType) << c.atr;
        EXPECT_EQ(c.flags, id.flags) << c.atr;
    }
}

TEST_F(CcidWatcher, ReaderAddedWhileAbsentIsAvailableOnceThenUnavailable)
{
    COwner owner;
    ASSERT_EQ(S_OK, owner.Register(*watcher, L"Vell-4 MF CCID 0"));
    EXPECT_EQ(1u, owner.id);
    auto events = owner.WaitFor(CCID_READER_CHANGED, 2);
    ASSERT_EQ(2u, events.size());
    EXPECT_TRUE(events[0].available) << "reported available before the first status query";
    EXPECT_FALSE(events[1].available);
    EXPECT_TRUE(WaitForLog({"[I CCID] {!} Reader unavailable"}));

    NV_SCARD("add|Vell-4 MF CCID 0");
    events = owner.WaitFor(CCID_READER_CHANGED, 3);
    ASSERT_EQ(3u, events.size());
    EXPECT_TRUE(events[2].available);
    EXPECT_TRUE(watcher->IsReaderAvailable(owner.id));
}

TEST_F(CcidWatcher, CardsByTheirAtrWithTheirUidAndBlock)
{
    NV_SCARD("add|R");
    NV_SCARD("write|R|16|00112233445566778899AABBCCDDEEFF");
    COwner owner;
    owner.reading.classic.enabled = true;   // sector 0, block 1, key A, the default key
    ASSERT_EQ(S_OK, owner.Register(*watcher, L"R"));
    owner.WaitFor(CCID_READER_CHANGED);
    const std::string block = "00112233445566778899AABBCCDDEEFF";
    const std::string readApdus =
        "FF CA 00 00 00;FF 82 00 00 06 D4 08 5E 7A 91 3C;FF 86 00 00 05 01 00 01 60 00;FF B0 00 01 10";
    struct Case {
        std::string atr;
        bool event;
        int type;
        uint32_t flags;
        HRESULT result;
        std::string data, apdus;
    } cases[] = {
        {kAtrName0001, true, 10, 0x00, S_OK, block, readApdus},
        {AtrWithName("0037"), true, 16, 0x19, S_OK, block, readApdus},
        {AtrWithName("0039"), true, 16, 0x29, 1, "", "FF CA 00 00 00"},
        {AtrWithName("0004"), true, 0, 0x00, 1, "", "FF CA 00 00 00"},
        {"3B8F8001804F0CA0", false, 0, 0, 0, "", ""},   // no room for its historical bytes
    };
    for (const Case& c : cases) {
        const auto events = Present(owner, "R", c.atr);
        ASSERT_FALSE(events.empty()) << c.atr;
        EXPECT_EQ(CCID_CARD_LOST, events.back().code) << "the removal is reported: " << c.atr;
        ASSERT_EQ(c.event ? 2u : 1u, events.size()) << c.atr;
        if (c.event) {
            const Event& e = events[0];
            EXPECT_EQ(CCID_CARD_READ, e.code);
            EXPECT_EQ(c.type, e.type) << c.atr;
            EXPECT_EQ(c.flags, e.flags) << c.atr;
            EXPECT_EQ("04A1B2C3", e.uid) << c.atr;
            EXPECT_EQ(c.result, e.result) << c.atr;
            EXPECT_EQ(c.data, e.data) << c.atr;
        }
        EXPECT_EQ(c.apdus, scard_standin::Command("apdus|R")) << c.atr;
    }
    EXPECT_EQ(4, owner.readingCopies) << "one copy of the settings per card read";
    const std::string log = Log();
    for (const char* line : {"[I CCID] {!} Card detected", "[I CCID] SCardConnect", "[I CCID] >> UID (6): 04 A1 B2 C3",
                             "[I CCID] The MC authorization key \"D4 08 5E 7A 91 3C\" is loaded into the reader",
                             "[I CCID] Authorized by the MC at 1 and the key A",
                             "[I CCID] > (1, 16) 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF",
                             "[I CCID] {!} Card lost"})
        EXPECT_NE(std::string::npos, log.find(line)) << line;
}

TEST_F(CcidWatcher, CardMemoryAddressesAndTheirFailures)
{
    COwner owner;
    ASSERT_EQ(S_OK, owner.Register(*watcher, L"R"));
    const std::string uid = "FF CA 00 00 00";
    const std::string load4k = uid + ";FF 82 00 00 06 D4 08 5E 7A 91 3C";
    struct Case {
        const char* what;
        std::string atr;
        const char* kind;
        std::function<void(ReadKeysSettings&)> set;
        std::string fault;       // "PREFIX|REPLY" for the stand-in, or "connect|CODE"
        bool event;
        HRESULT result;
        std::string data, apdus, logLine;
    } cases[] = {
        {"4K sector 32 block 1", AtrWithName("0002"), "classic",
         [](ReadKeysSettings& s) { s.classic.sector = 32; s.classic.block = 1; }, "", true, S_OK,
         "0102030405060708090A0B0C0D0E0F10", load4k + ";FF 86 00 00 05 01 00 81 60 00;FF B0 00 81 10", ""},
        {"4K sector 40", AtrWithName("0002"), "classic", [](ReadKeysSettings& s) { s.classic.sector = 40; }, "", true,
         E_INVALIDARG, "", uid, ""},
        {"negative block", AtrWithName("0002"), "classic",
         [](ReadKeysSettings& s) { s.classic.sector = 5; s.classic.block = -1; }, "", true, E_INVALIDARG, "", uid, ""},
        {"1K sector 1 block 6 key B", kAtrName0001, "classic",
         [](ReadKeysSettings& s) { s.classic.sector = 1; s.classic.block = 6; s.classic.flags = MIFARE_KEY_B; }, "",
         true, S_OK, std::string(32, '0'), load4k + ";FF 86 00 00 05 01 00 06 61 00;FF B0 00 06 10", ""},
        {"authentication refused", AtrWithName("0002"), "classic",
         [](ReadKeysSettings& s) { s.classic.sector = 32; }, "FF86|6300", true, E_FAIL, "",
         load4k + ";FF 86 00 00 05 01 00 81 60 00",
         "[E CCID] MC authorization error at address 129 and key A (code 0x80004005): 0x0063"},
        {"read refused", kAtrName0001, "classic", [](ReadKeysSettings&) {}, "FFB0|6A82", true, E_FAIL, "",
         load4k + ";FF 86 00 00 05 01 00 01 60 00;FF B0 00 01 10",
         "[E CCID] Function \"SCardTransmit\" error -2147467259: 0x826A"},
        {"Ultralight page 4", AtrWithName("0003"), "ul", [](ReadKeysSettings& s) { s.ultralight.page = 4; }, "", true,
         S_OK, "A0A1A2A3B0B1B2B3C0C1C2C3D0D1D2D3", uid + ";FF B0 00 04 10", ""},
        {"Ultralight page 16", AtrWithName("0003"), "ul", [](ReadKeysSettings& s) { s.ultralight.page = 16; }, "",
         true, E_INVALIDARG, "", uid, ""},
        {"UID reply under 2 bytes", kAtrName0001, "classic", [](ReadKeysSettings&) {}, "FFCA|90", false, 0, "", uid,
         "[E CCID] Function \"SCardTransmit\" error -2147220968: Reader sent an invalid response."},
        {"connect refused", kAtrName0001, "classic", [](ReadKeysSettings&) {}, "connect|8010000B", false, 0, "", "",
         "[E CCID] Function \"SCardConnect\" error -2146435061: 0x8010000B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case on a reader of its own, without the faults of the one before.
        NV_SCARD("reset");
        NV_SCARD("add|R");
        NV_SCARD("write|R|2064|0102030405060708090A0B0C0D0E0F10");   // block 129
        NV_SCARD("write|R|16|A0A1A2A3B0B1B2B3C0C1C2C3D0D1D2D3");     // block 1, Ultralight pages 4-7
        ReadKeysSettings settings;
        settings.classic.enabled = true;
        settings.ultralight.enabled = true;
        c.set(settings);
        owner.reading = settings;
        const size_t bar = c.fault.find('|');
        if (c.fault.rfind("connect|", 0) == 0) {
            NV_SCARD("connectfail|R|" + c.fault.substr(bar + 1));
        } else if (!c.fault.empty()) {
            NV_SCARD("fault|R|" + c.fault.substr(0, bar) + "|" + c.fault.substr(bar + 1));
        }
        const auto events = Present(owner, "R", c.atr, "04A1B2C3", c.kind);
        ASSERT_EQ(c.event ? 2u : 1u, events.size());
        if (c.event) {
            EXPECT_EQ("04A1B2C3", events[0].uid);
            EXPECT_EQ(c.result, events[0].result);
            EXPECT_EQ(c.data, events[0].data);
        }
        EXPECT_EQ(c.apdus, scard_standin::Command("apdus|R"));
        if (!c.logLine.empty()) {
            EXPECT_NE(std::string::npos, Log().find(c.logLine)) << c.logLine;
        }
    }
}

TEST_F(CcidWatcher, SlotsComeAndGoAndEachKeepsItsOwnName)
{
    // Short names live inside their slots: a slot array that moves must not leave the reader
    // states pointing at the old places.
    COwner owners[7];
    const wchar_t* names[7] = {L"R1", L"R2", L"R3", L"R4", L"R5", L"R6", L"R7"};
    for (int i = 0; i < 6; ++i) {
        NV_SCARD("add|R" + std::to_string(i + 1));
        ASSERT_EQ(S_OK, owners[i].Register(*watcher, names[i]));
        EXPECT_EQ(static_cast<UINT>(i + 1), owners[i].id);
    }
    watcher->RemoveReader(owners[1].id);
    watcher->RemoveReader(owners[3].id);
    watcher->RemoveReader(owners[5].id);   // the last slot: dropped
    // What the removed registrations reported is not the new ones' news: RemoveReader returns with
    // the watch stopped, so nothing of theirs comes after this.
    for (int i : {1, 3, 5})
        owners[i].Take();
    NV_SCARD("add|R7");
    ASSERT_EQ(S_OK, owners[6].Register(*watcher, names[6]));
    EXPECT_EQ(2u, owners[6].id) << "the first free slot is taken again";
    ASSERT_EQ(S_OK, owners[3].Register(*watcher, names[3]));
    EXPECT_EQ(4u, owners[3].id);
    ASSERT_EQ(S_OK, owners[5].Register(*watcher, names[5]));
    EXPECT_EQ(6u, owners[5].id) << "no free slot left: appended";

    for (int i : {0, 2, 3, 4, 5, 6}) {
        owners[i].WaitFor(CCID_READER_CHANGED);
        owners[i].Take();
    }
    int n = 0;
    for (int i : {0, 2, 3, 4, 5, 6}) {
        const std::string name = "R" + std::to_string(i + 1);
        const std::string uid = "0" + std::to_string(++n) + "0000AA";
        NV_SCARD("insert|" + name + "|" + kAtrName0001 + "|" + uid + "|plain");
        const auto events = owners[i].WaitFor(CCID_CARD_READ);
        ASSERT_EQ(1u, events.size()) << name;
        EXPECT_EQ(uid, events[0].uid) << name;
    }
}

TEST_F(CcidWatcher, OperationsOfTwoThreadsAreSerialised)
{
    NV_SCARD("add|R");
    NV_SCARD("add|S");
    COwner steady;
    ASSERT_EQ(S_OK, steady.Register(*watcher, L"R"));
    // The reader thread re-registers while the UI switches the list watch.
    std::thread readerThread([&] {
        COwner churn;
        for (int i = 0; i < 60; ++i) {
            EXPECT_EQ(S_OK, churn.Register(*watcher, L"S"));
            watcher->RemoveReader(churn.id);
        }
    });
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(S_OK, watcher->EnablePnpWatch(i % 2 == 0));
    readerThread.join();
    EXPECT_FALSE(watcher->IsPnpWatched());
    steady.Take();
    NV_SCARD("insert|R|" + std::string(kAtrName0001) + "|11223344|plain");
    const auto events = steady.WaitFor(CCID_CARD_READ);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ("11223344", events.back().uid);
}

TEST_F(CcidWatcher, WithoutAContextNothingStarts)
{
    NV_SCARD("establishfail|8010001D");
    COwner owner;
    EXPECT_EQ(E_FAIL, watcher->Start());
    EXPECT_EQ(E_FAIL, owner.Register(*watcher, L"R"));
    EXPECT_EQ(0u, owner.id);
    EXPECT_EQ(E_FAIL, watcher->EnablePnpWatch(true));
    EXPECT_FALSE(watcher->IsPnpWatched());
    EXPECT_FALSE(watcher->IsStarted());
    EXPECT_EQ(0u, watcher->GetContext());
}
