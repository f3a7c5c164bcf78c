#pragma once
// Fixture of the file tests: a fresh folder under the temporary folder for each test, removed
// afterwards even when it holds names beyond the 260-character limit.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>
#include "core/File.h"

class FileTestFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        GetCurrentDirectoryW(MAX_PATH, m_cwd);
        wchar_t name[64];
        swprintf(name, 64, L"nvfile_%lu_%lu", GetCurrentProcessId(), GetTickCount());
        m_dir = std::wstring(temp) + name;
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        ASSERT_TRUE(CreateDirectoryW(m_dir.c_str(), nullptr));
    }
    void TearDown() override
    {
        LeaveFolder();
        std::error_code ec;
        std::filesystem::remove_all(L"\\\\?\\" + m_dir, ec);
    }

    // Relative names resolve in the test folder until LeaveFolder (or the end of the test).
    void EnterFolder() const { SetCurrentDirectoryW(m_dir.c_str()); }
    void LeaveFolder() const { SetCurrentDirectoryW(m_cwd); }

    std::wstring Path(const std::wstring& name) const { return m_dir + L"\\" + name; }

    static void Put(const std::wstring& path, const std::string& bytes)
    {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD written = 0;
        if (!bytes.empty())
            WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
        ASSERT_EQ(bytes.size(), written);
    }

    static std::string Get(const std::wstring& path)
    {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        std::string data;
        char buf[65536];
        DWORD n = 0;
        while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0)
            data.append(buf, n);
        CloseHandle(h);
        return data;
    }

    static bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::vector<std::wstring> Names() const
    {
        std::vector<std::wstring> names;
        for (const auto& e : std::filesystem::directory_iterator(m_dir))
            names.push_back(e.path().filename().wstring());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::wstring m_dir;
    wchar_t m_cwd[MAX_PATH] = {};
};
