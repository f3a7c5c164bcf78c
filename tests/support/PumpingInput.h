#pragma once
// Typing into windows of the test thread: the injected keys are processed by pumping its queue
// right after each event, while the focus is still where the typing put it.
#include <windows.h>

#include "transfer/KeySender.h"

inline void PumpPending()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

inline void PumpFor(DWORD ms)
{
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < ms; elapsed = GetTickCount() - start)
    {
        PumpPending();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
    PumpPending();
}

// The display reports a focus change late, with the keyboard state it knows (no injected
// Shift): typing waits that long after activating, as the activation delay lets it.
constexpr DWORD kSettleMs = 100;

// The system's input, with the test thread's queue pumped after each event: the target
// window belongs to this thread.
class CPumpingInput : public IKeyInput
{
public:
    CPumpingInput() { m_previous = SetKeyInput(this); }
    ~CPumpingInput() { SetKeyInput(m_previous); }
    CPumpingInput(const CPumpingInput&) = delete;
    CPumpingInput& operator=(const CPumpingInput&) = delete;

    UINT Send(const INPUT& input) override
    {
        INPUT copy = input;
        UINT sent = SendInput(1, &copy, sizeof(INPUT));
        PumpPending();
        return sent;
    }
    bool Block(bool on) override { return BlockInput(on) != FALSE; }
    void Pause(DWORD ms) override { PumpFor(ms); }

private:
    IKeyInput* m_previous;
};
