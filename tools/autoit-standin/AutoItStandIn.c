/* Records each call as one UTF-8 line: "Opt <value> <name>" or "Send <mode> <text>", the text
   with backslash, CR and LF written as \\, \r and \n. Without NORVANE_AUTOIT_RECORD nothing is
   written. */
#include <windows.h>

static void AppendRecord(const wchar_t* line)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"NORVANE_AUTOIT_RECORD", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, NULL, 0, NULL, NULL);
    if (bytes <= 1)
        return;
    char* utf8 = (char*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)bytes);
    if (!utf8)
        return;
    WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, bytes, NULL, NULL);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
    {
        DWORD written = 0;
        WriteFile(file, utf8, (DWORD)(bytes - 1), &written, NULL);
        CloseHandle(file);
    }
    HeapFree(GetProcessHeap(), 0, utf8);
}

/* Room for the prefix, the escaped text (two characters each at most) and the line end. */
static wchar_t* MakeLine(const wchar_t* prefix, const wchar_t* text)
{
    size_t p = lstrlenW(prefix), t = text ? (size_t)lstrlenW(text) : 0;
    wchar_t* line = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, (p + 2 * t + 2) * sizeof(wchar_t));
    if (!line)
        return NULL;
    lstrcpyW(line, prefix);
    wchar_t* out = line + p;
    for (size_t i = 0; i < t; ++i)
    {
        wchar_t c = text[i];
        if (c == L'\\' || c == L'\r' || c == L'\n')
        {
            *out++ = L'\\';
            *out++ = c == L'\r' ? L'r' : c == L'\n' ? L'n' : L'\\';
        }
        else
            *out++ = c;
    }
    *out++ = L'\n';
    *out = 0;
    return line;
}

static void Record(const wchar_t* prefix, const wchar_t* text)
{
    wchar_t* line = MakeLine(prefix, text);
    if (line)
    {
        AppendRecord(line);
        HeapFree(GetProcessHeap(), 0, line);
    }
}

__declspec(dllexport) long WINAPI AU3_Opt(const wchar_t* option, long value)
{
    wchar_t prefix[32];
    wsprintfW(prefix, L"Opt %ld ", value);
    Record(prefix, option);
    return 1;
}

__declspec(dllexport) void WINAPI AU3_Send(const wchar_t* text, long mode)
{
    wchar_t prefix[32];
    wsprintfW(prefix, L"Send %ld ", mode);
    Record(prefix, text);
}
