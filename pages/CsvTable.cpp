// The CSV dialect and the CSV back-ends of the table interfaces.
#include "pages/CsvTable.h"

#include "config/AppSettings.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "resources/ids_pages.h"

namespace {

constexpr wchar_t kQuote = L'"';

const std::wstring& Usable(const std::wstring& separator)
{
    static const std::wstring fallback = kFallbackCsvSeparator;
    return separator.empty() ? fallback : separator;
}

bool IsCsvSeparatorChar(wchar_t c)
{
    return c == L',' || c == L';' || c == L'\t';
}

// The file's error with the name of the file the user chose instead of a temporary one.
[[noreturn]] void RethrowNamed(CFileException error, const std::wstring& name)
{
    error.m_fileName = name;
    throw error;
}

}  // namespace

std::wstring CsvSeparatorFromChar(wchar_t delimiter)
{
    return delimiter != 0 ? std::wstring(1, delimiter) : std::wstring(kFallbackCsvSeparator);
}

// ---- The dialect

bool NextCsvRecord(std::wstring_view& buffer, const std::wstring& defaultSeparator, std::vector<std::wstring>& cells,
                   std::wstring& separator, bool atEnd)
{
    while (!buffer.empty()) {
        size_t scan = 0;
        bool inQuotes = false;
        size_t lineBreak = std::wstring_view::npos;
        while (lineBreak == std::wstring_view::npos) {
            if (inQuotes) {
                const size_t quote = buffer.find(kQuote, scan);
                if (quote == std::wstring_view::npos)
                    return false;
                if (quote + 1 < buffer.size() && buffer[quote + 1] == kQuote) {
                    scan = quote + 2;
                } else {
                    inQuotes = false;
                    scan = quote + 1;
                }
                continue;
            }
            const size_t stop = buffer.find_first_of(L"\"\r\n", scan);
            if (stop == std::wstring_view::npos) {
                if (!atEnd)
                    return false;
                lineBreak = buffer.size();
            } else if (buffer[stop] == kQuote) {
                inQuotes = true;
                scan = stop + 1;
            } else {
                lineBreak = stop;
            }
        }

        std::wstring_view record = buffer.substr(0, lineBreak);
        if (!record.empty() && record.front() == L'\n')
            record.remove_prefix(1);
        size_t consumed = lineBreak < buffer.size() ? lineBreak + 1 : lineBreak;
        if (consumed < buffer.size() && buffer[consumed] == L'\n')
            ++consumed;
        buffer.remove_prefix(consumed);
        if (record.empty())
            continue;

        if (separator.empty() && !DetectCsvSeparator(record, separator))
            separator = Usable(defaultSeparator);
        cells.clear();
        std::wstring cell;
        size_t cursor = 0;
        while (NextCsvField(record, cursor, cell, separator))
            cells.push_back(cell);
        return true;
    }
    return false;
}

bool NextCsvField(std::wstring_view record, size_t& cursor, std::wstring& cell, const std::wstring& separator)
{
    const std::wstring& sep = Usable(separator);
    if (cursor >= record.size())
        return false;
    cell.clear();
    if (record[cursor] != kQuote) {
        const size_t end = record.find(sep, cursor);
        if (end == std::wstring_view::npos) {
            cell.assign(record.substr(cursor));
            cursor = record.size();
        } else {
            cell.assign(record.substr(cursor, end - cursor));
            cursor = end + sep.size();
        }
        return true;
    }

    size_t at = cursor + 1;
    for (;;) {
        const size_t quote = record.find(kQuote, at);
        if (quote == std::wstring_view::npos) {
            cursor = record.size();
            return false;
        }
        cell.append(record.substr(at, quote - at));
        at = quote + 1;
        // After the closing quote: the separator or the end ends the cell, a second quote is
        // a quote of the text, and anything else is dropped.
        for (;;) {
            if (at >= record.size()) {
                cursor = record.size();
                return true;
            }
            if (record.compare(at, sep.size(), sep) == 0) {
                cursor = at + sep.size();
                return true;
            }
            if (record[at] == kQuote) {
                cell.push_back(kQuote);
                ++at;
                break;
            }
            ++at;
        }
    }
}

bool DetectCsvSeparator(std::wstring_view record, std::wstring& separator)
{
    if (record.empty() || record == L"\"")
        return false;
    bool inQuotes = record.front() == kQuote;
    wchar_t candidate = 0;
    bool ambiguous = false;
    for (size_t i = inQuotes ? 1 : 0; i < record.size();) {
        const wchar_t c = record[i];
        if (inQuotes) {
            if (c != kQuote) {
                ++i;
            } else if (i + 1 < record.size() && record[i + 1] == kQuote) {
                i += 2;
            } else {
                inQuotes = false;
                size_t next = i + 1;
                while (next < record.size() && record[next] == L' ')
                    ++next;
                if (next < record.size()) {
                    separator.assign(1, record[next]);
                    return true;
                }
                i = next;
            }
            continue;
        }
        if (c == kQuote) {
            inQuotes = true;
        } else if (IsCsvSeparatorChar(c) && !ambiguous) {
            if (candidate == 0)
                candidate = c;
            else if (c != candidate)
                ambiguous = true;
        }
        ++i;
    }
    if (candidate == 0 || ambiguous)
        return false;
    separator.assign(1, candidate);
    return true;
}

void WriteCsvRecord(CFile& file, const std::vector<std::wstring>& cells, const std::wstring& separator, bool utf8)
{
    const std::wstring& sep = Usable(separator);
    std::wstring line;
    for (size_t i = 0; i < cells.size(); ++i) {
        const std::wstring& cell = cells[i];
        if (i > 0)
            line += sep;
        if (cell.find(sep) == std::wstring::npos && cell.find_first_of(L"\"\r\n") == std::wstring::npos) {
            line += cell;
            continue;
        }
        line += kQuote;
        for (wchar_t c : cell) {
            if (c == kQuote)
                line += kQuote;
            line += c;
        }
        line += kQuote;
    }
    line += L"\r\n";
    const std::string bytes = WStringToMultiByte(line, utf8 ? CP_UTF8 : CP_ACP);
    file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
}

// ---- Import

CCsvTableImport::CCsvTableImport(const CsvOptions& options)
    : m_defaultSeparator(CsvSeparatorFromChar(options.delimiter)), m_utf8(options.encoding == 2)
{
}

void CCsvTableImport::Open(const wchar_t* fileName)
{
    m_path = fileName != nullptr ? fileName : L"";
    m_cells.clear();
    m_text.clear();
    m_rest = {};
    m_dataSeparator.clear();
    m_columnCount = m_rowCount = m_column = m_row = 0;

    ReadTextFile(m_path, m_utf8, m_text);
    m_rest = m_text;

    // The header's separator is its own: the data may use another.
    std::wstring headerSeparator;
    if (ReadRecord(headerSeparator)) {
        m_columnCount = static_cast<int>(m_cells.size());
        m_rowCount = kUnknownRowCount;
    }
}

bool CCsvTableImport::ReadRecord(std::wstring& separator)
{
    if (NextCsvRecord(m_rest, m_defaultSeparator, m_cells, separator, true))
        return true;
    if (!m_rest.empty())
        throw CTableFileException(IDS_CSV_OPEN_QUOTE, m_path);
    return false;
}

bool CCsvTableImport::NextRow()
{
    if (!ReadRecord(m_dataSeparator))
        return false;
    ++m_row;
    m_column = 0;
    return true;
}

bool CCsvTableImport::GetText(std::wstring& out)
{
    if (m_column >= 0 && static_cast<size_t>(m_column) < m_cells.size())
        out = m_cells[m_column];
    else
        out.clear();
    return true;
}

// ---- Export

std::wstring ReadUserListSeparator()
{
    std::wstring separator = kFallbackCsvSeparator;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return separator;
    wchar_t value[256 + 1] = {};
    DWORD type = 0;
    DWORD size = 512;
    const LSTATUS status = RegQueryValueExW(key, L"sList", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    const DWORD chars = size / sizeof(wchar_t);
    if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && size % sizeof(wchar_t) == 0 &&
        chars >= 2 && value[chars - 1] == 0)
        separator.assign(value, chars - 1);
    return separator;
}

CCsvTableExport::CCsvTableExport() : m_separator(ReadUserListSeparator()) {}

CCsvTableExport::CCsvTableExport(const CsvOptions& options)
    : m_separator(CsvSeparatorFromChar(options.delimiter)), m_utf8(options.encoding == 2)
{
}

CCsvTableExport::~CCsvTableExport()
{
    Discard();
}

void CCsvTableExport::Discard() noexcept
{
    try {
        m_file.Close();
    } catch (...) {
        // The temporary file goes regardless.
    }
    if (!m_temp.empty())
        DeleteFileW(m_temp.c_str());
    m_temp.clear();
}

void CCsvTableExport::Create(int columns, int rows, const wchar_t* fileName)
{
    Discard();
    m_target = fileName != nullptr ? fileName : L"";
    m_columnCount = columns > 0 ? columns : 0;
    m_rowCount = rows > 0 ? rows : 0;
    m_column = m_row = 0;
    m_cells.assign(static_cast<size_t>(m_columnCount), std::wstring());

    m_temp = MakeTempFileBeside(m_target);
    CFileException error;
    if (!m_file.Open(m_temp.c_str(), CFile::modeCreate | CFile::modeWrite, &error)) {
        Discard();
        RethrowNamed(error, m_target);
    }
    if (m_utf8) {
        static const BYTE bom[3] = {0xEF, 0xBB, 0xBF};
        m_file.Write(bom, sizeof bom);
    }
}

bool CCsvTableExport::PutInt64(int64_t value)
{
    return PutText(Int64ToWString(value).c_str());
}

bool CCsvTableExport::PutText(const wchar_t* text)
{
    if (m_column >= m_columnCount)
        return false;
    m_cells[m_column++] = text != nullptr ? text : L"";
    return true;
}

bool CCsvTableExport::EndRow()
{
    if (m_row >= m_rowCount)
        return false;
    try {
        WriteCsvRecord(m_file, m_cells, m_separator, m_utf8);
    } catch (CFileException& error) {
        RethrowNamed(error, m_target);
    }
    ++m_row;
    m_column = 0;
    for (std::wstring& cell : m_cells)
        cell.clear();
    return true;
}

void CCsvTableExport::Close(bool discard)
{
    if (discard || !m_file.IsOpen()) {
        Discard();
        return;
    }
    try {
        // The content must be on disk before the name points at it.
        m_file.Flush();
        m_file.Close();
    } catch (CFileException& error) {
        Discard();
        RethrowNamed(error, m_target);
    }
    if (!SystemServices().MoveFileOver(m_temp, m_target)) {
        const LONG code = static_cast<LONG>(GetLastError());
        Discard();
        ThrowFileExceptionFromOSError(code, m_target);
    }
    m_temp.clear();
}
