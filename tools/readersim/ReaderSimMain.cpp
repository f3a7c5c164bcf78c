// readersim: plays a reader on a COM port or a TCP listen port and, once it has been asked for
// its version, presents a key every few seconds, until it is ended.
//   readersim --tcp 4001 | --com COM12  [--telnet] [--name TEXT] [--code HEX] [--serial N]
//             [--fw TEXT] [--build "Nov 16 2010 10:20:30"] [--key LINE] [--every MS] [--hold MS]
//             [--step N] [--pages HEX] [--temic HEX]
// --step adds N to the key line's last number after each presentation (keeping its width), so
// that each presentation is a new key.
// --pages gives the Ultralight pages from page 0 (two digits a byte), --temic the 8 bytes of
// the identification blocks 0x81 and 0x82 of a Temic card that lies on the reader.
#include "tools/readersim/ReaderSim.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

// Two hexadecimal digits a byte; false on anything else.
bool HexToBytes(const std::string& hex, std::string& out)
{
    if (hex.size() % 2)
        return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = hex.substr(i, 2);
        const unsigned long v = std::strtoul(pair.c_str(), &end, 16);
        if (*end)
            return false;
        out += static_cast<char>(v);
    }
    return true;
}

std::string Narrow(const wchar_t* s)
{
    std::string out;
    for (; *s; ++s)
        out += static_cast<char>(*s < 0x80 ? *s : '?');
    return out;
}

// The line with its last run of digits raised by step, as many digits as before (wrapping).
std::string NextKeyLine(const std::string& line, unsigned step)
{
    const size_t end = line.find_last_of("0123456789");
    if (end == std::string::npos || step == 0)
        return line;
    size_t begin = end;
    while (begin > 0 && line[begin - 1] >= '0' && line[begin - 1] <= '9')
        --begin;
    const size_t width = end + 1 - begin;
    unsigned long long modulus = 1;
    for (size_t i = 0; i < width && i < 18; ++i)
        modulus *= 10;
    const unsigned long long next = (std::strtoull(line.c_str() + begin, nullptr, 10) + step) % modulus;
    std::string digits = std::to_string(next);
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return line.substr(0, begin) + digits + line.substr(end + 1);
}

int Usage()
{
    std::fwprintf(stderr, L"usage: readersim --tcp PORT | --com NAME [--telnet] [--name TEXT] [--code HEX]\n"
                          L"       [--serial N] [--fw TEXT] [--build TEXT] [--key LINE] [--every MS] [--hold MS]\n"
                          L"       [--step N] [--pages HEX] [--temic HEX]\n");
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
    unsigned step = 0;
    std::string pages, temic;
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
        else if (a == L"--step")
            step = static_cast<unsigned>(_wtoi(argv[++i]));
        else if (a == L"--pages") {
            if (!HexToBytes(Narrow(argv[++i]), pages) || pages.size() > 64)
                return Usage();
        } else if (a == L"--temic") {
            if (!HexToBytes(Narrow(argv[++i]), temic) || temic.size() != 8)
                return Usage();
        } else {
            return Usage();
        }
    }
    if ((tcp < 0) == com.empty() || hold >= every)
        return Usage();

    CReaderSim sim;
    sim.SetIdentity(id);
    sim.SetTelnet(telnet);
    if (!pages.empty())
        sim.SetUltralightPages(pages);
    if (!temic.empty()) {
        ReaderSimTemicCard card;
        std::memcpy(card.id1, temic.data(), 4);
        std::memcpy(card.id2, temic.data() + 4, 4);
        sim.SetTemicCard(&card);
    }
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
    // Keys presented before the program has found the reader would only be lost.
    sim.WaitUntil([&] { return sim.QueryCount() > 0; }, INFINITE);
    std::wprintf(L"readersim: asked for its version; a key every %lu ms from now on\n", every);
    std::fflush(stdout);
    for (;;) {
        Sleep(every - hold);
        sim.PresentKey(key);
        std::wprintf(L"readersim: key %hs\n", key.c_str());
        std::fflush(stdout);
        Sleep(hold);
        sim.RemoveKey();
        key = NextKeyLine(key, step);
    }
}
