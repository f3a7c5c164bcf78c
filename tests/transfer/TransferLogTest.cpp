// Transfer log lines, key-type codes, format display names and the logged form of typed keys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/TempFolder.h"
#include "config/AppSettings.h"
#include "config/KeyNumber.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "transfer/TransferLog.h"

namespace {

CTimeValue LocalTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    return CTimeValue(st);
}

_KEY_NUMBER Key(std::initializer_list<uint8_t> bytes)
{
    std::vector<uint8_t> v(bytes);
    return MakeKeyNumber(v.data(), v.size());
}

std::string ReadFileBytes(const std::wstring& path)
{
    CFile f;
    if (!f.Open(path.c_str(), CFile::modeRead | CFile::shareRead))
        return "<missing>";
    std::string data(static_cast<size_t>(f.GetLength()), '\0');
    if (!data.empty())
        f.Read(data.data(), static_cast<UINT>(data.size()));
    return data;
}

const CTimeValue kMarch5 = LocalTime(2025, 3, 5, 9, 7, 3);
const _KEY_NUMBER kKey0A0B0C = Key({0x0A, 0x0B, 0x0C});

}  // namespace

TEST(TransferLogLine, ClipboardTransferOfTheFifthOfMarch)
{
    EXPECT_EQ(BuildTransferLogLine(kMarch5, 1, kKey0A0B0C, L"Std", L"123", L"Copy to Clipboard"),
              "05.03.2025 09:07:03 [EM 0C0B0A, \"Std\"] \"123\" -> \"Copy to Clipboard\"\r\n");
}

TEST(TransferLogLine, FieldsAndEscapes)
{
    struct Case
    {
        int keyType;
        _KEY_NUMBER key;
        const wchar_t* name;
        const wchar_t* output;
        const wchar_t* destination;
        const char* expected;  // after the date and time
    };
    const Case cases[] = {
        // Only the bracket escapes quotes, backslashes and brackets.
        {2, Key({0x01}), L"a\"b\\c]d", L"x\"y\\z]", L"D",
         "[HID 01, \"a\\\"b\\\\c\\]d\"] \"x\"y\\z]\" -> \"D\"\r\n"},
        {1, Key({0xFF, 0x00}), L"two\nlines\r", L"o", L"d", "[EM 00FF, \"two\\nlines\\r\"] \"o\" -> \"d\"\r\n"},
        // Line breaks of the texts would split the entry.
        {1, Key({0x12}), L"F", L"12\r\n34\n", L"d", "[EM 12, \"F\"] \"12\\r\\n34\\n\" -> \"d\"\r\n"},
        {1, Key({0x12}), L"F", L"o", L"a\nb", "[EM 12, \"F\"] \"o\" -> \"a\\nb\"\r\n"},
        {0, Key({}), L"", L"", L"", "[X , \"\"] \"\" -> \"\"\r\n"},
        {21, Key({0xAB, 0xCD, 0xEF, 0x01}), L"[P] Wiegand", L"1", L"2",
         "[MINI 01EFCDAB, \"[P\\] Wiegand\"] \"1\" -> \"2\"\r\n"},
        {22, Key({0x05}), L"N", L"1", L"2", "[X 05, \"N\"] \"1\" -> \"2\"\r\n"},
        {-1, Key({0x05}), L"N", L"1", L"2", "[X 05, \"N\"] \"1\" -> \"2\"\r\n"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(BuildTransferLogLine(kMarch5, c.keyType, c.key, c.name, c.output, c.destination),
                  std::string("05.03.2025 09:07:03 ") + c.expected);
    }
}

TEST(TransferLogLine, LongTextsAreWrittenWhole)
{
    const std::wstring output(5000, L'7');
    const std::string line = BuildTransferLogLine(kMarch5, 1, kKey0A0B0C, L"Std", output, L"Http://x");
    EXPECT_EQ(line, "05.03.2025 09:07:03 [EM 0C0B0A, \"Std\"] \"" + std::string(5000, '7') + "\" -> \"Http://x\"\r\n");
}

TEST(TransferLogLine, TimeThatCannotBeConvertedIsWrittenAsZeros)
{
    const std::string line = BuildTransferLogLine(CTimeValue(-5000000000000LL), 1, kKey0A0B0C, L"S", L"1", L"2");
    EXPECT_EQ(line, "00.00.0000 00:00:00 [EM 0C0B0A, \"S\"] \"1\" -> \"2\"\r\n");
}

TEST(TransferLogLine, MidnightAndLastSecondOfTheYear)
{
    EXPECT_EQ(BuildTransferLogLine(LocalTime(2024, 12, 31, 23, 59, 59), 7, Key({0x01, 0x02}), L"S", L"", L""),
              "31.12.2024 23:59:59 [DS 0201, \"S\"] \"\" -> \"\"\r\n");
    EXPECT_EQ(BuildTransferLogLine(LocalTime(2001, 1, 1, 0, 0, 0), 7, Key({0x01}), L"S", L"", L""),
              "01.01.2001 00:00:00 [DS 01, \"S\"] \"\" -> \"\"\r\n");
}

TEST(TransferLogFile, LinesAreAppendedToTheEnd)
{
    CTempFolder folder;
    const std::wstring path = folder.File(L"Transfer.log");
    AppendTransferLogLine(path, kMarch5, 1, kKey0A0B0C, L"Std", L"123", L"Copy to Clipboard");
    AppendTransferLogLine(path, LocalTime(2025, 3, 5, 9, 7, 4), 3, Key({0x99}), L"B", L"9", L"Portavo");
    EXPECT_EQ(ReadFileBytes(path),
              "05.03.2025 09:07:03 [EM 0C0B0A, \"Std\"] \"123\" -> \"Copy to Clipboard\"\r\n"
              "05.03.2025 09:07:04 [IC 99, \"B\"] \"9\" -> \"Portavo\"\r\n");
}

TEST(TransferLogFile, GoesIntoTheDocumentsFolderWhichIsNotCreated)
{
    CTempFolder folder;
    CAppSettings settings;
    settings.SetDataFolder(folder.Path(), false);
    WriteTransferLog(settings, kMarch5, 1, kKey0A0B0C, L"Std", L"123", L"Copy to Clipboard");
    EXPECT_EQ(ReadFileBytes(folder.File(L"Transfer.log")),
              "05.03.2025 09:07:03 [EM 0C0B0A, \"Std\"] \"123\" -> \"Copy to Clipboard\"\r\n");

    settings.SetDocumentsFolder(folder.File(L"missing"));
    EXPECT_THROW(WriteTransferLog(settings, kMarch5, 1, kKey0A0B0C, L"Std", L"1", L"2"), CFileException);
    EXPECT_EQ(GetFileAttributesW(folder.File(L"missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(TransferLogFile, FileThatCannotBeOpenedThrowsWithItsName)
{
    CTempFolder folder;
    // A folder of the log's name cannot be appended to.
    const std::wstring path = folder.File(L"Transfer.log");
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    try
    {
        AppendTransferLogLine(path, kMarch5, 1, kKey0A0B0C, L"S", L"1", L"2");
        FAIL() << "no exception";
    }
    catch (const CFileException& e)
    {
        EXPECT_EQ(e.m_fileName, path);
    }
}

TEST(KeyTypeCodes, EveryTypeInOrder)
{
    const wchar_t* expected[] = {L"X",     L"EM",    L"HID",  L"IC",     L"COD433", L"COD433F", L"CAME", L"DS",
                                 L"TEMIC", L"UL",    L"M1K",  L"M2K",    L"M4K",    L"M+",      L"M+1K", L"M+2K",
                                 L"M+4K",  L"SMXM1K", L"SMXM4K", L"DF", L"PX",     L"MINI"};
    ASSERT_EQ(std::size(expected), static_cast<size_t>(kKeyTypeCodeCount));
    for (int i = 0; i < kKeyTypeCodeCount; ++i)
        EXPECT_STREQ(KeyTypeCode(i), expected[i]) << i;
    EXPECT_STREQ(KeyTypeCode(22), L"X");
    EXPECT_STREQ(KeyTypeCode(-1), L"X");
    EXPECT_STREQ(KeyTypeCode(0x7FFFFFFF), L"X");
}

TEST(FormatDisplayName, PresetsGetTheirPrefix)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"\nWiegand", L"[P] Wiegand"},
        {L"\n", L"[P] "},
        {L"Std", L"Std"},
        {L"", L""},
        {L" \nNot a preset", L" \nNot a preset"},
        {L"\n\nTwo", L"[P] \nTwo"},
    };
    for (const auto& [stored, shown] : cases)
        EXPECT_EQ(MakeFormatDisplayName(stored), shown);
}

TEST(KeyboardLoggedText, KeyCodesAndPausesReplaceTheirPlaceholders)
{
    struct Case
    {
        std::wstring output;
        std::vector<uint32_t> keys;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"123\x0001", {0x0D}, L"123\\k00D"},
        {L"\x0001", {0x800000FA}, L"\\k800000FA"},
        {L"a\x0001" L"b\x0001" L"c", {0x0D, 0x309}, L"a\\k00Db\\k309c"},
        // Placeholders without entries stay as they are, and surplus entries are dropped.
        {L"\x0001\x0001", {0x41}, L"\\k041\x0001"},
        {L"x\x0001", {0x41, 0x42, 0x43}, L"x\\k041"},
        {L"plain", {0x41}, L"plain"},
        {L"", {}, L""},
        {L"\x0001", {0x1FFF}, L"\\k1FFF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KeyboardLoggedText(c.output, c.keys), c.expected);
}
