#pragma once
// The full parameter list of the Advanced page: the parameter catalogue as a two-column tree
// list whose groups fold, every value shown (bold off its default), and one editor row under
// the list whose controls follow the kind of the selected parameters. Every edit is stored at
// once; the page keeps no copy of a value.
#include <memory>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/Layout.h"
#include "framework/TableCtrl.h"
#include "pages/options/AdvPage.h"
#include "pages/options/ParamCatalogue.h"

class CActionHdBk;
class CAdvAllPage;

// Glyphs of the name column.
enum : int { GLYPH_COLLAPSED = 0, GLYPH_EXPANDED = 1, GLYPH_LAST_BRANCH = 2, GLYPH_BRANCH = 3 };

struct ParamRow
{
    uint16_t parent = 0;  // the group's id; 0 for a top-level group
    const ParamNode* node = nullptr;
    int16_t depth = 0;
    int glyph = GLYPH_BRANCH;
};

struct TParamsDisplayItem
{
    int row = -1;
    ParamDisplay display;
};

class CTParamsLvData : public CCachedListData<TParamsDisplayItem>
{
public:
    explicit CTParamsLvData(CAdvAllPage& page) : m_page(page) {}
    int GetItemCount() override;
    void GetDispInfo(LVITEMW* item) override;

private:
    // The value cell of a row.
    void MakeRow(int row, TParamsDisplayItem& item) override;

    CAdvAllPage& m_page;
};

class CAdvAllPage : public CAdvPage
{
public:
    explicit CAdvAllPage(IPageHost& host);

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnIdleUpdate() override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;
    // The page default of the whole application part.
    void RestoreDefaults() override;

    const std::vector<ParamRow>& Rows() const { return m_rows; }
    CTableCtrl& GetList() { return m_list; }
    // The editor's kind after the last refresh (0: no editor) and its state word (1 mixed,
    // 2 all at their default).
    int EditorKind() const { return m_editorKind; }
    int EditorState() const { return m_editorState; }
    // Brings a pending rebuild and editor refresh up to date (what the idle pass does).
    void Flush();
    // The mouse command combo's heading of a group name.
    static std::wstring GroupHeading(const std::wstring& name);

    bool ValueColumnVisible() const;

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void ApplySavedColumns();
    bool OnListKey(WORD key);
    void RebuildRows();
    void AddRows(const ParamNode& group, int depth, uint16_t parent);
    void RefreshList(bool rebuild);
    static int OnDataChanged(void* context, CVirtualListViewData* sender, int arg);
    std::vector<int> SelectedRows() const;
    void SelectRows(const std::vector<int>& rows);
    bool IsCollapsed(uint16_t group) const;
    void ChangeCollapsed(const std::vector<uint16_t>& groups, int mode);  // mode 0 toggle, 1 collapse all, 2 expand all
    void CollectGroups(const std::vector<ParamNode>& nodes, std::vector<uint16_t>& out) const;
    void RefreshEditor();
    void SetBarButtons(bool withApply);
    void SetToolButtons(int kind);
    void FillChoice(int kind, const ParamValue& value, bool mixed);
    void FillFolder();
    bool ReadEditor(ParamValue& value);
    void ApplyEditor();
    void ApplyToSelection(const std::function<bool(int index, ParamValue& value)>& make);
    void FlipYesNo(const std::vector<int>& rows);
    void SelectGroup();
    void FocusEditor();
    void OnListMenu(POINT at) override;
    void ScheduleEditorRefresh();
    void StoreColumns();
    void DrawValueBold(NMLVCUSTOMDRAW* draw, LRESULT* result);
    void OnActivate(int row);

    friend class CTParamsLvData;

    std::vector<ParamNode> m_tree;
    std::vector<ParamRow> m_rows;
    std::unique_ptr<CTParamsLvData> m_data;
    std::shared_ptr<CActionHdBk> m_actions;
    CTableCtrl m_list;
    CImageList m_images;
    CImageList m_flags;
    int m_checkBase = 4;   // the No and Yes pictures
    int m_flagBase = 6;    // the first flag
    CGdiObject m_bold;
    AnchorLayout m_layout;
    int m_editorKind = -1;
    int m_editorState = 0;
    bool m_applyShown = false;
    int m_pending = 0;     // 2 editor refresh, 4 rebuild
};
