#pragma once
// A simulated reader on the far end of a COM port pair or of a TCP connection: it answers
// the version query "i" with the reply of a chosen model and firmware, the text commands
// (read once "r", Ultralight pages "get", output programming "tFMT"/"tARG"/"tNOC", the Temic
// "t57" commands) from the cards in its field, the binary frames of the Mifare models, and
// sends key lines and "No card" lines when told to. The tests of the reader thread and of its protocols
// drive it, and readersim.exe plays it for a manual run.
#include <winsock2.h>
#include <windows.h>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "tools/readersim/FrameSim.h"

class CReaderSimDialogue;

struct ReaderSimIdentity {
    std::string name = "Vell-4 USB";
    uint32_t code = 0x301;      // hardware model code, printed in brackets
    int serial = 12345;
    std::string firmware = "106";  // "Software version:" line; empty: none
    std::string build;             // e.g. "Nov 16 2010 10:20:30"; empty: no "Build"
    int fillerLines = 3;           // lines between the S/N line and the version line
};

// The reply bytes of a reader with this identity, each line ending in CR LF. The reply ends
// with the line that carries the version (or the build date), as the readers send it.
std::string MakeVersionReply(const ReaderSimIdentity& id);

// One binary frame (start byte 0x02, sequence, length, code, payload, 16-bit sum).
struct ReaderSimFrame {
    BYTE seq = 0;
    BYTE code = 0;
    std::string payload;
};
std::string BuildSimFrame(BYTE seq, BYTE code, const std::string& payload);

// A Temic T5557 card in the simulated reader's field, read through the "t57" commands.
struct ReaderSimTemicCard {
    BYTE id1[4] = {};           // block 0x81
    BYTE id2[4] = {};           // block 0x82
    BYTE data[8][4] = {};       // data blocks 0 to 7
    int p1 = -1, p2 = -1;       // the read parameters it answers to; -1: any
    bool usePassword = false;   // answers only "t57 06" with this password
    uint32_t password = 0;
};

class CReaderSim {
public:
    CReaderSim();
    virtual ~CReaderSim();
    CReaderSim(const CReaderSim&) = delete;
    CReaderSim& operator=(const CReaderSim&) = delete;

    // Transports. ListenTcp binds 127.0.0.1:port (0 = any free port) and returns the port,
    // 0 on failure; one peer at a time is served, and a new one is accepted after it leaves.
    uint16_t ListenTcp(uint16_t port = 0);
    bool OpenCom(const std::wstring& name);
    void Stop();

    // Settings (any thread).
    void SetIdentity(const ReaderSimIdentity& id);
    void SetVersionReply(const std::string& reply);   // raw reply to "i", replaces the identity's
    // Answer only while the line runs at this speed (0: at any), and take no frame at another.
    // The speed is known from the telnet baud-rate requests of a TCP peer (SetTelnet) or from
    // a probe (SetLineSpeedProbe); a line that does not show its speed is answered at any. A
    // speed change the reader carries out moves it where the line shows its speed.
    void SetAnswerSpeed(DWORD speed);
    void SetTelnet(bool on);
    // A line that shows its speed only outside the simulator (a serial pair, or a converter
    // in front of one): the probe tells the speed the program's end runs at now (0: unknown),
    // and the answer speed holds there as over telnet. Called on the simulator's thread.
    void SetLineSpeedProbe(std::function<DWORD()> probe);
    void SetMute(bool on);    // answer nothing at all
    // The reader is off the line (the line itself stays): nothing that comes in is heard.
    void SetAway(bool on);
    // The dialogue that takes the bytes after the first version query (nullptr: none). The
    // dialogue outlives its setting; it detaches itself with nullptr before it goes.
    void SetDialogue(CReaderSimDialogue* dialogue);

    // Cues (any thread). A key line is sent at once and the key stays in the field for the
    // read-once command until RemoveKey.
    void SendRaw(const std::string& bytes);
    void SendLine(const std::string& line);           // appends CR LF
    void PresentKey(const std::string& keyLine);
    void RemoveKey();                                  // sends "No card" CR LF
    void SetFieldKey(const std::string& keyLine);      // answer to "r" only, nothing sent
    void DropPeer();                                   // closes the TCP peer's connection
    // The 16 pages of the Mifare Ultralight card in the field (64 bytes); "get" reads four
    // of them. An empty field answers "No card".
    void SetUltralightPages(const std::string& bytes);
    // The Temic card in the field; nullptr takes it away.
    void SetTemicCard(const ReaderSimTemicCard* card);
    // The answer to one exact command line (without its line end), in place of the reader's
    // own; an empty answer restores it.
    void SetAnswer(const std::string& command, const std::string& answer);
    // The binary frames of the Mifare models: the field of cards, the faults, the key memory.
    CFrameSim& Binary() { return m_binary; }

    // What the reader sent.
    int QueryCount() const;         // "i" bytes answered or not
    int ReadOnceCount() const;      // "r" lines
    std::vector<ReaderSimFrame> Frames() const;
    std::string ReceivedText() const;   // every byte received (telnet commands removed)
    std::vector<std::string> CommandLines() const;   // text commands, without line ends
    int CommandCount(const std::string& command) const;
    DWORD LineSpeed() const;        // the program's end, where the line shows it
    DWORD AnswerSpeed() const;      // the reader's own (0: any)
    bool Connected() const;
    int PeerCount() const;          // TCP peers accepted so far
    // Waits until cond () holds (checked after every change), at most timeout ms.
    bool WaitUntil(const std::function<bool()>& cond, DWORD timeout) const;

protected:
    // Hooks for protocol tests: a text line from the reader (without CR LF) and a binary
    // frame; return the bytes to answer (an empty string answers nothing). Called on the
    // simulator's thread with its lock released.
    virtual std::string OnTextLine(const std::string& line);
    // Default: the Mifare reader's own answer (Binary()).
    virtual std::string OnFrame(const ReaderSimFrame& frame);

private:
    void RunTcp();
    void RunCom();
    void OnBytes(const char* data, size_t n);
    void ProcessInput();
    void Answer(const std::string& bytes);
    void WriteOut(const std::string& bytes);
    std::string TelnetFilter(const char* data, size_t n);
    // Whether the line runs at the reader's own speed (the answer speed), as far as it shows;
    // takes the lock, and asks the probe outside it.
    bool AtOwnSpeed() const;
    void Notify();

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::thread m_thread;
    HANDLE m_stop = nullptr;
    SOCKET m_listen = INVALID_SOCKET;
    SOCKET m_peer = INVALID_SOCKET;
    HANDLE m_com = INVALID_HANDLE_VALUE;
    mutable std::mutex m_writeMutex;

    std::string m_versionReply;
    DWORD m_answerSpeed = 0;
    DWORD m_lineSpeed = 0;
    bool m_telnet = false;
    bool m_mute = false;
    bool m_away = false;
    std::function<DWORD()> m_speedProbe;
    CReaderSimDialogue* m_dialogue = nullptr;
    std::string m_fieldKey;
    std::string m_pages = std::string(64, '\0');
    bool m_temicPresent = false;
    ReaderSimTemicCard m_temic;
    std::vector<std::pair<std::string, std::string>> m_answers;
    std::vector<std::string> m_lines;
    CFrameSim m_binary;

    std::string m_input;        // bytes not yet handled
    std::string m_telnetRaw;    // telnet bytes not yet filtered
    std::string m_received;
    std::vector<ReaderSimFrame> m_frames;
    int m_queries = 0;
    int m_readOnce = 0;
    int m_peers = 0;
    bool m_wsa = false;
};
