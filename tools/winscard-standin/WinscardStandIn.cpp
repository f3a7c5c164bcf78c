// Smart-card library stand-in: the calls of the PC/SC interface that Norvane makes, answered by
// virtual readers and cards that the tests script. Written from the documented interface only.
//
// Script: one command per call of NvStandInControl (in process), or one line per command on a
// loopback TCP connection to the port named by NORVANE_SCARD_CONTROL (another process; the
// library connects once its first context is made). Fields are separated by '|':
//   reset                           every reader, card and failure gone
//   add|NAME  remove|NAME           a reader plugged in or out (the plug-and-play count follows)
//   unavailable|NAME|1 or 0         listed, but unusable
//   insert|NAME|ATR|UID|KIND[|t0]   a card: KIND classic (reads need authentication), ul, plain
//   eject|NAME
//   key|NAME|HEX12                  the card's key A and B (default D4085E7A913C)
//   write|NAME|ADDRESS|HEX          card memory bytes (4096, zero at first)
//   fault|NAME|PREFIX|REPLY         commands beginning PREFIX get REPLY ("err=80100069": that result)
//   connectfail|NAME|CODE           SCardConnect's result (0: none)
//   establishfail|CODE              SCardEstablishContext's result (0: none)
//   apdus|NAME                      the commands received since the last ask, "FF CA 00 00 00;..."
//   waiting                         status waits now blocked
//   contexts                        contexts now open
// Answers: "ok", the data asked for, or "error: ...".
// The system's declarations of these calls stay out: this file defines them with its own types.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using SCardContext = ULONG_PTR;
using SCardHandle = ULONG_PTR;

constexpr LONG kOk = 0;
constexpr LONG kInternalError = static_cast<LONG>(0x80100001);
constexpr LONG kCancelled = static_cast<LONG>(0x80100002);
constexpr LONG kInvalidHandle = static_cast<LONG>(0x80100003);
constexpr LONG kInvalidParameter = static_cast<LONG>(0x80100004);
constexpr LONG kInsufficientBuffer = static_cast<LONG>(0x80100008);
constexpr LONG kUnknownReader = static_cast<LONG>(0x80100009);
constexpr LONG kTimeout = static_cast<LONG>(0x8010000A);
constexpr LONG kNoSmartcard = static_cast<LONG>(0x8010000C);
constexpr LONG kProtoMismatch = static_cast<LONG>(0x8010000F);
constexpr LONG kReaderUnavailable = static_cast<LONG>(0x80100017);
constexpr LONG kNoReaders = static_cast<LONG>(0x8010002E);
constexpr LONG kRemovedCard = static_cast<LONG>(0x80100069);

constexpr DWORD kAutoAllocate = 0xFFFFFFFF;
constexpr DWORD kStateChanged = 0x0002;
constexpr DWORD kStateUnavailable = 0x0008;
constexpr DWORD kStateEmpty = 0x0010;
constexpr DWORD kStatePresent = 0x0020;
constexpr DWORD kProtocolT0 = 1;
constexpr DWORD kProtocolT1 = 2;
constexpr DWORD kProtocolRaw = 0x10000;
constexpr size_t kMaxAtr = 36;
constexpr size_t kMemorySize = 4096;
const wchar_t kPnpReader[] = L"\\\\?PnP?\\Notification";

struct ReaderState
{
    const wchar_t* reader;
    void* userData;
    DWORD currentState;
    DWORD eventState;
    DWORD atrLength;
    BYTE atr[kMaxAtr];
};

struct IoRequest
{
    DWORD protocol;
    DWORD pciLength;
};

struct Fault
{
    std::vector<BYTE> prefix;
    std::vector<BYTE> reply;
    LONG error = kOk;
};

struct Card
{
    std::vector<BYTE> atr;
    std::vector<BYTE> uid;
    std::string kind = "plain";
    DWORD protocol = kProtocolT1;
    BYTE key[6] = {0xD4, 0x08, 0x5E, 0x7A, 0x91, 0x3C};
    std::vector<BYTE> memory = std::vector<BYTE>(kMemorySize, 0);
};

struct VirtualReader
{
    std::wstring name;
    bool listed = true;
    bool unavailable = false;
    bool hasCard = false;
    Card card;
    DWORD events = 0;          // insertions and removals so far: the high word of its state
    LONG connectError = kOk;
    std::vector<Fault> faults;
    std::vector<std::string> apdus;
    // The reader's volatile key slot and the sector last authenticated (-1 none).
    bool keyLoaded = false;
    BYTE loadedKey[6] = {};
    int authSector = -1;
};

struct Connection
{
    std::wstring reader;
    DWORD events;              // the reader's count when connected: a card swap ends it
    DWORD protocol;
};

struct Context
{
    int waiting = 0;
    bool cancelled = false;
};

CRITICAL_SECTION g_lock;
CONDITION_VARIABLE g_changed;
uint64_t g_sequence = 0;
std::vector<VirtualReader> g_readers;
std::map<SCardContext, Context> g_contexts;
std::map<SCardHandle, Connection> g_connections;
std::set<void*> g_allocations;
ULONG_PTR g_nextHandle = 0x1000;
LONG g_establishError = kOk;
INIT_ONCE g_channelOnce = INIT_ONCE_STATIC_INIT;

class CLock
{
public:
    CLock() { EnterCriticalSection(&g_lock); }
    ~CLock() { LeaveCriticalSection(&g_lock); }
};

void Changed()
{
    ++g_sequence;
    WakeAllConditionVariable(&g_changed);
}

VirtualReader* FindReader(const std::wstring& name)
{
    for (VirtualReader& r : g_readers)
        if (r.name == name)
            return &r;
    return nullptr;
}

int ListedCount()
{
    return static_cast<int>(std::count_if(g_readers.begin(), g_readers.end(),
                                          [](const VirtualReader& r) { return r.listed; }));
}

std::wstring Wide(const std::string& utf8)
{
    std::wstring out(utf8.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                      static_cast<int>(out.size()));
    out.resize(static_cast<size_t>(std::max(n, 0)));
    return out;
}

bool ParseHex(const std::string& text, std::vector<BYTE>& out)
{
    out.clear();
    std::string digits;
    for (char c : text)
        if (c != ' ')
            digits += c;
    if (digits.size() % 2)
        return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        unsigned v = 0;
        if (sscanf(digits.substr(i, 2).c_str(), "%2x", &v) != 1)
            return false;
        out.push_back(static_cast<BYTE>(v));
    }
    return true;
}

std::string Hex(const BYTE* bytes, size_t count)
{
    std::string out;
    char two[4];
    for (size_t i = 0; i < count; ++i) {
        snprintf(two, sizeof two, "%02X", bytes[i]);
        if (i)
            out += ' ';
        out += two;
    }
    return out;
}

// What a named reader shows now: its state bits with the event count in the high word.
DWORD ReaderStateNow(const VirtualReader* r, std::vector<BYTE>& atr)
{
    atr.clear();
    if (!r || !r->listed || r->unavailable)
        return kStateUnavailable | ((r ? r->events : 0) << 16);
    if (!r->hasCard)
        return kStateEmpty | (r->events << 16);
    atr = r->card.atr;
    return kStatePresent | (r->events << 16);
}

// Fills the records; true when any of them differs from what its caller knew.
bool ScanStates(ReaderState* states, DWORD count)
{
    bool any = false;
    for (DWORD i = 0; i < count; ++i) {
        ReaderState& s = states[i];
        std::vector<BYTE> atr;
        DWORD now;
        if (s.reader && wcscmp(s.reader, kPnpReader) == 0) {
            now = static_cast<DWORD>(ListedCount()) << 16;
            if ((s.currentState >> 16) != (now >> 16))
                now |= kStateChanged;
        } else {
            now = ReaderStateNow(s.reader ? FindReader(s.reader) : nullptr, atr);
            if ((s.currentState & ~kStateChanged) != now)
                now |= kStateChanged;
        }
        s.eventState = now;
        s.atrLength = static_cast<DWORD>(std::min(atr.size(), kMaxAtr));
        std::copy(atr.begin(), atr.begin() + s.atrLength, s.atr);
        any = any || (now & kStateChanged);
    }
    return any;
}

int SectorOfBlock(int block)
{
    return block < 128 ? block / 4 : 32 + (block - 128) / 16;
}

std::vector<BYTE> Status(BYTE sw1, BYTE sw2)
{
    return {sw1, sw2};
}

// The reader's answer to one command of the card reading.
std::vector<BYTE> Answer(VirtualReader& r, const std::vector<BYTE>& c)
{
    auto is = [&](std::initializer_list<BYTE> head) {
        return c.size() >= head.size() && std::equal(head.begin(), head.end(), c.begin());
    };
    if (c.size() == 5 && is({0xFF, 0xCA, 0x00, 0x00, 0x00})) {
        std::vector<BYTE> out = r.card.uid;
        out.push_back(0x90);
        out.push_back(0x00);
        return out;
    }
    if (c.size() == 11 && is({0xFF, 0x82, 0x00, 0x00, 0x06})) {
        std::copy(c.begin() + 5, c.end(), r.loadedKey);
        r.keyLoaded = true;
        return Status(0x90, 0x00);
    }
    if (c.size() == 10 && is({0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00}) && (c[8] == 0x60 || c[8] == 0x61)) {
        if (!r.keyLoaded || !std::equal(r.loadedKey, r.loadedKey + 6, r.card.key)) {
            r.authSector = -1;
            return Status(0x63, 0x00);
        }
        r.authSector = SectorOfBlock(c[7]);
        return Status(0x90, 0x00);
    }
    if (c.size() == 5 && is({0xFF, 0xB0, 0x00}) && c[4] == 0x10) {
        const int unit = c[3];
        if (r.card.kind == "classic" && r.authSector != SectorOfBlock(unit))
            return Status(0x69, 0x82);
        const size_t start = r.card.kind == "ul" ? static_cast<size_t>(unit) * 4 : static_cast<size_t>(unit) * 16;
        if (start + 16 > kMemorySize)
            return Status(0x6A, 0x82);
        std::vector<BYTE> out(r.card.memory.begin() + start, r.card.memory.begin() + start + 16);
        out.push_back(0x90);
        out.push_back(0x00);
        return out;
    }
    return Status(0x6D, 0x00);
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            return fields;
        start = bar + 1;
    }
}

LONG ParseCode(const std::string& text)
{
    return static_cast<LONG>(strtoul(text.c_str(), nullptr, 16));
}

std::string Run(const std::string& line)
{
    const std::vector<std::string> f = Split(line);
    const std::string& verb = f[0];
    CLock lock;
    if (verb == "reset") {
        g_readers.clear();
        g_establishError = kOk;
        Changed();
        return "ok";
    }
    if (verb == "establishfail" && f.size() == 2) {
        g_establishError = ParseCode(f[1]);
        return "ok";
    }
    if (verb == "waiting") {
        int n = 0;
        for (const auto& c : g_contexts)
            n += c.second.waiting;
        return std::to_string(n);
    }
    if (verb == "contexts")
        return std::to_string(g_contexts.size());
    if (f.size() < 2)
        return "error: no reader named";
    const std::wstring name = Wide(f[1]);
    if (verb == "add") {
        if (VirtualReader* r = FindReader(name))
            r->listed = true;
        else
            g_readers.push_back(VirtualReader{name});
        Changed();
        return "ok";
    }
    VirtualReader* r = FindReader(name);
    if (!r)
        return "error: no such reader";
    std::vector<BYTE> bytes;
    if (verb == "remove") {
        r->listed = false;
        if (r->hasCard)
            ++r->events;
        r->hasCard = false;
    } else if (verb == "unavailable" && f.size() == 3) {
        r->unavailable = f[2] == "1";
    } else if (verb == "insert" && f.size() >= 5) {
        Card card;
        if (!ParseHex(f[2], card.atr) || !ParseHex(f[3], card.uid))
            return "error: bad hex";
        card.kind = f[4];
        if (f.size() >= 6 && f[5] == "t0")
            card.protocol = kProtocolT0;
        // The card's key and memory stay with the reader's script across insertions.
        std::copy(r->card.key, r->card.key + 6, card.key);
        card.memory = r->card.memory;
        r->card = card;
        r->hasCard = true;
        r->keyLoaded = false;
        r->authSector = -1;
        ++r->events;
    } else if (verb == "eject") {
        if (r->hasCard)
            ++r->events;
        r->hasCard = false;
    } else if (verb == "key" && f.size() == 3) {
        if (!ParseHex(f[2], bytes) || bytes.size() != 6)
            return "error: a key has 6 bytes";
        std::copy(bytes.begin(), bytes.end(), r->card.key);
    } else if (verb == "write" && f.size() == 4) {
        const size_t address = strtoul(f[2].c_str(), nullptr, 10);
        if (!ParseHex(f[3], bytes) || address + bytes.size() > kMemorySize)
            return "error: bad memory write";
        std::copy(bytes.begin(), bytes.end(), r->card.memory.begin() + static_cast<ptrdiff_t>(address));
    } else if (verb == "fault" && f.size() == 4) {
        Fault fault;
        if (!ParseHex(f[2], fault.prefix))
            return "error: bad prefix";
        if (f[3].rfind("err=", 0) == 0)
            fault.error = ParseCode(f[3].substr(4));
        else if (!ParseHex(f[3], fault.reply))
            return "error: bad reply";
        r->faults.push_back(fault);
    } else if (verb == "connectfail" && f.size() == 3) {
        r->connectError = ParseCode(f[2]);
    } else if (verb == "apdus") {
        std::string out;
        for (const std::string& a : r->apdus)
            out += (out.empty() ? "" : ";") + a;
        r->apdus.clear();
        return out;
    } else {
        return "error: unknown command";
    }
    Changed();
    return "ok";
}

// The cross-process script: lines from the test's listener, one answer line each.
DWORD WINAPI ChannelThread(void* portArg)
{
    const auto port = static_cast<u_short>(reinterpret_cast<ULONG_PTR>(portArg));
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        return 1;
    std::string pending;
    char buffer[512];
    for (;;) {
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t lf; (lf = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, lf);
            pending.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const std::string answer = Run(line) + "\n";
            send(s, answer.data(), static_cast<int>(answer.size()), 0);
        }
    }
    closesocket(s);
    return 0;
}

BOOL CALLBACK StartChannel(INIT_ONCE*, void*, void**)
{
    char text[16] = {};
    const DWORD n = GetEnvironmentVariableA("NORVANE_SCARD_CONTROL", text, sizeof text);
    const unsigned long port = n && n < sizeof text ? strtoul(text, nullptr, 10) : 0;
    if (port > 0 && port < 65536) {
        HANDLE thread = CreateThread(nullptr, 0, ChannelThread, reinterpret_cast<void*>(static_cast<ULONG_PTR>(port)),
                                     0, nullptr);
        if (thread)
            CloseHandle(thread);
    }
    return TRUE;
}

} // namespace

extern "C" {

extern const IoRequest g_rgSCardT0Pci = {kProtocolT0, sizeof(IoRequest)};
extern const IoRequest g_rgSCardT1Pci = {kProtocolT1, sizeof(IoRequest)};
extern const IoRequest g_rgSCardRawPci = {kProtocolRaw, sizeof(IoRequest)};

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_lock);
        InitializeConditionVariable(&g_changed);
    }
    return TRUE;
}

int WINAPI NvStandInControl(const char* command, char* answer, DWORD room)
{
    const std::string out = Run(command ? command : "");
    if (answer && room) {
        const size_t n = std::min<size_t>(out.size(), room - 1);
        memcpy(answer, out.data(), n);
        answer[n] = '\0';
    }
    return out.rfind("error", 0) == 0 ? -1 : static_cast<int>(out.size());
}

LONG WINAPI SCardEstablishContext(DWORD, const void*, const void*, SCardContext* context)
{
    if (!context)
        return kInvalidParameter;
    InitOnceExecuteOnce(&g_channelOnce, StartChannel, nullptr, nullptr);
    CLock lock;
    if (g_establishError != kOk)
        return g_establishError;
    *context = g_nextHandle++;
    g_contexts[*context];
    return kOk;
}

LONG WINAPI SCardReleaseContext(SCardContext context)
{
    CLock lock;
    auto it = g_contexts.find(context);
    if (it == g_contexts.end())
        return kInvalidHandle;
    // A wait still running on it ends as cancelled first.
    it->second.cancelled = true;
    WakeAllConditionVariable(&g_changed);
    while (it->second.waiting > 0)
        SleepConditionVariableCS(&g_changed, &g_lock, INFINITE);
    g_contexts.erase(it);
    return kOk;
}

LONG WINAPI SCardIsValidContext(SCardContext context)
{
    CLock lock;
    return g_contexts.count(context) ? kOk : kInvalidHandle;
}

LONG WINAPI SCardCancel(SCardContext context)
{
    CLock lock;
    auto it = g_contexts.find(context);
    if (it == g_contexts.end())
        return kInvalidHandle;
    // Only a wait in progress is ended, as the service does.
    if (it->second.waiting > 0) {
        it->second.cancelled = true;
        WakeAllConditionVariable(&g_changed);
    }
    return kOk;
}

LONG WINAPI SCardListReadersW(SCardContext context, const wchar_t*, wchar_t* readers, DWORD* length)
{
    if (!length)
        return kInvalidParameter;
    CLock lock;
    if (!g_contexts.count(context))
        return kInvalidHandle;
    std::wstring list;
    for (const VirtualReader& r : g_readers)
        if (r.listed)
            list += r.name + L'\0';
    if (list.empty())
        return kNoReaders;
    list += L'\0';
    const DWORD needed = static_cast<DWORD>(list.size());
    if (*length == kAutoAllocate) {
        if (!readers)
            return kInvalidParameter;
        void* block = HeapAlloc(GetProcessHeap(), 0, needed * sizeof(wchar_t));
        if (!block)
            return kInternalError;
        memcpy(block, list.data(), needed * sizeof(wchar_t));
        g_allocations.insert(block);
        *reinterpret_cast<wchar_t**>(readers) = static_cast<wchar_t*>(block);
    } else if (readers) {
        if (*length < needed) {
            *length = needed;
            return kInsufficientBuffer;
        }
        memcpy(readers, list.data(), needed * sizeof(wchar_t));
    }
    *length = needed;
    return kOk;
}

LONG WINAPI SCardFreeMemory(SCardContext, const void* memory)
{
    CLock lock;
    auto it = g_allocations.find(const_cast<void*>(memory));
    if (it == g_allocations.end())
        return kInvalidParameter;
    HeapFree(GetProcessHeap(), 0, *it);
    g_allocations.erase(it);
    return kOk;
}

LONG WINAPI SCardGetStatusChangeW(SCardContext context, DWORD timeout, ReaderState* states, DWORD count)
{
    if (!states && count)
        return kInvalidParameter;
    CLock lock;
    auto it = g_contexts.find(context);
    if (it == g_contexts.end())
        return kInvalidHandle;
    Context& ctx = it->second;
    const ULONGLONG start = GetTickCount64();
    ++ctx.waiting;
    LONG result = kOk;
    for (;;) {
        if (ctx.cancelled) {
            result = kCancelled;
            break;
        }
        const uint64_t seen = g_sequence;
        if (ScanStates(states, count))
            break;
        ULONGLONG left = INFINITE;
        if (timeout != INFINITE) {
            const ULONGLONG spent = GetTickCount64() - start;
            if (spent >= timeout) {
                result = kTimeout;
                break;
            }
            left = timeout - spent;
        }
        while (g_sequence == seen && !ctx.cancelled)
            if (!SleepConditionVariableCS(&g_changed, &g_lock, static_cast<DWORD>(left)) && timeout != INFINITE)
                break;
    }
    if (--ctx.waiting == 0)
        ctx.cancelled = false;
    WakeAllConditionVariable(&g_changed);
    return result;
}

LONG WINAPI SCardConnectW(SCardContext context, const wchar_t* name, DWORD, DWORD protocols, SCardHandle* card,
                          DWORD* active)
{
    if (!name || !card || !active)
        return kInvalidParameter;
    CLock lock;
    if (!g_contexts.count(context))
        return kInvalidHandle;
    VirtualReader* r = FindReader(name);
    if (!r || !r->listed)
        return kUnknownReader;
    if (r->unavailable)
        return kReaderUnavailable;
    if (r->connectError != kOk)
        return r->connectError;
    if (!r->hasCard)
        return kNoSmartcard;
    if (!(protocols & r->card.protocol))
        return kProtoMismatch;
    r->keyLoaded = false;
    r->authSector = -1;
    *card = g_nextHandle++;
    *active = r->card.protocol;
    g_connections[*card] = Connection{r->name, r->events, r->card.protocol};
    return kOk;
}

LONG WINAPI SCardDisconnect(SCardHandle card, DWORD)
{
    CLock lock;
    return g_connections.erase(card) ? kOk : kInvalidHandle;
}

LONG WINAPI SCardTransmit(SCardHandle card, const IoRequest* sendPci, const BYTE* command, DWORD commandLength,
                          IoRequest*, BYTE* reply, DWORD* replyLength)
{
    if (!sendPci || !command || !reply || !replyLength)
        return kInvalidParameter;
    CLock lock;
    auto it = g_connections.find(card);
    if (it == g_connections.end())
        return kInvalidHandle;
    VirtualReader* r = FindReader(it->second.reader);
    if (!r || !r->listed || !r->hasCard || r->events != it->second.events)
        return kRemovedCard;
    if (sendPci->protocol != it->second.protocol)
        return kProtoMismatch;
    const std::vector<BYTE> c(command, command + commandLength);
    r->apdus.push_back(Hex(command, commandLength));
    std::vector<BYTE> answer;
    bool faulted = false;
    for (const Fault& f : r->faults) {
        if (c.size() >= f.prefix.size() && std::equal(f.prefix.begin(), f.prefix.end(), c.begin())) {
            if (f.error != kOk)
                return f.error;
            answer = f.reply;
            faulted = true;
            break;
        }
    }
    if (!faulted)
        answer = Answer(*r, c);
    if (answer.size() > *replyLength)
        return kInsufficientBuffer;
    std::copy(answer.begin(), answer.end(), reply);
    *replyLength = static_cast<DWORD>(answer.size());
    return kOk;
}

} // extern "C"
