#pragma once
// The bytes of the binary frames: building a request and finding a reply in what the port
// delivered. Stateless; any thread.
#include <windows.h>
#include <cstddef>
#include <vector>

constexpr BYTE kFrameStart = 0x02;
constexpr size_t kFrameOverhead = 6;        // start, sequence, length, code, 16-bit sum
constexpr size_t kFrameMaxPayload = 255 - kFrameOverhead;

// Checks the frame that begins at bytes (count bytes from its start byte, at least as many as
// its length byte says; those after the frame are not its own): S_OK with its sequence
// number, code and payload, else 0x80040218. Replies with code 0x23 carry no valid sum.
HRESULT CheckReaderFrame(const BYTE* bytes, size_t count, BYTE& seq, BYTE& code, std::vector<BYTE>& payload);

// 0x02, sequence, payload length + 6, command, payload, the 16-bit sum of all bytes before it
// (low byte first). A payload longer than a frame holds is cut.
std::vector<BYTE> BuildReaderFrame(BYTE seq, BYTE command, const BYTE* payload, size_t length);

// Takes the first valid frame with sequence seq out of buffer: its payload, and true. Bytes
// that can no longer begin that frame are dropped on the way (garbage, a start byte whose
// length byte is below 6, frames that fail the check or carry another sequence number); a
// frame still incomplete is kept, and so are the bytes after the frame taken. seenPayload is
// set when a valid frame with a payload went by, taken or not.
bool TakeReaderFrame(std::vector<BYTE>& buffer, BYTE seq, std::vector<BYTE>& payload, bool& seenPayload);
