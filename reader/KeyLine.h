#pragma once
// The key lines of text-line readers ("Em-Marine[55] 085,123") and the card type of a Mifare
// card by its SAK and ATQA. Stateless; any thread.
#include <windows.h>
#include <cstdint>
#include <string_view>
#include "config/KeyNumber.h"
#include "core/TextUtil.h"

// Parses one key line. The key number is cleared first; true when a key type other than 0
// was found. qm100 is the "differentQM100" flag in force: a reader whose own nibble order of
// the 433 MHz codes differs from it gets them swapped.
bool ParseKeyLine(std::wstring_view line, int& keyType, _KEY_NUMBER& key, uint32_t& extra, int model,
                  PackedVersion firmware, bool qm100);

// Key type of a Mifare card; extra (optional) receives its attribute word (0 unless the
// card type implies one).
int CardTypeFromSak(BYTE sak, WORD atqa, uint32_t* extra);

// A line that begins with "No card" (any case): the reader's field is empty.
bool IsNoCardLine(std::wstring_view line);
// A line with "[" and without ":" is a key line.
bool IsKeyLine(std::wstring_view line);
