// Binary frames, the commands the reader thread sends in them, and the binary frame protocol.
#include "reader/ReaderFrame.h"
#include <algorithm>
#include <stdexcept>
#include "core/ResultCodes.h"
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

bool CFrameLink::ReceiveFrame(std::vector<BYTE>& reply, DWORD timeout)
{
    reply.clear();
    const DWORD start = GetTickCount();
    DWORD limit = timeout;
    for (;;) {
        for (;;) {
            std::vector<BYTE>& recv = Received();
            auto it = std::find(recv.begin(), recv.end(), kFrameStart);
            recv.erase(recv.begin(), it);
            if (recv.size() < kFrameOverhead || recv.size() < recv[2])
                break;
            const size_t length = recv[2];
            if (length < kFrameOverhead) {
                recv.erase(recv.begin());
                continue;
            }
            BYTE seq = 0, code = 0;
            std::vector<BYTE> payload;
            const HRESULT hr = CheckReaderFrame(recv.data(), length, seq, code, payload);
            recv.erase(recv.begin(), recv.begin() + static_cast<ptrdiff_t>(length));
            if (!payload.empty())
                limit = kDataSeenTimeout;
            if (SUCCEEDED(hr) && seq == m_seq) {
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

bool CFrameLink::SendReaderFrame(BYTE command, const BYTE* payload, size_t length, BYTE* status, std::vector<BYTE>* reply)
{
    m_lastFrameTick = GetTickCount();
    ++m_seq;
    m_send.clear();
    m_send.push_back(kFrameStart);
    m_send.push_back(m_seq);
    m_send.push_back(static_cast<BYTE>(length + kFrameOverhead));
    m_send.push_back(command);
    m_send.insert(m_send.end(), payload, payload + length);
    unsigned sum = 0;
    for (BYTE b : m_send)
        sum += b;
    m_send.push_back(static_cast<BYTE>(sum));
    m_send.push_back(static_cast<BYTE>(sum >> 8));

    const DWORD wait = ReplyTimeout();
    if (HasFlag(RTF_SPEED_CHANGED)) {
        // The first bytes after a speed change may be lost: knock until the reader answers.
        SetFlag(RTF_SPEED_CHANGED, false);
        for (int i = 0; i < 3 && Received().empty(); ++i) {
            PortWrite(m_send.data(), m_send.size(), wait, true);
            PortRead(100, 30, true);
        }
        Sleep(50);
        m_reply.clear();
        PortRead(100, 0, true);
    }
    for (int attempt = 0; attempt < Params().maxTries; ++attempt) {
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

bool CFrameLink::SendModeSpeed(BYTE mode, BYTE speedIndex)
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
        Port().GetParams(nullptr, nullptr, &evChar);
        ReconfigurePort(ReaderSpeeds[speedIndex], evChar);
    }
    return true;
}

bool CFrameLink::SendIndication(BYTE value)
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

bool CFrameLink::SendEndSearch()
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

bool CFrameLink::WriteReaderKey(int bank, int slot, const _KEY_NUMBER& key, bool plus)
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

// The protocol ---------------------------------------------------------------------------------

CFrameLink& CFrameProtocol::Link()
{
    // The model table gives every reader of this protocol its frames.
    CFrameLink* link = Frames();
    if (!link)
        throw std::logic_error("binary frames without their link");
    return *link;
}

bool CFrameProtocol::Connect()
{
    return Link().SendModeSpeed(1, 0x80) && ApplySpeed(Params().speed) && Link().SendEndSearch();
}

void CFrameProtocol::Input()
{
    // Nothing is expected outside a transaction.
    Port().Purge(true, false);
    Received().clear();
}

void CFrameProtocol::Tick()
{
    const DWORD elapsed = GetTickCount() - Link().LastFrameTick();
    if (elapsed >= kKeepAlive) {
        Link().SendModeSpeed(1, 0x80);
        LowerWait(kKeepAlive);
    } else {
        LowerWait(kKeepAlive - elapsed);
    }
}

void CFrameProtocol::Disconnect()
{
    if (HasFlag(RTF_SPEED_ON_COMMAND))
        Link().SendIndication(0x95);
}

HRESULT CFrameProtocol::RunJob(const ReaderJob& job)
{
    if (job.type != RDJOB_WRITE_KEYS)
        return KV_E_NOT_SUPPORTED;
    for (size_t i = 0; i < job.keys.size(); ++i) {
        if (!JobPending())
            return E_ABORT;
        if (job.keys[i].length == 0)
            continue;
        const int bank = i > 15 ? 1 : 0;
        const int slot = i > 15 ? static_cast<int>(i) - 16 : static_cast<int>(i);
        if (!Link().WriteReaderKey(bank, slot, job.keys[i], job.param != 0))
            return LastErrorCode();
        AdvanceJob();
    }
    return S_OK;
}
