#include "comm/ComPort.h"

#include <algorithm>

namespace {

constexpr DWORD kCancelWaitMs = 1000;
constexpr DWORD kCancelSliceMs = 1;

HRESULT LastPortError()
{
    return PortResultFromWin32(GetLastError());
}

}  // namespace

CKvComPort::CKvComPort() = default;

CKvComPort::~CKvComPort()
{
    Close();
}

HRESULT CKvComPort::Init(const wchar_t* name, HANDLE cancel, HANDLE writeDone, HANDLE readDone, HANDLE commEvent)
{
    CKvPort::Init(name, cancel, writeDone, readDone, commEvent);
    m_chunk.resize(kReadChunk);
    m_writeBuf.reserve(128);
    m_ovWrite.hEvent = writeDone;
    m_ovRead.hEvent = readDone;
    m_ovEvent.hEvent = commEvent;
    return S_OK;
}

HRESULT CKvComPort::Open(DWORD /*timeout*/)
{
    if (IsOpen())
        return S_OK;
    std::wstring path = L"\\\\.\\" + m_name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND)
            return KV_E_PORT_NOT_EXISTS;
        if (e == ERROR_ACCESS_DENIED)
            return KV_E_PORT_BUSY;
        return PortResultFromWin32(e);
    }
    m_handle = h;
    m_ioFlags = 0;
    m_eventArmed = false;
    // Nothing is outstanding yet: signals left from an earlier connection mean nothing.
    for (HANDLE e : {m_readDone, m_writeDone, m_commEvent})
        if (e)
            ResetEvent(e);

    HRESULT hr = Configure(m_speed, m_stopBits, m_eventChar, m_speed == 0);
    if (FAILED(hr)) {
        Close();
        return hr;
    }
    m_received.clear();
    m_writeQueue.clear();
    m_ioFlags = 0;
    return S_OK;
}

HRESULT CKvComPort::Configure(DWORD speed, BYTE stopBits, BYTE eventChar, bool keepDeviceSpeed)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (keepDeviceSpeed) {
        if (!GetCommState(m_handle, &dcb))
            return LastPortError();
        speed = dcb.BaudRate;
    }
    // A fresh block otherwise: no parity and every handshake off.
    dcb.fBinary = TRUE;
    dcb.BaudRate = speed;
    dcb.ByteSize = 8;
    dcb.StopBits = stopBits;
    dcb.EvtChar = static_cast<char>(eventChar);

    if (!SetupComm(m_handle, kInQueue, kOutQueue))
        return LastPortError();
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;  // a read returns at once with what is there
    if (!SetCommTimeouts(m_handle, &timeouts))
        return LastPortError();
    if (!SetCommState(m_handle, &dcb))
        return LastPortError();
    if (!SetCommMask(m_handle, eventChar ? EV_RXFLAG : EV_RXCHAR))
        return LastPortError();
    HRESULT hr = ArmCommEvent();
    if (FAILED(hr))
        return hr;
    m_speed = speed;
    return S_OK;
}

HRESULT CKvComPort::SetParams(DWORD speed, BYTE stopBits, BYTE eventChar)
{
    if (!IsOpen())
        return CKvPort::SetParams(speed, stopBits, eventChar);
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(m_handle, &dcb))
        return LastPortError();
    if (speed != 0)
        dcb.BaudRate = speed;
    dcb.StopBits = stopBits;
    dcb.EvtChar = static_cast<char>(eventChar);
    if (!SetCommState(m_handle, &dcb))
        return LastPortError();
    m_speed = dcb.BaudRate;
    m_stopBits = stopBits;
    m_eventChar = eventChar;
    // The outstanding comm wait still holds the old mask and its OVERLAPPED: let it go
    // before a new wait reuses the record.
    CancelAndWait(m_ovEvent);
    m_eventArmed = false;
    if (!SetCommMask(m_handle, eventChar ? EV_RXFLAG : EV_RXCHAR))
        return LastPortError();
    return ArmCommEvent();
}

HRESULT CKvComPort::ArmCommEvent()
{
    m_eventMask = 0;
    if (WaitCommEvent(m_handle, &m_eventMask, &m_ovEvent)) {
        m_eventArmed = true;
        // Completed at once: make sure the owner hears of it and re-arms.
        if (m_commEvent)
            SetEvent(m_commEvent);
        return S_OK;
    }
    DWORD e = GetLastError();
    if (e == ERROR_IO_PENDING) {
        m_eventArmed = true;
        return S_OK;
    }
    return PortResultFromWin32(e);
}

void CKvComPort::CancelAndWait(OVERLAPPED& ov)
{
    if (!IsOpen())
        return;
    bool outstanding = (&ov == &m_ovRead && (m_ioFlags & KV_IO_READ_PENDING)) ||
                       (&ov == &m_ovWrite && (m_ioFlags & KV_IO_WRITE_PENDING)) ||
                       (&ov == &m_ovEvent && m_eventArmed);
    if (!outstanding)
        return;
    CancelIoEx(m_handle, &ov);
    // The operation's own status tells when the system has let go: its event may be shared
    // with other ports (the reader search's are) or still set from an earlier completion, and
    // a record reused or freed while the system still holds it corrupts the heap. Wine now
    // and then never completes a cancelled comm wait: the wait is bounded, and closing the
    // handle ends what is still outstanding.
    const DWORD start = GetTickCount();
    while (ov.Internal == STATUS_PENDING && TicksSince(start) < kCancelWaitMs) {
        if (!ov.hEvent || WaitForSingleObject(ov.hEvent, kCancelSliceMs) != WAIT_TIMEOUT)
            Sleep(kCancelSliceMs);   // the event tells nothing of this operation
    }
    DWORD n = 0;
    GetOverlappedResult(m_handle, &ov, &n, FALSE);
}

HRESULT CKvComPort::Close()
{
    if (IsOpen()) {
        CancelAndWait(m_ovRead);
        CancelAndWait(m_ovWrite);
        CancelAndWait(m_ovEvent);
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
    m_eventArmed = false;
    m_ioFlags = 0;
    m_received.clear();
    m_writeQueue.clear();
    m_writeBuf.clear();
    return S_OK;
}

HRESULT CKvComPort::DeviceGone()
{
    COMSTAT stat = {};
    DWORD errors = 0;
    if (!ClearCommError(m_handle, &errors, &stat))
        return KV_E_PORT_DISCONNECTED;
    return S_OK;
}

HRESULT CKvComPort::GetBytesAvailable(int* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    if (!IsOpen())
        return S_OK;
    // An outstanding read may hold bytes the driver no longer counts: settle it first.
    std::vector<BYTE> none;
    HRESULT hr = SettleRead(none, 0, false);
    if (FAILED(hr))
        return hr;
    COMSTAT stat = {};
    DWORD errors = 0;
    if (!ClearCommError(m_handle, &errors, &stat))
        return LastPortError();
    *count = static_cast<int>(stat.cbInQue + m_received.size());
    return S_OK;
}

void CKvComPort::Append(const BYTE* bytes, DWORD count)
{
    count = std::min<DWORD>(count, static_cast<DWORD>(m_chunk.size()));
    m_received.insert(m_received.end(), bytes, bytes + count);
}

HRESULT CKvComPort::ReadBurst(size_t wanted)
{
    // A device that sends faster than it is read would otherwise keep the burst going for as
    // long as it sends: no more than the caller wants, or a chunk. What stays in the driver is
    // announced by the comm event or found by the owner's watch for missed input.
    const size_t bound = std::max<size_t>(wanted, kReadChunk);
    while (!(m_ioFlags & KV_IO_READ_PENDING) && m_received.size() < bound) {
        // Reset before each call, so that a read going pending signals afresh.
        if (m_readDone)
            ResetEvent(m_readDone);
        DWORD n = 0;
        if (ReadFile(m_handle, m_chunk.data(), kReadChunk, &n, &m_ovRead)) {
            if (n == 0)
                break;
            Append(m_chunk.data(), n);
            continue;
        }
        DWORD e = GetLastError();
        if (e == ERROR_IO_PENDING) {
            m_ioFlags |= KV_IO_READ_PENDING;
            return S_OK;
        }
        if (e == ERROR_HANDLE_EOF)
            break;
        return PortResultFromWin32(e);
    }
    // Only completed reads here: their signal would be a false wake for the owner.
    if (m_readDone)
        ResetEvent(m_readDone);
    return S_OK;
}

HRESULT CKvComPort::CompleteRead()
{
    if (!IsOpen() || !(m_ioFlags & KV_IO_READ_PENDING))
        return S_OK;
    DWORD n = 0;
    if (GetOverlappedResult(m_handle, &m_ovRead, &n, FALSE)) {
        m_ioFlags &= ~KV_IO_READ_PENDING;
        Append(m_chunk.data(), n);
        return S_OK;
    }
    DWORD e = GetLastError();
    if (e == ERROR_IO_INCOMPLETE)
        return S_OK;
    m_ioFlags &= ~KV_IO_READ_PENDING;
    return PortResultFromWin32(e);
}

HRESULT CKvComPort::SettleRead(std::vector<BYTE>& out, size_t target, bool readOn)
{
    if (!(m_ioFlags & KV_IO_READ_PENDING))
        return S_OK;
    // Some drivers (Wine's) keep a read outstanding even with the interval time-out, and
    // bytes already in the driver may still be on their way into it: settle it, so that a
    // read whose time is up gets what has arrived.
    CancelAndWait(m_ovRead);
    m_ioFlags &= ~KV_IO_READ_PENDING;
    if (m_readDone)
        ResetEvent(m_readDone);
    DWORD n = 0;
    if (GetOverlappedResult(m_handle, &m_ovRead, &n, FALSE))
        Append(m_chunk.data(), n);
    else if (GetLastError() != ERROR_OPERATION_ABORTED)
        return LastPortError();
    if (!readOn)
        return S_OK;
    HRESULT hr = ReadBurst(target - out.size());
    if (FAILED(hr))
        return hr;
    size_t move = std::min(target - out.size(), m_received.size());
    out.insert(out.end(), m_received.begin(), m_received.begin() + move);
    m_received.erase(m_received.begin(), m_received.begin() + move);
    return S_OK;
}

HRESULT CKvComPort::CompleteEvent()
{
    if (!IsOpen())
        return S_OK;
    if (!m_eventArmed)
        return ArmCommEvent();
    DWORD n = 0;
    if (GetOverlappedResult(m_handle, &m_ovEvent, &n, FALSE)) {
        m_eventArmed = false;
        return ArmCommEvent();
    }
    DWORD e = GetLastError();
    if (e == ERROR_IO_INCOMPLETE)
        return S_OK;
    m_eventArmed = false;
    if (e == ERROR_OPERATION_ABORTED) {
        // A comm wait also ends this way when its mask changes, and under Wine every few
        // milliseconds: only a device that no longer answers is gone.
        HRESULT hr = DeviceGone();
        if (FAILED(hr))
            return hr;
        return ArmCommEvent();
    }
    return PortResultFromWin32(e);
}

HRESULT CKvComPort::CheckMissedInput(bool* arrived)
{
    *arrived = false;
    if (!IsOpen())
        return S_OK;
    COMSTAT stat = {};
    DWORD errors = 0;
    if (!ClearCommError(m_handle, &errors, &stat))
        return LastPortError();
    if (stat.cbInQue == 0 && m_received.empty())
        return S_OK;
    // Wine's serial driver now and then never completes a pending read while bytes keep
    // arriving, and its comm wait falls silent with it: take the read back, so that the owner's
    // next read gets the bytes and the driver signals again.
    *arrived = true;
    if (m_ioFlags & KV_IO_READ_PENDING) {
        CancelAndWait(m_ovRead);
        m_ioFlags &= ~KV_IO_READ_PENDING;
        DWORD n = 0;
        if (GetOverlappedResult(m_handle, &m_ovRead, &n, FALSE))
            Append(m_chunk.data(), n);
        if (m_readDone)
            ResetEvent(m_readDone);
    }
    return S_OK;
}

HRESULT CKvComPort::Read(std::vector<BYTE>& out, size_t count, DWORD timeout)
{
    if (!IsOpen())
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    const size_t target = out.size() + count;
    HRESULT hr = CompleteRead();
    if (FAILED(hr))
        return hr;
    const DWORD start = GetTickCount();
    for (;;) {
        if (!(m_ioFlags & KV_IO_READ_PENDING)) {
            hr = ReadBurst(target - out.size());
            if (FAILED(hr))
                return hr;
        }
        // Never more than asked: the rest waits for the next call.
        size_t move = std::min(target - out.size(), m_received.size());
        out.insert(out.end(), m_received.begin(), m_received.begin() + move);
        m_received.erase(m_received.begin(), m_received.begin() + move);
        if (out.size() >= target)
            return S_OK;
        if (TicksSince(start) >= timeout)
            return SettleRead(out, target, true);

        HANDLE handles[3];
        DWORD n = 0, cancelAt = MAXDWORD, commAt = MAXDWORD, readAt = MAXDWORD;
        if (m_cancel)
            handles[cancelAt = n++] = m_cancel;
        if (m_commEvent)
            handles[commAt = n++] = m_commEvent;
        if ((m_ioFlags & KV_IO_READ_PENDING) && m_readDone)
            handles[readAt = n++] = m_readDone;
        DWORD wait = RemainingWait(start, timeout, true);
        if (n == 0) {
            Sleep(wait);
            continue;
        }
        DWORD r = WaitForMultipleObjects(n, handles, FALSE, wait);
        if (r == WAIT_TIMEOUT)
            continue;
        if (r == WAIT_FAILED)
            return LastPortError();
        DWORD index = r - WAIT_OBJECT_0;
        if (index == cancelAt) {
            ResetEvent(m_cancel);
            return E_ABORT;
        }
        if (index == commAt) {
            ResetEvent(m_commEvent);
            hr = CompleteEvent();
        } else if (index == readAt) {
            ResetEvent(m_readDone);
            hr = CompleteRead();
        }
        if (FAILED(hr))
            return hr;
    }
}

HRESULT CKvComPort::StartWrite()
{
    while (!(m_ioFlags & KV_IO_WRITE_PENDING) && !m_writeQueue.empty()) {
        m_writeBuf.swap(m_writeQueue);
        m_writeQueue.clear();
        if (m_writeDone)
            ResetEvent(m_writeDone);
        DWORD n = 0;
        if (WriteFile(m_handle, m_writeBuf.data(), static_cast<DWORD>(m_writeBuf.size()), &n, &m_ovWrite)) {
            if (m_writeDone)
                ResetEvent(m_writeDone);
            if (n < m_writeBuf.size())
                m_writeQueue.insert(m_writeQueue.begin(), m_writeBuf.begin() + n, m_writeBuf.end());
            m_writeBuf.clear();
            continue;
        }
        DWORD e = GetLastError();
        if (e == ERROR_IO_PENDING) {
            m_ioFlags |= KV_IO_WRITE_PENDING;
            return S_OK;
        }
        m_writeBuf.clear();
        return PortResultFromWin32(e);
    }
    return S_OK;
}

HRESULT CKvComPort::CompleteWrite()
{
    if (!IsOpen() || !(m_ioFlags & KV_IO_WRITE_PENDING))
        return S_OK;
    DWORD n = 0;
    if (GetOverlappedResult(m_handle, &m_ovWrite, &n, FALSE)) {
        m_ioFlags &= ~KV_IO_WRITE_PENDING;
        if (n < m_writeBuf.size())
            m_writeQueue.insert(m_writeQueue.begin(), m_writeBuf.begin() + n, m_writeBuf.end());
        m_writeBuf.clear();
        return StartWrite();
    }
    DWORD e = GetLastError();
    if (e == ERROR_IO_INCOMPLETE)
        return S_OK;
    m_ioFlags &= ~KV_IO_WRITE_PENDING;
    m_writeBuf.clear();
    return PortResultFromWin32(e);
}

HRESULT CKvComPort::Write(const void* data, size_t length, DWORD timeout)
{
    if (!IsOpen())
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    const DWORD start = GetTickCount();
    HRESULT hr = CompleteWrite();
    if (FAILED(hr))
        return hr;
    // Queued behind a write still in progress rather than dropped.
    const BYTE* bytes = static_cast<const BYTE*>(data);
    m_writeQueue.insert(m_writeQueue.end(), bytes, bytes + length);
    hr = StartWrite();
    if (FAILED(hr))
        return hr;
    while (m_ioFlags & KV_IO_WRITE_PENDING) {
        if (timeout == 0)
            return S_OK;
        DWORD wait = RemainingWait(start, timeout, false);
        if (wait == 0)
            return KV_E_SEND_TIMEOUT;
        HANDLE handles[2] = {m_writeDone, m_cancel};
        DWORD n = m_cancel ? 2 : 1;
        DWORD r = WaitForMultipleObjects(n, handles, FALSE, wait);
        if (r == WAIT_TIMEOUT)
            continue;
        if (r == WAIT_FAILED)
            return LastPortError();
        if (r == WAIT_OBJECT_0 + 1)
            return E_ABORT;
        ResetEvent(m_writeDone);
        hr = CompleteWrite();
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT CKvComPort::Purge(bool receive, bool transmit)
{
    if (!IsOpen() || (!receive && !transmit))
        return S_OK;
    DWORD flags = 0;
    if (receive)
        flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    if (transmit)
        flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (!PurgeComm(m_handle, flags))
        return LastPortError();
    // Some drivers (Wine's among them) leave an outstanding read running after RXABORT.
    if (receive) {
        CancelAndWait(m_ovRead);
        m_ioFlags &= ~KV_IO_READ_PENDING;
        m_received.clear();
        if (m_readDone)
            ResetEvent(m_readDone);
    }
    if (transmit) {
        CancelAndWait(m_ovWrite);
        m_ioFlags &= ~KV_IO_WRITE_PENDING;
        m_writeBuf.clear();
        m_writeQueue.clear();
        if (m_writeDone)
            ResetEvent(m_writeDone);
    }
    return S_OK;
}

HRESULT CKvComPort::SetDtr(bool on)
{
    if (!IsOpen())
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    if (!EscapeCommFunction(m_handle, on ? SETDTR : CLRDTR))
        return LastPortError();
    return S_OK;
}

HRESULT CKvComPort::SetRts(bool on)
{
    if (!IsOpen())
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    if (!EscapeCommFunction(m_handle, on ? SETRTS : CLRRTS))
        return LastPortError();
    return S_OK;
}
