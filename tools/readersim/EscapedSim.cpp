#include "tools/readersim/EscapedSim.h"

namespace {

constexpr char kEnd = '\xC0';
constexpr char kEsc = '\xDB';
constexpr BYTE kStatusOk = 0xAA;
constexpr BYTE kPoll = 0x61;
constexpr BYTE kIndication = 0x02;
// A request never comes near this; a peer that sends no 0xC0 must not fill the memory.
constexpr size_t kMaxRequest = 1024;

BYTE SumOf(const std::string& bytes)
{
    unsigned sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return static_cast<BYTE>(sum);
}

// False on an escape that stands for nothing.
bool Unescape(const std::string& in, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != kEsc) {
            out += in[i];
            continue;
        }
        if (i + 1 >= in.size())
            return false;
        const char next = in[++i];
        if (next == '\x01')
            out += kEnd;
        else if (next == '\xDD')
            out += kEsc;
        else
            return false;
    }
    return true;
}

} // namespace

std::string SimEscape(const std::string& bytes)
{
    std::string out;
    for (char c : bytes) {
        if (c == kEnd)
            out += "\xDB\x01";
        else if (c == kEsc)
            out += "\xDB\xDD";
        else
            out += c;
    }
    return out;
}

std::string BuildEscapedReply(BYTE code, const std::string& statusAndData)
{
    std::string plain(1, static_cast<char>(code));
    plain += statusAndData;
    plain += static_cast<char>(static_cast<BYTE>(0x100 - SumOf(plain)));
    return SimEscape(plain) + kEnd;
}

CEscapedSim::CEscapedSim(CReaderSim& sim) : m_sim(sim)
{
    ReaderSimIdentity id;
    id.name = "KR-5040";
    id.code = 0x821;
    id.serial = 5040;
    id.firmware = "2.1";
    m_sim.SetIdentity(id);
    m_sim.SetAnswerSpeed(115200);
    m_sim.SetDialogue(this);
}

CEscapedSim::~CEscapedSim()
{
    m_sim.SetDialogue(nullptr);
}

void CEscapedSim::SetEmMarine(const std::string& number)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_emMarine = number;
}

void CEscapedSim::SetTemic(const std::string& number)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_temic = number;
}

void CEscapedSim::SetPollStatus(BYTE status)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_pollStatus = status;
}

void CEscapedSim::Inject(EscapedFault fault, BYTE code)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_faults.emplace_back(fault, code);
}

std::vector<CEscapedSim::Request> CEscapedSim::Requests() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_requests;
}

std::vector<std::string> CEscapedSim::RawRequests() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_raw;
}

int CEscapedSim::BadRequests() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_bad;
}

int CEscapedSim::Polls() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    int n = 0;
    for (const Request& r : m_requests)
        n += r.code == kPoll;
    return n;
}

std::vector<std::pair<BYTE, BYTE>> CEscapedSim::Indications() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    std::vector<std::pair<BYTE, BYTE>> out;
    for (const Request& r : m_requests)
        if (r.code == kIndication && r.payload.size() == 2)
            out.emplace_back(static_cast<BYTE>(r.payload[0]), static_cast<BYTE>(r.payload[1]));
    return out;
}

void CEscapedSim::Take(std::string& input, std::string& answer)
{
    std::lock_guard<std::mutex> l(m_mutex);
    while (!input.empty() && input[0] != 'i') {
        const size_t end = input.find(kEnd);
        if (end == std::string::npos) {
            if (input.size() > kMaxRequest)
                input.clear();
            return;
        }
        const std::string raw = input.substr(0, end + 1);
        input.erase(0, end + 1);
        m_raw.push_back(raw);
        std::string plain;
        if (!Unescape(raw.substr(0, end), plain) || plain.size() < 2 || SumOf(plain) != 0) {
            ++m_bad;
            continue;
        }
        Request r;
        r.code = static_cast<BYTE>(plain[0]);
        r.payload = plain.substr(1, plain.size() - 2);
        m_requests.push_back(r);
        answer += AnswerTo(r);
    }
}

std::string CEscapedSim::PollData() const
{
    if (m_pollStatus != 0 && m_pollStatus != kStatusOk) {
        std::string data(1, static_cast<char>(m_pollStatus));
        if (m_emMarine.size() == 5)
            data += '\x20' + m_emMarine;
        else
            data += std::string(6, '\0');
        return data;
    }
    std::string data(1, static_cast<char>(kStatusOk));
    data += static_cast<char>(m_emMarine.empty() ? 0x00 : 0x20);
    std::string temic = m_temic;
    temic.resize(8, '\0');
    std::string em = m_emMarine;
    em.resize(5, '\0');
    return data + temic + em;
}

std::string CEscapedSim::AnswerTo(const Request& request)
{
    std::string data;
    if (request.code == kPoll)
        data = PollData();
    else if (request.code == kIndication)
        data = std::string(1, static_cast<char>(kStatusOk));
    else
        return std::string();
    const std::string good = BuildEscapedReply(request.code, data);

    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->second != request.code)
            continue;
        const EscapedFault fault = it->first;
        m_faults.erase(it);
        switch (fault) {
        case EscapedFault::GarbageBefore:
            return std::string("\x5A\xA5\x13\xC0", 4) + good;
        case EscapedFault::GarbageInside:
            return good.substr(0, 2) + "\x77\x88" + good.substr(2) + good;
        case EscapedFault::TrailingDb:
            return good.substr(0, good.size() - 1) + kEsc + kEnd;
        case EscapedFault::BadSum: {
            std::string plain(1, static_cast<char>(request.code));
            plain += data;
            plain += static_cast<char>(static_cast<BYTE>(0x101 - SumOf(plain)));
            return SimEscape(plain) + kEnd + good;
        }
        case EscapedFault::OtherCode:
            return BuildEscapedReply(static_cast<BYTE>(request.code + 1), std::string(1, '\xAA')) + good;
        case EscapedFault::NoData:
            return BuildEscapedReply(request.code, std::string());
        }
    }
    return good;
}
