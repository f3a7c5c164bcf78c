// The page registry drives the frame: every page that has a factory is made, shown and left
// through the frame; a page may refuse to be left; the frame's commands and the toolbar's
// command states go to the current page first. Rows whose page is not built yet get a probe page
// on a dialog of the tests' own.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <array>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/MainFrame.h"
#include "core/TextUtil.h"
#include "pages/PageRegistry.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PageTestIds.h"

namespace {

// What a probe page saw, kept beyond the page's life, and how the test wants it to behave.
struct ProbeRecord
{
    int created = 0;
    int changes = 0;                            // settings changes observed
    std::vector<std::pair<int, int>> commands;  // routed commands: id, code
    bool refuseLeave = false;
    int takesCommand = 0;
    bool decidesTopmost = false;
};
std::map<int, ProbeRecord> g_probes;
std::vector<std::wstring> g_order;  // "leave 3", "show 4", as they came

class CProbePage : public CBasePage
{
public:
    CProbePage(IPageHost& host, int pageId) : CBasePage(IDD_PROBE_PAGE, &host), m_pageId(pageId)
    {
        ++Record().created;
        Observe(host.GetSettings());
    }
    void OnShow() override { Note(L"show "); }
    bool OnLeave() override
    {
        Note(L"leave ");
        return !Record().refuseLeave;
    }
    bool OnCommand(int id, int code, HWND control) override
    {
        if (control)  // the page's own edit box
            return CBasePage::OnCommand(id, code, control);
        Record().commands.emplace_back(id, code);
        return id == Record().takesCommand;
    }
    bool QueryCommandState(int id, CommandState& state) override
    {
        if (id != ID_TOPMOST || !Record().decidesTopmost)
            return false;
        state = {false, true};
        return true;
    }
    void OnDocumentChanged(CDocument*, const uint32_t*) override { ++Record().changes; }

private:
    ProbeRecord& Record() { return g_probes[m_pageId]; }
    void Note(const wchar_t* what) { g_order.push_back(what + std::to_wstring(m_pageId)); }
    int m_pageId;
};

template <int Id>
std::unique_ptr<CBasePage> MakeProbe(IPageHost& host)
{
    return std::make_unique<CProbePage>(host, Id);
}

// A row keeps its page when it has a factory, except the keyboard, bridge and formats rows, whose
// probes the command routing and refusal tests watch.
constexpr bool HasFactory(const PageTableEntry& row)
{
    return row.create != nullptr && row.id != PAGE_KEYBOARD && row.id != PAGE_PORTAVO && row.id != PAGE_FORMATS;
}

// The registry, with a probe page in every row that has no factory yet (and the formats row).
template <size_t... I>
constexpr std::array<PageTableEntry, kPageCount> WithProbes(std::index_sequence<I...>)
{
    return {{(HasFactory(kPageRegistry[I]) ? kPageRegistry[I]
                                      : PageTableEntry{kPageRegistry[I].id, IDD_PROBE_PAGE, kPageRegistry[I].titleId,
                                                       kPageRegistry[I].helpId, &MakeProbe<kPageRegistry[I].id>})...}};
}
constexpr auto kProbeRows = WithProbes(std::make_index_sequence<kPageCount>());

// A probe page in every row, built or not: for what only a probe can do (refuse to be left).
template <size_t... I>
constexpr std::array<PageTableEntry, kPageCount> AllProbes(std::index_sequence<I...>)
{
    return {{PageTableEntry{kPageRegistry[I].id, IDD_PROBE_PAGE, kPageRegistry[I].titleId, kPageRegistry[I].helpId,
                            &MakeProbe<kPageRegistry[I].id>}...}};
}
constexpr auto kAllProbeRows = AllProbes(std::make_index_sequence<kPageCount>());

bool IsProbe(int pageId)
{
    const PageTableEntry* row = FindPageEntry(pageId, kProbeRows);
    return row && row->dialogId == IDD_PROBE_PAGE;
}

class PageRegistry : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        g_probes.clear();
        g_order.clear();
    }
    // The program with the probe rows and the page header, on a slot without a row so that
    // every row is a change of page.
    void StartWithProbes(std::span<const PageTableEntry> rows = kProbeRows)
    {
        ASSERT_EQ(kStartContinue, Start());
        // Pages the registry made for the start's current page give way to the probes.
        App().GetSettings().SetCurrentPage(5);
        Frame()->SetPageRows(rows);
        for (int id = 0; id < kPageSlotCount; ++id)
            Frame()->TakePage(id);
        App().GetSettings().SetPanels(PANEL_HEADER);
        App().GetSettings().SetCurrentPage(5);
        ASSERT_EQ(5, Frame()->GetCurrentPage());
    }
    CBasePage* Page(int pageId) const { return Frame()->GetPage(pageId); }
    std::wstring HeaderText() const
    {
        std::wstring text;
        GetWindowString(GetDlgItem(FrameWindow(), IDC_PAGE_HEADER), text);
        return text;
    }
    HWND Toolbar() const { return GetDlgItem(FrameWindow(), IDC_PAGE_TOOLBAR); }
};

} // namespace

TEST_F(PageRegistry, RowsGiveThePageListTheSlotsAndTheTitles)
{
    EXPECT_EQ((std::array<int, 13>{0, 1, 2, 3, 4, 10, 11, 12, 20, 21, 22, 23, 24}), kPageTable);
    EXPECT_EQ(25, kPageSlotCount);
    const struct {
        int id;
        int dialogId;
        const wchar_t* title;
    } pages[] = {{0, 968, L"Transfer"},      {1, 950, L"Event Log"},  {2, 974, L"Source"},
                 {3, 955, L"Reader"},        {4, 963, L"List of keys"}, {10, 975, L"Destination"},
                 {11, 953, L"Keyboard"},     {12, 954, L"Portavo"},   {20, 952, L"Formats"},
                 {21, 962, L"Reading keys"}, {22, 972, L"Advanced"},  {23, 958, L"Sounds"},
                 {24, 956, L"Hotkeys"}};
    for (const auto& p : pages) {
        const PageTableEntry* row = FindPageEntry(p.id);
        ASSERT_TRUE(row) << p.id;
        EXPECT_EQ(p.dialogId, row->dialogId) << p.id;
        EXPECT_EQ(p.dialogId, row->helpId) << p.id;
        std::wstring title;
        LoadResString(row->titleId, title);
        EXPECT_EQ(p.title, title) << p.id;
    }
    for (int id : {-1, 5, 9, 13, 19, 25})
        EXPECT_EQ(nullptr, FindPageEntry(id)) << id;
}

TEST_F(PageRegistry, EveryPageIsMadeShownAndLeftThroughTheHost)
{
    StartWithProbes();
    IPageHost& host = App();
    int previous = 5;
    for (const PageTableEntry& row : kProbeRows) {
        SCOPED_TRACE(row.id);
        ASSERT_TRUE(row.create);
        g_order.clear();
        EXPECT_TRUE(host.ShowPage(row.id));
        EXPECT_EQ(row.id, Frame()->GetCurrentPage());
        EXPECT_EQ(row.id, App().GetSettings().GetCurrentPage());
        CBasePage* page = Page(row.id);
        ASSERT_TRUE(page && page->m_hWnd);
        EXPECT_EQ(row.dialogId, page->m_templateId);
        EXPECT_EQ(&host, page->GetHost());
        EXPECT_EQ(FrameWindow(), GetParent(page->m_hWnd));
        EXPECT_TRUE(IsWindowVisible(page->m_hWnd));
        std::wstring title;
        LoadResString(row.titleId, title);
        EXPECT_EQ(title, HeaderText());
        // The page before is left and hidden, then this one is shown.
        std::vector<std::wstring> order;
        if (IsProbe(previous))
            order.push_back(L"leave " + std::to_wstring(previous));
        if (IsProbe(row.id))
            order.push_back(L"show " + std::to_wstring(row.id));
        EXPECT_EQ(order, g_order);
        if (Page(previous)) {
            EXPECT_FALSE(IsWindowVisible(Page(previous)->m_hWnd));
        }
        previous = row.id;
    }
    // Shown again, a page is the same object: each was made once.
    const int first = kProbeRows.front().id;
    CBasePage* firstPage = Page(first);
    EXPECT_TRUE(host.ShowPage(first));
    EXPECT_EQ(firstPage, Page(first));
    for (const PageTableEntry& row : kProbeRows) {
        if (IsProbe(row.id)) {
            EXPECT_EQ(1, g_probes[row.id].created) << row.id;
            EXPECT_LT(0, g_probes[row.id].changes) << row.id << " observes the settings";
        }
    }

    // The frame's end destroys the pages, and their observer registrations end with them.
    std::map<int, int> changes;
    for (const auto& [id, probe] : g_probes)
        changes[id] = probe.changes;
    ShutDown();
    App().GetSettings().SetCurrentPage(3);
    for (const auto& [id, probe] : g_probes)
        EXPECT_EQ(changes[id], probe.changes) << id;
}

TEST_F(PageRegistry, APageThatRefusesToBeLeftKeepsTheFrameOnIt)
{
    StartWithProbes(kAllProbeRows);
    IPageHost& host = App();
    ASSERT_TRUE(host.ShowPage(PAGE_READER));
    g_probes[PAGE_READER].refuseLeave = true;
    g_order.clear();
    // Asked through the host (the setting) and of the frame itself.
    EXPECT_FALSE(host.ShowPage(PAGE_FORMATS));
    EXPECT_FALSE(Frame()->ShowPage(-1));
    EXPECT_EQ(PAGE_READER, Frame()->GetCurrentPage());
    EXPECT_EQ(PAGE_READER, App().GetSettings().GetCurrentPage()) << "the setting follows the frame back";
    EXPECT_TRUE(IsWindowVisible(Page(PAGE_READER)->m_hWnd));
    EXPECT_EQ(L"Reader", HeaderText());
    EXPECT_EQ(nullptr, Page(PAGE_FORMATS)) << "a page that is not shown is not made";
    EXPECT_EQ((std::vector<std::wstring>{L"leave 3", L"leave 3"}), g_order);

    g_probes[PAGE_READER].refuseLeave = false;
    EXPECT_TRUE(host.ShowPage(PAGE_FORMATS));
    EXPECT_EQ((std::vector<std::wstring>{L"leave 3", L"leave 3", L"leave 3", L"show 20"}), g_order);
    EXPECT_FALSE(IsWindowVisible(Page(PAGE_READER)->m_hWnd));
    EXPECT_EQ(L"Formats", HeaderText());
}

TEST_F(PageRegistry, FrameCommandsAndCommandStatesGoToTheCurrentPageFirst)
{
    StartWithProbes();
    ASSERT_TRUE(App().ShowPage(PAGE_KEYBOARD));
    HWND frame = FrameWindow();
    CAppSettings& settings = App().GetSettings();
    ProbeRecord& keyboard = g_probes[PAGE_KEYBOARD];
    const struct {
        const char* source;
        int code;
        std::function<void()> send;
    } sources[] = {
        {"menu", 0, [&] { SendMessageW(frame, WM_COMMAND, MAKEWPARAM(ID_TOPMOST, 0), 0); }},
        {"accelerator", 1, [&] { SendMessageW(frame, WM_COMMAND, MAKEWPARAM(ID_TOPMOST, 1), 0); }},
        {"toolbar button", BN_CLICKED,
         [&] {
             SendMessageW(frame, WM_COMMAND, MAKEWPARAM(ID_TOPMOST, BN_CLICKED), reinterpret_cast<LPARAM>(Toolbar()));
         }},
        {"other program", 0,
         [&] {
             PostMessageW(frame, WM_TCARD, kExternalCommandTag, kExternalCommandBase + ID_TOPMOST);
             PumpWaitingMessages();
         }},
    };
    for (const auto& s : sources) {
        const bool topMost = settings.view.topMost;
        // Taken by the page: the frame leaves it.
        keyboard.commands.clear();
        keyboard.takesCommand = ID_TOPMOST;
        s.send();
        EXPECT_EQ((std::vector<std::pair<int, int>>{{ID_TOPMOST, s.code}}), keyboard.commands) << s.source;
        EXPECT_EQ(topMost, settings.view.topMost) << s.source;
        // Passed on by the page: the frame handles it after.
        keyboard.takesCommand = 0;
        s.send();
        EXPECT_EQ(2u, keyboard.commands.size()) << s.source;
        EXPECT_NE(topMost, settings.view.topMost) << s.source;
        s.send();  // back as it was
    }
    // A notification of a control of the frame's own is not a command for the page.
    keyboard.commands.clear();
    SendMessageW(frame, WM_COMMAND, MAKEWPARAM(IDC_PAGE_HEADER, EN_CHANGE), reinterpret_cast<LPARAM>(Toolbar()));
    EXPECT_TRUE(keyboard.commands.empty());

    // The toolbar's idle update asks the current page before the settings.
    keyboard.decidesTopmost = true;
    App().MarkDirty(HostUpdate::Toolbar);
    Frame()->IdleUpdate();
    EXPECT_FALSE(SendMessageW(Toolbar(), TB_ISBUTTONENABLED, ID_TOPMOST, 0));
    EXPECT_TRUE(SendMessageW(Toolbar(), TB_ISBUTTONCHECKED, ID_TOPMOST, 0));

    // Another page is current: it gets the commands, and the states fall back to the frame's.
    ASSERT_TRUE(App().ShowPage(PAGE_PORTAVO));
    Frame()->IdleUpdate();
    EXPECT_TRUE(SendMessageW(Toolbar(), TB_ISBUTTONENABLED, ID_TOPMOST, 0));
    EXPECT_EQ(settings.view.topMost, SendMessageW(Toolbar(), TB_ISBUTTONCHECKED, ID_TOPMOST, 0) != 0);
    keyboard.commands.clear();
    g_probes[PAGE_PORTAVO].takesCommand = ID_PAGE_HELP;
    SendMessageW(frame, WM_COMMAND, ID_PAGE_HELP, 0);
    EXPECT_TRUE(keyboard.commands.empty());
    EXPECT_EQ((std::vector<std::pair<int, int>>{{ID_PAGE_HELP, 0}}), g_probes[PAGE_PORTAVO].commands);
}
