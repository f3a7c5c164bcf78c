#include "transfer/HttpDest.h"

#include <cwctype>
#include <vector>

#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/TextUtil.h"

const wchar_t kHttpUserAgent[] = L"Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:71.0) Gecko/20100101 Firefox/71.0";
const wchar_t kHttpFormHeaders[] = L"Content-Type: application/x-www-form-urlencoded";

namespace {

constexpr DWORD kMaxDiscardedBody = 1024 * 1024;

HRESULT ResultFromWin32(DWORD error)
{
    return error == 0 ? E_FAIL : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

bool IsRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A header of the request's reply as text; empty when it has none.
std::wstring QueryText(HINTERNET request, DWORD level)
{
    std::wstring text(256, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (HttpQueryInfoW(request, level, text.data(), &size, nullptr)) {
            text.resize(size / sizeof(wchar_t));
            return text;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= text.size() * sizeof(wchar_t))
            return std::wstring();
        text.resize(size / sizeof(wchar_t) + 1);
    }
}

void SetTimeouts(HINTERNET handle, DWORD ms)
{
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionW(handle, option, &ms, sizeof ms);
}

bool IsAsciiAlnum(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

void AppendPercentByte(std::wstring& out, unsigned byte)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    out += L'%';
    out += digits[(byte >> 4) & 0xF];
    out += digits[byte & 0xF];
}

} // namespace

// ---- HttpClient ----

bool HttpClient::Open(const wchar_t* userAgent, const std::wstring& host, INTERNET_PORT port, bool secure,
                      const wchar_t* userName, const wchar_t* password)
{
    if (IsOpen())
        return true;
    m_internet.Attach(InternetOpenW(userAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!m_internet) {
        m_lastError = ::GetLastError();
        return false;
    }
    SetTimeouts(m_internet.Get(), timeoutMs);
    DWORD flags = INTERNET_FLAG_KEEP_CONNECTION;
    if (secure)
        flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
    m_connection.Attach(InternetConnectW(m_internet.Get(), host.c_str(), port, userName, password,
                                         INTERNET_SERVICE_HTTP, flags, 1));
    if (!m_connection) {
        m_lastError = ::GetLastError();
        Close();
        return false;
    }
    SetTimeouts(m_connection.Get(), timeoutMs);
    m_secure = secure;
    ++m_openCount;
    return true;
}

bool HttpClient::SendGet(const std::wstring& path, const std::wstring& referrer)
{
    m_request.Close();
    if (!IsOpen()) {
        m_lastError = ERROR_INVALID_HANDLE;
        return false;
    }
    const wchar_t* accept[] = {L"*/*", nullptr};
    // Redirects are the destination's to judge: the library would follow any number of them,
    // and after one to a dead server its connection handle keeps aiming there.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (m_secure)
        flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
    m_request.Attach(HttpOpenRequestW(m_connection.Get(), L"GET", path.empty() ? L"/" : path.c_str(), nullptr,
                                      referrer.empty() ? nullptr : referrer.c_str(), accept, flags, 1));
    if (!m_request) {
        m_lastError = ::GetLastError();
        return false;
    }
    SetTimeouts(m_request.Get(), timeoutMs);
    if (!HttpSendRequestW(m_request.Get(), m_headers.empty() ? nullptr : m_headers.c_str(),
                          static_cast<DWORD>(m_headers.size()), nullptr, 0)) {
        m_lastError = ::GetLastError();
        m_request.Close();
        return false;
    }
    return true;
}

DWORD HttpClient::QueryStatus() const
{
    if (!m_request)
        return 0;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(m_request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return 0;
    return status;
}

DWORD HttpClient::CheckReplyHead() const
{
    if (!m_request)
        return ERROR_INVALID_HANDLE;
    const DWORD status = QueryStatus();
    const std::wstring head = QueryText(m_request.Get(), HTTP_QUERY_RAW_HEADERS_CRLF);
    const size_t lineEnd = head.find(L"\r\n");
    if (status < 100 || status > 599 || head.compare(0, 5, L"HTTP/") != 0 || lineEnd == std::wstring::npos)
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    // The status line alone: no server meant that. The library makes "HTTP/1.0 200 OK" of
    // bytes that have no status line (it takes them for an HTTP/0.9 reply); any other line
    // came from the server, which closed the connection before its first header field.
    if (head.find_first_not_of(L"\r\n", lineEnd) == std::wstring::npos)
        return head.compare(0, lineEnd, L"HTTP/1.0 200 OK") == 0 ? ERROR_HTTP_INVALID_SERVER_RESPONSE
                                                                  : ERROR_INTERNET_CONNECTION_ABORTED;
    return 0;
}

std::wstring HttpClient::QueryLocation() const
{
    return m_request ? QueryText(m_request.Get(), HTTP_QUERY_LOCATION) : std::wstring();
}

bool HttpClient::DiscardBody()
{
    if (!m_request)
        return true;
    DWORD announced = 0;
    DWORD size = sizeof announced;
    const bool hasLength = HttpQueryInfoW(m_request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                          &announced, &size, nullptr) != FALSE;
    std::vector<char> buffer(8192);
    DWORD total = 0;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(m_request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read))
            return false;
        if (read == 0)
            return !hasLength || total >= announced;
        total += read;
        // A body without end (or a trickle) must not hold the UI thread: the connection is
        // given up instead, and the next request opens another.
        if (total > kMaxDiscardedBody || GetTickCount64() > deadline) {
            m_request.Close();
            return true;
        }
    }
}

void HttpClient::Close()
{
    m_request.Close();
    m_connection.Close();
    m_internet.Close();
}

// ---- URL ----

void UrlEncode(const wchar_t* text, int length, std::wstring& out)
{
    out.clear();
    if (text == nullptr)
        return;
    const size_t n = length < 0 ? wcslen(text) : static_cast<size_t>(length);
    for (size_t i = 0; i < n; ++i) {
        const wchar_t c = text[i];
        if (IsAsciiAlnum(c)) {
            out += c;
            continue;
        }
        if (c == L' ') {
            out += L'+';
            continue;
        }
        // UTF-8 of the code point; an unpaired surrogate stands for U+FFFD.
        uint32_t cp = c;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            AppendPercentByte(out, cp);
        } else if (cp < 0x800) {
            AppendPercentByte(out, 0xC0 | (cp >> 6));
            AppendPercentByte(out, 0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            AppendPercentByte(out, 0xE0 | (cp >> 12));
            AppendPercentByte(out, 0x80 | ((cp >> 6) & 0x3F));
            AppendPercentByte(out, 0x80 | (cp & 0x3F));
        } else {
            AppendPercentByte(out, 0xF0 | (cp >> 18));
            AppendPercentByte(out, 0x80 | ((cp >> 12) & 0x3F));
            AppendPercentByte(out, 0x80 | ((cp >> 6) & 0x3F));
            AppendPercentByte(out, 0x80 | (cp & 0x3F));
        }
    }
}

void ExpandUrlTemplate(const std::wstring& templ, const wchar_t* text, int length, const ReaderIdentity* reader,
                       std::wstring& url)
{
    url.clear();
    std::wstring encoded;
    size_t pos = 0;
    while (pos < templ.size()) {
        const size_t open = templ.find(L'%', pos);
        if (open == std::wstring::npos) {
            url.append(templ, pos, std::wstring::npos);
            break;
        }
        url.append(templ, pos, open - pos);
        const size_t close = templ.find(L'%', open + 1);
        if (close == std::wstring::npos)
            break;   // a macro still open at the end is dropped
        std::wstring name = templ.substr(open + 1, close - open - 1);
        for (wchar_t& c : name)
            c = static_cast<wchar_t>(std::towlower(c));
        if (name.empty()) {
            url += L'%';
        } else if (name == L"keynum") {
            UrlEncode(text, length, encoded);
            url += encoded;
        } else if (name == L"readermodel") {
            if (reader != nullptr && !reader->modelName.empty()) {
                UrlEncode(reader->modelName.c_str(), -1, encoded);
                url += encoded;
            }
        } else if (name == L"readersn") {
            if (reader != nullptr && reader->serialNumber >= 0)
                url += IntToWString(reader->serialNumber);
        }
        pos = close + 1;
    }
}

// ---- The destination ----

namespace {

// One GET of the URL on the client, reused while its server part stays the same. A request
// that failed leaves no connection behind: whatever state it left in the handles, the next
// key starts on a new one.
HRESULT RequestUrl(HttpClient& client, const std::wstring& url, int& status)
{
    status = 0;
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = 1;
    parts.dwHostNameLength = 1;
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return ResultFromWin32(GetLastError());
    // Pointers into url; the path (or, without one, the query) ends the server part.
    size_t pathStart = url.size();
    if (parts.lpszUrlPath != nullptr && parts.dwUrlPathLength > 0)
        pathStart = static_cast<size_t>(parts.lpszUrlPath - url.c_str());
    else if (parts.lpszExtraInfo != nullptr && parts.dwExtraInfoLength > 0)
        pathStart = static_cast<size_t>(parts.lpszExtraInfo - url.c_str());
    const std::wstring serverKey = url.substr(0, pathStart);
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    if (client.IsOpen() && client.serverKey != serverKey)
        client.Close();
    if (!client.IsOpen()) {
        client.serverKey = serverKey;
        const std::wstring host(parts.lpszHostName != nullptr ? parts.lpszHostName : L"", parts.dwHostNameLength);
        const bool hasUser = parts.lpszUserName != nullptr && parts.dwUserNameLength > 0;
        const std::wstring user = hasUser ? std::wstring(parts.lpszUserName, parts.dwUserNameLength) : std::wstring();
        const std::wstring password = hasUser && parts.lpszPassword != nullptr
                                          ? std::wstring(parts.lpszPassword, parts.dwPasswordLength)
                                          : std::wstring();
        if (!client.Open(kHttpUserAgent, host, parts.nPort, secure, hasUser ? user.c_str() : nullptr,
                         hasUser ? password.c_str() : nullptr))
            return ResultFromWin32(client.GetLastError());
    }

    if (!client.SendGet(url.substr(pathStart), serverKey)) {
        const DWORD error = client.GetLastError();
        client.Close();
        return ResultFromWin32(error);
    }
    DWORD error = client.CheckReplyHead();
    if (error == 0) {
        status = static_cast<int>(client.QueryStatus());
        if (!client.DiscardBody())
            error = ERROR_INTERNET_CONNECTION_ABORTED;
    }
    if (error != 0) {
        status = 0;
        client.Close();
        return ResultFromWin32(error);
    }
    return status == 200 ? S_OK : KV_E_HTTP_SERVER;
}

// Where a redirect leads, resolved against the URL that gave it; empty when it leads to
// another scheme or nowhere: a key meant for http:// is not handed to https:// unasked.
std::wstring RedirectTarget(const std::wstring& url, const std::wstring& location)
{
    if (location.empty())
        return std::wstring();
    std::wstring target(2048, L'\0');
    DWORD length = static_cast<DWORD>(target.size());
    if (!InternetCombineUrlW(url.c_str(), location.c_str(), target.data(), &length, ICU_NO_ENCODE))
        return std::wstring();
    target.resize(length);
    URL_COMPONENTSW from = {sizeof from};
    URL_COMPONENTSW to = {sizeof to};
    if (!InternetCrackUrlW(url.c_str(), 0, 0, &from) || !InternetCrackUrlW(target.c_str(), 0, 0, &to) ||
        from.nScheme != to.nScheme)
        return std::wstring();
    return target;
}

} // namespace

HRESULT SendHttpRequest(HttpClient& client, const _TRANS_DST_HTTPREQUEST& destination, const wchar_t* text,
                        int length, const ReaderIdentity* reader, std::wstring& destinationText, int& status)
{
    status = 0;
    if (destination.address.empty())
        return E_INVALIDARG;
    std::wstring url;
    ExpandUrlTemplate(destination.address, text, length, reader, url);

    HRESULT result = RequestUrl(client, url, status);
    if (result == KV_E_HTTP_SERVER && IsRedirect(status)) {
        // Followed once, on a connection of its own: the kept one stays with the configured
        // server. A second redirect is judged by its status like any other.
        const std::wstring target = RedirectTarget(url, client.QueryLocation());
        if (!target.empty()) {
            CAppContext* app = GetAppContext();
            if (app != nullptr && app->IsLogged(LOG_THRESHOLD_INFO))
                LogMessage(app, nullptr, LOG_INFO, L"HTTP redirect (%d): %s -> %s", status, url.c_str(),
                           target.c_str());
            HttpClient hop(client.GetHeaders());
            hop.timeoutMs = client.timeoutMs;
            result = RequestUrl(hop, target, status);
            url = target;
        }
    }
    if (SUCCEEDED(result))
        destinationText = url;
    return result;
}

bool GetInternetErrorText(DWORD code, std::wstring& text)
{
    HMODULE library = GetModuleHandleW(L"wininet.dll");
    return library != nullptr && code >= 12000 && code <= 12999 && GetSystemMessageText(text, library, code);
}

std::wstring HttpServerErrorText(int status)
{
    std::wstring text;
    GetSystemMessageText(text, GetResourceModule(), static_cast<DWORD>(KV_E_HTTP_SERVER));
    AppendFormatString(text, L" Code: %d.", status);
    return text;
}
