#pragma once
// The Mifare Ultralight and Temic sub-pages of the Reading keys page: which pages of an
// Ultralight card hold the number, and how Temic T5557 transponders are scanned and read.
#include <string>

#include "framework/Dialog.h"
#include "framework/Layout.h"
#include "pages/source/StatesPage.h"

class CMifareULPage final : public CBasePage
{
public:
    explicit CMifareULPage(IPageHost& host);

    bool OnCommand(int id, int code, HWND control) override;
    void ExchangeData(bool save) override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;

private:
    bool OnInitDialog() override;
    void UpdateControlStates();
};

class CTemicPage final : public CStatesPage
{
public:
    explicit CTemicPage(IPageHost& host);

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;

private:
    bool ShowChange(CDocument* doc, const uint32_t* bits) override;
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void FillControls();
    void UpdateControlStates() override;
    void SetFlag(uint32_t bit, bool on);
    // Each stores its edit's value when it reads as one and differs; true when it stored.
    bool ReadScanEdit();
    bool ReadPasswordEdit();
    void ForEachTool(bool add);

    AnchorLayout m_layout;
    std::wstring m_tipText;
};

// The password as typed: hex digits, an optional "0x" in front; the last eight digits count.
// False for a text without a hex digit.
bool ParseTemicPassword(const std::wstring& text, uint32_t& password);
// The scan requests as the edit shows them: "type,speed,delay;" each.
std::wstring TemicParamsText(const std::vector<uint32_t>& params);
