#pragma once
// A network converter's answer to the reader search: a UDP socket on 127.0.0.1 that answers
// each search packet ("SEEK Q510IP") with the datagrams it was given, from its own address.
#include <winsock2.h>
#include <windows.h>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CConverterSim {
public:
    CConverterSim();
    ~CConverterSim();
    CConverterSim(const CConverterSim&) = delete;
    CConverterSim& operator=(const CConverterSim&) = delete;

    // The UDP port it listens on (0 when it could not start).
    uint16_t Port() const { return m_port; }
    // The datagrams sent for every search packet, in order.
    void SetReplies(const std::vector<std::string>& replies);
    int Queries() const;
    // Waits until cond () holds (checked after each packet), at most timeout ms.
    bool WaitUntil(const std::function<bool()>& cond, DWORD timeout) const;

private:
    void Serve();

    SOCKET m_socket = INVALID_SOCKET;
    WSAEVENT m_readable = WSA_INVALID_EVENT;
    WSAEVENT m_stop = WSA_INVALID_EVENT;
    uint16_t m_port = 0;
    bool m_wsa = false;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_replies;
    int m_queries = 0;
};
