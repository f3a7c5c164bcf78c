// A test process that ends in its own code before its first line, on its first start only:
// unless "crash-once.started" stands in the working folder, its static constructor ends the
// process the way the command line's "--crash=" asks: "page-fault" (a write through a null
// pointer), "terminate" (an exception out of the constructor), "abort" or "assert".
// scripts/ctest-retry.py must fail such a test, not retry it into a pass.
#undef NDEBUG
#include <windows.h>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <stdexcept>

namespace {

struct CrashOnFirstStart {
    CrashOnFirstStart()
    {
        HANDLE h = CreateFileW(L"crash-once.started", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(h);
        const wchar_t* how = wcsstr(GetCommandLineW(), L"--crash=");
        how = how ? how + 8 : L"page-fault";
        if (wcsncmp(how, L"terminate", 9) == 0)
            throw std::runtime_error("the first start fails");
        if (wcsncmp(how, L"abort", 5) == 0)
            std::abort();
        const bool firstStart = true;
        if (wcsncmp(how, L"assert", 6) == 0)
            assert(!firstStart);
        *static_cast<int* volatile>(nullptr) = 1;
    }
} crashOnFirstStart;

} // namespace

int main()
{
    std::puts("ok");
    return 0;
}
