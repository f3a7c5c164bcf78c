#pragma once
// The "Transfer" toolbar at the top of the main window: Start, Stop and Restart, then the key
// source, the format that applies and the destination, each with a rich tip on hover.
#include <windows.h>
#include <commctrl.h>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Document.h"
#include "framework/Wnd.h"

class CAppSettings;
class CRichTip;
class CTransferDoc;

// The format button's text: the one format's name ("[P] " for a preset), "Several %d" or
// "Not chosen", from the formats that the visible key filters and the default id choose.
std::wstring FormatButtonText(const CTransferDoc& doc);
// A reader line of the source list: the port name, and with a model, four blanks and its name.
std::wstring SourceItemText(const std::wstring& port, int model);
// The source a typed text names: the text up to four blanks; a serial port's name upper-cased.
std::wstring TypedSourcePort(const std::wstring& text);
// Text for a tip page's markup: RTF specials escaped, and "<" turned into a look-alike so that
// the text can plant no tag or link.
std::string TipMarkupText(const std::wstring& text);
// The bridge program: below the 32-bit program files folder, the first maker's folder when its
// program exists, else the second's; empty when the folder is unknown.
std::wstring BridgeProgramPath();

class CTransToolBar : public CSubclassedWnd
{
public:
    // A child control whose hovering shows a tip of the toolbar.
    class CTipSpot : public CSubclassedWnd
    {
    public:
        explicit CTipSpot(CTransToolBar& bar) : m_bar(bar) {}
        LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    protected:
        // The tool id under the point (client coordinates); 0 for none.
        virtual UINT_PTR ToolAt(POINT point) = 0;
        CTransToolBar& m_bar;

    private:
        bool m_tracking = false;
    };
    class CSrcListBox : public CTipSpot
    {
    public:
        using CTipSpot::CTipSpot;
    protected:
        UINT_PTR ToolAt(POINT point) override;
    };
    class CSrcEdit : public CTipSpot
    {
    public:
        using CTipSpot::CTipSpot;
        LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    protected:
        UINT_PTR ToolAt(POINT point) override;
    };
    class CFormatButton : public CTipSpot
    {
    public:
        using CTipSpot::CTipSpot;
    protected:
        UINT_PTR ToolAt(POINT point) override;
    };
    class CDstListBox : public CTipSpot
    {
    public:
        using CTipSpot::CTipSpot;
    protected:
        UINT_PTR ToolAt(POINT point) override;
    };
    class CDstComboBox : public CTipSpot
    {
    public:
        using CTipSpot::CTipSpot;
    protected:
        UINT_PTR ToolAt(POINT point) override;
    };

    CTransToolBar(CAppSettings& settings, CRichTip& tip);
    ~CTransToolBar() override;

    bool Create(HWND parent);
    void Destroy() override;

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    void RefreshSource(bool rebuild);
    void RefreshFormat();
    void RefreshDestination(bool rebuild);

    // Fills the rich tip for a tool id; false shows none.
    bool FillTip(UINT_PTR toolId);
    // What a link of the tip being shown does.
    void OnTipLink(const std::wstring& link);
    // The tool whose tip the rich tip shows or asked for last.
    UINT_PTR TipTool() const { return m_tipTool; }

    HWND SourceCombo() const { return m_source; }
    HWND DestinationCombo() const { return m_destination; }
    HWND FormatButton() const { return m_format; }

private:
    CTransferDoc& Doc() const;
    void CreateChildren();
    void OnSourceSelected();
    void OnSourceEdited(const std::wstring& text);
    void OnDestinationSelected();
    void ShowTipFor(HWND spot, UINT_PTR toolId);
    void HideTip();
    bool FillReaderTip(int readerIndex);
    bool FillDestinationTip(int type);
    bool FillFormatTip();
    void SetTipPage(int resourceId, const std::string& keyTypes);
    void RefreshShownTip();
    static void OnSettingsChanged(void* key, CDocument* doc, const uint32_t* bits);
    static void OnTransferChanged(void* key, CDocument* doc, const uint32_t* bits);

    CAppSettings& m_settings;
    CRichTip& m_tip;
    HWND m_source = nullptr;       // ComboBoxEx 1007
    HWND m_destination = nullptr;  // ComboBoxEx 1009
    HWND m_format = nullptr;       // button 32889
    HWND m_arrows[2] = {};
    HICON m_arrowIcon = nullptr;
    HIMAGELIST m_sourceImages = nullptr;
    HIMAGELIST m_destinationImages = nullptr;
    HFONT m_font = nullptr;
    CSrcListBox m_srcList{*this};
    CSrcEdit m_srcEdit{*this};
    CFormatButton m_formatButton{*this};
    CDstListBox m_dstList{*this};
    CDstComboBox m_dstCombo{*this};
    CObserverToken m_settingsToken;
    CObserverToken m_transferToken;
    int m_readerItems = 0;   // reader items before "List of keys"
    UINT_PTR m_tipTool = 0;

};
