// Named configurations: the list of the documents folder, switching with its question, a file
// that cannot be read, deleting, and the two dialogs driven on the screen.
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Configurations.h"
#include "resources/resource.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/WindowPicture.h"

namespace {

class Configurations : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        m_system.askUser = [this](const std::wstring& text, UINT, HWND, bool*) {
            questions.push_back(text);
            return answer;
        };
        ASSERT_EQ(kStartContinue, Start());
    }
    CAppSettings& Settings() { return App().GetSettings(); }
    CTransferDoc& Doc() { return App().GetSettings().GetTransferDoc(); }
    // A configuration file holding the connect timeout, written as the program writes one.
    void WriteConfiguration(const std::wstring& name, int32_t timeout)
    {
        CTransferDoc doc;
        doc.EditReaderSettings()->connectTimeout = timeout;
        doc.SaveToFile(m_folder.File(name.c_str()), true);
    }
    void Touch(int32_t timeout)
    {
        Doc().EditReaderSettings()->connectTimeout = timeout;
        ASSERT_TRUE(Doc().IsUnsaved());
    }

    std::vector<std::wstring> questions;
    int answer = IDOK;
};

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::wstring ListText(HWND list, int row, int column)
{
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

bool HasCaption(HWND dialog, const wchar_t* caption)
{
    wchar_t text[128] = {};
    GetWindowTextW(dialog, text, 128);
    return wcscmp(text, caption) == 0;
}

// A picture of the dialog whose control shows ink.
void ExpectPictured(HWND dialog, HWND control, const wchar_t* file, int leastInk)
{
    const CWindowPicture picture(dialog, file);
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    RECT r, d;
    GetWindowRect(control, &r);
    GetWindowRect(dialog, &d);
    OffsetRect(&r, -d.left, -d.top);
    EXPECT_GE(picture.InkPixels(r, picture.Dominant(r)), leastInk) << file;
}

} // namespace

TEST_F(Configurations, ListHoldsExactNv2FilesInCodeUnitOrder)
{
    for (const wchar_t* name : {L"a.nv2", L"B.nv2", L"Zeta.nv2x", L"notes.txt", L"\u00e9t\u00e9.nv2"})
        WriteFileBytes(m_folder.File(name), "{}");
    ASSERT_TRUE(CreateDirectoryW(m_folder.File(L"c.nv2").c_str(), nullptr));
    const bool unsaved = Settings().IsUnsaved();
    App().ListConfigurations();
    EXPECT_EQ((std::vector<std::wstring>{L"B", L"a", L"\u00e9t\u00e9"}), Settings().configFiles);
    EXPECT_EQ(unsaved, Settings().IsUnsaved()) << "listing changes nothing to save";
}

TEST_F(Configurations, NamesThatWouldWriteElsewhereAreRefused)
{
    const struct {
        const wchar_t* name;
        UINT refusal;
    } cases[] = {
        {L"", IDS_FIELD_REQUIRED},      {L"Night shift", 0},          {L"a<b", IDS_INVALID_NAME_CHARS},
        {L"a:b", IDS_INVALID_NAME_CHARS}, {L"a\"b", IDS_INVALID_NAME_CHARS}, {L"dir\\x", IDS_INVALID_NAME_CHARS},
        {L"a/b", IDS_INVALID_NAME_CHARS}, {L"a|b", IDS_INVALID_NAME_CHARS},  {L"a?", IDS_INVALID_NAME_CHARS},
        {L"*", IDS_INVALID_NAME_CHARS},   {L"CON", IDS_INVALID_NAME_CHARS},  {L"con.txt", IDS_INVALID_NAME_CHARS},
        {L"Nul ", IDS_INVALID_NAME_CHARS}, {L"com9", IDS_INVALID_NAME_CHARS}, {L"LPT1.a.b", IDS_INVALID_NAME_CHARS},
        {L"COM10", 0},                    {L"console", 0},                   {L"name.", IDS_INVALID_NAME_CHARS},
        {L"name ", IDS_INVALID_NAME_CHARS}, {L"v1.2", 0},
        // The system's answer under Wine 8: the console is a device, a superscript digit a file.
        {L"CONIN$", IDS_INVALID_NAME_CHARS}, {L"conout$", IDS_INVALID_NAME_CHARS}, {L"COM\u00b9", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.refusal, CheckConfigurationName(c.name)) << '"' << testing::PrintToString(std::wstring(c.name)) << '"';
}

TEST_F(Configurations, SwitchingAsksCancelKeepsNoDropsYesSaves)
{
    WriteConfiguration(L"a.nv2", 1111);
    App().ListConfigurations();
    Touch(2222);

    answer = IDCANCEL;
    EXPECT_FALSE(App().OpenConfiguration(L"a.nv2", true));
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ(L"Save the changes to the configuration \"\"?", questions[0]) << "the default configuration has no path";
    EXPECT_TRUE(Doc().GetPathName().empty());
    EXPECT_EQ(2222, Doc().reader.connectTimeout);
    EXPECT_TRUE(Doc().IsUnsaved());

    answer = IDNO;
    EXPECT_TRUE(App().OpenConfiguration(L"a.nv2", true));
    EXPECT_TRUE(SamePath(m_folder.File(L"a.nv2"), Doc().GetPathName()));
    EXPECT_EQ(1111, Doc().reader.connectTimeout);
    EXPECT_FALSE(Doc().IsUnsaved());

    // The configuration that is already current: nothing asked, nothing changed.
    Touch(3333);
    questions.clear();
    EXPECT_TRUE(App().OpenConfiguration(L"A.NV2", true));
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(3333, Doc().reader.connectTimeout);

    answer = IDYES;
    EXPECT_TRUE(App().OpenConfiguration(L"", true));
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ(L"Save the changes to the configuration \"a.nv2\"?", questions[0]);
    EXPECT_TRUE(Doc().GetPathName().empty());
    EXPECT_NE(2222, Doc().reader.connectTimeout) << "the dropped change stays dropped";
    EXPECT_NE(std::string::npos, ReadFileBytes(m_folder.File(L"a.nv2")).find("3333")) << "Yes saved a.nv2";
    EXPECT_TRUE(Settings().IsUnsaved()) << "the settings name another configuration now";
}

TEST_F(Configurations, DamagedFileIsRefusedAndLeftAsItIs)
{
    const std::string broken = "\xEF\xBB\xBF{\"info\": {\"name\": \"Norvane\", \"version\": \"1.6\"}, \"reader\": {";
    WriteFileBytes(m_folder.File(L"broken.nv2"), broken);
    Touch(4444);
    answer = IDYES;
    try {
        App().OpenConfiguration(L"broken.nv2", true);
        ADD_FAILURE() << "a damaged file must not open";
    } catch (const std::exception& e) {
        const std::string text = e.what();
        EXPECT_NE(std::string::npos, text.find("cannot be read")) << text;
        EXPECT_NE(std::string::npos, text.find("broken.nv2")) << text;
    }
    EXPECT_TRUE(questions.empty()) << "refused before the save question";
    EXPECT_TRUE(Doc().GetPathName().empty());
    EXPECT_EQ(4444, Doc().reader.connectTimeout);
    EXPECT_TRUE(Doc().IsUnsaved());
    EXPECT_EQ(broken, ReadFileBytes(m_folder.File(L"broken.nv2")));
    EXPECT_FALSE(FileExists(m_folder.File(L"broken.nv2.bad")));
}

TEST_F(Configurations, DeleteAsksRemovesReturnsToDefaultAndRelists)
{
    WriteConfiguration(L"a.nv2", 1111);
    WriteConfiguration(L"b.nv2", 1212);
    App().ListConfigurations();
    ASSERT_TRUE(App().OpenConfiguration(L"a.nv2", false));
    Touch(5555);

    answer = IDCANCEL;
    DeleteConfiguration();
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ(L"Remove \"a.nv2\"?", questions[0]);
    EXPECT_TRUE(FileExists(m_folder.File(L"a.nv2")));

    answer = IDOK;
    questions.clear();
    DeleteConfiguration();
    EXPECT_EQ(1u, questions.size()) << "no save question for the deleted configuration";
    EXPECT_FALSE(FileExists(m_folder.File(L"a.nv2")));
    EXPECT_TRUE(Doc().GetPathName().empty());
    EXPECT_EQ((std::vector<std::wstring>{L"b"}), Settings().configFiles);

    // The default configuration is never deleted.
    DeleteConfiguration();
    EXPECT_TRUE(Doc().GetPathName().empty());
    EXPECT_TRUE(FileExists(m_folder.File(L"b.nv2")));
}

TEST_F(Configurations, NewConfigurationDialogRefusesBadNamesAndWritesDefaults)
{
    WriteConfiguration(L"Configuration 1.nv2", 1111);
    App().ListConfigurations();
    Touch(6666);
    Settings().SetCloneNewConfig(false);
    Settings().SetConfirmFlags(Settings().GetConfirmFlags() | CONFIRM_SAVE_CONFIG);
    answer = IDNO;

    std::wstring proposed;
    std::vector<std::wstring> items;
    CBoxRobot robot([](HWND d) { return HasCaption(d, L"Configuration properties"); },
                    [&](HWND d) {
                        HWND combo = GetDlgItem(d, IDC_CONFIG_NAME);
                        wchar_t text[128] = {};
                        GetWindowTextW(combo, text, 128);
                        proposed = text;
                        const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
                        for (int i = 0; i < count; ++i) {
                            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
                            items.push_back(text);
                        }
                        ExpectPictured(d, GetDlgItem(d, IDC_CONFIG_COPY_CURRENT), L"ConfigurationDialog.bmp", 40);
                        for (const wchar_t* bad : {L"a?b", L"LPT3", L""}) {
                            SetWindowTextW(combo, bad);
                            SendMessageW(d, WM_COMMAND, IDOK, 0);
                        }
                        SetWindowTextW(combo, L"Night");
                        SendMessageW(d, WM_COMMAND, IDOK, 0);
                    });
    EXPECT_TRUE(NewConfiguration());
    robot.Join();
    EXPECT_EQ(L"Configuration 2", proposed);
    EXPECT_EQ((std::vector<std::wstring>{L"<Norvane>", L"Configuration 1"}), items);
    ASSERT_GE(questions.size(), 4u) << testing::PrintToString(questions);
    EXPECT_EQ(L"Name contains invalid characters: <>:\"/\\|?*", questions[0]);
    EXPECT_EQ(questions[0], questions[1]);
    EXPECT_EQ(L"Field must be filled in.", questions[2]);
    EXPECT_EQ(L"Save the changes to the configuration \"\"?", questions[3]);
    EXPECT_TRUE(SamePath(m_folder.File(L"Night.nv2"), Doc().GetPathName()));
    EXPECT_EQ(10000, Doc().reader.connectTimeout) << "copy-current off: the defaults";
    EXPECT_FALSE(Settings().GetCloneNewConfig());
    EXPECT_EQ((std::vector<std::wstring>{L"Configuration 1", L"Night"}), Settings().configFiles);
}

TEST_F(Configurations, OpenDialogListsDefaultFirstAndOpensTheChosenRow)
{
    WriteConfiguration(L"a.nv2", 1111);
    WriteConfiguration(L"B.nv2", 2222);
    App().ListConfigurations();

    std::vector<std::wstring> names;
    std::wstring changed;
    int selected = -2;
    CBoxRobot robot([](HWND d) { return HasCaption(d, L"Open configuration"); },
                    [&](HWND d) {
                        HWND list = GetDlgItem(d, IDC_CONFIG_LIST);
                        const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
                        for (int row = 0; row < rows; ++row)
                            names.push_back(ListText(list, row, 0) + L" " + ListText(list, row, 1));
                        changed = ListText(list, 2, 2);
                        selected = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
                        ExpectPictured(d, list, L"OpenConfigDialog.bmp", 100);
                        LVITEMW state{};
                        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
                        state.state = LVIS_SELECTED | LVIS_FOCUSED;
                        SendMessageW(list, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&state));
                        PressButton(d, IDOK);
                    });
    EXPECT_TRUE(OpenConfigurationDialog());
    robot.Join();
    EXPECT_EQ((std::vector<std::wstring>{L"0 <Norvane>", L"1 B", L"2 a"}), names);
    EXPECT_EQ(0, selected) << "the default configuration is current";
    EXPECT_EQ(FileChangedText(m_folder.File(L"a.nv2")), changed);
    EXPECT_EQ(19u, changed.size());
    EXPECT_TRUE(SamePath(m_folder.File(L"a.nv2"), Doc().GetPathName()));
    EXPECT_EQ(1111, Doc().reader.connectTimeout);
}

// A header click sorts the rows below the default configuration's, which stays first, and
// keeps the chosen one; the grid follows the setting at every idle pass of the dialog.
TEST_F(Configurations, OpenDialogSortsByTheClickedHeaderAndFollowsTheGridAtIdle)
{
    WriteConfiguration(L"a.nv2", 1111);
    WriteConfiguration(L"B.nv2", 2222);
    // "a" changed after "B", so that the "Changed" order is not the names' order.
    for (const auto& [name, year] : {std::pair{L"a.nv2", 2025}, std::pair{L"B.nv2", 2024}}) {
        HANDLE file = CreateFileW(m_folder.File(name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        const SYSTEMTIME at{static_cast<WORD>(year), 6, 0, 1, 12, 0, 0, 0};
        FILETIME time;
        SystemTimeToFileTime(&at, &time);
        SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
    }
    App().ListConfigurations();
    COpenConfigDialog dialog(Settings(), 0);  // "B" chosen
    ASSERT_TRUE(dialog.CreateDialogWindow(FrameWindow()));
    HWND list = GetDlgItem(dialog.m_hWnd, IDC_CONFIG_LIST);
    auto rows = [list] {
        std::vector<std::wstring> names;
        for (int row = 0; row < static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); ++row)
            names.push_back(ListText(list, row, 0) + L" " + ListText(list, row, 1));
        return names;
    };
    auto click = [&](int column) {
        NMLISTVIEW header{};
        header.hdr = {list, IDC_CONFIG_LIST, LVN_COLUMNCLICK};
        header.iItem = -1;
        header.iSubItem = column;
        SendMessageW(dialog.m_hWnd, WM_NOTIFY, IDC_CONFIG_LIST, reinterpret_cast<LPARAM>(&header));
    };
    // Each column clicked twice: ascending, then descending.
    const struct {
        int column;
        std::vector<std::wstring> rows;
    } clicks[] = {
        {0, {L"0 <Norvane>", L"1 B", L"2 a"}},  // "#": the list's own order
        {0, {L"0 <Norvane>", L"2 a", L"1 B"}},
        {1, {L"0 <Norvane>", L"2 a", L"1 B"}},  // "Name", without regard to case
        {1, {L"0 <Norvane>", L"1 B", L"2 a"}},
        {2, {L"0 <Norvane>", L"1 B", L"2 a"}},  // "Changed"
        {2, {L"0 <Norvane>", L"2 a", L"1 B"}},
    };
    for (const auto& c : clicks) {
        click(c.column);
        EXPECT_EQ(c.rows, rows()) << c.column;
        const int chosenRow = static_cast<int>(std::find(c.rows.begin(), c.rows.end(), L"1 B") - c.rows.begin());
        EXPECT_EQ(chosenRow, static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)))
            << c.column;
        EXPECT_EQ(0, dialog.m_chosen) << "the chosen configuration stays chosen";
    }

    for (bool grid : {true, false, true}) {
        AppViewOptions view = Settings().view;
        view.tableGrid = grid;
        Settings().SetViewOptions(view);
        SendMessageW(dialog.m_hWnd, WM_KICKIDLE, 0, 0);
        EXPECT_EQ(grid, (SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_GRIDLINES) != 0);
    }
    dialog.Destroy();
}

TEST(ConfigurationTimes, ChangedShowsLocalTime)
{
    CTempFolder folder;
    const std::wstring path = folder.File(L"t.nv2");
    WriteFileBytes(path, "{}");
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SYSTEMTIME utc{2026, 3, 0, 14, 9, 5, 7, 0};
    FILETIME time;
    SystemTimeToFileTime(&utc, &time);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    SYSTEMTIME local;
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    wchar_t expected[32];
    swprintf(expected, 32, L"%.2d.%.2d.%.4d %.2d:%.2d.%.2d", local.wDay, local.wMonth, local.wYear, local.wHour,
             local.wMinute, local.wSecond);
    EXPECT_EQ(expected, FileChangedText(path));
    EXPECT_EQ(L"", FileChangedText(folder.File(L"missing.nv2")));
}

TEST_F(Configurations, OpenDialogTableFollowsAndKeepsTheStoredColumnLayout)
{
    WriteConfiguration(L"B.nv2", 2222);
    App().ListConfigurations();
    {
        CDocUpdateScope scope(Settings());
        auto columns = Settings().EditColumns(COLS_OPENCONFIG);
        (*columns)[0].flags &= ~COLF_VISIBLE;  // "#" hidden
        (*columns)[1].width = 160;
    }
    int shownColumns = 0, nameWidth = 0;
    std::wstring first;
    CBoxRobot robot([](HWND d) { return HasCaption(d, L"Open configuration"); },
                    [&](HWND d) {
                        HWND list = GetDlgItem(d, IDC_CONFIG_LIST);
                        HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
                        shownColumns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
                        nameWidth = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
                        first = ListText(list, 1, 0);
                        // The user widens "Changed"; the table's width pass follows.
                        SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, 123);
                        PostMessageW(list, WM_TABLE_WIDTHS, 0, 0);
                        PressButton(d, IDCANCEL);
                    });
    EXPECT_FALSE(OpenConfigurationDialog());
    robot.Join();
    EXPECT_EQ(2, shownColumns);
    EXPECT_EQ(160, nameWidth);
    EXPECT_EQ(L"B", first) << "the first shown column is the name";
    EXPECT_EQ(123, Settings().Columns(COLS_OPENCONFIG)[2].width);
    EXPECT_FALSE(Settings().Columns(COLS_OPENCONFIG)[0].flags & COLF_VISIBLE);
}
