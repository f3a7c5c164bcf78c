#pragma once
// The known readers of the settings (_KNOWN_READER) brought in line with the serial ports and
// PC/SC readers present now.
#include <windows.h>
#include <winscard.h>
#include <string>
#include <vector>

// The port value and kinds of a known-reader record.
constexpr int32_t kPcscPortValue = 4096;
constexpr int32_t KR_KIND_DEVICE = 2;
constexpr int32_t KR_KIND_PCSC = 4;

// The readers of the PC/SC service under the context (SCardListReadersW with an automatically
// allocated list); nothing when there is no context, no service or no reader.
void ListSmartCardReaders(SCARDCONTEXT context, std::vector<std::wstring>& names);
