#pragma once
// The known readers of the settings brought in line with the serial ports and PC/SC readers
// present now. What the six numeric fields of a known-reader record hold:
#include <windows.h>
#include <winscard.h>
#include <string>
#include <vector>

constexpr int KR_VALUE = 0;     // the port enumeration's value; kPcscPortValue for PC/SC
constexpr int KR_PRESENT = 1;   // 1: present and identified (PC/SC readers always)
constexpr int KR_KIND = 2;      // port source (1 registry, 2 device) or KR_KIND_PCSC
constexpr int KR_MODEL = 3;     // reader model index, 0 unknown
constexpr int KR_FIRMWARE = 4;  // packed firmware version, -1 unknown
constexpr int KR_SERIAL = 5;    // serial number

constexpr int32_t kPcscPortValue = 4096;
constexpr int32_t KR_KIND_DEVICE = 2;
constexpr int32_t KR_KIND_PCSC = 4;

// The readers of the PC/SC service under the context (SCardListReadersW with an automatically
// allocated list); nothing when there is no context, no service or no reader.
void ListSmartCardReaders(SCARDCONTEXT context, std::vector<std::wstring>& names);
