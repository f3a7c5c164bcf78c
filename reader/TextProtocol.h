#pragma once
// The commands of the text-line readers and the forms of their answers, as bytes and without
// a port, so the reader thread and the simulated reader agree on them. Stateless; any thread.
#include <windows.h>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>
#include "config/KeyNumber.h"

// Small text helpers for the readers' answers (ASCII only).
std::string LowerAscii(std::string s);
bool ContainsText(const std::string& s, const char* what);
// 0-15 of a hexadecimal digit of either case; -1 for anything else.
int HexDigitValue(char c);

// Bytes that came in before a command are not its answer: they wait aside while the command
// is exchanged and are put back in front of whatever follows the answer.
class CSetAsideInput {
public:
    explicit CSetAsideInput(std::vector<BYTE>& buffer) : m_buffer(buffer) { m_saved.swap(buffer); }
    ~CSetAsideInput() { m_buffer.insert(m_buffer.begin(), m_saved.begin(), m_saved.end()); }
    CSetAsideInput(const CSetAsideInput&) = delete;
    CSetAsideInput& operator=(const CSetAsideInput&) = delete;

private:
    std::vector<BYTE>& m_buffer;
    std::vector<BYTE> m_saved;
};

// Read-once poll: "r" LF.
extern const char kReadOnceCommand[];
// No-card text of the output programming: the reader expands its backslash sequences itself.
extern const char kNoCardProgramLine[];
// "t57 00" CR.
extern const char kTemicResetCommand[];
// "t57 01 00 00 14 80 40 02 00" CR: writes the configuration block of a T5557 card.
extern const char kTemicInitCommand[];

// "tFMT" or "tARG", the text, CR LF.
std::string OutputTemplateLine(std::string_view templ);
std::string OutputArgumentLine(std::string_view args);

// "get %.2x" CR.
std::string UltralightReadCommand(int page);
// The four page lines "%x: %x %x %x %x" of an answer fill the 16 bytes in order. Lines end
// at CR (a following LF is skipped); lines of another form, such as the "ok" of the answer,
// are passed over. False with fewer than four page lines.
bool ParseUltralightPages(std::string_view answer, BYTE (&pages)[16]);
// Bytes of the card-memory number for a page count: four a page, at most the 16 bytes that
// one read brings; 0 for a count below 1.
int UltralightMemoryBytes(int count);

// "t57 05 block p1 p2" CR, or with a password "t57 06 block pw0 pw1 pw2 pw3 p1 p2" CR
// (the password's lowest byte first).
std::string TemicReadCommand(BYTE block, BYTE p1, BYTE p2, uint32_t password, bool usePassword);
// Hexadecimal digits from the start of a lower-case answer, high half byte first, up to the
// first other character: true when they make at least 4 bytes (the first 4 are taken).
bool ParseTemicBlock(std::string_view answer, BYTE (&block)[4]);
// Key number of a Temic card from its identification blocks 0x81 and 0x82: all 8 bytes, or
// the last byte of block 0x81 followed by block 0x82.
_KEY_NUMBER TemicKeyNumber(const BYTE (&block81)[4], const BYTE (&block82)[4], bool allBytes);
// Data blocks read from a start block (0 to 7): the block count, cut to the blocks left on
// the card and to 4 (the card-memory number's room).
int TemicDataBlockCount(int start, int count);

// Temic parameter entry: p1 | p2 << 8 | delay << 16; p1 255 stands for the reset command.
constexpr BYTE TemicParamP1(uint32_t entry) { return static_cast<BYTE>(entry & 0xFF); }
constexpr BYTE TemicParamP2(uint32_t entry) { return static_cast<BYTE>((entry >> 8) & 0xFF); }
constexpr DWORD TemicParamDelay(uint32_t entry) { return entry >> 16; }
constexpr BYTE kTemicResetP1 = 255;
