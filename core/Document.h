#pragma once
// Observable document: observers register a key and a callback; changes OR bits into each
// observer's pending words, and the close of the outermost update scope delivers them, one call
// per observer. UI thread only, no locking.
#include <cstdint>
#include <vector>

#include "core/Object.h"

class CDocument;

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
