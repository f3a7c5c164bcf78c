#pragma once
// Pieces of the transfer tests: a fixed clock, file and clipboard readers, a window to type
// into, the recording helper program, a loopback HTTP responder and a TCP peer for the bridge.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/KeyNumber.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "tests/support/PumpingInput.h"
#include "tests/support/TempFolder.h"
#include "config/EventLogDb.h"
#include "transfer/KeySender.h"

namespace transfer_test {

// 5 March 2025, 09:07:03 local time.
inline SYSTEMTIME FixedSystemTime()
{
    SYSTEMTIME st{};
    st.wYear = 2025;
    st.wMonth = 3;
    st.wDay = 5;
    st.wHour = 9;
    st.wMinute = 7;
    st.wSecond = 3;
    return st;
}
inline __time64_t FixedTime() { return CTimeValue(FixedSystemTime()).GetTime(); }
inline void FixedLogClock(SYSTEMTIME& now) { now = FixedSystemTime(); }

inline const _KEY_NUMBER kKey0A0B0C = [] {
    const uint8_t bytes[] = {0x0A, 0x0B, 0x0C};
    return MakeKeyNumber(bytes, 3);
}();

inline std::string ReadFileBytes(const std::wstring& path)
{
    CFile f;
    if (!f.Open(path.c_str(), CFile::modeRead | CFile::shareReadWrite))
        return "<missing>";
    std::string data(static_cast<size_t>(f.GetLength()), '\0');
    if (!data.empty())
        f.Read(data.data(), static_cast<UINT>(data.size()));
    return data;
}

inline bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

inline int CountOf(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

inline std::wstring ClipboardText()
{
    std::wstring text = L"<none>";
    if (!OpenClipboard(nullptr))
        return L"<busy>";
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT))
    {
        const auto* p = static_cast<const wchar_t*>(GlobalLock(h));
        text = p ? p : L"<unlocked>";
        GlobalUnlock(h);
    }
    CloseClipboard();
    return text;
}

inline std::wstring SystemText(HRESULT code)
{
    std::wstring text;
    GetSystemMessageText(text, GetResourceModule(), static_cast<DWORD>(code));
    return text;
}

// The table stays open, but read-only, so that every event written to it fails.
inline void BreakEventTable(CEventLogDb& table)
{
    const std::wstring path = table.GetPath();
    table.GetTable().Close();
    table.GetTable().Open(path, true);
}

// ---- Typing into a window of the test thread ----

// A top-level window with an edit that takes the focus.
class CTypingTarget
{
public:
    explicit CTypingTarget(const wchar_t* title)
    {
        static const wchar_t kClass[] = L"NvTransferTarget";
        static bool registered = false;
        if (!registered)
        {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kClass;
            RegisterClassW(&wc);
            registered = true;
        }
        m_window = CreateWindowExW(0, kClass, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400, 200, nullptr,
                                   nullptr, GetModuleHandleW(nullptr), nullptr);
        m_edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN, 0, 0, 380, 150,
                                 m_window, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (GetFocus() == m_window)
            SetFocus(m_edit);
    }
    ~CTypingTarget()
    {
        DestroyWindow(m_window);
        PumpPending();
    }
    CTypingTarget(const CTypingTarget&) = delete;
    CTypingTarget& operator=(const CTypingTarget&) = delete;

    bool MakeForeground()
    {
        SetForegroundWindow(m_window);
        PumpFor(kSettleMs);
        return GetForegroundWindow() == m_window;
    }
    std::wstring EditText() const
    {
        wchar_t text[256] = {};
        GetWindowTextW(m_edit, text, 256);
        return text;
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_SETFOCUS)
        {
            if (HWND edit = GetWindow(window, GW_CHILD))
                SetFocus(edit);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND m_window = nullptr;
    HWND m_edit = nullptr;
};

// ---- The recording helper (tools/argecho): a program that writes down its arguments ----

class CArgEcho
{
public:
    explicit CArgEcho(const CTempFolder& folder)
    {
        std::wstring tools = MultiByteToWString(std::string(NORVANE_TOOLS_DIR), CP_ACP);
        for (wchar_t& c : tools)
            if (c == L'/')
                c = L'\\';
        const std::wstring source = (tools.rfind(L"\\", 0) == 0 ? L"Z:" : L"") + tools + L"\\argecho.exe";
        m_program = folder.File(L"argecho.exe");
        m_output = folder.File(L"seen.bin");
        const std::wstring eventName = L"Local\\NorvaneTransferEcho" + std::to_wstring(GetCurrentProcessId());
        m_done = CreateEventW(nullptr, FALSE, FALSE, eventName.c_str());
        m_ready = CopyFileW(source.c_str(), m_program.c_str(), FALSE) && m_done;
        SetEnvironmentVariableW(L"NORVANE_ARGECHO_OUT", m_output.c_str());
        SetEnvironmentVariableW(L"NORVANE_ARGECHO_EVENT", eventName.c_str());
    }
    ~CArgEcho()
    {
        SetEnvironmentVariableW(L"NORVANE_ARGECHO_OUT", nullptr);
        SetEnvironmentVariableW(L"NORVANE_ARGECHO_EVENT", nullptr);
        if (m_done)
            CloseHandle(m_done);
    }
    CArgEcho(const CArgEcho&) = delete;
    CArgEcho& operator=(const CArgEcho&) = delete;

    bool Ready() const { return m_ready; }
    const std::wstring& Program() const { return m_program; }

    // The arguments of the started helper (its record: command line, folder, arguments).
    std::vector<std::wstring> WaitForArguments()
    {
        std::vector<std::wstring> parts;
        if (WaitForSingleObject(m_done, 20000) != WAIT_OBJECT_0)
            return {L"<not started>"};
        const std::string bytes = ReadFileBytes(m_output);
        std::wstring data(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        size_t start = 0;
        for (size_t end; (end = data.find(L'\0', start)) != std::wstring::npos; start = end + 1)
            parts.push_back(data.substr(start, end - start));
        if (parts.size() < 2)
            return {L"<no record>"};
        return std::vector<std::wstring>(parts.begin() + 2, parts.end());
    }

private:
    std::wstring m_program;
    std::wstring m_output;
    HANDLE m_done = nullptr;
    bool m_ready = false;
};

// ---- Loopback sockets ----

class CWinsock
{
public:
    CWinsock()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~CWinsock() { WSACleanup(); }
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;
};

// A listening socket on 127.0.0.1 with a port of the system's choosing.
inline SOCKET ListenOnLoopback(int& port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(s, 4);
    int size = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return s;
}

// Waits up to ms for the socket to become readable (or, listening, to have a peer waiting).
inline bool WaitReadable(SOCKET s, DWORD ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = {static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    return select(0, &set, nullptr, nullptr, &tv) == 1;
}

// Answers each GET with 404 for a path that begins with "/404", else 200, one request per
// connection, and keeps the request lines.
class CHttpResponder
{
public:
    CHttpResponder()
    {
        m_listen = ListenOnLoopback(m_port);
        WSAEventSelect(m_listen, m_acceptEvent, FD_ACCEPT);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CHttpResponder()
    {
        WSASetEvent(m_stopEvent);
        m_thread.join();
        closesocket(m_listen);
        WSACloseEvent(m_acceptEvent);
        WSACloseEvent(m_stopEvent);
    }
    CHttpResponder(const CHttpResponder&) = delete;
    CHttpResponder& operator=(const CHttpResponder&) = delete;

    int Port() const { return m_port; }
    std::vector<std::string> RequestLines()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    void Serve()
    {
        const WSAEVENT events[] = {m_stopEvent, m_acceptEvent};
        while (WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE) == WSA_WAIT_EVENT_0 + 1)
        {
            WSANETWORKEVENTS happened;
            WSAEnumNetworkEvents(m_listen, m_acceptEvent, &happened);
            SOCKET peer = accept(m_listen, nullptr, nullptr);
            if (peer == INVALID_SOCKET)
                continue;
            // The accepted socket inherits the event selection; answer it blocking.
            WSAEventSelect(peer, nullptr, 0);
            u_long blocking = 0;
            ioctlsocket(peer, FIONBIO, &blocking);
            std::string head;
            char buffer[2048];
            while (head.find("\r\n\r\n") == std::string::npos && WaitReadable(peer, 5000))
            {
                const int n = recv(peer, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                head.append(buffer, static_cast<size_t>(n));
            }
            const std::string line = head.substr(0, head.find("\r\n"));
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_lines.push_back(line);
            }
            const bool missing = line.rfind("GET /404", 0) == 0;
            const std::string answer = std::string(missing ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
                                       "\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
            send(peer, answer.data(), static_cast<int>(answer.size()), 0);
            shutdown(peer, SD_SEND);
            closesocket(peer);
        }
    }

    CWinsock m_winsock;
    SOCKET m_listen = INVALID_SOCKET;
    int m_port = 0;
    WSAEVENT m_stopEvent = WSACreateEvent();
    WSAEVENT m_acceptEvent = WSACreateEvent();
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

}  // namespace transfer_test
