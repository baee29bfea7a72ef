#include <gtest/gtest.h>

#include "agent/update/AgentVersion.h"

using namespace kx;

namespace {
AgentVersion v(const char* text) {
    auto version = AgentVersion::parse(text);
    EXPECT_TRUE(version.has_value()) << text;
    return version.value_or(AgentVersion{});
}
}  // namespace

TEST(AgentVersion, AcceptsOnlyThreeShortDecimalComponentsWithOptionalDevSuffix) {
    EXPECT_EQ(v("01.2.3"), v("1.2.3"));
    EXPECT_EQ(v("01.2.3").description(), "1.2.3");
    EXPECT_EQ(v("1.4.0-dev").description(), "1.4.0-dev");
    EXPECT_EQ(v("999999999.0.0").components[0], 999999999);
    for (const char* bad : {"1.2", "1.2.3.4", "1.2.3-DEV", "1.2.3-beta", "v1.2.3", " 1.2.3", "1.2.3 ", "1..3", "1.2.",
                            "1234567890.0.0", "1.2.-3", "1.2.+3", "-dev", "", "1.2.3-dev-dev"}) {
        EXPECT_FALSE(AgentVersion::parse(bad).has_value()) << bad;
    }
}

TEST(AgentVersion, OrdersNumericallyWithDevelopmentBuildsFirst) {
    EXPECT_LT(v("1.2.3"), v("1.2.4"));
    EXPECT_LT(v("1.2.4"), v("1.10.0"));
    EXPECT_LT(v("1.9.9"), v("2.0.0"));
    EXPECT_LT(v("2.0.0-dev"), v("2.0.0"));
    EXPECT_LT(v("2.0.0"), v("2.0.1-dev"));
    EXPECT_LT(v("1.99.0"), v("2.0.0-dev"));
    EXPECT_NE(v("1.4.0-dev"), v("1.4.0"));
    EXPECT_GE(v("1.4.0"), v("1.4.0"));
    EXPECT_FALSE(v("1.4.0") < v("1.4.0"));
}
