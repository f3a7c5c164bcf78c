#pragma once
// A fresh folder under %TEMP% for one test, removed with everything in it afterwards.
#include <windows.h>
#include <filesystem>
#include <string>

class CTempFolder
{
public:
    CTempFolder()
    {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        static LONG counter = 0;
        for (;;)
        {
            wchar_t name[64];
            swprintf(name, 64, L"nvt_%lu_%ld_%lu", GetCurrentProcessId(), InterlockedIncrement(&counter), GetTickCount());
            m_path = std::wstring(base) + name;
            if (CreateDirectoryW(m_path.c_str(), nullptr))
                break;
        }
    }
    ~CTempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};
