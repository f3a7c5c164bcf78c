#pragma once
// The formats page and the format dialog under test: the page in a window of its own over a fake
// host, formats made from short rows, and a robot that answers the message box of the UI thread
// from a thread of its own.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/WinApp.h"
#include "pages/options/FormatDialog.h"
#include "pages/options/FormatsIo.h"
#include "pages/options/FormatsPage.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/WindowPicture.h"

namespace formats_test {

inline void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

template <class F>
bool PumpUntil(F done, DWORD timeoutMs = 5000)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        Pump();
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// A format from its parts; a name starting with "\n" is a preset's.
inline _KV_FORMAT MakeFormat(const std::wstring& name, const std::wstring& templ = L"%d",
                             const std::wstring& params = L"x[0]", int32_t mask = 1)
{
    _KV_FORMAT f;
    f.name = name;
    f.templ = templ;
    f.params = params;
    f.keyFilterMask = mask;
    if (!name.empty() && name[0] == L'\n')
        f.flags = KVF_PRESET;
    return f;
}

// A key pressed on a window with modifiers held in this thread's key state.
inline void PressKey(HWND window, WORD key, std::initializer_list<WORD> modifiers = {})
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
    Pump();
}

// A left click at a client point of a window, as the mouse would give it.
inline void Click(HWND window, POINT at)
{
    const LPARAM where = MAKELPARAM(at.x, at.y);
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
    SendMessageW(window, WM_LBUTTONUP, 0, where);
    Pump();
}

// Answers the first visible dialog of a thread that `ready` accepts: `act` runs on the robot's
// own thread while the UI thread sits in the dialog's loop. After the time-out every dialog of
// the thread is cancelled so that no test hangs.
class CRobot
{
public:
    CRobot(std::function<bool(HWND)> ready, std::function<void(HWND)> act, DWORD timeoutMs = 10000)
    {
        const DWORD ui = GetCurrentThreadId();
        m_thread = std::thread([this, ui, ready, act, timeoutMs] {
            const ULONGLONG deadline = GetTickCount64() + timeoutMs;
            while (GetTickCount64() < deadline && !found) {
                struct Search { const std::function<bool(HWND)>* ready; HWND hit; } search{&ready, nullptr};
                EnumThreadWindows(ui, [](HWND hwnd, LPARAM p) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(p);
                    wchar_t cls[16] = {};
                    GetClassNameW(hwnd, cls, 16);
                    if (IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") == 0 && (*s->ready)(hwnd)) {
                        s->hit = hwnd;
                        return FALSE;
                    }
                    return TRUE;
                }, reinterpret_cast<LPARAM>(&search));
                if (search.hit) {
                    act(search.hit);
                    found = true;
                    return;
                }
                // Waits for the dialog to appear on the other thread: nothing to wait on here.
                Sleep(20);
            }
            EnumThreadWindows(ui, [](HWND hwnd, LPARAM) -> BOOL {
                PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
                return TRUE;
            }, 0);
        });
    }
    ~CRobot() { Join(); }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    std::atomic<bool> found{false};

private:
    std::thread m_thread;
};

// The visible descendant with that class, or null.
inline HWND FindDescendant(HWND parent, const wchar_t* className)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(child, cls, 64);
        if (_wcsicmp(cls, className) == 0)
            return child;
        if (HWND deeper = FindDescendant(child, className))
            return deeper;
    }
    return nullptr;
}

// The file dialogs answered with a path and a filter index.
class CChosenFile final : public ITableFileUi
{
public:
    bool IsAppendHeld() override { return append; }
    bool ChooseFile(bool save, UINT filterId, int& filterIndex, std::wstring& chosen) override
    {
        asked.push_back((save ? L"save|" : L"open|") + std::to_wstring(filterId) + L"|" + std::to_wstring(filterIndex));
        if (path.empty())
            return false;
        filterIndex = index;
        chosen = path;
        return true;
    }
    std::wstring path;
    int index = 1;
    bool append = false;
    std::vector<std::wstring> asked;
};

// The page in a top-level window of its own, over a fake host with formats and key filters.
class FormatsPageFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_frame = CreateWindowExW(0, L"STATIC", L"Formats under test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 760,
                                  480, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        const DWORD error = GetLastError();
        ASSERT_TRUE(m_frame) << "the page's window was not made (error " << error << ")";
        Doc().SetDefaults();
        for (uint32_t id : {1u, 5u, 30u}) {
            KeyFilter filter;
            filter.id = id;
            filter.name = L"Filter " + std::to_wstring(id);
            Doc().KeyFilters().push_back(filter);
        }
    }
    void TearDown() override
    {
        if (page)
            page->Destroy();
        page.reset();
        DestroyWindow(m_frame);
        Pump();
    }

    CTransferDoc& Doc() { return host.GetTransferDoc(); }
    CAppSettings& Settings() { return host.settings; }
    KvFormatPtr Add(const _KV_FORMAT& f) { return Doc().GetFormats()[Doc().AddFormat(f)]; }

    void Open()
    {
        page = std::make_unique<CFormatsPage>(host);
        ASSERT_TRUE(page->CreateDialogWindow(m_frame));
        RECT client;
        GetClientRect(m_frame, &client);
        SetWindowPos(page->m_hWnd, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_SHOWWINDOW);
        list = page->Table().m_hWnd;
        Pump();
    }
    void Command(int id) { SendMessageW(page->m_hWnd, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    void Idle() { page->OnIdleUpdate(); }

    int Rows() { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }
    // The text the list shows in a data column, through its display callback.
    std::wstring Cell(int row, int column)
    {
        wchar_t text[260] = {};
        LVITEMW item{};
        item.iSubItem = page->Table().VisibleIndexOf(column);
        item.pszText = text;
        item.cchTextMax = 260;
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return text;
    }
    int Image(int row, int column)
    {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        item.iSubItem = page->Table().VisibleIndexOf(column);
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
    std::vector<std::wstring> ShownNames()
    {
        std::vector<std::wstring> names;
        for (int row = 0; row < Rows(); ++row)
            names.push_back(Cell(row, FCOL_NAME));
        return names;
    }
    std::vector<std::wstring> StoredNames()
    {
        std::vector<std::wstring> names;
        for (const KvFormatPtr& f : Doc().GetFormats())
            names.push_back(f->name);
        return names;
    }
    void Select(std::initializer_list<int> rows)
    {
        page->Table().SelectOnly(-1, false);
        for (int row : rows) {
            LVITEMW item{};
            item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            item.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        }
        Pump();
    }
    // A click in the middle of a data column's image of a row.
    void ClickImage(int row, int column)
    {
        const int sub = page->Table().VisibleIndexOf(column);
        RECT cell{};
        cell.top = sub;
        cell.left = sub == 0 ? LVIR_ICON : LVIR_BOUNDS;
        SendMessageW(list, sub == 0 ? LVM_GETITEMRECT : LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&cell));
        Click(list, POINT{sub == 0 ? (cell.left + cell.right) / 2 : cell.left + 9, (cell.top + cell.bottom) / 2});
    }

    CFakePageHost host;
    std::unique_ptr<CFormatsPage> page;
    HWND m_frame = nullptr;
    HWND list = nullptr;
};

} // namespace formats_test
