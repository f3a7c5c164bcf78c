// The library method against the stand-in library of tools/autoit-standin, copied beside the
// test program as the program would find the real one beside itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "tests/support/KeyInputRecorder.h"
#include "tests/support/TempFolder.h"
#include "transfer/KeyboardDest.h"

namespace
{

using Lines = std::vector<std::string>;

std::wstring ProgramFolder()
{
    std::wstring path;
    GetModuleFilePath(path);
    return path.substr(0, path.find_last_of(L"\\/"));
}

class AutoItTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_library = ProgramFolder() + L"\\" + kAutoItLibraryName;
        DeleteFileW(m_library.c_str());
        m_record = m_dir.File(L"calls.txt");
        SetEnvironmentVariableW(L"NORVANE_AUTOIT_RECORD", m_record.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"NORVANE_AUTOIT_RECORD", nullptr);
        EXPECT_EQ(GetModuleHandleW(m_library.c_str()), nullptr) << "the library must be unloaded";
        DeleteFileW(m_library.c_str());
    }

    ::testing::AssertionResult Install(const wchar_t* variant)
    {
        std::wstring source = MultiByteToWString(std::string(NORVANE_TOOLS_DIR), CP_ACP) + variant;
        for (wchar_t& c : source)
            if (c == L'/')
                c = L'\\';
        if (!CopyFileW(source.c_str(), m_library.c_str(), FALSE))
            return ::testing::AssertionFailure() << "cannot copy " << WStringToMultiByte(source, CP_ACP);
        return ::testing::AssertionSuccess();
    }

    Lines Calls() const
    {
        std::ifstream in(std::filesystem::path(m_record), std::ios::binary);
        Lines lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    CTempFolder m_dir;
    std::wstring m_library;
    std::wstring m_record;
};

constexpr wchar_t kRecording[] = L"\\autoit\\AutoItX3.dll";
constexpr wchar_t kNoExports[] = L"\\autoit\\noexports\\AutoItX3.dll";

TEST_F(AutoItTest, SendTextsByCase)
{
    ASSERT_TRUE(Install(kRecording));
    struct Case
    {
        std::wstring text;
        std::vector<uint32_t> keys;
        Lines sends;
    };
    const Case cases[] = {
        {L"\x01", {0x40D}, {"Send 0 {SHIFTDOWN}{ENTER}{SHIFTUP}"}},
        {L"a+b", {}, {"Send 0 {ASC 0x0061}{+}{ASC 0x0062}"}},
        {L"!#+^{}", {}, {"Send 0 {!}{#}{+}{^}{{}{}}"}},
        // Letters go by code; digits, blanks, punctuation and other scripts as they are.
        {L"1 Z-\x0436.", {}, {"Send 0 1 {ASC 0x005A}-\xD0\xB6."}},
        {L"\x01", {0xF41}, {"Send 0 {CTRLDOWN}{ALTDOWN}{SHIFTDOWN}{LWINDOWN}{a}{CTRLUP}{ALTUP}{SHIFTUP}{LWINUP}"}},
        // A key without a name adds nothing, modifiers included.
        {L"\x01x", {0x207}, {"Send 0 {ASC 0x0078}"}},
        {L"\x01\x01\x01", {0x0D}, {"Send 0 {ENTER}"}},
        {L"7\x01", {0x80000005}, {"Send 0 7"}},
        {L"\x01q", {0x80000005}, {"Send 0 {ASC 0x0071}"}},
        {L"a\r\nb", {}, {"Send 0 {ASC 0x0061}\\r\\n{ASC 0x0062}"}},
        {L"", {}, {}},
    };
    for (const Case& c : cases)
    {
        DeleteFileW(m_record.c_str());
        CKeyInputRecorder pauses;
        EXPECT_EQ(TypeWithAutoIt(c.text, c.keys, 5, 7), S_OK);
        Lines expected = {"Opt 7 SendKeyDelay", "Opt 5 SendKeyDownDelay"};
        expected.insert(expected.end(), c.sends.begin(), c.sends.end());
        EXPECT_EQ(Calls(), expected) << testing::PrintToString(c.text);
    }
}

TEST_F(AutoItTest, PauseSendsTheTextBeforeSleeping)
{
    ASSERT_TRUE(Install(kRecording));
    CKeyInputRecorder rec;
    Lines atPause;
    rec.onPause = [&](DWORD) { atPause = Calls(); };
    EXPECT_EQ(TypeWithAutoIt(L"ab\x01" L"c", {0x800000FA}, 0, 0), S_OK);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"pause 250"}));
    EXPECT_EQ(atPause, (Lines{"Opt 0 SendKeyDelay", "Opt 0 SendKeyDownDelay", "Send 0 {ASC 0x0061}{ASC 0x0062}"}));
    EXPECT_EQ(Calls(), (Lines{"Opt 0 SendKeyDelay", "Opt 0 SendKeyDownDelay", "Send 0 {ASC 0x0061}{ASC 0x0062}",
                              "Send 0 {ASC 0x0063}"}));
}

TEST_F(AutoItTest, MissingLibraryGivesItsSystemError)
{
    EXPECT_EQ(TypeWithAutoIt(L"1", {}, 0, 0), static_cast<HRESULT>(0x8007007E));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(AutoItTest, LibraryWithoutTheFunctionsCannotBeUsed)
{
    ASSERT_TRUE(Install(kNoExports));
    EXPECT_EQ(TypeWithAutoIt(L"1", {}, 0, 0), KV_E_AUTOIT_LOAD);
}

TEST(AutoItKeyName, Table)
{
    struct Case
    {
        UINT vk;
        const wchar_t* name;
    } cases[] = {
        {0, L""},           {3, L"{BREAK}"},      {8, L"{BS}"},          {9, L"{TAB}"},
        {13, L"{ENTER}"},   {19, L"{PAUSE}"},     {20, L"{CAPSLOCK toggle}"}, {27, L"{ESC}"},
        {32, L"{SPACE}"},   {33, L"{PGUP}"},      {40, L"{DOWN}"},       {41, L""},
        {44, L"{PRINTSCREEN}"}, {45, L"{INS}"},   {46, L"{DEL}"},        {47, L""},
        {48, L"0"},         {57, L"9"},           {58, L""},             {65, L"{a}"},
        {90, L"{z}"},       {91, L"{LWIN}"},      {92, L"{RWIN}"},       {93, L"{APPSKEY}"},
        {94, L""},          {95, L"{SLEEP}"},     {96, L"{NUMPAD0}"},    {105, L"{NUMPAD9}"},
        {106, L"{NUMPADMULT}"}, {107, L"{NUMPADADD}"}, {108, L""},       {109, L"{NUMPADSUB}"},
        {110, L"{NUMPADDOT}"}, {111, L"{NUMPADDIV}"}, {112, L"{F1}"},    {123, L"{F12}"},
        {124, L""},         {144, L"{NUMLOCK toggle}"}, {145, L"{SCROLLLOCK toggle}"}, {165, L""},
        {166, L"{BROWSER_BACK}"}, {172, L"{BROWSER_HOME}"}, {173, L"{VOLUME_MUTE}"}, {175, L"{VOLUME_UP}"},
        {176, L"{MEDIA_NEXT}"}, {179, L"{MEDIA_PLAY_PAUSE}"}, {180, L"{LAUNCH_MAIL}"}, {181, L"{LAUNCH_MEDIA}"},
        {182, L"{LAUNCH_APP1}"}, {183, L"{LAUNCH_APP2}"}, {184, L""},   {255, L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AutoItKeyName(c.vk), c.name) << "vk " << c.vk;
}

}  // namespace
