#include "reader/FrameCodec.h"
#include <algorithm>
#include "reader/Reader.h"

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
