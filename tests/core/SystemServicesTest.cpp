// Which system services are in force: a test's stand-in over the application's over the
// system's own, each gone again with its scope, also when the scope is left by an exception.
#include <gtest/gtest.h>

#include <stdexcept>

#include "core/SystemServices.h"
#include "tests/support/FakeSystemServices.h"

namespace {

// An application's services that only tell their clock apart.
class CMarkedServices final : public CSystemServices
{
public:
    explicit CMarkedServices(__time64_t mark) : m_mark(mark) {}
    __time64_t CurrentTime() override { return m_mark; }

private:
    __time64_t m_mark;
};

} // namespace

TEST(SystemServices, ScopedSwapRestoresTheRealServicesWhenTheTestThrows)
{
    ISystemServices* real = &SystemServices();
    EXPECT_THROW(
        {
            CFakeSystemServices fake;
            fake.currentTime = [] { return __time64_t{42}; };
            EXPECT_EQ(&fake, &SystemServices());
            EXPECT_EQ(42, SystemServices().CurrentTime());
            throw std::runtime_error("test failed halfway");
        },
        std::runtime_error);
    EXPECT_EQ(real, &SystemServices());
    EXPECT_GT(SystemServices().CurrentTime(), 1700000000);
}

TEST(SystemServices, StandInsNestAndWhatTheyLeaveUnsetGoesBelow)
{
    ISystemServices* before = &SystemServices();
    {
        CMarkedServices application(7);
        ISystemServices* previous = SetApplicationSystemServices(&application);
        EXPECT_EQ(&application, &SystemServices());
        {
            CFakeSystemServices outer;
            outer.programPath = [] { return std::wstring(L"C:\\outer\\Norvane.exe"); };
            {
                CFakeSystemServices inner;
                inner.currentTime = [] { return __time64_t{9}; };
                EXPECT_EQ(9, SystemServices().CurrentTime());
                EXPECT_EQ(L"C:\\outer\\Norvane.exe", SystemServices().ProgramPath());
            }
            EXPECT_EQ(&outer, &SystemServices());
            EXPECT_EQ(7, SystemServices().CurrentTime()) << "unset: the application's";
        }
        // A stand-in stays over the application's even when the application comes later.
        CFakeSystemServices fake;
        CMarkedServices later(8);
        SetApplicationSystemServices(&later);
        EXPECT_EQ(&fake, &SystemServices());
        EXPECT_EQ(8, SystemServices().CurrentTime());
        SetApplicationSystemServices(previous);
    }
    EXPECT_EQ(before, &SystemServices());
}
