#pragma once
// The Mifare Classic and Mifare Plus sub-pages of the Reading keys page: one design, two card
// kinds. Each edits its kind's reading parameters (on/off, sector, block, key A or B, the key
// value or the reader's memory cells) and the 32 key slots of the reader's memory.
#include <memory>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Layout.h"
#include "framework/ListCtrl.h"
#include "framework/MaskedEdit.h"
#include "pages/source/MifareKeySlots.h"
#include "pages/source/StatesPage.h"

struct MifareReadSettings;

class CMifareCPage : public CStatesPage
{
public:
    explicit CMifareCPage(IPageHost& host) : CMifareCPage(host, false) {}

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;

    // Sets the items of the slot list's context menu as it opens now.
    void PrepareKeysMenu(HMENU popup);
    // Runs the key dialog on the selected slots; true when it ended with OK.
    bool EditSelectedKeys();
    // False when the user declined the question.
    bool DeleteSelectedKeys(bool silent);
    // The CSV routines of the menu without their file dialogs; errors are shown, never thrown.
    bool ExportKeys(const std::wstring& path);
    bool ImportKeys(const std::wstring& path, bool replace);

    bool IsPlus() const { return m_plus; }
    const CMCKeysViewData& ListData() const { return m_data; }

protected:
    CMifareCPage(IPageHost& host, bool plus);

private:
    const MifareReadSettings& Settings() const;
    const std::vector<_KEY_NUMBER>& Keys() const;
    // Calls the card kind's setter of the transfer document, the page named as the sender.
    template <class... Params, class... Args>
    void Store(void (CTransferDoc::*classic)(Params...), void (CTransferDoc::*plus)(Params...), Args&&... args);

    bool ShowChange(CDocument* doc, const uint32_t* bits) override;
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    bool OnContextMenu(HWND window, POINT at) override;
    void OnDestroy() override;
    void FillControls();
    void ShowKeySource();
    void FillBlockList();
    void UpdateControlStates() override;
    void RefreshListData();
    void ShowKeysMenu();
    bool OnListNotify(NMHDR* nmh, LRESULT* result);
    void ToggleMaskBits(const std::vector<int>& rows);
    void ReadKeyEdit(bool onlyWhenModified);
    void ChooseImportFile();
    void ChooseExportFile();
    int ConfirmFlags() const;

    static int OnListDataEvent(void* context, CVirtualListViewData* sender, int arg);

    const bool m_plus;
    AnchorLayout m_layout;
    CMaskedEdit m_keyEdit;
    CListCtrl m_slotList;
    CMCKeysViewData m_data;
};

class CMifarePPage final : public CMifareCPage
{
public:
    explicit CMifarePPage(IPageHost& host) : CMifareCPage(host, true) {}
};

// The key of one or several slots. With slots of different keys it opens "Indeterminate";
// OK then leaves them as they are.
class CMfKeyDialog final : public CModalDialog
{
public:
    CMfKeyDialog(CTransferDoc& doc, bool plus, std::vector<int> slots);

    bool OnCommand(int id, int code, HWND control) override;
    void ExchangeData(bool save);

private:
    bool OnInitDialog() override;
    _KEY_NUMBER SlotKey(int slot) const;

    CTransferDoc& m_doc;
    const bool m_plus;
    std::vector<int> m_slots;
    bool m_allEqual = true;
    bool m_keyDefined = true;
    _KEY_NUMBER m_key{};
    CMaskedEdit m_edit;
};
