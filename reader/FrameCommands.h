#pragma once
// The commands of the binary frame protocol and what the reader makes of their replies: the
// search for cards, the classification of a card into a key type, and the card-memory reads
// (Mifare Classic and Plus blocks, Mifare Ultralight pages). They run over any transport of
// request and reply frames; the reader thread gives its link.
#include <windows.h>
#include <cstdint>
#include <functional>
#include <vector>
#include "config/KeyNumber.h"
#include "config/TransferRecords.h"

// The operations, one per command and form.
enum FrameOp {
    FOP_INDICATION,         // 0x20 value, 0x01
    FOP_BEGIN_SEARCH,       // 0x23 00 0A 00
    FOP_END_SEARCH,         // 0x24 00
    FOP_MODE_SPEED,         // 0x2F mode, speed index or 0x80
    FOP_NEXT_CARD,          // 0x43
    FOP_FIND_CARD,          // 0x45 00
    FOP_SELECT_CARD,        // 0x46 0x81, UID
    FOP_ACTIVATE,           // 0x48 00: ISO 14443-4, the answer to select
    FOP_CLASSIC_AUTH_KEY,   // 0x50 2 + kind, block, key
    FOP_CLASSIC_AUTH_SLOTS, // 0x50 kind, block, slot mask, 00 00
    FOP_READ16,             // 0x51 block or page
    FOP_WRITE_KEY,          // 0x5F bank, slot, key
    FOP_PLUS_AUTH_SLOTS,    // 0x60 00, key address, slot mask, 00 00
    FOP_PLUS_AUTH_KEY,      // 0x60 02, key address, key
    FOP_PLUS_READ,          // 0x61 07, block, 01
    FOP_CARD_COMMAND,       // 0x6E reader byte, card command
};

BYTE FrameOpCommand(FrameOp op);
// The result of a reply: S_OK, or the code its status (or its missing data) stands for.
// "Find card" with status 9 (no card) succeeds.
HRESULT FrameReplyResult(FrameOp op, BYTE status, size_t dataSize);

constexpr BYTE kFrameStatusOk = 0x55;
constexpr BYTE kFrameStatusNoCard = 9;

// Indication values.
constexpr BYTE kIndicateNoKey = 0x8B;
constexpr BYTE kIndicateKeys = 0x8E;
constexpr BYTE kIndicateNewKey = 0x30;     // ORed into either
constexpr BYTE kIndicateAfterNewKey = 0x20;
constexpr BYTE kIndicateLeaving = 0x95;

// Sectors of a card of that key type read as Mifare Classic; as Mifare Plus (0: not read).
int MifareClassicSectors(int keyType);
int MifarePlusSectors(int keyType);
// The block a "sector" and "block" setting read on a card of that many sectors: the sector's
// first block plus "block" modulo the sector's size. -1 for a sector outside the card or a
// negative block (it would reach into another sector).
int MifareBlockAddress(int sectors, int sector, int block);

// Which read a key of the poll round gets.
enum CardMemoryRead { CMR_NONE, CMR_ULTRALIGHT, CMR_CLASSIC, CMR_PLUS };
CardMemoryRead ChooseCardMemoryRead(int keyType, uint32_t extra, const ReadKeysSettings& settings);

// The historical bytes of an answer to select: after its length byte, its format byte and the
// interface bytes TA, TB and TC that the format byte announces.
std::vector<BYTE> AtsHistoricalBytes(const std::vector<BYTE>& ats);

// Bits of the extra value of a Mifare key.
constexpr uint32_t MFX_ISO14443_4 = 0x01;
constexpr uint32_t MFX_LEVEL_PROBED = 0x08;
constexpr uint32_t MFX_LEVEL_FIELD = 0x30;      // 0x10 read as Classic, 0x30 read as Plus (AES)

// What the commands need of the line.
class IFrameTransport {
public:
    virtual ~IFrameTransport() = default;
    // One request and its reply: the reply's status byte and the data after it. False with the
    // last error set when no valid reply came; port failures are thrown.
    virtual bool Transact(BYTE command, const BYTE* payload, size_t length, BYTE& status, std::vector<BYTE>& data) = 0;
    virtual void SetLastError(HRESULT code) = 0;
    virtual HRESULT LastError() = 0;
    // A pause the reader needs between two commands.
    virtual void Pause(DWORD ms) = 0;
    // The tries and the reply time-out of each request.
    virtual int Tries() = 0;
    virtual int ReplyTimeout() = 0;
    virtual void SetLimits(int tries, int replyTimeout) = 0;
    // An information line of the debug log.
    virtual void LogInfo(const wchar_t* text) = 0;
};

// The card in the field as "find card" gives it.
struct FrameCardId {
    WORD atqa = 0;
    BYTE sak = 0;
    std::vector<BYTE> uid;     // empty: no card
};

// A classified card: key type, UID as key number, extra value, and its index in the presence
// list (-1 when it is not there).
struct FrameCardClass {
    int keyType = 0;
    _KEY_NUMBER key;
    uint32_t extra = 0;
    int present = -1;
};

// The card commands of one connection: they remember whether the card speaks ISO 14443-4
// now and whether the reader refused to activate it.
class CFrameCommands {
public:
    explicit CFrameCommands(IFrameTransport& link) : m_link(link) {}

    // Looks up a key number in the presence list: its key type, extra value and index.
    using PresenceLookup = std::function<bool(const _KEY_NUMBER& key, FrameCardClass& found)>;

    bool Indicate(BYTE value);
    bool BeginSearch();
    bool EndSearch();
    // Transport success; the status is the poll round's to judge.
    bool NextCard(BYTE& status);
    bool FindCard(FrameCardId& card);
    bool SelectCard(const std::vector<BYTE>& uid);
    // 0x48 unless the reader refused it before: the answer to select and its historical bytes.
    bool ReadAts(std::vector<BYTE>& ats, std::vector<BYTE>& historical);
    bool ClassicAuthenticate(bool keyB, BYTE block, const _KEY_NUMBER& key);
    bool ClassicAuthenticateBySlots(bool keyB, BYTE block, uint32_t mask);
    bool Read16(BYTE blockOrPage, BYTE (&data)[16]);
    bool WriteKey(int bank, int slot, const _KEY_NUMBER& key, bool plus);
    bool PlusAuthenticate(WORD address, const _KEY_NUMBER& key);
    bool PlusAuthenticateBySlots(WORD address, uint32_t mask);
    bool PlusRead(WORD block, BYTE (&data)[16]);
    bool CardCommand(const std::vector<BYTE>& command, std::vector<BYTE>& answer);
    // The card's hardware type, version and storage size.
    bool QueryVersion(BYTE& hardwareType, WORD& version, BYTE& storageSize);
    bool ProbeSecurityLevel(int which);

    // Finds and classifies the card in the field, with one try a request.
    bool ClassifyCard(FrameCardClass& card, const PresenceLookup& lookup);
    // Card-memory reads, with one try a request: KEYMEM_REPORT_MEMORY (0) with the number read,
    // else the error code.
    HRESULT ReadClassicBlock(const MifareReadSettings& settings, int keyType, const _KEY_NUMBER& uid,
                             _KEY_NUMBER& memory);
    HRESULT ReadPlusBlock(const MifareReadSettings& settings, int keyType, _KEY_NUMBER& memory);
    HRESULT ReadUltralight(const MifareULSettings& settings, _KEY_NUMBER& memory);

    bool Iso14443Active() const { return m_iso; }
    bool ActivateUnsupported() const { return m_activateUnsupported; }

private:
    // One request: false with the last error set by the reply's status or missing data.
    bool Run(FrameOp op, const BYTE* payload, size_t length, std::vector<BYTE>* data = nullptr);
    struct Classification;
    bool HaveAts(Classification& c);
    void ClassifyBySak(Classification& c);
    void ProbeByAuthentication(Classification& c, int mode);

    IFrameTransport& m_link;
    bool m_iso = false;
    bool m_activateUnsupported = false;
    BYTE m_status = 0;      // of the last reply
};
