#pragma once
// The transfer log "Transfer.log" in the documents folder: one ANSI line per successful
// transfer, appended and never rotated, and read back by the key-list import. Also the
// texts a transfer is recorded with: key-type codes, format display names and the logged
// form of typed key codes.
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "core/SysUtil.h"

struct _KEY_NUMBER;
class CAppSettings;

extern const wchar_t kTransferLogFileName[];  // "Transfer.log"

// The short code of each key type (0 "X", 1 "EM", ... 21 "MINI").
constexpr int kKeyTypeCodeCount = 22;
extern const wchar_t* const KeyTypeCodes[kKeyTypeCodeCount];
// The code of a key type; "X" for a type outside the table.
const wchar_t* KeyTypeCode(int keyType);

// A preset's stored name (a line feed first) becomes "[P] " and the rest; other names stay.
std::wstring MakeFormatDisplayName(const std::wstring& storedName);

// The format name inside the line's bracket: LF \n, CR \r, '"' \", '\' \\ and ']' \].
std::wstring EscapeTransferLogName(const std::wstring& name);

// One line with its CR LF, in the ANSI code page:
// 05.03.2025 09:07:03 [EM 0C0B0A, "Std"] "123" -> "Copy to Clipboard"
// The key is written last byte first. Line breaks in the output and destination texts are
// written as \r and \n, so that an entry never spans two lines.
std::string BuildTransferLogLine(const CTimeValue& time, int keyType, const _KEY_NUMBER& key,
                                 const std::wstring& formatName, const std::wstring& output,
                                 const std::wstring& destination);

// Appends the line to the transfer log in the documents folder (which is not created).
// Throws CFileException when the file cannot be written.
void WriteTransferLog(const CAppSettings& settings, const CTimeValue& time, int keyType, const _KEY_NUMBER& key,
                      const std::wstring& formatName, const std::wstring& output, const std::wstring& destination);
// The same into a given file.
void AppendTransferLogLine(const std::wstring& path, const CTimeValue& time, int keyType, const _KEY_NUMBER& key,
                           const std::wstring& formatName, const std::wstring& output,
                           const std::wstring& destination);

// The typed text as records show it: each U+0001, from the start, becomes "\k%.3X" of the
// next key-vector entry (Enter 0x0D reads \k00D, a 250 ms pause \k800000FA) until either
// runs out.
std::wstring KeyboardLoggedText(const std::wstring& output, const std::vector<uint32_t>& keys);
