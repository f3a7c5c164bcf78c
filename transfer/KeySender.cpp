#include "transfer/KeySender.h"

#include <atomic>

namespace
{

class CSystemKeyInput final : public IKeyInput
{
public:
    UINT Send(const INPUT& input) override
    {
        INPUT copy = input;
        return SendInput(1, &copy, sizeof(INPUT));
    }
    bool Block(bool on) override { return BlockInput(on ? TRUE : FALSE) != FALSE; }
    void Pause(DWORD ms) override { Sleep(ms); }
};

CSystemKeyInput g_systemInput;
std::atomic<IKeyInput*> g_input{nullptr};

struct ModifierKey
{
    UINT bit;
    WORD vk;
    WORD scan;
    bool extended;
};

// The order in which modifiers change.
constexpr ModifierKey kModifierKeys[] = {
    {KEYMOD_CTRL, VK_CONTROL, 0x1D, false},
    {KEYMOD_ALT, VK_MENU, 0x38, false},
    {KEYMOD_SHIFT, VK_SHIFT, 0x2A, false},
    {KEYMOD_WIN, VK_LWIN, 0x5B, true},
};

void SendKeyEvent(IKeyInput& input, WORD vk, WORD scan, bool extended, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = scan;
    in.ki.dwFlags = (extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    input.Send(in);
}

}  // namespace

IKeyInput& GetKeyInput()
{
    IKeyInput* input = g_input.load();
    return input ? *input : g_systemInput;
}

IKeyInput* SetKeyInput(IKeyInput* input)
{
    return g_input.exchange(input);
}

bool IsExtendedKey(UINT vk)
{
    return (vk >= VK_PRIOR && vk <= VK_HELP) || (vk >= VK_LWIN && vk <= VK_APPS) || vk == VK_DIVIDE ||
           vk == VK_RCONTROL || vk == VK_RMENU;
}

void SendKeyWithModifiers(UINT vk, UINT modifiers, DWORD pressDelay, DWORD releaseDelay, UINT& state)
{
    IKeyInput& input = GetKeyInput();
    modifiers &= KEYMOD_ALL;
    if (modifiers != state)
    {
        for (const ModifierKey& key : kModifierKeys)
        {
            if ((modifiers & key.bit) != (state & key.bit))
                SendKeyEvent(input, key.vk, key.scan, key.extended, (state & key.bit) != 0);
        }
        state = modifiers;
    }
    if (vk == 0)
        return;

    vk &= 0xFF;
    WORD scan = static_cast<WORD>(MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC, nullptr) & 0xFF);
    bool extended = IsExtendedKey(vk);
    SendKeyEvent(input, static_cast<WORD>(vk), scan, extended, false);
    if (pressDelay)
        input.Pause(pressDelay);
    SendKeyEvent(input, static_cast<WORD>(vk), scan, extended, true);
    if (releaseDelay)
        input.Pause(releaseDelay);
}

CTypingScope::CTypingScope()
{
    GetKeyInput().Block(true);
}

CTypingScope::~CTypingScope()
{
    // The system's input never throws; an input that does must not end the process while an
    // exception from the typing is unwinding, and the block must still be lifted.
    try
    {
        SendKeyWithModifiers(0, 0, 0, 0, m_modifiers);
    }
    catch (...)
    {
    }
    GetKeyInput().Block(false);
}
