#include "pages/KeyTypesLvData.h"

#include "pages/PageHost.h"
#include "reader/ReaderModels.h"

int CKeyTypesLvData::GetItemCount()
{
    return kKeyTypeCount;
}

int CKeyTypesLvData::KeyTypeOfRow(int row) const
{
    int type = row;
    if (m_count > 0 && row >= m_first && row - m_first < m_count)
        type = m_cache[static_cast<size_t>(row - m_first)];
    return type >= 0 && type < kKeyTypeCount ? type : -1;
}

void CKeyTypesLvData::GetDispInfo(LVITEMW* item)
{
    const int type = KeyTypeOfRow(item->iItem);
    if ((item->mask & LVIF_TEXT) && item->iSubItem == 0)
        item->pszText = const_cast<wchar_t*>(type < 0 ? L"" : KeyTypeName(m_host, type).c_str());
    if (item->mask & LVIF_STATE) {
        const uint32_t bit = type < 0 ? 0 : 1u << type;
        UINT state = KEYTYPE_STATE_UNCHECKED;
        if (bit && !(allowedMask & bit))
            state = KEYTYPE_STATE_MIXED;
        else if (checkedMask & bit)
            state = KEYTYPE_STATE_CHECKED;
        item->state = (item->state & ~LVIS_STATEIMAGEMASK) | state;
        item->stateMask |= LVIS_STATEIMAGEMASK;
    }
}

void CKeyTypesLvData::CacheHint(int from, int to)
{
    if (m_count > 0 && from >= m_first && to < m_first + m_count)
        return;
    m_cache.clear();
    m_first = m_count = -1;
    const int count = to - from + 1;
    if (count <= 0)
        return;
    m_cache.resize(static_cast<size_t>(count));
    m_first = from;
    m_count = count;
    FillCache();
}

void CKeyTypesLvData::FillCache()
{
    if (m_cache.empty() || m_count <= 0)
        return;
    // A hint past the last type (or before the first) leaves no entry unset: such rows show
    // nothing rather than a name read through a stale index.
    for (int i = 0; i < m_count; ++i) {
        const int row = m_first + i;
        m_cache[static_cast<size_t>(i)] = row >= 0 && row < kKeyTypeCount ? row : -1;
    }
}
