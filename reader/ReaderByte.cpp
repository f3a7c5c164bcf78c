// The single-byte command protocol: arming the reader, its acknowledgements and key frames.
#include "reader/ReaderByte.h"
#include <algorithm>
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "reader/ByteUnits.h"
#include "reader/ReaderText.h"
#include "resources/resource.h"

namespace {

constexpr DWORD kByteSpeed = 38400;
constexpr int kShortResets = 10;
constexpr DWORD kShortResetWait = 100;
constexpr DWORD kShortResetPause = 100;
constexpr DWORD kRestartPause = 2000;
// The reader forgets its arming after a while: it is armed again this often.
constexpr DWORD kRearmPeriod = 15000;
// A key lies on the reader as long as its frames come at least this often.
constexpr DWORD kPresenceTime = 1000;
// Once a unit came, the acknowledgement is due soon or not at all.
constexpr DWORD kUnitSeenTimeout = 500;
// A device that never stops talking must not keep the thread from its other duties longer.
constexpr DWORD kReceiveDeadline = 200;
constexpr int kKeyTypeEmMarine = 1;

bool AllZero(const _KEY_NUMBER& key)
{
    return std::all_of(key.bytes, key.bytes + key.length, [](BYTE b) { return b == 0; });
}

} // namespace

CByteProtocol::CByteProtocol(CReader& reader) : CReaderProtocol(reader), m_mode(CardReading().vell4Mode) {}

bool CByteProtocol::Connect()
{
    ReconfigurePort(kByteSpeed, 0);
    // Lines that a converter or a pseudo-terminal cannot set are no reason to turn the reader
    // away; its restart needs them, and says so when they fail.
    if (FAILED(Port().SetDtr(true)) || FAILED(Port().SetRts(false)))
        LogWarningText(L"The port's DTR and RTS lines cannot be set");
    m_initialised = false;
    return true;
}

void CByteProtocol::SettingsChanged()
{
    m_mode = CardReading().vell4Mode;
    m_initialised = false;
    m_modeRefused = false;
    m_failureReported = false;
}

bool CByteProtocol::WaitAcknowledge(DWORD timeout)
{
    const DWORD start = GetTickCount();
    DWORD limit = timeout;
    bool lastRead = false;
    for (;;) {
        if (StopRequested())
            ThrowPortError(E_ABORT, Params().portName.c_str());
        while (TakeByteUnit(Received(), m_mode, m_unit)) {
            HandleByteUnit(m_unit);
            if (m_unit[0] == BYTE_ACK)
                return true;
            limit = std::min(limit, kUnitSeenTimeout);
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

bool CByteProtocol::SendByteCommand(BYTE command)
{
    BuildByteCommand(m_send, command);
    const DWORD wait = ReplyTimeout();
    for (int attempt = 0; attempt < Params().maxTries; ++attempt) {
        PortWrite(m_send.data(), m_send.size(), wait, true);
        if (WaitAcknowledge(wait))
            return true;
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

void CByteProtocol::HandleByteUnit(const std::vector<BYTE>& unit)
{
    if (unit[0] == BYTE_ACK || unit[0] == BYTE_NOT_READY) {
        m_ready = unit[0] == BYTE_ACK;
        return;
    }
    _KEY_PRESENCE entry;
    if (unit[0] != BYTE_KEY_FRAME || !DecodeByteKeyFrame(unit, m_mode, HasFlag(RTF_QM100), entry.keyType, entry.key))
        return;
    if (entry.keyType == kKeyTypeEmMarine && AllZero(entry.key))
        return;
    entry.memResult = KEYMEM_REPORT_KEY;
    KeySeen(entry, !HasFlag(RTF_POLL_SUSPENDED));
    m_lastKeyFrame = GetTickCount();
    m_initialised = false;
}

bool CByteProtocol::SendReset(DWORD wait)
{
    BuildByteCommand(m_send, BYTE_CMD_RESET);
    PortWrite(m_send.data(), m_send.size(), wait, true);
    return WaitAcknowledge(wait);
}

void CByteProtocol::RestartThroughLines()
{
    auto check = [&](HRESULT hr) {
        if (FAILED(hr))
            ThrowPortError(hr, Params().portName.c_str());
    };
    check(Port().SetDtr(true));
    check(Port().SetRts(false));
    Pause(kRestartPause);
    check(Port().SetRts(false));
    check(Port().SetDtr(true));
}

bool CByteProtocol::ResetReader()
{
    if (SendReset(ReplyTimeout()))
        return true;
    for (int i = 0; i < kShortResets; ++i) {
        if (SendReset(kShortResetWait))
            return true;
        Pause(kShortResetPause);
    }
    RestartThroughLines();
    return SendReset(ReplyTimeout());
}

bool CByteProtocol::InitByteProtocol()
{
    BYTE arming = 0;
    if (!ByteArmingCommand(m_mode, arming)) {
        // A hand-edited mode: no byte the reader does not know goes out.
        m_modeRefused = true;
        SetLastError(KV_E_INDEX_RANGE, FormatResText(IDS_VELL4_MODE_RANGE, m_mode));
        return false;
    }
    if (!ResetReader() || !SendByteCommand(arming) || !SendByteCommand(BYTE_CMD_START))
        return false;
    m_initialised = true;
    return true;
}

void CByteProtocol::ReceiveUnits()
{
    const DWORD start = GetTickCount();
    for (;;) {
        while (m_initialised && TakeByteUnit(Received(), m_mode, m_unit))
            HandleByteUnit(m_unit);
        if (!m_initialised || StopRequested() || TicksSince(start) >= kReceiveDeadline)
            return;
        const int available = PortBytesAvailable();
        if (available == 0)
            return;
        PortRead(static_cast<size_t>(available), 0, true);
    }
}

void CByteProtocol::ExpireKeys()
{
    if (KeyCount() == 0)
        return;
    const DWORD since = TicksSince(m_lastKeyFrame);
    if (since >= kPresenceTime)
        ClearKeyPresence();
    else
        LowerWait(kPresenceTime - since);
}

void CByteProtocol::ByteProtocolTick()
{
    // 1. The arming wears off.
    if (m_initialised) {
        const DWORD since = TicksSince(m_lastInit);
        if (since >= kRearmPeriod)
            m_initialised = false;
        else
            LowerWait(kRearmPeriod - since);
    }
    // 2. Arm the reader; a failure is said once until an arming succeeds again.
    if (!m_initialised && !m_modeRefused) {
        m_lastInit = GetTickCount();
        if (InitByteProtocol()) {
            m_failureReported = false;
            LowerWait(kRearmPeriod);
        } else if (!m_failureReported) {
            m_failureReported = true;
            ReportLastError();
        }
    }
    // 3. The units that came; a key frame asks for the reader to be armed again at once.
    if (m_initialised)
        ReceiveUnits();
    if (!m_initialised && !m_modeRefused)
        LowerWait(0);
    // 4. Keys whose frames stopped have left.
    ExpireKeys();
}
