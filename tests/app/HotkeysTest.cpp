// Hotkeys of the running program: global ones through the system's registration, pressed by the
// system's input; local ones through the accelerator table; WM_HOTKEY by its keys alone.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include "tests/app/FrameProbe.h"
#include "tests/support/ProgramRun.h"

using namespace frame_probe;

namespace {

constexpr uint16_t kCtrlShift = HOTKEY_MOD_CTRL | HOTKEY_MOD_SHIFT;
constexpr uint16_t kGlobal = HOTKEY_GLOBAL;

class Hotkeys : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_EQ(kStartContinue, Start());
        UseRecorderPage(*Frame());
    }

    // The list in force, registered as the idle pass does it.
    void Use(std::vector<uint32_t> entries)
    {
        *App().GetSettings().EditHotkeys() = std::move(entries);
    }
    void Register()
    {
        ASSERT_TRUE(Frame()->DirtyBits() & MFD_HOTKEYS);
        Frame()->IdleUpdate();
        SetForegroundWindow(FrameWindow());
        SetFocus(FrameWindow());
        ASSERT_TRUE(PumpAppUntil([this] { return GetForegroundWindow() == FrameWindow(); }));
    }
    // Presses the keys, then Ctrl+S (local, "Save"), whose command comes after whatever the
    // keys set off: the commands the page was offered until then.
    std::vector<std::pair<int, int>> Press(std::initializer_list<WORD> keys)
    {
        Recorded().commands.clear();
        EXPECT_GT(PressKeys(keys), 0u);
        EXPECT_EQ(4u, PressKeys({VK_CONTROL, 'S'}));
        EXPECT_TRUE(PumpAppUntil([] {
            return !Recorded().commands.empty() && Recorded().commands.back().first == ID_CONFIG_SAVE;
        })) << "the closing Ctrl+S did not arrive";
        return Recorded().commands;
    }
};

const uint32_t kSave = MakeHotkeyEntry(ID_CONFIG_SAVE, HOTKEY_MOD_CTRL | 'S');

} // namespace

TEST_F(Hotkeys, GlobalAndLocalKeysPressedThroughTheSystemsInput)
{
    const struct {
        const char* what;
        std::vector<uint32_t> entries;
        std::initializer_list<WORD> keys;
        std::vector<std::pair<int, int>> offered;  // before the closing Ctrl+S
    } cases[] = {
        {"a global Ctrl+Shift+F5 (0x8674) fires Start", {MakeHotkeyEntry(ID_TRANSFER_START, 0x8674)},
         {VK_CONTROL, VK_SHIFT, VK_F5}, {{ID_TRANSFER_START, 0}}},
        {"global and local on the same keys: only the global one",
         {MakeHotkeyEntry(ID_TRANSFER_STOP, kCtrlShift | VK_F8), MakeHotkeyEntry(ID_TRANSFER_START, kGlobal | kCtrlShift | VK_F8)},
         {VK_CONTROL, VK_SHIFT, VK_F8}, {{ID_TRANSFER_START, 0}}},
        {"a local entry with Win does nothing, not even as plain F9",
         {MakeHotkeyEntry(ID_TRANSFER_START, HOTKEY_MOD_WIN | VK_F9)}, {VK_LWIN, VK_F9}, {}},
        {"a local Alt+F5 is an accelerator", {MakeHotkeyEntry(ID_TRANSFER_STOP, HOTKEY_MOD_ALT | VK_F5)},
         {VK_MENU, VK_F5}, {{ID_TRANSFER_STOP, 1}}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> entries = c.entries;
        entries.push_back(kSave);
        Use(entries);
        Register();
        std::vector<std::pair<int, int>> offered = c.offered;
        offered.emplace_back(ID_CONFIG_SAVE, 1);  // a local Ctrl+S becomes 32812
        EXPECT_EQ(offered, Press(c.keys)) << c.what;
    }
    // Without an accelerator a Win entry leaves no table behind.
    Use({MakeHotkeyEntry(ID_TRANSFER_START, HOTKEY_MOD_WIN | VK_F9)});
    Frame()->IdleUpdate();
    EXPECT_FALSE(Frame()->AcceleratorTable());
    EXPECT_EQ(0, Frame()->HotkeyCount());
}

TEST_F(Hotkeys, AKeyAnotherProgramHoldsIsSkippedAndTheNextGlobalOneTakesTheNextId)
{
    // The program itself, started a second time, holds Ctrl+Shift+F6.
    CTempFolder helperFolder;
    program_run::CProgramProcess helper(helperFolder.Path());
    ASSERT_EQ("", helper.Prepare({}));
    WriteFileBytes(helperFolder.File(L"Norvane.json"),
                   "{\"info\": {\"name\": \"Norvane\", \"version\": \"1.6\"},"
                   " \"main\": {\"singleInstance\": false}, \"ui\": {\"confirm\": 0},"
                   " \"hotkeys\": {\"enabled\": true, \"hotkeys\": [{\"command\": 32786, \"hotkey\": 34421}]}}");
    ASSERT_TRUE(helper.Start(L"/n"));
    ASSERT_TRUE(helper.WaitForMainWindow(20000));
    HWND probe = CreateWindowW(L"Static", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(PumpAppUntil(
        [probe] {
            if (!RegisterHotKey(probe, 1, MOD_CONTROL | MOD_SHIFT, VK_F6))
                return true;
            UnregisterHotKey(probe, 1);
            return false;
        },
        20000))
        << "the helper never held its hotkey";
    DestroyWindow(probe);

    Use({MakeHotkeyEntry(ID_TRANSFER_STOP, kGlobal | kCtrlShift | VK_F6),
         MakeHotkeyEntry(ID_TRANSFER_START, kGlobal | kCtrlShift | VK_F7), kSave});
    Register();
    EXPECT_EQ(1, Frame()->HotkeyCount());
    EXPECT_EQ((std::vector<std::pair<int, int>>{{ID_TRANSFER_START, 0}, {ID_CONFIG_SAVE, 1}}),
              Press({VK_CONTROL, VK_SHIFT, VK_F7}));
    // The second entry holds id 1, and no entry id 2.
    EXPECT_FALSE(UnregisterHotKey(FrameWindow(), 2));
    EXPECT_TRUE(UnregisterHotKey(FrameWindow(), 1));
    EXPECT_TRUE(helper.Close());
}

TEST_F(Hotkeys, HotkeyMessagesPostEveryEntryOfTheirKeysInListOrder)
{
    Use({MakeHotkeyEntry(ID_TRANSFER_RESTART, kGlobal | kCtrlShift | VK_F5),
         MakeHotkeyEntry(ID_NEXT_KEY, kGlobal | HOTKEY_MOD_ALT | VK_F5),
         MakeHotkeyEntry(ID_TRANSFER_START, kGlobal | kCtrlShift | VK_F5),
         MakeHotkeyEntry(ID_TRANSFER_STOP, kCtrlShift | VK_F5)});  // local: the accelerator's
    const struct {
        UINT modifiers, key;
        std::vector<WPARAM> posted;
    } cases[] = {
        {MOD_CONTROL | MOD_SHIFT, VK_F5, {ID_TRANSFER_RESTART, ID_TRANSFER_START}},
        // Bits beyond the four modifiers take no part.
        {MOD_CONTROL | MOD_SHIFT | MOD_NOREPEAT, VK_F5, {ID_TRANSFER_RESTART, ID_TRANSFER_START}},
        {MOD_CONTROL | MOD_SHIFT | 0x10, VK_F5, {ID_TRANSFER_RESTART, ID_TRANSFER_START}},
        {MOD_ALT, VK_F5, {ID_NEXT_KEY}},
        {MOD_CONTROL, VK_F5, {}},
        {MOD_CONTROL | MOD_SHIFT, VK_F6, {}},
    };
    TakePostedCommands(FrameWindow());
    for (const auto& c : cases) {
        SendMessageW(FrameWindow(), WM_HOTKEY, 7, MAKELPARAM(c.modifiers, c.key));
        EXPECT_EQ(c.posted, TakePostedCommands(FrameWindow())) << std::hex << c.modifiers << " " << c.key;
    }
}
