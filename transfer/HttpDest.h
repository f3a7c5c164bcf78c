#pragma once
// The HTTP destination: a URL template with the rendered text, the reader's model and serial
// number is sent as a GET request and judged by the status code. The internet connection
// stays open between transfers while the server part of the URL stays the same. UI thread.
#include <windows.h>
#include <wininet.h>
#include <string>

#include "config/TransferRecords.h"
#include "core/Object.h"

extern const wchar_t kHttpUserAgent[];
// The extra request headers the application shell gives its client.
extern const wchar_t kHttpFormHeaders[];   // "Content-Type: application/x-www-form-urlencoded"

// One WinINet handle, closed with its holder.
class CInternetHandle
{
public:
    CInternetHandle() = default;
    ~CInternetHandle() { Close(); }
    CInternetHandle(const CInternetHandle&) = delete;
    CInternetHandle& operator=(const CInternetHandle&) = delete;

    HINTERNET Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void Attach(HINTERNET handle)
    {
        Close();
        m_handle = handle;
    }
    void Close()
    {
        if (m_handle != nullptr) {
            InternetCloseHandle(m_handle);
            m_handle = nullptr;
        }
    }

private:
    HINTERNET m_handle = nullptr;
};

class HttpClient : public CObject
{
public:
    explicit HttpClient(std::wstring headers = kHttpFormHeaders) : m_headers(std::move(headers)) {}
    // Closes the request, the connection and the internet handle, in that order.
    ~HttpClient() override { Close(); }
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // True when the client is (or already was) open; false with the Win32 error kept.
    bool Open(const wchar_t* userAgent, const std::wstring& host, INTERNET_PORT port, bool secure,
              const wchar_t* userName, const wchar_t* password);
    // Sends a GET request for the path (with its query); the previous request is closed
    // first. False with the Win32 error kept.
    bool SendGet(const std::wstring& path, const std::wstring& referrer);
    // Status code of the request last sent; 0 when there is none.
    DWORD QueryStatus() const;
    // 0 when the reply of the request last sent began with a status line and a header block;
    // else the Win32 error that says what was wrong with it: ERROR_HTTP_INVALID_SERVER_RESPONSE
    // for bytes without a status line, ERROR_INTERNET_CONNECTION_ABORTED for a connection
    // closed in the middle of the headers.
    DWORD CheckReplyHead() const;
    // The "Location" of the reply last received; empty when it has none.
    std::wstring QueryLocation() const;
    // Reads the response body and throws it away, so that the connection can carry the next
    // request. A body beyond 1 MB, or one that takes longer than the time-out, is left. False
    // when the connection ended before the body its header announced.
    bool DiscardBody();
    void Close();

    bool IsOpen() const { return static_cast<bool>(m_connection); }
    const std::wstring& GetHeaders() const { return m_headers; }
    DWORD GetLastError() const { return m_lastError; }
    HINTERNET GetConnectionHandle() const { return m_connection.Get(); }
    // The request last sent; it stays open until the next one.
    HINTERNET GetRequestHandle() const { return m_request.Get(); }
    // Number of times the client was opened (a reopen counts again).
    int GetOpenCount() const { return m_openCount; }

    // The URL part from its start up to its path of the server the client is open to.
    std::wstring serverKey;
    // Connect, send and receive time-out, so that a dead server cannot hold the caller long.
    DWORD timeoutMs = 10000;

private:
    CInternetHandle m_internet;
    CInternetHandle m_connection;
    CInternetHandle m_request;
    std::wstring m_headers;
    DWORD m_lastError = 0;
    bool m_secure = false;
    int m_openCount = 0;
};

// What the URL macros take of the current reader; the caller reads it under the reader's lock.
struct ReaderIdentity
{
    std::wstring modelName;   // empty: unknown
    int serialNumber = -1;    // -1 none
};

// Letters and digits stay, a blank becomes "+", everything else "%XX" of its UTF-8 bytes.
// length -1: up to the terminating zero.
void UrlEncode(const wchar_t* text, int length, std::wstring& out);

// The URL of a template: "%keynum%" the text (encoded), "%readermodel%" the reader's model
// name (encoded), "%readersn%" its serial number, "%%" one percent sign, other macros and an
// unclosed one at the end nothing. Macro names are compared without regard to case.
void ExpandUrlTemplate(const std::wstring& templ, const wchar_t* text, int length, const ReaderIdentity* reader,
                       std::wstring& url);

// Sends the request of the HTTP destination. status gets the HTTP status (0 first);
// destinationText the URL the text went to on success: the expanded one, or where its one
// redirect (on the same scheme) led. 0, E_INVALIDARG for an empty address, the Win32 error as
// a result code, or KV_E_HTTP_SERVER for a status other than 200. A failed request closes the
// client, so the next one starts on a new connection.
HRESULT SendHttpRequest(HttpClient& client, const _TRANS_DST_HTTPREQUEST& destination, const wchar_t* text,
                        int length, const ReaderIdentity* reader, std::wstring& destinationText, int& status);

// The text of one of the internet library's own errors (12000-12999) from its message table;
// false when it has none.
bool GetInternetErrorText(DWORD code, std::wstring& text);

// The error text of a status other than 200: the message-table text of KV_E_HTTP_SERVER
// followed by " Code: %d." with the status ("Error http server. Code: 404.").
std::wstring HttpServerErrorText(int status);
