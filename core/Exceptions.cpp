#include "core/Exceptions.h"
#include <algorithm>
#include <iterator>

namespace {

bool IsInterfaceFacility(DWORD code)
{
    return ((code >> 16) & 0x1FFF) == FACILITY_ITF;
}

// Frees a FormatMessageW buffer.
class CLocalText
{
public:
    CLocalText() = default;
    ~CLocalText()
    {
        if (m_p)
            LocalFree(m_p);
    }
    CLocalText(const CLocalText&) = delete;
    CLocalText& operator=(const CLocalText&) = delete;
    wchar_t** Address() { return &m_p; }
    const wchar_t* Get() const { return m_p; }

private:
    wchar_t* m_p = nullptr;
};

struct CauseEntry
{
    LONG osError;
    int cause;
};

// Win32 error code to file-error cause; codes not listed are genericException.
constexpr CauseEntry kCauseTable[] = {
    {0, CFileException::none},
    {2, CFileException::fileNotFound}, {6, CFileException::fileNotFound},
    {18, CFileException::fileNotFound}, {107, CFileException::fileNotFound},
    {3, CFileException::badPath}, {15, CFileException::badPath}, {17, CFileException::badPath},
    {34, CFileException::badPath}, {52, CFileException::badPath}, {53, CFileException::badPath},
    {55, CFileException::badPath}, {67, CFileException::badPath}, {70, CFileException::badPath},
    {85, CFileException::badPath}, {111, CFileException::badPath}, {123, CFileException::badPath},
    {124, CFileException::badPath}, {125, CFileException::badPath}, {144, CFileException::badPath},
    {154, CFileException::badPath}, {161, CFileException::badPath}, {206, CFileException::badPath},
    {208, CFileException::badPath}, {267, CFileException::badPath},
    {4, CFileException::tooManyOpenFiles}, {36, CFileException::tooManyOpenFiles},
    {68, CFileException::tooManyOpenFiles}, {113, CFileException::tooManyOpenFiles},
    {5, CFileException::accessDenied}, {12, CFileException::accessDenied},
    {19, CFileException::accessDenied}, {29, CFileException::accessDenied},
    {54, CFileException::accessDenied}, {58, CFileException::accessDenied},
    {64, CFileException::accessDenied}, {65, CFileException::accessDenied},
    {71, CFileException::accessDenied}, {80, CFileException::accessDenied},
    {82, CFileException::accessDenied}, {86, CFileException::accessDenied},
    {170, CFileException::accessDenied}, {183, CFileException::accessDenied},
    {999, CFileException::accessDenied},
    {11, CFileException::invalidFile}, {26, CFileException::invalidFile},
    {60, CFileException::invalidFile}, {66, CFileException::invalidFile},
    {114, CFileException::invalidFile}, {182, CFileException::invalidFile},
    {191, CFileException::invalidFile}, {193, CFileException::invalidFile},
    {16, CFileException::removeCurrentDir}, {145, CFileException::removeCurrentDir},
    {62, CFileException::directoryFull},
    {24, CFileException::badSeek}, {25, CFileException::badSeek}, {27, CFileException::badSeek},
    {30, CFileException::badSeek}, {131, CFileException::badSeek}, {132, CFileException::badSeek},
    {20, CFileException::hardIO}, {21, CFileException::hardIO}, {22, CFileException::hardIO},
    {23, CFileException::hardIO}, {57, CFileException::hardIO}, {59, CFileException::hardIO},
    {88, CFileException::hardIO}, {117, CFileException::hardIO}, {995, CFileException::hardIO},
    {996, CFileException::hardIO}, {997, CFileException::hardIO},
    {32, CFileException::sharingViolation},
    {33, CFileException::lockViolation}, {108, CFileException::lockViolation},
    {167, CFileException::lockViolation},
    {39, CFileException::diskFull}, {112, CFileException::diskFull},
    {38, CFileException::endOfFile},
};

const char* const kDbfCauseTexts[] = {"Unknown Error", "Stream Error", "Bad Value"};

}  // namespace

bool GetSystemMessageTextArgs(std::wstring& out, HMODULE module, DWORD code, const DWORD_PTR* inserts,
                              size_t insertCount)
{
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE;
    if (!IsInterfaceFacility(code))
        flags |= FORMAT_MESSAGE_FROM_SYSTEM;
    // A text may name more inserts than the caller gave: pad the array so that %n never reads
    // past it (FormatMessage knows no count). Without inserts they are left as they stand.
    DWORD_PTR args[99];
    if (inserts && insertCount > 0)
    {
        flags |= FORMAT_MESSAGE_ARGUMENT_ARRAY;
        size_t n = std::min(insertCount, std::size(args));
        std::copy(inserts, inserts + n, args);
        std::fill(args + n, std::end(args), reinterpret_cast<DWORD_PTR>(L""));
    }
    else
        flags |= FORMAT_MESSAGE_IGNORE_INSERTS;
    CLocalText text;
    DWORD n = FormatMessageW(flags, module, code, 0, reinterpret_cast<wchar_t*>(text.Address()), 0,
                             (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) ? reinterpret_cast<va_list*>(args) : nullptr);
    if (n == 0 || !text.Get())
        return false;
    std::wstring result(text.Get(), n);
    while (!result.empty() && (result.back() == L'\r' || result.back() == L'\n'))
        result.pop_back();
    out = std::move(result);
    return true;
}

COSException::COSException(DWORD code) : m_code(code)
{
    if (code == 0)
    {
        m_message = "A call to an OS function failed";
        return;
    }
    std::wstring text;
    FormatResString(text, IDS_SYSTEM_ERROR, static_cast<int>(code));
    std::wstring system;
    if (GetSystemMessageText(system, GetResourceModule(), code))
        text += system;
    m_message = WStringToMultiByte(text, CP_ACP);
}

CComException::CComException(HRESULT code, HMODULE module) : m_code(code), m_module(module)
{
    std::wstring text;
    FormatResString(text, IDS_COM_ERROR, static_cast<unsigned>(code));
    std::wstring codeText;
    if (code != 0 && GetSystemMessageText(codeText, module, static_cast<DWORD>(code)))
        text += codeText;
    m_message = WStringToMultiByte(text, CP_ACP);
}

int CFileException::OsErrorToCause(LONG osError)
{
    for (const CauseEntry& e : kCauseTable)
        if (e.osError == osError)
            return e.cause;
    return genericException;
}

std::wstring CFileException::GetErrorText() const
{
    std::wstring text;
    if (m_cause == endOfFile)
        return text;
    // An out-of-range cause reads as the unknown error rather than as no text at all.
    int cause = (m_cause >= none && m_cause < endOfFile) ? m_cause : genericException;
    FormatResString(text, IDS_FILE_ERROR_BASE + static_cast<UINT>(cause), m_fileName.c_str());
    return text;
}

const char* CFileException::what() const noexcept
{
    try
    {
        m_message = WStringToMultiByte(GetErrorText(), CP_ACP);
    }
    catch (...)
    {
        m_message.clear();
    }
    return m_message.c_str();
}

CDbfException::CDbfException(const std::wstring& fileName, int cause) : m_cause(cause), m_fileName(fileName)
{
    m_message = (cause >= 0 && cause < 3) ? kDbfCauseTexts[cause] : kDbfCauseTexts[0];
    if (!fileName.empty())
        m_message += " (" + WStringToMultiByte(fileName, CP_ACP) + ")";
}

void ThrowOSError(DWORD win32Code)
{
    throw COSException(win32Code);
}

void ThrowComError(HRESULT resultCode)
{
    throw CComException(resultCode, GetResourceModule());
}

void ThrowFileException(int cause, LONG osError, const std::wstring& fileName)
{
    throw CFileException(cause, osError, fileName);
}

void ThrowFileExceptionFromOSError(LONG osError, const std::wstring& fileName)
{
    throw CFileException(CFileException::OsErrorToCause(osError), osError, fileName);
}
