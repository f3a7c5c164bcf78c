#include "reader/EscapedFrames.h"
#include <algorithm>

namespace {

constexpr BYTE kEscape = 0xDB;
constexpr BYTE kEscapedEndCode = 0x01;
constexpr BYTE kEscapedEscapeCode = 0xDD;

BYTE SumOf(const BYTE* bytes, size_t count)
{
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<BYTE>(sum);
}

// The number at data[first, first + length), or none when it is all zeros.
_KEY_NUMBER NumberAt(const std::vector<BYTE>& data, size_t first, size_t length)
{
    _KEY_NUMBER key;
    const auto begin = data.begin() + static_cast<ptrdiff_t>(first);
    const auto end = begin + static_cast<ptrdiff_t>(length);
    if (std::all_of(begin, end, [](BYTE b) { return b == 0; }))
        return key;
    std::copy(begin, end, key.bytes);
    key.length = static_cast<uint8_t>(length);
    return key;
}

} // namespace

void EscapeBytes(const BYTE* bytes, size_t count, std::vector<BYTE>& out)
{
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == kEscapedEnd) {
            out.push_back(kEscape);
            out.push_back(kEscapedEndCode);
        } else if (bytes[i] == kEscape) {
            out.push_back(kEscape);
            out.push_back(kEscapedEscapeCode);
        } else {
            out.push_back(bytes[i]);
        }
    }
}

std::vector<BYTE> UnescapeBytes(const BYTE* bytes, size_t count)
{
    std::vector<BYTE> out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != kEscape) {
            out.push_back(bytes[i]);
            continue;
        }
        if (i + 1 >= count)
            break;
        const BYTE next = bytes[++i];
        if (next == kEscapedEndCode)
            out.push_back(kEscapedEnd);
        else if (next == kEscapedEscapeCode)
            out.push_back(kEscape);
    }
    return out;
}

BYTE EscapedChecksum(const BYTE* bytes, size_t count)
{
    return static_cast<BYTE>(0x100 - SumOf(bytes, count));
}

std::vector<BYTE> BuildEscapedFrame(BYTE command, const BYTE* payload, size_t length)
{
    std::vector<BYTE> plain;
    plain.reserve(length + 2);
    plain.push_back(command);
    plain.insert(plain.end(), payload, payload + length);
    plain.push_back(EscapedChecksum(plain.data(), plain.size()));
    std::vector<BYTE> frame;
    frame.reserve(plain.size() * 2 + 1);
    EscapeBytes(plain.data(), plain.size(), frame);
    frame.push_back(kEscapedEnd);
    return frame;
}

bool CheckEscapedReply(const BYTE* bytes, size_t count, BYTE& code, std::vector<BYTE>& data)
{
    data.clear();
    if (count + 1 < 3)
        return false;
    std::vector<BYTE> plain = UnescapeBytes(bytes, count);
    if (plain.size() < 2)
        return false;
    if (SumOf(bytes, count) != 0 && SumOf(plain.data(), plain.size()) != 0)
        return false;
    code = plain.front();
    data.assign(plain.begin() + 1, plain.end() - 1);
    return true;
}

void ParseEscapedPoll(bool success, const std::vector<BYTE>& data, _KEY_NUMBER& emMarine, _KEY_NUMBER& temic)
{
    emMarine = _KEY_NUMBER{};
    temic = _KEY_NUMBER{};
    if (success) {
        if (data.size() > 8)
            temic = NumberAt(data, 1, 8);
        if (data.size() > 13)
            emMarine = NumberAt(data, 9, 5);
    } else if (data.size() > 5 && (data[0] & 0x20)) {
        emMarine = NumberAt(data, 1, 5);
    }
}
