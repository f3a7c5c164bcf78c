// The least a program can do with a key: read the reader's key line and send the program's HTTP
// GET for it at once. The key latency bench times it beside Norvane on the same machine, so
// the bench shows what the program adds to the cost of Wine, the port and the HTTP library.
//
//   keyrelay <reader> <url> <ready-event>
//     reader       "127.0.0.1:4001" (TCP) or "COM11"
//     url          the request's address up to the key number, e.g. "http://127.0.0.1:80/key?text="
//     ready-event  a named event set once the reader's line is open
//
// A line "<type>[<hex>] <n>,<number>" is sent as url + number; other lines are passed over.
// It ends when the reader's line closes. Exit code 0, or 2 for bad arguments, 3 for a reader
// that cannot be opened, 4 for an address the HTTP library refuses.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// What the program sends with every GET.
const wchar_t kUserAgent[] = L"Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:71.0) Gecko/20100101 Firefox/71.0";
const wchar_t kHeaders[] = L"Content-Type: application/x-www-form-urlencoded";

// One kept-open HTTP connection, as the program keeps one.
class CRelayHttp
{
public:
    ~CRelayHttp()
    {
        if (m_connection)
            InternetCloseHandle(m_connection);
        if (m_internet)
            InternetCloseHandle(m_internet);
    }

    bool Open(const std::wstring& url)
    {
        URL_COMPONENTSW parts = {};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = 1;
        parts.dwUrlPathLength = 1;
        if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) || !parts.lpszUrlPath)
            return false;
        const size_t pathStart = static_cast<size_t>(parts.lpszUrlPath - url.c_str());
        m_server = url.substr(0, pathStart);
        m_path = url.substr(pathStart);
        m_internet = InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!m_internet)
            return false;
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        m_connection = InternetConnectW(m_internet, host.c_str(), parts.nPort, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, INTERNET_FLAG_KEEP_CONNECTION, 1);
        return m_connection != nullptr;
    }

    void Get(const std::string& number)
    {
        const std::wstring path = m_path + std::wstring(number.begin(), number.end());
        const wchar_t* accept[] = {L"*/*", nullptr};
        HINTERNET request = HttpOpenRequestW(m_connection, L"GET", path.c_str(), nullptr, m_server.c_str(), accept,
                                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION, 1);
        if (!request)
            return;
        if (HttpSendRequestW(request, kHeaders, static_cast<DWORD>(wcslen(kHeaders)), nullptr, 0)) {
            DWORD status = 0, size = sizeof status;
            HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
            char body[512];
            DWORD read = 0;
            while (InternetReadFile(request, body, sizeof body, &read) && read)
                ;
        }
        InternetCloseHandle(request);
    }

private:
    HINTERNET m_internet = nullptr;
    HINTERNET m_connection = nullptr;
    std::wstring m_server;
    std::wstring m_path;
};

// The reader's line: a TCP connection or a COM port, read as the bytes come.
class CRelayLine
{
public:
    ~CRelayLine()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
        if (m_com != INVALID_HANDLE_VALUE)
            CloseHandle(m_com);
    }

    bool Open(const std::wstring& name)
    {
        const size_t colon = name.rfind(L':');
        if (colon == std::wstring::npos)
            return OpenCom(name);
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(_wtoi(name.c_str() + colon + 1)));
        if (InetPtonW(AF_INET, name.substr(0, colon).c_str(), &address.sin_addr) != 1)
            return false;
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        return m_socket != INVALID_SOCKET &&
               connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }

    // Waits for bytes and returns all that have come; 0 once the line is closed.
    size_t Read(char* buffer, size_t size)
    {
        if (m_socket != INVALID_SOCKET) {
            const int n = recv(m_socket, buffer, static_cast<int>(size), 0);
            return n > 0 ? static_cast<size_t>(n) : 0;
        }
        // Without time-outs a read waits for the one byte it asks; the rest is then waiting.
        DWORD n = 0;
        if (!ReadFile(m_com, buffer, 1, &n, nullptr) || n == 0)
            return 0;
        COMSTAT status = {};
        DWORD errors = 0;
        if (ClearCommError(m_com, &errors, &status) && status.cbInQue > 0) {
            DWORD more = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(status.cbInQue, size - 1));
            if (ReadFile(m_com, buffer + 1, want, &more, nullptr))
                n += more;
        }
        return n;
    }

private:
    bool OpenCom(const std::wstring& name)
    {
        m_com = CreateFileW((L"\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
        if (m_com == INVALID_HANDLE_VALUE)
            return false;
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        dcb.fBinary = TRUE;
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        COMMTIMEOUTS none = {};
        return SetCommState(m_com, &dcb) && SetCommTimeouts(m_com, &none);
    }

    SOCKET m_socket = INVALID_SOCKET;
    HANDLE m_com = INVALID_HANDLE_VALUE;
};

// The number after the last comma of a key line, or nothing.
std::string KeyNumber(const std::string& line)
{
    const size_t bracket = line.find("] ");
    const size_t comma = line.rfind(',');
    if (bracket == std::string::npos || comma == std::string::npos || comma < bracket || comma + 1 == line.size())
        return std::string();
    const std::string number = line.substr(comma + 1);
    return number.find_first_not_of("0123456789") == std::string::npos ? number : std::string();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: keyrelay <reader> <url> <ready-event>\n");
        return 2;
    }
    CRelayHttp http;
    if (!http.Open(argv[2])) {
        std::fprintf(stderr, "keyrelay: the address is refused (error %lu)\n", GetLastError());
        return 4;
    }
    CRelayLine line;
    if (!line.Open(argv[1])) {
        std::fprintf(stderr, "keyrelay: the reader cannot be opened (error %lu)\n", GetLastError());
        return 3;
    }
    if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3])) {
        SetEvent(ready);
        CloseHandle(ready);
    }

    std::string pending;
    char buffer[1024];
    while (const size_t n = line.Read(buffer, sizeof buffer)) {
        pending.append(buffer, n);
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string text = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
            const std::string number = KeyNumber(text);
            if (!number.empty())
                http.Get(number);
        }
    }
    return 0;
}
