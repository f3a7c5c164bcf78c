#pragma once
// The simple view of the Advanced page: the most used application options in framed groups,
// stored at once, scrolled when the page is short.
#include "framework/Dialog.h"
#include "framework/Holders.h"
#include "framework/Layout.h"
#include "framework/ScrollArea.h"
#include "pages/options/AdvPage.h"

class CAdvSimplePage : public CAdvPage
{
public:
    explicit CAdvSimplePage(IPageHost& host);

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;
    // The page default of the options this view shows.
    void RestoreDefaults() override;

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    bool OnContextMenu(HWND window, POINT at) override;
    void OnDestroy() override;
    void FillLanguages();
    void FillConfigurations();
    void SelectConfiguration();
    void FillConfirmBoxes();
    void FillChecks();
    bool ConfigurationFileExists() const;
    void UpdateDeleteButton();
    void OpenChosenConfiguration();
    void SetConfirmBits(uint32_t bits, bool on);
    void ShowMenu(int menuId, POINT at, HWND button);
    void GoToLog(const wchar_t* name);
    void OnMouseWheel(int delta);
    std::vector<HWND> TipWindows() const;

    AnchorLayout m_layout;
    ScrollArea m_scroll;
    CImageList m_flags;
    uint32_t m_confirmAtFill = 0;
    bool m_ready = false;
};
