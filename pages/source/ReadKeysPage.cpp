#include "pages/source/ReadKeysPage.h"

#include <commctrl.h>
#include <windowsx.h>
#include <algorithm>

#include "config/TransferDoc.h"
#include "core/TextUtil.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/PageRegistry.h"
#include "reader/ReaderModels.h"
#include "resources/resource.h"

namespace {

constexpr int kTabImageWidth = 16;
constexpr COLORREF kTabImageMask = RGB(255, 0, 255);
constexpr uint32_t kAllTypes = kAllKeyTypes;

} // namespace

// ---- CReadKeysPage ----

CReadKeysPage::CReadKeysPage(IPageHost& host) : CBasePage(IDD_READKEYS_PAGE, &host) {}

CTransferDoc& CReadKeysPage::Doc() const
{
    return m_host->GetTransferDoc();
}

void CReadKeysPage::DeleteSubPages()
{
    for (auto& page : m_subPages)
        page.reset();
    m_shown = -1;
}

void CReadKeysPage::OnDestroy()
{
    DeleteSubPages();
}

bool CReadKeysPage::OnInitDialog()
{
    m_shown = -1;
    m_tab = Item(IDC_READKEYS_TAB);
    SetWindowLongW(m_tab, GWL_STYLE, GetWindowLongW(m_tab, GWL_STYLE) | WS_CLIPSIBLINGS);
    LPCWSTR bitmap = MAKEINTRESOURCEW(IDB_CARD_KINDS);
    m_images.Attach(ImageList_LoadImageW(FindResourceModule(bitmap, RT_BITMAP), bitmap, kTabImageWidth, 2,
                                         kTabImageMask, IMAGE_BITMAP, LR_CREATEDIBSECTION));
    SendMessageW(m_tab, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_images.Get()));
    for (int n = 0; n < kReadKeysTabCount; ++n) {
        std::wstring text;
        LoadResString(IDS_READKEYS_TAB_GENERAL + n, text);
        TCITEMW item{};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = text.data();
        item.lParam = n + 1;
        SendMessageW(m_tab, TCM_INSERTITEMW, n, reinterpret_cast<LPARAM>(&item));
    }
    Observe(Doc());
    ExchangeData(false);
    ShowSubPage(0);
    return true;
}

bool CReadKeysPage::ShowSubPage(int n)
{
    if (n == m_shown)
        return true;
    if (CBasePage* shown = GetSubPage(m_shown))
        ShowWindow(shown->m_hWnd, SW_HIDE);
    if (n != -1 && !GetSubPage(n)) {
        std::unique_ptr<CBasePage> page =
            n >= 0 && n < kReadKeysTabCount ? CreateReadKeysSubPage(n, *m_host) : nullptr;
        if (!page || !page->CreateDialogWindow(m_hWnd)) {
            m_shown = -1;
            SendMessageW(m_tab, TCM_SETCURSEL, static_cast<WPARAM>(-1), 0);
            return false;
        }
        SetWindowPos(page->m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        m_subPages[n].reset(page.release());
    }
    m_shown = n;
    if (n != -1) {
        PlaceSubPage();
        ShowWindow(m_subPages[n]->m_hWnd, SW_SHOW);
    }
    SendMessageW(m_tab, TCM_SETCURSEL, static_cast<WPARAM>(n), 0);
    return true;
}

void CReadKeysPage::PlaceSubPage(int width, int height, HDWP* batch)
{
    CBasePage* page = GetSubPage(m_shown);
    if (!page || !m_tab)
        return;
    RECT rc{0, 0, width, height};
    if (width < 0 || height < 0)
        GetClientRect(m_tab, &rc);
    SendMessageW(m_tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&rc));
    MapWindowPoints(m_tab, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    const int w = std::max(0, static_cast<int>(rc.right - rc.left)), h = std::max(0, static_cast<int>(rc.bottom - rc.top));
    if (batch && *batch)
        *batch = DeferWindowPos(*batch, page->m_hWnd, nullptr, rc.left, rc.top, w, h, SWP_NOZORDER);
    else
        SetWindowPos(page->m_hWnd, nullptr, rc.left, rc.top, w, h, SWP_NOZORDER);
}

void CReadKeysPage::OnSize(UINT, int width, int height)
{
    if (!m_tab)
        return;
    if (!GetSubPage(m_shown)) {
        SetWindowPos(m_tab, nullptr, 0, 0, width, height, SWP_NOZORDER);
        return;
    }
    HDWP batch = BeginDeferWindowPos(2);
    if (batch)
        batch = DeferWindowPos(batch, m_tab, nullptr, 0, 0, width, height, SWP_NOZORDER);
    PlaceSubPage(width, height, &batch);
    if (batch)
        EndDeferWindowPos(batch);
}

void CReadKeysPage::UpdateTabImages()
{
    const ReadKeysSettings& r = Doc().readKeys;
    const bool enabled[kReadKeysTabCount] = {false, r.classic.enabled, r.plus.enabled, r.ultralight.enabled,
                                             r.temic.enabled};
    for (int n = 0; n < kReadKeysTabCount; ++n) {
        TCITEMW item{};
        item.mask = TCIF_IMAGE;
        item.iImage = n == 0 ? -1 : enabled[n] ? 1 : 0;
        SendMessageW(m_tab, TCM_SETITEMW, n, reinterpret_cast<LPARAM>(&item));
    }
}

void CReadKeysPage::RestoreDefaults()
{
    CTransferDoc& doc = Doc();
    CDocUpdateScope scope(doc);
    doc.SetReadKeyTypes(kAllTypes);
    doc.SetMifareClassicEnabled(false);
    doc.SetMifareClassicFlags(0);
    doc.SetMifareClassicSector(0);
    doc.SetMifareClassicBlock(1);
    doc.SetMifareClassicMask(0xFFFFFFFF);
    doc.SetMifareClassicKey(DefaultMifareClassicKey());
    doc.SetMifarePlusEnabled(false);
    doc.SetMifarePlusFlags(0);
    doc.SetMifarePlusSector(0);
    doc.SetMifarePlusBlock(1);
    doc.SetMifarePlusMask(0xFFFFFFFF);
    doc.SetMifarePlusKey(DefaultMifarePlusKey());
    doc.SetMifareULEnabled(false);
    doc.SetMifareULPage(4);
    doc.SetMifareULCount(1);
    doc.SetTemicEnabled(false);
    doc.SetTemicFlags(0);
    // Through the edit, so that a Temic sub-page showing other requests hears of it.
    doc.EditTemicSettings()->params = DefaultTemicParams();
}

bool CReadKeysPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->hwndFrom == m_tab && nmh->code == TCN_SELCHANGE) {
        ShowSubPage(static_cast<int>(SendMessageW(m_tab, TCM_GETCURSEL, 0, 0)));
        *result = 1;
        return true;
    }
    return CBasePage::OnNotify(id, nmh, result);
}

void CReadKeysPage::ExchangeData(bool save)
{
    if (!save)
        UpdateTabImages();
    for (auto& page : m_subPages)
        if (page)
            page->ExchangeData(save);
}

void CReadKeysPage::OnIdleUpdate()
{
    for (auto& page : m_subPages)
        if (page)
            page->OnIdleUpdate();
}

void CReadKeysPage::OnDocumentChanged(CDocument*, const uint32_t* bits)
{
    if (bits[0] & TDC_CARD_KIND_SWITCH)
        UpdateTabImages();
}

std::unique_ptr<CBasePage> CreateReadKeysPage(IPageHost& host)
{
    return std::make_unique<CReadKeysPage>(host);
}

// ---- CReadKeysGeneralPage ----

CReadKeysGeneralPage::CReadKeysGeneralPage(IPageHost& host)
    : CBasePage(IDD_READKEYS_GENERAL, &host), m_data(host)
{
}

CTransferDoc& CReadKeysGeneralPage::Doc() const
{
    return m_host->GetTransferDoc();
}

int CReadKeysGeneralPage::OnDataEvent(void* context, CVirtualListViewData*, int)
{
    HWND list = static_cast<CReadKeysGeneralPage*>(context)->m_list.m_hWnd;
    if (!list)
        return 0;
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(kKeyTypeCount), LVSICF_NOINVALIDATEALL);
    InvalidateRect(list, nullptr, TRUE);
    return 1;
}

void CReadKeysGeneralPage::OnSize(UINT, int width, int height)
{
    ApplyLayout(m_layout, width, height);
}

bool CReadKeysGeneralPage::OnContextMenu(HWND window, POINT at)
{
    if (InMenuMode() || window != m_list.m_hWnd)
        return false;
    TrackMenu(IDM_KEY_TYPES, at);
    return true;
}

void CReadKeysGeneralPage::OnDestroy()
{
    m_list.Destroy();
    m_data.SetEventCallback(nullptr, nullptr);
}

bool CReadKeysGeneralPage::OnInitDialog()
{
    for (int id : {IDC_KEY_TYPES_GROUP, IDC_VELL4_GROUP}) {
        HWND group = Item(id);
        SetWindowLongW(group, GWL_EXSTYLE, GetWindowLongW(group, GWL_EXSTYLE) | WS_EX_TRANSPARENT);
    }
    HWND list = Item(IDC_KEY_TYPES_LIST);
    m_list.Attach(list);
    m_list.SetData(&m_data);
    m_list.events.keyDown = [this](WORD key, unsigned) {
        if (key != VK_SPACE)
            return false;
        ToggleSelectedTypes();
        return true;
    };
    m_list.events.toggleCheck = [this](int row) { ToggleRowType(row); };
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
    SendMessageW(list, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = 150;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    m_data.SetEventCallback(this, &OnDataEvent);
    m_layout.parent = m_hWnd;
    for (int id : {IDC_KEY_TYPES_GROUP, IDC_KEY_TYPES_LIST, IDC_VELL4_GROUP})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    CaptureLayout(m_layout);
    Observe(Doc());
    ExchangeData(false);
    return true;
}

void CReadKeysGeneralPage::RefreshList()
{
    m_data.checkedMask = Doc().readKeys.keyTypes;
    m_data.FillCache();
    m_data.FireEvent();
}

void CReadKeysGeneralPage::ExchangeData(bool save)
{
    if (save)
        return;
    UpdatingScope updating(m_hWnd);
    RefreshList();
    CheckRadioButton(m_hWnd, IDC_VELL4_DALLAS, IDC_VELL4_QM100, IDC_VELL4_DALLAS + Doc().readKeys.vell4Mode);
}

void CReadKeysGeneralPage::OnDocumentChanged(CDocument*, const uint32_t* bits)
{
    if (bits[0] & TDC_KEYTYPES)
        RefreshList();
    if (bits[0] & TDC_VELL4MODE) {
        UpdatingScope updating(m_hWnd);
        CheckRadioButton(m_hWnd, IDC_VELL4_DALLAS, IDC_VELL4_QM100, IDC_VELL4_DALLAS + Doc().readKeys.vell4Mode);
    }
}

bool CReadKeysGeneralPage::OnCommand(int id, int, HWND)
{
    switch (id) {
    case IDC_VELL4_DALLAS:
    case IDC_VELL4_EMMARINE:
    case IDC_VELL4_QM100: {
        CDocUpdateScope scope(Doc(), ObserverKey());
        Doc().SetVell4Mode(id - IDC_VELL4_DALLAS);
        break;
    }
    case ID_CHECK_ALL:
        ChangeKeyTypes(0, kAllTypes);
        break;
    case ID_UNCHECK_ALL:
        ChangeKeyTypes(kAllTypes, 0);
        break;
    default:
        break;
    }
    return false;
}

void CReadKeysGeneralPage::StoreKeyTypes(uint32_t mask)
{
    {
        CDocUpdateScope scope(Doc(), ObserverKey());
        Doc().SetReadKeyTypes(mask);
    }
    m_data.checkedMask = Doc().readKeys.keyTypes;
}

void CReadKeysGeneralPage::ChangeKeyTypes(uint32_t clear, uint32_t set)
{
    const uint32_t mask = set | (Doc().readKeys.keyTypes & ~clear);
    bool changed;
    {
        CDocUpdateScope scope(Doc(), ObserverKey());
        changed = Doc().SetReadKeyTypes(mask);
    }
    if (changed)
        RefreshList();
}

// Space flips the key types of every selected row at once: one change of the document.
void CReadKeysGeneralPage::ToggleSelectedTypes()
{
    HWND list = m_list.m_hWnd;
    uint32_t mask = Doc().readKeys.keyTypes;
    int first = -1, last = -1;
    for (int row = -1; (row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                                             LVNI_SELECTED))) != -1;) {
        if (first < 0)
            first = row;
        last = row;
        if (row < kKeyTypeCount)
            mask ^= 1u << row;
    }
    if (first < 0)
        return;
    StoreKeyTypes(mask);
    SendMessageW(list, LVM_REDRAWITEMS, static_cast<WPARAM>(first), last);
}

void CReadKeysGeneralPage::ToggleRowType(int row)
{
    const int type = m_data.KeyTypeOfRow(row);
    if (type < 0)
        return;
    StoreKeyTypes(Doc().readKeys.keyTypes ^ (1u << type));
    SendMessageW(m_list.m_hWnd, LVM_REDRAWITEMS, static_cast<WPARAM>(row), row);
}
