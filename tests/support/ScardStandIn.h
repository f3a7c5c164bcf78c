#pragma once
// Scripting the smart-card library stand-in (tools/winscard-standin): in this process through
// its control export, in a program started by the test through a loopback connection that the
// stand-in makes to the port named by NORVANE_SCARD_CONTROL.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

namespace scard_standin {

using ControlFn = int(WINAPI*)(const char* command, char* answer, DWORD room);

inline ControlFn Control()
{
    HMODULE module = GetModuleHandleW(L"winscard.dll");
    return module ? reinterpret_cast<ControlFn>(reinterpret_cast<void*>(GetProcAddress(module, "NvStandInControl"))) : nullptr;
}

// The stand-in's answer: "ok", the data asked for, or "error: ...".
inline std::string Command(const std::string& line)
{
    ControlFn control = Control();
    if (!control)
        return "error: the smart-card library stand-in is not loaded";
    char answer[4096] = {};
    control(line.c_str(), answer, sizeof answer);
    return answer;
}

#define NV_SCARD(line) ASSERT_EQ("ok", scard_standin::Command(line)) << (line)

// A loopback listener for the stand-in of a program the test starts.
class CChannel
{
public:
    CChannel()
    {
        WSADATA data;
        m_wsa = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_listen == INVALID_SOCKET || bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_listen, 1) != 0)
            return;
        int size = sizeof address;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
    }
    ~CChannel()
    {
        if (m_peer != INVALID_SOCKET)
            closesocket(m_peer);
        if (m_listen != INVALID_SOCKET)
            closesocket(m_listen);
        if (m_wsa)
            WSACleanup();
    }
    CChannel(const CChannel&) = delete;
    CChannel& operator=(const CChannel&) = delete;

    // For the started program's environment.
    int Port() const { return m_port; }

    // Waits up to ms for the program's stand-in to connect.
    bool Accept(DWORD ms)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_listen, &set);
        timeval limit = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
        if (select(0, &set, nullptr, nullptr, &limit) != 1)
            return false;
        m_peer = accept(m_listen, nullptr, nullptr);
        if (m_peer == INVALID_SOCKET)
            return false;
        const DWORD wait = 10000;
        setsockopt(m_peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
        return true;
    }

    std::string Command(const std::string& line)
    {
        if (m_peer == INVALID_SOCKET)
            return "error: no stand-in connected";
        const std::string out = line + "\n";
        if (send(m_peer, out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size()))
            return "error: send failed";
        std::string answer;
        char c;
        while (recv(m_peer, &c, 1, 0) == 1 && c != '\n')
            answer += c;
        return answer;
    }

private:
    bool m_wsa = false;
    SOCKET m_listen = INVALID_SOCKET;
    SOCKET m_peer = INVALID_SOCKET;
    int m_port = 0;
};

} // namespace scard_standin
