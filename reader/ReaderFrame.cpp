// Binary frames, the link that carries them, and the binary frame protocol.
#include "reader/ReaderFrame.h"
#include <algorithm>
#include <cwctype>
#include <map>
#include <mutex>
#include <stdexcept>
#include "comm/Notify.h"
#include "core/ResultCodes.h"
#include "reader/ReaderModels.h"

namespace {

constexpr BYTE kModeText = 0, kModeBinary = 1;
constexpr BYTE kKeepSpeed = 0x80;
// After a reply was seen, the wait ends this long after its start at the latest.
constexpr DWORD kDataSeenTimeout = 500;
// Bytes still arriving past the time-out are read for this long and no longer, so a device
// that keeps sending without a valid frame cannot hold the wait.
constexpr DWORD kLateBytesGrace = 500;
// The knock after a speed change: sends, the wait for any answer, and the pause after it.
constexpr int kKnocks = 3;
constexpr DWORD kKnockWait = 30;
constexpr DWORD kKnockPause = 50;
constexpr size_t kKnockRead = 100;
constexpr DWORD kKeepAlive = 18000;
constexpr DWORD kSearchPause = 10;
constexpr uint32_t kMifareKeyTypes = 0x3FFE00;
constexpr int kMaxCardsPerRound = 16;
constexpr int kModelNextCardNine = 4;    // answers "next card" past the last card with 9

// Every reader object of the process shares it: the program may make a new one for the port.
std::mutex g_commandedMutex;
std::map<std::wstring, CommandedLine> g_commanded;

std::wstring CommandedKey(const std::wstring& port)
{
    std::wstring key = port;
    for (wchar_t& c : key)
        c = static_cast<wchar_t>(std::towupper(c));
    return key;
}

// The reader answers the first commands of a fresh connection here, in text lines.
constexpr DWORD kFreshSpeed = 9600;

// One place per speed: a reader that may be in binary frames there gets the text-mode
// command before the version query, which finds it in text lines too.
void AddPlace(CommandedLine& line, const CommandedPlace& place)
{
    for (CommandedPlace& p : line.places) {
        if (p.speed == place.speed) {
            p.binary = p.binary || place.binary;
            return;
        }
    }
    line.places.push_back(place);
}

// Where a fresh connection asks first anyway is not worth an entry of its own.
void StoreLine(const std::wstring& key, const CommandedLine& line)
{
    const bool fresh = line.places.empty() ||
                       (line.places.size() == 1 && line.places[0].speed == kFreshSpeed && !line.places[0].binary);
    if (fresh)
        g_commanded.erase(key);
    else
        g_commanded[key] = line;
}

// Noted before the reply: a reader whose reply was lost may have switched all the same, or
// not heard the command at all, so what was noted before stays noted after the new place.
// Returns what was noted before, for a refusal to put back.
CommandedLine NoteCommand(const std::wstring& port, const CommandedPlace& target)
{
    std::lock_guard<std::mutex> lock(g_commandedMutex);
    const std::wstring key = CommandedKey(port);
    CommandedLine before;
    auto it = g_commanded.find(key);
    if (it != g_commanded.end())
        before = it->second;
    CommandedLine now;
    now.places.push_back(target);
    for (const CommandedPlace& p : before.places)
        AddPlace(now, p);
    StoreLine(key, now);
    return before;
}

// The reader took the command: it is where the command sent it, and nowhere else.
void NoteConfirmed(const std::wstring& port, const CommandedPlace& target)
{
    std::lock_guard<std::mutex> lock(g_commandedMutex);
    CommandedLine now;
    now.places.push_back(target);
    StoreLine(CommandedKey(port), now);
}

// The reader refused the command: it stays where it was.
void NoteRefused(const std::wstring& port, const CommandedLine& before)
{
    std::lock_guard<std::mutex> lock(g_commandedMutex);
    StoreLine(CommandedKey(port), before);
}

} // namespace

bool FindCommandedLine(const std::wstring& port, CommandedLine& line)
{
    std::lock_guard<std::mutex> lock(g_commandedMutex);
    auto it = g_commanded.find(CommandedKey(port));
    if (it == g_commanded.end() || it->second.places.empty())
        return false;
    line = it->second;
    return true;
}

// The link ----------------------------------------------------------------------------------

bool CFrameLink::ReceiveFrame(std::vector<BYTE>& reply, DWORD timeout)
{
    reply.clear();
    const DWORD start = GetTickCount();
    DWORD limit = timeout;
    for (;;) {
        bool seen = false;
        if (!Received().empty())
            m_heard = true;
        if (TakeReaderFrame(Received(), m_seq, reply, seen))
            return true;
        if (seen)
            limit = std::min(limit, kDataSeenTimeout);
        const DWORD elapsed = TicksSince(start);
        const int available = PortBytesAvailable();
        if (elapsed >= limit && (available == 0 || elapsed >= limit + kLateBytesGrace))
            break;
        PortRead(static_cast<size_t>(std::max(available, 1)), elapsed < limit ? limit - elapsed : 0, true);
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

bool CFrameLink::SendReaderFrame(BYTE command, const BYTE* payload, size_t length, BYTE* status,
                                 std::vector<BYTE>* reply)
{
    m_lastFrameTick = GetTickCount();
    ++m_seq;
    m_send = BuildReaderFrame(m_seq, command, payload, length);
    // What came before the request cannot be its reply: a frame joined to an earlier reply
    // may carry the sequence number this request has.
    DropInput();
    m_heard = false;

    const DWORD wait = CReaderServices::ReplyTimeout();
    if (HasFlag(RTF_SPEED_CHANGED)) {
        // The first bytes after a speed change may be lost: knock until the reader answers.
        SetFlag(RTF_SPEED_CHANGED, false);
        for (int i = 0; i < kKnocks && Received().empty(); ++i) {
            PortWrite(m_send.data(), m_send.size(), wait, true);
            PortRead(kKnockRead, kKnockWait, true);
        }
        Pause(kKnockPause);
        m_reply.clear();
        PortRead(kKnockRead, 0, true);
        m_heard = !Received().empty();
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

void CFrameLink::DropInput()
{
    // Read first, so that the log shows what is dropped.
    const int waiting = PortBytesAvailable();
    if (waiting > 0)
        PortRead(static_cast<size_t>(waiting), 0, true);
    Received().clear();
}

bool CFrameLink::Transact(BYTE command, const BYTE* payload, size_t length, BYTE& status, std::vector<BYTE>& data)
{
    return SendReaderFrame(command, payload, length, &status, &data);
}

bool CFrameLink::SendModeSpeed(BYTE mode, BYTE speedIndex)
{
    const BYTE payload[2] = {mode, speedIndex};
    const bool newSpeed = speedIndex < kReaderSpeedCount;
    CommandedPlace target;
    target.binary = mode == kModeBinary;
    if (newSpeed)
        target.speed = ReaderSpeeds[speedIndex];
    else
        Port().GetParams(&target.speed, nullptr, nullptr);
    const CommandedLine before = NoteCommand(Params().portName, target);
    BYTE status = 0;
    std::vector<BYTE> data;
    if (!SendReaderFrame(FrameOpCommand(FOP_MODE_SPEED), payload, sizeof payload, &status, &data))
        return false;
    const HRESULT hr = FrameReplyResult(FOP_MODE_SPEED, status, data.size());
    if (FAILED(hr)) {
        NoteRefused(Params().portName, before);
        SetLastError(hr);
        return false;
    }
    NoteConfirmed(Params().portName, target);
    if (newSpeed) {
        BYTE evChar = 0;
        Port().GetParams(nullptr, nullptr, &evChar);
        ReconfigurePort(ReaderSpeeds[speedIndex], evChar);
    }
    return true;
}

bool CFrameLink::SendTextMode()
{
    return SendModeSpeed(kModeText, kKeepSpeed);
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

CFrameCommands& CFrameProtocol::Commands()
{
    if (!m_commands)
        m_commands = std::make_unique<CFrameCommands>(Link());
    return *m_commands;
}

void CFrameProtocol::Report(bool ok, const wchar_t* what)
{
    if (!ok && !m_failing) {
        HRESULT code;
        std::wstring text;
        ReadLastError(code, text);
        wchar_t head[32];
        swprintf(head, 32, L" (code 0x%.8X): ", static_cast<unsigned>(code));
        LogWarningText((what + std::wstring(head) + text).c_str());
    }
    m_failing = !ok;
}

bool CFrameProtocol::Connect()
{
    if (Link().SendModeSpeed(kModeBinary, kKeepSpeed) && ApplySpeed(Params().speed) && Commands().EndSearch()) {
        // The keys lying on the reader now are taken as there, not reported.
        PollRound(true);
        return true;
    }
    // A reader left in binary mode would not hear the next connection's version query.
    HRESULT code;
    std::wstring text;
    ReadLastError(code, text);
    Link().SendModeSpeed(kModeText, 0);
    SetLastError(code, text);
    return false;
}

void CFrameProtocol::Input()
{
    // Nothing is expected outside a transaction.
    Link().DropInput();
}

void CFrameProtocol::Tick()
{
    const DWORD quiet = TicksSince(Link().LastFrameTick());
    if (quiet >= kKeepAlive) {
        Report(Link().SendModeSpeed(kModeBinary, kKeepSpeed), L"Keep-alive failed");
        LowerWait(kKeepAlive);
    } else {
        LowerWait(kKeepAlive - quiet);
    }

    if (HasFlag(RTF_POLL_SUSPENDED) || PollPeriod() < 0)
        return;
    const DWORD period = static_cast<DWORD>(PollPeriod());
    const DWORD since = TicksSince(m_roundEnd);
    if (since >= period) {
        PollRound(false);
        LowerWait(period);
    } else {
        LowerWait(period - since);
    }
}

bool CFrameProtocol::PollRound(bool clearFirst)
{
    // One copy for the whole round: the owner may change the settings meanwhile.
    const ReadKeysSettings settings = CardReading();
    bool changed = false, newKey = false, ok = true;
    if (clearFirst) {
        ClearKeyPresence();
        changed = true;
    }
    MarkKeysStale();
    if (settings.keyTypes & kMifareKeyTypes) {
        if (!Commands().BeginSearch()) {
            Report(false, L"Search for cards failed");
            return false;
        }
        ShortPause(kSearchPause);
        ok = ListCards(settings, clearFirst, newKey);
        changed = changed || newKey;
    }
    const bool ended = Commands().EndSearch();
    const size_t before = KeyCount();
    RemoveStaleKeys();
    if (before != 0 && KeyCount() == 0)
        changed = true;
    m_roundEnd = GetTickCount();
    if (changed)
        Indicate(newKey);
    Report(ok && ended, L"Poll round failed");
    return ok;
}

bool CFrameProtocol::ListCards(const ReadKeysSettings& settings, bool clearFirst, bool& newKey)
{
    const CFrameCommands::PresenceLookup lookup = [this](const _KEY_NUMBER& key, FrameCardClass& found) {
        _KEY_PRESENCE entry;
        if (!FindKeyNumber(key, entry))
            return false;
        found.keyType = entry.keyType;
        found.extra = entry.extra;
        found.present = 0;     // in the list; its place there is not needed
        return true;
    };
    for (int index = 0; index < kMaxCardsPerRound && !StopRequested(); ++index) {
        FrameCardClass card;
        if (!Commands().ClassifyCard(card, lookup))
            return false;
        if (card.key.length == 0)
            return true;
        if (card.keyType >= 0 && card.keyType < 32 && (settings.keyTypes >> card.keyType & 1)) {
            if (card.present >= 0) {
                RefreshKey(card.keyType, card.key);
            } else {
                _KEY_PRESENCE entry;
                entry.keyType = card.keyType;
                entry.extra = card.extra;
                entry.key = card.key;
                ReadCardMemory(entry, settings);
                AddKeyPresence(entry, !clearFirst);
                newKey = true;
            }
        }
        BYTE status = 0;
        if (!Commands().NextCard(status))
            return false;
        if (status != kFrameStatusOk && !(status == kFrameStatusNoCard && Model() == kModelNextCardNine)) {
            SetLastError(KV_E_READER_ERROR);
            return false;
        }
    }
    return true;
}

void CFrameProtocol::ReadCardMemory(_KEY_PRESENCE& entry, const ReadKeysSettings& settings)
{
    switch (ChooseCardMemoryRead(entry.keyType, entry.extra, settings)) {
    case CMR_ULTRALIGHT:
        entry.memResult = Commands().ReadUltralight(settings.ultralight, entry.memory);
        break;
    case CMR_CLASSIC:
        LogInfoText(L"reading mifare classic");
        entry.memResult = Commands().ReadClassicBlock(settings.classic, entry.keyType, entry.key, entry.memory);
        break;
    case CMR_PLUS:
        entry.memResult = Commands().ReadPlusBlock(settings.plus, entry.keyType, entry.memory);
        break;
    case CMR_NONE:
        break;
    }
}

void CFrameProtocol::Indicate(bool newKey)
{
    const BYTE field = KeyCount() == 0 ? kIndicateNoKey : kIndicateKeys;
    bool ok = Commands().Indicate(field) && Commands().Indicate(newKey ? field | kIndicateNewKey : field);
    if (ok && newKey)
        ok = Commands().Indicate(kIndicateAfterNewKey);
    Report(ok, L"Indication failed");
}

void CFrameProtocol::Disconnect()
{
    // Whatever its speed, the next connection must find the reader in text mode.
    Commands().Indicate(kIndicateLeaving);
    Link().SendModeSpeed(kModeText, 0);
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
        if (!Commands().WriteKey(bank, slot, job.keys[i], job.param != 0))
            return LastErrorCode();
        AdvanceJob();
    }
    return S_OK;
}
