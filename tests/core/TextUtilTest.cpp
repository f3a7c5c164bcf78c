#include <gtest/gtest.h>
#include "core/TextUtil.h"

TEST(Version, ParsesAndPrintsSettingsVersion)
{
    PackedVersion v = 0;
    ASSERT_TRUE(ParseVersion(L"1.6", v));
    EXPECT_EQ(0x0601u, v);
    EXPECT_EQ(L"1.6", VersionToString(v));
}
