// The keys in the reader's field: a key is reported once while it stays there, and again
// only when its card-memory result changes.
#include "core/SysUtil.h"
#include "reader/Reader.h"
#include "resources/resource.h"

namespace {

constexpr int kKeyTypeTemic = 8;
// More keys than a reader can hold in its field: a device that sends ever new numbers and
// never "No card" must not grow the list without end. The oldest entry gives way.
constexpr size_t kMaxKeysInField = 64;

} // namespace

void CReader::NotifyKeyResult(const _KEY_PRESENCE& entry, HRESULT result, const _KEY_NUMBER& number)
{
    if (result == KEYMEM_REPORT_KEY || result == KEYMEM_REPORT_MEMORY)
        PushKeyNotification(entry.keyType, number, entry.extra);
    else if (result != KEYMEM_READING)   // a read still under way reports when it ends
        PushErrorNotification(result);
}

void CReader::KeySeen(const _KEY_PRESENCE& entry, bool notify)
{
    if (entry.key.length == 0) {
        for (size_t i = m_keys.size(); i-- > 0;)
            if (!((m_flags & RTF_EXTENDED) && m_keys[i].keyType == kKeyTypeTemic))
                RemoveKeyPresence(i);
        return;
    }
    size_t i = 0;
    while (i < m_keys.size() && !(m_keys[i].keyType == entry.keyType && KeysEqual(m_keys[i].key, entry.key)))
        ++i;
    if (i == m_keys.size()) {
        AddKeyPresence(entry, notify);
    } else if (entry.memResult == KEYMEM_READING) {
        // Nothing new yet.
    } else if (entry.memResult == m_keys[i].memResult) {
        // Still in the field: no repeat. A changed memory number is kept silently.
        if (entry.memResult == KEYMEM_REPORT_MEMORY && !KeysEqual(entry.memory, m_keys[i].memory)) {
            CCriticalSectionLock lock(m_cs);
            m_keys[i].memory = entry.memory;
        }
    } else {
        _KEY_PRESENCE stored;
        HRESULT old;
        {
            CCriticalSectionLock lock(m_cs);
            _KEY_PRESENCE& k = m_keys[i];
            old = k.memResult;
            k.memResult = entry.memResult;
            if (entry.memResult != KEYMEM_REPORT_MEMORY)
                k.memory = _KEY_NUMBER{};
            else
                k.memory = entry.memory;
            stored = k;
        }
        if (notify && old != KEYMEM_REPORT_MEMORY)
            NotifyKeyResult(stored, stored.memResult,
                            stored.memResult == KEYMEM_REPORT_MEMORY ? stored.memory : stored.key);
    }
    m_noCard = false;
}

void CReader::AddKeyPresence(const _KEY_PRESENCE& entry, bool notify)
{
    while (m_keys.size() >= kMaxKeysInField)
        RemoveKeyPresence(0);
    {
        CCriticalSectionLock lock(m_cs);
        m_keys.push_back(entry);
    }
    LogKey(IDS_LOG_FOUND_KEY, entry);
    if (notify)
        NotifyKeyResult(entry, entry.memResult, entry.memResult == KEYMEM_REPORT_MEMORY ? entry.memory : entry.key);
}

void CReader::RemoveKeyPresence(size_t index)
{
    _KEY_PRESENCE gone;
    {
        CCriticalSectionLock lock(m_cs);
        if (index >= m_keys.size())
            return;
        gone = m_keys[index];
        m_keys.erase(m_keys.begin() + static_cast<ptrdiff_t>(index));
    }
    LogKey(IDS_LOG_LOST_KEY, gone);
}

void CReader::RemoveTemicKeys()
{
    for (size_t i = m_keys.size(); i-- > 0;)
        if (m_keys[i].keyType == kKeyTypeTemic)
            RemoveKeyPresence(i);
}

void CReader::ClearKeyPresence()
{
    for (size_t i = m_keys.size(); i-- > 0;)
        RemoveKeyPresence(i);
}

bool CReader::FindKeyPresence(int keyType, const _KEY_NUMBER& key, _KEY_PRESENCE& found)
{
    CCriticalSectionLock lock(m_cs);
    for (const _KEY_PRESENCE& k : m_keys)
        if (k.keyType == keyType && KeysEqual(k.key, key)) {
            found = k;
            return true;
        }
    return false;
}

size_t CReader::KeyCount()
{
    CCriticalSectionLock lock(m_cs);
    return m_keys.size();
}

void CReader::MarkKeysStale()
{
    CCriticalSectionLock lock(m_cs);
    for (_KEY_PRESENCE& k : m_keys)
        k.stale = 1;
}

bool CReader::RefreshKey(int keyType, const _KEY_NUMBER& key)
{
    CCriticalSectionLock lock(m_cs);
    for (_KEY_PRESENCE& k : m_keys)
        if (k.keyType == keyType && KeysEqual(k.key, key)) {
            k.stale = 0;
            return true;
        }
    return false;
}

void CReader::RemoveStaleKeys()
{
    for (size_t i = m_keys.size(); i-- > 0;)
        if (m_keys[i].stale)
            RemoveKeyPresence(i);
}

void CReader::CheckNoCardGrace()
{
    if (!m_noCard)
        return;
    const DWORD elapsed = GetTickCount() - m_noCardTick;
    if (elapsed >= kNoCardGrace) {
        m_noCard = false;
        ClearKeyPresence();
    } else {
        LowerWait(kNoCardGrace - elapsed);
    }
}

void CReader::NoCard(bool temicGrace)
{
    if (temicGrace) {
        // Temic keys are read in a cycle; a "No card" line does not mean they left yet.
        m_noCard = true;
        m_noCardTick = GetTickCount();
        LowerWait(kNoCardGrace);
        return;
    }
    m_noCard = false;
    KeySeen(_KEY_PRESENCE{}, true);
}
