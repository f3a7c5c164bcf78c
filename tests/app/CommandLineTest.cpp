#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace {

struct Case {
    const wchar_t* line;
    uint32_t flags;
    int32_t action;
    const wchar_t* docDir;
    const wchar_t* language;
    const wchar_t* configFile;
};

const Case kCases[] = {
    {L"", 0, CMDA_NONE, L"", L"", L""},
    {L"/start", 0, CMDA_START, L"", L"", L""},
    // Capitals with "-" work like lower case with "/"; a value after "=" is ignored.
    {L"-START=x", 0, CMDA_START, L"", L"", L""},
    {L"/Stop", 0, CMDA_STOP, L"", L"", L""},
    {L"-restart", 0, CMDA_RESTART, L"", L"", L""},
    // The later action wins.
    {L"/start /stop", 0, CMDA_STOP, L"", L"", L""},
    {L"/stop /restart /start", 0, CMDA_START, L"", L"", L""},
    {L"/o", CMDF_HANDOVER, CMDA_NONE, L"", L"", L""},
    {L"/O /N", CMDF_HANDOVER | CMDF_NEW, CMDA_NONE, L"", L"", L""},
    {L"/autorun", CMDF_AUTORUN, CMDA_NONE, L"", L"", L""},
    {L"/admin", CMDF_ADMIN, CMDA_NONE, L"", L"", L""},
    // "docdir" without "=" still sets its flag, with an empty folder.
    {L"/docdir", CMDF_DOCDIR, CMDA_NONE, L"", L"", L""},
    {L"/docdir=C:\\Data", CMDF_DOCDIR, CMDA_NONE, L"C:\\Data", L"", L""},
    // The shell's splitting keeps the quotes inside an argument, UnquoteString drops them.
    {L"\"/docdir='C:\\My Data'\"", CMDF_DOCDIR, CMDA_NONE, L"C:\\My Data", L"", L""},
    {L"/language=Russian", CMDF_LANGUAGE, CMDA_NONE, L"", L"Russian", L""},
    {L"/LANGUAGE=", CMDF_LANGUAGE, CMDA_NONE, L"", L"", L""},
    // A configuration file: the extension compared without regard to case.
    {L"cfg.NV2", CMDF_CONFIG, CMDA_NONE, L"", L"", L"cfg.NV2"},
    {L"first.nv2 \"C:\\Configs\\My set.nv2\"", CMDF_CONFIG, CMDA_NONE, L"", L"", L"C:\\Configs\\My set.nv2"},
    // Merely containing ".nv2" is not enough; the extension follows the last backslash.
    {L"a.nv2.bak", 0, CMDA_NONE, L"", L"", L""},
    {L"C:\\dir.nv2\\file", 0, CMDA_NONE, L"", L"", L""},
    {L"nv2", 0, CMDA_NONE, L"", L"", L""},
    // Unknown switches and plain words are ignored; a switch name is compared whole.
    {L"/x /starting /st /o= hello", CMDF_HANDOVER, CMDA_NONE, L"", L"", L""},
    {L"/o /start cfg.nv2 /docdir=D:\\ /language=de /autorun /admin /n",
     CMDF_HANDOVER | CMDF_NEW | CMDF_CONFIG | CMDF_DOCDIR | CMDF_LANGUAGE | CMDF_AUTORUN | CMDF_ADMIN, CMDA_START,
     L"D:\\", L"de", L"cfg.nv2"},
};

} // namespace

TEST(CommandLine, SwitchesActionsAndConfigurationFiles)
{
    for (const Case& c : kCases) {
        _CMDLINE_INFO info;
        info.flags = 0xFFFF;  // whatever was there before is reset
        info.docDir = L"old";
        EXPECT_EQ(0, ParseCommandLine(c.line, info)) << c.line;
        EXPECT_EQ(c.flags, info.flags) << c.line;
        EXPECT_EQ(c.action, info.action) << c.line;
        EXPECT_EQ(std::wstring(c.docDir), info.docDir) << c.line;
        EXPECT_EQ(std::wstring(c.language), info.language) << c.line;
        EXPECT_EQ(std::wstring(c.configFile), info.configFile) << c.line;
    }
}

TEST(CommandLine, HandOverOnlyWithOAndNeverWithN)
{
    struct {
        const wchar_t* line;
        bool handOver;
    } cases[] = {{L"/o", true}, {L"/o /n", false}, {L"/n /o", false}, {L"/n", false}, {L"", false},
                 {L"-O /start", true}};
    for (const auto& c : cases) {
        _CMDLINE_INFO info;
        ParseCommandLine(c.line, info);
        EXPECT_EQ(c.handOver, info.WantsHandOver()) << c.line;
    }
}

TEST(CommandLine, NullLineIsEmpty)
{
    _CMDLINE_INFO info;
    EXPECT_EQ(0, ParseCommandLine(nullptr, info));
    EXPECT_EQ(0u, info.flags);
    EXPECT_EQ(CMDA_NONE, info.action);
}
