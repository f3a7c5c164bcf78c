#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "core/Exceptions.h"
#include "core/ResultCodes.h"

namespace {

struct CodeText
{
    DWORD code;
    const wchar_t* text;
};

// Every program result code with its English text, as the message table must hold it.
const CodeText kProgramCodes[] = {
    {0x80040201, L"Parameter does not exist."},
    {0x80040202, L"Invalid parameter type."},
    {0x80040203, L"Index out of range."},
    {0x80040210, L"Incorrect port name."},
    {0x80040211, L"Port not exists."},
    {0x80040212, L"Port is busy."},
    {0x80040213, L"Port is disconnected."},
    {0x80040214, L"Not found a suitable version of Winsock.dll."},
    {0x80040215, L"Timeout TCP connection."},
    {0x80040216, L"Timeout sending request data to the port."},
    {0x80040217, L"Timeout response data from the port."},
    {0x80040218, L"Reader sent an invalid response."},
    {0x80040219, L"Reader returned an error."},
    {0x8004021a, L"No key."},
    {0x8004021b, L"Key authorization error."},
    {0x8004021c, L"Command is not supported."},
    {0x8004021f, L"The reader message was not recognized. Probably not factory firmware."},
    {0x80040220, L"Wrong address Mifare block."},
    {0x80040221, L"Can't read the number from the Mifare Classic card block. You must set the \"Binary mode\" flag on "
                 L"the \"Reader\" page."},
    {0x80040230, L"Timeout readers search."},
    {0x80040231, L"No more readers."},
    {0x80040232, L"Reader is not found."},
    {0x80040234, L"Incorrect format name."},
    {0x80040235, L"Format with the specified name already exists."},
    {0x80040236, L"Not enough parameters."},
    {0x80040237, L"Template specifier is not supported."},
    {0x80040238, L"Unknown keyword."},
    {0x80040239, L"Unexpected end of expression."},
    {0x8004023a, L"Unknown symbol."},
    {0x8004023b, L"Expected '(' or '['."},
    {0x8004023c, L"Expected ')' or ']'."},
    {0x8004023d, L"Bad suffix on number."},
    {0x8004023e, L"Format is not specified."},
    {0x8004023f, L"Input text field not found."},
    {0x80040240, L"No connection with Portavo."},
    {0x80040241, L"AutoIt.dll could not be loaded."},
    {0x80040242, L"The window is not found."},
    {0x80040243, L"Unexpected operator."},
    {0x80040244, L"Reached the end of the list of keys."},
    {0x80040245, L"Error http server."},
};

std::wstring SystemText(DWORD code)
{
    wchar_t buf[1024] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf, 1024,
                             nullptr);
    std::wstring s(buf, n);
    while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n'))
        s.pop_back();
    return s;
}

std::string Ansi(const std::wstring& w)
{
    return WStringToMultiByte(w, CP_ACP);
}

}  // namespace

TEST(MessageTable, EveryProgramCodeHasItsExactText)
{
    for (const CodeText& c : kProgramCodes)
    {
        std::wstring text = L"stale";
        EXPECT_TRUE(GetSystemMessageText(text, GetResourceModule(), c.code)) << std::hex << c.code;
        EXPECT_EQ(c.text, text) << std::hex << c.code;
    }
}

TEST(MessageTable, CodesOfTheRangeWithoutEntryAreNotFound)
{
    // Gaps inside the program's range and its two neighbours; facility 4 never falls back
    // to the system's table.
    const DWORD missing[] = {0x80040200, 0x80040204, 0x8004020f, 0x8004021d, 0x8004021e, 0x80040222, 0x80040223,
                             0x8004022f, 0x80040233, 0x80040246, 0x80040001};
    for (DWORD code : missing)
    {
        std::wstring text = L"unchanged";
        EXPECT_FALSE(GetSystemMessageText(text, GetResourceModule(), code)) << std::hex << code;
        EXPECT_EQ(L"unchanged", text);
    }
}

TEST(MessageTable, SystemCodesFallBackToTheSystemTable)
{
    for (DWORD code : {2u, 5u, 32u, 0x80070005u})
    {
        std::wstring text;
        ASSERT_TRUE(GetSystemMessageText(text, GetResourceModule(), code)) << code;
        EXPECT_EQ(SystemText(code), text);
        EXPECT_FALSE(text.empty());
        EXPECT_NE(L'\n', text.back());
    }
}

TEST(MessageTable, InsertsAreLeftOrFilledNeverReadFromNowhere)
{
    // ERROR_BAD_EXE_FORMAT's text holds %1.
    std::wstring raw = SystemText(ERROR_BAD_EXE_FORMAT);
    if (raw.find(L"%1") == std::wstring::npos)
        GTEST_SKIP() << "system text without an insert here";
    std::wstring text;
    ASSERT_TRUE(GetSystemMessageText(text, nullptr, ERROR_BAD_EXE_FORMAT));
    EXPECT_EQ(raw, text);
    ASSERT_TRUE(GetSystemMessageText(text, nullptr, ERROR_BAD_EXE_FORMAT, L"tool.exe"));
    std::wstring expected = raw;
    expected.replace(expected.find(L"%1"), 2, L"tool.exe");
    EXPECT_EQ(expected, text);
}

TEST(COSException, Texts)
{
    EXPECT_STREQ("A call to an OS function failed", COSException(0).what());
    for (DWORD code : {2u, 5u, 87u})
    {
        COSException e(code);
        EXPECT_EQ(code, e.GetCode());
        std::wstring prefix;
        FormatString(prefix, L"System error. Code: %d.", static_cast<int>(code));
        EXPECT_EQ(Ansi(prefix + SystemText(code)), e.what()) << code;
    }
    // A code with no text keeps the code alone.
    EXPECT_STREQ("System error. Code: 1234567.", COSException(1234567).what());
    // The program's own codes are found too.
    EXPECT_STREQ("System error. Code: -2147220928.No connection with Portavo.", COSException(0x80040240).what());
}

TEST(CComException, Texts)
{
    CComException e(KV_E_INVALID_RESPONSE);
    EXPECT_EQ(KV_E_INVALID_RESPONSE, e.GetCode());
    EXPECT_STREQ("COM error 0x80040218Reader sent an invalid response.", e.what());
    EXPECT_STREQ("COM error 0x80040204", CComException(static_cast<HRESULT>(0x80040204)).what());
    EXPECT_STREQ("COM error 00000000", CComException(0).what());
    EXPECT_EQ(Ansi(L"COM error 0x80070005" + SystemText(0x80070005)),
              CComException(static_cast<HRESULT>(0x80070005)).what());
}

TEST(CFileException, TextOfEveryCause)
{
    const wchar_t* name = L"C:\\data\\Norvane.json";
    const char* texts[] = {
        "No error occurred.",
        "An unknown error occurred while accessing C:\\data\\Norvane.json.",
        "C:\\data\\Norvane.json was not found.",
        "C:\\data\\Norvane.json contains an incorrect path.",
        "Could not open C:\\data\\Norvane.json because there are too many open files.",
        "Access to C:\\data\\Norvane.json was denied.",
        "An incorrect file handle was associated with C:\\data\\Norvane.json.",
        "Could not remove C:\\data\\Norvane.json because it is the current directory.",
        "Could not create C:\\data\\Norvane.json because the directory is full.",
        "Seek failed on C:\\data\\Norvane.json",
        "Encountered a hardware I/O error while accessing C:\\data\\Norvane.json.",
        "Encountered a sharing violation while accessing C:\\data\\Norvane.json.",
        "Encountered a locking violation while accessing C:\\data\\Norvane.json.",
        "Disk full while accessing C:\\data\\Norvane.json.",
        "",
    };
    for (int cause = 0; cause <= 14; ++cause)
        EXPECT_STREQ(texts[cause], CFileException(cause, -1, name).what()) << cause;
    // Out of range reads as the unknown error; an empty name leaves the blank.
    EXPECT_STREQ(texts[1], CFileException(15, -1, name).what());
    EXPECT_STREQ(" was not found.", CFileException(CFileException::fileNotFound).what());
    // Non-ASCII names reach the ANSI text as the code page has them.
    EXPECT_EQ(Ansi(L"Access to C:\\\u00e9.txt was denied."),
              CFileException(CFileException::accessDenied, 5, L"C:\\\u00e9.txt").what());
    // A path of any length stays whole in the text.
    const std::wstring deep = L"C:\\" + std::wstring(4000, L'd') + L"\\Norvane.json";
    EXPECT_EQ("Access to " + Ansi(deep) + " was denied.", CFileException(CFileException::accessDenied, 5, deep).what());
}

TEST(CFileException, CauseTable)
{
    struct Row
    {
        int cause;
        std::initializer_list<LONG> codes;
    } rows[] = {
        {0, {0}},
        {2, {2, 6, 18, 107}},
        {3, {3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267}},
        {4, {4, 36, 68, 113}},
        {5, {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 183, 999}},
        {6, {11, 26, 60, 66, 114, 182, 191, 193}},
        {7, {16, 145}},
        {8, {62}},
        {9, {24, 25, 27, 30, 131, 132}},
        {10, {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997}},
        {11, {32}},
        {12, {33, 108, 167}},
        {13, {39, 112}},
        {14, {38}},
    };
    int listed[1000] = {};
    for (const Row& r : rows)
        for (LONG code : r.codes)
        {
            EXPECT_EQ(r.cause, CFileException::OsErrorToCause(code)) << code;
            listed[code] = 1;
        }
    for (LONG code = 0; code < 1000; ++code)
        if (!listed[code])
        {
            EXPECT_EQ(1, CFileException::OsErrorToCause(code)) << code;
        }
    EXPECT_EQ(1, CFileException::OsErrorToCause(-1));
    EXPECT_EQ(1, CFileException::OsErrorToCause(static_cast<LONG>(0x80070005)));
}

TEST(CFileException, ThrowHelpers)
{
    try
    {
        ThrowFileExceptionFromOSError(32, L"C:\\x\\key.dbf");
        FAIL();
    }
    catch (const CFileException& e)
    {
        EXPECT_EQ(CFileException::sharingViolation, e.m_cause);
        EXPECT_EQ(32, e.m_osError);
        EXPECT_EQ(L"C:\\x\\key.dbf", e.m_fileName);
        EXPECT_STREQ("Encountered a sharing violation while accessing C:\\x\\key.dbf.", e.what());
    }
    try
    {
        ThrowFileException(CFileException::diskFull, -1, L"log.txt");
        FAIL();
    }
    catch (const std::exception& e)
    {
        EXPECT_STREQ("Disk full while accessing log.txt.", e.what());
    }
    try
    {
        ThrowComError(KV_E_NO_PORTAVO);
        FAIL();
    }
    catch (const CComException& e)
    {
        EXPECT_EQ(KV_E_NO_PORTAVO, e.GetCode());
        EXPECT_STREQ("COM error 0x80040240No connection with Portavo.", e.what());
    }
    try
    {
        ThrowOSError(0);
        FAIL();
    }
    catch (const CException& e)
    {
        EXPECT_STREQ("A call to an OS function failed", e.what());
    }
}

TEST(CDbfException, Texts)
{
    EXPECT_STREQ("Bad Value (C:\\db\\events.dbf)", CDbfException(L"C:\\db\\events.dbf").what());
    EXPECT_STREQ("Bad Value", CDbfException(L"").what());
    EXPECT_STREQ("Unknown Error (a.dbf)", CDbfException(0, L"a.dbf").what());
    EXPECT_STREQ("Stream Error (a.dbf)", CDbfException(1, L"a.dbf").what());
    EXPECT_STREQ("Unknown Error", CDbfException(7, L"").what());
}

TEST(Exceptions, CopiesKeepTheirText)
{
    CComException com(KV_E_NO_KEY);
    CComException comCopy = com;
    EXPECT_STREQ(com.what(), comCopy.what());
    EXPECT_EQ(KV_E_NO_KEY, comCopy.GetCode());
    CFileException file(CFileException::badSeek, 25, L"f");
    CFileException fileCopy(file);
    EXPECT_STREQ("Seek failed on f", fileCopy.what());
    EXPECT_EQ(25, fileCopy.m_osError);
    CException base("plain");
    CException baseCopy = base;
    EXPECT_STREQ("plain", baseCopy.what());
    const std::exception& asStd = file;
    EXPECT_STREQ("Seek failed on f", asStd.what());
}
