#include "transfer/CmdLineDest.h"

#include <shellapi.h>
#include <cwctype>

#include "core/File.h"
#include "core/Handle.h"

namespace {

HRESULT ResultFromWin32(DWORD error)
{
    return error == 0 ? E_FAIL : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

bool IsExistingFile(const std::wstring& path)
{
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsExistingFolder(const std::wstring& path)
{
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ExtensionIs(const std::wstring& path, const wchar_t* ext)
{
    return _wcsicmp(FindExtension(path.c_str()), ext) == 0;
}

// One character of the expanded template: the template's own (command-line syntax) or one
// of the key text (always data).
struct Piece
{
    wchar_t ch;
    bool key;
};

std::vector<Piece> ExpandPieces(const std::wstring& templ, const std::wstring& keyText)
{
    std::vector<Piece> out;
    size_t pos = 0;
    while (pos < templ.size()) {
        const size_t open = templ.find(L'%', pos);
        for (size_t i = pos; i < std::min(open, templ.size()); ++i)
            out.push_back({templ[i], false});
        if (open == std::wstring::npos)
            break;
        const size_t close = templ.find(L'%', open + 1);
        if (close == std::wstring::npos)
            break;   // an unclosed macro name is dropped
        std::wstring name = templ.substr(open + 1, close - open - 1);
        for (wchar_t& c : name)
            c = static_cast<wchar_t>(std::towlower(c));
        if (name.empty())
            out.push_back({L'%', false});
        else if (name == L"keynum")
            for (wchar_t c : keyText)
                out.push_back({c, true});
        pos = close + 1;
    }
    return out;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

} // namespace

bool IsBatchProgram(const std::wstring& program)
{
    return ExtensionIs(program, L".bat") || ExtensionIs(program, L".cmd");
}

void AppendQuotedArgument(std::wstring& out, const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        out += argument;
        return;
    }
    out += L'"';
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only in front of a quote: there they are doubled and the
        // quote itself escaped.
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    out += L'"';
}

bool BuildCommandArguments(const std::wstring& templ, const std::wstring& keyText, bool batchTarget,
                           std::wstring& out)
{
    out.clear();
    if (batchTarget && keyText.find_first_of(L"&|<>^\"%\r\n") != std::wstring::npos)
        return false;
    const std::vector<Piece> pieces = ExpandPieces(templ, keyText);

    // Split into arguments as CommandLineToArgvW does, remembering for each piece the
    // argument it belongs to (-1 between arguments).
    std::vector<std::wstring> args;
    std::vector<bool> holdsKey;
    std::vector<int> owner(pieces.size(), -1);
    std::wstring current;
    bool started = false, quoted = false, key = false;
    auto finish = [&] {
        if (started) {
            args.push_back(current);
            holdsKey.push_back(key);
        }
        current.clear();
        started = quoted = key = false;
    };
    auto here = [&] { return static_cast<int>(args.size()); };
    for (size_t i = 0; i < pieces.size();) {
        const Piece& p = pieces[i];
        if (p.key) {
            current += p.ch;
            started = key = true;
            owner[i++] = here();
            continue;
        }
        if (IsBlank(p.ch) && !quoted) {
            finish();
            ++i;
            continue;
        }
        started = true;
        if (p.ch == L'\\') {
            size_t n = 0;
            while (i + n < pieces.size() && !pieces[i + n].key && pieces[i + n].ch == L'\\')
                ++n;
            for (size_t j = 0; j < n; ++j)
                owner[i + j] = here();
            const size_t next = i + n;
            if (next < pieces.size() && !pieces[next].key && pieces[next].ch == L'"') {
                current.append(n / 2, L'\\');
                owner[next] = here();
                if (n % 2)
                    current += L'"';
                else
                    quoted = !quoted;
                i = next + 1;
            } else {
                current.append(n, L'\\');
                i = next;
            }
            continue;
        }
        owner[i] = here();
        if (p.ch == L'"') {
            if (quoted && i + 1 < pieces.size() && !pieces[i + 1].key && pieces[i + 1].ch == L'"') {
                current += L'"';
                owner[i + 1] = here();
                i += 2;
                continue;
            }
            quoted = !quoted;
        } else {
            current += p.ch;
        }
        ++i;
    }
    finish();

    // The template as written, except that each argument holding key text is written anew.
    int written = -1;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const int a = owner[i];
        if (a >= 0 && holdsKey[a]) {
            if (a != written) {
                AppendQuotedArgument(out, args[a]);
                written = a;
            }
        } else if (!pieces[i].key) {
            out += pieces[i].ch;
        }
    }
    return true;
}

HRESULT RunCommandLine(const _TRANS_DST_CMDLINE& destination, const std::wstring& text)
{
    if (destination.program.empty())
        return E_INVALIDARG;
    std::wstring program = destination.program;
    std::wstring folder = destination.initialDir;
    std::wstring expanded;
    if (!IsExistingFile(program) && ExpandEnvStrings(program.c_str(), expanded))
        program = expanded;
    if (!folder.empty() && !IsExistingFolder(folder) && ExpandEnvStrings(folder.c_str(), expanded))
        folder = expanded;
    // An empty folder means the caller's own, not a folder named "".
    const wchar_t* directory = folder.empty() ? nullptr : folder.c_str();

    std::wstring arguments;
    if (!BuildCommandArguments(destination.arguments, text, IsBatchProgram(program), arguments))
        return E_INVALIDARG;

    if (!ExtensionIs(program, L".exe") && !ExtensionIs(program, L".bat")) {
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE;
        info.lpVerb = L"open";
        info.lpFile = program.c_str();
        info.lpParameters = arguments.empty() ? nullptr : arguments.c_str();
        info.lpDirectory = directory;
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&info))
            return ResultFromWin32(GetLastError());
        CHandle started(info.hProcess);
        return S_OK;
    }

    if (!IsExistingFile(program)) {
        wchar_t found[MAX_PATH];
        std::wstring registered;
        const DWORD n = SearchPathW(nullptr, program.c_str(), nullptr, MAX_PATH, found, nullptr);
        if (n > 0 && n < MAX_PATH)
            program = found;
        else if (FindAppPath(program.c_str(), registered))
            program = registered;
    }
    // The path is always quoted: a path with blanks must not be read as a shorter program.
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                        &process))
        return ResultFromWin32(GetLastError());
    CHandle thread(process.hThread), started(process.hProcess);
    return S_OK;
}
