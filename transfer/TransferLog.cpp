#include "transfer/TransferLog.h"

#include "config/AppSettings.h"
#include "config/KeyNumber.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "core/TextUtil.h"
#include "framework/SysFunctions.h"
#include "resources/resource.h"

const wchar_t kTransferLogFileName[] = L"Transfer.log";

const wchar_t* const KeyTypeCodes[kKeyTypeCodeCount] = {
    L"X",      L"EM",     L"HID",   L"IC", L"COD433", L"COD433F", L"CAME", L"DS",   L"TEMIC",  L"UL",     L"M1K",
    L"M2K",    L"M4K",    L"M+",    L"M+1K", L"M+2K", L"M+4K",    L"SMXM1K", L"SMXM4K", L"DF", L"PX",     L"MINI",
};

const wchar_t* KeyTypeCode(int keyType)
{
    return keyType >= 0 && keyType < kKeyTypeCodeCount ? KeyTypeCodes[keyType] : KeyTypeCodes[0];
}

std::wstring MakeFormatDisplayName(const std::wstring& storedName)
{
    if (storedName.empty() || storedName[0] != L'\n')
        return storedName;
    std::wstring prefix;
    LoadResString(IDS_PRESET_PREFIX, prefix);
    return prefix + storedName.substr(1);
}

std::wstring EscapeTransferLogName(const std::wstring& name)
{
    std::wstring out;
    out.reserve(name.size() + 8);
    for (wchar_t c : name)
    {
        switch (c)
        {
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'"': out += L"\\\""; break;
        case L'\\': out += L"\\\\"; break;
        case L']': out += L"\\]"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::string BuildTransferLogLine(const CTimeValue& time, int keyType, const _KEY_NUMBER& key,
                                 const std::wstring& formatName, const std::wstring& output,
                                 const std::wstring& destination)
{
    SYSTEMTIME t{};
    if (!time.GetSystemTime(t))
        t = SYSTEMTIME{};
    std::wstring keyText;
    KeyToHex(keyText, key);

    std::wstring line;
    FormatString(line, L"%.2d.%.2d.%.4d %.2d:%.2d:%.2d ", t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute,
                 t.wSecond);
    line += L'[';
    line += KeyTypeCode(keyType);
    line += L' ';
    line += keyText;
    line += L", \"";
    line += EscapeTransferLogName(formatName);
    line += L"\"] ";

    const std::wstring shownOutput = EscapeLineBreaks(output.c_str(), static_cast<int>(output.size()));
    const std::wstring shownDestination = EscapeLineBreaks(destination.c_str(), static_cast<int>(destination.size()));
    std::wstring format;
    LoadResString(IDS_TRANSFER_LOG_TEXTS, format);
    // The formatter's room is the target's capacity: texts of any length fit.
    line.reserve(line.size() + format.size() + shownOutput.size() + shownDestination.size() + 16);
    AppendFormatString(line, format.c_str(), shownOutput.c_str(), shownDestination.c_str());
    line += L"\r\n";
    return WStringToMultiByte(line, CP_ACP);
}

void AppendTransferLogLine(const std::wstring& path, const CTimeValue& time, int keyType, const _KEY_NUMBER& key,
                           const std::wstring& formatName, const std::wstring& output,
                           const std::wstring& destination)
{
    const std::string line = BuildTransferLogLine(time, keyType, key, formatName, output, destination);
    if (!AppendToLogFile(line.data(), path, static_cast<int>(line.size()), -1))
        ThrowFileExceptionFromOSError(static_cast<LONG>(GetLastError()), path);
}

void WriteTransferLog(const CAppSettings& settings, const CTimeValue& time, int keyType, const _KEY_NUMBER& key,
                      const std::wstring& formatName, const std::wstring& output, const std::wstring& destination)
{
    std::wstring folder;
    settings.ResolveDocumentsFolder(folder, false);
    AppendTransferLogLine(folder + L"\\" + kTransferLogFileName, time, keyType, key, formatName, output,
                          destination);
}

std::wstring KeyboardLoggedText(const std::wstring& output, const std::vector<uint32_t>& keys)
{
    std::wstring out;
    out.reserve(output.size() + keys.size() * 8);
    size_t next = 0;
    for (wchar_t c : output)
    {
        if (c == L'\x0001' && next < keys.size())
            AppendFormatString(out, L"\\k%.3X", keys[next++]);
        else
            out += c;
    }
    return out;
}
