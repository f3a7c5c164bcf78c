// A test process that crashes in its own code before its first line, on its first start only:
// its static constructor writes through a null pointer unless "crash-once.started" stands in
// the working folder. scripts/ctest-retry.py must fail such a test, not retry it into a pass.
#include <windows.h>
#include <cstdio>

namespace {

struct CrashOnFirstStart {
    CrashOnFirstStart()
    {
        HANDLE h = CreateFileW(L"crash-once.started", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(h);
        *static_cast<int* volatile>(nullptr) = 1;
    }
} crashOnFirstStart;

} // namespace

int main()
{
    std::puts("ok");
    return 0;
}
