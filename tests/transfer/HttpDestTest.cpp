#include "framework/Socket.h"
#include "transfer/HttpDest.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/ResultCodes.h"
#include "transfer/TransferDispatch.h"

namespace {

// A loopback HTTP/1.1 server on its own thread. It records each request head and answers
// by path: a scripted path with its bytes as they stand, "/404..." with 404, "/hang..."
// never, "/slow..." only when the next request has come (with a 500, on its own connection),
// "/big..." with a 200 KB body, anything else with 200 and a short body. Connections are kept
// open unless a script closes them.
class CTestHttpServer
{
public:
    CTestHttpServer()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_listen.Attach(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listen.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listen.Get(), 8);
        int size = sizeof address;
        getsockname(m_listen.Get(), reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_stop = WSACreateEvent();
        m_listenEvent = WSACreateEvent();
        WSAEventSelect(m_listen.Get(), m_listenEvent, FD_ACCEPT);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CTestHttpServer()
    {
        WSASetEvent(m_stop);
        m_thread.join();
        m_connections.clear();
        WSACloseEvent(m_listenEvent);
        WSACloseEvent(m_stop);
        m_listen.Close();
        WSACleanup();
    }

    int Port() const { return m_port; }
    std::vector<std::string> Heads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_heads;
    }
    std::vector<std::string> RequestLines()
    {
        std::vector<std::string> lines;
        for (const std::string& head : Heads())
            lines.push_back(head.substr(0, head.find("\r\n")));
        return lines;
    }
    int Accepted()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_accepted;
    }
    // The reply to a path (whatever its query); the connection is closed after it when asked.
    void Script(const std::string& path, const std::string& reply, bool close)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_scripts[path] = {reply, close};
    }

private:
    struct Connection
    {
        CSocket socket;
        WSAEVENT event = WSACreateEvent();
        std::string in;
        std::string out;
        bool closeAfter = false;
        ~Connection() { WSACloseEvent(event); }
    };
    struct Scripted
    {
        std::string reply;
        bool close = false;
    };

    void Serve()
    {
        for (;;) {
            std::vector<WSAEVENT> events = {m_stop, m_listenEvent};
            for (auto& c : m_connections)
                events.push_back(c->event);
            const DWORD r = WSAWaitForMultipleEvents(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                                     WSA_INFINITE, FALSE);
            const DWORD i = r - WSA_WAIT_EVENT_0;
            if (i == 0 || i >= events.size())
                return;
            if (i == 1) {
                WSANETWORKEVENTS ne;
                WSAEnumNetworkEvents(m_listen.Get(), m_listenEvent, &ne);
                SOCKET s = accept(m_listen.Get(), nullptr, nullptr);
                if (s != INVALID_SOCKET) {
                    auto c = std::make_unique<Connection>();
                    c->socket.Attach(s);
                    WSAEventSelect(s, c->event, FD_READ | FD_WRITE | FD_CLOSE);
                    m_connections.push_back(std::move(c));
                    std::lock_guard<std::mutex> lock(m_mutex);
                    ++m_accepted;
                }
                continue;
            }
            Connection& c = *m_connections[i - 2];
            WSANETWORKEVENTS ne;
            WSAEnumNetworkEvents(c.socket.Get(), c.event, &ne);
            char buffer[4096];
            int n;
            while ((n = recv(c.socket.Get(), buffer, sizeof buffer, 0)) > 0)
                c.in.append(buffer, n);
            for (size_t end; (end = c.in.find("\r\n\r\n")) != std::string::npos;) {
                const std::string head = c.in.substr(0, end + 4);
                c.in.erase(0, end + 4);
                Answer(c, head);
            }
            Flush(c);
            if ((ne.lNetworkEvents & FD_CLOSE) != 0 || n == 0 || (c.closeAfter && c.out.empty())) {
                if (m_late == &c)
                    m_late = nullptr;
                m_connections.erase(m_connections.begin() + (i - 2));
            }
        }
    }

    void Answer(Connection& c, const std::string& head)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_heads.push_back(head);
        }
        const size_t start = head.find(' ') + 1;
        const std::string path = head.substr(start, head.find(' ', start) - start);
        if (m_late != nullptr) {
            // The answer the client gave up waiting for comes now, before the next one.
            m_late->out += "HTTP/1.1 500 Late\r\nContent-Length: 0\r\n\r\n";
            Flush(*m_late);
            m_late = nullptr;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto script = m_scripts.find(path.substr(0, path.find('?')));
            if (script != m_scripts.end()) {
                c.out += script->second.reply;
                c.closeAfter = script->second.close;
                return;
            }
        }
        if (path.rfind("/slow", 0) == 0) {
            m_late = &c;
            return;
        }
        if (path.rfind("/hang", 0) == 0)
            return;
        const bool missing = path.rfind("/404", 0) == 0;
        const std::string body = path.rfind("/big", 0) == 0 ? std::string(200 * 1024, 'b') : "ok";
        c.out += std::string(missing ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
                 "\r\nContent-Type: text/plain\r\nConnection: keep-alive\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    void Flush(Connection& c)
    {
        while (!c.out.empty()) {
            const int sent = send(c.socket.Get(), c.out.data(), static_cast<int>(c.out.size()), 0);
            if (sent <= 0)
                return;   // would block: FD_WRITE brings the rest
            c.out.erase(0, sent);
        }
    }

    CSocket m_listen;
    int m_port = 0;
    WSAEVENT m_stop;
    WSAEVENT m_listenEvent;
    std::thread m_thread;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::mutex m_mutex;
    std::vector<std::string> m_heads;
    int m_accepted = 0;
    std::map<std::string, Scripted> m_scripts;
    Connection* m_late = nullptr;   // a "/slow" request not yet answered
};

std::wstring Url(int port, const std::wstring& rest)
{
    return L"http://127.0.0.1:" + std::to_wstring(port) + rest;
}

_TRANS_DST_HTTPREQUEST Address(const std::wstring& url)
{
    _TRANS_DST_HTTPREQUEST d;
    d.address = url;
    return d;
}

std::string HeaderValue(const std::string& head, const std::string& name)
{
    const size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const size_t start = at + 4 + name.size();
    return head.substr(start, head.find("\r\n", start) - start);
}

TEST(UrlEncode, LettersDigitsBlanksAndUtf8Bytes)
{
    const struct {
        const wchar_t* text;
        int length;
        const wchar_t* expected;
    } cases[] = {
        {L"aZ09", -1, L"aZ09"},
        {L"A B/1", -1, L"A+B%2F1"},
        {L"-._~%&=+?#", -1, L"%2D%2E%5F%7E%25%26%3D%2B%3F%23"},
        {L"\u00E9", -1, L"%C3%A9"},
        {L"\u0416", -1, L"%D0%96"},
        {L"\u20AC", -1, L"%E2%82%AC"},
        {L"\U0001F600", -1, L"%F0%9F%98%80"},
        {L"\xD800x", -1, L"%EF%BF%BDx"},
        {L"\xDC00", -1, L"%EF%BF%BD"},
        {L"abc", 2, L"ab"},
        {L"a\0b", 3, L"a%00b"},
        {L"", -1, L""},
        {L"\t\r\n", -1, L"%09%0D%0A"},
    };
    for (const auto& c : cases) {
        std::wstring out = L"stale";
        UrlEncode(c.text, c.length, out);
        EXPECT_EQ(out, c.expected) << c.expected;
    }
}

TEST(UrlTemplate, MacrosExpandAsTheyAreNamed)
{
    const ReaderIdentity reader{L"Vell-4 USB MF", 12345};
    const ReaderIdentity unknownReader{L"", -1};
    const struct {
        const wchar_t* templ;
        const ReaderIdentity* reader;
        const wchar_t* expected;
    } cases[] = {
        {L"http://h:8080/add?k=%keynum%&m=%readermodel%&sn=%readersn%", nullptr, L"http://h:8080/add?k=A+B%2F1&m=&sn="},
        {L"http://h/add?k=%KeyNum%&m=%ReaderModel%&sn=%READERSN%", &reader,
         L"http://h/add?k=A+B%2F1&m=Vell%2D4+USB+MF&sn=12345"},
        {L"http://h/?m=%readermodel%&sn=%readersn%", &unknownReader, L"http://h/?m=&sn="},
        {L"http://h/100%%", nullptr, L"http://h/100%"},
        {L"http://h/%foo%x", nullptr, L"http://h/x"},
        {L"http://h/a%key", nullptr, L"http://h/a"},
        {L"%keynum%%%", nullptr, L"A+B%2F1%"},
    };
    for (const auto& c : cases) {
        std::wstring url;
        ExpandUrlTemplate(c.templ, L"A B/1", -1, c.reader, url);
        EXPECT_EQ(url, c.expected) << c.templ;
    }
}

class HttpDestTest : public ::testing::Test {
protected:
    HRESULT Send(const std::wstring& url, const wchar_t* text = L"1")
    {
        destination.clear();
        return SendHttpRequest(client, Address(url), text, -1, nullptr, destination, status);
    }

    CTestHttpServer server;
    HttpClient client;
    std::wstring destination;
    int status = -1;
};

TEST_F(HttpDestTest, RequestCarriesTheExpandedUrl)
{
    const std::wstring url = Url(server.Port(), L"/add?k=%keynum%&m=%readermodel%&sn=%readersn%");
    EXPECT_EQ(Send(url, L"A B/1"), S_OK);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(destination, Url(server.Port(), L"/add?k=A+B%2F1&m=&sn="));
    const std::vector<std::string> heads = server.Heads();
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(server.RequestLines()[0], "GET /add?k=A+B%2F1&m=&sn= HTTP/1.1");
    EXPECT_EQ(HeaderValue(heads[0], "User-Agent"),
              "Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:71.0) Gecko/20100101 Firefox/71.0");
    EXPECT_EQ(HeaderValue(heads[0], "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(HeaderValue(heads[0], "Referer"), "http://127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(client.serverKey, Url(server.Port(), L""));
}

TEST_F(HttpDestTest, SameServerReusesTheConnectionAnotherReopensIt)
{
    EXPECT_EQ(Send(Url(server.Port(), L"/a?k=%keynum%"), L"1"), S_OK);
    const HINTERNET first = client.GetConnectionHandle();
    EXPECT_EQ(Send(Url(server.Port(), L"/b?other=%keynum%"), L"2"), S_OK);
    EXPECT_EQ(client.GetConnectionHandle(), first);
    EXPECT_EQ(client.GetOpenCount(), 1);
    EXPECT_EQ(server.Accepted(), 1);   // the body was read, so one socket carried both

    CTestHttpServer other;
    EXPECT_EQ(Send(Url(other.Port(), L"/c"), L"3"), S_OK);
    EXPECT_EQ(client.GetOpenCount(), 2);
    EXPECT_EQ(client.serverKey, Url(other.Port(), L""));
    EXPECT_EQ(other.RequestLines(), std::vector<std::string>{"GET /c HTTP/1.1"});
    EXPECT_EQ(Send(Url(server.Port(), L"/d"), L"4"), S_OK);
    EXPECT_EQ(client.GetOpenCount(), 3);
    EXPECT_EQ(server.RequestLines(), (std::vector<std::string>{"GET /a?k=1 HTTP/1.1", "GET /b?other=2 HTTP/1.1",
                                                               "GET /d HTTP/1.1"}));
}

// What is left of the response body on the client's open request.
DWORD UnreadBody(HttpClient& client)
{
    DWORD total = 0;
    char buffer[4096];
    for (DWORD read = 0; InternetReadFile(client.GetRequestHandle(), buffer, sizeof buffer, &read) && read > 0;)
        total += read;
    return total;
}

TEST_F(HttpDestTest, LargeBodyIsReadAndTheConnectionKept)
{
    EXPECT_EQ(Send(Url(server.Port(), L"/big")), S_OK);
    ASSERT_NE(client.GetRequestHandle(), nullptr);
    EXPECT_EQ(UnreadBody(client), 0u);
    EXPECT_EQ(Send(Url(server.Port(), L"/small")), S_OK);
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_EQ(server.RequestLines().size(), 2u);
}

TEST_F(HttpDestTest, StatusOtherThan200IsAServerError)
{
    EXPECT_EQ(Send(Url(server.Port(), L"/404?k=%keynum%")), KV_E_HTTP_SERVER);
    EXPECT_EQ(status, 404);
    EXPECT_EQ(HttpServerErrorText(status), L"Error http server. Code: 404.");
    EXPECT_EQ(UnreadBody(client), 0u);
    // The same connection then carries a good request.
    EXPECT_EQ(Send(Url(server.Port(), L"/ok")), S_OK);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(client.GetOpenCount(), 1);
}

TEST_F(HttpDestTest, BadAddressesFailWithTheirCodes)
{
    EXPECT_EQ(Send(L""), E_INVALIDARG);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(client.IsOpen());

    HRESULT hr = Send(L"no url at all");
    EXPECT_EQ(static_cast<uint32_t>(hr) & 0xFFFF0000u, 0x80070000u) << std::hex << hr;
    EXPECT_EQ(status, 0);

    // A port that nobody listens on.
    int closedPort;
    {
        CTestHttpServer gone;
        closedPort = gone.Port();
    }
    hr = Send(Url(closedPort, L"/x"));
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070000u | ERROR_INTERNET_CANNOT_CONNECT)) << std::hex << hr;
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(destination.empty());
}

TEST_F(HttpDestTest, SilentServerIsGivenUpAfterTheTimeout)
{
    client.timeoutMs = 500;
    const ULONGLONG start = GetTickCount64();
    const HRESULT hr = Send(Url(server.Port(), L"/hang"));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(static_cast<uint32_t>(hr) & 0xFFFF0000u, 0x80070000u) << std::hex << hr;
    EXPECT_EQ(status, 0);
    EXPECT_LT(took, 8000u);
    EXPECT_EQ(server.RequestLines(), std::vector<std::string>{"GET /hang HTTP/1.1"});
    // The client still serves the next request.
    EXPECT_EQ(Send(Url(server.Port(), L"/ok")), S_OK);
}

// ---- Hostile servers ----

HRESULT FromWin32(DWORD error)
{
    return static_cast<HRESULT>(0x80070000u | error);
}

TEST_F(HttpDestTest, RepliesThatAreNoHttpFailAndTheNextKeyStillArrives)
{
    static const char kJunk[] = "\x00\x01\x02garbage\xff\xfe no status line\n";
    const struct {
        const char* path;
        std::string reply;      // sent, then the connection is closed
        DWORD error;
    } cases[] = {
        {"/junk", std::string(kJunk, sizeof kJunk - 1), ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/cut-status", "HTTP/1.1 20", ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"/cut-field", "HTTP/1.1 200 OK\r\nContent-Le", ERROR_INTERNET_CONNECTION_ABORTED},
        {"/cut-before-end", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n", ERROR_INTERNET_CONNECTION_ABORTED},
        {"/cut-body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nok", ERROR_INTERNET_CONNECTION_ABORTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        server.Script(c.path, c.reply, true);
        EXPECT_EQ(Send(Url(server.Port(), std::wstring(c.path, c.path + strlen(c.path)))), FromWin32(c.error));
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(destination.empty());
        EXPECT_FALSE(client.IsOpen());
        EXPECT_FALSE(TransferErrorText(FromWin32(c.error), 0).empty());
        EXPECT_EQ(Send(Url(server.Port(), L"/ok")), S_OK);
        EXPECT_EQ(server.RequestLines().back(), "GET /ok HTTP/1.1");
    }
    // A cut reply says so in the library's own words.
    std::wstring aborted;
    ASSERT_TRUE(GetInternetErrorText(ERROR_INTERNET_CONNECTION_ABORTED, aborted));
    EXPECT_EQ(TransferErrorText(FromWin32(ERROR_INTERNET_CONNECTION_ABORTED), 0), aborted);
}

TEST_F(HttpDestTest, ARedirectIsFollowedOnceOnTheSameScheme)
{
    const std::string port = std::to_string(server.Port());
    auto moved = [](const std::string& location) {
        return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
    };
    server.Script("/moved", moved("/ok?from=moved"), false);
    server.Script("/loop", moved("/loop"), false);
    server.Script("/secure", moved("https://127.0.0.1:" + port + "/ok"), false);
    server.Script("/nowhere", "HTTP/1.1 307 Temporary Redirect\r\nContent-Length: 0\r\n\r\n", false);
    const struct {
        const wchar_t* path;
        HRESULT result;
        int status;
        const wchar_t* destination;
        std::vector<std::string> requests;
    } cases[] = {
        {L"/moved", S_OK, 200, L"/ok?from=moved", {"GET /moved HTTP/1.1", "GET /ok?from=moved HTTP/1.1"}},
        {L"/loop", KV_E_HTTP_SERVER, 302, L"", {"GET /loop HTTP/1.1", "GET /loop HTTP/1.1"}},
        {L"/secure", KV_E_HTTP_SERVER, 302, L"", {"GET /secure HTTP/1.1"}},
        {L"/nowhere", KV_E_HTTP_SERVER, 307, L"", {"GET /nowhere HTTP/1.1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
        const size_t before = server.RequestLines().size();
        EXPECT_EQ(Send(Url(server.Port(), c.path)), c.result);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(destination, *c.destination ? Url(server.Port(), c.destination) : L"");
        const std::vector<std::string> lines = server.RequestLines();
        EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
                  c.requests);
    }
    // The kept connection stayed with the configured server all along.
    EXPECT_EQ(client.GetOpenCount(), 1);
}

TEST_F(HttpDestTest, ARedirectToADeadPortFailsAndTheNextKeysStillArrive)
{
    int deadPort;
    {
        CTestHttpServer gone;
        deadPort = gone.Port();
    }
    server.Script("/moved", "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(deadPort) +
                                "/x\r\nContent-Length: 0\r\n\r\n", false);
    const HRESULT refused = FromWin32(ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_EQ(Send(Url(server.Port(), L"/moved?k=%keynum%"), L"1"), refused);
    std::wstring text;
    ASSERT_TRUE(GetInternetErrorText(ERROR_INTERNET_CANNOT_CONNECT, text));
    EXPECT_EQ(TransferErrorText(refused, 0), text);
    for (const wchar_t* key : {L"2", L"3", L"4"})
        EXPECT_EQ(Send(Url(server.Port(), L"/ok?k=%keynum%"), key), S_OK) << key;
    EXPECT_EQ(server.RequestLines(), (std::vector<std::string>{"GET /moved?k=1 HTTP/1.1", "GET /ok?k=2 HTTP/1.1",
                                                               "GET /ok?k=3 HTTP/1.1", "GET /ok?k=4 HTTP/1.1"}));
}

TEST_F(HttpDestTest, AReplyTooLateNeverAnswersTheNextKey)
{
    // The server answers the slow request (with a 500) only once the next one has come: on a
    // kept connection that answer would be taken for the next key's.
    client.timeoutMs = 500;
    const HRESULT hr = Send(Url(server.Port(), L"/slow"));
    // The library's own time-out error (Wine reports the connection as ended instead).
    EXPECT_TRUE(hr == FromWin32(ERROR_INTERNET_TIMEOUT) || hr == FromWin32(ERROR_INTERNET_CONNECTION_ABORTED))
        << std::hex << hr;
    std::wstring text;
    ASSERT_TRUE(GetInternetErrorText(HRESULT_CODE(hr), text));
    EXPECT_EQ(TransferErrorText(hr, 0), text);
    EXPECT_EQ(Send(Url(server.Port(), L"/ok")), S_OK);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(server.RequestLines(), (std::vector<std::string>{"GET /slow HTTP/1.1", "GET /ok HTTP/1.1"}));
}

TEST(HttpErrorTexts, TheLibrarysOwnErrorsHaveTheirTexts)
{
    for (DWORD code : {ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_CANNOT_CONNECT,
                       ERROR_INTERNET_CONNECTION_ABORTED, ERROR_HTTP_INVALID_SERVER_RESPONSE}) {
        const std::wstring text = TransferErrorText(FromWin32(code), 0);
        EXPECT_FALSE(text.empty()) << code;
        std::wstring own;
        if (GetInternetErrorText(code, own))
            EXPECT_EQ(text, own) << code;
        else
            EXPECT_EQ(text, L"System error. Code: " + std::to_wstring(code) + L".") << code;
    }
}

} // namespace
