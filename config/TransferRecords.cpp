#include "config/TransferRecords.h"
#include <algorithm>

namespace {

_KEY_NUMBER MakeKey(const BYTE* bytes, int count)
{
    _KEY_NUMBER key{};
    key.length = static_cast<BYTE>(count);
    std::copy(bytes, bytes + count, key.bytes);
    return key;
}

int32_t Clamp(int32_t value, int32_t low, int32_t high)
{
    return std::min(std::max(value, low), high);
}

}  // namespace

_KEY_NUMBER DefaultMifareClassicKey()
{
    static const BYTE bytes[6] = {0xD4, 0x08, 0x5E, 0x7A, 0x91, 0x3C};
    return MakeKey(bytes, 6);
}

_KEY_NUMBER DefaultMifarePlusKey()
{
    static const BYTE bytes[16] = {0x1A, 0xF3, 0x65, 0x0C, 0xB9, 0x41, 0x7E, 0xD2,
                                   0x08, 0xC7, 0x3A, 0x5F, 0x94, 0xE0, 0x21, 0x6B};
    return MakeKey(bytes, 16);
}

std::vector<uint32_t> DefaultTemicParams()
{
    return {PackTemicParam(2, 0, 0), PackTemicParam(1, 1, 0), PackTemicParam(2, 1, 0), PackTemicParam(1, 0, 0),
            PackTemicParam(255, 0, 1000)};
}

ReadKeysSettings::ReadKeysSettings()
{
    classic.key = DefaultMifareClassicKey();
    plus.key = DefaultMifarePlusKey();
}

void ClampCardReadSettings(ReadKeysSettings& s)
{
    for (MifareReadSettings* m : {&s.classic, &s.plus}) {
        m->sector = Clamp(m->sector, 0, kMifareMaxSector);
        m->block = Clamp(m->block, 0, kMifareMaxBlock);
    }
    s.ultralight.page = Clamp(s.ultralight.page, 0, 15);
    s.ultralight.count = Clamp(s.ultralight.count, 1, 4);
    s.temic.block = Clamp(s.temic.block, 0, 7);
    s.temic.count = Clamp(s.temic.count, 1, 4);
}

int32_t ClampMaxConnections(int32_t value)
{
    return value == kMaxConnectionsUnlimited || value >= 1 ? value : 1;
}
