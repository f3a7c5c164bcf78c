#pragma once
// The PC/SC watcher: one worker thread that waits on the smart-card service for the readers
// registered with it (and, when asked, for the plug-and-play pseudo reader), reads each card
// that arrives (UID, then a Mifare Classic block or Ultralight pages by the card-reading
// settings) and tells the reader's owner on its own thread. The application owns one.
//
// Its arrays change only while its thread is stopped: AddReader and RemoveReader (the reader
// thread) and EnablePnpWatch (the UI thread) take the watcher's operation lock, stop the thread
// (cancel and join), change them and start it again. The thread itself never takes that lock;
// the available flags, which any thread may ask for, have a lock of their own that guards
// nothing else.
#include <windows.h>
#include <winscard.h>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "config/TransferRecords.h"
#include "core/AppContext.h"
#include "core/Handle.h"
#include "core/SysUtil.h"
#include "framework/Thread.h"
#include "reader/CcidLink.h"

// A reader list of the service (SCardListReadersW with SCARD_AUTOALLOCATE) held until freed.
class CSCardBuffer {
public:
    explicit CSCardBuffer(SCARDCONTEXT context) : m_context(context) {}
    ~CSCardBuffer() { Free(); }
    CSCardBuffer(const CSCardBuffer&) = delete;
    CSCardBuffer& operator=(const CSCardBuffer&) = delete;

    // Where the service writes the buffer's address.
    LPWSTR* Receive()
    {
        Free();
        return &m_buffer;
    }
    LPCWSTR Get() const { return m_buffer; }
    void Free();

private:
    SCARDCONTEXT m_context;
    LPWSTR m_buffer = nullptr;
};

// One registered reader; an empty name marks a free slot.
struct CcidReaderEntry {
    void* owner = nullptr;
    CcidCardCallback callback = nullptr;
    CcidReadingSource reading = nullptr;
    std::wstring name;
    bool available = false;
};

class CCcidConnection : public CThread, public ICcidWatcher {
public:
    // Told (value 1) on the watcher's thread when the service's reader list changed.
    using ListChangeCallback = void (*)(void* owner, CCcidConnection* watcher, uint32_t value);
    static const wchar_t kPnpReaderName[];   // "\\?PnP?\Notification"

    CCcidConnection();
    ~CCcidConnection() override;
    CCcidConnection(const CCcidConnection&) = delete;
    CCcidConnection& operator=(const CCcidConnection&) = delete;

    // Before the watcher first starts.
    void SetListChangeCallback(void* owner, ListChangeCallback callback);
    // The application whose debug log takes the "CCID" lines (the process's one by default).
    void SetAppContext(CAppContext* app) { m_app = app; }

    // E_FAIL when the service gives no context; the thread then stays stopped.
    HRESULT Start();
    HRESULT AddReader(const wchar_t* name, UINT* id, void* owner, CcidCardCallback callback,
                      CcidReadingSource reading) override;
    void RemoveReader(UINT id) override;
    bool IsReaderAvailable(UINT id) override;
    HRESULT EnablePnpWatch(bool on);
    bool IsPnpWatched();
    // The watcher's context, made on first need; 0 when the service has none. The shell lists
    // the readers with it.
    SCARDCONTEXT GetContext();
    // Stops the thread, ends the reader-list watch and releases the context (the main window's
    // end); a later use makes a new context.
    void Shutdown();

protected:
    DWORD Run() override;

private:
    bool EnsureContext();
    HRESULT StartLocked();
    void StopThread();
    // The reader states point at their slots' names again (the slot array may have moved).
    void RelinkStates();
    bool SetAvailable(CcidReaderEntry& slot, bool available);
    void Notify(CcidReaderEntry& slot, uint32_t code);
    void ReportChanges();

    // The card cycle and its exchanges with the card.
    void ProcessCard(CcidReaderEntry& slot, const SCARD_READERSTATEW& state);
    void ReadCard(CcidReaderEntry& slot, const SCARD_READERSTATEW& state);
    void ReadCardMemory(CcidCardEvent& event, const ReadKeysSettings& reading);
    bool ReadMifareClassicBlock(CcidCardEvent& event, const MifareReadSettings& classic);
    bool ReadCardPage(int block, BYTE* buffer, DWORD* length);
    bool Transmit(const BYTE* command, DWORD length, BYTE* reply, DWORD* replyLength);
    void SetError(HRESULT code, const std::wstring& text);

    CAppContext* LogApp(int threshold);
    void LogInfo(const wchar_t* format, ...);
    void LogError(const wchar_t* format, ...);

    void* m_listOwner = nullptr;
    ListChangeCallback m_listCallback = nullptr;
    std::atomic<bool> m_active{false};
    SCARDCONTEXT m_context = 0;
    std::vector<SCARD_READERSTATEW> m_states;
    bool m_pnpWatch = false;
    std::vector<CcidReaderEntry> m_slots;
    // The watcher's thread only, while a card is processed.
    SCARDHANDLE m_card = 0;
    LPCSCARD_IO_REQUEST m_pci = nullptr;
    HRESULT m_lastError = S_OK;
    std::wstring m_lastErrorText;

    CAppContext* m_app = nullptr;
    CCriticalSection m_opLock;      // AddReader, RemoveReader, EnablePnpWatch, Start, Shutdown
    CCriticalSection m_slotLock;    // the slot array and its available flags
    CEvent m_stopEvent;             // ends the pause after a failed status wait
};
