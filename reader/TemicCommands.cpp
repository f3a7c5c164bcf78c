// Temic T5557 cards on the text-line readers that have the "t57" commands: a cycle over the
// parameter entries of the Temic settings reads the identification blocks (and optionally
// some data blocks) of a card on the reader, and the user's job writes a card's
// configuration block.
#include <algorithm>
#include <cstdio>
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "reader/ReaderLines.h"
#include "reader/TextProtocol.h"

const char kTemicResetCommand[] = "t57 00\r";
const char kTemicInitCommand[] = "t57 01 00 00 14 80 40 02 00\r";

namespace {

constexpr int kKeyTypeTemic = 8;
constexpr BYTE kTemicIdBlock1 = 0x81;
constexpr BYTE kTemicIdBlock2 = 0x82;
constexpr int kTemicDataBlocks = 8;
constexpr int kMaxDataBlocksRead = 4;

} // namespace

std::string TemicReadCommand(BYTE block, BYTE p1, BYTE p2, uint32_t password, bool usePassword)
{
    char buf[48];
    if (usePassword)
        std::snprintf(buf, sizeof buf, "t57 06 %.2x %.2x %.2x %.2x %.2x %.2x %.2x\r", block, password & 0xFF,
                      (password >> 8) & 0xFF, (password >> 16) & 0xFF, (password >> 24) & 0xFF, p1, p2);
    else
        std::snprintf(buf, sizeof buf, "t57 05 %.2x %.2x %.2x\r", block, p1, p2);
    return buf;
}

bool ParseTemicBlock(std::string_view answer, BYTE (&block)[4])
{
    BYTE bytes[4] = {};
    size_t digits = 0;
    for (char c : answer) {
        const int d = HexDigitValue(c);
        if (d < 0 || digits == 8)
            break;
        bytes[digits / 2] = static_cast<BYTE>(bytes[digits / 2] << 4 | d);
        ++digits;
    }
    if (digits < 8)
        return false;
    std::copy(bytes, bytes + 4, block);
    return true;
}

_KEY_NUMBER TemicKeyNumber(const BYTE (&block81)[4], const BYTE (&block82)[4], bool allBytes)
{
    BYTE key[8];
    size_t n = 0;
    if (allBytes)
        for (BYTE b : block81)
            key[n++] = b;
    else
        key[n++] = block81[3];
    for (BYTE b : block82)
        key[n++] = b;
    return MakeKeyNumber(key, n);
}

int TemicDataBlockCount(int start, int count)
{
    if (start < 0 || start >= kTemicDataBlocks || count < 1)
        return 0;
    return std::min({count, kTemicDataBlocks - start, kMaxDataBlocksRead});
}

// Reader side ---------------------------------------------------------------------------------

bool CTextProtocol::TemicReading() const
{
    return HasFlag(RTF_EXTENDED) && CardReading().temic.enabled;
}

void CTextProtocol::TemicTick()
{
    if (!TemicReading()) {
        SetTemicScan(0, 0, 0);
        return;
    }
    if (HasFlag(RTF_POLL_SUSPENDED) || m_temicDelay < 0)
        return;
    const DWORD elapsed = GetTickCount() - m_lastTemicCommand;
    if (m_temicDelay == 0 || elapsed >= static_cast<DWORD>(m_temicDelay)) {
        TemicStep();
        if (m_temicDelay >= 0)
            LowerWait(static_cast<DWORD>(m_temicDelay));
    } else {
        LowerWait(static_cast<DWORD>(m_temicDelay) - elapsed);
    }
}

void CTextProtocol::SettingsChanged()
{
    // An empty list stopped the cycle; new settings start it again.
    if (m_temicDelay < 0)
        m_temicDelay = 0;
}

void CTextProtocol::TemicStep()
{
    const ReadKeysSettings reading = CardReading();
    const TemicSettings& t = reading.temic;
    if (t.params.empty()) {
        m_temicDelay = -1;
        SetTemicScan(0, 0, 0);
        return;
    }
    const int last = static_cast<int>(t.params.size()) - 1;
    if (m_temicIndex < 0 || m_temicIndex > last)
        m_temicIndex = 0;
    const uint32_t param = t.params[static_cast<size_t>(m_temicIndex)];
    SetTemicScan(m_temicIndex + 1, last + 1, param);
    const BYTE p1 = TemicParamP1(param), p2 = TemicParamP2(param);
    const bool usePassword = (t.flags & TEMIC_USE_PASSWORD) != 0;
    const uint32_t password = usePassword ? t.password : 0;
    bool keyRead = false;

    if (p1 == kTemicResetP1) {
        ResetTemic();
    } else {
        m_temicCycleRead = true;
        RaiseChange(RDCHG_CARD_STATE);
        BYTE id1[4], id2[4];
        if ((reading.keyTypes & (1u << kKeyTypeTemic)) &&
            ReadTemicBlock(kTemicIdBlock1, p1, p2, id1, password, usePassword) &&
            ReadTemicBlock(kTemicIdBlock2, p1, p2, id2, password, usePassword)) {
            keyRead = true;
            _KEY_PRESENCE entry;
            entry.keyType = kKeyTypeTemic;
            entry.key = TemicKeyNumber(id1, id2, (t.flags & TEMIC_READ_ALL_BYTES) != 0);
            entry.temicParam = static_cast<WORD>(param & 0xFFFF);
            entry.memResult = KEYMEM_REPORT_KEY;
            const bool present = FindKeyPresence(kKeyTypeTemic, entry.key, entry);
            // A key already in the field is listed again only when its data blocks were read
            // now, after an earlier read of them had failed: that report is its first good one.
            bool dataRead = false;
            if ((t.flags & TEMIC_DATA_MODE) && !(present && entry.memResult == KEYMEM_REPORT_MEMORY)) {
                if (t.block < 0 || t.block >= kTemicDataBlocks) {
                    entry.memResult = E_INVALIDARG;
                } else {
                    const int count = TemicDataBlockCount(t.block, t.count);
                    BYTE data[4 * kMaxDataBlocksRead] = {};
                    size_t got = 0;
                    entry.memResult = KEYMEM_REPORT_MEMORY;
                    for (int i = 0; i < count; ++i) {
                        BYTE block[4];
                        // Each read addresses its own block: the start block and those after it.
                        if (!ReadTemicBlock(static_cast<BYTE>(t.block + i), p1, p2, block, password, usePassword)) {
                            entry.memResult = LastErrorCode();
                            break;
                        }
                        std::copy(block, block + 4, data + got);
                        got += 4;
                    }
                    if (entry.memResult == KEYMEM_REPORT_MEMORY) {
                        entry.memory = MakeKeyNumber(data, got);
                        dataRead = true;
                    } else {
                        entry.memory = _KEY_NUMBER{};
                    }
                }
            }
            if (!present || dataRead) {
                RemoveTemicKeys();
                if (entry.key.length)
                    AddKeyPresence(entry, true);
            }
        }
    }

    const DWORD now = GetTickCount();
    m_temicDelay = static_cast<int>(TemicParamDelay(param));
    m_lastTemicCommand = now;
    if (m_temicIndex == last) {
        if (m_temicCycleRead) {
            RemoveTemicKeys();
            m_temicCycleRead = false;
        }
        m_temicDelay = std::max(m_temicDelay, PollPeriod());
        m_temicIndex = -1;
    } else if (keyRead) {
        // The same entry again while the card lies on the reader.
        m_temicDelay = std::max(m_temicDelay, PollPeriod());
    } else {
        ++m_temicIndex;
    }
}

bool CTextProtocol::ReadTemicBlock(BYTE block, BYTE p1, BYTE p2, BYTE (&out)[4], uint32_t password,
                                   bool usePassword)
{
    const DWORD wait = ReplyTimeout();
    const std::string command = TemicReadCommand(block, p1, p2, password, usePassword);
    CSetAsideInput before(Received());
    for (int attempt = 0; attempt < Params().maxTries; ++attempt) {
        PortWrite(command.data(), command.size(), wait, false);
        std::string answer;
        if (!ReadReplyLines(answer, 1, wait, true))
            return false;
        answer = LowerAscii(answer);
        if (ContainsText(answer, "err")) {
            SetLastError(ContainsText(answer, "no t5") ? KV_E_NO_KEY : KV_E_READER_ERROR);
            return false;
        }
        if (ParseTemicBlock(answer, out)) {
            SetLastError(S_OK);
            return true;
        }
        SetLastError(KV_E_INVALID_RESPONSE);
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

bool CTextProtocol::ResetTemic()
{
    const DWORD wait = ReplyTimeout();
    CSetAsideInput before(Received());
    PortWrite(kTemicResetCommand, sizeof kTemicResetCommand - 1, wait, false);
    std::string answer;
    if (!ReadReplyLines(answer, 1, wait, true))
        return false;
    if (ContainsText(LowerAscii(answer), "err")) {
        SetLastError(KV_E_READER_ERROR);
        return false;
    }
    return true;
}

HRESULT CTextProtocol::RunJob(const ReaderJob& job)
{
    if (job.type != RDJOB_TEMIC_INIT || !(ModelFlags() & MODEL_TEMIC))
        return KV_E_NOT_SUPPORTED;
    return InitializeTemicCard() ? S_OK : LastErrorCode();
}

bool CTextProtocol::InitializeTemicCard()
{
    const DWORD wait = ReplyTimeout();
    CSetAsideInput before(Received());
    for (int attempt = 0; attempt < Params().maxTries; ++attempt) {
        if (!JobPending())
            return false;
        PortWrite(kTemicInitCommand, sizeof kTemicInitCommand - 1, wait, false);
        std::string answer;
        if (!ReadReplyLines(answer, 1, wait, true))
            return false;
        answer = LowerAscii(answer);
        if (ContainsText(answer, "err")) {
            SetLastError(ContainsText(answer, "no t5") ? KV_E_NO_KEY : KV_E_READER_ERROR);
            return false;
        }
        if (ContainsText(answer, "ok"))
            return true;
        SetLastError(KV_E_INVALID_RESPONSE);
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}
