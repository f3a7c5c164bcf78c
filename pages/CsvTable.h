#pragma once
// The CSV back-ends of the table interfaces, and the CSV dialect they share with the Mifare key
// pages: a record ends at CR, LF or CR LF outside quotes, a quoted cell doubles its quotes, and
// the separator of the data is detected from its first record.
#include <string>
#include <string_view>
#include <vector>

#include "core/File.h"
#include "pages/TableIo.h"

struct CsvOptions;

// What stands in for a separator that is empty (an "sList" of no text, a "delimiter" of 0):
// an empty separator would match everywhere and never move a reader on.
inline constexpr wchar_t kFallbackCsvSeparator[] = L";";
// The separator text of the settings' "csv" "delimiter" character.
std::wstring CsvSeparatorFromChar(wchar_t delimiter);

// Takes the next record off the front of buffer and splits it into cells. separator is kept
// between calls: while empty it is detected from the record, with defaultSeparator when that
// fails. atEnd says that buffer holds the rest of the data, so that a last line without a line
// break is a record too. False when no record is left: buffer is then empty (blank lines are
// skipped), or it holds a quoted part that never closes and stays as it was.
bool NextCsvRecord(std::wstring_view& buffer, const std::wstring& defaultSeparator, std::vector<std::wstring>& cells,
                   std::wstring& separator, bool atEnd);
// Reads the cell at cursor of one record and moves the cursor past its separator. False at
// the end of the record, and for a quoted cell the record ends inside (not a cell).
bool NextCsvField(std::wstring_view record, size_t& cursor, std::wstring& cell, const std::wstring& separator);
// The separator a record uses: the character after its first closing quote, else the one of
// ',', ';' and TAB it uses outside quotes. False for none or more than one of them.
bool DetectCsvSeparator(std::wstring_view record, std::wstring& separator);
// One record with CR LF, in UTF-8 or the ANSI code page, in one write. Cells holding the
// separator, a quote, CR or LF are quoted.
void WriteCsvRecord(CFile& file, const std::vector<std::wstring>& cells, const std::wstring& separator, bool utf8);

class CCsvTableImport : public CBTableImport
{
public:
    CCsvTableImport() = default;
    // The separator and the encoding the CSV settings give.
    explicit CCsvTableImport(const CsvOptions& options);
    CCsvTableImport(const CCsvTableImport&) = delete;
    CCsvTableImport& operator=(const CCsvTableImport&) = delete;

    // Before Open: the separator when the data does not show its own, and whether a file
    // without a byte-order mark is UTF-8 (else the ANSI code page).
    void SetDefaultSeparator(const std::wstring& separator) { m_defaultSeparator = separator; }
    void SetUtf8(bool utf8) { m_utf8 = utf8; }
    bool IsUtf8() const { return m_utf8; }
    // The separator detected from the first data record (empty before it was read).
    const std::wstring& GetDataSeparator() const { return m_dataSeparator; }

    // The whole file is read here; a quoted cell that never closes is reported by the call
    // that reaches it (CTableFileException).
    void Open(const wchar_t* fileName) override;
    bool NextRow() override;
    bool GetText(std::wstring& out) override;

private:
    bool ReadRecord(std::wstring& separator);

    std::wstring m_defaultSeparator = kFallbackCsvSeparator;
    bool m_utf8 = false;
    std::wstring m_path;
    std::vector<std::wstring> m_cells;
    std::wstring m_text;
    std::wstring_view m_rest;        // the unread part of m_text
    std::wstring m_dataSeparator;
};

class CCsvTableExport : public CBTableExport
{
public:
    // The separator is the user's list separator (ReadUserListSeparator); UTF-8 is on.
    CCsvTableExport();
    // The separator and the encoding the CSV settings give.
    explicit CCsvTableExport(const CsvOptions& options);
    // A table that was never closed is thrown away.
    ~CCsvTableExport() override;
    CCsvTableExport(const CCsvTableExport&) = delete;
    CCsvTableExport& operator=(const CCsvTableExport&) = delete;

    // Before Create.
    void SetSeparator(const std::wstring& separator) { m_separator = separator; }
    void SetUtf8(bool utf8) { m_utf8 = utf8; }
    const std::wstring& GetSeparator() const { return m_separator; }
    bool IsUtf8() const { return m_utf8; }

    // The table is written beside the file under a temporary name and takes the file's
    // place at Close(false), so that a failed export leaves the old file or none, never part
    // of one. Errors name the file.
    void Create(int columns, int rows, const wchar_t* fileName) override;
    bool PutInt64(int64_t value) override;
    bool PutText(const wchar_t* text) override;
    // Writes the row and starts an empty one.
    bool EndRow() override;
    void Flush() override {}
    void Close(bool discard) override;

private:
    void Discard() noexcept;

    std::wstring m_separator;
    bool m_utf8 = true;
    CFile m_file;
    std::vector<std::wstring> m_cells;
    std::wstring m_target;
    std::wstring m_temp;             // written, not yet moved into place
};

// The user's list separator: the text of HKCU "Control Panel\International" "sList" when it is
// a string value of at most 512 bytes ending with its NUL and not empty; else ";".
std::wstring ReadUserListSeparator();
