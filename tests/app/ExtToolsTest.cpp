// External tools: what the shell is asked to start for a tool, and one real start of the
// recording helper with the last transfer's text in its arguments.
#include <windows.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ExtTools.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "core/TextUtil.h"
#include "tests/support/FakeSystemServices.h"
#include "tests/support/TempFolder.h"

namespace {

struct ShellCall
{
    std::wstring verb, file, parameters, directory;
    int show = 0;
    ULONG mask = 0;
};

std::wstring Text(const wchar_t* s)
{
    return s ? s : L"";
}

_EXT_TOOL Tool(const std::wstring& command, const std::wstring& arguments, const std::wstring& folder = L"",
               uint32_t flags = 0)
{
    _EXT_TOOL tool;
    tool.name = L"Tool";
    tool.command = command;
    tool.arguments = arguments;
    tool.initialDir = folder;
    tool.flags = flags;
    return tool;
}

} // namespace

TEST(ExtTools, ShellIsAskedForTheToolWithItsArguments)
{
    std::wstring temp;
    ASSERT_TRUE(ExpandEnvStrings(L"%TEMP%", temp));
    struct Case
    {
        _EXT_TOOL tool;
        std::wstring keyText;
        ShellCall expected;
    } cases[] = {
        {Tool(L"prog.exe", L"%KEYNUM% x"), L"A B", {L"open", L"prog.exe", L"\"A B\" x", L""}},
        {Tool(L"prog.exe", L"-k %KeyNum%", L"", EXTTOOL_START_ADMIN), L"005,00042",
         {L"runas", L"prog.exe", L"-k 005,00042", L""}},
        {Tool(L"prog.exe", L"100%% %other%"), L"1", {L"open", L"prog.exe", L"100% ", L""}},
        {Tool(L"prog.exe", L"plain  \"args\""), L"1", {L"open", L"prog.exe", L"plain  \"args\"", L""}},
        {Tool(L"%SystemRoot%\\notepad.exe", L"", L"%TEMP%"), L"",
         {L"open", L"", L"", temp}},
    };
    for (const Case& c : cases) {
        std::vector<ShellCall> calls;
        CFakeSystemServices fake;
        fake.executeShell = [&](SHELLEXECUTEINFOW* info) {
            calls.push_back({Text(info->lpVerb), Text(info->lpFile), Text(info->lpParameters),
                             Text(info->lpDirectory), info->nShow, info->fMask});
            return TRUE;
        };
        EXPECT_TRUE(StartExternalTool(c.tool, c.keyText));
        ASSERT_EQ(calls.size(), 1u) << c.tool.arguments;
        const ShellCall& call = calls[0];
        EXPECT_EQ(call.verb, c.expected.verb);
        if (!c.expected.file.empty())
            EXPECT_EQ(call.file, c.expected.file);
        else
            EXPECT_EQ(call.file.find(L'%'), std::wstring::npos) << call.file;
        EXPECT_EQ(call.parameters, c.expected.parameters) << c.tool.arguments;
        EXPECT_EQ(call.directory, c.expected.directory);
        EXPECT_EQ(call.show, SW_SHOWNORMAL);
        EXPECT_EQ(call.mask, 0x4400u);
    }
}

TEST(ExtTools, EmptyCommandOrUnsafeBatchTextStartsNothing)
{
    int calls = 0;
    CFakeSystemServices fake;
    fake.executeShell = [&](SHELLEXECUTEINFOW*) { return ++calls, TRUE; };
    EXPECT_FALSE(StartExternalTool(Tool(L"", L"%KeyNum%"), L"1"));
    // A batch file's shell would read the text as a second command.
    EXPECT_THROW(StartExternalTool(Tool(L"run.cmd", L"%KeyNum%"), L"1&del x"), COSException);
    EXPECT_EQ(calls, 0);
}

TEST(ExtTools, FailedStartThrowsTheSystemError)
{
    CFakeSystemServices fake;
    fake.executeShell = [](SHELLEXECUTEINFOW*) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    };
    try {
        StartExternalTool(Tool(L"prog.exe", L"", L"", EXTTOOL_START_ADMIN), L"");
        FAIL() << "no exception";
    } catch (const COSException& e) {
        EXPECT_EQ(e.GetCode(), static_cast<DWORD>(ERROR_CANCELLED));
    }
}

// The recording helper started through the shell sees the key text as one argument and the
// tool's folder as its current folder.
TEST(ExtTools, HelperStartsWithQuotedKeyTextInItsFolder)
{
    CTempFolder folder;
    std::wstring tools = MultiByteToWString(std::string(NORVANE_TOOLS_DIR), CP_ACP);
    for (wchar_t& c : tools)
        if (c == L'/')
            c = L'\\';
    const std::wstring source = (tools.rfind(L"\\", 0) == 0 ? L"Z:" : L"") + tools + L"\\argecho.exe";
    const std::wstring helper = folder.File(L"argecho.exe");
    ASSERT_TRUE(CopyFileW(source.c_str(), helper.c_str(), FALSE)) << "build the argecho tool";
    const std::wstring output = folder.File(L"seen.bin");
    const std::wstring eventName = L"Local\\NorvaneToolEcho" + std::to_wstring(GetCurrentProcessId());
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, eventName.c_str());
    ASSERT_NE(done, nullptr);
    SetEnvironmentVariableW(L"NORVANE_ARGECHO_OUT", output.c_str());
    SetEnvironmentVariableW(L"NORVANE_ARGECHO_EVENT", eventName.c_str());

    EXPECT_TRUE(StartExternalTool(Tool(helper, L"%KEYNUM% x", folder.Path()), L"A B"));
    ASSERT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
    CloseHandle(done);
    SetEnvironmentVariableW(L"NORVANE_ARGECHO_OUT", nullptr);
    SetEnvironmentVariableW(L"NORVANE_ARGECHO_EVENT", nullptr);

    HANDLE f = CreateFileW(output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    std::wstring data(GetFileSize(f, nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(f, data.data(), static_cast<DWORD>(data.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(f);
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (size_t end; (end = data.find(L'\0', start)) != std::wstring::npos; start = end + 1)
        parts.push_back(data.substr(start, end - start));
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_NE(parts[0].find(L"\"A B\" x"), std::wstring::npos) << parts[0];
    auto trimmed = [](std::wstring s) {
        while (!s.empty() && s.back() == L'\\')
            s.pop_back();
        return s;
    };
    EXPECT_EQ(_wcsicmp(trimmed(parts[1]).c_str(), trimmed(folder.Path()).c_str()), 0) << parts[1];
    EXPECT_EQ(parts[2], L"A B");
    EXPECT_EQ(parts[3], L"x");
}
