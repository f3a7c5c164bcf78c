#pragma once
// The event table "EventLog.dbf": a dBASE III ring of at most a set number of events.
// Record 0 holds the ring position (the record the next event goes to) in its ATTR field,
// records 1 onward the events; once the ring is full the oldest event is overwritten.
// UI thread only.
#include <windows.h>
#include <cstdint>
#include <ctime>
#include <string>

#include "core/Dbf.h"
#include "core/Object.h"

constexpr int32_t kEventLogNoLimit = 2147483647;

extern const wchar_t kEventLogFileName[];   // "EventLog.dbf"

// Event levels (the TYPE letters I, W, E; 0 is written as a blank).
enum EventLevel : int
{
    EVENT_NONE = 0,
    EVENT_INFO = 1,
    EVENT_WARNING = 2,
    EVENT_ERROR = 3,
};

struct _EVENT_RECORD
{
    __time64_t time = 0;        // seconds since 1970; 0 when the record has no date
    int level = EVENT_NONE;
    int32_t stringId = 0;
    std::wstring attribute;
    std::wstring message;
};

class CEventLogDb : public CObject
{
public:
    // Field numbers of the table.
    enum Field { fieldDate, fieldTime, fieldType, fieldStrId, fieldAttr, fieldMsg, fieldMsg2, fieldCount };
    static constexpr int kAttrLength = 32;
    static constexpr int kMsgLength = 255;
    static constexpr int kMaxMessage = 2 * kMsgLength;

    CEventLogDb() = default;
    CEventLogDb(const CEventLogDb&) = delete;
    CEventLogDb& operator=(const CEventLogDb&) = delete;
    // Never fails: a table that cannot be written back at exit is closed all the same.
    ~CEventLogDb() override { Close(); }

    bool IsOpen() const { return m_table.IsOpen(); }
    const std::wstring& GetPath() const { return m_path; }

    // The maximum number of event records; set before Open and before ApplyMaxRecords.
    int32_t GetRecordLimit() const { return m_recordLimit; }
    void SetRecordLimit(int32_t limit) { m_recordLimit = limit; }

    // Opens the table at path, or creates it anew when the file is missing or is not an
    // event table (then it is replaced without a message). Errors of the file itself
    // (locked, no folder) throw CFileException and leave the table closed.
    void Open(const std::wstring& path);
    // Writes a changed record back, closes the file and frees the record buffer.
    void Close() noexcept;

    // Writes one event at the ring position; returns the number of its record.
    int AddEvent(const _EVENT_RECORD& event);
    // Decodes the current record (chosen with GetTable().ReadRecord).
    void ReadEvent(_EVENT_RECORD& event) const;
    // Reads record n and decodes it.
    void ReadEvent(int n, _EVENT_RECORD& event);
    // Empties the table: only the header record remains, position 1.
    void Clear();
    // Keeps the newest events that fit the maximum, oldest in record 1.
    void ApplyMaxRecords();
    // Stores an event into the record buffer (not written).
    void WriteEventFields(const _EVENT_RECORD& event);

    // The record the next event goes to (1-based).
    int32_t GetRingPosition() const { return m_position; }
    // The number of event records (the header record not counted); 0 while closed.
    uint32_t GetEventCount() const;

    CDbf& GetTable() { return m_table; }
    const CDbf& GetTable() const { return m_table; }

    // The seven field descriptors of a new table.
    static const DbfFieldDescriptor* GetFieldDescriptors();

private:
    struct FieldTexts
    {
        std::wstring text[fieldCount];
    };
    // The field texts of an event; throws CDbfException "Bad Value" for one the table cannot
    // hold, before anything is stored.
    FieldTexts PrepareFields(const _EVENT_RECORD& event) const;
    void StoreFields(const FieldTexts& fields);

    // The maximum as the ring uses it: never below 1.
    int32_t Maximum() const { return m_recordLimit < 1 ? 1 : m_recordLimit; }
    bool HasEventLayout() const;
    void CreateNew();
    void WritePosition();
    void ReadPositionFromHeader();
    void ClampPosition();
    void MarkDeleted(uint32_t first, uint32_t last);

    CDbf m_table;
    int32_t m_position = 1;
    int32_t m_recordLimit = kEventLogNoLimit;
    std::wstring m_path;
};
