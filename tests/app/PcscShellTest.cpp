// The shell's side of the PC/SC watcher and of the reader search: readers of the smart-card
// library stand-in reach the known readers through WM_USER+5, and a search started by the
// frame fills them in through WM_USER+4.
#include <winsock2.h>
#include <windows.h>

#include "app/MainFrame.h"
#include "app/PortList.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/PortPairs.h"
#include "tests/support/ScardStandIn.h"
#include "tools/readersim/ReaderSim.h"

namespace {

int FindKnown(const std::wstring& name)
{
    return App().GetSettings().FindReader(name);
}

class PcscShell : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        NV_SCARD("reset");
    }
    void TearDown() override
    {
        App().GetSettings().RemoveObserver(m_observer);
        AppTest::TearDown();
        App().GetSettings().EditKnownReaders()->clear();
        scard_standin::Command("reset");
    }
    void CountKnownReaderChanges()
    {
        m_observer = App().GetSettings().AddObserver(this, [](void* key, CDocument*, const uint32_t* bits) {
            if ((bits[0] & ASC_STATE) && (App().GetSettings().GetDetails().state & ASS_KNOWN_READERS))
                ++static_cast<PcscShell*>(key)->m_changes;
        });
    }
    // Known readers for a search: the ports given, none of them present yet unless said.
    static void KnowPorts(const std::vector<std::wstring>& names, bool present = false)
    {
        auto edit = App().GetSettings().EditKnownReaders();
        std::vector<KnownReader>& readers = *edit;
        readers.clear();
        for (const std::wstring& name : names) {
            KnownReader r;
            r.name = name;
            r.portValue = -1;
            r.kind = PORT_SOURCE_REGISTRY;
            r.present = present ? 1 : 0;
            readers.push_back(r);
        }
    }

    int m_observer = -1;
    int m_changes = 0;
};

// The command the menu open when the timer fires is to return, chosen by the keyboard.
UINT g_menuChoice = 0;

void CALLBACK ChooseShownMenuItem(HWND, UINT, UINT_PTR, DWORD)
{
    HWND popup = FindWindowW(L"#32768", nullptr);
    if (!g_menuChoice || !popup || !IsWindowVisible(popup))
        return;
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    int downs = 0;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (!(GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR))
            ++downs;
        if (GetMenuItemID(menu, i) == g_menuChoice)
            break;
    }
    g_menuChoice = 0;
    for (int i = 0; i < downs; ++i)
        PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
}

// The Transfer page's Source button, and the item of its menu.
void ChooseFromSourceMenu(HWND page, UINT command)
{
    g_menuChoice = command;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, &ChooseShownMenuItem);
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(ID_TP_SOURCE_MENU, 0), 0);
    KillTimer(nullptr, timer);
    EXPECT_EQ(0u, g_menuChoice) << "the menu did not open";
}

} // namespace

TEST_F(PcscShell, KnownReadersFollowTheReadersOfTheService)
{
    ASSERT_EQ(kStartContinue, Start());
    ASSERT_TRUE(App().Ccid().IsPnpWatched()) << "search option 0x20 is on by default";
    const std::wstring name = L"Vell-4 MF CCID 7";
    NV_SCARD("add|Vell-4 MF CCID 7");
    ASSERT_TRUE(PumpUntil([&] { return FindKnown(name) >= 0; }, 1000)) << "no WM_USER+5 within a second";
    const KnownReader& r = App().GetSettings().knownReaders[static_cast<size_t>(FindKnown(name))];
    EXPECT_EQ(kPcscPortValue, r.portValue);
    EXPECT_EQ(1, r.present);
    EXPECT_EQ(KR_KIND_PCSC, r.kind);
    EXPECT_EQ(12, r.model);
    EXPECT_EQ(-1, r.firmware);
    NV_SCARD("remove|Vell-4 MF CCID 7");
    EXPECT_TRUE(PumpUntil([&] { return FindKnown(name) < 0; }, 1000)) << "the removed reader stays";

    // The option follows the reader settings.
    CTransferDoc& doc = App().GetTransferDoc();
    doc.SetSearchFlags(doc.reader.searchFlags & ~SEARCH_CCID);
    EXPECT_FALSE(App().Ccid().IsPnpWatched());
    doc.SetSearchFlags(doc.reader.searchFlags | SEARCH_CCID);
    EXPECT_TRUE(App().Ccid().IsPnpWatched());
    NV_SCARD("add|Vell-4 MF CCID 8");
    EXPECT_TRUE(PumpUntil([&] { return FindKnown(L"Vell-4 MF CCID 8") >= 0; }, 1000));
}

TEST_F(PcscShell, ReaderSearchGivesTheKnownReadersTheirIdentity)
{
    NV_REQUIRE_SERIAL_PAIRS();
    CReaderSim first, second;
    ReaderSimIdentity a, b;
    a.serial = 301;
    b.serial = 302;
    first.SetIdentity(a);
    second.SetIdentity(b);
    ASSERT_TRUE(first.OpenCom(GetSerialPair(0)->farName));
    ASSERT_TRUE(second.OpenCom(GetSerialPair(1)->farName));
    ASSERT_EQ(kStartContinue, Start());
    App().GetTransferDoc().SetReceiveTimeout(1500);
    KnowPorts({GetSerialPair(0)->nearName, GetSerialPair(1)->nearName});
    CountKnownReaderChanges();

    ASSERT_TRUE(Frame()->StartReaderSearch());
    ASSERT_TRUE(PumpUntil([&] { return !Frame()->SearchThread(); }, 8000)) << "the search never ended";
    EXPECT_GE(m_changes, 1) << "known readers' state change";
    const int changes = m_changes;
    for (const auto& [pair, id] : {std::pair{0, a}, std::pair{1, b}}) {
        const int index = FindKnown(GetSerialPair(pair)->nearName);
        ASSERT_GE(index, 0);
        const KnownReader& r = App().GetSettings().knownReaders[static_cast<size_t>(index)];
        EXPECT_EQ(1, r.present);
        EXPECT_NE(0, r.model);
        EXPECT_EQ(id.serial, r.serial);
        EXPECT_NE(-1, r.firmware);
        const std::string reply = MakeVersionReply(id);
        EXPECT_EQ(std::wstring(reply.begin(), reply.end()), r.versionText);
    }
    // Present readers are not searched again; a late message of the ended search does nothing.
    EXPECT_FALSE(Frame()->StartReaderSearch());
    SendMessageW(FrameWindow(), WM_SEARCH_NOTIFY, 0, 0);
    EXPECT_EQ(changes, m_changes);
}

TEST_F(PcscShell, ANewSearchReplacesTheRunningOneAndClosingEndsIt)
{
    NV_REQUIRE_SERIAL_PAIRS();
    CReaderSim silent;
    silent.SetMute(true);
    ASSERT_TRUE(silent.OpenCom(GetSerialPair(0)->farName));
    ASSERT_EQ(kStartContinue, Start());
    // A search that is not cancelled waits out this reply time-out: far longer than the bounds below.
    App().GetTransferDoc().SetReceiveTimeout(30000);
    KnowPorts({GetSerialPair(0)->nearName});

    ASSERT_TRUE(Frame()->StartReaderSearch());
    ASSERT_TRUE(silent.WaitUntil([&] { return silent.QueryCount() == 1; }, 3000));
    DWORD start = GetTickCount();
    ASSERT_TRUE(Frame()->StartReaderSearch());
    EXPECT_LT(GetTickCount() - start, 10000u) << "the running search was not cancelled";
    ASSERT_TRUE(silent.WaitUntil([&] { return silent.QueryCount() == 2; }, 3000)) << "the new search asks again";

    start = GetTickCount();
    ShutDown();
    EXPECT_LT(GetTickCount() - start, 10000u) << "closing the window waited for the search";
}

TEST_F(PcscShell, TheTransferPagesPortRefreshListsThePcscReadersAndStartsOneSearch)
{
    NV_REQUIRE_SERIAL_PAIRS();
    CReaderSim silent;
    silent.SetMute(true);
    ASSERT_TRUE(silent.OpenCom(GetSerialPair(0)->farName));
    ASSERT_EQ(kStartContinue, Start());
    CTransferDoc& doc = App().GetTransferDoc();
    // A search that is not cancelled waits out this reply time-out: far longer than the test.
    doc.SetReceiveTimeout(30000);
    // The mapped ports stand in the registry's serial map only. Without the watch a reader of
    // the service comes into the list by the refresh alone.
    doc.SetSearchFlags(SEARCH_STD_COM | SEARCH_IP);
    NV_SCARD("add|Vell-4 MF CCID 7");
    App().GetSettings().SetCurrentPage(PAGE_TRANSFER);
    CBasePage* page = Frame()->GetPage(PAGE_TRANSFER);
    ASSERT_TRUE(page && page->m_hWnd);
    ASSERT_FALSE(Frame()->SearchThread());
    Frame()->MarkDirty(MFD_SERIAL_PORTS | MFD_ALL_PORTS);
    // The simulator's own end is a reader already found, which no search opens. Windows would
    // refuse the search that port while the simulator holds it; Wine opens it a second time, and
    // the search's purge and read of it would take the query meant for the simulator.
    KnowPorts({GetSerialPair(0)->farName}, true);

    ChooseFromSourceMenu(page->m_hWnd, ID_REFRESH_PORT_LIST);
    EXPECT_EQ(0u, Frame()->DirtyBits() & (MFD_SERIAL_PORTS | MFD_ALL_PORTS));
    EXPECT_GE(FindKnown(L"Vell-4 MF CCID 7"), 0);
    ASSERT_TRUE(Frame()->SearchThread()) << "no search started";
    ASSERT_TRUE(silent.WaitUntil([&] { return silent.QueryCount() == 1; }, 3000));

    // While it runs, another refresh starts none: a new search would ask the reader again.
    ChooseFromSourceMenu(page->m_hWnd, ID_REFRESH_PORT_LIST);
    EXPECT_TRUE(Frame()->SearchThread());
    EXPECT_FALSE(silent.WaitUntil([&] { return silent.QueryCount() > 1; }, 1000)) << "a second search";
}
