#include "pages/source/MifareKeySlots.h"

#include <algorithm>
#include <cwchar>
#include <string_view>

#include "config/TransferDoc.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "core/TextUtil.h"
#include "pages/CsvTable.h"
#include "resources/ids_pages.h"

namespace {

constexpr int kClassicKeyLength = 6;
constexpr int kPlusKeyLength = 16;

// What a key edit holds: up to 16 bytes read, the last pair as byte 0, the first keyLength of
// them kept. False (key unchanged) when no pair was read.
bool ParseKeyOfLength(const std::wstring& text, int keyLength, _KEY_NUMBER& key)
{
    BYTE bytes[16] = {};
    if (HexToBytesReversed(text.c_str(), -1, bytes, 16) == 0)
        return false;
    key = MakeKeyNumber(bytes, static_cast<size_t>(keyLength));
    return true;
}

// Hex digits into a key of the card kind's length. False when the text holds no pair, or more
// digits than such a key has (the reader would take a wrong key).
bool ReadKeyDigits(const std::wstring& text, bool reversed, int keyLength, _KEY_NUMBER& key)
{
    BYTE bytes[KEY_NUMBER_MAX_BYTES + 1] = {};
    const int read = reversed ? HexToBytesReversed(text.c_str(), -1, bytes, KEY_NUMBER_MAX_BYTES + 1)
                              : HexToBytes(text.c_str(), -1, bytes, KEY_NUMBER_MAX_BYTES + 1);
    if (read == 0 || read > keyLength)
        return false;
    key = MakeKeyNumber(bytes, static_cast<size_t>(keyLength));
    return true;
}

int ImportKeySlots(CTransferDoc& doc, bool plus, const std::wstring& path, wchar_t delimiter, int encoding,
                   bool replace)
{
    // Everything is read before the list is touched: a file that fails leaves it as it was.
    bool utf8 = encoding == 2;
    std::wstring text;
    ReadTextFile(path, utf8, text);

    const MifareReadSettings& settings = plus ? doc.readKeys.plus : doc.readKeys.classic;
    std::vector<_KEY_NUMBER> keys = replace ? std::vector<_KEY_NUMBER>() : (plus ? doc.GetMifarePlusKeys()
                                                                                 : doc.GetMifareClassicKeys());
    keys.reserve(kMifareKeySlots);
    uint32_t mask = settings.mask;
    const int keyLength = MifareKeyLength(plus);

    std::wstring_view rest = text;
    const std::wstring defaultSeparator = CsvSeparatorFromChar(delimiter);
    std::wstring separator;
    std::vector<std::wstring> cells;
    bool numberingFixed = false, oneBased = false;
    int skipped = 0;
    while (NextCsvRecord(rest, defaultSeparator, cells, separator, true)) {
        if (cells.empty())
            continue;
        const wchar_t* first = cells[0].c_str();
        wchar_t* end = nullptr;
        long number = std::wcstol(first, &end, 10);
        if (number == 0 && end == first)
            continue;  // a header such as "#"
        if (!numberingFixed) {
            numberingFixed = true;
            oneBased = !plus && number == 1;
        }
        if (oneBased)
            --number;

        _KEY_NUMBER key{};
        if (cells.size() >= 2 && !cells[1].empty() && !ReadKeyDigits(cells[1], !oneBased, keyLength, key)) {
            ++skipped;
            continue;
        }
        if (number < 0 || number >= kMifareKeySlots)
            continue;
        const size_t slot = static_cast<size_t>(number);
        if (key.length != 0) {
            if (keys.size() <= slot)
                keys.resize(slot + 1);
            keys[slot] = key;
        } else if (!replace) {
            continue;
        }
        if (cells.size() >= 3 && !cells[2].empty()) {
            if (cells[2] == L"0")
                mask &= ~(1u << slot);
            else
                mask |= 1u << slot;
        }
    }

    CDocUpdateScope scope(doc);
    if (plus) {
        doc.MifarePlusKeys().swap(keys);
        doc.SetMifarePlusMask(mask);
        doc.MifarePlusKeysChanged();
    } else {
        doc.MifareClassicKeys().swap(keys);
        doc.SetMifareClassicMask(mask);
        doc.MifareClassicKeysChanged();
    }
    return skipped;
}

}  // namespace

int MifareKeyLength(bool plus)
{
    return plus ? kPlusKeyLength : kClassicKeyLength;
}

_KEY_NUMBER DefaultMifareKey(bool plus)
{
    return plus ? DefaultMifarePlusKey() : DefaultMifareClassicKey();
}

bool ParseMifareClassicKey(const std::wstring& text, _KEY_NUMBER& key)
{
    return ParseKeyOfLength(text, kClassicKeyLength, key);
}

bool ParseMifarePlusKey(const std::wstring& text, _KEY_NUMBER& key)
{
    return ParseKeyOfLength(text, kPlusKeyLength, key);
}

std::wstring MifareKeyText(const _KEY_NUMBER& key)
{
    wchar_t digits[2 * KEY_NUMBER_MAX_BYTES + 1] = {};
    BytesToHexReversed(key.bytes, std::min<int>(key.length, KEY_NUMBER_MAX_BYTES), digits, static_cast<int>(std::size(digits)));
    return digits;
}

// ---- CMCKeysViewData

std::wstring CMCKeysViewData::FormatSlotRow(int slot) const
{
    std::wstring row;
    if (!showKeys) {
        FormatResString(row, IDS_MFKEYS_CELL, slot);
        return row;
    }
    std::wstring key = L"?";
    if (keys && slot >= 0 && static_cast<size_t>(slot) < keys->size() && (*keys)[static_cast<size_t>(slot)].length != 0)
        key = MifareKeyText((*keys)[static_cast<size_t>(slot)]);
    FormatResString(row, IDS_MFKEYS_ROW, slot + 1, key.c_str());
    return row;
}

void CMCKeysViewData::GetDispInfo(LVITEMW* item)
{
    Row* row = nullptr;
    if (m_first >= 0 && item->iItem >= m_first && item->iItem < m_first + static_cast<int>(m_cache.size())) {
        row = &m_cache[static_cast<size_t>(item->iItem - m_first)];
    } else {
        m_scratch.slot = item->iItem;
        m_scratch.text = FormatSlotRow(item->iItem);
        row = &m_scratch;
    }
    if ((item->mask & LVIF_TEXT) && item->iSubItem == 0)
        item->pszText = row->text.data();
    if (item->mask & LVIF_STATE) {
        item->state = (checkedMask & (1u << (row->slot & 31))) ? 0x2000 : 0x1000;
        item->stateMask |= LVIS_STATEIMAGEMASK;
    }
}

void CMCKeysViewData::CacheHint(int from, int to)
{
    if (m_first >= 0 && from >= m_first && to < m_first + m_count)
        return;
    m_cache.clear();
    m_first = m_count = -1;
    if (to - from + 1 <= 0)
        return;
    m_first = from;
    m_count = to - from + 1;
    FillCache();
}

void CMCKeysViewData::FillCache()
{
    if (m_first < 0 || m_count <= 0)
        return;
    const int n = std::max(0, std::min(m_count, 32 - m_first));
    m_cache.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        m_cache[static_cast<size_t>(i)].slot = m_first + i;
        m_cache[static_cast<size_t>(i)].text = FormatSlotRow(m_first + i);
    }
}

// ---- CSV

void ExportMifareKeySlots(const std::wstring& path, const std::vector<_KEY_NUMBER>& keys, uint32_t mask,
                          wchar_t delimiter, int encoding)
{
    CCsvTableExport table;
    table.SetSeparator(CsvSeparatorFromChar(delimiter));
    table.SetUtf8(encoding == 2);
    table.Create(3, kMifareKeySlots + 1, path.c_str());
    table.PutText(L"#");
    table.PutText(L"Key");
    table.PutText(L"Flag");
    table.EndRow();
    for (int slot = 0; slot < kMifareKeySlots; ++slot) {
        const size_t i = static_cast<size_t>(slot);
        table.PutInt64(slot);
        table.PutText(i < keys.size() && keys[i].length != 0 ? MifareKeyText(keys[i]).c_str() : L"");
        table.PutText((mask & (1u << slot)) ? L"1" : L"0");
        table.EndRow();
    }
    table.Close(false);
}

int ImportMifareClassicKeys(CTransferDoc& doc, const std::wstring& path, wchar_t delimiter, int encoding, bool replace)
{
    return ImportKeySlots(doc, false, path, delimiter, encoding, replace);
}

int ImportMifarePlusKeys(CTransferDoc& doc, const std::wstring& path, wchar_t delimiter, int encoding, bool replace)
{
    return ImportKeySlots(doc, true, path, delimiter, encoding, replace);
}
