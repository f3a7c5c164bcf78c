#include <gtest/gtest.h>
#include <windows.h>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/IdleLoop.h"

namespace {

// A queue played from a script: each burst arrives at once when the loop blocks for the next
// message. The log gets "i" for an idle update and a letter per pumped message.
class CScriptedSource : public IMessageSource
{
public:
    CScriptedSource(std::vector<std::vector<UINT>> bursts, bool firstBurstWaiting, std::string& log)
        : m_bursts(bursts.begin(), bursts.end()), m_log(log)
    {
        if (firstBurstWaiting)
            Arrive();
    }
    bool IsMessageWaiting() override { return !m_queue.empty(); }
    bool PumpMessage() override
    {
        if (m_queue.empty())
            Arrive();
        if (m_queue.empty()) {
            // The loop would block for ever: end it so that the test reports instead of hanging.
            m_log += "!";
            m_last = MSG{};
            m_last.message = WM_QUIT;
            return false;
        }
        m_last = MSG{};
        m_last.message = m_queue.front();
        m_last.wParam = m_last.message == WM_QUIT ? 7 : 0;
        m_queue.pop_front();
        m_log += Letter(m_last.message);
        return m_last.message != WM_QUIT;
    }
    const MSG& LastMessage() const override { return m_last; }
    bool ResetsIdle(const MSG& msg) override { return msg.message != WM_PAINT; }

    // A message that becomes waiting now (as one posted by an idle update).
    void Post(UINT message) { m_queue.push_back(message); }

private:
    static char Letter(UINT message)
    {
        switch (message) {
        case WM_PAINT: return 'P';
        case WM_QUIT: return 'Q';
        case WM_TIMER: return 'T';
        default: return 'U';
        }
    }
    void Arrive()
    {
        if (m_bursts.empty())
            return;
        for (UINT m : m_bursts.front())
            m_queue.push_back(m);
        m_bursts.pop_front();
    }

    std::deque<std::vector<UINT>> m_bursts;
    std::deque<UINT> m_queue;
    MSG m_last{};
    std::string& m_log;
};

class CCountingTarget : public IIdleTarget
{
public:
    explicit CCountingTarget(std::string& log) : m_log(log) {}
    bool HasIdleWork() const override { return work; }
    void IdleUpdate() override
    {
        m_log += "i";
        if (onUpdate)
            onUpdate();
    }
    bool work = true;
    std::function<void()> onUpdate;

private:
    std::string& m_log;
};

struct LoopCase {
    const char* what;
    std::vector<std::vector<UINT>> bursts;
    bool firstWaiting;
    const char* log;
};

} // namespace

TEST(IdleLoop, AtMostTwoPassesBetweenRearmingMessagesAndNoneAfterAPaint)
{
    const LoopCase cases[] = {
        {"quiet start, then quit", {{WM_QUIT}}, false, "iiQ"},
        {"a message re-arms", {{WM_USER}, {WM_QUIT}}, false, "iiUiiQ"},
        {"a lone paint does not", {{WM_PAINT}, {WM_QUIT}}, false, "iiPQ"},
        {"two lone paints neither", {{WM_PAINT}, {WM_PAINT}, {WM_USER}, {WM_QUIT}}, false, "iiPPUiiQ"},
        {"paint after a message in one burst", {{WM_USER, WM_PAINT}, {WM_QUIT}}, false, "iiUPiiQ"},
        {"a burst is pumped whole before idling", {{WM_USER, WM_TIMER, WM_USER}, {WM_QUIT}}, false, "iiUTUiiQ"},
        {"a waiting message comes before any idle pass", {{WM_USER}, {WM_QUIT}}, true, "UiiQ"},
        {"quit in the middle of a burst", {{WM_USER, WM_QUIT, WM_USER}}, false, "iiUQ"},
    };
    for (const LoopCase& c : cases) {
        std::string log;
        CScriptedSource source(c.bursts, c.firstWaiting, log);
        CCountingTarget target(log);
        const int code = RunIdleLoop(source, [&target]() -> IIdleTarget* { return &target; });
        EXPECT_EQ(std::string(c.log), log) << c.what;
        EXPECT_EQ(7, code) << c.what;
    }
}

TEST(IdleLoop, PassesCountWithoutWorkAndWithoutTarget)
{
    // With nothing to do the passes still run out, so a later lone paint stays quiet.
    std::string log;
    CScriptedSource source({{WM_PAINT}, {WM_USER}, {WM_QUIT}}, false, log);
    CCountingTarget target(log);
    target.work = false;
    int passes = 0;
    RunIdleLoop(source, [&]() -> IIdleTarget* {
        ++passes;
        return &target;
    });
    EXPECT_EQ("PUQ", log);
    EXPECT_EQ(4, passes);

    std::string log2;
    CScriptedSource noFrame({{WM_USER}, {WM_QUIT}}, false, log2);
    EXPECT_EQ(7, RunIdleLoop(noFrame, []() -> IIdleTarget* { return nullptr; }));
    EXPECT_EQ("UQ", log2);
}

TEST(IdleLoop, WorkThatPostsAMessageEndsTheIdlePhase)
{
    std::string log;
    CScriptedSource source({{WM_QUIT}}, false, log);
    CCountingTarget target(log);
    int updates = 0;
    target.onUpdate = [&] {
        if (++updates == 1)
            source.Post(WM_USER);
    };
    RunIdleLoop(source, [&target]() -> IIdleTarget* { return &target; });
    // The posted message is pumped at once; it re-arms two fresh passes.
    EXPECT_EQ("iUiiQ", log);
}
