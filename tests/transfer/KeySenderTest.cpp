#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "tests/support/KeyInputRecorder.h"
#include "tests/support/TempFolder.h"
#include "transfer/KeyboardDest.h"
#include "transfer/KeySender.h"

namespace
{

using Events = std::vector<std::string>;

const std::string kCtrlDown = "11/1D down", kCtrlUp = "11/1D up";
const std::string kAltDown = "12/38 down", kAltUp = "12/38 up";
const std::string kShiftDown = "10/2A down", kShiftUp = "10/2A up";
const std::string kWinDown = "5B/5B down ext", kWinUp = "5B/5B up ext";

Events Seq(std::initializer_list<Events> parts)
{
    Events all;
    for (const Events& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Events Uni(wchar_t ch)
{
    char down[24], up[24];
    std::snprintf(down, sizeof(down), "U+%04X down", static_cast<unsigned>(ch));
    std::snprintf(up, sizeof(up), "U+%04X up", static_cast<unsigned>(ch));
    return {down, up};
}

TEST(SendKeyWithModifiers, ChangesOnlyDifferingModifiersInFixedOrder)
{
    struct Case
    {
        UINT from, to;
        Events expected;
    } cases[] = {
        {0, 0xF, {kCtrlDown, kAltDown, kShiftDown, kWinDown}},
        {0xF, 0, {kCtrlUp, kAltUp, kShiftUp, kWinUp}},
        {KEYMOD_CTRL | KEYMOD_SHIFT, KEYMOD_ALT | KEYMOD_SHIFT, {kCtrlUp, kAltDown}},
        {KEYMOD_WIN, KEYMOD_SHIFT | KEYMOD_WIN, {kShiftDown}},
        {KEYMOD_SHIFT, KEYMOD_SHIFT, {}},
        {0, 0, {}},
    };
    for (const Case& c : cases)
    {
        CKeyInputRecorder rec;
        UINT state = c.from;
        SendKeyWithModifiers(0, c.to, 5, 5, state);
        EXPECT_EQ(rec.events, c.expected) << c.from << " -> " << c.to;
        EXPECT_EQ(state, c.to);
    }
}

TEST(SendKeyWithModifiers, ExtendedFlagForNavigationWindowsDivideAndRightModifiers)
{
    struct Case
    {
        UINT vk;
        bool extended;
    } cases[] = {
        {VK_SPACE, false}, {VK_PRIOR, true},  {VK_END, true},     {VK_LEFT, true},     {VK_DOWN, true},
        {VK_SNAPSHOT, true}, {VK_DELETE, true}, {VK_HELP, true},  {'0', false},        {'Z', false},
        {VK_LWIN, true},   {VK_RWIN, true},   {VK_APPS, true},    {0x5E, false},       {VK_SLEEP, false},
        {VK_DECIMAL, false}, {VK_DIVIDE, true}, {VK_F1, false},   {VK_LCONTROL, false}, {VK_RCONTROL, true},
        {VK_LMENU, false}, {VK_RMENU, true},  {VK_RETURN, false}, {VK_LSHIFT, false},  {VK_RSHIFT, false},
    };
    for (const Case& c : cases)
    {
        CKeyInputRecorder rec;
        UINT state = 0;
        SendKeyWithModifiers(c.vk, 0, 0, 0, state);
        EXPECT_EQ(rec.events, KeyPress(c.vk, c.extended)) << "vk " << c.vk;
        EXPECT_EQ(IsExtendedKey(c.vk), c.extended) << "vk " << c.vk;
    }
}

TEST(SendKeyWithModifiers, DelaysFollowPressAndRelease)
{
    CKeyInputRecorder rec;
    UINT state = 0;
    SendKeyWithModifiers(VK_RETURN, KEYMOD_SHIFT, 3, 4, state);
    Events press = KeyPress(VK_RETURN);
    EXPECT_EQ(rec.events, (Events{kShiftDown, press[0], "pause 3", press[1], "pause 4"}));
    EXPECT_EQ(state, KEYMOD_SHIFT);
}

TEST(TypeUnicodeText, KeyEntriesCharactersAndPauses)
{
    struct Case
    {
        const wchar_t* name;
        std::wstring text;
        std::vector<uint32_t> keys;
        DWORD press, release;
        Events expected;
    };
    const Case cases[] = {
        {L"Ctrl+A then Ctrl+C presses Ctrl once",
         L"\x01\x01",
         {0x241, 0x243},
         0,
         0,
         Seq({{"block on", kCtrlDown}, KeyPress('A'), KeyPress('C'), {kCtrlUp, "block off"}})},
        {L"held modifiers released before a plain character",
         L"\x01\x01x",
         {0x241, 0x243},
         0,
         0,
         Seq({{"block on", kCtrlDown}, KeyPress('A'), KeyPress('C'), {kCtrlUp}, Uni(L'x'), {"block off"}})},
        {L"more markers than entries: the extras skipped",
         L"a\x01\x01\x01z",
         {0x0D},
         0,
         0,
         Seq({{"block on"}, Uni(L'a'), KeyPress(VK_RETURN), Uni(L'z'), {"block off"}})},
        {L"character with both delays",
         L"1",
         {},
         5,
         7,
         {"block on", "U+0031 down", "pause 5", "U+0031 up", "pause 7", "block off"}},
        {L"pause entry sleeps", L"\x01z", {0x800000FA}, 0, 0,
         Seq({{"block on", "pause 250"}, Uni(L'z'), {"block off"}})},
        {L"modifier change between keys",
         L"\x01\x01",
         {0x441, 0x142},
         0,
         0,
         Seq({{"block on", kShiftDown}, KeyPress('A'), {kAltDown, kShiftUp}, KeyPress('B'), {kAltUp, "block off"}})},
        {L"characters outside the keyboard as they are", L"\x0416\xD83D\xDE00", {}, 0, 0,
         Seq({{"block on"}, Uni(0x0416), Uni(0xD83D), Uni(0xDE00), {"block off"}})},
        {L"empty text", L"", {0x0D}, 0, 0, {"block on", "block off"}},
    };
    for (const Case& c : cases)
    {
        CKeyInputRecorder rec;
        TypeUnicodeText(c.text, c.keys, c.press, c.release);
        EXPECT_EQ(rec.events, c.expected) << testing::PrintToString(std::wstring(c.name));
    }
}

TEST(TypeLayoutKeys, ShiftStateFromTheLayoutAndSkippedCharacters)
{
    // The test thread's own layout is US English under the test display.
    struct Case
    {
        const wchar_t* name;
        std::wstring text;
        std::vector<uint32_t> keys;
        Events expected;
    };
    const Case cases[] = {
        {L"Aa: Shift for the first letter only", L"Aa",
         {}, Seq({{"block on", kShiftDown}, KeyPress('A'), {kShiftUp}, KeyPress('A'), {"block off"}})},
        {L"A! keeps Shift held", L"A!", {}, Seq({{"block on", kShiftDown}, KeyPress('A'), KeyPress('1'), {kShiftUp, "block off"}})},
        {L"key entries and pauses as in method 1", L"\x01q\x01\x01", {0x80000010, 0x20D},
         Seq({{"block on", "pause 16"}, KeyPress('Q'), {kCtrlDown}, KeyPress(VK_RETURN), {kCtrlUp, "block off"}})},
    };
    for (const Case& c : cases)
    {
        CKeyInputRecorder rec;
        TypeLayoutKeys(c.text, c.keys, 0, 0, nullptr);
        EXPECT_EQ(rec.events, c.expected) << testing::PrintToString(std::wstring(c.name));
    }
}

TEST(TypingMethods, InputUnblockedAndModifiersReleasedWhenTypingThrows)
{
    // The second event (the A after Ctrl went down) fails.
    for (int method = 1; method <= 2; ++method)
    {
        CKeyInputRecorder rec;
        rec.throwAtSend = 2;
        const std::wstring text = L"\x01x";
        const std::vector<uint32_t> keys = {0x241};
        if (method == 1)
            EXPECT_THROW(TypeUnicodeText(text, keys, 0, 0), std::runtime_error);
        else
            EXPECT_THROW(TypeLayoutKeys(text, keys, 0, 0, nullptr), std::runtime_error);
        EXPECT_EQ(rec.events, (Events{"block on", kCtrlDown, kCtrlUp, "block off"})) << "method " << method;
    }
}

// The debug log of the typing, in a folder of the test's own.
class CTypingLog : public CAppContext, public ILogSettingsSource
{
public:
    CTypingLog() { LogSettings = this; }
    std::wstring ResolveLogFolder() override { return m_folder.Path(); }
    DebugLogSettings GetDebugLogSettings() override { return DebugLogSettings{true, 2, -1, false}; }
    std::string Text() const
    {
        std::ifstream in(std::filesystem::path(m_folder.File(L"Norvane.log")), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    CTempFolder m_folder;
};

TEST(TypingMethods, RefusedInputStopsTheTypingWithTheSystemsError)
{
    struct Case
    {
        const wchar_t* name;
        int method;
        std::wstring text;
        std::vector<uint32_t> keys;
        int refuseFrom, refuseTo;
        Events expected;
        const char* logged;  // the debug-log line of a modifier left down, or null
    };
    const int kAll = 1 << 30;
    const Case cases[] = {
        {L"method 1: the second character refused", 1, L"ab", {}, 3, kAll,
         Seq({{"block on"}, Uni(L'a'), {"block off"}}), nullptr},
        {L"method 1: a key-up refused", 1, L"ab", {}, 2, 2, {"block on", "U+0061 down", "block off"}, nullptr},
        {L"method 1: Ctrl released although the key was refused", 1, L"\x01x", {0x241}, 2, 2,
         {"block on", kCtrlDown, kCtrlUp, "block off"}, nullptr},
        {L"method 1: Ctrl that cannot be released is logged", 1, L"\x01x", {0x241}, 2, kAll,
         {"block on", kCtrlDown, "block off"}, "Typing: Ctrl not released: "},
        {L"method 2: Shift and Alt held, everything after refused", 2, L"\x01", {0x541}, 3, kAll,
         {"block on", kAltDown, kShiftDown, "block off"}, "Typing: Alt+Shift not released: "},
        {L"method 2: the first key refused", 2, L"Aa", {}, 2, 2, {"block on", kShiftDown, kShiftUp, "block off"},
         nullptr},
    };
    for (const Case& c : cases)
    {
        CTypingLog log;
        CKeyInputRecorder rec;
        rec.refuseFrom = c.refuseFrom;
        rec.refuseTo = c.refuseTo;
        DWORD code = 0;
        try
        {
            if (c.method == 1)
                TypeUnicodeText(c.text, c.keys, 0, 0);
            else
                TypeLayoutKeys(c.text, c.keys, 0, 0, nullptr);
        }
        catch (const COSException& e)
        {
            code = e.GetCode();
        }
        const std::string name = testing::PrintToString(std::wstring(c.name));
        EXPECT_EQ(code, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << name;
        EXPECT_EQ(rec.events, c.expected) << name;
        if (c.logged)
            EXPECT_NE(log.Text().find(std::string("[E] ") + c.logged), std::string::npos) << name << log.Text();
        else
            EXPECT_EQ(log.Text(), "") << name;
    }
}

TEST(TypeLayoutKeys, ACharacterNoLayoutHasFailsBeforeAnythingIsTyped)
{
    for (const std::wstring& text : {std::wstring(L"1\x4E2D" L"2"), std::wstring(L"\x01\xD83D\xDE00")})
    {
        CKeyInputRecorder rec;
        DWORD code = 0;
        try
        {
            TypeLayoutKeys(text, {0x0D}, 0, 0, nullptr);
        }
        catch (const COSException& e)
        {
            code = e.GetCode();
        }
        EXPECT_EQ(code, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        EXPECT_TRUE(rec.events.empty()) << testing::PrintToString(rec.events);
    }
}

}  // namespace
