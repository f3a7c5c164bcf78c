#pragma once
// The event table object as the settings document holds it: constructed with its file
// closed, opened and written by the application shell. Only what the settings document
// needs lives here so far; the table's operations come with the shell's side of it.
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Dbf.h"
#include "core/Object.h"

constexpr int32_t kEventLogNoLimit = 2147483647;

class CEventLogDb : public CObject
{
public:
    CEventLogDb() = default;
    CEventLogDb(const CEventLogDb&) = delete;
    CEventLogDb& operator=(const CEventLogDb&) = delete;
    // Never fails: a table that cannot be written back at exit is closed all the same.
    ~CEventLogDb() override { Close(); }

    bool IsOpen() const { return m_table.IsOpen(); }
    const std::wstring& GetPath() const { return m_path; }
    int32_t GetRecordLimit() const { return m_recordLimit; }

    // Writes a changed record back, then closes the file and frees the record buffer.
    void Close() noexcept
    {
        if (m_table.IsOpen()) {
            try {
                m_table.FlushRecord();
            } catch (...) {
                // Closing at exit has nobody to tell but the debugger; the header stays valid.
                OutputDebugStringA("Event table: the last record could not be written back\n");
            }
            m_table.Close();
        }
        m_record.clear();
        m_record.shrink_to_fit();
    }

private:
    CDbf m_table;
    std::vector<uint8_t> m_record;
    std::wstring m_path;
    int32_t m_recordLimit = kEventLogNoLimit;
};
