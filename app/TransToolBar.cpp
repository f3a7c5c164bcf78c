// The transfer toolbar: its controls, their lists, the format button and the rich tips.
#include <winsock2.h>

#include "app/TransToolBar.h"

#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <set>

#include "app/CommandTexts.h"
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "config/AppSettings.h"
#include "config/KeyNumber.h"
#include "config/TransferDoc.h"
#include "core/Exceptions.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "framework/RichTip.h"
#include "framework/WinApp.h"
#include "reader/Reader.h"
#include "reader/ReaderModels.h"
#include "resources/resource.h"
#include "transfer/Portavo.h"

namespace {

constexpr wchar_t kModelGap[] = L"    ";
constexpr int kPlaceholderWidths[] = {197, 197, 180};
constexpr int kArrowSpace = 17;
constexpr int kDropHeight = 300;
constexpr UINT_PTR kCurrentItem = 0xFFFF;
constexpr COLORREF kMask = RGB(0xFF, 0x00, 0xFF);
// Posted to the toolbar after an edit ends: the combo box puts the typed text back into its
// edit after it has told us, so the stored source is shown once it is done.
constexpr UINT kShowSourceMessage = WM_APP + 1;

UINT_PTR ToolId(int index, int control)
{
    return (static_cast<UINT_PTR>(index & 0xFFFF) << 16) | static_cast<UINT_PTR>(control);
}

HIMAGELIST LoadImages(int id)
{
    LPCWSTR name = MAKEINTRESOURCEW(id);
    return ImageList_LoadImageW(FindResourceModule(name, RT_BITMAP), name, 16, 10, kMask, IMAGE_BITMAP,
                                LR_CREATEDIBSECTION);
}

std::wstring ResString(UINT id)
{
    std::wstring s;
    LoadResString(id, s);
    return s;
}

std::wstring LinkStateText(int state)
{
    return ResString(state == 1 ? IDS_LINK_CONNECTED : state == 2 ? IDS_LINK_CONNECTING : IDS_LINK_DISCONNECTED);
}

// A format's name as the toolbar shows it: a preset's leading line feed becomes "[P] ".
std::wstring ShownFormatName(const std::wstring& name)
{
    if (!name.empty() && name[0] == L'\n')
        return ResString(IDS_PRESET_PREFIX) + name.substr(1);
    return name;
}

// The distinct format ids that the visible key filters and the default id choose, in order.
std::vector<uint32_t> ChosenFormatIds(const CTransferDoc& doc)
{
    std::vector<uint32_t> ids;
    auto add = [&ids](uint32_t id) {
        if (id != 0 && std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    };
    for (const KeyFilter& filter : doc.GetKeyFilters()) {
        if (filter.flags & KEYFILTER_VISIBLE)
            add(filter.formatId);
    }
    add(doc.defaultId);
    return ids;
}

std::wstring KeyTypeNames(uint32_t mask)
{
    CNorvaneApp& app = App();
    app.LoadKeyTypeNames();
    std::wstring out;
    for (int type = 0; type < kKeyTypeCount; ++type) {
        if (!(mask & (1u << type)))
            continue;
        if (!out.empty())
            out += L", ";
        out += app.GetKeyTypeNames()[type];
    }
    return out;
}

void StartProgram(const wchar_t* file, const wchar_t* verb)
{
    SHELLEXECUTEINFOW info{sizeof(info)};
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE;
    info.hwnd = App().GetMainFrameWindow();
    info.lpVerb = verb;
    info.lpFile = file;
    info.nShow = SW_SHOWNORMAL;
    if (!SystemServices().ExecuteShell(info))
        ThrowOSError(GetLastError());
}

void ShowPageOf(int pageId)
{
    App().GetSettings().SetCurrentPage(pageId);
}

void FrameCommand(int id)
{
    if (HWND frame = App().GetMainFrameWindow())
        SendMessageW(frame, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

} // namespace

// ---- Texts ----

std::wstring FormatButtonText(const CTransferDoc& doc)
{
    const std::vector<uint32_t> ids = ChosenFormatIds(doc);
    std::wstring text;
    if (ids.size() == 1) {
        const KvFormatPtr format = doc.FindFormatById(ids[0]);
        return format ? ShownFormatName(format->name) : ResString(IDS_FORMATS_NONE);
    }
    if (ids.empty())
        return ResString(IDS_FORMATS_NONE);
    FormatResString(text, IDS_FORMATS_SEVERAL, static_cast<int>(ids.size()));
    return text;
}

std::wstring SourceItemText(const std::wstring& port, int model)
{
    if (model == kReaderModelUnknown || model == kReaderModelPcsc)
        return port;
    return port + kModelGap + ReaderModelName(model);
}

std::wstring TypedSourcePort(const std::wstring& text)
{
    std::wstring port = text.substr(0, text.find(kModelGap));
    const int kind = ClassifyPortName(port);
    if (kind == PORT_NAME_COM_LOW || kind == PORT_NAME_COM)
        CharUpperBuffW(port.data(), static_cast<DWORD>(port.size()));
    return port;
}

std::string TipMarkupText(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        if (c == L'<')
            out += "\\u8249?";  // a single left angle quote
        else if (c == L'\\' || c == L'{' || c == L'}')
            out += '\\', out += static_cast<char>(c);
        else if (c >= 0x20 && c < 0x80)
            out += static_cast<char>(c);
        else
            out += "\\u" + std::to_string(static_cast<int16_t>(c)) + "?";
    }
    return out;
}

std::wstring BridgeProgramPath()
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return std::wstring();
    const std::wstring first = std::wstring(folder) + L"\\Tarnwell\\Portavo\\Portavo.exe";
    if (GetFileAttributesW(first.c_str()) != INVALID_FILE_ATTRIBUTES)
        return first;
    return std::wstring(folder) + L"\\Quillmark\\Portavo\\Portavo.exe";
}

// ---- The toolbar ----

CTransToolBar::CTransToolBar(CAppSettings& settings, CRichTip& tip) : m_settings(settings), m_tip(tip) {}

CTransToolBar::~CTransToolBar()
{
    CTransToolBar::Destroy();
}

CTransferDoc& CTransToolBar::Doc() const
{
    return m_settings.GetTransferDoc();
}

bool CTransToolBar::Create(HWND parent)
{
    constexpr DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | TBSTYLE_FLAT |
                            TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE;
    if (!CSubclassedWnd::Create(0, TOOLBARCLASSNAMEW, nullptr, style, 0, 0, 600, 28, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TRANSFER_TOOLBAR))))
        return false;
    SendMessageW(m_hWnd, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(m_hWnd, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(App().GetSmallImageList()));
    TBBUTTON buttons[] = {
        {7, ID_TRANSFER_START, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, -1},
        {8, ID_TRANSFER_STOP, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, -1},
        {9, ID_TRANSFER_RESTART, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, -1},
        {kPlaceholderWidths[0], 0, 0, BTNS_SEP, {}, 0, 0},
        {kPlaceholderWidths[1], 0, 0, BTNS_SEP, {}, 0, 0},
        {kPlaceholderWidths[2], 0, 0, BTNS_SEP, {}, 0, 0},
    };
    SendMessageW(m_hWnd, TB_ADDBUTTONSW, ARRAYSIZE(buttons), reinterpret_cast<LPARAM>(buttons));
    CreateChildren();
    m_settingsToken = m_settings.Observe(this, &CTransToolBar::OnSettingsChanged);
    m_transferToken = Doc().Observe(this, &CTransToolBar::OnTransferChanged);
    RefreshSource(true);
    RefreshFormat();
    RefreshDestination(true);
    return true;
}

void CTransToolBar::CreateChildren()
{
    RECT place[3];
    for (int i = 0; i < 3; ++i)
        SendMessageW(m_hWnd, TB_GETITEMRECT, 3 + i, reinterpret_cast<LPARAM>(&place[i]));
    HINSTANCE module = GetProgramModule();
    auto child = [&](DWORD ex, const wchar_t* cls, DWORD style, const RECT& r, int id) {
        return CreateWindowExW(ex, cls, nullptr, WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right - r.left,
                               r.bottom - r.top, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module,
                               nullptr);
    };
    m_font = reinterpret_cast<HFONT>(SendMessageW(GetParent(m_hWnd), WM_GETFONT, 0, 0));
    if (!m_font)
        m_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

    RECT r = place[0];
    r.right -= kArrowSpace;
    r.bottom = r.top + kDropHeight;
    m_source = child(0, WC_COMBOBOXEXW, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, r,
                     IDC_TRANS_SOURCE);
    r = place[1];
    r.right -= kArrowSpace;
    m_format = child(0, L"Button", BS_PUSHBUTTON | BS_FLAT | BS_LEFT | BS_VCENTER, r, ID_PAGE_FORMATS);
    SendMessageW(m_format, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    r = place[2];
    r.bottom = r.top + kDropHeight;
    m_destination = child(0, WC_COMBOBOXEXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, r, IDC_TRANS_DESTINATION);

    m_arrowIcon = static_cast<HICON>(LoadImageW(FindResourceModule(MAKEINTRESOURCEW(IDI_TRANS_ARROW), RT_GROUP_ICON),
                                                MAKEINTRESOURCEW(IDI_TRANS_ARROW), IMAGE_ICON, 16, 16, 0));
    for (int i = 0; i < 2; ++i) {
        const RECT& p = place[i];
        RECT a{p.right - kArrowSpace, p.top, p.right, p.bottom};
        m_arrows[i] = child(0, L"Static", SS_ICON | SS_CENTERIMAGE, a, i ? IDC_TRANS_ARROW2 : IDC_TRANS_ARROW1);
        SendMessageW(m_arrows[i], STM_SETICON, reinterpret_cast<WPARAM>(m_arrowIcon), 0);
        SetWindowPos(m_arrows[i], nullptr, a.left, a.top, kArrowSpace, a.bottom - a.top, SWP_NOZORDER);
    }

    m_sourceImages = LoadImages(IDB_TRANS_SOURCES);
    m_destinationImages = LoadImages(IDB_TRANS_DESTINATIONS);
    SendMessageW(m_source, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_sourceImages));
    SendMessageW(m_destination, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_destinationImages));
    for (HWND combo : {m_source, m_destination})
        SendMessageW(combo, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);

    // The toolbar is as high as its tallest item or the destination combo.
    RECT button{}, combo{};
    SendMessageW(m_hWnd, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&button));
    GetWindowRect(m_destination, &combo);
    const int height = std::max<int>(button.bottom - button.top, combo.bottom - combo.top) + 2;
    SetWindowPos(m_hWnd, nullptr, 0, 0, place[2].right + 2, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Centre the children in the bar's height.
    for (HWND h : {m_source, m_format, m_destination, m_arrows[0], m_arrows[1]}) {
        RECT w;
        GetWindowRect(h, &w);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&w), 2);
        const int shown = h == m_format ? combo.bottom - combo.top : w.bottom - w.top;
        SetWindowPos(h, nullptr, w.left, (height - shown) / 2, w.right - w.left, h == m_format ? shown : w.bottom - w.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }

    COMBOBOXINFO info{sizeof(info)};
    HWND inner = reinterpret_cast<HWND>(SendMessageW(m_source, CBEM_GETCOMBOCONTROL, 0, 0));
    if (inner && GetComboBoxInfo(inner, &info) && info.hwndList)
        m_srcList.Attach(info.hwndList);
    if (HWND edit = reinterpret_cast<HWND>(SendMessageW(m_source, CBEM_GETEDITCONTROL, 0, 0)))
        m_srcEdit.Attach(edit);
    m_formatButton.Attach(m_format);
    inner = reinterpret_cast<HWND>(SendMessageW(m_destination, CBEM_GETCOMBOCONTROL, 0, 0));
    info = COMBOBOXINFO{sizeof(info)};
    if (inner && GetComboBoxInfo(inner, &info) && info.hwndList)
        m_dstList.Attach(info.hwndList);
    if (inner)
        m_dstCombo.Attach(inner);
}

void CTransToolBar::Destroy()
{
    m_settingsToken = CObserverToken();
    m_transferToken = CObserverToken();
    if (m_tip.m_hWnd && (m_tipTool != 0))
        m_tip.RequestHide(m_hWnd, 0, true);
    m_tipTool = 0;
    for (CSubclassedWnd* spot : std::initializer_list<CSubclassedWnd*>{&m_srcList, &m_srcEdit, &m_formatButton,
                                                                         &m_dstList, &m_dstCombo}) {
        spot->m_hWnd = spot->m_hWnd && IsWindow(spot->m_hWnd) ? spot->m_hWnd : nullptr;
        spot->CSubclassedWnd::Destroy();
    }
    for (HWND* h : {&m_source, &m_destination, &m_format, &m_arrows[0], &m_arrows[1]}) {
        if (*h)
            DestroyWindow(*h);
        *h = nullptr;
    }
    for (HIMAGELIST* list : {&m_sourceImages, &m_destinationImages}) {
        if (*list)
            ImageList_Destroy(*list);
        *list = nullptr;
    }
    if (m_arrowIcon)
        DestroyIcon(m_arrowIcon);
    m_arrowIcon = nullptr;
    CSubclassedWnd::Destroy();
}

// ---- Lists ----

void CTransToolBar::RefreshSource(bool rebuild)
{
    if (!m_source)
        return;
    UpdatingScope updating(m_hWnd);
    const CTransferDoc& doc = Doc();
    const std::vector<KnownReader>& readers = m_settings.knownReaders;
    const bool readerSource = doc.GetSourceKind() == SOURCE_READER;
    const int current = readerSource ? m_settings.FindReader(doc.GetSourceValue()) : -1;
    const bool active = doc.GetSourceState() == 1;
    auto setItem = [&](int index, const std::wstring& text, int image, bool insert) {
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
        item.iItem = index;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        item.iImage = item.iSelectedImage = image;
        SendMessageW(m_source, insert ? CBEM_INSERTITEMW : CBEM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    };
    auto readerImage = [&](int index) {
        const int kind = readers[index].kind;
        if (kind < 1 || kind > 4)
            return -1;
        return 2 * (kind - 1) + (index == current && active ? 1 : 0);
    };
    const int count = static_cast<int>(readers.size());
    const int keyListImage = 8 + (doc.GetSourceKind() == SOURCE_KEYLIST && active ? 1 : 0);
    if (rebuild || m_readerItems != count) {
        SendMessageW(m_source, CB_RESETCONTENT, 0, 0);
        for (int i = 0; i < count; ++i)
            setItem(i, SourceItemText(readers[i].name, readers[i].model), readerImage(i), true);
        setItem(count, ResString(IDS_SOURCE_KEYLIST), keyListImage, true);
        m_readerItems = count;
    } else {
        if (current >= 0)
            setItem(current, SourceItemText(readers[current].name, readers[current].model), readerImage(current),
                    false);
        setItem(count, ResString(IDS_SOURCE_KEYLIST), keyListImage, false);
    }
    if (doc.GetSourceKind() == SOURCE_KEYLIST) {
        SendMessageW(m_source, CB_SETCURSEL, count, 0);
    } else if (current >= 0) {
        SendMessageW(m_source, CB_SETCURSEL, current, 0);
    } else {
        SendMessageW(m_source, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        std::wstring text = doc.GetSourceValue();
        if (readerSource && App().GetReader() && App().GetReader()->GetPortName() == text) {
            const ReaderStatus status = App().GetReader()->GetStatus();
            text = SourceItemText(text, status.model);
        }
        if (HWND edit = reinterpret_cast<HWND>(SendMessageW(m_source, CBEM_GETEDITCONTROL, 0, 0)))
            SetWindowTextW(edit, text.c_str());
    }
}

void CTransToolBar::RefreshFormat()
{
    if (m_format)
        SetWindowTextW(m_format, FormatButtonText(Doc()).c_str());
}

void CTransToolBar::RefreshDestination(bool rebuild)
{
    if (!m_destination)
        return;
    UpdatingScope updating(m_hWnd);
    const CTransferDoc& doc = Doc();
    const int currentType = doc.GetDestinationType();
    for (int type = DEST_KEYBOARD; type <= DEST_HTTP; ++type) {
        const std::wstring text = ResString(IDS_DEST_KEYBOARD + type - 1);
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
        item.iItem = type - 1;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        item.iImage = item.iSelectedImage = 2 * type - (type == currentType && doc.GetDestinationState() == 1 ? 1 : 2);
        if (rebuild && type == DEST_KEYBOARD)
            SendMessageW(m_destination, CB_RESETCONTENT, 0, 0);
        SendMessageW(m_destination, rebuild ? CBEM_INSERTITEMW : CBEM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(m_destination, CB_SETCURSEL, currentType >= 1 && currentType <= 5 ? currentType - 1 : -1, 0);
}

// ---- Commands and notifications ----

LRESULT CTransToolBar::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kShowSourceMessage) {
        RefreshSource(false);
        return 0;
    }
    if (message == WM_CTLCOLORSTATIC) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
}

bool CTransToolBar::OnCommand(int id, int code, HWND control)
{
    if (id == IDC_TRANS_SOURCE && code == CBN_SELCHANGE) {
        OnSourceSelected();
        return true;
    }
    if (id == IDC_TRANS_SOURCE && code == CBN_DROPDOWN) {
        if (CMainFrame* frame = App().GetMainFrame())
            frame->StartReaderSearch();
        return true;
    }
    if (id == IDC_TRANS_DESTINATION && code == CBN_SELCHANGE) {
        OnDestinationSelected();
        return true;
    }
    if (id == ID_PAGE_FORMATS && control == m_format && code == BN_CLICKED) {
        ShowPageOf(PAGE_FORMATS);
        return true;
    }
    return false;
}

bool CTransToolBar::OnNotify(int, NMHDR* nmh, LRESULT* result)
{
    if (nmh->hwndFrom == m_source && nmh->code == CBEN_ENDEDITW) {
        const auto* edit = reinterpret_cast<const NMCBEENDEDITW*>(nmh);
        if (edit->iWhy == CBENF_RETURN)
            OnSourceEdited(edit->szText);
        *result = FALSE;
        return true;
    }
    if (nmh->hwndFrom == m_tip.m_hWnd) {
        if (nmh->code == RTN_SHOWING) {
            *result = FillTip(nmh->idFrom) ? 1 : 0;
            return true;
        }
        if (nmh->code == RTN_LINKCLICK) {
            const auto* click = reinterpret_cast<const NMRICHTIP*>(nmh);
            const auto link = m_tip.GetLinks().find(click->position);
            if (link != m_tip.GetLinks().end()) {
                const std::wstring target = link->second;
                OnTipLink(target);
            }
            *result = 0;
            return true;
        }
        if (nmh->code == RTN_HIDDEN) {
            m_tipTool = 0;
            return true;
        }
    }
    return false;
}

void CTransToolBar::OnSourceSelected()
{
    const int index = static_cast<int>(SendMessageW(m_source, CB_GETCURSEL, 0, 0));
    const std::vector<KnownReader>& readers = m_settings.knownReaders;
    CDocUpdateScope scope(Doc(), this);
    if (index >= 0 && index < m_readerItems && index < static_cast<int>(readers.size()))
        Doc().SetSource(readers[index].name, SOURCE_READER);
    else if (index == m_readerItems)
        Doc().SetSource(std::wstring(), SOURCE_KEYLIST);
}

void CTransToolBar::OnSourceEdited(const std::wstring& text)
{
    CDocUpdateScope scope(Doc(), this);
    if (text == ResString(IDS_SOURCE_KEYLIST)) {
        Doc().SetSource(std::wstring(), SOURCE_KEYLIST);
        return;
    }
    const std::wstring port = TypedSourcePort(text);
    Doc().SetSource(port, port.empty() ? SOURCE_NONE : SOURCE_READER);
    PostMessageW(m_hWnd, kShowSourceMessage, 0, 0);
}

void CTransToolBar::OnDestinationSelected()
{
    const int index = static_cast<int>(SendMessageW(m_destination, CB_GETCURSEL, 0, 0));
    if (index < 0 || index > 4)
        return;
    const int type = index + 1;
    std::wstring value;
    if (type == DEST_PORTAVO) {
        const _TRANS_DST_PORTAVO& bridge = Doc().Portavo();
        value = bridge.mode == PORTAVO_SERVER ? std::to_wstring(bridge.port) : bridge.address;
    }
    CDocUpdateScope scope(Doc(), this);
    Doc().SetDestination(value, type);
}

// ---- Observers ----

void CTransToolBar::OnSettingsChanged(void* key, CDocument*, const uint32_t* bits)
{
    auto* bar = static_cast<CTransToolBar*>(key);
    if (!bar->m_hWnd)
        return;
    const uint32_t change = bits[0];
    if (change & ASC_TRANSFER_ON) {
        bar->RefreshSource(true);
        bar->RefreshDestination(false);
    }
    if ((change & ASC_STATE) && (bar->m_settings.GetDetails().state & ASS_KNOWN_READERS))
        bar->RefreshSource(true);
}

void CTransToolBar::OnTransferChanged(void* key, CDocument* doc, const uint32_t* bits)
{
    auto* bar = static_cast<CTransToolBar*>(key);
    if (!bar->m_hWnd)
        return;
    const auto* transfer = static_cast<const CTransferDoc*>(doc);
    const TransferDetailWords& details = transfer->GetDetails();
    const uint32_t change = bits[0];
    bool shown = false;
    if (change & TDC_SOURCE) {
        bar->RefreshSource(true);
        shown = true;
    } else if ((change & TDC_STATE) && (details.state & (TDS_OPEN | TDS_SOURCE_STATE))) {
        bar->RefreshSource(details.state & TDS_OPEN);
        shown = true;
    }
    if ((change & TDC_STATE) && (details.state & TDS_OPEN))
        bar->RefreshFormat();
    if ((change & TDC_FORMATS) && (details.formats & (TDF_FORMAT_LIST | TDF_KEY_FILTERS | TDF_DEFAULT_ID |
                                                      TDF_SELECTED_FILTER)))
        bar->RefreshFormat();
    if ((change & TDC_DESTINATION) || ((change & TDC_STATE) && (details.state & (TDS_OPEN | TDS_DEST_STATE)))) {
        bar->RefreshDestination((change & TDC_DESTINATION) != 0);
        shown = true;
    }
    if (shown || (change & TDC_FORMATS))
        bar->RefreshShownTip();
}

// ---- Rich tips ----

void CTransToolBar::ShowTipFor(HWND spot, UINT_PTR toolId)
{
    if (!m_tip.m_hWnd)
        return;
    RECT r;
    GetWindowRect(spot, &r);
    m_tip.SetAvoidRect(r.top, r.bottom);
    m_tip.RequestShow(m_hWnd, toolId);
}

void CTransToolBar::HideTip()
{
    if (m_tip.m_hWnd)
        m_tip.RequestHide(m_hWnd, 0, false);
}

void CTransToolBar::RefreshShownTip()
{
    if (m_tip.m_hWnd && m_tip.IsShown() && m_tipTool != 0)
        FillTip(m_tipTool);
}

bool CTransToolBar::FillTip(UINT_PTR toolId)
{
    m_tipTool = toolId;
    const int control = static_cast<int>(toolId & 0xFFFF);
    const int index = static_cast<int>((toolId >> 16) & 0xFFFF);
    const CTransferDoc& doc = Doc();
    switch (control) {
    case IDC_TRANS_SOURCE:
        if (index == static_cast<int>(kCurrentItem)) {
            if (doc.GetSourceKind() == SOURCE_READER) {
                return FillReaderTip(m_settings.FindReader(doc.GetSourceValue()));
            }
            if (doc.GetSourceKind() != SOURCE_KEYLIST)
                return false;
        } else if (index < m_readerItems) {
            return FillReaderTip(index);
        }
        m_tip.ClearContent();
        m_tip.SetVariable(L"P", ResString(IDS_SOURCE_KEYLIST), 1);
        SetTipPage(IDR_TIP_KEYLIST, std::string());
        return true;
    case IDC_TRANS_DESTINATION:
        return FillDestinationTip(index + 1);
    case ID_PAGE_FORMATS:
        return FillFormatTip();
    default:
        return false;
    }
}

// index -1: the configured source, which no known reader names.
bool CTransToolBar::FillReaderTip(int readerIndex)
{
    const std::vector<KnownReader>& readers = m_settings.knownReaders;
    KnownReader reader;
    if (readerIndex >= 0 && readerIndex < static_cast<int>(readers.size()))
        reader = readers[readerIndex];
    else
        reader.name = Doc().GetSourceValue();
    int state = 0;
    const CTransferDoc& doc = Doc();
    CNorvaneApp& app = App();
    if (doc.GetSourceKind() == SOURCE_READER && doc.GetSourceValue() == reader.name && app.GetReader() &&
        app.GetReader()->IsRunning()) {
        // The running reader knows what the port list may not have asked yet.
        const ReaderStatus status = app.GetReader()->GetStatus();
        state = status.state;
        if (reader.model == kReaderModelUnknown && status.model != kReaderModelUnknown) {
            reader.model = status.model;
            reader.serial = status.serial;
            reader.firmware = static_cast<int32_t>(status.version);
        }
        if (reader.versionText.empty())
            reader.versionText = status.versionText;
    }
    m_tip.ClearContent();
    // Texts from the port list and the device go in as plain variables: never read as markup.
    m_tip.SetVariable(L"P", reader.name, 1);
    if (reader.model != kReaderModelUnknown)
        m_tip.SetVariable(L"M", ReaderModelName(reader.model), 1);
    // The port list keeps 0 for an unknown serial and -1 for an unknown firmware.
    if (reader.serial != 0 && reader.serial != -1)
        m_tip.SetVariable(L"SN", std::to_wstring(reader.serial), 1);
    if (reader.firmware != 0 && reader.firmware != -1)
        m_tip.SetVariable(L"V", VersionToString(static_cast<PackedVersion>(reader.firmware)), 1);
    m_tip.SetVariable(L"S", LinkStateText(state), 1);
    if (!reader.versionText.empty())
        m_tip.SetVariable(L"QM", reader.versionText, 1);

    const uint32_t mask = ReaderKeyTypeMask(reader.model, static_cast<PackedVersion>(reader.firmware), false);
    std::string keys;
    if (mask == kAllKeyTypes) {
        keys = TipMarkupText(ResString(IDS_KF_ALL));
    } else {
        app.LoadKeyTypeNames();
        const uint32_t transferred = doc.readKeys.keyTypes;
        for (int type = 0; type < kKeyTypeCount; ++type) {
            if (!(mask & (1u << type)))
                continue;
            if (!keys.empty())
                keys += ", ";
            const std::string name = TipMarkupText(app.GetKeyTypeNames()[type]);
            keys += (transferred & (1u << type)) ? name : "<font effects=08>" + name + "</font>";
        }
    }
    SetTipPage(IDR_TIP_READER, keys);
    return true;
}

bool CTransToolBar::FillDestinationTip(int type)
{
    const CTransferDoc& doc = Doc();
    m_tip.ClearContent();
    switch (type) {
    case DEST_KEYBOARD:
        SetTipPage(IDR_TIP_KEYBOARD, std::string());
        return true;
    case DEST_CLIPBOARD:
        SetTipPage(IDR_TIP_CLIPBOARD, std::string());
        return true;
    case DEST_PORTAVO: {
        const _TRANS_DST_PORTAVO& bridge = doc.Portavo();
        std::wstring mode;
        if (bridge.mode == PORTAVO_SERVER)
            FormatResString(mode, IDS_PTV_SERVER, static_cast<int>(bridge.port));
        else
            FormatResString(mode, IDS_PTV_CLIENT, bridge.address.c_str());
        CNorvaneApp& app = App();
        m_tip.SetVariable(L"MODE", mode, 1);
        m_tip.SetVariable(L"S", LinkStateText(app.GetBridgeLink() ? app.GetBridgeLink()->GetState() : 0), 1);
        m_tip.SetVariable(L"A", bridge.address, 1);
        m_tip.SetVariable(L"PORT", std::to_wstring(bridge.port), 1);
        m_tip.SetVariable(L"NVT", ResString(bridge.nvt ? IDS_ON : IDS_OFF), 1);
        SetTipPage(IDR_TIP_PORTAVO, std::string());
        return true;
    }
    case DEST_CMDLINE: {
        const _TRANS_DST_CMDLINE& cmd = doc.CmdLine();
        m_tip.SetVariable(L"P", cmd.arguments.empty() ? cmd.program : cmd.program + L" " + cmd.arguments, 1);
        SetTipPage(IDR_TIP_CMDLINE, std::string());
        return true;
    }
    case DEST_HTTP:
        m_tip.SetVariable(L"P", doc.HttpRequest().address, 1);
        SetTipPage(IDR_TIP_HTTP, std::string());
        return true;
    default:
        return false;
    }
}

bool CTransToolBar::FillFormatTip()
{
    const CTransferDoc& doc = Doc();
    m_tip.ClearContent();
    auto paragraph = [&](uint32_t formatId, const std::wstring& keyTypes) {
        std::string p = "<para spaceAfter=3>";
        const KvFormatPtr format = formatId ? doc.FindFormatById(formatId) : nullptr;
        if (format) {
            std::wstring name = format->name;
            std::string mark;
            if (!name.empty() && name[0] == L'\n') {
                mark = TipMarkupText(ResString(IDS_PRESET_PREFIX));
                name.erase(0, 1);
            }
            p += mark + "<font effects=01 color=000000>" + TipMarkupText(name) + "</font>";
        } else {
            p += "<font color=FF0000>(" + TipMarkupText(ResString(IDS_FORMAT_NOT_SPECIFIED)) + ")</font>";
        }
        if (!keyTypes.empty())
            p += " - " + TipMarkupText(keyTypes);
        return p + "</para>\\par\n";
    };
    std::string body = paragraph(doc.defaultId, ResString(IDS_TIP_DEFAULT_FORMAT));
    for (const KeyFilter& filter : doc.GetKeyFilters()) {
        if (filter.flags & KEYFILTER_VISIBLE)
            body += paragraph(filter.formatId, KeyTypeNames(filter.keyTypes));
    }
    std::wstring formats;
    LoadStringShortPart(ID_PAGE_FORMATS, formats);
    body += "<a href=\"config\">" + TipMarkupText(formats) + "</a>\\par\n";
    const std::string page = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Segoe UI;}}\\f0\\fs18 " + body + "}";
    m_tip.GetRichEdit().SetTextEx(page.c_str(), CP_ACP, ST_DEFAULT);
    m_tip.RenderMarkup();
    return true;
}

// The page's "K" field takes markup of its own; every other field is a plain variable.
void CTransToolBar::SetTipPage(int resourceId, const std::string& keyTypes)
{
    LPCWSTR name = MAKEINTRESOURCEW(resourceId);
    HMODULE module = FindResourceModule(name, RT_RCDATA);
    HRSRC resource = FindResourceW(module, name, RT_RCDATA);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!data)
        return;
    std::string page(data, SizeofResource(module, resource));
    const std::string field = "<arg name=\"K\"/>";
    if (const size_t at = page.find(field); at != std::string::npos)
        page.replace(at, field.size(), keyTypes);
    m_tip.GetRichEdit().SetTextEx(page.c_str(), CP_ACP, ST_DEFAULT);
    m_tip.RenderMarkup();
}

void CTransToolBar::OnTipLink(const std::wstring& link)
{
    const int control = static_cast<int>(m_tipTool & 0xFFFF);
    const int index = static_cast<int>((m_tipTool >> 16) & 0xFFFF);
    const CTransferDoc& doc = Doc();
    if (control == ID_PAGE_FORMATS) {
        if (link == L"config")
            ShowPageOf(PAGE_FORMATS);
        return;
    }
    if (control == IDC_TRANS_SOURCE) {
        const bool keyList = index == static_cast<int>(kCurrentItem) ? doc.GetSourceKind() == SOURCE_KEYLIST
                                                                      : index >= m_readerItems;
        if (link == L"config")
            ShowPageOf(keyList ? PAGE_KEY_LIST : PAGE_READER);
        else if (link == L"reconnect" && !keyList)
            FrameCommand(ID_RECONNECT_READER);
        else if (link == L"devmgmt" && !keyList)
            StartProgram(L"devmgmt.msc", L"runas");
        return;
    }
    if (control != IDC_TRANS_DESTINATION)
        return;
    switch (index + 1) {
    case DEST_KEYBOARD:
        if (link == L"config")
            ShowPageOf(PAGE_KEYBOARD);
        else if (link == L"notepad")
            StartProgram(L"notepad.exe", L"open");
        break;
    case DEST_PORTAVO:
        if (link == L"config") {
            ShowPageOf(PAGE_PORTAVO);
        } else if (link == L"reconnect") {
            FrameCommand(ID_RECONNECT_PORTAVO);
        } else if (link == L"portavo") {
            const std::wstring path = BridgeProgramPath();
            if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
                ShowMessage(ResString(IDS_PORTAVO_NOT_FOUND), MB_OK | MB_ICONINFORMATION, App().GetMainFrameWindow());
            else
                StartProgram(path.c_str(), L"open");
        }
        break;
    case DEST_CMDLINE:
        if (link == L"config")
            App().ShowCmdLineDialog();
        break;
    case DEST_HTTP:
        if (link == L"config")
            App().ShowHttpRequestDialog();
        break;
    default:
        break;
    }
}

// ---- The tip spots ----

LRESULT CTransToolBar::CTipSpot::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSEMOVE) {
        if (!m_tracking) {
            TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 0};
            m_tracking = TrackMouseEvent(&track) != FALSE;
        }
        const UINT_PTR tool = ToolAt(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        if (tool)
            m_bar.ShowTipFor(hwnd, tool);
        else
            m_bar.HideTip();
    } else if (message == WM_MOUSELEAVE) {
        m_tracking = false;
        m_bar.HideTip();
    }
    return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
}

UINT_PTR CTransToolBar::CSrcListBox::ToolAt(POINT point)
{
    const LRESULT hit = SendMessageW(m_hWnd, LB_ITEMFROMPOINT, 0, MAKELPARAM(point.x, point.y));
    int index = LOWORD(hit);
    if (HIWORD(hit) || index < 0)
        index = static_cast<int>(SendMessageW(m_hWnd, LB_GETCURSEL, 0, 0));
    return index < 0 ? 0 : ToolId(index, IDC_TRANS_SOURCE);
}

LRESULT CTransToolBar::CSrcEdit::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETDLGCODE && wParam == VK_RETURN)
        return DefaultProc() | DLGC_WANTALLKEYS;
    return CTipSpot::HandleMessage(hwnd, message, wParam, lParam);
}

UINT_PTR CTransToolBar::CSrcEdit::ToolAt(POINT)
{
    return m_bar.Doc().GetSourceKind() != SOURCE_NONE ? ToolId(static_cast<int>(kCurrentItem), IDC_TRANS_SOURCE) : 0;
}

UINT_PTR CTransToolBar::CFormatButton::ToolAt(POINT)
{
    return ID_PAGE_FORMATS;
}

UINT_PTR CTransToolBar::CDstListBox::ToolAt(POINT point)
{
    const LRESULT hit = SendMessageW(m_hWnd, LB_ITEMFROMPOINT, 0, MAKELPARAM(point.x, point.y));
    int index = LOWORD(hit);
    if (HIWORD(hit) || index < 0)
        index = static_cast<int>(SendMessageW(m_hWnd, LB_GETCURSEL, 0, 0));
    return index < 0 ? 0 : ToolId(index, IDC_TRANS_DESTINATION);
}

UINT_PTR CTransToolBar::CDstComboBox::ToolAt(POINT)
{
    const int index = static_cast<int>(SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0));
    return index < 0 ? 0 : ToolId(index, IDC_TRANS_DESTINATION);
}
