// The port list refresh against the COM ports that the build's Wine prefix maps (the serial
// pairs of tools/test-services.sh) and a stand-in list of PC/SC readers.
#include <winsock2.h>
#include <windows.h>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/NorvaneApp.h"
#include "app/PortList.h"
#include "pages/source/ReaderPage.h"
#include "resources/resource.h"
#include "reader/ComEnum.h"
#include "reader/Reader.h"
#include "tests/support/FakeSystemServices.h"
#include "tests/support/PortPairs.h"
#include "tests/support/ReaderTestPeer.h"

namespace {

std::vector<std::wstring> g_pcsc;

void FakePcscReaders(std::vector<std::wstring>& names)
{
    names.insert(names.end(), g_pcsc.begin(), g_pcsc.end());
}

std::string Narrow(const std::wstring& w)
{
    return std::string(w.begin(), w.end());
}

// name/value/present/kind/model/firmware/serial/text
std::string Describe(const KnownReader& r)
{
    std::string s = Narrow(r.name);
    for (int32_t f : {r.portValue, int32_t(r.present), r.kind, r.model, r.firmware, r.serial})
        s += "/" + std::to_string(f);
    return s + "/" + Narrow(r.versionText);
}

std::vector<std::string> Listing()
{
    std::vector<std::string> out;
    for (const KnownReader& r : App().GetSettings().knownReaders)
        out.push_back(Describe(r));
    return out;
}

KnownReader Record(const wchar_t* name, std::array<int32_t, 6> fields, const wchar_t* text = L"")
{
    KnownReader r;
    r.name = name;
    r.portValue = fields[0];
    r.present = static_cast<uint8_t>(fields[1]);
    r.kind = fields[2];
    r.model = fields[3];
    r.firmware = fields[4];
    r.serial = fields[5];
    r.versionText = text;
    return r;
}

} // namespace

class PortList : public ::testing::Test
{
protected:
    void SetUp() override
    {
        NV_REQUIRE_SERIAL_PAIRS();
        CAppSettings& s = App().GetSettings();
        s.SetDefaults();
        s.EditKnownReaders()->clear();
        // The mapped ports stand in the registry's serial map only.
        s.GetTransferDoc().EditReaderSettings()->searchFlags = PORT_SEARCH_REGISTRY;
        m_system.listPcscReaders = &FakePcscReaders;
        g_pcsc.clear();
        m_observer = s.AddObserver(this, &PortList::OnChange);
        EnumComPorts(m_ports, PORT_SEARCH_REGISTRY);
        ASSERT_FALSE(m_ports.empty());
    }
    void TearDown() override
    {
        App().GetSettings().RemoveObserver(m_observer);
        App().SetReader(nullptr);
        App().GetSettings().EditKnownReaders()->clear();
    }
    static void OnChange(void* key, CDocument*, const uint32_t* bits)
    {
        if ((bits[0] & ASC_STATE) && (App().GetSettings().GetDetails().state & ASS_KNOWN_READERS))
            ++static_cast<PortList*>(key)->m_changes;
    }
    void Refresh(bool serialOnly)
    {
        m_changes = 0;
        App().RefreshPortList(serialOnly);
    }
    // The records a refresh appends for the mapped ports, in enumeration order.
    std::vector<std::string> PortRecords() const
    {
        std::vector<std::string> out;
        for (const _PORT_INFO& p : m_ports)
            out.push_back(Narrow(p.name) + "/-1/0/1/0/-1/0/");
        return out;
    }

    std::vector<_PORT_INFO> m_ports;
    int m_observer = -1;
    int m_changes = 0;
    CFakeSystemServices m_system;
};

TEST_F(PortList, FirstRefreshListsTheMappedPortsThenThePcscReaders)
{
    g_pcsc = {L"Vell-4 MF CCID 0", L"Vell-4 MF CCID 1"};
    Refresh(false);
    std::vector<std::string> expected = PortRecords();
    expected.push_back("Vell-4 MF CCID 0/4096/1/4/12/-1/0/");
    expected.push_back("Vell-4 MF CCID 1/4096/1/4/12/-1/0/");
    EXPECT_EQ(expected, Listing());
    for (int i = 0; i <= kUnplugPairIndex; ++i) {
        EXPECT_GE(App().GetSettings().FindReader(GetSerialPair(i)->nearName), 0);
        EXPECT_GE(App().GetSettings().FindReader(GetSerialPair(i)->farName), 0);
    }
    EXPECT_EQ(1, m_changes) << "one change for the whole refresh";

    // Nothing changed on the machine: nothing changes in the list.
    Refresh(false);
    EXPECT_EQ(expected, Listing());
    EXPECT_EQ(0, m_changes);
    Refresh(true);
    EXPECT_EQ(expected, Listing());
    EXPECT_EQ(0, m_changes);
}

TEST_F(PortList, KnownRecordsKeepTheirPlaceAndWhatWasLearnt)
{
    const std::wstring com13 = GetSerialPair(1)->nearName;
    *App().GetSettings().EditKnownReaders() = {
        Record(L"COM97", {-1, 0, 1, 0, -1, 0}),                          // a registry port that went
        Record(com13.c_str(), {7, 1, 1, 5, 0x0106, 4242}, L"Vell-4 USB"),  // identified earlier
        Record(L"COM98", {-1, 0, KR_KIND_DEVICE, 0, -1, 0}),             // a USB adapter that went
        Record(L"Unplugged CCID", {4096, 1, KR_KIND_PCSC, 12, -1, 0}),
    };
    // A device change lists serial ports only: of the vanished records only the USB adapter goes.
    Refresh(true);
    std::vector<std::string> expected = {"COM97/-1/0/1/0/-1/0/", Narrow(com13) + "/-1/1/1/5/262/4242/Vell-4 USB",
                                         "Unplugged CCID/4096/1/4/12/-1/0/"};
    for (const std::string& r : PortRecords())
        if (r.rfind(Narrow(com13) + "/", 0) != 0)
            expected.push_back(r);
    EXPECT_EQ(expected, Listing());
    EXPECT_EQ(1, m_changes);

    // A full refresh removes every record that is not present, PC/SC ones too.
    Refresh(false);
    expected.erase(expected.begin() + 2);
    expected.erase(expected.begin());
    EXPECT_EQ(expected, Listing());
    EXPECT_EQ(1, m_changes);
}

TEST_F(PortList, PcscReadersComeAndGoWithTheFullRefreshOnly)
{
    g_pcsc = {L"Desk CCID"};
    Refresh(false);
    const size_t withReader = App().GetSettings().knownReaders.size();
    ASSERT_EQ(m_ports.size() + 1, withReader);

    g_pcsc.clear();  // unplugged
    Refresh(true);
    EXPECT_EQ(withReader, App().GetSettings().knownReaders.size()) << "a serial-only refresh does not look at PC/SC";
    EXPECT_EQ(0, m_changes);
    Refresh(false);
    EXPECT_EQ(-1, App().GetSettings().FindReader(L"Desk CCID"));
    EXPECT_EQ(1, m_changes);

    g_pcsc = {L"Desk CCID"};  // plugged in again: appended at the end
    Refresh(false);
    EXPECT_EQ("Desk CCID/4096/1/4/12/-1/0/", Listing().back());
}

TEST_F(PortList, TheRunningReaderReportsItselfIntoItsRecord)
{
    Refresh(true);
    const std::wstring port = GetSerialPair(0)->nearName;
    const int index = App().GetSettings().FindReader(port);
    ASSERT_GE(index, 0);
    App().SetReader(std::make_unique<CReader>());
    CReader& worker = *App().GetReader();
    worker.SetPortName(L"com" + port.substr(3));   // found without regard to case
    CReaderTestPeer::SetIdentity(worker, 0, -1, 0, L"");   // not identified yet: nothing is copied
    Refresh(true);
    EXPECT_EQ(0, m_changes);
    CReaderTestPeer::SetIdentity(worker, 3, 12345, 0x0106, L"Vell-4 USB Software version: 1.6");
    Refresh(true);
    EXPECT_EQ(1, m_changes);
    EXPECT_EQ(Narrow(port) + "/-1/0/1/3/262/12345/Vell-4 USB Software version: 1.6",
              Describe(App().GetSettings().knownReaders[index]));
    Refresh(true);
    EXPECT_EQ(0, m_changes) << "the same identity again changes nothing";
}

TEST(PcscReaders, NoContextListsNothing)
{
    std::vector<std::wstring> names;
    ListSmartCardReaders(0, names);
    EXPECT_TRUE(names.empty());
    SCARDCONTEXT context = 0;
    const LONG established = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
    if (established != SCARD_S_SUCCESS)
        GTEST_SKIP() << "no smart-card context on this machine (SCardEstablishContext: 0x" << std::hex
                     << static_cast<unsigned long>(established)
                     << "): a service's reader list is not tried; the empty context's list was";
    ListSmartCardReaders(context, names);  // whatever the service has; no failure
    for (const std::wstring& n : names)
        EXPECT_FALSE(n.empty());
    SCardReleaseContext(context);
}

// The reader page's "Standard com-ports (RS-232)" box is the registry map's search flag: ticked,
// the refresh lists the mapped ports; cleared, a full refresh lets them go.
TEST_F(PortList, TheReaderPagesStandardPortsBoxDecidesWhetherMappedPortsAreListed)
{
    App().GetSettings().GetTransferDoc().EditReaderSettings()->searchFlags = 0;
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    CReaderPage page(App());
    ASSERT_TRUE(page.CreateDialogWindow(parent));
    const auto toggle = [&](bool on) {
        CheckDlgButton(page.m_hWnd, IDC_SEARCH_STD_COM, on ? BST_CHECKED : BST_UNCHECKED);
        SendMessageW(page.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_SEARCH_STD_COM, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(page.m_hWnd, IDC_SEARCH_STD_COM)));
    };
    Refresh(false);
    EXPECT_TRUE(Listing().empty());
    toggle(true);
    EXPECT_EQ(SEARCH_STD_COM, App().GetSettings().GetTransferDoc().reader.searchFlags);
    Refresh(false);
    EXPECT_EQ(PortRecords(), Listing());
    toggle(false);
    Refresh(false);
    EXPECT_TRUE(Listing().empty());
    page.Destroy();
    DestroyWindow(parent);
}
