#include "reader/ByteUnits.h"
#include "core/SysUtil.h"

namespace {

constexpr size_t kDallasFrameSize = 10;
constexpr size_t kLongFrameSize = 35;
constexpr size_t kShortFrameSize = 2;
constexpr size_t kFobFrameSize = 6;
constexpr int kFobMode = 2;

size_t KeyFrameSize(int mode, BYTE second)
{
    if (mode == kFobMode)
        return kFobFrameSize;
    if (second == 0x20 || second == 0x21)
        return kDallasFrameSize;
    return second == 0x40 ? kLongFrameSize : kShortFrameSize;
}

bool IsStatusByte(BYTE b)
{
    return b == 0x55 || b == BYTE_ACK || b == BYTE_NOT_READY || b == 0xF0 || b == 0xF1;
}

} // namespace

bool ByteArmingCommand(int mode, BYTE& command)
{
    static const BYTE kArming[kVell4ModeCount] = {BYTE_CMD_ARM_DALLAS, BYTE_CMD_ARM_EM_MARINE, BYTE_CMD_ARM_FOB};
    if (mode < 0 || mode >= kVell4ModeCount)
        return false;
    command = kArming[mode];
    return true;
}

void BuildByteCommand(std::vector<BYTE>& buffer, BYTE command)
{
    buffer.clear();
    buffer.push_back(command);
    if (command != BYTE_CMD_RESET)
        buffer.push_back(static_cast<BYTE>(0x100 - ((0x5A + command) & 0xFF)));
}

bool TakeByteUnit(std::vector<BYTE>& received, int mode, std::vector<BYTE>& unit)
{
    size_t skip = 0;
    while (skip < received.size() && !IsStatusByte(received[skip]) && received[skip] != BYTE_KEY_FRAME)
        ++skip;
    received.erase(received.begin(), received.begin() + static_cast<ptrdiff_t>(skip));
    if (received.empty())
        return false;
    size_t size = 1;
    if (received[0] == BYTE_KEY_FRAME) {
        if (mode != kFobMode && received.size() < 2)
            return false;
        size = KeyFrameSize(mode, mode == kFobMode ? 0 : received[1]);
    }
    if (received.size() < size)
        return false;
    unit.assign(received.begin(), received.begin() + static_cast<ptrdiff_t>(size));
    received.erase(received.begin(), received.begin() + static_cast<ptrdiff_t>(size));
    return true;
}

bool DecodeByteKeyFrame(const std::vector<BYTE>& unit, int mode, bool qm100, int& keyType, _KEY_NUMBER& key)
{
    key = _KEY_NUMBER{};
    if (unit.empty() || unit[0] != BYTE_KEY_FRAME)
        return false;
    if (mode == kFobMode) {
        if (unit.size() != kFobFrameSize)
            return false;
        keyType = unit[1] == 0x2A ? 5 : unit[1] == 0x2B ? 6 : 0;
        for (int i = 0; i < 4; ++i)
            key.bytes[i] = unit[2 + i];
        if (qm100) {
            const BYTE third = key.bytes[2], fourth = key.bytes[3];
            key.bytes[2] = static_cast<BYTE>((fourth & 0x0F) << 4 | (third & 0x0F));
            key.bytes[3] = static_cast<BYTE>((fourth & 0xF0) | third >> 4);
        }
        key.length = 4;
        return true;
    }
    if (unit.size() != kDallasFrameSize)
        return false;
    // Frame bytes 3 to 9 are r3 to r9; the identity runs from r9 (the family code) down to r3.
    BYTE identity[7];
    for (int i = 0; i < 7; ++i)
        identity[i] = unit[9 - i];
    if (DallasCrc8(identity, 7) != unit[2])
        return false;
    const int length = mode == 1 ? 5 : 6;
    keyType = mode == 1 ? 1 : 7;
    for (int i = 0; i < length; ++i)
        key.bytes[i] = identity[1 + i];
    key.length = static_cast<uint8_t>(length);
    return true;
}
