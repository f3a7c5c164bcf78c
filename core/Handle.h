#pragma once
// Owning holders of kernel handles: one close on every exit path, and the events the worker
// threads wait on.
#include <windows.h>

class CHandle
{
public:
    CHandle() = default;
    explicit CHandle(HANDLE handle) : m_handle(handle) {}
    ~CHandle() { Close(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& other) noexcept : m_handle(other.Detach()) {}
    CHandle& operator=(CHandle&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }

    operator HANDLE() const { return m_handle; }
    HANDLE Get() const { return m_handle; }
    // Neither null nor INVALID_HANDLE_VALUE (what CreateFile gives on failure).
    bool IsValid() const { return m_handle && m_handle != INVALID_HANDLE_VALUE; }
    void Attach(HANDLE handle)
    {
        Close();
        m_handle = handle;
    }
    HANDLE Detach()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    // False with the system's error as last error when CloseHandle failed; nothing held is no failure.
    bool Close()
    {
        if (!IsValid()) {
            m_handle = nullptr;
            return true;
        }
        const bool closed = CloseHandle(m_handle) != FALSE;
        m_handle = nullptr;
        return closed;
    }

private:
    HANDLE m_handle = nullptr;
};

// An unnamed event.
class CEvent : public CHandle
{
public:
    // False with the system's error as last error; an event already held is kept.
    bool Create(bool manualReset, bool initiallySet)
    {
        if (IsValid())
            return true;
        Attach(CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr));
        return IsValid();
    }
    bool Set() const { return SetEvent(Get()) != FALSE; }
    bool Reset() const { return ResetEvent(Get()) != FALSE; }
};
