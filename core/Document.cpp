#include "core/Document.h"

#include <windows.h>

#include <exception>

#include "core/AppLog.h"

namespace {

// Nobody can be told while an exception unwinds: the debug log keeps what went wrong.
void LogUnwindingFailure(const char* what)
{
    CAppContext* app = GetAppContext();
    if (app != nullptr && app->IsLogged(LOG_THRESHOLD_ERROR))
        LogMessage(app, nullptr, LOG_ERROR, L"Document observer failed while unwinding: %hs", what);
}

} // namespace

int CDocument::AddObserver(void* key, DocObserverCallback callback)
{
    const int size = static_cast<int>(m_observers.size());
    for (int i = m_freeHint; i < size; ++i) {
        ObserverSlot& slot = m_observers[i];
        if (slot.key == nullptr) {
            slot = ObserverSlot{key, callback, 0, 0};
            m_freeHint = i + 1;
            return i;
        }
    }
    m_observers.push_back(ObserverSlot{key, callback, 0, 0});
    m_freeHint = static_cast<int>(m_observers.size());
    return m_freeHint - 1;
}

void CDocument::RemoveObserver(int& index)
{
    if (index < 0)
        return;
    const int size = static_cast<int>(m_observers.size());
    if (index < size) {
        m_observers[index].key = nullptr;
        if (index == size - 1) {
            while (!m_observers.empty() && m_observers.back().key == nullptr)
                m_observers.pop_back();
        }
        if (m_freeHint > index)
            m_freeHint = index;
    }
    index = -1;
}

CObserverToken CDocument::Observe(void* key, DocObserverCallback callback)
{
    return CObserverToken(*this, AddObserver(key, callback));
}

void CDocument::SetModified(uint32_t word1, uint32_t word2)
{
    m_dirty = true;
    for (ObserverSlot& slot : m_observers) {
        if (slot.key == nullptr || (m_sender != nullptr && slot.key == m_sender))
            continue;
        slot.pending1 |= word1;
        slot.pending2 |= word2;
    }
}

void CDocument::NotifyObservers()
{
    m_dirty = false;
    const void* saved = nullptr;
    // Changes made by observers during the pass reach every observer, the changer included.
    EnterScope(nullptr, saved);
    try {
        // Index walk re-reading the size: observers added meanwhile are reached, and an
        // addition may reallocate the table.
        for (size_t i = 0; i < m_observers.size(); ++i) {
            ObserverSlot& slot = m_observers[i];
            if (slot.key == nullptr || (slot.pending1 == 0 && slot.pending2 == 0))
                continue;
            const uint32_t bits[2] = {slot.pending1, slot.pending2};
            slot.pending1 = slot.pending2 = 0;
            void* key = slot.key;
            DocObserverCallback callback = slot.callback;
            if (callback != nullptr)
                callback(key, this, bits);
        }
    } catch (...) {
        LeaveScope(saved);
        throw;
    }
    LeaveScope(saved);
}

void CDocument::EnterScope(const void* sender, const void*& savedSender)
{
    ++m_nesting;
    savedSender = m_sender;
    m_sender = sender;
}

void CDocument::LeaveScope(const void* savedSender)
{
    m_sender = savedSender;
    if (--m_nesting == 0 && m_dirty)
        NotifyObservers();
}

CDocUpdateScope::CDocUpdateScope(CDocument& doc, const void* senderKey)
    : m_doc(doc), m_uncaught(std::uncaught_exceptions())
{
    m_doc.EnterScope(senderKey, m_savedSender);
}

CDocUpdateScope::~CDocUpdateScope() noexcept(false)
{
    if (std::uncaught_exceptions() <= m_uncaught) {
        m_doc.LeaveScope(m_savedSender);
        return;
    }
    // Unwinding already: a second exception would end the process, so the one in flight wins.
    try {
        m_doc.LeaveScope(m_savedSender);
    } catch (const std::exception& e) {
        LogUnwindingFailure(e.what());
    } catch (...) {
        LogUnwindingFailure("unknown error");
    }
}

CObserverToken::CObserverToken(CObserverToken&& other) noexcept
    : m_doc(other.m_doc), m_slot(other.m_slot), m_lifetime(std::move(other.m_lifetime))
{
    other.m_doc = nullptr;
    other.m_slot = -1;
}

CObserverToken& CObserverToken::operator=(CObserverToken&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_doc = other.m_doc;
        m_slot = other.m_slot;
        m_lifetime = std::move(other.m_lifetime);
        other.m_doc = nullptr;
        other.m_slot = -1;
    }
    return *this;
}

void CObserverToken::Reset() noexcept
{
    if (m_slot >= 0 && !m_lifetime.expired())
        m_doc->RemoveObserver(m_slot);
    m_doc = nullptr;
    m_slot = -1;
    m_lifetime.reset();
}
