#include "config/EventLogDb.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/SysUtil.h"
#include "tests/support/TempFolder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::wstring& path)
{
    CFile f;
    if (!f.Open(path.c_str(), CFile::modeRead | CFile::shareReadWrite))
        return {};
    Bytes data(static_cast<size_t>(f.GetLength()));
    if (!data.empty())
        f.Read(data.data(), static_cast<UINT>(data.size()));
    return data;
}

void WriteAll(const std::wstring& path, const Bytes& data)
{
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    if (!data.empty())
        f.Write(data.data(), static_cast<UINT>(data.size()));
}

__time64_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    return CTimeValue(st).GetTime();
}

// Seconds since 1970 (also before it) to local time, through the system's calendar.
SYSTEMTIME LocalOf(__time64_t seconds)
{
    const int64_t ticks = seconds * 10000000 + 116444736000000000LL;
    FILETIME ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc = {}, local = {};
    FileTimeToSystemTime(&ft, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    return local;
}

_EVENT_RECORD Event(const std::wstring& message, int level = EVENT_INFO, int32_t id = 204)
{
    _EVENT_RECORD e;
    e.time = LocalTime(2025, 3, 5, 9, 7, 3);
    e.level = level;
    e.stringId = id;
    e.message = message;
    return e;
}

class EventLogDbTest : public ::testing::Test {
protected:
    void SetUp() override { path = folder.File(kEventLogFileName); }

    // Messages of the event records in record order.
    std::vector<std::wstring> Records()
    {
        std::vector<std::wstring> out;
        for (uint32_t r = 1; r <= db.GetEventCount(); ++r) {
            _EVENT_RECORD e;
            db.ReadEvent(static_cast<int>(r), e);
            out.push_back(e.message);
        }
        return out;
    }
    std::wstring HeaderAttr()
    {
        db.GetTable().ReadRecord(0);
        std::wstring attr;
        db.GetTable().GetFieldValue(CEventLogDb::fieldAttr, attr);
        return attr;
    }
    void Add(std::initializer_list<const wchar_t*> messages)
    {
        for (const wchar_t* m : messages)
            db.AddEvent(Event(m));
    }

    CTempFolder folder;
    std::wstring path;
    CEventLogDb db;
};

using Strings = std::vector<std::wstring>;

TEST_F(EventLogDbTest, NewTableHoldsOnlyTheHeaderRecord)
{
    db.Open(path);
    ASSERT_TRUE(db.IsOpen());
    EXPECT_EQ(db.GetTable().GetRecordCount(), 1u);
    EXPECT_EQ(db.GetEventCount(), 0u);
    EXPECT_EQ(HeaderAttr(), L"1");
    EXPECT_EQ(db.GetRingPosition(), 1);
    EXPECT_EQ(ReadAll(path).size(), 257u + 562u);

    EXPECT_EQ(db.AddEvent(Event(L"A")), 1);
    EXPECT_EQ(db.GetRingPosition(), 2);
    EXPECT_EQ(HeaderAttr(), L"2");
    EXPECT_EQ(db.GetTable().GetHeader().headerLength, 257);
    EXPECT_EQ(db.GetTable().GetHeader().recordLength, 562);
}

TEST_F(EventLogDbTest, FileMatchesTheGoldenBytes)
{
    db.Open(path);
    _EVENT_RECORD e = Event(L"\u041A\u043B\u044E\u0447 0A0B0C -> COM3", EVENT_ERROR, 205);
    e.attribute = L"COM3";
    db.AddEvent(e);
    db.Close();

    Bytes actual = ReadAll(path);
    const Bytes golden = ReadAll(std::wstring(L"" NORVANE_TEST_DATA) + L"\\EventLog_golden.dbf");
    ASSERT_EQ(golden.size(), 257u + 2 * 562u);
    ASSERT_EQ(actual.size(), golden.size());
    // The date of the last update is today's; everything else is fixed.
    SYSTEMTIME today;
    GetLocalTime(&today);
    EXPECT_EQ(actual[1], today.wYear - 1900);
    EXPECT_EQ(actual[2], today.wMonth);
    EXPECT_EQ(actual[3], today.wDay);
    actual[1] = actual[2] = actual[3] = 0;
    for (size_t i = 0; i < golden.size(); ++i)
        ASSERT_EQ(actual[i], golden[i]) << "byte " << i;
}

TEST_F(EventLogDbTest, RingOfThreeOverwritesTheOldest)
{
    db.SetRecordLimit(3);
    db.Open(path);
    Add({L"A", L"B", L"C"});
    EXPECT_EQ(Records(), (Strings{L"A", L"B", L"C"}));
    EXPECT_EQ(db.GetRingPosition(), 1);
    EXPECT_EQ(db.AddEvent(Event(L"D")), 1);
    EXPECT_EQ(Records(), (Strings{L"D", L"B", L"C"}));
    EXPECT_EQ(db.GetRingPosition(), 2);
    EXPECT_EQ(HeaderAttr(), L"2");

    db.ApplyMaxRecords();   // same maximum: nothing moves
    EXPECT_EQ(Records(), (Strings{L"D", L"B", L"C"}));
    EXPECT_EQ(db.GetRingPosition(), 2);

    // The ring survives a close and a reopen.
    db.Close();
    db.Open(path);
    EXPECT_EQ(Records(), (Strings{L"D", L"B", L"C"}));
    EXPECT_EQ(db.GetRingPosition(), 2);
}

TEST_F(EventLogDbTest, ApplyMaxRecordsKeepsTheNewestInTimeOrder)
{
    const struct {
        int32_t before;
        int events;          // named 1, 2, 3 ... in the order written
        int32_t after;
        Strings kept;
        int32_t position;
    } cases[] = {
        {3, 4, 2, {L"3", L"4"}, 1},                       // wrapped ring cut down
        {3, 4, 10, {L"2", L"3", L"4"}, 4},                // wrapped ring opened up
        {3, 4, 3, {L"4", L"2", L"3"}, 2},                 // unchanged
        {10, 5, 3, {L"3", L"4", L"5"}, 1},                // ring that never wrapped, cut
        {10, 5, 20, {L"1", L"2", L"3", L"4", L"5"}, 6},   // never wrapped, opened up
        {10, 17, 3, {L"15", L"16", L"17"}, 1},            // newest run lies before the position
        {10, 12, 2, {L"11", L"12"}, 1},                   // newest run ends just before it
        {10, 12, 1, {L"12"}, 1},
        {5, 0, 2, {}, 1},
        {4, 6, 4, {L"5", L"6", L"3", L"4"}, 3},
    };
    for (const auto& c : cases) {
        db.Close();
        DeleteFileW(path.c_str());
        db.SetRecordLimit(c.before);
        db.Open(path);
        for (int i = 1; i <= c.events; ++i)
            db.AddEvent(Event(std::to_wstring(i)));
        db.SetRecordLimit(c.after);
        db.ApplyMaxRecords();
        const std::string what = std::to_string(c.before) + "/" + std::to_string(c.events) + "->" + std::to_string(c.after);
        EXPECT_EQ(Records(), c.kept) << what;
        EXPECT_EQ(db.GetRingPosition(), c.position) << what;
        EXPECT_EQ(HeaderAttr(), std::to_wstring(c.position)) << what;
        // A reopen under the new maximum finds the same ring.
        db.Open(path);
        EXPECT_EQ(Records(), c.kept) << what;
        EXPECT_EQ(db.GetRingPosition(), c.position) << what;
    }
}

// Any mix of writes and limit changes keeps exactly the newest events, oldest first from
// the ring position on.
TEST_F(EventLogDbTest, RingAgreesWithAQueueUnderRandomLimits)
{
    std::mt19937 random(20250305);
    std::deque<std::wstring> model;
    int32_t limit = 4;
    db.SetRecordLimit(limit);
    db.Open(path);
    int next = 0;
    for (int step = 0; step < 120; ++step) {
        if (random() % 6 == 0) {
            limit = static_cast<int32_t>(1 + random() % 7);
            db.SetRecordLimit(limit);
            if (random() % 2)
                db.ApplyMaxRecords();
            else
                db.Open(path);
            while (model.size() > static_cast<size_t>(limit))
                model.pop_front();
        } else {
            const std::wstring name = std::to_wstring(++next);
            db.AddEvent(Event(name));
            model.push_back(name);
            if (model.size() > static_cast<size_t>(limit))
                model.pop_front();
        }
        // Time order: records P to E, then 1 to P - 1.
        const Strings records = Records();
        ASSERT_LE(records.size(), static_cast<size_t>(limit)) << "step " << step;
        const size_t p = static_cast<size_t>(db.GetRingPosition());
        ASSERT_GE(p, 1u);
        ASSERT_LE(p, records.size() + 1);
        Strings ordered(records.begin() + (p - 1), records.end());
        ordered.insert(ordered.end(), records.begin(), records.begin() + (p - 1));
        ASSERT_EQ(ordered, Strings(model.begin(), model.end())) << "step " << step;
    }
}

TEST_F(EventLogDbTest, MaximumBelowOneActsAsOne)
{
    for (int32_t limit : {0, -5}) {
        db.Close();
        DeleteFileW(path.c_str());
        db.SetRecordLimit(limit);
        db.Open(path);
        Add({L"A", L"B", L"C"});
        EXPECT_EQ(Records(), (Strings{L"C"})) << limit;
        EXPECT_EQ(db.GetRingPosition(), 1) << limit;
        db.ApplyMaxRecords();
        EXPECT_EQ(Records(), (Strings{L"C"})) << limit;
    }
}

TEST_F(EventLogDbTest, StoredPositionIsReadOrClamped)
{
    const struct {
        const char* attr;
        int32_t limit;
        int32_t position;     // after the open
        Strings order;        // the events oldest first after the open
    } cases[] = {
        {"2", 3, 2, {L"B", L"C", L"A"}},
        {"3", 3, 3, {L"C", L"A", L"B"}},
        {"0", 3, 1, {L"A", L"B", L"C"}},
        {"", 3, 1, {L"A", L"B", L"C"}},
        {"abc", 3, 1, {L"A", L"B", L"C"}},
        {"-4", 3, 1, {L"A", L"B", L"C"}},
        {"99999", 3, 1, {L"A", L"B", L"C"}},      // past the records of a full ring
        {"99999", 10, 4, {L"A", L"B", L"C"}},     // past the records of a ring with room
        {"2147483647", 10, 4, {L"A", L"B", L"C"}},
        {"1", 10, 4, {L"A", L"B", L"C"}},         // 1 with room: the records in order
    };
    for (const auto& c : cases) {
        db.Close();
        DeleteFileW(path.c_str());
        db.SetRecordLimit(kEventLogNoLimit);
        db.Open(path);
        Add({L"A", L"B", L"C"});
        db.GetTable().ReadRecord(0);
        db.GetTable().SetFieldValue(CEventLogDb::fieldAttr, c.attr);
        db.GetTable().FlushRecord();
        db.Close();

        db.SetRecordLimit(c.limit);
        db.Open(path);
        EXPECT_EQ(db.GetRingPosition(), c.position) << c.attr << "/" << c.limit;
        const Strings records = Records();
        const size_t p = static_cast<size_t>(db.GetRingPosition());
        Strings ordered(records.begin() + (p - 1), records.end());
        ordered.insert(ordered.end(), records.begin(), records.begin() + (p - 1));
        EXPECT_EQ(ordered, c.order) << c.attr << "/" << c.limit;
        // The next event lands inside the table, never past its end.
        const int at = db.AddEvent(Event(L"N"));
        EXPECT_GE(at, 1);
        EXPECT_LE(static_cast<uint32_t>(at), db.GetEventCount()) << c.attr << "/" << c.limit;
    }
}

TEST_F(EventLogDbTest, LongMessagesAndAttributesAreSplitAndCut)
{
    db.Open(path);
    std::wstring m300;
    for (int i = 0; i < 300; ++i)
        m300 += static_cast<wchar_t>(L'a' + i % 26);
    std::wstring m600 = m300 + m300;
    // Blanks on both sides of the seam between the two fields belong to the message.
    std::wstring seam = std::wstring(250, L'x') + L"     " + L"  y  z";
    _EVENT_RECORD e = Event(m300);
    e.attribute = std::wstring(40, L'Q');
    db.AddEvent(e);
    db.AddEvent(Event(m600));
    db.AddEvent(Event(seam));
    db.AddEvent(Event(L"  leading blanks"));

    db.GetTable().ReadRecord(1);
    std::wstring msg, msg2, attr;
    db.GetTable().GetFieldValue(CEventLogDb::fieldMsg, msg);
    db.GetTable().GetFieldValue(CEventLogDb::fieldMsg2, msg2);
    db.GetTable().GetFieldValue(CEventLogDb::fieldAttr, attr);
    EXPECT_EQ(msg, m300.substr(0, 255));
    EXPECT_EQ(msg2, m300.substr(255));
    EXPECT_EQ(msg2.size(), 45u);
    EXPECT_EQ(attr, std::wstring(32, L'Q'));

    _EVENT_RECORD back;
    db.ReadEvent(1, back);
    EXPECT_EQ(back.message, m300);
    db.ReadEvent(2, back);
    EXPECT_EQ(back.message, m600.substr(0, 510));
    db.ReadEvent(3, back);
    EXPECT_EQ(back.message, seam);
    db.ReadEvent(4, back);
    EXPECT_EQ(back.message, L"  leading blanks");
}

TEST_F(EventLogDbTest, EventsReadBackWithTheirFields)
{
    db.Open(path);
    const struct {
        int year, month, day, hour, minute, second;
        int level;
        int32_t id;
        int readYear;
        int readLevel;
        const char* type;
    } cases[] = {
        {2025, 3, 5, 9, 7, 3, EVENT_ERROR, 205, 2025, EVENT_ERROR, "E"},
        {2049, 12, 31, 23, 59, 59, EVENT_WARNING, 519, 2049, EVENT_WARNING, "W"},
        {2050, 1, 1, 0, 0, 0, EVENT_INFO, 246, 1950, EVENT_INFO, "I"},
        {1999, 6, 15, 12, 30, 0, EVENT_NONE, 0, 1999, EVENT_NONE, ""},
        {2000, 2, 29, 1, 2, 3, 7, 99999, 2000, EVENT_NONE, ""},
    };
    for (const auto& c : cases) {
        _EVENT_RECORD e;
        e.time = LocalTime(c.year, c.month, c.day, c.hour, c.minute, c.second);
        e.level = c.level;
        e.stringId = c.id;
        e.attribute = L"COM3";
        e.message = L"m";
        const int at = db.AddEvent(e);
        std::wstring type;
        db.GetTable().ReadRecord(at);
        db.GetTable().GetFieldValue(CEventLogDb::fieldType, type);
        EXPECT_EQ(type, MultiByteToWString(c.type, CP_ACP)) << c.year;

        _EVENT_RECORD back;
        db.ReadEvent(at, back);
        const SYSTEMTIME local = LocalOf(back.time);
        EXPECT_EQ(local.wYear, c.readYear) << c.year;
        EXPECT_EQ(local.wMonth, c.month) << c.year;
        EXPECT_EQ(local.wDay, c.day) << c.year;
        EXPECT_EQ(local.wHour * 3600 + local.wMinute * 60 + local.wSecond, c.hour * 3600 + c.minute * 60 + c.second);
        if (c.readYear >= 1970) {
            EXPECT_EQ(back.time, LocalTime(c.year, c.month, c.day, c.hour, c.minute, c.second)) << c.year;
        }
        EXPECT_EQ(back.level, c.readLevel) << c.year;
        EXPECT_EQ(back.stringId, c.id) << c.year;
        EXPECT_EQ(back.attribute, L"COM3");
        EXPECT_EQ(back.message, L"m");
    }
}

TEST_F(EventLogDbTest, RecordsWrittenByOthersAreDecodedLeniently)
{
    db.Open(path);
    db.AddEvent(Event(L"x"));
    CDbf& t = db.GetTable();
    const struct {
        const char* date;
        const char* time;
        const char* type;
        bool hasTime;
        int level;
    } cases[] = {
        {"05.03.25", "32823", "w", true, EVENT_WARNING},
        {"05.03.25", "", "e", true, EVENT_ERROR},      // midnight
        {"", "32823", "I", false, EVENT_INFO},          // no date: no time
        {"05.03.25", "99999", "X", true, EVENT_NONE},   // hours beyond a day wrap
    };
    for (const auto& c : cases) {
        t.ReadRecord(1);
        t.SetFieldValue(CEventLogDb::fieldDate, c.date);
        t.SetFieldValue(CEventLogDb::fieldTime, c.time);
        t.SetFieldValue(CEventLogDb::fieldType, c.type);
        t.FlushRecord();
        _EVENT_RECORD back;
        db.ReadEvent(1, back);
        EXPECT_EQ(back.level, c.level) << c.type;
        EXPECT_EQ(back.time != 0, c.hasTime) << c.type;
    }
    _EVENT_RECORD back;
    db.ReadEvent(1, back);
    EXPECT_EQ(back.time, LocalTime(2025, 3, 5, 3, 46, 39));   // 99999 s: 27:46:39 -> 03:46:39
}

TEST_F(EventLogDbTest, TablesOfAnotherLayoutAreReplaced)
{
    auto layout = [](const char* attrName, char typeType, uint8_t attrLength) {
        std::vector<DbfFieldDescriptor> f(CEventLogDb::GetFieldDescriptors(),
                                          CEventLogDb::GetFieldDescriptors() + CEventLogDb::fieldCount);
        f[CEventLogDb::fieldAttr] = MakeDbfField(attrName, 'C', attrLength);
        f[CEventLogDb::fieldType] = MakeDbfField("TYPE", typeType, 1);
        return f;
    };
    const struct {
        const char* what;
        std::vector<DbfFieldDescriptor> fields;
        bool kept;
    } cases[] = {
        {"same layout", layout("ATTR", 'C', 32), true},
        {"longer ATTR", layout("ATTR", 'C', 40), true},
        {"numeric TYPE", layout("ATTR", 'N', 32), false},
        {"renamed field", layout("SENDER", 'C', 32), false},
        {"shorter ATTR", layout("ATTR", 'C', 20), false},
    };
    for (const auto& c : cases) {
        db.Close();
        {
            CDbf other;
            other.Create(path, c.fields.data());
            other.AppendBlankRecords(3);
            other.ReadRecord(0);
            other.SetFieldValue(CEventLogDb::fieldAttr, "3");
            other.ReadRecord(1);
            other.SetFieldValue(CEventLogDb::fieldMsg, "old 1");
            other.ReadRecord(2);
            other.SetFieldValue(CEventLogDb::fieldMsg, "old 2");
            other.FlushRecord();
        }
        db.Open(path);
        EXPECT_EQ(db.GetEventCount(), c.kept ? 2u : 0u) << c.what;
        if (c.kept) {
            EXPECT_EQ(Records(), (Strings{L"old 1", L"old 2"})) << c.what;
            EXPECT_EQ(db.GetRingPosition(), 3) << c.what;
            db.AddEvent(Event(L"new"));
            EXPECT_EQ(Records(), (Strings{L"old 1", L"old 2", L"new"})) << c.what;
        } else {
            EXPECT_EQ(ReadAll(path).size(), 257u + 562u) << c.what;
        }
    }
}

TEST_F(EventLogDbTest, DamagedOrEmptyFilesAreReplaced)
{
    const struct {
        const char* what;
        Bytes content;
    } cases[] = {
        {"empty file", {}},
        {"text", {'h', 'e', 'l', 'l', 'o'}},
        {"header only", {}},   // filled below: a valid header without records
    };
    for (const auto& c : cases) {
        db.Close();
        if (std::string(c.what) == "header only") {
            CDbf other;
            other.Create(path, CEventLogDb::GetFieldDescriptors());
        } else {
            WriteAll(path, c.content);
        }
        db.Open(path);
        EXPECT_TRUE(db.IsOpen()) << c.what;
        EXPECT_EQ(db.GetTable().GetRecordCount(), 1u) << c.what;
        EXPECT_EQ(HeaderAttr(), L"1") << c.what;
    }
}

TEST_F(EventLogDbTest, TruncatedTableKeepsItsWholeRecords)
{
    db.Open(path);
    Add({L"A", L"B", L"C"});
    db.Close();
    Bytes bytes = ReadAll(path);
    bytes.resize(bytes.size() - 100);   // the last record cut short
    WriteAll(path, bytes);

    db.Open(path);
    EXPECT_EQ(Records(), (Strings{L"A", L"B"}));
    EXPECT_EQ(db.GetRingPosition(), 3);   // the stored 4 lay past the records
    EXPECT_EQ(db.AddEvent(Event(L"D")), 3);
    db.Close();
    db.Open(path);
    EXPECT_EQ(Records(), (Strings{L"A", L"B", L"D"}));
}

TEST_F(EventLogDbTest, LockedOrMissingPlacesThrowAndLoseNothing)
{
    db.Open(path);
    Add({L"A", L"B"});
    db.Close();
    const Bytes before = ReadAll(path);
    {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_THROW(db.Open(path), CFileException);
        EXPECT_FALSE(db.IsOpen());
        CloseHandle(h);
    }
    EXPECT_EQ(ReadAll(path), before);

    EXPECT_THROW(db.Open(folder.File(L"missing\\EventLog.dbf")), CFileException);
    EXPECT_FALSE(db.IsOpen());
    EXPECT_THROW(db.Open(folder.Path()), CFileException);   // a folder is not replaced
    EXPECT_FALSE(db.IsOpen());
}

TEST_F(EventLogDbTest, ClearLeavesTheHeaderRecord)
{
    db.SetRecordLimit(3);
    db.Open(path);
    Add({L"A", L"B", L"C", L"D"});
    db.Clear();
    EXPECT_EQ(db.GetTable().GetRecordCount(), 1u);
    EXPECT_EQ(db.GetRingPosition(), 1);
    EXPECT_EQ(HeaderAttr(), L"1");
    EXPECT_EQ(ReadAll(path).size(), 257u + 562u);
    EXPECT_EQ(db.AddEvent(Event(L"E")), 1);
    EXPECT_EQ(Records(), (Strings{L"E"}));
}

TEST_F(EventLogDbTest, RefusedEventLeavesTheRingAsItWas)
{
    // A full ring (the event would overwrite) and one with room (it would be appended).
    for (int32_t limit : {2, 10}) {
        db.Close();
        DeleteFileW(path.c_str());
        db.SetRecordLimit(limit);
        db.Open(path);
        Add({L"A", L"B"});
        const int32_t position = db.GetRingPosition();
        db.Close();
        const Bytes before = ReadAll(path);
        db.Open(path);
        EXPECT_THROW(db.AddEvent(Event(L"C", EVENT_INFO, 123456)), CDbfException) << limit;
        EXPECT_THROW(db.AddEvent(Event(L"C", EVENT_INFO, -10000)), CDbfException) << limit;
        EXPECT_EQ(db.GetRingPosition(), position) << limit;
        EXPECT_EQ(db.GetEventCount(), 2u) << limit;
        db.Close();
        EXPECT_EQ(ReadAll(path), before) << limit;
        db.Open(path);
        EXPECT_EQ(Records(), (Strings{L"A", L"B"})) << limit;
    }
}

TEST_F(EventLogDbTest, CloseWritesAChangedRecord)
{
    db.Open(path);
    db.AddEvent(Event(L"A"));
    db.GetTable().ReadRecord(1);
    db.WriteEventFields(Event(L"changed"));
    db.Close();
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(db.GetEventCount(), 0u);
    db.Open(path);
    EXPECT_EQ(Records(), (Strings{L"changed"}));
}

} // namespace
