#pragma once
// The frames of the escaped frame protocol (the KR-5040): a request is the command byte, its
// payload and a checksum, all escaped (0xC0 -> DB 01, 0xDB -> DB DD), then a raw 0xC0; a reply
// is a code byte, a status byte, the reply data and a checksum, closed the same way. Stateless;
// any thread.
#include <windows.h>
#include <cstddef>
#include <vector>
#include "config/KeyNumber.h"

constexpr BYTE kEscapedEnd = 0xC0;
constexpr BYTE kEscapedStatusOk = 0xAA;

// Appends bytes to out with 0xC0 and 0xDB escaped.
void EscapeBytes(const BYTE* bytes, size_t count, std::vector<BYTE>& out);
// Unescaped bytes: DB 01 -> 0xC0, DB DD -> 0xDB; 0xDB before any other byte, or at the very
// end, gives nothing.
std::vector<BYTE> UnescapeBytes(const BYTE* bytes, size_t count);
// The two's complement of the 8-bit sum, so that the bytes and it add up to 0.
BYTE EscapedChecksum(const BYTE* bytes, size_t count);
// A whole request frame: escape(command, payload, checksum over both unescaped), 0xC0.
std::vector<BYTE> BuildEscapedFrame(BYTE command, const BYTE* payload, size_t length);

// Checks a reply: the count bytes before its closing 0xC0. Valid when, with the 0xC0, it has
// at least 3 bytes and its bytes add up to 0 as received or once unescaped (readers differ in
// which form they sum). Gives the code and the unescaped bytes between code and checksum
// (the status byte first; empty for a reply without data).
bool CheckEscapedReply(const BYTE* bytes, size_t count, BYTE& code, std::vector<BYTE>& data);

// The numbers in a poll answer (data after its status byte). With status 0xAA bytes 1 to 8
// are the Temic number when the data holds more than 8 bytes, bytes 9 to 13 the Em-Marine
// number when it holds more than 13; with another status bytes 1 to 5 are the Em-Marine
// number when the data holds more than 5 bytes and byte 0 has bit 0x20. A number of only zero
// bytes means none: its length is 0.
void ParseEscapedPoll(bool success, const std::vector<BYTE>& data, _KEY_NUMBER& emMarine, _KEY_NUMBER& temic);
