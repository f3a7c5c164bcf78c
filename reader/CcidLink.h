#pragma once
// What the reader thread needs of the PC/SC reader watcher: register a reader name, hear of
// its cards on the watcher's thread, ask whether it is present, and leave again. The watcher
// stops and restarts its own thread inside AddReader and RemoveReader, and its callbacks take
// the reader's lock, so the reader never calls it while holding that lock.
#include <windows.h>
#include <cstdint>
#include "config/KeyNumber.h"
#include "config/TransferRecords.h"

enum CcidEventCode : uint32_t {
    CCID_CARD_LOST = 0,
    CCID_CARD_READ = 1,
    CCID_READER_CHANGED = 2,    // availability changed; ask IsReaderAvailable which way
};

struct CcidCardEvent {
    uint32_t code = CCID_CARD_LOST;
    // For CCID_CARD_READ only:
    int cardType = 0;           // key type, 0 when not identified
    _KEY_NUMBER uid;
    uint32_t cardFlags = 0;     // becomes the key's extra value
    _KEY_NUMBER data;           // card memory read, length 0 when nothing was read
    HRESULT readResult = 1;     // 1 nothing read, 0 read, else the error
};

class ICcidWatcher;
using CcidCardCallback = void (*)(void* owner, ICcidWatcher* watcher, const CcidCardEvent* event);
// Asked on the watcher's thread as a card arrives: the owner's card-reading settings, copied
// whole under the owner's lock, so that one card is read by one set of settings.
using CcidReadingSource = void (*)(void* owner, ReadKeysSettings* out);

class ICcidWatcher {
public:
    // Registers a reader; id receives its 1-based slot id (0 on failure). Without a reading
    // source the reader's cards give their UIDs only.
    virtual HRESULT AddReader(const wchar_t* name, UINT* id, void* owner, CcidCardCallback callback,
                              CcidReadingSource reading) = 0;
    virtual void RemoveReader(UINT id) = 0;
    virtual bool IsReaderAvailable(UINT id) = 0;

protected:
    ~ICcidWatcher() = default;
};
