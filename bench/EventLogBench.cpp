// The event table at its size limit: 100,000 events appended to a table of limit 100,000
// (the ring just fills), then a reopen, then 1,000 more events that overwrite the oldest.
// Prints the time of each step. A table that does not hold the events it was given fails the
// bench.
#include <windows.h>
#include <cstdio>
#include <string>

#include "bench/BenchClock.h"
#include "config/EventLogDb.h"

namespace {

} // namespace

int main()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"nv_bench_EventLog.dbf";
    DeleteFileW(path.c_str());
    constexpr int kEvents = 100000;
    try {
        CEventLogDb db;
        db.SetRecordLimit(kEvents);
        db.Open(path);
        _EVENT_RECORD event;
        event.level = EVENT_INFO;
        event.stringId = 204;
        event.attribute = L"COM3";
        double start = NowMs();
        for (int i = 0; i < kEvents; ++i) {
            event.time = 1741165623 + i;
            event.message = L"\"" + std::to_wstring(1000000 + i) + L"\" -> \"Copy to Clipboard\" (EM 0A0B0C, \"Std\")";
            db.AddEvent(event);
        }
        const double append = NowMs() - start;
        db.Close();

        start = NowMs();
        db.Open(path);
        const double reopen = NowMs() - start;
        const uint32_t count = db.GetEventCount();
        const int position = db.GetRingPosition();

        start = NowMs();
        for (int i = 0; i < 1000; ++i)
            db.AddEvent(event);
        const double overwrite = NowMs() - start;
        const uint32_t after = db.GetEventCount();
        db.Close();

        std::printf("event table, limit %d\n", kEvents);
        std::printf("  append %d events: %.0f ms (%.1f us per event)\n", kEvents, append, 1000.0 * append / kEvents);
        std::printf("  reopen (%u events, position %d): %.1f ms\n", count, position, reopen);
        std::printf("  overwrite 1000 oldest: %.1f ms\n", overwrite);
        if (count != static_cast<uint32_t>(kEvents) || after != static_cast<uint32_t>(kEvents)) {
            std::printf("  FAILED: the table holds %u events after the reopen and %u after the overwrite, not %d\n",
                        count, after, kEvents);
            DeleteFileW(path.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::printf("failed: %s\n", e.what());
        DeleteFileW(path.c_str());
        return 1;
    }
    DeleteFileW(path.c_str());
    return 0;
}
