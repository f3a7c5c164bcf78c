#include "reader/FrameCommands.h"
#include <algorithm>
#include "core/ResultCodes.h"
#include "reader/KeyLine.h"

namespace {

struct StatusCode {
    BYTE status;    // 0 ends the list
    HRESULT code;
};

struct ReplyRule {
    BYTE command;
    size_t minData;             // data bytes a success must carry, else 0x80040218
    StatusCode special[3];      // statuses with a code of their own; any other: 0x80040219
};

// By FrameOp.
const ReplyRule kRules[] = {
    {0x20, 1, {}},
    {0x23, 0, {}},
    {0x24, 0, {}},
    {0x2F, 0, {}},
    {0x43, 0, {}},
    {0x45, 3, {{kFrameStatusNoCard, S_OK}}},
    {0x46, 0, {{kFrameStatusNoCard, KV_E_NO_KEY}}},
    {0x48, 0, {}},
    {0x50, 0, {{5, KV_E_NO_KEY}, {8, KV_E_KEY_AUTH}, {13, KV_E_MIFARE_BLOCK_ADDR}}},
    {0x50, 1, {{5, KV_E_NO_KEY}, {8, KV_E_KEY_AUTH}}},
    {0x51, 16, {{6, KV_E_NO_KEY}}},
    {0x5F, 0, {}},
    {0x60, 1, {{5, KV_E_NO_KEY}, {8, KV_E_KEY_AUTH}}},
    {0x60, 0, {{5, KV_E_NO_KEY}, {8, KV_E_KEY_AUTH}, {13, KV_E_MIFARE_BLOCK_ADDR}}},
    {0x61, 16, {{6, KV_E_NO_KEY}}},
    {0x6E, 0, {}},
};
static_assert(sizeof kRules / sizeof kRules[0] == FOP_CARD_COMMAND + 1, "one rule per operation");

constexpr BYTE kStatusActivateUnsupported = 2;
constexpr BYTE kSearchParams[3] = {0x00, 0x0A, 0x00};
constexpr BYTE kPauseMs = 10;
constexpr BYTE kProbeBlock = 0x91;                  // a block of sector 33: only 4K cards have it
constexpr WORD kPlusProbe2K = 0x403E, kPlusProbe4K = 0x4042;   // key A of sectors 31 and 33
constexpr WORD kPlusKeyBase = 0x4000;

// Historical bytes of the Mifare Plus answers to select.
const BYTE kHistPlusSl1A[7] = {0xC1, 0x05, 0x21, 0x30, 0x10, 0xF6, 0xD1};
const BYTE kHistPlusSl1B[7] = {0xC1, 0x05, 0x21, 0x30, 0x00, 0xF6, 0xD1};
const BYTE kHistPlusX[7] = {0xC1, 0x05, 0x2F, 0x2F, 0x00, 0x35, 0xC7};
const BYTE kHistPlusS[7] = {0xC1, 0x05, 0x2F, 0x2F, 0x01, 0xBC, 0xD6};

bool Is(const std::vector<BYTE>& h, const BYTE (&v)[7]) { return h.size() == 7 && std::equal(h.begin(), h.end(), v); }

void PutLe32(std::vector<BYTE>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

// The key's bytes in stored order, byte 0 first, zero-filled to size.
void PutKey(std::vector<BYTE>& out, const _KEY_NUMBER& key, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        out.push_back(i < key.length ? key.bytes[i] : 0);
}

// One try a request while the card is being examined or read; the connection's tries and
// time-out come back on every way out.
class CSingleTry {
public:
    explicit CSingleTry(IFrameTransport& link) : m_link(link), m_tries(link.Tries()), m_timeout(link.ReplyTimeout())
    {
        link.SetLimits(1, m_timeout);
    }
    ~CSingleTry() { m_link.SetLimits(m_tries, m_timeout); }
    CSingleTry(const CSingleTry&) = delete;
    CSingleTry& operator=(const CSingleTry&) = delete;

private:
    IFrameTransport& m_link;
    int m_tries;
    int m_timeout;
};

} // namespace

BYTE FrameOpCommand(FrameOp op) { return kRules[op].command; }

HRESULT FrameReplyResult(FrameOp op, BYTE status, size_t dataSize)
{
    const ReplyRule& r = kRules[op];
    if (status == kFrameStatusOk)
        return dataSize >= r.minData ? S_OK : KV_E_INVALID_RESPONSE;
    for (const StatusCode& s : r.special)
        if (s.status && s.status == status)
            return s.code;
    return KV_E_READER_ERROR;
}

// Sector arithmetic ----------------------------------------------------------------------------

int MifareClassicSectors(int keyType)
{
    switch (keyType) {
    case 11: case 15: return 32;
    case 12: case 16: case 18: return 40;
    case 13: return 5;
    default: return keyType >= 10 && keyType <= 18 ? 16 : 5;
    }
}

int MifarePlusSectors(int keyType)
{
    switch (keyType) {
    case 15: return 32;
    case 16: case 18: return 40;
    default: return keyType >= 14 && keyType <= 18 ? 16 : 0;
    }
}

int MifareBlockAddress(int sectors, int sector, int block)
{
    if (sector < 0 || sector >= sectors || block < 0)
        return -1;
    const int first = sector < 32 ? 4 * sector : 128 + 16 * (sector - 32);
    const int size = sector < 32 ? 4 : 16;
    const int total = sectors <= 32 ? 4 * sectors : 128 + 16 * (sectors - 32);
    const int address = first + block % size;
    return address < total ? address : -1;
}

CardMemoryRead ChooseCardMemoryRead(int keyType, uint32_t extra, const ReadKeysSettings& s)
{
    const bool probedIso = (extra & (MFX_ISO14443_4 | MFX_LEVEL_PROBED)) == (MFX_ISO14443_4 | MFX_LEVEL_PROBED);
    const uint32_t field = extra & MFX_LEVEL_FIELD;
    if (keyType == 9)
        return s.ultralight.enabled ? CMR_ULTRALIGHT : CMR_NONE;
    if (keyType == 10 || keyType == 12 || keyType == 21 || (probedIso && field == 0x10))
        return s.classic.enabled ? CMR_CLASSIC : CMR_NONE;
    if (keyType >= 13 && keyType <= 18 && probedIso && field == 0x30)
        return s.plus.enabled ? CMR_PLUS : CMR_NONE;
    return CMR_NONE;
}

std::vector<BYTE> AtsHistoricalBytes(const std::vector<BYTE>& ats)
{
    if (ats.size() < 2)
        return {};
    const BYTE format = ats[1];
    size_t at = 2;
    for (BYTE bit : {0x10, 0x20, 0x40})
        if (format & bit)
            ++at;
    const size_t end = std::min<size_t>(ats[0], ats.size());
    return at < end ? std::vector<BYTE>(ats.begin() + static_cast<ptrdiff_t>(at), ats.begin() + static_cast<ptrdiff_t>(end))
                    : std::vector<BYTE>();
}

// Commands ----------------------------------------------------------------------------------

bool CFrameCommands::Run(FrameOp op, const BYTE* payload, size_t length, std::vector<BYTE>* data)
{
    std::vector<BYTE> reply;
    m_status = 0;
    if (!m_link.Transact(FrameOpCommand(op), payload, length, m_status, reply))
        return false;
    const HRESULT hr = FrameReplyResult(op, m_status, reply.size());
    if (FAILED(hr)) {
        m_link.SetLastError(hr);
        return false;
    }
    if (data)
        *data = std::move(reply);
    return true;
}

bool CFrameCommands::Indicate(BYTE value)
{
    const BYTE p[2] = {value, 0x01};
    return Run(FOP_INDICATION, p, sizeof p);
}

bool CFrameCommands::BeginSearch() { return Run(FOP_BEGIN_SEARCH, kSearchParams, sizeof kSearchParams); }

bool CFrameCommands::EndSearch()
{
    const BYTE p[1] = {0x00};
    return Run(FOP_END_SEARCH, p, sizeof p);
}

bool CFrameCommands::NextCard(BYTE& status)
{
    status = 0;
    std::vector<BYTE> data;
    if (!m_link.Transact(FrameOpCommand(FOP_NEXT_CARD), nullptr, 0, status, data))
        return false;
    return true;
}

bool CFrameCommands::FindCard(FrameCardId& card)
{
    card = FrameCardId{};
    m_iso = false;
    const BYTE p[1] = {0x00};
    std::vector<BYTE> d;
    if (!Run(FOP_FIND_CARD, p, sizeof p, &d))
        return false;
    if (m_status == kFrameStatusNoCard)
        return true;
    card.atqa = static_cast<WORD>(d[0] | d[1] << 8);
    card.sak = d[2];
    card.uid.assign(d.begin() + 3, d.begin() + static_cast<ptrdiff_t>(std::min<size_t>(d.size(), 3 + 16)));
    return true;
}

bool CFrameCommands::SelectCard(const std::vector<BYTE>& uid)
{
    m_iso = false;
    std::vector<BYTE> p{0x81};
    p.insert(p.end(), uid.begin(), uid.end());
    return Run(FOP_SELECT_CARD, p.data(), p.size());
}

bool CFrameCommands::ReadAts(std::vector<BYTE>& ats, std::vector<BYTE>& historical)
{
    ats.clear();
    historical.clear();
    if (m_activateUnsupported) {
        m_link.SetLastError(KV_E_READER_ERROR);
        return false;
    }
    m_iso = true;
    const BYTE p[1] = {0x00};
    if (!Run(FOP_ACTIVATE, p, sizeof p, &ats)) {
        if (m_status == kStatusActivateUnsupported)
            m_activateUnsupported = true;
        return false;
    }
    historical = AtsHistoricalBytes(ats);
    return true;
}

bool CFrameCommands::ClassicAuthenticate(bool keyB, BYTE block, const _KEY_NUMBER& key)
{
    std::vector<BYTE> p{static_cast<BYTE>(2 + (keyB ? 1 : 0)), block};
    PutKey(p, key, 6);
    return Run(FOP_CLASSIC_AUTH_KEY, p.data(), p.size());
}

bool CFrameCommands::ClassicAuthenticateBySlots(bool keyB, BYTE block, uint32_t mask)
{
    std::vector<BYTE> p{static_cast<BYTE>(keyB ? 1 : 0), block};
    PutLe32(p, mask);
    p.insert(p.end(), {0x00, 0x00});
    return Run(FOP_CLASSIC_AUTH_SLOTS, p.data(), p.size());
}

bool CFrameCommands::Read16(BYTE blockOrPage, BYTE (&data)[16])
{
    std::vector<BYTE> d;
    if (!Run(FOP_READ16, &blockOrPage, 1, &d))
        return false;
    std::copy(d.begin(), d.begin() + 16, data);
    return true;
}

bool CFrameCommands::WriteKey(int bank, int slot, const _KEY_NUMBER& key, bool plus)
{
    std::vector<BYTE> p{static_cast<BYTE>(bank), static_cast<BYTE>(slot)};
    PutKey(p, key, plus ? 16 : 6);
    return Run(FOP_WRITE_KEY, p.data(), p.size());
}

bool CFrameCommands::PlusAuthenticate(WORD address, const _KEY_NUMBER& key)
{
    std::vector<BYTE> p{0x02, static_cast<BYTE>(address), static_cast<BYTE>(address >> 8)};
    PutKey(p, key, 16);
    return Run(FOP_PLUS_AUTH_KEY, p.data(), p.size());
}

bool CFrameCommands::PlusAuthenticateBySlots(WORD address, uint32_t mask)
{
    std::vector<BYTE> p{0x00, static_cast<BYTE>(address), static_cast<BYTE>(address >> 8)};
    PutLe32(p, mask);
    p.insert(p.end(), {0x00, 0x00});
    return Run(FOP_PLUS_AUTH_SLOTS, p.data(), p.size());
}

bool CFrameCommands::PlusRead(WORD block, BYTE (&data)[16])
{
    const BYTE p[4] = {0x07, static_cast<BYTE>(block), static_cast<BYTE>(block >> 8), 0x01};
    std::vector<BYTE> d;
    if (!Run(FOP_PLUS_READ, p, sizeof p, &d))
        return false;
    std::copy(d.begin(), d.begin() + 16, data);
    return true;
}

bool CFrameCommands::CardCommand(const std::vector<BYTE>& command, std::vector<BYTE>& answer)
{
    answer.clear();
    return Run(FOP_CARD_COMMAND, command.data(), command.size(), &answer);
}

bool CFrameCommands::QueryVersion(BYTE& hardwareType, WORD& version, BYTE& storageSize)
{
    std::vector<BYTE> a;
    if (!CardCommand({0x01, 0x60}, a))
        return false;
    if (a.size() < 8) {
        m_link.SetLastError(KV_E_READER_ERROR);
        return false;
    }
    hardwareType = a[2];
    version = static_cast<WORD>(a[4] << 8 | a[5]);
    storageSize = a[6];
    return true;
}

bool CFrameCommands::ProbeSecurityLevel(int which)
{
    std::vector<BYTE> command;
    if (which == 1) {
        command = {0x13, 0xA8, 0x00, 0x90};
        PutKey(command, DefaultMifareClassicKey(), 6);
        command.resize(20, 0x00);
    } else {
        command = {0x01, 0x48};
    }
    std::vector<BYTE> a;
    return CardCommand(command, a) && a.size() >= 2 && (a[a.size() - 2] | a[a.size() - 1] << 8) == 0x9000;
}

// Classification --------------------------------------------------------------------------

struct CFrameCommands::Classification {
    FrameCardId id;
    int type = 0;
    uint32_t extra = 0;
    bool atsRead = false;
    std::vector<BYTE> ats, historical;
};

bool CFrameCommands::HaveAts(Classification& c)
{
    // Read once per classification: the card keeps its answer.
    if (!c.atsRead) {
        ReadAts(c.ats, c.historical);
        c.atsRead = true;
    }
    return !c.ats.empty();
}

void CFrameCommands::ClassifyBySak(Classification& c)
{
    const BYTE s = c.id.sak;
    const WORD q = c.id.atqa;
    BYTE t = 0, m = 0;
    WORD v = 0;

    if (s & 0x02)
        return;
    if ((s & 0x18) == 0x18) {
        if (s & 0x01)
            c.type = 11;
        else if (s & 0x20)
            c.type = 18;
        else if (m_iso || !HaveAts(c))
            c.type = 12;
        else {
            c.extra |= MFX_ISO14443_4;
            c.type = 13;
            if (QueryVersion(t, v, m)) {
                if (t == 2 || t == 130) {
                    c.extra |= 24;
                    c.type = m == 22 ? 15 : m == 24 ? 16 : c.type;
                }
            } else if (Is(c.historical, kHistPlusX)) {
                c.extra |= 0x1A, c.type = 16;
            } else if (Is(c.historical, kHistPlusS)) {
                c.extra |= 0x1E, c.type = 16;
            }
        }
    } else if (s & 0x08) {
        if (s & 0x01)
            c.type = 21;
        else if (s & 0x20)
            c.type = 17;
        else if (m_iso || !HaveAts(c))
            c.type = 10;
        else {
            c.extra |= MFX_ISO14443_4;
            if (QueryVersion(t, v, m)) {
                if (t == 2 || t == 130) {
                    c.extra |= 24;
                    c.type = m == 22 ? 15 : m == 24 ? 16 : c.type;
                }
            } else if (Is(c.historical, kHistPlusSl1A) || Is(c.historical, kHistPlusSl1B)) {
                c.type = 14;
            } else if (Is(c.historical, kHistPlusX)) {
                c.extra |= 0x1A, c.type = 15;
            } else if (Is(c.historical, kHistPlusS)) {
                c.extra |= 0x1E, c.type = 15;
            }
        }
    } else if (s & 0x10) {
        c.extra = 41;
        c.type = s & 0x01 ? 16 : 15;
    } else if (s & 0x01) {
        // Decided below, if at all.
    } else if (s & 0x20) {
        // The reader may refuse activation only now; the ATQA then decides.
        if (!m_activateUnsupported && !m_iso)
            HaveAts(c);
        if (m_activateUnsupported) {
            if (q == 2 || q == 66)
                c.extra |= MFX_ISO14443_4, c.type = 16;
            else if (q == 4 || q == 68)
                c.extra |= MFX_ISO14443_4, c.type = 15;
            else if (q == 836)
                c.type = 19;
            else
                c.extra |= MFX_ISO14443_4, c.type = 13;
        } else if (!c.ats.empty() || m_iso) {
            // The version query and the historical bytes need the card active in ISO 14443-4.
            if (QueryVersion(t, v, m)) {
                if (t == 1 || t == 8 || t == 129) {
                    c.type = 19;
                } else if (t == 2 || t == 130) {
                    c.extra |= 57;
                    c.type = m == 22 ? 15 : m == 24 ? 16 : c.type;
                }
            } else if (c.historical.size() == 7) {
                c.extra |= MFX_ISO14443_4;
                const bool s3 = Is(c.historical, kHistPlusS), x3 = Is(c.historical, kHistPlusX);
                if (s3 || x3) {
                    c.extra |= s3 ? 62 : 58;
                    c.type = q == 2 ? 16 : q == 4 ? 15 : c.type;
                } else if (Is(c.historical, kHistPlusSl1A) || Is(c.historical, kHistPlusSl1B)) {
                    c.type = 14;
                }
            }
        }
    } else if (!QueryVersion(t, v, m) || t == 3) {
        c.type = 9;
    }
}

void CFrameCommands::ProbeByAuthentication(Classification& c, int mode)
{
    const uint32_t field = c.extra & MFX_LEVEL_FIELD;
    if (mode == 3 && field != 0x10) {
        if (field == 0x30) {
            // The default Classic key, zero-filled to 16 bytes.
            const _KEY_NUMBER key = DefaultMifareClassicKey();
            HRESULT first = PlusAuthenticate(kPlusProbe2K, key) ? S_OK : m_link.LastError();
            if (SUCCEEDED(first) || first == KV_E_KEY_AUTH) {
                HRESULT second = PlusAuthenticate(kPlusProbe4K, key) ? S_OK : m_link.LastError();
                if (SUCCEEDED(second) || second == KV_E_KEY_AUTH)
                    c.type = 16;
                else if (second == KV_E_MIFARE_BLOCK_ADDR)
                    c.type = 15;
            } else if (first == KV_E_MIFARE_BLOCK_ADDR) {
                c.type = 14;
            }
        }
        if (!c.type) {
            uint32_t extra = 0;
            c.type = CardTypeFromSak(c.id.sak, c.id.atqa, &extra);
            c.extra |= extra;
        }
        return;
    }
    if (mode != 1 && mode != 3)
        return;
    // A Classic authentication in sector 33 tells a 4K card from a 1K one.
    BeginSearch();
    m_link.Pause(kPauseMs);
    SelectCard(c.id.uid);
    const HRESULT hr = ClassicAuthenticate(false, kProbeBlock, DefaultMifareClassicKey()) ? S_OK : m_link.LastError();
    if (SUCCEEDED(hr) || hr == KV_E_KEY_AUTH)
        c.type = mode == 1 ? 12 : 16;
    else if (hr == KV_E_MIFARE_BLOCK_ADDR)
        c.type = mode == 1 ? 10 : 14;
}

bool CFrameCommands::ClassifyCard(FrameCardClass& card, const PresenceLookup& lookup)
{
    CSingleTry single(m_link);
    card = FrameCardClass{};
    Classification c;
    if (!FindCard(c.id))
        return false;
    if (c.id.uid.empty())
        return true;
    card.key = MakeKeyNumber(c.id.uid.data(), c.id.uid.size());
    if (lookup && lookup(card.key, card))
        return true;

    ClassifyBySak(c);
    if (!m_activateUnsupported) {
        int mode = 0;
        if (c.type) {
            mode = (c.extra & MFX_ISO14443_4) ? 3 : c.type >= 10 && c.type <= 12 ? 1 : 0;
        } else {
            HaveAts(c);
            const BYTE length = c.ats.empty() ? 0 : c.ats[0];
            if (length <= 1) {
                mode = 1;
            } else if (length > 6) {
                c.extra |= MFX_ISO14443_4;
                mode = 3;
            } else {
                mode = 2;
            }
        }
        if ((c.extra & MFX_ISO14443_4) && !(c.extra & MFX_LEVEL_PROBED)) {
            if (!m_iso)
                HaveAts(c);
            if (ProbeSecurityLevel(1))
                c.extra |= MFX_LEVEL_PROBED;
            else
                c.extra |= ProbeSecurityLevel(2) ? 0x38 : 0x18;
        }
        if (!c.type)
            ProbeByAuthentication(c, mode);
    }
    card.keyType = c.type;
    card.extra = c.extra;
    card.present = -1;
    return true;
}

// Card memory -------------------------------------------------------------------------------

HRESULT CFrameCommands::ReadClassicBlock(const MifareReadSettings& s, int keyType, const _KEY_NUMBER& uid,
                                         _KEY_NUMBER& memory)
{
    CSingleTry single(m_link);
    const int block = MifareBlockAddress(MifareClassicSectors(keyType), s.sector, s.block);
    if (block < 0)
        return E_INVALIDARG;
    if (m_iso) {
        // Back from ISO 14443-4 to the card's Classic side.
        if (!EndSearch())
            return m_link.LastError();
        m_link.Pause(kPauseMs);
        if (!SelectCard(std::vector<BYTE>(uid.bytes, uid.bytes + uid.length)))
            return m_link.LastError();
    }
    const bool keyB = (s.flags & MIFARE_KEY_B) != 0;
    const BYTE at = static_cast<BYTE>(block);
    const bool authorized = (s.flags & MIFARE_BY_MASK) ? ClassicAuthenticateBySlots(keyB, at, s.mask)
                                                       : ClassicAuthenticate(keyB, at, s.key);
    BYTE data[16];
    if (!authorized || !Read16(at, data))
        return m_link.LastError();
    memory = MakeKeyNumber(data, 16);
    return S_OK;
}

HRESULT CFrameCommands::ReadPlusBlock(const MifareReadSettings& s, int keyType, _KEY_NUMBER& memory)
{
    CSingleTry single(m_link);
    const int block = MifareBlockAddress(MifarePlusSectors(keyType), s.sector, s.block);
    if (block < 0)
        return E_INVALIDARG;
    if (!m_iso) {
        std::vector<BYTE> ats, historical;
        if (!ReadAts(ats, historical))
            return m_link.LastError();
    }
    const WORD address = static_cast<WORD>(kPlusKeyBase + 2 * s.sector + ((s.flags & MIFARE_KEY_B) ? 1 : 0));
    const bool authorized = (s.flags & MIFARE_BY_MASK) ? PlusAuthenticateBySlots(address, s.mask)
                                                       : PlusAuthenticate(address, s.key);
    BYTE data[16];
    if (!authorized || !PlusRead(static_cast<WORD>(block), data))
        return m_link.LastError();
    memory = MakeKeyNumber(data, 16);
    return S_OK;
}

HRESULT CFrameCommands::ReadUltralight(const MifareULSettings& s, _KEY_NUMBER& memory)
{
    CSingleTry single(m_link);
    if (s.page < 0 || s.page > 15 || s.count < 1)
        return E_INVALIDARG;
    BYTE data[16];
    if (!Read16(static_cast<BYTE>(s.page), data))
        return m_link.LastError();
    // One read gives four pages.
    memory = MakeKeyNumber(data, static_cast<size_t>(4 * std::min(s.count, 4)));
    return S_OK;
}
