#include "app/NorvaneApp.h"

#include "transfer/KeyboardDest.h"

HWND CNorvaneApp::FindTargetWindow(const wchar_t* classMask, const wchar_t* titleMask, const wchar_t* fileMask,
                                   HWND start) const
{
    return ::FindTargetWindow(classMask, titleMask, fileMask, start, GetMainFrameWindow());
}
