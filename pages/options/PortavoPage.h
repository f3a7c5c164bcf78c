#pragma once
// The bridge link page: client or server towards the bridge program, the NVT option, and the
// settings of the chosen side on a sub-page; the server's sub-page lists the connected peers.
#include <windows.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "framework/Dialog.h"
#include "framework/Layout.h"
#include "pages/options/OptionTips.h"

class CPortavoPage;
class CTransferDoc;
class IPageHost;

// A sub-page: a control child of the bridge page on the window's colour.
class CPtvPage : public CDialog
{
public:
    CPtvPage(int templateId, CPortavoPage& owner);
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    // Typing in an edit marks the configuration unsaved; an edit that loses the focus is stored.
    bool OnCommand(int id, int code, HWND control) override;
    virtual void ExchangeData(bool save) = 0;

protected:
    // Stores what was typed into one of the sub-page's edits.
    virtual void StoreEdit(int editId) = 0;
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    // The sub-page's own controls, before the layout is captured and the data shown.
    virtual void OnInitPage() = 0;
    // Marks the configuration unsaved while the user types.
    void MarkTyping();
    // The number typed into an edit, read by parse, given to store inside an update scope of
    // the page; nothing while the text is no valid number.
    void StoreNumber(int editId, std::optional<int64_t> (*parse)(const std::wstring&),
                     const std::function<void(CTransferDoc& doc, int64_t typed)>& store);

    CPortavoPage& m_owner;
    AnchorLayout m_layout;
};

class CPtvClientPage : public CPtvPage
{
public:
    explicit CPtvClientPage(CPortavoPage& owner);
    void ExchangeData(bool save) override;

private:
    void OnInitPage() override;
    void StoreEdit(int editId) override;
    void StoreHost();
    void StorePort();
    void StorePeriod();
};

class CPtvServerPage : public CPtvPage
{
public:
    explicit CPtvServerPage(CPortavoPage& owner);
    void ExchangeData(bool save) override;
    // List 1128 anew from the running link's peers.
    void RefreshConnections();

private:
    void OnInitPage() override;
    void StoreEdit(int editId) override;
    void StorePort();
    void StoreMaxConnections();
};

class CPortavoPage : public CBasePage
{
public:
    explicit CPortavoPage(IPageHost& host);
    ~CPortavoPage() override;

    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;
    void RestoreDefaults() override;

    IPageHost& Host() { return *m_host; }
    // The shown sub-page (null for none) and the server's, when it exists.
    CPtvPage* ShownSubPage() const;
    CPtvServerPage* ServerPage() const;

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void ChooseType(int type);
    void PlaceSubPage(CPtvPage& page);

    std::unique_ptr<CPtvPage> m_subPages[2];
    int m_shown = -1;
    int m_areaTop = 0;
    COptionTips m_tips;
};
