#include <gtest/gtest.h>

#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/InProcessAgent.h"

using namespace kx;
using e2e::eventually;

// The time of a connection is known at once; the file takes the first one at once, later ones
// at the pace of the recorder, and whatever is left when the agent stops.
TEST(LastSeen, FirstConnectionIsWrittenAtOnceTheNextAtTheRecordersPaceTheLastAtStop) {
    e2e::InProcessAgent agent;
    auto device = agent.addDevice();
    auto registry = agent.service().registry().url();
    ASSERT_TRUE(registry);
    // The file keeps whole seconds.
    auto onDisk = [&] { return DeviceRegistry(*registry).device(device.id)->lastSeen; };
    auto inMemory = [&] {
        return std::chrono::floor<std::chrono::seconds>(*agent.service().registry().device(device.id)->lastSeen);
    };

    agent.connect(device);
    auto first = inMemory();
    EXPECT_TRUE(eventually([&] { return onDisk() == first; }));

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    agent.connect(device);
    auto second = inMemory();
    ASSERT_GT(second, first);
    EXPECT_EQ(onDisk(), first);  // within the recorder's interval of the first write
    agent.service().stop();
    EXPECT_EQ(onDisk(), second);
}
