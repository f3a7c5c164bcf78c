#pragma once
// The Vell-4 EHR (code 0x302) and Vell-4 Base (0x303) of the simulated reader in their
// single-byte dialogue. Once identified they take one-byte commands, each followed by its check
// byte (the reset 0x00 alone), and acknowledge each with 0xAA: 0x11, 0x12 and 0x1A arm the
// reader for Dallas keys, Em-Marine keys or radio fob codes, 0x13 starts it, the reset disarms
// it. While a key lies and the reader is armed and started, a key frame led by 0xCC goes out
// every frame period: 10 bytes (0xCC, 0x20, the Dallas CRC, the 1-Wire identity from its last
// byte to its family code) when armed by 0x11 or 0x12, 6 bytes (0xCC, the kind, four number
// bytes) when armed by 0x1A.
#include "tools/readersim/ReaderSim.h"
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "tools/readersim/SimDialogue.h"

// The command unit as the program sends it: command and check byte; the reset alone.
std::string SimByteUnit(BYTE command);
// The 10-byte key frame of a 1-Wire identity: family code, then number bytes r8 down to r3.
// crcDelta is added to the check byte (0: correct).
std::string BuildDallasFrame(BYTE family, const std::string& number6, BYTE crcDelta = 0);

enum class ByteFault {
    SplitFrame,  // the next key frame in two writes, 50 ms apart
    WrongCrc,    // the next key frame with a wrong check byte
    LongFrame,   // a 35-byte frame (0xCC, 0x40, ...) before the next key frame
    ShortFrame,  // a 2-byte frame (0xCC, 0x55) before the next key frame
};

class CByteSim : public CReaderSimDialogue {
public:
    // Plays model 6 or 7 on sim until destroyed.
    CByteSim(CReaderSim& sim, int model);
    ~CByteSim() override;
    CByteSim(const CByteSim&) = delete;
    CByteSim& operator=(const CByteSim&) = delete;

    // The key in the field: number bytes r8 down to r3 (a 5-byte Em-Marine number gets r3 0)
    // or the four bytes of a fob code; kind is the fob code's kind byte. Empty: none.
    void SetKey(const std::string& number, BYTE kind = 0x2A, BYTE family = 0x01);
    void SetFramePeriod(DWORD ms);
    // Leaves the next count resets unanswered (-1: all of them).
    void SilenceResets(int count);
    void Inject(ByteFault fault);

    std::vector<std::string> Units() const;   // the units received, in order
    int Resets() const;
    std::vector<DWORD> ResetTicks() const;    // when each reset arrived
    int ArmedMode() const;                    // 0, 1, 2; -1 when disarmed
    bool Started() const;
    int FramesSent() const;
    DWORD LastFrameTick() const;

    void Take(std::string& input, std::string& answer) override;
    void OnQuery() override;

private:
    void Run();
    void Wake() { SetEvent(m_wake); }
    std::string NextFrame(std::string& later);

    CReaderSim& m_sim;
    mutable std::mutex m_mutex;
    HANDLE m_wake = nullptr;     // auto-reset: state changed or stop
    bool m_stop = false;
    std::thread m_thread;

    std::string m_key;
    BYTE m_kind = 0x2A;
    BYTE m_family = 0x01;
    DWORD m_period = 250;
    int m_silence = 0;
    std::deque<ByteFault> m_faults;
    std::string m_out;          // acknowledgements not yet written
    int m_mode = -1;
    bool m_started = false;
    std::vector<std::string> m_units;
    std::vector<DWORD> m_resetTicks;
    int m_frames = 0;
    DWORD m_lastFrame = 0;
};
