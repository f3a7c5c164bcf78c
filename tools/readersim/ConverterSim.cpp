#include "tools/readersim/ConverterSim.h"

#include <chrono>
#include <cstring>

CConverterSim::CConverterSim()
{
    WSADATA data;
    m_wsa = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_socket == INVALID_SOCKET || bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return;
    int size = sizeof address;
    getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size);
    m_readable = WSACreateEvent();
    m_stop = WSACreateEvent();
    if (WSAEventSelect(m_socket, m_readable, FD_READ) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

CConverterSim::~CConverterSim()
{
    if (m_stop != WSA_INVALID_EVENT)
        WSASetEvent(m_stop);
    if (m_thread.joinable())
        m_thread.join();
    if (m_socket != INVALID_SOCKET)
        closesocket(m_socket);
    if (m_readable != WSA_INVALID_EVENT)
        WSACloseEvent(m_readable);
    if (m_stop != WSA_INVALID_EVENT)
        WSACloseEvent(m_stop);
    if (m_wsa)
        WSACleanup();
}

void CConverterSim::SetReplies(const std::vector<std::string>& replies)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies = replies;
}

int CConverterSim::Queries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queries;
}

bool CConverterSim::WaitUntil(const std::function<bool()>& cond, DWORD timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeout), [&] {
        lock.unlock();
        const bool holds = cond();
        lock.lock();
        return holds;
    });
}

void CConverterSim::Serve()
{
    WSAEVENT events[2] = {m_stop, m_readable};
    for (;;) {
        const DWORD w = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (w != WSA_WAIT_EVENT_0 + 1)
            return;
        WSAResetEvent(m_readable);
        for (;;) {
            char packet[512];
            sockaddr_in from = {};
            int fromLength = sizeof from;
            const int n = recvfrom(m_socket, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n == SOCKET_ERROR)
                break;
            if (n != 11 || std::memcmp(packet, "SEEK Q510IP", 11) != 0)
                continue;
            std::vector<std::string> replies;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                replies = m_replies;
            }
            for (const std::string& r : replies)
                sendto(m_socket, r.data(), static_cast<int>(r.size()), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_queries;
            }
            m_changed.notify_all();
        }
    }
}
