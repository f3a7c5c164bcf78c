#include <windows.h>

#include "app/StartUp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showMode)
{
    return RunApplication(instance, commandLine, showMode);
}
