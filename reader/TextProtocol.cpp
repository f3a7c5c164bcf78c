// Protocol 1: the reader writes a text line for each key it sees and "No card" when its field
// is empty; the program sends short text commands.
#include "reader/TextProtocol.h"
#include <algorithm>
#include <cstdio>
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "reader/KeyLine.h"
#include "reader/ReaderLines.h"

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

CTextProtocol::CTextProtocol(CReader& reader)
    : CReaderProtocol(reader), m_lastCheckIn(GetTickCount()), m_lastTemicCommand(GetTickCount())
{
}

bool CTextProtocol::Connect()
{
    if (HasFlag(RTF_BINARY_FRAMES)) {
        // A Mifare reader in text mode: its speed is set through frames, its lines wake the
        // thread at their LF.
        if (!ApplySpeed(Params().speed))
            return false;
        DWORD speed = 0;
        Port().GetParams(&speed, nullptr, nullptr);
        ReconfigurePort(speed, '\n');
    }
    if (ModelFlags() & MODEL_PROGRAM_OUTPUT) {
        const bool programmed = (Params().flags & READER_WIEGAND)
            ? ProgramOutput("Em-Marine[%.2X%.2X] %.3d,%.5d\\r\\n", "b4 b3 b2 w01")
            : ProgramOutput("DALLAS[%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X] 000,00000\\r\\n", "b7 b6 b5 b4 b3 b2 b1 b0");
        if (!programmed)
            return false;
    }
    return TextSetup(ReaderModelRow(Model()).textVariant);
}

// The families differ only in the dialect of their key lines, which follows from the model
// when the lines are parsed.
bool CTextProtocol::TextSetup(int variant)
{
    (void)variant;
    m_temicIndex = -1;
    m_temicDelay = 0;
    m_lastTemicCommand = GetTickCount();
    return ConnectPoll();
}

void CTextProtocol::Input() { ReceiveLines(); }

void CTextProtocol::Tick()
{
    TemicTick();
    CheckNoCardGrace();

    const int checkIn = Params().checkInPeriod;
    if (checkIn >= 0) {
        const DWORD period = static_cast<DWORD>(checkIn);
        const DWORD elapsed = GetTickCount() - m_lastCheckIn;
        if (elapsed >= period) {
            ReceiveLines();
            LowerWait(period);
        } else {
            LowerWait(period - elapsed);
        }
    }

    // Lines that came in behind the answer of a command wait for no further event.
    const std::vector<BYTE>& recv = Received();
    if (std::find(recv.begin(), recv.end(), '\n') != recv.end())
        ProcessLines();
}

void CTextProtocol::ReceiveLines()
{
    SetFlag(RTF_INPUT, false);
    m_lastCheckIn = GetTickCount();
    if (Params().checkInPeriod < 0) {
        const int available = PortBytesAvailable();
        if (available > 0)
            PortRead(static_cast<size_t>(available), 0, false);
    } else {
        const DWORD start = GetTickCount();
        for (;;) {
            const size_t before = Received().size();
            if (PortRead(kCheckInChunk, 0, false) == before)
                break;
            // Complete lines are handled as they come, so the buffer holds one line at most.
            ProcessLines();
            if (GetTickCount() - start >= kCheckInDeadline)
                break;
        }
    }
    if (!Received().empty())
        ProcessLines();
}

void CTextProtocol::ProcessLines()
{
    std::vector<BYTE>& recv = Received();
    for (;;) {
        // Each line leaves the buffer before it is handled: handling it may exchange further
        // commands with the reader through the same buffer.
        auto lf = std::find(recv.begin(), recv.end(), '\n');
        if (lf == recv.end())
            break;
        std::string line(recv.begin(), lf);
        recv.erase(recv.begin(), lf + 1);
        if (!line.empty() && line.front() == '\r')
            line.erase(0, 1);
        line = TrimLineEnd(line);
        if (line.empty())
            continue;
        const std::wstring w = MultiByteToWString(line, CP_ACP);
        if (IsNoCardLine(w)) {
            NoCard(TemicReading());
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

void CTextProtocol::ReadUltralightMemory(_KEY_PRESENCE& entry, const MifareULSettings& ultralight)
{
    const int page = ultralight.page, count = ultralight.count;
    if (page < 0 || page > kUltralightLastPage || count < 1) {
        entry.memResult = E_INVALIDARG;
        return;
    }
    BYTE pages[16] = {};
    if (ReadUltralightPages(page, pages)) {
        entry.memory = MakeKeyNumber(pages, static_cast<size_t>(UltralightMemoryBytes(count)));
        entry.memResult = KEYMEM_REPORT_MEMORY;
    } else {
        entry.memResult = LastErrorCode();
    }
}

bool CTextProtocol::HandleKeyLine(const std::wstring& line)
{
    _KEY_PRESENCE entry;
    if (!ParseKeyLine(line, entry.keyType, entry.key, entry.extra, Model(), Version(), HasFlag(RTF_QM100)))
        return false;
    const ReadKeysSettings reading = CardReading();
    if (entry.keyType < 0 || entry.keyType > 31 || !(reading.keyTypes & (1u << entry.keyType)))
        return true;
    entry.memResult = KEYMEM_REPORT_KEY;

    const int t = entry.keyType;
    const bool classicCard = t == 10 || t == 11 || t == 12 || t == 21 ||
                             ((entry.extra & 0x09) == 0x09 && (entry.extra & 0x30) == 0x10);
    if (reading.classic.enabled && HasFlag(RTF_BINARY_FRAMES) && classicCard) {
        // Its memory blocks need the binary frames; the number alone would be the wrong key.
        PushErrorNotification(KV_E_MIFARE_BINARY_MODE);
        return true;
    }
    if (t == kKeyTypeUltralight && reading.ultralight.enabled)
        ReadUltralightMemory(entry, reading.ultralight);
    KeySeen(entry, true);
    return true;
}

bool CTextProtocol::ReadKeyOnce(_KEY_PRESENCE& entry)
{
    const DWORD wait = ReplyTimeout();
    for (int attempt = 0; attempt < Params().maxTries; ++attempt) {
        PortWrite(kReadOnceCommand, sizeof kReadOnceCommand - 1, wait, false);
        std::string reply;
        if (!ReadReplyLines(reply, 1, wait, false))
            return false;
        const std::wstring line = MultiByteToWString(TrimLineEnd(reply), CP_ACP);
        entry = _KEY_PRESENCE{};
        if (_wcsicmp(line.c_str(), L"No card") == 0)
            return true;
        if (IsKeyLine(line) &&
            ParseKeyLine(line, entry.keyType, entry.key, entry.extra, Model(), Version(), HasFlag(RTF_QM100)))
            return true;
        entry = _KEY_PRESENCE{};
        SetLastError(KV_E_INVALID_RESPONSE);
    }
    SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

bool CTextProtocol::ConnectPoll()
{
    _KEY_PRESENCE entry;
    if (!ReadKeyOnce(entry))
        return false;
    if (entry.keyType == kKeyTypeUltralight) {
        const ReadKeysSettings reading = CardReading();
        if (reading.ultralight.enabled)
            ReadUltralightMemory(entry, reading.ultralight);
    }
    // Listed without a report: a key lying on the reader while it connects is not transferred.
    KeySeen(entry, false);
    return true;
}

bool CTextProtocol::ReadUltralightPages(int page, BYTE (&buffer)[16])
{
    const DWORD wait = ReplyTimeout();
    const std::string command = UltralightReadCommand(page);
    if (Params().maxTries <= 0) {
        SetLastError(KV_E_RESPONSE_TIMEOUT);
        return false;
    }
    CSetAsideInput before(Received());
    for (int attempt = 0; attempt < Params().maxTries; ++attempt) {
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

// Output programming ---------------------------------------------------------------------------

bool CTextProtocol::SendProgramLine(const std::string& line)
{
    const DWORD wait = ReplyTimeout();
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

bool CTextProtocol::SendTemplateLine(const char* templ) { return SendProgramLine(OutputTemplateLine(templ)); }

bool CTextProtocol::SendArgumentLine(const char* args) { return SendProgramLine(OutputArgumentLine(args)); }

bool CTextProtocol::SendNoCardLine() { return SendProgramLine(kNoCardProgramLine); }

bool CTextProtocol::ProgramOutput(const char* templ, const char* args)
{
    if (Params().maxTries <= 0) {
        SetLastError(KV_E_RESPONSE_TIMEOUT);
        return false;
    }
    if (templ && !SendTemplateLine(templ))
        return false;
    if (args && !SendArgumentLine(args))
        return false;
    return SendNoCardLine();
}
