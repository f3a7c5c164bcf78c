#pragma once
// Binary frames (0x02, sequence, length, code, payload, 16-bit sum) with one request and one
// reply per transaction. The Mifare readers take their commands in them in either protocol
// (their speed, and leaving them in text mode), so the link belongs to the connection; the
// binary frame protocol runs over it.
#include <memory>
#include <string>
#include <vector>
#include "reader/FrameCodec.h"
#include "reader/FrameCommands.h"
#include "reader/ReaderProtocol.h"

// Where the program last commanded the reader on a port, for the life of the process: a
// reader switched to another speed, or to binary frames at its own, keeps both when the line
// drops, and only the program knows where to look for it again. A switch the reader refused
// leaves what was noted before it; one whose reply never came keeps the places noted before
// it too, since the reader may not have heard it. A reader told back to 9600 Bd (text lines)
// is forgotten. Port names compare case-insensitively.
struct CommandedPlace {
    DWORD speed = 0;
    bool binary = false;    // may have been left in binary frames
};
struct CommandedLine {
    // One per speed, the latest command's place first: one nobody answered, a text-mode command
    // tried while looking for the reader among them, moves its place in front of those noted
    // before it; a refused one puts the order back, a confirmed one leaves its place alone.
    std::vector<CommandedPlace> places;
};
bool FindCommandedLine(const std::wstring& port, CommandedLine& line);

class CFrameLink : public CReaderServices, public IFrameTransport {
public:
    using CReaderServices::CReaderServices;

    // One transaction with its tries: the reply's status byte and, when asked, its data.
    bool SendReaderFrame(BYTE command, const BYTE* payload, size_t length, BYTE* status, std::vector<BYTE>* reply);
    // Waits for one valid frame with the current sequence number.
    bool ReceiveFrame(std::vector<BYTE>& reply, DWORD timeout);

    // Mode 1 binary frames, 0 text lines; a speed index, or 0x80 to keep the speed. The port
    // follows a speed the reader accepted.
    bool SendModeSpeed(BYTE mode, BYTE speedIndex);
    // Text lines at the current speed, so that the reader hears the version query again.
    bool SendTextMode();

    DWORD LastFrameTick() const { return m_lastFrameTick; }
    // Whether any byte came back during the last transaction, a valid reply or not.
    bool HeardAnything() const { return m_heard; }
    // Drops the bytes received so far.
    void DropInput();

    // IFrameTransport: the commands' view of the link.
    bool Transact(BYTE command, const BYTE* payload, size_t length, BYTE& status, std::vector<BYTE>& data) override;
    void SetLastError(HRESULT code) override { CReaderServices::SetLastError(code); }
    HRESULT LastError() override { return LastErrorCode(); }
    void Pause(DWORD ms) override { ShortPause(ms); }
    int Tries() override { return Params().maxTries; }
    int ReplyTimeout() override { return Params().receiveTimeout; }
    void SetLimits(int tries, int replyTimeout) override
    {
        Params().maxTries = tries;
        Params().receiveTimeout = replyTimeout;
    }
    void LogInfo(const wchar_t* text) override { LogInfoText(text); }

private:
    BYTE m_seq = 0;
    DWORD m_lastFrameTick = GetTickCount();
    bool m_heard = false;
    std::vector<BYTE> m_send;
    std::vector<BYTE> m_reply;
};

// The binary frame protocol: bytes outside a transaction are dropped, the cards in the field
// are listed by a poll round every poll period, a keep-alive goes out when the reader has
// heard nothing for a while, and the owner's keys go into the reader's key memory.
class CFrameProtocol : public CReaderProtocol {
public:
    using CReaderProtocol::CReaderProtocol;

    int Id() const override { return RDPROT_FRAME; }
    bool Connect() override;
    void Input() override;
    void Tick() override;
    void Disconnect() override;
    HRESULT RunJob(const ReaderJob& job) override;

    // One poll round: lists the cards in the field, reports the new ones (not with
    // clearFirst, which empties the list first) and drops those that left.
    bool PollRound(bool clearFirst);

private:
    CFrameLink& Link();
    CFrameCommands& Commands();
    // The cards of a round, up to 16; new keys are read and added, and newKey set.
    bool ListCards(const ReadKeysSettings& settings, bool clearFirst, bool& newKey);
    // The card-memory read a new key gets: its result and number.
    void ReadCardMemory(_KEY_PRESENCE& entry, const ReadKeysSettings& settings);
    // Shows the field on the reader.
    void Indicate(bool newKey);
    // A failed request of the protocol's own: logged once until one succeeds again.
    void Report(bool ok, const wchar_t* what);

    std::unique_ptr<CFrameCommands> m_commands;
    DWORD m_roundEnd = 0;
    bool m_failing = false;
};
