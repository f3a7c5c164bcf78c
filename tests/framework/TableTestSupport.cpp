#include "tests/framework/TableTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "tests/framework/FrameworkTestSupport.h"

// ---- CNumberedRows ----

void CNumberedRows::GetDispInfo(LVITEMW* item)
{
    asked.push_back(item->iItem);
    if (item->mask & LVIF_TEXT) {
        m_text = L"r" + std::to_wstring(item->iItem) + L"c" + std::to_wstring(item->iSubItem);
        if (item->pszText && item->cchTextMax > 0)
            lstrcpynW(item->pszText, m_text.c_str(), item->cchTextMax);
    }
    if (item->mask & LVIF_IMAGE)
        item->iImage = I_IMAGENONE;
}

void CNumberedRows::CacheHint(int from, int to)
{
    hints.emplace_back(from, to);
}

// ---- CTableHost ----

CTableHost::CTableHost(int rowCount, std::vector<ColumnDesc> columns, int width, int height, DWORD listStyle)
    : rows(rowCount)
{
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    static const ATOM hostClass = RegisterWndClass(L"NorvaneTableHost", 0, LoadCursorW(nullptr, IDC_ARROW),
                                                   reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr, nullptr);
    (void)hostClass;
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    const POINT corner = TableCornerFor(SIZE{frame.right - frame.left, frame.bottom - frame.top});
    const bool made = Create(0, L"NorvaneTableHost", L"Table host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, corner.x,
                             corner.y, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr);
    const DWORD error = GetLastError();
    EXPECT_TRUE(made) << "the table's host window was not made (error " << error << ")";
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | listStyle, 0, 0,
                                width, height, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(77)),
                                GetModuleHandleW(nullptr), nullptr);
    table.Attach(list);
    table.SetData(&rows);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP,
                 LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
    table.SetColumns(columns);
    table.ApplyColumns();
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(rowCount), 0);
    ShowWindow(m_hWnd, SW_SHOWNORMAL);
    SetForegroundWindow(m_hWnd);
    UpdateWindow(m_hWnd);
    DrainMessages();
}

CTableHost::~CTableHost()
{
    Destroy();
    DrainMessages();
}

LRESULT CTableHost::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SIZE && table.m_hWnd)
        MoveWindow(table.m_hWnd, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
    if (message == WM_COMMAND)
        lastCommand = {wParam, reinterpret_cast<HWND>(lParam)};
    return CWnd::HandleMessage(hwnd, message, wParam, lParam);
}

bool CTableHost::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->hwndFrom != table.m_hWnd)
        return CWnd::OnNotify(id, nmh, result);
    switch (nmh->code) {
    case TN_DRAGBEGIN:
    case TN_DRAGMOVE:
    case TN_DRAGEND: {
        auto& info = *reinterpret_cast<TableDragInfo*>(nmh);
        TableNote note;
        note.code = nmh->code;
        note.drag = info; // as the table sent it
        *result = onDrag ? onDrag(info) : 0;
        notes.push_back(note);
        return true;
    }
    case TN_SORTREQUEST: {
        auto& request = *reinterpret_cast<TableSortRequest*>(nmh);
        TableNote note;
        note.code = nmh->code;
        note.sortKey = request.key;
        notes.push_back(note);
        *result = onSort ? onSort(request) : 0;
        return true;
    }
    case TN_HEADERMENU:
        notes.push_back(TableNote{nmh->code});
        if (onHeaderMenu)
            onHeaderMenu(reinterpret_cast<TableMenuInfo*>(nmh)->menu);
        return true;
    case TN_COLUMNSCHANGED: {
        const auto& change = *reinterpret_cast<TableColumnsChange*>(nmh);
        TableNote note;
        note.code = nmh->code;
        note.what = change.what;
        note.index = change.index;
        notes.push_back(note);
        return true;
    }
    case TN_DEFAULTCOLUMNS: {
        auto& set = *reinterpret_cast<TableColumnSet*>(nmh);
        TableNote note;
        note.code = nmh->code;
        note.columnsGiven = set.columns != nullptr;
        note.flag = set.flag;
        notes.push_back(note);
        *result = onDefaults ? onDefaults(set) : 0;
        return true;
    }
    default:
        return CWnd::OnNotify(id, nmh, result);
    }
}

int CTableHost::Count(UINT code) const
{
    return static_cast<int>(std::count_if(notes.begin(), notes.end(), [code](const TableNote& n) { return n.code == code; }));
}

const TableNote* CTableHost::Last(UINT code) const
{
    for (auto it = notes.rbegin(); it != notes.rend(); ++it) {
        if (it->code == code)
            return &*it;
    }
    return nullptr;
}

bool CTableHost::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 20)),
                                  QS_ALLINPUT);
    }
}

ColumnDesc Col(int width, int order, int format, int flags, int titleId)
{
    ColumnDesc c;
    c.width = width;
    c.order = order;
    c.format = format;
    c.flags = flags;
    c.titleId = titleId;
    return c;
}

// ---- CFakeTableSettings ----

void CFakeTableSettings::StoreChooserColumns(const std::vector<ColumnDesc>& columns)
{
    chooserColumns = columns;
    ++chooserStores;
}

void CFakeTableSettings::ExchangeChooserPlacement(bool save, HWND dialog)
{
    placements.push_back(save);
    RECT frame;
    GetWindowRect(dialog, &frame);
    const POINT corner = TableCornerFor(SIZE{frame.right - frame.left, frame.bottom - frame.top});
    if (!save)
        SetWindowPos(dialog, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// ---- input ----

namespace {

void SendOne(INPUT input)
{
    SendInput(1, &input, sizeof(INPUT));
}

} // namespace

POINT TableCornerFor(SIZE size)
{
    // Room below for a drag that leaves the rows downwards.
    return POINT{GetSystemMetrics(SM_CXSCREEN) - size.cx - 4, GetSystemMetrics(SM_CYSCREEN) - size.cy - 90};
}

POINT ToScreen(HWND window, POINT client)
{
    ClientToScreen(window, &client);
    return client;
}

namespace {

// The display gives the mouse to a window holding the capture only while its thread is in the
// foreground; another test's window, shown meanwhile, may have taken that.
void KeepForeground(HWND window)
{
    HWND root = window ? GetAncestor(window, GA_ROOT) : nullptr;
    if (root && GetForegroundWindow() != root)
        SetForegroundWindow(root);
}

INPUT AbsoluteMove(POINT screen)
{
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    INPUT input{INPUT_MOUSE};
    // Rounded up: the display maps the value back to pixels rounding down.
    input.mi.dx = static_cast<LONG>((screen.x * 65536LL + w - 1) / w);
    input.mi.dy = static_cast<LONG>((screen.y * 65536LL + h - 1) / h);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return input;
}

// Pumps until a mouse move at the point has been dispatched; false after the time.
bool PumpUntilMoveAt(POINT screen, DWORD ms)
{
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        bool arrived = false;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            arrived |= (msg.message == WM_MOUSEMOVE || msg.message == WM_NCMOUSEMOVE) && msg.pt.x == screen.x &&
                       msg.pt.y == screen.y;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (arrived)
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

} // namespace

void MouseMoveTo(POINT screen)
{
    // The cursor is there at once; the move reaches a window only when the display passes it on.
    for (int attempt = 0; attempt < 3; ++attempt) {
        KeepForeground(GetCapture());
        if (attempt > 0)
            SendOne(AbsoluteMove(POINT{screen.x + 1, screen.y})); // a move that is one
        SendOne(AbsoluteMove(screen));
        if (PumpUntilMoveAt(screen, 700))
            break;
    }
    DrainMessages();
}

void MouseButton(bool left, bool down)
{
    POINT at{};
    GetCursorPos(&at);
    if (down) {
        CTableHost::PumpUntil([at] {
            HWND under = WindowFromPoint(at);
            return under && GetWindowThreadProcessId(under, nullptr) == GetCurrentThreadId();
        });
    }
    KeepForeground(GetCapture() ? GetCapture() : WindowFromPoint(at));
    INPUT input{INPUT_MOUSE};
    input.mi.dwFlags = left ? (down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP)
                            : (down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP);
    SendOne(input);
    // Until the press or release has reached a window of this thread.
    const UINT client = left ? (down ? WM_LBUTTONDOWN : WM_LBUTTONUP) : (down ? WM_RBUTTONDOWN : WM_RBUTTONUP);
    const UINT frame = client - WM_LBUTTONDOWN + WM_NCLBUTTONDOWN;
    const UINT twice = left ? WM_LBUTTONDBLCLK : WM_RBUTTONDBLCLK;
    const ULONGLONG deadline = GetTickCount64() + 2000;
    for (bool arrived = false; !arrived && GetTickCount64() < deadline;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            arrived |= msg.message == client || msg.message == frame || (down && msg.message == twice);
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (!arrived)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    DrainMessages();
}

void PressKey(HWND window, WORD key, std::initializer_list<WORD> modifiers)
{
    BYTE saved[256], state[256];
    GetKeyboardState(saved);
    memcpy(state, saved, sizeof(state));
    for (WORD m : modifiers)
        state[m] |= 0x80;
    SetKeyboardState(state);
    SendMessageW(window, WM_KEYDOWN, key, 1);
    SendMessageW(window, WM_KEYUP, key, 0xC0000001);
    SetKeyboardState(saved);
    DrainMessages();
}

// ---- CUiScript ----

namespace {

std::map<UINT_PTR, CUiScript*>& Scripts()
{
    static std::map<UINT_PTR, CUiScript*> scripts;
    return scripts;
}

BOOL CALLBACK CloseDialog(HWND hwnd, LPARAM)
{
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") == 0)
        PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

struct FindArgs
{
    const wchar_t* caption;
    HWND except;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM lParam)
{
    auto* args = reinterpret_cast<FindArgs*>(lParam);
    wchar_t cls[16] = {}, text[128] = {};
    GetClassNameW(hwnd, cls, 16);
    GetWindowTextW(hwnd, text, 128);
    if (hwnd != args->except && IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") == 0 && wcscmp(text, args->caption) == 0) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

CUiScript::CUiScript(std::vector<std::function<bool()>> steps, DWORD timeoutMs)
    : m_steps(std::move(steps)), m_deadline(GetTickCount64() + timeoutMs)
{
    m_timer = SetTimer(nullptr, 0, 15, &CUiScript::Tick);
    Scripts()[m_timer] = this;
}

CUiScript::~CUiScript()
{
    KillTimer(nullptr, m_timer);
    Scripts().erase(m_timer);
}

void CALLBACK CUiScript::Tick(HWND, UINT, UINT_PTR id, DWORD)
{
    auto it = Scripts().find(id);
    if (it != Scripts().end())
        it->second->Run();
}

void CUiScript::Run()
{
    if (m_running || Finished())
        return;
    m_running = true;
    if (GetTickCount64() > m_deadline) {
        m_timedOut = true;
        m_next = m_steps.size();
        EndMenu();
        EnumThreadWindows(GetCurrentThreadId(), &CloseDialog, 0);
    } else if (m_steps[m_next]()) {
        ++m_next;
    }
    m_running = false;
}

HWND FindThreadDialog(const wchar_t* caption, HWND except)
{
    FindArgs args{caption, except, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

HMENU ShownMenu()
{
    HWND popup = FindWindowW(L"#32768", nullptr);
    if (!popup || !IsWindowVisible(popup))
        return nullptr;
    return reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
}
