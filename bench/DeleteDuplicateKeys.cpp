// Removing duplicate keys from a large key list: the time should grow as n log n, so
// doubling the list should a little more than double it. A removal that leaves a duplicate or
// takes a key that had none fails the bench.
#include <windows.h>
#include <cstdio>
#include <random>
#include <set>
#include "config/TransferDoc.h"

namespace {

// The time in ms; removed and left tell what the list became, distinct what it should be.
double RunOnce(size_t count, size_t& removed, size_t& left, size_t& distinct)
{
    CTransferDoc doc;
    std::set<uint32_t> values;
    std::mt19937 random(12345);
    // About half the entries repeat an earlier one.
    std::uniform_int_distribution<uint32_t> pick(0, static_cast<uint32_t>(count / 2));
    for (size_t i = 0; i < count; ++i) {
        const uint32_t value = pick(random);
        values.insert(value);
        uint8_t bytes[7] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), 0x04, 0x80, 0x00, 0x01};
        _KV_KEY key;
        key.keyType = 9 + static_cast<int32_t>(value % 3);
        key.keyNumber = MakeKeyNumber(bytes, 7);
        doc.AddKey(key);
    }
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    removed = doc.DeleteDuplicateKeys();
    QueryPerformanceCounter(&stop);
    left = doc.GetKeys().size();
    distinct = values.size();
    return 1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main()
{
    bool ok = true;
    for (size_t count : {25000u, 50000u, 100000u, 200000u}) {
        size_t removed = 0, left = 0, distinct = 0;
        double best = 1e30;
        for (int run = 0; run < 3; ++run) {
            double ms = RunOnce(count, removed, left, distinct);
            if (ms < best)
                best = ms;
        }
        if (left != distinct || removed != count - distinct) {
            std::printf("DeleteDuplicateKeys: FAILED: %u keys, %u distinct, %u removed, %u left\n",
                        static_cast<unsigned>(count), static_cast<unsigned>(distinct), static_cast<unsigned>(removed),
                        static_cast<unsigned>(left));
            ok = false;
        }
        std::printf("DeleteDuplicateKeys: %7u keys, %7u removed, %8.2f ms (best of 3)\n", static_cast<unsigned>(count),
                    static_cast<unsigned>(removed), best);
    }
    return ok ? 0 : 1;
}
