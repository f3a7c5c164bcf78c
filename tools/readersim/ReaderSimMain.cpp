// readersim: plays a reader on a COM port or a TCP listen port and presents a key every few
// seconds, until it is ended.
//   readersim --tcp 4001 | --com COM12  [--telnet] [--name TEXT] [--code HEX] [--serial N]
//             [--fw TEXT] [--build "Nov 16 2010 10:20:30"] [--key LINE] [--every MS] [--hold MS]
#include "tools/readersim/ReaderSim.h"
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string Narrow(const wchar_t* s)
{
    std::string out;
    for (; *s; ++s)
        out += static_cast<char>(*s < 0x80 ? *s : '?');
    return out;
}

int Usage()
{
    std::fwprintf(stderr, L"usage: readersim --tcp PORT | --com NAME [--telnet] [--name TEXT] [--code HEX]\n"
                          L"       [--serial N] [--fw TEXT] [--build TEXT] [--key LINE] [--every MS] [--hold MS]\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    ReaderSimIdentity id;
    std::wstring com;
    int tcp = -1;
    bool telnet = false;
    std::string key = "Em-Marine[0055] 085,12345";
    DWORD every = 5000, hold = 1000;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == L"--telnet")
            telnet = true;
        else if (!hasValue)
            return Usage();
        else if (a == L"--tcp")
            tcp = _wtoi(argv[++i]);
        else if (a == L"--com")
            com = argv[++i];
        else if (a == L"--name")
            id.name = Narrow(argv[++i]);
        else if (a == L"--code")
            id.code = static_cast<uint32_t>(wcstoul(argv[++i], nullptr, 16));
        else if (a == L"--serial")
            id.serial = _wtoi(argv[++i]);
        else if (a == L"--fw")
            id.firmware = Narrow(argv[++i]);
        else if (a == L"--build")
            id.build = Narrow(argv[++i]);
        else if (a == L"--key")
            key = Narrow(argv[++i]);
        else if (a == L"--every")
            every = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (a == L"--hold")
            hold = static_cast<DWORD>(_wtoi(argv[++i]));
        else
            return Usage();
    }
    if ((tcp < 0) == com.empty() || hold >= every)
        return Usage();

    CReaderSim sim;
    sim.SetIdentity(id);
    sim.SetTelnet(telnet);
    if (tcp >= 0) {
        uint16_t port = sim.ListenTcp(static_cast<uint16_t>(tcp));
        if (!port) {
            std::fwprintf(stderr, L"readersim: cannot listen on port %d\n", tcp);
            return 1;
        }
        std::wprintf(L"readersim: listening on 127.0.0.1:%u\n", port);
    } else if (!sim.OpenCom(com)) {
        std::fwprintf(stderr, L"readersim: cannot open %ls (error %lu)\n", com.c_str(), GetLastError());
        return 1;
    } else {
        std::wprintf(L"readersim: playing a reader on %ls\n", com.c_str());
    }
    std::fflush(stdout);
    for (;;) {
        Sleep(every - hold);
        sim.PresentKey(key);
        Sleep(hold);
        sim.RemoveKey();
    }
}
