#pragma once
// Reader models, their hardware codes, speeds and key types, and the parser of the reply to
// the version query "i". Stateless; any thread.
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

