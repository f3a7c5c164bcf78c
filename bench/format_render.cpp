// Renders a typical access-control format (facility code and card number of a 26-bit
// Wiegand frame) 1,000,000 times and prints the rate. A render that gives a wrong text (or,
// for the Wiegand number, nothing or not always the same) fails the bench.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "config/FormatEngine.h"

int main()
{
    const BYTE key[] = {0x2A, 0x00, 0x05};
    const std::wstring templ = L"%03u,%05u\\r\\n";
    const std::wstring params = L"b2, w01";
    constexpr int kRounds = 1000000;
    const std::wstring kExpected = L"005,00042\r\n";   // byte 2, then bytes 0-1

    std::wstring out;
    RenderFormat(out, nullptr, templ, params, key, 3);
    const std::wstring first = out;
    size_t total = 0;
    size_t wrong = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i)
    {
        RenderFormat(out, nullptr, templ, params, key, 3);
        total += out.size();
        wrong += out != first;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("format_render: %d renders of \"%ls\" with \"%ls\" in %.3f s: %.0f renders/s, %.2f us each (%llu chars)\n",
                kRounds, templ.c_str(), params.c_str(), seconds, kRounds / seconds, seconds * 1e6 / kRounds, static_cast<unsigned long long>(total));

    const std::wstring wiegand = L"%I64u";
    const std::wstring wiegandParams = L"w(26, 3, m012)";
    RenderFormat(out, nullptr, wiegand, wiegandParams, key, 3);
    const std::wstring firstWiegand = out;
    const auto start2 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        RenderFormat(out, nullptr, wiegand, wiegandParams, key, 3);
        wrong += out != firstWiegand;
    }
    const double seconds2 = std::chrono::duration<double>(std::chrono::steady_clock::now() - start2).count();
    std::printf("format_render: %d renders of \"%ls\" with \"%ls\" in %.3f s: %.0f renders/s\n", kRounds,
                wiegand.c_str(), wiegandParams.c_str(), seconds2, kRounds / seconds2);
    if (first != kExpected || firstWiegand.empty() || wrong != 0) {
        std::printf("format_render: FAILED: rendered \"%ls\" and \"%ls\", %zu renders differed\n", first.c_str(),
                    firstWiegand.c_str(), wrong);
        return 1;
    }
    return 0;
}
