#pragma once
// Synthesised keyboard input for the keyboard destination. Every event, input block and delay
// goes through IKeyInput, so the typing methods can be checked event by event; the process
// uses the system's SendInput, BlockInput and Sleep unless a test installs its own.
#include <windows.h>
#include <cstdint>

// Modifier bits of a key-vector entry (bits 8-11) and of the sender's modifier state.
constexpr UINT KEYMOD_ALT = 1;
constexpr UINT KEYMOD_CTRL = 2;
constexpr UINT KEYMOD_SHIFT = 4;
constexpr UINT KEYMOD_WIN = 8;
constexpr UINT KEYMOD_ALL = 0xF;

class IKeyInput
{
public:
    // One keyboard event; the number of events the system took (0 or 1). The system takes
    // none when the input is refused (a window of higher integrity, a locked desktop); the
    // reason is then the thread's last error.
    virtual UINT Send(const INPUT& input) = 0;
    virtual bool Block(bool on) = 0;
    virtual void Pause(DWORD ms) = 0;

protected:
    ~IKeyInput() = default;
};

// The input in force: a test's, else the system's.
IKeyInput& GetKeyInput();
// Installs input (null: the system's again); returns the one it replaces.
IKeyInput* SetKeyInput(IKeyInput* input);

// True for the virtual keys that are sent with the extended-key flag.
bool IsExtendedKey(UINT vk);

// Sends one event; an event the system does not take throws COSException with the system's
// reason (ERROR_ACCESS_DENIED when it gives none), so typing stops at the first refusal.
void SendInputEvent(IKeyInput& input, const INPUT& event);

// Brings the held modifiers to `modifiers` (Ctrl, Alt, Shift, Windows key, each only when it
// differs), then, unless vk is 0, presses and releases the key with the delays after each.
// state: the modifiers pressed by earlier calls and not yet released; it follows every event
// the system took, also when a later one is refused (COSException).
void SendKeyWithModifiers(UINT vk, UINT modifiers, DWORD pressDelay, DWORD releaseDelay, UINT& state);

// User input blocked for the life of the object. On the way out, normal or by an exception,
// the modifiers the typing left pressed are released first, so no key stays down system-wide;
// one that cannot be released is written to the debug log.
class CTypingScope
{
public:
    CTypingScope();
    ~CTypingScope();
    CTypingScope(const CTypingScope&) = delete;
    CTypingScope& operator=(const CTypingScope&) = delete;

    UINT& Modifiers() { return m_modifiers; }

private:
    UINT m_modifiers = 0;
};
