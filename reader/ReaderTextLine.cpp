// Protocol 1: the reader writes a text line per key it sees and "No card" when its field is
// empty; the program sends short text commands.
#include <algorithm>
#include "core/ResultCodes.h"
#include "reader/KeyLine.h"
#include "core/SysUtil.h"
#include "reader/Reader.h"

namespace {

constexpr size_t kCheckInChunk = 64;
constexpr int kMaxCheckInChunks = 64;

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string TrimLineEnd(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n'))
        s.pop_back();
    return s;
}

} // namespace

// The connect routine of the text protocol. Its argument names the reader family the set-up
// is made for (the model index less one; 0 for the generic readers). Every family is set up
// the same way: the key lying on the reader is read once and listed without being reported.
// What differs between the families - the dialect of their key lines - follows from the model
// index when the lines are parsed.
bool CReader::TextSetup(int variant)
{
    (void)variant;
    return ConnectPoll();
}

void CReader::TextProtocolTick()
{
    if (m_flags & RTF_INPUT)
        ReceiveLines();

    const DWORD now = GetTickCount();
    if (m_noCard) {
        const DWORD elapsed = now - m_noCardTick;
        if (elapsed >= kNoCardGrace) {
            m_noCard = false;
            ClearKeyPresence();
        } else {
            LowerWait(kNoCardGrace - elapsed);
        }
    }

    if (m_cp.checkInPeriod >= 0) {
        const DWORD period = static_cast<DWORD>(m_cp.checkInPeriod);
        const DWORD elapsed = GetTickCount() - m_lastCheckIn;
        if (elapsed >= period) {
            ReceiveLines();
            LowerWait(period);
        } else {
            LowerWait(period - elapsed);
        }
    }
}

void CReader::ReceiveLines()
{
    m_flags &= ~RTF_INPUT;
    m_lastCheckIn = GetTickCount();
    if (m_cp.checkInPeriod < 0) {
        const int available = PortBytesAvailable();
        if (available <= 0)
            return;
        PortRead(static_cast<size_t>(available), 0, false);
    } else {
        for (int i = 0; i < kMaxCheckInChunks; ++i) {
            const size_t before = m_recv.size();
            if (PortRead(kCheckInChunk, 0, false) == before)
                break;
        }
    }
    if (!m_recv.empty())
        ProcessLines();
}

void CReader::ProcessLines()
{
    size_t pos = 0;
    for (;;) {
        auto lf = std::find(m_recv.begin() + static_cast<ptrdiff_t>(pos), m_recv.end(), '\n');
        if (lf == m_recv.end())
            break;
        std::string line(m_recv.begin() + static_cast<ptrdiff_t>(pos), lf);
        pos = static_cast<size_t>(lf - m_recv.begin()) + 1;
        if (!line.empty() && line.front() == '\r')
            line.erase(0, 1);
        line = TrimLineEnd(line);
        if (line.empty())
            continue;
        const std::wstring w = MultiByteToWString(line, CP_ACP);
        if (IsNoCardLine(w)) {
            bool temicOn;
            {
                CCriticalSectionLock lock(&m_cs);
                temicOn = readKeys.temic.enabled;
            }
            NoCard((m_flags & RTF_EXTENDED) && temicOn);
            continue;
        }
        if (IsKeyLine(w) && HandleKeyLine(w))
            continue;
        if (!m_unrecognisedReported) {
            m_unrecognisedReported = true;
            PushErrorNotification(KV_E_UNRECOGNIZED_MSG);
        }
    }
    m_recv.erase(m_recv.begin(), m_recv.begin() + static_cast<ptrdiff_t>(pos));
}

bool CReader::HandleKeyLine(const std::wstring& line)
{
    _KEY_PRESENCE entry;
    if (!ParseKeyLine(line, entry.keyType, entry.key, entry.extra, model, version, (m_flags & RTF_QM100) != 0))
        return false;
    uint32_t keyTypes;
    {
        CCriticalSectionLock lock(&m_cs);
        keyTypes = readKeys.keyTypes;
    }
    if (!(keyTypes & (1u << entry.keyType)))
        return true;
    entry.memResult = KEYMEM_REPORT_KEY;
    KeySeen(entry, true);
    return true;
}

bool CReader::ReadKeyOnce(_KEY_PRESENCE& entry)
{
    const DWORD wait = static_cast<DWORD>(std::max(m_cp.receiveTimeout, 0));
    for (int attempt = 0; attempt < m_cp.maxTries; ++attempt) {
        PortWrite("r\n", 2, wait, false);
        std::string reply;
        if (!ReadReplyLines(reply, 1, wait, false))
            return false;
        const std::wstring line = MultiByteToWString(TrimLineEnd(reply), CP_ACP);
        entry = _KEY_PRESENCE{};
        if (_wcsicmp(line.c_str(), L"No card") == 0)
            return true;
        if (IsKeyLine(line) &&
            ParseKeyLine(line, entry.keyType, entry.key, entry.extra, model, version, (m_flags & RTF_QM100) != 0))
            return true;
        entry = _KEY_PRESENCE{};
        SetLastError(KV_E_INVALID_RESPONSE);
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

bool CReader::ConnectPoll()
{
    _KEY_PRESENCE entry;
    if (!ReadKeyOnce(entry))
        return false;
    KeySeen(entry, false);
    return true;
}

bool CReader::SendProgramLine(const std::string& line)
{
    const DWORD wait = static_cast<DWORD>(std::max(m_cp.receiveTimeout, 0));
    PortWrite(line.data(), line.size(), wait, false);
    std::string answer;
    if (!ReadReplyLines(answer, 1, wait, false))
        return false;
    if (Lower(answer).find("err") != std::string::npos) {
        SetLastError(KV_E_READER_ERROR);
        return false;
    }
    return true;
}

bool CReader::ProgramOutput(const char* templ, const char* args)
{
    if (m_cp.maxTries <= 0) {
        SetLastError(KV_E_RESPONSE_TIMEOUT);
        return false;
    }
    if (templ && !SendProgramLine(std::string("tFMT") + templ + "\r\n"))
        return false;
    if (args && !SendProgramLine(std::string("tARG") + args + "\r\n"))
        return false;
    return SendProgramLine("tNOC" "No card\\r\\n" "\r\n");
}

bool CReader::InitializeTemicCard()
{
    const DWORD wait = static_cast<DWORD>(std::max(m_cp.receiveTimeout, 0));
    static const char command[] = "t57 01 00 00 14 80 40 02 00\r";
    for (int attempt = 0; attempt < m_cp.maxTries; ++attempt) {
        {
            CCriticalSectionLock lock(&m_cs);
            if (jobState != RDJOB_PENDING)
                break;
        }
        PortWrite(command, sizeof command - 1, wait, false);
        std::string answer;
        if (!ReadReplyLines(answer, 1, wait, false))
            return false;
        answer = Lower(answer);
        if (answer.find("err") != std::string::npos) {
            SetLastError(answer.find("no t5") != std::string::npos ? KV_E_NO_KEY : KV_E_READER_ERROR);
            return false;
        }
        if (answer.find("ok") != std::string::npos)
            return true;
        SetLastError(KV_E_INVALID_RESPONSE);
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}
