#pragma once
// The port layer: every byte exchanged with a reader or a bridge peer goes through IKvPort.
// Ports are reference counted and used by one worker thread at a time; they never throw.
// Operations return result codes; the reader's own routines turn failures into
// CKvPortException with ThrowPortError.
#include <windows.h>
#include <unknwn.h>
#include <cstddef>
#include <exception>
#include <string>
#include <utility>
#include <vector>
#include "core/ResultCodes.h"

// I/O flags word of a port.
constexpr int KV_IO_CONNECT_PENDING = 1;  // TCP only
constexpr int KV_IO_WRITE_PENDING = 2;
constexpr int KV_IO_READ_PENDING = 4;  // serial: read outstanding; TCP: receive would block

// Stop bits codes (as in DCB::StopBits).
constexpr BYTE KV_STOPBITS_1 = 0;
constexpr BYTE KV_STOPBITS_1_5 = 1;
constexpr BYTE KV_STOPBITS_2 = 2;

// No slicing: one wait inside Read may last the whole time-out.
constexpr DWORD KV_NO_WAIT_SLICE = 0xFFFFFFFF;

struct IKvPort : public IUnknown
{
    // The events are the owner's (manual-reset) and must outlive the port.
    virtual HRESULT Init(const wchar_t* name, HANDLE cancel, HANDLE writeDone, HANDLE readDone, HANDLE commEvent) = 0;
    virtual HRESULT GetName(std::wstring& name) = 0;
    // speed 0 keeps the device's speed (serial) or sends none (telnet); eventChar 0 = none.
    virtual HRESULT SetParams(DWORD speed, BYTE stopBits, BYTE eventChar) = 0;
    virtual HRESULT GetParams(DWORD* speed, BYTE* stopBits, BYTE* eventChar) = 0;
    // timeout in ms; used by TCP only (0: the connection completes through CompleteEvent).
    virtual HRESULT Open(DWORD timeout) = 0;
    virtual HRESULT Close() = 0;
    virtual bool IsOpen() = 0;
    virtual int GetIoFlags() = 0;
    virtual HRESULT GetBytesAvailable(int* count) = 0;
    // Appends up to count bytes to out within timeout ms; fewer bytes is no error.
    virtual HRESULT Read(std::vector<BYTE>& out, size_t count, DWORD timeout) = 0;
    // timeout 0 returns while the data are still on their way; they are sent in order.
    virtual HRESULT Write(const void* data, size_t length, DWORD timeout) = 0;
    virtual HRESULT Purge(bool receive, bool transmit) = 0;
    virtual HRESULT SetDtr(bool on) = 0;
    virtual HRESULT SetRts(bool on) = 0;
    // Called by the owner when its wait returned read done, write done or the comm/network
    // event. CompleteEvent >= 0 means input may have arrived.
    virtual HRESULT CompleteRead() = 0;
    virtual HRESULT CompleteWrite() = 0;
    virtual HRESULT CompleteEvent() = 0;
    // Asked by the owner when its wait has run a while without any completion: *arrived is
    // true when input lies in the driver that no completion has announced (a driver that failed
    // to signal); the port then takes back what it had outstanding.
    virtual HRESULT CheckMissedInput(bool* arrived) = 0;

protected:
    // Deleted only through Release.
    virtual ~IKvPort() = default;
};

// Common base of the serial and the TCP port.
class CKvPort : public IKvPort
{
public:
    CKvPort() = default;
    CKvPort(const CKvPort&) = delete;
    CKvPort& operator=(const CKvPort&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT Init(const wchar_t* name, HANDLE cancel, HANDLE writeDone, HANDLE readDone, HANDLE commEvent) override;
    HRESULT GetName(std::wstring& name) override;
    HRESULT SetParams(DWORD speed, BYTE stopBits, BYTE eventChar) override;
    HRESULT GetParams(DWORD* speed, BYTE* stopBits, BYTE* eventChar) override;
    int GetIoFlags() override { return m_ioFlags; }
    HRESULT SetDtr(bool) override { return S_OK; }
    HRESULT SetRts(bool) override { return S_OK; }
    HRESULT CompleteRead() override { return S_OK; }
    HRESULT CompleteWrite() override { return S_OK; }
    HRESULT CheckMissedInput(bool* arrived) override
    {
        *arrived = false;
        return S_OK;
    }

    // No single wait inside Read lasts longer than this (set before each open or
    // reconfiguration; KV_NO_WAIT_SLICE = none).
    void SetWaitSlice(DWORD ms) { m_waitSlice = ms; }
    DWORD GetWaitSlice() const { return m_waitSlice; }
    const std::wstring& Name() const { return m_name; }

protected:
    ~CKvPort() override = default;

    // Time still to wait of a time-out that started at start (tick counter wrap-around
    // handled); 0 when it has run out. Bounded by the wait slice when sliced.
    DWORD RemainingWait(DWORD start, DWORD timeout, bool sliced) const;

    volatile LONG m_refCount = 0;
    std::wstring m_name;
    DWORD m_speed = 0;
    BYTE m_stopBits = KV_STOPBITS_1;
    HANDLE m_cancel = nullptr;
    HANDLE m_writeDone = nullptr;
    HANDLE m_readDone = nullptr;
    HANDLE m_commEvent = nullptr;
    BYTE m_eventChar = 0;
    DWORD m_waitSlice = KV_NO_WAIT_SLICE;
    int m_ioFlags = 0;
};

// Milliseconds since start by the tick counter, correct across its wrap-around.
inline DWORD TicksSince(DWORD start) { return GetTickCount() - start; }

// Result code of a failed serial call. 995 (a cancelled operation) means the device went
// away. Code 0 (a failure that left no error behind) must not read as success: E_FAIL.
// Values that are already failure codes pass unchanged.
HRESULT PortResultFromWin32(DWORD error);
// The same for socket calls: aborted and reset connections mean the peer went away.
HRESULT PortResultFromSocketError(int error);

// A port failure thrown by the reader's routines, the reader search and the bridge link.
// what() is the code's message-table text in the ANSI code page; the wide text (usually the
// port name) is extra information for the catcher.
class CKvPortException : public std::exception
{
public:
    explicit CKvPortException(HRESULT code, const wchar_t* text = nullptr);
    const char* what() const noexcept override { return m_message.c_str(); }
    HRESULT GetCode() const { return m_code; }
    const std::wstring& GetText() const { return m_text; }

private:
    HRESULT m_code;
    std::string m_message;
    std::wstring m_text;
};

[[noreturn]] void ThrowPortError(HRESULT code, const wchar_t* text = nullptr);

// Holds one reference to a port.
template <class T>
class CKvPortPtr
{
public:
    CKvPortPtr() = default;
    explicit CKvPortPtr(T* p) : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    CKvPortPtr(const CKvPortPtr& o) : CKvPortPtr(o.m_p) {}
    CKvPortPtr(CKvPortPtr&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    CKvPortPtr& operator=(CKvPortPtr o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~CKvPortPtr()
    {
        if (m_p)
            m_p->Release();
    }
    void Reset(T* p = nullptr) { *this = CKvPortPtr(p); }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};
