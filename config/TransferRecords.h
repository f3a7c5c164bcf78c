#pragma once
// Records of a configuration: key-list entries, key filters, destinations and the setting
// groups of the transfer document. Formats are in config/Format.h.
#include <windows.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "config/KeyNumber.h"

// Key-list entry flags.
constexpr uint32_t KVKEY_TRANSFERRED = 0x1;
constexpr uint32_t KVKEY_DUPLICATE = 0x1000;
constexpr uint32_t KVKEY_SELECTED = 0x2000;
constexpr uint32_t KVKEY_DELETE = 0x4000;
constexpr uint32_t KVKEY_FORMAT_NAME_CURRENT = 0x8000;
constexpr uint32_t KVKEY_OUTPUT_CURRENT = 0x10000;

// An entry of the key list. Only key type and key number are stored.
struct _KV_KEY
{
    int32_t keyType = 0;      // index in the card-type list, 0 to 21
    _KEY_NUMBER keyNumber{};
    uint32_t flags = 0;
    std::wstring text;        // name of the format that applies (kept by the key list page)
    std::wstring outputText;  // the key rendered through its format, valid with KVKEY_OUTPUT_CURRENT
};
using KvKeyPtr = std::shared_ptr<_KV_KEY>;

constexpr uint32_t kAllKeyTypes = 0x3FFFFF;

constexpr uint32_t KEYFILTER_VISIBLE = 0x1;

// A key filter: the first filter whose types hold the key's type and whose size is 0 or the
// key's length gives the format.
struct KeyFilter
{
    uint32_t id = 0;             // unique among the filters, from 1
    std::wstring name;
    uint32_t keyTypes = 0;       // KeyTypeMask
    int32_t keySize = 0;         // 0 any size
    uint32_t flags = KEYFILTER_VISIBLE;
    uint32_t formatId = 0;       // 0 the default format
};

// Destination types; a destination record sits at index type - 1.
enum TransferDestType : int32_t
{
    DEST_NONE = 0,
    DEST_KEYBOARD = 1,
    DEST_CLIPBOARD = 2,
    DEST_PORTAVO = 3,
    DEST_CMDLINE = 4,
    DEST_HTTP = 5,
};
constexpr int kDestinationCount = 5;

// Common part of every destination; the clipboard destination is a bare one.
struct _TRANS_DST
{
    explicit _TRANS_DST(int32_t destType) : type(destType) {}
    virtual ~_TRANS_DST() = default;
    _TRANS_DST(const _TRANS_DST&) = default;
    _TRANS_DST& operator=(const _TRANS_DST&) = default;
    // Back to the defaults of the kind.
    virtual void SetDefaults() { text.clear(); }

    uint32_t word = 0;
    int32_t type;
    std::wstring text;
};

constexpr int32_t KEYBOARD_METHOD_KEYSTROKES = 1;
constexpr int32_t KEYBOARD_METHOD_US_VKEYS = 2;
constexpr int32_t KEYBOARD_METHOD_LIBRARY = 3;

struct _TRANS_DST_KEYBOARD : _TRANS_DST
{
    _TRANS_DST_KEYBOARD() : _TRANS_DST(DEST_KEYBOARD) {}
    void SetDefaults() override { *this = _TRANS_DST_KEYBOARD(); }

    int32_t method = KEYBOARD_METHOD_KEYSTROKES;
    uint32_t afterActivateDelay = 400;
    uint32_t afterPressDelay = 5;
    uint32_t afterReleaseDelay = 5;
    bool startAdmin = false;
    bool filterEnabled = false;  // the target-window filter
    std::wstring filterClass = L"*";
    std::wstring filterTitle = L"*";
    std::wstring filterFile = L"*";
};

constexpr int32_t PORTAVO_OFF = 0;
constexpr int32_t PORTAVO_CLIENT = 1;
constexpr int32_t PORTAVO_SERVER = 2;
constexpr int32_t kMaxConnectionsUnlimited = -1;

struct _TRANS_DST_PORTAVO : _TRANS_DST
{
    _TRANS_DST_PORTAVO() : _TRANS_DST(DEST_PORTAVO) {}
    void SetDefaults() override { *this = _TRANS_DST_PORTAVO(); }

    int32_t mode = PORTAVO_CLIENT;  // "type"
    bool nvt = true;
    uint16_t port = 1000;           // server: listening port
    int32_t maxConnections = 4;     // server: -1 unlimited
    std::wstring address = L"127.0.0.1:25000";  // client: host:port of the bridge program
    int32_t connectPeriod = 1000;   // client: ms between attempts
};

struct _TRANS_DST_CMDLINE : _TRANS_DST
{
    _TRANS_DST_CMDLINE() : _TRANS_DST(DEST_CMDLINE) {}
    void SetDefaults() override { *this = _TRANS_DST_CMDLINE(); }

    std::wstring program;
    std::wstring arguments;  // template holding %KeyNum%
    std::wstring initialDir;
};

struct _TRANS_DST_HTTPREQUEST : _TRANS_DST
{
    _TRANS_DST_HTTPREQUEST() : _TRANS_DST(DEST_HTTP) {}
    void SetDefaults() override { *this = _TRANS_DST_HTTPREQUEST(); }

    std::wstring address;  // URL template
};

// Source kinds.
constexpr int32_t SOURCE_NONE = 0;
constexpr int32_t SOURCE_READER = 1;
constexpr int32_t SOURCE_KEYLIST = 2;

// Reader flag word.
constexpr uint32_t READER_WIEGAND = 0x01;
constexpr uint32_t READER_BINARY = 0x02;
constexpr uint32_t READER_DIFFERENT_QM100 = 0x04;
constexpr uint32_t READER_TO_KEYLIST = 0x08;
constexpr uint32_t READER_NVT = 0x10;
constexpr uint32_t READER_PROT_VELL4 = 0x20;

// Reader search flag word.
constexpr uint32_t SEARCH_STD_COM = 0x01;
constexpr uint32_t SEARCH_VCOM = 0x02;
constexpr uint32_t SEARCH_FILTER_VIDPID = 0x04;
constexpr uint32_t SEARCH_FILTER_DESC = 0x08;
constexpr uint32_t SEARCH_IP = 0x10;
constexpr uint32_t SEARCH_CCID = 0x20;

// Reader connection and search; the reader thread takes a copy under its lock.
struct ReaderSettings
{
    int32_t model = 0;
    uint32_t speed = 0;
    uint8_t stopBits = 0;
    int32_t connectTimeout = 10000;
    int32_t receiveTimeout = 3000;
    int32_t maxTries = 2;
    int32_t connectPeriod = 3000;
    int32_t checkInPeriod = -1;  // -1 switches the check-in off
    uint32_t flags = READER_BINARY;
    uint32_t searchFlags = SEARCH_VCOM | SEARCH_FILTER_VIDPID | SEARCH_FILTER_DESC | SEARCH_CCID;
    int32_t searchReceiveTimeout = 3000;
    int32_t searchMaxTries = 1;

    bool operator==(const ReaderSettings&) const = default;
};

// Mifare reading flags.
constexpr uint32_t MIFARE_KEY_B = 0x01;
constexpr uint32_t MIFARE_BY_MASK = 0x02;

// Authorization keys of the card kinds; the bytes are given in key order, byte 0 first.
// Their hex text (last byte first) reads 3C917A5E08D4 and 6B21E0945F3AC708D27E41B90C65F31A.
_KEY_NUMBER DefaultMifareClassicKey();
_KEY_NUMBER DefaultMifarePlusKey();

constexpr int kMifareKeySlots = 32;
constexpr int32_t kMifareMaxSector = 39;
constexpr int32_t kMifareMaxBlock = 15;

struct MifareReadSettings
{
    bool enabled = false;
    uint32_t flags = 0;
    uint32_t mask = 0xFFFFFFFF;  // reader-memory key slots
    _KEY_NUMBER key{};
    int32_t sector = 0;
    int32_t block = 1;
};

struct MifareULSettings
{
    bool enabled = false;
    int32_t page = 4;
    int32_t count = 1;
};

// Temic flags.
constexpr uint32_t TEMIC_READ_ALL_BYTES = 0x01;
constexpr uint32_t TEMIC_DATA_MODE = 0x02;
constexpr uint32_t TEMIC_USE_PASSWORD = 0x04;

// One reader scan request: a in bits 0-7, b in bits 8-15, c in bits 16-31.
constexpr uint32_t PackTemicParam(uint32_t a, uint32_t b, uint32_t c)
{
    return (a & 0xFF) | ((b & 0xFF) << 8) | (c << 16);
}
// The scan requests of a new configuration.
std::vector<uint32_t> DefaultTemicParams();

struct TemicSettings
{
    bool enabled = false;
    uint32_t flags = 0;
    int32_t block = 1;
    int32_t count = 1;
    uint32_t password = 0;
    std::vector<uint32_t> params = DefaultTemicParams();

    bool operator==(const TemicSettings&) const = default;
};

// Card-memory reading; the reader takes the Temic part under its lock.
struct ReadKeysSettings
{
    uint32_t keyTypes = kAllKeyTypes;  // key types that are transferred
    int32_t vell4Mode = 0;
    MifareReadSettings classic;
    MifareReadSettings plus;
    MifareULSettings ultralight;
    TemicSettings temic;

    ReadKeysSettings();
};

// Sector, block, page and count values outside what the reader can address are brought
// into range, so a hand-edited file cannot make the reader compute negative block numbers.
void ClampCardReadSettings(ReadKeysSettings& settings);
// A bridge server needs room for at least one connection; -1 stays unlimited.
int32_t ClampMaxConnections(int32_t value);
