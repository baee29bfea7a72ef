#include <gtest/gtest.h>

#include "agent/support/UTF8.h"

using namespace kx;

TEST(UTF8, RepairReplacesEachMalformedSequenceAndKeepsTheRest) {
    EXPECT_TRUE(isValidUTF8("plain \xC3\xA9 \xF0\x9F\x91\x8D"));
    EXPECT_EQ(repairUTF8("ok \xC3\xA9"), "ok \xC3\xA9");
    EXPECT_EQ(repairUTF8("a\xFF"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(repairUTF8("cut \xE2\x82"), "cut \xEF\xBF\xBD");
    // Overlong forms and encoded surrogates are not UTF-8 either.
    EXPECT_FALSE(isValidUTF8("\xC0\xAF"));
    EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));
    EXPECT_TRUE(isValidUTF8(repairUTF8("\xC0\xAF\xED\xA0\x80")));
}
