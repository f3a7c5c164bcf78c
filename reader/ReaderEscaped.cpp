// The escaped frame protocol: transactions of escaped frames and the poll round.
#include "reader/ReaderEscaped.h"
#include <algorithm>
#include "core/ResultCodes.h"
#include "reader/EscapedFrames.h"

namespace {

constexpr DWORD kEscapedSpeed = 115200;
constexpr BYTE kCmdIndication = 0x02;
constexpr BYTE kCmdPoll = 0x61;
constexpr BYTE kPollPayload[] = {0x0B, 0x64, 0x03};
// Once a reply with another code came, the awaited one is due soon or not at all.
constexpr DWORD kOtherCodeTimeout = 500;
constexpr int kKeyTypeEmMarine = 1;
constexpr int kKeyTypeTemic = 8;

_KEY_PRESENCE Presence(int keyType, const _KEY_NUMBER& key)
{
    _KEY_PRESENCE entry;
    entry.keyType = keyType;
    entry.key = key;
    entry.memResult = KEYMEM_REPORT_KEY;
    return entry;
}

} // namespace

CEscapedProtocol::CEscapedProtocol(CReader& reader) : CReaderProtocol(reader), m_lastPoll(GetTickCount()) {}

bool CEscapedProtocol::Connect()
{
    ReconfigurePort(kEscapedSpeed, kEscapedEnd);
    m_lastPoll = GetTickCount();
    return EscapedPollRound(true);
}

void CEscapedProtocol::Input()
{
    Port().Purge(true, false);
    Received().clear();
}

void CEscapedProtocol::Tick()
{
    const int period = PollPeriod();
    if (period < 0 || HasFlag(RTF_POLL_SUSPENDED))
        return;
    const DWORD elapsed = TicksSince(m_lastPoll);
    if (elapsed < static_cast<DWORD>(period)) {
        LowerWait(static_cast<DWORD>(period) - elapsed);
        return;
    }
    m_lastPoll = GetTickCount();
    const bool polled = EscapedPollRound(false);
    LowerWait(static_cast<DWORD>(period));

    // A reader that stopped answering is said once, not at every period; the next good round
    // clears the way for the next report.
    if (polled) {
        m_failureReported = false;
    } else if (!m_failureReported) {
        m_failureReported = true;
        ReportLastError();
    }
}

bool CEscapedProtocol::ReceiveEscapedFrame(std::vector<BYTE>& reply, BYTE expected, DWORD timeout)
{
    reply.clear();
    const DWORD start = GetTickCount();
    DWORD limit = timeout;
    bool lastRead = false;
    for (;;) {
        if (StopRequested())
            ThrowPortError(E_ABORT, Params().portName.c_str());
        std::vector<BYTE>& recv = Received();
        for (;;) {
            const auto end = std::find(recv.begin(), recv.end(), kEscapedEnd);
            if (end == recv.end())
                break;
            BYTE code = 0;
            std::vector<BYTE> data;
            const bool valid = CheckEscapedReply(recv.data(), static_cast<size_t>(end - recv.begin()), code, data);
            recv.erase(recv.begin(), end + 1);
            if (!valid)
                continue;
            if (expected == 0 || code == expected) {
                reply = std::move(data);
                return true;
            }
            limit = std::min(limit, kOtherCodeTimeout);
        }
        const int available = PortBytesAvailable();
        const DWORD elapsed = TicksSince(start);
        if (elapsed >= limit) {
            // What lies there at the time-out is looked at once more; a device that never
            // stops sending must not hold the wait.
            if (available == 0 || lastRead)
                break;
            lastRead = true;
        }
        PortRead(static_cast<size_t>(std::max(available, 1)), elapsed < limit ? limit - elapsed : 0, true);
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

bool CEscapedProtocol::SendEscapedFrame(BYTE command, const BYTE* payload, size_t length, bool& success,
                                        std::vector<BYTE>& reply)
{
    const std::vector<BYTE> frame = BuildEscapedFrame(command, payload, length);
    const DWORD wait = ReplyTimeout();
    std::vector<BYTE> data;
    for (int attempt = 0; attempt < Params().maxTries; ++attempt) {
        PortWrite(frame.data(), frame.size(), wait, true);
        if (!ReceiveEscapedFrame(data, command, wait))
            continue;
        if (data.empty()) {
            SetLastError(KV_E_INVALID_RESPONSE);
            continue;
        }
        success = data[0] == kEscapedStatusOk;
        reply.assign(data.begin() + 1, data.end());
        return true;
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

bool CEscapedProtocol::SendEscapedIndication(BYTE a, BYTE b)
{
    const BYTE payload[2] = {a, b};
    bool success = false;
    std::vector<BYTE> reply;
    if (!SendEscapedFrame(kCmdIndication, payload, sizeof payload, success, reply))
        return false;
    if (!success) {
        SetLastError(KV_E_READER_ERROR);
        return false;
    }
    return true;
}

bool CEscapedProtocol::PollEscaped(_KEY_NUMBER& emMarine, _KEY_NUMBER& temic)
{
    bool success = false;
    std::vector<BYTE> data;
    if (!SendEscapedFrame(kCmdPoll, kPollPayload, sizeof kPollPayload, success, data))
        return false;
    ParseEscapedPoll(success, data, emMarine, temic);
    return true;
}

bool CEscapedProtocol::EscapedPollRound(bool clearFirst)
{
    // 1. What lies in the field now.
    _KEY_NUMBER emMarine, temic;
    if (!PollEscaped(emMarine, temic))
        return false;
    std::vector<_KEY_PRESENCE> found;
    if (emMarine.length)
        found.push_back(Presence(kKeyTypeEmMarine, emMarine));
    if (temic.length)
        found.push_back(Presence(kKeyTypeTemic, temic));

    if (clearFirst) {
        // 2. Keys lying there at connect are not news.
        ClearKeyPresence();
        for (const _KEY_PRESENCE& entry : found)
            AddKeyPresence(entry, false);
    } else {
        // 3. New keys are reported, keys no longer there leave.
        const bool hadKeys = KeyCount() > 0;
        bool newKey = false;
        MarkKeysStale();
        for (const _KEY_PRESENCE& entry : found) {
            if (StopRequested())
                break;
            if (!RefreshKey(entry.keyType, entry.key)) {
                AddKeyPresence(entry, true);
                newKey = true;
            }
        }
        RemoveStaleKeys();
        // 4. Only a change of the field changes the indication.
        if (hadKeys && KeyCount() == 0)
            return SendEscapedIndication(1, 0);
        if (!newKey)
            return true;
    }
    // 5. The indication of the field.
    if (KeyCount() == 0)
        return SendEscapedIndication(1, 0);
    return SendEscapedIndication(12, 5) && SendEscapedIndication(2, 0);
}
