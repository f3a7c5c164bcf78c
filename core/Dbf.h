#pragma once
// dBASE III table: a 32-byte header, 32-byte field descriptors, fixed-length records. One
// current record lives in a buffer that is written back when it was changed. Text of tables
// marked with the language byte '&' is stored in code page 866.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/File.h"
#include "core/Object.h"

#pragma pack(push, 1)
struct DbfHeader {
    uint8_t version;        // 3
    uint8_t year;           // of the last update, minus 1900
    uint8_t month;
    uint8_t day;
    uint32_t recordCount;
    uint16_t headerLength;  // 32 + 32 per field + 1
    uint16_t recordLength;  // 1 + the field lengths
    uint8_t reserved1[17];
    uint8_t language;       // '&' code page 866, 'W' ANSI
    uint8_t reserved2[2];
};

struct DbfFieldDescriptor {
    char name[11];          // zero-padded; ANSI in memory, code page 866 in the file
    char type;              // 'C', 'D', 'F', 'L', 'N'
    uint8_t reserved1[4];
    uint8_t length;
    uint8_t decimals;
    uint8_t reserved2[14];
};
#pragma pack(pop)
static_assert(sizeof(DbfHeader) == 32 && sizeof(DbfFieldDescriptor) == 32, "dBASE layout");

// A descriptor with the name cut to 10 characters.
DbfFieldDescriptor MakeDbfField(const char* name, char type, uint8_t length, uint8_t decimals = 0);

class CDbf : public CObject {
public:
    enum CodeMode { codeNone = 0, codeAnsi = 1, codeOem = 2 };
    static constexpr uint8_t kLanguageOem = 0x26;    // '&'
    static constexpr uint8_t kLanguageAnsi = 0x57;   // 'W'
    static constexpr int kCreateFieldCount = 7;
    static constexpr unsigned kOemCodePage = 866;

    CDbf() = default;
    CDbf(const CDbf&) = delete;
    CDbf& operator=(const CDbf&) = delete;
    // Closes the file; a changed buffer is not written (callers flush).
    ~CDbf() override;

    // Creates (or truncates) a table of exactly seven fields marked '&'.
    void Create(const std::wstring& path, const DbfFieldDescriptor fields[kCreateFieldCount]);
    // Opens an existing table; a header that does not describe the file is refused with
    // CDbfException, records past a truncation are not counted.
    void Open(const std::wstring& path, bool readOnly);
    // Closes without writing the buffer.
    void Close();
    bool IsOpen() const { return m_file.IsOpen(); }
    // The open table's header counts more records than the file holds whole.
    bool IsCutShort() const { return m_cutShort; }

    // Flushes a changed buffer first; makes record n current. Returns the bytes read.
    unsigned ReadRecord(int n);
    void FlushRecord();
    // Appends n blank records; the last one becomes current.
    void AppendBlankRecords(int n);
    // Copies the run of n records at the current record to positions 1 .. n (from record 0:
    // shifts records 0 .. n-1 one place up). Needs a current record.
    void MoveRecords(int n);
    // Drops the records marked deleted and shortens the file.
    void Pack();
    // Copies record `from` over the existing record `to`, which becomes current.
    void CopyRecord(int from, int to);
    // Keeps the first count records and cuts the file after them; no record is current.
    void Truncate(uint32_t count);

    // Field i (0-based) of the buffer; throws CDbfException "Bad Value" for a text that does
    // not fit or a bad date or number. The narrow form takes ANSI text.
    void SetFieldValue(int i, const char* text);
    void SetFieldValue(int i, const std::wstring& text);
    // Returns the length; 0 when the value does not fit the room (room includes the zero).
    int GetFieldValue(int i, char* out, int room) const;
    int GetFieldValue(int i, std::wstring& out) const;
    // Deletion mark of the current record's buffer.
    void SetRecordDeleted(bool deleted);
    bool IsRecordDeleted() const { return !m_record.empty() && m_record[0] == '*'; }

    const DbfHeader& GetHeader() const { return m_header; }
    uint32_t GetRecordCount() const { return m_header.recordCount; }
    int GetFieldCount() const { return static_cast<int>(m_fields.size()); }
    const DbfFieldDescriptor& GetField(int i) const { return m_fields.at(i); }
    const std::vector<DbfFieldDescriptor>& GetFields() const { return m_fields; }
    int GetCurrentRecord() const { return m_current; }
    int GetCodeMode() const { return m_codeMode; }
    bool IsDirty() const { return m_dirty; }
    std::wstring GetPath() const { return m_path; }
    const std::vector<uint8_t>& GetRecordBuffer() const { return m_record; }

    // Checks the header image (the first size bytes of a file of fileLength bytes) and
    // takes the header and the descriptors (names as stored) from it. The record count is
    // cut to the whole records the file holds. False when the header contradicts itself
    // or the file.
    static bool ParseHeaderImage(const uint8_t* data, size_t size, ULONGLONG fileLength, DbfHeader& header,
                                 std::vector<DbfFieldDescriptor>& fields);

private:
    void Validate(ULONGLONG fileLength);
    void WriteHeader();
    void WriteHeaderImage();
    void WriteRecordAt(uint32_t n);
    ULONGLONG RecordOffset(uint32_t n) const;
    int FieldOffset(int i) const;
    const DbfFieldDescriptor& CheckedField(int i) const;
    void SetFieldBytes(int i, std::string bytes);
    std::string TrimmedField(int i) const;
    std::string FieldText(int i) const;
    [[noreturn]] void ThrowBadValue() const;
    [[noreturn]] void ThrowDamaged() const;
    void Reset();

    CFile m_file;
    DbfHeader m_header = {};
    std::vector<DbfFieldDescriptor> m_fields;
    int m_current = -1;
    int m_codeMode = codeNone;
    bool m_dirty = false;
    bool m_cutShort = false;
    std::vector<uint8_t> m_record;
    std::vector<int> m_offsets;     // of each field inside a record
    std::wstring m_path;
};
