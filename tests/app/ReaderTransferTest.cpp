// The road of one key through the running program: a simulated reader on a TCP port or a COM
// pair, the application's drain of the reader, the transfer to the clipboard and its records;
// the reactions to setting changes and the transfer's start and stop.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "core/ResultCodes.h"
#include "core/TextUtil.h"
#include "pages/source/CardReadPages.h"
#include "pages/source/MifareKeysPage.h"
#include "reader/Reader.h"
#include "resources/ids_commands.h"
#include "resources/ids_pages.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TransferTestSupport.h"
#include "tests/support/PortPairs.h"
#include "tools/readersim/ReaderSim.h"
#include "tests/support/ReaderTestPeer.h"

namespace {

const char kKeyA[] = "Em-Marine[0055] 085,12345";  // bytes 39 30 55 55 00
const char kKeyB[] = "Em-Marine[0011] 017,00042";  // bytes 2A 00 11 11 00
constexpr int kEmMarine = 1;

_KEY_NUMBER Key(std::initializer_list<uint8_t> bytes)
{
    const std::vector<uint8_t> v(bytes);
    return MakeKeyNumber(v.data(), v.size());
}

class ReaderTransferTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(kStartContinue, Start());
        CAppSettings& settings = App().GetSettings();
        CDocUpdateScope scope(settings);
        *settings.EditDebugLog() = {true, 5, -1, false};
        settings.SetTransferLog(true);
        settings.SetEventLogEnabled(true);
        CTransferDoc& doc = Doc();
        doc.SetReceiveTimeout(400);
        doc.SetMaxTries(1);
        doc.SetConnectTimeout(2000);
        doc.SetConnectPeriod(300);
        _KV_FORMAT format;
        format.name = L"First";
        format.templ = L"%d";
        format.params = L"x[0]";
        doc.SetDefaultFormatId(doc.GetFormats()[doc.AddFormat(format)]->id);
        doc.SetDestination(L"", DEST_CLIPBOARD);
    }

    void TearDown() override
    {
        if (HasFailure()) {
            for (const _EVENT_RECORD& event : Events())
                std::printf("event %d %d [%ls] %ls\n", event.level, event.stringId, event.attribute.c_str(),
                            event.message.c_str());
            std::printf("%s\n", DebugLog().c_str());
        }
        App().StopTransfer();
        sims.clear();
        AppTest::TearDown();
    }

    static CTransferDoc& Doc() { return App().GetSettings().GetTransferDoc(); }

    // A simulated reader on a loopback port; its port name.
    std::wstring TcpReader()
    {
        sims.push_back(std::make_unique<CReaderSim>());
        const uint16_t port = sims.back()->ListenTcp();
        EXPECT_NE(0, port);
        return L"127.0.0.1:" + std::to_wstring(port);
    }
    CReaderSim& Sim(size_t index = 0) { return *sims.at(index); }

    // Starts the transfer from the reader and waits until it is connected.
    void StartFromReader(const std::wstring& port)
    {
        Doc().SetSource(port, SOURCE_READER);
        ASSERT_TRUE(App().StartTransfer(false));
        ASSERT_TRUE(WaitFor([] { return App().GetReader() && App().GetReader()->GetState() == RDST_CONNECTED; }))
            << DebugLog();
        // The connect notification follows the state.
        ASSERT_TRUE(WaitFor([] { return !EventsOf(215).empty(); }));
    }

    // Pumps the program's messages until cond holds.
    template <class F>
    bool WaitFor(F cond, DWORD timeout = 8000)
    {
        return PumpUntil(cond, timeout);
    }
    void PumpFor(DWORD ms)
    {
        WaitFor([] { return false; }, ms);
    }

    static int Counter() { return App().GetSettings().GetLastTransfer().counter; }
    std::string TransferLog() const { return ReadFileBytes(m_folder.File(L"Transfer.log")); }
    std::string DebugLog() const { return ReadFileBytes(m_folder.File(L"Norvane.log")); }
    static std::vector<_EVENT_RECORD> Events()
    {
        std::vector<_EVENT_RECORD> events;
        CEventLogDb& table = App().GetSettings().GetEventLog();
        for (uint32_t i = 1; i <= table.GetEventCount(); ++i) {
            _EVENT_RECORD event;
            table.ReadEvent(static_cast<int>(i), event);
            events.push_back(event);
        }
        return events;
    }
    static std::vector<_EVENT_RECORD> EventsOf(int stringId)
    {
        std::vector<_EVENT_RECORD> found;
        for (const _EVENT_RECORD& event : Events())
            if (event.stringId == stringId)
                found.push_back(event);
        return found;
    }
    // A key notification as the reader thread queues it, with its post.
    static void QueueKey(int keyType, const _KEY_NUMBER& key)
    {
        ASSERT_TRUE(App().GetReader());
        App().GetReader()->Channel().PushKeyNotification(keyType, key, 0);
    }

    std::vector<std::unique_ptr<CReaderSim>> sims;
};

}  // namespace

TEST_F(ReaderTransferTest, AKeyFromTheReaderReachesTheClipboardWithEveryRecord)
{
    const std::wstring port = TcpReader();
    StartFromReader(port);
    Sim().PresentKey(kKeyA);
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; })) << DebugLog();

    EXPECT_EQ(transfer_test::ClipboardText(), L"57");
    EXPECT_TRUE(transfer_test::EndsWith(TransferLog(), " [EM 0055553039, \"First\"] \"57\" -> \"Copy to Clipboard\"\r\n"))
        << TransferLog();
    EXPECT_EQ(transfer_test::CountOf(TransferLog(), "\r\n"), 1);
    EXPECT_NE(DebugLog().find("Transfer ok"), std::string::npos);
    EXPECT_NE(DebugLog().find("Starting the connection to the reader..."), std::string::npos);

    const std::vector<_EVENT_RECORD> started = EventsOf(201);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].message, L"Transfer started (\"" + port + L"\" -> \"Copy to Clipboard\")");
    const std::vector<_EVENT_RECORD> connected = EventsOf(215);
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0].level, 1);
    EXPECT_EQ(connected[0].attribute, port);
    EXPECT_EQ(connected[0].message, L"Reader connected (Vell-4 USB). s/n 12345 FW v106");
    const std::vector<_EVENT_RECORD> transferred = EventsOf(204);
    ASSERT_EQ(transferred.size(), 1u);
    EXPECT_EQ(transferred[0].message, L"\"57\" -> \"Copy to Clipboard\" (EM 0055553039, \"First\")");
    EXPECT_EQ(Doc().GetDestinationState(), 1);
}

TEST_F(ReaderTransferTest, AKeyFromAReaderOnASerialPortReachesTheClipboard)
{
    NV_REQUIRE_SERIAL_PAIRS();
    const SerialPairInfo* pair = GetSerialPair(1);
    ASSERT_TRUE(pair);
    sims.push_back(std::make_unique<CReaderSim>());
    ASSERT_TRUE(Sim().OpenCom(pair->farName));
    StartFromReader(pair->nearName);
    // Presented again and again while it stays in the field: one transfer.
    for (int i = 0; i < 5; ++i)
        Sim().PresentKey(kKeyA);
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; })) << DebugLog();
    PumpFor(300);

    EXPECT_EQ(Counter(), 1);
    EXPECT_EQ(transfer_test::ClipboardText(), L"57");
    EXPECT_TRUE(transfer_test::EndsWith(TransferLog(), " [EM 0055553039, \"First\"] \"57\" -> \"Copy to Clipboard\"\r\n"))
        << TransferLog();
    EXPECT_EQ(transfer_test::CountOf(TransferLog(), "\r\n"), 1);
    EXPECT_NE(DebugLog().find("Transfer ok"), std::string::npos);
    ASSERT_EQ(EventsOf(215).size(), 1u);
    EXPECT_EQ(EventsOf(215)[0].attribute, pair->nearName);
    ASSERT_EQ(EventsOf(204).size(), 1u);
    EXPECT_EQ(EventsOf(204)[0].message, L"\"57\" -> \"Copy to Clipboard\" (EM 0055553039, \"First\")");
}

TEST_F(ReaderTransferTest, AKeyThatStaysInTheFieldIsTransferredOnce)
{
    StartFromReader(TcpReader());
    for (int i = 0; i < 5; ++i)
        Sim().SendLine(kKeyA);
    // The next key marks the end of the repeats.
    Sim().SendLine(kKeyB);
    ASSERT_TRUE(WaitFor([] { return Counter() == 2; })) << DebugLog();
    PumpFor(300);
    EXPECT_EQ(Counter(), 2);
    EXPECT_EQ(transfer_test::ClipboardText(), L"42");
    EXPECT_EQ(transfer_test::CountOf(TransferLog(), "\"57\" -> "), 1);
    EXPECT_EQ(transfer_test::CountOf(TransferLog(), "\"42\" -> "), 1);
}

TEST_F(ReaderTransferTest, KeysGoToTheKeyListWhateverTheirTypeAndDuplicatesOnlyWhenAllowed)
{
    Doc().SetReaderFlags(READER_BINARY | READER_TO_KEYLIST);
    Doc().SetReadKeyTypes(1u << 2);  // Em-Marine keys would not be transferred
    StartFromReader(TcpReader());
    // An empty list has no selected row: the reader with "toKeylist" is not a ready source.
    Sim().PresentKey(kKeyA);
    ASSERT_TRUE(WaitFor([] { return Doc().GetKeys().size() == 1; }));
    EXPECT_EQ(Doc().GetKeys()[0]->keyType, kEmMarine);
    EXPECT_EQ(Doc().GetKeys()[0]->flags, 0u);
    EXPECT_EQ(Counter(), 0);

    const _KEY_NUMBER same = Doc().GetKeys()[0]->keyNumber;
    QueueKey(kEmMarine, same);
    ASSERT_TRUE(WaitFor([] { return Doc().GetKeys().size() == 2; }));

    Doc().SetKeyListNoDuplicates(1);
    QueueKey(kEmMarine, same);
    QueueKey(2, same);  // the same number with another type is another key
    QueueKey(kEmMarine, Key({1, 2, 3}));
    ASSERT_TRUE(WaitFor([] { return Doc().GetKeys().size() == 4; }));
    PumpFor(200);
    ASSERT_EQ(Doc().GetKeys().size(), 4u);
    EXPECT_EQ(Doc().GetKeys()[2]->keyType, 2);
    EXPECT_TRUE(KeysEqual(Doc().GetKeys()[2]->keyNumber, same));
    EXPECT_TRUE(KeysEqual(Doc().GetKeys()[3]->keyNumber, Key({1, 2, 3})));
    EXPECT_EQ(Counter(), 0);
}

TEST_F(ReaderTransferTest, AKeyTypeOutsideTheTransferMaskIsDroppedSilently)
{
    Doc().SetReadKeyTypes(1u << 2);
    StartFromReader(TcpReader());
    const size_t eventsBefore = Events().size();
    QueueKey(kEmMarine, Key({9, 9}));
    QueueKey(2, Key({7}));
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; }));
    EXPECT_EQ(transfer_test::ClipboardText(), L"7");
    EXPECT_EQ(Events().size(), eventsBefore + 1);  // the one transfer
    EXPECT_TRUE(Doc().GetKeys().empty());
}

// An unticked key type stays in the reader: not reported, not tracked, no event; with
// "toKeylist" the reader reads every type for the key list. Either setting reaches the
// running reader without a reconnect.
TEST_F(ReaderTransferTest, TheReaderReadsTheTickedKeyTypesOrEveryTypeForTheKeyList)
{
    NV_REQUIRE_SERIAL_PAIRS();
    const SerialPairInfo* pair = GetSerialPair(1);
    ASSERT_TRUE(pair);
    sims.push_back(std::make_unique<CReaderSim>());
    ASSERT_TRUE(Sim().OpenCom(pair->farName));
    Doc().SetReadKeyTypes(kAllKeyTypes & ~(1u << kEmMarine));
    StartFromReader(pair->nearName);
    CReader* worker = App().GetReader();
    const size_t eventsBefore = Events().size();

    Sim().PresentKey(kKeyA);
    Sim().PresentKey("HID[0A0B0C] 12345,0");  // read after it: the Em-Marine line has been taken
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; })) << DebugLog();
    EXPECT_EQ(0, transfer_test::CountOf(DebugLog(), "Found key EM ")) << DebugLog();
    EXPECT_EQ(1, transfer_test::CountOf(DebugLog(), "Found key "));
    EXPECT_EQ(eventsBefore + 1, Events().size()) << "the one transfer";
    EXPECT_TRUE(Doc().GetKeys().empty());

    Doc().SetReaderFlags(Doc().reader.flags | READER_TO_KEYLIST);
    Sim().PresentKey(kKeyA);
    ASSERT_TRUE(WaitFor([] { return Doc().GetKeys().size() == 1; })) << DebugLog();
    EXPECT_EQ(kEmMarine, Doc().GetKeys()[0]->keyType);
    EXPECT_EQ(1, Counter()) << "a key of the key list is not transferred";

    // Ticked again after "toKeylist" went off: the next key counts.
    Doc().SetReaderFlags(Doc().reader.flags & ~READER_TO_KEYLIST);
    Doc().SetReadKeyTypes(kAllKeyTypes);
    Sim().PresentKey(kKeyB);
    ASSERT_TRUE(WaitFor([] { return Counter() == 2; })) << DebugLog();
    EXPECT_EQ(transfer_test::ClipboardText(), L"42");
    EXPECT_EQ(1u, Doc().GetKeys().size());
    EXPECT_EQ(worker, App().GetReader());
    EXPECT_EQ(1u, EventsOf(215).size()) << "the reader connected again";
}

// A reader of binary frames with every Mifare type unticked searches for no card at all;
// ticked again as it runs, the card in its field is read.
TEST_F(ReaderTransferTest, ABinaryReaderSearchesForCardsOnlyWhileAMifareTypeIsTicked)
{
    NV_REQUIRE_SERIAL_PAIRS();
    const SerialPairInfo* pair = GetSerialPair(1);
    ASSERT_TRUE(pair);
    sims.push_back(std::make_unique<CReaderSim>());
    Sim().SetIdentity({"Vell-4 USB MF", 0x811, 3003, "1.5", "", 3});
    Sim().Binary().SetModel(3);
    FrameSimCard card;
    card.uid = std::string("\x04\xA1\xB2\xC3", 4);
    Sim().Binary().SetField({card});
    ASSERT_TRUE(Sim().OpenCom(pair->farName));
    constexpr uint32_t kMifareTypes = 0x3FFE00;
    Doc().SetReadKeyTypes(kAllKeyTypes & ~kMifareTypes);
    StartFromReader(pair->nearName);
    CReader* worker = App().GetReader();
    auto framesOf = [this](BYTE code) {
        const std::vector<ReaderSimFrame> frames = Sim().Frames();
        return std::count_if(frames.begin(), frames.end(), [code](const ReaderSimFrame& f) { return f.code == code; });
    };
    constexpr BYTE kBeginSearch = 0x23, kEndSearch = 0x24;

    // Each poll round still ends its search.
    const auto ends = framesOf(kEndSearch);
    ASSERT_TRUE(WaitFor([&] { return framesOf(kEndSearch) >= ends + 3; })) << DebugLog();
    EXPECT_EQ(0, framesOf(kBeginSearch));
    EXPECT_EQ(0, Counter());

    Doc().SetReadKeyTypes(kAllKeyTypes);
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; })) << DebugLog();
    EXPECT_GE(framesOf(kBeginSearch), 1);
    EXPECT_EQ(worker, App().GetReader());
    EXPECT_EQ(1u, EventsOf(215).size()) << "the reader connected again";
}

TEST_F(ReaderTransferTest, StoppingTheTransferStopsTheReaderUnlessAJobIsPending)
{
    StartFromReader(TcpReader());
    EXPECT_EQ(Doc().GetSourceState(), 1);
    EXPECT_EQ(Doc().GetDestinationState(), 1);
    App().StopTransfer();
    EXPECT_FALSE(App().GetReader());
    EXPECT_EQ(Doc().GetSourceState(), 0);
    EXPECT_EQ(Doc().GetDestinationState(), 0);
    ASSERT_EQ(EventsOf(202).size(), 1u);
    EXPECT_EQ(EventsOf(202)[0].message, L"Transfer stopped");
    // Stopping what is not running records nothing more.
    App().StopTransfer();
    EXPECT_EQ(EventsOf(202).size(), 1u);

    // A reader that never connects keeps its job pending.
    Doc().SetSource(L"127.0.0.1:" + std::to_wstring(UnusedLoopbackPort()), SOURCE_READER);
    EXPECT_FALSE(App().GetReader());
    ASSERT_TRUE(App().StartTransfer(false));
    ASSERT_TRUE(App().GetReader());
    {
        // Held so that a failed connect attempt cannot end the job before the stop sees it.
        CCriticalSectionLock lock(&CReaderTestPeer::Lock(*App().GetReader()));
        App().GetReader()->StartJob(RDJOB_TEMIC_INIT, 0, {}, 1);
        App().StopTransfer();
        ASSERT_TRUE(App().GetReader());
        EXPECT_TRUE(App().GetReader()->IsStarted());
    }
    CReaderTestPeer::SetJob(*App().GetReader(), 0, S_OK, 0, 1);
    Doc().SetReaderStopBits(2);  // a reader change applies the source link again
    EXPECT_FALSE(App().GetReader());
}

TEST_F(ReaderTransferTest, ASpeedChangeKeepsTheWorkerAndAnotherPortReplacesIt)
{
    const std::wstring first = TcpReader();
    const std::wstring second = TcpReader();
    StartFromReader(first);
    CReader* worker = App().GetReader();
    const HANDLE thread = worker->GetThreadHandle();
    {
        // Held so that the worker cannot take the request before it is seen here.
        CCriticalSectionLock lock(&CReaderTestPeer::Lock(*worker));
        Doc().SetReaderSpeed(19200);
        EXPECT_EQ(App().GetReader(), worker);
        EXPECT_EQ(worker->GetThreadHandle(), thread);
        EXPECT_EQ(CReaderTestPeer::Requests(*worker) & (RDREQ_SETTINGS | RDREQ_RECONNECT), RDREQ_SETTINGS);
        EXPECT_EQ(worker->GetSettings().speed, 19200u);
    }
    {
        CCriticalSectionLock lock(&CReaderTestPeer::Lock(*worker));
        Doc().SetReaderStopBits(2);
        EXPECT_EQ(App().GetReader(), worker);
        EXPECT_NE(CReaderTestPeer::Requests(*worker) & RDREQ_RECONNECT, 0u);
    }

    Doc().SetSource(second, SOURCE_READER);
    ASSERT_TRUE(App().GetReader());
    EXPECT_EQ(App().GetReader()->GetPortName(), second);
    ASSERT_TRUE(WaitFor([&] { return Sim(1).Connected() && Doc().GetSourceState() == 1; })) << DebugLog();
    EXPECT_NE(DebugLog().find("Reconnecting to the reader (" + WStringToMultiByte(second, CP_ACP) + ")..."),
              std::string::npos);
    Sim(1).PresentKey(kKeyB);
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; }));
    EXPECT_EQ(transfer_test::ClipboardText(), L"42");
}

TEST_F(ReaderTransferTest, AnUnpluggedReaderIsDisconnectedAndComesBackByItself)
{
    NV_REQUIRE_SERIAL_PAIRS();
    struct PlugBack
    {
        ~PlugBack() { SerialPairControl("plug " + std::to_string(kUnplugPairIndex)); }
    } plugBack;
    ASSERT_EQ("", SerialPairControl("plug " + std::to_string(kUnplugPairIndex)));
    const SerialPairInfo* pair = GetSerialPair(kUnplugPairIndex);
    ASSERT_TRUE(pair);
    sims.push_back(std::make_unique<CReaderSim>());
    ASSERT_TRUE(Sim().OpenCom(pair->farName));
    Doc().SetReceiveTimeout(1000);
    Doc().SetMaxTries(2);
    StartFromReader(pair->nearName);
    Sim().PresentKey(kKeyA);
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; })) << DebugLog();

    ASSERT_EQ("", SerialPairControl("unplug " + std::to_string(kUnplugPairIndex)));
    sims.clear();
    ASSERT_TRUE(WaitFor([] { return Doc().GetSourceState() == 0; })) << DebugLog();
    ASSERT_TRUE(WaitFor([] { return !EventsOf(217).empty(); }));
    EXPECT_EQ(EventsOf(217)[0].attribute, pair->nearName);
    EXPECT_EQ(EventsOf(217)[0].message, L"Reader disconnected");

    ASSERT_EQ("", SerialPairControl("plug " + std::to_string(kUnplugPairIndex)));
    sims.push_back(std::make_unique<CReaderSim>());
    ASSERT_TRUE(Sim().OpenCom(pair->farName));
    ASSERT_TRUE(WaitFor([] { return Doc().GetSourceState() == 1 && EventsOf(215).size() == 2; }, 15000));
    Sim().PresentKey(kKeyB);
    ASSERT_TRUE(WaitFor([] { return Counter() == 2; })) << DebugLog();
    EXPECT_EQ(transfer_test::ClipboardText(), L"42");
}

TEST_F(ReaderTransferTest, ReaderErrorsAreEventsAndOnlySomeReplaceTheLastTransferWhileConnected)
{
    const std::wstring port = TcpReader();
    StartFromReader(port);
    // No key has gone yet: the last transfer shows the reader's connect text.
    EXPECT_EQ(App().GetSettings().GetLastTransfer().keyText, L"Reader connected (Vell-4 USB). s/n 12345 FW v106");

    App().GetReader()->Channel().PushErrorNotification(KV_E_READER_ERROR, L"Reader said no");
    ASSERT_TRUE(WaitFor([] { return !EventsOf(206).empty(); }));
    EXPECT_EQ(EventsOf(206)[0].level, 3);
    EXPECT_EQ(EventsOf(206)[0].attribute, port);
    EXPECT_EQ(EventsOf(206)[0].message, L"Error (code 0x80040219): Reader said no");
    EXPECT_EQ(App().GetSettings().GetLastTransfer().errorCode, 0);

    App().GetReader()->Channel().PushErrorNotification(KV_E_UNRECOGNIZED_MSG, L"What was that");
    ASSERT_TRUE(WaitFor([] { return EventsOf(206).size() == 2; }));
    const _LAST_TRANSFER& last = App().GetSettings().GetLastTransfer();
    EXPECT_EQ(static_cast<HRESULT>(last.errorCode), KV_E_UNRECOGNIZED_MSG);
    EXPECT_EQ(last.errorText, L"What was that");
    EXPECT_EQ(last.keyNumber.length, 0);
}

TEST_F(ReaderTransferTest, RestartMakesANewReaderThatDeliversAgain)
{
    const std::wstring port = TcpReader();
    StartFromReader(port);
    ASSERT_TRUE(App().RestartTransfer(false));
    ASSERT_TRUE(App().GetReader());
    const std::vector<_EVENT_RECORD> restarted = EventsOf(203);
    ASSERT_EQ(restarted.size(), 1u);
    EXPECT_EQ(restarted[0].message, L"Transfer restarted (\"" + port + L"\" -> \"Copy to Clipboard\")");
    EXPECT_NE(DebugLog().find("Stop connecting to the reader..."), std::string::npos);
    ASSERT_TRUE(WaitFor([this] { return Sim().PeerCount() == 2 && Doc().GetSourceState() == 1; })) << DebugLog();
    Sim().PresentKey(kKeyA);
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; }));
    EXPECT_EQ(transfer_test::ClipboardText(), L"57");
}

TEST_F(ReaderTransferTest, ClosingTheWindowLeavesNoWorker)
{
    StartFromReader(TcpReader());
    ShutDown();
    EXPECT_FALSE(App().GetReader());
    EXPECT_FALSE(App().GetBridgeLink());
    EXPECT_FALSE(App().GetInetSession());
    EXPECT_FALSE(App().GetSettings().IsTransferEnabled());
    // The reader's peer went away with it.
    EXPECT_TRUE(Sim().WaitUntil([this] { return !Sim().Connected(); }, 3000));
}

namespace {

// Authorization keys in slots 1 to 3 of the Mifare Classic list.
void PutClassicKeys()
{
    std::vector<_KEY_NUMBER>& keys = App().GetSettings().GetTransferDoc().MifareClassicKeys();
    keys.assign(3, _KEY_NUMBER{});
    for (int i = 0; i < 3; ++i) {
        const uint8_t bytes[6] = {static_cast<uint8_t>(0x10 + i), 1, 2, 3, 4, 5};
        keys[static_cast<size_t>(i)] = MakeKeyNumber(bytes, 6);
    }
    App().GetSettings().GetTransferDoc().MifareClassicKeysChanged();
}

std::vector<std::string> WrittenKeyFrames(const CReaderSim& sim)
{
    std::vector<std::string> written;
    for (const ReaderSimFrame& frame : sim.Frames())
        if (frame.code == 0x5F)
            written.push_back(frame.payload);
    return written;
}

}  // namespace

TEST_F(ReaderTransferTest, WritingKeysIntoTheReaderSendsTheChosenSlotsAndTellsTheOutcome)
{
    const std::wstring port = TcpReader();
    Sim().SetIdentity({"CP-Vell-4MF", 0xF11, 77, "1.2", "", 3});
    PutClassicKeys();
    // Not running: the job makes the reader and lets it go afterwards.
    Doc().SetSource(port, SOURCE_READER);
    ASSERT_FALSE(App().GetReader());
    {
        CBoxRobot robot(
            [](HWND d) { return HasText(d, L"The command \"Write keys to the reader memory\" has been successfully completed."); },
            [](HWND d) { PressButton(d, IDOK); });
        Frame()->WriteKeysToReader(false, 0x5, false);  // slots 1 and 3
        ASSERT_TRUE(App().GetReader());
        ASSERT_TRUE(WaitFor([&robot] { return robot.found.load() && !App().GetReader(); })) << DebugLog();
    }
    const std::string slot1 = std::string("\x00\x00\x10\x01\x02\x03\x04\x05", 8);
    const std::string slot3 = std::string("\x00\x02\x12\x01\x02\x03\x04\x05", 8);
    EXPECT_EQ(WrittenKeyFrames(Sim()), (std::vector<std::string>{slot1, slot3}));
    EXPECT_FALSE(Frame()->TimerMask() & 0x4);
}

TEST_F(ReaderTransferTest, ACancelledJobEndsItsProgressDialogAndReportsTheFailure)
{
    const std::wstring port = TcpReader();
    Sim().SetIdentity({"CP-Vell-4MF", 0xF11, 77, "1.2", "", 3});
    PutClassicKeys();
    // A reader that no longer answers keeps the job waiting past the dialog's delay.
    Doc().SetReceiveTimeout(6000);
    StartFromReader(port);
    Sim().SetMute(true);
    std::atomic<bool> sawProgress{false};
    CBoxRobot cancel(
        [](HWND d) { return HasText(d, L"To execute the command \"Write keys to the reader memory\"..."); },
        [&sawProgress](HWND d) {
            sawProgress = true;
            PressButton(d, IDCANCEL);
        });
    CBoxRobot failure(
        [](HWND d) { return HasText(d, L"Failed to execute the command \"Write keys to the reader memory\"."); },
        [](HWND d) { PressButton(d, IDOK); });
    Frame()->WriteKeysToReader(false, 0xFFFFFFFF, false);
    EXPECT_TRUE(Frame()->TimerMask() & 0x4);
    // Timer 2 opens the dialog; its Cancel aborts the job, and the failure is told.
    ASSERT_TRUE(WaitFor([&failure] { return failure.found.load(); }, 15000));
    EXPECT_TRUE(sawProgress);
    EXPECT_FALSE(Frame()->ProgressDialog());
    EXPECT_FALSE(Frame()->TimerMask() & 0x4);
    // The transfer runs: the reader stays.
    ASSERT_TRUE(App().GetReader());
    EXPECT_EQ(App().GetReader()->GetJob().state, E_ABORT);
}

TEST_F(ReaderTransferTest, AJobWithNothingToWriteOrAnUnconfirmedOneDoesNotStart)
{
    Doc().SetSource(TcpReader(), SOURCE_READER);
    {
        CBoxRobot robot([](HWND d) { return HasText(d, L"No keys for writing"); },
                        [](HWND d) { PressButton(d, IDOK); });
        Frame()->WriteKeysToReader(true, 0xFFFFFFFF, false);
        robot.Join();
        EXPECT_TRUE(robot.found);
    }
    EXPECT_FALSE(App().GetReader());
    {
        const uint32_t confirm = App().GetSettings().GetConfirmFlags() | 0x04;
        App().GetSettings().SetConfirmFlags(confirm);
        CBoxRobot robot([](HWND d) { return HasText(d, L"Really?"); }, [](HWND d) { PressButton(d, IDCANCEL); });
        Frame()->InitializeTemic(true);
        robot.Join();
        EXPECT_TRUE(robot.found);
    }
    EXPECT_FALSE(App().GetReader());
    EXPECT_FALSE(Frame()->TimerMask() & 0x4);
}

TEST_F(ReaderTransferTest, UltralightPagesChosenOnThePageAreReadByTheRunningReader)
{
    const std::wstring port = TcpReader();
    std::string pages;
    for (int i = 0; i < 64; ++i)
        pages += static_cast<char>(i + 1);
    Sim().SetUltralightPages(pages);
    StartFromReader(port);
    CReader* worker = App().GetReader();

    CMifareULPage page(App());
    ASSERT_TRUE(page.CreateDialogWindow(Frame()->m_hWnd));
    SendDlgItemMessageW(page.m_hWnd, IDC_UL_ENABLED, BM_CLICK, 0, 0);
    for (const auto& [id, index] : {std::pair{IDC_UL_PAGE, 6}, std::pair{IDC_UL_COUNT, 1}}) {
        SendDlgItemMessageW(page.m_hWnd, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(page.m_hWnd, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(page.m_hWnd, id)));
    }
    // Taken by the reader as it runs: the same worker, no second connection.
    EXPECT_EQ(App().GetReader(), worker);
    EXPECT_EQ(6, worker->GetCardReading().ultralight.page);
    EXPECT_EQ(2, worker->GetCardReading().ultralight.count);

    Sim().PresentKey("Mifare[04A1B2C3D4E5F6] ul");
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; })) << DebugLog();
    EXPECT_NE(Sim().ReceivedText().find("get 06\r"), std::string::npos) << Sim().ReceivedText();
    EXPECT_EQ(1, Sim().PeerCount());
    const _KEY_NUMBER& key = App().GetSettings().GetLastTransfer().keyNumber;
    ASSERT_EQ(8, key.length);
    std::string bytes(reinterpret_cast<const char*>(key.bytes), 8);
    std::sort(bytes.begin(), bytes.end());
    EXPECT_EQ(std::string("\x19\x1A\x1B\x1C\x1D\x1E\x1F\x20"), bytes);
    page.Destroy();

    // A Mifare Classic sector chosen on its page goes the same way.
    CMifareCPage classic(App());
    ASSERT_TRUE(classic.CreateDialogWindow(Frame()->m_hWnd));
    SendDlgItemMessageW(classic.m_hWnd, IDC_MF_SECTOR, CB_SETCURSEL, 32, 0);
    SendMessageW(classic.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_MF_SECTOR, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(classic.m_hWnd, IDC_MF_SECTOR)));
    EXPECT_EQ(App().GetReader(), worker);
    EXPECT_EQ(32, worker->GetCardReading().classic.sector);
    EXPECT_EQ(1, Sim().PeerCount());
    classic.Destroy();
}

TEST_F(ReaderTransferTest, SlotsWrittenFromTheMifarePageReachTheReader)
{
    const std::wstring port = TcpReader();
    Sim().SetIdentity({"CP-Vell-4MF", 0xF11, 77, "1.2", "", 3});
    PutClassicKeys();
    {
        CDocUpdateScope scope(Doc());
        std::vector<_KEY_NUMBER>& keys = Doc().MifareClassicKeys();
        keys.resize(18);
        const uint8_t bytes[6] = {0x17, 1, 2, 3, 4, 5};
        keys[17] = MakeKeyNumber(bytes, 6);
        Doc().MifareClassicKeysChanged();
        Doc().SetMifareClassicEnabled(true);
        Doc().SetMifareClassicFlags(MIFARE_BY_MASK);
    }
    Doc().SetSource(port, SOURCE_READER);
    App().GetSettings().SetConfirmFlags(App().GetSettings().GetConfirmFlags() | CONFIRM_WRITE_KEYS);

    CMifareCPage page(App());
    ASSERT_TRUE(page.CreateDialogWindow(Frame()->m_hWnd));
    const HWND list = GetDlgItem(page.m_hWnd, IDC_MF_SLOT_LIST);
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED;
    for (int row : {1, 17})
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    {
        CBoxRobot question([](HWND d) { return HasText(d, L"Really?"); }, [](HWND d) { PressButton(d, IDOK); });
        CBoxRobot done(
            [](HWND d) { return HasText(d, L"The command \"Write keys to the reader memory\" has been successfully completed."); },
            [](HWND d) { PressButton(d, IDOK); });
        SendMessageW(page.m_hWnd, WM_COMMAND, ID_MFKEYS_WRITE_SELECTED, 0);
        ASSERT_TRUE(WaitFor([&] { return question.found.load() && done.found.load() && !App().GetReader(); })) << DebugLog();
    }
    const std::string slot1 = std::string("\x00\x01\x11\x01\x02\x03\x04\x05", 8);
    const std::string slot17 = std::string("\x01\x01\x17\x01\x02\x03\x04\x05", 8);
    EXPECT_EQ(WrittenKeyFrames(Sim()), (std::vector<std::string>{slot1, slot17}));
    page.Destroy();
}

TEST_F(ReaderTransferTest, TemicScanRequestsAndInitialisationFromThePageReachTheReader)
{
    const std::wstring port = TcpReader();
    {
        CDocUpdateScope scope(Doc());
        Doc().SetTemicEnabled(true);
    }
    StartFromReader(port);
    CTemicPage page(App());
    ASSERT_TRUE(page.CreateDialogWindow(Frame()->m_hWnd));
    SetDlgItemTextW(page.m_hWnd, IDC_TEMIC_SCAN, L"2,0,0;255,0,500;");
    EXPECT_EQ((std::vector<uint32_t>{2, 255 | (500u << 16)}), Doc().readKeys.temic.params);
    const auto cycleSeen = [this] {
        const std::string text = Sim().ReceivedText();
        return text.find("t57 05 81 02 00\rt57 00\rt57 05 81 02 00\r") != std::string::npos;
    };
    ASSERT_TRUE(WaitFor(cycleSeen)) << Sim().ReceivedText();

    // A transponder on the reader for the initialisation.
    ReaderSimTemicCard card;
    Sim().SetTemicCard(&card);
    App().GetSettings().SetConfirmFlags(App().GetSettings().GetConfirmFlags() | CONFIRM_TEMIC);
    const auto succeeded = [](HWND d) {
        for (const std::wstring& text : DialogTexts(d))
            if (text.find(L"has been successfully completed") != std::wstring::npos)
                return true;
        return false;
    };
    {
        CBoxRobot question([](HWND d) { return HasText(d, L"Really?"); }, [](HWND d) { PressButton(d, IDOK); });
        CBoxRobot done(succeeded, [](HWND d) { PressButton(d, IDOK); });
        SendDlgItemMessageW(page.m_hWnd, ID_INIT_TEMIC, BM_CLICK, 0, 0);
        ASSERT_TRUE(WaitFor([&] { return question.found.load() && done.found.load(); })) << DebugLog();
    }
    EXPECT_NE(Sim().ReceivedText().find("t57 01 00 00 14 80 40 02 00\r"), std::string::npos);
    page.Destroy();
}

TEST_F(ReaderTransferTest, ALanguageSwitchKeepsTheReaderAndTheNextKeyIsTransferred)
{
    ASSERT_TRUE(CreateDirectoryW(m_folder.File(L"Languages").c_str(), nullptr));
    const std::wstring library = MultiByteToWString(std::string(NORVANE_TOOLS_DIR) + "/de-de.dll", CP_ACP);
    ASSERT_TRUE(CopyFileW(library.c_str(), m_folder.File(L"Languages\\de-de.dll").c_str(), FALSE));
    App().ListLanguages();
    // The library is let go at the end, whatever happens, so that the test folder can go too.
    struct BuiltInTextsAgain
    {
        ~BuiltInTextsAgain() { App().GetSettings().SetLanguage(L"<internal>"); }
    } builtInAgain;
    StartFromReader(TcpReader());
    const CReader* reader = App().GetReader();
    HWND before = App().GetMainFrameWindow();

    App().GetSettings().SetLanguage(L"de-de");
    ASSERT_NE(before, App().GetMainFrameWindow());
    ASSERT_NE(nullptr, App().LanguageModule());
    EXPECT_EQ(reader, App().GetReader());
    EXPECT_EQ(RDST_CONNECTED, App().GetReader()->GetState());
    EXPECT_TRUE(App().GetSettings().IsTransferEnabled());

    Sim().PresentKey(kKeyA);
    ASSERT_TRUE(WaitFor([] { return Counter() == 1; })) << DebugLog();
    EXPECT_EQ(transfer_test::ClipboardText(), L"57");
}
