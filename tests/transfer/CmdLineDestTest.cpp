#include "transfer/CmdLineDest.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "core/TextUtil.h"
#include "tests/support/TempFolder.h"

namespace {

using Strings = std::vector<std::wstring>;

TEST(CmdLineArguments, TemplatesExpandWithTheKeyTextAsData)
{
    const struct {
        const wchar_t* templ;
        const wchar_t* key;
        const wchar_t* expected;
    } cases[] = {
        {L"%KeyNum%.txt", L"123", L"123.txt"},
        {L"%keynum%.txt", L"123", L"123.txt"},
        {L"", L"123", L""},
        {L"%foo%", L"123", L""},
        {L"100%%", L"123", L"100%"},
        {L"a %key", L"123", L"a "},
        {L"%KeyNum%", L"", L""},
        {L"\"%KeyNum%\"", L"", L"\"\""},
        {L"%KeyNum%", L"A B", L"\"A B\""},
        {L"\"%KeyNum%\"", L"A B", L"\"A B\""},
        {L"/k=%KeyNum% -v", L"a\"b", L"\"/k=a\\\"b\" -v"},
        {L"%KeyNum%", L"a\\", L"a\\"},
        {L"%KeyNum%", L"a\\ b\\", L"\"a\\ b\\\\\""},
        {L"%KeyNum%\"x y\"", L"a\\", L"\"a\\x y\""},
        {L"-a  \"x y\"   %KeyNum%  -z", L"1 2", L"-a  \"x y\"   \"1 2\"  -z"},
        {L"x\" & calc", L"1", L"x\" & calc"},   // the template's own text stays as written
        {L"%KeyNum%", L"1\" & calc \"", L"\"1\\\" & calc \\\"\""},
        {L"%KeyNum%", L"\t", L"\"\t\""},
    };
    for (const auto& c : cases) {
        std::wstring out;
        EXPECT_TRUE(BuildCommandArguments(c.templ, c.key, false, out)) << c.templ;
        EXPECT_EQ(out, c.expected) << c.templ << " / " << c.key;
    }
}

// What a started program reads back from "prog <arguments>".
Strings ParsedArguments(const std::wstring& arguments)
{
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW((L"prog " + arguments).c_str(), &count);
    Strings out;
    for (int i = 1; argv != nullptr && i < count; ++i)
        out.push_back(argv[i]);
    LocalFree(argv);
    return out;
}

TEST(CmdLineArguments, KeyTextNeverLeavesItsArgument)
{
    const wchar_t* keys[] = {
        L"123", L"A B", L"\"", L"\"\"", L"a\"b c", L"\\", L"\\\\", L"x\\", L"x\\\\\"", L"\" \"", L"a\tb",
        L"\\\"", L"end\\ \\", L"-x \"-y\"", L"%PATH%", L"",
    };
    for (const wchar_t* key : keys) {
        std::wstring out;
        ASSERT_TRUE(BuildCommandArguments(L"-k %KeyNum% \"-p %KeyNum%\" \\%KeyNum% tail", key, false, out));
        const std::wstring k = key;
        Strings expected = {L"-k"};
        if (!k.empty())
            expected.push_back(k);
        expected.push_back(L"-p " + k);
        expected.push_back(L"\\" + k);
        expected.push_back(L"tail");
        EXPECT_EQ(ParsedArguments(out), expected) << key << " -> " << out;
    }
}

TEST(CmdLineArguments, BatchTargetsRefuseShellCharacters)
{
    const struct {
        const wchar_t* key;
        bool accepted;
    } cases[] = {
        {L"123", true},  {L"A B", true},  {L"0A:0B", true}, {L"1&calc", false}, {L"a|b", false},
        {L"<x", false},  {L">x", false},  {L"^", false},    {L"a\"b", false},   {L"50%", false},
        {L"a\r\nb", false}, {L"a\nb", false},
    };
    for (const auto& c : cases) {
        std::wstring out;
        EXPECT_EQ(BuildCommandArguments(L"/k %KeyNum%", c.key, true, out), c.accepted) << c.key;
    }
    EXPECT_TRUE(IsBatchProgram(L"C:\\x\\run.BAT"));
    EXPECT_TRUE(IsBatchProgram(L"run.cmd"));
    EXPECT_FALSE(IsBatchProgram(L"C:\\x.bat\\run.exe"));
    EXPECT_FALSE(IsBatchProgram(L"run"));
}

TEST(CmdLineArguments, QuotedArgumentsReadBackExactly)
{
    const wchar_t* args[] = {L"", L"plain", L"two words", L"q\"uote", L"trail\\", L"trail\\ x\\", L"\\\\server\\share",
                             L"\"", L"\\\"", L"a\\\\\"b"};
    for (const wchar_t* a : args) {
        std::wstring out;
        AppendQuotedArgument(out, a);
        EXPECT_EQ(ParsedArguments(out), Strings{a}) << a << " -> " << out;
    }
}

// Runs the recording helper (tools/argecho) and reads what it saw.
class CmdLineRunTest : public ::testing::Test {
protected:
    struct Seen {
        std::wstring commandLine;
        std::wstring folder;
        Strings args;
    };

    void SetUp() override
    {
        std::wstring tools = MultiByteToWString(std::string(NORVANE_TOOLS_DIR), CP_ACP);
        for (wchar_t& c : tools)
            if (c == L'/')
                c = L'\\';
        const std::wstring source = (tools.rfind(L"\\", 0) == 0 ? L"Z:" : L"") + tools + L"\\argecho.exe";
        helper = folder.File(L"argecho.exe");
        ASSERT_TRUE(CopyFileW(source.c_str(), helper.c_str(), FALSE)) << "build the argecho tool";
        output = folder.File(L"seen.bin");
        const std::wstring eventName = L"Local\\NorvaneArgEcho" + std::to_wstring(GetCurrentProcessId());
        done = CreateEventW(nullptr, FALSE, FALSE, eventName.c_str());
        ASSERT_NE(done, nullptr);
        SetEnvironmentVariableW(L"NORVANE_ARGECHO_OUT", output.c_str());
        SetEnvironmentVariableW(L"NORVANE_ARGECHO_EVENT", eventName.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"NORVANE_ARGECHO_OUT", nullptr);
        SetEnvironmentVariableW(L"NORVANE_ARGECHO_EVENT", nullptr);
        if (done != nullptr)
            CloseHandle(done);
    }

    // Starts the destination and waits for the helper's record.
    Seen Run(const _TRANS_DST_CMDLINE& d, const std::wstring& key)
    {
        DeleteFileW(output.c_str());
        EXPECT_EQ(RunCommandLine(d, key), S_OK);
        EXPECT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
        Seen seen;
        HANDLE f = CreateFileW(output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "no record";
            return seen;
        }
        std::wstring data(GetFileSize(f, nullptr) / sizeof(wchar_t), L'\0');
        DWORD read = 0;
        ReadFile(f, data.data(), static_cast<DWORD>(data.size() * sizeof(wchar_t)), &read, nullptr);
        CloseHandle(f);
        Strings parts;
        size_t start = 0;
        for (size_t end; (end = data.find(L'\0', start)) != std::wstring::npos; start = end + 1)
            parts.push_back(data.substr(start, end - start));
        if (parts.size() >= 2) {
            seen.commandLine = parts[0];
            seen.folder = parts[1];
            seen.args.assign(parts.begin() + 2, parts.end());
        }
        return seen;
    }
    _TRANS_DST_CMDLINE Destination(const std::wstring& program, const std::wstring& arguments)
    {
        _TRANS_DST_CMDLINE d;
        d.program = program;
        d.arguments = arguments;
        return d;
    }

    CTempFolder folder;
    std::wstring helper;
    std::wstring output;
    HANDLE done = nullptr;
};

bool SameFolder(const std::wstring& a, const std::wstring& b)
{
    auto canonical = [](std::wstring s) {
        while (!s.empty() && s.back() == L'\\')
            s.pop_back();
        return s;
    };
    return _wcsicmp(canonical(a).c_str(), canonical(b).c_str()) == 0;
}

TEST_F(CmdLineRunTest, ProgramPathIsQuotedAndKeyTextSubstituted)
{
    Seen seen = Run(Destination(helper, L"%KeyNum%.txt"), L"123");
    EXPECT_EQ(seen.commandLine, L"\"" + helper + L"\" 123.txt");
    EXPECT_EQ(seen.args, Strings{L"123.txt"});

    seen = Run(Destination(helper, L""), L"123");
    EXPECT_EQ(seen.commandLine, L"\"" + helper + L"\"");
    EXPECT_TRUE(seen.args.empty());

    seen = Run(Destination(helper, L"--key=%KeyNum% 100%% %foo%"), L"A B\" & x");
    EXPECT_EQ(seen.args, (Strings{L"--key=A B\" & x", L"100%"}));
}

TEST_F(CmdLineRunTest, WorkingFolderIsTheGivenOneOrTheCallers)
{
    CreateDirectoryW(folder.File(L"work").c_str(), nullptr);
    _TRANS_DST_CMDLINE d = Destination(helper, L"");
    d.initialDir = folder.File(L"work");
    EXPECT_TRUE(SameFolder(Run(d, L"1").folder, folder.File(L"work")));

    SetEnvironmentVariableW(L"NV_TEST_WORK", folder.File(L"work").c_str());
    d.initialDir = L"%NV_TEST_WORK%";
    EXPECT_TRUE(SameFolder(Run(d, L"1").folder, folder.File(L"work")));
    SetEnvironmentVariableW(L"NV_TEST_WORK", nullptr);

    wchar_t own[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, own);
    d.initialDir.clear();
    EXPECT_TRUE(SameFolder(Run(d, L"1").folder, own));
}

TEST_F(CmdLineRunTest, ProgramIsFoundByNameAndThroughVariables)
{
    CreateDirectoryW(folder.File(L"with blank").c_str(), nullptr);
    const std::wstring spaced = folder.File(L"with blank\\arg echo.exe");
    ASSERT_TRUE(CopyFileW(helper.c_str(), spaced.c_str(), FALSE));

    Seen seen = Run(Destination(spaced, L"%KeyNum%"), L"7");
    EXPECT_EQ(seen.commandLine, L"\"" + spaced + L"\" 7");
    EXPECT_EQ(seen.args, Strings{L"7"});

    wchar_t path[32767];
    const DWORD n = GetEnvironmentVariableW(L"PATH", path, 32767);
    const std::wstring oldPath(path, n);
    SetEnvironmentVariableW(L"PATH", (folder.Path() + L";" + oldPath).c_str());
    seen = Run(Destination(L"argecho.exe", L"%KeyNum%"), L"8");
    SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    EXPECT_TRUE(_wcsicmp(seen.commandLine.c_str(), (L"\"" + helper + L"\" 8").c_str()) == 0) << seen.commandLine;

    SetEnvironmentVariableW(L"NV_TEST_TOOLS", folder.Path().c_str());
    seen = Run(Destination(L"%NV_TEST_TOOLS%\\argecho.exe", L"%KeyNum%"), L"9");
    SetEnvironmentVariableW(L"NV_TEST_TOOLS", nullptr);
    EXPECT_EQ(seen.commandLine, L"\"" + helper + L"\" 9");
}

TEST_F(CmdLineRunTest, BatchFilesGetTheKeyTextOnlyWhenItIsSafe)
{
    const std::wstring batch = folder.File(L"run.bat");
    {
        const std::string script = "@\"" + WStringToMultiByte(helper, CP_ACP) + "\" %*\r\n";
        HANDLE f = CreateFileW(batch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(f, script.data(), static_cast<DWORD>(script.size()), &written, nullptr);
        CloseHandle(f);
    }
    const Seen seen = Run(Destination(batch, L"-k %KeyNum%"), L"A B");
    EXPECT_EQ(seen.args, (Strings{L"-k", L"A B"}));

    for (const wchar_t* hostile : {L"1&echo hacked>x.txt", L"1|x", L"%PATH%", L"a\"&\"b", L"1\r\nx"}) {
        EXPECT_EQ(RunCommandLine(Destination(batch, L"-k %KeyNum%"), hostile), E_INVALIDARG) << hostile;
        EXPECT_EQ(RunCommandLine(Destination(folder.File(L"run.cmd"), L"%KeyNum%"), hostile), E_INVALIDARG) << hostile;
    }
    EXPECT_EQ(WaitForSingleObject(done, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(CmdLineRunTest, FailuresBecomeResultCodes)
{
    EXPECT_EQ(RunCommandLine(Destination(L"", L"%KeyNum%"), L"1"), E_INVALIDARG);
    EXPECT_EQ(RunCommandLine(Destination(folder.File(L"missing.exe"), L""), L"1"),
              static_cast<HRESULT>(0x80070000u | ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RunCommandLine(Destination(L"nv-no-such-program.exe", L""), L"1"),
              static_cast<HRESULT>(0x80070000u | ERROR_FILE_NOT_FOUND));
    // Other files go to the shell, which has nothing to open this one with.
    const std::wstring document = folder.File(L"report.nvunknowntype");
    HANDLE f = CreateFileW(document.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(f);
    const HRESULT hr = RunCommandLine(Destination(document, L"%KeyNum%"), L"1");
    EXPECT_EQ(static_cast<uint32_t>(hr) & 0xFFFF0000u, 0x80070000u) << std::hex << hr;
    EXPECT_EQ(WaitForSingleObject(done, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

} // namespace
