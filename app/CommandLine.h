#pragma once
// The program's command line: switches introduced by "-" or "/" (some with "=value") and a
// configuration file name ending in ".nv2".
#include <cstdint>
#include <string>

// Flags of _CMDLINE_INFO.
constexpr uint32_t CMDF_AUTORUN = 0x01;
constexpr uint32_t CMDF_HANDOVER = 0x02;   // "o": hand over to a running instance
constexpr uint32_t CMDF_NEW = 0x04;        // "n": start another instance
constexpr uint32_t CMDF_ADMIN = 0x10;
constexpr uint32_t CMDF_LANGUAGE = 0x20;
constexpr uint32_t CMDF_DOCDIR = 0x40;
constexpr uint32_t CMDF_CONFIG = 0x80;

enum CmdLineAction : int32_t
{
    CMDA_NONE = 0,
    CMDA_START = 1,
    CMDA_STOP = 2,
    CMDA_RESTART = 3,
};

struct _CMDLINE_INFO
{
    uint32_t flags = 0;
    int32_t action = CMDA_NONE;
    std::wstring language;
    std::wstring docDir;
    std::wstring configFile;

    bool Has(uint32_t flag) const { return (flags & flag) != 0; }
    // "o" without "n": hand over to an instance that runs already.
    bool WantsHandOver() const { return Has(CMDF_HANDOVER) && !Has(CMDF_NEW); }
};

// Fills info (reset first) from the command line; a line the shell cannot split leaves it
// empty. Returns 0.
int ParseCommandLine(const wchar_t* commandLine, _CMDLINE_INFO& info);
