// The reader's debug-log lines. Their source is the reader's port name; information lines
// and port traffic need a log level above 4, warnings above 2, errors above 1.
#include <cstdarg>
#include "config/KeyNumber.h"
#include "core/AppLog.h"
#include "core/TextUtil.h"
#include "framework/SysFunctions.h"
#include "reader/Reader.h"
#include "reader/ReaderModels.h"

CAppContext* CReader::LogApp(int threshold)
{
    CAppContext* app = m_app ? m_app : GetAppContext();
    return app && app->IsLogged(threshold) ? app : nullptr;
}

void CReader::WriteLogV(int kind, int threshold, const wchar_t* format, va_list args)
{
    CAppContext* app = LogApp(threshold);
    if (!app || !format)
        return;
    std::wstring text;
    text.reserve(4096);
    AppendFormatStringV(text, format, args);
    std::wstring source;
    app->WriteLogLine(kind, app->LogSourceText(this, source), text.c_str(), static_cast<int>(text.size()));
}

void CReader::LogInfo(UINT id, ...)
{
    if (!LogApp(LOG_THRESHOLD_TRACE))
        return;
    std::wstring format;
    LoadResString(id, format);
    va_list args;
    va_start(args, id);
    WriteLogV(LOG_INFO, LOG_THRESHOLD_TRACE, format.c_str(), args);
    va_end(args);
}

void CReader::LogError(UINT id, ...)
{
    if (!LogApp(LOG_THRESHOLD_ERROR))
        return;
    std::wstring format;
    LoadResString(id, format);
    va_list args;
    va_start(args, id);
    WriteLogV(LOG_ERROR, LOG_THRESHOLD_ERROR, format.c_str(), args);
    va_end(args);
}

void CReader::LogInfoText(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteLogV(LOG_INFO, LOG_THRESHOLD_TRACE, format, args);
    va_end(args);
}

void CReader::LogWarningText(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteLogV(LOG_WARNING, LOG_THRESHOLD_WARNING, format, args);
    va_end(args);
}

void CReader::LogKey(UINT id, const _KEY_PRESENCE& entry)
{
    if (!LogApp(LOG_THRESHOLD_TRACE))
        return;
    std::wstring key;
    KeyToText(key, entry.key, ResolveKeyViewFormat(KEY_VIEW_AUTO, entry.keyType));
    LogInfo(id, KeyTypeShortName(entry.keyType), key.c_str());
}

void CReader::LogBytes(UINT id, const BYTE* data, size_t length, bool hex)
{
    if (!LogApp(LOG_THRESHOLD_TRACE))
        return;
    const int n = static_cast<int>(length);
    const std::wstring shown = hex ? BytesToHexSpaced(data, n)
                                   : EscapeLineBreaksA(reinterpret_cast<const char*>(data), n);
    LogInfo(id, n, shown.c_str());
}
