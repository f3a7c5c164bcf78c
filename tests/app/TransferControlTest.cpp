// Transfer control without a reader: the key list as the source with "Next key" and its timer,
// the start's refusals, the ready words of the destinations and the links they need.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppTransfer.h"
#include "app/CommandTexts.h"
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/StartUp.h"
#include "core/ResultCodes.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TransferTestSupport.h"
#include "tests/support/PortPairs.h"
#include "transfer/Portavo.h"

namespace {

constexpr int kEmMarine = 1;
constexpr int kHid = 2;
constexpr int kCod433 = 4;

class TransferControlTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(kStartContinue, Start());
        CAppSettings& settings = App().GetSettings();
        CDocUpdateScope scope(settings);
        *settings.EditDebugLog() = {true, 5, -1, false};
        settings.SetEventLogEnabled(true);
        UseFormat(L"%d", L"x[0]");
        CTransferDoc& doc = Doc();
        doc.SetDestination(L"", DEST_CLIPBOARD);
        doc.SetReadKeyTypes((1u << kEmMarine) | (1u << kHid));
    }

    void TearDown() override
    {
        App().StopTransfer();
        AppTest::TearDown();
    }

    static CTransferDoc& Doc() { return App().GetSettings().GetTransferDoc(); }

    static uint32_t UseFormat(const wchar_t* templ, const wchar_t* params)
    {
        _KV_FORMAT format;
        format.name = std::wstring(L"F ") + templ + params;
        format.templ = templ;
        format.params = params;
        const uint32_t id = Doc().GetFormats()[Doc().AddFormat(format)]->id;
        Doc().SetDefaultFormatId(id);
        return id;
    }

    static void AddKey(int keyType, uint8_t byte)
    {
        _KV_KEY key;
        key.keyType = keyType;
        key.keyNumber = MakeKeyNumber(&byte, 1);
        Doc().AddKey(key);
    }
    static const _KV_KEY& Row(size_t index) { return *Doc().GetKeys().at(index); }
    static bool Selected(size_t index) { return (Row(index).flags & KVKEY_SELECTED) != 0; }
    static bool Transferred(size_t index) { return (Row(index).flags & KVKEY_TRANSFERRED) != 0; }

    void StartFromKeyList()
    {
        Doc().SetSource(L"List of keys", SOURCE_KEYLIST);
        ASSERT_TRUE(App().StartTransfer(false));
    }

    bool KeyListTimerRuns() const { return (Frame()->TimerMask() & 0x2) != 0; }
    static int Counter() { return App().GetSettings().GetLastTransfer().counter; }

    static std::vector<_EVENT_RECORD> EventsOf(int stringId)
    {
        std::vector<_EVENT_RECORD> found;
        CEventLogDb& table = App().GetSettings().GetEventLog();
        for (uint32_t i = 1; i <= table.GetEventCount(); ++i) {
            _EVENT_RECORD event;
            table.ReadEvent(static_cast<int>(i), event);
            if (event.stringId == stringId)
                found.push_back(event);
        }
        return found;
    }

    template <class F>
    bool WaitFor(F cond, DWORD timeout = 8000)
    {
        return PumpUntil(cond, timeout);
    }
};

}  // namespace

TEST_F(TransferControlTest, NextKeyWalksTheEligibleRowsAndTheLastOneEndsTheSource)
{
    AddKey(kEmMarine, 5);
    AddKey(kCod433, 6);  // not among the key types to transfer
    AddKey(kHid, 7);
    StartFromKeyList();
    // Starting selects the first row, which makes the key list a ready source.
    EXPECT_TRUE(Selected(0));
    EXPECT_EQ(Doc().GetSourceState(), 1);
    EXPECT_EQ(Doc().GetDestinationState(), 1);

    EXPECT_TRUE(App().TransferNextKey());
    EXPECT_EQ(transfer_test::ClipboardText(), L"5");
    EXPECT_TRUE(Transferred(0));
    EXPECT_FALSE(Selected(0));
    EXPECT_FALSE(Selected(1));
    EXPECT_TRUE(Selected(2));
    EXPECT_EQ(Doc().GetSourceState(), 1);

    // The last eligible row: transferred, the selection cleared, the source no longer ready.
    EXPECT_TRUE(App().TransferNextKey());
    EXPECT_EQ(transfer_test::ClipboardText(), L"7");
    EXPECT_TRUE(Transferred(2));
    EXPECT_FALSE(Selected(2));
    EXPECT_FALSE(Transferred(1));
    EXPECT_EQ(Doc().GetSourceState(), 0);

    EXPECT_FALSE(App().TransferNextKey());
    EXPECT_EQ(Counter(), 2);
    EXPECT_NE(transfer_test::ReadFileBytes(m_folder.File(L"Norvane.log")).find("Next key"), std::string::npos);
}

TEST_F(TransferControlTest, NoEligibleRowFromTheSelectionOnIsTheEndOfTheList)
{
    App().GetSettings().SetSoundsEnabled(true);
    AddKey(kEmMarine, 5);
    AddKey(kCod433, 6);
    StartFromKeyList();
    {
        CDocUpdateScope scope(App().GetSettings());
        Doc().GetKeys()[0]->flags &= ~KVKEY_SELECTED;
        Doc().GetKeys()[1]->flags |= KVKEY_SELECTED;
        App().GetSettings().RaiseChange(ASC_KEYLIST_SELECTION, 0, false);
    }
    ASSERT_EQ(Doc().GetSourceState(), 1);
    const int soundsBefore = GetTransferShellRequests().sounds;

    EXPECT_FALSE(App().TransferNextKey());
    EXPECT_EQ(Counter(), 0);
    EXPECT_TRUE(Selected(1));
    EXPECT_EQ(GetTransferShellRequests().sounds, soundsBefore + 1);
    EXPECT_EQ(GetTransferShellRequests().lastSound, 1);
    const std::vector<_EVENT_RECORD> events = EventsOf(206);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, 3);
    EXPECT_EQ(events[0].message, L"Error (code 0x80040244): Reached the end of the list of keys.");
}

TEST_F(TransferControlTest, AFailedKeyKeepsTheSelectionAndStopsTheTimer)
{
    const uint32_t working = Doc().defaultId;
    UseFormat(L"%d", L"x[");  // parameters that do not parse
    AddKey(kEmMarine, 5);
    AddKey(kHid, 7);
    Doc().SetKeyListTimerInterval(60000);
    Doc().SetKeyListTimerEnabled(true);
    StartFromKeyList();
    ASSERT_TRUE(KeyListTimerRuns());

    EXPECT_FALSE(App().TransferNextKey());
    EXPECT_TRUE(Selected(0));
    EXPECT_FALSE(Selected(1));
    EXPECT_FALSE(Transferred(0));
    EXPECT_FALSE(KeyListTimerRuns());
    EXPECT_TRUE(FAILED(App().GetSettings().GetLastTransfer().errorCode));
    EXPECT_EQ(Counter(), 0);

    // Mended, the same key is the next one.
    Doc().SetDefaultFormatId(working);
    EXPECT_TRUE(App().TransferNextKey());
    EXPECT_EQ(transfer_test::ClipboardText(), L"5");
    EXPECT_TRUE(Selected(1));
}

TEST_F(TransferControlTest, TheKeyListTimerTransfersRowAfterRowAndStopsAtTheEnd)
{
    AddKey(kEmMarine, 1);
    AddKey(kEmMarine, 2);
    AddKey(kHid, 3);
    Doc().SetKeyListTimerInterval(50);
    Doc().SetKeyListTimerEnabled(true);
    EXPECT_FALSE(KeyListTimerRuns());  // not while the transfer is off
    StartFromKeyList();
    ASSERT_TRUE(WaitFor([] { return Counter() == 3; }));
    EXPECT_EQ(transfer_test::ClipboardText(), L"3");
    ASSERT_TRUE(WaitFor([this] { return !KeyListTimerRuns(); }));
    EXPECT_EQ(Doc().GetSourceState(), 0);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(Transferred(i)) << i;
}

TEST_F(TransferControlTest, StartWithoutASourceIsRefused)
{
    Doc().SetSource(L"", SOURCE_NONE);
    EXPECT_FALSE(App().StartTransfer(false));
    EXPECT_FALSE(App().GetSettings().IsTransferEnabled());
    EXPECT_TRUE(EventsOf(201).empty());
    EXPECT_EQ(Doc().GetDestinationState(), 0);
}

TEST_F(TransferControlTest, AStartNobodyWatchesLogsItsFailureAndRecordsItsEvent)
{
    // Hidden, by autorun, by "/start" or a hand-over: no box, so the log and the table tell.
    Doc().SetSource(L"", SOURCE_NONE);
    EXPECT_FALSE(App().StartTransfer(false));
    std::wstring text;
    LoadResString(IDS_NO_SOURCE, text);
    ASSERT_NE(text.find(L"Source is not selected."), std::wstring::npos);
    const std::vector<_EVENT_RECORD> events = EventsOf(IDS_NO_SOURCE);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, 3);
    EXPECT_EQ(events[0].message, text);
    const std::string log = transfer_test::ReadFileBytes(m_folder.File(L"Norvane.log"));
    EXPECT_NE(log.find("[E] Source is not selected.\\n Enter"), std::string::npos) << log;
}

namespace {
std::wstring g_elevatedArguments;
}  // namespace

TEST_F(TransferControlTest, TypingAsAdministratorRestartsElevatedInsteadOfStarting)
{
    m_system.checkElevation = [](bool* elevated) -> HRESULT {
        *elevated = false;
        return S_OK;
    };
    m_system.executeShell = [](SHELLEXECUTEINFOW* info) -> BOOL {
        g_elevatedArguments = info->lpParameters ? info->lpParameters : L"";
        return TRUE;
    };
    Doc().SetDestination(L"", DEST_KEYBOARD);
    Doc().SetKeyboardStartAdmin(true);
    Doc().SetSource(L"List of keys", SOURCE_KEYLIST);
    EXPECT_FALSE(App().StartTransfer(false));
    EXPECT_EQ(g_elevatedArguments, L"/N /start");
    EXPECT_FALSE(App().GetSettings().IsTransferEnabled());
    EXPECT_FALSE(IsWindow(FrameWindow()));
}

TEST_F(TransferControlTest, DestinationsGetTheirLinksOnlyWhileTheTransferRuns)
{
    AddKey(kEmMarine, 5);
    Doc().SetDestination(L"", DEST_HTTP);
    StartFromKeyList();
    EXPECT_TRUE(App().GetInetSession());
    EXPECT_EQ(Doc().GetDestinationState(), 1);

    // The bridge's settings while typing: no link.
    Doc().SetDestination(L"", DEST_KEYBOARD);
    EXPECT_FALSE(App().GetInetSession());
    Doc().SetPortavoServer(1234, 2);
    EXPECT_FALSE(App().GetBridgeLink());
    EXPECT_EQ(Doc().GetDestinationState(), 1);

    Doc().SetDestination(L"", DEST_CMDLINE);
    EXPECT_EQ(Doc().GetDestinationState(), 0);  // no program named
    Doc().SetCmdLineProgram(L"notepad.exe");
    EXPECT_EQ(Doc().GetDestinationState(), 1);

    App().StopTransfer();
    EXPECT_EQ(Doc().GetDestinationState(), 0);
    EXPECT_EQ(Doc().GetSourceState(), 0);
    EXPECT_FALSE(App().TransferNextKey());
}

namespace {

SOCKET ConnectToLoopback(USHORT port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

std::wstring LocalName(SOCKET s)
{
    sockaddr_in address{};
    int size = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    return L"127.0.0.1:" + std::to_wstring(ntohs(address.sin_port));
}

}  // namespace

TEST_F(TransferControlTest, BridgeServerPeersAreEventsAndTheLinkStateIsTheReadyWord)
{
    CWinsock winsock;
    AddKey(kEmMarine, 5);
    const USHORT port = UnusedLoopbackPort();
    Doc().SetPortavoType(PORTAVO_SERVER);
    Doc().SetPortavoNvt(false);
    Doc().SetPortavoServer(port, 2);
    Doc().SetDestination(L"", DEST_PORTAVO);
    StartFromKeyList();
    ASSERT_TRUE(App().GetBridgeLink());
    EXPECT_EQ(Doc().GetDestinationState(), 0);

    // The link listens a moment after it starts.
    CFarSocket peer;
    ASSERT_TRUE(WaitFor([&] { return (peer = CFarSocket(ConnectToLoopback(port))).IsOpen(); }));
    const std::wstring name = LocalName(peer.Get());
    ASSERT_TRUE(WaitFor([] { return Doc().GetDestinationState() == 1 && !EventsOf(226).empty(); }));
    EXPECT_EQ(EventsOf(226)[0].attribute, L"Portavo");
    EXPECT_EQ(EventsOf(226)[0].message, L"Connection is established (" + name + L")");

    EXPECT_TRUE(App().TransferNextKey());
    EXPECT_EQ(peer.Receive(1, 5000), "5");

    peer.Close();
    ASSERT_TRUE(WaitFor([] { return Doc().GetDestinationState() == 0 && !EventsOf(227).empty(); }));
    EXPECT_EQ(EventsOf(227)[0].message, L"Connection is broken (" + name + L")");

    // Another port while running: a new link; the same settings again: the same link.
    CPortavo* link = App().GetBridgeLink();
    Doc().SetPortavoNvt(false);
    EXPECT_EQ(App().GetBridgeLink(), link);
    const USHORT other = UnusedLoopbackPort();
    Doc().SetPortavoServer(other, 2);
    ASSERT_TRUE(App().GetBridgeLink());
    EXPECT_EQ(App().GetBridgeLink()->GetSettings().port, other);
    const std::string log = transfer_test::ReadFileBytes(m_folder.File(L"Norvane.log"));
    EXPECT_NE(log.find("Reconnecting to Portavo (Server " + std::to_string(other) + ")..."), std::string::npos);
    CFarSocket second;
    ASSERT_TRUE(WaitFor([&] { return (second = CFarSocket(ConnectToLoopback(other))).IsOpen(); }));
    ASSERT_TRUE(WaitFor([] { return Doc().GetDestinationState() == 1; }));

    App().StopTransfer();
    EXPECT_FALSE(App().GetBridgeLink());
    EXPECT_NE(transfer_test::ReadFileBytes(m_folder.File(L"Norvane.log")).find("Stop connection to Portavo..."),
              std::string::npos);
}

TEST_F(TransferControlTest, AnOpenedConfigurationWarnsOfKeyTypesItWillNotTransfer)
{
    AddKey(kEmMarine, 5);
    StartFromKeyList();
    {
        CDocUpdateScope scope(Doc());
        Doc().RaiseStateChange(TDS_OPEN);
    }
    EXPECT_TRUE(EventsOf(519).empty());  // every key type of the list is transferred

    AddKey(kCod433, 6);
    {
        CDocUpdateScope scope(Doc());
        Doc().RaiseStateChange(TDS_OPEN);
    }
    const std::vector<_EVENT_RECORD> warnings = EventsOf(519);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].level, 2);
    EXPECT_EQ(warnings[0].message, L"Some key types are turned off in the Norvane settings");
}

TEST_F(TransferControlTest, TheHotkeyMapFollowsTheListWhileHotkeysAreOn)
{
    CAppSettings& settings = App().GetSettings();
    {
        CDocUpdateScope scope(settings);
        *settings.EditHotkeys() = {MakeHotkeyEntry(32785, 0x70), MakeHotkeyEntry(32786, 0x71),
                            MakeHotkeyEntry(32785, 0x72)};
        settings.RaiseChange(ASC_HOTKEYS, 0, false);
    }
    ASSERT_EQ(GetCommandHotkeys().byCommand.size(), 2u);
    EXPECT_EQ(GetCommandHotkeys().byCommand.at(32785), MakeHotkeyEntry(32785, 0x72));  // the later entry
    EXPECT_EQ(GetCommandHotkeys().byCommand.at(32786), MakeHotkeyEntry(32786, 0x71));

    {
        CDocUpdateScope scope(settings);
        settings.SetHotkeysEnabled(false);
        settings.RaiseChange(ASC_HOTKEYS, 0, false);
    }
    EXPECT_TRUE(GetCommandHotkeys().byCommand.empty());
}
