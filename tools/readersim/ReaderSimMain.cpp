// readersim: plays a reader on a COM port or a TCP listen port and, once it has been asked for
// its version, presents a key every few seconds, until it is ended.
//   readersim --tcp 4001 | --com COM12  [--telnet] [--name TEXT] [--code HEX] [--serial N]
//             [--fw TEXT] [--build "Nov 16 2010 10:20:30"] [--key LINE] [--every MS] [--hold MS]
//             [--step N] [--pages HEX] [--temic HEX] [--model 9|6|7 [--number HEX] [--kind HEX]
//             [--period MS]]
//             [--model 3|4|5|11 [--uid HEX] [--atqa HEX] [--sak HEX] [--ats HEX] [--block N=HEX]
//             [--no-ats] [--fault CMD:KIND[:TIMES]]]
// --step adds N to the key line's last number after each presentation (keeping its width), so
// that each presentation is a new key.
// --pages gives the Ultralight pages from page 0 (two digits a byte), --temic the 8 bytes of
// the identification blocks 0x81 and 0x82 of a Temic card that lies on the reader.
// --model plays the KR-5040 (9, escaped frames) or the Vell-4 EHR or Vell-4 Base (6, 7, the
// single-byte dialogue of "protVell4"); the key presented is then --number: for model 9 five
// bytes for Em-Marine or eight for Temic, for 6 and 7 the bytes r8 down to r3 of a 1-Wire
// identity (five for Em-Marine) or four of a fob code of kind --kind, sent in a key frame every
// --period ms while the key lies. --step raises its last byte.
// --model 3, 4, 5 or 11 plays a Mifare reader of that model in binary frames: its identity
// (unless --name, --code or --fw say otherwise) and a card with --uid, --atqa, --sak and --ats
// (hex; default 11223344, 0004, 08, none) laid in its field for --hold ms every --every ms,
// --step added to the UID's last bytes each time. --block fills a block of that card
// (repeatable), --pages makes it an Ultralight card, --no-ats has the reader refuse ISO
// 14443-4. --fault scripts a fault of the line for the next TIMES requests with command CMD
// (hex, 0 any): garbage, short, badsumfirst, wrongsum, wrongseq, nostatus, split, joined,
// silence, flood (5 s).
#include "tools/readersim/ReaderSim.h"
#include "tools/readersim/ByteSim.h"
#include "tools/readersim/EscapedSim.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

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
                          L"       [--step N] [--pages HEX] [--temic HEX]\n"
                          L"       [--model 9|6|7 [--number HEX] [--kind HEX] [--period MS]]\n"
                          L"       [--model 3|4|5|11 [--uid HEX] [--atqa HEX] [--sak HEX] [--ats HEX]\n"
                          L"        [--block N=HEX] [--no-ats] [--fault CMD:KIND[:TIMES]]]\n");
    return 2;
}

std::string HexOf(const std::string& bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        out += buf;
    }
    return out;
}

// The identity of a Mifare model of binary frames; false for another model.
bool MifareIdentity(int model, ReaderSimIdentity& id)
{
    switch (model) {
    case 3: id = {"Vell-4 USB MF", 0x811, 12345, "1.5", "", 3}; return true;
    case 4: id = {"Oblon III Net", 0x903, 12345, "2.5", "", 3}; return true;
    case 5: id = {"CP-Vell-4MF", 0xF11, 12345, "1.2", "", 3}; return true;
    case 11: id = {"Vell-4 USB MF-I", 0x811, 12345, "1.8", "", 3}; return true;
    default: return false;
    }
}

bool ParseFault(const std::string& text, FrameSimFault& fault)
{
    static const struct { const char* name; FrameFault kind; } kinds[] = {
        {"garbage", FrameFault::Garbage}, {"short", FrameFault::ShortLength},
        {"badsumfirst", FrameFault::BadSumFirst}, {"wrongsum", FrameFault::WrongSum},
        {"wrongseq", FrameFault::WrongSeq}, {"nostatus", FrameFault::NoStatus}, {"split", FrameFault::Split},
        {"joined", FrameFault::Joined}, {"silence", FrameFault::Silence}, {"flood", FrameFault::Flood},
    };
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    const size_t colon2 = text.find(':', colon + 1);
    const std::string kind = text.substr(colon + 1, colon2 == std::string::npos ? std::string::npos : colon2 - colon - 1);
    fault.command = static_cast<BYTE>(std::strtoul(text.substr(0, colon).c_str(), nullptr, 16));
    fault.times = colon2 == std::string::npos ? 1 : std::atoi(text.c_str() + colon2 + 1);
    fault.value = 3;
    fault.ms = kind == "flood" ? 5000 : 30;
    for (const auto& k : kinds)
        if (kind == k.name) {
            fault.kind = k.kind;
            return fault.times > 0;
        }
    return false;
}

// The UID plus step, carried from its last byte backwards.
std::string NextUid(std::string uid, unsigned step)
{
    for (size_t i = uid.size(); i-- > 0 && step;) {
        const unsigned v = static_cast<BYTE>(uid[i]) + step;
        uid[i] = static_cast<char>(v & 0xFF);
        step = v >> 8;
    }
    return uid;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    ReaderSimIdentity id;
    bool named = false, coded = false, versioned = false;
    std::wstring com;
    int tcp = -1;
    bool telnet = false;
    std::string key = "Em-Marine[0055] 085,12345";
    DWORD every = 5000, hold = 1000;
    unsigned step = 0;
    std::string pages, temic;
    int model = 0;
    std::string number("\x39\x30\x55\x55\x00", 5);
    BYTE kind = 0x2A;
    DWORD period = 250;
    bool atsSupported = true;
    FrameSimCard card;
    std::vector<FrameSimFault> faults;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == L"--telnet")
            telnet = true;
        else if (a == L"--no-ats")
            atsSupported = false;
        else if (!hasValue)
            return Usage();
        else if (a == L"--tcp")
            tcp = _wtoi(argv[++i]);
        else if (a == L"--com")
            com = argv[++i];
        else if (a == L"--name")
            id.name = Narrow(argv[++i]), named = true;
        else if (a == L"--code")
            id.code = static_cast<uint32_t>(wcstoul(argv[++i], nullptr, 16)), coded = true;
        else if (a == L"--serial")
            id.serial = _wtoi(argv[++i]);
        else if (a == L"--fw")
            id.firmware = Narrow(argv[++i]), versioned = true;
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
        } else if (a == L"--model") {
            model = _wtoi(argv[++i]);
            ReaderSimIdentity m;
            if (MifareIdentity(model, m)) {
                if (!named)
                    id.name = m.name;
                if (!coded)
                    id.code = m.code;
                if (!versioned)
                    id.firmware = m.firmware;
            } else if (model != 9 && model != 6 && model != 7) {
                return Usage();
            }
        } else if (a == L"--number") {
            if (!HexToBytes(Narrow(argv[++i]), number) || number.empty() || number.size() > 8)
                return Usage();
        } else if (a == L"--kind") {
            kind = static_cast<BYTE>(wcstoul(argv[++i], nullptr, 16));
        } else if (a == L"--period") {
            period = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (a == L"--uid") {
            if (!HexToBytes(Narrow(argv[++i]), card.uid) || card.uid.empty() || card.uid.size() > 10)
                return Usage();
        } else if (a == L"--atqa") {
            card.atqa = static_cast<uint16_t>(wcstoul(argv[++i], nullptr, 16));
        } else if (a == L"--sak") {
            card.sak = static_cast<BYTE>(wcstoul(argv[++i], nullptr, 16));
        } else if (a == L"--ats") {
            if (!HexToBytes(Narrow(argv[++i]), card.ats))
                return Usage();
        } else if (a == L"--block") {
            const std::string v = Narrow(argv[++i]);
            const size_t eq = v.find('=');
            std::string bytes;
            if (eq == std::string::npos || !HexToBytes(v.substr(eq + 1), bytes) || bytes.size() != 16)
                return Usage();
            card.blocks[std::atoi(v.c_str())] = bytes;
        } else if (a == L"--fault") {
            FrameSimFault f;
            if (!ParseFault(Narrow(argv[++i]), f))
                return Usage();
            faults.push_back(f);
        } else {
            return Usage();
        }
    }
    if ((tcp < 0) == com.empty() || hold >= every)
        return Usage();

    CReaderSim sim;
    sim.SetIdentity(id);
    sim.SetTelnet(telnet);
    std::unique_ptr<CEscapedSim> escaped;
    std::unique_ptr<CByteSim> byteSim;
    ReaderSimIdentity mifare;
    const bool frames = MifareIdentity(model, mifare);
    if (model == 9)
        escaped = std::make_unique<CEscapedSim>(sim);
    else if (model && !frames)
        byteSim = std::make_unique<CByteSim>(sim, model);
    if (frames) {
        if (!pages.empty()) {
            card.pages = pages;
            card.classic = false;
        }
        sim.Binary().SetModel(model);
        sim.Binary().SetAtsSupported(atsSupported);
        for (const FrameSimFault& f : faults)
            sim.Binary().AddFault(f);
    }
    if (byteSim)
        byteSim->SetFramePeriod(period);
    // Puts the key in the field (or takes it away) and says which it is.
    auto present = [&](bool on) {
        if (escaped) {
            const bool temicKey = number.size() == 8;
            escaped->SetEmMarine(on && !temicKey ? number : std::string());
            escaped->SetTemic(on && temicKey ? number : std::string());
        } else if (byteSim) {
            byteSim->SetKey(on ? number : std::string(), kind);
        } else if (frames) {
            sim.Binary().SetField(on ? std::vector<FrameSimCard>{card} : std::vector<FrameSimCard>());
        } else if (on) {
            sim.PresentKey(key);
        } else {
            sim.RemoveKey();
        }
        if (!on)
            return;
        if (frames) {
            std::wprintf(L"readersim: card %hs in the field\n", HexOf(card.uid).c_str());
        } else if (model) {
            std::wprintf(L"readersim: key");
            for (unsigned char c : number)
                std::wprintf(L" %02X", c);
            std::wprintf(L"\n");
        } else {
            std::wprintf(L"readersim: key %hs\n", key.c_str());
        }
        std::fflush(stdout);
    };
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
        present(true);
        Sleep(hold);
        present(false);
        key = NextKeyLine(key, step);
        if (!number.empty())
            number.back() = static_cast<char>(static_cast<BYTE>(number.back()) + step);
        card.uid = NextUid(card.uid, step);
    }
}
