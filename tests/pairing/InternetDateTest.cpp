#include <gtest/gtest.h>

#include "agent/pairing/InternetDate.h"

using namespace kx;

TEST(InternetDateTest, WritesTheUTCFormThatReadsBack) {
    const std::pair<const char*, const char*> dates[] = {
        {"2026-01-05T11:00:00+01:00", "2026-01-05T10:00:00Z"},
        {"2016-12-31T23:59:60Z", "2017-01-01T00:00:00Z"},
        {"1677-09-22T00:00:00Z", "1677-09-22T00:00:00Z"},
        {"2262-04-10T23:59:59Z", "2262-04-10T23:59:59Z"},
    };
    for (const auto& [text, written] : dates) {
        auto time = parseInternetDate(text);
        ASSERT_TRUE(time) << text;
        EXPECT_EQ(formatInternetDate(*time), written);
        EXPECT_EQ(parseInternetDate(written), time);
    }
}

TEST(InternetDateTest, RefusesTimesTheClockCannotHold) {
    // The system clock counts nanoseconds: years 1677 to 2262. Nothing may wrap around to another time.
    for (const char* text : {"0999-06-01T00:00:00Z", "1677-09-21T00:00:00Z", "2262-04-12T00:00:00Z",
                             "0000-01-01T00:00:00+00:01", "9999-12-31T23:59:60Z"})
        EXPECT_FALSE(parseInternetDate(text)) << text;
}
