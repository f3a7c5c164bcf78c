#pragma once
// The Mifare readers' binary frames as the simulator plays them: the reader's side of every
// command (mode and speed, indication, the search for cards, classification answers, Classic
// and Plus authentication and reads, Ultralight pages, key memory), a field of cards, and
// scripted faults on the line (garbage, split and joined frames, wrong sums and sequence
// numbers, short frames, chosen statuses, silence). CReaderSim hands it each frame it
// receives; tests set the field and the faults from their own thread.
#include <winsock2.h>
#include <windows.h>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// One card in the field. Keys and blocks are bytes as they travel in the frames.
struct FrameSimCard {
    uint16_t atqa = 0x0004;
    BYTE sak = 0x08;
    std::string uid = std::string("\x11\x22\x33\x44", 4);
    std::string ats;        // answer to select from its length byte on; empty: the card has none
    std::string version;    // answer to the version query; empty: the query fails
    std::string probe1;     // answers to the two security-level probes; empty: the probe fails
    std::string probe2;
    int sectors = 16;       // Classic or Plus sectors; addresses beyond them do not exist
    bool classic = true;    // answers Mifare Classic authentication
    bool plus = false;      // answers Mifare Plus authentication
    std::map<int, std::string> classicKeys;   // 2 * sector + (key B), 6 bytes; else the default key
    std::map<int, std::string> plusKeys;      // 2 * sector + (key B), 16 bytes; else the default key
    std::map<int, std::string> blocks;        // block number -> 16 bytes; else zeros
    std::string pages;      // Mifare Ultralight: 64 bytes read without authentication
};

// Default keys of a new card, in frame order.
extern const char kFrameSimClassicKey[6];
extern const char kFrameSimPlusKey[16];

enum class FrameFault {
    Garbage,        // bytes without a start byte, then the reply
    ShortLength,    // a start byte with the length byte `value` (below 6), then the reply
    BadSumFirst,    // the reply with a wrong sum, then the reply
    WrongSum,       // the reply with a wrong sum only
    WrongSeq,       // the reply under the next sequence number only
    NoStatus,       // a reply without its status byte
    Split,          // the reply in two writes `ms` apart
    Joined,         // the reply between two frames of other sequence numbers, in one write
    Silence,        // nothing
    Flood,          // bytes without a valid frame for `ms`, and no reply
};

struct FrameSimFault {
    FrameFault kind = FrameFault::Silence;
    BYTE command = 0;       // 0: the next request, whatever its command
    int times = 1;
    int value = 0;
    DWORD ms = 30;
};

// Where the replies go: write returns false once the simulator stops; speed is called after
// the reply to a speed change has gone out.
struct FrameSimLine {
    std::function<bool(const std::string&)> write;
    std::function<void(DWORD)> speed;
};

class CFrameSim {
public:
    // Model index 3, 4, 5 or 11: model 4 answers "next card" past the last one with status 9.
    void SetModel(int model);
    // Whether the reader activates ISO 14443-4 (0x48); else it answers status 2.
    void SetAtsSupported(bool on);
    void SetField(const std::vector<FrameSimCard>& cards);
    void AddFault(const FrameSimFault& fault);
    // Every request with this command is answered with this status byte alone; -1 clears. A
    // status other than 0x55 refuses the command: a refused mode and speed change leaves
    // the reader's mode and speed as they were.
    void SetStatus(BYTE command, int status);
    void ClearFaults();

    // Whether the reader takes frames only (after 0x2F with mode 1, until mode 0).
    bool BinaryMode() const;
    // The key memory: slot (0 to 31) -> key as written by 0x5F (6 or 16 bytes).
    std::map<int, std::string> KeySlots(bool plus) const;
    // Requests answered so far with this command.
    int Count(BYTE command) const;

    // Answers one request (simulator thread).
    void Reply(BYTE seq, BYTE code, const std::string& payload, const FrameSimLine& line);

private:
    struct Answer {
        std::string payload;
        DWORD speed = 0;
        int mode = -1;
    };
    Answer Handle(BYTE code, const std::string& payload);
    FrameSimCard* Current();
    std::string Authenticate(bool plus, const std::string& payload);
    bool TakeFault(BYTE code, FrameSimFault& fault);

    mutable std::mutex m_mutex;
    int m_model = 3;
    bool m_atsSupported = true;
    bool m_binary = false;
    std::vector<FrameSimCard> m_field;
    size_t m_search = 0;            // the card "find card" answers with
    int m_current = -1;             // the selected card
    int m_classicSector = -1;       // the sector authenticated on it
    int m_plusSector = -1;
    std::map<int, std::string> m_slots6, m_slots16;
    std::deque<FrameSimFault> m_faults;
    std::map<BYTE, int> m_status;
    std::map<BYTE, int> m_counts;
};
