#pragma once
// The real program as a process of its own, and the loopback far ends it sends keys to. A
// portable folder with a settings file of the caller's choosing, start, close and CPU time of
// the process; an HTTP server and a plain TCP peer (the bridge program's side) that keep what
// arrives with its arrival time. Shared by the end-to-end tests and the key latency bench, so
// it needs nothing but the system.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildJob.h"

namespace program_run {

// Milliseconds of the performance counter; the same clock in every process of the machine.
inline double NowMs()
{
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / perMs;
}

inline std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

// Norvane.exe of this build: one folder above the tests and the benches.
inline std::wstring BuiltProgram() { return ExeFolder() + L"\\..\\Norvane.exe"; }

inline std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// A JSON string literal of the text.
inline std::string JsonText(const std::wstring& text)
{
    std::string out = "\"";
    for (char c : Utf8(text)) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

struct RunSettings
{
    std::wstring source;        // "reader:COM11", "reader:127.0.0.1:4001"
    std::wstring destination;   // "http:", "portavo:", "keyboard:"
    std::wstring templ = L"%d";
    std::wstring params = L"w01";   // the card number of an Em-Marine key
    uint32_t keyTypes = 0x3FFFFF;   // the key types that are transferred
    std::string members;        // further members of the settings file, each followed by a comma
    std::string reader = "\"model\": 0, \"speed\": 9600";   // the members of "reader"
    std::string readKeys;       // further members of "readKeys", each preceded by a comma
    bool scardStandIn = true;   // the smart-card library stand-in beside the program (else the system's)
    uint32_t history = 128;     // "main" "history": the transfer state is remembered
};

// A settings file whose current configuration reads the reader, sends every key through the
// one format to the destination, and starts the transfer at start-up.
inline std::string MakeSettingsJson(const RunSettings& s)
{
    return "{\"info\": {\"name\": \"Norvane\", \"version\": \"1.6\"},\n"
           "\"main\": {\"singleInstance\": false, \"history\": " + std::to_string(s.history) + "},\n"
           "\"debugLog\": {\"enabled\": true, \"logLevel\": 5},\n"
           "\"transfer\": {\"enabled\": true, \"transferLog\": true, \"autoStart\": true, \"source\": " +
           JsonText(s.source) + ", \"destination\": " + JsonText(s.destination) +
           "},\n"
           "\"eventLog\": {\"enabled\": true},\n"
           "\"ui\": {\"confirm\": 0},\n"
           "\"reader\": {" + s.reader + "},\n" +
           s.members +
           "\n\"formats\": {\"presets\": {\"version\": 26}, \"newId\": 1002, \"defaultId\": 1001, \"formats\": "
           "[{\"id\": 1001, \"name\": \"Key number\", \"template\": " +
           JsonText(s.templ) + ", \"params\": " + JsonText(s.params) +
           "}]},\n"
           "\"keyFilters\": {\"newId\": 1, \"keyFilters\": []},\n"
           "\"readKeys\": {\"keyTypes\": " + std::to_string(s.keyTypes) + s.readKeys + "}}\n";
}

inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

inline std::string ReadWholeFile(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string data;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n)
        data.append(buffer, n);
    CloseHandle(h);
    return data;
}

// Norvane.exe copied into a folder of the caller's with the portable marker and a settings
// file; the process is closed (and at worst ended) with the object.
class CProgramProcess
{
public:
    explicit CProgramProcess(std::wstring folder) : m_folder(std::move(folder)) {}
    ~CProgramProcess() { Close(); }
    CProgramProcess(const CProgramProcess&) = delete;
    CProgramProcess& operator=(const CProgramProcess&) = delete;

    // Empty on success, else what went wrong.
    std::string Prepare(const RunSettings& settings)
    {
        const std::wstring program = m_folder + L"\\Norvane.exe";
        if (!CopyFileW(BuiltProgram().c_str(), program.c_str(), FALSE))
            return "Norvane.exe not found beside the tests (error " + std::to_string(GetLastError()) + ")";
        const std::wstring standIn = ExeFolder() + L"\\winscard.dll";
        if (settings.scardStandIn && GetFileAttributesW(standIn.c_str()) != INVALID_FILE_ATTRIBUTES &&
            !CopyFileW(standIn.c_str(), (m_folder + L"\\winscard.dll").c_str(), FALSE))
            return "cannot copy the smart-card library stand-in";
        if (!WriteWholeFile(m_folder + L"\\portable_mode_enabled", "") ||
            !WriteWholeFile(m_folder + L"\\Norvane.json", MakeSettingsJson(settings)))
            return "cannot write the program folder";
        return std::string();
    }

    bool Start(const std::wstring& arguments = L"/n /start")
    {
        const std::wstring program = m_folder + L"\\Norvane.exe";
        STARTUPINFOW si{sizeof(si)};
        PROCESS_INFORMATION pi{};
        if (!CChildJob::Instance().Start(program.c_str(), L"\"" + program + L"\" " + arguments, m_folder.c_str(), si, pi))
            return false;
        CloseHandle(pi.hThread);
        m_process = pi.hProcess;
        m_pid = pi.dwProcessId;
        return true;
    }

    // The process's main window once it exists (nullptr when it does not come within ms).
    HWND WaitForMainWindow(DWORD ms)
    {
        const ULONGLONG end = GetTickCount64() + ms;
        for (;;) {
            if (HWND found = FindMainWindow())
                return found;
            if (!m_process || GetTickCount64() >= end || WaitForSingleObject(m_process, 20) == WAIT_OBJECT_0)
                return nullptr;
        }
    }

    bool Running() const { return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
    HANDLE Process() const { return m_process; }

    // User and kernel time of the process so far, in milliseconds.
    double CpuMs() const
    {
        FILETIME created, exited, kernel, user;
        if (!m_process || !GetProcessTimes(m_process, &created, &exited, &kernel, &user))
            return -1;
        auto ms = [](const FILETIME& t) {
            return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
        };
        return ms(kernel) + ms(user);
    }

    // Closes the main window and waits for the process; ends it when it does not go. True when
    // it ended by itself.
    bool Close(DWORD ms = 20000)
    {
        if (!m_process)
            return true;
        bool clean = false;
        if (HWND window = FindMainWindow())
            PostMessageW(window, WM_CLOSE, 0, 0);
        clean = WaitForSingleObject(m_process, ms) == WAIT_OBJECT_0;
        if (!clean) {
            TerminateProcess(m_process, 99);
            WaitForSingleObject(m_process, 5000);
        }
        CloseHandle(m_process);
        m_process = nullptr;
        return clean;
    }

    std::wstring File(const wchar_t* name) const { return m_folder + L"\\" + name; }

    // Waits until the file of the program's folder holds the text (a log line the program
    // writes once it is ready for something), at most ms, or until the program ends. Woken by
    // the folder's changes; the file is read again at least every 100 ms, as change notices
    // may be merged.
    bool WaitForFileText(const wchar_t* name, const std::string& text, DWORD ms) const
    {
        HANDLE change = FindFirstChangeNotificationW(
            m_folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME);
        std::vector<HANDLE> handles;
        if (change != INVALID_HANDLE_VALUE)
            handles.push_back(change);
        if (m_process)
            handles.push_back(m_process);
        const ULONGLONG end = GetTickCount64() + ms;
        bool found = false;
        for (;;) {
            found = ReadWholeFile(File(name)).find(text) != std::string::npos;
            const ULONGLONG now = GetTickCount64();
            if (found || now >= end || (m_process && WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0))
                break;
            if (handles.empty())
                break;   // nothing to wait on
            const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(end - now, 100));
            const DWORD w = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, wait);
            if (change != INVALID_HANDLE_VALUE && w == WAIT_OBJECT_0)
                FindNextChangeNotification(change);
        }
        if (change != INVALID_HANDLE_VALUE)
            FindCloseChangeNotification(change);
        return found;
    }

private:
    HWND FindMainWindow() const
    {
        struct Args
        {
            DWORD pid;
            HWND found;
        } args{m_pid, nullptr};
        EnumWindows(
            [](HWND hwnd, LPARAM l) -> BOOL {
                auto* a = reinterpret_cast<Args*>(l);
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                wchar_t cls[32] = {};
                GetClassNameW(hwnd, cls, 32);
                if (pid == a->pid && wcscmp(cls, L"Norvane2") == 0) {
                    a->found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&args));
        return args.found;
    }

    std::wstring m_folder;
    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
};

// What reached a loopback peer: an HTTP request line's target (HTTP) or a chunk of bytes (raw),
// with the time it was complete.
struct Arrival
{
    std::string text;
    double ms = 0;
};

// A listener on 127.0.0.1 with a port of the system's choosing and one thread that serves every
// connection. HTTP answers each GET with 200 "ok" and keeps the connection for the next one;
// raw only collects the bytes.
class CLoopbackPeer
{
public:
    explicit CLoopbackPeer(bool http) : m_http(http)
    {
        WSADATA data;
        m_wsa = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_listen == INVALID_SOCKET || bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_listen, 8) != 0)
            return;
        int size = sizeof address;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        WSAEventSelect(m_listen, m_acceptEvent, FD_ACCEPT);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CLoopbackPeer()
    {
        WSASetEvent(m_stopEvent);
        if (m_thread.joinable())
            m_thread.join();
        for (Peer& p : m_peers) {
            closesocket(p.socket);
            WSACloseEvent(p.event);
        }
        if (m_listen != INVALID_SOCKET)
            closesocket(m_listen);
        WSACloseEvent(m_acceptEvent);
        WSACloseEvent(m_stopEvent);
        if (m_wsa)
            WSACleanup();
    }
    CLoopbackPeer(const CLoopbackPeer&) = delete;
    CLoopbackPeer& operator=(const CLoopbackPeer&) = delete;

    int Port() const { return m_port; }
    std::vector<Arrival> Arrivals() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_arrivals;
    }
    // Every byte of a raw peer, in order.
    std::string Received() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string all;
        for (const Arrival& a : m_arrivals)
            all += a.text;
        return all;
    }
    int Connections() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connections;
    }
    // Waits until cond () holds (checked after each arrival or connection), at most ms.
    bool WaitUntil(const std::function<bool()>& cond, DWORD ms) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            lock.unlock();
            const bool holds = cond();
            lock.lock();
            return holds;
        });
    }
    bool WaitForArrivals(size_t count, DWORD ms) const
    {
        return WaitUntil([&] { return Arrivals().size() >= count; }, ms);
    }

private:
    struct Peer
    {
        SOCKET socket;
        WSAEVENT event;
        std::string pending;
    };

    void Serve()
    {
        for (;;) {
            std::vector<WSAEVENT> events = {m_stopEvent, m_acceptEvent};
            for (const Peer& p : m_peers)
                events.push_back(p.event);
            const DWORD w = WSAWaitForMultipleEvents(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                                     WSA_INFINITE, FALSE);
            if (w == WSA_WAIT_EVENT_0 || w == WSA_WAIT_FAILED)
                return;
            WSANETWORKEVENTS happened;
            if (WSAEnumNetworkEvents(m_listen, m_acceptEvent, &happened) == 0 && (happened.lNetworkEvents & FD_ACCEPT))
                Accept();
            for (size_t i = 0; i < m_peers.size();) {
                if (ServePeer(m_peers[i])) {
                    ++i;
                    continue;
                }
                closesocket(m_peers[i].socket);
                WSACloseEvent(m_peers[i].event);
                m_peers.erase(m_peers.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }

    void Accept()
    {
        SOCKET s = accept(m_listen, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            return;
        if (m_peers.size() >= WSA_MAXIMUM_WAIT_EVENTS - 2) {
            closesocket(s);
            return;
        }
        Peer p{s, WSACreateEvent(), std::string()};
        WSAEventSelect(s, p.event, FD_READ | FD_CLOSE);
        m_peers.push_back(p);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_connections;
        }
        m_changed.notify_all();
    }

    // False when the peer is gone.
    bool ServePeer(Peer& p)
    {
        WSANETWORKEVENTS happened;
        if (WSAEnumNetworkEvents(p.socket, p.event, &happened) != 0)
            return false;
        if (!(happened.lNetworkEvents & (FD_READ | FD_CLOSE)))
            return true;
        char buffer[4096];
        bool open = true;
        for (;;) {
            const int n = recv(p.socket, buffer, sizeof buffer, 0);
            if (n > 0) {
                const double now = NowMs();
                if (m_http)
                    TakeRequests(p, std::string(buffer, static_cast<size_t>(n)), now);
                else
                    Add(std::string(buffer, static_cast<size_t>(n)), now);
                continue;
            }
            if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
                break;
            open = false;
            break;
        }
        return open && !(happened.lNetworkEvents & FD_CLOSE);
    }

    void TakeRequests(Peer& p, const std::string& bytes, double now)
    {
        p.pending += bytes;
        for (size_t end; (end = p.pending.find("\r\n\r\n")) != std::string::npos;) {
            const std::string line = p.pending.substr(0, p.pending.find("\r\n"));
            p.pending.erase(0, end + 4);
            // "GET <target> HTTP/1.1": the target is what the program sent.
            const size_t a = line.find(' '), b = line.rfind(' ');
            Add(a != std::string::npos && b > a ? line.substr(a + 1, b - a - 1) : line, now);
            static const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Type: text/plain\r\n\r\nok";
            send(p.socket, answer, static_cast<int>(sizeof answer - 1), 0);
        }
    }

    void Add(const std::string& text, double now)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_arrivals.push_back(Arrival{text, now});
        }
        m_changed.notify_all();
    }

    bool m_http;
    bool m_wsa = false;
    SOCKET m_listen = INVALID_SOCKET;
    int m_port = 0;
    WSAEVENT m_stopEvent = WSACreateEvent();
    WSAEVENT m_acceptEvent = WSACreateEvent();
    std::vector<Peer> m_peers;   // the serving thread's own
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Arrival> m_arrivals;
    int m_connections = 0;
};

}  // namespace program_run
