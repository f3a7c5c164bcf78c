#include "reader/ReaderModels.h"
#include <cwctype>
#include <string>
#include "config/TransferRecords.h"

const wchar_t* const ReaderModelNames[kReaderModelCount] = {
    L"?",           L"Vell-4 USB",  L"Oblon III Rd-All", L"Vell-4 USB MF", L"Oblon III Net",
    L"CP-Vell-4MF", L"Vell-4 EHR",  L"Vell-4 Base",      L"Oblon V",       L"KR-5040",
    L"Vell-4 Rd All", L"Vell-4 USB MFI", L"Vell-4 MF CCID",
};

const wchar_t* ReaderModelName(int model)
{
    return (model >= 0 && model < kReaderModelCount) ? ReaderModelNames[model] : ReaderModelNames[0];
}

namespace {

constexpr uint32_t s9600 = 1u << 0, s38400 = 1u << 2, s115200 = 1u << 4;
constexpr uint32_t kSwitchedSpeeds = 0x1F;   // 9600 to 115200
constexpr int kKeyTypeTemic = 8;

constexpr unsigned Major(PackedVersion fw) { return fw & 0xFF; }
constexpr unsigned Minor(PackedVersion fw) { return (fw >> 8) & 0xFF; }

// Model 1 reports one number as its version: the Temic commands came with 106, and 106
// alone prints HID numbers in text order.
uint32_t Model1Firmware(PackedVersion fw)
{
    return (fw > 105 ? MODEL_TEMIC : 0) | (fw == 106 ? MODEL_HID_TEXT_ORDER : 0);
}
uint32_t UsbMfFirmware(PackedVersion fw) { return Major(fw) == 1 && Minor(fw) == 8 ? MODEL_SPEED_SWITCH : 0; }
uint32_t NetFirmware(PackedVersion fw)
{
    return Major(fw) > 2 || (Major(fw) == 2 && Minor(fw) > 9) ? MODEL_SPEED_SWITCH : 0;
}
uint32_t EhrFirmware(PackedVersion fw) { return Major(fw) & 1 ? MODEL_OTHER_QM100 : 0; }
uint32_t OblonVFirmware(PackedVersion fw) { return Major(fw) > 9 ? MODEL_OTHER_QM100 : 0; }

// By model index, as ReaderModelNames.
const ReaderModelInfo kModels[kReaderModelCount] = {
    // "?": nothing is known until the reader says what it is.
    {.querySpeed = 9600, .retrySpeed = 115200, .protocol = RDPROT_NONE},
    // Vell-4 USB
    {.codes = {0x301}, .protocol = RDPROT_TEXT, .firmwareFlags = Model1Firmware, .keyTypes = 0x1606,
     .speeds = s9600},
    // Oblon III Rd-All
    {.codes = {0x501}, .protocol = RDPROT_TEXT, .textVariant = 1, .keyTypes = 0x1606},
    // Vell-4 USB MF
    {.codes = {0x811}, .querySpeed = 9600, .retrySpeed = 115200, .protocol = RDPROT_TEXT,
     .altFlag = READER_BINARY, .altProtocol = RDPROT_FRAME, .flags = MODEL_BINARY_FRAMES,
     .firmwareFlags = UsbMfFirmware, .keyTypes = 0x3FFE00, .speeds = s9600},
    // Oblon III Net
    {.codes = {0x903}, .protocol = RDPROT_TEXT, .altFlag = READER_BINARY, .altProtocol = RDPROT_FRAME,
     .flags = MODEL_BINARY_FRAMES, .firmwareFlags = NetFirmware, .keyTypes = 0x3FFE00, .speeds = s9600},
    // CP-Vell-4MF
    {.codes = {0xF11}, .protocol = RDPROT_TEXT, .altFlag = READER_BINARY, .altProtocol = RDPROT_FRAME,
     .flags = MODEL_BINARY_FRAMES, .keyTypes = 0x3FFE00, .speeds = s9600},
    // Vell-4 EHR
    {.codes = {0x302}, .protocol = RDPROT_TEXT, .altFlag = READER_PROT_VELL4, .altProtocol = RDPROT_BYTE,
     .textVariant = 5, .flags = MODEL_TEMIC, .firmwareFlags = EhrFirmware, .keyTypes = 0x1B6, .speeds = s9600,
     .altSpeeds = s38400},
    // Vell-4 Base
    {.codes = {0x303}, .protocol = RDPROT_TEXT, .altFlag = READER_PROT_VELL4, .altProtocol = RDPROT_BYTE,
     .flags = MODEL_PROGRAM_OUTPUT, .keyTypes = 0x80, .wiegandKeyTypes = 0x2, .speeds = s9600,
     .altSpeeds = s38400},
    // Oblon V
    {.codes = {0x802, 0xFFFF}, .protocol = RDPROT_TEXT, .textVariant = 7, .firmwareFlags = OblonVFirmware,
     .keyTypes = 0x72},
    // KR-5040
    {.codes = {0x821}, .querySpeed = 115200, .protocol = RDPROT_ESCAPED, .keyTypes = 0x102, .speeds = s115200},
    // Vell-4 Rd All
    {.protocol = RDPROT_TEXT, .textVariant = 9, .flags = MODEL_TEMIC, .keyTypes = 0x1706, .speeds = s9600},
    // Vell-4 USB MFI
    {.codes = {kReaderCodeMfi}, .protocol = RDPROT_TEXT, .altFlag = READER_BINARY, .altProtocol = RDPROT_FRAME,
     .flags = MODEL_BINARY_FRAMES | MODEL_SPEED_SWITCH | MODEL_MIFARE_TEXT_ORDER, .keyTypes = 0x3FFE00,
     .speeds = s9600},
    // Vell-4 MF CCID: a PC/SC reader, whose cards the watcher reads.
    {.protocol = RDPROT_NONE, .keyTypes = 0x3FFE00},
};

} // namespace

const ReaderModelInfo& ReaderModelRow(int model)
{
    return kModels[(model > 0 && model < kReaderModelCount) ? model : 0];
}

uint32_t ReaderModelFlags(int model, PackedVersion firmware)
{
    const ReaderModelInfo& row = ReaderModelRow(model);
    return row.flags | (row.firmwareFlags ? row.firmwareFlags(firmware) : 0);
}

int ReaderProtocolFor(int model, uint32_t readerFlags)
{
    const ReaderModelInfo& row = ReaderModelRow(model);
    return row.altFlag && (readerFlags & row.altFlag) ? row.altProtocol : row.protocol;
}

int ReaderModelFromCode(uint32_t code)
{
    if (code == 0)
        return 0;
    for (int m = 1; m < kReaderModelCount; ++m)
        if (kModels[m].codes[0] == code || kModels[m].codes[1] == code)
            return m;
    return 0;
}

const wchar_t* KeyTypeShortName(int keyType)
{
    static const wchar_t* const names[kKeyTypeCount] = {
        L"X",   L"EM",   L"HID", L"IC", L"COD433", L"COD433F", L"CAME",   L"DS",     L"TEMIC", L"UL", L"M1K",
        L"M2K", L"M4K",  L"M+",  L"M+1K", L"M+2K", L"M+4K",    L"SMXM1K", L"SMXM4K", L"DF",    L"PX", L"MINI",
    };
    return (keyType >= 0 && keyType < kKeyTypeCount) ? names[keyType] : names[0];
}

uint32_t ReaderKeyTypeMask(int model, PackedVersion firmware, bool wiegand)
{
    const ReaderModelInfo& row = ReaderModelRow(model);
    const uint32_t mask = wiegand && row.wiegandKeyTypes ? row.wiegandKeyTypes : row.keyTypes;
    return mask | (ReaderModelFlags(model, firmware) & MODEL_TEMIC ? 1u << kKeyTypeTemic : 0);
}

const DWORD ReaderSpeeds[kReaderSpeedCount] = {9600, 19200, 38400, 57600, 115200, 230400};

int ReaderSpeedIndex(DWORD speed)
{
    for (int i = 0; i < kReaderSpeedCount; ++i)
        if (ReaderSpeeds[i] == speed)
            return i;
    return -1;
}

bool ReaderSwitchesSpeed(int model, PackedVersion firmware)
{
    return (ReaderModelFlags(model, firmware) & MODEL_SPEED_SWITCH) != 0;
}

uint32_t ReaderAllowedSpeeds(int model, PackedVersion firmware, int protocol)
{
    if (ReaderSwitchesSpeed(model, firmware))
        return kSwitchedSpeeds;
    const ReaderModelInfo& row = ReaderModelRow(model);
    return protocol == row.protocol || !row.altSpeeds ? row.speeds : row.altSpeeds;
}

int ChooseReaderSpeedIndex(uint32_t allowed, DWORD wanted, bool lowestOnly)
{
    int lowest = -1, highest = -1, best = -1;
    for (int i = 0; i < kReaderSpeedCount; ++i) {
        if (!(allowed & (1u << i)))
            continue;
        if (lowest < 0)
            lowest = i;
        highest = i;
        if (wanted != 0 && ReaderSpeeds[i] <= wanted)
            best = i;
    }
    if (lowest < 0)
        return -1;
    if (lowestOnly)
        return lowest;
    if (wanted == 0)
        return highest;
    return best >= 0 ? best : lowest;
}

namespace {

// A small scanner over one reply with bounded reads, so a hostile reply cannot overrun or
// overflow anything.
class CReplyScanner {
public:
    CReplyScanner(std::wstring_view text, size_t pos) : m_text(text), m_pos(pos) {}
    size_t Pos() const { return m_pos; }
    bool AtEnd() const { return m_pos >= m_text.size(); }
    void SkipOneBlank()
    {
        if (!AtEnd() && m_text[m_pos] == L' ')
            ++m_pos;
    }
    void SkipSpaces()
    {
        while (!AtEnd() && std::iswspace(m_text[m_pos]))
            ++m_pos;
    }
    bool Char(wchar_t c)
    {
        if (AtEnd() || m_text[m_pos] != c)
            return false;
        ++m_pos;
        return true;
    }
    // Up to maxLen non-blank characters, after leading white space.
    bool Word(std::wstring& out, size_t maxLen)
    {
        SkipSpaces();
        out.clear();
        while (!AtEnd() && !std::iswspace(m_text[m_pos]) && out.size() < maxLen)
            out += m_text[m_pos++];
        return !out.empty();
    }
    // Decimal number of at most 9 digits (no sign), after leading white space when asked.
    bool Decimal(int& value, bool skipSpaces)
    {
        if (skipSpaces)
            SkipSpaces();
        int digits = 0;
        int64_t v = 0;
        while (!AtEnd() && m_text[m_pos] >= L'0' && m_text[m_pos] <= L'9') {
            if (++digits > 9)
                return false;
            v = v * 10 + (m_text[m_pos++] - L'0');
        }
        value = static_cast<int>(v);
        return digits > 0;
    }

private:
    std::wstring_view m_text;
    size_t m_pos;
};

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

size_t CountLongLines(std::wstring_view text)
{
    size_t count = 0, start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n') {
            if (i - start > 1)
                ++count;
            start = i + 1;
        }
    }
    return count;
}

// Month index of a three-letter English month name, 0 when unknown.
int MonthIndex(std::wstring month)
{
    static const wchar_t table[] = L"janfebmaraprmayjunjulaugsepoctnovdec";
    for (auto& c : month)
        c = static_cast<wchar_t>(std::towlower(c));
    if (month.empty())
        return 0;
    for (size_t pos = std::wstring_view(table).find(month); pos != std::wstring_view::npos;
         pos = std::wstring_view(table).find(month, pos + 1))
        if (pos % 3 == 0)
            return static_cast<int>(pos / 3);
    return 0;
}

} // namespace

bool ParseReaderVersion(std::wstring_view text, uint32_t& code, int& serial, PackedVersion& version,
                        bool* incomplete)
{
    const bool short_ = CountLongLines(text) < 5;
    if (incomplete)
        *incomplete = short_;
    if (short_)
        return false;

    size_t sn = text.find(L"S/N:");
    if (sn == std::wstring_view::npos)
        return false;
    CReplyScanner s(text, sn + 4);
    s.SkipOneBlank();
    int number = 0;
    if (!s.Decimal(number, false))
        return false;

    size_t open = text.find(L'[', s.Pos());
    size_t close = open == std::wstring_view::npos ? open : text.find(L']', open + 1);
    if (close == std::wstring_view::npos)
        return false;
    uint32_t hw = 0;
    size_t p = open + 1;
    if (close - p > 2 && text[p] == L'0' && (text[p + 1] == L'x' || text[p + 1] == L'X'))
        p += 2;
    for (int digits = 0; p < close && HexDigit(text[p]) >= 0 && digits < 8; ++p, ++digits)
        hw = (hw << 4) | static_cast<uint32_t>(HexDigit(text[p]));
    if (hw == 0x811 && text.find(L"MF-I") != std::wstring_view::npos)
        hw = kReaderCodeMfi;

    PackedVersion fw = 0;
    size_t after = close + 1;
    size_t sv = text.find(L"Software version:", after);
    if (sv != std::wstring_view::npos) {
        size_t vpos = sv + 17;
        if (vpos < text.size() && text[vpos] == L' ')
            ++vpos;
        // The version parser wants a terminated string; hand it the rest of this line only.
        size_t eol = text.find_first_of(L"\r\n", vpos);
        std::wstring line(text.substr(vpos, eol == std::wstring_view::npos ? std::wstring_view::npos : eol - vpos));
        const wchar_t* end = nullptr;
        if (ParseVersion(line.c_str(), fw, &end))
            after = vpos + static_cast<size_t>(end - line.c_str());
        else
            fw = 0;
    }

    size_t build = text.find(L"Build", after);
    if (build != std::wstring_view::npos) {
        CReplyScanner b(text, build + 5);
        b.SkipOneBlank();
        std::wstring month;
        int day = 0, year = 0, hour = 0, minute = 0, second = 0;
        bool any = b.Word(month, 7);
        // The time is read only to mirror the line's layout; the date alone matters.
        if (any && b.Decimal(day, true) && b.Decimal(year, true) && b.Decimal(hour, true) && b.Char(L':') &&
            b.Decimal(minute, false) && b.Char(L':'))
            b.Decimal(second, false);
        if (any) {
            const int monthIndex = MonthIndex(month);
            if (fw == 0 && (hw == 0x802 || hw == 0xFFFF))
                fw = (year == 2010 && monthIndex == 10 && day == 16) ? 0x6309 : 1;
        }
    }

    code = hw;
    serial = number;
    version = fw;
    return true;
}
