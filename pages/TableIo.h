#pragma once
// The two table interfaces through which every table import and export goes (the key list,
// the formats list, the Mifare key lists). A caller picks the back-end by file type (CSV,
// Excel, OpenOffice Calc) and then drives it only through these, so that a table reads alike
// whatever its source.
#include <climits>
#include <cstdint>
#include <string>

#include "core/Exceptions.h"
#include "core/Object.h"

// Reads a table row by row and cell by cell. Order of use: Open, the cells of row 0 (the
// header), then NextRow and the cells of each row until NextRow returns false.
class CBTableImport : public CObject
{
public:
    // The row count of a back-end that cannot know it in advance.
    static constexpr int kUnknownRowCount = INT_MAX;

    // Opens the table and stands on row 0, column 0; throws the back-end's exception.
    virtual void Open(const wchar_t* fileName) = 0;
    // Moves the current column by a signed amount; false, with the column kept, when the
    // target lies outside 0 .. column count - 1.
    virtual bool MoveColumn(int relative);
    // Advances to the next row and column 0; false at the end of the table. A back-end may
    // throw when the rest of its file cannot be read as a row.
    virtual bool NextRow() = 0;
    virtual bool GetText(std::wstring& out) = 0;
    // The current cell's text as a number (TableTextToDouble, TableTextToInt64), unless the
    // back-end keeps its cells typed.
    virtual bool GetDouble(double& out);
    virtual bool GetInt64(int64_t& out);

    int GetColumnCount() const { return m_columnCount; }
    int GetRowCount() const { return m_rowCount; }
    int GetColumn() const { return m_column; }
    int GetRow() const { return m_row; }

protected:
    int m_columnCount = 0;   // cells in a row, as fixed when the table was opened
    int m_rowCount = 0;
    int m_column = 0;
    int m_row = 0;
};

// Writes a table. Order of use: Create, then per row PutText or PutInt64 for every column and
// EndRow, then Flush and Close(false). Close(true) throws the work away.
class CBTableExport : public CObject
{
public:
    // fileName may be null for a back-end that leaves its table open to the user. Throws.
    virtual void Create(int columns, int rows, const wchar_t* fileName) = 0;
    virtual bool PutInt64(int64_t value) = 0;
    // False when the row already holds column-count cells.
    virtual bool PutText(const wchar_t* text) = 0;
    // False when row-count rows were already written.
    virtual bool EndRow() = 0;
    virtual void Flush() = 0;
    virtual void Close(bool discard) = 0;

    int GetColumnCount() const { return m_columnCount; }
    int GetRowCount() const { return m_rowCount; }

protected:
    int m_columnCount = 0;
    int m_rowCount = 0;
    int m_column = 0;        // the next cell of the row being written
    int m_row = 0;           // rows written
};

// The cell text conversions of GetDouble and GetInt64 (wcstod, wcstoll base 10): a non-zero
// value is taken; zero only when a character was read and the value was in range.
bool TableTextToDouble(const std::wstring& text, double& out);
bool TableTextToInt64(const std::wstring& text, int64_t& out);

// A file whose content cannot be read or written as the table it should be: the text is the
// string resource with the file (or another name) for its %s.
class CTableFileException : public CException
{
public:
    CTableFileException(unsigned textId, const std::wstring& name);
};
