#pragma once
// The units of the single-byte command protocol (the Vell-4 EHR and Vell-4 Base with
// "protVell4"): a command byte followed by its check byte (the reset alone), status bytes, and
// key frames led by 0xCC. Stateless; any thread.
#include <windows.h>
#include <vector>
#include "config/KeyNumber.h"

enum : BYTE {
    BYTE_CMD_RESET = 0x00,
    BYTE_CMD_ARM_DALLAS = 0x11,     // "vell4Mode" 0
    BYTE_CMD_ARM_EM_MARINE = 0x12,  // "vell4Mode" 1
    BYTE_CMD_ARM_FOB = 0x1A,        // "vell4Mode" 2
    BYTE_CMD_START = 0x13,
    BYTE_ACK = 0xAA,
    BYTE_NOT_READY = 0xAB,
    BYTE_KEY_FRAME = 0xCC,
};

constexpr int kVell4ModeCount = 3;

// The arming command of a "vell4Mode"; false for a mode outside 0 to 2.
bool ByteArmingCommand(int mode, BYTE& command);

// The unit of a command into buffer (cleared first): the command and (-(0x5A + command)) mod
// 256; the reset is the single byte 0x00.
void BuildByteCommand(std::vector<BYTE>& buffer, BYTE command);

// Takes the first unit from the front of received into unit. Status bytes (0x55, 0xAA, 0xAB,
// 0xF0, 0xF1) are one byte; a key frame 0xCC is 6 bytes in mode 2, else 10 after 0x20 or
// 0x21, 35 after 0x40 and 2 after anything else. Other bytes are dropped. False while no
// unit is complete.
bool TakeByteUnit(std::vector<BYTE>& received, int mode, std::vector<BYTE>& unit);

// The key of a key frame: in modes 0 and 1 a 10-byte frame whose check byte is the Dallas
// CRC-8 of its 1-Wire identity (mode 1 Em-Marine, key type 1, 5 bytes; mode 0 Dallas, key
// type 7, 6 bytes); in mode 2 the kind (0x2A key type 5, 0x2B key type 6, else 0) and the four
// number bytes, the nibbles of the last two exchanged with qm100. False for a frame that holds
// no key (wrong check byte, 35- and 2-byte frames).
bool DecodeByteKeyFrame(const std::vector<BYTE>& unit, int mode, bool qm100, int& keyType, _KEY_NUMBER& key);
