// The application's own events in the event table.
#include <ctime>

#include "app/NorvaneApp.h"
#include "core/TextUtil.h"
#include "resources/resource.h"

void CNorvaneApp::RecordStartEvent()
{
    if (!settings.GetEventLog().IsOpen())
        return;
    std::wstring path, program, system;
    if (GetModuleFilePath(path))
        VersionToString(GetFilePackedVersion(path.c_str()), program);
    VersionToString(GetFilePackedVersion(L"kernel32.dll"), system);
    LogEvent(_time64(nullptr), 1, IDS_EVENT_STARTED, nullptr, program.c_str(), system.c_str());
}
