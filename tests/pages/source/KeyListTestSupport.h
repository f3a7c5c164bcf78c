#pragma once
// Shared pieces of the table and key list import and export tests: a settings document with
// its key list, files in a fresh folder, and in-memory tables that play a spreadsheet.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../support/TempFolder.h"
#include "config/AppSettings.h"
#include "core/File.h"
#include "core/TextUtil.h"
#include "pages/source/KeyListIo.h"

namespace keylist_test {

inline const KeyTypeNameList kKeyTypeNames = {
    L"Unknown", L"Em-Marine", L"HID", L"iCode", L"Cod433 (QM-100)", L"Cod433 Fix (QM-100)", L"CAME", L"Dallas",
    L"Temic (T5557)", L"Mifare UltraLight", L"Mifare Classic 1K", L"Mifare Classic 2K", L"Mifare Classic 4K",
    L"Mifare Plus", L"Mifare Plus 1K", L"Mifare Plus 2K", L"Mifare Plus 4K", L"Smart MX with MIFARE 1K",
    L"Smart MX with MIFARE 4K", L"Mifare DESFire", L"Mifare ProX", L"Mifare Mini"};

inline std::string ReadBytes(const std::wstring& path)
{
    CFile f;
    if (!f.Open(path.c_str(), CFile::modeRead | CFile::shareRead))
        return "<missing>";
    std::string data(static_cast<size_t>(f.GetLength()), '\0');
    if (!data.empty())
        data.resize(f.Read(data.data(), static_cast<UINT>(data.size())));
    return data;
}

inline void WriteBytes(const std::wstring& path, const std::string& data)
{
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    if (!data.empty())
        f.Write(data.data(), static_cast<UINT>(data.size()));
}

// The names in a folder (temporary files left behind show here).
inline std::vector<std::wstring> FolderNames(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    CFindFile find;
    for (bool more = find.FindFirst((folder + L"\\*").c_str()); more; more = find.FindNext())
        if (!find.IsDots())
            names.push_back(find.GetFileName());
    return names;
}

inline std::wstring Ansi(const std::string& bytes)
{
    return MultiByteToWString(bytes, CP_ACP);
}

// A table held in memory, as a spreadsheet back-end would read it.
class CMemoryTableImport : public CBTableImport
{
public:
    explicit CMemoryTableImport(std::vector<std::vector<std::wstring>> rows) : m_rows(std::move(rows)) {}
    void Open(const wchar_t*) override
    {
        m_columnCount = m_rows.empty() ? 0 : static_cast<int>(m_rows[0].size());
        m_rowCount = static_cast<int>(m_rows.size());
        m_row = m_column = 0;
    }
    bool MoveColumn(int relative) override
    {
        if (m_column + relative < 0 || m_column + relative >= m_columnCount)
            return false;
        m_column += relative;
        return true;
    }
    bool NextRow() override
    {
        if (m_row + 1 >= m_rowCount)
            return false;
        ++m_row;
        m_column = 0;
        return true;
    }
    bool GetText(std::wstring& out) override
    {
        const auto& row = m_rows[m_row];
        out = static_cast<size_t>(m_column) < row.size() ? row[m_column] : L"";
        return true;
    }
    bool GetDouble(double& out) override { return GetText(m_cell) && TableTextToDouble(m_cell, out); }
    bool GetInt64(int64_t& out) override { return GetText(m_cell) && TableTextToInt64(m_cell, out); }

private:
    std::vector<std::vector<std::wstring>> m_rows;
    std::wstring m_cell;
};

// Records what an export writes, row by row.
class CMemoryTableExport : public CBTableExport
{
public:
    void Create(int columns, int rows, const wchar_t*) override
    {
        m_columnCount = columns;
        m_rowCount = rows;
        current.assign(static_cast<size_t>(columns), L"");
    }
    bool PutInt64(int64_t value) override { return PutText(Int64ToWString(value).c_str()); }
    bool PutText(const wchar_t* text) override
    {
        if (m_column >= m_columnCount)
            return false;
        current[m_column++] = text;
        return true;
    }
    bool EndRow() override
    {
        if (m_row >= m_rowCount)
            return false;
        rows.push_back(current);
        current.assign(static_cast<size_t>(m_columnCount), L"");
        ++m_row;
        m_column = 0;
        return true;
    }
    void Flush() override {}
    void Close(bool discard) override { closed = discard ? "discarded" : "kept"; }

    std::vector<std::vector<std::wstring>> rows;
    std::vector<std::wstring> current;
    std::string closed;
};

class KeyListFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings.SetDataFolder(folder.Path(), false);
        token = Doc().Observe(this, [](void* key, CDocument*, const uint32_t*) {
            ++static_cast<KeyListFixture*>(key)->notifications;
        });
    }

    CTransferDoc& Doc() { return settings.GetTransferDoc(); }
    KeyListIoContext Context() { return {settings, Doc(), kKeyTypeNames}; }
    std::wstring File(const wchar_t* name) const { return folder.File(name); }

    // Entries "type:HEX" (hexadecimal last byte first).
    void AddKeys(const std::vector<std::wstring>& keys)
    {
        for (const std::wstring& text : keys) {
            _KV_KEY entry;
            const size_t colon = text.find(L':');
            entry.keyType = std::stoi(text.substr(0, colon));
            ParseKeyText(text.substr(colon + 1), KEY_TEXT_HEX, entry.keyNumber);
            Doc().AddKey(entry);
        }
        notifications = 0;
    }
    std::vector<std::wstring> List()
    {
        std::vector<std::wstring> keys;
        for (const KvKeyPtr& entry : Doc().GetKeys()) {
            std::wstring hex;
            KeyToHex(hex, entry->keyNumber);
            keys.push_back(std::to_wstring(entry->keyType) + L":" + hex);
            EXPECT_EQ(entry->flags & KVKEY_DELETE, 0u) << "a delete mark stays behind";
        }
        return keys;
    }
    KeyListView AllShown(std::vector<int> columns = {0, 1, 2, 3, 4, 5})
    {
        return {Doc().GetKeys(), std::move(columns)};
    }

    CTempFolder folder;
    CAppSettings settings;
    CObserverToken token;
    int notifications = 0;
};

}  // namespace keylist_test
