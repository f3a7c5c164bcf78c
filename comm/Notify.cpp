#include "comm/Notify.h"

#include <ctime>
#include "core/Exceptions.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"

CTNMsg::CTNMsg(int type) : m_type(type), m_time(static_cast<int64_t>(_time64(nullptr))) {}

CRdKeyMsg::CRdKeyMsg(int keyType, const _KEY_NUMBER& keyNumber, DWORD extra)
    : CTNMsg(RDMSG_KEY), m_keyType(keyType), m_keyNumber(keyNumber), m_extra(extra)
{
}

std::wstring GetResultCodeText(HRESULT code)
{
    std::wstring text;
    if (!GetSystemMessageText(text, GetResourceModule(), static_cast<DWORD>(code)) || text.empty()) {
        text.clear();
        GetSystemMessageText(text, GetProgramModule(), static_cast<DWORD>(code));
    }
    return text;
}

CRdErrorMsg::CRdErrorMsg(HRESULT code, const wchar_t* text)
    : CTNMsg(RDMSG_ERROR), m_code(code), m_text(text ? std::wstring(text) : GetResultCodeText(code))
{
}

bool CTNMsgQueue::Pop(std::unique_ptr<CTNMsg>& msg)
{
    if (m_items.empty())
        return false;
    msg = std::move(m_items.front());
    m_items.pop_front();
    return true;
}

void CTNMsgChannel::Log(const wchar_t* text)
{
    if (m_log)
        m_log(text);
}

void CTNMsgChannel::Push(std::unique_ptr<CTNMsg> msg, const wchar_t* logLine)
{
    CCriticalSectionLock lock(&m_lock);
    m_queue.Push(std::move(msg));
    // A missing window drops the post, never the notification.
    if (HWND window = m_window ? m_window() : nullptr)
        PostMessageW(window, m_message, 0, 0);
    lock.Unlock();
    if (logLine)
        Log(logLine);
}

void CTNMsgChannel::PushKeyNotification(int keyType, const _KEY_NUMBER& keyNumber, DWORD extra)
{
    Push(std::make_unique<CRdKeyMsg>(keyType, keyNumber, extra), L"add key notification");
}

void CTNMsgChannel::PushConnectNotification()
{
    Push(std::make_unique<CTNMsg>(RDMSG_CONNECT), L"add connect notification");
}

void CTNMsgChannel::PushDisconnectNotification()
{
    Push(std::make_unique<CTNMsg>(RDMSG_DISCONNECT), L"add disconnect notification");
}

void CTNMsgChannel::PushErrorNotification(HRESULT code, const wchar_t* text)
{
    Push(std::make_unique<CRdErrorMsg>(code, text), L"add error notification");
}

bool CTNMsgChannel::PopNotification(std::unique_ptr<CTNMsg>& msg)
{
    CCriticalSectionLock lock(&m_lock);
    if (!m_queue.Pop(msg))
        return false;
    bool emptied = m_queue.Empty();
    lock.Unlock();
    if (emptied)
        Log(L"notification queue is empty");
    return true;
}

void CTNMsgChannel::DiscardAll()
{
    CTNMsgQueue old;
    {
        CCriticalSectionLock lock(&m_lock);
        m_queue.Swap(old);
    }
    // Deleted outside the lock.
}
