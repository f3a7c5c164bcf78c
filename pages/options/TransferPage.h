#pragma once
// The Transfer page: transfer on and off, the source of keys, the transfer method and the record
// of the last transfer with a byte grid of its key.
#include <memory>
#include <string>

#include "config/AppSettings.h"
#include "framework/Dialog.h"
#include "framework/Layout.h"

class IPageHost;

// The source box's line of a known reader: its port name, and with a known model four blanks,
// the model's name, its serial number and its firmware version (the last two only when the
// reader told them: neither 0 nor -1).
std::wstring TransferSourceLine(const KnownReader& reader);
// The port name of a typed source: the text up to its first run of four blanks.
std::wstring CutPortName(const std::wstring& text);
// The Key field of the last transfer; keyTypeName is the name of its key type.
std::wstring LastTransferKeyText(const _LAST_TRANSFER& last, const std::wstring& keyTypeName);
// The Format and Where fields of the last transfer.
std::wstring LastTransferFormatText(const _LAST_TRANSFER& last);
std::wstring LastTransferWhereText(const _LAST_TRANSFER& last);
// Whether the Where line shows for a destination type.
bool DestinationShowsWhere(int destType);

class CTransferPage : public CBasePage
{
public:
    explicit CTransferPage(IPageHost& host);

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    void ExchangeData(bool save) override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;

    // The source box's edit, subclassed so that Enter commits the source.
    class CSourceEdit : public CSubclassedWnd
    {
    public:
        explicit CSourceEdit(CTransferPage& page) : m_page(page) {}
        LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    private:
        CTransferPage& m_page;
    };

private:
    CAppSettings& Settings() const;
    CTransferDoc& Doc() const;
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void SetUpToolbar(int toolbarId, int command, int image);
    void FillSourceList();
    void ShowCurrentSource();
    void CommitSource();
    void StoreSourceAt(int index);
    void ShowDestination();
    void StoreDestination(int type);
    void UpdateWhereVisibility();
    void RefreshLastTransfer();
    void DrawByteGrid(const DRAWITEMSTRUCT* item) const;
    void OnEnabledClicked();
    void ConfigureSource();
    void ConfigureDestination();
    // The formats page, on the format of the last transfer.
    void ShowFormatOfLastTransfer();
    void ShowMenu(int menuId, int toolbarId);
    void RunMenuCommand(int id);
    void ResetCounter();
    void RestoreDefaults() override;

    std::unique_ptr<CSourceEdit> m_sourceEdit;
    AnchorLayout m_layout;
    int m_readerCount = 0;  // known readers in the source box, before "List of keys"
};

std::unique_ptr<CBasePage> CreateTransferPage(IPageHost& host);
