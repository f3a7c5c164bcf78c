#pragma once
// The rows of the key list page: which entries of the key list are shown, in which order, with
// which texts, and the orderings and moves the page applies to the list itself.
#include <array>
#include <string>
#include <vector>

#include "config/TransferRecords.h"
#include "framework/ColumnDesc.h"
#include "framework/ListCtrl.h"

class CTransferDoc;

// The key-list filter word.
constexpr uint32_t KLF_ENABLED = 0x1;
constexpr uint32_t KLF_SHOW_TRANSFERRED = 0x2;
constexpr uint32_t KLF_SHOW_NO_FORMAT = 0x4;

// Pending work of the list data.
constexpr uint32_t KLD_NOTIFY = 0x1;
constexpr uint32_t KLD_CACHE = 0x2;
constexpr uint32_t KLD_ROWS = 0x4;

// Orders two keys for a sort by the "Number" column in a view form: negative when a comes
// first for an ascending sort key, positive when it does for a descending one.
int CompareKeysForView(const _KV_KEY& a, const _KV_KEY& b, int viewForm, int sortKey);

// Reorders the entries by a sort key of the page (column id + 1, negative descending); the
// formats of the document give the texts of the columns 4 and 5. Key ±1 leaves the order.
void SortKeyList(std::vector<KvKeyPtr>& keys, CTransferDoc& doc, int sortKey, int viewForm);

// Moves the chosen entries, in list order, before the entry at target (the end for a target past
// the list). False when nothing moves: no entry chosen, or the chosen ones are one block and the
// target lies inside it or right after it.
bool MoveKeysBefore(std::vector<KvKeyPtr>& keys, const std::vector<size_t>& chosen, size_t target);

// The name of the format that applies to the entry, looked up once and kept in the entry.
const std::wstring& KeyFormatName(CTransferDoc& doc, _KV_KEY& key);

class CKeyListLvData : public CVirtualListViewData
{
public:
    CKeyListLvData(CTransferDoc& doc, const std::array<std::wstring, 22>& typeNames);

    int GetItemCount() override;
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int from, int to) override;

    // The text of one cell (column id) of a row.
    std::wstring CellText(int row, int column);
    // Does the queued work (KLD_*): the row map, the cache, the owner's refresh.
    void Update();
    void Queue(uint32_t work) { m_pending |= work; }
    uint32_t Pending() const { return m_pending; }

    // The entry shown at a row; null outside the rows.
    KvKeyPtr EntryAt(int row) const;
    // The row of an entry, -1 when it is not shown.
    int RowOf(const _KV_KEY* entry) const;
    const std::vector<size_t>& RowMap() const { return m_rows; }

    int viewForm = 4;        // "keyViewFormat"
    uint32_t filter = KLF_SHOW_NO_FORMAT;
    // The table's descriptors, to know which columns are visible; null shows all.
    const std::vector<ColumnDesc>* columns = nullptr;
    // The table's list columns by descriptor; null when list column i is column id i.
    const std::vector<int>* visibleMap = nullptr;

private:
    struct CachedRow
    {
        std::array<std::wstring, 4> texts;  // columns 0, 2, 3 and 4
        size_t index = 0;
        KvKeyPtr entry;
    };

    bool IsVisible(int column) const;
    void RebuildRows();
    void FillCache(int from, int to);
    std::wstring ComputeText(size_t index, int row, int column);

    CTransferDoc& m_doc;
    const std::array<std::wstring, 22>& m_typeNames;
    std::vector<size_t> m_rows;
    int m_cacheFirst = 0;
    std::vector<CachedRow> m_cache;
    uint32_t m_pending = KLD_NOTIFY | KLD_CACHE | KLD_ROWS;
    std::wstring m_text;  // the text handed to the list
};
