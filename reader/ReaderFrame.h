#pragma once
// Binary frames (0x02, sequence, length, code, payload, 16-bit sum) with one request and one
// reply per transaction. The Mifare readers take their commands in them in either protocol
// (their speed, and leaving them in text mode), so the link belongs to the connection; the
// binary frame protocol runs over it.
#include <vector>
#include "reader/ReaderProtocol.h"

// Checks one binary frame (count bytes from its start byte): S_OK with its sequence number,
// code and payload, else 0x80040218.
HRESULT CheckReaderFrame(const BYTE* bytes, size_t count, BYTE& seq, BYTE& code, std::vector<BYTE>& payload);

class CFrameLink : public CReaderServices {
public:
    using CReaderServices::CReaderServices;

    // One transaction with its tries: the reply's status byte and, when asked, its data.
    bool SendReaderFrame(BYTE command, const BYTE* payload, size_t length, BYTE* status, std::vector<BYTE>* reply);
    // Waits for one valid frame with the current sequence number.
    bool ReceiveFrame(std::vector<BYTE>& reply, DWORD timeout);

    // Mode 1 binary frames, 0 text lines; a speed index, or 0x80 to keep the speed.
    bool SendModeSpeed(BYTE mode, BYTE speedIndex);
    bool SendIndication(BYTE value);
    bool SendEndSearch();
    bool WriteReaderKey(int bank, int slot, const _KEY_NUMBER& key, bool plus);

    DWORD LastFrameTick() const { return m_lastFrameTick; }

private:
    BYTE m_seq = 0;
    DWORD m_lastFrameTick = GetTickCount();
    std::vector<BYTE> m_send;
    std::vector<BYTE> m_reply;
};

// The binary frame protocol: bytes outside a transaction are dropped, a keep-alive goes out
// when the reader has heard nothing for a while, and the owner's keys go into the reader's
// key memory.
class CFrameProtocol : public CReaderProtocol {
public:
    using CReaderProtocol::CReaderProtocol;

    int Id() const override { return RDPROT_FRAME; }
    bool Connect() override;
    void Input() override;
    void Tick() override;
    void Disconnect() override;
    HRESULT RunJob(const ReaderJob& job) override;

private:
    CFrameLink& Link();
};
