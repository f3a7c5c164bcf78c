// The destination pages inside the running program: the bridge server's peer list follows
// loopback peers, a new local port moves the running link, and the destination dialogs run
// over the main window.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "pages/PageRegistry.h"
#include "pages/options/DestinationDialogs.h"
#include "pages/options/PortavoPage.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/TransferTestSupport.h"
#include "tests/support/PortPairs.h"
#include "tests/support/WindowPicture.h"

namespace {

SOCKET Connect(USHORT port)
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

std::wstring PeerName(SOCKET s)
{
    sockaddr_in address{};
    int size = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    return L"127.0.0.1:" + std::to_wstring(ntohs(address.sin_port));
}

std::vector<std::wstring> Lines(HWND list)
{
    std::vector<std::wstring> out;
    for (int i = 0, n = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0)); i < n; ++i) {
        wchar_t text[128] = {};
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        out.push_back(text);
    }
    return out;
}

bool HasCaption(HWND dialog, const wchar_t* caption)
{
    wchar_t text[128] = {};
    GetWindowTextW(dialog, text, 128);
    return wcscmp(text, caption) == 0;
}

class DestinationPagesApp : public AppTest
{
protected:
    void TearDown() override
    {
        App().StopTransfer();
        AppTest::TearDown();
    }
};

} // namespace

TEST_F(DestinationPagesApp, ServerPeersShowInTheListAndANewLocalPortMovesTheLink)
{
    transfer_test::CWinsock winsock;
    ASSERT_EQ(kStartContinue, Start());
    CTransferDoc& doc = App().GetSettings().GetTransferDoc();
    const USHORT port = UnusedLoopbackPort();
    doc.SetPortavoType(PORTAVO_SERVER);
    doc.SetPortavoServer(port, 2);
    doc.SetDestination(L"", DEST_PORTAVO);
    doc.SetSource(L"List of keys", SOURCE_KEYLIST);
    ASSERT_TRUE(App().StartTransfer(false));
    ASSERT_TRUE(App().ShowPage(PAGE_PORTAVO));
    auto* page = dynamic_cast<CPortavoPage*>(Frame()->GetPage(PAGE_PORTAVO));
    ASSERT_NE(nullptr, page);
    ASSERT_NE(nullptr, page->ServerPage());
    HWND list = GetDlgItem(page->ServerPage()->m_hWnd, IDC_PTV_CONNECTIONS);
    EXPECT_TRUE(Lines(list).empty());

    CFarSocket peer;
    ASSERT_TRUE(PumpUntil([&] { return (peer = CFarSocket(Connect(port))).IsOpen(); }));
    const std::wstring name = PeerName(peer.Get());
    EXPECT_TRUE(PumpUntil([&] { return Lines(list) == std::vector<std::wstring>{name}; })) << "the peer shows";
    peer.Close();
    EXPECT_TRUE(PumpUntil([&] { return Lines(list).empty(); })) << "and vanishes";

    // A new local port typed into the running page moves the link.
    const USHORT other = UnusedLoopbackPort();
    HWND edit = GetDlgItem(page->ServerPage()->m_hWnd, IDC_PTV_LOCAL_PORT);
    SetFocus(edit);
    SetWindowTextW(edit, std::to_wstring(other).c_str());
    SetFocus(GetDlgItem(page->m_hWnd, IDC_PTV_NVT));
    EXPECT_EQ(other, doc.Portavo().port);
    CFarSocket moved;
    ASSERT_TRUE(PumpUntil([&] { return (moved = CFarSocket(Connect(other))).IsOpen(); }));
    EXPECT_FALSE(CFarSocket(Connect(port)).IsOpen()) << "the old port refuses";
    EXPECT_TRUE(PumpUntil([&] { return Lines(list).size() == 1; }));

    const CWindowPicture picture(FrameWindow(), L"PortavoServerPage.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    EXPECT_GT(picture.Ink(ClientRectInWindowPicture(FrameWindow(), list)), 30) << "the peer's line is drawn";
}

TEST_F(DestinationPagesApp, DialogsRunOverTheMainWindowAndWhatTheyStoreRunsAtATransfer)
{
    CTempFolder folder;
    transfer_test::CArgEcho echo(folder);
    ASSERT_TRUE(echo.Ready());
    ASSERT_EQ(kStartContinue, Start());
    const struct {
        const wchar_t* caption;
        std::vector<std::pair<int, std::wstring>> typed;
        bool http;
    } cases[] = {
        {L"Http request properties", {{IDC_HTTP_ADDRESS, L"  http://h/?k=%KeyNum%  "}}, true},
        {L"CommandLine properties",
         {{IDC_CMD_PROGRAM, echo.Program()}, {IDC_CMD_ARGUMENTS, L"--card %KeyNum% \"a b\""}, {IDC_CMD_INITIAL_DIR, L"%TEMP%"}},
         false},
    };
    for (const auto& c : cases) {
        HWND owner = nullptr;
        CBoxRobot robot([&](HWND dialog) { return HasCaption(dialog, c.caption); },
                        [&](HWND dialog) {
                            owner = GetWindow(dialog, GW_OWNER);
                            for (const auto& [id, text] : c.typed)
                                SetDlgItemTextW(dialog, id, text.c_str());
                            PressButton(dialog, IDOK);
                        });
        EXPECT_TRUE(c.http ? App().ShowHttpRequestDialog() : App().ShowCmdLineDialog()) << c.caption;
        robot.Join();
        EXPECT_EQ(FrameWindow(), owner) << c.caption;
    }
    CTransferDoc& doc = App().GetSettings().GetTransferDoc();
    EXPECT_EQ(L"http://h/?k=%KeyNum%", doc.HttpRequest().address);
    EXPECT_EQ(L"%TEMP%", doc.CmdLine().initialDir);

    _KV_FORMAT format;
    format.name = L"Decimal";
    format.templ = L"%d";
    format.params = L"x[0]";
    doc.SetDefaultFormatId(doc.GetFormats()[doc.AddFormat(format)]->id);
    doc.SetDestination(L"", DEST_CMDLINE);
    const uint8_t byte = 77;
    EXPECT_EQ(S_OK, App().TransferKey(1, MakeKeyNumber(&byte, 1), 0));
    EXPECT_EQ((std::vector<std::wstring>{L"--card", L"77", L"a b"}), echo.WaitForArguments());
}
