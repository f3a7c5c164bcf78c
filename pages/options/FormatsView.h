#pragma once
// What the formats page shows of the format list and how it reorders it: the filtered view, the
// display texts, the sorts and the move of dragged rows. No windows here.
#include <cstdint>
#include <string>
#include <vector>

#include "config/TransferDoc.h"

// Data columns of the formats page (also the page's column descriptors).
enum FormatsColumn : int
{
    FCOL_CHOICE = 0,
    FCOL_NUMBER,
    FCOL_ID,
    FCOL_NAME,
    FCOL_TEMPLATE,
    FCOL_PARAMS,
    FCOL_COMMENT,
    FCOL_LAST_KEY,
    FCOL_VISIBLE,
    FCOL_COUNT
};

// Bits of the page's filter word (the settings' formats filter).
constexpr uint32_t FFILTER_ON = 0x1;
constexpr uint32_t FFILTER_SHOW_HIDDEN = 0x2;
constexpr uint32_t FFILTER_SHOW_PRESETS = 0x4;
constexpr uint32_t FFILTER_SAME_NAME = 0x8;

// The key-filter mask bit of a key filter id (0 "Default"); 0 for an id beyond the mask.
inline uint32_t KeyFilterBit(uint32_t keyFilterId)
{
    return keyFilterId < 32 ? 1u << keyFilterId : 0;
}

// A format's name as lists show it: a preset's with the preset prefix instead of its line feed.
std::wstring FormatDisplayName(const _KV_FORMAT& format);

// Indexes into formats, in list order, of the formats the filter word lets through for the key
// filter.
std::vector<int> BuildFormatsView(const std::vector<KvFormatPtr>& formats, const FormatsByName& byName,
                                  uint32_t filter, uint32_t keyFilterId);

// The chosen format id of a key filter: its format id, "defaultId" for 0, 0 for a missing one.
uint32_t ChosenFormatId(const CTransferDoc& doc, uint32_t keyFilterId);

// Reorders the list by a sort key (+-(data column + 1)); false for "#" (nothing moves). The
// "Last key" samples are brought up to date with the key first.
bool SortFormats(std::vector<KvFormatPtr>& formats, int key, uint32_t chosenId, uint32_t keyFilterId,
                 const _KEY_NUMBER& lastKey);

// Moves the formats of the view rows `rows` (ascending) as one block, in their order, to the
// place of view row `drop` (past the view: the end of the list). False when the drop lies inside
// the block and nothing moves.
bool MoveFormatRows(std::vector<KvFormatPtr>& formats, const std::vector<int>& view, const std::vector<int>& rows,
                    int drop);
