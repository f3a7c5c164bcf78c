#pragma once
// The spreadsheet stand-in for the tests: registered once per process as the local server of
// both program ids, with its call log and its failures set through the environment that the
// server inherits; or made in-process through the system-services seam.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../../../support/ChildJob.h"
#include "../../../support/FakeSystemServices.h"
#include "../../../support/TempFolder.h"
#include "core/TextUtil.h"
#include "pages/SpreadsheetTables.h"
#include "tools/sheet-standin/SheetStandIn.h"

namespace sheet_test {

inline std::wstring StandInProgram()
{
    std::wstring tools = MultiByteToWString(std::string(NORVANE_TOOLS_DIR), CP_ACP);
    for (wchar_t& c : tools)
        if (c == L'/')
            c = L'\\';
    return (tools.rfind(L"\\", 0) == 0 ? L"Z:" : L"") + tools + L"\\sheetstandin.exe";
}

// Runs "sheetstandin.exe /RegServer" once per process; the prefix keeps the registration.
inline void RegisterStandIn()
{
    static const DWORD result = [] {
        STARTUPINFOW start{sizeof start};
        PROCESS_INFORMATION process{};
        if (!CChildJob::Instance().Start(nullptr, L"\"" + StandInProgram() + L"\" /RegServer", nullptr, start, process))
            return GetLastError() | 0x80000000u;
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return code;
    }();
    ASSERT_EQ(result, 0u) << "build and register tools/sheet-standin";
}

inline std::vector<std::wstring> ReadLog(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::string bytes;
    char buffer[8192];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    const std::wstring text = MultiByteToWString(bytes, CP_UTF8);
    size_t at = 0;
    for (size_t end; (end = text.find(L'\n', at)) != std::wstring::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// The lines of the log that call one of the members (text after the object's dot).
inline std::vector<std::wstring> Calls(const std::vector<std::wstring>& log, const std::wstring& member)
{
    std::vector<std::wstring> found;
    for (const auto& line : log) {
        const size_t dot = line.find(L'.');
        if (dot != std::wstring::npos && line.compare(dot + 1, member.size(), member) == 0 &&
            (line.size() == dot + 1 + member.size() || line[dot + 1 + member.size()] == L'(' ||
             line[dot + 1 + member.size()] == L' '))
            found.push_back(line);
    }
    return found;
}

// The stand-in servers this process started (the system starts a local server from the
// client's process), opened to wait on.
inline std::vector<HANDLE> OpenOwnServers()
{
    std::vector<HANDLE> servers;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return servers;
    PROCESSENTRY32W entry{sizeof entry};
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() && _wcsicmp(entry.szExeFile, L"sheetstandin.exe") == 0)
            if (HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID))
                servers.push_back(h);
    CloseHandle(snapshot);
    return servers;
}

// One test's stand-in: a log file of its own, failures and data shape as asked, the COM scope.
// A member of the test's fixture, made in SetUp order (after the fixture's own folder). At the
// end every server the test started has ended (a server left running would be a reference the
// test did not release); a failed test shows the stand-in's call log.
class CSheetEnv
{
public:
    CSheetEnv()
    {
        SetEnvironmentVariableW(L"NORVANE_SHEET_LOG", LogPath().c_str());
        SetEnvironmentVariableW(L"NORVANE_SHEET_FAIL", nullptr);
        SetEnvironmentVariableW(L"NORVANE_SHEET_SHAPE", nullptr);
    }
    ~CSheetEnv()
    {
        for (HANDLE server : OpenOwnServers()) {
            if (WaitForSingleObject(server, 10000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "a spreadsheet stand-in server of this test still runs after its last release";
                TerminateProcess(server, 99);
            }
            CloseHandle(server);
        }
        if (::testing::Test::HasFailure()) {
            std::string text;
            for (const auto& line : Log())
                text += "  " + WStringToMultiByte(line, CP_UTF8) + "\n";
            std::printf("the stand-in's call log:\n%s", text.empty() ? "  (empty)\n" : text.c_str());
        }
        SetEnvironmentVariableW(L"NORVANE_SHEET_LOG", nullptr);
        SetEnvironmentVariableW(L"NORVANE_SHEET_FAIL", nullptr);
        SetEnvironmentVariableW(L"NORVANE_SHEET_SHAPE", nullptr);
    }
    CSheetEnv(const CSheetEnv&) = delete;
    CSheetEnv& operator=(const CSheetEnv&) = delete;

    std::wstring LogPath() const { return folder.File(L"calls.log"); }
    std::vector<std::wstring> Log() const { return ReadLog(LogPath()); }
    std::wstring File(const wchar_t* name) const { return folder.File(name); }
    static void FailMember(const wchar_t* failure) { SetEnvironmentVariableW(L"NORVANE_SHEET_FAIL", failure); }
    static void Shape(const wchar_t* shape) { SetEnvironmentVariableW(L"NORVANE_SHEET_SHAPE", shape); }

    // The applications are the stand-in made in this process, with the environment's options.
    void UseInProcess()
    {
        services.createAutomationObject = [](const wchar_t* progId, IDispatch** object) {
            const SheetFlavour flavour =
                std::wstring(progId) == L"Excel.Application" ? SheetFlavour::Excel : SheetFlavour::Calc;
            return CreateSheetStandIn(flavour, SheetStandInOptionsFromEnvironment(), object);
        };
    }
    // The program ids lead nowhere: as on a machine without either application.
    void UseUnregistered()
    {
        services.createAutomationObject = [](const wchar_t*, IDispatch** object) {
            return ApplicationSystemServices().CreateAutomationObject(L"Norvane.NoSuchApplication", object);
        };
    }

    CTempFolder folder;
    CComInitScope com;
    CFakeSystemServices services;
};

class SheetFixture : public ::testing::Test
{
protected:
    CSheetEnv env;
};

// A path as the log writes it inside quotes.
inline std::wstring Quoted(const std::wstring& text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"')
            out += L'\\';
        out += c;
    }
    return out + L"\"";
}

// Cells for a stand-in file.
inline VARIANT Text(const wchar_t* text)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}
inline VARIANT Number(double value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}
inline VARIANT Int32(int value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}
inline VARIANT Boolean(bool value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

inline void WriteSheet(const std::wstring& path, std::vector<SheetFileCell> cells)
{
    ASSERT_TRUE(WriteSheetFile(path, cells));
    for (auto& cell : cells)
        VariantClear(&cell.value);
}

// Every cell of an opened table as text, row by row.
inline std::vector<std::vector<std::wstring>> ReadAll(CBTableImport& table)
{
    std::vector<std::vector<std::wstring>> rows;
    if (table.GetRowCount() < 1)
        return rows;
    do {
        std::vector<std::wstring> row;
        for (int c = 0; c < table.GetColumnCount(); ++c) {
            if (c > 0) {
                EXPECT_TRUE(table.MoveColumn(1));
            }
            std::wstring text;
            table.GetText(text);
            row.push_back(text);
        }
        rows.push_back(row);
    } while (table.NextRow());
    return rows;
}

}  // namespace sheet_test
