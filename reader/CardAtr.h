#pragma once
// A contactless card's answer to reset (ATR), as a PC/SC reader reports it: its interface and
// historical bytes, and the card type that the storage-card rules of the PC/SC part 3
// supplement give for it. Stateless; any thread.
#include <windows.h>
#include <cstdint>

// Position keys of the interface bytes: TS 1, T0 2, for group i = 1..7 TA 4i-1, TB 4i, TC 4i+1,
// TD 4i+2, and TCK 31.
constexpr int kAtrTS = 1;
constexpr int kAtrT0 = 2;
constexpr int AtrTA(int i) { return 4 * i - 1; }
constexpr int AtrTB(int i) { return 4 * i; }
constexpr int AtrTC(int i) { return 4 * i + 1; }
constexpr int AtrTD(int i) { return 4 * i + 2; }
constexpr int kAtrTCK = 31;
constexpr int kAtrMaxHistorical = 15;

struct AtrInfo {
    int16_t bytes[32];                  // by position key; -1 where the ATR has none
    BYTE historical[kAtrMaxHistorical];
    int historicalCount = 0;            // K, the low nibble of T0

    AtrInfo();
    bool Has(int key) const { return bytes[key] >= 0; }
    BYTE Get(int key) const { return static_cast<BYTE>(bytes[key]); }
};

// False for a length outside 2..33, another initial byte than 3B or 3F, interface bytes running
// past the end, or historical bytes that do not fit after them. Nothing past length is read.
bool ParseAtr(const BYTE* atr, size_t length, AtrInfo& out);

// One row of the card-name table: the card name of the PC/SC supplement (two bytes) or a whole
// historical-byte string, and what it means.
struct CardNameRow {
    BYTE length;
    BYTE key[9];
    int cardType;
    uint32_t flags;
};

// The row whose key is exactly these bytes; null when none is.
const CardNameRow* FindCardName(const BYTE* key, size_t length);

struct CardIdentity {
    int cardType = 0;       // key-type index, 0 unknown
    uint32_t flags = 0;     // the row's flag byte
};
CardIdentity IdentifyCardFromAtr(const AtrInfo& atr);

// Mifare Plus rows read as Mifare Classic when these flag bits say so (SL1 with a Classic
// sector layout).
constexpr bool CardFlagsReadAsClassic(uint32_t flags)
{
    return (flags & 0x01) && (flags & 0x08) && (flags & 0x30) == 0x10;
}
