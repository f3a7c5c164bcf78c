#include "tests/app/AppTestSupport.h"

#include <tlhelp32.h>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "app/MainFrame.h"

std::string ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

bool FileExists(const std::wstring& path)
{
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

int CountProcessThreads()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 te{sizeof(te)};
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    }
    CloseHandle(snap);
    return count;
}

void PumpWaitingMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// ---- CBoxRobot ----

namespace {

struct FindArgs {
    const std::function<bool(HWND)>* ready;
    HWND found;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM lParam)
{
    auto* args = reinterpret_cast<FindArgs*>(lParam);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") == 0 && (*args->ready)(hwnd)) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CloseBox(HWND hwnd, LPARAM)
{
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (wcscmp(cls, L"#32770") == 0)
        PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

} // namespace

CBoxRobot::CBoxRobot(std::function<bool(HWND)> ready, std::function<void(HWND)> act, DWORD timeoutMs)
{
    const DWORD ui = GetCurrentThreadId();
    m_thread = std::thread([this, ui, ready = std::move(ready), act = std::move(act), timeoutMs] {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (GetTickCount64() < deadline) {
            FindArgs args{&ready, nullptr};
            EnumThreadWindows(ui, &FindBox, reinterpret_cast<LPARAM>(&args));
            if (args.found) {
                found = true;
                act(args.found);
                return;
            }
            Sleep(5);  // another thread's window: nothing to wait on but its appearance
        }
        EnumThreadWindows(ui, &CloseBox, 0);
    });
}

CBoxRobot::~CBoxRobot()
{
    Join();
}

void CBoxRobot::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::wstring> DialogTexts(HWND dialog)
{
    std::vector<HWND> all;
    EnumChildWindows(
        dialog,
        [](HWND h, LPARAM l) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(l)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    std::vector<std::wstring> texts;
    for (HWND h : all) {
        wchar_t text[512] = {};
        // Another thread's window: WM_GETTEXT is sent across, which is what we want here.
        SendMessageTimeoutW(h, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000, nullptr);
        texts.push_back(text);
    }
    return texts;
}

bool HasText(HWND dialog, const std::wstring& text)
{
    for (const std::wstring& t : DialogTexts(dialog)) {
        if (t == text)
            return true;
    }
    return false;
}

void PressButton(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// ---- AppTest ----

void AppTest::SetUp()
{
    WriteFileBytes(m_folder.File(L"portable_mode_enabled"), "");
    m_programPath = m_folder.File(L"Norvane.exe");
    m_system.programPath = [this] { return m_programPath; };
    CNorvaneApp& app = App();
    app.GetSettings().GetTransferDoc().Close(false);
    app.GetSettings().GetTransferDoc().SetDefaults();
    app.GetSettings().GetTransferDoc().SetPathName(L"");
    // Each test starts the program as a new process would: no language applied yet.
    app.GetSettings().GetTransferDoc().SetInterfaceLanguageApplied(false);
    app.ForgetHelpFile();
    app.GetSettings().SetDefaults();
    PumpWaitingMessages();
}

void AppTest::TearDown()
{
    ShutDown();
}

int AppTest::Start(const wchar_t* commandLine, int showMode)
{
    return StartApplication(commandLine, showMode);
}

CMainFrame* AppTest::Frame() const
{
    return App().GetMainFrame();
}

HWND AppTest::FrameWindow() const
{
    return App().GetMainFrame() ? App().GetMainFrame()->m_hWnd : nullptr;
}

int AppTest::RunLoop()
{
    return RunMessageLoop();
}

void AppTest::ShutDown()
{
    if (HWND hwnd = FrameWindow()) {
        DestroyWindow(hwnd);
        // Takes the WM_QUIT that the frame's end posted.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_QUIT)
                DispatchMessageW(&msg);
        }
    }
    ShutDownApplication();
}
