#include "config/EventLogDb.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"

const wchar_t kEventLogFileName[] = L"EventLog.dbf";

namespace {

void LogCloseFailure(const char* what)
{
    CAppContext* app = GetAppContext();
    if (app != nullptr && app->IsLogged(LOG_THRESHOLD_ERROR))
        LogMessage(app, nullptr, LOG_ERROR, L"Event table: the last record could not be written back: %hs", what);
}

struct ExpectedField
{
    const char* name;
    char type;
    uint8_t length;
};

constexpr ExpectedField kExpected[CEventLogDb::fieldCount] = {
    {"DATE", 'D', 8},   {"TIME", 'N', 5}, {"TYPE", 'C', 1},   {"STRID", 'N', 5},
    {"ATTR", 'C', 32},  {"MSG", 'C', 255}, {"MSG2", 'C', 255},
};

struct Descriptors
{
    DbfFieldDescriptor fields[CEventLogDb::fieldCount];
    Descriptors()
    {
        for (int i = 0; i < CEventLogDb::fieldCount; ++i)
            fields[i] = MakeDbfField(kExpected[i].name, kExpected[i].type, kExpected[i].length);
    }
};

const wchar_t kLevelLetters[] = L" IWE";

// Whole-text decimal number; false for anything else (blanks around it allowed).
bool ParseDecimal(const std::wstring& text, long long& value)
{
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos)
        return false;
    const size_t last = text.find_last_not_of(L' ');
    size_t i = first;
    bool negative = false;
    if (text[i] == L'-' || text[i] == L'+')
        negative = text[i++] == L'-';
    if (i > last)
        return false;
    long long v = 0;
    for (; i <= last; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        if (v > 1000000000000LL)
            return false;
        v = v * 10 + (text[i] - L'0');
    }
    value = negative ? -v : v;
    return true;
}

// Local time to seconds since 1970 through the system's calendar, which (unlike the runtime's
// mktime) also covers the years before 1970 that two-digit years can name.
bool LocalTimeToSeconds(const SYSTEMTIME& local, __time64_t& out)
{
    SYSTEMTIME utc;
    FILETIME ft;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !SystemTimeToFileTime(&utc, &ft))
        return false;
    const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    constexpr int64_t kEpochTicks = 116444736000000000LL;   // 1601 to 1970 in 100 ns
    out = (ticks - kEpochTicks) / 10000000;
    return true;
}

void TrimTrailingBlanks(std::wstring& s)
{
    const size_t end = s.find_last_not_of(L' ');
    s.erase(end == std::wstring::npos ? 0 : end + 1);
}

} // namespace

const DbfFieldDescriptor* CEventLogDb::GetFieldDescriptors()
{
    static const Descriptors descriptors;
    return descriptors.fields;
}

uint32_t CEventLogDb::GetEventCount() const
{
    if (!IsOpen() || m_table.GetRecordCount() == 0)
        return 0;
    return m_table.GetRecordCount() - 1;
}

bool CEventLogDb::HasEventLayout() const
{
    if (m_table.GetFieldCount() < fieldCount || m_table.GetRecordCount() < 1)
        return false;
    for (int i = 0; i < fieldCount; ++i) {
        const DbfFieldDescriptor& f = m_table.GetField(i);
        if (strncmp(f.name, kExpected[i].name, sizeof f.name) != 0 || f.type != kExpected[i].type ||
            f.length < kExpected[i].length)
            return false;
    }
    return true;
}

void CEventLogDb::Open(const std::wstring& path)
{
    Close();
    m_path = path;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    bool usable = false;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        try {
            m_table.Open(path, false);
            usable = HasEventLayout();
        } catch (const CDbfException&) {
            // Not a table at all: replaced like a table of another layout.
            usable = false;
        }
        // A file that cannot be opened (locked, no access) throws on: it is not ours to replace.
    }
    try {
        if (!usable) {
            m_table.Close();
            CreateNew();
            return;
        }
        ReadPositionFromHeader();
        ApplyMaxRecords();
    } catch (...) {
        m_table.Close();
        throw;
    }
}

void CEventLogDb::CreateNew()
{
    m_table.Create(m_path, GetFieldDescriptors());
    m_table.AppendBlankRecords(1);
    m_position = 1;
    m_table.SetFieldValue(fieldAttr, "1");
    m_table.FlushRecord();
    // Reopened so that a new table is shared with readers as an existing one is.
    m_table.Close();
    m_table.Open(m_path, false);
}

void CEventLogDb::ReadPositionFromHeader()
{
    m_table.ReadRecord(0);
    std::wstring text;
    m_table.GetFieldValue(fieldAttr, text);
    long long value = 0;
    m_position = ParseDecimal(text, value) && value >= 2 && value <= kEventLogNoLimit ? static_cast<int32_t>(value) : 1;
    ClampPosition();
}

// A position past the records cannot be right: the events stand in record order.
void CEventLogDb::ClampPosition()
{
    const int64_t events = GetEventCount();
    if (m_position < 1 || m_position > events + 1)
        m_position = static_cast<int32_t>(std::min<int64_t>(events + 1, kEventLogNoLimit));
}

void CEventLogDb::WritePosition()
{
    m_table.ReadRecord(0);
    m_table.SetFieldValue(fieldAttr, IntToWString(m_position));
    m_table.FlushRecord();
}

void CEventLogDb::Close() noexcept
{
    if (m_table.IsOpen()) {
        try {
            if (m_table.IsDirty())
                m_table.FlushRecord();
        } catch (const std::exception& e) {
            // Closing at exit has nobody to tell but the debug log; the header stays valid.
            LogCloseFailure(e.what());
        } catch (...) {
            LogCloseFailure("unknown error");
        }
        m_table.Close();
    }
    m_position = 1;
}

int CEventLogDb::AddEvent(const _EVENT_RECORD& event)
{
    ClampPosition();
    const int32_t i = m_position;
    // Checked before the table is touched: a refused event leaves no record behind.
    const FieldTexts fields = PrepareFields(event);
    if (static_cast<uint32_t>(i) < m_table.GetRecordCount())
        m_table.ReadRecord(i);
    else
        m_table.AppendBlankRecords(1);
    StoreFields(fields);
    m_table.FlushRecord();
    m_position = i % Maximum() + 1;
    WritePosition();
    return i;
}

void CEventLogDb::WriteEventFields(const _EVENT_RECORD& event)
{
    StoreFields(PrepareFields(event));
}

CEventLogDb::FieldTexts CEventLogDb::PrepareFields(const _EVENT_RECORD& event) const
{
    if (event.stringId > 99999 || event.stringId < -9999)
        throw CDbfException(m_path, CDbfException::badValue);
    FieldTexts f;
    SYSTEMTIME st;
    if (event.time != 0 && CTimeValue(event.time).GetSystemTime(st)) {
        FormatString(f.text[fieldDate], L"%.2d.%.2d.%.2d", st.wDay, st.wMonth, st.wYear % 100);
        IntToWString(st.wHour * 3600 + st.wMinute * 60 + st.wSecond, f.text[fieldTime]);
    }
    const int level = event.level >= EVENT_INFO && event.level <= EVENT_ERROR ? event.level : EVENT_NONE;
    f.text[fieldType].assign(1, kLevelLetters[level]);
    IntToWString(event.stringId, f.text[fieldStrId]);
    f.text[fieldAttr] = event.attribute.substr(0, kAttrLength);
    f.text[fieldMsg] = event.message.substr(0, kMsgLength);
    if (event.message.size() > kMsgLength)
        f.text[fieldMsg2] = event.message.substr(kMsgLength, kMsgLength);
    // Texts the table's code page cannot hold at all are refused here too.
    for (int i = fieldType; i < fieldCount; ++i)
        if (!f.text[i].empty() && WStringToMultiByte(f.text[i], CDbf::kOemCodePage).empty())
            throw CDbfException(m_path, CDbfException::badValue);
    return f;
}

void CEventLogDb::StoreFields(const FieldTexts& fields)
{
    for (int i = 0; i < fieldCount; ++i)
        m_table.SetFieldValue(i, fields.text[i]);
}

namespace {

// The stored characters of a text field, blanks and all, decoded in the table's code page.
std::wstring RawFieldText(const CDbf& table, int field, int most)
{
    int offset = 1;
    for (int i = 0; i < field; ++i)
        offset += table.GetField(i).length;
    const std::vector<uint8_t>& record = table.GetRecordBuffer();
    const int length = std::min<int>(table.GetField(field).length, most);
    if (record.size() < static_cast<size_t>(offset + length))
        return {};
    const UINT codePage = table.GetCodeMode() == CDbf::codeOem ? CDbf::kOemCodePage : CP_ACP;
    std::wstring text;
    MultiByteToWString(reinterpret_cast<const char*>(record.data()) + offset, length, text, codePage);
    return text;
}

} // namespace

void CEventLogDb::ReadEvent(_EVENT_RECORD& event) const
{
    event = _EVENT_RECORD();
    std::wstring text;

    m_table.GetFieldValue(fieldDate, text);
    int day = 0, month = 0, year = 0;
    if (swscanf(text.c_str(), L"%d.%d.%d", &day, &month, &year) == 3) {
        year += 1900;
        if (year < 1950)
            year += 100;
        long long seconds = 0;
        m_table.GetFieldValue(fieldTime, text);
        if (!ParseDecimal(text, seconds) || seconds < 0)
            seconds = 0;
        SYSTEMTIME st = {};
        st.wYear = static_cast<WORD>(year);
        st.wMonth = static_cast<WORD>(month);
        st.wDay = static_cast<WORD>(day);
        st.wHour = static_cast<WORD>(seconds / 3600 % 24);
        st.wMinute = static_cast<WORD>(seconds / 60 % 60);
        st.wSecond = static_cast<WORD>(seconds % 60);
        if (month >= 1 && month <= 12 && day >= 1 && day <= 31)
            LocalTimeToSeconds(st, event.time);
    }

    m_table.GetFieldValue(fieldType, text);
    const wchar_t letter = text.size() == 1 ? static_cast<wchar_t>(towupper(text[0])) : L'\0';
    event.level = letter == L'I' ? EVENT_INFO : letter == L'W' ? EVENT_WARNING : letter == L'E' ? EVENT_ERROR : EVENT_NONE;

    m_table.GetFieldValue(fieldStrId, text);
    long long id = 0;
    event.stringId = ParseDecimal(text, id) ? static_cast<int32_t>(id) : 0;

    m_table.GetFieldValue(fieldAttr, event.attribute);

    // Blanks at the seam belong to the message; only the end is trimmed.
    event.message = RawFieldText(m_table, fieldMsg, kMsgLength) + RawFieldText(m_table, fieldMsg2, kMsgLength);
    TrimTrailingBlanks(event.message);
}

void CEventLogDb::ReadEvent(int n, _EVENT_RECORD& event)
{
    m_table.ReadRecord(n);
    ReadEvent(event);
}

void CEventLogDb::Clear()
{
    if (!IsOpen())
        return;
    m_table.Truncate(0);
    m_table.AppendBlankRecords(1);
    m_position = 1;
    m_table.SetFieldValue(fieldAttr, "1");
    m_table.FlushRecord();
}

// E event records, maximum M, position P, K = min(E, M). In time order the ring runs from
// record P to E (present once it has wrapped) and then from 1 to P - 1. The newest K events
// end up in records 1 to K, oldest first.
void CEventLogDb::ApplyMaxRecords()
{
    if (!IsOpen())
        return;
    ClampPosition();
    const int64_t e = GetEventCount();
    const int64_t m = Maximum();
    const int64_t p = m_position;
    if (e == m) {
        if (p > m) {
            // Position "after the last record" of a full ring is record 1.
            m_position = 1;
            WritePosition();
        }
        return;
    }
    const int64_t k = std::min(e, m);
    const int64_t c = k - p + 1;
    if (c > 0) {
        // The run of the ring's tail that stays (P to E, or its last c records) goes past
        // the end, the head (1 to P - 1) moves up behind where the tail will stand, and the
        // tail comes to the front.
        m_table.AppendBlankRecords(static_cast<int>(c));
        for (int64_t j = 0; j < c; ++j)
            m_table.CopyRecord(static_cast<int>(e - c + 1 + j), static_cast<int>(e + 1 + j));
        for (int64_t h = p - 1; h >= 1; --h)
            m_table.CopyRecord(static_cast<int>(h), static_cast<int>(h + c));
        m_table.ReadRecord(static_cast<int>(e + 1));
        m_table.MoveRecords(static_cast<int>(c));
        m_table.Truncate(static_cast<uint32_t>(k + 1));
    } else if (c < 0) {
        // The newest M events are records P - M to P - 1.
        m_table.ReadRecord(static_cast<int>(p - m));
        m_table.MoveRecords(static_cast<int>(m));
        m_table.Truncate(static_cast<uint32_t>(m + 1));
    } else if (e > k) {
        m_table.Truncate(static_cast<uint32_t>(k + 1));
    }
    m_position = static_cast<int32_t>(k < m ? k + 1 : 1);
    WritePosition();
}
