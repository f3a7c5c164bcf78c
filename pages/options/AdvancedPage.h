#pragma once
// The Advanced page: the application options in two views of the same settings, the simple
// view and the full parameter list, switched by two radio buttons; which one shows is itself a
// setting.
#include <array>
#include <memory>

#include "framework/Dialog.h"
#include "pages/options/AdvPage.h"
#include "framework/Layout.h"

class CAdvancedPage : public CBasePage
{
public:
    explicit CAdvancedPage(IPageHost& host);

    bool OnCommand(int id, int code, HWND control) override;
    void ExchangeData(bool save) override;
    void OnIdleUpdate() override;

    // 0 the simple view, 1 the full list; -1 none.
    int CurrentView() const { return m_current; }
    CAdvPage* View(int n) const { return m_views[static_cast<size_t>(n)].get(); }
    void SelectView(int n);

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    bool CountRows(int& selected, int& total) override;
    // The current view's defaults.
    void RestoreDefaults() override;
    void OnDestroy() override;
    void Layout();

    std::array<std::unique_ptr<CAdvPage>, 2> m_views;
    int m_current = -1;
    AnchorLayout m_layout;
};

std::unique_ptr<CBasePage> CreateAdvancedPage(IPageHost& host);
