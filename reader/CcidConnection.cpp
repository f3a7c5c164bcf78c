#include "reader/CcidConnection.h"

#include <algorithm>
#include <cstdarg>

#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/TextUtil.h"
#include "reader/CardAtr.h"

namespace {

// The service ends only a status wait in progress: a cancel that came just before the thread
// entered its wait is repeated after this long.
constexpr DWORD kCancelRepeatMs = 20;
constexpr DWORD kStatusRetryMs = 1000;

constexpr int kCardTypeUltralight = 9;
constexpr int kCardTypeClassic1K = 10;
constexpr int kCardTypeClassic4K = 12;
constexpr int kCardTypeMini = 21;

UINT SlotId(const SCARD_READERSTATEW& state)
{
    return static_cast<UINT>(reinterpret_cast<UINT_PTR>(state.pvUserData));
}

// Upper-case pairs separated by single blanks.
std::wstring HexBlanks(const BYTE* bytes, size_t count)
{
    std::wstring out;
    wchar_t pair[4];
    for (size_t i = 0; i < count; ++i) {
        swprintf(pair, 4, L"%02X", bytes[i]);
        if (i)
            out += L' ';
        out += pair;
    }
    return out;
}

std::wstring CodeText(HRESULT code)
{
    std::wstring text;
    FormatString(text, L"0x%08X", static_cast<unsigned>(code));
    return text;
}

std::wstring MessageText(HRESULT code)
{
    std::wstring text;
    if (!GetSystemMessageText(text, GetResourceModule(), static_cast<DWORD>(code)))
        text = CodeText(code);
    return text;
}

int SectorCount(int cardType)
{
    switch (cardType) {
    case 10: case 14: case 17: return 16;
    case 11: case 15: return 32;
    case 12: case 16: case 18: return 40;
    default: return 5;   // 13 and the Mifare Mini among others
    }
}

_KEY_NUMBER KeyOf(const BYTE* bytes, DWORD count)
{
    return MakeKeyNumber(bytes, std::min<size_t>(count, KEY_NUMBER_MAX_BYTES));
}

} // namespace

const wchar_t CCcidConnection::kPnpReaderName[] = L"\\\\?PnP?\\Notification";

void CSCardBuffer::Free()
{
    if (m_buffer) {
        SCardFreeMemory(m_context, m_buffer);
        m_buffer = nullptr;
    }
}

CCcidConnection::CCcidConnection()
{
    if (!m_stopEvent.Create(true, false))
        ThrowOSError(::GetLastError());
}

CCcidConnection::~CCcidConnection()
{
    Shutdown();
}

void CCcidConnection::SetListChangeCallback(void* owner, ListChangeCallback callback)
{
    CCriticalSectionLock lock(m_opLock);
    m_listOwner = owner;
    m_listCallback = callback;
}

bool CCcidConnection::EnsureContext()
{
    if (m_context)
        return true;
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return false;
    m_context = context;
    return true;
}

SCARDCONTEXT CCcidConnection::GetContext()
{
    CCriticalSectionLock lock(m_opLock);
    return EnsureContext() ? m_context : 0;
}

HRESULT CCcidConnection::Start()
{
    CCriticalSectionLock lock(m_opLock);
    return StartLocked();
}

HRESULT CCcidConnection::StartLocked()
{
    if (!EnsureContext())
        return E_FAIL;
    m_active = true;
    if (!IsStarted()) {
        RelinkStates();
        m_stopEvent.Reset();
        CThread::Start();
    }
    return S_OK;
}

void CCcidConnection::StopThread()
{
    m_active = false;
    if (!IsStarted())
        return;
    m_stopEvent.Set();
    RequestStop();
    do {
        if (m_context)
            SCardCancel(m_context);
    } while (WaitForSingleObject(GetThreadHandle(), kCancelRepeatMs) == WAIT_TIMEOUT);
    CThread::Stop();
}

void CCcidConnection::Shutdown()
{
    CCriticalSectionLock lock(m_opLock);
    StopThread();
    // The watch of the reader list belongs to the window that ends here.
    auto it = std::find_if(m_states.begin(), m_states.end(), [](const SCARD_READERSTATEW& s) { return SlotId(s) == 0; });
    if (it != m_states.end())
        m_states.erase(it);
    m_pnpWatch = false;
    if (m_context) {
        SCardReleaseContext(m_context);
        m_context = 0;
    }
}

void CCcidConnection::RelinkStates()
{
    for (SCARD_READERSTATEW& s : m_states) {
        const UINT id = SlotId(s);
        s.szReader = id == 0 ? kPnpReaderName : m_slots[id - 1].name.c_str();
    }
}

HRESULT CCcidConnection::AddReader(const wchar_t* name, UINT* id, void* owner, CcidCardCallback callback,
                                   CcidReadingSource reading)
{
    if (id)
        *id = 0;
    if (!name || !*name)
        return E_INVALIDARG;
    CCriticalSectionLock lock(m_opLock);
    StopThread();
    if (!EnsureContext())
        return E_FAIL;

    size_t index;
    {
        CCriticalSectionLock slots(m_slotLock);
        index = static_cast<size_t>(std::find_if(m_slots.begin(), m_slots.end(),
                                                 [](const CcidReaderEntry& e) { return e.name.empty(); }) -
                                    m_slots.begin());
        try {
            if (index == m_slots.size())
                m_slots.emplace_back();
            CcidReaderEntry& slot = m_slots[index];
            slot.name = name;
            slot.owner = owner;
            slot.callback = callback;
            slot.reading = reading;
            slot.available = false;
        } catch (...) {
            // The slot goes back as it was: dropped when last, else free.
            if (index + 1 == m_slots.size())
                m_slots.pop_back();
            else if (index < m_slots.size())
                m_slots[index] = CcidReaderEntry();
            throw;
        }
    }
    const UINT slotId = static_cast<UINT>(index + 1);
    SCARD_READERSTATEW state{};
    state.pvUserData = reinterpret_cast<void*>(static_cast<UINT_PTR>(slotId));
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    state.dwEventState = SCARD_STATE_UNKNOWN;
    m_states.push_back(state);
    if (id)
        *id = slotId;
    return StartLocked();
}

void CCcidConnection::RemoveReader(UINT id)
{
    if (id == 0)
        return;
    CCriticalSectionLock lock(m_opLock);
    StopThread();
    {
        CCriticalSectionLock slots(m_slotLock);
        if (id == m_slots.size())
            m_slots.pop_back();
        else if (id < m_slots.size())
            m_slots[id - 1] = CcidReaderEntry();
    }
    auto it = std::find_if(m_states.begin(), m_states.end(),
                           [id](const SCARD_READERSTATEW& s) { return SlotId(s) == id; });
    if (it != m_states.end())
        m_states.erase(it);
    if (!m_states.empty())
        StartLocked();
}

bool CCcidConnection::IsReaderAvailable(UINT id)
{
    CCriticalSectionLock slots(m_slotLock);
    return id >= 1 && id <= m_slots.size() && m_slots[id - 1].available;
}

HRESULT CCcidConnection::EnablePnpWatch(bool on)
{
    CCriticalSectionLock lock(m_opLock);
    if (m_pnpWatch == on)
        return S_OK;
    StopThread();
    if (on) {
        if (!EnsureContext()) {
            if (!m_states.empty())
                StartLocked();
            return E_FAIL;
        }
        SCARD_READERSTATEW state{};
        state.szReader = kPnpReaderName;
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        state.dwEventState = SCARD_STATE_UNKNOWN;
        m_states.push_back(state);
    } else {
        auto it = std::find_if(m_states.begin(), m_states.end(), [](const SCARD_READERSTATEW& s) { return SlotId(s) == 0; });
        if (it != m_states.end())
            m_states.erase(it);
    }
    m_pnpWatch = on;
    return m_states.empty() ? S_OK : StartLocked();
}

bool CCcidConnection::IsPnpWatched()
{
    CCriticalSectionLock lock(m_opLock);
    return m_pnpWatch;
}

// ---- The watch loop ----

DWORD CCcidConnection::Run()
{
    while (m_active) {
        ReportChanges();
        if (!m_active)
            break;
        const LONG rc = SCardGetStatusChangeW(m_context, INFINITE, m_states.data(), static_cast<DWORD>(m_states.size()));
        if (rc != SCARD_S_SUCCESS) {
            if (!m_active)
                break;
            // A failing service is asked again after a pause that a stop ends at once.
            WaitForSingleObject(m_stopEvent, kStatusRetryMs);
        }
    }
    return 0;
}

bool CCcidConnection::SetAvailable(CcidReaderEntry& slot, bool available)
{
    CCriticalSectionLock slots(m_slotLock);
    if (slot.available == available)
        return false;
    slot.available = available;
    return true;
}

void CCcidConnection::Notify(CcidReaderEntry& slot, uint32_t code)
{
    CcidCardEvent event;
    event.code = code;
    if (slot.callback)
        slot.callback(slot.owner, this, &event);
}

void CCcidConnection::ReportChanges()
{
    for (SCARD_READERSTATEW& s : m_states) {
        if (s.dwCurrentState == s.dwEventState)
            continue;
        const UINT id = SlotId(s);
        if (id == 0) {
            if ((s.dwEventState & SCARD_STATE_CHANGED) && m_listCallback)
                m_listCallback(m_listOwner, this, 1);
            s.dwCurrentState = s.dwEventState;
            continue;
        }
        CcidReaderEntry& slot = m_slots[id - 1];
        if (s.dwEventState & SCARD_STATE_UNAVAILABLE) {
            LogInfo(L"{!} Reader unavailable");
            if (SetAvailable(slot, false))
                Notify(slot, CCID_READER_CHANGED);
        } else {
            if (SetAvailable(slot, true))
                Notify(slot, CCID_READER_CHANGED);
            if ((s.dwEventState & SCARD_STATE_CHANGED) &&
                ((s.dwEventState ^ s.dwCurrentState) & SCARD_STATE_PRESENT)) {
                if (s.dwEventState & SCARD_STATE_PRESENT) {
                    LogInfo(L"{!} Card detected");
                    ProcessCard(slot, s);
                } else {
                    LogInfo(L"{!} Card lost");
                    Notify(slot, CCID_CARD_LOST);
                }
            }
        }
        s.dwCurrentState = s.dwEventState & ~SCARD_STATE_CHANGED;
    }
}

// ---- The card cycle ----

void CCcidConnection::ProcessCard(CcidReaderEntry& slot, const SCARD_READERSTATEW& state)
{
    if (state.cbAtr == 0)
        return;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    const LONG rc = SCardConnectW(m_context, slot.name.c_str(), SCARD_SHARE_SHARED,
                                  SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    if (rc != SCARD_S_SUCCESS) {
        SetError(rc, CodeText(rc));
        LogError(L"Function \"%s\" error %d: %s", L"SCardConnect", static_cast<int>(m_lastError), m_lastErrorText.c_str());
        return;
    }
    m_card = card;
    m_pci = protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    LogInfo(L"SCardConnect");
    ReadCard(slot, state);
    SCardDisconnect(card, SCARD_RESET_CARD);
    m_card = 0;
    LogInfo(L"SCardDisconnect");
}

void CCcidConnection::ReadCard(CcidReaderEntry& slot, const SCARD_READERSTATEW& state)
{
    AtrInfo atr;
    if (!ParseAtr(state.rgbAtr, std::min<size_t>(state.cbAtr, sizeof state.rgbAtr), atr))
        return;
    const CardIdentity identity = IdentifyCardFromAtr(atr);

    static const BYTE kGetUid[] = {0xFF, 0xCA, 0x00, 0x00, 0x00};
    BYTE reply[24];
    DWORD length = sizeof reply;
    if (!Transmit(kGetUid, sizeof kGetUid, reply, &length))
        return;
    LogInfo(L">> UID (%d): %s", static_cast<int>(length), HexBlanks(reply, length - 2).c_str());

    CcidCardEvent event;
    event.code = CCID_CARD_READ;
    event.cardType = identity.cardType;
    event.cardFlags = identity.flags;
    event.uid = KeyOf(reply, length - 2);
    event.readResult = 1;
    // One copy for the whole card: the UI may change the settings meanwhile.
    ReadKeysSettings reading;
    if (slot.reading)
        slot.reading(slot.owner, &reading);
    ReadCardMemory(event, reading);
    if (slot.callback)
        slot.callback(slot.owner, this, &event);
}

void CCcidConnection::ReadCardMemory(CcidCardEvent& event, const ReadKeysSettings& reading)
{
    const int type = event.cardType;
    if (type == kCardTypeUltralight && reading.ultralight.enabled) {
        const MifareULSettings& ul = reading.ultralight;
        if (ul.page < 0 || ul.page > 15 || ul.count < 1) {
            event.readResult = E_INVALIDARG;
            return;
        }
        BYTE buffer[32];
        DWORD length = sizeof buffer;
        if (ReadCardPage(ul.page, buffer, &length)) {
            event.data = KeyOf(buffer, length);
            event.readResult = S_OK;
        } else {
            event.readResult = m_lastError;
        }
    } else if ((type == kCardTypeClassic1K || type == kCardTypeClassic4K || type == kCardTypeMini ||
                CardFlagsReadAsClassic(event.cardFlags)) &&
               reading.classic.enabled) {
        ReadMifareClassicBlock(event, reading.classic);
    }
}

bool CCcidConnection::ReadMifareClassicBlock(CcidCardEvent& event, const MifareReadSettings& classic)
{
    // 1-3. The absolute block of the sector's block, inside the card.
    const int sectors = SectorCount(event.cardType);
    const int sector = classic.sector;
    if (sector < 0 || sector >= sectors || classic.block < 0) {
        event.readResult = E_INVALIDARG;
        return false;
    }
    const int blocks = sectors < 32 ? sectors * 4 : (sectors - 24) * 16;
    const int block = sector < 32 ? sector * 4 + classic.block % 4 : (sector - 24) * 16 + classic.block % 16;
    if (block >= blocks) {
        event.readResult = E_INVALIDARG;
        return false;
    }
    // 4. The key into the reader's volatile slot 0.
    BYTE load[11] = {0xFF, 0x82, 0x00, 0x00, 0x06};
    std::copy(classic.key.bytes, classic.key.bytes + 6, load + 5);
    BYTE reply[4];
    DWORD length = sizeof reply;
    if (!Transmit(load, sizeof load, reply, &length)) {
        event.readResult = m_lastError;
        return false;
    }
    LogInfo(L"The MC authorization key \"%s\" is loaded into the reader",
            HexBlanks(classic.key.bytes, classic.key.length).c_str());
    // 5. Authentication of the block's sector.
    const bool keyB = (classic.flags & MIFARE_KEY_B) != 0;
    const wchar_t letter = keyB ? L'B' : L'A';
    const BYTE authenticate[10] = {0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, static_cast<BYTE>(block),
                                   static_cast<BYTE>(keyB ? 0x61 : 0x60), 0x00};
    length = sizeof reply;
    if (!Transmit(authenticate, sizeof authenticate, reply, &length)) {
        if (m_lastErrorText.empty())
            m_lastErrorText = MessageText(m_lastError);
        LogError(L"MC authorization error at address %d and key %c (code 0x%.8X): %s", block, letter,
                 static_cast<unsigned>(m_lastError), m_lastErrorText.c_str());
        event.readResult = m_lastError;
        return false;
    }
    LogInfo(L"Authorized by the MC at %d and the key %c", block, letter);
    // 6. The block.
    BYTE buffer[32];
    length = sizeof buffer;
    if (!ReadCardPage(block, buffer, &length)) {
        event.readResult = m_lastError;
        return false;
    }
    event.data = KeyOf(buffer, length);
    event.readResult = S_OK;
    return true;
}

bool CCcidConnection::ReadCardPage(int block, BYTE* buffer, DWORD* length)
{
    const BYTE command[5] = {0xFF, 0xB0, 0x00, static_cast<BYTE>(block), 0x10};
    if (!Transmit(command, sizeof command, buffer, length))
        return false;
    *length -= 2;
    LogInfo(L"> (%d, %d) %s", block, static_cast<int>(*length), HexBlanks(buffer, *length).c_str());
    return true;
}

bool CCcidConnection::Transmit(const BYTE* command, DWORD length, BYTE* reply, DWORD* replyLength)
{
    const LONG rc = SCardTransmit(m_card, m_pci, command, length, nullptr, reply, replyLength);
    const DWORD n = *replyLength;
    if (rc != SCARD_S_SUCCESS) {
        SetError(rc, CodeText(rc));
    } else if (n < 2) {
        SetError(KV_E_INVALID_RESPONSE, MessageText(KV_E_INVALID_RESPONSE));
    } else if (reply[n - 2] != 0x90 || reply[n - 1] != 0x00) {
        // The status bytes as a little-endian word: 6A 82 reads 0x826A.
        std::wstring text;
        FormatString(text, L"0x%04X", static_cast<unsigned>(reply[n - 2] | (reply[n - 1] << 8)));
        SetError(E_FAIL, text);
    } else {
        SetError(S_OK, std::wstring());
        LogInfo(L"<< (%d) %s", static_cast<int>(length), HexBlanks(command, length).c_str());
        LogInfo(L">> (%d) %s", static_cast<int>(n), HexBlanks(reply, n).c_str());
        return true;
    }
    if (m_lastErrorText.empty())
        m_lastErrorText = MessageText(m_lastError);
    LogError(L"Function \"%s\" error %d: %s", L"SCardTransmit", static_cast<int>(m_lastError), m_lastErrorText.c_str());
    return false;
}

void CCcidConnection::SetError(HRESULT code, const std::wstring& text)
{
    m_lastError = code;
    m_lastErrorText = text;
}

// ---- Log ----

CAppContext* CCcidConnection::LogApp(int threshold)
{
    CAppContext* app = m_app ? m_app : GetAppContext();
    return app && app->IsLogged(threshold) ? app : nullptr;
}

void CCcidConnection::LogInfo(const wchar_t* format, ...)
{
    CAppContext* app = LogApp(LOG_THRESHOLD_TRACE);
    if (!app)
        return;
    std::wstring text;
    va_list args;
    va_start(args, format);
    FormatStringV(text, format, args);
    va_end(args);
    LogMessage(app, this, LOG_INFO, L"%s", text.c_str());
}

void CCcidConnection::LogError(const wchar_t* format, ...)
{
    CAppContext* app = LogApp(LOG_THRESHOLD_ERROR);
    if (!app)
        return;
    std::wstring text;
    va_list args;
    va_start(args, format);
    FormatStringV(text, format, args);
    va_end(args);
    LogMessage(app, this, LOG_ERROR, L"%s", text.c_str());
}
