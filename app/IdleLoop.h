#pragma once
// The application's message loop: while the queue is empty it makes at most two idle passes,
// each working off the target's deferred work; any pumped message except WM_PAINT re-arms them.
#include <windows.h>

class IIdleTarget
{
public:
    virtual bool HasIdleWork() const = 0;
    virtual void IdleUpdate() = 0;

protected:
    ~IIdleTarget() = default;
};

class IMessageSource
{
public:
    virtual bool IsMessageWaiting() = 0;
    // Takes, translates and dispatches one message (blocking); false at WM_QUIT.
    virtual bool PumpMessage() = 0;
    // The message PumpMessage took last.
    virtual const MSG& LastMessage() const = 0;
    virtual bool ResetsIdle(const MSG& msg) = 0;

protected:
    ~IMessageSource() = default;
};

constexpr int kMaxIdlePasses = 2;

// Runs until WM_QUIT and returns its code. target is asked anew before each pass (null: no
// idle work, as while no main frame exists).
template <class TargetFn>
int RunIdleLoop(IMessageSource& source, TargetFn target)
{
    bool idle = true;
    int passes = 0;
    for (;;) {
        while (idle) {
            if (source.IsMessageWaiting())
                break;
            if (IIdleTarget* t = target(); t && t->HasIdleWork())
                t->IdleUpdate();
            idle = passes < kMaxIdlePasses - 1;
            ++passes;
        }
        do {
            if (!source.PumpMessage())
                return static_cast<int>(source.LastMessage().wParam);
            if (source.ResetsIdle(source.LastMessage())) {
                idle = true;
                passes = 0;
            }
        } while (source.IsMessageWaiting());
    }
}
