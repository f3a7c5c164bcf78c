// Which device arrivals concern the program: the USB serial adapters of its readers.
#include <cstdio>
#include <cwchar>
#include <string>

#include "app/MainFrame.h"

namespace {

// The USB serial adapters of the readers: (VID, PID).
constexpr struct {
    unsigned vid, pid;
} kWatchedAdapters[] = {{0x0403, 0x1234}, {0x0403, 0x6001}, {0x2184, 0x0011}, {0x3168, 0x0100}, {0x3168, 0x0106}};

} // namespace

bool IsWatchedSerialAdapter(const wchar_t* interfaceName)
{
    if (!interfaceName)
        return false;
    // Windows writes these names in either case.
    std::wstring name(interfaceName);
    CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    unsigned vid = 0, pid = 0;
    wchar_t rest[9] = {};
    // The adapter's own bus names it "...FTDIBUS#VID_0403+PID_6001+A600XYZA#0000#{...}", the
    // generic USB one "...USB#VID_0403&PID_6001#A600XYZA#{...}"; vendor, product and the
    // serial part must all be there.
    if (swscanf(name.c_str(), L"%*[^#]#VID_%x%*1[&+]PID_%x%*1[+#]%8ls", &vid, &pid, rest) != 3)
        return false;
    for (const auto& a : kWatchedAdapters) {
        if (a.vid == vid && a.pid == pid)
            return true;
    }
    return false;
}
