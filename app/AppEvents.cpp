// The application's own events in the event table.
#include <ctime>

#include "app/NorvaneApp.h"
#include "core/TextUtil.h"
#include "resources/resource.h"

void CNorvaneApp::RecordStartEvent()
{
    const std::wstring device = settings.TakeRefusedDevice();
    if (!settings.GetEventLog().IsOpen())
        return;
    std::wstring path, program, system;
    if (GetModuleFilePath(path))
        VersionToString(GetFilePackedVersion(path.c_str()), program);
    VersionToString(GetFilePackedVersion(L"kernel32.dll"), system);
    const __time64_t now = _time64(nullptr);
    LogEvent(now, EVENT_INFO, IDS_EVENT_STARTED, nullptr, program.c_str(), system.c_str());
    if (!device.empty())
        LogEvent(now, EVENT_WARNING, IDS_SETTINGS_DEVICE, nullptr, settings.GetSettingsPath().c_str(), device.c_str());
}
