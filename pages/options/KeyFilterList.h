#pragma once
// The key filters dialog's working copy: the list with its selection marks, the id counter, the
// sort and the formats page's chosen filter, and what each of the dialog's commands does to
// them. Nothing here reaches the document before ApplyKeyFilters.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "config/TransferRecords.h"

class CTransferDoc;

// Scratch marks of the working copy; never stored.
constexpr uint32_t KEYFILTER_MARK = 0x1000;
constexpr uint32_t KEYFILTER_SELECTED = 0x4000;

// Sort keys: +-(data column + 1).
constexpr int KFSORT_VISIBLE = 1;
constexpr int KFSORT_NAME = 4;
constexpr int KFSORT_KEY_TYPES = 5;
constexpr int KFSORT_KEY_SIZE = 6;

struct KeyFilterList
{
    std::vector<KeyFilter> filters;
    int32_t sort = 0;
    uint32_t counter = 1;
    uint32_t selectedId = 0;
    // Ids whose format memberships must go at apply: removed filters, and after a reset every
    // id the document had.
    std::set<uint32_t> droppedIds;

    void CopyFrom(const CTransferDoc& doc);

    bool IsSelected(size_t row) const { return (filters[row].flags & KEYFILTER_SELECTED) != 0; }
    int SelectedCount() const;
    void SelectOnly(int row);

    // The new filter's row, or -1 when all 31 ids are taken.
    int Add(const std::wstring& baseName);
    // Copies the selected filters, each right after itself; the copies become the selection.
    // False when the ids ran out (the copies made so far stay).
    bool Duplicate();
    // Removes the selected filters; returns the row to select next, -1 when the list is empty.
    int Delete();
    void MoveUp();
    void MoveDown();
    bool CanMoveUp() const;
    bool CanMoveDown() const;
    // Moves the selected filters as a block to the drop row (counted before removal; past the
    // end = to the end). False when the drop lies inside the block.
    bool Drop(int row);
    // Reorders by a sort key; keys other than visible, name, key types and key size only
    // remember the key.
    void Sort(int key);
    // Clears the sort when it is by that key, in either direction.
    void ClearSortBy(int key);
    // The preset filters, ids from 1; false when the presets bring none.
    bool ResetToPresets(const std::vector<uint32_t>& documentIds);
};

// Stores the working copy in the document in one change scope with the sender: the filters
// (without scratch marks), the counter, the sort and the chosen filter; the formats lose their
// memberships of dropped ids.
void ApplyKeyFilters(CTransferDoc& doc, KeyFilterList& work, const void* sender);
