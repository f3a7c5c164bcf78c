#pragma once
// An owned socket, closed with the object. Include before <windows.h> (winsock2.h rule).
#include <winsock2.h>
#include <windows.h>

class CSocket
{
public:
    CSocket() = default;
    explicit CSocket(SOCKET s) : m_socket(s) {}
    ~CSocket() { Close(); }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    CSocket(CSocket&& other) noexcept : m_socket(other.Detach()) {}
    CSocket& operator=(CSocket&& other) noexcept
    {
        if (this != &other)
        {
            Close();
            m_socket = other.Detach();
        }
        return *this;
    }

    SOCKET Get() const { return m_socket; }
    bool IsValid() const { return m_socket != INVALID_SOCKET; }
    void Attach(SOCKET s)
    {
        Close();
        m_socket = s;
    }
    SOCKET Detach()
    {
        SOCKET s = m_socket;
        m_socket = INVALID_SOCKET;
        return s;
    }
    void Close()
    {
        if (m_socket != INVALID_SOCKET)
        {
            closesocket(m_socket);
            m_socket = INVALID_SOCKET;
        }
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
};
