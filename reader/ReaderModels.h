#pragma once
// Reader models: one table of what sets each apart (hardware codes, protocol, speeds, key
// types and capabilities), and the parser of the reply to the version query "i". Stateless;
// any thread.
#include <windows.h>
#include <cstdint>
#include <string_view>
#include "core/TextUtil.h"

constexpr int kReaderModelCount = 13;
constexpr int kReaderModelUnknown = 0;
constexpr int kReaderModelPcsc = 12;      // "Vell-4 MF CCID", a PC/SC reader

// Names by model index, index 0 "?".
extern const wchar_t* const ReaderModelNames[kReaderModelCount];
// The name of a model index; "?" for an index outside the list.
const wchar_t* ReaderModelName(int model);

// Hardware model code of the version reply -> model index; 0 for a code not supported.
int ReaderModelFromCode(uint32_t code);
// Code a 0x811 reader reports when its reply names it "MF-I".
constexpr uint32_t kReaderCodeMfi = 0x20498;

constexpr int kKeyTypeCount = 22;
// Short name of a key type for log lines ("EM", "M1K", ...); "X" outside the list.
const wchar_t* KeyTypeShortName(int keyType);

// The protocols a reader may speak.
enum ReaderProtocol : int { RDPROT_NONE = 0, RDPROT_TEXT = 1, RDPROT_FRAME = 2, RDPROT_ESCAPED = 3, RDPROT_BYTE = 4 };

// What sets one model apart from another. Some capabilities come with a firmware version only.
constexpr uint32_t MODEL_BINARY_FRAMES = 0x01;     // commands in binary frames (the Mifare readers)
constexpr uint32_t MODEL_SPEED_SWITCH = 0x02;      // switches its speed on command
constexpr uint32_t MODEL_TEMIC = 0x04;             // Temic commands and extended key lines in text mode
constexpr uint32_t MODEL_PROGRAM_OUTPUT = 0x08;    // its key lines are programmed on connect
constexpr uint32_t MODEL_HID_TEXT_ORDER = 0x10;    // HID numbers printed in text order
constexpr uint32_t MODEL_MIFARE_TEXT_ORDER = 0x20; // Mifare UIDs printed in text order
constexpr uint32_t MODEL_OTHER_QM100 = 0x40;       // 433 MHz codes in the "differentQM100" nibble order

// One row of the model table: everything the program does differently for a model.
struct ReaderModelInfo {
    uint32_t codes[2] = {};         // hardware codes of the version reply that name it
    // Identification with this model chosen in the settings: the speed of the query on a port
    // that may be open already, and of the second query after a silent or garbled reply
    // (0: none). A query speed of 0 asks at 9600 Bd on a freshly opened port.
    DWORD querySpeed = 0;
    DWORD retrySpeed = 0;
    int protocol = RDPROT_NONE;     // the protocol it speaks...
    uint32_t altFlag = 0;           // ...unless this reader flag asks for
    int altProtocol = RDPROT_NONE;  // this one
    int textVariant = 0;            // the family of its key lines in the text protocol
    uint32_t flags = 0;             // MODEL_*
    uint32_t (*firmwareFlags)(PackedVersion firmware) = nullptr;   // MODEL_* of a firmware version
    uint32_t keyTypes = 0;          // the key types it delivers (bit i = key type i)...
    uint32_t wiegandKeyTypes = 0;   // ...with the reader flag "wiegand" (0: the same)
    uint32_t speeds = 0;            // allowed speeds in its protocol (bit i = ReaderSpeeds[i])...
    uint32_t altSpeeds = 0;         // ...and in the other one (0: the same)
};

// The capabilities of a model index; those of model 0 (nothing) outside the list.
const ReaderModelInfo& ReaderModelRow(int model);
// MODEL_* of a model at a firmware version.
uint32_t ReaderModelFlags(int model, PackedVersion firmware);
// The protocol of an identified model under the given reader flags.
int ReaderProtocolFor(int model, uint32_t readerFlags);

// The key types a model can deliver (bit i = key type i).
uint32_t ReaderKeyTypeMask(int model, PackedVersion firmware, bool wiegand);

// Whether the reader switches its speed on command (and so allows 9600 to 115200).
bool ReaderSwitchesSpeed(int model, PackedVersion firmware);

// Port speeds by index; the reader's speed command takes the index.
constexpr int kReaderSpeedCount = 6;
extern const DWORD ReaderSpeeds[kReaderSpeedCount];
// Index of a speed in ReaderSpeeds, -1 when it is none of them.
int ReaderSpeedIndex(DWORD speed);
// The speeds a model allows in the given protocol, as a mask of speed indices (bit i =
// ReaderSpeeds[i]); 0 means the model's speed is not managed.
uint32_t ReaderAllowedSpeeds(int model, PackedVersion firmware, int protocol);
// The speed index to use for a wanted speed (0 = automatic: the highest allowed); with
// lowestOnly (a TCP converter that cannot change its speed) the lowest allowed one.
// -1 when the mask allows nothing.
int ChooseReaderSpeedIndex(uint32_t allowed, DWORD wanted, bool lowestOnly);

// Parses the version reply (lines joined by CR LF). Fails without at least five lines of
// more than one character (incomplete set), without "S/N:" or without the bracketed
// model code. Version 0 when the reply has none.
bool ParseReaderVersion(std::wstring_view text, uint32_t& code, int& serial, PackedVersion& version,
                        bool* incomplete = nullptr);

