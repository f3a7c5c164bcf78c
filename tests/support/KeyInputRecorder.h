#pragma once
// An IKeyInput that records every event as text, for the tests of the typing methods and of
// the transfers that type.
//   key events:     "11/1D down", "41/1E up ext"   (virtual key / scan code, hexadecimal)
//   Unicode events: "U+0031 down"
//   others:         "pause 5", "block on", "block off"
#include <windows.h>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "transfer/KeySender.h"

class CKeyInputRecorder : public IKeyInput
{
public:
    CKeyInputRecorder() { m_previous = SetKeyInput(this); }
    ~CKeyInputRecorder() { SetKeyInput(m_previous); }
    CKeyInputRecorder(const CKeyInputRecorder&) = delete;
    CKeyInputRecorder& operator=(const CKeyInputRecorder&) = delete;

    UINT Send(const INPUT& input) override
    {
        ++m_sends;
        if (throwAtSend > 0 && --throwAtSend == 0)
            throw std::runtime_error("input failed");
        if (refuseFrom > 0 && m_sends >= refuseFrom && m_sends <= refuseTo)
        {
            // What SendInput does for input that UIPI or a locked desktop blocks.
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        events.push_back(Describe(input));
        return 1;
    }
    bool Block(bool on) override
    {
        events.push_back(on ? "block on" : "block off");
        return true;
    }
    void Pause(DWORD ms) override
    {
        events.push_back("pause " + std::to_string(ms));
        if (onPause)
            onPause(ms);
    }

    static std::string Describe(const INPUT& input)
    {
        char text[64];
        const KEYBDINPUT& k = input.ki;
        const char* dir = (k.dwFlags & KEYEVENTF_KEYUP) ? "up" : "down";
        if (k.dwFlags & KEYEVENTF_UNICODE)
            std::snprintf(text, sizeof(text), "U+%04X %s", k.wScan, dir);
        else
            std::snprintf(text, sizeof(text), "%02X/%02X %s%s", k.wVk, k.wScan, dir,
                          (k.dwFlags & KEYEVENTF_EXTENDEDKEY) ? " ext" : "");
        return text;
    }

    std::vector<std::string> events;
    int throwAtSend = 0;  // the n-th Send throws (once)
    // Sends refuseFrom to refuseTo (counted from 1) are refused: not recorded, 0 taken.
    int refuseFrom = 0;
    int refuseTo = 1 << 30;
    std::function<void(DWORD)> onPause;

private:
    IKeyInput* m_previous;
    int m_sends = 0;
};

// The two events of one press of a plain key, as the sender must make them.
inline std::vector<std::string> KeyPress(UINT vk, bool extended = false)
{
    UINT scan = MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC, nullptr) & 0xFF;
    char down[32], up[32];
    std::snprintf(down, sizeof(down), "%02X/%02X down%s", vk, scan, extended ? " ext" : "");
    std::snprintf(up, sizeof(up), "%02X/%02X up%s", vk, scan, extended ? " ext" : "");
    return {down, up};
}
