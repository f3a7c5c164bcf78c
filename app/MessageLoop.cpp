// The message loop of the application object, the shutdown after it, and the program's life.
#include <exception>

#include "app/IdleLoop.h"
#include "app/MainFrame.h"
#include "app/NorvaneApp.h"
#include "app/StartUp.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"

namespace {

class CAppMessageSource : public IMessageSource
{
public:
    explicit CAppMessageSource(CWinApp& app) : m_app(app) {}
    bool IsMessageWaiting() override { return m_app.IsMessageWaiting(); }
    bool PumpMessage() override { return m_app.ProcessNextMessage(); }
    const MSG& LastMessage() const override { return m_app.m_pumpedMessage; }
    bool ResetsIdle(const MSG& msg) override { return m_app.ResetsIdle(msg); }

private:
    CWinApp& m_app;
};

} // namespace

int RunMessageLoop()
{
    CNorvaneApp& app = App();
    CAppMessageSource source(app);
    return RunIdleLoop(source, [&app]() -> IIdleTarget* { return app.GetMainFrame(); });
}

void ShutDownApplication()
{
    CNorvaneApp& app = App();
    app.RemoveObservers();
    app.DestroyMainFrame();
    app.DestroyOwnerWindow();
    app.CloseEventLog();
}

int RunApplication(HINSTANCE instance, const wchar_t* commandLine, int showMode)
{
    SetProgramModule(instance);
    SetResourceModule(instance);
    int result;
    try {
        result = StartApplication(commandLine, showMode);
    } catch (const std::exception& e) {
        // Start-up has nobody above it; the text is all the user can be given.
        ShowMessage(MultiByteToWString(e.what(), CP_ACP), 0x10, nullptr);
        result = kStartEnd;
    }
    if (result != kStartContinue) {
        ShutDownApplication();
        return result;
    }
    const int code = RunMessageLoop();
    ShutDownApplication();
    return code;
}
