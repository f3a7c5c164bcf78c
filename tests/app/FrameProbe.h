#pragma once
// What the tests of the frame's commands, menus, status bar and tray share: a page that records
// the commands it is offered and answers the status bar's page query, the program's own message
// pump, keys pressed through the system's input, and the calls of the shell and sound seams.
#include <windows.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "pages/PageRegistry.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PageTestIds.h"

namespace frame_probe {

// What the recording page saw and how it answers; kept beyond the page's life.
struct Record
{
    std::vector<std::pair<int, int>> commands;  // id, code
    bool takes = true;                          // the page handles what it is offered
    int position = -1;                          // its answer to the page query
    int total = -1;
};
inline Record& Recorded()
{
    static Record record;
    return record;
}

class CRecorderPage : public CBasePage
{
public:
    explicit CRecorderPage(IPageHost& host) : CBasePage(IDD_PROBE_PAGE, &host) {}
    bool OnCommand(int id, int code, HWND control) override
    {
        if (control)
            return CBasePage::OnCommand(id, code, control);
        Recorded().commands.emplace_back(id, code);
        return Recorded().takes;
    }
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_PAGE_QUERY) {
            *reinterpret_cast<int*>(wParam) = Recorded().position;
            *reinterpret_cast<int*>(lParam) = Recorded().total;
            return 0;
        }
        return CBasePage::HandleMessage(hwnd, message, wParam, lParam);
    }
};

inline std::unique_ptr<CBasePage> MakeRecorder(IPageHost& host)
{
    return std::make_unique<CRecorderPage>(host);
}

// The registry with the recording page as page 0 (Transfer).
inline constexpr std::array<PageTableEntry, kPageCount> kRecorderRows = [] {
    std::array<PageTableEntry, kPageCount> rows{};
    for (int i = 0; i < kPageCount; ++i)
        rows[i] = kPageRegistry[i];
    rows[0] = {PAGE_TRANSFER, IDD_PROBE_PAGE, 968, 968, &MakeRecorder};
    return rows;
}();

// Makes the recording page current: it is offered every command first.
inline void UseRecorderPage(CMainFrame& frame)
{
    Recorded() = Record();
    frame.SetPageRows(kRecorderRows);
    App().GetSettings().SetCurrentPage(PAGE_SOURCE);
    // The Transfer page that the start-up made gives way to the recorder.
    if (std::unique_ptr<CBasePage> page = frame.TakePage(PAGE_TRANSFER))
        page->Destroy();
    App().GetSettings().SetCurrentPage(PAGE_TRANSFER);
}

// Runs the program's own pump (its pre-translation included) until cond holds.
template <class F>
bool PumpAppUntil(F cond, DWORD timeout = 5000)
{
    CNorvaneApp& app = App();
    const DWORD start = GetTickCount();
    for (;;) {
        while (app.IsMessageWaiting())
            app.ProcessNextMessage();
        if (cond())
            return true;
        if (GetTickCount() - start > timeout)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Presses the keys in order and lets them go in reverse, through the system's input.
inline UINT PressKeys(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> events;
    for (WORD key : keys) {
        INPUT in{INPUT_KEYBOARD};
        in.ki.wVk = key;
        events.push_back(in);
    }
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) {
        INPUT in{INPUT_KEYBOARD};
        in.ki.wVk = *it;
        in.ki.dwFlags = KEYEVENTF_KEYUP;
        events.push_back(in);
    }
    return SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
}

// What the tests note of the calls they watch: the shell and help seams, the dialogs the
// commands open.
inline std::vector<std::wstring>& NotedCalls()
{
    static std::vector<std::wstring> calls;
    return calls;
}

// The calls noted since the last take.
inline std::vector<std::wstring> TakeNotedCalls()
{
    std::vector<std::wstring> calls;
    calls.swap(NotedCalls());
    return calls;
}

// While it lives, the key dialog of the last-key launcher and the format dialog of the
// new-format launcher are noted ("LastKeyDialog", "NewFormatDialog") and cancelled, so that a
// command that opens one returns.
class CLauncherDialogCloser
{
public:
    CLauncherDialogCloser() { m_timer = SetTimer(nullptr, 0, 20, &Tick); }
    ~CLauncherDialogCloser() { KillTimer(nullptr, m_timer); }
    CLauncherDialogCloser(const CLauncherDialogCloser&) = delete;
    CLauncherDialogCloser& operator=(const CLauncherDialogCloser&) = delete;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM) -> BOOL {
            wchar_t caption[64] = {};
            GetWindowTextW(window, caption, 64);
            const std::wstring text = caption;
            const wchar_t* note = text == L"Key properties"      ? L"LastKeyDialog"
                                  : text == L"Format properties" ? L"NewFormatDialog"
                                                                 : nullptr;
            if (note && IsWindowVisible(window) && IsWindowEnabled(GetDlgItem(window, IDCANCEL))) {
                NotedCalls().push_back(note);
                EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);  // noted once
                PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
            }
            return TRUE;
        }, 0);
    }
    UINT_PTR m_timer = 0;
};

// The texts of a menu's items ("-" a separator), "*" after a radio-checked one.
inline std::vector<std::wstring> Items(HMENU menu)
{
    std::vector<std::wstring> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[128] = {};
        MENUITEMINFOW info{sizeof(info)};
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 128;
        GetMenuItemInfoW(menu, i, TRUE, &info);
        std::wstring item = (info.fType & MFT_SEPARATOR) ? L"-" : text;
        if ((info.fType & MFT_RADIOCHECK) && (info.fState & MFS_CHECKED))
            item += L"*";
        items.push_back(item);
    }
    return items;
}
// The items of the menu that was open when ReadShownMenu (a thread timer set around the call
// that opens it) closed it.
inline std::vector<std::wstring>& ShownMenu()
{
    static std::vector<std::wstring> items;
    return items;
}
inline void CALLBACK ReadShownMenu(HWND, UINT, UINT_PTR, DWORD)
{
    HWND popup = FindWindowW(L"#32768", nullptr);
    if (!popup || !IsWindowVisible(popup))
        return;
    ShownMenu() = Items(reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0)));
    EndMenu();
}

// The WM_COMMAND ids waiting in the frame's queue (taken out).
inline std::vector<WPARAM> TakePostedCommands(HWND frame)
{
    std::vector<WPARAM> ids;
    MSG msg;
    while (PeekMessageW(&msg, frame, WM_COMMAND, WM_COMMAND, PM_REMOVE))
        ids.push_back(msg.wParam);
    return ids;
}

// One call of the notification-area seam, as the shell would have received it.
struct TrayCall
{
    DWORD message;
    HICON icon;
    UINT flags;
    std::wstring tip;
    std::wstring infoTitle;
    std::wstring info;
    DWORD infoFlags = 0;
};

} // namespace frame_probe
