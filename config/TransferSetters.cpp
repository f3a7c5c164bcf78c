// The setters of the transfer document: each compares, stores and raises its change bit.
#include <cstring>
#include "config/TransferDoc.h"

namespace {

template <class T, class V>
bool SameValue(const T& member, const V& value)
{
    return member == value;
}

// Keys are compared as whole records, so a change of a byte beyond the length counts too
// (the record is what the reader receives).
bool SameValue(const _KEY_NUMBER& member, const _KEY_NUMBER& value)
{
    return std::memcmp(&member, &value, sizeof(_KEY_NUMBER)) == 0;
}

}  // namespace

template <class T, class V>
bool CTransferDoc::ChangeValue(T& member, const V& value, uint32_t change, bool markUnsaved)
{
    if (SameValue(member, value))
        return false;
    CDocUpdateScope scope(*this, GetCurrentSender());
    member = value;
    RaiseChange(change, 0, markUnsaved);
    return true;
}

void CTransferDoc::SetSource(const std::wstring& value, int32_t kind)
{
    if (value == m_sourceValue && kind == m_sourceKind)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_sourceValue = value;
    m_sourceKind = kind;
    RaiseChange(TDC_SOURCE, 0, IsSavedPart(SAVED_SOURCE));
}

void CTransferDoc::SetDestination(const std::wstring& text, int32_t type)
{
    if (text == m_destText && type == m_destType)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_destText = text;
    m_destType = type;
    RaiseChange(TDC_DESTINATION, 0, IsSavedPart(SAVED_DESTINATION));
}

void CTransferDoc::SetReaderSpeed(uint32_t value) { ChangeValue(m_reader.speed, value, TDC_READER, true); }
void CTransferDoc::SetReaderStopBits(uint8_t value) { ChangeValue(m_reader.stopBits, value, TDC_READER, true); }
void CTransferDoc::SetConnectTimeout(int32_t ms) { ChangeValue(m_reader.connectTimeout, ms, TDC_READER, true); }
void CTransferDoc::SetCheckInPeriod(int32_t ms) { ChangeValue(m_reader.checkInPeriod, ms, TDC_READER, true); }
void CTransferDoc::SetReceiveTimeout(int32_t ms) { ChangeValue(m_reader.receiveTimeout, ms, TDC_READER, true); }
void CTransferDoc::SetMaxTries(int32_t count) { ChangeValue(m_reader.maxTries, count, TDC_READER, true); }
void CTransferDoc::SetConnectPeriod(int32_t ms) { ChangeValue(m_reader.connectPeriod, ms, TDC_READER, true); }
void CTransferDoc::SetReaderFlags(uint32_t flags) { ChangeValue(m_reader.flags, flags, TDC_READER, true); }
void CTransferDoc::SetSearchFlags(uint32_t flags) { ChangeValue(m_reader.searchFlags, flags, TDC_READER, true); }

void CTransferDoc::SetSearchReceiveTimeout(int32_t ms)
{
    ChangeValue(m_reader.searchReceiveTimeout, ms, TDC_READER, true);
}

void CTransferDoc::SetSearchMaxTries(int32_t count) { ChangeValue(m_reader.searchMaxTries, count, TDC_READER, true); }

void CTransferDoc::SetKeyListSort(int32_t column)
{
    ChangeValue(keyListSort, column, TDC_KEYLIST_SORT, IsSavedPart(SAVED_KEYLIST));
}

void CTransferDoc::SetKeyListNoDuplicates(uint32_t flags)
{
    if (flags == keyListNoDuplicates)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    const bool switched = ((flags ^ keyListNoDuplicates) & 0x1) != 0;
    keyListNoDuplicates = flags;
    RaiseChange(switched ? TDC_KEYLIST_NODUPS : 0, 0, true);
}

void CTransferDoc::SetKeyListTimerEnabled(bool enabled)
{
    ChangeValue(keyListTimerEnabled, enabled, TDC_KEYLIST_TIMER, true);
}

void CTransferDoc::SetKeyListTimerInterval(int32_t ms)
{
    ChangeValue(keyListTimerInterval, ms, TDC_KEYLIST_TIMER, true);
}

void CTransferDoc::SetKeyboardMethod(int32_t method)
{
    if (method < KEYBOARD_METHOD_KEYSTROKES || method > KEYBOARD_METHOD_LIBRARY)
        return;
    ChangeValue(Keyboard().method, method, TDC_KEYBOARD, true);
}

void CTransferDoc::SetAfterActivateDelay(uint32_t ms) { ChangeValue(Keyboard().afterActivateDelay, ms, TDC_KEYBOARD, true); }
void CTransferDoc::SetAfterPressDelay(uint32_t ms) { ChangeValue(Keyboard().afterPressDelay, ms, TDC_KEYBOARD, true); }
void CTransferDoc::SetAfterReleaseDelay(uint32_t ms) { ChangeValue(Keyboard().afterReleaseDelay, ms, TDC_KEYBOARD, true); }
void CTransferDoc::SetKeyboardStartAdmin(bool admin) { ChangeValue(Keyboard().startAdmin, admin, TDC_KEYBOARD, true); }
void CTransferDoc::SetWindowFilterEnabled(bool enabled) { ChangeValue(Keyboard().filterEnabled, enabled, TDC_KEYBOARD, true); }
void CTransferDoc::SetWindowFilterClass(const std::wstring& mask) { ChangeValue(Keyboard().filterClass, mask, TDC_KEYBOARD, true); }
void CTransferDoc::SetWindowFilterTitle(const std::wstring& mask) { ChangeValue(Keyboard().filterTitle, mask, TDC_KEYBOARD, true); }
void CTransferDoc::SetWindowFilterFile(const std::wstring& mask) { ChangeValue(Keyboard().filterFile, mask, TDC_KEYBOARD, true); }

void CTransferDoc::SetPortavoType(int32_t type)
{
    if (type < PORTAVO_OFF || type > PORTAVO_SERVER)
        return;
    ChangeValue(Portavo().mode, type, TDC_PORTAVO, true);
}

void CTransferDoc::SetPortavoNvt(bool nvt) { ChangeValue(Portavo().nvt, nvt, TDC_PORTAVO, true); }

void CTransferDoc::SetPortavoServer(uint16_t port, int32_t maxConnections)
{
    _TRANS_DST_PORTAVO& p = Portavo();
    maxConnections = ClampMaxConnections(maxConnections);
    if (port == p.port && maxConnections == p.maxConnections)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    p.port = port;
    p.maxConnections = maxConnections;
    RaiseChange(TDC_PORTAVO, 0, true);
}

void CTransferDoc::SetPortavoClient(const std::wstring& address, int32_t connectPeriod)
{
    _TRANS_DST_PORTAVO& p = Portavo();
    if (address == p.address && connectPeriod == p.connectPeriod)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    p.address = address;
    p.connectPeriod = connectPeriod;
    RaiseChange(TDC_PORTAVO, 0, true);
}

void CTransferDoc::SetCmdLineProgram(const std::wstring& program) { ChangeValue(CmdLine().program, program, TDC_CMDLINE, true); }
void CTransferDoc::SetCmdLineArguments(const std::wstring& arguments) { ChangeValue(CmdLine().arguments, arguments, TDC_CMDLINE, true); }
void CTransferDoc::SetHttpAddress(const std::wstring& address) { ChangeValue(HttpRequest().address, address, TDC_HTTP, true); }

bool CTransferDoc::SetReadKeyTypes(uint32_t mask) { return ChangeValue(m_readKeys.keyTypes, mask, TDC_KEYTYPES, true); }
void CTransferDoc::SetVell4Mode(int32_t mode) { ChangeValue(m_readKeys.vell4Mode, mode, TDC_VELL4MODE, true); }

void CTransferDoc::SetMifareClassicEnabled(bool enabled)
{
    ChangeValue(m_readKeys.classic.enabled, enabled, TDC_MIFARE_CLASSIC | TDC_CARD_KIND_SWITCH, true);
}

void CTransferDoc::SetMifareClassicFlags(uint32_t flags) { ChangeValue(m_readKeys.classic.flags, flags, TDC_MIFARE_CLASSIC, true); }
void CTransferDoc::SetMifareClassicSector(int32_t sector) { ChangeValue(m_readKeys.classic.sector, sector, TDC_MIFARE_CLASSIC, true); }
void CTransferDoc::SetMifareClassicBlock(int32_t block) { ChangeValue(m_readKeys.classic.block, block, TDC_MIFARE_CLASSIC, true); }
void CTransferDoc::SetMifareClassicKey(const _KEY_NUMBER& key) { ChangeValue(m_readKeys.classic.key, key, TDC_MIFARE_CLASSIC, true); }
void CTransferDoc::SetMifareClassicMask(uint32_t mask) { ChangeValue(m_readKeys.classic.mask, mask, TDC_MIFARE_CLASSIC, true); }

void CTransferDoc::SetMifarePlusEnabled(bool enabled)
{
    ChangeValue(m_readKeys.plus.enabled, enabled, TDC_MIFARE_PLUS | TDC_CARD_KIND_SWITCH, true);
}

void CTransferDoc::SetMifarePlusFlags(uint32_t flags) { ChangeValue(m_readKeys.plus.flags, flags, TDC_MIFARE_PLUS, true); }
void CTransferDoc::SetMifarePlusSector(int32_t sector) { ChangeValue(m_readKeys.plus.sector, sector, TDC_MIFARE_PLUS, true); }
void CTransferDoc::SetMifarePlusBlock(int32_t block) { ChangeValue(m_readKeys.plus.block, block, TDC_MIFARE_PLUS, true); }
void CTransferDoc::SetMifarePlusKey(const _KEY_NUMBER& key) { ChangeValue(m_readKeys.plus.key, key, TDC_MIFARE_PLUS, true); }
void CTransferDoc::SetMifarePlusMask(uint32_t mask) { ChangeValue(m_readKeys.plus.mask, mask, TDC_MIFARE_PLUS, true); }

void CTransferDoc::SetMifareULEnabled(bool enabled)
{
    ChangeValue(m_readKeys.ultralight.enabled, enabled, TDC_MIFARE_UL | TDC_CARD_KIND_SWITCH, true);
}

void CTransferDoc::SetMifareULPage(int32_t page) { ChangeValue(m_readKeys.ultralight.page, page, TDC_MIFARE_UL, true); }
void CTransferDoc::SetMifareULCount(int32_t count) { ChangeValue(m_readKeys.ultralight.count, count, TDC_MIFARE_UL, true); }

void CTransferDoc::SetTemicEnabled(bool enabled)
{
    ChangeValue(m_readKeys.temic.enabled, enabled, TDC_TEMIC | TDC_CARD_KIND_SWITCH, true);
}

void CTransferDoc::SetTemicFlags(uint32_t flags) { ChangeValue(m_readKeys.temic.flags, flags, TDC_TEMIC, true); }

void CTransferDoc::MifareClassicKeysChanged()
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    RaiseChange(TDC_MIFARE_CKEYS, 0, IsSavedPart(SAVED_MIFARE_KEYS));
}

void CTransferDoc::MifarePlusKeysChanged()
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    RaiseChange(TDC_MIFARE_PKEYS, 0, IsSavedPart(SAVED_MIFARE_KEYS));
}

void CTransferDoc::SetFormatsSort(int32_t column)
{
    if (column == formatsSort)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    formatsSort = column;
    RaiseFormatsChange(TDF_FORMATS_SORT, true);
}

void CTransferDoc::SetDefaultFormatId(uint32_t id)
{
    if (id == defaultId)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    defaultId = id;
    RaiseFormatsChange(TDF_DEFAULT_ID, true);
}

void CTransferDoc::SetFormatsKeyFilter(uint32_t id)
{
    if (id == selectedKeyFilter)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    selectedKeyFilter = id;
    RaiseFormatsChange(TDF_SELECTED_FILTER, true);
}

void CTransferDoc::SetKeyFiltersSort(int32_t column)
{
    if (column == keyFiltersSort)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    keyFiltersSort = column;
    RaiseFormatsChange(TDF_KEY_FILTERS_SORT, IsSavedPart(SAVED_KEYFILTERS_SORT));
}
