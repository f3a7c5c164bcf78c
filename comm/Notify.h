#pragma once
// Notifications from a worker thread to the UI thread. The worker pushes them into a queue
// under its own critical section and posts a private message to the main window after each
// push; the UI thread drains the queue on that message.
#include <windows.h>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include "config/KeyNumber.h"
#include "framework/PrivateMessages.h"  // the messages that announce a push

// Types of the reader's notifications.
constexpr int RDMSG_KEY = 1;
constexpr int RDMSG_ERROR = 2;
constexpr int RDMSG_CONNECT = 3;
constexpr int RDMSG_DISCONNECT = 4;

class CTNMsg
{
public:
    explicit CTNMsg(int type);
    virtual ~CTNMsg() = default;

    int m_type;       // meaning fixed per queue
    int64_t m_time;   // seconds since 1970-01-01 UTC, taken at construction
};

// A key was presented.
class CRdKeyMsg : public CTNMsg
{
public:
    CRdKeyMsg(int keyType, const _KEY_NUMBER& keyNumber, DWORD extra);

    int m_keyType;
    _KEY_NUMBER m_keyNumber;
    DWORD m_extra;  // attribute word the protocol reported with the key, 0 when none
};

// An error of the reader thread.
class CRdErrorMsg : public CTNMsg
{
public:
    // Without a text: the code's message-table text (resource module, then the program).
    CRdErrorMsg(HRESULT code, const wchar_t* text = nullptr);

    HRESULT m_code;
    std::wstring m_text;
};

// Message-table text of a code, resource module first; empty when neither has it.
std::wstring GetResultCodeText(HRESULT code);

// First in, first out; owns every notification until a pop hands it on. No lock of its own:
// the owning worker's critical section guards every access.
class CTNMsgQueue
{
public:
    void Push(std::unique_ptr<CTNMsg> msg) { m_items.push_back(std::move(msg)); }
    // Moves the oldest into msg (deleting what msg held); false when empty.
    bool Pop(std::unique_ptr<CTNMsg>& msg);
    void Swap(CTNMsgQueue& other) { m_items.swap(other.m_items); }
    void Clear() { m_items.clear(); }
    bool Empty() const { return m_items.empty(); }
    size_t Size() const { return m_items.size(); }

private:
    std::deque<std::unique_ptr<CTNMsg>> m_items;
};

// A worker's side of its queue: push with a post, pop for the UI thread, each under the
// worker's critical section. The worker tells it where to post (the main window, which may
// not exist yet) and how to write its information log lines.
class CTNMsgChannel
{
public:
    using WindowSource = std::function<HWND()>;
    using LogSink = std::function<void(const wchar_t* text)>;

    CTNMsgChannel(CRITICAL_SECTION& lock, UINT message) : m_lock(lock), m_message(message) {}
    CTNMsgChannel(const CTNMsgChannel&) = delete;
    CTNMsgChannel& operator=(const CTNMsgChannel&) = delete;

    void SetWindowSource(WindowSource source) { m_window = std::move(source); }
    // Receives the information lines ("add key notification", ...) from whichever thread
    // pushes or pops; it applies the log's own filter (enabled, level above 4).
    void SetLogSink(LogSink sink) { m_log = std::move(sink); }

    void PushKeyNotification(int keyType, const _KEY_NUMBER& keyNumber, DWORD extra);
    void PushConnectNotification();
    void PushDisconnectNotification();
    void PushErrorNotification(HRESULT code, const wchar_t* text = nullptr);
    // Any notification of the worker's own kinds (the bridge link has its own).
    void Push(std::unique_ptr<CTNMsg> msg, const wchar_t* logLine);

    bool PopNotification(std::unique_ptr<CTNMsg>& msg);
    // Drops every queued notification at once (a reconfigured worker).
    void DiscardAll();

    // For callers that already hold the lock.
    CTNMsgQueue& Queue() { return m_queue; }

private:
    void Log(const wchar_t* text);

    CRITICAL_SECTION& m_lock;
    UINT m_message;
    WindowSource m_window;
    LogSink m_log;
    CTNMsgQueue m_queue;
};
