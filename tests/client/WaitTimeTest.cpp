#include <gtest/gtest.h>

#include <limits>

#include "client/ClientError.h"
#include "client/WaitTime.h"

using namespace kx;

TEST(WaitTime, AcceptsSecondsUpToTheLimitAndRefusesTheRest) {
    EXPECT_EQ(waitFromSeconds(0.25), std::chrono::milliseconds(250));
    EXPECT_EQ(waitFromSeconds(0.0001), std::chrono::milliseconds(1));
    EXPECT_EQ(waitFromSeconds(maxWaitSeconds), std::chrono::seconds(static_cast<int>(maxWaitSeconds)));

    constexpr double infinity = std::numeric_limits<double>::infinity();
    for (double refused :
         {1e308, infinity, -infinity, std::numeric_limits<double>::quiet_NaN(), 0.0, -1.0, maxWaitSeconds + 1}) {
        try {
            waitFromSeconds(refused);
            ADD_FAILURE() << refused << " accepted";
        } catch (const ClientError& error) {
            EXPECT_NE(std::string(error.what()).find("--timeout"), std::string::npos);
        }
    }
}
