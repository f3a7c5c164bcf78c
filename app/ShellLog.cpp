#include "app/ShellLog.h"

#include "app/NorvaneApp.h"
#include "core/AppLog.h"

void LogShellError(UINT id, DWORD code)
{
    CNorvaneApp& app = App();
    if (app.IsLogged(LOG_THRESHOLD_ERROR))
        LogMessageById(&app, nullptr, LOG_ERROR, id, code);
}

void LogShellWarning(UINT id, DWORD code)
{
    CNorvaneApp& app = App();
    if (app.IsLogged(LOG_THRESHOLD_WARNING))
        LogMessageById(&app, nullptr, LOG_WARNING, id, code);
}
