#pragma once
// The reader page (the "reader" settings of the configuration) and the source group's header
// page, which has no settings.
#include <cstdint>
#include <string>

#include "framework/Dialog.h"
#include "pages/source/StatesPage.h"

class CToolTipCtrl;
class CTransferDoc;

class CSourcePage : public CBasePage
{
public:
    explicit CSourcePage(IPageHost& host);

private:
    bool OnInitDialog() override;
};

class CReaderPage : public CStatesPage
{
public:
    explicit CReaderPage(IPageHost& host);

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;

    void UpdateControlStates() override;

private:
    bool ShowChange(CDocument* doc, const uint32_t* bits) override;
    bool OnInitDialog() override;
    void OnDestroy() override;
    void FillReaderGroup();
    void FillSearchGroup();
    void StoreModel(int model);
    // The setter of a number edit, called when its text is a valid number.
    void StoreEdit(int id);
    void RestoreDefaults() override;
    CTransferDoc& Doc() const;
    CToolTipCtrl* MainToolTip() const;

    std::wstring m_tip;  // the text a tip points to while it shows
};

// The tip of a control: the part after the first line feed of the string numbered by its id
// (the whole string without one). Shared by the pages whose tips come by callback.
bool OnControlTipNotify(NMHDR* nmh, CToolTipCtrl* tips, std::wstring& buffer);

// A number edit's text as the page reads it: signed, or unsigned (stored bit for bit); false
// for anything that is not a whole number in range.
bool ParseEditNumber(const std::wstring& text, bool isSigned, int32_t& value);
