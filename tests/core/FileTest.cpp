#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>
#include "core/File.h"

namespace {

// A fresh folder under the temporary folder for each test, removed afterwards.
class TempFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        wchar_t name[64];
        swprintf(name, 64, L"nvfile_%lu_%lu", GetCurrentProcessId(), GetTickCount());
        m_dir = std::wstring(temp) + name;
        std::filesystem::remove_all(m_dir);
        ASSERT_TRUE(CreateDirectoryW(m_dir.c_str(), nullptr));
    }
    void TearDown() override
    {
        SetUtf8WriteStepHook(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(L"\\\\?\\" + m_dir, ec);
    }

    std::wstring Path(const std::wstring& name) const { return m_dir + L"\\" + name; }

    static void Put(const std::wstring& path, const std::string& bytes)
    {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD written = 0;
        if (!bytes.empty())
            WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
        ASSERT_EQ(bytes.size(), written);
    }

    static std::string Get(const std::wstring& path)
    {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        std::string data;
        char buf[65536];
        DWORD n = 0;
        while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0)
            data.append(buf, n);
        CloseHandle(h);
        return data;
    }

    static bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::vector<std::wstring> Names() const
    {
        std::vector<std::wstring> names;
        for (const auto& e : std::filesystem::directory_iterator(m_dir))
            names.push_back(e.path().filename().wstring());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::wstring m_dir;
};

}  // namespace

// ---- CFile open modes

using CFileOpen = TempFolder;

TEST_F(CFileOpen, CreationModesAgainstRealFiles)
{
    struct Case
    {
        const char* what;
        bool exists;
        UINT mode;
        bool opens;
        int cause;
        const char* contentAfter;
    } cases[] = {
        {"create truncates", true, 0x1002, true, 0, ""},
        {"create, no truncate keeps", true, 0x1000 | 0x2000 | 2, true, 0, "old"},
        {"create, no truncate makes", false, 0x3002, true, 0, ""},
        {"create write-only makes", false, 0x1001, true, 0, ""},
        {"read must exist", false, 0x0000, false, CFileException::fileNotFound, "<missing>"},
        {"read-write must exist", false, 0x0002, false, CFileException::fileNotFound, "<missing>"},
        {"read existing", true, 0x0000, true, 0, "old"},
        {"write existing keeps", true, 0x0001, true, 0, "old"},
        {"no access", true, 0x0003, true, 0, "old"},
        {"os flags and ignored bit", true, 0x8000 | 0x20000 | 0x40000 | 0x80000 | 0x80 | 0x20, true, 0, "old"},
    };
    for (const Case& c : cases)
    {
        std::wstring path = Path(L"f.txt");
        DeleteFileW(path.c_str());
        if (c.exists)
            Put(path, "old");
        CFile file;
        CFileException error;
        EXPECT_EQ(c.opens, file.Open(path.c_str(), c.mode, &error)) << c.what;
        EXPECT_EQ(c.opens, file.IsOpen()) << c.what;
        if (c.opens)
        {
            EXPECT_EQ(path, file.GetFilePath()) << c.what;
        }
        else
        {
            EXPECT_EQ(c.cause, error.m_cause) << c.what;
            EXPECT_EQ(ERROR_FILE_NOT_FOUND, error.m_osError) << c.what;
            EXPECT_EQ(path, error.m_fileName) << c.what;
            EXPECT_TRUE(file.GetFilePath().empty());
        }
        file.Close();
        EXPECT_EQ(c.contentAfter, Get(path)) << c.what;
    }
}

TEST_F(CFileOpen, AccessIsEnforced)
{
    std::wstring path = Path(L"a.txt");
    Put(path, "old");
    CFile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), CFile::modeRead | CFile::shareReadWrite));
    char buf[8] = {};
    EXPECT_EQ(3u, reader.Read(buf, sizeof(buf)));
    EXPECT_STREQ("old", buf);
    try
    {
        reader.Write("x", 1);
        FAIL() << "write through a read handle";
    }
    catch (const CFileException& e)
    {
        EXPECT_EQ(CFileException::accessDenied, e.m_cause);
        EXPECT_EQ(ERROR_ACCESS_DENIED, e.m_osError);
        EXPECT_EQ(path, e.m_fileName);
    }
    CFile writer;
    ASSERT_TRUE(writer.Open(path.c_str(), CFile::modeWrite | CFile::shareReadWrite));
    EXPECT_THROW(writer.Read(buf, 1), CFileException);
}

TEST_F(CFileOpen, SharingWord)
{
    struct Case
    {
        UINT first;
        UINT second;
        bool secondOpens;
    } cases[] = {
        {CFile::modeRead | CFile::shareRead, CFile::modeRead | CFile::shareRead, true},
        {CFile::modeRead | CFile::shareRead, CFile::modeReadWrite | CFile::shareReadWrite, false},
        {CFile::modeRead | CFile::shareReadWrite, CFile::modeWrite | CFile::shareReadWrite, true},
        {CFile::modeRead | CFile::shareWrite, CFile::modeRead | CFile::shareReadWrite, false},
        {CFile::modeRead | CFile::shareWrite, CFile::modeWrite | CFile::shareReadWrite, true},
        {CFile::modeRead | CFile::shareExclusive, CFile::modeRead | CFile::shareReadWrite, false},
        {CFile::modeRead | 0x50, CFile::modeRead | CFile::shareReadWrite, false},
        {CFile::modeRead | 0x00, CFile::modeRead | CFile::shareReadWrite, false},
        {CFile::modeWrite | CFile::shareRead, CFile::modeRead | CFile::shareReadWrite, true},
        // The dBASE table's own modes: a table open with 0x22 lets others only read.
        {0x22, 0x20, false},
        {0x22, 0x40, true},
        {0x22, 0x42, false},
    };
    std::wstring path = Path(L"s.txt");
    Put(path, "data");
    for (const Case& c : cases)
    {
        CFile a, b;
        ASSERT_TRUE(a.Open(path.c_str(), c.first)) << std::hex << c.first;
        CFileException error;
        EXPECT_EQ(c.secondOpens, b.Open(path.c_str(), c.second, &error)) << std::hex << c.first << " " << c.second;
        if (!c.secondOpens)
        {
            EXPECT_EQ(CFileException::sharingViolation, error.m_cause);
            EXPECT_EQ(ERROR_SHARING_VIOLATION, error.m_osError);
        }
    }
}

TEST_F(CFileOpen, InheritanceBit)
{
    std::wstring path = Path(L"i.txt");
    Put(path, "");
    for (UINT mode : {0x0u, 0x80u})
    {
        CFile file;
        ASSERT_TRUE(file.Open(path.c_str(), mode | CFile::shareReadWrite));
        DWORD flags = 0;
        ASSERT_TRUE(GetHandleInformation(file.GetHandle(), &flags));
        EXPECT_EQ(mode == 0, (flags & HANDLE_FLAG_INHERIT) != 0) << mode;
    }
}

TEST_F(CFileOpen, PathLengthLimit)
{
    // 259 characters reach CreateFileW; 260 are refused before any buffer is filled.
    std::wstring prefix = m_dir + L"\\";
    std::wstring path259 = prefix + std::wstring(259 - prefix.size(), L'n');
    ASSERT_EQ(259u, path259.size());
    CFile file;
    CFileException error;
    EXPECT_TRUE(file.Open(path259.c_str(), CFile::modeCreate | CFile::modeWrite, &error)) << error.m_osError;
    file.Close();
    DeleteFileW(path259.c_str());

    const std::wstring refused[] = {
        prefix + std::wstring(260 - prefix.size(), L'n'),
        prefix + std::wstring(2000, L'n'),
        std::wstring(250, L'r'),  // relative: short, but not once it is made full
    };
    SetCurrentDirectoryW(m_dir.c_str());
    for (const std::wstring& path : refused)
    {
        CFile f;
        CFileException e;
        EXPECT_FALSE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite, &e)) << path.size();
        EXPECT_EQ(CFileException::badPath, e.m_cause) << path.size();
        EXPECT_EQ(-1, e.m_osError);
        EXPECT_EQ(path, e.m_fileName);
        EXPECT_FALSE(f.IsOpen());
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    SetCurrentDirectoryW(temp);

    CFile f;
    CFileException e;
    EXPECT_FALSE(f.Open(nullptr, CFile::modeRead, &e));
    EXPECT_EQ(CFileException::badPath, e.m_cause);
    EXPECT_FALSE(f.Open(nullptr, CFile::modeRead));  // no error record: still no throw
}

TEST_F(CFileOpen, MissingFolderIsABadPath)
{
    CFile file;
    CFileException error;
    std::wstring path = Path(L"no\\such\\f.txt");
    EXPECT_FALSE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite, &error));
    EXPECT_EQ(CFileException::badPath, error.m_cause);
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, error.m_osError);
    EXPECT_EQ(WStringToMultiByte(path + L" contains an incorrect path.", CP_ACP), error.what());
}

TEST_F(CFileOpen, RelativePathBecomesFullAndReopenClosesFirst)
{
    Put(Path(L"r1.txt"), "1");
    Put(Path(L"r2.txt"), "22");
    SetCurrentDirectoryW(m_dir.c_str());
    CFile file;
    ASSERT_TRUE(file.Open(L"r1.txt", CFile::modeRead));
    EXPECT_EQ(Path(L"r1.txt"), file.GetFilePath());
    ASSERT_TRUE(file.Open(L"r2.txt", CFile::modeRead | CFile::shareExclusive));
    EXPECT_EQ(2u, file.GetLength());
    // The first handle is gone: an exclusive open of r1 works.
    CFile other;
    EXPECT_TRUE(other.Open(L"r1.txt", CFile::modeReadWrite | CFile::shareExclusive));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    SetCurrentDirectoryW(temp);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(file.GetFilePath().empty());
    file.Close();  // closing a closed file does nothing
}

// ---- CFile operations

using CFileOps = TempFolder;

TEST_F(CFileOps, PositionLengthReadWrite)
{
    std::wstring path = Path(L"o.bin");
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite));
    f.Write("hello world", 11);
    f.Write("", 0);
    EXPECT_EQ(11u, f.GetPosition());
    EXPECT_EQ(11u, f.GetLength());
    EXPECT_EQ(6u, f.Seek(-5, FILE_END));
    char buf[16] = {};
    EXPECT_EQ(5u, f.Read(buf, 5));
    EXPECT_STREQ("world", buf);
    EXPECT_EQ(0u, f.Read(buf, 5));  // at the end
    f.SeekToBegin();
    EXPECT_EQ(0u, f.GetPosition());
    EXPECT_EQ(0u, f.Read(nullptr, 0));
    EXPECT_EQ(3u, f.Seek(3, FILE_CURRENT));
    f.SetLength(5);
    EXPECT_EQ(5u, f.GetLength());
    EXPECT_EQ(5u, f.GetPosition());
    f.SetLength(0x100000000ULL + 7);  // beyond 4 GB: sparse is fine, the length must be 64-bit
    EXPECT_EQ(0x100000000ULL + 7, f.GetLength());
    f.SetLength(5);
    f.Flush();
    f.Close();
    EXPECT_EQ("hello", Get(path));
}

TEST_F(CFileOps, FailuresThrowWithCauseAndPath)
{
    std::wstring path = Path(L"e.bin");
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite));
    try
    {
        f.Seek(-1, FILE_BEGIN);
        FAIL();
    }
    catch (const CFileException& e)
    {
        EXPECT_EQ(CFileException::badSeek, e.m_cause);
        EXPECT_EQ(ERROR_NEGATIVE_SEEK, e.m_osError);
        EXPECT_EQ(path, e.m_fileName);
    }
    f.Close();
    // A closed file: the handle is invalid.
    char c;
    EXPECT_THROW(f.Read(&c, 1), CFileException);
    EXPECT_THROW(f.Write(&c, 1), CFileException);
    EXPECT_THROW(f.GetLength(), CFileException);
    f.Flush();  // nothing to flush
}

TEST_F(CFileOps, ByteRangeLocks)
{
    std::wstring path = Path(L"l.bin");
    Put(path, "0123456789");
    CFile a, b;
    ASSERT_TRUE(a.Open(path.c_str(), CFile::modeReadWrite | CFile::shareReadWrite));
    ASSERT_TRUE(b.Open(path.c_str(), CFile::modeReadWrite | CFile::shareReadWrite));
    a.LockRange(2, 4);
    try
    {
        b.LockRange(5, 1);
        FAIL();
    }
    catch (const CFileException& e)
    {
        EXPECT_EQ(CFileException::lockViolation, e.m_cause);
        EXPECT_EQ(ERROR_LOCK_VIOLATION, e.m_osError);
    }
    b.LockRange(6, 4);  // beside the locked range
    a.UnlockRange(2, 4);
    b.LockRange(2, 4);
    b.UnlockRange(2, 4);
    b.UnlockRange(6, 4);
    EXPECT_THROW(b.UnlockRange(0, 1), CFileException);  // not locked
    a.LockRange(0x100000000ULL, 10);  // above 4 GB
    a.UnlockRange(0x100000000ULL, 10);
}

// ---- UTF-8 text files

using Utf8Files = TempFolder;

TEST_F(Utf8Files, DetectBom)
{
    struct Case
    {
        std::string bytes;
        bool result;
        int bomSize;
        ULONGLONG positionAfter;
    } cases[] = {
        {"", false, 0, 0},
        {"\xEF\xBB", false, 0, 2},
        {"\xEF\xBB\xBF", true, 3, 3},
        {"\xEF\xBB\xBF{}", true, 3, 3},
        {"\xEF\xBB\xBE", false, 0, 3},
        {"{}\n", false, 0, 3},
        {"\xBF\xBB\xEF", false, 0, 3},
    };
    for (const Case& c : cases)
    {
        std::wstring path = Path(L"bom.txt");
        Put(path, c.bytes);
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
        f.Seek(0, FILE_END);  // must rewind itself
        int encoding = 7, bomSize = 9;
        EXPECT_EQ(c.result, DetectUtf8Bom(f, encoding, bomSize)) << c.bytes;
        EXPECT_EQ(c.result ? 1 : 7, encoding);
        EXPECT_EQ(c.bomSize, bomSize);
        EXPECT_EQ(c.positionAfter, f.GetPosition());
    }
}

TEST_F(Utf8Files, ReadRules)
{
    struct Case
    {
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {"", L""},
        {"\xEF\xBB\xBF", L""},
        {"\xEF\xBB\xBF" "a\xC3\xA9\xE2\x82\xAC", L"a\u00e9\u20ac"},
        {"plain", L"plain"},
        {"\xEF\xBB\xBF\xEF\xBB\xBFx", L"\ufeffx"},  // only one mark is dropped
        {"a\r\nb\n", L"a\r\nb\n"},
        {"\xEF\xBB", L"\ufffd"},
        {std::string(100000, 'z'), std::wstring(100000, L'z')},
    };
    for (const Case& c : cases)
    {
        std::wstring path = Path(L"r.txt");
        Put(path, c.bytes);
        std::wstring text = L"stale";
        ReadUtf8TextFile(path, text);
        EXPECT_EQ(c.text, text) << c.bytes.substr(0, 20);
        // The handle was closed: the file can be deleted.
        EXPECT_TRUE(DeleteFileW(path.c_str()));
    }
}

TEST_F(Utf8Files, ReadOfMissingFileThrows)
{
    std::wstring path = Path(L"missing.json");
    try
    {
        std::wstring text;
        ReadUtf8TextFile(path, text);
        FAIL();
    }
    catch (const CFileException& e)
    {
        EXPECT_EQ(CFileException::fileNotFound, e.m_cause);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, e.m_osError);
        EXPECT_EQ(path, e.m_fileName);
    }
    std::wstring text;
    EXPECT_THROW(ReadUtf8TextFile(m_dir, text), CFileException);  // a folder
}

TEST_F(Utf8Files, WriteExactBytes)
{
    struct Case
    {
        std::wstring text;
        int length;
        std::string bytes;
    } cases[] = {
        {L"a\u00e9\u20ac", -1, "\xEF\xBB\xBF" "a\xC3\xA9\xE2\x82\xAC"},
        {L"", -1, ""},
        {L"abcdef", 3, "\xEF\xBB\xBF" "abc"},
        {L"abcdef", 0, ""},
        {L"{\r\n}", -1, "\xEF\xBB\xBF{\r\n}"},
        {L"\U0001F600", -1, "\xEF\xBB\xBF\xF0\x9F\x98\x80"},
    };
    std::wstring path = Path(L"w.json");
    Put(path, std::string(5000, 'O'));  // a longer old file is replaced whole
    for (const Case& c : cases)
    {
        WriteUtf8TextFile(path, c.text.c_str(), c.length);
        EXPECT_EQ(c.bytes, Get(path));
        std::wstring back;
        ReadUtf8TextFile(path, back);
        EXPECT_EQ(c.length < 0 ? c.text : c.text.substr(0, static_cast<size_t>(c.length)), back);
    }
    EXPECT_EQ(std::vector<std::wstring>{L"w.json"}, Names());  // no temporary file left
    WriteUtf8TextFile(Path(L"new.json"), std::wstring(L"n"));
    EXPECT_EQ("\xEF\xBB\xBFn", Get(Path(L"new.json")));
}

namespace {
std::wstring g_seenTemp;
std::string g_seenTempContent;

void FailAfterTempWritten(const std::wstring& tempPath)
{
    g_seenTemp = tempPath;
    HANDLE h = CreateFileW(tempPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char buf[64] = {};
    DWORD n = 0;
    if (h != INVALID_HANDLE_VALUE)
    {
        ReadFile(h, buf, sizeof(buf), &n, nullptr);
        CloseHandle(h);
    }
    g_seenTempContent.assign(buf, n);
    throw CFileException(CFileException::diskFull, -1, tempPath);
}
}  // namespace

TEST_F(Utf8Files, FailureBetweenWriteAndReplaceKeepsTheOldFile)
{
    std::wstring path = Path(L"Norvane.json");
    Put(path, "\xEF\xBB\xBF{\"old\":1}");
    SetUtf8WriteStepHook(&FailAfterTempWritten);
    EXPECT_THROW(WriteUtf8TextFile(path, std::wstring(L"{\"new\":2}")), CFileException);
    SetUtf8WriteStepHook(nullptr);
    // The new text was complete in a file of the same folder ...
    std::wstring folder = g_seenTemp.substr(0, g_seenTemp.find_last_of(L'\\'));
    EXPECT_EQ(0, _wcsicmp(m_dir.c_str(), folder.c_str())) << g_seenTemp;
    EXPECT_EQ("\xEF\xBB\xBF{\"new\":2}", g_seenTempContent);
    // ... the target still holds the old text, and the temporary file is gone.
    EXPECT_EQ("\xEF\xBB\xBF{\"old\":1}", Get(path));
    EXPECT_EQ(std::vector<std::wstring>{L"Norvane.json"}, Names());
    // The next save goes through.
    WriteUtf8TextFile(path, std::wstring(L"{\"new\":2}"));
    EXPECT_EQ("\xEF\xBB\xBF{\"new\":2}", Get(path));
}

TEST_F(Utf8Files, ReplaceRefusedKeepsTheOldFile)
{
    std::wstring path = Path(L"locked.json");
    Put(path, "old");
    {
        // Open without delete sharing: the target cannot be replaced while this is held.
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        EXPECT_THROW(WriteUtf8TextFile(path, std::wstring(L"new")), CFileException);
        CloseHandle(h);
    }
    EXPECT_EQ("old", Get(path));
    EXPECT_EQ(std::vector<std::wstring>{L"locked.json"}, Names());

    std::wstring missing = Path(L"no\\such\\dir\\x.json");
    try
    {
        WriteUtf8TextFile(missing, std::wstring(L"x"));
        FAIL();
    }
    catch (const CFileException& e)
    {
        EXPECT_EQ(CFileException::badPath, e.m_cause);
        EXPECT_EQ(missing, e.m_fileName);
    }
    EXPECT_EQ(std::vector<std::wstring>{L"locked.json"}, Names());
}

// ---- log append and rotation

using LogFiles = TempFolder;

TEST(LogRotation, OldFileNames)
{
    struct Case
    {
        const wchar_t* path;
        const wchar_t* old;
    } cases[] = {
        {L"C:\\data\\Norvane.log", L"C:\\data\\Norvane_old.log"},
        {L"C:\\data.d\\log", L"C:\\data.d\\log_old.log"},
        {L"C:\\data\\trans.txt", L"C:\\data\\trans_old.log"},
        {L"C:\\data\\a.b.log", L"C:\\data\\a.b_old.log"},
        {L"C:x.log", L"C:x_old.log"},
        {L"C:.d", L"C:_old.log"},
        {L"name", L"name_old.log"},
        {L"a.d:b", L"a.d:b_old.log"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.old, GetRotatedLogName(c.path)) << c.path;
}

TEST_F(LogFiles, AppendsExactBytes)
{
    std::wstring path = Path(L"t.log");
    EXPECT_TRUE(AppendToLogFile("abc", path));
    EXPECT_TRUE(AppendToLogFile("defgh", path, 2));
    EXPECT_TRUE(AppendToLogFile("", path));
    EXPECT_TRUE(AppendToLogFile("x\r\n", path, -1, -1));
    EXPECT_EQ("abcdex\r\n", Get(path));
    EXPECT_EQ(std::vector<std::wstring>{L"t.log"}, Names());
}

TEST_F(LogFiles, LimitZeroRotatesBeforeEveryAppend)
{
    std::wstring path = Path(L"Norvane.log");
    EXPECT_TRUE(AppendToLogFile("one\n", path, -1, 0));
    EXPECT_TRUE(AppendToLogFile("two\n", path, -1, 0));
    EXPECT_EQ("two\n", Get(path));
    EXPECT_EQ("one\n", Get(Path(L"Norvane_old.log")));
    EXPECT_TRUE(AppendToLogFile("three\n", path, -1, 0));
    EXPECT_EQ("three\n", Get(path));
    EXPECT_EQ("two\n", Get(Path(L"Norvane_old.log")));  // the older old file was replaced
}

TEST_F(LogFiles, LimitInWholeMegabytes)
{
    struct Case
    {
        size_t size;
        int limit;
        bool rotates;
    } cases[] = {
        {1048575, 1, false},
        {1048576, 1, true},
        {1048577, 1, true},
        {2097151, 2, false},
        {2097152, 2, true},
        {1048576, -1, false},
        {0, 1, false},
    };
    for (const Case& c : cases)
    {
        std::wstring path = Path(L"x.log");
        std::wstring old = Path(L"x_old.log");
        DeleteFileW(old.c_str());
        Put(path, std::string(c.size, 'a'));
        EXPECT_TRUE(AppendToLogFile("END", path, -1, c.limit)) << c.size;
        std::string now = Get(path);
        if (c.rotates)
        {
            EXPECT_EQ("END", now) << c.size;
            EXPECT_EQ(c.size, Get(old).size()) << c.size;
        }
        else
        {
            EXPECT_EQ(c.size + 3, now.size()) << c.size;
            EXPECT_EQ("END", now.substr(now.size() - 3));
            EXPECT_FALSE(Exists(old)) << c.size;
        }
    }
}

TEST_F(LogFiles, OldNameTakenByAFolderKeepsAppending)
{
    std::wstring path = Path(L"d.log");
    ASSERT_TRUE(CreateDirectoryW(Path(L"d_old.log").c_str(), nullptr));
    Put(path, "first\n");
    EXPECT_TRUE(AppendToLogFile("second\n", path, -1, 0));
    EXPECT_EQ("first\nsecond\n", Get(path));
}

TEST_F(LogFiles, FailureReportsTheSystemError)
{
    SetLastError(0);
    EXPECT_FALSE(AppendToLogFile("x", Path(L"no\\such\\f.log")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    // Held without write sharing by another writer.
    std::wstring path = Path(L"busy.log");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_FALSE(AppendToLogFile("x", path));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    CloseHandle(h);
    EXPECT_TRUE(AppendToLogFile("x", path));
}

// ---- path helpers

TEST(PathHelpers, FindExtension)
{
    struct Case
    {
        const wchar_t* path;
        const wchar_t* ext;
    } cases[] = {
        {L"C:\\a\\b.txt", L".txt"}, {L"C:\\a.d\\b", L""},   {L"b.tar.gz", L".gz"}, {L".hidden", L".hidden"},
        {L"noext", L""},            {L"C:\\dir\\", L""},    {L"a.", L"."},         {L"", L""},
        {L"C:\\x.wav", L".wav"},    {L"a.b\\c.d\\e", L""},
    };
    for (const Case& c : cases)
    {
        const wchar_t* ext = FindExtension(c.path);
        EXPECT_STREQ(c.ext, ext) << c.path;
        EXPECT_TRUE(ext >= c.path && ext <= c.path + wcslen(c.path));
    }
}

TEST(PathHelpers, GetRelativeSubPath)
{
    struct Case
    {
        const wchar_t* path;
        const wchar_t* base;
        const wchar_t* rest;
    } cases[] = {
        {L"C:\\Data\\x\\y.nv2", L"c:\\data\\", L"x\\y.nv2"},
        {L"C:\\Data\\x\\y.nv2", L"C:\\Dat", L""},
        {L"C:\\Data\\x\\y.nv2", L"C:\\Data\\\\", L"x\\y.nv2"},
        {L"C:\\Data\\x", L"C:\\Data", L"x"},
        {L"C:\\Data", L"C:\\Data", L""},
        {L"C:\\Data\\", L"C:\\Data", L""},
        {L"C:\\Datax\\y", L"C:\\Data", L""},
        {L"D:\\Data\\x", L"C:\\Data", L""},
        {L"C:\\Data\\x", L"C:\\Data\\x\\y", L""},
    };
    for (const Case& c : cases)
    {
        const wchar_t* rest = GetRelativeSubPath(c.path, c.base);
        EXPECT_STREQ(c.rest, rest) << c.path << " / " << c.base;
        EXPECT_TRUE(rest >= c.path && rest <= c.path + wcslen(c.path));
    }
}

TEST(PathHelpers, GetDriveAndDirectory)
{
    struct Case
    {
        std::wstring path;
        std::wstring out;
    } cases[] = {
        {L"C:\\dir\\sub\\file.txt", L"C:\\dir\\sub\\"},
        {L"file.txt", L""},
        {L"C:file", L"C:"},
        {L"C:\\f", L"C:\\"},
        {L"\\\\server\\share\\f", L"\\\\server\\share\\"},
        {L"dir/x.txt", L"dir/"},
        {L"C:\\dir\\", L"C:\\dir\\"},
        {L"C:\\" + std::wstring(253, L'd') + L"\\f", L"C:\\" + std::wstring(253, L'd') + L"\\"},
        {L"C:\\" + std::wstring(254, L'd') + L"\\f", L""},  // directory part beyond 255
    };
    for (const Case& c : cases)
    {
        std::wstring out = L"stale";
        GetDriveAndDirectory(c.path.c_str(), out);
        EXPECT_EQ(c.out, out) << c.path;
    }
}

TEST(PathHelpers, StripFileName)
{
    struct Case
    {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"C:\\dir\\file", L"C:\\dir"}, {L"C:file", L"C:"}, {L"C:\\file", L"C:"}, {L"file", L"file"},
        {L"dir\\", L"dir"},             {L"\\", L""},       {L"", L""},           {L"a\\b:c", L"a\\b:"},
    };
    for (const Case& c : cases)
    {
        std::wstring s = c.in;
        StripFileName(s);
        EXPECT_EQ(c.out, s) << c.in;
    }
}

TEST(PathHelpers, ComparePathsByComponent)
{
    struct Case
    {
        const wchar_t* a;
        const wchar_t* b;
        bool less;
    } cases[] = {
        {L"a", L"b", true},
        {L"b", L"a", false},
        {L"A", L"a", false},
        {L"a", L"A", false},
        {L"x\\y", L"z", true},  // a folder's contents before the plain files above it
        {L"z", L"x\\y", false},
        {L"a\\x", L"ab\\x", true},
        {L"ab\\x", L"a\\x", false},
        {L"Sounds\\b.wav", L"sounds\\A.wav", false},
        {L"sounds\\A.wav", L"Sounds\\b.wav", true},
        {L"a\\b\\c", L"a\\b\\c", false},
        {L"a\\b", L"a\\b\\c", false},
        {L"a\\b\\c", L"a\\b", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.less, ComparePathsByComponent(c.a, c.b)) << c.a << " < " << c.b;

    std::vector<std::wstring> paths = {L"b.txt", L"a\\z.txt", L"A.txt", L"a\\b\\c.txt", L"c\\d.txt"};
    std::sort(paths.begin(), paths.end(),
              [](const std::wstring& x, const std::wstring& y) { return ComparePathsByComponent(x, y); });
    EXPECT_EQ((std::vector<std::wstring>{L"a\\b\\c.txt", L"a\\z.txt", L"c\\d.txt", L"A.txt", L"b.txt"}), paths);
}

TEST(PathHelpers, ExpandEnvStrings)
{
    SetEnvironmentVariableW(L"NV_TEST_SHORT", L"val");
    std::wstring longValue(700, L'L');
    SetEnvironmentVariableW(L"NV_TEST_LONG", longValue.c_str());
    std::wstring out;
    EXPECT_TRUE(ExpandEnvStrings(L"%NV_TEST_SHORT%\\y", out));
    EXPECT_EQ(L"val\\y", out);
    EXPECT_TRUE(ExpandEnvStrings(L"<%NV_TEST_LONG%>", out));
    EXPECT_EQ(L"<" + longValue + L">", out);
    EXPECT_TRUE(ExpandEnvStrings(L"%NV_TEST_UNSET_VAR%", out));
    EXPECT_EQ(L"%NV_TEST_UNSET_VAR%", out);
    EXPECT_TRUE(ExpandEnvStrings(L"", out));
    EXPECT_EQ(L"", out);
}

TEST(PathHelpers, RoamingAppData)
{
    std::wstring path;
    GetRoamingAppDataPath(path);
    ASSERT_FALSE(path.empty());
    DWORD a = GetFileAttributesW(path.c_str());
    EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) << path;
}

using Folders = TempFolder;

TEST_F(Folders, CreateDirectoryPath)
{
    EXPECT_TRUE(CreateDirectoryPath(Path(L"a\\b\\c\\")));
    EXPECT_TRUE(Exists(Path(L"a\\b\\c")));
    EXPECT_TRUE(CreateDirectoryPath(Path(L"a\\b\\c")));  // exists
    EXPECT_TRUE(CreateDirectoryPath(Path(L"a\\x")));
    EXPECT_TRUE(CreateDirectoryPath(L""));
    SetCurrentDirectoryW(m_dir.c_str());
    EXPECT_TRUE(CreateDirectoryPath(L"bare"));
    EXPECT_FALSE(Exists(Path(L"bare")));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    SetCurrentDirectoryW(temp);
    Put(Path(L"file"), "x");
    EXPECT_FALSE(CreateDirectoryPath(Path(L"file\\sub")));
    EXPECT_FALSE(CreateDirectoryPath(Path(L"file")));
}

TEST_F(Folders, ListFilesByExtension)
{
    ASSERT_TRUE(CreateDirectoryPath(Path(L"sub\\deep")));
    ASSERT_TRUE(CreateDirectoryPath(Path(L"empty")));
    for (const wchar_t* n : {L"a.wav", L"b.WAV", L"c.txt", L"sub\\d.wav", L"sub\\deep\\e.mp3", L"f.wav.bak",
                             L"sub\\g", L"h.ogg"})
        Put(Path(n), "");
    const wchar_t* const sounds[3] = {L".wav", L".mp3", L".ogg"};
    std::vector<std::wstring> found;
    ListFilesByExtension(found, m_dir, sounds);
    std::sort(found.begin(), found.end());
    std::vector<std::wstring> expected = {Path(L"a.wav"), Path(L"b.WAV"), Path(L"h.ogg"), Path(L"sub\\d.wav"),
                                          Path(L"sub\\deep\\e.mp3")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, found);

    std::vector<std::wstring> all = {L"kept"};
    ListFilesByExtension(all, m_dir, nullptr);
    EXPECT_EQ(9u, all.size());  // appended to what was there
    EXPECT_EQ(L"kept", all[0]);

    std::vector<std::wstring> none;
    ListFilesByExtension(none, Path(L"no_such_folder"), sounds);
    EXPECT_TRUE(none.empty());
}

TEST_F(Folders, ListFilesByExtensionSkipsOverlongPaths)
{
    // A folder close to the limit holding one name that fits and one that does not.
    std::wstring folder = m_dir + L"\\" + std::wstring(240 - m_dir.size(), L'f');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    Put(folder + L"\\s.wav", "");
    std::wstring longName = L"\\\\?\\" + folder + L"\\" + std::wstring(30, L'l') + L".wav";
    HANDLE h = CreateFileW(longName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
    const wchar_t* const wav[3] = {L".wav", L".wav", L".wav"};
    std::vector<std::wstring> found;
    ListFilesByExtension(found, m_dir, wav);
    EXPECT_EQ(std::vector<std::wstring>{folder + L"\\s.wav"}, found);
    // A folder whose search pattern would not fit is not searched.
    found.clear();
    ListFilesByExtension(found, std::wstring(300, L'x'), wav);
    EXPECT_TRUE(found.empty());
}

TEST(FindAppPath, RegisteredProgramsUnderCurrentUser)
{
    const wchar_t* base = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(base) + L"\\NvTestTool.exe").c_str(), 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    const wchar_t value[] = L"C:\\tools\\nvtest.exe";
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(base) + L"\\NvDword.exe").c_str(), 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    DWORD number = 5;
    RegSetValueExW(key, nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    RegCloseKey(key);

    std::wstring out;
    EXPECT_TRUE(FindAppPath(L"nvtesttool.EXE", out));
    EXPECT_EQ(value, out);
    out = L"stale";
    SetLastError(0);
    EXPECT_FALSE(FindAppPath(L"NvDword.exe", out));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(FindAppPath(L"NoSuchProgram.exe", out));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(base) + L"\\NvTestTool.exe").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(base) + L"\\NvDword.exe").c_str());
}
