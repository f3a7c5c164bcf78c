#include "comm/Port.h"

#include "core/Exceptions.h"
#include "core/TextUtil.h"

HRESULT STDMETHODCALLTYPE CKvPort::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CKvPort::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG STDMETHODCALLTYPE CKvPort::Release()
{
    LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT CKvPort::Init(const wchar_t* name, HANDLE cancel, HANDLE writeDone, HANDLE readDone, HANDLE commEvent)
{
    m_name = name ? name : L"";
    m_cancel = cancel;
    m_writeDone = writeDone;
    m_readDone = readDone;
    m_commEvent = commEvent;
    return S_OK;
}

HRESULT CKvPort::GetName(std::wstring& name)
{
    name = m_name;
    return S_OK;
}

HRESULT CKvPort::SetParams(DWORD speed, BYTE stopBits, BYTE eventChar)
{
    m_speed = speed;
    m_stopBits = stopBits;
    m_eventChar = eventChar;
    return S_OK;
}

HRESULT CKvPort::GetParams(DWORD* speed, BYTE* stopBits, BYTE* eventChar)
{
    if (speed)
        *speed = m_speed;
    if (stopBits)
        *stopBits = m_stopBits;
    if (eventChar)
        *eventChar = m_eventChar;
    return S_OK;
}

DWORD CKvPort::RemainingWait(DWORD start, DWORD timeout, bool sliced) const
{
    DWORD elapsed = TicksSince(start);
    DWORD rest = elapsed >= timeout ? 0 : timeout - elapsed;
    if (sliced && m_waitSlice < rest)
        rest = m_waitSlice;
    return rest;
}

HRESULT PortResultFromWin32(DWORD error)
{
    if (error == ERROR_OPERATION_ABORTED)
        return KV_E_PORT_DISCONNECTED;
    if (error == 0)
        return E_FAIL;
    if (static_cast<LONG>(error) < 0)
        return static_cast<HRESULT>(error);
    return HRESULT_FROM_WIN32(error);
}

HRESULT PortResultFromSocketError(int error)
{
    if (error == WSAECONNABORTED || error == WSAECONNRESET)
        return KV_E_PORT_DISCONNECTED;
    if (error == 0)
        return E_FAIL;
    if (error < 0)
        return static_cast<HRESULT>(error);
    return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
}

CKvPortException::CKvPortException(HRESULT code, const wchar_t* text) : m_code(code)
{
    if (text)
        m_text = text;
    std::wstring message;
    if (!GetSystemMessageText(message, GetResourceModule(), static_cast<DWORD>(code)) &&
        GetResourceModule() != GetProgramModule())
        GetSystemMessageText(message, GetProgramModule(), static_cast<DWORD>(code));
    m_message = WStringToMultiByte(message, CP_ACP);
}

void ThrowPortError(HRESULT code, const wchar_t* text)
{
    throw CKvPortException(code, text);
}
