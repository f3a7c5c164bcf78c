#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "core/File.h"
#include "tests/core/FileTestFolder.h"
#include "tests/support/FakeSystemServices.h"

// ---- UTF-8 text files

using Utf8Files = FileTestFolder;

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

bool FailAfterTempWritten(const std::wstring& tempPath, const std::wstring&)
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
    CFakeSystemServices system;
    system.moveFileOver = &FailAfterTempWritten;
    EXPECT_THROW(WriteUtf8TextFile(path, std::wstring(L"{\"new\":2}")), CFileException);
    system.moveFileOver = nullptr;
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

TEST_F(Utf8Files, StaleTemporaryFilesOfOwnNamingAreRemoved)
{
    struct Case
    {
        const wchar_t* name;
        bool old;
        bool removed;
    } cases[] = {
        {L"nv1A2B.tmp", true, true},
        {L"nvf.TMP", true, true},
        {L"NV0.tmp", true, true},
        {L"nvC3D4.tmp", false, false},   // may be a save in progress
        {L"nvx.tmp", true, false},       // not a number
        {L"nv12345.tmp", true, false},   // five digits
        {L"nv.tmp", true, false},
        {L"other.tmp", true, false},
        {L"nv12.tmp.bak", true, false},
        {L"Norvane.json", true, false},
    };
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER twoMinutesAgo{{now.dwLowDateTime, now.dwHighDateTime}};
    twoMinutesAgo.QuadPart -= 120ull * 10000000;
    const FILETIME old{twoMinutesAgo.LowPart, twoMinutesAgo.HighPart};
    for (const Case& c : cases)
    {
        Put(Path(c.name), "x");
        if (!c.old)
            continue;
        HANDLE h = CreateFileW(Path(c.name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &old));
        CloseHandle(h);
    }
    ASSERT_TRUE(CreateDirectoryW(Path(L"nvAB.tmp").c_str(), nullptr));

    EXPECT_EQ(RemoveStaleTempFiles(m_dir, 60000), 3);
    for (const Case& c : cases)
        EXPECT_EQ(GetFileAttributesW(Path(c.name).c_str()) == INVALID_FILE_ATTRIBUTES, c.removed)
            << testing::PrintToString(std::wstring(c.name));
    EXPECT_NE(GetFileAttributesW(Path(L"nvAB.tmp").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(RemoveStaleTempFiles(Path(L"missing"), 60000), 0);
}

// ---- log append and rotation

using LogFiles = FileTestFolder;

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
