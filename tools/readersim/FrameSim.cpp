#include "tools/readersim/FrameSim.h"
#include "tools/readersim/ReaderSim.h"

const char kFrameSimClassicKey[6] = {'\xD4', '\x08', '\x5E', '\x7A', '\x91', '\x3C'};
const char kFrameSimPlusKey[16] = {'\x1A', '\xF3', '\x65', '\x0C', '\xB9', '\x41', '\x7E', '\xD2',
                                   '\x08', '\xC7', '\x3A', '\x5F', '\x94', '\xE0', '\x21', '\x6B'};

namespace {

constexpr char kOk = '\x55';
const DWORD kSpeeds[] = {9600, 19200, 38400, 57600, 115200, 230400};

// Statuses of the reader.
constexpr char kError = 1, kNotSupported = 2, kNoKey = 5, kNotAuthenticated = 6, kKeyRejected = 8, kNoCard = 9,
               kWrongAddress = 13;

std::string Status(char s) { return std::string(1, s); }

int SectorOfBlock(int block) { return block < 128 ? block / 4 : 32 + (block - 128) / 16; }

uint32_t Le32(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && at + i < s.size(); ++i)
        v |= static_cast<uint32_t>(static_cast<BYTE>(s[at + i])) << (8 * i);
    return v;
}

// Bytes that hold no start byte.
std::string Garbage(size_t n)
{
    std::string g;
    for (size_t i = 0; i < n; ++i)
        g += static_cast<char>(i % 2 ? 0xA5 : 0x13 + i);
    return g;
}

std::string BreakSum(std::string frame)
{
    frame.back() = static_cast<char>(frame.back() ^ 0x5A);
    return frame;
}

} // namespace

void CFrameSim::SetModel(int model)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_model = model;
}

void CFrameSim::SetAtsSupported(bool on)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_atsSupported = on;
}

void CFrameSim::SetField(const std::vector<FrameSimCard>& cards)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_field = cards;
    m_search = 0;
    m_current = -1;
    m_classicSector = m_plusSector = -1;
}

void CFrameSim::AddFault(const FrameSimFault& fault)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_faults.push_back(fault);
}

void CFrameSim::SetStatus(BYTE command, int status)
{
    std::lock_guard<std::mutex> l(m_mutex);
    if (status < 0)
        m_status.erase(command);
    else
        m_status[command] = status;
}

void CFrameSim::ClearFaults()
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_faults.clear();
    m_status.clear();
}

bool CFrameSim::BinaryMode() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_binary;
}

std::map<int, std::string> CFrameSim::KeySlots(bool plus) const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return plus ? m_slots16 : m_slots6;
}

int CFrameSim::Count(BYTE command) const
{
    std::lock_guard<std::mutex> l(m_mutex);
    auto it = m_counts.find(command);
    return it == m_counts.end() ? 0 : it->second;
}

bool CFrameSim::TakeFault(BYTE code, FrameSimFault& fault)
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->command != 0 && it->command != code)
            continue;
        fault = *it;
        if (--it->times <= 0)
            m_faults.erase(it);
        return true;
    }
    return false;
}

FrameSimCard* CFrameSim::Current()
{
    return m_current >= 0 && static_cast<size_t>(m_current) < m_field.size() ? &m_field[m_current] : nullptr;
}

std::string CFrameSim::Authenticate(bool plus, const std::string& p)
{
    // Key given: kind + 2, block (Classic) or 0x02, key address (Plus), then the key.
    // Key memory: kind, block or 0x00, key address, then the slot mask.
    FrameSimCard* card = Current();
    const size_t head = plus ? 3 : 2;
    if (p.size() < head + 4)
        return Status(kError);
    if (!card || !(plus ? card->plus : card->classic))
        return Status(kError);
    const bool given = static_cast<BYTE>(p[0]) >= 2;
    int sector, keyB;
    if (plus) {
        const int address = static_cast<BYTE>(p[1]) | static_cast<BYTE>(p[2]) << 8;
        if (address < 0x4000)
            return Status(kWrongAddress);
        sector = (address - 0x4000) / 2;
        keyB = address & 1;
    } else {
        sector = SectorOfBlock(static_cast<BYTE>(p[1]));
        keyB = static_cast<BYTE>(p[0]) & 1;
    }
    if (sector >= card->sectors)
        return Status(kWrongAddress);
    const auto& keys = plus ? card->plusKeys : card->classicKeys;
    auto k = keys.find(2 * sector + keyB);
    const std::string key = k != keys.end() ? k->second
                                            : plus ? std::string(kFrameSimPlusKey, 16) : std::string(kFrameSimClassicKey, 6);
    int& authenticated = plus ? m_plusSector : m_classicSector;
    if (given) {
        if (p.compare(head, std::string::npos, key) != 0)
            return authenticated = -1, Status(kKeyRejected);
        authenticated = sector;
        return Status(kOk);
    }
    const uint32_t mask = Le32(p, head);
    const auto& slots = plus ? m_slots16 : m_slots6;
    bool any = false;
    for (const auto& s : slots) {
        if (!(mask >> s.first & 1))
            continue;
        any = true;
        if (s.second == key) {
            authenticated = sector;
            return std::string(1, kOk) + static_cast<char>(s.first);
        }
    }
    authenticated = -1;
    return Status(any ? kKeyRejected : kNoKey);
}

CFrameSim::Answer CFrameSim::Handle(BYTE code, const std::string& p)
{
    Answer a;
    FrameSimCard* card = Current();
    switch (code) {
    case 0x20:      // indication: value, 0x01
        a.payload = std::string(1, kOk) + (p.empty() ? '\0' : p[0]);
        break;
    case 0x23:      // begin search
        m_search = 0;
        a.payload = Status(kOk);
        break;
    case 0x24:      // end search
        a.payload = Status(kOk);
        break;
    case 0x2F:      // mode, speed index or 0x80
        a.payload = Status(kOk);
        if (p.size() >= 2) {
            a.mode = p[0] ? 1 : 0;
            const BYTE index = static_cast<BYTE>(p[1]);
            if (index < 6)
                a.speed = kSpeeds[index];
        }
        break;
    case 0x43:      // next card
        ++m_search;
        a.payload = Status(m_model == 4 && m_search >= m_field.size() ? kNoCard : kOk);
        break;
    case 0x45: {    // find card
        m_classicSector = m_plusSector = -1;
        if (m_search >= m_field.size()) {
            m_current = -1;
            a.payload = Status(kNoCard);
            break;
        }
        m_current = static_cast<int>(m_search);
        const FrameSimCard& c = m_field[m_search];
        a.payload = std::string(1, kOk) + static_cast<char>(c.atqa & 0xFF) + static_cast<char>(c.atqa >> 8) +
                    static_cast<char>(c.sak) + c.uid;
        break;
    }
    case 0x46: {    // select by UID: 0x81, UID
        m_classicSector = m_plusSector = -1;
        a.payload = Status(kNoCard);
        for (size_t i = 0; i < m_field.size(); ++i)
            if (p.size() > 1 && p.compare(1, std::string::npos, m_field[i].uid) == 0) {
                m_current = static_cast<int>(i);
                a.payload = Status(kOk);
            }
        break;
    }
    case 0x48:      // answer to select
        if (!m_atsSupported)
            a.payload = Status(kNotSupported);
        else if (!card)
            a.payload = Status(kNoCard);
        else
            a.payload = card->ats.empty() ? Status(kError) : std::string(1, kOk) + card->ats;
        break;
    case 0x50:
        a.payload = Authenticate(false, p);
        break;
    case 0x60:
        a.payload = Authenticate(true, p);
        break;
    case 0x51: {    // 16 bytes from a page or a block
        const int at = p.empty() ? 0 : static_cast<BYTE>(p[0]);
        if (!card) {
            a.payload = Status(kNoCard);
        } else if (!card->pages.empty()) {
            std::string pages = card->pages;
            pages.resize(64, '\0');
            a.payload = Status(kOk);
            for (int i = 0; i < 4; ++i)
                a.payload += pages.substr(static_cast<size_t>(4 * ((at + i) & 15)), 4);
        } else if (m_classicSector < 0 || SectorOfBlock(at) != m_classicSector) {
            a.payload = Status(kNotAuthenticated);
        } else {
            auto b = card->blocks.find(at);
            a.payload = std::string(1, kOk) + (b != card->blocks.end() ? b->second : std::string(16, '\0'));
        }
        break;
    }
    case 0x61: {    // Plus block: 0x07, block (16 bits), 0x01
        const int block = p.size() >= 3 ? (static_cast<BYTE>(p[1]) | static_cast<BYTE>(p[2]) << 8) : -1;
        if (!card) {
            a.payload = Status(kNoCard);
        } else if (block < 0 || m_plusSector < 0 || SectorOfBlock(block) != m_plusSector) {
            a.payload = Status(kNotAuthenticated);
        } else {
            auto b = card->blocks.find(block);
            a.payload = std::string(1, kOk) + (b != card->blocks.end() ? b->second : std::string(16, '\0'));
        }
        break;
    }
    case 0x5F: {    // bank, slot, key
        const size_t size = p.size() >= 2 ? p.size() - 2 : 0;
        if (size != 6 && size != 16) {
            a.payload = Status(kError);
            break;
        }
        const int slot = static_cast<BYTE>(p[0]) * 16 + static_cast<BYTE>(p[1]);
        (size == 16 ? m_slots16 : m_slots6)[slot] = p.substr(2);
        a.payload = Status(kOk);
        break;
    }
    case 0x6E: {    // the first byte for the reader, the rest for the card
        const BYTE command = p.size() >= 2 ? static_cast<BYTE>(p[1]) : 0;
        const std::string* answer = !card ? nullptr
                                    : command == 0x60 ? &card->version
                                    : command == 0xA8 ? &card->probe1
                                    : command == 0x48 ? &card->probe2
                                                      : nullptr;
        a.payload = answer && !answer->empty() ? std::string(1, kOk) + *answer : Status(kError);
        break;
    }
    default:
        a.payload = std::string("\x55\x01", 2);
        break;
    }
    return a;
}

void CFrameSim::Reply(BYTE seq, BYTE code, const std::string& payload, const FrameSimLine& line)
{
    Answer a;
    FrameSimFault fault;
    bool faulty;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        ++m_counts[code];
        a = Handle(code, payload);
        auto s = m_status.find(code);
        if (s != m_status.end()) {
            a.payload = Status(static_cast<char>(s->second));
            if (static_cast<BYTE>(s->second) != static_cast<BYTE>(kOk))
                a.mode = -1, a.speed = 0;
        }
        faulty = TakeFault(code, fault);
        // The mode changes with a reply that goes out, before whoever reads it can look.
        const bool answered = !faulty || (fault.kind != FrameFault::Silence && fault.kind != FrameFault::Flood);
        if (answered && a.mode >= 0)
            m_binary = a.mode == 1;
    }
    const std::string reply = BuildSimFrame(seq, code, a.payload);
    bool sent = true;
    if (!faulty) {
        sent = line.write(reply);
    } else {
        switch (fault.kind) {
        case FrameFault::Garbage: sent = line.write(Garbage(7) + reply); break;
        case FrameFault::ShortLength:
            sent = line.write(std::string{'\x02', static_cast<char>(seq), static_cast<char>(fault.value),
                                          static_cast<char>(code)} + reply);
            break;
        case FrameFault::BadSumFirst: sent = line.write(BreakSum(reply) + reply); break;
        case FrameFault::WrongSum: sent = line.write(BreakSum(reply)); break;
        case FrameFault::WrongSeq: sent = line.write(BuildSimFrame(static_cast<BYTE>(seq + 1), code, a.payload)); break;
        case FrameFault::NoStatus: sent = line.write(BuildSimFrame(seq, code, std::string())); break;
        case FrameFault::Split: {
            const size_t half = reply.size() / 2;
            sent = line.write(reply.substr(0, half));
            Sleep(fault.ms);
            sent = sent && line.write(reply.substr(half));
            break;
        }
        case FrameFault::Joined:
            sent = line.write(BuildSimFrame(static_cast<BYTE>(seq - 1), code, a.payload) + reply +
                              BuildSimFrame(static_cast<BYTE>(seq + 1), code, a.payload));
            break;
        case FrameFault::Silence: return;
        case FrameFault::Flood: {
            const DWORD start = GetTickCount();
            // As fast as the line takes them: the reader never finds the line quiet.
            while (sent && GetTickCount() - start < fault.ms)
                sent = line.write(Garbage(16384));
            return;
        }
        }
    }
    if (!sent)
        return;
    // The reader runs at the new speed from the end of its reply on.
    if (a.speed && line.speed)
        line.speed(a.speed);
}
