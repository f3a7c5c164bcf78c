#include "reader/FrameCodec.h"
#include <algorithm>
#include "core/ResultCodes.h"

namespace {

constexpr BYTE kCodeWithoutSum = 0x23;

} // namespace

HRESULT CheckReaderFrame(const BYTE* bytes, size_t count, BYTE& seq, BYTE& code, std::vector<BYTE>& payload)
{
    payload.clear();
    if (count < kFrameOverhead || bytes[0] != kFrameStart)
        return KV_E_INVALID_RESPONSE;
    const size_t length = bytes[2];
    if (length < kFrameOverhead || length > count)
        return KV_E_INVALID_RESPONSE;
    seq = bytes[1];
    code = bytes[3];
    if (code != kCodeWithoutSum) {
        unsigned sum = 0;
        for (size_t i = 0; i + 2 < length; ++i)
            sum += bytes[i];
        const unsigned stored = bytes[length - 2] | bytes[length - 1] << 8;
        if ((sum & 0xFFFF) != stored)
            return KV_E_INVALID_RESPONSE;
    }
    payload.assign(bytes + 4, bytes + length - 2);
    return S_OK;
}

std::vector<BYTE> BuildReaderFrame(BYTE seq, BYTE command, const BYTE* payload, size_t length)
{
    length = std::min(length, kFrameMaxPayload);
    std::vector<BYTE> f;
    f.reserve(length + kFrameOverhead);
    f.push_back(kFrameStart);
    f.push_back(seq);
    f.push_back(static_cast<BYTE>(length + kFrameOverhead));
    f.push_back(command);
    if (length)
        f.insert(f.end(), payload, payload + length);
    unsigned sum = 0;
    for (BYTE b : f)
        sum += b;
    f.push_back(static_cast<BYTE>(sum));
    f.push_back(static_cast<BYTE>(sum >> 8));
    return f;
}

bool TakeReaderFrame(std::vector<BYTE>& buffer, BYTE seq, std::vector<BYTE>& payload, bool& seenPayload)
{
    // A start byte whose frame has not fully arrived may still be the reply; one that
    // follows it may be the reply too, when the first was only a stray start byte.
    const size_t size = buffer.size();
    size_t keep = size;
    for (size_t i = 0; i < size; ++i) {
        if (buffer[i] != kFrameStart)
            continue;
        if (size - i < 3) {
            keep = std::min(keep, i);
            break;
        }
        const size_t length = buffer[i + 2];
        if (length < kFrameOverhead)
            continue;
        if (size - i < length) {
            keep = std::min(keep, i);
            continue;
        }
        BYTE frameSeq = 0, code = 0;
        std::vector<BYTE> data;
        if (FAILED(CheckReaderFrame(buffer.data() + i, length, frameSeq, code, data)))
            continue;
        if (!data.empty())
            seenPayload = true;
        if (frameSeq != seq)
            continue;
        payload = std::move(data);
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(i + length));
        return true;
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(keep));
    return false;
}
