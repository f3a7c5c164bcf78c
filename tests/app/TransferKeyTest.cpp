// A key's whole transfer: format lookup, rendering, each destination, and what is recorded of
// it (counter, last transfer, sounds, balloon, transfer log, event table, debug log).
#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/AppTransfer.h"
#include "app/NorvaneApp.h"
#include "config/AppSettings.h"
#include "config/EventLogDb.h"
#include "config/KeyNumber.h"
#include "core/AppContext.h"
#include "core/File.h"
#include "core/ResultCodes.h"
#include "core/TextUtil.h"
#include "tests/app/TransferTestSupport.h"
#include "tests/support/FakeSystemServices.h"
#include "tests/support/KeyInputRecorder.h"
#include "tests/support/TempFolder.h"
#include "transfer/HttpDest.h"
#include "transfer/KeySender.h"
#include "transfer/Portavo.h"

using namespace transfer_test;

namespace {

constexpr uint32_t kExtra = 0x15;

class TransferKeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings.SetDataFolder(folder.Path(), false);
        settings.SetTransferLog(true);
        *settings.EditDebugLog() = {true, 5, -1, false};
        settings.SetSoundsEnabled(true);
        context.LogSettings = &settings;
        system.localTime = FixedLogClock;
        system.currentTime = FixedTime;
        settings.GetEventLog().Open(folder.File(L"EventLog.dbf"));

        shell.settings = &settings;
        shell.log = &context;
        shell.playSound = [this](int soundEvent) { sounds.push_back(soundEvent); };
        shell.showBalloon = [this](const std::wstring& title, const std::wstring& text) {
            balloons.push_back(title + L"|" + text);
        };
    }

    CTransferDoc& Doc() { return settings.GetTransferDoc(); }

    // A format that becomes the default one.
    void UseFormat(const wchar_t* name, const wchar_t* templ, const wchar_t* params = L"")
    {
        _KV_FORMAT format;
        format.name = name;
        format.templ = templ;
        format.params = params;
        const size_t index = Doc().AddFormat(format);
        Doc().SetDefaultFormatId(Doc().GetFormats()[index]->id);
    }

    HRESULT Transfer(int keyType = 1, const _KEY_NUMBER& key = kKey0A0B0C)
    {
        return RunKeyTransfer(shell, keyType, key, kExtra);
    }

    std::string TransferLog() const { return ReadFileBytes(folder.File(L"Transfer.log")); }
    std::string DebugLog() const { return ReadFileBytes(folder.File(L"Norvane.log")); }
    std::vector<_EVENT_RECORD> Events()
    {
        std::vector<_EVENT_RECORD> events;
        CEventLogDb& table = settings.GetEventLog();
        for (uint32_t i = 1; i <= table.GetEventCount(); ++i)
        {
            _EVENT_RECORD event;
            table.ReadEvent(static_cast<int>(i), event);
            events.push_back(event);
        }
        return events;
    }

    CFakeSystemServices system;
    CTempFolder folder;
    CAppSettings settings;
    CAppContext context;
    TransferShell shell;
    std::vector<int> sounds;
    std::vector<std::wstring> balloons;
};

}  // namespace

TEST_F(TransferKeyTest, ClipboardTransferIsRecordedEverywhere)
{
    UseFormat(L"Std", L"123");
    Doc().SetDestination(L"", DEST_CLIPBOARD);

    EXPECT_EQ(Transfer(), S_OK);

    EXPECT_EQ(TransferLog(), "05.03.2025 09:07:03 [EM 0C0B0A, \"Std\"] \"123\" -> \"Copy to Clipboard\"\r\n");
    EXPECT_EQ(ClipboardText(), L"123");
    const _LAST_TRANSFER& last = settings.GetLastTransfer();
    EXPECT_EQ(last.counter, 1);
    EXPECT_EQ(last.time.GetTime(), FixedTime());
    EXPECT_EQ(last.keyType, 1);
    EXPECT_TRUE(KeysEqual(last.keyNumber, kKey0A0B0C));
    EXPECT_EQ(last.keyExtra, kExtra);
    EXPECT_EQ(last.errorCode, 0);
    EXPECT_EQ(last.errorText, L"");
    EXPECT_EQ(last.formatName, L"Std");
    EXPECT_EQ(last.transferred, L"123");

    const std::vector<_EVENT_RECORD> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, 1);
    EXPECT_EQ(events[0].stringId, 204);
    EXPECT_EQ(events[0].message, L"\"123\" -> \"Copy to Clipboard\" (EM 0C0B0A, \"Std\")");
    EXPECT_EQ(events[0].time, FixedTime());

    EXPECT_TRUE(EndsWith(DebugLog(), "09:07:03.000 [I] Transfer ok\r\n")) << DebugLog();
    EXPECT_EQ(sounds, std::vector<int>{kTransferSoundSuccess});
    EXPECT_TRUE(balloons.empty());

    // The counter goes on from the stored one.
    EXPECT_EQ(Transfer(), S_OK);
    EXPECT_EQ(settings.GetLastTransfer().counter, 2);
}

TEST_F(TransferKeyTest, KeyWithoutFormatFailsWithoutLogLineOrCount)
{
    Doc().SetDestination(L"", DEST_CLIPBOARD);

    EXPECT_EQ(Transfer(), KV_E_NO_FORMAT);

    EXPECT_EQ(TransferLog(), "<missing>");
    const _LAST_TRANSFER& last = settings.GetLastTransfer();
    EXPECT_EQ(last.counter, 0);
    EXPECT_EQ(last.errorCode, KV_E_NO_FORMAT);
    EXPECT_EQ(last.errorText, L"Format is not specified.");
    EXPECT_EQ(last.formatName, L"");
    const std::vector<_EVENT_RECORD> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, 3);
    EXPECT_EQ(events[0].stringId, 205);
    EXPECT_EQ(events[0].message,
              L"Transfer error (EM 0C0B0A, \"\") (code 0x8004023E): Format is not specified.");
    EXPECT_TRUE(EndsWith(DebugLog(), "09:07:03.000 [E] Transfer fail: Format is not specified.\r\n")) << DebugLog();
    EXPECT_EQ(sounds, std::vector<int>{kTransferSoundFailure});
}

TEST_F(TransferKeyTest, KeyFilterOfTheKeyTypeChoosesTheFormat)
{
    UseFormat(L"Default", L"D");
    _KV_FORMAT other;
    other.name = L"Hid";
    other.templ = L"H";
    const uint32_t hidId = Doc().GetFormats()[Doc().AddFormat(other)]->id;
    KeyFilter filter;
    filter.id = 1;
    filter.name = L"HID only";
    filter.keyTypes = 1u << 2;
    filter.formatId = hidId;
    Doc().KeyFilters().push_back(filter);
    Doc().SetDestination(L"", DEST_CLIPBOARD);

    EXPECT_EQ(Transfer(2, kKey0A0B0C), S_OK);
    EXPECT_EQ(ClipboardText(), L"H");
    EXPECT_EQ(Transfer(1, kKey0A0B0C), S_OK);
    EXPECT_EQ(ClipboardText(), L"D");
    EXPECT_EQ(TransferLog(), "05.03.2025 09:07:03 [HID 0C0B0A, \"Hid\"] \"H\" -> \"Copy to Clipboard\"\r\n"
                             "05.03.2025 09:07:03 [EM 0C0B0A, \"Default\"] \"D\" -> \"Copy to Clipboard\"\r\n");
}

TEST_F(TransferKeyTest, PresetNamesAndEscapesInTheRecords)
{
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    UseFormat(L"\nWiegand", L"W\"1");
    EXPECT_EQ(Transfer(), S_OK);
    UseFormat(L"q\"b\\s]e", L"x");
    EXPECT_EQ(Transfer(), S_OK);

    // The bracket escapes the "]" of the prefix too; reading the line back undoes it.
    EXPECT_EQ(TransferLog(), "05.03.2025 09:07:03 [EM 0C0B0A, \"[P\\] Wiegand\"] \"W\"1\" -> \"Copy to Clipboard\"\r\n"
                             "05.03.2025 09:07:03 [EM 0C0B0A, \"q\\\"b\\\\s\\]e\"] \"x\" -> \"Copy to Clipboard\"\r\n");
    const std::vector<_EVENT_RECORD> events = Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].message, L"\"W\"1\" -> \"Copy to Clipboard\" (EM 0C0B0A, \"[P] Wiegand\")");
    // Only the transfer log escapes.
    EXPECT_EQ(events[1].message, L"\"x\" -> \"Copy to Clipboard\" (EM 0C0B0A, \"q\"b\\s]e\")");
    EXPECT_EQ(settings.GetLastTransfer().formatName, L"q\"b\\s]e");
}

TEST_F(TransferKeyTest, OutputWithLineBreaksStaysOneLogLine)
{
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    UseFormat(L"Lines", L"1\\r\\n2\\n");
    EXPECT_EQ(Transfer(), S_OK);
    EXPECT_EQ(ClipboardText(), L"1\r\n2\n");
    EXPECT_EQ(TransferLog(), "05.03.2025 09:07:03 [EM 0C0B0A, \"Lines\"] \"1\\r\\n2\\n\" -> \"Copy to Clipboard\"\r\n");
    EXPECT_EQ(settings.GetLastTransfer().transferred, L"1\r\n2\n");
}

TEST_F(TransferKeyTest, SwitchedOffRecordsAreNotWritten)
{
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    UseFormat(L"Std", L"123");
    settings.SetTransferLog(false);
    settings.EditDebugLog()->logLevel = 3;  // errors only
    settings.SetSoundsEnabled(false);
    settings.GetEventLog().Close();

    EXPECT_EQ(Transfer(), S_OK);
    EXPECT_EQ(TransferLog(), "<missing>");
    EXPECT_EQ(DebugLog().find("Transfer ok"), std::string::npos);
    EXPECT_TRUE(sounds.empty());
    EXPECT_EQ(settings.GetLastTransfer().counter, 1);

    // Errors reach a debug log at level 2 and above.
    settings.EditDebugLog()->logLevel = 2;
    Doc().SetDefaultFormatId(0);
    EXPECT_EQ(Transfer(), KV_E_NO_FORMAT);
    EXPECT_NE(DebugLog().find("[E] Transfer fail: Format is not specified."), std::string::npos);
    settings.EditDebugLog()->logLevel = 1;
    EXPECT_EQ(Transfer(), KV_E_NO_FORMAT);
    EXPECT_EQ(CountOf(DebugLog(), "Transfer fail"), 1);
}

TEST_F(TransferKeyTest, BalloonShowsTheCutOutputWhenAsked)
{
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    UseFormat(L"Long", L"%0300d", L"1");
    settings.SetTrayIconFlags(0x4);
    EXPECT_EQ(Transfer(), S_OK);
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons[0], L"Transferred key|" + std::wstring(255, L'0'));
    EXPECT_EQ(ClipboardText(), std::wstring(299, L'0') + L"1");

    // A failed transfer shows none.
    Doc().SetDefaultFormatId(0);
    EXPECT_EQ(Transfer(), KV_E_NO_FORMAT);
    EXPECT_EQ(balloons.size(), 1u);
}

TEST_F(TransferKeyTest, RenderingErrorIsCaughtAsAFailureWithItsText)
{
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    UseFormat(L"Broken", L"%d", L"b0 +");
    const HRESULT hr = Transfer();
    EXPECT_EQ(hr, E_FAIL);
    const _LAST_TRANSFER& last = settings.GetLastTransfer();
    EXPECT_EQ(last.errorCode, E_FAIL);
    EXPECT_FALSE(last.errorText.empty());
    const std::vector<_EVENT_RECORD> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].message,
              L"Transfer error (EM 0C0B0A, \"Broken\") (code 0x80004005): " + last.errorText);
    EXPECT_EQ(TransferLog(), "<missing>");
}

TEST_F(TransferKeyTest, UnknownDestinationTypeFails)
{
    UseFormat(L"Std", L"123");
    Doc().SetDestination(L"", 6);
    if (Doc().GetDestinationType() != 6)
        GTEST_SKIP() << "the document keeps destination types to 1-5";
    EXPECT_EQ(Transfer(), E_FAIL);
}

TEST_F(TransferKeyTest, FailingRecordsNeverChangeTheResult)
{
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    UseFormat(L"Std", L"123");
    // A folder in the place of the transfer log, and an event table whose file went away
    // under it, so that neither can be written.
    ASSERT_TRUE(CreateDirectoryW(folder.File(L"Transfer.log").c_str(), nullptr));
    BreakEventTable(settings.GetEventLog());

    EXPECT_EQ(Transfer(), S_OK);
    EXPECT_EQ(settings.GetLastTransfer().counter, 1);
    EXPECT_EQ(ClipboardText(), L"123");
    const std::string log = DebugLog();
    EXPECT_NE(log.find("[E] Transfer log: "), std::string::npos) << log;
    EXPECT_NE(log.find("[E] Event table: "), std::string::npos) << log;
    EXPECT_TRUE(EndsWith(log, "[I] Transfer ok\r\n")) << log;
    EXPECT_EQ(settings.GetEventLog().GetEventCount(), 0u);
}

TEST_F(TransferKeyTest, KeyboardTypesIntoTheForegroundWindowAndRecordsKeyCodes)
{
    UseFormat(L"Enter", L"12\\k0D");
    Doc().SetDestination(L"", DEST_KEYBOARD);
    Doc().SetAfterActivateDelay(kSettleMs);
    Doc().SetAfterPressDelay(0);
    Doc().SetAfterReleaseDelay(0);
    CTypingTarget target(L"Typing Target");
    ASSERT_TRUE(target.MakeForeground());
    {
        CPumpingInput input;
        EXPECT_EQ(Transfer(), S_OK);
    }
    PumpPending();
    EXPECT_EQ(target.EditText(), L"12\r\n");
    EXPECT_EQ(TransferLog(), "05.03.2025 09:07:03 [EM 0C0B0A, \"Enter\"] \"12\\k00D\" -> \"Typing Target\"\r\n");
    EXPECT_EQ(settings.GetLastTransfer().transferred, L"12\\k00D");
    EXPECT_EQ(settings.GetLastTransfer().where, L"Typing Target");
    const std::vector<_EVENT_RECORD> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].message, L"\"12\\k00D\" -> \"Typing Target\" (EM 0C0B0A, \"Enter\")");
}

TEST_F(TransferKeyTest, CommandLineStartsTheProgramWithTheText)
{
    CArgEcho echo(folder);
    ASSERT_TRUE(echo.Ready());
    UseFormat(L"Std", L"123");
    Doc().SetCmdLineProgram(echo.Program());
    Doc().SetCmdLineArguments(L"k=%KeyNum%");
    Doc().SetDestination(L"", DEST_CMDLINE);

    EXPECT_EQ(Transfer(), S_OK);
    EXPECT_EQ(echo.WaitForArguments(), std::vector<std::wstring>{L"k=123"});
    EXPECT_EQ(TransferLog(), "05.03.2025 09:07:03 [EM 0C0B0A, \"Std\"] \"123\" -> \"Command Line\"\r\n");

    Doc().SetCmdLineProgram(L"");
    EXPECT_EQ(Transfer(), E_INVALIDARG);
    EXPECT_EQ(settings.GetLastTransfer().errorText, SystemText(E_INVALIDARG));
}

TEST_F(TransferKeyTest, HttpRequestWithStatusCodes)
{
    CHttpResponder server;
    UseFormat(L"Std", L"1 2");
    Doc().SetDestination(L"", DEST_HTTP);
    const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(server.Port());

    Doc().SetHttpAddress(base + L"/add?k=%keynum%");
    EXPECT_EQ(Transfer(), S_OK);
    EXPECT_EQ(server.RequestLines(), std::vector<std::string>{"GET /add?k=1+2 HTTP/1.1"});
    EXPECT_EQ(TransferLog(), "05.03.2025 09:07:03 [EM 0C0B0A, \"Std\"] \"1 2\" -> \"" +
                                 WStringToMultiByte(base, CP_ACP) + "/add?k=1+2\"\r\n");

    Doc().SetHttpAddress(base + L"/404?k=%keynum%");
    EXPECT_EQ(Transfer(), KV_E_HTTP_SERVER);
    const _LAST_TRANSFER& last = settings.GetLastTransfer();
    EXPECT_EQ(last.errorText, L"Error http server. Code: 404.");
    const std::vector<_EVENT_RECORD> events = Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].message,
              L"Transfer error (EM 0C0B0A, \"Std\") (code 0x80040245): Error http server. Code: 404.");
    EXPECT_EQ(settings.GetLastTransfer().counter, 1);
}

TEST(ApplicationTransfer, TransferKeyWorksOnTheApplicationsSettings)
{
    CTempFolder folder;
    CAppSettings& settings = App().GetSettings();
    settings.SetDataFolder(folder.Path(), false);
    settings.SetTransferLog(true);
    settings.SetSoundsEnabled(true);
    CTransferDoc& doc = settings.GetTransferDoc();
    _KV_FORMAT format;
    format.name = L"App";
    format.templ = L"A1";
    doc.SetDefaultFormatId(doc.GetFormats()[doc.AddFormat(format)]->id);
    doc.SetDestination(L"", DEST_CLIPBOARD);
    const int soundsBefore = GetTransferShellRequests().sounds;

    EXPECT_EQ(App().TransferKey(7, kKey0A0B0C, 0), S_OK);
    EXPECT_EQ(ClipboardText(), L"A1");
    EXPECT_EQ(GetTransferShellRequests().sounds, soundsBefore + 1);
    EXPECT_EQ(GetTransferShellRequests().lastSound, kTransferSoundSuccess);
    const std::string line = ReadFileBytes(folder.File(L"Transfer.log"));
    EXPECT_NE(line.find(" [DS 0C0B0A, \"App\"] \"A1\" -> \"Copy to Clipboard\"\r\n"), std::string::npos) << line;

    settings.SetTransferLog(false);
    settings.SetSoundsEnabled(false);
    settings.SetDataFolder(L"", false);
}

TEST_F(TransferKeyTest, BridgeLinkThatDoesNotRunFails)
{
    UseFormat(L"Std", L"123");
    Doc().SetDestination(L"", DEST_PORTAVO);
    EXPECT_EQ(Transfer(), KV_E_NO_PORTAVO);
    EXPECT_EQ(settings.GetLastTransfer().errorText, L"No connection with Portavo.");
    EXPECT_EQ(settings.GetLastTransfer().counter, 0);
    EXPECT_EQ(TransferLog(), "<missing>");
    const std::vector<_EVENT_RECORD> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].message, L"Transfer error (EM 0C0B0A, \"Std\") (code 0x80040240): No connection with Portavo.");
}

// A loopback listener plays the bridge program; the link connects to it as a client.
TEST_F(TransferKeyTest, ConnectedBridgeLinkCarriesTheTextToThePeer)
{
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    int len = sizeof(addr);
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::wstring address = L"127.0.0.1:" + std::to_wstring(ntohs(addr.sin_port));

    PortavoSettings link;
    link.type = 1;
    link.nvt = false;
    link.address = address;
    CPortavo bridge(&context, link);
    shell.targets.bridge = &bridge;
    UseFormat(L"Std", L"123");
    Doc().SetDestination(L"", DEST_PORTAVO);

    bridge.Start();
    SOCKET peer = accept(listener, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);
    for (int i = 0; i < 500 && bridge.GetState() != PTV_STATE_CONNECTED; ++i)
        Sleep(10);
    ASSERT_EQ(bridge.GetState(), PTV_STATE_CONNECTED);

    EXPECT_EQ(Transfer(), S_OK);
    DWORD timeout = 5000;
    setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    char buffer[16] = {};
    int got = 0;
    while (got < 3)
    {
        const int n = recv(peer, buffer + got, static_cast<int>(sizeof(buffer)) - got, 0);
        if (n <= 0)
            break;
        got += n;
    }
    EXPECT_EQ(std::string(buffer, got), "123");
    EXPECT_EQ(settings.GetLastTransfer().where, address);
    EXPECT_EQ(settings.GetLastTransfer().counter, 1);
    EXPECT_NE(TransferLog().find("\"123\" -> \"" + WStringToMultiByte(address, CP_ACP) + "\"\r\n"), std::string::npos);

    bridge.Stop();
    shell.targets.bridge = nullptr;
    closesocket(peer);
    closesocket(listener);
    WSACleanup();
}

TEST_F(TransferKeyTest, RunningBridgeLinkWithoutAPeerFailsAndQueuesNothing)
{
    PortavoSettings link;
    link.type = 1;
    link.address = L"127.0.0.1:1";  // nothing listens on port 1
    link.connectPeriod = -1;
    CPortavo bridge(&context, link);
    shell.targets.bridge = &bridge;
    UseFormat(L"Std", L"123");
    Doc().SetDestination(L"", DEST_PORTAVO);
    bridge.Start();

    EXPECT_EQ(Transfer(), KV_E_NO_PORTAVO);
    EXPECT_EQ(settings.GetLastTransfer().counter, 0);
    EXPECT_EQ(TransferLog(), "<missing>");
    bridge.Stop();
    shell.targets.bridge = nullptr;
}

TEST_F(TransferKeyTest, TransferOkIsLoggedFromLevelFourOn)
{
    UseFormat(L"Std", L"123");
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    *settings.EditDebugLog() = {true, 3, -1, false};
    EXPECT_EQ(Transfer(), S_OK);
    EXPECT_EQ(DebugLog().find("Transfer ok"), std::string::npos);
    *settings.EditDebugLog() = {true, 4, -1, false};
    EXPECT_EQ(Transfer(), S_OK);
    EXPECT_NE(DebugLog().find("Transfer ok"), std::string::npos);
}

// ---- Failures that used to be reported as deliveries ----

namespace {

// Holds the clipboard open on a thread of its own until released, as another program would.
class CClipboardHolder
{
public:
    CClipboardHolder()
    {
        m_opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([this] {
            HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
            held = OpenClipboard(owner) != FALSE;
            SetEvent(m_opened);
            WaitForSingleObject(m_release, 10000);
            if (held)
                CloseClipboard();
            DestroyWindow(owner);
        });
        WaitForSingleObject(m_opened, 10000);
    }
    ~CClipboardHolder()
    {
        Release();
        CloseHandle(m_opened);
        CloseHandle(m_release);
    }
    void Release()
    {
        SetEvent(m_release);
        if (m_thread.joinable())
            m_thread.join();
    }
    bool held = false;

private:
    HANDLE m_opened;
    HANDLE m_release;
    std::thread m_thread;
};

}  // namespace

TEST_F(TransferKeyTest, ClipboardHeldByAnotherProgramFailsWithItsErrorAndIsNotCounted)
{
    UseFormat(L"Std", L"123");
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    CClipboardHolder holder;
    ASSERT_TRUE(holder.held);

    const HRESULT result = Transfer();
    EXPECT_EQ(static_cast<uint32_t>(result) & 0xFFFF0000u, 0x80070000u) << std::hex << result;
    const _LAST_TRANSFER& last = settings.GetLastTransfer();
    EXPECT_EQ(last.counter, 0);
    EXPECT_EQ(last.errorCode, result);
    EXPECT_FALSE(last.errorText.empty());
    EXPECT_EQ(TransferLog(), "<missing>");
    const std::vector<_EVENT_RECORD> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, 3);
    EXPECT_EQ(events[0].stringId, 205);
    EXPECT_EQ(sounds, std::vector<int>{kTransferSoundFailure});
    EXPECT_TRUE(EndsWith(DebugLog(), "[E] Transfer fail: " + WStringToMultiByte(last.errorText, CP_ACP) + "\r\n"))
        << DebugLog();

    holder.Release();
    EXPECT_EQ(Transfer(), S_OK);
    EXPECT_EQ(ClipboardText(), L"123");
    EXPECT_EQ(settings.GetLastTransfer().counter, 1);
}

TEST_F(TransferKeyTest, KeyboardInputTheSystemRefusesIsNoDelivery)
{
    UseFormat(L"Std", L"12");
    Doc().SetDestination(L"", DEST_KEYBOARD);
    Doc().SetAfterActivateDelay(0);
    Doc().SetAfterPressDelay(0);
    CTypingTarget target(L"Refusing Target");
    ASSERT_TRUE(target.MakeForeground());
    CKeyInputRecorder input;
    input.refuseFrom = 2;   // the first key goes down, then nothing more is taken
    EXPECT_EQ(Transfer(), static_cast<HRESULT>(0x80070005));
    EXPECT_EQ(input.events, (std::vector<std::string>{"block on", "U+0031 down", "block off"}));
    EXPECT_EQ(settings.GetLastTransfer().counter, 0);
    EXPECT_EQ(settings.GetLastTransfer().errorText, SystemText(static_cast<HRESULT>(0x80070005)));
    EXPECT_EQ(TransferLog(), "<missing>");
    EXPECT_EQ(DebugLog().find("Transfer ok"), std::string::npos);
}

TEST_F(TransferKeyTest, HttpLibraryErrorsAreRecordedWithTheirTexts)
{
    int deadPort;
    {
        CHttpResponder gone;
        deadPort = gone.Port();
    }
    UseFormat(L"Std", L"1");
    Doc().SetDestination(L"", DEST_HTTP);
    Doc().SetHttpAddress(L"http://127.0.0.1:" + std::to_wstring(deadPort) + L"/k=%keynum%");
    const HRESULT refused = static_cast<HRESULT>(0x80070000u | ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_EQ(Transfer(), refused);
    std::wstring text;
    ASSERT_TRUE(GetInternetErrorText(ERROR_INTERNET_CANNOT_CONNECT, text));
    EXPECT_EQ(settings.GetLastTransfer().errorText, text);
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].message, L"Transfer error (EM 0C0B0A, \"Std\") (code 0x80072EFD): " + text);
    EXPECT_TRUE(EndsWith(DebugLog(), "[E] Transfer fail: " + WStringToMultiByte(text, CP_ACP) + "\r\n"))
        << DebugLog();
}

TEST_F(TransferKeyTest, ALongOutputReachesTheEventWhole)
{
    // The event table cuts what it stores; the text it is given is whole.
    const std::wstring thousand(1000, L'7');
    UseFormat(L"Long", thousand.c_str());
    Doc().SetDestination(L"", DEST_CLIPBOARD);
    EXPECT_EQ(Transfer(), S_OK);
    const std::vector<_EVENT_RECORD> events = Events();
    ASSERT_EQ(events.size(), 1u);
    const std::wstring expected = L"\"" + thousand + L"\" -> \"Copy to Clipboard\" (EM 0C0B0A, \"Long\")";
    ASSERT_FALSE(events[0].message.empty());
    EXPECT_EQ(events[0].message, expected.substr(0, events[0].message.size()));
    EXPECT_EQ(ClipboardText(), thousand);
}
