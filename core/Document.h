#pragma once
// Observable document: observers register a key and a callback; changes OR bits into each
// observer's pending words, and the close of the outermost update scope delivers them, one call
// per observer. UI thread only, no locking.
#include <cstdint>
#include <memory>
#include <vector>

#include "core/Object.h"

class CDocument;
class CObserverToken;

// bits points to the two words {word1, word2} of this delivery.
using DocObserverCallback = void (*)(void* key, CDocument* doc, const uint32_t* bits);

struct ObserverSlot {
    void* key = nullptr;                      // null marks a free slot
    DocObserverCallback callback = nullptr;
    uint32_t pending1 = 0;
    uint32_t pending2 = 0;
};

class CDocument : public CObject {
public:
    CDocument() = default;
    ~CDocument() override = default;
    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;

    // Returns the slot index, the observer's handle for RemoveObserver.
    int AddObserver(void* key, DocObserverCallback callback);
    // No-op for -1; sets index to -1.
    void RemoveObserver(int& index);
    // The same registration held by a token that removes it when the token goes.
    [[nodiscard]] CObserverToken Observe(void* key, DocObserverCallback callback);

    // Records a change for every observer but the current sender; delivers nothing.
    virtual void SetModified(uint32_t word1, uint32_t word2 = 0);
    // Delivers the pending bits; passes repeat while observers change the document.
    virtual void NotifyObservers();

    int GetObserverSlotCount() const { return static_cast<int>(m_observers.size()); }
    int GetNestingCount() const { return m_nesting; }
    bool IsNotifyPending() const { return m_dirty; }
    const void* GetCurrentSender() const { return m_sender; }

protected:
    friend class CDocUpdateScope;
    void EnterScope(const void* sender, const void*& savedSender);
    void LeaveScope(const void* savedSender);   // may run a pass

    std::vector<ObserverSlot> m_observers;
    int m_freeHint = 0;          // no free slot lies below this index
    int m_nesting = 0;           // open scopes plus running passes
    bool m_dirty = false;        // a change awaits delivery
    const void* m_sender = nullptr;

private:
    friend class CObserverToken;
    // Expires with the document, so that a token left behind knows not to reach into it.
    std::shared_ptr<const bool> m_lifetime = std::make_shared<const bool>(true);
};

// One observer registration that ends by itself: when the token is destroyed, reset or
// overwritten. A token that outlives its document ends without touching it.
class CObserverToken {
public:
    CObserverToken() = default;
    ~CObserverToken() { Reset(); }
    CObserverToken(CObserverToken&& other) noexcept;
    CObserverToken& operator=(CObserverToken&& other) noexcept;
    CObserverToken(const CObserverToken&) = delete;
    CObserverToken& operator=(const CObserverToken&) = delete;

    // Removes the registration now (no-op when there is none).
    void Reset() noexcept;
    bool IsActive() const { return m_slot >= 0 && !m_lifetime.expired(); }
    CDocument* GetDocument() const { return IsActive() ? m_doc : nullptr; }

private:
    friend class CDocument;
    CObserverToken(CDocument& doc, int slot) : m_doc(&doc), m_slot(slot), m_lifetime(doc.m_lifetime) {}

    CDocument* m_doc = nullptr;
    int m_slot = -1;
    std::weak_ptr<const bool> m_lifetime;
};

// Every setter of a document opens one around its change. senderKey is the observer causing
// the change (it is not told of it), or null.
class CDocUpdateScope {
public:
    explicit CDocUpdateScope(CDocument& doc, const void* senderKey = nullptr);
    explicit CDocUpdateScope(CDocument* doc, const void* senderKey = nullptr)
        : CDocUpdateScope(*doc, senderKey) {}
    // Runs the delivery pass when this is the outermost scope, so it may throw.
    ~CDocUpdateScope() noexcept(false);
    CDocUpdateScope(const CDocUpdateScope&) = delete;
    // Records a change on the scope's document (through its own SetModified).
    void SetModified(uint32_t word1, uint32_t word2 = 0) { m_doc.SetModified(word1, word2); }
    CDocUpdateScope& operator=(const CDocUpdateScope&) = delete;

private:
    CDocument& m_doc;
    const void* m_savedSender = nullptr;
    int m_uncaught = 0;
};

// An edit of one group of a document's values that has no setter of its own: the group is
// changed through the edit, and when the edit ends a group that differs from what it was
// raises the group's change (Doc::RaiseEditChange with a Doc::EditChange), inside one update
// scope that keeps the current sender. Callers never change such a group in place without one.
template <class Doc, class T>
class CDocEdit
{
public:
    using Change = typename Doc::EditChange;

    CDocEdit(Doc& doc, T& value, const Change& change)
        : m_scope(doc, doc.GetCurrentSender()), m_doc(doc), m_value(value), m_start(value), m_change(change)
    {
    }
    ~CDocEdit() noexcept(false)
    {
        if (!(m_value == m_start))
            m_doc.RaiseEditChange(m_change);
    }
    CDocEdit(const CDocEdit&) = delete;
    CDocEdit& operator=(const CDocEdit&) = delete;

    T& operator*() const { return m_value; }
    T* operator->() const { return &m_value; }

private:
    CDocUpdateScope m_scope;
    Doc& m_doc;
    T& m_value;
    const T m_start;
    const Change m_change;
};
