// The road of a key through the real program, timed: Norvane.exe reads the simulated reader
// (over TCP, and over a COM port pair when tools/test-services.sh has made them) and sends each
// key by HTTP to a loopback server. Prints the median and the 99th percentile of the time from
// the reader's last byte of a key line to the server's receipt of the request, and the CPU time
// the idle program takes in 10 s with its reader connected and silent.
// Beside it, on the same line and in the same run, the floor: tools/keyrelay, a minimal relay
// that reads the same key lines from the same simulator and sends the same GET at once. The
// ratio of the two is what the program adds. Keys lost or a silent server fail the bench.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
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

    bool Whole() const { return failure.empty() && lost == 0 && latencies.size() == static_cast<size_t>(kKeys); }
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

std::string Tail(const std::string& text, size_t n)
{
    return text.substr(text.size() > n ? text.size() - n : 0);
}

// Presents kKeys keys one after the other and times each to its request's arrival. why ()
// tells what the far side knows when keys stop arriving.
void PresentKeys(CReaderSim& sim, const CLoopbackPeer& server, Result& result,
                 const std::function<std::string()>& why)
{
    for (int i = 0; i < kKeys; ++i) {
        const std::string number = std::to_string(20000 + i);
        sim.PresentKey("Em-Marine[0055] 085," + number);
        const double written = NowMs();
        if (!server.WaitForArrivals(static_cast<size_t>(i + 1 - result.lost), 2000)) {
            // A reader that stopped reporting would make the run endless.
            if (++result.lost == kMaxLost) {
                result.failure = "keys stopped arriving" + why();
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
}

std::string AddressOf(const CLoopbackPeer& server)
{
    return "http://127.0.0.1:" + std::to_string(server.Port()) + "/key?text=";
}

Result RunProgram(CReaderSim& sim, const std::wstring& source, const std::wstring& folder)
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
    settings.members = "\"httpRequest\": {\"address\": \"" + AddressOf(server) + "%KeyNum%\"},";
    CProgramProcess program(folder);
    result.failure = program.Prepare(settings);
    if (!result.failure.empty())
        return result;
    if (!program.Start() || !program.WaitForMainWindow(kWaitMs)) {
        result.failure = "the program did not start";
        return result;
    }
    // Start-up and the reader's identification are over once the connection is logged.
    if (!program.WaitForFileText(L"Norvane.log", "Reader connected (", kWaitMs)) {
        result.failure = "the program did not connect to the reader; its log ends:\n" +
                         Tail(ReadWholeFile(program.File(L"Norvane.log")), 1500);
        return result;
    }

    const double cpuBefore = program.CpuMs();
    WaitForSingleObject(program.Process(), kIdleMs);   // ten quiet seconds, unless it ends
    result.idleCpuMs = program.CpuMs() - cpuBefore;

    PresentKeys(sim, server, result, [&] {
        return "; the program's log ends:\n" + Tail(ReadWholeFile(program.File(L"Norvane.log")), 1500);
    });
    program.Close();
    return result;
}

// tools/keyrelay of this build on the same line, until the object goes.
class CRelayProcess
{
public:
    ~CRelayProcess()
    {
        if (m_process) {
            TerminateProcess(m_process, 0);
            WaitForSingleObject(m_process, 5000);
            CloseHandle(m_process);
        }
        if (m_ready)
            CloseHandle(m_ready);
    }

    // Empty once the relay has its reader line open, else what went wrong.
    std::string Start(const std::wstring& source, const std::string& address)
    {
        const std::wstring eventName = L"nv_keyrelay_ready_" + std::to_wstring(GetCurrentProcessId());
        m_ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
        const std::wstring program = ExeFolder() + L"\\..\\tools\\keyrelay.exe";
        std::wstring commandLine = L"\"" + program + L"\" " + source + L" " +
                                   std::wstring(address.begin(), address.end()) + L" " + eventName;
        STARTUPINFOW si{sizeof(si)};
        PROCESS_INFORMATION pi{};
        if (!m_ready || !CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &si, &pi))
            return "tools\\keyrelay.exe does not start (error " + std::to_string(GetLastError()) + ")";
        CloseHandle(pi.hThread);
        m_process = pi.hProcess;
        HANDLE both[2] = {m_ready, m_process};
        const DWORD w = WaitForMultipleObjects(2, both, FALSE, kWaitMs);
        if (w == WAIT_OBJECT_0)
            return std::string();
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        return w == WAIT_OBJECT_0 + 1 ? "the relay ended with code " + std::to_string(code)
                                      : "the relay did not open the reader's line";
    }

private:
    HANDLE m_process = nullptr;
    HANDLE m_ready = nullptr;
};

Result RunFloor(CReaderSim& sim, const std::wstring& source)
{
    Result result;
    CLoopbackPeer server(true);
    if (!server.Port()) {
        result.failure = "no loopback HTTP server";
        return result;
    }
    const int peers = sim.PeerCount();
    CRelayProcess relay;
    result.failure = relay.Start(source, AddressOf(server));
    if (!result.failure.empty())
        return result;
    // A TCP line is the simulator's once it has taken the connection.
    if (source.find(L':') != std::wstring::npos &&
        !sim.WaitUntil([&] { return sim.PeerCount() > peers; }, kWaitMs)) {
        result.failure = "the simulator never took the relay's connection";
        return result;
    }
    PresentKeys(sim, server, result, [] { return std::string(); });
    return result;
}

void Report(const char* line, const Result& program, const Result& floor)
{
    auto describe = [](const char* who, const Result& r) {
        if (!r.failure.empty() && r.latencies.empty()) {
            std::printf("  %s: %s\n", who, r.failure.c_str());
            return;
        }
        std::printf("  %s: %zu of %d keys to the HTTP server, median %.2f ms, 99th percentile %.2f ms, worst %.2f ms"
                    "%s%s\n",
                    who, r.latencies.size(), kKeys, Percentile(r.latencies, 0.5), Percentile(r.latencies, 0.99),
                    Percentile(r.latencies, 1.0), r.failure.empty() ? "" : "; ", r.failure.c_str());
    };
    std::printf("key latency (%s), from the reader's key line to the request at the HTTP server:\n", line);
    describe("Norvane", program);
    describe("floor (tools/keyrelay)", floor);
    if (program.idleCpuMs >= 0)
        std::printf("idle program (%s, reader connected and silent): %.1f ms CPU in %.0f s (%.2f %%)\n", line,
                    program.idleCpuMs, kIdleMs / 1000.0, 100.0 * program.idleCpuMs / kIdleMs);
    if (program.Whole() && floor.Whole()) {
        const double m = Percentile(program.latencies, 0.5), p = Percentile(program.latencies, 0.99);
        const double fm = Percentile(floor.latencies, 0.5), fp = Percentile(floor.latencies, 0.99);
        std::printf("key latency ratio (%s): Norvane/floor %.2f at the median (%.2f / %.2f ms), %.2f at the 99th "
                    "percentile (%.2f / %.2f ms)\n",
                    line, fm > 0 ? m / fm : 0.0, m, fm, fp > 0 ? p / fp : 0.0, p, fp);
    } else {
        std::printf("key latency ratio (%s): none, the bench could not do its work\n", line);
    }
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
        const std::wstring source = L"127.0.0.1:" + std::to_wstring(port);
        Result program, floor;
        if (port) {
            program = RunProgram(sim, L"reader:" + source, folder);
            floor = RunFloor(sim, source);
        } else {
            program.failure = floor.failure = "the simulator cannot listen";
        }
        Report("TCP", program, floor);
        ok = ok && program.Whole() && floor.Whole();
        sim.Stop();
        RemoveFolder(folder);
    }
    std::wstring nearName, farName;
    if (FindComPair(nearName, farName)) {
        CReaderSim sim;
        const std::wstring folder = MakeFolder(L"com");
        Result program, floor;
        if (sim.OpenCom(farName)) {
            program = RunProgram(sim, L"reader:" + nearName, folder);
            floor = RunFloor(sim, nearName);
        } else {
            program.failure = floor.failure = "the simulator cannot open its COM port";
        }
        Report("COM pair", program, floor);
        ok = ok && program.Whole() && floor.Whole();
        sim.Stop();
        RemoveFolder(folder);
    } else {
        std::printf("key latency (COM pair): skipped, no pairs (tools/test-services.sh start build/x64)\n");
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}
