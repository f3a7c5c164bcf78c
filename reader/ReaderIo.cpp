// The reader thread's port I/O: writes and reads with their log lines, and the reading of
// reply lines that every text exchange uses.
#include <algorithm>
#include "core/ResultCodes.h"
#include "reader/KeyLine.h"
#include "core/SysUtil.h"
#include "reader/Reader.h"
#include "reader/ReaderProtocol.h"
#include "resources/resource.h"

namespace {

// Longest run of bytes without a line end that the receive buffer keeps. Real lines are a
// few dozen bytes; binary frames at most 255.
constexpr size_t kMaxReceive = 4096;
constexpr DWORD kNextLineTimeout = 500;

} // namespace

void CReader::PortWrite(const void* data, size_t length, DWORD timeout, bool hex)
{
    if (!m_port)
        ThrowPortError(KV_E_PORT_DISCONNECTED, m_cp.portName.c_str());
    HRESULT hr = m_port->Write(data, length, timeout);
    if (FAILED(hr))
        ThrowPortError(hr, m_cp.portName.c_str());
    LogBytes(IDS_LOG_SENT, static_cast<const BYTE*>(data), length, hex);
}

size_t CReader::PortRead(size_t count, DWORD timeout, bool hex)
{
    if (!m_port)
        ThrowPortError(KV_E_PORT_DISCONNECTED, m_cp.portName.c_str());
    const size_t before = m_recv.size();
    HRESULT hr = m_port->Read(m_recv, count, timeout);
    if (FAILED(hr))
        ThrowPortError(hr, m_cp.portName.c_str());
    if (m_recv.size() > before)
        LogBytes(IDS_LOG_RECEIVED, m_recv.data() + before, m_recv.size() - before, hex);
    CapReceiveBuffer();
    return m_recv.size();
}

int CReader::PortBytesAvailable()
{
    if (!m_port)
        ThrowPortError(KV_E_PORT_DISCONNECTED, m_cp.portName.c_str());
    int n = 0;
    HRESULT hr = m_port->GetBytesAvailable(&n);
    if (FAILED(hr))
        ThrowPortError(hr, m_cp.portName.c_str());
    return std::max(n, 0);
}

void CReader::CapReceiveBuffer()
{
    if (m_recv.size() <= kMaxReceive)
        return;
    size_t dropped;
    if (!m_protocol || m_protocol->ReadsLines()) {
        // Complete lines are taken by the caller; only an endless line is garbage.
        auto lastLf = std::find(m_recv.rbegin(), m_recv.rend(), '\n');
        const size_t keep = static_cast<size_t>(m_recv.rend() - lastLf);
        if (m_recv.size() - keep <= kMaxReceive)
            return;
        dropped = m_recv.size() - keep;
        m_recv.resize(keep);
    } else {
        dropped = m_recv.size() - kMaxReceive;
        m_recv.erase(m_recv.begin(), m_recv.begin() + static_cast<ptrdiff_t>(dropped));
    }
    LogWarningText(L"Receive buffer overflow: %d bytes dropped", static_cast<int>(dropped));
    if (!m_overflowReported) {
        m_overflowReported = true;
        PushErrorNotification(KV_E_INVALID_RESPONSE);
    }
}

bool CReader::ReadReplyLines(std::string& out, int lines, DWORD timeout, bool checkKeyLines)
{
    out.clear();
    const DWORD start = GetTickCount();
    DWORD lastLine = start;
    int left = lines;
    for (;;) {
        // A stop request ends the wait as a cancelled port wait does.
        if (StopRequested())
            ThrowPortError(E_ABORT, m_cp.portName.c_str());
        for (;;) {
            auto lf = std::find(m_recv.begin(), m_recv.end(), '\n');
            if (lf == m_recv.end())
                break;
            std::string line(m_recv.begin(), lf);
            m_recv.erase(m_recv.begin(), lf + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty() && out.empty())
                continue;
            if (out.empty() && checkKeyLines) {
                std::wstring w = MultiByteToWString(line, CP_ACP);
                if (IsNoCardLine(w)) {
                    bool temicOn;
                    {
                        CCriticalSectionLock lock(m_cs);
                        temicOn = m_readKeys.temic.enabled;
                    }
                    NoCard((m_flags & RTF_EXTENDED) && temicOn);
                    continue;
                }
                if (IsKeyLine(w)) {
                    if (m_state == RDST_CONNECTED)
                        HandleKeyLine(w);
                    continue;
                }
            }
            out += line;
            out += "\r\n";
            lastLine = GetTickCount();
            if (--left <= 0)
                return true;
        }
        // Once a reply has begun, its next line must follow within half a second of the
        // last one, however long the whole reply takes.
        const bool begun = !out.empty();
        const DWORD limit = begun ? kNextLineTimeout : timeout;
        const DWORD elapsed = GetTickCount() - (begun ? lastLine : start);
        const int available = PortBytesAvailable();
        if (elapsed >= limit && available == 0)
            break;
        PortRead(static_cast<size_t>(std::max(available, 1)), elapsed < limit ? limit - elapsed : 0, false);
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

void CReader::HandleKeyLine(const std::wstring& line)
{
    if (m_protocol)
        m_protocol->HandleKeyLine(line);
}
