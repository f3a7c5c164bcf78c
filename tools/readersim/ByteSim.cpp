#include "tools/readersim/ByteSim.h"

namespace {

constexpr BYTE kReset = 0x00;
constexpr BYTE kStart = 0x13;
constexpr char kAck = '\xAA';
constexpr DWORD kSplitPause = 50;

BYTE CheckByte(BYTE command) { return static_cast<BYTE>(0x100 - ((0x5A + command) & 0xFF)); }

// The 1-Wire CRC-8 (reflected polynomial 0x8C), the simulator's own.
BYTE Crc8(const std::string& bytes)
{
    BYTE crc = 0;
    for (unsigned char c : bytes) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool mix = ((crc ^ c) & 1) != 0;
            crc >>= 1;
            if (mix)
                crc ^= 0x8C;
            c >>= 1;
        }
    }
    return crc;
}

int ModeOfArming(BYTE command)
{
    switch (command) {
    case 0x11: return 0;
    case 0x12: return 1;
    case 0x1A: return 2;
    default: return -1;
    }
}

} // namespace

std::string SimByteUnit(BYTE command)
{
    std::string unit(1, static_cast<char>(command));
    if (command != kReset)
        unit += static_cast<char>(CheckByte(command));
    return unit;
}

std::string BuildDallasFrame(BYTE family, const std::string& number6, BYTE crcDelta)
{
    std::string number = number6;
    number.resize(6, '\0');
    // The identity in its 1-Wire order: family code, then r8 down to r3.
    const std::string identity = static_cast<char>(family) + number;
    std::string frame("\xCC\x20", 2);
    frame += static_cast<char>(static_cast<BYTE>(Crc8(identity) + crcDelta));
    for (size_t i = 6; i-- > 0;)   // r3 first, r8 last
        frame += number[i];
    frame += static_cast<char>(family);
    return frame;
}

CByteSim::CByteSim(CReaderSim& sim, int model) : m_sim(sim)
{
    ReaderSimIdentity id;
    id.name = model == 7 ? "Vell-4 Base" : "Vell-4 EHR";
    id.code = model == 7 ? 0x303 : 0x302;
    id.serial = model == 7 ? 4007 : 4006;
    id.firmware = "3.2";
    m_sim.SetIdentity(id);
    m_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_thread = std::thread([this] { Run(); });
    m_sim.SetDialogue(this);
}

CByteSim::~CByteSim()
{
    m_sim.SetDialogue(nullptr);
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_stop = true;
    }
    Wake();
    m_thread.join();
    CloseHandle(m_wake);
}

void CByteSim::SetKey(const std::string& number, BYTE kind, BYTE family)
{
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_key = number;
        m_kind = kind;
        m_family = family;
    }
    Wake();
}

void CByteSim::SetFramePeriod(DWORD ms)
{
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_period = ms;
    }
    Wake();
}

void CByteSim::SilenceResets(int count)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_silence = count;
}

void CByteSim::Inject(ByteFault fault)
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_faults.push_back(fault);
}

std::vector<std::string> CByteSim::Units() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_units;
}

int CByteSim::Resets() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return static_cast<int>(m_resetTicks.size());
}

std::vector<DWORD> CByteSim::ResetTicks() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_resetTicks;
}

int CByteSim::ArmedMode() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_mode;
}

bool CByteSim::Started() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_started;
}

int CByteSim::FramesSent() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_frames;
}

DWORD CByteSim::LastFrameTick() const
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_lastFrame;
}

void CByteSim::OnQuery()
{
    std::lock_guard<std::mutex> l(m_mutex);
    m_mode = -1;
    m_started = false;
}

void CByteSim::Take(std::string& input, std::string& answer)
{
    // The acknowledgements go out through the frame thread, so that a key frame never
    // overtakes the acknowledgement of the start that allowed it.
    (void)answer;
    std::lock_guard<std::mutex> l(m_mutex);
    bool wake = false;
    while (!input.empty() && input[0] != 'i') {
        const BYTE command = static_cast<BYTE>(input[0]);
        if (command == kReset) {
            input.erase(0, 1);
            m_units.push_back(SimByteUnit(kReset));
            m_resetTicks.push_back(GetTickCount());
            m_mode = -1;
            m_started = false;
            if (m_silence != 0) {
                if (m_silence > 0)
                    --m_silence;
                continue;
            }
            m_out += kAck;
            wake = true;
            continue;
        }
        if (input.size() < 2)
            break;
        if (static_cast<BYTE>(input[1]) != CheckByte(command)) {
            input.erase(0, 1);   // not a unit: the reader drops the byte
            continue;
        }
        m_units.push_back(input.substr(0, 2));
        input.erase(0, 2);
        if (command == kStart)
            m_started = m_mode >= 0;
        else if (ModeOfArming(command) >= 0)
            m_mode = ModeOfArming(command);
        m_out += kAck;
        wake = true;
    }
    if (wake)
        Wake();
}

std::string CByteSim::NextFrame(std::string& later)
{
    later.clear();
    std::string frame;
    if (m_mode == 2) {
        std::string number = m_key;
        number.resize(4, '\0');
        frame = std::string(1, '\xCC') + static_cast<char>(m_kind) + number;
    } else {
        frame = BuildDallasFrame(m_family, m_key);
    }
    std::string before;
    while (!m_faults.empty()) {
        const ByteFault fault = m_faults.front();
        m_faults.pop_front();
        if (fault == ByteFault::LongFrame) {
            before += std::string("\xCC\x40", 2) + std::string(33, '\x11');
            continue;
        }
        if (fault == ByteFault::ShortFrame) {
            before += std::string("\xCC\x55", 2);
            continue;
        }
        if (fault == ByteFault::WrongCrc && m_mode != 2)
            frame = BuildDallasFrame(m_family, m_key, 1);
        else if (fault == ByteFault::SplitFrame) {
            later = frame.substr(4);
            frame.resize(4);
        }
        break;
    }
    return before + frame;
}

void CByteSim::Run()
{
    std::unique_lock<std::mutex> l(m_mutex);
    // Waits for a change or for ms, with the lock released.
    auto wait = [&](DWORD ms) {
        l.unlock();
        WaitForSingleObject(m_wake, ms);
        l.lock();
    };
    while (!m_stop) {
        if (!m_out.empty()) {
            std::string out;
            out.swap(m_out);
            l.unlock();
            m_sim.SendRaw(out);
            l.lock();
            continue;
        }
        if (!m_started || m_key.empty()) {
            wait(INFINITE);
            continue;
        }
        const DWORD since = GetTickCount() - m_lastFrame;
        if (m_frames > 0 && since < m_period) {
            wait(m_period - since);
            continue;
        }
        std::string later;
        const std::string frame = NextFrame(later);
        ++m_frames;
        l.unlock();
        m_sim.SendRaw(frame);
        if (!later.empty()) {
            Sleep(kSplitPause);   // the simulator's own pacing, not a wait for the program
            m_sim.SendRaw(later);
        }
        l.lock();
        m_lastFrame = GetTickCount();   // the frame is complete only now
    }
}
