#include <gtest/gtest.h>

#include "tests/e2e/support/InProcessAgent.h"
#include "tests/system/SystemDoubles.h"

using namespace kx;
using namespace kx::test;

// Audio changes reaching the phone are the end-to-end test's, on a real sound server; here what
// has no real source there: the frontmost application, and a change that could not be read.
TEST(SystemEvents, FrontmostChangesReachThePhoneAndUnreadableOnesDoNot) {
    auto audio = std::make_shared<MemoryAudio>();
    auto frontmost = std::make_shared<MemoryFrontmost>();
    e2e::InProcessAgent agent({.configure = [&](AgentServiceOptions& options) {
        options.systemPorts.audio = audio;
        options.frontmost = frontmost;
    }});
    auto phone = agent.connect(agent.addDevice());
    auto nextEvent = [&] { return phone->readEnvelope(std::chrono::milliseconds(300)); };
    ASSERT_TRUE(audio->onChange && frontmost->onChange) << "the service observes once it starts";

    // Without an output nothing was read, so nothing is pushed.
    audio->reading = {};
    audio->onChange();
    EXPECT_FALSE(nextEvent().has_value());

    frontmost->activate(FrontmostApp{"org.example.Terminal", "Terminal"});
    auto event = nextEvent();
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->m, "system.frontmost");
    EXPECT_EQ(event->p, (JSONObject{{"bundleId", "org.example.Terminal"}, {"name", "Terminal"}}));
    frontmost->activate(std::nullopt);
    EXPECT_FALSE(nextEvent().has_value());
}
