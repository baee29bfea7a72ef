#include <gtest/gtest.h>

#include "tests/e2e/support/AgentProcess.h"

using namespace kx::e2e;

// The second agent has a runtime folder of its own, so its control socket would not collide:
// the data folder's lock alone turns it away, naming the process that holds the folder.
TEST(OneAgentPerFolder, SecondAgentNamesTheHolderAndExitsNonZero) {
    AgentProcess first;
    AgentProcess second({.waitUntilListening = false, .dataFolder = first.dataFolder()});
    EXPECT_EQ(second.waitForExit(), 1);
    EXPECT_TRUE(has(second.errorOutput(), "another agent is already running for data folder " +
                                              first.dataFolder().string() + " (process " + std::to_string(first.pid()) +
                                              ")"))
        << second.errorOutput();
    EXPECT_EQ(first.stop(), 0);
    // Once the holder has ended, the folder is free again.
    AgentProcess third({.dataFolder = first.dataFolder()});
    EXPECT_GT(third.port(), 0);
}
