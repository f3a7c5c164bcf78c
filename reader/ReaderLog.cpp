// The reader's debug-log lines. The source of each is the reader's port name; information
// lines need a log level above 4, warnings above 2, errors above 1.
#include <cstdarg>
#include "config/KeyNumber.h"
#include "core/TextUtil.h"
#include "reader/Reader.h"
#include "reader/ReaderModels.h"
#include "reader/ReaderText.h"

namespace {

constexpr int kLogInfo = 1, kLogWarning = 2, kLogError = 3;

std::wstring HexSpaced(const BYTE* data, size_t length)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring s;
    for (size_t i = 0; i < length; ++i) {
        if (i)
            s += L' ';
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

// Bytes as text for the log: CR and LF made visible.
std::wstring Escaped(const BYTE* data, size_t length)
{
    std::wstring s;
    for (size_t i = 0; i < length; ++i) {
        if (data[i] == '\r')
            s += L"\\r";
        else if (data[i] == '\n')
            s += L"\\n";
        else
            s += static_cast<wchar_t>(data[i]);
    }
    return s;
}

} // namespace

void CReader::SetLogTarget(ReaderLogTarget target)
{
    CReaderLock lock(&m_cs);
    m_log = std::move(target);
}

bool CReader::LogWanted(int threshold)
{
    CReaderLock lock(&m_cs);
    return m_log.write && m_log.level > threshold;
}

void CReader::WriteLog(int kind, int threshold, const std::wstring& text)
{
    ReaderLogTarget target;
    std::wstring source;
    {
        CReaderLock lock(&m_cs);
        if (!m_log.write || m_log.level <= threshold)
            return;
        target = m_log;
        source = settings.portName;
    }
    target.write(kind, source, text);
}

void CReader::LogInfo(UINT id, ...)
{
    if (!LogWanted(4))
        return;
    std::wstring format = LoadResStringText(id), text;
    va_list args;
    va_start(args, id);
    FormatStringV(text, format.c_str(), args);
    va_end(args);
    WriteLog(kLogInfo, 4, text);
}

void CReader::LogError(UINT id, ...)
{
    if (!LogWanted(1))
        return;
    std::wstring format = LoadResStringText(id), text;
    va_list args;
    va_start(args, id);
    FormatStringV(text, format.c_str(), args);
    va_end(args);
    WriteLog(kLogError, 1, text);
}

void CReader::LogInfoText(const wchar_t* format, ...)
{
    if (!LogWanted(4))
        return;
    std::wstring text;
    va_list args;
    va_start(args, format);
    FormatStringV(text, format, args);
    va_end(args);
    WriteLog(kLogInfo, 4, text);
}

void CReader::LogWarningText(const wchar_t* format, ...)
{
    if (!LogWanted(2))
        return;
    std::wstring text;
    va_list args;
    va_start(args, format);
    FormatStringV(text, format, args);
    va_end(args);
    WriteLog(kLogWarning, 2, text);
}

void CReader::LogKey(UINT id, const _KEY_PRESENCE& entry)
{
    if (!LogWanted(4))
        return;
    std::wstring key;
    KeyToText(key, entry.key, ResolveKeyViewFormat(KEY_VIEW_AUTO, entry.keyType));
    LogInfo(id, KeyTypeShortName(entry.keyType), key.c_str());
}

void CReader::LogBytes(UINT id, const BYTE* data, size_t length, bool hex)
{
    if (!LogWanted(4))
        return;
    const std::wstring shown = hex ? HexSpaced(data, length) : Escaped(data, length);
    LogInfo(id, static_cast<int>(length), shown.c_str());
}
