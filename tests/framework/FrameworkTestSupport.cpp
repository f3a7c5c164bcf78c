#include "tests/framework/FrameworkTestSupport.h"
#include <algorithm>
#include <cstdio>

namespace {

CTestApp TheTestApp;

void EnsureTestClass()
{
    static const bool registered = [] {
        return RegisterWndClass(TestWndClass, CS_HREDRAW | CS_VREDRAW, LoadCursorW(nullptr, IDC_ARROW),
                                reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr, nullptr) != 0;
    }();
    (void)registered;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

struct FindDialogArgs {
    const std::function<bool(HWND)>* ready;
    HWND found;
};

BOOL CALLBACK FindDialogProc(HWND hwnd, LPARAM lParam)
{
    auto* args = reinterpret_cast<FindDialogArgs*>(lParam);
    if (IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770" && (*args->ready)(hwnd)) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CloseWindowProc(HWND hwnd, LPARAM)
{
    if (IsWindowVisible(hwnd))
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return TRUE;
}

template <class Pred>
std::vector<HWND> Descendants(HWND parent, Pred pred)
{
    std::vector<HWND> all;
    EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    std::vector<HWND> out;
    std::copy_if(all.begin(), all.end(), std::back_inserter(out), pred);
    return out;
}

bool IsButtonOfType(HWND hwnd, std::initializer_list<LONG> types)
{
    if (_wcsicmp(ClassOf(hwnd).c_str(), L"Button") != 0)
        return false;
    const LONG type = GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
    return std::find(types.begin(), types.end(), type) != types.end();
}

} // namespace

const wchar_t TestWndClass[] = L"NorvaneTestWnd";

CTestApp& TestApp()
{
    return TheTestApp;
}

bool CTestApp::PreTranslate(MSG* msg)
{
    if (preTranslateHook && preTranslateHook(msg))
        return true;
    for (HWND hwnd = msg->hwnd; hwnd; hwnd = GetParent(hwnd)) {
        if (CWnd* object = FindWindowObject(hwnd); object && object->PreTranslate(msg))
            return true;
    }
    return false;
}

LRESULT CTestApp::OnHandlerException(const std::exception& e, const MSG& msg)
{
    exceptionMessages.push_back(msg.message);
    lastExceptionText = e.what();
    return CWinApp::OnHandlerException(e, msg);
}

void DrainMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message != WM_QUIT)
            DispatchMessageW(&msg);
    }
}

// ---- CScriptWnd ----

bool CScriptWnd::CreateTop(const wchar_t* title, int width, int height, DWORD style)
{
    EnsureTestClass();
    return Create(0, TestWndClass, title, WS_OVERLAPPEDWINDOW | style, 100, 100, width, height, nullptr, nullptr);
}

bool CScriptWnd::CreatePopup(const wchar_t* title, RECT where, DWORD exStyle)
{
    EnsureTestClass();
    return Create(exStyle, TestWndClass, title, WS_POPUP | WS_VISIBLE, where.left, where.top, where.right - where.left,
                  where.bottom - where.top, nullptr, nullptr);
}

bool CScriptWnd::CreateChild(HWND parent, int id, int x, int y, int width, int height, DWORD style)
{
    EnsureTestClass();
    return Create(0, TestWndClass, L"", WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)));
}

LRESULT CScriptWnd::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    messages.push_back(message);
    if (onMessage) {
        if (std::optional<LRESULT> r = onMessage(hwnd, message, wParam, lParam))
            return *r;
    }
    return CWnd::HandleMessage(hwnd, message, wParam, lParam);
}

bool CScriptWnd::OnCommand(int id, int code, HWND control)
{
    commands.push_back(id);
    if (onCommand)
        return onCommand(id, code, control);
    return CWnd::OnCommand(id, code, control);
}

bool CScriptWnd::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    commands.push_back(-id);
    return CWnd::OnNotify(id, nmh, result);
}

bool CScriptWnd::OnReflected(UINT message, WPARAM, LPARAM, LRESULT*)
{
    reflected.push_back(message);
    return false;
}

int CScriptWnd::Count(UINT message) const
{
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

// ---- CScriptControl ----

LRESULT CScriptControl::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    messages.push_back(message);
    return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
}

bool CScriptControl::OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    reflected.push_back(message);
    return onReflected ? onReflected(message, wParam, lParam, result) : false;
}

int CScriptControl::Count(UINT message) const
{
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

// ---- CScriptDialog ----

LRESULT CScriptDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    messages.push_back(message);
    if (message == WM_KICKIDLE)
        kickIdle.push_back(lParam);
    if (onMessage) {
        if (std::optional<LRESULT> r = onMessage(hwnd, message, wParam, lParam))
            return *r;
    }
    return CModalDialog::HandleMessage(hwnd, message, wParam, lParam);
}

bool CScriptDialog::OnCommand(int id, int, HWND)
{
    if (id == IDOK || id == IDCANCEL)
        return EndModal(id);
    return false;
}

// ---- CDialogRobot ----

CDialogRobot::CDialogRobot(std::function<bool(HWND)> ready, std::function<void(HWND)> act, DWORD timeoutMs)
{
    const DWORD uiThread = GetCurrentThreadId();
    m_thread = std::thread([this, uiThread, ready = std::move(ready), act = std::move(act), timeoutMs] {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (GetTickCount64() < deadline) {
            FindDialogArgs args{&ready, nullptr};
            EnumThreadWindows(uiThread, &FindDialogProc, reinterpret_cast<LPARAM>(&args));
            if (args.found) {
                dialog = args.found;
                found = true;
                act(args.found);
                return;
            }
            Sleep(5); // waiting for another thread's window to appear; nothing to wait on
        }
        EnumThreadWindows(uiThread, &CloseWindowProc, 0);
    });
}

CDialogRobot::~CDialogRobot()
{
    Join();
}

void CDialogRobot::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void PressButton(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

HWND FindCheckBox(HWND dialog)
{
    std::vector<HWND> boxes =
        Descendants(dialog, [](HWND h) { return IsButtonOfType(h, {BS_AUTOCHECKBOX, BS_CHECKBOX}); });
    return boxes.empty() ? nullptr : boxes.front();
}

std::vector<std::wstring> ButtonTexts(HWND dialog)
{
    std::vector<std::wstring> texts;
    for (HWND h : Descendants(dialog, [](HWND b) { return IsButtonOfType(b, {BS_PUSHBUTTON, BS_DEFPUSHBUTTON}); })) {
        std::wstring text;
        GetWindowString(h, text);
        texts.push_back(text);
    }
    return texts;
}

