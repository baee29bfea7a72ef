#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "agent/power/CountdownRelay.h"
#include "agent/power/ShutdownCountdown.h"
#include "agent/power/ShutdownSeconds.h"
#include "tests/power/PowerDoubles.h"

using namespace kx;
using namespace kx::testing;

namespace {

using Snapshot = ShutdownCountdown::Snapshot;

void returnAtOnce(std::stop_token) {}

std::vector<int> fallingFrom(int first, int last) {
    std::vector<int> counts(first - last + 1);
    std::iota(counts.rbegin(), counts.rend(), last);
    return counts;
}

std::vector<int> concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct CountdownFixture : ::testing::Test {
    std::shared_ptr<RecordingExecutor> executor = std::make_shared<RecordingExecutor>();
    std::shared_ptr<SnapshotRecorder> recorder = std::make_shared<SnapshotRecorder>();
    std::shared_ptr<TickGate> gate = TickGate::make();

    std::shared_ptr<ShutdownCountdown> make(int seconds, ShutdownCountdown::Sleeper sleeper) {
        auto countdown = ShutdownCountdown::make(executor, seconds, std::move(sleeper));
        countdown->setOnChange(recorder->observer());
        return countdown;
    }
    std::shared_ptr<ShutdownCountdown> gated(int seconds = ShutdownCountdown::defaultSeconds) {
        return make(seconds, TickGate::sleeper(gate));
    }
};

}  // namespace

TEST_F(CountdownFixture, FullCountdownPublishesEveryCountThenPerformsOnce) {
    auto countdown = make(ShutdownCountdown::defaultSeconds, returnAtOnce);
    countdown->start(ShutdownAction::restart, "Pixel");
    ASSERT_TRUE(executor->waitForCount(1));
    ASSERT_TRUE(recorder->waitForCount(31));
    EXPECT_FALSE(countdown->current().has_value());
    countdown.reset();

    EXPECT_EQ(recorder->counts(), concat(fallingFrom(30, 1), {0}));
    for (const auto& entry : recorder->entries()) {
        if (!entry) continue;
        EXPECT_EQ(entry->action, ShutdownAction::restart);
        EXPECT_EQ(entry->deviceName, "Pixel");
    }
    EXPECT_EQ(executor->actions(), std::vector{ShutdownAction::restart});
}

TEST_F(CountdownFixture, CancelThenStartCountsAgainFromTheFullLength) {
    auto countdown = gated();
    countdown->start(ShutdownAction::shutdown, "Pixel");
    gate->release(25);
    ASSERT_TRUE(recorder->waitForCount(26));
    ASSERT_EQ(countdown->current()->remaining, 5);

    EXPECT_EQ(countdown->cancel(), (Snapshot{ShutdownAction::shutdown, "Pixel", 5}));
    countdown->start(ShutdownAction::restart, "Tablet");
    EXPECT_EQ(countdown->current(), (Snapshot{ShutdownAction::restart, "Tablet", 30}));
    // More seconds than the new countdown needs: a surviving old ticker would use them too.
    gate->release(40);
    ASSERT_TRUE(executor->waitForCount(1));
    countdown.reset();

    EXPECT_EQ(recorder->counts(), concat(concat(fallingFrom(30, 5), {0}), concat(fallingFrom(30, 1), {0})));
    EXPECT_EQ(executor->actions(), std::vector{ShutdownAction::restart});
}

TEST_F(CountdownFixture, AfterNowOrDroppingTheCountdownTheTickerNeverActs) {
    for (bool now : {true, false}) {
        SCOPED_TRACE(now ? "now" : "dropped");
        gate = TickGate::make();  // no seconds left over from the last round
        auto countdown = gated();
        countdown->start(ShutdownAction::restart, "Pixel");
        ASSERT_TRUE(gate->waitUntilSleeping());
        if (now) {
            EXPECT_EQ(countdown->now(), (Snapshot{ShutdownAction::restart, "Pixel", 30}));
            gate->release(40);  // seconds a surviving ticker would use
        }
        countdown.reset();
        gate->release(40);
        EXPECT_EQ(recorder->counts(), (now ? std::vector{30, 0} : std::vector{30}));
        EXPECT_EQ(executor->actions(), now ? std::vector{ShutdownAction::restart} : std::vector<ShutdownAction>{});
        recorder->clear();
        executor->clear();
    }
}

TEST_F(CountdownFixture, NowRacingTheLastTickStillPerformsOnce) {
    constexpr int kRounds = 50;
    for (int round = 0; round < kRounds; ++round) {
        auto countdown = make(1, returnAtOnce);
        countdown->start(ShutdownAction::shutdown, "Pixel");
        countdown->now();
        ASSERT_TRUE(executor->waitForCount(1));
        countdown.reset();
        EXPECT_EQ(recorder->counts(), (std::vector{1, 0})) << "round " << round;
        EXPECT_EQ(executor->actions().size(), 1u) << "round " << round;
        recorder->clear();
        executor = std::make_shared<RecordingExecutor>();
    }
}

// Cancelling while idle is ShutdownTest's "No shutdown or restart is pending".
TEST_F(CountdownFixture, SecondsBelowOneCountOnceAndCancelOrNowAfterTheEndDoNothing) {
    EXPECT_EQ(make(-5, returnAtOnce)->seconds(), 1);
    auto countdown = make(0, returnAtOnce);
    countdown->start(ShutdownAction::shutdown, "Pixel");
    ASSERT_TRUE(executor->waitForCount(1));
    ASSERT_TRUE(recorder->waitForCount(2));
    EXPECT_EQ(countdown->cancel(), std::nullopt);
    EXPECT_EQ(countdown->now(), std::nullopt);
    countdown.reset();
    EXPECT_EQ(recorder->counts(), (std::vector{1, 0}));
    EXPECT_EQ(executor->actions(), std::vector{ShutdownAction::shutdown});
}

TEST_F(CountdownFixture, ObserversMayCallBackIntoTheCountdown) {
    auto countdown = gated();
    std::weak_ptr<ShutdownCountdown> weak = countdown;
    countdown->setOnChange([recorder = recorder, weak](const std::optional<Snapshot>& snapshot) {
        auto self = weak.lock();
        recorder->record(self->current());
        if (snapshot && snapshot->remaining == 28) self->cancel();
    });
    countdown->start(ShutdownAction::shutdown, "Pixel");
    gate->release(2);
    ASSERT_TRUE(recorder->waitForCount(4));
    EXPECT_EQ(recorder->counts(), (std::vector{30, 29, 28, 0}));

    // The countdown cancelled from its own ticker accepts a new one at once.
    countdown->start(ShutdownAction::restart, "Pixel");
    EXPECT_EQ(countdown->current()->remaining, 30);
    countdown.reset();
    EXPECT_TRUE(executor->actions().empty());
}

TEST_F(CountdownFixture, NowFromTheFirstSnapshotStopsTheNewTicker) {
    auto countdown = make(ShutdownCountdown::defaultSeconds, returnAtOnce);
    std::weak_ptr<ShutdownCountdown> weak = countdown;
    countdown->setOnChange([recorder = recorder, weak](const std::optional<Snapshot>& snapshot) {
        recorder->record(snapshot);
        if (snapshot) weak.lock()->now();
    });
    countdown->start(ShutdownAction::restart, "Pixel");
    countdown.reset();
    EXPECT_EQ(recorder->counts(), (std::vector{30, 0}));
    EXPECT_EQ(executor->actions(), std::vector{ShutdownAction::restart});
}

TEST_F(CountdownFixture, ConcurrentStartsAdmitExactlyOne) {
    constexpr int kCallers = 8;
    auto countdown = gated();
    std::atomic<int> started = 0;
    std::atomic<int> busy = 0;
    {
        std::vector<std::jthread> callers;
        for (int i = 0; i < kCallers; ++i) {
            callers.emplace_back([&] {
                try {
                    countdown->start(ShutdownAction::shutdown, "Pixel");
                    ++started;
                } catch (const ShutdownCountdown::StartError& error) {
                    if (error.which == ShutdownCountdown::StartError::Case::busy) ++busy;
                }
            });
        }
    }
    EXPECT_EQ(started.load(), 1);
    EXPECT_EQ(busy.load(), kCallers - 1);
    EXPECT_EQ(recorder->counts(), std::vector{30});
}

// The restart texts are ShutdownTest's and DesktopShutdownNotifierTest's.
TEST(ShutdownSnapshot, TextsShownToThePersonAtTheComputer) {
    const ShutdownCountdown::Snapshot shutdown{ShutdownAction::shutdown, "your phone", 30};
    EXPECT_EQ(shutdown.message(), "Shutting down in 30 seconds \u2014 requested from your phone");
    EXPECT_EQ(shutdown.nowButtonTitle(), "Shut down now");
}

TEST(ShutdownSeconds, AcceptsOnlyWholeSecondsFromOneToThirty) {
    EXPECT_EQ(parseShutdownSeconds("1"), 1);
    EXPECT_EQ(parseShutdownSeconds("2"), 2);
    EXPECT_EQ(parseShutdownSeconds("30"), 30);
    for (const char* text : {"", "0", "31", "-1", "2x", " 2", "2 ", "1.5", "abc", "99999999999999999999"}) {
        EXPECT_EQ(parseShutdownSeconds(text), std::nullopt) << '"' << text << '"';
    }
}

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
