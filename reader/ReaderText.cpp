#include "reader/ReaderText.h"
#include <cstdarg>
#include "core/TextUtil.h"

std::wstring LoadResStringText(UINT id)
{
    std::wstring s;
    LoadResString(id, s);
    return s;
}

std::wstring FormatResText(UINT id, ...)
{
    std::wstring format = LoadResStringText(id), out;
    va_list args;
    va_start(args, id);
    FormatStringV(out, format.c_str(), args);
    va_end(args);
    return out;
}
