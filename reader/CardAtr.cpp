#include "reader/CardAtr.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// Sorted by key length, then by key bytes.
const CardNameRow kCardNameTable[] = {
    {1, {0x80}, 19, 0x00},                                              // Mifare DESFire
    {2, {0x00, 0x01}, 10, 0x00},                                        // Mifare Classic 1K
    {2, {0x00, 0x02}, 12, 0x00},                                        // Mifare Classic 4K
    {2, {0x00, 0x03}, 9, 0x00},                                         // Mifare UltraLight
    {2, {0x00, 0x26}, 21, 0x00},                                        // Mifare Mini
    {2, {0x00, 0x36}, 15, 0x19},                                        // Mifare Plus 2K
    {2, {0x00, 0x37}, 16, 0x19},                                        // Mifare Plus 4K
    {2, {0x00, 0x38}, 15, 0x29},                                        // Mifare Plus 2K
    {2, {0x00, 0x39}, 16, 0x29},                                        // Mifare Plus 4K
    {2, {0x00, 0x3A}, 9, 0x00},                                         // Mifare UltraLight
    {7, {0xC1, 0x05, 0x2F, 0x2F, 0x01, 0xBC, 0xD6}, 16, 0x07},          // Mifare Plus 4K
    {8, {0x4A, 0x43, 0x4F, 0x50, 0x33, 0x50, 0x36, 0x30}, 18, 0x01},    // Smart MX with MIFARE 4K
};

// The registered application provider id of the PC/SC workgroup.
const BYTE kPcscRid[5] = {0xA0, 0x00, 0x00, 0x03, 0x06};

} // namespace

AtrInfo::AtrInfo()
{
    std::fill(std::begin(bytes), std::end(bytes), int16_t{-1});
    std::fill(std::begin(historical), std::end(historical), BYTE{0});
}

bool ParseAtr(const BYTE* atr, size_t length, AtrInfo& out)
{
    out = AtrInfo();
    if (!atr || length < 2 || length > 33 || (atr[0] != 0x3B && atr[0] != 0x3F))
        return false;
    out.bytes[kAtrTS] = atr[0];
    out.bytes[kAtrT0] = atr[1];
    out.historicalCount = atr[1] & 0x0F;
    size_t pos = 2;
    BYTE y = atr[1];
    for (int i = 1; i <= 7; ++i) {
        const int keys[3] = {AtrTA(i), AtrTB(i), AtrTC(i)};
        for (int k = 0; k < 3; ++k) {
            if (!(y & (0x10 << k)))
                continue;
            if (pos >= length)
                return false;
            out.bytes[keys[k]] = atr[pos++];
        }
        if (!(y & 0x80))
            break;
        if (pos >= length)
            return false;
        y = atr[pos++];
        out.bytes[AtrTD(i)] = y;
    }
    const size_t k = static_cast<size_t>(out.historicalCount);
    if (length - pos < k)
        return false;
    std::copy(atr + pos, atr + pos + k, out.historical);
    if (length - pos - k == 1)
        out.bytes[kAtrTCK] = atr[pos + k];
    return true;
}

const CardNameRow* FindCardName(const BYTE* key, size_t length)
{
    for (const CardNameRow& row : kCardNameTable)
        if (row.length == length && std::memcmp(row.key, key, length) == 0)
            return &row;
    return nullptr;
}

CardIdentity IdentifyCardFromAtr(const AtrInfo& atr)
{
    CardIdentity id;
    const int k = atr.historicalCount;
    if (!atr.Has(kAtrTS) || atr.Get(kAtrTS) != 0x3B || (atr.Get(kAtrT0) & 0xF0) != 0x80 || !atr.Has(AtrTD(1)) ||
        atr.Get(AtrTD(1)) != 0x80 || !atr.Has(AtrTD(2)) || atr.Get(AtrTD(2)) != 0x01 || k < 1)
        return id;
    const BYTE* h = atr.historical;
    const CardNameRow* row = nullptr;
    if (k >= 11 && h[0] == 0x80 && h[1] == 0x4F && std::memcmp(h + 3, kPcscRid, sizeof kPcscRid) == 0)
        row = FindCardName(h + 9, 2);   // the card name of a storage card
    else if (k < 10)
        row = FindCardName(h, static_cast<size_t>(k));
    if (row) {
        id.cardType = row->cardType;
        id.flags = row->flags;
    }
    return id;
}
