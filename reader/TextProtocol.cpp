// Protocol 1: the reader writes a text line for each key it sees and "No card" when its field
// is empty; the program sends short text commands.
#include "reader/TextProtocol.h"
#include <algorithm>
#include <cstdio>
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "reader/KeyLine.h"
#include "reader/Reader.h"

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool ContainsText(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

const char kReadOnceCommand[] = "r\n";
const char kNoCardProgramLine[] = "tNOCNo card\\r\\n\r\n";

namespace {

constexpr size_t kCheckInChunk = 64;
// A check-in read ends when a read brings nothing new; a device that never stops talking
// must not keep the thread from its other duties longer than this.
constexpr DWORD kCheckInDeadline = 200;
constexpr DWORD kUltralightLineTimeout = 500;
constexpr int kKeyTypeUltralight = 9;
constexpr int kUltralightLastPage = 15;

std::string TrimLineEnd(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n'))
        s.pop_back();
    return s;
}

void SkipBlanks(std::string_view s, size_t& pos)
{
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t'))
        ++pos;
}

// A hexadecimal number of at most eight digits after optional blanks.
bool ReadHex(std::string_view s, size_t& pos, uint32_t& value)
{
    SkipBlanks(s, pos);
    const size_t start = pos;
    value = 0;
    while (pos < s.size() && HexDigitValue(s[pos]) >= 0) {
        if (pos - start == 8)
            return false;
        value = value << 4 | static_cast<uint32_t>(HexDigitValue(s[pos]));
        ++pos;
    }
    return pos > start;
}

// "%x: %x %x %x %x": the page number and its four bytes.
bool ParsePageLine(std::string_view line, BYTE* out)
{
    size_t pos = 0;
    uint32_t v;
    if (!ReadHex(line, pos, v))
        return false;
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != ':')
        return false;
    ++pos;
    for (int i = 0; i < 4; ++i) {
        if (!ReadHex(line, pos, v) || v > 0xFF)
            return false;
        out[i] = static_cast<BYTE>(v);
    }
    return true;
}

} // namespace

std::string OutputTemplateLine(std::string_view templ) { return "tFMT" + std::string(templ) + "\r\n"; }

std::string OutputArgumentLine(std::string_view args) { return "tARG" + std::string(args) + "\r\n"; }

std::string UltralightReadCommand(int page)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "get %.2x\r", static_cast<unsigned>(page) & 0xFF);
    return buf;
}

bool ParseUltralightPages(std::string_view answer, BYTE (&pages)[16])
{
    int found = 0;
    size_t pos = 0;
    while (pos < answer.size() && found < 4) {
        size_t end = answer.find('\r', pos);
        if (end == std::string_view::npos)
            end = answer.size();
        // An answer without CR still separates its lines by LF.
        const size_t lf = answer.find('\n', pos);
        if (lf != std::string_view::npos && lf < end)
            end = lf;
        if (ParsePageLine(answer.substr(pos, end - pos), pages + 4 * found))
            ++found;
        pos = end + 1;
        if (pos < answer.size() && answer[end] == '\r' && answer[pos] == '\n')
            ++pos;
    }
    return found == 4;
}

int UltralightMemoryBytes(int count)
{
    return count < 1 ? 0 : 4 * std::min(count, 4);
}

// Reader side ---------------------------------------------------------------------------------

// The connect routine of the text protocol. Its argument names the reader family (the model
// index less one, 0 for the generic readers); the families differ only in the dialect of
// their key lines, which follows from the model index when the lines are parsed.
bool CReader::TextSetup(int variant)
{
    (void)variant;
    m_temicIndex = -1;
    m_temicDelay = 0;
    m_lastTemicCommand = GetTickCount();
    return ConnectPoll();
}

void CReader::TextProtocolTick()
{
    if (m_flags & RTF_INPUT)
        ReceiveLines();

    TemicTick();

    if (m_noCard) {
        const DWORD elapsed = GetTickCount() - m_noCardTick;
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

    // Lines that came in behind the answer of a command wait for no further event.
    if (std::find(m_recv.begin(), m_recv.end(), '\n') != m_recv.end())
        ProcessLines();
}

void CReader::ReceiveLines()
{
    m_flags &= ~RTF_INPUT;
    m_lastCheckIn = GetTickCount();
    if (m_cp.checkInPeriod < 0) {
        const int available = PortBytesAvailable();
        if (available > 0)
            PortRead(static_cast<size_t>(available), 0, false);
    } else {
        const DWORD start = GetTickCount();
        for (;;) {
            const size_t before = m_recv.size();
            if (PortRead(kCheckInChunk, 0, false) == before)
                break;
            // Complete lines are handled as they come, so the buffer holds one line at most.
            ProcessLines();
            if (GetTickCount() - start >= kCheckInDeadline)
                break;
        }
    }
    if (!m_recv.empty())
        ProcessLines();
}

void CReader::ProcessLines()
{
    for (;;) {
        // Each line leaves the buffer before it is handled: handling it may exchange further
        // commands with the reader through the same buffer.
        auto lf = std::find(m_recv.begin(), m_recv.end(), '\n');
        if (lf == m_recv.end())
            break;
        std::string line(m_recv.begin(), lf);
        m_recv.erase(m_recv.begin(), lf + 1);
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
}

void CReader::ReadUltralightMemory(_KEY_PRESENCE& entry, int page, int count)
{
    if (page < 0 || page > kUltralightLastPage || count < 1) {
        entry.memResult = E_INVALIDARG;
        return;
    }
    BYTE pages[16] = {};
    if (ReadUltralightPages(page, pages)) {
        entry.memory = MakeKeyNumber(pages, static_cast<size_t>(UltralightMemoryBytes(count)));
        entry.memResult = KEYMEM_REPORT_MEMORY;
    } else {
        entry.memResult = GetLastErrorCode();
    }
}

bool CReader::HandleKeyLine(const std::wstring& line)
{
    _KEY_PRESENCE entry;
    if (!ParseKeyLine(line, entry.keyType, entry.key, entry.extra, model, version, (m_flags & RTF_QM100) != 0))
        return false;
    uint32_t keyTypes;
    bool classic, ultralight;
    int page, count;
    {
        CCriticalSectionLock lock(&m_cs);
        keyTypes = readKeys.keyTypes;
        classic = readKeys.classic.enabled;
        ultralight = readKeys.ultralight.enabled;
        page = readKeys.ultralight.page;
        count = readKeys.ultralight.count;
    }
    if (entry.keyType < 0 || entry.keyType > 31 || !(keyTypes & (1u << entry.keyType)))
        return true;
    entry.memResult = KEYMEM_REPORT_KEY;

    const int t = entry.keyType;
    const bool classicCard = t == 10 || t == 11 || t == 12 || t == 21 ||
                             ((entry.extra & 0x09) == 0x09 && (entry.extra & 0x30) == 0x10);
    if (classic && (m_flags & RTF_BINARY_FRAMES) && classicCard) {
        // Its memory blocks need the binary frames; the number alone would be the wrong key.
        PushErrorNotification(KV_E_MIFARE_BINARY_MODE);
        return true;
    }
    if (t == kKeyTypeUltralight && ultralight)
        ReadUltralightMemory(entry, page, count);
    KeySeen(entry, true);
    return true;
}

bool CReader::ReadKeyOnce(_KEY_PRESENCE& entry)
{
    const DWORD wait = static_cast<DWORD>(std::max(m_cp.receiveTimeout, 0));
    for (int attempt = 0; attempt < m_cp.maxTries; ++attempt) {
        PortWrite(kReadOnceCommand, sizeof kReadOnceCommand - 1, wait, false);
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
    if (entry.keyType == kKeyTypeUltralight) {
        bool ultralight;
        int page, count;
        {
            CCriticalSectionLock lock(&m_cs);
            ultralight = readKeys.ultralight.enabled;
            page = readKeys.ultralight.page;
            count = readKeys.ultralight.count;
        }
        if (ultralight)
            ReadUltralightMemory(entry, page, count);
    }
    // Listed without a report: a key lying on the reader while it connects is not transferred.
    KeySeen(entry, false);
    return true;
}

bool CReader::ReadUltralightPages(int page, BYTE (&buffer)[16])
{
    const DWORD wait = static_cast<DWORD>(std::max(m_cp.receiveTimeout, 0));
    const std::string command = UltralightReadCommand(page);
    if (m_cp.maxTries <= 0) {
        SetLastError(KV_E_RESPONSE_TIMEOUT);
        return false;
    }
    CSetAsideInput before(m_recv);
    for (int attempt = 0; attempt < m_cp.maxTries; ++attempt) {
        PortWrite(command.data(), command.size(), wait, false);
        std::string first;
        if (!ReadReplyLines(first, 1, wait, false))
            return false;
        const std::string status = LowerAscii(first);
        if (ContainsText(status, "no card")) {
            SetLastError(KV_E_NO_KEY);
            return false;
        }
        if (ContainsText(status, "err")) {
            SetLastError(KV_E_READER_ERROR);
            return false;
        }
        std::string more;
        ReadReplyLines(more, 4, kUltralightLineTimeout, false);   // what came is judged below
        const std::string text = first + more;
        if (ContainsText(LowerAscii(text), "ok") && ParseUltralightPages(text, buffer)) {
            SetLastError(S_OK);
            return true;
        }
        SetLastError(KV_E_INVALID_RESPONSE);
    }
    return false;
}

// Output programming (model 7) ----------------------------------------------------------------

bool CReader::SendProgramLine(const std::string& line)
{
    const DWORD wait = static_cast<DWORD>(std::max(m_cp.receiveTimeout, 0));
    PortWrite(line.data(), line.size(), wait, false);
    std::string answer;
    if (!ReadReplyLines(answer, 1, wait, false))
        return false;
    if (ContainsText(LowerAscii(answer), "err")) {
        SetLastError(KV_E_READER_ERROR);
        return false;
    }
    return true;
}

bool CReader::SendTemplateLine(const char* templ) { return SendProgramLine(OutputTemplateLine(templ)); }

bool CReader::SendArgumentLine(const char* args) { return SendProgramLine(OutputArgumentLine(args)); }

bool CReader::SendNoCardLine() { return SendProgramLine(kNoCardProgramLine); }

bool CReader::ProgramOutput(const char* templ, const char* args)
{
    if (m_cp.maxTries <= 0) {
        SetLastError(KV_E_RESPONSE_TIMEOUT);
        return false;
    }
    if (templ && !SendTemplateLine(templ))
        return false;
    if (args && !SendArgumentLine(args))
        return false;
    return SendNoCardLine();
}
