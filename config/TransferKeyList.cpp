// The key list of the transfer document: adding, removing marked and duplicate entries, and
// the output text of an entry.
#include <algorithm>
#include <numeric>
#include "config/TransferDoc.h"
#include "config/FormatEngine.h"

namespace {

// The key rendered through template and params, in its one-line display form.
void RenderDisplayText(std::wstring& out, const std::wstring& templ, const std::wstring& params,
                       const _KEY_NUMBER& key)
{
    try {
        std::wstring text;
        RenderFormat(text, nullptr, templ, params, key);
        EscapeControlChars(out, text.c_str(), static_cast<int>(text.size()));
    } catch (...) {
        // Broken templates and params are the user's data, not a program error: the format
        // check names the fault, and the text shown here simply stays empty.
        out.clear();
    }
}

}  // namespace

size_t CTransferDoc::AddKey(const _KV_KEY& key)
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_keys.push_back(std::make_shared<_KV_KEY>(key));
    RaiseKeyListChange(TDK_ADDED, true);
    return m_keys.size() - 1;
}

size_t CTransferDoc::DeleteMarkedKeys()
{
    auto kept = std::stable_partition(m_keys.begin(), m_keys.end(),
                                      [](const KvKeyPtr& key) { return (key->flags & KVKEY_DELETE) == 0; });
    const size_t removed = static_cast<size_t>(m_keys.end() - kept);
    if (removed == 0)
        return 0;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_keys.erase(kept, m_keys.end());
    RaiseKeyListChange(TDK_REMOVED, false);
    return removed;
}

size_t CTransferDoc::DeleteDuplicateKeys()
{
    for (const KvKeyPtr& key : m_keys)
        key->flags &= ~KVKEY_DUPLICATE;

    // Sorting positions by (key type, key number, position) brings equal entries together
    // with the earliest first, so every entry of a run after its first is a duplicate.
    std::vector<size_t> order(m_keys.size());
    std::iota(order.begin(), order.end(), size_t{0});
    auto less = [this](size_t a, size_t b) {
        const _KV_KEY& x = *m_keys[a];
        const _KV_KEY& y = *m_keys[b];
        if (x.keyType != y.keyType)
            return x.keyType < y.keyType;
        const int cmp = CompareKeys(x.keyNumber, y.keyNumber);
        if (cmp != 0)
            return cmp < 0;
        return a < b;
    };
    std::sort(order.begin(), order.end(), less);
    size_t marked = 0;
    for (size_t i = 1; i < order.size(); ++i) {
        const _KV_KEY& first = *m_keys[order[i - 1]];
        _KV_KEY& entry = *m_keys[order[i]];
        if (entry.keyType == first.keyType && CompareKeys(entry.keyNumber, first.keyNumber) == 0) {
            entry.flags |= KVKEY_DUPLICATE;
            ++marked;
        }
    }
    if (marked == 0)
        return 0;

    CDocUpdateScope scope(*this, GetCurrentSender());
    m_keys.erase(std::stable_partition(m_keys.begin(), m_keys.end(),
                                       [](const KvKeyPtr& key) { return (key->flags & KVKEY_DUPLICATE) == 0; }),
                 m_keys.end());
    RaiseKeyListChange(TDK_REMOVED, false);
    return marked;
}

void CTransferDoc::UpdateKeyText(_KV_KEY& key) const
{
    if ((key.flags & KVKEY_OUTPUT_CURRENT) != 0)
        return;
    key.outputText.clear();
    if (KvFormatPtr format = FindFormatForKey(key.keyType, key.keyNumber.length))
        RenderDisplayText(key.outputText, format->templ, format->params, key.keyNumber);
    // Also without a format or after a failure, so the entry is not rendered again for every
    // repaint; a change of the key or of its formats clears the flag.
    key.flags |= KVKEY_OUTPUT_CURRENT;
}
