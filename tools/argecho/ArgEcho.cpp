// Writes how it was started to the file named by NORVANE_ARGECHO_OUT (UTF-16, each part
// followed by a zero character): the command line, the current folder, then every argument
// as CommandLineToArgvW reads them. The file appears whole (written beside it and moved), and
// then the event named by NORVANE_ARGECHO_EVENT, when there is one, is set.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[1024];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

} // namespace

int wmain()
{
    const std::wstring target = Environment(L"NORVANE_ARGECHO_OUT");
    if (target.empty())
        return 2;
    std::wstring record = GetCommandLineW();
    record += L'\0';
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    record += folder;
    record += L'\0';
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; args != nullptr && i < count; ++i) {
        record += args[i];
        record += L'\0';
    }
    LocalFree(args);

    const std::wstring temporary = target + L".part";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    if (!ok || !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 4;

    const std::wstring eventName = Environment(L"NORVANE_ARGECHO_EVENT");
    if (!eventName.empty()) {
        HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str());
        if (done != nullptr) {
            SetEvent(done);
            CloseHandle(done);
        }
    }
    return 0;
}
