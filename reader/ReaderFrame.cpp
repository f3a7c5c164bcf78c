// Protocol 2: binary frames (0x02, sequence, length, code, payload, 16-bit sum) with one
// request and one reply per transaction, and the commands the reader thread itself sends.
#include <algorithm>
#include "core/ResultCodes.h"
#include "reader/Reader.h"
#include "reader/ReaderModels.h"

namespace {

constexpr BYTE kFrameStart = 0x02;
constexpr size_t kFrameOverhead = 6;
constexpr BYTE kStatusOk = 0x55;
constexpr DWORD kDataSeenTimeout = 500;
constexpr DWORD kKeepAlive = 18000;

enum : BYTE {
    CMD_INDICATION = 0x20,
    CMD_END_SEARCH = 0x24,
    CMD_MODE_SPEED = 0x2F,
    CMD_WRITE_KEY = 0x5F,
    CODE_NO_SUM = 0x23,     // replies with this code carry no valid sum
};

} // namespace

HRESULT CheckReaderFrame(const BYTE* bytes, size_t count, BYTE& seq, BYTE& code, std::vector<BYTE>& payload)
{
    payload.clear();
    if (count < kFrameOverhead || bytes[0] != kFrameStart)
        return KV_E_INVALID_RESPONSE;
    const size_t length = bytes[2];
    if (length < kFrameOverhead || length > count)
        return KV_E_INVALID_RESPONSE;
    seq = bytes[1];
    code = bytes[3];
    payload.assign(bytes + 4, bytes + length - 2);
    if (code != CODE_NO_SUM) {
        unsigned sum = 0;
        for (size_t i = 0; i + 2 < length; ++i)
            sum += bytes[i];
        const unsigned stored = bytes[length - 2] | bytes[length - 1] << 8;
        if ((sum & 0xFFFF) != stored)
            return KV_E_INVALID_RESPONSE;
    }
    return S_OK;
}

bool CReader::ReceiveFrame(std::vector<BYTE>& reply, DWORD timeout)
{
    reply.clear();
    const DWORD start = GetTickCount();
    DWORD limit = timeout;
    for (;;) {
        for (;;) {
            auto it = std::find(m_recv.begin(), m_recv.end(), kFrameStart);
            m_recv.erase(m_recv.begin(), it);
            if (m_recv.size() < kFrameOverhead || m_recv.size() < m_recv[2])
                break;
            const size_t length = m_recv[2];
            if (length < kFrameOverhead) {
                m_recv.erase(m_recv.begin());
                continue;
            }
            BYTE seq = 0, code = 0;
            std::vector<BYTE> payload;
            const HRESULT hr = CheckReaderFrame(m_recv.data(), length, seq, code, payload);
            m_recv.erase(m_recv.begin(), m_recv.begin() + static_cast<ptrdiff_t>(length));
            if (!payload.empty())
                limit = kDataSeenTimeout;
            if (SUCCEEDED(hr) && seq == m_frameSeq) {
                reply = std::move(payload);
                return true;
            }
        }
        const int available = PortBytesAvailable();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= limit && available == 0)
            break;
        PortRead(static_cast<size_t>(std::max(available, 1)), elapsed < limit ? limit - elapsed : 0, true);
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

bool CReader::SendReaderFrame(BYTE command, const BYTE* payload, size_t length, BYTE* status, std::vector<BYTE>* reply)
{
    m_lastFrameTick = GetTickCount();
    ++m_frameSeq;
    m_send.clear();
    m_send.push_back(kFrameStart);
    m_send.push_back(m_frameSeq);
    m_send.push_back(static_cast<BYTE>(length + kFrameOverhead));
    m_send.push_back(command);
    m_send.insert(m_send.end(), payload, payload + length);
    unsigned sum = 0;
    for (BYTE b : m_send)
        sum += b;
    m_send.push_back(static_cast<BYTE>(sum));
    m_send.push_back(static_cast<BYTE>(sum >> 8));

    const DWORD wait = static_cast<DWORD>(std::max(m_cp.receiveTimeout, 0));
    if (m_flags & RTF_SPEED_CHANGED) {
        // The first bytes after a speed change may be lost: knock until the reader answers.
        m_flags &= ~RTF_SPEED_CHANGED;
        for (int i = 0; i < 3 && m_recv.empty(); ++i) {
            PortWrite(m_send.data(), m_send.size(), wait, true);
            PortRead(100, 30, true);
        }
        Sleep(50);
        m_reply.clear();
        PortRead(100, 0, true);
    }
    for (int attempt = 0; attempt < m_cp.maxTries; ++attempt) {
        PortWrite(m_send.data(), m_send.size(), wait, true);
        m_reply.clear();
        if (!ReceiveFrame(m_reply, wait))
            continue;
        if (m_reply.empty()) {
            SetLastError(KV_E_INVALID_RESPONSE);
            continue;
        }
        if (status)
            *status = m_reply[0];
        if (reply)
            reply->assign(m_reply.begin() + 1, m_reply.end());
        return true;
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

bool CReader::SendModeSpeed(BYTE mode, BYTE speedIndex)
{
    const BYTE payload[2] = {mode, speedIndex};
    BYTE status = 0;
    if (!SendReaderFrame(CMD_MODE_SPEED, payload, sizeof payload, &status, nullptr))
        return false;
    if (status != kStatusOk) {
        SetLastError(KV_E_READER_ERROR);
        return false;
    }
    if (speedIndex < kReaderSpeedCount) {
        BYTE evChar = 0;
        m_port->GetParams(nullptr, nullptr, &evChar);
        ReconfigurePort(ReaderSpeeds[speedIndex], evChar);
    }
    return true;
}

bool CReader::SendIndication(BYTE value)
{
    const BYTE payload[2] = {value, 0x01};
    BYTE status = 0;
    std::vector<BYTE> data;
    if (!SendReaderFrame(CMD_INDICATION, payload, sizeof payload, &status, &data))
        return false;
    if (status != kStatusOk || data.empty()) {
        SetLastError(status != kStatusOk ? KV_E_READER_ERROR : KV_E_INVALID_RESPONSE);
        return false;
    }
    return true;
}

bool CReader::SendEndSearch()
{
    const BYTE payload[1] = {0x00};
    BYTE status = 0;
    if (!SendReaderFrame(CMD_END_SEARCH, payload, sizeof payload, &status, nullptr))
        return false;
    if (status != kStatusOk) {
        SetLastError(KV_E_READER_ERROR);
        return false;
    }
    return true;
}

bool CReader::WriteReaderKey(int bank, int slot, const _KEY_NUMBER& key, bool plus)
{
    BYTE payload[2 + 16] = {static_cast<BYTE>(bank), static_cast<BYTE>(slot)};
    const size_t size = plus ? 16 : 6;
    std::copy(key.bytes, key.bytes + std::min<size_t>(key.length, size), payload + 2);
    BYTE status = 0;
    if (!SendReaderFrame(CMD_WRITE_KEY, payload, 2 + size, &status, nullptr))
        return false;
    if (status != kStatusOk) {
        SetLastError(KV_E_READER_ERROR);
        return false;
    }
    return true;
}

bool CReader::FrameProtocolStart()
{
    return SendEndSearch();
}

void CReader::FrameProtocolTick()
{
    if (m_flags & RTF_INPUT) {
        // Nothing is expected outside a transaction.
        m_port->Purge(true, false);
        m_recv.clear();
        m_flags &= ~RTF_INPUT;
    }
    const DWORD elapsed = GetTickCount() - m_lastFrameTick;
    if (elapsed >= kKeepAlive) {
        SendModeSpeed(1, 0x80);
        LowerWait(kKeepAlive);
    } else {
        LowerWait(kKeepAlive - elapsed);
    }
}
