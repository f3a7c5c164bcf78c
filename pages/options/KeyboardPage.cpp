// The keyboard page, its window picker and the flash of the found window.
#include "pages/options/KeyboardPage.h"

#include <commctrl.h>
#include <memory>

#include "config/AppSettings.h"
#include "config/TransferDoc.h"
#include "core/File.h"
#include "core/TextUtil.h"
#include "framework/Holders.h"
#include "framework/SysFunctions.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/PageRegistry.h"
#include "pages/options/OptionNumbers.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR kFlashTimer = 1;
constexpr UINT kFlashPeriodMs = 100;
constexpr int kFlashTicks = 11;
constexpr int kImageSelect = 14;
constexpr int kImageGo = 17;
constexpr int kFilterEdits[] = {IDC_KBD_CLASS, IDC_KBD_TITLE, IDC_KBD_FILE};
constexpr int kFilterLabels[] = {IDC_KBD_CLASS_LABEL, IDC_KBD_TITLE_LABEL, IDC_KBD_FILE_LABEL};

std::wstring ShortPart(UINT id)
{
    std::wstring text;
    LoadResString(id, text);
    const size_t feed = text.find(L'\n');
    return feed == std::wstring::npos ? text : text.substr(0, feed);
}

HWND RootWindowAt(POINT screen)
{
    HWND window = WindowFromPoint(screen);
    return window ? GetAncestor(window, GA_ROOT) : nullptr;
}

} // namespace

void DrawWindowHighlight(HWND window)
{
    UpdateWindow(window);
    HDC dc = GetWindowDC(window);
    if (!dc)
        throw CResourceException();
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(255, 255, 0));
    CGdiObject hatch(CreateHatchBrush(HS_CROSS, RGB(0, 0, 0)));
    CGdiObject region(CreateRectRgn(0, 0, 0, 0));
    if (region.Get() && GetWindowRgn(window, static_cast<HRGN>(region.Get())) != ERROR) {
        FrameRgn(dc, static_cast<HRGN>(region.Get()), static_cast<HBRUSH>(hatch.Get()), 3, 3);
    } else {
        const LOGBRUSH brush{BS_HATCHED, RGB(0, 0, 0), HS_CROSS};
        CGdiObject pen(ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_INSIDEFRAME, 3, &brush, 0, nullptr));
        RECT r;
        GetWindowRect(window, &r);
        HGDIOBJ oldPen = SelectObject(dc, pen.Get());
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, 0, 0, r.right - r.left, r.bottom - r.top);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
    }
    ReleaseDC(window, dc);
}

void EraseWindowHighlight(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_ALLCHILDREN | RDW_ERASE | RDW_INVALIDATE);
}

CKeyboardPage::CKeyboardPage(IPageHost& host) : CBasePage(IDD_KEYBOARD_PAGE, &host)
{
}

std::unique_ptr<CBasePage> CreateKeyboardPage(IPageHost& host)
{
    return std::make_unique<CKeyboardPage>(host);
}

std::wstring CKeyboardPage::TypingLibraryPath()
{
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path = module;
    StripFileName(path);
    return path + L"\\AutoItX3.dll";
}

LRESULT CKeyboardPage::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == kFlashTimer) {
        OnFlashTick();
        return 0;
    }
    return CBasePage::HandleMessage(hwnd, message, wParam, lParam);
}

void CKeyboardPage::OnSize(UINT, int width, int height)
{
    if (m_layout.parent)
        ApplyLayout(m_layout, width, height);
}

void CKeyboardPage::OnDestroy()
{
    if (m_picking)
        EndPicker();
    StopFlash();
    m_tips.Remove();
}

bool CKeyboardPage::OnInitDialog()
{
    m_tips.Add(*m_host, m_hWnd, {IDC_KBD_PRESS_DELAY, IDC_KBD_RELEASE_DELAY, IDC_KBD_AUTOIT, IDC_KBD_START_ADMIN});
    for (int spin : {IDC_KBD_ACTIVATE_SPIN, IDC_KBD_PRESS_SPIN, IDC_KBD_RELEASE_SPIN})
        SendItem(spin, UDM_SETRANGE32, 0, INT32_MAX);

    HWND toolbar = Item(IDC_KBD_WINDOW_BAR);
    SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_host->GetImageList(HostImages::Small)));
    m_selectLabel = ShortPart(ID_KBD_SELECT_WINDOW);
    m_goLabel = ShortPart(IDS_KBD_GO_WINDOW);
    TBBUTTON buttons[] = {
        {kImageSelect, ID_KBD_SELECT_WINDOW, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT, {}, 0,
         reinterpret_cast<INT_PTR>(m_selectLabel.c_str())},
        {kImageGo, ID_ACTIVATE_TARGET, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT, {}, 0,
         reinterpret_cast<INT_PTR>(m_goLabel.c_str())},
    };
    SendMessageW(toolbar, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
    FitToolbar(toolbar, ANCHOR_RIGHT);
    ShowWindow(toolbar, SW_SHOWNA);

    // The typing library is offered only when it lies beside the program.
    const DWORD attributes = GetFileAttributesW(TypingLibraryPath().c_str());
    EnableWindow(Item(IDC_KBD_AUTOIT),
                 attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY));
    OSVERSIONINFOW version{sizeof(version)};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(&version) && version.dwMajorVersion < 6)
        ShowWindow(Item(IDC_KBD_START_ADMIN), SW_HIDE);
#pragma GCC diagnostic pop

    m_layout.parent = m_hWnd;
    for (int id : {IDC_KBD_TYPING_GROUP, IDC_KBD_METHOD_GROUP, IDC_KBD_WINDOW_GROUP, IDC_KBD_START_ADMIN, IDC_KBD_CLASS,
                   IDC_KBD_TITLE, IDC_KBD_FILE})
        m_layout.Add(id, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_layout.Add(IDC_KBD_WINDOW_BAR, ANCHOR_TOP | ANCHOR_RIGHT);
    CaptureLayout(m_layout);

    ExchangeData(false);
    Observe(m_host->GetTransferDoc());
    return true;
}

void CKeyboardPage::ExchangeData(bool save)
{
    if (save) {
        for (int id : {IDC_KBD_ACTIVATE_DELAY, IDC_KBD_PRESS_DELAY, IDC_KBD_RELEASE_DELAY})
            StoreDelay(id);
        for (int id : kFilterEdits)
            StoreFilterText(id);
        return;
    }
    const _TRANS_DST_KEYBOARD& record = m_host->GetTransferDoc().Keyboard();
    UpdatingScope updating(m_hWnd);
    SetItemText(IDC_KBD_ACTIVATE_DELAY, std::to_wstring(static_cast<int32_t>(record.afterActivateDelay)).c_str());
    SetItemText(IDC_KBD_PRESS_DELAY, std::to_wstring(static_cast<int32_t>(record.afterPressDelay)).c_str());
    SetItemText(IDC_KBD_RELEASE_DELAY, std::to_wstring(static_cast<int32_t>(record.afterReleaseDelay)).c_str());
    for (int id = IDC_KBD_UNICODE; id <= IDC_KBD_AUTOIT; ++id)
        CheckItem(id, id == IDC_KBD_METHOD_GROUP + record.method);
    CheckItem(IDC_KBD_START_ADMIN, record.startAdmin);
    CheckItem(IDC_KBD_FILTER_ON, record.filterEnabled);
    SetItemText(IDC_KBD_CLASS, record.filterClass.c_str());
    SetItemText(IDC_KBD_TITLE, record.filterTitle.c_str());
    SetItemText(IDC_KBD_FILE, record.filterFile.c_str());
    UpdateFilterControls();
}

void CKeyboardPage::OnDocumentChanged(CDocument* doc, const uint32_t* bits)
{
    if (doc == &m_host->GetTransferDoc() && (bits[0] & TDC_KEYBOARD))
        ExchangeData(false);
}

void CKeyboardPage::UpdateFilterControls()
{
    const bool on = m_host->GetTransferDoc().Keyboard().filterEnabled;
    for (int id : kFilterEdits)
        EnableItem(id, on);
    for (int id : kFilterLabels)
        EnableItem(id, on);
    HWND toolbar = Item(IDC_KBD_WINDOW_BAR);
    SendMessageW(toolbar, TB_ENABLEBUTTON, ID_KBD_SELECT_WINDOW, MAKELONG(on, 0));
    SendMessageW(toolbar, TB_ENABLEBUTTON, ID_ACTIVATE_TARGET, MAKELONG(on, 0));
}

void CKeyboardPage::StoreDelay(int editId)
{
    const std::optional<int64_t> value = ParseDelayField(ItemText(editId));
    if (!value)
        return;
    const auto ms = static_cast<uint32_t>(*value);
    CTransferDoc& doc = m_host->GetTransferDoc();
    CDocUpdateScope scope(doc, ObserverKey());
    switch (editId) {
    case IDC_KBD_ACTIVATE_DELAY:
        doc.SetAfterActivateDelay(ms);
        break;
    case IDC_KBD_PRESS_DELAY:
        doc.SetAfterPressDelay(ms);
        break;
    default:
        doc.SetAfterReleaseDelay(ms);
        break;
    }
}

void CKeyboardPage::StoreFilterText(int editId)
{
    const std::wstring text = ItemText(editId);
    CTransferDoc& doc = m_host->GetTransferDoc();
    CDocUpdateScope scope(doc, ObserverKey());
    if (editId == IDC_KBD_CLASS)
        doc.SetWindowFilterClass(text);
    else if (editId == IDC_KBD_TITLE)
        doc.SetWindowFilterTitle(text);
    else
        doc.SetWindowFilterFile(text);
}

bool CKeyboardPage::OnCommand(int id, int code, HWND control)
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    switch (id) {
    case IDC_KBD_ACTIVATE_DELAY:
    case IDC_KBD_PRESS_DELAY:
    case IDC_KBD_RELEASE_DELAY:
        if (code == EN_KILLFOCUS)
            StoreDelay(id);
        return true;
    case IDC_KBD_CLASS:
    case IDC_KBD_TITLE:
    case IDC_KBD_FILE:
        if (code == EN_KILLFOCUS)
            StoreFilterText(id);
        return true;
    case IDC_KBD_UNICODE:
    case IDC_KBD_VKEYS:
    case IDC_KBD_AUTOIT:
        if (code == BN_CLICKED) {
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetKeyboardMethod(id - IDC_KBD_METHOD_GROUP);
        }
        return true;
    case IDC_KBD_START_ADMIN:
        if (code == BN_CLICKED) {
            CDocUpdateScope scope(doc, ObserverKey());
            doc.SetKeyboardStartAdmin(IsItemChecked(id));
        }
        return true;
    case IDC_KBD_FILTER_ON:
        if (code == BN_CLICKED) {
            {
                CDocUpdateScope scope(doc, ObserverKey());
                doc.SetWindowFilterEnabled(IsItemChecked(id));
            }
            UpdateFilterControls();
        }
        return true;
    case ID_ACTIVATE_TARGET:
        // The frame's own command of that id activates without the flash.
        if (control != Item(IDC_KBD_WINDOW_BAR))
            return CBasePage::OnCommand(id, code, control);
        GoToWindow();
        return true;
    case ID_KBD_SELECT_WINDOW:
        return true;  // the picker starts on the button's press
    default:
        return CBasePage::OnCommand(id, code, control);
    }
}

bool CKeyboardPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (m_tips.Answer(m_hWnd, nmh))
        return true;
    if (id == IDC_KBD_WINDOW_BAR) {
        if (nmh->code == TBN_GETINFOTIPW && reinterpret_cast<NMTBGETINFOTIPW*>(nmh)->iItem == ID_ACTIVATE_TARGET) {
            auto* tip = reinterpret_cast<NMTBGETINFOTIPW*>(nmh);
            lstrcpynW(tip->pszText, LoadLongPart(IDS_KBD_GO_WINDOW).c_str(), tip->cchTextMax);
            return true;
        }
        if (nmh->code == NM_LDOWN && reinterpret_cast<NMMOUSE*>(nmh)->dwItemSpec == ID_KBD_SELECT_WINDOW) {
            if (!m_host->GetTransferDoc().Keyboard().filterEnabled)
                return false;
            RunPicker();
            // The press ended inside the picker: the toolbar must not wait for its release.
            *result = TRUE;
            return true;
        }
    }
    return CBasePage::OnNotify(id, nmh, result);
}

void CKeyboardPage::RestoreDefaults()
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    const _TRANS_DST_KEYBOARD defaults;
    {
        CDocUpdateScope scope(doc);
        doc.SetKeyboardMethod(defaults.method);
        doc.SetAfterActivateDelay(defaults.afterActivateDelay);
        doc.SetAfterPressDelay(defaults.afterPressDelay);
        doc.SetAfterReleaseDelay(defaults.afterReleaseDelay);
        doc.SetKeyboardStartAdmin(defaults.startAdmin);
        doc.SetWindowFilterEnabled(defaults.filterEnabled);
        doc.SetWindowFilterClass(defaults.filterClass);
        doc.SetWindowFilterTitle(defaults.filterTitle);
        doc.SetWindowFilterFile(defaults.filterFile);
    }
    ExchangeData(false);
}

// ---- Go to window and the flash ----

bool CKeyboardPage::GoToWindow()
{
    ExchangeData(true);
    HWND found = m_host->ActivateTargetWindow();
    if (!found)
        return false;
    StopFlash();
    m_highlighted = found;
    m_flashCount = kFlashTicks;
    if (SetTimer(m_hWnd, kFlashTimer, kFlashPeriodMs, nullptr)) {
        m_flashing = true;
        DrawWindowHighlight(found);
    }
    return true;
}

void CKeyboardPage::OnFlashTick()
{
    --m_flashCount;
    if (m_flashCount > 0 && IsWindow(m_highlighted)) {
        if (m_flashCount & 1)
            EraseWindowHighlight(m_highlighted);
        else
            DrawWindowHighlight(m_highlighted);
        return;
    }
    StopFlash();
}

void CKeyboardPage::StopFlash()
{
    if (!m_flashing)
        return;
    KillTimer(m_hWnd, kFlashTimer);
    m_flashing = false;
    if (IsWindow(m_highlighted))
        EraseWindowHighlight(m_highlighted);
    m_highlighted = nullptr;
}

// ---- The picker ----

void CKeyboardPage::SetHighlight(HWND window)
{
    if (window == m_highlighted)
        return;
    if (m_highlighted && IsWindow(m_highlighted))
        EraseWindowHighlight(m_highlighted);
    m_highlighted = window;
    if (window)
        DrawWindowHighlight(window);
}

bool CKeyboardPage::RunPicker()
{
    StopFlash();
    // The main window goes to the bottom, so that the windows behind it can be reached.
    HWND main = m_host->GetMainWindow();
    if (main) {
        if (m_host->GetSettings().view.topMost)
            SetWindowPos(main, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        SetWindowPos(main, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    const wchar_t* name = MAKEINTRESOURCEW(IDCUR_WINDOW_PICKER);
    m_pickerCursor = static_cast<HCURSOR>(
        LoadImageW(FindResourceModule(name, RT_GROUP_CURSOR), name, IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
    SetCapture(m_hWnd);
    m_oldCursor = SetCursor(m_pickerCursor);
    m_picking = true;
    POINT at;
    GetCursorPos(&at);
    SetHighlight(RootWindowAt(at));

    bool accepted = false;
    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (m_picking && GetCapture() == m_hWnd) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = msg.wParam;
            break;
        }
        if (got < 0)
            break;
        if (msg.message == WM_MOUSEMOVE) {
            SetHighlight(RootWindowAt(msg.pt));
            continue;
        }
        if (msg.message == WM_LBUTTONUP) {
            SetHighlight(RootWindowAt(msg.pt));
            accepted = true;
            break;
        }
        if (msg.message == WM_KEYDOWN) {
            if (msg.wParam == VK_ESCAPE)
                break;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    HWND picked = m_highlighted;
    EndPicker();
    if (accepted && picked && IsWindow(picked))
        AcceptWindow(picked);
    // The loop took the quit meant for the message loop around it: it goes on to that loop.
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return accepted && picked;
}

void CKeyboardPage::EndPicker()
{
    if (m_picking) {
        if (m_highlighted && IsWindow(m_highlighted))
            EraseWindowHighlight(m_highlighted);
        m_highlighted = nullptr;
        SetCursor(m_oldCursor);
        if (m_pickerCursor)
            DestroyCursor(m_pickerCursor);
        m_pickerCursor = nullptr;
        m_picking = false;
        if (GetCapture() == m_hWnd)
            ReleaseCapture();
    }
    if (HWND main = m_host->GetMainWindow()) {
        const HWND place = m_host->GetSettings().view.topMost ? HWND_TOPMOST : HWND_TOP;
        SetWindowPos(main, place, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void CKeyboardPage::AcceptWindow(HWND window)
{
    wchar_t className[261] = {};
    GetClassNameW(window, className, 261);
    wchar_t title[261] = {};
    GetWindowTextW(window, title, 261);
    wchar_t file[MAX_PATH] = {};
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (!processId || !GetProcessImagePath(processId, file))
        file[0] = 0;

    CTransferDoc& doc = m_host->GetTransferDoc();
    UpdatingScope updating(m_hWnd);
    CDocUpdateScope scope(doc, ObserverKey());
    SetItemText(IDC_KBD_CLASS, className);
    doc.SetWindowFilterClass(className);
    SetItemText(IDC_KBD_TITLE, title);
    doc.SetWindowFilterTitle(title);
    SetItemText(IDC_KBD_FILE, file);
    doc.SetWindowFilterFile(file);
}
