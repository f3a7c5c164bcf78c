// The road of a key through the real program, timed: Norvane.exe reads the simulated reader
// (over TCP, and over a COM port pair when tools/test-services.sh has made them) and sends each
// key by HTTP to a loopback server. Prints the median and the 99th percentile of the time from
// the reader's last byte of a key line to the server's receipt of the request, and the CPU time
// the idle program takes in 10 s with its reader connected and silent.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ProgramRun.h"
#include "tools/readersim/ReaderSim.h"

using namespace program_run;

namespace {

constexpr int kKeys = 200;
constexpr DWORD kIdleMs = 10000;
constexpr DWORD kWaitMs = 20000;
constexpr int kMaxLost = 3;

struct Result
{
    std::vector<double> latencies;
    double idleCpuMs = -1;
    int lost = 0;
    std::string failure;
};

// The far end of the first COM pair that tools/test-services.sh made, or nothing.
bool FindComPair(std::wstring& nearName, std::wstring& farName)
{
    const std::string text = ReadWholeFile(ExeFolder() + L"\\..\\ptys\\pairs.txt");
    const size_t at = text.find("pair 0 ");
    if (at == std::string::npos)
        return false;
    char nearText[16] = {}, farText[16] = {};
    if (std::sscanf(text.c_str() + at, "pair 0 %15s %15s", nearText, farText) != 2)
        return false;
    nearName = std::wstring(nearText, nearText + strlen(nearText));
    farName = std::wstring(farText, farText + strlen(farText));
    return true;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

Result RunOnce(CReaderSim& sim, const std::wstring& source, const std::wstring& folder)
{
    Result result;
    CLoopbackPeer server(true);
    if (!server.Port()) {
        result.failure = "no loopback HTTP server";
        return result;
    }
    RunSettings settings;
    settings.source = source;
    settings.destination = L"http:";
    settings.members = "\"httpRequest\": {\"address\": \"http://127.0.0.1:" + std::to_string(server.Port()) +
                       "/key?text=%KeyNum%\"},";
    CProgramProcess program(folder);
    result.failure = program.Prepare(settings);
    if (!result.failure.empty())
        return result;
    if (!program.Start() || !program.WaitForMainWindow(kWaitMs)) {
        result.failure = "the program did not start";
        return result;
    }
    if (!sim.WaitUntil([&] { return sim.QueryCount() > 0; }, kWaitMs)) {
        result.failure = "the program did not connect to the reader";
        return result;
    }
    // Start-up and the reader's identification settle first.
    Sleep(1000);

    const double cpuBefore = program.CpuMs();
    Sleep(kIdleMs);
    result.idleCpuMs = program.CpuMs() - cpuBefore;

    for (int i = 0; i < kKeys; ++i) {
        const std::string number = std::to_string(20000 + i);
        sim.PresentKey("Em-Marine[0055] 085," + number);
        const double written = NowMs();
        if (!server.WaitForArrivals(static_cast<size_t>(i + 1 - result.lost), 2000)) {
            // A reader that stopped reporting would make the run endless.
            if (++result.lost == kMaxLost) {
                const std::string log = ReadWholeFile(program.File(L"Norvane.log"));
                result.failure = "keys stopped arriving; the program's log ends:\n" +
                                 log.substr(log.size() > 1500 ? log.size() - 1500 : 0);
                break;
            }
            continue;
        }
        const Arrival last = server.Arrivals().back();
        if (last.text != "/key?text=" + number) {
            result.failure = "unexpected request " + last.text;
            break;
        }
        result.latencies.push_back(last.ms - written);
    }
    program.Close();
    return result;
}

void Report(const char* line, const Result& r)
{
    if (!r.failure.empty() && r.latencies.empty()) {
        std::printf("key latency (%s): %s\n", line, r.failure.c_str());
        return;
    }
    std::printf("key latency (%s, %zu of %d keys to the HTTP server): median %.2f ms, 99th percentile %.2f ms, "
                "worst %.2f ms%s%s\n",
                line, r.latencies.size(), kKeys, Percentile(r.latencies, 0.5), Percentile(r.latencies, 0.99),
                Percentile(r.latencies, 1.0), r.failure.empty() ? "" : "; ", r.failure.c_str());
    std::printf("idle program (%s, reader connected and silent): %.1f ms CPU in %.0f s (%.2f %%)\n", line,
                r.idleCpuMs, kIdleMs / 1000.0, 100.0 * r.idleCpuMs / kIdleMs);
}

std::wstring MakeFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"nv_keybench_" + name + L"_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void RemoveFolder(const std::wstring& folder)
{
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

} // namespace

int main()
{
    bool ok = true;
    {
        CReaderSim sim;
        const uint16_t port = sim.ListenTcp(0);
        const std::wstring folder = MakeFolder(L"tcp");
        const Result r = port ? RunOnce(sim, L"reader:127.0.0.1:" + std::to_wstring(port), folder)
                              : Result{{}, -1, 0, "the simulator cannot listen"};
        Report("TCP", r);
        ok = ok && r.failure.empty() && r.lost == 0;
        sim.Stop();
        RemoveFolder(folder);
    }
    std::wstring nearName, farName;
    if (FindComPair(nearName, farName)) {
        CReaderSim sim;
        const std::wstring folder = MakeFolder(L"com");
        const Result r = sim.OpenCom(farName) ? RunOnce(sim, L"reader:" + nearName, folder)
                                              : Result{{}, -1, 0, "the simulator cannot open its COM port"};
        Report("COM pair", r);
        ok = ok && r.failure.empty() && r.lost == 0;
        sim.Stop();
        RemoveFolder(folder);
    } else {
        std::printf("key latency (COM pair): skipped, no pairs (tools/test-services.sh start build/x64)\n");
    }
    return ok ? 0 : 1;
}
