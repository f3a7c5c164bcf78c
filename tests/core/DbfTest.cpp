#include "core/Dbf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::wstring& path)
{
    CFile f;
    EXPECT_TRUE(f.Open(path.c_str(), CFile::modeRead | CFile::shareRead));
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

std::string Narrow(const std::wstring& w)
{
    return WStringToMultiByte(w, CP_ACP);
}

// The fields of the program's event table.
const DbfFieldDescriptor kEventFields[7] = {
    MakeDbfField("DATE", 'D', 8),   MakeDbfField("TIME", 'N', 5),  MakeDbfField("TYPE", 'C', 1),
    MakeDbfField("STRID", 'N', 5),  MakeDbfField("ATTR", 'C', 32), MakeDbfField("MSG", 'C', 255),
    MakeDbfField("MSG2", 'C', 255),
};

// One field of every kind.
const DbfFieldDescriptor kMixedFields[7] = {
    MakeDbfField("D", 'D', 8),      MakeDbfField("L", 'L', 1),     MakeDbfField("C", 'C', 10),
    MakeDbfField("N", 'N', 5),      MakeDbfField("F", 'F', 8, 2),  MakeDbfField("TEXT", 'C', 20),
    MakeDbfField("F1", 'F', 4, 1),
};
enum { fD, fL, fC, fN, fF, fText, fF1 };
constexpr unsigned kMixedRecord = 1 + 8 + 1 + 10 + 5 + 8 + 20 + 4;

class DbfTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir = std::wstring(temp) + L"nv_dbf_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir.c_str(), nullptr);
        path = dir + L"\\table.dbf";
    }
    void TearDown() override
    {
        db.Close();
        DeleteFileW(path.c_str());
        DeleteFileW((dir + L"\\other.dbf").c_str());
        RemoveDirectoryW(dir.c_str());
    }
    std::string Raw(int field) const
    {
        int offset = 1;
        for (int i = 0; i < field; ++i)
            offset += db.GetField(i).length;
        const auto& rec = db.GetRecordBuffer();
        return std::string(rec.begin() + offset, rec.begin() + offset + db.GetField(field).length);
    }
    std::string Get(int field) const
    {
        char out[300];
        const int n = db.GetFieldValue(field, out, sizeof out);
        EXPECT_EQ(n, static_cast<int>(std::strlen(out)));
        return out;
    }
    // A table of `count` records whose ATTR field holds r0, r1, ...
    void MakeNumbered(int count)
    {
        db.Create(path, kEventFields);
        for (int r = 0; r < count; ++r) {
            db.AppendBlankRecords(1);
            db.SetFieldValue(4, ("r" + std::to_string(r)).c_str());
            db.FlushRecord();
        }
    }
    std::vector<std::string> Attrs()
    {
        std::vector<std::string> out;
        for (uint32_t r = 0; r < db.GetRecordCount(); ++r) {
            db.ReadRecord(static_cast<int>(r));
            out.push_back(Get(4));
        }
        return out;
    }

    std::wstring dir, path;
    CDbf db;
};

TEST_F(DbfTest, CreatedTableMatchesGoldenFile)
{
    SYSTEMTIME before;
    GetLocalTime(&before);
    db.Create(path, kEventFields);
    SYSTEMTIME after;
    GetLocalTime(&after);
    EXPECT_EQ(db.GetHeader().headerLength, 257);
    EXPECT_EQ(db.GetHeader().recordLength, 562);
    EXPECT_EQ(db.GetCodeMode(), CDbf::codeOem);
    db.Close();

    const Bytes file = ReadAll(path);
    const Bytes golden = ReadAll(NORVANE_TEST_DATA L"/empty7.dbf");
    ASSERT_EQ(file.size(), 257u);
    ASSERT_EQ(golden.size(), 257u);
    EXPECT_EQ(file[29], 0x26);
    EXPECT_EQ(file[256], 0x0D);
    // Bytes 1-3 are the date of the last update; the golden file holds zeros there.
    for (size_t i = 0; i < file.size(); ++i) {
        if (i >= 1 && i <= 3)
            continue;
        EXPECT_EQ(file[i], golden[i]) << "offset " << i;
    }
    const auto dateOf = [](const SYSTEMTIME& t) {
        return std::vector<int>{t.wYear - 1900, t.wMonth, t.wDay};
    };
    const std::vector<int> stamped = {file[1], file[2], file[3]};
    EXPECT_TRUE(stamped == dateOf(before) || stamped == dateOf(after));
}

TEST_F(DbfTest, FieldEncodingsRoundTrip)
{
    db.Create(path, kMixedFields);
    db.AppendBlankRecords(1);
    const struct { int field; const char* in; const char* stored; const char* out; } cases[] = {
        {fD, "05.03.24", "20240305", "05.03.24"},
        {fD, "05.03.99", "19990305", "05.03.99"},
        {fD, "31.12.50", "20501231", "31.12.50"},
        {fD, "01.01.51", "19510101", "01.01.51"},
        {fD, "05.03.24   ", "20240305", "05.03.24"},   // trailing blanks ignored
        {fD, "", "        ", ""},
        {fL, "yes", "T", "True"},
        {fL, "TRUE", "T", "True"},
        {fL, "no", "F", "False"},
        {fL, "False", "F", "False"},
        {fL, "maybe", " ", "False"},
        {fL, "", " ", "False"},
        {fC, "abc", "abc       ", "abc"},
        {fC, "abcdefghij", "abcdefghij", "abcdefghij"},
        {fC, "  x", "  x       ", "x"},
        {fC, "abc      ", "abc       ", "abc"},
        {fN, "42", "   42", "42"},
        {fN, "12345", "12345", "12345"},
        {fN, "-7", "   -7", "-7"},
        {fF, "3.14159", "    3.14", "3.14"},
        {fF, "0.5", "     .50", ".50"},
        {fF, "-0.5", "    -.50", "-.50"},
        {fF, "-12.25", "  -12.25", "-12.25"},
        {fF, "99999.99", "99999.99", "99999.99"},
        {fF, "1e3", " 1000.00", "1000.00"},
        {fF, "0", "     .00", ".00"},
        {fF1, "12.3", "12.3", "12.3"},
        {fF1, "7", " 7.0", "7.0"},
    };
    for (const auto& c : cases) {
        db.SetFieldValue(c.field, c.in);
        EXPECT_TRUE(db.IsDirty());
        EXPECT_EQ(Raw(c.field), c.stored) << "input '" << c.in << "'";
        EXPECT_EQ(Get(c.field), c.out) << "input '" << c.in << "'";
    }
}

TEST_F(DbfTest, BadValuesAreRefused)
{
    db.Create(path, kMixedFields);
    db.AppendBlankRecords(1);
    const struct { int field; const char* in; bool blanked; } cases[] = {
        {fC, "abcdefghijk", false},      // longer than the field: untouched
        {fN, "123456", false},
        {fL, "truest", false},           // L takes up to five characters
        {fD, "05.03.2024", false},
        {fD, "5.3.24", true},            // fewer than eight characters: blanked, then refused
        {fD, "32.01.24", true},          // day, month and year must be in range
        {fD, "00.01.24", true},
        {fD, "05.13.24", true},
        {fD, "05.00.24", true},
        {fD, "-1.-1.24", true},
        {fD, "ab.cd.ef", true},
        {fF, "999999.9", false},         // formats to 9 characters
        {fF1, "999", false},             // "999.0" does not fit four
        {fF1, "12345", false},
    };
    for (const auto& c : cases) {
        db.SetFieldValue(c.field, c.field == fD ? "01.02.03" : c.field == fL ? "yes" : "1");
        const std::string before = Raw(c.field);
        try {
            db.SetFieldValue(c.field, c.in);
            ADD_FAILURE() << "accepted '" << c.in << "'";
        } catch (const CDbfException& e) {
            EXPECT_EQ(e.GetCause(), CDbfException::badValue);
            EXPECT_EQ(std::string(e.what()), "Bad Value (" + Narrow(path) + ")");
        }
        EXPECT_EQ(Raw(c.field), c.blanked ? std::string(db.GetField(c.field).length, ' ') : before)
            << "input '" << c.in << "'";
    }
    EXPECT_THROW(db.SetFieldValue(7, "x"), CDbfException);
    EXPECT_THROW(db.SetFieldValue(-1, "x"), CDbfException);
}

TEST_F(DbfTest, CyrillicTextIsStoredInCodePage866)
{
    const std::wstring text = L"\x041F\x0440\x0438\x0432\x0435\x0442 \x0451\x0416";   // Привет ёЖ
    const std::string oem = "\x8F\xE0\xA8\xA2\xA5\xE2 \xF1\x86";
    db.Create(path, kMixedFields);
    db.AppendBlankRecords(1);
    db.SetFieldValue(fText, text);
    EXPECT_EQ(Raw(fText), oem + std::string(20 - oem.size(), ' '));
    db.FlushRecord();
    db.Close();

    const Bytes file = ReadAll(path);
    const size_t at = 257 + 1 + 8 + 1 + 10 + 5 + 8;
    EXPECT_EQ(std::string(file.begin() + at, file.begin() + at + oem.size()), oem);

    db.Open(path, true);
    db.ReadRecord(0);
    std::wstring back;
    EXPECT_EQ(db.GetFieldValue(fText, back), static_cast<int>(text.size()));
    EXPECT_EQ(back, text);
}

TEST_F(DbfTest, ValuesSurviveReopen)
{
    db.Create(path, kMixedFields);
    db.AppendBlankRecords(2);
    db.ReadRecord(0);
    db.SetFieldValue(fD, "05.03.24");
    db.SetFieldValue(fL, "yes");
    db.SetFieldValue(fC, "first");
    db.SetFieldValue(fN, "17");
    db.SetFieldValue(fF, "2.5");
    db.ReadRecord(1);                    // flushes record 0
    db.SetFieldValue(fC, "second");
    db.FlushRecord();
    db.Close();

    EXPECT_EQ(ReadAll(path).size(), 257u + 2 * kMixedRecord);
    db.Open(path, true);
    EXPECT_EQ(db.GetRecordCount(), 2u);
    EXPECT_EQ(db.GetField(fF).decimals, 2);
    EXPECT_STREQ(db.GetField(fText).name, "TEXT");
    db.ReadRecord(0);
    EXPECT_EQ(Get(fD), "05.03.24");
    EXPECT_EQ(Get(fL), "True");
    EXPECT_EQ(Get(fC), "first");
    EXPECT_EQ(Get(fN), "17");
    EXPECT_EQ(Get(fF), "2.50");
    db.ReadRecord(1);
    EXPECT_EQ(Get(fC), "second");
    EXPECT_EQ(Get(fD), "");
    EXPECT_THROW(db.ReadRecord(2), CDbfException);
    EXPECT_THROW(db.ReadRecord(-1), CDbfException);
}

TEST_F(DbfTest, GetFieldValueRespectsRoom)
{
    db.Create(path, kMixedFields);
    db.AppendBlankRecords(1);
    db.SetFieldValue(fC, "abcd");
    db.SetFieldValue(fD, "05.03.24");
    char out[16] = "zzzz";
    EXPECT_EQ(db.GetFieldValue(fC, out, 4), 0);      // 4 characters need room 5
    EXPECT_EQ(db.GetFieldValue(fC, out, 5), 4);
    EXPECT_STREQ(out, "abcd");
    EXPECT_EQ(db.GetFieldValue(fD, out, 8), 0);
    EXPECT_EQ(db.GetFieldValue(fD, out, 9), 8);
    EXPECT_STREQ(out, "05.03.24");
}

TEST_F(DbfTest, FlushUpdatesHeaderDate)
{
    db.Create(path, kMixedFields);
    db.AppendBlankRecords(1);
    db.Close();
    Bytes file = ReadAll(path);
    file[1] = 100;   // 2000-01-01
    file[2] = 1;
    file[3] = 1;
    WriteAll(path, file);

    db.Open(path, false);
    db.ReadRecord(0);
    db.SetFieldValue(fC, "x");
    db.FlushRecord();
    EXPECT_FALSE(db.IsDirty());
    db.Close();
    file = ReadAll(path);
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(file[1], now.wYear - 1900);
    EXPECT_EQ(file[2], now.wMonth);
}

TEST_F(DbfTest, ReadOnlyTableRefusesWrites)
{
    db.Create(path, kMixedFields);
    db.AppendBlankRecords(1);
    db.Close();
    db.Open(path, true);
    db.ReadRecord(0);
    db.SetFieldValue(fC, "x");
    EXPECT_THROW(db.FlushRecord(), CFileException);
}

TEST_F(DbfTest, AppendBlankRecords)
{
    db.Create(path, kMixedFields);
    db.AppendBlankRecords(0);
    db.AppendBlankRecords(-3);
    EXPECT_EQ(db.GetRecordCount(), 0u);
    EXPECT_EQ(db.GetCurrentRecord(), -1);
    db.AppendBlankRecords(3);
    EXPECT_EQ(db.GetRecordCount(), 3u);
    EXPECT_EQ(db.GetCurrentRecord(), 2);
    db.Close();
    const Bytes file = ReadAll(path);
    ASSERT_EQ(file.size(), 257u + 3 * kMixedRecord);
    EXPECT_EQ(file[4], 3);
    for (size_t i = 257; i < file.size(); ++i)
        ASSERT_EQ(file[i], ' ') << i;
}

TEST_F(DbfTest, PackDropsDeletedRecords)
{
    MakeNumbered(4);
    for (int r : {0, 2}) {
        db.ReadRecord(r);
        db.SetRecordDeleted(true);
    }
    db.FlushRecord();
    db.Pack();
    EXPECT_EQ(db.GetRecordCount(), 2u);
    EXPECT_EQ(db.GetCurrentRecord(), -1);
    EXPECT_EQ(Attrs(), (std::vector<std::string>{"r1", "r3"}));
    db.Close();
    EXPECT_EQ(ReadAll(path).size(), 257u + 2 * 562u);
    db.Open(path, true);
    EXPECT_EQ(db.GetRecordCount(), 2u);
}

TEST_F(DbfTest, PackWithoutDeletionsKeepsCurrentRecord)
{
    MakeNumbered(3);
    db.ReadRecord(1);
    db.Pack();
    EXPECT_EQ(db.GetRecordCount(), 3u);
    EXPECT_EQ(db.GetCurrentRecord(), 1);
    EXPECT_EQ(Get(4), "r1");             // the buffer still holds record 1
    db.SetFieldValue(5, "changed");
    db.FlushRecord();
    EXPECT_EQ(Attrs(), (std::vector<std::string>{"r0", "r1", "r2"}));
}

TEST_F(DbfTest, MoveRecordsFromZeroShiftsUp)
{
    MakeNumbered(3);
    db.ReadRecord(0);
    db.MoveRecords(3);
    EXPECT_EQ(db.GetCurrentRecord(), 1);
    EXPECT_EQ(db.GetRecordCount(), 4u);
    EXPECT_EQ(Attrs(), (std::vector<std::string>{"r0", "r0", "r1", "r2"}));
}

TEST_F(DbfTest, MoveRecordsRunToPositionOne)
{
    const struct { int current; int n; std::vector<std::string> after; int last; } cases[] = {
        {3, 2, {"r0", "r3", "r4", "r3", "r4", "r5"}, 2},
        {4, 5, {"r0", "r4", "r5", "r3", "r4", "r5"}, 2},    // cut to the records that exist
        {2, 4, {"r0", "r2", "r3", "r4", "r5", "r5"}, 4},
        {5, 1, {"r0", "r5", "r2", "r3", "r4", "r5"}, 1},
    };
    for (const auto& c : cases) {
        db.Close();
        MakeNumbered(6);
        db.ReadRecord(c.current);
        db.MoveRecords(c.n);
        EXPECT_EQ(db.GetCurrentRecord(), c.last) << c.current << "/" << c.n;
        EXPECT_EQ(Attrs(), c.after) << c.current << "/" << c.n;
    }
}

TEST_F(DbfTest, MoveRecordsThatDoNothingOrAreRefused)
{
    MakeNumbered(3);
    db.ReadRecord(1);
    db.MoveRecords(2);                   // from record 1 nothing moves
    db.ReadRecord(2);
    db.MoveRecords(0);
    EXPECT_EQ(Attrs(), (std::vector<std::string>{"r0", "r1", "r2"}));
    db.Pack();                           // nothing deleted; current record stays
    db.Close();
    db.Open(path, false);
    EXPECT_EQ(db.GetCurrentRecord(), -1);
    EXPECT_THROW(db.MoveRecords(2), CDbfException);
    EXPECT_EQ(Attrs(), (std::vector<std::string>{"r0", "r1", "r2"}));
}

TEST_F(DbfTest, CopyRecordOverwritesOneRecord)
{
    const struct { int from; int to; std::vector<std::string> after; } cases[] = {
        {3, 1, {"r0", "r3", "r2", "r3"}},
        {0, 3, {"r0", "r1", "r2", "r0"}},
        {2, 2, {"r0", "r1", "r2", "r3"}},
    };
    for (const auto& c : cases) {
        db.Close();
        MakeNumbered(4);
        db.ReadRecord(2);
        db.SetRecordDeleted(true);      // a pending change is written before the copy
        db.CopyRecord(c.from, c.to);
        EXPECT_EQ(db.GetCurrentRecord(), c.to);
        EXPECT_EQ(db.IsRecordDeleted(), c.from == 2) << c.from << "->" << c.to;
        EXPECT_EQ(Attrs(), c.after) << c.from << "->" << c.to;
    }
    EXPECT_THROW(db.CopyRecord(1, 4), CDbfException);
    EXPECT_THROW(db.CopyRecord(4, 1), CDbfException);
    EXPECT_THROW(db.CopyRecord(1, -1), CDbfException);
    EXPECT_EQ(db.GetRecordCount(), 4u);
}

TEST_F(DbfTest, TruncateKeepsTheFirstRecords)
{
    MakeNumbered(4);
    db.ReadRecord(3);
    db.SetFieldValue(4, "changed");
    db.Truncate(2);                     // the change is written first, then cut away
    EXPECT_EQ(db.GetCurrentRecord(), -1);
    EXPECT_EQ(Attrs(), (std::vector<std::string>{"r0", "r1"}));
    EXPECT_THROW(db.Truncate(3), CDbfException);
    db.Truncate(0);
    db.Close();
    EXPECT_EQ(ReadAll(path).size(), 257u);
    db.Open(path, false);
    EXPECT_EQ(db.GetRecordCount(), 0u);
}

// A valid table of three records whose bytes the damage cases below start from.
Bytes ValidTable(const std::wstring& path)
{
    CDbf db;
    db.Create(path, kMixedFields);
    db.AppendBlankRecords(3);
    for (int r = 0; r < 3; ++r) {
        db.ReadRecord(r);
        db.SetFieldValue(fC, ("row" + std::to_string(r)).c_str());
        db.SetFieldValue(fD, "05.03.24");
        db.SetFieldValue(fF, "1.25");
    }
    db.FlushRecord();
    db.Close();
    return ReadAll(path);
}

void Put16(Bytes& b, size_t at, unsigned v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

TEST_F(DbfTest, DamagedHeadersAreRefused)
{
    const Bytes valid = ValidTable(path);
    const struct { const char* what; std::function<void(Bytes&)> damage; } cases[] = {
        {"empty file", [](Bytes& b) { b.clear(); }},
        {"short header", [](Bytes& b) { b.resize(20); }},
        {"header cut in the descriptors", [](Bytes& b) { b.resize(200); }},
        {"header length past the end", [](Bytes& b) { Put16(b, 8, 60000); }},
        {"header length too small", [](Bytes& b) { Put16(b, 8, 40); }},
        {"record length disagrees", [](Bytes& b) { Put16(b, 10, kMixedRecord + 1); }},
        {"record length zero", [](Bytes& b) { Put16(b, 10, 0); }},
        {"field length disagrees", [](Bytes& b) { b[32 + 2 * 32 + 16] = 11; }},
        {"field length zero", [](Bytes& b) { b[32 + 16] = 0; }},
        {"terminator missing", [](Bytes& b) { b[256] = 0; }},
        {"header length without terminator room", [](Bytes& b) { Put16(b, 8, 256); }},
    };
    for (const auto& c : cases) {
        Bytes bytes = valid;
        c.damage(bytes);
        WriteAll(path, bytes);
        try {
            db.Open(path, true);
            ADD_FAILURE() << c.what << ": opened";
        } catch (const CDbfException& e) {
            EXPECT_EQ(e.GetCause(), CDbfException::streamError) << c.what;
            EXPECT_EQ(std::string(e.what()), "Stream Error (" + Narrow(path) + ")");
        }
        EXPECT_FALSE(db.IsOpen()) << c.what;
    }
}

TEST_F(DbfTest, TruncatedTableIsReadUpToTheDamage)
{
    Bytes bytes = ValidTable(path);
    bytes.resize(257 + 2 * kMixedRecord + kMixedRecord / 2);
    WriteAll(path, bytes);
    db.Open(path, false);
    EXPECT_EQ(db.GetRecordCount(), 2u);
    db.ReadRecord(1);
    EXPECT_EQ(Get(fC), "row1");
    EXPECT_THROW(db.ReadRecord(2), CDbfException);
    // Appending goes on from the last whole record.
    db.AppendBlankRecords(1);
    db.SetFieldValue(fC, "new");
    db.FlushRecord();
    db.Close();
    EXPECT_EQ(ReadAll(path).size(), 257u + 3 * kMixedRecord);
    db.Open(path, true);
    EXPECT_EQ(db.GetRecordCount(), 3u);
    db.ReadRecord(2);
    EXPECT_EQ(Get(fC), "new");
}

TEST_F(DbfTest, DescriptorsEndAtTerminatorAndLanguageSetsCodeMode)
{
    Bytes bytes = ValidTable(path);
    // Two fields only, then the terminator, in a header that is longer than needed.
    Bytes small(bytes.begin(), bytes.begin() + 32 + 64);
    small.push_back(0x0D);
    small.resize(300, 0);
    Put16(small, 8, 300);
    Put16(small, 10, 1 + 8 + 1);
    const struct { uint8_t language; int mode; } languages[] = {
        {0x26, CDbf::codeOem}, {0x57, CDbf::codeAnsi}, {0x00, CDbf::codeNone}, {0x65, CDbf::codeNone}};
    for (const auto& l : languages) {
        small[29] = l.language;
        Bytes file = small;
        const char record[] = " 20240305T";
        file.insert(file.end(), record, record + 10);
        small[4] = 0;
        file[4] = 1;
        WriteAll(path, file);
        db.Open(path, true);
        EXPECT_EQ(db.GetFieldCount(), 2);
        EXPECT_EQ(db.GetCodeMode(), l.mode);
        EXPECT_EQ(db.GetRecordCount(), 1u);
        db.ReadRecord(0);
        EXPECT_EQ(Get(0), "05.03.24");
        EXPECT_EQ(Get(1), "True");
        db.Close();
    }
}

Bytes Mutate(const Bytes& valid, std::mt19937& rng)
{
    Bytes bytes = valid;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        // Mostly the 32-byte header with its lengths and count, else the descriptors.
        const size_t at = rng() % (rng() % 4 == 0 ? 257 : 32);
        bytes[at] = static_cast<uint8_t>(rng() % 3 == 0 ? rng() % 3 : rng());
    }
    if (rng() % 5 == 0)
        bytes.resize(rng() % bytes.size());
    return bytes;
}

// The header check on its own, over many mutations: whatever it accepts keeps every record
// read inside the file.
TEST_F(DbfTest, MutatedHeaderImagesAreRefusedOrConsistent)
{
    const Bytes valid = ValidTable(path);
    std::mt19937 rng(20240305);
    int accepted = 0, refused = 0;
    for (int round = 0; round < 20000; ++round) {
        const Bytes bytes = Mutate(valid, rng);
        DbfHeader h = {};
        std::vector<DbfFieldDescriptor> fields;
        if (!CDbf::ParseHeaderImage(bytes.data(), bytes.size(), bytes.size(), h, fields)) {
            ++refused;
            continue;
        }
        ++accepted;
        unsigned sum = 1;
        for (const DbfFieldDescriptor& f : fields) {
            ASSERT_GT(f.length, 0);
            sum += f.length;
        }
        ASSERT_EQ(sum, h.recordLength);
        ASSERT_GE(h.headerLength, 32 + 32 * fields.size() + 1);
        ASSERT_EQ(bytes[32 + 32 * fields.size()], 0x0D);
        ASSERT_LE(h.headerLength + static_cast<uint64_t>(h.recordCount) * h.recordLength, bytes.size());
    }
    EXPECT_GT(accepted, 1000);
    EXPECT_GT(refused, 1000);
}

// Through the file: a damaged table opens and reads to its end, or is refused.
TEST_F(DbfTest, MutatedTablesNeverCrash)
{
    const Bytes valid = ValidTable(path);
    std::mt19937 rng(1107);
    int opened = 0, refused = 0;
    char out[300];
    std::wstring wide;
    for (int round = 0; round < 150; ++round) {
        const Bytes bytes = Mutate(valid, rng);
        WriteAll(path, bytes);
        try {
            db.Open(path, true);
        } catch (const CDbfException&) {
            ++refused;
            ASSERT_FALSE(db.IsOpen());
            continue;
        }
        ++opened;
        const DbfHeader& h = db.GetHeader();
        ASSERT_LE(h.headerLength + static_cast<uint64_t>(h.recordCount) * h.recordLength, bytes.size());
        for (uint32_t r = 0; r < h.recordCount; ++r) {
            ASSERT_EQ(db.ReadRecord(static_cast<int>(r)), h.recordLength);
            for (int i = 0; i < db.GetFieldCount(); ++i) {
                const int n = db.GetFieldValue(i, out, sizeof out);
                ASSERT_EQ(n, static_cast<int>(std::strlen(out)));
                db.GetFieldValue(i, wide);
            }
        }
        db.Close();
    }
    EXPECT_GT(opened, 10);
    EXPECT_GT(refused, 10);
}

TEST_F(DbfTest, CreateAndOpenFailuresLeaveTableClosed)
{
    const std::wstring missing = dir + L"\\no\\such\\folder\\t.dbf";
    EXPECT_THROW(db.Create(missing, kEventFields), CFileException);
    EXPECT_FALSE(db.IsOpen());
    EXPECT_THROW(db.Open(missing, true), CFileException);
    EXPECT_FALSE(db.IsOpen());
    DbfFieldDescriptor bad[7];
    std::copy(std::begin(kEventFields), std::end(kEventFields), bad);
    bad[3].length = 0;
    EXPECT_THROW(db.Create(path, bad), CDbfException);
    EXPECT_FALSE(db.IsOpen());
}

} // namespace
