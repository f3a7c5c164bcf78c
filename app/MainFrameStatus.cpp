// The status bar of the main frame: its six parts with their tips, menus and double clicks, and
// the frame's notifications (toolbar tips, the page toolbar's background, the page list's size).
#include "app/MainFrame.h"

#include <commctrl.h>
#include <windowsx.h>

#include "app/CommandTexts.h"
#include "app/NorvaneApp.h"
#include "config/KeyNumber.h"
#include "core/TextUtil.h"
#include "pages/KeyDialog.h"
#include "reader/Reader.h"

namespace {

constexpr int kStatusPartCount = 6;
// The page list bar tells of a change of its width with this code.
constexpr UINT kPageListResized = 1;

CAppSettings& Settings()
{
    return App().GetSettings();
}

std::wstring OnOffText(bool on)
{
    std::wstring text;
    LoadResString(on ? IDS_ON : IDS_OFF, text);
    return text;
}

// The tool tip's text outlives the notification that asked for it.
std::wstring& TipBuffer()
{
    static std::wstring buffer;
    return buffer;
}

} // namespace

// ---- CAppStatusBar ----

int CAppStatusBar::PartAt(POINT point) const
{
    for (int part = 1; part < kStatusPartCount; ++part) {
        RECT rc{};
        if (SendMessageW(m_hWnd, SB_GETRECT, part, reinterpret_cast<LPARAM>(&rc)) && PtInRect(&rc, point))
            return part;
    }
    return -1;
}

LRESULT CAppStatusBar::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSEMOVE && toolTip && toolTip->m_hWnd) {
        // One tool for the whole bar, made again for each part so that its tip is asked anew.
        const int part = PartAt({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        if (part != hotPart) {
            if (hotPart >= 0)
                toolTip->RemoveTool(m_hWnd, 0);
            hotPart = part;
            if (part >= 0)
                toolTip->AddWindowTool(m_hWnd);
        }
    }
    return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
}

// ---- Texts ----

std::wstring CMainFrame::LastKeyText() const
{
    CNorvaneApp& app = m_app;
    const CAppSettings& settings = app.GetSettings();
    const _LAST_TRANSFER& last = settings.GetLastTransfer();
    if (last.keyNumber.length == 0)
        return std::wstring();
    app.LoadKeyTypeNames();
    std::wstring text;
    if (last.keyType >= 0 && last.keyType < kKeyTypeCount)
        text = app.GetKeyTypeNames()[last.keyType];
    const int form = settings.GetKeyViewFormat() != KEY_VIEW_AUTO ? settings.GetKeyViewFormat()
                                                                   : ResolveKeyViewFormat(KEY_VIEW_AUTO, last.keyType);
    std::wstring number;
    KeyToText(number, last.keyNumber, form);
    return text + L" " + number;
}

std::wstring CMainFrame::StatusText(int part)
{
    const CAppSettings& settings = Settings();
    std::wstring text;
    switch (part) {
    case 0:
        if (CReader* reader = m_app.GetReader()) {
            const ReaderJob job = reader->GetJob();
            const ReaderStatus status = reader->GetStatus();
            if (job.state == RDJOB_PENDING && (job.type == RDJOB_TEMIC_INIT || job.type == RDJOB_WRITE_KEYS)) {
                std::wstring name;
                LoadResString(job.type == RDJOB_TEMIC_INIT ? IDS_JOB_TEMIC_INIT : IDS_JOB_WRITE_KEYS, name);
                FormatResString(text, IDS_JOB_PROGRESS, name.c_str());
            } else if (status.temicStep > 0) {
                const uint32_t word = status.temicParam;
                FormatResString(text, IDS_TEMIC_SCANNING, status.temicStep, status.temicSteps,
                                static_cast<int>(word & 0xFF), static_cast<int>((word >> 8) & 0xFF),
                                static_cast<int>(word >> 16));
            }
        }
        break;
    case 1:
        if (settings.transferLog)
            LoadResString(IDS_STATUS_TRANSFER_LOG, text);
        break;
    case 2:
        if (settings.debugLog.enabled)
            LoadResString(IDS_STATUS_DEBUG_LOG, text);
        break;
    case 3: {
        const CTransferDoc& doc = settings.GetTransferDoc();
        if (doc.GetSourceKind() != SOURCE_KEYLIST)
            break;
        // The selected row and every row below it are still to come.
        const std::vector<KvKeyPtr>& keys = doc.GetKeys();
        size_t left = 0;
        for (size_t row = 0; row < keys.size(); ++row) {
            if (keys[row] && (keys[row]->flags & KVKEY_SELECTED)) {
                left = keys.size() - row;
                break;
            }
        }
        text = std::to_wstring(left);
        break;
    }
    case 4:
        text = LastKeyText();
        break;
    case 5:
        if (CBasePage* page = GetCurrentPageObject()) {
            int position = -1;
            int total = -1;
            SendMessageW(page->m_hWnd, WM_PAGE_QUERY, reinterpret_cast<WPARAM>(&position),
                         reinterpret_cast<LPARAM>(&total));
            if (total != -1)
                text = std::to_wstring(position) + L"/" + std::to_wstring(total);
        }
        break;
    default:
        break;
    }
    return text;
}

std::wstring CMainFrame::StatusTip(int part)
{
    const CAppSettings& settings = Settings();
    std::wstring text;
    switch (part) {
    case 1:
        FormatResString(text, IDS_TIP_TRANSFER_LOG, OnOffText(settings.transferLog).c_str());
        break;
    case 2:
        FormatResString(text, IDS_TIP_DEBUG_LOG, OnOffText(settings.debugLog.enabled).c_str());
        break;
    case 3:
        LoadResString(IDS_TIP_KEYS_LEFT, text);
        break;
    case 4:
        LoadResString(IDS_TIP_LAST_KEY, text);
        break;
    case 5:
        LoadResString(IDS_TIP_PAGE_ITEMS, text);
        break;
    default:
        break;
    }
    return text;
}

void CMainFrame::UpdateStatusBar()
{
    dirty &= ~MFD_STATUS;
    if (!statusBar.m_hWnd)
        return;
    for (int part = 0; part < kStatusPartCount; ++part) {
        const std::wstring text = StatusText(part);
        SendMessageW(statusBar.m_hWnd, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

bool CMainFrame::OnStatusBarDblClk(const NMMOUSE* notification)
{
    switch (notification->dwItemSpec) {
    case 1:
        ToggleLogSwitch(false);
        return true;
    case 2:
        ToggleLogSwitch(true);
        return true;
    case 3:
        Settings().SetCurrentPage(PAGE_KEY_LIST);
        return true;
    case 4:
        ShowLastKeyDialog(m_app, m_hWnd);
        return true;
    default:
        return false;
    }
}

// ---- Notifications ----

bool CMainFrame::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->code == TBN_GETINFOTIPW && (id == IDC_TRANSFER_TOOLBAR || id == IDC_PAGE_TOOLBAR)) {
        auto* tip = reinterpret_cast<NMTBGETINFOTIPW*>(nmh);
        if (GetCommandTipText(static_cast<UINT>(tip->iItem), tip->pszText, tip->cchTextMax) > 0) {
            *result = 0;
            return true;
        }
        return false;
    }
    if (id == IDC_PAGE_TOOLBAR && nmh->code == NM_CUSTOMDRAW) {
        // Under the header the toolbar takes its colour, so that the two make one band.
        auto* draw = reinterpret_cast<NMCUSTOMDRAW*>(nmh);
        if (draw->dwDrawStage == CDDS_PREERASE && header && !GetDlgItem(m_hWnd, IDC_TRANSFER_TOOLBAR)) {
            RECT rc;
            GetClientRect(nmh->hwndFrom, &rc);
            FillRect(draw->hdc, &rc, GetSysColorBrush(COLOR_HIGHLIGHT));
            *result = CDRF_SKIPDEFAULT;
            return true;
        }
        return false;
    }
    if (nmh->hwndFrom == toolTip.m_hWnd && nmh->code == TTN_GETDISPINFOW && statusBar.m_hWnd &&
        nmh->idFrom == reinterpret_cast<UINT_PTR>(statusBar.m_hWnd)) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(nmh);
        TipBuffer() = StatusTip(statusBar.hotPart);
        info->lpszText = TipBuffer().data();
        info->hinst = nullptr;
        return true;
    }
    if (nmh->code == kPageListResized) {
        RecalcLayout();
        return true;
    }
    if (id == IDC_STATUS_BAR && statusBar.m_hWnd && nmh->hwndFrom == statusBar.m_hWnd) {
        const auto* mouse = reinterpret_cast<const NMMOUSE*>(nmh);
        if (nmh->code == NM_DBLCLK)
            return OnStatusBarDblClk(mouse);
        if (nmh->code == NM_RCLICK) {
            switch (mouse->dwItemSpec) {
            case 1:
                ShowTransferLogMenu();
                return true;
            case 2:
                ShowAppLogMenu();
                return true;
            case 4:
                ShowLastKeyMenu();
                return true;
            default:
                return false;
            }
        }
    }
    return CWnd::OnNotify(id, nmh, result);
}
