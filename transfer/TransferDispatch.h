#pragma once
// The core of a transfer: the key's format is found through the key filters, the key is
// rendered, and the text goes to the configured destination. What the program records of a
// transfer afterwards is the application shell's. UI thread only.
#include <winsock2.h>  // before windows.h: the bridge link's sockets come with the dispatcher
#include <windows.h>
#include <string>

struct _KEY_NUMBER;
class CTransferDoc;
class CPortavo;
class HttpClient;
struct ReaderIdentity;

// What the destinations need beside the transfer document.
struct TransferTargets
{
    HWND mainWindow = nullptr;              // the program's own window is never typed into
    CPortavo* bridge = nullptr;             // null: the bridge link does not run
    HttpClient* http = nullptr;             // null: a client for this one request
    const ReaderIdentity* reader = nullptr; // the current reader for the URL macros; null: none
};

// The texts of one transfer, for its records.
struct TransferTexts
{
    std::wstring formatName;   // display name ("[P] " before a preset's)
    std::wstring output;       // the rendered text; for the keyboard its logged form
    std::wstring destination;  // where the destination says the text went
    std::wstring error;        // the text of an exception; else empty
    int httpStatus = 0;
};

// Finds the format, renders and delivers. Never throws: an exception becomes E_FAIL with its
// text in texts.error.
HRESULT DeliverKey(const CTransferDoc& doc, int keyType, const _KEY_NUMBER& key, const TransferTargets& targets,
                   TransferTexts& texts);

// The error text of a failed transfer whose destination gave none: the message-table text
// of the code (the program's, the system's, or the internet library's for its own errors),
// with " Code: %d." of the HTTP status for an HTTP server error. Never empty: a code without
// a text is named by its number.
std::wstring TransferErrorText(HRESULT result, int httpStatus);
