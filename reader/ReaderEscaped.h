#pragma once
// The escaped frame protocol of the KR-5040: frames closed by 0xC0 with 0xC0 and 0xDB escaped
// inside, on a port at 115200 Bd with 0xC0 as its event character, polled by the thread for
// the keys in the reader's field. The reader's lamp and beeper follow the field through the
// indication command.
#include <vector>
#include "reader/ReaderProtocol.h"

class CEscapedProtocol : public CReaderProtocol {
public:
    explicit CEscapedProtocol(CReader& reader);

    int Id() const override { return RDPROT_ESCAPED; }
    // The port at the reader's speed; the keys lying in the field are listed without a report.
    bool Connect() override;
    // Nothing is expected outside a transaction.
    void Input() override;
    // A poll round once a poll period has passed, unless polling is off or suspended.
    void Tick() override;

    // One request with its tries: the reply's success (status 0xAA) and the data after the
    // status byte.
    bool SendEscapedFrame(BYTE command, const BYTE* payload, size_t length, bool& success, std::vector<BYTE>& reply);
    // Waits for a valid reply with the expected code (0: any): its unescaped data from the
    // status byte on.
    bool ReceiveEscapedFrame(std::vector<BYTE>& reply, BYTE expected, DWORD timeout);
    bool SendEscapedIndication(BYTE a, BYTE b);
    // The numbers in the field; an empty number has length 0.
    bool PollEscaped(_KEY_NUMBER& emMarine, _KEY_NUMBER& temic);
    // Polls and brings the key list and the reader's indication up to date; with clearFirst
    // the list becomes what the reader holds, without reports.
    bool EscapedPollRound(bool clearFirst);

private:
    DWORD m_lastPoll;
    bool m_failureReported = false;
};
