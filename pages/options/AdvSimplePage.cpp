#include "pages/options/AdvSimplePage.h"

#include <windowsx.h>

#include "config/AppSettings.h"
#include "config/KeyNumber.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "framework/Controls.h"
#include "framework/SysFunctions.h"
#include "framework/TableCtrl.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/options/ParamCatalogue.h"
#include "resources/resource.h"

namespace {

constexpr COLORREF kMask = RGB(255, 0, 255);
// One box for both of the reader's questions.
constexpr uint32_t kReaderConfirm = CONFIRM_TEMIC | CONFIRM_WRITE_KEYS;
constexpr uint32_t kAllConfirm = CONFIRM_EXIT | CONFIRM_SAVE_CONFIG | kReaderConfirm | CONFIRM_PRESET_TO_FORMAT |
                                 CONFIRM_DELETE | CONFIRM_REPLACE;

struct ConfirmBox
{
    int id;
    uint32_t bits;
};
constexpr ConfirmBox kConfirmBoxes[] = {
    {IDC_SIMPLE_CONFIRM_EXIT, CONFIRM_EXIT},
    {IDC_SIMPLE_CONFIRM_SAVE, CONFIRM_SAVE_CONFIG},
    {IDC_SIMPLE_CONFIRM_PRESET, CONFIRM_PRESET_TO_FORMAT},
    {IDC_SIMPLE_CONFIRM_DELETE, CONFIRM_DELETE},
    {IDC_SIMPLE_CONFIRM_REPLACE, CONFIRM_REPLACE},
    {IDC_SIMPLE_CONFIRM_READER, kReaderConfirm},
};

constexpr int kTipControls[] = {IDC_SIMPLE_SET_LANGUAGE, IDC_SIMPLE_TOPMOST,        IDC_SIMPLE_TRAY_MINIMIZE,
                                IDC_SIMPLE_TRAY_ALWAYS,  IDC_SIMPLE_VERSION_TITLE,  IDC_SIMPLE_AUTORUN,
                                IDC_SIMPLE_AUTOSTART,    IDC_SIMPLE_TRANSFER_LOG,   IDC_SIMPLE_DEBUG_LOG,
                                IDC_SIMPLE_CONFIRM_EXIT, IDC_SIMPLE_CONFIRM_PRESET, IDC_SIMPLE_CONFIG};

std::wstring LongPart(UINT id)
{
    std::wstring text;
    LoadResString(id, text);
    const size_t lf = text.find(L'\n');
    return lf == std::wstring::npos ? text : text.substr(lf + 1);
}

bool AutorunPresent()
{
    bool present = false;
    return QueryAutorunValue(present) && present;
}


}  // namespace

CAdvSimplePage::CAdvSimplePage(IPageHost& host) : CAdvPage(IDD_ADV_SIMPLE, &host) {}

std::vector<HWND> CAdvSimplePage::TipWindows() const
{
    std::vector<HWND> windows;
    for (int id : kTipControls)
        windows.push_back(Item(id));
    if (HWND inner = reinterpret_cast<HWND>(SendItem(IDC_SIMPLE_LANGUAGE, CBEM_GETCOMBOCONTROL, 0, 0)))
        windows.push_back(inner);
    return windows;
}

bool CAdvSimplePage::OnInitDialog()
{
    LPCWSTR name = MAKEINTRESOURCEW(IDB_FLAGS);
    m_flags.Attach(ImageList_LoadImageW(FindResourceModule(name, RT_BITMAP), name, 16, 10, kMask, IMAGE_BITMAP,
                                        LR_CREATEDIBSECTION));
    if (!m_flags.Get())
        return true;
    SendItem(IDC_SIMPLE_LANGUAGE, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_flags.Get()));

    HWND bar = Item(IDC_SIMPLE_CONFIG_BAR);
    SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_host->GetImageList(HostImages::Small)));
    TBBUTTON buttons[3]{};
    const int commands[3][2] = {{ID_CONFIG_NEW, 0}, {ID_CONFIG_DELETE, 2}, {ID_CONFIG_CONFIGURE, 15}};
    for (int i = 0; i < 3; ++i) {
        buttons[i].idCommand = commands[i][0];
        buttons[i].iBitmap = commands[i][1];
        buttons[i].fsState = TBSTATE_ENABLED;
        buttons[i].fsStyle = BTNS_BUTTON;
        buttons[i].iString = -1;
    }
    SendMessageW(bar, TB_ADDBUTTONSW, 3, reinterpret_cast<LPARAM>(buttons));
    FitToolbar(bar, 1 | 2);
    ShowWindow(bar, SW_SHOWNA);

    if (CToolTipCtrl* tips = m_host->GetTableSettings().GetMainToolTip())
        for (HWND window : TipWindows())
            tips->AddWindowTool(window);

    m_layout.parent = m_hWnd;
    for (int id : {IDC_SIMPLE_UI_FRAME, IDC_SIMPLE_GENERAL_FRAME, IDC_SIMPLE_CONFIG_FRAME, IDC_SIMPLE_CONFIRM_FRAME,
                   IDC_SIMPLE_TOPMOST, IDC_SIMPLE_CONFIRM_PRESET, IDC_SIMPLE_TRANSFER_LOG, IDC_SIMPLE_DEBUG_LOG,
                   IDC_SIMPLE_CONFIG})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_layout.Add(IDC_SIMPLE_CONFIG_BAR, ANCHOR_RIGHT | ANCHOR_TOP);
    CaptureLayout(m_layout);
    RECT frame{};
    GetWindowRect(Item(IDC_SIMPLE_CONFIG_FRAME), &frame);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&frame), 2);
    m_scroll.window = m_hWnd;
    m_scroll.contentHeight = frame.bottom + 8;

    m_ready = true;
    FillConfigurations();
    ExchangeData(false);
    Observe(m_host->GetSettings());
    Observe(m_host->GetTransferDoc());
    return true;
}

void CAdvSimplePage::FillLanguages()
{
    HWND combo = Item(IDC_SIMPLE_LANGUAGE);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    const CAppSettings& settings = m_host->GetSettings();
    const int count = static_cast<int>(settings.languages.size()) + 1;
    for (int position = 0; position < count; ++position) {
        const std::wstring text = LanguageDisplayName(settings, position);
        const int image = position == 0 ? LangIdToLanguageIndex(LANGIDFROMLCID(GetSystemDefaultLCID()))
                                        : LangIdToLanguageIndex(settings.languages[static_cast<size_t>(position - 1)].value);
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT | CBEIF_LPARAM | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
        item.iItem = -1;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        item.lParam = position;
        item.iImage = item.iSelectedImage = image;
        SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    const std::wstring& language = settings.GetLanguage();
    SendMessageW(combo, CB_SETCURSEL, language.empty() ? 0 : static_cast<WPARAM>(settings.FindLanguage(language) + 1), 0);
}

void CAdvSimplePage::FillConfigurations()
{
    UpdatingScope updating(m_hWnd);
    HWND combo = Item(IDC_SIMPLE_CONFIG);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ConfigurationDisplayName(L"").c_str()));
    for (const std::wstring& name : m_host->GetSettings().configFiles)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SelectConfiguration();
}

void CAdvSimplePage::SelectConfiguration()
{
    const CAppSettings& settings = m_host->GetSettings();
    const std::wstring& path = settings.GetTransferDoc().GetPathName();
    int select = -1;
    if (path.empty())
        select = 0;
    else if (path.size() >= 4 && _wcsicmp(path.c_str() + path.size() - 4, L".nv2") == 0) {
        const int found = settings.FindConfigFile(OpenConfigurationName(settings));
        select = found >= 0 ? found + 1 : -1;
    }
    SendItem(IDC_SIMPLE_CONFIG, CB_SETCURSEL, static_cast<WPARAM>(select), 0);
    UpdateDeleteButton();
}

bool CAdvSimplePage::ConfigurationFileExists() const
{
    const std::wstring& path = m_host->GetSettings().GetTransferDoc().GetPathName();
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CAdvSimplePage::UpdateDeleteButton()
{
    SendItem(IDC_SIMPLE_CONFIG_BAR, TB_ENABLEBUTTON, ID_CONFIG_DELETE,
                        MAKELPARAM(ConfigurationFileExists(), 0));
}

void CAdvSimplePage::FillConfirmBoxes()
{
    const uint32_t confirm = m_host->GetSettings().GetConfirmFlags();
    m_confirmAtFill = confirm;
    for (const ConfirmBox& box : kConfirmBoxes) {
        if (box.id != IDC_SIMPLE_CONFIRM_READER) {
            CheckItem(box.id, (confirm & box.bits) != 0);
            continue;
        }
        // Two bits behind one box: a third state shows that they differ.
        HWND button = Item(box.id);
        const uint32_t both = confirm & box.bits;
        const bool differ = both != 0 && both != box.bits;
        const LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
        const LONG_PTR wanted = (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | (differ ? BS_AUTO3STATE : BS_AUTOCHECKBOX);
        if (wanted != style)
            SendMessageW(button, BM_SETSTYLE, static_cast<WPARAM>(wanted & 0xFFFF), TRUE);
        SetItemCheckState(box.id, differ ? BST_INDETERMINATE : both ? BST_CHECKED : BST_UNCHECKED);
    }
}

void CAdvSimplePage::FillChecks()
{
    const CAppSettings& s = m_host->GetSettings();
    CheckItem(IDC_SIMPLE_TOPMOST, s.view.topMost);
    CheckItem(IDC_SIMPLE_VERSION_TITLE, s.view.versionTitle);
    CheckItem(IDC_SIMPLE_TRAY_MINIMIZE, (s.GetTrayIconFlags() & TRAY_SHOW_MINIMIZED) != 0);
    CheckItem(IDC_SIMPLE_TRAY_ALWAYS, (s.GetTrayIconFlags() & TRAY_SHOW_ALWAYS) != 0);
    CheckItem(IDC_SIMPLE_AUTOSTART, s.autoStart);
    CheckItem(IDC_SIMPLE_TRANSFER_LOG, s.transferLog);
    CheckItem(IDC_SIMPLE_DEBUG_LOG, s.debugLog.enabled);
    CheckItem(IDC_SIMPLE_AUTORUN, AutorunPresent());
}

void CAdvSimplePage::ExchangeData(bool save)
{
    if (save || !m_ready)
        return;
    UpdatingScope updating(m_hWnd);
    FillLanguages();
    FillChecks();
    FillConfirmBoxes();
    UpdateDeleteButton();
}

void CAdvSimplePage::SetConfirmBits(uint32_t bits, bool on)
{
    CAppSettings& settings = m_host->GetSettings();
    const uint32_t confirm = settings.GetConfirmFlags();
    settings.SetConfirmFlags(on ? confirm | bits : confirm & ~bits);
}

void CAdvSimplePage::OpenChosenConfiguration()
{
    const int selected = static_cast<int>(SendItem(IDC_SIMPLE_CONFIG, CB_GETCURSEL, 0, 0));
    if (selected < 0)
        return;
    CAppSettings& settings = m_host->GetSettings();
    std::wstring name;
    if (selected > 0 && selected - 1 < static_cast<int>(settings.configFiles.size()))
        name = settings.configFiles[static_cast<size_t>(selected - 1)] + L".nv2";
    if (!m_host->OpenConfiguration(name, (settings.GetConfirmFlags() & CONFIRM_SAVE_CONFIG) != 0)) {
        // Cancelled: the open configuration stays, and so does its name.
        UpdatingScope updating(m_hWnd);
        SelectConfiguration();
    }
}

void CAdvSimplePage::ShowMenu(int menuId, POINT at, HWND button)
{
    if (!button) {
        TrackMenu(menuId, at);
        return;
    }
    // Under the button, keeping it uncovered.
    TPMPARAMS exclude{sizeof(exclude)};
    GetWindowRect(button, &exclude.rcExclude);
    TrackMenu(menuId, {exclude.rcExclude.left, exclude.rcExclude.bottom}, [this](HMENU popup) {
        EnableMenuItem(popup, ID_CONFIG_DELETE, MF_BYCOMMAND | (ConfigurationFileExists() ? MF_ENABLED : MF_GRAYED));
    }, TPM_LEFTBUTTON | TPM_VERTICAL, &exclude);
}

void CAdvSimplePage::GoToLog(const wchar_t* name)
{
    std::wstring folder;
    m_host->GetSettings().ResolveDocumentsFolder(folder, false);
    const std::wstring arguments = L"/select, \"" + folder + L"\\" + name + L"\"";
    ShellOpen(L"explorer.exe", arguments.c_str());
}

void CAdvSimplePage::RestoreDefaults()
{
    CAppSettings& settings = m_host->GetSettings();
    CDocUpdateScope scope(settings);
    RestoreSharedDefaults(settings, [](AppViewOptions&) {});
    settings.SetTrayIconFlags(settings.GetTrayIconFlags() & ~TRAY_SHOW_MINIMIZED);
    settings.SetTrayIconFlags(settings.GetTrayIconFlags() & ~TRAY_SHOW_ALWAYS);
}

bool CAdvSimplePage::OnCommand(int id, int code, HWND control)
{
    CAppSettings& settings = m_host->GetSettings();
    for (const ConfirmBox& box : kConfirmBoxes) {
        if (box.id != id || code != BN_CLICKED)
            continue;
        // The boxes store what they show: this page is not told of its own stores, so that a
        // three-state box keeps the state it was read with for its whole cycle.
        CDocUpdateScope scope(settings, ObserverKey());
        const UINT state = GetItemCheckState(id);
        if (state == BST_INDETERMINATE) {
            // Back to the bits as they were at the last fill.
            const uint32_t confirm = settings.GetConfirmFlags();
            settings.SetConfirmFlags((confirm & ~box.bits) | (m_confirmAtFill & box.bits));
        } else {
            SetConfirmBits(box.bits, state == BST_CHECKED);
        }
        return true;
    }
    auto view = [this, &settings](auto change) {
        CDocUpdateScope scope(settings, ObserverKey());
        AppViewOptions options = settings.view;
        change(options);
        settings.SetViewOptions(options);
    };
    switch (id) {
    case IDC_SIMPLE_SET_LANGUAGE: {
        const int selected = static_cast<int>(SendItem(IDC_SIMPLE_LANGUAGE, CB_GETCURSEL, 0, 0));
        if (selected == 0)
            settings.SetLanguage(L"");
        else if (selected > 0 && selected - 1 < static_cast<int>(settings.languages.size()))
            settings.SetLanguage(settings.languages[static_cast<size_t>(selected - 1)].name);
        return true;
    }
    case IDC_SIMPLE_TOPMOST:
        view([on = IsItemChecked(id)](AppViewOptions& o) { o.topMost = on; });
        return true;
    case IDC_SIMPLE_VERSION_TITLE:
        view([on = IsItemChecked(id)](AppViewOptions& o) { o.versionTitle = on; });
        return true;
    case IDC_SIMPLE_TRAY_MINIMIZE:
    case IDC_SIMPLE_TRAY_ALWAYS: {
        const uint32_t bit = id == IDC_SIMPLE_TRAY_MINIMIZE ? TRAY_SHOW_MINIMIZED : TRAY_SHOW_ALWAYS;
        const uint32_t flags = settings.GetTrayIconFlags();
        settings.SetTrayIconFlags(IsItemChecked(id) ? flags | bit : flags & ~bit);
        return true;
    }
    case IDC_SIMPLE_AUTORUN: {
        const bool on = !IsItemChecked(id);
        settings.SetAutorun(on);
        // What the registry holds now, so that a refused write does not show as done.
        CheckItem(id, AutorunPresent());
        return true;
    }
    case IDC_SIMPLE_AUTOSTART:
        settings.SetAutoStart(!settings.autoStart);
        return true;
    case IDC_SIMPLE_TRANSFER_LOG:
        settings.SetTransferLog(IsItemChecked(id));
        return true;
    case IDC_SIMPLE_DEBUG_LOG:
        if (settings.debugLog.enabled != IsItemChecked(id))
            settings.EditDebugLog()->enabled = IsItemChecked(id);
        return true;
    case IDC_SIMPLE_CONFIG:
        if (code == CBN_SELCHANGE)
            OpenChosenConfiguration();
        return true;
    case ID_CONFIG_CONFIGURE: {
        HWND bar = Item(IDC_SIMPLE_CONFIG_BAR);
        RECT button{};
        SendMessageW(bar, TB_GETRECT, ID_CONFIG_CONFIGURE, reinterpret_cast<LPARAM>(&button));
        MapWindowPoints(bar, nullptr, reinterpret_cast<POINT*>(&button), 2);
        ShowMenu(IDM_CONFIG_TOOLS, {button.left, button.bottom}, bar);
        return true;
    }
    case ID_CONFIG_REFRESH:
        m_host->ListConfigurations();
        return true;
    case ID_CONFIRM_CHECK_ALL:
    case ID_CONFIRM_UNCHECK_ALL:
        settings.SetConfirmFlags(id == ID_CONFIRM_CHECK_ALL ? kAllConfirm : 0);
        {
            UpdatingScope updating(m_hWnd);
            FillConfirmBoxes();
        }
        return true;
    case ID_GO_TRANSFER_LOG:
        GoToLog(L"Transfer.log");
        return true;
    case ID_GO_APP_LOG:
        GoToLog(L"Norvane.log");
        return true;
    case ID_OPEN_TRANSFER_LOG:
    case ID_CLEAR_TRANSFER_LOG:
    case ID_OPEN_APP_LOG:
    case ID_CLEAR_APP_LOG:
        m_host->RunFrameCommand(id);
        return true;
    default:
        return CAdvPage::OnCommand(id, code, control);
    }
}

bool CAdvSimplePage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->code == TTN_GETDISPINFOW) {
        // The tool is a window: walk up to the page's own child and answer with its text.
        auto* tip = reinterpret_cast<NMTTDISPINFOW*>(nmh);
        HWND window = reinterpret_cast<HWND>(nmh->idFrom);
        while (window && GetParent(window) != m_hWnd)
            window = GetParent(window);
        static std::wstring text;
        text = window ? LongPart(static_cast<UINT>(GetDlgCtrlID(window))) : std::wstring();
        tip->lpszText = const_cast<wchar_t*>(text.c_str());
        return true;
    }
    return CBasePage::OnNotify(id, nmh, result);
}

void CAdvSimplePage::OnDocumentChanged(CDocument* doc, const uint32_t* bits)
{
    CAppSettings& settings = m_host->GetSettings();
    UpdatingScope updating(m_hWnd);
    if (doc != &settings) {
        if (bits[0] & 2)
            SelectConfiguration();
        return;
    }
    const AppSettingsDetails& details = settings.GetDetails();
    const uint32_t change = bits[0];
    if (change & ASC_STATE) {
        if (details.state & ASS_LANGUAGES)
            FillLanguages();
        if (details.state & ASS_CONFIG_FILES)
            FillConfigurations();
    }
    if ((change & ASC_UI) && (details.ui & ASU_LANGUAGE))
        FillLanguages();
    if (change & (ASC_LOG_SWITCHES | ASC_AUTORUN))
        FillChecks();
    if (change & ASC_UI) {
        if (details.ui & (ASU_TOPMOST | ASU_VERSION_TITLE | ASU_TRAY))
            FillChecks();
        if (details.ui & ASU_CONFIRM)
            FillConfirmBoxes();
    }
}

void CAdvSimplePage::OnMouseWheel(int delta)
{
    if (m_scroll.MaxPosition(m_scroll.contentHeight, m_scroll.pageHeight) == 0 || delta == 0)
        return;
    UINT lines = 3;
    SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    const int code = delta > 0 ? SB_LINEUP : SB_LINEDOWN;
    if (lines == WHEEL_PAGESCROLL) {
        m_scroll.OnVScroll(delta > 0 ? SB_PAGEUP : SB_PAGEDOWN, nullptr);
        return;
    }
    const int d = static_cast<int>(lines) * (std::abs(delta) / WHEEL_DELTA);
    for (int n = d < 6 ? 1 : d / 3; n > 0; --n)
        m_scroll.OnVScroll(code, nullptr);
}

LRESULT CAdvSimplePage::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_VSCROLL:
        m_scroll.OnVScroll(LOWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_MOUSEWHEEL:
        OnMouseWheel(GET_WHEEL_DELTA_WPARAM(wParam));
        return 0;
    default:
        return CBasePage::HandleMessage(hwnd, message, wParam, lParam);
    }
}

void CAdvSimplePage::OnSize(UINT, int width, int height)
{
    if (m_ready) {
        ApplyLayout(m_layout, width, height);
        m_scroll.Update();
    }
}

bool CAdvSimplePage::OnContextMenu(HWND window, POINT at)
{
    const int id = GetDlgCtrlID(window);
    if (id == IDC_SIMPLE_TRANSFER_LOG)
        ShowMenu(IDM_TRANSFER_LOG, at, nullptr);
    else if (id == IDC_SIMPLE_DEBUG_LOG)
        ShowMenu(IDM_APP_LOG, at, nullptr);
    else if (id >= IDC_SIMPLE_CONFIRM_EXIT && id <= IDC_SIMPLE_CONFIRM_PRESET)
        ShowMenu(IDM_CONFIRM_BOXES, at, nullptr);
    else
        return false;
    return true;
}

void CAdvSimplePage::OnDestroy()
{
    if (CToolTipCtrl* tips = m_host->GetTableSettings().GetMainToolTip())
        for (HWND window : TipWindows())
            tips->RemoveTool(window, 0);
    m_flags.Destroy();
}
