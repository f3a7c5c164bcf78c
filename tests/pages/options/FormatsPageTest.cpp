// The formats page through its real controls: the view under the filter word, the sorts and the
// row drops on the stored list, the choice and visibility images, duplicating, deleting with and
// without the question, and the picture of the page.
#include "tests/pages/options/FormatsTestSupport.h"

#include <algorithm>

#include "core/TextUtil.h"
#include "framework/SysFunctions.h"
#include "framework/MessageBox.h"
#include "resources/resource.h"
#include "tests/support/WindowPicture.h"

using namespace formats_test;

namespace {

class FormatsPage : public FormatsPageFixture
{
protected:
    // Regular "Alpha" (Default), regular "Hidden" (only under filter 1), the presets "Alpha"
    // and "Beta".
    void AddMixed()
    {
        Add(MakeFormat(L"Alpha"));
        Add(MakeFormat(L"Hidden", L"%d", L"x[0]", 2));
        Add(MakeFormat(L"\nAlpha", L"%x"));
        Add(MakeFormat(L"\nBeta"));
    }
    void ClickHeader(int column)
    {
        HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        RECT r{};
        SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(page->Table().VisibleIndexOf(column)),
                     reinterpret_cast<LPARAM>(&r));
        Click(header, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    }
    int TabImage(int tab)
    {
        TCITEMW item{};
        item.mask = TCIF_IMAGE;
        SendMessageW(page->Tabs(), TCM_GETITEMW, static_cast<WPARAM>(tab), reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
};

} // namespace

TEST_F(FormatsPage, FilterWordDecidesTheRows)
{
    AddMixed();
    const struct {
        uint32_t filter;
        std::vector<std::wstring> shown;
    } cases[] = {
        {0, {L"Alpha", L"Hidden", L"[P] Alpha", L"[P] Beta"}},
        {FFILTER_SHOW_HIDDEN | FFILTER_SHOW_PRESETS, {L"Alpha", L"Hidden", L"[P] Alpha", L"[P] Beta"}},
        {FFILTER_ON, {L"Alpha"}},
        {FFILTER_ON | FFILTER_SHOW_PRESETS, {L"Alpha", L"[P] Beta"}},
        {FFILTER_ON | FFILTER_SHOW_PRESETS | FFILTER_SAME_NAME, {L"Alpha", L"[P] Alpha", L"[P] Beta"}},
        {FFILTER_ON | FFILTER_SHOW_HIDDEN, {L"Alpha", L"Hidden"}},
    };
    Open();
    for (const auto& c : cases) {
        Settings().SetFormatsFilter(c.filter);
        EXPECT_EQ(c.shown, ShownNames()) << c.filter;
    }
    // The toolbar's filter button toggles the word and shows it.
    Settings().SetFormatsFilter(FFILTER_ON);
    Command(ID_FILTER_ENABLED);
    EXPECT_EQ(0u, Settings().GetFormatsFilter());
    EXPECT_EQ(4, Rows());
    EXPECT_FALSE(SendMessageW(page->Toolbar(), TB_ISBUTTONCHECKED, ID_FILTER_ENABLED, 0));
    // Under key filter 1 only the format whose mask has bit 1 is listed.
    Settings().SetFormatsFilter(FFILTER_ON);
    Doc().SetFormatsKeyFilter(1);
    EXPECT_EQ(std::vector<std::wstring>{L"Hidden"}, ShownNames());
}

TEST_F(FormatsPage, HeaderClicksSortTheStoredList)
{
    Add(MakeFormat(L"b"));
    Add(MakeFormat(L"\nc"));
    Add(MakeFormat(L"a"));
    Add(MakeFormat(L"\na"));
    Settings().SetFormatsFilter(0);
    Doc().SetDefaultFormatId(Doc().GetFormats()[0]->id);  // "b" is the chosen one
    Open();
    const struct {
        int column;
        std::vector<std::wstring> stored;
        int sort;
    } steps[] = {
        {FCOL_NUMBER, {L"b", L"\nc", L"a", L"\na"}, 2},
        {FCOL_NAME, {L"a", L"b", L"\na", L"\nc"}, 4},
        {FCOL_NAME, {L"b", L"a", L"\nc", L"\na"}, -4},
        {FCOL_CHOICE, {L"a", L"\nc", L"\na", L"b"}, 1},
    };
    for (const auto& s : steps) {
        ClickHeader(s.column);
        EXPECT_EQ(s.stored, StoredNames()) << s.column;
        EXPECT_EQ(s.sort, Doc().formatsSort) << s.column;
        EXPECT_EQ(FormatDisplayName(*Doc().GetFormats()[0]), Cell(0, FCOL_NAME));
    }
}

TEST_F(FormatsPage, DroppedRowsMoveAsABlockAndClearTheSort)
{
    for (const wchar_t* name : {L"A", L"B", L"C", L"D"})
        Add(MakeFormat(name));
    Settings().SetFormatsFilter(0);
    Doc().SetFormatsSort(4);
    Open();
    auto drop = [this](int row) {
        TableDragInfo info{};
        info.row = row;
        page->Table().NotifyParent(TN_DRAGEND, &info.hdr);
    };
    Select({2, 3});
    drop(0);
    EXPECT_EQ((std::vector<std::wstring>{L"C", L"D", L"A", L"B"}), StoredNames());
    EXPECT_EQ(0, Doc().formatsSort);
    EXPECT_EQ(L"C", Cell(0, FCOL_NAME));
    // The moved rows stay selected; a drop inside the block changes nothing.
    std::vector<int> rows;
    EXPECT_EQ(2, page->Table().GetSelectedItems(rows));
    EXPECT_EQ((std::vector<int>{0, 1}), rows);
    drop(1);
    EXPECT_EQ((std::vector<std::wstring>{L"C", L"D", L"A", L"B"}), StoredNames());
}

TEST_F(FormatsPage, ImagesAndSpaceChooseAndShow)
{
    KvFormatPtr a = Add(MakeFormat(L"A"));
    KvFormatPtr b = Add(MakeFormat(L"B"));
    Settings().SetFormatsFilter(0);
    Doc().SetDefaultFormatId(a->id);
    // "Visible" shown, left of "Choice".
    std::vector<ColumnDesc> columns = GetDefaultColumns(COLS_FORMATS);
    columns[FCOL_VISIBLE].flags |= COLF_VISIBLE;
    *Settings().EditColumns(COLS_FORMATS) = columns;
    Open();
    EXPECT_EQ(1, TabImage(0));
    EXPECT_EQ(4, Image(0, FCOL_CHOICE));
    EXPECT_EQ(3, Image(1, FCOL_CHOICE));
    ClickImage(0, FCOL_CHOICE);
    EXPECT_EQ(0u, Doc().defaultId);
    EXPECT_EQ(0, TabImage(0));
    EXPECT_EQ(3, Image(0, FCOL_CHOICE));
    ClickImage(1, FCOL_CHOICE);
    EXPECT_EQ(b->id, Doc().defaultId);

    // Space: "Choice" lies left of "Visible", so it chooses the focused row.
    Select({0});
    PressKey(list, VK_SPACE);
    EXPECT_EQ(a->id, Doc().defaultId);
    // With "Visible" moved to the far left Space toggles the bit on every selected row.
    columns[FCOL_VISIBLE].order = -1;
    *Settings().EditColumns(COLS_FORMATS) = columns;
    Select({0, 1});
    PressKey(list, VK_SPACE);
    EXPECT_EQ(0, a->keyFilterMask);
    EXPECT_EQ(0, b->keyFilterMask);
    EXPECT_EQ(0, Image(1, FCOL_VISIBLE));
    EXPECT_EQ(a->id, Doc().defaultId);
    ClickImage(0, FCOL_VISIBLE);
    EXPECT_EQ(1, a->keyFilterMask);
    EXPECT_EQ(0, b->keyFilterMask);
}

TEST_F(FormatsPage, CtrlDCopiesAPresetAsARegularFormatRightAfterIt)
{
    Add(MakeFormat(L"X"));
    Add(MakeFormat(L"\nAlpha", L"%04X", L"x[1]", 6));
    Settings().SetFormatsFilter(0);
    Open();
    const struct {
        std::vector<std::wstring> stored;
    } steps[] = {
        {{L"X", L"\nAlpha", L"Alpha"}},
        {{L"X", L"\nAlpha", L"Alpha (2)", L"Alpha"}},
    };
    for (const auto& s : steps) {
        Select({1});
        PressKey(list, 'D', {VK_CONTROL});
        EXPECT_EQ(s.stored, StoredNames());
        const KvFormatPtr copy = Doc().GetFormats()[2];
        EXPECT_FALSE(copy->IsPreset());
        EXPECT_EQ(L"%04X", copy->templ);
        EXPECT_EQ(L"x[1]", copy->params);
        EXPECT_EQ(6, copy->keyFilterMask);
        EXPECT_GT(copy->id, 1000u);
        Idle();
        std::vector<int> rows;
        page->Table().GetSelectedItems(rows);
        EXPECT_EQ(std::vector<int>{2}, rows);
    }
}

TEST_F(FormatsPage, DeleteAsksInTheRealBoxAndNeverRemovesPresets)
{
    AddMixed();
    Settings().SetFormatsFilter(0);
    host.messageBox = [](const std::wstring& text, UINT style, bool* dontAsk) {
        return ShowMessage(text, style, nullptr, dontAsk);
    };
    Open();
    std::wstring shown;
    {
        CRobot robot([](HWND d) { return GetDlgItem(d, IDOK) != nullptr; },
                     [&](HWND d) {
                         shown = host.messages.empty() ? L"" : host.messages.back();
                         SendMessageW(d, TDM_CLICK_VERIFICATION, TRUE, FALSE);
                         SendMessageW(d, TDM_CLICK_BUTTON, IDOK, 0);
                     });
        Select({0, 1, 2});
        PressKey(list, VK_DELETE);
        robot.Join();
        ASSERT_TRUE(robot.found);
    }
    EXPECT_EQ(L"Remove 2 items?", shown);
    EXPECT_EQ((std::vector<std::wstring>{L"\nAlpha", L"\nBeta"}), StoredNames());
    EXPECT_EQ(0u, Settings().GetConfirmFlags() & CONFIRM_DELETE);

    // One regular format names itself; Cancel keeps it; Shift+Delete asks nothing.
    host.messageBox = nullptr;
    Settings().SetConfirmFlags(kDefaultConfirm);
    Add(MakeFormat(L"Gamma"));
    host.answers = {IDCANCEL};
    Select({0, 1, 2});
    PressKey(list, VK_DELETE);
    EXPECT_EQ(L"Remove \"Gamma\"?", host.messages.back());
    EXPECT_EQ(3u, Doc().GetFormats().size());
    const size_t asked = host.messages.size();
    Select({2});
    PressKey(list, VK_DELETE, {VK_SHIFT});
    EXPECT_EQ(asked, host.messages.size());
    EXPECT_EQ((std::vector<std::wstring>{L"\nAlpha", L"\nBeta"}), StoredNames());
    // Only presets selected: nothing happens.
    Select({0, 1});
    PressKey(list, VK_DELETE);
    EXPECT_EQ(asked, host.messages.size());
    EXPECT_EQ(2u, Doc().GetFormats().size());
}

TEST_F(FormatsPage, PageIsRenderedAndSaved)
{
    // A new configuration: the built-in presets and key filters under the filter word it starts
    // with, the "Default" tab choosing "Facility,card 000,00000", and an Em-Marine key as the last.
    Doc().LoadPresets(true);
    Doc().SetDefaultFormatId(34);
    const uint8_t lastKey[] = {0x39, 0x30, 0x7B, 0x2A, 0x1F};
    Settings().SetLastTransferInfo(CTimeValue(), 1, MakeKeyNumber(lastKey, 5), 0, nullptr, 0, nullptr, nullptr,
                                   nullptr, nullptr);
    Open();
    const auto underDefault = std::count_if(Doc().GetFormats().begin(), Doc().GetFormats().end(),
                                            [](const KvFormatPtr& f) { return f->IsPreset() && (f->keyFilterMask & 1); });
    EXPECT_EQ(underDefault, Rows());
    EXPECT_EQ(L"[P] DALLAS", Cell(0, FCOL_NAME));
    EXPECT_EQ(L"00001F2A7B3039F4", Cell(0, FCOL_LAST_KEY));
    Pump();
    const CWindowPicture picture(page->m_hWnd, L"FormatsPage.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const RECT rows = ClientRectInWindowPicture(page->m_hWnd, list);
    const COLORREF field = GetSysColor(COLOR_WINDOW);
    EXPECT_EQ(field, picture.Dominant(rows));
    EXPECT_GE(picture.InkPixels(rows, field), 300);
    const RECT tabs = ClientRectInWindowPicture(page->m_hWnd, page->Tabs());
    EXPECT_GE(picture.InkPixels(RECT{tabs.left, tabs.top, tabs.right, tabs.top + 20}, GetSysColor(COLOR_BTNFACE)), 40);
}

TEST_F(FormatsPage, TabMenuItemsShowAndHideKeyFiltersAndDefaultsKeepThem)
{
    Add(MakeFormat(L"Mine"));
    Open();
    auto tabCount = [this] { return static_cast<int>(SendMessageW(page->Tabs(), TCM_GETITEMCOUNT, 0, 0)); };
    EXPECT_EQ(4, tabCount());
    const struct {
        int position;
        uint32_t selectedBefore;
        int tabs;
        uint32_t selectedAfter;
    } steps[] = {
        {1, 0, 3, 0},   // "Filter 5" hidden
        {1, 0, 4, 5},   // shown again: its tab is selected
        {1, 5, 3, 0},   // hiding the selected one selects "Default"
    };
    for (const auto& s : steps) {
        EXPECT_EQ(s.selectedBefore, Doc().selectedKeyFilter);
        Command(ID_KEY_FILTER_TOGGLE_BASE + s.position);
        EXPECT_EQ(s.tabs, tabCount());
        EXPECT_EQ(s.selectedAfter, Doc().selectedKeyFilter);
        EXPECT_EQ(static_cast<int>(SendMessageW(page->Tabs(), TCM_GETCURSEL, 0, 0)),
                  FindTabByParam(page->Tabs(), static_cast<LPARAM>(Doc().selectedKeyFilter)));
    }
    // The page's defaults: regular formats go, presets come back, key filters stay.
    Settings().SetFormatsFilter(FFILTER_ON);
    Command(ID_PAGE_DEFAULT);
    EXPECT_EQ(5u, Settings().GetFormatsFilter());
    EXPECT_EQ(-1, Doc().FindFormatByName(L"Mine"));
    EXPECT_FALSE(Doc().GetFormats().empty());
    EXPECT_TRUE(std::all_of(Doc().GetFormats().begin(), Doc().GetFormats().end(),
                            [](const KvFormatPtr& f) { return f->IsPreset(); }));
    EXPECT_EQ(3u, Doc().GetKeyFilters().size());
    EXPECT_EQ(L"Filter 30", Doc().GetKeyFilters()[2].name);
}
