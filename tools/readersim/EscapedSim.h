#pragma once
// The KR-5040 of the simulated reader. It answers the version query with model code 0x821,
// at 115200 Bd only where the transport shows the speed, and then speaks escaped frames: each
// request (code, payload, sum, all escaped, then 0xC0) is unescaped and its sum checked; the
// poll 0x61 is answered from the keys in the field and the indication 0x02 with success. Its
// next answers can be spoiled on request.
#include "tools/readersim/ReaderSim.h"
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>
#include "tools/readersim/SimDialogue.h"

// 0xC0 becomes DB 01 and 0xDB becomes DB DD.
std::string SimEscape(const std::string& bytes);
// An answer: code, status and data, and the sum that makes the unescaped bytes add up to 0,
// all escaped, then 0xC0.
std::string BuildEscapedReply(BYTE code, const std::string& statusAndData);

enum class EscapedFault {
    GarbageBefore,  // a frame of noise first, then the answer
    GarbageInside,  // the answer with noise inside it first, then the answer
    TrailingDb,     // the answer with 0xDB before its closing 0xC0 (still good once unescaped)
    BadSum,         // the answer with a wrong sum first, then the answer
    OtherCode,      // a good frame with another code first, then the answer
    NoData,         // code and sum only, in place of the answer
};

class CEscapedSim : public CReaderSimDialogue {
public:
    // Plays the KR-5040 on sim until destroyed.
    explicit CEscapedSim(CReaderSim& sim);
    ~CEscapedSim() override;
    CEscapedSim(const CEscapedSim&) = delete;
    CEscapedSim& operator=(const CEscapedSim&) = delete;

    // The keys in the field (5 and 8 bytes; empty: none).
    void SetEmMarine(const std::string& number);
    void SetTemic(const std::string& number);
    // Poll answers with this status in place of 0xAA (0 restores it) take the short form: a
    // first data byte 0x20 and the Em-Marine number when one lies in the field, else 0 and
    // five zero bytes.
    void SetPollStatus(BYTE status);
    // Spoils the next answer to a request with this code; faults queue up in order.
    void Inject(EscapedFault fault, BYTE code = 0x61);

    struct Request {
        BYTE code = 0;
        std::string payload;
    };
    std::vector<Request> Requests() const;          // requests with a good sum, in order
    std::vector<std::string> RawRequests() const;   // every request as received, its 0xC0 included
    int BadRequests() const;                        // requests with a wrong sum
    int Polls() const;
    std::vector<std::pair<BYTE, BYTE>> Indications() const;

    void Take(std::string& input, std::string& answer) override;

private:
    std::string AnswerTo(const Request& request);
    std::string PollData() const;

    CReaderSim& m_sim;
    mutable std::mutex m_mutex;
    std::string m_emMarine;
    std::string m_temic;
    BYTE m_pollStatus = 0;
    std::deque<std::pair<EscapedFault, BYTE>> m_faults;
    std::vector<Request> m_requests;
    std::vector<std::string> m_raw;
    int m_bad = 0;
};
