#include <gtest/gtest.h>

#include "agent/power/ShutdownSeconds.h"

using namespace kx;

TEST(ShutdownSeconds, AcceptsOnlyWholeSecondsFromOneToThirty) {
    EXPECT_EQ(parseShutdownSeconds("1"), 1);
    EXPECT_EQ(parseShutdownSeconds("2"), 2);
    EXPECT_EQ(parseShutdownSeconds("30"), 30);
    for (const char* text : {"", "0", "31", "-1", "2x", " 2", "2 ", "1.5", "abc", "99999999999999999999"}) {
        EXPECT_EQ(parseShutdownSeconds(text), std::nullopt) << '"' << text << '"';
    }
}
