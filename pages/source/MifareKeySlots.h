#pragma once
// The 32 key slots of the reader's memory as the Mifare pages keep them (the transfer
// document's Classic and Plus key lists): the key texts, the rows of the slot list, and the
// slots written to and read from CSV.
#include <windows.h>
#include <commctrl.h>
#include <cstdint>
#include <string>
#include <vector>

#include "config/KeyNumber.h"
#include "framework/ListCtrl.h"

class CTransferDoc;

// A Classic key is 6 bytes, a Plus key 16.
int MifareKeyLength(bool plus);
_KEY_NUMBER DefaultMifareKey(bool plus);

// The hex digits with the last pair as byte 0; false (key unchanged) when no pair was read.
// The key gets the card kind's length (Classic 6, Plus 16 bytes), the bytes beyond the digits
// zero.
bool ParseMifareClassicKey(const std::wstring& text, _KEY_NUMBER& key);
bool ParseMifarePlusKey(const std::wstring& text, _KEY_NUMBER& key);
// Upper-case hex, last byte first, two digits a byte of the key's length.
std::wstring MifareKeyText(const _KEY_NUMBER& key);

// The rows of the slot list: always 32, checked by the slot mask.
class CMCKeysViewData : public CVirtualListViewData
{
public:
    int GetItemCount() override { return 32; }
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int from, int to) override;
    void FillCache();
    // "Cell #0" with keys hidden, "#1: 3C917A5E08D4" (or "?" for an empty slot) with keys shown.
    std::wstring FormatSlotRow(int slot) const;

    const std::vector<_KEY_NUMBER>* keys = nullptr;
    uint32_t checkedMask = 0;
    bool showKeys = false;

private:
    struct Row
    {
        std::wstring text;
        int slot = 0;
    };
    std::vector<Row> m_cache;
    int m_first = -1;
    int m_count = -1;
    Row m_scratch;
};
using CMPKeysViewData = CMCKeysViewData;

// Writes the header "#", "Key", "Flag" and one record per slot (0 to 31): the slot number, its
// key (empty when none) and its mask bit. Encoding 2 is UTF-8 with a byte-order mark, else the
// ANSI code page. The file is replaced only when written whole; failures throw CFileException.
void ExportMifareKeySlots(const std::wstring& path, const std::vector<_KEY_NUMBER>& keys, uint32_t mask,
                          wchar_t delimiter, int encoding);

// Reads the slots of a CSV file into the Classic (or Plus) list and mask, in one update scope
// of the document. The file is read whole first: an unreadable file throws CFileException and
// changes nothing. replace empties the list first. A Classic file whose first numbered record
// is 1 counts from 1 with first-pair-first keys; every other file counts from 0 with
// last-pair-first keys. Returns how many records were skipped because their key has more digits
// than a key of the card kind holds.
int ImportMifareClassicKeys(CTransferDoc& doc, const std::wstring& path, wchar_t delimiter, int encoding,
                            bool replace);
int ImportMifarePlusKeys(CTransferDoc& doc, const std::wstring& path, wchar_t delimiter, int encoding, bool replace);
