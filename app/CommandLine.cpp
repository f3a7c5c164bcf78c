#include "app/CommandLine.h"
#include <windows.h>
#include <shellapi.h>
#include <cwctype>
#include "core/File.h"
#include "core/TextUtil.h"

namespace {

struct SwitchEntry
{
    const wchar_t* name;
    uint32_t flag;
    int32_t action;
};

constexpr SwitchEntry kSwitches[] = {
    {L"o", CMDF_HANDOVER, CMDA_NONE},     {L"n", CMDF_NEW, CMDA_NONE},
    {L"start", 0, CMDA_START},            {L"stop", 0, CMDA_STOP},
    {L"restart", 0, CMDA_RESTART},        {L"docdir", CMDF_DOCDIR, CMDA_NONE},
    {L"autorun", CMDF_AUTORUN, CMDA_NONE}, {L"admin", CMDF_ADMIN, CMDA_NONE},
    {L"language", CMDF_LANGUAGE, CMDA_NONE},
};

// Frees the argument vector of CommandLineToArgvW.
class CArgv
{
public:
    explicit CArgv(const wchar_t* commandLine) : m_argv(CommandLineToArgvW(commandLine, &m_count)) {}
    ~CArgv()
    {
        if (m_argv)
            LocalFree(m_argv);
    }
    CArgv(const CArgv&) = delete;
    CArgv& operator=(const CArgv&) = delete;

    int Count() const { return m_argv ? m_count : 0; }
    const wchar_t* operator[](int i) const { return m_argv[i]; }

private:
    int m_count = 0;
    wchar_t** m_argv;
};

void ApplySwitch(const wchar_t* text, _CMDLINE_INFO& info)
{
    std::wstring name(text);
    std::wstring value;
    if (const size_t eq = name.find(L'='); eq != std::wstring::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        UnquoteString(value);
    }
    for (wchar_t& c : name)
        c = static_cast<wchar_t>(std::towlower(c));
    for (const SwitchEntry& s : kSwitches) {
        if (name != s.name)
            continue;
        info.flags |= s.flag;
        if (s.action != CMDA_NONE)
            info.action = s.action;
        if (s.flag == CMDF_DOCDIR)
            info.docDir = value;
        else if (s.flag == CMDF_LANGUAGE)
            info.language = value;
        return;
    }
}

} // namespace

int ParseCommandLine(const wchar_t* commandLine, _CMDLINE_INFO& info)
{
    info = _CMDLINE_INFO();
    // CommandLineToArgvW gives the program's own path for an empty line, which is not an argument.
    if (!commandLine || !*commandLine)
        return 0;
    CArgv argv(commandLine);
    for (int i = 0; i < argv.Count(); ++i) {
        const wchar_t* arg = argv[i];
        if (arg[0] == L'-' || arg[0] == L'/') {
            ApplySwitch(arg + 1, info);
        } else if (_wcsicmp(FindExtension(arg), L".nv2") == 0) {
            info.configFile = arg;
            info.flags |= CMDF_CONFIG;
        }
    }
    return 0;
}
