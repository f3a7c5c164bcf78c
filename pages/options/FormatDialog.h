#pragma once
// "Format properties": edits one format, several at once (those selected on the formats page) or
// a new one, with a preview of the last key and a check of the template against the parameters.
// A preset's name, template and parameters never change: changing them saves a regular copy.
#include <cstdint>
#include <string>

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/Layout.h"
#include "framework/ListCtrl.h"

class IPageHost;
class CTransferDoc;

// The key-filter rows of the dialog: "Default" first, then the key filters in list order.
class CShowKeyFiltersLvData : public CVirtualListViewData
{
public:
    int GetItemCount() override;
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int, int) override {}

    // The key filter id (mask bit) of a row, -1 outside the rows.
    int BitOf(int row) const;

    const CTransferDoc* m_doc = nullptr;
    const uint32_t* m_mask = nullptr;         // the working mask
    const uint32_t* m_determinate = nullptr;  // bits on which the mask holds
    std::wstring m_defaultCaption;

private:
    std::wstring m_text;
};

// Field bits of the dialog's field mask (the same as the format update's fields).
constexpr uint32_t FDF_NAME = 0x2;
constexpr uint32_t FDF_TEMPLATE = 0x4;
constexpr uint32_t FDF_PARAMS = 0x8;
constexpr uint32_t FDF_COMMENT = 0x10;
constexpr uint32_t FDF_KEY_FILTERS = 0x20;
constexpr uint32_t FDF_ALL = 0x3E;

class CFormatDialog : public CModalDialog
{
public:
    explicit CFormatDialog(IPageHost& host);

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    // Set by the caller before RunModal: a new format, with the fields whose bits are in
    // m_fields preset.
    bool m_addMode = false;
    std::wstring m_name, m_templ, m_params, m_comment;
    uint32_t m_mask = 0;
    uint32_t m_fields = 0;
    uint32_t m_determinate = 0;

    // Read back by tests.
    int EditedCount() const { return m_count; }
    uint32_t Agreement() const { return m_agreement; }

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    bool OnAccept() override { return Apply(); }
    void LoadEdited();
    void FillControls();
    void ReadControls();
    void ReadRenderFields();
    void RefreshPreview();
    void Check();
    bool Apply();
    bool ApplyAdd();
    bool ApplyEdit();
    void ApplyFieldsTo(const std::shared_ptr<struct _KV_FORMAT>& target, uint32_t fields);
    bool ConfirmReplace(const std::wstring& name, int count);
    void ShowValidationError(HRESULT code, int position);
    void ToggleKeyFilterRow(int row);
    void EnableApply(bool on);
    void FocusName();

    IPageHost& m_host;
    AnchorLayout m_layout;
    CListCtrl m_list;
    CShowKeyFiltersLvData m_rows;
    CImageList m_images;
    CToolTipCtrl m_tips;
    int m_count = 0;
    int m_presets = 0;
    uint32_t m_agreement = 0xFFFFFFFF;
    bool m_applyEnabled = false;
};

// The dialog for a new format in add mode, its key filters preset to the one selected on the
// formats page; true on OK, with the index of the format it added or replaced.
bool ShowNewFormatDialog(IPageHost& host, int* index, HWND owner);
