#include "core/Dbf.h"

#include "core/SystemServices.h"
#include "core/TextUtil.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kModeCreate = CFile::modeCreate | CFile::modeReadWrite;   // 0x1002, no sharing
constexpr UINT kModeRead = CFile::modeRead | CFile::shareRead;           // 0x20
constexpr UINT kModeReadWrite = CFile::modeReadWrite | CFile::shareRead; // 0x22

constexpr uint8_t kHeaderEnd = 0x0D;

bool IsTextType(char type)
{
    return type != 'D' && type != 'F' && type != 'L' && type != 'N';
}

std::string Convert(const std::string& bytes, UINT from, UINT to)
{
    if (bytes.empty() || from == to)
        return bytes;
    std::wstring wide;
    MultiByteToWString(bytes.data(), static_cast<int>(bytes.size()), wide, from);
    std::string out;
    WStringToMultiByte(wide.data(), static_cast<int>(wide.size()), out, to);
    return out;
}

std::string ToBytes(const std::wstring& text, UINT codePage)
{
    std::string out;
    if (!text.empty())
        WStringToMultiByte(text.data(), static_cast<int>(text.size()), out, codePage);
    return out;
}

void TrimTrailingBlanks(std::string& s)
{
    const size_t end = s.find_last_not_of(' ');
    s.erase(end == std::string::npos ? 0 : end + 1);
}

std::string NameOf(const DbfFieldDescriptor& field)
{
    return std::string(field.name, strnlen(field.name, sizeof field.name));
}

void StoreName(DbfFieldDescriptor& field, const std::string& name)
{
    std::memset(field.name, 0, sizeof field.name);
    std::memcpy(field.name, name.data(), std::min<size_t>(name.size(), sizeof field.name - 1));
}

SYSTEMTIME Today()
{
    SYSTEMTIME now;
    SystemServices().LocalTime(now);
    return now;
}

// Fixed-point text of an F field: optional '-', integer digits (none below 1), '.', the
// fraction digits. Empty when the value has no such text.
std::string FormatFloatField(double value, int decimals)
{
    if (!std::isfinite(value))
        return {};
    char digits[400];
    const auto r = std::to_chars(digits, digits + sizeof digits, std::fabs(value), std::chars_format::fixed, decimals);
    if (r.ec != std::errc())
        return {};
    std::string text(digits, r.ptr);
    const bool nonZero = text.find_first_of("123456789") != std::string::npos;
    if (decimals > 0 && text.compare(0, 2, "0.") == 0)
        text.erase(0, 1);
    if (value < 0 && nonZero)
        text.insert(text.begin(), '-');
    return text;
}

} // namespace

DbfFieldDescriptor MakeDbfField(const char* name, char type, uint8_t length, uint8_t decimals)
{
    DbfFieldDescriptor field = {};
    StoreName(field, name != nullptr ? name : "");
    field.type = type;
    field.length = length;
    field.decimals = decimals;
    return field;
}

CDbf::~CDbf() = default;

void CDbf::Reset()
{
    m_header = {};
    m_fields.clear();
    m_offsets.clear();
    m_record.clear();
    m_current = -1;
    m_codeMode = codeNone;
    m_dirty = false;
    m_cutShort = false;
}

void CDbf::Close()
{
    Reset();
    m_file.Close();
}

void CDbf::Create(const std::wstring& path, const DbfFieldDescriptor fields[kCreateFieldCount])
{
    if (m_file.IsOpen())
        Close();
    m_path = path;
    int recordLength = 1;
    for (int i = 0; i < kCreateFieldCount; ++i) {
        if (fields[i].length == 0)
            ThrowBadValue();
        recordLength += fields[i].length;
    }
    CFileException error;
    if (!m_file.Open(path.c_str(), kModeCreate, &error))
        throw error;
    try {
        Reset();
        m_header.version = 3;
        m_header.headerLength = static_cast<uint16_t>(32 + 32 * kCreateFieldCount + 1);
        m_header.recordLength = static_cast<uint16_t>(recordLength);
        m_header.recordCount = 0;
        m_header.language = kLanguageOem;
        m_codeMode = codeOem;
        m_fields.assign(fields, fields + kCreateFieldCount);
        int offset = 1;
        for (const DbfFieldDescriptor& f : m_fields) {
            m_offsets.push_back(offset);
            offset += f.length;
        }
        m_record.assign(m_header.recordLength, ' ');
        WriteHeader();
        m_current = -1;
        m_dirty = false;
    } catch (...) {
        Reset();
        try {
            m_file.Close();
        } catch (...) {
        }
        throw;
    }
}

void CDbf::Open(const std::wstring& path, bool readOnly)
{
    if (m_file.IsOpen())
        Close();
    m_path = path;
    CFileException error;
    if (!m_file.Open(path.c_str(), readOnly ? kModeRead : kModeReadWrite, &error))
        throw error;
    try {
        Validate(m_file.GetLength());
    } catch (...) {
        Reset();
        try {
            m_file.Close();
        } catch (...) {
        }
        throw;
    }
}

bool CDbf::ParseHeaderImage(const uint8_t* data, size_t size, ULONGLONG fileLength, DbfHeader& header,
                            std::vector<DbfFieldDescriptor>& fields)
{
    fields.clear();
    if (size < sizeof header || fileLength < size)
        return false;
    std::memcpy(&header, data, sizeof header);
    const unsigned headerLength = header.headerLength;
    const unsigned recordLength = header.recordLength;
    if (headerLength < 32 + 32 + 1 || headerLength > size || recordLength < 2)
        return false;
    // Descriptors run until the terminator; header length / 32 - 1 is the most there are.
    const size_t most = headerLength / 32 - 1;
    size_t count = 0;
    while (count < most && data[32 + count * 32] != kHeaderEnd)
        ++count;
    const size_t end = 32 + count * 32;
    if (count == 0 || end >= headerLength || data[end] != kHeaderEnd)
        return false;
    unsigned sum = 1;
    fields.resize(count);
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(&fields[i], data + 32 + i * 32, sizeof fields[i]);
        if (fields[i].length == 0)
            return false;
        sum += fields[i].length;
    }
    if (sum != recordLength)
        return false;
    // A table cut short keeps the records that are whole.
    const ULONGLONG whole = (fileLength - headerLength) / recordLength;
    if (header.recordCount > whole)
        header.recordCount = static_cast<uint32_t>(whole);
    return true;
}

// Nothing of the header is trusted before it is checked against itself and the file.
void CDbf::Validate(ULONGLONG fileLength)
{
    Reset();
    // The header is at most 65535 bytes long.
    std::vector<uint8_t> image(static_cast<size_t>(std::min<ULONGLONG>(fileLength, 65535)));
    m_file.SeekToBegin();
    if (!image.empty() && m_file.Read(image.data(), static_cast<UINT>(image.size())) != image.size())
        ThrowDamaged();
    if (!ParseHeaderImage(image.data(), image.size(), fileLength, m_header, m_fields))
        ThrowDamaged();
    uint32_t declared = 0;
    std::memcpy(&declared, image.data() + offsetof(DbfHeader, recordCount), sizeof declared);
    m_cutShort = declared > m_header.recordCount;
    int offset = 1;
    for (DbfFieldDescriptor& f : m_fields) {
        m_offsets.push_back(offset);
        offset += f.length;
        StoreName(f, Convert(NameOf(f), kOemCodePage, CP_ACP));
    }
    m_codeMode = m_header.language == kLanguageOem ? codeOem : m_header.language == kLanguageAnsi ? codeAnsi : codeNone;
    m_record.assign(m_header.recordLength, ' ');
    m_current = -1;
    m_dirty = false;
}

void CDbf::WriteHeaderImage()
{
    m_file.SeekToBegin();
    m_file.Write(&m_header, sizeof m_header);
}

void CDbf::WriteHeader()
{
    const SYSTEMTIME today = Today();
    m_header.year = static_cast<uint8_t>(today.wYear - 1900);
    m_header.month = static_cast<uint8_t>(today.wMonth);
    m_header.day = static_cast<uint8_t>(today.wDay);
    std::vector<uint8_t> image(sizeof m_header + 32 * m_fields.size() + 1);
    std::memcpy(image.data(), &m_header, sizeof m_header);
    for (size_t i = 0; i < m_fields.size(); ++i) {
        DbfFieldDescriptor f = m_fields[i];
        StoreName(f, Convert(NameOf(f), CP_ACP, kOemCodePage));
        std::memcpy(&image[32 + 32 * i], &f, sizeof f);
    }
    image.back() = kHeaderEnd;
    m_file.SeekToBegin();
    m_file.Write(image.data(), static_cast<UINT>(image.size()));
}

ULONGLONG CDbf::RecordOffset(uint32_t n) const
{
    return m_header.headerLength + static_cast<ULONGLONG>(n) * m_header.recordLength;
}

void CDbf::WriteRecordAt(uint32_t n)
{
    m_file.Seek(static_cast<LONGLONG>(RecordOffset(n)), FILE_BEGIN);
    m_file.Write(m_record.data(), static_cast<UINT>(m_record.size()));
}

void CDbf::FlushRecord()
{
    if (m_current < 0 || m_record.empty())
        return;
    const SYSTEMTIME today = Today();
    const uint8_t date[3] = {static_cast<uint8_t>(today.wYear - 1900), static_cast<uint8_t>(today.wMonth),
                             static_cast<uint8_t>(today.wDay)};
    if (date[0] != m_header.year || date[1] != m_header.month || date[2] != m_header.day) {
        m_header.year = date[0];
        m_header.month = date[1];
        m_header.day = date[2];
        m_file.Seek(1, FILE_BEGIN);
        m_file.Write(date, sizeof date);
    }
    WriteRecordAt(static_cast<uint32_t>(m_current));
    m_dirty = false;
}

unsigned CDbf::ReadRecord(int n)
{
    if (m_dirty)
        FlushRecord();
    if (n < 0 || static_cast<uint32_t>(n) >= m_header.recordCount || m_record.empty())
        ThrowDamaged();
    m_current = n;
    m_file.Seek(static_cast<LONGLONG>(RecordOffset(static_cast<uint32_t>(n))), FILE_BEGIN);
    const UINT read = m_file.Read(m_record.data(), static_cast<UINT>(m_record.size()));
    std::fill(m_record.begin() + read, m_record.end(), ' ');
    return read;
}

void CDbf::AppendBlankRecords(int n)
{
    if (n < 1)
        return;
    if (m_dirty)
        FlushRecord();
    if (m_record.empty() || static_cast<ULONGLONG>(m_header.recordCount) + n > UINT32_MAX)
        ThrowBadValue();
    std::fill(m_record.begin(), m_record.end(), ' ');
    // Written in chunks; the count in the header grows only once every record is there.
    const size_t perChunk = std::max<size_t>(1, 65536 / m_record.size());
    std::vector<uint8_t> chunk;
    chunk.reserve(perChunk * m_record.size());
    m_file.Seek(static_cast<LONGLONG>(RecordOffset(m_header.recordCount)), FILE_BEGIN);
    for (int left = n; left > 0;) {
        const int now = static_cast<int>(std::min<size_t>(perChunk, static_cast<size_t>(left)));
        chunk.assign(now * m_record.size(), ' ');
        m_file.Write(chunk.data(), static_cast<UINT>(chunk.size()));
        left -= now;
    }
    m_header.recordCount += static_cast<uint32_t>(n);
    WriteHeaderImage();
    m_current = static_cast<int>(m_header.recordCount - 1);
    m_dirty = false;
}

void CDbf::MoveRecords(int n)
{
    if (n < 1 || m_current == 1)
        return;
    if (m_current < 0)
        throw CDbfException(m_path, CDbfException::unknownError);
    if (m_dirty)
        FlushRecord();
    const int from = m_current;
    const int64_t count = m_header.recordCount;
    if (from + static_cast<int64_t>(n) > count)
        n = static_cast<int>(count - from);
    if (n < 1)
        return;
    if (count < static_cast<int64_t>(n) + 1)
        AppendBlankRecords(static_cast<int>(n + 1 - count));
    auto copy = [&](int source, int target) {
        ReadRecord(source);
        m_current = target;
        FlushRecord();
    };
    if (from >= 1) {
        for (int k = 0; k < n; ++k)
            copy(from + k, 1 + k);
    } else {
        for (int k = n - 1; k >= 0; --k)
            copy(k, k + 1);
    }
}

void CDbf::Pack()
{
    if (m_dirty)
        FlushRecord();
    if (m_record.empty())
        return;
    const int current = m_current;
    uint32_t kept = 0;
    for (uint32_t r = 0; r < m_header.recordCount; ++r) {
        m_file.Seek(static_cast<LONGLONG>(RecordOffset(r)), FILE_BEGIN);
        if (m_file.Read(m_record.data(), static_cast<UINT>(m_record.size())) != m_record.size())
            ThrowDamaged();
        if (m_record[0] == '*')
            continue;
        if (kept != r)
            WriteRecordAt(kept);
        ++kept;
    }
    if (kept == m_header.recordCount) {
        // The buffer was used for the walk: bring back what the current record holds.
        std::fill(m_record.begin(), m_record.end(), ' ');
        m_current = -1;
        if (current >= 0)
            ReadRecord(current);
        return;
    }
    Truncate(kept);
}

void CDbf::Truncate(uint32_t count)
{
    if (m_dirty)
        FlushRecord();
    if (count > m_header.recordCount)
        ThrowBadValue();
    m_header.recordCount = count;
    const SYSTEMTIME today = Today();
    m_header.year = static_cast<uint8_t>(today.wYear - 1900);
    m_header.month = static_cast<uint8_t>(today.wMonth);
    m_header.day = static_cast<uint8_t>(today.wDay);
    // The count is written before the file is cut: a failed cut leaves surplus bytes that
    // the next open ignores, never a count past the end.
    WriteHeaderImage();
    m_file.SetLength(RecordOffset(count));
    std::fill(m_record.begin(), m_record.end(), ' ');
    m_current = -1;
}

void CDbf::CopyRecord(int from, int to)
{
    if (to < 0 || static_cast<uint32_t>(to) >= m_header.recordCount)
        ThrowDamaged();
    ReadRecord(from);
    if (from == to)
        return;
    m_current = to;
    FlushRecord();
}

const DbfFieldDescriptor& CDbf::CheckedField(int i) const
{
    if (i < 0 || i >= static_cast<int>(m_fields.size()) || m_record.empty())
        ThrowBadValue();
    return m_fields[i];
}

int CDbf::FieldOffset(int i) const
{
    return m_offsets[i];
}

void CDbf::ThrowBadValue() const
{
    throw CDbfException(m_path, CDbfException::badValue);
}

void CDbf::ThrowDamaged() const
{
    throw CDbfException(m_path, CDbfException::streamError);
}

void CDbf::SetFieldValue(int i, const char* text)
{
    const DbfFieldDescriptor& f = CheckedField(i);
    std::string bytes = text != nullptr ? text : "";
    TrimTrailingBlanks(bytes);
    if (IsTextType(f.type) && m_codeMode == codeOem) {
        const std::string converted = Convert(bytes, CP_ACP, kOemCodePage);
        if (!bytes.empty() && converted.empty())
            ThrowBadValue();
        bytes = converted;
    }
    SetFieldBytes(i, std::move(bytes));
}

void CDbf::SetFieldValue(int i, const std::wstring& text)
{
    const DbfFieldDescriptor& f = CheckedField(i);
    const UINT codePage = IsTextType(f.type) && m_codeMode == codeOem ? kOemCodePage : CP_ACP;
    std::string bytes = ToBytes(text, codePage);
    if (!text.empty() && bytes.empty())
        ThrowBadValue();
    TrimTrailingBlanks(bytes);
    SetFieldBytes(i, std::move(bytes));
}

// bytes: the text in the table's encoding, trailing blanks removed.
void CDbf::SetFieldBytes(int i, std::string bytes)
{
    const DbfFieldDescriptor& f = m_fields[i];
    const size_t length = f.length;
    const size_t room = f.type == 'L' ? std::max<size_t>(length, 5) : length;
    if (bytes.size() > room)
        ThrowBadValue();

    // Values that need a conversion are made before the field is touched.
    std::string stored;
    if (!bytes.empty() && f.type == 'F') {
        stored = FormatFloatField(std::atof(bytes.c_str()), f.decimals);
        if (stored.empty() || stored.size() > length)
            ThrowBadValue();
    }

    char* field = reinterpret_cast<char*>(m_record.data()) + FieldOffset(i);
    std::memset(field, ' ', length);
    m_dirty = true;
    if (bytes.empty())
        return;

    switch (f.type) {
    case 'D': {
        if (bytes.size() < 8 || length < 8)
            ThrowBadValue();
        const int day = std::atoi(bytes.c_str());
        const int month = std::atoi(bytes.c_str() + 3);
        int year = std::atoi(bytes.c_str() + 6);
        // Out-of-range parts would print more than eight digits into the next field.
        if (day < 1 || day > 31 || month < 1 || month > 12 || year < 0 || year > 99)
            ThrowBadValue();
        year += year > 50 ? 1900 : 2000;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%.4d%.2d%.2d", year, month, day);
        std::memcpy(field, digits, 8);
        break;
    }
    case 'F':
        std::memcpy(field + length - stored.size(), stored.data(), stored.size());
        break;
    case 'L': {
        std::string upper = bytes;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        field[0] = upper == "TRUE" || upper == "YES" ? 'T' : upper == "FALSE" || upper == "NO" ? 'F' : ' ';
        break;
    }
    case 'N':
        std::memcpy(field + length - bytes.size(), bytes.data(), bytes.size());
        break;
    default:
        std::memcpy(field, bytes.data(), bytes.size());
        break;
    }
}

void CDbf::SetRecordDeleted(bool deleted)
{
    if (m_record.empty())
        return;
    m_record[0] = deleted ? '*' : ' ';
    m_dirty = true;
}

std::string CDbf::TrimmedField(int i) const
{
    const DbfFieldDescriptor& f = CheckedField(i);
    const char* field = reinterpret_cast<const char*>(m_record.data()) + FieldOffset(i);
    std::string value(field, f.length);
    const size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    TrimTrailingBlanks(value);
    return value.substr(first);
}

// The value as text; C fields stay in the table's encoding for the caller to convert.
std::string CDbf::FieldText(int i) const
{
    const DbfFieldDescriptor& f = CheckedField(i);
    std::string value = TrimmedField(i);
    switch (f.type) {
    case 'L':
        return !value.empty() && std::strchr("TYty", value[0]) != nullptr ? "True" : "False";
    case 'D':
        if (value.size() == 8 && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return value.substr(6, 2) + "." + value.substr(4, 2) + "." + value.substr(2, 2);
        return value;
    case 'F': {
        const size_t point = value.find('.');
        const lconv* locale = std::localeconv();
        if (point != std::string::npos && locale != nullptr && locale->decimal_point != nullptr &&
            locale->decimal_point[0] != 0)
            value[point] = locale->decimal_point[0];
        return value;
    }
    default:
        return value;
    }
}

int CDbf::GetFieldValue(int i, char* out, int room) const
{
    const DbfFieldDescriptor& f = CheckedField(i);
    std::string value = FieldText(i);
    if (IsTextType(f.type) && m_codeMode == codeOem)
        value = Convert(value, kOemCodePage, CP_ACP);
    if (out == nullptr || room <= 0)
        return 0;
    if (static_cast<int>(value.size()) >= room) {
        out[0] = 0;
        return 0;
    }
    std::memcpy(out, value.c_str(), value.size() + 1);
    return static_cast<int>(value.size());
}

int CDbf::GetFieldValue(int i, std::wstring& out) const
{
    const DbfFieldDescriptor& f = CheckedField(i);
    const std::string value = FieldText(i);
    const UINT codePage = IsTextType(f.type) && m_codeMode == codeOem ? kOemCodePage : CP_ACP;
    out.clear();
    if (!value.empty())
        MultiByteToWString(value.data(), static_cast<int>(value.size()), out, codePage);
    return static_cast<int>(out.size());
}
