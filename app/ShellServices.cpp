// The About dialog, the dialog launchers, the elevated restart, the activation of the target
// window and the caption that reports a failed message handler.
#include "app/ShellServices.h"

#include <commctrl.h>
#include <shellapi.h>
#include <cstdio>
#include <cstring>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/StartUp.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "framework/SysFunctions.h"
#include "pages/options/DestinationDialogs.h"
#include "resources/resource.h"

namespace {

constexpr UINT MB_STYLE_OK_ERROR = 0x10;
constexpr int kTitlePoints = 18;
constexpr int kAboutIconSize = 32;

} // namespace

HWND BringMainWindowForward()
{
    HWND main = App().GetMainFrameWindow();
    BringWindowForward(main);
    return main;
}

// ---- About ----

CAboutDialog::CAboutDialog() : CModalDialog(IDD_ABOUT)
{
}

CAboutDialog::~CAboutDialog()
{
    Destroy();
    if (m_icon)
        DestroyIcon(m_icon);
}

__time64_t CAboutDialog::BuildTime()
{
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char month[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    std::sscanf(__DATE__, "%3s %d %d", month, &day, &year);
    std::sscanf(__TIME__, "%d:%d:%d", &hour, &minute, &second);
    const char* found = std::strstr(kMonths, month);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(found ? (found - kMonths) / 3 + 1 : 1);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    return CTimeValue(st).GetTime();
}

std::wstring CAboutDialog::VersionText()
{
    std::wstring path, version, date;
    GetModuleFilePath(path);
    VersionToString(GetFilePackedVersion(path.c_str()), version);
    CTimeValue(BuildTime()).Format(L"%x", date);
    return version + L" (" + date + L")";
}

bool CAboutDialog::OnInitDialog()
{
    // A language library's template may come without the program's icon.
    HWND iconStatic = GetDlgItem(m_hWnd, IDC_ABOUT_ICON);
    if (iconStatic && GetResourceModule() != GetProgramModule() &&
        !SendMessageW(iconStatic, STM_GETICON, 0, 0)) {
        m_icon = static_cast<HICON>(LoadImageW(GetProgramModule(), MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                                               kAboutIconSize, kAboutIconSize, LR_DEFAULTCOLOR));
        if (m_icon)
            SendMessageW(iconStatic, STM_SETICON, reinterpret_cast<WPARAM>(m_icon), 0);
    }
    if (HWND title = GetDlgItem(m_hWnd, IDC_ABOUT_NAME)) {
        std::wstring name;
        LoadResString(IDS_APP_NAME, name);
        SetWindowTextW(title, name.c_str());
        LOGFONTW lf{};
        HDC dc = GetDC(m_hWnd);
        lf.lfHeight = -(kTitlePoints * GetDeviceCaps(dc, LOGPIXELSY) / 72);
        ReleaseDC(m_hWnd, dc);
        lf.lfWeight = FW_BOLD;
        lf.lfCharSet = DEFAULT_CHARSET;
        wcscpy_s(lf.lfFaceName, L"Arial");
        m_titleFont.Attach(CreateFontIndirectW(&lf));
        if (m_titleFont.Get())
            SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(m_titleFont.Get()), FALSE);
    }
    SetDlgItemTextW(m_hWnd, IDC_ABOUT_VERSION, VersionText().c_str());
    return true;
}

bool CAboutDialog::OnCommand(int id, int code, HWND control)
{
    if (id == IDOK || id == IDCANCEL)
        return EndModal(id);
    return CModalDialog::OnCommand(id, code, control);
}

bool CAboutDialog::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if ((id == IDC_ABOUT_LINK_WEB || id == IDC_ABOUT_LINK_MAIL) && (nmh->code == NM_CLICK || nmh->code == NM_RETURN)) {
        const NMLINK* link = reinterpret_cast<const NMLINK*>(nmh);
        std::wstring target = link->item.szUrl;
        if (target.empty())
            LoadResString(id == IDC_ABOUT_LINK_WEB ? IDS_ABOUT_WEB : IDS_ABOUT_MAIL, target);
        SystemServices().OpenLink(m_hWnd, target.c_str());
        *result = 0;
        return true;
    }
    return CModalDialog::OnNotify(id, nmh, result);
}

void ShowAboutDialog(HWND)
{
    HWND main = BringMainWindowForward();
    CAboutDialog dialog;
    dialog.RunModal(main);
}

bool CNorvaneApp::ShowCmdLineDialog()
{
    return RunDestinationDialog(*this, DEST_CMDLINE);
}

bool CNorvaneApp::ShowHttpRequestDialog()
{
    return RunDestinationDialog(*this, DEST_HTTP);
}

// ---- Elevated restart ----

bool RestartElevated(const wchar_t* arguments)
{
    CNorvaneApp& app = App();
    CMainFrame* frame = app.GetMainFrame();
    // 1. The questions of closing (save the configuration, exit?); the settings are saved.
    if (frame && frame->m_hWnd && !frame->CanClose())
        return false;
    // 2. The new process.
    if (!LaunchElevated(arguments)) {
        const DWORD error = GetLastError();
        if (error == ERROR_CANCELLED)
            return false;  // declined at the prompt: this instance goes on
        ThrowOSError(error);
    }
    // 3. This instance ends. The frame object is deleted by the shutdown after the message
    // loop: this may run inside one of its own command handlers.
    if (frame && frame->m_hWnd)
        DestroyWindow(frame->m_hWnd);
    return true;
}

// ---- Target window ----

bool ActivateTargetWindow(HWND* found)
{
    CNorvaneApp& app = App();
    const _TRANS_DST_KEYBOARD& keyboard = app.GetSettings().GetTransferDoc().Keyboard();
    // The whole stacking order from the top: the window to activate may lie above the
    // foreground window (a minimised one, or the foreground being a tool window of ours).
    HWND target = app.FindTargetWindow(keyboard.filterClass.c_str(), keyboard.filterTitle.c_str(),
                                       keyboard.filterFile.c_str(), GetTopWindow(nullptr));
    if (!target) {
        std::wstring text;
        GetSystemMessageText(text, GetResourceModule(), static_cast<DWORD>(KV_E_WINDOW_NOT_FOUND));
        ShowMessage(text, MB_STYLE_OK_ERROR);
        return false;
    }
    if (IsIconic(target))
        ShowWindow(target, SW_RESTORE);
    SetForegroundWindow(target);
    if (found)
        *found = target;
    return true;
}

// ---- Failed message handlers ----

LRESULT CNorvaneApp::OnHandlerException(const std::exception& e, const MSG& msg)
{
    // The base writes the debug-log entry and knows what each message must answer.
    const LRESULT result = CWinApp::OnHandlerException(e, msg);
    if (HWND main = GetMainFrameWindow())
        SetWindowTextW(main, MultiByteToWString(e.what(), CP_ACP).c_str());
    return result;
}
