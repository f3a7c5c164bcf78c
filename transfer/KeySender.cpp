#include "transfer/KeySender.h"

#include <atomic>
#include <exception>
#include <string>

#include "core/AppLog.h"
#include "core/Exceptions.h"

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
    const wchar_t* name;
};

// The order in which modifiers change.
constexpr ModifierKey kModifierKeys[] = {
    {KEYMOD_CTRL, VK_CONTROL, 0x1D, false, L"Ctrl"},
    {KEYMOD_ALT, VK_MENU, 0x38, false, L"Alt"},
    {KEYMOD_SHIFT, VK_SHIFT, 0x2A, false, L"Shift"},
    {KEYMOD_WIN, VK_LWIN, 0x5B, true, L"Win"},
};

void SendKeyEvent(IKeyInput& input, WORD vk, WORD scan, bool extended, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = scan;
    in.ki.dwFlags = (extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    SendInputEvent(input, in);
}

// A modifier left down is a stuck key for the user until it is pressed again: say which.
void LogStuckModifiers(UINT held, const char* reason)
{
    CAppContext* app = GetAppContext();
    if (!app || !app->IsLogged(LOG_THRESHOLD_ERROR))
        return;
    std::wstring names;
    for (const ModifierKey& key : kModifierKeys)
    {
        if (held & key.bit)
        {
            if (!names.empty())
                names += L'+';
            names += key.name;
        }
    }
    LogMessage(app, nullptr, LOG_ERROR, L"Typing: %s not released: %hs", names.c_str(), reason);
}

}  // namespace

void SendInputEvent(IKeyInput& input, const INPUT& event)
{
    SetLastError(0);
    if (input.Send(event) == 1)
        return;
    const DWORD error = GetLastError();
    throw COSException(error ? error : ERROR_ACCESS_DENIED);
}

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
    for (const ModifierKey& key : kModifierKeys)
    {
        if ((modifiers & key.bit) != (state & key.bit))
        {
            SendKeyEvent(input, key.vk, key.scan, key.extended, (state & key.bit) != 0);
            state ^= key.bit;
        }
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
    // Each held modifier is tried on its own: one refused release must not keep the others
    // down. Nothing may leave a destructor that can run while the typing's exception unwinds,
    // and the block must still be lifted.
    IKeyInput& input = GetKeyInput();
    std::string reason;
    for (const ModifierKey& key : kModifierKeys)
    {
        if (!(m_modifiers & key.bit))
            continue;
        try
        {
            SendKeyEvent(input, key.vk, key.scan, key.extended, true);
            m_modifiers &= ~key.bit;
        }
        catch (const std::exception& e)
        {
            reason = e.what();
        }
        catch (...)
        {
            reason = "unknown error";
        }
    }
    if (m_modifiers)
        LogStuckModifiers(m_modifiers, reason.c_str());
    input.Block(false);
}
