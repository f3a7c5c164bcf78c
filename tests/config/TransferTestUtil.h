#pragma once
// Helpers of the transfer document tests: configuration text in memory, temporary folders,
// the golden files.
#include <windows.h>
#include <gtest/gtest.h>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>
#include "config/ConfigFile.h"
#include "config/TransferDoc.h"
#include "core/File.h"
#include "core/Json.h"

namespace transfer_test {

// A test-data file: the build passes a Unix path, which Wine reaches through drive Z:.
inline std::wstring DataPath(const wchar_t* name)
{
    std::wstring path = MultiByteToWString(std::string(NORVANE_TEST_DATA), CP_UTF8);
    if (!path.empty() && path[0] == L'/')
        path = L"Z:" + path;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path + L"\\" + name;
}

inline std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(h);
    return bytes;
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD put = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
}

inline std::string Utf8(const std::wstring& text)
{
    return WStringToMultiByte(text, CP_UTF8);
}

// A folder of its own under %TEMP%, removed with the object.
class TempFolder
{
public:
    TempFolder()
    {
        static int serial = 0;
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        m_path = std::wstring(base) + L"nv_transfer_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                 std::to_wstring(++serial);
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

// The format version that a load reads from the text's header.
inline PackedVersion HeaderVersion(const JsonValue& root)
{
    PackedVersion version = 0;
    const JsonValue* info = root.FindMember(L"info", JSON_OBJECT);
    std::wstring name, text;
    if (info && info->GetString(L"name", name) && name == L"Norvane" && info->GetString(L"version", text))
        ParseVersion(text.c_str(), version);
    return version;
}

// The configuration part of the document as the settings files hold it.
inline std::wstring SaveText(CTransferDoc& doc)
{
    CAppCfgFile file;
    file.StampHeader();
    SaveTransferConfig(doc, file);
    std::wstring text;
    file.Root.Serialize(text, L"\r\n");
    return text;
}

// Loads a whole settings file text held in memory.
inline bool LoadText(CTransferDoc& doc, const std::wstring& text)
{
    JsonValue root;
    JsonParse(text, root);
    return LoadTransferConfig(doc, root, HeaderVersion(root));
}

// Loads members (the inside of the root object) of a file of the given version.
inline bool LoadMembers(CTransferDoc& doc, const wchar_t* version, const std::wstring& members)
{
    return LoadText(doc, std::wstring(L"{\"info\": {\"name\": \"Norvane\", \"version\": \"") + version + L"\"}" +
                             (members.empty() ? L"" : L", ") + members + L"}");
}

// Every delivery of a document to one observer: the change word and the detail words that
// the document offered meanwhile.
class ChangeLog
{
public:
    struct Call
    {
        uint32_t word;
        TransferDetailWords details;
    };
    explicit ChangeLog(CTransferDoc& doc) : m_doc(doc) { m_slot = doc.AddObserver(this, &ChangeLog::OnChange); }
    ~ChangeLog() { m_doc.RemoveObserver(m_slot); }
    ChangeLog(const ChangeLog&) = delete;
    ChangeLog& operator=(const ChangeLog&) = delete;

    std::vector<Call> calls;

private:
    static void OnChange(void* key, CDocument* document, const uint32_t* bits)
    {
        static_cast<ChangeLog*>(key)->calls.push_back({bits[0], static_cast<CTransferDoc*>(document)->GetDetails()});
    }
    CTransferDoc& m_doc;
    int m_slot = -1;
};

inline _KEY_NUMBER Key(std::initializer_list<uint8_t> bytes)
{
    std::vector<uint8_t> list(bytes);
    return MakeKeyNumber(list.data(), list.size());
}

}  // namespace transfer_test
