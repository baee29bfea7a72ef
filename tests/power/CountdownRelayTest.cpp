#include <gtest/gtest.h>

#include "agent/power/CountdownRelay.h"
#include "tests/power/PowerDoubles.h"

using namespace kx;
using namespace kx::testing;

TEST(CountdownRelay, LateCallbacksNeverBringBackAnEndedCountdown) {
    auto gate = TickGate::make();
    auto countdown = ShutdownCountdown::make(std::make_shared<RecordingExecutor>(), 30, TickGate::sleeper(gate));
    auto shown = std::make_shared<SnapshotRecorder>();
    auto relay = CountdownRelay::attach(countdown, {shown->observer()});

    countdown->start(ShutdownAction::restart, "Pixel");
    gate->release(1);
    ASSERT_TRUE(shown->waitForCount(2));
    countdown->cancel();
    // A tick's callback that was overtaken by the cancel arrives last.
    relay->changed();
    relay->changed();
    EXPECT_EQ(shown->counts(), (std::vector{30, 29, 0}));

    countdown->start(ShutdownAction::shutdown, "Tablet");
    EXPECT_EQ(shown->entries().back(), countdown->current());
}
