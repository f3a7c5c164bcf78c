// The application's side of the tables: the header menu's "noSortHeader", the chooser's own
// layout ("columnList") that marks the settings unsaved, its placement slot and the grid lines.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/NorvaneApp.h"
#include "app/ShellServices.h"
#include "framework/TableCtrl.h"
#include "tests/app/AppTestSupport.h"

namespace {

struct Delivery {
    int calls = 0;
    uint32_t word1 = 0;
    uint32_t ui = 0;
};

void Record(void* key, CDocument* doc, const uint32_t* bits)
{
    auto* d = static_cast<Delivery*>(key);
    ++d->calls;
    d->word1 |= bits[0];
    d->ui |= static_cast<CAppSettings*>(doc)->GetDetails().ui;
}

} // namespace

TEST(AppTableSettings, ReachTheSettingsDocumentAndThePlacementSlot)
{
    CAppSettings& settings = App().GetSettings();
    settings.SetDefaults();
    ITableSettings& tables = App().GetTableSettings();
    EXPECT_EQ(&settings, tables.GetSettingsDocument());
    Delivery delivery;
    CObserverToken token = settings.Observe(&delivery, &Record);

    tables.SetNoSortHeader(true);
    EXPECT_TRUE(settings.GetNoSortHeader());
    EXPECT_TRUE(tables.GetNoSortHeader());
    EXPECT_EQ(ASC_UI, delivery.word1 & ASC_UI);
    EXPECT_EQ(ASU_NO_SORT_HEADER, delivery.ui & ASU_NO_SORT_HEADER);
    AppViewOptions view = settings.view;
    view.tableGrid = true;
    settings.SetViewOptions(view);
    EXPECT_TRUE(tables.GetTableGrid());

    settings.SetDefaults();
    delivery = Delivery();
    std::vector<ColumnDesc> layout = tables.GetChooserColumns();
    ASSERT_EQ(GetDefaultColumns(COLS_COLUMNLIST), layout);
    layout[2].width = 180;
    layout[2].titleId = 511;
    layout[2].flags |= COLF_CHOOSER_MARK | COLF_AUTOSIZE;
    tables.StoreChooserColumns(layout);
    EXPECT_TRUE(settings.IsUnsaved());
    EXPECT_EQ(1, delivery.calls);
    EXPECT_EQ(ASC_UNSAVED, delivery.word1);
    const ColumnDesc& stored = settings.Columns(COLS_COLUMNLIST)[2];
    EXPECT_EQ(180, stored.width);
    EXPECT_EQ(0, stored.titleId) << "the settings keep records, not titles";
    EXPECT_EQ(COLF_VISIBLE | COLF_AUTOSIZE, stored.flags);
    layout[2].width = 190;
    tables.StoreChooserColumns(layout);
    EXPECT_EQ(1, delivery.calls) << "already unsaved: nobody to tell";
    EXPECT_EQ(190, settings.Columns(COLS_COLUMNLIST)[2].width);

    settings.SetWindowSlot(kPlacementColumnList, WindowSlot());
    HWND window = CreateWindowExW(0, L"STATIC", L"chooser", WS_POPUP | WS_CAPTION, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    MoveWindow(window, 123, 145, 460, 300, FALSE);
    tables.ExchangeChooserPlacement(true, window);
    DestroyWindow(window);
    const WindowSlot& slot = settings.windowSlots[kPlacementColumnList];
    EXPECT_EQ(123, slot.left);
    EXPECT_EQ(145, slot.top);
    EXPECT_EQ(460, slot.width);
    EXPECT_EQ(300, slot.height);
    settings.SetDefaults();
}
