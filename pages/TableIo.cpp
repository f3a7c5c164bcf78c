#include "pages/TableIo.h"

#include <cerrno>
#include <cwchar>

#include "core/TextUtil.h"

bool CBTableImport::MoveColumn(int relative)
{
    const int64_t target = static_cast<int64_t>(m_column) + relative;
    if (target < 0 || target >= m_columnCount)
        return false;
    m_column = static_cast<int>(target);
    return true;
}

bool CBTableImport::GetDouble(double& out)
{
    std::wstring text;
    return GetText(text) && TableTextToDouble(text, out);
}

bool CBTableImport::GetInt64(int64_t& out)
{
    std::wstring text;
    return GetText(text) && TableTextToInt64(text, out);
}

bool TableTextToDouble(const std::wstring& text, double& out)
{
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    errno = 0;
    const double value = std::wcstod(begin, &end);
    if (value == 0.0 && (end == begin || errno == ERANGE))
        return false;
    out = value;
    return true;
}

bool TableTextToInt64(const std::wstring& text, int64_t& out)
{
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    errno = 0;
    const long long value = std::wcstoll(begin, &end, 10);
    if (value == 0 && (end == begin || errno == ERANGE))
        return false;
    out = value;
    return true;
}

CTableFileException::CTableFileException(unsigned textId, const std::wstring& name)
{
    std::wstring text;
    FormatResString(text, textId, name.c_str());
    m_message = WStringToMultiByte(text, CP_ACP);
}
