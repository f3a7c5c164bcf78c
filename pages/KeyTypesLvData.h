#pragma once
// The rows of a key-type list: one row per key type, with a check state from a checked mask and
// a third state for types the owner does not allow to be decided (the key filters' "mixed").
#include <cstdint>
#include <vector>

#include "framework/ListCtrl.h"

class IPageHost;

class CKeyTypesLvData : public CVirtualListViewData
{
public:
    explicit CKeyTypesLvData(IPageHost& host) : m_host(host) {}

    int GetItemCount() override;
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int from, int to) override;
    void FillCache();

    // The key type a row shows, -1 for none.
    int KeyTypeOfRow(int row) const;

    uint32_t checkedMask = 0;
    uint32_t allowedMask = 0xFFFFFFFF;

private:
    IPageHost& m_host;
    std::vector<int32_t> m_cache;  // key type per cached row
    int m_first = -1;
    int m_count = -1;
};

// State images of the key-type lists.
constexpr UINT KEYTYPE_STATE_UNCHECKED = 0x1000;
constexpr UINT KEYTYPE_STATE_CHECKED = 0x2000;
constexpr UINT KEYTYPE_STATE_MIXED = 0x3000;
