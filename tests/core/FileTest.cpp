#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "core/File.h"
#include "tests/core/FileTestFolder.h"

// ---- CFile open modes

using CFileOpen = FileTestFolder;

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
    EnterFolder();
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
    LeaveFolder();

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
    EnterFolder();
    CFile file;
    ASSERT_TRUE(file.Open(L"r1.txt", CFile::modeRead));
    EXPECT_EQ(Path(L"r1.txt"), file.GetFilePath());
    ASSERT_TRUE(file.Open(L"r2.txt", CFile::modeRead | CFile::shareExclusive));
    EXPECT_EQ(2u, file.GetLength());
    // The first handle is gone: an exclusive open of r1 works.
    CFile other;
    EXPECT_TRUE(other.Open(L"r1.txt", CFile::modeReadWrite | CFile::shareExclusive));
    LeaveFolder();
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(file.GetFilePath().empty());
    file.Close();  // closing a closed file does nothing
}

// ---- CFile operations

using CFileOps = FileTestFolder;

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
