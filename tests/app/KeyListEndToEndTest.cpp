// Keys read into the key list of the real program: Norvane.exe reads the simulated reader over
// TCP with "toKeylist" set, and the rows of its key list page are read from the other process
// with LVM_GETITEMTEXTW.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"
#include "tools/readersim/ReaderSim.h"

using program_run::CProgramProcess;
using program_run::RunSettings;

namespace {

constexpr DWORD kStartMs = 20000;
constexpr int kKeyListId = 1157;

HWND FindKeyList(HWND main)
{
    HWND found = nullptr;
    EnumChildWindows(
        main,
        [](HWND child, LPARAM l) -> BOOL {
            wchar_t cls[32] = {};
            GetClassNameW(child, cls, 32);
            if (GetDlgCtrlID(child) == kKeyListId && _wcsicmp(cls, WC_LISTVIEWW) == 0) {
                *reinterpret_cast<HWND*>(l) = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The rows of another process's list: the item and its text buffer live in that process.
std::vector<std::wstring> RemoteRows(HWND list, int column)
{
    std::vector<std::wstring> rows;
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process)
        return rows;
    constexpr int kRoom = 128;
    void* remote = VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kRoom * sizeof(wchar_t), MEM_COMMIT,
                                  PAGE_READWRITE);
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; remote && row < count; ++row) {
        LVITEMW item{};
        item.iSubItem = column;
        item.cchTextMax = kRoom;
        item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + sizeof(LVITEMW));
        WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote));
        wchar_t text[kRoom] = {};
        ReadProcessMemory(process, item.pszText, text, sizeof text - sizeof(wchar_t), nullptr);
        rows.push_back(text);
    }
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return rows;
}

bool WaitForRows(HWND list, size_t count, DWORD ms)
{
    const ULONGLONG end = GetTickCount64() + ms;
    while (static_cast<size_t>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) != count) {
        if (GetTickCount64() > end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

} // namespace

TEST(KeyListEndToEnd, ReadKeysArriveAsRowsAndARepeatedOneOnlyOnce)
{
    CTempFolder folder;
    CReaderSim sim;
    RunSettings settings;
    const uint16_t port = sim.ListenTcp(0);
    ASSERT_NE(port, 0);
    settings.source = L"reader:127.0.0.1:" + std::to_wstring(port);
    settings.destination = L"clipboard:";
    settings.reader = "\"model\": 0, \"speed\": 9600, \"toKeylist\": true";
    settings.members = "\"keyList\": {\"noDuplicates\": true},";
    CProgramProcess program{folder.Path()};
    ASSERT_EQ(program.Prepare(settings), "");
    ASSERT_TRUE(program.Start());
    HWND main = program.WaitForMainWindow(kStartMs);
    ASSERT_TRUE(main);
    ASSERT_TRUE(program.WaitForFileText(L"Norvane.log", "Reader connected (", kStartMs));

    HWND list = nullptr;
    const ULONGLONG end = GetTickCount64() + kStartMs;
    while (!(list = FindKeyList(main)) && GetTickCount64() < end)
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    ASSERT_TRUE(list) << "no key list page";
    // The start-up's last refresh of the reader settings empties the reader's queue: keys come
    // once the program's window answers, its start-up done.
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, kStartMs, &answer));
    ASSERT_TRUE(program.WaitForFileText(L"Norvane.log", "Transfer started", kStartMs));

    const char* lines[] = {"Em-Marine[0055] 085,12345", "Em-Marine[0055] 085,12346", "Em-Marine[0055] 085,12345"};
    const size_t rowsAfter[] = {1, 2, 2};
    for (size_t i = 0; i < std::size(lines); ++i) {
        sim.PresentKey(lines[i]);
        if (rowsAfter[i] > (i ? rowsAfter[i - 1] : 0)) {
            ASSERT_TRUE(WaitForRows(list, rowsAfter[i], 10000))
                << lines[i] << "; the log:\n" << program_run::ReadWholeFile(program.File(L"Norvane.log"));
        }
        sim.RemoveKey();
    }
    // The repeated key is in the log, and still only two rows.
    ASSERT_TRUE(program.WaitForFileText(L"Norvane.log", "085,12345", 5000));
    EXPECT_EQ(2, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    EXPECT_EQ((std::vector<std::wstring>{L"Em-Marine", L"Em-Marine"}), RemoteRows(list, 1));
    // In the view form of the settings (hexadecimal by default): 0055 085,12345 is 00 55 55 30 39.
    EXPECT_EQ((std::vector<std::wstring>{L"0055553039", L"005555303A"}), RemoteRows(list, 2));
    EXPECT_TRUE(program.Close());
}
